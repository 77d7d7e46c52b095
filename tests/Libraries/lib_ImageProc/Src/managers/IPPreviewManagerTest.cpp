#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "BribFileBuilder.h"
#include "EngineTestSupport.h"
#include "FCache.h"
#include "FDataRetriever.h"
#include "FDebugTrace.h"
#include "FIPEngine2.h"
#include "FIPMImage.h"
#include "FImage.h"
#include "FJPEGImageReader.h"
#include "FPixmap.h"
#include "FPropList.h"
#include "FakeParentManager.h"
#include "HostileJPEG.h"
#include "IPPreviewManager.h"
#include "LoaderTestFiles.h"

#include <tiffio.h>

namespace
{

struct EmbeddedImage {
    int cols;
    int rows;
    uint8_t blue;      // marks which image was read
    int imageType = 2; // 2: preview (kind code 4)
    bool noisy = false;
};

// Red rises left to right and green top to bottom over every image, so that pictures
// scaled from any of them agree.
rawtest::Bytes MakePreviewRaw(const std::vector<EmbeddedImage>& images)
{
    rawtest::BribFileBuilder file(rawtest::kVersion22);
    file.GetHeader().columns = 1536;
    file.GetHeader().rows = 1024;
    for (const EmbeddedImage& image : images) {
        rawtest::ImageSection section;
        section.imageType = uint32_t(image.imageType);
        section.pixelFormat = 3;
        section.columns = uint32_t(image.cols);
        section.rows = uint32_t(image.rows);
        section.rowSize = uint32_t(image.cols * 3);
        uint32_t seed = 12345;
        for (int y = 0; y < image.rows; ++y)
            for (int x = 0; x < image.cols; ++x) {
                uint8_t red = uint8_t(x * 255 / (image.cols - 1));
                if (image.noisy) {
                    seed = seed * 1103515245u + 12345u;
                    red = uint8_t((seed >> 16) & 0xFF);
                }
                section.payload.push_back(red);
                section.payload.push_back(uint8_t(y * 255 / (image.rows - 1)));
                section.payload.push_back(image.blue);
            }
        file.Top().AddImage(section);
    }
    return file.Build();
}

class IPPreviewManagerTest : public FEngineTest
{
protected:
    void SetUp() override
    {
        FEngineTest::SetUp();
        m_pRetriever.reset(CreateDataRetriever());
        m_pEngine = std::make_unique<FIPEngine2>();
        m_pManager = std::make_unique<IPPreviewManager>(&m_parent, m_pRetriever.get(), m_pEngine.get());
    }
    void TearDown() override
    {
        m_pManager.reset();
        m_pEngine.reset();
        m_pRetriever.reset();
        FEngineTest::TearDown();
    }

    void Props(const std::string& uniqueId, int rotation, bool processable)
    {
        m_parent.m_props = {{"ROTATION", std::to_string(rotation)}, {"PROCESSABLE", processable ? "1" : "0"}};
        if (!uniqueId.empty())
            m_parent.m_props.push_back({"UNIQUEID", uniqueId});
    }

    void Prepare(FIPManagerRequest& req, const FWideString& url, int cols, int rows, FRect crop)
    {
        req.Reset();
        req.m_eKind = kReqPreview;
        req.m_eOutputFormat = kDisplay;
        req.m_usFileName = url;
        req.m_iOutCols = cols;
        req.m_iOutRows = rows;
        req.m_rCrop = crop;
    }

    bool Run(FIPManagerRequest& req)
    {
        m_pManager->Request(&req);
        return RunSubManager(*m_pManager, m_parent, req);
    }

    static const uint8_t* Pixel(FIPManagerRequest& req, int x, int y)
    {
        return req.m_pOutputImage->GetPixmap()->GetRowAddress(y) + 4 * x;
    }

