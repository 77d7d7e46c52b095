#pragma once

// Turns a byte stream of Huffman codes (most significant bit first, codes of up
// to 27 bits) into symbols of n bits, through a two-level lookup table.

#include <cstdint>
#include <memory>

struct FHuffmanDecoderState;

class FHuffmanDecoder
{
public:
    // n symbol bits, 2 to 16; else FExceptionHuffman("Invalid number of bits").
    explicit FHuffmanDecoder(int n);
    ~FHuffmanDecoder();
    FHuffmanDecoder(const FHuffmanDecoder&) = delete;
    FHuffmanDecoder& operator=(const FHuffmanDecoder&) = delete;

    // One word per symbol, in symbol order: code length in bits 27-31, the code
    // right-aligned in bits 0-26; length 0 means the symbol has no code.
    void SetTable(const uint32_t* words, int count);
    void Reset();
    // Decodes at most outCount symbols; the outcome is told by inUsed and outUsed
    // only. A call without input (in null, inLen 0) decodes the bits still held,
    // padded with zero bits for the lookup, to finish a block.
    void Decode(const uint8_t* in, int inLen, int& inUsed, uint16_t* out, int outCount, int& outUsed);
    // Ends a block: the bits still held are dropped.
    void DecodeFlush();

    // Builds the lookup tables of the table set last (Decode otherwise builds them at
    // its first input); FExceptionHuffman without a valid table.
    void Prepare();
    // Decodes exactly `count` symbols from the start of one whole block, reading no byte
    // outside it. True only when every one of them is a code wholly inside the block, in
    // which case Decode on the block (with no bits held), Decode without input and
    // DecodeFlush give the same symbols; otherwise false, and that sequence tells the block's outcome. Leaves
    // the decoder's state alone, so that several threads may call it at once after
    // Prepare.
    bool DecodeWholeBlock(const uint8_t* in, int inLen, uint16_t* out, int count) const;
    // Two blocks of `count` symbols each at once, each told as DecodeWholeBlock tells it.
    void DecodeWholeBlocks(const uint8_t* const in[2], const int inLen[2], uint16_t* const out[2], int count,
                           bool decoded[2]) const;

private:
    std::unique_ptr<FHuffmanDecoderState> m_pState;
};
