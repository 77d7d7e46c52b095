#include "FJPEGImageReader.h"

#include "ExifReader.h"
#include "FException.h"
#include "FIStorageClass.h"
#include "FPixmap.h"
#include "FRowFormatConverters.h"
#include "FWideString.h"
#include "JPEGStorageManagers.h"
#include "StorageClassRegistry.h"

#include <algorithm>
#include <chrono>
#include <cstring>
#include <string>
#include <vector>

namespace
{

constexpr int kApp1 = JPEG_APP0 + 1;
constexpr size_t kExifHeader = 6;
constexpr size_t kTiffHeader = 8;
constexpr uint64_t kMiB = uint64_t(1) << 20;

std::string CannotOpen(const FWideString& url)
{
    return std::string("JPEGImageReader: Cannot open file '") + url.GetNarrow() + "'";
}

void Put32(uint8_t* p, uint32_t v)
{
    std::memcpy(p, &v, 4);
}

void Put16(uint8_t* p, uint16_t v)
{
    std::memcpy(p, &v, 2);
}

using RowConverter = void (*)(unsigned count, const uint8_t* src, uint8_t* dst);

void RgbTo(unsigned count, const uint8_t* s, uint8_t* d, int type)
{
    for (unsigned i = 0; i < count; ++i, s += 3) {
        const uint8_t r = s[0], g = s[1], b = s[2];
        switch (type) {
        case FPixmap::PIXEL_24_BGR:
            d[0] = b, d[1] = g, d[2] = r, d += 3;
            break;
        case FPixmap::PIXEL_30_RGBL:
            // 11-bit channels (value << 3): only the top bytes are non-zero.
            Put32(d, uint32_t(r) | uint32_t(g) << 8 | uint32_t(b) << 16), d += 4;
            break;
        case FPixmap::PIXEL_30_RGB:
            // Blue keeps its top 10 of 11 bits.
            Put32(d, uint32_t(r) << 3 | uint32_t(g) << 14 | uint32_t(b) << 24), d += 4;
            break;
        case FPixmap::PIXEL_32_ARGB:
            d[0] = 255, d[1] = r, d[2] = g, d[3] = b, d += 4;
            break;
        case FPixmap::PIXEL_32_ABGR:
            d[0] = 255, d[1] = b, d[2] = g, d[3] = r, d += 4;
            break;
        case FPixmap::PIXEL_32_BGRA:
            d[0] = b, d[1] = g, d[2] = r, d[3] = 255, d += 4;
            break;
        case FPixmap::PIXEL_32_RGBA:
            d[0] = r, d[1] = g, d[2] = b, d[3] = 255, d += 4;
            break;
        case FPixmap::PIXEL_48_BGR:
            Put16(d, uint16_t(b << 8)), Put16(d + 2, uint16_t(g << 8)), Put16(d + 4, uint16_t(r << 8)),
                d += 6;
            break;
        default:
            return;
        }
    }
}

// Checks that rows of the native type convert to the destination type.
void CheckConversion(int native, int dest)
{
    if (native == dest) {
        return;
    }
    if (native == FPixmap::PIXEL_8_MONO) {
        throw FExceptionUnknownPixelType("JPEGReader: Unknown source pixel type");
    }
    if (dest == FPixmap::PIXEL_30_BGRL) {
        // An FException of the family, so that every handler sees it.
        throw FExceptionUnknownPixelType("NOT IMPLEMENTED");
    }
    if (dest < FPixmap::PIXEL_24_BGR || dest > FPixmap::PIXEL_48_BGR) {
        throw FExceptionUnknownPixelType("Unknown dest pixel type");
    }
}

void ConvertRow(int dest, unsigned count, const uint8_t* src, uint8_t* dst)
{
    if (dest == FPixmap::PIXEL_48_RGB || dest == FPixmap::PIXEL_48S_RGB) {
        ConvertPixels24To48(count, src, dst);
        return;
    }
    RgbTo(count, src, dst, dest);
}

} // namespace

struct FJPEGImageReader::State {
    int nativeType = 0;
    FIFile* file = nullptr;
    FWideString url;
    int rowBytes = 0;
    std::vector<uint8_t> conversion;
    bool finished = false;
    bool started = false;
    bool created = false;
    jpeg_decompress_struct cinfo{};
    FJPEGErrorManager err{};
    FJPEGDecodeBudget budget = kJPEGPictureBudget;
    const char* cancel = nullptr;

