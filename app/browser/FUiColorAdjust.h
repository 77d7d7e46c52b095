#pragma once

#include <cstdint>

#include "FReviewDisplayWidgets.h"
#include "FUiObject.h"

class FIUiObjectFactory;
class FIUiPixmap;

// COLOR_ADJUST: a round window onto a larger colour wheel; the point under the
// pointer sets three gains in whole colour-compensation steps (the centre is
// neutral, the direction the hue of the cast, the distance its strength). The
// wheel scrolls to follow the pointer and marks the current setting.
class FUiColorAdjust : public FUiObject
{
public:
    // Pixels per unit of wheel position.
    static constexpr double kScale = 110.0;

    explicit FUiColorAdjust(const char* typeName);
    ~FUiColorAdjust() override;

    bool ConnectRelays() override;
    bool UiRelayMessage(const FWideString& message, void* data) override;
    bool InitUiObject(FIUiApp* app, FIUiWindow* window, FIUiObject* parent, FPropList* tag) override;
    bool SetRect(int x, int y, int width, int height) override;
    void Display(FIUiPixmap* target, int xOffset, int yOffset, const FRect& clip) override;
    void Tick(int elapsedMs) override;
    FIUiObject* HitTest(int x, int y) override;
    bool MouseDown(int x, int y, bool ctrl, bool shift) override;
    void MouseUp(int x, int y, bool ctrl, bool shift) override;
    void MouseMove(int x, int y) override;

    // The gains of a wheel position (units of kScale pixels, y down), largest not above 1.
    static void WheelGains(double x, double y, double gains[3]);
    // The wheel position of gains; the centre for gains without a usable sum.
    static void WheelPosition(const double gains[3], double& x, double& y);

    const double* GetGains() const { return m_gains; }
    const int32_t* GetDensities() const { return m_densities; }
    int GetOffsetX() const { return m_iOffsetX; }
    int GetOffsetY() const { return m_iOffsetY; }
    bool IsDragging() const { return m_bDragging; }
    FIUiPixmap* GetWheelPicture() const { return m_pWheel; }
    FIUiPixmap* GetWindowPicture() const { return m_pWindowPicture; }
    // Where the marker's centre goes, relative to the widget's top-left corner.
    void GetMarkerPixel(int& x, int& y) const;

private:
    void priSetFromPosition(double x, double y);
    void priSetFromGains(const double gains[3]);
    void priSetFromPointer(int px, int py);
    void priFollow(int px, int py);
    void priBuildWheel();
    void priBuildWindow();
    void priDrawGridDot(const int32_t densities[3]);
    void priFireChange();

    int m_iOffsetX = 0;
    int m_iOffsetY = 0;
    double m_gains[3] = {1.0, 1.0, 1.0};
    int32_t m_densities[3] = {0, 0, 0};
    FIUiPixmap* m_pMarker = nullptr;
    FIUiPixmap* m_pWindowPicture = nullptr;
    FIUiPixmap* m_pWheel = nullptr;
    // The frame is read and kept but not drawn; the fill paints outside the circle.
    FFramedWidgetKeys m_keys;
    bool m_bDragging = false;

    RelayEvent m_onChange;
    RelayEvent m_onUpdate;
    RelayEvent m_onToggleGrayBalance;
    RelayEvent m_onEnableGrayBalance;
    RelayEvent m_onRedraw;
    RelayEvent m_onManual;
};

bool RegisterColorAdjustCreator(FIUiObjectFactory* factory);
