// Image-section decoding over arbitrary payloads.
// Input: pixel format (byte 0), columns (u16), rows (byte), row size (u32), then
// the payload. The pixmap is exactly the delivered size, so that the sanitizers
// see any write past it.
#include "FBribImageDecoder.h"
#include "FBribImageReaderImpl.h"
#include "FException.h"
#include "FPixmap.h"

#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size < 8) {
        return 0;
    }
    BribImageHead head{};
    head.m_iPixelFormat = data[0] % 32;
    head.m_iCols = (data[1] | data[2] << 8) % 512;
    head.m_iRows = data[3] % 64;
    head.m_iRowSize = int(uint32_t(data[4]) | uint32_t(data[5]) << 8 | uint32_t(data[6]) << 16 |
                          uint32_t(data[7] & 0x7F) << 24);
    const int type = FBribImageReaderImpl::priGetPixmapType(head.m_iPixelFormat);
    int dims[2] = {0, 0};
    FBribImageReaderImpl::priGetDeliveredDimensions(head.m_iPixelFormat, head.m_iCols, head.m_iRows, dims);
    const int pixmapType = type == 0 ? FPixmap::PIXEL_48_RGB : type;
    const int stride = dims[0] * GetPixelTypeBytesPerPixel(pixmapType);
    std::vector<uint8_t> pixels(size_t(stride) * size_t(dims[1]) + 1);
    std::unique_ptr<FPixmap> pixmap(NewFPixmap(pixmapType, pixels.data(), dims[0], dims[1], stride));
    FBribPayload payload(data + 8, size - 8);
    double progress = 0;
    const char cancel = 0;
    try {
        FBribImageDecoder::Decode(payload, head, *pixmap, &progress, &cancel);
    } catch (const FException&) {
    }
    return 0;
}
