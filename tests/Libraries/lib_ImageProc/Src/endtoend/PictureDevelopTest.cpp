// JPEG and TIFF pictures from other cameras develop and save through the managers: the
// output steps only, at any size the loaders read, with the program's defaults.

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "CreateColorSpaceWhitePoint.h"
#include "DevelopDriver.h"
#include "DiskEngineTest.h"
#include "FCache.h"
#include "FColorMatrix.h"
#include "FIPMImage.h"
#include "FIPManager.h"
#include "FIPManagerRequest.h"
#include "FJPEGImageReader.h"
#include "FJPEGLineWriter.h"
#include "FMemoryAllocator.h"
#include "FPixmap.h"
#include "FPropList.h"
#include "FTiffImageReader.h"
#include "FTiffLineWriter.h"
#include "IPOutputProfiles.h"
#include "SavedProfiles.h"

namespace
{

constexpr int kCols = 6000;
constexpr int kRows = 4000;
// The top rows are a grey ramp, the rest a colour field.
constexpr int kGreyRows = 400;

enum class Source { kTiff8, kTiff16, kJpeg };

// The picture's value of channel c at (x, y) in 16 bits; 8-bit files hold it rounded.
uint16_t Value16(int x, int y, int c, int cols, int rows)
{
    const int64_t across = int64_t(x) * 65535 / (cols - 1);
    if (y < rows / (kRows / kGreyRows))
        return uint16_t(across);
    switch (c) {
    case 0:
        return uint16_t(across);
    case 1:
        return uint16_t(int64_t(y) * 65535 / (rows - 1));
    default:
        return uint16_t(int64_t(x + y) * 65535 / (cols + rows - 2));
    }
}

uint8_t Value8(int x, int y, int c, int cols, int rows)
{
    return uint8_t((Value16(x, y, c, cols, rows) + 128) / 257);
}

void WritePicture(const FWideString& url, Source kind, int cols, int rows)
{
    FPropList tags(nullptr, "Tags");
    tags.AddProp("CAMMANUF", "Other Maker");
    tags.AddProp("CAMMODEL", "Other Model 24");
    const bool sixteen = kind == Source::kTiff16;
    const int type = sixteen ? FPixmap::PIXEL_48_RGB : FPixmap::PIXEL_24_RGB;
    std::unique_ptr<FImageLineWriter> writer;
    if (kind == Source::kJpeg)
        writer = std::make_unique<FJPEGLineWriter>(url, 12, true);
    else
        writer = std::make_unique<FTiffLineWriter>(url, false);
    writer->SetDimensions(cols, rows, type);
    writer->WriteTags(&tags);
    std::vector<uint16_t> wide(size_t(cols) * 3);
    std::vector<uint8_t> narrow(size_t(cols) * 3);
    for (int y = 0; y < rows; ++y) {
        for (int x = 0; x < cols; ++x)
            for (int c = 0; c < 3; ++c) {
                wide[size_t(x) * 3 + c] = Value16(x, y, c, cols, rows);
                narrow[size_t(x) * 3 + c] = Value8(x, y, c, cols, rows);
            }
        writer->WriteLine(sixteen ? static_cast<const void*>(wide.data()) : narrow.data(), type);
    }
    writer->Finish();
}

struct Decoded {
    int cols = 0, rows = 0;
    std::vector<uint8_t> bytes;
    std::unique_ptr<FPixmap> pixmap;
    FPropList props{nullptr, "Props"};

