#pragma once

#include <string>

// A font as the text layer asks for it, after the program's character-set rules.
struct FOsFont {
    std::string family;   // UTF-8; empty lets the matcher choose by language
    std::string language; // a language tag the font must cover well, or empty
    int height = 0;       // cell height (ascent + descent) in pixels
    int weight = 400;     // 400 normal, 700 bold
    bool italic = false;
    bool underline = false;

    bool operator==(const FOsFont&) const = default;
};

// The rules: the face "Chinese" (any case) means no family but traditional Chinese
// glyphs, normal weight, and 3 pixels more height (5 on a Japanese system); any other
// face on a Japanese system prefers Japanese glyphs.
FOsFont ResolveOsFont(const char16_t* face, int height, bool bold, bool italic, bool underline,
                      bool japaneseSystem);

// Null for a null face or a height that is not positive. Delete with DeleteOsFont.
FOsFont* CreateOsFont(const char16_t* face, int height, bool bold, bool italic, bool underline);
void DeleteOsFont(FOsFont* font);

// The user's locale (LC_ALL, LC_CTYPE, LANG, first one set) is Japanese.
bool IsOsJapaneseSystem();
