// Synthetic raw files taken through the manager pool exactly as the application takes them:
// properties, previews, processed images, automatic settings, gray balance, illuminants,
// header changes and saves in every output colour space, each read back by our readers and
// by independent tools.
#include <gtest/gtest.h>

#include <lcms2.h>
#include <tiffio.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

#include "DevelopDriver.h"
#include "DevelopableRaw.h"
#include "DiskEngineTest.h"
#include "EngineTestSupport.h"
#include "FCache.h"
#include "FDataRetriever.h"
#include "FIPMImage.h"
#include "FJPEGImageReader.h"
#include "FPixmap.h"
#include "FPropList.h"
#include "FSyntheticCapture.h"
#include "FTiffImageReader.h"
#include "RawTestFolder.h"
#include "SavedProfiles.h"

using namespace developtest;

namespace
{

constexpr int kCols = 320;
constexpr int kRows = 240;

std::string RunTool(const std::string& command, int& status)
{
    std::string out;
    FILE* pipe = popen(command.c_str(), "r");
    if (pipe == nullptr) {
        status = -1;
        return out;
    }
    char buffer[4096];
    size_t n;
    while ((n = fread(buffer, 1, sizeof(buffer), pipe)) > 0)
        out.append(buffer, n);
    status = pclose(pipe);
    return out;
}

bool HasTool(const char* tool)
{
    int status = 0;
    RunTool(std::string("command -v ") + tool + " >/dev/null 2>&1", status);
    return status == 0;
}

struct Space {
    int index;
    const char* description;
    double primaries[3][2];
    double white[2];
};

// The published definitions, independent of the library's own table.
const Space kSpaces[] = {
    {2, "sRGB IEC61966-2.1", {{0.64, 0.33}, {0.30, 0.60}, {0.15, 0.06}}, {0.3127, 0.3290}},
    {3, "Adobe RGB (1998)", {{0.64, 0.33}, {0.21, 0.71}, {0.15, 0.06}}, {0.3127, 0.3290}},
    {4, "Apple RGB", {{0.625, 0.34}, {0.28, 0.595}, {0.155, 0.07}}, {0.3127, 0.3290}},
    {8, "ColorMatch RGB", {{0.63, 0.34}, {0.295, 0.605}, {0.15, 0.075}}, {0.3457, 0.3585}},
    {11, "ProPhoto RGB", {{0.7347, 0.2653}, {0.1596, 0.8404}, {0.0366, 0.0001}}, {0.3457, 0.3585}},
};

// The embedded profile, read by LittleCMS: the space's white and primaries within 1e-3.
void ExpectProfileOf(const std::vector<uint8_t>& bytes, const Space& space)
{
    ASSERT_FALSE(bytes.empty());
    cmsHPROFILE h = cmsOpenProfileFromMem(bytes.data(), cmsUInt32Number(bytes.size()));
    ASSERT_NE(h, nullptr);
    char text[256] = {};
    cmsGetProfileInfoASCII(h, cmsInfoDescription, "en", "US", text, sizeof(text));
    EXPECT_STREQ(text, space.description);
    const auto* wtpt = static_cast<const cmsCIEXYZ*>(cmsReadTag(h, cmsSigMediaWhitePointTag));
    ASSERT_NE(wtpt, nullptr);
    cmsCIExyY xy;
    cmsXYZ2xyY(&xy, wtpt);
    EXPECT_NEAR(xy.x, space.white[0], 1e-3);
    EXPECT_NEAR(xy.y, space.white[1], 1e-3);
    const cmsTagSignature tags[3] = {cmsSigRedColorantTag, cmsSigGreenColorantTag, cmsSigBlueColorantTag};
    for (int i = 0; i < 3; ++i) {
        const auto* colorant = static_cast<const cmsCIEXYZ*>(cmsReadTag(h, tags[i]));
        ASSERT_NE(colorant, nullptr);
        cmsCIEXYZ native;
        cmsAdaptToIlluminant(&native, cmsD50_XYZ(), wtpt, colorant);
        cmsXYZ2xyY(&xy, &native);
        EXPECT_NEAR(xy.x, space.primaries[i][0], 1e-3) << i;
        EXPECT_NEAR(xy.y, space.primaries[i][1], 1e-3) << i;
    }
    cmsCloseProfile(h);
}

double MeanLuminance(FPixmap& pixmap)
{
    double sum = 0.0;
    for (int y = 0; y < pixmap.GetRows(); ++y) {
        const uint8_t* p = pixmap.GetRowAddress(y);
        for (int x = 0; x < pixmap.GetCols(); ++x, p += 4)
            sum += 0.3 * p[2] + 0.55 * p[1] + 0.15 * p[0];
    }
    return sum / (double(pixmap.GetCols()) * pixmap.GetRows());
}

class EndToEnd : public DiskEngineTest
{
protected:
    FWideString MakeFile(const std::string& name, const DevelopableRawOptions& options)
    {
        return m_pFolder->Write(name, MakeDevelopableRaw(options));
    }
    FWideString MakeFile(const std::string& name, uint32_t seed)
    {
        DevelopableRawOptions options;
        options.cols = kCols;
        options.rows = kRows;
        options.seed = seed;
        return MakeFile(name, options);
    }

