#include "FDiskOs.h"

#include <cerrno>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace
{

constexpr int kMaxDeleteDepth = 256;

// Empties the folder open as dirFd. Entries are examined without following
// links, so a link to a folder elsewhere is removed as a link and the folder it
// names is never entered.
bool EmptyFolder(int dirFd, int depth)
{
    if (depth > kMaxDeleteDepth)
        return false;
    int listFd = dup(dirFd);
    if (listFd < 0)
        return false;
    DIR* dir = fdopendir(listFd);
    if (!dir) {
        close(listFd);
        return false;
    }
    bool ok = true;
    while (dirent* entry = readdir(dir)) {
        const char* name = entry->d_name;
        if (strcmp(name, ".") == 0 || strcmp(name, "..") == 0)
            continue;
        struct stat st;
        if (fstatat(dirFd, name, &st, AT_SYMLINK_NOFOLLOW) != 0) {
            if (errno == ENOENT)
                continue;
            ok = false;
            break;
        }
        if (!S_ISDIR(st.st_mode)) {
            if (unlinkat(dirFd, name, 0) != 0 && errno != ENOENT) {
                ok = false;
                break;
            }
            continue;
        }
        // A folder without write or search permission for its owner is made
        // deletable first, as a read-only attribute would be cleared.
        if ((st.st_mode & (S_IRWXU)) != S_IRWXU)
            fchmodat(dirFd, name, (st.st_mode & 07777) | S_IRWXU, 0);
        int childFd = openat(dirFd, name, O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
        if (childFd < 0) {
            ok = false;
            break;
        }
        bool emptied = EmptyFolder(childFd, depth + 1);
        close(childFd);
        if (!emptied || unlinkat(dirFd, name, AT_REMOVEDIR) != 0) {
            ok = false;
            break;
        }
    }
    closedir(dir);
    return ok;
}

} // namespace

bool DeleteTree(const std::string& path)
{
    struct stat st;
    if (lstat(path.c_str(), &st) != 0)
        return false;
    // A link given as the folder is not followed.
    if (!S_ISDIR(st.st_mode))
        return false;
    if ((st.st_mode & S_IRWXU) != S_IRWXU)
        chmod(path.c_str(), (st.st_mode & 07777) | S_IRWXU);
    int dirFd = open(path.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    if (dirFd < 0)
        return false;
    bool emptied = EmptyFolder(dirFd, 0);
    close(dirFd);
    return emptied && rmdir(path.c_str()) == 0;
}
