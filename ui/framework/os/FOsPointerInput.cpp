#include "FOsPointerInput.h"

#include "FIOsUiWindow.h"

void FOsPointerInput::Down(int x, int y, int clicks, bool ctrl, bool shift, bool dragWindow, int screenX,
                           int screenY)
{
    if (m_bButtonDown && clicks < 2)
        return;
    m_bButtonDown = true;
    m_iScreenX = screenX;
    m_iScreenY = screenY;
    const bool handled = m_pOwner->MouseDown(0, x, y, ctrl, shift);
    if (clicks >= 2 && clicks % 2 == 0)
        m_pOwner->MouseDoubleClick(0, x, y, ctrl, shift);
    m_bDragging = dragWindow && !handled;
}

void FOsPointerInput::Up(int x, int y, bool ctrl, bool shift)
{
    m_bDragging = false;
    if (!m_bButtonDown)
        return;
    m_bButtonDown = false;
    m_pOwner->MouseUp(0, x, y, ctrl, shift);
}

bool FOsPointerInput::Move(int x, int y, int screenX, int screenY, int& dx, int& dy)
{
    dx = dy = 0;
    if (m_bDragging) {
        dx = screenX - m_iScreenX;
        dy = screenY - m_iScreenY;
        m_iScreenX = screenX;
        m_iScreenY = screenY;
        return true;
    }
    m_iScreenX = screenX;
    m_iScreenY = screenY;
    m_pOwner->MouseMove(x, y);
    return false;
}

void FOsPointerInput::Cancel()
{
    m_bButtonDown = false;
    m_bDragging = false;
}

FOsCursorMasks BuildOsCursorMasks(const unsigned char* alpha, const unsigned char* green)
{
    FOsCursorMasks masks;
    for (int i = 0; i < 256; ++i) {
        if (alpha[i] <= 128)
            continue;
        const int byte = (i / 16) * 2 + (i % 16) / 8;
        const unsigned char bit = static_cast<unsigned char>(0x80 >> (i % 8));
        masks.mask[byte] |= bit;
        if (green[i] <= 128)
            masks.data[byte] |= bit;
    }
    return masks;
}
