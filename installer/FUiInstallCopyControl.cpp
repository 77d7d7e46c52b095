#include "FUiInstallCopyControl.h"

#include <algorithm>

#include "FBundleFolder.h"
#include "FCodePage.h"
#include "FDebugTrace.h"
#include "FException.h"
#include "FIStorageClass.h"
#include "FIUiApp.h"
#include "FLinkFreePath.h"
#include "FPropList.h"
#include "FUiObjectFactory.h"
#include "FUiStyles.h"
#include "FXmlParser.h"
#include "InstallerPaths.h"
#include "InstallerRecord.h"
#include "StorageClassRegistry.h"

namespace
{

// Folder groups deeper than this are refused: a linked folder could loop.
constexpr int kMaxFolderDepth = 32;

const char* const kEvents[] = {
    "ON_SEND_DEBUG_OS",
    "ON_SEND_DEBUG_SYS",
    "ON_SEND_DEBUG_TAR",
    "ON_START_COPY",
    "ON_COPY_COMPLETE",
    "ON_COPY_UPDATE_COMPLETE",
    "ON_PROGRESS",
    "ON_SEND_PROP_TREE",
    "ON_SEND_TARGET_EXE_NAME",
    "ON_SEND_TARGET_EXE_FOLDER",
    "ON_SEND_ERROR",
    "ON_DELETE_ERROR",
    "ON_SEND_AUTO_LAUNCH_EXE_NAME",
    // Ours: the copy ended early; the lists of what was done have been sent.
    "ON_COPY_FAILED",
    // Ours: the user stopped the copy; the lists of what was done have been sent.
    "ON_COPY_CANCELLED",
};

const char* const kListKeys[] = {"Bundle", "Folder", "Name", "Style", "SwitchedStyle"};
const char* const kGroupKeys[] = {"Name", "Filename", "AutoLaunchExe", "Style", "SwitchedStyle"};
const char* const kTargetKeys[] = {"Name",     "Install_OS",   "DestDir",   "DestFileName",
                                   "Language", "Uninstall",    "TargetExe", "AutoLaunchExe",
                                   "Style",    "SwitchedStyle"};
const char* const kLaunchKeys[] = {"Name", "RunTime", "CommandLine", "Style", "SwitchedStyle"};

template <size_t N>
void CheckKeys(FPropList* node, const char* const (&known)[N])
{
    for (FPropPair* pair = node->GetFirstProp(); pair; pair = pair->GetNext()) {
        const bool isKnown = std::any_of(std::begin(known), std::end(known),
                                         [&](const char* key) { return pair->GetName() == key; });
        if (isKnown)
            continue;
        FWideString text("The install list has an unknown key \"");
        text += pair->GetName();
        text += "\" in ";
        text += node->GetName();
        text += ".";
        throw FExceptionUiScript(Utf8FromWide(text).c_str());
    }
}

bool IsStyleElement(FPropList* node)
{
    return node->GetName() == "STYLE" || node->GetName() == "SWITCHED_STYLE";
}

const char* const kPlaceholders[] = {"<TARGETDIR>", "<TEMPDIR>", "<SYSTEMDIR>", "<EXTENSIONS>"};

// Checked before expansion: an expanded folder may hold "<" and ">" of its own.
bool HasUnknownPlaceholder(const FWideString& text)
{
    const std::u16string units(text.GetBuffer(), static_cast<size_t>(text.GetLength()));
    for (size_t open = units.find(u'<'); open != std::u16string::npos; open = units.find(u'<', open + 1)) {
        const size_t close = units.find(u'>', open);
        if (close == std::u16string::npos)
            return false;
        const std::u16string token = units.substr(open, close - open + 1);
        const bool known = std::any_of(std::begin(kPlaceholders), std::end(kPlaceholders),
                                       [&](const char* name) { return FWideString(token.c_str()) == name; });
        if (!known)
            return true;
    }
    return false;
}

[[noreturn]] void ThrowListError(const char* what, const FWideString& value)
{
    FWideString text(what);
    text += " \"";
    text += value;
    text += "\"";
    throw FExceptionUiScript(Utf8FromWide(text).c_str());
}

struct Released {
    template <class T>
    void operator()(T* object) const
    {
        if (object)
            object->Release();
    }
};

} // namespace

