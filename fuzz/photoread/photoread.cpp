// The sample generator's photograph reader over arbitrary bytes: it reads files, so the
// bytes go to a temporary file first.
// Input: a byte whose lowest bit picks the name (".png" or ".jpg"), then the file.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>
#include <unistd.h>

#include "SampleSet.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size < 1)
        return 0;
    const std::string path =
        "/tmp/rb-fuzz-photoread-" + std::to_string(long(getpid())) + ((data[0] & 1) != 0 ? ".jpg" : ".png");
    std::FILE* file = std::fopen(path.c_str(), "wb");
    if (file == nullptr)
        return 0;
    std::fwrite(data + 1, 1, size - 1, file);
    std::fclose(file);
    samples::RgbImage image;
    std::string error;
    if (samples::ReadPhoto(path, image, error) && image.rgb.size() != size_t(image.cols) * image.rows * 3)
        __builtin_trap();
    std::remove(path.c_str());
    return 0;
}
