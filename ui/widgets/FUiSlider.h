#pragma once

#include "FUiObject.h"
#include "FUiWidgetFrame.h"

class FIUiPixmap;

// SLIDER: a knob on a track image, dragged, paged by clicks beside the knob
// or snapped to ticks. It holds a position from 0 to 1 and reports a value
// between "Lower" and "Upper" on a grid of "Step". The lower end is the left
// end of a horizontal slider and the bottom end of a vertical one.
class FUiSlider final : public FUiObject
{
public:
    explicit FUiSlider(const char* typeName);
    ~FUiSlider() override;
    FUiSlider(const FUiSlider&) = delete;
    FUiSlider& operator=(const FUiSlider&) = delete;

    bool UiRelayMessage(const FWideString& message, void* data) override;
    bool InitUiObject(FIUiApp* app, FIUiWindow* window, FIUiObject* parent, FPropList* tag) override;
    bool SetRect(int x, int y, int width, int height) override;
    void Display(FIUiPixmap* target, int xOffset, int yOffset, const FRect& clip) override;
    FIUiObject* HitTest(int x, int y) override;
    bool MouseDown(int x, int y, bool ctrl, bool shift) override;
    void MouseUp(int x, int y, bool ctrl, bool shift) override;
    void MouseMove(int x, int y) override;

    double GetFraction() const { return m_dFraction; }
    bool IsDisabled() const { return m_bDisabled; }
    double GetValue() const { return m_dValue; }
    int GetOffset() const { return m_iOffset; }
    int GetTrack() const { return m_iTrack; }
    const FRect& GetKnobRect() const { return m_knob; }
    // The value the knob's offset stands for, on the grid of the step.
    double ComputeValue() const;
    // The label text the knob shows for the current position.
    FWideString GetLabelText() const;
    // The value as ON_VALUE_TEXT sends it: two decimals with a sign, or a whole number.
    FWideString GetValueText() const;

private:
    bool priReadLimits(FPropList* tag);
    void priEnlargeKnob();
    double priFractionOf(int offset) const;
    int priOffsetOfValue(double value) const;
    int priClampOffset(long long offset) const;
    // Puts the knob's start at `position` from the lower end (kept on the track).
    void priPlaceKnob(long long position);
    // Offset and knob to the position; fraction and value follow; ON_RELEASE, ON_UPDATE.
    void priMoveAndReport(int offset);
    void priSetFraction(double fraction, bool report);
    void priStep(bool up);
    void priSnap();
    // The pointer coordinate along the axis, growing towards the upper end.
    int priAxisCoordinate(int x, int y) const;
    bool priIsSnapMode() const;
    void priFire(const char* eventName, void* data = nullptr);
    void priInvalidate();
    void priValueText(bool always);
    FWideString priFormatValue(const char* positive, const char* other) const;

    bool m_bVisible = true;
    bool m_bDisplayIntegers = false;
    FIUiPixmap* m_pBackground = nullptr;
    FIUiPixmap* m_pKnob = nullptr;
    FIUiPixmap* m_pKnobDown = nullptr;
    int m_iBackgroundOffset = 0;
    FRect m_knob;
    FRect m_label;
    FRect m_resize;
    bool m_bHorizontal = true;
    double m_dFraction = 0;
    double m_dValue = 0;
    double m_dStep = 0;
    double m_dLower = 0;
    double m_dUpper = 0;
    // The knob's distance from the lower end: offset gives the value, the knob
    // position where it is drawn (they part only after snapping to a tick).
    int m_iOffset = 0;
    int m_iKnobPosition = 0;
    int m_iTrack = 0;
    int m_iAcross = 0;
    int m_iMinWidth = 0;
    int m_iMinHeight = 0;
    int m_iDownPosition = 0;
    int m_iDragStart = 0;
    bool m_bPressed = false;
    bool m_bCaptured = false;
    bool m_bDisabled = false;
    bool m_bDisplayValue = true;
    bool m_bDontScaleKnob = false;
    // "_LiveUpdate": a drag sends its values as it goes and the last one on release.
    bool m_bLiveUpdate = false;
    double m_dReported = 0;
    FWideString m_usValueText;
    FUiInlineFont m_font;
};
