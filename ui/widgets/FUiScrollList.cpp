#include "FUiScrollList.h"

#include <algorithm>
#include <vector>

#include "FIGenericUiPixmap.h"
#include "FIUiApp.h"
#include "FIUiPixmap.h"
#include "FPropList.h"
#include "FUiFont.h"
#include "FUiMultiLangString.h"
#include "FUiWidgets.h"

namespace
{

class FUiScrollListCreator final : public FUiWidgetCreator<FUiScrollList>
{
};

} // namespace

bool RegisterUiScrollList(FIUiObjectFactory* factory)
{
    return RegisterUiWidgetCreator<FUiScrollListCreator>(factory, "SCROLLLIST");
}

FUiScrollList::FUiScrollList(const char* typeName) : FUiObject(typeName)
{
    m_pOnSelect = AddEvent(FWideString("ON_SELECT"));
    m_pOnSelectID = AddEvent(FWideString("ON_SELECT_ID"));
    m_pOnAddItem = AddEvent(FWideString("ON_ADD_ITEM"));
    m_pOnSetPulldown = AddEvent(FWideString("ON_SET_PULLDOWN"));
}

FUiScrollList::~FUiScrollList()
{
    priDeleteItems();
    delete m_pScrollbar;
}

bool FUiScrollList::InitUiObject(FIUiApp* app, FIUiWindow* window, FIUiObject* parent, FPropList* tag)
{
    FUiObject::InitUiObject(app, window, parent, tag);
    if (!app || !tag)
        return false;
    m_pAppFont = UseWidgetAppFont(app, this, tag);
    m_font.Read(tag);
    FRequiredWidgetKeys keys(tag);
    keys.Layout(m_iMinHSize, m_iMinVSize, m_iHStretch, m_iVStretch);
    m_selectedFontColor = keys.Color("SelectedFontColor", m_selectedFontColor);
    m_disabledFontColor = keys.Color("DisabledFontColor", m_disabledFontColor);
    if (!keys.AllFound())
        return false;
    m_selectedBgColor = tag->GetColor("_SelectedFontBgColor", m_selectedBgColor, &m_bSelectedBgGiven);
    m_bMouseOver = tag->GetBool("_MouseOver", false);

    for (FPropList* child = tag->GetFirstChild(); child && !m_pScrollbar; child = child->GetNext()) {
        if (child->GetName() == "SCROLLBAR")
            m_pScrollbar = CreateChildWidget(this, child);
        if (child->GetName() == "SCROLLBAR")
            break;
    }
    if (!m_pScrollbar)
        return false;
    m_pScrollbar->AddEventTarget(FWideString("ON_SCROLL"), FWideString("Scroll"), this);

    int lineHeight = 0;
    int averageWidth = 0;
    if (m_pAppFont)
        m_pAppFont->GetFontMetrics(nullptr, lineHeight, averageWidth);
    else
        MeasureUiText(m_font.face.GetBuffer(), m_font.size, m_font.bold, m_font.italic, m_font.underline,
                      &lineHeight, &averageWidth);
    // A font without metrics would leave no line to divide the height by.
    m_iLineHeight = std::max({m_iLineHeight, averageWidth, lineHeight, 1});
    SetWidgetLayout(m_hLayout, SaturatedSize(static_cast<long long>(m_iMinHSize) + 1), m_iHStretch);
    SetWidgetLayout(m_vLayout, m_iMinVSize, m_iVStretch);
    return true;
}

bool FUiScrollList::ConnectRelays()
{
    bool all = FUiObject::ConnectRelays();
    if (m_pScrollbar)
        all = m_pScrollbar->ConnectRelays() && all;
    return all;
}

int FUiScrollList::priScrollbarWidth() const
{
    return m_pScrollbar ? m_pScrollbar->GetLayoutObject(true)->GetMinSize() : 0;
}

void FUiScrollList::priInvalidate()
{
    InvalidateWidgetRect(m_pWindow, m_rect, false);
}

// ---- Items ----

