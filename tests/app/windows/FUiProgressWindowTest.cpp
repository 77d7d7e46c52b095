// The progress window's queue against a stand-in bridge whose requests the test ends:
// the counters, the overwrite questions and their answers, cancel, the rotate query,
// the camera transfer mark and the destructor.

#include <gtest/gtest.h>

#include <sys/stat.h>

#include <fstream>
#include <map>
#include <string>
#include <vector>

#include "FCodePage.h"
#include "FImageFileListEntry.h"
#include "FUiProgressWindow.h"
#include "FUiScriptFixture.h"
#include "FakeIpPool.h"
#include "ImageChangeQuery.h"
#include "StorageClassRegistry.h"

namespace
{

// Takes each request into progress; the test then ends it through its status block.
class FStandInBridge : public FUiObject
{
public:
    FStandInBridge() : FUiObject("BRIDGE") {}
    bool UiRelayMessage(const FWideString& message, void* data) override
    {
        if (!(message == "IpRequest"))
            return false;
        current = static_cast<FUiIpObjectRequest*>(data);
        ++sent;
        if (refuse)
            return false;
        current->m_Async.SetState(kInProgress);
        return false;
    }
    void End(int state, double progress = 1.0)
    {
        current->m_Async.SetProgress(progress);
        current->m_Async.SetState(state);
    }

    FUiIpObjectRequest* current = nullptr;
    int sent = 0;
    bool refuse = false;
};

class FEventLog : public FUiObject
{
public:
    FEventLog() : FUiObject("LOG") {}
    bool UiRelayMessage(const FWideString& message, void* data) override
    {
        std::string line = message.GetNarrow();
        if (line == "ON_SET_FILE_X" || line == "ON_SET_FILE_Y" || line == "ON_SET_OVERWRITE_NAME" ||
            line == "ON_SET_MULTI_OVERWRITE_NAME" || line == "ON_DST_IMAGE_NAME")
            line += "=" + Utf8FromWide(*static_cast<FWideString*>(data));
        else if (line == "ON_PROGRESS")
            line += "=" + std::to_string(*static_cast<double*>(data)).substr(0, 4);
        else if (line == "ON_UPDATE_IMAGE")
            line += "=" + Utf8FromWide(static_cast<FImageFileListEntry*>(data)->m_usFileName);
        else if (line == "ON_SET_REPLY")
            replyTo = static_cast<FIUiRelay*>(data);
        if (line != "ON_DO_IMAGE_PROC")
            log.push_back(line);
        return true;
    }
    // The log without the progress lines, joined by ",".
    std::string Events(bool withProgress = false) const
    {
        std::string joined;
        for (const std::string& line : log) {
            if (!withProgress && line.rfind("ON_PROGRESS", 0) == 0)
                continue;
            joined += (joined.empty() ? "" : ",") + line;
        }
        return joined;
    }
    std::vector<std::string> log;
    FIUiRelay* replyTo = nullptr;
};

const char* const kEvents[] = {"ON_IMAGE_IN_QUEUE",
                               "ON_IMAGE_INFO",
                               "ON_NO_IMAGE",
                               "ON_PROGRESS",
                               "ON_IMAGE_QUEUE_EMPTY",
                               "ON_IMAGE_ERROR",
                               "ON_CANCEL",
                               "ON_SHOW_MULTI_OVERWRITE",
                               "ON_SHOW_OVERWRITE",
                               "ON_SET_REPLY",
                               "ON_UPDATE_IMAGE",
                               "ON_SET_FILE_X",
                               "ON_SET_FILE_Y",
                               "ON_SET_MULTI_OVERWRITE_NAME",
                               "ON_SET_OVERWRITE_NAME"};

class ProgressTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        EnsureDiskStorageClass();
        m_window = std::make_unique<FUiProgressWindow>("PROGRESS_WIN_MGR", &m_pool);
        for (const char* event : kEvents)
            m_window->FindEvent(FWideString(event))->AddTarget(FWideString(event), &m_log);
        m_window->FindEvent(FWideString("ON_DO_IMAGE_PROC"))->AddTarget(FWideString("IpRequest"), &m_bridge);
        for (const char* name : {"a.q7f", "b.q7f", "c.q7f"})
            ASSERT_TRUE(m_temp.WriteFile(name, "raw stand-in"));
    }

    std::string Path(const std::string& name) const { return m_temp.Join(name); }
    FWideString Url(const std::string& name) const
    {
        FWideString url;
        NativePathToURL(WideFromUtf8(Path(name)), url);
        return url;
    }
    void Queue(const std::string& source, const std::string& destination, bool secondPass = false)
    {
        FUiIpObjectProcAndSaveReq request;
        request.m_usFileURL = Url(source);
        request.m_usDstURL = Url(destination);
        request.m_bSecondPass = secondPass;
        request.m_nJpegQuality = 9;
        ASSERT_TRUE(m_window->UiRelayMessage(FWideString("ProcAndSave"), &request));
    }
    void Reply(const char* answer)
    {
        FWideString text(answer);
        ASSERT_NE(m_log.replyTo, nullptr);
        m_log.replyTo->UiRelayMessage(FWideString("Reply"), &text);
    }
    // Ends the request in service as the bridge would, writing the file on completion.
    void Complete()
    {
        ASSERT_NE(m_bridge.current, nullptr);
        auto* save = static_cast<FUiIpObjectProcAndSaveReq*>(m_bridge.current);
        FWideString path;
        URLToNativePath(save->m_usDstURL, path);
        std::ofstream(Utf8FromWide(path)) << "converted";
        m_bridge.End(kCompleted);
    }

    FScopedTempFolder m_temp;
    FakeIpPool m_pool;
    FStandInBridge m_bridge;
    FEventLog m_log;
    std::unique_ptr<FUiProgressWindow> m_window;
};

