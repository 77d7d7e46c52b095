#include "FOsInstanceLeftovers.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <string>

#include "FOsSingleInstance.h"

namespace
{

bool IsOwnFolder(const std::string& path)
{
    struct stat info {
    };
    return lstat(path.c_str(), &info) == 0 && S_ISDIR(info.st_mode) && info.st_uid == geteuid() &&
           (info.st_mode & 077) == 0;
}

} // namespace

void RemoveOsInstanceLeftovers(const char* appName)
{
    bool fallback = false;
    const std::string folder = GetOsInstanceFolderPath(fallback);
    if (!IsOwnFolder(folder))
        return;
    const std::string name = SanitiseOsInstanceName(appName);
    const std::string lock = folder + "/" + name + ".lock";
    const int fd = open(lock.c_str(), O_RDWR | O_NOFOLLOW | O_CLOEXEC);
    if (fd >= 0) {
        // Held means the program runs: then its files stay.
        if (flock(fd, LOCK_EX | LOCK_NB) != 0) {
            close(fd);
            return;
        }
        unlink(lock.c_str());
        close(fd);
    }
    const std::string socketPath = folder + "/" + name + ".sock";
    struct stat info {
    };
    if (lstat(socketPath.c_str(), &info) == 0 && S_ISSOCK(info.st_mode))
        unlink(socketPath.c_str());
    // The runtime folder is the session's; only the folder made for want of it goes.
    if (fallback)
        rmdir(folder.c_str());
}
