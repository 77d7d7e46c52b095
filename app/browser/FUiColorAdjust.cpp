#include "FUiColorAdjust.h"

#include <algorithm>
#include <cmath>
#include <functional>

#include "ColorCompensation.h"
#include "FDebugTrace.h"
#include "FDisplayBlit.h"
#include "FIUiPixmap.h"
#include "FPixmap.h"
#include "FPropList.h"
#include "FReviewDisplayWidgets.h"
#include "FUiWidgetFrame.h"

namespace
{

class FUiColorAdjustCreator final : public FUiWidgetCreator<FUiColorAdjust>
{
};

// Degrees to radians and back with pi taken as 3.14159: the wheel's whole steps
// fall where they always fell only with these.
constexpr double kDegToRad = 0.017453277777777776;
constexpr double kRadToDeg = 57.29582790879778;
// The widget size up to which the wheel picture follows it.
constexpr int kMaxWheelBase = 1024;

double Trunc(double value)
{
    return std::trunc(value);
}

// Gains usable for a setting: finite, positive, and one of them not tiny.
bool UsableGains(const double gains[3])
{
    for (int k = 0; k < 3; ++k) {
        if (!std::isfinite(gains[k]) || gains[k] <= 0.0)
            return false;
    }
    return true;
}

// The densities of the grid dots, in drawing order.
void ForEachGridTriple(const std::function<void(const int32_t*)>& dot)
{
    const int32_t fine[6][3] = {{5, 10, 0}, {0, 5, 10}, {10, 0, 5}, {0, 10, 5}, {5, 0, 10}, {10, 5, 0}};
    for (const auto& triple : fine)
        dot(triple);
    const auto six = [&dot](int32_t n) {
        const int32_t triples[6][3] = {{0, 0, n}, {0, n, 0}, {n, 0, 0}, {n, n, 0}, {0, n, n}, {n, 0, n}};
        for (const auto& triple : triples)
            dot(triple);
    };
    for (int32_t n : {0, 5, 10})
        six(n);
    for (int32_t n = 10; n <= 60; n += 10)
        six(n);
}

} // namespace

bool RegisterColorAdjustCreator(FIUiObjectFactory* factory)
{
    return RegisterUiWidgetCreator<FUiColorAdjustCreator>(factory, "COLOR_ADJUST");
}

FUiColorAdjust::FUiColorAdjust(const char* typeName)
    : FUiObject(typeName), m_onChange(FWideString("ON_CHANGE")), m_onUpdate(FWideString("ON_UPDATE")),
      m_onToggleGrayBalance(FWideString("ON_TOGGLE_GRAY_BALANCE")),
      m_onEnableGrayBalance(FWideString("ON_ENABLE_GRAY_BALANCE")), m_onRedraw(FWideString("ON_REDRAW")),
      m_onManual(FWideString("ON_MANUAL"))
{
}

FUiColorAdjust::~FUiColorAdjust()
{
    ReleaseUiPixmap(m_pMarker);
    ReleaseUiPixmap(m_pWindowPicture);
    ReleaseUiPixmap(m_pWheel);
}

bool FUiColorAdjust::InitUiObject(FIUiApp* app, FIUiWindow* window, FIUiObject* parent, FPropList* tag)
{
    FUiObject::InitUiObject(app, window, parent, tag);
    if (!tag)
        return false;
    const bool allFound = m_keys.Read(tag, m_hLayout, m_vLayout);
    m_pMarker = LoadPixmapFromTag(tag, "File_Image_O", nullptr);
    if (!allFound) {
        DebugTrace("COLOR_ADJUST %s: a required key is missing.\n", m_usFullName.GetNarrow());
        return false;
    }
    if (!m_pMarker)
        DebugTrace("COLOR_ADJUST %s: no marker picture; the setting is shown without a marker.\n",
                   m_usFullName.GetNarrow());
    RelayEvent* events[6] = {&m_onChange, &m_onUpdate, &m_onToggleGrayBalance, &m_onEnableGrayBalance,
                             &m_onRedraw, &m_onManual};
    for (FPropList* child = tag->GetFirstChild(); child; child = child->GetNext()) {
        for (RelayEvent* event : events) {
            if (child->GetName() == event->GetName())
                event->ReadRelay(child);
        }
    }
    return true;
}

bool FUiColorAdjust::ConnectRelays()
{
    bool all = true;
    for (RelayEvent* event :
         {&m_onChange, &m_onUpdate, &m_onToggleGrayBalance, &m_onEnableGrayBalance, &m_onRedraw, &m_onManual})
        all = (m_pWindow ? event->Connect(m_pWindow) : event->ConnectToApp(m_pApp)) && all;
    return all;
}

// ---- The wheel's arithmetic ----

