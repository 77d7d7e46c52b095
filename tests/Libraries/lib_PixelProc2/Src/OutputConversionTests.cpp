#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "CreateColorSpaceWhitePoint.h"
#include "FException.h"
#include "FGlobalLUTsClass.h"
#include "FPixelProc2.h"
#include "ToneLUT.h"

namespace
{

template <class P>
struct Image {
    std::vector<typename P::Sample> data;
    FPixmapTemplate<P> pixmap;
    Image(int cols, int rows)
        : data(static_cast<size_t>(cols) * rows * P::kChannels), pixmap(data.data(), cols, rows, 0)
    {
    }
    typename P::Sample* at(int x, int y) { return pixmap.GetPixel(x, y); }
};

using Stage3 = Image<FPixelClass48SRGB>;
using Mono = Image<FPixelClass16SMono>;

// A tone table that returns its index (positive half), a transfer table of index >> 4.
struct IdentityTables {
    FColorLUT tone{65536};
    FLUT transfer{65536};
    IdentityTables()
    {
        for (int i = 0; i < 65536; ++i) {
            const int16_t v = static_cast<int16_t>(i < 32768 ? i : 0);
            tone.m_pRedData[i] = tone.m_pGreenData[i] = tone.m_pBlueData[i] = v;
            transfer.m_pData[i] = static_cast<int16_t>(i < 32768 ? i >> 4 : 0);
        }
    }
};

std::string MessageOf(auto&& f)
{
    try {
        f();
    } catch (const FException& e) {
        return e.GetMessage();
    }
    return "(no exception)";
}

} // namespace

TEST(ProcessToOutput, HandComputedPixelsForEachOutputType)
{
    IdentityTables t;
    Stage3 src(2, 1);
    Mono L(2, 1);
    const int16_t px[2][3] = {{1600, 800, 320}, {4000, 16, 0}};
    std::memcpy(src.data.data(), px, sizeof(px));
    L.data = {100, -64};
    // k = 0.5: detail gain 1.5, d = (L x 24576) >> 14.
    const int d[2] = {150, -96};
    const FColorMatrix identity = FColorMatrix::Identity();

    Image<FPixelClass24RGB> rgb(2, 1);
    FPixelProc2::ProcessToOutput(src.pixmap, L.pixmap, nullptr, 0.5, t.tone, nullptr, identity, t.transfer,
                                 false, rgb.pixmap);
    Image<FPixelClass32BGRA> bgra(2, 1);
    FPixelProc2::ProcessToOutput(src.pixmap, L.pixmap, nullptr, 0.5, t.tone, nullptr, identity, t.transfer,
                                 false, bgra.pixmap);
    Image<FPixelClass48RGB> wide(2, 1);
    FPixelProc2::ProcessToOutput(src.pixmap, L.pixmap, nullptr, 0.5, t.tone, nullptr, identity, t.transfer,
                                 false, wide.pixmap);
    for (int x = 0; x < 2; ++x) {
        for (int c = 0; c < 3; ++c) {
            const int v = std::max(0, px[x][c] + d[x]);
            const int code = v >> 4;
            EXPECT_EQ(rgb.at(x, 0)[c], code & 0xFF) << x << "," << c;
            EXPECT_EQ(bgra.at(x, 0)[2 - c], code & 0xFF) << x << "," << c;
            EXPECT_EQ(wide.at(x, 0)[c], code) << x << "," << c;
        }
        EXPECT_EQ(bgra.at(x, 0)[3], 255);
    }
}

TEST(ProcessToOutput, SoftToeRollsOffNegativeValues)
{
    // A bright pixel: a = 32.
    EXPECT_EQ(FPixelProc2::SoftToe(-600, 4000), -32);
    EXPECT_EQ(FPixelProc2::SoftToe(0, 4000), 112);
    EXPECT_EQ(FPixelProc2::SoftToe(480, 4000), 480);
    EXPECT_EQ(FPixelProc2::SoftToe(479, 4000), ((479 + 544) * (479 + 544) >> 11) - 32);
    // A dark pixel rolls off harder: a = 512 - (100 >> 1) = 462.
    EXPECT_EQ(FPixelProc2::SoftToe(-10, 100), ((-10 + 462 + 512) * (-10 + 462 + 512) >> 11) - 462);
    EXPECT_EQ(FPixelProc2::SoftToe(50, 100), 50);
    EXPECT_EQ(FPixelProc2::SoftToe(-32768, -32768), -16896);
}

