#include "FUiSlider.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

#include "FDebugTrace.h"
#include "FException.h"
#include "FGenericUiWindow.h"
#include "FIUiPixmap.h"
#include "FPropList.h"
#include "FUiWidgets.h"

namespace
{

// The text measured to widen the knob for its label: the widest value it shows.
const char* const kKnobMeasureText = "-8.88";

// Values this close to zero are reported as zero.
constexpr double kZeroBand = 0.001;

} // namespace

class FUiSliderCreator final : public FUiWidgetCreator<FUiSlider>
{
};

bool RegisterUiSlider(FIUiObjectFactory* factory)
{
    return RegisterUiWidgetCreator<FUiSliderCreator>(factory, "SLIDER");
}

FUiSlider::FUiSlider(const char* typeName) : FUiObject(typeName)
{
    AddEvent(FWideString("ON_INIT"));
    AddEvent(FWideString("ON_SEND_VALUE"));
    AddEvent(FWideString("ON_RELEASE"));
    AddEvent(FWideString("ON_SLIDE"));
    AddEvent(FWideString("ON_UPDATE"));
    AddEvent(FWideString("ON_SNAP"));
    AddEvent(FWideString("ON_MANUAL"));
    AddEvent(FWideString("ON_VALUE_TEXT"));
}

FUiSlider::~FUiSlider()
{
    if (m_pKnobDown == m_pKnob)
        m_pKnobDown = nullptr;
    ReleaseUiPixmap(m_pBackground);
    ReleaseUiPixmap(m_pKnob);
    ReleaseUiPixmap(m_pKnobDown);
}

bool FUiSlider::UiRelayMessage(const FWideString& message, void* data)
{
    if (message == "Post Creation Initialization") {
        priFire("ON_INIT");
        priValueText(true);
        return true;
    }
    if (message == "we're goin' bye-bye")
        return true;
    if (message == "SetWithNoUpdate" || message == "Set") {
        if (!data)
            return false;
        priSetFraction(*static_cast<const double*>(data), message == "Set");
        return true;
    }
    if (message == "SetDisplayValue") {
        if (!data)
            return false;
        const int offset = priOffsetOfValue(*static_cast<const double*>(data));
        if (offset != m_iOffset)
            priMoveAndReport(offset);
        return true;
    }
    if (message == "Increment" || message == "Decrement") {
        priStep(message == "Increment");
        return true;
    }
    if (message == "Reset") {
        // Zero, or the end of the range nearest to it when the range leaves zero out.
        const double value = std::clamp(0.0, m_dLower, m_dUpper);
        const int offset = priOffsetOfValue(value);
        m_iOffset = offset;
        priPlaceKnob(offset);
        m_dFraction = priFractionOf(offset);
        m_dValue = value;
        priFire("ON_RELEASE", &m_dFraction);
        priFire("ON_UPDATE", &m_dValue);
        priInvalidate();
        return true;
    }
    if (message == "SendValue") {
        priFire("ON_SEND_VALUE", &m_dValue);
        return true;
    }
    if (message == "GetValue") {
        if (!data)
            return false;
        *static_cast<double*>(data) = m_dValue;
        return true;
    }
    if (message == "SetEnabled") {
        if (!data)
            return false;
        const bool disabled = !*static_cast<const bool*>(data);
        if (disabled != m_bDisabled)
            InvalidateWidgetRect(m_pWindow, m_rect, false);
        m_bDisabled = disabled;
        return true;
    }
    // The script name has always been spelt with one g; the library's spelling works too.
    const FWideString& visibilityMessage =
        message == "TogleVisibility" ? FWideString("ToggleVisibility") : message;
    bool changed = false;
    if (HandleWidgetVisibility(visibilityMessage, data, m_bVisible, changed)) {
        if (changed || !(message == "Visibility"))
            priInvalidate();
        return true;
    }
    return false;
}