void FUiColorAdjust::WheelGains(double x, double y, double gains[3])
{
    const double d = std::sqrt(x * x + y * y);
    const double s = std::min(d * (d + 1.0) * 0.5, 1.5);
    const double h = std::atan2(y, -x) * kRadToDeg + 180.0;
    const double k = 1.0 / (s + 1.0);
    gains[0] = std::max(k * (s * std::sin((h - 240.0) * kDegToRad) + 1.0), 0.025);
    gains[1] = std::max(k * (s * std::sin(h * kDegToRad) + 1.0), 0.025);
    gains[2] = std::max(k * (s * std::sin((h + 240.0) * kDegToRad) + 1.0), 0.025);
    const double scale = std::sqrt(1.0 / std::max({gains[0], gains[1], gains[2]}));
    for (int c = 0; c < 3; ++c)
        gains[c] *= scale;
}

void FUiColorAdjust::WheelPosition(const double gains[3], double& x, double& y)
{
    x = 0.0;
    y = 0.0;
    const double m = (gains[0] + gains[1] + gains[2]) * 0.3333333333333333;
    if (!(m > 0.0) || !std::isfinite(m))
        return;
    const double py = 1.0 - gains[1] / m;
    const double px = (gains[0] - gains[2]) / (std::sqrt(3.0) * m);
    const double theta = std::atan2(py, px);
    const double q = std::sqrt(px * px + py * py);
    const double rho = std::sqrt(2.0 * q + 0.25) - 0.5;
    x = rho * std::cos(theta);
    y = rho * std::sin(theta);
}

void FUiColorAdjust::priSetFromPosition(double x, double y)
{
    double g[3];
    WheelGains(x, y, g);
    const double largest = std::max({g[0], g[1], g[2]});
    int32_t d[3];
    RGBGainsToCCDensities(d, g[0] / largest, g[1] / largest, g[2] / largest);
    if (std::equal(d, d + 3, m_densities))
        return;
    std::copy(d, d + 3, m_densities);
    FDoubleRGB gains;
    CCDensitiesToRGBGains(gains, d[0], d[1], d[2]);
    m_gains[0] = gains.r;
    m_gains[1] = gains.g;
    m_gains[2] = gains.b;
    InvalidateWidgetRect(m_pWindow, m_rect, false);
    m_onRedraw.Fire(nullptr);
}

void FUiColorAdjust::priSetFromGains(const double gains[3])
{
    double x = 0.0, y = 0.0;
    WheelPosition(gains, x, y);
    m_iOffsetX = static_cast<int>(Trunc(x * kScale * 0.5));
    m_iOffsetY = static_cast<int>(Trunc(y * kScale * 0.5));
    priSetFromPosition(x, y);
}

void FUiColorAdjust::priSetFromPointer(int px, int py)
{
    const double x = (px + m_iOffsetX - (m_rect.Width() - 1) * 0.5) / kScale;
    const double y = (py + m_iOffsetY - (m_rect.Height() - 1) * 0.5) / kScale;
    priSetFromPosition(x, y);
    priFollow(px, py);
}

void FUiColorAdjust::priFollow(int px, int py)
{
    const double S = kScale;
    const double ox = m_iOffsetX;
    const double oy = m_iOffsetY;
    const double qx = (px + ox - (m_rect.Width() - 1) * 0.5) / S;
    const double qy = (py + oy - (m_rect.Height() - 1) * 0.5) / S;
    const double u = 0.7 * qx - ox / S;
    const double v = 0.7 * qy - oy / S;
    const double r = std::sqrt(u * u + v * v) - 0.05;
    if (r <= 0.0)
        return;
    double nx = ox + 2.0 * (r * S) * u;
    double ny = oy + 2.0 * (r * S) * v;
    const double reach = nx * nx + ny * ny;
    if (reach < ox * ox + oy * oy) {
        m_iOffsetX = static_cast<int>(Trunc(nx));
        m_iOffsetY = static_cast<int>(Trunc(ny));
        return;
    }
    if (reach > S * S * 0.25) {
        const double shrink = std::sqrt((S * S * 0.25) / reach);
        nx *= shrink;
        ny *= shrink;
    }
    m_iOffsetX += static_cast<int>(Trunc(0.5 * (nx - ox)));
    m_iOffsetY += static_cast<int>(Trunc(0.5 * (ny - oy)));
}

void FUiColorAdjust::GetMarkerPixel(int& x, int& y) const
{
    double wx = 0.0, wy = 0.0;
    WheelPosition(m_gains, wx, wy);
    x = static_cast<int>(Trunc(wx * kScale - m_iOffsetX + (m_rect.Width() - 1) * 0.5 + 0.49));
    y = static_cast<int>(Trunc(wy * kScale - m_iOffsetY + (m_rect.Height() - 1) * 0.5 + 0.49));
}

