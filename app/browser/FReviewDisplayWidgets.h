#pragma once

// The review window's display widgets: IMAGE_VIEW, HISTOGRAM and COLOR_ADJUST.

#include "FRect.h"
#include "FUiColor.h"

class FIUiObjectFactory;
class FIUiWindow;
class FLayoutObject;
class FPropList;

// Registers the three; true when all three registered.
bool RegisterReviewDisplayCreators(FIUiObjectFactory* factory);

// Shows or hides the system pointer over the window; nothing without a window.
void ShowWindowPointer(FIUiWindow* window, bool show);

// The keys the three widgets all require: size and stretch per axis, the frame and the fill.
struct FFramedWidgetKeys {
    int minHSize = 0;
    int minVSize = 0;
    int hStretch = 0;
    int vStretch = 0;
    FUiColor frameColor{0, 0, 0, 255};
    int frameThickness = -1;
    FUiColor fillColor{0, 0, 0, 255};

    // Reads all seven (a missing one leaves its default); when all were there, sets the
    // layout records (an axis of stretch 0 is fixed at its minimum) and answers true.
    bool Read(FPropList* tag, FLayoutObject& horizontal, FLayoutObject& vertical);
};

// The rectangle the layout gives a widget offered (x, y, width, height); false when it is
// the one the widget already has.
bool PlaceReviewWidget(const FLayoutObject& horizontal, const FLayoutObject& vertical, int x, int y,
                       int width, int height, FRect& rect);
