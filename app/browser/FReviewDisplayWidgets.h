#pragma once

// The review window's display widgets: IMAGE_VIEW, HISTOGRAM and COLOR_ADJUST.

class FIUiObjectFactory;
class FIUiWindow;

// Registers the three; true when all three registered.
bool RegisterReviewDisplayCreators(FIUiObjectFactory* factory);

// Shows or hides the system pointer over the window; nothing without a window.
void ShowWindowPointer(FIUiWindow* window, bool show);
