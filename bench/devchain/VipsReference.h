#pragma once

// The reference pipeline of the development benchmarks: libvips reading a 16-bit RGB
// scene as an uncompressed TIFF from memory, sharpening it, converting it to sRGB and
// writing JPEG quality 90, all in this process.

#include <cstddef>
#include <cstdint>
#include <stdexcept>
#include <vector>

#include <vips/vips.h>

namespace bench
{

class VipsReference
{
public:
    VipsReference(const std::vector<uint16_t>& scene, int cols, int rows)
    {
        if (VIPS_INIT("rawbench_bench") != 0)
            throw std::runtime_error("libvips did not start");
        vips_cache_set_max(0); // every pass does the whole work
        VipsImage* raw = vips_image_new_from_memory(scene.data(), scene.size() * sizeof(uint16_t), cols, rows,
                                                    3, VIPS_FORMAT_USHORT);
        VipsImage* tagged = nullptr;
        if (raw == nullptr ||
            vips_copy(raw, &tagged, "interpretation", VIPS_INTERPRETATION_RGB16, nullptr) != 0 ||
            vips_tiffsave_buffer(tagged, &m_pTiff, &m_size, "compression", VIPS_FOREIGN_TIFF_COMPRESSION_NONE,
                                 nullptr) != 0)
            throw std::runtime_error(vips_error_buffer());
        g_object_unref(tagged);
        g_object_unref(raw);
    }
    ~VipsReference() { g_free(m_pTiff); }
    VipsReference(const VipsReference&) = delete;
    VipsReference& operator=(const VipsReference&) = delete;

    // One whole pass on `threads` threads; the JPEG's size.
    size_t Run(int threads) const
    {
        vips_concurrency_set(threads);
        VipsImage* in = nullptr;
        VipsImage* sharp = nullptr;
        VipsImage* rgb = nullptr;
        void* jpeg = nullptr;
        size_t size = 0;
        if (vips_tiffload_buffer(m_pTiff, m_size, &in, nullptr) != 0 ||
            vips_sharpen(in, &sharp, nullptr) != 0 ||
            vips_colourspace(sharp, &rgb, VIPS_INTERPRETATION_sRGB, nullptr) != 0 ||
            vips_jpegsave_buffer(rgb, &jpeg, &size, "Q", 90, nullptr) != 0)
            throw std::runtime_error(vips_error_buffer());
        g_free(jpeg);
        g_object_unref(rgb);
        g_object_unref(sharp);
        g_object_unref(in);
        return size;
    }

private:
    void* m_pTiff = nullptr;
    size_t m_size = 0;
};

} // namespace bench
