#include "FUiImageView.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

#include "FDebugTrace.h"
#include "FDisplayBlit.h"
#include "FIGenericUiPixmap.h"
#include "FIPMImage.h"
#include "FIUiPixmap.h"
#include "FPixmap.h"
#include "FPropList.h"
#include "FReviewDisplayWidgets.h"

namespace
{

class FUiImageViewCreator final : public FUiWidgetCreator<FUiImageView>
{
};

constexpr int kDisplayPixelType = 13;
// The loupe follows the pointer this far outside the image.
constexpr int kLoupeMargin = 10;
// The side of a pointer picture the windows accept.
constexpr int kCursorSide = 16;
// A loupe larger than any window could never be shown whole.
constexpr int kMaxLoupeSize = 4096;

const FUiColor kBlack(0, 0, 0, 255);
const FUiColor kWhite(255, 255, 255, 255);

enum { kLeft = 0, kTop = 1, kRight = 2, kBottom = 3 };

// Colours for the warning copy: red in the lowest byte, strength in the highest.
uint32_t PackTint(const FUiColor& colour)
{
    return uint32_t(colour.red) | uint32_t(colour.green) << 8 | uint32_t(colour.blue) << 16 |
           uint32_t(colour.alpha) << 24;
}

// A display pixmap with pixels, or null.
FPixmap* DisplayPixmapOf(FIPMImage* image)
{
    FPixmap* pixmap = image ? image->GetPixmap() : nullptr;
    if (!pixmap || pixmap->GetPixelType() != kDisplayPixelType || !pixmap->GetBuffer() ||
        pixmap->GetCols() < 0 || pixmap->GetRows() < 0)
        return nullptr;
    return pixmap;
}

void ReleaseImage(FIPMImage*& image)
{
    if (image)
        image->Release();
    image = nullptr;
}

// A copy of the label whose colour is replaced, its coverage kept (and scaled by the colour's alpha).
FIUiPixmap* TintedLabel(FIUiPixmap* label, const FUiColor& colour)
{
    FIUiPixmap* copy = CreateUiPixmapFromDisplay(label->GetDisplayPixmap(), true);
    auto* generic = dynamic_cast<FIGenericUiPixmap*>(copy);
    if (!generic) {
        ReleaseUiPixmap(copy);
        return nullptr;
    }
    generic->SetRGB(colour.red, colour.green, colour.blue);
    if (colour.alpha != 255)
        generic->ScaleAlpha(colour.alpha);
    return copy;
}

bool ClampedToImage(int& value, int low, int high)
{
    if (high <= low)
        return false;
    value = std::clamp(value, low, high - 1);
    return true;
}

} // namespace

bool RegisterImageViewCreator(FIUiObjectFactory* factory)
{
    return RegisterUiWidgetCreator<FUiImageViewCreator>(factory, "IMAGE_VIEW");
}

FUiImageView::FUiImageView(const char* typeName) : FUiObject(typeName)
{
    m_pOnNewImage = AddEvent(FWideString("ON_NEW_IMAGE"));
    m_pOnImageResize = AddEvent(FWideString("ON_IMAGE_RESIZE"));
    m_pOnNeedLoupeImage = AddEvent(FWideString("ON_NEED_LOUPE_IMAGE"));
    m_pOnGrayBalanceXY = AddEvent(FWideString("ON_REPORT_GRAY_BALANCE_XY"));
}

FUiImageView::~FUiImageView()
{
    if (m_bPointerHidden)
        priShowPointer(true);
    if (m_bCursorSet)
        SetWidgetCursor(m_pWindow, nullptr, 0, 0);
    ReleaseUiPixmap(m_pCursor);
    ReleaseUiPixmap(m_pEyeDropper);
    ReleaseUiPixmap(m_pLabelShadow);
    for (FIUiPixmap*& label : m_pLabelColours)
        ReleaseUiPixmap(label);
    ReleaseImage(m_pLoupeImage);
    ReleaseImage(m_pImage);
}

