#include "FDiskOs.h"
#include "FIOsNetEnumerator.h"
#include "FOsNetShares.h"
#include "StorageClassRegistry.h"

#include <cstring>
#include <dirent.h>
#include <sys/stat.h>

// Network shares are reachable through the file system only once mounted, so
// the network seen here is the set of mounted network file systems: servers are
// their hosts, shares their mounts.

namespace
{

bool StartsWith(const std::string& text, const char* prefix)
{
    return text.compare(0, strlen(prefix), prefix) == 0;
}

bool ParseCifsSource(const std::string& source, FMountedShare& share)
{
    // //server/share[/folder]
    if (!StartsWith(source, "//"))
        return false;
    size_t slash = source.find('/', 2);
    if (slash == std::string::npos || slash == 2)
        return false;
    share.m_server = source.substr(2, slash - 2);
    size_t end = source.find('/', slash + 1);
    share.m_share = source.substr(slash + 1, end == std::string::npos ? std::string::npos : end - slash - 1);
    return !share.m_share.empty();
}

bool ParseHostPathSource(const std::string& source, FMountedShare& share)
{
    // [user@]host:path
    size_t colon = source.find(':');
    if (colon == std::string::npos || colon == 0)
        return false;
    std::string host = source.substr(0, colon);
    size_t at = host.find_last_of('@');
    if (at != std::string::npos)
        host = host.substr(at + 1);
    std::string path = source.substr(colon + 1);
    while (!path.empty() && path.front() == '/')
        path.erase(path.begin());
    share.m_server = host;
    share.m_share = path.empty() ? "home" : path;
    return !host.empty();
}

// gvfs names its mounts like "smb-share:server=srv,share=pub,user=u".
bool ParseGvfsNameParts(const std::string& name, FMountedShare& share)
{
    size_t colon = name.find(':');
    if (colon == std::string::npos)
        return false;
    std::string kind = name.substr(0, colon);
    std::string rest = name.substr(colon + 1);
    size_t i = 0;
    while (i <= rest.size()) {
        size_t comma = rest.find(',', i);
        if (comma == std::string::npos)
            comma = rest.size();
        std::string pair = rest.substr(i, comma - i);
        size_t equals = pair.find('=');
        if (equals != std::string::npos) {
            std::string key = pair.substr(0, equals);
            std::string value = pair.substr(equals + 1);
            if (key == "server" || key == "host")
                share.m_server = value;
            else if (key == "share")
                share.m_share = value;
        }
        i = comma + 1;
    }
    if (share.m_share.empty())
        share.m_share = kind;
    return !share.m_server.empty();
}

} // namespace

bool ParseGvfsMountName(const std::string& name, FMountedShare& share)
{
    return ParseGvfsNameParts(name, share);
}

bool ParseNetworkMount(const FMountEntry& mount, FMountedShare& share)
{
    const std::string& type = mount.m_fsType;
    bool parsed = false;
    if (type == "cifs" || type == "smb3" || type == "smbfs")
        parsed = ParseCifsSource(mount.m_source, share);
    else if (StartsWith(type, "nfs") || type == "fuse.sshfs" || type == "sshfs")
        parsed = ParseHostPathSource(mount.m_source, share);
    if (parsed)
        share.m_localPath = mount.m_mountPoint;
    return parsed;
}

namespace
{

std::vector<FMountedShare> FindMountedShares()
{
    std::vector<FMountedShare> shares;
    for (const FMountEntry& mount : ReadMountTable()) {
        FMountedShare share;
        if (ParseNetworkMount(mount, share))
            shares.push_back(share);
    }
    std::string runtime = AbsoluteEnv("XDG_RUNTIME_DIR");
    if (runtime.empty())
        return shares;
    std::string gvfs = runtime + "/gvfs";
    DIR* dir = opendir(gvfs.c_str());
    if (!dir)
        return shares;
    while (dirent* entry = readdir(dir)) {
        FMountedShare share;
        if (entry->d_name[0] == '.' || !ParseGvfsMountName(entry->d_name, share))
            continue;
        share.m_localPath = gvfs + "/" + entry->d_name;
        shares.push_back(share);
    }
    closedir(dir);
    return shares;
}

bool SameServer(const std::string& a, const FWideString& b)
{
    return EqualsNoCase(NativeFromBytes(a), b);
}

class FListEnumeration : public FIOsNetEnumeration
{
public:
    explicit FListEnumeration(std::vector<FNetResource> resources) : m_resources(std::move(resources)) {}

    int Next(std::vector<FNetResource>& batch) override
    {
        if (m_bDone || m_resources.empty())
            return kNetNoMoreItems;
        m_bDone = true;
        batch.insert(batch.end(), m_resources.begin(), m_resources.end());
        return kNetSuccess;
    }

private:
    std::vector<FNetResource> m_resources;
    bool m_bDone = false;
};

class FMountNetEnumerator : public FIOsNetEnumerator
{
public:
    std::unique_ptr<FIOsNetEnumeration> Open(const FNetResource* container) override
    {
        std::vector<FMountedShare> shares = FindMountedShares();
        std::vector<FNetResource> resources;
        if (!container) {
            std::vector<std::string> servers;
            for (const FMountedShare& share : shares) {
                bool seen = false;
                for (const std::string& server : servers)
                    seen = seen || EqualsNoCase(NativeFromBytes(server), NativeFromBytes(share.m_server));
                if (seen)
                    continue;
                servers.push_back(share.m_server);
                FNetResource resource;
                resource.m_iDisplayType = kNetDisplayServer;
                resource.m_iUsage = kNetUsageContainer;
                resource.m_remoteName = NativeFromBytes("\\\\" + share.m_server);
                resources.push_back(resource);
            }
            return std::make_unique<FListEnumeration>(resources);
        }
        FWideString server = ServerOf(container->m_remoteName);
        for (const FMountedShare& share : shares) {
            if (!SameServer(share.m_server, server))
                continue;
            FNetResource resource;
            resource.m_iDisplayType = kNetDisplayShare;
            resource.m_remoteName = NativeFromBytes("\\\\" + share.m_server + "\\" + share.m_share);
            resource.m_localPath = NativeFromBytes(share.m_localPath);
            resources.push_back(resource);
        }
        return std::make_unique<FListEnumeration>(resources);
    }

    int GetResourceInformation(const FWideString& remoteName) override
    {
        FWideString server = ServerOf(remoteName);
        for (const FMountedShare& share : FindMountedShares()) {
            if (SameServer(share.m_server, server))
                return kNetSuccess;
        }
        return kNetBadNetName;
    }

private:
    static FWideString ServerOf(const FWideString& remoteName)
    {
        if (remoteName.GetLength() <= 2)
            return FWideString();
        return FWideString(remoteName.GetBuffer() + 2);
    }
};

} // namespace

std::shared_ptr<FIOsNetEnumerator> CreateOsNetEnumerator()
{
    return std::make_shared<FMountNetEnumerator>();
}
