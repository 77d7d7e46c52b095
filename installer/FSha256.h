#pragma once

// SHA-256 of a byte stream, fed in pieces; the installer records it for every
// file it writes so that removal can tell its own files from the user's.

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>

class FSha256
{
public:
    FSha256();
    void Add(const void* data, size_t size);
    // The digest as 64 lower-case hex digits; the object starts over afterwards.
    std::string FinishHex();

private:
    void priBlock(const uint8_t* block);

    std::array<uint32_t, 8> m_state;
    std::array<uint8_t, 64> m_buffer;
    size_t m_iBuffered = 0;
    uint64_t m_iTotal = 0;
};
