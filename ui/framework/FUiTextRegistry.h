#pragma once

#include "FWideString.h"

#include <memory>
#include <vector>

class FIUiFont;
class FIUiMultiLangString;
class FPropList;
class FUiFont;
class FUiMultiLangString;

// The application's fonts (APPFONT) and display strings (DISPLAY_STRING), in script
// order, all in one current language.
class FUiTextRegistry
{
public:
    FUiTextRegistry();
    ~FUiTextRegistry();
    FUiTextRegistry(const FUiTextRegistry&) = delete;
    FUiTextRegistry& operator=(const FUiTextRegistry&) = delete;

    // Every APPFONT of every FONTS child of `root`, then every DISPLAY_STRING child; the
    // ones that do not initialise are dropped. Then all select `language`.
    void Read(const FPropList* root, bool builtForMac, bool builtForWindows, const FWideString& language);
    // Fonts first, then display strings.
    void SelectLanguage(const FWideString& language);
    // The first of the name (case-sensitive), or null.
    FIUiFont* GetAppFont(const FWideString& name) const;
    FIUiMultiLangString* GetDisplayString(const FWideString& name) const;

private:
    std::vector<std::unique_ptr<FUiFont>> m_fonts;
    std::vector<std::unique_ptr<FUiMultiLangString>> m_strings;
};
