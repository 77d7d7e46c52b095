#include "FUiFilmStrip.h"

#include <algorithm>
#include <cstdio>

#include "FIUiPixmap.h"
#include "FPropList.h"
#include "FUiWidgetFrame.h"
#include "FUiWidgets.h"

class FUiFilmStripCreator final : public FUiWidgetCreator<FUiFilmStrip>
{
};

bool RegisterUiFilmStrip(FIUiObjectFactory* factory)
{
    return RegisterUiWidgetCreator<FUiFilmStripCreator>(factory, "FILMSTRIP");
}

FUiFilmStrip::FUiFilmStrip(const char* typeName) : FUiObject(typeName)
{
    AddImageProperty("File_Image", true, &m_pImage);
    AddIntProperty("NumFrames", true, &m_iFrameCount, 0);
    AddIntProperty("_FrameNo", false, &m_iFrame, 0);
    AddIntProperty("_Period", false, &m_iPeriod, -1);
    AddBoolProperty("_Visible", false, &m_bVisible, true);
}

FUiFilmStrip::~FUiFilmStrip()
{
    ReleaseUiPixmap(m_pImage);
}

int FUiFilmStrip::priNormalise(long long frame) const
{
    if (m_iFrameCount <= 0)
        return 0;
    frame %= m_iFrameCount;
    if (frame < 0)
        frame += m_iFrameCount;
    return static_cast<int>(frame);
}

void FUiFilmStrip::priRedraw()
{
    InvalidateWidgetRect(m_pWindow, m_rect, true);
}

void FUiFilmStrip::priSetFrame(int frame)
{
    if (frame == m_iFrame)
        return;
    m_iFrame = frame;
    priRedraw();
}

void FUiFilmStrip::priPlay(bool play)
{
    if (!m_bAnimatable || play == m_bPlaying)
        return;
    m_iTime = 0;
    if (play) {
        priSetFrame(0);
        m_bPlaying = true;
    } else {
        m_bPlaying = false;
        m_iFrame = 0;
        priRedraw();
    }
}

bool FUiFilmStrip::priAnimate(const FWideString& text)
{
    int first = 0, last = 0, period = 0, delay = 0;
    // All four numbers or nothing: a partial text leaves the strip as it was.
    if (std::sscanf(text.GetNarrow(), "%d-%d,%d,%d", &first, &last, &period, &delay) != 4)
        return false;
    period = std::max(period, 0);
    delay = std::max(delay, 0);
    const int start = priNormalise(first);
    const int end = priNormalise(last);
    if (m_bPlaying && start == m_iLoopStart && end == m_iLoopEnd && period == m_iPeriod &&
        delay == m_iStartDelay)
        return true;
    m_bAnimatable = true;
    m_bPlaying = true;
    m_iTime = 0;
    m_iLoopStart = start;
    m_iLoopEnd = end;
    m_iFrame = start;
    m_iPeriod = period;
    m_iStartDelay = delay;
    priRedraw();
    return true;
}

bool FUiFilmStrip::UiRelayMessage(const FWideString& message, void* data)
{
    bool changed = false;
    if (HandleWidgetVisibility(message, data, m_bVisible, changed)) {
        if (changed || message == "Visibility" || message == "ToggleVisibility")
            priRedraw();
        return true;
    }
    if (message == "FrameNum" || message == "StrFrameNum") {
        if (!data)
            return false;
        long long frame = 0;
        if (message == "FrameNum") {
            frame = *static_cast<const int*>(data);
        } else if (std::sscanf(static_cast<const FWideString*>(data)->GetNarrow(), "%lld", &frame) != 1) {
            frame = 0;
        }
        m_bPlaying = false;
        priSetFrame(priNormalise(frame));
        return true;
    }
    if (message == "IncrementFrame" || message == "DecrementFrame") {
        priSetFrame(priNormalise(static_cast<long long>(m_iFrame) + (message == "IncrementFrame" ? 1 : -1)));
        return true;
    }
    if (message == "SetPlay") {
        if (!data)
            return false;
        priPlay(*static_cast<const bool*>(data));
        return true;
    }
    if (message == "Play" || message == "Stop") {
        priPlay(message == "Play");
        return true;
    }
    if (message == "Animate") {
        if (!data)
            return false;
        priAnimate(*static_cast<const FWideString*>(data));
        return true;
    }
    return false;
}

bool FUiFilmStrip::InitUiObject(FIUiApp* app, FIUiWindow* window, FIUiObject* parent, FPropList* tag)
{
    if (!FUiObject::InitUiObject(app, window, parent, tag) || !m_pImage || m_iFrameCount <= 0)
        return false;
    const int height = m_pImage->GetHeight();
    if (height / m_iFrameCount <= 1 || height % m_iFrameCount != 0)
        return false;
    m_iFrameWidth = m_pImage->GetWidth();
    m_iFrameHeight = height / m_iFrameCount;
    m_iFrame = priNormalise(m_iFrame);
    m_iLoopStart = 0;
    m_iLoopEnd = m_iFrameCount - 1;
    m_bAnimatable = m_iPeriod != -1;
    m_iPeriod = std::max(m_iPeriod, 0);
    SetWidgetLayout(m_hLayout, m_iFrameWidth, 0);
    SetWidgetLayout(m_vLayout, m_iFrameHeight, 0);
    m_rect.Set(0, 0, m_iFrameWidth, m_iFrameHeight);
    return true;
}

bool FUiFilmStrip::SetRect(int x, int y, int width, int height)
{
    m_rect.Set(x, y, x + PlacedWidgetLength(m_hLayout, width), y + PlacedWidgetLength(m_vLayout, height));
    return true;
}

void FUiFilmStrip::Tick(int elapsedMs)
{
    if (!m_bPlaying)
        return;
    m_iTime = SaturatedSize(static_cast<long long>(m_iTime) + std::max(elapsedMs, 0));
    const bool holding = m_iStartDelay > 0 && m_iFrame == m_iLoopStart;
    if (m_iTime <= (holding ? m_iStartDelay : m_iPeriod))
        return;
    // A range written backwards (or outside the loop) still ends at its last frame.
    m_iFrame = (m_iFrame == m_iLoopEnd) ? m_iLoopStart : priNormalise(static_cast<long long>(m_iFrame) + 1);
    m_iTime = 0;
    priRedraw();
}

void FUiFilmStrip::Display(FIUiPixmap* target, int xOffset, int yOffset, const FRect& clip)
{
    if (!m_bVisible || !m_pImage || !target)
        return;
    FRect destination = OffsetWidgetRect(m_rect, xOffset, yOffset);
    destination.SetWidth(m_iFrameWidth);
    destination.SetHeight(m_iFrameHeight);
    FRect source(0, m_iFrameHeight * m_iFrame, m_iFrameWidth, m_iFrameHeight * (m_iFrame + 1));
    if (ClipWidgetRects(clip, destination, source))
        m_pImage->BlendBlit(target, destination, source);
}

FIUiObject* FUiFilmStrip::HitTest(int x, int y)
{
    // A hidden strip is not there for the pointer.
    if (!m_bVisible || !WidgetRectContains(m_rect, x, y))
        return nullptr;
    if (m_pImage && m_pImage->GetAlpha(x - m_rect.left, m_iFrameHeight * m_iFrame + y - m_rect.top) <= 128)
        return nullptr;
    return this;
}
