#pragma once

// JPEG streams stored in raw files (pixel format 18), decoded from memory.

#include <cstdint>

class FBribPayload;
class FPixmap;

// Streams larger than this are refused rather than held in memory.
inline constexpr uint64_t kMaxEmbeddedJPEGBytes = uint64_t(256) << 20;

// Decodes the payload's JPEG stream into the pixmap, each side divided by 2^reduction
// (0..3, rounded up) by the decoder's own scaling, within the preview budget; false when
// the stream cannot be held in memory or the cancel byte (may be null) was set. Errors
// of the stream and a budget exceeded throw as the JPEG reader's do.
bool DecodeEmbeddedJPEG(FBribPayload& payload, FPixmap& pixmap, int reduction = 0,
                        const char* cancel = nullptr);

// Columns or rows of a JPEG decoded at that reduction.
inline int ReducedJPEGSide(int side, int reduction)
{
    return reduction <= 0 ? side : int((int64_t(side) + (int64_t(1) << reduction) - 1) >> reduction);
}
