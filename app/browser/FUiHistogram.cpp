#include "FUiHistogram.h"

#include <algorithm>
#include <cmath>
#include <string>

#include "FDebugTrace.h"
#include "FDisplayBlit.h"
#include "FIPMImage.h"
#include "FIUiApp.h"
#include "FIUiPixmap.h"
#include "FPropList.h"
#include "FReviewDisplayWidgets.h"
#include "FUiWidgetFrame.h"

namespace
{

class FUiHistogramCreator final : public FUiWidgetCreator<FUiHistogram>
{
};

// Colours by band index: bit 0 red, 1 green, 2 blue, 3 luminance.
const uint8_t kBandColours[16][3] = {
    {190, 190, 190}, {220, 80, 130},  {60, 190, 60},   {100, 100, 80}, {90, 100, 255}, {130, 80, 130},
    {80, 120, 130},  {100, 100, 100}, {100, 100, 100}, {110, 0, 50},   {0, 110, 0},    {50, 40, 0},
    {20, 40, 120},   {50, 0, 50},     {0, 40, 50},     {20, 20, 20},
};

// Compresses a share of the pixels so that small shares still show.
double Compress(double f)
{
    return f * (f + 100.0) / (100.0 * f + 1.0);
}

int UpperEdge(double f, int rows)
{
    return static_cast<int>(std::trunc(rows - 1.2 * rows * Compress(f)));
}

int LowerEdge(double f, int rows)
{
    return static_cast<int>(std::trunc(rows - rows * Compress(f))) + 2;
}

FWideString LevelText(int level)
{
    return FWideString(std::to_string(level).c_str());
}

} // namespace

bool RegisterHistogramCreator(FIUiObjectFactory* factory)
{
    return RegisterUiWidgetCreator<FUiHistogramCreator>(factory, "HISTOGRAM");
}

FUiHistogram::FUiHistogram(const char* typeName) : FUiObject(typeName)
{
    m_pOnUpdateShadow = AddEvent(FWideString("ON_UPDATESHADOWWARNING"));
    m_pOnUpdateHighlight = AddEvent(FWideString("ON_UPDATEHIGHLIGHTWARNING"));
    m_pOnEnableWarnings = AddEvent(FWideString("ON_ENABLE_WARNINGS"));
    m_pOnSetShadow = AddEvent(FWideString("ON_SET_SHADOW_WARNING"));
    m_pOnSetHighlight = AddEvent(FWideString("ON_SET_HIGHLIGHT_WARNING"));
    m_pOnSetShowWarnings = AddEvent(FWideString("ON_SET_SHOW_WARNINGS"));
}

FUiHistogram::~FUiHistogram()
{
    ReleaseUiPixmap(m_pPicture);
}

int FUiHistogram::LevelColumn(int level, int cols)
{
    if (cols <= 0)
        return 0;
    const int column = ((level - 1) * (cols - 2) + 254) / 254;
    return std::clamp(column, 0, cols - 1);
}

bool FUiHistogram::InitUiObject(FIUiApp* app, FIUiWindow* window, FIUiObject* parent, FPropList* tag)
{
    FUiObject::InitUiObject(app, window, parent, tag);
    if (!tag)
        return false;
    if (!m_keys.Read(tag, m_hLayout, m_vLayout)) {
        DebugTrace("HISTOGRAM %s: a required key is missing.\n", m_usFullName.GetNarrow());
        return false;
    }
    return true;
}

bool FUiHistogram::SetRect(int x, int y, int width, int height)
{
    if (!PlaceReviewWidget(m_hLayout, m_vLayout, x, y, width, height, m_rect))
        return true;
    InvalidateWidgetRect(m_pWindow, m_rect, false);
    return true;
}

FIUiObject* FUiHistogram::HitTest(int x, int y)
{
    return WidgetRectContains(m_rect, x, y) ? this : nullptr;
}

