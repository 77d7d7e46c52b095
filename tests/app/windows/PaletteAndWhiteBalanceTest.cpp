// The adjustment palette's slider positions and the white-balance chooser's list, choice
// and answer.

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "FDebugTrace.h"
#include "FIUiRelay.h"
#include "FPropList.h"
#include "FUiAdjustment.h"
#include "FUiWhiteBalance.h"
#include "ProcessingSettings.h"

namespace
{

// Writes down each message with a printed form of its data, chosen by the caller.
class Sink : public FIUiRelay
{
public:
    bool InitRelay(FPropList*) override { return true; }
    void GetName(FWideString& name) override { name = FWideString("SINK"); }
    void GetFullName(FWideString& name) override { name = FWideString("SINK"); }
    bool ConnectRelays() override { return true; }
    FIUiRelay* GetUiRelay(const FWideString&) override { return nullptr; }
    bool AddEventTarget(const FWideString&, const FWideString&, FIUiRelay*) override { return false; }
    bool UiRelayMessage(const FWideString& message, void* data) override
    {
        lines.push_back(message.GetNarrow() + (data && print ? "=" + print(message.GetNarrow(), data) : ""));
        return true;
    }
    std::vector<std::string> lines;
    std::string (*print)(const std::string&, void*) = nullptr;
};

void ListenToAll(FUiObject& object, Sink& sink)
{
    for (RelayEvent* event = object.GetFirstEvent(); event; event = event->GetNext())
        event->AddTarget(event->GetName(), &sink);
}

std::string Number(double value)
{
    char text[32];
    std::snprintf(text, sizeof text, "%g", value);
    return text;
}

TEST(AdjustmentPalette, SliderPositionsAreUnclampedAndTheGainsFollow)
{
    FUiAdjustment palette("ADJUSTMENT_MGR");
    Sink sink;
    sink.print = [](const std::string& name, void* data) {
        const double* values = static_cast<double*>(data);
        if (name == "ON_UPDATE_COLOR_ADJUST")
            return Number(values[0]) + "," + Number(values[1]) + "," + Number(values[2]);
        return Number(values[0]);
    };
    ListenToAll(palette, sink);

    ProcessingSettings settings;
    settings.Exposure = -2.0;
    settings.Contrast = 3.0;
    settings.Blackness = 0.5;
    settings.Highlight = -3.0;
    settings.ColorAdjustR = 1.5;
    settings.ColorAdjustB = 0.25;
    EXPECT_TRUE(palette.UiRelayMessage(FWideString("SettingInfo"), &settings));
    EXPECT_EQ(sink.lines,
              (std::vector<std::string>{"ON_UPDATE_EXPCOMP=0", "ON_UPDATE_CONTRAST=1.25",
                                        "ON_UPDATE_SHADOW=0.625", "ON_UPDATE_HIGHLIGHT=-0.25",
                                        "ON_UPDATE_SATURATION=0.5", "ON_UPDATE_SHARPNESS=0.5",
                                        "ON_UPDATE_RETINEX=0.5", "ON_UPDATE_COLOR_ADJUST=1.5,1,0.25"}));

    // "Default" shows the defaults until "SetDefaultSettings" replaces them.
    sink.lines.clear();
    EXPECT_TRUE(palette.UiRelayMessage(FWideString("Default"), nullptr));
    EXPECT_EQ(sink.lines.front(), "ON_UPDATE_EXPCOMP=0.5");
    EXPECT_EQ(sink.lines.back(), "ON_UPDATE_COLOR_ADJUST=1,1,1");
    EXPECT_TRUE(palette.UiRelayMessage(FWideString("SetDefaultSettings"), &settings));
    sink.lines.clear();
    EXPECT_TRUE(palette.UiRelayMessage(FWideString("Default"), nullptr));
    EXPECT_EQ(sink.lines.front(), "ON_UPDATE_EXPCOMP=0");

    double position = 0.75;
    sink.lines.clear();
    EXPECT_TRUE(palette.UiRelayMessage(FWideString("SettingsMode"), &position));
    EXPECT_EQ(sink.lines, (std::vector<std::string>{"ON_TELL_SLIDER=0.75"}));

    sink.lines.clear();
    for (const char* message : {"SettingInfo", "SettingsMode", "SetDefaultSettings", "Nonsense"})
        EXPECT_FALSE(palette.UiRelayMessage(FWideString(message), nullptr)) << message;
    EXPECT_TRUE(sink.lines.empty());
}

TEST(AdjustmentPalette, StartUpPassesTheSavedListOn)
{
    FUiAdjustment palette("ADJUSTMENT_MGR");
    Sink sink;
    ListenToAll(palette, sink);
    // The saved-settings manager fills the list it is given.
    struct Filler : Sink {
        bool UiRelayMessage(const FWideString& message, void* data) override
        {
            if (message == FWideString("GetList"))
                static_cast<std::vector<FWideString>*>(data)->push_back(FWideString("Portrait"));
            return true;
        }
    } filler;
    palette.FindEvent(FWideString("ON_GET_SAVED_LIST"))->AddTarget(FWideString("GetList"), &filler);
    std::vector<FWideString> sent;
    struct Taker : Sink {
        std::vector<FWideString>* out = nullptr;
        bool UiRelayMessage(const FWideString&, void* data) override
        {
            *out = *static_cast<std::vector<FWideString>*>(data);
            return true;
        }
    } taker;
    taker.out = &sent;
    palette.FindEvent(FWideString("ON_SEND_SAVED_LIST"))->AddTarget(FWideString("List"), &taker);
    EXPECT_TRUE(palette.UiRelayMessage(FWideString("Post Creation Initialization"), nullptr));
    EXPECT_EQ(sink.lines,
              (std::vector<std::string>{"ON_GET_SAVED_LIST", "ON_SEND_SAVED_LIST", "ON_CHECK_SETTINGS"}));
    EXPECT_EQ(sent, (std::vector<FWideString>{FWideString("Portrait")}));
}

std::vector<std::string> Narrow(const std::vector<FWideString>& list)
{
    std::vector<std::string> out;
    for (const FWideString& item : list)
        out.push_back(item.GetNarrow());
    return out;
}

class WhiteBalanceTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        m_sink.print = [](const std::string& name, void* data) -> std::string {
            if (name == "ON_NEW_LIST")
                return std::to_string(static_cast<std::vector<FWideString>*>(data)->size());
            return static_cast<FWideString*>(data)->GetNarrow();
        };
        ListenToAll(m_chooser, m_sink);
    }
    void Send(const char* message, std::vector<const char*> names)
    {
        std::vector<FWideString> list;
        for (const char* name : names)
            list.push_back(FWideString(name));
        EXPECT_TRUE(m_chooser.UiRelayMessage(FWideString(message), &list));
    }
    void SendText(const char* message, const char* text)
    {
        FWideString value(text);
        EXPECT_TRUE(m_chooser.UiRelayMessage(FWideString(message), &value));
    }

    FDebugTraceCapture m_trace;
    FUiWhiteBalance m_chooser{"WHITE_BAL_WIN_MGR"};
    Sink m_sink;
};

