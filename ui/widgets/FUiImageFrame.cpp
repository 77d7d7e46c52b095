#include "FUiImageFrame.h"

#include <algorithm>

#include "FIUiPixmap.h"
#include "FPropList.h"
#include "FUiWidgetFrame.h"
#include "FUiWidgets.h"

namespace
{

class FUiImageFrameCreator final : public FUiWidgetCreator<FUiImageFrame>
{
};

bool IsInsideImage(const FRect& r, int width, int height)
{
    return r.Width() >= 1 && r.Height() >= 1 && r.left >= 0 && r.top >= 0 && r.right <= width &&
           r.bottom <= height;
}

} // namespace

bool RegisterUiImageFrame(FIUiObjectFactory* factory)
{
    return RegisterUiWidgetCreator<FUiImageFrameCreator>(factory, "IMAGE_FRAME");
}

FUiImageFrame::FUiImageFrame(const char* typeName) : FUiObject(typeName), m_onPress(FWideString("ON_PRESS"))
{
}

FUiImageFrame::~FUiImageFrame()
{
    ReleaseUiPixmap(m_pImage);
    ReleaseUiPixmap(m_pPicture);
}

bool FUiImageFrame::ConnectRelays()
{
    if (m_pWindow)
        m_onPress.Connect(m_pWindow);
    else
        m_onPress.ConnectToApp(m_pApp);
    return m_pBox ? m_pBox->ConnectRelays() : true;
}

FIUiRelay* FUiImageFrame::GetUiRelay(const FWideString& name)
{
    return LookUpUiRelayThroughChildren(this, m_pBox, name);
}

bool FUiImageFrame::InitUiObject(FIUiApp* app, FIUiWindow* window, FIUiObject* parent, FPropList* tag)
{
    FUiObject::InitUiObject(app, window, parent, tag);
    if (!tag)
        return false;
    m_bNoScale = tag->GetBool("_NoScale", false);
    m_bVisible = tag->GetBool("_Visible", true);
    m_pImage = LoadPixmapFromTag(tag, "File_Image", nullptr);
    if (!m_pImage)
        return false;
    const int imageWidth = m_pImage->GetWidth();
    const int imageHeight = m_pImage->GetHeight();
    if (!m_bNoScale) {
        m_iScriptMinWidth = tag->GetInt("MinHSize", imageWidth);
        m_iScriptMinHeight = tag->GetInt("MinVSize", imageHeight);
        bool hFound = false, vFound = false;
        m_iHStretch = tag->GetInt("HStretch", 0, &hFound);
        m_iVStretch = tag->GetInt("VStretch", 0, &vFound);
        if (!hFound || !vFound)
            return false;
    }
    m_bThreeBand = tag->GetBool("_ResizeScalingY", false);
    bool insideFound = false;
    m_insideRect = tag->GetRect("InsideRect", FRect(), &insideFound);
    if (!insideFound)
        return false;
    m_bOverlay = tag->GetBool("_OverlayFrame", false);
    m_layoutRect = tag->GetRect("_LayoutRect", m_insideRect);
    m_bClickable = tag->GetBool("_Clickable", false);
    if (!IsInsideImage(m_insideRect, imageWidth, imageHeight) ||
        !IsInsideImage(m_layoutRect, imageWidth, imageHeight))
        return false;
    m_iInsetLeft = m_layoutRect.left;
    m_iInsetTop = m_layoutRect.top;
    m_iInsetRight = imageWidth - m_layoutRect.right;
    m_iInsetBottom = imageHeight - m_layoutRect.bottom;
    for (FPropList* child = tag->GetFirstChild(); child; child = child->GetNext()) {
        if (child->GetName() == "ON_PRESS")
            m_onPress.ReadRelay(child);
    }
    m_pBox = CreateContentBox(this, tag);
    if (m_pBox)
        AppendChild(m_pBox);
    priMinimums();
    return true;
}