bool FUiImageView::InitUiObject(FIUiApp* app, FIUiWindow* window, FIUiObject* parent, FPropList* tag)
{
    FUiObject::InitUiObject(app, window, parent, tag);
    if (!tag)
        return false;
    m_font.Read(tag);
    m_pEyeDropper = LoadPixmapFromTag(tag, "File_EyeDropperIcon", nullptr);
    const bool allFound = m_keys.Read(tag, m_hLayout, m_vLayout);
    m_labelRed = tag->GetColor("_LoupeLabelRed", m_labelRed);
    m_labelGreen = tag->GetColor("_LoupeLabelGre", m_labelGreen);
    m_labelBlue = tag->GetColor("_LoupeLabelBlu", m_labelBlue);
    m_pCursor = LoadPixmapFromTag(tag, "File_Cursor", nullptr);
    m_iCursorX = tag->GetInt("CursorX", 0);
    m_iCursorY = tag->GetInt("CursorY", 0);
    if (!m_pEyeDropper || !allFound) {
        DebugTrace("IMAGE_VIEW %s: a required key is missing or its picture does not load.\n",
                   m_usFullName.GetNarrow());
        return false;
    }
    if (m_pCursor && (m_pCursor->GetWidth() != kCursorSide || m_pCursor->GetHeight() != kCursorSide)) {
        DebugTrace("IMAGE_VIEW %s: File_Cursor is %dx%d, not 16x16; the standard pointer stays.\n",
                   m_usFullName.GetNarrow(), m_pCursor->GetWidth(), m_pCursor->GetHeight());
        ReleaseUiPixmap(m_pCursor);
    }
    m_iFrameThickness = std::clamp(m_keys.frameThickness, 0, kMaxWidgetSize);
    m_iLoupeSize = std::clamp(tag->GetInt("LoupeSize", 64), 1, kMaxLoupeSize);
    m_bVisible = tag->GetBool("_Visible", true);
    m_bCrop = tag->GetBool("_Crop", false);
    m_cropBarColor = tag->GetColor("_CropBarColor", m_cropBarColor);
    m_cropImageColor = tag->GetColor("_CropImageColor", m_cropImageColor);
    m_shadowColor = tag->GetColor("ShadowColor", m_shadowColor);
    m_highlightColor = tag->GetColor("HighlightColor", m_highlightColor);
    m_loupeRect = FRect(0, 0, m_iLoupeSize, m_iLoupeSize);
    return true;
}

bool FUiImageView::ConnectRelays()
{
    // Each of the four must resolve in the view's window.
    bool all = true;
    for (RelayEvent* event : {m_pOnNewImage, m_pOnImageResize, m_pOnNeedLoupeImage, m_pOnGrayBalanceXY})
        all = (m_pWindow ? event->Connect(m_pWindow) : event->ConnectToApp(m_pApp)) && all;
    return all;
}

// ---- Helpers ----

void FUiImageView::priRepaint(const FRect& rect)
{
    if (!IsWidgetRectEmpty(rect))
        InvalidateWidgetRect(m_pWindow, rect, false);
}

void FUiImageView::priRepaintLastLoupe()
{
    if (m_bLoupeDrawn)
        priRepaint(m_lastLoupeRect);
}

void FUiImageView::priShowPointer(bool show)
{
    ShowWindowPointer(m_pWindow, show);
    m_bPointerHidden = !show;
}

void FUiImageView::priDropImage(bool repaint)
{
    if (!m_pImage)
        return;
    ReleaseImage(m_pImage);
    if (repaint)
        priRepaint(m_imageRect);
}

void FUiImageView::priDropLoupeImage()
{
    ReleaseImage(m_pLoupeImage);
}

// ---- Layout ----

bool FUiImageView::SetRect(int x, int y, int width, int height)
{
    if (!PlaceReviewWidget(m_hLayout, m_vLayout, x, y, width, height, m_rect))
        return true;
    priDropImage(false);
    priDropLoupeImage();
    m_bImagePlaced = false;
    const int t = m_iFrameThickness;
    const FRect& o = m_rect;
    m_innerRect = FRect(o.left + t, o.top + t, o.right - t, o.bottom - t);
    // A frame thicker than half the view leaves no room rather than a negative one.
    int size[2] = {std::max(0, o.Width() - 2 * t), std::max(0, o.Height() - 2 * t)};
    m_pOnImageResize->Fire(size);
    priRepaint(m_rect);
    return true;
}

// ---- Messages ----

