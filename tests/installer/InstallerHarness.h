#pragma once

// One installer run in a temporary home: the installer file is a small stand-in
// executable with a real archive appended (script, install list, payload), and
// the application runs headless from that archive with the installer's objects.

#include <map>
#include <memory>
#include <string>
#include <vector>

#include "FScopedTempFolder.h"
#include "FWideString.h"

class FGenericUiApp;
class FProbeObject;
class FPropList;
class FUiInstallCopyControl;
class FUiInstallerMain;

struct ArchiveMember {
    std::string name;
    std::string bytes;
};

// Events of the two objects, each relayed in the harness script to a probe under its own name.
extern const std::vector<std::string> kCopyEvents;
extern const std::vector<std::string> kMainEvents;

class InstallerHarness
{
public:
    // The home is a fresh temporary folder, or a folder of that name inside one.
    explicit InstallerHarness(const std::string& homeName = std::string());
    ~InstallerHarness();
    InstallerHarness(const InstallerHarness&) = delete;
    InstallerHarness& operator=(const InstallerHarness&) = delete;

    const std::string& Home() const { return m_homePath; }
    std::string ConfigHome() const { return Home() + "/.config"; }
    std::string DataHome() const { return Home() + "/.local/share"; }
    std::string AppData() const { return ConfigHome() + "/Rawbench"; }
    std::string MakerFolder() const { return AppData() + "/Talvo"; }
    std::string Destination() const { return DataHome() + "/Talvo/Rawbench"; }
    std::string InstallerPath() const { return Home() + "/Downloads/RawbenchSetup"; }
    FWideString InstallerUrl() const;

    // The harness script with the install list and the payload, appended to a stand-in executable.
    bool WriteInstaller(const std::string& installList, const std::vector<ArchiveMember>& payload,
                        const std::string& extraScript = std::string());
    // An installer of exactly these members (its own script among them).
    bool WriteInstallerOf(const std::vector<ArchiveMember>& members);
    // The built installer's script, skins and the list a build with the application packs,
    // around a stand-in program and packed script.
    bool WriteBuiltInstaller(const std::string& readMe = "read me");
    // Writes the installer and starts the application from its archive; false when it did not start.
    bool Start(const std::string& installList, const std::vector<ArchiveMember>& payload = {},
               const std::string& extraScript = std::string());
    // Starts the application from the installer written last.
    bool Launch();
    void Stop();

    FGenericUiApp* App() const { return m_pApp; }
    FUiInstallCopyControl* Copy() const;
    FUiInstallerMain* Main() const;
    FProbeObject* CopyProbe() const;
    FProbeObject* MainProbe() const;

    // Ticks the copy control until it has nothing left; the number of ticks, or -1 past the limit.
    int TickCopy(int limit = 10000);

    // Walks the pages to a started copy: a language button's message, then the welcome,
    // destination and progress pages.
    void StartInstall(const char* languageMessage);
    // Runs what the desktop queued (a window's close among them); true when the loop would end.
    bool RunQueuedEvents();
    // Presses and releases the mouse in the middle of a button; false when there is none.
    bool Click(const char* button) const;
    // The text a DYNA_STRING, TEXT_BOX or MULTITEXT holds.
    std::string ShownText(const char* name) const;

    // Files below a folder (relative names), for "nothing written elsewhere" checks.
    std::vector<std::string> ListTree(const std::string& folder) const;

private:
    FScopedTempFolder m_home;
    std::string m_homePath;
    std::unique_ptr<FScopedEnv> m_envHome;
    std::unique_ptr<FScopedEnv> m_envConfig;
    std::unique_ptr<FScopedEnv> m_envData;
    FGenericUiApp* m_pApp = nullptr;
};

// A FILELIST element with one group per file: Filename, then the target's attributes.
std::string FileList(const std::vector<std::pair<std::string, std::string>>& groups,
                     const std::string& list = "");
// The URL of a native path.
FWideString UrlOf(const std::string& path);
// Reads a whole file; empty when it does not read.
std::string ReadWholeFile(const std::string& path);
bool PathExists(const std::string& path);
// Every entry below a folder with its kind, mode and, for a file, its bytes' digest.
std::map<std::string, std::string> SnapshotTree(const std::string& folder);
// A member of the built installer's archive; empty when it has none.
std::string BuiltArchiveMember(const char* name);
// What desktop-file-validate says about an entry: empty when it has nothing to say.
std::string ValidateDesktopEntry(const std::string& path);
// Parses an XML file of ours; null when it does not read.
std::unique_ptr<FPropList> ReadXmlFile(const std::string& path);
// "NAME a=1 b=2" per node, children indented by two blanks, one line each. The
// identities the installer records (Size, Sha256, Identity, InstallId) are left
// out unless asked for: they differ from run to run.
std::string DumpTree(const FPropList* node, int depth = 0, bool identities = false);
