// Reviewing end to end: the real program on the real script and the real pool, on the
// sample raws, with the review window opened through its own messages.

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <memory>
#include <string>
#include <vector>

#include "FAppHarness.h"
#include "FGenericUiApp.h"
#include "FIPMImage.h"
#include "FIPManager.h"
#include "FImageFileListEntry.h"
#include "FProbeObject.h"
#include "FPropList.h"
#include "FTempDiskFolder.h"
#include "FUiImageView.h"
#include "FUiReviewWindow.h"
#include "SampleSet.h"

namespace
{

struct Picture {
    int cols = 0, rows = 0;
    std::vector<uint8_t> bgra; // rows packed
    uint32_t histogramCount = 0;

    // Mean of red, green and blue over a box given in fractions of the picture.
    void Mean(double x0, double y0, double x1, double y1, double rgb[3]) const
    {
        double sum[3] = {0, 0, 0};
        int n = 0;
        for (int y = static_cast<int>(rows * y0); y < static_cast<int>(rows * y1); ++y)
            for (int x = static_cast<int>(cols * x0); x < static_cast<int>(cols * x1); ++x, ++n)
                for (int c = 0; c < 3; ++c)
                    sum[c] += bgra[(static_cast<size_t>(y) * cols + x) * 4 + 2 - c];
        for (int c = 0; c < 3; ++c)
            rgb[c] = n ? sum[c] / n : 0.0;
    }
    double Luminance() const
    {
        double rgb[3];
        Mean(0, 0, 1, 1, rgb);
        return 0.299 * rgb[0] + 0.587 * rgb[1] + 0.114 * rgb[2];
    }
};

class ReviewJourneyTest : public ::testing::Test
{
protected:
    static void SetUpTestSuite()
    {
        s_folder = new FTempDiskFolder();
        SetIPManagerPoolSize(kDefaultIPManagerPoolSize);
        samples::SampleReport report;
        std::string error;
        s_made = samples::MakeSamples(s_folder->GetPath(), report, error);
        SetIPManagerPoolSize(0);
        if (!s_made)
            *s_error = error;
    }
    static void TearDownTestSuite()
    {
        delete s_folder;
        s_folder = nullptr;
    }

    // Opens a sample in the review window and waits until its processed image is shown.
    void Open(FAppHarness& app, const std::string& name)
    {
        ASSERT_TRUE(app.Send("ReviewWin", "Show"));
        m_window = dynamic_cast<FUiReviewWindow*>(app.Object("ReviewWin.WinMgr"));
        m_view = dynamic_cast<FUiImageView*>(app.Object("ReviewWin.View"));
        ASSERT_NE(m_window, nullptr);
        ASSERT_NE(m_view, nullptr);
        ASSERT_TRUE(app.Watch("ReviewWin.WinMgr", "ON_DISPLAY_HISTOGRAM"));
        m_entry.SetURL(s_folder->GetUrl(name));
        ASSERT_TRUE(app.Send("ReviewWin.WinMgr", "ImageFileListEntry", &m_entry));
        ASSERT_TRUE(WaitForImage(app))
            << "state " << m_window->GetEngineState() << " entry "
            << (m_window->GetEntry() ? m_window->GetEntry()->m_nCols : -1) << " fit "
            << m_window->GetFittedWidth() << " shown " << Shown(app) << " idle " << m_window->IsIdle()
            << " view " << m_view->GetInnerRect().Width() << "x" << m_view->GetInnerRect().Height();
    }
    int Shown(FAppHarness& app) const
    {
        int count = 0;
        for (const std::string& line : app.Log())
            count += line == "ON_DISPLAY_HISTOGRAM";
        return count;
    }
    // Until a further processed image arrived and nothing else is waiting.
    bool WaitForImage(FAppHarness& app)
    {
        const int before = m_nShown;
        const bool done = app.RunUntil([&] { return Shown(app) > before && m_window->IsIdle(); }, 3000);
        m_nShown = Shown(app);
        return done;
    }
    Picture Take() const
    {
        Picture picture;
        FIPMImage* image = m_view->GetImage();
        FPixmap* pixmap = image ? image->GetPixmap() : nullptr;
        if (!pixmap)
            return picture;
        picture.cols = pixmap->GetCols();
        picture.rows = pixmap->GetRows();
        for (int y = 0; y < picture.rows; ++y) {
            const uint8_t* row = pixmap->GetBuffer() + static_cast<size_t>(y) * pixmap->GetStride();
            picture.bgra.insert(picture.bgra.end(), row, row + picture.cols * 4);
        }
        if (FIHistogram* histogram = image->GetHistogramPtr())
            picture.histogramCount = histogram->GetCount();
        return picture;
    }

