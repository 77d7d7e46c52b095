#include "FWideString.h"

#include <algorithm>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <limits>
#include <vector>

#include "FCodePage.h"
#include "os/FOsCollate.h"

namespace
{

char16_t WidenByte(char c)
{
    // Signed widening, whatever the signedness of plain char.
    return static_cast<char16_t>(static_cast<int16_t>(static_cast<signed char>(c)));
}

// ASCII folding without the process locale.
int FoldUnit(char16_t unit)
{
    if (unit >= u'a' && unit <= u'z')
        return unit - (u'a' - u'A');
    return unit;
}

char16_t LowerUnit(char16_t unit)
{
    if (unit >= u'A' && unit <= u'Z')
        return static_cast<char16_t>(unit + (u'a' - u'A'));
    return unit;
}

char16_t* NewEmptyBuffer()
{
    char16_t* buffer = new char16_t[1];
    buffer[0] = 0;
    return buffer;
}

char* NewEmptyNarrow()
{
    char* buffer = new char[1];
    buffer[0] = 0;
    return buffer;
}

int CountBytes(const char* text)
{
    return text ? static_cast<int>(std::strlen(text)) : 0;
}

} // namespace

FWideString::FWideString()
    : m_iLength(0), m_iCapacity(0), m_pBuffer(NewEmptyBuffer()), m_iNarrowLength(0),
      m_pNarrow(NewEmptyNarrow())
{
}

FWideString::FWideString(const char* text) : FWideString()
{
    priReplaceNarrow(text, CountBytes(text));
}

FWideString::FWideString(const char16_t* text) : FWideString()
{
    priReplace(text, StrLen(text));
}

FWideString::FWideString(const char16_t* first, const char16_t* last) : FWideString()
{
    Assign(first, last);
}

FWideString::FWideString(const FWideString& other) : FWideString()
{
    priReplace(other.m_pBuffer, other.m_iLength);
}

FWideString::~FWideString()
{
    delete[] m_pBuffer;
    delete[] m_pNarrow;
}

FWideString& FWideString::operator=(const char* text)
{
    Assign(text);
    return *this;
}

FWideString& FWideString::operator=(const char16_t* text)
{
    if (text == m_pBuffer)
        return *this;
    priReplace(text, StrLen(text));
    priDropNarrow();
    return *this;
}

FWideString& FWideString::operator=(const FWideString& other)
{
    if (&other == this)
        return *this;
    // Every unit, as the copy constructor: a NUL unit does not end the copy.
    priReplace(other.m_pBuffer, other.m_iLength);
    priDropNarrow();
    return *this;
}

void FWideString::Assign(const char* text)
{
    priReplaceNarrow(text, CountBytes(text));
    priDropNarrow();
}

void FWideString::Assign(const char* first, const char* last)
{
    // Compared as addresses so that last == first - 1 needs no arithmetic
    // before the start of an array.
    const auto begin = reinterpret_cast<std::uintptr_t>(first);
    const auto end = reinterpret_cast<std::uintptr_t>(last) + 1;
    const int count = (first && last && end > begin) ? static_cast<int>(end - begin) : 0;
    priReplaceNarrow(first, count);
    priDropNarrow();
}

void FWideString::Assign(const char16_t* first, const char16_t* last)
{
    const auto begin = reinterpret_cast<std::uintptr_t>(first);
    const auto end = reinterpret_cast<std::uintptr_t>(last) + sizeof(char16_t);
    const int count = (first && last && end > begin) ? static_cast<int>((end - begin) / sizeof(char16_t)) : 0;
    // A range of our own buffer is safe: the old buffer goes after the copy.
    priReplace(first, count);
    priDropNarrow();
}

void FWideString::Clear()
{
    priReplace(nullptr, 0);
    priDropNarrow();
}

void FWideString::Format(const char* format, ...)
{
    // A buffer per call: several threads format at once.
    std::vector<char> buffer(kFormatLimit);
    va_list args;
    va_start(args, format);
    std::vsnprintf(buffer.data(), buffer.size(), format ? format : "", args);
    va_end(args);
    Assign(buffer.data());
}

void FWideString::SetByteSize(int64_t count)
{
    if (count < 1024) {
        Format("%lld B", static_cast<long long>(count));
        return;
    }
    static const char* const kUnits[] = {"KB", "MB", "GB", "TB"};
    double x = static_cast<double>(count) / 1024.0;
    int unit = 0;
    while (x >= 1024.0 && unit < 3) {
        x /= 1024.0;
        ++unit;
    }
    if (x < 10.0)
        Format("%.2f %s", x, kUnits[unit]);
    else if (x < 100.0)
        Format("%.1f %s", x, kUnits[unit]);
    else
        Format("%.0f %s", x, kUnits[unit]);
}

FWideString& FWideString::operator+=(char c)
{
    return *this += WidenByte(c);
}

