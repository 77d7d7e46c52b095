#include "FDiskOs.h"

#include "FException.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

// The freedesktop trash: files/<name> beside info/<name>.trashinfo, in the home
// trash for files on its device, else in the top folder of the file's volume.

namespace
{

constexpr int kMaxTrashNameAttempts = 10000;

[[noreturn]] void Fail(const char* message)
{
    throw FExceptionFileIO(message);
}

bool MakePrivateFolder(const std::string& path)
{
    if (mkdir(path.c_str(), 0700) == 0)
        return true;
    struct stat st;
    return errno == EEXIST && lstat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

bool PrepareTrash(const std::string& trash)
{
    return MakePrivateFolder(trash) && MakePrivateFolder(trash + "/files") &&
           MakePrivateFolder(trash + "/info");
}

// Path= values are URI-escaped bytes.
std::string EscapeTrashPath(const std::string& path)
{
    static const char kHex[] = "0123456789ABCDEF";
    std::string out;
    for (unsigned char c : path) {
        bool plain = (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '/' ||
                     c == '-' || c == '_' || c == '.' || c == '~';
        if (plain) {
            out += static_cast<char>(c);
            continue;
        }
        out += '%';
        out += kHex[c >> 4];
        out += kHex[c & 0xF];
    }
    return out;
}

std::string AbsoluteParentPath(const std::string& path, std::string& name)
{
    size_t slash = path.find_last_of('/');
    name = slash == std::string::npos ? path : path.substr(slash + 1);
    std::string parent = slash == std::string::npos ? "." : (slash == 0 ? "/" : path.substr(0, slash));
    char* resolved = realpath(parent.c_str(), nullptr);
    if (!resolved)
        return std::string();
    std::string result = resolved;
    free(resolved);
    return result;
}

// The trash folders that may take a file on device `device` below `absolute`,
// in the order to try; topDir receives the volume's top folder when the home
// trash is not among them.
std::vector<std::string> TrashCandidates(dev_t device, const std::string& absolute, std::string& topDir)
{
    topDir.clear();
    std::string dataHome = DataHome();
    if (!dataHome.empty() && MakeFolderPath(dataHome, 0700)) {
        struct stat st;
        if (stat(dataHome.c_str(), &st) == 0 && st.st_dev == device)
            return {dataHome + "/Trash"};
    }
    std::vector<FMountEntry> mounts = ReadMountTable();
    const FMountEntry* mount = FindContainingMount(mounts, absolute);
    if (!mount)
        return {};
    topDir = mount->m_mountPoint;
    std::string uid = std::to_string(getuid());
    std::vector<std::string> candidates;
    // A shared .Trash counts only as a real sticky folder, never through a link.
    std::string shared = JoinNativeBytes(topDir, ".Trash");
    struct stat st;
    if (lstat(shared.c_str(), &st) == 0 && S_ISDIR(st.st_mode) && (st.st_mode & S_ISVTX))
        candidates.push_back(shared + "/" + uid);
    candidates.push_back(JoinNativeBytes(topDir, ".Trash-" + uid));
    return candidates;
}

// The first candidate that can be used and lies on the file's own device, so
// that moving into it is a rename and never a copy.
std::string UsableTrash(const std::vector<std::string>& candidates, dev_t device)
{
    for (const std::string& trash : candidates) {
        struct stat st;
        if (PrepareTrash(trash) && stat(trash.c_str(), &st) == 0 && st.st_dev == device)
            return trash;
    }
    return std::string();
}

std::string DeletionDate()
{
    time_t now = time(nullptr);
    struct tm local;
    localtime_r(&now, &local);
    char text[64];
    snprintf(text, sizeof text, "%04d-%02d-%02dT%02d:%02d:%02d", local.tm_year + 1900, local.tm_mon + 1,
             local.tm_mday, local.tm_hour, local.tm_min, local.tm_sec);
    return text;
}

bool WriteAll(int fd, const std::string& text)
{
    size_t done = 0;
    while (done < text.size()) {
        ssize_t put = write(fd, text.data() + done, text.size() - done);
        if (put < 0 && errno == EINTR)
            continue;
        if (put <= 0)
            return false;
        done += static_cast<size_t>(put);
    }
    return true;
}

} // namespace

void MoveNativeToTrash(const std::string& path, const char* message)
{
    struct stat st;
    if (path.empty() || lstat(path.c_str(), &st) != 0)
        Fail(message);
    std::string name;
    std::string parent = AbsoluteParentPath(path, name);
    if (parent.empty() || name.empty() || name == "." || name == "..")
        Fail(message);
    std::string absolute = JoinNativeBytes(parent, name);

    std::string topDir;
    std::string trash = UsableTrash(TrashCandidates(st.st_dev, absolute, topDir), st.st_dev);
    if (trash.empty())
        Fail(message);

    std::string recorded = absolute;
    if (!topDir.empty() && topDir != "/")
        recorded = absolute.substr(topDir.size() + 1);
    else if (!topDir.empty())
        recorded = absolute.substr(1);
    std::string info =
        "[Trash Info]\nPath=" + EscapeTrashPath(recorded) + "\nDeletionDate=" + DeletionDate() + "\n";

    for (int attempt = 1; attempt <= kMaxTrashNameAttempts; ++attempt) {
        std::string trashName = attempt == 1 ? name : name + "." + std::to_string(attempt);
        std::string infoPath = trash + "/info/" + trashName + ".trashinfo";
        std::string filePath = trash + "/files/" + trashName;
        struct stat existing;
        if (lstat(filePath.c_str(), &existing) == 0)
            continue;
        // The info file is claimed first, exclusively, so two trashings never
        // pick the same name.
        int fd = open(infoPath.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
        if (fd < 0) {
            if (errno == EEXIST)
                continue;
            Fail(message);
        }
        bool written = WriteAll(fd, info);
        written = close(fd) == 0 && written;
        if (!written) {
            unlink(infoPath.c_str());
            Fail(message);
        }
        if (renameat2(AT_FDCWD, absolute.c_str(), AT_FDCWD, filePath.c_str(), RENAME_NOREPLACE) == 0)
            return;
        int error = errno;
        unlink(infoPath.c_str());
        if (error == EEXIST)
            continue;
        Fail(message);
    }
    Fail(message);
}
