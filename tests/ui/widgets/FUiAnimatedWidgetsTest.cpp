#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <limits>
#include <string>

#include "ControlsTestSupport.h"
#include "FCodePage.h"
#include "FHeadlessDesktop.h"
#include "FOsWallClock.h"
#include "FProbeObject.h"
#include "FUiBlink.h"
#include "FUiClock.h"
#include "FUiFilmStrip.h"
#include "FUiProgressBar.h"
#include "FUiTimer.h"
#include "WidgetTestSupport.h"

namespace
{

const FUiColor kBack(10, 20, 30, 255);
const FUiColor kFore(0, 200, 0, 255);
const FUiColor kMark(255, 0, 0, 255);

std::vector<FTestSkin> AnimationSkins()
{
    return {
        {"pb_back.png", 200, 10, kBack, kBack},    {"pb_fore40.png", 40, 10, kFore, kMark},
        {"pb_fore200.png", 200, 10, kFore, kFore}, {"strip.png", 32, 320, kFore, kMark},
        {"strip_odd.png", 32, 321, kFore, kMark},  {"blink_on.png", 12, 12, kMark, kMark},
        {"blink_off.png", 12, 12, kBack, kBack},   {"blink_big.png", 14, 12, kBack, kBack},
    };
}

std::unique_ptr<FUiTestApp> AnimationRun(const std::string& body)
{
    return ControlsRun("<HBOX>" + body + "</HBOX>", AnimationSkins());
}

FProbeObject* Probe()
{
    FProbeObject* probe = FProbeObject::FindLive("Probe");
    probe->SetDataKind("Tick", EProbeData::kDouble);
    return probe;
}

bool Send(FIUiObject* object, const char* message, void* data = nullptr)
{
    return object->UiRelayMessage(FWideString(message), data);
}

// ---- Film strip ----

TEST(FilmStripTest, FramesAndStartingFrameNormalised)
{
    struct Case {
        int frameNo;
        int frame;
    };
    for (const Case c : {Case{-1, 9}, Case{12, 2}, Case{0, 0}, Case{-21, 9}}) {
        auto run = AnimationRun(R"(<FILMSTRIP Name="F" File_Image="strip.png" NumFrames="10" _FrameNo=")" +
                                std::to_string(c.frameNo) + R"("/>)");
        FUiFilmStrip* strip = FindControl<FUiFilmStrip>(*run, "W.F");
        ASSERT_NE(strip, nullptr);
        EXPECT_EQ(strip->GetFrame(), c.frame) << c.frameNo;
        EXPECT_EQ(RectText(strip->GetRect()), "0,0,32,32");
    }
    const char* const kBad[] = {
        R"(<FILMSTRIP Name="F" File_Image="strip.png"/>)",
        R"(<FILMSTRIP Name="F" File_Image="strip.png" NumFrames="0"/>)",
        R"(<FILMSTRIP Name="F" File_Image="strip.png" NumFrames="-4"/>)",
        R"(<FILMSTRIP Name="F" File_Image="strip.png" NumFrames="320"/>)", // frames of one row are too small
        R"(<FILMSTRIP Name="F" File_Image="strip_odd.png" NumFrames="10"/>)",
        R"(<FILMSTRIP Name="F" File_Image="missing.png" NumFrames="10"/>)",
    };
    for (const char* tag : kBad) {
        auto run = AnimationRun(tag);
        ASSERT_TRUE(run->GetInitResult()) << tag;
        EXPECT_EQ(FindWidget(*run, "W.F"), nullptr) << tag;
    }
}

