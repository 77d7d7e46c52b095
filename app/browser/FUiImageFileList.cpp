#include "FUiImageFileList.h"

#include "ImageChangeQuery.h"

#include <vector>

#include "FDebugTrace.h"
#include "FIPManager.h"
#include "FIStorageClass.h"
#include "FIUiApp.h"
#include "FImageFileListEntry.h"
#include "FPropList.h"
#include "FUiMultiLangString.h"
#include "FUiWidgetFrame.h"
#include "StorageClassRegistry.h"

namespace
{

class FUiImageFileListCreator final : public FUiWidgetCreator<FUiImageFileList>
{
};

const char* const kEvents[] = {"ON_INIT",
                               "ON_DISPLAY_VERSION",
                               "ON_NEW_THUMBNAIL",
                               "ON_NEW_THUMBNAIL_LIST",
                               "ON_REMOVE_THUMBNAIL",
                               "ON_REMOVE_ALL_THUMBNAILS",
                               "ON_REVIEW_IMAGES",
                               "ON_SELECT_IMAGE",
                               "ON_DESELECT_IMAGE",
                               "ON_IMAGE_INFO",
                               "ON_SEL_IMAGE_INFO",
                               "ON_SET_IMAGE_INFO_NUM",
                               "ON_SET_IMAGE_INFO_SIZE",
                               "ON_COMPUTER_DIR_IMAGE_COUNT",
                               "ON_COMPUTER_DIR_STORAGE_USED",
                               "ON_IMAGES_ARE_PRESENT",
                               "ON_BRISAL_IMAGES_ARE_PRESENT",
                               "ON_IMAGES_ARE_SELECTED",
                               "ON_NO_IMAGES_ARE_SELECTED",
                               "ON_IMAGES_ARE_LOCKED",
                               "ON_IMAGES_ARE_MARKED",
                               "ON_BRISAL_IMAGES_ARE_SELECTED",
                               "ON_UNLOCKED_IMAGES_ARE_SELECTED",
                               "ON_NEW_VISIBLE_LIST",
                               "ON_UPDATE_IMAGE",
                               "ON_IS_ROTATE_ALLOWED",
                               "ON_DELETING_IMAGE",
                               "ON_SET_URL",
                               "ON_VOLUMES_CHANGED",
                               "ON_SET_REPLY",
                               "ON_SET_DELETE_TEXT",
                               "ON_SET_FILTER_TO_ALL",
                               "ON_SET_FILTER_TO_MARKED",
                               "ON_SET_FILTER_TO_UNMARKED",
                               "ON_SET_FILTER_TO_LOCKED",
                               "ON_SET_FILTER_TO_UNLOCKED",
                               "ON_SHOW_FILTER",
                               "ON_FILTER_VISIBILITY",
                               "ON_SET_SORT_BY_NAME",
                               "ON_SET_SORT_BY_DATE",
                               "ON_SET_SORT_BY_FILE_SIZE",
                               "ON_SET_SORT_BY_FILE_TYPE",
                               "ON_SET_SORT_BY_RES",
                               "ON_SET_REVERSE_ORDER",
                               "ON_SET_SHOW_BRI_ONLY",
                               "ON_SET_MENU_UNMARK",
                               "ON_SET_MENU_MARK",
                               "ON_SET_MENU_UNLOCK",
                               "ON_SET_MENU_LOCK",
                               "ON_SET_COMPUTER_IMAGES_TEXT",
                               "ON_NO_IMAGES_SELECTED",
                               "ON_ONE_IMAGE_SELECTED",
                               "ON_MULTI_IMAGES_SELECTED",
                               "ON_VISIBLE_IMAGES",
                               "ON_DIRECTORY_READ_ONLY"};

const char* const kFilterNames[] = {"ShowAll", "ShowMarked", "ShowUnmarked", "ShowLocked", "ShowUnlocked"};
const char* const kFilterEvents[] = {"ON_SET_FILTER_TO_ALL", "ON_SET_FILTER_TO_MARKED",
                                     "ON_SET_FILTER_TO_UNMARKED", "ON_SET_FILTER_TO_LOCKED",
                                     "ON_SET_FILTER_TO_UNLOCKED"};
const char* const kSortNames[] = {"Name", "Date", "Size", "Filetype", "Resolution"};
const char* const kSortEvents[] = {"ON_SET_SORT_BY_NAME", "ON_SET_SORT_BY_DATE", "ON_SET_SORT_BY_FILE_SIZE",
                                   "ON_SET_SORT_BY_FILE_TYPE", "ON_SET_SORT_BY_RES"};

FWideString g_startArgument;
// Shared by every list widget of the process.
int g_languageCounter = 0;

// 1-based index of the text in the table, or 0.
template <size_t N>
int IndexOf(const FWideString& text, const char* const (&names)[N])
{
    for (size_t i = 0; i < N; ++i) {
        if (text == names[i])
            return int(i) + 1;
    }
    return 0;
}

// The folder of a URL: all but its last part, with a trailing "/".
FWideString FolderOf(const FWideString& url)
{
    const char16_t* units = url.GetBuffer();
    int end = url.GetLength();
    while (end > 0 && units[end - 1] == u'/')
        --end;
    while (end > 0 && units[end - 1] != u'/')
        --end;
    return FWideString(units, units + end);
}

} // namespace

