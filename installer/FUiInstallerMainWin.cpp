#include "FUiInstallerMainWin.h"

#include "FCodePage.h"
#include "FDebugTrace.h"
#include "FException.h"
#include "FIStorageClass.h"
#include "FIUiApp.h"
#include "FPropList.h"
#include "FXmlWriter.h"
#include "InstallerPaths.h"

namespace
{

const char* const kEvents[] = {
    "ON_SEND_REGISTRY_FILE",   "ON_SEND_SHELL_LINK_FILE", "ON_SEND_TARGET_DIR",    "ON_SAVE_TO_REGISTRY",
    "ON_CREATE_LINKS",         "ON_CHECK_INSTALL",        "ON_GET_UNINSTALL_FILE", "ON_SEND_UNINSTALL_TREE",
    "ON_CHECK_LANGUAGE",       "ON_SEND_LANGUAGE",        "ON_SEND_LAUNCH_TREE",   "ON_SEND_INSTALL_STAGE",
    "ON_SEND_TARGET_EXE_NAME",
};

} // namespace

FUiInstallerMainWin::FUiInstallerMainWin(const char* typeName) : FUiObject(typeName), m_usStage("PreInstall")
{
    for (const char* name : kEvents)
        AddEvent(FWideString(name));
    m_pOwnTree = new FPropList(nullptr, "UNINSTALL");
}

FUiInstallerMainWin::~FUiInstallerMainWin()
{
    DeletePropList(m_pOwnTree);
}

bool FUiInstallerMainWin::InitUiObject(FIUiApp* app, FIUiWindow* window, FIUiObject* parent, FPropList* tag)
{
    InitNonVisualUiObject(this, app, window, parent, tag);
    FIFile* file = app ? app->OpenScriptFile(FWideString(kInstallListName)) : nullptr;
    if (!file)
        throw FException("This application needs to be bundled!\n");
    m_usInstallList = file->GetURL();
    file->Release();
    return true;
}

void FUiInstallerMainWin::priFire(const char* event, void* data)
{
    if (RelayEvent* found = FindEvent(FWideString(event)))
        found->Fire(data);
}

bool FUiInstallerMainWin::UiRelayMessage(const FWideString& message, void* data)
{
    if (message == "Post Creation Initialization" || message == "we're goin' bye-bye")
        return true;
    if (message == "TargetExeName") {
        if (data)
            priFire("ON_SEND_TARGET_EXE_NAME", data);
        return true;
    }
    if (message == "FinishInstall") {
        priFinishInstall();
        return true;
    }
    if (message == "LaunchTree") {
        if (data) {
            priFire("ON_SEND_LAUNCH_TREE", data);
            FWideString stage = m_usStage;
            priFire("ON_SEND_INSTALL_STAGE", &stage);
        }
        return true;
    }
    if (message == "TargetDirectory") {
        if (data) {
            m_usTargetDirectory = *static_cast<FWideString*>(data);
            FWideString copy = m_usTargetDirectory;
            priFire("ON_SEND_TARGET_DIR", &copy);
        }
        return true;
    }
    if (message == "InstallLanguage") {
        if (data)
            m_usInstallLanguage = *static_cast<FWideString*>(data);
        return true;
    }
    if (message == "InstallQuery") {
        if (data)
            priFire("ON_CHECK_INSTALL", data);
        return true;
    }
    if (message == "LanguageQuery") {
        if (data)
            priFire("ON_CHECK_LANGUAGE", data);
        return true;
    }
    if (message == "SaveUninstall") {
        priSaveUninstall();
        return true;
    }
    if (message == "InitUninstall") {
        if (data) {
            m_pReceivedTree = static_cast<FPropList*>(data);
            priFire("ON_SEND_LAUNCH_TREE", data);
        }
        return true;
    }
    if (message == "UninstallStage") {
        if (!data)
            return true;
        m_usStage = *static_cast<FWideString*>(data);
        if (m_usStage == "Deletion") {
            priFire("ON_SEND_UNINSTALL_TREE", m_pReceivedTree);
        } else {
            FWideString stage = m_usStage;
            priFire("ON_SEND_INSTALL_STAGE", &stage);
        }
        return true;
    }
    return true;
}

void FUiInstallerMainWin::priFinishInstall()
{
    FWideString pair[2] = {m_usInstallList, FWideString(kInstallListName)};
    priFire("ON_SEND_REGISTRY_FILE", pair);
    priFire("ON_SEND_SHELL_LINK_FILE", pair);
    try {
        FWideString language = m_usInstallLanguage;
        priFire("ON_SEND_LANGUAGE", &language);
        priFire("ON_SAVE_TO_REGISTRY", nullptr);
    } catch (const FException& e) {
        DebugTraceText("Problem with saving registry!\n");
        throw FException(e.GetMessage());
    }
    try {
        priFire("ON_CREATE_LINKS", nullptr);
    } catch (const FException& e) {
        DebugTraceText("Problem with creating shell links!\n");
        throw FException(e.GetMessage());
    }
    m_usStage = "PreReboot";
}

void FUiInstallerMainWin::priSaveUninstall()
{
    FIFolder* folder = OpenExistingFolder(m_usTargetDirectory);
    if (!folder)
        throw FException("The Target Directory doesn't exist!  Cant't write uninstall file\n");
    const FWideString name(kUninstallFileName);
    FPropList* files = new FPropList(m_pOwnTree, "UNINSTALL_FILES");
    FPropList* file = new FPropList(files, "FILE");
    file->AddProp(FWideString("FileName"), ChildUrl(m_usTargetDirectory, name));
    WritePropListXml(m_pOwnTree, folder, name);
    folder->Release();
}

bool RegisterInstallerMainWin(FIUiObjectFactory* factory)
{
    return RegisterInstallerCreator<FUiInstallerMainWin>(factory, "INSTALLER_MAIN_WIN");
}
