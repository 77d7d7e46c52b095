#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstdint>
#include <functional>
#include <random>
#include <tuple>
#include <vector>

#include "FBandPool.h"
#include "FIRNoiseReduction.h"
#include "RunInRowBands.h"

namespace
{

using Image = FPixmapTemplate<FPixelClass48SRGB>;

struct Samples {
    int cols;
    int rows;
    std::vector<int16_t> data;
    Samples(int c, int r, int16_t v = 0) : cols(c), rows(r), data(3 * static_cast<size_t>(c) * r, v) {}
    Image Pixmap() { return Image(data.data(), cols, rows, 0); }
    int16_t& At(int x, int y, int ch) { return data[3 * (static_cast<size_t>(y) * cols + x) + ch]; }
};

struct Params {
    float pRef = 0.05f, pEdgeRef = 0.08f, pImage = 0.2f, locality = 1.0f, offset = 0.55f, scaleEdge = 5.0f,
          scaleMeanEdge = 7.0f, exponent = 0.7f, m = 1.0f, g = 1.0f;
};

void RunFIR(Samples& image, Samples& reference, const Params& p, int threads = 1)
{
    Image i = image.Pixmap();
    Image r = reference.Pixmap();
    FIRNoiseReduction(i, r, p.pRef, p.pEdgeRef, p.pImage, p.locality, p.offset, p.scaleEdge, p.scaleMeanEdge,
                      p.exponent, p.m, p.g, nullptr, 0, threads);
}

// A reference with a vertical step, and the same scene with noise as the image.
void MakeNoisyScene(Samples& image, Samples& reference, uint32_t seed)
{
    std::mt19937 random(seed);
    std::uniform_int_distribution<int> noise(-120, 120);
    for (int y = 0; y < reference.rows; ++y)
        for (int x = 0; x < reference.cols; ++x)
            for (int ch = 0; ch < 3; ++ch) {
                const int level = (x < reference.cols / 2 ? 900 : 5000) + 300 * ch + 20 * y;
                reference.At(x, y, ch) = static_cast<int16_t>(level);
                image.At(x, y, ch) = static_cast<int16_t>(level + noise(random));
            }
}

// ---- brute-force reference, all in double ----

using Plane = std::vector<double>; // cols x rows x channels, row-major

double Decay(double p, int cols, int rows)
{
    return std::exp2(-1.0 / (p * ((cols + rows) >> 2)));
}

// sum_j d^|k-j| c_j / sum_j d^|k-j| along x, then along y.
Plane Smooth(const Plane& in, int cols, int rows, int channels, double d)
{
    Plane a(in.size()), b(in.size());
    for (int y = 0; y < rows; ++y)
        for (int x = 0; x < cols; ++x)
            for (int ch = 0; ch < channels; ++ch) {
                double num = 0, den = 0;
                for (int j = 0; j < cols; ++j) {
                    const double w = std::pow(d, std::abs(x - j));
                    num += w * in[(y * cols + j) * channels + ch];
                    den += w;
                }
                a[(y * cols + x) * channels + ch] = num / den;
            }
    for (int y = 0; y < rows; ++y)
        for (int x = 0; x < cols; ++x)
            for (int ch = 0; ch < channels; ++ch) {
                double num = 0, den = 0;
                for (int j = 0; j < rows; ++j) {
                    const double w = std::pow(d, std::abs(y - j));
                    num += w * a[(j * cols + x) * channels + ch];
                    den += w;
                }
                b[(y * cols + x) * channels + ch] = num / den;
            }
    return b;
}

// One weighted pass along rows of length n: links into sample i scaled by t[i].
void WeightedRow(const double* c, const double* t, int n, double d, int channels, double* out)
{
    for (int k = 0; k < n; ++k)
        for (int ch = 0; ch < channels; ++ch) {
            double num = c[k * channels + ch] / d, den = 1.0 / d;
            if (k > 0) {
                // f[k-1] = sum over j <= k-1 of c_j prod_{i=j+1..k-1} d t_i
                double product = 1.0;
                for (int j = k - 1; j >= 0; --j) {
                    num += product * c[j * channels + ch];
                    den += product;
                    product *= d * t[j];
                }
            }
            if (k < n - 1) {
                double product = 1.0;
                for (int j = k + 1; j < n; ++j) {
                    num += product * c[j * channels + ch];
                    den += product;
                    product *= d * t[j];
                }
            }
            out[k * channels + ch] = num / den;
        }
}

Plane EdgeAware(const Plane& in, const Plane& w, int cols, int rows, double d)
{
    Plane a(in.size()), b(in.size());
    for (int y = 0; y < rows; ++y)
        WeightedRow(&in[y * cols * 3], &w[y * cols], cols, d, 3, &a[y * cols * 3]);
    // Columns as rows.
    std::vector<double> column(3 * rows), weights(rows), result(3 * rows);
    for (int x = 0; x < cols; ++x) {
        for (int y = 0; y < rows; ++y) {
            for (int ch = 0; ch < 3; ++ch)
                column[3 * y + ch] = a[(y * cols + x) * 3 + ch];
            weights[y] = w[y * cols + x];
        }
        WeightedRow(column.data(), weights.data(), rows, d, 3, result.data());
        for (int y = 0; y < rows; ++y)
            for (int ch = 0; ch < 3; ++ch)
                b[(y * cols + x) * 3 + ch] = result[3 * y + ch];
    }
    return b;
}

Plane Weights(const Plane& x, int cols, int rows, double locality, double scale, double offset)
{
    Plane g(static_cast<size_t>(cols) * rows, 0.0);
    for (int y = 1; y < rows - 1; ++y)
        for (int c = 1; c < cols - 1; ++c) {
            double s = 0;
            for (int ch = 0; ch < 3; ++ch) {
                const double dx = x[(y * cols + c - 1) * 3 + ch] - x[(y * cols + c + 1) * 3 + ch];
                const double dy = x[((y + 1) * cols + c) * 3 + ch] - x[((y - 1) * cols + c) * 3 + ch];
                s += dx * dx + dy * dy;
            }
            g[y * cols + c] = std::sqrt(s);
        }
    for (int y = 1; y < rows - 1; ++y) {
        g[y * cols] = g[y * cols + 1];
        g[y * cols + cols - 1] = g[y * cols + cols - 2];
    }
    for (int c = 0; c < cols; ++c) {
        g[c] = g[cols + c];
        g[(rows - 1) * cols + c] = g[(rows - 2) * cols + c];
    }
    double s = 0, s2 = 0;
    for (double v : g) {
        s += v;
        s2 += v * v;
    }
    const double n = static_cast<double>(g.size());
    const double sigma = std::sqrt(std::max(0.0, (s2 - s * s / n) / (n - 1)));
    for (double& v : g)
        v = 1.0 / (1.0 + std::exp(-scale * (1.0 - std::tanh(v / (sigma * locality)) - offset)));
    return g;
}

std::vector<int> Reference(const Samples& image, const Samples& reference, const Params& p)
{
    const int cols = reference.cols, rows = reference.rows;
    const int M = std::min(24000, static_cast<int>(std::trunc(9000.0 / p.g * 4.0)));
    auto clampM = [&](int v) { return std::clamp(v, 1, M - 1); };
    const size_t n = static_cast<size_t>(cols) * rows;
    Plane x(3 * n);
    for (size_t i = 0; i < 3 * n; ++i)
        x[i] = std::pow(static_cast<double>(clampM(reference.data[i])) / M, p.exponent);
    const Plane w1 = Weights(x, cols, rows, p.locality, p.scaleEdge, p.offset);
    x = Smooth(x, cols, rows, 3, Decay(p.pRef, cols, rows));
    Plane w2 = Weights(x, cols, rows, p.locality, p.scaleMeanEdge, p.offset);
    for (size_t i = 0; i < n; ++i)
        w2[i] = std::max(w1[i], w2[i]);
    auto L = [&](int v) { return std::log(static_cast<double>(v) / M + 1e-12); };
    for (size_t i = 0; i < 3 * n; ++i)
        x[i] = L(clampM(image.data[i])) - L(clampM(reference.data[i]));
    x = EdgeAware(x, w2, cols, rows, Decay(p.pImage, cols, rows));
    const Plane w = Smooth(w2, cols, rows, 1, Decay(p.pEdgeRef, cols, rows));
    const double k = std::min<double>(p.m, 7.0) * p.g;
    const double Z = std::trunc(k * 4096);
    std::vector<int> out(3 * n);
    for (size_t i = 0; i < n; ++i) {
        int r[3], v[3];
        for (int ch = 0; ch < 3; ++ch) {
            r[ch] = clampM(reference.data[3 * i + ch]);
            v[ch] = clampM(image.data[3 * i + ch]);
        }
        const double Y =
            std::trunc((1.0 - std::min(w[i], 1.0)) *
                       std::pow(static_cast<double>((r[0] + 2 * r[1] + r[2]) >> 2) / M, 0.2) * Z);
        for (int ch = 0; ch < 3; ++ch) {
            const double u = 2.0 * r[ch] * std::exp(x[3 * i + ch]);
            const double o = std::floor((Z * u + Y * (2.0 * v[ch] - u)) / 8192.0);
            out[3 * i + ch] = static_cast<int>(std::clamp(o, -500.0, 24000.0));
        }
    }
    return out;
}

} // namespace

