#include "CamFileApi.h"

#include <cstdio>
#include <cstring>
#include <dirent.h>
#include <fnmatch.h>
#include <mutex>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace
{

std::mutex& RootLock()
{
    static std::mutex lock;
    return lock;
}

std::string& RootSetting()
{
    static std::string root;
    return root;
}

std::vector<std::string> PathParts(const char* path)
{
    std::vector<std::string> parts;
    std::string part;
    for (const char* p = path;; ++p) {
        if (*p == '/' || *p == 0) {
            if (!part.empty())
                parts.push_back(part);
            part.clear();
            if (*p == 0)
                break;
        } else {
            part += *p;
        }
    }
    return parts;
}

// A name that would forge or break a listing line.
bool UnlistableName(const char* name)
{
    return std::strpbrk(name, "\t\n\r") != nullptr;
}

bool StatLocal(const std::string& local, struct stat& info)
{
    return ::stat(local.c_str(), &info) == 0;
}

uint32_t Clamp32(uint64_t value)
{
    return value > UINT32_MAX ? UINT32_MAX : static_cast<uint32_t>(value);
}

} // namespace

void VirtualCamSetRoot(const std::string& folder)
{
    std::lock_guard lock(RootLock());
    RootSetting() = folder;
}

std::string VirtualCamGetRoot()
{
    {
        std::lock_guard lock(RootLock());
        if (!RootSetting().empty())
            return RootSetting();
    }
    char cwd[4096];
    if (!getcwd(cwd, sizeof cwd))
        return "VirtualCamera";
    return std::string(cwd) + "/VirtualCamera";
}

bool VirtualCamIsEnabled()
{
    struct stat info;
    return StatLocal(VirtualCamGetRoot() + "/Connected", info);
}

bool VirtualCamLocalPath(const char* path, std::string& local)
{
    if (!path)
        return false;
    local = VirtualCamGetRoot();
    for (const std::string& part : PathParts(path)) {
        if (part == "." || part == "..")
            return false;
        local += "/" + part;
    }
    return true;
}

bool VirtualCamListing(const char* path, std::string& text)
{
    text.clear();
    if (!CamIsPatternPath(path))
        return false;
    std::string camPath(path);
    const size_t slash = camPath.rfind('/');
    const std::string pattern = slash == std::string::npos ? camPath : camPath.substr(slash + 1);
    const std::string prefix = slash == std::string::npos ? std::string() : camPath.substr(0, slash + 1);
    // The folder part may not hold a pattern or leave the folder.
    if (CamIsPatternPath(prefix.c_str()) || pattern.empty())
        return false;
    std::string folder;
    if (!VirtualCamLocalPath(prefix.c_str(), folder))
        return false;
    DIR* dir = opendir(folder.c_str());
    if (!dir)
        return true; // matches nothing
    while (dirent* entry = readdir(dir)) {
        const char* name = entry->d_name;
        if (std::strcmp(name, ".") == 0 || std::strcmp(name, "..") == 0 || UnlistableName(name))
            continue;
        if (fnmatch(pattern.c_str(), name, FNM_PERIOD) != 0)
            continue;
        struct stat info;
        if (!StatLocal(folder + "/" + name, info))
            continue;
        char numbers[64];
        std::snprintf(numbers, sizeof numbers, "\t%llu\t%lld\t",
                      static_cast<unsigned long long>(info.st_size), static_cast<long long>(info.st_mtime));
        text += prefix + name + numbers;
        if (S_ISDIR(info.st_mode))
            text += 'D';
        if (!(info.st_mode & S_IWUSR))
            text += 'L';
        text += '\n';
        if (text.size() > kVirtualListingCap) {
            closedir(dir);
            text.clear();
            return false;
        }
    }
    closedir(dir);
    return true;
}

bool VirtualCamStat(const char* path, uint32_t* size, uint32_t* time, uint32_t* attributes)
{
    std::string local;
    if (!VirtualCamLocalPath(path, local))
        return false;
    bool writable = true;
    struct stat info;
    std::string listing;
    if (!CamIsPatternPath(path) && StatLocal(local, info)) {
        if (size)
            *size = Clamp32(static_cast<uint64_t>(info.st_size));
        if (time)
            *time = Clamp32(info.st_mtime < 0 ? 0 : static_cast<uint64_t>(info.st_mtime));
        writable = (info.st_mode & S_IWUSR) != 0;
    } else if (VirtualCamListing(path, listing)) {
        if (size)
            *size = Clamp32(listing.size());
        if (time)
            *time = 0;
    } else {
        return false;
    }
    if (attributes)
        *attributes = (writable ? 0u : 1u) | 2u;
    return true;
}

uint32_t VirtualCamRead(const char* path, uint32_t offset, void* buffer, uint32_t length)
{
    std::string local;
    if (!buffer || !VirtualCamLocalPath(path, local))
        return 0;
    if (CamIsPatternPath(path)) {
        std::string listing;
        if (!VirtualCamListing(path, listing) || offset >= listing.size())
            return 0;
        const size_t count = std::min<size_t>(length, listing.size() - offset);
        std::memcpy(buffer, listing.data() + offset, count);
        return static_cast<uint32_t>(count);
    }
    struct stat info;
    if (!StatLocal(local, info) || !S_ISREG(info.st_mode))
        return 0;
    FILE* file = std::fopen(local.c_str(), "rb");
    if (!file)
        return 0;
    uint32_t got = 0;
    if (fseeko(file, static_cast<off_t>(offset), SEEK_SET) == 0)
        got = static_cast<uint32_t>(std::fread(buffer, 1, length, file));
    std::fclose(file);
    return got;
}

bool VirtualCamWrite(const char* path, uint32_t offset, const void* data, uint32_t length)
{
    std::string local;
    if ((!data && length) || CamIsPatternPath(path) || !VirtualCamLocalPath(path, local))
        return false;
    struct stat info;
    if (StatLocal(local, info) && !S_ISREG(info.st_mode))
        return false;
    FILE* file = std::fopen(local.c_str(), "r+b");
    if (!file)
        file = std::fopen(local.c_str(), "w+b");
    if (!file)
        return false;
    bool ok = fseeko(file, static_cast<off_t>(offset), SEEK_SET) == 0 &&
              std::fwrite(data, 1, length, file) == length;
    if (std::fclose(file) != 0)
        ok = false;
    return ok;
}

bool VirtualCamDelete(const char* path)
{
    std::string local;
    if (CamIsPatternPath(path) || !VirtualCamLocalPath(path, local))
        return false;
    struct stat info;
    if (!StatLocal(local, info) || !S_ISREG(info.st_mode))
        return false;
    return ::unlink(local.c_str()) == 0;
}

bool VirtualCamSetAttributes(const char* path, uint32_t attributes)
{
    std::string local;
    if (CamIsPatternPath(path) || !VirtualCamLocalPath(path, local))
        return false;
    struct stat info;
    if (!StatLocal(local, info))
        return false;
    mode_t mode = info.st_mode & 07777;
    mode = (attributes & 1) ? (mode & ~S_IWUSR) : (mode | S_IWUSR);
    return ::chmod(local.c_str(), mode) == 0;
}
