// The raw container loader: image sections, camera data, header properties and
// the only loader that writes (the header's user-editable fields).

#include "BribHeaderEdits.h"
#include "FLoaderMailbox.h"

#include "FBribImageReader.h"
#include "FBribImageWriter.h"
#include "FDebugTrace.h"
#include "FException.h"
#include "FIPWorkerPool.h"
#include "FLargePageAllocator.h"
#include "FPixmap.h"
#include "FPropList.h"
#include "ImagePropKeys.h"

#include <cstdio>
#include <map>
#include <memory>
#include <mutex>
#include <string>

namespace
{

constexpr const char* kName = "BRIbLoader";

// Opening a container rolls back a header update that an earlier writer left unfinished;
// it must not take one that is still being written for such a leftover. Header writes
// and reader opens of the same file therefore never overlap, across all loaders.
class FHeaderLock
{
public:
    explicit FHeaderLock(const FWideString& url) : m_key(url.GetBuffer(), size_t(url.GetLength()))
    {
        {
            std::lock_guard<std::mutex> lock(Table().m_lock);
            FEntry& entry = Table().m_entries[m_key];
            ++entry.m_iUsers;
            m_pMutex = &entry.m_mutex;
        }
        m_pMutex->lock();
    }
    ~FHeaderLock()
    {
        m_pMutex->unlock();
        std::lock_guard<std::mutex> lock(Table().m_lock);
        auto found = Table().m_entries.find(m_key);
        if (--found->second.m_iUsers == 0)
            Table().m_entries.erase(found);
    }
    FHeaderLock(const FHeaderLock&) = delete;
    FHeaderLock& operator=(const FHeaderLock&) = delete;

private:
    struct FEntry {
        std::mutex m_mutex;
        int m_iUsers = 0;
    };
    struct FTable {
        std::mutex m_lock;
        std::map<std::u16string, FEntry> m_entries;
    };
    static FTable& Table()
    {
        static FTable table;
        return table;
    }

