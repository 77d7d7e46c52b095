#include "FBrisalTag.h"
#include "FByteOrder.h"

#include "FException.h"
#include "FNarrowString.h"

#include <array>
#include <cstring>
#include <new>
#include <string>
#include <vector>

namespace
{

struct KnownCode {
    uint32_t code;
    FBrisalTagType type;
};

constexpr uint32_t kSeriesFirst = 0x64697368; // "dish"
constexpr int kSeriesCount = 160;
constexpr int kNamedCount = kBrisalTagKnownCodes - kSeriesCount;

constexpr FBrisalTagType SeriesType(int k)
{
    using T = FBrisalTagType;
    if (k == 0 || k == 33 || k == 36 || k == 39 || k == 42 || (k >= 51 && k <= 57))
        return T::IntArray;
    if (k == 5 || (k >= 28 && k <= 30) || k >= 151)
        return T::DoubleArray;
    if (k == 2 || k == 6 || k == 7 || k == 31 || k == 34 || k == 37 || k == 40)
        return T::Text;
    if (k == 4 || (k >= 17 && k <= 27) || (k >= 58 && k <= 63) || k == 65)
        return T::Double;
    if (k >= 66 && k <= 145)
        return (k - 66) % 8 == 0 ? T::Text : T::DoubleArray;
    return T::Int; // 1, 3, 8-16, 32, 35, 38, 41, 43-50, 64, 146-150
}

constexpr std::array<KnownCode, kBrisalTagKnownCodes> MakeKnownCodes()
{
    using T = FBrisalTagType;
    const KnownCode named[kNamedCount] = {
        {BrisalTagCode("lens"), T::Text},   {BrisalTagCode("lnuq"), T::Text},
        {BrisalTagCode("focl"), T::Double}, {BrisalTagCode("ffsp"), T::Double},
        {BrisalTagCode("sfsp"), T::Text},   {BrisalTagCode("issd"), T::Int},
        {BrisalTagCode("fssd"), T::Double}, {BrisalTagCode("sssd"), T::Text},
        {BrisalTagCode("ctmp"), T::Double}, {BrisalTagCode("drks"), T::Text},
        {BrisalTagCode("drkl"), T::Text},   {BrisalTagCode("camf"), T::Text},
        {BrisalTagCode("imgn"), T::Int},    {BrisalTagCode("roln"), T::Int},
        {BrisalTagCode("came"), T::Text},   {BrisalTagCode("excp"), T::Double},
        {BrisalTagCode("blkn"), T::Double}, {BrisalTagCode("cont"), T::Double},
        {BrisalTagCode("hilt"), T::Double}, {BrisalTagCode("cadr"), T::Double},
        {BrisalTagCode("cadg"), T::Double}, {BrisalTagCode("cadb"), T::Double},
        {BrisalTagCode("clsp"), T::Int},    {BrisalTagCode("rawh"), T::IntArray},
        {BrisalTagCode("nred"), T::Double}, {BrisalTagCode("ngrn"), T::Double},
        {BrisalTagCode("nblu"), T::Double}, {BrisalTagCode("ndat"), T::Text},
        {BrisalTagCode("nfnm"), T::Text},   {BrisalTagCode("nptx"), T::Int},
        {BrisalTagCode("npty"), T::Int},    {BrisalTagCode("exst"), T::Text},
        {BrisalTagCode("exsu"), T::Int},
    };
    std::array<KnownCode, kBrisalTagKnownCodes> table{};
    for (int i = 0; i < kNamedCount; ++i)
        table[i] = named[i];
    for (int k = 0; k < kSeriesCount; ++k)
        table[kNamedCount + k] = {kSeriesFirst + uint32_t(k), SeriesType(k)};
    return table;
}

constexpr std::array<KnownCode, kBrisalTagKnownCodes> kKnownCodes = MakeKnownCodes();

FBrisalTagType LookUp(uint32_t code)
{
    for (const KnownCode& known : kKnownCodes) {
        if (known.code == code)
            return known.type;
    }
    return FBrisalTagType::Unknown;
}

struct FBrisalTagItem {
    uint32_t code = 0;
    uint32_t offset = 0; // recorded by GetBuffer
    uint32_t size = 0;
    int intValue = 0;
    double doubleValue = 0.0;
    std::string text;
};

} // namespace

struct FBrisalTag::Impl {
    std::vector<FBrisalTagItem> items; // in the order codes were first set

    FBrisalTagItem* Find(uint32_t code)
    {
        for (FBrisalTagItem& item : items) {
            if (item.code == code)
                return &item;
        }
        return nullptr;
    }

    FBrisalTagItem* FindOrAdd(uint32_t code)
    {
        if (FBrisalTagItem* item = Find(code))
            return item;
        items.emplace_back();
        items.back().code = code;
        return &items.back();
    }
};

