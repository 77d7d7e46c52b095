#include "FAppHarness.h"

#include "FIPEngineService.h"

#include <dirent.h>
#include <sys/stat.h>

#include <cstdio>

#include "FCodePage.h"
#include "FGenericUiApp.h"
#include "FGenericUiWindow.h"
#include "FHeadlessDesktop.h"
#include "FHeadlessUiWindow.h"
#include "FIPEngineService.h"
#include "FIPManager.h"
#include "FOsBackend.h"
#include "FProbeObject.h"
#include "FUiObject.h"
#include "RawbenchStart.h"
#include "RelayEvent.h"

namespace
{

const char kDefine[] = "<xi:define Name=\"RAWBENCH_TEST\"/>";

bool CopyFile(const std::string& from, const std::string& to)
{
    std::FILE* in = std::fopen(from.c_str(), "rb");
    if (!in)
        return false;
    std::FILE* out = std::fopen(to.c_str(), "wb");
    bool ok = out != nullptr;
    char buffer[1 << 16];
    size_t n = 0;
    while (ok && (n = std::fread(buffer, 1, sizeof buffer, in)) > 0)
        ok = std::fwrite(buffer, 1, n, out) == n;
    std::fclose(in);
    if (out)
        ok = std::fclose(out) == 0 && ok;
    return ok;
}

bool IsScriptPart(const std::string& name)
{
    auto endsWith = [&](const char* tail) {
        const std::string t(tail);
        return name.size() > t.size() && name.compare(name.size() - t.size(), t.size(), t) == 0;
    };
    return endsWith(".xml") || endsWith(".png") || endsWith(".html");
}

} // namespace

std::string BuiltScriptFolder()
{
    return RB_APP_DIR;
}

FAppHarness::FAppHarness(bool testDefine)
    : m_config("XDG_CONFIG_HOME", m_root.Join("config")), m_data("XDG_DATA_HOME", m_root.Join("data"))
{
    SetOsBackend(EOsBackend::kHeadless);
    // An earlier run's exit hook removed the pool; a program starts with the default.
    SetIPManagerPoolSize(kDefaultIPManagerPoolSize);
    GetHeadlessDesktop().Reset();
    // The engine works in real time on its own thread: each simulated tick gives it a moment.
    GetHeadlessDesktop().beforeTicks = [] {
        if (FIPEngineService* service = PeekIPEngineService())
            service->WaitForDelivery(std::chrono::milliseconds(20));
    };
    FProbeObject::SharedLog().clear();
    mkdir(m_root.Join("bin").c_str(), 0700);
    mkdir(m_root.Join("config").c_str(), 0700);
    mkdir(m_root.Join("config/Rawbench").c_str(), 0700);
    mkdir(m_root.Join("data").c_str(), 0700);
    if (DIR* dir = opendir(BuiltScriptFolder().c_str())) {
        while (dirent* entry = readdir(dir)) {
            const std::string name = entry->d_name;
            if (IsScriptPart(name))
                CopyFile(BuiltScriptFolder() + "/" + name, ScriptPath(name));
        }
        closedir(dir);
    }
    m_root.WriteFile("bin/Rawbench", "\x7f"
                                     "ELF stands in for the program");
    std::string script;
    if (testDefine && ReadScriptFile("ui.xml", script)) {
        // First among the root's children, so that every later block sees it.
        const size_t close = script.find('>', script.find("<UI_SCRIPT"));
        if (close != std::string::npos) {
            script.insert(close + 1, std::string("\n  ") + kDefine);
            WriteScriptFile("ui.xml", script);
        }
    }
}

FAppHarness::~FAppHarness() = default;

std::string FAppHarness::ScriptPath(const std::string& name) const
{
    return m_root.Join("bin/" + name);
}

bool FAppHarness::WriteScriptFile(const std::string& name, const std::string& bytes) const
{
    return m_root.WriteFile("bin/" + name, bytes);
}

bool FAppHarness::ReadScriptFile(const std::string& name, std::string& bytes) const
{
    return m_root.ReadFile("bin/" + name, bytes);
}

bool FAppHarness::RemoveScriptFile(const std::string& name) const
{
    return std::remove(ScriptPath(name).c_str()) == 0;
}

void FAppHarness::SetStartLanguage(const std::string& language)
{
    m_root.WriteFile("config/Rawbench/Rawbench.state.xml",
                     "<STATE><PERDATA Name=\"BrisalLanguageSelector\" CurrentLanguage=\"" + language +
                         "\"/></STATE>");
}

bool FAppHarness::WriteStateFile(const std::string& xml) const
{
    return m_root.WriteFile("config/Rawbench/Rawbench.state.xml", xml);
}

