#include "FCodePage.h"

#include <cstring>

#include "FWideString.h"

namespace
{

constexpr char16_t kByteEscapeBase = 0xDC00;

bool IsContinuation(unsigned char byte)
{
    return (byte & 0xC0) == 0x80;
}

// Length of the well-formed UTF-8 sequence at p (at most n bytes), or 0.
// Overlong forms, surrogates and values above U+10FFFF are not well formed.
int DecodeSequence(const unsigned char* p, size_t n, char32_t& value)
{
    const unsigned char lead = p[0];
    if (lead < 0x80) {
        value = lead;
        return 1;
    }
    int length = 0;
    char32_t min = 0;
    if (lead >= 0xC2 && lead <= 0xDF) {
        length = 2;
        value = lead & 0x1F;
        min = 0x80;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
        length = 3;
        value = lead & 0x0F;
        min = 0x800;
    } else if (lead >= 0xF0 && lead <= 0xF4) {
        length = 4;
        value = lead & 0x07;
        min = 0x10000;
    } else {
        return 0;
    }
    if (n < static_cast<size_t>(length))
        return 0;
    for (int i = 1; i < length; ++i) {
        if (!IsContinuation(p[i]))
            return 0;
        value = (value << 6) | (p[i] & 0x3F);
    }
    if (value < min || value > 0x10FFFF || (value >= 0xD800 && value <= 0xDFFF))
        return 0;
    return length;
}

void AppendUtf8(std::string& out, char32_t value)
{
    if (value < 0x80) {
        out += static_cast<char>(value);
    } else if (value < 0x800) {
        out += static_cast<char>(0xC0 | (value >> 6));
        out += static_cast<char>(0x80 | (value & 0x3F));
    } else if (value < 0x10000) {
        out += static_cast<char>(0xE0 | (value >> 12));
        out += static_cast<char>(0x80 | ((value >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (value & 0x3F));
    } else {
        out += static_cast<char>(0xF0 | (value >> 18));
        out += static_cast<char>(0x80 | ((value >> 12) & 0x3F));
        out += static_cast<char>(0x80 | ((value >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (value & 0x3F));
    }
}

} // namespace

std::u16string Utf8ToUtf16(std::string_view bytes)
{
    std::u16string out;
    out.reserve(bytes.size());
    const auto* p = reinterpret_cast<const unsigned char*>(bytes.data());
    size_t i = 0;
    while (i < bytes.size()) {
        char32_t value = 0;
        const int length = DecodeSequence(p + i, bytes.size() - i, value);
        if (length == 0) {
            // Keeps the byte: it comes back unchanged from Utf16ToUtf8.
            out += static_cast<char16_t>(kByteEscapeBase + p[i]);
            ++i;
            continue;
        }
        if (value >= 0x10000) {
            value -= 0x10000;
            out += static_cast<char16_t>(0xD800 + (value >> 10));
            out += static_cast<char16_t>(0xDC00 + (value & 0x3FF));
        } else {
            out += static_cast<char16_t>(value);
        }
        i += length;
    }
    return out;
}

std::string Utf16ToUtf8(std::u16string_view units)
{
    std::string out;
    out.reserve(units.size());
    for (size_t i = 0; i < units.size(); ++i) {
        const char16_t unit = units[i];
        if (unit >= 0xD800 && unit <= 0xDBFF && i + 1 < units.size() && units[i + 1] >= 0xDC00 &&
            units[i + 1] <= 0xDFFF) {
            AppendUtf8(out, 0x10000 + ((char32_t(unit) - 0xD800) << 10) + (units[i + 1] - 0xDC00));
            ++i;
            continue;
        }
        if (unit >= kByteEscapeBase + 0x80 && unit <= kByteEscapeBase + 0xFF) {
            out += static_cast<char>(unit - kByteEscapeBase);
            continue;
        }
        // Any other lone surrogate keeps its three-byte form, so nothing is
        // lost; such text never comes from a native name.
        AppendUtf8(out, unit);
    }
    return out;
}

FWideString WideFromUtf8(std::string_view bytes)
{
    const std::u16string units = Utf8ToUtf16(bytes);
    FWideString text;
    for (char16_t unit : units)
        text.Append(unit);
    return text;
}

std::string Utf8FromWide(const FWideString& text)
{
    return Utf16ToUtf8(std::u16string_view(text.GetBuffer(), text.GetLength()));
}

bool IsWindowsNT()
{
    return true;
}

char* WideToAnsi(const char16_t* text)
{
    if (!text)
        return nullptr;
    const std::string bytes = Utf16ToUtf8(std::u16string_view(text, FWideString::StrLen(text)));
    char* out = new char[bytes.size() + 1];
    std::memcpy(out, bytes.c_str(), bytes.size() + 1);
    return out;
}

char16_t* AnsiToWide(const char* text)
{
    if (!text)
        return nullptr;
    const std::u16string units = Utf8ToUtf16(text);
    char16_t* out = new char16_t[units.size() + 1];
    std::memcpy(out, units.c_str(), (units.size() + 1) * sizeof(char16_t));
    return out;
}
