#include "FUiMainWindow.h"

#include <cstdint>
#include <exception>
#include <limits>
#include <memory>
#include <new>
#include <string>
#include <utility>
#include <vector>

#include "BrisalMain.h"
#include "FCache.h"
#include "FDebugTrace.h"
#include "FEngineAccess.h"
#include "FException.h"
#include "FGenericUiWindow.h"
#include "FIPManager.h"
#include "FIPManagerRequest.h"
#include "FIStorageClass.h"
#include "FIUiApp.h"
#include "FImageFileListEntry.h"
#include "FPropList.h"
#include "FUiDateText.h"
#include "FUiMultiLangString.h"
#include "FUiObjectFactory.h"
#include "LocalNumbers.h"
#include "StorageClassRegistry.h"

namespace
{

const char* const kEventNames[] = {
#define RB_MAIN_EVENT(name) #name,
#include "FUiMainWindowEvents.inc"
#undef RB_MAIN_EVENT
};

class FUiMainWindowCreator final : public FIUiObjectCreator
{
public:
    explicit FUiMainWindowCreator(FIPManager* manager) : m_pManager(manager) {}
    FIUiObject* CreateUiObject(const char* typeName) override
    {
        return new FUiMainWindow(typeName, m_pManager);
    }

private:
    FIPManager* m_pManager;
};

// "True" and "False"; another word keeps the current value.
bool ReadTrueFalse(const FWideString& word, bool current)
{
    if (word == "True")
        return true;
    if (word == "False")
        return false;
    return current;
}

// 1-based index of the word in the list, or `current` when it is not there.
int ReadChoice(const FWideString& word, const char* const* words, int count, int current)
{
    for (int i = 0; i < count; ++i)
        if (word == words[i])
            return i + 1;
    return current;
}

const char* const kFilterWords[] = {"ShowAll", "ShowMarked", "ShowUnmarked", "ShowLocked", "ShowUnlocked"};
const char* const kSortWords[] = {"Name", "Date", "Size", "Filetype", "Resolution"};

// The event of each filter and sort method, fired at start and on every change so that the
// menus tick the one in force.
const FUiMainWindow::Event kFilterEvents[] = {
    FUiMainWindow::ON_SET_FILTER_TO_ALL, FUiMainWindow::ON_SET_FILTER_TO_MARKED,
    FUiMainWindow::ON_SET_FILTER_TO_UNMARKED, FUiMainWindow::ON_SET_FILTER_TO_LOCKED,
    FUiMainWindow::ON_SET_FILTER_TO_UNLOCKED};
const FUiMainWindow::Event kSortEvents[] = {
    FUiMainWindow::ON_SET_SORT_BY_NAME, FUiMainWindow::ON_SET_SORT_BY_DATE,
    FUiMainWindow::ON_SET_SORT_BY_FILE_SIZE, FUiMainWindow::ON_SET_SORT_BY_FILE_TYPE,
    FUiMainWindow::ON_SET_SORT_BY_RES};

struct PanelFamily {
    const char* name; // the part between Show/Hide/Toggle and the end, and after Request
    bool FUiMainWindow::*flag;
};

int64_t SelectedBytes(FImageFileList& list)
{
    return list.m_aCounts[kCountSelected].m_nBytes;
}

} // namespace

bool RegisterMainWindowCreator(FIUiObjectFactory* factory, FIPManager* manager)
{
    if (!factory)
        return false;
    auto* creator = new FUiMainWindowCreator(manager);
    if (factory->Register("MAIN_WIN_MGR", creator))
        return true;
    delete creator;
    return false;
}

const char* FUiMainWindow::EventName(Event event)
{
    return event >= 0 && event < kEventCount ? kEventNames[event] : "";
}

FUiMainWindow::FUiMainWindow(const char* typeName, FIPManager* manager)
    : FUiObject(typeName), m_ImageFileList(manager ? manager : GetIPManagerPool())
{
    if (manager) {
        m_pIpMgr = manager;
    } else {
        m_pIpMgr = GetIPManagerPool();
        m_bHoldsPool = m_pIpMgr != nullptr;
    }
    for (int i = 0; i < kEventCount; ++i)
        m_apEvents[i] = AddEvent(FWideString(kEventNames[i]));
}

FUiMainWindow::~FUiMainWindow()
{
    m_ImageFileList.Clear();
    if (m_bLanguageListener && GetApp())
        GetApp()->RemoveLanguageListener(this);
    if (m_bHoldsPool)
        ReleaseIPManager(&m_pIpMgr);
}

bool FUiMainWindow::InitUiObject(FIUiApp* app, FIUiWindow* window, FIUiObject* parent, FPropList* tag)
{
    if (!InitNonVisualUiObject(this, app, window, parent, tag))
        return false;
    if (app) {
        FWideString language;
        m_bLanguageListener = app->AddLanguageListener(this, language);
    }
    priReadDisplayString(tag, "FStopPrefixString", m_pFStopPrefix);
    priReadDisplayString(tag, "SecondsSuffixString", m_pSecondsSuffix);
    priReadDisplayString(tag, "BulbModeFixString", m_pBulbText);
    priReadDisplayString(tag, "SpacerString", m_pSpacer);
    priReadDisplayString(tag, "ImageSingularString", m_pImageWord);
    priReadDisplayString(tag, "ImagePluralString", m_pImagesWord);
    priReadDisplayString(tag, "OnCameraString", m_pOnCameraWord);
    priReadDisplayString(tag, "ShownString", m_pShownWord);
    priReadDisplayString(tag, "SelectedString", m_pSelectedWord);
    priReadState();
    return true;
}

namespace
{

const char* const kPanelKeys[] = {"InfoWindowVisible",
                                  "AdjustmentPaletteVisible",
                                  "AdjustmentPaletteModeSectionVisible",
                                  "AdjustmentPaletteSlidersSectionVisible",
                                  "AdjustmentPaletteWheelSectionVisible",
                                  "AdjustmentPaletteHistogramSectionVisible"};

// Placeholder address of the raw format's help page; a state file may name another.
constexpr const char* kDefaultHelpURL = "https://example.invalid/q7f/help";

// The folder tree names a folder with a final "/", a path given on the command line without:
// one folder either way, read once.
bool SameFolder(const FWideString& a, const FWideString& b)
{
    auto length = [](const FWideString& url) {
        int n = url.GetLength();
        return n > 0 && url.GetBuffer()[n - 1] == u'/' ? n - 1 : n;
    };
    const int n = length(a);
    if (n != length(b))
        return false;
    // The range is inclusive: its last unit is at n - 1.
    const FWideString left(a.GetBuffer(), a.GetBuffer() + n - 1);
    const FWideString right(b.GetBuffer(), b.GetBuffer() + n - 1);
    return left.CompareNoCase(right.GetBuffer()) == 0;
}

// A stored method outside 1..5 (a hand-edited or damaged state file) gives the first.
int SaneMethod(int method)
{
    return method >= 1 && method <= 5 ? method : 1;
}

// The whole size: the storage registry's int helper stops near 2 GB, and a larger file
// would pass the free-space test of a smaller disk. A file that does not open counts as 0.
uint64_t FileSize(const FWideString& url)
{
    std::unique_ptr<FIFile, void (*)(FIFile*)> file(OpenFileURL(url, kFileRead), [](FIFile* f) {
        if (f)
            f->Release();
    });
    return file ? file->GetSize() : 0;
}

} // namespace