TEST(ProcessToOutput, RetinexGainOfOneMatchesThePlainPath)
{
    IdentityTables t;
    FLUT gain(65536);
    std::fill(gain.m_pData, gain.m_pData + 65536, int16_t{256});
    Stage3 src(64, 2);
    Mono L(64, 2);
    Mono rtx(64, 2);
    for (size_t i = 0; i < src.data.size(); ++i)
        src.data[i] = static_cast<int16_t>(900 + 18 * i); // within the cube table's range
    Image<FPixelClass48RGB> plain(64, 2), lifted(64, 2);
    const FColorMatrix identity = FColorMatrix::Identity();
    FPixelProc2::ProcessToOutput(src.pixmap, L.pixmap, nullptr, 0.0, t.tone, nullptr, identity, t.transfer,
                                 false, plain.pixmap);
    FPixelProc2::ProcessToOutput(src.pixmap, L.pixmap, &rtx.pixmap, 0.0, t.tone, &gain, identity, t.transfer,
                                 false, lifted.pixmap);
    for (size_t i = 0; i < plain.data.size(); ++i)
        EXPECT_NEAR(lifted.data[i], plain.data[i], 1) << i;
    // Doubling the gain lifts every channel.
    std::fill(gain.m_pData, gain.m_pData + 65536, int16_t{512});
    FPixelProc2::ProcessToOutput(src.pixmap, L.pixmap, &rtx.pixmap, 0.0, t.tone, &gain, identity, t.transfer,
                                 false, lifted.pixmap);
    for (size_t i = 0; i < plain.data.size(); ++i)
        EXPECT_GT(lifted.data[i], plain.data[i]) << i;
}

TEST(ProcessToOutput, RetinexPathKeepsValuesBelowTheCubeTablesDark)
{
    // Deep negatives (strong negative detail) and a large gain on the cube's small negative
    // values must not index the tables' bright top half.
    IdentityTables t;
    FLUT gain(65536);
    const FColorMatrix identity = FColorMatrix::Identity();
    const int16_t levels[] = {-32768, -20000, -4097, -4096, 0, 1000};
    Stage3 src(6, 1);
    Mono L(6, 1), rtx(6, 1);
    for (int x = 0; x < 6; ++x)
        std::fill_n(src.at(x, 0), 3, levels[x]);
    for (int16_t g : {int16_t{256}, int16_t{32767}}) {
        std::fill(gain.m_pData, gain.m_pData + 65536, g);
        Image<FPixelClass48RGB> out(6, 1);
        FPixelProc2::ProcessToOutput(src.pixmap, L.pixmap, &rtx.pixmap, 0.0, t.tone, &gain, identity,
                                     t.transfer, false, out.pixmap);
        const int floor = out.at(3, 0)[0]; // -4096, the tables' lowest entry
        EXPECT_LE(floor, 51) << g;         // cube root of 0 is 819, code 819 >> 4
        for (int x = 0; x < 3; ++x)
            for (int c = 0; c < 3; ++c)
                EXPECT_EQ(out.at(x, 0)[c], floor) << levels[x] << " gain " << g;
        EXPECT_LE(out.at(4, 0)[0], out.at(5, 0)[0]) << g;
        EXPECT_LE(out.at(4, 0)[0], 51) << g;
    }
}

