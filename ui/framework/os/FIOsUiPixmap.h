#pragma once

#include "FIOsObject.h"

#include <cstdint>

class FIGenericUiPixmap;
class FPixmap_Display;

// The OS half of a UI pixmap: it owns the pixel memory. Pixels are 4 bytes (blue, green,
// red, alpha), rows top-down, stride width x 4. The OS bitmap flag asks for pixels that a
// window can present; here every buffer can be presented, and the flag only marks the
// pixmap as such through GetOsInfo(kOsInfoHandle).
class FIOsUiPixmap : public FIOsObject
{
};

// Each form hands `owner` a display pixmap over the new pixels (SetDisplayPixmap), unless
// the pixels could not be made; the result is null only when `owner` is null.
FIOsUiPixmap* CreateOsUiPixmap(FIGenericUiPixmap* owner, int width, int height, bool osBitmap);
// A copy of `source`'s pixels (its stride x rows bytes).
FIOsUiPixmap* CreateOsUiPixmap(FIGenericUiPixmap* owner, const FPixmap_Display* source, bool osBitmap);
// `text` rendered white on black with one column of margin left and right; `prefixWidths`
// (one entry per UTF-16 unit, or null) receives the width of each prefix.
FIOsUiPixmap* CreateOsUiPixmap(FIGenericUiPixmap* owner, const char16_t* text, const char16_t* face,
                               int height, bool bold, bool italic, bool underline, int* prefixWidths,
                               bool osBitmap);
void DeleteOsUiPixmap(FIOsUiPixmap* pixmap);

// Line height and average character width of a font (either output may be null); false
// when no font can be made.
bool MeasureOsText(const char16_t* face, int height, bool bold, bool italic, bool underline, int* lineHeight,
                   int* averageWidth);
// Widths of every prefix of `text`; false when no font can be made.
bool MeasureOsTextExtents(const char16_t* text, const char16_t* face, int height, bool bold, bool italic,
                          bool underline, int* prefixWidths);