    ~State()
    {
        if (created) {
            try {
                if (finished) {
                    JPEGCall(err, [this] { jpeg_finish_decompress(&cinfo); });
                } else {
                    jpeg_abort_decompress(&cinfo);
                }
            } catch (const FException&) {
                // The image was delivered; a complaint about its tail changes nothing.
            }
            jpeg_destroy_decompress(&cinfo);
        }
        if (file != nullptr) {
            file->Release();
        }
    }

    void Open(const uint8_t* bytes, size_t size)
    {
        cinfo.err = InitJPEGErrorManager(err);
        // Every library call, set-up included, can raise an error.
        JPEGCall(err, [this, bytes, size] {
            jpeg_create_decompress(&cinfo);
            created = true;
            cinfo.mem->max_memory_to_use = long(GetJPEGMemoryLimit());
            InstallJPEGScanLimit(&cinfo, err);
            if (file != nullptr) {
                jpeg_fio_src(&cinfo, file);
            } else {
                jpeg_mem_src(&cinfo, bytes, static_cast<unsigned long>(size));
            }
            jpeg_save_markers(&cinfo, kApp1, 0xFFFF);
            jpeg_read_header(&cinfo, TRUE);
        });
        // Sizes come from the file: refuse them before anything is sized by them.
        const uint64_t w = cinfo.image_width;
        const uint64_t h = cinfo.image_height;
        if (w == 0 || h == 0 || w > kMaxJPEGDimension || h > kMaxJPEGDimension || w * h > kMaxJPEGPixels) {
            throw FExceptionJPEG(("JPEGImageReader: image of " + std::to_string(w) + " x " +
                                  std::to_string(h) + " pixels is too large")
                                     .c_str());
        }
    }
};

FJPEGImageReader::FJPEGImageReader(const FWideString& url) : m_pState(std::make_unique<State>())
{
    m_pState->url = url;
    try {
        m_pState->file = OpenFileURL(url, kFileRead);
    } catch (const FException&) {
        m_pState->file = nullptr;
    }
    if (m_pState->file == nullptr) {
        throw FExceptionFileNotFound(CannotOpen(url).c_str());
    }
    m_pState->Open(nullptr, 0);
    SetScale(0);
}

FJPEGImageReader::FJPEGImageReader(const uint8_t* bytes, size_t size) : m_pState(std::make_unique<State>())
{
    m_pState->url = "(memory)";
    m_pState->Open(bytes, size);
    SetScale(0);
}

FJPEGImageReader::~FJPEGImageReader() = default;

void FJPEGImageReader::SetScale(int n)
{
    State& s = *m_pState;
    if (s.started) {
        return;
    }
    n = n < 0 ? 0 : n > 3 ? 3 : n;
    s.cinfo.scale_num = 1;
    s.cinfo.scale_denom = 1u << n;
    JPEGCall(s.err, [&s] { jpeg_calc_output_dimensions(&s.cinfo); });
}

void FJPEGImageReader::GetDimensions(int& cols, int& rows, int& pixelType)
{
    State& s = *m_pState;
    cols = int(s.cinfo.output_width);
    rows = int(s.cinfo.output_height);
    if (s.cinfo.out_color_space == JCS_GRAYSCALE) {
        pixelType = FPixmap::PIXEL_8_MONO;
    } else if (s.cinfo.out_color_space == JCS_RGB) {
        pixelType = FPixmap::PIXEL_24_RGB;
    } else {
        throw FExceptionUnknownPixelType("JPEGImageReader: while getting dimensions");
    }
    s.nativeType = pixelType;
    s.rowBytes = s.cinfo.output_components * int(s.cinfo.output_width);
}