TEST(ProcessToOutput, RejectsUnknownTypesAndMismatchedSizes)
{
    IdentityTables t;
    Stage3 src(4, 3);
    Mono L(4, 3);
    const FColorMatrix identity = FColorMatrix::Identity();
    Image<FPixelClass8Mono> grey(4, 3);
    EXPECT_EQ(MessageOf([&] {
                  FPixelProc2::ProcessToOutput(src.pixmap, L.pixmap, nullptr, 0, t.tone, nullptr, identity,
                                               t.transfer, false, grey.pixmap);
              }),
              "FPixelProc2::ProcessToOutput: unknown output pixel type.");

    const auto run = [&](const Stage3& s, const Mono& l, const Mono* r, FPixmap& out) {
        FLUT gain(65536);
        return MessageOf([&] {
            FPixelProc2::ProcessToOutput(s.pixmap, l.pixmap, r ? &r->pixmap : nullptr, 0, t.tone, &gain,
                                         identity, t.transfer, false, out);
        });
    };
    const std::string mismatch = "FPixelProc2::ProcessToOutput: image sizes do not match.";
    Image<FPixelClass24RGB> out(4, 3);
    Image<FPixelClass24RGB> narrow(3, 3);
    Stage3 shortSrc(4, 2);
    Mono shortL(4, 2), thinL(3, 3), shortR(4, 2);
    EXPECT_EQ(run(src, L, nullptr, out.pixmap), "(no exception)");
    EXPECT_EQ(run(src, L, nullptr, narrow.pixmap), mismatch);
    EXPECT_EQ(run(shortSrc, L, nullptr, out.pixmap), mismatch);
    EXPECT_EQ(run(src, shortL, nullptr, out.pixmap), mismatch);
    EXPECT_EQ(run(src, thinL, nullptr, out.pixmap), mismatch);
    EXPECT_EQ(run(src, L, &shortR, out.pixmap), mismatch);
    // Fewer output rows than the planes is fine: only those rows are converted.
    Image<FPixelClass24RGB> fewer(4, 2);
    EXPECT_EQ(run(src, L, nullptr, fewer.pixmap), "(no exception)");
}

namespace
{

// The pipeline's own tables for one output space, with neutral settings.
struct Pipeline {
    FColorLUT tone{65536};
    std::unique_ptr<FLUT> transfer;
    FColorMatrix matrix;
    Pipeline(int space, int bits, double exposure = 0.0)
    {
        MakeToneLUT(exposure, 0, 0, 0, 1, 1, 1, *FGlobalLUTsClass::GetCubeLUT(), tone);
        transfer = MakeOutputTransferLUT(space, bits);
        ComputeOutputMatrix(matrix, space, 0.0);
    }
};

} // namespace

// A grey ramp stays grey through the tone table, the output matrix and the transfer
// table, in every output space, at both depths: within one 8-bit code, and within 24
// 16-bit codes (the Q13 matrix and four-decimal tables meet the steep start of the curve).
TEST(ProcessToOutput, NeutralInputStaysNeutral)
{
    const int n = 256;
    Stage3 src(n, 1);
    Mono L(n, 1);
    for (int x = 0; x < n; ++x) {
        const int16_t v = static_cast<int16_t>(-200 + x * 40);
        std::fill(src.at(x, 0), src.at(x, 0) + 3, v);
    }
    for (int space = 1; space < kColorSpaceCount; ++space) {
        Pipeline p8(space, 8);
        Image<FPixelClass24RGB> out8(n, 1);
        FPixelProc2::ProcessToOutput(src.pixmap, L.pixmap, nullptr, 0, p8.tone, nullptr, p8.matrix,
                                     *p8.transfer, false, out8.pixmap);
        Pipeline p16(space, 16);
        Image<FPixelClass48RGB> out16(n, 1);
        FPixelProc2::ProcessToOutput(src.pixmap, L.pixmap, nullptr, 0, p16.tone, nullptr, p16.matrix,
                                     *p16.transfer, true, out16.pixmap);
        for (int x = 0; x < n; ++x) {
            const uint8_t* a = out8.at(x, 0);
            EXPECT_LE(std::max({a[0], a[1], a[2]}) - std::min({a[0], a[1], a[2]}), 1)
                << "space " << space << " x " << x;
            const uint16_t* b = out16.at(x, 0);
            EXPECT_LE(std::max({b[0], b[1], b[2]}) - std::min({b[0], b[1], b[2]}), 24)
                << "space " << space << " x " << x;
            if (x > 0) {
                EXPECT_GE(out8.at(x, 0)[1], out8.at(x - 1, 0)[1]);
                EXPECT_GE(out16.at(x, 0)[1], out16.at(x - 1, 0)[1]);
            }
        }
    }
}

