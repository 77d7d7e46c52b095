#include "FJPEGImageReader.h"
#include "ExifTestBlob.h"
#include "FDebugTrace.h"
#include "FException.h"
#include "FPropList.h"
#include "HostileJPEG.h"
#include "JPEGStorageManagers.h"
#include "JPEGTestUtil.h"
#include "RawTestFolder.h"

#include <gtest/gtest.h>

#include <cstring>

using jpegtest::Bytes;
using jpegtest::Picture;

namespace
{

FWideString PutFile(const std::string& name, const Bytes& bytes)
{
    return rawtest::PutMemoryFile("jpegreader-" + name, bytes);
}

std::string Prop(const FPropList& list, const char* name)
{
    const FPropPair* p = list.FindProp(name);
    return p != nullptr ? std::string(p->GetValue().GetNarrow()) : std::string("<absent>");
}

template <class E, class F>
std::string MessageOf(F&& f)
{
    try {
        f();
    } catch (const E& e) {
        return e.GetMessage();
    } catch (const FException& e) {
        return std::string("other FException: ") + e.GetDescription() + " / " + e.GetMessage();
    }
    return "<nothing thrown>";
}

// A little-endian EXIF block with a Make entry, behind a six-byte identifier.
Bytes ExifApp1(const char* identifier, uint32_t firstDirectory = 8)
{
    exiftest::Blob b(false);
    b.Header();
    b.Put(4, b.U32(firstDirectory));
    b.Directory(firstDirectory, {{271, b.Ascii("MakerCo")}, {34855, b.Short(200)}});
    Bytes data(6 + b.Data().size());
    std::memcpy(data.data(), identifier, 6);
    std::memcpy(data.data() + 6, b.Data().data(), b.Data().size());
    return data;
}

} // namespace

TEST(FJPEGImageReader, MissingFileNamesTheURL)
{
    const FWideString url = PutFile("nothing-here", {});
    const FWideString missing("jpegnowhere://no/such/file.jpg");
    const std::string message = MessageOf<FExceptionFileNotFound>([&] { FJPEGImageReader reader(missing); });
    EXPECT_EQ(message, "JPEGImageReader: Cannot open file 'jpegnowhere://no/such/file.jpg'");
}

TEST(FJPEGImageReader, ScalesAndDimensions)
{
    const FWideString url = PutFile("scale.jpg", jpegtest::Encode(1000, 600, 3));
    FJPEGImageReader reader(url);
    const std::pair<int, int> expected[] = {{1000, 600}, {500, 300}, {250, 150}, {125, 75}};
    for (int n = 0; n < 4; ++n) {
        reader.SetScale(n);
        int cols = 0, rows = 0, type = 0;
        reader.GetDimensions(cols, rows, type);
        EXPECT_EQ(std::make_pair(cols, rows), expected[n]) << n;
        EXPECT_EQ(type, FPixmap::PIXEL_24_RGB);
    }
    reader.SetScale(2);
    Picture out(FPixmap::PIXEL_24_RGB, 250, 150);
    reader.ReadImage(*out);
    // Reduced decoding keeps the picture: compare one pixel with the pattern's 4 x 4 mean.
    const uint8_t* p = out.pixmap->GetRowAddress(10) + 3 * 20;
    // Blue depends on the row only: 4 x 4 pixels average rows 40 to 43.
    EXPECT_NEAR(p[2], (jpegtest::PatternB(0, 40) + jpegtest::PatternB(0, 43)) / 2, 12);
    EXPECT_THROW(reader.ReadImage(*out), FExceptionJPEG);
}

