#include "FUiSettings.h"

#include <cmath>
#include <utility>

#include "FDebugTrace.h"
#include "FException.h"
#include "FIStorageClass.h"
#include "FIUiApp.h"
#include "FPropList.h"
#include "FUiMultiLangString.h"
#include "FUiObjectFactory.h"
#include "FXmlParser.h"
#include "FXmlWriter.h"
#include "StorageClassRegistry.h"

namespace
{

class FUiSettingsCreator final : public FIUiObjectCreator
{
public:
    FIUiObject* CreateUiObject(const char* typeName) override { return new FUiSettings(typeName); }
};

const char* const kAdjustmentNames[] = {"Blackness",  "Contrast",  "Exposure", "Highlight",
                                        "Saturation", "Sharpness", "Retinex"};

double* Adjustment(ProcessingSettings& settings, int index)
{
    double* const fields[] = {&settings.Blackness, &settings.Contrast,   &settings.Exposure,
                              &settings.Highlight, &settings.Saturation, &settings.Sharpness,
                              &settings.Retinex};
    return fields[index];
}

// A missing or malformed value takes the record's default; the file never holds
// values that are not finite.
double ReadDouble(const FPropList* node, const char* name, double fallback)
{
    if (!node)
        return fallback;
    const double value = node->GetFloat(FWideString(name), fallback);
    return std::isfinite(value) ? value : fallback;
}

FWideString Formatted(const char* format, double value)
{
    FWideString text;
    text.Format(format, value);
    return text;
}

FWideString WithSlash(const FWideString& url)
{
    FWideString joined(url);
    if (!joined.IsEmpty() && joined.GetBuffer()[joined.GetLength() - 1] != u'/')
        joined += "/";
    return joined;
}

struct FolderHolder {
    FIFolder* folder = nullptr;
    ~FolderHolder()
    {
        if (folder)
            folder->Release();
    }
};

// Opens the folder of `folderURL`; null (traced) when it cannot be opened.
FIFolder* OpenSettingsFolder(const FWideString& folderURL, bool create)
{
    if (folderURL.IsEmpty())
        return nullptr;
    FWideString name;
    try {
        // Naming the folder itself: a missing file's name would be made a folder.
        FIFolder* folder = OpenFolderURL(folderURL, name, create);
        if (folder && !name.IsEmpty()) {
            folder->Release();
            return nullptr;
        }
        return folder;
    } catch (const FException&) {
        DebugTrace("FUiSettings: cannot open the folder %s\n", folderURL.GetNarrow());
        return nullptr;
    }
}

} // namespace

bool RegisterSettingsCreator(FIUiObjectFactory* factory)
{
    if (!factory)
        return false;
    auto* creator = new FUiSettingsCreator;
    if (factory->Register("SETTINGS_MGR", creator))
        return true;
    delete creator;
    return false;
}

FUiSettings::FUiSettings(const char* typeName) : FUiObject(typeName)
{
    m_pOnGetSettingName = AddEvent(FWideString("ON_GET_SETTING_NAME"));
    m_pOnSendList = AddEvent(FWideString("ON_SEND_LIST"));
    m_pOnSendSaveList = AddEvent(FWideString("ON_SEND_SAVE_LIST"));
    m_pOnSendDeleteList = AddEvent(FWideString("ON_SEND_DELETE_LIST"));
    m_pOnSendSavedSetting = AddEvent(FWideString("ON_SEND_SAVED_SETTING"));
    m_pOnDefaultSetting = AddEvent(FWideString("ON_DEFAULT_SETTING"));
    m_pOnSetSettingName = AddEvent(FWideString("ON_SET_SETTING_NAME"));
    AddEvent(FWideString("ON_SET_SLIDER"));
    m_pOnDisableControls = AddEvent(FWideString("ON_DISABLE_CONTROLS"));
    m_pOnEnableControls = AddEvent(FWideString("ON_ENABLE_CONTROLS"));
    m_pOnSendDefaultName = AddEvent(FWideString("ON_SEND_DEFAULT_NAME"));
    m_pOnNotifyDefaultName = AddEvent(FWideString("ON_NOTIFY_DEFAULT_NAME"));
    m_pOnDeletedSetting = AddEvent(FWideString("ON_DELETED_SETTING"));
    // The user hears of a change that did not reach the disk, and of a refused name.
    m_pOnNotSaved = AddEvent(FWideString("ON_SETTINGS_NOT_SAVED"));
    m_pOnNameRefused = AddEvent(FWideString("ON_SETTING_NAME_REFUSED"));
    m_usFolderURL = GetSpecialPathURL(kSpecialPathAppData);
    m_usLegacyFolderURL = GetSpecialPathURL(kSpecialPathExeFolder);
}

