// Reads the package's photographs: PNG through libpng's simple interface, JPEG through
// libjpeg with its errors turned into a message instead of an exit.

#include <csetjmp>
#include <cstdio>
#include <cstring>
#include <jpeglib.h>
#include <png.h>

#include "SampleSet.h"

namespace samples
{

namespace
{

constexpr uint32_t kMaxSide = 16384;
constexpr uint64_t kMaxPixels = uint64_t(1) << 26;

bool SizeUsable(uint32_t cols, uint32_t rows)
{
    return cols > 0 && rows > 0 && cols <= kMaxSide && rows <= kMaxSide &&
           uint64_t(cols) * rows <= kMaxPixels;
}

bool EndsWith(const std::string& text, const char* tail)
{
    const size_t n = std::strlen(tail);
    if (text.size() < n)
        return false;
    for (size_t i = 0; i < n; ++i)
        if (std::tolower(static_cast<unsigned char>(text[text.size() - n + i])) != tail[i])
            return false;
    return true;
}

bool ReadPng(const std::string& path, RgbImage& out, std::string& error)
{
    png_image image{};
    image.version = PNG_IMAGE_VERSION;
    if (!png_image_begin_read_from_file(&image, path.c_str())) {
        error = path + ": " + image.message;
        return false;
    }
    if (!SizeUsable(image.width, image.height)) {
        png_image_free(&image);
        error = path + ": unsupported picture size";
        return false;
    }
    image.format = PNG_FORMAT_RGB;
    out.cols = int(image.width);
    out.rows = int(image.height);
    out.rgb.assign(PNG_IMAGE_SIZE(image), 0);
    if (!png_image_finish_read(&image, nullptr, out.rgb.data(), 0, nullptr)) {
        error = path + ": " + image.message;
        png_image_free(&image);
        return false;
    }
    return true;
}

struct JpegError {
    jpeg_error_mgr base;
    std::jmp_buf jump;
    char message[JMSG_LENGTH_MAX];
};

void JpegFail(j_common_ptr info)
{
    JpegError* e = reinterpret_cast<JpegError*>(info->err);
    (*info->err->format_message)(info, e->message);
    std::longjmp(e->jump, 1);
}

// Kept apart from the setjmp frame so that no object with a destructor lives across it.
bool DecodeJpeg(std::FILE* file, RgbImage& out, JpegError& err)
{
    jpeg_decompress_struct info{};
    info.err = jpeg_std_error(&err.base);
    err.base.error_exit = JpegFail;
    if (setjmp(err.jump)) {
        jpeg_destroy_decompress(&info);
        return false;
    }
    jpeg_create_decompress(&info);
    jpeg_stdio_src(&info, file);
    jpeg_read_header(&info, TRUE);
    info.out_color_space = JCS_RGB;
    if (!SizeUsable(info.image_width, info.image_height)) {
        std::snprintf(err.message, sizeof(err.message), "unsupported picture size");
        jpeg_destroy_decompress(&info);
        return false;
    }
    jpeg_start_decompress(&info);
    out.cols = int(info.output_width);
    out.rows = int(info.output_height);
    out.rgb.resize(size_t(out.cols) * out.rows * 3);
    while (info.output_scanline < info.output_height) {
        JSAMPROW row = out.rgb.data() + size_t(info.output_scanline) * out.cols * 3;
        jpeg_read_scanlines(&info, &row, 1);
    }
    jpeg_finish_decompress(&info);
    jpeg_destroy_decompress(&info);
    return true;
}

bool ReadJpeg(const std::string& path, RgbImage& out, std::string& error)
{
    std::FILE* file = std::fopen(path.c_str(), "rb");
    if (file == nullptr) {
        error = path + ": cannot open";
        return false;
    }
    JpegError err{};
    const bool ok = DecodeJpeg(file, out, err);
    std::fclose(file);
    if (!ok)
        error = path + ": " + err.message;
    return ok;
}

} // namespace

bool ReadPhoto(const std::string& path, RgbImage& out, std::string& error)
{
    out = RgbImage();
    if (EndsWith(path, ".png"))
        return ReadPng(path, out, error);
    if (EndsWith(path, ".jpg") || EndsWith(path, ".jpeg"))
        return ReadJpeg(path, out, error);
    error = path + ": neither PNG nor JPEG";
    return false;
}

} // namespace samples
