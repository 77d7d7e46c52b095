#pragma once

// Builds raw container files byte by byte, for tests and fuzz seeds. Every field
// can be overridden and the built bytes patched, so malformed files come from the
// same builder as valid ones.
//
//     rawtest::BribFileBuilder file;                 // 2.2 header, 2.x top directory
//     file.GetHeader().columns = 64;
//     file.Top().AddProperties({{"ISO", "100"}});
//     rawtest::Bytes bytes = file.Build();
//
// Size words of heads and entries (header size, head size, entry size) are
// written and the bytes padded to them, up to 1 MiB; absurd sizes are patched
// into the built bytes (PatchU32 at placedOffset + the field's offset).
//
// Layout: the header, then for each directory its sections and nested
// directories (depth first) followed by the directory itself; the top directory
// comes last, then the trailer.

#include "ByteWriter.h"

#include <array>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace rawtest
{

constexpr uint32_t kVersion10 = 0x00302E31; // "1.0"
constexpr uint32_t kVersion20 = 0x00020000;
constexpr uint32_t kVersion21 = 0x00020001;
constexpr uint32_t kVersion22 = 0x00020002;
constexpr uint32_t kVersion30 = 0x00030000;
constexpr uint32_t kVersion35 = 0x00030005;

inline bool IsV3(uint32_t version)
{
    return (version >> 16) == 3;
}

struct BribHeader {
    uint32_t magic = FourCC("BRIb");
    uint32_t version = kVersion22;
    uint32_t headerSize = 240; // version 3 only: the word, and the bytes written (at least 240)
    uint32_t reserved = 0;     // version 3 only
    std::array<uint8_t, 16> uniqueId{};
    uint32_t markBits = 0;
    uint32_t columns = 0;
    uint32_t rows = 0;
    uint32_t rotation = 0;
    std::array<uint8_t, 32> label{}; // raw bytes, so a label without a zero can be built
    std::array<uint8_t, 32> extTypes{};
    std::array<uint32_t, 32> extValues{};

    // Copies the text (at most 32 bytes); the rest of the field is zero.
    void SetLabel(const std::string& text);
    void SetExtData(int slot, uint8_t type, float value);
    // 232 bytes for "1.0" and 2.x (and any other non-3 version), else headerSize bytes.
    Bytes Encode() const;
};

struct PropertySection {
    uint32_t magic = FourCC("SECp");
    uint32_t version = kVersion22;                          // "1.0" gives the start/length layout
    std::vector<std::pair<std::string, std::string>> pairs; // UTF-8
    uint32_t charType = 0;
    uint32_t encryption = 0;
    std::optional<uint32_t> count;     // the count word; the table still holds every pair
    std::optional<uint32_t> poolUnits; // the pool-size word; the pool still holds every string
    bool terminateLast = true;         // 2.x: false drops the zero after the last string

    Bytes Encode() const;
};

struct CamfileSection {
    uint32_t magic = FourCC("SECc");
    uint32_t version = kVersion22;
    uint32_t kind = 1;
    uint32_t headSize = 24; // version 3 only: the word, and the head bytes written (at least 24)
    std::array<uint32_t, 2> unused{};
    // Kind 2: the plain data; it is scrambled behind a 12-byte head when encoded.
    Bytes payload;
    uint32_t seed = 0x9E3779B9;
    uint32_t scrambledMagic = FourCC("BCEb");
    uint32_t scrambledVersion = 0x00010000;

    Bytes Encode() const;
};

// One image section. The pixel encoders of each format produce one of these:
// the head fields and the payload bytes, which the builder stores as they are.
struct ImageSection {
    uint32_t magic = FourCC("SECi");
    uint32_t version = kVersion22;
    uint32_t headSize = 36; // version 3 only: the word, and the head bytes written (at least 36)
    uint32_t imageType = 1;
    uint32_t pixelFormat = 0;
    uint32_t columns = 0;
    uint32_t rows = 0;
    uint32_t rowSize = 0;
    uint32_t reserved = 0; // version 3 only
    Bytes payload;

    Bytes Encode() const;
};

class BribDirectory;

// One directory entry. Offset, length and (version 3) entry size can be overridden.
struct BribEntry {
    uint32_t type = 0;
    std::optional<uint64_t> offset;
    std::optional<uint32_t> length;
    uint32_t entrySize = 20; // version-3 directories: the word, and the bytes written (at least 20)

    // What the entry points at: section bytes, or a directory.
    Bytes section;
    BribDirectory* directory = nullptr;
    // Filled by Build.
    uint64_t placedOffset = 0;
};

class BribDirectory
{
public:
    explicit BribDirectory(uint32_t version) : version(version) {}

    uint32_t magic = FourCC("SECd");
    uint32_t version;
    uint32_t headSize = 16;        // version 3 only: the word, and the head bytes written (at least 16)
    std::optional<uint32_t> count; // the count word; every entry is still written

    BribEntry& AddProperties(const PropertySection& section);
    BribEntry& AddProperties(std::vector<std::pair<std::string, std::string>> pairs,
                             uint32_t version = kVersion22);
    BribEntry& AddCamfile(const CamfileSection& section);
    BribEntry& AddCamfile(uint32_t kind, Bytes payload, uint32_t version = kVersion22);
    // "IMAG", or "IMA2" when second is true.
    BribEntry& AddImage(const ImageSection& section, bool second = false);
    // Any bytes under any type (unknown types, or a section made by hand).
    BribEntry& AddSection(std::string_view type, Bytes bytes);
    // A new directory reached by a "DIRP" entry of this one.
    BribDirectory& AddDirectory(uint32_t version = kVersion22);
    // A "DIRP" entry to a directory that exists elsewhere (shared, or a cycle).
    BribEntry& AddLink(BribDirectory& target);

    const std::vector<std::unique_ptr<BribEntry>>& Entries() const { return m_entries; }
    BribEntry& Entry(size_t index) { return *m_entries.at(index); }
    // Filled by Build.
    uint64_t placedOffset = 0;

private:
    friend class BribFileBuilder;

    std::vector<std::unique_ptr<BribEntry>> m_entries;
    std::vector<std::unique_ptr<BribDirectory>> m_children;
};

class BribFileBuilder
{
public:
    // The top directory takes the header's layout: version 3 for a 3.x header, else 2.2.
    explicit BribFileBuilder(uint32_t version = kVersion22);

    BribHeader& GetHeader() { return m_header; }
    BribDirectory& Top() { return *m_top; }

    // Zero bytes between placed blocks.
    size_t gap = 0;
    // Offset in the trailer; by default the top directory's.
    std::optional<uint64_t> trailerOffset;
    // 4 or 8 bytes; by default by the header's version (8 for 3.x).
    std::optional<int> trailerSize;
    bool writeTrailer = true;

    Bytes Build();

private:
    struct Placed {
        uint64_t offset;
        BribEntry* section;
        BribDirectory* directory;
    };
    void priPlace(BribDirectory& directory, uint64_t& position, std::vector<Placed>& placed);
    static Bytes priEncodeDirectory(const BribDirectory& directory);

    BribHeader m_header;
    std::unique_ptr<BribDirectory> m_top;
};

// A small valid file: a 2.2 header of 64 x 48 with a label and one slot, a top
// directory holding a nested directory with a property section, a camera-data
// section of kind 1 and one image section of format 3.
Bytes SmallValidFile(uint32_t version = kVersion22);

// The scrambling of kind-2 camera data, written here independently of the reader.
void Scramble(Bytes& bytes, uint32_t seed);

} // namespace rawtest