bool RegisterImageFileListCreator(FIUiObjectFactory* factory)
{
    return RegisterUiWidgetCreator<FUiImageFileListCreator>(factory, "IMAGE_FILE_LIST");
}

void FUiImageFileList::SetStartArgument(const FWideString& argument)
{
    g_startArgument = argument;
}

FUiImageFileList::FUiImageFileList(const char* typeName) : FUiObject(typeName), m_pIpMgr(GetIPManagerPool())
{
    for (const char* name : kEvents)
        AddEvent(FWideString(name));
}

FUiImageFileList::~FUiImageFileList()
{
    ReleaseIPManager(&m_pIpMgr);
}

bool FUiImageFileList::InitUiObject(FIUiApp* app, FIUiWindow* window, FIUiObject* parent, FPropList* tag)
{
    FUiObject::InitUiObject(app, window, parent, tag);
    if (app && tag) {
        const auto displayString = [&](const char* key) -> FIUiMultiLangString* {
            const FWideString name = tag->GetString(key, FWideString());
            return name.IsEmpty() ? nullptr : app->GetDisplayString(name);
        };
        m_pFStopPrefix = displayString("FStopPrefixString");
        m_pSecondsSuffix = displayString("SecondsSuffixString");
        m_pBulbText = displayString("BulbModeFixString");
        m_pSpacer = displayString("SpacerString");
        if (FPropList* state = app->GetPersistentData(m_usFullName)) {
            m_usSavedFolder = state->GetString("DirectoryURL", FWideString());
            m_List.StoreSortMethod(state->GetInt("SortMethod", 1));
            m_List.StoreReverseSort(state->GetBool("ReverseSort", false));
            m_List.SetFilterMethod(state->GetInt("FilterMethod", 1));
            m_List.SetBriOnly(state->GetBool("BriOnly", false));
        }
    }
    SetWidgetLayout(m_hLayout, 0, 0);
    SetWidgetLayout(m_vLayout, 0, 0);
    m_rect.Clear();
    return true;
}

void FUiImageFileList::Tick(int)
{
    if (m_List.IsReading()) {
        if (m_List.ContinueRead(kReadBudget)) {
            priListRead();
            priUpdateSelectionInfo();
            priUpdateEnableEvents();
            priFire("ON_NEW_VISIBLE_LIST");
        }
        return;
    }
    if (m_List.IsBatchRunning() || m_List.HasQueuedThumbnails())
        m_List.Idle();
}

RelayEvent* FUiImageFileList::priEvent(const char* name) const
{
    return FindEvent(FWideString(name));
}

void FUiImageFileList::priFire(const char* name, void* data) const
{
    if (RelayEvent* event = priEvent(name))
        event->Fire(data);
}

