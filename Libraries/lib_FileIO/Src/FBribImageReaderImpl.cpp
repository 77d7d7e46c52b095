#include "FBribImageReaderImpl.h"
#include "FBribImageWriter.h"
#include "FByteOrder.h"

#include "BribFormat.h"
#include "FException.h"
#include "FNarrowString.h"
#include "FPixmap.h"
#include "FPropList.h"
#include "StorageClassRegistry.h"

#include <algorithm>
#include <climits>
#include <cstring>

namespace
{

constexpr uint32_t kDirectoryHeadV2 = 12;
constexpr uint32_t kDirectoryHeadV3 = 16;
constexpr uint32_t kDirectoryEntryV2 = 12;
constexpr uint32_t kDirectoryEntryV3 = 20;
constexpr uint32_t kPropertyHead = 24;
constexpr uint32_t kCamfileHeadV2 = 16;
constexpr uint32_t kCamfileHeadV3 = 24;
constexpr uint32_t kImageHeadV2 = 28;
constexpr uint32_t kImageHeadV3 = 36;

FWideString MakeString(const char16_t* first, size_t count)
{
    FWideString text;
    if (count > 0)
        text.Assign(first, first + count - 1);
    return text;
}

// A v2 pool string ends at its zero or, lacking one, at the end of the pool.
size_t TerminatedLength(const std::vector<char16_t>& pool, size_t start)
{
    size_t end = start;
    while (end < pool.size() && pool[end] != 0)
        ++end;
    return end - start;
}

} // namespace

FBribImageReaderImpl::FBribImageReaderImpl(const char16_t* url) : m_url(url ? url : u"")
{
    // A field update interrupted earlier is rolled back before anything is read.
    RecoverBribHeaderUpdate(m_url);
    m_pFile = OpenFileURL(m_url, kFileRead);
    if (!m_pFile)
        throw FExceptionFileNotFound(m_url.GetNarrow());
    try {
        priReadHeader();
    } catch (...) {
        m_pFile->Release();
        m_pFile = nullptr;
        throw;
    }
}

FBribImageReaderImpl::~FBribImageReaderImpl()
{
    if (m_pFile)
        m_pFile->Release();
}

uint32_t FBribImageReaderImpl::GetHeaderWord(int offset) const
{
    return LoadLE32(m_header + offset);
}

void FBribImageReaderImpl::priSeek(uint64_t offset)
{
    // Reads from there could only fail; an offset far past the end must not reach the storage class.
    if (offset > m_uiFileSize)
        throw FExceptionEOF();
    m_pFile->Seek(offset);
}

void FBribImageReaderImpl::priRead(void* buffer, uint64_t size)
{
    auto* p = static_cast<uint8_t*>(buffer);
    while (size > 0) {
        const int chunk = int(std::min<uint64_t>(size, INT_MAX));
        m_pFile->Read(p, chunk);
        p += chunk;
        size -= uint64_t(chunk);
    }
}

void FBribImageReaderImpl::priReadHeader()
{
    m_uiFileSize = m_pFile->GetSize();
    uint8_t start[8];
    priSeek(0);
    priRead(start, sizeof start);
    priSeek(0);
    if (LoadLE32(start) != kBribMagic)
        throw FExceptionNotABrib(m_url.GetNarrow());
    const uint32_t version = LoadLE32(start + 4);
    if (!BribIsKnownVersion(version))
        throw FExceptionBribIncompatible(m_url.GetNarrow());

    if (BribIsVersion3(version)) {
        // A larger header-size word is accepted; the fields are in the first 240 bytes.
        priRead(m_header, kBribHeaderSizeV3);
    } else {
        uint8_t raw[kBribHeaderSizeV2];
        priRead(raw, sizeof raw);
        std::memcpy(m_header, raw, 8);
        StoreLE32(m_header + kBribV3HeaderSizeOffset, kBribHeaderSizeV2);
        StoreLE32(m_header + kBribV3ReservedOffset, 0);
        std::memcpy(m_header + kBribV3UniqueIdOffset, raw + 8, 16);
        std::memcpy(m_header + kBribV3MarkBitsOffset, raw + kBribV2MarkBitsOffset, 16);
        std::memcpy(m_header + kBribV3ExtTypesOffset, raw + kBribV2ExtTypesOffset, kBribExtDataSlots);
        std::memcpy(m_header + kBribV3ExtValuesOffset, raw + kBribV2ExtValuesOffset, 4 * kBribExtDataSlots);
        // The label is taken as text: nothing after its zero, nothing past its 32 bytes.
        const uint8_t* label = raw + kBribV2LabelOffset;
        for (int i = 0; i < kBribLabelSize && label[i] != 0; ++i)
            m_header[kBribV3LabelOffset + i] = label[i];
    }
    for (int i = 0; i < kBribLabelSize && m_header[kBribV3LabelOffset + i] != 0; ++i)
        m_label[i] = char(m_header[kBribV3LabelOffset + i]);
}

