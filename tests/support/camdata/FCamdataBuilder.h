#pragma once

#include <cstdint>
#include <deque>
#include <optional>
#include <string>
#include <utility>
#include <vector>

// Writes camera-data containers ("BCMb" files, or bare runs of blocks) for tests, little-
// or big-endian, with every block kind, and with any header field replaced by a wrong
// value on purpose. Element data are aligned to 8 bytes from the start of the buffer.
// The 32-bit word whose little-endian bytes spell a four-character code.
constexpr uint32_t CamdataCode(const char (&s)[5])
{
    return static_cast<uint32_t>(static_cast<uint8_t>(s[0])) |
           static_cast<uint32_t>(static_cast<uint8_t>(s[1])) << 8 |
           static_cast<uint32_t>(static_cast<uint8_t>(s[2])) << 16 |
           static_cast<uint32_t>(static_cast<uint8_t>(s[3])) << 24;
}

class FCamdataBuilder
{
public:
    static constexpr uint32_t kCodeFile = CamdataCode("BCMb");
    static constexpr uint32_t kCodeSection = CamdataCode("CMbH");
    static constexpr uint32_t kCodePropList = CamdataCode("CMbP");
    static constexpr uint32_t kCodeMatrix = CamdataCode("CMbM");
    static constexpr uint32_t kCodeT = CamdataCode("CMbT");
    static constexpr uint32_t kCodeB = CamdataCode("CMbB");

    // One block. The optional fields replace what the builder would write.
    struct Block {
        uint32_t code = 0;
        uint32_t version = 0;
        std::string name;

        std::vector<std::pair<std::string, std::string>> props; // CMbP
        int32_t type = 0;                                       // CMbM
        std::vector<uint32_t> dims;                             // CMbM
        std::vector<uint8_t> elements;                          // CMbM, little-endian
        std::vector<uint8_t> opaque;                            // other codes, written as is

        std::optional<uint32_t> size;
        std::optional<uint32_t> nameOffset;
        std::optional<uint32_t> dataOffset;
        std::optional<uint32_t> propCount;
        std::optional<uint32_t> stringAreaOffset;
        std::optional<uint32_t> dimCount;
        std::optional<uint32_t> elementOffset;
        // Extra zero bytes at the end of the block (room for offsets that point there).
        uint32_t padding = 0;
        // Bytes that end the block, after its alignment padding (with a length that is a
        // multiple of 8 nothing follows them).
        std::vector<uint8_t> tail;
    };

    struct Section {
        std::deque<Block> blocks;
        std::optional<uint32_t> code;
        std::optional<uint32_t> version;
        std::optional<uint32_t> size;
        std::optional<uint32_t> firstBlockOffset;
    };

    struct Options {
        bool bigEndian = false;
        bool bare = false; // blocks of the first section only, no header and no sections
        std::optional<uint32_t> magic;
        uint32_t version = 0x00020000;
        std::optional<uint32_t> firstSectionOffset;
        std::vector<uint8_t> trailing; // appended after the last section
    };

    // Where a block landed in the last buffer built.
    struct Placement {
        std::string name;
        uint32_t code = 0;
        size_t offset = 0;
        size_t size = 0;
        size_t dataOffset = 0; // from the buffer start
    };

    FCamdataBuilder();

    Options& GetOptions() { return m_options; }
    // Blocks are added to the current section; this starts a new one.
    Section& NewSection();
    Section& CurrentSection() { return m_sections.back(); }

    Block& AddPropertyList(const std::string& name, std::vector<std::pair<std::string, std::string>> props);
    // `elements` are little-endian bytes of `type`.
    Block& AddMatrix(const std::string& name, int32_t type, std::vector<uint32_t> dims,
                     std::vector<uint8_t> elements);
    Block& AddOpaque(uint32_t code, const std::string& name, std::vector<uint8_t> data);

    Block& AddInt16s(const std::string& name, std::vector<uint32_t> dims, const std::vector<int16_t>& v);
    Block& AddInt32s(const std::string& name, std::vector<uint32_t> dims, const std::vector<int32_t>& v);
    Block& AddUInt32s(const std::string& name, std::vector<uint32_t> dims, const std::vector<uint32_t>& v);
    Block& AddFloats(const std::string& name, std::vector<uint32_t> dims, const std::vector<float>& v);
    Block& AddInt64s(const std::string& name, std::vector<uint32_t> dims, const std::vector<int64_t>& v);
    Block& AddUInt8s(const std::string& name, std::vector<uint32_t> dims, const std::vector<uint8_t>& v);
    Block& AddUInt16s(const std::string& name, std::vector<uint32_t> dims, const std::vector<uint16_t>& v);

    // Scalars of shape [1] and triples of shape [3].
    Block& AddFloat(const std::string& name, float v) { return AddFloats(name, {1}, {v}); }
    Block& AddInt32(const std::string& name, int32_t v) { return AddInt32s(name, {1}, {v}); }
    Block& AddUInt32(const std::string& name, uint32_t v) { return AddUInt32s(name, {1}, {v}); }
    Block& AddUInt16(const std::string& name, uint16_t v) { return AddUInt16s(name, {1}, {v}); }
    Block& AddFloatRGB(const std::string& name, float r, float g, float b)
    {
        return AddFloats(name, {3}, {r, g, b});
    }
    // An int32 [4] rectangle with inclusive right and bottom, as the camera stores it.
    Block& AddRect(const std::string& name, int32_t left, int32_t top, int32_t right, int32_t bottom)
    {
        return AddInt32s(name, {4}, {left, top, right, bottom});
    }

    std::vector<uint8_t> Build();
    const std::vector<Placement>& GetPlacements() const { return m_placements; }

private:
    void WriteBlock(std::vector<uint8_t>& out, const Block& b);

    std::deque<Section> m_sections;
    Options m_options;
    std::vector<Placement> m_placements;
};

// A calibration whose values develop a synthetic capture of width x height into a
// sensible image: an identity 4096-entry linearisation, the camera taken as linear sRGB
// (so a neutral grey stays neutral), unit spatial gain, shields, bad pixels, noise-filter
// and white-balance settings.
void AddPlausibleCalibration(FCamdataBuilder& builder, int width, int height);

// A ready "BCMb" buffer holding AddPlausibleCalibration.
std::vector<uint8_t> BuildPlausibleCamdata(int width, int height, bool bigEndian = false);
