// A quit signal (logout's SIGTERM, the terminal's Ctrl+C) in the middle of a batch save,
// through the real program, script and pool: the program ends as Quit does, its state
// written, and every file of the batch is either complete or not there.

#include <gtest/gtest.h>

#include <signal.h>

#include <filesystem>
#include <string>

#include "DevelopableRaw.h"
#include "FAppHarness.h"
#include "FCodePage.h"
#include "FGenericUiWindow.h"
#include "FHeadlessDesktop.h"
#include "FImageFileListEntry.h"
#include "FOsQuitSignal.h"
#include "FTempDiskFolder.h"
#include "FUiProgressWindow.h"
#include "FUiThumbnails.h"
#include "SavedFileChecks.h"

namespace
{

constexpr int kImages = 6;

std::string Name(int i)
{
    return "IMG_00" + std::to_string(i) + ".q7f";
}

} // namespace

TEST(QuitSignalJourney, ASignalDuringABatchSaveEndsAsQuitAndLeavesNoPartialFile)
{
    const std::string missing = savedfile::MissingTools();
    if (!missing.empty())
        GTEST_SKIP() << "not installed: " << missing;
    FTempDiskFolder folder, out;
    for (int i = 0; i < kImages; ++i) {
        developtest::DevelopableRawOptions options;
        options.cols = 640;
        options.rows = 480;
        options.seed = uint32_t(700 + i);
        const rawtest::Bytes bytes = developtest::MakeDevelopableRaw(options);
        ASSERT_TRUE(folder.WriteFile(Name(i), std::string(bytes.begin(), bytes.end())));
    }
    InstallOsQuitSignals();
    FAppHarness harness;
    int savedBeforeSignal = -1;
    const int status = harness.Start(
        [&](FAppHarness& app) {
            auto* thumbs = dynamic_cast<FUiThumbnails*>(app.Object("MainWin.Thumbs"));
            auto* progress = dynamic_cast<FUiProgressWindow*>(app.Object("ProgressWin.WinMgr"));
            ASSERT_TRUE(thumbs && progress);
            ASSERT_TRUE(app.RunUntil([&] { return thumbs->GetCellCount() == kImages; }, 3000));
            ASSERT_TRUE(app.Key("MainWin", EOsKey::kLetter, 'S', true));
            ASSERT_TRUE(app.Window("SaveImagesWin")->IsVisible());
            FWideString native = WideFromUtf8(out.GetPath());
            ASSERT_TRUE(app.Send("SaveImagesWin.DstDir", "SetText", &native));
            ASSERT_TRUE(app.Click("SaveImagesWin.OK"));
            ASSERT_TRUE(app.Window("ProgressWin")->IsVisible());
            // Signalled while the second image is being made.
            ASSERT_TRUE(app.RunUntil([&] { return out.Exists("IMG_000.jpg"); }, 30000));
            savedBeforeSignal = 1;
            raise(SIGTERM);
            EXPECT_TRUE(app.RunUntil([] { return GetHeadlessDesktop().quit; }, 200));
        },
        folder.GetPath());
    RestoreOsQuitSignals();
    EXPECT_EQ(status, 0);
    ASSERT_EQ(savedBeforeSignal, 1);

    // Whatever was written is whole; the raws are untouched.
    const std::string listing = savedfile::Shell("ls -A '" + out.GetPath() + "'");
    size_t start = 0;
    int files = 0;
    while (start < listing.size()) {
        const size_t end = listing.find('\n', start);
        const std::string name = listing.substr(start, end - start);
        start = end + 1;
        SCOPED_TRACE(name);
        ++files;
        EXPECT_EQ(name.size(), 11u) << "a temporary or stray file";
        EXPECT_EQ(savedfile::JpegSize(out.GetPath() + "/" + name), "640 480");
    }
    EXPECT_GE(files, 1);
    EXPECT_LT(files, kImages) << "the batch ran to its end instead of stopping";
    // The storage classes are shut down with the program: the files are looked at directly.
    for (int i = 0; i < kImages; ++i)
        EXPECT_TRUE(std::filesystem::exists(folder.GetPath() + "/" + Name(i)));
    std::string state;
    ASSERT_TRUE(harness.ReadStateFile(state));
    // Written at the exit (UTF-16): the browser's folder is in it.
    EXPECT_NE(state.find(std::string("P\0E\0R\0D\0A\0T\0A", 13)), std::string::npos);
}