FUiSettings::~FUiSettings() = default;

bool FUiSettings::InitUiObject(FIUiApp* app, FIUiWindow* window, FIUiObject* parent, FPropList* tag)
{
    if (tag) {
        m_usInitialName =
            tag->GetString(FWideString("_InititalString"), FWideString("InitialCustomSettingName"));
        m_usZeroStringName = tag->GetString(FWideString("ZeroAdjustString"), FWideString());
    }
    if (app && !m_usZeroStringName.IsEmpty())
        m_pZeroString = app->GetDisplayString(m_usZeroStringName);
    return InitNonVisualUiObject(this, app, window, parent, tag);
}

bool FUiSettings::IsValidSettingName(const FWideString& name)
{
    if (name.IsEmpty() || name.GetLength() > kMaxNameLength)
        return false;
    for (int i = 0; i < name.GetLength(); ++i) {
        const char16_t unit = name.GetBuffer()[i];
        if (unit < 0x20 || unit == 0x7f || unit == 0xfffe || unit == 0xffff)
            return false;
    }
    return true;
}

// An empty current text would leave the zero setting without a name.
FWideString FUiSettings::priZeroName() const
{
    if (m_pZeroString) {
        const FWideString* text = m_pZeroString->GetText();
        if (text && !text->IsEmpty())
            return *text;
    }
    return FWideString("Zero Adjust");
}

int FUiSettings::priFind(const FWideString& name) const
{
    auto it = m_Index.find(name);
    return it == m_Index.end() ? -1 : it->second;
}

void FUiSettings::priAppend(FUiSettingEntry entry)
{
    m_Index[entry.m_usName] = static_cast<int>(m_Entries.size());
    m_Entries.push_back(std::move(entry));
}

void FUiSettings::priRemove(int index)
{
    m_Entries.erase(m_Entries.begin() + index);
    m_Index.clear();
    for (size_t i = 0; i < m_Entries.size(); ++i)
        m_Index[m_Entries[i].m_usName] = static_cast<int>(i);
}

void FUiSettings::priClear()
{
    m_Entries.clear();
    m_Index.clear();
}

void FUiSettings::priReadTree(const FPropList* root)
{
    if (!root || !(root->GetName() == "CUSTOM"))
        return;
    const FPropList* list = root->GetFirstChild();
    if (!list || !(list->GetName() == "SETTINGS"))
        return;
    for (const FPropList* item = list->GetFirstChild(); item; item = item->GetNext()) {
        const FWideString name = item->GetString(FWideString("Name"), FWideString("Setting_Name"));
        if (name.IsEmpty() || name.GetLength() > kMaxNameLength)
            continue;
        // Missing values take the record's defaults: a missing child gives all of its defaults.
        const FPropList* first = item->GetFirstChild();
        const FPropList* second = first ? first->GetNext() : nullptr;
        ProcessingSettings values;
        for (int i = 0; i < 7; ++i) {
            double* field = Adjustment(values, i);
            *field = ReadDouble(first, kAdjustmentNames[i], *field);
        }
        if (second)
            values.ColorSpace = second->GetInt(FWideString("ColorSpace"), values.ColorSpace);
        values.ColorAdjustR = ReadDouble(second, "ColorAdjustR", values.ColorAdjustR);
        values.ColorAdjustG = ReadDouble(second, "ColorAdjustG", values.ColorAdjustG);
        values.ColorAdjustB = ReadDouble(second, "ColorAdjustB", values.ColorAdjustB);
        const int index = priFind(name);
        if (index >= 0)
            m_Entries[index].m_Settings = values;
        else
            priAppend(FUiSettingEntry{name, values, true, true});
    }
}

