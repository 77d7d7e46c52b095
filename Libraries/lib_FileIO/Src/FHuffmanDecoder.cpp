#include "FHuffmanDecoder.h"

#include "FByteOrder.h"
#include "FException.h"

#include <algorithm>
#include <vector>

namespace
{

constexpr int kMinSymbolBits = 2;
constexpr int kMaxSymbolBits = 16;
constexpr int kMaxCodeLength = 27;
constexpr int kMaxRegisterBits = 32;
// Sub-tables of a hostile table could otherwise reach gigabytes.
constexpr size_t kMaxSubTableEntries = size_t(1) << 22;

constexpr int kStateConstructed = 0;
constexpr int kStateReset = 4;
constexpr int kStateTablePending = 6;
constexpr int kStateDecoding = 7;

// An entry that no code reaches is kNoCode, never a symbol: the value 0x7FFF is a
// real symbol once symbols have 15 bits or more.
enum : uint8_t { kUnset = 0, kLeaf = 1, kNode = 2, kNoCode = 3 };

// The direct table answers most codes in one lookup of up to this many bits.
constexpr int kMaxFastBits = 12;
// A direct entry is a symbol in bits 0-15 and its code length in bits 16-20, or one of:
constexpr uint32_t kFastLong = uint32_t(1) << 31; // longer than the direct lookup: use the tree
constexpr uint32_t kFastNone = uint32_t(1) << 30; // the bits match no code

struct Entry {
    uint16_t m_uiValue = 0; // leaf: the symbol; node: the sub-table's bits
    uint8_t m_uiLength = 0; // leaf: the symbol's code length
    uint8_t m_uiKind = kUnset;
};

} // namespace

struct FHuffmanDecoderState {
    int m_iSymbolBits = 0;
    int m_iSymbolCount = 0;
    int m_iSymbolMask = 0;
    std::vector<uint8_t> m_codeLengths;
    std::vector<uint32_t> m_codes;
    int m_iLongest = 0;
    bool m_bTableValid = false;
    int m_iState = kStateConstructed;
    int m_iSpareCount = 0;
    uint32_t m_uiSpareBits = 0;

    int m_iRootBits = 0;
    std::vector<Entry> m_root;
    std::vector<uint32_t> m_subOffset; // per root entry that is a node
    std::vector<Entry> m_sub;          // every sub-table, one after the other
    bool m_bTreeBuilt = false;         // the tables above belong to the table last set

    int m_iFastBits = 0;
    std::vector<uint32_t> m_fast; // the tree's answer for every m_iFastBits-bit pattern

    void BuildTree();
    void BuildFastTable();
};

namespace
{

// Nearest earlier set entry decides a gap: a leaf is copied (the gap lies under its
// code); after a sub-table or before any entry no code reaches the gap.
void FillGaps(Entry* entries, size_t count)
{
    const Entry* last = nullptr;
    for (size_t i = 0; i < count; ++i) {
        Entry& e = entries[i];
        if (e.m_uiKind != kUnset) {
            last = &e;
            continue;
        }
        if (last != nullptr && last->m_uiKind == kLeaf) {
            e = *last;
            continue;
        }
        e.m_uiKind = kNoCode;
    }
}

} // namespace

