#include "FJPEGLineWriter.h"
#include "BribFileBuilder.h"
#include "ExifTestBlob.h"
#include "FBribImageReader.h"
#include "FDebugTrace.h"
#include "FException.h"
#include "FHasProperties.h"
#include "FJPEGImageReader.h"
#include "FPropList.h"
#include "FScopedTempFolder.h"
#include "JPEGTestUtil.h"
#include "RawTestFolder.h"

#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <functional>

using jpegtest::Bytes;
using jpegtest::Picture;

namespace
{

constexpr int kCols = 64;
constexpr int kRows = 48;

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

Picture Pattern(int type, int cols, int rows)
{
    Picture p(type, cols, rows);
    for (int y = 0; y < rows; ++y) {
        uint8_t* row = p.pixmap->GetRowAddress(y);
        for (int x = 0; x < cols; ++x) {
            if (type == FPixmap::PIXEL_8_MONO) {
                row[x] = jpegtest::PatternR(x, y);
                continue;
            }
            row[3 * x] = jpegtest::PatternR(x, y);
            row[3 * x + 1] = jpegtest::PatternG(x, y);
            row[3 * x + 2] = jpegtest::PatternB(x, y);
        }
    }
    return p;
}

// A valid ICC header (size, "acsp"), one tag, and counting bytes after it.
Bytes Profile(size_t size)
{
    Bytes p(size);
    for (size_t i = 0; i < size; ++i) {
        p[i] = uint8_t(i * 31 + 7);
    }
    const uint32_t be = uint32_t(size);
    const uint8_t header[] = {uint8_t(be >> 24), uint8_t(be >> 16), uint8_t(be >> 8), uint8_t(be)};
    std::memcpy(p.data(), header, 4);
    std::memcpy(p.data() + 4, "none", 4);
    const uint8_t version[] = {2, 0x10, 0, 0};
    std::memcpy(p.data() + 8, version, 4);
    std::memcpy(p.data() + 12, "mntrRGB XYZ ", 12);
    std::memset(p.data() + 24, 0, 12);
    std::memcpy(p.data() + 36, "acsp", 4);
    std::memset(p.data() + 40, 0, 88);
    // One tag: the media white point, an XYZ value (D50) at 144.
    const uint8_t table[] = {0, 0, 0, 1, 'w', 't', 'p', 't', 0, 0, 0, 144, 0, 0, 0, 20};
    std::memcpy(p.data() + 128, table, sizeof(table));
    const uint8_t xyz[] = {'X', 'Y', 'Z', ' ', 0, 0, 0, 0, 0, 0, 0xF6, 0xD6, 0, 1, 0, 0, 0, 0, 0xD3, 0x2D};
    std::memcpy(p.data() + 144, xyz, sizeof(xyz));
    return p;
}

FPropList* CaptureProperties(FPropList& list)
{
    const std::pair<const char*, const char*> pairs[] = {
        {"CAMMANUF", "TALVO"},  {"CAMMODEL", "TALVO MV3"}, {"rpSoftware", "Rawbench 2.3"},
        {"SH_DESC", "1/250"},   {"AP_DESC", "5.6"},        {"ISO", "400"},
        {"TIME", "1196763630"}, {"FLENGTH", "35"},         {"rpColorSpace", "2"},
        {"rpContrast", "-0.3"}, {"rpQuality", "9"},        {"CAMSERIAL", "SN-0042"},
    };
    for (const auto& p : pairs) {
        list.AddProp(p.first, p.second);
    }
    return &list;
}

// Writes a file through the line writer in the usual order; steps may be left out.
struct WriteSteps {
    int qualityIndex = 9;
    bool exif = true;
    const FPixmap* thumbnail = nullptr;
    FPropList* properties = nullptr;
    const Bytes* profile = nullptr;
    int rows = kRows;
};

Bytes WriteFile(const rawtest::RawTestFolder& folder, const std::string& name, const WriteSteps& steps)
{
    const Picture image = Pattern(FPixmap::PIXEL_24_RGB, kCols, kRows);
    {
        FJPEGLineWriter writer(folder.URL(name), steps.qualityIndex, steps.exif);
        writer.SetDimensions(kCols, kRows, FPixmap::PIXEL_24_RGB);
        if (steps.thumbnail != nullptr) {
            writer.WriteThumbnail(*steps.thumbnail);
        }
        if (steps.properties != nullptr) {
            writer.WriteTags(steps.properties);
        }
        if (steps.profile != nullptr) {
            writer.WriteProfile(unsigned(steps.profile->size()), steps.profile->data());
        }
        for (int y = 0; y < steps.rows; ++y) {
            writer.WriteLine(image.pixmap->GetRowAddress(y), FPixmap::PIXEL_24_RGB);
        }
        if (steps.rows == kRows) {
            writer.Finish();
        } else {
            EXPECT_EQ(MessageOf<FExceptionJPEG>([&] { writer.Finish(); }),
                      "Fewer scan lines written than rows specified.");
        }
    }
    return folder.Exists(name) ? folder.Read(name) : Bytes();
}

// The TIFF structure of the first APP1 marker (after its six-byte identifier).
Bytes App1Tiff(const Bytes& jpeg, std::string* identifier = nullptr)
{
    const auto app1 = jpegtest::MarkersOf(jpeg, 0xE1);
    if (app1.empty() || app1[0].data.size() < 6) {
        return {};
    }
    if (identifier != nullptr) {
        identifier->assign(app1[0].data.begin(), app1[0].data.begin() + 6);
    }
    return Bytes(app1[0].data.begin() + 6, app1[0].data.end());
}

std::string Prop(const FPropList& list, const char* name)
{
    const FPropPair* p = list.FindProp(name);
    return p != nullptr ? std::string(p->GetValue().GetNarrow()) : std::string("<absent>");
}

} // namespace