void FUiMainWindow::priReadState()
{
    FPropList* state = GetApp() ? GetApp()->GetPersistentData(m_usFullName) : nullptr;
    if (!state)
        return;
    GetApp()->SetHelpURL(state->GetString(FWideString("HelpURL"), FWideString(kDefaultHelpURL)));
    m_usStartURL = state->GetString(FWideString("DirectoryURL"), FWideString());
    m_ImageFileList.StoreSortMethod(SaneMethod(state->GetInt(FWideString("SortMethod"), 1)));
    m_ImageFileList.StoreReverseSort(state->GetBool(FWideString("ReverseSort"), false));
    m_ImageFileList.SetFilterMethod(SaneMethod(state->GetInt(FWideString("FilterMethod"), 1)));
    m_ImageFileList.SetBriOnly(state->GetBool(FWideString("BriOnly"), false));
    bool* flags[] = {&m_bInfoWindowVisible,     &m_bAdjustmentPaletteVisible, &m_bModeSectionVisible,
                     &m_bSlidersSectionVisible, &m_bWheelSectionVisible,      &m_bHistogramSectionVisible};
    for (int i = 0; i < 6; ++i)
        *flags[i] = state->GetBool(FWideString(kPanelKeys[i]), i >= 2);
}

void FUiMainWindow::priWriteState()
{
    FPropList* state = GetApp() ? GetApp()->GetPersistentData(m_usFullName) : nullptr;
    if (!state)
        return;
    state->SetInt(FWideString("SortMethod"), m_ImageFileList.m_nSortMethod);
    state->SetBool(FWideString("ReverseSort"), m_ImageFileList.m_bReverse);
    state->SetInt(FWideString("FilterMethod"), m_ImageFileList.m_nFilterMethod);
    state->SetBool(FWideString("BriOnly"), m_ImageFileList.m_bRawOnly);
    state->SetString(FWideString("DirectoryURL"), m_usDirectoryURL);
    const bool flags[] = {m_bInfoWindowVisible,     m_bAdjustmentPaletteVisible, m_bModeSectionVisible,
                          m_bSlidersSectionVisible, m_bWheelSectionVisible,      m_bHistogramSectionVisible};
    for (int i = 0; i < 6; ++i)
        state->SetBool(FWideString(kPanelKeys[i]), flags[i]);
}

void FUiMainWindow::priStartUp()
{
    // Again after a language change: the folder the user is in, not the one of the last run.
    FWideString folder = m_usDirectoryURL.IsEmpty() ? m_usStartURL : m_usDirectoryURL;
    FUiChildWindowQuery query;
    query.name = FWideString("InformationWin");
    priFire(ON_GET_INFO_WINDOW_PTR, &query);
    m_pInfoWinMgr = query.window ? query.window->GetUiRelay(FWideString("InformationWin.WinMgr")) : nullptr;
    priFireBool(ON_CAMERA_CONNECTED, m_bCameraConnected);
    bool argumentUsed = false;
    if (!g_usArg1.IsEmpty()) {
        const FWideString argument = g_usArg1;
        g_usArg1 = FWideString();
        // A path that names nothing the browser shows is said so; the stored folder shows.
        argumentUsed = priOpenPath(argument, false);
    }
    if (!argumentUsed) {
        priFireText(ON_SET_URL, folder);
        // Without a folder tree to bounce it back, the folder is shown directly.
        if (!m_bCameraMode && !folder.IsEmpty() && !SameFolder(folder, m_usDirectoryURL))
            priShowFolder(folder);
    }
    priFire(ON_QUERY_AUTO_LAUNCH_STATE, &m_bAutoLaunch);
    if (!argumentUsed && m_bCameraConnected && m_bCameraHasImages && !m_bCameraMode)
        priSelectCamera();
    if (SaneMethod(m_ImageFileList.m_nFilterMethod) != m_ImageFileList.m_nFilterMethod)
        m_ImageFileList.SetFilterMethod(1);
    priFire(kFilterEvents[m_ImageFileList.m_nFilterMethod - 1]);
    if (SaneMethod(m_ImageFileList.m_nSortMethod) != m_ImageFileList.m_nSortMethod)
        m_ImageFileList.StoreSortMethod(1);
    priFire(kSortEvents[m_ImageFileList.m_nSortMethod - 1]);
    if (m_ImageFileList.m_bReverse)
        priFire(ON_SET_REVERSE_ORDER);
    if (m_ImageFileList.m_bRawOnly)
        priFire(ON_SET_SHOW_BRI_ONLY);
    priFireInt(ON_SHOW_FILTER, m_ImageFileList.m_nFilterMethod + (m_ImageFileList.m_bRawOnly ? 5 : 0));
    priUpdateState();
}

bool FUiMainWindow::priOpenPath(const FWideString& nativePath, bool reviewAtOnce)
{
    FWideString url;
    bool isFolder = false;
    if (!NativePathToURL(nativePath, url) || !ExistsURL(url, isFolder)) {
        priFire(ON_SHOW_CANNOT_OPEN_PATH);
        return false;
    }
    std::vector<FWideString> parts;
    SplitURL(url, parts);
    if (isFolder) {
        priFireText(ON_SET_URL, url);
        priShowFolder(url);
        return true;
    }
    FWideString name;
    if (!parts.empty())
        UnescapeURLChars(parts.back(), name);
    const bool image = !parts.empty() && IsImageFileName(name);
    // Handed over while the user browses, another kind of file changes nothing; on the
    // command line it still opens its folder.
    if (!image && (reviewAtOnce || parts.empty())) {
        priFire(ON_SHOW_CANNOT_OPEN_PATH);
        return false;
    }
    parts.pop_back();
    // The folder as the folder tree names it, so that choosing it there reads nothing again.
    FWideString folder;
    JoinURL(parts, folder, false);
    priFireText(ON_SET_URL, folder);
    if (m_bCameraMode || !SameFolder(folder, m_usDirectoryURL)) {
        m_usDirectoryURL = folder;
        priShowComputerImages();
    }
    if (image)
        priSelectWhenRead(url, reviewAtOnce);
    return true;
}

void FUiMainWindow::priSelectWhenRead(const FWideString& url, bool reviewAtOnce)
{
    m_usPendingSelectURL = url;
    m_bReviewWhenRead = reviewAtOnce;
    if (!m_ImageFileList.IsReading())
        priSelectPending();
}

void FUiMainWindow::priSelectPending()
{
    if (m_usPendingSelectURL.IsEmpty())
        return;
    const FWideString url = m_usPendingSelectURL;
    m_usPendingSelectURL = FWideString();
    FImageFileListEntry* entry = m_ImageFileList.FindByURL(url);
    if (!entry)
        return;
    // The handed image alone is selected, so the information window shows it; the view's
    // cells are copies and are handed each changed entry.
    for (FImageFileListEntry* other = m_ImageFileList.m_pHead; other; other = other->m_pNext) {
        if (other->m_bSelected && other != entry) {
            other->m_bSelected = false;
            priFire(ON_NEW_THUMBNAIL, other);
        }
    }
    m_ImageFileList.SelectByURL(url, true);
    m_ImageFileList.Refilter();
    priFire(ON_NEW_THUMBNAIL, entry);
    priFire(ON_NEW_VISIBLE_LIST);
    priMenuState();
    priUpdateState();
    entry = m_ImageFileList.FindByURL(url);
    if (!entry)
        return;
    if (m_bReviewWhenRead) {
        priFire(ON_KICK_OFF_REVIEW);
        priFire(ON_REVIEW_IMAGES, entry);
    } else {
        m_usPendingReviewURL = url;
    }
}

