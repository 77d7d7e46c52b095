#include "FUiInstallerMain.h"

#include "FCodePage.h"
#include "FDebugTrace.h"
#include "FException.h"
#include "FIStorageClass.h"
#include "FIUiApp.h"
#include "FIUiWindow.h"
#include "FOsInstanceLeftovers.h"
#include "FPropList.h"
#include "FUiMultiLangString.h"
#include "FXmlParser.h"
#include "FXmlWriter.h"
#include "InstallerPaths.h"
#include "InstallerRecord.h"
#include "StorageClassRegistry.h"

namespace
{

const char* const kEvents[] = {
    "ON_HIDE_SPLASH",
    "ON_SHOW_LANGUAGE",
    "ON_CLOSE_LANGUAGE",
    "ON_ENABLE_LANGUAGE_NEXT",
    "ON_CREATE_WELCOME",
    "ON_CREATE_CHOOSE",
    "ON_SET_CHOOSE_PATH",
    "ON_ENABLE_CHOOSE_NEXT",
    "ON_SHOW_DIR_SELECT",
    "ON_SET_DIR_SELECT_PATH",
    "ON_ENABLE_DIR_SELECT_OK",
    "ON_SEND_RELAY",
    "ON_SHOW_NEW_FOLDER",
    "ON_SET_SPACE_FREE",
    "ON_SHOW_PROGRESS",
    "ON_PROGRESS",
    "ON_CLOSE_PROGRESS",
    "ON_SHOW_INSTALL_SUCCESS",
    "ON_SHOW_INSTALL_COMPLETE",
    "ON_COPY_FILES",
    "ON_REBOOT",
    "ON_FINISH_INSTALL",
    "ON_SEND_COPY_DIR",
    "ON_SEND_LANGUAGE",
    "ON_SHOW_UNINSTALL",
    "ON_SEND_LAUNCH_TREE",
    "ON_SEND_TARGET_EXE_NAME",
    "ON_INIT_UNINSTALL",
    "ON_SEND_UNINSTALL_STAGE",
    "ON_SEND_UNINSTALL_TREE",
    "ON_INSTALL_AUTO_LAUNCH",
    "ON_REMOVE_AUTO_LAUNCH",
    "ON_SEND_PATH_TO_TREE",
    "ON_SHOW_UNINSTALL_REBOOT",
    "ON_SHOW_ERROR",
    "ON_SET_ERROR_TEXT",
};

struct LanguageButton {
    const char* message;
    const char* language;
};
const LanguageButton kLanguageButtons[] = {
    {"EnglishInstall", "English"},
    {"FrenchInstall", "French"},
    {"GermanInstall", "German"},
    {"JapaneseInstall", "Japanese"},
};

} // namespace

FUiInstallerMain::FUiInstallerMain(const char* typeName) : FUiObject(typeName), m_usLanguage("English")
{
    for (const char* name : kEvents)
        AddEvent(FWideString(name));
    m_pUninstallTree = new FPropList(nullptr, "UNINSTALL");
    m_pOwnFolders = new FPropList(nullptr, "UNINSTALL_FOLDERS");
    m_pOwnFiles = new FPropList(nullptr, "UNINSTALL_FILES");
}

FUiInstallerMain::~FUiInstallerMain()
{
    DeletePropList(m_pUninstallTree);
    DeletePropList(m_pOwnFolders);
    DeletePropList(m_pOwnFiles);
    DeletePropList(m_pPreviousTree);
}

bool FUiInstallerMain::InitUiObject(FIUiApp* app, FIUiWindow* window, FIUiObject* parent, FPropList* tag)
{
    return InitNonVisualUiObject(this, app, window, parent, tag);
}

void FUiInstallerMain::priFire(const char* event, void* data)
{
    if (RelayEvent* found = FindEvent(FWideString(event)))
        found->Fire(data);
}