    FFakeParentManager m_parent;
    std::unique_ptr<FIDataRetriever> m_pRetriever;
    std::unique_ptr<FIPEngine2> m_pEngine;
    std::unique_ptr<IPPreviewManager> m_pManager;
};

} // namespace

TEST_F(IPPreviewManagerTest, RefusesOtherRequests)
{
    struct Case {
        int kind;
        int format;
        int error;
        const char* text;
    } cases[] = {
        {kReqProcessed, kDisplay, kErrUnsupported, "IPPreviewManager can only handle Preview requests."},
        {kReqPreview, kRGB24, kErrInvalid,
         "IPPreviewManager: cannot process a preview for non-display output format."},
    };
    for (const Case& c : cases) {
        FIPManagerRequest req;
        Prepare(req, "ldrmem://none.xxx", 160, 160, FRect(0, 0, 160, 160));
        req.m_eKind = c.kind;
        req.m_eOutputFormat = c.format;
        m_pManager->Request(&req);
        EXPECT_EQ(req.m_Async.GetState(), kError);
        EXPECT_EQ(req.m_Async.GetErrorCode(), c.error);
        EXPECT_TRUE(req.m_Async.m_usErrorText == c.text) << c.text;
    }
    m_parent.m_bDeferred = true;
    FIPManagerRequest first;
    Prepare(first, "ldrmem://none.xxx", 160, 160, FRect(0, 0, 160, 160));
    m_pManager->Request(&first);
    FIPManagerRequest second;
    Prepare(second, "ldrmem://none.xxx", 160, 160, FRect(0, 0, 160, 160));
    m_pManager->Request(&second);
    EXPECT_EQ(second.m_Async.GetErrorCode(), kErrBusy);
    EXPECT_TRUE(second.m_Async.m_usErrorText == "IPPreviewManager is busy.");
    // Destroyed while working: the request ends cancelled.
    m_pManager.reset();
    EXPECT_EQ(first.m_Async.GetState(), kCancelled);
}

TEST_F(IPPreviewManagerTest, FitsTheChosenImageAndAnswersAgainFromTheCache)
{
    const FWideString url = loadertest::PutFile("fit.xxx", MakePreviewRaw({{1536, 1024, 77}}));
    Props("", 0, false);
    FIPManagerRequest req;
    Prepare(req, url, 160, 160, FRect(0, 0, 160, 160));
    ASSERT_TRUE(Run(req));
    ASSERT_EQ(req.m_Async.GetState(), kCompleted) << req.m_Async.m_usErrorText.GetNarrow();
    EXPECT_EQ(req.m_iOutCols, 160);
    EXPECT_EQ(req.m_iOutRows, 106);
    EXPECT_EQ(req.m_rCrop, FRect(0, 0, 160, 106));
    FPixmap* pixmap = req.m_pOutputImage->GetPixmap();
    ASSERT_EQ(pixmap->GetCols(), 160);
    ASSERT_EQ(pixmap->GetRows(), 106);
    EXPECT_NEAR(Pixel(req, 80, 53)[2], 128, 4); // red at the middle
    EXPECT_NEAR(Pixel(req, 80, 53)[1], 128, 4); // green
    EXPECT_EQ(Pixel(req, 80, 53)[0], 77);
    EXPECT_TRUE(req.m_pOutputImage->GetProperties()->GetString("Filename", "") == url);
    EXPECT_EQ(req.m_pOutputImage->GetHistogram()->GetCount(), 160u * 106u);

    bool labelled = false;
    for (const FWideString& label : GetGlobalCache()->GetLabels())
        labelled |= label == "ldrmem://fit.xxx-NO-UNIQUEID-IPManagerPreview-160x160-0x0x160x160,0";
    EXPECT_TRUE(labelled);

    // The same request again is answered without reading the file, which is now unreadable.
    loadertest::PutFile("fit.xxx", rawtest::Bytes(64, 0x55));
    FIPManagerRequest again;
    Prepare(again, url, 160, 160, FRect(0, 0, 160, 160));
    ASSERT_TRUE(Run(again));
    ASSERT_EQ(again.m_Async.GetState(), kCompleted) << again.m_Async.m_usErrorText.GetNarrow();
    EXPECT_EQ(again.m_iOutRows, 106);
    EXPECT_EQ(again.m_rCrop, FRect(0, 0, 160, 106));
    EXPECT_EQ(Pixel(again, 80, 53)[0], 77);
}

