#pragma once

// Reading back what a save wrote: the bytes of a file and the ICC profile it embeds, read
// independently of our own writers.

#include <cstdint>
#include <string>
#include <vector>

// The whole file, or nothing when it cannot be opened.
std::string ReadAll(const std::string& path);

// The ICC profile embedded in a TIFF file, read with the TIFF library itself.
std::vector<uint8_t> TiffProfile(const std::string& path);

// The profile of a JPEG file's APP2 markers, joined in their sequence.
std::vector<uint8_t> JpegProfile(const std::string& bytes);
