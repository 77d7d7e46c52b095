#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "ConvertTestPixmap.h"
#include "EstimateFlare.h"
#include "FException.h"
#include "FPixelClassAccessors.h"
#include "PixelRowConverters.h"
#include "SubsampledColorAverage.h"

namespace
{

TEST(PixelRowConverters, KnownValues)
{
    {
        uint8_t src[4];
        SetPixelRGB3<FPixelClass30RGBL>(src, 2047, 1024, 6);
        uint8_t dst[6];
        ConvertRow30RGBLTo48RGB(1, src, dst);
        EXPECT_EQ(GetPixelRGB<FPixelClass48RGB>(dst), FIntRGB(65504, 32768, 192));
    }
    {
        const uint32_t w = 2047u | 8u << 11 | 1023u << 22;
        const uint8_t src[4] = {uint8_t(w), uint8_t(w >> 8), uint8_t(w >> 16), uint8_t(w >> 24)};
        uint8_t dst[4];
        ConvertRow30RGBTo32BGRA(1, src, dst);
        EXPECT_EQ(std::vector<uint8_t>(dst, dst + 4), (std::vector<uint8_t>{255, 1, 255, 255}));
    }
    {
        uint8_t src[6];
        Put16(src, -1);
        Put16(src + 2, 256);
        Put16(src + 4, 32767);
        uint8_t dst[4];
        ConvertRow48SRGBTo32BGRA(1, src, dst);
        EXPECT_EQ(std::vector<uint8_t>(dst, dst + 4), (std::vector<uint8_t>{127, 1, 255, 255}));
        ConvertRow48SRGBTo32ARGB(1, src, dst);
        EXPECT_EQ(std::vector<uint8_t>(dst, dst + 4), (std::vector<uint8_t>{255, 255, 1, 127}));
    }
    {
        const uint8_t src[4] = {10, 20, 30, 0};
        uint8_t dst[4];
        ConvertRow32BGRATo32BGRA(1, src, dst);
        EXPECT_EQ(std::vector<uint8_t>(dst, dst + 4), (std::vector<uint8_t>{10, 20, 30, 255}));
    }
    {
        // 16-bit words move bit for bit, reversed where the orders differ.
        uint8_t src[6];
        Put16(src, 1);
        Put16(src + 2, 2);
        Put16(src + 4, -3);
        uint8_t dst[6];
        ConvertRow48SRGBTo48BGR(1, src, dst);
        EXPECT_EQ(GetPixelRGB<FPixelClass48RGB>(dst), FIntRGB(65533, 2, 1));
        ConvertRow48BGRTo48BGR(1, src, dst);
        EXPECT_EQ(GetPixelRGB<FPixelClass48RGB>(dst), FIntRGB(1, 2, 65533));
    }
}

TEST(PixelRowConverters, EveryConverterHonoursItsCount)
{
    for (int src = 6; src <= 17; ++src) {
        for (const int dst : {11, 13, 15, 17}) {
            const FRowConverter fn = GetRowConverter(src, dst);
            if (dst == 11 && src != 16 && src != 17) {
                EXPECT_EQ(fn, nullptr);
                continue;
            }
            ASSERT_NE(fn, nullptr) << src << "->" << dst;
            const std::vector<uint8_t> in(6 * 3, 0x5A);
            std::vector<uint8_t> out(6 * 3, 0xAB);
            fn(0, in.data(), out.data());
            EXPECT_EQ(out, std::vector<uint8_t>(18, 0xAB)) << src << "->" << dst;
            fn(2, in.data(), out.data());
            const size_t written = 2 * size_t(GetPixelTypeBytesPerPixel(dst));
            for (size_t i = written; i < out.size(); ++i)
                ASSERT_EQ(out[i], 0xAB) << src << "->" << dst << " byte " << i;
        }
    }
    EXPECT_EQ(GetRowConverter(5, 13), nullptr);
    EXPECT_EQ(GetRowConverter(15, 6), nullptr);
}

// An 8 x 8 image whose grid pixels at rows and columns 2 and 6 hold `grid` and all others
// `other`.
void FillGrid(TestPixmap& p, int grid, int other)
{
    for (int y = 0; y < p.pixmap->GetRows(); ++y) {
        for (int x = 0; x < p.pixmap->GetCols(); ++x) {
            const int v = (x == 2 || x == 6) && (y == 2 || y == 6) ? grid : other;
            SetRGB48(p.At(x, y), FIntRGB(v, 2 * v, -v));
        }
    }
}

std::string Message(const FPixmap& p, int step)
{
    FDoubleRGB out(7, 7, 7);
    try {
        SubsampledColorAverage(out, p, step);
    } catch (const FExceptionPixelProc2& e) {
        EXPECT_EQ(out, FDoubleRGB(7, 7, 7));
        return e.GetMessage();
    }
    return "(no exception)";
}

TEST(SubsampledColorAverage, VisitsTheGridOnly)
{
    TestPixmap image(16, 8, 8);
    FillGrid(image, 1000, 3000);
    FDoubleRGB out;
    EXPECT_EQ(SubsampledColorAverage(out, *image.pixmap, 4), FDoubleRGB(1000, 2000, -1000));
    for (const int step : {-3, 0, 1}) {
        SubsampledColorAverage(out, *image.pixmap, step);
        EXPECT_DOUBLE_EQ(out.r, (4 * 1000 + 60 * 3000) / 64.0) << step;
    }
    TestPixmap tiny(16, 10, 10);
    EXPECT_EQ(SubsampledColorAverage(out, *tiny.pixmap, 20), FDoubleRGB(0, 0, 0));
}

TEST(SubsampledColorAverage, ReadsEachAcceptedType)
{
    struct Case {
        int type;
        std::vector<uint8_t> pixel;
        FDoubleRGB mean;
    };
    const Case cases[] = {
        {7, {1, 2, 3}, {1, 2, 3}},
        {8, {0xFF, 0x80, 0x00, 0xE0}, {2047, 1024, 0}},
        {10, {0xFF, 0x07, 0x00, 0xFC}, {2047, 0, 2016}},
        {15, {0xFF, 0xFF, 2, 0, 3, 0}, {65535, 2, 3}},
        {16, {0xFF, 0xFF, 2, 0, 3, 0}, {-1, 2, 3}},
        {17, {0xFF, 0xFF, 2, 0, 3, 0}, {3, 2, -1}},
    };
    for (const Case& c : cases) {
        TestPixmap image(c.type, 3, 3);
        for (int y = 0; y < 3; ++y)
            for (int x = 0; x < 3; ++x)
                std::copy(c.pixel.begin(), c.pixel.end(), image.At(x, y));
        FDoubleRGB out;
        EXPECT_EQ(SubsampledColorAverage(out, *image.pixmap, 1), c.mean) << c.type;
    }
}

// A pixmap that claims id 16 without being of that class.
class ImpostorPixmap : public FPixmap
{
public:
    ImpostorPixmap(void* buffer) : FPixmap(buffer, 1, 1, 6) {}
    int GetPixelType() const override { return PIXEL_48S_RGB; }
};

TEST(SubsampledColorAverage, RefusesOtherTypes)
{
    for (const int type : {6, 13, 1, 9, 18}) {
        TestPixmap image(type, 4, 4);
        EXPECT_EQ(Message(*image.pixmap, 4), "SubsampledColorAverage: Unknown pixel type") << type;
    }
    uint8_t buffer[6] = {};
    ImpostorPixmap impostor(buffer);
    EXPECT_EQ(Message(impostor, 1), "SubsampledAverage: input pixmap ptr is not specified type");
}

TEST(EstimateFlare, IsTheSubsampledMeanTimesTheFactor)
{
    TestPixmap image(16, 12, 9);
    for (int y = 0; y < 9; ++y)
        for (int x = 0; x < 12; ++x)
            SetRGB48(image.At(x, y), FIntRGB(1000, 2000, 500));
    FDoubleRGB flare;
    EstimateFlare(flare, *image.pixmap, FDoubleRGB(0.01, 0.01, 0.02));
    EXPECT_DOUBLE_EQ(flare.r, 10);
    EXPECT_DOUBLE_EQ(flare.g, 20);
    EXPECT_DOUBLE_EQ(flare.b, 10);
    EstimateFlare(flare, *image.pixmap, FDoubleRGB(0, 0, 0));
    EXPECT_EQ(flare, FDoubleRGB(0, 0, 0));

    TestPixmap display(13, 4, 4);
    EXPECT_THROW(EstimateFlare(flare, *display.pixmap, FDoubleRGB(1, 1, 1)), FExceptionPixelProc2);
}

} // namespace
