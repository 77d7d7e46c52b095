#pragma once

// Starts the real Rawbench program start on a copy of the real script,
// headless, with the test define set so that the script's test block adds its
// PROBE. The test body runs inside the started program, before its loop:
//
//   FAppHarness harness;
//   harness.Start([&](FAppHarness& app) { app.Send("MainWin", "Hide"); ... });

#include <functional>
#include <string>
#include <vector>

#include "FOsKeyInput.h"
#include "FScopedTempFolder.h"
#include "FWideString.h"

class FGenericUiApp;
class FGenericUiWindow;
class FProbeObject;
class FUiObject;

// The folder where the build put the executable's script, strings and skins.
std::string BuiltScriptFolder();

class FAppHarness
{
public:
    // Copies the built script folder; `testDefine` adds the define of the test block.
    explicit FAppHarness(bool testDefine = true);
    ~FAppHarness();
    FAppHarness(const FAppHarness&) = delete;
    FAppHarness& operator=(const FAppHarness&) = delete;

    // The copied script folder (beside the pretend executable), to damage before Start.
    std::string ScriptPath(const std::string& name) const;
    bool WriteScriptFile(const std::string& name, const std::string& bytes) const;
    bool ReadScriptFile(const std::string& name, std::string& bytes) const;
    bool RemoveScriptFile(const std::string& name) const;
    // Starts in this language, as the installer records it.
    void SetStartLanguage(const std::string& language);
    // The state file the program reads at start and writes at exit, as a whole.
    bool WriteStateFile(const std::string& xml) const;
    bool ReadStateFile(std::string& xml) const;

    // Registers further object types after the application's own.
    void OnStartup(std::function<bool(FGenericUiApp*)> registration) { m_startup = std::move(registration); }
    // Runs the program start; the body runs with the application before its
    // loop. Answers the program's exit status.
    int Start(const std::function<void(FAppHarness&)>& body, const std::string& argument = "");
    // Whether the body ran (the start got as far as a checked script).
    bool BodyRan() const { return m_bBodyRan; }
    // (title, text) of the boxes the program showed.
    const std::vector<std::pair<std::string, std::string>>& MessageBoxes() const;

    // ---- inside the body ----
    FGenericUiApp* App() const { return m_pApp; }
    FGenericUiWindow* Window(const std::string& name) const;
    FUiObject* Object(const std::string& path) const;
    // Sends a message to the relay of a dotted path; false when no relay has the path
    // or the relay answers false.
    bool Send(const std::string& path, const std::string& message, void* data = nullptr) const;
    // A left click in the middle of the object's rectangle; false when it has no room.
    bool Click(const std::string& path, int clicks = 1) const;
    // A key press and release on the window, with Ctrl and Shift held when asked,
    // through the key model (accelerators included); false without that window.
    bool Key(const std::string& window, EOsKey key, int value = 0, bool ctrl = false,
             bool shift = false) const;
    // Ticks the windows every 10 ms until the predicate holds; false when `ticks` ran out.
    bool RunUntil(const std::function<bool()>& predicate, int ticks) const;
    // Routes an object's event to the probe as well, logged under the event's name.
    bool Watch(const std::string& path, const std::string& event) const;
    // The script's probe, and its ordered log of messages.
    FProbeObject* Probe() const;
    std::vector<std::string> Log() const;

private:
    FScopedTempFolder m_root;
    FScopedEnv m_config;
    FScopedEnv m_data;
    std::function<bool(FGenericUiApp*)> m_startup;
    FGenericUiApp* m_pApp = nullptr;
    bool m_bBodyRan = false;
};