// False when the folder has no file. A file that does not read is renamed aside (so the
// user's data stays for inspection) and counts as read: the list keeps the zero setting.
bool FUiSettings::priReadFolder(const FWideString& folderURL, bool setAsideUnreadable)
{
    FolderHolder holder;
    holder.folder = OpenSettingsFolder(folderURL, false);
    if (!holder.folder)
        return false;
    const FWideString name(kFileName);
    bool isFolder = false;
    if (!holder.folder->Exists(name, &isFolder) || isFolder)
        return false;
    FPropList* root = nullptr;
    try {
        FXmlParser parser;
        root = parser.ParseFile(holder.folder, name);
    } catch (const FException& error) {
        DebugTrace("FUiSettings: %s does not read (%s)\n", kFileName, error.GetMessage());
        root = nullptr;
    }
    if (!root) {
        if (setAsideUnreadable) {
            for (int n = 0; n < 100; ++n) {
                FWideString aside;
                aside.Format("settings.unreadable-%d.xml", n);
                bool asideIsFolder = false;
                if (holder.folder->Exists(aside, &asideIsFolder))
                    continue;
                try {
                    holder.folder->Rename(name, aside);
                    DebugTrace("FUiSettings: the unreadable file was kept as %s\n", aside.GetNarrow());
                } catch (const FException&) {
                    DebugTrace("FUiSettings: the unreadable file could not be set aside\n");
                }
                break;
            }
        }
        return true;
    }
    priReadTree(root);
    DeletePropList(root);
    return true;
}

void FUiSettings::LoadSettingsFile()
{
    const FWideString zeroName = priZeroName();
    const int zero = priFind(zeroName);
    if (zero >= 0) {
        m_Entries[zero].m_Settings = ProcessingSettings();
        m_Entries[zero].m_bDeletable = false;
        m_Entries[zero].m_bStored = false;
    } else {
        priAppend(FUiSettingEntry{zeroName, ProcessingSettings(), false, false});
    }
    // A file only in the legacy folder is read, never set aside: it is not ours to move.
    if (!priReadFolder(m_usFolderURL, true) && !(m_usLegacyFolderURL == m_usFolderURL))
        priReadFolder(m_usLegacyFolderURL, false);
}

bool FUiSettings::SaveSettingsFile()
{
    FPropList root(nullptr, "CUSTOM");
    auto* list = new FPropList(&root, "SETTINGS");
    for (const FUiSettingEntry& entry : m_Entries) {
        if (!entry.m_bStored)
            continue;
        auto* item = new FPropList(list, "SETTING");
        item->AddProp(FWideString("Name"), entry.m_usName);
        ProcessingSettings values = entry.m_Settings;
        auto* first = new FPropList(item, "DATA");
        for (int i = 0; i < 7; ++i)
            first->AddProp(FWideString(kAdjustmentNames[i]), Formatted("%.2f", *Adjustment(values, i)));
        auto* second = new FPropList(item, "DATA");
        FWideString space;
        space.Format("%i", values.ColorSpace);
        second->AddProp(FWideString("ColorSpace"), space);
        second->AddProp(FWideString("ColorAdjustR"), Formatted("%.5f", values.ColorAdjustR));
        second->AddProp(FWideString("ColorAdjustG"), Formatted("%.5f", values.ColorAdjustG));
        second->AddProp(FWideString("ColorAdjustB"), Formatted("%.5f", values.ColorAdjustB));
    }
    bool written = false;
    {
        FolderHolder holder;
        holder.folder = OpenSettingsFolder(m_usFolderURL, true);
        if (holder.folder) {
            try {
                written = WritePropListXml(&root, holder.folder, FWideString(kFileName));
            } catch (const FException& error) {
                DebugTrace("FUiSettings: writing %s failed (%s)\n", kFileName, error.GetMessage());
            }
        }
    }
    if (written) {
        priClear();
        LoadSettingsFile();
    } else {
        // The list keeps the change, so nothing the user did is lost while the program runs.
        DebugTrace("FUiSettings: %s was not saved in %s\n", kFileName, m_usFolderURL.GetNarrow());
        FWideString url = WithSlash(m_usFolderURL);
        url += kFileName;
        m_pOnNotSaved->Fire(&url);
    }
    std::vector<FWideString> names = priBuildList(EListKind::kAll);
    m_pOnSendList->Fire(&names);
    return written;
}

