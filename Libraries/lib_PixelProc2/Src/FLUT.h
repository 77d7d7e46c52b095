#pragma once

#include <cstdint>

#include "FIntRGB.h"

// One 16-bit lookup table. Every index is ANDed with the mask (size - 1), so a table
// whose size is a power of two can never be left, and index -1 reaches the last entry.
// The record owns its data only when m_bOwnsData is set.
struct FLUT {
    int16_t* m_pData = nullptr;
    int32_t m_iMask = 0;
    int32_t m_iSize = 0;
    bool m_bOwnsData = false;

    FLUT() = default;
    // A table over data kept elsewhere (or handed over when ownsData).
    FLUT(int16_t* data, int32_t size, bool ownsData)
        : m_pData(data), m_iMask(size - 1), m_iSize(size), m_bOwnsData(ownsData)
    {
    }
    // A zeroed table of `size` entries that owns its data.
    explicit FLUT(int32_t size)
        : m_pData(new int16_t[size]()), m_iMask(size - 1), m_iSize(size), m_bOwnsData(true)
    {
    }
    ~FLUT()
    {
        if (m_bOwnsData)
            delete[] m_pData;
    }
    FLUT(const FLUT&) = delete;
    FLUT& operator=(const FLUT&) = delete;

    // The entry read as signed.
    int32_t Get(int32_t index) const { return m_pData[index & m_iMask]; }
    // The entry read as unsigned (0 to 65535): output codes.
    int32_t GetUnsigned(int32_t index) const { return static_cast<uint16_t>(m_pData[index & m_iMask]); }

    // Three lookups in the one table, entries read as unsigned.
    FIntRGB LookupRGB(int32_t r, int32_t g, int32_t b) const
    {
        return {GetUnsigned(r), GetUnsigned(g), GetUnsigned(b)};
    }
};

// Three 16-bit lookup tables of one size; entries are signed. When the record owns its
// data, the red pointer is the start of the one block that holds all three tables.
struct FColorLUT {
    int16_t* m_pRedData = nullptr;
    int16_t* m_pGreenData = nullptr;
    int16_t* m_pBlueData = nullptr;
    int32_t m_iMask = 0;
    int32_t m_iSize = 0;
    bool m_bOwnsData = false;

    FColorLUT() = default;
    FColorLUT(int16_t* red, int16_t* green, int16_t* blue, int32_t size, bool ownsData)
        : m_pRedData(red), m_pGreenData(green), m_pBlueData(blue), m_iMask(size - 1), m_iSize(size),
          m_bOwnsData(ownsData)
    {
    }
    // Zeroed tables of `size` entries each, in one owned block.
    explicit FColorLUT(int32_t size)
        : m_pRedData(new int16_t[3 * static_cast<int64_t>(size)]()), m_pGreenData(m_pRedData + size),
          m_pBlueData(m_pRedData + 2 * static_cast<int64_t>(size)), m_iMask(size - 1), m_iSize(size),
          m_bOwnsData(true)
    {
    }
    ~FColorLUT()
    {
        if (m_bOwnsData)
            delete[] m_pRedData;
    }
    FColorLUT(const FColorLUT&) = delete;
    FColorLUT& operator=(const FColorLUT&) = delete;

    // Channel 0, 1 or 2.
    int16_t* GetChannel(int c) const { return c == 0 ? m_pRedData : (c == 1 ? m_pGreenData : m_pBlueData); }

    FIntRGB Lookup(const FIntRGB& t) const
    {
        return {m_pRedData[t.r & m_iMask], m_pGreenData[t.g & m_iMask], m_pBlueData[t.b & m_iMask]};
    }
};
