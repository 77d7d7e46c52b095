#include "FIRNoiseReduction.h"

#include <algorithm>
#include <atomic>
#include <cmath>
#include <memory>
#include <new>
#include <vector>

#include "FDebugTrace.h"
#include "RunInRowBands.h"

namespace
{

using RGBPixmap = FPixmapTemplate<FPixelClassFlt32RGB>;
using MonoPixmap = FPixmapTemplate<FPixelClassFlt32Mono>;
using SamplePixmap = FPixmapTemplate<FPixelClass48SRGB>;

// Table index per unit of base-2 logarithm.
constexpr double kLogSteps = 16384.0;
constexpr double kLn2 = 0.69314718055994530942;
// Index steps per unit of natural logarithm: 16384 / ln 2.
constexpr double kIndexPerLn = kLogSteps / kLn2;
// Rows smoothed together before their results are written out as columns, so that the
// transposed stores touch whole cache lines.
constexpr int kBlockRows = 16;
// Floats one band needs per sample of a row: the backward sums (three) and their weights,
// and the results of one block of rows.
constexpr int kScratchFloatsPerEntry = 4 + 3 * kBlockRows;

template <class T>
std::unique_ptr<T[]> TryAllocate(size_t count)
{
    return std::unique_ptr<T[]>(new (std::nothrow) T[count]);
}

// Running-sum rows for the bands of one pass; each band takes its own slot.
struct FIRBands {
    int threads = 1;
    float* scratch = nullptr;
    size_t slotFloats = 0;

