#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

#include "FCodePage.h"
#include "FException.h"
#include "FProbeObject.h"
#include "FPropList.h"
#include "FRegistryStore.h"
#include "FUiInstallRegistry.h"
#include "InstallerHarness.h"

namespace
{

struct ScopedStore {
    explicit ScopedStore(FIRegistryStore* store) { SetRegistryStore(store); }
    ~ScopedStore() { SetRegistryStore(nullptr); }
};

std::string Read(FIRegistryStore& store, const char* root, const char* key, const char* name)
{
    FWideString data("unchanged");
    switch (store.Read(FWideString(root), FWideString(key), FWideString(name), data)) {
    case ERegistryRead::kFound:
        return Utf8FromWide(data);
    case ERegistryRead::kKeyMissing:
        return "<no key>";
    case ERegistryRead::kValueMissing:
        return "<no value>";
    }
    return "";
}

const char* const kRegistryList = R"(<INSTALL_LIST>
  <REGISTRY_KEYS>
    <KEY HKEY_Name="HKEY_LOCAL_MACHINE">
      <VALUE Name="Software\Talvo\Rawbench" Value="Path" Data="<TARGETDIR>" Reg_Type="REG_SZ"/>
      <VALUE Name="Software\Talvo\Rawbench\Files" Value="Run" Data="&quot;<TARGETDIR>/<EXE>&quot; --x" Reg_Type="REG_DWORDISH"/>
    </KEY>
    <KEY HKEY_Name="HKEY_LOCAL_MACHINE"><VALUE Name="Software\Microsoft\Windows\CurrentVersion\Run" Value="Rawbench" Data="<EXE>" Reg_Type="REG_SZ"/></KEY>
    <KEY HKEY_Name="HKEY_NOWHERE"><VALUE Name="Software\Talvo" Value="Lost" Data="x"/></KEY>
    <KEY HKEY_Name="HKEY_CURRENT_USER"><VALUE Name="\" Value="Root" Data="x"/></KEY>
  </REGISTRY_KEYS>
</INSTALL_LIST>)";

} // namespace

TEST(RegistryStore, FindsKeysIgnoringCaseAndRefusesWhatIsNoKey)
{
    FMemoryRegistryStore store;
    struct Case {
        const char* root;
        const char* key;
        ERegistryWrite expected;
    } const cases[] = {
        {"HKEY_CURRENT_USER", "Software\\Talvo", ERegistryWrite::kOk},
        {"HKEY_CURRENT_USER", "software/TALVO/", ERegistryWrite::kOk},
        {"HKEY_CURRENT_USER", "", ERegistryWrite::kRefused},
        {"HKEY_CURRENT_USER", "\\\\", ERegistryWrite::kRefused},
        {"hkey_current_user", "Software", ERegistryWrite::kRefused},
        {"HKEY_PERFORMANCE_DATA", "Software", ERegistryWrite::kRefused},
    };
    for (const Case& c : cases)
        EXPECT_EQ(store.Write(FWideString(c.root), FWideString(c.key), FWideString("Name"),
                              FWideString(c.key), FWideString("REG_SZ")),
                  c.expected)
            << c.root << " " << c.key;
    // The second write went to the same value.
    ASSERT_EQ(store.GetValues().size(), 1u);
    EXPECT_EQ(Read(store, "HKEY_CURRENT_USER", "SOFTWARE\\talvo", "NAME"), "software/TALVO/");
    EXPECT_EQ(Read(store, "HKEY_CURRENT_USER", "Software", "Name"), "<no value>");
    EXPECT_EQ(Read(store, "HKEY_CURRENT_USER", "Software\\Other", "Name"), "<no key>");
    EXPECT_EQ(Read(store, "HKEY_LOCAL_MACHINE", "Software\\Talvo", "Name"), "<no key>");

    store.Write(FWideString("HKEY_CURRENT_USER"), FWideString("Software\\Talvo\\Sub"), FWideString("A"),
                FWideString("a"), FWideString("REG_SZ"));
    store.Write(FWideString("HKEY_CURRENT_USER"), FWideString("Software\\TalvoOther"), FWideString("B"),
                FWideString("b"), FWideString("REG_SZ"));
    store.DeleteTree(FWideString("HKEY_CURRENT_USER"), FWideString(""));
    EXPECT_EQ(store.GetValues().size(), 3u);
    store.DeleteTree(FWideString("HKEY_CURRENT_USER"), FWideString("software\\talvo"));
    ASSERT_EQ(store.GetValues().size(), 1u);
    EXPECT_EQ(Utf8FromWide(store.GetValues()[0].key), "Software\\TalvoOther");
}

