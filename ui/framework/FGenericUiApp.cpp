#include "FGenericUiApp.h"

#include <algorithm>

#include "FDebugTrace.h"
#include "FException.h"
#include "FGenericUiWindow.h"
#include "FIStorageClass.h"
#include "FIUiPixmap.h"
#include "FOsPrivateFiles.h"
#include "FPropList.h"
#include "FUiDispatcher.h"
#include "FUiObject.h"
#include "FUiObjectFactory.h"
#include "FUiScriptLimits.h"
#include "FUiStyles.h"
#include "FUiWindowClass.h"
#include "FXmlParser.h"
#include "StorageClassRegistry.h"

namespace
{

const FWideString kPostCreation("Post Creation Initialization");
const FWideString kByeBye("we're goin' bye-bye");

// An object, its subtree, then the following siblings with theirs.
void SendPreOrder(FIUiObject* first, const FWideString& message)
{
    for (FIUiObject* object = first; object; object = object->GetNext()) {
        object->UiRelayMessage(message, nullptr);
        SendPreOrder(object->GetFirstChild(), message);
    }
}

} // namespace

FGenericUiApp::FGenericUiApp()
{
    m_pOsApp = CreateOsUiApp(this);
    m_pFactory.reset(CreateUiObjectFactory());
    // Windows closed by their own handlers go once the outermost event has been handled.
    SetOsAfterDispatchHook(RunDeferredUiWindowDeletions);
}

FGenericUiApp::~FGenericUiApp()
{
    m_bShuttingDown = true;
    SendPreOrder(m_pFirstObject, kByeBye);
    BroadcastToWindowsAndObjects(kByeBye);
    priSaveState();
    m_pFactory.reset();
    DeletePropList(m_pScriptRoot);
    // Nothing may write into the state tree once it is gone.
    DeletePropList(m_pStateRoot);

    RunDeferredUiWindowDeletions();
    m_modalStack.clear();
    FIUiWindow* window = m_pFirstWindow;
    m_pFirstWindow = nullptr;
    while (window) {
        FIUiWindow* next = window->GetNextWindow();
        delete window;
        window = next;
    }
    FUiWindowClass* windowClass = m_pFirstClass;
    m_pFirstClass = nullptr;
    while (windowClass) {
        FUiWindowClass* next = windowClass->GetNext();
        delete windowClass;
        windowClass = next;
    }
    RunDeferredUiWindowDeletions();
    DeleteUiObjectChain(m_pFirstObject);
    DeleteOsUiApp(m_pOsApp);
    for (Cursor& cursor : m_cursors)
        ReleaseUiPixmap(cursor.pixmap);
    if (m_pScriptFolder)
        m_pScriptFolder->Release();
    m_pScriptFolder = nullptr;
}

void* FGenericUiApp::GetOsInfo(int kind)
{
    return m_pOsApp ? m_pOsApp->GetOsInfo(kind) : nullptr;
}

bool FGenericUiApp::SetOsInfo(int kind, void* value)
{
    return m_pOsApp ? m_pOsApp->SetOsInfo(kind, value) : false;
}

