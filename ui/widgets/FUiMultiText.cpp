#include "FUiMultiText.h"

#include <algorithm>

#include "FDebugTrace.h"
#include "FIUiApp.h"
#include "FIUiPixmap.h"
#include "FIUiWindow.h"
#include "FPropList.h"
#include "FUiFont.h"
#include "FUiMultiLangString.h"
#include "FUiTextMeasure.h"
#include "FUiWidgetFrame.h"
#include "FUiWidgets.h"

namespace
{

class FUiMultiTextCreator final : public FUiWidgetCreator<FUiMultiText>
{
};

} // namespace

bool RegisterUiMultiText(FIUiObjectFactory* factory)
{
    return RegisterUiWidgetCreator<FUiMultiTextCreator>(factory, "MULTITEXT");
}

FUiMultiText::FUiMultiText(const char* typeName)
    : FUiObject(typeName), m_onAddItem(FWideString("ON_ADD_ITEM"))
{
}

FUiMultiText::~FUiMultiText()
{
    priReleaseLinePixmaps();
    delete m_pScrollbar;
}

bool FUiMultiText::InitUiObject(FIUiApp* app, FIUiWindow* window, FIUiObject* parent, FPropList* tag)
{
    FUiObject::InitUiObject(app, window, parent, tag);
    if (!app || !tag)
        return false;
    bool found = false;
    const FWideString fontName = tag->GetString("AppFont", FWideString(), &found);
    if (found) {
        m_pFont = app->GetAppFont(fontName);
        if (m_pFont) {
            FWideString language;
            app->AddLanguageListener(this, language);
        }
    }
    bool all = true;
    m_iMinHSize = std::max(tag->GetInt("MinHSize", 0, &found), 0);
    all = all && found;
    m_iMinVSize = std::max(tag->GetInt("MinVSize", 0, &found), 0);
    all = all && found;
    m_iHStretch = tag->GetInt("HStretch", 0, &found);
    all = all && found;
    m_iVStretch = tag->GetInt("VStretch", 0, &found);
    all = all && found;
    if (!all)
        return false;
    m_usSourceName = tag->GetString("MultiLine", FWideString("BlankLine"));
    m_bgColor = tag->GetColor("BGColor", m_bgColor, &m_bBgColorGiven);
    m_iMargin = std::clamp(tag->GetInt("_Margin", 2), 0, kMaxWidgetSize);
    for (FPropList* child = tag->GetFirstChild(); child; child = child->GetNext()) {
        if (child->GetName() == "SCROLLBAR" && !m_pScrollbar)
            m_pScrollbar = CreateChildWidget(this, child);
        else if (child->GetName() == "ON_ADD_ITEM")
            m_onAddItem.ReadRelay(child);
    }
    if (!m_pScrollbar)
        return false;
    m_pScrollbar->AddEventTarget(FWideString("ON_SCROLL"), FWideString("Scroll"), this);
    int average = 0;
    if (m_pFont)
        m_pFont->GetFontMetrics(nullptr, m_iLineHeight, average);
    m_iLinePitch = std::max(m_iLineHeight, average);
    SetWidgetLayout(m_hLayout, SaturatedSize(int64_t(m_iMinHSize) + 1), m_iHStretch);
    SetWidgetLayout(m_vLayout, m_iMinVSize, m_iVStretch);
    return true;
}

bool FUiMultiText::ConnectRelays()
{
    const bool own = m_onAddItem.Connect(m_pWindow);
    const bool bar = m_pScrollbar ? m_pScrollbar->ConnectRelays() : true;
    return own && bar;
}

bool FUiMultiText::SetRect(int x, int y, int width, int height)
{
    const int oldWidth = m_rect.Width();
    m_rect = FRect(x, y, SaturatedSize(int64_t(x) + std::max(width, 0)),
                   SaturatedSize(int64_t(y) + std::max(height, 0)));
    const int barWidth = m_pScrollbar ? m_pScrollbar->GetLayoutObject(true)->GetMinSize() : 0;
    m_scrollbarRect = FRect(m_rect.right - barWidth, m_rect.top, m_rect.right, m_rect.bottom);
    if (m_pScrollbar)
        m_pScrollbar->SetRect(m_scrollbarRect.left, m_scrollbarRect.top, barWidth, m_rect.Height());
    // Lines broken for another width would overflow or waste the new one.
    if (oldWidth != m_rect.Width())
        priDiscard();
    else if (m_bLaidOut)
        priSetScrollBar();
    return true;
}

