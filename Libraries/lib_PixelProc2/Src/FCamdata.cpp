#include "FCamdata.h"
#include "FByteOrder.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <utility>

#include "FDebugTrace.h"
#include "FException.h"
#include "FPropList.h"

namespace
{

// A four-character code is the 32-bit word whose little-endian bytes spell it.
constexpr uint32_t FourCC(const char (&s)[5])
{
    return static_cast<uint32_t>(static_cast<uint8_t>(s[0])) |
           static_cast<uint32_t>(static_cast<uint8_t>(s[1])) << 8 |
           static_cast<uint32_t>(static_cast<uint8_t>(s[2])) << 16 |
           static_cast<uint32_t>(static_cast<uint8_t>(s[3])) << 24;
}

constexpr uint32_t kCodeFile = FourCC("BCMb");
constexpr uint32_t kCodeSection = FourCC("CMbH");
constexpr uint32_t kCodePropList = FourCC("CMbP");
constexpr uint32_t kCodeMatrix = FourCC("CMbM");
constexpr uint32_t kCodeT = FourCC("CMbT");
constexpr uint32_t kCodeB = FourCC("CMbB");

constexpr size_t kFileHeaderSize = 28;
constexpr size_t kSectionHeaderSize = 20;
constexpr uint32_t kBlockHeaderSize = 20;
constexpr int32_t kElementTypeCount = 7;

// Block header words.
constexpr size_t kBlockSizeAt = 8;
constexpr size_t kBlockNameAt = 12;
constexpr size_t kBlockDataAt = 16;

void Swap32InPlace(uint8_t* p)
{
    std::swap(p[0], p[3]);
    std::swap(p[1], p[2]);
}

void SwapWordsInPlace(uint8_t* p, size_t words)
{
    for (size_t i = 0; i < words; ++i)
        Swap32InPlace(p + 4 * i);
}

uint32_t Major(uint32_t version)
{
    return version >> 16;
}

bool IsBlockCode(uint32_t code)
{
    return code == kCodeB || code == kCodeMatrix || code == kCodePropList || code == kCodeT;
}

// Bytes per element of a known type; 0 for types nobody can size.
uint32_t ElementSize(int32_t type)
{
    switch (type) {
    case kCamdataInt16:
    case kCamdataUInt16:
        return 2;
    case kCamdataInt32:
    case kCamdataUInt32:
    case kCamdataFloat:
        return 4;
    case kCamdata64Bit:
        return 8;
    case kCamdataUInt8:
        return 1;
    }
    return 0;
}

// A NUL-terminated string starting at `offset` and ending inside [0, end).
bool IsStringInside(const uint8_t* base, uint64_t offset, uint64_t end)
{
    if (offset >= end)
        return false;
    return std::memchr(base + offset, 0, static_cast<size_t>(end - offset)) != nullptr;
}

char AsciiLower(char c)
{
    return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
}

// Case-insensitive for A to Z only.
bool NamesEqual(const char* a, const char* b)
{
    for (; *a && *b; ++a, ++b)
        if (AsciiLower(*a) != AsciiLower(*b))
            return false;
    return *a == *b;
}

[[noreturn]] void ThrowAt(const char* format, const char* file, int line)
{
    char text[512];
    std::snprintf(text, sizeof(text), format, file, line);
    throw FException(text);
}

} // namespace

struct FCamdataBlock {
    const char* m_pName = nullptr;
    uint8_t* m_pHeader = nullptr;
    std::unique_ptr<FCamdataMatrix> m_pMatrix;
    bool m_bPropListValid = false;

    uint32_t Code() const { return LoadLE32(m_pHeader); }
    uint32_t Version() const { return LoadLE32(m_pHeader + 4); }
};

class FCamdataImpl
{
public:
    FCamdataImpl(uint8_t* buffer, size_t size);

    uint32_t CountBlocks(const uint8_t* area, size_t length) const;
    uint32_t ParseBlocks(uint8_t* area, size_t length, FCamdataBlock* entries, uint32_t capacity);

    const FCamdataBlock* Find(const char* name) const;

    std::vector<FCamdataBlock> m_blocks; // the block table
    uint32_t m_uFilled = 0;              // entries that were entered
    bool m_bSwap = false;

private:
    struct Area {
        uint8_t* start;
        size_t length;
    };

