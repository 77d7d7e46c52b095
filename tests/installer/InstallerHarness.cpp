#include "InstallerHarness.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "FBundleFolder.h"
#include "FBundleWriter.h"
#include "FCodePage.h"
#include "FException.h"
#include "FGenericUiApp.h"
#include "FHeadlessDesktop.h"
#include "FProbeObject.h"
#include "FPropList.h"
#include "FSha256.h"
#include "FUiButton.h"
#include "FUiDynaString.h"
#include "FUiInstallCopyControl.h"
#include "FUiInstallerMain.h"
#include "FUiMultiText.h"
#include "FUiScriptFixture.h"
#include "FUiTextBox.h"
#include "FUiWidgets.h"
#include "FXmlParser.h"
#include "InstallerStart.h"
#include "StorageClassRegistry.h"

namespace fs = std::filesystem;

const std::vector<std::string> kCopyEvents = {
    "ON_SEND_DEBUG_OS",
    "ON_SEND_DEBUG_SYS",
    "ON_SEND_DEBUG_TAR",
    "ON_START_COPY",
    "ON_COPY_COMPLETE",
    "ON_COPY_UPDATE_COMPLETE",
    "ON_PROGRESS",
    "ON_SEND_PROP_TREE",
    "ON_SEND_TARGET_EXE_NAME",
    "ON_SEND_TARGET_EXE_FOLDER",
    "ON_SEND_ERROR",
    "ON_SEND_AUTO_LAUNCH_EXE_NAME",
    "ON_COPY_FAILED",
};

const std::vector<std::string> kMainEvents = {
    "ON_SHOW_LANGUAGE",
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

namespace
{

std::string Relays(const std::vector<std::string>& events, const std::string& probe)
{
    std::string text;
    for (const std::string& event : events)
        text += "      <" + event + " Relay=\"" + probe + "\" Message=\"" + event + "\"/>\n";
    return text;
}

// The controller and the copy control talk as a working installer script connects them.
std::string HarnessScript(const std::string& extra)
{
    return R"(<UI_SCRIPT Name="Rawbench" AppName="RawbenchSetup">
  <LANGUAGES>
    <LANGUAGE Name="English" Default="true"/><LANGUAGE Name="French"/><LANGUAGE Name="German"/><LANGUAGE Name="Japanese"/>
  </LANGUAGES>
  <FONTS><APPFONT Name="Body" Height="14" Color="#000000"><MSWFONT><English Fontname="DejaVu Sans"/></MSWFONT></APPFONT></FONTS>
  <DISPLAY_STRING Name="ErrorCopyFailed" AppFont="Body"><English Text="Copy failed."/><French Text="Copie impossible."/></DISPLAY_STRING>
  <DISPLAY_STRING Name="ErrorDiskFull" AppFont="Body"><English Text="The disk is full."/><French Text="Le disque est plein."/></DISPLAY_STRING>
  <PROBE Name="CopyProbe"/>
  <PROBE Name="MainProbe"/>
)" + extra +
           R"(
  <WINDOW Name="SetupWin" DX="200" DY="100" BgColor="#E0E0E0" _MessageOnClose="true">
    <ON_CLOSE_PRESSED Relay="MainProbe" Message="WindowClosePressed"/>
    <VBOX>
    <INSTALLER_MAIN Name="Main">
)" + Relays(kMainEvents, "MainProbe") +
           R"(      <ON_SEND_LANGUAGE Relay="SetupWin.Copy" Message="Language"/>
      <ON_SEND_COPY_DIR Relay="SetupWin.Copy" Message="TargetDirectory"/>
      <ON_COPY_FILES Relay="SetupWin.Copy" Message="CopyFiles"/>
      <ON_SEND_UNINSTALL_TREE Relay="SetupWin.Copy" Message="UninstallTree"/>
    </INSTALLER_MAIN>
    <COPY_CONTROL Name="Copy">
)" + Relays(kCopyEvents, "CopyProbe") +
           R"(      <ON_SEND_TARGET_EXE_NAME Relay="SetupWin.Main" Message="TargetExeName"/>
      <ON_SEND_TARGET_EXE_FOLDER Relay="SetupWin.Main" Message="TargetExeFolder"/>
      <ON_SEND_AUTO_LAUNCH_EXE_NAME Relay="SetupWin.Main" Message="AutoLaunchExeName"/>
      <ON_SEND_PROP_TREE Relay="SetupWin.Main" Message="PropTree"/>
      <ON_PROGRESS Relay="SetupWin.Main" Message="Progress"/>
      <ON_COPY_COMPLETE Relay="SetupWin.Main" Message="FinishInstall"/>
      <ON_COPY_FAILED Relay="SetupWin.Main" Message="InstallFailed"/>
    </COPY_CONTROL>
    </VBOX>
  </WINDOW>