void FUiMainWindow::priReadDisplayString(FPropList* tag, const char* key, FIUiMultiLangString*& target)
{
    target = nullptr;
    if (!tag || !GetApp())
        return;
    const FWideString name = tag->GetString(FWideString(key), FWideString());
    if (!name.IsEmpty())
        target = GetApp()->GetDisplayString(name);
}

bool FUiMainWindow::priFire(Event event, void* data)
{
    return m_apEvents[event] ? m_apEvents[event]->Fire(data) : true;
}

void FUiMainWindow::priFireBool(Event event, bool value)
{
    priFire(event, &value);
}

void FUiMainWindow::priFireText(Event event, const FWideString& text)
{
    FWideString copy = text;
    priFire(event, &copy);
}

void FUiMainWindow::priFireInt(Event event, int value)
{
    priFire(event, &value);
}

bool FUiMainWindow::UiRelayMessage(const FWideString& message, void* data)
{
    DebugTrace("FUiMainWindow::UiRelayMessage('%s')\n", message.GetNarrow());
    try {
        return priDispatch(message, data);
    } catch (const FException& e) {
        DebugTrace("FUiMainWindow::UiRelayMessage unhandled FException: %s (%s)\n", e.GetDescription(),
                   e.GetMessage());
        DebugTrace("Msg = %s\n", message.GetNarrow());
        throw;
    } catch (const std::bad_alloc&) {
        DebugTrace("FUiMainWindow::UiRelayMessage caught bad_alloc\n");
        DebugTrace("Msg = %s\n", message.GetNarrow());
        throw;
    } catch (const std::exception&) {
        DebugTrace("FUiMainWindow::UiRelayMessage caught std::exception\n");
        DebugTrace("Msg = %s\n", message.GetNarrow());
        throw;
    } catch (int code) {
        DebugTrace("FUiMainWindow::UiRelayMessage unhandled integer exception: %d\n", code);
        DebugTrace("Msg = %s\n", message.GetNarrow());
        throw;
    } catch (const char* text) {
        DebugTrace("FUiMainWindow::UiRelayMessage unhandled string exception: %s\n", text);
        DebugTrace("Msg = %s\n", message.GetNarrow());
        throw;
    } catch (...) {
        DebugTrace("FUiMainWindow::UiRelayMessage unknown unhandled exception\n");
        DebugTrace("Msg = %s\n", message.GetNarrow());
        throw;
    }
}