void ReplaceAllTokens(FWideString& text, const FWideString& token, const FWideString& replacement)
{
    const int tokenLength = token.GetLength();
    if (tokenLength == 0)
        return;
    std::u16string result;
    const char16_t* units = text.GetBuffer();
    const int length = text.GetLength();
    int i = 0;
    while (i < length) {
        if (i + tokenLength <= length &&
            FWideString::priCompareUnits(units + i, token.GetBuffer(), tokenLength) == 0) {
            result.append(replacement.GetBuffer(), static_cast<size_t>(replacement.GetLength()));
            i += tokenLength;
            continue;
        }
        result.push_back(units[i]);
        ++i;
    }
    text = FWideString(result.c_str());
}

FUiInstallCopyControl::FUiInstallCopyControl(const char* typeName) : FUiObject(typeName)
{
    for (const char* name : kEvents)
        AddEvent(FWideString(name));
    m_usTargetDirectory = DefaultDestinationUrl();
}

FUiInstallCopyControl::~FUiInstallCopyControl()
{
    priReleaseCurrent(true);
    if (m_pArchive)
        m_pArchive->Release();
    DeletePropList(m_pInstallList);
    DeletePropList(m_pFilesRoot);
    DeletePropList(m_pFoldersRoot);
    DeletePropList(m_pLaunchRoot);
}

bool FUiInstallCopyControl::InitUiObject(FIUiApp* app, FIUiWindow* window, FIUiObject* parent, FPropList* tag)
{
    InitNonVisualUiObject(this, app, window, parent, tag);
    if (FIFile* file = app ? app->OpenScriptFile(FWideString(kInstallListName)) : nullptr) {
        m_usContainerURL = file->GetURL();
        file->Release();
    }
    if (app && !m_bSystemForced) {
        app->GetOsName(m_usOsName);
        if (m_usOsName == "Windows98_SE")
            m_usOsName = "Windows98";
        if (m_usOsName.IsEmpty())
            m_usOsName = kSystemName;
    }
    return true;
}

void FUiInstallCopyControl::SetSystemForTest(const FWideString& osName, const FWideString& systemURL,
                                             const FWideString& tempURL)
{
    m_bSystemForced = true;
    m_usOsName = osName;
    m_usSystemURL = systemURL;
    m_usTempURL = tempURL;
}

void FUiInstallCopyControl::SetInstallList(FPropList* root)
{
    DeletePropList(m_pInstallList);
    m_pInstallList = root;
}

void FUiInstallCopyControl::priTakeSpecialFolders()
{
    if (m_bSystemForced)
        return;
    m_usSystemURL = SpecialFolderUrl(kSpecialPathSystemRoot);
    m_usTempURL = SpecialFolderUrl(kSpecialPathTemp);
    m_usExtensionsURL = SpecialFolderUrl(7);
}

void FUiInstallCopyControl::priCreateRoots()
{
    if (!m_pFilesRoot)
        m_pFilesRoot = new FPropList(nullptr, "UNINSTALL_FILES");
    if (!m_pFoldersRoot)
        m_pFoldersRoot = new FPropList(nullptr, "UNINSTALL_FOLDERS");
    if (!m_pLaunchRoot)
        m_pLaunchRoot = new FPropList(nullptr, "LAUNCH_LIST");
}

FIFolder* FUiInstallCopyControl::priOpenSourceRoot()
{
    if (m_usContainerURL.IsEmpty())
        return nullptr;
    // The script storage names the archive's container (the installer itself), or
    // the list's own file when the installer runs beside loose files.
    FIFolder* archive = nullptr;
    try {
        archive = new FBundleFolder(m_usContainerURL);
        if (archive->Exists(FWideString(kInstallListName), nullptr))
            return archive;
    } catch (const FException& e) {
        DebugTrace("FUiInstallCopyControl: no archive in %s (%s)\n", m_usContainerURL.GetNarrow(),
                   e.GetMessage());
    }
    if (archive)
        archive->Release();
    FUrlParts parts = UrlParts(m_usContainerURL);
    if (parts.size() < 3)
        return nullptr;
    parts.pop_back();
    return OpenExistingFolder(JoinParts(parts, true));
}

