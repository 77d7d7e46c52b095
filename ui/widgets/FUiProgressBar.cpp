#include "FUiProgressBar.h"

#include <algorithm>
#include <cmath>

#include "FDebugTrace.h"
#include "FIUiPixmap.h"
#include "FPropList.h"
#include "FUiWidgetFrame.h"
#include "FUiWidgets.h"

class FUiProgressBarCreator final : public FUiWidgetCreator<FUiProgressBar>
{
};

bool RegisterUiProgressBar(FIUiObjectFactory* factory)
{
    return RegisterUiWidgetCreator<FUiProgressBarCreator>(factory, "PROGRESSBAR");
}

FUiProgressBar::FUiProgressBar(const char* typeName) : FUiObject(typeName) {}

FUiProgressBar::~FUiProgressBar()
{
    ReleaseUiPixmap(m_pBackground);
    ReleaseUiPixmap(m_pForeground);
}

bool FUiProgressBar::UiRelayMessage(const FWideString& message, void* data)
{
    if (message == "Progress") {
        if (!data)
            return false;
        const double value = *static_cast<const double*>(data);
        // Not a number counts as no progress.
        m_dProgress = value > 0 ? std::min(value, 1.0) : 0.0;
        priUpdate();
        return true;
    }
    if (message == "Reset") {
        m_dProgress = 0;
        priUpdate();
        return true;
    }
    if (message == "Show" || message == "Hide") {
        m_bVisible = message == "Show";
        InvalidateWidgetRect(m_pWindow, m_rect, true);
        return true;
    }
    return false;
}

bool FUiProgressBar::InitUiObject(FIUiApp* app, FIUiWindow* window, FIUiObject* parent, FPropList* tag)
{
    FUiObject::InitUiObject(app, window, parent, tag);
    if (!tag)
        return false;
    m_pBackground = LoadPixmapFromTag(tag, "File_BgImage", nullptr);
    m_pForeground = LoadPixmapFromTag(tag, "File_FgImage", nullptr);
    m_iSlideRate = tag->GetInt("SlideRate", 0);
    m_bVisible = tag->GetBool("_Visible", true);
    // The background gives the bar its size: without it there is no bar.
    if (!m_pBackground) {
        DebugTrace("FUiProgressBar::InitUiObject(%s) FAILED: no background image\n",
                   m_usFullName.GetNarrow());
        return false;
    }
    SetWidgetLayout(m_hLayout, m_pBackground->GetWidth(), 0);
    SetWidgetLayout(m_vLayout, m_pBackground->GetHeight(), 0);
    m_rect.Set(0, 0, m_pBackground->GetWidth(), m_pBackground->GetHeight());
    return true;
}

bool FUiProgressBar::SetRect(int x, int y, int, int)
{
    m_rect.Set(x, y, x + m_hLayout.GetMinSize(), y + m_vLayout.GetMinSize());
    return true;
}

void FUiProgressBar::Tick(int elapsedMs)
{
    m_llElapsed += std::max(elapsedMs, 0);
    priUpdate();
}

void FUiProgressBar::priUpdate()
{
    if (!m_pBackground)
        return;
    const int foregroundWidth = m_pForeground ? m_pForeground->GetWidth() : 0;
    int fill = static_cast<int>(m_pBackground->GetWidth() * m_dProgress + 0.5);
    fill = std::clamp(fill, 0, foregroundWidth);
    const bool changed = fill != m_iFill;
    m_iFill = fill;
    if (fill == 0) {
        if (changed)
            InvalidateWidgetRect(m_pWindow, m_rect, true);
        return;
    }
    // In 64 bits: a long session at a high rate does not wrap.
    long long slide = (static_cast<long long>(m_iSlideRate) * m_llElapsed / 1000) % foregroundWidth;
    if (slide < 0)
        slide += foregroundWidth;
    if (static_cast<int>(slide) != m_iSlide || changed) {
        m_iSlide = static_cast<int>(slide);
        InvalidateWidgetRect(m_pWindow, m_rect, true);
    }
}

void FUiProgressBar::Display(FIUiPixmap* target, int xOffset, int yOffset, const FRect& clip)
{
    if (!m_bVisible || !m_pBackground || !m_pForeground || !target)
        return;
    const FRect bar = OffsetWidgetRect(m_rect, xOffset, yOffset);
    if (!bar.Intersects(clip))
        return;
    // Cut to the clip like every other widget, so that a partial repaint leaves its neighbours alone.
    const auto draw = [&](FIUiPixmap* picture, FRect destination, FRect source) {
        if (ClipWidgetRects(clip, destination, source))
            picture->BlendBlit(target, destination, source);
    };
    draw(m_pBackground, bar, FRect(0, 0, m_pBackground->GetWidth(), m_pBackground->GetHeight()));
    if (m_iFill <= 0)
        return;
    const int foregroundWidth = m_pForeground->GetWidth();
    const int height = std::min(bar.Height(), m_pForeground->GetHeight());
    // A window of the fill's width on the pattern, from the slide offset, wrapping to column 0.
    const int firstEnd = std::min(foregroundWidth, m_iSlide + m_iFill);
    const int firstWidth = firstEnd - m_iSlide;
    if (firstWidth > 0)
        draw(m_pForeground, FRect(bar.left, bar.top, bar.left + firstWidth, bar.top + height),
             FRect(m_iSlide, 0, firstEnd, height));
    const int secondEnd = m_iFill >= foregroundWidth ? m_iSlide : m_iFill - firstWidth;
    if (secondEnd > 0)
        draw(m_pForeground,
             FRect(bar.left + firstWidth, bar.top, bar.left + firstWidth + secondEnd, bar.top + height),
             FRect(0, 0, secondEnd, height));
}
