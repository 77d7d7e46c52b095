#pragma once

#include "FIUiPixmap.h"

// What the OS half and the text passes need of a UI pixmap beyond FIUiPixmap.
class FIGenericUiPixmap : public FIUiPixmap
{
public:
    // Takes ownership of `display` and deletes the previous header.
    virtual void SetDisplayPixmap(FPixmap_Display* display) = 0;
    // Every pixel's alpha := its green byte.
    virtual void AlphaFromGreen() = 0;
    // Every pixel's alpha := alpha x factor / 255, truncated.
    virtual void ScaleAlpha(int factor) = 0;
    // Every pixel's colour := the values; alpha kept.
    virtual void SetRGB(uint8_t r, uint8_t g, uint8_t b) = 0;
};
