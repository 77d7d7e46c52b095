// The batch save dialog driven by its messages: counting and labels, the scope rules,
// resolutions and the size menu, the requests a save sends, and the destination checks
// (free space and write protection through injected folders).

#include <gtest/gtest.h>

#include <cmath>
#include <map>
#include <string>
#include <vector>

#include "FCodePage.h"
#include "FImageFileListEntry.h"
#include "FUiSaveImagesAsWindow.h"
#include "FUiScriptFixture.h"
#include "FUiSettings.h"
#include "FakeIpPool.h"
#include "QuotaFolder.h"
#include "StorageClassRegistry.h"

namespace
{

// Answers the dialog's questions and records what the manager tells it.
class FDialog : public FUiObject
{
public:
    FDialog() : FUiObject("DIALOG") {}
    bool UiRelayMessage(const FWideString& message, void* data) override
    {
        const std::string name = message.GetNarrow();
        std::string line = name;
        if (name == "ON_GET_FILETYPE")
            *static_cast<FWideString*>(data) = FWideString(fileType.c_str());
        else if (name == "ON_GET_OUTPUTSIZE")
            *static_cast<FWideString*>(data) = FWideString(outputSize.c_str());
        else if (name == "ON_GET_COLORSPACE")
            *static_cast<FWideString*>(data) = FWideString(colorSpace.c_str());
        else if (name == "ON_GET_JPEG_VALUE")
            *static_cast<double*>(data) = jpegValue;
        else if (name == "ON_GET_NATIVE_DST_DIR")
            *static_cast<FWideString*>(data) = WideFromUtf8(destination);
        else if (name == "ON_IMAGESIZE_GET_MENU_ID")
            *static_cast<FWideString*>(data) = FWideString(menuId.c_str());
        else if (name == "ON_PERFORM_SAVE") {
            auto& request = *static_cast<FUiIpObjectProcAndSaveReq*>(data);
            saves.push_back({Utf8FromWide(request.m_usDstURL), request.m_nOutCols, request.m_nOutRows,
                             request.m_bAutoSetFirst, request.m_Settings.Exposure,
                             request.m_Settings.ColorSpace, request.m_nJpegQuality, request.m_bJpeg,
                             request.m_nTiffBits});
        } else if (name == "ON_SET_IMAGESIZE_MENU_ITEM" || name == "ON_IMAGESIZE_MENU_SET_TEXT")
            line += "=" + Utf8FromWide(static_cast<FWideString*>(data)[0]);
        else if (name == "ON_ENABLE_OK_BUTTON" || name == "ON_CAN_SAVE_Q7F_SETTINGS" ||
                 name.find("_ARE_PRESENT") != std::string::npos)
            line += *static_cast<bool*>(data) ? "=1" : "=0";
        else if (name == "ON_FETCH_SETTING") {
            auto* fetch = static_cast<FUiSettingsFetch*>(data);
            ProcessingSettings custom;
            custom.Exposure = 1.25;
            custom.ColorSpace = kColorSpaceAppleRGB;
            fetch->m_pRelay->UiRelayMessage(FWideString("RequestedSetting"), &custom);
        } else if (data && (name.find("IMAGES") != std::string::npos || name == "ON_SAME_RESOLUTIONS"))
            line += "=" + Utf8FromWide(*static_cast<FWideString*>(data));
        if (name.rfind("ON_GET_", 0) != 0 && name != "ON_PERFORM_SAVE")
            log.push_back(line);
        return true;
    }
    bool Logged(const std::string& line) const
    {
        for (const std::string& l : log)
            if (l == line)
                return true;
        return false;
    }

    struct Save {
        std::string dst;
        int cols, rows;
        bool autoFirst;
        double exposure;
        int colorSpace, quality, jpeg, tiffBits;
    };
    std::string fileType = "JPEG_EXIF", outputSize = "Same", colorSpace = "PC", destination, menuId;
    double jpegValue = 8.6;
    std::vector<std::string> log;
    std::vector<Save> saves;
};

struct Image {
    const char* name;
    int cols, rows;
    bool raw, marked, selected;
    int64_t bytes = 10485760;
};

class BatchSaveTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        EnsureDiskStorageClass();
        m_window.SetFolderOpener([](const FWideString& url, FWideString& fileName) -> FIFolder* {
            FIFolder* inner = OpenFolderURL(url, fileName, false);
            return inner ? new FQuotaFolder(inner) : nullptr;
        });
        g_quota = FQuota();
        for (RelayEvent* event = m_window.GetFirstEvent(); event; event = event->GetNext())
            event->AddTarget(event->GetName(), &m_dialog);
        m_dialog.destination = m_temp.GetPath();
    }

    void Give(const std::vector<Image>& images)
    {
        m_entries.clear();
        for (const Image& image : images) {
            auto entry = std::make_unique<FImageFileListEntry>();
            FWideString url(u"disk:///photos/");
            url += image.name;
            entry->SetURL(url);
            entry->m_nCols = image.cols;
            entry->m_nRows = image.rows;
            entry->m_bRaw = image.raw;
            entry->m_bMarked = image.marked;
            entry->m_bSelected = image.selected;
            entry->m_nFileSize = image.bytes;
            if (!m_entries.empty())
                m_entries.back()->m_pNext = entry.get();
            m_entries.push_back(std::move(entry));
        }
        m_dialog.log.clear();
        m_window.UiRelayMessage(FWideString("ImageFileList"),
                                m_entries.empty() ? nullptr : m_entries[0].get());
    }
    void Send(const char* message) { m_window.UiRelayMessage(FWideString(message), nullptr); }

    FScopedTempFolder m_temp;
    FakeIpPool m_pool;
    FUiSaveImagesAsWindow m_window{"SAVE_IMAGES_AS_WIN_MGR", &m_pool};
    FDialog m_dialog;
    std::vector<std::unique_ptr<FImageFileListEntry>> m_entries;
};

