#pragma once

#include <string>

// A handle owning its own 8-bit text; copies are independent values. The text
// is a C string: it ends at its first NUL.
class FNarrowString
{
public:
    FNarrowString();
    FNarrowString(const FNarrowString& other);
    // printf-style; results longer than kFormatLimit - 1 bytes are cut.
    explicit FNarrowString(const char* format, ...) __attribute__((format(printf, 2, 3)));
    ~FNarrowString();
    FNarrowString& operator=(const FNarrowString& other);

    int GetLength() const;
    // Room for n characters and the NUL; the text stays as it was.
    char* GetBuffer(int n);
    // Byte-wise as unsigned chars: -1, 0 or 1.
    int Compare(const char* text) const;
    const char* GetCString() const;
    void Append(const char* text);
    void AppendChar(char c);
    void Assign(const char* text);
    void AssignString(const FNarrowString& other);
    // Throws std::out_of_range("invalid string position") past the end.
    char GetAt(int index) const;

    static constexpr int kFormatLimit = 10000;

private:
    void priTrim() const;

    std::string* m_pString;
};