    std::u16string m_key;
    std::mutex* m_pMutex;
};

// The reader made while no header write of the file is under way.
std::unique_ptr<FBribImageReader> OpenReader(const FWideString& url)
{
    FHeaderLock lock(url);
    return std::make_unique<FBribImageReader>(url.GetBuffer());
}

bool IsBribFamily(const FException& e)
{
    return dynamic_cast<const FExceptionBribReader*>(&e) != nullptr;
}

// Image kind code of a section's image type; 0 is never read.
int ImageKindOfSection(int imageType)
{
    switch (imageType) {
    case 0:
        return 2;
    case 1:
        return 1;
    case 2:
        return kImageKindPreview;
    case 3:
        return 3;
    }
    return 0;
}

bool IsCancelled(const FLoaderRequest& req)
{
    return req.m_Async.IsCancelRequested();
}

void Refuse(FLoaderRequest& req, const char* text)
{
    FailNamed(req.m_Async, kErrInvalid, kName, text);
}

void LoadImage(FBribImageReader& reader, FLoaderRequest& req)
{
    const int index = int(req.m_iArg);
    try {
        int dims[2] = {0, 0};
        int pixelType = 0;
        int imageType = 0;
        reader.GetImageInfo(index, dims, pixelType, imageType, req.m_iReduction);
        const int kind = ImageKindOfSection(imageType);
        req.m_iColumns = dims[0];
        req.m_iRows = dims[1];
        req.m_iPixelType = pixelType;
        req.m_iImageKind = kind;
        if (!req.m_pTarget) {
            req.m_Async.Complete();
            return;
        }
        // Completing unread would hand out uninitialised pixels as a loaded image.
        if (kind == 0) {
            Refuse(req, ":LoadImage - this image section cannot be read");
            return;
        }
        StartIPWorkerPool();
        // The decoder fills rows one by one: fresh pages are faulted in beforehand, on the pool.
        TouchFreshPages(req.m_pTarget->GetRowAddress(0));
        if (reader.GetImage(index, *req.m_pTarget, ProgressField(req.m_Async), CancelByte(req.m_Async),
                            req.m_iReduction)) {
            req.m_Async.Complete();
            return;
        }
        if (IsCancelled(req)) {
            req.m_Async.Cancel();
            return;
        }
        FailNamed(req.m_Async, kErrReaderFailed, kName, ":LoadImage - error while reading image data");
    } catch (const FExceptionJPEG& e) {
        // An embedded preview that would cost too much, or that is damaged: the file shows
        // as its icon until its developed image comes.
        DebugTrace("BRIbLoader: no preview of '%s': %s\n", req.m_usFileURL.GetNarrow(), e.GetMessage());
        throw;
    } catch (const FExceptionIndexOutOfRange&) {
        char text[64];
        std::snprintf(text, sizeof(text), ":LoadImage index %d", index);
        Refuse(req, text);
    }
}

void LoadCamfile(FBribImageReader& reader, FLoaderRequest& req)
{
    const int count = reader.GetCamfileCount();
    if (count == 0) {
        FailNamed(req.m_Async, kErrMissingImage, kName, ":LoadCamfile - no camfiles found in this file.");
        return;
    }
    const bool camb = req.m_eType == kLoaderCAMbCamfile;
    const int wanted = camb ? 1 : 0;
    for (int n = 0; n < count; ++n) {
        int size = 0;
        int kind = 0;
        reader.GetCamfileInfo(n, size, kind);
        req.m_iArg = size;
        if (kind != wanted)
            continue;
        req.m_iColumns = camb ? 2 : 1;
        void* buffer = req.GetBuffer();
        if (buffer) {
            const unsigned read = reader.ReadCamfile(n, buffer, unsigned(size), ProgressField(req.m_Async),
                                                     CancelByte(req.m_Async));
            if (read < unsigned(size)) {
                if (IsCancelled(req))
                    req.m_Async.Cancel();
                else
                    FailNamed(req.m_Async, kErrReaderFailed, kName, ":LoadCamfile - error reading camfile.");
                return;
            }
        }
        req.m_Async.Complete();
        return;
    }
    FailNamed(req.m_Async, kErrMissingImage, kName, ":LoadCamfile - no camfile of the requested type found.");
}

void GetUniqueID(FBribImageReader& reader, FLoaderRequest& req)
{
    FPropList* list = req.GetList();
    if (!list) {
        Refuse(req, ": Property list pointer is NULL");
        return;
    }
    const std::string id = FormatBribUniqueID(reader.GetUniqueID());
    list->AddProp("UNIQUEID", id.c_str());
    list->AddProp(propkey::kUniqueID, id.c_str());
    req.m_Async.Complete();
}

void GetProperties(FBribImageReader& reader, FLoaderRequest& req)
{
    FPropList* list = req.GetList();
    if (!list) {
        Refuse(req, ": Property list pointer is NULL");
        return;
    }
    reader.GetProperties(list);
    AddBribHeaderProperties(reader, *list);
    GetUniqueID(reader, req);
}

void ModifyProperties(FLoaderRequest& req)
{
    const FPropList* changes = req.GetList();
    if (!changes || !HasBribHeaderChanges(*changes)) {
        req.m_Async.Complete();
        return;
    }
    std::string failedItem;
    bool applied = false;
    {
        FHeaderLock lock(req.m_usFileURL);
        FBribImageWriter writer(req.m_usFileURL.GetBuffer(), nullptr, true);
        applied = ApplyBribHeaderChanges(writer, *changes, failedItem);
    }
    if (applied) {
        req.m_Async.Complete();
        return;
    }
    FWideString text("BRIbLoader::ModifyProperties: Error setting ");
    text += failedItem.c_str();
    text += " in file ";
    text += req.m_usFileURL;
    req.m_Async.Fail(kErrHeaderNotWritten, text);
}

void HandleRequest(FLoaderRequest& req)
{
    StartRequest(req.m_Async);
    HandleGuarded(req, kName, &IsBribFamily, [&req] {
        // The writer opens the file itself: no reader may hold it meanwhile.
        if (req.m_eType == kLoaderModify) {
            ModifyProperties(req);
            return;
        }
        const std::unique_ptr<FBribImageReader> opened = OpenReader(req.m_usFileURL);
        FBribImageReader& reader = *opened;
        switch (req.m_eType) {
        case kLoaderImageCount:
            req.m_iArg = reader.GetImageCount();
            req.m_Async.Complete();
            return;
        case kLoaderImage:
            LoadImage(reader, req);
            return;
        case kLoaderCamfile:
        case kLoaderCAMbCamfile:
            LoadCamfile(reader, req);
            return;
        case kLoaderProperties:
            GetProperties(reader, req);
            return;
        case kLoaderUniqueID:
            GetUniqueID(reader, req);
            return;
        default:
            Refuse(req, ":HandleRequest - invalid request.");
            return;
        }
    });
}

class BRIbLoader final : public TMailboxLoader<FIBRIbLoader>
{
public:
    BRIbLoader() : TMailboxLoader(kName, &HandleRequest) {}

    void Request(FLoaderRequest* req) override
    {
        Idle();
        switch (req->m_eType) {
        case kLoaderImage:
            if (req->m_pTarget) {
                m_mailbox.Post(*req);
                return;
            }
            HandleRequest(*req);
            return;
        case kLoaderCamfile:
        case kLoaderCAMbCamfile:
            m_mailbox.Post(*req);
            return;
        case kLoaderImageCount:
        case kLoaderProperties:
        case kLoaderModify:
        case kLoaderUniqueID:
            HandleRequest(*req);
            return;
        default:
            Refuse(*req, ":Request - invalid request.");
            return;
        }
    }

private:
    ~BRIbLoader() override = default;
};

} // namespace

FILoader* CreateBRIbLoader()
{
    return NewLoader<BRIbLoader>();
}
