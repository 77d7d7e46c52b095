#pragma once

#include "FUiObject.h"

class FIUiPixmap;

// CHECKBOX and RADIO_BUTTON: a two-state control drawn from skin images. A
// check box flips on every click; a radio button only turns on. Setting the
// state by message never fires events, so sibling wiring cannot loop.
class FUiCheckbox final : public FUiObject
{
public:
    explicit FUiCheckbox(const char* typeName);
    ~FUiCheckbox() override;
    FUiCheckbox(const FUiCheckbox&) = delete;
    FUiCheckbox& operator=(const FUiCheckbox&) = delete;

    bool UiRelayMessage(const FWideString& message, void* data) override;
    bool InitUiObject(FIUiApp* app, FIUiWindow* window, FIUiObject* parent, FPropList* tag) override;
    bool SetRect(int x, int y, int width, int height) override;
    void Display(FIUiPixmap* target, int xOffset, int yOffset, const FRect& clip) override;
    FIUiObject* HitTest(int x, int y) override;
    bool MouseDown(int x, int y, bool ctrl, bool shift) override;
    void MouseEnter(int x, int y) override;
    void MouseLeave(int x, int y) override;

    bool GetState() const { return m_bState; }
    bool IsDisabled() const { return m_bDisabled; }

private:
    void priClick(bool byMouse);
    void priSetState(bool state);
    void priFire(const char* eventName, void* data = nullptr);

    bool m_bHidden = false;
    FIUiPixmap* m_pOn = nullptr;
    FIUiPixmap* m_pOff = nullptr;
    FIUiPixmap* m_pDisabledImage = nullptr;
    FIUiPixmap* m_pOverImage = nullptr;
    bool m_bDisabled = false;
    bool m_bState = false;
    bool m_bMouseOver = false;
    bool m_bRadio = false;
    bool m_bAlwaysSendTrue = false;
    int m_iMinHSize = -1;
    int m_iMinVSize = -1;
    int m_iHStretch = 0;
    int m_iVStretch = 0;
};
