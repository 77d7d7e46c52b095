#include "FUiImage.h"

#include <algorithm>

#include "FIUiApp.h"
#include "FIUiPixmap.h"
#include "FPropList.h"
#include "FUiWidgetFrame.h"
#include "FUiWidgets.h"

namespace
{

class FUiImageCreator final : public FUiWidgetCreator<FUiImage>
{
};

class FUiResizedImageCreator final : public FUiWidgetCreator<FUiResizedImage>
{
};

// A new picture of the rectangle's size with the whole source scaled onto it.
FIUiPixmap* ScaledPicture(FIUiPixmap* source, const FRect& rect)
{
    if (!source || IsWidgetRectEmpty(rect))
        return nullptr;
    FIUiPixmap* picture = CreateUiPixmap(rect.Width(), rect.Height(), true);
    if (!picture)
        return nullptr;
    source->Blit(picture, FRect(0, 0, rect.Width(), rect.Height()),
                 FRect(0, 0, source->GetWidth(), source->GetHeight()));
    return picture;
}

bool HitsPicture(FIUiPixmap* picture, const FRect& rect, int x, int y)
{
    return picture->GetAlpha(x - rect.left, y - rect.top) > 128;
}

} // namespace

bool RegisterUiImage(FIUiObjectFactory* factory)
{
    return RegisterUiWidgetCreator<FUiImageCreator>(factory, "IMAGE");
}

bool RegisterUiResizedImage(FIUiObjectFactory* factory)
{
    return RegisterUiWidgetCreator<FUiResizedImageCreator>(factory, "RESIZED_IMAGE");
}

// ---- IMAGE ----

FUiImage::FUiImage(const char* typeName) : FUiObject(typeName)
{
    m_pOnPress = AddEvent(FWideString("ON_PRESS"));
}

FUiImage::~FUiImage()
{
    ReleaseUiPixmap(m_pSource);
    ReleaseUiPixmap(m_pPicture);
}

FIUiRelay* FUiImage::GetUiRelay(const FWideString& name)
{
    return LookUpUiRelayThroughChildren(this, m_pBox, name);
}

bool FUiImage::InitUiObject(FIUiApp* app, FIUiWindow* window, FIUiObject* parent, FPropList* tag)
{
    FUiObject::InitUiObject(app, window, parent, tag);
    if (!tag)
        return false;
    m_pSource = LoadPixmapFromTag(tag, "File_Image", nullptr);
    m_bUseAlphaForHitTest = tag->GetBool("_UseAlphaForHitTest", true);
    m_pBox = CreateContentBox(this, tag);
    if (m_pBox)
        AppendChild(m_pBox);
    m_iMinHSize = tag->GetInt("_MinHSize", -1, &m_bMinHGiven);
    m_iMinVSize = tag->GetInt("_MinVSize", -1, &m_bMinVGiven);
    m_iHStretch = std::max(tag->GetInt("_HStretch", 0), 0);
    m_iVStretch = std::max(tag->GetInt("_VStretch", 0), 0);
    int width = 0, height = 0;
    if (!priMinimums(width, height)) {
        DeleteUiObjectChain(m_pFirstChild);
        m_pBox = nullptr;
        return false;
    }
    m_bVisible = tag->GetBool("_Visible", true);
    SetWidgetLayout(m_hLayout, width, m_iHStretch);
    SetWidgetLayout(m_vLayout, height, m_iVStretch);
    return true;
}

bool FUiImage::priMinimums(int& width, int& height)
{
    width = (m_bMinHGiven || !m_pSource) ? m_iMinHSize : m_pSource->GetWidth();
    height = (m_bMinVGiven || !m_pSource) ? m_iMinVSize : m_pSource->GetHeight();
    width = std::max(width, 0);
    height = std::max(height, 0);
    if (!m_pBox)
        return true;
    const int boxWidth = m_pBox->GetLayoutObject(true)->GetMinSize();
    const int boxHeight = m_pBox->GetLayoutObject(false)->GetMinSize();
    if (boxWidth > width) {
        if (m_iHStretch == 0)
            return false;
        width = boxWidth;
    }
    if (boxHeight > height) {
        if (m_iVStretch == 0)
            return false;
        height = boxHeight;
    }
    return true;
}

bool FUiImage::ReInitLayout()
{
    if (m_pBox)
        m_pBox->ReInitLayout();
    int width = 0, height = 0;
    if (!priMinimums(width, height))
        return false;
    SetWidgetLayout(m_hLayout, width, m_iHStretch);
    SetWidgetLayout(m_vLayout, height, m_iVStretch);
    return true;
}

bool FUiImage::SetRect(int x, int y, int width, int height)
{
    width = PlacedWidgetLength(m_hLayout, width);
    height = PlacedWidgetLength(m_vLayout, height);
    bool ok = true;
    if (m_pBox) {
        ok = m_pBox->SetRect(x, y, width, height);
        if (ok)
            m_rect = m_pBox->GetRect();
    } else {
        m_rect = OffsetWidgetRect(FRect(0, 0, width, height), x, y);
    }
    if (m_pSource) {
        ReleaseUiPixmap(m_pPicture);
        m_pPicture = ScaledPicture(m_pSource, m_rect);
    }
    return ok;
}