bool FGenericUiApp::InitFromScript(FIFolder* scriptFolder, const FWideString& fileName, bool& anotherInstance)
{
    anotherInstance = false;
    if (!scriptFolder)
        return false;
    if (m_pScriptFolder && m_pScriptFolder != scriptFolder)
        m_pScriptFolder->Release();
    m_pScriptFolder = scriptFolder;
    m_usScriptFileName = fileName;
    if (fileName.IsEmpty())
        return false;

    {
        FXmlParser parser;
        m_pScriptRoot = parser.ParseFile(scriptFolder, fileName);
        if (!m_pScriptRoot) {
            DebugTrace("Failed to read the script %s: %s\n", fileName.GetNarrow(),
                       parser.GetErrors().GetNarrow());
            return false;
        }
    }
    FPropList* root = m_pScriptRoot;
    FPropList::ProcessDefines(root, {});
    ApplyPlatformSections(root, IsMacOS(), IsWindowsOS());
    ApplyStyles(root);
    CheckScriptExtents(root);

    m_bHasPersistentStore = root->GetBool("HasPersistantDataStore", false);
    if (m_bHasPersistentStore)
        priLoadState(root);
    if (!ReadAppSettings(root))
        return false;
    priReadCursors(root);
    static const char* const kMenuKeys[4] = {"CtrlMenuDisplayString", "ShiftMenuDisplayString",
                                             "AltMenuDisplayString", "DelMenuDisplayString"};
    for (int i = 0; i < 4; ++i)
        m_menuKeyNames[i] = root->GetString(kMenuKeys[i], FWideString());

    m_bSingleInstApp = root->GetBool("_SingleInstApp", false);
    if (m_bSingleInstApp) {
        const FWideString declared = root->GetString("_DeclareAppName", FWideString());
        bool oldMutex = root->GetBool("_CreateOldMutex", false);
        const FWideString family = root->GetString("_MutexName", FWideString());
        if (family.IsEmpty())
            oldMutex = false;
        if (!declared.IsEmpty() && m_pOsApp)
            anotherInstance = m_pOsApp->CheckSingleInstance(declared, oldMutex, family) && m_bSingleInstApp;
        if (anotherInstance)
            return true;
    }

    int windowTags = 0;
    for (FPropList* tag = root->GetFirstChild(); tag; tag = tag->GetNext()) {
        if (tag->GetName() == "WINDOW" || tag->GetName() == "WINDOWCLASS")
            ++windowTags;
    }
    if (windowTags > kMaxUiScriptWindows) {
        throw FExceptionUiScript(FNarrowString("the script declares %d windows; at most %d are allowed",
                                               windowTags, kMaxUiScriptWindows)
                                     .GetCString());
    }
    for (FPropList* tag = root->GetFirstChild(); tag; tag = tag->GetNext()) {
        const FWideString& name = tag->GetName();
        if (name == "ON_SHOW_MAIN_WINDOW") {
            m_showMainWindowEvent.ReadRelay(tag);
            continue;
        }
        if (name == "ON_OPEN_PATH_EVENT")
            m_openPathEvent.ReadRelay(tag);
        else if (name == "ON_VOLUMES_CHANGED_EVENT")
            m_volumesChangedEvent.ReadRelay(tag);
        if (name == "WINDOW" || name == "WINDOWCLASS")
            continue;
        FIUiObject* object = m_pFactory->CreateUiObject(name.GetNarrow());
        if (!object)
            continue;
        bool ok = false;
        try {
            ok = object->InitUiObject(this, nullptr, nullptr, tag);
        } catch (...) {
            // A script error ends the start; the object that raised it is not kept.
            delete object;
            throw;
        }
        if (ok)
            AppendUiObject(m_pFirstObject, object);
        else
            delete object;
    }
    for (FPropList* tag = root->GetFirstChild(); tag; tag = tag->GetNext()) {
        if (!(tag->GetName() == "WINDOW"))
            continue;
        if (FIUiWindow* window = CreateUiWindow(this, tag, nullptr, nullptr)) {
            DebugTraceText("Made pNewWindow OK");
            priAppendWindow(window);
        }
    }
    priCreateWindowClasses(root);
    if (!m_pFirstWindow)
        return false;
    m_pFirstWindow->SetTickWindow();
    ConnectRelays();

    SendPreOrder(m_pFirstObject, kPostCreation);
    for (FIUiWindow* window = m_pFirstWindow; window; window = window->GetNextWindow())
        window->UiRelayMessage(kPostCreation, nullptr);
    priPostCreateClassInstances(kPostCreation);
    return true;
}

