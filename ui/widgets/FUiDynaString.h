#pragma once

#include "FUiObject.h"

class FIUiFont;
class FIUiPixmap;

// DYNA_STRING: a display string chosen at run time, or a text set at run time,
// in an application font; it sizes itself to what it shows.
class FUiDynaString : public FUiObject
{
public:
    explicit FUiDynaString(const char* typeName);
    ~FUiDynaString() override;

    bool UiRelayMessage(const FWideString& message, void* data) override;
    bool InitUiObject(FIUiApp* app, FIUiWindow* window, FIUiObject* parent, FPropList* tag) override;
    bool SetRect(int x, int y, int width, int height) override;
    void Display(FIUiPixmap* target, int xOffset, int yOffset, const FRect& clip) override;
    FIUiObject* HitTest(int x, int y) override;
    bool MouseDown(int x, int y, bool ctrl, bool shift) override;

    bool IsTextMode() const { return m_bTextMode; }
    FIUiPixmap* GetTextPixmap() const { return m_pTextPixmap; }
    // The text last rendered, empty without a pixmap.
    const FWideString& GetShownText() const { return m_usShown; }

private:
    void priRender();
    void priResize();

    FWideString m_usAppFont;
    int m_iMinHSize = 0;
    int m_iHStretch = 0;
    int m_iVStretch = 0;
    FWideString m_usDisplayString;
    bool m_bCenterJust = false;
    FIUiFont* m_pFont = nullptr;
    int m_iWidth = 0;
    int m_iHeight = 0;
    bool m_bTextMode = false;
    FWideString m_usSetText;
    FWideString m_usShown;
    FIUiPixmap* m_pTextPixmap = nullptr;
    RelayEvent* m_pOnPress = nullptr;
};
