#include "FUiFrame.h"

#include <algorithm>

#include "FIUiPixmap.h"
#include "FPropList.h"
#include "FUiWidgetFrame.h"
#include "FUiWidgets.h"

namespace
{

class FUiFrameCreator final : public FUiWidgetCreator<FUiFrame>
{
};

// The caption is deleted by the frame itself; its content box is its child.
FIUiObject* CreateCaption(FUiObject* frame, FPropList* tag)
{
    for (FPropList* child = tag->GetFirstChild(); child; child = child->GetNext()) {
        if (child->GetName() == "TEXT")
            return CreateChildWidget(frame, child); // a second TEXT tag is ignored
    }
    return nullptr;
}

} // namespace

bool RegisterUiFrame(FIUiObjectFactory* factory)
{
    return RegisterUiWidgetCreator<FUiFrameCreator>(factory, "FRAME");
}

FUiFrame::FUiFrame(const char* typeName) : FUiObject(typeName), m_onPress(FWideString("ON_PRESS")) {}

FUiFrame::~FUiFrame()
{
    delete m_pCaption;
}

bool FUiFrame::ConnectRelays()
{
    if (m_pWindow)
        m_onPress.Connect(m_pWindow);
    else
        m_onPress.ConnectToApp(m_pApp);
    if (m_pCaption)
        m_pCaption->ConnectRelays();
    return m_pBox ? m_pBox->ConnectRelays() : true;
}

FIUiRelay* FUiFrame::GetUiRelay(const FWideString& name)
{
    return LookUpUiRelayThroughChildren(this, m_pBox, name);
}

bool FUiFrame::InitUiObject(FIUiApp* app, FIUiWindow* window, FIUiObject* parent, FPropList* tag)
{
    FUiObject::InitUiObject(app, window, parent, tag);
    if (!tag)
        return false;
    bool found[6] = {};
    m_iScriptMinWidth = tag->GetInt("MinHSize", 0, &found[0]);
    m_iScriptMinHeight = tag->GetInt("MinVSize", 0, &found[1]);
    m_iHStretch = tag->GetInt("HStretch", 0, &found[2]);
    m_iVStretch = tag->GetInt("VStretch", 0, &found[3]);
    m_frameColor = tag->GetColor("FrameColor", m_frameColor, &found[4]);
    m_iThickness = std::clamp(tag->GetInt("FrameThickness", 0, &found[5]), 0, kMaxWidgetSize);
    if (!std::all_of(std::begin(found), std::end(found), [](bool f) { return f; }))
        return false;
    m_fillColor = tag->GetColor("_FillColor", m_fillColor, &m_bFill);
    m_bClickable = tag->GetBool("_Clickable", false);
    m_bVisible = tag->GetBool("_Visible", true);
    for (FPropList* child = tag->GetFirstChild(); child; child = child->GetNext()) {
        if (child->GetName() == "ON_PRESS")
            m_onPress.ReadRelay(child);
    }
    m_pCaption = CreateCaption(this, tag);
    m_pBox = CreateContentBox(this, tag);
    if (m_pBox)
        AppendChild(m_pBox);
    priMinimums();
    return true;
}

void FUiFrame::priMinimums()
{
    const long long t = m_iThickness;
    const long long bw = m_pBox ? m_pBox->GetLayoutObject(true)->GetMinSize() : 1;
    const long long bh = m_pBox ? m_pBox->GetLayoutObject(false)->GetMinSize() : 1;
    long long width = 0, height = 0;
    if (m_pCaption) {
        const long long cw = m_pCaption->GetLayoutObject(true)->GetMinSize();
        const long long ch = m_pCaption->GetLayoutObject(false)->GetMinSize();
        const long long f = ch / 2;
        long long top = 0, extra = 0;
        if (t < ch - f) {
            top = ch;
            extra = ch - f - t;
        } else {
            top = t + f;
        }
        const long long s = t + extra;
        m_iTopInset = SaturatedSize(top);
        m_iSideInset = SaturatedSize(s);
        m_iCaptionX = SaturatedSize(t + f);
        width = std::max(bw + 2 * s, cw + 2 * (f + s));
        height = s + top + bh;
    } else {
        m_iTopInset = SaturatedSize(t);
        m_iSideInset = SaturatedSize(t);
        m_iCaptionX = 0;
        width = bw + 2 * t;
        height = bh + 2 * t;
    }
    width = std::max<long long>(width, m_iScriptMinWidth);
    height = std::max<long long>(height, m_iScriptMinHeight);
    SetWidgetLayout(m_hLayout, SaturatedSize(width), m_iHStretch);
    SetWidgetLayout(m_vLayout, SaturatedSize(height), m_iVStretch);
}