void FUiHistogram::priFireLevel(bool shadow)
{
    int& level = shadow ? m_iShadow : m_iHighlight;
    FWideString text = LevelText(level);
    (shadow ? m_pOnUpdateShadow : m_pOnUpdateHighlight)->Fire(&text);
    (shadow ? m_pOnSetShadow : m_pOnSetHighlight)->Fire(&level);
}

void FUiHistogram::priAnnounce(bool shadow)
{
    int& level = shadow ? m_iShadow : m_iHighlight;
    FWideString text = LevelText(level);
    (shadow ? m_pOnUpdateShadow : m_pOnUpdateHighlight)->Fire(&text);
    priRebuild();
    InvalidateWidgetRect(m_pWindow, m_rect, false);
    (shadow ? m_pOnSetShadow : m_pOnSetHighlight)->Fire(&level);
    if (!m_bWarnings)
        m_pOnSetShowWarnings->Fire(nullptr);
}

bool FUiHistogram::UiRelayMessage(const FWideString& message, void* data)
{
    if (message == "Post Creation Initialization") {
        if (FPropList* state = m_pApp ? m_pApp->GetPersistentData(m_usFullName) : nullptr) {
            // A state file edited by hand must not give levels the steps could never reach.
            m_iShadow = std::clamp(state->GetInt("ShadowValue", m_iShadow), 0, 254);
            m_iHighlight = std::clamp(state->GetInt("HighlightValue", m_iHighlight), m_iShadow + 1, 255);
            priFireLevel(true);
            priFireLevel(false);
        }
        priRebuild();
        m_pOnEnableWarnings->Fire(&m_bWarnings);
    } else if (message == "we're goin' bye-bye") {
        if (FPropList* state = m_pApp ? m_pApp->GetPersistentData(m_usFullName) : nullptr) {
            state->SetInt("ShadowValue", m_iShadow);
            state->SetInt("HighlightValue", m_iHighlight);
        }
    } else if (message == "Display") {
        if (data) {
            m_pHistogram = static_cast<FIHistogram*>(data);
            priRebuild();
            InvalidateWidgetRect(m_pWindow, m_rect, false);
        }
    } else if (message == "IncShadowWarning") {
        if (m_iShadow < 255 && m_iShadow + 1 < m_iHighlight) {
            ++m_iShadow;
            priAnnounce(true);
        }
    } else if (message == "DecShadowWarning") {
        if (m_iShadow > 0) {
            --m_iShadow;
            priAnnounce(true);
        }
    } else if (message == "IncHighlightWarning") {
        if (m_iHighlight < 255) {
            ++m_iHighlight;
            priAnnounce(false);
        }
    } else if (message == "DecHighlightWarning") {
        if (m_iHighlight > 0 && m_iHighlight - 1 > m_iShadow) {
            --m_iHighlight;
            priAnnounce(false);
        }
    } else if (message == "EnableWarnings") {
        m_bWarnings = true;
        m_pOnEnableWarnings->Fire(&m_bWarnings);
        m_pOnSetShadow->Fire(&m_iShadow);
        m_pOnSetHighlight->Fire(&m_iHighlight);
    } else if (message == "DisableWarnings") {
        m_bWarnings = false;
        m_pOnEnableWarnings->Fire(&m_bWarnings);
    }
    return true;
}

