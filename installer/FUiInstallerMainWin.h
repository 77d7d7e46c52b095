#pragma once

#include "FUiObject.h"

class FIUiObjectFactory;
class FPropList;

// INSTALLER_MAIN_WIN: the sequencer of the work outside the destination. It has
// the registry keys written and the shortcuts made at the end of an
// installation, announces the install and uninstall stages and hands the
// uninstall record to the controls that remove what was installed.
class FUiInstallerMainWin : public FUiObject
{
public:
    explicit FUiInstallerMainWin(const char* typeName);
    ~FUiInstallerMainWin() override;

    bool UiRelayMessage(const FWideString& message, void* data) override;
    bool InitUiObject(FIUiApp* app, FIUiWindow* window, FIUiObject* parent, FPropList* tag) override;

    const FWideString& GetStage() const { return m_usStage; }
    const FWideString& GetInstallListLocation() const { return m_usInstallList; }

private:
    void priFire(const char* event, void* data);
    void priFinishInstall();
    void priSaveUninstall();

    FWideString m_usStage;
    FWideString m_usInstallList;
    FWideString m_usTargetDirectory;
    FWideString m_usInstallLanguage;
    FPropList* m_pOwnTree = nullptr;
    FPropList* m_pReceivedTree = nullptr;
};

bool RegisterInstallerMainWin(FIUiObjectFactory* factory);
