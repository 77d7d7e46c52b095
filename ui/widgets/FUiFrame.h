#pragma once

#include "FUiObject.h"

// FRAME: a group frame of coloured bars around one content box, with an
// optional TEXT caption set into the top bar, an optional fill and clicks.
class FUiFrame : public FUiObject
{
public:
    explicit FUiFrame(const char* typeName);
    ~FUiFrame() override;

    bool ConnectRelays() override;
    FIUiRelay* GetUiRelay(const FWideString& name) override;
    bool UiRelayMessage(const FWideString& message, void* data) override;
    bool InitUiObject(FIUiApp* app, FIUiWindow* window, FIUiObject* parent, FPropList* tag) override;
    bool SetRect(int x, int y, int width, int height) override;
    bool ReInitLayout() override;
    void Display(FIUiPixmap* target, int xOffset, int yOffset, const FRect& clip) override;
    FIUiObject* HitTest(int x, int y) override;
    bool MouseDown(int x, int y, bool ctrl, bool shift) override;

    bool IsVisible() const { return m_bVisible; }
    FIUiObject* GetCaption() const { return m_pCaption; }
    int GetTopInset() const { return m_iTopInset; }
    int GetSideInset() const { return m_iSideInset; }
    int GetCaptionX() const { return m_iCaptionX; }

private:
    void priMinimums();

    int m_iScriptMinWidth = 0;
    int m_iScriptMinHeight = 0;
    int m_iHStretch = 0;
    int m_iVStretch = 0;
    int m_iThickness = 0;
    FUiColor m_frameColor;
    bool m_bFill = false;
    FUiColor m_fillColor;
    bool m_bClickable = false;
    bool m_bVisible = true;
    FIUiObject* m_pCaption = nullptr;
    FIUiObject* m_pBox = nullptr;
    int m_iCaptionX = 0;
    int m_iTopInset = 0;
    int m_iSideInset = 0;
    RelayEvent m_onPress;
};

// RECT: a filled colour rectangle, optionally holding a content box.
class FUiRect : public FUiObject
{
public:
    explicit FUiRect(const char* typeName);

    bool ConnectRelays() override;
    FIUiRelay* GetUiRelay(const FWideString& name) override;
    bool UiRelayMessage(const FWideString& message, void* data) override;
    bool InitUiObject(FIUiApp* app, FIUiWindow* window, FIUiObject* parent, FPropList* tag) override;
    bool SetRect(int x, int y, int width, int height) override;
    bool ReInitLayout() override;
    void Display(FIUiPixmap* target, int xOffset, int yOffset, const FRect& clip) override;
    FIUiObject* HitTest(int x, int y) override;

    const FUiColor& GetColor() const { return m_colour; }

private:
    bool priMinimums(int& width, int& height);

    int m_iScriptMinWidth = 0;
    int m_iScriptMinHeight = 0;
    int m_iHStretch = 0;
    int m_iVStretch = 0;
    FUiColor m_colour{128, 128, 128, 255};
};

// HLINE and VLINE: one-pixel separator lines.
class FUiHVLine : public FUiObject
{
public:
    explicit FUiHVLine(const char* typeName);

    bool InitUiObject(FIUiApp* app, FIUiWindow* window, FIUiObject* parent, FPropList* tag) override;
    bool SetRect(int x, int y, int width, int height) override;
    void Display(FIUiPixmap* target, int xOffset, int yOffset, const FRect& clip) override;

private:
    bool m_bHorizontal;
    FUiColor m_colour{0, 0, 0, 255};
};