bool FUiMainWindow::priDispatch(const FWideString& message, void* data)
{
    if (message == "Post Creation Initialization") {
        if (GetApp()) {
            const FUiVersion version = GetApp()->GetVersion();
            FWideString text;
            text.Format("v%d.%d %s (%d)", version.major, version.minor, "Release", version.build);
            priFireText(ON_DISPLAY_VERSION, text);
        }
        priFire(ON_INIT);
        priStartUp();
        return true;
    }
    if (message == "LanguageChosen") {
        priStartUp();
        return true;
    }
    if (message == "we're goin' bye-bye") {
        if (m_bLanguageListener && GetApp())
            GetApp()->RemoveLanguageListener(this);
        m_bLanguageListener = false;
        priWriteState();
        return true;
    }
    if (message == "Set Language") {
        if (!data)
            return false;
        priUpdateImageInfo();
        return true;
    }
    if (message == "VolumesChanged")
        return priFire(ON_VOLUMES_CHANGED), true;
    if (message == "RefreshList") {
        if (m_bCameraMode)
            priSelectCamera();
        else
            priShowComputerImages();
        return true;
    }
    if (message == "DirSelected") {
        if (!data)
            return false;
        priShowFolder(*static_cast<FWideString*>(data));
        return true;
    }
    if (priCameraCommand(message, data) || priSettingsCommand(message, data) ||
        priSelectionCommand(message, data) || priBatchCommand(message, data))
        return true;
    if (message == "ReviewImages") {
        if (m_ImageFileList.AnyMatching(kMatchVisible)) {
            m_ImageFileList.Refilter();
            FImageFileListEntry* entry = m_ImageFileList.FirstSelected();
            if (!entry)
                entry = m_ImageFileList.FirstVisible();
            priFire(ON_REVIEW_IMAGES, entry);
        }
        return true;
    }
    if (message == "GetPrevVisibleImage" || message == "GetNextVisibleImage") {
        if (!data)
            return false;
        auto** entry = static_cast<FImageFileListEntry**>(data);
        if (*entry)
            *entry = message == "GetPrevVisibleImage" ? m_ImageFileList.GetPrevVisible(*entry)
                                                      : m_ImageFileList.GetNextVisible(*entry);
        return true;
    }
    if (message == "GetImageListPos") {
        if (!data)
            return false;
        auto* given = static_cast<FImageFileListEntry*>(data);
        FImageFileListEntry* own = m_ImageFileList.FindByURL(given->m_usURL);
        if (own && own->m_bVisible) {
            given->m_nVisibleIndex = own->m_nVisibleIndex;
            given->m_nVisibleCount = own->m_nVisibleCount;
        } else {
            given->m_nVisibleIndex = 0;
            given->m_nVisibleCount = 1;
        }
        return true;
    }
    if (message == "DeletingImage") {
        if (!data)
            return false;
        FImageFileListEntry* entry = m_ImageFileList.FindByURL(*static_cast<FWideString*>(data));
        if (entry) {
            priFire(ON_REMOVE_THUMBNAIL, entry);
            m_ImageFileList.Remove(entry);
            m_ImageFileList.Refilter();
            priUpdateState();
            priFire(ON_NEW_VISIBLE_LIST);
        }
        return true;
    }
    if (message == "UpdateImage") {
        if (!data)
            return false;
        priUpdateImage(static_cast<FImageFileListEntry*>(data));
        return true;
    }
    if (message == "FlushImageCache") {
        FCache* cache = GetGlobalCache();
        const auto limit = cache->GetSize();
        cache->SetSize(0);
        cache->SetSize(limit);
        return true;
    }
    if (message == "Reply2") {
        if (!data)
            return false;
        const FWideString name = *static_cast<FWideString*>(data);
        for (FImageFileListEntry* entry = m_ImageFileList.FirstSelectedRaw(); entry;
             entry = m_ImageFileList.FirstRawSelectedOf(entry))
            if (!priReply2(entry, name))
                return false;
        return true;
    }
    if (message == "WhiteBalanceChanged") {
        if (!data)
            return false;
        auto* entry = static_cast<FImageFileListEntry*>(data);
        return priReply2(entry, entry->m_usWhiteBalance);
    }
    if (message == "WhiteBalPressed") {
        if (m_ImageFileList.IsBatchRunning())
            return false;
        FImageFileListEntry* entry = m_ImageFileList.FirstSelectedRaw();
        if (!entry)
            return true;
        auto request = std::make_unique<FIPManagerRequest>();
        request->m_eKind = kReqIlluminants;
        request->m_usFileName = entry->m_usURL;
        if (RunEngineRequest(m_pIpMgr, *request) != kCompleted)
            return false;
        std::vector<FWideString> names;
        if (request->m_pImageProps) {
            for (FPropPair* pair = request->m_pImageProps->GetFirstProp(); pair; pair = pair->GetNext())
                names.push_back(pair->GetName());
            for (FPropList* item = request->m_pImageProps->GetFirstChild(); item; item = item->GetNext())
                names.push_back(item->GetName());
        }
        priFire(ON_SHOW_WHITEBAL_DLG);
        FWideString fileName =
            m_ImageFileList.FirstRawSelectedOf(entry) ? FWideString("> 1") : entry->m_usFileName;
        priFireText(ON_SET_WHITEBAL_FILENAME, fileName);
        priFire(ON_SET_WHITEBAL_REPLY, static_cast<FIUiRelay*>(this));
        priFire(ON_SET_WHITEBAL, &names);
        priFireText(ON_SET_WHITEBAL_NAME, entry->m_usWhiteBalance);
        return true;
    }
    if (message == "SetLang") {
        if (!data)
            return false;
        if (GetApp())
            GetApp()->SetLanguage(*static_cast<FWideString*>(data));
        return true;
    }
    if (message == "ChangeLangDialog") {
        static size_t s_nextLanguage = 0;
        if (!GetApp())
            return true;
        const std::vector<FWideString>& languages = GetApp()->GetLanguages();
        if (++s_nextLanguage >= languages.size())
            s_nextLanguage = 0;
        if (languages.empty())
            throw FArrayException("Index out of range.");
        GetApp()->SetLanguage(languages[s_nextLanguage]);
        return true;
    }
    if (message == "AutoLaunchWindow") {
        priFire(ON_QUERY_AUTO_LAUNCH_STATE, &m_bAutoLaunch);
        priFire(ON_SHOW_AUTO_LAUNCH);
        priFire(ON_SET_AUTO_LAUNCH_CHECK, &m_bAutoLaunch);
        return true;
    }
    if (message == "ToggleAutoLaunch") {
        m_bAutoLaunch = !m_bAutoLaunch;
        return true;
    }
    if (message == "UpdateAutoLaunchState") {
        priFire(ON_SET_AUTO_LAUNCH_STATE, &m_bAutoLaunch);
        return true;
    }
    if (message == "Download") {
        if (!m_bCameraMode) {
            if (m_bCardPresent) {
                if (!m_usDirectoryURL.IsEmpty())
                    priFireText(ON_DOWNLOAD_DST_DIR, m_usDirectoryURL);
                priFireText(ON_DOWNLOAD_NEW, priCameraFolder());
            }
        } else if (!m_ImageFileList.IsBatchRunning()) {
            // The dialog copies the list it is handed: it must be the whole card.
            priReadSlice(std::numeric_limits<double>::infinity());
            priFire(ON_DOWNLOAD, m_ImageFileList.m_pHead);
        }
        return true;
    }
    if (message == "DeleteAllCameraImages") {
        if (m_bCameraConnected) {
            priFire(ON_SHOW_DELETE_ALL_DIALOG);
            priFireText(ON_DELETE_ALL_CAMERA_IMAGES, priCameraFolder());
        }
        return true;
    }
    if (message == "OpenPath") {
        if (!data)
            return false;
        priOpenPath(*static_cast<FWideString*>(data), true);
        return true;
    }
    if (message == "CameraTime") {
        if (!data)
            return false;
        // The camera counts its clock in local time as if it were UTC: shown without a shift.
        const auto seconds = static_cast<uint32_t>(*static_cast<int*>(data));
        FWideString date, time;
        FormatDateString(date, seconds);
        FormatTimeString(time, seconds);
        date += "  ";
        date += time;
        priFireText(ON_CAMERA_CLOCK, date);
        return true;
    }
    if (message == "TalvoWWW" || message == "OnlineSupportWWW" || message == "Q7FWWW") {
        const char* file = message == "TalvoWWW" ? "talvo.url"
                           : message == "Q7FWWW" ? "q7f.url"
                                                 : "corvanta.url";
        FIUiMultiLangString* link = GetApp() ? GetApp()->GetDisplayString(message) : nullptr;
        if (!link || !link->GetText())
            return true;
        std::string text = "[InternetShortcut]\nURL=";
        const FWideString& address = *link->GetText();
        for (int i = 0; i < address.GetLength(); ++i) {
            const char16_t unit = address.GetBuffer()[i];
            text += unit > 126 ? '?' : char(unit);
        }
        text += "\n";
        try {
            FWideString url = GetSpecialPathURL(2);
            url += file;
            bool isFolder = false;
            if (ExistsURL(url, isFolder)) {
                FFileInfo info;
                GetFileInfoURL(url, info);
                info.m_iFlags &= ~kFileAttrReadOnly;
                SetFileAttributesURL(url, info);
            }
            FIFile* shortcut = OpenFileURL(url, 2);
            if (!shortcut) {
                DebugTrace("Could not launch %s\n", text.c_str());
                return true;
            }
            shortcut->Write(text.data(), int(text.size()));
            shortcut->Release();
            LaunchFileURL(url, nullptr);
        } catch (...) {
            DebugTrace("Could not launch %s\n", text.c_str());
        }
        return true;
    }
    if (message == "UserGuide") {
        FIUiMultiLangString* guide =
            GetApp() ? GetApp()->GetDisplayString(FWideString("UserGuidePDF")) : nullptr;
        const FWideString name =
            guide && guide->GetText() ? *guide->GetText() : FWideString("User Manual.pdf");
        // Beside the program's script, where the install and the build put the guide.
        const FWideString programFolder = GetApp() ? GetApp()->GetExecutableFolderURL() : FWideString();
        std::vector<FWideString> parts;
        SplitURL(programFolder.IsEmpty() ? GetSpecialPathURL(0) : programFolder, parts);
        FWideString escaped;
        EscapeURLChars(name, escaped);
        parts.push_back(escaped);
        FWideString url;
        JoinURL(parts, url, false);
        try {
            LaunchFileURL(url, nullptr);
        } catch (const FExceptionLaunchFailed& e) {
            priFire(ON_SHOW_NO_ACROBAT);
            DebugTrace("Launch failed opening %s, (%s)\n", name.GetNarrow(), e.GetMessage());
        } catch (const FExceptionFileNotFound& e) {
            priFire(ON_SHOW_NO_USERMANUAL);
            DebugTrace("%s not found, (%s)\n", name.GetNarrow(), e.GetMessage());
        } catch (...) {
            priFire(ON_SHOW_NO_ACROBAT);
            DebugTrace("Couldn't open %s\n", name.GetNarrow());
        }
        return true;
    }
    if (message == "CopyFile") {
        if (!data)
            return false;
        const auto& pair = *static_cast<std::vector<FWideString>*>(data);
        if (pair.size() < 2)
            throw FArrayException("Index out of range.");
        priCopyFile(pair[0], pair[1]);
        return true;
    }
    if (message == "SelectLanguage")
        return priFire(ON_LANG_DIALOG), true;
    return priPanelCommand(message);
}

void FUiMainWindow::priShowFolder(const FWideString& url)
{
    if (url.IsEmpty() || (!m_bCameraMode && SameFolder(url, m_usDirectoryURL)))
        return;
    m_bCameraMode = false;
    priFireBool(ON_CAMERA_SELECTED, false);
    priFire(ON_DESELECTED_CAMERA);
    priFire(ON_DISPLAY_COMPUTER_IMAGES);
    m_usDirectoryURL = url;
    priFireText(ON_DOWNLOAD_DST_DIR, m_usDirectoryURL);
    m_ImageFileList.Clear();
    priFillList();
    priUpdateImageInfo();
    priUpdateState();
    priFire(ON_NEW_VISIBLE_LIST);
}

FWideString FUiMainWindow::priCameraFolder() const
{
    FWideString folder = m_usCameraURL;
    folder += "/cf/images";
    return folder;
}