bool FUiSlider::InitUiObject(FIUiApp* app, FIUiWindow* window, FIUiObject* parent, FPropList* tag)
{
    FUiObject::InitUiObject(app, window, parent, tag);
    if (!tag)
        return false;
    bool fontFound = false, sizeFound = false, colourFound = false;
    tag->GetString("Font", FWideString(), &fontFound);
    tag->GetInt("FontSize", 0, &sizeFound);
    tag->GetColor("FontColor", FUiColor(0, 0, 0, 255), &colourFound);
    if (!fontFound || !sizeFound || !colourFound)
        return false;
    m_font.Read(tag);
    m_bDontScaleKnob = tag->GetBool("DontScaleKnob", false);
    m_bHorizontal = tag->GetBool("_Horizontal", true);
    m_bDisplayValue = tag->GetBool("_DisplayValue", true);
    m_pBackground = LoadPixmapFromTag(tag, "File_Image_Bg", nullptr);
    m_pKnob = LoadPixmapFromTag(tag, "File_Image_Knob", nullptr);
    m_pKnobDown = LoadPixmapFromTag(tag, "File_Image_Knob_Down", nullptr);
    if (!m_pKnobDown)
        m_pKnobDown = m_pKnob;
    if (m_pKnob && m_pKnobDown != m_pKnob &&
        (m_pKnob->GetWidth() != m_pKnobDown->GetWidth() ||
         m_pKnob->GetHeight() != m_pKnobDown->GetHeight())) {
        ReleaseUiPixmap(m_pKnob);
        ReleaseUiPixmap(m_pKnobDown);
        throw FExceptionUiScript(
            "FUiCheckbox::InitUiObject() failed: on and off images are NOT the same size!");
    }
    if (!priReadLimits(tag))
        return false;
    m_resize = tag->GetRect("ResizeRect", FRect());
    m_label = tag->GetRect("LabelRect", FRect());
    m_bVisible = tag->GetBool("_Visible", true);
    m_bDisplayIntegers = tag->GetBool("_DisplayIntegers", false);
    m_bLiveUpdate = tag->GetBool("_LiveUpdate", false);
    if (m_bDisplayValue && !m_bDontScaleKnob && m_pKnob)
        priEnlargeKnob();
    if (!m_pBackground || !m_pKnob) {
        DebugTrace("FUiSlider::InitUiObject(%s) FAILED: no background or knob image\n",
                   m_usFullName.GetNarrow());
        return false;
    }
    const int backgroundLength = m_bHorizontal ? m_pBackground->GetWidth() : m_pBackground->GetHeight();
    const int knobLength = m_bHorizontal ? m_pKnob->GetWidth() : m_pKnob->GetHeight();
    if (knobLength >= backgroundLength) {
        // A knob that fills the track has nowhere to go; every position would divide by zero.
        DebugTrace("FUiSlider::InitUiObject(%s) FAILED: the knob is not shorter than the track\n",
                   m_usFullName.GetNarrow());
        return false;
    }
    if (m_bHorizontal) {
        m_iMinWidth = m_pBackground->GetWidth();
        m_iMinHeight = std::max(m_pBackground->GetHeight(), m_pKnob->GetHeight());
        m_iBackgroundOffset = std::max(0, (m_pKnob->GetHeight() - m_pBackground->GetHeight()) / 2);
    } else {
        m_iMinWidth = std::max(m_pBackground->GetWidth(), m_pKnob->GetWidth());
        m_iMinHeight = m_pBackground->GetHeight();
        m_iBackgroundOffset = std::max(0, (m_pKnob->GetWidth() - m_pBackground->GetWidth()) / 2);
    }
    SetWidgetLayout(m_hLayout, m_iMinWidth, 0);
    SetWidgetLayout(m_vLayout, m_iMinHeight, 0);
    SetRect(0, 0, m_iMinWidth, m_iMinHeight);
    return true;
}

bool FUiSlider::priReadLimits(FPropList* tag)
{
    m_dStep = tag->GetFloat("Step", 0);
    m_dLower = tag->GetFloat("Lower", 0);
    m_dUpper = tag->GetFloat("Upper", 0);
    const double init = tag->GetFloat("Init", 0);
    const double range = m_dUpper - m_dLower;
    // Outside these limits every position would divide by zero or give no number.
    bool ok = std::isfinite(m_dLower) && std::isfinite(m_dUpper) && std::isfinite(range) && range > 0 &&
              std::isfinite(m_dStep) && m_dStep > 0;
    if (ok && priIsSnapMode() && m_dStep > range)
        ok = false;
    if (!ok) {
        DebugTrace("FUiSlider::InitUiObject(%s) FAILED: needs Upper > Lower and 0 < Step (<= Upper - Lower "
                   "when snapping)\n",
                   m_usFullName.GetNarrow());
        return false;
    }
    const double fraction = std::isfinite(init) ? (init - m_dLower) / range : 0;
    m_dFraction = std::clamp(fraction, 0.0, 1.0);
    return true;
}

