#include "FDebugTrace.h"
#include "FException.h"
#include "FSCDiskWin.h"
#include "FSCNetEnumFolderWin.h"
#include "FScopedTempFolder.h"
#include "StorageClassRegistry.h"
#include "StorageTestSupport.h"
#include "os/FOsNetShares.h"

#include <map>

namespace
{

// A network described by a table: container remote name -> entries.
class FakeEnumerator : public FIOsNetEnumerator
{
public:
    std::map<std::string, std::vector<FNetResource>> m_children;
    std::map<std::string, int> m_resolve; // remote name -> code; missing means bad name
    int m_iPersistentError = 0;           // when set, every Next answers it
    int m_iNextCalls = 0;

    std::unique_ptr<FIOsNetEnumeration> Open(const FNetResource* container) override
    {
        std::string key = container ? U8(container->m_remoteName) : "";
        auto found = m_children.find(key);
        if (found == m_children.end())
            return nullptr;
        return std::make_unique<Enumeration>(this, found->second);
    }

    int GetResourceInformation(const FWideString& remoteName) override
    {
        auto found = m_resolve.find(U8(remoteName));
        return found == m_resolve.end() ? kNetBadNetName : found->second;
    }

private:
    // Answers two entries per call, then no more items.
    class Enumeration : public FIOsNetEnumeration
    {
    public:
        Enumeration(FakeEnumerator* owner, std::vector<FNetResource> entries)
            : m_pOwner(owner), m_entries(std::move(entries))
        {
        }
        int Next(std::vector<FNetResource>& batch) override
        {
            ++m_pOwner->m_iNextCalls;
            if (m_pOwner->m_iPersistentError)
                return m_pOwner->m_iPersistentError;
            if (m_iNext >= m_entries.size())
                return kNetNoMoreItems;
            for (int i = 0; i < 2 && m_iNext < m_entries.size(); ++i)
                batch.push_back(m_entries[m_iNext++]);
            return kNetSuccess;
        }

    private:
        FakeEnumerator* m_pOwner;
        std::vector<FNetResource> m_entries;
        size_t m_iNext = 0;
    };
};

FNetResource Resource(int display, int usage, const char* remote, const std::string& local = "")
{
    FNetResource resource;
    resource.m_iDisplayType = display;
    resource.m_iUsage = usage;
    resource.m_remoteName = W(remote);
    resource.m_localPath = W(local);
    return resource;
}

constexpr int kDomain = 1;

class NetFolders : public ::testing::Test
{
protected:
    void SetUp() override
    {
        EnsureDiskRegistered();
        auto& root = m_pFake->m_children[""];
        root.push_back(Resource(kDomain, kNetUsageContainer, "WORKGROUP"));
        root.push_back(Resource(kNetDisplayServer, kNetUsageContainer, "\\\\Beta"));
        m_pFake->m_children["WORKGROUP"] = {Resource(kNetDisplayServer, kNetUsageContainer, "\\\\ALPHA"),
                                            Resource(kNetDisplayServer, kNetUsageContainer, "\\\\"),
                                            Resource(kNetDisplayServer, kNetUsageContainer, "\\\\beta")};
        m_pFake->m_children["\\\\alpha"] = {
            Resource(kNetDisplayShare, 1, "\\\\alpha\\Public", m_share.GetPath()),
            Resource(kNetDisplayShare, 1, "\\\\alpha\\unmounted"),
            Resource(kNetDisplayShare, 1, "\\\\alpha\\"),
            Resource(kDomain, kNetUsageContainer, "\\\\alpha\\nested")};
        m_pFake->m_resolve["\\\\alpha"] = kNetSuccess;
        m_pFake->m_resolve["\\\\broken"] = 1222;
        SetNetEnumerator(m_pFake);
    }
    void TearDown() override { SetNetEnumerator(nullptr); }

