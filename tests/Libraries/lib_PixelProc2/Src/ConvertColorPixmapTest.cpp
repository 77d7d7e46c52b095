#include <gtest/gtest.h>

#include <cstdint>
#include <functional>
#include <random>
#include <string>
#include <vector>

#include "ConvertColorPixmap.h"
#include "ConvertTestPixmap.h"
#include "FException.h"
#include "FPixelClassAccessors.h"

namespace
{

const int kDestinations[] = {6, 7, 8, 10, 11, 13, 15, 17};

struct Channels {
    int r, g, b, width;
};

uint32_t Word(const uint8_t* p)
{
    return uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24;
}

// The channels of a colour pixel as the layouts are documented, written independently of
// the library's accessors.
Channels ReadColor(int type, const uint8_t* p)
{
    const uint32_t w = type >= 8 && type <= 10 ? Word(p) : 0;
    switch (type) {
    case 6:
        return {p[2], p[1], p[0], 8};
    case 7:
        return {p[0], p[1], p[2], 8};
    case 8:
        return {int((w & 0xFF) << 3 | w >> 29), int(((w >> 8) & 0xFF) << 3 | ((w >> 26) & 7)),
                int(((w >> 16) & 0xFF) << 3 | ((w >> 24) & 3) << 1), 11};
    case 9:
        return {int(((w >> 16) & 0xFF) << 3 | w >> 29), int(((w >> 8) & 0xFF) << 3 | ((w >> 26) & 7)),
                int((w & 0xFF) << 3 | ((w >> 24) & 3) << 1), 11};
    case 10:
        return {int(w & 2047), int((w >> 11) & 2047), int((w >> 22) * 2), 11};
    case 11:
        return {p[1], p[2], p[3], 8};
    case 12:
        return {p[3], p[2], p[1], 8};
    case 13:
        return {p[2], p[1], p[0], 8};
    case 14:
        return {p[0], p[1], p[2], 8};
    case 15:
        return {Get16u(p), Get16u(p + 2), Get16u(p + 4), 16};
    case 16:
        return {Get16s(p), Get16s(p + 2), Get16s(p + 4), 16};
    case 17:
        return {Get16s(p + 4), Get16s(p + 2), Get16s(p), 16};
    }
    ADD_FAILURE() << "no colour type " << type;
    return {};
}

int Width(int destination)
{
    if (destination == 8 || destination == 10)
        return 11;
    return destination >= 15 ? 16 : 8;
}

int Shift(int v, int from, int to)
{
    if (to < from)
        return v >> (from - to);
    return int(unsigned(v) << (to - from));
}

// The mono table of values for each source id and destination width.
int MonoValue(int type, const uint8_t* p, int width)
{
    if (type == 1)
        return Shift(p[0], 8, width);
    const int low16 = Get16u(p);
    switch (type) {
    case 2:
    case 5:
        return Shift(low16, 12, width) & 0xFFFF;
    case 3:
        return Shift(low16, 16, width);
    case 4:
        return width == 11 ? Get16s(p) >> 5 : Shift(low16, 16, width);
    }
    ADD_FAILURE() << "no mono type " << type;
    return 0;
}

std::vector<uint8_t> Expected(int type, int r, int g, int b)
{
    switch (type) {
    case 6:
        return {uint8_t(b), uint8_t(g), uint8_t(r)};
    case 7:
        return {uint8_t(r), uint8_t(g), uint8_t(b)};
    case 8: {
        const uint32_t R = uint32_t(r) & 2047, G = uint32_t(g) & 2047, B = uint32_t(b) & 2047;
        const uint32_t w =
            R >> 3 | (G >> 3) << 8 | (B >> 3) << 16 | ((B >> 1) & 3) << 24 | (G & 7) << 26 | (R & 7) << 29;
        return {uint8_t(w), uint8_t(w >> 8), uint8_t(w >> 16), uint8_t(w >> 24)};
    }
    case 10: {
        const uint32_t w =
            (uint32_t(r) & 2047) | (uint32_t(g) & 2047) << 11 | (uint32_t(b >> 1) & 1023) << 22;
        return {uint8_t(w), uint8_t(w >> 8), uint8_t(w >> 16), uint8_t(w >> 24)};
    }
    case 11:
        return {255, uint8_t(r), uint8_t(g), uint8_t(b)};
    case 13:
        return {uint8_t(b), uint8_t(g), uint8_t(r), 255};
    case 15:
        return {uint8_t(r), uint8_t(r >> 8), uint8_t(g), uint8_t(g >> 8), uint8_t(b), uint8_t(b >> 8)};
    case 17:
        return {uint8_t(b), uint8_t(b >> 8), uint8_t(g), uint8_t(g >> 8), uint8_t(r), uint8_t(r >> 8)};
    }
    ADD_FAILURE() << "no destination type " << type;
    return {};
}

std::vector<uint8_t> PixelBytes(const TestPixmap& p, int x, int y)
{
    return std::vector<uint8_t>(p.At(x, y), p.At(x, y) + p.Bpp());
}

void FillRandom(TestPixmap& p, unsigned seed)
{
    std::mt19937 rng(seed);
    for (uint8_t& b : p.bytes)
        b = uint8_t(rng());
}

std::string Message(const std::function<void()>& fn)
{
    try {
        fn();
    } catch (const FException& e) {
        return e.GetMessage();
    }
    return "(no exception)";
}

TEST(ConvertColorPixmap, EveryPairMatchesTheWidthRule)
{
    for (int src = 1; src <= 17; ++src) {
        TestPixmap source(src, 5, 3);
        FillRandom(source, unsigned(src));
        for (const int dst : kDestinations) {
            SCOPED_TRACE("source " + std::to_string(src) + " destination " + std::to_string(dst));
            TestPixmap out(dst, 5, 3, 0xAB);
            ConvertColorPixmap(*source.pixmap, out.pixmap.get(), nullptr);
            for (int y = 0; y < 3; ++y) {
                for (int x = 0; x < 5; ++x) {
                    std::vector<uint8_t> want;
                    if (src <= 5) {
                        const int v = MonoValue(src, source.At(x, y), Width(dst));
                        want = Expected(dst, v, v, v);
                    } else {
                        const Channels c = ReadColor(src, source.At(x, y));
                        const int w = Width(dst);
                        want = Expected(dst, Shift(c.r, c.width, w), Shift(c.g, c.width, w),
                                        Shift(c.b, c.width, w));
                    }
                    ASSERT_EQ(PixelBytes(out, x, y), want) << "pixel " << x << "," << y;
                }
            }
        }
    }
}

TEST(ConvertColorPixmap, KnownValues)
{
    TestPixmap rgb48(15, 1, 1);
    Put16(rgb48.At(0, 0), 65535);
    Put16(rgb48.At(0, 0) + 2, 32768);
    Put16(rgb48.At(0, 0) + 4, 255);

    TestPixmap bgra(13, 1, 1);
    ConvertColorPixmap(*rgb48.pixmap, bgra.pixmap.get(), nullptr);
    EXPECT_EQ(PixelBytes(bgra, 0, 0), (std::vector<uint8_t>{0, 128, 255, 255}));

    TestPixmap bgr(6, 1, 1);
    ConvertColorPixmap(*rgb48.pixmap, bgr.pixmap.get(), nullptr);
    EXPECT_EQ(PixelBytes(bgr, 0, 0), (std::vector<uint8_t>{0, 128, 255}));

    TestPixmap rgbl(8, 1, 1);
    ConvertColorPixmap(*rgb48.pixmap, rgbl.pixmap.get(), nullptr);
    EXPECT_EQ(GetPixelRGB<FPixelClass30RGBL>(rgbl.At(0, 0)), FIntRGB(2047, 1024, 6));

    TestPixmap mono12(2, 1, 1);
    Put16(mono12.At(0, 0), 4095);
    ConvertColorPixmap(*mono12.pixmap, bgra.pixmap.get(), nullptr);
    EXPECT_EQ(PixelBytes(bgra, 0, 0), (std::vector<uint8_t>{255, 255, 255, 255}));
    ConvertColorPixmap(*mono12.pixmap, rgb48.pixmap.get(), nullptr);
    EXPECT_EQ(GetPixelRGB<FPixelClass48RGB>(rgb48.At(0, 0)), FIntRGB(65520, 65520, 65520));
}

TEST(PixelAccessors, PackedTypesDropTheLowBlueBit)
{
    uint8_t pixel[4];
    SetPixelRGB<FPixelClass30RGBL>(pixel, FIntRGB(2047, 0, 1));
    EXPECT_EQ(GetPixelRGB<FPixelClass30RGBL>(pixel), FIntRGB(2047, 0, 0));
    SetPixelRGB<FPixelClass30RGB>(pixel, FIntRGB(2047, 0, 1));
    EXPECT_EQ(GetPixelRGB<FPixelClass30RGB>(pixel), FIntRGB(2047, 0, 0));
    SetPixelRGB3<FPixelClass30RGB>(pixel, 2047, 2047, 2047);
    EXPECT_EQ(GetPixelRGB<FPixelClass30RGB>(pixel), FIntRGB(2047, 2047, 2046));

    const uint8_t bgr48[6] = {0xFF, 0xFF, 0x00, 0x01, 0x34, 0x12}; // B -1, G 256, R 0x1234
    EXPECT_EQ(GetPixelRGB<FPixelClass48BGR>(bgr48), FIntRGB(0x1234, 256, -1));
    EXPECT_EQ(GetPixelRGB<FPixelClass48RGB>(bgr48), FIntRGB(65535, 256, 0x1234));
}

// Conversions that widen and narrow again give the source back wherever the narrow type's
// channels fit the wide one.
TEST(ConvertColorPixmap, WideningRoundTripsAreExact)
{
    struct Case {
        int narrow, wide;
    };
    const Case cases[] = {{6, 15}, {7, 15}, {7, 17}, {6, 13}, {13, 7}, {11, 6}, {10, 15}, {8, 17}, {8, 10}};
    for (const Case& c : cases) {
        SCOPED_TRACE(std::to_string(c.narrow) + " via " + std::to_string(c.wide));
        TestPixmap source(c.narrow, 7, 4);
        FillRandom(source, 99);
        if (c.narrow == 8) {
            // B bit 0 is not stored, so clear what would not survive any packed type.
            for (int y = 0; y < 4; ++y)
                for (int x = 0; x < 7; ++x)
                    SetPixelRGB<FPixelClass30RGBL>(source.At(x, y),
                                                   GetPixelRGB<FPixelClass30RGBL>(source.At(x, y)));
        }
        TestPixmap wide(c.wide, 7, 4);
        TestPixmap back(c.narrow, 7, 4);
        ConvertColorPixmap(*source.pixmap, wide.pixmap.get(), nullptr);
        ConvertColorPixmap(*wide.pixmap, back.pixmap.get(), nullptr);
        for (int y = 0; y < 4; ++y) {
            for (int x = 0; x < 7; ++x) {
                const Channels a = ReadColor(c.narrow, back.At(x, y));
                const Channels b = ReadColor(c.narrow, source.At(x, y));
                ASSERT_TRUE(a.r == b.r && a.g == b.g && a.b == b.b) << x << "," << y;
            }
        }
    }
}

TEST(ConvertColorPixmap, CropCopiesFromItsTopLeft)
{
    TestPixmap source(7, 40, 30);
    FillRandom(source, 5);
    TestPixmap out(7, 6, 4);
    const FRect crop(10, 20, 16, 24);
    ConvertColorPixmap(*source.pixmap, out.pixmap.get(), &crop);
    for (int y = 0; y < 4; ++y)
        for (int x = 0; x < 6; ++x)
            ASSERT_EQ(PixelBytes(out, x, y), PixelBytes(source, 10 + x, 20 + y));
}

// A smaller destination without a crop receives the source's top-left part; its rows end
// where the buffer ends, so the sanitizers see any row written past it.
TEST(ConvertColorPixmap, SmallerDestinationWithoutCropIsClipped)
{
    for (const int src : {2, 7, 15, 16}) {
        for (const int dst : kDestinations) {
            TestPixmap source(src, 9, 8);
            FillRandom(source, 11);
            TestPixmap reference(dst, 9, 8);
            ConvertColorPixmap(*source.pixmap, reference.pixmap.get(), nullptr);
            TestPixmap small(dst, 5, 3);
            ConvertColorPixmap(*source.pixmap, small.pixmap.get(), nullptr);
            for (int y = 0; y < 3; ++y)
                for (int x = 0; x < 5; ++x)
                    ASSERT_EQ(PixelBytes(small, x, y), PixelBytes(reference, x, y)) << src << "->" << dst;
        }
    }
}

TEST(ConvertColorPixmap, FailuresThrowBeforeWriting)
{
    TestPixmap color(15, 8, 6);
    TestPixmap mono(3, 8, 6);
    TestPixmap floats(18, 8, 6);
    struct Case {
        const char* name;
        const FPixmap* source;
        int dstType, dstCols, dstRows;
        bool nullDestination;
        FRect crop;
        bool useCrop;
        const char* message;
    };
    const Case cases[] = {
        {"null destination",
         color.pixmap.get(),
         13,
         8,
         6,
         true,
         {},
         false,
         "The output pixmap has not been initialized: ConvertColorPixmap"},
        {"wider",
         color.pixmap.get(),
         13,
         9,
         6,
         false,
         {},
         false,
         "The output pixmap is larger than the input pixmap: ConvertColorPixmap."},
        {"taller",
         mono.pixmap.get(),
         13,
         8,
         7,
         false,
         {},
         false,
         "The output pixmap is larger than the input pixmap: ConvertColorPixmap."},
        {"float source",
         floats.pixmap.get(),
         13,
         8,
         6,
         false,
         {},
         false,
         "Unknown source pixel type in ConvertColorPixmap"},
        {"colour crop too wide",
         color.pixmap.get(),
         13,
         4,
         4,
         false,
         {0, 0, 5, 4},
         true,
         "The crop region is larger than the output pixmap: ConvertColorPixmap."},
        {"mono crop too tall",
         mono.pixmap.get(),
         13,
         4,
         4,
         false,
         {0, 0, 4, 5},
         true,
         "The crop region is larger than the output pixmap: ConvertMonoPixmap."},
        {"crop below the source",
         color.pixmap.get(),
         13,
         4,
         4,
         false,
         {0, 4, 4, 8},
         true,
         "The crop region is outside the input pixmap: ConvertColorPixmap."},
        {"row past the source's right edge",
         color.pixmap.get(),
         13,
         4,
         4,
         false,
         {6, 0, 8, 2},
         true,
         "The crop region is outside the input pixmap: ConvertColorPixmap."},
        {"negative crop",
         mono.pixmap.get(),
         13,
         4,
         4,
         false,
         {-1, 0, 2, 2},
         true,
         "The crop region is outside the input pixmap: ConvertMonoPixmap."},
        {"inverted crop",
         color.pixmap.get(),
         13,
         4,
         4,
         false,
         {3, 3, 1, 1},
         true,
         "The crop region is outside the input pixmap: ConvertColorPixmap."},
        {"destination 9",
         color.pixmap.get(),
         9,
         8,
         6,
         false,
         {},
         false,
         "Unknown destination pixel type in ConvertColorPixmap"},
        {"destination 12",
         mono.pixmap.get(),
         12,
         8,
         6,
         false,
         {},
         false,
         "Unknown destination pixel type in ConvertColorPixmap"},
        {"destination 14",
         color.pixmap.get(),
         14,
         8,
         6,
         false,
         {},
         false,
         "Unknown destination pixel type in ConvertColorPixmap"},
        {"destination 16 from itself",
         color.pixmap.get(),
         16,
         8,
         6,
         false,
         {},
         false,
         "Unknown destination pixel type in ConvertColorPixmap"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        TestPixmap out(c.dstType, c.dstCols, c.dstRows, 0xAB);
        FPixmap* destination = c.nullDestination ? nullptr : out.pixmap.get();
        EXPECT_EQ(Message([&] { ConvertColorPixmap(*c.source, destination, c.useCrop ? &c.crop : nullptr); }),
                  c.message);
        for (const uint8_t b : out.bytes)
            ASSERT_EQ(b, 0xAB);
    }
    TestPixmap same(16, 8, 6);
    EXPECT_EQ(Message([&] { ConvertColorPixmap(*same.pixmap, same.pixmap.get(), nullptr); }),
              "Unknown destination pixel type in ConvertColorPixmap");
}

} // namespace
