#include "LocalNumbers.h"

#include <string>

#include "FIUiApp.h"
#include "FUiMultiLangString.h"
#include "FWideString.h"

namespace
{

bool IsDigit(char16_t unit)
{
    return unit >= u'0' && unit <= u'9';
}

} // namespace

void UseLocalDecimalMark(FIUiApp* app, FWideString& text)
{
    FIUiMultiLangString* mark = app ? app->GetDisplayString(FWideString("DecimalMark")) : nullptr;
    const FWideString* markText = mark ? mark->GetText() : nullptr;
    if (!markText || markText->GetLength() != 1 || markText->GetBuffer()[0] == u'.')
        return;
    const char16_t replacement = markText->GetBuffer()[0];
    std::u16string units(text.GetBuffer(), size_t(text.GetLength()));
    bool changed = false;
    for (size_t i = 1; i + 1 < units.size(); ++i) {
        if (units[i] == u'.' && IsDigit(units[i - 1]) && IsDigit(units[i + 1])) {
            units[i] = replacement;
            changed = true;
        }
    }
    if (changed)
        text = FWideString(units.c_str());
}
