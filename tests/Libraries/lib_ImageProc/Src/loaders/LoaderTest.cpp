// The loader pattern: which requests are answered, run on the caller's thread, posted
// to the load thread or refused; image loads; the exception-to-status table.

#include "LoaderTestFiles.h"
#include "LoaderTestSupport.h"

#include "FException.h"
#include "FLatchStorageClass.h"
#include "FLoaderMailbox.h"
#include "FPropList.h"
#include "FWinThread.h"
#include "RawTestFolder.h"

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <filesystem>
#include <thread>

using namespace loadertest;

namespace
{

enum class Route { Answered, Sync, Posted, Refused };

struct LoaderKind {
    const char* m_pszName;
    FLoaderFactory m_pfnFactory;
    const char* m_pszFile;
};

const LoaderKind kJPEG{"JPEGLoader", &CreateJPEGLoader, "t.jpg"};
const LoaderKind kTiff{"TiffLoader", &CreateTiffLoader, "t.tif"};
const LoaderKind kRaw{"BRIbLoader", &CreateBRIbLoader, "t.bri"};

// Targets start filled with 0xEE; a decoded gradient leaves few of those.
bool IsWritten(const OwnedPixmap& target)
{
    const auto untouched = std::count(target.m_bytes.begin(), target.m_bytes.end(), uint8_t(0xEE));
    return untouched < std::ptrdiff_t(target.m_bytes.size() / 8);
}

class LoaderTest : public FEngineTest
{
protected:
    void SetUp() override
    {
        FEngineTest::SetUp();
        UseLatchForMemFiles();
        PutFile("t.jpg", MakeJPEG(64, 32, false));
        PutFile("t.tif", MakeTiff(64, 32));
        RawOptions raw;
        raw.previewCols = 64;
        raw.previewRows = 32;
        PutFile("t.bri", MakeRaw(raw));
    }
};

struct RouteCase {
    const LoaderKind* m_pKind;
    int m_iType;
    bool m_bTarget;
    Route m_route;
    int m_iState;
    int m_iError;
    const char* m_pszText;
};

const RouteCase kRouteCases[] = {
    {&kJPEG, kLoaderImageCount, false, Route::Answered, kCompleted, 0, ""},
    {&kJPEG, kLoaderImage, true, Route::Posted, kCompleted, 0, ""},
    {&kJPEG, kLoaderImage, false, Route::Sync, kCompleted, 0, ""},
    {&kJPEG, kLoaderCamfile, false, Route::Refused, kError, 2,
     "JPEGLoader:Request - jpegs don't have camfiles."},
    {&kJPEG, kLoaderCAMbCamfile, false, Route::Refused, kError, 2, "JPEGLoader:Request - invalid request."},
    {&kJPEG, kLoaderProperties, false, Route::Sync, kCompleted, 0, ""},
    {&kJPEG, kLoaderModify, false, Route::Sync, kError, 2, "JPEGLoader:HandleRequest - invalid request."},
    {&kJPEG, kLoaderUniqueID, false, Route::Sync, kCompleted, 0, ""},
    {&kJPEG, 7, false, Route::Refused, kError, 2, "JPEGLoader:Request - invalid request."},
    {&kTiff, kLoaderImageCount, false, Route::Sync, kCompleted, 0, ""},
    {&kTiff, kLoaderImage, true, Route::Posted, kCompleted, 0, ""},
    {&kTiff, kLoaderImage, false, Route::Sync, kCompleted, 0, ""},
    {&kTiff, kLoaderCamfile, false, Route::Sync, kCompleted, 0, ""},
    {&kTiff, kLoaderCAMbCamfile, false, Route::Refused, kError, 2, "TiffLoader:Request - invalid request."},
    {&kTiff, kLoaderProperties, false, Route::Sync, kCompleted, 0, ""},
    {&kTiff, kLoaderModify, false, Route::Sync, kError, 2, "TiffLoader:HandleRequest - invalid request."},
    {&kTiff, kLoaderUniqueID, false, Route::Sync, kCompleted, 0, ""},
    {&kTiff, 7, false, Route::Refused, kError, 2, "TiffLoader:Request - invalid request."},
    {&kRaw, kLoaderImageCount, false, Route::Sync, kCompleted, 0, ""},
    {&kRaw, kLoaderImage, true, Route::Posted, kCompleted, 0, ""},
    {&kRaw, kLoaderImage, false, Route::Sync, kCompleted, 0, ""},
    {&kRaw, kLoaderCamfile, false, Route::Posted, kCompleted, 0, ""},
    {&kRaw, kLoaderCAMbCamfile, false, Route::Posted, kError, 3,
     "BRIbLoader:LoadCamfile - no camfile of the requested type found."},
    {&kRaw, kLoaderProperties, false, Route::Sync, kCompleted, 0, ""},
    {&kRaw, kLoaderModify, false, Route::Sync, kCompleted, 0, ""},
    {&kRaw, kLoaderUniqueID, false, Route::Sync, kCompleted, 0, ""},
    {&kRaw, 7, false, Route::Refused, kError, 2, "BRIbLoader:Request - invalid request."},
    {&kRaw, -1, false, Route::Refused, kError, 2, "BRIbLoader:Request - invalid request."},
};

class LoaderRouteTest : public LoaderTest, public ::testing::WithParamInterface<RouteCase>
{
};

// With the latch closed: an answered or refused request returns without reading; a
// synchronous one is held in the caller's own call; a posted one returns in progress
// while its read is held on the load thread.
TEST_P(LoaderRouteTest, RequestIsRoutedAsTheTableSays)
{
    const RouteCase& c = GetParam();
    SCOPED_TRACE(std::string(c.m_pKind->m_pszName) + " type " + std::to_string(c.m_iType));
    LoaderPtr loader(c.m_pKind->m_pfnFactory());
    ASSERT_TRUE(loader);
    FPropList list(nullptr, "list");
    list.AddProp("MARKBITS", "3");
    OwnedPixmap target(FPixmap::PIXEL_24_RGB, 64, 32);
    FLoaderRequest req;
    req.m_usFileURL = LatchURL(c.m_pKind->m_pszFile);
    req.m_eType = c.m_iType;
    if (c.m_iType == kLoaderProperties || c.m_iType == kLoaderModify || c.m_iType == kLoaderUniqueID)
        req.SetList(&list);
    if (c.m_bTarget)
        req.m_pTarget = target.m_pPixmap.get();

    FLatchStorageClass& latch = GetLatchStorageClass();
    latch.CloseLatch();
    std::atomic<bool> returned{false};
    std::thread caller([&] {
        loader->Request(&req);
        returned = true;
    });
    if (c.m_route == Route::Answered || c.m_route == Route::Refused) {
        caller.join();
        EXPECT_EQ(latch.GetReadCount(), 0);
    } else {
        ASSERT_TRUE(latch.WaitForWaitingReads(1, std::chrono::seconds(10)));
        const bool returnedWhileHeld = TickUntil(
            [&] { return returned.load(); }, [] { SleepMilliseconds(2); }, std::chrono::milliseconds(400));
        EXPECT_EQ(returnedWhileHeld, c.m_route == Route::Posted);
        if (returnedWhileHeld) {
            EXPECT_EQ(req.m_Async.GetState(), kInProgress);
        }
        latch.OpenLatch();
        caller.join();
    }
    ASSERT_TRUE(WaitForLoader(*loader, req));
    EXPECT_EQ(req.m_Async.GetState(), c.m_iState);
    EXPECT_EQ(req.m_Async.GetErrorCode(), c.m_iError);
    if (c.m_iState == kError) {
        EXPECT_EQ(ErrorText(req.m_Async), c.m_pszText);
    }
}

INSTANTIATE_TEST_SUITE_P(AllLoaders, LoaderRouteTest, ::testing::ValuesIn(kRouteCases));

TEST_F(LoaderTest, ImageCountOfJPEGNeedsNoFileButTiffDoes)
{
    LoaderPtr jpeg(CreateJPEGLoader());
    FLoaderRequest count;
    count.m_usFileURL = MemURL("missing.jpg");
    ASSERT_TRUE(RunLoader(*jpeg, count));
    EXPECT_EQ(count.m_Async.GetState(), kCompleted);
    EXPECT_EQ(count.m_iArg, 4);

    LoaderPtr tiff(CreateTiffLoader());
    FLoaderRequest missing;
    missing.m_usFileURL = MemURL("missing.tif");
    ASSERT_TRUE(RunLoader(*tiff, missing));
    EXPECT_EQ(missing.m_Async.GetErrorCode(), kErrFileNotFound);
    EXPECT_EQ(ErrorText(missing.m_Async), "ldrmem://missing.tif");
    FLoaderRequest present;
    present.m_usFileURL = MemURL("t.tif");
    ASSERT_TRUE(RunLoader(*tiff, present));
    EXPECT_EQ(present.m_iArg, 5);
}

TEST_F(LoaderTest, ImageIndexSelectsTheReduction)
{
    struct Case {
        const LoaderKind* m_pKind;
        int m_iIndex;
        int m_iCols;
        int m_iRows;
    };
    const Case cases[] = {
        {&kJPEG, 0, 64, 32}, {&kJPEG, 1, 32, 16}, {&kJPEG, 3, 8, 4},
        {&kJPEG, 4, 64, 32}, {&kJPEG, 7, 64, 32}, {&kJPEG, -2, 64, 32},
        {&kTiff, 2, 16, 8},  {&kTiff, 4, 4, 2},   {&kTiff, 5, 64, 32},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.m_pKind->m_pszName) + " index " + std::to_string(c.m_iIndex));
        LoaderPtr loader(c.m_pKind->m_pfnFactory());
        // Without a target only the description comes back.
        FLoaderRequest info;
        info.m_usFileURL = MemURL(c.m_pKind->m_pszFile);
        info.m_eType = kLoaderImage;
        info.m_iArg = c.m_iIndex;
        ASSERT_TRUE(RunLoader(*loader, info));
        EXPECT_EQ(info.m_Async.GetState(), kCompleted);
        EXPECT_EQ(info.m_iColumns, c.m_iCols);
        EXPECT_EQ(info.m_iRows, c.m_iRows);
        EXPECT_EQ(info.m_iImageKind, kImageKindPreview);
        EXPECT_EQ(info.m_iPixelType, FPixmap::PIXEL_24_RGB);