int FUiMultiText::GetAvailableWidth() const
{
    return m_rect.Width() - m_scrollbarRect.Width() - m_iMargin - 1;
}

bool FUiMultiText::priIsEastAsian()
{
    FWideString language;
    if (m_pApp)
        m_pApp->AddLanguageListener(nullptr, language);
    return language == "Japanese" || language == "Chinese";
}

FWideString FUiMultiText::GetSourceText()
{
    if (m_bTextSet)
        return m_usSetText.IsEmpty() ? FWideString(" ") : m_usSetText;
    FIUiMultiLangString* ds = m_pApp ? m_pApp->GetDisplayString(m_usSourceName) : nullptr;
    if (!ds)
        return FWideString();
    FWideString language;
    m_pApp->AddLanguageListener(nullptr, language);
    ds->SelectLanguage(language);
    const FWideString* text = ds->GetText();
    return text ? *text : FWideString();
}

void FUiMultiText::priReleaseLinePixmaps()
{
    for (auto& entry : m_linePixmaps)
        ReleaseUiPixmap(entry.second);
    m_linePixmaps.clear();
}

void FUiMultiText::priDiscard()
{
    priReleaseLinePixmaps();
    m_lines.clear();
    m_usLaidText.Clear();
    m_iTotalHeight = 0;
    m_bLaidOut = false;
}

void FUiMultiText::EnsureLaidOut()
{
    if (!m_bLaidOut && !m_usSourceName.IsEmpty())
        priLayOut();
}

void FUiMultiText::priLayOut()
{
    priDiscard();
    m_bLaidOut = true;
    const FWideString source = GetSourceText();
    if (source.IsEmpty() || !m_pFont) {
        DebugTraceText("FUiMultiText::priDisplayList() return because (uiStrLen <= 0)\n");
        return;
    }
    int lineHeight = 0, average = 0;
    m_pFont->GetFontMetrics(nullptr, lineHeight, average);
    FUiLineBreakResult result = BreakTextLines(source, GetAvailableWidth(), priIsEastAsian(), average,
                                               MakeFontMeasure(m_pFont, nullptr));
    m_usLaidText = result.text;
    m_lines = std::move(result.lines);
    m_iTotalHeight = SaturatedSize(int64_t(m_lines.size()) * (int64_t(m_iLineHeight) + 1));
    if (m_iTotalHeight <= 0) {
        DebugTraceText("FUiMultiText::priDisplayList() return because (iDy <= 0)\n");
        return;
    }
    priSetScrollBar();
}

void FUiMultiText::priSetScrollBar()
{
    if (!m_pScrollbar)
        return;
    const int count = int(m_lines.size());
    const int visible = m_iLinePitch > 0 ? m_rect.Height() / m_iLinePitch : count;
    double values[3] = {10.0, 10.0, 0.0};
    if (count > visible) {
        m_iTopLine = std::clamp(m_iTopLine, 0, count - visible);
        values[0] = count;
        values[1] = visible;
        values[2] = m_iTopLine;
    } else {
        m_iTopLine = 0;
    }
    m_pScrollbar->UiRelayMessage(FWideString("Set"), values);
}

FWideString FUiMultiText::GetLine(int index) const
{
    if (index < 0 || index >= int(m_lines.size()))
        return FWideString();
    const FUiTextLine& line = m_lines[size_t(index)];
    if (line.length == 0)
        return FWideString(" ");
    const char16_t* units = m_usLaidText.GetBuffer() + line.start;
    return FWideString(units, units + line.length - 1);
}

