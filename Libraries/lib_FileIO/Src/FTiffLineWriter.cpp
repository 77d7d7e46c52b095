#include "FTiffLineWriter.h"

#include "ExifReader.h"
#include "ExifWriter.h"
#include "FBrisalTag.h"
#include "FDebugTrace.h"
#include "FException.h"
#include "FHasProperties.h"
#include "FPixmap.h"
#include "FPropList.h"
#include "FReplacingFile.h"
#include "FRowFormatConverters.h"
#include "FWideString.h"
#include "ImagePropKeys.h"
#include "PixelRowConverters.h"
#include "TiffPixelRows.h"
#include "TiffStoragePort.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <limits>
#include <string>
#include <vector>

namespace
{

constexpr unsigned kExifMakerNoteTag = 37500;
constexpr unsigned kMakerNoteDirectoryOffset = 10; // after the 8-byte name and the version
constexpr int kDateTimeWidth = 19;

struct Layout {
    uint16_t bits;
    uint16_t samples;
    uint16_t photometric;
    int bytesPerPixel;
    bool extraSample;
};

bool LayoutOf(int type, Layout& layout)
{
    switch (type) {
    case FPixmap::PIXEL_8_MONO:
        layout = {8, 1, PHOTOMETRIC_MINISBLACK, 1, false};
        return true;
    case FPixmap::PIXEL_16_MONO:
        layout = {16, 1, PHOTOMETRIC_MINISBLACK, 2, false};
        return true;
    case FPixmap::PIXEL_24_RGB:
        layout = {8, 3, PHOTOMETRIC_RGB, 3, false};
        return true;
    case FPixmap::PIXEL_30_RGBL:
        layout = {8, 4, PHOTOMETRIC_RGB, 4, true};
        return true;
    case FPixmap::PIXEL_48_RGB:
        layout = {16, 3, PHOTOMETRIC_RGB, 6, false};
        return true;
    }
    return false;
}

[[noreturn]] void ThrowCannotConvert()
{
    throw FExceptionUnknownPixelType("TiffLineWriter: Cannot convert source to dest pixel type.");
}

bool IsColourType(int type)
{
    return type >= FPixmap::PIXEL_24_BGR && type <= FPixmap::PIXEL_48_BGR;
}

FRowConverter To16Mono(int source)
{
    switch (source) {
    case FPixmap::PIXEL_8_MONO:
        return ConvertRow8MonoTo16Mono;
    case FPixmap::PIXEL_12_MONO:
        return ConvertRow12MonoTo16Mono;
    case FPixmap::PIXEL_16S_MONO:
        return ConvertRow16MonoTo16Mono;
    case FPixmap::PIXEL_32_MONO:
        return ConvertRow32MonoTo16Mono;
    }
    ThrowCannotConvert();
}

FRowConverter To30RGBL(int source)
{
    switch (source) {
    case FPixmap::PIXEL_30_BGRL:
        return ConvertRow30BGRLTo30RGBL;
    case FPixmap::PIXEL_30_RGB:
        return ConvertRow30RGBTo30RGBL;
    case FPixmap::PIXEL_32_ARGB:
        return ConvertRow32ARGBTo30RGBL;
    case FPixmap::PIXEL_32_ABGR:
        return ConvertRow32ABGRTo30RGBL;
    case FPixmap::PIXEL_32_BGRA:
        return ConvertRow32BGRATo30RGBL;
    case FPixmap::PIXEL_32_RGBA:
        return ConvertRow32RGBATo30RGBL;
    case FPixmap::PIXEL_48_RGB:
        return ConvertRow48RGBTo30RGBL;
    case FPixmap::PIXEL_48S_RGB:
        return ConvertRow48SRGBTo30RGBL;
    case FPixmap::PIXEL_48_BGR:
        return ConvertRow48BGRTo30RGBL;
    }
    return tiffrows::GetShiftConverter(source, FPixmap::PIXEL_30_RGBL);
}

FRowConverter To48RGB(int source)
{
    if (source == FPixmap::PIXEL_24_RGB)
        return ConvertPixels24To48;
    if (source == FPixmap::PIXEL_48S_RGB)
        return ConvertPixels48To48;
    return GetRowConverter(source, FPixmap::PIXEL_48_RGB);
}

// The converter of rows of `source` into the writer's type.
FRowConverter WriterConverter(int writer, int source)
{
    if (writer == FPixmap::PIXEL_8_MONO)
        throw FExceptionUnknownPixelType("TiffLineWriter: Unknown source pixel type");
    if (writer == FPixmap::PIXEL_16_MONO)
        return To16Mono(source);
    if (!IsColourType(source))
        ThrowCannotConvert();
    FRowConverter converter = nullptr;
    if (writer == FPixmap::PIXEL_24_RGB)
        converter = tiffrows::GetShiftConverter(source, FPixmap::PIXEL_24_RGB);
    else if (writer == FPixmap::PIXEL_30_RGBL)
        converter = To30RGBL(source);
    else if (writer == FPixmap::PIXEL_48_RGB)
        converter = To48RGB(source);
    if (!converter)
        ThrowCannotConvert();
    return converter;
}

// A property value as an integer tag value: truncated, and kept in range so
// that no text can make the conversion undefined.
int TruncateToInt(double value)
{
    if (std::isnan(value))
        return 0;
    const double limited =
        std::clamp(value, double(std::numeric_limits<int>::min()), double(std::numeric_limits<int>::max()));
    return static_cast<int>(limited);
}

uint16_t LeU16(const uint8_t* p)
{
    return uint16_t(p[0] | p[1] << 8);
}

uint32_t LeU32(const uint8_t* p)
{
    return uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24;
}

void PutLeU32(uint8_t* p, uint32_t v)
{
    p[0] = uint8_t(v);
    p[1] = uint8_t(v >> 8);
    p[2] = uint8_t(v >> 16);
    p[3] = uint8_t(v >> 24);
}

void PutBe(uint8_t* p, uint32_t v, int bytes)
{
    for (int i = 0; i < bytes; ++i)
        p[i] = uint8_t(v >> (8 * (bytes - 1 - i)));
}

uint64_t ExifTypeSize(unsigned type)
{
    switch (type) {
    case 1: // BYTE
    case 2: // ASCII
    case 6: // SBYTE
    case 7: // UNDEFINED
        return 1;
    case 3: // SHORT
    case 8: // SSHORT
        return 2;
    case 4:  // LONG
    case 9:  // SLONG
    case 11: // FLOAT
    case 13: // IFD
        return 4;
    case 5:  // RATIONAL
    case 10: // SRATIONAL
    case 12: // DOUBLE
        return 8;
    }
    return 0;
}

// Adds `shift` to the value offset of every entry whose value lies outside
// the entry; returns the original offset of the maker note's value, or 0.
uint32_t RelocateDirectory(std::vector<uint8_t>& block, uint64_t directory, uint32_t shift)
{
    if (directory + 2 > block.size())
        return 0;
    const unsigned count = LeU16(&block[directory]);
    uint32_t makerNote = 0;
    for (unsigned i = 0; i < count; ++i) {
        const uint64_t entry = directory + 2 + 12 * uint64_t(i);
        if (entry + 12 > block.size())
            break;
        const unsigned tag = LeU16(&block[entry]);
        const uint64_t bytes = ExifTypeSize(LeU16(&block[entry + 2])) * LeU32(&block[entry + 4]);
        if (bytes <= 4)
            continue;
        const uint32_t offset = LeU32(&block[entry + 8]);
        if (tag == kExifMakerNoteTag)
            makerNote = offset;
        PutLeU32(&block[entry + 8], offset + shift);
    }
    return makerNote;
}

// The EXIF block is built with offsets counted from its own start; in the file
// they count from the file's start.
void RelocateExif(std::vector<uint8_t>& block, uint32_t position)
{
    const uint32_t makerNote = RelocateDirectory(block, 0, position);
    if (makerNote != 0)
        RelocateDirectory(block, uint64_t(makerNote) + kMakerNoteDirectoryOffset, position);
}

// The size of a thumbnail that fits the resource, keeping its proportions.
void FitThumbnail(int cols, int rows, int& fitCols, int& fitRows)
{
    constexpr uint64_t kRoom = kMaxTiffThumbnailBlock - kTiffThumbnailHeadSize;
    auto stride = [](uint64_t c) { return (c * 3 + 3) & ~uint64_t(3); };
    const double f = std::sqrt(double(kRoom) / (3.0 * double(cols) * double(rows)));
    uint64_t c = std::max<uint64_t>(1, uint64_t(double(cols) * f));
    uint64_t r = std::max<uint64_t>(1, uint64_t(double(rows) * f));
    c = std::min<uint64_t>(c, (kRoom & ~uint64_t(3)) / 3);
    r = std::max<uint64_t>(1, std::min<uint64_t>(r, kRoom / stride(c)));
    fitCols = int(c);
    fitRows = int(r);
}

} // namespace

