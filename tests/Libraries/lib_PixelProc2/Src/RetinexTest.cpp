#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstdint>
#include <new>
#include <random>
#include <thread>
#include <vector>

#include "FException.h"
#include "Retinex.h"

namespace
{

struct Mono {
    int cols;
    int rows;
    std::vector<int16_t> data;
    Mono(int c, int r, int16_t v = 0) : cols(c), rows(r), data(static_cast<size_t>(c) * r, v) {}
    FRetinexImage Pixmap() { return FRetinexImage(data.data(), cols, rows, 0); }
    int16_t& At(int x, int y) { return data[static_cast<size_t>(y) * cols + x]; }
};

struct Rgb {
    int cols;
    int rows;
    std::vector<int16_t> data;
    Rgb(int c, int r, int16_t v = 0) : cols(c), rows(r), data(3 * static_cast<size_t>(c) * r, v) {}
    FPixmapTemplate<FPixelClass48SRGB> Pixmap()
    {
        return FPixmapTemplate<FPixelClass48SRGB>(data.data(), cols, rows, 0);
    }
};

// A lit scene with deep shadows: a smooth gradient, a dark block and a little noise.
Rgb Scene(int cols, int rows, uint32_t seed)
{
    Rgb s(cols, rows);
    std::mt19937 random(seed);
    std::uniform_int_distribution<int> noise(-20, 20);
    for (int y = 0; y < rows; ++y)
        for (int x = 0; x < cols; ++x) {
            int level = 200 + 3000 * x / cols;
            if (x > cols / 3 && x < cols / 2 && y > rows / 4)
                level = 40;
            for (int ch = 0; ch < 3; ++ch)
                s.data[3 * (static_cast<size_t>(y) * cols + x) + ch] =
                    static_cast<int16_t>(level + noise(random));
        }
    return s;
}

double Retinex(Rgb& in, Mono& out, double t = 1.0 / 60, double n = 4.0, int iso = 100,
               const std::atomic<bool>* cancel = nullptr)
{
    FRetinexImage o = out.Pixmap();
    return MultiScaleRetinex(in.Pixmap(), o, t, n, iso, cancel);
}

} // namespace

TEST(RetinexTest, MinMaxMeanIsTheMeanOfTruncatedRowMeans)
{
    Mono m(3, 2);
    m.data = {1, 2, 2, -7, 0, 0};
    int lo = 0, hi = 0;
    // Row means 5 / 3 = 1 and -7 / 3 = -2; (1 - 2) / 2 = 0 toward zero.
    EXPECT_EQ(RetinexMinMaxMean(m.Pixmap(), lo, hi), 0);
    EXPECT_EQ(lo, -7);
    EXPECT_EQ(hi, 2);
}

TEST(RetinexTest, DownsampleOddSizes)
{
    Mono in(5, 3);
    for (int y = 0; y < 3; ++y)
        for (int x = 0; x < 5; ++x)
            in.At(x, y) = static_cast<int16_t>(10 * x + 100 * y);
    Mono out(3, 2);
    FRetinexImage i = in.Pixmap(), o = out.Pixmap();
    double mean = 0;
    RetinexDownsample2x(&i, &o, &mean);
    // Row 0 from rows 0 and 1; row 1 from row 2 twice. The last column averages 3 and 4.
    EXPECT_EQ(out.data, (std::vector<int16_t>{55, 75, 85, 205, 225, 235}));
    EXPECT_DOUBLE_EQ(mean, (55 + 75 + 85 + 205 + 225 + 235) / 6.0);
    Mono tooSmall(1, 1);
    FRetinexImage t = tooSmall.Pixmap();
    EXPECT_THROW(RetinexDownsample2x(&i, &t, nullptr), FException);
    EXPECT_THROW(RetinexDownsample2x(nullptr, &o, nullptr), FException);
}

