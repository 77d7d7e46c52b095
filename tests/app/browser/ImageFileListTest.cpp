// The image file list: which files count, readers and the scan, filters and counters,
// insertion, lookup, neighbours, sorting, the thumbnail queue and the batch operations,
// against fixture files and the real pool (fakes only to stall or refuse).
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <thread>
#include <vector>

#include "BrowserFixtures.h"
#include "FBribImageWriter.h"
#include "FEngineAccess.h"
#include "FIPMImage.h"
#include "FIPManager.h"
#include "FIPManagerRequest.h"
#include "FImageFileList.h"
#include "FImageFileListEntry.h"
#include "FMemStorageClass.h"
#include "FScopedTempFolder.h"
#include "StorageClassRegistry.h"

using namespace browsertest;

namespace
{

std::string N(const FWideString& text)
{
    return text.GetNarrow();
}

std::vector<std::string> Names(const FImageFileList& list)
{
    std::vector<std::string> names;
    for (const FImageFileListEntry* e = list.m_pHead; e != nullptr; e = e->m_pNext)
        names.push_back(N(e->m_usFileName));
    return names;
}

// The chain read backwards must be the chain read forwards, reversed.
void ExpectConsistentChain(const FImageFileList& list)
{
    std::vector<const FImageFileListEntry*> forward;
    for (const FImageFileListEntry* e = list.m_pHead; e != nullptr; e = e->m_pNext)
        forward.push_back(e);
    std::vector<const FImageFileListEntry*> backward;
    for (const FImageFileListEntry* e = list.m_pTail; e != nullptr; e = e->m_pPrev)
        backward.push_back(e);
    std::reverse(backward.begin(), backward.end());
    EXPECT_EQ(forward, backward);
}

struct Flags {
    const char* name;
    bool raw = true, marked = false, locked = false, selected = false, transferred = false, camera = false;
    int64_t size = 100;
    int time = 0, cols = 0, rows = 0;
};

FImageFileListEntry* Make(const Flags& f)
{
    auto* e = new FImageFileListEntry;
    FWideString url("disk://f/");
    url += f.name;
    e->SetURL(url);
    e->m_bRaw = f.raw;
    e->m_bMarked = f.marked;
    e->m_bLocked = f.locked;
    e->m_bSelected = f.selected;
    e->m_bTransferred = f.transferred;
    e->m_bCamera = f.camera;
    e->m_nFileSize = f.size;
    e->m_nCaptureTime = f.time;
    e->m_nCols = f.cols;
    e->m_nRows = f.rows;
    return e;
}

FWideString FolderURLOf(const FWideString& fileURL)
{
    std::vector<FWideString> parts;
    SplitURL(fileURL, parts);
    parts.pop_back();
    FWideString url;
    JoinURL(parts, url, true);
    return url;
}

class ListTest : public BrowserTest
{
protected:
    FWideString Folder() { return FolderURLOf(m_pFolder->URL("x")); }
    FWideString Gone()
    {
        FWideString url = Folder();
        url += "gone/";
        return url;
    }
    void Write(const std::string& name, const rawtest::Bytes& bytes)
    {
        std::ofstream(m_pFolder->NativePath(name), std::ios::binary)
            .write(reinterpret_cast<const char*>(bytes.data()), std::streamsize(bytes.size()));
    }
};

void CountDone(void* context, FImageFileListEntry*)
{
    ++*static_cast<int*>(context);
}

bool DrainQueue(FImageFileList& list)
{
    for (int i = 0; i < 200000 && (list.HasQueuedThumbnails() || list.IsBatchRunning()); ++i)
        list.Idle();
    return !list.HasQueuedThumbnails() && !list.IsBatchRunning();
}

TEST_F(ListTest, WhichFilesCountAsImages)
{
    RawOptions o;
    o.previewCols = 0;
    for (const char* name : {"a.q7f", "b.JPG", "c.tiff", "d.Tif", "e.jpeg"})
        Write(name, MakeRaw(o));
    Write("empty.q7f", {});
    Write("notes.txt", MakeRaw(o));
    Write("q7f", MakeRaw(o));
    Write("x.q7f.bak", MakeRaw(o));
    std::filesystem::create_directory(m_pFolder->NativePath("sub.q7f"));

    FImageFileList list;
    ASSERT_TRUE(list.ReadFolder(GetIPManagerPool(), Folder()));
    EXPECT_EQ(Names(list), (std::vector<std::string>{"a.q7f", "b.JPG", "c.tiff", "d.Tif", "e.jpeg"}));
    EXPECT_TRUE(list.m_usFolderURL == Folder());
    int count = 0;
    int64_t bytes = 0;
    ASSERT_TRUE(CountImageFilesInFolder(Folder(), &count, &bytes));
    EXPECT_EQ(count, 5);
    EXPECT_EQ(bytes, int64_t(5 * MakeRaw(o).size()));
    EXPECT_EQ(list.m_aCounts[kCountAll].m_nBytes, bytes);

    // A folder that does not exist: false, the list empty, the old folder URL kept.
    EXPECT_FALSE(list.ReadFolder(GetIPManagerPool(), Gone()));
    EXPECT_EQ(list.GetCount(), 0);
    EXPECT_TRUE(list.m_usFolderURL == Folder());
    EXPECT_FALSE(CountImageFilesInFolder(Gone(), &count, &bytes));
    EXPECT_EQ(count, 0);
}

TEST_F(ListTest, ASlicedReadEndsAsTheWholeReadAndCanBeDropped)
{
    RawOptions o;
    o.previewCols = 0;
    for (int i = 0; i < 40; ++i)
        Write("r" + std::to_string(100 + i) + ".q7f", MakeRaw(o));
    Write("notes.txt", MakeRaw(o));
    Write("empty.q7f", {});

    FImageFileList whole;
    whole.StoreReverseSort(true);
    ASSERT_TRUE(whole.ReadFolder(GetIPManagerPool(), Folder()));

    FImageFileList sliced;
    sliced.StoreReverseSort(true);
    ASSERT_TRUE(sliced.BeginRead(GetIPManagerPool(), Folder()));
    int slices = 0;
    bool done = false;
    while (!done) {
        done = sliced.ContinueRead(0);
        ++slices;
        if (!done) {
            EXPECT_TRUE(sliced.IsReading());
            EXPECT_EQ(sliced.m_pHead, nullptr);
            EXPECT_EQ(sliced.m_aCounts[kCountAll].m_nCount, 0);
        }
    }
    // 41 image names (the empty one included) at 16 a slice, after the names came from the
    // listing thread (a slice or two more on a slow machine).
    EXPECT_GE(slices, 3);
    EXPECT_LE(slices, 5);
    EXPECT_FALSE(sliced.IsReading());
    EXPECT_EQ(Names(sliced), Names(whole));
    EXPECT_EQ(Names(sliced).front(), "r139.q7f");
    EXPECT_EQ(sliced.m_aCounts[kCountAll].m_nCount, 40);
    EXPECT_EQ(sliced.m_aCounts[kCountAll].m_nBytes, whole.m_aCounts[kCountAll].m_nBytes);
    ExpectConsistentChain(sliced);

    // Dropped by Clear or by a folder that cannot be opened; nothing of it appears later.
    ASSERT_TRUE(sliced.BeginRead(GetIPManagerPool(), Folder()));
    EXPECT_FALSE(sliced.ContinueRead(0));
    sliced.Clear();
    EXPECT_FALSE(sliced.IsReading());
    EXPECT_TRUE(sliced.ContinueRead(0));
    EXPECT_EQ(sliced.GetCount(), 0);
    ASSERT_TRUE(sliced.BeginRead(GetIPManagerPool(), Folder()));
    EXPECT_FALSE(sliced.ContinueRead(0));
    EXPECT_FALSE(sliced.BeginRead(GetIPManagerPool(), Gone()));
    EXPECT_FALSE(sliced.IsReading());
    EXPECT_EQ(sliced.GetCount(), 0);
}

// A folder of many files is listed away from the caller and its names are gone through in
// slices, the other files' names too: no call does the whole folder at once.
TEST_F(ListTest, ManyNamesAreGoneThroughInSlices)
{
    RawOptions o;
    o.previewCols = 0;
    Write("a.q7f", MakeRaw(o));
    for (int i = 0; i < 4000; ++i)
        Write("side" + std::to_string(i) + ".xmp", {'x'});
    FImageFileList list;
    ASSERT_TRUE(list.BeginRead(GetIPManagerPool(), Folder()));
    int slices = 1;
    while (!list.ContinueRead(0))
        ++slices;
    EXPECT_GE(slices, 4000 / 512);
    EXPECT_EQ(list.GetCount(), 1);
}

TEST_F(ListTest, CameraFoldersListRawFilesOnlyButTheScanListsAll)
{
    static FMemStorageClass* camera = RegisterMemStorageClass(FWideString("camera"));
    const rawtest::Bytes raw = MakeRaw({});
    const rawtest::Bytes jpeg = MakeJpeg(40, 30);
    camera->PutFile(FWideString("DCIM/a.q7f"), std::string(raw.begin(), raw.end()));
    camera->PutFile(FWideString("DCIM/b.jpg"), std::string(jpeg.begin(), jpeg.end()));

    FImageFileList list;
    ASSERT_TRUE(list.ReadFolder(GetIPManagerPool(), FWideString("camera://DCIM/")));
    EXPECT_EQ(Names(list), (std::vector<std::string>{"a.q7f"}));
    EXPECT_TRUE(list.m_pHead->m_bCamera);

    ASSERT_TRUE(list.StartScan(GetIPManagerPool(), FWideString("camera://DCIM/")));
    while (!list.IsScanDone())
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    EXPECT_EQ(Names(list), (std::vector<std::string>{"a.q7f", "b.jpg"}));
    EXPECT_FALSE(list.m_pHead->m_pNext->m_bTransferred);
}

TEST(ListFilter, CountersPerFilterWithHiddenEntries)
{
    FImageFileList list(nullptr);
    list.Append(
        Make({.name = "a.q7f", .marked = true, .selected = true, .transferred = true, .size = 3000000000LL}));
    list.Append(Make({.name = "b.q7f", .locked = true, .size = 3000000000LL}));
    list.Append(Make({.name = "c.jpg", .raw = false, .marked = true, .locked = true, .size = 10}));
    list.Append(Make({.name = "d.jpg", .raw = false, .selected = true, .size = 20}));
    struct Case {
        int filter;
        bool rawOnly;
        std::vector<int> indexes; // visible index of a, b, c, d
    };
    const Case cases[] = {
        {1, false, {0, 1, 2, 3}},   {2, false, {0, -1, 1, -1}},  {3, false, {-1, 0, -1, 1}},
        {4, false, {-1, 0, 1, -1}}, {5, false, {0, -1, -1, 1}},  {1, true, {0, 1, -1, -1}},
        {2, true, {0, -1, -1, -1}}, {9, true, {-1, -1, -1, -1}},
    };
    for (const Case& c : cases) {
        list.SetBriOnly(c.rawOnly);
        list.SetFilterMethod(c.filter);
        list.Refilter();
        std::vector<int> indexes;
        int visible = 0;
        for (const FImageFileListEntry* e = list.m_pHead; e != nullptr; e = e->m_pNext) {
            indexes.push_back(c.filter == 9 ? -1 : e->m_nVisibleIndex);
            visible += e->m_nVisibleIndex >= 0 && c.filter != 9 ? 1 : 0;
        }
        if (c.filter != 9) {
            EXPECT_EQ(indexes, c.indexes) << c.filter << c.rawOnly;
        }
        EXPECT_EQ(list.m_aCounts[kCountVisible].m_nCount, c.filter == 9 ? 0 : visible);
        EXPECT_EQ(list.m_pHead->m_nVisibleCount, list.m_aCounts[kCountVisible].m_nCount);
        // Hidden or not, every entry is in the other counters; totals are 64-bit.
        EXPECT_EQ(list.m_aCounts[kCountAll].m_nCount, 4);
        EXPECT_EQ(list.m_aCounts[kCountAll].m_nBytes, 6000000030LL);
        EXPECT_EQ(list.m_aCounts[kCountMarked].m_nCount, 2);
        EXPECT_EQ(list.m_aCounts[kCountLocked].m_nBytes, 3000000010LL);
        EXPECT_EQ(list.m_aCounts[kCountTransferred].m_nCount, 1);
        EXPECT_EQ(list.m_aCounts[kCountSelected].m_nBytes, 3000000020LL);
        EXPECT_EQ(list.m_aCounts[kCountRaw].m_nCount, 2);
    }
    list.SetBriOnly(false);
    list.SetFilterMethod(2);
    list.DeselectHidden();
    EXPECT_TRUE(list.m_pHead->m_bSelected);
    EXPECT_FALSE(list.m_pTail->m_bSelected);
    EXPECT_EQ(list.m_aCounts[kCountSelected].m_nCount, 1);
}

TEST(ListFilter, AnyMatchingBits)
{
    FImageFileList list(nullptr);
    EXPECT_FALSE(list.AnyMatching(0));
    list.Append(Make({.name = "a.q7f", .locked = true, .selected = true, .camera = true}));
    list.Append(Make({.name = "b.jpg", .raw = false, .marked = true, .transferred = true}));
    list.Refilter();
    list.m_pTail->m_bVisible = false;
    struct Case {
        int flags;
        bool any;
    };
    const Case cases[] = {
        {0, true},
        {kMatchSelected | kMatchNotLocked, false}, // 0x0801: some selected entry unlocked
        {kMatchSelected | kMatchLocked, true},
        {kMatchNotSelected, true},
        {kMatchRaw | kMatchMarked, false},
        {kMatchNotRaw | kMatchMarked | kMatchTransferred, true},
        {kMatchCamera | kMatchNotTransferred, true},
        {kMatchNotCamera | kMatchNotTransferred, false},
        {kMatchNotMarked | kMatchVisible, true},
        {kMatchMarked | kMatchVisible, false},
        {kMatchNotVisible | kMatchNotLocked, true},
        {kMatchSelected | kMatchNotSelected, false},
    };
    for (const Case& c : cases)
        EXPECT_EQ(list.AnyMatching(c.flags), c.any) << std::hex << c.flags;
}

TEST(ListChain, InsertionFallbacksLookupAndNeighbours)
{
    FImageFileList list(nullptr);
    FImageFileListEntry* b = Make({.name = "b.q7f"});
    list.InsertBefore(b, nullptr); // empty: appended
    FImageFileListEntry* d = Make({.name = "d.q7f"});
    list.InsertAfter(d, b);
    list.InsertBefore(Make({.name = "a.q7f"}), b); // before the head
    list.InsertAfter(Make({.name = "c.q7f"}), b);
    FImageFileListEntry stray;
    list.InsertBefore(Make({.name = "e.q7f"}), &stray); // not linked: appended
    list.InsertAfter(Make({.name = "f.q7f"}), &stray);
    list.InsertAfter(Make({.name = "0.q7f"}), nullptr); // before the head
    EXPECT_EQ(Names(list),
              (std::vector<std::string>{"0.q7f", "a.q7f", "b.q7f", "c.q7f", "d.q7f", "e.q7f", "f.q7f"}));
    ExpectConsistentChain(list);

    EXPECT_EQ(list.FindByURL(FWideString("DISK://F/C.Q7F")), b->m_pNext);
    EXPECT_EQ(list.FindByURL(FWideString("disk://f/zz.q7f")), nullptr);
    EXPECT_TRUE(list.SelectByURL(FWideString("disk://f/d.q7f"), true));
    EXPECT_FALSE(list.SelectByURL(FWideString("disk://f/zz.q7f"), true));
    EXPECT_EQ(list.FirstSelected(), d);
    EXPECT_EQ(list.GetSelectedCount(), 1);
    EXPECT_FALSE(list.AllSelectedLocked());
    EXPECT_FALSE(list.AllSelectedRawMarked());

    list.m_pHead->m_bMarked = true;
    b->m_bMarked = true;
    list.m_pTail->m_bMarked = true;
    list.SetFilterMethod(2);
    // A copy held elsewhere finds its neighbours through the list's own entry.
    FImageFileListEntry copy(*b);
    EXPECT_EQ(N(list.GetNextVisible(&copy)->m_usFileName), "f.q7f");
    EXPECT_EQ(N(list.GetPrevVisible(&copy)->m_usFileName), "0.q7f");
    EXPECT_EQ(list.GetNextVisible(list.m_pTail), nullptr);
    EXPECT_EQ(list.GetPrevVisible(list.m_pHead), nullptr);
    EXPECT_EQ(list.GetNextVisible(&stray), nullptr);

    list.Remove(b);
    EXPECT_EQ(list.GetCount(), 6);
    EXPECT_EQ(list.m_aCounts[kCountMarked].m_nCount, 2);
    ExpectConsistentChain(list);
}

TEST(ListChain, TheListNeverDeletesTheManagerItWasGiven)
{
    auto log = std::make_shared<FFakeManagerLog>();
    FFakeManager fake("A", log, 1);
    {
        FImageFileList list(&fake);
        list.Append(Make({.name = "a.q7f"}));
        ASSERT_TRUE(list.RequestThumbnails(8, 8, nullptr, nullptr));
        list.Idle(); // handed to the fake, which holds it until the list goes
    }
    EXPECT_EQ(log->m_iDeleted, 0);
    EXPECT_EQ(fake.GetCurrent(), nullptr);
}

TEST_F(ListTest, AddFileOnlyForTheListsOwnFolder)
{
    PutRaw("a.q7f");
    FImageFileList list;
    ASSERT_TRUE(list.ReadFolder(GetIPManagerPool(), Folder()));
    ASSERT_TRUE(list.RequestThumbnails(32, 32, nullptr, nullptr));
    ASSERT_TRUE(DrainQueue(list));

    const FWideString url = PutRaw("b.q7f");
    EXPECT_EQ(list.AddFile(GetIPManagerPool(), FWideString("disk://elsewhere/b.q7f")), nullptr);
    FImageFileListEntry* added = list.AddFile(GetIPManagerPool(), url);
    ASSERT_NE(added, nullptr);
    EXPECT_NE(added->m_pThumbnail, nullptr);
    EXPECT_EQ(Names(list), (std::vector<std::string>{"a.q7f", "b.q7f"}));
    EXPECT_EQ(list.m_aCounts[kCountVisible].m_nCount, 2);
    EXPECT_EQ(list.AddFile(GetIPManagerPool(), url), nullptr); // already listed

    // The folder URL exactly as given: without its trailing "/" nothing matches.
    FWideString bare = Folder();
    bare.DropRight(1);
    FImageFileList other;
    ASSERT_TRUE(other.ReadFolder(GetIPManagerPool(), bare));
    EXPECT_EQ(other.AddFile(GetIPManagerPool(), PutRaw("c.q7f")), nullptr);
}

TEST(ListSort, KeysTiesAndReversal)
{
    FImageFileList list(nullptr);
    list.Append(Make({.name = "b.q7f", .size = 5, .time = 200, .cols = 30, .rows = 20}));
    list.Append(Make({.name = "a.tif", .raw = false, .size = 7, .time = 0, .cols = 20, .rows = 30}));
    list.Append(Make({.name = "c.jpg", .raw = false, .size = 6, .time = 100, .cols = 10, .rows = 10}));
    list.Append(Make({.name = "B.q7f", .size = 5, .time = 200, .cols = 30, .rows = 20}));
    list.Append(Make(
        {.name = "d.jpeg", .raw = false, .size = 3000000000LL, .time = -5, .cols = 60000, .rows = 60000}));
    struct Case {
        int method;
        std::vector<std::string> ascending;
    };
    const Case cases[] = {
        {1, {"a.tif", "B.q7f", "b.q7f", "c.jpg", "d.jpeg"}},
        {2, {"d.jpeg", "a.tif", "c.jpg", "B.q7f", "b.q7f"}},
        {3, {"B.q7f", "b.q7f", "c.jpg", "a.tif", "d.jpeg"}},
        {4, {"B.q7f", "b.q7f", "d.jpeg", "c.jpg", "a.tif"}},
        {5, {"c.jpg", "B.q7f", "b.q7f", "a.tif", "d.jpeg"}},
    };
    for (const Case& c : cases) {
        list.SetSort(c.method, false);
        EXPECT_EQ(Names(list), c.ascending) << c.method;
        ExpectConsistentChain(list);
        std::vector<std::string> descending(c.ascending.rbegin(), c.ascending.rend());
        list.SetReverseSort(true);
        EXPECT_EQ(Names(list), descending) << c.method;
        ExpectConsistentChain(list);
        // Sorting again from the reversed chain gives the same order.
        list.SetSort(c.method, true);
        EXPECT_EQ(Names(list), descending) << c.method;
    }
    // Twelve digits, a minus sign in front of them.
    FImageFileListEntry* e = list.FindByURL(FWideString("disk://f/d.jpeg"));
    e->GetSortKey(2);
    EXPECT_EQ(N(e->m_usSortKey), "-000000000005d.jpeg");
    e->GetSortKey(5);
    EXPECT_EQ(N(e->m_usSortKey), "003600000000000000060000d.jpeg");
    e->GetSortKey(7);
    EXPECT_TRUE(e->m_usSortKey.IsEmpty());

    FImageFileList empty(nullptr);
    EXPECT_TRUE(empty.Sort(1));
    empty.Reverse();
    EXPECT_EQ(empty.m_pHead, nullptr);
}

// The whole sort transforms each key once; its byte order must be the locale compare's.
TEST(ListSort, TransformedKeysOrderAsTheLocaleCompare)
{
    const char16_t accented[] = {u'e', 0x0301, u'x', 0};
    const char16_t lone[] = {0xDC80, u'a', 0};
    const std::vector<FWideString> texts = {"",
                                            "a",
                                            "A",
                                            "b",
                                            "B.q7f",
                                            "b.q7f",
                                            "-5",
                                            "0",
                                            "000000000010x",
                                            "a b",
                                            FWideString(accented),
                                            FWideString(lone),
                                            "Z",
                                            "zz"};
    auto sign = [](int v) { return (v > 0) - (v < 0); };
    for (const FWideString& a : texts)
        for (const FWideString& b : texts)
            EXPECT_EQ(sign(LocaleSortKey(a).compare(LocaleSortKey(b))), CompareLocale(a, b))
                << N(a) << " / " << N(b);
}

TEST(ListSort, InsertSortedPlacesCaseTwinsBeforeAscendingAndAfterDescending)
{
    for (bool reverse : {false, true}) {
        FImageFileList list(nullptr);
        list.Append(Make({.name = "a.q7f"}));
        list.Append(Make({.name = "m.q7f"}));
        list.Append(Make({.name = "z.q7f"}));
        list.SetSort(1, reverse);
        list.InsertSorted(Make({.name = "M.q7f"}));
        list.InsertSorted(Make({.name = "0.q7f"}));
        list.InsertSorted(Make({.name = "zz.q7f"}));
        const std::vector<std::string> ascending = {"0.q7f", "a.q7f", "M.q7f", "m.q7f", "z.q7f", "zz.q7f"};
        const std::vector<std::string> descending = {"zz.q7f", "z.q7f", "m.q7f", "M.q7f", "a.q7f", "0.q7f"};
        EXPECT_EQ(Names(list), reverse ? descending : ascending);
        ExpectConsistentChain(list);
    }
    // After StoreSortMethod the old keys stay until the next resort.
    FImageFileList list(nullptr);
    list.Append(Make({.name = "a.q7f", .size = 9}));
    list.Append(Make({.name = "b.q7f", .size = 1}));
    list.SetSort(1, false);
    list.StoreSortMethod(3);
    EXPECT_EQ(Names(list), (std::vector<std::string>{"a.q7f", "b.q7f"}));
    list.InsertSorted(Make({.name = "c.q7f", .size = 5}));
    EXPECT_EQ(Names(list), (std::vector<std::string>{"c.q7f", "a.q7f", "b.q7f"}));
    list.Resort();
    EXPECT_EQ(Names(list), (std::vector<std::string>{"b.q7f", "c.q7f", "a.q7f"}));
}

// Two names that differ only in case are two files on Linux, but URLs are looked up
// without regard to case: both are listed, and every lookup finds the first of them.
TEST_F(ListTest, CaseTwinsAreBothListedButLookupsFindTheFirst)
{
    PutRaw("IMG.q7f", RawOptions{.props = {{"ISO", "100"}}});
    const FWideString lower = PutRaw("img.q7f", RawOptions{.props = {{"ISO", "200"}}});
    FImageFileList list;
    ASSERT_TRUE(list.ReadFolder(GetIPManagerPool(), Folder()));
    EXPECT_EQ(Names(list), (std::vector<std::string>{"IMG.q7f", "img.q7f"}));
    FImageFileListEntry* found = list.FindByURL(lower);
    ASSERT_NE(found, nullptr);
    EXPECT_EQ(N(found->m_usFileName), "IMG.q7f");
    EXPECT_TRUE(list.SelectByURL(lower, true));
    EXPECT_TRUE(list.m_pHead->m_bSelected);
    EXPECT_FALSE(list.m_pTail->m_bSelected);
    EXPECT_EQ(list.GetNextVisible(list.m_pTail), list.m_pTail);
}

// Files whose reads fail past their first bytes: listed with blank texts by the reader
// and the scan, their thumbnails dropped silently, nothing hangs.
TEST_F(ListTest, UnreadableFilesAreListedBlankAndGetNoThumbnail)
{
    static FMemStorageClass* flaky = RegisterMemStorageClass(FWideString("flaky"));
    RawOptions o;
    o.props = {{"ISO", "100"}};
    const rawtest::Bytes raw = MakeRaw(o);
    for (const char* path : {"card/a.q7f", "card/b.q7f"})
        flaky->PutFile(FWideString(path), std::string(raw.begin(), raw.end()));
    flaky->SetReadFault(64);
    FImageFileList list;
    ASSERT_TRUE(list.ReadFolder(GetIPManagerPool(), FWideString("flaky://card/")));
    ASSERT_EQ(list.GetCount(), 2);
    EXPECT_EQ(N(list.m_pHead->m_usIso), " ");
    int done = 0;
    ASSERT_TRUE(list.RequestThumbnails(16, 16, &done, CountDone));
    ASSERT_TRUE(DrainQueue(list));
    EXPECT_EQ(done, 0);
    ASSERT_TRUE(list.StartScan(GetIPManagerPool(), FWideString("flaky://card/")));
    while (!list.IsScanDone())
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    EXPECT_EQ(list.GetCount(), 2);
    flaky->SetReadFault(-1);
}

TEST_F(ListTest, NamesWithAnyByteLinuxAllows)
{
    const std::vector<std::string> names = {"new\nline.q7f",        "100%.q7f",  "50%0041.q7f",
                                            "bad\xff\xfe.q7f",      "q?#:*.q7f", "sp ace.jpg",
                                            "\xc3\xa9t\xc3\xa9.q7f"};
    RawOptions o;
    for (const std::string& name : names)
        Write(name, name.ends_with(".jpg") ? MakeJpeg(40, 30) : MakeRaw(o));
    FImageFileList list;
    ASSERT_TRUE(list.ReadFolder(GetIPManagerPool(), Folder()));
    ASSERT_EQ(list.GetCount(), int(names.size()));
    ASSERT_TRUE(list.RequestThumbnails(16, 16, nullptr, nullptr));
    ASSERT_TRUE(DrainQueue(list));
    for (const FImageFileListEntry* e = list.m_pHead; e != nullptr; e = e->m_pNext) {
        EXPECT_NE(e->m_pThumbnail, nullptr) << N(e->m_usURL);
        EXPECT_TRUE(list.FindByURL(e->m_usURL) == e);
    }
    // Every name reaches its own file: locking one changes that file only.
    for (FImageFileListEntry* e = list.m_pHead; e != nullptr; e = e->m_pNext)
        e->m_bSelected = N(e->m_usFileName) == "100%.q7f";
    ASSERT_TRUE(list.LockSelected(true, nullptr, nullptr));
    ASSERT_TRUE(DrainQueue(list));
    for (const std::string& name : names)
        EXPECT_EQ((Permissions(m_pFolder->NativePath(name)) & 0200) == 0, name == "100%.q7f") << name;
}

TEST_F(ListTest, ThumbnailQueueStatesFilterAndCancel)
{
    RawOptions marked;
    marked.markBits = 1;
    PutRaw("a.q7f", marked);
    PutRaw("b.q7f");
    Write("c.q7f", rawtest::Bytes(400, 0x5A)); // no image: the request fails
    PutRaw("d.q7f", marked);
    FImageFileList list;
    ASSERT_TRUE(list.ReadFolder(GetIPManagerPool(), Folder()));

    FImageFileList empty;
    int done = 0;
    EXPECT_FALSE(empty.RequestThumbnails(10, 10, &done, CountDone));
    EXPECT_EQ(empty.m_nThumbWidth, 0);
    EXPECT_EQ(empty.m_pfnThumbnailDone, nullptr);

    list.SetFilterMethod(2);
    ASSERT_TRUE(list.RequestThumbnails(32, 32, &done, CountDone));
    EXPECT_EQ(list.GetQueuedThumbnailCount(), 2);
    list.SetFilterMethod(1);
    ASSERT_TRUE(list.RequestThumbnails(32, 32, &done, CountDone));
    EXPECT_EQ(list.GetQueuedThumbnailCount(), 6);
    EXPECT_EQ(list.m_pFirstRequest->m_pRequest->m_Async.GetState(), int(kInitialized));
    list.Idle();
    for (ThumbnailRequest* n = list.m_pFirstRequest; n != nullptr; n = n->m_pNext)
        EXPECT_NE(n->m_pRequest->m_Async.GetState(), int(kInitialized));
    ASSERT_TRUE(DrainQueue(list));
    // Two requests each for a and d, one each for b; c failed silently.
    EXPECT_EQ(done, 5);
    for (const FImageFileListEntry* e = list.m_pHead; e != nullptr; e = e->m_pNext)
        EXPECT_EQ(e->m_pThumbnail != nullptr, N(e->m_usFileName) != "c.q7f") << N(e->m_usFileName);

    // Cancelled while a manager works on it: the result is dropped, the old thumbnail kept.
    FIPMImage* old = list.m_pHead->m_pThumbnail;
    done = 0;
    ASSERT_TRUE(list.RequestThumbnails(20, 20, &done, CountDone));
    list.Idle();
    list.CancelPending();
    ASSERT_TRUE(DrainQueue(list));
    EXPECT_EQ(done, 0);
    EXPECT_EQ(list.m_pHead->m_pThumbnail, old);
    EXPECT_EQ(list.m_pHead->m_nThumbCols, 32);
}

TEST_F(ListTest, RemovingAnEntryDropsItsQueuedThumbnailsFirst)
{
    for (const char* name : {"a.q7f", "b.q7f", "c.q7f"})
        PutRaw(name);
    int done = 0;
    {
        FImageFileList list;
        ASSERT_TRUE(list.ReadFolder(GetIPManagerPool(), Folder()));
        ASSERT_TRUE(list.RequestThumbnails(32, 32, &done, CountDone));
        list.Idle(); // handed over: some are now with managers
        list.Remove(list.m_pHead);
        ASSERT_TRUE(list.RequestThumbnails(32, 32, &done, CountDone)); // queued, never handed over
        list.Remove(list.m_pHead);
        ASSERT_TRUE(DrainQueue(list));
        EXPECT_EQ(done, 2);
        EXPECT_NE(list.m_pHead->m_pThumbnail, nullptr);
        // Destroyed with requests in progress: they are cancelled and waited for.
        ASSERT_TRUE(list.RequestThumbnails(32, 32, &done, CountDone));
        list.Idle();
        list.Clear();
        EXPECT_EQ(list.GetCount(), 0);
        ASSERT_TRUE(list.RequestThumbnails(32, 32, &done, CountDone) == false);
        PutRaw("d.q7f");
        ASSERT_TRUE(list.ReadFolder(GetIPManagerPool(), Folder()));
        ASSERT_TRUE(list.RequestThumbnails(32, 32, &done, CountDone));
        list.Idle();
    }
    EXPECT_EQ(done, 2);
}

struct StepLog {
    std::vector<std::string> steps;
    int refuseAt = -1;
    std::string refuseName;
    int sleepMs = 0;
};

bool Step(void* context, FImageFileListEntry* e)
{
    auto* log = static_cast<StepLog*>(context);
    log->steps.push_back(e != nullptr ? N(e->m_usFileName) : "(null)");
    if (log->sleepMs > 0)
        std::this_thread::sleep_for(std::chrono::milliseconds(log->sleepMs));
    return int(log->steps.size()) != log->refuseAt;
}

bool Approve(void* context, FImageFileListEntry* e)
{
    auto* log = static_cast<StepLog*>(context);
    log->steps.push_back("ask " + N(e->m_usFileName));
    return N(e->m_usFileName) != log->refuseName;
}

TEST(ListBatch, BudgetPerIdleAndARefusingStep)
{
    FImageFileList list(nullptr);
    for (int i = 0; i < 10; ++i)
        list.Append(Make({.name = ("e" + std::to_string(i) + ".q7f").c_str(), .selected = true}));
    StepLog log;
    log.sleepMs = 3;
    // Lock on entries whose files do not exist: each step still reports.
    ASSERT_TRUE(list.LockSelected(true, &log, Step));
    EXPECT_EQ(list.m_eBatch, kBatchLock);
    std::vector<size_t> perIdle;
    while (list.IsBatchRunning()) {
        const size_t before = log.steps.size();
        list.Idle();
        perIdle.push_back(log.steps.size() - before);
    }
    EXPECT_EQ(log.steps.size(), 10u);
    for (size_t n : perIdle) {
        EXPECT_GE(n, 1u);
        EXPECT_LE(n, 3u); // 3 ms each against 8 ms
    }

    StepLog refusing;
    refusing.refuseAt = 2;
    ASSERT_TRUE(list.LockSelected(true, &refusing, Step));
    while (list.IsBatchRunning())
        list.Idle();
    EXPECT_EQ(refusing.steps.size(), 2u);
    EXPECT_EQ(list.m_pBatchEntry, nullptr);
    EXPECT_EQ(list.m_pfnAfterEach, nullptr);

    // Nothing to change, nothing selected, or no pool: no batch.
    for (FImageFileListEntry* e = list.m_pHead; e != nullptr; e = e->m_pNext)
        e->m_bMarked = true;
    EXPECT_FALSE(list.MarkSelected(reinterpret_cast<FIPManager*>(&list), true, &log, Step));
    EXPECT_FALSE(list.IsBatchRunning());
    EXPECT_FALSE(list.MarkSelected(nullptr, false, &log, Step));
    for (FImageFileListEntry* e = list.m_pHead; e != nullptr; e = e->m_pNext)
        e->m_bSelected = false;
    EXPECT_FALSE(list.LockSelected(true, &log, Step));
    EXPECT_FALSE(list.DeleteSelected(nullptr, nullptr, &log, Step));
    for (const FImageFileListEntry* e = list.m_pHead; e != nullptr; e = e->m_pNext)
        EXPECT_FALSE(e->m_bPending);
}

// A name at the file system's 255-byte limit is marked and rotated like any
// other; a file whose change cannot be written is handed to the caller once.
TEST_F(ListTest, BatchChangesReachLongNamesAndReportWhatWasNotWritten)
{
    const std::string longName = std::string(255 - 4, 'n') + ".q7f";
    for (const std::string& name : {std::string("a.q7f"), longName, std::string("blocked.q7f")})
        PutRaw(name);
    // A folder where the file's change record would go: nothing can write it.
    FWideString recordPath;
    ASSERT_TRUE(URLToNativePath(BribUndoURL(m_pFolder->URL("blocked.q7f")), recordPath));
    ASSERT_TRUE(std::filesystem::create_directory(N(recordPath)));
    FImageFileList list;
    ASSERT_TRUE(list.ReadFolder(GetIPManagerPool(), Folder()));
    ASSERT_TRUE(list.RequestThumbnails(32, 32, nullptr, nullptr));
    ASSERT_TRUE(DrainQueue(list));
    for (FImageFileListEntry* e = list.m_pHead; e != nullptr; e = e->m_pNext)
        e->m_bSelected = true;

    ASSERT_TRUE(list.MarkSelected(GetIPManagerPool(), true, nullptr, nullptr));
    ASSERT_TRUE(DrainQueue(list));
    ASSERT_TRUE(list.RotateSelected(GetIPManagerPool(), true, nullptr, nullptr, nullptr, nullptr));
    ASSERT_TRUE(DrainQueue(list));
    const std::vector<FWideString> blocked = {m_pFolder->URL("blocked.q7f")};
    EXPECT_EQ(list.TakeUnwrittenChanges(), (std::vector<FWideString>{blocked[0], blocked[0]}));
    EXPECT_TRUE(list.TakeUnwrittenChanges().empty());

    for (const std::string& name : {std::string("a.q7f"), longName, std::string("blocked.q7f")}) {
        SCOPED_TRACE(name.size());
        FImageFileListEntry reread;
        reread.SetURL(m_pFolder->URL(name));
        ASSERT_TRUE(reread.GetProps(GetIPManagerPool()));
        const bool written = name != "blocked.q7f";
        EXPECT_EQ(reread.m_bMarked, written);
        EXPECT_EQ(reread.m_nRotation, written ? 90 : 0);
    }
}

TEST_F(ListTest, MarkRotateAndDeleteBatchesOnFiles)
{
    FScopedEnv dataHome("XDG_DATA_HOME", m_pFolder->NativePath("data"));
    // A picture's turn is kept in the configuration folder.
    FScopedEnv configHome("XDG_CONFIG_HOME", m_pFolder->NativePath("config"));
    for (const char* name : {"a.q7f", "b.q7f", "c.q7f", "d.q7f"})
        PutRaw(name);
    const rawtest::Bytes picture = MakeJpeg(40, 30);
    Write("e.jpg", picture);
    FImageFileList list;
    ASSERT_TRUE(list.ReadFolder(GetIPManagerPool(), Folder()));
    for (FImageFileListEntry* e = list.m_pHead; e != nullptr; e = e->m_pNext)
        e->m_bSelected = true;

    StepLog marks;
    ASSERT_TRUE(list.MarkSelected(GetIPManagerPool(), true, &marks, Step));
    ASSERT_TRUE(DrainQueue(list));
    EXPECT_EQ(marks.steps, (std::vector<std::string>{"a.q7f", "b.q7f", "c.q7f", "d.q7f"}));
    list.Refilter();
    EXPECT_EQ(list.m_aCounts[kCountMarked].m_nCount, 4);
    EXPECT_FALSE(list.MarkSelected(GetIPManagerPool(), true, &marks, Step));

    // Rotation needs a thumbnail request first; the refused image gets no step.
    ASSERT_TRUE(list.RequestThumbnails(32, 32, nullptr, nullptr));
    ASSERT_TRUE(DrainQueue(list));
    StepLog rotations;
    rotations.refuseName = "b.q7f";
    ASSERT_TRUE(list.RotateSelected(GetIPManagerPool(), true, &rotations, Approve, &rotations, Step));
    ASSERT_TRUE(DrainQueue(list));
    EXPECT_EQ(rotations.steps,
              (std::vector<std::string>{"ask a.q7f", "a.q7f", "ask b.q7f", "ask c.q7f", "c.q7f", "ask d.q7f",
                                        "d.q7f", "ask e.jpg", "e.jpg"}));
    EXPECT_EQ(list.FindByURL(m_pFolder->URL("a.q7f"))->m_nRotation, 90);
    EXPECT_EQ(list.FindByURL(m_pFolder->URL("b.q7f"))->m_nRotation, 0);
    // The picture turns without being written.
    const FImageFileListEntry* turned = list.FindByURL(m_pFolder->URL("e.jpg"));
    EXPECT_EQ(turned->m_nRotation, 90);
    EXPECT_EQ(turned->m_nCols, 30);
    EXPECT_EQ(turned->m_nThumbCols, 24);
    std::ifstream stored(m_pFolder->NativePath("e.jpg"), std::ios::binary);
    EXPECT_EQ(rawtest::Bytes(std::istreambuf_iterator<char>(stored), {}), picture);

    // Delete: asked before the file is touched; a refusal keeps file and entry; a locked
    // entry is not even a candidate.
    ASSERT_TRUE(list.FindByURL(m_pFolder->URL("c.q7f"))->SetLock(true));
    StepLog deletes;
    deletes.refuseName = "d.q7f";
    ASSERT_TRUE(list.DeleteSelected(&deletes, Approve, &deletes, Step));
    ASSERT_TRUE(DrainQueue(list));
    EXPECT_EQ(deletes.steps, (std::vector<std::string>{"ask a.q7f", "(null)", "ask b.q7f", "(null)",
                                                       "ask d.q7f", "ask e.jpg", "(null)"}));
    EXPECT_EQ(Names(list), (std::vector<std::string>{"c.q7f", "d.q7f"}));
    EXPECT_TRUE(m_pFolder->Exists("d.q7f"));
    EXPECT_FALSE(m_pFolder->Exists("a.q7f"));
    EXPECT_EQ(list.m_aCounts[kCountAll].m_nCount, 2);
    ExpectConsistentChain(list);

    // A delete that fails reports the entry itself and keeps it.
    std::filesystem::remove(m_pFolder->NativePath("d.q7f"));
    StepLog failing;
    ASSERT_TRUE(list.DeleteUnlockedRaw(nullptr, nullptr, &failing, Step));
    ASSERT_TRUE(DrainQueue(list));
    EXPECT_EQ(failing.steps, (std::vector<std::string>{"d.q7f"}));
    EXPECT_EQ(list.GetCount(), 2);
}

struct ScanHook {
    FImageFileList* list = nullptr;
    std::string removeFolder;
    int removeAfter = -1;
};

void OnScanProgress(void* context, int placed)
{
    auto* hook = static_cast<ScanHook*>(context);
    if (placed == hook->removeAfter)
        std::filesystem::remove_all(hook->removeFolder);
}

TEST_F(ListTest, ScanFillsTheListAndSurvivesAVanishingFolder)
{
    for (int i = 0; i < 30; ++i)
        PutRaw("f" + std::to_string(100 + i) + ".q7f");
    Write("bad.q7f", rawtest::Bytes(64, 1));
    FImageFileList list;
    ASSERT_TRUE(list.StartScan(GetIPManagerPool(), Folder()));
    EXPECT_FALSE(list.StartScan(GetIPManagerPool(), Folder()));
    while (!list.IsScanDone())
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    EXPECT_EQ(list.GetCount(), 31);
    EXPECT_EQ(list.m_aCounts[kCountVisible].m_nCount, 31);
    EXPECT_EQ(N(list.m_pHead->m_usFileName), "bad.q7f");
    EXPECT_TRUE(list.IsScanDone());

    // The folder disappears half way: the scan ends with what it could read.
    ScanHook hook;
    hook.removeFolder = m_pFolder->NativePath("");
    hook.removeAfter = 5;
    list.m_pfnScanProgress = OnScanProgress;
    list.m_pScanProgressContext = &hook;
    ASSERT_TRUE(list.StartScan(GetIPManagerPool(), Folder()));
    while (!list.IsScanDone())
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    EXPECT_GE(list.GetCount(), 5);
    EXPECT_LE(list.GetCount(), 31);
    EXPECT_FALSE(list.ReadFolder(GetIPManagerPool(), Folder()));
}

TEST_F(ListTest, DestroyingTheListStopsAndJoinsItsScan)
{
    for (int i = 0; i < 200; ++i)
        Write("f" + std::to_string(i) + ".q7f", MakeRaw(RawOptions{.previewCols = 0}));
    for (int round = 0; round < 3; ++round) {
        auto list = std::make_unique<FImageFileList>();
        ASSERT_TRUE(list->StartScan(GetIPManagerPool(), Folder()));
        // The user-interface thread drives the same pool meanwhile.
        FImageFileListEntry entry;
        entry.SetURL(m_pFolder->URL("f1.q7f"));
        EXPECT_TRUE(entry.GetProps(GetIPManagerPool()));
        list.reset();
    }
}

TEST_F(ListTest, TenThousandFilesReadSortedAndFiltered)
{
    RawOptions o;
    o.previewCols = 0;
    const rawtest::Bytes raw = MakeRaw(o);
    const rawtest::Bytes jpeg = MakeJpeg(8, 8);
    for (int i = 0; i < 10000; ++i)
        Write("img" + std::to_string((i * 7919) % 10000) + (i % 10 == 0 ? ".jpg" : ".q7f"),
              i % 10 == 0 ? jpeg : raw);
    FImageFileList list;
    ASSERT_TRUE(list.StartScan(GetIPManagerPool(), Folder()));
    while (!list.IsScanDone())
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    ASSERT_EQ(list.GetCount(), 10000);
    ExpectConsistentChain(list);
    const std::vector<std::string> names = Names(list);
    EXPECT_EQ(names.front(), "img0.jpg");
    EXPECT_EQ(names.back(), "img9999.q7f");
    list.SetBriOnly(true);
    EXPECT_EQ(list.m_aCounts[kCountVisible].m_nCount, 9000);
    EXPECT_EQ(list.m_aCounts[kCountAll].m_nCount, 10000);
    list.SetSort(4, true);
    EXPECT_EQ(N(list.m_pHead->m_usExtension), "jpg");
    EXPECT_EQ(list.m_pHead->m_nVisibleIndex, -1);
    EXPECT_EQ(list.m_pTail->m_nVisibleIndex, 8999);
    ExpectConsistentChain(list);
}

TEST(ListScale, HundredThousandEntriesInMemory)
{
    FImageFileList list(nullptr);
    for (int i = 0; i < 100000; ++i)
        list.Append(Make({.name = ("n" + std::to_string((i * 7919) % 100000) + ".q7f").c_str(),
                          .marked = i % 3 == 0,
                          .size = 3000000}));
    list.SetSort(1, false);
    EXPECT_EQ(N(list.m_pHead->m_usFileName), "n0.q7f");
    list.SetFilterMethod(2);
    EXPECT_EQ(list.m_aCounts[kCountVisible].m_nCount, 33334);
    EXPECT_EQ(list.m_aCounts[kCountAll].m_nBytes, 300000000000LL);
    list.SetReverseSort(true);
    EXPECT_EQ(N(list.m_pTail->m_usFileName), "n0.q7f");
    ExpectConsistentChain(list);
}

} // namespace
