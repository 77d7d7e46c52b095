#pragma once

// The value types of the pixel processing library in one include.
#include "FColorMatrix.h"
#include "FIntRGB.h"
#include "FLUT.h"
#include "FPixelAccessors.h"
