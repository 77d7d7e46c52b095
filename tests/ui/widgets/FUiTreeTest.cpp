#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <memory>
#include <string>
#include <vector>

#include "FException.h"
#include "FIUiPixmap.h"
#include "FMemStorageClass.h"
#include "FProbeObject.h"
#include "FScopedTempFolder.h"
#include "FUiTree.h"
#include "FUiWidgets.h"
#include "ListTestSupport.h"
#include "StorageClassRegistry.h"
#include "WidgetTestSupport.h"

namespace
{

// The in-memory class with volume kinds and failures: under "v/", a volume
// named Net is remote, Card removable and Disc a CD; a folder whose name
// starts with "ro" is read-only; one named "locked" cannot be listed.
class FKindFolder : public FIFolder
{
public:
    FKindFolder(FIFolder* inner, std::vector<FWideString> parts) : m_pInner(inner), m_parts(std::move(parts))
    {
    }
    ~FKindFolder() override { m_pInner->Release(); }

    FIFolder* OpenSubFolder(const FWideString& name, bool create) override
    {
        FIFolder* inner = m_pInner->OpenSubFolder(name, create);
        if (!inner)
            return nullptr;
        std::vector<FWideString> parts = m_parts;
        parts.push_back(name);
        return new FKindFolder(inner, parts);
    }
    FIFile* OpenFile(const FWideString& name, int mode) override { return m_pInner->OpenFile(name, mode); }
    void ListFiles(std::vector<FWideString>& names) override { m_pInner->ListFiles(names); }
    void ListFolders(std::vector<FWideString>& names) override
    {
        if (!m_parts.empty() && m_parts.back() == "locked")
            throw FException("Permission denied");
        m_pInner->ListFolders(names);
    }
    void Rename(const FWideString& a, const FWideString& b) override { m_pInner->Rename(a, b); }
    bool DeleteFile(const FWideString& name) override { return m_pInner->DeleteFile(name); }
    void DeleteFolder(const FWideString& url, int mode) override { m_pInner->DeleteFolder(url, mode); }
    FWideString GetURL() override { return m_pInner->GetURL(); }
    FWideString GetNote() override { return FWideString(); }
    void SetTag(int) override {}
    int64_t GetFreeSpace() override { return -1; }
    bool IsReadOnly() override { return false; }
    bool GetAttributes(int& flags) override
    {
        if (!m_pInner->GetAttributes(flags))
            return false;
        if (!m_parts.empty() && m_parts.back().GetLength() >= 2 && m_parts.back().GetBuffer()[0] == u'r' &&
            m_parts.back().GetBuffer()[1] == u'o')
            flags |= kFileAttrReadOnly;
        return true;
    }
    int GetDriveType() override
    {
        if (m_parts.size() < 2)
            return kDriveNoRootFolder;
        const FWideString& volume = m_parts[1];
        if (volume == "Net")
            return kDriveRemote;
        if (volume == "Card")
            return kDriveRemovable;
        if (volume == "Disc")
            return kDriveCdRom;
        return kDriveFixed;
    }
    bool Exists(const FWideString& name, bool* isFolder) override { return m_pInner->Exists(name, isFolder); }

private:
    FIFolder* m_pInner;
    std::vector<FWideString> m_parts;
};

class FKindStorage : public FIStorageClass
{
public:
    FIFile* OpenFile(const FWideString& path, int mode) override { return m_inner.OpenFile(path, mode); }
    FIFolder* OpenFolder(const FWideString& path, FWideString& fileName, bool create) override
    {
        FIFolder* inner = m_inner.OpenFolder(path, fileName, create);
        if (!inner)
            return nullptr;
        std::vector<FWideString> parts;
        for (const FWideString& part : NonEmptyPathParts(path)) {
            FWideString name;
            UnescapeURLChars(part, name);
            parts.push_back(name);
        }
        return new FKindFolder(inner, parts);
    }
    bool GetSpecialPath(int, FWideString&) override { return false; }
    bool ToNativePath(const FWideString& path, FWideString& native) override
    {
        return m_inner.ToNativePath(path, native);
    }
    bool FromNativePath(const FWideString& native, FWideString& path) override
    {
        return m_inner.FromNativePath(native, path);
    }
    const char16_t* GetName() override { return u"treekind"; }
    const char16_t* GetDescription() override { return u"kinds"; }
    void Launch(const FWideString&, const char16_t*) override {}
    bool Exists(const FWideString& path, bool& isFolder) override { return m_inner.Exists(path, isFolder); }
    void MoveToTrash(const FWideString&) override {}

