#include "FSCFolderWin.h"

#include "FDebugTrace.h"
#include "FDiskOs.h"
#include "FException.h"
#include "FReplacingFile.h"
#include "FSCDiskWin.h"
#include "FSCFileWin.h"
#include "FSCNetEnumFolderWin.h"
#include "StorageClassRegistry.h"

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/random.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <unistd.h>

namespace
{

// Names of entries of one folder: a slash would reach into another folder.
bool IsPlainName(const FWideString& name)
{
    if (name.IsEmpty())
        return false;
    const char16_t* units = name.GetBuffer();
    for (int i = 0; i < name.GetLength(); ++i) {
        if (units[i] == u'/')
            return false;
    }
    return true;
}

// A save's temporary file that no process holds open was left by a save that died.
void RemoveIfLeftOver(int dirFd, const char* name)
{
    int fd = openat(dirFd, name, O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
    if (fd < 0)
        return;
    struct stat opened;
    struct stat named;
    if (fstat(fd, &opened) == 0 && S_ISREG(opened.st_mode) && flock(fd, LOCK_EX | LOCK_NB) == 0 &&
        fstatat(dirFd, name, &named, AT_SYMLINK_NOFOLLOW) == 0 && named.st_dev == opened.st_dev &&
        named.st_ino == opened.st_ino)
        unlinkat(dirFd, name, 0);
    close(fd);
}

// Calls visit(folder descriptor, name, kind) for each entry but "." and "..", with the kind
// the folder itself records (DT_UNKNOWN where the file system records none). A save's
// temporary file is never one of them; one left by a save that died is removed on the way.
template <typename Visit>
void VisitEntries(const std::string& folder, Visit visit)
{
    int dirFd = open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (dirFd < 0)
        return;
    DIR* dir = fdopendir(dirFd);
    if (!dir) {
        close(dirFd);
        return;
    }
    while (dirent* entry = readdir(dir)) {
        const char* name = entry->d_name;
        if (strcmp(name, ".") == 0 || strcmp(name, "..") == 0)
            continue;
        if (IsReplacingTempName(name))
            RemoveIfLeftOver(dirFd, name);
        else
            visit(dirFd, name, entry->d_type);
    }
    closedir(dir);
}

std::string RealPath(const std::string& path)
{
    char* real = realpath(path.c_str(), nullptr);
    if (!real)
        return std::string();
    std::string result = real;
    free(real);
    return result;
}

// The native path of a name for Exists and OpenFile. A name may reach into
// sub-folders ("a/b.xml", as archive folders allow), but never out of this
// folder: not absolute, no ".." part, and no link among its folders leading
// elsewhere. The last part is followed as for a plain name.
bool PathInside(const FWideString& folder, const FWideString& name, FWideString& path)
{
    if (IsPlainName(name)) {
        if (name == u"..")
            return false;
        path = JoinNative(folder, name);
        return true;
    }
    const std::string bytes = NativeBytes(name);
    if (bytes.empty() || bytes[0] == '/')
        return false;
    size_t start = 0;
    while (start <= bytes.size()) {
        size_t end = bytes.find('/', start);
        if (end == std::string::npos)
            end = bytes.size();
        if (bytes.compare(start, end - start, "..") == 0 && end - start == 2)
            return false;
        start = end + 1;
    }
    const std::string joined = JoinNativeBytes(NativeBytes(folder), bytes);
    const std::string root = RealPath(NativeBytes(folder));
    const std::string parent = RealPath(joined.substr(0, joined.find_last_of('/')));
    if (root.empty() || parent.empty() || !IsPathPrefix(root, parent))
        return false;
    path = NativeFromBytes(joined);
    return true;
}

// The root, the home folder, every volume, and every folder holding one of
// them: a single recursive delete must never empty any of those.
bool IsProtectedFolder(const std::string& realPath)
{
    if (realPath.empty() || realPath == "/")
        return true;
    std::vector<std::string> guarded = DiskVolumeBytes();
    guarded.push_back(HomeFolder());
    for (const std::string& path : guarded) {
        std::string real = RealPath(path);
        if (!real.empty() && IsPathPrefix(realPath, real))
            return true;
    }
    return false;
}

} // namespace

FIFolder* CreateDiskFolder(const FWideString& className, const FWideString& nativePath)
{
    return new FSCFolderWin(className, nativePath);
}

FSCFolderWin::FSCFolderWin(const FWideString& className, const FWideString& nativePath)
    : m_className(className), m_nativePath(nativePath)
{
}

FIFolder* FSCFolderWin::OpenSubFolder(const FWideString& name, bool create)
{
    if (!IsPlainName(name))
        return nullptr;
    FWideString path = JoinNative(m_nativePath, name);
    // An existing file also opens (as the design has it); its listing is empty.
    if (FSCDiskWin::NativePathExists(path, nullptr))
        return new FSCFolderWin(m_className, path);
    if (!create)
        return nullptr;
    if (!MakeFolderPath(NativeBytes(path), 0777))
        return nullptr;
    return new FSCFolderWin(m_className, path);
}

FIFile* FSCFolderWin::OpenFile(const FWideString& name, int mode)
{
    FWideString path;
    if (!PathInside(m_nativePath, name, path))
        return nullptr;
    if (!(mode & kFileWrite) && !FSCDiskWin::NativePathExists(path, nullptr))
        return nullptr;
    try {
        return new FSCFileWin(m_className, path, mode);
    } catch (const FException&) {
        return nullptr;
    }
}

void FSCFolderWin::priList(std::vector<FWideString>& names, bool folders)
{
    std::vector<FWideString> found;
    VisitEntries(NativeBytes(m_nativePath), [&](int dirFd, const char* name, unsigned char kind) {
        // The folder's own record of the kind spares a look at each of many thousand
        // entries. Links count as what they point to; FIFOs, sockets and devices are
        // neither files nor folders (opening a FIFO to read it would block).
        bool wanted = false;
        if (kind == DT_REG || kind == DT_DIR) {
            wanted = folders == (kind == DT_DIR);
        } else if (kind == DT_LNK || kind == DT_UNKNOWN) {
            struct stat st;
            wanted =
                fstatat(dirFd, name, &st, 0) == 0 && (folders ? S_ISDIR(st.st_mode) : S_ISREG(st.st_mode));
        }
        if (wanted)
            found.push_back(NativeFromBytes(name));
    });
    // The system's order is arbitrary; sorted lists make every listing repeatable.
    std::sort(found.begin(), found.end());
    names.insert(names.end(), found.begin(), found.end());
}

void FSCFolderWin::ListFiles(std::vector<FWideString>& names)
{
    priList(names, false);
}

void FSCFolderWin::ListFolders(std::vector<FWideString>& names)
{
    priList(names, true);
}

void FSCFolderWin::Rename(const FWideString& oldName, const FWideString& newName)
{
    if (!IsPlainName(oldName) || !IsPlainName(newName)) {
        DebugTrace("FSCFolderWin::Rename: bad name\n");
        return;
    }
    std::string from = NativeBytes(JoinNative(m_nativePath, oldName));
    std::string to = NativeBytes(JoinNative(m_nativePath, newName));
    // Renaming never replaces an existing entry.
    if (renameat2(AT_FDCWD, from.c_str(), AT_FDCWD, to.c_str(), RENAME_NOREPLACE) == 0)
        return;
    if (errno == EINVAL || errno == ENOSYS) {
        struct stat st;
        if (lstat(to.c_str(), &st) != 0 && errno == ENOENT && rename(from.c_str(), to.c_str()) == 0)
            return;
    }
    DebugTrace("FSCFolderWin::Rename: '%s' to '%s' failed\n", from.c_str(), to.c_str());
}

bool FSCFolderWin::DeleteFile(const FWideString& name)
{
    if (!IsPlainName(name))
        return false;
    std::string path = NativeBytes(JoinNative(m_nativePath, name));
    // Only a deleted or already missing file counts as success.
    return unlink(path.c_str()) == 0 || errno == ENOENT;
}

void FSCFolderWin::DeleteFolder(const FWideString& url, int mode)
{
    FWideString native;
    if (!URLToNativePath(url, native))
        return;
    std::string path = NativeBytes(native);
    while (path.size() > 1 && path.back() == '/')
        path.pop_back();
    if (mode == 0) {
        if (rmdir(path.c_str()) != 0)
            DebugTrace("FSCFolderWin::DeleteFolder: '%s' not removed\n", path.c_str());
        return;
    }
    if (mode != 1)
        return;
    // A link given as the folder is not followed; ".." and links further up are
    // resolved before the guard looks at the path.
    struct stat st;
    if (lstat(path.c_str(), &st) != 0 || !S_ISDIR(st.st_mode)) {
        DebugTrace("FSCFolderWin::DeleteFolder: '%s' is no folder\n", path.c_str());
        return;
    }
    std::string real = RealPath(path);
    if (IsProtectedFolder(real)) {
        DebugTrace("FSCFolderWin::DeleteFolder: refusing to delete '%s'\n", path.c_str());
        return;
    }
    if (!DeleteTree(real))
        DebugTrace("FSCFolderWin::DeleteFolder: '%s' not fully deleted\n", path.c_str());
}

FWideString FSCFolderWin::GetURL()
{
    std::vector<FWideString> parts;
    FSCDiskWin::SplitNativePath(m_nativePath, parts);
    parts.insert(parts.begin(), m_className);
    FWideString url;
    JoinURL(parts, url, true);
    return url;
}

int64_t FSCFolderWin::GetFreeSpace()
{
    struct statvfs sv;
    if (statvfs(NativeBytes(m_nativePath).c_str(), &sv) != 0)
        return -1;
    return static_cast<int64_t>(sv.f_bavail) * static_cast<int64_t>(sv.f_frsize);
}

bool FSCFolderWin::IsReadOnly()
{
    std::string pattern = JoinNativeBytes(NativeBytes(m_nativePath), "FXXXXXX");
    int fd = mkostemp(pattern.data(), O_CLOEXEC);
    if (fd >= 0) {
        close(fd);
        unlink(pattern.c_str());
        return false;
    }
    return errno == EACCES || errno == EROFS || errno == EPERM || errno == ENOTDIR;
}

bool FSCFolderWin::GetAttributes(int& flags)
{
    std::string path = NativeBytes(m_nativePath);
    struct stat st;
    if (stat(path.c_str(), &st) != 0)
        return false;
    if (st.st_mode & S_IWUSR)
        flags &= ~kFileAttrReadOnly;
    else
        flags |= kFileAttrReadOnly;
    // Hidden is a dot name below a volume root; a volume root never counts.
    flags &= ~kFileAttrHidden;
    size_t slash = path.find_last_of('/');
    bool dotName = slash != std::string::npos && slash + 1 < path.size() && path[slash + 1] == '.';
    if (dotName) {
        std::vector<FWideString> parts;
        SplitURL(GetURL(), parts);
        if (parts.size() >= 3)
            flags |= kFileAttrHidden;
    }
    return true;
}

int FSCFolderWin::GetDriveType()
{
    std::string path = NativeBytes(m_nativePath);
    std::shared_ptr<const std::vector<FMountEntry>> mounts = CurrentMountTable();
    const FMountEntry* mount = FindContainingMount(*mounts, path);
    if (!mount)
        return kDriveUnknown;
    const bool isRoot = path == mount->m_mountPoint || IsDiskVolumePath(path, *mounts);
    return isRoot ? DriveKindOfMount(*mount) : kDriveNoRootFolder;
}

bool FSCFolderWin::Exists(const FWideString& name, bool* isFolder)
{
    FWideString path;
    return PathInside(m_nativePath, name, path) && FSCDiskWin::NativePathExists(path, isFolder);
}

FIFile* FSCFolderWin::CreateTempFile(const FWideString& prefix, FWideString& name)
{
    name.Clear();
    if (!IsPlainName(prefix))
        return nullptr;
    if (prefix == kReplacingTempPrefix)
        VisitEntries(NativeBytes(m_nativePath), [](int, const char*, unsigned char) {});
    static const char kDigits[] = "abcdefghijklmnopqrstuvwxyz0123456789";
    for (int attempt = 0; attempt < 64; ++attempt) {
        unsigned char random[8] = {};
        if (getrandom(random, sizeof random, 0) != static_cast<ssize_t>(sizeof random))
            return nullptr;
        std::string suffix;
        for (unsigned char byte : random)
            suffix += kDigits[byte % (sizeof kDigits - 1)];
        FWideString candidate = prefix;
        candidate += suffix.c_str();
        candidate += ".tmp";
        const FWideString path = JoinNative(m_nativePath, candidate);
        try {
            FIFile* file = new FSCFileWin(m_className, path, kFileRead | kFileWrite, true);
            name = candidate;
            return file;
        } catch (const FException&) {
            // Only a name already taken is worth another try.
            const bool taken = errno == EEXIST;
            struct stat st;
            if (!taken && lstat(NativeBytes(path).c_str(), &st) != 0)
                return nullptr;
        }
    }
    return nullptr;
}

void FSCFolderWin::ReplaceFile(const FWideString& from, const FWideString& to)
{
    std::string target = NativeBytes(JoinNative(m_nativePath, to));
    auto fail = [&](const char* what) {
        FNarrowString message("FSCFolderWin::ReplaceFile: '%s': %s", target.c_str(), what);
        throw FExceptionFileWrite(message.GetCString());
    };
    if (!IsPlainName(from) || !IsPlainName(to))
        fail("bad name");
    std::string source = NativeBytes(JoinNative(m_nativePath, from));
    // The replacement keeps the permissions of the file it replaces.
    struct stat st;
    if (stat(target.c_str(), &st) == 0 && S_ISREG(st.st_mode))
        chmod(source.c_str(), st.st_mode & 07777);
    if (rename(source.c_str(), target.c_str()) != 0)
        fail(strerror(errno));
    // The new name is only durable once the folder itself is synced.
    int dirFd = open(NativeBytes(m_nativePath).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (dirFd < 0)
        fail("folder not synced");
    int synced = fsync(dirFd);
    int error = errno;
    close(dirFd);
    if (synced != 0 && error != EINVAL)
        fail("folder not synced");
}

bool FSCFolderWin::ResolveLink(const FWideString& name, FWideString& targetURL)
{
    targetURL.Clear();
    if (!IsPlainName(name))
        return false;
    const std::string path = NativeBytes(JoinNative(m_nativePath, name));
    struct stat st;
    if (lstat(path.c_str(), &st) != 0 || !S_ISLNK(st.st_mode))
        return false;
    std::string real = RealPath(path);
    if (real.empty()) {
        // A link to a file not made yet: its name in a folder that exists.
        std::string target(static_cast<size_t>(PATH_MAX), '\0');
        const ssize_t n = readlink(path.c_str(), target.data(), target.size() - 1);
        if (n <= 0)
            return false;
        target.resize(static_cast<size_t>(n));
        if (target[0] != '/')
            target = JoinNativeBytes(NativeBytes(m_nativePath), target);
        const size_t slash = target.find_last_of('/');
        const std::string folder = RealPath(slash == 0 ? std::string("/") : target.substr(0, slash));
        const std::string leaf = target.substr(slash + 1);
        if (folder.empty() || leaf.empty() || leaf == "." || leaf == "..")
            return false;
        real = JoinNativeBytes(folder, leaf);
    }
    return NativePathToURL(NativeFromBytes(real), targetURL);
}

FSCVolEnumFolderWin::FSCVolEnumFolderWin(const FWideString& className) : m_className(className) {}

void FSCVolEnumFolderWin::ListFolders(std::vector<FWideString>& names)
{
    for (const FWideString& volume : GetDiskVolumes()) {
        FWideString token;
        EscapeURLChars(volume, token);
        names.push_back(token);
    }
    names.push_back(u"Network");
}

FIFolder* FSCVolEnumFolderWin::OpenSubFolder(const FWideString& name, bool)
{
    if (name == u"Network")
        return new FSCNetEnumFolderWin(m_className);
    for (const FWideString& volume : GetDiskVolumes()) {
        FWideString token;
        EscapeURLChars(volume, token);
        if (token == name)
            return new FSCFolderWin(m_className, volume);
    }
    return nullptr;
}

bool FSCVolEnumFolderWin::GetAttributes(int& flags)
{
    flags = (flags | kFileAttrReadOnly) & ~kFileAttrHidden;
    return true;
}

bool FSCVolEnumFolderWin::Exists(const FWideString&, bool*)
{
    return false;
}
