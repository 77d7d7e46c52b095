#pragma once

// The application's display-string table: one UTF-8 text file, one row a
// string (name, APPFONT, English, French, German, Japanese, tab-separated),
// turned at build time into the script's UTF-16 strings file.

#include <set>
#include <string>
#include <vector>

inline constexpr int kStringLanguages = 4;
inline const char* const kStringLanguageNames[kStringLanguages] = {"English", "French", "German", "Japanese"};

struct FStringRow {
    int line = 0;
    std::string name;
    std::string font;
    std::string texts[kStringLanguages]; // empty: falls back to English
};

// Reads the table; false with "line N: reason" on a malformed row, a text
// the script dialect cannot hold, a missing English text or a duplicate name.
bool ParseStringTable(const std::string& utf8, std::vector<FStringRow>& rows, std::string& error);

// The display-string names a script text refers to: the values of every
// attribute whose name ends in "String".
std::set<std::string> FindScriptStringNames(const std::string& scriptText);

// The names of `used` that no row defines, in order.
std::vector<std::string> FindUndefinedNames(const std::vector<FStringRow>& rows,
                                            const std::set<std::string>& used);

// The strings file: UTF-16 little-endian with a byte-order mark.
std::string WriteStringsXml(const std::vector<FStringRow>& rows);
