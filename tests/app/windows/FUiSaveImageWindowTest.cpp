// The single save dialog driven by its messages: the proposed and typed names, the
// checks before a save, the overwrite question and the request it sends.

#include <gtest/gtest.h>

#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

#include "FCodePage.h"
#include "FScopedTempFolder.h"
#include "FUiProgressWindow.h"
#include "FUiSaveImageWindow.h"
#include "FUiScriptFixture.h"
#include "QuotaFolder.h"
#include "StorageClassRegistry.h"

namespace
{

// Answers the dialog's questions and records what the manager tells it.
class FSingleDialog : public FUiObject
{
public:
    FSingleDialog() : FUiObject("DIALOG") {}
    bool UiRelayMessage(const FWideString& message, void* data) override
    {
        const std::string name = message.GetNarrow();
        if (name == "ON_GET_FILETYPE")
            *static_cast<FWideString*>(data) = FWideString(fileType.c_str());
        else if (name == "ON_GET_OUTPUTSIZE")
            *static_cast<FWideString*>(data) = FWideString(outputSize.c_str());
        else if (name == "ON_GET_COLORSPACE")
            *static_cast<FWideString*>(data) = FWideString("Adobe");
        else if (name == "ON_GET_JPEG_VALUE")
            *static_cast<double*>(data) = 7.5;
        else if (name == "ON_GET_NATIVE_DST_DIR")
            *static_cast<FWideString*>(data) = WideFromUtf8(destination);
        else if (name == "ON_GET_DST_FILENAME")
            *static_cast<FWideString*>(data) = WideFromUtf8(typed);
        else if (name == "ON_PERFORM_SAVE") {
            auto copy = std::make_unique<FUiIpObjectProcAndSaveReq>();
            CopyProcAndSaveRequest(*copy, *static_cast<FUiIpObjectProcAndSaveReq*>(data));
            saves.push_back(std::move(copy));
        } else if (name == "ON_SET_REPLY")
            reply = static_cast<FIUiRelay*>(data);
        else if (name == "ON_SET_ADJUSTMENT_MODE")
            log.push_back(name + "=" + std::to_string(*static_cast<int*>(data)));
        else if (name == "ON_ENABLE_JPEG_QUALITY")
            log.push_back(name + "=" + (*static_cast<bool*>(data) ? "true" : "false"));
        else if (name == "ON_SET_IMAGESIZE_MENU_ITEM")
            log.push_back(name + "=" + Utf8FromWide(static_cast<FWideString*>(data)[0]));
        else if (data && name != "ON_START_SAVE_BATCH")
            log.push_back(name + "=" + Utf8FromWide(*static_cast<FWideString*>(data)));
        else
            log.push_back(name);
        return true;
    }
    std::vector<std::string> Notices() const
    {
        std::vector<std::string> notices;
        for (const std::string& line : log)
            if (line.rfind("ON_SHOW_", 0) == 0)
                notices.push_back(line);
        return notices;
    }

    std::string fileType = "JPEG_EXIF", outputSize = "Same", destination, typed;
    std::vector<std::string> log;
    std::vector<std::unique_ptr<FUiIpObjectProcAndSaveReq>> saves;
    FIUiRelay* reply = nullptr;
};

class SingleSaveTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        EnsureDiskStorageClass();
        g_quota = FQuota();
        m_window.SetFolderOpener([](const FWideString& url, FWideString& fileName) -> FIFolder* {
            FIFolder* inner = OpenFolderURL(url, fileName, false);
            return inner ? new FQuotaFolder(inner) : nullptr;
        });
        for (RelayEvent* event = m_window.GetFirstEvent(); event; event = event->GetNext())
            event->AddTarget(event->GetName(), &m_dialog);
        m_dialog.destination = m_temp.GetPath();
    }
    void Take(const char* name, int mode, int width = 2268, int height = 1512)
    {
        FUiSaveImageCmd cmd;
        FWideString escaped;
        EscapeURLChars(WideFromUtf8(name), escaped);
        cmd.m_usSrcURL = FWideString(u"disk:///photos/");
        cmd.m_usSrcURL += escaped;
        cmd.m_nSettingMode = mode;
        cmd.m_Settings.Exposure = 0.75;
        cmd.m_Settings.ColorAdjustB = 1.5;
        cmd.m_nWidth = width;
        cmd.m_nHeight = height;
        m_dialog.log.clear();
        m_window.UiRelayMessage(FWideString("SaveCmd"), &cmd);
    }
    void Save(const std::string& typed)
    {
        m_dialog.typed = typed;
        m_dialog.log.clear();
        m_dialog.saves.clear();
        m_window.UiRelayMessage(FWideString("PerformSave"), nullptr);
    }
    bool Reply(const char* answer)
    {
        FWideString text(answer);
        return m_window.UiRelayMessage(FWideString("Reply"), &text);
    }

    FScopedTempFolder m_temp;
    FUiSaveImageWindow m_window{"SAVE_IMAGE_WIN_MGR"};
    FSingleDialog m_dialog;
};

