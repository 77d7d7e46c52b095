#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <vector>

#include "CorrectionsTestImage.h"
#include "NeighborizeOutliers.h"

namespace
{

struct Thresholds {
    FIntRGB low, clip, chroma;
};

Thresholds MakeThresholds(const FDoubleRGB& neutral, int saturation)
{
    Thresholds t;
    NeighborizeThresholds(neutral, FIntRGB(saturation, saturation, saturation), t.low, t.clip, t.chroma);
    return t;
}

TEST(NeighborizeThresholds, NeutralGreyAndDegenerateNeutrals)
{
    const Thresholds t = MakeThresholds(FDoubleRGB(1, 1, 1), 16000);
    EXPECT_EQ(t.clip, FIntRGB(18000, 18000, 18000));
    EXPECT_EQ(t.chroma, FIntRGB(1365, 1365, 1365));
    EXPECT_EQ(t.low, FIntRGB(9000, 9000, 9000));

    const Thresholds warm = MakeThresholds(FDoubleRGB(0.5, 1.0, 0.25), 16000);
    EXPECT_EQ(warm.clip, FIntRGB(9000, 18000, 4500));
    EXPECT_EQ(warm.low, FIntRGB(9000 - 2250, 18000 - 2250, 4500 - 2250));

    for (const FDoubleRGB& bad : {FDoubleRGB(0, 1, 1), FDoubleRGB(-1, 1, 1), FDoubleRGB(1, 1e308 * 10, 1)}) {
        const Thresholds z = MakeThresholds(bad, 16000);
        EXPECT_EQ(z.clip, FIntRGB());
        EXPECT_EQ(z.low, FIntRGB());
    }
}

// ---- Whole-image reference, with image-sized flag maps and output image ----

struct Reference {
    TestImage48 im;
    int count = 0;
};

Reference ReferenceNeighborize(const TestImage48& in, bool multi, const Thresholds& t)
{
    Reference ref{in, 0};
    TestImage48& im = ref.im;
    const int W = in.cols, H = in.rows;
    const int range = t.clip.g - t.low.g;
    if (W < 5 || range < 100)
        return ref;
    const int64_t K = (int64_t{1} << 28) / range;
    const int64_t low[3] = {t.low.r, t.low.g, t.low.b};
    const int64_t chroma[3] = {t.chroma.r, t.chroma.g, t.chroma.b};
    // Flag maps with two spare rows on each side.
    std::vector<std::vector<uint8_t>> f3(H + 4, std::vector<uint8_t>(W, 0)), f5 = f3;
    auto F3 = [&](int y) -> std::vector<uint8_t>& { return f3[y + 2]; };
    auto F5 = [&](int y) -> std::vector<uint8_t>& { return f5[y + 2]; };
    TestImage48 out(W, H);
    auto sat = [](int64_t v) { return static_cast<int16_t>(std::clamp<int64_t>(v, -32768, 32767)); };

    for (int y = 0; y < H; ++y) {
        for (int x = 2; x < W - 2; ++x) {
            int64_t v[3] = {im.At(x, y, 0), im.At(x, y, 1), im.At(x, y, 2)};
            const int64_t m = std::min({v[0] - low[0], v[1] - low[1], v[2] - low[2]});
            if (m <= 0)
                continue;
            const int64_t s = v[0] + v[1] + v[2];
            int64_t d[3];
            for (int c = 0; c < 3; ++c)
                d[c] = ((s * chroma[c]) >> 12) - v[c];
            const int64_t dmin = std::min({d[0], d[1], d[2]});
            for (int c = 0; c < 3; ++c)
                d[c] -= std::min<int64_t>(dmin, 0);
            if (m < range) {
                int64_t w = 16384 - ((m * K) >> 14);
                w = 16384 - ((w * w) >> 14);
                w = (w * w) >> 14;
                for (int c = 0; c < 3; ++c)
                    im.At(x, y, c) = sat(v[c] + ((w * d[c]) >> 14));
                continue;
            }
            for (int c = 0; c < 3; ++c)
                im.At(x, y, c) = sat(v[c] + d[c]);
            for (int dy = -2; dy <= 2; ++dy) {
                const int reach = (dy == -2 || dy == 2) ? 1 : 2;
                for (int dx = -reach; dx <= reach; ++dx)
                    F5(y + dy)[x + dx] = 1;
            }
            for (int dy = -1; dy <= 1; ++dy)
                for (int dx = -1; dx <= 1; ++dx)
                    F3(y + dy)[x + dx] = 1;
        }
        if (y < 2)
            continue;
        if (y < 4) {
            for (int x = 0; x < W; ++x)
                for (int c = 0; c < 3; ++c)
                    out.At(x, y - 2, c) = im.At(x, y - 2, c);
            continue;
        }
        for (int x = 2; x < W - 2; ++x) {
            if (!F3(y - 1)[x])
                continue;
            const int64_t a =
                ((int64_t{im.At(x, y - 1, 0)} + im.At(x, y - 1, 1) + im.At(x, y - 1, 2)) * 1365) >> 12;
            for (int c = 0; c < 3; ++c) {
                const int64_t v = multi ? a : (im.At(x, y - 1, c) + a) / 2;
                im.At(x, y - 1, c) = static_cast<int16_t>(std::min<int64_t>(v, 32000));
            }
        }
        if (multi)
            for (int x = 2; x < W - 2; ++x) {
                if (!F3(y)[x])
                    continue;
                const int64_t a = ((int64_t{im.At(x, y, 0)} + im.At(x, y, 1) + im.At(x, y, 2)) * 1365) >> 12;
                for (int c = 0; c < 3; ++c)
                    im.At(x, y, c) = static_cast<int16_t>(a);
            }
        for (int x = 2; x < W - 2; ++x) {
            if (F5(y - 2)[x]) {
                int64_t sum[3] = {0, 0, 0};
                for (int dy = -2; dy <= 2; ++dy) {
                    const int reach = (dy == -2 || dy == 2) ? 1 : 2;
                    for (int dx = -reach; dx <= reach; ++dx)
                        for (int c = 0; c < 3; ++c)
                            sum[c] += im.At(x + dx, y - 2 + dy, c);
                }
                int64_t mean[3], pSum = 0, mSum = 0;
                for (int c = 0; c < 3; ++c) {
                    mean[c] = (sum[c] * 195) >> 12;
                    pSum += im.At(x, y - 2, c);
                    mSum += mean[c];
                }
                for (int c = 0; c < 3; ++c)
                    out.At(x, y - 2, c) = sat(std::min<int64_t>(mean[c] + ((pSum - mSum) >> 2), 32000));
                ++ref.count;
            } else {
                for (int c = 0; c < 3; ++c)
                    out.At(x, y - 2, c) = im.At(x, y - 2, c);
            }
            for (int c = 0; c < 3; ++c)
                im.At(x, y - 4, c) = out.At(x, y - 4, c);
        }
    }
    // The last two results reach the image too.
    for (int r : {H - 4, H - 3})
        if (r >= 0)
            for (int x = 2; x < W - 2; ++x)
                for (int c = 0; c < 3; ++c)
                    im.At(x, r, c) = out.At(x, r, c);
    return ref;
}

TEST(NeighborizeOutliers, SweepEqualsTheWholeImageReference)
{
    const Thresholds t = MakeThresholds(FDoubleRGB(0.9, 1.0, 0.8), 16000);
    struct Size {
        int cols, rows;
    };
    for (Size s : {Size{5, 1}, Size{5, 5}, Size{6, 4}, Size{48, 40}, Size{101, 23}}) {
        for (bool multi : {false, true}) {
            const TestImage48 in = RandomImage48(s.cols, s.rows, 21 + s.cols, 12000, 6000, 30000);
            const Reference ref = ReferenceNeighborize(in, multi, t);
            TestImage48 im = in;
            const int count = NeighborizeImage(im.Pixmap(), multi, t.low, t.clip, t.chroma);
            ASSERT_EQ(im.pixels, ref.im.pixels) << s.cols << "x" << s.rows << (multi ? " multi" : "");
            ASSERT_EQ(count, ref.count) << s.cols << "x" << s.rows;
            if (s.cols * s.rows > 1000) {
                ASSERT_GT(count, 0);
            }
        }
    }
}

// In bands the pixels and the count are the one sweep's at every thread count, also when
// short halos make the bands' guesses of the sweep's state wrong, so that bands are swept
// again (over highlights that span band edges, and over very wide images).
TEST(NeighborizeOutliers, BandsGiveTheOneSweepResult)
{
    const Thresholds t = MakeThresholds(FDoubleRGB(0.9, 1.0, 0.8), 16000);
    struct Size {
        int cols, rows;
    };
    for (Size s : {Size{5, 9}, Size{48, 40}, Size{101, 97}, Size{65000, 17}}) {
        for (bool multi : {false, true}) {
            const TestImage48 in = RandomImage48(s.cols, s.rows, 21 + s.rows, 12000, 6000, 30000);
            TestImage48 one = in;
            const int count = NeighborizeImage(one.Pixmap(), multi, t.low, t.clip, t.chroma);
            for (int threads : {2, 3, 8, 64})
                for (int halo : {0, 5, 16}) {
                    TestImage48 banded = in;
                    EXPECT_EQ(
                        NeighborizeImage(banded.Pixmap(), multi, t.low, t.clip, t.chroma, threads, halo),
                        count)
                        << s.cols << "x" << s.rows << ", " << threads << " threads, halo " << halo;
                    ASSERT_EQ(banded.pixels, one.pixels)
                        << s.cols << "x" << s.rows << (multi ? " multi, " : ", ") << threads
                        << " threads, halo " << halo;
                }
        }
    }
}

TEST(NeighborizeOutliers, FinishWritesBackTheRowsNearTheBottom)
{
    const Thresholds t = MakeThresholds(FDoubleRGB(1, 1, 1), 16000);
    TestImage48 im(12, 10);
    std::fill(im.pixels.begin(), im.pixels.end(), int16_t{1000});
    for (int c = 0; c < 3; ++c)
        im.At(6, 7, c) = static_cast<int16_t>(25000 + 1000 * c); // a saturated pixel in row H - 3
    const TestImage48 in = im;
    FNeighborizeSweep sweep(12, false, t.low, t.clip, t.chroma);
    for (int y = 0; y < 10; ++y)
        sweep.AddRow(im.Row(y));
    const TestImage48 beforeFinish = im;
    sweep.Finish();
    // Rows H - 4 and H - 3 take their neighbourhood means only now.
    EXPECT_NE(im.At(6, 6, 0), beforeFinish.At(6, 6, 0));
    EXPECT_NE(im.At(6, 7, 0), beforeFinish.At(6, 7, 0));
    EXPECT_EQ(im.pixels, ReferenceNeighborize(in, false, t).im.pixels);
}

TEST(NeighborizeOutliers, PixelsBelowTheTransitionAndNarrowImagesAreLeft)
{
    const Thresholds t = MakeThresholds(FDoubleRGB(1, 1, 1), 16000);
    TestImage48 clean = RandomImage48(40, 30, 5, 4000, 3000, 8999);
    const TestImage48 before = clean;
    EXPECT_EQ(NeighborizeImage(clean.Pixmap(), true, t.low, t.clip, t.chroma), 0);
    EXPECT_EQ(clean.pixels, before.pixels);

    TestImage48 narrow = RandomImage48(4, 12, 5, 20000, 100, 32000);
    const TestImage48 narrowBefore = narrow;
    EXPECT_EQ(NeighborizeImage(narrow.Pixmap(), true, t.low, t.clip, t.chroma), 0);
    EXPECT_EQ(narrow.pixels, narrowBefore.pixels);
}

TEST(NeighborizeOutliers, FullySaturatedPixelTakesItsRaisedNeutral)
{
    const Thresholds t = MakeThresholds(FDoubleRGB(1, 1, 1), 16000);
    std::vector<int16_t> row(3 * 5, 0);
    row[6] = 20000, row[7] = 18000, row[8] = 19000; // smallest excess over low = range
    std::vector<int16_t> store(9 * 5);
    std::vector<uint8_t> flags(8 * 5);
    FNeighborizeRings rings;
    for (int i = 0; i < 3; ++i)
        rings.pixels[i] = &store[15 * i];
    for (int i = 0; i < 3; ++i)
        rings.flags3[i] = &flags[5 * i];
    for (int i = 0; i < 5; ++i)
        rings.flags5[i] = &flags[5 * (3 + i)];
    EXPECT_EQ(NeighborizeOutliers(row.data(), nullptr, nullptr, nullptr, nullptr, rings, false, 5, t.low,
                                  t.clip, t.chroma),
              0);
    EXPECT_EQ(row[6], 20000);
    EXPECT_EQ(row[7], 20000);
    EXPECT_EQ(row[8], 20000);
    EXPECT_EQ(rings.flags5[2][4], 1);
    EXPECT_EQ(rings.flags3[1][3], 1);

    // Pulled toward a brighter neutral, a bright pixel saturates instead of wrapping.
    std::vector<int16_t> bright(3 * 5, 0);
    bright[6] = 32767, bright[7] = 32767, bright[8] = 20000;
    NeighborizeOutliers(bright.data(), nullptr, nullptr, nullptr, nullptr, rings, false, 5, t.low, t.clip,
                        t.chroma);
    EXPECT_GT(bright[8], 20000);
    EXPECT_EQ(bright[6], 32767);
}

TEST(NeighborizeRow, ReddishNeighboursOfASaturatedPixel)
{
    const Thresholds t = MakeThresholds(FDoubleRGB(1, 1, 1), 16000);
    TestImage48 im(5, 3);
    std::fill(im.pixels.begin(), im.pixels.end(), int16_t{5000});
    for (int c = 0; c < 3; ++c)
        im.At(2, 1, c) = 20000;
    im.At(1, 0, 0) = 3000, im.At(1, 0, 1) = 500, im.At(1, 0, 2) = 500;   // reddish: becomes its neutral
    im.At(3, 2, 0) = -100, im.At(3, 2, 1) = -110, im.At(3, 2, 2) = -100; // negative red: the 3:1 blend
    im.At(2, 0, 0) = 100, im.At(2, 0, 1) = 3000, im.At(2, 0, 2) = 3000;  // bluish-green: stays
    NeighborizeRow(im.Row(1), im.Row(0), im.Row(2), 5, t.low, t.clip, t.chroma);
    EXPECT_EQ(im.At(1, 0, 0), 1333);
    EXPECT_EQ(im.At(1, 0, 2), 1333);
    EXPECT_EQ(im.At(3, 2, 0), -101);
    EXPECT_EQ(im.At(3, 2, 1), -109);
    EXPECT_EQ(im.At(2, 0, 0), 100);
    EXPECT_EQ(im.At(2, 0, 1), 3000);

    TestImage48 ext(7, 3);
    std::fill(ext.pixels.begin(), ext.pixels.end(), int16_t{5000});
    for (int c = 0; c < 3; ++c)
        ext.At(3, 0, c) = 20000; // saturated in the previous row
    ext.At(5, 1, 0) = 3000, ext.At(5, 1, 1) = 500, ext.At(5, 1, 2) = 500;
    NeighborizeRowExtended(ext.Row(1), ext.Row(0), ext.Row(2), 7, t.low, t.clip, t.chroma);
    EXPECT_EQ(ext.At(5, 1, 0), 1333);
}

} // namespace