// A bright, saturated working-space red goes past the top of the Q12 range after the output
// matrix; it must clip to full red rather than wrap round to black.
TEST(ProcessToOutput, BrightSaturatedColoursClampInsteadOfWrapping)
{
    Stage3 src(3, 1);
    Mono L(3, 1);
    const int16_t px[3][3] = {{10000, 0, 0}, {0, 10000, 0}, {0, 0, 10000}};
    std::memcpy(src.data.data(), px, sizeof(px));
    for (int space : {2, 3, 4, 8}) {
        Pipeline p8(space, 8, 6.0);
        ASSERT_EQ(p8.tone.m_pRedData[10000], 16384);
        Image<FPixelClass24RGB> out8(3, 1);
        Image<FPixelClass32BGRA> outBGRA(3, 1);
        FPixelProc2::ProcessToOutput(src.pixmap, L.pixmap, nullptr, 0, p8.tone, nullptr, p8.matrix,
                                     *p8.transfer, false, out8.pixmap);
        FPixelProc2::ProcessToOutput(src.pixmap, L.pixmap, nullptr, 0, p8.tone, nullptr, p8.matrix,
                                     *p8.transfer, true, outBGRA.pixmap);
        Pipeline p16(space, 16, 6.0);
        Image<FPixelClass48RGB> out16(3, 1);
        FPixelProc2::ProcessToOutput(src.pixmap, L.pixmap, nullptr, 0, p16.tone, nullptr, p16.matrix,
                                     *p16.transfer, false, out16.pixmap);
        for (int x = 0; x < 3; ++x) {
            EXPECT_EQ(out8.at(x, 0)[x], 255) << "space " << space << " primary " << x;
            EXPECT_EQ(outBGRA.at(x, 0)[2 - x], 255) << "space " << space << " primary " << x;
            EXPECT_EQ(out16.at(x, 0)[x], 65535) << "space " << space << " primary " << x;
        }
    }
    // A detail plane that pushes past the signed range clips too.
    IdentityTables t;
    Stage3 bright(1, 1);
    Mono detail(1, 1);
    std::fill(bright.data.begin(), bright.data.end(), int16_t{30000});
    detail.data[0] = 30000;
    Image<FPixelClass48RGB> out(1, 1);
    FPixelProc2::ProcessToOutput(bright.pixmap, detail.pixmap, nullptr, 3.0, t.tone, nullptr,
                                 FColorMatrix::Identity(), t.transfer, false, out.pixmap);
    EXPECT_EQ(out.at(0, 0)[0], 32767 >> 4);
}

TEST(Stage2Transform, CoringAndClamping)
{
    FColorLUT zero(512);
    FColorMatrixFixed identity = FColorMatrix::Identity().ToFixed();
    int16_t row[6] = {30000, -600, 100, 5, 6, 7};
    TransformStage2Row(row, 2, identity, zero, 0, 0, 0);
    const int16_t expected[6] = {24000, -500, 100, 5, 6, 7};
    for (int i = 0; i < 6; ++i)
        EXPECT_EQ(row[i], expected[i]) << i;

    // Offsets come off first; the pair form stores the cored values and clamps to its limits.
    int16_t pair[3] = {1100, 1200, 1300};
    int16_t cored[3] = {};
    TransformStage2RowPair(pair, cored, 1, identity, zero, 100, 100, 100, 0, 1150);
    EXPECT_EQ(cored[0], 1000);
    EXPECT_EQ(cored[1], 1100);
    EXPECT_EQ(cored[2], 1200);
    EXPECT_EQ(pair[0], 1000);
    EXPECT_EQ(pair[1], 1100);
    EXPECT_EQ(pair[2], 1150);

    // A soft-limiting table: small values and small chroma differences shrink, large
    // ones pass almost unchanged.
    FColorLUT soft(512);
    for (int j = -255; j <= 255; ++j) {
        const int16_t v = static_cast<int16_t>(std::clamp(j, -20, 20));
        soft.m_pRedData[j & 511] = soft.m_pGreenData[j & 511] = soft.m_pBlueData[j & 511] = v;
    }
    int16_t small[3] = {1010, 1000, 1000};
    TransformStage2Row(small, 1, identity, soft, 0, 0, 0);
    EXPECT_LT(std::abs(small[0] - small[1]), 10);
    int16_t large[3] = {3000, 1000, 1000};
    TransformStage2Row(large, 1, identity, soft, 0, 0, 0);
    EXPECT_GT(large[0] - large[1], 1900);
}