TEST_F(IPPreviewManagerTest, ReadsTheSmallestImageThatCoversTheCrop)
{
    struct Case {
        std::vector<EmbeddedImage> images;
        int box;
        uint8_t chosen; // blue of the image read
    } cases[] = {
        {{{1536, 1024, 10}, {640, 426, 20}, {320, 213, 30}}, 160, 30},
        {{{320, 213, 30}, {1536, 1024, 10}, {640, 426, 20}}, 160, 30},
        {{{320, 213, 30}, {200, 133, 40}}, 400, 30},
        {{{100, 66, 50, 1}, {320, 213, 30}}, 160, 30},
    };
    int n = 0;
    for (const Case& c : cases) {
        SCOPED_TRACE(n);
        const std::string name = "choice" + std::to_string(n++) + ".xxx";
        const FWideString url = loadertest::PutFile(name, MakePreviewRaw(c.images));
        Props(name, 0, false);
        FIPManagerRequest req;
        Prepare(req, url, c.box, c.box, FRect(0, 0, c.box, c.box));
        ASSERT_TRUE(Run(req));
        ASSERT_EQ(req.m_Async.GetState(), kCompleted) << req.m_Async.m_usErrorText.GetNarrow();
        EXPECT_EQ(Pixel(req, 5, 5)[0], c.chosen);
    }
}

TEST_F(IPPreviewManagerTest, FailuresOfChoiceAndCrop)
{
    const FWideString none =
        loadertest::PutFile("none.xxx", MakePreviewRaw({{320, 213, 1, 1}, {320, 213, 1, 0}}));
    const FWideString some = loadertest::PutFile("some.xxx", MakePreviewRaw({{1536, 1024, 5}}));
    struct Case {
        FWideString url;
        FRect crop;
        int error;
        const char* text;
    } cases[] = {
        {none, FRect(0, 0, 160, 160), kErrNoPreview, "No preview images found in image file"},
        {some, FRect(0, 0, 1, 160), kErrInvalid,
         "IPPreviewManager::priPreviewLoadImage: cropping rectangle is outside of image size."},
        {some, FRect(160, 0, 200, 100), kErrInvalid,
         "IPPreviewManager::priPreviewLoadImage: cropping rectangle is outside of image size."},
        {some, FRect(-5, 0, 100, 100), kErrInvalid,
         "IPPreviewManager::priPreviewLoadImage: cropping rectangle is outside of image size."},
        {"ldrmem://missing.xxx", FRect(0, 0, 160, 160), kErrFileNotFound, nullptr},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.crop.left);
        Props("", 0, false);
        FIPManagerRequest req;
        Prepare(req, c.url, 160, 160, c.crop);
        ASSERT_TRUE(Run(req));
        EXPECT_EQ(req.m_Async.GetState(), kError);
        EXPECT_EQ(req.m_Async.GetErrorCode(), c.error);
        if (c.text != nullptr) {
            EXPECT_TRUE(req.m_Async.m_usErrorText == c.text) << req.m_Async.m_usErrorText.GetNarrow();
        }
        EXPECT_EQ(req.m_pOutputImage, nullptr);
    }
}

