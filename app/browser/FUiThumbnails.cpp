#include "FUiThumbnails.h"

#include <algorithm>
#include <new>
#include <string>

#include "FDebugTrace.h"
#include "FIUiApp.h"
#include "FIUiPixmap.h"
#include "FIUiWindow.h"
#include "FImageFileList.h"
#include "FImageFileListEntry.h"
#include "FPropList.h"
#include "FReviewDisplayWidgets.h"
#include "FUiWidgetFrame.h"

namespace
{

class FUiThumbnailsCreator final : public FUiWidgetCreator<FUiThumbnails>
{
};

class FUiSingleThumbnailCreator final : public FUiWidgetCreator<FUiThumbnails>
{
};

// Skin records are kept Large, Medium, Small, Detailed; modes count None, Small,
// Medium, Large, Detailed.
constexpr int kSkinOfMode[5] = {-1, 2, 1, 0, 3};
const char* const kSkinNames[4] = {"Large", "Medium", "Small", "Detailed"};
const char* const kModeNames[5] = {"", "Small", "Medium", "Large", "Detailed"};
const char* const kModeEvents[4] = {"ON_SMALL_THUMBNAILS", "ON_MEDIUM_THUMBNAILS", "ON_LARGE_THUMBNAILS",
                                    "ON_DETAILED_THUMBNAILS"};

std::string Key(const char* format, const char* mode)
{
    std::string key(format);
    key.replace(key.find("%s"), 2, mode);
    return key;
}

bool SameRect(const FRect& a, const FRect& b)
{
    return a.left == b.left && a.top == b.top && a.right == b.right && a.bottom == b.bottom;
}

} // namespace

bool RegisterThumbnailsCreators(FIUiObjectFactory* factory)
{
    const bool list = RegisterUiWidgetCreator<FUiThumbnailsCreator>(factory, "THUMBNAIL_LIST");
    const bool single = RegisterUiWidgetCreator<FUiSingleThumbnailCreator>(factory, "THUMBNAIL");
    return list && single;
}

FUiThumbnails::FUiThumbnails(const char* typeName) : FUiObject(typeName)
{
    m_pOnThumbnailSize = AddEvent(FWideString("ON_THUMBNAIL_SIZE"));
    for (int i = 0; i < 4; ++i)
        m_pOnModeEvents[i] = AddEvent(FWideString(kModeEvents[i]));
    m_pOnSelectImage = AddEvent(FWideString("ON_SELECT_IMAGE"));
    m_pOnSelectImageIfle = AddEvent(FWideString("ON_SELECT_IMAGE_IFLE"));
    m_pOnSelectImageList = AddEvent(FWideString("ON_SELECT_IMAGE_LIST"));
    m_pOnDeselectImageList = AddEvent(FWideString("ON_DESELECT_IMAGE_LIST"));
    m_pOnDeselectImage = AddEvent(FWideString("ON_DESELECT_IMAGE"));
    m_pOnDeselectImageNoUpdate = AddEvent(FWideString("ON_DESELECT_IMAGE_NO_UPDATE"));
    m_pOnDoubleClick = AddEvent(FWideString("ON_D-CLICK_IMAGE"));
    m_pOnReturnKey = AddEvent(FWideString("ON_RETURN_KEY_HIT"));
}

FUiThumbnails::~FUiThumbnails()
{
    priRemoveAllCells();
    delete m_pScrollbar;
    for (FIUiPixmap*& composed : m_pFrameOnFill)
        ReleaseUiPixmap(composed);
    for (FThumbnailSkin& skin : m_skins) {
        ReleaseUiPixmap(skin.frame);
        ReleaseUiPixmap(skin.highlight);
        ReleaseUiPixmap(skin.invalid);
        ReleaseUiPixmap(skin.inner);
    }
    for (FIUiPixmap** icon : {&m_pMarkIcon, &m_pLockIcon, &m_pTransferIcon, &m_pRawFrameIcon,
                              &m_pJpegFrameIcon, &m_pTiffFrameIcon, &m_pTiffIcon, &m_pJpegIcon, &m_pRawIcon})
        ReleaseUiPixmap(*icon);
}

// ---- Set-up ----

