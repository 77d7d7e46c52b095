#include "HostileJPEG.h"

#include <cstdio>
#include <cstdlib>
#include <stdexcept>

#include <jpeglib.h>

namespace jpegfixture
{

namespace
{

// The largest successive-approximation shift libjpeg accepts for 8-bit samples.
constexpr int kMaxAl = 10;
constexpr int kComponents = 3;

uint8_t Texture(int x, int y, int c)
{
    // Gradients with grain, as in a photograph, so that every coefficient band holds data.
    uint32_t h = uint32_t(x) * 73856093u ^ uint32_t(y) * 19349663u ^ uint32_t(c) * 83492791u;
    h ^= h >> 13;
    h *= 0x5bd1e995u;
    h ^= h >> 15;
    const int grain = int(h % 49) - 24;
    const int v = ((x * (3 + c)) / 4 + (y * (5 - c)) / 3) % 200 + 28 + grain;
    return uint8_t(v);
}

std::vector<jpeg_scan_info> Script(int scans)
{
    std::vector<jpeg_scan_info> script;
    jpeg_scan_info dc{};
    dc.comps_in_scan = kComponents;
    for (int c = 0; c < kComponents; ++c)
        dc.component_index[c] = c;
    script.push_back(dc);
    // A coarse pass over every coefficient first, then a finer one, and so on.
    for (int al = kMaxAl; al >= 0 && int(script.size()) < scans; --al) {
        for (int k = 1; k <= 63 && int(script.size()) < scans; ++k) {
            for (int c = 0; c < kComponents && int(script.size()) < scans; ++c) {
                jpeg_scan_info ac{};
                ac.comps_in_scan = 1;
                ac.component_index[0] = c;
                ac.Ss = k;
                ac.Se = k;
                ac.Ah = al == kMaxAl ? 0 : al + 1;
                ac.Al = al;
                script.push_back(ac);
            }
        }
    }
    return script;
}

} // namespace

std::vector<uint8_t> ManyScanJPEG(int cols, int rows, int scans, int quality)
{
    if (scans < 1 || scans > 1 + 63 * kComponents * (kMaxAl + 1))
        throw std::invalid_argument("ManyScanJPEG: scan count out of range");
    const std::vector<jpeg_scan_info> script = Script(scans);
    jpeg_compress_struct c{};
    jpeg_error_mgr err{};
    c.err = jpeg_std_error(&err);
    jpeg_create_compress(&c);
    unsigned char* out = nullptr;
    unsigned long size = 0;
    jpeg_mem_dest(&c, &out, &size);
    c.image_width = JDIMENSION(cols);
    c.image_height = JDIMENSION(rows);
    c.input_components = kComponents;
    c.in_color_space = JCS_RGB;
    jpeg_set_defaults(&c);
    jpeg_set_quality(&c, quality, TRUE);
    c.scan_info = script.data();
    c.num_scans = int(script.size());
    jpeg_start_compress(&c, TRUE);
    std::vector<uint8_t> row(size_t(cols) * kComponents);
    for (int y = 0; y < rows; ++y) {
        for (int x = 0; x < cols; ++x)
            for (int k = 0; k < kComponents; ++k)
                row[size_t(x) * kComponents + size_t(k)] = Texture(x, y, k);
        JSAMPROW r = row.data();
        jpeg_write_scanlines(&c, &r, 1);
    }
    jpeg_finish_compress(&c);
    jpeg_destroy_compress(&c);
    std::vector<uint8_t> bytes(out, out + size);
    std::free(out);
    return bytes;
}

std::vector<uint8_t> WithDeclaredSize(std::vector<uint8_t> jpeg, int cols, int rows)
{
    for (size_t i = 2; i + 9 < jpeg.size();) {
        if (jpeg[i] != 0xFF)
            break;
        const int marker = jpeg[i + 1];
        const size_t length = size_t(jpeg[i + 2]) << 8 | jpeg[i + 3];
        // Start-of-frame markers other than DHT (C4), JPG (C8) and DAC (CC).
        if (marker >= 0xC0 && marker <= 0xCF && marker != 0xC4 && marker != 0xC8 && marker != 0xCC) {
            jpeg[i + 5] = uint8_t(rows >> 8);
            jpeg[i + 6] = uint8_t(rows);
            jpeg[i + 7] = uint8_t(cols >> 8);
            jpeg[i + 8] = uint8_t(cols);
            return jpeg;
        }
        i += 2 + length;
    }
    throw std::invalid_argument("WithDeclaredSize: no frame header");
}

int CountScans(const std::vector<uint8_t>& jpeg)
{
    int scans = 0;
    for (size_t i = 0; i + 1 < jpeg.size(); ++i)
        if (jpeg[i] == 0xFF && jpeg[i + 1] == 0xDA)
            ++scans;
    return scans;
}

} // namespace jpegfixture
