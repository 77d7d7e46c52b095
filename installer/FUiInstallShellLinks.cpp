#include "FUiInstallShellLinks.h"

#include <chrono>
#include <thread>

#include "FBundleFolder.h"
#include "FCodePage.h"
#include "FDebugTrace.h"
#include "FException.h"
#include "FIStorageClass.h"
#include "FIUiApp.h"
#include "FLinkFreePath.h"
#include "FPropList.h"
#include "FSha256.h"
#include "FUiInstallCopyControl.h"
#include "FXmlParser.h"
#include "InstallerPaths.h"
#include "InstallerRecord.h"
#include "StorageClassRegistry.h"

namespace
{

constexpr int kLaunchPauseMs = 200;

std::function<void(int)>& Pause()
{
    static std::function<void(int)> pause;
    return pause;
}

// The arguments as a program receives them: split at blanks, double quotes grouping.
std::vector<std::string> SplitArguments(const std::string& text)
{
    std::vector<std::string> args;
    std::string current;
    bool quoted = false, any = false;
    for (char c : text) {
        if (c == '"') {
            quoted = !quoted;
            any = true;
        } else if (!quoted && (c == ' ' || c == '\t')) {
            if (any)
                args.push_back(current);
            current.clear();
            any = false;
        } else {
            current += c;
            any = true;
        }
    }
    if (any)
        args.push_back(current);
    return args;
}

// One Exec argument, quoted when it holds a reserved character.
std::string QuoteExecArgument(const std::string& arg)
{
    static const std::string kReserved = " \t\n\"'\\><~|&;$*?#()`";
    std::string out;
    const bool quote = arg.empty() || arg.find_first_of(kReserved) != std::string::npos;
    for (char c : arg) {
        if (quote && (c == '"' || c == '`' || c == '$' || c == '\\'))
            out += '\\';
        out += c;
        if (c == '%')
            out += '%';
    }
    return quote ? "\"" + out + "\"" : out;
}

// The escapes of a desktop entry's string values.
std::string EscapeValue(const std::string& text)
{
    std::string out;
    for (char c : text) {
        if (c == '\\')
            out += "\\\\";
        else if (c == '\n')
            out += "\\n";
        else if (c == '\t')
            out += "\\t";
        else if (c == '\r')
            out += "\\r";
        else
            out += c;
    }
    return out;
}

FWideString UrlOfNative(const FWideString& native)
{
    FWideString url;
    try {
        if (!NativePathToURL(native, url))
            url.Clear();
    } catch (const FException&) {
        url.Clear();
    }
    return url;
}

} // namespace

void FUiInstallShellLinks::SetPause(std::function<void(int ms)> pause)
{
    Pause() = std::move(pause);
}

bool FUiInstallShellLinks::IsUsableName(const FWideString& description)
{
    if (description.IsEmpty() || description.GetBuffer()[0] == u'.')
        return false;
    for (int i = 0; i < description.GetLength(); ++i) {
        const char16_t c = description.GetBuffer()[i];
        if (c == u'/' || c < 0x20 || c == 0x7F)
            return false;
    }
    return true;
}

std::string FUiInstallShellLinks::ExecLine(const FWideString& target, const FWideString& arguments)
{
    std::string line = QuoteExecArgument(Utf8FromWide(target));
    for (const std::string& arg : SplitArguments(Utf8FromWide(arguments))) {
        line += ' ';
        line += QuoteExecArgument(arg);
    }
    return EscapeValue(line);
}

std::string FUiInstallShellLinks::EntryText(const ShortcutRecord& record)
{
    std::string text =
        "[Desktop Entry]\nType=Application\nName=" + EscapeValue(Utf8FromWide(record.description)) + "\n";
    if (!record.comment.IsEmpty())
        text += "Comment=" + EscapeValue(Utf8FromWide(record.comment)) + "\n";
    if (!record.icon.IsEmpty())
        text += "Icon=" + EscapeValue(Utf8FromWide(record.icon)) + "\n";
    text += "Exec=" + ExecLine(record.target, record.arguments);
    // The file manager hands the chosen files and folders over in place of the field code.
    if (!record.mimeType.IsEmpty())
        text += " %F";
    text += "\nTerminal=false\n";
    if (!record.categories.IsEmpty())
        text += "Categories=" + EscapeValue(Utf8FromWide(record.categories)) + "\n";
    if (!record.mimeType.IsEmpty())
        text += "MimeType=" + EscapeValue(Utf8FromWide(record.mimeType)) + "\n";
    return text;
}

