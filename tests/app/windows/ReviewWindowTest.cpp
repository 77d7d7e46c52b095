// The review window against a planned fake pool behind two real bridges (one for the
// preview, one for everything else), wired as the script wires them.

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "FDebugTrace.h"
#include "FIPMImage.h"
#include "FIUiRelay.h"
#include "FImageFileListEntry.h"
#include "FMemStorageClass.h"
#include "FPropList.h"
#include "FUiImageView.h"
#include "FUiIpObject.h"
#include "FUiReviewWindow.h"
#include "FakeIpPool.h"
#include "RawTestFolder.h"
#include "StorageClassRegistry.h"

namespace
{

class TestImage : public FIPMImage
{
public:
    FPixmap* GetPixmap() override { return nullptr; }
    FPropList* GetProperties() override { return nullptr; }
    void SetProperties(FPropList* list) override { delete list; }
    FIHistogram* GetHistogramPtr() override { return m_pHistogram.get(); }
    FIHistogram* GetHistogram() override
    {
        if (!m_pHistogram)
            m_pHistogram = std::make_unique<FIHistogram>();
        return m_pHistogram.get();
    }
    uint32_t AddRef() override { return ++m_uCount; }
    uint32_t Release() override
    {
        const uint32_t left = --m_uCount;
        if (left == 0)
            delete this;
        return left;
    }

private:
    uint32_t m_uCount = 1;
    std::unique_ptr<FIHistogram> m_pHistogram;
};

const char* const kBoolEvents[] = {"ON_IMAGE_MARKED_STATE",
                                   "ON_IMAGE_LOCKED_STATE",
                                   "ON_CHECK_MENU_DEFAULT",
                                   "ON_CHECK_MENU_AUTO",
                                   "ON_CHECK_MENU_CUSTOM",
                                   "ON_LOUPE_ENABLED",
                                   "ON_GOT_WHITE_BALS",
                                   "ON_ALLOW_SAVE_Q7F_SETTINGS",
                                   "ON_BRISAL_IMAGE",
                                   "ON_LOCKED_IMAGE",
                                   "ON_CAN_ROTATE",
                                   "ON_CAN_MARK",
                                   "ON_GRAY_BALANCE_ENABLED",
                                   "ON_DIRECTORY_READ_ONLY",
                                   "ON_DIRECTORY_NOT_READ_ONLY"};
const char* const kDoubleEvents[] = {"ON_TELL_SLIDER", "ON_SELECT_CUSTOM"};
const char* const kTextEvents[] = {"ON_LOUPE_MAG_CHANGE", "ON_SET_FILE_X",
                                   "ON_SET_FILE_Y",       "ON_NEW_WINDOW_TITLE_POSTFIX",
                                   "ON_DELETING_IMAGE",   "ON_SET_WHITEBAL_NAME"};

bool In(const std::string& name, const char* const* list, size_t count)
{
    return std::any_of(list, list + count, [&](const char* item) { return name == item; });
}

// Receives every event of the window as a message of the event's name and writes it down
// as "NAME" or "NAME=value"; answers the query events through `answer`.
class EventLog : public FIUiRelay
{
public:
    bool InitRelay(FPropList*) override { return true; }
    void GetName(FWideString& name) override { name = FWideString("LOG"); }
    void GetFullName(FWideString& name) override { name = FWideString("LOG"); }
    bool ConnectRelays() override { return true; }
    FIUiRelay* GetUiRelay(const FWideString&) override { return nullptr; }
    bool AddEventTarget(const FWideString&, const FWideString&, FIUiRelay*) override { return false; }
    bool UiRelayMessage(const FWideString& message, void* data) override
    {
        const std::string name = message.GetNarrow();
        std::string line = name;
        if (data && In(name, kBoolEvents, std::size(kBoolEvents)))
            line += *static_cast<bool*>(data) ? "=1" : "=0";
        else if (data && In(name, kDoubleEvents, std::size(kDoubleEvents)))
            line += "=" + std::to_string(*static_cast<double*>(data)).substr(0, 4);
        else if (data && In(name, kTextEvents, std::size(kTextEvents)))
            line += "=" + std::string(static_cast<FWideString*>(data)->GetNarrow());
        lines.push_back(line);
        if (name == "ON_SEND_CUSTOM" || name == "ON_SAVE_SETTINGS" || name == "ON_SET_DEFAULT_SETTINGS")
            lastSettings = *static_cast<ProcessingSettings*>(data);
        if (name == "ON_DISPLAY_LOUPE_IMAGE")
            loupe = *static_cast<FLoupeImageMessage*>(data);
        if (name == "ON_GRAY_BAL")
            std::copy_n(static_cast<double*>(data), 3, gray);
        if (answer)
            answer(name, data);
        return true;
    }
    int Count(const std::string& line) const
    {
        return static_cast<int>(std::count(lines.begin(), lines.end(), line));
    }
    bool Has(const std::string& line) const { return Count(line) > 0; }
    // The lines among `wanted`, in the order they came.
    std::vector<std::string> Only(const std::vector<std::string>& wanted) const
    {
        std::vector<std::string> out;
        for (const std::string& line : lines)
            if (std::find(wanted.begin(), wanted.end(), line.substr(0, line.find('='))) != wanted.end())
                out.push_back(line);
        return out;
    }

