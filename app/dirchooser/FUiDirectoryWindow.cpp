#include "FUiDirectoryWindow.h"

#include <vector>

#include "FDebugTrace.h"
#include "FException.h"
#include "FIStorageClass.h"
#include "FIUiApp.h"
#include "FUiObjectFactory.h"
#include "StorageClassRegistry.h"

namespace
{

class FUiDirectoryWindowCreator final : public FIUiObjectCreator
{
public:
    FIUiObject* CreateUiObject(const char* typeName) override { return new FUiDirectoryWindow(typeName); }
};

FWideString NativeOf(const FWideString& url)
{
    FWideString native;
    URLToNativePath(url, native);
    return native;
}

void ReleaseFolder(FIFolder* folder)
{
    if (folder)
        folder->Release();
}

} // namespace

bool RegisterDirectoryWindowCreator(FIUiObjectFactory* factory)
{
    if (!factory)
        return false;
    auto* creator = new FUiDirectoryWindowCreator;
    if (factory->Register("DIRECTORY_WIN_MGR", creator))
        return true;
    delete creator;
    return false;
}

FUiDirectoryWindow::FUiDirectoryWindow(const char* typeName) : FUiObject(typeName)
{
    AddEvent(FWideString("ON_OK_PRESSED"));
    m_pOnSendDirectory = AddEvent(FWideString("ON_SEND_DIRECTORY"));
    m_pOnSendDirectoryURL = AddEvent(FWideString("ON_SEND_DIRECTORY_URL"));
    m_pOnSendURL = AddEvent(FWideString("ON_SEND_URL"));
    m_pOnEnableNewFolder = AddEvent(FWideString("ON_ENABLE_NEW_FOLDER"));
    m_pOnEnableOK = AddEvent(FWideString("ON_ENABLE_OK_BUTTON"));
    m_pOnShowNewFolder = AddEvent(FWideString("ON_SHOW_NEW_FOLDER"));
    AddEvent(FWideString("ON_HIDE_NEW_FOLDER"));
    m_pOnSetNewFolderReply = AddEvent(FWideString("ON_SET_NEW_FOLDER_REPLY"));
    m_pOnSendNewFolder = AddEvent(FWideString("ON_SEND_NEW_FOLDER"));
    m_pOnDirTreeRefresh = AddEvent(FWideString("ON_SEND_DIRTREE_REFRESH"));
    m_pOnShowFolderExists = AddEvent(FWideString("ON_SHOW_FOLDER_EXISTS"));
    m_pOnShowInvalidFolder = AddEvent(FWideString("ON_SHOW_INVALID_FOLDER"));
    m_pOnSendNewFolderPath = AddEvent(FWideString("ON_SEND_NEW_FOLDER_PATH"));
    m_pOnInvalidReadOnly = AddEvent(FWideString("ON_SEND_INVALID_READ_ONLY"));
}

FUiDirectoryWindow::~FUiDirectoryWindow() = default;

bool FUiDirectoryWindow::InitUiObject(FIUiApp* app, FIUiWindow* window, FIUiObject* parent, FPropList* tag)
{
    return InitNonVisualUiObject(this, app, window, parent, tag);
}

bool FUiDirectoryWindow::IsValidFolderName(const FWideString& name)
{
    if (name.IsEmpty() || name == "." || name == ".." || name.GetLength() > 255)
        return false;
    for (int i = 0; i < name.GetLength(); ++i) {
        const char16_t unit = name.GetBuffer()[i];
        if (unit < 0x20 || unit == u'/' || unit == u'\\' || unit == 0x7f)
            return false;
    }
    return true;
}

void FUiDirectoryWindow::priFireText(RelayEvent* event, const FWideString& text)
{
    FWideString copy(text);
    event->Fire(&copy);
}

void FUiDirectoryWindow::priFireBool(RelayEvent* event, bool value)
{
    event->Fire(&value);
}

// An empty name clears the target: the application would answer to it as its own name, and
// an opener that replies another way must not leave an earlier opener's target behind.
FIUiRelay* FUiDirectoryWindow::priFindRelay(const FWideString& name)
{
    return m_pApp && !name.IsEmpty() ? m_pApp->GetUiRelay(name) : nullptr;
}

void FUiDirectoryWindow::Tick(int /*elapsedMs*/)
{
    if (m_bFolderExists) {
        m_bFolderExists = false;
        m_pOnShowFolderExists->Fire(nullptr);
    } else if (m_bInvalidFolder) {
        m_bInvalidFolder = false;
        m_pOnShowInvalidFolder->Fire(nullptr);
    } else if (m_bReadOnly) {
        m_bReadOnly = false;
        m_pOnInvalidReadOnly->Fire(nullptr);
    }
}