    // The stage machine answers processing requests only once it is complete.
    bool ManagerProcesses(const FWideString& file)
    {
        FIPManagerRequest req;
        PrepareProcessed(req, file, 64, 48, kDisplay);
        RunThroughPool(req);
        return !(req.m_Async.GetState() == kError && req.m_Async.GetErrorCode() == kErrUnsupported);
    }

    void Develop(FIPManagerRequest& req)
    {
        ASSERT_TRUE(RunThroughPool(req, nullptr, std::chrono::seconds(60)));
        ASSERT_EQ(req.m_Async.GetState(), kCompleted)
            << "error " << req.m_Async.GetErrorCode() << ": " << req.m_Async.m_usErrorText.GetNarrow();
    }
};

#define SKIP_UNLESS_PROCESSING(file)                                                                         \
    if (!ManagerProcesses(file))                                                                             \
    GTEST_SKIP() << "the manager's stage machine does not process yet"

} // namespace

TEST_F(EndToEnd, GeneratedFileIsReadByTheLoaders)
{
    const FWideString file = MakeFile("read.xxx", 7);
    std::unique_ptr<FIDataRetriever> retriever(CreateDataRetriever());
    auto run = [&](FDataRetrieverRequest& req) {
        retriever->Request(&req);
        return TickUntil([&] { return !req.m_Async.IsInProgress(); }, [&] { retriever->Idle(); });
    };
    FDataRetrieverRequest count;
    count.m_usFileName = file;
    count.m_eKind = kRetrieveInfo;
    count.m_iSubKind = kInfoImageCount;
    ASSERT_TRUE(run(count));
    ASSERT_EQ(count.m_Async.GetState(), kCompleted);
    ASSERT_EQ(count.m_iArg, 4);
    const int kinds[4] = {1, 2, 4, 4};
    for (int i = 0; i < 4; ++i) {
        FDataRetrieverRequest info;
        info.m_usFileName = file;
        info.m_eKind = kRetrieveInfo;
        info.m_iSubKind = kInfoImage;
        info.m_iArg = i;
        ASSERT_TRUE(run(info));
        ASSERT_EQ(info.m_Async.GetState(), kCompleted) << i;
        EXPECT_EQ(info.m_aiResult[2], kinds[i]) << i;
    }
    FPropList props(nullptr, "ImageProps");
    FDataRetrieverRequest properties;
    properties.m_usFileName = file;
    properties.m_eKind = kRetrieveInfo;
    properties.m_iSubKind = kInfoProperties;
    properties.SetList(&props);
    ASSERT_TRUE(run(properties));
    ASSERT_EQ(properties.m_Async.GetState(), kCompleted);
    EXPECT_EQ(props.GetInt("COLS", 0), kCols);
    EXPECT_EQ(props.GetInt("ROWS", 0), kRows);
    EXPECT_TRUE(props.GetString("UNIQUEID", "") == DevelopableUniqueId(7).c_str());
    EXPECT_EQ(props.GetInt("PROCESSABLE", 0), 1);

    // The raw frame and the camera data come back whole.
    for (int subKind : {kDataImage, kDataCAMbCamfile}) {
        FDataRetrieverRequest data;
        data.m_usFileName = file;
        data.m_eKind = kRetrieveData;
        data.m_iSubKind = subKind;
        data.m_iArg = 0;
        ASSERT_TRUE(run(data));
        ASSERT_EQ(data.m_Async.GetState(), kCompleted) << subKind;
        ASSERT_NE(data.GetDataObject(), nullptr);
        data.GetDataObject()->Release();
    }
}