TEST(FIRNoiseReductionTest, ValueRangeAndDecay)
{
    EXPECT_EQ(FIRValueRange(1.0), 24000);
    EXPECT_EQ(FIRValueRange(2.0), 18000);
    EXPECT_EQ(FIRValueRange(0.0), 0);
    EXPECT_EQ(FIRValueRange(std::nan("")), 0);
    // Half weight after p (cols + rows) / 4 pixels.
    EXPECT_FLOAT_EQ(FIRDecay(0.5f, 30, 10), static_cast<float>(std::exp2(-1.0 / 5.0)));
    EXPECT_EQ(FIRDecay(0.0f, 30, 10), 0.0f);
    EXPECT_EQ(FIRDecay(-1.0f, 30, 10), 0.0f);
}

TEST(FIRNoiseReductionTest, SmoothingMatchesBruteForceAndKeepsOrientation)
{
    // Non-square, so a transposition mistake shows.
    const int cols = 13, rows = 7;
    std::mt19937 random(5);
    std::uniform_real_distribution<float> value(0.0f, 1.0f);
    std::vector<float> rgb(3 * cols * rows), mono(cols * rows);
    for (int y = 0; y < rows; ++y)
        for (int x = 0; x < cols; ++x) {
            for (int ch = 0; ch < 3; ++ch)
                rgb[3 * (y * cols + x) + ch] = 0.05f * x + 0.3f * ch + 0.1f * value(random);
            mono[y * cols + x] = value(random);
        }
    const Plane rgbIn(rgb.begin(), rgb.end()), monoIn(mono.begin(), mono.end());
    const float p = 0.3f;
    const double d = FIRDecay(p, cols, rows);
    FPixmapTemplate<FPixelClassFlt32RGB> rgbPixmap(rgb.data(), cols, rows, 0);
    FIRSmooth2D(rgbPixmap, rgbPixmap, p);
    FPixmapTemplate<FPixelClassFlt32Mono> monoPixmap(mono.data(), cols, rows, 0);
    FIRSmooth2D(monoPixmap, monoPixmap, p);
    const Plane rgbExpected = Smooth(rgbIn, cols, rows, 3, d);
    const Plane monoExpected = Smooth(monoIn, cols, rows, 1, d);
    for (size_t i = 0; i < rgb.size(); ++i)
        ASSERT_NEAR(rgb[i], rgbExpected[i], 1e-5) << i;
    for (size_t i = 0; i < mono.size(); ++i)
        ASSERT_NEAR(mono[i], monoExpected[i], 1e-5) << i;

    // With every weight 1 the edge-aware smoothing is the plain one.
    std::vector<float> again(rgbIn.begin(), rgbIn.end()), ones(cols * rows, 1.0f);
    FPixmapTemplate<FPixelClassFlt32RGB> againPixmap(again.data(), cols, rows, 0);
    FPixmapTemplate<FPixelClassFlt32Mono> onesPixmap(ones.data(), cols, rows, 0);
    FIREdgeAwareSmooth(againPixmap, againPixmap, onesPixmap, static_cast<float>(d));
    for (size_t i = 0; i < again.size(); ++i)
        ASSERT_NEAR(again[i], rgb[i], 1e-5) << i;
}