TEST(RegistryStore, TheFileStoreKeepsAnyTextAndGoesAwayWhenEmpty)
{
    InstallerHarness h;
    FFileRegistryStore store;
    const std::string odd = "tab\there\nnew line \\ back \"quoted\" caf\xC3\xA9";
    EXPECT_EQ(store.Write(FWideString("HKEY_CURRENT_USER"), FWideString("Software\\Talvo\\Rawbench"),
                          FWideString("Odd"), WideFromUtf8(odd), FWideString("REG_SZ")),
              ERegistryWrite::kOk);
    EXPECT_EQ(store.Write(FWideString("HKEY_CURRENT_USER"), FWideString("Software\\Other"),
                          FWideString("Keep"), FWideString("k"), FWideString("REG_SZ")),
              ERegistryWrite::kOk);
    const std::string file = h.MakerFolder() + "/Registry.tsv";
    const std::string lines = ReadWholeFile(file);
    EXPECT_EQ(std::count(lines.begin(), lines.end(), '\n'), 2);
    FFileRegistryStore again;
    EXPECT_EQ(Read(again, "HKEY_CURRENT_USER", "software\\talvo\\rawbench", "odd"), odd);
    // Nothing beside the store: every change replaced the file whole.
    EXPECT_EQ(h.ListTree(h.MakerFolder()), (std::vector<std::string>{"Registry.tsv"}));
    again.DeleteValue(FWideString("HKEY_CURRENT_USER"), FWideString("Software\\Talvo\\Rawbench"),
                      FWideString("Odd"));
    again.DeleteTree(FWideString("HKEY_CURRENT_USER"), FWideString("Software\\Other"));
    EXPECT_FALSE(PathExists(file));
}

