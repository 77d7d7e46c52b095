#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "FDebugTrace.h"
#include "FGenericUiWindow.h"
#include "FIUiApp.h"
#include "FIUiPixmap.h"
#include "FImageFileList.h"
#include "FProbeObject.h"
#include "FPropList.h"
#include "FUiFont.h"
#include "FUiScrollbar.h"
#include "FUiThumbnails.h"
#include "ReviewDisplayTestSupport.h"
#include "ThumbnailsTestSupport.h"

namespace
{

using namespace ThumbColour;

// The list window used by most tests: a 146 x 80 view with a border of 1 and a 13-pixel
// scroll bar at x 132 leaves 129 pixels, 4 Large columns (30 + 2) and 2 rows.
constexpr int kDx = 146;
constexpr int kDy = 80;

struct ListRun : ThumbRun {
    explicit ListRun(int cells = 0, int dx = kDx, int dy = kDy) : ThumbRun(ListTag(), dx, dy)
    {
        if (view)
            Fill(cells);
    }
    // A click in the middle of the cell with that index.
    void Click(int index, bool ctrl = false, bool shift = false)
    {
        const FRect r = view->GetCell(index)->rect;
        view->MouseDown(r.left + 5, r.top + 5, ctrl, shift);
    }
    std::string Selected() const
    {
        std::string names;
        for (ThumbnailCell* c = view->GetFirstCell(); c; c = c->next)
            names += c->entry->m_bSelected ? std::string(c->entry->m_usFileName.GetNarrow()) : "";
        return names;
    }
    FUiScrollbar* Bar() const { return dynamic_cast<FUiScrollbar*>(view->GetScrollbar()); }
    std::string Set() const
    {
        return std::to_string(Bar()->GetSurface()) + "," + std::to_string(Bar()->GetWindowLength()) + "," +
               std::to_string(Bar()->GetOffset());
    }
};

std::string RectText(const FRect& r)
{
    return std::to_string(r.left) + "," + std::to_string(r.top) + "," + std::to_string(r.right) + "," +
           std::to_string(r.bottom);
}

// The text as the view's font renders it lies at (x, y) in black over `background`, and the
// column after it is background.
void ExpectText(ThumbRun& t, const std::string& text, int x, int y, const std::string& background,
                int splitY = 1 << 20, const std::string& below = "")
{
    FIUiFont* font = t.run->GetApp()->GetAppFont(FWideString("Body"));
    FIUiPixmap* p = font->RenderText(nullptr, FWideString(text.c_str()), false);
    ASSERT_NE(p, nullptr);
    t.Pixel(0, 0);
    for (int row = 0; row < p->GetHeight(); ++row) {
        for (int col = 0; col <= p->GetWidth(); ++col) {
            const bool ink = col < p->GetWidth() && p->GetAlpha(col, row) == 255;
            EXPECT_EQ(DrawnPixel(*t.run, x + col, y + row), ink                ? "0,0,0"
                                                            : y + row < splitY ? background
                                                                               : below)
                << text << " at " << col << "," << row;
        }
    }
    ReleaseUiPixmap(p);
}

// A cell entry with a thumbnail of that size in (1, 200, 1).
FImageFileListEntry WithThumbnail(const std::string& name, int w, int h)
{
    FImageFileListEntry entry = ThumbRun::Entry(name);
    entry.m_pThumbnail = new FTestImage(w, h, FUiColor(1, 200, 1, 255));
    return entry;
}

// ---- Set-up ----

TEST(ThumbnailsInit, RefusesBadScripts)
{
    struct Case {
        const char* drop;
        const char* extra;
    } cases[] = {
        {"AppFont", ""},
        {"AppFont", R"(AppFont="Nope")"},
        {"File_LargeFrame", ""},
        {"File_MarkIcon", ""},
        {"File_MediumInvalid", R"(File_MediumInvalid="missing.png")"},
        {"MediumThumbnailImageSize", ""},
        {"SmallThumbnailImageCenter", ""},
        {"DetailedHighlightOffset", ""},
        {"LargeMargin", R"(LargeMargin="-3")"},
        {"FrameColor", ""},
        {"FillColor", ""},
        {"FrameThickness", ""},
        {"SCROLLBAR", ""},
        // The image must be smaller than the frame on both axes, its centre inside it.
        {"LargeThumbnailImageSize", R"(LargeThumbnailImageSize="30")"},
        {"DetailedThumbnailImageSize", R"(DetailedThumbnailImageSize="40")"},
        {"MediumThumbnailImageCenter", R"(MediumThumbnailImageCenter="24,5")"},
        {"SmallThumbnailImageCenter", R"(SmallThumbnailImageCenter="3,-1")"},
    };
    for (const Case& c : cases) {
        ThumbRun t(ListTag(c.extra, c.drop), kDx, kDy);
        EXPECT_EQ(t.view, nullptr) << c.drop << " " << c.extra;
    }
    ThumbRun good(ListTag(), kDx, kDy);
    EXPECT_NE(good.view, nullptr);
}

TEST(ThumbnailsInit, MinimumSizeAndStartMode)
{
    {
        ThumbRun wide(ListTag("", "", 60, 10), 200, kDy);
        EXPECT_EQ(wide.view->GetLayoutObject(true)->GetMinSize(), 61);
    }
    ListRun t;
    ASSERT_NE(t.view, nullptr);
    // Scroll bar 13 + Large frame 30 + 2 x border 1 + margin 2 + 3; height 30 + 2 + 2 + 2.
    EXPECT_EQ(t.view->GetLayoutObject(true)->GetMinSize(), 50);
    EXPECT_EQ(t.view->GetLayoutObject(false)->GetMinSize(), 36);

    // Without stored state a list starts Large and says so, size first.
    EXPECT_EQ(t.view->GetSizeMode(), FUiThumbnails::kLarge);
    std::string startup;
    for (const FProbeRecord& r : t.probe->GetRecords())
        startup += r.message + ";";
    EXPECT_NE(startup.find("ON_THUMBNAIL_SIZE;ON_LARGE_THUMBNAILS;"), std::string::npos) << startup;
    t.Send("Post Creation Initialization");
    EXPECT_EQ(t.Events(), "ON_THUMBNAIL_SIZE=20,ON_LARGE_THUMBNAILS");
    t.run.reset();

    // A single cell takes its start mode from the script, Medium for a name it does not know.
    for (auto [name, mode] : {std::pair{"Small", 1}, {"Detailed", 4}, {"Huge", 2}}) {
        ThumbRun single(SingleTag(std::string("ThumbnailSize=\"") + name + "\""), 300, 60);
        ASSERT_NE(single.view, nullptr);
        EXPECT_EQ(single.view->GetSizeMode(), mode) << name;
        EXPECT_EQ(single.view->GetScrollbar(), nullptr);
    }
}

TEST(ThumbnailsInit, SizeIsKeptBetweenRuns)
{
    std::string state;
    {
        ThumbRun t(ListTag(), kDx, kDy, true);
        ASSERT_NE(t.view, nullptr);
        // Stored state without the keys: Medium.
        EXPECT_EQ(t.view->GetSizeMode(), FUiThumbnails::kMedium);
        FWideString detailed("Detailed");
        t.Send("ThumbnailSize", &detailed);
        t.run->Finish();
        std::unique_ptr<FPropList> file = t.run->ReadStateFile();
        ASSERT_NE(file, nullptr);
        FILE* in = fopen((t.run->GetAppDataPath() + "/TestApp.state.xml").c_str(), "rb");
        ASSERT_NE(in, nullptr);
        char buffer[4096];
        const size_t n = fread(buffer, 1, sizeof buffer, in);
        fclose(in);
        // UTF-16: the ASCII of it is every other byte.
        for (size_t i = 2; i < n; i += 2)
            state += buffer[i];
    }
    EXPECT_NE(state.find("ThumbnailSize=\"30\""), std::string::npos) << state;
    EXPECT_NE(state.find("Detailed=\"T\""), std::string::npos) << state;
}

// ---- Grid and scroll bar ----

TEST(ThumbnailsGrid, ScrollbarValues)
{
    {
        // Eight cells fit: the bar is told 10 of 10 and the first row goes back to 0.
        ListRun eight(8);
        EXPECT_EQ(eight.Set(), "10,10,0");
        EXPECT_EQ(eight.view->GetFirstRow(), 0);
    }
    ListRun t(10);
    ASSERT_NE(t.view, nullptr);
    EXPECT_EQ(t.view->GetColumns(), 4);
    EXPECT_EQ(t.view->GetVisibleRows(), 2);
    EXPECT_EQ(t.Set(), "3,2,0");
    EXPECT_EQ(RectText(t.view->GetCell(0)->rect), "3,3,33,33");
    EXPECT_EQ(RectText(t.view->GetCell(5)->rect), "35,35,65,65");
    int row = 1;
    t.Send("Scroll", &row);
    EXPECT_EQ(RectText(t.view->GetCell(5)->rect), "35,3,65,33");
    // A later update holds the first row within rows - visible.
    row = 7;
    t.Send("Scroll", &row);
    FImageFileListEntry more = ThumbRun::Entry("k");
    t.Send("NewThumbnail", &more);
    EXPECT_EQ(t.view->GetFirstRow(), 1);
    EXPECT_EQ(t.Set(), "3,2,1");
}

TEST(ThumbnailsGrid, LayoutAndScrollbarCountTheSameColumns)
{
    // 127 pixels (4 x 32 - 1) hold 3 columns for both; 128 hold 4. With 10 cells in 3 columns
    // the last row (3) is reachable: scrolled to the end, cell 9 lies inside the view.
    {
        ListRun exact(10, kDx - 1);
        EXPECT_EQ(exact.view->GetColumns(), 4);
        EXPECT_EQ(exact.Set(), "3,2,0");
    }
    ListRun narrow(10, kDx - 2);
    EXPECT_EQ(narrow.view->GetColumns(), 3);
    EXPECT_EQ(narrow.Set(), "4,2,0");
    int row = 2;
    narrow.Send("Scroll", &row);
    const FRect last = narrow.view->GetCell(9)->rect;
    EXPECT_EQ(RectText(last), "3,35,33,65");
}

TEST(ThumbnailsGrid, NoDivisionByZeroAtAnyWidthOrMode)
{
    // Borders wider than the view leave no room: one column, one row, and every operation
    // still works in every mode.
    for (int thickness : {0, 1, 40, 500}) {
        ThumbRun thick(ListTag("FrameThickness=\"" + std::to_string(thickness) + "\"", "FrameThickness"), kDx,
                       kDy);
        ASSERT_NE(thick.view, nullptr) << thickness;
        thick.Fill(9);
        for (const char* mode : {"Small", "Medium", "Detailed", "Large"}) {
            FWideString name(mode);
            thick.Send("ThumbnailSize", &name);
            EXPECT_GE(thick.view->GetColumns(), 1);
            int row = 3;
            thick.Send("Scroll", &row);
            thick.view->KeyEvent(19, false, false);
            thick.view->MouseDown(20, 20, false, true);
            thick.Pixel(10, 10);
        }
    }
}

// ---- Cells ----

TEST(ThumbnailsCells, InsertReplaceAndRemove)
{
    ListRun t(3);
    // By visible index: before the first cell whose index is not smaller.
    FImageFileListEntry z = ThumbRun::Entry("z", 1);
    t.Send("NewThumbnail", &z);
    std::string order;
    for (ThumbnailCell* c = t.view->GetFirstCell(); c; c = c->next)
        order += std::string(c->entry->m_usFileName.GetNarrow()) + std::to_string(c->index);
    EXPECT_EQ(order, "a0z1b2c3");
    EXPECT_EQ(RectText(t.view->GetCell(2)->rect), "67,3,97,33");

    // A shown URL is replaced in place and takes the new entry's selection.
    t.Click(2);
    FImageFileListEntry b = ThumbRun::Entry("b");
    b.m_bMarked = true;
    t.Send("NewThumbnail", &b);
    EXPECT_EQ(t.view->GetCellCount(), 4);
    EXPECT_TRUE(t.view->GetCell(2)->entry->m_bMarked);
    EXPECT_FALSE(t.view->GetCell(2)->entry->m_bSelected);
    EXPECT_EQ(RectText(t.view->GetCell(2)->rect), "67,3,97,33");

    // Removal: only an exact URL removes a cell; the current cell goes for any case.
    t.Click(3);
    FImageFileListEntry upper = ThumbRun::Entry("C");
    t.Send("RemoveThumbnail", &upper);
    EXPECT_EQ(t.view->GetCellCount(), 4);
    EXPECT_EQ(t.view->GetCurrentCell(), nullptr);
    t.Send("RemoveThumbnail", &z);
    EXPECT_EQ(t.view->GetCellCount(), 3);
    EXPECT_EQ(RectText(t.view->GetCell(1)->rect), "35,3,65,33");

    t.Events();
    // Messages with data refuse a null pointer; a list message without a list empties the view.
    EXPECT_FALSE(t.Send("NewThumbnail"));
    EXPECT_FALSE(t.Send("ThumbnailSize"));
    EXPECT_TRUE(t.Send("NewThumbnailList"));
    EXPECT_EQ(t.view->GetCellCount(), 0);
    EXPECT_EQ(t.Events(), "");

    // A single cell always holds the latest entry alone.
    t.run.reset();
    ThumbRun single(SingleTag(), 300, 60);
    for (const char* name : {"a", "b", "c"}) {
        FImageFileListEntry e = ThumbRun::Entry(name);
        single.Send("NewThumbnail", &e);
    }
    EXPECT_EQ(single.view->GetCellCount(), 1);
    FWideString url;
    EXPECT_TRUE(single.view->GetDragData(-50, -50, false, false, url));
    EXPECT_EQ(std::string(url.GetNarrow()), "file:///p/c");
    FWideString large("Large");
    EXPECT_FALSE(single.Send("ThumbnailSize", &large));
}

TEST(ThumbnailsCells, SizeChangeReleasesThumbnailsOnlyOnAChange)
{
    ListRun t;
    FImageFileListEntry e = WithThumbnail("a", 4, 4);
    t.Send("NewThumbnail", &e);
    t.Events();
    FWideString large("Large");
    EXPECT_TRUE(t.Send("ThumbnailSize", &large));
    EXPECT_EQ(t.Events(), "");
    EXPECT_NE(t.view->GetCell(0)->entry->m_pThumbnail, nullptr);
    FWideString bogus("Tiny");
    EXPECT_TRUE(t.Send("ThumbnailSize", &bogus));
    EXPECT_EQ(t.Events(), "");
    FWideString small("Small");
    t.Send("ThumbnailSize", &small);
    EXPECT_EQ(t.Events(), "ON_THUMBNAIL_SIZE=10,ON_SMALL_THUMBNAILS");
    EXPECT_EQ(t.view->GetCell(0)->entry->m_pThumbnail, nullptr);
    EXPECT_EQ(RectText(t.view->GetCell(0)->rect), "3,3,19,19");
}

TEST(ThumbnailsCells, HundredThousandCells)
{
    FImageFileList list;
    for (int i = 0; i < 100000; ++i) {
        auto* entry = new FImageFileListEntry;
        entry->SetURL(FWideString(("file:///p/" + std::to_string(i) + ".jpg").c_str()));
        entry->m_bVisible = i % 2 == 0;
        list.Append(entry);
    }
    ListRun t;
    t.Send("NewThumbnailList", &list);
    EXPECT_EQ(t.view->GetCellCount(), 50000);
    EXPECT_EQ(t.Set(), "12500,2,0");
    int row = 12498;
    t.Send("Scroll", &row);
    EXPECT_EQ(t.Pixel(4, 4), kLargeFrame);
    t.Send("SelectAll");
    EXPECT_EQ(t.Events().size() > 50000, true);
    t.Send("RemoveAll");
    EXPECT_EQ(t.view->GetCellCount(), 0);
    EXPECT_EQ(t.Set(), "10,10,0");
}

// ---- Selection ----

TEST(ThumbnailsSelection, ShiftRangesKeepTheirAnchor)
{
    ListRun t(10);
    // Before any click the range starts at the first cell.
    t.Click(2, false, true);
    EXPECT_EQ(t.Events(), "SEL_LIST=[a+b+c]");
    t.Send("DeselectAll");
    t.Events();
    t.Click(5);
    EXPECT_EQ(t.Events(), "DESEL_LIST=[],SEL=f,IFLE=f");
    t.Click(2, false, true);
    EXPECT_EQ(t.Events(), "SEL_LIST=[c+d+e]");
    t.Click(8, false, true);
    EXPECT_EQ(t.Events(), "SEL_LIST=[g+h+i]");
    EXPECT_EQ(t.Selected(), "cdefghi");
    EXPECT_EQ(t.view->GetAnchorCell(), t.view->GetCell(5));
    // Shift or Ctrl on a selected cell deselects it alone.
    t.Click(3, false, true);
    EXPECT_EQ(t.Events(), "DESEL=d");
    t.Click(4, true, false);
    EXPECT_EQ(t.Events(), "DESEL=e");
    EXPECT_EQ(t.view->GetAnchorCell(), t.view->GetCell(5));
}

TEST(ThumbnailsSelection, PlainAndCtrlClicks)
{
    ListRun t(6);
    t.Click(1);
    t.Events();
    // The only selected cell again: nothing.
    t.Click(1);
    EXPECT_EQ(t.Events(), "");
    // One other selected: it goes without a list.
    t.Click(4);
    EXPECT_EQ(t.Events(), "DESEL_NU=b,SEL=e,IFLE=e");
    // Ctrl adds, keeping the others, and moves the anchor.
    t.Click(0, true);
    t.Click(2, true);
    EXPECT_EQ(t.Events(), "SEL=a,IFLE=a,SEL=c,IFLE=c");
    EXPECT_EQ(t.view->GetAnchorCell(), t.view->GetCell(2));
    // Three selected: a list of all three, then the clicked cell.
    t.Click(5);
    EXPECT_EQ(t.Events(), "DESEL_LIST=[a+c+e],SEL=f,IFLE=f");
    // Outside the cells: Ctrl keeps everything, Shift or nothing deselects.
    t.view->MouseDown(140 - 20, 75, true, false);
    EXPECT_EQ(t.Events(), "");
    EXPECT_EQ(t.Selected(), "f");
    t.view->MouseDown(120, 75, false, true);
    EXPECT_EQ(t.Events(), "DESEL_LIST=[f]");
    // Double clicks: on a cell only the event; outside with Ctrl nothing, plain deselects.
    t.Click(0);
    t.Events();
    const FRect r = t.view->GetCell(0)->rect;
    t.view->MouseDoubleClick(r.left + 1, r.top + 1, false, false);
    t.view->MouseDoubleClick(120, 75, true, false);
    EXPECT_EQ(t.Events(), "DCLICK");
    t.view->MouseDoubleClick(120, 75, false, false);
    EXPECT_EQ(t.Events(), "DESEL_LIST=[a]");
}

TEST(ThumbnailsSelection, RemovedAnchorIsForgotten)
{
    ListRun t(6);
    t.Click(4);
    FImageFileListEntry e = ThumbRun::Entry("e");
    t.Send("RemoveThumbnail", &e);
    EXPECT_EQ(t.view->GetAnchorCell(), nullptr);
    EXPECT_EQ(t.view->GetCurrentCell(), nullptr);
    t.Events();
    t.Click(2, false, true);
    EXPECT_EQ(t.Events(), "SEL_LIST=[a+b+c]");
    t.Send("RemoveAll");
    EXPECT_EQ(t.view->GetAnchorCell(), nullptr);
    EXPECT_EQ(t.Events(), "");
}

TEST(ThumbnailsSelection, Keys)
{
    ListRun t(10);
    // Nothing clicked: arrows go to the (vertical) bar, which ignores them; Down scrolls.
    t.view->KeyEvent(145, false, false);
    EXPECT_EQ(t.Events(), "");
    t.view->KeyEvent(19, false, false);
    EXPECT_EQ(t.view->GetFirstRow(), 1);
    t.view->KeyEvent(13, false, false);
    EXPECT_EQ(t.Events(), "RETURN");
    t.view->KeyEvent(13, true, false);
    EXPECT_EQ(t.Events(), "");

    t.Click(8);
    t.Click(0, true);
    t.Events();
    t.view->KeyEvent(145, false, false);
    EXPECT_EQ(t.Events(), "DESEL_NU=a,SEL=b,IFLE=b");
    t.view->KeyEvent(146, false, false);
    t.view->KeyEvent(146, false, false);
    EXPECT_EQ(t.Events(), "DESEL_NU=b,SEL=a,IFLE=a");
    EXPECT_EQ(t.Selected(), "ai");
    t.Click(9);
    t.Events();
    t.view->KeyEvent(145, false, false);
    EXPECT_EQ(t.Events(), "");

    t.run.reset();
    ListRun empty;
    empty.view->KeyEvent(13, false, false);
    EXPECT_EQ(empty.Events(), "");
}

// Home and End choose the first and last image as a click would, and scroll to it.
TEST(ThumbnailsSelection, HomeAndEnd)
{
    ListRun t(20);
    t.Click(3);
    t.Events();
    t.view->KeyEvent(2, false, false);
    EXPECT_EQ(t.Selected(), "t");
    EXPECT_GT(t.view->GetFirstRow(), 0);
    t.view->KeyEvent(20, false, false);
    EXPECT_EQ(t.Selected(), "a");
    EXPECT_EQ(t.view->GetFirstRow(), 0);
    EXPECT_NE(t.Events().find("SEL=a"), std::string::npos);
}

TEST(ThumbnailsSelection, Commands)
{
    ListRun t(4);
    t.Send("DeselectAll");
    EXPECT_EQ(t.Events(), "DESEL_LIST=[]");
    t.Click(0);
    t.Click(1, true);
    t.Click(3, true);
    t.Events();
    // One cell newly selected: the pair names it.
    t.Send("SelectAll");
    EXPECT_EQ(t.Events(), "SEL=c,IFLE=c,SEL_LIST=[c]");
    t.Send("SelectAll");
    EXPECT_EQ(t.Events(), "SEL_LIST=[]");
    t.view->GetCell(0)->entry->m_bMarked = true;
    t.view->GetCell(2)->entry->m_bLocked = true;
    t.Send("SelectMarked");
    EXPECT_EQ(t.Events(), "SEL_LIST=[],DESEL_LIST=[b+c+d]");
    t.Send("SelectLocked");
    EXPECT_EQ(t.Events(), "SEL_LIST=[c],DESEL_LIST=[a]");
    t.Send("InvertSelection");
    EXPECT_EQ(t.Events(), "SEL_LIST=[a+b+d],DESEL_LIST=[c]");

    t.run.reset();
    ThumbRun single(SingleTag(), 300, 60);
    EXPECT_TRUE(single.Send("SelectAll"));
    EXPECT_TRUE(single.view->MouseDown(5, 5, false, false));
}

// ---- Drawing ----

TEST(ThumbnailsDraw, BackgroundFrameAndImage)
{
    ListRun t;
    EXPECT_EQ(t.Pixel(0, 40), kBorder);
    EXPECT_EQ(t.Pixel(2, 40), kFill);
    struct Case {
        int w, h;
        bool raw, tiff, jpeg;
        const char* centre;
        const char* left; // pixel (9, 18)
    } cases[] = {
        {20, 20, false, false, false, "1,200,1", "1,200,1"},  // the largest thumbnail
        {21, 20, false, false, false, kInvalid, kLargeFrame}, // one pixel too wide
        {20, 21, false, false, false, kInvalid, kLargeFrame}, // one pixel too high
        {0, 0, true, true, true, kRawIcon, kLargeFrame},      // raw first
        {0, 0, false, true, true, kTiffIcon, kLargeFrame},
        {0, 0, false, false, true, kJpegIcon, kLargeFrame},
        {0, 0, false, false, false, kInvalid, kLargeFrame},
    };
    for (const Case& c : cases) {
        t.Send("RemoveAll");
        FImageFileListEntry e = c.w ? WithThumbnail("a", c.w, c.h) : ThumbRun::Entry("a");
        e.m_bRaw = c.raw;
        e.m_bTiff = c.tiff;
        e.m_bJpeg = c.jpeg;
        t.Send("NewThumbnail", &e);
        EXPECT_EQ(t.Pixel(4, 4), kLargeFrame);
        EXPECT_EQ(t.Pixel(18, 18), c.centre) << c.w << "x" << c.h;
        EXPECT_EQ(t.Pixel(9, 18), c.left) << c.w << "x" << c.h;
    }
    // The 20 x 20 thumbnail spans 8..27 around centre 15 of the cell at 3.
    t.Send("RemoveAll");
    FImageFileListEntry e = WithThumbnail("a", 20, 20);
    t.Send("NewThumbnail", &e);
    EXPECT_EQ(t.Pixel(8, 8), "1,200,1");
    EXPECT_EQ(t.Pixel(27, 27), "1,200,1");
    EXPECT_EQ(t.Pixel(7, 8), kLargeFrame);
    EXPECT_EQ(t.Pixel(28, 27), kLargeFrame);
}

// Only what changed is redrawn after a removal: the place the last cell left must be among
// it, or a ghost of that cell stays until the whole window is drawn again.
TEST(ThumbnailsDraw, ARemovalRedrawsThePlaceTheLastCellLeft)
{
    ListRun t(3);
    const FRect last = t.view->GetCell(2)->rect;
    const int x = last.left + 4, y = last.top + 4;
    EXPECT_EQ(t.Pixel(x, y), kLargeFrame);
    FImageFileListEntry a = ThumbRun::Entry("a");
    t.Send("RemoveThumbnail", &a);
    auto* window = dynamic_cast<FGenericUiWindow*>(t.run->GetApp()->FindUiWindow(FWideString("W")));
    ASSERT_NE(window, nullptr);
    window->UpdateIfInvalid();
    FUiColor colour;
    window->GetWindowPixmap()->GetPixel(x, y, colour);
    EXPECT_EQ(std::to_string(colour.red) + "," + std::to_string(colour.green) + "," +
                  std::to_string(colour.blue),
              kFill);
}

TEST(ThumbnailsDraw, StateIconsAndHighlight)
{
    ListRun t;
    // Landscape 20 x 10 at 8,13: icons along the band above, 4 + 4 / 4 apart, lock first.
    FImageFileListEntry e = WithThumbnail("a", 20, 10);
    e.m_bLocked = e.m_bMarked = e.m_bTransferred = e.m_bCamera = true;
    t.Send("NewThumbnail", &e);
    EXPECT_EQ(t.Pixel(8, 6), kLock);
    EXPECT_EQ(t.Pixel(11, 9), kLock);
    EXPECT_EQ(t.Pixel(12, 6), kLargeFrame);
    EXPECT_EQ(t.Pixel(13, 6), kMark);
    EXPECT_EQ(t.Pixel(18, 6), kTransfer);
    // On a computer "downloaded" says nothing: no mark for it.
    e.m_bCamera = false;
    t.Send("NewThumbnail", &e);
    EXPECT_EQ(t.Pixel(18, 6), kLargeFrame);
    // Without the lock the mark takes its place.
    FImageFileListEntry unlocked = WithThumbnail("a", 20, 10);
    unlocked.m_bMarked = true;
    t.Send("NewThumbnail", &unlocked);
    EXPECT_EQ(t.Pixel(8, 6), kMark);
    EXPECT_EQ(t.Pixel(13, 6), kLargeFrame);

    // Portrait 10 x 20 at 13,8: down the band right of the image.
    FImageFileListEntry portrait = WithThumbnail("a", 10, 20);
    portrait.m_bLocked = portrait.m_bMarked = true;
    portrait.m_bRaw = true;
    t.Send("NewThumbnail", &portrait);
    EXPECT_EQ(t.Pixel(26, 11), kLock);
    EXPECT_EQ(t.Pixel(26, 12), kLargeFrame);
    EXPECT_EQ(t.Pixel(26, 13), kMark);
    // The raw badge: right - 2 - 5 - 1 - 2 = 23, top + 2 + 2 = 7 in Large.
    EXPECT_EQ(t.Pixel(23, 7), kRawBadge);
    EXPECT_EQ(t.Pixel(22, 7), kLargeFrame);

    // Selected: the highlight lies over everything, one pixel out.
    t.Click(0);
    for (auto [x, y] : {std::pair{2, 2}, {26, 11}, {18, 18}, {23, 7}, {33, 33}})
        EXPECT_EQ(t.Pixel(x, y), kHighlight) << x << "," << y;
    EXPECT_EQ(t.Pixel(34, 34), kFill);

    // Small mode: neither texts nor icons nor badge.
    FWideString small("Small");
    t.Send("ThumbnailSize", &small);
    t.Send("DeselectAll");
    for (int y = 3; y < 19; ++y) {
        for (int x = 3; x < 19; ++x) {
            const std::string p = t.Pixel(x, y);
            EXPECT_TRUE(p == kSmallFrame || p == kRawIcon) << x << "," << y << " " << p;
        }
    }
}

TEST(ThumbnailsDraw, NamesAreShortened)
{
    // A landscape image leaves a gap of 5 and room for 25 pixels: five characters (4 each
    // and a column either side), or two and "...".
    struct Case {
        const char* name;
        const char* drawn;
    } cases[] = {{"abcde", "abcde"}, {"abcdef", "ab..."}, {"abcdefghijk", "ab..."}};
    for (const Case& c : cases) {
        ListRun t;
        FImageFileListEntry e = WithThumbnail(c.name, 20, 10);
        t.Send("NewThumbnail", &e);
        ExpectText(t, c.drawn, 5, 25, kLargeFrame);
    }
}

TEST(ThumbnailsDraw, DetailedCaptureLines)
{
    ThumbRun t(ListTag(), 260, 100);
    FWideString detailed("Detailed");
    t.Send("ThumbnailSize", &detailed);
    FImageFileListEntry e = ThumbRun::Entry("a");
    e.m_usDate = "2026";
    e.m_usTime = "12345678901234567";
    e.m_usTimeOfDay = "10:11";
    e.m_usAperture = "5.6";
    e.m_usShutter = "1/125";
    e.m_usIso = "100";
    e.m_usResolution = " ";
    e.m_nFileSize = 2048;
    t.Send("NewThumbnail", &e);
    const std::string frame = kDetailedFrame;
    // Text column at 3 + 127, from 3 + 10, 8 pixels a line.
    ExpectText(t, "2026", 130, 13, frame);
    ExpectText(t, "12345678901234567", 130, 21, frame);
    ExpectText(t, "f/5.6", 130, 29, frame);
    // The cell ends at 43; the lines go on over the view's fill.
    ExpectText(t, "1/125s", 130, 37, frame, 43, kFill);

    // A time too wide for the column gives the short form; "BULB" anywhere gives the bulb
    // text; a blank aperture is a skipped line.
    e.m_usTime = "123456789012345678";
    e.m_usAperture = " ";
    e.m_usShutter = "x BULB";
    t.Send("NewThumbnail", &e);
    ExpectText(t, "10:11", 130, 21, frame);
    ExpectText(t, "BULB", 130, 37, frame, 43, kFill);
    FWideString size;
    size.SetByteSize(2048);
    ExpectText(t, "100", 130, 45, kFill);
    ExpectText(t, size.GetNarrow(), 130, 61, kFill);
}

TEST(ThumbnailsDraw, SingleCellAndVisibility)
{
    {
        // A single cell lies at the view's corner, with no border or fill of its own.
        ThumbRun single(SingleTag("ThumbnailSize=\"Large\""), 300, 60);
        FImageFileListEntry e = ThumbRun::Entry("a");
        single.Send("NewThumbnail", &e);
        EXPECT_EQ(RectText(single.view->GetCell(0)->rect), "0,0,30,30");
        EXPECT_EQ(single.Pixel(0, 0), kLargeFrame);
        EXPECT_EQ(single.Pixel(31, 10), "255,255,255");
        EXPECT_EQ(single.Pixel(15, 15), kInvalid);
    }
    // Hidden: nothing drawn, no hit, clicks not taken.
    ListRun t(2);
    bool shown = false;
    EXPECT_TRUE(t.Send("Visibility", &shown));
    EXPECT_EQ(t.Pixel(4, 4), "255,255,255");
    EXPECT_EQ(t.view->HitTest(4, 4), nullptr);
    EXPECT_FALSE(t.view->MouseDown(4, 4, false, false));
    shown = true;
    t.Send("Visibility", &shown);
    EXPECT_EQ(t.Pixel(4, 4), kLargeFrame);
    EXPECT_EQ(t.view->HitTest(4, 4), t.view);
    EXPECT_EQ(t.view->HitTest(kDx - 5, 10), t.view->GetScrollbar());
}

} // namespace
