#include "FUiCopyCameraWindow.h"

#include <cstdio>
#include <vector>

#include "FDebugTrace.h"
#include "FException.h"
#include "FIPManager.h"
#include "FIStorageClass.h"
#include "FIUiApp.h"
#include "FImageFileList.h"
#include "FImageFileListEntry.h"
#include "FPropList.h"
#include "FUiManagerCreator.h"
#include "FUiMultiLangString.h"
#include "RelayEvent.h"
#include "StorageClassRegistry.h"

namespace
{

// Releases a folder at the end of the scope.
struct FFolderHold {
    FIFolder* folder = nullptr;
    ~FFolderHold()
    {
        if (folder)
            folder->Release();
    }
};

FIFolder* OpenExistingFolder(const FWideString& url)
{
    if (url.IsEmpty())
        return nullptr;
    try {
        FWideString fileName;
        FIFolder* folder = OpenFolderURL(url, fileName, false);
        // A URL that names a file opens its folder: that is not the folder asked for.
        if (folder && !fileName.IsEmpty()) {
            folder->Release();
            return nullptr;
        }
        return folder;
    } catch (const FException&) {
        return nullptr;
    }
}

FWideString NativeOf(const FWideString& url)
{
    FWideString native;
    if (!URLToNativePath(url, native))
        native = url;
    return native;
}

// The documents folder is offered before it exists (nothing is made at start), so the
// first download into it makes it; any other missing destination stays refused.
FIFolder* OpenDestinationFolder(const FWideString& url, const FWideString& native)
{
    if (FIFolder* folder = OpenExistingFolder(url))
        return folder;
    FWideString documents = NativeOf(GetSpecialPathURL(kSpecialPathDocuments));
    FWideString given = native;
    while (documents.GetLength() > 1 && documents.GetBuffer()[documents.GetLength() - 1] == u'/')
        documents.DropRight(1);
    while (given.GetLength() > 1 && given.GetBuffer()[given.GetLength() - 1] == u'/')
        given.DropRight(1);
    if (documents.IsEmpty() || !(given == documents))
        return nullptr;
    try {
        FWideString fileName;
        return OpenFolderURL(url, fileName, true);
    } catch (const FException&) {
        return nullptr;
    }
}

// A name the camera gave that would place the copy outside the destination.
bool IsUnsafeFileName(const FWideString& name)
{
    if (name.IsEmpty() || name == "." || name == "..")
        return true;
    for (int i = 0; i < name.GetLength(); ++i) {
        const char16_t unit = name.GetBuffer()[i];
        if (unit == u'/' || unit == u'\\' || unit < 0x20)
            return true;
    }
    return false;
}

} // namespace

FWideString FormatFreeSpace(int64_t bytes)
{
    char text[64];
    const double megabytes = bytes > 0 ? static_cast<double>(bytes) / 1048576.0 : 0.0;
    if (megabytes > 1024)
        std::snprintf(text, sizeof(text), "%.3g GB", megabytes / 1024);
    else
        std::snprintf(text, sizeof(text), "%.3g MB", megabytes);
    return FWideString(text);
}

