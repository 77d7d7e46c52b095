#include "FImage.h"

#include <cstdint>
#include <new>

#include "FException.h"

namespace
{

int BytesPerPixelOfImageType(int type)
{
    // Images hold ids 1 to 17 only; the float work types have no image.
    if (type < FPixmap::PIXEL_8_MONO || type > FPixmap::PIXEL_48_BGR)
        return 0;
    return GetPixelTypeBytesPerPixel(type);
}

} // namespace

FImage::FImage(int cols, int rows, int pixelType, int rowAlignment) : m_iPixelType(pixelType)
{
    const int bytesPerPixel = GetBytesPerPixel();
    if (cols < 0 || rows < 0)
        throw FExceptionPixmap("FImage::FImage()");
    // Sizes in 64 bits: rows must fit the pixmap's 32-bit stride and the whole in memory.
    int64_t rowBytes = static_cast<int64_t>(cols) * bytesPerPixel;
    if (rowAlignment > 1)
        rowBytes = (rowBytes + rowAlignment - 1) / rowAlignment * rowAlignment;
    if (rowBytes > INT32_MAX)
        throw std::bad_alloc();
    const uint64_t total = static_cast<uint64_t>(rowBytes) * static_cast<uint64_t>(rows);
    if (total > static_cast<uint64_t>(kMaxImageBytes))
        throw std::bad_alloc();

    m_pAllocator = GetMemoryAllocator(nullptr);
    m_pPixels = m_pAllocator->Alloc(static_cast<size_t>(total));
    if (m_pPixels == nullptr) {
        ReleaseMemoryAllocator(m_pAllocator);
        throw std::bad_alloc();
    }
    try {
        m_pPixmap =
            NewFPixmap(pixelType, m_pPixels, cols, rows, static_cast<int>(rowBytes), "FImage::FImage()");
    } catch (...) {
        m_pAllocator->Free(m_pPixels);
        ReleaseMemoryAllocator(m_pAllocator);
        throw;
    }
}

FImage::~FImage()
{
    if (m_pAllocator != nullptr) {
        m_pAllocator->Free(m_pPixels);
        ReleaseMemoryAllocator(m_pAllocator);
    }
    delete m_pPixmap;
}

int FImage::GetBytesPerPixel() const
{
    const int bytes = BytesPerPixelOfImageType(m_iPixelType);
    if (bytes == 0)
        throw FExceptionUnknownPixelType("FImage::GetBytesPerPixel()");
    return bytes;
}

bool FImage::IsSameFormat(const FImage& other) const
{
    return m_pPixmap->GetCols() == other.m_pPixmap->GetCols() &&
           m_pPixmap->GetRows() == other.m_pPixmap->GetRows() &&
           m_pPixmap->GetPixelType() == other.m_pPixmap->GetPixelType();
}
