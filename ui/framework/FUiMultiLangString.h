#pragma once

#include "FWideString.h"
#include "FontAttributes.h"

#include <functional>
#include <vector>

class FIUiFont;
class FIUiPixmap;
class FPropList;

// A translatable text of the script (a DISPLAY_STRING): a text per language, drawn with
// an APPFONT and the attributes the string itself sets.
class FIUiMultiLangString
{
public:
    // False when the string has no entry for the language; the first entry is then current.
    virtual bool SelectLanguage(const FWideString& language) = 0;
    // The caller's overrides apply only to the attributes the string sets.
    virtual FIUiPixmap* Render(int* prefixWidths, bool disabled, const FontAttributes* overrides) = 0;
    // The current text, or null without a current entry.
    virtual const FWideString* GetText() = 0;
    // Some language's text equals `text`.
    virtual bool HasText(const FWideString& text) = 0;
    virtual ~FIUiMultiLangString() = default;
};

// Finds an APPFONT of the application by name, or null.
using FUiFontLookup = std::function<FIUiFont*(const FWideString& name)>;

class FUiMultiLangString : public FIUiMultiLangString
{
public:
    FUiMultiLangString() = default;

    // The tag must be a DISPLAY_STRING with a Name, an AppFont that `findFont` knows and
    // at least one language entry with a Text.
    bool Init(const FUiFontLookup& findFont, const FPropList* tag);

    bool SelectLanguage(const FWideString& language) override;
    FIUiPixmap* Render(int* prefixWidths, bool disabled, const FontAttributes* overrides) override;
    const FWideString* GetText() override;
    bool HasText(const FWideString& text) override;

    const FWideString& GetName() const { return m_usName; }

private:
    struct Entry {
        FWideString m_usLanguage;
        FWideString m_usText;
        FontAttributes m_attributes;
    };

    FWideString m_usName;
    FontAttributes m_base;
    FIUiFont* m_pFont = nullptr;
    std::vector<Entry> m_entries;
    const Entry* m_pCurrent = nullptr;
};
