#include "FUiWidgetFrame.h"

#include <algorithm>
#include <climits>
#include <cstdint>

#include "FGenericUiWindow.h"
#include "FIUiApp.h"
#include "FIUiPixmap.h"
#include "FIUiWindow.h"
#include "FPropList.h"
#include "FUiFont.h"

int PlacedWidgetLength(const FLayoutObject& layout, int offered)
{
    if (offered >= layout.GetMinSize() && layout.GetStretch() != 0)
        return offered;
    return layout.GetMinSize();
}

void SetWidgetLayout(FLayoutObject& layout, int minimum, int stretch)
{
    minimum = std::clamp(minimum, 0, kMaxWidgetSize);
    stretch = std::max(stretch, 0);
    layout.m_iMinSize = minimum;
    layout.m_iSize = minimum;
    layout.m_iStretch = stretch;
    layout.m_iWeight = stretch;
    layout.m_bFixed = stretch == 0;
}

int SaturatedSize(long long value)
{
    return static_cast<int>(std::clamp<long long>(value, 0, kMaxWidgetSize));
}

FGenericUiWindow* GetWidgetWindow(FIUiWindow* window)
{
    return dynamic_cast<FGenericUiWindow*>(window);
}

void InvalidateWidgetRect(FIUiWindow* window, const FRect& rect, bool update)
{
    FGenericUiWindow* generic = GetWidgetWindow(window);
    if (!generic)
        return;
    if (update)
        generic->InvalidateAndUpdate(&rect);
    else
        generic->Invalidate(&rect);
}

void ReLayoutWidgetWindow(FIUiWindow* window, int dx, int dy)
{
    if (FGenericUiWindow* generic = GetWidgetWindow(window))
        generic->ReInitLayout(dx, dy);
}

void LayoutWidgetWindow(FIUiWindow* window)
{
    if (FGenericUiWindow* generic = GetWidgetWindow(window))
        generic->LayoutObjects();
}

bool SetWidgetMouseCapture(FIUiWindow* window, FIUiObject* object, bool on)
{
    FGenericUiWindow* generic = GetWidgetWindow(window);
    return generic && generic->SetMouseCapture(object, on);
}

void SetWidgetCursor(FIUiWindow* window, FIUiPixmap* cursor, int hotX, int hotY)
{
    if (FGenericUiWindow* generic = GetWidgetWindow(window))
        generic->SetCursor(cursor, hotX, hotY);
}

bool ClipWidgetRects(const FRect& clip, FRect& destination, FRect& source)
{
    const int64_t wd = int64_t(destination.right) - destination.left;
    const int64_t hd = int64_t(destination.bottom) - destination.top;
    const int64_t ws = int64_t(source.right) - source.left;
    const int64_t hs = int64_t(source.bottom) - source.top;
    if (wd <= 0 || hd <= 0)
        return false;
    const auto cut = [](int64_t amount, int64_t sourceLength, int64_t destinationLength) {
        return static_cast<int32_t>(amount * sourceLength / destinationLength);
    };
    if (destination.left < clip.left) {
        source.left += cut(int64_t(clip.left) - destination.left, ws, wd);
        destination.left = clip.left;
    }
    if (destination.top < clip.top) {
        source.top += cut(int64_t(clip.top) - destination.top, hs, hd);
        destination.top = clip.top;
    }
    if (destination.right > clip.right) {
        source.right -= cut(int64_t(destination.right) - clip.right, ws, wd);
        destination.right = clip.right;
    }
    if (destination.bottom > clip.bottom) {
        source.bottom -= cut(int64_t(destination.bottom) - clip.bottom, hs, hd);
        destination.bottom = clip.bottom;
    }
    return !IsWidgetRectEmpty(destination) && !IsWidgetRectEmpty(source);
}

bool DrawWidgetPicture(FIUiPixmap* picture, FIUiPixmap* target, const FRect& destination, const FRect& clip)
{
    if (!picture || !target)
        return false;
    FRect d = destination;
    FRect s(0, 0, picture->GetWidth(), picture->GetHeight());
    if (!ClipWidgetRects(clip, d, s))
        return false;
    return picture->BlendBlit(target, d, s);
}