        OwnedPixmap target(FPixmap::PIXEL_24_RGB, c.m_iCols, c.m_iRows);
        FLoaderRequest load = FLoaderRequest();
        load.m_usFileURL = info.m_usFileURL;
        load.m_eType = kLoaderImage;
        load.m_iArg = c.m_iIndex;
        load.m_pTarget = target.m_pPixmap.get();
        ASSERT_TRUE(RunLoader(*loader, load));
        EXPECT_EQ(load.m_Async.GetState(), kCompleted) << ErrorText(load.m_Async);
        EXPECT_TRUE(IsWritten(target));
    }
}

TEST_F(LoaderTest, GrayJPEGReportsPixelTypeOne)
{
    PutFile("gray.jpg", MakeJPEG(16, 8, true));
    LoaderPtr loader(CreateJPEGLoader());
    FLoaderRequest info;
    info.m_usFileURL = MemURL("gray.jpg");
    info.m_eType = kLoaderImage;
    ASSERT_TRUE(RunLoader(*loader, info));
    EXPECT_EQ(info.m_iPixelType, FPixmap::PIXEL_8_MONO);
}

TEST_F(LoaderTest, SecondPostedLoadIsBusyAndTheFirstGoesOn)
{
    for (const LoaderKind* kind : {&kJPEG, &kTiff, &kRaw}) {
        SCOPED_TRACE(kind->m_pszName);
        LoaderPtr loader(kind->m_pfnFactory());
        OwnedPixmap first(FPixmap::PIXEL_24_RGB, 64, 32);
        OwnedPixmap second(FPixmap::PIXEL_24_RGB, 64, 32);
        FLoaderRequest a;
        a.m_usFileURL = LatchURL(kind->m_pszFile);
        a.m_eType = kLoaderImage;
        a.m_pTarget = first.m_pPixmap.get();
        FLoaderRequest b;
        b.m_usFileURL = a.m_usFileURL;
        b.m_eType = kLoaderImage;
        b.m_pTarget = second.m_pPixmap.get();

        GetLatchStorageClass().CloseLatch();
        loader->Request(&a);
        EXPECT_EQ(a.m_Async.GetState(), kInProgress);
        loader->Request(&b);
        EXPECT_EQ(b.m_Async.GetState(), kError);
        EXPECT_EQ(b.m_Async.GetErrorCode(), kErrBusy);
        EXPECT_EQ(ErrorText(b.m_Async), kind->m_pszName);
        GetLatchStorageClass().OpenLatch();
        ASSERT_TRUE(WaitForLoader(*loader, a));
        EXPECT_EQ(a.m_Async.GetState(), kCompleted);
        EXPECT_TRUE(IsWritten(first));
        EXPECT_FALSE(IsWritten(second));
    }
}

