#include "FHuffmanDecoder.h"
#include "FException.h"
#include "RawCodec.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <random>
#include <string>
#include <vector>

using rawcodec::BitWriter;
using rawcodec::CanonicalCode;
using rawcodec::HuffmanCode;

namespace
{

// Feeds the bytes in chunks of at most `chunk` bytes, taking back what the decoder
// did not use, then finishes the block with a call without input.
std::vector<uint16_t> DecodeBlock(FHuffmanDecoder& decoder, const std::vector<uint8_t>& bytes, int wanted,
                                  int chunk)
{
    std::vector<uint16_t> out(size_t(wanted) + 1, 0xEEEE);
    int produced = 0;
    size_t pos = 0;
    while (pos < bytes.size() && produced < wanted) {
        const int len = int(std::min<size_t>(size_t(chunk), bytes.size() - pos));
        int inUsed = 0;
        int got = 0;
        decoder.Decode(bytes.data() + pos, len, inUsed, out.data() + produced, wanted - produced, got);
        produced += got;
        pos += size_t(inUsed);
        if (inUsed == 0 && got == 0) {
            chunk *= 2; // the register is full: offer more at once
        }
    }
    int inUsed = 0;
    int got = 0;
    decoder.Decode(nullptr, 0, inUsed, out.data() + produced, wanted - produced, got);
    produced += got;
    decoder.DecodeFlush();
    out.resize(size_t(produced));
    return out;
}

std::vector<uint8_t> EncodeBlock(const HuffmanCode& code, const std::vector<uint16_t>& symbols)
{
    BitWriter bits;
    for (uint16_t s : symbols) {
        code.Encode(bits, s);
    }
    bits.PadToByte();
    return bits.Bytes();
}

std::string HuffmanMessage(const std::function<void()>& f)
{
    try {
        f();
    } catch (const FExceptionHuffman& e) {
        return e.GetMessage();
    }
    return "no FExceptionHuffman";
}

struct RoundTripCase {
    const char* m_name;
    int m_iBits;
    std::vector<uint8_t> m_lengths; // empty: from random frequencies
};

std::vector<uint8_t> LengthsUpTo27()
{
    // 1, 2, ..., 26, 27, 27: a complete code whose longest code has 27 bits.
    std::vector<uint8_t> lengths(32, 0);
    for (int s = 0; s < 27; ++s) {
        lengths[s] = uint8_t(s + 1);
    }
    lengths[27] = 27;
    return lengths;
}

} // namespace

TEST(FHuffmanDecoder, RoundTripsRandomBlocksWholeAndInPieces)
{
    const std::vector<RoundTripCase> cases = {
        {"longest code 1 bit: one-entry root", 2, {1, 1, 0, 0}},
        {"odd longest length", 3, {1, 2, 3, 3, 0, 0, 0, 0}},
        {"codes up to 27 bits", 5, LengthsUpTo27()},
        {"8-bit symbols", 8, {}},
        {"10-bit symbols", 10, {}},
        {"16-bit symbols", 16, {}},
    };
    std::mt19937 rng(1234);
    for (const auto& c : cases) {
        SCOPED_TRACE(c.m_name);
        const size_t n = size_t(1) << c.m_iBits;
        std::vector<uint8_t> lengths = c.m_lengths;
        if (lengths.empty()) {
            // Skewed frequencies over a subset of the symbols give long and short codes.
            std::vector<uint64_t> freq(n, 0);
            for (int i = 0; i < 600; ++i) {
                freq[rng() % n] += 1 + (rng() % 4 == 0 ? rng() % 5000 : 0);
            }
            lengths = rawcodec::LengthsFromFrequencies(freq);
        }
        const HuffmanCode code = CanonicalCode(lengths);
        std::vector<uint16_t> used;
        for (size_t s = 0; s < n; ++s) {
            if (lengths[s] != 0) {
                used.push_back(uint16_t(s));
            }
        }
        FHuffmanDecoder decoder(c.m_iBits);
        decoder.Reset();
        const std::vector<uint32_t> words = code.TableWords();
        decoder.SetTable(words.data(), int(words.size()));
        for (int block = 0; block < 6; ++block) {
            std::vector<uint16_t> symbols(1 + rng() % 300);
            for (auto& s : symbols) {
                s = used[rng() % used.size()];
            }
            const std::vector<uint8_t> bytes = EncodeBlock(code, symbols);
            for (int chunk : {1, 3, 1 << 20}) {
                EXPECT_EQ(DecodeBlock(decoder, bytes, int(symbols.size()), chunk), symbols)
                    << "block " << block << " chunk " << chunk;
            }
        }
    }
}

