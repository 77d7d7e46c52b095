// The raw container loader: header properties, camera data, header modification and
// what a failing write leaves of the user's original file.

#include "LoaderTestFiles.h"
#include "LoaderTestSupport.h"

#include "ColorCompensation.h"
#include "FBribImageReader.h"
#include "FLatchStorageClass.h"
#include "FPropList.h"
#include "RawTestFolder.h"

#include <cstring>
#include <filesystem>
#include <string>

using namespace loadertest;

namespace
{

class RawLoaderTest : public FEngineTest
{
protected:
    void SetUp() override
    {
        FEngineTest::SetUp();
        UseLatchForMemFiles();
        m_pLoader.reset(CreateBRIbLoader());
    }

    // Runs one request of the type on the file; the list (if any) is the argument.
    FLoaderRequest& Run(const FWideString& url, int type, FPropList* list = nullptr)
    {
        m_request = std::make_unique<FLoaderRequest>();
        m_request->m_usFileURL = url;
        m_request->m_eType = type;
        m_request->SetList(list);
        EXPECT_TRUE(RunLoader(*m_pLoader, *m_request));
        return *m_request;
    }

    // Properties of a raw file made with the options.
    std::unique_ptr<FPropList> Properties(const RawOptions& options)
    {
        auto list = std::make_unique<FPropList>(nullptr, "props");
        const FLoaderRequest& req = Run(PutFile("p.bri", MakeRaw(options)), kLoaderProperties, list.get());
        EXPECT_EQ(req.m_Async.GetState(), kCompleted) << ErrorText(req.m_Async);
        return list;
    }

    // Posts a load of the 64 x 64 preview, runs `meanwhile` while its first read is held,
    // and returns the load's final state.
    int LoadWhileHeld(const char* name, const std::function<void(FLoaderRequest&)>& meanwhile)
    {
        OwnedPixmap target(FPixmap::PIXEL_24_RGB, 64, 64);
        FLoaderRequest load;
        load.m_usFileURL = LatchURL(name);
        load.m_eType = kLoaderImage;
        load.m_pTarget = target.m_pPixmap.get();
        GetLatchStorageClass().CloseLatch();
        m_pLoader->Request(&load);
        EXPECT_TRUE(GetLatchStorageClass().WaitForWaitingReads(1, std::chrono::seconds(10)));
        meanwhile(load);
        GetLatchStorageClass().OpenLatch();
        EXPECT_TRUE(WaitForLoader(*m_pLoader, load));
        return load.m_Async.GetState();
    }

    LoaderPtr m_pLoader;
    std::unique_ptr<FLoaderRequest> m_request;
};

// Names and values of the pairs whose names start with the prefix, in list order.
std::vector<std::pair<std::string, std::string>> PairsStartingWith(const FPropList& list, const char* prefix)
{
    std::vector<std::pair<std::string, std::string>> pairs;
    for (FPropPair* pair = list.GetFirstProp(); pair; pair = pair->GetNext()) {
        const std::string name = pair->GetName().GetNarrow();
        if (name.rfind(prefix, 0) == 0)
            pairs.emplace_back(name, pair->GetValue().GetNarrow());
    }
    return pairs;
}

std::string Prop(const FPropList& list, const char* name)
{
    return list.GetString(FWideString(name), FWideString("<none>")).GetNarrow();
}

TEST_F(RawLoaderTest, WhiteBalanceDescriptionsFromSectionAndHeader)
{
    using Pairs = std::vector<std::pair<std::string, std::string>>;
    struct Case {
        const char* m_pszSection; // null: no pair in the property section
        const char* m_pszLabel;
        Pairs m_expected;
    };
    const Case cases[] = {
        {"Daylight", "Custom1", {{"WB_DESC_ORIG", "Daylight"}, {"WB_DESC", "Custom1"}}},
        {"Daylight", "", {{"WB_DESC_ORIG", "Daylight"}, {"WB_DESC", "Daylight"}}},
        {nullptr, "Flash", {{"WB_DESC", "Flash"}, {"WB_DESC_ORIG", "Auto"}}},
        {nullptr, "", {}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.m_pszSection ? c.m_pszSection : "-") + " / " + c.m_pszLabel);
        RawOptions options;
        options.label = c.m_pszLabel;
        options.properties = {{"ISO", "100"}};
        if (c.m_pszSection)
            options.properties.push_back({"WB_DESC", c.m_pszSection});
        options.properties.push_back({"LENS", "50"});
        const auto list = Properties(options);
        EXPECT_EQ(PairsStartingWith(*list, "WB_DESC"), c.m_expected);
        // The renamed pair keeps its place among the section's pairs.
        if (c.m_pszSection) {
            EXPECT_EQ(list->GetFirstProp()->GetNext()->GetName(), "WB_DESC_ORIG");
        }
    }
}

