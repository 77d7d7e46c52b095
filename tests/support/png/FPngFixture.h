#pragma once

#include <cstdint>
#include <string>
#include <vector>

// PNG files built in memory for tests: the rows are given as the file stores them
// (packed samples, 16-bit samples big-endian), without filter bytes.
struct FPngFixture {
    // Colour types as the format numbers them.
    enum { kGrey = 0, kRGB = 2, kPalette = 3, kGreyAlpha = 4, kRGBA = 6 };

    int width = 1;
    int height = 1;
    int colourType = kRGB;
    int bitDepth = 8;
    bool interlaced = false;
    std::vector<uint8_t> rows;
    std::vector<uint8_t> palette;      // red, green, blue per entry
    std::vector<uint8_t> transparency; // the tRNS chunk's bytes, or empty

    std::string Encode() const;
};

// A width x height RGBA image (8 bits) from pixels given as red, green, blue, alpha.
std::string EncodeRgbaPng(int width, int height, const std::vector<uint8_t>& rgba);
