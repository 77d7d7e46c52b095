#include "SavedProfiles.h"

#include <tiffio.h>

#include <fstream>
#include <iterator>

std::string ReadAll(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

std::vector<uint8_t> TiffProfile(const std::string& path)
{
    TIFFSetWarningHandler(nullptr);
    TIFF* tif = TIFFOpen(path.c_str(), "r");
    if (tif == nullptr)
        return {};
    uint32_t count = 0;
    void* data = nullptr;
    std::vector<uint8_t> out;
    if (TIFFGetField(tif, TIFFTAG_ICCPROFILE, &count, &data) && data != nullptr)
        out.assign(static_cast<uint8_t*>(data), static_cast<uint8_t*>(data) + count);
    TIFFClose(tif);
    return out;
}

std::vector<uint8_t> JpegProfile(const std::string& bytes)
{
    std::vector<uint8_t> out;
    size_t i = 2;
    while (i + 4 <= bytes.size() && uint8_t(bytes[i]) == 0xFF) {
        const uint8_t marker = uint8_t(bytes[i + 1]);
        const size_t length = size_t(uint8_t(bytes[i + 2])) << 8 | uint8_t(bytes[i + 3]);
        if (marker == 0xDA || i + 2 + length > bytes.size())
            break;
        if (marker == 0xE2 && length > 16 && bytes.compare(i + 4, 12, std::string("ICC_PROFILE\0", 12)) == 0)
            out.insert(out.end(), bytes.begin() + long(i + 18), bytes.begin() + long(i + 2 + length));
        i += 2 + length;
    }
    return out;
}
