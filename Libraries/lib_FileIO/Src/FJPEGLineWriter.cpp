#include "FJPEGLineWriter.h"

#include "ExifReader.h"
#include "ExifWriter.h"
#include "FDebugTrace.h"
#include "FException.h"
#include "FHasProperties.h"
#include "FIStorageClass.h"
#include "FPixmap.h"
#include "FPropList.h"
#include "FReplacingFile.h"
#include "FWideString.h"
#include "ImagePropKeys.h"
#include "JPEGStorageManagers.h"
#include "StorageClassRegistry.h"

#include <cstring>
#include <string>

namespace
{

constexpr int kQualityTable[kJPEGQualityIndexCount] = {10, 20, 30, 45, 60, 70, 79, 78, 85, 90, 93, 96, 99};
// From this index up all components are sampled alike.
constexpr int kFullChromaIndex = 7;
// Bytes a marker can hold, and the APP1 head before the TIFF header.
constexpr unsigned kMaxMarkerData = 65533;
constexpr unsigned kApp1Head = 6;
constexpr unsigned kTiffLimit = kMaxMarkerData - kApp1Head;
// IFD0 (10 entries) ends at 134; IFD1 (7 entries) from 134 ends at 224.
constexpr unsigned kIfd0End = 8 + 2 + 10 * 12 + 4;
constexpr unsigned kIfd1End = kIfd0End + 2 + 7 * 12 + 4;
// Fixed bytes of the EXIF directory that WriteExif adds.
constexpr unsigned kExifFixedBytes = 1235;
// Texts of IFD0 come from raw files' properties: keep them to a size that always fits.
constexpr size_t kMaxIfd0Text = 1023;
constexpr unsigned kMaxDescription = 0xFFFC;
constexpr char kIccName[12] = {'I', 'C', 'C', '_', 'P', 'R', 'O', 'F', 'I', 'L', 'E', 0};

unsigned DataBytes(const std::string& text)
{
    return text.size() + 1 > 4 ? unsigned(text.size()) + 1 : 0;
}

std::string Ifd0Text(FPropList* properties, const char* name)
{
    std::string text = properties->GetString(name, " ").GetNarrow();
    if (text.size() > kMaxIfd0Text) {
        text.resize(kMaxIfd0Text);
    }
    return text;
}

void ConvertToRGB(int type, unsigned count, const uint8_t* s, uint8_t* d)
{
    int step = 4, r = 0, g = 1, b = 2;
    switch (type) {
    case FPixmap::PIXEL_24_BGR:
        step = 3, r = 2, g = 1, b = 0;
        break;
    case FPixmap::PIXEL_32_ARGB:
        r = 1, g = 2, b = 3;
        break;
    case FPixmap::PIXEL_32_ABGR:
        r = 3, g = 2, b = 1;
        break;
    case FPixmap::PIXEL_32_BGRA:
        r = 2, g = 1, b = 0;
        break;
    case FPixmap::PIXEL_32_RGBA:
        break;
    }
    for (unsigned i = 0; i < count; ++i, s += step, d += 3) {
        d[0] = s[r];
        d[1] = s[g];
        d[2] = s[b];
    }
}

} // namespace

int JPEGQualityOfIndex(int qualityIndex)
{
    const int i = qualityIndex < 0                         ? 0
                  : qualityIndex >= kJPEGQualityIndexCount ? kJPEGQualityIndexCount - 1
                                                           : qualityIndex;
    return kQualityTable[i];
}

struct FJPEGLineWriter::State {
    std::unique_ptr<FReplacingFile> target;
    FIFile* file = nullptr;
    std::vector<uint8_t>* memory = nullptr;
    int pixelType = 0;
    std::vector<uint8_t> conversion;
    FWideString url;
    int rowBytes = 0;
    int cols = 0;
    int qualityIndex = 0;
    bool exif = false;
    bool lineWritten = false;
    bool propertiesWritten = false;
    std::vector<uint8_t> thumbnail;
    bool created = false;
    bool finished = false;
    // After a coder error the library's state is undefined: it is never called
    // again (it would crash), and the file is never finished.
    bool failed = false;
    jpeg_compress_struct cinfo{};
    FJPEGErrorManager err{};

    void RequireDimensions(const char* where) const
    {
        if (rowBytes == 0) {
            throw FExceptionJPEGWriteUninitialized(where);
        }
    }
    void RequireNoLine(const char* message) const
    {
        if (lineWritten) {
            throw FExceptionJPEGOutOfOrderOperation(message);
        }
    }
    template <class Call>
    void Coder(Call&& call)
    {
        if (failed) {
            throw FExceptionJPEG("JPEGLineWriter: the coder failed earlier");
        }
        try {
            JPEGCall(err, call);
        } catch (...) {
            failed = true;
            throw;
        }
    }
    void WriteMarker(int code, const uint8_t* data, unsigned size)
    {
        Coder([this, code, data, size] { jpeg_write_marker(&cinfo, code, data, size); });
    }
};