void FUiScrollList::priAddItem(bool isDisplayString, const FWideString& textOrName,
                               const FWideString& identifier)
{
    auto* item = new FUiScrollListItem;
    item->isDisplayString = isDisplayString;
    (isDisplayString ? item->displayStringName : item->text) = textOrName;
    item->identifier = identifier;
    if (m_pLastItem)
        m_pLastItem->next = item;
    else
        m_pFirstItem = item;
    m_pLastItem = item;
}

void FUiScrollList::priDeleteItems()
{
    FUiScrollListItem* item = m_pFirstItem;
    while (item) {
        FUiScrollListItem* next = item->next;
        ReleaseUiPixmap(item->textPixmap);
        delete item;
        item = next;
    }
    m_pFirstItem = nullptr;
    m_pLastItem = nullptr;
    m_pSelected = nullptr;
}

FUiScrollListItem* FUiScrollList::priFindItem(const FWideString& identifier)
{
    for (FUiScrollListItem* item = m_pFirstItem; item; item = item->next)
        if (item->identifier == identifier)
            return item;
    return nullptr;
}

void FUiScrollList::priUpdateScrollInfo()
{
    const int visible = m_rect.Height() / std::max(1, m_iLineHeight);
    double values[3] = {10, 10, 0};
    if (m_iCount > visible) {
        m_iFirstVisible = std::clamp(m_iFirstVisible, 0, m_iCount - visible);
        values[0] = m_iCount;
        values[1] = visible;
        values[2] = m_iFirstVisible;
    } else {
        m_iFirstVisible = 0;
    }
    if (m_pScrollbar)
        m_pScrollbar->UiRelayMessage(FWideString("Set"), values);
}

// ---- Messages ----

bool FUiScrollList::UiRelayMessage(const FWideString& message, void* data)
{
    if (message == "Post Creation Initialization") {
        if (m_pScrollbar)
            m_pScrollbar->UiRelayMessage(message, data);
        priUpdateScrollInfo();
        m_pOnAddItem->Fire(nullptr);
        m_pOnSetPulldown->Fire(nullptr);
        return true;
    }
    if (message == "we're goin' bye-bye") {
        if (m_pApp)
            m_pApp->RemoveLanguageListener(this);
        return false;
    }
    if (message == "Set Language") {
        if (!data)
            return false;
        for (FUiScrollListItem* item = m_pFirstItem; item; item = item->next)
            ReleaseUiPixmap(item->textPixmap);
        if (m_pAppFont && m_pApp) {
            FWideString language;
            m_pApp->AddLanguageListener(nullptr, language);
            m_pAppFont->SelectLanguage(language);
        }
        priInvalidate();
        return false;
    }
    if (message == "EmptyList") {
        m_iCount = 0;
        priDeleteItems();
        m_pOnAddItem->Fire(nullptr);
        return true;
    }
    if (!data)
        return false;
    if (message == "Scroll") {
        m_iFirstVisible = *static_cast<const int*>(data);
        priInvalidate();
        return true;
    }
    if (message == "NewList" || message == "NewListWithIDs") {
        const auto& strings = *static_cast<const std::vector<FWideString>*>(data);
        const bool withIDs = message == "NewListWithIDs";
        const size_t size = strings.size();
        // With identifiers the texts come first, then as many identifiers; an
        // odd count leaves the last text without one, and it gets an empty one.
        const size_t count = withIDs ? (size + 1) / 2 : size;
        m_iCount = static_cast<int>(std::min<size_t>(count, 0x7fffffff));
        priUpdateScrollInfo();
        priDeleteItems();
        for (size_t i = 0; i < count; ++i) {
            const FWideString identifier = withIDs && count + i < size ? strings[count + i] : FWideString();
            const bool isDisplayString = withIDs && m_pApp && m_pApp->GetDisplayString(strings[i]);
            priAddItem(isDisplayString, strings[i], identifier);
        }
        priInvalidate();
        return true;
    }
    if (message == "AddToList" || message == "AddToListWithID" || message == "AddStringToListWithID") {
        const auto* strings = static_cast<const FWideString*>(data);
        if (m_iCount < 0x7fffffff)
            ++m_iCount;
        priUpdateScrollInfo();
        if (message == "AddToList")
            priAddItem(false, strings[0], FWideString());
        else
            priAddItem(message == "AddStringToListWithID", strings[0], strings[1]);
        priInvalidate();
        return true;
    }
    if (message == "SelectText") {
        // Marks the entry that stands for a choice made elsewhere; nothing is sent back.
        const FWideString& wanted = *static_cast<const FWideString*>(data);
        int line = 0;
        for (FUiScrollListItem* item = m_pFirstItem; item; item = item->next, ++line) {
            if (!(item->text == wanted) && !(item->isDisplayString && item->displayStringName == wanted))
                continue;
            if (m_pSelected)
                m_pSelected->selected = false;
            m_pSelected = item;
            item->selected = true;
            const int visible = std::max(1, m_rect.Height() / std::max(1, m_iLineHeight));
            if (line < m_iFirstVisible || line >= m_iFirstVisible + visible) {
                m_iFirstVisible = std::max(0, line - visible / 2);
                priUpdateScrollInfo();
            }
            priInvalidate();
            return true;
        }
        return true;
    }
    if (message == "SelectID") {
        if (!data)
            return false;
        if (FUiScrollListItem* item = priFindItem(*static_cast<const FWideString*>(data)))
            priFireSelection(item);
        return false;
    }
    if (message == "HighlightID") {
        // Shows which line is in force without choosing it again: no event fires.
        if (!data)
            return false;
        FUiScrollListItem* item = priFindItem(*static_cast<const FWideString*>(data));
        if (!item)
            return true;
        if (m_pSelected)
            m_pSelected->selected = false;
        m_pSelected = item;
        item->selected = true;
        priInvalidate();
        return true;
    }
    return false;
}

