#include "FScopedTempFolder.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <stdexcept>
#include <sys/stat.h>
#include <unistd.h>

namespace
{

void RemoveTree(const std::string& path)
{
    struct stat st;
    if (lstat(path.c_str(), &st) != 0)
        return;
    if (!S_ISDIR(st.st_mode)) {
        unlink(path.c_str());
        return;
    }
    chmod(path.c_str(), 0700);
    if (DIR* dir = opendir(path.c_str())) {
        while (dirent* entry = readdir(dir)) {
            if (strcmp(entry->d_name, ".") == 0 || strcmp(entry->d_name, "..") == 0)
                continue;
            RemoveTree(path + "/" + entry->d_name);
        }
        closedir(dir);
    }
    rmdir(path.c_str());
}

} // namespace

FScopedTempFolder::FScopedTempFolder()
{
    const char* base = getenv("TMPDIR");
    std::string pattern = std::string(base && base[0] == '/' ? base : "/tmp") + "/rb-test-XXXXXX";
    if (!mkdtemp(pattern.data()))
        throw std::runtime_error("mkdtemp failed");
    // Later tests compare paths with the real ones, so resolve links in the base.
    char* real = realpath(pattern.c_str(), nullptr);
    m_path = real ? real : pattern;
    free(real);
}

FScopedTempFolder::~FScopedTempFolder()
{
    RemoveTree(m_path);
}

bool FScopedTempFolder::WriteFile(const std::string& name, const std::string& bytes) const
{
    int fd = open(Join(name).c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (fd < 0)
        return false;
    bool ok = write(fd, bytes.data(), bytes.size()) == static_cast<ssize_t>(bytes.size());
    return close(fd) == 0 && ok;
}

bool FScopedTempFolder::ReadFile(const std::string& name, std::string& bytes) const
{
    int fd = open(Join(name).c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return false;
    bytes.clear();
    char buffer[4096];
    ssize_t got;
    while ((got = read(fd, buffer, sizeof buffer)) > 0)
        bytes.append(buffer, static_cast<size_t>(got));
    close(fd);
    return got == 0;
}

FScopedEnv::FScopedEnv(const char* name, const std::string& value) : m_name(name)
{
    if (const char* old = getenv(name)) {
        m_bHadValue = true;
        m_old = old;
    }
    setenv(name, value.c_str(), 1);
}

FScopedEnv::~FScopedEnv()
{
    if (m_bHadValue)
        setenv(m_name.c_str(), m_old.c_str(), 1);
    else
        unsetenv(m_name.c_str());
}