FUiInstallShellLinks::FUiInstallShellLinks(const char* typeName)
    : FUiObject(typeName), m_usOsName(kSystemName), m_usTargetExeName(kProgramName), m_usStage("UNKNOWN")
{
    AddEvent(FWideString("ON_SEND_UNINSTALL_TREE"));
}

FUiInstallShellLinks::~FUiInstallShellLinks()
{
    DeletePropList(m_pInstallList);
    DeletePropList(m_pUninstallList);
}

bool FUiInstallShellLinks::InitUiObject(FIUiApp* app, FIUiWindow* window, FIUiObject* parent, FPropList* tag)
{
    InitNonVisualUiObject(this, app, window, parent, tag);
    FWideString name;
    if (app)
        app->GetOsName(name);
    if (!name.IsEmpty())
        m_usOsName = name;
    return true;
}

bool FUiInstallShellLinks::UiRelayMessage(const FWideString& message, void* data)
{
    // Every message is answered false, also those acted on.
    FWideString* text = static_cast<FWideString*>(data);
    if (message == "Post Creation Initialization") {
        m_usDesktopURL = SpecialFolderUrl(kSpecialPathDesktop);
        m_usProgramsURL = SpecialFolderUrl(kSpecialPathPrograms);
        m_usTempURL = SpecialFolderUrl(kSpecialPathTemp);
        m_usStartupURL = SpecialFolderUrl(kSpecialPathStartup);
        m_usSystemURL = SpecialFolderUrl(kSpecialPathSystemRoot);
    } else if ((message == "TargetExeName" || message == "ExecutableName") && text) {
        m_usTargetExeName = *text;
    } else if (message == "CreateLinks") {
        priCreateLinks();
    } else if (message == "InstallStage" && text) {
        m_usStage = *text;
        priStartStage();
    } else if (message == "LaunchTree" && data) {
        m_pLaunchTree = static_cast<FPropList*>(data);
    } else if (message == "TargetDirectory" && text) {
        m_usTargetDirectory = *text;
    } else if (message == "ShellLinkFile" && data) {
        priReadInstallList(static_cast<FWideString*>(data));
    } else if (message == "UninstallTree" && data) {
        priUninstall(static_cast<FPropList*>(data));
    }
    return false;
}

void FUiInstallShellLinks::priExpand(FWideString& text) const
{
    ReplaceAllTokens(text, FWideString("&quot;"), FWideString("\""));
    ReplaceAllTokens(text, FWideString("<EXE>"), m_usTargetExeName);
    const std::pair<const char*, const FWideString*> folders[] = {
        {"<TARGETDIR>", &m_usTargetDirectory}, {"<DESKTOP>", &m_usDesktopURL},
        {"<TEMPDIR>", &m_usTempURL},           {"<STARTMENU>", &m_usProgramsURL},
        {"<STARTUP>", &m_usStartupURL},        {"<SYSTEMDIR>", &m_usSystemURL},
    };
    for (const auto& [token, url] : folders)
        ReplaceAllTokens(text, FWideString(token), NativeOf(*url));
}