TEST(FIRNoiseReductionTest, WholeFilterMatchesDoubleReference)
{
    // Within 3 units: the tables step the exponential by 2^(1/16384) and truncate.
    struct Case {
        int cols, rows;
        float m, g;
        uint32_t seed;
    };
    const Case cases[] = {
        {24, 17, 1.0f, 1.0f, 1}, {17, 24, 1.2f, 2.0f, 2}, {9, 9, 9.0f, 1.0f, 3}, {3, 5, 1.0f, 1.0f, 4}};
    for (const Case& c : cases) {
        Samples image(c.cols, c.rows), reference(c.cols, c.rows);
        MakeNoisyScene(image, reference, c.seed + 11);
        Params p;
        p.m = c.m;
        p.g = c.g;
        const std::vector<int> expected = Reference(image, reference, p);
        RunFIR(image, reference, p);
        int worst = 0;
        for (size_t i = 0; i < expected.size(); ++i)
            worst = std::max(worst, std::abs(expected[i] - image.data[i]));
        EXPECT_LE(worst, 3) << c.cols << "x" << c.rows << " m " << c.m << " g " << c.g;
    }
}

TEST(FIRNoiseReductionTest, FlatImageEqualToReferenceStaysFlat)
{
    // A flat reference has no gradient spread; every weight must be the flat-area one, not NaN.
    for (int level : {1, 737, 2000, 23999}) {
        Samples image(20, 16, static_cast<int16_t>(level)), reference(20, 16, static_cast<int16_t>(level));
        RunFIR(image, reference, Params());
        const int expected = image.data[0];
        for (int16_t v : image.data)
            ASSERT_EQ(v, expected);
        // About k r with k = 1.
        EXPECT_NEAR(expected, level, 2 + level * 1e-4) << level;
    }
}

