#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <memory>
#include <string>

#include "BrowserFixtures.h"
#include "FGenericUiApp.h"
#include "FHeadlessDesktop.h"
#include "FImageFileList.h"
#include "FImageFileListEntry.h"
#include "FProbeObject.h"
#include "FUiImageFileList.h"
#include "FUiObjectFactory.h"
#include "FUiTestApp.h"
#include "FUiWidgets.h"
#include "RawTestFolder.h"
#include "StorageClassRegistry.h"

namespace
{

const char* const kLogged[] = {"ON_SHOW_FILTER",       "ON_REMOVE_ALL_THUMBNAILS", "ON_NEW_VISIBLE_LIST",
                               "ON_SET_REPLY",         "ON_SET_DELETE_TEXT",       "ON_SET_MENU_MARK",
                               "ON_SET_MENU_UNMARK",   "ON_SET_MENU_LOCK",         "ON_SET_MENU_UNLOCK",
                               "ON_REVIEW_IMAGES",     "ON_SET_FILTER_TO_LOCKED",  "ON_SET_SORT_BY_FILE_SIZE",
                               "ON_SET_REVERSE_ORDER", "ON_SET_SHOW_BRI_ONLY",     "ON_NEW_THUMBNAIL"};

// A window holding IMAGE_FILE_LIST "L" whose events above go to the probe, in a script of
// three languages; `state` (the bytes of a state file) is put in place before start-up.
struct ListRun {
    explicit ListRun(bool persistent = false, const std::string& state = "")
    {
        std::string events;
        for (const char* name : kLogged)
            events += std::string("<") + name + " Relay=\"Probe\" Message=\"" + name + "\"/>";
        const std::string script = std::string(R"(<UI_SCRIPT Name="TestApp" HasPersistantDataStore=")") +
                                   (persistent ? "true" : "false") + R"(">
  <LANGUAGES><LANGUAGE Name="English" Default="true"/><LANGUAGE Name="French"/><LANGUAGE Name="German"/></LANGUAGES>
  <PROBE Name="Probe"/><WINDOW Name="W" DX="100" DY="50"><IMAGE_FILE_LIST Name="L">)" +
                                   events + "</IMAGE_FILE_LIST></WINDOW></UI_SCRIPT>";
        run = std::make_unique<FUiTestApp>(script, false);
        FIUiObjectFactory* factory = run->GetApp()->GetUiObjectFactory();
        RegisterUiWidgets(factory);
        RegisterImageFileListCreator(factory);
        if (!state.empty())
            run->WriteAppDataFile("TestApp.state.xml", state);
        if (run->Init())
            HeadlessPumpUntilIdle();
        widget = dynamic_cast<FUiImageFileList*>(run->GetApp()->GetUiRelay(FWideString("W.L")));
        probe = dynamic_cast<FProbeObject*>(run->GetApp()->GetUiRelay(FWideString("Probe")));
        probe->SetDataKind("ON_SHOW_FILTER", EProbeData::kInt);
        probe->SetDataKind("ON_SET_DELETE_TEXT", EProbeData::kInt);
        probe->Clear();
    }
    // Entries without files: name, then flags as letters (s selected, r raw, l locked, m marked).
    void Add(const std::string& name, const std::string& flags)
    {
        auto* entry = new FImageFileListEntry;
        entry->SetURL(FWideString(("file:///p/" + name).c_str()));
        entry->m_bSelected = flags.find('s') != std::string::npos;
        entry->m_bRaw = flags.find('r') != std::string::npos;
        entry->m_bLocked = flags.find('l') != std::string::npos;
        entry->m_bMarked = flags.find('m') != std::string::npos;
        widget->GetList().Append(entry);
        widget->GetList().Refilter();
    }
    bool Send(const char* message, const char* text)
    {
        FWideString data(text);
        return widget->UiRelayMessage(FWideString(message), &data);
    }
    std::string Events()
    {
        std::string all;
        for (const FProbeRecord& r : probe->GetRecords())
            all += (all.empty() ? "" : ",") + r.message + (r.data.empty() ? "" : "=" + r.data);
        probe->Clear();
        return all;
    }

    std::unique_ptr<FUiTestApp> run;
    FUiImageFileList* widget = nullptr;
    FProbeObject* probe = nullptr;
};

