#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <string>
#include <vector>

#include "FDebugTrace.h"
#include "FGenericUiWindow.h"
#include "FHeadlessUiWindow.h"
#include "FProbeObject.h"
#include "FUiImageView.h"
#include "ReviewDisplayTestSupport.h"

namespace
{

const FUiColor kFrame(16, 32, 48, 255);
const FUiColor kFill(64, 64, 64, 255);
const FUiColor kPhoto(200, 100, 50, 255);

const char* const kEvents = R"(<ON_NEW_IMAGE Relay="Probe" Message="NewImage"/>
  <ON_IMAGE_RESIZE Relay="Probe" Message="Resize"/>
  <ON_NEED_LOUPE_IMAGE Relay="Probe" Message="NeedLoupe"/>
  <ON_REPORT_GRAY_BALANCE_XY Relay="Probe" Message="GrayXY"/>)";

// A 400 x 300 view with a frame of 2: the inner area is (2, 2) to (398, 298).
std::string ViewTag(const std::string& more = "", bool stretch = false, const std::string& events = kEvents)
{
    return std::string(
               R"(<IMAGE_VIEW Name="V" File_EyeDropperIcon="eye.png" MinHSize="400" MinVSize="300" )") +
           (stretch ? R"(HStretch="1" VStretch="1")" : R"(HStretch="0" VStretch="0")") +
           R"( FrameColor="#102030" FrameThickness="2" FillColor="#404040" Font="DejaVu Sans" FontSize="12" )" +
           more + ">" + events + "</IMAGE_VIEW>";
}

struct ViewRun {
    explicit ViewRun(const std::string& more = "", bool stretch = false)
        : run(ReviewRun(ViewTag(more, stretch), 400, 300))
    {
        view = ReviewWidget<FUiImageView>(*run, "V");
        probe = ReviewProbe();
        probe->SetOnMessage([this](const FProbeRecord& record) {
            const int count = record.message == "Resize" ? 0 : record.message == "NeedLoupe" ? 6 : 2;
            std::string text = record.message;
            if (record.message == "Resize" && record.pointer) {
                const int* size = static_cast<const int*>(record.pointer);
                text += " " + std::to_string(size[0]) + "x" + std::to_string(size[1]);
            } else if (record.pointer && (record.message == "NeedLoupe" || record.message == "GrayXY")) {
                const double* values = static_cast<const double*>(record.pointer);
                for (int k = 0; k < count; ++k) {
                    char number[32];
                    std::snprintf(number, sizeof(number), " %.4g", values[k]);
                    text += number;
                }
            }
            events.push_back(text);
        });
    }
    ~ViewRun() { probe->SetOnMessage({}); }

    bool Send(const char* message, void* data = nullptr)
    {
        return view->UiRelayMessage(FWideString(message), data);
    }
    // Sends an image and gives the test's reference back.
    bool Show(FTestImage* image)
    {
        const bool handled = Send("NewImage", image);
        image->Release();
        return handled;
    }
    std::string Pixel(int x, int y) { return DrawnPixel(*run, x, y); }
    std::string TakeEvents()
    {
        std::string all;
        for (const std::string& e : events)
            all += (all.empty() ? "" : ",") + e;
        events.clear();
        return all;
    }

    std::unique_ptr<FUiTestApp> run;
    FUiImageView* view = nullptr;
    FProbeObject* probe = nullptr;
    std::vector<std::string> events;
};

