// The JPEG reader over arbitrary bytes held in memory.
// Input: a byte of options (bits 0-1 the scale, bits 2-5 the destination pixel
// type), then the stream.
#include "FException.h"
#include "FJPEGImageReader.h"
#include "FPixmap.h"
#include "FPropList.h"

#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

namespace
{
// Pixmaps the replay allocates stay small; larger images are refused after their header.
constexpr int64_t kMaxFuzzPixels = int64_t(1) << 20;
} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size < 1) {
        return 0;
    }
    const int scale = data[0] & 3;
    const int wanted = 1 + (data[0] >> 2) % 17;
    try {
        FJPEGImageReader reader(data + 1, size - 1);
        reader.SetScale(scale);
        FPropList list(nullptr, "fuzz");
        reader.GetProperties(&list);
        int cols = 0, rows = 0, type = 0;
        reader.GetDimensions(cols, rows, type);
        if (int64_t(cols) * rows > kMaxFuzzPixels) {
            return 0;
        }
        const int destType = (data[0] >> 2) == 0 ? type : wanted;
        const int bytes = GetPixelTypeBytesPerPixel(destType);
        std::vector<uint8_t> buffer(size_t(cols) * size_t(rows) * size_t(bytes));
        std::unique_ptr<FPixmap> pixmap(NewFPixmap(destType, buffer.data(), cols, rows, cols * bytes));
        reader.ReadImage(*pixmap);
    } catch (const FException&) {
    }
    return 0;
}
