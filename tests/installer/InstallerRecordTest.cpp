#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>

#include "FCodePage.h"
#include "FPropList.h"
#include "FSha256.h"
#include "InstallerHarness.h"
#include "InstallerRecord.h"

namespace fs = std::filesystem;

TEST(Sha256, GivesTheStandardDigestsHoweverTheBytesArrive)
{
    struct Case {
        std::string bytes;
        const char* digest;
    } const cases[] = {
        {"", "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855"},
        {"abc", "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad"},
        {"abcdbcdecdefdefgefghfghighijhijkijkljklmklmnlmnomnopnopq",
         "248d6a61d20638b8e5c026930c3e6039a33ce45964ff2167f6ecedd419db06c1"},
        {std::string(1000000, 'a'), "cdc76e5c9914fb9281a1c7e284d73e67f1809a48a497200e046d39ccc7112cd0"},
    };
    for (const Case& c : cases) {
        FSha256 whole;
        whole.Add(c.bytes.data(), c.bytes.size());
        EXPECT_EQ(whole.FinishHex(), c.digest) << c.bytes.size();
        // Pieces that straddle the 64-byte blocks give the same digest.
        FSha256 pieces;
        for (size_t at = 0; at < c.bytes.size(); at += 37)
            pieces.Add(c.bytes.data() + at, std::min<size_t>(37, c.bytes.size() - at));
        EXPECT_EQ(pieces.FinishHex(), c.digest) << c.bytes.size();
    }
}

TEST(InstallRecord, ADestinationIsTrustedOnlyWithTheStampOfItsOwnInstallation)
{
    InstallerHarness h;
    const std::string id = "0123456789abcdef0123456789abcdef";
    fs::create_directories(h.Destination());
    fs::create_directories(h.Home() + "/Documents");
    fs::create_directory_symlink(h.Destination(), h.Home() + "/Linked");
    ASSERT_TRUE(WriteInstallStamp(UrlOf(h.Destination()), WideFromUtf8(id)));
    struct Case {
        const char* name;
        std::string folder;
        std::string installId;
        bool trusted;
    } const cases[] = {
        {"the stamped destination", h.Destination(), id, true},
        {"another id", h.Destination(), "ffffffffffffffffffffffffffffffff", false},
        {"no id", h.Destination(), "", false},
        {"a folder without the stamp", h.Home() + "/Documents", id, false},
        {"the home", h.Home(), id, false},
        {"a link to the stamped destination", h.Home() + "/Linked", id, false},
    };
    // A stamp copied into the home does not make the home a destination.
    std::ofstream(h.Home() + "/.rawbench-install") << ReadWholeFile(h.Destination() + "/.rawbench-install");
    for (const Case& c : cases) {
        FPropList record(nullptr, "UNINSTALL");
        FPropList* root = new FPropList(&record, "INSTALL_ROOT");
        root->AddProp(FWideString("FolderName"), UrlOf(c.folder + "/"));
        if (!c.installId.empty())
            root->AddProp(FWideString("InstallId"), WideFromUtf8(c.installId));
        EXPECT_EQ(!TrustedInstallRoot(&record).IsEmpty(), c.trusted) << c.name;
    }
}
