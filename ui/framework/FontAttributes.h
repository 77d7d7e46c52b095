#pragma once

#include "FUiColor.h"

class FPropList;

// Text attributes of fonts, display strings and text widgets; each with a flag telling
// whether it was given (in this tag, or for a language entry in the tag above it).
struct FontAttributes {
    int m_iHeight = 21;
    bool m_bHeightSet = false;
    FUiColor m_Color{0, 0, 0, 255};
    bool m_bColorSet = false;
    // An alpha of 0 means no background.
    FUiColor m_BgColor{255, 255, 255, 0};
    bool m_bBgColorSet = false;
    FUiColor m_DisabledColor{128, 128, 128, 255};
    bool m_bDisabledColorSet = false;
    bool m_bBold = false;
    bool m_bBoldSet = false;
    bool m_bItalic = false;
    bool m_bItalicSet = false;
    bool m_bUnderline = false;
    bool m_bUnderlineSet = false;
};

// Reads Height, Color, DisabledColor, BgColor, Bold, Italic and Underline from `tag`.
// Without a base a missing key keeps the record's value and clears its flag; with one a
// missing key takes the base's value, and a flag is on when the key was found or the
// base's flag is on.
void ReadFontAttributes(FontAttributes& attributes, const FPropList* tag, const FontAttributes* base);

// Copies into `target` the values (not the flags) of Height, Bold, Italic, Underline,
// BgColor and Color whose flags are set in `overrides`.
void ApplyFontOverrides(FontAttributes& target, const FontAttributes& overrides);