TEST(FIRNoiseReductionTest, ClampsAndScales)
{
    Samples image(8, 8, 3000), reference(8, 8, 3000);
    reference.At(2, 2, 0) = 0;
    reference.At(3, 3, 1) = 30000;
    image.At(4, 4, 2) = -7;
    Params p;
    p.g = 2.0f; // M = 18000
    RunFIR(image, reference, p);
    EXPECT_EQ(reference.At(2, 2, 0), 1);
    EXPECT_EQ(reference.At(3, 3, 1), 17999);
    for (int16_t v : image.data) {
        EXPECT_GE(v, -500);
        EXPECT_LE(v, 24000);
    }
    // k = min(m, 7) g: m = 9 behaves as m = 7.
    Samples a(10, 10, 1000), ra(10, 10, 1000), b(10, 10, 1000), rb(10, 10, 1000);
    Params seven, nine;
    seven.m = 7.0f;
    nine.m = 9.0f;
    RunFIR(a, ra, seven);
    RunFIR(b, rb, nine);
    EXPECT_EQ(a.data, b.data);
    EXPECT_NEAR(a.data[0], 7000, 3);
}

TEST(FIRNoiseReductionTest, UnusableInputLeavesBothImagesAlone)
{
    struct Case {
        const char* what;
        Params p;
    };
    Params badG, badP, badM;
    badG.g = 0.0f;
    badP.pImage = 0.0f;
    badM.m = std::nanf("");
    for (const Case& c : {Case{"g", badG}, Case{"proportion", badP}, Case{"m", badM}}) {
        Samples image(6, 6, 50), reference(6, 6, 0);
        const auto before = image.data;
        RunFIR(image, reference, c.p);
        EXPECT_EQ(image.data, before) << c.what;
        EXPECT_EQ(reference.data, std::vector<int16_t>(reference.data.size(), 0)) << c.what;
    }
    // Beyond the pixel cap (the buffer is never read then).
    Samples tiny(1, 1, 0);
    Image huge(tiny.data.data(), 1 << 15, 1 << 14, 6);
    FIRNoiseReduction(huge, huge, 0.1f, 0.1f, 0.1f, 1, 0.55f, 5, 7, 0.7f, 1, 1);
    EXPECT_EQ(tiny.data[0], 0);
    // An image smaller than the reference.
    Samples small(4, 4, 50), larger(5, 5, 60);
    RunFIR(small, larger, Params());
    EXPECT_EQ(small.data, std::vector<int16_t>(small.data.size(), 50));
}