TEST_F(EndToEnd, PropertiesAndPreviewThroughThePool)
{
    const FWideString file = MakeFile("preview.xxx", 11);
    FIPManagerRequest props;
    PrepareProperties(props, file);
    ASSERT_TRUE(RunThroughPool(props));
    if (props.m_Async.GetErrorCode() == kErrUnsupported)
        GTEST_SKIP() << "the manager does not answer properties yet";
    ASSERT_EQ(props.m_Async.GetState(), kCompleted) << props.m_Async.m_usErrorText.GetNarrow();
    EXPECT_EQ(props.m_pImageProps->GetInt("COLS", 0), kCols);
    EXPECT_TRUE(props.m_pImageProps->GetString("UNIQUEID", "") == DevelopableUniqueId(11).c_str());

    FIPManagerRequest preview;
    PreparePreview(preview, file, 160);
    ASSERT_TRUE(RunThroughPool(preview));
    ASSERT_EQ(preview.m_Async.GetState(), kCompleted) << preview.m_Async.m_usErrorText.GetNarrow();
    EXPECT_EQ(preview.m_iOutCols, 160);
    EXPECT_EQ(preview.m_iOutRows, 120);
    EXPECT_EQ(preview.m_rCrop, FRect(0, 0, 160, 120));
    EXPECT_EQ(preview.m_pOutputImage->GetHistogram()->GetCount(), 160u * 120u);

    // Again, after the file's embedded previews changed under the same unique id: the
    // preview comes from the cache, with the first pixels.
    DevelopableRawOptions changed;
    changed.cols = kCols;
    changed.rows = kRows;
    changed.seed = 11;
    changed.previewOffset = 1;
    MakeFile("preview.xxx", changed);
    FIPManagerRequest again;
    PreparePreview(again, file, 160);
    ASSERT_TRUE(RunThroughPool(again));
    ASSERT_EQ(again.m_Async.GetState(), kCompleted) << again.m_Async.m_usErrorText.GetNarrow();
    EXPECT_EQ(again.m_iOutRows, 120);
    FPixmap* first = preview.m_pOutputImage->GetPixmap();
    FPixmap* second = again.m_pOutputImage->GetPixmap();
    int differences = 0;
    for (int y = 0; y < 120; ++y)
        differences += std::memcmp(first->GetRowAddress(y), second->GetRowAddress(y), 160 * 4) != 0;
    EXPECT_EQ(differences, 0);
    EXPECT_EQ(again.m_rCrop, FRect(0, 0, 160, 120));
}

