#include "FImageFileList.h"

#include "FEngineAccess.h"

#include <algorithm>
#include <chrono>
#include <limits>
#include <vector>

#include "FDebugTrace.h"
#include "FException.h"
#include "FIPManager.h"
#include "FIPManagerRequest.h"
#include "FIStorageClass.h"
#include "FImageFileListEntry.h"
#include "FWinThread.h"
#include "StorageClassRegistry.h"

namespace
{

bool IsCameraURL(const FWideString& url)
{
    return url.GetLength() >= 7 &&
           EqualsNoCase(FWideString(url.GetBuffer(), url.GetBuffer() + 6), FWideString("camera:"));
}

// The folder's URL with one more part: the name, escaped as URL parts are.
FWideString ChildURL(const std::vector<FWideString>& folderParts, const FWideString& name)
{
    std::vector<FWideString> parts = folderParts;
    FWideString escaped;
    EscapeURLChars(name, escaped);
    parts.push_back(escaped);
    FWideString url;
    JoinURL(parts, url, false);
    return url;
}

void SetKindFromName(FImageFileListEntry& entry, const FWideString& name)
{
    FWideString extension;
    GetFileExtension(name, extension);
    if (extension.CompareNoCase(".tif") == 0 || extension.CompareNoCase(".tiff") == 0)
        entry.m_bTiff = true;
    else if (extension.CompareNoCase(".jpg") == 0 || extension.CompareNoCase(".jpeg") == 0)
        entry.m_bJpeg = true;
    else if (extension.CompareNoCase(".q7f") == 0)
        entry.m_bRaw = true;
}

} // namespace

bool IsImageFileName(const FWideString& name)
{
    FWideString extension;
    if (!GetFileExtension(name, extension))
        return false;
    for (const char* known : {".q7f", ".tif", ".tiff", ".jpg", ".jpeg"})
        if (extension.CompareNoCase(known) == 0)
            return true;
    return false;
}

bool CountImageFilesInFolder(const FWideString& folderURL, int* count, int64_t* bytes)
{
    if (count != nullptr)
        *count = 0;
    if (bytes != nullptr)
        *bytes = 0;
    FWideString fileName;
    FIFolder* folder = OpenFolderURL(folderURL, fileName, false);
    if (folder == nullptr)
        return false;
    std::vector<FWideString> names;
    std::vector<FWideString> parts;
    try {
        folder->ListFiles(names);
        SplitURL(folder->GetURL(), parts);
    } catch (...) {
        folder->Release();
        throw;
    }
    folder->Release();
    for (const FWideString& name : names) {
        if (!IsImageFileName(name))
            continue;
        FIFile* file = OpenFileURL(ChildURL(parts, name), kFileRead);
        if (file == nullptr)
            continue;
        const uint64_t size = file->GetSize();
        file->Release();
        if (size == 0)
            continue;
        if (count != nullptr)
            ++*count;
        if (bytes != nullptr)
            *bytes += int64_t(size & 0x7FFFFFFFFFFFFFFFULL);
    }
    return true;
}

struct FImageFileList::FolderRead {
    FIPManager* pool = nullptr;
    bool camera = false;
    bool scan = false;
    std::vector<FWideString> names;
    std::vector<FWideString> parts;
    size_t next = 0;
    std::vector<std::unique_ptr<FImageFileListEntry>> found;
    // A sliced read lists the folder on a thread of its own: a folder of a hundred thousand
    // files takes longer to list than a window may wait. The names are the lister's until
    // it is done.
    FIFolder* folder = nullptr;
    FIThread* lister = nullptr;
    bool waited = false;

    ~FolderRead()
    {
        WaitForLister();
        if (folder)
            folder->Release();
    }
    void WaitForLister()
    {
        if (!lister)
            return;
        while (!lister->IsDone())
            SleepMilliseconds(1);
        DeleteThread(lister);
    }
};

namespace
{

// Seconds the first slice waits for the listing of a folder.
constexpr double kFirstListingWait = 0.05;
// Names looked at between two looks at the clock.
constexpr int kReadSliceNames = 512;

int ListThreadMain(void* argument)
{
    auto* read = static_cast<FImageFileList::FolderRead*>(argument);
    try {
        read->folder->ListFiles(read->names);
    } catch (...) {
        read->names.clear();
        DebugTrace("FImageFileList: listing the folder ended with an exception\n");
    }
    return 0;
}

} // namespace

