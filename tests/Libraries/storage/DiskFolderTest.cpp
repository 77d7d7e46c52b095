#include "FException.h"
#include "FReleased.h"
#include "FReplacingFile.h"
#include "FScopedTempFolder.h"
#include "StorageClassRegistry.h"
#include "StorageTestSupport.h"

#include <algorithm>
#include <csignal>
#include <fcntl.h>
#include <filesystem>
#include <sched.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

namespace
{

bool PathExists(const std::string& path)
{
    struct stat st;
    return lstat(path.c_str(), &st) == 0;
}

std::string URLOf(const std::string& native)
{
    FWideString url;
    EXPECT_TRUE(NativePathToURL(W(native), url)) << native;
    return U8(url);
}

class DiskFolder : public ::testing::Test
{
protected:
    void SetUp() override
    {
        EnsureDiskRegistered();
        m_folder = OpenFolder(m_temp.GetPath());
        ASSERT_NE(m_folder, nullptr);
    }
    void TearDown() override
    {
        if (m_folder)
            m_folder->Release();
    }

    static FIFolder* OpenFolder(const std::string& native)
    {
        FWideString ignored;
        return OpenFolderURL(W(URLOf(native)), ignored, false);
    }

    void Make(const std::string& relative)
    {
        ASSERT_EQ(mkdir(m_temp.Join(relative).c_str(), 0755), 0) << relative;
    }

    FScopedTempFolder m_temp;
    FIFolder* m_folder = nullptr;
};

TEST_F(DiskFolder, ListingAppendsAndKeepsKindsApart)
{
    ASSERT_TRUE(m_temp.WriteFile("b.q7f", "x"));
    ASSERT_TRUE(m_temp.WriteFile("a.jpg", "x"));
    ASSERT_TRUE(m_temp.WriteFile(".hidden", "x"));
    Make("sub");
    Make(".dotdir");
    ASSERT_EQ(mkfifo(m_temp.Join("fifo").c_str(), 0644), 0);
    ASSERT_EQ(symlink("a.jpg", m_temp.Join("link-to-file").c_str()), 0);
    ASSERT_EQ(symlink("sub", m_temp.Join("link-to-dir").c_str()), 0);
    ASSERT_EQ(symlink("nowhere", m_temp.Join("dangling").c_str()), 0);

    std::vector<FWideString> files{u"kept"};
    m_folder->ListFiles(files);
    EXPECT_EQ(U8(files), (std::vector<std::string>{"kept", ".hidden", "a.jpg", "b.q7f", "link-to-file"}));
    std::vector<FWideString> folders;
    m_folder->ListFolders(folders);
    EXPECT_EQ(U8(folders), (std::vector<std::string>{".dotdir", "link-to-dir", "sub"}));

    Released<FIFolder> missing(OpenFolder(m_temp.Join("gone")));
    EXPECT_FALSE(missing);
}

TEST_F(DiskFolder, SubFoldersAndExistence)
{
    EXPECT_EQ(m_folder->OpenSubFolder(u"new", false), nullptr);
    {
        Released<FIFolder> made(m_folder->OpenSubFolder(u"new", true));
        ASSERT_TRUE(made);
        EXPECT_EQ(U8(made->GetURL()), URLOf(m_temp.Join("new")) + "/");
    }
    EXPECT_EQ(m_folder->OpenSubFolder(u"x/y", true), nullptr);
    bool isFolder = false;
    EXPECT_TRUE(m_folder->Exists(u"new", &isFolder));
    EXPECT_TRUE(isFolder);
    ASSERT_TRUE(m_temp.WriteFile("file", "x"));
    EXPECT_TRUE(m_folder->Exists(u"file", &isFolder));
    EXPECT_FALSE(isFolder);
    EXPECT_TRUE(m_folder->Exists(u"file", nullptr));
    EXPECT_FALSE(m_folder->Exists(u"nothing", nullptr));

    EXPECT_GT(m_folder->GetFreeSpace(), 0);
    EXPECT_FALSE(m_folder->IsReadOnly());
    // A folder below a volume root is no root of a drive.
    EXPECT_EQ(m_folder->GetDriveType(), kDriveNoRootFolder);
    EXPECT_TRUE(m_folder->GetNote().IsEmpty());
}

// The mount table is kept between calls; a mount made or removed after an
// answer must still show in the next one. A child process with its own mount
// namespace mounts over a folder the parent already asked about.
TEST_F(DiskFolder, DriveKindFollowsMountsMadeAndRemoved)
{
    Make("point");
    Released<FIFolder> point(OpenFolder(m_temp.Join("point")));
    ASSERT_TRUE(point);
    ASSERT_EQ(point->GetDriveType(), kDriveNoRootFolder);
    ASSERT_EQ(point->GetDriveType(), kDriveNoRootFolder);
    const std::string path = m_temp.Join("point");
    const pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        // 0: passed; 1..4: the step that answered wrongly; 77: no private mounts here.
        if (unshare(CLONE_NEWUSER | CLONE_NEWNS) != 0)
            _exit(77);
        if (point->GetDriveType() != kDriveNoRootFolder)
            _exit(1);
        if (mount("none", path.c_str(), "tmpfs", 0, nullptr) != 0)
            _exit(77);
        if (point->GetDriveType() != kDriveRamDisk)
            _exit(2);
        if (m_folder->GetDriveType() != kDriveNoRootFolder)
            _exit(3);
        if (umount(path.c_str()) != 0)
            _exit(77);
        if (point->GetDriveType() != kDriveNoRootFolder)
            _exit(4);
        _exit(0);
    }
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFEXITED(status));
    if (WEXITSTATUS(status) == 77)
        GTEST_SKIP() << "no private mount namespace for tests here";
    EXPECT_EQ(WEXITSTATUS(status), 0) << "step that answered wrongly";
    // The child's mounts never reached this process.
    EXPECT_EQ(point->GetDriveType(), kDriveNoRootFolder);
}

