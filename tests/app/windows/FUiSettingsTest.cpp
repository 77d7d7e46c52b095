// The saved-settings manager against its file in a temporary configuration folder:
// the written tree and formats, reading back, lists, controls, deletion and bad input.

#include <gtest/gtest.h>

#include <sys/stat.h>

#include <functional>
#include <map>
#include <string>
#include <vector>

#include "FCodePage.h"
#include "FUiScriptFixture.h"
#include "FUiSettings.h"
#include "StorageClassRegistry.h"

namespace
{

// Records what each event delivers, decoded by the event's data type.
class FSettingsRecorder : public FUiObject
{
public:
    FSettingsRecorder() : FUiObject("RECORDER") {}
    bool UiRelayMessage(const FWideString& message, void* data) override
    {
        const std::string name = message.GetNarrow();
        std::string text;
        if (name == "List" || name == "SettingList") {
            lists.push_back(*static_cast<std::vector<FWideString>*>(data));
            text = std::to_string(lists.back().size());
        } else if (name == "Values" || name == "RequestedSetting") {
            values.push_back(*static_cast<ProcessingSettings*>(data));
        } else if (name == "GetName") {
            *static_cast<FWideString*>(data) = typedName;
        } else if (data) {
            text = Utf8FromWide(*static_cast<FWideString*>(data));
        }
        log.push_back(name + (text.empty() ? "" : ":" + text));
        return true;
    }
    std::string Log() const
    {
        std::string joined;
        for (const std::string& line : log)
            joined += (joined.empty() ? "" : ",") + line;
        return joined;
    }
    void Clear()
    {
        log.clear();
        lists.clear();
        values.clear();
    }

    FWideString typedName;
    std::vector<std::string> log;
    std::vector<std::vector<FWideString>> lists;
    std::vector<ProcessingSettings> values;
};

const std::map<std::string, std::string> kWiring = {
    {"ON_GET_SETTING_NAME", "GetName"},
    {"ON_SEND_LIST", "List"},
    {"ON_SEND_SAVE_LIST", "List"},
    {"ON_SEND_DELETE_LIST", "List"},
    {"ON_SEND_SAVED_SETTING", "Values"},
    {"ON_DEFAULT_SETTING", "Default"},
    {"ON_SET_SETTING_NAME", "SetName"},
    {"ON_DISABLE_CONTROLS", "Disable"},
    {"ON_ENABLE_CONTROLS", "Enable"},
    {"ON_SEND_DEFAULT_NAME", "DefaultName"},
    {"ON_NOTIFY_DEFAULT_NAME", "NotifyName"},
    {"ON_DELETED_SETTING", "Deleted"},
    {"ON_SETTINGS_NOT_SAVED", "NotSaved"},
    {"ON_SETTING_NAME_REFUSED", "Refused"},
};

std::string ToUtf8(const std::vector<FWideString>& list)
{
    std::string joined;
    for (const FWideString& item : list)
        joined += (joined.empty() ? "" : "|") + Utf8FromWide(item);
    return joined;
}

// The file's UTF-16 text as UTF-8, without the byte-order mark.
std::string DecodeUtf16(const std::string& bytes)
{
    FWideString text;
    for (size_t i = 2; i + 1 < bytes.size(); i += 2)
        text += static_cast<char16_t>(static_cast<unsigned char>(bytes[i]) |
                                      (static_cast<unsigned char>(bytes[i + 1]) << 8));
    return Utf8FromWide(text);
}

class SettingsTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        EnsureDiskStorageClass();
        ASSERT_EQ(mkdir(m_temp.Join("config").c_str(), 0700), 0);
        ASSERT_EQ(mkdir(m_temp.Join("exe").c_str(), 0700), 0);
    }

    FWideString Url(const std::string& name) const
    {
        FWideString url;
        NativePathToURL(WideFromUtf8(m_temp.Join(name)), url);
        return url;
    }

    // A manager on the temporary folders with every event wired to the recorder.
    std::unique_ptr<FUiSettings> Make(bool start = true)
    {
        auto settings = std::make_unique<FUiSettings>("SETTINGS_MGR");
        settings->SetFolderURL(Url("config"));
        settings->SetLegacyFolderURL(Url("exe"));
        for (const auto& [event, message] : kWiring)
            settings->FindEvent(FWideString(event.c_str()))->AddTarget(FWideString(message.c_str()), &m_rec);
        if (start)
            settings->UiRelayMessage(FWideString("Post Creation Initialization"), nullptr);
        return settings;
    }

    void Save(FUiSettings& settings, const char16_t* name, const ProcessingSettings& values)
    {
        ProcessingSettings copy = values;
        settings.UiRelayMessage(FWideString("SettingsData"), &copy);
        m_rec.typedName = FWideString(name);
        settings.UiRelayMessage(FWideString("SaveSettings"), nullptr);
    }

    std::string FileText(const std::string& folder = "config") const
    {
        std::string bytes;
        return m_temp.ReadFile(folder + "/settings.xml", bytes) ? DecodeUtf16(bytes) : std::string();
    }

    std::vector<FWideString> AllNames(FUiSettings& settings)
    {
        std::vector<FWideString> names;
        settings.UiRelayMessage(FWideString("GetList"), &names);
        return names;
    }

    FScopedTempFolder m_temp;
    FSettingsRecorder m_rec;
};