    std::vector<std::string> lines;
    ProcessingSettings lastSettings;
    FLoupeImageMessage loupe;
    double gray[3] = {};
    std::function<void(const std::string&, void*)> answer;
};

FFakeIpPlan WithImage(int idles)
{
    return FFakeIpPlan::After(idles).Filling([](FIPManagerRequest& r) {
        r.ReleaseOutputImage();
        r.m_pOutputImage = new TestImage();
    });
}

class ReviewWindowTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        m_pool.SetPlan(kReqProperties, FFakeIpPlan().Filling([this](FIPManagerRequest& r) {
            for (const auto& [name, value] : m_props)
                r.m_pImageProps->AddProp(name.c_str(), value.c_str());
        }));
        m_pool.SetPlan(kReqPreview, WithImage(1));
        m_pool.SetPlan(kReqIlluminants, FFakeIpPlan::After(1).Filling([](FIPManagerRequest& r) {
            for (const char* name : {"Daylight", "Tungsten", "Auto", "Monochrome"})
                r.m_pImageProps->AddProp(name, "1");
        }));
        m_pool.SetPlan(kReqAutoSet, FFakeIpPlan::After(1).Filling([](FIPManagerRequest& r) {
            r.m_dExposure = 0.5;
            r.m_adColorAdjust[0] = r.m_adColorAdjust[1] = r.m_adColorAdjust[2] = 1.0;
        }));
        m_pool.SetPlan(kReqProcessed, WithImage(2));
        m_pool.SetPlan(kReqGetGrayBalance, FFakeIpPlan::After(1).Filling([](FIPManagerRequest& r) {
            r.m_adColorAdjust[0] = 1.25;
            r.m_adColorAdjust[1] = 1.0;
            r.m_adColorAdjust[2] = 0.75;
        }));
        for (RelayEvent* event = m_window->GetFirstEvent(); event; event = event->GetNext())
            event->AddTarget(event->GetName(), &m_log);
        m_window->FindEvent(FWideString("ON_GET_PREVIEW"))
            ->AddTarget(FWideString("IpRequest"), m_preview.get());
        m_window->FindEvent(FWideString("ON_GET_IMAGE"))->AddTarget(FWideString("IpRequest"), m_engine.get());
        m_log.answer = [this](const std::string& name, void* data) { Answer(name, data); };
    }

    // The list's part: positions and neighbours of the files in m_files.
    void Answer(const std::string& name, void* data)
    {
        if (name == "ON_GET_IMAGE_LIST_POS") {
            auto* entry = static_cast<FImageFileListEntry*>(data);
            entry->m_nVisibleCount = static_cast<int>(m_files.size());
            for (size_t i = 0; i < m_files.size(); ++i)
                if (m_files[i]->m_usURL == entry->m_usURL)
                    entry->m_nVisibleIndex = static_cast<int>(i);
        } else if (name == "ON_GET_NEXT_VISIBLE_IMAGE" || name == "ON_GET_PREV_VISIBLE_IMAGE") {
            auto* probe = static_cast<FImageNeighbourProbe*>(data);
            const int step = name == "ON_GET_NEXT_VISIBLE_IMAGE" ? 1 : -1;
            probe->m_pEntry = nullptr;
            for (size_t i = 0; i < m_files.size(); ++i)
                if (m_window->GetEntry() && m_files[i]->m_usURL == m_window->GetEntry()->m_usURL) {
                    const int at = static_cast<int>(i) + step;
                    if (at >= 0 && at < static_cast<int>(m_files.size()))
                        probe->m_pEntry = m_files[at].get();
                }
        } else if (name == "ON_IS_ROTATE_ALLOWED") {
            static_cast<ImageChangeQuery*>(data)->m_bAllowed = m_bAllowChanges;
        }
    }

    FImageFileListEntry& AddFile(const std::string& name)
    {
        auto entry = std::make_unique<FImageFileListEntry>();
        entry->SetURL(rawtest::PutMemoryFile("review/" + name, rawtest::Bytes(64, 7)));
        m_files.push_back(std::move(entry));
        return *m_files.back();
    }
    void Send(const char* message, void* data = nullptr)
    {
        EXPECT_TRUE(m_window->UiRelayMessage(FWideString(message), data)) << message;
    }
    void SendText(const char* message, const char* text)
    {
        FWideString value(text);
        Send(message, &value);
    }
    void SendDouble(const char* message, double value) { Send(message, &value); }
    void Resize(int width, int height)
    {
        int size[2] = {width, height};
        Send("ImageResize", size);
    }
    void Frame()
    {
        m_window->Tick(10);
        m_preview->Tick(10);
        m_engine->Tick(10);
    }
    void Run(int frames = 40)
    {
        for (int i = 0; i < frames; ++i)
            Frame();
    }
    std::vector<int> Kinds() const
    {
        std::vector<int> kinds;
        for (const FFakeIpSubmission& s : m_pool.GetSubmissions())
            if (s.kind != kReqProperties)
                kinds.push_back(s.kind);
        return kinds;
    }
    const FFakeIpSubmission* Last(int kind) const
    {
        const FFakeIpSubmission* found = nullptr;
        for (const FFakeIpSubmission& s : m_pool.GetSubmissions())
            if (s.kind == kind)
                found = &s;
        return found;
    }
    // Opens the first file in a 400 x 300 view and lets every request finish.
    void OpenAndSettle()
    {
        Resize(400, 300);
        Send("ImageFileListEntry", m_files.at(0).get());
        Run();
    }

    FDebugTraceCapture m_trace;
    FakeIpPool m_pool;
    std::vector<std::pair<std::string, std::string>> m_props = {{"COLS", "600"},
                                                                {"ROWS", "300"},
                                                                {"PROCESSABLE", "T"},
                                                                {"WB_DESC", "Daylight"},
                                                                {"WB_DESC_ORIG", "Cloudy"}};
    std::vector<std::unique_ptr<FImageFileListEntry>> m_files;
    bool m_bAllowChanges = true;
    EventLog m_log;
    // The window outlives its bridges: they answer what they still hold when they go.
    std::unique_ptr<FUiReviewWindow> m_window = std::make_unique<FUiReviewWindow>("REVIEW_WIN_MGR", &m_pool);
    std::unique_ptr<FUiIpObject> m_preview = std::make_unique<FUiIpObject>("IP_OBJECT2", &m_pool);
    std::unique_ptr<FUiIpObject> m_engine = std::make_unique<FUiIpObject>("IP_OBJECT2", &m_pool);
};