bool FUiImageView::UiRelayMessage(const FWideString& message, void* data)
{
    if (message == "Post Creation Initialization") {
        int size[2] = {std::max(0, m_innerRect.Width()), std::max(0, m_innerRect.Height())};
        m_pOnImageResize->Fire(size);
        return true;
    }
    if (message == "we're goin' bye-bye") {
        priShowPointer(true);
        return true;
    }
    if (message == "Clear") {
        priDropImage(true);
        priDropLoupeImage();
        priRepaintLastLoupe();
        return true;
    }
    if (message == "NewImage") {
        if (!data)
            return false;
        priNewImage(static_cast<FIPMImage*>(data));
        return true;
    }
    if (message == "ToggleLoupe" || message == "SetEnabled") {
        if (message == "SetEnabled" && !data)
            return false;
        m_bLoupeEnabled = data ? *static_cast<bool*>(data) : !m_bLoupeEnabled;
        if (!m_bLoupeEnabled)
            priRepaint(m_loupeRect);
        return true;
    }
    if (message == "LoupeOffImage") {
        priShowPointer(true);
        priDropLoupeImage();
        if (m_bLoupeDrawn) {
            m_bLoupeDrawn = false;
            priRepaint(m_lastLoupeRect);
        }
        return true;
    }
    if (message == "NewLoupeImage") {
        if (!data)
            return false;
        const auto* loupe = static_cast<const FLoupeImageMessage*>(data);
        if (!loupe->image)
            return true;
        m_loupeRect = FRect(loupe->left, loupe->top, loupe->left + m_loupeRect.Width(),
                            loupe->top + m_loupeRect.Height());
        loupe->image->AddRef();
        priDropLoupeImage();
        m_pLoupeImage = loupe->image;
        priRepaint(m_loupeRect);
        priRepaintLastLoupe();
        return true;
    }
    if (message == "ToggleGrayBalance") {
        m_bGrayMode = !m_bGrayMode;
        return true;
    }
    if (message == "EnableGrayBalance") {
        if (!data)
            return false;
        m_bGrayMode = *static_cast<bool*>(data);
        return true;
    }
    if (message == "CheckLoupeState") {
        if (!data)
            return false;
        *static_cast<bool*>(data) = m_bLoupeEnabled;
        return true;
    }
    if (message == "EnableWarnings") {
        if (!data)
            return false;
        m_bWarnings = *static_cast<bool*>(data);
        priRepaint(m_imageRect);
        return true;
    }
    if (message == "SetShadowWarning" || message == "SetHighlightWarning") {
        if (!data)
            return false;
        // Levels outside a byte would mark every pixel or none; they are held to the byte range.
        const int level = std::clamp(*static_cast<int*>(data), -1, 256);
        (message == "SetShadowWarning" ? m_iShadowLevel : m_iHighlightLevel) = level;
        priRepaint(m_imageRect);
        return true;
    }
    if (message == "CropTransparency") {
        if (!data)
            return false;
        const double x = *static_cast<double*>(data);
        if (!std::isfinite(x)) {
            DebugTrace("IMAGE_VIEW %s: CropTransparency ignores a value that is not finite.\n",
                       m_usFullName.GetNarrow());
            return true;
        }
        const double t = std::clamp(x, 0.0, 1.0);
        m_cropImageColor.alpha = static_cast<uint8_t>(std::trunc(255 * t));
        m_cropBarColor.alpha = static_cast<uint8_t>(55 + std::trunc(200 * t));
        priRepaint(m_innerRect);
        return true;
    }
    return FUiObject::UiRelayMessage(message, data);
}

void FUiImageView::priNewImage(FIPMImage* image)
{
    priDropImage(true);
    priDropLoupeImage();
    priRepaintLastLoupe();
    if (m_bLoupeEnabled && m_bOverImage)
        priRequestLoupeImage();
    image->AddRef();
    m_pImage = image;
    FPixmap* pixmap = DisplayPixmapOf(image);
    const int w = pixmap ? pixmap->GetCols() : 0;
    const int h = pixmap ? pixmap->GetRows() : 0;
    if (!pixmap || w > m_innerRect.Width() || h > m_innerRect.Height()) {
        if (pixmap)
            DebugTrace("ERROR: ImageView control was sent an image that is too big!!!\n");
        else
            DebugTrace("ERROR: ImageView control was sent an image without display pixels.\n");
        ReleaseImage(m_pImage);
        if (pixmap)
            DebugTrace("ERROR: ImageView control was sent an image that's too big!!!\n");
        return;
    }
    const int left = m_innerRect.left + (m_innerRect.Width() - w) / 2;
    const int top = m_innerRect.top + (m_innerRect.Height() - h) / 2;
    m_imageRect = FRect(left, top, left + w, top + h);
    m_bImagePlaced = true;
    priPlaceCropBars();
    priRepaint(m_bCrop ? m_innerRect : m_imageRect);
}