TEST(RetinexTest, UpsampleBlendIsExactOnConstantsAndRamps)
{
    Mono coarse(6, 5, 1234), fine(12, 10, 77), out(13, 10);
    std::vector<int16_t> scratch(RetinexUpsampleScratch(6));
    FRetinexImage c = coarse.Pixmap(), f = fine.Pixmap(), o = out.Pixmap();
    RetinexUpsampleBlend(&c, &f, &o, 1.0, 0.0, scratch.data());
    EXPECT_EQ(out.data, std::vector<int16_t>(out.data.size(), 1234)); // column 12 repeats
    RetinexUpsampleBlend(&c, &f, &f, 0.5, 0.5, scratch.data());
    EXPECT_EQ(fine.data, std::vector<int16_t>(fine.data.size(), (1234 * 128 + 77 * 128) >> 8));

    // A vertical ramp stays a ramp in the interior rows.
    Mono ramp(4, 8);
    for (int y = 0; y < 8; ++y)
        for (int x = 0; x < 4; ++x)
            ramp.At(x, y) = static_cast<int16_t>(64 * y);
    Mono up(8, 16), zero(8, 16);
    FRetinexImage r = ramp.Pixmap(), u = up.Pixmap(), z = zero.Pixmap();
    RetinexUpsampleBlend(&r, &z, &u, 1.0, 0.0, scratch.data());
    for (int y = 5; y < 10; ++y)
        EXPECT_EQ(up.At(3, y + 1) - up.At(3, y), 32) << y;
    EXPECT_THROW(RetinexUpsampleBlend(&r, &z, &u, 1.0, 0.0, nullptr), FException);
}

TEST(RetinexTest, PyramidSmoothOfAConstantIsThatConstant)
{
    for (auto [cols, rows] : {std::pair{37, 23}, std::pair{400, 9}, std::pair{1, 5}}) {
        Mono in(cols, rows, 900), out(cols, rows);
        std::vector<int16_t> scratch(std::max<int64_t>(RetinexPyramidScratch(cols, rows), 1));
        FRetinexImage i = in.Pixmap(), o = out.Pixmap();
        const FRetinexStatistics s = RetinexPyramidSmooth(&i, &o, scratch.data(), scratch.size());
        EXPECT_EQ(out.data, in.data) << cols << "x" << rows;
        if (cols > 2 * kRetinexStatisticsWidth)
            continue;
        if (cols >= 2 && rows >= 2) {
            EXPECT_EQ(s.mean, 900);
        }
    }
    Mono in(64, 64, 5);
    FRetinexImage i = in.Pixmap();
    int16_t few[16];
    EXPECT_THROW(RetinexPyramidSmooth(&i, &i, few, 16), FException);
}

TEST(RetinexTest, UniformImagesGiveADefinedResult)
{
    // Around 1975 the shifted log image has mean 0, where the level ratios would be 0 / 0.
    for (int level : {0, 500, 1972, 1975, 1979, 4000}) {
        Rgb in(40, 30, static_cast<int16_t>(level));
        Mono out(40, 30, 12345);
        Retinex(in, out);
        for (int16_t v : out.data)
            ASSERT_EQ(v, out.data[0]) << level;
        if (level >= 1972 && level <= 1979) {
            EXPECT_EQ(out.data[0], 0) << level;
        }
    }
}

TEST(RetinexTest, ShadowsGetPositiveValuesAndAFillLightIsSuggested)
{
    Rgb in = Scene(240, 160, 1);
    Mono out(240, 160);
    const double fill = Retinex(in, out, 1.0 / 60, 4.0, 100);
    // The dark block lies well below its surroundings: retinex lifts it.
    EXPECT_GT(out.At(100, 100), out.At(230, 100));
    EXPECT_GE(fill, 0.0);
    EXPECT_EQ(fill, std::round(fill * 10) / 10);
}