// The prepared transform against the per-row reference: every sample value, runs that do
// not fill a vector, offsets at the ends of the range, and matrices whose dot needs more
// than 32 bits.
TEST(Stage2Transform, PreparedTransformEqualsTheRowReference)
{
    std::mt19937 rng(77);
    FColorLUT soft(4096);
    for (int j = 0; j < 4096; ++j)
        for (int c = 0; c < 3; ++c)
            soft.GetChannel(c)[j] = static_cast<int16_t>(int(rng() % 20001) - 10000);
    FColorLUT zero(512);
    FColorMatrix typical;
    typical.Set(1.7, -0.5, -0.2, -0.3, 1.6, -0.3, 0.1, -0.6, 1.5);
    FColorMatrixFixed huge = typical.ToFixed();
    huge.m[0][0] = 2000000000;
    huge.m[2][1] = -1500000000;
    struct Case {
        const FColorLUT* table;
        FColorMatrixFixed matrix;
        int offsets[3];
        int low, high;
    } cases[] = {
        {&soft, typical.ToFixed(), {12, -40, 7}, -500, 24000},
        {&zero, FColorMatrix::Identity().ToFixed(), {0, 0, 0}, INT16_MIN, INT16_MAX},
        {&soft, huge, {-32768, 32767, 0}, -500, 24000},
        {&soft, typical.ToFixed(), {65535, -65535, 100}, 0, 1150},
    };
    for (const Case& c : cases) {
        const FStage2ColorTransform prepared(c.matrix, *c.table, c.offsets[0], c.offsets[1], c.offsets[2],
                                             c.low, c.high);
        for (int count : {1, 7, 8, 9, 131}) {
            std::vector<int16_t> samples(3 * static_cast<size_t>(count));
            for (int16_t& v : samples)
                v = static_cast<int16_t>(rng());
            samples[0] = INT16_MIN;
            samples.back() = INT16_MAX;
            std::vector<int16_t> expected = samples, expectedCored(samples.size());
            std::vector<int16_t> got = samples, gotCored(samples.size());
            TransformStage2RowPair(expected.data(), expectedCored.data(), count, c.matrix, *c.table,
                                   c.offsets[0], c.offsets[1], c.offsets[2], c.low, c.high);
            prepared.Apply(got.data(), gotCored.data(), count);
            EXPECT_EQ(got, expected) << count;
            EXPECT_EQ(gotCored, expectedCored) << count;
            if (c.low == -500 && c.high == 24000) {
                std::vector<int16_t> plain = samples, reference = samples;
                TransformStage2Row(reference.data(), count, c.matrix, *c.table, c.offsets[0], c.offsets[1],
                                   c.offsets[2]);
                prepared.Apply(plain.data(), nullptr, count);
                EXPECT_EQ(plain, reference) << count;
            }
        }
    }
}

namespace
{

Stage3 Uniform(int cols, int rows, int16_t r, int16_t g, int16_t b)
{
    Stage3 img(cols, rows);
    for (int y = 0; y < rows; ++y)
        for (int x = 0; x < cols; ++x) {
            int16_t* p = img.at(x, y);
            p[0] = r;
            p[1] = g;
            p[2] = b;
        }
    return img;
}

} // namespace

TEST(AverageDarkestPixels, TooFewSamplesGiveZero)
{
    const Stage3 img = Uniform(100, 100, 10, 10, 10);
    FIntRGB out(7, 7, 7);
    AverageDarkestPixels(out, img.pixmap, 4, 4, 4, 0, 0, 0);
    EXPECT_EQ(out, FIntRGB(0, 0, 0));
    const Stage3 none(0, 0);
    AverageDarkestPixels(out, none.pixmap, 4, 4, 4, 0, 0, 0);
    EXPECT_EQ(out, FIntRGB(0, 0, 0));
}