// ---- Crop ----

void FUiImageView::priPlaceCropBars()
{
    const int t = m_iFrameThickness;
    const double w = m_imageRect.Width();
    const double h = m_imageRect.Height();
    const int xl = m_imageRect.left + static_cast<int>(std::trunc(w * m_crop[kLeft]));
    const int xr = m_imageRect.left + static_cast<int>(std::trunc(w * m_crop[kRight]));
    const int yt = m_imageRect.top + static_cast<int>(std::trunc(h * m_crop[kTop]));
    const int yb = m_imageRect.top + static_cast<int>(std::trunc(h * m_crop[kBottom]));
    m_cropBars[kLeft] = FRect(xl - t, m_rect.top, xl, m_rect.bottom);
    m_cropBars[kTop] = FRect(m_rect.left, yt - t, m_rect.right, yt);
    m_cropBars[kRight] = FRect(xr, m_rect.top, xr + t, m_rect.bottom);
    m_cropBars[kBottom] = FRect(m_rect.left, yb, m_rect.right, yb + t);
}

void FUiImageView::priDragCropBars(int x, int y)
{
    const FRect& image = m_imageRect;
    for (int bar = 0; bar < 4; ++bar) {
        if (!m_cropDragging[bar])
            continue;
        // The part of the view between the bar and the side it belongs to.
        const auto barSide = [this, bar] {
            const FRect& r = m_cropBars[bar];
            const FRect& o = m_rect;
            const FRect sides[4] = {
                FRect(o.left, o.top, r.right, o.bottom), FRect(o.left, o.top, o.right, r.bottom),
                FRect(r.left, o.top, o.right, o.bottom), FRect(o.left, r.top, o.right, o.bottom)};
            return sides[bar];
        };
        priRepaint(barSide());
        const bool horizontal = bar == kLeft || bar == kRight;
        int value = horizontal ? x : y;
        const int low = horizontal ? image.left : image.top;
        const int high = horizontal ? image.right : image.bottom;
        if (!ClampedToImage(value, low, high))
            continue;
        m_crop[bar] = double(value - low) / double(high - low);
        priPlaceCropBars();
        priRepaint(barSide());
    }
}

void FUiImageView::priDrawCrop(FIUiPixmap* target, const FRect& clip)
{
    for (const FRect& bar : m_cropBars) {
        const FRect r = IntersectWidgetRects(bar, clip);
        if (!IsWidgetRectEmpty(r))
            target->BlendRect(r, m_cropBarColor);
    }
    const FRect& i = m_imageRect;
    const FRect& l = m_cropBars[kLeft];
    const FRect& t = m_cropBars[kTop];
    const FRect& r = m_cropBars[kRight];
    const FRect& b = m_cropBars[kBottom];
    const FRect shaded[8] = {
        FRect(i.left, i.top, l.left, t.top),        FRect(l.right, i.top, r.left, t.top),
        FRect(r.right, i.top, i.right, t.top),      FRect(i.left, b.bottom, l.left, i.bottom),
        FRect(l.right, b.bottom, r.left, i.bottom), FRect(r.right, b.bottom, i.right, i.bottom),
        FRect(i.left, t.bottom, l.left, b.top),     FRect(r.right, t.bottom, i.right, b.top),
    };
    for (const FRect& part : shaded) {
        const FRect c = IntersectWidgetRects(part, clip);
        if (!IsWidgetRectEmpty(c))
            target->BlendRect(c, m_cropImageColor);
    }
}

// ---- Drawing ----

void FUiImageView::priCopyImage(FIUiPixmap* target, FIPMImage* image, const FRect& destination,
                                const FRect& source)
{
    FPixmap* pixmap = DisplayPixmapOf(image);
    FPixmap* screen = target->GetDisplayPixmap();
    if (!pixmap || !screen)
        return;
    if (m_bWarnings)
        BlendDisplayPixmapRect(screen, &destination, pixmap, &source, m_iShadowLevel, m_iHighlightLevel,
                               PackTint(m_shadowColor), PackTint(m_highlightColor));
    else
        CopyDisplayPixmapRect(screen, &destination, pixmap, &source);
}

