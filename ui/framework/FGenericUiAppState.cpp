#include <algorithm>

#include "FDebugTrace.h"
#include "FException.h"
#include "FGenericUiApp.h"
#include "FIStorageClass.h"
#include "FPropList.h"
#include "FXmlParser.h"
#include "FXmlWriter.h"
#include "StorageClassRegistry.h"

namespace
{

const FWideString kLanguageEntry("BrisalLanguageSelector");
const FWideString kCurrentLanguage("CurrentLanguage");

FIFolder* OpenSpecialFolder(int kind, bool create)
{
    const FWideString url = GetSpecialPathURL(kind);
    if (url.IsEmpty())
        return nullptr;
    FWideString fileName;
    try {
        FIFolder* folder = OpenFolderURL(url, fileName, create);
        // A file standing where the folder belongs opens its parent: not the folder asked for.
        if (folder && !fileName.IsEmpty()) {
            folder->Release();
            return nullptr;
        }
        return folder;
    } catch (const FException&) {
        return nullptr;
    }
}

// Nothing at all stands where the folder belongs, so the first write can make it.
bool SpecialFolderIsMissing(int kind)
{
    const FWideString url = GetSpecialPathURL(kind);
    bool isFolder = false;
    try {
        return !url.IsEmpty() && !ExistsURL(url, isFolder);
    } catch (const FException&) {
        return false;
    }
}

// The file's tree, or null when it is missing; a file that is not a readable
// tree gives null too, with `unreadable` set.
FPropList* ParseOptional(FIFolder* folder, const FWideString& name, bool& unreadable)
{
    unreadable = false;
    bool isFolder = false;
    if (!folder->Exists(name, &isFolder) || isFolder)
        return nullptr;
    try {
        FXmlParser parser;
        FPropList* root = parser.ParseFile(folder, name);
        unreadable = root == nullptr;
        return root;
    } catch (const FException&) {
        unreadable = true;
        return nullptr;
    }
}

} // namespace

void FGenericUiApp::priLoadState(FPropList* root)
{
    m_usStateName = root->GetString("Name", FWideString("BrisalApp"));
    m_usStateFileName = m_usStateName;
    m_usStateFileName += ".state.xml";
    // A first start has no folder yet: its state begins empty and makes the folder at exit.
    if (FIFolder* folder = OpenSpecialFolder(kSpecialPathAppData, false)) {
        bool unreadable = false;
        m_pStateRoot = ParseOptional(folder, m_usStateFileName, unreadable);
        // A damaged file is replaced by a fresh state at exit.
        if (unreadable)
            DebugTrace("The state file %s cannot be read; starting with an empty state.\n",
                       m_usStateFileName.GetNarrow());
        folder->Release();
    } else if (!SpecialFolderIsMissing(kSpecialPathAppData)) {
        return;
    }
    if (!m_pStateRoot)
        m_pStateRoot = new FPropList(nullptr, "STATE");
}

void FGenericUiApp::priSaveState()
{
    if (!m_usSavedLanguage.IsEmpty()) {
        if (FPropList* entry = GetPersistentData(kLanguageEntry))
            entry->SetString(kCurrentLanguage, m_usSavedLanguage);
    }
    if (!m_bHasPersistentStore || !m_pStateRoot)
        return;
    // The first write makes the folder; nothing else does.
    FIFolder* folder = OpenSpecialFolder(kSpecialPathAppData, true);
    if (!folder) {
        DebugTrace("No application-data folder: the state is not saved.\n");
        return;
    }
    if (!WritePropListXml(m_pStateRoot, folder, m_usStateFileName))
        DebugTrace("The state file %s was not saved; the previous one is kept.\n",
                   m_usStateFileName.GetNarrow());
    folder->Release();
}

FPropList* FGenericUiApp::GetPersistentData(const FWideString& key)
{
    if (!m_pStateRoot)
        return nullptr;
    for (FPropList* entry = m_pStateRoot->GetFirstChild(); entry; entry = entry->GetNext()) {
        bool found = false;
        if (entry->GetString("Name", FWideString(), &found) == key && found)
            return entry;
    }
    auto* entry = new FPropList(m_pStateRoot, "PERDATA");
    entry->AddProp(FWideString("Name"), key);
    return entry;
}