void FUiImage::Display(FIUiPixmap* target, int xOffset, int yOffset, const FRect& clip)
{
    if (!m_bVisible)
        return;
    DrawWidgetPicture(m_pPicture, target, OffsetWidgetRect(m_rect, xOffset, yOffset), clip);
    if (m_pBox)
        m_pBox->Display(target, xOffset, yOffset, clip);
}

FIUiObject* FUiImage::HitTest(int x, int y)
{
    if (!WidgetRectContains(m_rect, x, y))
        return nullptr;
    if (m_pBox)
        return m_pBox->HitTest(x, y);
    if (!m_pPicture || !m_bUseAlphaForHitTest || HitsPicture(m_pPicture, m_rect, x, y))
        return this;
    return nullptr;
}

bool FUiImage::MouseDown(int, int, bool, bool)
{
    m_pOnPress->Fire(nullptr);
    return true;
}

bool FUiImage::UiRelayMessage(const FWideString& message, void* data)
{
    if (message == "SetImage") {
        if (!data)
            return false;
        FIUiPixmap* given = static_cast<FIUiPixmap*>(data);
        FIUiPixmap* copy = CreateUiPixmapFromDisplay(given->GetDisplayPixmap(), true);
        ReleaseUiPixmap(m_pSource);
        m_pSource = copy;
        m_bVisible = true;
        ReLayoutWidgetWindow(m_pWindow, 0, 0);
        return false;
    }
    bool changed = false;
    if (!HandleWidgetVisibility(message, data, m_bVisible, changed))
        return false;
    if (changed || message == "ToggleVisibility" || message == "Visibility")
        InvalidateWidgetRect(m_pWindow, m_rect, false);
    return true;
}

// ---- RESIZED_IMAGE ----

FUiResizedImage::FUiResizedImage(const char* typeName) : FUiObject(typeName) {}

FUiResizedImage::~FUiResizedImage()
{
    ReleaseUiPixmap(m_pSource);
    ReleaseUiPixmap(m_pPicture);
}

bool FUiResizedImage::InitUiObject(FIUiApp* app, FIUiWindow* window, FIUiObject* parent, FPropList* tag)
{
    FUiObject::InitUiObject(app, window, parent, tag);
    if (!tag)
        return false;
    m_pSource = LoadPixmapFromTag(tag, "File_Image", nullptr);
    if (!m_pSource)
        return false;
    bool found[5] = {};
    m_resizeRect = tag->GetRect("ResizeRect", FRect(), &found[0]);
    const int minWidth = tag->GetInt("MinHSize", 0, &found[1]);
    const int minHeight = tag->GetInt("MinVSize", 0, &found[2]);
    const int hStretch = tag->GetInt("HStretch", 0, &found[3]);
    const int vStretch = tag->GetInt("VStretch", 0, &found[4]);
    const int imageWidth = m_pSource->GetWidth();
    const int imageHeight = m_pSource->GetHeight();
    const FRect& r = m_resizeRect;
    // A border of at least a pixel on the left and top, at least one pixel that
    // stretches, and nothing outside the image.
    const bool rectOk = r.left > 0 && r.top > 0 && r.right > r.left && r.bottom > r.top &&
                        r.right <= imageWidth && r.bottom <= imageHeight;
    if (!std::all_of(std::begin(found), std::end(found), [](bool f) { return f; }) || !rectOk) {
        ReleaseUiPixmap(m_pSource);
        return false;
    }
    SetWidgetLayout(m_hLayout, std::max(minWidth, imageWidth - r.Width() + 1), hStretch);
    SetWidgetLayout(m_vLayout, std::max(minHeight, imageHeight - r.Height() + 1), vStretch);
    return true;
}

bool FUiResizedImage::SetRect(int x, int y, int width, int height)
{
    width = PlacedWidgetLength(m_hLayout, width);
    height = PlacedWidgetLength(m_vLayout, height);
    m_rect = OffsetWidgetRect(FRect(0, 0, width, height), x, y);
    ReleaseUiPixmap(m_pPicture);
    if (m_pSource && !IsWidgetRectEmpty(m_rect)) {
        m_pPicture = CreateUiPixmap(width, height, true);
        if (m_pPicture)
            m_pSource->DrawNineSliceRect(m_pPicture, m_resizeRect, true);
    }
    return true;
}

void FUiResizedImage::Display(FIUiPixmap* target, int xOffset, int yOffset, const FRect& clip)
{
    // Cut to the clip like every other widget, so that nothing is drawn over
    // what the window did not ask to repaint.
    DrawWidgetPicture(m_pPicture, target, OffsetWidgetRect(m_rect, xOffset, yOffset), clip);
}

FIUiObject* FUiResizedImage::HitTest(int x, int y)
{
    if (!WidgetRectContains(m_rect, x, y))
        return nullptr;
    if (!m_pPicture || HitsPicture(m_pPicture, m_rect, x, y))
        return this;
    return nullptr;
}