TEST(FJPEGLineWriter, OrderAndLimitsAreEnforced)
{
    rawtest::RawTestFolder folder;
    const Picture row = Pattern(FPixmap::PIXEL_24_RGB, kCols, 1);
    const void* line = row.pixmap->GetRowAddress(0);
    FPropList tags(nullptr, "p");
    {
        FJPEGLineWriter w(folder.URL("order1.jpg"), 9, true);
        EXPECT_EQ(MessageOf<FExceptionJPEGWriteUninitialized>([&] { w.WriteLine(line, 7); }),
                  "JPEGLineWriter::WriteLine()");
        EXPECT_EQ(MessageOf<FExceptionJPEGWriteUninitialized>([&] { w.WriteTags(&tags); }),
                  "JPEGLineWriter::WriteTags()");
        EXPECT_EQ(MessageOf<FExceptionJPEGWriteUninitialized>([&] { w.WriteProfile(4, "abcd"); }),
                  "JPEGLineWriter::WriteProfile()");
        EXPECT_EQ(MessageOf<FExceptionUnknownPixelType>([&] { w.SetDimensions(kCols, 1, 6); }),
                  "JPEGLineWriter: while setting dimensions");
        w.SetDimensions(kCols, 1, FPixmap::PIXEL_24_RGB);
        w.WriteTags(&tags);
        const Picture thumb = Pattern(FPixmap::PIXEL_24_RGB, 16, 16);
        EXPECT_EQ(MessageOf<FExceptionJPEGOutOfOrderOperation>([&] { w.WriteThumbnail(*thumb.pixmap); }),
                  "Thumbnails must be written before properties!");
        Picture deep(FPixmap::PIXEL_48_RGB, kCols, 1);
        EXPECT_THROW(w.WriteLine(deep.pixmap->GetRowAddress(0), FPixmap::PIXEL_48_RGB),
                     FExceptionBitDepthMismatch);
        w.WriteLine(line, FPixmap::PIXEL_24_RGB);
        EXPECT_EQ(MessageOf<FExceptionJPEGOutOfOrderOperation>([&] { w.WriteTags(&tags); }),
                  "Tags must be written before the first WriteLine()");
        EXPECT_EQ(MessageOf<FExceptionJPEGOutOfOrderOperation>([&] { w.WriteProfile(4, "abcd"); }),
                  "ICC Profiles must be written before the first WriteLine()");
        EXPECT_EQ(MessageOf<FExceptionJPEG>([&] { w.WriteLine(line, FPixmap::PIXEL_24_RGB); }),
                  "More scan lines written than rows specified.");
    }
    {
        FJPEGLineWriter w(folder.URL("order2.jpg"), 9, true);
        w.SetDimensions(kCols, 2, FPixmap::PIXEL_8_MONO);
        const Picture big = Pattern(FPixmap::PIXEL_24_RGB, 161, 100);
        EXPECT_EQ(MessageOf<FExceptionJPEG>([&] { w.WriteThumbnail(*big.pixmap); }),
                  "Thumbnails can't be larger than 160x160.");
        EXPECT_EQ(MessageOf<FExceptionUnknownPixelType>([&] { w.WriteLine(line, FPixmap::PIXEL_24_RGB); }),
                  "JPEGLineWriter: Unknown source pixel type");
        EXPECT_EQ(
            MessageOf<FExceptionJPEG>([&] { w.WriteProfile(kICCBytesPerMarker * kMaxICCMarkers + 1, ""); }),
            "JPEGLineWriter: ICC profile too large to embed");
    }
    // Finished with rows missing: refused, and no file appears.
    WriteSteps steps;
    steps.rows = kRows / 2;
    WriteFile(folder, "partial.jpg", steps);
    EXPECT_FALSE(folder.Exists("partial.jpg"));
    EXPECT_TRUE(jpegtest::EndsWithEOI(WriteFile(folder, "whole.jpg", WriteSteps())));
    EXPECT_THROW(FJPEGLineWriter(FWideString("jpegnowhere://x/y.jpg"), 9, true), FExceptionFileOpen);
}