void FUiImageFileList::priFireBool(const char* name, bool value) const
{
    priFire(name, &value);
}

void FUiImageFileList::priFireText(const char* name, FWideString text) const
{
    priFire(name, &text);
}

FWideString FUiImageFileList::priText(FIUiMultiLangString* string, const char* fallback) const
{
    const FWideString* text = string ? string->GetText() : nullptr;
    return text ? *text : FWideString(fallback);
}

// ---- Messages ----

bool FUiImageFileList::UiRelayMessage(const FWideString& message, void* data)
{
    DebugTrace("FUiImageFileList::UiRelayMessage('%s')\n", message.GetNarrow());
    if (message == "Post Creation Initialization") {
        priStart();
        return false;
    }
    if (message == "we're goin' bye-bye") {
        if (FPropList* state = m_pApp ? m_pApp->GetPersistentData(m_usFullName) : nullptr) {
            state->SetString("DirectoryURL", m_usCurrentFolder);
            state->SetInt("SortMethod", m_List.m_nSortMethod);
            state->SetBool("ReverseSort", m_List.m_bReverse);
            state->SetInt("FilterMethod", m_List.m_nFilterMethod);
            state->SetBool("BriOnly", m_List.m_bRawOnly);
        }
        return false;
    }
    if (message == "ChangeLangDialog") {
        const std::vector<FWideString>* languages = m_pApp ? &m_pApp->GetLanguages() : nullptr;
        if (languages && !languages->empty()) {
            g_languageCounter = (g_languageCounter + 1) % int(languages->size());
            m_pApp->SetLanguage((*languages)[size_t(g_languageCounter)]);
        }
        return false;
    }
    if (message == "VolumesChanged") {
        priFire("ON_VOLUMES_CHANGED");
        return false;
    }
    if (message == "SetLang") {
        if (data && m_pApp)
            m_pApp->SetLanguage(*static_cast<FWideString*>(data));
        return false;
    }
    const bool idle = !m_List.IsBatchRunning();
    if (message == "RefreshList") {
        priReread();
    } else if (message == "RotateCW" || message == "RotateCCW") {
        if (idle) {
            m_bUpdateImageEvents = true;
            m_List.RotateSelected(m_pIpMgr, message == "RotateCW", this, ApproveRotate, this, AfterImageStep);
        }
    } else if (message == "Mark") {
        if (idle) {
            m_bUpdateImageEvents = true;
            const bool mark = !m_List.AllSelectedRawMarked();
            m_List.MarkSelected(m_pIpMgr, mark, this, AfterImageStep);
            priFire(mark ? "ON_SET_MENU_UNMARK" : "ON_SET_MENU_MARK");
        }
    } else if (message == "Lock") {
        if (idle) {
            m_bUpdateImageEvents = true;
            const bool lock = !m_List.AllSelectedLocked();
            m_List.LockSelected(lock, this, AfterImageStep);
            priFire(lock ? "ON_SET_MENU_UNLOCK" : "ON_SET_MENU_LOCK");
        }
    } else if (message == "DeletePressed") {
        if (idle) {
            priFire("ON_SET_REPLY", this);
            int code = m_List.GetSelectedCount() == 1 ? 0 : m_List.AnyMatching(0x0401) ? 2 : 1;
            priFire("ON_SET_DELETE_TEXT", &code);
        }
    } else if (message == "ReviewImages") {
        if (m_List.FirstVisible()) {
            m_List.Refilter();
            FImageFileListEntry* entry = m_List.FirstSelected();
            priFire("ON_REVIEW_IMAGES", entry ? entry : m_List.FirstVisible());
        }
    } else if (!data) {
        return false;
    } else if (message == "OpenPath") {
        FWideString url;
        if (NativePathToURL(*static_cast<FWideString*>(data), url))
            priFireText("ON_SET_URL", FolderOf(url));
    } else if (message == "DirSelected") {
        priShowFolder(*static_cast<FWideString*>(data));
    } else if (message == "Filter") {
        const int filter = IndexOf(*static_cast<FWideString*>(data), kFilterNames);
        if (filter != 0 && filter != m_List.m_nFilterMethod) {
            m_List.SetFilterMethod(filter);
            m_List.DeselectHidden();
            priFireShowFilter();
            priFire("ON_REMOVE_ALL_THUMBNAILS");
            priReannounce();
            priUpdateEnableEvents();
            priFire("ON_NEW_VISIBLE_LIST");
            priRequestThumbnails(ThumbnailReady);
        }
    } else if (message == "Sort" || message == "ReverseState") {
        const FWideString& text = *static_cast<FWideString*>(data);
        bool changed = false;
        if (message == "Sort") {
            const int method = IndexOf(text, kSortNames);
            if ((changed = method != 0 && method != m_List.m_nSortMethod))
                m_List.SetSortMethod(method);
        } else if (text == "True" || text == "False") {
            const bool reverse = text == "True";
            if ((changed = reverse != m_List.m_bReverse))
                m_List.SetReverseSort(reverse);
        }
        if (changed) {
            priFire("ON_REMOVE_ALL_THUMBNAILS");
            priReannounce();
            priUpdateEnableEvents();
            priFire("ON_NEW_VISIBLE_LIST");
        }
    } else if (message == "ShowBriOnly") {
        const FWideString& text = *static_cast<FWideString*>(data);
        if ((text == "True" || text == "False") && (text == "True") != m_List.m_bRawOnly) {
            m_List.SetBriOnly(text == "True");
            m_List.DeselectHidden();
            priFire("ON_REMOVE_ALL_THUMBNAILS");
            if (m_List.IsBatchRunning()) {
                m_List.CancelPending();
                m_List.Clear();
                priReadFolder();
            }
            priReannounce();
            priFireShowFilter();
            priUpdateEnableEvents();
            priFire("ON_NEW_VISIBLE_LIST");
            priRequestThumbnails(ThumbnailReady);
        }
    } else if (message == "ThumbnailSize") {
        const int size = *static_cast<int*>(data);
        if (size != m_nThumbSize) {
            m_nThumbSize = size;
            m_List.ReleaseThumbnails();
            priRequestThumbnails(ThumbnailReady);
        }
    } else if (message == "Reply") {
        if (idle && *static_cast<FWideString*>(data) == "Delete")
            m_List.DeleteSelected(this, ApproveDelete, this, AfterDeleteStep);
    } else if (message == "DeletingImage") {
        if (FImageFileListEntry* entry = m_List.FindByURL(*static_cast<FWideString*>(data))) {
            m_List.Remove(entry);
            priFire("ON_REMOVE_ALL_THUMBNAILS");
            priReannounce();
            priUpdateEnableEvents();
            priFire("ON_NEW_VISIBLE_LIST");
        }
    } else if (message == "UpdateImage") {
        priUpdateImage(*static_cast<FImageFileListEntry*>(data));
    } else if (message == "SelectImage") {
        const FWideString& url = *static_cast<FWideString*>(data);
        m_List.SelectByURL(url, true);
        if (FImageFileListEntry* entry = m_List.FindByURL(url))
            priFire("ON_SELECT_IMAGE", entry);
        priAfterSelection(true);
    } else if (message == "DeselectImage" || message == "DeselectImageNoUpdate") {
        FWideString url = *static_cast<FWideString*>(data);
        m_List.SelectByURL(url, false);
        if (m_List.FindByURL(url))
            priFire("ON_DESELECT_IMAGE", &url);
        priAfterSelection(message == "DeselectImage");
    } else if (message == "SelectImageList" || message == "DeselectImageList") {
        for (const FWideString& url : *static_cast<std::vector<FWideString>*>(data))
            m_List.SelectByURL(url, message == "SelectImageList");
        priAfterSelection(true);
    } else if (message == "GetPrevVisibleImage" || message == "GetNextVisibleImage") {
        auto** entry = static_cast<FImageFileListEntry**>(data);
        if (*entry)
            *entry = message == "GetPrevVisibleImage" ? m_List.GetPrevVisible(*entry)
                                                      : m_List.GetNextVisible(*entry);
    } else if (message == "GetImageListPos") {
        auto* query = static_cast<FImageFileListEntry*>(data);
        const FImageFileListEntry* own = m_List.FindByURL(query->m_usURL);
        const bool shown = own && own->m_bVisible;
        query->m_nVisibleIndex = shown ? own->m_nVisibleIndex : 0;
        query->m_nVisibleCount = shown ? own->m_nVisibleCount : 1;
    } else {
        return false;
    }
    return true;
}

