// Image sections decoded through the container reader, from files made by the
// fixture builder with payloads from the test encoders.
#include "BribFileBuilder.h"
#include "FBribImageReader.h"
#include "FException.h"
#include "FPixmap.h"
#include "RawCodec.h"
#include "RawTestFolder.h"

#include <gtest/gtest.h>

#include <cmath>
#include <memory>
#include <string>
#include <vector>

namespace
{

struct Picture {
    Picture(int type, int cols, int rows) : m_iCols(cols)
    {
        const int stride = cols * GetPixelTypeBytesPerPixel(type);
        m_bytes.assign(size_t(stride) * size_t(rows), 0xCD);
        m_pixmap.reset(NewFPixmap(type, m_bytes.data(), cols, rows, stride));
    }
    int m_iCols;
    std::vector<uint8_t> m_bytes;
    std::unique_ptr<FPixmap> m_pixmap;
};

// A smooth gradient that every format of the test can hold.
void Fill(Picture& p, int format)
{
    FPixmap& pm = *p.m_pixmap;
    for (int y = 0; y < pm.GetRows(); ++y) {
        uint8_t* row = pm.GetRowAddress(y);
        for (int x = 0; x < pm.GetCols(); ++x) {
            for (int c = 0; c < 3; ++c) {
                const int v = int(2000 + 1500 * std::sin(0.3 * x + c) * std::cos(0.2 * y));
                if (pm.GetPixelType() == FPixmap::PIXEL_24_RGB) {
                    row[3 * x + c] = uint8_t(v >> 4);
                    continue;
                }
                const int w = format == 6 ? (v - 2000) / 4 : v;
                row[6 * x + 2 * c] = uint8_t(w);
                row[6 * x + 2 * c + 1] = uint8_t(w >> 8);
            }
        }
    }
}

rawtest::ImageSection SectionOf(const rawcodec::EncodedImage& e, uint32_t version, uint32_t imageType)
{
    rawtest::ImageSection s;
    s.version = version;
    s.headSize = 44; // version 3: a head larger than its fixed size
    s.imageType = imageType;
    s.pixelFormat = uint32_t(e.m_iFormat);
    s.columns = uint32_t(e.m_iCols);
    s.rows = uint32_t(e.m_iRows);
    s.rowSize = uint32_t(e.m_iRowSize);
    s.payload = e.m_payload;
    return s;
}

struct Stored {
    int m_iFormat;
    int m_iType;
};

const std::vector<Stored> kStored = {
    {13, FPixmap::PIXEL_48_RGB},                               // raw frame
    {6, FPixmap::PIXEL_48S_RGB},                               // dark-subtracted frame
    {30, FPixmap::PIXEL_48S_RGB}, {11, FPixmap::PIXEL_24_RGB}, // previews
    {4, FPixmap::PIXEL_48_RGB},
};

} // namespace

TEST(FBribImageDecodeFile, SectionsOfEveryHeaderVersionDecodeThroughTheReader)
{
    for (uint32_t version : {rawtest::kVersion22, rawtest::kVersion30}) {
        SCOPED_TRACE(version);
        rawtest::BribFileBuilder builder(version);
        std::vector<std::unique_ptr<Picture>> sources;
        for (size_t i = 0; i < kStored.size(); ++i) {
            auto p = std::make_unique<Picture>(kStored[i].m_iType, 40, 6);
            Fill(*p, kStored[i].m_iFormat);
            const auto e = rawcodec::EncodeImage(kStored[i].m_iFormat, *p->m_pixmap);
            builder.Top().AddImage(SectionOf(e, version, i == 1 ? 3 : 1), i >= 3);
            sources.push_back(std::move(p));
        }
        builder.gap = 3; // sections at odd offsets
        const FWideString url =
            rawtest::PutMemoryFile("decode-" + std::to_string(version) + ".q7f", builder.Build());
        FBribImageReader reader(url.GetBuffer());
        ASSERT_EQ(reader.GetImageCount(), int(kStored.size()));
        for (size_t i = 0; i < kStored.size(); ++i) {
            SCOPED_TRACE(kStored[i].m_iFormat);
            int dims[2] = {0, 0};
            int type = 0;
            int imageType = 0;
            reader.GetImageInfo(int(i), dims, type, imageType);
            ASSERT_EQ(type, kStored[i].m_iType);
            Picture out(type, dims[0], dims[1]);
            double progress = -1;
            EXPECT_TRUE(reader.GetImage(int(i), *out.m_pixmap, &progress, nullptr));
            EXPECT_EQ(out.m_bytes, sources[i]->m_bytes);
            EXPECT_GT(progress, 0.5);
        }
    }
}

TEST(FBribImageDecodeFile, FileEndingInsideAPayloadThrowsEndOfFile)
{
    rawtest::BribFileBuilder builder;
    Picture source(FPixmap::PIXEL_48_RGB, 32, 4);
    Fill(source, 13);
    auto e = rawcodec::EncodeImage(13, *source.m_pixmap);
    auto section = SectionOf(e, rawtest::kVersion22, 1);
    // The directory claims more payload than the section holds.
    section.rows = 8;
    builder.Top().AddImage(section);
    const FWideString url = rawtest::PutMemoryFile("decode-short.q7f", builder.Build());
    FBribImageReader reader(url.GetBuffer());
    Picture out(FPixmap::PIXEL_48_RGB, 32, 8);
    EXPECT_THROW(reader.GetImage(0, *out.m_pixmap, nullptr, nullptr), FExceptionEOF);
}
