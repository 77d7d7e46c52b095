// Installing files from the archive appended to the installer, ticked as the
// installer's window ticks the copy control, beside copying the same bytes
// through the storage classes in the same pieces.

#include "../support/BesideCopy.h"

#include "FBundleFolder.h"
#include "FBundleWriter.h"
#include "FCodePage.h"
#include "FGenericUiApp.h"
#include "FIStorageClass.h"
#include "FSCDiskWin.h"
#include "FUiInstallCopyControl.h"
#include "InstallerStart.h"
#include "StorageClassRegistry.h"

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <stdexcept>
#include <string>
#include <vector>

namespace fs = std::filesystem;

namespace
{

// The release build's installer program, packed this many times under different
// names: a payload of the size and kind the installer carries.
constexpr int kCopies = 24;

std::string ReadAll(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

FWideString UrlOf(const fs::path& path)
{
    FWideString url;
    NativePathToURL(WideFromUtf8(path.string()), url);
    return url;
}

struct Setup {
    Setup()
    {
        FWideString path;
        if (!FindStorageClass(FWideString("disk"), path))
            RegisterDiskStorageClass();
        m_root = fs::temp_directory_path() / ("rb-bench-installer-" + std::to_string(::getpid()));
        fs::remove_all(m_root);
        fs::create_directories(m_root / "config");
        fs::create_directories(m_root / "data");
        setenv("XDG_CONFIG_HOME", (m_root / "config").c_str(), 1);
        setenv("XDG_DATA_HOME", (m_root / "data").c_str(), 1);

        const std::string program = ReadAll(RB_SETUP_PROGRAM);
        std::string list = "<INSTALL_LIST><FILELIST>\n";
        FBundleWriter writer;
        for (int i = 0; i < kCopies; ++i) {
            const std::string name = "file" + std::to_string(i) + ".bin";
            m_names.push_back(name);
            m_bytes += program.size();
            writer.AddMember(name, std::vector<unsigned char>(program.begin(), program.end()));
            list += "<GROUP Filename=\"" + name +
                    "\"><TARGET Install_OS=\"Linux\" DestDir=\"<TARGETDIR>\"/></GROUP>\n";
        }
        list += "</FILELIST></INSTALL_LIST>\n";
        const std::string script = R"(<UI_SCRIPT Name="Rawbench" AppName="RawbenchSetup">
          <LANGUAGES><LANGUAGE Name="English" Default="true"/></LANGUAGES>
          <WINDOW Name="SetupWin" DX="100" DY="100"><COPY_CONTROL Name="Copy"/></WINDOW></UI_SCRIPT>)";
        writer.AddMember("ui.xml", std::vector<unsigned char>(script.begin(), script.end()));
        writer.AddMember("InstallList.xml", std::vector<unsigned char>(list.begin(), list.end()));
        std::vector<unsigned char> file(program.begin(), program.end());
        writer.AppendTo(file);
        m_installer = m_root / "RawbenchSetup";
        std::ofstream(m_installer, std::ios::binary)
            .write(reinterpret_cast<const char*>(file.data()), static_cast<std::streamsize>(file.size()));
    }
    ~Setup()
    {
        if (m_pApp)
            DeleteGenericUiApp(m_pApp);
        fs::remove_all(m_root);
    }

    // Untimed: a fresh installer started from its archive, and empty destinations.
    void Restore()
    {
        fs::remove_all(m_root / "installed");
        fs::remove_all(m_root / "copied");
        fs::create_directories(m_root / "copied");
        if (m_pApp)
            DeleteGenericUiApp(m_pApp);
        m_pApp = CreateGenericUiApp();
        installer::BrisalMain(m_pApp, FWideString("RawbenchSetup"), FWideString());
        bool another = false;
        if (!m_pApp->InitFromScript(new FBundleFolder(UrlOf(m_installer)), FWideString("ui.xml"), another))
            throw std::runtime_error("the installer's script did not start");
        m_pCopy = dynamic_cast<FUiInstallCopyControl*>(m_pApp->GetUiRelay(FWideString("SetupWin.Copy")));
    }

    // From "CopyFiles" to the last file in place, one tick after another.
    void Install()
    {
        FWideString target = UrlOf(m_root / "installed");
        m_pCopy->UiRelayMessage(FWideString("TargetDirectory"), &target);
        m_pCopy->UiRelayMessage(FWideString("CopyFiles"), nullptr);
        while (m_pCopy->GetRemaining() > 0)
            m_pCopy->Tick(10);
    }

    void CopyWithStorage()
    {
        FBundleFolder archive(UrlOf(m_installer));
        std::vector<unsigned char> buffer(FUiInstallCopyControl::kChunkSize);
        for (const std::string& name : m_names) {
            FIFile* source = archive.OpenFile(WideFromUtf8(name), kFileRead);
            FIFile* dest = OpenFileURL(UrlOf(m_root / "copied" / name), kFileWrite);
            if (!source || !dest)
                throw std::runtime_error("copy did not open");
            for (int got; (got = source->ReadSome(buffer.data(), static_cast<int>(buffer.size()))) > 0;)
                dest->Write(buffer.data(), got);
            dest->Release();
            source->Release();
        }
    }

    fs::path m_root;
    fs::path m_installer;
    std::vector<std::string> m_names;
    int64_t m_bytes = 0;
    FGenericUiApp* m_pApp = nullptr;
    FUiInstallCopyControl* m_pCopy = nullptr;
};

void BM_InstallFromAppendedArchive(benchmark::State& state)
{
    Setup setup;
    bench::RunBesideCopy(
        state, [&] { setup.Restore(); }, [&] { setup.CopyWithStorage(); }, [&] { setup.Install(); });
    state.SetBytesProcessed(state.iterations() * setup.m_bytes);
    state.counters["files"] = kCopies;
}
BENCHMARK(BM_InstallFromAppendedArchive)->UseManualTime()->Iterations(10)->Unit(benchmark::kMillisecond);

} // namespace