TEST(FJPEGLineWriter, QualityIndexSetsTablesAndSampling)
{
    rawtest::RawTestFolder folder;
    struct Case {
        int index;
        int quality;
        uint8_t lumaSampling;
    };
    const Case cases[] = {{6, 79, 0x22}, {7, 78, 0x11}, {0, 10, 0x22}, {12, 99, 0x11}, {40, 99, 0x11}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.index);
        WriteSteps steps;
        steps.qualityIndex = c.index;
        const Bytes ours = WriteFile(folder, "q.jpg", steps);
        const Bytes reference = jpegtest::Encode(16, 16, 3, false, c.quality);
        const auto dqt = jpegtest::MarkersOf(ours, 0xDB);
        const auto refDqt = jpegtest::MarkersOf(reference, 0xDB);
        ASSERT_FALSE(dqt.empty());
        ASSERT_EQ(dqt.size(), refDqt.size());
        for (size_t i = 0; i < dqt.size(); ++i) {
            EXPECT_EQ(dqt[i].data, refDqt[i].data);
        }
        const auto sof = jpegtest::MarkersOf(ours, 0xC0);
        ASSERT_EQ(sof.size(), 1u);
        EXPECT_EQ(sof[0].data[7], c.lumaSampling);
        EXPECT_EQ(sof[0].data[10], 0x11);
    }
    EXPECT_EQ(JPEGQualityOfIndex(6), 79);
    EXPECT_EQ(JPEGQualityOfIndex(7), 78);
    EXPECT_EQ(JPEGQualityOfIndex(-3), 10);
}

TEST(FJPEGLineWriter, ProfileIsSplitIntoMarkersAndReassembles)
{
    rawtest::RawTestFolder folder;
    struct Case {
        size_t size;
        std::vector<size_t> chunks;
    };
    const Case cases[] = {{65518, {65518}}, {65519, {65518, 1}}, {200000, {65518, 65518, 65518, 3446}}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.size);
        const Bytes profile = Profile(c.size);
        WriteSteps steps;
        steps.profile = &profile;
        const Bytes file = WriteFile(folder, "icc.jpg", steps);
        const auto app2 = jpegtest::MarkersOf(file, 0xE2);
        ASSERT_EQ(app2.size(), c.chunks.size());
        Bytes joined;
        for (size_t k = 0; k < app2.size(); ++k) {
            const Bytes& d = app2[k].data;
            ASSERT_EQ(d.size(), 14 + c.chunks[k]);
            EXPECT_EQ(std::memcmp(d.data(), "ICC_PROFILE\0", 12), 0);
            EXPECT_EQ(d[12], k + 1);
            EXPECT_EQ(d[13], app2.size());
            joined.insert(joined.end(), d.begin() + 14, d.end());
        }
        EXPECT_EQ(joined, profile);
    }
}