TEST_F(IPPreviewManagerTest, TurnedFileGivesATurnedPreview)
{
    const FWideString url = loadertest::PutFile("turned.xxx", MakePreviewRaw({{1536, 1024, 9}}));
    Props("TURNED", 90, false);
    FIPManagerRequest req;
    Prepare(req, url, 160, 120, FRect(0, 0, 160, 120));
    ASSERT_TRUE(Run(req));
    ASSERT_EQ(req.m_Async.GetState(), kCompleted) << req.m_Async.m_usErrorText.GetNarrow();
    EXPECT_EQ(req.m_iOutCols, 80);
    EXPECT_EQ(req.m_iOutRows, 120);
    EXPECT_EQ(req.m_rCrop, FRect(0, 0, 80, 120));
    ASSERT_EQ(req.m_pOutputImage->GetPixmap()->GetCols(), 80);
    ASSERT_EQ(req.m_pOutputImage->GetPixmap()->GetRows(), 120);
    // The stored image's rows (green) now run along the columns, and its columns (red)
    // along the rows.
    const int greenLeft = Pixel(req, 2, 60)[1];
    const int greenRight = Pixel(req, 77, 60)[1];
    EXPECT_GT(std::abs(greenLeft - greenRight), 200);
    const int redTop = Pixel(req, 40, 2)[2];
    const int redBottom = Pixel(req, 40, 117)[2];
    EXPECT_GT(std::abs(redTop - redBottom), 200);
}

TEST_F(IPPreviewManagerTest, CropSmallerThanTheFittedImageDeliversThatPart)
{
    const FWideString url = loadertest::PutFile("part.xxx", MakePreviewRaw({{1536, 1024, 3}}));
    Props("PART", 0, false);
    FIPManagerRequest whole;
    Prepare(whole, url, 160, 160, FRect(0, 0, 160, 160));
    ASSERT_TRUE(Run(whole));
    ASSERT_EQ(whole.m_Async.GetState(), kCompleted);
    FIPManagerRequest part;
    Prepare(part, url, 160, 160, FRect(40, 20, 120, 80));
    ASSERT_TRUE(Run(part));
    ASSERT_EQ(part.m_Async.GetState(), kCompleted) << part.m_Async.m_usErrorText.GetNarrow();
    EXPECT_EQ(part.m_rCrop, FRect(40, 20, 120, 80));
    EXPECT_EQ(part.m_iOutCols, 160);
    EXPECT_EQ(part.m_iOutRows, 106);
    ASSERT_EQ(part.m_pOutputImage->GetPixmap()->GetCols(), 80);
    ASSERT_EQ(part.m_pOutputImage->GetPixmap()->GetRows(), 60);
    int worst = 0;
    for (int y = 0; y < 60; ++y)
        for (int x = 0; x < 80; ++x)
            for (int c = 0; c < 3; ++c)
                worst = std::max(worst, std::abs(Pixel(part, x, y)[c] - Pixel(whole, 40 + x, 20 + y)[c]));
    EXPECT_LE(worst, 3);
}

TEST_F(IPPreviewManagerTest, ChromaFilterOnlyForSmallImagesOfRawFiles)
{
    struct Case {
        int cols;
        int rows;
        bool processable;
        bool filtered;
    } cases[] = {
        {499, 500, true, true},
        {500, 500, true, false},
        {499, 500, false, false},
    };
    int n = 0;
    for (const Case& c : cases) {
        SCOPED_TRACE(n);
        const std::string name = "noise" + std::to_string(n++) + ".xxx";
        EmbeddedImage image{c.cols, c.rows, 128};
        image.noisy = true;
        const FWideString url = loadertest::PutFile(name, MakePreviewRaw({image}));
        FIPManagerRequest plain;
        Props(name + "-plain", 0, false);
        Prepare(plain, url, c.cols, c.rows, FRect(0, 0, c.cols, c.rows));
        ASSERT_TRUE(Run(plain));
        ASSERT_EQ(plain.m_Async.GetState(), kCompleted) << plain.m_Async.m_usErrorText.GetNarrow();
        FIPManagerRequest req;
        Props(name, 0, c.processable);
        Prepare(req, url, c.cols, c.rows, FRect(0, 0, c.cols, c.rows));
        ASSERT_TRUE(Run(req));
        ASSERT_EQ(req.m_Async.GetState(), kCompleted) << req.m_Async.m_usErrorText.GetNarrow();
        int differences = 0;
        for (int y = 0; y < c.rows; ++y)
            for (int x = 0; x < c.cols; ++x)
                differences += std::memcmp(Pixel(req, x, y), Pixel(plain, x, y), 3) != 0;
        EXPECT_EQ(differences > 0, c.filtered);
    }
}