    FMemStorageClass m_inner{FWideString("treekind")};
};

FKindStorage* KindStorage()
{
    static FKindStorage* storage = [] {
        auto* made = new FKindStorage;
        RegisterStorageClass(FWideString("treekind"), made);
        return made;
    }();
    return storage;
}

FMemStorageClass* MemStorage()
{
    static FMemStorageClass* storage = RegisterMemStorageClass(FWideString("treemem"));
    return storage;
}

std::string TreeScript(const std::string& rootURL, const std::string& extra = "", int height = 100)
{
    std::string icons;
    for (const char* key : {"File_DiskIcon", "File_RemovableDiskIcon", "File_CDRomIcon", "File_FolderIcon",
                            "File_OpenFolderIcon", "File_IsClosedIcon", "File_IsOpenIcon"})
        icons += std::string(key) + R"(="button_normal.png" )";
    return WidgetScript(R"(<PROBE Name="Probe"/>
  <WINDOW Name="W" BgColor="#FFFFFF" DX="200" DY=")" +
                        std::to_string(height) + R"("><VBOX>
    <DIRTREE Name="T" MinHSize="100" MinVSize="40" HStretch="1" VStretch="1" Font="DejaVu Sans" FontSize="12"
      SelectedFontColor="#FFFFFF" SelectedBgColor="#000080" DisabledFontColor="#808080"
      LowerLeftColor="#00FF00" )" +
                        icons + R"(_RootURL=")" + rootURL + R"(">
      <VSCROLLBAR/>)" + extra +
                        R"(
      <ON_DIRSELECTED Relay="Probe" Message="Dir"/>
      <ON_COPY_FILE Relay="Probe" Message="Copy"/>
    </DIRTREE></VBOX></WINDOW>)");
}

struct TreeRun {
    std::unique_ptr<FUiTestApp> run;
    FUiTree* tree = nullptr;
    FProbeObject* probe = nullptr;
    FTestScrollbar* vbar = nullptr;

    explicit TreeRun(const std::string& script)
    {
        run = MakeWidgetRun(script, {RegisterUiHVBox, RegisterUiTree, RegisterTestScrollbar});
        tree = dynamic_cast<FUiTree*>(FindWidget(*run, "W.T"));
        probe = FProbeObject::FindLive("Probe");
        if (probe) {
            probe->SetDataKind("Dir", EProbeData::kString);
            probe->Clear();
        }
        if (tree)
            vbar = dynamic_cast<FTestScrollbar*>(tree->GetVScrollbar());
    }

    // Draws the tree so that rows get their rectangles.
    void Draw()
    {
        FIUiPixmap* target = CreateUiPixmap(400, 400, true);
        tree->Display(target, 0, 0, FRect(0, 0, 400, 400));
        ReleaseUiPixmap(target);
    }

    std::string Labels() const
    {
        std::string text;
        for (FUiTreeNode* node : tree->GetVisibleNodes())
            text += (text.empty() ? "" : ",") + std::string(node->depth > 1 ? "  " : "") +
                    node->label.GetNarrow();
        return text;
    }

    FUiTreeNode* Visible(const char* label) const
    {
        for (FUiTreeNode* node : tree->GetVisibleNodes())
            if (node->label == label)
                return node;
        return nullptr;
    }

