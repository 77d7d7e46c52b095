#pragma once

// Text arithmetic of the text widgets, free of pixmaps and windows: character
// boundaries that keep surrogate pairs whole, shortening a text to a width,
// breaking a text into lines, the plain-text form of a marked-up text and
// saturating number parsing. Widths come from a measuring function, so that
// texts far wider than any pixmap are handled by arithmetic, not by drawing.

#include <cstdint>
#include <functional>
#include <vector>

#include "FWideString.h"

// Measures `length` units of `text`: entry i gets the width of units 0 to i.
using FUiMeasureFn = std::function<bool(const char16_t* text, int length, int* prefixWidths)>;

// A rendered text line has one column of margin on each side.
inline constexpr int kUiTextMargin = 2;

inline bool IsHighSurrogate(char16_t unit)
{
    return unit >= 0xD800 && unit <= 0xDBFF;
}
inline bool IsLowSurrogate(char16_t unit)
{
    return unit >= 0xDC00 && unit <= 0xDFFF;
}
// A position between the two halves of a pair is no boundary.
bool IsUnitBoundary(const char16_t* text, int length, int position);
// The boundary one character before (after) `position`, clamped to the text.
int PrevCharBoundary(const char16_t* text, int length, int position);
int NextCharBoundary(const char16_t* text, int length, int position);
// The largest boundary at or below `position`.
int FloorCharBoundary(const char16_t* text, int length, int position);

// The width a rendered text takes: its last prefix width plus the margins; 0 for an
// empty text, -1 when it cannot be measured.
int64_t MeasureTextPixels(const FUiMeasureFn& measure, const FWideString& text);

// What a fixed-width text box shows of `text`: the text itself when it fits, else the
// first candidate of the shortening sequence that fits ("..." at the end, or for a
// path leading folders replaced by "..."), else "##".
FWideString FitTextToWidth(const FWideString& text, bool isPath, int width, const FUiMeasureFn& measure);

// The separator of a path as the text box sees it, and the path's first split.
char16_t PathSeparatorOf(const FWideString& path);

// One laid-out line of a multi-line text: a range of the normalised text, or a blank
// line (length 0) that a "<BR>" leaves.
struct FUiTextLine {
    int start = 0;
    int length = 0;
};

struct FUiLineBreakResult {
    // The source without markup, control characters dropped; lines index into it.
    FWideString text;
    std::vector<FUiTextLine> lines;
    // False when the measuring function failed; the lines made so far stay.
    bool complete = true;
};

// Breaks `source` into lines no wider than `width` pixels (each line's rendered
// width, margins included). "<BR>" ends a paragraph and leaves a blank line, "<LF>"
// only ends it. East Asian mode may break before any character above U+00FF and
// keeps U+3001, U+3002 and U+30FC from starting a line when the line above can give
// up a character. A word wider than the width is cut at its last character that
// fits; every line takes at least one character and empty lines are skipped, so the
// whole text is always laid out.
FUiLineBreakResult BreakTextLines(const FWideString& source, int width, bool eastAsian, int averageWidth,
                                  const FUiMeasureFn& measure);

// The clipboard form of a marked-up text: leading blanks of each line dropped, "<BR>"
// as two line ends and "<LF>" as one, runs of line ends joined by one blank, and a
// final CR LF; empty for an empty source.
FWideString PlainTextForClipboard(const FWideString& source);

// The decimal value of the text's 8-bit form: leading blanks skipped, an optional
// sign, digits up to the first other character; no digits give 0; saturated to the
// 32-bit range.
int32_t ParseDecimalSaturated(const FWideString& text);

// Equal length in units and equal units; case matters.
bool WideTextEquals(const FWideString& a, const FWideString& b);
