// The thumbnail view's painting: border, background and cells.

#include <algorithm>

#include "FDisplayBlit.h"
#include "FIPMImage.h"
#include "FIUiPixmap.h"
#include "FImageFileListEntry.h"
#include "FPixmap.h"
#include "FUiFont.h"
#include "FUiMultiLangString.h"
#include "FUiThumbnails.h"
#include "FUiWidgetFrame.h"

namespace
{

// The whole of `picture` over `destination` (its own size), cut to the clip.
void DrawClipped(FIUiPixmap* picture, FIUiPixmap* target, int left, int top, int width, int height,
                 const FRect& clip)
{
    if (!picture || !target || width <= 0 || height <= 0)
        return;
    FRect destination(left, top, left + width, top + height);
    FRect source(0, 0, width, height);
    if (ClipWidgetRects(clip, destination, source))
        picture->BlendBlit(target, destination, source);
}

void DrawPicture(FIUiPixmap* picture, FIUiPixmap* target, int left, int top, const FRect& clip)
{
    if (picture)
        DrawClipped(picture, target, left, top, picture->GetWidth(), picture->GetHeight(), clip);
}

// A picture that is released once drawn.
struct FOwnedPixmap {
    FIUiPixmap* pixmap = nullptr;
    explicit FOwnedPixmap(FIUiPixmap* p) : pixmap(p) {}
    ~FOwnedPixmap() { ReleaseUiPixmap(pixmap); }
    FOwnedPixmap(const FOwnedPixmap&) = delete;
    FOwnedPixmap& operator=(const FOwnedPixmap&) = delete;
    int Width() const { return pixmap ? pixmap->GetWidth() : 0; }
    int Height() const { return pixmap ? pixmap->GetHeight() : 0; }
};

bool IsBlank(const FWideString& text)
{
    return text.IsEmpty() || text == " ";
}

} // namespace

FWideString FUiThumbnails::priDisplayText(FIUiMultiLangString* string, const char* fallback) const
{
    const FWideString* text = string ? string->GetText() : nullptr;
    return text ? *text : FWideString(fallback);
}

FIUiPixmap* FUiThumbnails::priFrameOnFill()
{
    if (!m_bList || m_nSizeMode == kNone)
        return nullptr;
    FIUiPixmap*& composed = m_pFrameOnFill[m_nSizeMode == kSmall    ? 2
                                           : m_nSizeMode == kMedium ? 1
                                           : m_nSizeMode == kLarge  ? 0
                                                                    : 3];
    FIUiPixmap* frame = priSkin().frame;
    if (!composed && frame) {
        const FRect whole(0, 0, frame->GetWidth(), frame->GetHeight());
        composed = CreateUiPixmap(whole.right, whole.bottom, false);
        if (composed) {
            composed->FillRect(whole, m_fillColor);
            frame->BlendBlit(composed, whole, whole);
        }
    }
    return composed;
}

void FUiThumbnails::Display(FIUiPixmap* target, int xOffset, int yOffset, const FRect& clip)
{
    if (!m_bShown || !target)
        return;
    if (m_bList)
        priDrawBackground(target, xOffset, yOffset, clip);
    if (m_pScrollbar)
        m_pScrollbar->Display(target, xOffset, yOffset, clip);
    const int f = m_bList ? m_nFrameThickness : 0;
    const FRect inside(m_rect.left + f, m_rect.top + f, m_rect.right - f, m_rect.bottom - f);
    const FRect cells = IntersectWidgetRects(clip, inside);
    if (IsWidgetRectEmpty(cells))
        return;
    for (ThumbnailCell* cell = m_pFirstCell; cell; cell = cell->next)
        priDrawCell(target, xOffset, yOffset, cells, cell);
}

void FUiThumbnails::priDrawBackground(FIUiPixmap* target, int dx, int dy, const FRect& clip)
{
    const FRect r = OffsetWidgetRect(m_rect, dx, dy);
    const int f = m_nFrameThickness;
    const FRect bands[4] = {
        FRect(r.left, r.top, r.right, r.top + f), FRect(r.left, r.bottom - f, r.right, r.bottom),
        FRect(r.left, r.top, r.left + f, r.bottom), FRect(r.right - f, r.top, r.right, r.bottom)};
    const auto fill = [&](const FRect& rect, const FUiColor& colour) {
        const FRect part = IntersectWidgetRects(rect, clip);
        if (!IsWidgetRectEmpty(part))
            target->FillRect(part, colour);
    };
    for (const FRect& band : bands)
        fill(band, m_frameColor);
    fill(FRect(r.left + f, r.top + f, r.right - f, r.bottom - f), m_fillColor);
}

