#include "FPixelProc2.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <immintrin.h>
#include <vector>

#include "CreateColorSpaceWhitePoint.h"
#include "FException.h"
#include "FGlobalLUTsClass.h"
#include "FPixelAccessors.h"

namespace
{

constexpr double kLumaRed = 0.3;
constexpr double kLumaGreen = 0.55;
constexpr double kLumaBlue = 0.15;

constexpr int kStage2Low = -500;
constexpr int kStage2High = 24000;
// The lowest index of the shared cube and cube-root tables' negative part.
constexpr int32_t kCubeTableBottom = -4096;

// The cube-root table sizes and image sizes for which its tone is looked up per image.
constexpr int32_t kMaxFusedRoot = 1 << 20;
constexpr int64_t kFuseMinPixels = 1 << 18;

// Largest |k + 1| honoured for the detail gain; keeps the Q14 product in 64 bits.
constexpr double kMaxDetailGain = 64.0;
constexpr int kMaxDarkHistogramHalf = 200;

double Luma(const FDoubleRGB& c)
{
    return kLumaRed * c.r + kLumaGreen * c.g + kLumaBlue * c.b;
}

FColorMatrix WorkingFromXYZ()
{
    FColorMatrix w;
    CreateColorSpaceWhitePoint(w, kColorSpaceWorking, kPcsWhiteD65);
    return w;
}

int32_t Clamp16(int64_t v)
{
    return static_cast<int32_t>(std::clamp<int64_t>(v, INT16_MIN, INT16_MAX));
}

int32_t Q13Row(const FColorMatrixFixed& m, int i, int32_t r, int32_t g, int32_t b)
{
    const int64_t dot = static_cast<int64_t>(m.m[i][0]) * r + static_cast<int64_t>(m.m[i][1]) * g +
                        static_cast<int64_t>(m.m[i][2]) * b + 4096;
    return static_cast<int32_t>(std::clamp<int64_t>(dot >> 13, INT32_MIN, INT32_MAX));
}

int64_t DetailQ14(double detailGain)
{
    if (!std::isfinite(detailGain))
        detailGain = 1.0;
    detailGain = std::clamp(detailGain, -kMaxDetailGain, kMaxDetailGain);
    return static_cast<int64_t>(detailGain * 16384.0);
}

struct CubeTables {
    const FLUT* cube = nullptr;
    const FLUT* cubeRoot = nullptr;
    // Optional, for the wide loop: per channel, the tone entry of each cube-root entry,
    // tone[cubeRoot[i] & tone mask], indexed as the cube-root table is.
    const int16_t* toneOfRoot[3] = {nullptr, nullptr, nullptr};
};

CubeTables FetchCubeTables()
{
    CubeTables t;
    t.cubeRoot = FGlobalLUTsClass::GetCubeRootLUT();
    t.cube = FGlobalLUTsClass::GetCubeLUT();
    return t;
}

int32_t Q13Clamp16(const FColorMatrixFixed& m, int i, int32_t r, int32_t g, int32_t b)
{
    const int64_t dot = static_cast<int64_t>(m.m[i][0]) * r + static_cast<int64_t>(m.m[i][1]) * g +
                        static_cast<int64_t>(m.m[i][2]) * b + 4096;
    return Clamp16(dot >> 13);
}

inline int32_t SoftToeValue(int32_t c, int32_t M)
{
    const int32_t a = std::max(32, 512 - (M >> 1));
    // Both branches are computed so that the choice compiles to selects, not jumps.
    const int64_t u = static_cast<int64_t>(c) + a + 512;
    const int32_t toe = u < 0 ? -a : static_cast<int32_t>((u * u) >> 11) - a;
    return c >= 512 - a ? c : toe;
}

// One pixel from the stage-3 value to the transfer-table codes. Every index is held to
// the signed 16-bit range before masking, so that bright saturated colours clip at the
// top of the table instead of wrapping round into its negative half (black).
template <bool kRetinex, bool kSoftToe, class Store>
void ConvertRowFor(const int16_t* src, const int16_t* lRow, const int16_t* retinexRow, int64_t q,
                   const FColorLUT& tone, const FLUT* retinexGain, const FColorMatrixFixed& m,
                   const FLUT& transfer, const CubeTables& cubes, int count, Store store)
{
    // Byte stores into the output may alias anything, so everything the loop reads
    // again is held in locals rather than re-read through the records.
    const int16_t* toneR = tone.m_pRedData;
    const int16_t* toneG = tone.m_pGreenData;
    const int16_t* toneB = tone.m_pBlueData;
    const int32_t toneMask = tone.m_iMask;
    const int16_t* codes = transfer.m_pData;
    const int32_t codeMask = transfer.m_iMask;
    const FColorMatrixFixed k = m;
    for (int i = 0; i < count; ++i) {
        const int16_t* s = src + 3 * static_cast<ptrdiff_t>(i);
        const int64_t d = (static_cast<int64_t>(lRow[i]) * q) >> 14;
        int32_t c[3] = {Clamp16(s[0] + d), Clamp16(s[1] + d), Clamp16(s[2] + d)};
        if constexpr (kRetinex) {
            // The gain (256 = 1.0) multiplies linear light.
            // Both tables cover [-4096, 61439]: anything lower would wrap into their bright
            // top, so it is held at the bottom, where both read black.
            const int64_t gain = retinexGain->Get(retinexRow[i]);
            for (int32_t& v : c) {
                const int64_t linear = cubes.cube->Get(std::max(v, kCubeTableBottom)) * gain;
                v = cubes.cubeRoot->Get(std::max(Clamp16(linear >> 8), kCubeTableBottom));
            }
        }
        const int32_t r = toneR[c[0] & toneMask];
        const int32_t g = toneG[c[1] & toneMask];
        const int32_t b = toneB[c[2] & toneMask];
        int32_t o[3] = {Q13Clamp16(k, 0, r, g, b), Q13Clamp16(k, 1, r, g, b), Q13Clamp16(k, 2, r, g, b)};
        if constexpr (kSoftToe) {
            const int32_t M = std::max({o[0], o[1], o[2]});
            for (int32_t& v : o)
                v = SoftToeValue(v, M);
        }
        store(i, static_cast<uint16_t>(codes[o[0] & codeMask]), static_cast<uint16_t>(codes[o[1] & codeMask]),
              static_cast<uint16_t>(codes[o[2] & codeMask]));
    }
}

// --- The same conversion eight pixels at a time (AVX2), in 32-bit lanes. It is used only
// where every 64-bit product and sum of the scalar loop provably fits 32 bits, so that its
// results are the scalar loop's bit for bit.

// |l x q| < 2^31 for every 16-bit l.
bool DetailFits32(int64_t q)
{
    return q > -65536 && q < 65536;
}

// Every row's dot product with 16-bit values, plus the rounding, stays below 2^31.
bool MatrixFits32(const FColorMatrixFixed& m)
{
    for (const auto& row : m.m) {
        int64_t s = 0;
        for (int32_t v : row)
            s += std::abs(static_cast<int64_t>(v));
        if (s * 32768 + 4096 >= (int64_t(1) << 31))
            return false;
    }
    return true;
}

bool HasAvx2()
{
    static const bool has = __builtin_cpu_supports("avx2");
    return has;
}

// Clang ignores GCC's target pragma; it takes the target per function instead.
#ifdef __clang__
#pragma clang attribute push(__attribute__((target("avx2"))), apply_to = function)
#else
#pragma GCC push_options
#pragma GCC target("avx2")
#endif
namespace wide
{

struct Table {
    const int16_t* data = nullptr;
    int32_t mask = 0;
};

// Entries at eight indices, masked to the table and sign-extended. Plain loads: on the
// machines measured they beat the gather instruction here.
inline __m256i Gather(const Table& t, __m256i index)
{
    alignas(32) int32_t at[8];
    _mm256_store_si256(reinterpret_cast<__m256i*>(at), _mm256_and_si256(index, _mm256_set1_epi32(t.mask)));
    const int16_t* d = t.data;
    return _mm256_setr_epi32(d[at[0]], d[at[1]], d[at[2]], d[at[3]], d[at[4]], d[at[5]], d[at[6]], d[at[7]]);
}

inline __m256i Clamp16(__m256i v)
{
    return _mm256_min_epi32(_mm256_max_epi32(v, _mm256_set1_epi32(INT16_MIN)), _mm256_set1_epi32(INT16_MAX));
}

inline __m256i Load8(const int16_t* p)
{
    return _mm256_cvtepi16_epi32(_mm_loadu_si128(reinterpret_cast<const __m128i*>(p)));
}

inline __m256i Q13Clamp16(const FColorMatrixFixed& m, int i, __m256i r, __m256i g, __m256i b)
{
    __m256i dot = _mm256_mullo_epi32(r, _mm256_set1_epi32(m.m[i][0]));
    dot = _mm256_add_epi32(dot, _mm256_mullo_epi32(g, _mm256_set1_epi32(m.m[i][1])));
    dot = _mm256_add_epi32(dot, _mm256_mullo_epi32(b, _mm256_set1_epi32(m.m[i][2])));
    dot = _mm256_add_epi32(dot, _mm256_set1_epi32(4096));
    return Clamp16(_mm256_srai_epi32(dot, 13));
}

// SoftToeValue: where the toe applies, c + a + 512 is below 1024, and below 0 it gives -a,
// as 0 does; so the square is taken of that sum held to [0, 1023].
inline __m256i SoftToe(__m256i c, __m256i M)
{
    const __m256i a = _mm256_max_epi32(_mm256_set1_epi32(32),
                                       _mm256_sub_epi32(_mm256_set1_epi32(512), _mm256_srai_epi32(M, 1)));
    const __m256i u =
        _mm256_min_epi32(_mm256_max_epi32(_mm256_add_epi32(_mm256_add_epi32(c, a), _mm256_set1_epi32(512)),
                                          _mm256_setzero_si256()),
                         _mm256_set1_epi32(1023));
    const __m256i toe = _mm256_sub_epi32(_mm256_srai_epi32(_mm256_mullo_epi32(u, u), 11), a);
    // c >= 512 - a keeps c.
    const __m256i useToe = _mm256_cmpgt_epi32(_mm256_sub_epi32(_mm256_set1_epi32(512), a), c);
    return _mm256_blendv_epi8(c, toe, useToe);
}

struct RowTables {
    Table toneR, toneG, toneB, codes, gain, cube, cubeRoot;
    // Where 32-bit BGRA output goes directly, or null for the row's own store.
    uint8_t* bgra = nullptr;
    // Tone of cube root per channel (CubeTables::toneOfRoot), or null data.
    Table rootToneR, rootToneG, rootToneB;
};

// Pixels [0, count - count % 8) of the row; the transfer codes go to `store` as in the scalar
// loop. Returns how many pixels it did.
template <bool kRetinex, bool kSoftToe, class Store>
int ConvertRowFor(const int16_t* src, const int16_t* lRow, const int16_t* retinexRow, int64_t q,
                  const RowTables& t, const FColorMatrixFixed& m, int count, Store store)
{
    const __m256i q32 = _mm256_set1_epi32(static_cast<int32_t>(q));
    const __m256i bottom = _mm256_set1_epi32(kCubeTableBottom);
    const __m256i lowHalf = _mm256_set1_epi32(0xFFFF);
    alignas(32) int32_t out[3][8];
    uint8_t* const bgra = t.bgra;
    int i = 0;
    for (; i + 8 <= count; i += 8) {
        const int16_t* p = src + 3 * static_cast<ptrdiff_t>(i);
        const __m256i s0 = _mm256_setr_epi32(p[0], p[3], p[6], p[9], p[12], p[15], p[18], p[21]);
        const __m256i s1 = _mm256_setr_epi32(p[1], p[4], p[7], p[10], p[13], p[16], p[19], p[22]);
        const __m256i s2 = _mm256_setr_epi32(p[2], p[5], p[8], p[11], p[14], p[17], p[20], p[23]);
        const __m256i d = _mm256_srai_epi32(_mm256_mullo_epi32(Load8(lRow + i), q32), 14);
        __m256i c[3] = {Clamp16(_mm256_add_epi32(s0, d)), Clamp16(_mm256_add_epi32(s1, d)),
                        Clamp16(_mm256_add_epi32(s2, d))};
        __m256i r, g, b;
        if constexpr (kRetinex) {
            const __m256i gain = Gather(t.gain, Load8(retinexRow + i));
            for (__m256i& v : c) {
                const __m256i linear = _mm256_mullo_epi32(Gather(t.cube, _mm256_max_epi32(v, bottom)), gain);
                v = _mm256_max_epi32(Clamp16(_mm256_srai_epi32(linear, 8)), bottom);
            }
            if (t.rootToneR.data != nullptr) {
                r = Gather(t.rootToneR, c[0]);
                g = Gather(t.rootToneG, c[1]);
                b = Gather(t.rootToneB, c[2]);
            } else {
                r = Gather(t.toneR, Gather(t.cubeRoot, c[0]));
                g = Gather(t.toneG, Gather(t.cubeRoot, c[1]));
                b = Gather(t.toneB, Gather(t.cubeRoot, c[2]));
            }
        } else {
            r = Gather(t.toneR, c[0]);
            g = Gather(t.toneG, c[1]);
            b = Gather(t.toneB, c[2]);
        }
        __m256i o[3] = {Q13Clamp16(m, 0, r, g, b), Q13Clamp16(m, 1, r, g, b), Q13Clamp16(m, 2, r, g, b)};
        if constexpr (kSoftToe) {
            const __m256i M = _mm256_max_epi32(o[0], _mm256_max_epi32(o[1], o[2]));
            for (__m256i& v : o)
                v = SoftToe(v, M);
        }
        const __m256i codes[3] = {Gather(t.codes, o[0]), Gather(t.codes, o[1]), Gather(t.codes, o[2])};
        if (bgra != nullptr) {
            // The low byte of each code, as B, G, R, 255.
            const __m256i low = _mm256_set1_epi32(0xFF);
            __m256i v =
                _mm256_or_si256(_mm256_and_si256(codes[2], low), _mm256_set1_epi32(int32_t(0xFF000000u)));
            v = _mm256_or_si256(v, _mm256_slli_epi32(_mm256_and_si256(codes[1], low), 8));
            v = _mm256_or_si256(v, _mm256_slli_epi32(_mm256_and_si256(codes[0], low), 16));
            _mm256_storeu_si256(reinterpret_cast<__m256i*>(bgra + 4 * static_cast<ptrdiff_t>(i)), v);
            continue;
        }
        for (int k = 0; k < 3; ++k)
            _mm256_store_si256(reinterpret_cast<__m256i*>(out[k]), _mm256_and_si256(codes[k], lowHalf));
        for (int j = 0; j < 8; ++j)
            store(i + j, out[0][j], out[1][j], out[2][j]);
    }
    return i;
}

} // namespace wide
#ifdef __clang__
#pragma clang attribute pop
#else
#pragma GCC pop_options
#endif

// The wide loop's share of a row, or 0 where it cannot give the scalar loop's results.
template <class Store>
int ConvertRowWide(const int16_t* src, const int16_t* lRow, const int16_t* retinexRow, int64_t q,
                   const FColorLUT& tone, const FLUT* retinexGain, const FColorMatrixFixed& m,
                   const FLUT& transfer, bool retinex, bool softToe, const CubeTables& cubes, int count,
                   Store store, uint8_t* bgra)
{
    if (count < 8 || !HasAvx2() || !DetailFits32(q) || !MatrixFits32(m))
        return 0;
    const auto table = [](const int16_t* data, int32_t mask) { return wide::Table{data, mask}; };
    wide::RowTables t{table(tone.m_pRedData, tone.m_iMask),
                      table(tone.m_pGreenData, tone.m_iMask),
                      table(tone.m_pBlueData, tone.m_iMask),
                      table(transfer.m_pData, transfer.m_iMask),
                      {},
                      {},
                      {},
                      bgra,
                      {},
                      {},
                      {}};
    if (retinex) {
        t.gain = table(retinexGain->m_pData, retinexGain->m_iMask);
        t.cube = table(cubes.cube->m_pData, cubes.cube->m_iMask);
        t.cubeRoot = table(cubes.cubeRoot->m_pData, cubes.cubeRoot->m_iMask);
        if (cubes.toneOfRoot[0] != nullptr) {
            t.rootToneR = table(cubes.toneOfRoot[0], cubes.cubeRoot->m_iMask);
            t.rootToneG = table(cubes.toneOfRoot[1], cubes.cubeRoot->m_iMask);
            t.rootToneB = table(cubes.toneOfRoot[2], cubes.cubeRoot->m_iMask);
        }
    }
    if (retinex && softToe)
        return wide::ConvertRowFor<true, true>(src, lRow, retinexRow, q, t, m, count, store);
    if (retinex)
        return wide::ConvertRowFor<true, false>(src, lRow, retinexRow, q, t, m, count, store);
    if (softToe)
        return wide::ConvertRowFor<false, true>(src, lRow, retinexRow, q, t, m, count, store);
    return wide::ConvertRowFor<false, false>(src, lRow, retinexRow, q, t, m, count, store);
}

// The flags are fixed for a row, so each combination gets its own loop.
template <class Store>
void ConvertRowScalar(const int16_t* src, const int16_t* lRow, const int16_t* retinexRow, int64_t q,
                      const FColorLUT& tone, const FLUT* retinexGain, const FColorMatrixFixed& m,
                      const FLUT& transfer, bool retinex, bool softToe, const CubeTables& cubes, int count,
                      Store store)
{
    if (retinex && softToe)
        ConvertRowFor<true, true>(src, lRow, retinexRow, q, tone, retinexGain, m, transfer, cubes, count,
                                  store);
    else if (retinex)
        ConvertRowFor<true, false>(src, lRow, retinexRow, q, tone, retinexGain, m, transfer, cubes, count,
                                   store);
    else if (softToe)
        ConvertRowFor<false, true>(src, lRow, retinexRow, q, tone, retinexGain, m, transfer, cubes, count,
                                   store);
    else
        ConvertRowFor<false, false>(src, lRow, retinexRow, q, tone, retinexGain, m, transfer, cubes, count,
                                    store);
}

template <class Store>
void ConvertRow(const int16_t* src, const int16_t* lRow, const int16_t* retinexRow, double detailGain,
                const FColorLUT& tone, const FLUT* retinexGain, const FColorMatrixFixed& m,
                const FLUT& transfer, bool softToe, const CubeTables& cubes, int count, Store store,
                uint8_t* bgra = nullptr)
{
    const int64_t q = DetailQ14(detailGain);
    const bool retinex = retinexRow != nullptr && cubes.cube != nullptr && cubes.cubeRoot != nullptr;
    const int done = ConvertRowWide(src, lRow, retinexRow, q, tone, retinexGain, m, transfer, retinex,
                                    softToe, cubes, count, store, bgra);
    // The rest of the row through the scalar loop, its outputs placed after the wide part.
    auto after = [&store, done](int i, int32_t r, int32_t g, int32_t b) { store(i + done, r, g, b); };
    ConvertRowScalar(src + 3 * static_cast<ptrdiff_t>(done), lRow + done,
                     retinexRow != nullptr ? retinexRow + done : nullptr, q, tone, retinexGain, m, transfer,
                     retinex, softToe, cubes, count - done, after);
}

void Row32BGRA(const int16_t* src, const int16_t* lRow, const int16_t* retinexRow, double detailGain,
               const FColorLUT& tone, const FLUT* retinexGain, const FColorMatrixFixed& m,
               const FLUT& transfer, bool softToe, const CubeTables& cubes, uint8_t* out, int count)
{
    ConvertRow(
        src, lRow, retinexRow, detailGain, tone, retinexGain, m, transfer, softToe, cubes, count,
        [out](int i, int32_t r, int32_t g, int32_t b) { FIntRGB(r, g, b).ToBGRA(out + 4 * i); }, out);
}

void Row24RGB(const int16_t* src, const int16_t* lRow, const int16_t* retinexRow, double detailGain,
              const FColorLUT& tone, const FLUT* retinexGain, const FColorMatrixFixed& m,
              const FLUT& transfer, bool softToe, const CubeTables& cubes, uint8_t* out, int count)
{
    ConvertRow(src, lRow, retinexRow, detailGain, tone, retinexGain, m, transfer, softToe, cubes, count,
               [out](int i, int32_t r, int32_t g, int32_t b) { SetRGB24(out + 3 * i, FIntRGB(r, g, b)); });
}

void Row48RGB(const int16_t* src, const int16_t* lRow, const int16_t* retinexRow, double detailGain,
              const FColorLUT& tone, const FLUT* retinexGain, const FColorMatrixFixed& m,
              const FLUT& transfer, bool softToe, const CubeTables& cubes, uint16_t* out, int count)
{
    ConvertRow(src, lRow, retinexRow, detailGain, tone, retinexGain, m, transfer, softToe, cubes, count,
               [out](int i, int32_t r, int32_t g, int32_t b) { SetRGB48(out + 3 * i, FIntRGB(r, g, b)); });
}

// A retinex row without a gain table is ignored rather than read through a null table.
const int16_t* UsableRetinexRow(const int16_t* retinexRow, const FLUT* retinexGain)
{
    return retinexGain != nullptr && retinexGain->m_pData != nullptr ? retinexRow : nullptr;
}

CubeTables CubesForRow(const int16_t* retinexRow)
{
    return retinexRow != nullptr ? FetchCubeTables() : CubeTables{};
}

int32_t CoringClamp(int32_t v, int32_t m)
{
    return std::clamp(v, -m, m);
}

// Steps 1 to 4 of the stage-2 transform: offsets, then coring on each channel and on
// each channel's difference from the luma estimate.
void CorePixel(const int16_t* p, const FColorLUT& t, int32_t m, int oR, int oG, int oB, int32_t x2[3])
{
    const int32_t x[3] = {p[0] - oR, p[1] - oG, p[2] - oB};
    const int16_t* tables[3] = {t.m_pRedData, t.m_pGreenData, t.m_pBlueData};
    int32_t x1[3];
    for (int c = 0; c < 3; ++c)
        x1[c] = x[c] - tables[c][CoringClamp(x[c], m) & t.m_iMask];
    const int32_t y = (x1[0] + 2 * x1[1] + x1[2]) >> 2;
    for (int c = 0; c < 3; ++c)
        x2[c] = x1[c] - tables[c][CoringClamp(x1[c] - y, m) & t.m_iMask];
}

int32_t CoringLimit(const FColorLUT& t)
{
    return std::max<int32_t>(0, static_cast<int16_t>(t.m_iSize / 2 - 1));
}

void StoreClamped(int16_t* p, const FColorMatrixFixed& matrix, const int32_t x2[3], int low, int high)
{
    for (int i = 0; i < 3; ++i)
        p[i] = static_cast<int16_t>(std::clamp(Q13Row(matrix, i, x2[0], x2[1], x2[2]), low, high));
}

void CheckToneTables(const FColorLUT& tone, const FLUT& transfer)
{
    if (tone.m_pRedData == nullptr || tone.m_pGreenData == nullptr || tone.m_pBlueData == nullptr ||
        tone.m_iSize <= 0 || transfer.m_pData == nullptr || transfer.m_iSize <= 0)
        throw FExceptionPixelProc2("FPixelProc2::ProcessToOutput: missing lookup table.");
}

} // namespace