// Exists and OpenFile agree on every name: sub-paths inside the folder work in
// both, anything that leaves the folder in neither.
TEST_F(DiskFolder, NamesWithSlashesStayInsideTheFolder)
{
    Make("sub");
    Make("sub/deeper");
    ASSERT_TRUE(m_temp.WriteFile("sub/deeper/in.xml", "in"));
    FScopedTempFolder outside;
    ASSERT_TRUE(outside.WriteFile("out.xml", "out"));
    ASSERT_EQ(symlink(outside.GetPath().c_str(), m_temp.Join("sub/away").c_str()), 0);
    ASSERT_EQ(symlink(outside.Join("out.xml").c_str(), m_temp.Join("linked.xml").c_str()), 0);
    const struct {
        const char16_t* name;
        bool inside;
    } cases[] = {
        {u"sub/deeper/in.xml", true},
        {u"sub/../sub/deeper/in.xml", false},
        {u"..", false},
        {u"sub/away/out.xml", false},
        {u"linked.xml", true}, // a plain name's link is followed, as in listings
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(U8(FWideString(c.name)));
        EXPECT_EQ(m_folder->Exists(c.name, nullptr), c.inside);
        Released<FIFile> file(m_folder->OpenFile(c.name, kFileRead));
        EXPECT_EQ(bool(file), c.inside);
    }
    const std::string absolute = outside.Join("out.xml");
    EXPECT_FALSE(m_folder->Exists(W(absolute), nullptr));
    EXPECT_EQ(m_folder->OpenFile(W(absolute), kFileRead), nullptr);
    EXPECT_EQ(m_folder->OpenFile(u"sub/away/new.xml", kFileWrite), nullptr);
    EXPECT_EQ(m_folder->OpenFile(u"../escape.xml", kFileWrite), nullptr);
    EXPECT_FALSE(PathExists(outside.Join("new.xml")));
    {
        Released<FIFile> made(m_folder->OpenFile(u"sub/deeper/new.xml", kFileWrite));
        EXPECT_TRUE(made);
    }
    EXPECT_TRUE(PathExists(m_temp.Join("sub/deeper/new.xml")));
}

