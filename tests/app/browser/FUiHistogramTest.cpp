#include <gtest/gtest.h>

#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "FDebugTrace.h"
#include "FGenericUiWindow.h"
#include "FIPMImage.h"
#include "FIUiPixmap.h"
#include "FPixmap.h"
#include "FProbeObject.h"
#include "FPropList.h"
#include "FUiHistogram.h"
#include "ReviewDisplayTestSupport.h"

namespace
{

const char* const kEvents = R"(<ON_UPDATESHADOWWARNING Relay="Probe" Message="ShText"/>
  <ON_UPDATEHIGHLIGHTWARNING Relay="Probe" Message="HiText"/>
  <ON_ENABLE_WARNINGS Relay="Probe" Message="Enable"/>
  <ON_SET_SHADOW_WARNING Relay="Probe" Message="Sh"/>
  <ON_SET_HIGHLIGHT_WARNING Relay="Probe" Message="Hi"/>
  <ON_SET_SHOW_WARNINGS Relay="Probe" Message="Show"/>)";

std::string HistogramTag(int width, int height, const std::string& keys = "")
{
    const std::string size =
        "MinHSize=\"" + std::to_string(width) + "\" MinVSize=\"" + std::to_string(height) + "\" ";
    return R"(<HISTOGRAM Name="H" )" + size +
           (keys.empty()
                ? R"(HStretch="0" VStretch="0" FrameColor="#141414" FrameThickness="1" FillColor="#1A1A1A")"
                : keys) +
           ">" + kEvents + "</HISTOGRAM>";
}

struct HistogramRun {
    HistogramRun(int width = 256, int height = 100, const std::function<void(FUiTestApp&)>& prepare = {})
        : run(ReviewRun(HistogramTag(width, height), width, height, prepare))
    {
        histogram = ReviewWidget<FUiHistogram>(*run, "H");
        probe = ReviewProbe();
        probe->SetDataKind("ShText", EProbeData::kString);
        probe->SetDataKind("HiText", EProbeData::kString);
        probe->SetDataKind("Sh", EProbeData::kInt);
        probe->SetDataKind("Hi", EProbeData::kInt);
        probe->SetDataKind("Enable", EProbeData::kBool);
    }
    bool Send(const char* message, void* data = nullptr)
    {
        return histogram->UiRelayMessage(FWideString(message), data);
    }
    // Steps the levels to the values given, then forgets the events.
    void StepTo(int shadow, int highlight)
    {
        while (histogram->GetHighlightLevel() < highlight)
            Send("IncHighlightWarning");
        while (histogram->GetShadowLevel() < shadow)
            Send("IncShadowWarning");
        while (histogram->GetShadowLevel() > shadow)
            Send("DecShadowWarning");
        while (histogram->GetHighlightLevel() > highlight)
            Send("DecHighlightWarning");
        Events();
    }
    std::string Events()
    {
        std::string all;
        for (const FProbeRecord& r : probe->GetRecords()) {
            if (r.message == "Post Creation Initialization")
                continue;
            all += (all.empty() ? "" : ",") + r.message + (r.data.empty() ? "" : "=" + r.data);
        }
        probe->Clear();
        return all;
    }
    std::string Picture(int x, int y) const
    {
        FUiColor c;
        histogram->GetPicture()->GetPixel(x, y, c);
        return Rgb(c);
    }

    std::unique_ptr<FUiTestApp> run;
    FUiHistogram* histogram = nullptr;
    FProbeObject* probe = nullptr;
};

// Counts of a 10 x 10 display image of black pixels, with the given pixels replaced.
struct TestCounts {
    explicit TestCounts(const std::vector<FUiColor>& pixels = {}, int cols = 10, int rows = 10)
        : bytes(size_t(cols) * rows * 4 + 4, 0)
    {
        for (size_t i = 0; i < pixels.size(); ++i) {
            bytes[i * 4] = pixels[i].blue;
            bytes[i * 4 + 1] = pixels[i].green;
            bytes[i * 4 + 2] = pixels[i].red;
        }
        FPixmap_Display pixmap(bytes.data(), cols, rows, cols * 4);
        counts.Compute(pixmap);
    }
    std::vector<uint8_t> bytes;
    FIHistogram counts;
};

// The background after the framework's blended fills, worked out on a pixmap of its own.
std::string Marked(std::initializer_list<FUiColor> fills)
{
    FIUiPixmap* p = CreateUiPixmap(1, 1, false);
    p->FillRGBA(190, 190, 190, 255);
    for (const FUiColor& fill : fills)
        p->BlendRect(FRect(0, 0, 1, 1), fill);
    FUiColor c;
    p->GetPixel(0, 0, c);
    ReleaseUiPixmap(p);
    return Rgb(c);
}

