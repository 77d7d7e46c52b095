#pragma once

#include "FUiObject.h"

// BLINK: alternates between an "On" and an "Off" IMAGE every period.
class FUiBlink final : public FUiObject
{
public:
    explicit FUiBlink(const char* typeName);
    ~FUiBlink() override;
    FUiBlink(const FUiBlink&) = delete;
    FUiBlink& operator=(const FUiBlink&) = delete;

    bool InitUiObject(FIUiApp* app, FIUiWindow* window, FIUiObject* parent, FPropList* tag) override;
    bool SetRect(int x, int y, int width, int height) override;
    void Display(FIUiPixmap* target, int xOffset, int yOffset, const FRect& clip) override;
    void Tick(int elapsedMs) override;

    bool IsShowingOn() const { return m_bShowingOn; }

private:
    int m_iPeriod = 1000;
    FIUiObject* m_pOn = nullptr;
    FIUiObject* m_pOff = nullptr;
    bool m_bShowingOn = false;
    int m_iAccumulator = 0;
    int m_iWidth = 0;
    int m_iHeight = 0;
};