// Saving a whole file: a fresh hidden name to write, then one step that
// replaces the destination and keeps its permissions; plain renaming still never replaces.
TEST_F(DiskFolder, TemporaryFilesReplaceTheirDestination)
{
    ASSERT_TRUE(m_temp.WriteFile("photo.jpg", "old"));
    ASSERT_EQ(chmod(m_temp.Join("photo.jpg").c_str(), 0640), 0);
    FWideString first;
    FWideString second;
    Released<FIFile> a(m_folder->CreateTempFile(u".save-", first));
    Released<FIFile> b(m_folder->CreateTempFile(u".save-", second));
    ASSERT_TRUE(a);
    ASSERT_TRUE(b);
    EXPECT_NE(U8(first), U8(second));
    EXPECT_EQ(U8(first).rfind(".save-", 0), 0u);
    a->Write("new", 3);
    a->Flush();
    m_folder->ReplaceFile(first, u"photo.jpg");
    std::string bytes;
    ASSERT_TRUE(m_temp.ReadFile("photo.jpg", bytes));
    EXPECT_EQ(bytes, "new");
    struct stat st;
    ASSERT_EQ(stat(m_temp.Join("photo.jpg").c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 07777, 0640u);
    EXPECT_FALSE(PathExists(m_temp.Join(U8(first))));

    Make("folder.jpg");
    EXPECT_THROW(m_folder->ReplaceFile(second, u"folder.jpg"), FExceptionFileWrite);
    EXPECT_THROW(m_folder->ReplaceFile(u"missing", u"photo.jpg"), FExceptionFileWrite);
    EXPECT_TRUE(PathExists(m_temp.Join(U8(second))));
    ASSERT_TRUE(m_temp.ReadFile("photo.jpg", bytes));
    EXPECT_EQ(bytes, "new");
}

// Names in the folder as the system has them, hidden ones included.
std::vector<std::string> Entries(const std::string& path)
{
    std::vector<std::string> names;
    for (const auto& entry : std::filesystem::directory_iterator(path))
        names.push_back(entry.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
}

TEST_F(DiskFolder, KilledSavesLeaveNothingTheNextSaveKeeps)
{
    // Files of other programs that look nearly like ours are never touched.
    const std::vector<std::string> foreign = {".rbsave-notes.txt", ".rbsave-UPPER.tmp", "x.rbsave-abc.tmp",
                                              "draft.tmp"};
    for (const std::string& name : foreign)
        ASSERT_TRUE(m_temp.WriteFile(name, "keep"));
    ASSERT_TRUE(m_temp.WriteFile("photo.jpg", "old"));

    // A save killed half-way through writing its temporary file.
    const std::string url = URLOf(m_temp.Join("photo.jpg"));
    const pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        FReplacingFile save{W(url)};
        save.GetFile()->Write("half of the new photo", 21);
        raise(SIGKILL);
        _exit(1);
    }
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFSIGNALED(status));
    std::vector<std::string> names = Entries(m_temp.GetPath());
    ASSERT_EQ(names.size(), foreign.size() + 2) << "the killed save left its temporary file";

    {
        // A save in progress keeps its file while the leftover goes; neither is listed.
        FReplacingFile running{W(url)};
        running.GetFile()->Write("new", 3);
        const std::string runningName = U8(running.GetTempName());
        std::vector<FWideString> files;
        m_folder->ListFiles(files);
        std::vector<std::string> expected = foreign;
        expected.push_back("photo.jpg");
        std::sort(expected.begin(), expected.end());
        EXPECT_EQ(U8(files), expected);
        expected.push_back(runningName);
        std::sort(expected.begin(), expected.end());
        EXPECT_EQ(Entries(m_temp.GetPath()), expected);
        running.Commit();
    }
    std::string bytes;
    ASSERT_TRUE(m_temp.ReadFile("photo.jpg", bytes));
    EXPECT_EQ(bytes, "new");

    // Killed again, and this time the next save, without a listing, clears it.
    const pid_t again = fork();
    ASSERT_GE(again, 0);
    if (again == 0) {
        FReplacingFile save{W(url)};
        save.GetFile()->Write("partial", 7);
        raise(SIGKILL);
        _exit(1);
    }
    ASSERT_EQ(waitpid(again, &status, 0), again);
    EXPECT_EQ(Entries(m_temp.GetPath()).size(), foreign.size() + 2);
    {
        FReplacingFile next{W(url)};
        next.GetFile()->Write("newer", 5);
        next.Commit();
    }
    std::vector<std::string> expected = foreign;
    expected.push_back("photo.jpg");
    std::sort(expected.begin(), expected.end());
    EXPECT_EQ(Entries(m_temp.GetPath()), expected);
}

