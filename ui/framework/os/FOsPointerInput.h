#pragma once

// The pointer rules every backend shares: only the left button counts, a press
// while the button is held is not a new press, every second click of a series
// is also a double click, and a window without a title bar is dragged by a
// press that no object took.

class FIOsUiWindowOwner;

class FOsPointerInput
{
public:
    explicit FOsPointerInput(FIOsUiWindowOwner* owner) : m_pOwner(owner) {}

    // Coordinates in the client area; the screen point is where the pointer is on the screen.
    void Down(int x, int y, int clicks, bool ctrl, bool shift, bool dragWindow, int screenX, int screenY);
    void Up(int x, int y, bool ctrl, bool shift);
    // True when the window is being dragged: it moves by (dx, dy) and no object hears of it.
    bool Move(int x, int y, int screenX, int screenY, int& dx, int& dy);
    // Lost focus or capture: the button counts as released, without an event.
    void Cancel();

    bool IsButtonDown() const { return m_bButtonDown; }
    bool IsDraggingWindow() const { return m_bDragging; }

private:
    FIOsUiWindowOwner* m_pOwner;
    bool m_bButtonDown = false;
    bool m_bDragging = false;
    int m_iScreenX = 0;
    int m_iScreenY = 0;
};

// The 16 by 16 cursor of a picture given as alpha and green per pixel: rows of
// two bytes, high bit first. Opaque pixels (alpha above 128) are white where
// green is above 128 and black otherwise; the rest shows what is below.
struct FOsCursorMasks {
    unsigned char data[32] = {}; // 1 = black
    unsigned char mask[32] = {}; // 1 = drawn
};
FOsCursorMasks BuildOsCursorMasks(const unsigned char* alpha, const unsigned char* green);
