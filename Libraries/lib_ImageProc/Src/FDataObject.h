#pragma once

// Decoded image frames and camera-data sections in cache blocks: the record at the
// start of each block, and the handle the retriever gives out.

#include "FDataRetriever.h"

#include <atomic>

class FCache;
class FCacheObject;

// A block whose load status says it is complete is never loaded again; every
// request for the same label sees the status through the block.
struct FImageFrameRecord {
    char m_acTag[4]; // "MIDC"
    int m_iImageKind;
    FPixmap* m_pPixmap;
    FAsyncStatus* m_pLoadStatus;
    // Kept so that the pixmap can be rebuilt when the block moves.
    int m_iPixelType;
    int m_iCols;
    int m_iRows;
    int m_iRowBytes;
};

struct FCamfileRecord {
    char m_acTag[4]; // "FCDC"
    int m_iKind;
    int m_iSize;
    FAsyncStatus* m_pLoadStatus;
};

inline constexpr unsigned kFramePriority = 2;
inline constexpr unsigned kCamfilePriority = 3;

// A new frame block under the label, its pixmap built over the block and its load
// status at state 0; null when the cache refuses the size or the size exceeds a block.
FCacheObject* NewFrameBlock(FCache& cache, const FWideString& label, int imageKind, int pixelType, int cols,
                            int rows);
// The same for a camera-data section of `size` bytes.
FCacheObject* NewCamfileBlock(FCache& cache, const FWideString& label, int kind, int size);

// The load status of a block made by either function.
FAsyncStatus* GetBlockLoadStatus(FCacheObject& block, int kind);

class FDataObject final : public FIDataObject
{
public:
    // Takes a cache reference of its own; the count starts at 1.
    FDataObject(int kind, FCacheObject* block);

    void AddRef() override;
    void Release() override;
    int GetKind() override { return m_iKind; }
    int GetImageKind() override;
    FPixmap* GetImagePixmapPtr() override;
    int GetCamfileSize() override;
    int GetCamfileKind() override;
    void* GetCamfileData() override;

    FCacheObject* GetBlock() const { return m_pBlock; }
    FAsyncStatus* GetLoadStatus();

private:
    ~FDataObject() override;

    FCacheObject* m_pBlock;
    std::atomic<int> m_iRefCount{1};
    int m_iKind;
};
