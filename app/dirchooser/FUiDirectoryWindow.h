#pragma once

// DIRECTORY_WIN_MGR: the folder chooser. Keeps the chosen folder's URL, creates new folders
// on request and hands the choice back by "DirectoryChanged" or by a reply the script names.

#include "FUiObject.h"

class FIUiObjectFactory;

class FUiDirectoryWindow : public FUiObject
{
public:
    explicit FUiDirectoryWindow(const char* typeName);
    ~FUiDirectoryWindow() override;
    FUiDirectoryWindow(const FUiDirectoryWindow&) = delete;
    FUiDirectoryWindow& operator=(const FUiDirectoryWindow&) = delete;

    bool UiRelayMessage(const FWideString& message, void* data) override;
    bool InitUiObject(FIUiApp* app, FIUiWindow* window, FIUiObject* parent, FPropList* tag) override;
    // Reports the notice of the last "CreateNewFolder", one per tick.
    void Tick(int elapsedMs) override;

    const FWideString& GetURL() const { return m_usURL; }
    // A single folder name: not empty, not "." or "..", no slash and no control character.
    static bool IsValidFolderName(const FWideString& name);

private:
    void priCreateNewFolder();
    void priFireText(RelayEvent* event, const FWideString& text);
    void priFireBool(RelayEvent* event, bool value);
    FIUiRelay* priFindRelay(const FWideString& name);

    RelayEvent* m_pOnSendDirectory = nullptr;
    RelayEvent* m_pOnSendDirectoryURL = nullptr;
    RelayEvent* m_pOnSendURL = nullptr;
    RelayEvent* m_pOnEnableNewFolder = nullptr;
    RelayEvent* m_pOnEnableOK = nullptr;
    RelayEvent* m_pOnShowNewFolder = nullptr;
    RelayEvent* m_pOnSetNewFolderReply = nullptr;
    RelayEvent* m_pOnSendNewFolder = nullptr;
    RelayEvent* m_pOnDirTreeRefresh = nullptr;
    RelayEvent* m_pOnShowFolderExists = nullptr;
    RelayEvent* m_pOnShowInvalidFolder = nullptr;
    RelayEvent* m_pOnSendNewFolderPath = nullptr;
    RelayEvent* m_pOnInvalidReadOnly = nullptr;

    FIUiRelay* m_pSendingRelay = nullptr;
    FIUiRelay* m_pNativeReplyTarget = nullptr;
    FWideString m_usNativeReplyMsg;
    FIUiRelay* m_pURLReplyTarget = nullptr;
    FWideString m_usURLReplyMsg;
    FWideString m_usURL;
    FWideString m_usDefaultURL;
    FWideString m_usNewFolderName;
    bool m_bFolderExists = false;
    bool m_bInvalidFolder = false;
    bool m_bReadOnly = false;
};

// Registers "DIRECTORY_WIN_MGR".
bool RegisterDirectoryWindowCreator(FIUiObjectFactory* factory);