// At exit the loaders are destroyed while a slow decode may run: it ends at its next row
// instead of outliving its loader and holding up the exit.
TEST_F(LoaderTest, DestroyingALoaderEndsTheDecodeUnderWay)
{
    // About 1,000 blocks of 4096 bytes, each read held back a while.
    PutFile("slow.jpg", MakeJPEG(2400, 1600, false));
    FLatchStorageClass& latch = GetLatchStorageClass();
    const int threadsBefore = FLoaderMailbox::GetRunningThreadCount();
    LoaderPtr loader(CreateJPEGLoader());
    OwnedPixmap target(FPixmap::PIXEL_24_RGB, 2400, 1600);
    FLoaderRequest req;
    req.m_usFileURL = LatchURL("slow.jpg");
    req.m_eType = kLoaderImage;
    req.m_pTarget = target.m_pPixmap.get();
    latch.SetReadDelay(std::chrono::milliseconds(20));
    loader->Request(&req);
    ASSERT_TRUE(TickUntil([&] { return latch.GetReadCount() >= 3; }, [] {}));
    loader.reset();
    EXPECT_EQ(FLoaderMailbox::GetRunningThreadCount(), threadsBefore);
    EXPECT_EQ(req.m_Async.GetState(), kCancelled);
    // A decode that went on must be done with the request before it goes.
    latch.ResetControls();
    TickUntil([&] { return FLoaderMailbox::GetRunningThreadCount() <= threadsBefore; }, [] {},
              std::chrono::seconds(60));
}