TEST(FHuffmanDecoder, BlockEndingInFewerThanRootBitsNeedsTheCallWithoutInput)
{
    // Longest code 8 bits (root of 4 bits); the block ends with two 1-bit codes.
    std::vector<uint8_t> lengths(16, 0);
    lengths[0] = 1;
    lengths[1] = 2;
    lengths[2] = 3;
    lengths[3] = 4;
    lengths[4] = 5;
    lengths[5] = 6;
    lengths[6] = 7;
    lengths[7] = 8;
    lengths[8] = 8;
    const HuffmanCode code = CanonicalCode(lengths);
    // 8 + 8 + 3 + 1 + 2 + 1 + 1 bits: three whole bytes, the last two codes after the
    // last lookup that has a whole root index of real bits.
    const std::vector<uint16_t> symbols = {7, 8, 2, 0, 1, 0, 0};
    const std::vector<uint8_t> bytes = EncodeBlock(code, symbols);
    FHuffmanDecoder decoder(4);
    decoder.Reset();
    const auto words = code.TableWords();
    decoder.SetTable(words.data(), int(words.size()));

    std::vector<uint16_t> out(7);
    int inUsed = 0;
    int got = 0;
    decoder.Decode(bytes.data(), int(bytes.size()), inUsed, out.data(), 7, got);
    EXPECT_EQ(got, 5);
    EXPECT_EQ(inUsed, int(bytes.size())); // the last byte waits in the register
    int more = 0;
    decoder.Decode(nullptr, 0, inUsed, out.data() + got, 7 - got, more);
    EXPECT_EQ(more, 2);
    EXPECT_EQ(inUsed, 0);
    EXPECT_EQ(out, symbols);
    decoder.DecodeFlush();

    // A new block after the flush starts on its own first byte, though bits were left.
    const std::vector<uint16_t> second = {2, 1, 8};
    EXPECT_EQ(DecodeBlock(decoder, EncodeBlock(code, second), 3, 100), second);
}

TEST(FHuffmanDecoder, DecodeWithoutInputAfterResetDoesNothing)
{
    FHuffmanDecoder decoder(8);
    decoder.Reset();
    uint16_t out[4];
    int inUsed = -1;
    int got = -1;
    decoder.Decode(nullptr, 0, inUsed, out, 4, got);
    EXPECT_EQ(got, 0);
    EXPECT_EQ(inUsed, 0);
    // Still waiting for input: no block is being decoded.
    EXPECT_EQ(HuffmanMessage([&] { decoder.DecodeFlush(); }), "DecodeFlush() not decoding data!");
}

TEST(FHuffmanDecoder, StateAndArgumentErrors)
{
    EXPECT_EQ(HuffmanMessage([] { FHuffmanDecoder d(1); }), "Invalid number of bits");
    EXPECT_EQ(HuffmanMessage([] { FHuffmanDecoder d(17); }), "Invalid number of bits");
    EXPECT_NO_THROW(FHuffmanDecoder(2));
    EXPECT_NO_THROW(FHuffmanDecoder(16));

    const uint8_t byte = 0x55;
    uint16_t out[4];
    int inUsed = 0;
    int got = 0;
    {
        FHuffmanDecoder d(8);
        EXPECT_EQ(HuffmanMessage([&] { d.Decode(&byte, 1, inUsed, out, 4, got); }),
                  "Decode() invalid state!");
        EXPECT_EQ(HuffmanMessage([&] { d.DecodeFlush(); }), "DecodeFlush() not decoding data!");
    }
    {
        FHuffmanDecoder d(8);
        d.Reset();
        EXPECT_EQ(HuffmanMessage([&] { d.Decode(&byte, 1, inUsed, out, 4, got); }),
                  "Can't build decoding tree without a valid table!");
    }
}

TEST(FHuffmanDecoder, SymbolWithoutCodeIsNeverDecoded)
{
    std::vector<uint8_t> lengths = {0, 1, 1, 0};
    const HuffmanCode code = CanonicalCode(lengths);
    FHuffmanDecoder d(2);
    d.Reset();
    const auto words = code.TableWords();
    d.SetTable(words.data(), 4);
    const std::vector<uint8_t> bytes = {0x5A, 0xC3};
    const auto out = DecodeBlock(d, bytes, 16, 100);
    ASSERT_EQ(out.size(), 16u);
    for (uint16_t s : out) {
        EXPECT_TRUE(s == 1 || s == 2);
    }
}