TEST(FilmStripTest, AnimateHoldsTheFirstFrameForTheDelay)
{
    auto run = AnimationRun(R"(<FILMSTRIP Name="F" File_Image="strip.png" NumFrames="10"/>)");
    FUiFilmStrip* strip = FindControl<FUiFilmStrip>(*run, "W.F");
    ASSERT_NE(strip, nullptr);
    // Without a period "Play" does nothing.
    EXPECT_TRUE(Send(strip, "Play"));
    EXPECT_FALSE(strip->IsPlaying());
    FWideString text("2-5,100,500");
    EXPECT_TRUE(Send(strip, "Animate", &text));
    EXPECT_TRUE(strip->IsPlaying());
    EXPECT_EQ(strip->GetFrame(), 2);
    strip->Tick(500);
    EXPECT_EQ(strip->GetFrame(), 2); // exactly the delay is not more than it
    strip->Tick(1);
    EXPECT_EQ(strip->GetFrame(), 3);
    strip->Tick(100);
    EXPECT_EQ(strip->GetFrame(), 3);
    strip->Tick(1);
    EXPECT_EQ(strip->GetFrame(), 4);
    strip->Tick(101);
    EXPECT_EQ(strip->GetFrame(), 5);
    strip->Tick(101);
    EXPECT_EQ(strip->GetFrame(), 2);
    strip->Tick(101);
    EXPECT_EQ(strip->GetFrame(), 2); // held again
    // The same text while playing does not restart the animation.
    strip->Tick(450);
    EXPECT_TRUE(Send(strip, "Animate", &text));
    strip->Tick(10);
    EXPECT_EQ(strip->GetFrame(), 3);
    // "FrameNum" stops the animation.
    int frame = -3;
    EXPECT_TRUE(Send(strip, "FrameNum", &frame));
    EXPECT_EQ(strip->GetFrame(), 7);
    EXPECT_FALSE(strip->IsPlaying());
    strip->Tick(1000);
    EXPECT_EQ(strip->GetFrame(), 7);
    // "Play" after an "Animate" knows the period; it restarts from frame 0.
    EXPECT_TRUE(Send(strip, "Play"));
    EXPECT_TRUE(strip->IsPlaying());
    EXPECT_EQ(strip->GetFrame(), 0);
    EXPECT_TRUE(Send(strip, "DecrementFrame"));
    EXPECT_EQ(strip->GetFrame(), 9);
    EXPECT_TRUE(strip->IsPlaying());
    EXPECT_TRUE(Send(strip, "Stop"));
    EXPECT_FALSE(strip->IsPlaying());
    EXPECT_EQ(strip->GetFrame(), 0);
}

TEST(FilmStripTest, MessagesAndThePeriodFromTheScript)
{
    auto run = AnimationRun(R"(<FILMSTRIP Name="F" File_Image="strip.png" NumFrames="10" _Period="50"/>)");
    FUiFilmStrip* strip = FindControl<FUiFilmStrip>(*run, "W.F");
    ASSERT_NE(strip, nullptr);
    bool play = true;
    EXPECT_TRUE(Send(strip, "SetPlay", &play));
    EXPECT_TRUE(strip->IsPlaying());
    // On the window's 10 ms ticks: a frame change once more than 50 ms have passed.
    for (int i = 0; i < 6; ++i)
        HeadlessAdvanceTime(10);
    EXPECT_EQ(strip->GetFrame(), 1);
    FWideString number("13");
    EXPECT_TRUE(Send(strip, "StrFrameNum", &number));
    EXPECT_EQ(strip->GetFrame(), 3);
    EXPECT_FALSE(strip->IsPlaying());
    EXPECT_TRUE(Send(strip, "IncrementFrame"));
    EXPECT_EQ(strip->GetFrame(), 4);
    // Texts that are not the four numbers change nothing.
    for (const char* bad : {"", "3-4", "x-y,z,w", "1-2,3"}) {
        FWideString text(bad);
        EXPECT_TRUE(Send(strip, "Animate", &text));
        EXPECT_FALSE(strip->IsPlaying()) << bad;
    }
    for (const char* message : {"FrameNum", "StrFrameNum", "SetPlay", "Animate", "Visibility"})
        EXPECT_FALSE(Send(strip, message)) << message;
    EXPECT_FALSE(Send(strip, "Rewind"));
    // Drawn: frame 4's rows; the marked first pixel belongs to frame 0 only.
    EXPECT_EQ(PresentedPixel(*run, 0, 0), ColourText(kFore));
    int frame = 0;
    EXPECT_TRUE(Send(strip, "FrameNum", &frame));
    EXPECT_EQ(PresentedPixel(*run, 0, 0), ColourText(kMark));
    EXPECT_TRUE(Send(strip, "Hide"));
    EXPECT_EQ(PresentedPixel(*run, 0, 0), "255,255,255,255");
    EXPECT_EQ(strip->HitTest(5, 5), nullptr);
    EXPECT_TRUE(Send(strip, "ToggleVisibility"));
    EXPECT_EQ(strip->HitTest(5, 5), strip);
}

