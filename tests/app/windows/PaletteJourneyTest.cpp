// The adjustment palette as a photographer uses it, through the real program, script and
// pool: it comes and goes with the review window as the browser keeps it wanted, its
// sliders change the picture while they are dragged, its controls follow whatever the
// picture is made with, its tracks line up in every language, its histogram levels step,
// and a saved setting can be deleted there.

#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "FAppHarness.h"
#include "FGenericUiWindow.h"
#include "FTempDiskFolder.h"
#include "FUiHistogram.h"
#include "FUiReviewWindow.h"
#include "FUiSettings.h"
#include "FUiSlider.h"
#include "FUiTextBox.h"
#include "SampleJourney.h"

namespace
{

const char* const kSliders[] = {"Exposure",   "Contrast",  "Shadow",   "Highlight",
                                "Saturation", "Sharpness", "FillLight"};

class PaletteJourney : public ::testing::Test
{
protected:
    void SetUp() override
    {
        std::string error;
        ASSERT_NE(journey::Samples(error), nullptr) << error;
        ASSERT_TRUE(journey::CopySample(m_folder, "chart.q7f", "a.q7f"));
    }
    // Reviews the chart with the palette on screen.
    void Open(FAppHarness& app)
    {
        ASSERT_NE(journey::ShowFolder(app, m_folder.GetUrl(), 1), nullptr);
        ASSERT_TRUE(journey::ReviewAndWait(app, m_folder.GetUrl("a.q7f")));
        if (!app.Window("PaletteWin")->IsOnScreen()) {
            ASSERT_TRUE(app.Key("ReviewWin", EOsKey::kLetter, 'P'));
        }
        ASSERT_TRUE(app.Window("PaletteWin")->IsOnScreen());
    }
    // Starts the program, reviews the chart with the palette on screen, then runs `body`.
    void RunOpened(const std::function<void(FAppHarness&)>& body)
    {
        FAppHarness harness;
        harness.Start([&](FAppHarness& app) {
            Open(app);
            if (!HasFatalFailure())
                body(app);
            app.Send("MainWin", "Close");
        });
        EXPECT_TRUE(harness.BodyRan());
    }
    static FUiSlider* Slider(FAppHarness& app, const std::string& name)
    {
        const std::string section = name == "ModeSlider" ? "ModeSec." : "SlidersSec.";
        return dynamic_cast<FUiSlider*>(app.Object("PaletteWin." + section + name));
    }
    static std::string Text(FAppHarness& app, const std::string& path)
    {
        auto* box = dynamic_cast<FUiTextBox*>(app.Object(path));
        return box ? box->GetText().GetNarrow() : "<no text box>";
    }
    FTempDiskFolder m_folder;
};

TEST_F(PaletteJourney, ComesAndGoesWithTheReviewWindow)
{
    FAppHarness harness;
    harness.Start([&](FAppHarness& app) {
        FGenericUiWindow* palette = app.Window("PaletteWin");
        FGenericUiWindow* review = app.Window("ReviewWin");
        ASSERT_TRUE(palette && review);
        EXPECT_FALSE(palette->IsOnScreen());
        // Wanted from the browser: it waits for the review window.
        ASSERT_TRUE(app.Key("MainWin", EOsKey::kLetter, 'P'));
        EXPECT_FALSE(palette->IsOnScreen());
        ASSERT_NE(journey::ShowFolder(app, m_folder.GetUrl(), 1), nullptr);
        ASSERT_TRUE(journey::ReviewThroughBrowser(app, m_folder.GetUrl("a.q7f")));
        EXPECT_TRUE(review->IsVisible());
        EXPECT_TRUE(palette->IsOnScreen());

        ASSERT_TRUE(app.Key("ReviewWin", EOsKey::kLetter, 'P'));
        EXPECT_FALSE(palette->IsOnScreen());
        ASSERT_TRUE(app.Click("ReviewWin.Palette"));
        EXPECT_TRUE(palette->IsOnScreen());

        // A section folds away and the palette shrinks with it.
        FRect open, folded;
        palette->GetWindowRect(open);
        ASSERT_TRUE(app.Click("PaletteWin.HdrSliders"));
        palette->GetWindowRect(folded);
        EXPECT_LT(folded.Height(), open.Height() - 7 * 18);

        // Closing the review window takes the palette away; it comes back with it.
        ASSERT_TRUE(app.Key("ReviewWin", EOsKey::kLetter, 'W', true));
        EXPECT_FALSE(review->IsVisible());
        EXPECT_FALSE(palette->IsOnScreen());
        ASSERT_TRUE(journey::ReviewThroughBrowser(app, m_folder.GetUrl("a.q7f")));
        EXPECT_TRUE(palette->IsOnScreen());
        app.Send("MainWin", "Close");
    });
    EXPECT_TRUE(harness.BodyRan());
    std::string state;
    ASSERT_TRUE(harness.ReadStateFile(state));
    std::erase(state, '\0');
    EXPECT_NE(state.find("AdjustmentPaletteVisible=\"T\""), std::string::npos) << state;
    EXPECT_NE(state.find("AdjustmentPaletteSlidersSectionVisible=\"F\""), std::string::npos) << state;
}

// A drag sends its values while it goes (the newest waits, older ones are dropped) and the
// value where the knob comes to rest; the number beside the track follows the knob.
TEST_F(PaletteJourney, DraggingASliderChangesThePictureLive)
{
    RunOpened([&](FAppHarness& app) {
        auto* review = dynamic_cast<FUiReviewWindow*>(app.Object("ReviewWin.WinMgr"));
        FUiSlider* exposure = Slider(app, "S_Exposure");
        ASSERT_TRUE(review && exposure);
        const FRect knob = exposure->GetKnobRect();
        std::vector<double> seen;
        ASSERT_TRUE(journey::Drag(app, "PaletteWin", (knob.left + knob.right) / 2,
                                  (knob.top + knob.bottom) / 2, 40, 0, 4,
                                  [&] { seen.push_back(review->GetCustomSettings().Exposure); }));
        // Every move reached the review window, in custom mode.
        EXPECT_EQ(review->GetSettingMode(), CustomSettingMode);
        ASSERT_EQ(seen.size(), 4u);
        EXPECT_GT(seen.front(), 0.0);
        EXPECT_LT(seen.front(), seen.back());
        EXPECT_DOUBLE_EQ(review->GetCustomSettings().Exposure, exposure->GetValue());
        EXPECT_EQ(Text(app, "PaletteWin.SlidersSec.V_Exposure"), exposure->GetValueText().GetNarrow());
        EXPECT_EQ(Text(app, "PaletteWin.SlidersSec.V_Exposure").front(), '+');
        EXPECT_TRUE(journey::WaitForNewPicture(app));
    });
}

// Reset, a saved setting and the file's own values move the knobs, the numbers and the mode.
TEST_F(PaletteJourney, TheControlsFollowWhatThePictureIsMadeWith)
{
    RunOpened([&](FAppHarness& app) {
        auto* review = dynamic_cast<FUiReviewWindow*>(app.Object("ReviewWin.WinMgr"));
        FUiSlider* exposure = Slider(app, "S_Exposure");
        FUiSlider* mode = Slider(app, "ModeSlider");
        ASSERT_TRUE(review && exposure && mode);

        // A saved setting "Bright" with exposure +1.
        ProcessingSettings bright;
        bright.Exposure = 1.0;
        FWideString name("Bright");
        ASSERT_TRUE(app.Send("Settings", "SettingsData", &bright));
        ASSERT_TRUE(app.Send("SaveSettingWin.Name", "SetText", &name));
        ASSERT_TRUE(app.Send("Settings", "SaveSettings"));

        ASSERT_TRUE(app.Click("PaletteWin.ModeSec.Reset"));
        EXPECT_EQ(review->GetSettingMode(), CustomSettingMode);
        EXPECT_NEAR(exposure->GetFraction(), 0.5, 0.01);
        EXPECT_EQ(Text(app, "PaletteWin.SlidersSec.V_Exposure"), "0.00");
        EXPECT_NEAR(mode->GetFraction(), 1.0, 0.01);

        ASSERT_TRUE(app.Send("ReviewWin.WinMgr", "SettingsModeText", &(name = FWideString("Default"))));
        EXPECT_NEAR(mode->GetFraction(), 0.0, 0.01);
        ASSERT_TRUE(app.Send("ReviewWin.WinMgr", "SelectedSetting", &(name = FWideString("Bright"))));
        EXPECT_DOUBLE_EQ(review->GetCustomSettings().Exposure, 1.0);
        EXPECT_NEAR(exposure->GetValue(), 1.0, 1e-9);
        EXPECT_EQ(Text(app, "PaletteWin.SlidersSec.V_Exposure"), "+1.00");
        EXPECT_NEAR(mode->GetFraction(), 1.0, 0.01) << "the mode stays where it was";

        // The file's own values, as shot.
        const double asShot = review->GetFileSettings().Exposure;
        ASSERT_TRUE(app.Key("ReviewWin", EOsKey::kDigit, '1', true));
        EXPECT_EQ(review->GetSettingMode(), Q7FSettingMode);
        EXPECT_NEAR(exposure->GetValue(), asShot, 0.03);
        EXPECT_NEAR(mode->GetFraction(), 0.0, 0.01);
    });
}

// The tracks start at one x whatever the labels are in the language shown.
TEST_F(PaletteJourney, TheTracksLineUpInEveryLanguage)
{
    for (const char* language : {"English", "French", "German", "Japanese"}) {
        FAppHarness harness;
        harness.SetStartLanguage(language);
        harness.Start([&](FAppHarness& app) {
            int left = -1;
            for (const char* name : kSliders) {
                FUiSlider* slider = Slider(app, std::string("S_") + name);
                FUiObject* label = app.Object(std::string("PaletteWin.SlidersSec.L_") + name);
                ASSERT_TRUE(slider && label) << name;
                if (left < 0)
                    left = slider->GetRect().left;
                EXPECT_EQ(slider->GetRect().left, left) << language << " " << name;
                EXPECT_LE(label->GetRect().right, left) << language << " " << name;
                EXPECT_EQ(label->GetRect().top + label->GetRect().Height() / 2,
                          slider->GetRect().top + slider->GetRect().Height() / 2)
                    << language << " " << name;
            }
            app.Send("MainWin", "Close");
        });
        EXPECT_TRUE(harness.BodyRan());
    }
}

TEST_F(PaletteJourney, TheWarningLevelsStep)
{
    RunOpened([&](FAppHarness& app) {
        auto* hist = dynamic_cast<FUiHistogram*>(app.Object("PaletteWin.HistSec.Hist"));
        ASSERT_NE(hist, nullptr);
        const int shadow = hist->GetShadowLevel();
        const int highlight = hist->GetHighlightLevel();
        ASSERT_TRUE(app.Click("PaletteWin.HistSec.ShPlus"));
        ASSERT_TRUE(app.Click("PaletteWin.HistSec.ShPlus"));
        ASSERT_TRUE(app.Click("PaletteWin.HistSec.HiMinus"));
        EXPECT_EQ(hist->GetShadowLevel(), shadow + 2);
        EXPECT_EQ(hist->GetHighlightLevel(), highlight - 1);
        EXPECT_EQ(Text(app, "PaletteWin.HistSec.ShVal"), std::to_string(shadow + 2));
        EXPECT_EQ(Text(app, "PaletteWin.HistSec.HiVal"), std::to_string(highlight - 1));
        // A step shows the marks, and the box says so.
        bool shown = false;
        ASSERT_TRUE(app.Send("PaletteWin.HistSec.Warn", "StateQuery", &shown));
        EXPECT_TRUE(shown);
        ASSERT_TRUE(app.Click("PaletteWin.HistSec.Warn"));
        ASSERT_TRUE(app.Send("PaletteWin.HistSec.Warn", "StateQuery", &shown));
        EXPECT_FALSE(shown);
    });
}

// Delete…, a choice, and a confirmation: the setting leaves the list and the file.
TEST_F(PaletteJourney, ASavedSettingIsDeletedAfterAConfirmation)
{
    RunOpened([&](FAppHarness& app) {
        auto* settings = dynamic_cast<FUiSettings*>(app.Object("Settings"));
        ASSERT_NE(settings, nullptr);
        FWideString name("Warm");
        ASSERT_TRUE(app.Send("SaveSettingWin.Name", "SetText", &name));
        ASSERT_TRUE(app.Send("Settings", "SaveSettings"));
        ASSERT_EQ(settings->GetEntries().size(), 2u);

        ASSERT_TRUE(app.Click("PaletteWin.ModeSec.DelSet"));
        FGenericUiWindow* chooser = app.Window("DeleteSettingWin");
        FGenericUiWindow* question = app.Window("ConfirmSettingWin");
        ASSERT_TRUE(chooser && question);
        ASSERT_TRUE(chooser->IsVisible());
        FWideString id("Custom0");
        app.Send("DeleteSettingWin.Names", "SelectID", &id);
        ASSERT_TRUE(app.Click("DeleteSettingWin.OK"));
        ASSERT_TRUE(question->IsVisible());
        EXPECT_EQ(Text(app, "ConfirmSettingWin.Name"), "Warm");
        // Cancel keeps it.
        ASSERT_TRUE(app.Click("ConfirmSettingWin.Cancel"));
        EXPECT_EQ(settings->GetEntries().size(), 2u);
        ASSERT_TRUE(app.Click("DeleteSettingWin.OK"));
        ASSERT_TRUE(app.Click("ConfirmSettingWin.Delete"));
        EXPECT_FALSE(question->IsVisible());
        EXPECT_FALSE(chooser->IsVisible());
        EXPECT_EQ(settings->GetEntries().size(), 1u);
        // Nothing left to delete.
        ASSERT_FALSE(app.Click("PaletteWin.ModeSec.DelSet") && chooser->IsVisible());
    });
}

} // namespace
