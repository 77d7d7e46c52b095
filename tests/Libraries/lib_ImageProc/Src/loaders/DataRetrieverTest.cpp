// The data retriever: extension routing, request errors, information results, cached
// frames and camera data, cancels, shared blocks and destruction during a load.

#include "LoaderTestFiles.h"
#include "LoaderTestSupport.h"

#include "FCache.h"
#include "FDataObject.h"
#include "FDataRetriever.h"
#include "FLatchStorageClass.h"
#include "FLoaderMailbox.h"
#include "FPropList.h"
#include "FWinThread.h"

#include <array>

using namespace loadertest;

namespace
{

// Requests every loader of a test saw: [type][with a target or buffer].
std::array<std::array<int, 2>, 8> g_requests;
std::array<int, 5> g_created;
// Runs before a request with a target or buffer reaches the loader.
std::function<void()> g_beforeLoad;

class CountingLoader final : public FILoader
{
public:
    explicit CountingLoader(FILoader* inner) : m_pInner(inner) {}

    void Destroy() override
    {
        m_pInner->Destroy();
        delete this;
    }
    void Idle() override { m_pInner->Idle(); }
    void Request(FLoaderRequest* req) override
    {
        const bool load = req->m_pTarget || req->GetBuffer();
        if (req->m_eType >= 0 && req->m_eType < 8)
            ++g_requests[size_t(req->m_eType)][load ? 1 : 0];
        if (load && g_beforeLoad)
            g_beforeLoad();
        m_pInner->Request(req);
    }
    bool IsHolding(const FLoaderRequest& req) override { return m_pInner->IsHolding(req); }
    void Abandon(FLoaderRequest& req, std::function<void()> release) override
    {
        m_pInner->Abandon(req, std::move(release));
    }

private:
    ~CountingLoader() override = default;
    FILoader* m_pInner;
};

template <FLoaderFactory Factory, int Entry>
FILoader* Counting()
{
    ++g_created[Entry];
    return new CountingLoader(Factory());
}

std::vector<FLoaderTableEntry> CountingTable()
{
    std::vector<FLoaderTableEntry> table = GetDefaultLoaderTable();
    table[0].m_pfnFactory = &Counting<&CreateBRIbLoader, 0>;
    table[1].m_pfnFactory = &Counting<&CreateTiffLoader, 1>;
    table[2].m_pfnFactory = &Counting<&CreateTiffLoader, 2>;
    table[3].m_pfnFactory = &Counting<&CreateJPEGLoader, 3>;
    table[4].m_pfnFactory = &Counting<&CreateJPEGLoader, 4>;
    return table;
}

struct RetrieverDeleter {
    void operator()(FIDataRetriever* retriever) const { ReleaseDataRetriever(retriever); }
};
using RetrieverPtr = std::unique_ptr<FIDataRetriever, RetrieverDeleter>;

class DataRetrieverTest : public FEngineTest
{
protected:
    void SetUp() override
    {
        FEngineTest::SetUp();
        g_requests = {};
        g_created = {};
        g_beforeLoad = nullptr;
        UseLatchForMemFiles();
        PutFile("r.bri", MakeRaw({}));
        PutFile("r.jpg", MakeJPEG(32, 16, false));
        m_pRetriever.reset(CreateDataRetriever(CountingTable()));
    }

    void TearDown() override
    {
        m_pRetriever.reset();
        g_beforeLoad = nullptr;
        FEngineTest::TearDown();
    }

    // Sends the request and ticks the retriever until it is final.
    void Run(FDataRetrieverRequest& req)
    {
        m_pRetriever->Request(&req);
        EXPECT_TRUE(TickUntil([&] { return !req.m_Async.IsInProgress(); }, [&] { m_pRetriever->Idle(); }));
    }

    static FDataRetrieverRequest Make(const FWideString& url, int kind, intptr_t subKind, intptr_t arg = 0)
    {
        FDataRetrieverRequest req;
        req.m_usFileName = url;
        req.m_eKind = kind;
        req.m_iSubKind = subKind;
        req.m_iArg = arg;
        return req;
    }

