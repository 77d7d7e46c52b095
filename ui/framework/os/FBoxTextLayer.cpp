#include "FBoxTextLayer.h"

#include "FUiPixmapLimits.h"

#include <algorithm>

namespace
{

int Advance(const FOsFont& font)
{
    return font.height / 2;
}

} // namespace

bool FBoxTextLayer::GetMetrics(const FOsFont& font, int& lineHeight, int& averageWidth)
{
    if (font.height <= 0)
        return false;
    lineHeight = font.height;
    averageWidth = Advance(font);
    return true;
}

bool FBoxTextLayer::GetPrefixWidths(const FOsFont& font, const char16_t* /*text*/, int length,
                                    int* prefixWidths)
{
    if (font.height <= 0)
        return false;
    for (int i = 0; i < length; ++i)
        prefixWidths[i] = (i + 1) * Advance(font);
    return true;
}

bool FBoxTextLayer::Render(const FOsFont& font, const char16_t* text, int length, int* prefixWidths,
                           FOsTextImage& image)
{
    if (font.height <= 0 || length <= 0)
        return false;
    const int advance = Advance(font);
    if (!IsUiPixmapSizeAllowed(int64_t(length) * advance + 2, font.height))
        return false;
    if (prefixWidths != nullptr)
        GetPrefixWidths(font, text, length, prefixWidths);
    image.width = length * advance + 2;
    image.height = font.height;
    image.pixels.assign(size_t(image.width) * size_t(image.height) * 4, 0);
    for (size_t i = 3; i < image.pixels.size(); i += 4)
        image.pixels[i] = 255;
    for (int i = 0; i < length; ++i) {
        if (text[i] == u' ')
            continue;
        const int x0 = 1 + i * advance;
        const int x1 = x0 + std::max(advance - 1, 0);
        for (int y = 0; y < image.height; ++y) {
            uint8_t* row = image.pixels.data() + size_t(y) * size_t(image.width) * 4;
            std::fill(row + size_t(x0) * 4, row + size_t(x1) * 4, uint8_t(255));
        }
    }
    if (font.underline) {
        uint8_t* row = image.pixels.data() + size_t(image.height - 1) * size_t(image.width) * 4;
        std::fill(row + 4, row + size_t(image.width - 1) * 4, uint8_t(255));
    }
    return true;
}