void DrawWidgetTextLine(FIUiPixmap* text, const FRect& rect, bool centred, FIUiPixmap* target, int xOffset,
                        int yOffset, const FRect& clip)
{
    if (!text)
        return;
    const int textWidth = text->GetWidth();
    int left = rect.left;
    if (centred && textWidth < rect.Width())
        left += (rect.Width() - textWidth) / 2;
    const FRect destination(left, rect.top, left + textWidth, rect.top + text->GetHeight());
    // A line longer than its place is cut at the place's sides, never drawn over a neighbour.
    const FRect place = OffsetWidgetRect(rect, xOffset, yOffset);
    const FRect within(std::max(clip.left, place.left), clip.top, std::min(clip.right, place.right),
                       clip.bottom);
    DrawWidgetPicture(text, target, OffsetWidgetRect(destination, xOffset, yOffset), within);
}

void FillWidgetRect(FIUiPixmap* target, const FRect& rect, const FRect& clip, const FUiColor& colour)
{
    if (!target)
        return;
    const FRect r = IntersectWidgetRects(rect, clip);
    if (!IsWidgetRectEmpty(r))
        target->FillRect(r, colour);
}

FRect IntersectWidgetRects(const FRect& a, const FRect& b)
{
    return FRect(std::max(a.left, b.left), std::max(a.top, b.top), std::min(a.right, b.right),
                 std::min(a.bottom, b.bottom));
}

bool IsWidgetRectEmpty(const FRect& rect)
{
    return rect.right <= rect.left || rect.bottom <= rect.top;
}

bool WidgetRectContains(const FRect& rect, int x, int y)
{
    return x >= rect.left && x < rect.right && y >= rect.top && y < rect.bottom;
}

FRect OffsetWidgetRect(const FRect& rect, int dx, int dy)
{
    const auto add = [](int32_t a, int b) {
        return static_cast<int32_t>(std::clamp<int64_t>(int64_t(a) + b, INT32_MIN, INT32_MAX));
    };
    return FRect(add(rect.left, dx), add(rect.top, dy), add(rect.right, dx), add(rect.bottom, dy));
}

bool HandleWidgetVisibility(const FWideString& message, void* data, bool& visible, bool& changed)
{
    changed = false;
    bool next = visible;
    if (message == "Show")
        next = true;
    else if (message == "Hide")
        next = false;
    else if (message == "ToggleVisibility")
        next = !visible;
    else if (message == "Visibility") {
        if (!data)
            return false;
        next = *static_cast<const bool*>(data);
    } else
        return false;
    changed = next != visible;
    visible = next;
    return true;
}

bool HandleWidgetEnabling(const FWideString& message, void* data, bool& enabled, bool& changed)
{
    changed = false;
    bool next = enabled;
    if (message == "Enable")
        next = true;
    else if (message == "Disable")
        next = false;
    else if (message == "SetEnabled") {
        if (!data)
            return false;
        next = *static_cast<const bool*>(data);
    } else
        return false;
    changed = next != enabled;
    enabled = next;
    return true;
}

bool ParseWidgetColor(const FWideString& text, FUiColor& colour)
{
    const int length = text.GetLength();
    if ((length != 7 && length != 9) || text.GetBuffer()[0] != u'#')
        return false;
    uint8_t bytes[4] = {0, 0, 0, 255};
    for (int i = 1; i < length; ++i) {
        const char16_t c = text.GetBuffer()[i];
        int digit = 0;
        if (c >= u'0' && c <= u'9')
            digit = c - u'0';
        else if (c >= u'A' && c <= u'F')
            digit = c - u'A' + 10;
        else
            return false;
        uint8_t& byte = bytes[(i - 1) / 2];
        byte = static_cast<uint8_t>(((i - 1) % 2 == 0) ? digit << 4 : (byte | digit));
    }
    colour.Set(bytes[0], bytes[1], bytes[2], bytes[3]);
    return true;
}

FIUiObject* CreateChildWidget(FUiObject* parent, FPropList* childTag)
{
    if (!parent || !childTag)
        return nullptr;
    FIUiApp* app = parent->GetApp();
    FIUiWindow* window = parent->GetWindow();
    FIUiObjectFactory* factory = window ? window->GetFactory() : (app ? app->GetUiObjectFactory() : nullptr);
    if (!factory)
        return nullptr;
    FIUiObject* child = factory->CreateUiObject(childTag->GetName().GetNarrow());
    if (!child)
        return nullptr;
    bool ok = false;
    try {
        ok = child->InitUiObject(app, window, parent, childTag);
    } catch (...) {
        // The script error travels on; the child that raised it is not kept.
        delete child;
        throw;
    }
    if (ok)
        return child;
    delete child;
    return nullptr;
}