    RetrieverPtr m_pRetriever;
};

TEST_F(DataRetrieverTest, ExtensionPicksTheEntryIgnoringCase)
{
    struct Case {
        const char* m_pszURL;
        int m_iEntry; // -1: no loader
    };
    const Case cases[] = {
        {"ldrmem://a.JPG", 3},
        {"ldrmem://a.jpeg", 4},
        {"ldrmem://.xxx", 0},
        {"ldrmem://a.Q7F", 0},
        {"ldrmem://a.bri", 0},
        {"ldrmem://a.tif", 1},
        {"ldrmem://a.TIFF", 2},
        {"ldrmem://a.png", -1},
        {"jpg", -1},
        {"g", -1},
        {"", -1},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.m_pszURL);
        const std::array<int, 5> before = g_created;
        FDataRetrieverRequest req = Make(FWideString(c.m_pszURL), kRetrieveInfo, kInfoImageCount);
        Run(req);
        if (c.m_iEntry < 0) {
            EXPECT_EQ(req.m_Async.GetErrorCode(), kErrUnsupported);
            EXPECT_EQ(ErrorText(req.m_Async), "File type not supported.");
            EXPECT_EQ(g_created, before);
            continue;
        }
        // Each entry makes its loader once.
        EXPECT_EQ(g_created[size_t(c.m_iEntry)], 1);
    }
    EXPECT_EQ(g_created, (std::array<int, 5>{1, 1, 1, 1, 1}));
}

TEST_F(DataRetrieverTest, RequestsItCannotTakeAreRefusedWithTheirTexts)
{
    struct Case {
        const char* m_pszURL;
        int m_iKind;
        intptr_t m_iSubKind;
        int m_iError;
        const char* m_pszText;
    };
    const Case cases[] = {
        {"ldrmem://r.bri", 3, 0, kErrInvalid, "FDataRetriever:Request unknown request"},
        {"ldrmem://r.bri", kRetrieveInfo, 6, kErrInvalid,
         "FDataRetriever:HandleInfoRequest unknown info request"},
        {"ldrmem://r.bri", kRetrieveData, 3, kErrInvalid,
         "FDataRetriever:HandleDataRequest unknown data request"},
        {"ldrmem://r.png", kRetrieveData, 0, kErrUnsupported, "File type not supported."},
        {"ldrmem://r.png", kRetrieveModify, 0, kErrUnsupported,
         "FDataRetriever::priHandleModifyRequest: File type not supported."},
        {"ldrmem://r.tif", kRetrieveModify, 0, kErrInvalid, "TiffLoader:HandleRequest - invalid request."},
    };
    PutFile("r.tif", MakeTiff(8, 8));
    FPropList changes(nullptr, "changes");
    // A picture takes no mark (its turn is kept beside it).
    changes.AddProp("MARKBITS", "1");
    for (const Case& c : cases) {
        SCOPED_TRACE(c.m_pszText);
        FDataRetrieverRequest req = Make(FWideString(c.m_pszURL), c.m_iKind, c.m_iSubKind);
        if (c.m_iKind == kRetrieveModify)
            req.SetChanges(&changes);
        Run(req);
        EXPECT_EQ(req.m_Async.GetState(), kError);
        EXPECT_EQ(req.m_Async.GetErrorCode(), c.m_iError);
        EXPECT_EQ(ErrorText(req.m_Async), c.m_pszText);
    }
}

TEST_F(DataRetrieverTest, InformationComesBackInTheRequest)
{
    const FWideString url = MemURL("r.bri");
    FDataRetrieverRequest count = Make(url, kRetrieveInfo, kInfoImageCount);
    Run(count);
    EXPECT_EQ(count.m_iArg, 1);

    FDataRetrieverRequest image = Make(url, kRetrieveInfo, kInfoImage, 0);
    Run(image);
    EXPECT_EQ(image.m_aiResult[0], 16);
    EXPECT_EQ(image.m_aiResult[1], 8);
    EXPECT_EQ(image.m_aiResult[2], kImageKindPreview);
    EXPECT_EQ(image.m_aiResult[3], FPixmap::PIXEL_24_RGB);

    FDataRetrieverRequest camfile = Make(url, kRetrieveInfo, kInfoCamfile);
    Run(camfile);
    EXPECT_EQ(camfile.m_Async.GetState(), kCompleted);
    EXPECT_EQ(camfile.m_iArg, 64);
    EXPECT_EQ(camfile.m_aiResult[0], 1);

    FPropList list(nullptr, "props");
    FDataRetrieverRequest props = Make(url, kRetrieveInfo, kInfoProperties);
    props.SetList(&list);
    Run(props);
    EXPECT_EQ(list.GetString(FWideString("UNIQUEID"), FWideString()), "0F2031425364758697A8B9CADBECFD0E");

    FPropList changes(nullptr, "changes");
    changes.AddProp("ROTATION", "+90");
    FDataRetrieverRequest modify = Make(url, kRetrieveModify, 0);
    modify.SetChanges(&changes);
    Run(modify);
    EXPECT_EQ(modify.m_Async.GetState(), kCompleted);
}

