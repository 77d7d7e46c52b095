#include "FDataObject.h"
#include "FIPMemoryBudget.h"

#include "FCache.h"
#include "FPixmap.h"

#include <climits>
#include <cstring>
#include <new>

namespace
{

constexpr size_t RoundUp(size_t n, size_t to)
{
    return (n + to - 1) / to * to;
}

constexpr size_t kFrameRecordRoom = RoundUp(sizeof(FImageFrameRecord), kFPixmapHeaderAlign);
constexpr size_t kCamfileRecordRoom = RoundUp(sizeof(FCamfileRecord), kFPixmapHeaderAlign);

FImageFrameRecord& FrameRecord(FCacheObject& block)
{
    return *static_cast<FImageFrameRecord*>(block.GetData());
}

FCamfileRecord& CamfileRecord(FCacheObject& block)
{
    return *static_cast<FCamfileRecord*>(block.GetData());
}

void MapFramePixmap(FCacheObject& block)
{
    auto* base = static_cast<uint8_t*>(block.GetData());
    FImageFrameRecord& record = FrameRecord(block);
    uint8_t* header = base + kFrameRecordRoom;
    uint8_t* pixels = header + kFPixmapHeaderSize;
    record.m_pPixmap = MapFPixmapHeader(record.m_iPixelType, record.m_iCols, record.m_iRows,
                                        record.m_iRowBytes, pixels, header);
}

void FrameMoved(FCacheObject* block)
{
    MapFramePixmap(*block);
}

void FrameFreed(FCacheObject* block)
{
    FImageFrameRecord& record = FrameRecord(*block);
    DestroyFPixmapHeader(record.m_pPixmap);
    delete record.m_pLoadStatus;
}

void CamfileFreed(FCacheObject* block)
{
    delete CamfileRecord(*block).m_pLoadStatus;
}

} // namespace

FCacheObject* NewFrameBlock(FCache& cache, const FWideString& label, int imageKind, int pixelType, int cols,
                            int rows)
{
    if (cols <= 0 || rows <= 0)
        return nullptr;
    // The first block of every development is the whole frame: room for the rest is made
    // now, before the stages ask.
    FitMemoryToImage(cols, rows);
    int headerSize = 0;
    int rowBytes = 0;
    GetFPixmapSizes(pixelType, cols, rows, headerSize, rowBytes);
    const int64_t total = int64_t(kFrameRecordRoom) + int64_t(kFPixmapHeaderSize) + int64_t(rowBytes) * rows;
    if (total > INT_MAX)
        return nullptr;
    FCacheObject* block = cache.Get(label.GetBuffer(), int(total));
    if (!block)
        return nullptr;
    block->SetPriority(kFramePriority);
    FImageFrameRecord& record = FrameRecord(*block);
    std::memcpy(record.m_acTag, "MIDC", 4);
    record.m_iImageKind = imageKind;
    record.m_iPixelType = pixelType;
    record.m_iCols = cols;
    record.m_iRows = rows;
    record.m_iRowBytes = rowBytes;
    record.m_pLoadStatus = new FAsyncStatus();
    MapFramePixmap(*block);
    block->SetMovedCallback(&FrameMoved);
    block->SetFreeCallback(&FrameFreed);
    return block;
}

FCacheObject* NewCamfileBlock(FCache& cache, const FWideString& label, int kind, int size)
{
    const int64_t total = int64_t(kCamfileRecordRoom) + int64_t(size);
    if (size < 0 || total > INT_MAX)
        return nullptr;
    FCacheObject* block = cache.Get(label.GetBuffer(), int(total));
    if (!block)
        return nullptr;
    block->SetPriority(kCamfilePriority);
    FCamfileRecord& record = CamfileRecord(*block);
    std::memcpy(record.m_acTag, "FCDC", 4);
    record.m_iKind = kind;
    record.m_iSize = size;
    record.m_pLoadStatus = new FAsyncStatus();
    block->SetFreeCallback(&CamfileFreed);
    return block;
}

FAsyncStatus* GetBlockLoadStatus(FCacheObject& block, int kind)
{
    return kind == 0 ? FrameRecord(block).m_pLoadStatus : CamfileRecord(block).m_pLoadStatus;
}

FDataObject::FDataObject(int kind, FCacheObject* block) : m_pBlock(block), m_iKind(kind)
{
    m_pBlock->AddRef();
}

FDataObject::~FDataObject()
{
    m_pBlock->Release();
}

void FDataObject::AddRef()
{
    m_iRefCount.fetch_add(1);
}

void FDataObject::Release()
{
    if (m_iRefCount.fetch_sub(1) == 1)
        delete this;
}

int FDataObject::GetImageKind()
{
    return m_iKind == 0 ? FrameRecord(*m_pBlock).m_iImageKind : 0;
}

FPixmap* FDataObject::GetImagePixmapPtr()
{
    return m_iKind == 0 ? FrameRecord(*m_pBlock).m_pPixmap : nullptr;
}

int FDataObject::GetCamfileSize()
{
    return m_iKind == 1 ? CamfileRecord(*m_pBlock).m_iSize : 0;
}

int FDataObject::GetCamfileKind()
{
    return m_iKind == 1 ? CamfileRecord(*m_pBlock).m_iKind : 0;
}

void* FDataObject::GetCamfileData()
{
    if (m_iKind != 1)
        return nullptr;
    return static_cast<uint8_t*>(m_pBlock->GetData()) + kCamfileRecordRoom;
}

FAsyncStatus* FDataObject::GetLoadStatus()
{
    return GetBlockLoadStatus(*m_pBlock, m_iKind);
}