bool FGenericUiApp::ReadAppSettings(FPropList* root)
{
    if (!root)
        return false;
    m_bShowTheHVBoxes = root->GetBool("_ShowTheHVBoxes", false);
    bool hasName = false;
    m_usName = root->GetString("Name", m_usName, &hasName);
    m_usAppName = root->GetString("AppName", m_usAppName);
    priReadLanguages(root);
    priReadSavedLanguage();
    priReadFontsAndStrings(root);
    return hasName;
}

void FGenericUiApp::priReadCursors(FPropList* root)
{
    static const char* const kKeys[3][3] = {
        {"File_DragAndDropCursorNo", "DragAndDropCursorNo_X", "DragAndDropCursorNo_Y"},
        {"File_DragAndDropCursorYes", "DragAndDropCursorYes_X", "DragAndDropCursorYes_Y"},
        {"File_WaitCursor", "WaitCursor_X", "WaitCursor_Y"},
    };
    for (int i = 0; i < 3; ++i) {
        bool found = false;
        const FWideString file = root->GetString(kKeys[i][0], FWideString(), &found);
        m_cursors[i].pixmap = found ? LoadUiPixmap(file) : nullptr;
        m_cursors[i].x = root->GetInt(kKeys[i][1], 0);
        m_cursors[i].y = root->GetInt(kKeys[i][2], 0);
    }
}

bool FGenericUiApp::Run(bool anotherInstance)
{
    return m_pOsApp ? m_pOsApp->Run(m_bSingleInstApp && anotherInstance) : true;
}

void FGenericUiApp::priAppendWindow(FIUiWindow* window)
{
    window->SetNextWindow(nullptr);
    window->SetPrevWindow(nullptr);
    if (!m_pFirstWindow) {
        m_pFirstWindow = window;
        return;
    }
    FIUiWindow* last = m_pFirstWindow;
    while (last->GetNextWindow())
        last = last->GetNextWindow();
    last->SetNextWindow(window);
    window->SetPrevWindow(last);
}

FIUiRelay* FGenericUiApp::priFindRelay(const FWideString& name, int& where)
{
    where = 0;
    for (FIUiObject* object = m_pFirstObject; object; object = object->GetNext()) {
        if (FIUiRelay* relay = object->GetUiRelay(name))
            return relay;
    }
    where = 1;
    for (FIUiWindow* window = m_pFirstWindow; window; window = window->GetNextWindow()) {
        if (FIUiRelay* relay = window->GetUiRelay(name))
            return relay;
    }
    where = 2;
    return priFindClassRelay(name);
}

FIUiRelay* FGenericUiApp::GetUiRelay(const FWideString& name)
{
    if (name.IsEmpty() || name == m_usName)
        return this;
    int where = 0;
    if (FIUiRelay* relay = priFindRelay(name, where))
        return relay;
    FWideString left, rest;
    if (name.Split(u".", left, rest) && !left.IsEmpty() && !rest.IsEmpty() && left == m_usName) {
        if (FIUiRelay* relay = priFindRelay(rest, where)) {
            DebugTrace("UiApp::GetUiRelay(%s) Success%d\n", name.GetNarrow(), where);
            return relay;
        }
    }
    DebugTrace("UiApp::GetUiRelay(%s) FAILED!\n", name.GetNarrow());
    return nullptr;
}

bool FGenericUiApp::ConnectRelays()
{
    bool all = true;
    for (FIUiWindow* window = m_pFirstWindow; window; window = window->GetNextWindow())
        all = window->ConnectRelays() && all;
    for (FIUiObject* object = m_pFirstObject; object; object = object->GetNext())
        all = object->ConnectRelays() && all;
    all = m_openPathEvent.ConnectToApp(this) && all;
    all = m_volumesChangedEvent.ConnectToApp(this) && all;
    all = m_showMainWindowEvent.ConnectToApp(this) && all;
    return all;
}

