#include "FDiskOs.h"

#include "FCodePage.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <fstream>
#include <memory>
#include <mutex>
#include <poll.h>
#include <sys/stat.h>
#include <unistd.h>

std::string NativeBytes(const FWideString& native)
{
    return Utf8FromWide(native);
}

FWideString NativeFromBytes(const std::string& bytes)
{
    return WideFromUtf8(bytes);
}

std::string JoinNativeBytes(const std::string& folder, const std::string& name)
{
    if (!folder.empty() && folder.back() == '/')
        return folder + name;
    return folder + "/" + name;
}

FWideString JoinNative(const FWideString& folder, const FWideString& name)
{
    return NativeFromBytes(JoinNativeBytes(NativeBytes(folder), NativeBytes(name)));
}

std::string AbsoluteEnv(const char* name)
{
    const char* value = getenv(name);
    if (!value || value[0] != '/')
        return std::string();
    return value;
}

std::string HomeFolder()
{
    return AbsoluteEnv("HOME");
}

std::string ConfigHome()
{
    std::string config = AbsoluteEnv("XDG_CONFIG_HOME");
    if (!config.empty())
        return config;
    std::string home = HomeFolder();
    return home.empty() ? home : home + "/.config";
}

std::string DataHome()
{
    std::string data = AbsoluteEnv("XDG_DATA_HOME");
    if (!data.empty())
        return data;
    std::string home = HomeFolder();
    return home.empty() ? home : home + "/.local/share";
}