FWideString& FWideString::operator+=(char16_t unit)
{
    if (unit == 0)
        return *this;
    if (unit == 8) {
        DropRight(m_iLength > 0 ? 1 : 0);
        return *this;
    }
    Append(unit);
    return *this;
}

void FWideString::Append(char16_t unit)
{
    priInsertUnits(&unit, 1, m_iLength);
}

FWideString& FWideString::operator+=(const char* text)
{
    const int count = CountBytes(text);
    if (count == 0)
        return *this;
    std::vector<char16_t> units(count);
    for (int i = 0; i < count; ++i)
        units[i] = WidenByte(text[i]);
    priInsertUnits(units.data(), count, m_iLength);
    return *this;
}

FWideString& FWideString::operator+=(const char16_t* text)
{
    priInsertUnits(text, StrLen(text), m_iLength);
    return *this;
}

FWideString& FWideString::operator+=(const FWideString& other)
{
    priInsertUnits(other.m_pBuffer, other.m_iLength, m_iLength);
    return *this;
}

void FWideString::Insert(char16_t unit, int position)
{
    priInsertUnits(&unit, 1, position);
}

void FWideString::Insert(const char16_t* text, int position)
{
    priInsertUnits(text, StrLen(text), position);
}

void FWideString::Erase(int position, int count)
{
    if (count <= 0 || position < 0 || position >= m_iLength)
        return;
    if (count > m_iLength - position)
        count = m_iLength - position;
    const int length = m_iLength - count;
    char16_t* buffer = new char16_t[length + 1];
    std::memcpy(buffer, m_pBuffer, position * sizeof(char16_t));
    std::memcpy(buffer + position, m_pBuffer + position + count,
                (m_iLength - position - count) * sizeof(char16_t));
    buffer[length] = 0;
    priTakeBuffer(buffer, length, length);
}

int FWideString::DropRight(int count)
{
    if (count <= 0 || count > m_iLength)
        return m_iLength;
    m_iLength -= count;
    m_pBuffer[m_iLength] = 0;
    return m_iLength;
}

void FWideString::ToLower()
{
    for (int i = 0; i < m_iLength; ++i)
        m_pBuffer[i] = LowerUnit(m_pBuffer[i]);
    for (char* p = m_pNarrow; *p; ++p) {
        if (*p >= 'A' && *p <= 'Z')
            *p = static_cast<char>(*p + ('a' - 'A'));
    }
}

const char* FWideString::GetNarrow() const
{
    if (m_iLength != m_iNarrowLength) {
        char* narrow = new char[m_iLength + 1];
        delete[] m_pNarrow;
        m_pNarrow = narrow;
        m_iNarrowLength = m_iLength;
    }
    // Refilled on every call: edits that keep the length change the text too.
    for (int i = 0; i < m_iLength; ++i)
        m_pNarrow[i] = m_pBuffer[i] >= 127 ? '?' : static_cast<char>(m_pBuffer[i]);
    m_pNarrow[m_iLength] = 0;
    return m_pNarrow;
}

bool FWideString::operator==(const char16_t* text) const
{
    const int length = StrLen(text);
    return length == m_iLength && priCompareUnits(m_pBuffer, text, length) == 0;
}

bool FWideString::operator==(const char* text) const
{
    const int length = CountBytes(text);
    if (length != m_iLength)
        return false;
    for (int i = 0; i < length; ++i) {
        if (m_pBuffer[i] != WidenByte(text[i]))
            return false;
    }
    return true;
}

bool FWideString::operator==(const FWideString& other) const
{
    return other.m_iLength == m_iLength && priCompareUnits(m_pBuffer, other.m_pBuffer, m_iLength) == 0;
}

bool FWideString::operator<(const FWideString& other) const
{
    const int common = m_iLength < other.m_iLength ? m_iLength : other.m_iLength;
    const int result = priCompareUnits(m_pBuffer, other.m_pBuffer, common);
    if (result != 0)
        return result < 0;
    return m_iLength < other.m_iLength;
}

int FWideString::CompareNoCase(const char16_t* text) const
{
    const char16_t* a = m_pBuffer;
    const char16_t* b = text ? text : u"";
    for (;; ++a, ++b) {
        const int fa = FoldUnit(*a);
        const int fb = FoldUnit(*b);
        if (fa != fb)
            return fa - fb;
        if (*a == 0)
            return 0;
    }
}

int FWideString::CompareNoCase(const char* text) const
{
    return ::CompareNoCase(m_pBuffer, text);
}

const char16_t* FWideString::Find(const FWideString& text) const
{
    if (m_iLength == 0 || text.m_iLength == 0)
        return nullptr;
    for (int i = 0; i + text.m_iLength <= m_iLength; ++i) {
        if (priCompareUnits(m_pBuffer + i, text.m_pBuffer, text.m_iLength) == 0)
            return m_pBuffer + i;
    }
    return nullptr;
}