FUiCopyCameraWindow::FUiCopyCameraWindow(const char* typeName, FIPManager* pool)
    : FUiObject(typeName), m_pool(pool)
{
    m_pList = std::make_unique<FImageFileList>(m_pool.Get());
    m_pOnInit = AddEvent(FWideString("ON_INIT"));
    m_pOnSelectDir = AddEvent(FWideString("ON_SELECT_DIR"));
    m_pOnSendRelay = AddEvent(FWideString("ON_SEND_RELAY"));
    m_pOnSetPath = AddEvent(FWideString("ON_SET_PATH"));
    m_pOnGetPath = AddEvent(FWideString("ON_GET_PATH"));
    m_pOnSetDirSelect = AddEvent(FWideString("ON_SET_DIR_SELECT"));
    AddEvent(FWideString("ON_IMAGES_ARE_PRESENT"));
    m_pOnMarkedPresent = AddEvent(FWideString("ON_MARKED_IMAGES_ARE_PRESENT"));
    m_pOnSelectedPresent = AddEvent(FWideString("ON_SELECTED_IMAGES_ARE_PRESENT"));
    AddEvent(FWideString("ON_NUM_IMAGES"));
    AddEvent(FWideString("ON_NUM_MARKED_IMAGES"));
    AddEvent(FWideString("ON_NUM_SELECTED_IMAGES"));
    m_pOnSizeAll = AddEvent(FWideString("ON_SIZEOF_ALL_IMAGES"));
    m_pOnSizeMarked = AddEvent(FWideString("ON_SIZEOF_MARKED_IMAGES"));
    m_pOnSizeSelected = AddEvent(FWideString("ON_SIZEOF_SELECTED_IMAGES"));
    m_pOnStartBatch = AddEvent(FWideString("ON_START_DOWNLOAD_BATCH"));
    m_pOnPerformSave = AddEvent(FWideString("ON_PERFORM_SAVE"));
    m_pOnSpaceFree = AddEvent(FWideString("ON_SET_SPACE_FREE"));
    m_pOnBlankResolution = AddEvent(FWideString("ON_BLANK_RESOLUTION"));
    m_pOnSingleResolution = AddEvent(FWideString("ON_SINGLE_RESOLUTION"));
    m_pOnMultipleResolutions = AddEvent(FWideString("ON_MULTIPLE_RESOLUTIONS"));
    m_pOnSelectAll = AddEvent(FWideString("ON_SELECT_ALL"));
    m_pOnSelectMarked = AddEvent(FWideString("ON_SELECT_MARKED"));
    m_pOnSelectSelected = AddEvent(FWideString("ON_SELECT_SELECTED"));
    m_pOnShowInvalid = AddEvent(FWideString("ON_SHOW_INVALID"));
    m_pOnShowInsufficient = AddEvent(FWideString("ON_SHOW_INSUFFICIENT"));
    m_pOnHide = AddEvent(FWideString("ON_HIDE_COPY_CAMERA"));
    m_pOnIsReady = AddEvent(FWideString("ON_IS_READY"));
    m_usDestURL = GetSpecialPathURL(kSpecialPathDocuments);
}

FUiCopyCameraWindow::~FUiCopyCameraWindow()
{
    // The list's destructor stops and joins a running scan before the pool goes.
    m_pList.reset();
}

bool FUiCopyCameraWindow::InitUiObject(FIUiApp* app, FIUiWindow* window, FIUiObject* parent, FPropList* tag)
{
    InitNonVisualUiObject(this, app, window, parent, tag);
    if (app && tag) {
        const FWideString singular = tag->GetString(FWideString("ImageSingularString"), FWideString());
        const FWideString plural = tag->GetString(FWideString("ImagePluralString"), FWideString());
        m_pSingular = singular.IsEmpty() ? nullptr : app->GetDisplayString(singular);
        m_pPlural = plural.IsEmpty() ? nullptr : app->GetDisplayString(plural);
    }
    return m_pSingular != nullptr && m_pPlural != nullptr;
}

FPropList* FUiCopyCameraWindow::priStateNode() const
{
    if (!GetApp())
        return nullptr;
    FWideString name;
    const_cast<FUiCopyCameraWindow*>(this)->GetFullName(name);
    return GetApp()->GetPersistentData(name);
}