TEST(AverageDarkestPixels, MeanOfTheDarkPatchPulledTowardZero)
{
    // Left half dark (offset-corrected 10, 10, 10), right half bright and outside the
    // histogram; samples every 4th row and pixel from 20 to below 380.
    Stage3 img = Uniform(400, 400, 1010, 1020, 1030);
    for (int y = 0; y < 400; ++y)
        for (int x = 0; x < 200; ++x) {
            int16_t* p = img.at(x, y);
            p[0] = 110;
            p[1] = 120;
            p[2] = 130;
        }
    FIntRGB out;
    AverageDarkestPixels(out, img.pixmap, 4, 4, 4, 100, 110, 120);
    const int n = 90 * 45;
    EXPECT_EQ(out, FIntRGB(10 * n / (n + 200), 10 * n / (n + 200), 10 * n / (n + 200)));
    // A width too small for any bin gives zero rather than an empty histogram.
    AverageDarkestPixels(out, img.pixmap, 0, 0, 0, 100, 110, 120);
    EXPECT_EQ(out, FIntRGB(0, 0, 0));
    AverageDarkestPixels(out, img.pixmap, NAN, 0, 0, 100, 110, 120);
    EXPECT_EQ(out, FIntRGB(0, 0, 0));
}

// Rows long enough for the eight-pixel loop give, pixel for pixel, what the one-pixel loop
// gives for each pixel alone: random and saturated samples, random tables (negative entries
// and indices that wrap), small and large gains and matrices, every flag and output type.
TEST(ProcessToOutput, WideRowsEqualPixelByPixel)
{
    uint32_t seed = 12345;
    const auto next = [&seed] {
        seed = seed * 1664525u + 1013904223u;
        return static_cast<int16_t>(seed >> 16);
    };
    FColorLUT tone(65536);
    FLUT transfer(65536);
    FLUT gain(65536);
    for (int i = 0; i < 3 * 65536; ++i)
        tone.m_pRedData[i] = next();
    for (int i = 0; i < 65536; ++i) {
        transfer.m_pData[i] = next();
        gain.m_pData[i] = next();
    }
    constexpr int kCols = 8 * 5 + 3;
    std::vector<int16_t> src(3 * kCols), l(kCols), rtx(kCols);
    const int16_t extremes[] = {INT16_MIN, INT16_MAX, -4097, -4096, 0, 511, -1, 32000};
    const auto fill = [&](int round) {
        for (size_t i = 0; i < src.size(); ++i)
            src[i] = round % 3 == 0 ? extremes[(i + round) % 8] : next();
        for (int i = 0; i < kCols; ++i) {
            l[i] = round % 3 == 1 ? extremes[(i * 3 + round) % 8] : next();
            rtx[i] = next();
        }
    };
    FColorMatrix big;
    big.Set(3.9, -1.2, 0.4, -0.3, 2.9, -1.1, 0.2, -0.9, 3.8); // fits 32-bit sums
    FColorMatrix huge;
    huge.Set(12.0, -3.0, 1.0, 0.0, 1.0, 0.0, 0.0, 0.0, 1.0); // needs 64-bit sums
    const FColorMatrixFixed matrices[] = {FColorMatrix::Identity().ToFixed(),
                                          SaturationMatrix(-0.05).ToFixed(), big.ToFixed(), huge.ToFixed()};
    for (int round = 0; round < 24; ++round) {
        fill(round);
        for (const FColorMatrixFixed& m : matrices)
            for (double gainK : {1.0, 1.5, -2.0, 3.99, 4.0, 30.0})
                for (bool withRetinex : {false, true})
                    for (bool softToe : {false, true}) {
                        const int16_t* r = withRetinex ? rtx.data() : nullptr;
                        std::vector<uint8_t> wide32(4 * kCols), one32(4 * kCols);
                        std::vector<uint8_t> wide24(3 * kCols), one24(3 * kCols);
                        std::vector<uint16_t> wide48(3 * kCols), one48(3 * kCols);
                        FPixelProc2::ProcessToOutputRow32BGRA(src.data(), l.data(), r, gainK, tone, &gain, m,
                                                              transfer, softToe, wide32.data(), kCols);
                        FPixelProc2::ProcessToOutputRow24RGB(src.data(), l.data(), r, gainK, tone, &gain, m,
                                                             transfer, softToe, wide24.data(), kCols);
                        FPixelProc2::ProcessToOutputRow48RGB(src.data(), l.data(), r, gainK, tone, &gain, m,
                                                             transfer, softToe, wide48.data(), kCols);
                        for (int x = 0; x < kCols; ++x) {
                            const int16_t* s = src.data() + 3 * x;
                            const int16_t* rx = r != nullptr ? r + x : nullptr;
                            FPixelProc2::ProcessToOutputRow32BGRA(s, &l[x], rx, gainK, tone, &gain, m,
                                                                  transfer, softToe, &one32[4 * x], 1);
                            FPixelProc2::ProcessToOutputRow24RGB(s, &l[x], rx, gainK, tone, &gain, m,
                                                                 transfer, softToe, &one24[3 * x], 1);
                            FPixelProc2::ProcessToOutputRow48RGB(s, &l[x], rx, gainK, tone, &gain, m,
                                                                 transfer, softToe, &one48[3 * x], 1);
                        }
                        const std::string where =
                            "round " + std::to_string(round) + " gain " + std::to_string(gainK) +
                            " retinex " + std::to_string(withRetinex) + " toe " + std::to_string(softToe);
                        ASSERT_EQ(wide32, one32) << where;
                        ASSERT_EQ(wide24, one24) << where;
                        ASSERT_EQ(wide48, one48) << where;
                    }
    }
}