TEST_F(EndToEnd, ProcessedImagesFollowTheAdjustments)
{
    const FWideString file = MakeFile("processed.xxx", 21);
    SKIP_UNLESS_PROCESSING(file);
    FIPManagerRequest plain;
    PrepareProcessed(plain, file, kCols, kRows, kDisplay);
    Develop(plain);
    FPixmap* pixmap = plain.m_pOutputImage->GetPixmap();
    ASSERT_EQ(pixmap->GetCols(), kCols);
    ASSERT_EQ(pixmap->GetRows(), kRows);
    const double mean = MeanLuminance(*pixmap);
    EXPECT_GT(mean, 5.0);
    EXPECT_LT(mean, 250.0);

    FIPManagerRequest brighter;
    PrepareProcessed(brighter, file, kCols, kRows, kDisplay);
    brighter.m_dExposure = 1.0;
    Develop(brighter);
    EXPECT_GT(MeanLuminance(*brighter.m_pOutputImage->GetPixmap()), mean + 5.0);

    // The same request again gives the same pixels (from the cache).
    FIPManagerRequest again;
    PrepareProcessed(again, file, kCols, kRows, kDisplay);
    Develop(again);
    FPixmap* second = again.m_pOutputImage->GetPixmap();
    int differences = 0;
    for (int y = 0; y < kRows; ++y)
        differences +=
            std::memcmp(pixmap->GetRowAddress(y), second->GetRowAddress(y), size_t(kCols) * 4) != 0;
    EXPECT_EQ(differences, 0);
}

TEST_F(EndToEnd, AutomaticSettingsGrayBalanceAndIlluminants)
{
    const FWideString file = MakeFile("auto.xxx", 31);
    SKIP_UNLESS_PROCESSING(file);
    FIPManagerRequest automatic;
    PrepareProcessed(automatic, file, kCols, kRows, kDisplay);
    automatic.m_eKind = kReqAutoSet;
    Develop(automatic);

    FIPManagerRequest gray;
    PrepareProcessed(gray, file, kCols, kRows, kDisplay);
    gray.m_eKind = kReqGetGrayBalance;
    // The middle of the capture's grey card: it needs nearly equal gains.
    const FSyntheticCapture capture = MakeSyntheticCapture(kCols, kRows, 31);
    gray.m_ptGray.x = (capture.greyCard.left + capture.greyCard.right) / 2;
    gray.m_ptGray.y = (capture.greyCard.top + capture.greyCard.bottom) / 2;
    Develop(gray);
    double lo = 1e9, hi = 0.0;
    for (double gain : gray.m_adColorAdjust) {
        lo = std::min(lo, gain);
        hi = std::max(hi, gain);
    }
    EXPECT_GT(lo, 0.0);
    EXPECT_LT(hi / lo, 1.3);

    FIPManagerRequest illuminants;
    PrepareProcessed(illuminants, file, kCols, kRows, kDisplay);
    illuminants.m_eKind = kReqIlluminants;
    Develop(illuminants);
}

TEST_F(EndToEnd, HeaderChangeTurnsTheProcessedImage)
{
    const FWideString file = MakeFile("turn.xxx", 41);
    SKIP_UNLESS_PROCESSING(file);
    FIPManagerRequest modify;
    PrepareProperties(modify, file);
    modify.m_eKind = kReqModify;
    modify.m_pImageProps->AddProp("ROTATION", "+90");
    Develop(modify);

    FIPManagerRequest props;
    PrepareProperties(props, file);
    Develop(props);
    EXPECT_EQ(props.m_pImageProps->GetInt("ROTATION", 0), 90);
    EXPECT_EQ(props.m_pImageProps->GetInt("COLS", 0), kRows);

    FIPManagerRequest turned;
    PrepareProcessed(turned, file, kRows, kCols, kDisplay);
    Develop(turned);
    EXPECT_EQ(turned.m_pOutputImage->GetPixmap()->GetCols(), kRows);
    EXPECT_EQ(turned.m_pOutputImage->GetPixmap()->GetRows(), kCols);
}