uint64_t FBribImageReaderImpl::priReadTrailer()
{
    const bool v3 = BribIsVersion3(GetVersion());
    const uint64_t size = v3 ? 8 : 4;
    if (m_uiFileSize < size)
        throw FExceptionEOF();
    uint8_t trailer[8];
    priSeek(m_uiFileSize - size);
    priRead(trailer, size);
    if (!v3)
        return LoadLE32(trailer);
    return uint64_t(LoadLE32(trailer)) << 32 | LoadLE32(trailer + 4);
}

void FBribImageReaderImpl::priReadDirectory(uint64_t offset)
{
    std::vector<uint64_t> path;
    if (offset != 0) {
        priReadDirectoryAt(offset, 0, path);
        return;
    }
    if (m_bDirectoryRead) {
        if (m_directoryError)
            std::rethrow_exception(m_directoryError);
        return;
    }
    m_bDirectoryRead = true;
    try {
        priReadDirectoryAt(priReadTrailer(), 0, path);
    } catch (...) {
        m_directoryError = std::current_exception();
        throw;
    }
}

void FBribImageReaderImpl::priReadDirectoryAt(uint64_t offset, int depth, std::vector<uint64_t>& path)
{
    if (depth > kMaxBribDirectoryDepth)
        throw FExceptionBribReader("Directory sections are nested too deeply.");
    if (std::find(path.begin(), path.end(), offset) != path.end())
        throw FExceptionBribReader("A directory section leads back to itself.");

    uint8_t head[kDirectoryHeadV3];
    priSeek(offset);
    priRead(head, 8);
    priSeek(offset);
    if (LoadLE32(head) != kBribDirectoryMagic)
        throw FExceptionBribReader("Expected a directory section but got something else.");
    const uint32_t version = LoadLE32(head + 4);
    if (!BribIsKnownVersion(version))
        throw FExceptionBribIncompatible("Directory section version");

    std::vector<BribSectionEntry> entries;
    if (BribIsVersion3(version)) {
        priRead(head, kDirectoryHeadV3);
        const uint32_t headSize = LoadLE32(head + 8);
        const uint32_t count = LoadLE32(head + 12);
        if (headSize < kDirectoryHeadV3)
            throw FExceptionBribReader("Directory head size is too small.");
        uint64_t position = offset + headSize;
        if (position > m_uiFileSize || count > (m_uiFileSize - position) / kDirectoryEntryV3)
            throw FExceptionBribReader("Directory entries run past the end of the file.");
        if (count > kMaxBribDirectoryEntries - m_uiEntriesRead)
            throw FExceptionBribReader("Too many directory entries.");
        m_uiEntriesRead += count;
        entries.reserve(count);
        for (uint32_t i = 0; i < count; ++i) {
            uint8_t raw[kDirectoryEntryV3];
            priSeek(position);
            priRead(raw, sizeof raw);
            const uint32_t entrySize = LoadLE32(raw);
            if (entrySize < kDirectoryEntryV3)
                throw FExceptionBribReader("Directory entry size is too small.");
            entries.push_back({entrySize, uint64_t(LoadLE32(raw + 4)) << 32 | LoadLE32(raw + 8),
                               LoadLE32(raw + 12), LoadLE32(raw + 16)});
            position += entrySize;
        }
    } else {
        priRead(head, kDirectoryHeadV2);
        const uint32_t count = LoadLE32(head + 8);
        const uint64_t position = offset + kDirectoryHeadV2;
        if (position > m_uiFileSize || count > (m_uiFileSize - position) / kDirectoryEntryV2)
            throw FExceptionBribReader("Directory entries run past the end of the file.");
        if (count > kMaxBribDirectoryEntries - m_uiEntriesRead)
            throw FExceptionBribReader("Too many directory entries.");
        m_uiEntriesRead += count;
        std::vector<uint8_t> raw(size_t(count) * kDirectoryEntryV2);
        priRead(raw.data(), raw.size());
        entries.reserve(count);
        for (uint32_t i = 0; i < count; ++i) {
            const uint8_t* e = raw.data() + size_t(i) * kDirectoryEntryV2;
            entries.push_back({kDirectoryEntryV2, LoadLE32(e), LoadLE32(e + 4), LoadLE32(e + 8)});
        }
    }

    path.push_back(offset);
    for (const BribSectionEntry& entry : entries) {
        if (entry.m_uiType == kBribTypeDirectory)
            priReadDirectoryAt(entry.m_uiOffset, depth + 1, path);
    }
    path.pop_back();
    for (const BribSectionEntry& entry : entries) {
        if (entry.m_uiType != kBribTypeDirectory)
            m_sections.push_back(entry);
    }
}