void FUiMainWindow::priShowComputerImages()
{
    m_ImageFileList.Clear();
    m_bCameraMode = false;
    priFireBool(ON_CAMERA_SELECTED, false);
    priFire(ON_DESELECTED_CAMERA);
    priFillList();
    priFireText(ON_SET_URL, m_usDirectoryURL);
    priUpdateImageInfo();
    priUpdateState();
    priFire(ON_NEW_VISIBLE_LIST);
    priFire(ON_DISPLAY_COMPUTER_IMAGES);
}

void FUiMainWindow::priSelectCamera()
{
    if (!m_bCameraConnected || !m_bCardPresent || !m_bCameraHasImages)
        return;
    m_bCameraMode = true;
    priFireBool(ON_CAMERA_SELECTED, true);
    priFire(ON_SELECTED_CAMERA);
    m_ImageFileList.Clear();
    priFillList();
    priFire(ON_DISPLAY_CAMERA_IMAGES);
    priFire(ON_NEW_VISIBLE_LIST);
}

void FUiMainWindow::priCheckCameraImages()
{
    int count = 0;
    int64_t bytes = 0;
    m_bCameraHasImages = CountImageFilesInFolder(priCameraFolder(), &count, &bytes) && count != 0;
}

bool FUiMainWindow::priCameraCommand(const FWideString& message, void* data)
{
    if (message == "SelectCamera") {
        if (!m_bCameraMode)
            priSelectCamera();
        return true;
    }
    if (message == "SelectComputer") {
        if (m_bCameraMode)
            priShowComputerImages();
        return true;
    }
    if (message == "CameraConnected") {
        if (data) {
            m_usCameraURL = *static_cast<FWideString*>(data);
            m_bCameraConnected = true;
            priFireBool(ON_CAMERA_CONNECTED, true);
        } else {
            m_usCameraURL = FWideString();
            m_bCameraConnected = false;
            priFireText(ON_CAMERA_IMAGE_COUNT, m_usCameraURL);
            m_bCameraHasImages = false;
            priFireBool(ON_CAMERA_CONNECTED, false);
        }
        priUpdateState();
        return true;
    }
    if (message == "CFCardPresent") {
        if (data) {
            m_bCardPresent = true;
            FWideString capacity;
            capacity.SetByteSize(int64_t(*static_cast<int*>(data)) * 1024);
            priFireText(ON_CFCARD_CAPACITY, capacity);
            priFireInt(ON_CFCARD_INSTALLED, 1);
        } else {
            m_bCardPresent = false;
            const FWideString empty;
            priFireText(ON_CAMERA_STORAGE_USED, empty);
            priFireText(ON_CAMERA_IMAGE_COUNT, empty);
            priFireText(ON_CFCARD_CAPACITY, empty);
            priFireInt(ON_CFCARD_INSTALLED, 0);
            m_bCameraHasImages = false;
            priShowComputerImages();
        }
        priUpdateState();
        return true;
    }
    if (message == "CameraStorageChange") {
        if (!data)
            return false;
        const unsigned used = *static_cast<unsigned*>(data);
        FWideString usedText;
        if (m_bCardPresent) {
            priCheckCameraImages();
            usedText.SetByteSize(int64_t(used) * 1024);
        }
        priFireText(ON_CFCARD_USED, usedText);
        if (m_bCameraMode) {
            if (used > m_uLastCardUsed) {
                m_ImageFileList.Clear();
                priFillList();
            }
            if (!m_bCameraHasImages)
                priShowComputerImages();
        }
        m_uLastCardUsed = used;
        priUpdateState();
        return true;
    }
    return false;
}

void FUiMainWindow::priFillList()
{
    const FWideString folder = m_bCameraMode ? priCameraFolder() : m_usDirectoryURL;
    // A folder that cannot be read leaves the list empty; the counts say so.
    m_ImageFileList.BeginRead(m_pIpMgr, folder);
    m_usReadOnlyTestedURL = FWideString();
    if (m_ImageFileList.ContinueRead(m_dReadBudget)) {
        priListRead();
        return;
    }
    // A large folder is read on the ticks; meanwhile the view shows the empty list, never
    // the entries that Clear deleted.
    priUpdateFolderTexts();
    priFire(ON_NEW_THUMBNAIL_LIST, &m_ImageFileList);
}

bool FUiMainWindow::priReadSlice(double budgetSeconds)
{
    if (!m_ImageFileList.IsReading())
        return false;
    if (m_ImageFileList.ContinueRead(budgetSeconds)) {
        priListRead();
        priUpdateImageInfo();
        priUpdateState();
        priFire(ON_NEW_VISIBLE_LIST);
        priSelectPending();
    }
    return true;
}

void FUiMainWindow::priListRead()
{
    priUpdateFolderTexts();
    priFire(ON_NEW_THUMBNAIL_LIST, &m_ImageFileList);
    priRequestThumbnails(true);
}

void FUiMainWindow::priRequestThumbnails(bool afterRead)
{
    m_ImageFileList.CancelPending();
    // Before the view told its size there is nothing sensible to ask for; the size
    // command asks when it comes.
    if (m_nThumbnailSize < 1)
        return;
    m_ImageFileList.RequestThumbnails(m_nThumbnailSize, m_nThumbnailSize, this,
                                      afterRead ? priThumbnailAfterRead : priThumbnailArrived);
}

void FUiMainWindow::priThumbnailArrived(void* context, FImageFileListEntry* entry)
{
    static_cast<FUiMainWindow*>(context)->priFire(ON_NEW_THUMBNAIL, entry);
}

void FUiMainWindow::priThumbnailAfterRead(void* context, FImageFileListEntry* entry)
{
    auto* self = static_cast<FUiMainWindow*>(context);
    self->priFire(ON_NEW_THUMBNAIL, entry);
    self->priUpdateState();
    self->priFire(ON_NEW_VISIBLE_LIST);
}

void FUiMainWindow::priUpdateState()
{
    FImageFileList& list = m_ImageFileList;
    priFireBool(ON_IMAGES_ARE_PRESENT, list.m_pHead != nullptr);
    priFireBool(ON_BRISAL_IMAGES_ARE_SELECTED, list.AnyMatching(kMatchSelected | kMatchRaw));
    const int selected = list.GetSelectedCount();
    if (selected == 0) {
        priFire(ON_NO_IMAGES_SELECTED);
    } else if (selected == 1) {
        priFire(ON_ONE_IMAGE_SELECTED);
        FImageFileListEntry* first = list.FirstSelected();
        if (first && m_pInfoWinMgr)
            m_pInfoWinMgr->UiRelayMessage(FWideString("ShowImageInfo"), first);
    } else {
        priFire(ON_MULTI_IMAGES_SELECTED);
    }
    priFireBool(ON_IMAGES_ARE_LOCKED, list.AnyMatching(kMatchLocked));
    priFireBool(ON_IMAGES_ARE_MARKED, list.AnyMatching(kMatchMarked));
    priFireBool(ON_VISIBLE_IMAGES, list.AnyMatching(kMatchVisible));
    const bool anySelected = list.AnyMatching(kMatchSelected);
    priFireBool(ON_IMAGES_ARE_SELECTED, anySelected);
    priFireBool(ON_NO_IMAGES_ARE_SELECTED, !anySelected);
    priFireBool(ON_UNLOCKED_IMAGES_ARE_SELECTED, list.AnyMatching(kMatchSelected | kMatchNotLocked));
    priFireBool(ON_BRISAL_CAMERA_IMAGES_ARE_PRESENT, list.AnyMatching(kMatchRaw | kMatchCamera));
    priFireBool(ON_BRISAL_IMAGES_ARE_PRESENT, list.AnyMatching(kMatchRaw));
    priFireBool(ON_CAMERA_WITH_IMAGES, m_bCameraConnected && m_bCameraHasImages);
    if (!m_bCameraMode && !m_usDirectoryURL.IsEmpty()) {
        if (m_usReadOnlyTestedURL != m_usDirectoryURL) {
            m_usReadOnlyTestedURL = m_usDirectoryURL;
            FWideString fileName;
            FIFolder* folder = OpenFolderURL(m_usDirectoryURL, fileName, false);
            m_bDirReadOnly = folder && folder->IsReadOnly();
            if (folder)
                folder->Release();
        }
        if (m_bDirReadOnly)
            priFireBool(ON_DIRECTORY_READ_ONLY, false);
    }
    priUpdateFolderTexts();
    priUpdateImageInfo();
}