TEST_F(BatchSaveTest, LabelsAndTheScopeChosenFromTheList)
{
    struct Case {
        std::vector<Image> images;
        const char* all;
        const char* marked;
        const char* scope;
        const char* many;
    };
    const Case cases[] = {
        {{{"a.q7f", 10, 10, true, false, false},
          {"b.q7f", 10, 10, true, false, false},
          {"c.q7f", 10, 10, true, false, false},
          {"d.jpg", 10, 10, false, true, true}},
         "(3 images, 30.0 MB)",
         "(0 images)",
         "ON_SELECT_ALL",
         "ON_SAVING_MULTIPLE_IMAGE"},
        {{{"a.q7f", 10, 10, true, true, false}, {"b.q7f", 10, 10, true, false, false}},
         "(2 images, 20.0 MB)",
         "(1 image, 10.0 MB)",
         "ON_SELECT_MARKED",
         "ON_SAVING_SINGLE_IMAGE"},
        {{{"a.q7f", 10, 10, true, true, true}, {"b.q7f", 10, 10, true, true, true}},
         "(2 images, 20.0 MB)",
         "(2 images, 20.0 MB)",
         "ON_SELECT_SELECTED",
         "ON_SAVING_MULTIPLE_IMAGE"},
    };
    for (const Case& c : cases) {
        Give(c.images);
        EXPECT_TRUE(m_dialog.Logged(std::string("ON_ALL_IMAGES=") + c.all));
        EXPECT_TRUE(m_dialog.Logged(std::string("ON_MARKED_IMAGES=") + c.marked));
        EXPECT_TRUE(m_dialog.Logged(c.scope));
        EXPECT_TRUE(m_dialog.Logged(c.many));
    }

    // Asking for a scope with no image keeps the one in force and shows it again.
    Give({{"a.q7f", 10, 10, true, false, false}});
    m_dialog.log.clear();
    Send("MarkedImages");
    EXPECT_EQ(m_dialog.log, (std::vector<std::string>{"ON_SELECT_ALL", "ON_CAN_SAVE_Q7F_SETTINGS=1"}));
}

TEST_F(BatchSaveTest, ResolutionsAndTheSizeMenu)
{
    Give({{"a.q7f", 2268, 1512, true, false, false}, {"b.q7f", 2268, 1512, true, false, false}});
    EXPECT_TRUE(m_dialog.Logged("ON_SAME_RESOLUTIONS=10.3 MP (2268 x 1512 x 3)"));

    Give({{"a.q7f", 3000, 2000, true, false, false}, {"b.q7f", 2000, 3000, true, false, false}});
    EXPECT_TRUE(m_dialog.Logged("ON_MULTIPLE_RESOLUTIONS"));
    EXPECT_EQ(m_window.GetCommonPixelCount(), 6000000);
    m_dialog.menuId = "Double";
    m_dialog.log.clear();
    FWideString item[2] = {FWideString("Double size"), FWideString("Double")};
    m_window.UiRelayMessage(FWideString("AddImageSizeMenuItem"), item);
    m_window.UiRelayMessage(FWideString("AddImageSizeMenuItemNoSize"), item);
    EXPECT_EQ(m_dialog.log,
              (std::vector<std::string>{
                  "ON_SET_IMAGESIZE_MENU_ITEM=Double size 24.0 MP", "ON_IMAGESIZE_GET_MENU_ID",
                  "ON_IMAGESIZE_MENU_SET_TEXT=Double size 24.0 MP", "ON_SET_IMAGESIZE_MENU_ITEM=Double size",
                  "ON_IMAGESIZE_GET_MENU_ID", "ON_IMAGESIZE_MENU_SET_TEXT=Double size"}));

    // Different pixel counts leave the menu without megapixels.
    Give({{"a.q7f", 3000, 2000, true, false, false}, {"b.q7f", 100, 100, true, false, false}});
    EXPECT_EQ(m_window.GetCommonPixelCount(), 0);
}