FImageFileList::FImageFileList() : FImageFileList(GetIPManagerPool()) {}

FImageFileList::FImageFileList(FIPManager* pool) : m_pIpMgr(pool), m_engine(pool) {}

FImageFileList::~FImageFileList()
{
    priStopScan();
    Clear();
    while (m_pFirstRequest != nullptr) {
        ThumbnailRequest* node = m_pFirstRequest;
        m_pFirstRequest = node->m_pNext;
        priCancelPosted(node);
        delete node;
    }
    // The list never owns its pool; releasing a manager that is not the process-wide
    // pool would delete one that the caller still holds.
    m_pIpMgr = nullptr;
}

void FImageFileList::priStopScan()
{
    if (m_pScanThread == nullptr)
        return;
    m_bStopScan.store(true);
    while (!m_pScanThread->IsDone())
        SleepMilliseconds(1);
    DeleteThread(m_pScanThread);
    m_bStopScan.store(false);
}

std::unique_ptr<FImageFileList::FolderRead>
FImageFileList::priOpenRead(FIPManager* pool, const FWideString& folderURL, bool scan, bool listOnThread)
{
    Clear();
    FWideString fileName;
    FIFolder* folder = OpenFolderURL(folderURL, fileName, false);
    if (folder == nullptr)
        return nullptr;
    m_usFolderURL = folderURL;
    auto read = std::make_unique<FolderRead>();
    read->pool = pool;
    read->camera = IsCameraURL(folderURL);
    read->scan = scan;
    SplitURL(folderURL, read->parts);
    read->folder = folder;
    if (listOnThread) {
        read->lister = CreateWinThread(ListThreadMain, read.get(), 2);
        // No thread to be had: the folder is listed here after all.
        if (read->lister && read->lister->IsDone() && read->lister->GetResult() == kThreadResultFailed)
            DeleteThread(read->lister);
        if (read->lister)
            return read;
    }
    read->folder = nullptr;
    try {
        folder->ListFiles(read->names);
    } catch (...) {
        folder->Release();
        throw;
    }
    folder->Release();
    return read;
}

// Null for a file the list leaves out.
std::unique_ptr<FImageFileListEntry> FImageFileList::priReadOne(const FolderRead& read,
                                                                const FWideString& name)
{
    if (!IsImageFileName(name))
        return nullptr;
    bool asked = false;
    std::unique_ptr<FImageFileListEntry> entry = priPrepareOne(read, name, asked);
    if (entry && asked) {
        FIPManagerRequest request;
        entry->MakePropsRequest(request);
        RunEngineRequest(read.pool, request);
        entry->EndProps(request);
    }
    return entry;
}

// The readers gather every entry first and sort once: placing each file by walking the
// chain would cost the square of the folder's size.
bool FImageFileList::priRead(FIPManager* pool, const FWideString& folderURL, bool scan)
{
    std::unique_ptr<FolderRead> read = priOpenRead(pool, folderURL, scan, false);
    if (!read)
        return false;
    int placed = 0;
    for (const FWideString& name : read->names) {
        if (scan && m_bStopScan.load())
            break;
        std::unique_ptr<FImageFileListEntry> entry = priReadOne(*read, name);
        if (!entry)
            continue;
        Append(entry.release());
        ++placed;
        if (scan && m_pfnScanProgress != nullptr)
            m_pfnScanProgress(m_pScanProgressContext, placed);
    }
    Resort();
    return true;
}

bool FImageFileList::ReadFolder(FIPManager* pool, const FWideString& folderURL)
{
    return priRead(pool, folderURL, false);
}

bool FImageFileList::BeginRead(FIPManager* pool, const FWideString& folderURL)
{
    m_pRead = priOpenRead(pool, folderURL, false, true);
    return m_pRead != nullptr;
}