    template <class F>
    void Run(int rows, F&& f) const
    {
        std::atomic<int> next{0};
        RunInRowBands(rows, threads, [&](int first, int end) {
            float* slot = scratch + static_cast<size_t>(next.fetch_add(1)) * slotFloats;
            f(first, end, slot);
        });
    }
};

// The constant-decay denominators 1/d + Q[k-1] + P[k+1] of one row length.
void MakeDenominators(std::vector<float>& den, int n, float d)
{
    den.assign(static_cast<size_t>(n), 0.0f);
    if (n <= 0)
        return;
    std::vector<float> q(static_cast<size_t>(n)), p(static_cast<size_t>(n));
    q[0] = 1.0f;
    for (int k = 1; k < n; ++k)
        q[k] = d * q[k - 1] + 1.0f;
    p[n - 1] = 1.0f;
    for (int k = n - 2; k >= 0; --k)
        p[k] = d * p[k + 1] + 1.0f;
    const float invD = 1.0f / d;
    for (int k = 0; k < n; ++k) {
        float s = invD;
        if (k > 0)
            s += q[k - 1];
        if (k < n - 1)
            s += p[k + 1];
        den[k] = s;
    }
}

// One row c[0 .. n-1] of C channels, smoothed with constant decay, written to out with
// outStep floats between consecutive samples (a column of the transposed image).
template <int C>
void RowPassConstant(const float* c, int n, float d, const float* den, float* back, float* out,
                     ptrdiff_t outStep)
{
    for (int ch = 0; ch < C; ++ch)
        back[(n - 1) * C + ch] = c[(n - 1) * C + ch];
    for (int k = n - 2; k >= 0; --k)
        for (int ch = 0; ch < C; ++ch)
            back[k * C + ch] = c[k * C + ch] + d * back[(k + 1) * C + ch];
    float f[C] = {};
    for (int k = 0; k < n; ++k) {
        float* o = out + k * outStep;
        for (int ch = 0; ch < C; ++ch) {
            float num = c[k * C + ch] / d;
            if (k > 0)
                num += f[ch];
            if (k < n - 1)
                num += back[(k + 1) * C + ch];
            o[ch] = num / den[k];
            f[ch] = k == 0 ? c[ch] : c[k * C + ch] + d * f[ch];
        }
    }
}

// The same with the link into sample k scaled by t[k].
template <int C>
void RowPassWeighted(const float* c, const float* t, int n, float d, float* back, float* backWeight,
                     float* out, ptrdiff_t outStep)
{
    for (int ch = 0; ch < C; ++ch)
        back[(n - 1) * C + ch] = c[(n - 1) * C + ch];
    backWeight[n - 1] = 1.0f;
    for (int k = n - 2; k >= 0; --k) {
        const float a = d * t[k];
        for (int ch = 0; ch < C; ++ch)
            back[k * C + ch] = c[k * C + ch] + a * back[(k + 1) * C + ch];
        backWeight[k] = a * backWeight[k + 1] + 1.0f;
    }
    const float invD = 1.0f / d;
    float f[C] = {};
    float q = 1.0f;
    for (int k = 0; k < n; ++k) {
        float den = invD;
        if (k > 0)
            den += q;
        if (k < n - 1)
            den += backWeight[k + 1];
        float* o = out + k * outStep;
        const float a = d * t[k];
        for (int ch = 0; ch < C; ++ch) {
            float num = c[k * C + ch] / d;
            if (k > 0)
                num += f[ch];
            if (k < n - 1)
                num += back[(k + 1) * C + ch];
            o[ch] = num / den;
            f[ch] = k == 0 ? c[ch] : c[k * C + ch] + a * f[ch];
        }
        q = k == 0 ? 1.0f : a * q + 1.0f;
    }
}

// Rows i0 .. i0 + count - 1 of results (row-major in `block`, n samples each) stored as
// the matching columns of `out`.
template <int C, class Pixmap>
void WriteColumns(const float* block, int count, int n, Pixmap& out, int i0)
{
    for (int k = 0; k < n; ++k) {
        float* o = out.GetRow(k) + static_cast<ptrdiff_t>(i0) * C;
        for (int r = 0; r < count; ++r)
            for (int ch = 0; ch < C; ++ch)
                o[r * C + ch] = block[(static_cast<ptrdiff_t>(r) * n + k) * C + ch];
    }
}

// Every row of `in` smoothed into the matching column of `out` (out is in's transpose).
template <int C, class Pixmap>
void TransposedPass(const Pixmap& in, Pixmap& out, float d, const FIRBands& bands)
{
    const int n = in.GetCols();
    std::vector<float> den;
    MakeDenominators(den, n, d);
    bands.Run(in.GetRows(), [&](int first, int end, float* slot) {
        float* block = slot + 4 * static_cast<ptrdiff_t>(n);
        for (int i0 = first; i0 < end; i0 += kBlockRows) {
            const int count = std::min(kBlockRows, end - i0);
            for (int r = 0; r < count; ++r)
                RowPassConstant<C>(in.GetRow(i0 + r), n, d, den.data(), slot,
                                   block + static_cast<ptrdiff_t>(r) * n * C, C);
            WriteColumns<C>(block, count, n, out, i0);
        }
    });
}

template <int C, class Pixmap>
void Smooth2D(Pixmap& output, const Pixmap& input, Pixmap& transposed, float d, const FIRBands& bands)
{
    TransposedPass<C>(input, transposed, d, bands);
    TransposedPass<C>(transposed, output, d, bands);
}

// Rows of `in` with weights `t`, into the columns of `out`; when tOut is given the weights
// are copied transposed into it as well.
void WeightedTransposedPass(const RGBPixmap& in, const MonoPixmap& t, RGBPixmap& out, MonoPixmap* tOut,
                            float d, const FIRBands& bands)
{
    const int n = in.GetCols();
    bands.Run(in.GetRows(), [&](int first, int end, float* slot) {
        float* back = slot;
        float* backWeight = slot + 3 * static_cast<ptrdiff_t>(n);
        float* block = slot + 4 * static_cast<ptrdiff_t>(n);
        for (int i0 = first; i0 < end; i0 += kBlockRows) {
            const int count = std::min(kBlockRows, end - i0);
            for (int r = 0; r < count; ++r)
                RowPassWeighted<3>(in.GetRow(i0 + r), t.GetRow(i0 + r), n, d, back, backWeight,
                                   block + static_cast<ptrdiff_t>(r) * n * 3, 3);
            WriteColumns<3>(block, count, n, out, i0);
            if (tOut == nullptr)
                continue;
            for (int k = 0; k < n; ++k) {
                float* o = tOut->GetRow(k) + i0;
                for (int r = 0; r < count; ++r)
                    o[r] = t.GetRow(i0 + r)[k];
            }
        }
    });
}

void EdgeAwareSmooth(RGBPixmap& output, const RGBPixmap& input, const MonoPixmap& weights,
                     RGBPixmap& transposed, MonoPixmap& weightsTransposed, float d, const FIRBands& bands)
{
    WeightedTransposedPass(input, weights, transposed, &weightsTransposed, d, bands);
    WeightedTransposedPass(transposed, weightsTransposed, output, nullptr, d, bands);
}

void GradientMagnitude(MonoPixmap& output, const RGBPixmap& input, const FIRBands& bands)
{
    const int cols = input.GetCols();
    const int rows = input.GetRows();
    if (cols < 3 || rows < 3) {
        for (int y = 0; y < rows; ++y)
            std::fill_n(output.GetRow(y), cols, 0.0f);
        return;
    }
    bands.Run(rows - 2, [&](int first, int end, float*) {
        for (int y = first + 1; y < end + 1; ++y) {
            const float* above = input.GetRow(y - 1);
            const float* row = input.GetRow(y);
            const float* below = input.GetRow(y + 1);
            float* out = output.GetRow(y);
            for (int x = 1; x < cols - 1; ++x) {
                float s = 0.0f;
                for (int ch = 0; ch < 3; ++ch) {
                    const float dx = row[(x - 1) * 3 + ch] - row[(x + 1) * 3 + ch];
                    const float dy = below[x * 3 + ch] - above[x * 3 + ch];
                    s += dx * dx + dy * dy;
                }
                out[x] = std::sqrt(s);
            }
            out[0] = out[1];
            out[cols - 1] = out[cols - 2];
        }
    });
    std::copy_n(output.GetRow(1), cols, output.GetRow(0));
    std::copy_n(output.GetRow(rows - 2), cols, output.GetRow(rows - 1));
}

float SigmoidWeight(double x, float scale, float sigmoidOffset)
{
    return static_cast<float>(1.0 /
                              (1.0 + std::exp(-static_cast<double>(scale) *
                                              (1.0 + std::tanh(-x) - static_cast<double>(sigmoidOffset)))));
}

// Gradient into output, then each gradient replaced by its weight; `table` holds
// kFIRTableSize floats.
void EdgeWeights(MonoPixmap& output, const RGBPixmap& input, float locality, float scale, float sigmoidOffset,
                 float* table, const FIRBands& bands)
{
    GradientMagnitude(output, input, bands);
    const int cols = output.GetCols();
    const int rows = output.GetRows();
    // Per-row partial sums added in row order, so the deviation is the same for any split.
    std::vector<double> sums(static_cast<size_t>(rows)), squares(static_cast<size_t>(rows));
    bands.Run(rows, [&](int first, int end, float*) {
        for (int y = first; y < end; ++y) {
            double s = 0.0, s2 = 0.0;
            const float* g = output.GetRow(y);
            for (int x = 0; x < cols; ++x) {
                s += g[x];
                s2 += static_cast<double>(g[x]) * g[x];
            }
            sums[y] = s;
            squares[y] = s2;
        }
    });
    double sum = 0.0, sumSquares = 0.0;
    for (int y = 0; y < rows; ++y) {
        sum += sums[y];
        sumSquares += squares[y];
    }
    const double n = static_cast<double>(cols) * rows;
    const double variance = n > 1.0 ? std::max(0.0, (sumSquares - sum * sum / n) / (n - 1.0)) : 0.0;
    const double h = std::sqrt(variance) * locality * 0.5;
    if (!(h > 0.0) || !std::isfinite(h)) {
        // A flat gradient has no scale: everything is a flat area.
        const float flat = FIRFlatAreaWeight(scale, sigmoidOffset);
        for (int y = 0; y < rows; ++y)
            std::fill_n(output.GetRow(y), cols, flat);
        return;
    }
    const double step = 1.0 / (kIndexPerLn * h);
    RunInRowBands(kFIRTableSize, bands.threads, [&](int first, int end) {
        for (int i = first; i < end; ++i)
            table[i] = SigmoidWeight(i * step, scale, sigmoidOffset);
    });
    bands.Run(rows, [&](int first, int end, float*) {
        for (int y = first; y < end; ++y) {
            float* g = output.GetRow(y);
            for (int x = 0; x < cols; ++x) {
                const double index = static_cast<double>(g[x]) * kIndexPerLn * 0.5;
                const int i = index >= kFIRTableSize - 1 ? kFIRTableSize - 1
                              : index > 0.0              ? static_cast<int>(index)
                                                         : 0;
                g[x] = table[i];
            }
        }
    });
}

// Scratch and a context for the public building blocks.
struct OwnBands {
    std::vector<float> scratch;
    FIRBands bands;