void FUiInstallCopyControl::priOpenInstallList()
{
    DeletePropList(m_pInstallList);
    FIFolder* root = priOpenSourceRoot();
    if (!root)
        return;
    try {
        FXmlParser parser;
        m_pInstallList = parser.ParseFile(root, FWideString(kInstallListName));
    } catch (const FException& e) {
        DebugTrace("FUiInstallCopyControl: the install list does not read: %s (%s)\n", e.GetDescription(),
                   e.GetMessage());
        m_pInstallList = nullptr;
    }
    root->Release();
}

bool FUiInstallCopyControl::UiRelayMessage(const FWideString& message, void* data)
{
    if (message == "Post Creation Initialization") {
        if (m_usContainerURL.IsEmpty())
            return true;
        priOpenInstallList();
        priTakeSpecialFolders();
        priCreateRoots();
        return true;
    }
    if (message == "we're goin' bye-bye")
        return true;
    if (message == "TargetDirectory") {
        if (data)
            m_usTargetDirectory = *static_cast<FWideString*>(data);
        return true;
    }
    if (message == "Language") {
        if (data)
            m_usLanguage = *static_cast<FWideString*>(data);
        return true;
    }
    if (message == "CopyFiles") {
        m_bUpdateMode = false;
        priStartCopy();
        return true;
    }
    if (message == "CopyUpdateFiles") {
        m_bUpdateMode = true;
        priStartCopy();
        return true;
    }
    if (message == "UninstallTree") {
        if (data)
            priUninstall(static_cast<FPropList*>(data));
        return true;
    }
    if (message == "CancelCopy") {
        if (m_iRemaining <= 0)
            return true;
        priReleaseCurrent(true);
        m_iRemaining = 0;
        priSendLists();
        if (RelayEvent* event = FindEvent(FWideString("ON_COPY_CANCELLED")))
            event->Fire(nullptr);
        return true;
    }
    return true;
}

void FUiInstallCopyControl::priExpand(FWideString& text) const
{
    const FWideString folders[] = {m_usTargetDirectory, m_usTempURL, m_usSystemURL, m_usExtensionsURL};
    for (size_t i = 0; i < std::size(kPlaceholders); ++i)
        ReplaceAllTokens(text, FWideString(kPlaceholders[i]), NativeOf(folders[i]));
}

void FUiInstallCopyControl::ReadFileList()
{
    m_entries.clear();
    if (!m_pInstallList)
        return;
    for (FPropList* list = m_pInstallList->GetFirstChild(); list; list = list->GetNext()) {
        if (!(list->GetName() == "FILELIST"))
            continue;
        CheckKeys(list, kListKeys);
        m_bSourceIsArchive = list->GetBool(FWideString("Bundle"), true);
        m_usSourceFolderName = list->GetString(FWideString("Folder"), FWideString());
        // An update list beside the installer may be anyone's: only the archive is trusted.
        if (m_bUpdateMode && !m_bSourceIsArchive)
            throw FExceptionUiScript("An update list may only copy files of the installer's own archive.");
        if (!m_bSourceIsArchive && !IsPlainEntryName(m_usSourceFolderName))
            ThrowListError("The install list names an unsafe source folder", m_usSourceFolderName);
        for (FPropList* group = list->GetFirstChild(); group; group = group->GetNext()) {
            if (IsStyleElement(group))
                continue;
            CheckKeys(group, kGroupKeys);
            const bool folderGroup = group->GetName() == "FOLDER";
            const bool groupAutoLaunch = group->GetBool(FWideString("AutoLaunchExe"), false);
            for (FPropList* target = group->GetFirstChild(); target; target = target->GetNext())
                priReadTarget(target, group, folderGroup, groupAutoLaunch);
        }
    }
}

