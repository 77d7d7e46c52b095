#pragma once

// Test-side oracles for the TIFF tests: little-endian fields, a tag-blob parser
// with its own unscrambling, and running the independent command-line readers.

#include <array>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <string>
#include <vector>

namespace tifftest
{

inline uint32_t LeU32(const uint8_t* p)
{
    return uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24;
}

inline uint32_t BeU32(const uint8_t* p)
{
    return uint32_t(p[0]) << 24 | uint32_t(p[1]) << 16 | uint32_t(p[2]) << 8 | uint32_t(p[3]);
}

inline uint16_t BeU16(const uint8_t* p)
{
    return uint16_t(p[0] << 8 | p[1]);
}

// The scrambling written from its description: key = size x K1 - K2, then
// XOR word by word from offset 64 with the key falling by K3.
inline std::vector<uint8_t> Unscramble(std::vector<uint8_t> blob, uint32_t k1, uint32_t k2, uint32_t k3)
{
    const uint32_t size = uint32_t(blob.size());
    uint32_t key = uint32_t(uint64_t(size) * k1 % 0x100000000ull) - k2;
    for (size_t at = 64; at + 4 <= blob.size(); at += 4) {
        const uint32_t w = LeU32(&blob[at]) ^ key;
        blob[at] = uint8_t(w);
        blob[at + 1] = uint8_t(w >> 8);
        blob[at + 2] = uint8_t(w >> 16);
        blob[at + 3] = uint8_t(w >> 24);
        key -= k3;
    }
    return blob;
}

struct BlobEntry {
    uint32_t code = 0;
    uint32_t offset = 0;
    uint32_t size = 0;
    std::vector<uint8_t> value;
};

struct ParsedBlob {
    bool ok = false;
    std::string error;
    uint32_t size = 0;
    uint32_t scrambled = 0;
    std::vector<BlobEntry> entries;

    const BlobEntry* Find(uint32_t code) const
    {
        for (const BlobEntry& e : entries) {
            if (e.code == code)
                return &e;
        }
        return nullptr;
    }
    std::string Text(uint32_t code) const
    {
        const BlobEntry* e = Find(code);
        if (!e)
            return "<absent>";
        std::string s(e->value.begin(), e->value.end());
        return s.substr(0, s.find('\0'));
    }
};

// Parses a plain (already unscrambled) blob and checks its structure.
inline ParsedBlob ParseBlob(const std::vector<uint8_t>& b)
{
    ParsedBlob out;
    if (b.size() < 68) {
        out.error = "shorter than 68 bytes";
        return out;
    }
    if (LeU32(&b[0]) != 0x76657231) {
        out.error = "bad magic";
        return out;
    }
    out.size = LeU32(&b[4]);
    out.scrambled = LeU32(&b[8]);
    if (out.size != b.size()) {
        out.error = "size word differs from the blob's size";
        return out;
    }
    const uint32_t n = LeU32(&b[64]);
    if (68 + uint64_t(12) * n > b.size()) {
        out.error = "entries past the end";
        return out;
    }
    uint64_t expected = 68 + uint64_t(12) * n;
    for (uint32_t i = 0; i < n; ++i) {
        const uint8_t* e = &b[68 + 12 * i];
        BlobEntry entry;
        entry.code = LeU32(e);
        entry.offset = LeU32(e + 4);
        entry.size = LeU32(e + 8);
        if (entry.offset != expected || entry.offset + uint64_t(entry.size) > b.size()) {
            out.error = "value offset out of sequence";
            return out;
        }
        expected += entry.size;
        entry.value.assign(b.begin() + entry.offset, b.begin() + entry.offset + entry.size);
        out.entries.push_back(entry);
    }
    if (expected != b.size()) {
        out.error = "values do not end at the blob's end";
        return out;
    }
    out.ok = true;
    return out;
}

// Runs a command and returns its standard output, or "" with ok false.
inline std::string RunCommand(const std::string& command, bool& ok)
{
    std::string out;
    FILE* pipe = popen(command.c_str(), "r");
    ok = false;
    if (!pipe)
        return out;
    std::array<char, 4096> buffer{};
    size_t n = 0;
    while ((n = fread(buffer.data(), 1, buffer.size(), pipe)) > 0)
        out.append(buffer.data(), n);
    ok = pclose(pipe) == 0;
    return out;
}

inline bool HaveTool(const std::string& name)
{
    bool ok = false;
    RunCommand("command -v " + name + " >/dev/null 2>&1", ok);
    return ok;
}

inline std::string ShellQuote(const std::string& s)
{
    std::string q = "'";
    for (char c : s) {
        if (c == '\'')
            q += "'\\''";
        else
            q += c;
    }
    return q + "'";
}

} // namespace tifftest