void FUiMainWindow::priUpdateFolderTexts()
{
    const ImageCount& all = m_ImageFileList.m_aCounts[kCountAll];
    FWideString count;
    FWideString size;
    if (all.m_nCount > 0) {
        count.Format("%d", all.m_nCount);
        FWideString bytes;
        bytes.SetByteSize(all.m_nBytes);
        size = "(";
        size += bytes;
        size += ")";
    }
    const int kind = all.m_nCount == 0 ? 0 : (all.m_nCount == 1 ? 1 : 2);
    const FWideString blank(" ");
    if (!m_bCameraMode) {
        priFireText(ON_COMPUTER_DIR_IMAGE_COUNT, count);
        priFireText(ON_COMPUTER_DIR_STORAGE_USED, size);
        priFireInt(ON_SET_COMPUTER_IMAGES_TEXT, kind);
        priFireInt(ON_SET_CAMERA_IMAGES_TEXT, 0);
        priFireText(ON_CAMERA_IMAGE_COUNT, blank);
        priFireText(ON_CAMERA_STORAGE_USED, blank);
    } else {
        priFireInt(ON_SET_CAMERA_IMAGES_TEXT, kind);
        priFireText(ON_CAMERA_IMAGE_COUNT, count);
        priFireText(ON_CAMERA_STORAGE_USED, size);
        priFireText(ON_COMPUTER_DIR_IMAGE_COUNT, blank);
        priFireText(ON_COMPUTER_DIR_STORAGE_USED, blank);
        priFireInt(ON_SET_COMPUTER_IMAGES_TEXT, 0);
    }
    priStatusTexts();
}

void FUiMainWindow::priPiece(FIUiMultiLangString* string, const char* fallback, FWideString& out) const
{
    out = FWideString(fallback);
    if (string && string->GetText())
        out = *string->GetText();
}

void FUiMainWindow::priUpdateImageInfo()
{
    FWideString line;
    FWideString number;
    FWideString size;
    int kind = 0;
    const int selected = m_ImageFileList.GetSelectedCount();
    if (selected >= 1) {
        FWideString bytes;
        bytes.SetByteSize(SelectedBytes(m_ImageFileList));
        size = "(";
        size += bytes;
        size += ")";
    }
    if (selected == 1) {
        kind = 1;
        FWideString fstop, seconds, bulb, spacer;
        priPiece(m_pFStopPrefix, "f/", fstop);
        priPiece(m_pSecondsSuffix, "s", seconds);
        priPiece(m_pBulbText, "BULB", bulb);
        priPiece(m_pSpacer, "  ", spacer);
        if (FImageFileListEntry* first = m_ImageFileList.FirstSelected())
            first->GetInfoLine(line, fstop, seconds, bulb, spacer);
        number = "1";
    } else if (selected > 1) {
        kind = 2;
        number.Format("%d", selected);
    }
    UseLocalDecimalMark(GetApp(), line);
    UseLocalDecimalMark(GetApp(), size);
    priFireText(ON_IMAGE_INFO, line);
    priFireText(ON_SET_IMAGE_INFO_NUM, number);
    priFireInt(ON_SEL_IMAGE_INFO, kind);
    priFireText(ON_SET_IMAGE_INFO_SIZE, size);
    priStatusTexts();
}

FWideString FUiMainWindow::priWord(FIUiMultiLangString* string, const char* fallback) const
{
    FWideString word;
    priPiece(string, fallback, word);
    return word;
}

// "40 images (120 MB), 12 shown" and "3 selected (30 MB)": the shown list and the
// selection with their words, in the current language.
void FUiMainWindow::priStatusTexts()
{
    const ImageCount& all = m_ImageFileList.m_aCounts[kCountAll];
    const ImageCount& visible = m_ImageFileList.m_aCounts[kCountVisible];
    const ImageCount& selected = m_ImageFileList.m_aCounts[kCountSelected];
    FWideString images;
    if (all.m_nCount > 0) {
        images.Format("%d ", all.m_nCount);
        images += all.m_nCount == 1 ? priWord(m_pImageWord, "image") : priWord(m_pImagesWord, "images");
        if (m_bCameraMode) {
            images += " ";
            images += priWord(m_pOnCameraWord, "on the camera");
        }
        images += " ";
        images += ByteSizeInParentheses(all.m_nBytes);
        if (visible.m_nCount != all.m_nCount) {
            FWideString shown;
            shown.Format(", %d ", visible.m_nCount);
            images += shown;
            images += priWord(m_pShownWord, "shown");
        }
    }
    FWideString selection;
    if (selected.m_nCount > 0) {
        selection.Format("%d ", selected.m_nCount);
        selection += priWord(m_pSelectedWord, "selected");
        selection += " ";
        selection += ByteSizeInParentheses(selected.m_nBytes);
    }
    UseLocalDecimalMark(GetApp(), images);
    UseLocalDecimalMark(GetApp(), selection);
    priFireText(ON_STATUS_IMAGES, images);
    priFireText(ON_STATUS_SELECTION, selection);
}

void FUiMainWindow::priMenuState()
{
    priFire(m_ImageFileList.AllSelectedRawMarked() ? ON_SET_MENU_UNMARK : ON_SET_MENU_MARK);
    priFire(m_ImageFileList.AllSelectedLocked() ? ON_SET_MENU_UNLOCK : ON_SET_MENU_LOCK);
}

bool FUiMainWindow::priSelectionCommand(const FWideString& message, void* data)
{
    const bool one =
        message == "SelectImage" || message == "DeselectImage" || message == "DeselectImageNoUpdate";
    const bool many = message == "SelectImageList" || message == "DeselectImageList";
    if (!one && !many)
        return false;
    if (!data)
        return false;
    const bool select = message == "SelectImage" || message == "SelectImageList";
    if (one) {
        const FWideString& url = *static_cast<FWideString*>(data);
        const bool found = m_ImageFileList.SelectByURL(url, select);
        if (!select && found)
            priFireText(ON_DESELECT_IMAGE, url);
    } else {
        for (const FWideString& url : *static_cast<std::vector<FWideString>*>(data))
            m_ImageFileList.SelectByURL(url, select);
    }
    m_ImageFileList.Refilter();
    priMenuState();
    if (!(message == "DeselectImageNoUpdate"))
        priUpdateState();
    return true;
}