std::vector<FWideString> FUiSettings::priBuildList(EListKind kind)
{
    if (m_pZeroString && !m_usZeroStringName.IsEmpty()) {
        for (size_t i = 0; i < m_Entries.size(); ++i) {
            FUiSettingEntry& entry = m_Entries[i];
            if (!entry.m_bStored && !(entry.m_usName == m_usZeroStringName) &&
                m_pZeroString->HasText(entry.m_usName) && priFind(m_usZeroStringName) < 0) {
                m_Index.erase(entry.m_usName);
                entry.m_usName = m_usZeroStringName;
                m_Index[entry.m_usName] = static_cast<int>(i);
            }
        }
    }
    std::vector<FWideString> names;
    for (const FUiSettingEntry& entry : m_Entries) {
        if (kind == EListKind::kAll || (kind == EListKind::kStored && entry.m_bStored) ||
            (kind == EListKind::kDeletable && entry.m_bDeletable))
            names.push_back(entry.m_usName);
    }
    const size_t count = names.size();
    for (size_t i = 0; i < count; ++i) {
        FWideString identifier;
        identifier.Format("Custom%u", static_cast<unsigned>(i));
        names.push_back(identifier);
    }
    return names;
}

void FUiSettings::priFireName(RelayEvent* event, const FWideString& name)
{
    FWideString copy(name);
    event->Fire(&copy);
}

void FUiSettings::priSendListRequest(EListKind kind, RelayEvent* event)
{
    if (m_Entries.empty()) {
        if (!m_usInitialName.IsEmpty())
            priFireName(m_pOnSendDefaultName, m_usInitialName);
        return;
    }
    std::vector<FWideString> names = priBuildList(kind);
    event->Fire(&names);
    if (!m_usInitialName.IsEmpty())
        priFireName(m_pOnNotifyDefaultName, m_usInitialName);
}

void FUiSettings::priFireControls()
{
    (m_Entries.size() >= 2 ? m_pOnEnableControls : m_pOnDisableControls)->Fire(nullptr);
}