struct FTiffLineWriter::State {
    std::unique_ptr<FReplacingFile> target;
    TIFF* tif = nullptr;
    int pixelType = 0;
    std::vector<uint8_t> buffer; // one converted row
    FWideString url;
    int rowBytes = 0; // 0 until SetDimensions: the writer is uninitialised
    int cols = 0;
    int rows = 0;
    int nextRow = 0;
    std::vector<uint8_t> pendingExif; // waits for Finish when rows came first

    TIFF* Handle() const
    {
        if (!tif)
            throw FExceptionTIFF("TiffLineWriter: the file is already finished");
        return tif;
    }
};

FTiffLineWriter::FTiffLineWriter(const FWideString& url, bool /*mode*/) : m_pState(std::make_unique<State>())
{
    State& s = *m_pState;
    s.url = url;
    s.target = std::make_unique<FReplacingFile>(url);
    // Little-endian always, as the EXIF block it holds.
    s.tif = TIFFOpenStorageFile(s.target->GetFile(), url, "wl");
    if (!s.tif)
        throw FExceptionFileOpen(url.GetNarrow());
}

// Unfinished: nothing more is written, and the temporary file goes with the target.
FTiffLineWriter::~FTiffLineWriter()
{
    if (m_pState->tif)
        TIFFDiscardStorageHandle(m_pState->tif);
}

