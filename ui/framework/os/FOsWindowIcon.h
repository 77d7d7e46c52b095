#pragma once

// The icon every window of this program shows (title bar, task bar, window
// switcher). The program sets it once before its windows are made.

#include <cstdint>
#include <vector>

struct FOsWindowIcon {
    int size = 0;              // square, in pixels; 0 for none
    std::vector<uint8_t> rgba; // size * size * 4, straight alpha, rows top down
};

// A picture whose size does not match its pixels is refused (false).
bool SetOsWindowIcon(int size, std::vector<uint8_t> rgba);
const FOsWindowIcon& GetOsWindowIcon();
