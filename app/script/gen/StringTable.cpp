#include "StringTable.h"

#include <cstdint>
#include <map>

namespace
{

std::vector<std::string> SplitTabs(const std::string& line)
{
    std::vector<std::string> cells;
    size_t start = 0;
    for (;;) {
        const size_t tab = line.find('\t', start);
        cells.push_back(line.substr(start, tab == std::string::npos ? std::string::npos : tab - start));
        if (tab == std::string::npos)
            return cells;
        start = tab + 1;
    }
}

// Decodes UTF-8 strictly (no overlong forms, no surrogates); false on bad bytes.
bool DecodeUtf8(const std::string& text, std::u32string& out)
{
    out.clear();
    for (size_t i = 0; i < text.size();) {
        const auto b = static_cast<unsigned char>(text[i]);
        int extra = 0;
        char32_t cp = 0;
        if (b < 0x80) {
            cp = b;
        } else if ((b & 0xE0) == 0xC0) {
            extra = 1;
            cp = b & 0x1F;
        } else if ((b & 0xF0) == 0xE0) {
            extra = 2;
            cp = b & 0x0F;
        } else if ((b & 0xF8) == 0xF0) {
            extra = 3;
            cp = b & 0x07;
        } else {
            return false;
        }
        if (i + static_cast<size_t>(extra) >= text.size() && extra > 0)
            return false;
        for (int k = 1; k <= extra; ++k) {
            const auto c = static_cast<unsigned char>(text[i + k]);
            if ((c & 0xC0) != 0x80)
                return false;
            cp = (cp << 6) | (c & 0x3F);
        }
        static const char32_t kMin[4] = {0, 0x80, 0x800, 0x10000};
        if (cp < kMin[extra] || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF))
            return false;
        out.push_back(cp);
        i += static_cast<size_t>(extra) + 1;
    }
    return true;
}

// The dialect has no entities and no escapes, so these can never appear in a value.
std::string CheckText(const std::string& text)
{
    std::u32string units;
    if (!DecodeUtf8(text, units))
        return "not valid UTF-8";
    for (char32_t c : units) {
        if (c == U'"' || c == U'<' || c == U'>' || c == U'&')
            return std::string("the character ") + static_cast<char>(c) + " cannot stand in a script value";
        if (c < 0x20 || c == 0x7F || (c >= 0x80 && c < 0xA0))
            return "a control character cannot stand in a script value";
        if (c == 0xFFFE || c == 0xFFFF)
            return "a non-character cannot stand in a script value";
    }
    return {};
}

bool IsNameChar(char c, bool first)
{
    return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || c == '_' || (!first && c >= '0' && c <= '9');
}

bool IsIdentifier(const std::string& text)
{
    if (text.empty())
        return false;
    for (size_t i = 0; i < text.size(); ++i) {
        if (!IsNameChar(text[i], i == 0))
            return false;
    }
    return true;
}

bool IsSpace(char c)
{
    return c == ' ' || c == '\t' || c == '\r' || c == '\n';
}

void AppendUtf16(std::string& out, const std::string& utf8)
{
    std::u32string units;
    DecodeUtf8(utf8, units);
    auto put = [&out](uint16_t u) {
        out.push_back(static_cast<char>(u & 0xFF));
        out.push_back(static_cast<char>(u >> 8));
    };
    for (char32_t c : units) {
        if (c >= 0x10000) {
            c -= 0x10000;
            put(static_cast<uint16_t>(0xD800 + (c >> 10)));
            put(static_cast<uint16_t>(0xDC00 + (c & 0x3FF)));
        } else {
            put(static_cast<uint16_t>(c));
        }
    }
}

} // namespace

bool ParseStringTable(const std::string& utf8, std::vector<FStringRow>& rows, std::string& error)
{
    rows.clear();
    std::map<std::string, int> seen;
    int lineNumber = 0;
    size_t start = 0;
    while (start < utf8.size()) {
        size_t end = utf8.find('\n', start);
        if (end == std::string::npos)
            end = utf8.size();
        std::string line = utf8.substr(start, end - start);
        start = end + 1;
        ++lineNumber;
        if (!line.empty() && line.back() == '\r')
            line.pop_back();
        if (line.empty() || line[0] == '#')
            continue;
        auto fail = [&](const std::string& why) {
            error = "line " + std::to_string(lineNumber) + ": " + why;
            return false;
        };
        const std::vector<std::string> cells = SplitTabs(line);
        if (cells.size() < 3 || cells.size() > 2 + kStringLanguages)
            return fail("expected a name, a font and one to four texts separated by tabs");
        FStringRow row;
        row.line = lineNumber;
        row.name = cells[0];
        row.font = cells[1];
        if (!IsIdentifier(row.name))
            return fail("the name '" + row.name + "' is not a plain identifier");
        if (!IsIdentifier(row.font))
            return fail("the font of " + row.name + " is not a plain identifier");
        for (size_t i = 2; i < cells.size(); ++i) {
            if (const std::string why = CheckText(cells[i]); !why.empty())
                return fail(row.name + " (" + kStringLanguageNames[i - 2] + "): " + why);
            row.texts[i - 2] = cells[i];
        }
        if (row.texts[0].empty())
            return fail(row.name + " has no English text");
        if (auto [it, added] = seen.emplace(row.name, lineNumber); !added)
            return fail("duplicate name " + row.name + " (first on line " + std::to_string(it->second) + ")");
        rows.push_back(row);
    }
    return true;
}

std::set<std::string> FindScriptStringNames(const std::string& scriptText)
{
    // Attributes named "...String" followed by = and a quoted value.
    std::set<std::string> names;
    const std::string key = "String";
    for (size_t at = scriptText.find(key); at != std::string::npos; at = scriptText.find(key, at + 1)) {
        const size_t after = at + key.size();
        if (after < scriptText.size() && IsNameChar(scriptText[after], false))
            continue; // a longer word
        size_t p = after;
        while (p < scriptText.size() && IsSpace(scriptText[p]))
            ++p;
        if (p >= scriptText.size() || scriptText[p] != '=')
            continue;
        ++p;
        while (p < scriptText.size() && IsSpace(scriptText[p]))
            ++p;
        if (p >= scriptText.size() || scriptText[p] != '"')
            continue;
        const size_t close = scriptText.find('"', p + 1);
        if (close == std::string::npos)
            break;
        if (close > p + 1)
            names.insert(scriptText.substr(p + 1, close - p - 1));
    }
    return names;
}

std::vector<std::string> FindUndefinedNames(const std::vector<FStringRow>& rows,
                                            const std::set<std::string>& used)
{
    std::set<std::string> defined;
    for (const FStringRow& row : rows)
        defined.insert(row.name);
    std::vector<std::string> missing;
    for (const std::string& name : used) {
        if (!defined.count(name))
            missing.push_back(name);
    }
    return missing;
}

std::string WriteStringsXml(const std::vector<FStringRow>& rows)
{
    std::string text = "<STRINGS>\r\n";
    for (const FStringRow& row : rows) {
        text += "  <DISPLAY_STRING Name=\"" + row.name + "\" AppFont=\"" + row.font + "\">";
        for (int i = 0; i < kStringLanguages; ++i) {
            if (!row.texts[i].empty())
                text += std::string("<") + kStringLanguageNames[i] + " Text=\"" + row.texts[i] + "\"/>";
        }
        text += "</DISPLAY_STRING>\r\n";
    }
    text += "</STRINGS>\r\n";
    std::string out = "\xFF\xFE";
    AppendUtf16(out, text);
    return out;
}
