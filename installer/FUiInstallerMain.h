#pragma once

#include <cstdint>
#include <functional>
#include <vector>

#include "FUiObject.h"

class FIUiObjectFactory;
class FIUiWindow;
class FPropList;

// INSTALLER_MAIN: the installer's page controller. It keeps the language and the
// destination, checks the destination, decides at start between installing and
// uninstalling, finishes an installation (preference files and the uninstall
// record) and runs the stages of an uninstallation.
class FUiInstallerMain : public FUiObject
{
public:
    // Free bytes a destination needs.
    static constexpr int64_t kMinFreeBytes = 15000000;

    explicit FUiInstallerMain(const char* typeName);
    ~FUiInstallerMain() override;

    bool UiRelayMessage(const FWideString& message, void* data) override;
    bool InitUiObject(FIUiApp* app, FIUiWindow* window, FIUiObject* parent, FPropList* tag) override;

    bool CheckDestination(const FWideString& url);
    // A folder that can take the installation: not one of the user's own base folders,
    // and the deepest folder on the way to it exists and may be written.
    static bool IsWritableDestination(const FWideString& url);
    bool FindPreviousInstall();
    void ReadCurrentLanguage();
    void WriteTargetAppFiles();
    static void MergeIntoUninstallTree(FPropList* root, FPropList* tree);

    // The free bytes of the volume that holds a folder URL; false when no folder
    // on the way to it opens. Tests put their own answer here.
    using FreeSpaceProbe = std::function<bool(const FWideString& url, int64_t& freeBytes)>;
    void SetFreeSpaceProbe(FreeSpaceProbe probe) { m_freeSpaceProbe = std::move(probe); }

    const FWideString& GetDestination() const { return m_usDestination; }
    const FWideString& GetLanguage() const { return m_usLanguage; }
    FPropList* GetUninstallTree() const { return m_pUninstallTree; }
    FPropList* GetPreviousUninstallTree() const { return m_pPreviousTree; }
    FPropList* GetOwnFileList() const { return m_pOwnFiles; }
    FPropList* GetOwnFolderList() const { return m_pOwnFolders; }

private:
    void priFire(const char* event, void* data);
    void priSetAppLanguage(const FWideString& language);
    void priFinishInstall();
    void priUninstall();
    void priCreateNewFolder();
    void priShowError(const FWideString& displayString, const FWideString& fallback);
    bool priWriteUninstallRecord();
    void priBeginInstall();
    void priWriteStamp();
    void priRecordWayFolders();
    void priRecordOwnFolder(const FWideString& url);
    void priRunRemoval(FPropList* tree, bool withLaunches);
    void priRemoveLeftovers(FPropList* tree);
    void priRollBack();
    bool priDefaultFreeSpace(const FWideString& url, int64_t& freeBytes);

    FWideString m_usDestination;
    FWideString m_usLanguage;
    FWideString m_usUninstallStage;
    FWideString m_usTargetExeName;
    FWideString m_usTargetExeFolder;
    FWideString m_usAutoLaunchExe;
    FWideString m_usNewFolderName;
    FPropList* m_pUninstallTree = nullptr;
    FPropList* m_pOwnFolders = nullptr;
    FPropList* m_pOwnFiles = nullptr;
    FPropList* m_pPreviousTree = nullptr;
    int32_t m_iWindowX = 150;
    int32_t m_iWindowY = 150;
    FIUiWindow* m_pShownWindow = nullptr;
    bool m_bSuppressExit = false;
    // An earlier record that does not read: the error page is shown instead of either road.
    bool m_bRecordDamaged = false;
    FreeSpaceProbe m_freeSpaceProbe;
    // Folders on the way to the destination and the install places that were missing
    // when the copy began.
    std::vector<FWideString> m_wayFolders;
};

bool RegisterInstallerMain(FIUiObjectFactory* factory);