bool FUiSettings::UiRelayMessage(const FWideString& message, void* data)
{
    if (message == "Post Creation Initialization") {
        LoadSettingsFile();
        priSendListRequest(EListKind::kAll, m_pOnSendList);
        return true;
    }
    if (message == "RequestSettings") {
        priSendListRequest(EListKind::kAll, m_pOnSendList);
        return true;
    }
    if (message == "RequestSaveSettings") {
        priSendListRequest(EListKind::kStored, m_pOnSendSaveList);
        return true;
    }
    if (message == "RequestDeleteSettings") {
        priSendListRequest(EListKind::kDeletable, m_pOnSendDeleteList);
        return true;
    }
    if (message == "SetDefaultName") {
        priFireName(m_pOnSendDefaultName, m_usInitialName);
        return true;
    }
    if (message == "DoNotDeleteSetting") {
        m_usSelectedForDeletion.Clear();
        return true;
    }
    if (message == "CheckSettingNumber") {
        priFireControls();
        return true;
    }
    if (message == "SaveSettings") {
        m_usTypedName.Clear();
        m_pOnGetSettingName->Fire(&m_usTypedName);
        if (!m_usTypedName.IsEmpty() && !IsValidSettingName(m_usTypedName)) {
            // A name the file could not give back is refused before anything changes.
            priFireName(m_pOnNameRefused, m_usTypedName);
            return true;
        }
        m_usCurrentName = m_usTypedName;
        priFireName(m_pOnSetSettingName, m_usCurrentName);
        if (!m_usCurrentName.IsEmpty()) {
            const ProcessingSettings values = m_LastReceived.value_or(ProcessingSettings());
            const int index = priFind(m_usCurrentName);
            if (index >= 0)
                m_Entries[index].m_Settings = values;
            else
                priAppend(FUiSettingEntry{m_usCurrentName, values, true, true});
        }
        priFireControls();
        SaveSettingsFile();
        return true;
    }
    if (message == "DeleteSetting") {
        const int index = m_usSelectedForDeletion.IsEmpty() ? -1 : priFind(m_usSelectedForDeletion);
        // The zero setting is never deletable, whatever a list widget sends.
        if (index < 0 || !m_Entries[index].m_bDeletable)
            return true;
        priRemove(index);
        if (m_usSelectedForDeletion == m_usCurrentName) {
            FWideString empty;
            m_pOnDefaultSetting->Fire(&empty);
        }
        SaveSettingsFile();
        priFireName(m_pOnDeletedSetting, m_usSelectedForDeletion);
        priFireControls();
        return true;
    }
    if (!data)
        return false;
    if (message == "SettingsData") {
        m_LastReceived = *static_cast<const ProcessingSettings*>(data);
        return true;
    }
    if (message == "CustomReq") {
        ProcessingSettings copy = m_CurrentValues;
        m_pOnSendSavedSetting->Fire(&copy);
        return true;
    }
    if (message == "SelectedForDeletion") {
        m_usSelectedForDeletion = *static_cast<const FWideString*>(data);
        return true;
    }
    if (message == "GetSetting") {
        const FWideString name = *static_cast<const FWideString*>(data);
        const int index = name.IsEmpty() ? -1 : priFind(name);
        if (index < 0)
            return true;
        m_CurrentValues = m_Entries[index].m_Settings;
        ProcessingSettings copy = m_CurrentValues;
        m_pOnSendSavedSetting->Fire(&copy);
        priFireName(m_pOnSetSettingName, name);
        m_usCurrentName = name;
        return true;
    }
    if (message == "RequestedSettingRelay") {
        const int index = priFind(m_usCurrentName);
        if (index < 0)
            return true;
        m_pReplyRelay = static_cast<FIUiRelay*>(data);
        ProcessingSettings copy = m_Entries[index].m_Settings;
        m_pReplyRelay->UiRelayMessage(FWideString("RequestedSetting"), &copy);
        return true;
    }
    if (message == "FetchSettingByName") {
        const auto* fetch = static_cast<const FUiSettingsFetch*>(data);
        if (!fetch->m_pName || !fetch->m_pRelay || fetch->m_pName->IsEmpty())
            return true;
        const int index = priFind(*fetch->m_pName);
        if (index < 0)
            return true;
        ProcessingSettings copy = m_Entries[index].m_Settings;
        fetch->m_pRelay->UiRelayMessage(FWideString("RequestedSetting"), &copy);
        return true;
    }
    if (message == "SendingRelay") {
        std::vector<FWideString> names = priBuildList(EListKind::kAll);
        m_pReplyRelay = static_cast<FIUiRelay*>(data);
        m_pReplyRelay->UiRelayMessage(FWideString("SettingList"), &names);
        return true;
    }
    if (message == "GetList") {
        *static_cast<std::vector<FWideString>*>(data) = priBuildList(EListKind::kAll);
        return true;
    }
    return false;
}
