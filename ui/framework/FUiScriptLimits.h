#pragma once

class FPropList;

// The largest size a script may give anything (a window, a widget's minimum,
// a margin, a font, a point inside a skin). Beyond it a window's pixmaps
// cost seconds to fill; the application's own windows stay below 2000.
inline constexpr int kMaxScriptSize = 4096;
// The largest distance of a window's position ("X", "Y") from the origin.
inline constexpr int kMaxScriptPosition = 32767;

// Every size or coordinate key of the tree and its descendants: a number
// beyond its limit throws FExceptionUiScript naming the key, its value and
// its element. Keys are known by their names ("MinHSize", "DX", "CursorY",
// "LabelRect", ...), so a widget type added later is covered too; values
// that are not numbers are left to their readers.
void CheckScriptExtents(const FPropList* root);
