#pragma once

#include <cstdint>

class FIFile;
class FPixmap_Display;

// Limits on decoded skins: a file may not make us allocate more than this.
inline constexpr int kMaxPngSide = 16384;
inline constexpr int64_t kMaxPngPixels = int64_t(16) << 20;

// Decodes a PNG file from its start into a new display pixmap (blue, green, red, alpha;
// colour types without alpha come out opaque, grey as grey colour). On success the caller
// owns the pixmap (free it with FreePngPixmap) and still owns the file; on failure (not a
// PNG, damaged or truncated data, a size over the limits, no memory) the result is null
// and the file has been released.
FPixmap_Display* LoadPngPixmap(FIFile* file);

// Frees the pixels and the header of a pixmap from LoadPngPixmap and clears the holder.
void FreePngPixmap(FPixmap_Display*& holder);

// Writes `pixmap` as an 8-bit PNG with alpha through `file`; false when the pixmap has no
// pixels or the file refused the bytes. The file stays the caller's.
bool SavePngPixmap(const FPixmap_Display& pixmap, FIFile* file);
