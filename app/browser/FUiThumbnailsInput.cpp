// The thumbnail view's selection: clicks, keys and the selection commands.

#include <vector>

#include "FGenericUiWindow.h"
#include "FImageFileListEntry.h"
#include "FUiThumbnails.h"
#include "FUiWidgetFrame.h"

namespace
{
constexpr uint16_t kReturnKey = 13;
constexpr uint16_t kRightArrow = 145;
constexpr uint16_t kLeftArrow = 146;
constexpr uint16_t kHome = 20;
constexpr uint16_t kEnd = 2;
} // namespace

ThumbnailCell* FUiThumbnails::priCellAt(int x, int y) const
{
    for (ThumbnailCell* cell = m_pFirstCell; cell; cell = cell->next) {
        if (WidgetRectContains(cell->rect, x, y))
            return cell;
    }
    return nullptr;
}

FIUiObject* FUiThumbnails::HitTest(int x, int y)
{
    if (!m_bShown || !WidgetRectContains(m_rect, x, y))
        return nullptr;
    if (m_pScrollbar) {
        if (FIUiObject* hit = m_pScrollbar->HitTest(x, y))
            return hit;
    }
    return this;
}

void FUiThumbnails::MouseEnter(int, int)
{
    if (FGenericUiWindow* window = GetWidgetWindow(m_pWindow))
        window->SetKeyboardObject(this, true);
}

void FUiThumbnails::MouseWheel(int x, int y, int flag, int notches)
{
    if (m_bShown && m_pScrollbar)
        m_pScrollbar->MouseWheel(x, y, flag, notches);
}

bool FUiThumbnails::GetDragData(int x, int y, bool, bool, FWideString& dragData)
{
    if (!m_bShown)
        return false;
    ThumbnailCell* cell = m_bList ? priCellAt(x, y) : m_pFirstCell;
    if (!cell)
        return false;
    dragData = cell->entry->m_usURL;
    return true;
}

void FUiThumbnails::MouseDoubleClick(int x, int y, bool ctrl, bool shift)
{
    if (!m_bShown || !m_bList)
        return;
    if (priCellAt(x, y))
        m_pOnDoubleClick->Fire(nullptr);
    else if (!ctrl && !shift)
        DeselectAll();
}

void FUiThumbnails::priSelectOne(ThumbnailCell* cell)
{
    m_pCurrentCell = cell;
    cell->entry->m_bSelected = true;
    priInvalidateCell(cell, true);
    FWideString url = cell->entry->m_usURL;
    m_pOnSelectImage->Fire(&url);
    m_pOnSelectImageIfle->Fire(cell->entry);
}

void FUiThumbnails::priDeselectOne(ThumbnailCell* cell, RelayEvent* event)
{
    cell->entry->m_bSelected = false;
    priInvalidateCell(cell, true);
    FWideString url = cell->entry->m_usURL;
    event->Fire(&url);
}

bool FUiThumbnails::MouseDown(int x, int y, bool ctrl, bool shift)
{
    if (!m_bShown)
        return false;
    if (!m_bList)
        return true;
    if (FGenericUiWindow* window = GetWidgetWindow(m_pWindow))
        window->SetKeyboardObject(this, true);
    ThumbnailCell* cell = priCellAt(x, y);
    if (!cell) {
        if (!ctrl)
            DeselectAll();
        return true;
    }
    if (shift) {
        if (cell->entry->m_bSelected)
            priDeselectOne(cell, m_pOnDeselectImage);
        else
            priShiftClick(cell);
    } else if (ctrl) {
        if (cell->entry->m_bSelected) {
            priDeselectOne(cell, m_pOnDeselectImage);
        } else {
            m_pAnchorCell = cell;
            priSelectOne(cell);
        }
    } else {
        priPlainClick(cell);
    }
    return true;
}

void FUiThumbnails::priShiftClick(ThumbnailCell* cell)
{
    m_pCurrentCell = cell;
    if (!m_pAnchorCell)
        m_pAnchorCell = m_pFirstCell;
    std::vector<FWideString> urls;
    ThumbnailCell* end = nullptr;
    bool inRange = false;
    for (ThumbnailCell* c = m_pFirstCell; c; c = c->next) {
        if (!inRange && (c == cell || c == m_pAnchorCell)) {
            inRange = true;
            end = c == cell ? m_pAnchorCell : cell;
        }
        if (inRange && !c->entry->m_bSelected) {
            c->entry->m_bSelected = true;
            priInvalidateCell(c, false);
            urls.push_back(c->entry->m_usURL);
        }
        if (inRange && c == end)
            break;
    }
    priUpdateWindow();
    m_pOnSelectImageList->Fire(&urls);
}

