#include "FUiScrolledFrame.h"

#include <algorithm>

#include "FPropList.h"
#include "FUiWidgetFrame.h"
#include "FUiWidgets.h"

namespace
{

class FUiScrolledFrameCreator final : public FUiWidgetCreator<FUiScrolledFrame>
{
};

} // namespace

bool RegisterUiScrolledFrame(FIUiObjectFactory* factory)
{
    return RegisterUiWidgetCreator<FUiScrolledFrameCreator>(factory, "SCROLLED_FRAME");
}

FUiScrolledFrame::FUiScrolledFrame(const char* typeName) : FUiObject(typeName)
{
    m_pSizeChanged = AddEvent(FWideString("SIZECHANGED"));
}

FUiScrolledFrame::~FUiScrolledFrame()
{
    delete m_pScrollbar;
}

int FUiScrolledFrame::priScrollbarWidth() const
{
    return m_pScrollbar ? m_pScrollbar->GetLayoutObject(true)->GetMinSize() : 0;
}

bool FUiScrolledFrame::InitUiObject(FIUiApp* app, FIUiWindow* window, FIUiObject* parent, FPropList* tag)
{
    FUiObject::InitUiObject(app, window, parent, tag);
    if (!tag)
        return false;
    FRequiredWidgetKeys keys(tag);
    keys.Layout(m_iMinHSize, m_iMinVSize, m_iHStretch, m_iVStretch);
    m_iThickness = std::max(0, keys.Int("FrameThickness"));
    const int lineSize = keys.Int("LineSize");
    m_frameColor = keys.Color("FrameColor", m_frameColor);
    if (!keys.AllFound())
        return false;
    // A pitch below one pixel would divide by zero and never scroll.
    m_iPitch = std::max(1, SaturatedSize(static_cast<long long>(lineSize) + tag->GetInt("SpacerSize", 0)));
    m_fillColor = tag->GetColor("_FillColor", m_fillColor, &m_bFillGiven);

    if (FPropList* boxTag = FindContentBoxTag(tag))
        if (FIUiObject* box = CreateChildWidget(this, boxTag))
            AppendChild(box);
    for (FPropList* child = tag->GetFirstChild(); child; child = child->GetNext()) {
        if (child->GetName() == "SCROLLBAR") {
            m_pScrollbar = CreateChildWidget(this, child);
            break;
        }
    }
    if (!m_pScrollbar)
        return false;
    m_pScrollbar->AddEventTarget(FWideString("ON_SCROLL"), FWideString("Scroll"), this);

    const int t = m_iThickness;
    const int sw = priScrollbarWidth();
    const int sh = m_pScrollbar->GetLayoutObject(false)->GetMinSize();
    m_iMinHSize = std::max(m_iMinHSize, SaturatedSize(2LL * t + 1 + sw));
    m_iMinVSize = std::max(m_iMinVSize, SaturatedSize(2LL * t + 1 + sh));
    if (m_pFirstChild)
        m_iMinHSize = std::max(
            m_iMinHSize,
            SaturatedSize(static_cast<long long>(m_pFirstChild->GetLayoutObject(true)->GetMinSize()) + sw +
                          2LL * t));
    SetWidgetLayout(m_hLayout, m_iMinHSize, m_iHStretch);
    SetWidgetLayout(m_vLayout, m_iMinVSize, m_iVStretch);
    return true;
}

bool FUiScrolledFrame::ConnectRelays()
{
    if (m_pScrollbar)
        m_pScrollbar->ConnectRelays();
    return FUiObject::ConnectRelays();
}

FIUiRelay* FUiScrolledFrame::GetUiRelay(const FWideString& name)
{
    return LookUpUiRelayThroughChildren(this, m_pFirstChild, name);
}

FRect FUiScrolledFrame::GetInnerRect() const
{
    const int t = m_iThickness;
    return FRect(m_rect.left + t, m_rect.top + t, m_rect.right - t - priScrollbarWidth(), m_rect.bottom - t);
}

bool FUiScrolledFrame::priPlaceContent()
{
    FIUiObject* box = m_pFirstChild;
    if (!box)
        return true;
    const int t = m_iThickness;
    // The box is placed where it shows, so that its hit tests follow the scroll.
    const long long shift = static_cast<long long>(m_iOffset) * m_iPitch;
    const int top = static_cast<int>(
        std::clamp<long long>(static_cast<long long>(m_rect.top) + t - shift, -0x40000000LL, 0x3FFFFFFFLL));
    const int height = m_bScrolling ? box->GetLayoutObject(false)->GetMinSize() : m_iInnerHeight;
    const bool placed = box->SetRect(m_rect.left + t, m_bScrolling ? top : m_rect.top + t,
                                     std::max(0, m_iInnerWidth), std::max(0, height));
    const FRect r = box->GetRect();
    m_iContentHeight = r.Height();
    m_iContentWidth = r.Width();
    if (m_bScrolling)
        m_iContentHeight += m_iPitch - m_iContentHeight % m_iPitch;
    return placed;
}