void FUiImageFileList::priAfterSelection(bool stateEvents)
{
    m_List.Refilter();
    priMenuEvents();
    if (stateEvents)
        priUpdateEnableEvents();
}

// ---- Start-up and folders ----

void FUiImageFileList::priStart()
{
    FWideString folder = m_usSavedFolder;
    priFire("ON_INIT");
    FWideString argumentURL;
    bool opened = false;
    if (!g_startArgument.IsEmpty() && NativePathToURL(g_startArgument, argumentURL)) {
        FWideString fileName;
        if (FIFolder* open = OpenFolderURL(argumentURL, fileName, false)) {
            open->Release();
            opened = true;
            folder = FolderOf(argumentURL);
        }
    }
    priFireText("ON_SET_URL", folder);
    if (opened) {
        m_usPendingSelectURL = argumentURL;
        if (!m_List.IsReading())
            priSelectPending();
    }
    if (m_List.m_nFilterMethod < 1 || m_List.m_nFilterMethod > 5)
        m_List.SetFilterMethod(1);
    priFire(kFilterEvents[m_List.m_nFilterMethod - 1]);
    if (m_List.m_nSortMethod < 1 || m_List.m_nSortMethod > 5)
        m_List.StoreSortMethod(1);
    priFire(kSortEvents[m_List.m_nSortMethod - 1]);
    if (m_List.m_bReverse)
        priFire("ON_SET_REVERSE_ORDER");
    if (m_List.m_bRawOnly)
        priFire("ON_SET_SHOW_BRI_ONLY");
    priFireShowFilter();
    priUpdateEnableEvents();
}

