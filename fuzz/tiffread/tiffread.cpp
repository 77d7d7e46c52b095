// Runs the TIFF reader over arbitrary bytes: header, every scale, a read into
// the native type and into a converted type, and the properties. Any exception
// of the framework is an accepted outcome; a crash, a leak or a read outside a
// buffer is not.

#include "FException.h"
#include "FMemStorageClass.h"
#include "FPixmap.h"
#include "FPropList.h"
#include "FTiffImageReader.h"
#include "FWideString.h"

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace
{

// Pixmaps above this are not allocated: the reader's size checks are what is
// under test, not the allocator.
constexpr uint64_t kMaxFuzzPixmapBytes = uint64_t(16) << 20;

FMemStorageClass* Storage()
{
    static FMemStorageClass* storage = RegisterMemStorageClass(FWideString("tifffuzz"));
    return storage;
}

void ReadInto(FTiffImageReader& reader, int type, int cols, int rows)
{
    const int bpp = GetPixelTypeBytesPerPixel(type);
    const uint64_t bytes = uint64_t(cols) * uint64_t(rows) * uint64_t(bpp);
    if (bpp == 0 || cols <= 0 || rows <= 0 || bytes > kMaxFuzzPixmapBytes)
        return;
    std::vector<uint8_t> buffer(bytes);
    std::unique_ptr<FPixmap> pixmap(NewFPixmap(type, buffer.data(), cols, rows, cols * bpp));
    try {
        reader.ReadImage(*pixmap);
    } catch (const FException&) {
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    Storage()->PutFile(FWideString("input.tif"), std::string(reinterpret_cast<const char*>(data), size));
    try {
        FTiffImageReader reader(FWideString("tifffuzz://input.tif"));
        FPropList list(nullptr, "props");
        reader.GetProperties(&list);
        for (int scale = 2; scale >= 0; --scale) {
            reader.SetScale(scale);
            int cols = 0, rows = 0, type = 0;
            reader.GetDimensions(cols, rows, type);
            ReadInto(reader, type, cols, rows);
            if (scale == 0)
                ReadInto(reader,
                         type == FPixmap::PIXEL_16_MONO ? FPixmap::PIXEL_8_MONO : FPixmap::PIXEL_32_BGRA,
                         cols, rows);
        }
    } catch (const FException&) {
    }
    return 0;
}