bool FUiMainWindow::priSettingsCommand(const FWideString& message, void* data)
{
    FImageFileList& list = m_ImageFileList;
    if (message == "Filter") {
        if (!data)
            return false;
        const int method =
            ReadChoice(*static_cast<FWideString*>(data), kFilterWords, 5, list.m_nFilterMethod);
        if (method == list.m_nFilterMethod)
            return true;
        list.SetFilterMethod(method);
        list.DeselectHidden();
        priFire(kFilterEvents[method - 1]);
        priFireInt(ON_SHOW_FILTER, method + (list.m_bRawOnly ? 5 : 0));
        priRefreshVisible();
        priRequestThumbnails(false);
        return true;
    }
    if (message == "Sort") {
        if (!data)
            return false;
        const int method = ReadChoice(*static_cast<FWideString*>(data), kSortWords, 5, list.m_nSortMethod);
        if (method == list.m_nSortMethod)
            return true;
        list.SetSortMethod(method);
        priFire(kSortEvents[method - 1]);
        priRefreshVisible();
        return true;
    }
    if (message == "ReverseState") {
        if (!data)
            return false;
        const bool reverse = ReadTrueFalse(*static_cast<FWideString*>(data), list.m_bReverse);
        if (reverse == list.m_bReverse)
            return true;
        list.SetReverseSort(reverse);
        priRefreshVisible();
        return true;
    }
    if (message == "ShowBriOnly") {
        if (!data)
            return false;
        const bool rawOnly = ReadTrueFalse(*static_cast<FWideString*>(data), list.m_bRawOnly);
        if (rawOnly == list.m_bRawOnly)
            return true;
        list.SetBriOnly(rawOnly);
        list.DeselectHidden();
        priFire(ON_REMOVE_ALL_THUMBNAILS);
        if (list.IsBatchRunning()) {
            list.Clear();
            priFillList();
        }
        m_bUpdateImages = false;
        list.ForEachVisible(this, priVisibleRefreshOne);
        priFireInt(ON_SHOW_FILTER, list.m_nFilterMethod + (rawOnly ? 5 : 0));
        priUpdateState();
        priFire(ON_NEW_VISIBLE_LIST);
        priRequestThumbnails(false);
        return true;
    }
    if (message == "ThumbnailSize") {
        if (!data)
            return false;
        m_nThumbnailSize = *static_cast<int*>(data);
        list.ReleaseThumbnails();
        priRequestThumbnails(false);
        return true;
    }
    return false;
}

void FUiMainWindow::priRefreshVisible()
{
    priFire(ON_REMOVE_ALL_THUMBNAILS);
    m_bUpdateImages = false;
    m_ImageFileList.ForEachVisible(this, priVisibleRefreshOne);
    priUpdateState();
    priFire(ON_NEW_VISIBLE_LIST);
}

bool FUiMainWindow::priPerImageRefresh(void* context, FImageFileListEntry* entry)
{
    auto* self = static_cast<FUiMainWindow*>(context);
    if (entry) {
        self->priFire(ON_NEW_THUMBNAIL, entry);
        if (self->m_bUpdateImages)
            self->priFire(ON_UPDATE_IMAGE, entry);
    }
    self->priUpdateState();
    self->priFire(ON_NEW_VISIBLE_LIST);
    return true;
}

void FUiMainWindow::priVisibleRefreshOne(void* context, FImageFileListEntry* entry)
{
    priPerImageRefresh(context, entry);
}

bool FUiMainWindow::priRotateAllowed(void* context, FImageFileListEntry* entry)
{
    ImageChangeQuery query;
    query.m_usURL = entry->m_usURL;
    static_cast<FUiMainWindow*>(context)->priFire(ON_IS_ROTATE_ALLOWED, &query);
    return query.m_bAllowed;
}

bool FUiMainWindow::priDeletedFile(void* context, FImageFileListEntry* entry)
{
    auto* self = static_cast<FUiMainWindow*>(context);
    if (!priRotateAllowed(context, entry))
        return false;
    FWideString url = entry->m_usURL;
    self->priFire(ON_DELETING_IMAGE, &url);
    self->priFire(ON_REMOVE_THUMBNAIL, entry);
    return true;
}

bool FUiMainWindow::priAfterDelete(void* context, FImageFileListEntry*)
{
    auto* self = static_cast<FUiMainWindow*>(context);
    self->m_ImageFileList.Refilter();
    self->priUpdateState();
    self->priFire(ON_NEW_VISIBLE_LIST);
    return true;
}

void FUiMainWindow::priCopyFile(const FWideString& source, const FWideString& destination)
{
    DebugTrace("Copy File '%s' to '%s'.\n", source.GetNarrow(), destination.GetNarrow());
    FWideString ignored;
    FIFolder* folder = OpenFolderURL(destination, ignored, false);
    if (!folder) {
        priFire(ON_SHOW_INVALID);
        return;
    }
    int flags = 0;
    folder->GetAttributes(flags);
    std::vector<FWideString> parts, sourceParts;
    SplitURL(destination, parts);
    SplitURL(source, sourceParts);
    FWideString target;
    if (!sourceParts.empty())
        parts.push_back(sourceParts.back());
    JoinURL(parts, target, false);
    FWideString name;
    UnescapeURLChars(sourceParts.empty() ? FWideString() : sourceParts.back(), name);
    bool writable = true;
    bool isFolder = false;
    if (!ExistsURL(target, isFolder)) {
        FIFile* probe = folder->OpenFile(name, 2);
        writable = probe != nullptr;
        if (probe) {
            probe->Release();
            folder->DeleteFile(name);
        }
    } else {
        writable = !folder->IsReadOnly();
    }
    if (!writable || (flags & kFileAttrReadOnly)) {
        priFire(ON_SHOW_INVALID);
    } else {
        const int64_t free = folder->GetFreeSpace();
        if (free < 0 || FileSize(source) >= uint64_t(free)) {
            priFire(ON_SHOW_INSUFFICIENT);
        } else {
            m_CopyReq.m_usFileURL = source;
            m_CopyReq.m_usDstURL = target;
            m_CopyReq.m_bDeleteSrc = false;
            if (source.CompareNoCase(target.GetBuffer()) != 0) {
                priFire(ON_START_COPY_BATCH);
                priFire(ON_COPY_REQUEST, &m_CopyReq);
            }
        }
    }
    folder->Release();
}

bool FUiMainWindow::priReply2(FImageFileListEntry* entry, const FWideString& name)
{
    try {
        auto request = std::make_unique<FIPManagerRequest>();
        request->m_eKind = kReqModify;
        request->m_usFileName = entry->m_usURL;
        FWideString value = name;
        if (name == "Original") {
            // A file without a recorded original has a blank one; writing that blank into
            // the header would lose the setting, so it falls back to automatic.
            value = entry->m_usOrigWhiteBalance;
            bool blank = true;
            for (int i = 0; i < value.GetLength(); ++i)
                blank = blank && value.GetBuffer()[i] == u' ';
            if (blank)
                value = FWideString("Auto");
        }
        if (!request->m_pImageProps)
            request->m_pImageProps = new FPropList(nullptr, "ImageProps");
        request->m_pImageProps->AddProp(FWideString("WB_DESC"), value);
        // The file is unlocked for the write only; its lock comes back whatever happens.
        const bool wasLocked = entry->m_bLocked;
        if (wasLocked)
            entry->SetLock(false);
        const int state = RunEngineRequest(m_pIpMgr, *request);
        if (state == kError && request)
            DebugTrace("FUiMainWindow::UiRelayMessage(Msg == \"Reply2\") IPManager returned %d (%s)\n",
                       request->m_Async.m_iErrorCode.load(), "");
        if (wasLocked)
            entry->SetLock(true);
        entry->GetProps(m_pIpMgr);
        priFire(ON_UPDATE_IMAGE, entry);
        priFire(ON_UPDATE_IMAGE_INFO, entry);
        return state == kCompleted;
    } catch (...) {
        DebugTrace("FUiMainWindow::UiRelayMessage(Msg == \"Reply2\") unknown exception after call to "
                   "m_pIpMgr->Request\n");
        return false;
    }
}

