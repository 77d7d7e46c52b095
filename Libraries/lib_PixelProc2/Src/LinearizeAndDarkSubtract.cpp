#include "LinearizeAndDarkSubtract.h"

#include <algorithm>
#include <vector>

#include "FException.h"
#include "FPixmap.h"

namespace
{

bool SameSize(const FPixmap* a, const FPixmap* b)
{
    return a->GetCols() == b->GetCols() && a->GetRows() == b->GetRows();
}

// Samples are indexed per channel with the channel's own table.
inline int32_t Lookup(const int16_t* channel, int32_t mask, int32_t index)
{
    return channel[index & mask];
}

// raw - dark in 16-bit wrap-around arithmetic: the low 16 bits of the 32-bit difference.
// Blocks of a fixed size over distinct pointers, so that the compiler vectorises them.
void SubtractSamples(const uint16_t* __restrict dark, const uint16_t* __restrict raw, int16_t* __restrict out,
                     int samples)
{
    constexpr int kBlock = 16;
    int i = 0;
    for (; i + kBlock <= samples; i += kBlock)
        for (int k = 0; k < kBlock; ++k)
            out[i + k] = static_cast<int16_t>(static_cast<uint16_t>(raw[i + k] - dark[i + k]));
    for (; i < samples; ++i)
        out[i] = static_cast<int16_t>(static_cast<uint16_t>(raw[i] - dark[i]));
}

} // namespace

void LinearizeAndDarkSubtractImage(const FPixmap* dark, const FPixmap* raw, const FColorLUT* /*table*/,
                                   const FPixmap* out)
{
    if (dark == nullptr)
        throw FExceptionPixelProc2("LinearizeAndDarkSubtractImage: dark image pointer is NULL.\n");
    if (raw == nullptr)
        throw FExceptionPixelProc2("LinearizeAndDarkSubtractImage: raw image pointer is NULL.\n");
    if (out == nullptr)
        throw FExceptionPixelProc2("LinearizeAndDarkSubtractImage: out image pointer is NULL.\n");
    if (!SameSize(dark, raw))
        throw FExceptionPixelProc2("LinearizeAndDarkSubtractImage: dark and raw are different sizes.\n");
    if (!SameSize(raw, out))
        throw FExceptionPixelProc2("LinearizeAndDarkSubtractImage: raw and output are different sizes.\n");
}

void DarkSubtractRow(const uint16_t* darkRow, const uint16_t* rawRow, int cols, const FColorLUT* table,
                     int16_t* outRow)
{
    const int samples = 3 * std::max(cols, 0);
    if (table == nullptr) {
        SubtractSamples(darkRow, rawRow, outRow, samples);
        return;
    }
    const int16_t* r = table->m_pRedData;
    const int16_t* g = table->m_pGreenData;
    const int16_t* b = table->m_pBlueData;
    const int32_t mask = table->m_iMask;
    for (int i = 0; i < samples; i += 3) {
        outRow[i] = static_cast<int16_t>(Lookup(r, mask, rawRow[i]) - Lookup(r, mask, darkRow[i]));
        outRow[i + 1] =
            static_cast<int16_t>(Lookup(g, mask, rawRow[i + 1]) - Lookup(g, mask, darkRow[i + 1]));
        outRow[i + 2] =
            static_cast<int16_t>(Lookup(b, mask, rawRow[i + 2]) - Lookup(b, mask, darkRow[i + 2]));
    }
}

void DarkSubtractRowWithOffset(const uint16_t* darkRow, const uint16_t* rawRow, int cols,
                               const FColorLUT* table, int16_t* outRow, const int16_t* offsetRow)
{
    // Without a table (r + o) - (d + o) is r - d.
    if (table == nullptr) {
        DarkSubtractRow(darkRow, rawRow, cols, nullptr, outRow);
        return;
    }
    const int16_t* r = table->m_pRedData;
    const int16_t* g = table->m_pGreenData;
    const int16_t* b = table->m_pBlueData;
    const int32_t mask = table->m_iMask;
    const int samples = 3 * std::max(cols, 0);
    for (int i = 0; i < samples; i += 3) {
        const int32_t o0 = offsetRow[i];
        const int32_t o1 = offsetRow[i + 1];
        const int32_t o2 = offsetRow[i + 2];
        outRow[i] = static_cast<int16_t>(Lookup(r, mask, rawRow[i] + o0) - Lookup(r, mask, darkRow[i] + o0));
        outRow[i + 1] =
            static_cast<int16_t>(Lookup(g, mask, rawRow[i + 1] + o1) - Lookup(g, mask, darkRow[i + 1] + o1));
        outRow[i + 2] =
            static_cast<int16_t>(Lookup(b, mask, rawRow[i + 2] + o2) - Lookup(b, mask, darkRow[i + 2] + o2));
    }
}

bool CalculateRawOffsetRow(const FPixmap* dark, int16_t* offsetRow, uint32_t firstRow, uint32_t lastRow,
                           uint32_t rowStep, uint32_t filterShift)
{
    if (dark == nullptr || offsetRow == nullptr || GetPixelTypeBytesPerPixel(dark->GetPixelType()) != 6)
        return false;
    const int cols = dark->GetCols();
    if (cols <= 0 || dark->GetRows() <= 0)
        return false;
    if (rowStep == 0 || firstRow > lastRow || lastRow >= static_cast<uint32_t>(dark->GetRows()))
        return false;
    const uint64_t rowCount = (static_cast<uint64_t>(lastRow) - firstRow) / rowStep + 1;
    if (rowCount < 3)
        return false;

    const size_t samples = 3 * static_cast<size_t>(cols);
    std::vector<int64_t> sum(samples, 0);
    std::vector<int64_t> maxima(samples, 0);
    // The minimum starts above every 16-bit sample, so that data wider than 12 bits is
    // trimmed by its real minimum.
    std::vector<int64_t> minima(samples, 65535);
    for (uint64_t row = firstRow; row <= lastRow; row += rowStep) {
        const uint16_t* p = reinterpret_cast<const uint16_t*>(dark->GetRowAddress(static_cast<int>(row)));
        for (size_t i = 0; i < samples; ++i) {
            const int64_t v = p[i];
            sum[i] += v;
            maxima[i] = std::max(maxima[i], v);
            minima[i] = std::min(minima[i], v);
        }
    }

    std::vector<int64_t> trimmed(samples);
    for (size_t i = 0; i < samples; ++i)
        trimmed[i] = sum[i] - maxima[i] - minima[i];

    // Two-way exponential smoothing of each channel along the row, h carried over.
    const uint32_t k = filterShift & 31;
    std::vector<int64_t> smooth(samples);
    for (int c = 0; c < 3; ++c) {
        int64_t h = trimmed[c];
        for (int j = 0; j < cols; ++j) {
            const size_t i = 3 * static_cast<size_t>(j) + c;
            h += (trimmed[i] - h) >> k;
            smooth[i] = h;
        }
        for (int j = cols - 1; j >= 0; --j) {
            const size_t i = 3 * static_cast<size_t>(j) + c;
            h += (smooth[i] - h) >> k;
            smooth[i] = h;
        }
    }

    const int64_t divisor = static_cast<int64_t>(rowCount) - 2;
    for (size_t i = 0; i < samples; ++i)
        offsetRow[i] = static_cast<int16_t>((smooth[i] - trimmed[i]) / divisor);
    return true;
}