void FUiInstallCopyControl::priReadTarget(FPropList* target, FPropList* group, bool folderGroup,
                                          bool groupAutoLaunch)
{
    CheckKeys(target, kTargetKeys);
    const FWideString installOS = target->GetString(FWideString("Install_OS"), FWideString("All"));
    const FWideString language = target->GetString(FWideString("Language"), FWideString("All"));
    if (!(installOS == m_usOsName || installOS == "AllWindows"))
        return;
    if (!(language == m_usLanguage || language == "All"))
        return;

    InstallFileRecord entry;
    entry.m_installOS = installOS;
    entry.m_fileName = group->GetString(FWideString("Filename"), FWideString("FileName"));
    if (!IsPlainEntryName(entry.m_fileName))
        ThrowListError("The install list names an unsafe file", entry.m_fileName);
    entry.m_destFileName =
        target->GetString(FWideString("DestFileName"), FWideString(), &entry.m_bDestNameGiven);
    if (entry.m_bDestNameGiven && !IsPlainEntryName(entry.m_destFileName))
        ThrowListError("The install list names an unsafe file", entry.m_destFileName);

    FWideString destDir = target->GetString(FWideString("DestDir"), FWideString());
    if (HasUnknownPlaceholder(destDir))
        ThrowListError("The install list has an unknown placeholder in", destDir);
    priExpand(destDir);
    // Lists written for the other platform separate folders with "\".
    ReplaceAllTokens(destDir, FWideString("\\"), FWideString("/"));
    entry.m_destFolderPath = destDir;
    FWideString destURL;
    try {
        if (!NativePathToURL(destDir, destURL))
            destURL.Clear();
    } catch (const FException&) {
        destURL.Clear();
    }
    if (destURL.IsEmpty() || !IsUrlInside(destURL, m_usTargetDirectory))
        ThrowListError("The install list names a folder outside the destination:", destDir);
    entry.m_destFolderURL = JoinParts(UrlParts(destURL), true);
    entry.m_bUninstall = target->GetBool(FWideString("Uninstall"), true);
    entry.m_bFolderGroup = folderGroup;
    entry.m_bTargetExe = target->GetBool(FWideString("TargetExe"), false);
    entry.m_bAutoLaunch = target->GetBool(FWideString("AutoLaunchExe"), groupAutoLaunch);
    entry.m_runTime = "Never";

    if (entry.m_bTargetExe) {
        FWideString name = entry.m_bDestNameGiven ? entry.m_destFileName : entry.m_fileName;
        if (RelayEvent* event = FindEvent(FWideString("ON_SEND_TARGET_EXE_NAME")))
            event->Fire(&name);
        FWideString folder = entry.m_destFolderURL;
        if (RelayEvent* event = FindEvent(FWideString("ON_SEND_TARGET_EXE_FOLDER")))
            event->Fire(&folder);
    }
    if (entry.m_bAutoLaunch) {
        // The name the file is stored under, so that the program is found where it is.
        FWideString url =
            ChildUrl(entry.m_destFolderURL, entry.m_bDestNameGiven ? entry.m_destFileName : entry.m_fileName);
        if (RelayEvent* event = FindEvent(FWideString("ON_SEND_AUTO_LAUNCH_EXE_NAME")))
            event->Fire(&url);
    }

    if (!target->GetFirstChild()) {
        priAddEntry(entry);
        return;
    }
    for (FPropList* launch = target->GetFirstChild(); launch; launch = launch->GetNext()) {
        CheckKeys(launch, kLaunchKeys);
        entry.m_runTime = launch->GetString(FWideString("RunTime"), FWideString("Never"));
        entry.m_commandLine = launch->GetString(FWideString("CommandLine"), FWideString());
        priExpand(entry.m_commandLine);
        priAddEntry(entry);
    }
}

