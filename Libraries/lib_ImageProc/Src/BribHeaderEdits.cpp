#include "BribHeaderEdits.h"

#include "ColorCompensation.h"
#include "FBribImageReader.h"
#include "FBribImageWriter.h"
#include "FDebugTrace.h"
#include "FPropList.h"
#include "ImagePropKeys.h"

#include <cstdint>
#include <cstdlib>
#include <cstring>

namespace
{

struct FStoredAdjustment {
    int m_iType;
    const char* m_pszProperty;
    const char* m_pszItem;
};

// In the order a modification applies them.
constexpr FStoredAdjustment kAdjustments[] = {
    {1, propkey::kExposure, "EXPOSURE"},     {2, propkey::kContrast, "CONTRAST"},
    {3, propkey::kShadow, "SHADOW"},         {4, propkey::kHighlight, "HIGHLIGHT"},
    {5, propkey::kSaturation, "SATURATION"}, {6, propkey::kSharpness, "SHARPNESS"},
    {10, propkey::kFillLight, "FILLFLASH"},
};

constexpr int kSlotRed = 7;
constexpr int kSlotGreen = 8;
constexpr int kSlotBlue = 9;
constexpr double kGainAbsent = -1.0;

const FStoredAdjustment* FindAdjustment(int type)
{
    for (const FStoredAdjustment& adjustment : kAdjustments) {
        if (adjustment.m_iType == type)
            return &adjustment;
    }
    return nullptr;
}

float SlotFloat(uint32_t bits)
{
    float value = 0.0f;
    std::memcpy(&value, &bits, sizeof(value));
    return value;
}

// The header label is 8-bit: units it cannot hold become question marks.
std::string EightBitCopy(const FWideString& text)
{
    std::string copy;
    for (int i = 0; i < text.GetLength(); ++i) {
        const char16_t unit = text.GetBuffer()[i];
        copy += unit > 126 ? '?' : char(unit);
    }
    return copy;
}

void AddWhiteBalance(FBribImageReader& reader, FPropList& list)
{
    const char* label = reader.GetWBLabel();
    const bool hasLabel = label && *label;
    FPropPair* original = list.FindProp("WB_DESC");
    if (original) {
        original->GetName() = "WB_DESC_ORIG";
        const FWideString value = hasLabel ? FWideString(label) : original->GetValue();
        list.AddProp(FWideString("WB_DESC"), value);
        return;
    }
    if (!hasLabel)
        return;
    list.AddProp("WB_DESC", label);
    list.AddProp("WB_DESC_ORIG", "Auto");
}

void AddStoredAdjustments(FBribImageReader& reader, FPropList& list)
{
    const int slots = reader.GetExtDataCount();
    if (slots <= 0)
        return;
    double gains[3] = {kGainAbsent, kGainAbsent, kGainAbsent};
    for (int slot = 0; slot < slots; ++slot) {
        const int type = reader.GetExtDataType(slot);
        const double value = SlotFloat(reader.GetExtDataValue(slot));
        if (type >= kSlotRed && type <= kSlotBlue) {
            gains[type - kSlotRed] = value;
            continue;
        }
        if (const FStoredAdjustment* adjustment = FindAdjustment(type))
            list.SetFloat(FWideString(adjustment->m_pszProperty), value);
    }
    if (gains[0] == 0.0 || gains[1] == 0.0 || gains[2] == 0.0)
        gains[0] = gains[1] = gains[2] = 1.0;
    if (gains[0] == kGainAbsent || gains[1] == kGainAbsent || gains[2] == kGainAbsent)
        return;
    list.SetString(FWideString(propkey::kColorAdjust),
                   FWideString(RGBGainsToCCString(gains[0], gains[1], gains[2]).c_str()));
}

} // namespace

std::string FormatBribUniqueID(const unsigned char* id)
{
    static const char kDigits[] = "0123456789ABCDEF";
    std::string text;
    for (int i = 0; i < 16; ++i) {
        text += kDigits[id[i] >> 4];
        text += kDigits[id[i] & 15];
    }
    return text;
}