TEST_F(ReviewWindowTest, OpeningFiresItsEventsInOrderAndRunsTheRequestsByPriority)
{
    AddFile("a.q7f");
    Resize(400, 300);
    Send("ImageFileListEntry", m_files[0].get());
    m_log.lines.clear();
    Frame(); // closes the (empty) previous state
    Frame(); // opens
    const std::vector<std::string> expected = {"ON_GET_IMAGE_LIST_POS",
                                               "ON_NEW_IMAGENAME",
                                               "ON_NEW_WINDOW_TITLE_POSTFIX= - a.q7f",
                                               "ON_AT_START_OF_IMAGE_LIST",
                                               "ON_AT_END_OF_IMAGE_LIST",
                                               "ON_SET_FILE_X=1",
                                               "ON_SET_FILE_Y=1",
                                               "ON_SET_DEFAULT_SETTINGS",
                                               "ON_SEND_CUSTOM",
                                               "ON_IMAGE_MARKED_STATE=0",
                                               "ON_IMAGE_LOCKED_STATE=0",
                                               "ON_NEW_IMAGE_INFO",
                                               "ON_HIDE_EXPOSURE_WARNING",
                                               "ON_BRISAL_IMAGE=1",
                                               "ON_LOUPE_ENABLED=0",
                                               "ON_HIDE_LOUPE",
                                               "ON_LOCKED_IMAGE=1",
                                               "ON_SET_MENU_LOCK",
                                               "ON_SET_MENU_MARK",
                                               "ON_DIRECTORY_READ_ONLY=0",
                                               "ON_DIRECTORY_NOT_READ_ONLY=1",
                                               "ON_ALLOW_SAVE_Q7F_SETTINGS=0",
                                               "ON_CAN_ROTATE=1",
                                               "ON_CAN_MARK=1"};
    std::vector<std::string> names;
    for (const std::string& line : expected)
        names.push_back(line.substr(0, line.find('=')));
    std::vector<std::string> opening = m_log.Only(names);
    opening.resize(std::min(opening.size(), expected.size()));
    EXPECT_EQ(opening, expected);

    Run();
    // Illuminants first, the preview beside it, then the automatic settings and the image.
    EXPECT_EQ(Kinds(), (std::vector<int>{kReqIlluminants, kReqPreview, kReqAutoSet, kReqProcessed}));
    // 600 x 300 into 400 x 300: as wide as the view.
    const FFakeIpSubmission* processed = Last(kReqProcessed);
    ASSERT_NE(processed, nullptr);
    EXPECT_EQ(processed->outCols, 400);
    EXPECT_EQ(processed->outRows, 200);
    EXPECT_EQ(processed->crop, FRect(0, 0, 400, 200));
    EXPECT_EQ(Last(kReqPreview)->outCols, 400);
    EXPECT_EQ(m_log.Only({"ON_DISPLAY_IMAGE", "ON_DISPLAY_HISTOGRAM", "ON_GOT_WHITE_BALS"}),
              (std::vector<std::string>{"ON_GOT_WHITE_BALS=1", "ON_DISPLAY_IMAGE", "ON_DISPLAY_IMAGE",
                                        "ON_DISPLAY_HISTOGRAM"}));
    // Three requests, and the closing of the (empty) previous state.
    EXPECT_EQ(m_log.Count("ON_BEGIN_PROCESSING"), 3);
    EXPECT_EQ(m_log.Count("ON_END_PROCESSING"), 4);
    EXPECT_EQ(m_window->GetEngineState(), FUiReviewWindow::kIdle);
}

