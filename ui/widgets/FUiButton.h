#pragma once

#include "FUiObject.h"

class FIUiMultiLangString;
class FIUiPixmap;

// BUTTON: the push button, drawn per state from a plain colour or from skin
// images scaled with protected borders, with an optional content box for its
// label that shifts while pressed.
class FUiButton final : public FUiObject
{
public:
    enum EState {
        kNormal = 0,
        kOver = 1,
        kPressed = 2,
        kDisabled = 3,
    };

    explicit FUiButton(const char* typeName);
    ~FUiButton() override;
    FUiButton(const FUiButton&) = delete;
    FUiButton& operator=(const FUiButton&) = delete;

    FIUiRelay* GetUiRelay(const FWideString& name) override;
    bool UiRelayMessage(const FWideString& message, void* data) override;
    bool InitUiObject(FIUiApp* app, FIUiWindow* window, FIUiObject* parent, FPropList* tag) override;
    bool SetRect(int x, int y, int width, int height) override;
    bool ReInitLayout() override;
    void Display(FIUiPixmap* target, int xOffset, int yOffset, const FRect& clip) override;
    void Tick(int elapsedMs) override;
    FIUiObject* HitTest(int x, int y) override;
    bool MouseDown(int x, int y, bool ctrl, bool shift) override;
    void MouseUp(int x, int y, bool ctrl, bool shift) override;
    void MouseEnter(int x, int y) override;
    void MouseLeave(int x, int y) override;
    void KeyEvent(uint16_t code, bool ctrl, bool shift) override;
    bool GetToolTip(FWideString& text) override;

    int GetState() const { return m_iState; }
    bool HasSkin() const { return m_bHasSkin; }

private:
    void priReadSkin(FPropList* skinTag);
    void priReleaseSkin();
    void priComputeMinimums();
    void priDropPicture();
    bool priRenderPicture();
    void priRefresh();
    void priSetEnabled(bool enabled);
    void priFire(const char* eventName, void* data = nullptr);

    int m_iState = kNormal;
    // "TipString": the display string a resting pointer shows.
    FIUiMultiLangString* m_pTip = nullptr;
    bool m_bHidden = false;
    bool m_bHeld = false;
    bool m_bRepeat = false;
    bool m_bRepeatActive = false;
    int m_iRepeatTime = 0;
    int m_iRepeatDelay = 200;
    int m_iMinHSize = 0;
    int m_iMinVSize = 0;
    int m_iHStretch = 0;
    int m_iVStretch = 0;
    int m_iMinWidth = 0;
    int m_iMinHeight = 0;
    int m_iPressedLabelX = 0;
    int m_iPressedLabelY = 0;
    bool m_bStartDisabled = false;
    FUiColor m_colours[4];
    // Indexed by state: normal, mouse over, pressed, disabled.
    FIUiPixmap* m_pImages[4] = {nullptr, nullptr, nullptr, nullptr};
    bool m_bHasSkin = false;
    bool m_bResizeScaling = false;
    bool m_bResizeScalingY = false;
    FRect m_scaling;
    FRect m_label;
    FIUiPixmap* m_pPicture = nullptr;
};
