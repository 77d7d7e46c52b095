#include "os/FOsCollate.h"

#include <cstring>
#include <cwctype>
#include <locale.h>
#include <string>

#include "FCodePage.h"

namespace
{

// Made once from the environment; the process locale stays "C".
locale_t UserLocale()
{
    static const locale_t locale = [] {
        locale_t made = newlocale(LC_COLLATE_MASK | LC_CTYPE_MASK, "", static_cast<locale_t>(0));
        if (!made)
            made = newlocale(LC_COLLATE_MASK | LC_CTYPE_MASK, "C.UTF-8", static_cast<locale_t>(0));
        return made;
    }();
    return locale;
}

char32_t FoldAscii(char32_t c)
{
    return (c >= U'A' && c <= U'Z') ? c + (U'a' - U'A') : c;
}

// Collation alone never calls two texts equal when only their case differs,
// so the texts are folded first.
std::string FoldedUtf8(std::u16string_view text, locale_t locale)
{
    std::u16string folded;
    folded.reserve(text.size());
    for (size_t i = 0; i < text.size(); ++i) {
        char32_t c = text[i];
        const bool pair = c >= 0xD800 && c <= 0xDBFF && i + 1 < text.size() && text[i + 1] >= 0xDC00 &&
                          text[i + 1] <= 0xDFFF;
        if (pair) {
            folded += text[i];
            folded += text[++i];
            continue;
        }
        if (c >= 0xD800 && c <= 0xDFFF) {
            folded += static_cast<char16_t>(c);
            continue;
        }
        c = locale ? static_cast<char32_t>(towlower_l(static_cast<wint_t>(c), locale)) : FoldAscii(c);
        folded += c <= 0xFFFF ? static_cast<char16_t>(c) : text[i];
    }
    return Utf16ToUtf8(folded);
}

int Sign(int value)
{
    return (value > 0) - (value < 0);
}

} // namespace

int OsCollateNoCase(std::u16string_view a, std::u16string_view b)
{
    const locale_t locale = UserLocale();
    const std::string fa = FoldedUtf8(a, locale);
    const std::string fb = FoldedUtf8(b, locale);
    if (!locale)
        return Sign(std::strcmp(fa.c_str(), fb.c_str()));
    return Sign(strcoll_l(fa.c_str(), fb.c_str(), locale));
}

std::string OsCollationKeyNoCase(std::u16string_view text)
{
    const locale_t locale = UserLocale();
    std::string folded = FoldedUtf8(text, locale);
    if (!locale)
        return folded;
    const size_t length = strxfrm_l(nullptr, folded.c_str(), 0, locale);
    std::string key(length + 1, '\0');
    strxfrm_l(key.data(), folded.c_str(), length + 1, locale);
    key.resize(length);
    return key;
}
