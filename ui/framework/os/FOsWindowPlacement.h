#pragma once

#include "FRect.h"

// Where a window goes when it is shown: centred on `centreOn` when one is given, and in any
// case moved so that as much of it as fits lies on the screen, its top left corner first.
// The size is kept.
FRect PlaceOsWindow(const FRect& window, const FRect* centreOn, const FRect& screen);