FColorMatrix SaturationMatrix(double t)
{
    const double d = 1.0 - 2.0 * t;
    FColorMatrix s;
    s.Set(d, t, t, t, d, t, t, t, d);
    return s;
}

void ComputeWorkingColorMatrix(FColorMatrix& out, const FColorMatrix& camToXYZ, const FDoubleRGB& neutral,
                               double k, double t)
{
    FColorMatrix P = FColorMatrix::Multiply(WorkingFromXYZ(), camToXYZ);
    if (neutral.r >= 0.0 && neutral.g >= 0.0 && neutral.b >= 0.0) {
        FDoubleRGB w = P.Apply(neutral);
        // Raising each component to a quarter of the luma bounds the gains.
        const double y = Luma(w) * 0.25;
        w.Set(std::max(w.r, y), std::max(w.g, y), std::max(w.b, y));
        const double L = Luma(w);
        // A black or undefined neutral cannot be balanced; it leaves P as it is.
        if (w.r > 0.0 && w.g > 0.0 && w.b > 0.0 && std::isfinite(L)) {
            FColorMatrix D;
            D.Set(L / w.r, 0, 0, 0, L / w.g, 0, 0, 0, L / w.b);
            P = FColorMatrix::Multiply(D, P);
        }
    }
    out = FColorMatrix::Multiply(SaturationMatrix(t), P).ScaledCopy(k);
}

