#include "FIPNonRawRender.h"

#include <algorithm>
#include <cmath>
#include <cstring>

#include "CreateColorSpaceWhitePoint.h"
#include "FColorMatrix.h"
#include "FException.h"
#include "FPixmap.h"
#include "ToneLUT.h"

namespace
{

constexpr int kTableSize = 65536;
constexpr float kTableMax = 65535.0f;

int TableIndex(float v)
{
    return static_cast<int>(std::clamp(v, 0.0f, 1.0f) * kTableMax + 0.5f);
}

// The output position i of `outputLength` covers [i, i + 1) x S / O of the source; each
// source pixel is weighted by how much of it lies inside. Enlarging interpolates between
// the two nearest pixels instead.
void AppendTaps(int sourceLength, int outputLength, int i, std::vector<int>& index,
                std::vector<float>& weight)
{
    const double scale = static_cast<double>(sourceLength) / outputLength;
    if (sourceLength == outputLength) {
        index.push_back(i);
        weight.push_back(1.0f);
        return;
    }
    if (outputLength > sourceLength) {
        const double c = std::clamp((i + 0.5) * scale - 0.5, 0.0, static_cast<double>(sourceLength - 1));
        const int j = std::min(static_cast<int>(c), sourceLength - 1);
        const double f = c - j;
        index.push_back(j);
        weight.push_back(static_cast<float>(1.0 - f));
        if (j + 1 < sourceLength && f > 0.0) {
            index.push_back(j + 1);
            weight.push_back(static_cast<float>(f));
        }
        return;
    }
    const double a = i * scale;
    const double b = std::min((i + 1) * scale, static_cast<double>(sourceLength));
    const int last = std::min(static_cast<int>(std::ceil(b)), sourceLength);
    for (int j = static_cast<int>(a); j < last; ++j) {
        const double w = std::min(b, j + 1.0) - std::max(a, static_cast<double>(j));
        if (w <= 0.0)
            continue;
        index.push_back(j);
        weight.push_back(static_cast<float>(w / (b - a)));
    }
}

// Channel values of one source pixel, 0 to 1.
template <int Type>
void Fetch(const uint8_t* pixel, float out[3])
{
    if constexpr (Type == FPixmap::PIXEL_8_MONO) {
        out[0] = out[1] = out[2] = pixel[0] * (1.0f / 255.0f);
    } else if constexpr (Type == FPixmap::PIXEL_16_MONO) {
        uint16_t v;
        std::memcpy(&v, pixel, 2);
        out[0] = out[1] = out[2] = v * (1.0f / 65535.0f);
    } else if constexpr (Type == FPixmap::PIXEL_24_RGB) {
        for (int c = 0; c < 3; ++c)
            out[c] = pixel[c] * (1.0f / 255.0f);
    } else {
        uint16_t v[3];
        std::memcpy(v, pixel, 6);
        for (int c = 0; c < 3; ++c)
            out[c] = v[c] * (1.0f / 65535.0f);
    }
}

template <int Type>
constexpr int kBytes = Type == FPixmap::PIXEL_8_MONO    ? 1
                       : Type == FPixmap::PIXEL_16_MONO ? 2
                       : Type == FPixmap::PIXEL_24_RGB  ? 3
                                                        : 6;

// One row of codes (three a pixel) into the output's own layout.
void StoreRow(FPixmap& out, int y, const uint16_t* codes, int width)
{
    uint8_t* row = out.GetRowAddress(y);
    switch (out.GetPixelType()) {
    case FPixmap::PIXEL_32_BGRA:
        for (int x = 0; x < width; ++x, row += 4, codes += 3) {
            row[0] = static_cast<uint8_t>(codes[2]);
            row[1] = static_cast<uint8_t>(codes[1]);
            row[2] = static_cast<uint8_t>(codes[0]);
            row[3] = 255;
        }
        return;
    case FPixmap::PIXEL_24_RGB:
        for (int i = 0; i < 3 * width; ++i)
            row[i] = static_cast<uint8_t>(codes[i]);
        return;
    default:
        std::memcpy(row, codes, size_t(width) * 6);
        return;
    }
}

int OutputBits(int pixelType)
{
    return pixelType == FPixmap::PIXEL_48_RGB ? 16 : 8;
}

} // namespace

