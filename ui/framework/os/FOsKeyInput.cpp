#include "FOsKeyInput.h"

#include "FCodePage.h"
#include "FIOsUiWindow.h"
#include "FOsMenuBar.h"

namespace
{

// Navigation keys reach the window as codes of their own, also on repeat.
int NavigationCode(EOsKey key)
{
    switch (key) {
    case EOsKey::kPageUp:
        return 17;
    case EOsKey::kPageDown:
        return 18;
    case EOsKey::kEnd:
        return 2;
    case EOsKey::kHome:
        return 20;
    case EOsKey::kLeft:
        return 146;
    case EOsKey::kUp:
        return 14;
    case EOsKey::kRight:
        return 145;
    case EOsKey::kDown:
        return 19;
    case EOsKey::kInsert:
        return 9;
    default:
        return -1;
    }
}

// The code an accelerator table holds for the key; 0 for keys no entry can name.
uint16_t AcceleratorCode(const FOsKeyPress& press)
{
    switch (press.key) {
    case EOsKey::kLetter:
    case EOsKey::kDigit:
        return static_cast<uint16_t>(press.value);
    case EOsKey::kFunction:
        return press.value >= 1 && press.value <= 24 ? static_cast<uint16_t>(111 + press.value) : 0;
    case EOsKey::kOpenBracket:
        return 91;
    case EOsKey::kCloseBracket:
        return 93;
    case EOsKey::kMinus:
        return '-';
    case EOsKey::kEquals:
        return '=';
    default:
        return 0;
    }
}

} // namespace

void FOsKeyInput::SetModifiers(bool ctrl, bool shift, bool alt)
{
    m_bCtrl = ctrl;
    m_bShift = shift;
    m_bAlt = alt;
}

void FOsKeyInput::KeyUp(EOsKey key)
{
    if (key == EOsKey::kShift)
        m_bShift = false;
    else if (key == EOsKey::kCtrl)
        m_bCtrl = false;
    else if (key == EOsKey::kAlt)
        m_bAlt = false;
}

void FOsKeyInput::KeyDown(const FOsKeyPress& press)
{
    switch (press.key) {
    case EOsKey::kShift:
        m_bShift = true;
        return;
    case EOsKey::kCtrl:
        m_bCtrl = true;
        return;
    case EOsKey::kAlt:
        m_bAlt = true;
        return;
    default:
        break;
    }
    if (const int code = NavigationCode(press.key); code >= 0) {
        m_pOwner->KeyEvent(static_cast<uint16_t>(code), m_bCtrl, m_bShift);
        return;
    }
    if (press.key == EOsKey::kEscape && m_pMenuBar && m_pMenuBar->IsOpen()) {
        m_pMenuBar->Close();
        return;
    }
    if (press.key == EOsKey::kDelete) {
        if (!(m_pMenuBar && m_pMenuBar->OfferKey(127, m_bShift, m_bCtrl, m_bAlt)))
            m_pOwner->KeyEvent(127, m_bCtrl, m_bShift);
        return;
    }
    if (!press.repeat) {
        const uint16_t code = AcceleratorCode(press);
        // A key an accelerator took produces no character.
        if (code && m_pMenuBar && m_pMenuBar->OfferKey(code, m_bShift, m_bCtrl, m_bAlt))
            return;
    }
    // The control characters; printable ones arrive as committed text.
    int unit = -1;
    switch (press.key) {
    case EOsKey::kBackspace:
        unit = m_bCtrl ? 127 : 8;
        break;
    case EOsKey::kTab:
        unit = m_bCtrl ? -1 : 9;
        break;
    case EOsKey::kReturn:
        unit = m_bCtrl ? 10 : 13;
        break;
    case EOsKey::kEscape:
        unit = 27;
        break;
    case EOsKey::kLetter:
        unit = m_bCtrl && !m_bAlt ? (press.value & 0x1F) : -1;
        break;
    case EOsKey::kOpenBracket:
        unit = m_bCtrl ? 27 : -1;
        break;
    case EOsKey::kBackslash:
        unit = m_bCtrl ? 28 : -1;
        break;
    case EOsKey::kCloseBracket:
        unit = m_bCtrl ? 29 : -1;
        break;
    case EOsKey::kDigit:
        unit = m_bCtrl && m_bShift && press.value == '6' ? 30 : -1;
        break;
    case EOsKey::kMinus:
        unit = m_bCtrl && m_bShift ? 31 : -1;
        break;
    default:
        break;
    }
    if (unit >= 0)
        priCharacter(static_cast<uint16_t>(unit));
}

void FOsKeyInput::Text(std::string_view utf8)
{
    // Alt with a key is a command, not text.
    if (m_bAlt && !m_bCtrl)
        return;
    const FWideString text = WideFromUtf8(utf8);
    for (int i = 0; i < text.GetLength(); ++i)
        priCharacter(text.GetBuffer()[i]);
}

void FOsKeyInput::priCharacter(uint16_t unit)
{
    if (m_bCtrl && unit >= 27 && unit <= 31)
        unit = static_cast<uint16_t>(unit + 64);
    switch (unit) {
    case 0:
    case 1:
    case 2:
    case 4:
    case 10:
    case 11:
    case 12:
    case 14:
    case 15:
    case 16:
    case 18:
    case 19:
    case 20:
    case 21:
    case 23:
    case 25:
    case 26:
        return;
    case 3:
    case 24: {
        FWideString text;
        unit == 3 ? m_pOwner->Copy(text) : m_pOwner->Cut(text);
        if (!text.IsEmpty() && copyToClipboard)
            copyToClipboard(text);
        else
            m_pOwner->KeyEvent(unit, m_bCtrl, m_bShift);
        return;
    }
    case 22: {
        FWideString text;
        if (pasteFromClipboard && pasteFromClipboard(text) && !text.IsEmpty())
            m_pOwner->Paste(text);
        else
            m_pOwner->KeyEvent(22, m_bCtrl, m_bShift);
        return;
    }
    default:
        m_pOwner->KeyEvent(unit, m_bCtrl, m_bShift);
    }
}
