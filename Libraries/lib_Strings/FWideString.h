#pragma once

#include <cstdint>
#include <string>

#include "FCodePage.h"

// The framework's string value: UTF-16 units, always NUL-terminated, with an
// ASCII copy for logs and narrow calls. Narrow text is widened byte by byte as
// signed values, so 0x80-0xFF become U+FF80-U+FFFF.
class FWideString
{
public:
    FWideString();
    FWideString(const char* text);
    FWideString(const char16_t* text);
    // Inclusive range: last - first + 1 units; last == first - 1 gives "".
    FWideString(const char16_t* first, const char16_t* last);
    FWideString(const FWideString& other);
    ~FWideString();

    FWideString& operator=(const char* text);
    FWideString& operator=(const char16_t* text);
    FWideString& operator=(const FWideString& other);
    void Assign(const char* text);
    // Inclusive ranges, as the constructor.
    void Assign(const char* first, const char* last);
    void Assign(const char16_t* first, const char16_t* last);
    void Clear();
    // Results longer than kFormatLimit - 1 bytes are cut.
    void Format(const char* format, ...) __attribute__((format(printf, 2, 3)));
    void SetByteSize(int64_t count);

    // 0 does nothing, 8 removes the last unit, anything else is appended.
    FWideString& operator+=(char c);
    FWideString& operator+=(char16_t unit);
    // Appends any unit, 0 and 8 included.
    void Append(char16_t unit);
    FWideString& operator+=(const char* text);
    FWideString& operator+=(const char16_t* text);
    FWideString& operator+=(const FWideString& other);
    // A position past the end means the end.
    void Insert(char16_t unit, int position);
    void Insert(const char16_t* text, int position);
    void Erase(int position, int count);
    // Returns the new length; a count above the length changes nothing.
    int DropRight(int count);
    // ASCII only: units of 128 and above are left alone.
    void ToLower();

    int GetLength() const { return m_iLength; }
    bool IsEmpty() const { return m_iLength == 0; }
    const char16_t* GetBuffer() const { return m_pBuffer; }
    // ASCII copy, units of 127 and above as "?". Valid until the string next
    // changes or dies.
    const char* GetNarrow() const;

    bool operator==(const char16_t* text) const;
    bool operator==(const char* text) const;
    bool operator==(const FWideString& other) const;
    // Plain unit order, for ordered containers.
    bool operator<(const FWideString& other) const;

    // Difference of the first unequal pair of ASCII-folded units; 0 if equal.
    int CompareNoCase(const char16_t* text) const;
    int CompareNoCase(const char* text) const;
    // Pointer into this string's buffer, or null (also when either is empty).
    const char16_t* Find(const FWideString& text) const;
    // Splits at the first occurrence of the separator.
    bool Split(const FWideString& separator, FWideString& left, FWideString& right) const;
    bool Split(const char16_t* separator, FWideString& left, FWideString& right) const;

    static int StrLen(const char16_t* text);
    // Compares n units as unsigned values: -1, 0 or 1.
    static int priCompareUnits(const char16_t* a, const char16_t* b, int n);

    static constexpr int kFormatLimit = 8192;

private:
    void priReplace(const char16_t* units, int count);
    void priReplaceNarrow(const char* bytes, int count);
    void priInsertUnits(const char16_t* units, int count, int position);
    void priDropNarrow();
    void priTakeBuffer(char16_t* buffer, int length, int capacity);

    int m_iLength;
    // Units the buffer holds before its terminator; appends grow it geometrically.
    int m_iCapacity;
    char16_t* m_pBuffer;
    mutable int m_iNarrowLength;
    mutable char* m_pNarrow;
};

// Case-insensitive compare of wide against narrow text, as the member.
int CompareNoCase(const char16_t* wide, const char* narrow);
// Locale order for sorting names, ignoring case: -1, 0, 1, or -2 on failure.
int CompareLocale(const FWideString& a, const FWideString& b);
// Bytes whose plain order (strcmp) is the order of CompareLocale: a sort transforms each
// text once. Safe on any thread, as CompareLocale is.
std::string LocaleSortKey(const FWideString& text);

char16_t* WideStrCopy(char16_t* dest, const char16_t* src);
int WideStrLen(const char16_t* text);
// Copies at most size - 1 units, units of 128 and above as "?", then a NUL;
// returns the units copied. A size of 0 or less writes nothing.
int WideToAscii(const char16_t* src, char* dest, int size);