bool FUiThumbnails::InitUiObject(FIUiApp* app, FIUiWindow* window, FIUiObject* parent, FPropList* tag)
{
    FUiObject::InitUiObject(app, window, parent, tag);
    if (!tag || !app)
        return false;
    const auto displayString = [&](const char* key) -> FIUiMultiLangString* {
        const FWideString name = tag->GetString(key, FWideString());
        return name.IsEmpty() ? nullptr : app->GetDisplayString(name);
    };
    m_pFStopPrefix = displayString("FStopPrefixString");
    m_pSecondsSuffix = displayString("SecondsSuffixString");
    m_pBulbText = displayString("BulbModeFixString");
    if (tag->GetName() == "THUMBNAIL") {
        m_bList = false;
        m_typeName = "THUMBNAIL";
    }
    m_pFont = UseWidgetAppFont(app, this, tag);
    if (!m_pFont) {
        DebugTrace("%s %s: \"AppFont\" is missing or names no application font.\n", m_typeName.c_str(),
                   m_usFullName.GetNarrow());
        return false;
    }

    bool required = true;
    const auto image = [&](const std::string& key, bool need) {
        bool found = false;
        FIUiPixmap* pixmap = LoadPixmapFromTag(tag, key.c_str(), &found);
        if (need && (!found || !pixmap)) {
            DebugTrace("%s %s: required image \"%s\" is missing or does not load.\n", m_typeName.c_str(),
                       m_usFullName.GetNarrow(), key.c_str());
            required = false;
        }
        return pixmap;
    };
    const auto number = [&](const std::string& key) {
        bool found = false;
        const int value = tag->GetInt(FWideString(key.c_str()), 0, &found);
        if (!found) {
            DebugTrace("%s %s: required key \"%s\" is missing.\n", m_typeName.c_str(),
                       m_usFullName.GetNarrow(), key.c_str());
            required = false;
        }
        return value;
    };
    const auto point = [&](const std::string& key, int& x, int& y) {
        bool found = false;
        tag->GetPoint(FWideString(key.c_str()), 0, 0, x, y, &found);
        if (!found) {
            DebugTrace("%s %s: required key \"%s\" is missing.\n", m_typeName.c_str(),
                       m_usFullName.GetNarrow(), key.c_str());
            required = false;
        }
    };

    m_pMarkIcon = image("File_MarkIcon", true);
    m_pLockIcon = image("File_LockIcon", true);
    m_pTransferIcon = image("File_TransferIcon", true);
    m_pRawFrameIcon = image("File_Q7FFrameIcon", false);
    m_pJpegFrameIcon = image("File_JPGFrameIcon", false);
    m_pTiffFrameIcon = image("File_TIFFrameIcon", false);
    m_nFrameIconX = tag->GetInt("FrameTypeIconXOffset", 2);
    m_nFrameIconY = tag->GetInt("FrameTypeIconYOffset", 2);
    for (int i = 0; i < 4; ++i) {
        FThumbnailSkin& skin = m_skins[i];
        const char* mode = kSkinNames[i];
        skin.frame = image(Key("File_%sFrame", mode), true);
        skin.highlight = image(Key("File_%sHighlight", mode), true);
        skin.invalid = image(Key("File_%sInvalid", mode), true);
        skin.thumbSize = number(Key("%sThumbnailImageSize", mode));
        point(Key("%sThumbnailImageCenter", mode), skin.centreX, skin.centreY);
        skin.margin = number(Key("%sMargin", mode));
        point(Key("%sHighlightOffset", mode), skin.highlightX, skin.highlightY);
    }
    m_pTiffIcon = image("File_TIF_Icon", false);
    m_pJpegIcon = image("File_JPG_Icon", false);
    m_pRawIcon = image("File_Q7F_Icon", false);

    for (int i = 0; i < 4; ++i) {
        const FThumbnailSkin& skin = m_skins[i];
        if (!skin.frame || !skin.invalid)
            return false;
        const int w = skin.frame->GetWidth();
        const int h = skin.frame->GetHeight();
        if (skin.thumbSize >= w || skin.thumbSize >= h || skin.centreX < 0 || skin.centreX > w - 1 ||
            skin.centreY < 0 || skin.centreY > h - 1 || skin.margin < 0) {
            DebugTrace("%s %s: the %s skin does not fit its frame (size %d, centre %d,%d, margin %d, frame "
                       "%dx%d).\n",
                       m_typeName.c_str(), m_usFullName.GetNarrow(), kSkinNames[i], skin.thumbSize,
                       skin.centreX, skin.centreY, skin.margin, w, h);
            return false;
        }
    }

    // A stored size that names no mode would leave nothing to draw and no grid to count:
    // the view falls back to Medium.
    if (FPropList* state = app->GetPersistentData(m_usFullName)) {
        const int size = state->GetInt("ThumbnailSize", m_skins[1].thumbSize);
        if (state->GetBool("Detailed", false)) {
            priSetMode(kDetailed);
        } else {
            priSetMode(kMedium);
            for (int mode : {kSmall, kMedium, kLarge}) {
                if (m_skins[kSkinOfMode[mode]].thumbSize == size) {
                    priSetMode(mode);
                    break;
                }
            }
        }
    } else if (m_bList) {
        priSetMode(kLarge);
    } else {
        const FWideString name = tag->GetString("ThumbnailSize", FWideString("Medium"));
        priSetMode(kMedium);
        for (int mode = kSmall; mode <= kDetailed; ++mode) {
            if (name == kModeNames[mode])
                priSetMode(mode);
        }
    }

    FRequiredWidgetKeys keys(tag);
    keys.Layout(m_nMinHSize, m_nMinVSize, m_nHStretch, m_nVStretch);
    if (m_bList) {
        m_frameColor = keys.Color("FrameColor", m_frameColor);
        m_nFrameThickness = keys.Int("FrameThickness");
        m_fillColor = keys.Color("FillColor", m_fillColor);
    }
    if (!keys.AllFound()) {
        DebugTrace("%s %s: a required layout or colour key is missing.\n", m_typeName.c_str(),
                   m_usFullName.GetNarrow());
        return false;
    }
    if (!required)
        return false;
    if (m_nFrameThickness < 0) {
        if (m_bList)
            DebugTrace("%s %s: FrameThickness %d is negative; no border is drawn.\n", m_typeName.c_str(),
                       m_usFullName.GetNarrow(), m_nFrameThickness);
        m_nFrameThickness = 0;
    }
    for (int i = 0; i < 4; ++i) {
        bool found = false;
        m_skins[i].inner = LoadPixmapFromTag(tag, Key("File_%sInnerFrame", kSkinNames[i]).c_str(), &found);
    }
    m_bShown = tag->GetBool("_Visible", true);

    if (m_bList) {
        for (FPropList* child = tag->GetFirstChild(); child && !m_pScrollbar; child = child->GetNext()) {
            if (child->GetName() == "SCROLLBAR")
                m_pScrollbar = CreateChildWidget(this, child);
        }
        if (!m_pScrollbar) {
            DebugTrace("THUMBNAIL_LIST %s: no SCROLLBAR child initialises.\n", m_usFullName.GetNarrow());
            return false;
        }
        m_pScrollbar->AddEventTarget(FWideString("ON_SCROLL"), FWideString("Scroll"), this);
    }

    m_nMinHSize = SaturatedSize(static_cast<long long>(m_nMinHSize) + 1);
    long long needW = 0;
    long long needH = 0;
    if (m_bList) {
        const FThumbnailSkin& large = m_skins[0];
        const long long f = m_nFrameThickness;
        needW = static_cast<long long>(m_pScrollbar->GetLayoutObject(true)->GetMinSize()) +
                large.frame->GetWidth() + 2 * f + large.margin + 3;
        needH = static_cast<long long>(large.frame->GetHeight()) + 2 * f + 2 + large.margin;
    } else {
        needW = priSkin().frame->GetWidth();
        needH = priSkin().frame->GetHeight();
    }
    m_nMinHSize = std::max(m_nMinHSize, SaturatedSize(needW));
    m_nMinVSize = std::max(m_nMinVSize, SaturatedSize(needH));
    SetWidgetLayout(m_hLayout, m_nMinHSize, m_nHStretch);
    SetWidgetLayout(m_vLayout, m_nMinVSize, m_nVStretch);
    return true;
}

