#include "FUiTextRegistry.h"

#include "FPropList.h"
#include "FUiFont.h"
#include "FUiMultiLangString.h"

FUiTextRegistry::FUiTextRegistry() = default;
FUiTextRegistry::~FUiTextRegistry() = default;

void FUiTextRegistry::Read(const FPropList* root, bool builtForMac, bool builtForWindows,
                           const FWideString& language)
{
    if (root == nullptr)
        return;
    for (const FPropList* group = root->GetFirstChild(); group != nullptr; group = group->GetNext()) {
        if (!(group->GetName() == "FONTS"))
            continue;
        for (const FPropList* tag = group->GetFirstChild(); tag != nullptr; tag = tag->GetNext()) {
            if (!(tag->GetName() == "APPFONT"))
                continue;
            auto font = std::make_unique<FUiFont>(builtForMac, builtForWindows);
            if (font->Init(tag))
                m_fonts.push_back(std::move(font));
        }
    }
    for (auto& font : m_fonts)
        font->SelectLanguage(language);
    const FUiFontLookup findFont = [this](const FWideString& name) { return GetAppFont(name); };
    for (const FPropList* tag = root->GetFirstChild(); tag != nullptr; tag = tag->GetNext()) {
        if (!(tag->GetName() == "DISPLAY_STRING"))
            continue;
        auto text = std::make_unique<FUiMultiLangString>();
        if (text->Init(findFont, tag))
            m_strings.push_back(std::move(text));
    }
    for (auto& text : m_strings)
        text->SelectLanguage(language);
}

void FUiTextRegistry::SelectLanguage(const FWideString& language)
{
    for (auto& font : m_fonts)
        font->SelectLanguage(language);
    for (auto& text : m_strings)
        text->SelectLanguage(language);
}

FIUiFont* FUiTextRegistry::GetAppFont(const FWideString& name) const
{
    for (const auto& font : m_fonts) {
        if (font->GetName() == name)
            return font.get();
    }
    return nullptr;
}

FIUiMultiLangString* FUiTextRegistry::GetDisplayString(const FWideString& name) const
{
    for (const auto& text : m_strings) {
        if (text->GetName() == name)
            return text.get();
    }
    return nullptr;
}
