#include "JpegPreviewSection.h"

#include <algorithm>

#include "FJPEGLineWriter.h"
#include "FPixmap.h"

namespace rawtest
{

ImageSection JpegPreviewSection(const uint8_t* rgb, int cols, int rows, int qualityIndex)
{
    std::vector<uint8_t> memory;
    {
        FJPEGLineWriter writer(&memory, qualityIndex, false);
        writer.SetDimensions(cols, rows, FPixmap::PIXEL_24_RGB);
        for (int y = 0; y < rows; ++y)
            writer.WriteLine(rgb + size_t(y) * cols * 3, FPixmap::PIXEL_24_RGB);
        writer.Finish();
    }
    ImageSection section;
    section.imageType = 2;
    section.pixelFormat = kPreviewFormatJPEG;
    section.columns = uint32_t(cols);
    section.rows = uint32_t(rows);
    section.rowSize = 0;
    section.payload.assign(memory.begin(), memory.end());
    return section;
}

std::vector<uint8_t> BoxShrink(const uint8_t* rgb, int cols, int rows, int outCols, int& outRows)
{
    outCols = std::clamp(outCols, 1, cols);
    outRows = std::max(1, int(int64_t(outCols) * rows / cols));
    std::vector<uint8_t> out;
    out.reserve(size_t(outCols) * outRows * 3);
    for (int y = 0; y < outRows; ++y) {
        const int y0 = int(int64_t(y) * rows / outRows);
        const int y1 = std::max(y0 + 1, int(int64_t(y + 1) * rows / outRows));
        for (int x = 0; x < outCols; ++x) {
            const int x0 = int(int64_t(x) * cols / outCols);
            const int x1 = std::max(x0 + 1, int(int64_t(x + 1) * cols / outCols));
            for (int c = 0; c < 3; ++c) {
                int sum = 0;
                for (int sy = y0; sy < y1; ++sy)
                    for (int sx = x0; sx < x1; ++sx)
                        sum += rgb[(size_t(sy) * cols + sx) * 3 + c];
                out.push_back(uint8_t(sum / ((y1 - y0) * (x1 - x0))));
            }
        }
    }
    return out;
}

} // namespace rawtest
