#include <gtest/gtest.h>

#include <algorithm>
#include <string>

#include "BrowserFixtures.h"
#include "FAppHarness.h"
#include "FCodePage.h"
#include "FGenericUiWindow.h"
#include "FIPManager.h"
#include "FImageFileListEntry.h"
#include "FScopedTempFolder.h"
#include "FUiDynaString.h"
#include "FUiImage.h"
#include "FUiInfoWindow.h"
#include "FUiThumbnails.h"
#include "StorageClassRegistry.h"

// The information window through the real script: labels come from the window's
// own texts in the current language, and white-balance names are translated.
TEST(InfoInProgramTest, LinesFollowTheLanguage)
{
    FAppHarness harness;
    harness.SetStartLanguage("French");
    std::string clipboard, shown, title;
    const int status = harness.Start([&](FAppHarness& app) {
        FImageFileListEntry e;
        e.m_usURL = FWideString("camera://sim0/cf/images/IMG_0001.q7f");
        e.m_usFileName = FWideString("IMG_0001.q7f");
        e.m_bRaw = true;
        e.m_nCols = 2268;
        e.m_nRows = 1512;
        e.m_nThumbReqWidth = e.m_nThumbReqHeight = 160;
        e.m_usWhiteBalance = FWideString("Daylight");
        e.m_usOrigWhiteBalance = FWideString("Auto");
        EXPECT_TRUE(app.Send("InformationWin.WinMgr", "ShowImageInfo", &e));
        auto* info = dynamic_cast<FUiInfoWindow*>(app.Object("InformationWin.WinMgr"));
        ASSERT_NE(info, nullptr);
        clipboard = Utf8FromWide(info->GetClipboardText());
        auto* value = dynamic_cast<FUiDynaString*>(app.Object("InformationWin.Rows.Val10"));
        ASSERT_NE(value, nullptr);
        shown = Utf8FromWide(value->GetShownText());
        FWideString text;
        app.Window("InformationWin")->GetTitle(text);
        title = Utf8FromWide(text);
        app.Send("MainWin", "Close");
    });
    EXPECT_EQ(status, 0);
    EXPECT_EQ(clipboard.rfind("Nom du fichier :\tIMG_0001.q7f\r\nType :\tQ7F\r\n", 0), 0u) << clipboard;
    EXPECT_NE(clipboard.find("Balance des blancs :\tLumière du jour (ex-Auto)\r\n"), std::string::npos)
        << clipboard;
    EXPECT_NE(clipboard.find("Réglages Q7F enregistrés:\t \r\n"), std::string::npos) << clipboard;
    EXPECT_EQ(shown, "Lumière du jour (ex-Auto)");
    EXPECT_EQ(title, "Informations sur l'image - IMG_0001.q7f");
}