TEST(FJPEGLineWriter, App1LayoutWithAndWithoutThumbnail)
{
    rawtest::RawTestFolder folder;
    FPropList list(nullptr, "p");
    list.AddProp("CAMMANUF", "Cam");
    list.AddProp("CAMMODEL", "Mdl1");
    const Picture thumb = Pattern(FPixmap::PIXEL_24_RGB, 160, 120);
    for (bool withThumbnail : {false, true}) {
        SCOPED_TRACE(withThumbnail);
        WriteSteps steps;
        steps.properties = &list;
        steps.thumbnail = withThumbnail ? thumb.pixmap.get() : nullptr;
        const Bytes file = WriteFile(folder, "app1.jpg", steps);
        std::string identifier;
        const Bytes tiff = App1Tiff(file, &identifier);
        ASSERT_GT(tiff.size(), 1235u);
        EXPECT_EQ(identifier, std::string("Exif\0\0", 6));
        EXPECT_EQ(std::memcmp(tiff.data(), "II*\0\x08\0\0\0", 8), 0);
        const auto ifd0 = exiftest::ReadDirectoryLE(tiff.data(), 8);
        ASSERT_EQ(ifd0.size(), 10u);
        EXPECT_EQ(ifd0.at(271).count, 4u);
        EXPECT_EQ(exiftest::AsciiLE(tiff.data(), ifd0.at(271)), "Cam");
        EXPECT_EQ(ifd0.at(272).count, 5u);
        EXPECT_EQ(ifd0.at(272).value, withThumbnail ? 224u : 134u);
        EXPECT_EQ(exiftest::NextDirectoryLE(tiff.data(), 8), withThumbnail ? 134u : 0u);
        const uint32_t exifAt = ifd0.at(34665).value;
        const auto exif = exiftest::ReadDirectoryLE(tiff.data(), exifAt);
        EXPECT_EQ(exif.size(), 26u);
        EXPECT_EQ(exif.at(40962).value, uint32_t(kCols));
        if (!withThumbnail) {
            continue;
        }
        const auto ifd1 = exiftest::ReadDirectoryLE(tiff.data(), 134);
        ASSERT_EQ(ifd1.size(), 7u);
        const uint32_t at = ifd1.at(513).value;
        const uint32_t size = ifd1.at(514).value;
        ASSERT_LE(uint64_t(at) + size, tiff.size());
        const Bytes embedded(tiff.begin() + at, tiff.begin() + at + size);
        EXPECT_EQ(exifAt, at + size + 16);
        FJPEGImageReader reader(embedded.data(), embedded.size());
        int cols = 0, rows = 0, type = 0;
        reader.GetDimensions(cols, rows, type);
        EXPECT_EQ(std::make_pair(cols, rows), std::make_pair(160, 120));
        EXPECT_FALSE(jpegtest::MarkersOf(embedded, 0xE0).empty());
    }
}

TEST(FJPEGLineWriter, JfifOrExifIdentifiers)
{
    rawtest::RawTestFolder folder;
    FPropList list(nullptr, "p");
    for (bool exif : {true, false}) {
        WriteSteps steps;
        steps.exif = exif;
        steps.properties = &list;
        const Bytes file = WriteFile(folder, "id.jpg", steps);
        const auto markers = jpegtest::Markers(file);
        ASSERT_GE(markers.size(), 2u);
        std::string identifier;
        App1Tiff(file, &identifier);
        if (exif) {
            EXPECT_EQ(markers[0].code, 0xE1);
            EXPECT_EQ(identifier, std::string("Exif\0\0", 6));
            continue;
        }
        EXPECT_EQ(markers[0].code, 0xE0);
        EXPECT_EQ(std::memcmp(markers[0].data.data(), "JFIF\0", 5), 0);
        EXPECT_EQ(markers[1].code, 0xE1);
        EXPECT_EQ(identifier, std::string("Jfif\0\0", 6));
    }
}

TEST(FJPEGLineWriter, RoundTripThroughOurReader)
{
    rawtest::RawTestFolder folder;
    FPropList source(nullptr, "p");
    const Picture thumb = Pattern(FPixmap::PIXEL_24_RGB, 120, 90);
    WriteSteps steps;
    steps.properties = CaptureProperties(source);
    steps.thumbnail = thumb.pixmap.get();
    WriteFile(folder, "round.jpg", steps);
    FJPEGImageReader reader(folder.URL("round.jpg"));
    FPropList read(nullptr, "r");
    reader.GetProperties(&read);
    const std::pair<const char*, const char*> expected[] = {
        {"CAMMANUF", "TALVO"},
        {"CAMMODEL", "TALVO MV3"},
        {"rpSoftware", "Rawbench 2.3"},
        {"SH_DESC", "1/250"},
        {"AP_DESC", "5.6"},
        {"ISO", "400"},
        {"TIME", "1196763630"},
        {"FLENGTH", "35"},
        {"rpColorSpace", "2"},
        {"rpContrast", "-0.3000"},
        {"rpQuality", "9"},
        {"CAMSERIAL", "SN-0042"},
        {"COLS", "64"},
        {"ROWS", "48"},
    };
    for (const auto& e : expected) {
        EXPECT_EQ(Prop(read, e.first), e.second) << e.first;
    }
    Picture out(FPixmap::PIXEL_24_RGB, kCols, kRows);
    reader.ReadImage(*out);
    const uint8_t* p = out.pixmap->GetRowAddress(20) + 3 * 30;
    EXPECT_NEAR(p[0], jpegtest::PatternR(30, 20), 10);
    EXPECT_NEAR(p[2], jpegtest::PatternB(30, 20), 10);
}