void FHuffmanDecoderState::BuildTree()
{
    const int longest = m_iLongest;
    const int rootBits = longest / 2;
    m_iRootBits = rootBits;
    m_root.assign(size_t(1) << rootBits, Entry{});
    m_subOffset.assign(m_root.size(), 0);
    m_sub.clear();

    for (int len = longest; len > rootBits; --len) {
        const int extra = len - rootBits;
        for (int s = 0; s < m_iSymbolCount; ++s) {
            if (m_codeLengths[s] != len) {
                continue;
            }
            const uint32_t code = m_codes[s];
            const uint32_t prefix = code >> extra;
            Entry& root = m_root[prefix];
            if (root.m_uiKind != kNode) {
                if (m_sub.size() + (size_t(1) << extra) > kMaxSubTableEntries) {
                    throw FExceptionHuffman("Huffman table too large");
                }
                root.m_uiKind = kNode;
                root.m_uiValue = uint16_t(extra);
                m_subOffset[prefix] = uint32_t(m_sub.size());
                m_sub.resize(m_sub.size() + (size_t(1) << extra));
            }
            const int bits = root.m_uiValue;
            const uint32_t index = (code << (bits - extra)) & ((uint32_t(1) << bits) - 1);
            Entry& leaf = m_sub[m_subOffset[prefix] + index];
            leaf.m_uiKind = kLeaf;
            leaf.m_uiValue = uint16_t(s);
            leaf.m_uiLength = uint8_t(len);
        }
    }
    for (int len = rootBits; len >= 1; --len) {
        for (int s = 0; s < m_iSymbolCount; ++s) {
            if (m_codeLengths[s] != len) {
                continue;
            }
            Entry& leaf = m_root[m_codes[s] << (rootBits - len)];
            leaf.m_uiKind = kLeaf;
            leaf.m_uiValue = uint16_t(s);
            leaf.m_uiLength = uint8_t(len);
        }
    }
    for (size_t p = 0; p < m_root.size(); ++p) {
        if (m_root[p].m_uiKind == kNode) {
            FillGaps(&m_sub[m_subOffset[p]], size_t(1) << m_root[p].m_uiValue);
        }
    }
    FillGaps(m_root.data(), m_root.size());
    BuildFastTable();
    m_bTreeBuilt = true;
}

// Composed from the tree rather than from the codes, so that both give the same symbol
// for every bit pattern, the gap fills of an incomplete table included.
void FHuffmanDecoderState::BuildFastTable()
{
    const int bits = std::max({m_iRootBits, std::min(m_iLongest, kMaxFastBits), 1});
    m_iFastBits = bits;
    m_fast.assign(size_t(1) << bits, kFastNone);
    for (uint32_t i = 0; i < m_fast.size(); ++i) {
        const uint32_t prefix = i >> (bits - m_iRootBits);
        const Entry* e = &m_root[prefix];
        if (e->m_uiKind == kNode) {
            const int total = m_iRootBits + e->m_uiValue;
            if (total > bits) {
                m_fast[i] = kFastLong;
                continue;
            }
            const uint32_t index = (i >> (bits - total)) & ((uint32_t(1) << e->m_uiValue) - 1);
            e = &m_sub[m_subOffset[prefix] + index];
        }
        if (e->m_uiKind == kLeaf) {
            m_fast[i] = uint32_t(e->m_uiValue) | uint32_t(e->m_uiLength) << 16;
        }
    }
}

FHuffmanDecoder::FHuffmanDecoder(int n)
{
    if (n < kMinSymbolBits || n > kMaxSymbolBits) {
        throw FExceptionHuffman("Invalid number of bits");
    }
    m_pState = std::make_unique<FHuffmanDecoderState>();
    m_pState->m_iSymbolBits = n;
    m_pState->m_iSymbolCount = 1 << n;
    m_pState->m_iSymbolMask = (1 << n) - 1;
    m_pState->m_codeLengths.assign(size_t(1) << n, 0);
    m_pState->m_codes.assign(size_t(1) << n, 0);
}

FHuffmanDecoder::~FHuffmanDecoder() = default;

