#pragma once

#include "FUiObject.h"

class FIUiPixmap;

// FILMSTRIP: shows one frame of a strip of equal frames stacked top to
// bottom; the frame is chosen by message, stepped, or animated on the tick
// over a range of frames with a hold time for the range's first frame.
class FUiFilmStrip final : public FUiObject
{
public:
    explicit FUiFilmStrip(const char* typeName);
    ~FUiFilmStrip() override;
    FUiFilmStrip(const FUiFilmStrip&) = delete;
    FUiFilmStrip& operator=(const FUiFilmStrip&) = delete;

    bool UiRelayMessage(const FWideString& message, void* data) override;
    bool InitUiObject(FIUiApp* app, FIUiWindow* window, FIUiObject* parent, FPropList* tag) override;
    bool SetRect(int x, int y, int width, int height) override;
    void Display(FIUiPixmap* target, int xOffset, int yOffset, const FRect& clip) override;
    void Tick(int elapsedMs) override;
    FIUiObject* HitTest(int x, int y) override;

    int GetFrame() const { return m_iFrame; }
    int GetFrameCount() const { return m_iFrameCount; }
    bool IsPlaying() const { return m_bPlaying; }
    bool IsVisible() const { return m_bVisible; }

private:
    int priNormalise(long long frame) const;
    void priSetFrame(int frame);
    void priPlay(bool play);
    bool priAnimate(const FWideString& text);
    void priRedraw();

    bool m_bVisible = true;
    FIUiPixmap* m_pImage = nullptr;
    int m_iFrameCount = 0;
    int m_iFrame = 0;
    int m_iLoopStart = 0;
    int m_iLoopEnd = 0;
    int m_iStartDelay = 0;
    bool m_bAnimatable = false;
    bool m_bPlaying = false;
    int m_iPeriod = -1;
    int m_iTime = 0;
    int m_iFrameWidth = 0;
    int m_iFrameHeight = 0;
};
