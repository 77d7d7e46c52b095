#pragma once

// Test-side EXIF directories: a builder in either byte order, and a walker
// that reads entries back, both written independently of the program's code.

#include <cstdint>
#include <cstring>
#include <map>
#include <string>
#include <vector>

namespace exiftest
{

using Bytes = std::vector<uint8_t>;

struct Value {
    uint16_t type = 0;
    uint32_t count = 0;
    Bytes bytes; // in the blob's byte order
};

class Blob
{
public:
    explicit Blob(bool big) : m_big(big) {}

    bool Big() const { return m_big; }
    Bytes& Data() { return m_bytes; }
    const Bytes& Data() const { return m_bytes; }

    Bytes U16(uint32_t v) const { return Num(v, 2); }
    Bytes U32(uint32_t v) const { return Num(v, 4); }
    Bytes Num(uint64_t v, int n) const
    {
        Bytes b(static_cast<size_t>(n), 0);
        for (int i = 0; i < n; ++i) {
            b[size_t(m_big ? n - 1 - i : i)] = uint8_t(v >> (8 * i));
        }
        return b;
    }

    Value Ascii(const std::string& text) const
    {
        Bytes b(text.begin(), text.end());
        b.push_back(0);
        return {2, uint32_t(b.size()), b};
    }
    Value RawAscii(const Bytes& bytes) const { return {2, uint32_t(bytes.size()), bytes}; }
    Value Short(uint16_t v) const { return {3, 1, U16(v)}; }
    Value Long(uint32_t v) const { return {4, 1, U32(v)}; }
    Value Rational(uint32_t n, uint32_t d, bool isSigned = false) const
    {
        Bytes b = U32(n);
        const Bytes dd = U32(d);
        b.insert(b.end(), dd.begin(), dd.end());
        return {uint16_t(isSigned ? 10 : 5), 1, b};
    }
    Value Undefined(const Bytes& bytes) const { return {7, uint32_t(bytes.size()), bytes}; }

    void Put(size_t at, const Bytes& b)
    {
        if (m_bytes.size() < at + b.size()) {
            m_bytes.resize(at + b.size(), 0);
        }
        std::memcpy(m_bytes.data() + at, b.data(), b.size());
    }

    // A directory at `at` with its values right behind it (after the next-directory
    // field); `shift` is added to every stored value offset. Returns the end offset.
    size_t Directory(size_t at, const std::vector<std::pair<uint16_t, Value>>& entries, int64_t shift = 0,
                     bool nextField = true)
    {
        Put(at, U16(uint16_t(entries.size())));
        size_t data = at + 2 + 12 * entries.size() + (nextField ? 4 : 0);
        if (nextField) {
            Put(at + 2 + 12 * entries.size(), U32(0));
        }
        for (size_t i = 0; i < entries.size(); ++i) {
            const size_t e = at + 2 + 12 * i;
            const Value& v = entries[i].second;
            Put(e, U16(entries[i].first));
            Put(e + 2, U16(v.type));
            Put(e + 4, U32(v.count));
            if (v.bytes.size() <= 4) {
                Bytes inline4 = v.bytes;
                inline4.resize(4, 0);
                Put(e + 8, inline4);
                continue;
            }
            Put(e + 8, U32(uint32_t(int64_t(data) + shift)));
            Put(data, v.bytes);
            data += v.bytes.size();
        }
        if (m_bytes.size() < data) {
            m_bytes.resize(data, 0);
        }
        return data;
    }

    // The TIFF header with the first directory at 8.
    void Header()
    {
        Put(0, m_big ? Bytes{'M', 'M'} : Bytes{'I', 'I'});
        Put(2, U16(42));
        Put(4, U32(8));
    }

private:
    bool m_big;
    Bytes m_bytes;
};

// The maker note value: name, version 1, and a directory whose values follow it.
// `base` is the offset the value will have in the blob.
inline Bytes MakerNote(bool big, size_t base, const std::string& name,
                       const std::vector<std::pair<uint16_t, std::string>>& texts, int64_t shift = 0)
{
    Blob b(big);
    b.Data().resize(base, 0);
    Bytes head(8, 0);
    std::memcpy(head.data(), name.data(), std::min<size_t>(name.size(), 8));
    b.Put(base, head);
    b.Put(base + 8, b.U16(1));
    std::vector<std::pair<uint16_t, Value>> entries;
    for (const auto& t : texts) {
        entries.push_back({t.first, b.Ascii(t.second)});
    }
    b.Directory(base + 10, entries, shift);
    return Bytes(b.Data().begin() + long(base), b.Data().end());
}

// One entry as read back by the test walker.
struct Entry {
    uint16_t type = 0;
    uint32_t count = 0;
    uint32_t value = 0; // the value or offset field
    size_t at = 0;      // where the entry is
};

inline uint32_t ReadLE(const uint8_t* p, int n)
{
    uint32_t v = 0;
    for (int i = n - 1; i >= 0; --i) {
        v = v << 8 | p[i];
    }
    return v;
}

// Entries of a little-endian directory, by tag.
inline std::map<uint16_t, Entry> ReadDirectoryLE(const uint8_t* base, size_t at)
{
    std::map<uint16_t, Entry> entries;
    const unsigned count = ReadLE(base + at, 2);
    for (unsigned i = 0; i < count; ++i) {
        const uint8_t* e = base + at + 2 + 12 * i;
        entries[uint16_t(ReadLE(e, 2))] = {uint16_t(ReadLE(e + 2, 2)), ReadLE(e + 4, 4), ReadLE(e + 8, 4),
                                           at + 2 + 12 * i};
    }
    return entries;
}

inline uint32_t NextDirectoryLE(const uint8_t* base, size_t at)
{
    const unsigned count = ReadLE(base + at, 2);
    return ReadLE(base + at + 2 + 12 * count, 4);
}

// An ASCII value of an entry, inline or out of line.
inline std::string AsciiLE(const uint8_t* base, const Entry& e)
{
    const uint8_t* p = e.count <= 4 ? base + e.at + 8 : base + e.value;
    return std::string(reinterpret_cast<const char*>(p), strnlen(reinterpret_cast<const char*>(p), e.count));
}

inline std::pair<int32_t, int32_t> RationalLE(const uint8_t* base, const Entry& e)
{
    return {int32_t(ReadLE(base + e.value, 4)), int32_t(ReadLE(base + e.value + 4, 4))};
}

} // namespace exiftest
