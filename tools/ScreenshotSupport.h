#pragma once

// What the screenshot tools share: pulling a window's first menu down as a
// click on its title does, and writing the pixels read back as a PNG.

#include <png.h>

#include <SDL.h>

#include <cstdint>
#include <string>
#include <vector>

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

// Pixels as 0xAARRGGBB, written as an RGB PNG.
inline bool WriteScreenshotPng(const std::string& path, int width, int height,
                               const std::vector<uint32_t>& pixels)
{
    std::vector<uint8_t> rgb(static_cast<size_t>(width) * height * 3);
    for (size_t i = 0; i < pixels.size() && i * 3 + 2 < rgb.size(); ++i) {
        rgb[i * 3] = static_cast<uint8_t>(pixels[i] >> 16);
        rgb[i * 3 + 1] = static_cast<uint8_t>(pixels[i] >> 8);
        rgb[i * 3 + 2] = static_cast<uint8_t>(pixels[i]);
    }
    png_image image{};
    image.version = PNG_IMAGE_VERSION;
    image.width = static_cast<png_uint_32>(width);
    image.height = static_cast<png_uint_32>(height);
    image.format = PNG_FORMAT_RGB;
    return png_image_write_to_file(&image, path.c_str(), 0, rgb.data(), 0, nullptr) != 0;
}
