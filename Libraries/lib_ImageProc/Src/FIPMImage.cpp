#include "FIPMImage.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <new>

#include "FCache.h"
#include "FImage.h"
#include "FMutex.h"
#include "FPixmap.h"
#include "FPropList.h"

FIHistogram::FIHistogram()
{
    std::memset(m_aColor, 0, sizeof(m_aColor));
    std::memset(m_aLum, 0, sizeof(m_aLum));
}

void FIHistogram::Compute(const FPixmap& pixmap)
{
    std::memset(m_aColor, 0, sizeof(m_aColor));
    std::memset(m_aLum, 0, sizeof(m_aLum));
    m_uCount = 0;
    if (pixmap.GetPixelType() != FPixmap::PIXEL_32_BGRA || pixmap.GetCols() <= 0 || pixmap.GetRows() <= 0)
        return;
    const int cols = pixmap.GetCols();
    for (int y = 0; y < pixmap.GetRows(); ++y) {
        const uint8_t* p = pixmap.GetRowAddress(y);
        for (int x = 0; x < cols; ++x, p += 4) {
            const uint8_t b = p[0];
            const uint8_t g = p[1];
            const uint8_t r = p[2];
            ++m_aColor[r].red;
            ++m_aColor[g].green;
            ++m_aColor[b].blue;
            int lum = static_cast<int>(0.55 * g + 0.15 * b + 0.3 * r + 0.5);
            ++m_aLum[lum > 255 ? 255 : lum];
        }
    }
    m_uCount = static_cast<uint32_t>(pixmap.GetRows()) * static_cast<uint32_t>(cols);
}

