#include "FUiTextMeasure.h"

#include "FIUiPixmap.h"
#include "FUiFont.h"
#include "FUiWidgetFrame.h"

FUiMeasureFn MakeFontMeasure(FIUiFont* font, const FontAttributes* overrides)
{
    return [font, overrides](const char16_t* text, int length, int* widths) {
        if (!font || length <= 0)
            return false;
        return font->MeasureText(overrides, FWideString(text, text + length - 1), widths);
    };
}

FUiMeasureFn MakeInlineFontMeasure(const FUiInlineFont& font)
{
    return [&font](const char16_t* text, int length, int* widths) {
        if (length <= 0)
            return false;
        const FWideString units(text, text + length - 1);
        return MeasureUiTextExtents(units.GetBuffer(), font.face.GetBuffer(), font.size, font.bold,
                                    font.italic, font.underline, widths);
    };
}
