#pragma once

#include <cstdint>

#include "FHasProperties.h"
#include "FMemoryAllocator.h"
#include "FPixmap.h"
#include "FRefCountable.h"

// Largest pixel block an image may take; larger requests throw std::bad_alloc at once.
inline constexpr int64_t kMaxImageBytes = int64_t{1} << 32;

// An image buffer of one pixel type (1 to 17) with its properties and its pixmap, shared by
// reference count (starts at 1; release with ReleaseReference).
class FImage : public FHasProperties, public FRefCountable
{
public:
    // Rows are cols x bytes per pixel, padded to a multiple of rowAlignment when it is above
    // 1. An unknown type throws FExceptionUnknownPixelType "FImage::GetBytesPerPixel()"
    // before any memory is taken; negative sizes throw FExceptionPixmap; rows beyond 32
    // bits, pixels beyond kMaxImageBytes or a block the heap cannot give throw std::bad_alloc. The pixels are
    // not initialised.
    FImage(int cols, int rows, int pixelType, int rowAlignment);
    ~FImage() override;
    FImage(const FImage&) = delete;
    FImage& operator=(const FImage&) = delete;

    int GetBytesPerPixel() const;
    // Equal columns, equal rows and the same pixel type.
    virtual bool IsSameFormat(const FImage& other) const;

    FPixmap* GetPixmap() const { return m_pPixmap; }
    int GetPixelType() const { return m_iPixelType; }
    FHasProperties& GetProperties() { return *this; }
    const FHasProperties& GetProperties() const { return *this; }

private:
    FMemoryAllocator* m_pAllocator = nullptr;
    FPixmap* m_pPixmap = nullptr;
    int m_iPixelType;
    void* m_pPixels = nullptr;
};