TEST(FJPEGLineWriter, IndependentReadersAcceptOurFiles)
{
    ASSERT_TRUE(jpegtest::HasTool("djpeg")) << "djpeg is missing: run scripts/setup.sh (libjpeg-turbo-progs)";
    ASSERT_TRUE(jpegtest::HasTool("exiftool"))
        << "exiftool is missing: run scripts/setup.sh (libimage-exiftool-perl)";
    rawtest::RawTestFolder folder;
    FPropList source(nullptr, "p");
    const Picture thumb = Pattern(FPixmap::PIXEL_24_RGB, 160, 120);
    const Bytes profile = Profile(3000);
    WriteSteps steps;
    steps.properties = CaptureProperties(source);
    steps.thumbnail = thumb.pixmap.get();
    steps.profile = &profile;
    WriteFile(folder, "tools.jpg", steps);
    const std::string path = folder.NativePath("tools.jpg");

    int status = -1;
    const std::string ppm = jpegtest::Run("djpeg -pnm '" + path + "' 2>&1", status);
    EXPECT_EQ(status, 0) << ppm.substr(0, 200);
    EXPECT_EQ(ppm.compare(0, 9, "P6\n64 48\n"), 0) << ppm.substr(0, 40);

    const std::string tags = jpegtest::Run("exiftool -a -G1 -s '" + path + "' 2>&1", status);
    EXPECT_EQ(status, 0) << tags;
    for (const char* needle :
         {"Make                            : TALVO", "Model                           : TALVO MV3",
          "ExposureTime                    : 1/250", "FNumber                         : 5.6",
          "ISO                             : 400", "ThumbnailImage", "[ICC-header]", "ProfileClass"}) {
        EXPECT_NE(tags.find(needle), std::string::npos) << needle << "\n" << tags;
    }
    EXPECT_EQ(tags.find("Warning"), std::string::npos) << tags;
    // exiftool's own copy of the profile matches ours byte for byte.
    const std::string extracted = jpegtest::Run("exiftool -b -icc_profile '" + path + "'", status);
    EXPECT_EQ(Bytes(extracted.begin(), extracted.end()), profile);
    const std::string thumbnail =
        jpegtest::Run("exiftool -b -ThumbnailImage '" + path + "' | djpeg -pnm", status);
    EXPECT_EQ(thumbnail.compare(0, 11, "P6\n160 120\n"), 0);
}

TEST(FJPEGLineWriter, ThumbnailsLeaveNoTemporaryFile)
{
    // A link planted where a fixed temporary name would go is never followed.
    rawtest::RawTestFolder folder;
    FScopedTempFolder temp;
    FScopedEnv tmpdir("TMPDIR", temp.GetPath());
    ASSERT_TRUE(temp.WriteFile("victim", "keep me"));
    std::filesystem::create_symlink(temp.Join("victim"), temp.Join("kqpmdzs812m"));
    FPropList list(nullptr, "p");
    const Picture thumb = Pattern(FPixmap::PIXEL_24_RGB, 100, 60);
    WriteSteps steps;
    steps.properties = &list;
    steps.thumbnail = thumb.pixmap.get();
    WriteFile(folder, "thumb.jpg", steps);
    std::string victim;
    ASSERT_TRUE(temp.ReadFile("victim", victim));
    EXPECT_EQ(victim, "keep me");
    int entries = 0;
    for (const auto& e : std::filesystem::directory_iterator(temp.GetPath())) {
        (void)e;
        ++entries;
    }
    EXPECT_EQ(entries, 2);
}