TEST(FJPEGImageReader, RowConversionsMatchTheNativeDecode)
{
    const FWideString url = PutFile("convert.jpg", jpegtest::Encode(37, 5, 3));
    Picture native(FPixmap::PIXEL_24_RGB, 37, 5);
    {
        FJPEGImageReader reader(url);
        reader.ReadImage(*native);
    }
    const uint8_t* n = native.pixmap->GetRowAddress(4) + 3 * 36;
    const uint8_t r = n[0], g = n[1], b = n[2];
    struct Case {
        int type;
        Bytes last; // the last pixel of the last row
    };
    auto le32 = [](uint32_t v) {
        return Bytes{uint8_t(v), uint8_t(v >> 8), uint8_t(v >> 16), uint8_t(v >> 24)};
    };
    auto u16 = [](int v) {
        const uint16_t w = uint16_t(v);
        Bytes out(2);
        std::memcpy(out.data(), &w, 2);
        return out;
    };
    auto cat = [](std::initializer_list<Bytes> parts) {
        Bytes out;
        for (const Bytes& p : parts) {
            out.insert(out.end(), p.begin(), p.end());
        }
        return out;
    };
    const Case cases[] = {
        {FPixmap::PIXEL_24_BGR, {b, g, r}},
        {FPixmap::PIXEL_30_RGBL, le32(uint32_t(r) | uint32_t(g) << 8 | uint32_t(b) << 16)},
        {FPixmap::PIXEL_30_RGB, le32(uint32_t(r) << 3 | uint32_t(g) << 14 | uint32_t(b >> 0) << 24)},
        {FPixmap::PIXEL_32_ARGB, {255, r, g, b}},
        {FPixmap::PIXEL_32_ABGR, {255, b, g, r}},
        {FPixmap::PIXEL_32_BGRA, {b, g, r, 255}},
        {FPixmap::PIXEL_32_RGBA, {r, g, b, 255}},
        {FPixmap::PIXEL_48_RGB, cat({u16(r << 8), u16(g << 8), u16(b << 8)})},
        {FPixmap::PIXEL_48S_RGB, cat({u16(r << 8), u16(g << 8), u16(b << 8)})},
        {FPixmap::PIXEL_48_BGR, cat({u16(b << 8), u16(g << 8), u16(r << 8)})},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.type);
        Picture out(c.type, 37, 5);
        FJPEGImageReader reader(url);
        reader.ReadImage(*out);
        const int bpp = GetPixelTypeBytesPerPixel(c.type);
        const uint8_t* last = out.pixmap->GetRowAddress(4) + bpp * 36;
        EXPECT_EQ(Bytes(last, last + bpp), c.last);
    }
    // 48-bit channels step by 256 from 0 to 0xFF00.
    Picture deep(FPixmap::PIXEL_48_RGB, 37, 5);
    FJPEGImageReader(url).ReadImage(*deep);
    for (int i = 0; i < 37 * 5 * 3; ++i) {
        uint16_t v;
        std::memcpy(&v, deep.bytes.data() + 2 * i, 2);
        ASSERT_EQ(v & 0xFF, 0) << i;
    }
    struct Refusal {
        int type;
        const char* message;
    };
    const Refusal refusals[] = {
        {FPixmap::PIXEL_30_BGRL, "NOT IMPLEMENTED"},
        {FPixmap::PIXEL_8_MONO, "Unknown dest pixel type"},
        {FPixmap::PIXEL_16_MONO, "Unknown dest pixel type"},
        {FPixmap::PIXEL_FLT32_RGB, "Unknown dest pixel type"},
    };
    for (const Refusal& c : refusals) {
        Picture out(c.type, 37, 5);
        FJPEGImageReader reader(url);
        EXPECT_EQ(MessageOf<FExceptionUnknownPixelType>([&] { reader.ReadImage(*out); }), c.message)
            << c.type;
    }
}

TEST(FJPEGImageReader, GrayFilesReadIntoMonoOnly)
{
    const FWideString url = PutFile("gray.jpg", jpegtest::Encode(20, 10, 1));
    FJPEGImageReader reader(url);
    int cols = 0, rows = 0, type = 0;
    reader.GetDimensions(cols, rows, type);
    EXPECT_EQ(type, FPixmap::PIXEL_8_MONO);
    Picture rgb(FPixmap::PIXEL_24_RGB, 20, 10);
    EXPECT_EQ(MessageOf<FExceptionUnknownPixelType>([&] { reader.ReadImage(*rgb); }),
              "JPEGReader: Unknown source pixel type");
    Picture mono(FPixmap::PIXEL_8_MONO, 20, 10);
    FJPEGImageReader again(url);
    again.ReadImage(*mono);
    EXPECT_NEAR(mono.bytes[5 * 20 + 7], jpegtest::PatternR(7, 5), 6);
}