FJPEGLineWriter::FJPEGLineWriter(const FWideString& url, int qualityIndex, bool exif)
    : m_pState(std::make_unique<State>())
{
    State& s = *m_pState;
    s.url = url;
    s.qualityIndex = qualityIndex;
    s.exif = exif;
    s.target = std::make_unique<FReplacingFile>(url);
    s.file = s.target->GetFile();
}

FJPEGLineWriter::FJPEGLineWriter(std::vector<uint8_t>* memory, int qualityIndex, bool exif)
    : m_pState(std::make_unique<State>())
{
    State& s = *m_pState;
    s.url = "(memory)";
    s.memory = memory;
    s.qualityIndex = qualityIndex;
    s.exif = exif;
    if (memory == nullptr) {
        throw FExceptionFileOpen("(memory)");
    }
}

// Without a finished file there is nothing to keep: the temporary file goes
// with the target, and the destination was never touched.
FJPEGLineWriter::~FJPEGLineWriter()
{
    State& s = *m_pState;
    if (s.created) {
        jpeg_destroy_compress(&s.cinfo);
    }
    if (!s.finished && s.target) {
        DebugTrace("~FJPEGLineWriter: unfinished file discarded.\n");
    }
}

void FJPEGLineWriter::Finish()
{
    State& s = *m_pState;
    if (s.finished) {
        throw FExceptionJPEGOutOfOrderOperation("JPEGLineWriter: the file is already finished");
    }
    s.RequireDimensions("JPEGLineWriter::Finish()");
    if (!s.failed && s.cinfo.next_scanline != s.cinfo.image_height) {
        throw FExceptionJPEG("Fewer scan lines written than rows specified.");
    }
    s.Coder([&s] { jpeg_finish_compress(&s.cinfo); });
    if (s.target) {
        s.file = nullptr;
        try {
            s.target->Commit();
        } catch (...) {
            s.failed = true;
            throw;
        }
    }
    s.finished = true;
}

void FJPEGLineWriter::SetDimensions(int cols, int rows, int pixelType)
{
    State& s = *m_pState;
    int components = 0;
    J_COLOR_SPACE space = JCS_UNKNOWN;
    if (pixelType == FPixmap::PIXEL_8_MONO) {
        components = 1;
        space = JCS_GRAYSCALE;
    } else if (pixelType == FPixmap::PIXEL_24_RGB) {
        components = 3;
        space = JCS_RGB;
    } else {
        throw FExceptionUnknownPixelType("JPEGLineWriter: while setting dimensions");
    }
    if (s.created || cols <= 0 || rows <= 0 || unsigned(cols) > kMaxJPEGDimension ||
        unsigned(rows) > kMaxJPEGDimension) {
        throw FExceptionJPEG("JPEGLineWriter: while setting dimensions");
    }
    s.cinfo.err = InitJPEGErrorManager(s.err);
    const int quality = JPEGQualityOfIndex(s.qualityIndex);
    const bool fullChroma = s.qualityIndex >= kFullChromaIndex;
    const bool jfif = !s.exif;
    s.Coder([&s, cols, rows, components, space, quality, fullChroma, jfif] {
        jpeg_create_compress(&s.cinfo);
        s.created = true;
        s.cinfo.mem->max_memory_to_use = long(GetJPEGMemoryLimit());
        jpeg_fio_dest(&s.cinfo, s.file, s.memory);
        s.cinfo.image_width = JDIMENSION(cols);
        s.cinfo.image_height = JDIMENSION(rows);
        s.cinfo.input_components = components;
        s.cinfo.in_color_space = space;
        jpeg_set_defaults(&s.cinfo);
        s.cinfo.write_JFIF_header = jfif ? TRUE : FALSE;
        if (fullChroma) {
            s.cinfo.comp_info[0].h_samp_factor = 1;
            s.cinfo.comp_info[0].v_samp_factor = 1;
        }
        jpeg_set_quality(&s.cinfo, quality, TRUE);
        jpeg_start_compress(&s.cinfo, TRUE);
    });
    s.pixelType = pixelType;
    s.cols = cols;
    s.rowBytes = cols * components;
}

