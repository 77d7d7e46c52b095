// Digests of what the development delivers, pinned so that a faster schedule of the same
// arithmetic cannot drift by a bit: processed images and saved files (their decoded pixels)
// at full and reduced size, with crops, rotation and a last strip of one row, on one engine
// thread and on several.
#include <gtest/gtest.h>

#include <cinttypes>
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "DevelopDriver.h"
#include "DevelopableRaw.h"
#include "DiskEngineTest.h"
#include "FCache.h"
#include "FIPEngine2.h"
#include "FIPMImage.h"
#include "FJPEGImageReader.h"
#include "FPixmap.h"
#include "FTiffImageReader.h"

using namespace developtest;

namespace
{

uint64_t Digest(const FPixmap& pixmap)
{
    uint64_t h = 1469598103934665603ull;
    const size_t rowBytes = size_t(pixmap.GetCols()) * GetPixelTypeBytesPerPixel(pixmap.GetPixelType());
    for (int y = 0; y < pixmap.GetRows(); ++y) {
        const uint8_t* p = pixmap.GetRowAddress(y);
        for (size_t i = 0; i < rowBytes; ++i)
            h = (h ^ p[i]) * 1099511628211ull;
    }
    return h ^ (uint64_t(pixmap.GetCols()) << 32) ^ uint64_t(pixmap.GetRows());
}

template <class Reader>
uint64_t FileDigest(const FWideString& url)
{
    Reader reader(url);
    int cols = 0, rows = 0, type = 0;
    reader.GetDimensions(cols, rows, type);
    const int bytes = GetPixelTypeBytesPerPixel(type);
    if (cols <= 0 || rows <= 0 || bytes <= 0)
        return 0;
    std::vector<uint8_t> pixels(size_t(cols) * rows * bytes);
    std::unique_ptr<FPixmap> pixmap(NewFPixmap(type, pixels.data(), cols, rows, cols * bytes));
    reader.ReadImage(*pixmap);
    return Digest(*pixmap);
}

struct Case {
    const char* name;
    int kind; // kReqProcessed or kReqProcAndSave
    int fileType;
    int format;
    int colorSpace;
    int cols, rows;
    FRect crop;
    bool rotated;
    uint64_t digest;
};

// Sizes are asked of a 320 x 240 capture (240 x 320 turned); the save of 301 rows ends
// with a strip of one row, written without a margin below the strip before it.
const Case kCases[] = {
    {"processed-24-full", kReqProcessed, kSaveNone, kRGB24, 2, 320, 240, FRect(0, 0, 320, 240), false,
     0x5111f3d5ab41e7b9ull},
    {"processed-48-full", kReqProcessed, kSaveNone, kRGB48, 3, 320, 240, FRect(0, 0, 320, 240), false,
     0x5bbda625f62fe2c6ull},
    {"processed-display-reduced", kReqProcessed, kSaveNone, kDisplay, 2, 200, 150, FRect(0, 0, 200, 150),
     false, 0xc418ccba9391a98ull},
    {"processed-24-crop-rotated", kReqProcessed, kSaveNone, kRGB24, 4, 180, 240, FRect(9, 21, 170, 233), true,
     0x2d415e4a6ec8bdfeull},
    {"jpeg-full", kReqProcAndSave, kSaveJPEG, kRGB24, 2, 320, 240, FRect(0, 0, 320, 240), false,
     0xa33800c6c62f41b7ull},
    {"jpeg-reduced", kReqProcAndSave, kSaveJPEG, kRGB24, 3, 250, 190, FRect(0, 0, 250, 190), false,
     0x8b99f3e6d195cdc3ull},
    {"tiff48-full", kReqProcAndSave, kSaveTIFF, kRGB48, 3, 320, 240, FRect(0, 0, 320, 240), false,
     0x5bbda625f62fe2c6ull},
    {"tiff24-reduced-crop", kReqProcAndSave, kSaveTIFF, kRGB24, 2, 250, 190, FRect(7, 13, 240, 180), false,
     0x6dba3aa09be99375ull},
    {"tiff48-rotated-one-row-strip", kReqProcAndSave, kSaveTIFF, kRGB48, 2, 240, 320, FRect(0, 0, 240, 301),
     true, 0x3b9dcaf340361f98ull},
    {"jpeg-rotated-reduced", kReqProcAndSave, kSaveJPEG, kRGB24, 8, 150, 200, FRect(0, 0, 150, 200), true,
     0x46e81dd51cabac3ull},
};

class OutputDigest : public DiskEngineTest
{
protected:
    void TearDown() override
    {
        SetIPEngineThreadCount(m_iThreadsBefore);
        DiskEngineTest::TearDown();
    }

    uint64_t Run(const Case& c, const FWideString& file)
    {
        FIPManagerRequest req;
        const std::string out = std::string(c.name) + (c.fileType == kSaveJPEG ? ".jpg" : ".tif");
        if (c.kind == kReqProcAndSave)
            PrepareSave(req, file, m_pFolder->URL(out), c.fileType, c.format, c.colorSpace, c.cols, c.rows);
        else
            PrepareProcessed(req, file, c.cols, c.rows, c.format);
        req.m_iColorSpace = c.colorSpace;
        req.m_rCrop = c.crop;
        req.m_dSharpness = 0.4;
        req.m_dSaturation = 0.2;
        EXPECT_TRUE(RunThroughPool(req, nullptr, std::chrono::seconds(60)));
        EXPECT_EQ(req.m_Async.GetState(), kCompleted) << req.m_Async.m_usErrorText.GetNarrow();
        if (req.m_Async.GetState() != kCompleted)
            return 0;
        if (c.kind == kReqProcessed)
            return req.m_pOutputImage != nullptr ? Digest(*req.m_pOutputImage->GetPixmap()) : 0;
        const FWideString url = m_pFolder->URL(out);
        return c.fileType == kSaveJPEG ? FileDigest<FJPEGImageReader>(url)
                                       : FileDigest<FTiffImageReader>(url);
    }

    int m_iThreadsBefore = GetIPEngineThreadCount();
};

} // namespace

TEST_F(OutputDigest, EveryOutputIsPinnedOnOneThreadAndOnSeveral)
{
    DevelopableRawOptions options;
    options.seed = 87;
    const FWideString flat = m_pFolder->Write("flat.xxx", MakeDevelopableRaw(options));
    options.seed = 88;
    options.rotation = 90;
    const FWideString turned = m_pFolder->Write("turned.xxx", MakeDevelopableRaw(options));
    for (int threads : {1, 4}) {
        SetIPEngineThreadCount(threads);
        // Nothing cached: every run develops from the file.
        GetGlobalCache()->SetSize(0);
        GetGlobalCache()->SetSize(FCache::kDefaultLimit);
        for (const Case& c : kCases) {
            SCOPED_TRACE(std::string(c.name) + " on " + std::to_string(threads) + " threads");
            const uint64_t digest = Run(c, c.rotated ? turned : flat);
            EXPECT_EQ(digest, c.digest) << "0x" << std::hex << digest;
        }
    }
}