// ---- Placement and drawing ----

bool FUiScrollList::SetRect(int x, int y, int width, int height)
{
    m_rect = FRect(x, y, x + width, y + height);
    const int s = priScrollbarWidth();
    m_scrollbarRect = FRect(m_rect.right - s, m_rect.top, m_rect.right, m_rect.bottom);
    if (m_pScrollbar)
        m_pScrollbar->SetRect(m_rect.right - s, y, s, height);
    priUpdateScrollInfo();
    return true;
}

void FUiScrollList::priRender(FUiScrollListItem* item)
{
    FWideString text(" ");
    if (item->isDisplayString) {
        FIUiMultiLangString* string = m_pApp ? m_pApp->GetDisplayString(item->displayStringName) : nullptr;
        if (string) {
            FWideString language;
            m_pApp->AddLanguageListener(nullptr, language);
            string->SelectLanguage(language);
            if (const FWideString* current = string->GetText())
                text = *current;
        }
    } else if (!item->text.IsEmpty()) {
        text = item->text;
    }
    item->textPixmap = m_pAppFont ? m_pAppFont->RenderText(nullptr, text, false)
                                  : RenderInlineFontText(m_font, text, nullptr);
}

void FUiScrollList::Display(FIUiPixmap* target, int xOffset, int yOffset, const FRect& clip)
{
    if (!target || IsWidgetRectEmpty(IntersectWidgetRects(OffsetWidgetRect(m_rect, xOffset, yOffset), clip)))
        return;
    const int s = priScrollbarWidth();
    m_textArea = FRect(m_rect.left, m_rect.top, m_rect.right - s - 1, m_rect.bottom);
    if (m_pScrollbar)
        m_pScrollbar->Display(target, xOffset, yOffset, clip);
    const FRect column(m_scrollbarRect.left - 1, m_scrollbarRect.top, m_scrollbarRect.left,
                       m_scrollbarRect.bottom);
    FillWidgetRect(target, OffsetWidgetRect(column, xOffset, yOffset), clip, FUiColor(0, 0, 0, 255));
    const FRect itemClip = IntersectWidgetRects(FRect(xOffset + m_rect.left, yOffset + m_rect.top,
                                                      xOffset + m_textArea.right, yOffset + m_rect.bottom),
                                                clip);
    const long long top = static_cast<long long>(yOffset) + m_rect.top -
                          static_cast<long long>(m_iFirstVisible) * m_iLineHeight;
    priDrawItems(target, xOffset, static_cast<int>(std::clamp<long long>(top, INT32_MIN / 2, INT32_MAX / 2)),
                 itemClip);
}