TEST(FHuffmanDecoder, LastSymbolOfSixteenBitsIsARealSymbol)
{
    // 0x7FFF is a symbol like any other once symbols have 16 bits.
    std::vector<uint32_t> words(0x8000, 0);
    words[0] = 1u << 27 | 0;
    words[0x7FFF] = 1u << 27 | 1;
    FHuffmanDecoder d(16);
    d.Reset();
    d.SetTable(words.data(), int(words.size()));
    const std::vector<uint8_t> bytes = {0xA0}; // 1, 0, 1, then padding
    const auto out = DecodeBlock(d, bytes, 3, 1);
    EXPECT_EQ(out, (std::vector<uint16_t>{0x7FFF, 0, 0x7FFF}));
}

TEST(FHuffmanDecoder, PatternsThatMatchNoCodeAreRejected)
{
    uint16_t out[8];
    int inUsed = 0;
    int got = 0;
    struct Case {
        const char* m_name;
        std::vector<uint32_t> m_words;
        uint8_t m_byte;
    };
    const std::vector<Case> cases = {
        // Only "11" has a code: the root entries before it are reached by nothing.
        {"before the first code", {2u << 27 | 3, 0, 0, 0}, 0x00},
        // "00" and "0111": the root entries after the sub-table of "01" are reached by nothing.
        {"after a sub-table", {0, 2u << 27 | 0, 4u << 27 | 7, 0}, 0x80},
        {"no code at all", {0, 0, 0, 0}, 0x00},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.m_name);
        FHuffmanDecoder d(2);
        d.Reset();
        d.SetTable(c.m_words.data(), int(c.m_words.size()));
        const uint8_t bytes[4] = {c.m_byte, c.m_byte, c.m_byte, c.m_byte};
        EXPECT_THROW(d.Decode(bytes, 4, inUsed, out, 8, got), FExceptionHuffman);
    }
}

TEST(FHuffmanDecoder, MalformedTablesAreRefused)
{
    FHuffmanDecoder d(2);
    d.Reset();
    const std::vector<uint32_t> tooMany(5, 1u << 27);
    EXPECT_THROW(d.SetTable(tooMany.data(), 5), FExceptionHuffman);
    const std::vector<uint32_t> tooLong = {28u << 27, 1u << 27, 0, 0};
    EXPECT_THROW(d.SetTable(tooLong.data(), 4), FExceptionHuffman);
    // 8192 codes of 27 bits under distinct prefixes would need 2^27 sub-table entries.
    {
        FHuffmanDecoder big(16);
        big.Reset();
        std::vector<uint32_t> words(65536, 0);
        for (uint32_t p = 0; p < 8192; ++p) {
            words[p] = 27u << 27 | p << 14;
        }
        EXPECT_THROW(big.SetTable(words.data(), int(words.size())), FExceptionHuffman);
    }
    // Bits above a code's length are not part of it and cannot reach past the root.
    const std::vector<uint32_t> strayBits = {1u << 27 | 0x7FFFFFE, 1u << 27 | 1, 0, 0};
    d.SetTable(strayBits.data(), 4);
    const std::vector<uint8_t> bytes = {0x40};
    EXPECT_EQ(DecodeBlock(d, bytes, 3, 1), (std::vector<uint16_t>{0, 1, 0}));
}

namespace
{

// How a row is decoded byte-wise: the block, then the call without input, then the
// flush; empty when a code matches nothing or the block falls short.
std::vector<uint16_t> ByteWiseRow(FHuffmanDecoder& decoder, const std::vector<uint8_t>& bytes, int count)
{
    std::vector<uint16_t> out(size_t(count) + 1);
    int used = 0;
    int got = 0;
    int more = 0;
    decoder.Reset();
    try {
        decoder.Decode(bytes.data(), int(bytes.size()), used, out.data(), count, got);
        if (got < count) {
            decoder.Decode(nullptr, 0, used, out.data() + got, count - got, more);
        }
        decoder.DecodeFlush();
    } catch (const FExceptionHuffman&) {
        return {};
    }
    out.resize(size_t(got + more));
    return got + more == count ? out : std::vector<uint16_t>{};
}

} // namespace

