#include "FOsPrivateFiles.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <string>

#include "FCodePage.h"
#include "StorageClassRegistry.h"

namespace
{

// An existing folder that is ours, a real folder and closed to others.
bool IsPrivateFolder(const std::string& path)
{
    struct stat info {
    };
    return lstat(path.c_str(), &info) == 0 && S_ISDIR(info.st_mode) && info.st_uid == geteuid() &&
           (info.st_mode & 077) == 0;
}

std::string PrivateFolder()
{
    std::string base;
    if (const char* runtime = std::getenv("XDG_RUNTIME_DIR"); runtime && *runtime == '/')
        base = runtime;
    else if (const char* temp = std::getenv("TMPDIR"); temp && *temp == '/')
        base = temp;
    else
        base = "/tmp";
    const std::string folder = base + "/rawbench-" + std::to_string(geteuid());
    if (mkdir(folder.c_str(), 0700) != 0 && errno != EEXIST)
        return std::string();
    return IsPrivateFolder(folder) ? folder : std::string();
}

} // namespace

bool WriteOsPrivateTempFile(const FWideString& name, const FWideString& text, FWideString& url)
{
    const std::string leaf = Utf8FromWide(name);
    if (leaf.empty() || leaf.find('/') != std::string::npos || leaf == "." || leaf == "..")
        return false;
    const std::string folder = PrivateFolder();
    if (folder.empty())
        return false;
    const std::string path = folder + "/" + leaf;
    unlink(path.c_str());
    const int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
    if (fd < 0)
        return false;
    std::string bytes;
    for (int i = 0; i < text.GetLength(); ++i)
        bytes += static_cast<char>(text.GetBuffer()[i] & 0xFF);
    size_t done = 0;
    while (done < bytes.size()) {
        const ssize_t n = write(fd, bytes.data() + done, bytes.size() - done);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            break;
        done += static_cast<size_t>(n);
    }
    const bool ok = close(fd) == 0 && done == bytes.size();
    return ok && NativePathToURL(WideFromUtf8(path), url);
}