void FUiInstallCopyControl::priAddEntry(InstallFileRecord& entry)
{
    if (!entry.m_bFolderGroup) {
        m_entries.push_back(entry);
        return;
    }
    const FWideString savedSubPath = entry.m_subPath;
    const FWideString savedName = entry.m_fileName;
    if (!entry.m_subPath.IsEmpty())
        entry.m_subPath += "/";
    entry.m_subPath += entry.m_fileName;
    if (std::count(entry.m_subPath.GetBuffer(), entry.m_subPath.GetBuffer() + entry.m_subPath.GetLength(),
                   u'/') >= kMaxFolderDepth)
        ThrowListError("The install list's folder is too deep:", entry.m_subPath);
    std::unique_ptr<FIFolder, Released> folder(priOpenSourceFolder(entry.m_subPath));
    if (folder) {
        std::vector<FWideString> folders, files;
        folder->ListFolders(folders);
        folder->ListFiles(files);
        for (const FWideString& name : folders) {
            entry.m_fileName = name;
            priAddEntry(entry);
        }
        for (const FWideString& name : files) {
            // Archive members below the group's folder come with their own sub-path.
            if (!IsPlainRelativePath(name))
                ThrowListError("The installer's archive holds an unsafe name:", name);
            InstallFileRecord file = entry;
            FWideString before, after;
            FWideString rest = name;
            while (rest.Split(u"/", before, after)) {
                file.m_subPath += "/";
                file.m_subPath += before;
                rest = after;
            }
            file.m_fileName = rest;
            file.m_bFolderGroup = false;
            m_entries.push_back(file);
        }
    }
    entry.m_subPath = savedSubPath;
    entry.m_fileName = savedName;
}

FIFolder* FUiInstallCopyControl::priOpenSourceFolder(const FWideString& subPath)
{
    if (m_bSourceIsArchive) {
        FIFolder* root = priOpenSourceRoot();
        if (!root || subPath.IsEmpty())
            return root;
        FIFolder* sub = root->OpenSubFolder(subPath, false);
        root->Release();
        return sub;
    }
    FUrlParts parts = UrlParts(m_usContainerURL);
    if (parts.size() < 3)
        return nullptr;
    parts.pop_back();
    FWideString escaped;
    EscapeURLChars(m_usSourceFolderName, escaped);
    parts.push_back(escaped);
    std::vector<FWideString> pieces;
    if (!subPath.IsEmpty())
        SplitString(subPath, pieces, FWideString("/"));
    for (const FWideString& piece : pieces) {
        EscapeURLChars(piece, escaped);
        parts.push_back(escaped);
    }
    return OpenExistingFolder(JoinParts(parts, true));
}

void FUiInstallCopyControl::priStartCopy()
{
    priReleaseCurrent(true);
    m_iIndex = 0;
    m_iStartAttempts = 0;
    m_missingFolders.clear();
    priCreateRoots();
    if (m_bUpdateMode) {
        DeletePropList(m_pInstallList);
        FUrlParts parts = UrlParts(m_usContainerURL);
        if (parts.size() >= 3) {
            parts.pop_back();
            if (FIFolder* folder = OpenExistingFolder(JoinParts(parts, true))) {
                try {
                    FXmlParser parser;
                    m_pInstallList = parser.ParseFile(folder, FWideString(kUpdateListName));
                } catch (const FException&) {
                    m_pInstallList = nullptr;
                }
                folder->Release();
            }
        }
        if (!m_pInstallList) {
            m_iRemaining = m_iTotal = 0;
            priFinishCopy();
            return;
        }
    } else if (!m_pInstallList) {
        priFailCopy(FWideString("The installer's list of files is missing or damaged."));
        return;
    }
    try {
        ApplyStyles(m_pInstallList->GetFirstChild());
        ReadFileList();
    } catch (const FException& e) {
        m_entries.clear();
        priFailCopy(WideFromUtf8(e.GetMessage()));
        return;
    }
    if (!m_bUpdateMode || !m_entries.empty()) {
        if (RelayEvent* event = FindEvent(FWideString("ON_START_COPY")))
            event->Fire(nullptr);
    }
    m_iTotal = m_iRemaining = static_cast<int>(m_entries.size());
    // An empty update list has nothing to announce; an empty install list still reports its start.
    if (m_bUpdateMode && m_entries.empty()) {
        priFinishCopy();
        return;
    }
    double zero = 0.0;
    if (RelayEvent* event = FindEvent(FWideString("ON_PROGRESS")))
        event->Fire(&zero);
    FWideString os = m_usOsName, sys = m_usSystemURL, tar = m_usTargetDirectory;
    if (RelayEvent* event = FindEvent(FWideString("ON_SEND_DEBUG_OS")))
        event->Fire(&os);
    if (RelayEvent* event = FindEvent(FWideString("ON_SEND_DEBUG_SYS")))
        event->Fire(&sys);
    if (RelayEvent* event = FindEvent(FWideString("ON_SEND_DEBUG_TAR")))
        event->Fire(&tar);
    if (m_entries.empty())
        priFinishCopy();
}