void ComputeOutputMatrix(FColorMatrix& out, int colorSpace, double saturation)
{
    FColorMatrix O;
    CreateColorSpaceWhitePoint(O, colorSpace, kPcsWhiteD65);
    FColorMatrix Winv;
    FColorMatrix::Inverse(Winv, WorkingFromXYZ());
    out = FColorMatrix::Multiply(FColorMatrix::Multiply(O, Winv), SaturationMatrix(-saturation / 6.0));
}

void AverageDarkestPixels(FIntRGB& out, const FPixmapTemplate<FPixelClass48SRGB>& image, double a, double b,
                          double c, int oR, int oG, int oB)
{
    out.Clear();
    const int w = image.GetCols();
    const int r = image.GetRows();
    if (w <= 0 || r <= 0)
        return;
    const int64_t wq = w - w / 10;
    const int64_t rq = r - r / 10;
    const int64_t t = static_cast<int64_t>(static_cast<double>(wq * rq) * 0.0003125); // one in 3200
    if (t < 10)
        return;
    const double g = a + b + c / 2.0;
    if (!(g >= 0.0))
        return;
    const int h = static_cast<int>(std::min(5.0 * g, static_cast<double>(kMaxDarkHistogramHalf)));
    if (h < 1)
        return;

    const int bins = 2 * h - 1;
    std::vector<int64_t> histogram(static_cast<size_t>(bins), 0);
    const auto forEachSample = [&](auto&& visit) {
        for (int y = r / 20; y < r - r / 20; y += 4) {
            const int16_t* row = image.GetRow(y);
            for (int x = w / 20; x < w - w / 20; x += 4) {
                const int16_t* p = row + 3 * static_cast<ptrdiff_t>(x);
                const int32_t R = p[0] - oR;
                const int32_t G = p[1] - oG;
                const int32_t B = p[2] - oB;
                visit(R + G + (B >> 1), R, G, B);
            }
        }
    };
    forEachSample([&](int32_t v, int32_t, int32_t, int32_t) {
        const int64_t bin = static_cast<int64_t>(v) + h - 1;
        if (bin >= 0 && bin < bins)
            ++histogram[static_cast<size_t>(bin)];
    });

    int k = 0;
    int64_t cumulative = histogram[0];
    for (int i = 1; i < bins; ++i) {
        cumulative += histogram[static_cast<size_t>(i)];
        if (cumulative < t)
            k = i;
    }

    const int64_t upper = static_cast<int64_t>(k) + 1 + static_cast<int64_t>(g) - h;
    int64_t sum[3] = {0, 0, 0};
    int64_t n = 0;
    forEachSample([&](int32_t v, int32_t R, int32_t G, int32_t B) {
        if (v > -h && v <= upper) {
            sum[0] += R;
            sum[1] += G;
            sum[2] += B;
            ++n;
        }
    });
    if (n <= 10)
        return;
    // The 200 added to the count pulls the estimate toward 0 when few pixels qualify.
    out.Set(static_cast<int32_t>(sum[0] / (n + 200)), static_cast<int32_t>(sum[1] / (n + 200)),
            static_cast<int32_t>(sum[2] / (n + 200)));
}

