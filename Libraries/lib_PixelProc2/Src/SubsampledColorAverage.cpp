#include "SubsampledColorAverage.h"

#include <cstdint>

#include "FException.h"
#include "FPixelClassAccessors.h"

namespace
{

template <class P>
FDoubleRGB SubsampledAverage(const FPixmap& pixmap, int step)
{
    const auto* typed = dynamic_cast<const FPixmapTemplate<P>*>(&pixmap);
    if (typed == nullptr)
        throw FExceptionPixelProc2("SubsampledAverage: input pixmap ptr is not specified type");
    const int64_t start = step / 2;
    const int64_t rows = typed->GetRows();
    const int64_t cols = typed->GetCols();
    double sumR = 0.0;
    double sumG = 0.0;
    double sumB = 0.0;
    int64_t count = 0;
    for (int64_t y = start; y < rows; y += step) {
        const uint8_t* row = typed->GetRowAddress(int(y));
        for (int64_t x = start; x < cols; x += step) {
            const FIntRGB t = GetPixelRGB<P>(row + x * P::kBytesPerPixel);
            sumR += t.r;
            sumG += t.g;
            sumB += t.b;
            ++count;
        }
    }
    if (count == 0)
        return {0.0, 0.0, 0.0};
    return {sumR / double(count), sumG / double(count), sumB / double(count)};
}

} // namespace

FDoubleRGB& SubsampledColorAverage(FDoubleRGB& out, const FPixmap& pixmap, int step)
{
    if (step < 1)
        step = 1;
    switch (pixmap.GetPixelType()) {
    case FPixmap::PIXEL_24_RGB:
        out = SubsampledAverage<FPixelClass24RGB>(pixmap, step);
        return out;
    case FPixmap::PIXEL_30_RGBL:
        out = SubsampledAverage<FPixelClass30RGBL>(pixmap, step);
        return out;
    case FPixmap::PIXEL_30_RGB:
        out = SubsampledAverage<FPixelClass30RGB>(pixmap, step);
        return out;
    case FPixmap::PIXEL_48_RGB:
        out = SubsampledAverage<FPixelClass48RGB>(pixmap, step);
        return out;
    case FPixmap::PIXEL_48S_RGB:
        out = SubsampledAverage<FPixelClass48SRGB>(pixmap, step);
        return out;
    case FPixmap::PIXEL_48_BGR:
        out = SubsampledAverage<FPixelClass48BGR>(pixmap, step);
        return out;
    }
    throw FExceptionPixelProc2("SubsampledColorAverage: Unknown pixel type");
}