namespace FIPMCommon
{

namespace
{

constexpr size_t AlignUp(size_t n, size_t a)
{
    return (n + a - 1) / a * a;
}

constexpr size_t kImageHeaderOffset = AlignUp(sizeof(FIPMStageImageRecord), kFPixmapHeaderAlign);
constexpr size_t kLUTDataOffset = AlignUp(sizeof(FIPMStageLUTRecord), kFPixmapHeaderAlign);

uint8_t* HeaderRoom(FCacheObject* object)
{
    return static_cast<uint8_t*>(object->GetData()) + kImageHeaderOffset;
}

void ImageMoved(FCacheObject* object)
{
    FIPMStageImageRecord* record = GetStageImageRecord(object);
    // The header's bytes moved with the block; only its pixel address is stale.
    FPixmap* old = reinterpret_cast<FPixmap*>(HeaderRoom(object));
    const int type = old->GetPixelType();
    const int cols = old->GetCols();
    const int rows = old->GetRows();
    const int stride = old->GetStride();
    int headerSize = 0;
    int rowBytes = 0;
    GetFPixmapSizes(type, cols, rows, headerSize, rowBytes);
    record->m_pPixmap =
        MapFPixmapHeader(type, cols, rows, stride, HeaderRoom(object) + headerSize, HeaderRoom(object));
}

void ImageFreed(FCacheObject* object)
{
    FIPMStageImageRecord* record = GetStageImageRecord(object);
    if (record->m_pPixmap != nullptr)
        DestroyFPixmapHeader(record->m_pPixmap);
    record->m_pPixmap = nullptr;
    delete record->m_pMutex;
    record->m_pMutex = nullptr;
    ReleaseReference(record->m_pScratch);
    record->~FIPMStageImageRecord();
}

void LUTMoved(FCacheObject* object)
{
    GetStageLUTRecord(object)->m_pData =
        reinterpret_cast<int16_t*>(static_cast<uint8_t*>(object->GetData()) + kLUTDataOffset);
}

void LUTFreed(FCacheObject* object)
{
    FIPMStageLUTRecord* record = GetStageLUTRecord(object);
    delete record->m_pMutex;
    record->m_pMutex = nullptr;
    record->~FIPMStageLUTRecord();
}

// Gives the block back to the cache as unlabelled and unreferenced, so it goes first.
void Abandon(FCacheObject* object)
{
    object->SetLabel(u"");
    object->SetPriority(0);
    object->Release();
}

// A new block of the cache under the label with the mutex its record will hold; null
// when either cannot be had.
FCacheObject* NewBlock(const char16_t* label, int64_t bytes, FMutex*& mutex)
{
    FCacheObject* object = GetGlobalCache()->Get(label, static_cast<int>(bytes));
    if (object == nullptr)
        return nullptr;
    try {
        mutex = new FMutex();
    } catch (...) {
        Abandon(object);
        return nullptr;
    }
    return object;
}

// Starts the record of a reclaimed stage image afresh when its pixmap has the type and
// size wanted; its header, mutex and working image stay, as they fit the same size.
bool Recycled(FCacheObject* object, int pixelType, int cols, int rows)
{
    auto* record = static_cast<FIPMStageImageRecord*>(object->GetData());
    const FPixmap* pixmap = record->m_pPixmap;
    if (pixmap == nullptr || pixmap->GetPixelType() != pixelType || pixmap->GetCols() != cols ||
        pixmap->GetRows() != rows)
        return false;
    FPixmap* const kept = record->m_pPixmap;
    FImage* const scratch = record->m_pScratch;
    FMutex* const mutex = record->m_pMutex;
    record->~FIPMStageImageRecord();
    record = new (object->GetData()) FIPMStageImageRecord{};
    record->m_pPixmap = kept;
    record->m_pScratch = scratch;
    record->m_pMutex = mutex;
    return true;
}

} // namespace

FIPMStageImageRecord* GetStageImageRecord(FCacheObject* object)
{
    return object != nullptr ? static_cast<FIPMStageImageRecord*>(object->GetData()) : nullptr;
}

FIPMStageLUTRecord* GetStageLUTRecord(FCacheObject* object)
{
    return object != nullptr ? static_cast<FIPMStageLUTRecord*>(object->GetData()) : nullptr;
}

FCacheObject* AllocCacheImage(const char16_t* label, int pixelType, int cols, int rows,
                              const char16_t* recycle)
{
    FCache* cache = GetGlobalCache();
    if (FCacheObject* found = cache->Get(label, 0))
        return found;
    if (cols <= 0 || rows <= 0 ||
        static_cast<int64_t>(cols) * GetPixelTypeBytesPerPixel(pixelType) > kMaxStageBlockBytes)
        return nullptr;
    int headerSize = 0;
    int rowBytes = 0;
    GetFPixmapSizes(pixelType, cols, rows, headerSize, rowBytes);
    const int64_t bytes = static_cast<int64_t>(kImageHeaderOffset) + headerSize +
                          static_cast<int64_t>(rowBytes) * static_cast<int64_t>(rows);
    if (rowBytes <= 0 || bytes > kMaxStageBlockBytes)
        return nullptr;
    if (recycle != nullptr && recycle[0] != 0) {
        if (FCacheObject* reused = cache->Reclaim(recycle, label, static_cast<int>(bytes))) {
            if (Recycled(reused, pixelType, cols, rows))
                return reused;
            Abandon(reused);
        }
    }
    FMutex* mutex = nullptr;
    FCacheObject* object = NewBlock(label, bytes, mutex);
    if (object == nullptr)
        return nullptr;
    auto* record = new (object->GetData()) FIPMStageImageRecord{};
    record->m_pMutex = mutex;
    uint8_t* header = HeaderRoom(object);
    record->m_pPixmap = MapFPixmapHeader(pixelType, cols, rows, rowBytes, header + headerSize, header);
    object->SetMovedCallback(ImageMoved);
    object->SetFreeCallback(ImageFreed);
    return object;
}

FCacheObject* AllocCacheLUT(const char16_t* label, bool color)
{
    FCache* cache = GetGlobalCache();
    if (FCacheObject* found = cache->Get(label, 0))
        return found;
    const int tables = color ? 3 : 1;
    const int64_t bytes = static_cast<int64_t>(kLUTDataOffset) +
                          static_cast<int64_t>(tables) * FIPMStageLUTRecord::kTableEntries * sizeof(int16_t);
    FMutex* mutex = nullptr;
    FCacheObject* object = NewBlock(label, bytes, mutex);
    if (object == nullptr)
        return nullptr;
    auto* record = new (object->GetData()) FIPMStageLUTRecord{};
    record->m_pMutex = mutex;
    record->m_bColorLUT = color ? 1 : 0;
    LUTMoved(object);
    object->SetMovedCallback(LUTMoved);
    object->SetFreeCallback(LUTFreed);
    return object;
}

Image::Image(FCacheObject* object) : m_pObject(object)
{
    if (m_pObject != nullptr)
        m_pObject->AddRef();
}

Image::~Image()
{
    if (m_pObject != nullptr)
        m_pObject->Release();
    DeletePropList(m_pProps);
    delete m_pHistogram;
}

FPixmap* Image::GetPixmap()
{
    FIPMStageImageRecord* record = GetStageImageRecord(m_pObject);
    return record != nullptr ? record->m_pPixmap : nullptr;
}

void Image::SetProperties(FPropList* list)
{
    if (list == m_pProps)
        return;
    DeletePropList(m_pProps);
    m_pProps = list;
}

FIHistogram* Image::GetHistogram()
{
    if (m_pHistogram == nullptr)
        m_pHistogram = new FIHistogram();
    if (FPixmap* pixmap = GetPixmap())
        m_pHistogram->Compute(*pixmap);
    return m_pHistogram;
}

uint32_t Image::AddRef()
{
    return m_uRefCount.fetch_add(1, std::memory_order_relaxed) + 1;
}

uint32_t Image::Release()
{
    const uint32_t left = m_uRefCount.fetch_sub(1, std::memory_order_acq_rel) - 1;
    if (left < 1) {
        delete this;
        return 0;
    }
    return left;
}

void RotateRect(FRect& rect, int& cols, int& rows, double degrees)
{
    // A NaN or infinite angle has no rotation; converting its sine would be undefined.
    if (!std::isfinite(degrees))
        return;
    const double theta = degrees * 0.017453292522166666;
    // 64-bit products: a 32-bit y x s overflows beyond 32767 rows.
    const int64_t c = static_cast<int64_t>(static_cast<int32_t>(std::cos(theta) * 65536.0));
    const int64_t s = static_cast<int64_t>(static_cast<int32_t>(std::sin(theta) * 65536.0));
    const int64_t w = cols - 1;
    const int64_t h = rows - 1;
    const int64_t tx = (c < 0 ? (w * -c) >> 16 : 0) + (s > 0 ? (h * s) >> 16 : 0);
    const int64_t ty = (s < 0 ? (w * -s) >> 16 : 0) + (c < 0 ? (h * -c) >> 16 : 0);
    auto map = [&](int64_t x, int64_t y, int64_t& ox, int64_t& oy) {
        ox = tx + ((y * -s) >> 16) + ((x * c) >> 16);
        oy = ty + ((y * c) >> 16) + ((x * s) >> 16);
    };
    auto mapRect = [&](int64_t l, int64_t t, int64_t r, int64_t b, FRect& out) {
        int64_t x0, y0, x1, y1;
        map(l, t, x0, y0);
        map(r, b, x1, y1);
        out.Set(static_cast<int32_t>(std::min(x0, x1)), static_cast<int32_t>(std::min(y0, y1)),
                static_cast<int32_t>(std::max(x0, x1)), static_cast<int32_t>(std::max(y0, y1)));
    };
    FRect rotated;
    mapRect(rect.left, rect.top, rect.right, rect.bottom, rotated);
    FRect bounds;
    mapRect(0, 0, cols, rows, bounds);
    rect = rotated;
    cols = bounds.Width();
    rows = bounds.Height();
}

void TurnRect(FRect& rect, int& cols, int& rows, double degrees)
{
    // The common rotation maps the two corners as points, which moves an exclusive edge
    // one pixel off.
    if (rect.Width() <= 0 || rect.Height() <= 0) {
        RotateRect(rect, cols, rows, degrees);
        return;
    }
    FRect inside(rect.left, rect.top, rect.right - 1, rect.bottom - 1);
    RotateRect(inside, cols, rows, degrees);
    rect = FRect(inside.left, inside.top, inside.right + 1, inside.bottom + 1);
}

} // namespace FIPMCommon
