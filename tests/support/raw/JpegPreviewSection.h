#pragma once

// Embedded previews as cameras write them: a baseline JPEG stream in an image section of
// pixel format 18, which the container reader decodes through the JPEG reader.

#include <cstdint>

#include "BribFileBuilder.h"

namespace rawtest
{

inline constexpr uint32_t kPreviewFormatJPEG = 18;

// 8-bit RGB pixels, rows packed, coded at the writer's quality index (0 to 12).
ImageSection JpegPreviewSection(const uint8_t* rgb, int cols, int rows, int qualityIndex = 9);

// A box-filtered copy of a larger RGB picture, `cols` wide (rows follow the aspect ratio),
// rows packed.
std::vector<uint8_t> BoxShrink(const uint8_t* rgb, int cols, int rows, int outCols, int& outRows);

} // namespace rawtest
