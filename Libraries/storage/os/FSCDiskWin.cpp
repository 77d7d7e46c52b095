#include "FSCDiskWin.h"

#include "FDebugTrace.h"
#include "FDiskOs.h"
#include "FException.h"
#include "FSCFileWin.h"
#include "FSCFolderWin.h"
#include "FSCNetEnumFolderWin.h"
#include "StorageClassRegistry.h"

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <fcntl.h>
#include <fstream>
#include <sys/stat.h>
#include <unistd.h>

namespace
{

constexpr int kMaxUrlFileBytes = 64 * 1024;

bool ContainsSlash(const std::string& name)
{
    return name.find('/') != std::string::npos;
}

std::string CurrentFolder()
{
    char* cwd = getcwd(nullptr, 0);
    if (!cwd)
        return std::string();
    std::string result = cwd;
    free(cwd);
    return result;
}

// Absolute path cut into its components, "." dropped.
bool AbsoluteComponents(const std::string& native, std::vector<std::string>& components)
{
    std::string path = native;
    if (path.empty() || path[0] != '/') {
        std::string cwd = CurrentFolder();
        if (cwd.empty())
            return false;
        path = JoinNativeBytes(cwd, path);
    }
    components.clear();
    size_t i = 0;
    while (i < path.size()) {
        size_t slash = path.find('/', i);
        if (slash == std::string::npos)
            slash = path.size();
        std::string part = path.substr(i, slash - i);
        if (!part.empty() && part != ".")
            components.push_back(part);
        i = slash + 1;
    }
    return true;
}

std::string JoinComponents(const std::vector<std::string>& components, size_t count)
{
    std::string path;
    for (size_t i = 0; i < count; ++i)
        path += "/" + components[i];
    return path.empty() ? "/" : path;
}

FWideString EscapedPart(const std::string& bytes)
{
    FWideString part;
    EscapeURLChars(NativeFromBytes(bytes), part);
    return part;
}

std::string UserDir(const char* key, const char* fallback)
{
    std::string home = HomeFolder();
    std::ifstream in(ConfigHome() + "/user-dirs.dirs");
    std::string line;
    std::string prefix = std::string(key) + "=";
    while (std::getline(in, line)) {
        if (line.compare(0, prefix.size(), prefix) != 0)
            continue;
        std::string value = line.substr(prefix.size());
        if (value.size() >= 2 && value.front() == '"' && value.back() == '"')
            value = value.substr(1, value.size() - 2);
        if (value.compare(0, 5, "$HOME") == 0)
            value = home.empty() ? std::string() : home + value.substr(5);
        if (!value.empty() && value[0] == '/')
            return value;
    }
    return home.empty() ? home : home + "/" + fallback;
}

std::string ExecutableFolder()
{
    std::string target(PATH_MAX, '\0');
    ssize_t length = readlink("/proc/self/exe", target.data(), target.size());
    if (length <= 0 || static_cast<size_t>(length) >= target.size())
        return std::string();
    target.resize(static_cast<size_t>(length));
    DebugTrace("WinMain:Exe Path: %s\n", target.c_str());
    size_t slash = target.find_last_of('/');
    if (slash == std::string::npos)
        return std::string();
    return slash == 0 ? "/" : target.substr(0, slash);
}

std::string TempFolder()
{
    std::string tmp = AbsoluteEnv("TMPDIR");
    struct stat st;
    if (!tmp.empty() && stat(tmp.c_str(), &st) == 0 && S_ISDIR(st.st_mode))
        return tmp;
    return "/tmp";
}

// Folders the user's desktop expects to exist are made on demand.
std::string MadeFolder(const std::string& path)
{
    if (path.empty() || !MakeFolderPath(path, 0777))
        return std::string();
    return path;
}

std::vector<std::string> SplitParameters(const char16_t* parameters)
{
    std::vector<std::string> args;
    if (!parameters)
        return args;
    std::string text = NativeBytes(FWideString(parameters));
    std::string current;
    bool quoted = false;
    bool any = false;
    for (char c : text) {
        if (c == '"') {
            quoted = !quoted;
            any = true;
            continue;
        }
        if (!quoted && (c == ' ' || c == '\t')) {
            if (any)
                args.push_back(current);
            current.clear();
            any = false;
            continue;
        }
        current += c;
        any = true;
    }
    if (any)
        args.push_back(current);
    return args;
}

bool IsProgramFile(const std::string& path, const struct stat& st)
{
    if (!S_ISREG(st.st_mode) || !(st.st_mode & (S_IXUSR | S_IXGRP | S_IXOTH)))
        return false;
    // Media mounted with every file executable must still open in their viewer.
    std::ifstream in(path, std::ios::binary);
    char magic[4] = {0, 0, 0, 0};
    in.read(magic, 4);
    return (magic[0] == 0x7F && magic[1] == 'E' && magic[2] == 'L' && magic[3] == 'F') ||
           (magic[0] == '#' && magic[1] == '!');
}

bool HasExtensionNoCase(const std::string& path, const char* extension)
{
    FWideString ext;
    return GetFileExtension(NativeFromBytes(path), ext) && EqualsNoCase(ext, FWideString(extension));
}

// The address of an internet shortcut: its "URL=" line.
std::string ShortcutAddress(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    std::string line;
    size_t total = 0;
    while (std::getline(in, line) && total < kMaxUrlFileBytes) {
        total += line.size() + 1;
        if (!line.empty() && line.back() == '\r')
            line.pop_back();
        if (line.compare(0, 4, "URL=") == 0 && line.size() > 4)
            return line.substr(4);
    }
    return std::string();
}

} // namespace