bool FImageFileList::ContinueRead(double budgetSeconds)
{
    if (!m_pRead)
        return true;
    const auto start = std::chrono::steady_clock::now();
    FolderRead& read = *m_pRead;
    if (read.lister) {
        // A small folder is listed at once, as if here; a large one is waited for across
        // calls. An unbounded budget (a caller that needs the whole list now) waits for it.
        const double wait = budgetSeconds == std::numeric_limits<double>::infinity() ? budgetSeconds
                            : read.waited                                            ? budgetSeconds
                                          : std::max(budgetSeconds, kFirstListingWait);
        read.waited = true;
        while (!read.lister->IsDone() &&
               std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count() < wait)
            SleepMilliseconds(1);
        if (!read.lister->IsDone())
            return false;
        read.WaitForLister();
        read.folder->Release();
        read.folder = nullptr;
    }
    int images = 0;
    int visited = 0;
    while (read.next < read.names.size()) {
        // The images of a slice go to the engine together, so its managers read them side
        // by side; names of other files cost little each, but a folder may hold a hundred
        // thousand.
        std::vector<std::unique_ptr<FImageFileListEntry>> batch;
        std::vector<bool> begun;
        bool enough = false;
        while (read.next < read.names.size() && !enough) {
            const FWideString& name = read.names[read.next++];
            const bool image = IsImageFileName(name);
            if (image) {
                bool asked = false;
                if (std::unique_ptr<FImageFileListEntry> entry = priPrepareOne(read, name, asked)) {
                    batch.push_back(std::move(entry));
                    begun.push_back(asked);
                }
                ++images;
            }
            enough = images >= kReadSliceFiles || (++visited % kReadSliceNames == 0 && !image) ||
                     static_cast<int>(batch.size()) >= kReadSliceFiles;
        }
        priAskBatch(read, batch, begun);
        for (std::unique_ptr<FImageFileListEntry>& entry : batch)
            read.found.push_back(std::move(entry));
        if (read.next < read.names.size() &&
            std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count() >= budgetSeconds)
            return false;
    }
    priFinishRead();
    return true;
}

std::unique_ptr<FImageFileListEntry> FImageFileList::priPrepareOne(const FolderRead& read,
                                                                   const FWideString& name, bool& asked)
{
    asked = false;
    auto entry = std::make_unique<FImageFileListEntry>();
    SetKindFromName(*entry, name);
    if (read.camera && !read.scan && !entry->m_bRaw)
        return nullptr;
    const FWideString url = ChildURL(read.parts, name);
    if (GetFileSizeURL(url) <= 0)
        return nullptr;
    entry->m_usURL = url;
    entry->m_usFileName = name;
    entry->m_bCamera = read.camera;
    try {
        asked = entry->BeginProps(read.pool);
    } catch (const FException& e) {
        // A file that went away or broke between the listing and now.
        DebugTrace("FImageFileList: skipped '%s': %s (%s)\n", url.GetNarrow(), e.GetDescription(),
                   e.GetMessage());
        return nullptr;
    }
    if (!asked && !read.scan)
        return nullptr;
    return entry;
}

void FImageFileList::priAskBatch(const FolderRead& read,
                                 std::vector<std::unique_ptr<FImageFileListEntry>>& batch,
                                 const std::vector<bool>& begun)
{
    std::vector<std::unique_ptr<FIPManagerRequest>> records;
    std::vector<FIPManagerRequest*> asked;
    for (size_t i = 0; i < batch.size(); ++i) {
        if (!begun[i])
            continue;
        records.push_back(std::make_unique<FIPManagerRequest>());
        batch[i]->MakePropsRequest(*records.back());
        asked.push_back(records.back().get());
    }
    if (asked.empty())
        return;
    RunEngineRequests(read.pool, asked);
    size_t next = 0;
    for (size_t i = 0; i < batch.size(); ++i)
        if (begun[i])
            batch[i]->EndProps(*records[next++]);
}

void FImageFileList::priFinishRead()
{
    std::unique_ptr<FolderRead> read = std::move(m_pRead);
    // Files added while the read ran are already in the list.
    const bool fresh = m_pHead == nullptr;
    for (std::unique_ptr<FImageFileListEntry>& entry : read->found)
        if (fresh || FindByURL(entry->m_usURL) == nullptr)
            Append(entry.release());
    Resort();
}

int ScanThreadMain(void* argument)
{
    auto* list = static_cast<FImageFileList*>(argument);
    try {
        return list->priRead(list->m_pScanMgr, list->m_usScanURL, true) ? 1 : 0;
    } catch (...) {
        DebugTrace("FImageFileList: the folder scan ended with an exception\n");
        return 0;
    }
}

bool FImageFileList::StartScan(FIPManager* pool, const FWideString& folderURL)
{
    if (m_pScanThread != nullptr)
        return false;
    m_pScanMgr = pool;
    m_usScanURL = folderURL;
    m_bStopScan.store(false);
    m_pScanThread = CreateWinThread(ScanThreadMain, this, 2);
    return m_pScanThread != nullptr;
}