void FUiImageFrame::priMinimums()
{
    if (m_bNoScale) {
        SetWidgetLayout(m_hLayout, m_pImage->GetWidth(), 0);
        SetWidgetLayout(m_vLayout, m_pImage->GetHeight(), 0);
        return;
    }
    const long long boxWidth = m_pBox ? m_pBox->GetLayoutObject(true)->GetMinSize() : 1;
    const long long boxHeight = m_pBox ? m_pBox->GetLayoutObject(false)->GetMinSize() : 1;
    const long long width = std::max<long long>(m_iScriptMinWidth, boxWidth + m_iInsetLeft + m_iInsetRight);
    const long long height =
        std::max<long long>(m_iScriptMinHeight, boxHeight + m_iInsetTop + m_iInsetBottom);
    SetWidgetLayout(m_hLayout, SaturatedSize(width), m_iHStretch);
    SetWidgetLayout(m_vLayout, SaturatedSize(height), m_iVStretch);
}

bool FUiImageFrame::ReInitLayout()
{
    if (m_pBox)
        m_pBox->ReInitLayout();
    priMinimums();
    return true;
}

bool FUiImageFrame::SetRect(int x, int y, int width, int height)
{
    width = PlacedWidgetLength(m_hLayout, width);
    height = PlacedWidgetLength(m_vLayout, height);
    bool ok = true;
    if (m_pBox) {
        const long long boxWidth = static_cast<long long>(width) - m_iInsetLeft - m_iInsetRight;
        const long long boxHeight = static_cast<long long>(height) - m_iInsetTop - m_iInsetBottom;
        ok = m_pBox->SetRect(x + m_iInsetLeft, y + m_iInsetTop, SaturatedSize(boxWidth),
                             SaturatedSize(boxHeight));
    }
    if (!m_pBox || m_bNoScale) {
        m_rect = OffsetWidgetRect(FRect(0, 0, width, height), x, y);
    } else if (ok) {
        const FRect box = m_pBox->GetRect();
        m_rect = FRect(box.left - m_iInsetLeft, box.top - m_iInsetTop, box.right + m_iInsetRight,
                       box.bottom + m_iInsetBottom);
    }
    ReleaseUiPixmap(m_pPicture);
    if (!m_bNoScale && !IsWidgetRectEmpty(m_rect)) {
        m_pPicture = CreateUiPixmap(m_rect.Width(), m_rect.Height(), true);
        if (m_pPicture && m_bThreeBand)
            m_pImage->DrawThreeSliceRect(m_pPicture, m_insideRect);
        else if (m_pPicture)
            m_pImage->DrawNineSliceRect(m_pPicture, m_insideRect, true);
    }
    return ok;
}

void FUiImageFrame::Display(FIUiPixmap* target, int xOffset, int yOffset, const FRect& clip)
{
    if (!m_bVisible)
        return;
    const FRect r = OffsetWidgetRect(m_rect, xOffset, yOffset);
    const FRect content = IntersectWidgetRects(
        FRect(r.left + m_iInsetLeft, r.top + m_iInsetTop, r.right - m_iInsetRight, r.bottom - m_iInsetBottom),
        clip);
    const bool drawBox = m_pBox && !IsWidgetRectEmpty(content);
    if (m_bOverlay && drawBox)
        m_pBox->Display(target, xOffset, yOffset, content);
    DrawWidgetPicture(m_bNoScale ? m_pImage : m_pPicture, target, r, clip);
    if (!m_bOverlay && drawBox)
        m_pBox->Display(target, xOffset, yOffset, content);
}

FIUiObject* FUiImageFrame::HitTest(int x, int y)
{
    if (!WidgetRectContains(m_rect, x, y))
        return nullptr;
    if (m_bClickable)
        return this;
    return m_pBox ? m_pBox->HitTest(x, y) : nullptr;
}

bool FUiImageFrame::MouseDown(int, int, bool, bool)
{
    m_onPress.Fire(nullptr);
    return false;
}

bool FUiImageFrame::UiRelayMessage(const FWideString& message, void*)
{
    if (message == "Redraw") {
        InvalidateWidgetRect(m_pWindow, m_rect, false);
        return false;
    }
    if (message == "Show" || message == "Hide") {
        m_bVisible = message == "Show";
        InvalidateWidgetRect(m_pWindow, m_rect, false);
        return true;
    }
    return false;
}