TEST_F(IPPreviewManagerTest, JpegFilesArePreviewedAtAReducedScale)
{
    const FWideString url = loadertest::PutFile("photo.jpg", loadertest::MakeJPEG(1200, 800, false));
    Props("", 0, false);
    FIPManagerRequest req;
    Prepare(req, url, 160, 160, FRect(0, 0, 160, 160));
    ASSERT_TRUE(Run(req));
    ASSERT_EQ(req.m_Async.GetState(), kCompleted) << req.m_Async.m_usErrorText.GetNarrow();
    EXPECT_EQ(req.m_iOutCols, 160);
    EXPECT_EQ(req.m_iOutRows, 106);
}

// A compressed strip decodes only from its first row and a tile only as a whole; the
// thumbnail must not care how the file was stored.
TEST_F(IPPreviewManagerTest, CompressedAndTiledTiffsGiveTheThumbnailOfTheirPlainCopy)
{
    const struct {
        const char* name;
        loadertest::TiffOptions options;
        bool lossless;
    } cases[] = {
        {"lzw8.tif", {COMPRESSION_LZW, PHOTOMETRIC_RGB, 8, 5, 0, 0}, true},
        {"lzw16.tif", {COMPRESSION_LZW, PHOTOMETRIC_RGB, 16, 7, 0, 0}, true},
        {"deflate8t.tif", {COMPRESSION_ADOBE_DEFLATE, PHOTOMETRIC_RGB, 8, 0, 16, 0}, true},
        {"deflate16.tif", {COMPRESSION_ADOBE_DEFLATE, PHOTOMETRIC_RGB, 16, 3, 0, 0}, true},
        {"jpeg8.tif", {COMPRESSION_JPEG, PHOTOMETRIC_YCBCR, 8, 16, 0, 0}, false},
        {"jpeg8t.tif", {COMPRESSION_JPEG, PHOTOMETRIC_YCBCR, 8, 0, 32, 0}, false},
    };
    Props("", 0, false);
    auto preview = [&](const FWideString& url, std::vector<uint8_t>& pixels) {
        FIPManagerRequest req;
        Prepare(req, url, 160, 160, FRect(0, 0, 160, 160));
        if (!Run(req) || req.m_Async.GetState() != kCompleted)
            return std::string(req.m_Async.m_usErrorText.GetNarrow()) + " (not completed)";
        if (req.m_iOutCols != 160 || req.m_iOutRows != 106)
            return std::string("fitted to the wrong size");
        const FPixmap& p = *req.m_pOutputImage->GetPixmap();
        for (int y = 0; y < p.GetRows(); ++y)
            pixels.insert(pixels.end(), p.GetRowAddress(y), p.GetRowAddress(y) + 4 * p.GetCols());
        return std::string();
    };
    for (const auto& c : cases) {
        loadertest::TiffOptions plain;
        plain.bits = c.options.bits;
        const std::string plainName = std::string("plain-") + c.name;
        std::vector<uint8_t> expected, got;
        ASSERT_EQ(
            preview(loadertest::PutFile(plainName, loadertest::MakeTiffWith(600, 400, plain)), expected), "");
        EXPECT_EQ(preview(loadertest::PutFile(c.name, loadertest::MakeTiffWith(600, 400, c.options)), got),
                  "")
            << c.name;
        if (c.lossless) {
            EXPECT_EQ(got, expected) << c.name;
        }
    }
}