TEST(ImageViewTest, ReportsItsInnerSizeAndCentresImagesThatFitRefusingLargerOnes)
{
    ViewRun v;
    ASSERT_NE(v.view, nullptr);
    v.Send("Post Creation Initialization");
    EXPECT_EQ(v.TakeEvents(), "Resize 396x296");

    struct Case {
        int cols, rows;
        bool shown;
        int left, top;
    };
    const Case cases[] = {
        {396, 296, true, 2, 2},    {397, 296, false, 0, 0}, {396, 297, false, 0, 0},
        {100, 51, true, 150, 124}, {1, 1, true, 199, 149},  {0, 0, true, 200, 150},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::to_string(c.cols) + "x" + std::to_string(c.rows));
        FDebugTraceCapture trace;
        auto* image = new FTestImage(c.cols, c.rows, kPhoto);
        image->AddRef();
        EXPECT_TRUE(v.Show(image));
        if (!c.shown) {
            EXPECT_EQ(v.view->GetImage(), nullptr);
            EXPECT_TRUE(trace.Contains("ERROR: ImageView control was sent an image that is too big!!!\n"));
            EXPECT_TRUE(trace.Contains("ERROR: ImageView control was sent an image that's too big!!!\n"));
            EXPECT_EQ(image->GetRefs(), 1u);
            image->Release();
            continue;
        }
        EXPECT_EQ(v.view->GetImage(), image);
        EXPECT_EQ(v.view->GetImageRect(), FRect(c.left, c.top, c.left + c.cols, c.top + c.rows));
        image->Release();
    }

    // The 100 x 51 picture exactly: frame, fill, first and last photo pixels.
    auto* image = new FTestImage(100, 51, kPhoto);
    v.Show(image);
    EXPECT_EQ(v.Pixel(0, 0), Rgb(kFrame));
    EXPECT_EQ(v.Pixel(1, 150), Rgb(kFrame));
    EXPECT_EQ(v.Pixel(2, 2), Rgb(kFill));
    EXPECT_EQ(v.Pixel(149, 124), Rgb(kFill));
    EXPECT_EQ(v.Pixel(150, 124), Rgb(kPhoto));
    EXPECT_EQ(v.Pixel(249, 174), Rgb(kPhoto));
    EXPECT_EQ(v.Pixel(250, 174), Rgb(kFill));
    EXPECT_EQ(v.Pixel(249, 175), Rgb(kFill));

    EXPECT_FALSE(v.Send("NewImage"));
    EXPECT_TRUE(v.Send("Clear"));
    EXPECT_EQ(v.view->GetImage(), nullptr);
    EXPECT_EQ(v.Pixel(150, 124), Rgb(kFill));
}

TEST(ImageViewTest, ALayoutChangeReportsTheNewSizeAndDropsTheImage)
{
    ViewRun v("", true);
    auto* image = new FTestImage(100, 51, kPhoto);
    image->AddRef();
    v.Show(image);
    ASSERT_EQ(image->GetRefs(), 2u);
    v.TakeEvents();
    ReviewWindow(*v.run)->OnOsResize(500, 320);
    EXPECT_EQ(v.TakeEvents(), "Resize 496x316");
    EXPECT_EQ(v.view->GetImage(), nullptr);
    EXPECT_EQ(image->GetRefs(), 1u);
    EXPECT_EQ(v.view->GetInnerRect(), FRect(2, 2, 498, 318));
    image->Release();
}

TEST(ImageViewTest, EveryImageReferenceIsReturnedWhenTheViewGoes)
{
    const int before = FTestImage::GetLiveCount();
    {
        ViewRun v;
        v.Show(new FTestImage(100, 51, kPhoto));
        FLoupeImageMessage loupe{new FTestImage(64, 64, kPhoto), 10, 10};
        v.Send("NewLoupeImage", &loupe);
        loupe.image->Release();
        EXPECT_EQ(FTestImage::GetLiveCount(), before + 2);
    }
    EXPECT_EQ(FTestImage::GetLiveCount(), before);
}

