#pragma once

// JPEG streams stored in raw files (pixel format 18), decoded from memory.

#include <cstdint>

class FBribPayload;
class FPixmap;

// Streams larger than this are refused rather than held in memory.
inline constexpr uint64_t kMaxEmbeddedJPEGBytes = uint64_t(256) << 20;

// Decodes the payload's JPEG stream at full size into the pixmap; false when
// the stream cannot be held in memory. Errors of the stream throw as the JPEG
// reader's do.
bool DecodeEmbeddedJPEG(FBribPayload& payload, FPixmap& pixmap);