void FUiThumbnails::priDrawCell(FIUiPixmap* target, int dx, int dy, const FRect& clip, ThumbnailCell* cell)
{
    const FThumbnailSkin& skin = priSkin();
    if (m_nSizeMode == kNone || !skin.frame)
        return;
    const FRect cr = OffsetWidgetRect(cell->rect, dx, dy);
    if (IsWidgetRectEmpty(clip) || IsWidgetRectEmpty(cr) || !cr.Intersects(clip))
        return;
    const FImageFileListEntry& entry = *cell->entry;

    const int fw = skin.frame->GetWidth();
    const int fh = skin.frame->GetHeight();
    const int frameLeft = cr.left + (fw < cr.Width() ? (cr.Width() - fw) / 2 : 0);
    const int frameTop = cr.top + (fh < cr.Height() ? (cr.Height() - fh) / 2 : 0);
    if (FIUiPixmap* composed = priFrameOnFill()) {
        FRect destination(frameLeft, frameTop, frameLeft + fw, frameTop + fh);
        FRect from(0, 0, fw, fh);
        if (ClipWidgetRects(clip, destination, from))
            CopyDisplayPixmapRect(target->GetDisplayPixmap(), &destination, composed->GetDisplayPixmap(),
                                  &from);
    } else {
        DrawClipped(skin.frame, target, frameLeft, frameTop, fw, fh, clip);
    }

    // The image: the thumbnail, else the file-kind icon, else "invalid". One that is larger
    // than the mode allows would cover the frame and texts; the "invalid" picture stands in.
    FPixmap* source = nullptr;
    if (entry.m_pThumbnail)
        source = entry.m_pThumbnail->GetPixmap();
    if (!source) {
        FIUiPixmap* icon = entry.m_bRaw    ? m_pRawIcon
                           : entry.m_bTiff ? m_pTiffIcon
                           : entry.m_bJpeg ? m_pJpegIcon
                                           : nullptr;
        if (!icon)
            icon = skin.invalid;
        source = icon ? icon->GetDisplayPixmap() : nullptr;
    }
    if (source && (source->GetCols() > m_nThumbSize || source->GetRows() > m_nThumbSize))
        source = skin.invalid ? skin.invalid->GetDisplayPixmap() : nullptr;
    FRect image;
    if (source && source->GetCols() <= m_nThumbSize && source->GetRows() <= m_nThumbSize) {
        const int w = source->GetCols();
        const int h = source->GetRows();
        const int left = cr.left + skin.centreX - w / 2;
        const int top = cr.top + skin.centreY - h / 2;
        image = FRect(left, top, left + w, top + h);
        FRect destination = image;
        FRect from(0, 0, w, h);
        if (ClipWidgetRects(clip, destination, from))
            CopyDisplayPixmapRect(target->GetDisplayPixmap(), &destination, source, &from);
    }

    if (skin.inner && !IsWidgetRectEmpty(image)) {
        const int iw = skin.inner->GetWidth();
        const int ih = skin.inner->GetHeight();
        FOwnedPixmap framed(CreateUiPixmap(iw + image.Width() - 1, ih + image.Height() - 1, false));
        if (framed.pixmap) {
            framed.pixmap->FillRGBA(0, 0, 0, 0);
            skin.inner->DrawNineSliceRect(framed.pixmap, FRect(iw / 2, ih / 2, iw / 2 + 1, ih / 2 + 1), true);
            DrawPicture(framed.pixmap, target, image.left - iw / 2, image.top - ih / 2, clip);
        }
    }
    if (m_nSizeMode != kSmall) {
        priDrawName(target, clip, cr, image, entry);
        priDrawIcons(target, clip, cr, image, entry);
    }
    if (m_nSizeMode == kDetailed)
        priDrawDetails(target, clip, cr, entry);
    if (entry.m_bSelected && skin.highlight)
        DrawPicture(skin.highlight, target, cr.left + skin.highlightX, cr.top + skin.highlightY, clip);
}

void FUiThumbnails::priDrawName(FIUiPixmap* target, const FRect& clip, const FRect& cr, const FRect& image,
                                const FImageFileListEntry& entry)
{
    const bool landscape = image.Width() > image.Height();
    const int gap = landscape ? image.left - cr.left : image.top - cr.top;
    const int room = (cr.Height() > cr.Width() ? cr.Width() : cr.Height()) - gap;
    FWideString name = entry.m_usFileName;
    FOwnedPixmap text(m_pFont->RenderText(nullptr, name, false));
    while (text.Width() > room && !name.IsEmpty()) {
        name.DropRight(1);
        FWideString shortened = name;
        shortened += "...";
        ReleaseUiPixmap(text.pixmap);
        text.pixmap = m_pFont->RenderText(nullptr, shortened, false);
    }
    // Not even "..." fits: nothing is drawn.
    if (!text.pixmap || text.Width() > room)
        return;
    const int th = text.Height();
    DrawPicture(text.pixmap, target, cr.left + gap / 2, cr.bottom - (gap - th) / 2 - th - 1, clip);
}