    OwnBands(int cols, int rows, int threads)
    {
        const int slots = std::max(1, threads);
        bands.threads = slots;
        bands.slotFloats = static_cast<size_t>(kScratchFloatsPerEntry) * std::max({cols, rows, 1});
        scratch.resize(bands.slotFloats * slots);
        bands.scratch = scratch.data();
    }
};

template <class P>
std::vector<float> TransposedBuffer(const P& p)
{
    return std::vector<float>(static_cast<size_t>(p.GetCols()) * p.GetRows() * P::PixelClass::kChannels);
}

bool SameSize(const FPixmap& a, const FPixmap& b)
{
    return a.GetCols() == b.GetCols() && a.GetRows() == b.GetRows();
}

} // namespace

int FIRValueRange(double g)
{
    if (!(g > 0.0) || !std::isfinite(g))
        return 0;
    const double m = std::trunc(9000.0 / g * 4.0);
    return m >= kFIRMaxRange ? kFIRMaxRange : static_cast<int>(m);
}

float FIRDecay(float proportion, int cols, int rows)
{
    const int64_t span = (static_cast<int64_t>(cols) + rows) >> 2;
    const double x = static_cast<double>(proportion) * static_cast<double>(span);
    if (!(x > 0.0) || !std::isfinite(x))
        return 0.0f;
    const float d = static_cast<float>(std::exp2(-1.0 / x));
    return d > 0.0f ? d : 0.0f;
}