TEST_F(ReviewWindowTest, NothingIsRequestedBeforeTheViewSizeIsKnown)
{
    AddFile("a.q7f");
    Send("ImageFileListEntry", m_files[0].get());
    Run(5);
    EXPECT_TRUE(Kinds().empty());
    Resize(300, 300);
    Run();
    EXPECT_EQ(Kinds(), (std::vector<int>{kReqIlluminants, kReqPreview, kReqAutoSet, kReqProcessed}));
    EXPECT_EQ(Last(kReqProcessed)->outCols, 300);
    EXPECT_EQ(Last(kReqProcessed)->outRows, 150);
}

TEST_F(ReviewWindowTest, NewWorkCancelsTheBusyImageAndSwitchingCancelsEverything)
{
    AddFile("a.q7f");
    AddFile("b.q7f");
    m_pool.SetPlan(kReqProcessed, WithImage(30));
    Resize(400, 300);
    Send("ImageFileListEntry", m_files[0].get());
    Run(6);
    ASSERT_NE(Last(kReqProcessed), nullptr);
    Resize(200, 150);
    Run(6);
    // The busy one was cancelled and the new size asked for at once.
    int processed = 0;
    for (int kind : Kinds())
        processed += kind == kReqProcessed;
    EXPECT_EQ(processed, 2);
    EXPECT_EQ(Last(kReqProcessed)->outCols, 200);

    m_log.lines.clear();
    Send("ImageFileListEntry", m_files[1].get());
    Run(3);
    // a's processed image never arrives; one end of processing once the cancels are in,
    // before b is opened.
    EXPECT_EQ(m_log.Count("ON_DISPLAY_HISTOGRAM"), 0);
    std::vector<std::string> ends =
        m_log.Only({"ON_END_PROCESSING", "ON_BEGIN_PROCESSING", "ON_GET_IMAGE_LIST_POS"});
    ASSERT_GE(ends.size(), 2u);
    EXPECT_EQ(ends[0], "ON_END_PROCESSING");
    EXPECT_EQ(ends[1], "ON_GET_IMAGE_LIST_POS");
    Run(80);
    EXPECT_EQ(m_log.Count("ON_DISPLAY_HISTOGRAM"), 1);
    EXPECT_EQ(m_window->GetEntry()->m_usFileName, FWideString("b.q7f"));
    // The image already shown again changes nothing.
    m_log.lines.clear();
    Send("ImageFileListEntry", m_files[1].get());
    Run();
    EXPECT_TRUE(m_log.lines.empty());
}

struct ErrorCase {
    int kind;
    int code;
    const char* event; // null: nothing reported
};