namespace
{

// A retriever whose one image loads until it is cancelled, and then ends as the real one
// ends a cancelled load: state 3 and no data object.
class StalledLoadRetriever : public FIDataRetriever
{
public:
    void Request(FDataRetrieverRequest* req) override
    {
        if (req->m_eKind == kRetrieveInfo && req->m_iSubKind == kInfoImageCount) {
            req->m_iArg = 1;
            req->m_Async.Complete();
        } else if (req->m_eKind == kRetrieveInfo) {
            req->m_aiResult[0] = 640;
            req->m_aiResult[1] = 426;
            req->m_aiResult[2] = 4;
            req->m_aiResult[3] = FPixmap::PIXEL_24_RGB;
            req->m_Async.Complete();
        } else {
            req->m_Async.SetState(kInProgress);
            m_pLoad = req;
        }
    }
    void Idle() override
    {
        if (m_pLoad != nullptr && m_pLoad->m_Async.IsCancelRequested()) {
            m_pLoad->m_aiResult[0] = 0;
            m_pLoad->m_Async.Cancel();
            m_pLoad = nullptr;
        }
    }

private:
    FDataRetrieverRequest* m_pLoad = nullptr;
};

} // namespace

TEST_F(IPPreviewManagerTest, LoadCancelledOnTheWayEndsWithoutAPreview)
{
    StalledLoadRetriever retriever;
    IPPreviewManager manager(&m_parent, &retriever, m_pEngine.get());
    Props("STALLED", 0, false);
    FIPManagerRequest req;
    Prepare(req, "ldrmem://stalled.xxx", 160, 160, FRect(0, 0, 160, 160));
    manager.Request(&req);
    for (int i = 0; i < 5; ++i)
        manager.Idle();
    ASSERT_EQ(manager.GetState(), 7);
    ASSERT_TRUE(req.m_Async.IsInProgress());
    req.m_Async.RequestCancel();
    ASSERT_TRUE(RunSubManager(manager, m_parent, req));
    EXPECT_EQ(req.m_Async.GetState(), kCancelled);
    EXPECT_EQ(req.m_pOutputImage, nullptr);
    for (const FWideString& label : GetGlobalCache()->GetLabels())
        EXPECT_EQ(label.Find(FWideString("IPManagerPreview")), nullptr) << label.GetNarrow();
}

namespace
{

rawtest::Bytes JpegPreviewRaw(const rawtest::Bytes& jpeg, int cols, int rows)
{
    rawtest::BribFileBuilder file(rawtest::kVersion22);
    file.GetHeader().columns = 1536;
    file.GetHeader().rows = 1024;
    rawtest::ImageSection section;
    section.imageType = 2;
    section.pixelFormat = 18;
    section.columns = uint32_t(cols);
    section.rows = uint32_t(rows);
    section.payload = jpeg;
    file.Top().AddImage(section);
    return file.Build();
}

} // namespace