    int Channel(int x, int y, int c) const
    {
        const uint8_t* row = pixmap->GetRowAddress(y);
        if (pixmap->GetPixelType() == FPixmap::PIXEL_48_RGB)
            return reinterpret_cast<const uint16_t*>(row)[x * 3 + c];
        return row[x * 3 + c];
    }
};

template <class Reader>
std::unique_ptr<Decoded> Decode(const FWideString& url, int type)
{
    auto out = std::make_unique<Decoded>();
    Reader reader(url);
    int native = 0;
    reader.GetDimensions(out->cols, out->rows, native);
    const int bytes = type == FPixmap::PIXEL_48_RGB ? 6 : 3;
    out->bytes.resize(size_t(out->cols) * out->rows * bytes);
    out->pixmap.reset(NewFPixmap(type, out->bytes.data(), out->cols, out->rows, out->cols * bytes));
    reader.ReadImage(*out->pixmap);
    reader.GetProperties(&out->props);
    return out;
}

// sRGB's published decoding and a pure 2.2 power, written out apart from the code tested.
double DecodeSRGB(double v)
{
    return v <= 0.04045 ? v / 12.92 : std::pow((v + 0.055) / 1.055, 2.4);
}

class PictureDevelop : public KeptMemoryEngineTest
{
protected:
    void Run(FIPManagerRequest& request)
    {
        ASSERT_TRUE(developtest::RunThroughPool(request, nullptr, std::chrono::seconds(300)));
    }
};

TEST_F(PictureDevelop, TwentyFourMegapixelPicturesSaveWithTheDefaults)
{
    struct Case {
        Source source;
        const char* name;
        int fileType, format, space, cols, rows;
    };
    const Case cases[] = {
        // Same size and space: every pixel as it was.
        {Source::kTiff8, "in8.tif", kSaveTIFF, kRGB24, 2, kCols, kRows},
        // Into another space, 16 bits throughout.
        {Source::kTiff16, "in16.tif", kSaveTIFF, kRGB48, kOutputSpaceAdobeRGB, kCols, kRows},
        // Half size, each pixel the mean of four.
        {Source::kJpeg, "in.jpg", kSaveJPEG, kRGB24, 2, kCols / 2, kRows / 2},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        ResetEngineState();
        ASSERT_EQ(GetGlobalCache()->GetSize(), FCache::kDefaultLimit);
        const FWideString input = m_pFolder->URL(c.name);
        WritePicture(input, c.source, kCols, kRows);
        const std::string outName =
            std::string("out-") + c.name + (c.fileType == kSaveJPEG ? ".jpg" : ".tif");
        FIPManagerRequest save;
        developtest::PrepareSave(save, input, m_pFolder->URL(outName), c.fileType, c.format, c.space, c.cols,
                                 c.rows);
        Run(save);
        ASSERT_EQ(save.m_Async.GetState(), kCompleted)
            << "error " << save.m_Async.GetErrorCode() << ": " << save.m_Async.m_usErrorText.GetNarrow();

        const bool jpeg = c.fileType == kSaveJPEG;
        const int type = c.format == kRGB48 ? FPixmap::PIXEL_48_RGB : FPixmap::PIXEL_24_RGB;
        const std::unique_ptr<Decoded> out = jpeg ? Decode<FJPEGImageReader>(save.m_usOutputFile, type)
                                                  : Decode<FTiffImageReader>(save.m_usOutputFile, type);
        ASSERT_EQ(out->cols, c.cols);
        ASSERT_EQ(out->rows, c.rows);
        EXPECT_EQ(out->props.GetString(FWideString("CAMMODEL"), FWideString()).GetNarrow(),
                  std::string("Other Model 24"));
        const std::string path = m_pFolder->NativePath(outName);
        const std::vector<uint8_t> profile = jpeg ? JpegProfile(ReadAll(path)) : TiffProfile(path);
        if (jpeg && c.space == 2)
            EXPECT_TRUE(profile.empty());
        else
            EXPECT_EQ(profile, GetOutputProfile(c.space));

        if (c.source == Source::kTiff8) {
            for (int y = 0; y < kRows; y += 37)
                for (int x = 0; x < kCols; x += 41)
                    for (int ch = 0; ch < 3; ++ch)
                        ASSERT_EQ(out->Channel(x, y, ch), Value8(x, y, ch, kCols, kRows)) << x << "," << y;
        } else if (c.source == Source::kTiff16) {
            FColorMatrix toSRGB, toOutput, fromSRGB;
            CreateColorSpaceWhitePoint(toSRGB, 2, kPcsWhiteD65);
            CreateColorSpaceWhitePoint(toOutput, c.space, kPcsWhiteD65);
            ASSERT_TRUE(FColorMatrix::Inverse(fromSRGB, toSRGB));
            const FColorMatrix m = FColorMatrix::Multiply(toOutput, fromSRGB);
            int worst = 0;
            for (int y = 0; y < kRows; y += 37)
                for (int x = 0; x < kCols; x += 41) {
                    double linear[3];
                    for (int ch = 0; ch < 3; ++ch)
                        linear[ch] = DecodeSRGB(Value16(x, y, ch, kCols, kRows) / 65535.0);
                    for (int ch = 0; ch < 3; ++ch) {
                        const double v =
                            m.m[ch][0] * linear[0] + m.m[ch][1] * linear[1] + m.m[ch][2] * linear[2];
                        const int expected =
                            int(std::lround(std::pow(std::clamp(v, 0.0, 1.0), 1.0 / 2.2) * 65535.0));
                        worst = std::max(worst, std::abs(out->Channel(x, y, ch) - expected));
                    }
                }
            // Tables and float sums against doubles: a few codes of 65535.
            EXPECT_LE(worst, 4);
        } else {
            const std::unique_ptr<Decoded> in = Decode<FJPEGImageReader>(input, FPixmap::PIXEL_24_RGB);
            double total = 0.0;
            int worst = 0, count = 0;
            for (int y = 0; y < c.rows; y += 23)
                for (int x = 0; x < c.cols; x += 29)
                    for (int ch = 0; ch < 3; ++ch) {
                        const int sum = in->Channel(2 * x, 2 * y, ch) + in->Channel(2 * x + 1, 2 * y, ch) +
                                        in->Channel(2 * x, 2 * y + 1, ch) +
                                        in->Channel(2 * x + 1, 2 * y + 1, ch);
                        const int d = std::abs(out->Channel(x, y, ch) - (sum + 2) / 4);
                        worst = std::max(worst, d);
                        total += d;
                        ++count;
                    }
            // Both files are JPEG: what two encodings lose.
            EXPECT_LE(worst, 8);
            EXPECT_LT(total / count, 0.5);
        }
    }
}

TEST_F(PictureDevelop, BrokenPicturesEndInTheManagersErrorWithItsText)
{
    WritePicture(m_pFolder->URL("good.jpg"), Source::kJpeg, 64, 48);
    WritePicture(m_pFolder->URL("good.tif"), Source::kTiff8, 64, 48);
    const rawtest::Bytes jpeg = m_pFolder->Read("good.jpg");
    const rawtest::Bytes tiff = m_pFolder->Read("good.tif");
    rawtest::Bytes noise(5000);
    for (size_t i = 0; i < noise.size(); ++i)
        noise[i] = uint8_t(i * 131 + (i >> 3));
    const struct {
        const char* name;
        rawtest::Bytes bytes;
    } cases[] = {
        {"cut.jpg", rawtest::Bytes(jpeg.begin(), jpeg.begin() + jpeg.size() * 6 / 10)},
        {"header-only.jpg", rawtest::Bytes(jpeg.begin(), jpeg.begin() + 300)},
        {"noise.jpg", noise},
        {"cut.tif", rawtest::Bytes(tiff.begin(), tiff.begin() + tiff.size() / 2)},
        {"noise.tiff", noise},
        {"empty.tiff", {}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const FWideString input = m_pFolder->Write(c.name, c.bytes);
        FIPManagerRequest processed;
        developtest::PrepareProcessed(processed, input, 64, 48, kDisplay);
        Run(processed);
        EXPECT_EQ(processed.m_Async.GetState(), kError);
        EXPECT_NE(processed.m_Async.GetErrorCode(), kErrNone);
        EXPECT_FALSE(processed.m_Async.m_usErrorText.IsEmpty());

        const std::string out = std::string("out-") + c.name + ".jpg";
        FIPManagerRequest save;
        developtest::PrepareSave(save, input, m_pFolder->URL(out), kSaveJPEG, kRGB24, 2, 64, 48);
        Run(save);
        EXPECT_EQ(save.m_Async.GetState(), kError);
        EXPECT_FALSE(save.m_Async.m_usErrorText.IsEmpty());
        EXPECT_FALSE(m_pFolder->Exists(out));
    }
}

TEST_F(PictureDevelop, ReviewRequestsOnAPicture)
{
    const FWideString input = m_pFolder->URL("review.jpg");
    WritePicture(input, Source::kJpeg, 640, 480);
    const std::unique_ptr<Decoded> in = Decode<FJPEGImageReader>(input, FPixmap::PIXEL_24_RGB);

    FIPManagerRequest whole;
    developtest::PrepareProcessed(whole, input, 320, 240, kDisplay);
    Run(whole);
    ASSERT_EQ(whole.m_Async.GetState(), kCompleted) << whole.m_Async.m_usErrorText.GetNarrow();
    const FPixmap* shown = whole.m_pOutputImage->GetPixmap();
    ASSERT_EQ(shown->GetPixelType(), FPixmap::PIXEL_32_BGRA);
    ASSERT_EQ(shown->GetCols(), 320);
    ASSERT_EQ(shown->GetRows(), 240);
    for (int y = 0; y < 240; y += 7)
        for (int x = 0; x < 320; x += 11) {
            const uint8_t* p = shown->GetRowAddress(y) + 4 * x;
            for (int ch = 0; ch < 3; ++ch) {
                const int sum = in->Channel(2 * x, 2 * y, ch) + in->Channel(2 * x + 1, 2 * y, ch) +
                                in->Channel(2 * x, 2 * y + 1, ch) + in->Channel(2 * x + 1, 2 * y + 1, ch);
                // Decoded at half scale by the reader, not averaged from the full picture.
                ASSERT_NEAR(p[2 - ch], (sum + 2) / 4, 4) << x << "," << y;
            }
            ASSERT_EQ(p[3], 255);
        }

    // A part of the same view: the same pixels.
    FIPManagerRequest part;
    developtest::PrepareProcessed(part, input, 320, 240, kDisplay);
    part.m_rCrop = FRect(100, 50, 200, 150);
    Run(part);
    ASSERT_EQ(part.m_Async.GetState(), kCompleted) << part.m_Async.m_usErrorText.GetNarrow();
    const FPixmap* cut = part.m_pOutputImage->GetPixmap();
    ASSERT_EQ(cut->GetCols(), 100);
    ASSERT_EQ(cut->GetRows(), 100);
    for (int y = 0; y < 100; ++y)
        ASSERT_EQ(0, std::memcmp(cut->GetRowAddress(y), shown->GetRowAddress(50 + y) + 4 * 100, 400)) << y;

    // What only raw data answers is neutral here, and nothing fails.
    for (int kind : {kReqAutoSet, kReqGetGrayBalance, kReqIlluminants}) {
        FIPManagerRequest request;
        developtest::PrepareProcessed(request, input, 320, 240, kDisplay);
        request.m_eKind = kind;
        request.m_dExposure = 0.5;
        Run(request);
        EXPECT_EQ(request.m_Async.GetState(), kCompleted)
            << kind << ": " << request.m_Async.m_usErrorText.GetNarrow();
        if (kind != kReqIlluminants) {
            EXPECT_EQ(request.m_adColorAdjust[1], 1.0) << kind;
        }
        if (kind == kReqAutoSet) {
            EXPECT_EQ(request.m_dExposure, 0.0);
        }
    }
}

// Grey pictures and RGB with an extra sample: the layouts the readers deliver besides RGB.
TEST_F(PictureDevelop, EveryLayoutTheReadersDeliverDevelops)
{
    constexpr int kW = 90, kH = 60;
    struct Case {
        const char* name;
        int fileType; // written as
        int pixelType;
    };
    const Case cases[] = {
        {"grey.jpg", kSaveJPEG, FPixmap::PIXEL_8_MONO},
        {"grey8.tif", kSaveTIFF, FPixmap::PIXEL_8_MONO},
        {"grey16.tif", kSaveTIFF, FPixmap::PIXEL_16_MONO},
        {"extra.tif", kSaveTIFF, FPixmap::PIXEL_30_RGBL},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const FWideString input = m_pFolder->URL(c.name);
        const bool mono = c.pixelType != FPixmap::PIXEL_30_RGBL;
        {
            std::unique_ptr<FImageLineWriter> writer;
            if (c.fileType == kSaveJPEG)
                writer = std::make_unique<FJPEGLineWriter>(input, 12, false);
            else
                writer = std::make_unique<FTiffLineWriter>(input, false);
            writer->SetDimensions(kW, kH, c.pixelType);
            std::vector<uint16_t> wide(kW);
            std::vector<uint8_t> narrow(kW * 3);
            for (int y = 0; y < kH; ++y) {
                for (int x = 0; x < kW; ++x) {
                    wide[size_t(x)] = uint16_t(Value8(x, y, 0, kW, kH) * 257);
                    if (mono)
                        narrow[size_t(x)] = Value8(x, y, 0, kW, kH);
                    else
                        for (int ch = 0; ch < 3; ++ch)
                            narrow[size_t(x) * 3 + ch] = Value8(x, y, ch, kW, kH);
                }
                if (c.pixelType == FPixmap::PIXEL_16_MONO)
                    writer->WriteLine(wide.data(), c.pixelType);
                else
                    writer->WriteLine(narrow.data(), mono ? FPixmap::PIXEL_8_MONO : FPixmap::PIXEL_24_RGB);
            }
            writer->Finish();
        }
        FIPManagerRequest processed;
        developtest::PrepareProcessed(processed, input, kW, kH, kRGB24);
        Run(processed);
        ASSERT_EQ(processed.m_Async.GetState(), kCompleted) << processed.m_Async.m_usErrorText.GetNarrow();
        const FPixmap* out = processed.m_pOutputImage->GetPixmap();
        ASSERT_EQ(out->GetCols(), kW);
        ASSERT_EQ(out->GetRows(), kH);
        // A JPEG's own loss, a few levels; the TIFF files come through exactly.
        const int tolerance = c.fileType == kSaveJPEG ? 3 : 0;
        for (int y = 0; y < kH; ++y)
            for (int x = 0; x < kW; ++x)
                for (int ch = 0; ch < 3; ++ch)
                    ASSERT_NEAR(out->GetRowAddress(y)[x * 3 + ch], Value8(x, y, mono ? 0 : ch, kW, kH),
                                tolerance)
                        << x << "," << y;
    }
}

// A render cancelled between its slices leaves nothing half made behind: the next request
// renders the whole picture again.
TEST_F(PictureDevelop, ACancelledRenderIsNotReused)
{
    const FWideString input = m_pFolder->URL("cancel.tif");
    WritePicture(input, Source::kTiff8, 2400, 1600);
    std::unique_ptr<FIPManager> manager(CreateIPManager2());
    FIPManagerRequest first;
    developtest::PrepareProcessed(first, input, 2400, 1600, kRGB24);
    manager->Request(&first);
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
    while (first.m_Async.IsInProgress() && first.m_Async.GetProgress() <= 0.1 &&
           std::chrono::steady_clock::now() < deadline)
        manager->Idle();
    ASSERT_TRUE(first.m_Async.IsInProgress()) << "rendered within one pass";
    first.m_Async.RequestCancel();
    while (first.m_Async.IsInProgress() && std::chrono::steady_clock::now() < deadline)
        manager->Idle();
    EXPECT_EQ(first.m_Async.GetState(), kCancelled);

    FIPManagerRequest again;
    developtest::PrepareProcessed(again, input, 2400, 1600, kRGB24);
    manager->Request(&again);
    while (again.m_Async.IsInProgress() && std::chrono::steady_clock::now() < deadline)
        manager->Idle();
    ASSERT_EQ(again.m_Async.GetState(), kCompleted) << again.m_Async.m_usErrorText.GetNarrow();
    const FPixmap* out = again.m_pOutputImage->GetPixmap();
    for (int y = 0; y < 1600; y += 13)
        for (int x = 0; x < 2400; x += 17)
            ASSERT_EQ(out->GetRowAddress(y)[x * 3 + 1], Value8(x, y, 1, 2400, 1600)) << x << "," << y;
}

} // namespace