TEST_F(WhiteBalanceTest, TheShownListAddsAutoMonochromeAndOriginal)
{
    Send("Illuminants", {"Daylight", "Tungsten"});
    EXPECT_EQ(Narrow(m_chooser.GetShownList()),
              (std::vector<std::string>{"Daylight", "Tungsten", "Auto", "Monochrome", "Original"}));
    EXPECT_EQ(m_sink.lines, (std::vector<std::string>{"ON_NEW_LIST=5"}));
    Send("Illuminants", {"Auto", "Monochrome", "Original"});
    EXPECT_EQ(Narrow(m_chooser.GetShownList()),
              (std::vector<std::string>{"Auto", "Monochrome", "Original", "Original"}));
}

TEST_F(WhiteBalanceTest, ChoosingAndSaving)
{
    // Before any choice the answer is "Auto".
    EXPECT_TRUE(m_chooser.UiRelayMessage(FWideString("Save"), nullptr));
    EXPECT_EQ(m_sink.lines.back(), "ON_SAVE=Auto");

    Send("Illuminants", {"Daylight", "Tungsten"});
    SendText("WBName", "Tungsten");
    EXPECT_EQ(m_sink.lines.back(), "ON_CHOICE=Tungsten");
    SendText("WBName", "Shade"); // not offered: the first entry
    EXPECT_EQ(m_sink.lines.back(), "ON_CHOICE=Daylight");
    SendText("Choice", "Candlelight");
    SendText("Choice", "Cloudy");
    EXPECT_NE(m_trace.GetText().find("Second choice WB clicked!"), std::string::npos);
    EXPECT_TRUE(m_chooser.UiRelayMessage(FWideString("Save"), nullptr));
    EXPECT_EQ(m_sink.lines.back(), "ON_SAVE=Cloudy");
    EXPECT_TRUE(m_chooser.UiRelayMessage(FWideString("Cancel"), nullptr));
    EXPECT_EQ(m_sink.lines.back(), "ON_CANCEL");

    SendText("Filename", "a.q7f");
    EXPECT_EQ(m_sink.lines.back(), "ON_FILENAME=a.q7f");
    for (const char* message : {"Illuminants", "WBName", "Filename", "Choice", "Other"})
        EXPECT_FALSE(m_chooser.UiRelayMessage(FWideString(message), nullptr)) << message;
}

TEST_F(WhiteBalanceTest, EveryKeyIsRequired)
{
    const char* keys[] = {"AutoWBString",         "SunlightWBString", "DaylightWBString",
                          "ShadeWBString",        "OvercastWBString", "CloudyWBString",
                          "IncandescentWBString", "TungstenWBString", "FluorescentWBString",
                          "FlashWBString",        "CustomWBString",   "OriginalWBString",
                          "MonochromeWBString"};
    for (int missing = -1; missing < 13; ++missing) {
        FPropList tag(nullptr, "OBJECT");
        for (int i = 0; i < 13; ++i)
            if (i != missing)
                tag.AddProp(keys[i], "");
        FUiWhiteBalance chooser("WHITE_BAL_WIN_MGR");
        EXPECT_EQ(chooser.InitUiObject(nullptr, nullptr, nullptr, &tag), missing < 0) << missing;
    }
}

} // namespace