void FUiInstallShellLinks::priReadInstallList(const FWideString* pair)
{
    DeletePropList(m_pInstallList);
    m_pInstallList = ReadInstallListAt(pair);
    if (!m_pInstallList)
        return;
    for (FPropList* list = m_pInstallList->GetFirstChild(); list; list = list->GetNext()) {
        if (!(list->GetName() == "SHORTCUTS"))
            continue;
        for (FPropList* entry = list->GetFirstChild(); entry; entry = entry->GetNext()) {
            const FWideString os = entry->GetString(FWideString("Install_OS"), FWideString("AllWindows"));
            if (!(os == "AllWindows" || os == m_usOsName))
                continue;
            ShortcutRecord record;
            record.target = entry->GetString(FWideString("Target_Name"), FWideString("Full Path to File"));
            FWideString link = entry->GetString(FWideString("Link"), FWideString("Link Location"));
            record.description = entry->GetString(FWideString("Desc"), FWideString("Description for .lnk"));
            record.arguments = entry->GetString(FWideString("Arguments"), FWideString());
            record.folder = entry->GetBool(FWideString("Folder"), false);
            record.icon = entry->GetString(FWideString("Icon"), FWideString());
            record.categories = entry->GetString(FWideString("Categories"), FWideString());
            record.mimeType = entry->GetString(FWideString("MimeType"), FWideString());
            record.comment = entry->GetString(FWideString("Comment"), FWideString());
            priExpand(record.target);
            priExpand(link);
            priExpand(record.arguments);
            ReplaceAllTokens(link, FWideString("\\"), FWideString("/"));
            if (!record.folder && !IsUsableName(record.description)) {
                DebugTrace("FUiInstallShellLinks: refusing the shortcut name %s\n",
                           Utf8FromWide(record.description).c_str());
                continue;
            }
            record.linkPath = link;
            if (!record.folder) {
                record.linkPath += "/";
                record.linkPath += record.description;
                record.linkPath += ".desktop";
            }
            m_links.push_back(record);
        }
    }
}

bool FUiInstallShellLinks::priIsInShortcutFolder(const FWideString& url) const
{
    for (const FWideString* root : {&m_usDesktopURL, &m_usProgramsURL, &m_usStartupURL}) {
        if (!root->IsEmpty() && IsUrlInside(url, *root) && IsLinkFreePathBelow(*root, url))
            return true;
    }
    return false;
}

bool FUiInstallShellLinks::priWriteEntry(ShortcutRecord& record)
{
    const FWideString url = UrlOfNative(record.linkPath);
    FUrlParts parts = UrlParts(url);
    if (parts.size() < 3 || !priIsInShortcutFolder(url))
        return false;
    FWideString name;
    UnescapeURLChars(parts.back(), name);
    parts.pop_back();
    const FWideString folderUrl = JoinParts(parts, true);
    FIFolder* folder = OpenOrCreateFolder(folderUrl);
    if (!folder)
        return false;
    // An entry of that name is another program's, or the user's: it stays as it is.
    bool isFolder = false;
    if (folder->Exists(name, &isFolder)) {
        DebugTrace("FUiInstallShellLinks: keeping the existing %s\n", record.linkPath.GetNarrow());
        folder->Release();
        return false;
    }
    const std::string bytes = EntryText(record);
    // Desktops trust a launcher on the desktop only when it may be run.
    const bool executable = IsUrlInside(folderUrl, m_usDesktopURL);
    const bool written = WriteWholeFile(folder, name, bytes, executable);
    folder->Release();
    if (written) {
        FSha256 digest;
        digest.Add(bytes.data(), bytes.size());
        record.sha = digest.FinishHex();
        record.size = bytes.size();
    }
    return written;
}

void FUiInstallShellLinks::priCreateLinks()
{
    for (ShortcutRecord& record : m_links) {
        if (!record.folder) {
            record.created = priWriteEntry(record);
            continue;
        }
        // Only a folder made here is recorded: an existing one is the user's.
        const FWideString url = UrlOfNative(record.linkPath);
        if (!priIsInShortcutFolder(url) || FolderKey(url) == FolderKey(m_usDesktopURL) ||
            FolderKey(url) == FolderKey(m_usProgramsURL) || FolderKey(url) == FolderKey(m_usStartupURL))
            continue;
        if (FIFolder* existing = OpenExistingFolder(url)) {
            existing->Release();
            continue;
        }
        if (FIFolder* folder = OpenOrCreateFolder(url)) {
            record.created = true;
            folder->Release();
        }
    }
    if (m_links.empty())
        return;
    DeletePropList(m_pUninstallList);
    m_pUninstallList = new FPropList(nullptr, "UNINSTALL_SHELL_LINKS");
    for (const ShortcutRecord& record : m_links) {
        if (!record.created)
            continue;
        FPropList* node = new FPropList(m_pUninstallList, "SHELL_LINK");
        node->AddProp(FWideString("Link_Name"), record.linkPath);
        node->SetBool(FWideString("Folder"), record.folder);
        // What removal checks before it takes an entry or a folder away.
        if (record.folder)
            AddFolderIdentity(node, UrlOfNative(record.linkPath));
        else
            AddDigest(node, record.size, record.sha);
    }
    if (RelayEvent* event = FindEvent(FWideString("ON_SEND_UNINSTALL_TREE")))
        event->Fire(m_pUninstallList);
}