    static FTempDiskFolder* s_folder;
    static bool s_made;
    static std::string* s_error;
    FImageFileListEntry m_entry;
    FUiReviewWindow* m_window = nullptr;
    FUiImageView* m_view = nullptr;
    int m_nShown = 0;
};

FTempDiskFolder* ReviewJourneyTest::s_folder = nullptr;
bool ReviewJourneyTest::s_made = false;
std::string* ReviewJourneyTest::s_error = new std::string;

TEST_F(ReviewJourneyTest, OpenAdjustAndGoBack)
{
    ASSERT_TRUE(s_made) << *s_error;
    FAppHarness harness;
    harness.Start([&](FAppHarness& app) {
        Open(app, "chart.q7f");
        if (HasFatalFailure())
            return;
        Picture first = Take();
        // The view shows the fitted size, and the histogram counts every pixel of it.
        EXPECT_EQ(first.cols, m_window->GetFittedWidth());
        EXPECT_EQ(first.rows, m_window->GetFittedHeight());
        EXPECT_TRUE(first.cols == m_view->GetInnerRect().Width() ||
                    first.rows == m_view->GetInnerRect().Height());
        EXPECT_EQ(first.histogramCount, static_cast<uint32_t>(first.cols * first.rows));

        FWideString automatic("Auto");
        ASSERT_TRUE(app.Send("ReviewWin.WinMgr", "SettingsModeText", &automatic));
        ASSERT_TRUE(WaitForImage(app));
        const Picture autoImage = Take();

        ASSERT_TRUE(app.Send("ReviewWin.WinMgr", "ManualAdjust"));
        double exposure = m_window->GetCustomSettings().Exposure + 1.0;
        ASSERT_TRUE(app.Send("ReviewWin.WinMgr", "ExposureChange", &exposure));
        ASSERT_TRUE(WaitForImage(app));
        const Picture brighter = Take();
        EXPECT_GT(brighter.Luminance(), autoImage.Luminance() + 5.0);

        ASSERT_TRUE(app.Send("ReviewWin.WinMgr", "SettingsModeText", &automatic));
        ASSERT_TRUE(WaitForImage(app));
        const Picture back = Take();
        EXPECT_EQ(back.cols, autoImage.cols);
        EXPECT_TRUE(back.bgra == autoImage.bgra) << "the automatic image did not come back byte for byte";
        app.Send("MainWin", "Close");
    });
}

TEST_F(ReviewJourneyTest, GrayPointNeutralisesTheCard)
{
    ASSERT_TRUE(s_made) << *s_error;
    FAppHarness harness;
    harness.Start([&](FAppHarness& app) {
        Open(app, "tungsten-cast.q7f");
        if (HasFatalFailure())
            return;
        double rgb[3];
        Take().Mean(0.4, 0.45, 0.6, 0.55, rgb);
        EXPECT_GT(rgb[0], rgb[2] * 1.1) << "the sample should start with a warm cast";

        bool on = true;
        ASSERT_TRUE(app.Send("ReviewWin.WinMgr", "EnableGrayBalance", &on));
        // The script routes the mode and the loupe to the view (not to the menu of that name).
        EXPECT_TRUE(m_view->IsGrayBalanceMode());
        ASSERT_TRUE(app.Send("ReviewWin.WinMgr", "ToggleLoupe"));
        EXPECT_TRUE(m_view->IsLoupeEnabled());
        ASSERT_TRUE(app.Send("ReviewWin.WinMgr", "ToggleLoupe"));
        double point[2] = {0.5, 0.5};
        ASSERT_TRUE(app.Send("ReviewWin.WinMgr", "GrayBalanceXY", point));
        ASSERT_TRUE(WaitForImage(app));
        Take().Mean(0.4, 0.45, 0.6, 0.55, rgb);
        const double grey = (rgb[0] + rgb[1] + rgb[2]) / 3.0;
        for (int c = 0; c < 3; ++c)
            EXPECT_NEAR(rgb[c], grey, grey * 0.025) << "channel " << c;
        app.Send("MainWin", "Close");
    });
}

TEST_F(ReviewJourneyTest, APresetWhiteBalanceIsWrittenIntoTheFile)
{
    ASSERT_TRUE(s_made) << *s_error;
    FAppHarness harness;
    harness.Start([&](FAppHarness& app) {
        Open(app, "chart.q7f");
        if (HasFatalFailure())
            return;
        FWideString tungsten("Tungsten");
        ASSERT_TRUE(app.Send("ReviewWin.WinMgr", "Reply2", &tungsten));
        ASSERT_TRUE(WaitForImage(app));
        FImageFileListEntry reread;
        reread.SetURL(m_entry.m_usURL);
        FIPManager* pool = GetIPManagerPool();
        ASSERT_TRUE(reread.GetProps(pool));
        ReleaseIPManager(&pool);
        EXPECT_EQ(std::string(reread.m_usWhiteBalance.GetNarrow()), "Tungsten");
        app.Send("MainWin", "Close");
    });
}

} // namespace