FSCDiskWin::FSCDiskWin(const FWideString& name) : m_name(name) {}

const char16_t* FSCDiskWin::GetDescription()
{
    return u"physical disks attached to the system";
}

void FSCDiskWin::SplitNativePath(const FWideString& native, std::vector<FWideString>& parts)
{
    parts.clear();
    std::vector<std::string> components;
    if (!AbsoluteComponents(NativeBytes(native), components))
        return;
    std::string absolute = JoinComponents(components, components.size());
    std::string volume = "/";
    for (const std::string& candidate : DiskVolumeBytes()) {
        if (candidate.size() > volume.size() && IsPathPrefix(candidate, absolute))
            volume = candidate;
    }
    parts.push_back(EscapedPart(volume));
    std::vector<std::string> volumeComponents;
    AbsoluteComponents(volume, volumeComponents);
    for (size_t i = volumeComponents.size(); i < components.size(); ++i)
        parts.push_back(EscapedPart(components[i]));
}

bool FSCDiskWin::NativePathExists(const FWideString& native, bool* isFolder)
{
    struct stat st;
    std::string path = NativeBytes(native);
    if (path.empty() || stat(path.c_str(), &st) != 0)
        return false;
    if (isFolder)
        *isFolder = S_ISDIR(st.st_mode);
    return true;
}

bool FSCDiskWin::ToNativePath(const FWideString& path, FWideString& native)
{
    std::vector<FWideString> parts = NonEmptyPathParts(path);
    if (parts.empty())
        return false;
    std::string result;
    size_t next = 1;
    if (parts[0] == u"Network") {
        FWideString local;
        if (parts.size() < 3)
            return false;
        FWideString server;
        FWideString share;
        UnescapeURLChars(parts[1], server);
        UnescapeURLChars(parts[2], share);
        if (!FindNetShareLocalPath(server, share, local))
            return false;
        result = NativeBytes(local);
        next = 3;
    } else {
        FWideString token;
        UnescapeURLChars(parts[0], token);
        result = NativeBytes(token);
        if (result.empty() || result[0] != '/')
            return false;
    }
    for (size_t i = next; i < parts.size(); ++i) {
        FWideString name;
        UnescapeURLChars(parts[i], name);
        std::string bytes = NativeBytes(name);
        // A name cannot hold a slash; such a part names nothing.
        if (ContainsSlash(bytes))
            return false;
        result = JoinNativeBytes(result, bytes);
    }
    native = NativeFromBytes(result);
    return true;
}

bool FSCDiskWin::FromNativePath(const FWideString& native, FWideString& path)
{
    if (native.IsEmpty())
        return false;
    std::vector<FWideString> parts;
    SplitNativePath(native, parts);
    if (parts.empty())
        return false;
    JoinStrings(parts, path, u"/");
    return true;
}

bool FSCDiskWin::GetSpecialPath(int kind, FWideString& url)
{
    const bool create = (kind & kSpecialPathNoCreate) == 0;
    kind &= ~kSpecialPathNoCreate;
    const auto made = [create](const std::string& path) { return create ? MadeFolder(path) : path; };
    std::string folder;
    switch (kind) {
    case kSpecialPathExeFolder:
        folder = ExecutableFolder();
        break;
    case kSpecialPathAppData: {
        std::string config = ConfigHome();
        folder = made(config.empty() ? config : config + "/Rawbench");
        break;
    }
    case kSpecialPathTemp:
        folder = TempFolder();
        break;
    case kSpecialPathDesktop:
        folder = made(UserDir("XDG_DESKTOP_DIR", "Desktop"));
        break;
    case kSpecialPathPrograms: {
        std::string data = DataHome();
        folder = made(data.empty() ? data : data + "/applications");
        break;
    }
    case kSpecialPathStartup: {
        std::string config = ConfigHome();
        folder = made(config.empty() ? config : config + "/autostart");
        break;
    }
    case kSpecialPathDocuments:
        folder = made(UserDir("XDG_DOCUMENTS_DIR", "Documents"));
        break;
    default:
        // The Windows folder and unknown kinds have no answer here.
        return false;
    }
    if (folder.empty())
        return false;
    std::vector<FWideString> parts;
    SplitNativePath(NativeFromBytes(folder), parts);
    if (parts.empty())
        return false;
    parts.insert(parts.begin(), m_name);
    return JoinURL(parts, url, true);
}