// Quick (rename only) or durable (synced), a new name and a replaced file both end whole,
// with no temporary file left beside them.
TEST_F(DiskFolder, QuickAndDurableCommitsBothPutTheFileInPlace)
{
    ASSERT_TRUE(m_temp.WriteFile("old.jpg", "old"));
    for (const bool durable : {false, true}) {
        for (const std::string name : {"old.jpg", durable ? "new2.jpg" : "new1.jpg"}) {
            SCOPED_TRACE(name + (durable ? " durable" : " quick"));
            FReplacingFile save{W(URLOf(m_temp.Join(name)))};
            save.GetFile()->Write(name.c_str(), static_cast<int>(name.size()));
            save.Commit(durable);
            EXPECT_TRUE(save.IsCommitted());
            std::string bytes;
            ASSERT_TRUE(m_temp.ReadFile(name, bytes));
            EXPECT_EQ(bytes, name);
        }
    }
    EXPECT_EQ(Entries(m_temp.GetPath()), (std::vector<std::string>{"new1.jpg", "new2.jpg", "old.jpg"}));
}

TEST_F(DiskFolder, SavingOverALinkWritesItsTarget)
{
    Make("real");
    ASSERT_TRUE(m_temp.WriteFile("real/photo.jpg", "old"));
    ASSERT_EQ(symlink("real/photo.jpg", m_temp.Join("link.jpg").c_str()), 0);
    ASSERT_EQ(symlink("real/new.jpg", m_temp.Join("ahead.jpg").c_str()), 0);
    const std::vector<std::pair<std::string, std::string>> saves = {{"link.jpg", "real/photo.jpg"},
                                                                    {"ahead.jpg", "real/new.jpg"}};
    for (const auto& [link, target] : saves) {
        FReplacingFile save{W(URLOf(m_temp.Join(link)))};
        save.GetFile()->Write("new", 3);
        save.Commit();
        struct stat st;
        ASSERT_EQ(lstat(m_temp.Join(link).c_str(), &st), 0);
        EXPECT_TRUE(S_ISLNK(st.st_mode)) << link << " was replaced by a file";
        std::string bytes;
        ASSERT_TRUE(m_temp.ReadFile(target, bytes)) << target;
        EXPECT_EQ(bytes, "new") << target;
    }
    EXPECT_EQ(Entries(m_temp.Join("real")), (std::vector<std::string>{"new.jpg", "photo.jpg"}));
}

