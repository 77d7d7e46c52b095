#pragma once

#include "FUiObject.h"

class FIUiPixmap;

// PROGRESSBAR: a foreground image filling a background image from the left
// by a progress from 0 to 1; the foreground may slide with time so that the
// bar shows activity while the progress stands still.
class FUiProgressBar final : public FUiObject
{
public:
    explicit FUiProgressBar(const char* typeName);
    ~FUiProgressBar() override;
    FUiProgressBar(const FUiProgressBar&) = delete;
    FUiProgressBar& operator=(const FUiProgressBar&) = delete;

    bool UiRelayMessage(const FWideString& message, void* data) override;
    bool InitUiObject(FIUiApp* app, FIUiWindow* window, FIUiObject* parent, FPropList* tag) override;
    bool SetRect(int x, int y, int width, int height) override;
    void Display(FIUiPixmap* target, int xOffset, int yOffset, const FRect& clip) override;
    void Tick(int elapsedMs) override;

    double GetProgress() const { return m_dProgress; }
    int GetFillWidth() const { return m_iFill; }
    int GetSlideOffset() const { return m_iSlide; }

private:
    void priUpdate();

    bool m_bVisible = true;
    FIUiPixmap* m_pBackground = nullptr;
    FIUiPixmap* m_pForeground = nullptr;
    double m_dProgress = 0;
    long long m_llElapsed = 0;
    int m_iSlide = 0;
    int m_iFill = 0;
    int m_iSlideRate = 0;
};