const std::vector<BribSectionEntry>& FBribImageReaderImpl::GetSections()
{
    priReadDirectory(0);
    return m_sections;
}

int FBribImageReaderImpl::FindSection(uint32_t type, int n)
{
    priReadDirectory(0);
    int count = 0;
    for (size_t i = 0; i < m_sections.size(); ++i) {
        if (m_sections[i].m_uiType != type)
            continue;
        if (count == n)
            return int(i);
        ++count;
    }
    throw FExceptionIndexOutOfRange(
        FNarrowString("FBribImageReaderImpl::FindSection type %d index %d", int32_t(type), n).GetCString());
}

int FBribImageReaderImpl::priCountSections(uint32_t type)
{
    priReadDirectory(0);
    return int(std::count_if(m_sections.begin(), m_sections.end(),
                             [type](const BribSectionEntry& e) { return e.m_uiType == type; }));
}

int FBribImageReaderImpl::FindImageSection(int n)
{
    const int first = priCountSections(kBribTypeImage);
    if (n < first)
        return FindSection(kBribTypeImage, n);
    return FindSection(kBribTypeImage2, n - first);
}

void FBribImageReaderImpl::priReadPropertySection(uint64_t offset, FPropList* list)
{
    uint8_t head[kPropertyHead];
    priSeek(offset);
    priRead(head, sizeof head);
    if (LoadLE32(head) != kBribPropertyMagic)
        throw FExceptionBribReader("Expected a property section but got something else.");
    const uint32_t version = LoadLE32(head + 4);
    if (!BribIsVersion2Layout(version))
        throw FExceptionBribIncompatible("Property list section version");
    if (LoadLE32(head + 12) != 0)
        throw FExceptionBribReader("Property list character type not unicode.");
    if (LoadLE32(head + 16) != 0)
        throw FExceptionBribReader("Encrypted properties are not currently handled.");

    const bool lengths = version == kBribVersion10;
    const uint64_t count = LoadLE32(head + 8);
    const uint64_t poolUnits = LoadLE32(head + 20);
    const uint64_t tableBytes = count * (lengths ? 12 : 8);
    const uint64_t available = m_uiFileSize - (offset + kPropertyHead);
    if (tableBytes > available || poolUnits * 2 > available - tableBytes)
        throw FExceptionBribReader("Property list runs past the end of the file.");

    std::vector<uint8_t> table(tableBytes);
    priRead(table.data(), table.size());
    std::vector<uint8_t> poolBytes(poolUnits * 2);
    priRead(poolBytes.data(), poolBytes.size());
    std::vector<char16_t> pool(poolUnits);
    for (size_t i = 0; i < pool.size(); ++i)
        pool[i] = char16_t(poolBytes[2 * i] | poolBytes[2 * i + 1] << 8);

    for (uint64_t i = 0; i < count; ++i) {
        size_t nameStart = 0, nameLength = 0, valueStart = 0, valueLength = 0;
        if (lengths) {
            const uint8_t* e = table.data() + i * 12;
            const uint64_t start = LoadLE32(e), nameUnits = LoadLE32(e + 4), valueUnits = LoadLE32(e + 8);
            if (start + nameUnits + valueUnits > poolUnits)
                throw FExceptionBribReader("Property entry lies outside the string pool.");
            nameStart = size_t(start);
            nameLength = size_t(nameUnits);
            valueStart = nameStart + nameLength;
            valueLength = size_t(valueUnits);
        } else {
            const uint8_t* e = table.data() + i * 8;
            nameStart = LoadLE32(e);
            valueStart = LoadLE32(e + 4);
            if (nameStart > poolUnits || valueStart > poolUnits)
                throw FExceptionBribReader("Property entry lies outside the string pool.");
            nameLength = TerminatedLength(pool, nameStart);
            valueLength = TerminatedLength(pool, valueStart);
        }
        if (!list)
            continue;
        list->AddProp(MakeString(pool.data() + nameStart, nameLength),
                      MakeString(pool.data() + valueStart, valueLength));
    }
}

void FBribImageReaderImpl::priCheckSectionBounds(const BribSectionEntry& entry, uint32_t headSize,
                                                 uint32_t fixedSize)
{
    if (headSize < fixedSize || headSize > entry.m_uiLength)
        throw FExceptionBribReader("Section head size does not fit its section.");
    if (entry.m_uiOffset > m_uiFileSize || entry.m_uiLength > m_uiFileSize - entry.m_uiOffset)
        throw FExceptionBribReader("Section runs past the end of the file.");
}

