#pragma once

// The key model every backend shares: key presses and committed text become the
// framework's key codes, offered first to the window's menu accelerators, with
// Ctrl+C, Ctrl+X and Ctrl+V going through the clipboard.

#include <cstdint>
#include <functional>
#include <string_view>

#include "FWideString.h"

class FIOsUiWindowOwner;
class FOsMenuBar;

enum class EOsKey {
    kOther,
    kShift,
    kCtrl,
    kAlt,
    kPageUp,
    kPageDown,
    kEnd,
    kHome,
    kLeft,
    kUp,
    kRight,
    kDown,
    kInsert,
    kDelete,
    kBackspace,
    kTab,
    kReturn,
    kEscape,
    kLetter,      // value 'A'..'Z'
    kDigit,       // value '0'..'9'
    kFunction,    // value 1..24
    kOpenBracket, // '['
    kCloseBracket,
    kBackslash,
    kMinus,
    kEquals, // '=' (with Shift '+' on most layouts)
};

struct FOsKeyPress {
    EOsKey key = EOsKey::kOther;
    int value = 0;
    bool repeat = false;
};

class FOsKeyInput
{
public:
    FOsKeyInput(FIOsUiWindowOwner* owner, FOsMenuBar* menuBar) : m_pOwner(owner), m_pMenuBar(menuBar) {}

    // The clipboard of the backend.
    std::function<void(const FWideString&)> copyToClipboard;
    std::function<bool(FWideString&)> pasteFromClipboard;

    void KeyDown(const FOsKeyPress& press);
    void KeyUp(EOsKey key);
    // Committed text (UTF-8): one key code per UTF-16 unit.
    void Text(std::string_view utf8);
    // Activation reads the modifiers held; deactivation forgets them.
    void SetModifiers(bool ctrl, bool shift, bool alt);

    bool IsCtrl() const { return m_bCtrl; }
    bool IsShift() const { return m_bShift; }
    bool IsAlt() const { return m_bAlt; }

private:
    // One unit of the character stream, with the rules for control characters.
    void priCharacter(uint16_t unit);

    FIOsUiWindowOwner* m_pOwner;
    FOsMenuBar* m_pMenuBar;
    bool m_bCtrl = false;
    bool m_bShift = false;
    bool m_bAlt = false;
};