TEST(FIRNoiseReductionTest, NoiseDropsAndEdgeSurvives)
{
    Samples image(64, 48), reference(64, 48);
    MakeNoisyScene(image, reference, 3);
    auto spread = [](Samples& s) {
        // Deviation from the row mean on the flat left half, green channel.
        double sum = 0, sum2 = 0;
        int n = 0;
        for (int y = 4; y < s.rows - 4; ++y)
            for (int x = 4; x < s.cols / 2 - 6; ++x) {
                const double v = s.At(x, y, 1) - 20.0 * y;
                sum += v;
                sum2 += v * v;
                ++n;
            }
        return std::sqrt(sum2 / n - (sum / n) * (sum / n));
    };
    const double before = spread(image);
    RunFIR(image, reference, Params());
    EXPECT_LT(spread(image), before * 0.5);
    // The step between the halves keeps most of its height.
    const int left = image.At(image.cols / 2 - 2, 24, 1), right = image.At(image.cols / 2 + 1, 24, 1);
    EXPECT_GT(right - left, 0.8 * (5000 - 900));
}

TEST(FIRNoiseReductionTest, SameResultForAnyThreadCountAndScratch)
{
    Samples base(97, 61), ref(97, 61);
    MakeNoisyScene(base, ref, 9);
    Samples one = base, oneRef = ref;
    RunFIR(one, oneRef, Params(), 1);
    for (int threads : {2, 3, 8}) {
        Samples many = base, manyRef = ref;
        RunFIR(many, manyRef, Params(), threads);
        EXPECT_EQ(many.data, one.data) << threads;
    }
    Samples withScratch = base, withScratchRef = ref;
    std::vector<float> scratch(FIRScratchBytes(97, 61, 4) / sizeof(float));
    Image i = withScratch.Pixmap(), r = withScratchRef.Pixmap();
    const Params p;
    FIRNoiseReduction(i, r, p.pRef, p.pEdgeRef, p.pImage, p.locality, p.offset, p.scaleEdge, p.scaleMeanEdge,
                      p.exponent, p.m, p.g, scratch.data(), scratch.size() * sizeof(float), 4);
    EXPECT_EQ(withScratch.data, one.data);
}

TEST(FIRNoiseReductionTest, KeptStorageServesLargerAndSmallerImages)
{
    // Storage grown by one image and then used for others must not leak their sizes or
    // contents into the result.
    FIRScratch scratch;
    const Params p;
    for (auto [cols, rows, threads] :
         {std::tuple{40, 30, 1}, std::tuple{97, 61, 4}, std::tuple{13, 50, 2}, std::tuple{97, 61, 3}}) {
        Samples base(cols, rows), ref(cols, rows);
        MakeNoisyScene(base, ref, static_cast<uint32_t>(cols + rows));
        Samples fresh = base, freshRef = ref;
        RunFIR(fresh, freshRef, p, 1);
        Image i = base.Pixmap(), r = ref.Pixmap();
        FIRNoiseReduction(i, r, p.pRef, p.pEdgeRef, p.pImage, p.locality, p.offset, p.scaleEdge,
                          p.scaleMeanEdge, p.exponent, p.m, p.g, scratch, threads);
        EXPECT_EQ(base.data, fresh.data) << cols << "x" << rows;
        EXPECT_EQ(ref.data, freshRef.data) << cols << "x" << rows;
    }
    EXPECT_GT(scratch.Bytes(), 97u * 61u * 5u * sizeof(float));
    scratch.Release();
    EXPECT_EQ(scratch.Bytes(), 0u);
}

