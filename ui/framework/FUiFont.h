#pragma once

#include "FWideString.h"
#include "FontAttributes.h"

#include <vector>

class FIUiPixmap;
class FPropList;

// A font of the script (an APPFONT): a face and attributes per language. Without a
// selected language it draws and measures nothing.
class FIUiFont
{
public:
    virtual bool Init(const FPropList* tag) = 0;
    // False, keeping the current entry, when the font has no entry for the language.
    virtual bool SelectLanguage(const FWideString& language) = 0;
    // `overrides` (or null) replace the attributes whose flags are set; the Color override
    // also replaces the disabled colour. Null when nothing can be drawn.
    virtual FIUiPixmap* RenderText(const FontAttributes* overrides, const FWideString& text,
                                   int* prefixWidths, bool disabled) = 0;
    virtual FIUiPixmap* RenderText(const FontAttributes* overrides, const FWideString& text,
                                   bool disabled) = 0;
    // 0 and 0 without a selected language.
    virtual void GetFontMetrics(const FontAttributes* overrides, int& lineHeight, int& averageWidth) = 0;
    // Entry i gets the width of the first i + 1 characters.
    virtual bool MeasureText(const FontAttributes* overrides, const FWideString& text, int* prefixWidths) = 0;
    // Leaves `colour` as it is without a selected language.
    virtual void GetColor(FUiColor& colour) = 0;
    virtual ~FIUiFont() = default;
};

class FUiFont : public FIUiFont
{
public:
    FUiFont(bool builtForMac, bool builtForWindows);

    bool Init(const FPropList* tag) override;
    bool SelectLanguage(const FWideString& language) override;
    FIUiPixmap* RenderText(const FontAttributes* overrides, const FWideString& text, int* prefixWidths,
                           bool disabled) override;
    FIUiPixmap* RenderText(const FontAttributes* overrides, const FWideString& text, bool disabled) override;
    void GetFontMetrics(const FontAttributes* overrides, int& lineHeight, int& averageWidth) override;
    bool MeasureText(const FontAttributes* overrides, const FWideString& text, int* prefixWidths) override;
    void GetColor(FUiColor& colour) override;

    bool HasName() const { return m_bNameFound; }
    const FWideString& GetName() const { return m_usName; }

private:
    struct Entry {
        bool m_bFaceFound = false;
        FWideString m_usLanguage;
        FWideString m_usFontname;
        FontAttributes m_attributes;
    };

    // The current entry's attributes with the overrides applied.
    FontAttributes priEffective(const FontAttributes* overrides) const;

    bool m_bBuiltForMac;
    bool m_bBuiltForWindows;
    bool m_bNameFound = false;
    FWideString m_usName;
    FontAttributes m_base;
    std::vector<Entry> m_entries;
    const Entry* m_pCurrent = nullptr;
};