TEST(ImageFileListWidget, ViewChoicesActOnlyOnAChange)
{
    ListRun t;
    ASSERT_NE(t.widget, nullptr);
    t.Add("a.q7f", "rm");
    t.Add("b.jpg", "");
    struct Case {
        const char* message;
        const char* text;
        bool acts;
    } cases[] = {
        {"Filter", "ShowAll", false},    {"Filter", "ShowMarked", true},   {"Filter", "ShowMarked", false},
        {"Filter", "Everything", false}, {"Sort", "Name", false},          {"Sort", "Date", true},
        {"Sort", "Backwards", false},    {"ReverseState", "False", false}, {"ReverseState", "True", true},
        {"ReverseState", "yes", false},  {"ShowBriOnly", "False", false},  {"ShowBriOnly", "True", true},
        {"ShowBriOnly", "True", false},
    };
    for (const Case& c : cases) {
        EXPECT_TRUE(t.Send(c.message, c.text));
        const std::string events = t.Events();
        EXPECT_EQ(events.find("ON_REMOVE_ALL_THUMBNAILS") != std::string::npos, c.acts)
            << c.message << " " << c.text << ": " << events;
    }
    // The filter as shown: method, plus 5 with raw files only.
    t.Send("Filter", "ShowLocked");
    EXPECT_EQ(t.Events().rfind("ON_SHOW_FILTER=9", 0), 0u);
    // Messages that need data refuse a null pointer.
    EXPECT_FALSE(t.widget->UiRelayMessage(FWideString("Filter"), nullptr));
    EXPECT_FALSE(t.widget->UiRelayMessage(FWideString("Nonsense"), nullptr));
}

TEST(ImageFileListWidget, DeleteTextAndMenuToggles)
{
    struct Case {
        const char* flagsA;
        const char* flagsB;
        int code;
    } cases[] = {{"sl", "", 0}, {"sl", "s", 2}, {"s", "s", 1}, {"", "", 1}};
    for (const Case& c : cases) {
        ListRun t;
        t.Add("a.q7f", c.flagsA);
        t.Add("b.q7f", c.flagsB);
        t.widget->UiRelayMessage(FWideString("DeletePressed"), nullptr);
        EXPECT_EQ(t.Events(), "ON_SET_REPLY,ON_SET_DELETE_TEXT=" + std::to_string(c.code))
            << c.flagsA << c.flagsB;
        // Any answer but "Delete" does nothing.
        t.Send("Reply", "Keep");
        EXPECT_EQ(t.widget->GetList().GetCount(), 2);
    }
    // Mark toggles by whether every selected raw image is marked.
    for (auto [flags, event] : {std::pair{"srm", "ON_SET_MENU_MARK"}, {"sr", "ON_SET_MENU_UNMARK"}}) {
        ListRun m;
        m.Add("a.q7f", "srm");
        m.Add("b.q7f", flags);
        m.Add("c.jpg", "s");
        m.widget->UiRelayMessage(FWideString("Mark"), nullptr);
        EXPECT_EQ(m.Events(), event) << flags;
    }
    // Lock toggles by whether every selected image is locked; a running batch ignores a second command.
    ListRun t;
    t.Add("a.q7f", "srl");
    t.Add("b.q7f", "sr");
    t.widget->UiRelayMessage(FWideString("Lock"), nullptr);
    EXPECT_EQ(t.Events(), "ON_SET_MENU_UNLOCK");
    EXPECT_TRUE(t.widget->GetList().IsBatchRunning());
    t.widget->UiRelayMessage(FWideString("Lock"), nullptr);
    t.widget->UiRelayMessage(FWideString("RotateCW"), nullptr);
    EXPECT_EQ(t.Events(), "");
}

TEST(ImageFileListWidget, NoThumbnailRequestBeforeTheSizeIsKnown)
{
    ListRun t;
    t.Add("a.jpg", "");
    t.Add("b.jpg", "m");
    t.Send("Filter", "ShowMarked");
    t.Send("Filter", "ShowAll");
    EXPECT_EQ(t.widget->GetList().GetQueuedThumbnailCount(), 0);
    int size = 144;
    t.widget->UiRelayMessage(FWideString("ThumbnailSize"), &size);
    EXPECT_EQ(t.widget->GetThumbSize(), 144);
    EXPECT_EQ(t.widget->GetList().GetQueuedThumbnailCount(), 2);
    t.widget->GetList().CancelPending();
}

TEST(ImageFileListWidget, PositionsAndReview)
{
    ListRun t;
    t.Add("a.jpg", "m");
    t.Add("b.jpg", "");
    t.Send("Filter", "ShowUnmarked");
    FImageFileListEntry query;
    query.SetURL(FWideString("file:///p/a.jpg"));
    t.widget->UiRelayMessage(FWideString("GetImageListPos"), &query);
    EXPECT_EQ(query.m_nVisibleIndex, 0);
    EXPECT_EQ(query.m_nVisibleCount, 1);
    t.Send("Filter", "ShowLocked");
    t.Events();
    t.widget->UiRelayMessage(FWideString("ReviewImages"), nullptr);
    EXPECT_EQ(t.Events(), "");
    t.Send("Filter", "ShowAll");
    t.Events();
    t.widget->UiRelayMessage(FWideString("ReviewImages"), nullptr);
    EXPECT_EQ(t.Events(), "ON_REVIEW_IMAGES");
}

