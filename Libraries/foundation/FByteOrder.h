#pragma once

#include <cstdint>

// File fields are read and written byte by byte at their offsets, whatever the host's
// byte order or alignment.

inline uint16_t LoadLE16(const uint8_t* p)
{
    return uint16_t(p[0] | p[1] << 8);
}

inline uint32_t LoadLE32(const uint8_t* p)
{
    return uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24;
}

inline uint32_t LoadBE32(const uint8_t* p)
{
    return uint32_t(p[3]) | uint32_t(p[2]) << 8 | uint32_t(p[1]) << 16 | uint32_t(p[0]) << 24;
}

inline uint64_t LoadBE64(const uint8_t* p)
{
    return uint64_t(LoadBE32(p)) << 32 | LoadBE32(p + 4);
}

inline void StoreLE16(uint8_t* p, uint16_t v)
{
    p[0] = uint8_t(v);
    p[1] = uint8_t(v >> 8);
}

inline void StoreLE32(uint8_t* p, uint32_t v)
{
    p[0] = uint8_t(v);
    p[1] = uint8_t(v >> 8);
    p[2] = uint8_t(v >> 16);
    p[3] = uint8_t(v >> 24);
}
