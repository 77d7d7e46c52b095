#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <limits>
#include <string>
#include <vector>

#include "FDebugTrace.h"
#include "FGenericUiWindow.h"
#include "FIUiPixmap.h"
#include "FProbeObject.h"
#include "FUiColorAdjust.h"
#include "ReviewDisplayTestSupport.h"

namespace
{

const char* const kEvents = R"(<ON_CHANGE Relay="Probe" Message="Change"/>
  <ON_UPDATE Relay="Probe" Message="Update"/>
  <ON_TOGGLE_GRAY_BALANCE Relay="Probe" Message="Toggle"/>
  <ON_ENABLE_GRAY_BALANCE Relay="Probe" Message="EnableGray"/>
  <ON_REDRAW Relay="Probe" Message="Redraw"/>
  <ON_MANUAL Relay="Probe" Message="Manual"/>)";

// A wheel of odd size whose centre pixel is (size / 2, size / 2).
struct WheelRun {
    explicit WheelRun(int size = 241, const std::string& marker = R"(File_Image_O="marker.png")")
        : run(ReviewRun(
              R"(<COLOR_ADJUST Name="C" MinHSize=")" + std::to_string(size) + R"(" MinVSize=")" +
                  std::to_string(size) +
                  R"(" HStretch="0" VStretch="0" FrameColor="#141414" FrameThickness="0" FillColor="#222222" )" +
                  marker + ">" + kEvents + "</COLOR_ADJUST>",
              size, size))
    {
        wheel = ReviewWidget<FUiColorAdjust>(*run, "C");
        probe = ReviewProbe();
        probe->SetDataKind("Update", EProbeData::kString);
        probe->SetDataKind("EnableGray", EProbeData::kBool);
        probe->SetOnMessage([this](const FProbeRecord& record) {
            if (record.message == "Change" && record.pointer) {
                const double* g = static_cast<const double*>(record.pointer);
                char text[96];
                std::snprintf(text, sizeof(text), "%.6f %.6f %.6f", g[0], g[1], g[2]);
                lastChange = text;
            }
        });
    }
    ~WheelRun() { probe->SetOnMessage({}); }

    bool Send(const char* message, void* data = nullptr)
    {
        return wheel->UiRelayMessage(FWideString(message), data);
    }
    std::string Events()
    {
        std::string all;
        for (const FProbeRecord& r : probe->GetRecords()) {
            if (r.message == "Post Creation Initialization" || r.message == "Update")
                continue;
            all += (all.empty() ? "" : ",") + r.message + (r.data.empty() ? "" : "=" + r.data);
        }
        probe->Clear();
        return all;
    }
    std::string Densities() const
    {
        const int32_t* d = wheel->GetDensities();
        return std::to_string(d[0]) + "," + std::to_string(d[1]) + "," + std::to_string(d[2]);
    }

    std::unique_ptr<FUiTestApp> run;
    FUiColorAdjust* wheel = nullptr;
    FProbeObject* probe = nullptr;
    std::string lastChange;
};

std::string Gains(const double* g)
{
    char text[96];
    std::snprintf(text, sizeof(text), "%.6f %.6f %.6f", g[0], g[1], g[2]);
    return text;
}