// A call cancelled at any band before the mix leaves the images only clamped and its kept
// tables whole or marked unmade: the repeat, on the same storage, gives the one run's bits.
TEST(FIRNoiseReductionTest, CancelledAtAnyBandThenRepeatedEqualsOneRun)
{
    FBandPool pool(3);
    FBandPool* const before = GetRowBandPool();
    SetRowBandPool(&pool);
    Params p;
    p.g = 1.5f;
    Samples base(211, 97), ref(211, 97);
    MakeNoisyScene(base, ref, 4);
    auto run = [&](Samples& image, Samples& reference, FIRScratch& scratch,
                   const std::function<bool()>& cancel) {
        Image i = image.Pixmap(), r = reference.Pixmap();
        return FIRNoiseReduction(i, r, p.pRef, p.pEdgeRef, p.pImage, p.locality, p.offset, p.scaleEdge,
                                 p.scaleMeanEdge, p.exponent, p.m, p.g, scratch, 4, cancel);
    };
    Samples one = base, oneRef = ref;
    std::atomic<int> asked{0};
    {
        FIRScratch fresh;
        ASSERT_EQ(run(one, oneRef, fresh, [&] { return ++asked < 0; }), FIRResult::kFiltered);
    }
    const int polls = asked.load();
    ASSERT_GT(polls, 20);
    for (int k = 1; k <= polls; k += std::max(1, polls / 25)) {
        Samples image = base, reference = ref;
        FIRScratch kept;
        std::atomic<int> asked{0};
        EXPECT_EQ(run(image, reference, kept, [&] { return ++asked >= k; }), FIRResult::kCancelled) << k;
        EXPECT_EQ(run(image, reference, kept, {}), FIRResult::kFiltered);
        EXPECT_EQ(image.data, one.data) << "cancelled at poll " << k << " of " << polls;
        EXPECT_EQ(reference.data, oneRef.data) << "cancelled at poll " << k << " of " << polls;
    }
    SetRowBandPool(before);
}

TEST(FIRNoiseReductionTest, GradientAndEdgeWeightsMatchBruteForce)
{
    // Wide rows, so that the row-wise work of both building blocks is exercised.
    const int cols = 211, rows = 9;
    std::mt19937 random(21);
    std::uniform_real_distribution<float> value(0.0f, 1.0f);
    std::vector<float> rgb(3 * cols * rows);
    for (float& v : rgb)
        v = value(random);
    FPixmapTemplate<FPixelClassFlt32RGB> in(rgb.data(), cols, rows, 0);
    std::vector<float> gradient(cols * rows), weights(cols * rows);
    FPixmapTemplate<FPixelClassFlt32Mono> g(gradient.data(), cols, rows, 0), w(weights.data(), cols, rows, 0);
    FIRGradientMagnitude(g, in, 2);
    FIREdgeWeights(w, in, 1.0f, 5.0f, 0.55f, 3);
    const Plane x(rgb.begin(), rgb.end());
    const Plane expected = Weights(x, cols, rows, 1.0, 5.0, 0.55);
    for (int y = 0; y < rows; ++y)
        for (int c = 0; c < cols; ++c) {
            const int yy = std::clamp(y, 1, rows - 2), cc = std::clamp(c, 1, cols - 2);
            double s = 0;
            for (int ch = 0; ch < 3; ++ch) {
                const double dx = x[(yy * cols + cc - 1) * 3 + ch] - x[(yy * cols + cc + 1) * 3 + ch];
                const double dy = x[((yy + 1) * cols + cc) * 3 + ch] - x[((yy - 1) * cols + cc) * 3 + ch];
                s += dx * dx + dy * dy;
            }
            ASSERT_NEAR(gradient[y * cols + c], std::sqrt(s), 1e-5) << c << "," << y;
            // The weights come from a table indexed by the gradient's logarithm.
            ASSERT_NEAR(weights[y * cols + c], expected[y * cols + c], 2e-3) << c << "," << y;
        }
}