bool FImageFileList::IsScanDone()
{
    if (m_pScanThread == nullptr)
        return true;
    if (!m_pScanThread->IsDone())
        return false;
    DeleteThread(m_pScanThread);
    return true;
}

void FImageFileList::Append(FImageFileListEntry* entry)
{
    entry->m_pPrev = m_pTail;
    entry->m_pNext = nullptr;
    if (m_pTail != nullptr)
        m_pTail->m_pNext = entry;
    else
        m_pHead = entry;
    m_pTail = entry;
    m_aCounts[kCountAll].m_nCount++;
    m_aCounts[kCountAll].m_nBytes += entry->m_nFileSize;
    auto add = [&](int index, bool yes) {
        if (!yes)
            return;
        m_aCounts[index].m_nCount++;
        m_aCounts[index].m_nBytes += entry->m_nFileSize;
    };
    add(kCountMarked, entry->m_bMarked);
    add(kCountLocked, entry->m_bLocked);
    add(kCountTransferred, entry->m_bTransferred);
    add(kCountSelected, entry->m_bSelected);
    add(kCountRaw, entry->m_bRaw);
}

void FImageFileList::InsertBefore(FImageFileListEntry* entry, FImageFileListEntry* next)
{
    if (next == nullptr || (next != m_pHead && next->m_pPrev == nullptr)) {
        Append(entry);
        return;
    }
    entry->m_pNext = next;
    entry->m_pPrev = next->m_pPrev;
    if (next->m_pPrev != nullptr)
        next->m_pPrev->m_pNext = entry;
    else
        m_pHead = entry;
    next->m_pPrev = entry;
}

void FImageFileList::InsertAfter(FImageFileListEntry* entry, FImageFileListEntry* prev)
{
    if (prev == nullptr) {
        if (m_pHead == nullptr) {
            Append(entry);
            return;
        }
        InsertBefore(entry, m_pHead);
        return;
    }
    if (prev != m_pTail && prev->m_pNext == nullptr) {
        Append(entry);
        return;
    }
    entry->m_pPrev = prev;
    entry->m_pNext = prev->m_pNext;
    if (prev->m_pNext != nullptr)
        prev->m_pNext->m_pPrev = entry;
    else
        m_pTail = entry;
    prev->m_pNext = entry;
}

void FImageFileList::priUnlink(FImageFileListEntry* entry)
{
    if (entry->m_pPrev != nullptr)
        entry->m_pPrev->m_pNext = entry->m_pNext;
    else if (m_pHead == entry)
        m_pHead = entry->m_pNext;
    if (entry->m_pNext != nullptr)
        entry->m_pNext->m_pPrev = entry->m_pPrev;
    else if (m_pTail == entry)
        m_pTail = entry->m_pPrev;
    entry->m_pPrev = entry->m_pNext = nullptr;
}

void FImageFileList::Remove(FImageFileListEntry* entry)
{
    if (entry == nullptr)
        return;
    priDropRequestsOf(entry);
    if (m_pBatchEntry == entry)
        m_pBatchEntry = entry->m_pNext;
    priUnlink(entry);
    delete entry;
    ++m_uRemovals;
    Refilter();
}

void FImageFileList::Clear()
{
    m_pRead.reset();
    priResetBatch();
    for (ThumbnailRequest* node = m_pFirstRequest; node != nullptr;) {
        ThumbnailRequest* next = node->m_pNext;
        if (node->m_pEntry != nullptr)
            priDetachRequest(node);
        node = next;
    }
    FImageFileListEntry* entry = m_pHead;
    m_pHead = m_pTail = nullptr;
    ++m_uRemovals;
    while (entry != nullptr) {
        FImageFileListEntry* next = entry->m_pNext;
        delete entry;
        entry = next;
    }
    Refilter();
}

bool FImageFileList::Add(FImageFileListEntry* entry)
{
    if (entry == nullptr)
        return false;
    Append(entry);
    SetSort(m_nSortMethod, m_bReverse);
    return true;
}

void FImageFileList::AddCopies(const FImageFileListEntry* first)
{
    // One sort at the end: sorting after every copy would cost the square of the count.
    for (const FImageFileListEntry* e = first; e != nullptr; e = e->m_pNext)
        Append(new FImageFileListEntry(*e));
    SetSort(m_nSortMethod, m_bReverse);
}