void FHuffmanDecoder::SetTable(const uint32_t* words, int count)
{
    FHuffmanDecoderState& st = *m_pState;
    if (count < 0 || count > st.m_iSymbolCount || (count > 0 && words == nullptr)) {
        throw FExceptionHuffman("Invalid Huffman table size");
    }
    std::vector<uint8_t> lengths(st.m_iSymbolCount, 0);
    std::vector<uint32_t> codes(st.m_iSymbolCount, 0);
    int longest = 0;
    for (int i = 0; i < count; ++i) {
        const int len = int(words[i] >> 27);
        if (len > kMaxCodeLength) {
            throw FExceptionHuffman("Invalid Huffman code length");
        }
        lengths[i] = uint8_t(len);
        // Only the code's own low bits count; stray high bits must not index past the root.
        codes[i] = len == 0 ? 0 : (words[i] & 0x7FFFFFF) & ((uint32_t(1) << len) - 1);
        longest = std::max(longest, len);
    }
    // The sub-tables are sized now, so that a table too large fails here, once, and
    // not at every block that tries to build its tree.
    const int rootBits = longest / 2;
    std::vector<uint8_t> widest(size_t(1) << rootBits, 0);
    for (int i = 0; i < count; ++i) {
        if (lengths[i] > rootBits) {
            uint8_t& w = widest[codes[i] >> (lengths[i] - rootBits)];
            w = std::max(w, uint8_t(lengths[i] - rootBits));
        }
    }
    size_t subEntries = 0;
    for (uint8_t w : widest) {
        subEntries += w == 0 ? 0 : size_t(1) << w;
    }
    if (subEntries > kMaxSubTableEntries) {
        throw FExceptionHuffman("Huffman table too large");
    }
    st.m_codeLengths.swap(lengths);
    st.m_codes.swap(codes);
    st.m_iLongest = longest;
    st.m_bTableValid = true;
    st.m_bTreeBuilt = false;
}

void FHuffmanDecoder::Reset()
{
    m_pState->m_iState = kStateReset;
    m_pState->m_iSpareCount = 0;
    m_pState->m_uiSpareBits = 0;
}

void FHuffmanDecoder::DecodeFlush()
{
    if (m_pState->m_iState != kStateDecoding) {
        throw FExceptionHuffman("DecodeFlush() not decoding data!");
    }
    m_pState->m_iSpareCount = 0;
    m_pState->m_uiSpareBits = 0;
}