ProcessingSettings Sample()
{
    ProcessingSettings values;
    values.Blackness = 0.126;
    values.Contrast = -1.5;
    values.Exposure = 1.004;
    values.Highlight = 0.25;
    values.Saturation = -0.333;
    values.Sharpness = 2.0;
    values.Retinex = 0.5;
    values.ColorSpace = kColorSpaceAdobeRGB;
    values.ColorAdjustR = 1.234567;
    values.ColorAdjustG = 0.9;
    values.ColorAdjustB = 1.1;
    return values;
}

TEST_F(SettingsTest, WritesTheTreeWithItsFormatsAndReadsItBackRounded)
{
    auto settings = Make();
    Save(*settings, u"Warm", Sample());
    const std::string text = FileText();
    EXPECT_EQ(text,
              "<CUSTOM>\r\n"
              "\t<SETTINGS>\r\n"
              "\t\t<SETTING Name=\"Warm\" >\r\n"
              "\t\t\t<DATA Blackness=\"0.13\"  Contrast=\"-1.50\"  Exposure=\"1.00\"  Highlight=\"0.25\"  "
              "Saturation=\"-0.33\"  Sharpness=\"2.00\"  Retinex=\"0.50\" />\r\n"
              "\t\t\t<DATA ColorSpace=\"3\"  ColorAdjustR=\"1.23457\"  ColorAdjustG=\"0.90000\"  "
              "ColorAdjustB=\"1.10000\" />\r\n"
              "\t\t</SETTING>\r\n"
              "\t</SETTINGS>\r\n"
              "</CUSTOM>\r\n")
        << "the zero setting is never written";

    // A restart reads the rounded values.
    settings.reset();
    m_rec.Clear();
    auto again = Make();
    ASSERT_EQ(again->GetEntries().size(), 2u);
    const ProcessingSettings& read = again->GetEntries()[1].m_Settings;
    EXPECT_DOUBLE_EQ(read.Blackness, 0.13);
    EXPECT_DOUBLE_EQ(read.Saturation, -0.33);
    EXPECT_DOUBLE_EQ(read.ColorAdjustR, 1.23457);
    EXPECT_EQ(read.ColorSpace, kColorSpaceAdobeRGB);
    EXPECT_EQ(m_rec.Log(), "List:4,NotifyName:InitialCustomSettingName");
    EXPECT_EQ(ToUtf8(m_rec.lists[0]), "Zero Adjust|Warm|Custom0|Custom1");
}