void FUiImageFileList::priShowFolder(const FWideString& url)
{
    if (url.IsEmpty() || url.CompareNoCase(m_usCurrentFolder.GetBuffer()) == 0)
        return;
    m_usCurrentFolder = url;
    m_List.CancelPending();
    m_List.Clear();
    priUpdateFolderInfo();
    priReadFolder();
    priUpdateSelectionInfo();
    priUpdateEnableEvents();
    priFire("ON_NEW_VISIBLE_LIST");
}

void FUiImageFileList::priReread()
{
    m_List.CancelPending();
    m_List.Clear();
    priUpdateFolderInfo();
    priReadFolder();
    priFireText("ON_SET_URL", m_usCurrentFolder);
    priUpdateSelectionInfo();
    priUpdateEnableEvents();
    priFire("ON_NEW_VISIBLE_LIST");
}

void FUiImageFileList::priReadFolder()
{
    // A folder that cannot be opened leaves the list empty, with nothing to continue.
    m_List.BeginRead(m_pIpMgr, m_usCurrentFolder);
    if (!m_List.IsReading() || m_List.ContinueRead(kReadBudget)) {
        priListRead();
        return;
    }
    // Meanwhile the view shows the empty list, never entries that Clear deleted.
    priFire("ON_NEW_THUMBNAIL_LIST", &m_List);
}

void FUiImageFileList::priListRead()
{
    priFire("ON_NEW_THUMBNAIL_LIST", &m_List);
    priRequestThumbnails(ThumbnailReadyAfterRead);
    priSelectPending();
}

void FUiImageFileList::priSelectPending()
{
    if (m_usPendingSelectURL.IsEmpty())
        return;
    const FWideString url = m_usPendingSelectURL;
    m_usPendingSelectURL = FWideString();
    m_List.SelectByURL(url, true);
    if (FImageFileListEntry* entry = m_List.FindByURL(url))
        priFire("ON_SELECT_IMAGE", entry);
}