    std::string Dirs() const
    {
        std::string text;
        for (const FProbeRecord& record : probe->GetRecords())
            if (record.message == "Dir")
                text += "[" + record.data + "]";
        return text;
    }

    bool Send(const char* message, const FWideString& value)
    {
        FWideString copy = value;
        return tree->UiRelayMessage(FWideString(message), &copy);
    }
};

void SetUpMemTree()
{
    FMemStorageClass* mem = MemStorage();
    for (const char* path :
         {"vols/b", "vols/A/x", "vols/A/y/deep", "vols/A/.hidden/z", "vols/c", "vols/A/y/deep2"})
        mem->MakeFolder(FWideString(path));
}

TEST(TreeTest, ListsSortedHidesHiddenAndMarksLeaves)
{
    SetUpMemTree();
    TreeRun t(TreeScript("treemem://vols/"));
    ASSERT_NE(t.tree, nullptr);
    EXPECT_EQ(t.Labels(), "A,b,c"); // the root is never shown
    FUiTreeNode* a = t.Visible("A");
    ASSERT_NE(a, nullptr);
    EXPECT_TRUE(a->listed);
    EXPECT_TRUE(a->expandable);
    EXPECT_FALSE(t.Visible("b")->expandable); // grandchildren were listed: b has none
    EXPECT_EQ(a->url, "treemem://vols/A/");

    t.Draw();
    t.tree->MouseDown(a->expanderRect.left + 1, a->expanderRect.top + 1, false, false);
    EXPECT_EQ(t.Labels(), "A,  x,  y,b,c"); // .hidden is not shown
    EXPECT_TRUE(t.Visible("y")->expandable);
    EXPECT_FALSE(t.Visible("x")->expandable);
    EXPECT_EQ(t.Dirs(), ""); // the expander only toggles
}

TEST(TreeTest, RefreshFollowsFoldersAppearingAndVanishing)
{
    FMemStorageClass* mem = MemStorage();
    mem->MakeFolder(FWideString("vols2/A/keep/inner"));
    mem->MakeFolder(FWideString("vols2/A/zap/inner"));
    mem->MakeFolder(FWideString("vols2/C"));
    TreeRun t(TreeScript("treemem://vols2/"));
    ASSERT_NE(t.tree, nullptr);
    ASSERT_TRUE(t.Send("SelectDir", FWideString("treemem://vols2/A/zap/inner/")));
    EXPECT_EQ(t.Dirs(), "[treemem://vols2/A/zap/inner/]");
    t.Draw();
    t.tree->MouseDown(1, t.Visible("keep")->iconRect.top, false, false); // lists keep
    t.tree->KeyEvent(145, false, false);                                 // Right opens it
    EXPECT_EQ(t.Labels(), "A,  keep,  inner,  zap,  inner,C");
    t.probe->Clear();

    mem->MakeFolder(FWideString("vols2/A/mid/fresh"));
    mem->MakeFolder(FWideString("vols2/B"));
    EXPECT_TRUE(t.tree->UiRelayMessage(FWideString("Refresh"), nullptr));
    EXPECT_EQ(t.Labels(), "A,  keep,  inner,  mid,  zap,  inner,B,C"); // in order, expansions kept
    EXPECT_TRUE(t.Visible("mid")->listed);
    EXPECT_TRUE(t.Visible("mid")->expandable);
    EXPECT_EQ(t.Dirs(), "");

    t.Send("SelectDir", FWideString("treemem://vols2/A/zap/"));
    t.probe->Clear();
    FWideString unused;
    FIFolder* a = OpenFolderURL(FWideString("treemem://vols2/A/"), unused, false);
    ASSERT_NE(a, nullptr);
    a->DeleteFolder(FWideString("treemem://vols2/A/zap"), 1);
    a->Release();
    t.tree->UiRelayMessage(FWideString("Refresh"), nullptr);
    EXPECT_EQ(t.Labels(), "A,  keep,  inner,  mid,B,C");
    EXPECT_EQ(t.tree->GetSelected(), nullptr);
    EXPECT_EQ(t.Dirs(), "[]");
}

