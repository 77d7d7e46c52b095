#include "FMemoryFile.h"
#include "FPixmap.h"
#include "FPngFixture.h"
#include "FPngPixmap.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace
{

// Decodes and gives the pixels as blue, green, red, alpha bytes; reports whether the
// file was released.
struct Decoded {
    bool ok = false;
    bool released = false;
    int width = 0;
    int height = 0;
    std::vector<uint8_t> bgra;
};

Decoded Decode(const std::string& bytes)
{
    Decoded d;
    auto* file = new FMemoryFile(bytes, &d.released);
    FPixmap_Display* pixmap = LoadPngPixmap(file);
    if (pixmap == nullptr)
        return d;
    d.ok = true;
    d.width = pixmap->GetCols();
    d.height = pixmap->GetRows();
    EXPECT_EQ(pixmap->GetStride(), d.width * 4);
    d.bgra.assign(pixmap->GetBuffer(), pixmap->GetBuffer() + size_t(d.width) * size_t(d.height) * 4);
    FreePngPixmap(pixmap);
    EXPECT_EQ(pixmap, nullptr);
    // On success the file stays the caller's.
    const bool releasedByLoader = d.released;
    file->Release();
    d.released = releasedByLoader;
    return d;
}

FPngFixture Image(int colourType, int depth, int width, int height, std::vector<uint8_t> rows)
{
    FPngFixture f;
    f.colourType = colourType;
    f.bitDepth = depth;
    f.width = width;
    f.height = height;
    f.rows = std::move(rows);
    return f;
}

TEST(PngPixmap, ColourTypesGiveBgraPixels)
{
    struct Case {
        const char* name;
        FPngFixture image;
        std::vector<uint8_t> expected; // blue, green, red, alpha per pixel
    };
    FPngFixture palette = Image(FPngFixture::kPalette, 8, 3, 1, {0, 1, 2});
    palette.palette = {255, 0, 0, 0, 255, 0, 0, 0, 255};
    palette.transparency = {0, 128}; // the third entry keeps 255
    FPngFixture paletteNoAlpha = palette;
    paletteNoAlpha.transparency.clear();
    FPngFixture greyKey = Image(FPngFixture::kGrey, 8, 2, 1, {7, 9});
    greyKey.transparency = {0, 9};
    FPngFixture interlaced = Image(FPngFixture::kRGB, 8, 3, 3, std::vector<uint8_t>(27, 0));
    interlaced.interlaced = true;
    interlaced.rows[24] = 10; // the last pixel's red
    const Case cases[] = {
        {"RGB is opaque",
         Image(FPngFixture::kRGB, 8, 2, 1, {10, 20, 30, 40, 50, 60}),
         {30, 20, 10, 255, 60, 50, 40, 255}},
        {"RGBA keeps alpha", Image(FPngFixture::kRGBA, 8, 1, 1, {10, 20, 30, 77}), {30, 20, 10, 77}},
        {"palette with transparency", palette, {0, 0, 255, 0, 0, 255, 0, 128, 255, 0, 0, 255}},
        {"palette without transparency", paletteNoAlpha, {0, 0, 255, 255, 0, 255, 0, 255, 255, 0, 0, 255}},
        {"16-bit RGB keeps the high bytes",
         Image(FPngFixture::kRGB, 16, 1, 1, {0x12, 0x34, 0x56, 0x78, 0x9A, 0xBC}),
         {0x9A, 0x56, 0x12, 255}},
        {"16-bit RGBA", Image(FPngFixture::kRGBA, 16, 1, 1, {1, 0, 2, 0, 3, 0, 0x80, 0xFF}), {3, 2, 1, 0x80}},
        {"grey", Image(FPngFixture::kGrey, 8, 2, 1, {0, 200}), {0, 0, 0, 255, 200, 200, 200, 255}},
        {"1-bit grey",
         Image(FPngFixture::kGrey, 1, 3, 1, {0b10100000}),
         {255, 255, 255, 255, 0, 0, 0, 255, 255, 255, 255, 255}},
        {"grey with alpha", Image(FPngFixture::kGreyAlpha, 8, 1, 1, {90, 30}), {90, 90, 90, 30}},
        {"16-bit grey", Image(FPngFixture::kGrey, 16, 1, 1, {0xAB, 0xCD}), {0xAB, 0xAB, 0xAB, 255}},
        {"grey with a transparent level", greyKey, {7, 7, 7, 255, 9, 9, 9, 0}},
        {"interlaced", interlaced, {0, 0,   0, 255, 0, 0,   0, 255, 0, 0,   0, 255, 0, 0,   0, 255, 0,  0,
                                    0, 255, 0, 0,   0, 255, 0, 0,   0, 255, 0, 0,   0, 255, 0, 0,   10, 255}},
    };
    for (const Case& c : cases) {
        const Decoded d = Decode(c.image.Encode());
        ASSERT_TRUE(d.ok) << c.name;
        EXPECT_FALSE(d.released) << c.name;
        EXPECT_EQ(d.width, c.image.width) << c.name;
        EXPECT_EQ(d.bgra, c.expected) << c.name;
    }
}

TEST(PngPixmap, BadFilesAreRefusedAndReleased)
{
    const std::string good = Image(FPngFixture::kRGBA, 8, 4, 4, std::vector<uint8_t>(64, 0x5A)).Encode();
    // 4200 x 4200 is within the side limit but over the pixel limit.
    const std::string manyPixels =
        Image(FPngFixture::kGrey, 1, 4200, 4200, std::vector<uint8_t>(size_t(525) * 4200, 0)).Encode();
    const std::string wide =
        Image(FPngFixture::kGrey, 1, kMaxPngSide + 1, 1, std::vector<uint8_t>(2049, 0)).Encode();
    std::string badCrc = good;
    badCrc[29] ^= 0x01; // inside the header chunk's CRC
    std::string badData = good;
    badData[good.size() - 20] ^= 0x55; // inside the compressed pixels
    struct Case {
        const char* name;
        std::string bytes;
    };
    std::vector<Case> cases = {
        {"GIF", "GIF89a\x01\x00\x01\x00\x00\x00\x00;"},
        {"empty", ""},
        {"three bytes of signature", good.substr(0, 3)},
        {"too many pixels", manyPixels},
        {"too wide", wide},
        {"damaged header", badCrc},
        {"damaged pixels", badData},
    };
    // Every truncation: in the signature, the header, the pixel data, before the end chunk.
    for (size_t cut : {size_t(4), size_t(8), size_t(20), size_t(33), size_t(45), good.size() - 13})
        cases.push_back({"truncated", good.substr(0, cut)});
    for (const Case& c : cases) {
        const Decoded d = Decode(c.bytes);
        EXPECT_FALSE(d.ok) << c.name << " " << c.bytes.size();
        EXPECT_TRUE(d.released) << c.name << " " << c.bytes.size();
    }
    EXPECT_EQ(LoadPngPixmap(nullptr), nullptr);
}

TEST(PngPixmap, ReadsFromTheStartWhereverTheFileStands)
{
    bool released = false;
    auto* file = new FMemoryFile(Image(FPngFixture::kRGB, 8, 1, 1, {1, 2, 3}).Encode(), &released);
    file->Seek(10);
    FPixmap_Display* pixmap = LoadPngPixmap(file);
    ASSERT_NE(pixmap, nullptr);
    EXPECT_EQ(pixmap->GetBuffer()[0], 3);
    FreePngPixmap(pixmap);
    file->Release();
}

} // namespace