TEST(HistogramTest, LevelsMapToColumnsWithTheEndsFixed)
{
    struct Case {
        int cols, level, column;
    };
    const Case cases[] = {{128, 0, 0}, {128, 1, 1},     {128, 2, 1},     {128, 127, 63}, {128, 255, 127},
                          {256, 0, 0}, {256, 100, 100}, {256, 255, 255}, {3, 0, 0},      {3, 255, 2},
                          {2, 0, 1},   {1, 0, 0},       {1, 255, 0}};
    for (const Case& c : cases)
        EXPECT_EQ(FUiHistogram::LevelColumn(c.level, c.cols), c.column) << c.cols << " " << c.level;
    for (int cols = 3; cols <= 256; ++cols) {
        EXPECT_EQ(FUiHistogram::LevelColumn(0, cols), 0);
        EXPECT_EQ(FUiHistogram::LevelColumn(255, cols), cols - 1);
        for (int level = 1; level < 256; ++level)
            ASSERT_GE(FUiHistogram::LevelColumn(level, cols), FUiHistogram::LevelColumn(level - 1, cols));
    }
}

TEST(HistogramTest, OnePercentBandsAndTheirJoinOnOneHundredRows)
{
    HistogramRun h;
    ASSERT_NE(h.histogram, nullptr);
    // One pixel each of red 128 and red 129 in 100: f = 0.01 for each, and luminance
    // levels 38 and 39 hold 1 % each.
    TestCounts counts({FUiColor(128, 0, 0, 255), FUiColor(129, 0, 0, 255)});
    EXPECT_TRUE(h.Send("Display", &counts.counts));
    const std::string red = "220,80,130";
    const std::string background = "190,190,190";
    // Level 128 after empty levels: U = 39, joined down to the previous top 100.
    EXPECT_EQ(h.Picture(128, 38), background);
    EXPECT_EQ(h.Picture(128, 39), red);
    EXPECT_EQ(h.Picture(128, 99), red);
    // Level 129 after a 1 % level: rows 39 to 50 (D = 51).
    EXPECT_EQ(h.Picture(129, 39), red);
    EXPECT_EQ(h.Picture(129, 50), red);
    EXPECT_EQ(h.Picture(129, 51), background);
    // The level after them joins down from the previous bottom; the next lies below the picture.
    EXPECT_EQ(h.Picture(130, 50), background);
    EXPECT_EQ(h.Picture(130, 51), red);
    EXPECT_EQ(h.Picture(131, 99), background);
    // Luminance area from U = 39 to the bottom.
    EXPECT_EQ(h.Picture(38, 38), background);
    EXPECT_EQ(h.Picture(38, 39), "100,100,100");
    EXPECT_EQ(h.Picture(38, 99), "100,100,100");
    // Every channel and the luminance at level 0: index 15.
    EXPECT_EQ(h.Picture(0, 50), Marked({FUiColor(20, 20, 20, 255), FUiColor(70, 120, 255, 60)}));
    // The copy on screen.
    EXPECT_EQ(DrawnPixel(*h.run, 128, 50), red);

    // Null data keeps the picture and is still handled; so is an unknown message.
    EXPECT_TRUE(h.Send("Display"));
    EXPECT_EQ(h.Picture(128, 50), red);
    EXPECT_TRUE(h.Send("NoSuchMessage"));
}

TEST(HistogramTest, WarningMarksAndAnEmptyHistogram)
{
    HistogramRun h;
    TestCounts none({}, 0, 0);
    ASSERT_EQ(none.counts.GetCount(), 0u);
    h.Send("Display", &none.counts);
    const FUiColor shadowBand(70, 120, 255, 60), shadowLine(70, 120, 255, 90);
    const FUiColor highBand(255, 70, 100, 50), highLine(255, 70, 100, 80);
    // Shadow 10: band over columns 0 to 11, line at 10; highlight 250: band 249 to 255, line 250.
    struct Case {
        int column;
        std::string colour;
    };
    const Case cases[] = {
        {0, Marked({shadowBand})},  {10, Marked({shadowBand, shadowLine})},
        {11, Marked({shadowBand})}, {12, Marked({})},
        {128, Marked({})},          {248, Marked({})},
        {249, Marked({highBand})},  {250, Marked({highBand, highLine})},
        {255, Marked({highBand})},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(h.Picture(c.column, 0), c.colour) << c.column;
        EXPECT_EQ(h.Picture(c.column, 99), c.colour) << c.column;
    }
}