bool FUiFrame::ReInitLayout()
{
    if (m_pBox)
        m_pBox->ReInitLayout();
    // The caption renders its text again here after a language change.
    if (m_pCaption)
        m_pCaption->ReInitLayout();
    priMinimums();
    return true;
}

bool FUiFrame::SetRect(int x, int y, int width, int height)
{
    width = PlacedWidgetLength(m_hLayout, width);
    height = PlacedWidgetLength(m_vLayout, height);
    const int s = m_iSideInset;
    const int top = m_iTopInset;
    if (m_pCaption) {
        // Placed with or without a content box, so that it never draws at the window's corner.
        m_pCaption->SetRect(x + m_iCaptionX, y, m_pCaption->GetLayoutObject(true)->GetMinSize(),
                            m_pCaption->GetLayoutObject(false)->GetMinSize());
    }
    if (!m_pBox) {
        m_rect = OffsetWidgetRect(FRect(0, 0, width, height), x, y);
        return true;
    }
    const long long boxWidth = static_cast<long long>(width) - 2LL * s;
    const long long boxHeight = static_cast<long long>(height) - s - top;
    if (!m_pBox->SetRect(x + s, y + top, SaturatedSize(boxWidth), SaturatedSize(boxHeight)))
        return false;
    const FRect box = m_pBox->GetRect();
    m_rect = FRect(box.left - s, box.top - top, box.right + s, box.bottom + s);
    return true;
}

void FUiFrame::Display(FIUiPixmap* target, int xOffset, int yOffset, const FRect& clip)
{
    if (!m_bVisible)
        return;
    FRect r = OffsetWidgetRect(m_rect, xOffset, yOffset);
    if (m_pCaption)
        r.top += m_pCaption->GetLayoutObject(false)->GetMinSize() / 2;
    const int t = m_iThickness;
    const FRect inside(r.left + t, r.top + t, r.right - t, r.bottom - t);
    if (!IsWidgetRectEmpty(IntersectWidgetRects(r, clip))) {
        if (m_pCaption) {
            const int captionWidth = m_pCaption->GetRect().Width();
            FillWidgetRect(target, FRect(r.left, r.top, r.left + m_iCaptionX - 2, r.top + t), clip,
                           m_frameColor);
            FillWidgetRect(target, FRect(r.left + m_iCaptionX + captionWidth + 2, r.top, r.right, r.top + t),
                           clip, m_frameColor);
        } else {
            FillWidgetRect(target, FRect(r.left, r.top, r.right, r.top + t), clip, m_frameColor);
        }
        FillWidgetRect(target, FRect(r.left, r.bottom - t, r.right, r.bottom), clip, m_frameColor);
        FillWidgetRect(target, FRect(r.left, r.top, r.left + t, r.bottom), clip, m_frameColor);
        FillWidgetRect(target, FRect(r.right - t, r.top, r.right, r.bottom), clip, m_frameColor);
        if (m_bFill)
            FillWidgetRect(target, inside, clip, m_fillColor);
    }
    if (m_pCaption)
        m_pCaption->Display(target, xOffset, yOffset, clip);
    if (m_pBox) {
        const FRect boxClip = IntersectWidgetRects(inside, clip);
        if (!IsWidgetRectEmpty(boxClip))
            m_pBox->Display(target, xOffset, yOffset, boxClip);
    }
}

FIUiObject* FUiFrame::HitTest(int x, int y)
{
    if (!WidgetRectContains(m_rect, x, y))
        return nullptr;
    if (m_bClickable)
        return this;
    return m_pBox ? m_pBox->HitTest(x, y) : nullptr;
}

bool FUiFrame::MouseDown(int, int, bool, bool)
{
    m_onPress.Fire(nullptr);
    // Not handled: a window without a title bar is dragged by its frames.
    return false;
}

bool FUiFrame::UiRelayMessage(const FWideString& message, void* data)
{
    if (message == "SetColor") {
        FUiColor colour;
        if (data && ParseWidgetColor(*static_cast<const FWideString*>(data), colour)) {
            m_bFill = true;
            m_fillColor = colour;
            InvalidateWidgetRect(m_pWindow, m_rect, false);
        }
        return true;
    }
    bool changed = false;
    if (HandleWidgetVisibility(message, data, m_bVisible, changed)) {
        if (changed)
            InvalidateWidgetRect(m_pWindow, m_rect, false);
        return true;
    }
    return true;
}