namespace
{

TEST_F(ReviewJourneyTest, StateRoundTripsAndTheChooserAnswersInternalNames)
{
    FAppHarness harness;
    harness.Start([&](FAppHarness& app) {
        auto* window = dynamic_cast<FUiReviewWindow*>(app.Object("ReviewWin.WinMgr"));
        ASSERT_NE(window, nullptr);
        FWideString custom("Custom");
        ASSERT_TRUE(app.Send("ReviewWin.WinMgr", "SettingsModeText", &custom));
        double exposure = 0.75, contrast = -1.25;
        app.Send("ReviewWin.WinMgr", "ExposureChange", &exposure);
        app.Send("ReviewWin.WinMgr", "ContrastChange", &contrast);
        app.Send("ReviewWin.WinMgr", "IncLoupeMag");
        app.Send("ReviewWin.WinMgr", "we're goin' bye-bye");
        FWideString fullName;
        window->GetFullName(fullName);
        FPropList* state = app.App()->GetPersistentData(fullName);
        ASSERT_NE(state, nullptr);
        EXPECT_EQ(state->GetInt(FWideString("Mode"), 0), CustomSettingMode);
        EXPECT_EQ(std::string(state->GetString(FWideString("Exposure"), FWideString()).GetNarrow()),
                  "0.7500");

        // Another start reads them back.
        state->SetInt(FWideString("Mode"), AutoSettingMode);
        state->SetFloat(FWideString("Shadow"), 0.5);
        app.Send("ReviewWin.WinMgr", "Post Creation Initialization");
        EXPECT_EQ(window->GetSettingMode(), AutoSettingMode);
        EXPECT_DOUBLE_EQ(window->GetCustomSettings().Exposure, 0.75);
        EXPECT_DOUBLE_EQ(window->GetCustomSettings().Contrast, -1.25);
        EXPECT_DOUBLE_EQ(window->GetCustomSettings().Blackness, 0.5);
        EXPECT_NEAR(window->GetLoupeMag(), std::sqrt(3.0), 1e-4);

        // The chooser shows the English texts and answers with the internal names.
        ASSERT_TRUE(app.Watch("WhiteBalanceWin.WinMgr", "ON_SAVE"));
        ASSERT_NE(app.Probe(), nullptr);
        app.Probe()->SetDataKind("ON_SAVE", EProbeData::kString);
        std::vector<FWideString> illuminants = {FWideString("Daylight"), FWideString("Tungsten")};
        app.Send("WhiteBalanceWin.WinMgr", "Illuminants", &illuminants);
        for (const char* shown : {"Cloudy", "As Shot", "Candlelight"}) {
            FWideString choice(shown);
            app.Send("WhiteBalanceWin.WinMgr", "Choice", &choice);
            app.Send("WhiteBalanceWin.WinMgr", "Save");
        }
        auto* probe = app.Probe();
        ASSERT_NE(probe, nullptr);
        std::vector<std::string> saved;
        for (const FProbeRecord& record : probe->GetRecords())
            if (record.message == "ON_SAVE")
                saved.push_back(record.data);
        EXPECT_EQ(saved, (std::vector<std::string>{"Cloudy", "Original", "Candlelight"}));
        app.Send("MainWin", "Close");
    });
}

} // namespace

namespace
{

TEST_F(ReviewJourneyTest, AFileDamagedWhileReviewedSettlesAndIsNotWritten)
{
    ASSERT_TRUE(s_made) << *s_error;
    std::string bytes;
    ASSERT_TRUE(s_folder->ReadFile("chart.q7f", bytes));
    ASSERT_TRUE(s_folder->WriteFile("damaged.q7f", bytes));
    FAppHarness harness;
    harness.Start([&](FAppHarness& app) {
        Open(app, "damaged.q7f");
        if (HasFatalFailure())
            return;
        ASSERT_TRUE(app.Watch("ReviewWin.WinMgr", "ON_FILE_ERROR"));
        ASSERT_TRUE(app.Watch("ReviewWin.WinMgr", "ON_IMAGE_ERROR"));
        // Cut short behind the window's back, then a change that needs the file again.
        const std::string damaged = bytes.substr(0, bytes.size() / 3);
        ASSERT_TRUE(s_folder->WriteFile("damaged.q7f", damaged));
        ASSERT_TRUE(app.Send("ReviewWin.WinMgr", "ManualAdjust"));
        double exposure = 0.5;
        const int shown = Shown(app);
        ASSERT_TRUE(app.Send("ReviewWin.WinMgr", "ExposureChange", &exposure));
        auto errors = [&] {
            const std::vector<std::string> log = app.Log();
            return std::count(log.begin(), log.end(), "ON_FILE_ERROR") +
                   std::count(log.begin(), log.end(), "ON_IMAGE_ERROR");
        };
        // The engine may still hold the decoded capture and show the change; if it goes
        // back to the file, the damage is one error. Either way the window settles.
        EXPECT_TRUE(
            app.RunUntil([&] { return (errors() > 0 || Shown(app) > shown) && m_window->IsIdle(); }, 3000));
        EXPECT_LE(errors(), 1);
        FWideString acknowledged("ErrorAcknowleged");
        app.Send("ReviewWin.WinMgr", "Reply", &acknowledged);
        app.RunUntil([&] { return m_window->IsIdle(); }, 3000);
        std::string after;
        ASSERT_TRUE(s_folder->ReadFile("damaged.q7f", after));
        EXPECT_TRUE(after == damaged) << "the window wrote into a file nobody asked it to change";
        app.Send("MainWin", "Close");
    });
}

} // namespace