bool FUiThumbnails::ConnectRelays()
{
    const bool own = FUiObject::ConnectRelays();
    const bool bar = m_pScrollbar ? m_pScrollbar->ConnectRelays() : true;
    return own && bar;
}

void FUiThumbnails::priSetMode(int mode)
{
    m_nSizeMode = mode;
    m_nThumbSize = mode == kNone ? 0 : m_skins[kSkinOfMode[mode]].thumbSize;
}

const FThumbnailSkin& FUiThumbnails::priSkin() const
{
    static const FThumbnailSkin kEmpty;
    return m_nSizeMode == kNone ? kEmpty : m_skins[kSkinOfMode[m_nSizeMode]];
}

int FUiThumbnails::priCellW() const
{
    return priSkin().frame ? priSkin().frame->GetWidth() : 0;
}

int FUiThumbnails::priCellH() const
{
    return priSkin().frame ? priSkin().frame->GetHeight() : 0;
}

// ---- Grid ----

int FUiThumbnails::GetColumns() const
{
    // The layout and the scroll bar count columns over the same width, so the last row
    // is always reachable; a view narrower than one cell still has one column.
    const int step = std::max(1, priCellW() + priSkin().margin);
    const int left = m_rect.left + m_nFrameThickness;
    const int right = m_pScrollbar ? m_pScrollbar->GetRect().left - 2 : m_rect.right - m_nFrameThickness;
    return std::max(1, (right - left) / step);
}