TEST(RetinexTest, FillLightSuggestion)
{
    const FRetinexStatistics s{0, -3000, 2000};
    // Missing exposure data: no suggestion.
    EXPECT_EQ(RetinexSuggestedFillLight(s, 1.0 / 60, 0.4, 100), 0.0);
    EXPECT_EQ(RetinexSuggestedFillLight(s, 0.0, 4.0, 100), 0.0);
    EXPECT_EQ(RetinexSuggestedFillLight(s, 1.0 / 60, 4.0, 0), 0.0);
    // High ISO or long exposure: none either.
    EXPECT_EQ(RetinexSuggestedFillLight(s, 1.0 / 60, 4.0, 800), 0.0);
    EXPECT_EQ(RetinexSuggestedFillLight(s, 2.0, 4.0, 100), 0.0);
    const double av = std::log(16.0 * 60) * 1.44269504, sv = std::log(32.0) * 1.44269504;
    const double G = (std::exp(2.0) - std::exp(-3.0)) * (av - sv);
    EXPECT_DOUBLE_EQ(RetinexSuggestedFillLight(s, 1.0 / 60, 4.0, 100),
                     0.1 * std::trunc(0.8 * std::log(G + 1) + 0.5));
    EXPECT_DOUBLE_EQ(
        RetinexSuggestedFillLight(s, 1.0 / 60, 4.0, 500),
        0.1 * std::trunc(
                  0.4 * std::log(0.0 +
                                 (std::exp(2.0) - std::exp(-3.0)) * (av - std::log(160.0) * 1.44269504) + 1) +
                  0.5));
    // A very wide, short image reaches no level 200 wide: statistics 0, no suggestion.
    Rgb wide(2000, 3, 800);
    Mono out(2000, 3);
    EXPECT_EQ(Retinex(wide, out), 0.0);
}

TEST(RetinexTest, CancelAndErrors)
{
    Rgb in = Scene(30, 20, 2);
    Mono out(30, 20, 77);
    std::atomic<bool> cancel{true};
    EXPECT_EQ(Retinex(in, out, 1.0 / 60, 4.0, 100, &cancel), 0.0);
    EXPECT_EQ(out.data, std::vector<int16_t>(out.data.size(), 77));

    Rgb small(2, 9);
    Mono smallOut(2, 9);
    try {
        Retinex(small, smallOut);
        FAIL();
    } catch (const FExceptionPixelProc2& e) {
        EXPECT_STREQ(e.GetMessage(), "Retinexing: input image too small");
    }
    Mono shortOut(29, 20);
    EXPECT_THROW(Retinex(in, shortOut), FExceptionPixelProc2);
}

TEST(RetinexTest, SameResultFromRunToRunAndAcrossThreads)
{
    Rgb in = Scene(160, 120, 3);
    Mono first(160, 120);
    const double fill = Retinex(in, first);
    std::vector<Mono> outs(4, Mono(160, 120));
    std::vector<double> fills(4);
    std::vector<std::thread> threads;
    for (int i = 0; i < 4; ++i)
        threads.emplace_back([&, i] {
            Rgb copy = in;
            fills[i] = Retinex(copy, outs[i]);
        });
    for (auto& t : threads)
        t.join();
    for (int i = 0; i < 4; ++i) {
        EXPECT_EQ(outs[i].data, first.data);
        EXPECT_EQ(fills[i], fill);
    }
}

