#include "FOsWindowPlacement.h"

#include <algorithm>

FRect PlaceOsWindow(const FRect& window, const FRect* centreOn, const FRect& screen)
{
    int left = window.left;
    int top = window.top;
    if (centreOn) {
        left = centreOn->left + (centreOn->Width() - window.Width()) / 2;
        top = centreOn->top + (centreOn->Height() - window.Height()) / 2;
    }
    // The far edges first, so that a window larger than the screen keeps its title bar on it.
    left = std::max(std::min(left, screen.right - window.Width()), screen.left);
    top = std::max(std::min(top, screen.bottom - window.Height()), screen.top);
    FRect placed = window;
    placed.Offset(left - window.left, top - window.top);
    return placed;
}