TEST_F(LoaderTest, NullPropertyListIsRefusedForPropertiesAndIdentity)
{
    for (const LoaderKind* kind : {&kJPEG, &kTiff, &kRaw}) {
        for (int type : {kLoaderProperties, kLoaderUniqueID}) {
            SCOPED_TRACE(std::string(kind->m_pszName) + " type " + std::to_string(type));
            LoaderPtr loader(kind->m_pfnFactory());
            FLoaderRequest req;
            req.m_usFileURL = MemURL(kind->m_pszFile);
            req.m_eType = type;
            ASSERT_TRUE(RunLoader(*loader, req));
            EXPECT_EQ(req.m_Async.GetErrorCode(), kErrInvalid);
            EXPECT_EQ(ErrorText(req.m_Async),
                      std::string(kind->m_pszName) + ": Property list pointer is NULL");
        }
    }
}

TEST_F(LoaderTest, JPEGAndTiffPropertiesEndWithSizeProcessableAndIdentity)
{
    for (const LoaderKind* kind : {&kJPEG, &kTiff}) {
        SCOPED_TRACE(kind->m_pszName);
        LoaderPtr loader(kind->m_pfnFactory());
        FPropList list(nullptr, "props");
        FLoaderRequest req;
        req.m_usFileURL = MemURL(kind->m_pszFile);
        req.m_eType = kLoaderProperties;
        req.SetList(&list);
        ASSERT_TRUE(RunLoader(*loader, req));
        ASSERT_EQ(req.m_Async.GetState(), kCompleted) << ErrorText(req.m_Async);
        EXPECT_EQ(req.m_iColumns, 64);
        EXPECT_EQ(req.m_iRows, 32);
        EXPECT_EQ(list.GetInt(FWideString("COLS"), 0), 64);
        EXPECT_EQ(list.GetInt(FWideString("ROWS"), 0), 32);
        EXPECT_EQ(list.GetString(FWideString("PROCESSABLE"), FWideString()), "0");
        char expected[32];
        std::snprintf(expected, sizeof(expected), "%X-", unsigned(GetFile(kind->m_pszFile).size()));
        const std::string id = list.GetString(FWideString("UNIQUEID"), FWideString()).GetNarrow();
        EXPECT_EQ(id.rfind(expected, 0), 0u) << id;
    }
}