bool FAppHarness::ReadStateFile(std::string& xml) const
{
    return m_root.ReadFile("config/Rawbench/Rawbench.state.xml", xml);
}

int FAppHarness::Start(const std::function<void(FAppHarness&)>& body, const std::string& argument)
{
    m_bBodyRan = false;
    FRawbenchExtras extras;
    extras.startup = [this](FGenericUiApp* app) {
        bool ok = RegisterProbe(app->GetUiObjectFactory());
        if (m_startup)
            ok = m_startup(app) && ok;
        return ok;
    };
    extras.running = [&](FGenericUiApp* app) {
        m_pApp = app;
        m_bBodyRan = true;
        // The log starts with the test: the start's own messages are not its events.
        if (FProbeObject* probe = Probe())
            probe->Clear();
        if (body)
            body(*this);
    };
    const int status = RunRawbench(WideFromUtf8(ScriptPath("Rawbench")), WideFromUtf8(argument), &extras);
    m_pApp = nullptr;
    return status;
}

const std::vector<std::pair<std::string, std::string>>& FAppHarness::MessageBoxes() const
{
    return GetHeadlessDesktop().messageBoxes;
}

FGenericUiWindow* FAppHarness::Window(const std::string& name) const
{
    return m_pApp ? dynamic_cast<FGenericUiWindow*>(m_pApp->FindUiWindow(WideFromUtf8(name))) : nullptr;
}

FUiObject* FAppHarness::Object(const std::string& path) const
{
    return m_pApp ? dynamic_cast<FUiObject*>(m_pApp->GetUiRelay(WideFromUtf8(path))) : nullptr;
}

bool FAppHarness::Send(const std::string& path, const std::string& message, void* data) const
{
    FIUiRelay* relay = m_pApp ? m_pApp->GetUiRelay(WideFromUtf8(path)) : nullptr;
    return relay && relay->UiRelayMessage(WideFromUtf8(message), data);
}

bool FAppHarness::Click(const std::string& path, int clicks) const
{
    FUiObject* object = Object(path);
    const std::string windowName = path.substr(0, path.find('.'));
    FGenericUiWindow* window = Window(windowName);
    auto* os = window ? dynamic_cast<FHeadlessUiWindow*>(window->GetOsWindow()) : nullptr;
    if (!object || !os)
        return false;
    const FRect rect = object->GetRect();
    if (rect.Width() <= 0 || rect.Height() <= 0)
        return false;
    const int x = (rect.left + rect.right) / 2;
    const int y = (rect.top + rect.bottom) / 2;
    os->InjectMouseDown(x, y, clicks);
    os->InjectMouseUp(x, y);
    HeadlessPumpUntilIdle();
    return true;
}

bool FAppHarness::Key(const std::string& window, EOsKey key, int value, bool ctrl, bool shift) const
{
    FGenericUiWindow* target = Window(window);
    auto* os = target ? dynamic_cast<FHeadlessUiWindow*>(target->GetOsWindow()) : nullptr;
    if (!os)
        return false;
    if (ctrl)
        os->InjectKeyDown(EOsKey::kCtrl);
    if (shift)
        os->InjectKeyDown(EOsKey::kShift);
    os->InjectKeyDown(key, value);
    os->InjectKeyUp(key);
    if (shift)
        os->InjectKeyUp(EOsKey::kShift);
    if (ctrl)
        os->InjectKeyUp(EOsKey::kCtrl);
    HeadlessPumpUntilIdle();
    return true;
}

bool FAppHarness::RunUntil(const std::function<bool()>& predicate, int ticks) const
{
    for (int i = 0; i < ticks; ++i) {
        if (predicate())
            return true;
        HeadlessAdvanceTime(10);
    }
    return predicate();
}

bool FAppHarness::Watch(const std::string& path, const std::string& event) const
{
    FUiObject* object = Object(path);
    FProbeObject* probe = Probe();
    RelayEvent* relayEvent = object ? object->FindEvent(WideFromUtf8(event)) : nullptr;
    if (!relayEvent || !probe)
        return false;
    relayEvent->AddTarget(WideFromUtf8(event), probe);
    return true;
}

FProbeObject* FAppHarness::Probe() const
{
    return m_pApp ? dynamic_cast<FProbeObject*>(m_pApp->GetUiRelay(FWideString("Probe"))) : nullptr;
}

std::vector<std::string> FAppHarness::Log() const
{
    std::vector<std::string> log;
    if (FProbeObject* probe = Probe()) {
        for (const FProbeRecord& record : probe->GetRecords())
            log.push_back(record.message);
    }
    return log;
}