TEST_F(DataRetrieverTest, RepeatedFrameComesFromTheCacheWithoutASecondLoad)
{
    for (const char* name : {"r.bri", "r.jpg"}) {
        SCOPED_TRACE(name);
        g_requests = {};
        const FWideString url = MemURL(name);
        FDataRetrieverRequest first = Make(url, kRetrieveData, kDataImage, 0);
        Run(first);
        ASSERT_EQ(first.m_Async.GetState(), kCompleted) << ErrorText(first.m_Async);
        FIDataObject* handle = first.GetDataObject();
        ASSERT_NE(handle, nullptr);
        EXPECT_EQ(handle->GetKind(), 0);
        EXPECT_EQ(handle->GetImageKind(), kImageKindPreview);
        FPixmap* pixmap = handle->GetImagePixmapPtr();
        if (std::string(name) == "r.bri") {
            EXPECT_EQ(pixmap->GetRowAddress(7)[47], PreviewByte(47, 7));
        }
        EXPECT_EQ(g_requests[kLoaderImage][1], 1);

        FDataRetrieverRequest second = Make(url, kRetrieveData, kDataImage, 0);
        m_pRetriever->Request(&second);
        // Complete within the request itself, after only the identity query.
        EXPECT_EQ(second.m_Async.GetState(), kCompleted);
        EXPECT_EQ(second.GetDataObject()->GetImagePixmapPtr(), pixmap);
        EXPECT_EQ(g_requests[kLoaderImage][0], 1);
        EXPECT_EQ(g_requests[kLoaderImage][1], 1);
        EXPECT_EQ(g_requests[kLoaderUniqueID][0], 2);
        second.GetDataObject()->Release();
        handle->Release();
    }
}

TEST_F(DataRetrieverTest, CameraDataIsCachedWithItsKindAndBytes)
{
    FDataRetrieverRequest req = Make(MemURL("r.bri"), kRetrieveData, kDataCamfile);
    Run(req);
    ASSERT_EQ(req.m_Async.GetState(), kCompleted) << ErrorText(req.m_Async);
    FIDataObject* handle = req.GetDataObject();
    EXPECT_EQ(handle->GetKind(), 1);
    EXPECT_EQ(handle->GetCamfileKind(), 1);
    ASSERT_EQ(handle->GetCamfileSize(), 64);
    EXPECT_EQ(static_cast<uint8_t*>(handle->GetCamfileData())[63], uint8_t(63 * 13));
    EXPECT_EQ(handle->GetImagePixmapPtr(), nullptr);
    handle->Release();

    FDataRetrieverRequest camb = Make(MemURL("r.bri"), kRetrieveData, kDataCAMbCamfile);
    Run(camb);
    EXPECT_EQ(camb.m_Async.GetErrorCode(), kErrMissingImage);
    EXPECT_EQ(camb.GetDataObject(), nullptr);
}

// A cancel set once stays set however often the retriever idles; the load ends
// cancelled, leaves its block unloaded, and the next request loads it again.
TEST_F(DataRetrieverTest, CancelIsNeverLostAndACancelledFrameLoadsAgain)
{
    RawOptions options;
    options.previewCols = 64;
    options.previewRows = 64;
    PutFile("big.bri", MakeRaw(options));
    g_beforeLoad = [] { GetLatchStorageClass().CloseLatch(); };
    FDataRetrieverRequest req = Make(LatchURL("big.bri"), kRetrieveData, kDataImage, 0);
    m_pRetriever->Request(&req);
    ASSERT_EQ(req.m_Async.GetState(), kInProgress);
    req.m_Async.RequestCancel();
    for (int i = 0; i < 5; ++i) {
        m_pRetriever->Idle();
        EXPECT_TRUE(req.m_Async.IsCancelRequested());
    }
    g_beforeLoad = nullptr;
    GetLatchStorageClass().OpenLatch();
    ASSERT_TRUE(TickUntil([&] { return !req.m_Async.IsInProgress(); }, [&] { m_pRetriever->Idle(); }));
    EXPECT_EQ(req.m_Async.GetState(), kCancelled);
    EXPECT_TRUE(req.m_Async.IsCancelRequested());
    EXPECT_EQ(req.GetDataObject(), nullptr);

    FDataRetrieverRequest again = Make(LatchURL("big.bri"), kRetrieveData, kDataImage, 0);
    Run(again);
    EXPECT_EQ(again.m_Async.GetState(), kCompleted);
    EXPECT_EQ(g_requests[kLoaderImage][1], 2);
    again.GetDataObject()->Release();
}