TEST_F(EndToEnd, SavesInEverySpaceReadBackEverywhere)
{
    const FWideString file = MakeFile("save.xxx", 51);
    SKIP_UNLESS_PROCESSING(file);
    const bool tools = HasTool("djpeg") && HasTool("tiffinfo") && HasTool("exiftool");
    struct Kind {
        int fileType;
        int format;
        const char* ext;
    } kinds[] = {{kSaveJPEG, kRGB24, ".jpg"}, {kSaveTIFF, kRGB24, ".tif"}, {kSaveTIFF, kRGB48, ".tif"}};
    for (const Space& space : kSpaces) {
        for (const Kind& kind : kinds) {
            const std::string name =
                "out-" + std::to_string(space.index) + "-" + std::to_string(kind.format) + kind.ext;
            SCOPED_TRACE(name);
            FIPManagerRequest save;
            PrepareSave(save, file, m_pFolder->URL(name), kind.fileType, kind.format, space.index, kCols,
                        kRows);
            Develop(save);
            const std::string path = m_pFolder->NativePath(name);
            int cols = 0, rows = 0, type = 0;
            if (kind.fileType == kSaveJPEG) {
                FJPEGImageReader reader(save.m_usOutputFile);
                reader.GetDimensions(cols, rows, type);
            } else {
                FTiffImageReader reader(save.m_usOutputFile);
                reader.GetDimensions(cols, rows, type);
                EXPECT_EQ(type, kind.format == kRGB48 ? FPixmap::PIXEL_48_RGB : FPixmap::PIXEL_24_RGB);
            }
            EXPECT_EQ(cols, kCols);
            EXPECT_EQ(rows, kRows);
            const std::vector<uint8_t> profile =
                kind.fileType == kSaveJPEG ? JpegProfile(ReadAll(path)) : TiffProfile(path);
            if (kind.fileType == kSaveJPEG && space.index == 2) {
                EXPECT_TRUE(profile.empty());
            } else {
                ExpectProfileOf(profile, space);
            }
            if (!tools)
                continue;
            int status = 0;
            if (kind.fileType == kSaveJPEG)
                RunTool("djpeg -ppm '" + path + "' > /dev/null 2>&1", status);
            else
                RunTool("tiffinfo '" + path + "' > /dev/null 2>&1", status);
            EXPECT_EQ(status, 0);
            const std::string exif = RunTool("exiftool -s3 -ImageWidth -ImageHeight '" + path + "'", status);
            EXPECT_EQ(status, 0);
            EXPECT_NE(exif.find(std::to_string(kCols)), std::string::npos) << exif;
            if (!profile.empty()) {
                const std::string desc = RunTool("exiftool -s3 -ProfileDescription '" + path + "'", status);
                EXPECT_NE(desc.find(space.description), std::string::npos) << desc;
            }
        }
    }
}

TEST_F(EndToEnd, StripWrittenTiffEqualsAWholeRender)
{
    const FWideString file = MakeFile("strips.xxx", 61);
    SKIP_UNLESS_PROCESSING(file);
    // A crop from the top equals the render in every row. A crop below the top is rendered
    // in strips with two rows above it as neighbours for the filters, where a render of the
    // crop alone has its edge: its first two rows may differ, all the others are equal.
    struct Case {
        int format;
        FRect crop;
        int firstEqualRow;
    } cases[] = {
        {kRGB48, FRect(7, 0, 301, 229), 0},
        {kRGB24, FRect(7, 0, 301, 229), 0},
        {kRGB48, FRect(7, 13, 301, 229), 2},
    };
    for (const Case& c : cases) {
        const int format = c.format;
        const FRect crop = c.crop;
        SCOPED_TRACE(std::to_string(format) + " crop top " + std::to_string(crop.top));
        FIPManagerRequest render;
        PrepareProcessed(render, file, kCols, kRows, format);
        render.m_rCrop = crop;
        render.m_iColorSpace = 3;
        Develop(render);
        FPixmap* whole = render.m_pOutputImage->GetPixmap();

        const std::string name = "strips" + std::to_string(&c - cases) + ".tif";
        FIPManagerRequest save;
        PrepareSave(save, file, m_pFolder->URL(name), kSaveTIFF, format, 3, kCols, kRows);
        save.m_rCrop = crop;
        Develop(save);
        FTiffImageReader reader(save.m_usOutputFile);
        int cols = 0, rows = 0, type = 0;
        reader.GetDimensions(cols, rows, type);
        ASSERT_EQ(cols, whole->GetCols());
        ASSERT_EQ(rows, whole->GetRows());
        std::vector<uint8_t> bytes(size_t(cols) * rows * 6);
        FPixmap* read = NewFPixmap(type, bytes.data(), cols, rows, cols * GetPixelTypeBytesPerPixel(type));
        reader.ReadImage(*read);
        std::string differing;
        const size_t rowBytes = size_t(cols) * GetPixelTypeBytesPerPixel(type);
        for (int y = c.firstEqualRow; y < rows; ++y) {
            if (std::memcmp(read->GetRowAddress(y), whole->GetRowAddress(y), rowBytes) == 0)
                continue;
            int worst = 0, count = 0;
            for (size_t i = 0; i < rowBytes; ++i) {
                const int d = std::abs(int(read->GetRowAddress(y)[i]) - int(whole->GetRowAddress(y)[i]));
                worst = std::max(worst, d);
                count += d != 0;
            }
            differing += " row " + std::to_string(y) + " (" + std::to_string(count) + " bytes, up to " +
                         std::to_string(worst) + ")";
        }
        delete read;
        EXPECT_TRUE(differing.empty()) << "rows that differ:" << differing;
    }
}