void FUiInstallerMain::priSetAppLanguage(const FWideString& language)
{
    if (m_pApp)
        m_pApp->SetLanguage(language);
}

bool FUiInstallerMain::UiRelayMessage(const FWideString& message, void* data)
{
    DebugTrace("Message : %s\n", message.GetNarrow());
    if (message == "Post Creation Initialization") {
        m_usDestination = DefaultDestinationUrl();
        if (FindPreviousInstall()) {
            ReadCurrentLanguage();
            if (!(m_usLanguage == "English"))
                priSetAppLanguage(m_usLanguage);
            priFire("ON_SHOW_UNINSTALL", nullptr);
        } else if (!m_bRecordDamaged) {
            priFire("ON_SHOW_LANGUAGE", nullptr);
        }
        return true;
    }
    if (message == "we're goin' bye-bye")
        return true;
    if (message == "WindowLocation") {
        if (data) {
            const int32_t* xy = static_cast<const int32_t*>(data);
            m_iWindowX = xy[0];
            m_iWindowY = xy[1];
        }
        return true;
    }
    if (message == "WindowPointer") {
        if (data) {
            m_pShownWindow = static_cast<FIUiWindow*>(data);
            int xy[2] = {m_iWindowX, m_iWindowY};
            m_pShownWindow->UiRelayMessage(FWideString("Move"), xy);
            m_pShownWindow->UiRelayMessage(FWideString("Show"), nullptr);
        }
        return true;
    }
    if (message == "PropTree") {
        if (data)
            MergeIntoUninstallTree(m_pUninstallTree, static_cast<FPropList*>(data));
        return true;
    }
    if (message == "TargetExeName") {
        if (data) {
            m_usTargetExeName = *static_cast<FWideString*>(data);
            priFire("ON_SEND_TARGET_EXE_NAME", data);
        }
        return true;
    }
    if (message == "TargetExeFolder") {
        if (data)
            m_usTargetExeFolder = *static_cast<FWideString*>(data);
        return true;
    }
    if (message == "AutoLaunchExeName") {
        if (data)
            m_usAutoLaunchExe = *static_cast<FWideString*>(data);
        return true;
    }
    for (const LanguageButton& button : kLanguageButtons) {
        if (message == button.message) {
            m_usLanguage = button.language;
            priFire("ON_ENABLE_LANGUAGE_NEXT", nullptr);
            return true;
        }
    }
    if (message == "ShowWelcome") {
        if (!(m_usLanguage == "English"))
            priSetAppLanguage(m_usLanguage);
        priFire("ON_CREATE_WELCOME", nullptr);
        return true;
    }
    if (message == "ShowLanguage") {
        if (!(m_usLanguage == "English")) {
            m_usLanguage = "English";
            priSetAppLanguage(m_usLanguage);
        }
        priFire("ON_SHOW_LANGUAGE", nullptr);
        return true;
    }
    if (message == "ShowChoose") {
        priFire("ON_CREATE_CHOOSE", nullptr);
        FWideString native = NativeOf(m_usDestination);
        priFire("ON_SET_CHOOSE_PATH", &native);
        bool usable = CheckDestination(m_usDestination);
        priFire("ON_ENABLE_CHOOSE_NEXT", &usable);
        return true;
    }
    if (message == "ShowInstallSuccess") {
        priFire("ON_SHOW_INSTALL_SUCCESS", nullptr);
        return true;
    }
    if (message == "ShowDirSelect") {
        priFire("ON_SHOW_DIR_SELECT", nullptr);
        priFire("ON_SEND_RELAY", static_cast<FIUiRelay*>(this));
        // The chooser can show only a folder that exists: the deepest one on the way.
        FWideString destination = m_usDestination;
        for (FUrlParts parts = UrlParts(m_usDestination); parts.size() > 2; parts.pop_back()) {
            if (FIFolder* folder = OpenExistingFolder(JoinParts(parts, true))) {
                destination = folder->GetURL();
                folder->Release();
                break;
            }
        }
        priFire("ON_SET_DIR_SELECT_PATH", &destination);
        bool usable = CheckDestination(m_usDestination);
        priFire("ON_ENABLE_DIR_SELECT_OK", &usable);
        return true;
    }
    if (message == "DirectoryChanged") {
        if (!data)
            return true;
        const FWideString url = *static_cast<FWideString*>(data);
        bool usable = CheckDestination(url);
        if (usable) {
            m_usDestination = url;
            if (!url.IsEmpty()) {
                FWideString native = NativeOf(url);
                priFire("ON_SET_CHOOSE_PATH", &native);
            }
        }
        priFire("ON_ENABLE_DIR_SELECT_OK", &usable);
        return true;
    }
    if (message == "NewFolder") {
        priFire("ON_SHOW_NEW_FOLDER", nullptr);
        return true;
    }
    if (message == "NewFolderName") {
        if (data)
            m_usNewFolderName = *static_cast<FWideString*>(data);
        return true;
    }
    if (message == "CreateNewFolder") {
        priCreateNewFolder();
        return true;
    }
    if (message == "ValidDirectory") {
        bool usable = true;
        priFire("ON_ENABLE_CHOOSE_NEXT", &usable);
        return true;
    }
    if (message == "ShowProgress") {
        priFire("ON_SHOW_PROGRESS", nullptr);
        return true;
    }
    if (message == "Progress") {
        if (data) {
            double value = *static_cast<double*>(data);
            priFire("ON_PROGRESS", &value);
        }
        return true;
    }
    if (message == "CopyFiles") {
        priBeginInstall();
        FWideString language = m_usLanguage;
        priFire("ON_SEND_LANGUAGE", &language);
        FWideString destination = m_usDestination;
        priFire("ON_SEND_COPY_DIR", &destination);
        priFire("ON_COPY_FILES", nullptr);
        return true;
    }
    if (message == "FinishInstall") {
        priFinishInstall();
        return true;
    }
    if (message == "InstallFailed") {
        // Nothing stays half installed: what the copy put in place is taken away again.
        priRollBack();
        FWideString text = data ? *static_cast<FWideString*>(data) : FWideString();
        priShowError(FWideString("ErrorCopyFailed"), text);
        return true;
    }
    if (message == "InstallCancelled") {
        priRollBack();
        if (m_pWindow)
            m_pWindow->UiRelayMessage(FWideString("Close"), nullptr);
        return true;
    }
    if (message == "FolderCreated") {
        // A folder the folder chooser made for this installation is ours to remove later.
        if (data)
            priRecordOwnFolder(*static_cast<FWideString*>(data));
        return true;
    }
    if (message == "ShowInstallComplete") {
        priFire("ON_SHOW_INSTALL_COMPLETE", nullptr);
        return true;
    }
    if (message == "Reboot") {
        priFire("ON_REBOOT", nullptr);
        return true;
    }
    if (message == "Uninstall") {
        priUninstall();
        return true;
    }
    if (message == "Error") {
        if (data)
            priShowError(*static_cast<FWideString*>(data), FWideString());
        return true;
    }
    if (message == "MotionFlag") {
        m_bSuppressExit = true;
        return true;
    }
    if (message == "Exit") {
        if (m_bSuppressExit) {
            m_bSuppressExit = false;
            return true;
        }
        if (m_pWindow)
            m_pWindow->UiRelayMessage(FWideString("Close"), nullptr);
        return true;
    }
    return true;
}

