#include "FNarrowString.h"

#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <stdexcept>
#include <vector>

FNarrowString::FNarrowString() : m_pString(new std::string) {}

FNarrowString::FNarrowString(const FNarrowString& other) : m_pString(new std::string(other.GetCString())) {}

FNarrowString::FNarrowString(const char* format, ...) : m_pString(new std::string)
{
    std::vector<char> buffer(kFormatLimit);
    va_list args;
    va_start(args, format);
    std::vsnprintf(buffer.data(), buffer.size(), format ? format : "", args);
    va_end(args);
    m_pString->assign(buffer.data());
}

FNarrowString::~FNarrowString()
{
    delete m_pString;
}

FNarrowString& FNarrowString::operator=(const FNarrowString& other)
{
    AssignString(other);
    return *this;
}

int FNarrowString::GetLength() const
{
    priTrim();
    return static_cast<int>(m_pString->size());
}

char* FNarrowString::GetBuffer(int n)
{
    priTrim();
    // Callers write a C string into it; the text ends at its first NUL.
    if (n > 0 && static_cast<size_t>(n) > m_pString->size())
        m_pString->resize(n, '\0');
    return m_pString->data();
}

int FNarrowString::Compare(const char* text) const
{
    const int result = std::strcmp(GetCString(), text ? text : "");
    return (result > 0) - (result < 0);
}

const char* FNarrowString::GetCString() const
{
    return m_pString->c_str();
}

void FNarrowString::Append(const char* text)
{
    priTrim();
    if (text)
        m_pString->append(text);
}

void FNarrowString::AppendChar(char c)
{
    priTrim();
    if (c)
        m_pString->push_back(c);
}

void FNarrowString::Assign(const char* text)
{
    // The text may point into this string.
    std::string copy(text ? text : "");
    m_pString->swap(copy);
}

void FNarrowString::AssignString(const FNarrowString& other)
{
    Assign(other.GetCString());
}

char FNarrowString::GetAt(int index) const
{
    priTrim();
    if (index < 0 || static_cast<size_t>(index) >= m_pString->size())
        throw std::out_of_range("invalid string position");
    return (*m_pString)[index];
}

void FNarrowString::priTrim() const
{
    const size_t length = std::strlen(m_pString->c_str());
    if (length != m_pString->size())
        m_pString->resize(length);
}