// An embedded JPEG is decoded at the smallest scale that still covers the fitted size;
// shown at full size it is decoded and delivered exactly as before.
TEST_F(IPPreviewManagerTest, EmbeddedJpegDecodedAtTheSmallestScaleThatCoversTheBox)
{
    const rawtest::Bytes jpeg = loadertest::MakeJPEG(800, 600, false);
    struct Case {
        int box;
        int fittedRows;
        const char* frame; // the decoded frame's label ending
    } cases[] = {
        {800, 600, "-FileImage-0"},           {401, 300, "-FileImage-0"},
        {400, 300, "-FileImage-0-Reduced-1"}, {399, 299, "-FileImage-0-Reduced-1"},
        {200, 150, "-FileImage-0-Reduced-2"}, {100, 75, "-FileImage-0-Reduced-3"},
        {40, 30, "-FileImage-0-Reduced-3"},   {1000, 750, "-FileImage-0"},
    };
    int n = 0;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.box);
        GetGlobalCache()->SetSize(0);
        GetGlobalCache()->SetSize(FCache::kDefaultLimit);
        const std::string name = "jpeg" + std::to_string(n++) + ".xxx";
        const FWideString url = loadertest::PutFile(name, JpegPreviewRaw(jpeg, 800, 600));
        Props(name, 0, false);
        FIPManagerRequest req;
        Prepare(req, url, c.box, c.box, FRect(0, 0, c.box, c.box));
        ASSERT_TRUE(Run(req));
        ASSERT_EQ(req.m_Async.GetState(), kCompleted) << req.m_Async.m_usErrorText.GetNarrow();
        EXPECT_EQ(req.m_iOutRows, c.fittedRows);
        int frames = 0;
        for (const FWideString& label : GetGlobalCache()->GetLabels()) {
            const std::string text = label.GetNarrow();
            if (text.find("-FileImage-") == std::string::npos)
                continue;
            ++frames;
            EXPECT_EQ(text.substr(text.size() - std::strlen(c.frame)), c.frame) << text;
        }
        EXPECT_EQ(frames, 1);
    }

    // At full size every pixel is the full decode's.
    const FWideString url = loadertest::PutFile("jpegfull.xxx", JpegPreviewRaw(jpeg, 800, 600));
    Props("jpegfull.xxx", 0, false);
    FIPManagerRequest req;
    Prepare(req, url, 800, 600, FRect(0, 0, 800, 600));
    ASSERT_TRUE(Run(req));
    ASSERT_EQ(req.m_Async.GetState(), kCompleted) << req.m_Async.m_usErrorText.GetNarrow();
    FJPEGImageReader reader(jpeg.data(), jpeg.size());
    FImage decoded(800, 600, FPixmap::PIXEL_24_RGB, 4);
    reader.ReadImage(*decoded.GetPixmap());
    int differing = 0;
    for (int y = 0; y < 600; ++y)
        for (int x = 0; x < 800; ++x) {
            const uint8_t* rgb = decoded.GetPixmap()->GetRowAddress(y) + 3 * x;
            const uint8_t* bgra = Pixel(req, x, y);
            differing += rgb[0] != bgra[2] || rgb[1] != bgra[1] || rgb[2] != bgra[0];
        }
    EXPECT_EQ(differing, 0);
}

// A preview that would cost seconds and hundreds of megabytes is given up at once: the
// request fails, so the browser shows the file-type icon, and the log says why.
TEST_F(IPPreviewManagerTest, HostilePreviewsFailAtOnceWithANote)
{
    const rawtest::Bytes scans = jpegfixture::ManyScanJPEG(320, 240, 1000);
    const rawtest::Bytes huge =
        jpegfixture::WithDeclaredSize(jpegfixture::ManyScanJPEG(320, 240, 10), 12000, 9000);
    const struct {
        const char* name;
        rawtest::Bytes file;
        const char* note;
    } cases[] = {
        {"scans.xxx", JpegPreviewRaw(scans, 320, 240), "more than 100 scans"},
        {"huge.xxx", JpegPreviewRaw(huge, 12000, 9000), "MB of memory, more than the 160 MB allowed"},
        {"scans.jpg", scans, "more than 100 scans"},
        {"huge.jpg", huge, "MB of memory, more than the 160 MB allowed"},
    };
    for (const auto& c : cases) {
        FDebugTraceCapture capture;
        Props(c.name, 0, false);
        FIPManagerRequest req;
        Prepare(req, loadertest::PutFile(c.name, c.file), 160, 160, FRect(0, 0, 160, 160));
        ASSERT_TRUE(Run(req)) << c.name;
        EXPECT_EQ(req.m_Async.GetState(), kError) << c.name;
        EXPECT_EQ(req.m_pOutputImage, nullptr) << c.name;
        EXPECT_TRUE(capture.Contains("no preview of") && capture.Contains(c.note))
            << c.name << capture.GetText();
    }
}