void FUiInstallCopyControl::Tick(int)
{
    if (m_iRemaining <= 0 || m_iIndex >= static_cast<int>(m_entries.size()))
        return;
    try {
        if (!m_pSourceFile)
            priStartEntry();
        else
            priCopyChunk();
    } catch (const FException& e) {
        // Nothing may leave a tick half done: the copy ends with its error shown.
        priFailCopy(WideFromUtf8(e.GetMessage()));
    } catch (...) {
        priFailCopy(FWideString("Some kind of problem copying files during install!"));
    }
}

FWideString FUiInstallCopyControl::priSourceName(const InstallFileRecord& entry) const
{
    FWideString name = entry.m_subPath;
    if (!name.IsEmpty())
        name += "/";
    name += entry.m_fileName;
    return name;
}

void FUiInstallCopyControl::priNoteMissingFolders(const FWideString& destURL)
{
    const FUrlParts parts = UrlParts(destURL);
    if (parts.size() < 3)
        return;
    FUrlParts prefix(parts.begin(), parts.begin() + 2);
    for (size_t i = 2; i + 1 < parts.size(); ++i) {
        prefix.push_back(parts[i]);
        const FWideString url = JoinParts(prefix, true);
        if (FIFolder* folder = OpenExistingFolder(url)) {
            folder->Release();
            continue;
        }
        // Names differing in case are different folders here, and each must be removable.
        if (std::find(m_missingFolders.begin(), m_missingFolders.end(), url) == m_missingFolders.end())
            m_missingFolders.push_back(url);
    }
}

void FUiInstallCopyControl::priStartEntry()
{
    InstallFileRecord& entry = m_entries[static_cast<size_t>(m_iIndex)];
    FUrlParts destParts = UrlParts(entry.m_destFolderURL);
    std::vector<FWideString> pieces;
    if (!entry.m_subPath.IsEmpty())
        SplitString(entry.m_subPath, pieces, FWideString("/"));
    FWideString escaped;
    for (const FWideString& piece : pieces) {
        EscapeURLChars(piece, escaped);
        destParts.push_back(escaped);
    }
    const FWideString destFolderURL = JoinParts(destParts, true);
    m_usDestName = entry.m_bDestNameGiven ? entry.m_destFileName : entry.m_fileName;
    entry.m_destURL = ChildUrl(destFolderURL, m_usDestName);
    priNoteMissingFolders(entry.m_destURL);

    const FWideString from = priSourceName(entry);
    try {
        // The archive stays open for the whole copy; its members are found by their full names.
        if (m_bSourceIsArchive && !m_pArchive)
            m_pArchive = priOpenSourceRoot();
        else if (!m_bSourceIsArchive)
            m_pSourceFolder = priOpenSourceFolder(entry.m_subPath);
        FIFolder* source = m_bSourceIsArchive ? m_pArchive : m_pSourceFolder;
        if (!source) {
            FWideString text;
            text.Format("Unable to open source or destination folder! %s\n",
                        entry.m_destFolderURL.GetNarrow());
            throw FException(Utf8FromWide(text).c_str());
        }
        m_pSourceFile = source->OpenFile(m_bSourceIsArchive ? from : entry.m_fileName, kFileRead);
        if (!m_pSourceFile)
            throw FException("Unable to open source or destination file!");
    } catch (const FException& e) {
        DebugTrace("Caught unhandled FException: %s (%s)\n", e.GetDescription(), e.GetMessage());
        priReleaseCurrent(true);
        // The next tick tries again, a few times only: a member that is not there stays away.
        if (++m_iStartAttempts < kMaxStartAttempts)
            return;
        FWideString text("Error copying from ");
        text += from;
        text += " to ";
        text += NativeOf(entry.m_destURL);
        text += ": the installer's copy of the file cannot be read.";
        priFailCopy(text);
        return;
    }
    m_iStartAttempts = 0;

    // A folder the owner may not write is refused even where the system would let us.
    if (!IsWritableFolderPath(destFolderURL)) {
        FWideString text("The folder ");
        text += NativeOf(destFolderURL);
        text += " cannot be written: choose another destination.";
        priFailCopy(text);
        return;
    }
    // The copy goes to a temporary file beside its place and is put there only when whole.
    m_pDestFolder = OpenOrCreateFolder(destFolderURL);
    if (m_pDestFolder)
        m_pTempFile = m_pDestFolder->CreateTempFile(FWideString(".rbinst-"), m_usTempName);
    if (!m_pTempFile) {
        FWideString text("Error copying from ");
        text += from;
        text += " to ";
        text += NativeOf(entry.m_destURL);
        text += ": the destination folder cannot be written.";
        priFailCopy(text);
        return;
    }
    m_iBytesLeft = m_pSourceFile->GetSize();
    m_iBytesDone = 0;
    m_digest = FSha256();
    if (m_iBytesLeft == 0)
        priFinishEntry();
}