// The head of the window: the thumbnail read at the window's own size into its one cell,
// and the lock, mark and transfer icons following the image's flags.
TEST(InfoInProgramTest, TheThumbnailAndStateIconsFollowTheImage)
{
    FScopedTempFolder folder;
    browsertest::RawOptions options;
    options.previewCols = 320;
    options.previewRows = 240;
    const rawtest::Bytes raw = browsertest::MakeRaw(options);
    ASSERT_TRUE(folder.WriteFile("IMG_0001.q7f", std::string(raw.begin(), raw.end())));
    FAppHarness harness;
    const int status = harness.Start([&](FAppHarness& app) {
        auto* thumb = dynamic_cast<FUiThumbnails*>(app.Object("InformationWin.Thumb"));
        ASSERT_NE(thumb, nullptr);
        EXPECT_EQ(thumb->GetThumbSize(), 160);
        auto icon = [&](const char* name) {
            auto* image = dynamic_cast<FUiImage*>(app.Object(std::string("InformationWin.") + name));
            return image && image->IsVisible();
        };
        EXPECT_FALSE(icon("LockIc") || icon("MarkIc") || icon("XferIc"));

        FImageFileListEntry e;
        NativePathToURL(WideFromUtf8(folder.Join("IMG_0001.q7f")), e.m_usURL);
        ASSERT_TRUE(e.GetProps(GetIPManagerPool()));
        e.m_bLocked = true;
        e.m_bTransferred = true;
        ASSERT_TRUE(app.Send("InformationWin.WinMgr", "ShowImageInfo", &e));
        ThumbnailCell* cell = thumb->GetFirstCell();
        ASSERT_NE(cell, nullptr);
        ASSERT_NE(cell->entry, nullptr);
        EXPECT_EQ(Utf8FromWide(cell->entry->m_usFileName), "IMG_0001.q7f");
        ASSERT_NE(cell->entry->m_pThumbnail, nullptr);
        EXPECT_EQ(std::max(cell->entry->m_nThumbCols, cell->entry->m_nThumbRows), 160);
        EXPECT_TRUE(icon("LockIc"));
        EXPECT_FALSE(icon("MarkIc"));
        EXPECT_TRUE(icon("XferIc"));

        e.m_bLocked = false;
        e.m_bMarked = true;
        ASSERT_TRUE(app.Send("InformationWin.WinMgr", "ShowImageInfo", &e));
        EXPECT_FALSE(icon("LockIc"));
        EXPECT_TRUE(icon("MarkIc"));
        EXPECT_EQ(thumb->GetCellCount(), 1);
        app.Send("MainWin", "Close");
    });
    EXPECT_EQ(status, 0);
}

// The capture line shows the time beside the date, and numbers take the language's decimal
// mark: "0,92 MP" and "f/5,6" in German, "0.92 MP" in English. An image without a date leaves
// no time of the last one behind.
TEST(InfoInProgramTest, DateWithTimeAndTheLanguagesDecimalMark)
{
    struct Case {
        const char* language;
        const char* resolution;
        const char* aperture;
    };
    const Case cases[] = {{"English", "0.92 MP (640 x 480 x 3)", "f/5.6"},
                          {"German", "0,92 MP (640 x 480 x 3)", "f/5,6"},
                          {"French", "0,92 MP (640 x 480 x 3)", "f/5,6"}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.language);
        FAppHarness harness;
        harness.SetStartLanguage(c.language);
        harness.Start([&](FAppHarness& app) {
            auto shown = [&](const char* path) {
                auto* value = dynamic_cast<FUiDynaString*>(app.Object(path));
                return value ? Utf8FromWide(value->GetShownText()) : std::string("<none>");
            };
            FImageFileListEntry e;
            e.m_usURL = FWideString("camera://sim0/cf/images/IMG_0001.q7f");
            e.m_usFileName = FWideString("IMG_0001.q7f");
            e.m_bRaw = true;
            e.m_nCols = 640;
            e.m_nRows = 480;
            e.m_nThumbReqWidth = e.m_nThumbReqHeight = 160;
            e.m_usDate = FWideString("2026-12-11");
            e.m_usTime = FWideString("09:41:00");
            e.m_usAperture = FWideString("5.6");
            e.m_usFirmware = FWideString("1.02");
            ASSERT_TRUE(app.Send("InformationWin.WinMgr", "ShowImageInfo", &e));
            EXPECT_EQ(shown("InformationWin.Rows.Val3"), c.resolution);
            EXPECT_EQ(shown("InformationWin.Rows.Val6"), "2026-12-11");
            EXPECT_EQ(shown("InformationWin.Rows.Val6Time"), "09:41:00");
            EXPECT_EQ(shown("InformationWin.Rows.Val13"), c.aperture);
            // A version number is not a decimal.
            EXPECT_EQ(shown("InformationWin.Rows.Val20"), "1.02");

            FImageFileListEntry undated = e;
            undated.m_usURL = FWideString("camera://sim0/cf/images/IMG_0002.q7f");
            undated.m_usDate = undated.m_usTime = FWideString(" ");
            ASSERT_TRUE(app.Send("InformationWin.WinMgr", "ShowImageInfo", &undated));
            EXPECT_EQ(shown("InformationWin.Rows.Val6Time"), "");
            app.Send("MainWin", "Close");
        });
        EXPECT_TRUE(harness.BodyRan());
    }
}