FPropList* FindContentBoxTag(FPropList* tag)
{
    for (FPropList* child = tag ? tag->GetFirstChild() : nullptr; child; child = child->GetNext()) {
        if (child->GetName() == "HBOX" || child->GetName() == "VBOX")
            return child;
    }
    return nullptr;
}

FIUiObject* CreateContentBox(FUiObject* parent, FPropList* tag)
{
    FPropList* boxTag = FindContentBoxTag(tag);
    return boxTag ? CreateChildWidget(parent, boxTag) : nullptr;
}

void ReadWidgetFontAttributes(FontAttributes& attributes, FPropList* tag)
{
    attributes = FontAttributes();
    ReadFontAttributes(attributes, tag, nullptr);
}

void FUiInlineFont::Read(FPropList* tag)
{
    *this = FUiInlineFont();
    if (!tag)
        return;
    face = tag->GetString("Font", FWideString());
    size = tag->GetInt("FontSize", 0);
    colour = tag->GetColor("FontColor", colour);
    background = tag->GetColor("_FontBgColor", background, &hasBackground);
    bold = tag->GetBool("_Bold", false);
    italic = tag->GetBool("_Italic", false);
    underline = tag->GetBool("_Underline", false);
}

FIUiPixmap* RenderInlineFontText(const FUiInlineFont& font, const FWideString& text, int* prefixWidths)
{
    FIUiPixmap* plain = CreateTextUiPixmap(text.GetBuffer(), font.face.GetBuffer(), font.size, font.bold,
                                           font.italic, font.underline, font.colour, prefixWidths, true);
    if (!plain || !font.hasBackground)
        return plain;
    FIUiPixmap* filled = CreateUiPixmap(plain->GetWidth(), plain->GetHeight(), true);
    if (!filled) {
        ReleaseUiPixmap(plain);
        return nullptr;
    }
    filled->FillRGBA(font.background.red, font.background.green, font.background.blue, font.background.alpha);
    const FRect whole(0, 0, plain->GetWidth(), plain->GetHeight());
    plain->BlendBlit(filled, whole, whole);
    ReleaseUiPixmap(plain);
    return filled;
}

FIUiRelay* LookUpUiRelayThroughChildren(FUiObject* container, FIUiObject* firstChild, const FWideString& name)
{
    if (!container || name.IsEmpty())
        return nullptr;
    const auto askChildren = [firstChild](const FWideString& childName) -> FIUiRelay* {
        for (FIUiObject* child = firstChild; child; child = child->GetNext()) {
            if (FIUiRelay* found = child->GetUiRelay(childName))
                return found;
        }
        return nullptr;
    };
    if (!container->IsNameGiven())
        return askChildren(name);
    FWideString shortName;
    container->GetName(shortName);
    if (name == shortName)
        return container;
    FWideString left, rest;
    if (!name.Split(u".", left, rest) || left.IsEmpty() || rest.IsEmpty() || !(left == shortName))
        return nullptr;
    return askChildren(rest);
}

FIUiFont* UseWidgetAppFont(FIUiApp* app, FUiObject* widget, FPropList* tag)
{
    if (!app || !tag)
        return nullptr;
    bool found = false;
    const FWideString fontName = tag->GetString("AppFont", FWideString(), &found);
    FIUiFont* font = found ? app->GetAppFont(fontName) : nullptr;
    if (font) {
        FWideString language;
        app->AddLanguageListener(widget, language);
        font->SelectLanguage(language);
    }
    return font;
}

int FRequiredWidgetKeys::Int(const char* key)
{
    bool present = false;
    const int value = m_pTag->GetInt(key, 0, &present);
    m_bAllFound = m_bAllFound && present;
    return value;
}

FUiColor FRequiredWidgetKeys::Color(const char* key, const FUiColor& fallback)
{
    bool present = false;
    const FUiColor value = m_pTag->GetColor(key, fallback, &present);
    m_bAllFound = m_bAllFound && present;
    return value;
}

void FRequiredWidgetKeys::Layout(int& minHSize, int& minVSize, int& hStretch, int& vStretch)
{
    minHSize = Int("MinHSize");
    minVSize = Int("MinVSize");
    hStretch = Int("HStretch");
    vStretch = Int("VStretch");
}