namespace
{

constexpr int kRun = 8;
using Lanes = int32_t __attribute__((vector_size(kRun * sizeof(int32_t))));

// One run of up to kRun pixels; lanes past `n` carry zeros and are not stored. Vectors stay
// inside this function: passed between functions they would change the calling convention
// of the copy without wide registers.
[[gnu::always_inline]] inline void ColorTransformRunBody(int16_t* row, int16_t* cored, int n,
                                                         const int32_t* first, const FColorLUT& t,
                                                         int32_t limit, const FColorMatrixFixed& matrix,
                                                         int64_t largestEntry, int32_t low, int32_t high)
{
    alignas(32) int32_t x1[3][kRun] = {};
    alignas(32) int32_t x2[3][kRun];
    alignas(32) int32_t index[3][kRun];
    for (int i = 0; i < n; ++i)
        for (int c = 0; c < 3; ++c)
            x1[c][i] = first[c * 65536 + static_cast<uint16_t>(row[3 * i + c])];
    Lanes v1[3];
    std::memcpy(v1, x1, sizeof(v1));
    const Lanes y = (v1[0] + 2 * v1[1] + v1[2]) >> 2;
    const Lanes lowest = Lanes{} - limit;
    const Lanes highest = Lanes{} + limit;
    for (int c = 0; c < 3; ++c) {
        Lanes d = v1[c] - y;
        d = d < lowest ? lowest : d;
        d = d > highest ? highest : d;
        d &= t.m_iMask;
        std::memcpy(index[c], &d, sizeof(d));
    }
    const int16_t* tables[3] = {t.m_pRedData, t.m_pGreenData, t.m_pBlueData};
    for (int c = 0; c < 3; ++c)
        for (int i = 0; i < kRun; ++i)
            x2[c][i] = x1[c][i] - tables[c][index[c][i]];
    Lanes v2[3];
    std::memcpy(v2, x2, sizeof(v2));
    if (cored != nullptr) {
        const Lanes low16 = Lanes{} + INT16_MIN;
        const Lanes high16 = Lanes{} + INT16_MAX;
        for (int c = 0; c < 3; ++c) {
            Lanes v = v2[c] < low16 ? low16 : v2[c];
            v = v > high16 ? high16 : v;
            for (int i = 0; i < n; ++i)
                cored[3 * i + c] = static_cast<int16_t>(v[i]);
        }
    }
    // Samples stay far inside 32 bits (a 16-bit sample less two 16-bit table entries and
    // an offset), so their magnitudes cannot overflow; the OR is at least the largest. The
    // Q13 dot then fits 32 bits when that times the largest entry does.
    const Lanes magnitude =
        (v2[0] < 0 ? -v2[0] : v2[0]) | (v2[1] < 0 ? -v2[1] : v2[1]) | (v2[2] < 0 ? -v2[2] : v2[2]);
    int32_t widest = 0;
    for (int i = 0; i < kRun; ++i)
        widest |= magnitude[i];
    if (3 * largestEntry * int64_t(widest) + 4096 < (int64_t(1) << 31)) {
        const Lanes lo = Lanes{} + low;
        const Lanes hi = Lanes{} + high;
        for (int k = 0; k < 3; ++k) {
            const int32_t* m = matrix.m[k];
            Lanes v = (m[0] * v2[0] + m[1] * v2[1] + m[2] * v2[2] + 4096) >> 13;
            v = v < lo ? lo : v;
            v = v > hi ? hi : v;
            for (int i = 0; i < n; ++i)
                row[3 * i + k] = static_cast<int16_t>(v[i]);
        }
        return;
    }
    for (int i = 0; i < n; ++i) {
        const int32_t px[3] = {x2[0][i], x2[1][i], x2[2][i]};
        StoreClamped(row + 3 * i, matrix, px, low, high);
    }
}

// A whole row per call, full runs with a constant count so that their loops unroll.
[[gnu::always_inline]] inline void ColorTransformRowBody(int16_t* row, int16_t* cored, int count,
                                                         const int32_t* first, const FColorLUT& t,
                                                         int32_t limit, const FColorMatrixFixed& matrix,
                                                         int64_t largestEntry, int32_t low, int32_t high)
{
    int i = 0;
    for (; i + kRun <= count; i += kRun)
        ColorTransformRunBody(row + 3 * static_cast<ptrdiff_t>(i),
                              cored != nullptr ? cored + 3 * static_cast<ptrdiff_t>(i) : nullptr, kRun, first,
                              t, limit, matrix, largestEntry, low, high);
    if (i < count)
        ColorTransformRunBody(row + 3 * static_cast<ptrdiff_t>(i),
                              cored != nullptr ? cored + 3 * static_cast<ptrdiff_t>(i) : nullptr, count - i,
                              first, t, limit, matrix, largestEntry, low, high);
}

// Chosen by hand rather than by resolver-dispatched clones: those resolve before the thread
// checker starts and crash every program that links this library under it.
[[gnu::target("avx2")]] void ColorTransformRowWide(int16_t* row, int16_t* cored, int count,
                                                   const int32_t* first, const FColorLUT& t, int32_t limit,
                                                   const FColorMatrixFixed& matrix, int64_t largestEntry,
                                                   int32_t low, int32_t high)
{
    ColorTransformRowBody(row, cored, count, first, t, limit, matrix, largestEntry, low, high);
}

void ColorTransformRowPlain(int16_t* row, int16_t* cored, int count, const int32_t* first, const FColorLUT& t,
                            int32_t limit, const FColorMatrixFixed& matrix, int64_t largestEntry, int32_t low,
                            int32_t high)
{
    ColorTransformRowBody(row, cored, count, first, t, limit, matrix, largestEntry, low, high);
}

} // namespace

