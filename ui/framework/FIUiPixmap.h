#pragma once

#include "FIOsObject.h"

// A 32-bit picture of the user interface (blue, green, red, alpha; rows top-down).
class FIUiPixmap : public FIOsObject
{
public:
    ~FIUiPixmap() override = default;

    virtual int GetWidth() = 0;
    virtual int GetHeight() = 0;
};
