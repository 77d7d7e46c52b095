#pragma once

// A manager's door to image files: picks a loader by the file's extension, forwards
// information, data and modify requests to it, and keeps decoded frames and
// camera-data sections in the process-wide cache, handed out as FIDataObject handles.
// No thread of its own: it advances when its owner calls Idle.

#include "FAsyncStatus.h"
#include "FLoader.h"
#include "FWideString.h"

#include <cstdint>
#include <vector>

class FPixmap;
class FPropList;

enum FDataRetrieverRequestKind {
    kRetrieveInfo = 0,
    kRetrieveData = 1,
    kRetrieveModify = 2,
};

// Information sub-kinds.
enum {
    kInfoImageCount = 0,
    kInfoImage = 1,
    kInfoCamfile = 2,
    kInfoCAMbCamfile = 3,
    kInfoProperties = 4,
    kInfoUniqueID = 5,
};

// Data sub-kinds.
enum {
    kDataImage = 0,
    kDataCamfile = 1,
    kDataCAMbCamfile = 2,
};

// A handle on one cached frame or camera-data section; it keeps the block from
// being evicted until released.
class FIDataObject
{
public:
    virtual void AddRef() = 0;
    virtual void Release() = 0;
    // 0 image, 1 camera data.
    virtual int GetKind() = 0;
    virtual int GetImageKind() = 0;
    virtual FPixmap* GetImagePixmapPtr() = 0;
    virtual int GetCamfileSize() = 0;
    virtual int GetCamfileKind() = 0;
    virtual void* GetCamfileData() = 0;

protected:
    virtual ~FIDataObject() = default;
};

// Words that carry pointers are pointer-wide.
struct FDataRetrieverRequest {
    FWideString m_usFileName;
    int m_eKind = kRetrieveInfo;
    FAsyncStatus m_Async;
    // The sub-kind, or for a modify request the FPropList of header changes.
    intptr_t m_iSubKind = 0;
    // An image index or an FPropList to fill; image count or camera-data size back.
    intptr_t m_iArg = 0;
    // Data: the handle first. Image information: columns, rows, image kind, pixel type.
    // Camera-data information: the kind code first.
    intptr_t m_aiResult[4] = {};
    // Image data: decoded with each side divided by 2^m_iReduction (0..3) where the
    // loader can (see FLoaderRequest), cached apart from the full-size image.
    int m_iReduction = 0;
    // Image data for a preview: decoded within the preview budget (see FLoaderRequest).
    bool m_bPreview = false;

    FIDataObject* GetDataObject() const { return reinterpret_cast<FIDataObject*>(m_aiResult[0]); }
    void SetList(FPropList* list) { m_iArg = reinterpret_cast<intptr_t>(list); }
    void SetChanges(FPropList* changes) { m_iSubKind = reinterpret_cast<intptr_t>(changes); }
};

class FIDataRetriever
{
public:
    virtual void Idle() = 0;
    virtual void Request(FDataRetrieverRequest* req) = 0;
    virtual ~FIDataRetriever() = default;
};

// One row of the extension table: its own loader, made on first use.
struct FLoaderTableEntry {
    FLoaderFactory m_pfnFactory;
    std::vector<FWideString> m_extensions;
};

// ".xxx", ".bri", ".q7f" raw; ".tif"; ".tiff"; ".jpg"; ".jpeg", each row its own loader.
std::vector<FLoaderTableEntry> GetDefaultLoaderTable();

// A file the default table reads with the JPEG or TIFF loader: a picture, not a capture.
bool IsNonRawImageFile(const FWideString& url);

FIDataRetriever* CreateDataRetriever();
FIDataRetriever* CreateDataRetriever(std::vector<FLoaderTableEntry> table);
// Deletes the held retriever and nulls the holder.
void ReleaseDataRetriever(FIDataRetriever*& holder);