// A whole large image with a retinex plane (where the tone of each cube root is looked up
// once per image) equals the same rows converted one call at a time.
TEST(ProcessToOutput, LargeRetinexImageEqualsItsRows)
{
    uint32_t seed = 777;
    const auto next = [&seed] {
        seed = seed * 1664525u + 1013904223u;
        return static_cast<int16_t>(seed >> 16);
    };
    FColorLUT tone(65536);
    FLUT transfer(65536);
    FLUT gain(65536);
    for (int i = 0; i < 3 * 65536; ++i)
        tone.m_pRedData[i] = next();
    for (int i = 0; i < 65536; ++i) {
        transfer.m_pData[i] = next();
        gain.m_pData[i] = static_cast<int16_t>(next() & 1023);
    }
    constexpr int kCols = 523;
    constexpr int kRows = 520; // over a quarter of a million pixels
    Stage3 src(kCols, kRows);
    Mono L(kCols, kRows), rtx(kCols, kRows);
    for (size_t i = 0; i < src.data.size(); ++i)
        src.data[i] = i % 7 == 0 ? INT16_MAX : (i % 11 == 0 ? INT16_MIN : next());
    for (size_t i = 0; i < L.data.size(); ++i) {
        L.data[i] = static_cast<int16_t>(next() / 8);
        rtx.data[i] = next();
    }
    const FColorMatrix m = SaturationMatrix(-0.05);
    for (bool softToe : {false, true}) {
        Image<FPixelClass32BGRA> whole(kCols, kRows), rows(kCols, kRows);
        FPixelProc2::ProcessToOutput(src.pixmap, L.pixmap, &rtx.pixmap, 0.5, tone, &gain, m, transfer,
                                     softToe, whole.pixmap);
        for (int y = 0; y < kRows; ++y)
            FPixelProc2::ProcessToOutputRow32BGRA(
                src.pixmap.GetRow(y), L.pixmap.GetRow(y), rtx.pixmap.GetRow(y), 1.5, tone, &gain, m.ToFixed(),
                transfer, softToe, reinterpret_cast<uint8_t*>(rows.pixmap.GetRow(y)), kCols);
        ASSERT_EQ(whole.data, rows.data) << softToe;
    }
}