bool FUiCopyCameraWindow::UiRelayMessage(const FWideString& message, void* data)
{
    if (message == "Post Creation Initialization") {
        m_usDestURL = GetSpecialPathURL(kSpecialPathDocuments);
        if (FPropList* node = priStateNode())
            m_usDestURL = node->GetString(FWideString("DirectoryURL"), m_usDestURL);
        FWideString native = NativeOf(m_usDestURL);
        m_pOnSetPath->Fire(&native);
        m_pOnInit->Fire(nullptr);
        return true;
    }
    if (message == "we're goin' bye-bye") {
        if (FPropList* node = priStateNode())
            node->SetString(FWideString("DirectoryURL"), m_usDestURL);
        return true;
    }
    if (message == "ImageFileList" && data) {
        // A scan still filling the list is stopped with it: the list is new.
        if (m_bScanning) {
            priNewList();
            m_bScanning = false;
        }
        m_pList->Clear();
        m_pList->AddCopies(static_cast<const FImageFileListEntry*>(data));
        priCounts();
        priFreeSpace();
        priResolutionCheck();
        // A list handed over is complete at once; the dialog may start.
        bool ready = true;
        m_pOnIsReady->Fire(&ready);
        return true;
    }
    if (message == "DownloadDir" && data) {
        priReset();
        // The old scan, if any, is stopped and joined with its list before the new one starts.
        priNewList();
        m_bScanning = m_pList->StartScan(m_pool.Get(), *static_cast<const FWideString*>(data));
        if (!m_bScanning) {
            bool ready = true;
            m_pOnIsReady->Fire(&ready);
        }
        return true;
    }
    if (message == "SelectDir") {
        m_pOnSelectDir->Fire(nullptr);
        m_pOnSendRelay->Fire(static_cast<FIUiRelay*>(this));
        FWideString native;
        m_pOnGetPath->Fire(&native);
        FWideString url;
        if (native.IsEmpty() || !NativePathToURL(native, url))
            url = m_usDestURL;
        m_pOnSetDirSelect->Fire(&url);
        return true;
    }
    if (message == "DirectoryChanged" && data) {
        priSetDestination(*static_cast<const FWideString*>(data));
        return true;
    }
    // The list belongs to a running scan: scope and download wait for it.
    const bool listBusy = m_bScanning;
    if (message == "DownloadAll") {
        m_eScope = kScopeAll;
        if (!listBusy)
            priResolutionCheck();
        return true;
    }
    if (message == "DownloadMarked" || message == "DownloadSelected") {
        const bool marked = message == "DownloadMarked";
        if (!listBusy && m_pList->AnyMatching(kMatchRaw | (marked ? kMatchMarked : kMatchSelected))) {
            m_eScope = marked ? kScopeMarked : kScopeSelected;
            priResolutionCheck();
        } else if (m_eScope == kScopeAll) {
            m_pOnSelectAll->Fire(nullptr);
        } else if (m_eScope == kScopeSelected) {
            m_pOnSelectSelected->Fire(nullptr);
        } else {
            m_pOnSelectMarked->Fire(nullptr);
        }
        return true;
    }
    if (message == "DoDelete") {
        m_bDeleteSources = true;
        return true;
    }
    if (message == "DontDelete") {
        m_bDeleteSources = false;
        return true;
    }
    if (message == "PerformDownload") {
        if (!listBusy)
            priPerformDownload();
        return true;
    }
    return false;
}

void FUiCopyCameraWindow::Tick(int /*elapsedMs*/)
{
    if (!m_bScanning || !m_pList->IsScanDone())
        return;
    m_bScanning = false;
    bool ready = true;
    m_pOnIsReady->Fire(&ready);
    priCounts();
    priFreeSpace();
    priResolutionCheck();
}

void FUiCopyCameraWindow::priNewList()
{
    m_pList = std::make_unique<FImageFileList>(m_pool.Get());
}

void FUiCopyCameraWindow::priReset()
{
    bool ready = false;
    m_pOnIsReady->Fire(&ready);
    FWideString empty;
    m_pOnSizeAll->Fire(&empty);
    empty = FWideString();
    m_pOnSizeMarked->Fire(&empty);
    empty = FWideString();
    m_pOnSizeSelected->Fire(&empty);
    m_pOnBlankResolution->Fire(nullptr);
}

bool FUiCopyCameraWindow::priInScope(const FImageFileListEntry* e) const
{
    if (!e->m_bRaw)
        return false;
    switch (m_eScope) {
    case kScopeMarked:
        return e->m_bMarked;
    case kScopeSelected:
        return e->m_bSelected;
    default:
        return true;
    }
}

FWideString FUiCopyCameraWindow::priCountLabel(int count, int64_t bytes) const
{
    FIUiMultiLangString* word = count == 1 ? m_pSingular : m_pPlural;
    const FWideString* text = word ? word->GetText() : nullptr;
    char head[32];
    std::snprintf(head, sizeof(head), "(%i ", count);
    FWideString label(head);
    label += text ? *text : FWideString(count == 1 ? "image" : "images");
    if (count != 0) {
        FWideString size;
        size.SetByteSize(bytes);
        label += ", ";
        label += size;
    }
    label += ")";
    return label;
}

void FUiCopyCameraWindow::priCounts()
{
    const ImageCount& raw = m_pList->m_aCounts[kCountRaw];
    const ImageCount& marked = m_pList->m_aCounts[kCountMarked];
    const ImageCount& selected = m_pList->m_aCounts[kCountSelected];
    FWideString label = priCountLabel(raw.m_nCount, raw.m_nBytes);
    m_pOnSizeAll->Fire(&label);
    label = priCountLabel(marked.m_nCount, marked.m_nBytes);
    m_pOnSizeMarked->Fire(&label);
    label = priCountLabel(selected.m_nCount, selected.m_nBytes);
    m_pOnSizeSelected->Fire(&label);
    bool present = marked.m_nCount != 0;
    m_pOnMarkedPresent->Fire(&present);
    present = selected.m_nCount != 0;
    m_pOnSelectedPresent->Fire(&present);
    m_eScope = kScopeAll;
    m_pOnSelectAll->Fire(nullptr);
}