void FUiInstallerMain::priShowError(const FWideString& displayString, const FWideString& fallback)
{
    priFire("ON_SHOW_ERROR", nullptr);
    FIUiMultiLangString* string = m_pApp ? m_pApp->GetDisplayString(displayString) : nullptr;
    FWideString text;
    if (string && string->GetText())
        text = *string->GetText();
    if (!fallback.IsEmpty()) {
        if (!text.IsEmpty())
            text += "\n";
        text += fallback;
    }
    if (!text.IsEmpty())
        priFire("ON_SET_ERROR_TEXT", &text);
}

bool FUiInstallerMain::priDefaultFreeSpace(const FWideString& url, int64_t& freeBytes)
{
    // The deepest folder on the way that exists is on the volume the files will go to.
    FUrlParts parts = UrlParts(url);
    while (parts.size() >= 2) {
        if (FIFolder* folder = OpenExistingFolder(JoinParts(parts, true))) {
            freeBytes = folder->GetFreeSpace();
            folder->Release();
            return true;
        }
        parts.pop_back();
    }
    return false;
}

bool FUiInstallerMain::IsWritableDestination(const FWideString& url)
{
    // A folder the removal would never touch cannot take an installation either.
    return !IsProtectedFolderUrl(FolderKey(url)) && IsWritableFolderPath(url);
}