void FUiImageView::Display(FIUiPixmap* target, int, int, const FRect& clip)
{
    if (!m_bVisible || !target || IsWidgetRectEmpty(IntersectWidgetRects(m_rect, clip)))
        return;
    const int t = m_iFrameThickness;
    const FRect& o = m_rect;
    FillWidgetRect(target, FRect(o.left, o.top, o.right, o.top + t), clip, m_keys.frameColor);
    FillWidgetRect(target, FRect(o.left, o.bottom - t, o.right, o.bottom), clip, m_keys.frameColor);
    FillWidgetRect(target, FRect(o.left, o.top, o.left + t, o.bottom), clip, m_keys.frameColor);
    FillWidgetRect(target, FRect(o.right - t, o.top, o.right, o.bottom), clip, m_keys.frameColor);
    if (m_pImage) {
        // The image is copied opaque over its rectangle: only the area around it needs the fill.
        const FRect& n = m_innerRect;
        const FRect& i = m_imageRect;
        FillWidgetRect(target, FRect(n.left, n.top, n.right, i.top), clip, m_keys.fillColor);
        FillWidgetRect(target, FRect(n.left, i.bottom, n.right, n.bottom), clip, m_keys.fillColor);
        FillWidgetRect(target, FRect(n.left, i.top, i.left, i.bottom), clip, m_keys.fillColor);
        FillWidgetRect(target, FRect(i.right, i.top, n.right, i.bottom), clip, m_keys.fillColor);
    } else {
        FillWidgetRect(target, m_innerRect, clip, m_keys.fillColor);
    }
    if (m_pImage) {
        const FRect d = IntersectWidgetRects(m_imageRect, clip);
        if (!IsWidgetRectEmpty(d)) {
            const FRect s = OffsetWidgetRect(d, -m_imageRect.left, -m_imageRect.top);
            priCopyImage(target, m_pImage, d, s);
        }
        if (m_bCrop)
            priDrawCrop(target, clip);
    }
    if (m_bLoupeEnabled && m_bOverImage && m_pLoupeImage)
        priDrawLoupe(target, clip);
    else if (m_bPointerHidden)
        priShowPointer(true);
}

void FUiImageView::priDrawLoupe(FIUiPixmap* target, const FRect& clip)
{
    FPixmap* pixmap = DisplayPixmapOf(m_pLoupeImage);
    const int pw = pixmap ? pixmap->GetCols() : 0;
    const int ph = pixmap ? pixmap->GetRows() : 0;
    const FRect& loupe = m_loupeRect;
    FRect d = loupe;
    // A loupe past an edge of the photograph gets a smaller image, held against the far side.
    if (d.Width() != pw || d.Height() != ph) {
        if (d.left < (m_imageRect.left + m_imageRect.right) / 2)
            d.left = d.right - pw;
        else
            d.right = d.left + pw;
        if (d.top < (m_imageRect.top + m_imageRect.bottom) / 2)
            d.top = d.bottom - ph;
        else
            d.bottom = d.top + ph;
    }
    FRect s(0, 0, pw, ph);
    if (pixmap && pw > 0 && ph > 0 && ClipWidgetRects(clip, d, s)) {
        if (!m_bPointerHidden)
            priShowPointer(false);
        FillWidgetRect(target, loupe, clip, kBlack);
        priCopyImage(target, m_pLoupeImage, d, s);
    }
    m_lastLoupeRect = loupe;
    m_bLoupeDrawn = true;
    target->DrawFrame(loupe, kBlack, &clip);
    const int cx = loupe.left + loupe.Width() / 2;
    const int cy = loupe.top + loupe.Height() / 2;
    FUiColor centre;
    target->GetPixel(cx, cy, centre);
    const int average = (centre.red + centre.green + centre.blue) / 3;
    target->DrawFrame(FRect(cx - 3, cy - 3, cx + 4, cy + 4), average >= 128 ? kBlack : kWhite, &clip);
    if (m_bGrayMode && m_pEyeDropper) {
        const FRect icon(cx, cy - m_pEyeDropper->GetHeight(), cx + m_pEyeDropper->GetWidth(), cy);
        DrawWidgetPicture(m_pEyeDropper, target, icon, clip);
    }
    if (!pixmap || pw <= 0 || ph <= 0)
        return;
    int column = loupe.Width() / 2;
    if (loupe.Width() != pw && loupe.left < m_imageRect.left)
        column = pw - loupe.Width() / 2 - 1;
    int row = loupe.Height() / 2;
    if (loupe.Height() != ph && loupe.top < m_imageRect.top)
        row = ph - loupe.Height() / 2 - 1;
    column = std::clamp(column, 0, pw - 1);
    row = std::clamp(row, 0, ph - 1);
    const uint8_t* p = pixmap->GetRowAddress(row) + ptrdiff_t(column) * 4;
    priDrawReadout(target, clip, p[2], p[1], p[0]);
}

