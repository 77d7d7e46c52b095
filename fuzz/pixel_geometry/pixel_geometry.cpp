// Pixel-format conversion, rotation, crop-size-rotate and averages over pixmaps whose
// types, sizes, crops, output rectangles and angles come from the input: every call
// either works inside its pixmaps or throws a member of the exception family.
#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

#include "ConvertColorPixmap.h"
#include "CropSizeRotate.h"
#include "FException.h"
#include "FLUT.h"
#include "FPixmap.h"
#include "RotatePixmap.h"
#include "SubsampledColorAverage.h"

namespace
{

class Reader
{
public:
    Reader(const uint8_t* data, size_t size) : m_pData(data), m_uSize(size) {}
    uint8_t Byte()
    {
        if (m_uPos >= m_uSize)
            return 0;
        return m_pData[m_uPos++];
    }
    // A small signed value around the sizes in play.
    int Small(int lo, int hi) { return lo + Byte() % (hi - lo + 1); }
    const uint8_t* Rest(size_t& size) const
    {
        size = m_uSize - m_uPos;
        return m_pData + m_uPos;
    }

private:
    const uint8_t* m_pData;
    size_t m_uSize;
    size_t m_uPos = 0;
};

// A pixmap over a buffer of exactly its size, filled from the input's tail.
struct Image {
    Image(int type, int cols, int rows, const uint8_t* fill, size_t fillSize)
        : bytes(size_t(cols) * rows * size_t(GetPixelTypeBytesPerPixel(type)) + 1),
          pixmap(NewFPixmap(type, bytes.data(), cols, rows, 0))
    {
        for (size_t i = 0; fillSize != 0 && i < bytes.size(); ++i)
            bytes[i] = fill[i % fillSize];
    }
    std::vector<uint8_t> bytes;
    std::unique_ptr<FPixmap> pixmap;
};

FRect ReadRect(Reader& in, int lo, int hi)
{
    const int l = in.Small(lo, hi);
    const int t = in.Small(lo, hi);
    const int r = in.Small(lo, hi);
    const int b = in.Small(lo, hi);
    return FRect(l, t, r, b);
}

unsigned ReadRotation(Reader& in)
{
    static const unsigned kRotations[] = {0, 90, 180, 270, 360, 450, 45, unsigned(-90), 1, 900};
    return kRotations[in.Byte() % 10];
}

void Run(Reader& in)
{
    const int op = in.Byte() % 6;
    const int srcType = in.Small(1, 19);
    const int dstType = in.Small(1, 19);
    const int cols = in.Small(0, 40);
    const int rows = in.Small(0, 40);
    const int outCols = in.Small(0, 64);
    const int outRows = in.Small(0, 64);
    const bool useCrop = in.Byte() & 1;
    const FRect crop = ReadRect(in, -4, 44);
    const FRect outRect = ReadRect(in, -4, 68);
    const unsigned rotation = ReadRotation(in);
    const double angle = double(int8_t(in.Byte())) * 3.0 + in.Byte() / 256.0;
    const int step = in.Small(-2, 12);
    size_t fillSize = 0;
    const uint8_t* fill = in.Rest(fillSize);

    switch (op) {
    case 0: {
        Image source(srcType, cols, rows, fill, fillSize);
        Image out(dstType, outCols % 41, outRows % 41, fill, fillSize);
        ConvertColorPixmap(*source.pixmap, out.pixmap.get(), useCrop ? &crop : nullptr);
        return;
    }
    case 1: {
        Image source(srcType, cols, rows, fill, fillSize);
        Image out(dstType, outCols, outRows, fill, fillSize);
        Rotate(*source.pixmap, *out.pixmap, angle);
        return;
    }
    case 2: {
        FLUT lut(65536);
        for (int i = 0; i < 65536; ++i)
            lut.m_pData[i] = int16_t(i);
        Image source(srcType, cols, rows, fill, fillSize);
        Image color(dstType, outRect.Width() > 0 ? outRect.Width() : 0,
                    outRect.Height() > 0 ? outRect.Height() : 0, fill, fillSize);
        Image l(FPixmap::PIXEL_16S_MONO, color.pixmap->GetCols(), color.pixmap->GetRows(), fill, fillSize);
        CropSizeRotateMore(*source.pixmap, crop, cols, rows, outCols, outRows, outRect, rotation, lut,
                           *color.pixmap, *l.pixmap, angle / 100.0, step * 50, -step * 50);
        return;
    }
    case 3: {
        Image source(srcType, cols, rows, fill, fillSize);
        Image out(dstType, outRect.Width() > 0 ? outRect.Width() : 0,
                  outRect.Height() > 0 ? outRect.Height() : 0, fill, fillSize);
        CropSizeRotateMono(*source.pixmap, crop, 0, 0, outCols, outRows, outRect, rotation, *out.pixmap);
        return;
    }
    case 4: {
        Image source(srcType, cols, rows, fill, fillSize);
        Image out(dstType, outCols, outRows, fill, fillSize);
        CropSizeRotate(*source.pixmap, *out.pixmap, outCols, outRows, outRect, rotation);
        return;
    }
    case 5: {
        Image source(srcType, cols, rows, fill, fillSize);
        FDoubleRGB mean;
        SubsampledColorAverage(mean, *source.pixmap, step);
        return;
    }
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    Reader in(data, size);
    try {
        Run(in);
    } catch (const FException&) {
    }
    return 0;
}
