#include "FUiTestApp.h"

#include <sys/stat.h>

#include "FCodePage.h"
#include "FException.h"
#include "FHeadlessDesktop.h"
#include "FIStorageClass.h"
#include "FProbeObject.h"
#include "FPropList.h"
#include "FTestBlock.h"
#include "FXmlParser.h"
#include "StorageClassRegistry.h"

FUiTestApp::FUiTestApp(const std::string& script, bool init) : m_env("XDG_CONFIG_HOME", m_config.GetPath())
{
    GetHeadlessDesktop().Reset();
    mkdir(GetAppDataPath().c_str(), 0700);
    m_folder.WriteFile("ui.xml", script);
    m_folder.WriteSkins();
    m_pApp = CreateGenericUiApp();
    RegisterProbe(m_pApp->GetUiObjectFactory());
    RegisterTestBlock(m_pApp->GetUiObjectFactory());
    m_pApp->SetExecutableFolderURL(m_folder.GetUrl());
    if (init)
        Init();
}

FUiTestApp::~FUiTestApp()
{
    Finish();
}

bool FUiTestApp::Init()
{
    m_exception.clear();
    try {
        m_bInitOk = m_pApp->InitFromScript(m_folder.OpenFolder(), FWideString("ui.xml"), m_bAnother);
    } catch (const FException& e) {
        m_bInitOk = false;
        m_exception = std::string(e.GetDescription()) + " (" + e.GetMessage() + ")";
    }
    return m_bInitOk;
}

void FUiTestApp::Finish()
{
    if (m_pApp)
        DeleteGenericUiApp(m_pApp);
}

std::unique_ptr<FPropList> FUiTestApp::ReadStateFile(const std::string& fileName) const
{
    FWideString url, name;
    if (!NativePathToURL(WideFromUtf8(GetAppDataPath()), url))
        return nullptr;
    FIFolder* folder = OpenFolderURL(url, name, false);
    if (!folder)
        return nullptr;
    std::unique_ptr<FPropList> root;
    try {
        FXmlParser parser;
        root.reset(parser.ParseFile(folder, WideFromUtf8(fileName)));
    } catch (...) {
        root.reset();
    }
    folder->Release();
    return root;
}

bool FUiTestApp::WriteAppDataFile(const std::string& name, const std::string& bytes) const
{
    return m_config.WriteFile("Rawbench/" + name, bytes);
}