FStage2ColorTransform::FStage2ColorTransform(const FColorMatrixFixed& matrix, const FColorLUT& coring, int oR,
                                             int oG, int oB, int low, int high)
    : m_aFirst(3 * 65536), m_Coring(coring), m_Matrix(matrix), m_iLimit(CoringLimit(coring)),
      m_iLow(std::clamp(low, INT16_MIN, INT16_MAX)), m_iHigh(std::clamp(high, m_iLow, int(INT16_MAX))),
      m_iLargestEntry(0)
{
    const int offsets[3] = {oR, oG, oB};
    for (int c = 0; c < 3; ++c) {
        const int16_t* table = coring.GetChannel(c);
        for (int u = 0; u < 65536; ++u) {
            const int32_t x = static_cast<int16_t>(u) - offsets[c];
            m_aFirst[static_cast<size_t>(c) * 65536 + u] =
                x - table[CoringClamp(x, m_iLimit) & coring.m_iMask];
        }
    }
    for (const auto& matrixRow : matrix.m)
        for (int32_t entry : matrixRow)
            m_iLargestEntry = std::max(m_iLargestEntry, std::abs(int64_t(entry)));
}

void FStage2ColorTransform::Apply(int16_t* row, int16_t* cored, int count) const
{
    if (HasAvx2())
        ColorTransformRowWide(row, cored, count, m_aFirst.data(), m_Coring, m_iLimit, m_Matrix,
                              m_iLargestEntry, m_iLow, m_iHigh);
    else
        ColorTransformRowPlain(row, cored, count, m_aFirst.data(), m_Coring, m_iLimit, m_Matrix,
                               m_iLargestEntry, m_iLow, m_iHigh);
}

