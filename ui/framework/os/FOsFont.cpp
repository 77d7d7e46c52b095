#include "FOsFont.h"

#include "FCodePage.h"

#include <cstdlib>
#include <cstring>
#include <string_view>

namespace
{

constexpr int kChineseExtraHeight = 3;
constexpr int kChineseExtraHeightJapanese = 5;

bool IsChineseFace(const char16_t* face)
{
    constexpr std::u16string_view kChinese = u"chinese";
    const std::u16string_view name(face);
    if (name.size() != kChinese.size())
        return false;
    for (size_t i = 0; i < name.size(); ++i) {
        char16_t c = name[i];
        if (c >= u'A' && c <= u'Z')
            c = static_cast<char16_t>(c - u'A' + u'a');
        if (c != kChinese[i])
            return false;
    }
    return true;
}

} // namespace

FOsFont ResolveOsFont(const char16_t* face, int height, bool bold, bool italic, bool underline,
                      bool japaneseSystem)
{
    FOsFont font;
    font.italic = italic;
    font.underline = underline;
    if (face != nullptr && IsChineseFace(face)) {
        font.language = "zh-tw";
        font.weight = 400;
        font.height = height + (japaneseSystem ? kChineseExtraHeightJapanese : kChineseExtraHeight);
        return font;
    }
    if (face != nullptr)
        font.family = Utf16ToUtf8(std::u16string_view(face));
    if (japaneseSystem)
        font.language = "ja";
    font.weight = bold ? 700 : 400;
    font.height = height;
    return font;
}

FOsFont* CreateOsFont(const char16_t* face, int height, bool bold, bool italic, bool underline)
{
    if (face == nullptr || height <= 0)
        return nullptr;
    return new FOsFont(ResolveOsFont(face, height, bold, italic, underline, IsOsJapaneseSystem()));
}

void DeleteOsFont(FOsFont* font)
{
    delete font;
}

bool IsOsJapaneseSystem()
{
    for (const char* name : {"LC_ALL", "LC_CTYPE", "LANG"}) {
        const char* value = std::getenv(name);
        if (value != nullptr && value[0] != '\0')
            return std::strncmp(value, "ja", 2) == 0;
    }
    return false;
}
