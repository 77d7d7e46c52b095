#include "FException.h"
#include "FSCDiskWin.h"
#include "FScopedTempFolder.h"
#include "StorageClassRegistry.h"
#include "StorageTestSupport.h"

#include <mutex>
#include <sys/stat.h>
#include <unistd.h>

namespace
{

bool IsFolder(const std::string& path)
{
    struct stat st;
    return stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

bool PathExists(const std::string& path)
{
    struct stat st;
    return lstat(path.c_str(), &st) == 0;
}

// Every desktop location points into a temporary home; launches are recorded.
class DiskDesktop : public ::testing::Test
{
protected:
    void SetUp() override
    {
        EnsureDiskRegistered();
        ASSERT_EQ(mkdir(m_home.Join("tmp").c_str(), 0700), 0);
        SetDiskLauncher([this](const FLaunchRequest& request) {
            std::lock_guard lock(m_lock);
            m_requests.push_back(request);
            return m_iResult;
        });
    }
    void TearDown() override { SetDiskLauncher(FDiskLauncher()); }

    std::string Native(const FWideString& url)
    {
        FWideString native;
        EXPECT_TRUE(URLToNativePath(url, native)) << U8(url);
        return U8(native);
    }
    std::string URLOf(const std::string& native)
    {
        FWideString url;
        EXPECT_TRUE(NativePathToURL(W(native), url));
        return U8(url);
    }

    FScopedTempFolder m_home;
    FScopedTempFolder m_files; // made before TMPDIR points into the home
    FScopedEnv m_homeEnv{"HOME", m_home.GetPath()};
    FScopedEnv m_configEnv{"XDG_CONFIG_HOME", m_home.Join("cfg")};
    FScopedEnv m_dataEnv{"XDG_DATA_HOME", m_home.Join("data")};
    FScopedEnv m_tmpEnv{"TMPDIR", m_home.Join("tmp")};
    FSCDiskWin m_disk{u"disk"};

    std::mutex m_lock;
    std::vector<FLaunchRequest> m_requests;
    int m_iResult = 0;
};

TEST_F(DiskDesktop, SpecialPaths)
{
    ASSERT_EQ(mkdir(m_home.Join("cfg").c_str(), 0700), 0);
    ASSERT_TRUE(m_home.WriteFile("cfg/user-dirs.dirs",
                                 "# written by a test\nXDG_DESKTOP_DIR=\"$HOME/Schreibtisch\"\n"));

    char exe[4096] = {};
    ASSERT_GT(readlink("/proc/self/exe", exe, sizeof exe - 1), 0);
    std::string exeFolder = exe;
    exeFolder.resize(exeFolder.find_last_of('/'));

    struct Case {
        int kind;
        std::string native;
    };
    const Case kCases[] = {
        {kSpecialPathExeFolder, exeFolder},
        {kSpecialPathAppData, m_home.Join("cfg/Rawbench")},
        {kSpecialPathTemp, m_home.Join("tmp")},
        {kSpecialPathDesktop, m_home.Join("Schreibtisch")},
        {kSpecialPathPrograms, m_home.Join("data/applications")},
        {kSpecialPathStartup, m_home.Join("cfg/autostart")},
        {kSpecialPathDocuments, m_home.Join("Documents")},
    };
    for (const Case& c : kCases) {
        // Asking without making the folder names the same place and leaves the disk as it was.
        const bool existed = IsFolder(c.native);
        FWideString asked;
        ASSERT_TRUE(m_disk.GetSpecialPath(c.kind | kSpecialPathNoCreate, asked)) << c.kind;
        EXPECT_EQ(Native(asked), c.native) << c.kind;
        EXPECT_EQ(IsFolder(c.native), existed) << c.native;
        FWideString url;
        ASSERT_TRUE(m_disk.GetSpecialPath(c.kind, url)) << c.kind;
        std::string text = U8(url);
        EXPECT_EQ(text.rfind("disk://", 0), 0u) << text;
        EXPECT_EQ(text.back(), '/') << text;
        EXPECT_EQ(Native(url), c.native) << c.kind;
        EXPECT_TRUE(IsFolder(c.native)) << c.native;
    }
    for (int kind : {kSpecialPathSystemRoot, 7, -1, 9}) {
        FWideString url{u"untouched"};
        EXPECT_FALSE(m_disk.GetSpecialPath(kind, url)) << kind;
    }
}

TEST_F(DiskDesktop, LaunchPicksTheOpener)
{
    ASSERT_TRUE(m_files.WriteFile("photo #1.jpg", "jpeg"));
    ASSERT_TRUE(m_files.WriteFile("help.URL", "[InternetShortcut]\r\nURL=https://example.invalid/help\r\n"));
    ASSERT_TRUE(m_files.WriteFile("tool", "#!/bin/sh\nexit 0\n"));
    ASSERT_EQ(chmod(m_files.Join("tool").c_str(), 0755), 0);
    // Media mounted with every file executable still open in their viewer.
    ASSERT_TRUE(m_files.WriteFile("exec.jpg", "jpeg"));
    ASSERT_EQ(chmod(m_files.Join("exec.jpg").c_str(), 0755), 0);

    LaunchFileURL(W(URLOf(m_files.Join("photo #1.jpg"))), u"");
    LaunchFileURL(W(URLOf(m_files.Join("help.URL"))), nullptr);
    LaunchFileURL(W(URLOf(m_files.Join("tool"))), u"-a \"b c\"");
    LaunchFileURL(W(URLOf(m_files.Join("exec.jpg"))), u"");

    ASSERT_EQ(m_requests.size(), 4u);
    EXPECT_EQ(m_requests[0].m_argv, (std::vector<std::string>{"xdg-open", m_files.Join("photo #1.jpg")}));
    EXPECT_TRUE(m_requests[0].m_bWaitForResult);
    EXPECT_EQ(m_requests[1].m_argv, (std::vector<std::string>{"xdg-open", "https://example.invalid/help"}));
    EXPECT_EQ(m_requests[2].m_argv, (std::vector<std::string>{m_files.Join("tool"), "-a", "b c"}));
    EXPECT_FALSE(m_requests[2].m_bWaitForResult);
    EXPECT_EQ(m_requests[2].m_workingFolder, m_files.GetPath());
    EXPECT_EQ(m_requests[3].m_argv, (std::vector<std::string>{"xdg-open", m_files.Join("exec.jpg")}));
}

TEST_F(DiskDesktop, LaunchFailures)
{
    ASSERT_TRUE(m_files.WriteFile("doc.pdf", "x"));
    const FWideString url = W(URLOf(m_files.Join("doc.pdf")));

    try {
        LaunchFileURL(W(URLOf(m_files.Join("missing.pdf"))), u"");
        ADD_FAILURE() << "no exception";
    } catch (const FExceptionFileNotFound& e) {
        EXPECT_EQ(std::string(e.GetMessage()), "FSCDiskWin::Launch: '" + m_files.Join("missing.pdf") + "'");
    }
    EXPECT_THROW(LaunchFileURL(W(URLOf(m_files.GetPath()) + "/"), u""), FExceptionFileIO);
    EXPECT_TRUE(m_requests.empty());

    struct Case {
        int result;
        int kind; // 0 none, 1 not found, 2 launch failed, 3 other I/O
    };
    const Case kCases[] = {{0, 0}, {2, 1}, {3, 2}, {4, 2}, {1, 3}, {-1, 3}, {127, 3}};
    for (const Case& c : kCases) {
        m_iResult = c.result;
        int kind = 0;
        try {
            LaunchFileURL(url, u"");
        } catch (const FExceptionFileNotFound&) {
            kind = 1;
        } catch (const FExceptionLaunchFailed&) {
            kind = 2;
        } catch (const FExceptionFileIO&) {
            kind = 3;
        }
        EXPECT_EQ(kind, c.kind) << c.result;
    }
}

// "[Trash Info]", the escaped path and a local date of the form YYYY-MM-DDThh:mm:ss.
bool IsTrashInfo(const std::string& text, const std::string& escapedPath)
{
    const std::string head = "[Trash Info]\nPath=" + escapedPath + "\nDeletionDate=";
    const std::string dateForm = "dddd-dd-ddTdd:dd:dd";
    if (text.size() != head.size() + dateForm.size() + 1 || text.compare(0, head.size(), head) != 0 ||
        text.back() != '\n')
        return false;
    for (size_t i = 0; i < dateForm.size(); ++i) {
        char c = text[head.size() + i];
        if (dateForm[i] == 'd' ? (c < '0' || c > '9') : c != dateForm[i])
            return false;
    }
    return true;
}

TEST_F(DiskDesktop, TrashFollowsTheFreedesktopLayout)
{
    const std::string trash = m_home.Join("data/Trash");
    ASSERT_TRUE(m_files.WriteFile("a b#1.jpg", "first"));
    MoveToTrashURL(W(URLOf(m_files.Join("a b#1.jpg"))));
    EXPECT_FALSE(PathExists(m_files.Join("a b#1.jpg")));

    auto read = [](const std::string& path) {
        std::string text;
        FILE* f = fopen(path.c_str(), "rb");
        if (!f)
            return std::string("<missing>");
        char buffer[4096];
        size_t got;
        while ((got = fread(buffer, 1, sizeof buffer, f)) > 0)
            text.append(buffer, got);
        fclose(f);
        return text;
    };
    EXPECT_EQ(read(trash + "/files/a b#1.jpg"), "first");
    EXPECT_TRUE(IsTrashInfo(read(trash + "/info/a b#1.jpg.trashinfo"), m_files.Join("a%20b%231.jpg")))
        << read(trash + "/info/a b#1.jpg.trashinfo");

    // The same name again gets a name of its own; nothing is overwritten.
    ASSERT_TRUE(m_files.WriteFile("a b#1.jpg", "second"));
    MoveToTrashURL(W(URLOf(m_files.Join("a b#1.jpg"))));
    EXPECT_EQ(read(trash + "/files/a b#1.jpg"), "first");
    EXPECT_EQ(read(trash + "/files/a b#1.jpg.2"), "second");
    EXPECT_NE(read(trash + "/info/a b#1.jpg.2.trashinfo"), "<missing>");

    // Folders go to the trash whole.
    ASSERT_EQ(mkdir(m_files.Join("album").c_str(), 0755), 0);
    ASSERT_TRUE(m_files.WriteFile("album/p", "x"));
    MoveToTrashURL(W(URLOf(m_files.Join("album"))));
    EXPECT_EQ(read(trash + "/files/album/p"), "x");
}

TEST_F(DiskDesktop, TrashFailuresNeverDeleteSilently)
{
    try {
        MoveToTrashURL(W(URLOf(m_files.Join("missing"))));
        ADD_FAILURE() << "no exception";
    } catch (const FExceptionFileIO& e) {
        EXPECT_EQ(std::string(e.GetMessage()), "FSCDiskWin::MoveToTrash: '" + m_files.Join("missing") + "'");
    }

    // A trash that cannot be used leaves the file where it was.
    ASSERT_EQ(mkdir(m_home.Join("data").c_str(), 0700), 0);
    ASSERT_EQ(mkdir(m_home.Join("data/Trash").c_str(), 0700), 0);
    ASSERT_TRUE(m_home.WriteFile("data/Trash/files", "not a folder"));
    ASSERT_TRUE(m_files.WriteFile("keep", "x"));
    EXPECT_THROW(MoveToTrashURL(W(URLOf(m_files.Join("keep")))), FExceptionFileIO);
    EXPECT_TRUE(PathExists(m_files.Join("keep")));
}

} // namespace