</UI_SCRIPT>
)";
}

} // namespace

InstallerHarness::InstallerHarness(const std::string& homeName)
    : m_homePath(homeName.empty() ? m_home.GetPath() : m_home.Join(homeName))
{
    fs::create_directories(m_homePath);
    EnsureDiskStorageClass();
    m_envHome = std::make_unique<FScopedEnv>("HOME", Home());
    m_envConfig = std::make_unique<FScopedEnv>("XDG_CONFIG_HOME", ConfigHome());
    m_envData = std::make_unique<FScopedEnv>("XDG_DATA_HOME", DataHome());
    fs::create_directories(ConfigHome());
    fs::create_directories(DataHome());
    fs::create_directories(Home() + "/Downloads");
}

InstallerHarness::~InstallerHarness()
{
    Stop();
}

FWideString InstallerHarness::InstallerUrl() const
{
    FWideString url;
    NativePathToURL(WideFromUtf8(InstallerPath()), url);
    return url;
}

bool InstallerHarness::WriteInstaller(const std::string& installList,
                                      const std::vector<ArchiveMember>& payload,
                                      const std::string& extraScript)
{
    std::vector<ArchiveMember> members = {{"ui.xml", HarnessScript(extraScript)},
                                          {"InstallList.xml", installList}};
    members.insert(members.end(), payload.begin(), payload.end());
    return WriteInstallerOf(members);
}

bool InstallerHarness::WriteInstallerOf(const std::vector<ArchiveMember>& members)
{
    FBundleWriter writer;
    bool ok = true;
    for (const ArchiveMember& member : members)
        ok = writer.AddMember(member.name,
                              std::vector<unsigned char>(member.bytes.begin(), member.bytes.end())) &&
             ok;
    const std::string stub = "stand-in executable\n";
    std::vector<unsigned char> file(stub.begin(), stub.end());
    if (!ok || !writer.AppendTo(file))
        return false;
    std::ofstream out(InstallerPath(), std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(file.data()), static_cast<std::streamsize>(file.size()));
    return static_cast<bool>(out);
}

std::string BuiltArchiveMember(const char* name)
{
    FBundleFolder archive(UrlOf(RB_SETUP_EXECUTABLE));
    FIFile* file = archive.OpenFile(FWideString(name), kFileRead);
    if (!file)
        return std::string();
    std::string bytes(static_cast<size_t>(file->GetSize()), '\0');
    if (!bytes.empty())
        file->Read(bytes.data(), static_cast<int>(bytes.size()));
    file->Release();
    return bytes;
}

bool InstallerHarness::WriteBuiltInstaller(const std::string& readMe)
{
    std::vector<ArchiveMember> members = {{"InstallList.xml", ReadWholeFile(RB_SETUP_LIST_WITH_APP)},
                                          {"README.md", readMe},
                                          {"Rawbench", "#!/bin/sh\nexit 0\n"},
                                          {"ui.btb", "packed script"}};
    // The built installer's script and skins as they are.
    FBundleFolder archive(UrlOf(RB_SETUP_EXECUTABLE));
    std::vector<FWideString> names;
    archive.ListFiles(names);
    for (const FWideString& name : names) {
        const std::string member = Utf8FromWide(name);
        if (member == "ui.xml" || (member.size() > 4 && member.compare(member.size() - 4, 4, ".png") == 0))
            members.push_back({member, BuiltArchiveMember(member.c_str())});
    }
    return WriteInstallerOf(members);
}