// ---- Pictures ----

void FUiColorAdjust::priBuildWheel()
{
    // Far out the wheel is one flat colour: a huge widget repeats the edge of a wheel of
    // bounded size rather than computing (and holding) one of gigabytes.
    const int w = std::min(m_rect.Width(), kMaxWheelBase);
    const int h = std::min(m_rect.Height(), kMaxWheelBase);
    if (w <= 0 || h <= 0)
        return;
    const int fw = 1 + 2 * static_cast<int>(Trunc(1.42 * w));
    const int fh = 1 + 2 * static_cast<int>(Trunc(1.42 * h));
    m_pWheel = CreateUiPixmap(fw, fh, true);
    if (!m_pWheel)
        return;
    // Built centred (offsets 0), so that the window reads it the same way wherever it
    // was first laid out.
    FPixmap* pixmap = m_pWheel->GetDisplayPixmap();
    for (int i = 0; i < fh; ++i) {
        uint8_t* p = pixmap->GetRowAddress(i);
        const double y = (i - (fh - 1) * 0.5) / kScale;
        for (int j = 0; j < fw; ++j, p += 4) {
            double g[3];
            WheelGains((j - (fw - 1) * 0.5) / kScale, y, g);
            for (int k = 0; k < 3; ++k)
                p[2 - k] =
                    static_cast<uint8_t>(std::clamp(Trunc(255.0 * std::pow(g[k], 2.0 / 3.0)), 0.0, 255.0));
            p[3] = 255;
        }
    }
    ForEachGridTriple([this](const int32_t* triple) { priDrawGridDot(triple); });
}

void FUiColorAdjust::priDrawGridDot(const int32_t densities[3])
{
    FDoubleRGB gains;
    CCDensitiesToRGBGains(gains, densities[0], densities[1], densities[2]);
    const double g[3] = {gains.r, gains.g, gains.b};
    double x = 0.0, y = 0.0;
    WheelPosition(g, x, y);
    const int fw = m_pWheel->GetWidth();
    const int fh = m_pWheel->GetHeight();
    const int px = static_cast<int>(Trunc(x * kScale + (fw - 1) * 0.5 + 0.49));
    const int py = static_cast<int>(Trunc(y * kScale + (fh - 1) * 0.5 + 0.49));
    if (px < 0 || py < 0 || px >= fw || py >= fh)
        return;
    uint8_t* p = m_pWheel->GetDisplayPixmap()->GetRowAddress(py) + ptrdiff_t(px) * 4;
    for (int k = 0; k < 3; ++k)
        p[k] = static_cast<uint8_t>((2 * p[k]) / 3);
    p[3] = 255;
}

void FUiColorAdjust::priBuildWindow()
{
    const int w = m_rect.Width();
    const int h = m_rect.Height();
    if (!m_pWheel)
        priBuildWheel();
    if (!m_pWheel || w <= 0 || h <= 0) {
        ReleaseUiPixmap(m_pWindowPicture);
        return;
    }
    if (m_pWindowPicture && (m_pWindowPicture->GetWidth() != w || m_pWindowPicture->GetHeight() != h))
        ReleaseUiPixmap(m_pWindowPicture);
    if (!m_pWindowPicture)
        m_pWindowPicture = CreateUiPixmap(w, h, true);
    if (!m_pWindowPicture)
        return;
    FPixmap* wheel = m_pWheel->GetDisplayPixmap();
    FPixmap* out = m_pWindowPicture->GetDisplayPixmap();
    const int fw = wheel->GetCols();
    const int fh = wheel->GetRows();
    // Strong casts scroll further than the wheel's margin reaches: the read stays on the wheel.
    const int left = fw / 2 + m_iOffsetX - (w - 1) / 2;
    const int top = fh / 2 + m_iOffsetY - (h - 1) / 2;
    const FUiColor& f = m_keys.fillColor;
    const uint8_t fill[4] = {f.blue, f.green, f.red, f.alpha};
    for (int i = 0; i < h; ++i) {
        const int sy = std::clamp(top + i, 0, fh - 1);
        const uint8_t* in = wheel->GetRowAddress(sy);
        uint8_t* o = out->GetRowAddress(i);
        const double dy = (i - (h - 1) * 0.5) / h;
        for (int j = 0; j < w; ++j, o += 4) {
            const double dx = (j - (w - 1) * 0.5) / w;
            if (dx * dx + dy * dy >= 0.23) {
                std::copy(fill, fill + 4, o);
                continue;
            }
            const int sx = std::clamp(left + j, 0, fw - 1);
            std::copy(in + ptrdiff_t(sx) * 4, in + ptrdiff_t(sx) * 4 + 4, o);
        }
    }
}