void FUiSlider::priEnlargeKnob()
{
    FIUiPixmap* text = RenderInlineFontText(m_font, FWideString(kKnobMeasureText), nullptr);
    if (!text)
        return;
    const long long width = static_cast<long long>(m_pKnob->GetWidth()) + text->GetWidth() - m_label.Width();
    const long long height =
        static_cast<long long>(m_pKnob->GetHeight()) + text->GetHeight() - m_label.Height();
    ReleaseUiPixmap(text);
    if (width <= 0 || height <= 0 || width > kMaxUiWindowSide || height > kMaxUiWindowSide)
        return;
    FIUiPixmap* larger = CreateUiPixmap(static_cast<int>(width), static_cast<int>(height), true);
    if (!larger)
        return;
    m_pKnob->DrawNineSliceRect(larger, m_resize, true);
    if (m_pKnobDown == m_pKnob)
        m_pKnobDown = larger;
    ReleaseUiPixmap(m_pKnob);
    m_pKnob = larger;
}

bool FUiSlider::SetRect(int x, int y, int width, int height)
{
    // The slider is as large as its images: a longer track would run past the drawn one.
    m_rect.Set(x, y, x + PlacedWidgetLength(m_hLayout, width), y + PlacedWidgetLength(m_vLayout, height));
    if (!m_pBackground || !m_pKnob)
        return true;
    if (m_bHorizontal) {
        m_iAcross = (m_rect.Height() - m_pKnob->GetHeight()) / 2;
        m_iTrack = std::max(0, m_rect.Width() - m_pKnob->GetWidth());
    } else {
        m_iAcross = (m_rect.Width() - m_pKnob->GetWidth()) / 2;
        m_iTrack = std::max(0, m_rect.Height() - m_pKnob->GetHeight());
    }
    m_iOffset = priClampOffset(static_cast<long long>(m_iTrack * m_dFraction));
    priPlaceKnob(m_iOffset);
    m_dValue = ComputeValue();
    return true;
}

double FUiSlider::priFractionOf(int offset) const
{
    return m_iTrack > 0 ? static_cast<double>(offset) / m_iTrack : 0.0;
}

int FUiSlider::priClampOffset(long long offset) const
{
    return static_cast<int>(std::clamp<long long>(offset, 0, m_iTrack));
}

int FUiSlider::priOffsetOfValue(double value) const
{
    if (std::isnan(value))
        value = m_dLower;
    value = std::clamp(value, m_dLower, m_dUpper);
    return priClampOffset(static_cast<long long>((value - m_dLower) * m_iTrack / (m_dUpper - m_dLower)));
}

void FUiSlider::priPlaceKnob(long long position)
{
    if (!m_pKnob)
        return;
    m_iKnobPosition = priClampOffset(position);
    const int width = m_pKnob->GetWidth();
    const int height = m_pKnob->GetHeight();
    if (m_bHorizontal) {
        const int left = m_rect.left + m_iKnobPosition;
        m_knob.Set(left, m_rect.top + m_iAcross, left + width, m_rect.top + m_iAcross + height);
    } else {
        const int top = m_rect.top + (m_iTrack - m_iKnobPosition);
        m_knob.Set(m_rect.left + m_iAcross, top, m_rect.left + m_iAcross + width, top + height);
    }
}

double FUiSlider::ComputeValue() const
{
    const double range = m_dUpper - m_dLower;
    const double half = m_dStep / 2;
    double v = m_dLower + range * priFractionOf(m_iOffset);
    if (v > m_dUpper)
        v = m_dUpper;
    double result = v;
    if (v >= m_dLower && v <= m_dLower + half) {
        result = m_dLower;
    } else if (std::fabs(v) < kZeroBand) {
        result = 0;
    } else if (m_dLower + half <= m_dUpper) {
        if (v >= m_dUpper - half) {
            result = m_dUpper;
        } else {
            // The grid index whose interval (lower + (k - 1/2) step, lower + (k + 1/2) step] holds v;
            // ticks whose interval would reach past the upper end are not searched.
            const double k = std::ceil((v - m_dLower) / m_dStep - 0.5);
            const double last = std::floor((range / m_dStep) - 1.5) + 1;
            if (k >= 0 && k <= std::max(last, 0.0))
                result = m_dLower + k * m_dStep;
        }
    }
    if (std::fabs(result) < kZeroBand)
        result = 0;
    return result;
}

FWideString FUiSlider::GetLabelText() const
{
    return priFormatValue("%.01f", "%.01f");
}

