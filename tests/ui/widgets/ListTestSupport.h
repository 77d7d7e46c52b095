#pragma once

// Pieces shared by the list, tree and scrolled-frame tests: a scroll-bar
// stand-in that records what its owner sends it and can scroll on request,
// and pixel helpers.

#include <array>
#include <string>
#include <vector>

#include "FUiObject.h"

class FIUiObjectFactory;
class FIUiPixmap;

// SCROLLBAR, HSCROLLBAR and VSCROLLBAR stand-in: "Thick" (default 12) is its
// minimum width and height; it takes the rectangle it is offered and is hit
// inside it. Its owner's ON_SCROLL target is kept so that a test can scroll.
class FTestScrollbar : public FUiObject
{
public:
    explicit FTestScrollbar(const char* typeName);

    bool InitUiObject(FIUiApp* app, FIUiWindow* window, FIUiObject* parent, FPropList* tag) override;
    bool UiRelayMessage(const FWideString& message, void* data) override;
    bool AddEventTarget(const FWideString& eventName, const FWideString& message, FIUiRelay* target) override;
    FIUiObject* HitTest(int x, int y) override;
    void Display(FIUiPixmap* target, int xOffset, int yOffset, const FRect& clip) override;
    void Tick(int elapsedMs) override { m_iTicks += elapsedMs > 0 ? 1 : 0; }
    void MouseWheel(int, int, int, int notches) override { m_iWheel += notches; }

    // Sends the owner's scroll message with the offset, as a user scroll would.
    bool Scroll(int offset);
    const std::vector<std::array<double, 3>>& GetSets() const { return m_sets; }
    std::string LastSet() const;
    int GetPostCreations() const { return m_iPostCreations; }
    int GetTicks() const { return m_iTicks; }
    int GetWheel() const { return m_iWheel; }

private:
    std::vector<std::array<double, 3>> m_sets;
    FWideString m_usScrollMessage;
    FIUiRelay* m_pScrollTarget = nullptr;
    int m_iPostCreations = 0;
    int m_iTicks = 0;
    int m_iWheel = 0;
};

bool RegisterTestScrollbar(FIUiObjectFactory* factory);

// PAINT: a leaf (MinHSize, MinVSize, HStretch, VStretch) that fills the
// rectangle it is placed at with Color and is hit inside it.
class FTestPaint : public FUiObject
{
public:
    explicit FTestPaint(const char* typeName);
    bool InitUiObject(FIUiApp* app, FIUiWindow* window, FIUiObject* parent, FPropList* tag) override;
    void Display(FIUiPixmap* target, int xOffset, int yOffset, const FRect& clip) override;
    FIUiObject* HitTest(int x, int y) override;

private:
    FUiColor m_colour;
};

bool RegisterTestPaint(FIUiObjectFactory* factory);

// "r,g,b" of a pixel.
std::string PixelText(FIUiPixmap* pixmap, int x, int y);
