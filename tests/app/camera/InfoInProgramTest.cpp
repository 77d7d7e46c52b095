#include <gtest/gtest.h>

#include <string>

#include "FAppHarness.h"
#include "FCodePage.h"
#include "FGenericUiWindow.h"
#include "FImageFileListEntry.h"
#include "FUiDynaString.h"
#include "FUiInfoWindow.h"

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
        auto* value = dynamic_cast<FUiDynaString*>(app.Object("InformationWin.Val10"));
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
