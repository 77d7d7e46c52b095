#include "FSCNetEnumFolderWin.h"

#include "FDebugTrace.h"
#include "FSCDiskWin.h"

#include <mutex>

namespace
{

// Domains hold workgroups hold servers; a deeper chain is a loop in what the
// network reports.
constexpr int kMaxNetDepth = 16;

std::mutex s_enumeratorLock;
std::shared_ptr<FIOsNetEnumerator> s_enumerator;

FWideString AfterLastBackslash(const FWideString& text)
{
    const char16_t* units = text.GetBuffer();
    for (int i = text.GetLength() - 1; i >= 0; --i) {
        if (units[i] == u'\\')
            return i + 1 < text.GetLength() ? FWideString(units + i + 1) : FWideString();
    }
    return text;
}

FWideString WithoutLeadingPair(const FWideString& text)
{
    if (text.GetLength() <= 2)
        return FWideString();
    return FWideString(text.GetBuffer() + 2);
}

// Calls visit for each entry of the container until the enumeration ends. Any
// answer other than success ends it, so a persistent error cannot loop for ever.
template <typename Visit>
void ForEachResource(FIOsNetEnumerator& enumerator, const FNetResource* container, Visit visit)
{
    std::unique_ptr<FIOsNetEnumeration> enumeration = enumerator.Open(container);
    if (!enumeration)
        return;
    std::vector<FNetResource> batch;
    for (;;) {
        batch.clear();
        if (enumeration->Next(batch) != kNetSuccess || batch.empty())
            return;
        for (const FNetResource& resource : batch)
            visit(resource);
    }
}

FNetResource ServerRecord(const FWideString& remoteName)
{
    FNetResource record;
    record.m_iDisplayType = kNetDisplayServer;
    record.m_iUsage = kNetUsageContainer;
    record.m_remoteName = remoteName;
    return record;
}

void EnumShares(FIOsNetEnumerator& enumerator, const FWideString& remoteName, std::vector<FWideString>& names,
                std::vector<FWideString>& localPaths)
{
    FNetResource server = ServerRecord(remoteName);
    ForEachResource(enumerator, &server, [&](const FNetResource& resource) {
        if (resource.m_iDisplayType != kNetDisplayShare)
            return;
        FWideString name = AfterLastBackslash(resource.m_remoteName);
        if (name.IsEmpty())
            return;
        names.push_back(name);
        localPaths.push_back(resource.m_localPath);
    });
}

FWideString RemoteNameOf(const FWideString& server)
{
    FWideString remote(u"\\\\");
    remote += server;
    return remote;
}

} // namespace

void SetNetEnumerator(std::shared_ptr<FIOsNetEnumerator> enumerator)
{
    std::lock_guard lock(s_enumeratorLock);
    s_enumerator = std::move(enumerator);
}

std::shared_ptr<FIOsNetEnumerator> GetNetEnumerator()
{
    std::lock_guard lock(s_enumeratorLock);
    if (!s_enumerator)
        s_enumerator = CreateOsNetEnumerator();
    return s_enumerator;
}

bool FindNetShareLocalPath(const FWideString& server, const FWideString& share, FWideString& localPath)
{
    std::shared_ptr<FIOsNetEnumerator> enumerator = GetNetEnumerator();
    if (!enumerator)
        return false;
    std::vector<FWideString> names;
    std::vector<FWideString> paths;
    EnumShares(*enumerator, RemoteNameOf(server), names, paths);
    for (size_t i = 0; i < names.size(); ++i) {
        if (names[i] == share && !paths[i].IsEmpty()) {
            localPath = paths[i];
            return true;
        }
    }
    return false;
}

FSCNetEnumFolderWin::FSCNetEnumFolderWin(const FWideString& className) : m_className(className) {}