TEST_F(BatchSaveTest, ASaveSendsOneRequestPerImageInScope)
{
    Give({{"IMG0001.Q7F", 3000, 2000, true, true, false},
          {"a.b.q7f", 3000, 2000, true, false, false},
          {"noext", 3000, 2000, true, true, false},
          {"x.jpg", 3000, 2000, false, true, false}});
    struct Case {
        const char* type;
        const char* size;
        int cols;
        const char* first;
    };
    const Case cases[] = {{"TIFF16", "Full", 5196, "IMG0001.tif"},
                          {"JPEG_JFIF", "Email", 1732, "IMG0001.jpg"},
                          {"TIFF8", "Half", 1500, "IMG0001.tif"}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.type);
        m_dialog.saves.clear();
        m_dialog.fileType = c.type;
        m_dialog.outputSize = c.size;
        Send("PerformSave");
        ASSERT_EQ(m_dialog.saves.size(), 2u) << "the marked raw images only";
        EXPECT_EQ(m_dialog.saves[0].cols, c.cols);
        const std::string dst = m_dialog.saves[0].dst;
        EXPECT_EQ(dst.substr(dst.rfind('/') + 1), c.first);
        EXPECT_EQ(dst.rfind("disk://", 0), 0u);
        EXPECT_EQ(m_dialog.saves[0].quality, 9);
        EXPECT_TRUE(m_dialog.saves[0].autoFirst);
    }
    EXPECT_EQ(m_dialog.saves[1].dst.substr(m_dialog.saves[1].dst.rfind('/') + 1), "noext.tif");
    Send("AllImages");
    m_dialog.fileType = "JPEG_EXIF";
    m_dialog.saves.clear();
    Send("PerformSave");
    ASSERT_EQ(m_dialog.saves.size(), 3u);
    EXPECT_EQ(m_dialog.saves[1].dst.substr(m_dialog.saves[1].dst.rfind('/') + 1), "a.b.jpg");

    // Names are taken unescaped, so a name the URL escapes is not escaped twice.
    FWideString escaped, url(u"disk:///photos/");
    EscapeURLChars(FWideString(u"my %photo.x.Q7F"), escaped);
    url += escaped;
    EXPECT_EQ(Utf8FromWide(SavedFileName(url, true)), "my %photo.x.jpg");
}

TEST_F(BatchSaveTest, ModesAndTheOkButton)
{
    Give({{"a.q7f", 100, 100, true, false, false}});
    m_dialog.log.clear();
    Send("CustomMode"); // the dialog names no setting
    EXPECT_EQ(m_dialog.log.back(), "ON_ENABLE_OK_BUTTON=0");
    FWideString name(u"Warm");
    m_window.UiRelayMessage(FWideString("SelectedSetting"), &name);
    EXPECT_EQ(m_dialog.log.back(), "ON_ENABLE_OK_BUTTON=1");
    m_dialog.colorSpace = "Adobe";
    Send("PerformSave");
    ASSERT_EQ(m_dialog.saves.size(), 1u);
    EXPECT_FALSE(m_dialog.saves[0].autoFirst);
    EXPECT_EQ(m_dialog.saves[0].exposure, 1.25) << "the fetched setting's values";
    EXPECT_EQ(m_dialog.saves[0].colorSpace, kColorSpaceAdobeRGB) << "the dialog's colour space wins";

    m_window.UiRelayMessage(FWideString("DeletedSetting"), &name);
    EXPECT_EQ(m_dialog.log.back(), "ON_ENABLE_OK_BUTTON=0");
    Send("DefaultMode");
    EXPECT_EQ(m_dialog.log[m_dialog.log.size() - 2], "ON_CAN_SAVE_Q7F_SETTINGS=0");
}

TEST_F(BatchSaveTest, TheDestinationIsChecked)
{
    Give({{"a.q7f", 1000, 1000, true, false, false}, {"b.q7f", 1000, 500, true, false, false}});
    m_dialog.fileType = "TIFF8";
    m_dialog.outputSize = "Double";
    // Both images at their own size, the scale on both sides: (1e6 + 5e5) x 4 x 3.
    const int64_t needed = 18000000;
    EXPECT_EQ(m_window.EstimateBytes(2.0, 3.0), needed);
    struct Case {
        const char* what;
        int64_t freeSpace;
        bool readOnly;
        std::string destination;
        const char* notice;
    };
    const Case cases[] = {
        {"exactly enough", needed, false, m_temp.GetPath(), nullptr},
        {"one byte short", needed - 1, false, m_temp.GetPath(), "ON_SHOW_INSUFFICIENT"},
        {"read-only", needed, true, m_temp.GetPath(), "ON_SHOW_INVALID_READ_ONLY"},
        {"empty", needed, false, "", "ON_SHOW_INVALID"},
        {"missing", needed, false, m_temp.GetPath() + "/gone", "ON_SHOW_INVALID"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        g_quota.freeSpace = c.freeSpace;
        g_quota.readOnly = c.readOnly;
        m_dialog.destination = c.destination;
        m_dialog.saves.clear();
        m_dialog.log.clear();
        Send("PerformSave");
        EXPECT_EQ(m_dialog.saves.size(), c.notice ? 0u : 2u);
        if (c.notice) {
            EXPECT_EQ(m_dialog.log, std::vector<std::string>{c.notice});
        } else {
            EXPECT_EQ(m_dialog.log, std::vector<std::string>{"ON_START_SAVE_BATCH"});
        }
    }
}

} // namespace