bool InstallerHarness::Start(const std::string& installList, const std::vector<ArchiveMember>& payload,
                             const std::string& extraScript)
{
    return WriteInstaller(installList, payload, extraScript) && Launch();
}

bool InstallerHarness::Launch()
{
    Stop();
    GetHeadlessDesktop().Reset();
    m_pApp = CreateGenericUiApp();
    RegisterProbe(m_pApp->GetUiObjectFactory());
    RegisterUiWidgets(m_pApp->GetUiObjectFactory());
    if (!installer::BrisalMain(m_pApp, FWideString("RawbenchSetup"), FWideString()))
        return false;
    bool another = false;
    try {
        return m_pApp->InitFromScript(new FBundleFolder(InstallerUrl()), FWideString("ui.xml"), another);
    } catch (const FException& e) {
        ADD_FAILURE() << e.GetDescription() << " (" << e.GetMessage() << ")";
        return false;
    }
}

void InstallerHarness::Stop()
{
    if (m_pApp)
        DeleteGenericUiApp(m_pApp);
    m_pApp = nullptr;
}

FUiInstallCopyControl* InstallerHarness::Copy() const
{
    return m_pApp ? dynamic_cast<FUiInstallCopyControl*>(m_pApp->GetUiRelay(FWideString("SetupWin.Copy")))
                  : nullptr;
}

FUiInstallerMain* InstallerHarness::Main() const
{
    return m_pApp ? dynamic_cast<FUiInstallerMain*>(m_pApp->GetUiRelay(FWideString("SetupWin.Main")))
                  : nullptr;
}

FProbeObject* InstallerHarness::CopyProbe() const
{
    return FProbeObject::FindLive("CopyProbe");
}

FProbeObject* InstallerHarness::MainProbe() const
{
    return FProbeObject::FindLive("MainProbe");
}

void InstallerHarness::StartInstall(const char* languageMessage)
{
    for (const char* message : {languageMessage, "ShowWelcome", "ShowChoose", "ShowProgress", "CopyFiles"})
        Main()->UiRelayMessage(FWideString(message), nullptr);
}

bool InstallerHarness::RunQueuedEvents()
{
    auto& queue = GetHeadlessDesktop().queue;
    for (int i = 0; i < 100 && !queue.empty(); ++i) {
        auto event = queue.front();
        queue.pop_front();
        event();
    }
    return GetHeadlessDesktop().quit;
}

bool InstallerHarness::Click(const char* button) const
{
    auto* object = m_pApp ? dynamic_cast<FUiButton*>(m_pApp->GetUiRelay(FWideString(button))) : nullptr;
    if (!object)
        return false;
    const FRect rect = object->GetRect();
    const int x = (rect.left + rect.right) / 2, y = (rect.top + rect.bottom) / 2;
    object->MouseDown(x, y, false, false);
    object->MouseUp(x, y, false, false);
    return true;
}

std::string InstallerHarness::ShownText(const char* name) const
{
    FIUiRelay* relay = m_pApp ? m_pApp->GetUiRelay(FWideString(name)) : nullptr;
    if (auto* multi = dynamic_cast<FUiMultiText*>(relay))
        return Utf8FromWide(multi->GetSourceText());
    if (auto* box = dynamic_cast<FUiTextBox*>(relay))
        return Utf8FromWide(box->GetText());
    if (auto* dyna = dynamic_cast<FUiDynaString*>(relay))
        return Utf8FromWide(dyna->GetShownText());
    return std::string("(no ") + name + ")";
}

int InstallerHarness::TickCopy(int limit)
{
    FUiInstallCopyControl* copy = Copy();
    for (int ticks = 0; ticks < limit; ++ticks) {
        if (copy->GetRemaining() <= 0)
            return ticks;
        copy->Tick(10);
    }
    return -1;
}