void FUiImageFileList::priRequestThumbnails(FThumbnailDone callback)
{
    // Until the view has told its size there is nothing sensible to ask for; the size's
    // arrival asks for them.
    if (m_nThumbSize < 1)
        return;
    m_List.RequestThumbnails(m_nThumbSize, m_nThumbSize, this, callback);
}

void FUiImageFileList::priReannounce()
{
    m_bUpdateImageEvents = false;
    m_List.ForEachVisible(this,
                          [](void* context, FImageFileListEntry* entry) { AfterImageStep(context, entry); });
}

void FUiImageFileList::priUpdateImage(const FImageFileListEntry& changed)
{
    FImageFileListEntry* entry = m_List.FindByURL(changed.m_usURL);
    if (entry) {
        entry->LoadPropsAndThumbnail(m_pIpMgr, m_nThumbSize, m_nThumbSize);
        m_List.Refilter();
        priUpdateEnableEvents();
        if (entry->m_bVisible) {
            priFire("ON_NEW_THUMBNAIL", entry);
            priFire("ON_NEW_VISIBLE_LIST");
        } else {
            priFire("ON_REMOVE_THUMBNAIL", entry);
            entry->m_bSelected = false;
            m_List.Refilter();
            priUpdateEnableEvents();
            priFire("ON_NEW_VISIBLE_LIST");
        }
        return;
    }
    entry = m_List.AddFile(m_pIpMgr, changed.m_usURL);
    if (entry && entry->m_bVisible) {
        entry->LoadPropsAndThumbnail(m_pIpMgr, m_nThumbSize, m_nThumbSize);
        priFire("ON_NEW_THUMBNAIL", entry);
        priReannounce();
        priUpdateEnableEvents();
        priFire("ON_NEW_VISIBLE_LIST");
    }
}

// ---- Reports ----

void FUiImageFileList::priMenuEvents()
{
    priFire(m_List.AllSelectedRawMarked() ? "ON_SET_MENU_UNMARK" : "ON_SET_MENU_MARK");
    priFire(m_List.AllSelectedLocked() ? "ON_SET_MENU_UNLOCK" : "ON_SET_MENU_LOCK");
}

void FUiImageFileList::priFireShowFilter()
{
    int shown = m_List.m_nFilterMethod + (m_List.m_bRawOnly ? 5 : 0);
    priFire("ON_SHOW_FILTER", &shown);
}

void FUiImageFileList::priUpdateEnableEvents()
{
    priFireBool("ON_IMAGES_ARE_PRESENT", m_List.GetCount() > 0);
    priFireBool("ON_BRISAL_IMAGES_ARE_SELECTED", m_List.AnyMatching(0x0005));
    const int selected = m_List.m_aCounts[kCountSelected].m_nCount;
    priFire(selected == 0   ? "ON_NO_IMAGES_SELECTED"
            : selected == 1 ? "ON_ONE_IMAGE_SELECTED"
                            : "ON_MULTI_IMAGES_SELECTED");
    priFireBool("ON_IMAGES_ARE_LOCKED", m_List.AnyMatching(0x0400));
    priFireBool("ON_IMAGES_ARE_MARKED", m_List.AnyMatching(0x0100));
    priFireBool("ON_VISIBLE_IMAGES", m_List.AnyMatching(0x1000));
    const bool anySelected = m_List.AnyMatching(0x0001);
    priFireBool("ON_IMAGES_ARE_SELECTED", anySelected);
    priFireBool("ON_NO_IMAGES_ARE_SELECTED", !anySelected);
    priFireBool("ON_UNLOCKED_IMAGES_ARE_SELECTED", m_List.AnyMatching(0x0801));
    priFireBool("ON_BRISAL_IMAGES_ARE_PRESENT", m_List.AnyMatching(0x0004));
    FWideString fileName;
    if (FIFolder* folder =
            m_usCurrentFolder.IsEmpty() ? nullptr : OpenFolderURL(m_usCurrentFolder, fileName, false)) {
        priFireBool("ON_DIRECTORY_READ_ONLY", !folder->IsReadOnly());
        folder->Release();
    }
    priUpdateFolderInfo();
    priUpdateSelectionInfo();
}

