// The single save dialog's store-in-raw box, through the real script: the review window
// enables it only where storing is allowed, and every opening starts unticked, so an
// earlier choice never writes into another raw file.

#include <gtest/gtest.h>

#include "FAppHarness.h"
#include "FGenericUiWindow.h"
#include "FUiCheckbox.h"
#include "FUiSaveImageWindow.h"

namespace
{

TEST(SingleSaveStoreBox, EachOpeningStartsUntickedAndAllowedOnlyWhereStoringMay)
{
    FAppHarness harness;
    harness.Start([&](FAppHarness& app) {
        FUiObject* review = app.Object("ReviewWin.WinMgr");
        auto* dialog = dynamic_cast<FUiSaveImageWindow*>(app.Object("SaveImageWin.WinMgr"));
        auto* box = dynamic_cast<FUiCheckbox*>(app.Object("SaveImageWin.StoreInRaw"));
        ASSERT_TRUE(review && dialog && box);
        // What the review window's "Save" fires before the dialog takes the image.
        auto open = [&](bool allowed) {
            review->FindEvent(FWideString("ON_SHOW_SAVE_IMAGE_DLG"))->Fire(nullptr);
            review->FindEvent(FWideString("ON_CAN_SAVE_Q7F_SETINGS"))->Fire(&allowed);
            return app.Window("SaveImageWin")->IsVisible();
        };

        ASSERT_TRUE(open(true));
        EXPECT_FALSE(box->IsDisabled());
        EXPECT_FALSE(box->GetState());
        ASSERT_TRUE(app.Click("SaveImageWin.StoreInRaw"));
        EXPECT_TRUE(box->GetState());
        EXPECT_TRUE(dialog->GetStoreSettings());
        app.Send("SaveImageWin", "Hide");

        // A file that may not be written: the earlier tick is gone and cannot be set.
        ASSERT_TRUE(open(false));
        EXPECT_TRUE(box->IsDisabled());
        EXPECT_FALSE(box->GetState());
        EXPECT_FALSE(dialog->GetStoreSettings());
        app.Click("SaveImageWin.StoreInRaw");
        EXPECT_FALSE(dialog->GetStoreSettings());
        app.Send("SaveImageWin", "Hide");

        ASSERT_TRUE(open(true));
        EXPECT_FALSE(box->GetState());
        EXPECT_FALSE(dialog->GetStoreSettings());
    });
    EXPECT_TRUE(harness.BodyRan());
}

} // namespace