TEST_F(ReviewWindowTest, ErrorsAreReportedByClassAndAcknowledgingMovesOn)
{
    const ErrorCase cases[] = {
        {kReqPreview, 12, nullptr},
        {kReqPreview, 3, nullptr},
        {kReqPreview, 5, "ON_FILE_ERROR"},
        {kReqProcessed, 5, "ON_FILE_ERROR"},
        {kReqProcessed, 6, "ON_FILE_ERROR"},
        {kReqIlluminants, 8, "ON_FILE_ERROR"},
        {kReqAutoSet, 10, "ON_FILE_ERROR"},
        {kReqProcessed, 13, "ON_IMAGE_ERROR"},
        {kReqProcessed, 14, "ON_IMAGE_ERROR"},
    };
    for (const ErrorCase& c : cases) {
        SCOPED_TRACE(testing::Message() << "kind " << c.kind << " code " << c.code);
        TearDown();
        m_files.clear();
        m_window.reset();
        m_window = std::make_unique<FUiReviewWindow>("REVIEW_WIN_MGR", &m_pool);
        m_log.lines.clear();
        SetUp();
        m_pool.SetPlan(c.kind, FFakeIpPlan::After(1).Failing(c.code));
        AddFile("a.q7f");
        AddFile("b.q7f");
        OpenAndSettle();
        if (!c.event) {
            EXPECT_FALSE(m_log.Has("ON_SET_ERROR_REPLY"));
            EXPECT_EQ(m_log.Count("ON_DISPLAY_HISTOGRAM"), 1);
            continue;
        }
        EXPECT_EQ(m_log.Only({"ON_FILE_ERROR", "ON_IMAGE_ERROR", "ON_NO_CAMERA_ERROR", "ON_SET_ERROR_REPLY"}),
                  (std::vector<std::string>{c.event, "ON_SET_ERROR_REPLY"}));
        // The dialog still refers to the image until it is acknowledged.
        ASSERT_NE(m_window->GetEntry(), nullptr);
        EXPECT_EQ(m_window->GetEntry()->m_usFileName, FWideString("a.q7f"));
        m_pool.SetPlan(c.kind, c.kind == kReqPreview || c.kind == kReqProcessed ? WithImage(1)
                                                                                : FFakeIpPlan::After(1));
        SendText("Reply", "ErrorAcknowleged");
        EXPECT_TRUE(m_log.Has("ON_DELETING_IMAGE=" + std::string(m_files[0]->m_usURL.GetNarrow())));
        Run();
        ASSERT_NE(m_window->GetEntry(), nullptr);
        EXPECT_EQ(m_window->GetEntry()->m_usFileName, FWideString("b.q7f"));
        EXPECT_FALSE(m_log.Has("ON_CLOSE_WINDOW"));
    }
}

TEST_F(ReviewWindowTest, AFileThatVanishesIsAFileErrorAndNothingIsWritten)
{
    AddFile("a.q7f");
    MoveToTrashURL(m_files[0]->m_usURL);
    Resize(400, 300);
    Send("ImageFileListEntry", m_files[0].get());
    Run();
    EXPECT_EQ(m_log.Only({"ON_FILE_ERROR", "ON_IMAGE_ERROR", "ON_SET_ERROR_REPLY"}),
              (std::vector<std::string>{"ON_FILE_ERROR", "ON_SET_ERROR_REPLY"}));
    EXPECT_TRUE(Kinds().empty());
    SendText("Reply", "ErrorAcknowleged");
    Run();
    EXPECT_EQ(m_window->GetEntry(), nullptr);
    EXPECT_TRUE(m_log.Has("ON_CLEAR_IMAGE"));
}

TEST_F(ReviewWindowTest, DeleteAnnouncesOnlyAFileThatIsGone)
{
    AddFile("a.q7f");
    AddFile("b.q7f");
    OpenAndSettle();
    m_bAllowChanges = false;
    SendText("Reply", "Delete");
    EXPECT_FALSE(m_log.Has("ON_DELETING_IMAGE=" + std::string(m_files[0]->m_usURL.GetNarrow())));
    m_bAllowChanges = true;
    // Gone behind the window's back: the trash refuses, the browser keeps its entry.
    MoveToTrashURL(m_files[0]->m_usURL);
    SendText("Reply", "Delete");
    EXPECT_FALSE(m_log.Has("ON_DELETING_IMAGE=" + std::string(m_files[0]->m_usURL.GetNarrow())));
    EXPECT_EQ(m_window->GetEntry()->m_usFileName, FWideString("a.q7f"));

    rawtest::PutMemoryFile("review/a.q7f", rawtest::Bytes(64, 7));
    SendText("Reply", "Delete");
    EXPECT_TRUE(m_log.Has("ON_DELETING_IMAGE=" + std::string(m_files[0]->m_usURL.GetNarrow())));
    Run();
    EXPECT_EQ(m_window->GetEntry()->m_usFileName, FWideString("b.q7f"));
}