TEST(TreeTest, SelectDirIgnoresCaseExpandsAndScrolls)
{
    FMemStorageClass* mem = MemStorage();
    for (int i = 0; i < 12; ++i)
        mem->MakeFolder(FWideString(("vols3/V" + std::to_string(10 + i)).c_str()));
    mem->MakeFolder(FWideString("vols3/V21/Mid/Leaf"));
    TreeRun t(TreeScript("treemem://vols3/"));
    ASSERT_NE(t.tree, nullptr);
    EXPECT_EQ(t.vbar->LastSet(), "12," + std::to_string(t.tree->GetVisibleRows()) + ",0");
    t.Send("SelectDir", FWideString("treemem://VOLS3/v21/mid/leaf/"));
    ASSERT_NE(t.tree->GetSelected(), nullptr);
    EXPECT_EQ(t.tree->GetSelected()->url, "treemem://vols3/V21/Mid/Leaf/");
    EXPECT_EQ(t.Dirs(), "[treemem://vols3/V21/Mid/Leaf/]");
    EXPECT_EQ(t.tree->GetRowCount(), 14);
    const int visible = t.tree->GetVisibleRows();
    EXPECT_EQ(t.tree->GetFirstVisibleRow(), 13 - visible + 1); // bottom aligned
    t.probe->Clear();
    t.Send("SelectDir", FWideString("treemem://vols3/V21/Nothing/"));
    t.Send("SelectDir", FWideString("treemem://"));
    EXPECT_EQ(t.Dirs(), "");
    t.tree->UiRelayMessage(FWideString("GetSelectedDir"), nullptr);
    EXPECT_EQ(t.Dirs(), "[treemem://vols3/V21/Mid/Leaf/]");
    EXPECT_FALSE(t.tree->UiRelayMessage(FWideString("SelectDir"), nullptr));

    mem->MakeFolder(FWideString("vols3/V10/Made"));
    t.probe->Clear();
    t.Send("CreatedNewDir", FWideString("treemem://vols3/V10/Made/"));
    // A folder made directly in a volume lists the volumes again: the old
    // selection goes with them, and the other volumes come back collapsed.
    EXPECT_EQ(t.Dirs(), "[][treemem://vols3/V10/Made/]");
    EXPECT_EQ(t.tree->GetRowCount(), 13);
}

