// The folder chooser: choosing, the new-folder notices one tick later, the write test on
// the parent folder, and the three ways the choice goes back.

#include <gtest/gtest.h>

#include <sys/stat.h>

#include <string>
#include <vector>

#include "FCodePage.h"
#include "FUiDirectoryWindow.h"
#include "FUiScriptFixture.h"
#include "FakeIpPool.h"
#include "StorageClassRegistry.h"

namespace
{

class FChooserLog : public FUiObject
{
public:
    FChooserLog() : FUiObject("LOG") {}
    bool UiRelayMessage(const FWideString& message, void* data) override
    {
        std::string line = message.GetNarrow();
        if (line.rfind("ON_ENABLE", 0) == 0)
            line += *static_cast<bool*>(data) ? "=1" : "=0";
        else if (data && line != "ON_SHOW_NEW_FOLDER" && line != "ON_SET_NEW_FOLDER_REPLY")
            line += "=" + Utf8FromWide(*static_cast<FWideString*>(data));
        log.push_back(line);
        return true;
    }
    std::string Joined() const
    {
        std::string joined;
        for (const std::string& line : log)
            joined += (joined.empty() ? "" : ",") + line;
        return joined;
    }
    std::vector<std::string> log;
};

const char* const kEvents[] = {
    "ON_SEND_DIRECTORY",        "ON_SEND_DIRECTORY_URL",  "ON_SEND_URL",
    "ON_ENABLE_NEW_FOLDER",     "ON_ENABLE_OK_BUTTON",    "ON_SHOW_NEW_FOLDER",
    "ON_SET_NEW_FOLDER_REPLY",  "ON_SEND_NEW_FOLDER",     "ON_SEND_DIRTREE_REFRESH",
    "ON_SHOW_FOLDER_EXISTS",    "ON_SHOW_INVALID_FOLDER", "ON_SEND_NEW_FOLDER_PATH",
    "ON_SEND_INVALID_READ_ONLY"};

class ChooserTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        EnsureDiskStorageClass();
        static bool registered = [] {
            FWideString path;
            RegisterStorageClass(FWideString("rodir"),
                                 new FReadOnlyFolderStorageClass(
                                     FWideString("rodir"), FindStorageClass(FWideString("disk"), path)));
            return true;
        }();
        (void)registered;
        for (const char* event : kEvents)
            m_chooser.FindEvent(FWideString(event))->AddTarget(FWideString(event), &m_log);
        ASSERT_EQ(mkdir(m_temp.Join("exists").c_str(), 0700), 0);
    }
    FWideString Url() const
    {
        FWideString url;
        NativePathToURL(WideFromUtf8(m_temp.GetPath()), url);
        return url;
    }
    void Create(const FWideString& in, const char16_t* name)
    {
        FWideString folder(in), typed(name);
        m_chooser.UiRelayMessage(FWideString("DirSelected"), &folder);
        m_chooser.UiRelayMessage(FWideString("NewFolderName"), &typed);
        m_log.log.clear();
        m_chooser.UiRelayMessage(FWideString("CreateNewFolder"), nullptr);
    }

    FScopedTempFolder m_temp;
    FUiDirectoryWindow m_chooser{"DIRECTORY_WIN_MGR"};
    FChooserLog m_log;
};

TEST_F(ChooserTest, ChoosingAFolderEnablesTheButtons)
{
    m_chooser.UiRelayMessage(FWideString("Post Creation Initialization"), nullptr);
    FWideString empty, url = Url();
    m_chooser.UiRelayMessage(FWideString("DirSelected"), &empty);
    EXPECT_EQ(m_log.Joined(), "ON_ENABLE_NEW_FOLDER=0,ON_ENABLE_OK_BUTTON=0");
    m_log.log.clear();
    m_chooser.UiRelayMessage(FWideString("DirSelected"), &url);
    EXPECT_EQ(m_log.Joined(), "ON_SEND_DIRECTORY=" + m_temp.GetPath() + ",ON_SEND_URL=" + Utf8FromWide(url) +
                                  ",ON_ENABLE_NEW_FOLDER=1,ON_ENABLE_OK_BUTTON=1");
    EXPECT_FALSE(m_chooser.UiRelayMessage(FWideString("DirSelected"), nullptr));
}