void FBribImageReaderImpl::priReadCamfileHead(int index, BribCamfileHead& head, uint32_t& payloadSize)
{
    const BribSectionEntry entry = GetSections().at(size_t(index));
    uint8_t raw[kCamfileHeadV3];
    priSeek(entry.m_uiOffset);
    priRead(raw, 8);
    priSeek(entry.m_uiOffset);
    if (LoadLE32(raw) != kBribCamfileMagic)
        throw FExceptionBribReader("Expected a cam file section but got something else.");
    const uint32_t version = LoadLE32(raw + 4);
    if (!BribIsKnownVersion(version))
        throw FExceptionBribIncompatible("Cam file section version");

    uint32_t fixedSize = kCamfileHeadV2;
    if (BribIsVersion3(version)) {
        fixedSize = kCamfileHeadV3;
        priRead(raw, kCamfileHeadV3);
        head = {LoadLE32(raw),
                version,
                LoadLE32(raw + 8),
                {LoadLE32(raw + 12), LoadLE32(raw + 16)},
                LoadLE32(raw + 20)};
    } else {
        priRead(raw, kCamfileHeadV2);
        head = {LoadLE32(raw), version, kCamfileHeadV2, {0, 0}, LoadLE32(raw + 8)};
    }
    priCheckSectionBounds(entry, head.m_uiHeadSize, fixedSize);
    priSeek(entry.m_uiOffset + head.m_uiHeadSize);
    payloadSize = entry.m_uiLength - head.m_uiHeadSize;
}

uint32_t FBribImageReaderImpl::priReadEncryptedCamfileHead()
{
    uint8_t raw[kBribEncryptedHeadSize];
    priRead(raw, sizeof raw);
    if (LoadLE32(raw) != kBribEncryptedCamfileMagic)
        throw FExceptionBribReader("Expected an encrypted CAMb section but got something else.");
    if ((LoadLE32(raw + 4) >> 16) != 1)
        throw FExceptionBribIncompatible("Encrypted CAMb file section version");
    return LoadLE32(raw + 8);
}

void FBribImageReaderImpl::priReadImageHead(int index, BribImageHead& head, uint32_t& payloadSize)
{
    const BribSectionEntry entry = GetSections().at(size_t(index));
    uint8_t raw[kImageHeadV3];
    priSeek(entry.m_uiOffset);
    priRead(raw, 8);
    priSeek(entry.m_uiOffset);
    if (LoadLE32(raw) != kBribImageMagic)
        throw FExceptionBribReader("Expected an image section but got something else.");
    const uint32_t version = LoadLE32(raw + 4);
    if (!BribIsKnownVersion(version))
        throw FExceptionBribIncompatible("Image section version");

    uint32_t fixedSize = kImageHeadV2;
    if (BribIsVersion3(version)) {
        fixedSize = kImageHeadV3;
        priRead(raw, kImageHeadV3);
        head = {LoadLE32(raw),           version,
                LoadLE32(raw + 8),       int(LoadLE32(raw + 12)),
                int(LoadLE32(raw + 16)), int(LoadLE32(raw + 20)),
                int(LoadLE32(raw + 24)), int(LoadLE32(raw + 28)),
                LoadLE32(raw + 32)};
    } else {
        priRead(raw, kImageHeadV2);
        head = {LoadLE32(raw),
                version,
                kImageHeadV2,
                int(LoadLE32(raw + 8)),
                int(LoadLE32(raw + 12)),
                int(LoadLE32(raw + 16)),
                int(LoadLE32(raw + 20)),
                int(LoadLE32(raw + 24)),
                0};
    }
    priCheckSectionBounds(entry, head.m_uiHeadSize, fixedSize);
    priSeek(entry.m_uiOffset + head.m_uiHeadSize);
    payloadSize = entry.m_uiLength - head.m_uiHeadSize;
}

int FBribImageReaderImpl::priGetPixmapType(int pixelFormat)
{
    switch (pixelFormat) {
    case 0:
    case 2:
    case 4:
    case 12:
    case 13:
    case 14:
    case 16:
    case 20:
    case 21:
    case 22:
    case 24:
    case 25:
    case 26:
    case 27:
    case 28:
        return FPixmap::PIXEL_48_RGB;
    case 1:
        return FPixmap::PIXEL_30_RGB;
    case 3:
    case 11:
    case 18:
        return FPixmap::PIXEL_24_RGB;
    case 5:
    case 6:
    case 29:
    case 30:
        return FPixmap::PIXEL_48S_RGB;
    case 8:
    case 9:
    case 17:
        return FPixmap::PIXEL_16_MONO;
    default:
        return 0;
    }
}

void FBribImageReaderImpl::priGetDeliveredDimensions(int pixelFormat, int cols, int rows, int dims[2])
{
    dims[0] = cols;
    dims[1] = rows;
    switch (pixelFormat) {
    case 14:
    case 16:
    case 17:
    case 25:
        dims[0] = 2 * cols;
        dims[1] = 2 * rows;
        return;
    case 20:
    case 22:
        dims[1] = 2 * rows;
        return;
    default:
        return;
    }
}