bool FUiMainWindow::priBatchCommand(const FWideString& message, void* data)
{
    FImageFileList& list = m_ImageFileList;
    const bool rotate = message == "RotateCW" || message == "RotateCCW";
    const bool batch = rotate || message == "Mark" || message == "Lock" || message == "ProcAndSave";
    if (batch && list.IsBatchRunning())
        return true;
    if (rotate) {
        m_bUpdateImages = true;
        list.RotateSelected(m_pIpMgr, message == "RotateCW", this, priRotateAllowed, this,
                            priPerImageRefresh);
        return true;
    }
    if (message == "Mark") {
        const bool mark = !list.AllSelectedRawMarked();
        m_bUpdateImages = true;
        list.MarkSelected(m_pIpMgr, mark, this, priPerImageRefresh);
        priFire(mark ? ON_SET_MENU_UNMARK : ON_SET_MENU_MARK);
        return true;
    }
    if (message == "Lock") {
        const bool lock = !list.AllSelectedLocked();
        m_bUpdateImages = true;
        list.LockSelected(lock, this, priPerImageRefresh);
        priFire(lock ? ON_SET_MENU_UNLOCK : ON_SET_MENU_LOCK);
        return true;
    }
    if (message == "ProcAndSave") {
        priFire(ON_PROC_AND_SAVE, list.m_pHead);
        return true;
    }
    if (message == "DeletePressed") {
        if (list.IsBatchRunning())
            return true;
        priFire(ON_SET_REPLY, static_cast<FIUiRelay*>(this));
        int text = 0;
        if (list.GetSelectedCount() != 1)
            text = list.AnyMatching(kMatchSelected | kMatchLocked) ? 2 : 1;
        priFireInt(ON_SET_DELETE_TEXT, text);
        return true;
    }
    if (message == "Reply") {
        if (!data)
            return false;
        if (*static_cast<FWideString*>(data) == "Delete" && !list.IsBatchRunning())
            list.DeleteSelected(this, priDeletedFile, this, priAfterDelete);
        return true;
    }
    return false;
}

void FUiMainWindow::priUpdateImage(FImageFileListEntry* given)
{
    FImageFileList& list = m_ImageFileList;
    // The list keeps URLs escaped, so the lookup uses the URL as stored: undoing the
    // escapes would miss names with '%', '#' or quotes and add a twin entry.
    FImageFileListEntry* entry = list.FindByURL(given->m_usURL);
    if (entry) {
        entry->LoadPropsAndThumbnail(m_pIpMgr, m_nThumbnailSize, m_nThumbnailSize);
        list.Refilter();
        priUpdateState();
        if (entry->m_bVisible) {
            priFire(ON_NEW_THUMBNAIL, entry);
        } else {
            priFire(ON_REMOVE_THUMBNAIL, entry);
            entry->m_bSelected = false;
            list.Refilter();
            priUpdateState();
        }
        priFire(ON_NEW_VISIBLE_LIST);
        return;
    }
    FImageFileListEntry* added = list.AddFile(m_pIpMgr, given->m_usURL);
    if (added && added->m_bVisible) {
        added->LoadPropsAndThumbnail(m_pIpMgr, m_nThumbnailSize, m_nThumbnailSize);
        priFire(ON_NEW_THUMBNAIL, added);
        m_bUpdateImages = false;
        list.ForEachVisible(this, priVisibleRefreshOne);
        priUpdateState();
        priFire(ON_NEW_VISIBLE_LIST);
    }
}

bool FUiMainWindow::priPanelCommand(const FWideString& message)
{
    static const PanelFamily kFamilies[] = {
        {"InfoWindow", &FUiMainWindow::m_bInfoWindowVisible},
        {"AdjustmentPalette", &FUiMainWindow::m_bAdjustmentPaletteVisible},
        {"AdjustmentPaletteModeSection", &FUiMainWindow::m_bModeSectionVisible},
        {"AdjustmentPaletteSlidersSection", &FUiMainWindow::m_bSlidersSectionVisible},
        {"AdjustmentPaletteWheelSection", &FUiMainWindow::m_bWheelSectionVisible},
        {"AdjustmentPaletteHistogramSection", &FUiMainWindow::m_bHistogramSectionVisible},
    };
    static const std::pair<Event, Event> kEvents[] = {
        {ON_SHOW_INFO_WINDOW, ON_HIDE_INFO_WINDOW},
        {ON_SHOW_ADJUSTMENT_PALETTE, ON_HIDE_ADJUSTMENT_PALETTE},
        {ON_SHOW_ADJUSTMENT_PALETTE_MODE, ON_HIDE_ADJUSTMENT_PALETTE_MODE},
        {ON_SHOW_ADJUSTMENT_PALETTE_SLIDERS, ON_HIDE_ADJUSTMENT_PALETTE_SLIDERS},
        {ON_SHOW_ADJUSTMENT_PALETTE_WHEEL, ON_HIDE_ADJUSTMENT_PALETTE_WHEEL},
        {ON_SHOW_ADJUSTMENT_PALETTE_HISTOGRAM, ON_HIDE_ADJUSTMENT_PALETTE_HISTOGRAM},
    };
    for (int i = 0; i < 6; ++i) {
        bool& flag = this->*kFamilies[i].flag;
        const FWideString name(kFamilies[i].name);
        auto is = [&](const char* prefix, const char* suffix) {
            FWideString whole(prefix);
            whole += name;
            whole += suffix;
            return message == whole;
        };
        // The window's own notices when the user shows or closes it some other way (its
        // title bar): the flag follows, nothing is fired back at the window.
        if (is("", "Shown") || is("", "Hidden")) {
            flag = is("", "Shown");
            return true;
        }
        if (is("Show", ""))
            flag = true;
        else if (is("Hide", ""))
            flag = false;
        else if (is("Toggle", ""))
            flag = !flag;
        else if (!is("Request", "Visibility"))
            continue;
        priFire(flag ? kEvents[i].first : kEvents[i].second);
        return true;
    }
    return false;
}

bool FUiMainWindow::AddEventTarget(const FWideString& eventName, const FWideString& message,
                                   FIUiRelay* target)
{
    RelayEvent* event = FindEvent(eventName);
    if (!event || !target)
        return false;
    event->AddTarget(message, target);
    return true;
}

// Changes a batch could not write into their files are told once, when the batch ends.
void FUiMainWindow::priTellUnwritten()
{
    const std::vector<FWideString> unwritten = m_ImageFileList.TakeUnwrittenChanges();
    if (unwritten.empty())
        return;
    for (const FWideString& url : unwritten)
        DebugTrace("FUiMainWindow: the change to '%s' was not written\n", url.GetNarrow());
    priFire(ON_SHOW_CHANGES_NOT_WRITTEN);
}

void FUiMainWindow::Tick(int /*elapsedMs*/)
{
    if (priReadSlice(m_dReadBudget))
        return;
    if (m_ImageFileList.IsBatchRunning() || m_ImageFileList.HasQueuedThumbnails()) {
        m_ImageFileList.Idle();
        if (!m_ImageFileList.IsBatchRunning())
            priTellUnwritten();
        return;
    }
    priTellUnwritten();
    if (m_usPendingReviewURL.IsEmpty())
        return;
    FImageFileListEntry* entry = m_ImageFileList.FindByURL(m_usPendingReviewURL);
    m_usPendingReviewURL = FWideString();
    if (entry) {
        priFire(ON_KICK_OFF_REVIEW);
        priFire(ON_REVIEW_IMAGES, entry);
    }
}
