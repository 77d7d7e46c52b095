// Saving as a user does it, through the real program, script and pool: the menus and keys
// open the dialogs, the choices are clicked, OK hands the work to the progress window, and
// the files on disk are checked with the system's tools. A named setting survives a restart.

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "DevelopableRaw.h"
#include "FAppHarness.h"
#include "FCodePage.h"
#include "FGenericUiWindow.h"
#include "FHeadlessDesktop.h"
#include "FHeadlessUiWindow.h"
#include "FIPManager.h"
#include "FImageFileListEntry.h"
#include "FTempDiskFolder.h"
#include "FUiCheckbox.h"
#include "FUiMainWindow.h"
#include "FUiReviewWindow.h"
#include "FUiScrollList.h"
#include "FUiSettings.h"
#include "FUiSlider.h"
#include "FUiThumbnails.h"
#include "SavedFileChecks.h"

namespace
{

using savedfile::Shell;

const char* const kRaws[] = {"IMG_000.q7f", "IMG_001.q7f", "IMG_002.q7f"};

class SaveJourney : public ::testing::Test
{
protected:
    static void SetUpTestSuite()
    {
        s_folder = new FTempDiskFolder();
        uint32_t seed = 520;
        for (const char* name : kRaws) {
            developtest::DevelopableRawOptions options;
            options.cols = 320;
            options.rows = 240;
            options.seed = seed++;
            const rawtest::Bytes bytes = developtest::MakeDevelopableRaw(options);
            s_folder->WriteFile(name, std::string(bytes.begin(), bytes.end()));
        }
    }
    static void TearDownTestSuite()
    {
        delete s_folder;
        s_folder = nullptr;
    }
    void SetUp() override
    {
        const std::string missing = savedfile::MissingTools();
        if (!missing.empty())
            GTEST_SKIP() << "not installed: " << missing;
    }

    // Browses the raw folder; null unless every thumbnail came.
    static FUiMainWindow* ShowRaws(FAppHarness& app)
    {
        auto* thumbs = dynamic_cast<FUiThumbnails*>(app.Object("MainWin.Thumbs"));
        auto* browser = dynamic_cast<FUiMainWindow*>(app.Object("MainWin.WinMgr"));
        FWideString url = s_folder->GetUrl();
        if (!thumbs || !browser || !app.Send("MainWin.Folders", "SelectDir", &url) ||
            !app.RunUntil(
                [&] {
                    int shown = 0;
                    for (ThumbnailCell* cell = thumbs->GetFirstCell(); cell; cell = cell->next)
                        shown += cell->entry && cell->entry->m_pThumbnail ? 1 : 0;
                    return shown == 3;
                },
                3000))
            return nullptr;
        return browser;
    }
    // Reviews one of the raws by the E key on its selection; null unless it shows.
    static FUiReviewWindow* Review(FAppHarness& app, const char* name)
    {
        auto* review = dynamic_cast<FUiReviewWindow*>(app.Object("ReviewWin.WinMgr"));
        FWideString url = s_folder->GetUrl(name);
        if (!review || !app.Send("MainWin.WinMgr", "SelectImage", &url) ||
            !app.Key("MainWin", EOsKey::kLetter, 'E') ||
            !app.RunUntil([&] { return review->GetEntry() && review->IsIdle(); }, 3000))
            return nullptr;
        return review;
    }
    // Opens a pull-down and clicks one of its items, as the user picks a choice.
    static bool Pick(FAppHarness& app, const std::string& pulldown, const std::string& item)
    {
        return app.Click(pulldown) && app.Click(pulldown + "." + item);
    }
    // Opens a pull-down that holds a list and clicks the item of this identifier, text or
    // display-string name; answers the item's text.
    static std::string PickListed(FAppHarness& app, const std::string& pulldown, const std::string& key)
    {
        auto* list = dynamic_cast<FUiScrollList*>(app.Object(pulldown + ".List"));
        FGenericUiWindow* window = app.Window(pulldown.substr(0, pulldown.find('.')));
        if (!list || !window || !app.Click(pulldown))
            return "<no list>";
        for (FUiScrollListItem* item = list->GetFirstItem(); item; item = item->next) {
            if (Utf8FromWide(item->identifier) != key && Utf8FromWide(item->displayStringName) != key &&
                Utf8FromWide(item->text) != key)
                continue;
            const FRect& r = item->hitRect;
            auto* os = dynamic_cast<FHeadlessUiWindow*>(window->GetOsWindow());
            os->InjectMouseDown((r.left + r.right) / 2, (r.top + r.bottom) / 2, 1);
            os->InjectMouseUp((r.left + r.right) / 2, (r.top + r.bottom) / 2);
            HeadlessPumpUntilIdle();
            return Utf8FromWide(item->text);
        }
        return "<no item>";
    }
    // Browse, then the chooser's OK on `folder`, which fills the dialog's folder field.
    static bool ChooseFolder(FAppHarness& app, const std::string& dialog, const FTempDiskFolder& folder)
    {
        FWideString url = folder.GetUrl();
        return app.Click(dialog + ".Browse") && app.Window("DirectoryWin")->IsVisible() &&
               app.Send("DirectoryWin.WinMgr", "DirSelected", &url) && app.Click("DirectoryWin.OK") &&
               !app.Window("DirectoryWin")->IsVisible();
    }
    // OK, then the progress window shows until the batch is done.
    static bool SaveAndWait(FAppHarness& app, const std::string& dialog)
    {
        FGenericUiWindow* progress = app.Window("ProgressWin");
        return app.Click(dialog + ".OK") && !app.Window(dialog)->IsVisible() && progress->IsVisible() &&
               app.RunUntil([&] { return !progress->IsVisible(); }, 30000);
    }
    static std::string Text(FAppHarness& app, const std::string& path)
    {
        FWideString text;
        app.Send(path, "GetText", &text);
        return Utf8FromWide(text);
    }