int FUiThumbnails::GetVisibleRows() const
{
    const int step = std::max(1, priCellH() + priSkin().margin);
    const int rows = ((m_rect.bottom - m_nFrameThickness) - (m_rect.top + m_nFrameThickness)) / step;
    return std::max(1, rows);
}

void FUiThumbnails::priLayoutCell(ThumbnailCell* cell)
{
    const int w = priCellW();
    const int h = priCellH();
    cell->prevRect = cell->rect;
    int left = m_rect.left;
    int top = m_rect.top;
    if (m_bList) {
        const int m = priSkin().margin;
        const int columns = GetColumns();
        const long long areaTop = static_cast<long long>(m_rect.top + m_nFrameThickness) -
                                  static_cast<long long>(h + m) * m_nFirstRow;
        const long long l =
            static_cast<long long>(w + m) * (cell->index % columns) + m + m_rect.left + m_nFrameThickness;
        const long long t = static_cast<long long>(h + m) * (cell->index / columns) + m + areaTop;
        // Far rows of a huge view lie outside every window; held in range they stay outside.
        left = static_cast<int>(std::clamp<long long>(l, -(1LL << 30), 1LL << 30));
        top = static_cast<int>(std::clamp<long long>(t, -(1LL << 30), 1LL << 30));
    }
    cell->rect = FRect(left, top, left + w, top + h);
}

void FUiThumbnails::priRelayout(bool redraw)
{
    int index = 0;
    for (ThumbnailCell* cell = m_pFirstCell; cell; cell = cell->next) {
        cell->index = index++;
        priLayoutCell(cell);
    }
    if (!redraw)
        return;
    // A cell that moved leaves its old place as well: drawn there again, or as empty
    // background where the last cell was.
    for (ThumbnailCell* cell = m_pFirstCell; cell; cell = cell->next) {
        if (!SameRect(cell->rect, cell->prevRect)) {
            priInvalidatePlace(cell->prevRect, false);
            priInvalidateCell(cell, cell->next == nullptr);
        }
    }
}

void FUiThumbnails::priInvalidateCell(ThumbnailCell* cell, bool now)
{
    priInvalidatePlace(cell->rect, now);
}

void FUiThumbnails::priInvalidatePlace(const FRect& rect, bool now)
{
    if (IsWidgetRectEmpty(rect))
        return;
    const FThumbnailSkin& skin = priSkin();
    const int w = skin.highlight ? skin.highlight->GetWidth() : priCellW();
    const int h = skin.highlight ? skin.highlight->GetHeight() : priCellH();
    const int left = rect.left + skin.highlightX;
    const int top = rect.top + skin.highlightY;
    const FRect area = IntersectWidgetRects(FRect(left, top, left + w, top + h), m_rect);
    if (!IsWidgetRectEmpty(area))
        InvalidateWidgetRect(m_pWindow, area, now);
}

void FUiThumbnails::priUpdateScrollbar()
{
    if (!m_pScrollbar)
        return;
    const int columns = GetColumns();
    const int rows = static_cast<int>((static_cast<long long>(m_nCellCount) + columns - 1) / columns);
    const int visible = GetVisibleRows();
    double values[3] = {10.0, 10.0, 0.0};
    if (rows > visible) {
        m_nFirstRow = m_nFirstRow < 0 ? 0 : std::min(m_nFirstRow, rows - visible);
        values[0] = rows;
        values[1] = visible;
        values[2] = m_nFirstRow;
    } else {
        m_nFirstRow = 0;
    }
    m_pScrollbar->UiRelayMessage(FWideString("Set"), values);
}

void FUiThumbnails::priUpdateWindow()
{
    if (FGenericUiWindow* window = GetWidgetWindow(m_pWindow))
        window->Update();
}