TEST_F(DiskFolder, HiddenAndReadOnlyAttributes)
{
    Make(".dot");
    Make("plain");
    Released<FIFolder> dot(m_folder->OpenSubFolder(u".dot", false));
    Released<FIFolder> plain(m_folder->OpenSubFolder(u"plain", false));
    int flags = 0x10 | kFileAttrHidden | kFileAttrReadOnly;
    ASSERT_TRUE(plain->GetAttributes(flags));
    EXPECT_EQ(flags, 0x10);
    flags = 0;
    ASSERT_TRUE(dot->GetAttributes(flags));
    EXPECT_EQ(flags, kFileAttrHidden);

    ASSERT_EQ(chmod(m_temp.Join("plain").c_str(), 0555), 0);
    ASSERT_TRUE(plain->GetAttributes(flags));
    EXPECT_EQ(flags & kFileAttrReadOnly, kFileAttrReadOnly);

    Released<FIFolder> gone(m_folder->OpenSubFolder(u"plain", false));
    ASSERT_EQ(chmod(m_temp.Join("plain").c_str(), 0755), 0);
    ASSERT_EQ(rmdir(m_temp.Join("plain").c_str()), 0);
    flags = 0x20;
    EXPECT_FALSE(gone->GetAttributes(flags));
    EXPECT_EQ(flags, 0x20);
}

TEST_F(DiskFolder, WriteTestOfAReadOnlyFolder)
{
    SKIP_IF_ROOT();
    Make("locked");
    ASSERT_EQ(chmod(m_temp.Join("locked").c_str(), 0555), 0);
    Released<FIFolder> locked(m_folder->OpenSubFolder(u"locked", false));
    EXPECT_TRUE(locked->IsReadOnly());
}

TEST_F(DiskFolder, DeleteFileReportsOnlyRealSuccess)
{
    ASSERT_TRUE(m_temp.WriteFile("victim", "x"));
    EXPECT_TRUE(m_folder->DeleteFile(u"victim"));
    EXPECT_FALSE(PathExists(m_temp.Join("victim")));
    // Already missing counts as deleted.
    EXPECT_TRUE(m_folder->DeleteFile(u"victim"));
    // A failure is not reported as success.
    Make("adir");
    EXPECT_FALSE(m_folder->DeleteFile(u"adir"));
    EXPECT_TRUE(PathExists(m_temp.Join("adir")));
}

TEST_F(DiskFolder, DeleteFileRefusedByPermissions)
{
    SKIP_IF_ROOT();
    Make("guarded");
    ASSERT_TRUE(m_temp.WriteFile("guarded/f", "x"));
    ASSERT_EQ(chmod(m_temp.Join("guarded").c_str(), 0555), 0);
    Released<FIFolder> guarded(m_folder->OpenSubFolder(u"guarded", false));
    EXPECT_FALSE(guarded->DeleteFile(u"f"));
    EXPECT_TRUE(PathExists(m_temp.Join("guarded/f")));
}

TEST_F(DiskFolder, RenameNeverReplaces)
{
    ASSERT_TRUE(m_temp.WriteFile("one", "1"));
    ASSERT_TRUE(m_temp.WriteFile("two", "2"));
    m_folder->Rename(u"one", u"two");
    std::string bytes;
    ASSERT_TRUE(m_temp.ReadFile("two", bytes));
    EXPECT_EQ(bytes, "2");
    EXPECT_TRUE(PathExists(m_temp.Join("one")));

    m_folder->Rename(u"one", u"three");
    EXPECT_FALSE(PathExists(m_temp.Join("one")));
    EXPECT_TRUE(PathExists(m_temp.Join("three")));
    Make("d");
    m_folder->Rename(u"d", u"e");
    EXPECT_TRUE(PathExists(m_temp.Join("e")));
    // Names of this folder only.
    m_folder->Rename(u"three", u"e/three");
    EXPECT_TRUE(PathExists(m_temp.Join("three")));
}