void TransformStage2Row(int16_t* row, int count, const FColorMatrixFixed& matrix, const FColorLUT& coring,
                        int oR, int oG, int oB)
{
    const int32_t m = CoringLimit(coring);
    for (int i = 0; i < count; ++i) {
        int16_t* p = row + 3 * static_cast<ptrdiff_t>(i);
        int32_t x2[3];
        CorePixel(p, coring, m, oR, oG, oB, x2);
        StoreClamped(p, matrix, x2, kStage2Low, kStage2High);
    }
}

void TransformStage2RowPair(int16_t* row, int16_t* cored, int count, const FColorMatrixFixed& matrix,
                            const FColorLUT& coring, int oR, int oG, int oB, int low, int high)
{
    const int32_t m = CoringLimit(coring);
    low = std::clamp(low, INT16_MIN, INT16_MAX);
    high = std::clamp(high, low, static_cast<int>(INT16_MAX));
    for (int i = 0; i < count; ++i) {
        int16_t* p = row + 3 * static_cast<ptrdiff_t>(i);
        int32_t x2[3];
        CorePixel(p, coring, m, oR, oG, oB, x2);
        int16_t* q = cored + 3 * static_cast<ptrdiff_t>(i);
        for (int c = 0; c < 3; ++c)
            q[c] = static_cast<int16_t>(Clamp16(x2[c]));
        StoreClamped(p, matrix, x2, low, high);
    }
}

