#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdint>
#include <random>
#include <utility>
#include <vector>

#include "ChromaBlur.h"
#include "CorrectionsTestImage.h"
#include "FGlobalLUTsClass.h"

namespace
{

// A soft-limit table of 64 entries that passes every difference in -31 ... 31 unchanged.
struct IdentityTable {
    FColorLUT lut{64};
    IdentityTable()
    {
        for (int c = 0; c < 3; ++c)
            for (int i = 0; i < 64; ++i)
                lut.GetChannel(c)[i] = static_cast<int16_t>(i < 32 ? i : i - 64);
    }
};

const FColorLUT& Tanh()
{
    return *FGlobalLUTsClass::GetTanhLUTs(FDoubleRGB(900, 700, 1100), FDoubleRGB(1, 1, 1));
}

using Triple = std::array<int64_t, 3>;

// ---- Shared steps, written once for the references ----

void Correct(TestImage48& im, int x, int y, const Triple& q, const FColorLUT& t, uint32_t shift)
{
    const int64_t limit = t.m_iSize / 2 - 1;
    int64_t d[3];
    for (int c = 0; c < 3; ++c)
        d[c] = t.GetChannel(
            c)[static_cast<int32_t>(std::clamp(q[c] - im.At(x, y, c), -limit, limit)) & t.m_iMask];
    const int64_t sum = (d[0] + d[1] + d[2]) >> (shift % 32);
    for (int c = 0; c < 3; ++c)
        im.At(x, y, c) = static_cast<int16_t>(im.At(x, y, c) + d[c] - sum);
}

Triple Match(const TestImage48& im, int x, int y, const Triple& target, int64_t oP, int64_t oQ)
{
    const int64_t sP = int64_t{im.At(x, y, 0)} + im.At(x, y, 1) + im.At(x, y, 2) + oP;
    if (sP < 0)
        return {0, 0, 0};
    const int64_t sQ = target[0] + target[1] + target[2] + oQ;
    const int64_t f = sQ > oQ ? sP * 65536 / sQ : sP * (65536 / oQ);
    Triple q;
    for (int c = 0; c < 3; ++c)
        q[c] = (target[c] * f + 32768) >> 16;
    return q;
}

int64_t Clamped(const TestImage48& im, int x, int y, int c)
{
    return im.At(std::clamp(x, 0, im.cols - 1), std::clamp(y, 0, im.rows - 1), c);
}

int16_t Sat(int64_t v)
{
    return static_cast<int16_t>(std::clamp<int64_t>(v, -32768, 32767));
}

// ---- Chroma blur: block image, recursive filters over whole arrays ----

TestImage48 ReferenceChromaBlur(const TestImage48& in, double radius, double h, double v, int offset,
                                const FColorLUT& t, int shift)
{
    const int W = in.cols, H = in.rows, qc = (W + 3) / 4, qr = (H + 3) / 4;
    const double e = std::exp(-4.0 / radius);
    const int64_t a = static_cast<int64_t>(256 * (1 - e) + 0.5), b = static_cast<int64_t>(256 * e + 0.5);
    std::vector<Triple> blocks(static_cast<size_t>(qc) * qr);
    for (int by = qr - 1; by >= 0; --by)
        for (int bx = 0; bx < qc; ++bx)
            for (int c = 0; c < 3; ++c) {
                int64_t s = 0;
                for (int dy = 0; dy < 4; ++dy)
                    for (int dx = 0; dx < 4; ++dx)
                        s += Clamped(in, 4 * bx + dx, 4 * by + dy, c);
                s = std::min<int64_t>(s, 32767) * a;
                if (by < qr - 1)
                    s += blocks[(by + 1) * qc + bx][c] * b;
                blocks[by * qc + bx][c] = Sat(s >> 8);
            }
    const int64_t u = static_cast<int64_t>(256 * (1 - std::exp(-1.0 / h)) + 0.5), w = 256 - u;
    const int64_t yv = static_cast<int64_t>(256 * (1 - std::exp(-1.0 / v)) + 0.5);
    const int64_t zv = static_cast<int64_t>(256 * std::exp(-1.0 / v) + 0.5);
    TestImage48 out = in;
    std::vector<Triple> state(W, Triple{0, 0, 0}), horiz(W);
    for (int y = 0; y < H; ++y) {
        if (y % 4 == 0) {
            // Right to left, four steps per block, columns past the end landing on the last one.
            Triple s{0, 0, 0};
            for (int bx = qc - 1; bx >= 0; --bx)
                for (int k = 3; k >= 0; --k) {
                    for (int c = 0; c < 3; ++c)
                        s[c] = (u * blocks[(y / 4) * qc + bx][c] + w * s[c]) >> 8;
                    horiz[std::min(4 * bx + k, W - 1)] = s;
                }
            s = {0, 0, 0};
            for (int x = 0; x < W; ++x) {
                for (int c = 0; c < 3; ++c)
                    s[c] = (u * horiz[x][c] + w * s[c]) >> 8;
                horiz[x] = s;
            }
        }
        for (int x = 0; x < W; ++x) {
            Triple target;
            for (int c = 0; c < 3; ++c) {
                state[x][c] = static_cast<int16_t>((yv * horiz[x][c] + zv * state[x][c]) >> 8);
                target[c] = state[x][c] >> 4;
            }
            Correct(out, x, y, Match(out, x, y, target, offset, offset), t, shift);
        }
    }
    return out;
}

TEST(ChromaBlur, BlockImageOfAFiveByFiveImage)
{
    TestImage48 im = RandomImage48(5, 5, 3, 1000, 500, 3000);
    std::vector<int16_t> blocks(3 * 4);
    BuildChromaBlurImage(im.Pixmap(), 5.0, blocks.data());
    for (int c = 0; c < 3; ++c)
        EXPECT_EQ(blocks[9 + c], (std::min(16 * im.At(4, 4, c), 32767) * 141) >> 8) << c;
    int64_t sum = 0;
    for (int y = 0; y < 4; ++y)
        for (int x = 0; x < 4; ++x)
            sum += im.At(x, y, 1);
    EXPECT_EQ(blocks[1], (std::min<int64_t>(sum, 32767) * 141 + blocks[7] * 115) >> 8);
}

TEST(ChromaBlur, RowsEqualTheWholeImageReference)
{
    struct Size {
        int cols, rows;
    };
    const IdentityTable id;
    // In bands at any thread count, band edges off and on the blocks' rows of 4.
    // 600 x 140 also splits the block sums by block rows, their smoothing and the run to
    // each band's start by columns.
    for (Size s : {Size{1, 1}, Size{5, 5}, Size{13, 9}, Size{64, 48}, Size{600, 140}, Size{65000, 6}}) {
        for (const FColorLUT* t : {&id.lut, &Tanh()}) {
            const TestImage48 in = RandomImage48(s.cols, s.rows, 40 + s.cols);
            const std::vector<int16_t> expected = ReferenceChromaBlur(in, 5.0, 5.0, 5.0, 100, *t, 3).pixels;
            for (int threads : {1, 2, 3, 7, 64}) {
                TestImage48 im = in;
                ChromaBlurImage(im.Pixmap(), 5.0, 5.0, 5.0, 100, *t, 3, threads);
                ASSERT_EQ(im.pixels, expected) << s.cols << "x" << s.rows << ", " << threads << " threads";
            }
        }
    }
}

// Dark and negative pixels (whose brightness sum is below 0), flat targets and the
// largest offset, through the whole-row brightness match.
TEST(ChromaBlur, ExtremeLevelsEqualTheWholeImageReference)
{
    for (int offset : {0, 7, 1 << 20, 1 << 22}) {
        const TestImage48 in = RandomImage48(37, 21, 5 + offset, 0, 32000);
        TestImage48 im = in;
        ChromaBlurImage(im.Pixmap(), 3.0, 2.0, 7.0, offset, Tanh(), 2);
        ASSERT_EQ(im.pixels,
                  ReferenceChromaBlur(in, 3.0, 2.0, 7.0, std::clamp(offset, 1, 1 << 20), Tanh(), 2).pixels)
            << offset;
    }
}

// ---- DQ filters: box and binomial over the original rows ----

TestImage48 ReferenceSpatialDQ(const TestImage48& in, int offset, const FColorLUT& t, uint32_t shift)
{
    TestImage48 out = in;
    auto hbox = [&](int x, int y, int c) {
        int64_t s = 2;
        for (int k = -2; k <= 2; ++k)
            s += Clamped(in, x + k, y, c);
        return int64_t{Sat(s >> 2)};
    };
    for (int y = 0; y < in.rows; ++y)
        for (int x = 0; x < in.cols; ++x) {
            Triple box{0, 0, 0};
            for (int c = 0; c < 3; ++c)
                for (int k = -2; k <= 2; ++k)
                    box[c] += hbox(x, y + k, c);
            Correct(out, x, y, Match(out, x, y, box, offset, offset * 25 / 4), t, shift);
        }
    return out;
}

TestImage48 ReferenceBinomialDQ(const TestImage48& in, const FColorLUT& t, uint32_t shift)
{
    TestImage48 out = in;
    auto h = [&](int x, int y, int c) {
        return int64_t{
            Sat((Clamped(in, x - 1, y, c) + 2 * Clamped(in, x, y, c) + Clamped(in, x + 1, y, c) + 2) >> 2)};
    };
    for (int y = 0; y < in.rows; ++y)
        for (int x = 0; x < in.cols; ++x) {
            Triple q;
            for (int c = 0; c < 3; ++c)
                q[c] = (h(x, y - 1, c) + 2 * h(x, y, c) + h(x, y + 1, c)) >> 2;
            Correct(out, x, y, q, t, shift);
        }
    return out;
}

// The engine's sweep with the row functions: the last row repeated past the end, the
// first filtered row copied into the older slots when the first output is due.
template <int N, typename Call>
void EngineSweep(TestImage48& im, Call call)
{
    std::vector<int16_t> store(N * 3 * static_cast<size_t>(im.cols));
    int16_t* ring[N];
    for (int i = 0; i < N; ++i)
        ring[i] = &store[i * 3 * static_cast<size_t>(im.cols)];
    const int lag = N / 2;
    for (int c = 0; c < im.rows + lag; ++c) {
        if (c == lag)
            for (int i = 0; i < lag; ++i)
                std::copy(ring[lag], ring[lag] + 3 * im.cols, ring[i]);
        call(im.Row(std::min(c, im.rows - 1)), c >= lag ? im.Row(c - lag) : nullptr, ring);
    }
}

TEST(ChromaDQ, StreamedAndThreadedFiltersEqualTheWholeImageReferences)
{
    struct Size {
        int cols, rows;
    };
    const FColorLUT& t = Tanh();
    for (Size s : {Size{1, 1}, Size{2, 3}, Size{4, 5}, Size{57, 41}}) {
        const TestImage48 in = RandomImage48(s.cols, s.rows, 70 + s.rows);
        const TestImage48 spatial = ReferenceSpatialDQ(in, 120, t, 3);
        const TestImage48 binomial = ReferenceBinomialDQ(in, t, 2);
        TestImage48 a = in;
        EngineSweep<5>(a, [&](const int16_t* i, int16_t* o, int16_t** r) {
            SpatialChromaDQRow(i, o, 120, r, s.cols, t, 3);
        });
        ASSERT_EQ(a.pixels, spatial.pixels) << s.cols << "x" << s.rows;
        TestImage48 b = in;
        EngineSweep<3>(b, [&](const int16_t* i, int16_t* o, int16_t** r) {
            BinomialChromaDQRow(i, o, r, s.cols, t, 2);
        });
        ASSERT_EQ(b.pixels, binomial.pixels) << s.cols << "x" << s.rows;
        for (int threads : {1, 2, 3, 8}) {
            TestImage48 im = in;
            SpatialChromaDQImage(im.Pixmap(), 120, t, 3, threads);
            ASSERT_EQ(im.pixels, spatial.pixels) << s.cols << "x" << s.rows << ", " << threads << " threads";
            im = in;
            BinomialChromaDQImage(im.Pixmap(), t, 2, threads);
            ASSERT_EQ(im.pixels, binomial.pixels) << s.cols << "x" << s.rows << ", " << threads << " threads";
        }
    }
}

TEST(ChromaDQ, SpatialAndBinomialFiltersEqualTheReferencesAtExtremes)
{
    // Samples over the whole 16-bit range (saturating box sums, negative brightness) and
    // offsets from below the floor to past the cap, with a small table and the tanh tables.
    IdentityTable id;
    const FColorLUT& tanh = Tanh();
    std::mt19937 random(31);
    std::uniform_int_distribution<int> any(-32768, 32767), pick(0, 3);
    for (int cols : {1, 3, 6, 37}) {
        TestImage48 in = RandomImage48(cols, 13, 5 + cols, 9000, 9000);
        for (auto& v : in.pixels)
            if (pick(random) == 0)
                v = static_cast<int16_t>(any(random));
        for (const FColorLUT* t : std::array<const FColorLUT*, 2>{&id.lut, &tanh}) {
            const TestImage48 expected = ReferenceBinomialDQ(in, *t, 3);
            TestImage48 im = in;
            BinomialChromaDQImage(im.Pixmap(), *t, 3, 3);
            ASSERT_EQ(im.pixels, expected.pixels) << cols << " columns, binomial";
        }
        for (int offset : {-5, 0, 1, 7, 120, 5000, 1 << 20, (1 << 20) + 9, 2147483647}) {
            const int64_t bounded = std::clamp<int64_t>(offset, 1, int64_t{1} << 20);
            for (const FColorLUT* t : std::array<const FColorLUT*, 2>{&id.lut, &tanh}) {
                const TestImage48 expected = ReferenceSpatialDQ(in, static_cast<int>(bounded), *t, 2);
                TestImage48 im = in;
                SpatialChromaDQImage(im.Pixmap(), offset, *t, 2, 2);
                ASSERT_EQ(im.pixels, expected.pixels) << cols << " columns, offset " << offset;
            }
        }
    }
}

TEST(ChromaDQ, CorrectionStepAndBrightnessMatching)
{
    IdentityTable id;
    // A flat image is its own binomial average: nothing changes.
    TestImage48 flat(9, 7);
    for (int i = 0; i < 9 * 7; ++i) {
        flat.pixels[3 * i] = 700;
        flat.pixels[3 * i + 1] = 1200;
        flat.pixels[3 * i + 2] = -40;
    }
    const TestImage48 before = flat;
    BinomialChromaDQImage(flat.Pixmap(), id.lut, 3, 2);
    EXPECT_EQ(flat.pixels, before.pixels);

    // A change of (+8, +8, +8) passed unchanged loses (24 >> 3) = 3 in every channel.
    std::vector<int16_t> row = {100, 100, 100}, in = {108, 108, 108};
    std::vector<int16_t> store(9);
    int16_t* ring[3] = {&store[0], &store[3], &store[6]};
    std::copy(in.begin(), in.end(), ring[0]);
    std::copy(in.begin(), in.end(), ring[1]);
    BinomialChromaDQRow(in.data(), row.data(), ring, 1, id.lut, 3);
    EXPECT_EQ(row, std::vector<int16_t>({105, 105, 105}));

    // Channel sum plus offset below zero: pulled toward black by at most the table's limit.
    std::vector<int16_t> dark = {-1000, -1000, -1000}, zero = {0, 0, 0};
    std::vector<int16_t> store5(15, 0);
    int16_t* ring5[5] = {&store5[0], &store5[3], &store5[6], &store5[9], &store5[12]};
    SpatialChromaDQRow(zero.data(), dark.data(), 1, ring5, 1, id.lut, 3);
    EXPECT_EQ(dark, std::vector<int16_t>({-1000 + 31 - 11, -1000 + 31 - 11, -1000 + 31 - 11}));
}

TEST(ChromaDQ, ZeroOffsetDoesNotDivideByZero)
{
    // Black surroundings make the target's sum no larger than its offset, the branch that
    // divides by the offset.
    TestImage48 im(6, 6);
    im.At(3, 3, 0) = 50;
    SpatialChromaDQImage(im.Pixmap(), 0, Tanh(), 3, 1);
    ChromaBlurImage(im.Pixmap(), 5.0, 5.0, 5.0, 0, Tanh(), 3);
    ChromaBlurImage(im.Pixmap(), 0.0, 0.0, -1.0, -5, Tanh(), 3);
    SUCCEED();
}

// ---- Display filter ----

struct Display {
    int cols, rows;
    std::vector<uint8_t> bytes;
    Display(int c, int r, uint8_t grey) : cols(c), rows(r), bytes(4 * static_cast<size_t>(c) * r, grey)
    {
        for (size_t i = 3; i < bytes.size(); i += 4)
            bytes[i] = 0;
    }
    FPixmapTemplate<FPixelClass32BGRA> Pixmap() { return {bytes.data(), cols, rows, 0}; }
};

TEST(ChromaFilterDisplay, GreyLevelsStayInOrderAndAlphaIsOpaque)
{
    int previous = -1;
    for (int level = 0; level <= 255; ++level) {
        Display d(6, 5, static_cast<uint8_t>(level));
        ChromaFilterDisplayImage(d.Pixmap(), 1200, 1200, 1200, 12);
        const int out = d.bytes[4 * (2 * 6 + 3) + 1];
        ASSERT_GE(out, previous) << "level " << level;
        // Bright greys keep their level: the brightness match must not overflow.
        if (level >= 200) {
            ASSERT_GE(out, level - 2) << "level " << level;
        }
        previous = out;
        for (size_t i = 3; i < d.bytes.size(); i += 4)
            ASSERT_EQ(d.bytes[i], 255);
    }
}

TEST(ChromaFilterDisplay, ColouredImagesOfEverySize)
{
    for (auto [cols, rows] : {std::pair{1, 1}, std::pair{3, 2}, std::pair{17, 11}}) {
        Display d(cols, rows, 0);
        std::mt19937 rng(cols);
        for (size_t i = 0; i < d.bytes.size(); ++i)
            d.bytes[i] = static_cast<uint8_t>(rng());
        ChromaFilterDisplayImage(d.Pixmap(), 1200, 1200, 1200, 12);
        for (size_t i = 3; i < d.bytes.size(); i += 4)
            ASSERT_EQ(d.bytes[i], 255);
    }
}

} // namespace