bool FUiInstallerMain::CheckDestination(const FWideString& url)
{
    const FWideString& checked = url.IsEmpty() ? m_usDestination : url;
    int64_t freeBytes = 0;
    bool opened = false;
    if (UrlParts(checked).size() >= 2)
        opened =
            m_freeSpaceProbe ? m_freeSpaceProbe(checked, freeBytes) : priDefaultFreeSpace(checked, freeBytes);
    FWideString text;
    if (!opened) {
        text = "0 MB";
        priFire("ON_SET_SPACE_FREE", &text);
        return false;
    }
    text.SetByteSize(freeBytes > 0 ? freeBytes : 0);
    priFire("ON_SET_SPACE_FREE", &text);
    return freeBytes >= kMinFreeBytes && IsWritableDestination(checked);
}

bool FUiInstallerMain::FindPreviousInstall()
{
    DeletePropList(m_pPreviousTree);
    m_bRecordDamaged = false;
    FIFolder* folder = OpenExistingFolder(MakerFolderUrl());
    if (!folder)
        return false;
    const FWideString name(kUninstallFileName);
    if (FIFile* file = folder->OpenFile(name, kFileRead)) {
        file->Release();
        try {
            FXmlParser parser;
            m_pPreviousTree = parser.ParseFile(folder, name);
        } catch (const FException& e) {
            // A damaged record must not keep the installer from starting: the user is told.
            DebugTrace("FUiInstallerMain::FindPreviousInstall: %s (%s)\n", e.GetDescription(),
                       e.GetMessage());
            m_pPreviousTree = nullptr;
            folder->Release();
            FWideString text("The record of the earlier installation is damaged: ");
            text += NativeOf(ChildUrl(MakerFolderUrl(), name));
            priShowError(FWideString("ErrorDamagedRecord"), text);
            m_bRecordDamaged = true;
            return false;
        }
    }
    folder->Release();
    return m_pPreviousTree != nullptr;
}

void FUiInstallerMain::priCreateNewFolder()
{
    if (m_usNewFolderName.IsEmpty() || !IsPlainEntryName(m_usNewFolderName))
        return;
    FUrlParts parts = UrlParts(m_usDestination);
    if (parts.size() < 2)
        return;
    FWideString escaped;
    EscapeURLChars(m_usNewFolderName, escaped);
    parts.push_back(escaped);
    const FWideString url = JoinParts(parts, true);
    FIFolder* existing = OpenExistingFolder(url);
    FIFolder* folder = existing ? existing : OpenOrCreateFolder(url);
    if (!folder)
        return;
    m_usDestination = folder->GetURL();
    folder->Release();
    FWideString destination = m_usDestination;
    priFire("ON_SEND_PATH_TO_TREE", &destination);
    // Only a folder made here is ours to remove later.
    if (!existing)
        priRecordOwnFolder(m_usDestination);
}