TEST(FJPEGImageWriter, WholePixmapsOfEachAcceptedType)
{
    struct Case {
        int type;
        int nativeType;
    };
    const Case cases[] = {{FPixmap::PIXEL_8_MONO, 1}, {FPixmap::PIXEL_24_BGR, 7}, {FPixmap::PIXEL_24_RGB, 7}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.type);
        const Picture image = Pattern(c.type, 40, 30);
        Bytes encoded;
        const Bytes profile = Profile(500);
        {
            FJPEGImageWriter writer(&encoded, 9, false);
            writer.SetProfile(unsigned(profile.size()), profile.data());
            FHasProperties tags;
            tags.SetString("Description", "a comment");
            EXPECT_EQ(writer.WriteImage(*image.pixmap, tags), 30);
        }
        EXPECT_EQ(jpegtest::MarkersOf(encoded, 0xE2).size(), 1u);
        const auto com = jpegtest::MarkersOf(encoded, 0xFE);
        ASSERT_EQ(com.size(), 1u);
        EXPECT_EQ(com[0].data, Bytes({'a', ' ', 'c', 'o', 'm', 'm', 'e', 'n', 't', 0}));
        FJPEGImageReader reader(encoded.data(), encoded.size());
        int cols = 0, rows = 0, type = 0;
        reader.GetDimensions(cols, rows, type);
        EXPECT_EQ(type, c.nativeType);
        Picture out(type, cols, rows);
        reader.ReadImage(*out);
        // BGR sources come out as RGB: red holds the red pattern either way.
        const uint8_t expectedRed =
            c.type == FPixmap::PIXEL_24_BGR ? jpegtest::PatternB(10, 10) : jpegtest::PatternR(10, 10);
        EXPECT_NEAR(out.pixmap->GetRowAddress(10)[(c.nativeType == 1 ? 1 : 3) * 10], expectedRed, 10);
    }
    Bytes encoded;
    FJPEGImageWriter writer(&encoded, 9, false);
    Picture deep(FPixmap::PIXEL_48_RGB, 4, 4);
    EXPECT_THROW(writer.WriteImage(*deep.pixmap, FHasProperties()), FExceptionUnknownPixelType);
}

TEST(FJPEGEmbeddedPreview, RawFilePreviewsDecodeFromMemory)
{
    FScopedTempFolder temp;
    FScopedEnv tmpdir("TMPDIR", temp.GetPath());
    const Bytes rgb = jpegtest::Encode(48, 32, 3);
    const Bytes gray = jpegtest::Encode(48, 32, 1);
    Bytes corrupt = rgb;
    corrupt.resize(40);
    corrupt.push_back(0xFF);
    corrupt.push_back(0xC9); // arithmetic-coded frame: not supported
    rawtest::BribFileBuilder builder;
    for (const Bytes* stream : std::initializer_list<const Bytes*>{&rgb, &gray, &corrupt}) {
        rawtest::ImageSection section;
        section.imageType = 2;
        section.pixelFormat = 18;
        section.columns = 48;
        section.rows = 32;
        section.payload = *stream;
        builder.Top().AddImage(section);
    }
    const FWideString url = rawtest::PutMemoryFile("preview18.q7f", builder.Build());
    FBribImageReader reader(url.GetBuffer());
    ASSERT_EQ(reader.GetImageCount(), 3);
    int dims[2] = {0, 0};
    int type = 0, imageType = 0;
    reader.GetImageInfo(0, dims, type, imageType);
    ASSERT_EQ(type, FPixmap::PIXEL_24_RGB);
    Picture out(type, dims[0], dims[1]);
    EXPECT_TRUE(reader.GetImage(0, *out.pixmap, nullptr, nullptr));
    Picture direct(FPixmap::PIXEL_24_RGB, 48, 32);
    FJPEGImageReader(rgb.data(), rgb.size()).ReadImage(*direct.pixmap);
    EXPECT_EQ(out.bytes, direct.bytes);

    Picture grayOut(type, dims[0], dims[1]);
    EXPECT_EQ(
        MessageOf<FExceptionUnknownPixelType>([&] { reader.GetImage(1, *grayOut.pixmap, nullptr, nullptr); }),
        "JPEGReader: Unknown source pixel type");
    Picture bad(type, dims[0], dims[1]);
    EXPECT_THROW(reader.GetImage(2, *bad.pixmap, nullptr, nullptr), FExceptionJPEG);
    EXPECT_TRUE(std::filesystem::is_empty(temp.GetPath()));
}