TEST_F(ReviewWindowTest, LoupeStepsAndGeometry)
{
    // Without an image the steps are the photograph's own scale, shown in per cent.
    Send("Post Creation Initialization");
    EXPECT_TRUE(m_log.Has("ON_LOUPE_MAG_CHANGE=100%"));
    m_log.lines.clear();
    for (const char* message : {"IncLoupeMag", "IncLoupeMag", "DecLoupeMag", "DecLoupeMag", "DecLoupeMag"})
        Send(message);
    EXPECT_EQ(m_log.Only({"ON_LOUPE_MAG_CHANGE"}),
              (std::vector<std::string>{"ON_LOUPE_MAG_CHANGE=173%", "ON_LOUPE_MAG_CHANGE=173%",
                                        "ON_LOUPE_MAG_CHANGE=100%", "ON_LOUPE_MAG_CHANGE=58%",
                                        "ON_LOUPE_MAG_CHANGE=58%"}));
    Send("IncLoupeMag");
    EXPECT_DOUBLE_EQ(m_window->GetLoupeMag(), 1.0);

    AddFile("a.q7f");
    double centre[6] = {0.0, 0.0, 100.0, 100.0, 7.0, 9.0};
    Send("NeedLoupeImage", centre); // before the image: nothing
    OpenAndSettle();
    m_log.lines.clear();
    Send("NeedLoupeImage", centre);
    Run();
    const FFakeIpSubmission* loupe = Last(kReqProcessed);
    // The window asks for (-50, -50, 50, 50); the bridge holds crops to the image.
    EXPECT_EQ(loupe->crop, FRect(0, 0, 50, 50));
    // The view enlarges this small image, so the loupe's step is raised to enlarge it more.
    const double viewScale = double(m_window->GetFittedWidth()) / 600;
    EXPECT_NEAR(m_window->GetLoupeScale(), 1.5 * viewScale / std::sqrt(1.0 / 3.0), 1e-9);
    EXPECT_EQ(loupe->outCols, static_cast<int>(600 * m_window->GetLoupeScale()));
    EXPECT_EQ(loupe->outRows, static_cast<int>(m_window->GetLoupeScale() * 300));
    ASSERT_TRUE(m_log.Has("ON_DISPLAY_LOUPE_IMAGE"));
    EXPECT_EQ(m_log.loupe.left, 7);
    EXPECT_EQ(m_log.loupe.top, 9);
    // At the right edge a window of one pixel still overlaps; beyond it, off the image.
    double edge[6] = {1.0, 0.5, 1.0, 1.0, 0.0, 0.0};
    Send("NeedLoupeImage", edge);
    EXPECT_FALSE(m_log.Has("ON_LOUPE_OFF_IMAGE"));
    double off[6] = {1.5, 0.5, 100.0, 100.0, 0.0, 0.0};
    Send("NeedLoupeImage", off);
    double nan[6] = {NAN, 0.5, 100.0, 100.0, 0.0, 0.0};
    Send("NeedLoupeImage", nan);
    EXPECT_EQ(m_log.Count("ON_LOUPE_OFF_IMAGE"), 1);
}

TEST_F(ReviewWindowTest, SettingModesAndAdjustments)
{
    AddFile("a.q7f");
    m_props.push_back({"rpExposureCompensation", "0.2500"});
    OpenAndSettle();
    ASSERT_DOUBLE_EQ(m_window->GetAutoSettings().Exposure, 0.5);

    SendDouble("SettingsMode", 0.5);
    Run();
    const size_t before = Kinds().size();
    m_log.lines.clear();
    SendDouble("SettingsMode", 0.5); // already automatic: nothing queued
    Run();
    EXPECT_EQ(Kinds().size(), before);
    EXPECT_EQ(m_log.Only({"ON_CHECK_MENU_DEFAULT", "ON_CHECK_MENU_AUTO", "ON_CHECK_MENU_CUSTOM"}),
              (std::vector<std::string>{"ON_CHECK_MENU_DEFAULT=0", "ON_CHECK_MENU_AUTO=1",
                                        "ON_CHECK_MENU_CUSTOM=0"}));
    EXPECT_TRUE(m_window->CanStoreSettings()); // automatic 0.5 differs from the file's

    SendDouble("ExposureChange", 1.5); // outside custom mode: ignored
    Run();
    EXPECT_EQ(Kinds().size(), before);
    Send("ManualAdjust");
    EXPECT_EQ(m_window->GetSettingMode(), CustomSettingMode);
    EXPECT_DOUBLE_EQ(m_window->GetCustomSettings().Exposure, 0.5);
    EXPECT_EQ(Kinds().size(), before);
    SendDouble("ExposureChange", 1.5);
    Run();
    EXPECT_DOUBLE_EQ(Last(kReqProcessed)->adjustments[0], 1.5);
    // NaN is refused; values past the limits are held at them.
    SendDouble("ExposureChange", NAN);
    SendDouble("ContrastChange", 9.0);
    EXPECT_DOUBLE_EQ(m_window->GetCustomSettings().Exposure, 1.5);
    EXPECT_DOUBLE_EQ(m_window->GetCustomSettings().Contrast, 2.0);
    double badGains[3] = {1.0, NAN, 1.0};
    Send("ColorAdjustChange", badGains);
    EXPECT_DOUBLE_EQ(m_window->GetCustomSettings().ColorAdjustG, 1.0);

    Send("SaveSettings");
    EXPECT_DOUBLE_EQ(m_log.lastSettings.Exposure, 1.5);
    SendText("SettingsModeText", "Default");
    Send("SaveSettings");
    EXPECT_DOUBLE_EQ(m_log.lastSettings.Exposure, 0.25);
    EXPECT_FALSE(m_window->CanStoreSettings()); // file mode: never
    Run();
    EXPECT_DOUBLE_EQ(Last(kReqProcessed)->adjustments[0], 0.25);
}