    uint32_t Word(const uint8_t* p) const { return m_bSwap ? LoadBE32(p) : LoadLE32(p); }
    void ParseFile(uint8_t* buffer, size_t size);
    void ParseAreas(const std::vector<Area>& areas, uint64_t count);
    bool ParsePropertyList(uint8_t* block, uint32_t size);
    bool ParseMatrix(uint8_t* block, uint32_t size, FCamdataBlock& entry);
};

FCamdataImpl::FCamdataImpl(uint8_t* buffer, size_t size)
{
    if (buffer == nullptr || size == 0)
        throw FException("FCamdata: initialized with NULL pointer or empty buffer.");
    if (size < 4)
        throw FException("FCamdata: insufficient data for CAMb data.\n");

    uint32_t first = LoadLE32(buffer);
    if (first != kCodeFile && !IsBlockCode(first)) {
        m_bSwap = true;
        first = LoadBE32(buffer);
        if (first != kCodeFile && !IsBlockCode(first))
            throw FException("FCamdata: cam data is not CAMb file or CAMb data blocks.");
    }

    if (first == kCodeFile) {
        ParseFile(buffer, size);
        return;
    }
    ParseAreas({{buffer, size}}, CountBlocks(buffer, size));
}

void FCamdataImpl::ParseFile(uint8_t* buffer, size_t size)
{
    if (size < kFileHeaderSize)
        throw FException("FCamdata: Insufficient data for header.\n");
    if (m_bSwap)
        SwapWordsInPlace(buffer, 7);
    if (LoadLE32(buffer) != kCodeFile)
        throw FException("FCamdata: Wrong file type.\n");
    if (Major(LoadLE32(buffer + 4)) != 2)
        throw FException("FCamdata: Incompatible version.\n");

    const uint32_t firstSection = LoadLE32(buffer + 8);
    if (firstSection > size)
        throw FException("FCamdata: Insufficient data for section header.\n");

    // The block areas are kept from the first pass: the second pass must not trust
    // headers that a block area could overlap.
    std::vector<Area> areas;
    uint64_t count = 0;
    size_t pos = firstSection;
    size_t remaining = size - firstSection;
    while (remaining != 0) {
        if (remaining < kSectionHeaderSize)
            throw FException("FCamdata: Insufficient data for section header.\n");
        uint8_t* section = buffer + pos;
        if (m_bSwap)
            SwapWordsInPlace(section, 5);
        if (LoadLE32(section) != kCodeSection)
            throw FException("FCamdata: Expected a data section.\n");
        if (Major(LoadLE32(section + 4)) != 1)
            throw FException("FCamdata: Incompatible data section version.\n");
        const uint32_t sectionSize = LoadLE32(section + 8);
        if (remaining < sectionSize)
            throw FException("FCamdata: Insufficient data for data section.\n");
        if (sectionSize < kSectionHeaderSize)
            throw FException("FCamdata: Invalid data section size.\n");
        const uint32_t firstBlock = LoadLE32(section + 16);
        if (firstBlock < sectionSize) {
            areas.push_back({section + firstBlock, sectionSize - firstBlock});
            count += CountBlocks(section + firstBlock, sectionSize - firstBlock);
        }
        pos += sectionSize;
        remaining -= sectionSize;
    }
    ParseAreas(areas, count);
}

void FCamdataImpl::ParseAreas(const std::vector<Area>& areas, uint64_t count)
{
    if (count == 0) {
        DebugTraceText("FCamdata: Parsed an empty camfile.\n");
        return;
    }
    m_blocks.resize(static_cast<size_t>(count));
    const uint32_t capacity = static_cast<uint32_t>(count);
    for (const Area& area : areas) {
        const uint32_t seen =
            ParseBlocks(area.start, area.length, m_blocks.data() + m_uFilled, capacity - m_uFilled);
        if (seen > capacity - m_uFilled) {
            DebugTraceText("FCamdata: Found more blocks when parsing than when counted!\n");
            m_uFilled = capacity;
            continue;
        }
        m_uFilled += seen;
    }
}

uint32_t FCamdataImpl::CountBlocks(const uint8_t* area, size_t length) const
{
    if (area == nullptr || length == 0)
        return 0;
    uint32_t count = 0;
    size_t remaining = length;
    while (true) {
        const uint32_t size = remaining < kBlockHeaderSize ? 0 : Word(area + kBlockSizeAt);
        if (size > remaining || size < kBlockHeaderSize) {
            DebugTraceText("FCamdataImpl::CountBlocks found block with invalid size.\n");
            return count;
        }
        ++count;
        area += size;
        remaining -= size;
        if (remaining == 0)
            return count;
    }
}

