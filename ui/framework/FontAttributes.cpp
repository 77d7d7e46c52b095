#include "FontAttributes.h"

#include "FPropList.h"
#include "FWideString.h"

namespace
{

template <typename T, typename Get>
void ReadOne(T& value, bool& set, const T& baseValue, bool baseSet, bool hasBase, Get get)
{
    bool found = false;
    value = get(hasBase ? baseValue : value, &found);
    set = found || (hasBase && baseSet);
}

} // namespace

void ReadFontAttributes(FontAttributes& a, const FPropList* tag, const FontAttributes* base)
{
    if (tag == nullptr)
        return;
    const FontAttributes& b = base != nullptr ? *base : a;
    const bool hasBase = base != nullptr;
    const auto colour = [tag](const char* key) {
        return
            [tag, key](const FUiColor& d, bool* found) { return tag->GetColor(FWideString(key), d, found); };
    };
    const auto flag = [tag](const char* key) {
        return [tag, key](bool d, bool* found) { return tag->GetBool(FWideString(key), d, found); };
    };
    ReadOne(a.m_iHeight, a.m_bHeightSet, b.m_iHeight, b.m_bHeightSet, hasBase,
            [tag](int d, bool* found) { return tag->GetInt(FWideString("Height"), d, found); });
    ReadOne(a.m_Color, a.m_bColorSet, b.m_Color, b.m_bColorSet, hasBase, colour("Color"));
    ReadOne(a.m_DisabledColor, a.m_bDisabledColorSet, b.m_DisabledColor, b.m_bDisabledColorSet, hasBase,
            colour("DisabledColor"));
    ReadOne(a.m_BgColor, a.m_bBgColorSet, b.m_BgColor, b.m_bBgColorSet, hasBase, colour("BgColor"));
    ReadOne(a.m_bBold, a.m_bBoldSet, b.m_bBold, b.m_bBoldSet, hasBase, flag("Bold"));
    ReadOne(a.m_bItalic, a.m_bItalicSet, b.m_bItalic, b.m_bItalicSet, hasBase, flag("Italic"));
    ReadOne(a.m_bUnderline, a.m_bUnderlineSet, b.m_bUnderline, b.m_bUnderlineSet, hasBase, flag("Underline"));
}

void ApplyFontOverrides(FontAttributes& target, const FontAttributes& o)
{
    if (o.m_bHeightSet)
        target.m_iHeight = o.m_iHeight;
    if (o.m_bBoldSet)
        target.m_bBold = o.m_bBold;
    if (o.m_bItalicSet)
        target.m_bItalic = o.m_bItalic;
    if (o.m_bUnderlineSet)
        target.m_bUnderline = o.m_bUnderline;
    if (o.m_bBgColorSet)
        target.m_BgColor = o.m_BgColor;
    if (o.m_bColorSet)
        target.m_Color = o.m_Color;
}