TEST_F(EndToEnd, CancelledSaveLeavesTheOldFileAlone)
{
    // Tall enough for ten strips, so that a cancel can come between two of them.
    DevelopableRawOptions options;
    options.cols = 320;
    options.rows = 960;
    options.seed = 71;
    const FWideString file = MakeFile("cancel.xxx", options);
    SKIP_UNLESS_PROCESSING(file);
    // A cancel posted before the request always ends it cancelled (posted just after, it can
    // lose to a save of a cached image that ends inside the call). A cancel at half way races
    // the last strips, which may all be written in one pass; either way the old file stays
    // whole until a complete new one replaces it, and nothing is left beside it.
    for (double cancelAt : {-1.0, 0.5}) {
        SCOPED_TRACE(cancelAt);
        m_pFolder->Write("kept.jpg", rawtest::Bytes{'o', 'l', 'd'});
        FIPManagerRequest save;
        PrepareSave(save, file, m_pFolder->URL("kept.jpg"), kSaveJPEG, kRGB24, 2, 320, 960);
        FIPManagerPool* pool = GetIPManagerPool();
        if (cancelAt < 0.0)
            save.m_Async.RequestCancel();
        pool->Request(&save);
        ASSERT_TRUE(TickUntil([&] { return !save.m_Async.IsInProgress(); },
                              [&] {
                                  if (save.m_Async.GetProgress() > cancelAt)
                                      save.m_Async.RequestCancel();
                                  pool->Idle();
                              },
                              std::chrono::seconds(60)));
        const rawtest::Bytes kept = m_pFolder->Read("kept.jpg");
        if (cancelAt < 0.0 || save.m_Async.GetState() != kCompleted) {
            EXPECT_EQ(save.m_Async.GetState(), kCancelled) << save.m_Async.m_usErrorText.GetNarrow();
            EXPECT_EQ(std::string(kept.begin(), kept.end()), "old");
        } else {
            ASSERT_GE(kept.size(), 4u);
            EXPECT_EQ(kept[0], 0xFF);
            EXPECT_EQ(kept[1], 0xD8);
            EXPECT_EQ(kept[kept.size() - 2], 0xFF);
            EXPECT_EQ(kept[kept.size() - 1], 0xD9);
        }
        for (const auto& entry : std::filesystem::directory_iterator(m_pFolder->NativePath(""))) {
            const std::string name = entry.path().filename().string();
            EXPECT_TRUE(name == "kept.jpg" || name == "cancel.xxx") << "left behind: " << name;
        }
    }
}
