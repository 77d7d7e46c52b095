#pragma once

// Raw container files that the whole development chain can process: a synthetic capture
// (raw and dark frames of 12-bit samples), the camera data that develops it, capture
// properties, and embedded preview images made from the same scene. Every file built with
// another seed carries another unique id, so that cached results never mix.

#include <array>
#include <cstdint>
#include <string>
#include <vector>

#include "BribFileBuilder.h"
#include "ByteWriter.h"

struct FSyntheticCapture;

namespace developtest
{

struct DevelopableRawOptions {
    int cols = 320;
    int rows = 240;
    uint32_t seed = 1;
    int rotation = 0;
    std::string whiteBalance = "Auto";
    // Exposure data of the capture properties ("SHUTTER" in seconds, "APERTURE"); an empty
    // text leaves the property out.
    std::string shutter = "0.008";
    std::string aperture = "8.0";
    // The camera's response to the scene's light (see MakeSyntheticCapture).
    std::array<double, 3> light = {1.0, 1.0, 1.0};
    // Columns of the embedded previews (rows follow the aspect ratio); none when empty.
    std::vector<int> previewCols = {160, 64};
    // Added to every byte of the embedded previews (a file that differs only there).
    int previewOffset = 0;
    // A dark-subtracted frame in place of the raw and dark frames.
    bool darkSubtracted = false;
    // JPEG-coded previews, as cameras embed them, in place of plain 24-bit rows.
    bool jpegPreviews = false;
    // Frames of the same size to use in place of the synthetic capture (not owned).
    const FSyntheticCapture* capture = nullptr;
};

rawtest::Bytes MakeDevelopableRaw(const DevelopableRawOptions& options);

// A sensor frame section (`imageType` 1 raw, 0 dark, 3 dark-subtracted) of three samples a
// pixel in `pixelType`, encoded in `format`.
rawtest::ImageSection FrameSection(int imageType, int format, int cols, int rows,
                                   const std::vector<uint16_t>& samples, int pixelType);

// The unique id MakeDevelopableRaw gives a file of this seed, as the loader reports it:
// 32 upper-case hexadecimal digits.
std::string DevelopableUniqueId(uint32_t seed);

} // namespace developtest