// Write protection is tested on the parent folder: a volume root such as "/" is never
// writable for a user, though the folders below it are.
void FUiDirectoryWindow::priCreateNewFolder()
{
    m_bFolderExists = m_bInvalidFolder = m_bReadOnly = false;
    std::vector<FWideString> parts;
    if (!IsValidFolderName(m_usNewFolderName) || !SplitURL(m_usURL, parts) || parts.size() < 2) {
        m_bInvalidFolder = true;
        return;
    }
    FWideString escaped;
    EscapeURLChars(m_usNewFolderName, escaped);
    parts.push_back(escaped);
    FWideString newURL;
    if (!JoinURL(parts, newURL, true)) {
        m_bInvalidFolder = true;
        return;
    }
    try {
        bool isFolder = false;
        if (ExistsURL(newURL, isFolder)) {
            m_bFolderExists = true;
            return;
        }
        FWideString ignored;
        FIFolder* parent = OpenFolderURL(m_usURL, ignored, false);
        if (!parent || parent->IsReadOnly()) {
            ReleaseFolder(parent);
            m_bReadOnly = true;
            return;
        }
        FIFolder* created = OpenFolderURL(newURL, ignored, true);
        ReleaseFolder(parent);
        if (!created) {
            m_bInvalidFolder = true;
            return;
        }
        ReleaseFolder(created);
    } catch (const FException& error) {
        DebugTrace("FUiDirectoryWindow: the folder was not made (%s)\n", error.GetMessage());
        m_bInvalidFolder = true;
        return;
    }
    m_usURL = newURL;
    priFireText(m_pOnSendNewFolder, m_usURL);
    m_pOnDirTreeRefresh->Fire(nullptr);
    priFireText(m_pOnSendDirectory, NativeOf(m_usURL));
    priFireText(m_pOnSendDirectoryURL, m_usURL);
}

bool FUiDirectoryWindow::UiRelayMessage(const FWideString& message, void* data)
{
    if (message == "Post Creation Initialization") {
        priFireBool(m_pOnEnableNewFolder, false);
        priFireBool(m_pOnEnableOK, false);
        return true;
    }
    if (message == "NewFolder") {
        m_pOnShowNewFolder->Fire(nullptr);
        m_pOnSetNewFolderReply->Fire(nullptr);
        priFireText(m_pOnSendNewFolderPath, NativeOf(m_usURL));
        return true;
    }
    if (message == "CreateNewFolder") {
        if (!m_usNewFolderName.IsEmpty())
            priCreateNewFolder();
        return true;
    }
    if (message == "OKPressed") {
        if (m_pSendingRelay) {
            FWideString url(m_usURL);
            m_pSendingRelay->UiRelayMessage(FWideString("DirectoryChanged"), &url);
        }
        return true;
    }
    if (message == "SendNativeReply") {
        if (m_pNativeReplyTarget) {
            FWideString native = NativeOf(m_usURL);
            m_pNativeReplyTarget->UiRelayMessage(m_usNativeReplyMsg, &native);
        }
        return true;
    }
    if (message == "SendURLReply") {
        if (m_pURLReplyTarget) {
            FWideString url(m_usURL);
            m_pURLReplyTarget->UiRelayMessage(m_usURLReplyMsg, &url);
        }
        return true;
    }
    if (!data)
        return false;
    const FWideString& text = *static_cast<const FWideString*>(data);
    if (message == "DirSelected") {
        if (text.IsEmpty())
            return true;
        m_usURL = text;
        priFireText(m_pOnSendDirectory, NativeOf(m_usURL));
        priFireText(m_pOnSendURL, m_usURL);
        priFireBool(m_pOnEnableNewFolder, true);
        priFireBool(m_pOnEnableOK, true);
        return true;
    }
    if (message == "DefaultDirURL") {
        m_usDefaultURL = text;
        return true;
    }
    // A dialog without a folder of its own yet starts at the default: the folder the user
    // browses, not the top of the file system.
    if (message == "InitDir" || message == "InitDirURL") {
        m_usURL = text.IsEmpty() ? m_usDefaultURL : text;
        priFireText(m_pOnSendDirectoryURL, m_usURL);
        return true;
    }
    if (message == "InitDirNative") {
        FWideString url;
        if (text.IsEmpty())
            url = m_usDefaultURL;
        else if (!NativePathToURL(text, url))
            url.Clear();
        m_usURL = url;
        priFireText(m_pOnSendDirectoryURL, m_usURL);
        return true;
    }
    if (message == "NewFolderName") {
        m_usNewFolderName = text;
        return true;
    }
    if (message == "SendingRelay") {
        m_pSendingRelay = static_cast<FIUiRelay*>(data);
        return true;
    }
    if (message == "SetNativeReplyTarget") {
        m_pNativeReplyTarget = priFindRelay(text);
        return true;
    }
    if (message == "SetNativeReplyMessage") {
        m_usNativeReplyMsg = text;
        return true;
    }
    if (message == "SetURLReplyTarget") {
        m_pURLReplyTarget = priFindRelay(text);
        return true;
    }
    if (message == "SetURLReplyMessage") {
        m_usURLReplyMsg = text;
        return true;
    }
    return false;
}