TEST(TreeTest, VolumeKindsHiddenUnderNetworkReadOnlyDropAndUnreadableFolder)
{
    FMemStorageClass& mem = KindStorage()->m_inner;
    for (const char* path : {"v/Card/a", "v/Disc/b", "v/Local/.dot", "v/Local/plain/locked/sub",
                             "v/Local/rofolder", "v/Net/.dot"})
        mem.MakeFolder(FWideString(path));
    TreeRun t(TreeScript("treekind://v/"));
    ASSERT_NE(t.tree, nullptr);
    EXPECT_EQ(t.Labels(), "Card,Disc,Local,Net");
    FUiTreeNode* card = t.Visible("Card");
    FUiTreeNode* disc = t.Visible("Disc");
    FUiTreeNode* local = t.Visible("Local");
    FUiTreeNode* net = t.Visible("Net");
    EXPECT_TRUE(card->removable);
    EXPECT_TRUE(disc->cdRom);
    EXPECT_TRUE(net->remote);
    EXPECT_NE(card->icon, local->icon);
    EXPECT_NE(disc->icon, local->icon);
    EXPECT_EQ(net->icon, local->icon); // network volumes show the disk icon
    EXPECT_FALSE(card->listed);        // nothing below removable or network volumes is read
    EXPECT_FALSE(net->listed);

    t.Draw();
    t.tree->MouseDown(net->expanderRect.left, net->expanderRect.top, false, false);
    t.tree->MouseDown(local->expanderRect.left, local->expanderRect.top, false, false);
    EXPECT_EQ(t.Labels(), "Card,Disc,Local,  plain,  rofolder,Net,  .dot");
    FUiTreeNode* plain = t.Visible("plain");
    EXPECT_TRUE(plain->expandable); // "locked" is listed by name; its own listing fails
    t.Draw();
    t.tree->MouseDown(plain->expanderRect.left, plain->expanderRect.top, false, false);
    EXPECT_EQ(t.Labels(), "Card,Disc,Local,  plain,  locked,  rofolder,Net,  .dot");
    EXPECT_FALSE(t.Visible("locked")->expandable);

    t.Draw();
    FUiTreeNode* ro = t.Visible("rofolder");
    EXPECT_FALSE(t.tree->CanDrop(0, ro->iconRect.top));
    EXPECT_FALSE(t.tree->Drop(0, ro->iconRect.top, false, false, FWideString("mem://x.q7f")));
    std::string copied;
    t.probe->SetOnMessage([&](const FProbeRecord& record) {
        if (record.message == "Copy" && record.pointer) {
            const auto* data = static_cast<const FUiTreeCopyFile*>(record.pointer);
            copied = data->paths.size() == 2
                         ? std::string(data->paths[0].GetNarrow()) + "|" + data->paths[1].GetNarrow()
                         : "?";
        }
    });
    EXPECT_TRUE(t.tree->CanDrop(0, plain->iconRect.top));
    EXPECT_TRUE(t.tree->Drop(0, plain->iconRect.top, false, false, FWideString("mem://x.q7f")));
    EXPECT_EQ(copied, "mem://x.q7f|treekind://v/Local/plain/");
    EXPECT_FALSE(t.tree->CanDrop(0, 10000));
}

TEST(TreeTest, PointerAndKeys)
{
    FMemStorageClass* mem = MemStorage();
    for (const char* path : {"keys/A/a1/a11", "keys/A/a2", "keys/B/b1"})
        mem->MakeFolder(FWideString(path));
    TreeRun t(TreeScript("treemem://keys/", "", 300));
    ASSERT_NE(t.tree, nullptr);
    t.Draw();
    FUiTreeNode* b = t.Visible("B");
    // Anywhere on the row's height selects it, far right of the label too.
    t.tree->MouseDown(t.tree->GetRect().right - 20, b->iconRect.top + 1, false, false);
    EXPECT_EQ(t.tree->GetSelected(), b);
    t.tree->KeyEvent(19, false, false); // Down from the last row: nothing
    EXPECT_EQ(t.tree->GetSelected(), b);
    t.tree->KeyEvent(146, false, false); // Left: the parent, which is the undrawn root
    EXPECT_EQ(t.tree->GetSelected(), t.tree->GetRoot());
    EXPECT_EQ(t.Dirs(), "[treemem://keys/B/][treemem://keys/]");

    FUiTreeNode* a = t.Visible("A");
    t.tree->MouseDown(a->expanderRect.left, a->expanderRect.top, false, false);
    t.Draw();
    FUiTreeNode* a1 = t.Visible("a1");
    t.tree->MouseDown(a1->expanderRect.left, a1->expanderRect.top, false, false);
    EXPECT_EQ(t.Labels(), "A,  a1,  a11,  a2,B");
    t.Draw();
    t.tree->MouseDown(1, t.Visible("B")->iconRect.top, false, false);
    t.tree->KeyEvent(14, false, false); // Up: the last visible row above
    EXPECT_EQ(t.tree->GetSelected()->label, "a2");
    t.tree->KeyEvent(14, false, false);
    EXPECT_EQ(t.tree->GetSelected()->label, "a11");
    t.tree->KeyEvent(19, false, false);
    EXPECT_EQ(t.tree->GetSelected()->label, "a2");
    t.tree->KeyEvent(19, false, false);
    EXPECT_EQ(t.tree->GetSelected()->label, "B");

    t.Send("SelectDir", FWideString("treemem://keys/A/a1/a11/"));
    t.probe->Clear();
    t.tree->KeyEvent(146, false, false); // Left from a leaf: its parent
    EXPECT_EQ(t.tree->GetSelected()->label, "a1");
    t.tree->KeyEvent(13, false, false); // Enter closes a1
    EXPECT_EQ(t.Labels(), "A,  a1,  a2,B");
    t.tree->KeyEvent(145, false, false); // Right opens it again
    t.tree->KeyEvent(145, false, false); // and moves to its first child
    EXPECT_EQ(t.tree->GetSelected()->label, "a11");
    // Collapsing A moves the selection up to A.
    t.Draw();
    t.probe->Clear();
    a = t.Visible("A");
    t.tree->MouseDown(a->expanderRect.left, a->expanderRect.top, false, false);
    EXPECT_EQ(t.tree->GetSelected(), a);
    EXPECT_EQ(t.Dirs(), "[treemem://keys/A/]");
    // A double click on the label toggles.
    t.Draw();
    t.tree->MouseDoubleClick(a->textRect.left + 1, a->textRect.top + 1, false, false);
    EXPECT_EQ(t.Labels(), "A,  a1,  a2,B"); // re-listed: a1 comes back collapsed
}