// The bits still held (the spare register) and the call's input form one stream,
// kept in a 64-bit window: `window` holds `held` bits at its top, the rest zero,
// so that a lookup past the real bits reads zero padding. The register state of
// the byte-wise reader is recovered at the end of the call from how far the stream
// was read, which decides how many input bytes count as used.
void FHuffmanDecoder::Decode(const uint8_t* in, int inLen, int& inUsed, uint16_t* out, int outCount,
                             int& outUsed)
{
    FHuffmanDecoderState& st = *m_pState;
    inUsed = 0;
    outUsed = 0;
    if (in == nullptr || inLen < 0) {
        inLen = 0;
    }
    const bool hasInput = inLen > 0;

    if (st.m_iState == kStateReset) {
        if (!hasInput) {
            return;
        }
        st.m_iState = kStateTablePending;
    }
    if (st.m_iState == kStateTablePending) {
        if (!st.m_bTableValid) {
            throw FExceptionHuffman("Can't build decoding tree without a valid table!");
        }
        if (!st.m_bTreeBuilt) {
            st.BuildTree();
        }
        st.m_iState = kStateDecoding;
    }
    if (st.m_iState != kStateDecoding) {
        throw FExceptionHuffman("Decode() invalid state!");
    }

    const int rootBits = st.m_iRootBits;
    const int spare0 = st.m_iSpareCount;
    uint64_t window = spare0 == 0 ? 0 : uint64_t(st.m_uiSpareBits) << (64 - spare0);
    int held = spare0;
    int pos = 0;             // input bytes moved into the window
    int64_t consumed = 0;    // stream bits used by decoded symbols
    int64_t extent = spare0; // stream bits the byte-wise reader has opened

    auto refill = [&]() {
        while (held <= 56 && pos < inLen) {
            window |= uint64_t(in[pos]) << (56 - held);
            held += 8;
            ++pos;
        }
    };
    auto peek = [&](int bits) -> uint32_t { return bits == 0 ? 0 : uint32_t(window >> (64 - bits)); };
    // The furthest stream bit any lookup has read; the reader opens whole bytes, so
    // its opened extent is that bit rounded up to the end of its input byte.
    int64_t reach = 0;
    auto open = [&](int64_t upTo) {
        if (upTo > extent) {
            extent = spare0 + (upTo - spare0 + 7) / 8 * 8;
        }
    };

    while (outUsed < outCount) {
        if (held < 32) {
            refill();
        }
        // With input left the window holds at least 32 bits, more than any lookup needs.
        const int avail = held;
        const bool more = pos < inLen;
        int pad = 0;
        if (!more && avail < rootBits) {
            if (hasInput || avail == 0) {
                break;
            }
            pad = rootBits - avail;
        }
        const Entry& root = st.m_root[peek(rootBits)];
        const Entry* hit = &root;
        int bitsRead = rootBits - pad;
        if (root.m_uiKind == kNode) {
            if (pad > 0) {
                break;
            }
            const int subBits = root.m_uiValue;
            const int total = rootBits + subBits;
            int subPad = 0;
            if (!more && avail < total) {
                if (hasInput) {
                    reach = std::max<int64_t>(reach, consumed + rootBits);
                    break;
                }
                subPad = total - avail;
            }
            const uint32_t index = peek(total) & ((uint32_t(1) << subBits) - 1);
            hit = &st.m_sub[st.m_subOffset[peek(rootBits)] + index];
            bitsRead = total - subPad;
        }
        if (hit->m_uiKind != kLeaf) {
            throw FExceptionHuffman("Decode() bit pattern matches no code");
        }
        const int length = hit->m_uiLength;
        reach = std::max<int64_t>(reach, consumed + bitsRead);
        if (length > bitsRead) {
            // Completed only by padding: not a symbol of this block.
            break;
        }
        out[outUsed++] = hit->m_uiValue;
        window <<= length;
        held -= length;
        consumed += length;
    }

    // Where the byte-wise reader stands: `reg` bits held, input used up to `used`.
    // Bits pushed back never exceed a lookup's width, so with codes of at most 27
    // bits the register stays within 32; the check guards that reasoning.
    open(reach);
    int64_t reg = extent - consumed;
    if (reg > kMaxRegisterBits) {
        throw FExceptionHuffman("Overflow of spare bits register");
    }
    int64_t used = (extent - spare0) / 8;
    if (outUsed < outCount && used < inLen) {
        while (reg <= 24 && used < inLen) {
            reg += 8;
            ++used;
        }
    }
    // The register is the first `reg` bits of the stream that is left.
    refill();
    st.m_iSpareCount = int(reg);
    st.m_uiSpareBits = reg == 0 ? 0 : uint32_t(window >> (64 - reg));
    inUsed = int(used);
}

void FHuffmanDecoder::Prepare()
{
    FHuffmanDecoderState& st = *m_pState;
    if (!st.m_bTableValid) {
        throw FExceptionHuffman("Can't build decoding tree without a valid table!");
    }
    if (!st.m_bTreeBuilt) {
        st.BuildTree();
    }
}

namespace
{

// One block decoded whole. The window holds `held` bits at its top; below them it holds
// only zeros or the stream's own next bits, so that a whole 8-byte load can be ORed in at
// any time. Past the block the stream reads as zeros, as Decode pads it; whether every
// code ended inside the block is told once, from how far the stream was read.
struct WholeBlock {
    const uint8_t* m_pIn = nullptr;
    size_t m_uiLen = 0;
    uint16_t* m_pOut = nullptr;
    int m_iCount = 0;
    uint64_t m_uiWindow = 0;
    int m_iHeld = 0;
    size_t m_uiPos = 0; // bytes counted into m_iHeld so far (past the end once padding)
    int m_iDone = 0;
    bool m_bFailed = false;

