#include "FLinuxUiPixmap.h"

#include "FIGenericUiPixmap.h"
#include "FIOsTextLayer.h"
#include "FOsFont.h"
#include "FPixmap.h"
#include "FUiPixmapLimits.h"

#include <cstring>
#include <new>

FLinuxUiPixmap::FLinuxUiPixmap(FIGenericUiPixmap* owner, bool osBitmap)
    : m_pOwner(owner), m_pHandle(osBitmap ? this : nullptr)
{
}

void* FLinuxUiPixmap::GetOsInfo(int kind)
{
    return kind == kOsInfoHandle ? static_cast<void*>(&m_pHandle) : nullptr;
}

bool FLinuxUiPixmap::SetOsInfo(int kind, void* info)
{
    if (kind != kOsInfoHandle || info == nullptr)
        return false;
    m_pHandle = *static_cast<void**>(info);
    return true;
}

bool FLinuxUiPixmap::Allocate(int width, int height)
{
    if (!IsUiPixmapSizeAllowed(width, height))
        return false;
    const size_t bytes = size_t(width) * size_t(height) * 4;
    m_pPixels.reset(new (std::nothrow) uint8_t[bytes]);
    if (m_pPixels == nullptr)
        return false;
    m_iWidth = width;
    m_iHeight = height;
    m_iStride = width * 4;
    return true;
}

void FLinuxUiPixmap::PublishToOwner()
{
    if (m_pOwner == nullptr || m_pPixels == nullptr)
        return;
    m_pOwner->SetDisplayPixmap(new FPixmap_Display(m_pPixels.get(), m_iWidth, m_iHeight, m_iStride));
}

FIOsUiPixmap* CreateOsUiPixmap(FIGenericUiPixmap* owner, int width, int height, bool osBitmap)
{
    if (owner == nullptr)
        return nullptr;
    auto* pixmap = new FLinuxUiPixmap(owner, osBitmap);
    if (pixmap->Allocate(width, height))
        pixmap->PublishToOwner();
    return pixmap;
}

FIOsUiPixmap* CreateOsUiPixmap(FIGenericUiPixmap* owner, const FPixmap_Display* source, bool osBitmap)
{
    if (owner == nullptr)
        return nullptr;
    auto* pixmap = new FLinuxUiPixmap(owner, osBitmap);
    if (source == nullptr || source->GetBuffer() == nullptr ||
        !pixmap->Allocate(source->GetCols(), source->GetRows()))
        return pixmap;
    const size_t rowBytes = size_t(source->GetCols()) * 4;
    for (int y = 0; y < source->GetRows(); ++y)
        std::memcpy(pixmap->GetPixels() + size_t(y) * size_t(pixmap->GetStride()), source->GetRowAddress(y),
                    rowBytes);
    pixmap->PublishToOwner();
    return pixmap;
}

FIOsUiPixmap* CreateOsUiPixmap(FIGenericUiPixmap* owner, const char16_t* text, const char16_t* face,
                               int height, bool bold, bool italic, bool underline, int* prefixWidths,
                               bool osBitmap)
{
    if (owner == nullptr)
        return nullptr;
    auto* pixmap = new FLinuxUiPixmap(owner, osBitmap);
    FOsFont* font = CreateOsFont(face, height, bold, italic, underline);
    if (font == nullptr || text == nullptr) {
        DeleteOsFont(font);
        return pixmap;
    }
    FOsTextImage image;
    const int length = static_cast<int>(std::char_traits<char16_t>::length(text));
    const bool rendered = GetOsTextLayer().Render(*font, text, length, prefixWidths, image);
    DeleteOsFont(font);
    if (!rendered || !pixmap->Allocate(image.width, image.height))
        return pixmap;
    std::memcpy(pixmap->GetPixels(), image.pixels.data(), image.pixels.size());
    pixmap->PublishToOwner();
    return pixmap;
}

void DeleteOsUiPixmap(FIOsUiPixmap* pixmap)
{
    delete pixmap;
}

bool MeasureOsText(const char16_t* face, int height, bool bold, bool italic, bool underline, int* lineHeight,
                   int* averageWidth)
{
    FOsFont* font = CreateOsFont(face, height, bold, italic, underline);
    if (font == nullptr)
        return false;
    int line = 0;
    int average = 0;
    const bool ok = GetOsTextLayer().GetMetrics(*font, line, average);
    DeleteOsFont(font);
    if (!ok)
        return false;
    if (lineHeight != nullptr)
        *lineHeight = line;
    if (averageWidth != nullptr)
        *averageWidth = average;
    return true;
}

bool MeasureOsTextExtents(const char16_t* text, const char16_t* face, int height, bool bold, bool italic,
                          bool underline, int* prefixWidths)
{
    FOsFont* font = CreateOsFont(face, height, bold, italic, underline);
    if (font == nullptr)
        return false;
    bool ok = true;
    if (text != nullptr && prefixWidths != nullptr) {
        const int length = static_cast<int>(std::char_traits<char16_t>::length(text));
        ok = GetOsTextLayer().GetPrefixWidths(*font, text, length, prefixWidths);
    }
    DeleteOsFont(font);
    return ok;
}
