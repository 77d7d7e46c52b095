#include "BribReaderExercise.h"

#include "FBribImageReader.h"
#include "FPropList.h"

#include <cstring>
#include <vector>

namespace rawtest
{

void ExerciseBribReader(const FWideString& url)
{
    FBribImageReader reader(url.GetBuffer());
    volatile size_t sink = 0;
    sink = sink + size_t(reader.GetDimensions().first) + reader.GetMarkBits() + reader.GetRotation();
    sink = sink + reader.GetUniqueID()[15];
    if (const char* label = reader.GetWBLabel())
        sink = sink + std::strlen(label);
    for (int slot = -1; slot <= reader.GetExtDataCount(); ++slot)
        sink = sink + size_t(reader.GetExtDataType(slot)) + reader.GetExtDataValue(slot);

    FPropList list(nullptr, "properties");
    reader.GetProperties(&list);

    const int camfiles = reader.GetCamfileCount();
    for (int n = 0; n < camfiles; ++n) {
        int size = 0, kind = 0;
        reader.GetCamfileInfo(n, size, kind);
        std::vector<unsigned char> buffer(size_t(size) + 1);
        double progress = 0;
        const char cancel = 0;
        sink = sink + reader.ReadCamfile(n, buffer.data(), unsigned(buffer.size()), &progress, &cancel);
    }

    const int images = reader.GetImageCount();
    for (int n = 0; n < images; ++n) {
        int dims[2] = {0, 0}, pixmapType = 0, imageType = 0;
        reader.GetImageInfo(n, dims, pixmapType, imageType);
        sink = sink + size_t(dims[0]) + size_t(pixmapType) + size_t(imageType);
    }
}

} // namespace rawtest