FBrisalTag::FBrisalTag() : m_pImpl(std::make_unique<Impl>()) {}

FBrisalTag::~FBrisalTag() = default;

bool FBrisalTag::SetInt(uint32_t code, int value)
{
    if (LookUp(code) != FBrisalTagType::Int)
        return false;
    try {
        FBrisalTagItem* item = m_pImpl->FindOrAdd(code);
        item->intValue = value;
        item->size = 4;
    } catch (const std::bad_alloc&) {
        return false;
    }
    return true;
}

bool FBrisalTag::SetDouble(uint32_t code, double value)
{
    if (LookUp(code) != FBrisalTagType::Double)
        return false;
    try {
        FBrisalTagItem* item = m_pImpl->FindOrAdd(code);
        item->doubleValue = value;
        item->size = 8;
    } catch (const std::bad_alloc&) {
        return false;
    }
    return true;
}

bool FBrisalTag::SetString(uint32_t code, const char* text)
{
    if (LookUp(code) != FBrisalTagType::Text)
        return false;
    const std::string value = text ? text : "";
    const uint64_t padded = (uint64_t(value.size()) + 1 + 3) & ~uint64_t(3);
    if (padded > kMaxBrisalTagBlobSize)
        return false;
    try {
        FBrisalTagItem* item = m_pImpl->FindOrAdd(code);
        item->text = value;
        item->size = uint32_t(padded);
    } catch (const std::bad_alloc&) {
        return false;
    }
    return true;
}

bool FBrisalTag::GetBuffer(void** blob, int& size, bool scramble)
{
    std::vector<FBrisalTagItem>& items = m_pImpl->items;
    const uint64_t valuesStart =
        uint64_t(kBrisalTagHeadSize) + 4 + uint64_t(kBrisalTagEntrySize) * items.size();
    uint64_t total = valuesStart;
    for (const FBrisalTagItem& item : items)
        total += item.size;
    if (total > kMaxBrisalTagBlobSize)
        return false;

    std::unique_ptr<uint8_t[]> bytes(new uint8_t[total]());
    StoreLE32(bytes.get(), kBrisalTagMagic);
    StoreLE32(bytes.get() + 4, uint32_t(total));
    StoreLE32(bytes.get() + 8, scramble ? 1 : 0);
    StoreLE32(bytes.get() + kBrisalTagHeadSize, uint32_t(items.size()));

    uint32_t offset = uint32_t(valuesStart);
    uint8_t* entry = bytes.get() + kBrisalTagHeadSize + 4;
    for (FBrisalTagItem& item : items) {
        item.offset = offset;
        StoreLE32(entry, item.code);
        StoreLE32(entry + 4, item.offset);
        StoreLE32(entry + 8, item.size);
        entry += kBrisalTagEntrySize;
        offset += item.size;
    }

    for (const FBrisalTagItem& item : items) {
        uint8_t* value = bytes.get() + item.offset;
        switch (LookUp(item.code)) {
        case FBrisalTagType::Int:
            StoreLE32(value, uint32_t(item.intValue));
            break;
        case FBrisalTagType::Double: {
            uint64_t bits = 0;
            std::memcpy(&bits, &item.doubleValue, sizeof(bits));
            StoreLE32(value, uint32_t(bits));
            StoreLE32(value + 4, uint32_t(bits >> 32));
            break;
        }
        case FBrisalTagType::Text:
            std::memcpy(value, item.text.data(), item.text.size());
            break;
        case FBrisalTagType::IntArray:
        case FBrisalTagType::DoubleArray:
            // No setter fills these codes; their bytes stay zero.
            break;
        case FBrisalTagType::Unknown:
            throw FExceptionUnknownTag("FBrisalTag GetBuffer()");
        }
    }

    if (scramble)
        Scramble(bytes.get(), uint32_t(total));
    *blob = bytes.release();
    size = int(total);
    return true;
}

void FBrisalTag::JoinStrings(FNarrowString& result, int n, const FNarrowString* texts)
{
    result.Assign("");
    for (int i = 0; i < n; ++i) {
        if (i > 0)
            result.AppendChar(char(0x8B));
        result.Append(texts[i].GetCString());
    }
}

bool FBrisalTag::IsKnown(uint32_t code)
{
    return LookUp(code) != FBrisalTagType::Unknown;
}

int FBrisalTag::TypeOf(uint32_t code)
{
    return int(LookUp(code));
}

void FBrisalTag::Scramble(uint8_t* blob, uint32_t size)
{
    uint32_t key = size * kBrisalTagKeyK1 - kBrisalTagKeyK2;
    for (uint32_t at = kBrisalTagHeadSize; at + 4 <= size; at += 4) {
        StoreLE32(blob + at, LoadLE32(blob + at) ^ key);
        key -= kBrisalTagKeyK3;
    }
}