TEST_F(SettingsTest, ReadsFilesByTheRules)
{
    struct Case {
        const char* what;
        const char* body;
        const char* names;
        double exposure; // of the last entry
    };
    const Case cases[] = {
        {"a duplicate name gives one entry with the second values",
         "<CUSTOM><SETTINGS><SETTING Name=\"A\"><DATA Exposure=\"1\"/><DATA/></SETTING>"
         "<SETTING Name=\"B\"><DATA/><DATA/></SETTING>"
         "<SETTING Name=\"A\"><DATA Exposure=\"2\"/><DATA/></SETTING></SETTINGS></CUSTOM>",
         "Zero Adjust|A|B", 0.0},
        {"the zero setting's name overwrites its values until the next reload",
         "<CUSTOM><SETTINGS><SETTING Name=\"Zero Adjust\"><DATA Exposure=\"1.5\"/><DATA/></SETTING>"
         "</SETTINGS></CUSTOM>",
         "Zero Adjust", 1.5},
        {"missing attributes and children take the record's defaults, not 1.0",
         "<CUSTOM><SETTINGS><SETTING Name=\"A\"><DATA Contrast=\"1\"/></SETTING></SETTINGS></CUSTOM>",
         "Zero Adjust|A", 0.0},
        {"element names below SETTINGS do not matter; an empty name is skipped; no name is Setting_Name",
         "<CUSTOM><SETTINGS><X Name=\"\"><DATA/><DATA/></X><Y><DATA Exposure=\"-1\"/><DATA/></Y>"
         "</SETTINGS></CUSTOM>",
         "Zero Adjust|Setting_Name", -1.0},
        {"another root is ignored", "<OTHER><SETTINGS><SETTING Name=\"A\"/></SETTINGS></OTHER>",
         "Zero Adjust", 0.0},
        {"another first child is ignored",
         "<CUSTOM><LIST/><SETTINGS><SETTING Name=\"A\"/></SETTINGS></CUSTOM>", "Zero Adjust", 0.0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        ASSERT_TRUE(m_temp.WriteFile("config/settings.xml", c.body));
        auto settings = Make();
        std::vector<FWideString> names = AllNames(*settings);
        names.resize(names.size() / 2);
        EXPECT_EQ(ToUtf8(names), c.names);
        const FUiSettingEntry& last = settings->GetEntries().back();
        EXPECT_DOUBLE_EQ(last.m_Settings.Exposure, c.exposure);
        EXPECT_DOUBLE_EQ(last.m_Settings.ColorAdjustG, 1.0);
        EXPECT_EQ(last.m_Settings.ColorSpace, kColorSpaceSRGB);
        EXPECT_EQ(settings->GetEntries().front().m_bStored, false);
    }
}

TEST_F(SettingsTest, ListsControlsAndTheEmptyName)
{
    auto settings = Make();
    m_rec.Clear();
    settings->UiRelayMessage(FWideString("CheckSettingNumber"), nullptr);
    EXPECT_EQ(m_rec.Log(), "Disable");

    // An empty typed name adds nothing but the file is still written and the list sent.
    m_rec.Clear();
    Save(*settings, u"", Sample());
    EXPECT_EQ(m_rec.Log(), "GetName,SetName,Disable,List:2");
    EXPECT_EQ(FileText().find("SETTING "), std::string::npos);
    EXPECT_NE(FileText().find("SETTINGS"), std::string::npos);

    Save(*settings, u"One", Sample());
    Save(*settings, u"Two", ProcessingSettings());
    m_rec.Clear();
    settings->UiRelayMessage(FWideString("CheckSettingNumber"), nullptr);
    settings->UiRelayMessage(FWideString("RequestSaveSettings"), nullptr);
    settings->UiRelayMessage(FWideString("RequestDeleteSettings"), nullptr);
    EXPECT_EQ(m_rec.Log(), "Enable,List:4,NotifyName:InitialCustomSettingName,List:4,"
                           "NotifyName:InitialCustomSettingName");
    EXPECT_EQ(ToUtf8(m_rec.lists[0]), "One|Two|Custom0|Custom1");
    EXPECT_EQ(ToUtf8(AllNames(*settings)), "Zero Adjust|One|Two|Custom0|Custom1|Custom2");

    // Saving under an existing name replaces the values in place.
    ProcessingSettings changed;
    changed.Exposure = 0.75;
    Save(*settings, u"One", changed);
    ASSERT_EQ(settings->GetEntries().size(), 3u);
    EXPECT_DOUBLE_EQ(settings->GetEntries()[1].m_Settings.Exposure, 0.75);

    // Choosing a setting hands out its values and remembers its name for the relay.
    m_rec.Clear();
    FWideString name(u"One");
    settings->UiRelayMessage(FWideString("GetSetting"), &name);
    settings->UiRelayMessage(FWideString("RequestedSettingRelay"), &m_rec);
    FWideString absent(u"Nope");
    FUiSettingsFetch fetch{&absent, &m_rec};
    settings->UiRelayMessage(FWideString("FetchSettingByName"), &fetch);
    fetch.m_pName = &name;
    settings->UiRelayMessage(FWideString("FetchSettingByName"), &fetch);
    EXPECT_EQ(m_rec.Log(), "Values,SetName:One,RequestedSetting,RequestedSetting");
    ASSERT_EQ(m_rec.values.size(), 3u);
    EXPECT_DOUBLE_EQ(m_rec.values[2].Exposure, 0.75);
    EXPECT_DOUBLE_EQ(settings->GetCurrentValues().Exposure, 0.75);
    EXPECT_FALSE(settings->UiRelayMessage(FWideString("GetSetting"), nullptr));
    EXPECT_FALSE(settings->UiRelayMessage(FWideString("Unknown"), nullptr));
}

TEST_F(SettingsTest, DeletesTheSelectedSettingButNeverTheZeroSetting)
{
    auto settings = Make();
    Save(*settings, u"One", Sample());
    Save(*settings, u"Two", Sample());
    m_rec.Clear();

    FWideString zero(u"Zero Adjust");
    settings->UiRelayMessage(FWideString("SelectedForDeletion"), &zero);
    settings->UiRelayMessage(FWideString("DeleteSetting"), nullptr);
    FWideString two(u"Two");
    settings->UiRelayMessage(FWideString("SelectedForDeletion"), &two);
    settings->UiRelayMessage(FWideString("DoNotDeleteSetting"), nullptr);
    settings->UiRelayMessage(FWideString("DeleteSetting"), nullptr);
    EXPECT_EQ(m_rec.Log(), "");

    // "Two" is the current setting (last saved), so its deletion falls back to the default.
    settings->UiRelayMessage(FWideString("SelectedForDeletion"), &two);
    settings->UiRelayMessage(FWideString("DeleteSetting"), nullptr);
    EXPECT_EQ(m_rec.Log(), "Default,List:4,Deleted:Two,Enable");
    EXPECT_EQ(FileText().find("Two"), std::string::npos);

    FWideString one(u"One");
    m_rec.Clear();
    settings->UiRelayMessage(FWideString("SelectedForDeletion"), &one);
    settings->UiRelayMessage(FWideString("DeleteSetting"), nullptr);
    EXPECT_EQ(m_rec.Log(), "List:2,Deleted:One,Disable");
}

TEST_F(SettingsTest, NamesTheFileCannotHoldAreRefusedAndHardOnesRoundTrip)
{
    auto settings = Make();
    const std::u16string hard[] = {u"say \"cheese\"", u"a<b>&c", u"in/out\\side", u"&#34;",
                                   std::u16string(4000, u'x')};
    for (const std::u16string& name : hard)
        Save(*settings, name.c_str(), Sample());
    m_rec.Clear();
    Save(*settings, u"line\nbreak", Sample());
    EXPECT_EQ(m_rec.Log(), "GetName,Refused:line\nbreak");

    settings.reset();
    auto again = Make();
    ASSERT_EQ(again->GetEntries().size(), 1u + std::size(hard));
    for (size_t i = 0; i < std::size(hard); ++i)
        EXPECT_TRUE(again->GetEntries()[i + 1].m_usName == FWideString(hard[i].c_str())) << i;
}

TEST_F(SettingsTest, AnUnreadableFileIsSetAsideAndTreatedAsMissing)
{
    const char* const bodies[] = {
        "<CUSTOM><SETTINGS><SETTING Name=\"A\"><DATA Exposure=\"1\"", // truncated
        "not xml at all \x01\x02",
        "",
    };
    for (const char* body : bodies) {
        SCOPED_TRACE(body);
        ASSERT_TRUE(m_temp.WriteFile("config/settings.xml", body));
        std::string aside;
        {
            auto settings = Make();
            ASSERT_EQ(settings->GetEntries().size(), 1u);
            ASSERT_TRUE(m_temp.ReadFile("config/settings.unreadable-0.xml", aside));
            EXPECT_EQ(aside, body);
            Save(*settings, u"Fresh", Sample());
        }
        auto again = Make();
        EXPECT_EQ(again->GetEntries().size(), 2u);
        std::remove(m_temp.Join("config/settings.unreadable-0.xml").c_str());
        std::remove(m_temp.Join("config/settings.xml").c_str());
    }
}

TEST_F(SettingsTest, FallsBackToTheLegacyFileAndWritesOnlyTheConfigurationFolder)
{
    ASSERT_TRUE(m_temp.WriteFile(
        "exe/settings.xml",
        "<CUSTOM><SETTINGS><SETTING Name=\"Old\"><DATA/><DATA/></SETTING></SETTINGS></CUSTOM>"));
    auto settings = Make();
    ASSERT_EQ(settings->GetEntries().size(), 2u);
    Save(*settings, u"New", Sample());
    EXPECT_NE(FileText().find("Name=\"Old\""), std::string::npos);
    EXPECT_NE(FileText().find("Name=\"New\""), std::string::npos);
    std::string legacy;
    ASSERT_TRUE(m_temp.ReadFile("exe/settings.xml", legacy));
    EXPECT_EQ(legacy.find("New"), std::string::npos);
}

TEST_F(SettingsTest, AFailedWriteIsReportedAndKeepsTheChange)
{
    ASSERT_TRUE(m_temp.WriteFile("blocker", "a file where the folder should be"));
    auto settings = Make(false);
    settings->SetFolderURL(Url("blocker/config"));
    settings->UiRelayMessage(FWideString("Post Creation Initialization"), nullptr);
    m_rec.Clear();
    Save(*settings, u"Kept", Sample());
    EXPECT_EQ(m_rec.log.size(), 5u);
    EXPECT_EQ(m_rec.log[3].rfind("NotSaved:", 0), 0u) << m_rec.Log();
    EXPECT_EQ(m_rec.log[4], "List:4");
    ASSERT_EQ(settings->GetEntries().size(), 2u);
    EXPECT_TRUE(settings->GetEntries()[1].m_usName == FWideString(u"Kept"));
}

TEST_F(SettingsTest, AHundredThousandEntriesLoad)
{
    std::string body = "<CUSTOM><SETTINGS>";
    for (int i = 0; i < 100000; ++i)
        body += "<SETTING Name=\"S" + std::to_string(i) + "\"><DATA Exposure=\"0.5\"/><DATA/></SETTING>";
    body += "</SETTINGS></CUSTOM>";
    ASSERT_TRUE(m_temp.WriteFile("config/settings.xml", body));
    auto settings = Make();
    ASSERT_EQ(settings->GetEntries().size(), 100001u);
    EXPECT_TRUE(settings->GetEntries().back().m_usName == FWideString(u"S99999"));
    ASSERT_EQ(m_rec.lists.size(), 1u);
    EXPECT_EQ(m_rec.lists[0].size(), 200002u);
}

} // namespace
