#include "FPngFixture.h"

#include <png.h>

#include <csetjmp>
#include <stdexcept>

namespace
{

void AppendBytes(png_structp png, png_bytep data, png_size_t length)
{
    static_cast<std::string*>(png_get_io_ptr(png))->append(reinterpret_cast<const char*>(data), length);
}

void Flush(png_structp) {}

} // namespace

std::string FPngFixture::Encode() const
{
    std::string out;
    png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
    png_infop info = png_create_info_struct(png);
    const size_t rowBytes = rows.size() / size_t(height);
    std::vector<png_bytep> rowPointers(static_cast<size_t>(height));
    for (int y = 0; y < height; ++y)
        rowPointers[size_t(y)] = const_cast<png_bytep>(rows.data() + rowBytes * size_t(y));
    if (setjmp(png_jmpbuf(png)) != 0) {
        png_destroy_write_struct(&png, &info);
        throw std::runtime_error("FPngFixture: libpng refused the image");
    }
    png_set_write_fn(png, &out, AppendBytes, Flush);
    png_set_IHDR(png, info, png_uint_32(width), png_uint_32(height), bitDepth, colourType,
                 interlaced ? PNG_INTERLACE_ADAM7 : PNG_INTERLACE_NONE, PNG_COMPRESSION_TYPE_DEFAULT,
                 PNG_FILTER_TYPE_DEFAULT);
    std::vector<png_color> entries;
    for (size_t i = 0; i + 2 < palette.size(); i += 3)
        entries.push_back(png_color{palette[i], palette[i + 1], palette[i + 2]});
    if (!entries.empty())
        png_set_PLTE(png, info, entries.data(), static_cast<int>(entries.size()));
    if (!transparency.empty()) {
        if (colourType == kPalette) {
            png_set_tRNS(png, info, const_cast<png_bytep>(transparency.data()),
                         static_cast<int>(transparency.size()), nullptr);
        } else {
            png_color_16 key{};
            const auto word = [this](size_t i) {
                return png_uint_16((transparency[i] << 8) | transparency[i + 1]);
            };
            if (colourType == kGrey) {
                key.gray = word(0);
            } else {
                key.red = word(0);
                key.green = word(2);
                key.blue = word(4);
            }
            png_set_tRNS(png, info, nullptr, 0, &key);
        }
    }
    png_write_info(png, info);
    png_write_image(png, rowPointers.data());
    png_write_end(png, nullptr);
    png_destroy_write_struct(&png, &info);
    return out;
}

std::string EncodeRgbaPng(int width, int height, const std::vector<uint8_t>& rgba)
{
    FPngFixture f;
    f.width = width;
    f.height = height;
    f.colourType = FPngFixture::kRGBA;
    f.rows = rgba;
    return f.Encode();
}
