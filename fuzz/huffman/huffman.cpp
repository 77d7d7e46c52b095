// Huffman decoder over arbitrary tables and streams.
// Input: symbol bits (byte 0), table word count (byte 1, times 4), the table
// words (little-endian), then blocks, each a length byte and its bytes.
#include "FException.h"
#include "FHuffmanDecoder.h"

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size < 2) {
        return 0;
    }
    // Mostly small symbols, so that a table fits in the input; sometimes 16 bits.
    const int bits = data[0] == 0xFF ? 16 : 2 + data[0] % 9;
    size_t pos = 2;
    std::vector<uint32_t> words;
    for (int i = 0; i < data[1] * 4 && pos + 4 <= size; ++i, pos += 4) {
        words.push_back(uint32_t(data[pos]) | uint32_t(data[pos + 1]) << 8 | uint32_t(data[pos + 2]) << 16 |
                        uint32_t(data[pos + 3]) << 24);
    }
    try {
        FHuffmanDecoder decoder(bits);
        decoder.Reset();
        decoder.SetTable(words.data(), int(words.size()));
        // A second decoder decodes every block whole, as rows are: where its whole-block
        // path answers, the byte-wise one must give the same symbols.
        FHuffmanDecoder rows(bits);
        rows.SetTable(words.data(), int(words.size()));
        rows.Prepare();
        std::vector<uint16_t> out(4096);
        std::vector<uint16_t> whole(4096);
        std::vector<uint16_t> byteWise(4096);
        while (pos < size) {
            const size_t len = std::min<size_t>(data[pos], size - pos - 1);
            const uint8_t* block = data + pos + 1;
            pos += 1 + len;
            const int wanted = 1 + int(len) * 3;
            if (rows.DecodeWholeBlock(block, int(len), whole.data(), wanted)) {
                int inUsed = 0;
                int got = 0;
                int more = 0;
                rows.Reset();
                try {
                    rows.Decode(block, int(len), inUsed, byteWise.data(), wanted, got);
                    rows.Decode(nullptr, 0, inUsed, byteWise.data() + got, wanted - got, more);
                    rows.DecodeFlush();
                } catch (const FExceptionHuffman&) {
                    __builtin_trap();
                }
                if (got + more != wanted ||
                    !std::equal(whole.begin(), whole.begin() + wanted, byteWise.begin())) {
                    __builtin_trap();
                }
            }
            int produced = 0;
            // Fed in two pieces, then finished without input, as the row decoder does.
            const int first = int(len / 2);
            try {
                int inUsed = 0;
                int got = 0;
                decoder.Decode(block, first, inUsed, out.data(), wanted, got);
                produced += got;
                decoder.Decode(block + inUsed, int(len) - inUsed, inUsed, out.data() + produced,
                               wanted - produced, got);
                produced += got;
                decoder.Decode(nullptr, 0, inUsed, out.data() + produced, wanted - produced, got);
                produced += got;
                for (int i = 0; i < produced; ++i) {
                    if (out[size_t(i)] >= (1u << bits)) {
                        __builtin_trap();
                    }
                }
                decoder.DecodeFlush();
            } catch (const FExceptionHuffman&) {
                decoder.Reset();
            }
        }
    } catch (const FExceptionHuffman&) {
    }
    return 0;
}