// ---- Framework operations ----

bool FUiColorAdjust::SetRect(int x, int y, int width, int height)
{
    if (!PlaceReviewWidget(m_hLayout, m_vLayout, x, y, width, height, m_rect))
        return true;
    priBuildWindow();
    InvalidateWidgetRect(m_pWindow, m_rect, false);
    return true;
}

void FUiColorAdjust::Display(FIUiPixmap* target, int, int, const FRect& clip)
{
    const FRect area = IntersectWidgetRects(m_rect, clip);
    if (!target || IsWidgetRectEmpty(area))
        return;
    priBuildWindow();
    if (!m_pWindowPicture) {
        ShowWindowPointer(m_pWindow, true);
        return;
    }
    FRect d = m_rect;
    FRect s(0, 0, m_pWindowPicture->GetWidth(), m_pWindowPicture->GetHeight());
    if (ClipWidgetRects(area, d, s))
        CopyDisplayPixmapRect(target->GetDisplayPixmap(), &d, m_pWindowPicture->GetDisplayPixmap(), &s);
    int mx = 0, my = 0;
    GetMarkerPixel(mx, my);
    const int hw = m_rect.Width() / 2;
    const int hh = m_rect.Height() / 2;
    if (m_pMarker && (mx - hw) * (mx - hw) + (my - hh) * (my - hh) < hw * hw) {
        const int left = m_rect.left + mx - m_pMarker->GetWidth() / 2;
        const int top = m_rect.top + my - m_pMarker->GetHeight() / 2;
        DrawWidgetPicture(m_pMarker, target,
                          FRect(left, top, left + m_pMarker->GetWidth(), top + m_pMarker->GetHeight()), clip);
    }
    FWideString text(RGBGainsToCCString(m_gains[0], m_gains[1], m_gains[2]).c_str());
    m_onUpdate.Fire(&text);
}

void FUiColorAdjust::Tick(int)
{
    if (m_bDragging)
        priFireChange();
}

FIUiObject* FUiColorAdjust::HitTest(int x, int y)
{
    return WidgetRectContains(m_rect, x, y) ? this : nullptr;
}

void FUiColorAdjust::priFireChange()
{
    m_onChange.Fire(m_gains);
}

bool FUiColorAdjust::MouseDown(int x, int y, bool, bool)
{
    m_bDragging = true;
    m_onManual.Fire(nullptr);
    SetWidgetMouseCapture(m_pWindow, this, true);
    priSetFromPointer(x - m_rect.left, y - m_rect.top);
    priFireChange();
    return true;
}

void FUiColorAdjust::MouseMove(int x, int y)
{
    if (m_bDragging)
        priSetFromPointer(x - m_rect.left, y - m_rect.top);
}

void FUiColorAdjust::MouseUp(int x, int y, bool, bool)
{
    if (!m_bDragging)
        return;
    SetWidgetMouseCapture(m_pWindow, this, false);
    priSetFromPointer(x - m_rect.left, y - m_rect.top);
    m_bDragging = false;
    priFireChange();
}

bool FUiColorAdjust::UiRelayMessage(const FWideString& message, void* data)
{
    if (message == "Post Creation Initialization" || message == "we're goin' bye-bye")
        return true;
    if (message == "Reset") {
        const double neutral[3] = {1.0, 1.0, 1.0};
        priSetFromGains(neutral);
        InvalidateWidgetRect(m_pWindow, m_rect, false);
        m_onRedraw.Fire(nullptr);
        priFireChange();
        return true;
    }
    if (message == "ToggleGrayBalance") {
        m_onToggleGrayBalance.Fire(nullptr);
        return true;
    }
    if (message == "EnableGrayBalance") {
        if (!data)
            return false;
        bool copy = *static_cast<bool*>(data);
        m_onEnableGrayBalance.Fire(&copy);
        return true;
    }
    if (message == "UpdateColorAdjust" || message == "SetGrayBalance") {
        if (!data)
            return false;
        const double* gains = static_cast<const double*>(data);
        if (!UsableGains(gains)) {
            DebugTrace("COLOR_ADJUST %s: %s ignores gains that are not finite and positive.\n",
                       m_usFullName.GetNarrow(), message.GetNarrow());
            return true;
        }
        if (message == "UpdateColorAdjust") {
            priSetFromGains(gains);
            priFireChange();
            return true;
        }
        const double threshold = 0.05 * std::max({gains[0], gains[1], gains[2]});
        if (gains[0] > threshold && gains[1] > threshold && gains[2] > threshold) {
            priSetFromGains(gains);
            m_onManual.Fire(nullptr);
            priFireChange();
        }
        return true;
    }
    return false;
}