uint32_t FCamdataImpl::ParseBlocks(uint8_t* area, size_t length, FCamdataBlock* entries, uint32_t capacity)
{
    if (area == nullptr || length == 0)
        return 0;
    uint32_t i = 0;
    size_t remaining = length;
    while (true) {
        const uint32_t size = remaining < kBlockHeaderSize ? 0 : Word(area + kBlockSizeAt);
        if (size > remaining || size < kBlockHeaderSize) {
            DebugTraceText("FCamdataImpl::ParseBlocks found block with invalid size.\n");
            return i;
        }
        if (m_bSwap)
            SwapWordsInPlace(area, 5);
        if (i < capacity) {
            FCamdataBlock& entry = entries[i];
            entry.m_pHeader = area;
            const uint32_t nameOffset = LoadLE32(area + kBlockNameAt);
            if (IsStringInside(area, nameOffset, size))
                entry.m_pName = reinterpret_cast<const char*>(area + nameOffset);
            else
                DebugTraceText("FCamdataImpl::ParseBlocks found block name outside its block.\n");
            // A block that fails to parse stays in the table, unusable, and the walk goes on:
            // the blocks after it and those of later sections keep their own entries.
            const uint32_t code = LoadLE32(area);
            if (code == kCodePropList) {
                entry.m_bPropListValid = ParsePropertyList(area, size);
                if (!entry.m_bPropListValid)
                    std::fputs("CAMB: Error parsing property list.\r\n", stdout);
            } else if (code == kCodeMatrix) {
                entry.m_pMatrix.reset();
                if (!ParseMatrix(area, size, entry))
                    std::fputs("FCamdataImpl::ParseBlocks: Error parsing matrix.\r\n", stdout);
            }
        }
        ++i;
        area += size;
        remaining -= size;
        if (remaining == 0)
            return i;
    }
}

bool FCamdataImpl::ParsePropertyList(uint8_t* block, uint32_t size)
{
    if (Major(LoadLE32(block + 4)) != 1)
        return false;
    const uint64_t dataOffset = LoadLE32(block + kBlockDataAt);
    if (dataOffset + 8 > size)
        return false;
    uint8_t* data = block + dataOffset;
    const uint64_t count = Word(data);
    if (dataOffset + 8 + 8 * count > size)
        return false;
    if (m_bSwap)
        SwapWordsInPlace(data, 2 + 2 * static_cast<size_t>(count));

    const uint64_t strings = LoadLE32(data + 4);
    for (uint64_t k = 0; k < count; ++k) {
        const uint8_t* pair = data + 8 + 8 * k;
        if (!IsStringInside(block, strings + LoadLE32(pair), size) ||
            !IsStringInside(block, strings + LoadLE32(pair + 4), size))
            return false;
    }
    return true;
}