TEST_F(SingleSaveTest, TheImageIsTakenWithItsProposedNameAndResolution)
{
    Take("IMG0001.Q7F", Q7FSettingMode);
    EXPECT_EQ(m_dialog.log, (std::vector<std::string>{
                                "ON_SET_ADJUSTMENT_MODE=0", "ON_SRC_FILENAME=IMG0001.Q7F",
                                "ON_SET_DST_FILENAME=IMG0001.jpg",
                                "ON_SRC_RESOLUTION=10.3 MP (2268 x 1512 x 3)", "ON_SET_IMAGESIZE_MENU"}));
    struct Case {
        int mode;
        int shown;
    };
    for (const Case& c : {Case{AutoSettingMode, 1}, Case{CustomSettingMode, 2}, Case{12345, 0}}) {
        Take("a.q7f", c.mode);
        EXPECT_EQ(m_dialog.log.front(), "ON_SET_ADJUSTMENT_MODE=" + std::to_string(c.shown));
    }
    // A name the URL escapes is shown and proposed unescaped.
    Take("my %photo.x.q7f", Q7FSettingMode);
    EXPECT_EQ(m_dialog.log[1], "ON_SRC_FILENAME=my %photo.x.q7f");
    EXPECT_EQ(m_dialog.log[2], "ON_SET_DST_FILENAME=my %photo.x.jpg");

    const FWideString half[2] = {FWideString("Half"), FWideString("Half")};
    m_dialog.log.clear();
    m_window.UiRelayMessage(FWideString("AddImageSizeMenuItem"), const_cast<FWideString*>(half));
    m_window.UiRelayMessage(FWideString("AddImageSizeMenuItemNoSize"), const_cast<FWideString*>(half));
    // Each item asks for the chosen size, so that the chosen one shows in this image's words.
    EXPECT_EQ(m_dialog.log,
              (std::vector<std::string>{"ON_SET_IMAGESIZE_MENU_ITEM=Half 0.9 MP", "ON_IMAGESIZE_GET_MENU_ID=",
                                        "ON_SET_IMAGESIZE_MENU_ITEM=Half", "ON_IMAGESIZE_GET_MENU_ID="}));
}

TEST_F(SingleSaveTest, TheTypedNameTakesTheExtensionOfTheChosenType)
{
    struct Case {
        const char* typed;
        const char* type;
        const char* shown;
    };
    const Case cases[] = {
        {"photo.final.jpg", "TIFF16", "photo.final.tif"},
        {"abc", "JPEG_EXIF", "abc.jpg"},
        // The whole extension goes, however long; a four-character cut would leave "photo..tif".
        {"photo.jpeg", "TIFF8", "photo.tif"},
        {"a.b", "JPEG_JFIF", "a.jpg"},
        {"keep.tif", "PNG", "keep.tif"},
    };
    Take("IMG0001.Q7F", Q7FSettingMode);
    for (const Case& c : cases) {
        SCOPED_TRACE(c.typed);
        m_dialog.typed = c.typed;
        m_dialog.log.clear();
        FWideString type(c.type);
        EXPECT_TRUE(m_window.UiRelayMessage(FWideString("FileType"), &type));
        ASSERT_FALSE(m_dialog.log.empty());
        EXPECT_EQ(m_dialog.log.back(), std::string("ON_SET_DST_FILENAME=") + c.shown);
        // A known type also sets whether the JPEG quality applies.
        const std::string kind = c.type;
        const std::string quality = kind == "PNG"                ? ""
                                    : kind.rfind("JPEG", 0) == 0 ? "ON_ENABLE_JPEG_QUALITY=true"
                                                                 : "ON_ENABLE_JPEG_QUALITY=false";
        EXPECT_EQ(m_dialog.log.size() == 2 ? m_dialog.log.front() : "", quality);
    }
    // The type persists: the next image is proposed with it.
    FWideString tiff("TIFF8");
    m_window.UiRelayMessage(FWideString("FileType"), &tiff);
    Take("IMG0002.Q7F", Q7FSettingMode);
    EXPECT_EQ(m_dialog.log[2], "ON_SET_DST_FILENAME=IMG0002.tif");
}