TEST(FHuffmanDecoder, WholeBlockPathAgreesWithTheByteWiseDecoder)
{
    std::mt19937 rng(77);
    auto randomLengths = [&](int bits, int maxLength) {
        std::vector<uint64_t> freq(size_t(1) << bits, 0);
        for (int i = 0; i < 700; ++i) {
            freq[rng() % freq.size()] += 1 + (rng() % 3 == 0 ? rng() % 9000 : 0);
        }
        return rawcodec::LengthsFromFrequencies(freq, maxLength);
    };
    struct Case {
        const char* m_name;
        int m_iBits;
        std::vector<uint32_t> m_words;
        bool m_bComplete; // encoded blocks must take the whole-block path
    };
    std::vector<Case> cases = {
        {"10-bit symbols", 10, CanonicalCode(randomLengths(10, 27)).TableWords(), true},
        {"8-bit symbols", 8, CanonicalCode(randomLengths(8, 16)).TableWords(), true},
        {"codes up to 27 bits", 5, CanonicalCode(LengthsUpTo27()).TableWords(), true},
        {"longest code 1 bit", 2, CanonicalCode({1, 1, 0, 0}).TableWords(), true},
    };
    // Gaps (patterns no code has) read as the code before them; overlapping codes.
    std::vector<uint32_t> gappy = CanonicalCode(randomLengths(8, 20)).TableWords();
    for (size_t s = 0; s < gappy.size(); s += 3) {
        gappy[s] = 0;
    }
    cases.push_back({"incomplete code", 8, gappy, false});
    std::vector<uint32_t> hostile(256);
    for (auto& w : hostile) {
        w = rng() % 4 == 0 ? 0 : uint32_t(1 + rng() % 18) << 27 | (rng() & 0x3FFFF);
    }
    cases.push_back({"random table words", 8, hostile, false});

    for (const auto& c : cases) {
        SCOPED_TRACE(c.m_name);
        FHuffmanDecoder decoder(c.m_iBits);
        decoder.SetTable(c.m_words.data(), int(c.m_words.size()));
        decoder.Prepare();
        HuffmanCode code;
        std::vector<uint16_t> used;
        if (c.m_bComplete) {
            code.m_lengths.resize(c.m_words.size());
            code.m_codes.resize(c.m_words.size());
            for (size_t s = 0; s < c.m_words.size(); ++s) {
                code.m_lengths[s] = uint8_t(c.m_words[s] >> 27);
                code.m_codes[s] = c.m_words[s] & 0x7FFFFFF;
                if (code.m_lengths[s] != 0) {
                    used.push_back(uint16_t(s));
                }
            }
        }
        int agreed = 0;
        std::vector<uint8_t> previous;
        for (int block = 0; block < 300; ++block) {
            std::vector<uint8_t> bytes;
            int count = 1 + int(rng() % 200);
            if (c.m_bComplete && block % 3 != 2) {
                std::vector<uint16_t> symbols(static_cast<size_t>(count));
                for (auto& s : symbols) {
                    s = used[rng() % used.size()];
                }
                bytes = EncodeBlock(code, symbols);
                std::vector<uint16_t> got(size_t(count) + 1);
                ASSERT_TRUE(decoder.DecodeWholeBlock(bytes.data(), int(bytes.size()), got.data(), count));
                got.resize(size_t(count));
                ASSERT_EQ(got, symbols);
                // Asking for more symbols than were coded lets the padding decide.
                count += int(rng() % 3);
            } else {
                bytes.resize(1 + rng() % 40);
                for (auto& b : bytes) {
                    b = uint8_t(rng() % 5 == 0 ? 0 : rng());
                }
            }
            const std::vector<uint16_t> expected = ByteWiseRow(decoder, bytes, count);
            std::vector<uint16_t> got(size_t(count) + 1);
            const bool whole = decoder.DecodeWholeBlock(bytes.data(), int(bytes.size()), got.data(), count);
            if (whole) {
                got.resize(size_t(count));
                ASSERT_EQ(got, expected) << "block " << block;
                ++agreed;
            }
            // Two blocks at once: each as it is alone.
            if (!previous.empty()) {
                std::vector<uint16_t> first(size_t(count) + 1), second(size_t(count) + 1),
                    alone(size_t(count) + 1);
                const uint8_t* in[2] = {previous.data(), bytes.data()};
                const int inLen[2] = {int(previous.size()), int(bytes.size())};
                uint16_t* const out[2] = {first.data(), second.data()};
                bool decoded[2] = {false, false};
                decoder.DecodeWholeBlocks(in, inLen, out, count, decoded);
                const bool firstAlone =
                    decoder.DecodeWholeBlock(previous.data(), int(previous.size()), alone.data(), count);
                ASSERT_EQ(decoded[0], firstAlone);
                ASSERT_EQ(decoded[1], whole);
                if (firstAlone) {
                    ASSERT_TRUE(std::equal(first.begin(), first.begin() + count, alone.begin()));
                }
                if (whole) {
                    ASSERT_TRUE(std::equal(second.begin(), second.begin() + count, got.begin()));
                }
            }
            previous = bytes;
        }
        EXPECT_GT(agreed, 0);
    }
}