// ---- Progress bar ----

TEST(ProgressBarTest, FillFollowsTheProgressAndRefusesBadInput)
{
    auto run =
        AnimationRun(R"(<PROGRESSBAR Name="P" File_BgImage="pb_back.png" File_FgImage="pb_fore200.png"/>)");
    FUiProgressBar* bar = FindControl<FUiProgressBar>(*run, "W.P");
    ASSERT_NE(bar, nullptr);
    EXPECT_EQ(RectText(bar->GetRect()), "0,0,200,10");
    struct Case {
        double progress;
        int fill;
    };
    const Case kCases[] = {
        {0.333, 67},
        {1.7, 200},
        {-0.2, 0},
        {std::numeric_limits<double>::quiet_NaN(), 0},
        {1.0, 200},
        {0.0, 0},
        {std::numeric_limits<double>::infinity(), 200},
    };
    for (const Case& c : kCases) {
        double progress = c.progress;
        EXPECT_TRUE(Send(bar, "Progress", &progress));
        EXPECT_EQ(bar->GetFillWidth(), c.fill) << c.progress;
        EXPECT_FALSE(std::isnan(bar->GetProgress()));
    }
    EXPECT_FALSE(Send(bar, "Progress"));
    double full = 1;
    Send(bar, "Progress", &full);
    EXPECT_EQ(PresentedPixel(*run, 199, 5), ColourText(kFore));
    // "Reset" redraws the empty bar at once.
    ControlsOs(*run)->ClearPresented();
    EXPECT_TRUE(Send(bar, "Reset"));
    EXPECT_FALSE(ControlsOs(*run)->GetPresented().empty());
    EXPECT_EQ(ColourText(FUiColor(10, 20, 30, 255)), PresentedPixel(*run, 199, 5));
    // Nothing changed: nothing is redrawn.
    ControlsOs(*run)->ClearPresented();
    Send(bar, "Reset");
    EXPECT_TRUE(ControlsOs(*run)->GetPresented().empty());

    auto missing = AnimationRun(R"(<PROGRESSBAR Name="P" File_FgImage="pb_fore200.png"/>)");
    ASSERT_TRUE(missing->GetInitResult());
    EXPECT_EQ(FindWidget(*missing, "W.P"), nullptr);
    // Without a foreground the bar keeps its size and draws nothing.
    auto plain = AnimationRun(R"(<PROGRESSBAR Name="P" File_BgImage="pb_back.png"/>)");
    FUiProgressBar* empty = FindControl<FUiProgressBar>(*plain, "W.P");
    ASSERT_NE(empty, nullptr);
    Send(empty, "Progress", &full);
    EXPECT_EQ(empty->GetFillWidth(), 0);
    EXPECT_EQ(PresentedPixel(*plain, 5, 5), "255,255,255,255");
}

TEST(ProgressBarTest, PatternSlidesWithTimeAndWraps)
{
    auto run = AnimationRun(R"(<PROGRESSBAR Name="P" File_BgImage="pb_back.png" File_FgImage="pb_fore40.png"
        SlideRate="50" _Visible="false"/>)");
    FUiProgressBar* bar = FindControl<FUiProgressBar>(*run, "W.P");
    ASSERT_NE(bar, nullptr);
    double progress = 0.15; // 30 pixels
    Send(bar, "Progress", &progress);
    EXPECT_EQ(bar->GetFillWidth(), 30);
    for (int i = 0; i < 100; ++i)
        HeadlessAdvanceTime(10);
    EXPECT_EQ(bar->GetSlideOffset(), 10); // 50 mod 40
    for (int i = 0; i < 100; ++i)
        HeadlessAdvanceTime(10);
    EXPECT_EQ(bar->GetSlideOffset(), 20);
    // Hidden, it kept counting; shown, it draws at the current offset.
    EXPECT_EQ(PresentedPixel(*run, 5, 5), "255,255,255,255");
    EXPECT_TRUE(Send(bar, "Show"));
    // Columns 20..39 and then 0..9: the marked column 0 lands at x 20.
    EXPECT_EQ(PresentedPixel(*run, 20, 0), ColourText(kMark));
    EXPECT_EQ(PresentedPixel(*run, 19, 0), ColourText(kFore));
    EXPECT_EQ(PresentedPixel(*run, 29, 0), ColourText(kFore));
    EXPECT_EQ(PresentedPixel(*run, 30, 0), ColourText(kBack));
    // 100 ms later the pattern stands at 105 mod 40: columns 25..39 then 0..14.
    for (int i = 0; i < 10; ++i)
        HeadlessAdvanceTime(10);
    EXPECT_EQ(bar->GetSlideOffset(), 25);
    EXPECT_EQ(PresentedPixel(*run, 15, 0), ColourText(kMark));
    EXPECT_EQ(PresentedPixel(*run, 14, 0), ColourText(kFore));
}