FIFolder* FSCDiskWin::OpenFolder(const FWideString& path, FWideString& fileName, bool create)
{
    fileName.Clear();
    // Empty parts are ignored, so "/" is the volume list too, never a folder on "".
    std::vector<FWideString> parts = NonEmptyPathParts(path);
    if (parts.empty())
        return new FSCVolEnumFolderWin(m_name);
    if (parts[0] == u"Network") {
        if (parts.size() == 1)
            return new FSCNetEnumFolderWin(m_name);
        if (parts.size() == 2)
            return new FSCNetShareEnumFolderWin(m_name, parts[1]);
    }
    FWideString native;
    if (!ToNativePath(path, native))
        return nullptr;
    if (parts.size() == 1)
        return new FSCFolderWin(m_name, native);

    bool isFolder = false;
    if (NativePathExists(native, &isFolder)) {
        if (isFolder)
            return new FSCFolderWin(m_name, native);
        std::string bytes = NativeBytes(native);
        size_t slash = bytes.find_last_of('/');
        fileName = NativeFromBytes(bytes.substr(slash + 1));
        return new FSCFolderWin(m_name, NativeFromBytes(slash == 0 ? "/" : bytes.substr(0, slash)));
    }
    if (!create || !priCreateFolderPath(native))
        return nullptr;
    return new FSCFolderWin(m_name, native);
}

bool FSCDiskWin::priCreateFolderPath(const FWideString& native)
{
    return MakeFolderPath(NativeBytes(native), 0777);
}

FIFile* FSCDiskWin::OpenFile(const FWideString& path, int mode)
{
    std::vector<FWideString> pieces;
    SplitString(path, pieces, u"/");
    if (pieces.empty())
        return nullptr;
    // URL parts are escaped; the folder takes the native name.
    FWideString name;
    UnescapeURLChars(pieces.back(), name);
    pieces.pop_back();
    if (name.IsEmpty())
        return nullptr;
    FWideString folderPath;
    JoinStrings(pieces, folderPath, u"/");
    FWideString ignored;
    FIFolder* folder = OpenFolder(folderPath, ignored, false);
    if (!folder)
        return nullptr;
    FIFile* file = folder->OpenFile(name, mode);
    folder->Release();
    return file;
}

void FSCDiskWin::Launch(const FWideString& path, const char16_t* parameters)
{
    FWideString native;
    bool mapped = ToNativePath(path, native);
    std::string target = NativeBytes(mapped ? native : path);
    FNarrowString message("FSCDiskWin::Launch: '%s'", target.c_str());
    if (!mapped)
        throw FExceptionFileNotFound(message.GetCString());

    std::vector<FWideString> pieces;
    SplitString(path, pieces, u"/");
    if (pieces.empty() || path.GetBuffer()[path.GetLength() - 1] == u'/')
        throw FExceptionFileIO(message.GetCString());
    struct stat st;
    if (stat(target.c_str(), &st) != 0)
        throw FExceptionFileNotFound(message.GetCString());

    FLaunchRequest request;
    size_t slash = target.find_last_of('/');
    request.m_workingFolder = slash == 0 ? "/" : target.substr(0, slash);
    std::vector<std::string> args = SplitParameters(parameters);
    if (HasExtensionNoCase(target, ".url")) {
        std::string address = ShortcutAddress(target);
        request.m_argv = {"xdg-open", address.empty() ? target : address};
        request.m_bWaitForResult = true;
    } else if (IsProgramFile(target, st)) {
        request.m_argv.push_back(target);
        request.m_argv.insert(request.m_argv.end(), args.begin(), args.end());
    } else {
        request.m_argv = {"xdg-open", target};
        request.m_bWaitForResult = true;
    }

    int result = RunDiskLauncher(request);
    switch (result) {
    case 0:
        return;
    case 2:
        throw FExceptionFileNotFound(message.GetCString());
    case 3:
    case 4:
        throw FExceptionLaunchFailed(message.GetCString());
    }
    throw FExceptionFileIO(message.GetCString());
}

bool FSCDiskWin::Exists(const FWideString& path, bool& isFolder)
{
    FWideString native;
    if (!ToNativePath(path, native))
        return false;
    return NativePathExists(native, &isFolder);
}

void FSCDiskWin::MoveToTrash(const FWideString& path)
{
    FWideString native;
    bool mapped = ToNativePath(path, native);
    std::string target = NativeBytes(mapped ? native : path);
    FNarrowString message("FSCDiskWin::MoveToTrash: '%s'", target.c_str());
    if (!mapped)
        throw FExceptionFileIO(message.GetCString());
    MoveNativeToTrash(target, message.GetCString());
}

void RegisterDiskStorageClass()
{
    // No critical-error dialogs exist here; a missing medium just fails the call.
    RegisterStorageClass(u"disk", new FSCDiskWin(u"disk"));
}

std::vector<FWideString> GetDiskVolumes()
{
    std::vector<FWideString> volumes;
    for (const std::string& volume : DiskVolumeBytes())
        volumes.push_back(NativeFromBytes(volume));
    return volumes;
}
