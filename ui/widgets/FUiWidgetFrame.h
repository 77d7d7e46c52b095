#pragma once

// What every widget shares: its creator, the placement rule and layout records,
// the window operations it may ask for, clipped drawing, the visibility
// vocabulary, child widgets made from child tags, and the three ways of
// getting a text pixmap.

#include <new>

#include "FGenericUiWindow.h"
#include "FUiColor.h"
#include "FUiObject.h"
#include "FUiObjectFactory.h"
#include "FWideString.h"
#include "FontAttributes.h"

class FIUiApp;
class FIUiFont;
class FIUiMultiLangString;
class FIUiPixmap;
class FIUiWindow;
class FPropList;

// The creator of one widget class. A separate creator object is registered for
// each type name the class serves; a widget file names its creator
// `class F<Widget>Creator final : public FUiWidgetCreator<F<Widget>> {};`.
template <class T>
class FUiWidgetCreator : public FIUiObjectCreator
{
public:
    // Null when the widget cannot be allocated.
    FIUiObject* CreateUiObject(const char* typeName) override { return new (std::nothrow) T(typeName); }
};

// Registers a new creator of type C under the name. A creator that cannot be
// allocated is registered as null (which the factory refuses); one the
// factory refuses is deleted here.
template <class C>
bool RegisterUiWidgetCreator(FIUiObjectFactory* factory, const char* typeName)
{
    C* creator = new (std::nothrow) C;
    if (factory && factory->Register(typeName, creator))
        return true;
    delete creator;
    return false;
}

// ---- Layout ----

// The placement rule on one axis: the offered length when it is at least the
// minimum and the record stretches, else the minimum.
int PlacedWidgetLength(const FLayoutObject& layout, int offered);

// No widget needs more room on an axis than the largest window has: script
// sizes beyond it could only make the window ask for pixmaps it cannot have.
inline constexpr int kMaxWidgetSize = kMaxUiWindowSide;

// A leaf's record from its script keys: minimum = size, stretch = weight,
// fixed when the stretch is 0. Minimums are held within 0..kMaxWidgetSize;
// negative stretches count as 0, as a box shares room by non-negative weights.
void SetWidgetLayout(FLayoutObject& layout, int minimum, int stretch);

// A size worked out in 64 bits, held within 0..kMaxWidgetSize: sums of script
// sizes can neither wrap nor grow past what a window can show.
int SaturatedSize(long long value);

// ---- The window ----

// The portable window behind the interface, or null (no window, or another kind).
FGenericUiWindow* GetWidgetWindow(FIUiWindow* window);
// Marks the rectangle for repainting; with `update` the window repaints at once.
void InvalidateWidgetRect(FIUiWindow* window, const FRect& rect, bool update);
// The window's objects compute their requirements again and the window
// shrinks by (dx, dy) down to its minimum.
void ReLayoutWidgetWindow(FIUiWindow* window, int dx, int dy);
// The window places its objects again over its current client size.
void LayoutWidgetWindow(FIUiWindow* window);
bool SetWidgetMouseCapture(FIUiWindow* window, FIUiObject* object, bool on);
// Null pixmap: the arrow.
void SetWidgetCursor(FIUiWindow* window, FIUiPixmap* cursor, int hotX, int hotY);

// ---- Drawing ----

// Clips `destination` to `clip` and cuts `source` on the same sides by the
// clipped amount scaled by source over destination length (64-bit, so no
// rectangle can wrap). False when nothing is left on either axis.
bool ClipWidgetRects(const FRect& clip, FRect& destination, FRect& source);
// Composites the whole of `picture` over `destination` of `target` (same size:
// the picture was made for the rectangle), cut to `clip`.
bool DrawWidgetPicture(FIUiPixmap* picture, FIUiPixmap* target, const FRect& destination, const FRect& clip);
// Draws a one-line text pixmap at the top of `rect`, at its left or, when
// `centred` and the text is narrower, in the middle; nothing without a pixmap.
void DrawWidgetTextLine(FIUiPixmap* text, const FRect& rect, bool centred, FIUiPixmap* target, int xOffset,
                        int yOffset, const FRect& clip);