    std::shared_ptr<FakeEnumerator> m_pFake = std::make_shared<FakeEnumerator>();
    FScopedTempFolder m_share;
};

TEST_F(NetFolders, ServersAreWalkedDepthFirstAndLowerCased)
{
    FDebugTraceCapture capture;
    FSCNetEnumFolderWin servers(u"disk");
    std::vector<FWideString> names{u"kept"};
    servers.ListFolders(names);
    EXPECT_EQ(U8(names), (std::vector<std::string>{"kept", "alpha", "beta", "beta"}));
    EXPECT_TRUE(capture.Contains("Enumerating servers...\n"));

    // Enumerated once per object.
    int calls = m_pFake->m_iNextCalls;
    names.clear();
    servers.ListFolders(names);
    EXPECT_EQ(names.size(), 3u);
    EXPECT_EQ(m_pFake->m_iNextCalls, calls);

    EXPECT_EQ(servers.OpenSubFolder(u"ALPHA", false), nullptr);
    Released<FIFolder> alpha(servers.OpenSubFolder(u"alpha", false));
    ASSERT_TRUE(alpha);
    EXPECT_EQ(U8(servers.GetURL()), "disk");
    EXPECT_EQ(servers.GetFreeSpace(), 1);
    EXPECT_TRUE(servers.IsReadOnly());
    EXPECT_EQ(servers.GetDriveType(), kDriveRemote);
    int flags = kFileAttrHidden;
    EXPECT_TRUE(servers.GetAttributes(flags));
    EXPECT_EQ(flags, kFileAttrReadOnly);
    EXPECT_FALSE(servers.Exists(u"alpha", nullptr));
    EXPECT_THROW(servers.Rename(u"a", u"b"), FExceptionFileIO);
    EXPECT_THROW(servers.DeleteFolder(u"disk://Network/alpha", 1), FExceptionFileIO);
}

TEST_F(NetFolders, SharesKeepTheirCaseAndOpenWhereMounted)
{
    FDebugTraceCapture capture;
    FSCNetShareEnumFolderWin shares(u"disk", u"alpha");
    std::vector<FWideString> names;
    shares.ListFolders(names);
    EXPECT_EQ(U8(names), (std::vector<std::string>{"Public", "unmounted"}));
    EXPECT_TRUE(capture.Contains("Enumerating shares on alpha...\n"));
    EXPECT_EQ(shares.GetFreeSpace(), -1);
    EXPECT_EQ(shares.GetDriveType(), kDriveRemote);

    ASSERT_TRUE(m_share.WriteFile("photo.q7f", "x"));
    Released<FIFolder> share(shares.OpenSubFolder(u"Public", false));
    ASSERT_TRUE(share);
    std::vector<FWideString> files;
    share->ListFiles(files);
    EXPECT_EQ(U8(files), std::vector<std::string>{"photo.q7f"});
    EXPECT_EQ(shares.OpenSubFolder(u"public", false), nullptr);
    EXPECT_EQ(shares.OpenSubFolder(u"unmounted", false), nullptr);

    // The disk class reaches the same share by its Network path.
    FWideString native;
    ASSERT_TRUE(URLToNativePath(u"disk://Network/alpha/Public/photo.q7f", native));
    EXPECT_EQ(U8(native), m_share.Join("photo.q7f"));
    Released<FIFile> file(OpenFileURL(u"disk://Network/alpha/Public/photo.q7f", kFileRead));
    EXPECT_TRUE(file);
    FWideString name;
    Released<FIFolder> list(OpenFolderURL(u"disk://Network/alpha", name, false));
    ASSERT_TRUE(list);
    names.clear();
    list->ListFolders(names);
    EXPECT_EQ(names.size(), 2u);
}

TEST_F(NetFolders, UnknownServersListNothing)
{
    FDebugTraceCapture capture;
    FSCNetShareEnumFolderWin missing(u"disk", u"x");
    EXPECT_TRUE(
        capture.Contains("FSCNetShareEnumFolderWin::FSCNetShareEnumFolderWin: bad network name \\\\x\n"));
    std::vector<FWideString> names;
    missing.ListFolders(names);
    EXPECT_TRUE(names.empty());
    EXPECT_EQ(missing.OpenSubFolder(u"Public", false), nullptr);

    FSCNetShareEnumFolderWin broken(u"disk", u"broken");
    EXPECT_TRUE(capture.Contains(
        "FSCNetShareEnumFolderWin::FSCNetShareEnumFolderWin: error 1222 while enuming \\\\broken\n"));
    broken.ListFolders(names);
    EXPECT_TRUE(names.empty());
}

TEST_F(NetFolders, APersistentErrorEndsTheWalk)
{
    m_pFake->m_iPersistentError = 1234;
    FSCNetEnumFolderWin servers(u"disk");
    std::vector<FWideString> names;
    servers.ListFolders(names);
    EXPECT_TRUE(names.empty());
    EXPECT_EQ(m_pFake->m_iNextCalls, 1);
}

TEST_F(NetFolders, NoNetworkAtAll)
{
    m_pFake->m_children.clear();
    FSCNetEnumFolderWin servers(u"disk");
    std::vector<FWideString> names;
    servers.ListFolders(names);
    EXPECT_TRUE(names.empty());
    EXPECT_EQ(servers.GetFreeSpace(), 1);
}

TEST(NetMounts, NetworkFileSystemsReadAsServersAndShares)
{
    struct Case {
        const char* type;
        const char* source;
        bool network;
        const char* server;
        const char* share;
    };
    const Case kCases[] = {
        {"cifs", "//nas/photos", true, "nas", "photos"},
        {"smb3", "//nas/photos/2024", true, "nas", "photos"},
        {"cifs", "//nas", false, "", ""},
        {"cifs", "///x", false, "", ""},
        {"nfs4", "server:/export/raw", true, "server", "export/raw"},
        {"nfs", "server:", true, "server", "home"},
        {"fuse.sshfs", "me@host:pictures", true, "host", "pictures"},
        {"fuse.sshfs", ":nohost", false, "", ""},
        {"ext4", "/dev/sda1", false, "", ""},
        {"tmpfs", "tmpfs", false, "", ""},
    };
    for (const Case& c : kCases) {
        FMountEntry mount;
        mount.m_fsType = c.type;
        mount.m_source = c.source;
        mount.m_mountPoint = "/mnt/point";
        FMountedShare share;
        ASSERT_EQ(ParseNetworkMount(mount, share), c.network) << c.type << " " << c.source;
        if (!c.network)
            continue;
        EXPECT_EQ(share.m_server, c.server) << c.source;
        EXPECT_EQ(share.m_share, c.share) << c.source;
        EXPECT_EQ(share.m_localPath, "/mnt/point");
    }

    FMountedShare share;
    ASSERT_TRUE(ParseGvfsMountName("smb-share:server=srv,share=pub,user=u", share));
    EXPECT_EQ(share.m_server, "srv");
    EXPECT_EQ(share.m_share, "pub");
    share = FMountedShare();
    ASSERT_TRUE(ParseGvfsMountName("sftp:host=box", share));
    EXPECT_EQ(share.m_server, "box");
    EXPECT_EQ(share.m_share, "sftp");
    EXPECT_FALSE(ParseGvfsMountName("trash", share));
    FMountedShare noServer;
    EXPECT_FALSE(ParseGvfsMountName("smb-share:share=pub", noServer));
}

TEST(NetFoldersOnThisSystem, MountedSharesListWithoutFailing)
{
    // The system's own network view: whatever it holds, listing must not fail.
    EnsureDiskRegistered();
    SetNetEnumerator(nullptr);
    FSCNetEnumFolderWin servers(u"disk");
    std::vector<FWideString> names;
    servers.ListFolders(names);
    for (const FWideString& server : names) {
        Released<FIFolder> shares(servers.OpenSubFolder(server, false));
        ASSERT_TRUE(shares) << U8(server);
        std::vector<FWideString> shareNames;
        shares->ListFolders(shareNames);
    }
}

} // namespace