void FUiImageView::priDrawReadout(FIUiPixmap* target, const FRect& clip, int red, int green, int blue)
{
    char text[16];
    std::snprintf(text, sizeof(text), "%03d %03d %03d", red, green, blue);
    m_readoutText = text;
    if (m_labelText != m_readoutText || !m_pLabelShadow) {
        ReleaseUiPixmap(m_pLabelShadow);
        for (FIUiPixmap*& label : m_pLabelColours)
            ReleaseUiPixmap(label);
        m_labelText = m_readoutText;
        // The colours are laid over the plain text; a background box goes under it, so it
        // never takes the label colours itself.
        FUiInlineFont plain = m_font;
        plain.hasBackground = false;
        FIUiPixmap* label = RenderInlineFontText(plain, FWideString(text), nullptr);
        if (!label)
            return;
        m_pLabelShadow = TintedLabel(label, kBlack);
        const FUiColor* colours[3] = {&m_labelRed, &m_labelGreen, &m_labelBlue};
        for (int k = 0; k < 3; ++k)
            m_pLabelColours[k] = TintedLabel(label, *colours[k]);
        ReleaseUiPixmap(label);
    }
    if (!m_pLabelShadow)
        return;
    const int tw = m_pLabelShadow->GetWidth();
    const int th = m_pLabelShadow->GetHeight();
    const FRect& loupe = m_loupeRect;
    const bool pastRight = loupe.right > m_imageRect.right;
    const bool pastBottom = loupe.bottom > m_imageRect.bottom;
    const int x = pastRight ? loupe.left + 2 : loupe.right - tw - 3;
    const int y = pastBottom ? loupe.top + 2 : loupe.bottom - th - 3;
    m_readoutRect = FRect(x, y, x + tw, y + th);
    if (m_font.hasBackground)
        target->BlendRect(IntersectWidgetRects(m_readoutRect, clip), m_font.background);
    DrawWidgetPicture(m_pLabelShadow, target, m_readoutRect, clip);
    const int third = tw / 3;
    for (int k = 0; k < 3; ++k) {
        if (!m_pLabelColours[k] || third <= 0)
            continue;
        FRect d(x - 1 + k * third, y - 1, x - 1 + (k + 1) * third, y - 1 + th);
        FRect s(k * third, 0, (k + 1) * third, th);
        if (ClipWidgetRects(clip, d, s))
            m_pLabelColours[k]->BlendBlit(target, d, s);
    }
}

// ---- Pointer ----

FIUiObject* FUiImageView::HitTest(int x, int y)
{
    return m_bVisible && WidgetRectContains(m_rect, x, y) ? this : nullptr;
}

void FUiImageView::priRequestLoupeImage()
{
    const int w = m_imageRect.Width();
    const int h = m_imageRect.Height();
    if (w <= 0 || h <= 0)
        return;
    const int cx = m_loupeRect.left + m_loupeRect.Width() / 2;
    const int cy = m_loupeRect.top + m_loupeRect.Height() / 2;
    double request[6] = {double(cx - m_imageRect.left) / w, double(cy - m_imageRect.top) / h,
                         double(m_loupeRect.Width()),       double(m_loupeRect.Height()),
                         double(m_loupeRect.left),          double(m_loupeRect.top)};
    m_pOnNeedLoupeImage->Fire(request);
}