FNonRawColor::FNonRawColor(int sourceSpace, int outputSpace, int bits)
    : m_iSource(sourceSpace), m_iOutput(outputSpace), m_iBits(bits), m_bIdentity(sourceSpace == outputSpace)
{
    FGammaSegment decode, encode;
    if (!MakeOutputGammaSegment(sourceSpace, decode) || !MakeOutputGammaSegment(outputSpace, encode))
        throw FException("FNonRawColor: unknown colour space.");
    if (bits != 8 && bits != 16)
        throw FException("FNonRawColor: bits must be 8 or 16.");
    if (m_bIdentity)
        return;
    FColorMatrix toSource, toOutput, fromSource;
    CreateColorSpaceWhitePoint(toSource, sourceSpace, kPcsWhiteD65);
    CreateColorSpaceWhitePoint(toOutput, outputSpace, kPcsWhiteD65);
    if (!FColorMatrix::Inverse(fromSource, toSource))
        throw FException("FNonRawColor: the source colour space cannot be inverted.");
    const FColorMatrix m = FColorMatrix::Multiply(toOutput, fromSource);
    for (int r = 0; r < 3; ++r)
        for (int c = 0; c < 3; ++c)
            m_aMatrix[r][c] = static_cast<float>(m.m[r][c]);
    m_aDecode.resize(kTableSize);
    m_aEncode.resize(kTableSize);
    const double max = bits == 16 ? 65535.0 : 255.0;
    for (int i = 0; i < kTableSize; ++i) {
        const double v = i / static_cast<double>(kTableMax);
        m_aDecode[static_cast<size_t>(i)] =
            static_cast<float>(std::clamp(GammaSegmentDecode(decode, v), 0.0, 1.0));
        const double e = std::clamp(GammaSegmentEncode(encode, v * v), 0.0, 1.0);
        m_aEncode[static_cast<size_t>(i)] = static_cast<uint16_t>(std::lround(e * max));
    }
}

void FNonRawColor::Convert(const float in[3], uint16_t out[3]) const
{
    if (m_bIdentity) {
        const float max = m_iBits == 16 ? 65535.0f : 255.0f;
        for (int c = 0; c < 3; ++c)
            out[c] = static_cast<uint16_t>(std::clamp(in[c], 0.0f, 1.0f) * max + 0.5f);
        return;
    }
    float linear[3];
    for (int c = 0; c < 3; ++c)
        linear[c] = m_aDecode[static_cast<size_t>(TableIndex(in[c]))];
    for (int r = 0; r < 3; ++r) {
        const float v =
            m_aMatrix[r][0] * linear[0] + m_aMatrix[r][1] * linear[1] + m_aMatrix[r][2] * linear[2];
        out[r] = m_aEncode[static_cast<size_t>(TableIndex(std::sqrt(std::max(v, 0.0f))))];
    }
}

void FNonRawRenderer::Taps::Build(int sourceLength, int outputLength, int from, int to)
{
    first.clear();
    index.clear();
    weight.clear();
    for (int i = from; i < to; ++i) {
        first.push_back(static_cast<int>(index.size()));
        AppendTaps(sourceLength, outputLength, i, index, weight);
    }
    first.push_back(static_cast<int>(index.size()));
}

FNonRawRenderer::FNonRawRenderer(int cols, int rows, const FNonRawGeometry& geometry,
                                 std::shared_ptr<const FNonRawColor> color)
    : m_iCols(cols), m_iRows(rows), m_iRotation(geometry.m_iRotation), m_bMirror(geometry.m_bMirror),
      m_rCrop(geometry.m_rCrop), m_pColor(std::move(color))
{
    if (m_iRotation != 0 && m_iRotation != 90 && m_iRotation != 180 && m_iRotation != 270)
        throw FException("FNonRawRenderer: the rotation is not a quarter turn.");
    const FRect& c = m_rCrop;
    if (cols <= 0 || rows <= 0 || geometry.m_iOutCols <= 0 || geometry.m_iOutRows <= 0 || c.left < 0 ||
        c.top < 0 || c.right > geometry.m_iOutCols || c.bottom > geometry.m_iOutRows || c.right <= c.left ||
        c.bottom <= c.top || m_pColor == nullptr)
        throw FException("FNonRawRenderer: the crop lies outside the output.");
    const bool turned = m_iRotation == 90 || m_iRotation == 270;
    m_Across.Build(turned ? rows : cols, geometry.m_iOutCols, c.left, c.right);
    m_Down.Build(turned ? cols : rows, geometry.m_iOutRows, c.top, c.bottom);
    m_bOneToOne =
        m_iRotation == 0 && !m_bMirror && geometry.m_iOutCols == cols && geometry.m_iOutRows == rows;
}

bool FNonRawRenderer::CanRead(int pixelType)
{
    return pixelType == FPixmap::PIXEL_8_MONO || pixelType == FPixmap::PIXEL_16_MONO ||
           pixelType == FPixmap::PIXEL_24_RGB || pixelType == FPixmap::PIXEL_48_RGB;
}