TEST(TreeTest, CollapseClampsFirstVisibleRow)
{
    FMemStorageClass* mem = MemStorage();
    for (int i = 0; i < 28; ++i)
        mem->MakeFolder(FWideString(("many/A/f" + std::to_string(10 + i)).c_str()));
    mem->MakeFolder(FWideString("many/B"));
    for (int i = 0; i < 10; ++i)
        mem->MakeFolder(FWideString(("many/C" + std::to_string(10 + i)).c_str()));
    TreeRun t(TreeScript("treemem://many/", "", 160));
    ASSERT_NE(t.tree, nullptr);
    t.Draw();
    FUiTreeNode* a = t.Visible("A");
    t.tree->MouseDown(a->expanderRect.left, a->expanderRect.top, false, false);
    EXPECT_EQ(t.tree->GetRowCount(), 40);
    const int visible = t.tree->GetVisibleRows();
    ASSERT_EQ(visible, 10);
    t.tree->MouseDown(1, a->iconRect.top, false, false); // selects A without scrolling
    ASSERT_TRUE(t.vbar->Scroll(25));
    EXPECT_EQ(t.tree->GetFirstVisibleRow(), 25);
    t.tree->KeyEvent(13, false, false); // Enter collapses A: 12 rows remain
    EXPECT_EQ(t.tree->GetRowCount(), 12);
    EXPECT_EQ(t.tree->GetFirstVisibleRow(), 2);
    EXPECT_EQ(t.vbar->LastSet(), "12,10,2");
}