float FIRFlatAreaWeight(float scale, float sigmoidOffset)
{
    return SigmoidWeight(0.0, scale, sigmoidOffset);
}

void FIRSmooth2D(RGBPixmap& output, const RGBPixmap& input, float proportion, int threads)
{
    const float d = FIRDecay(proportion, input.GetCols(), input.GetRows());
    if (d <= 0.0f || !SameSize(output, input) || input.GetCols() < 1 || input.GetRows() < 1)
        return;
    OwnBands own(input.GetCols(), input.GetRows(), threads);
    std::vector<float> t = TransposedBuffer(input);
    RGBPixmap transposed(t.data(), input.GetRows(), input.GetCols(), 0);
    Smooth2D<3>(output, input, transposed, d, own.bands);
}

void FIRSmooth2D(MonoPixmap& output, const MonoPixmap& input, float proportion, int threads)
{
    const float d = FIRDecay(proportion, input.GetCols(), input.GetRows());
    if (d <= 0.0f || !SameSize(output, input) || input.GetCols() < 1 || input.GetRows() < 1)
        return;
    OwnBands own(input.GetCols(), input.GetRows(), threads);
    std::vector<float> t = TransposedBuffer(input);
    MonoPixmap transposed(t.data(), input.GetRows(), input.GetCols(), 0);
    Smooth2D<1>(output, input, transposed, d, own.bands);
}

void FIREdgeAwareSmooth(RGBPixmap& output, const RGBPixmap& input, const MonoPixmap& weights, float decay,
                        int threads)
{
    if (!(decay > 0.0f && decay <= 1.0f) || !SameSize(output, input) || !SameSize(weights, input) ||
        input.GetCols() < 1 || input.GetRows() < 1)
        return;
    OwnBands own(input.GetCols(), input.GetRows(), threads);
    std::vector<float> t = TransposedBuffer(input);
    std::vector<float> wt = TransposedBuffer(weights);
    RGBPixmap transposed(t.data(), input.GetRows(), input.GetCols(), 0);
    MonoPixmap weightsTransposed(wt.data(), input.GetRows(), input.GetCols(), 0);
    EdgeAwareSmooth(output, input, weights, transposed, weightsTransposed, decay, own.bands);
}

void FIRGradientMagnitude(MonoPixmap& output, const RGBPixmap& input, int threads)
{
    if (!SameSize(output, input))
        return;
    OwnBands own(1, 1, threads);
    GradientMagnitude(output, input, own.bands);
}

void FIREdgeWeights(MonoPixmap& output, const RGBPixmap& input, float locality, float scale,
                    float sigmoidOffset, int threads)
{
    if (!SameSize(output, input))
        return;
    OwnBands own(1, 1, threads);
    std::vector<float> table(kFIRTableSize);
    EdgeWeights(output, input, locality, scale, sigmoidOffset, table.data(), own.bands);
}