// The computed value as text: whole numbers when the script asks for them, else the formats.
FWideString FUiSlider::priFormatValue(const char* positive, const char* other) const
{
    char text[64];
    const double value = ComputeValue();
    if (m_bDisplayIntegers)
        std::snprintf(text, sizeof text, "%lld",
                      static_cast<long long>(std::clamp(std::trunc(value), -9e18, 9e18)));
    else
        std::snprintf(text, sizeof text, value > 0 ? positive : other, value);
    return FWideString(text);
}

void FUiSlider::priMoveAndReport(int offset)
{
    m_iOffset = priClampOffset(offset);
    priPlaceKnob(m_iOffset);
    m_dFraction = priFractionOf(m_iOffset);
    m_dValue = ComputeValue();
    priFire("ON_RELEASE", &m_dFraction);
    priFire("ON_UPDATE", &m_dValue);
    priInvalidate();
}

void FUiSlider::priSetFraction(double fraction, bool report)
{
    if (!(fraction >= 0))
        fraction = 0;
    if (fraction > 1)
        fraction = 1;
    const int offset = priClampOffset(static_cast<long long>(fraction * m_iTrack));
    if (offset == m_iOffset)
        return;
    if (report) {
        priMoveAndReport(offset);
        return;
    }
    m_iOffset = offset;
    priPlaceKnob(offset);
    m_dFraction = priFractionOf(offset);
    m_dValue = ComputeValue();
    priInvalidate();
}

void FUiSlider::priStep(bool up)
{
    double v = ComputeValue() + (up ? m_dStep : -m_dStep);
    v = up ? std::min(v, m_dUpper) : std::max(v, m_dLower);
    m_iOffset = priOffsetOfValue(v);
    priPlaceKnob(m_iOffset);
    m_dFraction = priFractionOf(m_iOffset);
    m_dValue = v;
    priFire("ON_RELEASE", &m_dFraction);
    priFire("ON_UPDATE", &m_dValue);
    priInvalidate();
}

void FUiSlider::priSnap()
{
    // Limited so that the tick spacing stays an integer operation; beyond a
    // pixel per tick every larger count places the knob alike.
    const double ticks = std::floor((m_dUpper - m_dLower) / m_dStep);
    const long long n = static_cast<long long>(std::clamp(ticks, 1.0, 1e9));
    const double doubled = 2.0 * static_cast<double>(n);
    long long k = 0;
    if (m_dFraction >= 1 - 1 / doubled) {
        m_dFraction = 1;
        k = n;
    } else {
        // The first tick whose interval [(2k - 1) h, (2k + 1) h] holds the fraction, h = 1 / 2n.
        k = std::clamp<long long>(static_cast<long long>(std::ceil((m_dFraction * doubled - 1) / 2)), 0,
                                  n - 1);
        m_dFraction = static_cast<double>(k) / static_cast<double>(n);
    }
    const int length = m_bHorizontal ? m_rect.Width() : m_rect.Height();
    const int knobLength = m_bHorizontal ? m_pKnob->GetWidth() : m_pKnob->GetHeight();
    if (k == 0)
        priPlaceKnob(0);
    else if (k == n)
        priPlaceKnob(m_iTrack);
    else
        priPlaceKnob(k * (length / n) - knobLength / 2);
    m_iOffset = priClampOffset(static_cast<long long>(m_iTrack * m_dFraction));
    m_dValue = ComputeValue();
}

int FUiSlider::priAxisCoordinate(int x, int y) const
{
    return m_bHorizontal ? x : -y;
}

bool FUiSlider::priIsSnapMode() const
{
    const RelayEvent* snap = FindEvent(FWideString("ON_SNAP"));
    return snap && snap->GetFirstRelay();
}

void FUiSlider::Display(FIUiPixmap* target, int xOffset, int yOffset, const FRect& clip)
{
    if (!m_bVisible || IsWidgetRectEmpty(m_rect) || !m_pBackground || !m_pKnob)
        return;
    if (!OffsetWidgetRect(m_rect, xOffset, yOffset).Intersects(clip))
        return;
    const int backgroundX = m_rect.left + (m_bHorizontal ? 0 : m_iBackgroundOffset);
    const int backgroundY = m_rect.top + (m_bHorizontal ? m_iBackgroundOffset : 0);
    DrawWidgetPicture(
        m_pBackground, target,
        OffsetWidgetRect(FRect(backgroundX, backgroundY, backgroundX + m_pBackground->GetWidth(),
                               backgroundY + m_pBackground->GetHeight()),
                         xOffset, yOffset),
        clip);
    // A disabled slider stands for no value: its track shows, its knob does not.
    if (m_bDisabled)
        return;
    FIUiPixmap* knob = m_bPressed && m_pKnobDown ? m_pKnobDown : m_pKnob;
    DrawWidgetPicture(knob, target, OffsetWidgetRect(m_knob, xOffset, yOffset), clip);
    if (!m_bDisplayValue)
        return;
    FIUiPixmap* text = RenderInlineFontText(m_font, GetLabelText(), nullptr);
    if (!text)
        return;
    const int left = m_knob.left + m_label.left + (m_label.Width() - text->GetWidth()) / 2;
    const int top = m_knob.top + m_label.top;
    DrawWidgetPicture(text, target,
                      OffsetWidgetRect(FRect(left, top, left + text->GetWidth(), top + text->GetHeight()),
                                       xOffset, yOffset),
                      clip);
    ReleaseUiPixmap(text);
}