void FTiffLineWriter::Finish()
{
    State& s = *m_pState;
    if (!s.tif)
        throw FExceptionTIFF("TiffLineWriter: the file is already finished");
    if (s.rowBytes == 0)
        throw FExceptionWriteUninitialized("TiffLineWriter");
    if (s.nextRow != s.rows)
        throw FExceptionTIFF(
            FNarrowString("TiffLineWriter: %d of %d rows written", s.nextRow, s.rows).GetCString());
    if (!s.pendingExif.empty()) {
        if (!TIFFFlushData(s.tif))
            throw FExceptionFileWrite("TiffLineWriter: while writing the rows");
        priPlaceExif();
    }
    // The directory goes last; a failure anywhere before shows in the port.
    if (!TIFFFlush(s.tif) || TIFFStorageFailed(s.tif))
        throw FExceptionFileWrite("TiffLineWriter: while writing the directory");
    TIFFDiscardStorageHandle(s.tif);
    s.tif = nullptr;
    s.target->Commit();
}

void FTiffLineWriter::SetDimensions(int cols, int rows, int pixelType)
{
    State& s = *m_pState;
    Layout layout{};
    if (!LayoutOf(pixelType, layout))
        throw FExceptionUnknownPixelType("TiffLineWriter: while setting dimensions");
    if (rows <= 0 || rows > kMaxTiffWriteDimension)
        throw FExceptionFileWrite("TiffLineWriter: while writing TIFFTAG_IMAGELENGTH");
    if (cols <= 0 || cols > kMaxTiffWriteDimension)
        throw FExceptionFileWrite("TiffLineWriter: while writing TIFFTAG_IMAGEWIDTH");
    // Refused before a byte is written: rows past the 32-bit offsets could never be finished.
    const uint64_t pixelBytes = uint64_t(cols) * uint64_t(rows) * uint64_t(layout.bytesPerPixel);
    if (pixelBytes > kMaxTiffPixelBytes)
        throw FExceptionFileWrite(
            FNarrowString("TiffLineWriter: %d x %d pixels need %llu MB, more than a TIFF "
                          "file can hold (%llu MB)",
                          cols, rows, static_cast<unsigned long long>(pixelBytes >> 20),
                          static_cast<unsigned long long>(kMaxTiffPixelBytes >> 20))
                .GetCString());

    TIFF* tif = s.Handle();
    if (!TIFFSetField(tif, TIFFTAG_IMAGELENGTH, uint32_t(rows)))
        throw FExceptionFileWrite("TiffLineWriter: while writing TIFFTAG_IMAGELENGTH");
    if (!TIFFSetField(tif, TIFFTAG_IMAGEWIDTH, uint32_t(cols)))
        throw FExceptionFileWrite("TiffLineWriter: while writing TIFFTAG_IMAGEWIDTH");
    if (!TIFFSetField(tif, TIFFTAG_BITSPERSAMPLE, layout.bits))
        throw FExceptionFileWrite("TiffLineWriter: while writing TIFFTAG_BITSPERSAMPLE");
    if (!TIFFSetField(tif, TIFFTAG_SAMPLESPERPIXEL, layout.samples))
        throw FExceptionFileWrite("TiffLineWriter: while writing TIFFTAG_SAMPLESPERPIXEL");
    if (layout.extraSample) {
        uint16_t kind = EXTRASAMPLE_UNSPECIFIED;
        if (!TIFFSetField(tif, TIFFTAG_EXTRASAMPLES, uint16_t(1), &kind))
            throw FExceptionFileWrite("TiffLineWriter: while writing TIFFTAG_EXTRASAMPLES");
    }
    if (!TIFFSetField(tif, TIFFTAG_PHOTOMETRIC, layout.photometric))
        throw FExceptionFileWrite("TiffLineWriter: while writing TIFFTAG_PHOTOMETRIC");
    if (!TIFFSetField(tif, TIFFTAG_COMPRESSION, COMPRESSION_NONE))
        throw FExceptionFileWrite("TiffLineWriter: while writing TIFFTAG_COMPRESSION");
    if (!TIFFSetField(tif, TIFFTAG_PLANARCONFIG, PLANARCONFIG_CONTIG))
        throw FExceptionFileWrite("TiffLineWriter: while writing TIFFTAG_PLANARCONFIG");
    const int stripRows = std::max(1, kTiffStripBytes / (cols * layout.bytesPerPixel));
    if (!TIFFSetField(tif, TIFFTAG_ROWSPERSTRIP, uint32_t(std::min(stripRows, rows))))
        throw FExceptionFileWrite("TiffLineWriter: while writing TIFFTAG_ROWSPERSTRIP");

    s.rowBytes = cols * layout.bytesPerPixel;
    s.cols = cols;
    s.rows = rows;
    s.pixelType = pixelType;
}