TEST_F(DataRetrieverTest, SecondRequestWhileOneIsCurrentIsBusy)
{
    g_beforeLoad = [] { GetLatchStorageClass().CloseLatch(); };
    FDataRetrieverRequest first = Make(LatchURL("r.bri"), kRetrieveData, kDataImage, 0);
    m_pRetriever->Request(&first);
    ASSERT_EQ(first.m_Async.GetState(), kInProgress);
    FDataRetrieverRequest second = Make(LatchURL("r.bri"), kRetrieveInfo, kInfoImageCount);
    m_pRetriever->Request(&second);
    EXPECT_EQ(second.m_Async.GetErrorCode(), kErrBusy);
    EXPECT_EQ(ErrorText(second.m_Async), "FDataRetriever");
    GetLatchStorageClass().OpenLatch();
    ASSERT_TRUE(TickUntil([&] { return !first.m_Async.IsInProgress(); }, [&] { m_pRetriever->Idle(); }));
    EXPECT_EQ(first.m_Async.GetState(), kCompleted);
    first.GetDataObject()->Release();
}

// A block another retriever is still loading is waited for, never loaded twice.
TEST_F(DataRetrieverTest, BlockBeingLoadedElsewhereIsWaitedFor)
{
    const FWideString url = MemURL("r.bri");
    FWideString label(url);
    label += "-0F2031425364758697A8B9CADBECFD0E-FileImage-0";
    FCacheObject* block =
        NewFrameBlock(*GetGlobalCache(), label, kImageKindPreview, FPixmap::PIXEL_24_RGB, 16, 8);
    ASSERT_NE(block, nullptr);
    FAsyncStatus* status = GetBlockLoadStatus(*block, 0);
    status->SetState(kInProgress);

    FDataRetrieverRequest req = Make(url, kRetrieveData, kDataImage, 0);
    m_pRetriever->Request(&req);
    for (int i = 0; i < 3; ++i)
        m_pRetriever->Idle();
    EXPECT_EQ(req.m_Async.GetState(), kInProgress);
    EXPECT_EQ(g_requests[kLoaderImage][1], 0);
    status->Complete();
    m_pRetriever->Idle();
    EXPECT_EQ(req.m_Async.GetState(), kCompleted);
    EXPECT_EQ(g_requests[kLoaderImage][1], 0);
    req.GetDataObject()->Release();

    // A waiter that goes away leaves the loading retriever's status alone.
    status->SetState(kInProgress);
    FDataRetrieverRequest waiter = Make(url, kRetrieveData, kDataImage, 0);
    m_pRetriever->Request(&waiter);
    m_pRetriever.reset();
    EXPECT_EQ(waiter.m_Async.GetState(), kCancelled);
    EXPECT_EQ(status->GetState(), kInProgress);
    block->Release();
}

// Destroying the retriever while its load is held: bounded by the retriever's and the
// loader's waits, the stray load finishes later into memory that is still its own.
TEST_F(DataRetrieverTest, DestructionDuringABlockedLoadIsBounded)
{
    g_beforeLoad = [] { GetLatchStorageClass().CloseLatch(); };
    FDataRetrieverRequest req = Make(LatchURL("r.bri"), kRetrieveData, kDataImage, 0);
    m_pRetriever->Request(&req);
    ASSERT_EQ(req.m_Async.GetState(), kInProgress);
    ASSERT_TRUE(GetLatchStorageClass().WaitForWaitingReads(1, std::chrono::seconds(10)));

    const auto start = std::chrono::steady_clock::now();
    m_pRetriever.reset();
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    // Bounded, not exact: the waits are sleeps, which a loaded machine stretches.
    EXPECT_LT(seconds, 9 * 0.109 + 45 * 0.109 + 20.0);
    EXPECT_EQ(req.m_Async.GetState(), kCancelled);
    EXPECT_TRUE(Trace().Contains("~FDataRetriever(): load request still busy in destructor."));
    EXPECT_TRUE(Trace().Contains("~FDataRetriever: Current request still active in destructor\n"));
    EXPECT_TRUE(Trace().Contains("BRIbLoader::~BRIbLoader: load thread failed to exit!\n"));

    g_beforeLoad = nullptr;
    GetLatchStorageClass().OpenLatch();
    EXPECT_TRUE(
        TickUntil([] { return FLoaderMailbox::GetRunningThreadCount() == 0; }, [] { SleepMilliseconds(5); }));
}

} // namespace