TEST_F(ReviewWindowTest, StoringSettingsWaitsForTheAutomaticValues)
{
    AddFile("a.q7f");
    m_pool.SetPlan(kReqAutoSet, FFakeIpPlan::After(1000));
    Resize(400, 300);
    Send("ImageFileListEntry", m_files[0].get());
    Run(5);
    Send("SaveQ7FSettings");
    EXPECT_EQ(Last(kReqModify), nullptr);

    m_pool.SetPlan(kReqAutoSet, FFakeIpPlan::After(1));
    SendText("Reply2", "Tungsten"); // restarts the automatic settings
    Run(60);
    Send("ManualAdjust");
    SendDouble("ExposureChange", 0.75);
    m_log.lines.clear();
    Send("SaveQ7FSettings");
    const FFakeIpSubmission* modify = Last(kReqModify);
    ASSERT_NE(modify, nullptr);
    ASSERT_GE(modify->props.size(), 8u);
    EXPECT_EQ(modify->props[0], (std::pair<std::string, std::string>{"rpExposureCompensation", "0.7500"}));
    EXPECT_EQ(modify->props[7].first, "rpColorAdjust");
    EXPECT_EQ(m_log.Only({"ON_UPDATE_IMAGE", "ON_SET_DEFAULT_SETTINGS"}),
              (std::vector<std::string>{"ON_UPDATE_IMAGE", "ON_SET_DEFAULT_SETTINGS"}));
}

TEST_F(ReviewWindowTest, OutsideChanges)
{
    AddFile("a.q7f");
    OpenAndSettle();
    const size_t before = Kinds().size();
    FImageFileListEntry changed(*m_window->GetEntry());
    changed.m_bMarked = true;
    m_log.lines.clear();
    Send("UpdateImage", &changed);
    Run();
    EXPECT_EQ(m_log.lines, (std::vector<std::string>{"ON_IMAGE_MARKED_STATE=1"}));
    EXPECT_EQ(Kinds().size(), before);

    changed.m_usWhiteBalance = FWideString("Tungsten");
    Send("UpdateImage", &changed);
    Run();
    EXPECT_EQ(Kinds().size(), before + 4);
    EXPECT_TRUE(m_log.Has("ON_GOT_WHITE_BALS=0"));
}

TEST_F(ReviewWindowTest, WhiteAndGrayBalance)
{
    AddFile("a.q7f");
    OpenAndSettle();
    Send("WhiteBalPressed");
    EXPECT_TRUE(m_log.Has("ON_SET_WHITEBAL_NAME=Daylight"));
    m_log.lines.clear();
    SendText("Reply2", "Original");
    // The request carries the name; the window shows the original description.
    EXPECT_EQ(m_window->GetEntry()->m_usWhiteBalance, FWideString("Cloudy"));
    Run();
    const FFakeIpSubmission* balance = nullptr;
    for (const FFakeIpSubmission& s : m_pool.GetSubmissions())
        if (s.kind == kReqModify || s.kind == kReqProperties)
            balance = &s;
    ASSERT_NE(balance, nullptr);
    EXPECT_TRUE(m_log.Has("ON_WHITE_BALANCE_CHANGED"));
    EXPECT_TRUE(m_log.Has("ON_UPDATE_IMAGE"));
    // The balance ran before the new automatic values and image.
    std::vector<int> kinds = Kinds();
    EXPECT_EQ(kinds.back(), kReqProcessed);
    EXPECT_EQ(kinds[kinds.size() - 2], kReqAutoSet);

    double point[2] = {0.5, 0.25};
    Send("GrayBalanceXY", point);
    Run();
    ASSERT_NE(Last(kReqGetGrayBalance), nullptr);
    EXPECT_EQ(Last(kReqGetGrayBalance)->grayX, 300);
    EXPECT_EQ(Last(kReqGetGrayBalance)->grayY, 75);
    EXPECT_DOUBLE_EQ(m_log.gray[0], 1.25);
    EXPECT_DOUBLE_EQ(m_log.gray[2], 0.75);
}

} // namespace

