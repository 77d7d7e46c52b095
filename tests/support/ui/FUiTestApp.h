#pragma once

// One application run over a script text, with its own application-data folder
// and a fresh headless desktop; PROBE is registered before the script is read.

#include <memory>
#include <string>

#include "FGenericUiApp.h"
#include "FScopedTempFolder.h"
#include "FUiScriptFixture.h"

class FUiTestApp
{
public:
    // Writes the script as "ui.xml" (and the skins) and, when `init`, initialises the application from it.
    explicit FUiTestApp(const std::string& script, bool init = true);
    ~FUiTestApp();
    FUiTestApp(const FUiTestApp&) = delete;
    FUiTestApp& operator=(const FUiTestApp&) = delete;

    bool Init();
    // Deletes the application (its farewells and the state file happen here).
    void Finish();

    FGenericUiApp* GetApp() const { return m_pApp; }
    bool GetInitResult() const { return m_bInitOk; }
    bool GetAnotherInstance() const { return m_bAnother; }
    // "description (message)" of an exception that left the initialisation, else empty.
    const std::string& GetInitException() const { return m_exception; }
    FUiScriptFolder& GetScriptFolder() { return m_folder; }
    // The application-data folder of this run.
    std::string GetAppDataPath() const { return m_config.GetPath() + "/Rawbench"; }
    // The state file's tree, or null when there is none.
    std::unique_ptr<FPropList> ReadStateFile(const std::string& fileName = "TestApp.state.xml") const;
    bool WriteAppDataFile(const std::string& name, const std::string& bytes) const;

private:
    FScopedTempFolder m_config;
    FScopedEnv m_env;
    FUiScriptFolder m_folder;
    FGenericUiApp* m_pApp = nullptr;
    bool m_bInitOk = false;
    bool m_bAnother = false;
    std::string m_exception;
};