bool FGenericUiApp::UiRelayMessage(const FWideString& message, void* data)
{
    if (message == "CreateWindow") {
        if (!data)
            return false;
        const FWideString* names = static_cast<FWideString*>(data);
        priCreateClassWindow(names[0], names[1]);
        return true;
    }
    if (message == "ShowTopOrCreateWindow") {
        if (!data)
            return false;
        priShowTopOrCreate(*static_cast<FWideString*>(data));
        return true;
    }
    if (message == "LaunchURL") {
        if (!data)
            return false;
        priLaunchURL(*static_cast<FWideString*>(data));
        return true;
    }
    if (message == "SetLanguage") {
        if (!data)
            return false;
        SetLanguage(*static_cast<FWideString*>(data));
        return true;
    }
    if (message == "ShowMainWindow") {
        m_showMainWindowEvent.Fire(nullptr);
        return true;
    }
    return false;
}

void FGenericUiApp::priLaunchURL(const FWideString& key)
{
    FWideString url = key == "HELP" ? m_usHelpURL : key;
    FWideString text;
    if (GetDisplayStringText(url, text))
        url = text;
    FWideString content("[InternetShortcut]\nURL=");
    content += url;
    content += "\n";
    FWideString fileURL;
    // A private folder, never a shared name in the temporary folder that another user could plant.
    if (!WriteOsPrivateTempFile(FWideString("q7f.url"), content, fileURL)) {
        DebugTrace("Could not write the shortcut for %s\n", url.GetNarrow());
        return;
    }
    try {
        LaunchFileURL(fileURL, nullptr);
    } catch (const FException&) {
        DebugTrace("Could not launch %s\n", content.GetNarrow());
    }
}

void FGenericUiApp::SetModalWindow(FIUiWindow* window)
{
    if (m_bShuttingDown)
        return;
    if (window) {
        if (m_modalStack.empty() || m_modalStack.back() != window)
            m_modalStack.push_back(window);
    } else if (!m_modalStack.empty()) {
        m_modalStack.pop_back();
    }
    const std::vector<FIUiWindow*> all = priAllWindows();
    if (!m_modalStack.empty()) {
        FIUiWindow* top = m_modalStack.back();
        top->EnableWindow();
        top->Activate();
        for (FIUiWindow* other : all) {
            if (other != top)
                other->DisableWindow();
        }
    } else {
        for (FIUiWindow* other : all)
            other->EnableWindow();
    }
}

void FGenericUiApp::OnWindowDeleted(FIUiWindow* window)
{
    m_modalStack.erase(std::remove(m_modalStack.begin(), m_modalStack.end(), window), m_modalStack.end());
}

FIUiWindow* FGenericUiApp::FindUiWindow(const FWideString& name)
{
    for (FIUiWindow* window = m_pFirstWindow; window; window = window->GetNextWindow()) {
        if (window->IsNamed(name))
            return window;
    }
    return nullptr;
}

FIFile* FGenericUiApp::OpenScriptFile(const FWideString& fileName)
{
    return m_pScriptFolder ? m_pScriptFolder->OpenFile(fileName, kFileRead) : nullptr;
}

void FGenericUiApp::CutTextToClipboard(const FWideString& text, FIUiWindow* window)
{
    if (m_pOsApp)
        m_pOsApp->CopyToClipboard(text, window);
}

void FGenericUiApp::CopyTextToClipboard(const FWideString& text, FIUiWindow* window)
{
    if (m_pOsApp)
        m_pOsApp->CopyTextToClipboard(text, window);
}

void FGenericUiApp::PasteTextFromClipboard(FWideString& text, FIUiWindow* window)
{
    if (m_pOsApp)
        m_pOsApp->PasteTextFromClipboard(text, window);
}

void FGenericUiApp::GetOsName(FWideString& name)
{
    if (m_pOsApp)
        m_pOsApp->GetOsName(name);
    else
        name.Clear();
}

void FGenericUiApp::Tick(int elapsedMs)
{
    for (FIUiObject* object = m_pFirstObject; object; object = object->GetNext())
        object->Tick(elapsedMs);
}