TEST(TreeTest, RealFolderTreeWithOddNames)
{
    FScopedTempFolder temp;
    const std::vector<std::string> odd = {"quote\"s",    "hash#1", "per%20cent", "new\nline",
                                          "bad\xff\xfe", "b",      "A"};
    ASSERT_EQ(mkdir(temp.Join("vol").c_str(), 0755), 0);
    for (const std::string& name : odd) {
        ASSERT_EQ(mkdir(temp.Join("vol/" + name).c_str(), 0755), 0) << name;
        ASSERT_EQ(mkdir(temp.Join("vol/" + name + "/inner").c_str(), 0755), 0) << name;
    }
    ASSERT_EQ(mkdir(temp.Join("vol/.hidden").c_str(), 0755), 0);
    FWideString rootURL;
    EnsureDiskStorageClass();
    ASSERT_TRUE(NativePathToURL(WideFromUtf8(temp.GetPath()), rootURL));
    TreeRun t(TreeScript(std::string(rootURL.GetNarrow())));
    ASSERT_NE(t.tree, nullptr);
    FUiTreeNode* vol = t.Visible("vol");
    ASSERT_NE(vol, nullptr);
    t.Draw();
    t.tree->MouseDown(vol->expanderRect.left, vol->expanderRect.top, false, false);
    const std::vector<FUiTreeNode*> nodes = t.tree->GetVisibleNodes();
    ASSERT_EQ(nodes.size(), 1 + odd.size());
    EXPECT_EQ(nodes[1]->label, "A");
    EXPECT_EQ(nodes[2]->label, "b");
    // Every odd name is listed, drawn, and found again by its own URL.
    t.Draw();
    for (size_t i = 1; i < nodes.size(); ++i) {
        EXPECT_TRUE(nodes[i]->expandable) << nodes[i]->label.GetNarrow();
        EXPECT_NE(nodes[i]->textPixmap, nullptr);
        const FWideString url = nodes[i]->url;
        t.Send("SelectDir", url);
        ASSERT_EQ(t.tree->GetSelected(), nodes[i]) << url.GetNarrow();
    }

    // Folders come and go on disk.
    ASSERT_EQ(mkdir(temp.Join("vol/Between").c_str(), 0755), 0);
    ASSERT_EQ(rmdir(temp.Join("vol/b/inner").c_str()), 0);
    ASSERT_EQ(rmdir(temp.Join("vol/b").c_str()), 0);
    t.tree->UiRelayMessage(FWideString("Refresh"), nullptr);
    std::string labels = t.Labels();
    EXPECT_NE(labels.find("  Between,  hash#1"), std::string::npos) << labels;
    EXPECT_EQ(labels.find("  b,"), std::string::npos) << labels;
    t.Draw();
}

TEST(TreeTest, DefaultRootListsVolumesAndMissingKeysFail)
{
    EnsureDiskStorageClass();
    TreeRun t(TreeScript("disk://"));
    ASSERT_NE(t.tree, nullptr);
    EXPECT_EQ(t.tree->GetRoot()->depth, 0);
    ASSERT_FALSE(t.tree->GetVisibleNodes().empty());
    EXPECT_EQ(t.tree->GetVisibleNodes().front()->depth, 1);
    EXPECT_EQ(t.Visible("/") != nullptr, true);

    // No VSCROLLBAR, or an icon that does not load: the tree is not made.
    std::string script = TreeScript("treemem://vols/");
    script.replace(script.find("<VSCROLLBAR/>"), 13, "");
    TreeRun noBar(script);
    EXPECT_EQ(noBar.tree, nullptr);
    script = TreeScript("treemem://vols/");
    script.replace(script.find("File_IsOpenIcon=\"button_normal.png\""), 35, "File_IsOpenIcon=\"none.png\"");
    TreeRun noIcon(script);
    EXPECT_EQ(noIcon.tree, nullptr);
}

TEST(TreeTest, HorizontalBarCornerAndScrollMessages)
{
    SetUpMemTree();
    TreeRun t(TreeScript("treemem://vols/", "<HSCROLLBAR Thick=\"10\"/>"));
    ASSERT_NE(t.tree, nullptr);
    auto* hbar = dynamic_cast<FTestScrollbar*>(t.tree->GetHScrollbar());
    ASSERT_NE(hbar, nullptr);
    t.tree->UiRelayMessage(FWideString("Post Creation Initialization"), nullptr);
    EXPECT_GE(hbar->GetPostCreations(), 1);
    FIUiPixmap* target = CreateUiPixmap(200, 100, true);
    target->FillRGBA(255, 255, 255, 255);
    t.tree->Display(target, 0, 0, FRect(0, 0, 200, 100));
    const FRect r = t.tree->GetRect();
    EXPECT_EQ(PixelText(target, r.right - 1, r.bottom - 1), "0,255,0"); // the corner square
    ReleaseUiPixmap(target);
    EXPECT_TRUE(hbar->Scroll(0));
    t.tree->MouseWheel(5, 5, 0, 2);
    EXPECT_EQ(t.vbar->GetWheel(), 2);
    t.tree->Tick(10);
    EXPECT_EQ(hbar->GetTicks(), 1);
}

} // namespace
