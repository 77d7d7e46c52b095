#pragma once

#include "FUiObject.h"

// IMAGE_FRAME: a skin-image border around one content box; the image is
// stretched with protected borders and drawn under or over the content.
class FUiImageFrame : public FUiObject
{
public:
    explicit FUiImageFrame(const char* typeName);
    ~FUiImageFrame() override;

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

private:
    void priMinimums();

    int m_iScriptMinWidth = 0;
    int m_iScriptMinHeight = 0;
    int m_iHStretch = 0;
    int m_iVStretch = 0;
    FRect m_insideRect;
    FRect m_layoutRect;
    int m_iInsetLeft = 0;
    int m_iInsetTop = 0;
    int m_iInsetRight = 0;
    int m_iInsetBottom = 0;
    bool m_bNoScale = false;
    bool m_bVisible = true;
    bool m_bClickable = false;
    bool m_bOverlay = false;
    bool m_bThreeBand = false;
    FIUiPixmap* m_pImage = nullptr;
    FIUiPixmap* m_pPicture = nullptr;
    FIUiObject* m_pBox = nullptr;
    RelayEvent m_onPress;
};
