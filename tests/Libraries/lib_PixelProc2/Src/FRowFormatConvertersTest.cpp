#include "FRowFormatConverters.h"
#include "FException.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <random>
#include <vector>

namespace
{

using Converter = void (*)(unsigned, const void*, void*);

std::vector<uint8_t> Words16(std::initializer_list<uint16_t> values)
{
    std::vector<uint8_t> bytes;
    for (uint16_t v : values) {
        bytes.push_back(uint8_t(v));
        bytes.push_back(uint8_t(v >> 8));
    }
    return bytes;
}

std::vector<uint8_t> Word32(uint32_t v)
{
    return {uint8_t(v), uint8_t(v >> 8), uint8_t(v >> 16), uint8_t(v >> 24)};
}

struct Case {
    const char* m_name;
    Converter m_convert;
    std::vector<uint8_t> m_source;
    std::vector<uint8_t> m_expected;
};

} // namespace

TEST(FRowFormatConverters, OnePixelRules)
{
    // Type 8 word: R = 0x5A3, G = 0x1F6, B = 0x3C9 (11 bits each; B keeps 10).
    const uint32_t rgbl = 0xB4u | 0x3Eu << 8 | 0x79u << 16 | 0u << 24 | 6u << 26 | 3u << 29;
    const std::vector<uint8_t> px30 = Word32(rgbl);
    const std::vector<uint8_t> px48 = Words16({0x1234, 0xABCD, 0xFEDC});
    const std::vector<Case> cases = {
        {"30RGBL to 24BGR", ConvertRow30RGBLTo24BGR, px30, {0x79, 0x3E, 0xB4}},
        {"30RGBL to 24RGB", ConvertRow30RGBLTo24RGB, px30, {0xB4, 0x3E, 0x79}},
        {"30RGBL to 30RGBL", ConvertRow30RGBLTo30RGBL, px30, px30},
        {"30RGBL to 30RGB", ConvertRow30RGBLTo30RGB, px30,
         Word32(uint32_t(0xB4 << 3 | 3) | uint32_t(0x3E << 3 | 6) << 11 | uint32_t(0x79 << 2 | 0) << 22)},
        {"30RGBL to 32ARGB", ConvertRow30RGBLTo32ARGB, px30, {255, 0xB4, 0x3E, 0x79}},
        {"30RGBL to 32ABGR", ConvertRow30RGBLTo32ABGR, px30, {255, 0x79, 0x3E, 0xB4}},
        {"30RGBL to 32RGBA", ConvertRow30RGBLTo32RGBA, px30, {0xB4, 0x3E, 0x79, 255}},
        {"48RGB to 24BGR", ConvertRow48RGBTo24BGR, px48, {0xFE, 0xAB, 0x12}},
        {"48RGB to 24RGB", ConvertRow48RGBTo24RGB, px48, {0x12, 0xAB, 0xFE}},
        {"48RGB to 30RGBL all ones", ConvertRow48RGBTo30RGBL, Words16({0xFFFF, 0xFFFF, 0xFFFF}),
         Word32(0xFFFFFFFF)},
        {"48RGB to 30RGBL low bits", ConvertRow48RGBTo30RGBL, Words16({0x00E0, 0x00E0, 0x00C0}),
         Word32(0xFF000000)},
        {"48RGB to 30RGB", ConvertRow48RGBTo30RGB, px48,
         Word32(uint32_t(0x1234 >> 5) | uint32_t(0xABCD >> 5) << 11 | uint32_t(0xFEDC >> 6) << 22)},
        {"48RGB to 32ARGB", ConvertRow48RGBTo32ARGB, px48, {255, 0x12, 0xAB, 0xFE}},
        {"48RGB to 32ABGR", ConvertRow48RGBTo32ABGR, px48, {255, 0xFE, 0xAB, 0x12}},
        {"48RGB to 32RGBA", ConvertRow48RGBTo32RGBA, px48, {0x12, 0xAB, 0xFE, 255}},
        {"48 to 48", ConvertPixels48To48, px48, px48},
        {"24 to 48", ConvertPixels24To48, {0x12, 0xAB, 0xFE}, Words16({0x1200, 0xAB00, 0xFE00})},
        {"30BGRL to 30RGBL", ConvertRow30BGRLTo30RGBL, {1, 2, 3, 4}, {3, 2, 1, 4}},
        {"32ARGB to 30RGBL", ConvertRow32ARGBTo30RGBL, {10, 20, 30, 40}, {20, 30, 40, 0}},
        {"32ABGR to 30RGBL", ConvertRow32ABGRTo30RGBL, {10, 20, 30, 40}, {40, 30, 20, 0}},
        {"32BGRA to 30RGBL", ConvertRow32BGRATo30RGBL, {10, 20, 30, 40}, {30, 20, 10, 0}},
        {"32RGBA to 30RGBL", ConvertRow32RGBATo30RGBL, {10, 20, 30, 40}, {10, 20, 30, 0}},
        {"48SRGB to 30RGBL", ConvertRow48SRGBTo30RGBL, Words16({0xFFFF, 0xFFFF, 0xFFFF}), Word32(0xFFFFFFFF)},
        {"48BGR to 30RGBL", ConvertRow48BGRTo30RGBL, Words16({0x00C0, 0x00E0, 0x00E0}), Word32(0xFF000000)},
        {"8 mono to 16", ConvertRow8MonoTo16Mono, {0xFF}, Words16({0xFF00})},
        {"12 mono to 16", ConvertRow12MonoTo16Mono, Words16({0x0FFF}), Words16({0xFFF0})},
        {"16 mono to 16", ConvertRow16MonoTo16Mono, Words16({0xBEEF}), Words16({0xBEEF})},
        {"32 mono to 16", ConvertRow32MonoTo16Mono, Word32(0x12345678), Words16({0x6780})},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.m_name);
        // One pixel into a row with a guard byte after it: nothing past the pixel is written.
        std::vector<uint8_t> dst(c.m_expected.size() + 1, 0xCC);
        c.m_convert(1, c.m_source.data(), dst.data());
        EXPECT_EQ(std::vector<uint8_t>(dst.begin(), dst.end() - 1), c.m_expected);
        EXPECT_EQ(dst.back(), 0xCC);
        // A count of 0 writes nothing.
        std::vector<uint8_t> untouched(8, 0xCC);
        c.m_convert(0, c.m_source.data(), untouched.data());
        EXPECT_EQ(untouched, std::vector<uint8_t>(8, 0xCC));
    }
}

TEST(FRowFormatConverters, ThirtyBitPackingsAreInverses)
{
    std::mt19937 rng(7);
    std::vector<uint8_t> words(4 * 1000);
    for (auto& b : words) {
        b = uint8_t(rng());
    }
    std::vector<uint8_t> packed(words.size());
    std::vector<uint8_t> back(words.size());
    ConvertRow30RGBLTo30RGB(1000, words.data(), packed.data());
    ConvertRow30RGBTo30RGBL(1000, packed.data(), back.data());
    EXPECT_EQ(back, words);
}

TEST(FRowFormatConverters, RefusedDestinationIsAnExceptionOfTheFamily)
{
    uint8_t src[8] = {};
    uint8_t dst[8] = {};
    EXPECT_NO_THROW(ConvertRowNotImplemented(0, src, dst));
    try {
        ConvertRowNotImplemented(1, src, dst);
        FAIL() << "no exception";
    } catch (const FException& e) {
        EXPECT_STREQ(e.GetMessage(), "NOT IMPLEMENTED");
    }
}
