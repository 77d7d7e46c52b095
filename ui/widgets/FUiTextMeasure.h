#pragma once

// Measuring functions over the two font families of the text widgets.

#include "FUiTextLayout.h"

class FIUiFont;
struct FontAttributes;
struct FUiInlineFont;

// The application font with optional overrides; neither is copied, both must outlive the function.
FUiMeasureFn MakeFontMeasure(FIUiFont* font, const FontAttributes* overrides);
FUiMeasureFn MakeInlineFontMeasure(const FUiInlineFont& font);