// Only the low 32 bits of the size enter the identity.
TEST_F(LoaderTest, IdentityOfAFileBeyondFourGigabytes)
{
    rawtest::RawTestFolder folder;
    folder.Write("huge.jpg", MakeJPEG(8, 8, true));
    std::filesystem::resize_file(folder.NativePath("huge.jpg"), 5ull << 30);
    LoaderPtr loader(CreateJPEGLoader());
    FPropList list(nullptr, "id");
    FLoaderRequest req;
    req.m_usFileURL = folder.URL("huge.jpg");
    req.m_eType = kLoaderUniqueID;
    req.SetList(&list);
    ASSERT_TRUE(RunLoader(*loader, req));
    ASSERT_EQ(req.m_Async.GetState(), kCompleted) << ErrorText(req.m_Async);
    const std::string id = list.GetString(FWideString("UNIQUEID"), FWideString()).GetNarrow();
    EXPECT_EQ(id.rfind("40000000-", 0), 0u) << id;
}

// What escapes a request's handling becomes its status.
TEST(LoaderExceptionTable, EachKindOfFailureGetsItsStatus)
{
    struct Case {
        const char* m_pszWhat;
        std::function<void()> m_throw;
        int m_iError;
        const char* m_pszText;
    };
    const Case cases[] = {
        {"not found", [] { throw FExceptionFileNotFound("gone"); }, kErrFileNotFound, "ldrmem://x.jpg"},
        {"family", [] { throw FExceptionJPEGPixmapTooSmall("small"); }, kErrReaderFailed,
         "JPEGLoader: Pixmap too small. (small)"},
        {"other", [] { throw FExceptionFileRead("short"); }, kErrException,
         "JPEGLoader: File read failed (short)"},
        {"memory", [] { throw std::bad_alloc(); }, kErrOutOfMemory, "JPEGLoader: out of memory"},
        {"unknown", [] { throw 42; }, kErrException, "JPEGLoader: unknown exception"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.m_pszWhat);
        FLoaderRequest req;
        req.m_usFileURL = MemURL("x.jpg");
        StartRequest(req.m_Async);
        HandleGuarded(
            req, "JPEGLoader",
            [](const FException& e) { return dynamic_cast<const FExceptionJPEG*>(&e) != nullptr; },
            c.m_throw);
        EXPECT_EQ(req.m_Async.GetState(), kError);
        EXPECT_EQ(req.m_Async.GetErrorCode(), c.m_iError);
        EXPECT_EQ(ErrorText(req.m_Async), c.m_pszText);
    }
}

} // namespace