TEST_F(RawLoaderTest, QuarterTurnsSwapColumnsAndRows)
{
    struct Case {
        uint32_t m_uRotation;
        const char* m_pszCols;
        const char* m_pszRows;
    };
    for (const Case& c : {Case{0, "2268", "1512"}, Case{90, "1512", "2268"}, Case{180, "2268", "1512"},
                          Case{270, "1512", "2268"}}) {
        RawOptions options;
        options.rotation = c.m_uRotation;
        const auto list = Properties(options);
        EXPECT_EQ(Prop(*list, "COLS"), c.m_pszCols) << c.m_uRotation;
        EXPECT_EQ(Prop(*list, "ROWS"), c.m_pszRows) << c.m_uRotation;
        EXPECT_EQ(Prop(*list, "ROTATION"), std::to_string(c.m_uRotation));
        EXPECT_EQ(Prop(*list, "PROCESSABLE"), "1");
    }
}

TEST_F(RawLoaderTest, StoredAdjustmentsBecomeProperties)
{
    RawOptions options;
    options.slots = {{0, 1, 0.5f}, {3, 2, -1.25f}, {4, 3, 10},     {5, 4, 0},
                     {6, 5, 2},    {7, 6, 3},      {8, 10, 0.75f}, {9, 99, 7}};
    const auto list = Properties(options);
    EXPECT_EQ(Prop(*list, "rpExposureCompensation"), "0.5000");
    EXPECT_EQ(Prop(*list, "rpContrast"), "-1.2500");
    EXPECT_EQ(Prop(*list, "rpShadow"), "10.0000");
    EXPECT_EQ(Prop(*list, "rpHighlight"), "0.0000");
    EXPECT_EQ(Prop(*list, "rpSaturation"), "2.0000");
    EXPECT_EQ(Prop(*list, "rpSharpness"), "3.0000");
    EXPECT_EQ(Prop(*list, "rpFillFlash"), "0.7500");
    EXPECT_EQ(Prop(*list, "rpColorAdjust"), "<none>");
}

TEST_F(RawLoaderTest, ColourAdjustmentNeedsAllThreeGainsAndAZeroMeansNeutral)
{
    struct Case {
        std::vector<std::tuple<int, uint8_t, float>> m_slots;
        std::string m_expected;
    };
    const Case cases[] = {
        {{{2, 7, 1.0f}, {3, 8, 1.0f}}, "<none>"},
        {{{2, 7, 0.0f}, {3, 8, 1.2f}, {4, 9, 1.1f}}, RGBGainsToCCString(1.0, 1.0, 1.0)},
        {{{2, 7, 1.0f}, {3, 8, 0.5f}, {4, 9, 0.25f}}, RGBGainsToCCString(1.0, 0.5, 0.25)},
    };
    for (const Case& c : cases) {
        RawOptions options;
        options.slots = c.m_slots;
        EXPECT_EQ(Prop(*Properties(options), "rpColorAdjust"), c.m_expected);
    }
}

TEST_F(RawLoaderTest, UniqueIdIsThirtyTwoUpperCaseHexDigits)
{
    for (int type : {kLoaderProperties, kLoaderUniqueID}) {
        FPropList list(nullptr, "id");
        Run(PutFile("id.bri", MakeRaw({})), type, &list);
        EXPECT_EQ(Prop(list, "UNIQUEID"), "0F2031425364758697A8B9CADBECFD0E");
        EXPECT_EQ(Prop(list, "rpUniqueID"), "0F2031425364758697A8B9CADBECFD0E");
    }
}