void FGenericUiApp::priReadLanguages(FPropList* root)
{
    for (FPropList* group = root->GetFirstChild(); group; group = group->GetNext()) {
        if (!(group->GetName() == "LANGUAGES"))
            continue;
        for (FPropList* language = group->GetFirstChild(); language; language = language->GetNext()) {
            if (!(language->GetName() == "LANGUAGE"))
                continue;
            const FWideString name = language->GetString("Name", FWideString());
            if (name.IsEmpty())
                continue;
            m_languages.push_back(name);
            if (language->GetBool("Default", false))
                m_usCurrentLanguage = name;
        }
    }
    DebugTrace("Application has defined %d languages.\n", static_cast<int>(m_languages.size()));
}

void FGenericUiApp::priReadSavedLanguage()
{
    FPropList* entry = GetPersistentData(kLanguageEntry);
    if (!entry)
        return;
    bool found = false;
    const FWideString saved = entry->GetString(kCurrentLanguage, FWideString(), &found);
    if (found) {
        m_usSavedLanguage = saved;
        SetLanguage(saved);
        return;
    }
    FIFolder* folder = nullptr;
    if (!m_usExeFolderURL.IsEmpty()) {
        FWideString fileName;
        try {
            folder = OpenFolderURL(m_usExeFolderURL, fileName, false);
        } catch (const FException&) {
            folder = nullptr;
        }
    } else {
        folder = OpenSpecialFolder(kSpecialPathExeFolder, true);
    }
    if (!folder)
        return;
    bool unreadable = false;
    if (FPropList* preferences = ParseOptional(folder, FWideString("Preferences.xml"), unreadable)) {
        FPropList* first = preferences->GetFirstChild();
        bool present = false;
        const FWideString language =
            first ? first->GetString(kCurrentLanguage, FWideString(), &present) : FWideString();
        if (present) {
            m_usSavedLanguage = language;
            SetLanguage(language);
        }
        DeletePropList(preferences);
    }
    folder->Release();
}

void FGenericUiApp::priNotifyListeners()
{
    // A listener may leave (or be deleted) while the others are told.
    const std::vector<FIUiRelay*> snapshot = m_listeners;
    for (FIUiRelay* listener : snapshot) {
        if (std::find(m_listeners.begin(), m_listeners.end(), listener) != m_listeners.end())
            listener->UiRelayMessage(FWideString("Set Language"), &m_usCurrentLanguage);
    }
}

void FGenericUiApp::SetLanguage(const FWideString& language)
{
    const FWideString name = language; // the caller's string may be one of ours
    BroadcastToWindows(FWideString("Disable Window Display."));
    priSelectLanguageEverywhere(name);
    m_usCurrentLanguage = name;
    priNotifyListeners();
    if (m_pStateRoot) {
        m_usSavedLanguage = name;
        m_bLanguageEntry = false;
        for (FPropList* entry = m_pStateRoot->GetFirstChild(); entry; entry = entry->GetNext()) {
            if (entry->GetString("Name", FWideString()) == kLanguageEntry) {
                entry->SetString(kCurrentLanguage, name);
                m_bLanguageEntry = true;
                break;
            }
        }
    }
    if (m_pOsApp)
        m_pOsApp->OnLanguageChanged(name);
    BroadcastToWindows(FWideString("Enable Window Display & Redraw All."));
}

void FGenericUiApp::NextLanguage()
{
    BroadcastToWindows(FWideString("Disable Window Display."));
    FWideString next;
    auto it = std::find(m_languages.begin(), m_languages.end(), m_usCurrentLanguage);
    if (it != m_languages.end())
        next = (it + 1 == m_languages.end()) ? m_languages.front() : *(it + 1);
    priSelectLanguageEverywhere(next);
    m_usCurrentLanguage = next;
    priNotifyListeners();
    BroadcastToWindows(FWideString("Enable Window Display & Redraw All."));
}

bool FGenericUiApp::AddLanguageListener(FIUiRelay* relay, FWideString& currentLanguage)
{
    currentLanguage = m_usCurrentLanguage;
    if (!relay)
        return false;
    if (std::find(m_listeners.begin(), m_listeners.end(), relay) == m_listeners.end())
        m_listeners.push_back(relay);
    return true;
}

bool FGenericUiApp::RemoveLanguageListener(FIUiRelay* relay)
{
    if (!relay)
        return true;
    auto it = std::find(m_listeners.begin(), m_listeners.end(), relay);
    if (it == m_listeners.end())
        return false;
    m_listeners.erase(it);
    return true;
}