bool FUiThumbnails::SetRect(int x, int y, int width, int height)
{
    if (!PlaceReviewWidget(m_hLayout, m_vLayout, x, y, width, height, m_rect))
        return true;
    if (m_pScrollbar) {
        const int w = m_pScrollbar->GetLayoutObject(true)->GetMinSize();
        const int top = m_rect.top + m_nFrameThickness;
        const int h = std::max(0, (m_rect.bottom - m_nFrameThickness) - top);
        m_pScrollbar->SetRect((m_rect.right - m_nFrameThickness) - w, top, w, h);
        priUpdateScrollbar();
    }
    priRelayout(false);
    InvalidateWidgetRect(m_pWindow, m_rect, false);
    return true;
}

void FUiThumbnails::Tick(int elapsedMs)
{
    if (m_pScrollbar)
        m_pScrollbar->Tick(elapsedMs);
}

ThumbnailCell* FUiThumbnails::GetCell(int index) const
{
    ThumbnailCell* cell = m_pFirstCell;
    for (; cell && index > 0; --index)
        cell = cell->next;
    return cell;
}

// ---- Cells ----

void FUiThumbnails::priAppendCell(ThumbnailCell* cell, bool invalidate)
{
    ThumbnailCell* last = m_pLastCell;
    cell->prev = last;
    cell->next = nullptr;
    cell->index = last ? last->index + 1 : 0;
    if (last)
        last->next = cell;
    else
        m_pFirstCell = cell;
    m_pLastCell = cell;
    ++m_nCellCount;
    if (!invalidate && last)
        return;
    priUpdateScrollbar();
    priLayoutCell(cell);
    priInvalidateCell(cell, true);
}

void FUiThumbnails::priInsertCell(ThumbnailCell* cell)
{
    const int visibleIndex = cell->entry->m_nVisibleIndex;
    ThumbnailCell* before = nullptr;
    if (visibleIndex >= 0) {
        for (before = m_pFirstCell; before && before->index < visibleIndex; before = before->next) {
        }
    }
    if (!before) {
        priAppendCell(cell, true);
        return;
    }
    cell->next = before;
    cell->prev = before->prev;
    if (before->prev)
        before->prev->next = cell;
    else
        m_pFirstCell = cell;
    before->prev = cell;
    ++m_nCellCount;
    priUpdateScrollbar();
    priRelayout(true);
}

void FUiThumbnails::priNewThumbnail(const FImageFileListEntry& entry)
{
    for (ThumbnailCell* cell = m_pFirstCell; cell; cell = cell->next) {
        if (cell->entry->m_usURL == entry.m_usURL) {
            FImageFileListEntry* copy = new (std::nothrow) FImageFileListEntry(entry);
            if (!copy)
                return;
            delete cell->entry;
            cell->entry = copy;
            cell->rect.Clear();
            priLayoutCell(cell);
            priInvalidateCell(cell, true);
            return;
        }
    }
    if (!m_bList)
        priRemoveAllCells();
    ThumbnailCell* cell = new (std::nothrow) ThumbnailCell;
    FImageFileListEntry* copy = cell ? new (std::nothrow) FImageFileListEntry(entry) : nullptr;
    if (!copy) {
        delete cell;
        return;
    }
    cell->entry = copy;
    priInsertCell(cell);
    priUpdateScrollbar();
}

void FUiThumbnails::priNewThumbnailList(FImageFileList* list)
{
    priRemoveAllCells();
    for (FImageFileListEntry* entry = list ? list->m_pHead : nullptr; entry; entry = entry->m_pNext) {
        if (!entry->m_bVisible)
            continue;
        ThumbnailCell* cell = new (std::nothrow) ThumbnailCell;
        FImageFileListEntry* copy = cell ? new (std::nothrow) FImageFileListEntry(*entry) : nullptr;
        if (!copy) {
            delete cell;
            continue;
        }
        cell->entry = copy;
        priAppendCell(cell, false);
    }
    priUpdateScrollbar();
    priRelayout(false);
    InvalidateWidgetRect(m_pWindow, m_rect, true);
}

