#pragma once

#include "FUiObject.h"
#include "FontAttributes.h"

class FIUiFont;
class FIUiMultiLangString;

// TEXT: one display string of the script in the current language, as a label
// of fixed size that can be shown, hidden, enabled and disabled, and clicked.
class FUiText : public FUiObject
{
public:
    explicit FUiText(const char* typeName);
    ~FUiText() override;

    bool UiRelayMessage(const FWideString& message, void* data) override;
    bool InitUiObject(FIUiApp* app, FIUiWindow* window, FIUiObject* parent, FPropList* tag) override;
    bool SetRect(int x, int y, int width, int height) override;
    bool ReInitLayout() override;
    void Display(FIUiPixmap* target, int xOffset, int yOffset, const FRect& clip) override;
    FIUiObject* HitTest(int x, int y) override;
    bool MouseDown(int x, int y, bool ctrl, bool shift) override;

    bool IsVisible() const { return m_bVisible; }
    bool IsEnabled() const { return m_bEnabled; }
    // The rendered text, or null.
    FIUiPixmap* GetTextPixmap() const { return m_pTextPixmap; }

private:
    void priRender();
    void priRepaint();

    FIUiMultiLangString* m_pDisplayString = nullptr;
    FIUiFont* m_pFont = nullptr;
    bool m_bEnabled = true;
    FontAttributes m_attributes;
    bool m_bVisible = true;
    bool m_bCenterJust = true;
    bool m_bRightJust = true;
    int m_iMinWidth = 0;
    int m_iMinHeight = 0;
    int m_iWidth = 0;
    int m_iHeight = 0;
    FIUiPixmap* m_pTextPixmap = nullptr;
    RelayEvent* m_pOnPress = nullptr;
};

// LANGUAGE: tells the script the current language at start and after every change.
class FUiLanguage : public FUiObject
{
public:
    explicit FUiLanguage(const char* typeName);
    ~FUiLanguage() override;

    bool UiRelayMessage(const FWideString& message, void* data) override;
    bool InitUiObject(FIUiApp* app, FIUiWindow* window, FIUiObject* parent, FPropList* tag) override;

    const FWideString& GetLanguage() const { return m_usLanguage; }

private:
    FWideString m_usLanguage;
    RelayEvent* m_pOnInit = nullptr;
    RelayEvent* m_pOnPing = nullptr;
};