TEST_F(SingleSaveTest, ASaveSendsOneRequestWithTheDialogsChoices)
{
    Take("IMG0001.Q7F", AutoSettingMode, 1000, 501);
    m_dialog.fileType = "TIFF16";
    m_dialog.outputSize = "Half";
    bool store = true;
    m_window.UiRelayMessage(FWideString("SetSaveSettings"), &store);
    Save("out name.tif");
    ASSERT_EQ(m_dialog.saves.size(), 1u);
    EXPECT_EQ(m_dialog.log.back(), "ON_START_SAVE_BATCH");
    const FUiIpObjectProcAndSaveReq& first = *m_dialog.saves[0];
    EXPECT_EQ(Utf8FromWide(first.m_usFileURL), "disk:///photos/IMG0001.Q7F");
    FWideString expected;
    ASSERT_TRUE(NativePathToURL(WideFromUtf8(m_temp.Join("out name.tif")), expected));
    EXPECT_EQ(first.m_usDstURL, expected);
    EXPECT_EQ(first.m_nOutCols, 500);
    EXPECT_EQ(first.m_nOutRows, 251);
    EXPECT_EQ(first.m_rCrop.right, 500);
    EXPECT_EQ(first.m_nTiffBits, 16);
    EXPECT_EQ(first.m_bJpeg, 0);
    EXPECT_EQ(first.m_nJpegQuality, 8);
    EXPECT_EQ(first.m_Settings.ColorSpace, kColorSpaceAdobeRGB);
    EXPECT_TRUE(first.m_bAutoSetFirst);
    EXPECT_TRUE(first.m_bStoreSettings);
    EXPECT_FALSE(first.m_bSecondPass);
    EXPECT_TRUE(first.m_usCustomName.IsEmpty());

    // Then custom mode: the review window's adjustments, no automatic pass, the dialog's space.
    Take("IMG0001.Q7F", CustomSettingMode, 1000, 501);
    FWideString custom("Evening");
    m_dialog.log.clear();
    m_window.UiRelayMessage(FWideString("CustomSettingName"), &custom);
    EXPECT_EQ(m_dialog.log, std::vector<std::string>{"ON_SET_CUSTOM_NAME=Evening"});
    Save("second");
    ASSERT_EQ(m_dialog.saves.size(), 1u);
    const FUiIpObjectProcAndSaveReq& second = *m_dialog.saves[0];
    EXPECT_FALSE(second.m_bAutoSetFirst);
    EXPECT_DOUBLE_EQ(second.m_Settings.Exposure, 0.75);
    EXPECT_DOUBLE_EQ(second.m_Settings.ColorAdjustB, 1.5);
    EXPECT_EQ(second.m_Settings.ColorSpace, kColorSpaceAdobeRGB);
    EXPECT_EQ(Utf8FromWide(second.m_usCustomName), "Evening");
    EXPECT_EQ(Utf8FromWide(second.m_usDstURL).substr(Utf8FromWide(second.m_usDstURL).size() - 10),
              "second.tif");
}