// Fills the part of `rect` inside `clip` with the colour, by its alpha.
void FillWidgetRect(FIUiPixmap* target, const FRect& rect, const FRect& clip, const FUiColor& colour);
// The intersection of two rectangles (empty: width or height 0 or less).
FRect IntersectWidgetRects(const FRect& a, const FRect& b);
bool IsWidgetRectEmpty(const FRect& rect);
bool WidgetRectContains(const FRect& rect, int x, int y);
// `rect` moved by (dx, dy).
FRect OffsetWidgetRect(const FRect& rect, int dx, int dy);

// ---- Messages ----

// The visibility vocabulary: "Show", "Hide", "ToggleVisibility" and
// "Visibility" (data: a one-byte boolean). Answers whether the message was one
// of them and handled (false for "Visibility" without data); `changed` tells
// whether the flag changed.
bool HandleWidgetVisibility(const FWideString& message, void* data, bool& visible, bool& changed);
// "SetEnabled" (data: a boolean), "Enable" and "Disable".
bool HandleWidgetEnabling(const FWideString& message, void* data, bool& enabled, bool& changed);
// Parses "#RRGGBB" or "#RRGGBBAA" with digits 0-9 and A-F only; alpha 255 with six digits.
bool ParseWidgetColor(const FWideString& text, FUiColor& colour);

// ---- Fonts ----

// The application font the tag's "AppFont" names, or null (no key, no such
// font). With a font the widget listens for language changes and the font
// starts in the current language.
FIUiFont* UseWidgetAppFont(FIUiApp* app, FUiObject* widget, FPropList* tag);

// ---- Children ----

// Makes the object the tag names through the window's factory (the
// application's for objects outside windows) and initialises it with the
// parent; null when no creator has the name or the initialisation fails
// (the object is then deleted).
FIUiObject* CreateChildWidget(FUiObject* parent, FPropList* childTag);
// The first HBOX or VBOX child tag, or null.
FPropList* FindContentBoxTag(FPropList* tag);
// The content box made from the first HBOX or VBOX child tag, or null.
FIUiObject* CreateContentBox(FUiObject* parent, FPropList* tag);

// ---- Text ----

// Text attributes of a text widget from its tag (Height default 21).
void ReadWidgetFontAttributes(FontAttributes& attributes, FPropList* tag);

// Reads keys a script must give; any missing one leaves AllFound false, so the
// widget can refuse its tag once every key has been read.
class FRequiredWidgetKeys
{
public:
    explicit FRequiredWidgetKeys(FPropList* tag) : m_pTag(tag) {}
    int Int(const char* key);
    FUiColor Color(const char* key, const FUiColor& fallback);
    // "MinHSize", "MinVSize", "HStretch" and "VStretch", in that order.
    void Layout(int& minHSize, int& minVSize, int& hStretch, int& vStretch);
    bool AllFound() const { return m_bAllFound; }

private:
    FPropList* m_pTag;
    bool m_bAllFound = true;
};

// The inline-font keys "Font", "FontSize", "FontColor", "_FontBgColor",
// "_Bold", "_Italic", "_Underline".
struct FUiInlineFont {
    FWideString face;
    int size = 0;
    FUiColor colour{0, 0, 0, 255};
    FUiColor background{255, 255, 255, 255};
    bool hasBackground = false;
    bool bold = false;
    bool italic = false;
    bool underline = false;

    void Read(FPropList* tag);
};

// The text in the inline font; over a filled background when one was given.
// Null when nothing can be drawn.
FIUiPixmap* RenderInlineFontText(const FUiInlineFont& font, const FWideString& text, int* prefixWidths);

// ---- Names ----

// Dotted-name lookup through the children of a container (a box, or the one
// content box of an image, frame or rectangle): an unnamed
// container is transparent and asks its children with the whole name; a named
// one answers itself for its short name, and passes the part after
// "<short name>." to its children. Null for anything else (an empty name too).
FIUiRelay* LookUpUiRelayThroughChildren(FUiObject* container, FIUiObject* firstChild,
                                        const FWideString& name);