    static FTempDiskFolder* s_folder;
};

FTempDiskFolder* SaveJourney::s_folder = nullptr;

// The batch: two images marked, a third selected; the dialog opened by Ctrl+S saves
// exactly the marked ones as half-size JPEG in Adobe RGB with automatic adjustments.
TEST_F(SaveJourney, TheBatchDialogSavesExactlyTheMarkedImages)
{
    FTempDiskFolder out;
    FAppHarness harness;
    harness.Start([&](FAppHarness& app) {
        FUiMainWindow* browser = ShowRaws(app);
        ASSERT_NE(browser, nullptr);
        std::vector<FWideString> urls;
        for (const char* name : kRaws)
            urls.push_back(s_folder->GetUrl(name));
        ASSERT_TRUE(app.Send("MainWin.WinMgr", "SelectImage", &urls[0]));
        ASSERT_TRUE(app.Send("MainWin.WinMgr", "SelectImage", &urls[2]));
        ASSERT_TRUE(app.Key("MainWin", EOsKey::kLetter, 'M'));
        ASSERT_TRUE(app.RunUntil(
            [&] {
                const FImageFileListEntry* a = browser->GetList().FindByURL(urls[0]);
                const FImageFileListEntry* b = browser->GetList().FindByURL(urls[2]);
                return a && b && a->m_bMarked && b->m_bMarked;
            },
            1000));
        ASSERT_TRUE(app.Send("MainWin.WinMgr", "DeselectImage", &urls[0]));
        ASSERT_TRUE(app.Send("MainWin.WinMgr", "DeselectImage", &urls[2]));
        ASSERT_TRUE(app.Send("MainWin.WinMgr", "SelectImage", &urls[1]));

        ASSERT_TRUE(app.Key("MainWin", EOsKey::kLetter, 'S', true));
        ASSERT_TRUE(app.Window("SaveImagesWin")->IsVisible());
        EXPECT_NE(Text(app, "SaveImagesWin.CountMarked").find("2 "), std::string::npos)
            << Text(app, "SaveImagesWin.CountMarked");
        // The selection decides the scope at first; the marked images are clicked.
        auto radio = [&](const char* name) { return dynamic_cast<FUiCheckbox*>(app.Object(name)); };
        ASSERT_TRUE(radio("SaveImagesWin.RadioSelected")->GetState());
        ASSERT_TRUE(app.Click("SaveImagesWin.RadioMarked"));
        ASSERT_TRUE(app.Click("SaveImagesWin.RadioAuto"));
        EXPECT_FALSE(radio("SaveImagesWin.RadioSelected")->GetState());
        ASSERT_TRUE(radio("SaveImagesWin.RadioMarked")->GetState());
        ASSERT_TRUE(radio("SaveImagesWin.RadioAuto")->GetState());
        ASSERT_TRUE(Pick(app, "SaveImagesWin.FileType", "FileTypeTIFF8"));
        auto* quality = dynamic_cast<FUiSlider*>(app.Object("SaveImagesWin.JpegQ"));
        ASSERT_NE(quality, nullptr);
        EXPECT_TRUE(quality->IsDisabled()) << "a JPEG quality for a TIFF";
        ASSERT_TRUE(Pick(app, "SaveImagesWin.FileType", "FileTypeJPEG_EXIF"));
        EXPECT_FALSE(quality->IsDisabled());
        // Each size shows the pixels it makes of the marked images (320 x 240).
        EXPECT_EQ(PickListed(app, "SaveImagesWin.OutSize", "Double"), "Double size 0.3 MP");
        EXPECT_EQ(PickListed(app, "SaveImagesWin.OutSize", "Half"), "Half size 0.0 MP");
        EXPECT_EQ(Text(app, "SaveImagesWin.OutSize"), "Half size 0.0 MP");
        ASSERT_TRUE(Pick(app, "SaveImagesWin.ColorSpace", "ColorSpaceAdobe"));
        ASSERT_TRUE(ChooseFolder(app, "SaveImagesWin", out));
        EXPECT_EQ(Text(app, "SaveImagesWin.DstDir").rfind(out.GetPath(), 0), 0u)
            << Text(app, "SaveImagesWin.DstDir");
        ASSERT_TRUE(SaveAndWait(app, "SaveImagesWin"));
        EXPECT_EQ(Text(app, "ProgressWin.Y"), "2");
        // "Image 2 of 2" reads as one line: the number keeps no room for more digits.
        FUiObject* x = app.Object("ProgressWin.X");
        ASSERT_NE(x, nullptr);
        EXPECT_LE(x->GetRect().Width(), 12);
        // The dialogs are as tall as what they hold.
        for (const char* dialog : {"SaveImagesWin", "SaveImageWin"}) {
            FRect rect;
            int w = 0, h = 0;
            app.Window(dialog)->GetWindowRect(rect);
            app.Window(dialog)->GetMinSize(w, h);
            EXPECT_EQ(rect.Height(), h) << dialog;
        }
        EXPECT_FALSE(app.Window("ProgressErrWin")->IsVisible()) << "no error notice";
        app.Send("MainWin", "Close");
    });
    ASSERT_TRUE(harness.BodyRan());

    EXPECT_EQ(Shell("ls -A '" + out.GetPath() + "'"), "IMG_000.jpg\nIMG_002.jpg\n");
    for (const char* name : {"IMG_000.jpg", "IMG_002.jpg"}) {
        SCOPED_TRACE(name);
        const std::string file = out.GetPath() + "/" + name;
        EXPECT_EQ(savedfile::JpegSize(file), "160 120");
        EXPECT_NEAR(savedfile::RedColorantX(file), savedfile::kAdobeRedX, 0.01);
        EXPECT_TRUE(savedfile::HasExif(file));
    }

    // The next start offers the same output choices.
    std::string state;
    ASSERT_TRUE(harness.ReadStateFile(state));
    FAppHarness restarted;
    ASSERT_TRUE(restarted.WriteStateFile(state));
    restarted.Start([&](FAppHarness& app) {
        for (const auto& [pulldown, id] :
             {std::pair{"FileType", "JPEG_EXIF"}, {"OutSize", "Half"}, {"ColorSpace", "Adobe"}}) {
            FWideString chosen;
            ASSERT_TRUE(app.Send(std::string("SaveImagesWin.") + pulldown, "GetID", &chosen));
            EXPECT_EQ(Utf8FromWide(chosen), id) << pulldown;
        }
    });
    EXPECT_TRUE(restarted.BodyRan());
}

// The single save: Ctrl+S in the review window proposes the image's name, the choice of
// 16-bit TIFF renames it, and OK writes it through the progress window.
TEST_F(SaveJourney, TheReviewWindowsSaveCommandWritesTheShownImage)
{
    FTempDiskFolder out;
    FAppHarness harness;
    harness.Start([&](FAppHarness& app) {
        ASSERT_NE(ShowRaws(app), nullptr);
        ASSERT_NE(Review(app, kRaws[1]), nullptr);

        ASSERT_TRUE(app.Key("ReviewWin", EOsKey::kLetter, 'S', true));
        ASSERT_TRUE(app.Window("SaveImageWin")->IsVisible());
        EXPECT_EQ(Text(app, "SaveImageWin.SrcName"), "IMG_001.q7f");
        EXPECT_EQ(Text(app, "SaveImageWin.SrcRes"), "0.2 MP (320 x 240 x 3)");
        EXPECT_EQ(Text(app, "SaveImageWin.DstName"), "IMG_001.jpg");
        auto* quality = dynamic_cast<FUiSlider*>(app.Object("SaveImageWin.JpegQ"));
        ASSERT_NE(quality, nullptr);
        EXPECT_FALSE(quality->IsDisabled());
        ASSERT_TRUE(Pick(app, "SaveImageWin.FileType", "FileTypeTIFF16"));
        EXPECT_EQ(Text(app, "SaveImageWin.DstName"), "IMG_001.tif");
        EXPECT_TRUE(quality->IsDisabled()) << "a JPEG quality for a TIFF";
        EXPECT_EQ(PickListed(app, "SaveImageWin.OutSize", "Half"), "Half size 0.0 MP");
        ASSERT_TRUE(ChooseFolder(app, "SaveImageWin", out));
        ASSERT_TRUE(SaveAndWait(app, "SaveImageWin"));
        EXPECT_FALSE(app.Window("ProgressErrWin")->IsVisible()) << "no error notice";
        app.Send("MainWin", "Close");
    });
    ASSERT_TRUE(harness.BodyRan());

    EXPECT_EQ(Shell("ls -A '" + out.GetPath() + "'"), "IMG_001.tif\n");
    const std::string file = out.GetPath() + "/IMG_001.tif";
    const std::string info = Shell("tiffinfo '" + file + "' 2>/dev/null");
    EXPECT_NE(info.find("Image Width: 160 Image Length: 120"), std::string::npos) << info;
    EXPECT_NE(info.find("Bits/Sample: 16"), std::string::npos) << info;
    EXPECT_NEAR(savedfile::RedColorantX(file), savedfile::kSrgbRedX, 0.01);
    EXPECT_TRUE(savedfile::HasExif(file));
}

// A save that also stores the adjustments in the raw file: the browser and the review
// window read the file again and show the stored values as the file's own.
TEST_F(SaveJourney, StoringTheAdjustmentsInTheRawShowsInTheWindows)
{
    FTempDiskFolder out;
    FAppHarness harness;
    harness.Start([&](FAppHarness& app) {
        FUiMainWindow* browser = ShowRaws(app);
        ASSERT_NE(browser, nullptr);
        FUiReviewWindow* review = Review(app, kRaws[2]);
        ASSERT_NE(review, nullptr);
        ASSERT_TRUE(app.Send("ReviewWin.WinMgr", "ManualAdjust"));
        double exposure = 0.75;
        ASSERT_TRUE(app.Send("ReviewWin.WinMgr", "ExposureChange", &exposure));
        ASSERT_TRUE(app.RunUntil([&] { return review->IsIdle(); }, 3000));

        ASSERT_TRUE(app.Key("ReviewWin", EOsKey::kLetter, 'S', true));
        ASSERT_TRUE(app.Window("SaveImageWin")->IsVisible());
        auto* store = dynamic_cast<FUiCheckbox*>(app.Object("SaveImageWin.StoreInRaw"));
        ASSERT_NE(store, nullptr);
        ASSERT_TRUE(app.Click("SaveImageWin.StoreInRaw"));
        ASSERT_TRUE(store->GetState());
        ASSERT_TRUE(ChooseFolder(app, "SaveImageWin", out));
        ASSERT_TRUE(SaveAndWait(app, "SaveImageWin"));
        const FImageFileListEntry* listed = browser->GetList().FindByURL(s_folder->GetUrl(kRaws[2]));
        ASSERT_NE(listed, nullptr);
        EXPECT_NEAR(listed->m_Settings.Exposure, 0.75, 1e-3);
        EXPECT_NEAR(review->GetFileSettings().Exposure, 0.75, 1e-3);
        app.Send("MainWin", "Close");
    });
    ASSERT_TRUE(harness.BodyRan());
}

// The first save needs no folder chosen: the user's pictures folder is proposed, made only
// when the save goes there, and the folder saved into is proposed from then on.
TEST_F(SaveJourney, TheFirstSaveGoesToThePicturesFolderAndTheNextToTheLast)
{
    FTempDiskFolder home;
    const std::string pictures = home.GetPath() + "/Bilder";
    std::string state;
    {
        FAppHarness harness;
        ASSERT_TRUE(
            harness.WriteScriptFile("../config/user-dirs.dirs", "XDG_PICTURES_DIR=\"" + pictures + "\"\n"));
        harness.Start([&](FAppHarness& app) {
            ASSERT_NE(ShowRaws(app), nullptr);
            ASSERT_NE(Review(app, kRaws[1]), nullptr);
            ASSERT_TRUE(app.Key("ReviewWin", EOsKey::kLetter, 'S', true));
            EXPECT_EQ(Text(app, "SaveImageWin.DstDir"), pictures);
            EXPECT_FALSE(home.Exists("Bilder")) << "made before anything was saved";
            ASSERT_TRUE(SaveAndWait(app, "SaveImageWin"));
            EXPECT_FALSE(app.Window("MessageWin")->IsVisible()) << "no notice";
            EXPECT_TRUE(home.Exists("Bilder/IMG_001.jpg"));
            app.Send("MainWin", "Close");
        });
        ASSERT_TRUE(harness.BodyRan());
        ASSERT_TRUE(harness.ReadStateFile(state));
    }
    FTempDiskFolder elsewhere;
    FAppHarness restarted;
    ASSERT_TRUE(restarted.WriteStateFile(state));
    restarted.Start([&](FAppHarness& app) {
        ASSERT_NE(ShowRaws(app), nullptr);
        ASSERT_TRUE(app.Key("MainWin", EOsKey::kLetter, 'S', true));
        ASSERT_TRUE(app.Window("SaveImagesWin")->IsVisible());
        EXPECT_EQ(Text(app, "SaveImagesWin.DstDir"), pictures);
        app.Send("MainWin", "Close");
    });
    EXPECT_TRUE(restarted.BodyRan());
}

// Choices made in French come back in the words of the next start's language.
TEST_F(SaveJourney, RememberedChoicesSpeakTheLanguageOfTheNextStart)
{
    std::string state;
    {
        FAppHarness harness;
        harness.SetStartLanguage("French");
        harness.Start([&](FAppHarness& app) {
            ASSERT_NE(ShowRaws(app), nullptr);
            ASSERT_NE(Review(app, kRaws[0]), nullptr);
            ASSERT_TRUE(app.Key("ReviewWin", EOsKey::kLetter, 'S', true));
            ASSERT_TRUE(Pick(app, "SaveImageWin.FileType", "FileTypeTIFF16"));
            EXPECT_EQ(PickListed(app, "SaveImageWin.OutSize", "Full").rfind("Pleine taille", 0), 0u);
            ASSERT_TRUE(app.Click("SaveImageWin.Cancel"));
            app.Send("MainWin", "Close");
        });
        ASSERT_TRUE(harness.BodyRan());
        ASSERT_TRUE(harness.ReadStateFile(state));
    }
    // The same choices, now in German; the state file is UTF-16.
    auto wide = [](const std::string& ascii) {
        std::string bytes;
        for (char c : ascii)
            bytes += std::string{c, '\0'};
        return bytes;
    };
    const std::string french = wide("CurrentLanguage=\"French\"");
    const size_t at = state.find(french);
    ASSERT_NE(at, std::string::npos);
    state.replace(at, french.size(), wide("CurrentLanguage=\"German\""));
    FAppHarness restarted;
    ASSERT_TRUE(restarted.WriteStateFile(state));
    restarted.Start([&](FAppHarness& app) {
        ASSERT_NE(ShowRaws(app), nullptr);
        ASSERT_NE(Review(app, kRaws[0]), nullptr);
        ASSERT_TRUE(app.Key("ReviewWin", EOsKey::kLetter, 'S', true));
        EXPECT_EQ(Text(app, "SaveImageWin.FileType"), "TIFF, 16 Bit");
        EXPECT_EQ(Text(app, "SaveImageWin.OutSize").rfind("Volle Größe", 0), 0u)
            << Text(app, "SaveImageWin.OutSize");
        app.Send("MainWin", "Close");
    });
    EXPECT_TRUE(restarted.BodyRan());
}

// A setting named in the review window's dialog is in the file, in the list after a
// restart, and is the name the save dialog carries once it is chosen again.
TEST_F(SaveJourney, ANamedSettingSurvivesARestartAndNamesTheSave)
{
    const std::string name = "Soft & \"warm\" <1/2>";
    const std::string file = "../config/Rawbench/settings.xml";
    std::string saved;
    {
        FAppHarness harness;
        harness.Start([&](FAppHarness& app) {
            ASSERT_NE(ShowRaws(app), nullptr);
            ASSERT_NE(Review(app, kRaws[0]), nullptr);
            // What the palette's exposure slider sends.
            ASSERT_TRUE(app.Send("ReviewWin.WinMgr", "ManualAdjust"));
            double exposure = 0.75;
            ASSERT_TRUE(app.Send("ReviewWin.WinMgr", "ExposureChange", &exposure));

            ASSERT_TRUE(app.Send("ReviewWin.Image.SaveSetting", "Select"));
            FGenericUiWindow* dialog = app.Window("SaveSettingWin");
            ASSERT_TRUE(dialog->IsVisible());
            ASSERT_TRUE(app.Click("SaveSettingWin.Name"));
            dynamic_cast<FHeadlessUiWindow*>(dialog->GetOsWindow())->InjectText(name);
            HeadlessPumpUntilIdle();
            ASSERT_TRUE(app.Click("SaveSettingWin.OK"));
            EXPECT_FALSE(dialog->IsVisible());
            EXPECT_FALSE(app.Window("ProgressErrWin")->IsVisible()) << "no error notice";
            app.Send("MainWin", "Close");
        });
        ASSERT_TRUE(harness.BodyRan());
        ASSERT_TRUE(harness.ReadScriptFile(file, saved));
    }

    FAppHarness restarted;
    ASSERT_TRUE(restarted.WriteScriptFile(file, saved));
    restarted.Start([&](FAppHarness& app) {
        auto* settings = dynamic_cast<FUiSettings*>(app.Object("Settings"));
        ASSERT_NE(settings, nullptr);
        ASSERT_EQ(settings->GetEntries().size(), 2u);
        EXPECT_EQ(Utf8FromWide(settings->GetEntries()[1].m_usName), name);
        EXPECT_DOUBLE_EQ(settings->GetEntries()[1].m_Settings.Exposure, 0.75);

        ASSERT_NE(ShowRaws(app), nullptr);
        FUiReviewWindow* review = Review(app, kRaws[0]);
        ASSERT_NE(review, nullptr);
        // Chosen in the palette's list of saved settings.
        ASSERT_TRUE(app.Key("ReviewWin", EOsKey::kLetter, 'P'));
        ASSERT_TRUE(app.Window("PaletteWin")->IsVisible());
        EXPECT_EQ(PickListed(app, "PaletteWin.ModeSec.SavedSet", name), name);
        EXPECT_EQ(review->GetSettingMode(), CustomSettingMode);
        EXPECT_DOUBLE_EQ(review->GetCustomSettings().Exposure, 0.75);
        EXPECT_EQ(Text(app, "PaletteWin.ModeSec.SavedSet"), name);
        ASSERT_TRUE(app.Click("ReviewWin.SaveImage"));
        ASSERT_TRUE(app.Window("SaveImageWin")->IsVisible());
        EXPECT_EQ(Text(app, "SaveImageWin.SettingName"), name) << "the save carries the setting's name";
        app.Send("MainWin", "Close");
    });
    EXPECT_TRUE(restarted.BodyRan());
}

} // namespace
