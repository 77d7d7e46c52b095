#pragma once

// SETTINGS_MGR: the user's named adjustment values, kept in "settings.xml" in the
// application-data folder. Entry 0 is the zero setting, never written to the file.

#include <map>
#include <optional>
#include <vector>

#include "FUiObject.h"
#include "FWideString.h"
#include "ProcessingSettings.h"

class FIFolder;
class FIUiObjectFactory;
class FIUiMultiLangString;
class FIUiRelay;
class FPropList;

// The data of "FetchSettingByName".
struct FUiSettingsFetch {
    const FWideString* m_pName = nullptr;
    FIUiRelay* m_pRelay = nullptr;
};

struct FUiSettingEntry {
    FWideString m_usName;
    ProcessingSettings m_Settings;
    bool m_bDeletable = true;
    bool m_bStored = true;
};

class FUiSettings : public FUiObject
{
public:
    static constexpr const char* kFileName = "settings.xml";
    // Longest name a setting may have; longer typed names are cut.
    static constexpr int kMaxNameLength = 4096;

    explicit FUiSettings(const char* typeName);
    ~FUiSettings() override;
    FUiSettings(const FUiSettings&) = delete;
    FUiSettings& operator=(const FUiSettings&) = delete;

    bool UiRelayMessage(const FWideString& message, void* data) override;
    bool InitUiObject(FIUiApp* app, FIUiWindow* window, FIUiObject* parent, FPropList* tag) override;

    // Appends the zero setting and the file's settings.
    void LoadSettingsFile();
    // Writes the stored entries; on success the list is rebuilt from the file. False
    // (with ON_SETTINGS_NOT_SAVED fired) when the file could not be written: the list
    // then keeps the change.
    bool SaveSettingsFile();

    // A name the file can hold and read back: not empty once trimmed of nothing, no
    // control characters. Quotes, "<", "&" and slashes are fine: the writer escapes.
    static bool IsValidSettingName(const FWideString& name);

    // For tests: the folder URL the file is written to and read from first.
    const FWideString& GetFolderURL() const { return m_usFolderURL; }
    void SetFolderURL(const FWideString& url) { m_usFolderURL = url; }
    // A folder read when the written one has no file (the executable's, by default).
    void SetLegacyFolderURL(const FWideString& url) { m_usLegacyFolderURL = url; }
    const std::vector<FUiSettingEntry>& GetEntries() const { return m_Entries; }
    const ProcessingSettings& GetCurrentValues() const { return m_CurrentValues; }

private:
    enum class EListKind { kAll, kStored, kDeletable };

    FWideString priZeroName() const;
    int priFind(const FWideString& name) const;
    void priAppend(FUiSettingEntry entry);
    void priRemove(int index);
    void priClear();
    void priReadTree(const FPropList* root);
    bool priReadFolder(const FWideString& folderURL, bool setAsideUnreadable);
    std::vector<FWideString> priBuildList(EListKind kind);
    void priSendListRequest(EListKind kind, RelayEvent* event);
    void priFireControls();
    void priFireName(RelayEvent* event, const FWideString& name);

    std::vector<FUiSettingEntry> m_Entries;
    std::map<FWideString, int> m_Index;

    ProcessingSettings m_CurrentValues;
    std::optional<ProcessingSettings> m_LastReceived;
    FWideString m_usCurrentName;
    FWideString m_usTypedName;
    FWideString m_usSelectedForDeletion;
    FWideString m_usInitialName{"InitialCustomSettingName"};
    FWideString m_usZeroStringName;
    FIUiMultiLangString* m_pZeroString = nullptr;
    FIUiRelay* m_pReplyRelay = nullptr;
    FWideString m_usFolderURL;
    FWideString m_usLegacyFolderURL;

    RelayEvent* m_pOnGetSettingName = nullptr;
    RelayEvent* m_pOnSendList = nullptr;
    RelayEvent* m_pOnSendSaveList = nullptr;
    RelayEvent* m_pOnSendDeleteList = nullptr;
    RelayEvent* m_pOnSendSavedSetting = nullptr;
    RelayEvent* m_pOnDefaultSetting = nullptr;
    RelayEvent* m_pOnSetSettingName = nullptr;
    RelayEvent* m_pOnDisableControls = nullptr;
    RelayEvent* m_pOnEnableControls = nullptr;
    RelayEvent* m_pOnSendDefaultName = nullptr;
    RelayEvent* m_pOnNotifyDefaultName = nullptr;
    RelayEvent* m_pOnDeletedSetting = nullptr;
    RelayEvent* m_pOnNotSaved = nullptr;
    RelayEvent* m_pOnNameRefused = nullptr;
};

// Registers "SETTINGS_MGR".
bool RegisterSettingsCreator(FIUiObjectFactory* factory);