FImageFileListEntry* FImageFileList::AddFile(FIPManager* pool, const FWideString& fileURL)
{
    if (FindByURL(fileURL) != nullptr)
        return nullptr;
    std::vector<FWideString> parts;
    SplitURL(fileURL, parts);
    if (parts.size() < 2)
        return nullptr;
    parts.pop_back();
    FWideString folder;
    JoinURL(parts, folder, true);
    if (!(folder == m_usFolderURL))
        return nullptr;
    auto entry = std::make_unique<FImageFileListEntry>();
    if (entry->SetURL(fileURL))
        return nullptr;
    if (!entry->LoadPropsAndThumbnail(pool, m_nThumbWidth, m_nThumbWidth))
        return nullptr;
    FImageFileListEntry* placed = entry.release();
    InsertSorted(placed);
    Refilter();
    return placed;
}

void FImageFileList::StoreSortMethod(int method)
{
    if (method == m_nSortMethod)
        return;
    m_nSortMethod = method;
    Refilter();
}

void FImageFileList::StoreReverseSort(bool reverse)
{
    if (reverse == m_bReverse)
        return;
    m_bReverse = reverse;
    Refilter();
}

void FImageFileList::SetFilterMethod(int method)
{
    if (method == m_nFilterMethod)
        return;
    m_nFilterMethod = method;
    Refilter();
}

void FImageFileList::SetBriOnly(bool rawOnly)
{
    if (rawOnly == m_bRawOnly)
        return;
    m_bRawOnly = rawOnly;
    Refilter();
}

bool FImageFileList::priPasses(const FImageFileListEntry* e) const
{
    if (!e->m_bRaw && m_bRawOnly)
        return false;
    switch (m_nFilterMethod) {
    case 1:
        return true;
    case 2:
        return e->m_bMarked;
    case 3:
        return !e->m_bMarked;
    case 4:
        return e->m_bLocked;
    case 5:
        return !e->m_bLocked;
    default:
        return false;
    }
}

void FImageFileList::priCountEntry(const FImageFileListEntry* e)
{
    const bool counted[kCountKinds] = {
        true, false, e->m_bMarked, e->m_bLocked, e->m_bTransferred, e->m_bSelected, e->m_bRaw};
    for (int i = 0; i < kCountKinds; ++i) {
        if (i == kCountVisible || !counted[i])
            continue;
        m_aCounts[i].m_nCount++;
        m_aCounts[i].m_nBytes += e->m_nFileSize;
    }
}

void FImageFileList::Refilter()
{
    for (ImageCount& count : m_aCounts)
        count = ImageCount{};
    const bool known = m_nFilterMethod >= 1 && m_nFilterMethod <= 5;
    for (FImageFileListEntry* e = m_pHead; e != nullptr; e = e->m_pNext) {
        if (!e->m_bRaw && m_bRawOnly) {
            e->m_bVisible = false;
            e->m_nVisibleIndex = -1;
        } else if (known) {
            if (priPasses(e)) {
                e->m_bVisible = true;
                e->m_nVisibleIndex = m_aCounts[kCountVisible].m_nCount;
                m_aCounts[kCountVisible].m_nCount++;
                m_aCounts[kCountVisible].m_nBytes += e->m_nFileSize;
            } else {
                e->m_bVisible = false;
                e->m_nVisibleIndex = -1;
            }
        }
        priCountEntry(e);
    }
    for (FImageFileListEntry* e = m_pHead; e != nullptr; e = e->m_pNext)
        e->m_nVisibleCount = m_aCounts[kCountVisible].m_nCount;
}

void FImageFileList::DeselectHidden()
{
    for (FImageFileListEntry* e = m_pHead; e != nullptr; e = e->m_pNext)
        if (!e->m_bVisible)
            e->m_bSelected = false;
    Refilter();
}

FImageFileListEntry* FImageFileList::FindByURL(const FWideString& url) const
{
    for (FImageFileListEntry* e = m_pHead; e != nullptr; e = e->m_pNext)
        if (EqualsNoCase(e->m_usURL, url))
            return e;
    return nullptr;
}

bool FImageFileList::SelectByURL(const FWideString& url, bool select)
{
    FImageFileListEntry* e = FindByURL(url);
    if (e == nullptr)
        return false;
    e->m_bSelected = select;
    return true;
}

FImageFileListEntry* FImageFileList::FirstSelected() const
{
    for (FImageFileListEntry* e = m_pHead; e != nullptr; e = e->m_pNext)
        if (e->m_bSelected)
            return e;
    return nullptr;
}