void FUiMultiText::Display(FIUiPixmap* target, int xOffset, int yOffset, const FRect& clip)
{
    const FRect area = OffsetWidgetRect(
        FRect(m_rect.left, m_rect.top, m_scrollbarRect.left - 1, m_rect.bottom), xOffset, yOffset);
    if (m_bBgColorGiven)
        FillWidgetRect(target, OffsetWidgetRect(m_rect, xOffset, yOffset), clip, m_bgColor);
    EnsureLaidOut();
    const FRect textClip = IntersectWidgetRects(area, clip);
    const int count = int(m_lines.size());
    if (!IsWidgetRectEmpty(textClip) && m_pFont && m_iLinePitch > 0 && count > 0) {
        const int visible = m_rect.Height() / m_iLinePitch + 1;
        const int first = std::clamp(m_iTopLine, 0, count);
        const int last = int(std::min<int64_t>(int64_t(first) + visible, count));
        // Lines scrolled out of view give their pixmaps back.
        for (auto it = m_linePixmaps.begin(); it != m_linePixmaps.end();) {
            if (it->first < first || it->first >= last) {
                ReleaseUiPixmap(it->second);
                it = m_linePixmaps.erase(it);
            } else {
                ++it;
            }
        }
        for (int k = first; k < last; ++k) {
            FIUiPixmap*& pixmap = m_linePixmaps[k];
            if (!pixmap)
                pixmap = m_pFont->RenderText(nullptr, GetLine(k), false);
            if (!pixmap)
                continue;
            const int x = m_rect.left + xOffset + m_iMargin;
            const int y = m_rect.top + yOffset + (k - m_iTopLine) * m_iLinePitch;
            DrawWidgetPicture(pixmap, target, FRect(x, y, x + pixmap->GetWidth(), y + pixmap->GetHeight()),
                              textClip);
        }
    }
    if (m_iTotalHeight > m_rect.Height() && m_pScrollbar) {
        const FRect separator(m_scrollbarRect.left - 1, m_scrollbarRect.top, m_scrollbarRect.left,
                              m_scrollbarRect.bottom);
        FillWidgetRect(target, OffsetWidgetRect(separator, xOffset, yOffset), clip, FUiColor(0, 0, 0, 255));
        m_pScrollbar->Display(target, xOffset, yOffset, clip);
    }
}

void FUiMultiText::Tick(int elapsedMs)
{
    if (m_pScrollbar)
        m_pScrollbar->Tick(elapsedMs);
}

FIUiObject* FUiMultiText::HitTest(int x, int y)
{
    if (!WidgetRectContains(m_rect, x, y))
        return nullptr;
    if (m_pScrollbar && m_iTotalHeight > m_rect.Height())
        if (FIUiObject* hit = m_pScrollbar->HitTest(x, y))
            return hit;
    return this;
}

void FUiMultiText::MouseWheel(int x, int y, int flag, int notches)
{
    if (m_pScrollbar)
        m_pScrollbar->MouseWheel(x, y, flag, notches);
}

bool FUiMultiText::UiRelayMessage(const FWideString& message, void* data)
{
    if (message == "Post Creation Initialization")
        return m_pScrollbar ? m_pScrollbar->UiRelayMessage(message, data) : true;
    if (message == "we're goin' bye-bye") {
        if (m_pApp)
            m_pApp->RemoveLanguageListener(this);
        return true;
    }
    if (message == "Set Language") {
        if (!data)
            return false;
        priDiscard();
        priInvalidate();
        return true;
    }
    if (message == "Scroll") {
        if (!data)
            return false;
        m_iTopLine = *static_cast<const int*>(data);
        priInvalidate();
        return true;
    }
    if (message == "AddToList") {
        if (!data)
            return false;
        m_usSourceName = *static_cast<const FWideString*>(data);
        priInvalidate();
        return true;
    }
    if (message == "EmptyList") {
        priReleaseLinePixmaps();
        m_lines.clear();
        m_onAddItem.Fire(nullptr);
        return true;
    }
    if (message == "SetText") {
        if (!data)
            return false;
        m_usSetText = *static_cast<const FWideString*>(data);
        m_bTextSet = true;
        priDiscard();
        priInvalidate();
        return true;
    }
    if (message == "CopyToClipboard") {
        const FWideString plain = PlainTextForClipboard(GetSourceText());
        if (!plain.IsEmpty() && m_pApp)
            m_pApp->CutTextToClipboard(plain, m_pWindow);
        return true;
    }
    return false;
}

void FUiMultiText::priInvalidate()
{
    InvalidateWidgetRect(m_pWindow, m_rect, false);
}
