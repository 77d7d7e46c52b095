#pragma once

// Photo-like input for the development benchmarks: the sample maker's photographs laid
// side by side (each at twice its size, every other one mirrored) over the active area of
// AddPlausibleCalibration, turned into linear camera counts under daylight, with shot and
// read noise. Frames as MakeSyntheticCapture gives them; the same for a size and seed.

#include <cstdint>
#include <string>
#include <vector>

#include "FSyntheticCapture.h"

namespace bench
{

// False with the reason when the photographs cannot be read (the package is missing).
bool MakePhotoCapture(int width, int height, uint32_t seed, FSyntheticCapture& capture, std::string& why);

// An 8-bit sRGB picture of the same mosaic, as a camera's embedded preview shows a scene;
// the seed moves the mosaic, so that pictures of other seeds differ. Rows packed.
bool MakePhotoPicture(int cols, int rows, uint32_t seed, std::vector<uint8_t>& rgb, std::string& why);

// The linear scene (raw less dark, 12 bits) scaled to 16 bits: what a reference pipeline
// reads as the development's input.
std::vector<uint16_t> Scene16(const FSyntheticCapture& capture);

} // namespace bench