TEST(ImageFileListWidget, LanguageCommandCycles)
{
    ListRun t;
    auto* app = dynamic_cast<FGenericUiApp*>(t.run->GetApp());
    std::string seen;
    for (int i = 0; i < 4; ++i) {
        t.widget->UiRelayMessage(FWideString("ChangeLangDialog"), nullptr);
        seen += std::string(app->GetCurrentLanguage().GetNarrow()) + ";";
    }
    EXPECT_EQ(seen, "French;German;English;French;");
}

TEST(ImageFileListWidget, ChoicesAreKeptBetweenRuns)
{
    std::string state;
    {
        ListRun t(true);
        t.Add("a.q7f", "r");
        t.Send("Filter", "ShowLocked");
        t.Send("Sort", "Size");
        t.Send("ReverseState", "True");
        t.Send("ShowBriOnly", "True");
        t.Send("DirSelected", "file:///nowhere/");
        t.run->Finish();
        FILE* in = fopen((t.run->GetAppDataPath() + "/TestApp.state.xml").c_str(), "rb");
        ASSERT_NE(in, nullptr);
        char buffer[8192];
        state.assign(buffer, fread(buffer, 1, sizeof buffer, in));
        fclose(in);
    }
    ListRun again(true, state);
    EXPECT_EQ(again.widget->GetList().m_nFilterMethod, 4);
    EXPECT_EQ(again.widget->GetList().m_nSortMethod, 3);
    EXPECT_TRUE(again.widget->GetList().m_bReverse);
    EXPECT_TRUE(again.widget->GetList().m_bRawOnly);
    again.widget->UiRelayMessage(FWideString("Post Creation Initialization"), nullptr);
    EXPECT_EQ(again.Events(), "ON_SET_FILTER_TO_LOCKED,ON_SET_SORT_BY_FILE_SIZE,ON_SET_REVERSE_ORDER,"
                              "ON_SET_SHOW_BRI_ONLY,ON_SHOW_FILTER=9");
}

// A folder of thousands of files is listed over many ticks, never in the command that
// chose it; the view hears of the list once, whole and in order, and a refresh under way
// starts again without doubling any entry.
TEST(ImageFileListWidget, AFolderOfThousandsIsListedInSlices)
{
    constexpr int kRaws = 2500;
    rawtest::RawTestFolder files;
    browsertest::RawOptions o;
    o.previewCols = 0;
    const rawtest::Bytes raw = browsertest::MakeRaw(o);
    for (int i = 0; i < kRaws; ++i) {
        char name[32];
        std::snprintf(name, sizeof(name), "P%04d.q7f", i);
        files.Write(name, raw);
        if (i % 5 == 0)
            files.Write(std::string(name) + ".xmp", {'x'});
    }
    FWideString folder = files.FolderURL();

    ListRun t;
    FImageFileList& list = t.widget->GetList();
    t.Events();
    ASSERT_TRUE(t.widget->UiRelayMessage(FWideString("DirSelected"), &folder));
    ASSERT_TRUE(list.IsReading());
    for (int i = 0; i < 2; ++i)
        t.widget->Tick(10);
    ASSERT_TRUE(list.IsReading());
    ASSERT_TRUE(t.widget->UiRelayMessage(FWideString("RefreshList"), nullptr));
    t.Events();
    int ticks = 0;
    for (; list.IsReading() && ticks < 100000; ++ticks) {
        EXPECT_EQ(list.GetCount(), 0);
        t.widget->Tick(10);
    }
    EXPECT_GT(ticks, 1);
    EXPECT_EQ(t.Events(), "ON_NEW_VISIBLE_LIST");
    ASSERT_EQ(list.GetCount(), kRaws);
    int i = 0;
    for (const FImageFileListEntry* e = list.m_pHead; e; e = e->m_pNext, ++i) {
        char name[32];
        std::snprintf(name, sizeof(name), "P%04d.q7f", i);
        const std::string url = e->m_usURL.GetNarrow();
        ASSERT_GE(url.size(), std::strlen(name));
        EXPECT_EQ(url.substr(url.size() - std::strlen(name)), name);
    }
}

} // namespace
