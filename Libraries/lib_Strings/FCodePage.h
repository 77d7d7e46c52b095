#pragma once

#include <string>
#include <string_view>

class FWideString;

// The "ANSI code page" of this system is UTF-8. Bytes that are not valid UTF-8
// become the lone units U+DC00 + byte and turn back into the same bytes, so
// every native file name survives a round trip through UTF-16.

std::u16string Utf8ToUtf16(std::string_view bytes);
std::string Utf16ToUtf8(std::u16string_view units);
FWideString WideFromUtf8(std::string_view bytes);
std::string Utf8FromWide(const FWideString& text);

// Always true: only the wide-character file-system branches exist.
bool IsWindowsNT();
// New arrays the caller frees with delete[]; null for a null argument.
char* WideToAnsi(const char16_t* text);
char16_t* AnsiToWide(const char* text);