TEST_F(ProgressTest, ABatchOfThreeCountsAndEnds)
{
    m_window->UiRelayMessage(FWideString("StartOfBatch"), nullptr);
    Queue("a.q7f", "a.jpg");
    Queue("b.q7f", "b.jpg");
    Queue("c.q7f", "c.jpg");
    for (int i = 0; i < 3; ++i) {
        m_window->Tick(10);
        m_bridge.current->m_Async.SetProgress(0.5);
        m_window->Tick(10);
        Complete();
        m_window->Tick(10);
    }
    EXPECT_EQ(m_log.Events(),
              "ON_NO_IMAGE,ON_IMAGE_IN_QUEUE,ON_SET_FILE_X=1,ON_SET_FILE_Y=3,"
              "ON_UPDATE_IMAGE=a.jpg,ON_NO_IMAGE,ON_IMAGE_IN_QUEUE,ON_SET_FILE_X=2,ON_SET_FILE_Y=3,"
              "ON_UPDATE_IMAGE=b.jpg,ON_NO_IMAGE,ON_IMAGE_IN_QUEUE,ON_SET_FILE_X=3,ON_SET_FILE_Y=3,"
              "ON_UPDATE_IMAGE=c.jpg,ON_IMAGE_QUEUE_EMPTY,ON_NO_IMAGE");
    // Progress: 0 when taken, 0 when sent, each change while in progress.
    EXPECT_EQ(m_log.log[3], "ON_PROGRESS=0.00");
    EXPECT_NE(std::find(m_log.log.begin(), m_log.log.end(), "ON_PROGRESS=0.50"), m_log.log.end());
    EXPECT_EQ(m_bridge.sent, 3);
    EXPECT_FALSE(m_window->IsBatchRunning());
    EXPECT_EQ(m_window->GetState(), FUiProgressWindow::kIdle);
}

