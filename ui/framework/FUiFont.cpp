#include "FUiFont.h"

#include "FIUiPixmap.h"
#include "FPropList.h"

#include <memory>

FUiFont::FUiFont(bool builtForMac, bool builtForWindows)
    : m_bBuiltForMac(builtForMac), m_bBuiltForWindows(builtForWindows)
{
}

bool FUiFont::Init(const FPropList* tag)
{
    if (tag == nullptr)
        return false;
    m_usName = tag->GetString(FWideString("Name"), FWideString(), &m_bNameFound);
    if (!m_bNameFound)
        return false;
    ReadFontAttributes(m_base, tag, nullptr);
    const char* platform = m_bBuiltForMac ? "MACFONT" : m_bBuiltForWindows ? "MSWFONT" : "UNKNOWN-FONT";
    const FPropList* faces = tag->FindChild(platform);
    m_entries.clear();
    m_pCurrent = nullptr;
    for (const FPropList* child = faces != nullptr ? faces->GetFirstChild() : nullptr; child != nullptr;
         child = child->GetNext()) {
        Entry entry;
        entry.m_usLanguage = child->GetName();
        entry.m_usFontname = child->GetString(FWideString("Fontname"), FWideString(), &entry.m_bFaceFound);
        if (!entry.m_bFaceFound)
            continue;
        ReadFontAttributes(entry.m_attributes, child, &m_base);
        m_entries.push_back(std::move(entry));
    }
    return !m_entries.empty();
}

bool FUiFont::SelectLanguage(const FWideString& language)
{
    for (const Entry& entry : m_entries) {
        if (entry.m_usLanguage == language) {
            m_pCurrent = &entry;
            return true;
        }
    }
    return false;
}

FontAttributes FUiFont::priEffective(const FontAttributes* overrides) const
{
    FontAttributes a = m_pCurrent->m_attributes;
    if (overrides == nullptr)
        return a;
    ApplyFontOverrides(a, *overrides);
    if (overrides->m_bColorSet)
        a.m_DisabledColor = overrides->m_Color;
    return a;
}

FIUiPixmap* FUiFont::RenderText(const FontAttributes* overrides, const FWideString& text, int* prefixWidths,
                                bool disabled)
{
    if (m_pCurrent == nullptr)
        return nullptr;
    const FontAttributes a = priEffective(overrides);
    FIUiPixmap* textPixmap = CreateTextUiPixmap(
        text.GetBuffer(), m_pCurrent->m_usFontname.GetBuffer(), a.m_iHeight, a.m_bBold, a.m_bItalic,
        a.m_bUnderline, disabled ? a.m_DisabledColor : a.m_Color, prefixWidths, false);
    if (textPixmap == nullptr || a.m_BgColor.alpha == 0)
        return textPixmap;
    FIUiPixmap* boxed = CreateUiPixmap(textPixmap->GetWidth(), textPixmap->GetHeight(), false);
    if (boxed != nullptr) {
        const FUiColor& bg = a.m_BgColor;
        boxed->FillRGBA(bg.red, bg.green, bg.blue, bg.alpha);
        FRect all;
        textPixmap->GetRect(all);
        textPixmap->BlendBlit(boxed, all, all);
    }
    ReleaseUiPixmap(textPixmap);
    return boxed;
}

FIUiPixmap* FUiFont::RenderText(const FontAttributes* overrides, const FWideString& text, bool disabled)
{
    return RenderText(overrides, text, nullptr, disabled);
}

void FUiFont::GetFontMetrics(const FontAttributes* overrides, int& lineHeight, int& averageWidth)
{
    lineHeight = 0;
    averageWidth = 0;
    if (m_pCurrent == nullptr)
        return;
    const FontAttributes a = priEffective(overrides);
    if (!MeasureUiText(m_pCurrent->m_usFontname.GetBuffer(), a.m_iHeight, a.m_bBold, a.m_bItalic,
                       a.m_bUnderline, &lineHeight, &averageWidth)) {
        lineHeight = 0;
        averageWidth = 0;
    }
}

bool FUiFont::MeasureText(const FontAttributes* overrides, const FWideString& text, int* prefixWidths)
{
    if (m_pCurrent == nullptr)
        return false;
    const FontAttributes a = priEffective(overrides);
    return MeasureUiTextExtents(text.GetBuffer(), m_pCurrent->m_usFontname.GetBuffer(), a.m_iHeight,
                                a.m_bBold, a.m_bItalic, a.m_bUnderline, prefixWidths);
}

void FUiFont::GetColor(FUiColor& colour)
{
    if (m_pCurrent != nullptr)
        colour = m_pCurrent->m_attributes.m_Color;
}