FImageFileListEntry* FImageFileList::FirstVisible() const
{
    for (FImageFileListEntry* e = m_pHead; e != nullptr; e = e->m_pNext)
        if (e->m_bVisible)
            return e;
    return nullptr;
}

FImageFileListEntry* FImageFileList::FirstSelectedRaw() const
{
    for (FImageFileListEntry* e = m_pHead; e != nullptr; e = e->m_pNext)
        if (e->m_bSelected && e->m_bRaw)
            return e;
    return nullptr;
}

FImageFileListEntry* FImageFileList::FirstRawSelectedOf(const FImageFileListEntry* entry) const
{
    if (entry == nullptr)
        return nullptr;
    for (FImageFileListEntry* e = entry->m_pNext; e != nullptr; e = e->m_pNext)
        if (e->m_bSelected && e->m_bRaw)
            return e;
    return nullptr;
}

bool FImageFileList::AnyMatching(int flags) const
{
    for (const FImageFileListEntry* e = m_pHead; e != nullptr; e = e->m_pNext) {
        const bool tests[][2] = {
            {e->m_bSelected, !e->m_bSelected}, {e->m_bRaw, !e->m_bRaw},
            {e->m_bCamera, !e->m_bCamera},     {e->m_bTransferred, !e->m_bTransferred},
            {e->m_bMarked, !e->m_bMarked},     {e->m_bLocked, !e->m_bLocked},
            {e->m_bVisible, !e->m_bVisible},
        };
        bool all = true;
        for (int i = 0; i < 7 && all; ++i) {
            if ((flags & (1 << (2 * i))) && !tests[i][0])
                all = false;
            if ((flags & (2 << (2 * i))) && !tests[i][1])
                all = false;
        }
        if (all)
            return true;
    }
    return false;
}

int FImageFileList::GetCount() const
{
    int n = 0;
    for (const FImageFileListEntry* e = m_pHead; e != nullptr; e = e->m_pNext)
        ++n;
    return n;
}

int FImageFileList::GetSelectedCount() const
{
    int n = 0;
    for (const FImageFileListEntry* e = m_pHead; e != nullptr; e = e->m_pNext)
        n += e->m_bSelected ? 1 : 0;
    return n;
}

bool FImageFileList::AllSelectedRawMarked() const
{
    for (const FImageFileListEntry* e = m_pHead; e != nullptr; e = e->m_pNext)
        if (e->m_bSelected && e->m_bRaw && !e->m_bMarked)
            return false;
    return true;
}

bool FImageFileList::AllSelectedLocked() const
{
    for (const FImageFileListEntry* e = m_pHead; e != nullptr; e = e->m_pNext)
        if (e->m_bSelected && !e->m_bLocked)
            return false;
    return true;
}

int FImageFileList::ForEach(void* context, int (*callback)(void*, FImageFileListEntry*))
{
    int result = 0;
    for (FImageFileListEntry* e = m_pHead; e != nullptr;) {
        FImageFileListEntry* next = e->m_pNext;
        result = callback(context, e);
        e = next;
    }
    return result;
}

void FImageFileList::ForEachVisible(void* context, void (*callback)(void*, FImageFileListEntry*))
{
    for (FImageFileListEntry* e = m_pHead; e != nullptr;) {
        FImageFileListEntry* next = e->m_pNext;
        if (priPasses(e))
            callback(context, e);
        e = next;
    }
}

FImageFileListEntry* FImageFileList::GetPrevVisible(const FImageFileListEntry* entry) const
{
    const FImageFileListEntry* own = entry != nullptr ? FindByURL(entry->m_usURL) : nullptr;
    if (own == nullptr)
        return nullptr;
    for (FImageFileListEntry* e = own->m_pPrev; e != nullptr; e = e->m_pPrev)
        if (priPasses(e))
            return e;
    return nullptr;
}

FImageFileListEntry* FImageFileList::GetNextVisible(const FImageFileListEntry* entry) const
{
    const FImageFileListEntry* own = entry != nullptr ? FindByURL(entry->m_usURL) : nullptr;
    if (own == nullptr)
        return nullptr;
    for (FImageFileListEntry* e = own->m_pNext; e != nullptr; e = e->m_pNext)
        if (priPasses(e))
            return e;
    return nullptr;
}

FWideString ByteSizeInParentheses(int64_t bytes)
{
    FWideString size;
    size.SetByteSize(bytes);
    FWideString text("(");
    text += size;
    text += ")";
    return text;
}