TEST(ProgressBarTest, NegativeRateSlidesTheOtherWay)
{
    auto run = AnimationRun(R"(<PROGRESSBAR Name="P" File_BgImage="pb_back.png" File_FgImage="pb_fore40.png"
        SlideRate="-50"/>)");
    FUiProgressBar* bar = FindControl<FUiProgressBar>(*run, "W.P");
    ASSERT_NE(bar, nullptr);
    double progress = 0.5;
    Send(bar, "Progress", &progress);
    EXPECT_EQ(bar->GetFillWidth(), 40); // no wider than the pattern
    bar->Tick(1000);
    EXPECT_EQ(bar->GetSlideOffset(), 30);
}

// ---- Timer ----

std::unique_ptr<FUiTestApp> TimerRun(const std::string& attributes)
{
    return AnimationRun(R"(<TIMER Name="T" )" + attributes + R"(>
        <ON_BEGIN Relay="Probe" Message="Begin"/><ON_TICK Relay="Probe" Message="Tick"/>
        <ON_PAUSED Relay="Probe" Message="Paused"/><ON_UNPAUSED Relay="Probe" Message="Unpaused"/>
        <ON_CANCELED Relay="Probe" Message="Canceled"/><ON_END Relay="Probe" Message="End"/></TIMER>)");
}

TEST(TimerTest, RunsToItsEndOnTheWindowTicks)
{
    auto run = TimerRun(R"(_Period="1000" _Tick="100")");
    FUiTimer* timer = FindControl<FUiTimer>(*run, "W.T");
    ASSERT_NE(timer, nullptr);
    EXPECT_EQ(timer->GetRect().Width(), 0);
    EXPECT_EQ(timer->GetLayoutObject(true)->GetMinSize(), 0);
    FProbeObject* probe = Probe();
    probe->Clear();
    EXPECT_TRUE(Send(timer, "Begin"));
    for (int i = 0; i < 120; ++i)
        HeadlessAdvanceTime(10);
    const std::vector<FProbeRecord>& records = probe->GetRecords();
    ASSERT_GE(records.size(), 4u);
    EXPECT_EQ(records.front().message, "Begin");
    int ticks = 0;
    double last = 0;
    for (size_t i = 1; i + 2 < records.size(); ++i) {
        EXPECT_EQ(records[i].message, "Tick");
        const double progress = std::stod(records[i].data);
        EXPECT_GT(progress, last);
        last = progress;
        ++ticks;
    }
    EXPECT_GE(ticks, 9);
    EXPECT_LE(ticks, 11);
    EXPECT_EQ(records[records.size() - 2].message + "=" + records[records.size() - 2].data, "Tick=1");
    EXPECT_EQ(records.back().message, "End");
    EXPECT_FALSE(timer->IsRunning());
    // It can run again.
    probe->Clear();
    EXPECT_TRUE(Send(timer, "Begin"));
    EXPECT_EQ(TakeProbeMessages(probe), "Begin");
}

TEST(TimerTest, OneLongTickFiresSeveralEventsWithOneProgress)
{
    auto run = TimerRun(R"(_Period="1000" _Tick="100")");
    FUiTimer* timer = FindControl<FUiTimer>(*run, "W.T");
    FProbeObject* probe = Probe();
    Send(timer, "Begin");
    probe->Clear();
    timer->Tick(250);
    EXPECT_EQ(TakeProbeMessages(probe), "Tick=0.25,Tick=0.25");
    timer->Tick(50); // the interval is reached, not passed
    EXPECT_EQ(TakeProbeMessages(probe), "");
    timer->Tick(1);
    EXPECT_EQ(TakeProbeMessages(probe), "Tick=0.301");
}