TEST(HistogramTest, WideWidgetsBuildAtMostOneColumnPerLevel)
{
    for (int width : {300, 1000}) {
        HistogramRun h(width, 40);
        ASSERT_NE(h.histogram, nullptr);
        FDebugTraceCapture trace;
        TestCounts counts({FUiColor(255, 255, 255, 255)});
        h.Send("Display", &counts.counts);
        ASSERT_NE(h.histogram->GetPicture(), nullptr);
        EXPECT_EQ(h.histogram->GetPicture()->GetWidth(), 256);
        EXPECT_EQ(h.histogram->GetPicture()->GetHeight(), 40);
        EXPECT_FALSE(trace.Contains("Bad Mapping"));
        // Scaled over the whole widget.
        EXPECT_NE(DrawnPixel(*h.run, width - 1, 20), "255,255,255");
    }
    HistogramRun narrow(2, 10);
    TestCounts counts({FUiColor(9, 9, 9, 255)});
    narrow.Send("Display", &counts.counts);
    ASSERT_NE(narrow.histogram->GetPicture(), nullptr);
    EXPECT_EQ(narrow.histogram->GetPicture()->GetWidth(), 2);
}

TEST(HistogramTest, StepsAreBoundedAndAnnounced)
{
    HistogramRun h;
    h.Events();
    struct Case {
        int shadow, highlight;
        const char* message;
        bool warnings;
        std::string events;
        int shadowAfter, highlightAfter;
    };
    const Case cases[] = {
        {10, 250, "IncShadowWarning", false, "ShText=11,Sh=11,Show", 11, 250},
        {10, 250, "IncShadowWarning", true, "ShText=11,Sh=11", 11, 250},
        {10, 250, "DecHighlightWarning", false, "HiText=249,Hi=249,Show", 10, 249},
        {249, 250, "IncShadowWarning", false, "", 249, 250},
        {10, 11, "DecHighlightWarning", false, "", 10, 11},
        {10, 255, "IncHighlightWarning", false, "", 10, 255},
        {0, 250, "DecShadowWarning", false, "", 0, 250},
        {1, 250, "DecShadowWarning", false, "ShText=0,Sh=0,Show", 0, 250},
    };
    for (const Case& c : cases) {
        h.StepTo(c.shadow, c.highlight);
        ASSERT_EQ(h.histogram->GetShadowLevel(), c.shadow);
        ASSERT_EQ(h.histogram->GetHighlightLevel(), c.highlight);
        h.Send(c.warnings ? "EnableWarnings" : "DisableWarnings");
        h.Events();
        EXPECT_TRUE(h.Send(c.message));
        const std::string what =
            std::string(c.message) + " at " + std::to_string(c.shadow) + "/" + std::to_string(c.highlight);
        EXPECT_EQ(h.Events(), c.events) << what;
        EXPECT_EQ(h.histogram->GetShadowLevel(), c.shadowAfter) << what;
        EXPECT_EQ(h.histogram->GetHighlightLevel(), c.highlightAfter) << what;
    }
    h.Send("EnableWarnings");
    EXPECT_EQ(h.Events(), "Enable=true,Sh=0,Hi=250");
    h.Send("DisableWarnings");
    EXPECT_EQ(h.Events(), "Enable=false");
}

std::string ReadWhole(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

TEST(HistogramTest, LevelsPersistAcrossRunsWithinTheirRange)
{
    std::string state;
    {
        HistogramRun first;
        first.StepTo(12, 248);
        first.run->Finish();
        auto tree = first.run->ReadStateFile();
        ASSERT_TRUE(tree);
        FPropList* entry = tree->GetFirstChild();
        while (entry && !(entry->GetString("Name", FWideString()) == "TestApp.W.H"))
            entry = entry->GetNext();
        ASSERT_NE(entry, nullptr);
        EXPECT_EQ(entry->GetInt("ShadowValue", -1), 12);
        EXPECT_EQ(entry->GetInt("HighlightValue", -1), 248);
        state = ReadWhole(first.run->GetAppDataPath() + "/TestApp.state.xml");
    }
    const auto prepare = [](const std::string& text) {
        return [text](FUiTestApp& run) { run.WriteAppDataFile("TestApp.state.xml", text); };
    };
    {
        HistogramRun second(256, 100, prepare(state));
        EXPECT_EQ(second.histogram->GetShadowLevel(), 12);
        EXPECT_EQ(second.histogram->GetHighlightLevel(), 248);
        EXPECT_EQ(second.Events(), "ShText,Sh,HiText,Hi,Enable");
    }
    // Values no step could reach come back within range.
    HistogramRun third(
        256, 100,
        prepare(R"(<STATE><PERDATA Name="TestApp.W.H" ShadowValue="-5" HighlightValue="999"/></STATE>)"));
    EXPECT_EQ(third.histogram->GetShadowLevel(), 0);
    EXPECT_EQ(third.histogram->GetHighlightLevel(), 255);
}

TEST(HistogramTest, MissingKeysFailTheWidget)
{
    auto run = ReviewRun(
        HistogramTag(256, 100, R"(HStretch="0" VStretch="0" FrameColor="#141414" FillColor="#1A1A1A")"), 256,
        100);
    EXPECT_EQ(ReviewWidget<FUiHistogram>(*run, "H"), nullptr);
}

} // namespace
