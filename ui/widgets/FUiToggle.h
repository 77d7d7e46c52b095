#pragma once

#include <memory>

#include "FUiObject.h"

// TOGGLE: a two-state control made of an IMAGE for each state and an optional
// TEXT label. It flips on every click, or (tabs, radio buttons) only turns on
// and then sends one message to one relay.
class FUiToggle final : public FUiObject
{
public:
    explicit FUiToggle(const char* typeName);
    ~FUiToggle() override;
    FUiToggle(const FUiToggle&) = delete;
    FUiToggle& operator=(const FUiToggle&) = delete;

    bool ConnectRelays() override;
    bool UiRelayMessage(const FWideString& message, void* data) override;
    bool InitUiObject(FIUiApp* app, FIUiWindow* window, FIUiObject* parent, FPropList* tag) override;
    bool SetRect(int x, int y, int width, int height) override;
    bool ReInitLayout() override;
    void Display(FIUiPixmap* target, int xOffset, int yOffset, const FRect& clip) override;
    FIUiObject* HitTest(int x, int y) override;
    bool MouseDown(int x, int y, bool ctrl, bool shift) override;
    void MouseUp(int x, int y, bool ctrl, bool shift) override;

    bool GetState() const { return m_bState; }
    FIUiObject* GetLabel() const { return m_pLabel; }

private:
    FIUiObject* priCreatePart(const char* typeName, FPropList* tag);
    void priComputeSize();

    FIUiObject* m_pOnPicture = nullptr;
    FIUiObject* m_pOffPicture = nullptr;
    FIUiObject* m_pLabel = nullptr;
    bool m_bState = true;
    bool m_bLatched = false;
    bool m_bFlips = true;
    // The "ONRELAY" child: one message to one relay when the toggle turns on.
    std::unique_ptr<RelayEvent> m_pOnRelay;
    bool m_bRelayResolved = false;
    int m_iWidth = 0;
    int m_iHeight = 0;
};
