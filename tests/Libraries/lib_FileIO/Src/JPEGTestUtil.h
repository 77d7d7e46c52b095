#pragma once

// Test-side JPEG helpers: streams encoded with libjpeg directly, a marker
// walker, pixmaps with their own buffers and a runner for command-line readers.

#include "FPixmap.h"

#include <cstdint>
#include <cstdio>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

#include <jpeglib.h>

namespace jpegtest
{

using Bytes = std::vector<uint8_t>;

inline uint8_t PatternR(int x, int y)
{
    return uint8_t(x * 7 + y);
}
inline uint8_t PatternG(int x, int y)
{
    return uint8_t((x * 3) ^ y);
}
inline uint8_t PatternB(int, int y)
{
    return uint8_t(y * 5 + 40);
}

// An RGB (3), gray (1) or CMYK (4) stream of the test pattern.
inline Bytes Encode(int cols, int rows, int components, bool progressive = false, int quality = 90)
{
    jpeg_compress_struct c{};
    jpeg_error_mgr err{};
    c.err = jpeg_std_error(&err);
    jpeg_create_compress(&c);
    unsigned char* out = nullptr;
    unsigned long size = 0;
    jpeg_mem_dest(&c, &out, &size);
    c.image_width = JDIMENSION(cols);
    c.image_height = JDIMENSION(rows);
    c.input_components = components;
    c.in_color_space = components == 1 ? JCS_GRAYSCALE : components == 3 ? JCS_RGB : JCS_CMYK;
    jpeg_set_defaults(&c);
    jpeg_set_quality(&c, quality, TRUE);
    if (progressive) {
        jpeg_simple_progression(&c);
    }
    jpeg_start_compress(&c, TRUE);
    std::vector<uint8_t> row(size_t(cols) * size_t(components));
    for (int y = 0; y < rows; ++y) {
        for (int x = 0; x < cols; ++x) {
            uint8_t* p = &row[size_t(x) * size_t(components)];
            p[0] = PatternR(x, y);
            if (components >= 3) {
                p[1] = PatternG(x, y);
                p[2] = PatternB(x, y);
            }
            if (components == 4) {
                p[3] = 0;
            }
        }
        JSAMPROW r = row.data();
        jpeg_write_scanlines(&c, &r, 1);
    }
    jpeg_finish_compress(&c);
    jpeg_destroy_compress(&c);
    Bytes bytes(out, out + size);
    free(out);
    return bytes;
}

// Inserts a marker with this data right after SOI.
inline Bytes WithMarker(const Bytes& jpeg, int code, const Bytes& data)
{
    Bytes out(jpeg.begin(), jpeg.begin() + 2);
    out.push_back(0xFF);
    out.push_back(uint8_t(code));
    const size_t length = data.size() + 2;
    out.push_back(uint8_t(length >> 8));
    out.push_back(uint8_t(length));
    out.insert(out.end(), data.begin(), data.end());
    out.insert(out.end(), jpeg.begin() + 2, jpeg.end());
    return out;
}

struct Marker {
    int code;
    Bytes data;
};

// Markers from SOI up to and including SOS.
inline std::vector<Marker> Markers(const Bytes& jpeg)
{
    std::vector<Marker> markers;
    size_t i = 2;
    while (i + 4 <= jpeg.size() && jpeg[i] == 0xFF) {
        const int code = jpeg[i + 1];
        const size_t length = size_t(jpeg[i + 2]) << 8 | jpeg[i + 3];
        if (length < 2 || i + 2 + length > jpeg.size()) {
            break;
        }
        markers.push_back({code, Bytes(jpeg.begin() + long(i) + 4, jpeg.begin() + long(i + 2 + length))});
        if (code == 0xDA) {
            break;
        }
        i += 2 + length;
    }
    return markers;
}

inline std::vector<Marker> MarkersOf(const Bytes& jpeg, int code)
{
    std::vector<Marker> found;
    for (const Marker& m : Markers(jpeg)) {
        if (m.code == code) {
            found.push_back(m);
        }
    }
    return found;
}

inline bool EndsWithEOI(const Bytes& jpeg)
{
    return jpeg.size() >= 2 && jpeg[jpeg.size() - 2] == 0xFF && jpeg[jpeg.size() - 1] == 0xD9;
}

// A pixmap with a buffer of its own.
struct Picture {
    Bytes bytes;
    std::unique_ptr<FPixmap> pixmap;

    Picture(int type, int cols, int rows)
        : bytes(size_t(cols) * size_t(rows) * size_t(GetPixelTypeBytesPerPixel(type)), 0xAB),
          pixmap(NewFPixmap(type, bytes.data(), cols, rows, 0))
    {
    }
    FPixmap& operator*() { return *pixmap; }
};

// Runs a shell command; its standard output, and its exit status in `status`.
inline std::string Run(const std::string& command, int& status)
{
    FILE* pipe = popen(command.c_str(), "r");
    if (pipe == nullptr) {
        throw std::runtime_error("cannot run " + command);
    }
    std::string out;
    char buffer[4096];
    size_t n = 0;
    while ((n = fread(buffer, 1, sizeof(buffer), pipe)) > 0) {
        out.append(buffer, n);
    }
    status = pclose(pipe);
    return out;
}

// True when the tool is on PATH.
inline bool HasTool(const char* tool)
{
    int status = 0;
    Run(std::string("command -v ") + tool + " >/dev/null 2>&1", status);
    return status == 0;
}

} // namespace jpegtest