TEST(FJPEGImageReader, DamagedAndForeignFiles)
{
    FDebugTraceCapture trace;
    EXPECT_EQ(MessageOf<FExceptionJPEG>([&] { FJPEGImageReader r(PutFile("empty.jpg", {})); }),
              "Empty input file");
    EXPECT_TRUE(trace.Contains("JPEGIO Error: Empty input file"));

    const Bytes whole = jpegtest::Encode(64, 64, 3);
    // Cut short inside the entropy-coded data: rows are completed, a warning is logged.
    const Bytes cut(whole.begin(), whole.begin() + long(whole.size() / 2));
    {
        FJPEGImageReader reader(PutFile("cut.jpg", cut));
        Picture out(FPixmap::PIXEL_24_RGB, 64, 64);
        reader.ReadImage(*out);
        EXPECT_TRUE(trace.Contains("JPEGLib message: Premature end of JPEG file"));
        EXPECT_TRUE(reader.EndedEarly());
    }
    {
        FJPEGImageReader reader(PutFile("whole.jpg", whole));
        Picture out(FPixmap::PIXEL_24_RGB, 64, 64);
        reader.ReadImage(*out);
        EXPECT_FALSE(reader.EndedEarly());
    }
    const Bytes text = {'n', 'o', 't', ' ', 'a', ' ', 'j', 'p', 'e', 'g'};
    EXPECT_THROW(FJPEGImageReader r(PutFile("text.jpg", text)), FExceptionJPEG);
    {
        FJPEGImageReader reader(PutFile("small.jpg", whole));
        Picture small(FPixmap::PIXEL_24_RGB, 63, 64);
        EXPECT_THROW(reader.ReadImage(*small), FExceptionJPEGPixmapTooSmall);
    }
    {
        FJPEGImageReader reader(PutFile("cmyk.jpg", jpegtest::Encode(16, 16, 4)));
        int cols, rows, type;
        EXPECT_EQ(MessageOf<FExceptionUnknownPixelType>([&] { reader.GetDimensions(cols, rows, type); }),
                  "JPEGImageReader: while getting dimensions");
    }
}

TEST(FJPEGImageReader, DimensionsAreCheckedBeforeDecoding)
{
    // A frame header claiming 60000 x 60000 pixels: refused when the header is read.
    Bytes huge = jpegtest::Encode(16, 16, 3);
    for (size_t i = 2; i + 9 < huge.size(); ++i) {
        if (huge[i] == 0xFF && huge[i + 1] == 0xC0) {
            huge[i + 5] = 0xEA, huge[i + 6] = 0x60; // height
            huge[i + 7] = 0xEA, huge[i + 8] = 0x60; // width
            break;
        }
    }
    const std::string message =
        MessageOf<FExceptionJPEG>([&] { FJPEGImageReader r(huge.data(), huge.size()); });
    EXPECT_EQ(message, "JPEGImageReader: image of 60000 x 60000 pixels is too large");
}

TEST(FJPEGImageReader, LargeProgressiveFilesDecodeOrFailClearly)
{
    const Bytes big = jpegtest::Encode(2048, 1536, 3, true, 85);
    {
        FJPEGImageReader reader(big.data(), big.size());
        reader.SetScale(3);
        Picture out(FPixmap::PIXEL_24_RGB, 256, 192);
        reader.ReadImage(*out);
    }
    {
        FJPEGImageReader reader(big.data(), big.size());
        Picture out(FPixmap::PIXEL_24_RGB, 2048, 1536);
        reader.ReadImage(*out);
        const uint8_t* p = out.pixmap->GetRowAddress(700) + 3 * 900;
        EXPECT_NEAR(p[2], jpegtest::PatternB(900, 700), 8);
    }
    // Above the coder's memory limit the library refuses with its own message.
    const size_t old = SetJPEGMemoryLimit(size_t(2) << 20);
    std::string message;
    try {
        FJPEGImageReader reader(big.data(), big.size());
        Picture out(FPixmap::PIXEL_24_RGB, 2048, 1536);
        reader.ReadImage(*out);
        message = "<decoded>";
    } catch (const FExceptionJPEG& e) {
        message = e.GetMessage();
    }
    SetJPEGMemoryLimit(old);
    EXPECT_TRUE(message == "<decoded>" || message.find("upport") != std::string::npos ||
                message.find("memory") != std::string::npos)
        << message;
    EXPECT_NE(message, "<decoded>") << "the lowered limit should have been reached";
}

