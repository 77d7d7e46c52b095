#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <string>

#include "CorrectionsTestImage.h"
#include "Despeckle.h"
#include "FException.h"

namespace
{

// Whole-image references: rows from the top, the row above taken from the result, the
// current and lower rows from the original image.
TestImage48 ReferenceChannels(const TestImage48& in)
{
    TestImage48 out = in;
    for (int y = 1; y + 1 < in.rows; ++y)
        for (int x = 1; x + 1 < in.cols; ++x)
            for (int c = 0; c < 3; ++c) {
                const int n[8] = {out.At(x - 1, y - 1, c), out.At(x, y - 1, c),   out.At(x + 1, y - 1, c),
                                  in.At(x - 1, y, c),      in.At(x + 1, y, c),    in.At(x - 1, y + 1, c),
                                  in.At(x, y + 1, c),      in.At(x + 1, y + 1, c)};
                const int v = in.At(x, y, c);
                if (v > *std::max_element(n, n + 8))
                    out.At(x, y, c) = static_cast<int16_t>(*std::max_element(n, n + 8));
                if (v < *std::min_element(n, n + 8))
                    out.At(x, y, c) = static_cast<int16_t>(*std::min_element(n, n + 8));
            }
    return out;
}

struct Px {
    int r, g, b;
    int Luma() const { return r + 2 * g + b; }
};

TestImage48 ReferenceLuma(const TestImage48& in)
{
    TestImage48 out = in;
    for (int y = 1; y + 1 < in.rows; ++y)
        for (int x = 1; x + 1 < in.cols; ++x) {
            auto above = [&](int dx) {
                return Px{out.At(x + dx, y - 1, 0), out.At(x + dx, y - 1, 1), out.At(x + dx, y - 1, 2)};
            };
            auto orig = [&](int dx, int dy) {
                return Px{in.At(x + dx, y + dy, 0), in.At(x + dx, y + dy, 1), in.At(x + dx, y + dy, 2)};
            };
            const Px c = orig(0, 0);
            // Direct: left, right, above, below. Diagonal: above-left, above-right, below-left, below-right.
            const Px direct[4] = {orig(-1, 0), orig(1, 0), above(0), orig(0, 1)};
            const Px diag[4] = {above(-1), above(1), orig(-1, 1), orig(1, 1)};
            const int lc = c.Luma();
            const Px* src = nullptr;
            bool peak = false;
            if (lc > direct[0].Luma() && lc > direct[1].Luma()) {
                int e = 5, w = 5;
                for (int i = 0; i < 4; ++i) {
                    e = std::max(e, direct[i].Luma());
                    w = std::max(w, diag[i].Luma());
                }
                const bool coloured = lc > e && std::max({c.r, c.g, c.b}) > (lc >> 1) + 10;
                if ((coloured && lc > w) || (lc > 2 * e && lc > 2 * w)) {
                    peak = true;
                    const Px* group = w > e ? diag : direct;
                    const int target = w > e ? w : e;
                    src = &group[0];
                    int best = -1;
                    for (int i = 0; i < 4; ++i)
                        if (group[i].Luma() == target) {
                            best = i;
                            break;
                        }
                    if (best < 0) {
                        best = 0;
                        for (int i = 1; i < 4; ++i)
                            if (group[i].Luma() > group[best].Luma())
                                best = i;
                    }
                    src = &group[best];
                }
            } else if (lc < direct[0].Luma() && lc < direct[1].Luma()) {
                int f = direct[0].Luma(), v = diag[0].Luma();
                for (int i = 1; i < 4; ++i) {
                    f = std::min(f, direct[i].Luma());
                    v = std::min(v, diag[i].Luma());
                }
                if (lc < f && lc < v) {
                    const Px* group = v < f ? diag : direct;
                    const int target = v < f ? v : f;
                    for (int i = 0; i < 4 && !src; ++i)
                        if (group[i].Luma() == target)
                            src = &group[i];
                }
            }
            if (!src)
                continue;
            int r = src->r, g = src->g, b = src->b;
            auto beyond = [&](int v, int cv) { return peak ? v > cv : v < cv; };
            if (beyond(r, c.r)) {
                const int d = (c.r - r) >> 2;
                r = c.r - d, g -= d, b -= d;
            }
            if (beyond(g, c.g)) {
                const int d = (2 * (c.g - g)) >> 2;
                g = c.g - d, r -= d, b -= d;
            }
            if (beyond(b, c.b)) {
                const int d = (c.b - b) >> 2;
                b = c.b - d, r -= d, g -= d;
            }
            out.At(x, y, 0) = static_cast<int16_t>(r);
            out.At(x, y, 1) = static_cast<int16_t>(g);
            out.At(x, y, 2) = static_cast<int16_t>(b);
        }
    return out;
}

TEST(Despeckle, StreamedRowsEqualTheWholeImageReference)
{
    struct Size {
        int cols, rows;
    };
    for (Size s : {Size{3, 3}, Size{4, 7}, Size{64, 48}, Size{131, 5}}) {
        for (uint32_t seed : {1u, 2u, 3u}) {
            // Low noise so that spikes and pits stand out as the filters' targets.
            const TestImage48 in = RandomImage48(s.cols, s.rows, seed, 1500, 300);
            TestImage48 channels = in;
            DespeckleImage(channels.Pixmap(), true);
            ASSERT_EQ(channels.pixels, ReferenceChannels(in).pixels)
                << s.cols << "x" << s.rows << " seed " << seed;
            TestImage48 luma = in;
            DespeckleImage(luma.Pixmap(), false);
            ASSERT_EQ(luma.pixels, ReferenceLuma(in).pixels) << s.cols << "x" << s.rows << " seed " << seed;
            if (s.cols * s.rows > 1000) {
                ASSERT_NE(channels.pixels, in.pixels);
                ASSERT_NE(luma.pixels, in.pixels);
            }
            // Edge columns and rows never change.
            for (int y = 0; y < s.rows; ++y)
                for (int c = 0; c < 3; ++c) {
                    ASSERT_EQ(luma.At(0, y, c), in.At(0, y, c));
                    ASSERT_EQ(luma.At(s.cols - 1, y, c), in.At(s.cols - 1, y, c));
                }
        }
    }
}

// In bands at every thread count the result is the one sweep's, also where a band's guess
// of the row above it is wrong (short halos: the bands' first rows are swept again), on
// spikes in every other row of some columns and on wide images of a few rows.
TEST(Despeckle, BandsGiveTheOneSweepResult)
{
    struct Case {
        int cols, rows;
        int noise;
    };
    for (Case c : {Case{3, 3, 300}, Case{64, 200, 300}, Case{97, 301, 4000}, Case{65000, 4, 300}}) {
        TestImage48 in = RandomImage48(c.cols, c.rows, 7, 1500, c.noise);
        for (int y = 0; y < c.rows; ++y)
            for (int x = 3; x < c.cols; x += 11)
                for (int ch = 0; ch < 3; ++ch)
                    in.At(x, y, ch) = static_cast<int16_t>(y % 2 == 0 ? 9000 + 13 * y : 200);
        for (bool perChannel : {true, false}) {
            TestImage48 one = in;
            DespeckleImage(one.Pixmap(), perChannel, 1);
            for (int threads : {2, 3, 8, 64})
                for (int halo : {0, 1, 16}) {
                    TestImage48 banded = in;
                    DespeckleImage(banded.Pixmap(), perChannel, threads, halo);
                    ASSERT_EQ(banded.pixels, one.pixels)
                        << c.cols << "x" << c.rows << (perChannel ? " channels, " : " luma, ") << threads
                        << " threads, halo " << halo;
                }
        }
    }
}

TEST(Despeckle, FlatImageIsUnchanged)
{
    TestImage48 im(20, 10);
    std::fill(im.pixels.begin(), im.pixels.end(), int16_t{1234});
    const TestImage48 before = im;
    DespeckleImage(im.Pixmap(), true);
    DespeckleImage(im.Pixmap(), false);
    EXPECT_EQ(im.pixels, before.pixels);
}

// A 3 x 3 block of one value per channel with a different centre.
TestImage48 Block(int around, int centre)
{
    TestImage48 im(3, 3);
    std::fill(im.pixels.begin(), im.pixels.end(), static_cast<int16_t>(around));
    for (int c = 0; c < 3; ++c)
        im.At(1, 1, c) = static_cast<int16_t>(centre);
    return im;
}

TEST(Despeckle, ChannelSpikeTakesTheLargestNeighbourUnlessOneEqualsIt)
{
    TestImage48 im = Block(100, 900);
    for (int i = 0; i < 9; ++i)
        if (i != 4)
            im.pixels[3 * i] = static_cast<int16_t>(100 + 10 * i);
    DespeckleRowChannels(im.Row(0), im.Row(1), im.Row(2), 3);
    EXPECT_EQ(im.At(1, 1, 0), 180);
    TestImage48 tie = Block(100, 900);
    tie.At(0, 2, 0) = 900;
    DespeckleRowChannels(tie.Row(0), tie.Row(1), tie.Row(2), 3);
    EXPECT_EQ(tie.At(1, 1, 0), 900);
}

TEST(Despeckle, LumaSpikesAndPits)
{
    TestImage48 spike = Block(100, 1000); // neighbours of luma 400, centre 4000: not coloured, > 2x
    DespeckleRowLuma(spike.Row(0), spike.Row(1), spike.Row(2), 3);
    EXPECT_EQ(spike.At(1, 1, 0), 100);
    EXPECT_EQ(spike.At(1, 1, 2), 100);

    TestImage48 pit = Block(1000, 100);
    DespeckleRowLuma(pit.Row(0), pit.Row(1), pit.Row(2), 3);
    EXPECT_EQ(pit.At(1, 1, 1), 1000);

    // Dark surroundings: the floor of 5 lets only a centre of luma above 10 go.
    TestImage48 bright = Block(0, 3);
    DespeckleRowLuma(bright.Row(0), bright.Row(1), bright.Row(2), 3);
    EXPECT_EQ(bright.At(1, 1, 0), 0);
    TestImage48 faint = Block(0, 2);
    DespeckleRowLuma(faint.Row(0), faint.Row(1), faint.Row(2), 3);
    EXPECT_EQ(faint.At(1, 1, 0), 2);

    // A red spike whose brightest direct neighbour is redder: red pulled back to the
    // centre plus a quarter of the excess, the other channels moved by the same step.
    TestImage48 red = Block(100, 100);
    red.At(1, 1, 0) = 3000;
    red.At(1, 0, 0) = 3200;
    red.At(1, 0, 1) = 0;
    red.At(1, 0, 2) = 0;
    DespeckleRowLuma(red.Row(0), red.Row(1), red.Row(2), 3);
    EXPECT_EQ(red.At(1, 1, 0), 3050);
    EXPECT_EQ(red.At(1, 1, 1), 50);
    EXPECT_EQ(red.At(1, 1, 2), 50);
}

TEST(Despeckle, NarrowRowsAndSmallImages)
{
    TestImage48 im = RandomImage48(2, 3, 1);
    const TestImage48 before = im;
    DespeckleRowChannels(im.Row(0), im.Row(1), im.Row(2), 2);
    DespeckleRowLuma(im.Row(0), im.Row(1), im.Row(2), 2);
    EXPECT_EQ(im.pixels, before.pixels);
    for (auto [cols, rows] : {std::pair{2, 3}, std::pair{3, 2}}) {
        TestImage48 small(cols, rows);
        try {
            DespeckleImage(small.Pixmap(), false);
            ADD_FAILURE() << cols << "x" << rows << " accepted";
        } catch (const FExceptionPixelProc2& e) {
            EXPECT_EQ(std::string(e.GetMessage()), "Despeckle: input image too small");
        }
    }
}

} // namespace