void FJPEGLineWriter::WriteThumbnail(const FPixmap& thumbnail)
{
    State& s = *m_pState;
    if (s.propertiesWritten) {
        throw FExceptionJPEGOutOfOrderOperation("Thumbnails must be written before properties!");
    }
    if (thumbnail.GetCols() > kMaxJPEGThumbnailSize || thumbnail.GetRows() > kMaxJPEGThumbnailSize) {
        const std::string message = "Thumbnails can't be larger than " +
                                    std::to_string(kMaxJPEGThumbnailSize) + "x" +
                                    std::to_string(kMaxJPEGThumbnailSize) + ".";
        throw FExceptionJPEG(message.c_str());
    }
    // Encoded in memory: no file in a shared folder that another user could replace.
    std::vector<uint8_t> encoded;
    FJPEGImageWriter writer(&encoded, kJPEGThumbnailQualityIndex, false);
    writer.WriteImage(thumbnail, FHasProperties());
    s.thumbnail.swap(encoded);
}

void FJPEGLineWriter::WriteTags(FPropList* properties)
{
    State& s = *m_pState;
    s.RequireDimensions("JPEGLineWriter::WriteTags()");
    s.RequireNoLine("Tags must be written before the first WriteLine()");
    priWriteProperties(properties);
}

void FJPEGLineWriter::WriteTags(const FHasProperties& tags)
{
    State& s = *m_pState;
    s.RequireDimensions("JPEGLineWriter::WriteTags()");
    s.RequireNoLine("Tags must be written before the first WriteLine()");
    if (!tags.Has("Description")) {
        return;
    }
    const char* text = tags.GetString("Description", "");
    const size_t length = std::strlen(text);
    if (length >= kMaxDescription) {
        return;
    }
    s.WriteMarker(JPEG_COM, reinterpret_cast<const uint8_t*>(text), unsigned(length + 1));
}

void FJPEGLineWriter::WriteProfile(unsigned size, const void* data)
{
    State& s = *m_pState;
    s.RequireDimensions("JPEGLineWriter::WriteProfile()");
    s.RequireNoLine("ICC Profiles must be written before the first WriteLine()");
    if (size == 0) {
        return;
    }
    const unsigned markers = unsigned((uint64_t(size) + kICCBytesPerMarker - 1) / kICCBytesPerMarker);
    // The sequence number is one byte: a larger profile cannot be embedded.
    if (markers > kMaxICCMarkers || data == nullptr) {
        throw FExceptionJPEG("JPEGLineWriter: ICC profile too large to embed");
    }
    const auto* bytes = static_cast<const uint8_t*>(data);
    std::vector<uint8_t> marker;
    for (unsigned k = 1; k <= markers; ++k) {
        const size_t offset = size_t(k - 1) * kICCBytesPerMarker;
        const size_t n = std::min<size_t>(kICCBytesPerMarker, size - offset);
        marker.assign(kIccName, kIccName + sizeof(kIccName));
        marker.push_back(uint8_t(k));
        marker.push_back(uint8_t(markers));
        marker.insert(marker.end(), bytes + offset, bytes + offset + n);
        s.WriteMarker(JPEG_APP0 + 2, marker.data(), unsigned(marker.size()));
    }
}

void FJPEGLineWriter::WriteLine(const void* row, int pixelType)
{
    State& s = *m_pState;
    s.RequireDimensions("JPEGLineWriter::WriteLine()");
    if (s.finished || s.cinfo.next_scanline >= s.cinfo.image_height) {
        throw FExceptionJPEG("More scan lines written than rows specified.");
    }
    const uint8_t* source = static_cast<const uint8_t*>(row);
    if (pixelType != s.pixelType) {
        if (s.pixelType == FPixmap::PIXEL_8_MONO) {
            throw FExceptionUnknownPixelType("JPEGLineWriter: Unknown source pixel type");
        }
        switch (pixelType) {
        case FPixmap::PIXEL_24_BGR:
        case FPixmap::PIXEL_32_ARGB:
        case FPixmap::PIXEL_32_ABGR:
        case FPixmap::PIXEL_32_BGRA:
        case FPixmap::PIXEL_32_RGBA:
            s.conversion.resize(size_t(s.rowBytes));
            ConvertToRGB(pixelType, unsigned(s.cols), source, s.conversion.data());
            source = s.conversion.data();
            break;
        case FPixmap::PIXEL_30_RGBL:
        case FPixmap::PIXEL_30_BGRL:
        case FPixmap::PIXEL_30_RGB:
        case FPixmap::PIXEL_48_RGB:
        case FPixmap::PIXEL_48S_RGB:
        case FPixmap::PIXEL_48_BGR:
            throw FExceptionBitDepthMismatch("JPEGLineWriter: rows deeper than 8 bits per channel");
        default:
            throw FExceptionUnknownPixelType("JPEGLineWriter: Unknown dest pixel type");
        }
    }
    s.lineWritten = true;
    JSAMPROW rows[1] = {const_cast<JSAMPROW>(source)};
    s.Coder([&s, &rows] { jpeg_write_scanlines(&s.cinfo, rows, 1); });
}