void AddBribHeaderProperties(FBribImageReader& reader, FPropList& list)
{
    const uint32_t rotation = reader.GetRotation();
    list.SetInt(FWideString("MARKBITS"), int(reader.GetMarkBits()));
    list.SetInt(FWideString("ROTATION"), int(rotation));
    list.SetInt(FWideString("PROCESSABLE"), 1);
    AddWhiteBalance(reader, list);
    const auto [cols, rows] = reader.GetDimensions();
    const bool quarterTurn = rotation == 90 || rotation == 270;
    list.SetInt(FWideString("COLS"), quarterTurn ? rows : cols);
    list.SetInt(FWideString("ROWS"), quarterTurn ? cols : rows);
    AddStoredAdjustments(reader, list);
}

unsigned ResolveRotationChange(const char* text, unsigned current)
{
    // Whole turns are dropped before adding, so no value of the text can overflow.
    long long value = std::strtoll(text, nullptr, 10) % 360;
    if (text[0] == '+' || text[0] == '-')
        value += (long long)(current % 360);
    value %= 360;
    if (value < 0)
        value += 360;
    return unsigned(value);
}

bool SetBribExtData(FBribImageWriter& writer, int type, double value)
{
    const int slots = writer.GetExtDataCount();
    if (slots <= 0)
        return false;
    int target = -1;
    int firstFree = -1;
    for (int slot = 0; slot < slots; ++slot) {
        const int slotType = writer.GetExtDataType(slot);
        if (slotType == type) {
            if (target < 0)
                target = slot;
            else
                writer.SetExtDataType(slot, 0);
        } else if (slotType == 0 && firstFree < 0) {
            firstFree = slot;
        }
    }
    const float single = float(value);
    uint32_t bits = 0;
    std::memcpy(&bits, &single, sizeof(bits));
    if (target >= 0)
        return writer.SetExtDataValue(target, bits);
    if (firstFree < 0) {
        DebugTrace("BRIbLoader::priSetBRIbExtData: no free slots left!\n");
        return false;
    }
    DebugTrace("Setting slot %d to type %d\n", firstFree, type);
    // The value before the type, so a failure between them leaves the slot free.
    return writer.SetExtDataValue(firstFree, bits) && writer.SetExtDataType(firstFree, type);
}

bool HasBribHeaderChanges(const FPropList& changes)
{
    for (const char* name : {"ROTATION", "MARKBITS", "WB_DESC", propkey::kColorAdjust}) {
        if (changes.FindProp(name))
            return true;
    }
    for (const FStoredAdjustment& adjustment : kAdjustments) {
        if (changes.FindProp(adjustment.m_pszProperty))
            return true;
    }
    return false;
}

bool ApplyBribHeaderChanges(FBribImageWriter& writer, const FPropList& changes, std::string& failedItem)
{
    bool found = false;
    const FWideString label = changes.GetString(FWideString("WB_DESC"), FWideString(), &found);
    if (found && !writer.SetWBLabel(EightBitCopy(label).c_str())) {
        failedItem = "WHITE BALANCE";
        return false;
    }
    const int markBits = changes.GetInt(FWideString("MARKBITS"), 0, &found);
    if (found)
        writer.SetMarkBits(uint32_t(markBits));
    const FWideString rotation = changes.GetString(FWideString("ROTATION"), FWideString(), &found);
    if (found)
        writer.SetRotation(ResolveRotationChange(EightBitCopy(rotation).c_str(), writer.GetRotation()));
    for (const FStoredAdjustment& adjustment : kAdjustments) {
        const double value = changes.GetFloat(FWideString(adjustment.m_pszProperty), 0.0, &found);
        if (found && !SetBribExtData(writer, adjustment.m_iType, value)) {
            failedItem = adjustment.m_pszItem;
            return false;
        }
    }
    const FWideString colorAdjust =
        changes.GetString(FWideString(propkey::kColorAdjust), FWideString(), &found);
    if (!found)
        return true;
    FDoubleRGB gains;
    CCStringToRGBGains(gains, EightBitCopy(colorAdjust).c_str());
    const double channels[3] = {gains.r, gains.g, gains.b};
    constexpr const char* kItems[3] = {"COLOR ADJ RED", "COLOR ADJ GREEN", "COLOR ADJ BLUE"};
    for (int c = 0; c < 3; ++c) {
        if (!SetBribExtData(writer, kSlotRed + c, channels[c])) {
            failedItem = kItems[c];
            return false;
        }
    }
    return true;
}