namespace
{

// The display filter as the spatial row filter streams it: squares / 16 smoothed,
// squares / 4 corrected, square roots back.
void ReferenceDisplayFilter(Display& d, int amplitude, int offsetFactor)
{
    const FColorLUT& t =
        *FGlobalLUTsClass::GetTanhLUTs(FDoubleRGB(amplitude, amplitude, amplitude), FDoubleRGB(1, 1, 1));
    const size_t n = 3 * static_cast<size_t>(d.cols);
    std::vector<int16_t> store(5 * n), input(n), output(n);
    int16_t* ring[5];
    for (int i = 0; i < 5; ++i)
        ring[i] = &store[i * n];
    auto square = [&](int y, int shift, std::vector<int16_t>& out) {
        for (int x = 0; x < d.cols; ++x)
            for (int k = 0; k < 3; ++k) {
                const int v = d.bytes[4 * (static_cast<size_t>(y) * d.cols + x) + 2 - k];
                out[3 * x + k] = static_cast<int16_t>((v * v) >> shift);
            }
    };
    const int offset = std::clamp(offsetFactor * 10, 1, 1 << 20);
    for (int c = 0; c <= d.rows + 1; ++c) {
        if (c >= 2)
            square(c - 2, 2, output);
        square(std::min(c, d.rows - 1), 4, input);
        if (c == 2)
            for (int i = 0; i < 2; ++i)
                std::copy(ring[2], ring[2] + n, ring[i]);
        SpatialChromaDQRow(input.data(), c >= 2 ? output.data() : nullptr, offset, ring,
                           static_cast<uint32_t>(d.cols), t, 3);
        if (c < 2)
            continue;
        for (int x = 0; x < d.cols; ++x) {
            uint8_t* px = &d.bytes[4 * (static_cast<size_t>(c - 2) * d.cols + x)];
            for (int k = 0; k < 3; ++k) {
                const int v = output[3 * x + k];
                px[2 - k] =
                    static_cast<uint8_t>(std::min(v <= 0 ? 0 : static_cast<int>(std::sqrt(4.0 * v)), 255));
            }
            px[3] = 255;
        }
    }
}

} // namespace

TEST(ChromaFilterDisplay, EqualsTheStreamedSpatialFilter)
{
    struct Case {
        int cols, rows, amplitude, offsetFactor;
    };
    for (const Case c :
         {Case{1, 1, 1200, 12}, Case{2, 3, 1200, 12}, Case{5, 4, 300, 0}, Case{17, 11, 1200, 12},
          Case{40, 23, 2500, 100000}, Case{9, 7, 60, -3}, Case{160, 90, 1200, 1}}) {
        Display d(c.cols, c.rows, 0);
        std::mt19937 rng(c.cols * 31 + c.rows);
        for (size_t i = 0; i < d.bytes.size(); ++i)
            d.bytes[i] = static_cast<uint8_t>(rng() % 4 == 0 ? 255 - rng() % 3 : rng());
        Display expected = d;
        ReferenceDisplayFilter(expected, c.amplitude, c.offsetFactor);
        ChromaFilterDisplayImage(d.Pixmap(), c.amplitude, c.amplitude, c.amplitude, c.offsetFactor);
        ASSERT_EQ(d.bytes, expected.bytes) << c.cols << "x" << c.rows;
    }
}