TEST(ColorAdjustTest, UnitPositionsGiveWholeStepsOfCompensation)
{
    WheelRun w;
    ASSERT_NE(w.wheel, nullptr);
    struct Case {
        int x, y;
        std::string densities;
    };
    // One unit is 110 pixels from the centre (120, 120).
    const Case cases[] = {
        {230, 120, "0,27,114"}, {10, 120, "114,27,0"}, {120, 10, "60,0,60"}, {120, 230, "0,148,0"}};
    for (const Case& c : cases) {
        w.Send("Reset");
        w.Events();
        EXPECT_TRUE(w.wheel->MouseDown(c.x, c.y, false, false));
        EXPECT_EQ(w.Densities(), c.densities) << c.x << "," << c.y;
        const int32_t* d = w.wheel->GetDensities();
        for (int k = 0; k < 3; ++k)
            EXPECT_DOUBLE_EQ(w.wheel->GetGains()[k], std::pow(10.0, -0.01 * d[k]));
        EXPECT_EQ(w.Events(), "Manual,Redraw,Change");
        EXPECT_EQ(w.lastChange, Gains(w.wheel->GetGains()));
        w.wheel->MouseUp(c.x, c.y, false, false);
    }
    w.Send("Reset");
    w.wheel->MouseDown(230, 120, false, false);
    EXPECT_EQ(Gains(w.wheel->GetGains()), "1.000000 0.537032 0.072444");
    // The wheel scrolled toward the point it was given.
    EXPECT_GT(w.wheel->GetOffsetX(), 0);
    EXPECT_EQ(w.wheel->GetOffsetY(), 0);
    // The paint reports the filter text.
    w.probe->Clear();
    DrawnPixel(*w.run, 0, 0);
    ASSERT_FALSE(w.probe->GetRecords().empty());
    EXPECT_EQ(w.probe->GetRecords().back().message, "Update");
    EXPECT_EQ(w.probe->GetRecords().back().data, "27M+114Y");
    w.wheel->MouseUp(230, 120, false, false);
}

TEST(ColorAdjustTest, ResetCentresAndAClickInTheSameStepRedrawsNothing)
{
    WheelRun w;
    w.wheel->MouseDown(60, 200, false, false);
    w.wheel->MouseUp(60, 200, false, false);
    ASSERT_NE(w.Densities(), "0,0,0");
    w.Events();
    EXPECT_TRUE(w.Send("Reset"));
    EXPECT_EQ(w.Events(), "Redraw,Redraw,Change");
    EXPECT_EQ(w.lastChange, "1.000000 1.000000 1.000000");
    EXPECT_EQ(w.Densities(), "0,0,0");
    EXPECT_EQ(w.wheel->GetOffsetX(), 0);
    EXPECT_EQ(w.wheel->GetOffsetY(), 0);
    int mx = -1, my = -1;
    w.wheel->GetMarkerPixel(mx, my);
    EXPECT_EQ(mx, 120);
    EXPECT_EQ(my, 120);
    EXPECT_EQ(DrawnPixel(*w.run, 120, 120), "255,0,255");

    // The exact centre of the unscrolled wheel: no new step, no scrolling.
    w.Events();
    w.wheel->MouseDown(120, 120, false, false);
    w.wheel->Tick(10);
    w.wheel->MouseMove(121, 121);
    w.wheel->MouseUp(121, 121, false, false);
    w.wheel->Tick(10);
    EXPECT_EQ(w.Events(), "Manual,Change,Change,Change");
    EXPECT_EQ(w.wheel->GetOffsetX(), 0);
    EXPECT_EQ(w.wheel->GetOffsetY(), 0);
    EXPECT_FALSE(w.wheel->IsDragging());
}

