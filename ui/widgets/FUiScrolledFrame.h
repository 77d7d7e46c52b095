#pragma once

// SCROLLED_FRAME: a coloured frame around a content box with a vertical
// scroll bar inside its right edge. Content taller than the frame is laid
// out at its own minimum height and scrolled in whole line pitches.

#include "FUiColor.h"
#include "FUiObject.h"

class FUiScrolledFrame : public FUiObject
{
public:
    explicit FUiScrolledFrame(const char* typeName);
    ~FUiScrolledFrame() override;

    bool ConnectRelays() override;
    FIUiRelay* GetUiRelay(const FWideString& name) override;
    bool UiRelayMessage(const FWideString& message, void* data) override;
    bool InitUiObject(FIUiApp* app, FIUiWindow* window, FIUiObject* parent, FPropList* tag) override;
    bool SetRect(int x, int y, int width, int height) override;
    void Display(FIUiPixmap* target, int xOffset, int yOffset, const FRect& clip) override;
    void Tick(int elapsedMs) override;
    FIUiObject* HitTest(int x, int y) override;
    void MouseWheel(int x, int y, int flag, int notches) override;

    bool IsScrolling() const { return m_bScrolling; }
    int GetOffset() const { return m_iOffset; }
    int GetContentHeight() const { return m_iContentHeight; }
    int GetLinePitch() const { return m_iPitch; }
    FIUiObject* GetScrollbar() const { return m_pScrollbar; }
    // The inside of the frame, left of the scroll bar: all the content shows through.
    FRect GetInnerRect() const;

private:
    void priUpdateScrollInfo();
    bool priPlaceContent();
    int priScrollbarWidth() const;

    int m_iMinHSize = 0;
    int m_iMinVSize = 0;
    int m_iHStretch = 0;
    int m_iVStretch = 0;
    int m_iThickness = 0;
    FUiColor m_frameColor{0, 0, 0, 255};
    bool m_bFillGiven = false;
    FUiColor m_fillColor{0, 0, 0, 255};
    FIUiObject* m_pScrollbar = nullptr;
    int m_iPitch = 1;
    bool m_bScrolling = false;
    bool m_bContentShown = true;
    int m_iOffset = 0;
    int m_iInnerHeight = 0;
    int m_iInnerWidth = 0;
    int m_iContentHeight = 0;
    int m_iContentWidth = 0;
    RelayEvent* m_pSizeChanged = nullptr;
};
