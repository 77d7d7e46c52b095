#pragma once

// The loaders: one per kind of image file, each with a load thread of its own.
// The data retriever talks to them only through FILoader and FLoaderRequest.

#include "FAsyncStatus.h"
#include "FWideString.h"

#include <cstdint>
#include <functional>

class FPixmap;
class FPropList;

enum FLoaderRequestType {
    kLoaderImageCount = 0,
    kLoaderImage = 1,
    kLoaderCamfile = 2,
    kLoaderCAMbCamfile = 3,
    kLoaderProperties = 4,
    kLoaderModify = 5,
    kLoaderUniqueID = 6,
};

// Image kind code of an image that may serve as a preview.
inline constexpr int kImageKindPreview = 4;

// Filled and owned by the retriever; a loader only reads and writes its fields.
// The argument and rows words also carry pointers, so they are pointer-wide.
struct FLoaderRequest {
    FWideString m_usFileURL;
    int m_eType = kLoaderImageCount;
    FAsyncStatus m_Async;
    // An image index, a count, a camera-data size, or an FPropList.
    intptr_t m_iArg = 0;
    // Columns, or the camera-data kind code.
    int m_iColumns = 0;
    // Rows, or the camera-data buffer to fill.
    intptr_t m_iRows = 0;
    int m_iImageKind = 0;
    int m_iPixelType = 0;
    FPixmap* m_pTarget = nullptr;
    // Image: each side divided by 2^m_iReduction (0..3) where the image's format can
    // decode so (an embedded JPEG); the columns and rows reported are the delivered ones.
    int m_iReduction = 0;
    // Image: decoded for a preview or thumbnail, within the preview budget; a file that
    // would cost more fails its load (and shows as its file-type icon).
    bool m_bPreview = false;

    FPropList* GetList() const { return reinterpret_cast<FPropList*>(m_iArg); }
    void SetList(FPropList* list) { m_iArg = reinterpret_cast<intptr_t>(list); }
    void* GetBuffer() const { return reinterpret_cast<void*>(m_iRows); }
    void SetBuffer(void* buffer) { m_iRows = reinterpret_cast<intptr_t>(buffer); }
};

class FILoader
{
public:
    // The only way to release a loader.
    virtual void Destroy() = 0;
    // Waits a few milliseconds at most for the posted request (not at all inside an
    // FIPNoWaitScope); the outcome is the request's state.
    virtual void Idle() = 0;
    virtual void Request(FLoaderRequest* req) = 0;
    // The owner deletes a request only once its state is final and the loader no
    // longer holds it.
    virtual bool IsHolding(const FLoaderRequest& req) = 0;
    // The owner gives up on a request still held: `release` runs (on some thread)
    // once the loader is done with it, at once when it already is.
    virtual void Abandon(FLoaderRequest& req, std::function<void()> release) = 0;

protected:
    virtual ~FILoader() = default;
};

class FIJPEGLoader : public FILoader
{
};
class FITiffLoader : public FILoader
{
};
class FIBRIbLoader : public FILoader
{
};

using FLoaderFactory = FILoader* (*)();

// Null when memory is short.
FILoader* CreateJPEGLoader();
FILoader* CreateTiffLoader();
FILoader* CreateBRIbLoader();