std::vector<std::string> InstallerHarness::ListTree(const std::string& folder) const
{
    std::vector<std::string> names;
    std::error_code error;
    if (!fs::exists(folder, error))
        return names;
    for (const auto& entry : fs::recursive_directory_iterator(folder, error))
        names.push_back(fs::relative(entry.path(), folder).generic_string() +
                        (entry.is_directory() ? "/" : ""));
    std::sort(names.begin(), names.end());
    return names;
}

std::string FileList(const std::vector<std::pair<std::string, std::string>>& groups, const std::string& list)
{
    std::string text = "<INSTALL_LIST>\n  <FILELIST" + (list.empty() ? std::string() : " " + list) + ">\n";
    for (const auto& [file, target] : groups)
        text += "    <GROUP Filename=\"" + file + "\"><TARGET " + target + "/></GROUP>\n";
    return text + "  </FILELIST>\n</INSTALL_LIST>\n";
}

FWideString UrlOf(const std::string& path)
{
    FWideString url;
    NativePathToURL(WideFromUtf8(path), url);
    return url;
}

std::string ReadWholeFile(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    std::ostringstream bytes;
    bytes << in.rdbuf();
    return bytes.str();
}

bool PathExists(const std::string& path)
{
    struct stat st;
    return lstat(path.c_str(), &st) == 0;
}

std::map<std::string, std::string> SnapshotTree(const std::string& folder)
{
    std::map<std::string, std::string> entries;
    std::error_code error;
    for (auto it = fs::recursive_directory_iterator(folder, error); it != fs::recursive_directory_iterator();
         it.increment(error)) {
        const fs::path& path = it->path();
        struct stat st;
        if (lstat(path.c_str(), &st) != 0)
            continue;
        std::string value = std::to_string(st.st_mode);
        if (S_ISREG(st.st_mode)) {
            FSha256 digest;
            const std::string bytes = ReadWholeFile(path.string());
            digest.Add(bytes.data(), bytes.size());
            value += " " + digest.FinishHex();
        }
        entries[fs::relative(path, folder).generic_string()] = value;
    }
    return entries;
}

std::unique_ptr<FPropList> ReadXmlFile(const std::string& path)
{
    const fs::path p(path);
    FWideString url, name;
    if (!NativePathToURL(WideFromUtf8(p.parent_path().string()), url))
        return nullptr;
    FIFolder* folder = OpenFolderURL(url, name, false);
    if (!folder)
        return nullptr;
    std::unique_ptr<FPropList> root;
    try {
        FXmlParser parser;
        root.reset(parser.ParseFile(folder, WideFromUtf8(p.filename().string())));
    } catch (...) {
        root.reset();
    }
    folder->Release();
    return root;
}

std::string DumpTree(const FPropList* node, int depth, bool identities)
{
    if (!node)
        return std::string();
    std::string text(static_cast<size_t>(depth) * 2, ' ');
    text += Utf8FromWide(node->GetName());
    for (FPropPair* pair = node->GetFirstProp(); pair; pair = pair->GetNext()) {
        const std::string name = Utf8FromWide(pair->GetName());
        if (!identities && (name == "Size" || name == "Sha256" || name == "Identity" || name == "InstallId"))
            continue;
        text += " " + name + "=" + Utf8FromWide(pair->GetValue());
    }
    text += "\n";
    for (FPropList* child = node->GetFirstChild(); child; child = child->GetNext())
        text += DumpTree(child, depth + 1, identities);
    return text;
}

// What desktop-file-validate says about an entry: empty when it has nothing to say.
std::string ValidateDesktopEntry(const std::string& path)
{
    const std::string command = "desktop-file-validate '" + path + "' 2>&1; echo \"exit $?\"";
    std::string output;
    if (FILE* pipe = popen(command.c_str(), "r")) {
        char buffer[512];
        while (fgets(buffer, sizeof buffer, pipe))
            output += buffer;
        pclose(pipe);
    }
    return output == "exit 0\n" ? std::string() : output;
}
