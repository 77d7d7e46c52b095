#pragma once

// Raw container files that the manager develops end to end: a raw and a dark frame of a
// synthetic capture (or its dark-subtracted frame alone), a plausible calibration as
// camera data, capture properties and a header with its own unique id.

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "ByteWriter.h"

namespace mgrtest
{

// Stage-2 steps that tests switch off to stay fast: FIR and the chroma blur.
inline constexpr uint32_t kFastSkipFlags = 0x400000 | 0x200000;

struct RawFileOptions {
    int width = 256;
    int height = 192;
    uint32_t seed = 1;
    // Every byte of the header's unique id (files that differ need different ids).
    uint8_t idByte = 1;
    int rotation = 0;
    std::string wbLabel;
    bool rawFrame = true;
    bool darkFrame = true;
    // Only a dark-subtracted frame (image type 3), no raw and dark frames.
    bool darkSubtractedOnly = false;
    bool camfile = true;
    uint32_t skipFlags = kFastSkipFlags;
    // Renames the "CustomRGBNeutral" matrix so that the camera has none.
    bool noCustomNeutral = false;
    std::string model = "Synthetic 3";
};

rawtest::Bytes MakeRawFile(const RawFileOptions& options);
// The camera data of such a file, as a "BCMb" buffer (also an external camera-data file).
std::vector<uint8_t> MakeManagerCamdata(int width, int height, uint32_t skipFlags,
                                        bool noCustomNeutral = false);

} // namespace mgrtest