TEST_F(SingleSaveTest, TheChecksComeInOrderAndStopTheSave)
{
    Take("IMG0001.Q7F", Q7FSettingMode, 1000, 1000);
    m_dialog.fileType = "TIFF8";
    const int64_t needed = 3000000;
    ASSERT_TRUE(m_temp.WriteFile("plain.txt", ""));
    ASSERT_EQ(system(("mkdir '" + m_temp.Join("folder.tif") + "'").c_str()), 0);
    struct Case {
        const char* what;
        std::string typed, destination;
        int64_t freeSpace;
        bool readOnly;
        const char* notice;
    };
    const std::string here = m_temp.GetPath();
    // 126 two-byte letters and ".tif" make 256 bytes.
    std::string eAcute126;
    for (int i = 0; i < 126; ++i)
        eAcute126 += "\xC3\xA9";
    const Case cases[] = {
        {"exactly enough", "ok", here, needed, false, nullptr},
        {"one byte short", "ok", here, needed - 1, false, "ON_SHOW_INSUFFICIENT"},
        {"read-only", "ok", here, needed, true, "ON_SHOW_INVALID_READ_ONLY_FILE"},
        {"a colon comes before write protection", "a:b", here, needed, true, "ON_SHOW_INVALID_CHAR"},
        {"a slash", "a/b", here, needed, false, "ON_SHOW_INVALID_CHAR"},
        {"a quote", "say \"cheese\"", here, needed, false, "ON_SHOW_INVALID_CHAR"},
        {"a less-than sign", "a<b", here, needed, false, "ON_SHOW_INVALID_CHAR"},
        {"an ampersand is a letter like any other", "salt & pepper", here, needed, false, nullptr},
        {"longest name the disk takes", std::string(251, 'x'), here, needed, false, nullptr},
        {"one byte longer", std::string(252, 'x'), here, needed, false, "ON_SHOW_INVALID_CHAR"},
        {"4,000 characters", std::string(4000, 'x'), here, needed, false, "ON_SHOW_INVALID_CHAR"},
        {"long in UTF-8 though short in characters", eAcute126, here, needed, false, "ON_SHOW_INVALID_CHAR"},
        {"empty name", "", here, needed, false, "ON_SHOW_INVALID"},
        {"empty folder", "ok", "", needed, false, "ON_SHOW_INVALID"},
        {"missing folder", "ok", here + "/gone", needed, false, "ON_SHOW_INVALID"},
        {"a file as folder", "ok", here + "/plain.txt", needed, false, "ON_SHOW_INVALID"},
        {"a folder of the name", "folder", here, needed, false, "ON_SHOW_INVALID"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        g_quota.freeSpace = c.freeSpace;
        g_quota.readOnly = c.readOnly;
        m_dialog.destination = c.destination;
        Save(c.typed);
        EXPECT_EQ(m_dialog.saves.size(), c.notice ? 0u : 1u);
        EXPECT_EQ(m_dialog.Notices(),
                  c.notice ? std::vector<std::string>{c.notice} : std::vector<std::string>{});
    }
    EXPECT_EQ(system(("test -d '" + here + "/gone'").c_str()) == 0, false) << "no folder is created";
}

TEST_F(SingleSaveTest, AnExistingFileIsReplacedOnlyAfterOverWrite)
{
    Take("IMG0001.Q7F", Q7FSettingMode);
    ASSERT_TRUE(m_temp.WriteFile("old.jpg", "old bytes"));
    // A stray answer with no question open saves nothing.
    EXPECT_TRUE(Reply("OverWrite"));
    EXPECT_TRUE(m_dialog.saves.empty());
    for (const char* answer : {"Cancel", "OverWrite"}) {
        SCOPED_TRACE(answer);
        m_dialog.reply = nullptr;
        Save("old.jpg");
        EXPECT_EQ(m_dialog.Notices(), std::vector<std::string>{"ON_SHOW_OVERWRITE"});
        EXPECT_EQ(m_dialog.reply, static_cast<FIUiRelay*>(&m_window));
        EXPECT_TRUE(m_dialog.saves.empty());
        Reply(answer);
        EXPECT_EQ(m_dialog.saves.size(), answer == std::string("OverWrite") ? 1u : 0u);
    }
    // The progress window is told not to ask again; the next save asks afresh.
    EXPECT_TRUE(m_dialog.saves[0]->m_bSecondPass);
    Reply("OverWrite");
    EXPECT_EQ(m_dialog.saves.size(), 1u);
    std::string bytes;
    ASSERT_TRUE(m_temp.ReadFile("old.jpg", bytes));
    EXPECT_EQ(bytes, "old bytes");
}

TEST_F(SingleSaveTest, MessagesWithoutTheirDataAreRefused)
{
    for (const char* message :
         {"SaveCmd", "FileType", "Reply", "CustomSettingName", "SetSaveSettings", "AddImageSizeMenuItem"})
        EXPECT_FALSE(m_window.UiRelayMessage(FWideString(message), nullptr)) << message;
    EXPECT_FALSE(m_window.UiRelayMessage(FWideString("Unknown"), &m_dialog));
    m_dialog.log.clear();
    EXPECT_TRUE(m_window.UiRelayMessage(FWideString("Post Creation Initialization"), nullptr));
    EXPECT_EQ(m_dialog.log, std::vector<std::string>{"ON_INIT"});
}

} // namespace