void FTiffLineWriter::WriteLine(const void* row, int pixelType)
{
    State& s = *m_pState;
    if (s.rowBytes == 0 || !s.tif)
        throw FExceptionWriteUninitialized("TiffLineWriter");
    if (s.nextRow >= s.rows)
        throw FExceptionTIFF("TiffLineWriter: more rows written than set");
    const void* data = row;
    // The library swaps 16-bit samples in the caller's buffer when the file's
    // byte order is not the host's; the caller's row stays untouched.
    if (pixelType != s.pixelType || TIFFIsByteSwapped(s.tif)) {
        if (s.buffer.empty())
            s.buffer.resize(size_t(s.rowBytes));
        if (pixelType != s.pixelType)
            WriterConverter(s.pixelType, pixelType)(unsigned(s.cols), row, s.buffer.data());
        else
            std::memcpy(s.buffer.data(), row, s.buffer.size());
        data = s.buffer.data();
    }
    if (TIFFWriteScanline(s.tif, const_cast<void*>(data), uint32_t(s.nextRow), 0) < 0)
        throw FExceptionFileWrite(
            FNarrowString("TIFFWriteScanline failed at row %d", s.nextRow).GetCString());
    ++s.nextRow;
}

void FTiffLineWriter::priWriteTagSet(FBrisalTag& tagSet)
{
    void* blob = nullptr;
    int size = 0;
    if (!tagSet.GetBuffer(&blob, size, true))
        throw FExceptionFileWrite("FTiffLineWriter: while writing Brisal tag.");
    std::unique_ptr<uint8_t[]> bytes(static_cast<uint8_t*>(blob));
    // The blob's words are little-endian; the library takes them as numbers.
    std::vector<uint32_t> words(size_t(size) / 4);
    for (size_t i = 0; i < words.size(); ++i)
        words[i] = LeU32(bytes.get() + 4 * i);
    if (!TIFFSetField(m_pState->Handle(), kTiffTagBrisal, uint32_t(words.size()), words.data()))
        throw FExceptionFileWrite("FTiffLineWriter: while writing Brisal tag.");
}