bool FUiScrolledFrame::SetRect(int x, int y, int width, int height)
{
    height = height >= m_iMinVSize && m_iVStretch != 0 ? height : m_iMinVSize;
    width = width >= m_iMinHSize && m_iHStretch != 0 ? width : m_iMinHSize;
    const int t = m_iThickness;
    const int sw = priScrollbarWidth();
    m_rect = FRect(x, y, x + width, y + height);
    m_iInnerHeight = height - 2 * t;
    m_iInnerWidth = width - 2 * t - sw;
    m_bScrolling = m_pFirstChild && m_iInnerHeight < m_pFirstChild->GetLayoutObject(false)->GetMinSize();
    if (!m_bScrolling)
        m_iOffset = 0;
    bool placed = priPlaceContent();
    if (m_pScrollbar)
        m_pScrollbar->SetRect(x + width - t - sw, y + t, sw, height - 2 * t);
    const int before = m_iOffset;
    priUpdateScrollInfo();
    if (m_iOffset != before)
        placed = priPlaceContent();
    return placed;
}

void FUiScrolledFrame::priUpdateScrollInfo()
{
    const int window = std::max(0, m_iInnerHeight) / m_iPitch;
    int surface = window;
    if (m_bScrolling) {
        surface = m_iContentHeight / m_iPitch;
        // Kept in range here as well: a bar that refuses the values corrects nothing.
        m_iOffset = std::clamp(m_iOffset, 0, std::max(0, surface - window));
    } else {
        m_iOffset = 0;
    }
    double values[3] = {static_cast<double>(surface), static_cast<double>(window),
                        static_cast<double>(m_iOffset)};
    m_pSizeChanged->Fire(values);
    if (m_pScrollbar)
        m_pScrollbar->UiRelayMessage(FWideString("Set"), values);
}

bool FUiScrolledFrame::UiRelayMessage(const FWideString& message, void* data)
{
    if (message == "Post Creation Initialization") {
        if (m_pScrollbar)
            m_pScrollbar->UiRelayMessage(message, data);
        priUpdateScrollInfo();
        return true;
    }
    if (!data)
        return false;
    if (message == "Scroll") {
        m_iOffset = m_bScrolling ? std::max(0, *static_cast<const int*>(data)) : 0;
        const int window = std::max(0, m_iInnerHeight) / m_iPitch;
        if (m_bScrolling)
            m_iOffset = std::min(m_iOffset, std::max(0, m_iContentHeight / m_iPitch - window));
        priPlaceContent();
        InvalidateWidgetRect(m_pWindow, m_rect, false);
        return true;
    }
    if (message == "Visibility") {
        m_bContentShown = *static_cast<const bool*>(data);
        InvalidateWidgetRect(m_pWindow, m_rect, false);
        return true;
    }
    return false;
}

void FUiScrolledFrame::Display(FIUiPixmap* target, int xOffset, int yOffset, const FRect& clip)
{
    if (!target)
        return;
    const int t = m_iThickness;
    const int sw = priScrollbarWidth();
    const FRect& r = m_rect;
    const FRect bands[] = {
        FRect(r.left, r.top, r.right - sw, r.top + t),
        FRect(r.left, r.bottom - t, r.right, r.bottom),
        FRect(r.left, r.top, r.left + t, r.bottom),
        FRect(r.right - t, r.top, r.right, r.bottom),
    };
    if (t > 0)
        for (const FRect& band : bands)
            FillWidgetRect(target, OffsetWidgetRect(band, xOffset, yOffset), clip, m_frameColor);
    if (m_bFillGiven)
        FillWidgetRect(
            target,
            OffsetWidgetRect(FRect(r.left + t, r.top + t, r.right - t, r.bottom - t), xOffset, yOffset), clip,
            m_fillColor);
    if (m_pScrollbar)
        m_pScrollbar->Display(target, xOffset, yOffset, clip);
    if (m_pFirstChild && m_bContentShown) {
        // Content never spills over the frame, however far it is scrolled.
        const FRect inner = IntersectWidgetRects(OffsetWidgetRect(GetInnerRect(), xOffset, yOffset), clip);
        if (!IsWidgetRectEmpty(inner))
            m_pFirstChild->Display(target, xOffset, yOffset, inner);
    }
}

void FUiScrolledFrame::Tick(int elapsedMs)
{
    if (m_pFirstChild)
        m_pFirstChild->Tick(elapsedMs);
}

FIUiObject* FUiScrolledFrame::HitTest(int x, int y)
{
    if (!WidgetRectContains(m_rect, x, y))
        return nullptr;
    if (m_pScrollbar)
        if (FIUiObject* hit = m_pScrollbar->HitTest(x, y))
            return hit;
    if (m_pFirstChild && m_bContentShown && WidgetRectContains(GetInnerRect(), x, y))
        if (FIUiObject* hit = m_pFirstChild->HitTest(x, y))
            return hit;
    return this;
}

void FUiScrolledFrame::MouseWheel(int x, int y, int flag, int notches)
{
    if (m_pScrollbar)
        m_pScrollbar->MouseWheel(x, y, flag, notches);
}
