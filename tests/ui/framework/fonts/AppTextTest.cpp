#include "FIOsTextLayer.h"
#include "FIUiPixmap.h"
#include "FUiFont.h"
#include "FUiMultiLangString.h"
#include "FUiScriptFixture.h"
#include "FUiTestApp.h"
#include "FWideString.h"

#include <gtest/gtest.h>

namespace
{

// The fixture script: APPFONT "Body" (English at 14, German at 13 pixels) and display
// strings in English and German.
TEST(AppText, FontsAndStringsFollowTheApplicationsLanguage)
{
    SelectOsTextLayer(FOsTextLayerKind::kBoxFont);
    FUiTestApp run(UiBaseScript());
    ASSERT_TRUE(run.GetInitResult()) << run.GetInitException();
    FIUiApp* app = run.GetApp();
    FIUiFont* body = app->GetAppFont(FWideString("Body"));
    ASSERT_NE(body, nullptr);
    EXPECT_EQ(app->GetAppFont(FWideString("body")), nullptr);
    FIUiMultiLangString* title = app->GetDisplayString(FWideString("MainTitle"));
    ASSERT_NE(title, nullptr);

    run.GetApp()->SetLanguage(FWideString("English"));
    EXPECT_EQ(*title->GetText(), "Main");
    int line = 0;
    int average = 0;
    body->GetFontMetrics(nullptr, line, average);
    EXPECT_EQ(line, 14);
    ASSERT_NE(app->GetCtrlMenuText(), nullptr);
    EXPECT_EQ(*app->GetCtrlMenuText(), "Ctrl+");

    run.GetApp()->SetLanguage(FWideString("German"));
    EXPECT_EQ(*title->GetText(), "Haupt");
    EXPECT_EQ(*app->GetCtrlMenuText(), "Strg+");
    body->GetFontMetrics(nullptr, line, average);
    EXPECT_EQ(line, 13);
    FIUiPixmap* rendered = title->Render(nullptr, false, nullptr);
    ASSERT_NE(rendered, nullptr);
    EXPECT_EQ(rendered->GetHeight(), 13);
    ReleaseUiPixmap(rendered);

    // A language the script lacks: the font keeps German, the strings show their first entry.
    run.GetApp()->SetLanguage(FWideString("French"));
    EXPECT_EQ(*title->GetText(), "Main");
    body->GetFontMetrics(nullptr, line, average);
    EXPECT_EQ(line, 13);
}

} // namespace