void FUiThumbnails::priDrawIcons(FIUiPixmap* target, const FRect& clip, const FRect& cr, const FRect& image,
                                 const FImageFileListEntry& entry)
{
    const bool landscape = image.Width() > image.Height();
    const int mw = m_pMarkIcon->GetWidth();
    const int mh = m_pMarkIcon->GetHeight();
    int x = landscape ? image.left : image.right - 1 + ((image.left - cr.left) - mh) / 2;
    int y = landscape ? cr.top + ((image.top - cr.top) - mh) / 2 : image.top;
    const struct {
        bool on;
        FIUiPixmap* icon;
    } icons[3] = {{entry.m_bLocked, m_pLockIcon},
                  {entry.m_bMarked, m_pMarkIcon},
                  // Downloaded or not matters on the card only: on a computer every
                  // image the camera gave is, and the mark would explain nothing.
                  {entry.m_bTransferred && entry.m_bCamera, m_pTransferIcon}};
    for (const auto& icon : icons) {
        if (!icon.on)
            continue;
        DrawClipped(icon.icon, target, x, y, std::min(mw, icon.icon->GetWidth()),
                    std::min(mh, icon.icon->GetHeight()), clip);
        if (landscape)
            x += icon.icon->GetWidth() + icon.icon->GetWidth() / 4;
        else
            y += icon.icon->GetHeight() + icon.icon->GetHeight() / 4;
    }

    if (!m_pRawFrameIcon || !m_pJpegFrameIcon || !m_pTiffFrameIcon)
        return;
    FIUiPixmap* kind = entry.m_bRaw    ? m_pRawFrameIcon
                       : entry.m_bJpeg ? m_pJpegFrameIcon
                       : entry.m_bTiff ? m_pTiffFrameIcon
                                       : nullptr;
    if (!kind)
        return;
    const int iw = kind->GetWidth();
    int kx =
        m_nSizeMode == kDetailed ? cr.left + 122 - m_nFrameIconX - iw : cr.right - m_nFrameIconX - iw - 1;
    int ky = cr.top + m_nFrameIconY;
    if (m_nSizeMode == kLarge) {
        kx -= 2;
        ky += 2;
    }
    DrawPicture(kind, target, kx, ky, clip);
}

void FUiThumbnails::priDrawDetails(FIUiPixmap* target, const FRect& clip, const FRect& cr,
                                   const FImageFileListEntry& entry)
{
    const int x = cr.left + 127;
    int y = cr.top + 10;
    int lineHeight = 0;
    int averageWidth = 0;
    m_pFont->GetFontMetrics(nullptr, lineHeight, averageWidth);
    const auto line = [&](const FWideString* text) {
        FOwnedPixmap rendered(text && !text->IsEmpty() ? m_pFont->RenderText(nullptr, *text, false)
                                                       : nullptr);
        if (!rendered.pixmap) {
            y += lineHeight;
            return;
        }
        DrawPicture(rendered.pixmap, target, x, y, clip);
        y += rendered.Height();
    };

    line(&entry.m_usDate);
    if (entry.m_usTime.IsEmpty()) {
        line(nullptr);
    } else {
        FOwnedPixmap time(m_pFont->RenderText(nullptr, entry.m_usTime, false));
        if (time.pixmap && x + time.Width() <= cr.right - 1) {
            DrawPicture(time.pixmap, target, x, y, clip);
            y += time.Height();
        } else {
            line(time.pixmap ? &entry.m_usTimeOfDay : nullptr);
        }
    }
    FWideString aperture;
    if (!IsBlank(entry.m_usAperture)) {
        aperture = priDisplayText(m_pFStopPrefix, "f/");
        aperture += entry.m_usAperture;
    }
    line(&aperture);
    FWideString shutter;
    if (!IsBlank(entry.m_usShutter)) {
        if (entry.m_usShutter.Find(FWideString("BULB"))) {
            shutter = priDisplayText(m_pBulbText, "BULB");
        } else {
            shutter = entry.m_usShutter;
            shutter += priDisplayText(m_pSecondsSuffix, "s");
        }
    }
    line(&shutter);
    line(&entry.m_usIso);
    line(&entry.m_usResolution);
    FWideString size;
    if (entry.m_nFileSize != 0)
        size.SetByteSize(entry.m_nFileSize);
    line(&size);
}