void FUiThumbnails::priPlainClick(ThumbnailCell* cell)
{
    ThumbnailCell* selected = nullptr;
    int count = 0;
    for (ThumbnailCell* c = m_pFirstCell; c && count < 2; c = c->next) {
        if (c->entry->m_bSelected) {
            selected = c;
            ++count;
        }
    }
    if (count == 1 && selected == cell)
        return;
    if (count == 1)
        priDeselectOne(selected, m_pOnDeselectImageNoUpdate);
    else
        DeselectAll();
    m_pAnchorCell = cell;
    priSelectOne(cell);
}

void FUiThumbnails::priArrow(bool right)
{
    ThumbnailCell* to = right ? m_pCurrentCell->next : m_pCurrentCell->prev;
    if (!to)
        return;
    priDeselectOne(m_pCurrentCell, m_pOnDeselectImageNoUpdate);
    priSelectOne(to);
}

void FUiThumbnails::KeyEvent(uint16_t code, bool ctrl, bool shift)
{
    if (code == kReturnKey && !ctrl) {
        if (m_nCellCount > 0)
            m_pOnReturnKey->Fire(nullptr);
        return;
    }
    if ((code == kRightArrow || code == kLeftArrow) && m_pCurrentCell) {
        priArrow(code == kRightArrow);
        return;
    }
    // Home and End choose the first or last image, as a click on it would, and show it.
    if ((code == kHome || code == kEnd) && !ctrl && !shift && m_bList && m_pFirstCell) {
        ThumbnailCell* cell = code == kHome ? m_pFirstCell : m_pLastCell;
        priPlainClick(cell);
        const int columns = GetColumns();
        const int rows = static_cast<int>((static_cast<long long>(m_nCellCount) + columns - 1) / columns);
        m_nFirstRow = code == kHome ? 0 : std::max(0, rows - GetVisibleRows());
        priUpdateScrollbar();
        priRelayout(false);
        InvalidateWidgetRect(m_pWindow, m_rect, false);
        return;
    }
    if (m_pScrollbar)
        m_pScrollbar->KeyEvent(code, ctrl, shift);
}

template <class F>
void FUiThumbnails::priChangeSelection(F change, std::vector<FWideString>& selected,
                                       std::vector<FWideString>& deselected)
{
    for (ThumbnailCell* cell = m_pFirstCell; cell; cell = cell->next) {
        FImageFileListEntry& entry = *cell->entry;
        if (!change(entry))
            continue;
        entry.m_bSelected = !entry.m_bSelected;
        priInvalidateCell(cell, false);
        (entry.m_bSelected ? selected : deselected).push_back(entry.m_usURL);
    }
    priUpdateWindow();
}

void FUiThumbnails::SelectAll()
{
    std::vector<FWideString> selected;
    std::vector<FWideString> deselected;
    priChangeSelection([](const FImageFileListEntry& e) { return !e.m_bSelected; }, selected, deselected);
    if (selected.size() == 1) {
        // The pair names the newly selected cell, which is what its receivers record.
        for (ThumbnailCell* cell = m_pFirstCell; cell; cell = cell->next) {
            if (cell->entry->m_usURL == selected.front()) {
                FWideString url = selected.front();
                m_pOnSelectImage->Fire(&url);
                m_pOnSelectImageIfle->Fire(cell->entry);
                break;
            }
        }
    }
    m_pOnSelectImageList->Fire(&selected);
}

void FUiThumbnails::DeselectAll()
{
    std::vector<FWideString> selected;
    std::vector<FWideString> deselected;
    priChangeSelection([](const FImageFileListEntry& e) { return e.m_bSelected; }, selected, deselected);
    m_pOnDeselectImageList->Fire(&deselected);
}

void FUiThumbnails::priInvert()
{
    std::vector<FWideString> selected;
    std::vector<FWideString> deselected;
    priChangeSelection([](const FImageFileListEntry&) { return true; }, selected, deselected);
    m_pOnSelectImageList->Fire(&selected);
    m_pOnDeselectImageList->Fire(&deselected);
}

void FUiThumbnails::priSelectByFlag(bool locked)
{
    std::vector<FWideString> selected;
    std::vector<FWideString> deselected;
    priChangeSelection(
        [locked](const FImageFileListEntry& e) {
            const bool flag = locked ? e.m_bLocked : e.m_bMarked;
            return flag != e.m_bSelected;
        },
        selected, deselected);
    m_pOnSelectImageList->Fire(&selected);
    m_pOnDeselectImageList->Fire(&deselected);
}