void FJPEGLineWriter::priWriteProperties(FPropList* properties)
{
    State& s = *m_pState;
    FPropList empty(nullptr, "");
    FPropList* props = properties != nullptr ? properties : &empty;

    std::vector<uint8_t> buffer(kExifBufferSize, 0xFF);
    std::memcpy(buffer.data(), s.exif ? "Exif\0\0" : "Jfif\0\0", kApp1Head);
    uint8_t* tiff = buffer.data() + kApp1Head;
    const uint8_t header[8] = {'I', 'I', 42, 0, 8, 0, 0, 0};
    std::memcpy(tiff, header, sizeof(header));

    const std::string make = Ifd0Text(props, "CAMMANUF");
    const std::string model = Ifd0Text(props, "CAMMODEL");
    const std::string software = Ifd0Text(props, propkey::kSoftware);
    const unsigned ifd0Data = DataBytes(make) + DataBytes(model) + 16 + DataBytes(software) + 20;
    unsigned thumbSize = unsigned(s.thumbnail.size());
    if (thumbSize != 0 && uint64_t(kIfd1End) + ifd0Data + thumbSize + 16 + kExifFixedBytes > kTiffLimit) {
        DebugTrace("JPEGLineWriter: thumbnail of %u bytes does not fit the EXIF marker; left out\n",
                   thumbSize);
        thumbSize = 0;
    }
    const bool thumb = thumbSize != 0;

    FExifDirectoryBuilder ifd0(tiff, 8, 10, thumb ? kIfd1End : kIfd0End);
    ifd0.Ascii(271, make);
    ifd0.Ascii(272, model);
    ifd0.Short(274, 1);
    ifd0.Rational(282, 180, 1);
    ifd0.Rational(283, 180, 1);
    ifd0.Short(296, 2);
    ifd0.Ascii(305, software);
    char now[20];
    FormatExifNow(now);
    ifd0.Ascii(306, now);
    ifd0.Short(531, 2);
    const unsigned thumbAt = ifd0.GetDataEnd();
    const unsigned exifAt = thumb ? thumbAt + thumbSize + 16 : thumbAt;
    ifd0.Long(34665, exifAt);
    ifd0.NextDirectory(thumb ? kIfd0End : 0);

    if (thumb) {
        std::memcpy(tiff + thumbAt, s.thumbnail.data(), thumbSize);
        FExifDirectoryBuilder ifd1(tiff, kIfd0End, 7, thumbAt + thumbSize);
        ifd1.Short(259, 6);
        ifd1.Rational(282, 180, 1);
        ifd1.Rational(283, 180, 1);
        ifd1.Short(296, 2);
        ifd1.Long(513, thumbAt);
        ifd1.Long(514, thumbSize);
        ifd1.Short(531, 2);
        ifd1.NextDirectory(0);
    }
    const unsigned end =
        WriteExif(tiff, exifAt, props, s.cinfo.image_width, s.cinfo.image_height, kTiffLimit);
    s.WriteMarker(JPEG_APP0 + 1, buffer.data(), end + kApp1Head);
    s.propertiesWritten = true;
}

FJPEGImageWriter::FJPEGImageWriter(const FWideString& url, int qualityIndex, bool exif)
    : m_pWriter(std::make_unique<FJPEGLineWriter>(url, qualityIndex, exif))
{
}

FJPEGImageWriter::FJPEGImageWriter(std::vector<uint8_t>* memory, int qualityIndex, bool exif)
    : m_pWriter(std::make_unique<FJPEGLineWriter>(memory, qualityIndex, exif))
{
}

FJPEGImageWriter::~FJPEGImageWriter() = default;

void FJPEGImageWriter::SetProfile(unsigned size, const void* data)
{
    m_pProfile = data;
    m_uiProfileSize = size;
}

int FJPEGImageWriter::WriteImage(const FPixmap& image, const FHasProperties& tags)
{
    const int type = image.GetPixelType();
    int writerType = 0;
    if (type == FPixmap::PIXEL_8_MONO) {
        writerType = FPixmap::PIXEL_8_MONO;
    } else if (type == FPixmap::PIXEL_24_BGR || type == FPixmap::PIXEL_24_RGB) {
        writerType = FPixmap::PIXEL_24_RGB;
    } else {
        throw FExceptionUnknownPixelType("");
    }
    m_pWriter->SetDimensions(image.GetCols(), image.GetRows(), writerType);
    m_pWriter->WriteTags(tags);
    if (m_uiProfileSize != 0) {
        m_pWriter->WriteProfile(m_uiProfileSize, m_pProfile);
    }
    for (int row = 0; row < image.GetRows(); ++row) {
        m_pWriter->WriteLine(image.GetRowAddress(row), type);
    }
    m_pWriter->Finish();
    return image.GetRows();
}
