#pragma once

#include "FOsFont.h"

#include <cstdint>
#include <vector>

// White-on-black text of one line: 4 bytes per pixel (blue, green, red, alpha), rows
// top-down, one column of margin left and right.
struct FOsTextImage {
    int width = 0;
    int height = 0;
    std::vector<uint8_t> pixels;
};

// A rasteriser of one-line texts. Prefix widths hold one entry per UTF-16 unit: entry i is
// the width of units 0 to i; the last entry is the width of the whole text, and the text
// is drawn so that unit i ends at column 1 + entry i.
class FIOsTextLayer
{
public:
    virtual ~FIOsTextLayer() = default;
    virtual bool GetMetrics(const FOsFont& font, int& lineHeight, int& averageWidth) = 0;
    virtual bool GetPrefixWidths(const FOsFont& font, const char16_t* text, int length,
                                 int* prefixWidths) = 0;
    virtual bool Render(const FOsFont& font, const char16_t* text, int length, int* prefixWidths,
                        FOsTextImage& image) = 0;
};

enum class FOsTextLayerKind {
    kSystemFonts, // the installed fonts, matched and rasterised anti-aliased
    kBoxFont,     // every character a box of half the height: exact figures for tests
};

// Chosen once per process, before any text is drawn; the system fonts by default.
void SelectOsTextLayer(FOsTextLayerKind kind);
FIOsTextLayer& GetOsTextLayer();