bool MakeFolderPath(const std::string& path, unsigned mode)
{
    if (path.empty())
        return false;
    struct stat st;
    if (stat(path.c_str(), &st) == 0)
        return S_ISDIR(st.st_mode);
    size_t slash = path.find_last_of('/');
    if (slash != std::string::npos && slash > 0) {
        if (!MakeFolderPath(path.substr(0, slash), mode))
            return false;
    }
    if (mkdir(path.c_str(), mode) == 0)
        return true;
    return errno == EEXIST && stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

namespace
{

// Mount points in mountinfo escape blank, tab, newline and backslash as octal.
std::string DecodeMountField(const std::string& field)
{
    std::string out;
    for (size_t i = 0; i < field.size(); ++i) {
        if (field[i] == '\\' && i + 3 < field.size()) {
            const char* d = field.c_str() + i + 1;
            if (d[0] >= '0' && d[0] <= '7' && d[1] >= '0' && d[1] <= '7' && d[2] >= '0' && d[2] <= '7') {
                out += static_cast<char>((d[0] - '0') * 64 + (d[1] - '0') * 8 + (d[2] - '0'));
                i += 3;
                continue;
            }
        }
        out += field[i];
    }
    return out;
}

std::vector<std::string> SplitBlanks(const std::string& line)
{
    std::vector<std::string> fields;
    size_t i = 0;
    while (i < line.size()) {
        while (i < line.size() && line[i] == ' ')
            ++i;
        size_t start = i;
        while (i < line.size() && line[i] != ' ')
            ++i;
        if (i > start)
            fields.push_back(line.substr(start, i - start));
    }
    return fields;
}

bool ReadSmallFile(const std::string& path, std::string& text)
{
    std::ifstream in(path, std::ios::binary);
    if (!in)
        return false;
    std::getline(in, text);
    return true;
}

} // namespace

namespace
{

std::vector<FMountEntry> ParseMountInfo(const std::string& text)
{
    std::vector<FMountEntry> mounts;
    size_t start = 0;
    while (start < text.size()) {
        size_t end = text.find('\n', start);
        if (end == std::string::npos)
            end = text.size();
        const std::string line = text.substr(start, end - start);
        start = end + 1;
        std::vector<std::string> fields = SplitBlanks(line);
        auto dash = std::find(fields.begin(), fields.end(), "-");
        if (fields.size() < 5 || dash == fields.end() || fields.end() - dash < 3)
            continue;
        FMountEntry entry;
        if (sscanf(fields[2].c_str(), "%u:%u", &entry.m_major, &entry.m_minor) != 2)
            continue;
        entry.m_mountPoint = DecodeMountField(fields[4]);
        entry.m_fsType = *(dash + 1);
        entry.m_source = DecodeMountField(*(dash + 2));
        mounts.push_back(entry);
    }
    return mounts;
}

// A table larger than this is cut short rather than held whole.
constexpr size_t kMaxMountInfoBytes = size_t{64} << 20;

// Reads fd from its start, up to the cap; false on a read error.
bool ReadAllFrom(int fd, std::string& text)
{
    text.clear();
    if (lseek(fd, 0, SEEK_SET) != 0)
        return false;
    char buffer[16384];
    for (;;) {
        ssize_t got = read(fd, buffer, sizeof buffer);
        if (got < 0 && errno == EINTR)
            continue;
        if (got < 0)
            return false;
        if (got == 0)
            return true;
        if (text.size() + static_cast<size_t>(got) > kMaxMountInfoBytes) {
            // Whole lines only: a cut one could name a wrong mount point.
            text.erase(text.rfind('\n') == std::string::npos ? 0 : text.rfind('\n') + 1);
            return true;
        }
        text.append(buffer, static_cast<size_t>(got));
    }
}

// The mount table is asked for once per folder shown, so it is parsed once
// and kept until the system says it changed: an open mountinfo polls with
// POLLPRI once after each mount or unmount in its namespace. A forked child
// opens its own file, as the shared one would hand each change to only one of
// the two processes. The table of a namespace entered later (unshare, setns
// without a fork) is not followed; this application enters none. Without /proc
// every call tries afresh and finds no mounts, as before.
class FMountTableCache
{
public:
    std::shared_ptr<const std::vector<FMountEntry>> Get()
    {
        std::lock_guard lock(m_lock);
        const pid_t pid = getpid();
        if (m_fd >= 0 && pid != m_pid) {
            close(m_fd);
            m_fd = -1;
        }
        if (m_fd < 0) {
            m_pTable.reset();
            m_fd = open("/proc/self/mountinfo", O_RDONLY | O_CLOEXEC);
            m_pid = pid;
            if (m_fd < 0)
                return std::make_shared<const std::vector<FMountEntry>>();
        }
        if (m_pTable && !priChanged())
            return m_pTable;
        std::string text;
        if (!ReadAllFrom(m_fd, text)) {
            close(m_fd);
            m_fd = -1;
            m_pTable.reset();
            return std::make_shared<const std::vector<FMountEntry>>();
        }
        m_pTable = std::make_shared<const std::vector<FMountEntry>>(ParseMountInfo(text));
        return m_pTable;
    }

private:
    bool priChanged()
    {
        struct pollfd watch = {m_fd, POLLPRI, 0};
        int ready;
        do
            ready = poll(&watch, 1, 0);
        while (ready < 0 && errno == EINTR);
        // A failing poll cannot vouch for the table.
        return ready != 0 && (ready < 0 || (watch.revents & (POLLPRI | POLLERR | POLLNVAL)) != 0);
    }

    std::mutex m_lock;
    int m_fd = -1;
    pid_t m_pid = 0;
    std::shared_ptr<const std::vector<FMountEntry>> m_pTable;
};

} // namespace

std::shared_ptr<const std::vector<FMountEntry>> CurrentMountTable()
{
    // Never destroyed: folders may ask during static destruction.
    static FMountTableCache* cache = new FMountTableCache;
    return cache->Get();
}

std::vector<FMountEntry> ReadMountTable()
{
    return *CurrentMountTable();
}

bool IsPathPrefix(const std::string& prefix, const std::string& path)
{
    if (prefix == "/")
        return !path.empty() && path[0] == '/';
    if (path.compare(0, prefix.size(), prefix) != 0)
        return false;
    return path.size() == prefix.size() || path[prefix.size()] == '/';
}

const FMountEntry* FindContainingMount(const std::vector<FMountEntry>& mounts, const std::string& path)
{
    const FMountEntry* best = nullptr;
    for (const FMountEntry& mount : mounts) {
        if (!IsPathPrefix(mount.m_mountPoint, path))
            continue;
        // Later entries over the same point hide earlier ones.
        if (!best || mount.m_mountPoint.size() >= best->m_mountPoint.size())
            best = &mount;
    }
    return best;
}

namespace
{

bool IsRemoteFsType(const std::string& type)
{
    static const char* const kRemote[] = {
        "nfs",        "nfs4", "cifs", "smb3", "smbfs",           "fuse.sshfs",
        "sshfs",      "9p",   "afs",  "ceph", "fuse.gvfsd-fuse", "davfs",
        "fuse.rclone"};
    for (const char* remote : kRemote) {
        if (type == remote)
            return true;
    }
    return false;
}

bool IsRemovableBlockDevice(unsigned major, unsigned minor)
{
    char base[64];
    snprintf(base, sizeof base, "/sys/dev/block/%u:%u", major, minor);
    std::string value;
    for (const char* relative : {"/removable", "/../removable"}) {
        if (ReadSmallFile(std::string(base) + relative, value) && value == "1")
            return true;
    }
    char resolved[4096];
    if (realpath(base, resolved) && strstr(resolved, "/usb"))
        return true;
    return false;
}

} // namespace

int DriveKindOfMount(const FMountEntry& mount)
{
    const std::string& type = mount.m_fsType;
    if (IsRemoteFsType(type))
        return 4;
    if (type == "iso9660" || type == "udf")
        return 5;
    if (type == "tmpfs" || type == "ramfs")
        return 6;
    if (mount.m_major != 0 && IsRemovableBlockDevice(mount.m_major, mount.m_minor))
        return 2;
    return 3;
}

namespace
{

std::string TrimmedHome()
{
    std::string home = HomeFolder();
    while (home.size() > 1 && home.back() == '/')
        home.pop_back();
    return home;
}

} // namespace

std::vector<std::string> DiskVolumeBytes()
{
    std::vector<std::string> volumes{"/"};
    auto add = [&](const std::string& path) {
        if (path.empty() || std::find(volumes.begin(), volumes.end(), path) != volumes.end())
            return;
        volumes.push_back(path);
    };
    const std::string home = TrimmedHome();
    struct stat st;
    if (!home.empty() && stat(home.c_str(), &st) == 0 && S_ISDIR(st.st_mode))
        add(home);

    const char* user = getenv("USER");
    std::vector<std::string> parents{"/mnt"};
    if (user && *user && !strchr(user, '/')) {
        parents.insert(parents.begin(), std::string("/run/media/") + user);
        parents.insert(parents.begin(), std::string("/media/") + user);
    }
    std::shared_ptr<const std::vector<FMountEntry>> mounts = CurrentMountTable();
    for (const std::string& parent : parents) {
        for (const FMountEntry& mount : *mounts) {
            if (mount.m_mountPoint != parent && IsPathPrefix(parent, mount.m_mountPoint))
                add(mount.m_mountPoint);
        }
    }
    return volumes;
}

bool IsDiskVolumePath(const std::string& path, const std::vector<FMountEntry>& mounts)
{
    // Every volume is the root, the home folder or a mount point; most folders
    // are none of them and need not build the list.
    bool candidate = path == "/" || path == TrimmedHome();
    if (!candidate) {
        candidate = std::any_of(mounts.begin(), mounts.end(),
                                [&](const FMountEntry& mount) { return mount.m_mountPoint == path; });
    }
    if (!candidate)
        return false;
    std::vector<std::string> volumes = DiskVolumeBytes();
    return std::find(volumes.begin(), volumes.end(), path) != volumes.end();
}