void FUiInstallCopyControl::priCopyChunk()
{
    const InstallFileRecord& entry = m_entries[static_cast<size_t>(m_iIndex)];
    const int n = static_cast<int>(std::min<uint64_t>(kChunkSize, m_iBytesLeft));
    m_buffer.resize(kChunkSize);
    int got = 0;
    while (got < n) {
        const int some = m_pSourceFile->ReadSome(m_buffer.data() + got, n - got);
        if (some <= 0)
            break;
        got += some;
    }
    auto fail = [&](const char* why) {
        FWideString text("Error copying from ");
        text += priSourceName(entry);
        text += " to ";
        text += NativeOf(entry.m_destURL);
        text += why;
        priFailCopy(text);
    };
    if (got < n) {
        fail(": the installer's copy of the file is cut short.");
        return;
    }
    try {
        m_pTempFile->Write(m_buffer.data(), n);
    } catch (const FException&) {
        fail(": the file could not be written (is the disk full?).");
        return;
    }
    m_digest.Add(m_buffer.data(), static_cast<size_t>(n));
    m_iBytesDone += static_cast<uint64_t>(n);
    m_iBytesLeft -= static_cast<uint64_t>(n);
    if (m_iBytesLeft == 0)
        priFinishEntry();
}

void FUiInstallCopyControl::priFinishEntry()
{
    const InstallFileRecord& entry = m_entries[static_cast<size_t>(m_iIndex)];
    try {
        m_pTempFile->Release();
        m_pTempFile = nullptr;
        // A rename, not a synced replace: a cut-off install is run again, and syncing
        // every file would make installing many times slower than copying.
        if (!m_pDestFolder->DeleteFile(m_usDestName))
            throw FExceptionFileWrite("the old file cannot be removed");
        m_pDestFolder->Rename(m_usTempName, m_usDestName);
        bool isFolder = false;
        if (m_pDestFolder->Exists(m_usTempName, &isFolder) || !m_pDestFolder->Exists(m_usDestName, &isFolder))
            throw FExceptionFileWrite("the copy cannot be renamed");
        m_usTempName.Clear();
        const bool startable = entry.m_bTargetExe || entry.m_bAutoLaunch || !(entry.m_runTime == "Never");
        if (startable) {
            if (FIFile* file = m_pDestFolder->OpenFile(m_usDestName, kFileRead)) {
                FFileInfo info;
                file->GetInfo(info);
                info.m_iFlags |= kFileAttrExecutable;
                try {
                    file->SetAttributes(info);
                } catch (const FException&) {
                    file->Release();
                    throw;
                }
                file->Release();
            }
        }
    } catch (const FException&) {
        FWideString text("Error copying from ");
        text += priSourceName(entry);
        text += " to ";
        text += NativeOf(entry.m_destURL);
        text += ": the file could not be put in place.";
        priFailCopy(text);
        return;
    }
    if (entry.m_bUninstall) {
        FPropList* file = new FPropList(m_pFilesRoot, "FILE");
        file->AddProp(FWideString("FileName"), entry.m_destURL);
        AddDigest(file, m_iBytesDone, m_digest.FinishHex());
    }
    if (!(entry.m_runTime == "Never")) {
        FPropList* launch = new FPropList(m_pLaunchRoot, "LAUNCH");
        launch->AddProp(FWideString("FileName"), entry.m_destURL);
        launch->AddProp(FWideString("CommandLine"), entry.m_commandLine);
        launch->AddProp(FWideString("RunTime"), entry.m_runTime);
    }
    priAdvance();
}