void FUiHistogram::priRebuild()
{
    const int cols = std::min(m_rect.Width(), kColumns);
    const int rows = m_rect.Height();
    const int checks[4][2] = {{0, 0}, {1, 1}, {254, cols - 2}, {255, cols - 1}};
    for (const auto& check : checks) {
        if (LevelColumn(check[0], cols) != check[1])
            DebugTrace("Bad Mapping of Level %d to Column %d with cols = %d in FUiHistogram\n", check[0],
                       check[1], cols);
    }
    if (m_pPicture && (m_pPicture->GetWidth() != cols || m_pPicture->GetHeight() != rows))
        ReleaseUiPixmap(m_pPicture);
    if (!m_pPicture)
        m_pPicture = CreateUiPixmap(cols, rows, true);
    if (!m_pPicture)
        return;
    priPaintBands(cols, rows);
    const auto band = [&](int first, int last, const FUiColor& colour) {
        m_pPicture->BlendRect(FRect(first, 0, last + 1, rows), colour);
    };
    band(0, LevelColumn(m_iShadow + 1, cols), FUiColor(70, 120, 255, 60));
    band(LevelColumn(m_iShadow, cols), LevelColumn(m_iShadow, cols), FUiColor(70, 120, 255, 90));
    band(LevelColumn(m_iHighlight - 1, cols), cols - 1, FUiColor(255, 70, 100, 50));
    band(LevelColumn(m_iHighlight, cols), LevelColumn(m_iHighlight, cols), FUiColor(255, 70, 100, 80));
}

void FUiHistogram::priPaintBands(int cols, int rows)
{
    // Bands per column: top and bottom (exclusive) for red, green, blue and luminance.
    int top[kColumns][4];
    int bottom[kColumns][4];
    for (int c = 0; c < kColumns; ++c) {
        for (int k = 0; k < 4; ++k) {
            top[c][k] = rows;
            bottom[c][k] = 0;
        }
    }
    // Without pixels the shares mean nothing: the picture stays empty.
    const uint32_t count = m_pHistogram ? m_pHistogram->GetCount() : 0;
    if (count > 0) {
        const double total = count;
        const FIHistogram::ColorBin* bins = m_pHistogram->GetColorBins();
        const uint32_t* lum = m_pHistogram->GetLumBins();
        const auto share = [&](int level, int k) {
            const FIHistogram::ColorBin& bin = bins[level];
            return (k == 0 ? bin.red : k == 1 ? bin.green : bin.blue) / total;
        };
        int prevTop[3];
        int prevBottom[3];
        for (int k = 0; k < 3; ++k) {
            prevTop[k] = UpperEdge(share(1, k), rows);
            prevBottom[k] = rows;
        }
        for (int level = 0; level < 256; ++level) {
            const int c = LevelColumn(level, cols);
            for (int k = 0; k < 3; ++k) {
                const double f = share(level, k);
                bottom[c][k] = std::max(bottom[c][k], LowerEdge(f, rows));
                top[c][k] = std::min(top[c][k], UpperEdge(f, rows));
                bottom[c][k] = std::max(bottom[c][k], prevTop[k]);
                top[c][k] = std::min(top[c][k], prevBottom[k]);
                prevTop[k] = top[c][k];
                prevBottom[k] = bottom[c][k];
            }
            top[c][3] = UpperEdge(lum[level] / total, rows);
            bottom[c][3] = rows;
        }
    }
    FPixmap* pixmap = m_pPicture->GetDisplayPixmap();
    for (int y = 0; y < rows; ++y) {
        uint8_t* p = pixmap->GetRowAddress(y);
        for (int x = 0; x < cols; ++x, p += 4) {
            int index = 0;
            for (int k = 0; k < 4; ++k) {
                if (top[x][k] <= y && y < bottom[x][k])
                    index |= 1 << k;
            }
            p[0] = kBandColours[index][2];
            p[1] = kBandColours[index][1];
            p[2] = kBandColours[index][0];
            p[3] = 255;
        }
    }
}

void FUiHistogram::Display(FIUiPixmap* target, int, int, const FRect& clip)
{
    if (!target || IsWidgetRectEmpty(IntersectWidgetRects(m_rect, clip)))
        return;
    if (!m_pPicture)
        priRebuild();
    if (!m_pPicture) {
        ShowWindowPointer(m_pWindow, true);
        return;
    }
    FRect d = m_rect;
    FRect s(0, 0, m_pPicture->GetWidth(), m_pPicture->GetHeight());
    if (ClipWidgetRects(clip, d, s))
        CopyDisplayPixmapRect(target->GetDisplayPixmap(), &d, m_pPicture->GetDisplayPixmap(), &s);
}