void FUiImageFileList::priUpdateFolderInfo()
{
    const ImageCount& all = m_List.m_aCounts[kCountAll];
    FWideString count;
    FWideString size;
    if (all.m_nCount != 0) {
        count.Format("%d", all.m_nCount);
        size = ByteSizeInParentheses(all.m_nBytes);
    }
    priFireText("ON_COMPUTER_DIR_IMAGE_COUNT", count);
    priFireText("ON_COMPUTER_DIR_STORAGE_USED", size);
    int kind = all.m_nCount == 0 ? 0 : all.m_nCount == 1 ? 1 : 2;
    priFire("ON_SET_COMPUTER_IMAGES_TEXT", &kind);
}

void FUiImageFileList::priUpdateSelectionInfo()
{
    const int n = m_List.GetSelectedCount();
    int mode = n == 0 ? 0 : n == 1 ? 1 : 2;
    FWideString info;
    FWideString number;
    FWideString size;
    if (n == 1) {
        if (const FImageFileListEntry* entry = m_List.FirstSelected())
            entry->GetInfoLine(info, priText(m_pFStopPrefix, "f/"), priText(m_pSecondsSuffix, "s"),
                               priText(m_pBulbText, "BULB"), priText(m_pSpacer, "  "));
        number = "1";
    } else if (n > 1) {
        number.Format("%d", n);
    }
    if (n > 0)
        size = ByteSizeInParentheses(m_List.m_aCounts[kCountSelected].m_nBytes);
    priFireText("ON_IMAGE_INFO", info);
    priFireText("ON_SET_IMAGE_INFO_NUM", number);
    priFire("ON_SEL_IMAGE_INFO", &mode);
    priFireText("ON_SET_IMAGE_INFO_SIZE", size);
}

// ---- Callbacks of the list ----

void FUiImageFileList::ThumbnailReady(void* context, FImageFileListEntry* entry)
{
    static_cast<FUiImageFileList*>(context)->priFire("ON_NEW_THUMBNAIL", entry);
}

void FUiImageFileList::ThumbnailReadyAfterRead(void* context, FImageFileListEntry* entry)
{
    auto* self = static_cast<FUiImageFileList*>(context);
    self->priFire("ON_NEW_THUMBNAIL", entry);
    self->priUpdateEnableEvents();
    self->priFire("ON_NEW_VISIBLE_LIST");
}

bool FUiImageFileList::ApproveRotate(void* context, FImageFileListEntry* entry)
{
    ImageChangeQuery query{entry->m_usURL, true};
    static_cast<FUiImageFileList*>(context)->priFire("ON_IS_ROTATE_ALLOWED", &query);
    return query.m_bAllowed;
}

bool FUiImageFileList::ApproveDelete(void* context, FImageFileListEntry* entry)
{
    auto* self = static_cast<FUiImageFileList*>(context);
    if (!ApproveRotate(context, entry))
        return false;
    FWideString url = entry->m_usURL;
    self->priFire("ON_DELETING_IMAGE", &url);
    self->priFire("ON_REMOVE_THUMBNAIL", entry);
    self->priFire("ON_NEW_VISIBLE_LIST");
    return true;
}

bool FUiImageFileList::AfterImageStep(void* context, FImageFileListEntry* entry)
{
    auto* self = static_cast<FUiImageFileList*>(context);
    self->priFire("ON_NEW_THUMBNAIL", entry);
    if (self->m_bUpdateImageEvents)
        self->priFire("ON_UPDATE_IMAGE", entry);
    self->priUpdateEnableEvents();
    self->priFire("ON_NEW_VISIBLE_LIST");
    return true;
}

bool FUiImageFileList::AfterDeleteStep(void* context, FImageFileListEntry*)
{
    auto* self = static_cast<FUiImageFileList*>(context);
    self->m_List.Refilter();
    self->priUpdateEnableEvents();
    self->priFire("ON_NEW_VISIBLE_LIST");
    return true;
}
