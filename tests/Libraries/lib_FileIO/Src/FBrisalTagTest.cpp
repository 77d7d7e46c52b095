#include "FBrisalTag.h"
#include "FException.h"
#include "FNarrowString.h"
#include "TiffTestUtil.h"

#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <vector>

namespace
{

using tifftest::LeU32;
using tifftest::ParseBlob;

std::vector<uint8_t> Build(FBrisalTag& set, bool scramble)
{
    void* blob = nullptr;
    int size = 0;
    EXPECT_TRUE(set.GetBuffer(&blob, size, scramble));
    std::unique_ptr<uint8_t[]> owner(static_cast<uint8_t*>(blob));
    return std::vector<uint8_t>(owner.get(), owner.get() + size);
}

std::vector<uint8_t> Plain(const std::vector<uint8_t>& scrambled)
{
    return tifftest::Unscramble(scrambled, kBrisalTagKeyK1, kBrisalTagKeyK2, kBrisalTagKeyK3);
}

// The table written out from its description, range by range.
int ExpectedSeriesType(int k)
{
    if (k == 0 || k == 33 || k == 36 || k == 39 || k == 42 || (k >= 51 && k <= 57))
        return 4;
    if (k == 1 || k == 3 || (k >= 8 && k <= 16) || k == 32 || k == 35 || k == 38 || k == 41 ||
        (k >= 43 && k <= 50) || k == 64 || (k >= 146 && k <= 150))
        return 1;
    if (k == 2 || k == 6 || k == 7 || k == 31 || k == 34 || k == 37 || k == 40)
        return 3;
    if (k == 4 || (k >= 17 && k <= 27) || (k >= 58 && k <= 63) || k == 65)
        return 2;
    if (k == 5 || (k >= 28 && k <= 30) || k >= 151)
        return 5;
    return (k - 66) % 8 == 0 ? 3 : 5; // ten blocks of one text and seven pair arrays
}

TEST(FBrisalTag, KnownCodeTableHasEveryNamedAndSeriesCodeWithItsType)
{
    const struct {
        const char* name;
        int type;
    } named[] = {{"lens", 3}, {"lnuq", 3}, {"focl", 2}, {"ffsp", 2}, {"sfsp", 3}, {"issd", 1}, {"fssd", 2},
                 {"sssd", 3}, {"ctmp", 2}, {"drks", 3}, {"drkl", 3}, {"camf", 3}, {"imgn", 1}, {"roln", 1},
                 {"came", 3}, {"excp", 2}, {"blkn", 2}, {"cont", 2}, {"hilt", 2}, {"cadr", 2}, {"cadg", 2},
                 {"cadb", 2}, {"clsp", 1}, {"rawh", 4}, {"nred", 2}, {"ngrn", 2}, {"nblu", 2}, {"ndat", 3},
                 {"nfnm", 3}, {"nptx", 1}, {"npty", 1}, {"exst", 3}, {"exsu", 1}};
    for (const auto& c : named) {
        const uint32_t code = (uint32_t(uint8_t(c.name[0])) << 24) | (uint32_t(uint8_t(c.name[1])) << 16) |
                              (uint32_t(uint8_t(c.name[2])) << 8) | uint32_t(uint8_t(c.name[3]));
        EXPECT_EQ(FBrisalTag::TypeOf(code), c.type) << c.name;
        EXPECT_TRUE(FBrisalTag::IsKnown(code)) << c.name;
    }
    EXPECT_EQ(BrisalTagCode("lens"), 0x6C656E73u);
    for (int k = 0; k < 160; ++k)
        EXPECT_EQ(FBrisalTag::TypeOf(0x64697368u + k), ExpectedSeriesType(k)) << "k=" << k;
    EXPECT_EQ(0x64697368u + 159, 0x64697407u);
    for (uint32_t unknown : {0x64697367u, 0x64697408u, 0u, BrisalTagCode("LENS"), BrisalTagCode("snel")}) {
        EXPECT_FALSE(FBrisalTag::IsKnown(unknown)) << std::hex << unknown;
        EXPECT_EQ(FBrisalTag::TypeOf(unknown), 0);
    }
}

TEST(FBrisalTag, EmptySetIsTheHeadAndACountOfZero)
{
    FBrisalTag set;
    const std::vector<uint8_t> plain = Build(set, false);
    ASSERT_EQ(plain.size(), 68u);
    EXPECT_EQ(std::memcmp(plain.data(), "1rev", 4), 0);
    EXPECT_EQ(LeU32(&plain[4]), 68u);
    EXPECT_EQ(LeU32(&plain[8]), 0u);
    for (size_t i = 12; i < 68; ++i)
        EXPECT_EQ(plain[i], 0) << i;

    const std::vector<uint8_t> scrambled = Build(set, true);
    ASSERT_EQ(scrambled.size(), 68u);
    EXPECT_EQ(LeU32(&scrambled[8]), 1u);
    EXPECT_TRUE(std::equal(scrambled.begin() + 12, scrambled.begin() + 64, plain.begin() + 12));
    EXPECT_NE(LeU32(&scrambled[64]), 0u) << "the count word is scrambled too";
    EXPECT_EQ(LeU32(&Plain(scrambled)[64]), 0u);
}

TEST(FBrisalTag, ValuesAreLaidOutInFirstSetOrderWithTheirSizes)
{
    FBrisalTag set;
    EXPECT_TRUE(set.SetString(BrisalTagCode("lens"), "abc"));
    EXPECT_TRUE(set.SetInt(BrisalTagCode("issd"), -7));
    EXPECT_TRUE(set.SetDouble(BrisalTagCode("focl"), 1.5));
    EXPECT_TRUE(set.SetString(BrisalTagCode("sfsp"), "abcd"));
    EXPECT_TRUE(set.SetString(BrisalTagCode("exst"), ""));
    EXPECT_TRUE(set.SetString(BrisalTagCode("lens"), "second value")); // keeps its first position

    const std::vector<uint8_t> blob = Build(set, false);
    const tifftest::ParsedBlob parsed = ParseBlob(blob);
    ASSERT_TRUE(parsed.ok) << parsed.error;
    ASSERT_EQ(parsed.entries.size(), 5u);
    const uint32_t codes[] = {BrisalTagCode("lens"), BrisalTagCode("issd"), BrisalTagCode("focl"),
                              BrisalTagCode("sfsp"), BrisalTagCode("exst")};
    const uint32_t sizes[] = {16, 4, 8, 8, 4};
    for (int i = 0; i < 5; ++i) {
        EXPECT_EQ(parsed.entries[i].code, codes[i]) << i;
        EXPECT_EQ(parsed.entries[i].size, sizes[i]) << i;
    }
    EXPECT_EQ(parsed.entries[0].offset, 68u + 12 * 5);
    EXPECT_EQ(std::memcmp(&blob[68], "snel", 4), 0) << "codes are little-endian words";
    EXPECT_EQ(parsed.Text(BrisalTagCode("lens")), "second value");
    EXPECT_EQ(parsed.Text(BrisalTagCode("sfsp")), "abcd");
    EXPECT_EQ(parsed.Find(BrisalTagCode("sfsp"))->value[4], 0);
    EXPECT_EQ(int32_t(LeU32(parsed.Find(BrisalTagCode("issd"))->value.data())), -7);
    uint64_t bits = 0;
    const double d = 1.5;
    std::memcpy(&bits, &d, sizeof(bits));
    const std::vector<uint8_t>& focl = parsed.Find(BrisalTagCode("focl"))->value;
    EXPECT_EQ(LeU32(focl.data()), uint32_t(bits)) << "low half first";
    EXPECT_EQ(LeU32(focl.data() + 4), uint32_t(bits >> 32));
}

TEST(FBrisalTag, TextSizesArePaddedToWholeWords)
{
    const struct {
        const char* text;
        uint32_t size;
    } cases[] = {{"", 4}, {"abc", 4}, {"abcd", 8}, {"abcdefg", 8}, {"abcdefgh", 12}};
    for (const auto& c : cases) {
        FBrisalTag set;
        ASSERT_TRUE(set.SetString(BrisalTagCode("came"), c.text));
        const tifftest::ParsedBlob parsed = ParseBlob(Build(set, false));
        ASSERT_TRUE(parsed.ok) << parsed.error;
        EXPECT_EQ(parsed.entries.at(0).size, c.size) << c.text;
        EXPECT_EQ(parsed.size, 68u + 12 + c.size);
        EXPECT_EQ(parsed.Text(BrisalTagCode("came")), c.text);
    }
}

TEST(FBrisalTag, SettersRefuseUnknownCodesAndTypesOtherThanTheirOwn)
{
    FBrisalTag set;
    EXPECT_TRUE(set.SetInt(BrisalTagCode("exsu"), 2));
    EXPECT_FALSE(set.SetInt(BrisalTagCode("zzzz"), 1));
    EXPECT_FALSE(set.SetInt(BrisalTagCode("lens"), 1));          // a text code
    EXPECT_FALSE(set.SetString(BrisalTagCode("issd"), "x"));     // an integer code
    EXPECT_FALSE(set.SetDouble(BrisalTagCode("imgn"), 1.0));     // an integer code
    EXPECT_FALSE(set.SetInt(BrisalTagCode("rawh"), 1));          // an array: no setter fills it
    EXPECT_FALSE(set.SetDouble(BrisalTagCode("dish") + 5, 1.0)); // pair array
    const tifftest::ParsedBlob parsed = ParseBlob(Build(set, false));
    ASSERT_TRUE(parsed.ok) << parsed.error;
    ASSERT_EQ(parsed.entries.size(), 1u);
    EXPECT_EQ(parsed.entries[0].code, BrisalTagCode("exsu"));
}

TEST(FBrisalTag, ScrambledBlobMatchesTheIndependentKeySequenceAndUnscramblesBack)
{
    FBrisalTag set;
    set.SetString(BrisalTagCode("sssd"), "1/250");
    set.SetDouble(BrisalTagCode("excp"), -0.3);
    set.SetInt(BrisalTagCode("clsp"), 2);
    const std::vector<uint8_t> plain = Build(set, false);
    std::vector<uint8_t> scrambled = Build(set, true);
    ASSERT_EQ(plain.size(), scrambled.size());
    EXPECT_EQ(LeU32(&scrambled[8]), 1u);
    EXPECT_TRUE(std::equal(scrambled.begin() + 12, scrambled.begin() + 64, plain.begin() + 12));
    EXPECT_NE(scrambled, plain);

    std::vector<uint8_t> expected = Plain(scrambled);
    expected[8] = 0; // only the flag differs in the head
    EXPECT_EQ(expected, plain);

    FBrisalTag::Scramble(scrambled.data(), uint32_t(scrambled.size()));
    scrambled[8] = 0;
    EXPECT_EQ(scrambled, plain) << "scrambling twice gives the bytes back";
}

TEST(FBrisalTag, GetBufferMayBeCalledAgainWithTheSameResult)
{
    FBrisalTag set;
    set.SetString(BrisalTagCode("drks"), "dark.q7f");
    set.SetInt(BrisalTagCode("nptx"), 12);
    EXPECT_EQ(Build(set, true), Build(set, true));
}

TEST(FBrisalTag, JoinStringsSeparatesWithByte8B)
{
    const FNarrowString texts[] = {FNarrowString("a"), FNarrowString("b"), FNarrowString("c")};
    FNarrowString joined("old");
    FBrisalTag::JoinStrings(joined, 3, texts);
    EXPECT_EQ(std::string(joined.GetCString()), std::string("a\x8B"
                                                            "b\x8B"
                                                            "c"));
    FBrisalTag::JoinStrings(joined, 1, texts);
    EXPECT_STREQ(joined.GetCString(), "a");
    FBrisalTag::JoinStrings(joined, 0, texts);
    EXPECT_STREQ(joined.GetCString(), "");
    FBrisalTag::JoinStrings(joined, -1, nullptr);
    EXPECT_STREQ(joined.GetCString(), "");
}

} // namespace
