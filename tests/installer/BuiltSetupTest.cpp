#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <string>
#include <vector>

#include "FBundleFolder.h"
#include "FCodePage.h"
#include "FGenericUiApp.h"
#include "FPropList.h"
#include "FUiInstallCopyControl.h"
#include "FUiInstallerMain.h"
#include "FUiScriptFixture.h"
#include "InstallerHarness.h"

namespace
{

void Send(InstallerHarness& h, const char* message)
{
    h.Main()->UiRelayMessage(FWideString(message), nullptr);
}

} // namespace

TEST(BuiltSetup, CarriesItsScriptListAndFilesInTheAppendedArchive)
{
    EnsureDiskStorageClass();
    FBundleFolder archive(UrlOf(RB_SETUP_EXECUTABLE));
    std::vector<FWideString> members;
    archive.ListFiles(members);
    std::vector<std::string> names;
    for (const FWideString& member : members)
        names.push_back(Utf8FromWide(member));
    for (const char* needed : {"ui.xml", "InstallList.xml", "prog_bg.png", "prog_fg.png", "README.md"})
        EXPECT_NE(std::find(names.begin(), names.end(), needed), names.end()) << needed;
}

TEST(BuiltSetup, InstallsWithItsOwnScriptAndRemovesItAllOnTheNextStart)
{
    InstallerHarness h;
    std::filesystem::copy_file(RB_SETUP_EXECUTABLE, h.InstallerPath());
    ASSERT_TRUE(h.Launch());
    ASSERT_NE(h.Main(), nullptr);
    ASSERT_NE(h.Copy(), nullptr);
    Send(h, "GermanInstall");
    Send(h, "ShowWelcome");
    Send(h, "ShowChoose");
    Send(h, "ShowProgress");
    Send(h, "CopyFiles");
    EXPECT_GT(h.TickCopy(), 0);
    EXPECT_EQ(ReadWholeFile(h.Destination() + "/README.md"), ReadWholeFile(RB_SOURCE_README));
    const std::string record = DumpTree(ReadXmlFile(h.MakerFolder() + "/Uninstall.xml").get());
    EXPECT_NE(record.find("README.md"), std::string::npos) << record;
    EXPECT_EQ(Utf8FromWide(h.App()->GetCurrentLanguage()), "German");
    // The language went to the registry store as well, and was recorded.
    EXPECT_NE(ReadWholeFile(h.MakerFolder() + "/Registry.tsv").find("Language\tREG_SZ\tGerman"),
              std::string::npos);
    EXPECT_NE(record.find("SubKey_Value=Language"), std::string::npos) << record;

    ASSERT_TRUE(h.Launch());
    ASSERT_NE(h.Main()->GetPreviousUninstallTree(), nullptr);
    EXPECT_EQ(DumpTree(h.Main()->GetPreviousUninstallTree()), record);
    EXPECT_EQ(Utf8FromWide(h.App()->GetCurrentLanguage()), "German");

    // The script hands the record through the stages to the copy control.
    Send(h, "Uninstall");
    EXPECT_FALSE(std::filesystem::exists(h.Destination()));
    EXPECT_FALSE(std::filesystem::exists(h.MakerFolder() + "/Uninstall.xml"));
    EXPECT_FALSE(std::filesystem::exists(h.MakerFolder() + "/Registry.tsv"));
}