void FUiInstallShellLinks::priStartStage()
{
    if (!m_pLaunchTree)
        return;
    // Only programs of this installation are started: below the destination stamped for it,
    // reached without links.
    const FWideString root = TrustedInstallRoot(m_pLaunchTree);
    bool first = true;
    for (FPropList* list = m_pLaunchTree->GetFirstChild(); list; list = list->GetNext()) {
        if (!(list->GetName() == "LAUNCH_LIST"))
            continue;
        for (FPropList* entry = list->GetFirstChild(); entry; entry = entry->GetNext()) {
            if (!(entry->GetString(FWideString("RunTime"), FWideString("Install stage in which to launch")) ==
                  m_usStage))
                continue;
            const FWideString file =
                entry->GetString(FWideString("FileName"), FWideString("URL to Launch File"));
            const FWideString commandLine =
                entry->GetString(FWideString("CommandLine"), FWideString("command line parameters"));
            if (root.IsEmpty() || !IsUrlInside(file, root) || !IsLinkFreePathBelow(root, file)) {
                DebugTrace("FUiInstallShellLinks: not starting %s\n", file.GetNarrow());
                continue;
            }
            if (!first) {
                if (Pause())
                    Pause()(kLaunchPauseMs);
                else
                    std::this_thread::sleep_for(std::chrono::milliseconds(kLaunchPauseMs));
            }
            first = false;
            // The disk class starts a program with its arguments split, never through a shell.
            LaunchFileURL(file, commandLine.GetBuffer());
        }
    }
}

void FUiInstallShellLinks::priUninstall(FPropList* tree)
{
    // Entries first, then their folders, each only when it is still what was made:
    // an entry with its recorded content, a folder with its recorded identity and empty.
    std::vector<const FPropList*> entries, folders;
    for (FPropList* list = tree->GetFirstChild(); list; list = list->GetNext()) {
        if (!(list->GetName() == "UNINSTALL_SHELL_LINKS"))
            continue;
        for (FPropList* entry = list->GetFirstChild(); entry; entry = entry->GetNext())
            (entry->GetBool(FWideString("Folder"), false) ? folders : entries).push_back(entry);
    }
    m_links.clear();
    auto urlOf = [](const FPropList* entry) {
        return UrlOfNative(entry->GetString(FWideString("Link_Name"), FWideString("Native Path to Link")));
    };
    for (const FPropList* entry : entries) {
        const FWideString url = urlOf(entry);
        FUrlParts parts = UrlParts(url);
        if (parts.size() < 3 || !priIsInShortcutFolder(url))
            continue;
        FWideString name;
        UnescapeURLChars(parts.back(), name);
        const int n = name.GetLength();
        if (n < 8 || !(FWideString(name.GetBuffer() + n - 8) == ".desktop") ||
            !MatchesRecordedDigest(entry, url)) {
            DebugTrace("FUiInstallShellLinks: keeping %s\n", url.GetNarrow());
            continue;
        }
        parts.pop_back();
        if (FIFolder* folder = OpenExistingFolder(JoinParts(parts, true))) {
            folder->DeleteFile(name);
            folder->Release();
        }
    }
    for (const FPropList* entry : folders) {
        const FWideString url = FolderKey(urlOf(entry));
        if (!priIsInShortcutFolder(url) || url == FolderKey(m_usDesktopURL) ||
            url == FolderKey(m_usProgramsURL) || url == FolderKey(m_usStartupURL) ||
            !MatchesRecordedIdentity(entry, url))
            continue;
        if (FIFolder* folder = OpenExistingFolder(url)) {
            // Not recursive: a folder that still holds anything stays.
            try {
                folder->DeleteFolder(url, 0);
            } catch (const FException&) {
            }
            folder->Release();
        }
    }
}

bool RegisterInstallShellLinks(FIUiObjectFactory* factory)
{
    return RegisterInstallerCreator<FUiInstallShellLinks>(factory, "SHELL_LINK");
}