void FUiImageView::priTrackLoupe(int x, int y)
{
    const FRect& i = m_imageRect;
    const bool near = m_bImagePlaced && x >= i.left - kLoupeMargin && x < i.right + kLoupeMargin &&
                      y >= i.top - kLoupeMargin && y < i.bottom + kLoupeMargin;
    if (near) {
        m_bOverImage = true;
        const int w = m_loupeRect.Width();
        const int h = m_loupeRect.Height();
        m_loupeRect = FRect(x - w / 2, y - h / 2, x - w / 2 + w, y - h / 2 + h);
        // The held picture follows the pointer until the new one comes, and its last place is
        // cleared now: a loupe never stays behind where the pointer left it.
        priRepaintLastLoupe();
        priRepaint(m_loupeRect);
        priRequestLoupeImage();
        return;
    }
    m_bOverImage = false;
    priDropLoupeImage();
    priRepaintLastLoupe();
}

void FUiImageView::priReportGrayPoint(int x, int y)
{
    const int w = m_imageRect.Width();
    const int h = m_imageRect.Height();
    if (w <= 0 || h <= 0)
        return;
    double point[2] = {std::min(double(x - m_imageRect.left) / w, 1.0),
                       std::min(double(y - m_imageRect.top) / h, 1.0)};
    m_pOnGrayBalanceXY->Fire(point);
}

bool FUiImageView::MouseDown(int x, int y, bool, bool)
{
    if (!m_bVisible)
        return false;
    if (!m_pImage)
        return true;
    if (m_bCrop) {
        const int t = m_iFrameThickness;
        const FRect& i = m_imageRect;
        const FRect grabs[4] = {
            FRect(i.left - t, m_rect.top, m_cropBars[kLeft].right, m_rect.bottom),
            FRect(m_rect.left, i.top - t, m_rect.right, m_cropBars[kTop].bottom),
            FRect(m_cropBars[kRight].left, m_rect.top, i.right + t, m_rect.bottom),
            FRect(m_rect.left, m_cropBars[kBottom].top, m_rect.right, i.bottom + t),
        };
        for (int bar = 0; bar < 4; ++bar) {
            if (WidgetRectContains(grabs[bar], x, y)) {
                m_cropDragging[bar] = true;
                m_bCropDrag = true;
            }
        }
        if (m_bCropDrag) {
            SetWidgetMouseCapture(m_pWindow, this, true);
            return true;
        }
    }
    if (m_bGrayMode && WidgetRectContains(m_imageRect, x, y)) {
        SetWidgetMouseCapture(m_pWindow, this, true);
        m_bPicking = true;
        priReportGrayPoint(x, y);
    }
    return true;
}

void FUiImageView::MouseMove(int x, int y)
{
    if (m_bCropDrag)
        priDragCropBars(x, y);
    if (m_bPicking && m_pImage && m_bVisible && WidgetRectContains(m_imageRect, x, y))
        priReportGrayPoint(x, y);
    if (m_bLoupeEnabled)
        priTrackLoupe(x, y);
}

void FUiImageView::MouseUp(int, int, bool, bool)
{
    if (m_bCropDrag) {
        m_bCropDrag = false;
        std::fill(std::begin(m_cropDragging), std::end(m_cropDragging), false);
        SetWidgetMouseCapture(m_pWindow, this, false);
        return;
    }
    if (m_bPicking) {
        m_bPicking = false;
        if (!m_bLoupeCapture)
            SetWidgetMouseCapture(m_pWindow, this, false);
    }
}

void FUiImageView::MouseEnter(int x, int y)
{
    if (m_bLoupeEnabled) {
        SetWidgetMouseCapture(m_pWindow, this, true);
        m_bLoupeCapture = true;
        m_bOverImage = m_bImagePlaced && WidgetRectContains(m_imageRect, x, y);
        // The loupe comes at once, not with the next move.
        if (m_bOverImage)
            priTrackLoupe(x, y);
    } else if (m_bGrayMode && m_pCursor) {
        SetWidgetCursor(m_pWindow, m_pCursor, m_iCursorX, m_iCursorY);
        m_bCursorSet = true;
    }
}

void FUiImageView::MouseLeave(int, int)
{
    if (m_bLoupeCapture || !m_bPicking) {
        SetWidgetMouseCapture(m_pWindow, this, false);
        m_bLoupeCapture = false;
    }
    if (m_bLoupeEnabled) {
        m_bOverImage = false;
        priDropLoupeImage();
        priRepaintLastLoupe();
    } else if (m_bGrayMode && m_bCursorSet) {
        SetWidgetCursor(m_pWindow, nullptr, 0, 0);
        m_bCursorSet = false;
    }
}