TEST(ColorAdjustTest, GainsMessagesAndTheGrayBalanceThreshold)
{
    WheelRun w;
    w.Events();
    double equal[3] = {2, 2, 2};
    EXPECT_TRUE(w.Send("UpdateColorAdjust", equal));
    EXPECT_EQ(w.Events(), "Change");
    EXPECT_EQ(w.lastChange, "1.000000 1.000000 1.000000");

    // The gains of a setting come back to the same setting.
    double cast[3] = {1.0, std::pow(10.0, -0.27), std::pow(10.0, -1.14)};
    w.Send("UpdateColorAdjust", cast);
    EXPECT_EQ(w.Densities(), "0,27,114");
    EXPECT_EQ(w.Events(), "Redraw,Change");

    w.Send("Reset");
    w.Events();
    double weak[3] = {1, 1, 0.04};
    EXPECT_TRUE(w.Send("SetGrayBalance", weak));
    EXPECT_EQ(w.Events(), "");
    EXPECT_EQ(w.Densities(), "0,0,0");
    double enough[3] = {1, 1, 0.06};
    EXPECT_TRUE(w.Send("SetGrayBalance", enough));
    EXPECT_EQ(w.Events(), "Redraw,Manual,Change");
    EXPECT_NE(w.Densities(), "0,0,0");

    // Gains no setting can come from are refused with a trace.
    FDebugTraceCapture trace;
    const std::string before = w.Densities();
    const double nan = std::numeric_limits<double>::quiet_NaN();
    for (const auto& bad : {std::vector<double>{nan, 1, 1}, std::vector<double>{0, 0, 0},
                            std::vector<double>{1, -1, 1}, std::vector<double>{INFINITY, 1, 1}}) {
        std::vector<double> gains = bad;
        EXPECT_TRUE(w.Send("UpdateColorAdjust", gains.data()));
        EXPECT_TRUE(w.Send("SetGrayBalance", gains.data()));
    }
    EXPECT_EQ(w.Events(), "");
    EXPECT_EQ(w.Densities(), before);
    EXPECT_TRUE(trace.Contains("not finite and positive"));

    EXPECT_TRUE(w.Send("ToggleGrayBalance"));
    bool on = true;
    EXPECT_TRUE(w.Send("EnableGrayBalance", &on));
    EXPECT_EQ(w.Events(), "Toggle,EnableGray=true");
    for (const char* message : {"EnableGrayBalance", "UpdateColorAdjust", "SetGrayBalance"})
        EXPECT_FALSE(w.Send(message)) << message;
    EXPECT_FALSE(w.Send("NoSuchMessage"));
    EXPECT_TRUE(w.Send("Post Creation Initialization"));
}

TEST(ColorAdjustTest, WheelPictureDotsAndRoundWindow)
{
    WheelRun w(41);
    ASSERT_NE(w.wheel->GetWheelPicture(), nullptr);
    FIUiPixmap* wheel = w.wheel->GetWheelPicture();
    // 1 + 2 x trunc(1.42 x 41).
    EXPECT_EQ(wheel->GetWidth(), 117);
    FUiColor centre;
    wheel->GetPixel(58, 58, centre);
    // White, darkened by a third six times over: 255, 170, 113, 75, 50, 33, 22.
    EXPECT_EQ(Rgb(centre), "22,22,22");
    FUiColor beside;
    wheel->GetPixel(60, 58, beside);
    EXPECT_GT(beside.red + beside.green + beside.blue, 600);
    // Outside the circle the fill colour; the marker in the middle.
    EXPECT_EQ(DrawnPixel(*w.run, 0, 0), "34,34,34");
    EXPECT_EQ(DrawnPixel(*w.run, 20, 20), "255,0,255");
}

TEST(ColorAdjustTest, StrongCastsOnASmallWheelAndNoMarkerPicture)
{
    FDebugTraceCapture trace;
    WheelRun w(21, "");
    ASSERT_NE(w.wheel, nullptr);
    EXPECT_TRUE(trace.Contains("no marker picture"));
    // Offsets far beyond the wheel's margin: the window still reads the wheel only.
    double strong[3] = {1.0, 0.03, 0.03};
    w.Send("UpdateColorAdjust", strong);
    EXPECT_GT(w.wheel->GetOffsetX(), w.wheel->GetWheelPicture()->GetWidth() / 2);
    const std::string middle = DrawnPixel(*w.run, 10, 10);
    EXPECT_NE(middle, "255,0,255");
    EXPECT_NE(middle, "34,34,34");
    w.wheel->MouseDown(20, 20, false, false);
    w.wheel->MouseUp(0, 0, false, false);
    DrawnPixel(*w.run, 10, 10);
}

TEST(ColorAdjustTest, MissingKeysFailTheWheel)
{
    auto run = ReviewRun(R"(<COLOR_ADJUST Name="C" MinHSize="41" MinVSize="41" HStretch="0" VStretch="0"
        FrameColor="#141414" FillColor="#222222"/>)",
                         41, 41);
    EXPECT_EQ(ReviewWidget<FUiColorAdjust>(*run, "C"), nullptr);
}

} // namespace