void FSCNetEnumFolderWin::priWalk(FIOsNetEnumerator& enumerator, const FNetResource* container, int depth)
{
    if (depth > kMaxNetDepth)
        return;
    ForEachResource(enumerator, container, [&](const FNetResource& resource) {
        if (resource.m_iDisplayType == kNetDisplayServer) {
            FWideString name = WithoutLeadingPair(resource.m_remoteName);
            name.ToLower();
            if (!name.IsEmpty())
                m_servers.push_back(name);
            return;
        }
        if (resource.m_iUsage & kNetUsageContainer)
            priWalk(enumerator, &resource, depth + 1);
    });
}

void FSCNetEnumFolderWin::priEnumServers()
{
    DebugTrace("Enumerating servers...\n");
    std::shared_ptr<FIOsNetEnumerator> enumerator = GetNetEnumerator();
    if (enumerator)
        priWalk(*enumerator, nullptr, 0);
    m_bEnumerated = true;
}

void FSCNetEnumFolderWin::ListFolders(std::vector<FWideString>& names)
{
    if (!m_bEnumerated)
        priEnumServers();
    names.insert(names.end(), m_servers.begin(), m_servers.end());
}

FIFolder* FSCNetEnumFolderWin::OpenSubFolder(const FWideString& name, bool)
{
    if (!m_bEnumerated)
        priEnumServers();
    for (const FWideString& server : m_servers) {
        if (server == name)
            return new FSCNetShareEnumFolderWin(m_className, name);
    }
    return nullptr;
}

bool FSCNetEnumFolderWin::GetAttributes(int& flags)
{
    flags = (flags | kFileAttrReadOnly) & ~kFileAttrHidden;
    return true;
}

bool FSCNetEnumFolderWin::Exists(const FWideString&, bool*)
{
    return false;
}

FSCNetShareEnumFolderWin::FSCNetShareEnumFolderWin(const FWideString& className,
                                                   const FWideString& serverName)
    : m_className(className), m_serverName(serverName), m_remoteName(RemoteNameOf(serverName))
{
    std::shared_ptr<FIOsNetEnumerator> enumerator = GetNetEnumerator();
    int code = enumerator ? enumerator->GetResourceInformation(m_remoteName) : kNetBadNetName;
    m_bResolved = code == kNetSuccess;
    if (m_bResolved)
        return;
    if (code == kNetBadNetName) {
        DebugTrace("FSCNetShareEnumFolderWin::FSCNetShareEnumFolderWin: bad network name %s\n",
                   m_remoteName.GetNarrow());
        return;
    }
    DebugTrace("FSCNetShareEnumFolderWin::FSCNetShareEnumFolderWin: error %d while enuming %s\n", code,
               m_remoteName.GetNarrow());
}

void FSCNetShareEnumFolderWin::priEnumShares()
{
    DebugTrace("Enumerating shares on %s...\n", m_serverName.GetNarrow());
    std::shared_ptr<FIOsNetEnumerator> enumerator = GetNetEnumerator();
    if (m_bResolved && enumerator)
        EnumShares(*enumerator, m_remoteName, m_shares, m_shareLocalPaths);
    m_bEnumerated = true;
}

void FSCNetShareEnumFolderWin::ListFolders(std::vector<FWideString>& names)
{
    if (!m_bEnumerated)
        priEnumShares();
    names.insert(names.end(), m_shares.begin(), m_shares.end());
}

FIFolder* FSCNetShareEnumFolderWin::OpenSubFolder(const FWideString& name, bool)
{
    if (!m_bEnumerated)
        priEnumShares();
    for (size_t i = 0; i < m_shares.size(); ++i) {
        // A share is reachable only where the system has mounted it.
        if (m_shares[i] == name && !m_shareLocalPaths[i].IsEmpty())
            return CreateDiskFolder(m_className, m_shareLocalPaths[i]);
    }
    return nullptr;
}

bool FSCNetShareEnumFolderWin::GetAttributes(int& flags)
{
    flags = (flags | kFileAttrReadOnly) & ~kFileAttrHidden;
    return true;
}

bool FSCNetShareEnumFolderWin::Exists(const FWideString&, bool*)
{
    return false;
}
