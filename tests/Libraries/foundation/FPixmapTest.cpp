#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "FException.h"
#include "FPixmap.h"
#include "FRect.h"
#include "FUiColor.h"

namespace
{

struct SizeCase {
    int type;
    int cols;
    int rowBytes;
};

TEST(FPixmapTest, BlockSizesRoundRowsToFourBytes)
{
    const SizeCase cases[] = {{1, 0, 0},  {6, 1, 4},  {16, 2, 12}, {6, 3, 12}, {7, 5, 16}, {1, 3, 4},
                              {5, 3, 12}, {13, 1, 4}, {2, 3, 8},   {17, 1, 8}, {8, 2, 8},  {15, 10, 60}};
    for (const SizeCase& c : cases) {
        int header = -1;
        int rowBytes = -1;
        GetFPixmapSizes(c.type, c.cols, 99, header, rowBytes);
        EXPECT_EQ(rowBytes, c.rowBytes) << "type " << c.type << " cols " << c.cols;
        EXPECT_EQ(header, kFPixmapHeaderSize);
        EXPECT_GE(header, static_cast<int>(sizeof(FPixmap_Display)));
    }
}

TEST(FPixmapTest, BlockFunctionsRejectUnknownTypes)
{
    alignas(kFPixmapHeaderAlign) unsigned char room[kFPixmapHeaderSize];
    for (int type : {0, -1, 18, 19, 20}) {
        int h = 0;
        int r = 0;
        try {
            GetFPixmapSizes(type, 4, 4, h, r);
            ADD_FAILURE() << "no throw for type " << type;
        } catch (const FException& e) {
            EXPECT_STREQ(e.GetMessage(), "GetFPixmapSizes: unknown pixmap type.");
        }
        try {
            MapFPixmapHeader(type, 4, 4, 0, nullptr, room);
            ADD_FAILURE() << "no throw for type " << type;
        } catch (const FException& e) {
            EXPECT_STREQ(e.GetMessage(), "MapFPixmapHeader: unknown pixmap type.");
        }
    }
}

// The object placed in a block must answer through its own virtual table, not a copy's.
TEST(FPixmapTest, MappedHeaderIsACompletePixmapOfItsType)
{
    for (int type = 1; type <= 17; ++type) {
        int header = 0;
        int rowBytes = 0;
        GetFPixmapSizes(type, 5, 3, header, rowBytes);
        const size_t blockBytes = static_cast<size_t>(header) + static_cast<size_t>(rowBytes) * 3;
        std::unique_ptr<std::max_align_t[]> block(
            new std::max_align_t[blockBytes / sizeof(std::max_align_t) + 1]);
        unsigned char* base = reinterpret_cast<unsigned char*>(block.get());
        FPixmap* pixmap = MapFPixmapHeader(type, 5, 3, rowBytes, base + header, base);
        EXPECT_EQ(static_cast<void*>(pixmap), static_cast<void*>(base));
        EXPECT_EQ(pixmap->GetPixelType(), type);
        EXPECT_EQ(pixmap->GetCols(), 5);
        EXPECT_EQ(pixmap->GetRows(), 3);
        EXPECT_EQ(pixmap->GetStride(), rowBytes);
        EXPECT_EQ(pixmap->GetBuffer(), base + header);
        EXPECT_EQ(pixmap->GetRowAddress(2), base + header + 2 * rowBytes);
        EXPECT_EQ(dynamic_cast<FPixmap_Display*>(pixmap) != nullptr, type == 13) << "type " << type;
        DestroyFPixmapHeader(pixmap);
    }
}

TEST(FPixmapTest, MappedHeaderWithStrideZeroUsesUnroundedRows)
{
    alignas(kFPixmapHeaderAlign) unsigned char room[kFPixmapHeaderSize];
    FPixmap* pixmap = MapFPixmapHeader(FPixmap::PIXEL_24_BGR, 10, 1, 0, nullptr, room);
    EXPECT_EQ(pixmap->GetStride(), 30);
    DestroyFPixmapHeader(pixmap);
    EXPECT_THROW(MapFPixmapHeader(1, 1, 1, 0, nullptr, room + 1), FException);
}

TEST(FPixmapTest, TemplateDefaultStrideIsNotRounded)
{
    FPixmap48RGB wide(nullptr, 10, 2, 0);
    EXPECT_EQ(wide.GetStride(), 60);
    FPixmap24BGR bgr(nullptr, 10, 2, 0);
    EXPECT_EQ(bgr.GetStride(), 30);
    int header = 0;
    int rowBytes = 0;
    GetFPixmapSizes(FPixmap::PIXEL_24_BGR, 10, 2, header, rowBytes);
    EXPECT_EQ(rowBytes, 32);
    FPixmap8Mono given(nullptr, 10, 2, 17);
    EXPECT_EQ(given.GetStride(), 17);
}

TEST(FPixmapTest, BytesPerPixelAndIdsOfEveryType)
{
    const int bytes[] = {0, 1, 2, 2, 2, 4, 3, 3, 4, 4, 4, 4, 4, 4, 4, 6, 6, 6, 12, 4};
    for (int type = 0; type <= 19; ++type)
        EXPECT_EQ(GetPixelTypeBytesPerPixel(type), bytes[type]) << "type " << type;
    EXPECT_EQ(GetPixelTypeBytesPerPixel(20), 0);
    for (int type = 1; type <= 19; ++type) {
        std::unique_ptr<FPixmap> pixmap(NewFPixmap(type, nullptr, 2, 2, 0));
        EXPECT_EQ(pixmap->GetPixelType(), type);
        EXPECT_EQ(pixmap->GetStride(), 2 * bytes[type]);
    }
    EXPECT_THROW(NewFPixmap(0, nullptr, 1, 1, 0), FExceptionUnknownPixelType);
    EXPECT_EQ(FPixelClass32BGRA::kBlueIndex, 0);
    EXPECT_EQ(FPixelClass32ARGB::kAlphaIndex, 0);
    EXPECT_EQ(FPixelClass24BGR::kRedIndex, 2);
}

TEST(FPixmapTest, RowsAndPixelsAddressTypedSamples)
{
    int16_t pixels[2 * 10] = {};
    FPixmap48SRGB pixmap(pixels, 3, 2, 20);
    EXPECT_EQ(pixmap.GetRow(1), pixels + 10);
    EXPECT_EQ(pixmap.GetPixel(2, 1), pixels + 10 + 6);
    pixmap.GetPixel(1, 0)[FPixelClass48SRGB::kGreenIndex] = -7;
    EXPECT_EQ(pixels[4], -7);
}

TEST(FRectTest, RecordOperations)
{
    FRect r;
    EXPECT_EQ(r, FRect(0, 0, 0, 0));
    r.Set(5, 1, 2, -3); // no test of order
    EXPECT_EQ(r, FRect(5, 1, 2, -3));
    r.Set(10, 20, 30, 60);
    EXPECT_EQ(r.Width(), 20);
    EXPECT_EQ(r.Height(), 40);
    r.Offset(-5, 5);
    EXPECT_EQ(r, FRect(5, 25, 25, 65));
    r.MoveToOrigin();
    EXPECT_EQ(r, FRect(0, 0, 20, 40));
    r.SetLeft(4);
    r.SetWidth(6);
    r.SetTop(2);
    r.SetHeight(3);
    EXPECT_EQ(r, FRect(4, 2, 10, 5));
    r.Clear();
    EXPECT_EQ(r, FRect());

    EXPECT_FALSE(FRect(0, 0, 10, 10).Intersects(FRect(10, 0, 20, 10))); // touching
    EXPECT_TRUE(FRect(0, 0, 10, 10).Intersects(FRect(9, 9, 20, 20)));
    EXPECT_FALSE(FRect(0, 0, 0, 10).Intersects(FRect(0, 0, 10, 10))); // empty
}

TEST(FRectTest, ClipScaledMovesTheSourceByTheSameShare)
{
    const FRect bounds(0, 0, 100, 100);
    FRect destination(-10, 0, 40, 50); // 10 over the left bound
    FRect source(0, 0, 100, 100);      // twice as wide as the destination
    bounds.ClipScaled(destination, source);
    EXPECT_EQ(destination, FRect(0, 0, 40, 50));
    EXPECT_EQ(source.left, 20);

    FRect d2(50, 90, 150, 110);
    FRect s2(0, 0, 50, 10);
    bounds.ClipScaled(d2, s2);
    EXPECT_EQ(d2, FRect(50, 90, 100, 100));
    EXPECT_EQ(s2, FRect(0, 0, 25, 5));

    // Large spans and scales: the products pass 32 bits, the shares do not.
    const FRect screen(0, 0, 8192, 8192);
    FRect d3(-100000, -60000, 100000, 60000);
    FRect s3(0, 0, 1000000, 600000);
    screen.ClipScaled(d3, s3);
    EXPECT_EQ(d3, FRect(0, 0, 8192, 8192));
    EXPECT_EQ(s3, FRect(500000, 300000, 540960, 340960));
}

TEST(FUiColorTest, NewColourIsOpaqueBlack)
{
    FUiColor c;
    EXPECT_EQ(c, FUiColor(0, 0, 0, 255));
    c.Set(1, 2, 3, 4);
    EXPECT_EQ(c.red, 1);
    EXPECT_EQ(c.alpha, 4);
}

} // namespace