namespace
{

TEST_F(ReviewWindowTest, AnUnpluggedCameraIsOneNoCameraErrorAndClosesTheWindow)
{
    // A memory card standing in for a camera: what makes a camera file is its URL.
    static FMemStorageClass* camera = RegisterMemStorageClass(FWideString("camera"));
    camera->PutFile(FWideString("card/cam.q7f"), std::string(64, 'x'));
    auto cameraEntry = std::make_unique<FImageFileListEntry>();
    cameraEntry->SetURL(FWideString("camera://card/cam.q7f"));
    ASSERT_TRUE(cameraEntry->m_bCamera);
    m_files.push_back(std::move(cameraEntry));
    bool reachable = true;
    auto previous = m_log.answer;
    m_log.answer = [&, previous](const std::string& name, void* data) {
        if (name == "ON_GET_CAMERA_STATUS")
            *static_cast<bool*>(data) = reachable;
        previous(name, data);
    };
    OpenAndSettle();
    EXPECT_FALSE(m_log.Has("ON_NO_CAMERA_ERROR"));
    reachable = false;
    Run(5);
    EXPECT_EQ(m_log.Count("ON_NO_CAMERA_ERROR"), 1);
    EXPECT_EQ(m_log.Count("ON_SET_ERROR_REPLY"), 1);
    SendText("Reply", "ErrorAcknowleged");
    EXPECT_TRUE(m_log.Has("ON_CLOSE_WINDOW"));
    Run();
    EXPECT_EQ(m_window->GetEntry(), nullptr);
    EXPECT_EQ(m_log.Count("ON_NO_CAMERA_ERROR"), 1);
}

TEST_F(ReviewWindowTest, ClosingMidDevelopmentLeavesNothingBusy)
{
    AddFile("a.q7f");
    m_pool.SetPlan(kReqProcessed, WithImage(1000));
    m_pool.SetPlan(kReqPreview, WithImage(1000));
    Resize(400, 300);
    Send("ImageFileListEntry", m_files[0].get());
    Run(8);
    ASSERT_FALSE(m_window->IsQuiet());
    // The script's order: the bridges go first and answer their records as cancelled.
    m_preview.reset();
    m_engine.reset();
    EXPECT_TRUE(m_window->IsQuiet());
    m_window.reset();
    EXPECT_EQ(m_pool.GetRunningCount(), 0);
}

} // namespace

namespace
{

TEST_F(ReviewWindowTest, RotateAsksFirstThenRewritesAndRequeues)
{
    AddFile("a.q7f");
    OpenAndSettle();
    const size_t before = Kinds().size();
    m_bAllowChanges = false;
    SendText("Rotate", "+90");
    SendText("Rotate", "180"); // not a rotation
    m_bAllowChanges = true;
    EXPECT_EQ(Last(kReqModify), nullptr);
    m_log.lines.clear();
    SendText("Rotate", "+90");
    const FFakeIpSubmission* modify = Last(kReqModify);
    ASSERT_NE(modify, nullptr);
    EXPECT_EQ(modify->props.at(0), (std::pair<std::string, std::string>{"ROTATION", "+90"}));
    EXPECT_TRUE(m_log.Has("ON_UPDATE_IMAGE"));
    Run();
    // The processed image of the new orientation; the others were received already.
    EXPECT_EQ(Kinds().back(), kReqProcessed);
    EXPECT_GT(Kinds().size(), before);
}

} // namespace

namespace
{

TEST_F(ReviewWindowTest, ASavedSettingIsAskedForAndComesBackAsCustom)
{
    AddFile("a.q7f");
    OpenAndSettle();
    // The saved-settings manager answers the name with its values.
    auto previous = m_log.answer;
    m_log.answer = [&, previous](const std::string& name, void* data) {
        if (name == "ON_GET_SAVED_SETTING" && *static_cast<FWideString*>(data) == FWideString("Portrait")) {
            ProcessingSettings saved;
            saved.Saturation = -0.5;
            m_window->UiRelayMessage(FWideString("CustomSetting"), &saved);
        }
        previous(name, data);
    };
    m_log.lines.clear();
    SendText("SelectedSetting", "Portrait");
    EXPECT_EQ(m_window->GetSettingMode(), CustomSettingMode);
    EXPECT_DOUBLE_EQ(m_window->GetCustomSettings().Saturation, -0.5);
    EXPECT_TRUE(m_log.Has("ON_CHECK_MENU_CUSTOM=1"));
    Run();
    EXPECT_DOUBLE_EQ(Last(kReqProcessed)->adjustments[4], -0.5);
    EXPECT_TRUE(m_window->CanStoreSettings());
}

} // namespace
