#include "FSCDiskWin.h"
#include "FScopedTempFolder.h"
#include "StorageClassRegistry.h"
#include "StorageTestSupport.h"

#include <sys/stat.h>
#include <unistd.h>

namespace
{

std::string Token(const std::string& mountPath)
{
    FWideString token;
    EscapeURLChars(W(mountPath), token);
    return U8(token);
}

// URL of a native folder through the registry.
std::string URLOf(const std::string& native)
{
    FWideString url;
    EXPECT_TRUE(NativePathToURL(W(native), url)) << native;
    return U8(url);
}

bool PathExists(const std::string& path)
{
    struct stat st;
    return lstat(path.c_str(), &st) == 0;
}

class DiskPath : public ::testing::Test
{
protected:
    void SetUp() override { EnsureDiskRegistered(); }

    FScopedTempFolder m_home;
    FScopedEnv m_homeEnv{"HOME", m_home.GetPath()};
    FSCDiskWin m_disk{u"disk"};
};

TEST_F(DiskPath, ToNativePath)
{
    struct Case {
        const char* path;
        bool ok;
        const char* native;
    };
    const Case kCases[] = {
        {"%002F/a/b%0023c", true, "/a/b#c"},
        {"%002F", true, "/"},
        {"%002F//a//", true, "/a"},
        {"%002Fhome%002Fu/x.q7f", true, "/home/u/x.q7f"},
        {"%002F/100% crop.jpg", true, "/100% crop.jpg"},
        {"", false, ""},
        {"/", false, ""},
        {"D/x", false, ""},           // a token must name an absolute mount path
        {"%002F/a%002Fb", false, ""}, // no name holds a slash
        {"Network/srv", false, ""},
    };
    for (const Case& c : kCases) {
        FWideString native{u"untouched"};
        EXPECT_EQ(m_disk.ToNativePath(W(c.path), native), c.ok) << c.path;
        if (c.ok) {
            EXPECT_EQ(U8(native), c.native) << c.path;
        }
    }
}

TEST_F(DiskPath, FromNativePathPicksTheLongestVolume)
{
    const std::string home = m_home.GetPath();
    struct Case {
        std::string native;
        std::string path;
    };
    const Case kCases[] = {
        {"/", "%002F"},
        {"/a#b/c", "%002F/a%0023b/c"},
        {"//a/./b/", "%002F/a/b"},
        {home, Token(home)},
        {home + "/x:y", Token(home) + "/x%003Ay"},
        // A whole-component prefix only.
        {home + "more/x", ""},
    };
    for (const Case& c : kCases) {
        FWideString path;
        ASSERT_TRUE(m_disk.FromNativePath(W(c.native), path)) << c.native;
        if (c.native == home + "more/x") {
            EXPECT_EQ(U8(path).rfind("%002F/", 0), 0u) << U8(path);
            continue;
        }
        EXPECT_EQ(U8(path), c.path) << c.native;
    }

    char* cwd = getcwd(nullptr, 0);
    ASSERT_NE(cwd, nullptr);
    FWideString relative;
    FWideString absolute;
    ASSERT_TRUE(m_disk.FromNativePath(u"rel/x", relative));
    ASSERT_TRUE(m_disk.FromNativePath(W(std::string(cwd) + "/rel/x"), absolute));
    free(cwd);
    EXPECT_EQ(U8(relative), U8(absolute));
}

TEST_F(DiskPath, VolumeListAndOpenFolderEdges)
{
    FWideString name{u"stale"};
    for (const char16_t* path : {u"", u"/", u"//"}) {
        Released<FIFolder> volumes(m_disk.OpenFolder(path, name, false));
        ASSERT_TRUE(volumes);
        EXPECT_EQ(U8(volumes->GetURL()), "disk");
        EXPECT_TRUE(name.IsEmpty());
    }
    Released<FIFolder> volumes(m_disk.OpenFolder(u"", name, false));
    std::vector<FWideString> names;
    volumes->ListFolders(names);
    ASSERT_GE(names.size(), 3u);
    EXPECT_EQ(U8(names.front()), "%002F");
    EXPECT_EQ(U8(names.back()), "Network");
    EXPECT_NE(std::find(names.begin(), names.end(), W(Token(m_home.GetPath()))), names.end());
    EXPECT_TRUE(volumes->IsReadOnly());
    EXPECT_EQ(volumes->GetFreeSpace(), -1);

    Released<FIFolder> root(volumes->OpenSubFolder(u"%002F", false));
    ASSERT_TRUE(root);
    EXPECT_EQ(U8(root->GetURL()), "disk://%002F/");
    const int kind = root->GetDriveType();
    EXPECT_TRUE(kind >= kDriveRemovable && kind <= kDriveRamDisk) << kind;
    int flags = 0;
    ASSERT_TRUE(root->GetAttributes(flags));
    EXPECT_EQ(flags & kFileAttrHidden, 0);
    EXPECT_EQ(volumes->OpenSubFolder(u"%002f", false), nullptr);
    EXPECT_EQ(volumes->OpenSubFolder(u"/", false), nullptr);

    Released<FIFolder> network(m_disk.OpenFolder(u"Network", name, false));
    ASSERT_TRUE(network);
    EXPECT_EQ(network->GetFreeSpace(), 1);
}

TEST_F(DiskPath, OpenFolderOfAFileGivesItsParent)
{
    FScopedTempFolder temp;
    ASSERT_TRUE(temp.WriteFile("f#1.txt", "x"));
    FWideString path;
    ASSERT_TRUE(m_disk.FromNativePath(W(temp.Join("f#1.txt")), path));
    FWideString name;
    Released<FIFolder> folder(m_disk.OpenFolder(path, name, false));
    ASSERT_TRUE(folder);
    EXPECT_EQ(U8(name), "f#1.txt");
    EXPECT_EQ(U8(folder->GetURL()), URLOf(temp.GetPath()) + "/");

    FWideString created;
    ASSERT_TRUE(m_disk.FromNativePath(W(temp.Join("a/b/c")), created));
    EXPECT_EQ(m_disk.OpenFolder(created, name, false), nullptr);
    Released<FIFolder> made(m_disk.OpenFolder(created, name, true));
    ASSERT_TRUE(made);
    EXPECT_TRUE(PathExists(temp.Join("a/b/c")));

    // A file standing in the way stops the creation.
    FWideString blocked;
    ASSERT_TRUE(m_disk.FromNativePath(W(temp.Join("f#1.txt/sub")), blocked));
    EXPECT_EQ(m_disk.OpenFolder(blocked, name, true), nullptr);
}

// Names that the URL escaping, the UTF-16 mapping or the line rules could mangle.
const char* const kAwkwardNames[] = {
    "per%cent",      "co:lon",  "back\\slash",  "apo'strophe", "dou\"ble",     "ques?tion",
    "ast*erisk",     "num#ber", "100%0041.txt", "%",           "bad\xE9-byte", "ctl\x01-\x08-\x7F",
    "utf8-\xC3\xA9", "trail.",  " lead blank",
};

TEST_F(DiskPath, AwkwardNamesRoundTripThroughTheirOwnURLs)
{
    FScopedTempFolder temp;
    for (const char* raw : kAwkwardNames) {
        const std::string name = raw;
        SCOPED_TRACE(name);
        ASSERT_TRUE(temp.WriteFile(name, "content of " + name));

        FWideString ignored;
        Released<FIFolder> folder(OpenFolderURL(W(URLOf(temp.GetPath())), ignored, false));
        ASSERT_TRUE(folder);
        std::vector<FWideString> listed;
        folder->ListFiles(listed);
        ASSERT_EQ(listed.size(), 1u);
        EXPECT_EQ(U8(listed[0]), name);

        std::string url;
        {
            Released<FIFile> file(folder->OpenFile(listed[0], kFileRead));
            ASSERT_TRUE(file);
            url = U8(file->GetURL());
        }
        {
            Released<FIFile> again(OpenFileURL(W(url), kFileRead));
            ASSERT_TRUE(again) << url;
            char buffer[64] = {};
            int got = again->ReadSome(buffer, sizeof buffer);
            EXPECT_EQ(std::string(buffer, static_cast<size_t>(got)), "content of " + name);
        }
        bool isFolder = true;
        EXPECT_TRUE(ExistsURL(W(url), isFolder));
        EXPECT_FALSE(isFolder);

        folder->Rename(listed[0], W(name + "-renamed"));
        EXPECT_FALSE(PathExists(temp.Join(name)));
        ASSERT_TRUE(PathExists(temp.Join(name + "-renamed")));

        FWideString renamedURL;
        ASSERT_TRUE(NativePathToURL(W(temp.Join(name + "-renamed")), renamedURL));
        DeleteFileURL(renamedURL);
        EXPECT_FALSE(PathExists(temp.Join(name + "-renamed"))) << U8(renamedURL);
    }
}

} // namespace