TEST(RetinexTest, GainTable)
{
    FLUT table(kRetinexGainLUTSize);
    MakeRetinexGainLUT(&table, 0.0, 256);
    for (int i = 0; i < kRetinexGainLUTSize; ++i)
        ASSERT_EQ(table.Get(i), 256);

    MakeRetinexGainLUT(&table, 0.5, 256);
    const int limit = static_cast<int>(std::trunc(256 * std::exp(1.33 * 0.5)));
    EXPECT_EQ(table.Get(0), 256);
    for (int m = 1; m < 32768; ++m) {
        ASSERT_GE(table.Get(m), table.Get(m - 1)) << m;
        ASSERT_LE(table.Get(-m), table.Get(-m + 1)) << m;
    }
    EXPECT_EQ(table.Get(32767), limit);
    EXPECT_LT(table.Get(-32767), 256);
    EXPECT_EQ(table.Get(0x8000), table.Get(0x8001));

    // Strengths beyond the 16-bit range saturate instead of wrapping negative.
    MakeRetinexGainLUT(&table, 10.0, 256);
    EXPECT_EQ(table.Get(32767), 32767);
    for (int m = 0; m < 32768; ++m)
        ASSERT_GT(table.Get(m), 0) << m;

    FLUT wrong(256);
    EXPECT_THROW(MakeRetinexGainLUT(&wrong, 1.0, 256), FException);
    EXPECT_THROW(MakeRetinexGainLUT(nullptr, 1.0, 256), FException);
}

TEST(RetinexTest, MinMaxMeanOfWideRowsMatchesSampleBySample)
{
    // Wide enough for the eight-sample steps, with extremes in the steps and in the tail.
    std::mt19937 random(4);
    std::uniform_int_distribution<int> value(-32768, 32767);
    for (int cols : {8, 37, 1000}) {
        Mono m(cols, 5);
        for (int16_t& v : m.data)
            v = static_cast<int16_t>(value(random));
        int64_t sumOfMeans = 0;
        int wantLo = 32767, wantHi = -32768;
        for (int y = 0; y < m.rows; ++y) {
            int64_t sum = 0;
            for (int x = 0; x < cols; ++x) {
                sum += m.At(x, y);
                wantLo = std::min<int>(wantLo, m.At(x, y));
                wantHi = std::max<int>(wantHi, m.At(x, y));
            }
            sumOfMeans += sum / cols;
        }
        int lo = 0, hi = 0;
        EXPECT_EQ(RetinexMinMaxMean(m.Pixmap(), lo, hi), sumOfMeans / m.rows) << cols;
        EXPECT_EQ(lo, wantLo) << cols;
        EXPECT_EQ(hi, wantHi) << cols;
    }
}

TEST(RetinexTest, SameResultForAnyThreadCountAndKeptStorage)
{
    Rgb in = Scene(203, 117, 8);
    Mono expected(203, 117);
    const double fill = Retinex(in, expected);
    FRetinexScratch scratch;
    for (int threads : {1, 2, 3, 8}) {
        Mono out(203, 117);
        FRetinexImage o = out.Pixmap();
        EXPECT_EQ(MultiScaleRetinex(in.Pixmap(), o, 1.0 / 60, 4.0, 100, nullptr, scratch, threads), fill);
        EXPECT_EQ(out.data, expected.data) << threads;
    }
    // A smaller image in the storage the larger one left.
    Rgb small = Scene(64, 40, 9);
    Mono fresh(64, 40), kept(64, 40);
    Retinex(small, fresh);
    FRetinexImage k = kept.Pixmap();
    MultiScaleRetinex(small.Pixmap(), k, 1.0 / 60, 4.0, 100, nullptr, scratch, 4);
    EXPECT_EQ(kept.data, fresh.data);
}

TEST(RetinexTest, WorkingPlanesBeyondTheImageCapAreRefusedBeforeAllocation)
{
    // 2^32 pixels: the pyramid scratch would still be addressable, its planes would not.
    int16_t sample[3] = {};
    FPixmapTemplate<FPixelClass48SRGB> in(sample, 1 << 16, 1 << 16, 6);
    FRetinexImage out(sample, 1 << 16, 1 << 16, 2);
    FRetinexScratch scratch;
    EXPECT_THROW(MultiScaleRetinex(in, out, 1.0 / 60, 4.0, 100, nullptr, scratch, 1), std::bad_alloc);
    EXPECT_EQ(scratch.Bytes(), 0u);
}