TEST_F(DiskFolder, DeleteFolderModes)
{
    Make("tree");
    Make("tree/a");
    Make("tree/a/b");
    ASSERT_TRUE(m_temp.WriteFile("tree/a/b/f", "x"));
    ASSERT_TRUE(m_temp.WriteFile("tree/ro", "x"));
    ASSERT_EQ(chmod(m_temp.Join("tree/ro").c_str(), 0444), 0);
    // A folder without write permission is still emptied.
    ASSERT_EQ(chmod(m_temp.Join("tree/a").c_str(), 0555), 0);
    const FWideString url = W(URLOf(m_temp.Join("tree")));

    m_folder->DeleteFolder(url, 0);
    EXPECT_TRUE(PathExists(m_temp.Join("tree/a/b/f")));
    m_folder->DeleteFolder(url, 2);
    EXPECT_TRUE(PathExists(m_temp.Join("tree/a/b/f")));
    m_folder->DeleteFolder(url, 1);
    EXPECT_FALSE(PathExists(m_temp.Join("tree")));

    Make("empty");
    m_folder->DeleteFolder(W(URLOf(m_temp.Join("empty")) + "/"), 0);
    EXPECT_FALSE(PathExists(m_temp.Join("empty")));
}

TEST_F(DiskFolder, RecursiveDeleteNeverFollowsLinksOutOfItsTree)
{
    FScopedTempFolder outside;
    ASSERT_EQ(mkdir(outside.Join("precious").c_str(), 0755), 0);
    ASSERT_TRUE(outside.WriteFile("precious/keep", "data"));
    ASSERT_TRUE(outside.WriteFile("file", "data"));

    Make("tree");
    Make("tree/inner");
    ASSERT_EQ(symlink(outside.Join("precious").c_str(), m_temp.Join("tree/dirlink").c_str()), 0);
    ASSERT_EQ(symlink(outside.Join("precious").c_str(), m_temp.Join("tree/inner/deeper").c_str()), 0);
    ASSERT_EQ(symlink(outside.Join("file").c_str(), m_temp.Join("tree/filelink").c_str()), 0);

    m_folder->DeleteFolder(W(URLOf(m_temp.Join("tree"))), 1);
    EXPECT_FALSE(PathExists(m_temp.Join("tree")));
    EXPECT_TRUE(PathExists(outside.Join("precious/keep")));
    EXPECT_TRUE(PathExists(outside.Join("file")));

    // A link given as the folder itself is not followed either.
    ASSERT_EQ(symlink(outside.Join("precious").c_str(), m_temp.Join("toplink").c_str()), 0);
    m_folder->DeleteFolder(W(URLOf(m_temp.Join("toplink"))), 1);
    EXPECT_TRUE(PathExists(outside.Join("precious/keep")));
}

TEST_F(DiskFolder, RecursiveDeleteRefusesHomeAndVolumeRoots)
{
    // Everything guarded lies inside this test's own temporary folder.
    Make("outer");
    Make("outer/home");
    Make("outer/home/sub");
    ASSERT_TRUE(m_temp.WriteFile("outer/home/precious", "x"));
    FScopedEnv homeEnv("HOME", m_temp.Join("outer/home"));
    ASSERT_EQ(symlink(m_temp.Join("outer/home").c_str(), m_temp.Join("homelink").c_str()), 0);

    const std::string home = m_temp.Join("outer/home");
    const std::string kAttempts[] = {
        home,                 // the home folder, a volume of its own
        m_temp.Join("outer"), // a folder holding the home folder
        home + "/sub/..",     // the home folder again, by a detour
        m_temp.Join("homelink/sub/.."),
    };
    for (const std::string& attempt : kAttempts) {
        FWideString url;
        ASSERT_TRUE(NativePathToURL(W(attempt), url));
        m_folder->DeleteFolder(url, 1);
        EXPECT_TRUE(PathExists(home + "/precious")) << attempt;
    }
    // The home folder's own URL is the bare volume token.
    FWideString url;
    ASSERT_TRUE(NativePathToURL(W(home), url));
    std::vector<FWideString> parts;
    SplitURL(url, parts);
    EXPECT_EQ(parts.size(), 2u);

    // Below the guarded folders, deleting works as usual.
    m_folder->DeleteFolder(W(URLOf(home + "/sub")), 1);
    EXPECT_FALSE(PathExists(home + "/sub"));
}

} // namespace