// A few hundred kilobytes can ask a decoder for minutes and gigabytes: many progressive
// scans, each a pass over the picture, or a huge declared size whose coefficients are all
// held. Each limit stops the decode with a message that names it.
TEST(FJPEGImageReader, DecodeBudgetsStopWhatWouldCostTooMuch)
{
    const Bytes fewScans = jpegfixture::ManyScanJPEG(64, 48, 60);
    const Bytes manyScans = jpegfixture::ManyScanJPEG(64, 48, 1000);
    ASSERT_EQ(jpegfixture::CountScans(manyScans), 1000);
    const Bytes hugeDeclared = jpegfixture::WithDeclaredSize(fewScans, 12000, 9000);
    const FJPEGDecodeBudget instant{100, 0, 1e-9};
    const char set = 1;
    struct Case {
        const char* name;
        const Bytes& file;
        FJPEGDecodeBudget budget;
        const char* cancel;
        const char* failure; // empty: decodes
    } cases[] = {
        {"60 scans, preview", fewScans, kJPEGPreviewBudget, nullptr, ""},
        {"1000 scans, picture", manyScans, kJPEGPictureBudget, nullptr, "more than 100 scans"},
        {"1000 scans, preview", manyScans, kJPEGPreviewBudget, nullptr, "more than 100 scans"},
        {"12000 x 9000 declared, preview", hugeDeclared, kJPEGPreviewBudget, nullptr,
         "decoding needs 310 MB of memory, more than the 160 MB allowed"},
        {"no time", fewScans, instant, nullptr, "the decode took more than"},
        {"cancelled", fewScans, kJPEGPictureBudget, &set, "cancelled"},
    };
    for (const Case& c : cases) {
        FJPEGImageReader reader(c.file.data(), c.file.size());
        reader.SetScale(3);
        int cols = 0, rows = 0, type = 0;
        reader.GetDimensions(cols, rows, type);
        reader.SetBudget(c.budget, c.cancel);
        Picture out(FPixmap::PIXEL_24_RGB, cols, rows);
        const std::string message = MessageOf<FExceptionJPEG>([&] { reader.ReadImage(*out); });
        if (*c.failure == 0) {
            EXPECT_EQ(message, "<nothing thrown>") << c.name;
        } else {
            EXPECT_NE(message.find(c.failure), std::string::npos) << c.name << ": " << message;
        }
        EXPECT_EQ(reader.Cancelled(), c.cancel != nullptr) << c.name;
    }
}

TEST(FJPEGImageReader, PropertiesComeFromTheFirstApp1Only)
{
    const Bytes plain = jpegtest::Encode(8, 8, 3);
    struct Case {
        const char* name;
        Bytes file;
        const char* make;
    };
    const Bytes other = {'h', 't', 't', 'p', ':', '/', '/', 'x', 0, 0, 0, 0, 0, 0, 0, 0};
    const Case cases[] = {
        {"exif", jpegtest::WithMarker(plain, 0xE1, ExifApp1("Exif\0\0")), "MakerCo"},
        {"jfif", jpegtest::WithMarker(plain, 0xE1, ExifApp1("Jfif\0\0")), "MakerCo"},
        {"offset", jpegtest::WithMarker(plain, 0xE1, ExifApp1("Exif\0\0", 10)), "<absent>"},
        {"second", jpegtest::WithMarker(jpegtest::WithMarker(plain, 0xE1, ExifApp1("Exif\0\0")), 0xE1, other),
         "<absent>"},
        {"none", plain, "<absent>"},
        {"short", jpegtest::WithMarker(plain, 0xE1, Bytes{'E', 'x', 'i', 'f', 0, 0, 'I', 'I'}), "<absent>"},
    };
    for (const Case& c : cases) {
        FJPEGImageReader reader(c.file.data(), c.file.size());
        FPropList list(nullptr, "p");
        reader.GetProperties(&list);
        EXPECT_EQ(Prop(list, "CAMMANUF"), c.make) << c.name;
    }
}