namespace
{

uint64_t Fnv1a(const void* data, size_t bytes, uint64_t h = 14695981039346656037ull)
{
    const auto* p = static_cast<const unsigned char*>(data);
    for (size_t i = 0; i < bytes; ++i)
        h = (h ^ p[i]) * 1099511628211ull;
    return h;
}

} // namespace

TEST(FIRNoiseReductionTest, OutputsPinnedToTheBit)
{
    // Digests of results taken before the kernels were last reworked: any change of a single
    // bit in any pass shows here. Random samples run past both ends of the value range.
    struct Case {
        int cols, rows, threads;
        Params p;
        uint64_t expected;
    };
    Params strong;
    strong.m = 7.0f;
    strong.g = 2.0f;
    strong.locality = 0.3f;
    Params weak;
    weak.g = 0.4f;
    weak.exponent = 1.3f;
    weak.pImage = 0.01f;
    const Case cases[] = {
        {1, 1, 1, Params(), 8246465291776378761u},     {2, 5, 1, Params(), 7445646839666098273u},
        {3, 3, 2, strong, 11449613993275637200u},      {97, 61, 3, Params(), 15362093821026617302u},
        {300, 8, 8, weak, 1489043865436738038u},       {211, 37, 4, strong, 886174122652620892u},
        {17, 130, 2, weak, 6892731288113487440u},      {64, 64, 1, strong, 9464946715601188660u},
        {640, 400, 4, Params(), 1586060398710407957u},
    };
    // Fresh storage, then storage kept across all cases, whose tables for one value range
    // and exponent must not leak into the next case.
    FIRScratch kept;
    for (int pass = 0; pass < 3; ++pass)
        for (const Case& c : cases) {
            Samples image(c.cols, c.rows), reference(c.cols, c.rows);
            MakeNoisyScene(image, reference, static_cast<uint32_t>(c.cols * 7 + c.rows));
            std::mt19937 random(static_cast<uint32_t>(c.cols + 3 * c.rows));
            std::uniform_int_distribution<int> wild(-2000, 32767), pick(0, 9);
            for (size_t i = 0; i < image.data.size(); ++i) {
                if (pick(random) == 0)
                    image.data[i] = static_cast<int16_t>(wild(random));
                if (pick(random) == 0)
                    reference.data[i] = static_cast<int16_t>(wild(random));
            }
            if (pass == 0) {
                RunFIR(image, reference, c.p, c.threads);
            } else {
                Image i = image.Pixmap(), r = reference.Pixmap();
                const Params& p = c.p;
                FIRNoiseReduction(i, r, p.pRef, p.pEdgeRef, p.pImage, p.locality, p.offset, p.scaleEdge,
                                  p.scaleMeanEdge, p.exponent, p.m, p.g, kept, c.threads);
            }
            const uint64_t digest = Fnv1a(reference.data.data(), reference.data.size() * 2,
                                          Fnv1a(image.data.data(), image.data.size() * 2));
            EXPECT_EQ(digest, c.expected) << c.cols << "x" << c.rows << ", pass " << pass;
        }
    // The building blocks on their own, on random floats.
    const int cols = 203, rows = 23;
    std::mt19937 random(5);
    std::uniform_real_distribution<float> value(0.0f, 1.0f);
    std::vector<float> rgb(3 * cols * rows);
    for (float& v : rgb)
        v = value(random);
    FPixmapTemplate<FPixelClassFlt32RGB> in(rgb.data(), cols, rows, 0);
    std::vector<float> gradient(cols * rows), weights(cols * rows);
    FPixmapTemplate<FPixelClassFlt32Mono> g(gradient.data(), cols, rows, 0), w(weights.data(), cols, rows, 0);
    FIRGradientMagnitude(g, in, 2);
    FIREdgeWeights(w, in, 1.0f, 5.0f, 0.55f, 3);
    EXPECT_EQ(Fnv1a(gradient.data(), gradient.size() * 4), 7809540505736474550u);
    EXPECT_EQ(Fnv1a(weights.data(), weights.size() * 4), 14743172499818063061u);
}
