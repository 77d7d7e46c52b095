#include "BribFileBuilder.h"

#include "BribFormat.h"

#include <bit>
#include <cstring>
#include <stdexcept>

namespace rawtest
{

namespace
{

void AppendUtf16(ByteWriter& out, const std::u16string& text)
{
    for (char16_t unit : text)
        out.U16(uint16_t(unit));
}

// Head and entry sizes larger than their fields are padded with zeros; a size
// meant to be absurd is patched into the built bytes instead.
constexpr uint32_t kMaxPadding = 1u << 20;

uint32_t Padded(uint32_t size, uint32_t fixed)
{
    if (size > kMaxPadding)
        throw std::invalid_argument("padding too large: patch the size word into the built bytes");
    return std::max(size, fixed);
}

uint64_t DirectorySize(const BribDirectory& directory)
{
    if (!IsV3(directory.version))
        return 12 + 12 * uint64_t(directory.Entries().size());
    uint64_t size = Padded(directory.headSize, 16);
    for (const auto& entry : directory.Entries())
        size += Padded(entry->entrySize, 20);
    return size;
}

} // namespace

void BribHeader::SetLabel(const std::string& text)
{
    label.fill(0);
    std::memcpy(label.data(), text.data(), std::min(text.size(), label.size()));
}

void BribHeader::SetExtData(int slot, uint8_t type, float value)
{
    extTypes.at(size_t(slot)) = type;
    extValues.at(size_t(slot)) = std::bit_cast<uint32_t>(value);
}

Bytes BribHeader::Encode() const
{
    ByteWriter out;
    out.U32(magic).U32(version);
    if (IsV3(version))
        out.U32(headerSize).U32(reserved);
    out.Append(uniqueId.data(), uniqueId.size());
    out.U32(markBits).U32(columns).U32(rows).U32(rotation);
    out.Append(label.data(), label.size());
    out.Append(extTypes.data(), extTypes.size());
    for (uint32_t v : extValues)
        out.U32(v);
    if (IsV3(version))
        out.Zeros(Padded(headerSize, uint32_t(out.Size())) - out.Size());
    return out.Take();
}

Bytes PropertySection::Encode() const
{
    const bool lengths = version == kVersion10;
    std::vector<std::u16string> names, values;
    for (const auto& [name, value] : pairs) {
        names.push_back(Utf16(name));
        values.push_back(Utf16(value));
    }
    ByteWriter table;
    ByteWriter pool;
    for (size_t i = 0; i < pairs.size(); ++i) {
        const uint32_t start = uint32_t(pool.Size() / 2);
        if (lengths) {
            table.U32(start).U32(uint32_t(names[i].size())).U32(uint32_t(values[i].size()));
            AppendUtf16(pool, names[i]);
            AppendUtf16(pool, values[i]);
            continue;
        }
        AppendUtf16(pool, names[i]);
        pool.U16(0);
        table.U32(start).U32(uint32_t(pool.Size() / 2));
        AppendUtf16(pool, values[i]);
        if (terminateLast || i + 1 < pairs.size())
            pool.U16(0);
    }
    ByteWriter out;
    out.U32(magic).U32(version).U32(count.value_or(uint32_t(pairs.size()))).U32(charType).U32(encryption);
    out.U32(poolUnits.value_or(uint32_t(pool.Size() / 2)));
    out.Append(table.Get()).Append(pool.Get());
    return out.Take();
}

Bytes CamfileSection::Encode() const
{
    ByteWriter out;
    out.U32(magic).U32(version);
    if (IsV3(version)) {
        out.U32(headSize).U32(unused[0]).U32(unused[1]).U32(kind);
        out.Zeros(Padded(headSize, uint32_t(out.Size())) - out.Size());
    } else {
        out.U32(kind).U32(unused[0]);
    }
    if (kind != 2)
        return out.Append(payload).Take();
    Bytes scrambled = payload;
    Scramble(scrambled, seed);
    out.U32(scrambledMagic).U32(scrambledVersion).U32(seed).Append(scrambled);
    return out.Take();
}

Bytes ImageSection::Encode() const
{
    ByteWriter out;
    out.U32(magic).U32(version);
    if (IsV3(version))
        out.U32(headSize);
    out.U32(imageType).U32(pixelFormat).U32(columns).U32(rows).U32(rowSize);
    if (IsV3(version)) {
        out.U32(reserved);
        out.Zeros(Padded(headSize, uint32_t(out.Size())) - out.Size());
    }
    return out.Append(payload).Take();
}

BribEntry& BribDirectory::AddSection(std::string_view type, Bytes bytes)
{
    auto entry = std::make_unique<BribEntry>();
    entry->type = FourCC(type);
    entry->section = std::move(bytes);
    m_entries.push_back(std::move(entry));
    return *m_entries.back();
}

BribEntry& BribDirectory::AddProperties(const PropertySection& section)
{
    return AddSection("PROP", section.Encode());
}

BribEntry& BribDirectory::AddProperties(std::vector<std::pair<std::string, std::string>> pairs,
                                        uint32_t version)
{
    PropertySection section;
    section.version = version;
    section.pairs = std::move(pairs);
    return AddProperties(section);
}

BribEntry& BribDirectory::AddCamfile(const CamfileSection& section)
{
    return AddSection("CAMF", section.Encode());
}

BribEntry& BribDirectory::AddCamfile(uint32_t kind, Bytes payload, uint32_t version)
{
    CamfileSection section;
    section.kind = kind;
    section.version = version;
    section.payload = std::move(payload);
    return AddCamfile(section);
}

BribEntry& BribDirectory::AddImage(const ImageSection& section, bool second)
{
    return AddSection(second ? "IMA2" : "IMAG", section.Encode());
}

BribDirectory& BribDirectory::AddDirectory(uint32_t version)
{
    m_children.push_back(std::make_unique<BribDirectory>(version));
    AddLink(*m_children.back());
    return *m_children.back();
}

BribEntry& BribDirectory::AddLink(BribDirectory& target)
{
    auto entry = std::make_unique<BribEntry>();
    entry->type = FourCC("DIRP");
    entry->directory = &target;
    m_entries.push_back(std::move(entry));
    return *m_entries.back();
}

BribFileBuilder::BribFileBuilder(uint32_t version)
    : m_top(std::make_unique<BribDirectory>(IsV3(version) ? kVersion30 : kVersion22))
{
    m_header.version = version;
}

void BribFileBuilder::priPlace(BribDirectory& directory, uint64_t& position, std::vector<Placed>& placed)
{
    for (const auto& entry : directory.m_entries) {
        if (entry->directory)
            continue;
        position += gap;
        entry->placedOffset = position;
        placed.push_back({position, entry.get(), nullptr});
        position += entry->section.size();
    }
    for (const auto& child : directory.m_children)
        priPlace(*child, position, placed);
    position += gap;
    directory.placedOffset = position;
    placed.push_back({position, nullptr, &directory});
    position += DirectorySize(directory);
}

Bytes BribFileBuilder::priEncodeDirectory(const BribDirectory& directory)
{
    ByteWriter out;
    const bool v3 = IsV3(directory.version);
    out.U32(directory.magic).U32(directory.version);
    if (v3)
        out.U32(directory.headSize);
    out.U32(directory.count.value_or(uint32_t(directory.Entries().size())));
    if (v3)
        out.Zeros(Padded(directory.headSize, uint32_t(out.Size())) - out.Size());
    for (const auto& entry : directory.Entries()) {
        const uint64_t target = entry->directory ? entry->directory->placedOffset : entry->placedOffset;
        const uint64_t offset = entry->offset.value_or(target);
        const uint32_t length = entry->length.value_or(
            entry->directory ? uint32_t(DirectorySize(*entry->directory)) : uint32_t(entry->section.size()));
        if (!v3) {
            out.U32(uint32_t(offset)).U32(length).U32(entry->type);
            continue;
        }
        const size_t start = out.Size();
        out.U32(entry->entrySize).HiLo(offset).U32(length).U32(entry->type);
        out.Zeros(Padded(entry->entrySize, uint32_t(out.Size() - start)) - (out.Size() - start));
    }
    return out.Take();
}

Bytes BribFileBuilder::Build()
{
    ByteWriter out;
    out.Append(m_header.Encode());
    uint64_t position = out.Size();
    std::vector<Placed> placed;
    priPlace(*m_top, position, placed);
    for (const Placed& p : placed) {
        out.Zeros(size_t(p.offset - out.Size()));
        out.Append(p.section ? p.section->section : priEncodeDirectory(*p.directory));
    }
    if (!writeTrailer)
        return out.Take();
    const uint64_t offset = trailerOffset.value_or(m_top->placedOffset);
    if (trailerSize.value_or(IsV3(m_header.version) ? 8 : 4) == 8)
        out.HiLo(offset);
    else
        out.U32(uint32_t(offset));
    return out.Take();
}

void Scramble(Bytes& bytes, uint32_t seed)
{
    const FBribKeystream& key = kBribCamfileKeystream;
    uint32_t state = seed;
    for (uint8_t& byte : bytes) {
        state = uint32_t(uint64_t(state) * key.m_uiMultiplier + key.m_uiIncrement) % key.m_uiModulus;
        byte ^= uint8_t(uint64_t(state) * 256 / key.m_uiDivisor);
    }
}

Bytes SmallValidFile(uint32_t version)
{
    BribFileBuilder file(version);
    BribHeader& header = file.GetHeader();
    header.columns = 64;
    header.rows = 48;
    for (size_t i = 0; i < header.uniqueId.size(); ++i)
        header.uniqueId[i] = uint8_t(0xA0 + i);
    header.SetLabel("Daylight");
    header.SetExtData(0, 1, 0.5f);

    BribDirectory& nested = file.Top().AddDirectory(file.Top().version);
    nested.AddProperties({{"CAMMANUF", "Maker"}, {"ISO", "100"}});
    file.Top().AddCamfile(1, Bytes{1, 2, 3, 4, 5, 6, 7, 8});
    ImageSection preview;
    preview.imageType = 2;
    preview.pixelFormat = 3;
    preview.columns = 4;
    preview.rows = 2;
    preview.rowSize = 12;
    preview.payload.assign(24, 0x80);
    file.Top().AddImage(preview);
    return file.Build();
}

} // namespace rawtest