namespace
{

struct RenderJob {
    const FPixmap& source;
    FPixmap& out;
    const std::vector<int>& acrossFirst;
    const std::vector<int>& acrossIndex;
    const std::vector<float>& acrossWeight;
    const std::vector<int>& downFirst;
    const std::vector<int>& downIndex;
    const std::vector<float>& downWeight;
    const FNonRawColor& color;
    int rotation;
    bool mirror;
    bool oneToOne;
};

template <int Type>
void RenderRowsOf(const RenderJob& job, int first, int end)
{
    const int cols = job.source.GetCols();
    const int rows = job.source.GetRows();
    const int width = static_cast<int>(job.acrossFirst.size()) - 1;
    // An oriented position (u across, v down) read from the source as it lies: turned
    // back, then mirrored back.
    auto at = [&](int u, int v) {
        int x = u, y = v;
        switch (job.rotation) {
        case 90:
            x = v;
            y = rows - 1 - u;
            break;
        case 180:
            x = cols - 1 - u;
            y = rows - 1 - v;
            break;
        case 270:
            x = cols - 1 - v;
            y = u;
            break;
        default:
            break;
        }
        if (job.mirror)
            x = cols - 1 - x;
        return job.source.GetRowAddress(y) + static_cast<ptrdiff_t>(x) * kBytes<Type>;
    };
    std::vector<uint16_t> codes(size_t(width) * 3);
    for (int r = first; r < end; ++r) {
        const int v0 = job.downFirst[static_cast<size_t>(r)];
        const int v1 = job.downFirst[static_cast<size_t>(r) + 1];
        if (job.oneToOne) {
            // Same size, no turn: each output pixel is one source pixel.
            const uint8_t* source = at(job.acrossIndex[0], job.downIndex[static_cast<size_t>(v0)]);
            for (int k = 0; k < width; ++k) {
                float value[3];
                Fetch<Type>(source + static_cast<ptrdiff_t>(k) * kBytes<Type>, value);
                job.color.Convert(value, &codes[size_t(k) * 3]);
            }
            StoreRow(job.out, r, codes.data(), width);
            continue;
        }
        for (int k = 0; k < width; ++k) {
            const int u0 = job.acrossFirst[static_cast<size_t>(k)];
            const int u1 = job.acrossFirst[static_cast<size_t>(k) + 1];
            float sum[3] = {0.0f, 0.0f, 0.0f};
            for (int j = v0; j < v1; ++j) {
                const int v = job.downIndex[static_cast<size_t>(j)];
                const float wv = job.downWeight[static_cast<size_t>(j)];
                for (int i = u0; i < u1; ++i) {
                    float value[3];
                    Fetch<Type>(at(job.acrossIndex[static_cast<size_t>(i)], v), value);
                    const float w = wv * job.acrossWeight[static_cast<size_t>(i)];
                    for (int c = 0; c < 3; ++c)
                        sum[c] += w * value[c];
                }
            }
            job.color.Convert(sum, &codes[size_t(k) * 3]);
        }
        StoreRow(job.out, r, codes.data(), width);
    }
}

} // namespace

void FNonRawRenderer::RenderRows(const FPixmap& source, FPixmap& out, int first, int end) const
{
    const int type = out.GetPixelType();
    const bool outOk =
        type == FPixmap::PIXEL_32_BGRA || type == FPixmap::PIXEL_24_RGB || type == FPixmap::PIXEL_48_RGB;
    if (!outOk || OutputBits(type) != m_pColor->GetBits())
        throw FException("FNonRawRenderer: unsupported output pixel type.");
    if (source.GetCols() != m_iCols || source.GetRows() != m_iRows || !CanRead(source.GetPixelType()))
        throw FException("FNonRawRenderer: the source does not match.");
    first = std::max(first, 0);
    end = std::min(end, GetCropRows());
    if (first >= end)
        return;
    if (out.GetCols() < m_rCrop.right - m_rCrop.left || out.GetRows() < end)
        throw FException("FNonRawRenderer: the output is smaller than the crop.");
    const RenderJob job{source,          out,          m_Across.first, m_Across.index,
                        m_Across.weight, m_Down.first, m_Down.index,   m_Down.weight,
                        *m_pColor,       m_iRotation,  m_bMirror,      m_bOneToOne};
    switch (source.GetPixelType()) {
    case FPixmap::PIXEL_8_MONO:
        RenderRowsOf<FPixmap::PIXEL_8_MONO>(job, first, end);
        return;
    case FPixmap::PIXEL_16_MONO:
        RenderRowsOf<FPixmap::PIXEL_16_MONO>(job, first, end);
        return;
    case FPixmap::PIXEL_24_RGB:
        RenderRowsOf<FPixmap::PIXEL_24_RGB>(job, first, end);
        return;
    default:
        RenderRowsOf<FPixmap::PIXEL_48_RGB>(job, first, end);
        return;
    }
}

int NonRawReduction(int cols, int rows, int outCols, int outRows, int rotation)
{
    if (rotation == 90 || rotation == 270)
        std::swap(cols, rows);
    int n = 0;
    while (n < 3 && (cols >> (n + 1)) >= outCols && (rows >> (n + 1)) >= outRows)
        ++n;
    return n;
}