void FTiffLineWriter::WriteTags(const FHasProperties& tags)
{
    TIFF* tif = m_pState->Handle();
    FHasProperties copy(tags);
    copy.Remove("Rows");
    copy.Remove("Columns");
    copy.Remove("Filename");

    const struct {
        const char* key;
        ttag_t tag;
        const char* message;
    } tiffTexts[] = {
        {"DocumentName", TIFFTAG_DOCUMENTNAME, "FTiffLineWriter: while writing DocumentName tag."},
        {"Description", TIFFTAG_IMAGEDESCRIPTION, "FTiffLineWriter: while writing Description tag."},
        {"CameraMake", TIFFTAG_MAKE, "FTiffLineWriter: while writing CameraMake tag."},
        {"CameraModel", TIFFTAG_MODEL, "FTiffLineWriter: while writing CameraModel tag."},
        {"CameraSoftware", TIFFTAG_SOFTWARE, "FTiffLineWriter: while writing CameraSoftware tag."},
        {"Photographer", TIFFTAG_ARTIST, "FTiffLineWriter: while writing Photographer tag."},
    };
    if (copy.Has("XResolution")) {
        if (!TIFFSetField(tif, TIFFTAG_XRESOLUTION, copy.GetFloat("XResolution", 0.0)))
            throw FExceptionFileWrite("FTiffLineWriter: while writing XResolution tag.");
        copy.Remove("XResolution");
    }
    if (copy.Has("YResolution")) {
        if (!TIFFSetField(tif, TIFFTAG_YRESOLUTION, copy.GetFloat("YResolution", 0.0)))
            throw FExceptionFileWrite("FTiffLineWriter: while writing YResolution tag.");
        copy.Remove("YResolution");
    }
    if (copy.Has("ResolutionUnits")) {
        if (!TIFFSetField(tif, TIFFTAG_RESOLUTIONUNIT, TruncateToInt(copy.GetFloat("ResolutionUnits", 0.0))))
            throw FExceptionFileWrite("FTiffLineWriter: while writing ResolutionUnits tag.");
        copy.Remove("ResolutionUnits");
    }
    for (const auto& t : tiffTexts) {
        if (!copy.Has(t.key))
            continue;
        if (!TIFFSetField(tif, t.tag, copy.GetString(t.key, "")))
            throw FExceptionFileWrite(t.message);
        copy.Remove(t.key);
    }
    if (copy.Has("DateTime")) {
        // The field is 19 characters wide: shorter texts are right-aligned,
        // longer ones cut.
        const std::string text = std::string(copy.GetString("DateTime", "")).substr(0, kDateTimeWidth);
        const std::string field = std::string(kDateTimeWidth - text.size(), ' ') + text;
        if (!TIFFSetField(tif, TIFFTAG_DATETIME, field.c_str()))
            throw FExceptionFileWrite("FTiffLineWriter: while writing DateTime tag.");
        copy.Remove("DateTime");
    }

    FBrisalTag tagSet;
    const struct {
        const char* key;
        uint32_t code;
    } texts[] = {{"Lens", BrisalTagCode("lens")},
                 {"ApertureString", BrisalTagCode("sfsp")},
                 {"ShutterString", BrisalTagCode("sssd")},
                 {"DarkShortFilename", BrisalTagCode("drks")},
                 {"DarkLongFilename", BrisalTagCode("drkl")},
                 {"CamFilename", BrisalTagCode("camf")},
                 {"CameraSerialNumber", BrisalTagCode("came")},
                 {"NeutralDate", BrisalTagCode("ndat")},
                 {"NeutralFilename", BrisalTagCode("nfnm")}},
      doubles[] =
          {{"FocalLength", BrisalTagCode("focl")},      {"ExposureCompensation", BrisalTagCode("excp")},
           {"Blackness", BrisalTagCode("blkn")},        {"Contrast", BrisalTagCode("cont")},
           {"Highlight", BrisalTagCode("hilt")},        {"ColorAdjustRed", BrisalTagCode("cadr")},
           {"ColorAdjustGreen", BrisalTagCode("cadg")}, {"ColorAdjustBlue", BrisalTagCode("cadb")},
           {"NeutralRed", BrisalTagCode("nred")},       {"NeutralGreen", BrisalTagCode("ngrn")},
           {"NeutralBlue", BrisalTagCode("nblu")}},
      integers[] = {{"Exposure", BrisalTagCode("issd")},
                    {"ImageNumber", BrisalTagCode("imgn")},
                    {"NeutralPointX", BrisalTagCode("nptx")},
                    {"NeutralPointY", BrisalTagCode("npty")},
                    {"ColorSpaceIndex", BrisalTagCode("clsp")}};
    for (const auto& t : texts) {
        if (copy.Has(t.key)) {
            tagSet.SetString(t.code, copy.GetString(t.key, ""));
            copy.Remove(t.key);
        }
    }
    for (const auto& t : doubles) {
        if (copy.Has(t.key)) {
            tagSet.SetDouble(t.code, copy.GetFloat(t.key, 0.0));
            copy.Remove(t.key);
        }
    }
    for (const auto& t : integers) {
        if (copy.Has(t.key)) {
            tagSet.SetInt(t.code, TruncateToInt(copy.GetFloat(t.key, 0.0)));
            copy.Remove(t.key);
        }
    }

    if (copy.GetCount() > 0) {
        std::vector<FNarrowString> list;
        for (const auto& [name, value] : copy.GetPropertyMap()) {
            list.push_back(name);
            list.push_back(value);
        }
        if (tagSet.SetInt(BrisalTagCode("exsu"), int(list.size()))) {
            FNarrowString joined;
            FBrisalTag::JoinStrings(joined, int(list.size()), list.data());
            tagSet.SetString(BrisalTagCode("exst"), joined.GetCString());
        }
    }
    priWriteTagSet(tagSet);
}