void FUiThumbnails::priRemoveThumbnail(const FImageFileListEntry& entry)
{
    if (m_pCurrentCell && m_pCurrentCell->entry->m_usURL.CompareNoCase(entry.m_usURL.GetBuffer()) == 0)
        m_pCurrentCell = nullptr;
    ThumbnailCell* cell = m_pFirstCell;
    while (cell && !(cell->entry->m_usURL == entry.m_usURL))
        cell = cell->next;
    if (!cell)
        return;
    // A removed cell can designate nothing: a later Shift-range starts at the first cell.
    if (m_pAnchorCell == cell)
        m_pAnchorCell = nullptr;
    if (m_pCurrentCell == cell)
        m_pCurrentCell = nullptr;
    (cell->prev ? cell->prev->next : m_pFirstCell) = cell->next;
    (cell->next ? cell->next->prev : m_pLastCell) = cell->prev;
    priInvalidatePlace(cell->rect, false);
    delete cell->entry;
    delete cell;
    --m_nCellCount;
    priUpdateScrollbar();
    priRelayout(true);
}

void FUiThumbnails::priRemoveAllCells()
{
    ThumbnailCell* cell = m_pFirstCell;
    m_pFirstCell = m_pLastCell = m_pAnchorCell = m_pCurrentCell = nullptr;
    while (cell) {
        ThumbnailCell* next = cell->next;
        delete cell->entry;
        delete cell;
        cell = next;
    }
    m_nCellCount = 0;
}

bool FUiThumbnails::priChangeSize(const FWideString& name)
{
    const int old = m_nThumbSize;
    int mode = kNone;
    for (int m = kSmall; m <= kDetailed; ++m) {
        if (name == kModeNames[m])
            mode = m;
    }
    if (mode == kNone || mode == m_nSizeMode)
        return true;
    priSetMode(mode);
    if (m_nThumbSize != old) {
        for (ThumbnailCell* cell = m_pFirstCell; cell; cell = cell->next)
            cell->entry->ReleaseThumbnail();
    }
    priUpdateScrollbar();
    priRelayout(false);
    InvalidateWidgetRect(m_pWindow, m_rect, false);
    priFireSizeEvents();
    return true;
}

void FUiThumbnails::priFireSizeEvents()
{
    m_pOnThumbnailSize->Fire(&m_nThumbSize);
    if (m_nSizeMode != kNone)
        m_pOnModeEvents[m_nSizeMode - 1]->Fire(nullptr);
}

// ---- Messages ----

bool FUiThumbnails::UiRelayMessage(const FWideString& message, void* data)
{
    if (message == "Post Creation Initialization") {
        if (m_pScrollbar)
            m_pScrollbar->UiRelayMessage(message, data);
        priFireSizeEvents();
        return true;
    }
    if (message == "we're goin' bye-bye") {
        if (m_pApp) {
            m_pApp->RemoveLanguageListener(this);
            if (FPropList* state = m_pApp->GetPersistentData(m_usFullName)) {
                state->SetInt("ThumbnailSize", m_nThumbSize);
                state->SetBool("Detailed", m_nSizeMode == kDetailed);
            }
        }
        return true;
    }
    if (message == "RemoveAll") {
        priRemoveAllCells();
        priUpdateScrollbar();
        InvalidateWidgetRect(m_pWindow, m_rect, false);
        return true;
    }
    const bool list = m_bList;
    if (message == "NewThumbnailList") {
        if (list)
            priNewThumbnailList(static_cast<FImageFileList*>(data));
        return true;
    }
    if (message == "SelectAll" || message == "DeselectAll" || message == "InvertSelection" ||
        message == "SelectMarked" || message == "SelectLocked") {
        if (!list)
            return true;
        if (message == "SelectAll")
            SelectAll();
        else if (message == "DeselectAll")
            DeselectAll();
        else if (message == "InvertSelection")
            priInvert();
        else
            priSelectByFlag(message == "SelectLocked");
        return true;
    }
    if (!data)
        return false;
    if (message == "Set Language") {
        InvalidateWidgetRect(m_pWindow, m_rect, false);
        return true;
    }
    if (message == "Scroll") {
        if (list) {
            m_nFirstRow = std::max(0, *static_cast<int*>(data));
            priRelayout(false);
            InvalidateWidgetRect(m_pWindow, m_rect, false);
        }
        return true;
    }
    if (message == "NewThumbnail") {
        priNewThumbnail(*static_cast<FImageFileListEntry*>(data));
        return true;
    }
    if (message == "RemoveThumbnail") {
        priRemoveThumbnail(*static_cast<FImageFileListEntry*>(data));
        return true;
    }
    if (message == "Visibility") {
        m_bShown = *static_cast<bool*>(data);
        InvalidateWidgetRect(m_pWindow, m_rect, false);
        return true;
    }
    if (message == "ThumbnailSize")
        return list && priChangeSize(*static_cast<FWideString*>(data));
    return false;
}