TEST_F(ProgressTest, TheRequestIsCopiedWholeAndAnsweredToTheWindow)
{
    FUiIpObjectProcAndSaveReq request;
    request.m_usFileURL = Url("a.q7f");
    request.m_usDstURL = Url("a.tif");
    request.m_nOutCols = 640;
    request.m_Settings.Exposure = 0.5;
    request.m_usCustomName = FWideString("Warm");
    request.m_anParams[2] = 7;
    request.m_nTiffBits = 16;
    request.m_pReturnRelay = &m_log;
    request.m_nUserData = 42;
    m_window->UiRelayMessage(FWideString("ProcAndSave"), &request);
    // The sender may reuse its record at once.
    request.m_usDstURL = FWideString("changed");
    m_window->Tick(10);
    const FUiIpObjectProcAndSaveReq& sent = m_window->GetSaveRequest();
    ASSERT_EQ(m_bridge.current, static_cast<const FUiIpObjectRequest*>(&sent));
    EXPECT_TRUE(sent.m_usDstURL == Url("a.tif"));
    EXPECT_EQ(sent.m_nOutCols, 640);
    EXPECT_EQ(sent.m_Settings.Exposure, 0.5);
    EXPECT_TRUE(sent.m_usCustomName == FWideString("Warm"));
    EXPECT_EQ(sent.m_anParams[2], 7);
    EXPECT_EQ(sent.m_nTiffBits, 16);
    EXPECT_EQ(sent.m_pReturnRelay, m_window.get());
    EXPECT_EQ(sent.m_nUserData, 0);
    EXPECT_TRUE(sent.m_bProgressReplies);
}

TEST_F(ProgressTest, OverwriteQuestionsAndTheirAnswers)
{
    for (const char* name : {"a.jpg", "b.jpg", "c.jpg"})
        ASSERT_TRUE(m_temp.WriteFile(name, "old"));
    m_window->UiRelayMessage(FWideString("StartOfBatch"), nullptr);
    Queue("a.q7f", "a.jpg");
    Queue("b.q7f", "b.jpg");
    Queue("c.q7f", "c.jpg");
    m_window->Tick(10);
    EXPECT_EQ(m_bridge.sent, 0);
    EXPECT_EQ(m_log.log.back(), "ON_SET_REPLY");
    EXPECT_EQ(m_log.log[m_log.log.size() - 3], "ON_SHOW_MULTI_OVERWRITE");
    EXPECT_EQ(m_log.log[m_log.log.size() - 2], "ON_SET_MULTI_OVERWRITE_NAME=" + Path("a.jpg"));
    m_window->Tick(10);
    EXPECT_EQ(m_bridge.sent, 0) << "waits for the answer";

    // "OverWriteAll" converts this and the rest of the batch without asking again.
    Reply("OverWriteAll");
    for (int i = 0; i < 3; ++i) {
        m_window->Tick(10);
        Complete();
    }
    m_window->Tick(10);
    EXPECT_EQ(m_bridge.sent, 3);
    EXPECT_FALSE(m_window->IsBatchRunning());

    // The next batch asks again; its last request asks the single question, with the name.
    m_log.log.clear();
    m_window->UiRelayMessage(FWideString("StartOfBatch"), nullptr);
    Queue("a.q7f", "a.jpg");
    m_window->Tick(10);
    EXPECT_EQ(m_log.Events(),
              "ON_NO_IMAGE,ON_IMAGE_IN_QUEUE,ON_SET_FILE_X=1,ON_SET_FILE_Y=1,ON_SHOW_OVERWRITE,"
              "ON_SET_OVERWRITE_NAME=" +
                  Path("a.jpg") + ",ON_SET_REPLY");
    Reply("OverWrite");
    m_window->Tick(10);
    EXPECT_EQ(m_bridge.sent, 4);

    // A request whose overwrite was already confirmed is not asked about.
    Complete();
    m_window->Tick(10);
    Queue("b.q7f", "b.jpg", true);
    m_window->Tick(10);
    EXPECT_EQ(m_bridge.sent, 5);
}