void FTiffLineWriter::WriteTags(FPropList* properties)
{
    State& s = *m_pState;
    TIFF* tif = s.Handle();
    FPropList empty(nullptr, "properties");
    FPropList* props = properties ? properties : &empty;

    if (!TIFFSetField(tif, TIFFTAG_XRESOLUTION, 180.0))
        throw FExceptionFileWrite("FTiffLineWriter: while writing XResolution tag.");
    if (!TIFFSetField(tif, TIFFTAG_YRESOLUTION, 180.0))
        throw FExceptionFileWrite("FTiffLineWriter: while writing YResolution tag.");
    if (!TIFFSetField(tif, TIFFTAG_RESOLUTIONUNIT, RESUNIT_INCH))
        throw FExceptionFileWrite("FTiffLineWriter: while writing ResolutionUnits tag.");

    const struct {
        const char* name;
        const char* fallback;
        ttag_t tag;
        const char* message;
    } tiffTexts[] = {
        {"CAMMANUF", "", TIFFTAG_MAKE, "FTiffLineWriter: while writing CAMMANUF tag."},
        {"CAMMODEL", "", TIFFTAG_MODEL, "FTiffLineWriter: while writing CAMMODEL tag."},
        {propkey::kSoftware, " ", TIFFTAG_SOFTWARE, "FTiffLineWriter: while writing TIFFTAG_SOFTWARE tag."},
    };
    for (const auto& t : tiffTexts) {
        const FWideString value = props->GetString(t.name, t.fallback);
        if (!TIFFSetField(tif, t.tag, value.GetNarrow()))
            throw FExceptionFileWrite(t.message);
    }
    char now[20] = {};
    FormatExifNow(now);
    if (!TIFFSetField(tif, TIFFTAG_DATETIME, now))
        throw FExceptionFileWrite("FTiffLineWriter: while writing TIME tag.");

    FBrisalTag tagSet;
    const struct {
        const char* name;
        uint32_t code;
    } always[] = {{"AP_DESC", BrisalTagCode("sfsp")},
                  {"SH_DESC", BrisalTagCode("sssd")},
                  {"CAMSERIAL", BrisalTagCode("came")}};
    for (const auto& t : always) {
        const FWideString value = props->GetString(t.name, "");
        tagSet.SetString(t.code, value.GetNarrow());
    }

    const struct {
        const char* name;
        const char* stored;
    } extras[] = {
        {"ISO", "ISO"},       {"EXPCOMP", "EXPCOMP"}, {"PMODE", "PMODE"},     {"RESOLUTION", "RESOLUTION"},
        {"AEMODE", "AEMODE"}, {"AFMODE", "AFMODE"},   {"FLASH", "FLASH"},     {"EXPNET", "EXPNET"},
        {"DRIVE", "DRIVE"},   {"FLENGTH", "FLENGTH"}, {"WB_DESC", "WB_DESC"}, {"FIRMVERS", "FIRMVERS"},
        {"TIME", "TIME"},     {"COLS", "Q7FCOLS"},    {"ROWS", "Q7FROWS"}};
    std::vector<FNarrowString> list;
    for (const auto& e : extras) {
        bool found = false;
        const FWideString value = props->GetString(e.name, "", &found);
        if (!found || int(list.size()) + 2 > kMaxTiffExtraStrings)
            continue;
        list.push_back(FNarrowString("%s", e.stored));
        list.push_back(FNarrowString("%s", value.GetNarrow()));
    }
    if (!list.empty() && tagSet.SetInt(BrisalTagCode("exsu"), int(list.size()))) {
        FNarrowString joined;
        FBrisalTag::JoinStrings(joined, int(list.size()), list.data());
        tagSet.SetString(BrisalTagCode("exst"), joined.GetCString());
    }
    priWriteTagSet(tagSet);

    std::vector<uint8_t> exif(kExifBufferSize, 0xFF);
    const unsigned length = WriteExif(exif.data(), 0, props, unsigned(std::max(s.cols, 0)),
                                      unsigned(std::max(s.rows, 0)), kExifBufferSize);
    exif.resize(std::min<size_t>(length, exif.size()));
    s.pendingExif = std::move(exif);
    // Before the first row the block goes straight after the header, where no
    // strip will land; afterwards it waits until the rows are flushed.
    if (s.nextRow == 0)
        priPlaceExif();
}

