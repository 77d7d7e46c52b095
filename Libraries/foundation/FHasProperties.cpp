#include "FHasProperties.h"

#include <charconv>
#include <cmath>
#include <cstring>
#include <string>

#include "FException.h"

namespace
{

bool IsCSpace(char c)
{
    return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}

bool IsHexDigit(char c)
{
    return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F');
}

FNarrowString MakeNarrow(const char* text)
{
    FNarrowString s;
    s.Assign(text != nullptr ? text : "");
    return s;
}

} // namespace

bool ReadLeadingDouble(const char* text, double& value)
{
    if (text == nullptr)
        return false;
    while (IsCSpace(*text))
        ++text;
    bool negative = false;
    if (*text == '+' || *text == '-') {
        negative = *text == '-';
        ++text;
    }
    // from_chars takes no sign of its own; a second sign is no number.
    if (*text == '+' || *text == '-')
        return false;
    const char* end = text + std::strlen(text);
    double result = 0;
    std::from_chars_result r{};
    const bool hex = text[0] == '0' && (text[1] == 'x' || text[1] == 'X') &&
                     (IsHexDigit(text[2]) || (text[2] == '.' && IsHexDigit(text[3])));
    if (hex) {
        r = std::from_chars(text + 2, end, result, std::chars_format::hex);
    } else {
        r = std::from_chars(text, end, result, std::chars_format::general);
    }
    if (r.ec == std::errc::result_out_of_range) {
        // As strtod: infinity for an overflow, 0 for an underflow (a negative exponent).
        const char* e = text;
        while (e < r.ptr && (hex ? (*e != 'p' && *e != 'P') : (*e != 'e' && *e != 'E')))
            ++e;
        result = (e + 1 < r.ptr && e[1] == '-') ? 0.0 : HUGE_VAL;
    } else if (r.ec != std::errc()) {
        return false;
    }
    value = negative ? -result : result;
    return true;
}

bool FPropertyIterator::Next()
{
    if (m_current == m_end)
        return false;
    ++m_current;
    return m_current != m_end;
}

const char* FPropertyIterator::GetKey() const
{
    if (m_current == m_end)
        throw FExceptionEndOfList("End of list encountered in FPropertyIterator::GetKey()");
    return m_current->first.GetCString();
}

const char* FPropertyIterator::GetValue() const
{
    if (m_current == m_end)
        throw FExceptionEndOfList("End of list encountered in FPropertyIterator::GetValue()");
    return m_current->second.GetCString();
}

FHasProperties& FHasProperties::operator=(const FHasProperties& other)
{
    if (this == &other)
        return *this;
    m_map.clear();
    for (const auto& [key, value] : other.m_map)
        m_map.emplace(key, value);
    return *this;
}

const char* FHasProperties::GetString(const char* name, const char* defaultValue) const
{
    const auto it = m_map.find(MakeNarrow(name));
    if (it == m_map.end())
        return defaultValue;
    return it->second.GetCString();
}

double FHasProperties::GetFloat(const char* name, double defaultValue) const
{
    const auto it = m_map.find(MakeNarrow(name));
    if (it == m_map.end())
        return defaultValue;
    double value = 0;
    if (!ReadLeadingDouble(it->second.GetCString(), value)) {
        const FNarrowString message("Conversion failure trying to convert '%s' to a floating point number.",
                                    it->second.GetCString());
        throw FExceptionConversion(message.GetCString());
    }
    return value;
}

bool FHasProperties::Has(const char* name) const
{
    return m_map.find(MakeNarrow(name)) != m_map.end();
}

bool FHasProperties::Remove(const char* name)
{
    return m_map.erase(MakeNarrow(name)) != 0;
}

void FHasProperties::SetString(const char* name, const char* value)
{
    m_map.insert_or_assign(MakeNarrow(name), MakeNarrow(value));
}