    WholeBlock(const uint8_t* in, int inLen, uint16_t* out, int count)
        : m_pIn(in), m_uiLen(size_t(std::max(inLen, 0))), m_pOut(out), m_iCount(count),
          m_bFailed(in == nullptr || inLen <= 0 || count <= 0)
    {
    }
    bool Running() const { return !m_bFailed && m_iDone < m_iCount; }
    bool Decoded() const { return !m_bFailed && int64_t(m_uiPos) * 8 - m_iHeld <= int64_t(m_uiLen) * 8; }
};

// Codes are at most 27 bits, so the 56 bits a refill leaves serve two of them.
// `fast` and `fastShift` are the state's direct table and 64 minus its width, held by the
// caller so that they stay in registers.
[[gnu::always_inline]] inline void DecodeTwo(const FHuffmanDecoderState& st, const uint32_t* fast,
                                             int fastShift, WholeBlock& b)
{
    if (b.m_uiPos + 8 <= b.m_uiLen) {
        b.m_uiWindow |= LoadBE64(b.m_pIn + b.m_uiPos) >> b.m_iHeld;
        b.m_uiPos += size_t(63 - b.m_iHeld) >> 3;
        b.m_iHeld |= 56;
    } else {
        while (b.m_iHeld <= 56) {
            b.m_uiWindow |= uint64_t(b.m_uiPos < b.m_uiLen ? b.m_pIn[b.m_uiPos] : 0) << (56 - b.m_iHeld);
            b.m_iHeld += 8;
            ++b.m_uiPos;
        }
    }
    for (int k = 0; k < 2 && b.m_iDone < b.m_iCount; ++k) {
        uint32_t e = fast[b.m_uiWindow >> fastShift];
        if (e >= kFastNone) {
            if (e == kFastNone) {
                b.m_bFailed = true;
                return;
            }
            const int rootBits = st.m_iRootBits;
            const uint32_t prefix = rootBits == 0 ? 0 : uint32_t(b.m_uiWindow >> (64 - rootBits));
            const Entry& root = st.m_root[prefix];
            const int total = rootBits + root.m_uiValue;
            const uint32_t index =
                uint32_t(b.m_uiWindow >> (64 - total)) & ((uint32_t(1) << root.m_uiValue) - 1);
            const Entry& leaf = st.m_sub[st.m_subOffset[prefix] + index];
            if (leaf.m_uiKind != kLeaf) {
                b.m_bFailed = true;
                return;
            }
            e = uint32_t(leaf.m_uiValue) | uint32_t(leaf.m_uiLength) << 16;
        }
        const int length = int(e >> 16);
        b.m_pOut[b.m_iDone++] = uint16_t(e);
        b.m_uiWindow <<= length;
        b.m_iHeld -= length;
    }
}

} // namespace

bool FHuffmanDecoder::DecodeWholeBlock(const uint8_t* in, int inLen, uint16_t* out, int count) const
{
    const FHuffmanDecoderState& st = *m_pState;
    if (!st.m_bTreeBuilt) {
        return false;
    }
    const uint32_t* fast = st.m_fast.data();
    const int fastShift = 64 - st.m_iFastBits;
    WholeBlock b(in, inLen, out, count);
    while (b.Running()) {
        DecodeTwo(st, fast, fastShift, b);
    }
    return b.Decoded();
}

// The two streams' steps alternate, so that the processor overlaps their lookups.
void FHuffmanDecoder::DecodeWholeBlocks(const uint8_t* const in[2], const int inLen[2],
                                        uint16_t* const out[2], int count, bool decoded[2]) const
{
    const FHuffmanDecoderState& st = *m_pState;
    if (!st.m_bTreeBuilt) {
        decoded[0] = decoded[1] = false;
        return;
    }
    const uint32_t* fast = st.m_fast.data();
    const int fastShift = 64 - st.m_iFastBits;
    WholeBlock a(in[0], inLen[0], out[0], count);
    WholeBlock b(in[1], inLen[1], out[1], count);
    while (a.Running() && b.Running()) {
        DecodeTwo(st, fast, fastShift, a);
        DecodeTwo(st, fast, fastShift, b);
    }
    while (a.Running()) {
        DecodeTwo(st, fast, fastShift, a);
    }
    while (b.Running()) {
        DecodeTwo(st, fast, fastShift, b);
    }
    decoded[0] = a.Decoded();
    decoded[1] = b.Decoded();
}