namespace FPixelProc2
{

int32_t SoftToe(int32_t c, int32_t M)
{
    return SoftToeValue(c, M);
}

void ProcessToOutputRow32BGRA(const int16_t* src, const int16_t* lRow, const int16_t* retinexRow,
                              double detailGain, const FColorLUT& tone, const FLUT* retinexGain,
                              const FColorMatrixFixed& matrix, const FLUT& transfer, bool softToe,
                              uint8_t* out, int count)
{
    retinexRow = UsableRetinexRow(retinexRow, retinexGain);
    Row32BGRA(src, lRow, retinexRow, detailGain, tone, retinexGain, matrix, transfer, softToe,
              CubesForRow(retinexRow), out, count);
}

void ProcessToOutputRow24RGB(const int16_t* src, const int16_t* lRow, const int16_t* retinexRow,
                             double detailGain, const FColorLUT& tone, const FLUT* retinexGain,
                             const FColorMatrixFixed& matrix, const FLUT& transfer, bool softToe,
                             uint8_t* out, int count)
{
    retinexRow = UsableRetinexRow(retinexRow, retinexGain);
    Row24RGB(src, lRow, retinexRow, detailGain, tone, retinexGain, matrix, transfer, softToe,
             CubesForRow(retinexRow), out, count);
}

void ProcessToOutputRow48RGB(const int16_t* src, const int16_t* lRow, const int16_t* retinexRow,
                             double detailGain, const FColorLUT& tone, const FLUT* retinexGain,
                             const FColorMatrixFixed& matrix, const FLUT& transfer, bool softToe,
                             uint16_t* out, int count)
{
    retinexRow = UsableRetinexRow(retinexRow, retinexGain);
    Row48RGB(src, lRow, retinexRow, detailGain, tone, retinexGain, matrix, transfer, softToe,
             CubesForRow(retinexRow), out, count);
}

void ProcessToOutput(const FPixmapTemplate<FPixelClass48SRGB>& stage3,
                     const FPixmapTemplate<FPixelClass16SMono>& L,
                     const FPixmapTemplate<FPixelClass16SMono>* retinex, double k, const FColorLUT& tone,
                     const FLUT* retinexGain, const FColorMatrix& outputMatrix, const FLUT& transfer,
                     bool softToe, FPixmap& out)
{
    const int type = out.GetPixelType();
    if (type != FPixmap::PIXEL_24_RGB && type != FPixmap::PIXEL_48_RGB && type != FPixmap::PIXEL_32_BGRA)
        throw FExceptionPixelProc2("FPixelProc2::ProcessToOutput: unknown output pixel type.");
    const int rows = out.GetRows();
    const int cols = stage3.GetCols();
    const auto covers = [&](const FPixmap& p) { return p.GetRows() >= rows && p.GetCols() >= cols; };
    if (cols < 0 || out.GetCols() < cols || !covers(stage3) || !covers(L) ||
        (retinex != nullptr && !covers(*retinex)))
        throw FExceptionPixelProc2("FPixelProc2::ProcessToOutput: image sizes do not match.");
    if (retinex != nullptr && (retinexGain == nullptr || retinexGain->m_pData == nullptr))
        throw FExceptionPixelProc2("FPixelProc2::ProcessToOutput: retinex image without a gain table.");
    if (!std::isfinite(k))
        throw FExceptionPixelProc2("FPixelProc2::ProcessToOutput: detail gain is not a number.");
    CheckToneTables(tone, transfer);

    const double detailGain = k + 1.0;
    const FColorMatrixFixed m = outputMatrix.ToFixed();
    // Fetched once for the whole image rather than once per row: the same tables.
    CubeTables cubes = retinex != nullptr ? FetchCubeTables() : CubeTables{};
    // Over a large image, the tone of each cube root is looked up once here instead of per
    // pixel; the wide loop reads it where it would read the two tables in turn.
    std::vector<int16_t> toneOfRoot;
    const FLUT* root = cubes.cubeRoot;
    if (cubes.cube != nullptr && root != nullptr && root->m_pData != nullptr && root->m_iMask >= 0 &&
        root->m_iMask < kMaxFusedRoot && HasAvx2() && int64_t(rows) * cols >= kFuseMinPixels) {
        const size_t size = size_t(root->m_iMask) + 1;
        toneOfRoot.resize(3 * size);
        const int16_t* toneData[3] = {tone.m_pRedData, tone.m_pGreenData, tone.m_pBlueData};
        for (int ch = 0; ch < 3; ++ch) {
            int16_t* fused = toneOfRoot.data() + ch * size;
            for (size_t i = 0; i < size; ++i)
                fused[i] = toneData[ch][root->m_pData[i] & tone.m_iMask];
            cubes.toneOfRoot[ch] = fused;
        }
    }
    for (int y = 0; y < rows; ++y) {
        const int16_t* src = stage3.GetRow(y);
        const int16_t* lRow = L.GetRow(y);
        const int16_t* rRow = retinex != nullptr ? retinex->GetRow(y) : nullptr;
        uint8_t* dst = out.GetRowAddress(y);
        switch (type) {
        case FPixmap::PIXEL_32_BGRA:
            Row32BGRA(src, lRow, rRow, detailGain, tone, retinexGain, m, transfer, softToe, cubes, dst, cols);
            break;
        case FPixmap::PIXEL_24_RGB:
            Row24RGB(src, lRow, rRow, detailGain, tone, retinexGain, m, transfer, softToe, cubes, dst, cols);
            break;
        default:
            Row48RGB(src, lRow, rRow, detailGain, tone, retinexGain, m, transfer, softToe, cubes,
                     reinterpret_cast<uint16_t*>(dst), cols);
            break;
        }
    }
}

} // namespace FPixelProc2