TEST_F(ChooserTest, NewFolderNoticesComeOneTickLater)
{
    struct Case {
        const char* what;
        FWideString folder;
        const char16_t* name;
        const char* notice;
    };
    FWideString readOnly(u"rodir://");
    readOnly += Url().Find(u"://") + 3;
    FWideString gone = Url();
    gone += "/gone";
    const Case cases[] = {
        {"a name that exists", Url(), u"exists", "ON_SHOW_FOLDER_EXISTS"},
        {"a slash", Url(), u"a/b", "ON_SHOW_INVALID_FOLDER"},
        {"a parent", Url(), u"..", "ON_SHOW_INVALID_FOLDER"},
        {"a parent folder that refuses writes", readOnly, u"new", "ON_SEND_INVALID_READ_ONLY"},
        {"a parent that vanished", gone, u"new", "ON_SEND_INVALID_READ_ONLY"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        Create(c.folder, c.name);
        EXPECT_EQ(m_log.Joined(), "");
        m_chooser.Tick(10);
        EXPECT_EQ(m_log.Joined(), c.notice);
        m_chooser.Tick(10);
        EXPECT_EQ(m_log.log.size(), 1u) << "one notice, once";
        EXPECT_TRUE(m_chooser.GetURL() == c.folder);
    }
    struct stat st;
    EXPECT_NE(stat(m_temp.Join("gone").c_str(), &st), 0);
}

TEST_F(ChooserTest, ANewFolderIsMadeAndChosen)
{
    Create(Url(), u"Sorted & \"kept\"");
    const std::string path = m_temp.Join("Sorted & \"kept\"");
    struct stat st;
    ASSERT_EQ(stat(path.c_str(), &st), 0);
    EXPECT_TRUE(S_ISDIR(st.st_mode));
    const std::string url = Utf8FromWide(m_chooser.GetURL());
    EXPECT_EQ(m_log.Joined(), "ON_SEND_NEW_FOLDER=" + url + ",ON_SEND_DIRTREE_REFRESH,ON_SEND_DIRECTORY=" +
                                  path + ",ON_SEND_DIRECTORY_URL=" + url);
    m_chooser.Tick(10);
    EXPECT_EQ(m_log.log.size(), 4u);
}

TEST_F(ChooserTest, TheChoiceGoesBackThreeWays)
{
    FWideString native = WideFromUtf8(m_temp.GetPath());
    m_chooser.UiRelayMessage(FWideString("InitDirNative"), &native);
    EXPECT_TRUE(m_chooser.GetURL() == Url());
    FChooserLog requester;
    m_chooser.UiRelayMessage(FWideString("OKPressed"), nullptr); // no requester yet
    m_chooser.UiRelayMessage(FWideString("SendingRelay"), &requester);
    m_chooser.UiRelayMessage(FWideString("OKPressed"), nullptr);
    EXPECT_EQ(requester.Joined(), "DirectoryChanged=" + Utf8FromWide(Url()));

    // Reply targets are looked up through the application; without one they stay unset.
    FWideString target(u"Nobody"), reply(u"Chosen");
    m_chooser.UiRelayMessage(FWideString("SetNativeReplyTarget"), &target);
    m_chooser.UiRelayMessage(FWideString("SetNativeReplyMessage"), &reply);
    EXPECT_TRUE(m_chooser.UiRelayMessage(FWideString("SendNativeReply"), nullptr));
    EXPECT_TRUE(m_chooser.UiRelayMessage(FWideString("SendURLReply"), nullptr));
    EXPECT_EQ(requester.log.size(), 1u);
}

} // namespace
