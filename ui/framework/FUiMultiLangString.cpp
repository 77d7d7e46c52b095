#include "FUiMultiLangString.h"

#include "FIUiPixmap.h"
#include "FPropList.h"
#include "FUiFont.h"

bool FUiMultiLangString::Init(const FUiFontLookup& findFont, const FPropList* tag)
{
    if (tag == nullptr || !(tag->GetName() == "DISPLAY_STRING"))
        return false;
    bool found = false;
    m_usName = tag->GetString(FWideString("Name"), FWideString(), &found);
    if (!found)
        return false;
    ReadFontAttributes(m_base, tag, nullptr);
    const FWideString fontName = tag->GetString(FWideString("AppFont"), FWideString(), &found);
    m_pFont = found && findFont ? findFont(fontName) : nullptr;
    if (m_pFont == nullptr)
        return false;
    m_entries.clear();
    m_pCurrent = nullptr;
    for (const FPropList* child = tag->GetFirstChild(); child != nullptr; child = child->GetNext()) {
        Entry entry;
        entry.m_usLanguage = child->GetName();
        entry.m_usText = child->GetString(FWideString("Text"), FWideString(), &found);
        if (!found)
            continue;
        ReadFontAttributes(entry.m_attributes, child, &m_base);
        m_entries.push_back(std::move(entry));
    }
    return !m_entries.empty();
}

bool FUiMultiLangString::SelectLanguage(const FWideString& language)
{
    for (const Entry& entry : m_entries) {
        if (entry.m_usLanguage == language) {
            m_pCurrent = &entry;
            return true;
        }
    }
    m_pCurrent = m_entries.empty() ? nullptr : &m_entries.front();
    return false;
}

FIUiPixmap* FUiMultiLangString::Render(int* prefixWidths, bool disabled, const FontAttributes* overrides)
{
    if (m_pCurrent == nullptr || m_pFont == nullptr)
        return nullptr;
    // The values change, the flags stay the entry's: the font then applies exactly the
    // attributes this string sets.
    FontAttributes record = m_pCurrent->m_attributes;
    if (overrides != nullptr)
        ApplyFontOverrides(record, *overrides);
    return m_pFont->RenderText(&record, m_pCurrent->m_usText, prefixWidths, disabled);
}

const FWideString* FUiMultiLangString::GetText()
{
    return m_pCurrent != nullptr ? &m_pCurrent->m_usText : nullptr;
}

bool FUiMultiLangString::HasText(const FWideString& text)
{
    for (const Entry& entry : m_entries) {
        if (entry.m_usText == text)
            return true;
    }
    return false;
}