// Appends the pending EXIF block at an even offset at the end of the file,
// with its offsets moved to file offsets, and points tag 34665 at it.
void FTiffLineWriter::priPlaceExif()
{
    State& s = *m_pState;
    std::vector<uint8_t> block = std::move(s.pendingExif);
    s.pendingExif.clear();
    thandle_t client = TIFFClientdata(s.tif);
    TIFFSeekProc seek = TIFFGetSeekProc(s.tif);
    const toff_t end = seek(client, 0, SEEK_END);
    const uint64_t position = (uint64_t(end) + 1) & ~uint64_t(1);
    if (end == static_cast<toff_t>(-1) || position + block.size() > std::numeric_limits<uint32_t>::max())
        throw FExceptionFileWrite("FTiffLineWriter: while writing EXIF IFD tag.");
    RelocateExif(block, uint32_t(position));
    if (seek(client, position, SEEK_SET) != position ||
        TIFFGetWriteProc(s.tif)(client, block.data(), tmsize_t(block.size())) != tmsize_t(block.size()))
        throw FExceptionFileWrite("FTiffLineWriter: while writing EXIF IFD tag.");
    if (!TIFFSetField(s.tif, TIFFTAG_EXIFIFD, uint64_t(position)))
        throw FExceptionFileWrite("FTiffLineWriter: while writing EXIF IFD tag.");
}