void FUiInstallCopyControl::priAdvance()
{
    ++m_iIndex;
    --m_iRemaining;
    double fraction = m_iTotal > 0 ? static_cast<double>(m_iTotal - m_iRemaining) / m_iTotal : 1.0;
    if (RelayEvent* event = FindEvent(FWideString("ON_PROGRESS")))
        event->Fire(&fraction);
    priReleaseCurrent(false);
    if (m_iRemaining <= 0)
        priFinishCopy();
}

void FUiInstallCopyControl::priReleaseCurrent(bool removeTemp)
{
    if (m_pTempFile) {
        m_pTempFile->Release();
        m_pTempFile = nullptr;
    }
    if (removeTemp && m_pDestFolder && !m_usTempName.IsEmpty()) {
        try {
            m_pDestFolder->DeleteFile(m_usTempName);
        } catch (const FException&) {
        }
    }
    m_usTempName.Clear();
    if (m_pDestFolder) {
        m_pDestFolder->Release();
        m_pDestFolder = nullptr;
    }
    if (m_pSourceFile) {
        m_pSourceFile->Release();
        m_pSourceFile = nullptr;
    }
    if (m_pSourceFolder) {
        m_pSourceFolder->Release();
        m_pSourceFolder = nullptr;
    }
    m_iBytesLeft = 0;
}

void FUiInstallCopyControl::priSendLists()
{
    if (m_pArchive) {
        m_pArchive->Release();
        m_pArchive = nullptr;
    }
    priCreateRoots();
    for (const FWideString& url : m_missingFolders) {
        FPropList* folder = new FPropList(m_pFoldersRoot, "FOLDER");
        folder->AddProp(FWideString("FolderName"), url);
        // A folder noted but never made (the copy stopped first) has no identity and is never removed.
        AddFolderIdentity(folder, url);
    }
    m_missingFolders.clear();
    if (RelayEvent* event = FindEvent(FWideString("ON_SEND_PROP_TREE"))) {
        event->Fire(m_pFoldersRoot);
        event->Fire(m_pFilesRoot);
        event->Fire(m_pLaunchRoot);
    }
}

void FUiInstallCopyControl::priFinishCopy()
{
    priSendLists();
    if (RelayEvent* event =
            FindEvent(FWideString(m_bUpdateMode ? "ON_COPY_UPDATE_COMPLETE" : "ON_COPY_COMPLETE")))
        event->Fire(nullptr);
}

void FUiInstallCopyControl::priSendError(const FWideString& text)
{
    DebugTrace("FUiInstallCopyControl: %s\n", Utf8FromWide(text).c_str());
    FWideString copy = text;
    if (RelayEvent* event = FindEvent(FWideString("ON_SEND_ERROR")))
        event->Fire(&copy);
}

void FUiInstallCopyControl::priFailCopy(const FWideString& text)
{
    priReleaseCurrent(true);
    m_iRemaining = 0;
    priSendError(text);
    // What was put in place is still recorded, so that the uninstaller can remove it.
    priSendLists();
    FWideString copy = text;
    if (RelayEvent* event = FindEvent(FWideString("ON_COPY_FAILED")))
        event->Fire(&copy);
}

void FUiInstallCopyControl::priUninstall(FPropList* root)
{
    // The record is a file anyone on the account can edit: only files inside the destination
    // it was stamped for, still as they were written, and folders the installation made go.
    const FWideString destination = TrustedInstallRoot(root);
    RemoveRecordedFiles(root, destination);
    RemoveRecordedFolders(root, destination);
}

bool RegisterInstallCopyControl(FIUiObjectFactory* factory)
{
    return RegisterInstallerCreator<FUiInstallCopyControl>(factory, "COPY_CONTROL");
}