void FGenericUiApp::SetVersion(int major, int minor, int revision, int build)
{
    m_version = FUiVersion{major, minor, revision, build};
}

std::vector<FIUiWindow*> FGenericUiApp::priAllWindows()
{
    std::vector<FIUiWindow*> all;
    for (FIUiWindow* window = m_pFirstWindow; window; window = window->GetNextWindow())
        all.push_back(window);
    priAppendClassInstances(all);
    return all;
}

void FGenericUiApp::BroadcastToWindows(const FWideString& message)
{
    for (FIUiWindow* window : priAllWindows())
        window->UiRelayMessage(message, nullptr);
}

void FGenericUiApp::BroadcastToWindowsAndObjects(const FWideString& message)
{
    for (FIUiWindow* window : priAllWindows()) {
        window->SendToAllObjects(message, nullptr);
        window->UiRelayMessage(message, nullptr);
    }
}

void FGenericUiApp::priCreateWindowClasses(FPropList* root)
{
    FUiWindowClass* last = nullptr;
    for (FPropList* tag = root->GetFirstChild(); tag; tag = tag->GetNext()) {
        if (!(tag->GetName() == "WINDOWCLASS"))
            continue;
        auto* windowClass = new FUiWindowClass;
        windowClass->Init(this, tag); // kept even when unnamed: it then makes no instances
        if (last)
            last->SetNext(windowClass);
        else
            m_pFirstClass = windowClass;
        last = windowClass;
    }
}

void FGenericUiApp::priPostCreateClassInstances(const FWideString& message)
{
    for (FUiWindowClass* c = m_pFirstClass; c; c = c->GetNext()) {
        const std::vector<FIUiWindow*> instances = c->GetInstances();
        for (FIUiWindow* window : instances)
            window->UiRelayMessage(message, nullptr);
    }
}

FIUiRelay* FGenericUiApp::priFindClassRelay(const FWideString& name)
{
    for (FUiWindowClass* c = m_pFirstClass; c; c = c->GetNext()) {
        if (FIUiRelay* relay = c->GetDynamicRelay(name))
            return relay;
    }
    return nullptr;
}

FUiWindowClass* FGenericUiApp::FindWindowClass(const FWideString& name)
{
    for (FUiWindowClass* c = m_pFirstClass; c; c = c->GetNext()) {
        if (c->IsNamed(name))
            return c;
    }
    return nullptr;
}

void FGenericUiApp::priCreateClassWindow(const FWideString& className, const FWideString& parentName)
{
    FIUiWindow* parent = nullptr;
    if (!(parentName == "NoParent")) {
        parent = FindUiWindow(parentName);
        if (!parent) {
            if (FUiWindowClass* c = FindWindowClass(parentName))
                parent = c->GetTopInstance();
        }
    }
    for (FUiWindowClass* c = m_pFirstClass; c; c = c->GetNext()) {
        if (c->CreateInstance(className, parent))
            return;
    }
    DebugTrace("***ERROR: APP FAILED TO CREATE WINDOW OF CLASS '%s'!\n", className.GetNarrow());
}

void FGenericUiApp::priShowTopOrCreate(const FWideString& className)
{
    FUiWindowClass* c = FindWindowClass(className);
    if (!c)
        return;
    FIUiWindow* window = c->GetTopInstance();
    if (!window)
        window = c->CreateInstance(className, nullptr);
    if (window)
        window->SetVisible(true);
}

void FGenericUiApp::priAppendClassInstances(std::vector<FIUiWindow*>& all)
{
    for (FUiWindowClass* c = m_pFirstClass; c; c = c->GetNext()) {
        for (FIUiWindow* window : c->GetInstances())
            all.push_back(window);
    }
}

FGenericUiApp* CreateGenericUiApp()
{
    return new FGenericUiApp;
}

void DeleteGenericUiApp(FGenericUiApp*& app)
{
    delete app;
    app = nullptr;
}