TEST_F(ProgressTest, DecliningSkipsAndCancelDropsTheRest)
{
    ASSERT_TRUE(m_temp.WriteFile("a.jpg", "old"));
    ASSERT_EQ(mkdir(Path("folder.jpg").c_str(), 0700), 0);
    m_window->UiRelayMessage(FWideString("StartOfBatch"), nullptr);
    Queue("a.q7f", "folder.jpg"); // a folder: skipped without a question
    Queue("a.q7f", "a.jpg");
    Queue("b.q7f", "b.jpg");
    Queue("c.q7f", "c.jpg");
    m_window->Tick(10);
    EXPECT_EQ(m_log.log.back(), "ON_SET_REPLY");
    Reply("Cancel");
    m_window->Tick(10);
    m_window->Tick(10);
    EXPECT_EQ(m_bridge.sent, 0);
    EXPECT_EQ(m_window->GetWaitingCount(), 0);
    EXPECT_FALSE(m_window->IsBatchRunning());
    EXPECT_NE(m_log.Events().find("ON_IMAGE_QUEUE_EMPTY"), std::string::npos);
    std::string old;
    ASSERT_TRUE(m_temp.ReadFile("a.jpg", old));
    EXPECT_EQ(old, "old");

    // "No" (any other answer) skips only that request.
    m_window->UiRelayMessage(FWideString("StartOfBatch"), nullptr);
    Queue("a.q7f", "a.jpg");
    Queue("b.q7f", "b.jpg");
    m_window->Tick(10);
    Reply("No");
    m_window->Tick(10);
    EXPECT_EQ(m_bridge.sent, 1);
}

TEST_F(ProgressTest, OKCancelDuringAConversionCancelsOnceAndKeepsAnOldFile)
{
    for (bool existed : {false, true}) {
        SCOPED_TRACE(existed);
        std::remove(Path("a.jpg").c_str());
        if (existed) {
            ASSERT_TRUE(m_temp.WriteFile("a.jpg", "old"));
        }
        m_log.log.clear();
        m_window->UiRelayMessage(FWideString("StartOfBatch"), nullptr);
        Queue("a.q7f", "a.jpg", existed);
        Queue("b.q7f", "b.jpg");
        m_window->Tick(10);
        ASSERT_TRUE(m_bridge.current->m_Async.IsInProgress());
        if (!existed) {
            ASSERT_TRUE(m_temp.WriteFile("a.jpg", "partial")); // a writer that left something
        }
        m_window->UiRelayMessage(FWideString("OKCancel"), nullptr);
        EXPECT_EQ(m_log.log.back(), "ON_CANCEL");
        m_window->Tick(10);
        m_window->Tick(10);
        EXPECT_TRUE(m_bridge.current->m_Async.IsCancelRequested());
        EXPECT_EQ(m_window->GetState(), FUiProgressWindow::kCancelling) << "waits for the bridge";
        m_bridge.End(kCancelled, 0.3);
        m_window->Tick(10);
        EXPECT_EQ(m_window->GetState(), FUiProgressWindow::kIdle);
        EXPECT_FALSE(m_window->IsBatchRunning());
        EXPECT_EQ(m_log.Events().substr(m_log.Events().size() - 32), "ON_IMAGE_QUEUE_EMPTY,ON_NO_IMAGE");
        std::string left;
        EXPECT_EQ(m_temp.ReadFile("a.jpg", left), existed);
        if (existed) {
            EXPECT_EQ(left, "old");
        }
    }
    EXPECT_EQ(m_bridge.sent, 2) << "b.q7f was dropped both times";

    // With no batch running, OKCancel only hides the window (none here) and changes nothing.
    m_log.log.clear();
    EXPECT_TRUE(m_window->UiRelayMessage(FWideString("OKCancel"), nullptr));
    EXPECT_EQ(m_log.Events(), "");
}