void FUiScrollList::priDrawItems(FIUiPixmap* target, int xOffset, int lineTop, const FRect& clip)
{
    long long y = lineTop;
    const int x = xOffset + m_rect.left + m_iLeftMargin;
    const int right = xOffset + m_scrollbarRect.left - 1;
    for (FUiScrollListItem* item = m_pFirstItem; item; item = item->next, y += m_iLineHeight) {
        // Lines outside the clip keep a hit band but are neither rendered nor painted.
        if (y + m_iLineHeight <= clip.top || y >= clip.bottom || IsWidgetRectEmpty(clip)) {
            const int band = static_cast<int>(std::clamp<long long>(y, INT32_MIN / 2, INT32_MAX / 2));
            item->hitRect = FRect(x, band, right, band + m_iLineHeight);
            continue;
        }
        if (!item->textPixmap)
            priRender(item);
        if (!item->textPixmap)
            continue;
        FUiColor colour = m_font.colour;
        if (item->selected)
            colour = m_selectedFontColor;
        else if (m_pAppFont)
            m_pAppFont->GetColor(colour);
        if (auto* generic = dynamic_cast<FIGenericUiPixmap*>(item->textPixmap))
            generic->SetRGB(colour.red, colour.green, colour.blue);
        const int height = item->textPixmap->GetHeight();
        const int top = static_cast<int>(y) + ((m_iLineHeight - height) >> 1);
        item->hitRect = FRect(x, top, right, top + height);
        if (m_bSelectedBgGiven && item->selected)
            FillWidgetRect(target, item->hitRect, clip, m_selectedBgColor);
        DrawWidgetPicture(item->textPixmap, target,
                          FRect(x, top, x + item->textPixmap->GetWidth(), top + height), clip);
    }
}

// ---- Input ----

void FUiScrollList::Tick(int elapsedMs)
{
    if (m_pScrollbar)
        m_pScrollbar->Tick(elapsedMs);
}

void FUiScrollList::MouseWheel(int x, int y, int flag, int notches)
{
    if (m_pScrollbar)
        m_pScrollbar->MouseWheel(x, y, flag, notches);
}

FIUiObject* FUiScrollList::HitTest(int x, int y)
{
    if (!WidgetRectContains(m_rect, x, y))
        return nullptr;
    if (m_pScrollbar)
        if (FIUiObject* hit = m_pScrollbar->HitTest(x, y))
            return hit;
    return this;
}

FUiScrollListItem* FUiScrollList::priItemAt(int x, int y)
{
    for (FUiScrollListItem* item = m_pFirstItem; item; item = item->next)
        if (WidgetRectContains(item->hitRect, x, y))
            return item;
    return nullptr;
}

void FUiScrollList::priFireSelection(FUiScrollListItem* item)
{
    // Copies: a target may change the list while the events run.
    FWideString text = item->isDisplayString ? item->displayStringName : item->text;
    FWideString identifier = item->identifier;
    m_pOnSelect->Fire(&text);
    m_pOnSelectID->Fire(&identifier);
}

void FUiScrollList::priSelectAt(int x, int y)
{
    FUiScrollListItem* item = priItemAt(x, y);
    if (!item)
        return;
    if (m_pSelected)
        m_pSelected->selected = false;
    m_pSelected = item;
    priFireSelection(item);
    // The events may have emptied the list.
    if (m_pSelected == item && priItemAt(x, y) == item)
        item->selected = true;
    priInvalidate();
}

bool FUiScrollList::MouseDown(int x, int y, bool, bool)
{
    priSelectAt(x, y);
    return true;
}

void FUiScrollList::MouseEnter(int, int)
{
    if (m_bMouseOver)
        SetWidgetMouseCapture(m_pWindow, this, true);
}

void FUiScrollList::MouseLeave(int, int)
{
    if (m_bMouseOver)
        SetWidgetMouseCapture(m_pWindow, this, false);
}

void FUiScrollList::MouseMove(int x, int y)
{
    if (!m_bMouseOver)
        return;
    FUiScrollListItem* item = priItemAt(x, y);
    if (!item || item == m_pSelected)
        return;
    if (m_pSelected)
        m_pSelected->selected = false;
    m_pSelected = item;
    item->selected = true;
    priInvalidate();
}