void FUiInstallerMain::priRecordOwnFolder(const FWideString& url)
{
    const FWideString key = FolderKey(url);
    if (key.IsEmpty())
        return;
    FPropList* record = new FPropList(m_pOwnFolders, "FOLDER");
    record->AddProp(FWideString("FolderName"), key);
    if (!AddFolderIdentity(record, key))
        delete record;
}

void FUiInstallerMain::MergeIntoUninstallTree(FPropList* root, FPropList* tree)
{
    if (!root || !tree)
        return;
    FPropList* target = root->FindChild(tree->GetName());
    if (!target)
        target = new FPropList(root, tree->GetName());
    for (FPropList* child = tree->GetFirstChild(); child; child = child->GetNext())
        target->AppendChild(*child);
}

void FUiInstallerMain::priBeginInstall()
{
    // Taken before anything is written: every folder missing now that exists at the end was made here.
    std::vector<FWideString> places = InstallPlaces();
    places.push_back(FolderKey(m_usDestination));
    m_wayFolders = MissingFoldersOnTheWay(places);
    FPropList* root = m_pUninstallTree->FindChild("INSTALL_ROOT");
    if (!root)
        root = new FPropList(m_pUninstallTree, "INSTALL_ROOT");
    root->SetString(FWideString("FolderName"), FolderKey(m_usDestination));
    root->SetString(FWideString("InstallId"), NewInstallId());
}

void FUiInstallerMain::priWriteStamp()
{
    const FPropList* root = m_pUninstallTree->FindChild("INSTALL_ROOT");
    if (!root)
        return;
    const FWideString folder = root->GetString(FWideString("FolderName"), FWideString());
    if (FIFolder* existing = OpenExistingFolder(folder)) {
        existing->Release();
        WriteInstallStamp(folder, root->GetString(FWideString("InstallId"), FWideString()));
    }
}

void FUiInstallerMain::priRecordWayFolders()
{
    FPropList* list = m_pUninstallTree->FindChild("UNINSTALL_FOLDERS");
    auto recorded = [&](const FWideString& url) {
        for (FPropList* node = list ? list->GetFirstChild() : nullptr; node; node = node->GetNext()) {
            if (FolderKey(node->GetString(FWideString("FolderName"), FWideString())) == url)
                return node;
        }
        return static_cast<FPropList*>(nullptr);
    };
    for (const FWideString& url : m_wayFolders) {
        if (FPropList* node = recorded(url)) {
            AddFolderIdentity(node, url);
            continue;
        }
        FPropList record(nullptr, "FOLDER");
        record.AddProp(FWideString("FolderName"), url);
        if (!AddFolderIdentity(&record, url))
            continue;
        if (!list)
            list = new FPropList(m_pUninstallTree, "UNINSTALL_FOLDERS");
        list->AppendChild(record);
    }
}

bool FUiInstallerMain::priWriteUninstallRecord()
{
    priWriteStamp();
    MergeIntoUninstallTree(m_pUninstallTree, m_pOwnFolders);
    while (FPropList* child = m_pOwnFolders->GetFirstChild())
        delete child;
    FIFolder* maker = OpenOrCreateFolder(MakerFolderUrl());
    priRecordWayFolders();
    if (!maker)
        return false;
    const FWideString name(kUninstallFileName);
    FPropList* record = new FPropList(m_pOwnFiles, "FILE");
    record->AddProp(FWideString("FileName"), ChildUrl(maker->GetURL(), name));
    MergeIntoUninstallTree(m_pUninstallTree, m_pOwnFiles);
    // Each list is merged once: a second write must not record the files twice.
    while (FPropList* child = m_pOwnFiles->GetFirstChild())
        delete child;
    const bool written = WritePropListXml(m_pUninstallTree, maker, name);
    maker->Release();
    return written;
}