TEST(TimerTest, BeginRefusedWithoutAUsableInterval)
{
    for (const char* attributes : {R"(_Period="1000")", R"(_Period="100" _Tick="100")",
                                   R"(_Period="50" _Tick="100")", R"(_Period="-5" _Tick="-1")", ""}) {
        auto run = TimerRun(attributes);
        FUiTimer* timer = FindControl<FUiTimer>(*run, "W.T");
        ASSERT_NE(timer, nullptr);
        FProbeObject* probe = Probe();
        probe->Clear();
        EXPECT_TRUE(Send(timer, "Begin"));
        EXPECT_FALSE(timer->IsRunning()) << attributes;
        timer->Tick(5000);
        EXPECT_EQ(TakeProbeMessages(probe), "") << attributes;
    }
    // "SetTimer" makes it usable while idle, and changes nothing while running.
    auto run = TimerRun("");
    FUiTimer* timer = FindControl<FUiTimer>(*run, "W.T");
    FProbeObject* probe = Probe();
    uint32_t values[2] = {400, 100};
    EXPECT_FALSE(Send(timer, "SetTimer"));
    EXPECT_TRUE(Send(timer, "SetTimer", values));
    EXPECT_TRUE(Send(timer, "Begin"));
    EXPECT_TRUE(timer->IsRunning());
    uint32_t other[2] = {100000, 10};
    EXPECT_TRUE(Send(timer, "SetTimer", other));
    probe->Clear();
    timer->Tick(401);
    EXPECT_EQ(TakeProbeMessages(probe), "Tick=1.0025,Tick=1.0025,Tick=1.0025,Tick=1.0025,Tick=1,End");
}

TEST(TimerTest, PausingAndCancelling)
{
    auto run = TimerRun(R"(_Period="1000" _Tick="100")");
    FUiTimer* timer = FindControl<FUiTimer>(*run, "W.T");
    FProbeObject* probe = Probe();
    probe->Clear();
    EXPECT_TRUE(Send(timer, "Pause")); // idle: nothing
    EXPECT_TRUE(Send(timer, "Unpause"));
    EXPECT_TRUE(Send(timer, "Cancel"));
    EXPECT_EQ(TakeProbeMessages(probe), "");
    Send(timer, "Begin");
    EXPECT_TRUE(Send(timer, "Pause"));
    EXPECT_TRUE(timer->IsPaused());
    timer->Tick(5000); // paused: no time passes
    EXPECT_TRUE(Send(timer, "Cancel"));
    EXPECT_EQ(TakeProbeMessages(probe), "Begin,Paused,Unpaused,Canceled");
    EXPECT_FALSE(timer->IsPaused());
    EXPECT_FALSE(timer->IsRunning());
    Send(timer, "Begin");
    Send(timer, "Pause");
    Send(timer, "Unpause");
    Send(timer, "Cancel");
    EXPECT_EQ(TakeProbeMessages(probe), "Begin,Paused,Unpaused,Canceled");
    EXPECT_FALSE(Send(timer, "Stop"));
}

// ---- Clock ----

TEST(ClockTest, ShowsTheShiftedTimeOfDay)
{
    struct Case {
        int64_t time;
        int delta;
        const char* text;
    };
    const Case kCases[] = {
        {20 * 3600 + 30 * 60, 9, "05:30"},
        {2 * 3600 + 10 * 60, -5, "21:10"},
        {0, 0, "00:00"},
        {86399, 0, "23:59"},
        {-60, 0, "23:59"},
        {12 * 3600, 1000000, "04:00"},
        {1700000000, -1000001, "05:13"},
    };
    for (const Case& c : kCases)
        EXPECT_EQ(Utf8FromWide(FUiClock::FormatTime(c.time, c.delta)), c.text) << c.time << " " << c.delta;
}

