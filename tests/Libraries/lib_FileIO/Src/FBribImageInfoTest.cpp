#include "FBribImageReader.h"

#include "BribFileBuilder.h"
#include "BribTestUtil.h"
#include "FPixmap.h"
#include "RawTestFolder.h"

#include <gtest/gtest.h>

using namespace rawtest;

namespace
{

ImageSection Image(uint32_t version, uint32_t format)
{
    ImageSection image;
    image.version = version;
    image.imageType = 2;
    image.pixelFormat = format;
    image.columns = 10;
    image.rows = 6;
    image.rowSize = 30;
    image.payload.assign(180, 0);
    return image;
}

} // namespace

TEST(BribImageInfo, EveryPixelFormat)
{
    struct Expected {
        int pixmapType;
        int columnFactor;
        int rowFactor;
    };
    const int p48 = FPixmap::PIXEL_48_RGB, p48s = FPixmap::PIXEL_48S_RGB, p24 = FPixmap::PIXEL_24_RGB,
              p16 = FPixmap::PIXEL_16_MONO, p30 = FPixmap::PIXEL_30_RGB;
    const Expected expected[32] = {
        {p48, 1, 1}, {p30, 1, 1},  {p48, 1, 1},  {p24, 1, 1}, {p48, 1, 1}, {p48s, 1, 1}, {p48s, 1, 1},
        {0, 1, 1},   {p16, 1, 1},  {p16, 1, 1},  {0, 1, 1},   {p24, 1, 1}, {p48, 1, 1},  {p48, 1, 1},
        {p48, 2, 2}, {0, 1, 1},    {p48, 2, 2},  {p16, 2, 2}, {p24, 1, 1}, {0, 1, 1},    {p48, 1, 2},
        {p48, 1, 1}, {p48, 1, 2},  {0, 1, 1},    {p48, 1, 1}, {p48, 2, 2}, {p48, 1, 1},  {p48, 1, 1},
        {p48, 1, 1}, {p48s, 1, 1}, {p48s, 1, 1}, {0, 1, 1},
    };
    RawTestFolder folder;
    for (uint32_t version : {kVersion22, kVersion30}) {
        BribFileBuilder file(version);
        for (uint32_t format = 0; format < 32; ++format)
            file.Top().AddImage(Image(version, format));
        file.Top().AddImage(Image(version, 200));
        FBribImageReader reader(folder.Write("formats.q7f", file.Build()).GetBuffer());
        ASSERT_EQ(reader.GetImageCount(), 33);
        for (int format = 0; format < 33; ++format) {
            SCOPED_TRACE(format);
            const Expected e = format < 32 ? expected[format] : Expected{0, 1, 1};
            int dims[2] = {-1, -1}, pixmapType = -1, imageType = -1;
            reader.GetImageInfo(format, dims, pixmapType, imageType);
            EXPECT_EQ(pixmapType, e.pixmapType);
            EXPECT_EQ(dims[0], 10 * e.columnFactor);
            EXPECT_EQ(dims[1], 6 * e.rowFactor);
            EXPECT_EQ(imageType, 2);
        }
    }
}

TEST(BribImageInfo, RefusedHeads)
{
    struct Case {
        const char* name;
        void (*change)(ImageSection&);
        std::string type;
        const char* message;
    };
    const Case cases[] = {
        {"magic", [](ImageSection& s) { s.magic = FourCC("SECc"); }, TypeName<FExceptionBribReader>(),
         "Expected an image section but got something else."},
        {"version", [](ImageSection& s) { s.version = 0x00010002; }, TypeName<FExceptionBribIncompatible>(),
         "Image section version"},
        {"head size", [](ImageSection& s) { s.version = kVersion30, s.headSize = 20; },
         TypeName<FExceptionBribReader>(), "Section head size does not fit its section."},
        {"huge columns", [](ImageSection& s) { s.columns = 0x80000000u; }, TypeName<FExceptionBribReader>(),
         "Image section dimensions are too large."},
    };
    RawTestFolder folder;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        ImageSection image = Image(kVersion22, 4);
        c.change(image);
        BribFileBuilder file;
        file.Top().AddImage(image);
        FBribImageReader reader(folder.Write("bad.q7f", file.Build()).GetBuffer());
        int dims[2], pixmapType, imageType;
        const auto thrown = Thrown([&] { reader.GetImageInfo(0, dims, pixmapType, imageType); });
        EXPECT_EQ(thrown.type, c.type);
        EXPECT_EQ(thrown.message, c.message);
    }
}

TEST(BribImageInfo, LargerVersionThreeHead)
{
    ImageSection image = Image(kVersion30, 13);
    image.headSize = 48;
    RawTestFolder folder;
    BribFileBuilder file(kVersion30);
    file.Top().AddImage(image, true);
    FBribImageReader reader(folder.Write("v3.q7f", file.Build()).GetBuffer());
    int dims[2], pixmapType, imageType;
    reader.GetImageInfo(0, dims, pixmapType, imageType);
    EXPECT_EQ(dims[0], 10);
    EXPECT_EQ(pixmapType, FPixmap::PIXEL_48_RGB);
}
