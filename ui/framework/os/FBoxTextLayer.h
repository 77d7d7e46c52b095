#pragma once

#include "FIOsTextLayer.h"

// Line height = the cell height, every advance = half of it, every glyph but the space a
// filled box one column narrower than its advance, average width = the advance.
class FBoxTextLayer : public FIOsTextLayer
{
public:
    bool GetMetrics(const FOsFont& font, int& lineHeight, int& averageWidth) override;
    bool GetPrefixWidths(const FOsFont& font, const char16_t* text, int length, int* prefixWidths) override;
    bool Render(const FOsFont& font, const char16_t* text, int length, int* prefixWidths,
                FOsTextImage& image) override;
};