TEST(InstallRegistry, WritesTheListsValuesRecordsThemAndRemovesOnlyThose)
{
    InstallerHarness h;
    ASSERT_TRUE(h.WriteInstaller(kRegistryList, {}));
    FMemoryRegistryStore store;
    ScopedStore scoped(&store);
    // Another program's value under a key the list writes to as well.
    store.Write(FWideString("HKEY_LOCAL_MACHINE"),
                FWideString("Software\\Microsoft\\Windows\\CurrentVersion\\Run"), FWideString("Other"),
                FWideString("other"), FWideString("REG_SZ"));

    FUiInstallRegistry registry("REGISTRY");
    std::vector<std::string> records;
    std::unique_ptr<FPropList> sent;
    FProbeObject probe("PROBE");
    registry.FindEvent(FWideString("ON_SEND_UNINSTALL_TREE"))->AddTarget(FWideString("Tree"), &probe);
    probe.SetOnMessage([&](const FProbeRecord& record) {
        records.push_back(DumpTree(static_cast<FPropList*>(record.pointer)));
        sent.reset(static_cast<FPropList*>(record.pointer)->Clone());
    });
    FWideString dest = UrlOf(h.Destination()), language("French");
    // The installer's own file has no dot in its name and is still read as the archive.
    FWideString pair[2] = {h.InstallerUrl(), FWideString("InstallList.xml")};
    EXPECT_FALSE(registry.UiRelayMessage(FWideString("TargetDirectory"), &dest));
    EXPECT_FALSE(registry.UiRelayMessage(FWideString("RegistryFile"), pair));
    EXPECT_FALSE(registry.UiRelayMessage(FWideString("InstallLanguage"), &language));
    EXPECT_FALSE(registry.UiRelayMessage(FWideString("SaveToRegistry"), nullptr));

    EXPECT_EQ(Read(store, "HKEY_LOCAL_MACHINE", "Software\\Talvo\\Rawbench", "Path"), h.Destination());
    EXPECT_EQ(Read(store, "HKEY_LOCAL_MACHINE", "Software\\Talvo\\Rawbench\\Files", "Run"),
              "\"" + h.Destination() + "/Rawbench\" --x");
    EXPECT_EQ(Utf8FromWide(store.GetValues()[2].type), "REG_SZ");
    EXPECT_EQ(Utf8FromWide(registry.GetKeyList()[1].typeName), "REG_NONE");
    FWideString text;
    registry.UiRelayMessage(FWideString("CheckLanguage"), &text);
    EXPECT_EQ(Utf8FromWide(text), "French");
    text = "x";
    registry.UiRelayMessage(FWideString("CheckDriverInstall"), &text);
    EXPECT_TRUE(text.IsEmpty());

    const std::string uninstallKey = "Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\Rawbench";
    ASSERT_EQ(records.size(), 1u);
    EXPECT_EQ(records[0],
              "UNINSTALL_REGISTRY_KEYS\n"
              "  REGISTRY_KEY HKEY_Name=HKEY_LOCAL_MACHINE SubKey_Name=" +
                  uninstallKey +
                  " SubKey_Value=Language\n"
                  "  REGISTRY_KEY HKEY_Name=HKEY_LOCAL_MACHINE SubKey_Name=Software\\Talvo\\Rawbench "
                  "SubKey_Value=Path\n"
                  "  REGISTRY_KEY HKEY_Name=HKEY_LOCAL_MACHINE SubKey_Name=Software\\Talvo\\Rawbench\\Files "
                  "SubKey_Value=Run\n"
                  "  REGISTRY_KEY HKEY_Name=HKEY_LOCAL_MACHINE "
                  "SubKey_Name=Software\\Microsoft\\Windows\\CurrentVersion\\Run SubKey_Value=Rawbench\n");

    // The record, widened as an edited file might be: an empty key and a whole shared key.
    FPropList tree(nullptr, "UNINSTALL");
    FPropList* list = tree.AppendChild(*sent);
    for (const char* edited : {"", "\\", "Software"}) {
        FPropList* key = new FPropList(list, "REGISTRY_KEY");
        key->AddProp(FWideString("HKEY_Name"), FWideString("HKEY_LOCAL_MACHINE"));
        key->AddProp(FWideString("SubKey_Name"), FWideString(edited));
        key->AddProp(FWideString("SubKey_Value"), FWideString("Other"));
    }
    EXPECT_EQ(store.GetValues().size(), 5u);
    registry.UiRelayMessage(FWideString("UninstallTree"), &tree);
    ASSERT_EQ(store.GetValues().size(), 1u);
    EXPECT_EQ(Utf8FromWide(store.GetValues()[0].name), "Other");
}

TEST(InstallRegistry, AStoreThatCannotBeWrittenFailsTheFinish)
{
    InstallerHarness h;
    ASSERT_TRUE(h.WriteInstaller(kRegistryList, {}));
    FMemoryRegistryStore store;
    store.SetDenyWrites(true);
    ScopedStore scoped(&store);
    FUiInstallRegistry registry("REGISTRY");
    FWideString pair[2] = {h.InstallerUrl(), FWideString("InstallList.xml")};
    registry.UiRelayMessage(FWideString("RegistryFile"), pair);
    try {
        registry.UiRelayMessage(FWideString("SaveToRegistry"), nullptr);
        FAIL() << "no exception";
    } catch (const FException& e) {
        EXPECT_STREQ(e.GetMessage(), "Access Denied!  Cannot write to that registry key!\n");
    }
    FWideString missing[2] = {UrlOf(h.Home() + "/nowhere"), FWideString("InstallList.xml")};
    EXPECT_THROW(registry.UiRelayMessage(FWideString("RegistryFile"), missing), FException);
}
