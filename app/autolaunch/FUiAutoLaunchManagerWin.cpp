#include "FUiAutoLaunchManagerWin.h"

#include <vector>

#include "FDebugTrace.h"
#include "FException.h"
#include "FIOsUiApp.h"
#include "FIStorageClass.h"
#include "FIUiApp.h"
#include "FOsAutoLaunchLink.h"
#include "FPropList.h"
#include "FUiMultiLangString.h"
#include "FUiObjectFactory.h"
#include "FXmlParser.h"
#include "StorageClassRegistry.h"

namespace
{

constexpr int kAnswerWaitMs = 5000;
constexpr int kRemovePauseMs = 500;

std::string SocketPath()
{
    return GetOsAutoLaunchSocketPath("AutoLauncher", "AutoLaunchApp");
}

class FAutoLaunchCreator : public FIUiObjectCreator
{
public:
    FIUiObject* CreateUiObject(const char* typeName) override
    {
        return new FUiAutoLaunchManagerWin(typeName);
    }
};

// Holds a folder until the end of the scope.
struct FFolderHold {
    FIFolder* folder = nullptr;
    ~FFolderHold()
    {
        if (folder)
            folder->Release();
    }
};

} // namespace

FWideString GetAutoLaunchPreferenceFolderURL()
{
    std::vector<FWideString> parts;
    SplitURL(GetSpecialPathURL(1), parts);
    parts.push_back(FWideString("Talvo"));
    FWideString url;
    JoinURL(parts, url, true);
    return url;
}

FUiAutoLaunchManagerWin::FUiAutoLaunchManagerWin(const char* /*typeName*/) : FUiObject("AUTO_LAUNCH_MGR") {}

FUiAutoLaunchManagerWin::~FUiAutoLaunchManagerWin() = default;

bool FUiAutoLaunchManagerWin::InitUiObject(FIUiApp* app, FIUiWindow* window, FIUiObject* parent,
                                           FPropList* tag)
{
    return InitNonVisualUiObject(this, app, window, parent, tag);
}

bool FUiAutoLaunchManagerWin::UiRelayMessage(const FWideString& message, void* data)
{
    if (message == FWideString("Post Creation Initialization")) {
        priReadPreferences();
        return true;
    }
    if (message == FWideString("QueryState")) {
        if (data)
            *static_cast<bool*>(data) = priQuery();
        return false;
    }
    if (message == FWideString("SetAutoLaunchState")) {
        if (data) {
            if (*static_cast<bool*>(data))
                priEnable();
            else
                priDisable();
        }
        return false;
    }
    if (message == FWideString("Remove")) {
        priRemove();
        return false;
    }
    return false;
}

void FUiAutoLaunchManagerWin::priReadPreferences()
{
    FWideString fileName;
    FFolderHold hold;
    hold.folder = OpenFolderURL(GetAutoLaunchPreferenceFolderURL(), fileName, true);
    if (!hold.folder)
        return;
    const FWideString name(kAutoLaunchPreferencesName);
    FIFile* file = hold.folder->OpenFile(name, 1);
    if (!file)
        return;
    file->Release();
    FPropList* root = nullptr;
    try {
        FXmlParser parser;
        root = parser.ParseFile(hold.folder, name);
    } catch (const FException& error) {
        // A damaged preference must never keep the program from starting: it is set aside,
        // automatic launching stays off, and the user is told once.
        DebugTrace("FUiAutoLaunchManagerWin: %s does not read (%s)\n", name.GetNarrow(), error.GetMessage());
        priSetAside(hold.folder, name);
        priTellDamaged();
        return;
    }
    if (!root)
        return;
    m_usAutoLaunchName = root->GetString(FWideString("AutoLaunchApplication_Name"), FWideString());
    m_usAutoLaunchPath = root->GetString(FWideString("AutoLaunchApplication_Path"), FWideString());
    DeletePropList(root);
}

void FUiAutoLaunchManagerWin::priSetAside(FIFolder* folder, const FWideString& name)
{
    for (int n = 0; n < 100; ++n) {
        FWideString aside;
        aside.Format("AutoLaunchPreferences.unreadable-%d.xml", n);
        bool isFolder = false;
        if (folder->Exists(aside, &isFolder))
            continue;
        try {
            folder->Rename(name, aside);
        } catch (const FException& error) {
            DebugTrace("FUiAutoLaunchManagerWin: the file could not be set aside (%s)\n", error.GetMessage());
        }
        return;
    }
}

void FUiAutoLaunchManagerWin::priTellDamaged()
{
    auto text = [this](const char* name, const char* fallback) {
        FIUiMultiLangString* string = m_pApp ? m_pApp->GetDisplayString(FWideString(name)) : nullptr;
        const FWideString* current = string ? string->GetText() : nullptr;
        return current ? *current : FWideString(fallback);
    };
    ShowOsMessageBox(text("MsgAutoLaunchDamagedTitle", "Rawbench"),
                     text("MsgAutoLaunchDamagedText",
                          "The settings for starting Rawbench when the camera connects could not be read. "
                          "They have been set aside, and Rawbench will not start on its own until you "
                          "switch this on again."));
}

bool FUiAutoLaunchManagerWin::priQuery()
{
    return OsAutoLaunchSend(SocketPath(), kAutoLaunchQuery, kAnswerWaitMs) != 0;
}

void FUiAutoLaunchManagerWin::priEnable()
{
    const std::string path = SocketPath();
    if (!OsAutoLaunchWindowExists(path) && !m_usAutoLaunchPath.IsEmpty() && !m_usAutoLaunchName.IsEmpty()) {
        FWideString url = m_usAutoLaunchPath;
        url += m_usAutoLaunchName;
        LaunchFileURL(url, nullptr);
    }
    // A program only just started may not listen yet; the message is then lost.
    OsAutoLaunchPost(path, kAutoLaunchEnable);
}

void FUiAutoLaunchManagerWin::priDisable()
{
    OsAutoLaunchPost(SocketPath(), kAutoLaunchDisable);
}

void FUiAutoLaunchManagerWin::priRemove()
{
    const std::string path = SocketPath();
    if (!OsAutoLaunchWindowExists(path))
        return;
    OsAutoLaunchSend(path, kAutoLaunchRemove, kAnswerWaitMs);
    OsSleepMilliseconds(kRemovePauseMs);
}

bool RegisterAutoLaunchManager(FIUiObjectFactory* factory)
{
    if (!factory)
        return false;
    auto* creator = new FAutoLaunchCreator;
    if (factory->Register("AUTO_LAUNCH_MGR", creator))
        return true;
    delete creator;
    return false;
}