void FJPEGImageReader::GetProperties(FPropList* list)
{
    State& s = *m_pState;
    const jpeg_saved_marker_ptr first = [&s]() -> jpeg_saved_marker_ptr {
        for (jpeg_saved_marker_ptr m = s.cinfo.marker_list; m != nullptr; m = m->next) {
            if (m->marker == kApp1) {
                return m;
            }
        }
        return nullptr;
    }();
    if (list == nullptr || first == nullptr || first->data_length < kExifHeader + kTiffHeader) {
        return;
    }
    const uint8_t* d = first->data;
    if (std::memcmp(d, "Exif\0\0", 6) != 0 && std::memcmp(d, "Jfif\0\0", 6) != 0) {
        return;
    }
    const uint8_t* tiff = d + kExifHeader;
    const bool big = tiff[0] == 'M' && tiff[1] == 'M';
    if (!big && !(tiff[0] == 'I' && tiff[1] == 'I')) {
        return;
    }
    const unsigned magic = big ? unsigned(tiff[2] << 8 | tiff[3]) : unsigned(tiff[3] << 8 | tiff[2]);
    const uint32_t ifd =
        big ? uint32_t(tiff[4]) << 24 | uint32_t(tiff[5]) << 16 | uint32_t(tiff[6]) << 8 | tiff[7]
            : uint32_t(tiff[7]) << 24 | uint32_t(tiff[6]) << 16 | uint32_t(tiff[5]) << 8 | tiff[4];
    if (magic != 42 || ifd != kTiffHeader) {
        return;
    }
    ReadExif(tiff, 0, unsigned(first->data_length - kExifHeader), ifd, big, list);
}

void FJPEGImageReader::ReadImage(FPixmap& image)
{
    State& s = *m_pState;
    if (s.started) {
        throw FExceptionJPEG("JPEGImageReader: the image can be read only once");
    }
    int cols = 0, rows = 0, native = 0;
    GetDimensions(cols, rows, native);
    const int dest = image.GetPixelType();
    const int64_t destRowBytes = int64_t(cols) * GetPixelTypeBytesPerPixel(dest);
    if (image.GetCols() < cols || image.GetRows() < rows || int64_t(image.GetStride()) < destRowBytes) {
        throw FExceptionJPEGPixmapTooSmall("");
    }
    CheckConversion(native, dest);
    // A file that declares a huge image in a few bytes would make the library hold all
    // of its coefficients: refused before anything is allocated for them.
    const uint64_t limit = s.budget.maxMemory != 0
                               ? std::min<uint64_t>(s.budget.maxMemory, GetJPEGMemoryLimit())
                               : GetJPEGMemoryLimit();
    const uint64_t needed = JPEGCoefficientBytes(&s.cinfo);
    if (needed > limit) {
        throw FExceptionJPEG(("JPEGImageReader: decoding needs " +
                              std::to_string((needed + kMiB - 1) / kMiB) + " MB of memory, more than the " +
                              std::to_string(limit / kMiB) + " MB allowed")
                                 .c_str());
    }
    s.cinfo.mem->max_memory_to_use = long(limit);
    s.err.maxScans = s.budget.maxScans;
    s.err.maxSeconds = s.budget.maxSeconds;
    s.err.cancel = s.cancel;
    s.err.cancelled = false;
    s.err.started = std::chrono::steady_clock::now();
    s.started = true;
    JPEGCall(s.err, [&s] { jpeg_start_decompress(&s.cinfo); });
    // The output size is fixed from here on; it was checked against the pixmap above.
    const bool direct = native == dest;
    if (!direct) {
        s.conversion.resize(size_t(s.rowBytes));
    }
    for (int row = 0; row < rows; ++row) {
        JSAMPROW target = direct ? image.GetRowAddress(row) : s.conversion.data();
        JDIMENSION got = 0;
        JPEGCall(s.err, [&s, &target, &got] { got = jpeg_read_scanlines(&s.cinfo, &target, 1); });
        if (got != 1) {
            throw FExceptionFileRead(("JPEGReadScanline failed at row " + std::to_string(row)).c_str());
        }
        if (!direct) {
            ConvertRow(dest, unsigned(cols), s.conversion.data(), image.GetRowAddress(row));
        }
    }
    s.finished = true;
}

void FJPEGImageReader::SetBudget(const FJPEGDecodeBudget& budget, const char* cancel)
{
    m_pState->budget = budget;
    m_pState->cancel = cancel;
}

bool FJPEGImageReader::Cancelled() const
{
    return m_pState->err.cancelled;
}

bool FJPEGImageReader::EndedEarly() const
{
    return m_pState->err.endedEarly;
}