void FUiInstallerMain::priFinishInstall()
{
    priFire("ON_CLOSE_PROGRESS", nullptr);
    priFire("ON_SHOW_INSTALL_SUCCESS", nullptr);
    // Whatever fails from here on, the record of what is in place gets written.
    bool failed = false;
    FWideString failure;
    try {
        priFire("ON_FINISH_INSTALL", nullptr);
    } catch (const FException& e) {
        failed = true;
        failure = WideFromUtf8(e.GetMessage());
    }
    WriteTargetAppFiles();
    MergeIntoUninstallTree(m_pUninstallTree, m_pOwnFolders);
    while (FPropList* child = m_pOwnFolders->GetFirstChild())
        delete child;
    FWideString destination = m_usDestination;
    priFire("ON_INSTALL_AUTO_LAUNCH", &destination);
    // The programs of the launch list are started only from a stamped destination.
    priWriteStamp();
    priFire("ON_SEND_LAUNCH_TREE", m_pUninstallTree);
    if (!priWriteUninstallRecord())
        throw FException("The Target Directory doesn't exist!  Can't write uninstall file\n");
    if (failed)
        throw FException(Utf8FromWide(failure).c_str());
}

void FUiInstallerMain::priRunRemoval(FPropList* tree, bool withLaunches)
{
    priFire("ON_INIT_UNINSTALL", tree);
    if (withLaunches) {
        m_usUninstallStage = "PreDeletion";
        priFire("ON_SEND_UNINSTALL_STAGE", &m_usUninstallStage);
        priFire("ON_REMOVE_AUTO_LAUNCH", nullptr);
    }
    m_usUninstallStage = "Deletion";
    priFire("ON_SEND_UNINSTALL_STAGE", &m_usUninstallStage);
    priFire("ON_SEND_UNINSTALL_TREE", tree);
    if (withLaunches) {
        m_usUninstallStage = "PostUninstall";
        priFire("ON_SEND_UNINSTALL_STAGE", &m_usUninstallStage);
    }
    if (tree)
        priRemoveLeftovers(tree);
}

void FUiInstallerMain::priRemoveLeftovers(FPropList* tree)
{
    const FWideString root = TrustedInstallRoot(tree);
    FIFolder* maker = OpenExistingFolder(MakerFolderUrl());
    if (maker) {
        // The auto-launch preference goes with the program it names.
        const FWideString prefs(kAutoLaunchPrefsName);
        bool isFolder = false;
        if (!root.IsEmpty() && maker->Exists(prefs, &isFolder) && !isFolder) {
            FPropList* prefsTree = nullptr;
            try {
                FXmlParser parser;
                prefsTree = parser.ParseFile(maker, prefs);
            } catch (const FException&) {
                prefsTree = nullptr;
            }
            const FWideString program =
                prefsTree ? prefsTree->GetString(FWideString("Application_Name"), FWideString())
                          : FWideString();
            if (!program.IsEmpty() && IsUrlInside(program, root))
                maker->DeleteFile(prefs);
            DeletePropList(prefsTree);
        }
        maker->DeleteFile(FWideString(kUninstallFileName));
        maker->Release();
    }
    RemoveInstallStamp(root);
    RemoveOsInstanceLeftovers(kProgramName);
    RemoveRecordedFolders(tree, root);
}

void FUiInstallerMain::priRollBack()
{
    MergeIntoUninstallTree(m_pUninstallTree, m_pOwnFolders);
    while (FPropList* child = m_pOwnFolders->GetFirstChild())
        delete child;
    priWriteUninstallRecord();
    priRunRemoval(m_pUninstallTree, false);
    // A later run starts afresh.
    DeletePropList(m_pUninstallTree);
    m_pUninstallTree = new FPropList(nullptr, "UNINSTALL");
}

void FUiInstallerMain::priUninstall()
{
    priRunRemoval(m_pPreviousTree, true);
    priFire("ON_SHOW_UNINSTALL_REBOOT", nullptr);
}

bool RegisterInstallerMain(FIUiObjectFactory* factory)
{
    return RegisterInstallerCreator<FUiInstallerMain>(factory, "INSTALLER_MAIN");
}
