#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <random>
#include <string>
#include <vector>

#include "CalculateDrift.h"
#include "CorrectRowSegments.h"
#include "CorrectionsTestImage.h"
#include "FCamdataAccessors.h"
#include "FException.h"

namespace
{

double Ch(const FDoubleRGB& v, int c)
{
    return c == 0 ? v.r : (c == 1 ? v.g : v.b);
}

std::string DriftError(const FPixmapTemplate<FPixelClass48SRGB>* image, const FRect& r)
{
    try {
        FDrift d;
        CalculateDrift(d, image, r);
    } catch (const FExceptionPixelProc2& e) {
        return e.GetMessage();
    }
    return "";
}

TEST(CalculateDrift, ConstantShieldHasItsLevelAndNoSlope)
{
    TestImage48 im(100, 20);
    std::fill(im.pixels.begin(), im.pixels.end(), int16_t{64});
    auto pm = im.Pixmap();
    FDrift d;
    CalculateDrift(d, &pm, FRect(0, 5, 100, 15));
    EXPECT_EQ(d.level, FDoubleRGB(64, 64, 64));
    EXPECT_EQ(d.slope, FDoubleRGB(0, 0, 0));
}

TEST(CalculateDrift, RampAcrossTheFullWidthGivesTheLeastSquaresSlopeTimesWidth)
{
    TestImage48 im(100, 4);
    for (int y = 0; y < 4; ++y)
        for (int x = 0; x < 100; ++x)
            for (int c = 0; c < 3; ++c)
                im.At(x, y, c) = static_cast<int16_t>(x);
    auto pm = im.Pixmap();
    FDrift d;
    CalculateDrift(d, &pm, FRect(0, 0, 100, 4));
    EXPECT_DOUBLE_EQ(d.level.g, 49.5);
    EXPECT_NEAR(d.slope.r, 99.99, 1e-9);
}

TEST(CalculateDrift, ChecksImageAndRowsButNotAnEmptyRectangle)
{
    TestImage48 im(10, 10);
    auto pm = im.Pixmap();
    FPixmapTemplate<FPixelClass48SRGB> noBuffer(nullptr, 10, 10, 0);
    EXPECT_EQ(DriftError(nullptr, FRect(0, 0, 1, 1)), "CalculateDrift: input image is NULL");
    EXPECT_EQ(DriftError(&noBuffer, FRect(0, 0, 1, 1)), "CalculateDrift: Input image has NULL buffer");
    EXPECT_EQ(DriftError(&pm, FRect(0, 0, 10, 10)), "");
    EXPECT_EQ(DriftError(&pm, FRect(0, 0, 10, 11)), "Calculate drift: DarkShield out of range");
    EXPECT_EQ(DriftError(&pm, FRect(0, 10, 10, 10)), "Calculate drift: DarkShield out of range");
    // Columns beyond the image are not read.
    EXPECT_EQ(DriftError(&pm, FRect(-5, 0, 50, 2)), "");

    FDrift d;
    d.level.r = 7;
    CalculateDrift(d, &pm, FRect(4, 3, 4, 8));
    EXPECT_EQ(d.level, FDoubleRGB());
    EXPECT_EQ(d.slope, FDoubleRGB());
}

TEST(CalculateDrift, RowInterpolationRunsFromTopToBottom)
{
    const double c[12] = {1, 2, 3, 10, 20, 30, 3, 4, 5, 30, 40, 50};
    const FDriftPair pair = FDriftPair::FromCoefficients(c);
    FDrift d;
    InterpolateDriftForRow(d, pair, 0, 11);
    EXPECT_EQ(d.level, FDoubleRGB(10, 20, 30));
    InterpolateDriftForRow(d, pair, 10, 11);
    EXPECT_EQ(d.slope, FDoubleRGB(3, 4, 5));
    InterpolateDriftForRow(d, pair, 5, 11);
    EXPECT_EQ(d.level, FDoubleRGB(20, 30, 40));
    EXPECT_EQ(d.slope, FDoubleRGB(2, 3, 4));
    // One row: no division by zero.
    InterpolateDriftForRow(d, pair, 0, 1);
    EXPECT_EQ(d.level, FDoubleRGB(10, 20, 30));
}

// ---- TransformRowFixed against a plain per-pixel reference ----

struct RowParams {
    FDoubleRGB k1, k2, k3, k4;
    int32_t interval = 0;
    FDrift drift;
    FDoubleRGB offset;
    FPostPolyMatrix poly;
    std::vector<float> nodes; // triples
    FDoubleRGB gain{1, 1, 1};
};

int64_t T14(double v)
{
    return static_cast<int64_t>(std::trunc(v * 16384.0));
}

std::vector<int16_t> ReferenceTransform(const std::vector<int16_t>& in, uint32_t cols, const RowParams& p)
{
    std::vector<int16_t> out(in.size());
    const uint32_t nn = static_cast<uint32_t>(p.nodes.size() / 3);
    // Node index and gain of each column: a float boundary walked column by column.
    const float step = nn >= 2 ? static_cast<float>(cols) / static_cast<float>(nn - 1) : 0.0f;
    std::vector<uint32_t> nodeOf(cols, 0);
    std::vector<uint32_t> sinceNode(cols, 0);
    float boundary = step;
    uint32_t k = 0, since = 0;
    for (uint32_t x = 0; x < cols; ++x) {
        if (nn >= 2 && k + 1 < nn && static_cast<float>(x) >= boundary) {
            ++k;
            since = 0;
            boundary += step;
        }
        nodeOf[x] = k;
        sinceNode[x] = since++;
    }
    for (uint32_t x = 0; x < cols; ++x) {
        int64_t w[3];
        for (int c = 0; c < 3; ++c) {
            const int64_t v = in[3 * x + c];
            const int64_t prev = x == 0 ? v : in[3 * (x - 1) + c];
            const int64_t d = v - prev;
            const int64_t s = static_cast<int64_t>(std::trunc(16384.0 * Ch(p.drift.slope, c) / cols));
            const int64_t D = T14(Ch(p.drift.level, c)) - s * (cols / 2) + s * x;
            int64_t t = v * 16384 + T14(Ch(p.k1, c)) * d + T14(Ch(p.k2, c)) * ((d * d) >> 14);
            if (p.interval > 1 && x % p.interval == 0)
                t += T14(Ch(p.k3, c)) * prev + T14(Ch(p.k4, c));
            w[c] = (t - D - T14(Ch(p.offset, c))) >> 14;
        }
        auto sq = [](int64_t v) { return (v * v) >> 14; };
        const int64_t terms[9] = {sq(w[0]),
                                  sq(w[1]),
                                  sq(w[2]),
                                  (w[0] * w[1]) >> 14,
                                  (w[0] * w[2]) >> 14,
                                  (w[1] * w[2]) >> 14,
                                  (w[0] * sq(w[0])) >> 14,
                                  (w[1] * sq(w[1])) >> 14,
                                  (w[2] * sq(w[2])) >> 14};
        int64_t pw[3];
        for (int c = 0; c < 3; ++c) {
            int64_t sum = 0;
            for (int j = 0; j < 9; ++j)
                sum += T14(p.poly.m[9 * c + j]) * terms[j];
            pw[c] = w[c] + (sum >> 14);
        }
        for (int c = 0; c < 3; ++c) {
            const double g = Ch(p.gain, c) * 4194304.0;
            int64_t acc;
            if (nn == 0) {
                acc = static_cast<int64_t>(static_cast<float>(g) * 1.0f);
            } else {
                const uint32_t kk = nodeOf[x];
                const float* nd = p.nodes.data();
                const int64_t base = kk == 0 ? static_cast<int64_t>(static_cast<float>(g) * nd[c])
                                             : static_cast<int64_t>(g * nd[3 * kk + c]);
                const int64_t inc =
                    kk + 1 < nn ? static_cast<int64_t>(((nd[3 * (kk + 1) + c] - nd[3 * kk + c]) / step) *
                                                       static_cast<float>(g))
                                : 0;
                acc = base + inc * sinceNode[x];
            }
            int64_t o = (pw[c] * (acc >> 8)) >> 14;
            out[3 * x + c] = static_cast<int16_t>(o > 32000 ? 32000 : o);
        }
    }
    return out;
}

std::vector<int16_t> RunTransform(std::vector<int16_t> row, uint32_t cols, const RowParams& p)
{
    TransformRowFixed(row.data(), cols, p.k1, p.k2, p.k3, p.k4, p.interval, p.drift, p.offset, p.poly,
                      p.nodes.empty() ? nullptr : p.nodes.data(), static_cast<uint32_t>(p.nodes.size() / 3),
                      p.gain);
    return row;
}

std::vector<int16_t> RandomRow(uint32_t cols, std::mt19937& rng)
{
    std::vector<int16_t> row(3 * cols);
    for (auto& v : row)
        v = static_cast<int16_t>(rng() % 5 == 0 ? 31000 + rng() % 1700
                                                : static_cast<int>(rng() % 6000) - 300);
    return row;
}

TEST(TransformRowFixed, NeutralParametersOnlyClipAbove32000)
{
    RowParams p;
    p.nodes.assign(13 * 3, 1.0f);
    std::mt19937 rng(5);
    const uint32_t cols = 301;
    std::vector<int16_t> row = RandomRow(cols, rng);
    row[0] = -32768;
    row[1] = 32767;
    const std::vector<int16_t> out = RunTransform(row, cols, p);
    for (size_t i = 0; i < row.size(); ++i)
        ASSERT_EQ(out[i], std::min<int16_t>(row[i], 32000)) << "sample " << i;
}

TEST(TransformRowFixed, SegmentTermOnlyAtBoundariesWithTheLeftPixel)
{
    std::mt19937 rng(9);
    const uint32_t cols = 1100;
    const std::vector<int16_t> row = RandomRow(cols, rng);
    RowParams base;
    RowParams seg = base;
    seg.k3 = {0.01, 0.02, 0.03};
    seg.k4 = {0.5, 0.5, 0.5};
    for (int interval : {0, 1, 512}) {
        seg.interval = interval;
        const auto a = RunTransform(row, cols, base);
        const auto b = RunTransform(row, cols, seg);
        ASSERT_EQ(b, ReferenceTransform(row, cols, seg)) << "interval " << interval;
        for (uint32_t x = 0; x < cols; ++x) {
            const bool boundary = interval > 1 && x % interval == 0;
            if (boundary)
                continue;
            ASSERT_EQ(b[3 * x], a[3 * x]) << "interval " << interval << " column " << x;
        }
    }
}

TEST(TransformRowFixed, EveryPolynomialFormMatchesTheFullReference)
{
    std::mt19937 rng(11);
    std::uniform_real_distribution<float> coef(-0.02f, 0.02f);
    enum Pattern { Zero, OwnChannel, Squares, Full };
    for (Pattern pat : {Zero, OwnChannel, Squares, Full}) {
        for (uint32_t cols : {1u, 2u, 7u, 640u}) {
            RowParams p;
            p.k1 = {0.05, -0.03, 0.02};
            p.k2 = {0.001, 0.0, -0.002};
            p.k3 = {0.01, 0.01, 0.01};
            p.k4 = {2.0, 2.0, 2.0};
            p.interval = 64;
            p.drift.slope = {12.5, -8.0, 3.3};
            p.drift.level = {5.25, -2.5, 1.0};
            p.offset = {1.5, -0.75, 0.2};
            p.gain = {1.7, 1.0, 2.1};
            for (int i = 0; i < 13 * 3; ++i)
                p.nodes.push_back(0.9f + 0.01f * static_cast<float>(rng() % 30));
            for (int c = 0; c < 3; ++c)
                for (int k = 0; k < 9; ++k) {
                    const bool use = pat == Full || (pat == Squares && k < 3) ||
                                     (pat == OwnChannel && (k == c || k == 6 + c));
                    p.poly.m[9 * c + k] = use ? coef(rng) : 0.0f;
                }
            const auto row = RandomRow(cols, rng);
            ASSERT_EQ(RunTransform(row, cols, p), ReferenceTransform(row, cols, p))
                << "pattern " << pat << " columns " << cols;
        }
    }
}

TEST(TransformRowFixed, OneGainNodeIsAConstantGain)
{
    RowParams p;
    p.nodes = {2.0f, 2.0f, 2.0f};
    std::vector<int16_t> row(3 * 50, 1000);
    const auto out = RunTransform(row, 50, p);
    for (int16_t v : out)
        ASSERT_EQ(v, 2000);
}

TEST(PostPolyMatrix, ZeroCoefficientsRoundHalfUp)
{
    FPostPolyMatrix m;
    FDoubleRGB out;
    m.Apply(out, FDoubleRGB(2.5, -2.5, 7.2));
    EXPECT_EQ(out, FDoubleRGB(3.0, -2.0, 7.0));
    m.m[0] = 0.5f; // r^2 into red
    m.Apply(out, FDoubleRGB(16384.0, 0.0, 0.0));
    EXPECT_EQ(out.r, 16384.0 + 8192.0);
}

TEST(TransformImageFixed, ThreadedRunIsBitIdenticalToOneThreadAndToTheRowByRowDriver)
{
    TestImage48 single = RandomImage48(257, 97, 3);
    TestImage48 rowByRow = single;
    std::vector<float> table(5 * 7 * 3);
    std::mt19937 rng(2);
    for (auto& v : table)
        v = 0.8f + 0.01f * static_cast<float>(rng() % 40);
    FCamdataGainTable gains;
    gains.m_pData = table.data();
    gains.m_iColumns = 7;
    gains.m_iRows = 5;
    std::vector<FDoubleRGB> offsets(97);
    for (int i = 0; i < 97; ++i)
        offsets[i] = {0.1 * i, -0.05 * i, 1.0};

    FRowTransformSettings st;
    st.columnFilter = {0.03, 0.03, 0.03};
    st.segmentInterval = 50;
    st.segmentCapacitance = {0.01, 0.01, 0.01};
    const double drift[12] = {4, 5, 6, 1, 2, 3, -4, -5, -6, 3, 2, 1};
    st.drift = FDriftPair::FromCoefficients(drift);
    st.rowOffsets = offsets.data();
    st.flare = {0.5, 0.5, 0.5};
    st.poly.m[3] = 0.01f;
    st.gainTable = &gains;
    st.gain = {1.5, 1.0, 1.8};
    TransformImageFixed(single.Pixmap(), st, 1);

    std::vector<float> gainRow(7 * 3);
    for (int y = 0; y < 97; ++y) {
        FDrift d;
        InterpolateDriftForRow(d, st.drift, y, 97);
        InterpolateGainTableRow(gains, y, 97, gainRow.data());
        FDoubleRGB o = offsets[y];
        o.AddInPlace(st.flare);
        TransformRowFixed(rowByRow.Row(y), 257, st.columnFilter, st.columnFilterSquare, st.segmentCapacitance,
                          st.segmentFeedThrough, st.segmentInterval, d, o, st.poly, gainRow.data(), 7,
                          st.gain);
    }
    ASSERT_EQ(single.pixels, rowByRow.pixels);

    for (int threads : {2, 4, 7, 200}) {
        TestImage48 threaded = RandomImage48(257, 97, 3);
        TransformImageFixed(threaded.Pixmap(), st, threads);
        ASSERT_EQ(threaded.pixels, single.pixels) << threads << " threads";
    }
}

TEST(InterpolateGainTableRow, EndsAreTableRowsAndTheMiddleIsTheirMean)
{
    std::vector<float> table = {1, 2, 3, 4, 5, 6, 3, 4, 5, 6, 7, 8};
    FCamdataGainTable t;
    t.m_pData = table.data();
    t.m_iColumns = 2;
    t.m_iRows = 2;
    std::vector<float> out(6);
    InterpolateGainTableRow(t, 0, 101, out.data());
    EXPECT_EQ(out, std::vector<float>({1, 2, 3, 4, 5, 6}));
    InterpolateGainTableRow(t, 100, 101, out.data());
    EXPECT_EQ(out, std::vector<float>({3, 4, 5, 6, 7, 8}));
    InterpolateGainTableRow(t, 50, 101, out.data());
    EXPECT_EQ(out, std::vector<float>({2, 3, 4, 5, 6, 7}));
}

// ---- CorrectRowSegments ----

// An image at dark level 0 whose shield columns carry per-row values.
struct ShieldImage {
    static constexpr int kCols = 40;
    TestImage48 im;
    explicit ShieldImage(int rows) : im(kCols, rows) {}
    void SetLeft(int y, int c, int16_t v)
    {
        for (int x = 2; x <= 8; ++x)
            im.At(x, y, c) = v;
    }
    void SetRight(int y, int c, int16_t v)
    {
        for (int x = 30; x <= 36; ++x)
            im.At(x, y, c) = v;
    }
    std::vector<FDoubleRGB> Offsets(bool colourAverage, double gain = 0.8, double scale = 16.0, int l0 = 2,
                                    int l1 = 8, int r0 = 30, int r1 = 36, FRect active = FRect(0, 0, 40, 0))
    {
        if (active.bottom == 0)
            active.bottom = im.rows;
        std::vector<FDoubleRGB> out(im.rows, FDoubleRGB(9, 9, 9));
        const double zero[12] = {};
        CorrectRowSegments(out.data(), im.Pixmap(), im.rows, l0, l1, r0, r1, FDoubleRGB(),
                           FDriftPair::FromCoefficients(zero), gain, scale, active, colourAverage);
        return out;
    }
};

bool AllZero(const std::vector<FDoubleRGB>& v)
{
    for (const auto& o : v)
        if (!(o == FDoubleRGB()))
            return false;
    return true;
}

TEST(CorrectRowSegments, UnusableParametersGiveZeroOffsets)
{
    struct Case {
        const char* name;
        int rows;
        int l0, l1, r0, r1;
        double gain, scale;
        int activeTop, activeBottom;
    };
    const Case cases[] = {
        {"narrow left", 30, 2, 4, 30, 36, 0.8, 16, 0, 30},
        {"narrow right", 30, 2, 8, 30, 32, 0.8, 16, 0, 30},
        {"short active", 30, 2, 8, 30, 36, 0.8, 16, 5, 14},
        {"zero gain", 30, 2, 8, 30, 36, 0.0, 16, 0, 30},
        {"zero scale", 30, 2, 8, 30, 36, 0.8, 0.0, 0, 30},
        {"three rows", 3, 2, 8, 30, 36, 0.8, 16, 0, 3},
        {"shield at column 0", 30, 0, 8, 30, 36, 0.8, 16, 0, 30},
        {"shield past the row", 30, 2, 8, 30, 40, 0.8, 16, 0, 30},
    };
    for (const Case& c : cases) {
        ShieldImage s(c.rows);
        for (int y = 0; y < c.rows; ++y)
            for (int ch = 0; ch < 3; ++ch) {
                s.SetLeft(y, ch, 20);
                s.SetRight(y, ch, 20);
            }
        EXPECT_TRUE(AllZero(s.Offsets(false, c.gain, c.scale, c.l0, c.l1, c.r0, c.r1,
                                      FRect(0, c.activeTop, 40, c.activeBottom))))
            << c.name;
    }
}

TEST(CorrectRowSegments, CleanShieldsGiveZeroOffsets)
{
    ShieldImage s(60);
    EXPECT_TRUE(AllZero(s.Offsets(false)));
    EXPECT_TRUE(AllZero(s.Offsets(true)));
}

TEST(CorrectRowSegments, ConstantOffsetDecaysFromTheBottomAsTheBackwardPassStarts)
{
    const int rows = 50;
    ShieldImage s(rows);
    for (int y = 0; y < rows; ++y)
        for (int c = 0; c < 3; ++c) {
            s.SetLeft(y, c, 20);
            s.SetRight(y, c, 20);
        }
    const auto out = s.Offsets(false, 0.8, 16.0);
    const double alpha = 1.0 - std::exp(-1.0 / 16.0);
    for (int i = 0; i < rows; ++i)
        EXPECT_NEAR(out[i].g, 0.8 * 20 * std::pow(1 - alpha, rows - i), 1e-9) << "row " << i;
}

TEST(CorrectRowSegments, AnInvalidSideIsIgnoredAndASpikeRowIsRemoved)
{
    const int rows = 40;
    ShieldImage both(rows), leftBad(rows);
    for (int y = 0; y < rows; ++y)
        for (int c = 0; c < 3; ++c) {
            const int16_t v = static_cast<int16_t>(10 + y % 7);
            both.SetLeft(y, c, v);
            both.SetRight(y, c, v);
            leftBad.SetLeft(y, c, c == 0 ? v + 150 : v);
            leftBad.SetRight(y, c, v);
        }
    EXPECT_EQ(both.Offsets(false), leftBad.Offsets(false));

    ShieldImage spike(rows);
    for (int c = 0; c < 3; ++c) {
        spike.SetLeft(12, c, 50);
        spike.SetRight(12, c, 50);
    }
    EXPECT_TRUE(AllZero(spike.Offsets(false)));
}

TEST(CorrectRowSegments, ColourAverageKeepsGreyOffsets)
{
    const int rows = 40;
    ShieldImage s(rows);
    for (int y = 0; y < rows; ++y)
        for (int c = 0; c < 3; ++c) {
            s.SetLeft(y, c, static_cast<int16_t>(5 + (y * 7) % 11));
            s.SetRight(y, c, static_cast<int16_t>(5 + (y * 7) % 11));
        }
    const auto plain = s.Offsets(false);
    const auto averaged = s.Offsets(true);
    for (int i = 0; i < rows; ++i) {
        EXPECT_NEAR(averaged[i].r, plain[i].r, 1e-9);
        EXPECT_NEAR(averaged[i].b, plain[i].b, 1e-9);
    }
}

TEST(CorrectRowSegments, ActiveAreaBeyondTheRowsStaysInsideTheArray)
{
    ShieldImage s(30);
    for (int y = 0; y < 30; ++y)
        for (int c = 0; c < 3; ++c)
            s.SetRight(y, c, 20);
    // Top past the middle and bottom past the end: clamped, no access outside the array.
    const auto out = s.Offsets(false, 0.8, 16, 2, 8, 30, 36, FRect(0, 18, 40, 90));
    for (const auto& o : out)
        EXPECT_TRUE(std::isfinite(o.r) && std::isfinite(o.g) && std::isfinite(o.b));
}

} // namespace