TEST(ImageViewTest, WarningsTintShadowsFirstThenHighlights)
{
    ViewRun v(R"(ShadowColor="#0000FF" HighlightColor="#FF0000")");
    // Pixels: black; pure blue (luminance 38, with a channel at 255: both tests hold);
    // red 255 with green 128 (luminance 147); mid grey.
    auto* image = new FTestImage(4, 1, FUiColor(100, 100, 100, 255));
    image->SetPixel(0, 0, FUiColor(0, 0, 0, 255));
    image->SetPixel(1, 0, FUiColor(0, 0, 255, 255));
    image->SetPixel(2, 0, FUiColor(255, 128, 0, 255));
    v.Show(image);
    const int left = v.view->GetImageRect().left;
    const int top = v.view->GetImageRect().top;
    int shadow = 40, highlight = 250;
    bool on = true;
    EXPECT_TRUE(v.Send("SetShadowWarning", &shadow));
    EXPECT_TRUE(v.Send("SetHighlightWarning", &highlight));
    EXPECT_TRUE(v.Send("EnableWarnings", &on));
    EXPECT_EQ(v.Pixel(left, top), "0,0,255");
    EXPECT_EQ(v.Pixel(left + 1, top), "0,0,255");
    EXPECT_EQ(v.Pixel(left + 2, top), "255,0,0");
    EXPECT_EQ(v.Pixel(left + 3, top), "100,100,100");
    on = false;
    v.Send("EnableWarnings", &on);
    EXPECT_EQ(v.Pixel(left + 1, top), "0,0,255");
    EXPECT_EQ(v.Pixel(left + 2, top), "255,128,0");
    EXPECT_FALSE(v.Send("SetShadowWarning"));
}

TEST(ImageViewTest, HalfStrengthWarningBlendsTowardTheColour)
{
    ViewRun v(R"(ShadowColor="#64820080")");
    auto* image = new FTestImage(1, 1, FUiColor(0, 0, 0, 255));
    v.Show(image);
    int shadow = 10;
    bool on = true;
    v.Send("SetShadowWarning", &shadow);
    v.Send("EnableWarnings", &on);
    // (0 x 127 + 100 x 128) / 256 and (130 x 128) / 256.
    EXPECT_EQ(v.Pixel(199, 149), "50,65,0");
}

TEST(ImageViewTest, AnInvisibleViewNeitherDrawsNorIsHit)
{
    ViewRun v(R"(_Visible="false")");
    v.Show(new FTestImage(100, 51, kPhoto));
    EXPECT_EQ(v.Pixel(0, 0), "255,255,255");
    EXPECT_EQ(v.Pixel(150, 124), "255,255,255");
    EXPECT_EQ(v.view->HitTest(150, 124), nullptr);
    EXPECT_FALSE(v.view->MouseDown(150, 124, false, false));
}

TEST(ImageViewTest, CropTransparencySetsShadeAndBarAlphas)
{
    ViewRun v;
    struct Case {
        double x;
        int shade, bar;
    };
    const Case cases[] = {{0.5, 127, 155}, {0.0, 0, 55}, {1.0, 255, 255}, {-3.0, 0, 55}, {7.0, 255, 255}};
    for (const Case& c : cases) {
        double x = c.x;
        EXPECT_TRUE(v.Send("CropTransparency", &x));
        EXPECT_EQ(v.view->GetCropImageColor().alpha, c.shade) << c.x;
        EXPECT_EQ(v.view->GetCropBarColor().alpha, c.bar) << c.x;
    }
    FDebugTraceCapture trace;
    double nan = std::numeric_limits<double>::quiet_NaN();
    EXPECT_TRUE(v.Send("CropTransparency", &nan));
    EXPECT_EQ(v.view->GetCropBarColor().alpha, 255);
    EXPECT_TRUE(trace.Contains("CropTransparency"));
    EXPECT_FALSE(v.Send("CropTransparency"));
}

TEST(ImageViewTest, CropBarsDragShadeTheImageOutsideAndMayCross)
{
    ViewRun v(R"(_Crop="true" _CropBarColor="#00FF00" _CropImageColor="#0000FF")");
    v.Show(new FTestImage(100, 51, kPhoto));
    double opaque = 1.0;
    v.Send("CropTransparency", &opaque);
    // Image (150, 124)-(250, 175); bars of the frame's thickness 2 outside it.
    EXPECT_EQ(v.view->GetCropBar(0), FRect(148, 0, 150, 300));
    EXPECT_EQ(v.view->GetCropBar(1), FRect(0, 122, 400, 124));
    EXPECT_EQ(v.view->GetCropBar(2), FRect(250, 0, 252, 300));
    EXPECT_EQ(v.view->GetCropBar(3), FRect(0, 175, 400, 177));
    EXPECT_EQ(v.Pixel(149, 10), "0,255,0");
    EXPECT_EQ(v.Pixel(150, 124), Rgb(kPhoto));

    // The left bar to a quarter, the top bar to row 134.
    EXPECT_TRUE(v.view->MouseDown(149, 10, false, false));
    v.view->MouseMove(175, 134);
    v.view->MouseUp(175, 134, false, false);
    EXPECT_DOUBLE_EQ(v.view->GetCropFraction(0), 0.25);
    EXPECT_DOUBLE_EQ(v.view->GetCropFraction(1), 0.0);
    EXPECT_EQ(v.view->GetCropBar(0), FRect(173, 0, 175, 300));
    EXPECT_EQ(v.Pixel(160, 150), "0,0,255"); // left of the left bar
    EXPECT_EQ(v.Pixel(174, 150), "0,255,0"); // the bar
    EXPECT_EQ(v.Pixel(180, 150), Rgb(kPhoto));

    v.view->MouseDown(200, 123, false, false);
    v.view->MouseMove(200, 134);
    v.view->MouseUp(200, 134, false, false);
    EXPECT_EQ(v.view->GetCropBar(1), FRect(0, 132, 400, 134));
    EXPECT_EQ(v.Pixel(200, 128), "0,0,255"); // above the top bar, middle column
    EXPECT_EQ(v.Pixel(160, 128), "0,0,255"); // above, left column
    EXPECT_EQ(v.Pixel(200, 150), Rgb(kPhoto));

    // Left past right: the fractions stay crossed and both bars are drawn from them.
    v.view->MouseDown(174, 10, false, false);
    v.view->MouseMove(240, 10);
    v.view->MouseUp(240, 10, false, false);
    v.view->MouseDown(251, 10, false, false);
    v.view->MouseMove(160, 10);
    v.view->MouseUp(160, 10, false, false);
    EXPECT_DOUBLE_EQ(v.view->GetCropFraction(0), 0.9);
    EXPECT_DOUBLE_EQ(v.view->GetCropFraction(2), 0.1);
    EXPECT_EQ(v.Pixel(239, 10), "0,255,0");
    EXPECT_EQ(v.Pixel(161, 10), "0,255,0");
    // Over the image the shading comes after the bars and covers them where they cross.
    EXPECT_EQ(v.Pixel(239, 150), "0,0,255");
    EXPECT_EQ(v.Pixel(200, 150), "0,0,255");
    // Dragged past the image the bar stops at its last column.
    v.view->MouseDown(239, 10, false, false);
    v.view->MouseMove(399, 10);
    v.view->MouseUp(399, 10, false, false);
    EXPECT_DOUBLE_EQ(v.view->GetCropFraction(0), 0.99);
}

TEST(ImageViewTest, LoupeFollowsWithinTenPixelsOfTheImage)
{
    ViewRun v;
    v.Show(new FTestImage(100, 51, kPhoto));
    bool on = true;
    EXPECT_TRUE(v.Send("SetEnabled", &on));
    v.TakeEvents();
    v.view->MouseMove(140, 150);
    EXPECT_TRUE(v.view->IsPointerOverImage());
    // Centre (140, 150): fractions -0.1 and 26 / 51, the loupe 64 x 64 at (108, 118).
    EXPECT_EQ(v.TakeEvents(), "NeedLoupe -0.1 0.5098 64 64 108 118");
    v.view->MouseMove(139, 150);
    EXPECT_FALSE(v.view->IsPointerOverImage());
    EXPECT_EQ(v.TakeEvents(), "");
    v.view->MouseMove(259, 184);
    EXPECT_TRUE(v.view->IsPointerOverImage());
    // A new image while the pointer is over the old one asks for a loupe image at once.
    v.TakeEvents();
    v.Show(new FTestImage(100, 51, kPhoto));
    EXPECT_EQ(v.TakeEvents(), "NeedLoupe 1.09 1.176 64 64 227 152");
    v.view->MouseMove(260, 150);
    EXPECT_FALSE(v.view->IsPointerOverImage());

    bool state = false;
    EXPECT_TRUE(v.Send("CheckLoupeState", &state));
    EXPECT_TRUE(state);
    EXPECT_TRUE(v.Send("ToggleLoupe"));
    EXPECT_FALSE(v.view->IsLoupeEnabled());
    v.TakeEvents();
    v.view->MouseMove(200, 150);
    EXPECT_EQ(v.TakeEvents(), "");
}

TEST(ImageViewTest, LoupePastTheEdgeIsAnchoredWithItsReadout)
{
    ViewRun v;
    v.Show(new FTestImage(100, 51, kPhoto));
    bool on = true;
    v.Send("SetEnabled", &on);
    // The loupe starts 20 pixels left of the image: the manager sends a 44-wide image.
    v.view->MouseMove(162, 150);
    auto* magnified = new FTestImage(44, 64, FUiColor(240, 240, 240, 255));
    magnified->SetPixel(11, 32, FUiColor(7, 120, 255, 255));
    FLoupeImageMessage loupe{magnified, 130, 118};
    EXPECT_TRUE(v.Send("NewLoupeImage", &loupe));
    EXPECT_EQ(magnified->GetRefs(), 2u);
    EXPECT_EQ(v.Pixel(140, 150), "0,0,0");       // the part of the loupe without image
    EXPECT_EQ(v.Pixel(152, 160), "240,240,240"); // the image, against the loupe's right edge
    EXPECT_EQ(v.Pixel(130, 150), "0,0,0");       // outline
    // Centre mark on a light pixel is black.
    EXPECT_EQ(v.Pixel(159, 147), "0,0,0");
    EXPECT_TRUE(v.view->IsLoupeDrawn());
    auto* os = dynamic_cast<FHeadlessUiWindow*>(ReviewWindow(*v.run)->GetOsWindow());
    EXPECT_FALSE(os->IsCursorShown());
    EXPECT_EQ(v.view->GetReadoutText(), "007 120 255");
    // Past the image's bottom (182 > 175) only: the label goes top right.
    const FRect label = v.view->GetReadoutRect();
    EXPECT_EQ(label.right, 194 - 3);
    EXPECT_EQ(label.top, 118 + 2);

    FLoupeImageMessage none{nullptr, 0, 0};
    EXPECT_TRUE(v.Send("NewLoupeImage", &none));
    EXPECT_TRUE(v.Send("LoupeOffImage"));
    EXPECT_FALSE(v.view->IsLoupeDrawn());
    EXPECT_EQ(magnified->GetRefs(), 1u);
    EXPECT_EQ(v.Pixel(140, 150), Rgb(kFill));
    EXPECT_TRUE(os->IsCursorShown());
    magnified->Release();
}

TEST(ImageViewTest, ReadoutCornerFollowsTheEdgesTheLoupePasses)
{
    ViewRun v;
    v.Show(new FTestImage(200, 150, kPhoto));
    ASSERT_EQ(v.view->GetImageRect(), FRect(100, 75, 300, 225));
    bool on = true;
    v.Send("SetEnabled", &on);
    struct Case {
        int left, top;
        bool labelLeft, labelTop;
    };
    const Case cases[] = {
        {120, 100, false, false}, // inside: bottom right
        {250, 100, true, false},  // past the right edge: bottom left
        {120, 170, false, true},  // past the bottom: top right
        {250, 170, true, true},   // both: top left
    };
    for (const Case& c : cases) {
        auto* magnified = new FTestImage(64, 64, FUiColor(10, 10, 10, 255));
        v.view->MouseMove(c.left + 32, c.top + 32);
        FLoupeImageMessage loupe{magnified, c.left, c.top};
        v.Send("NewLoupeImage", &loupe);
        magnified->Release();
        v.Pixel(0, 0);
        const FRect label = v.view->GetReadoutRect();
        EXPECT_EQ(label.left == c.left + 2, c.labelLeft) << c.left << "," << c.top;
        EXPECT_EQ(label.right == c.left + 64 - 3, !c.labelLeft) << c.left << "," << c.top;
        EXPECT_EQ(label.top == c.top + 2, c.labelTop) << c.left << "," << c.top;
        EXPECT_EQ(label.bottom == c.top + 64 - 3, !c.labelTop) << c.left << "," << c.top;
        EXPECT_EQ(v.view->GetReadoutText(), "010 010 010");
    }
    // The centre mark turns white on a dark pixel.
    EXPECT_EQ(v.Pixel(250 + 32 - 3, 170 + 32), "255,255,255");
}

TEST(ImageViewTest, GrayBalanceModeMarksTheLoupeCentreWithTheEyedropper)
{
    ViewRun v;
    v.Show(new FTestImage(200, 150, kPhoto));
    bool on = true;
    v.Send("SetEnabled", &on);
    v.view->MouseMove(182, 132);
    auto* magnified = new FTestImage(64, 64, FUiColor(10, 10, 10, 255));
    FLoupeImageMessage loupe{magnified, 150, 100};
    v.Send("NewLoupeImage", &loupe);
    magnified->Release();
    // The icon's bottom-left corner sits on the centre (182, 132).
    EXPECT_EQ(v.Pixel(190, 124), "10,10,10");
    v.Send("EnableGrayBalance", &on);
    v.Send("NewLoupeImage", &loupe);
    EXPECT_EQ(v.Pixel(190, 124), "250,250,0");
    EXPECT_EQ(v.Pixel(190, 133), "10,10,10");
}

TEST(ImageViewTest, GrayPickReportsFractionsBelowOneWhileInsideTheImage)
{
    ViewRun v;
    v.Show(new FTestImage(100, 51, kPhoto));
    bool on = true;
    EXPECT_TRUE(v.Send("EnableGrayBalance", &on));
    v.TakeEvents();
    EXPECT_TRUE(v.view->MouseDown(249, 124, false, false));
    v.view->MouseMove(300, 130);
    v.view->MouseMove(150, 174);
    v.view->MouseUp(150, 174, false, false);
    v.view->MouseMove(200, 150);
    EXPECT_EQ(v.TakeEvents(), "GrayXY 0.99 0,GrayXY 0 0.9804");
    EXPECT_TRUE(v.Send("ToggleGrayBalance"));
    v.view->MouseDown(200, 150, false, false);
    EXPECT_EQ(v.TakeEvents(), "");
}

TEST(ImageViewTest, GrayBalancePointerNeedsASixteenPixelPicture)
{
    struct Case {
        const char* file;
        bool kept;
    };
    for (const Case c : {Case{"cursor.png", true}, Case{"cursor8.png", false}}) {
        FDebugTraceCapture trace;
        ViewRun v(std::string("File_Cursor=\"") + c.file + "\" CursorX=\"3\" CursorY=\"12\"");
        ASSERT_NE(v.view, nullptr);
        EXPECT_EQ(v.view->GetCursorPicture() != nullptr, c.kept) << c.file;
        EXPECT_EQ(trace.Contains("not 16x16"), !c.kept) << c.file;
        bool on = true;
        v.Send("EnableGrayBalance", &on);
        v.view->MouseEnter(200, 150);
        auto* os = dynamic_cast<FHeadlessUiWindow*>(ReviewWindow(*v.run)->GetOsWindow());
        EXPECT_EQ(os->GetCursor() != "arrow", c.kept) << c.file;
        v.view->MouseLeave(500, 500);
        EXPECT_EQ(os->GetCursor(), "arrow");
    }
}

TEST(ImageViewTest, MissingRequiredKeysFailTheView)
{
    for (const char* key : {"FrameThickness", "FillColor", "MinHSize", "File_EyeDropperIcon"}) {
        std::string tag = ViewTag();
        const size_t at = tag.find(std::string(key) + "=");
        ASSERT_NE(at, std::string::npos);
        tag.insert(at, "Not");
        auto run = ReviewRun(tag, 400, 300);
        EXPECT_EQ(ReviewWidget<FUiImageView>(*run, "V"), nullptr) << key;
    }
}

} // namespace