TEST_F(RawLoaderTest, OlderContainerHasNoStoredAdjustmentsOrLabel)
{
    RawOptions options;
    options.version = rawtest::kVersion20;
    options.label = "Flash";
    options.slots = {{0, 1, 0.5f}};
    const auto list = Properties(options);
    EXPECT_EQ(Prop(*list, "rpExposureCompensation"), "<none>");
    EXPECT_EQ(Prop(*list, "WB_DESC"), "<none>");
}

TEST_F(RawLoaderTest, ImageSectionsAndCameraData)
{
    RawOptions options;
    options.camfileKind = 0;
    options.camfileSize = 300;
    const FWideString url = PutFile("c.bri", MakeRaw(options));
    EXPECT_EQ(Run(url, kLoaderImageCount).m_iArg, 1);

    const FLoaderRequest& info = Run(url, kLoaderImage);
    EXPECT_EQ(info.m_Async.GetState(), kCompleted);
    EXPECT_EQ(info.m_iColumns, 16);
    EXPECT_EQ(info.m_iRows, 8);
    EXPECT_EQ(info.m_iImageKind, kImageKindPreview);
    EXPECT_EQ(info.m_iPixelType, FPixmap::PIXEL_24_RGB);

    FLoaderRequest beyond;
    beyond.m_usFileURL = url;
    beyond.m_eType = kLoaderImage;
    beyond.m_iArg = 5;
    ASSERT_TRUE(RunLoader(*m_pLoader, beyond));
    EXPECT_EQ(beyond.m_Async.GetErrorCode(), kErrInvalid);
    EXPECT_EQ(ErrorText(beyond.m_Async), "BRIbLoader:LoadImage index 5");

    // Without a buffer only the size and kind come back.
    FLoaderRequest& size = Run(url, kLoaderCamfile);
    EXPECT_EQ(size.m_Async.GetState(), kCompleted);
    EXPECT_EQ(size.m_iArg, 300);
    EXPECT_EQ(size.m_iColumns, 1);

    std::vector<uint8_t> buffer(300);
    FLoaderRequest read;
    read.m_usFileURL = url;
    read.m_eType = kLoaderCamfile;
    read.SetBuffer(buffer.data());
    ASSERT_TRUE(RunLoader(*m_pLoader, read));
    EXPECT_EQ(read.m_Async.GetState(), kCompleted);
    EXPECT_EQ(buffer[299], uint8_t(299 * 13));

    FLoaderRequest& camb = Run(url, kLoaderCAMbCamfile);
    EXPECT_EQ(camb.m_Async.GetErrorCode(), kErrMissingImage);
    EXPECT_EQ(ErrorText(camb.m_Async), "BRIbLoader:LoadCamfile - no camfile of the requested type found.");

    options.camfileKind = -1;
    FLoaderRequest& none = Run(PutFile("n.bri", MakeRaw(options)), kLoaderCamfile);
    EXPECT_EQ(none.m_Async.GetErrorCode(), kErrMissingImage);
    EXPECT_EQ(ErrorText(none.m_Async), "BRIbLoader:LoadCamfile - no camfiles found in this file.");
}

// A cancel set while the load waits is seen by the reader: the load ends cancelled, even
// for a preview of one row that the reader gets in a single read (it looks at the cancel
// byte after every row, the last one included).
TEST_F(RawLoaderTest, CancelledImageLoadEndsCancelled)
{
    const struct {
        int cols;
        int rows;
    } cases[] = {{64, 64}, {16, 8}, {1, 1}};
    for (const auto& c : cases) {
        SCOPED_TRACE(std::to_string(c.cols) + "x" + std::to_string(c.rows));
        RawOptions options;
        options.previewCols = c.cols;
        options.previewRows = c.rows;
        const std::string name = "cancel" + std::to_string(c.cols) + ".bri";
        PutFile(name, MakeRaw(options));
        const int state =
            LoadWhileHeld(name.c_str(), [](FLoaderRequest& load) { load.m_Async.RequestCancel(); });
        EXPECT_EQ(state, kCancelled);
    }
}