TEST_F(ProgressTest, ErrorsAndUnreadableImagesLetTheBatchGoOn)
{
    m_window->UiRelayMessage(FWideString("StartOfBatch"), nullptr);
    Queue("missing.q7f", "m.jpg");
    Queue("a.q7f", "a.jpg");
    Queue("b.q7f", "b.jpg");
    m_window->Tick(10); // missing: error, then a.q7f is sent
    EXPECT_EQ(m_bridge.sent, 1);
    m_bridge.End(kError);
    m_bridge.refuse = true; // nobody takes b.q7f out of its first state
    m_window->Tick(10);
    EXPECT_EQ(m_bridge.sent, 2);
    std::string events = m_log.Events();
    size_t errors = 0;
    for (size_t at = events.find("ON_IMAGE_ERROR"); at != std::string::npos;
         at = events.find("ON_IMAGE_ERROR", at + 1))
        ++errors;
    EXPECT_EQ(errors, 3u);
    EXPECT_FALSE(m_window->IsBatchRunning());
    EXPECT_EQ(events.find("ON_UPDATE_IMAGE"), std::string::npos);
}

// The window shows the name of the file being written, as the user typed or the camera
// gave it: a save's output name, a copy's name, unescaped; an unreadable image is named too.
TEST_F(ProgressTest, EachRequestTakenNamesTheFileItWrites)
{
    m_window->FindEvent(FWideString("ON_DST_IMAGE_NAME"))
        ->AddTarget(FWideString("ON_DST_IMAGE_NAME"), &m_log);
    m_window->UiRelayMessage(FWideString("StartOfBatch"), nullptr);
    Queue("a.q7f", "My trip 100% é.jpg");
    FUiIpObjectCopyReq copy;
    copy.m_usFileURL = Url("b.q7f");
    copy.m_usDstURL = Url("IMG #2.q7f");
    m_window->UiRelayMessage(FWideString("CopyFile"), &copy);
    Queue("missing.q7f", "gone.tif");
    m_window->Tick(10);
    Complete();
    m_window->Tick(10);
    m_bridge.End(kCompleted);
    m_window->Tick(10);
    std::vector<std::string> names;
    for (const std::string& line : m_log.log) {
        if (line.rfind("ON_DST_IMAGE_NAME=", 0) == 0)
            names.push_back(line.substr(18));
    }
    EXPECT_EQ(names, (std::vector<std::string>{"My trip 100% é.jpg", "IMG #2.q7f", "gone.tif"}));
}

TEST_F(ProgressTest, RotationIsRefusedOnlyForImagesWaitingToBeSaved)
{
    FUiIpObjectCopyReq copy;
    copy.m_usFileURL = Url("c.q7f");
    copy.m_usDstURL = Url("copy.q7f");
    m_window->UiRelayMessage(FWideString("CopyFile"), &copy);
    Queue("a.q7f", "a.jpg");
    Queue("b.q7f", "b.jpg");
    struct Case {
        FWideString url;
        bool allowed;
    };
    const Case cases[] = {{Url("a.q7f"), false}, {Url("b.q7f"), false}, {Url("c.q7f"), true}};
    for (const Case& c : cases) {
        ImageChangeQuery query{c.url, true};
        m_window->UiRelayMessage(FWideString("IsRotateAllowed"), &query);
        EXPECT_EQ(query.m_bAllowed, c.allowed) << c.url.GetNarrow();
    }
    // The one under way counts too; the name is compared without case.
    m_window->Tick(10); // the copy
    m_bridge.End(kCompleted);
    m_window->Tick(10); // a.q7f
    ImageChangeQuery query{Url("a.q7f"), true};
    m_window->UiRelayMessage(FWideString("IsRotateAllowed"), &query);
    EXPECT_FALSE(query.m_bAllowed);
}

TEST_F(ProgressTest, TheDestructorCancelsAndDoesNotHangOnADeafBridge)
{
    Queue("a.q7f", "a.jpg");
    m_window->Tick(10);
    ASSERT_TRUE(m_bridge.current->m_Async.IsInProgress());
    // The request lives in the window: the bridge must let go of it before the window goes.
    m_window.reset();
    m_bridge.current = nullptr;
}

} // namespace