bool FWideString::Split(const FWideString& separator, FWideString& left, FWideString& right) const
{
    if (m_iLength == 0 || separator.m_iLength == 0)
        return false;
    // The outputs may alias this string.
    const FWideString self(*this);
    left.Clear();
    right.Clear();
    const char16_t* found = self.Find(separator);
    if (!found)
        return false;
    const int position = static_cast<int>(found - self.m_pBuffer);
    left.priReplace(self.m_pBuffer, position);
    right.priReplace(found + separator.m_iLength, self.m_iLength - position - separator.m_iLength);
    return true;
}

bool FWideString::Split(const char16_t* separator, FWideString& left, FWideString& right) const
{
    return Split(FWideString(separator), left, right);
}

int FWideString::StrLen(const char16_t* text)
{
    if (!text)
        return 0;
    int length = 0;
    while (text[length])
        ++length;
    return length;
}

int FWideString::priCompareUnits(const char16_t* a, const char16_t* b, int n)
{
    for (int i = 0; i < n; ++i) {
        if (a[i] != b[i])
            return a[i] < b[i] ? -1 : 1;
    }
    return 0;
}

void FWideString::priReplace(const char16_t* units, int count)
{
    char16_t* buffer = new char16_t[count + 1];
    if (count > 0)
        std::memcpy(buffer, units, count * sizeof(char16_t));
    buffer[count] = 0;
    priTakeBuffer(buffer, count, count);
}

void FWideString::priReplaceNarrow(const char* bytes, int count)
{
    char16_t* buffer = new char16_t[count + 1];
    for (int i = 0; i < count; ++i)
        buffer[i] = WidenByte(bytes[i]);
    buffer[count] = 0;
    priTakeBuffer(buffer, count, count);
}

void FWideString::priInsertUnits(const char16_t* units, int count, int position)
{
    if (count <= 0)
        return;
    if (position < 0)
        position = 0;
    if (position > m_iLength)
        position = m_iLength;
    const int length = m_iLength + count;
    if (position == m_iLength && length <= m_iCapacity) {
        // Room at the end: no copy of what is there. The units may be our own (s += s),
        // which lie before the end and so do not overlap where they go.
        std::memmove(m_pBuffer + position, units, count * sizeof(char16_t));
        m_pBuffer[length] = 0;
        m_iLength = length;
        return;
    }
    // Geometric growth makes a run of appends linear in all.
    const int64_t doubled = int64_t{m_iCapacity} * 2;
    const int capacity = static_cast<int>(
        std::max<int64_t>(length, std::min<int64_t>(doubled, std::numeric_limits<int>::max() - 1)));
    char16_t* buffer = new char16_t[static_cast<size_t>(capacity) + 1];
    std::memcpy(buffer, m_pBuffer, position * sizeof(char16_t));
    std::memcpy(buffer + position, units, count * sizeof(char16_t));
    std::memcpy(buffer + position + count, m_pBuffer + position, (m_iLength - position) * sizeof(char16_t));
    buffer[length] = 0;
    priTakeBuffer(buffer, length, capacity);
}

void FWideString::priTakeBuffer(char16_t* buffer, int length, int capacity)
{
    delete[] m_pBuffer;
    m_pBuffer = buffer;
    m_iLength = length;
    m_iCapacity = capacity;
}

void FWideString::priDropNarrow()
{
    char* narrow = NewEmptyNarrow();
    delete[] m_pNarrow;
    m_pNarrow = narrow;
    m_iNarrowLength = 0;
}

int CompareNoCase(const char16_t* wide, const char* narrow)
{
    const char16_t* a = wide ? wide : u"";
    const char* b = narrow ? narrow : "";
    for (;; ++a, ++b) {
        const int fa = FoldUnit(*a);
        const int fb = FoldUnit(WidenByte(*b));
        if (fa != fb)
            return fa - fb;
        if (*a == 0)
            return 0;
    }
}

int CompareLocale(const FWideString& a, const FWideString& b)
{
    return OsCollateNoCase(std::u16string_view(a.GetBuffer(), a.GetLength()),
                           std::u16string_view(b.GetBuffer(), b.GetLength()));
}

std::string LocaleSortKey(const FWideString& text)
{
    return OsCollationKeyNoCase(std::u16string_view(text.GetBuffer(), text.GetLength()));
}

char16_t* WideStrCopy(char16_t* dest, const char16_t* src)
{
    int i = 0;
    do {
        dest[i] = src[i];
    } while (src[i++]);
    return dest;
}

int WideStrLen(const char16_t* text)
{
    return FWideString::StrLen(text);
}

int WideToAscii(const char16_t* src, char* dest, int size)
{
    if (size <= 0 || !dest)
        return 0;
    int count = 0;
    if (src) {
        for (; count < size - 1 && src[count]; ++count)
            dest[count] = src[count] >= 128 ? '?' : static_cast<char>(src[count]);
    }
    dest[count] = 0;
    return count;
}
