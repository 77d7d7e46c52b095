#pragma once

// PULLDOWN: a closed field showing one text and an identifier with a button
// beside it; a click opens its HBOX or VBOX child below it as the window's
// popup. Text and identifier survive a restart in the state file.

#include "FUiObject.h"
#include "FUiWidgetFrame.h"

class FIUiFont;
class FIUiMultiLangString;
class FIUiPixmap;

class FUiPullDownList : public FUiObject
{
public:
    explicit FUiPullDownList(const char* typeName);
    ~FUiPullDownList() override;

    FIUiRelay* GetUiRelay(const FWideString& name) override;
    bool UiRelayMessage(const FWideString& message, void* data) override;
    bool InitUiObject(FIUiApp* app, FIUiWindow* window, FIUiObject* parent, FPropList* tag) override;
    bool SetRect(int x, int y, int width, int height) override;
    void Display(FIUiPixmap* target, int xOffset, int yOffset, const FRect& clip) override;
    FIUiObject* HitTest(int x, int y) override;
    bool MouseDown(int x, int y, bool ctrl, bool shift) override;
    void MouseUp(int x, int y, bool ctrl, bool shift) override;
    void MouseEnter(int x, int y) override;
    void MouseLeave(int x, int y) override;

    bool IsOpen() const { return m_bOpen; }
    int GetButtonState() const { return m_iButtonState; }
    const FWideString& GetDisplayText() const { return m_usDisplayText; }
    const FWideString& GetIdentifier() const { return m_usIdentifier; }
    int GetClosedHeight() const { return m_iClosedHeight; }
    FRect GetButtonRect() const { return m_buttonRect; }
    FRect GetFrameRect() const { return m_frame; }
    FIUiObject* GetBox() const { return m_pFirstChild; }

private:
    int priClosedHeight();
    void priRestore();
    void priSave();
    void priSetLanguage();
    void priFireText();
    void priFireID(RelayEvent* event);
    void priInvalidate(bool update = false);
    void priReleaseImages();
    // The current display string's text when it has one, else the display text.
    FWideString priShownText() const;
    FGenericUiWindow* priWindow() const;

    bool m_bUsePersistentData = true;
    bool m_bOpen = false;
    bool m_bPressed = false;
    bool m_bRestored = false;
    bool m_bDefaultShown = false;
    bool m_bClosedByPress = false;
    int m_iMinHSize = 0;
    int m_iClosedHeight = 0;
    int m_iHStretch = 0;
    FIUiPixmap* m_pButtons[4] = {nullptr, nullptr, nullptr, nullptr};
    FIUiPixmap* m_pFrameImage = nullptr;
    FRect m_frameBand;
    FWideString m_usDisplayText;
    FWideString m_usDefaultText;
    FWideString m_usIdentifier;
    FUiInlineFont m_font;
    FIUiFont* m_pAppFont = nullptr;
    FIUiFont* m_pInitialFont = nullptr;
    FRect m_frame;
    FRect m_buttonRect;
    FRect m_boxRect;
    int m_iButtonState = 0;
    RelayEvent* m_pOnSelect = nullptr;
    RelayEvent* m_pOnSelectID = nullptr;
    RelayEvent* m_pOnSendID = nullptr;
    FIUiMultiLangString* m_pCurrentString = nullptr;
    FWideString m_usCurrentName; // the display-string name of m_pCurrentString
    FIUiMultiLangString* m_pDefaultString = nullptr;
    FIUiMultiLangString* m_pZeroString = nullptr;
};