size_t FIRScratchBytes(int cols, int rows, int threads)
{
    return static_cast<size_t>(std::max(1, threads)) * kScratchFloatsPerEntry * std::max({cols, rows, 1}) *
           sizeof(float);
}

namespace
{

bool AllFinite(std::initializer_list<float> values)
{
    return std::all_of(values.begin(), values.end(), [](float v) { return std::isfinite(v); });
}

void ClampSamples(const SamplePixmap& p, int cols, int rows, int high)
{
    for (int y = 0; y < rows; ++y) {
        int16_t* s = p.GetRow(y);
        for (int i = 0; i < 3 * cols; ++i)
            s[i] = static_cast<int16_t>(std::clamp<int>(s[i], 1, high));
    }
}

} // namespace

void FIRNoiseReduction(SamplePixmap& image, SamplePixmap& reference, float pLocalMeanRef,
                       float pLocalMeanEdgeRef, float pLocalMeanImgWithEdgeRef, float locality,
                       float sigmoidOffset, float scaleEdgeRef, float scaleLocalMeanEdgeRef,
                       float edgeExponent, float m, float g, void* scratch, size_t scratchBytes, int threads)
{
    const int cols = reference.GetCols();
    const int rows = reference.GetRows();
    const int M = FIRValueRange(g);
    const float dRef = FIRDecay(pLocalMeanRef, cols, rows);
    const float dEdgeRef = FIRDecay(pLocalMeanEdgeRef, cols, rows);
    const float dImage = FIRDecay(pLocalMeanImgWithEdgeRef, cols, rows);
    if (cols < 1 || rows < 1 || image.GetCols() < cols || image.GetRows() < rows) {
        DebugTrace("FIRNoiseReduction: image and reference sizes do not fit\n");
        return;
    }
    if (M < 2 || dRef <= 0.0f || dEdgeRef <= 0.0f || dImage <= 0.0f ||
        !AllFinite({locality, sigmoidOffset, scaleEdgeRef, scaleLocalMeanEdgeRef, edgeExponent, m})) {
        DebugTrace("FIRNoiseReduction: unusable parameters, image left as it is\n");
        return;
    }
    const int64_t pixels = static_cast<int64_t>(cols) * rows;
    threads = std::max(1, threads);

    // Working storage; nothing is touched unless all of it is there.
    std::unique_ptr<float[]> x, xt, w1, w2, wt, logTable, powTable, edgeTable, ownScratch;
    std::unique_ptr<int32_t[]> expTable;
    const size_t n = static_cast<size_t>(pixels);
    const bool small = pixels <= kFIRMaxPixels;
    if (small) {
        x = TryAllocate<float>(3 * n);
        xt = TryAllocate<float>(3 * n);
        w1 = TryAllocate<float>(n);
        w2 = TryAllocate<float>(n);
        wt = TryAllocate<float>(n);
        logTable = TryAllocate<float>(static_cast<size_t>(M));
        powTable = TryAllocate<float>(65536);
        edgeTable = TryAllocate<float>(kFIRTableSize);
        expTable = TryAllocate<int32_t>(kFIRTableSize);
    }
    FIRBands bands;
    bands.threads = threads;
    bands.slotFloats = static_cast<size_t>(kScratchFloatsPerEntry) * std::max(cols, rows);
    if (scratch != nullptr && scratchBytes >= FIRScratchBytes(cols, rows, threads) &&
        reinterpret_cast<uintptr_t>(scratch) % alignof(float) == 0) {
        bands.scratch = static_cast<float*>(scratch);
    } else if (small) {
        ownScratch = TryAllocate<float>(bands.slotFloats * threads);
        bands.scratch = ownScratch.get();
    }
    if (!x || !xt || !w1 || !w2 || !wt || !logTable || !powTable || !edgeTable || !expTable ||
        !bands.scratch) {
        DebugTrace("FIRNoiseReduction: not enough memory for %d x %d, image left as it is\n", cols, rows);
        return;
    }
    RGBPixmap X(x.get(), cols, rows, 0);
    RGBPixmap XT(xt.get(), rows, cols, 0);
    MonoPixmap W1(w1.get(), cols, rows, 0);
    MonoPixmap W2(w2.get(), cols, rows, 0);
    MonoPixmap WT(wt.get(), rows, cols, 0);

    ClampSamples(image, cols, rows, M - 1);
    ClampSamples(reference, cols, rows, M - 1);

    // The reference mapped through a power, and its edges before and after a local mean.
    for (int i = 0; i < M; ++i)
        powTable[i] =
            static_cast<float>(std::pow(static_cast<double>(i) / M, static_cast<double>(edgeExponent)));
    bands.Run(rows, [&](int first, int end, float*) {
        for (int y = first; y < end; ++y) {
            const int16_t* r = reference.GetRow(y);
            float* o = X.GetRow(y);
            for (int i = 0; i < 3 * cols; ++i)
                o[i] = powTable[r[i]];
        }
    });
    EdgeWeights(W1, X, locality, scaleEdgeRef, sigmoidOffset, edgeTable.get(), bands);
    Smooth2D<3>(X, X, XT, dRef, bands);
    EdgeWeights(W2, X, locality, scaleLocalMeanEdgeRef, sigmoidOffset, edgeTable.get(), bands);
    bands.Run(rows, [&](int first, int end, float*) {
        for (int y = first; y < end; ++y) {
            const float* a = W1.GetRow(y);
            float* b = W2.GetRow(y);
            for (int i = 0; i < cols; ++i)
                b[i] = std::max(a[i], b[i]);
        }
    });

    // The log ratio, smoothed where the reference has no edges.
    for (int i = 0; i < M; ++i)
        logTable[i] = static_cast<float>(std::log(static_cast<double>(i) / M + 1e-12));
    bands.Run(rows, [&](int first, int end, float*) {
        for (int y = first; y < end; ++y) {
            const int16_t* v = image.GetRow(y);
            const int16_t* r = reference.GetRow(y);
            float* o = X.GetRow(y);
            for (int i = 0; i < 3 * cols; ++i)
                o[i] = logTable[v[i]] - logTable[r[i]];
        }
    });
    EdgeAwareSmooth(X, X, W2, XT, WT, dImage, bands);
    Smooth2D<1>(W1, W2, WT, dEdgeRef, bands);

    const double k = std::min(static_cast<double>(m), 7.0) * g;
    const int64_t Z = static_cast<int64_t>(std::clamp(std::trunc(k * 4096.0), -2147483648.0, 2147483647.0));
    for (int i = 0; i < M; ++i)
        powTable[i] = static_cast<float>(std::pow(static_cast<double>(i) / M, 0.2));
    RunInRowBands(kFIRTableSize, threads, [&](int first, int end) {
        for (int j = first; j < end; ++j)
            expTable[j] = static_cast<int32_t>(std::trunc(2.0 * M * std::exp2(-j / kLogSteps)));
    });

    bands.Run(rows, [&](int first, int end, float*) {
        for (int y = first; y < end; ++y) {
            int16_t* v = image.GetRow(y);
            const int16_t* r = reference.GetRow(y);
            const float* ratio = X.GetRow(y);
            const float* weight = W1.GetRow(y);
            for (int x = 0; x < cols; ++x) {
                int64_t u[3];
                for (int ch = 0; ch < 3; ++ch) {
                    const float logRef = logTable[r[3 * x + ch]];
                    float sum = ratio[3 * x + ch] + logRef;
                    if (!std::isfinite(sum))
                        sum = logRef;
                    const double index = -static_cast<double>(sum) * kIndexPerLn;
                    const int j = index >= kFIRTableSize - 1 ? kFIRTableSize - 1
                                  : index > 0.0              ? static_cast<int>(index)
                                                             : 0;
                    u[ch] = expTable[j];
                }
                const float w = std::min(weight[x], 1.0f);
                const int luma = (r[3 * x] + 2 * r[3 * x + 1] + r[3 * x + 2]) >> 2;
                double yMix =
                    std::trunc((1.0 - static_cast<double>(w)) * powTable[luma] * static_cast<double>(Z));
                if (!std::isfinite(yMix))
                    yMix = 0.0;
                const int64_t Y = static_cast<int64_t>(std::clamp(yMix, -2147483648.0, 2147483647.0));
                for (int ch = 0; ch < 3; ++ch) {
                    const int64_t out = (Z * u[ch] + Y * (2 * int64_t{v[3 * x + ch]} - u[ch])) >> 13;
                    v[3 * x + ch] = static_cast<int16_t>(std::clamp<int64_t>(out, -500, 24000));
                }
            }
        }
    });
}