// A section of image type 0 is never read: it would be reported loaded unread.
TEST_F(RawLoaderTest, SectionOfKindZeroIsNotReadIntoATarget)
{
    rawtest::BribFileBuilder file;
    rawtest::ImageSection section;
    section.imageType = 7;
    section.pixelFormat = 3;
    section.columns = 4;
    section.rows = 2;
    section.rowSize = 12;
    section.payload.assign(24, 1);
    file.Top().AddImage(section);
    const FWideString url = PutFile("kind0.bri", file.Build());
    EXPECT_EQ(Run(url, kLoaderImage).m_iImageKind, 0);
    OwnedPixmap target(FPixmap::PIXEL_24_RGB, 4, 2);
    FLoaderRequest load;
    load.m_usFileURL = url;
    load.m_eType = kLoaderImage;
    load.m_pTarget = target.m_pPixmap.get();
    ASSERT_TRUE(RunLoader(*m_pLoader, load));
    EXPECT_EQ(load.m_Async.GetErrorCode(), kErrInvalid);
}

// Bad files through each loader end in an error with the loader's text, never a crash.
TEST_F(RawLoaderTest, BadFilesThroughEachLoader)
{
    const rawtest::Bytes jpeg = MakeJPEG(32, 16, false);
    const rawtest::Bytes tiff = MakeTiff(32, 16);
    const rawtest::Bytes raw = MakeRaw({});
    auto truncated = [](const rawtest::Bytes& bytes) {
        return rawtest::Bytes(bytes.begin(), bytes.begin() + 20);
    };
    auto corrupt = [](rawtest::Bytes bytes) {
        for (size_t i = 0; i < 8; ++i)
            bytes[i] ^= 0x5A;
        return bytes;
    };
    struct Case {
        const char* m_pszName;
        FLoaderFactory m_pfnFactory;
        rawtest::Bytes m_bytes;
        int m_iError;
        const char* m_pszPrefix;
    };
    const Case cases[] = {
        {"empty.jpg", &CreateJPEGLoader, {}, kErrReaderFailed, "JPEGLoader: "},
        {"short.jpg", &CreateJPEGLoader, truncated(jpeg), kErrReaderFailed, "JPEGLoader: "},
        {"bad.jpg", &CreateJPEGLoader, corrupt(jpeg), kErrReaderFailed, "JPEGLoader: "},
        {"empty.tif", &CreateTiffLoader, {}, kErrFileNotFound, "ldrmem://empty.tif"},
        {"short.tif", &CreateTiffLoader, truncated(tiff), kErrFileNotFound, "ldrmem://short.tif"},
        {"bad.tif", &CreateTiffLoader, corrupt(tiff), kErrFileNotFound, "ldrmem://bad.tif"},
        {"empty.bri", &CreateBRIbLoader, {}, kErrException, "BRIbLoader: End-of-file"},
        {"short.bri", &CreateBRIbLoader, truncated(raw), kErrException, "BRIbLoader: End-of-file"},
        {"bad.bri", &CreateBRIbLoader, corrupt(raw), kErrReaderFailed, "BRIbLoader: This file is not a brib"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.m_pszName);
        LoaderPtr loader(c.m_pfnFactory());
        const FWideString url = PutFile(c.m_pszName, c.m_bytes);
        for (int type : {kLoaderImage, kLoaderProperties}) {
            FPropList list(nullptr, "props");
            OwnedPixmap target(FPixmap::PIXEL_24_RGB, 32, 16);
            FLoaderRequest req;
            req.m_usFileURL = url;
            req.m_eType = type;
            req.m_pTarget = target.m_pPixmap.get();
            req.SetList(&list);
            ASSERT_TRUE(RunLoader(*loader, req));
            EXPECT_EQ(req.m_Async.GetState(), kError);
            EXPECT_EQ(req.m_Async.GetErrorCode(), c.m_iError);
            EXPECT_EQ(ErrorText(req.m_Async).rfind(c.m_pszPrefix, 0), 0u) << ErrorText(req.m_Async);
        }
    }
}

// The file shrinks while the load thread waits to read it.
TEST_F(RawLoaderTest, FileThatShrinksDuringALoadEndsInAnError)
{
    RawOptions options;
    options.previewCols = 64;
    options.previewRows = 64;
    rawtest::RawTestFolder folder;
    folder.Write("shrink.bri", MakeRaw(options));
    FWideString prefix = folder.URL("x");
    prefix.DropRight(1);
    GetLatchStorageClass().SetTarget(prefix);
    const int state = LoadWhileHeld("shrink.bri", [&](FLoaderRequest&) {
        std::filesystem::resize_file(folder.NativePath("shrink.bri"), 300);
    });
    EXPECT_EQ(state, kError);
}

} // namespace