bool FCamdataImpl::ParseMatrix(uint8_t* block, uint32_t size, FCamdataBlock& entry)
{
    if (Major(LoadLE32(block + 4)) != 2)
        return false;
    const uint64_t dataOffset = LoadLE32(block + kBlockDataAt);
    if (dataOffset + 12 > size)
        return false;
    uint8_t* data = block + dataOffset;
    if (m_bSwap)
        SwapWordsInPlace(data, 3);
    const int32_t type = static_cast<int32_t>(LoadLE32(data));
    const uint32_t dimCount = LoadLE32(data + 4);
    const uint64_t elementOffset = LoadLE32(data + 8);

    if (dimCount == 0)
        ReportAssertion(__FILE__, __LINE__, "iDimCount", 0, 0);
    if (dataOffset + 12 + 12 * static_cast<uint64_t>(dimCount) > size)
        return false;
    if (type >= kElementTypeCount) {
        DebugTrace("%s Line %d: Found CAMb matrix of unrecognized type.\n", __FILE__, __LINE__);
        return false;
    }

    auto matrix = std::make_unique<FCamdataMatrix>();
    matrix->m_uDimCount = dimCount;
    matrix->m_iType = type;
    matrix->m_dimSizes.assign(dimCount, 0);

    // The product is capped just above what the block could hold, so it cannot overflow;
    // a zero dimension still makes it 0.
    uint64_t elements = 1;
    bool anyZero = false;
    for (uint32_t k = 0; k < dimCount; ++k) {
        uint8_t* descriptor = data + 12 + 12 * static_cast<size_t>(k);
        if (m_bSwap)
            SwapWordsInPlace(descriptor, 3);
        const uint32_t dim = LoadLE32(descriptor);
        matrix->m_dimSizes[k] = dim;
        anyZero = anyZero || dim == 0;
        elements = std::min<uint64_t>(elements * dim, uint64_t(size) + 1);
    }
    if (anyZero)
        elements = 0;

    const uint32_t elementSize = ElementSize(type);
    if (elementOffset > size || elements * elementSize > size - elementOffset) {
        DebugTraceText("FCamdataImpl: matrix elements outside their block.\n");
        return false;
    }
    uint8_t* elementData = block + elementOffset;
    if (elementSize > 1 && reinterpret_cast<uintptr_t>(elementData) % elementSize != 0) {
        // Valid data at an odd place: typed pointers need it aligned.
        const uint64_t bytes = elements * elementSize;
        matrix->m_alignedCopy.resize(static_cast<size_t>((bytes + 7) / 8));
        // An empty matrix has no copy to write into (its data pointer is null).
        if (bytes > 0)
            std::memcpy(matrix->m_alignedCopy.data(), elementData, static_cast<size_t>(bytes));
        elementData = reinterpret_cast<uint8_t*>(matrix->m_alignedCopy.data());
    }

    if (m_bSwap) {
        switch (type) {
        case kCamdataInt16:
        case kCamdataUInt16:
            for (uint64_t k = 0; k < elements; ++k)
                std::swap(elementData[2 * k], elementData[2 * k + 1]);
            break;
        case kCamdataInt32:
        case kCamdataUInt32:
        case kCamdataFloat:
            SwapWordsInPlace(elementData, static_cast<size_t>(elements));
            break;
        case kCamdataUInt8:
            break;
        case kCamdata64Bit:
            ThrowAt("%s Line %d: Don't know how to endian swap 64 bit types.", __FILE__, __LINE__);
        default:
            ThrowAt("%s Line %d: Unrecognized CAMb matrix type.  Cannot endian swap!", __FILE__, __LINE__);
        }
    }

    matrix->m_pData = elementData;
    matrix->m_uElementCount = elements;
    entry.m_pMatrix = std::move(matrix);
    return true;
}

const FCamdataBlock* FCamdataImpl::Find(const char* name) const
{
    if (name == nullptr)
        return nullptr;
    for (uint32_t i = 0; i < m_uFilled; ++i) {
        const FCamdataBlock& b = m_blocks[i];
        if (b.m_pName != nullptr && NamesEqual(b.m_pName, name))
            return &b;
    }
    return nullptr;
}

FCamdata::FCamdata(uint8_t* buffer, size_t size) : m_pImpl(std::make_unique<FCamdataImpl>(buffer, size)) {}

FCamdata::~FCamdata() = default;

bool FCamdata::GetPropertyList(const char* name, FPropList* list) const
{
    if (name == nullptr || list == nullptr)
        return false;
    const FCamdataBlock* b = m_pImpl->Find(name);
    if (b == nullptr || b->Code() != kCodePropList || Major(b->Version()) != 1 || !b->m_bPropListValid)
        return false;
    const uint8_t* block = b->m_pHeader;
    const uint8_t* data = block + LoadLE32(block + kBlockDataAt);
    const uint32_t count = LoadLE32(data);
    const char* strings = reinterpret_cast<const char*>(block) + LoadLE32(data + 4);
    for (uint32_t k = 0; k < count; ++k) {
        const uint8_t* pair = data + 8 + 8 * static_cast<size_t>(k);
        list->AddProp(strings + LoadLE32(pair), strings + LoadLE32(pair + 4));
    }
    return true;
}

const FCamdataMatrix* FCamdata::GetMatrix(const char* name, int32_t type, uint32_t dimCount,
                                          const uint32_t* dimSizes) const
{
    const FCamdataBlock* b = m_pImpl->Find(name);
    if (b == nullptr || !b->m_pMatrix)
        return nullptr;
    const FCamdataMatrix& m = *b->m_pMatrix;
    if (m.m_iType != type)
        return nullptr;
    if (dimCount != 0 && dimCount != m.m_uDimCount)
        return nullptr;
    if (dimSizes != nullptr)
        for (uint32_t k = 0; k < m.m_uDimCount; ++k)
            if (m.m_dimSizes[k] != dimSizes[k])
                return nullptr;
    return &m;
}

bool FCamdata::HasBlock(const char* name) const
{
    return m_pImpl->Find(name) != nullptr;
}

uint32_t FCamdata::GetBlockCount() const
{
    return m_pImpl->m_uFilled;
}

bool FCamdata::WasSwapped() const
{
    return m_pImpl->m_bSwap;
}