FIUiObject* FUiSlider::HitTest(int x, int y)
{
    if (m_bDisabled || !m_bVisible)
        return nullptr;
    return WidgetRectContains(m_rect, x, y) ? this : nullptr;
}

bool FUiSlider::MouseDown(int x, int y, bool, bool)
{
    if (m_bDisabled)
        return false;
    if (WidgetRectContains(m_knob, x, y)) {
        m_bCaptured = SetWidgetMouseCapture(m_pWindow, this, true);
        m_bPressed = true;
        priFire("ON_MANUAL");
        m_iDragStart = m_iOffset;
        m_iDownPosition = priAxisCoordinate(x, y);
        m_dReported = ComputeValue();
        priInvalidate();
        return true;
    }
    if (priIsSnapMode()) {
        m_bPressed = true;
        m_iDragStart = m_iOffset;
        m_iDownPosition = priAxisCoordinate(x, y);
        const int along = m_bHorizontal ? x - m_rect.left : m_rect.bottom - y;
        m_dFraction = std::clamp(priFractionOf(along), 0.0, 1.0);
        return true;
    }
    priFire("ON_MANUAL");
    const bool beyond = m_bHorizontal ? x >= m_knob.right : y < m_knob.top;
    const bool before = m_bHorizontal ? x < m_knob.left : y >= m_knob.bottom;
    if (beyond)
        priStep(true);
    else if (before)
        priStep(false);
    return true;
}

void FUiSlider::MouseMove(int x, int y)
{
    if (m_bDisabled || !m_bPressed || !m_bCaptured)
        return;
    const long long moved = static_cast<long long>(m_iDragStart) + priAxisCoordinate(x, y) -
                            static_cast<long long>(m_iDownPosition);
    const int c = priClampOffset(moved);
    if (c != m_iOffset) {
        priPlaceKnob(static_cast<long long>(m_iKnobPosition) + c - m_iOffset);
        m_iOffset = c;
        m_dFraction = priFractionOf(c);
        priFire("ON_SLIDE", &m_dFraction);
        if (m_bDisplayValue || m_bLiveUpdate) {
            m_dValue = ComputeValue();
            priFire("ON_UPDATE", &m_dValue);
            m_dReported = m_dValue;
        }
    }
    priInvalidate();
}

void FUiSlider::MouseUp(int, int, bool, bool)
{
    if (m_bDisabled || !m_bPressed)
        return;
    if (m_bCaptured)
        SetWidgetMouseCapture(m_pWindow, this, false);
    m_bCaptured = false;
    m_bPressed = false;
    if (priIsSnapMode()) {
        priSnap();
        priFire("ON_SNAP", &m_dFraction);
    } else {
        priFire("ON_RELEASE", &m_dFraction);
        // The value where the knob came to rest, unless the drag already sent it.
        m_dValue = ComputeValue();
        if (m_bLiveUpdate && m_dValue != m_dReported) {
            m_dReported = m_dValue;
            priFire("ON_UPDATE", &m_dValue);
        }
    }
    priInvalidate();
}

void FUiSlider::priFire(const char* eventName, void* data)
{
    if (RelayEvent* event = FindEvent(FWideString(eventName)))
        event->Fire(data);
}

void FUiSlider::priInvalidate()
{
    InvalidateWidgetRect(m_pWindow, m_rect, false);
    priValueText(false);
}

FWideString FUiSlider::GetValueText() const
{
    return priFormatValue("+%.2f", "%.2f");
}

// A text beside the slider shows the value with the precision of its steps; it is sent only
// when it changes, since a drag moves the knob pixel by pixel.
void FUiSlider::priValueText(bool always)
{
    FWideString text = GetValueText();
    if (!always && text == m_usValueText)
        return;
    m_usValueText = text;
    priFire("ON_VALUE_TEXT", &text);
}