void FTiffLineWriter::WriteThumbnail(const FPixmap& thumbnail)
{
    // Three bytes R, G, B per pixel are read: only 24-bit RGB holds them.
    if (thumbnail.GetPixelType() != FPixmap::PIXEL_24_RGB)
        throw FExceptionUnknownPixelType("TiffLineWriter: while writing Photoshop thumbnail");
    const int cols = thumbnail.GetCols();
    const int rows = thumbnail.GetRows();
    if (cols <= 0 || rows <= 0)
        return; // nothing to show; the save goes on without a thumbnail
    if (int64_t(thumbnail.GetStride()) < int64_t(cols) * 3)
        throw FExceptionPixmapTooSmall("TiffLineWriter: while writing Photoshop thumbnail");

    int outCols = cols;
    int outRows = rows;
    uint64_t stride = uint64_t(thumbnail.GetStride());
    if (stride * uint64_t(rows) + kTiffThumbnailHeadSize > kMaxTiffThumbnailBlock) {
        // Too large for the resource (a near-square image's 160 x 160 box):
        // a reduced copy keeps the save going.
        FitThumbnail(cols, rows, outCols, outRows);
        stride = (uint64_t(outCols) * 3 + 3) & ~uint64_t(3);
    }
    const uint32_t data = uint32_t(stride * uint64_t(outRows));
    std::vector<uint8_t> block(kTiffThumbnailHeadSize + data, 0);
    std::memcpy(block.data(), "8BIM", 4);
    PutBe(&block[4], 0x0409, 2);
    PutBe(&block[8], data + 28, 4);
    PutBe(&block[12], 0, 4);
    PutBe(&block[16], uint32_t(outCols), 4);
    PutBe(&block[20], uint32_t(outRows), 4);
    PutBe(&block[24], uint32_t(stride), 4);
    PutBe(&block[28], data, 4);
    PutBe(&block[32], data, 4);
    PutBe(&block[36], 24, 2);
    PutBe(&block[38], 1, 2);
    for (int y = 0; y < outRows; ++y) {
        const int sy = int(int64_t(y) * rows / outRows);
        const uint8_t* in = thumbnail.GetRowAddress(sy);
        uint8_t* out = &block[kTiffThumbnailHeadSize + size_t(y) * stride];
        for (int x = 0; x < outCols; ++x) {
            const uint8_t* p = in + size_t(int64_t(x) * cols / outCols) * 3;
            out[3 * x] = p[2];
            out[3 * x + 1] = p[1];
            out[3 * x + 2] = p[0];
        }
    }
    if (!TIFFSetField(m_pState->Handle(), TIFFTAG_PHOTOSHOP, uint32_t(block.size()), block.data()))
        throw FExceptionFileWrite("TiffLineWriter: while writing Photoshop thumbnail");
}

void FTiffLineWriter::WriteProfile(unsigned size, const void* data)
{
    if (size == 0)
        return;
    if (!data || !TIFFSetField(m_pState->Handle(), TIFFTAG_ICCPROFILE, uint32_t(size), data))
        throw FExceptionFileWrite("TiffLineWriter: while writing profile");
}