void FUiCopyCameraWindow::priFreeSpace()
{
    FFolderHold hold{OpenExistingFolder(m_usDestURL)};
    if (!hold.folder)
        return;
    int64_t bytes = 0;
    try {
        bytes = hold.folder->GetFreeSpace();
    } catch (const FException&) {
        bytes = 0;
    }
    FWideString text = FormatFreeSpace(bytes);
    m_pOnSpaceFree->Fire(&text);
}

void FUiCopyCameraWindow::priResolutionCheck()
{
    m_nInScope = 0;
    bool several = false;
    int width = 0;
    int height = 0;
    for (const FImageFileListEntry* e = m_pList->m_pHead; e; e = e->m_pNext) {
        if (!priInScope(e))
            continue;
        if (m_nInScope++ == 0) {
            width = e->m_nCols;
            height = e->m_nRows;
        } else if (e->m_nCols != width || e->m_nRows != height) {
            several = true;
        }
    }
    if (several) {
        m_pOnMultipleResolutions->Fire(nullptr);
    } else if (m_nInScope == 0) {
        m_pOnBlankResolution->Fire(nullptr);
    } else {
        char text[96];
        std::snprintf(text, sizeof(text), "%03.1f MP (%i%s%i%s3)",
                      static_cast<double>(width) * height * 3 * 1e-6, width, " x ", height, " x ");
        FWideString value(text);
        m_pOnSingleResolution->Fire(&value);
    }
}

void FUiCopyCameraWindow::priSetDestination(const FWideString& url)
{
    m_usDestURL = url;
    FWideString native = NativeOf(m_usDestURL);
    m_pOnSetPath->Fire(&native);
    priFreeSpace();
}

void FUiCopyCameraWindow::priPerformDownload()
{
    FWideString native;
    m_pOnGetPath->Fire(&native);
    if (native.IsEmpty()) {
        m_pOnShowInvalid->Fire(nullptr);
        return;
    }
    FWideString url;
    if (!NativePathToURL(native, url)) {
        m_pOnShowInvalid->Fire(nullptr);
        return;
    }
    FFolderHold hold{OpenDestinationFolder(url, native)};
    if (!hold.folder) {
        m_pOnShowInvalid->Fire(nullptr);
        return;
    }
    bool readOnly = true;
    int64_t free = 0;
    try {
        readOnly = hold.folder->IsReadOnly();
        free = hold.folder->GetFreeSpace();
    } catch (const FException&) {
        readOnly = true;
    }
    if (readOnly) {
        m_pOnShowInvalid->Fire(nullptr);
        return;
    }
    // The folder as its storage class names it, so every copy lands inside it.
    m_usSendURL = hold.folder->GetURL();
    if (free < DownloadSpaceNeeded(m_nInScope)) {
        m_pOnShowInsufficient->Fire(nullptr);
        return;
    }
    m_pOnStartBatch->Fire(nullptr);
    m_pList->ForEach(this, [](void* context, FImageFileListEntry* entry) {
        auto* self = static_cast<FUiCopyCameraWindow*>(context);
        if (self->priInScope(entry))
            self->priSendOne(entry);
        return 1;
    });
    m_pOnHide->Fire(nullptr);
}

void FUiCopyCameraWindow::priSendOne(const FImageFileListEntry* entry)
{
    std::vector<FWideString> parts;
    SplitURL(entry->m_usURL, parts);
    const FWideString name = parts.empty() ? FWideString() : parts.back();
    if (parts.size() < 2 || IsUnsafeFileName(name)) {
        DebugTrace("Download: an image name that would leave the destination folder was passed over.\n");
        return;
    }
    std::vector<FWideString> destination;
    SplitURL(m_usSendURL, destination);
    destination.push_back(name);
    m_Request.m_usFileURL = entry->m_usURL;
    m_Request.m_usDstURL = FWideString();
    JoinURL(destination, m_Request.m_usDstURL, false);
    m_Request.m_bDeleteSrc = m_bDeleteSources && !entry->m_bLocked;
    m_pOnPerformSave->Fire(&m_Request);
}

bool RegisterCopyCameraWindowManager(FIUiObjectFactory* factory)
{
    return RegisterUiManager<FUiCopyCameraWindow>(factory, "COPY_CAMERA_WIN_MGR");
}