TEST(ClockTest, RendersFromTheWallClockAndFollowsIt)
{
    SetHeadlessCalendarTime(20 * 3600 + 30 * 60 + 59);
    auto run = AnimationRun(
        R"(<CLOCK Name="C" Font="DejaVu Sans" FontSize="12" FontColor="#000000" GmtDelta="9"/>)");
    FUiClock* clock = FindControl<FUiClock>(*run, "W.C");
    ASSERT_NE(clock, nullptr);
    EXPECT_EQ(Utf8FromWide(clock->GetText()), "05:30");
    EXPECT_GT(clock->GetRect().Width(), 0);
    EXPECT_GT(clock->GetRect().Height(), 0);
    EXPECT_EQ(clock->HitTest(1, 1), clock);
    HeadlessAdvanceTime(1000);
    EXPECT_EQ(Utf8FromWide(clock->GetText()), "05:31");
    SetHeadlessCalendarTime(2 * 3600 + 10 * 60);
    HeadlessAdvanceTime(10);
    EXPECT_EQ(Utf8FromWide(clock->GetText()), "11:10");
}

TEST(ClockTest, MissingFontKeysEndTheScript)
{
    for (const char* keys :
         {R"(FontSize="12" FontColor="#000000")", R"(Font="DejaVu Sans" FontColor="#000000")",
          R"(Font="DejaVu Sans" FontSize="12")"}) {
        // Straight in the window, which deletes the object whose script error ends the start.
        auto run = ControlsRun(std::string(R"(<CLOCK Name="C" )") + keys + "/>", AnimationSkins());
        EXPECT_FALSE(run->GetInitResult()) << keys;
        EXPECT_NE(run->GetInitException().find(
                      "FUiClock::InitUiObject() failed: missing required font property(s)"),
                  std::string::npos)
            << run->GetInitException();
    }
}

// ---- Blink ----

const char* const kBlinkImages = R"(<IMAGE Name="On" File_Image="blink_on.png"/>
    <IMAGE Name="Off" File_Image="blink_off.png"/>)";

TEST(BlinkTest, FlipsOnlyAfterMoreThanThePeriod)
{
    auto run = AnimationRun(std::string(R"(<BLINK Name="B" Period="500">)") + kBlinkImages + "</BLINK>");
    FUiBlink* blink = FindControl<FUiBlink>(*run, "W.B");
    ASSERT_NE(blink, nullptr);
    EXPECT_EQ(RectText(blink->GetRect()), "0,0,12,12");
    EXPECT_FALSE(blink->IsShowingOn());
    EXPECT_EQ(PresentedPixel(*run, 5, 5), ColourText(kBack));
    blink->Tick(500);
    EXPECT_FALSE(blink->IsShowingOn());
    blink->Tick(1);
    EXPECT_TRUE(blink->IsShowingOn());
    EXPECT_EQ(PresentedPixel(*run, 5, 5), ColourText(kMark));
    // On the window's ticks: the 51st tick of 10 ms passes 500 ms.
    for (int i = 0; i < 50; ++i)
        HeadlessAdvanceTime(10);
    EXPECT_TRUE(blink->IsShowingOn());
    HeadlessAdvanceTime(10);
    EXPECT_FALSE(blink->IsShowingOn());
    EXPECT_FALSE(Send(blink, "Show"));
}

TEST(BlinkTest, ScriptErrorsEndTheScript)
{
    struct Case {
        std::string body;
        const char* message;
    };
    const Case kCases[] = {
        {std::string(R"(<BLINK Name="B">)") + kBlinkImages + "</BLINK>",
         "FUiBlink::InitUiObject() failed: missing required property 'Period'!"},
        {R"(<BLINK Name="B" Period="500"><IMAGE Name="On" File_Image="blink_on.png"/></BLINK>)",
         "FUiBlink::InitUiObject() failed: do not have both on and off images!"},
        {R"(<BLINK Name="B" Period="500"><IMAGE Name="On" File_Image="blink_on.png"/>
            <IMAGE Name="Off" File_Image="blink_big.png"/></BLINK>)",
         "FUiBlink::InitUiObject() failed: on and off images are not the same size!"},
    };
    for (const Case& c : kCases) {
        auto run = ControlsRun(c.body, AnimationSkins());
        EXPECT_FALSE(run->GetInitResult()) << c.body;
        EXPECT_NE(run->GetInitException().find(c.message), std::string::npos) << run->GetInitException();
    }
}

} // namespace
