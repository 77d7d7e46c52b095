#pragma once

// What the screenshot tools share: pulling a window's first menu down as a
// click on its title does.

#include <SDL.h>

#include "FSdlUiWindow.h"

inline void PushFirstMenuTitleClick(const FSdlWindowProbe& probe)
{
    SDL_Event click{};
    click.type = SDL_MOUSEBUTTONDOWN;
    click.button.windowID = probe.windowId;
    click.button.button = SDL_BUTTON_LEFT;
    click.button.clicks = 1;
    click.button.x = 12;
    click.button.y = probe.menuBarHeight / 2;
    SDL_PushEvent(&click);
}
