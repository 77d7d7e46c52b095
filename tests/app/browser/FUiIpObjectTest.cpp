// The image-processing bridge against a planned fake pool: intake checks in their order,
// what each kind asks of the manager, the replies, progress, cancel and the destructor.

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "FDebugTrace.h"
#include "FException.h"
#include "FIPMImage.h"
#include "FPropList.h"
#include "FUiIpObject.h"
#include "FUiIpObjectRequest.h"
#include "FUiObjectFactory.h"
#include "FakeIpPool.h"

namespace
{

const FWideString kIpRequest(u"IpRequest");
const char* const kFile = "mem://card/IMG_0001.q7f";

std::unique_ptr<FUiIpObjectFileReq> MakeRequest(int kind)
{
    std::unique_ptr<FUiIpObjectFileReq> request;
    switch (kind) {
    case kUiReqProps:
        request = std::make_unique<FUiIpObjectPropsReq>();
        break;
    case kUiReqPreview:
        request = std::make_unique<FUiIpObjectPreviewReq>();
        break;
    case kUiReqMark:
    case kUiReqLock:
    case kUiReqRotate:
        request = std::make_unique<FUiIpObjectFlagReq>(kind);
        break;
    case kUiReqWhiteBal:
        request = std::make_unique<FUiIpObjectWhiteBalReq>();
        break;
    case kUiReqAutoSet:
        request = std::make_unique<FUiIpObjectAutoSetReq>();
        break;
    case kUiReqProcessed:
        request = std::make_unique<FUiIpObjectProcessedReq>();
        break;
    case kUiReqProcAndSave:
        request = std::make_unique<FUiIpObjectProcAndSaveReq>();
        break;
    case kUiReqCopy:
        request = std::make_unique<FUiIpObjectCopyReq>();
        break;
    case kUiReqGetGrayBalance:
        request = std::make_unique<FUiIpObjectGetGrayBalanceReq>();
        break;
    default:
        request = std::make_unique<FUiIpObjectIlluminantsReq>();
        request->m_eKind = kind;
        break;
    }
    request->m_usFileURL = FWideString(kFile);
    return request;
}

// A reference-counted image that says when it was freed.
class TestImage : public FIPMImage
{
public:
    explicit TestImage(bool* freed) : m_pFreed(freed) {}
    ~TestImage() override { *m_pFreed = true; }
    FPixmap* GetPixmap() override { return nullptr; }
    FPropList* GetProperties() override { return nullptr; }
    void SetProperties(FPropList* list) override { delete list; }
    FIHistogram* GetHistogramPtr() override { return m_pHistogram.get(); }
    FIHistogram* GetHistogram() override
    {
        if (!m_pHistogram)
            m_pHistogram = std::make_unique<FIHistogram>();
        return m_pHistogram.get();
    }
    uint32_t AddRef() override { return ++m_uCount; }
    uint32_t Release() override
    {
        const uint32_t left = --m_uCount;
        if (left == 0)
            delete this;
        return left;
    }

private:
    bool* m_pFreed;
    uint32_t m_uCount = 1;
    std::unique_ptr<FIHistogram> m_pHistogram;
};

class IpObjectTest : public ::testing::Test
{
protected:
    FDebugTraceCapture m_trace;
    FakeIpPool m_pool;
    FRecordingRelay m_relay;
    // Declared last: it answers its open requests to the relay when it goes.
    std::unique_ptr<FUiIpObject> m_pBridge = std::make_unique<FUiIpObject>("IP_OBJECT2", &m_pool);

    // `tick`: the job reaches the manager, and a finished one comes back, on the bridge's tick.
    void Send(FUiIpObjectRequest& request, bool tick = true)
    {
        if (!request.m_pReturnRelay)
            request.m_pReturnRelay = &m_relay;
        EXPECT_FALSE(m_pBridge->UiRelayMessage(kIpRequest, &request));
        if (tick)
            m_pBridge->Tick(0);
    }
    void TickUntilIdle(int limit = 100)
    {
        for (int i = 0; i < limit && !m_pBridge->IsIdle(); ++i)
            m_pBridge->Tick(10);
        ASSERT_TRUE(m_pBridge->IsIdle());
    }
    const FFakeIpSubmission& LastSubmission()
    {
        EXPECT_FALSE(m_pool.GetSubmissions().empty());
        return m_pool.GetSubmissions().back();
    }
    // Replies that end a request, progress replies aside.
    size_t FinalReplies() const
    {
        size_t n = 0;
        for (const FIpReplyRecord& r : m_relay.GetRecords())
            n += r.state != kInProgress ? 1 : 0;
        return n;
    }
    const FIpReplyRecord& LastReply()
    {
        EXPECT_FALSE(m_relay.GetRecords().empty());
        return m_relay.GetRecords().back();
    }
};

TEST_F(IpObjectTest, OtherMessagesAndNullDataAreNotHandledAndLeaveNoTrace)
{
    auto request = MakeRequest(kUiReqAutoSet);
    request->m_pReturnRelay = &m_relay;
    EXPECT_FALSE(m_pBridge->UiRelayMessage(kIpRequest, nullptr));
    EXPECT_FALSE(m_pBridge->UiRelayMessage(FWideString("iprequest"), request.get()));
    EXPECT_EQ(m_trace.GetText(), "");
    EXPECT_TRUE(m_pool.GetSubmissions().empty());
    EXPECT_EQ(request->m_Async.GetState(), kInitialized);
}

TEST_F(IpObjectTest, IntakeRefusalsFollowTheirOrder)
{
    struct Case {
        const char* name;
        int kind;
        int tag;
        bool relay;
        const char* url;
        int state;
        int code;
        bool throws;
    };
    const Case cases[] = {
        {"bad tag", kUiReqAutoSet, 5, true, kFile, kInitialized, 0, true},
        {"bad tag beats missing relay", kUiReqAutoSet, 5, false, kFile, kInitialized, 0, true},
        {"no relay", kUiReqAutoSet, kUiIpRequestTag, false, kFile, kError, kErrInvalid, true},
        {"kind 12", 12, kUiIpRequestTag, true, kFile, kError, kErrUnsupported, false},
        {"kind -1", -1, kUiIpRequestTag, true, kFile, kError, kErrUnsupported, false},
        {"no relay beats unknown kind", 12, kUiIpRequestTag, false, kFile, kError, kErrInvalid, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        auto request = MakeRequest(c.kind);
        request->m_eKind = c.kind;
        request->m_nTag = c.tag;
        request->m_Async.m_iErrorCode = 99;
        request->m_pReturnRelay = c.relay ? &m_relay : nullptr;
        bool threw = false;
        try {
            m_pBridge->UiRelayMessage(kIpRequest, request.get());
        } catch (const FExceptionUiScript&) {
            threw = true;
        }
        EXPECT_EQ(threw, c.throws);
        EXPECT_EQ(request->m_Async.GetState(), c.state);
        EXPECT_EQ(request->m_Async.GetErrorCode(), c.state == kInitialized ? 99 : c.code);
    }
    EXPECT_TRUE(m_relay.GetRecords().empty());
    EXPECT_TRUE(m_pool.GetSubmissions().empty());
}

TEST_F(IpObjectTest, EmptyUrlsAreRefusedForEveryKind)
{
    for (int kind = kUiReqProps; kind <= kUiReqLast; ++kind) {
        SCOPED_TRACE(kind);
        auto request = MakeRequest(kind);
        request->m_usFileURL.Clear();
        if (kind == kUiReqCopy)
            static_cast<FUiIpObjectCopyReq&>(*request).m_usDstURL = FWideString("mem://out/a.q7f");
        Send(*request);
        EXPECT_EQ(request->m_Async.GetState(), kError);
        EXPECT_EQ(request->m_Async.GetErrorCode(), kErrInvalid);
        EXPECT_TRUE(m_pBridge->IsIdle());
    }
    FUiIpObjectCopyReq copy;
    copy.m_usFileURL = FWideString(kFile);
    Send(copy);
    EXPECT_EQ(copy.m_Async.GetState(), kError);
    EXPECT_EQ(copy.m_Async.GetErrorCode(), kErrInvalid);
    EXPECT_TRUE(m_relay.GetRecords().empty());
    EXPECT_TRUE(m_pool.GetSubmissions().empty());
    EXPECT_TRUE(m_trace.Contains("FUiIpObject::priInitiateGetGrayBalanceReq() given an empty filename\n"));
    EXPECT_TRUE(
        m_trace.Contains("FUiIpObject::priInitiateCopyReq() given an empty source or save filename\n"));
}

TEST_F(IpObjectTest, BusyWhileARequestIsInServiceEvenWhenItsManagerAlreadyFinished)
{
    m_pool.SetDefaultPlan(FFakeIpPlan::After(2));
    auto first = MakeRequest(kUiReqAutoSet);
    Send(*first);
    ASSERT_EQ(first->m_Async.GetState(), kInProgress);

    auto refuse = [&] {
        auto second = MakeRequest(kUiReqAutoSet);
        second->m_pReturnRelay = &m_relay;
        EXPECT_THROW(m_pBridge->UiRelayMessage(kIpRequest, second.get()), FExceptionUiScript);
        EXPECT_EQ(second->m_Async.GetState(), kError);
        EXPECT_EQ(second->m_Async.GetErrorCode(), kErrBusy);
    };
    refuse();
    // Someone else ticks the pool to the end: the first request still owns the bridge.
    m_pool.Idle();
    m_pool.Idle();
    refuse();
    EXPECT_TRUE(m_trace.Contains("FUiIpObject::UiRelayMessage(IpRequest) BUSY!\n"));

    m_pBridge->Tick(10);
    EXPECT_EQ(first->m_Async.GetState(), kCompleted);
    EXPECT_EQ(LastReply().replyClass, "AutoSetReply");
    EXPECT_EQ(m_pool.GetSubmissions().size(), 1u);
}

TEST_F(IpObjectTest, EachKindFillsTheManagerRequest)
{
    auto preview = std::make_unique<FUiIpObjectPreviewReq>();
    preview->m_usFileURL = FWideString(kFile);
    preview->m_nOutCols = 1000;
    preview->m_nOutRows = 600;
    preview->m_rCrop = FRect(-5, -7, 5000, 6000);
    preview->m_nColorSpace = 4;
    Send(*preview);
    {
        const FFakeIpSubmission& s = LastSubmission();
        EXPECT_EQ(s.kind, kReqPreview);
        EXPECT_EQ(s.file, kFile);
        EXPECT_EQ(s.outputFormat, kDisplay);
        EXPECT_EQ(s.outCols, 1000);
        EXPECT_EQ(s.outRows, 600);
        EXPECT_EQ(s.crop.left, -5);
        EXPECT_EQ(s.crop.right, 5000);
        EXPECT_EQ(s.colorSpace, 4);
    }

    FUiIpObjectProcessedReq processed;
    processed.m_usFileURL = FWideString(kFile);
    processed.m_nOutCols = 1000;
    processed.m_nOutRows = 600;
    processed.m_rCrop = FRect(-5, -7, 5000, 6000);
    processed.m_Settings = {0.5, -0.25, 0.125, 0.75, 1.5, 0.0625, 0.375, 1.1, 0.9, 1.2, 3};
    Send(processed);
    {
        const FFakeIpSubmission& s = LastSubmission();
        EXPECT_EQ(s.kind, kReqProcessed);
        EXPECT_EQ(s.outputFormat, kDisplay);
        EXPECT_EQ(s.crop.left, 0);
        EXPECT_EQ(s.crop.top, 0);
        EXPECT_EQ(s.crop.right, 1000);
        EXPECT_EQ(s.crop.bottom, 600);
        const double adjustments[7] = {0.5, -0.25, 0.125, 0.75, 1.5, 0.0625, 0.375};
        for (int i = 0; i < 7; ++i)
            EXPECT_EQ(s.adjustments[i], adjustments[i]) << i;
        EXPECT_EQ(s.colorAdjust[0], 1.1);
        EXPECT_EQ(s.colorAdjust[2], 1.2);
        EXPECT_EQ(s.colorSpace, 3);
    }

    struct FlagCase {
        int kind;
        bool flag;
        const char* name;
        const char* value;
    };
    const FlagCase flags[] = {
        {kUiReqMark, true, "MARKBITS", "1"},     {kUiReqMark, false, "MARKBITS", "0"},
        {kUiReqLock, true, "LOCK", "1"},         {kUiReqLock, false, "LOCK", "0"},
        {kUiReqRotate, true, "ROTATION", "+90"}, {kUiReqRotate, false, "ROTATION", "-90"},
    };
    for (const FlagCase& c : flags) {
        SCOPED_TRACE(c.name);
        FUiIpObjectFlagReq request(c.kind);
        request.m_usFileURL = FWideString(kFile);
        request.m_bFlag = c.flag;
        Send(request);
        const FFakeIpSubmission& s = LastSubmission();
        EXPECT_EQ(s.kind, kReqModify);
        ASSERT_EQ(s.props.size(), 1u);
        EXPECT_EQ(s.props[0].first, c.name);
        EXPECT_EQ(s.props[0].second, c.value);
        EXPECT_EQ(request.m_Async.GetState(), kCompleted);
        if (c.kind == kUiReqRotate) {
            EXPECT_EQ(LastReply().replyClass, "RotateReply");
        } else {
            EXPECT_EQ(LastReply().replyClass, c.kind == kUiReqMark ? "MarkReply" : "LockReply");
            EXPECT_EQ(LastReply().value, c.flag);
        }
    }

    FUiIpObjectGetGrayBalanceReq gray;
    gray.m_usFileURL = FWideString(kFile);
    gray.m_nX = 17;
    gray.m_nY = 23;
    Send(gray);
    EXPECT_EQ(LastSubmission().kind, kReqGetGrayBalance);
    EXPECT_EQ(LastSubmission().grayX, 17);
    EXPECT_EQ(LastSubmission().grayY, 23);

    const std::pair<int, int> plain[] = {
        {kUiReqProps, kReqProperties}, {kUiReqAutoSet, kReqAutoSet}, {kUiReqIlluminants, kReqIlluminants}};
    for (auto [kind, managerKind] : plain) {
        auto request = MakeRequest(kind);
        Send(*request);
        EXPECT_EQ(LastSubmission().kind, managerKind);
        EXPECT_EQ(LastSubmission().file, kFile);
    }
}

TEST_F(IpObjectTest, SaveFieldsForJpegAndTiff)
{
    struct Case {
        const char* name;
        int jpeg;
        int tiffBits;
        int fileType;
        int format;
        int quality;
    };
    const Case cases[] = {
        {"jpeg", 1, 16, kSaveJPEG, kRGB24, 77},
        {"tiff 16", 0, 16, kSaveTIFF, kRGB48, 48},
        {"tiff 12", 0, 12, kSaveTIFF, kRGB24, 24},
        {"tiff 8", 0, 8, kSaveTIFF, kRGB24, 24},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        FUiIpObjectProcAndSaveReq save;
        save.m_usFileURL = FWideString(kFile);
        save.m_usDstURL = FWideString("mem://out/a.jpg");
        save.m_bJpeg = c.jpeg;
        save.m_nTiffBits = c.tiffBits;
        save.m_nJpegQuality = 77;
        save.m_bExif = true;
        save.m_nSettingMode = 969421;
        save.m_usCustomName = FWideString("Mine");
        save.m_anParams[1] = 3;
        save.m_usSoftware = FWideString("Rawbench");
        save.m_nOutCols = 2000;
        save.m_nOutRows = 1000;
        save.m_rCrop = FRect(-5, 0, 5000, 1000);
        save.m_Settings.Exposure = 0.5;
        save.m_Settings.ColorSpace = 3;
        Send(save);
        const FFakeIpSubmission& s = LastSubmission();
        EXPECT_EQ(s.kind, kReqProcAndSave);
        EXPECT_EQ(s.outputFile, "mem://out/a.jpg");
        EXPECT_EQ(s.fileType, c.fileType);
        EXPECT_EQ(s.outputFormat, c.format);
        EXPECT_EQ(s.quality, c.quality);
        EXPECT_EQ(s.jpegFlag, c.jpeg ? 1 : 0);
        EXPECT_EQ(s.version[0], 1);
        EXPECT_EQ(s.version[1], 3);
        EXPECT_EQ(s.software, "Rawbench");
        EXPECT_EQ(s.settingMode, 969421);
        EXPECT_EQ(s.settingName, "Mine");
        EXPECT_EQ(s.crop.left, -5); // saves pass the crop unchanged
        EXPECT_EQ(s.crop.right, 5000);
        EXPECT_EQ(s.adjustments[0], 0.5);
        EXPECT_EQ(s.colorSpace, 3);
        EXPECT_EQ(LastReply().replyClass, "ProcAndSaveReply");
    }
}

TEST_F(IpObjectTest, WhiteBalanceOriginalLooksUpTheAsShotValue)
{
    struct Case {
        const char* name;
        const char* orig; // null: the file has none
        const char* stored;
        size_t submissions;
    };
    const Case cases[] = {
        {"Original", "Daylight", "Daylight", 2},
        {"Original", nullptr, "Auto", 2},
        {"original", "Daylight", "original", 1},
        {"Cloudy", "Daylight", "Cloudy", 1},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.name) + (c.orig ? " with" : " without"));
        FakeIpPool pool;
        FUiIpObject bridge("IP_OBJECT2", &pool);
        const char* orig = c.orig;
        pool.SetPlan(kReqProperties, FFakeIpPlan().Filling([orig](FIPManagerRequest& r) {
            if (orig)
                r.m_pImageProps->AddProp("WB_DESC_ORIG", orig);
        }));
        FUiIpObjectWhiteBalReq request;
        request.m_usFileURL = FWideString(kFile);
        request.m_usWhiteBal = FWideString(c.name);
        request.m_pReturnRelay = &m_relay;
        bridge.UiRelayMessage(kIpRequest, &request);
        for (int i = 0; i < 10 && !bridge.IsIdle(); ++i)
            bridge.Tick(0);
        ASSERT_EQ(pool.GetSubmissions().size(), c.submissions);
        const FFakeIpSubmission& s = pool.GetSubmissions().back();
        EXPECT_EQ(s.kind, kReqModify);
        ASSERT_EQ(s.props.size(), 1u);
        EXPECT_EQ(s.props[0].first, "WB_DESC");
        EXPECT_EQ(s.props[0].second, c.stored);
        EXPECT_EQ(request.m_Async.GetState(), kCompleted);
        EXPECT_EQ(LastReply().replyClass, "WhiteBalReply");
    }
}

TEST_F(IpObjectTest, CompletionRepliesCarryTheManagersResults)
{
    m_pool.SetDefaultPlan(FFakeIpPlan::After(1).Filling([](FIPManagerRequest& r) {
        r.m_pImageProps->AddProp("Daylight", "1");
        r.m_pImageProps->AddProp("Tungsten", "2");
        r.m_dExposure = 0.25;
        r.m_dSharpness = 0.5;
        r.m_dFillLight = 0.125;
        r.m_adColorAdjust[0] = 1.5;
        r.m_adColorAdjust[1] = 1.0;
        r.m_adColorAdjust[2] = 0.75;
        r.m_iColorSpace = 4;
        r.m_usOutputFile = FWideString("mem://out/written.jpg");
    }));
    struct Case {
        int kind;
        const char* replyClass;
    };
    const Case cases[] = {
        {kUiReqProps, "PropsReply"},
        {kUiReqIlluminants, "IlluminantsReply"},
        {kUiReqAutoSet, "AutoSetReply"},
        {kUiReqGetGrayBalance, "GetGrayBalanceReply"},
        {kUiReqProcAndSave, "ProcAndSaveReply"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.replyClass);
        m_relay.Clear();
        auto request = MakeRequest(c.kind);
        Send(*request, false);
        EXPECT_EQ(request->m_Async.GetState(), kInProgress);
        TickUntilIdle();
        ASSERT_EQ(FinalReplies(), 1u);
        const FIpReplyRecord& reply = LastReply();
        EXPECT_EQ(reply.replyClass, c.replyClass);
        EXPECT_EQ(reply.request, request.get());
        EXPECT_EQ(reply.state, kCompleted);
        if (c.kind == kUiReqProps || c.kind == kUiReqIlluminants) {
            EXPECT_EQ(reply.propsNode, c.kind == kUiReqProps ? "ImageProps" : "IlluminantsProps");
            ASSERT_EQ(reply.props.size(), 2u);
            EXPECT_EQ(reply.props[1].first, "Tungsten");
        }
        if (c.kind == kUiReqAutoSet) {
            EXPECT_EQ(reply.settings.Exposure, 0.25);
            EXPECT_EQ(reply.settings.Contrast, 0.0);
            EXPECT_EQ(reply.settings.Sharpness, 0.5);
            EXPECT_EQ(reply.settings.Retinex, 0.125);
            EXPECT_EQ(reply.settings.ColorAdjustR, 1.5);
            EXPECT_EQ(reply.settings.ColorAdjustB, 0.75);
            EXPECT_EQ(reply.settings.ColorSpace, 2);
        }
        if (c.kind == kUiReqGetGrayBalance) {
            EXPECT_EQ(reply.gains[0], 1.5);
            EXPECT_EQ(reply.gains[2], 0.75);
        }
        if (c.kind == kUiReqProcAndSave) {
            EXPECT_EQ(reply.url, "mem://out/written.jpg");
        }
    }
}

TEST_F(IpObjectTest, ImageRepliesHoldTheImageOnlyDuringTheCall)
{
    for (int kind : {kUiReqPreview, kUiReqProcessed}) {
        for (bool keep : {false, true}) {
            SCOPED_TRACE(std::to_string(kind) + (keep ? " kept" : " dropped"));
            bool freed = false;
            TestImage* image = nullptr;
            m_pool.SetDefaultPlan(FFakeIpPlan::After(1).Filling([&](FIPManagerRequest& r) {
                image = new TestImage(&freed);
                r.m_pOutputImage = image;
            }));
            FIPMImage* kept = nullptr;
            m_relay.SetOnMessage([&](const FIpReplyRecord&, void* data) {
                auto* reply = dynamic_cast<FUiIpObjectImageReply*>(static_cast<FUiIpObjectReply*>(data));
                if (keep && reply && reply->m_pImage) {
                    kept = reply->m_pImage;
                    kept->AddRef();
                }
            });
            auto request = MakeRequest(kind);
            Send(*request);
            TickUntilIdle();
            const FIpReplyRecord& reply = LastReply();
            EXPECT_EQ(reply.image, image);
            EXPECT_EQ(reply.histogramReady, kind == kUiReqProcessed);
            EXPECT_EQ(freed, !keep);
            if (kept) {
                kept->Release();
                EXPECT_TRUE(freed);
            }
            m_relay.SetOnMessage(nullptr);
        }
    }
}

TEST_F(IpObjectTest, TheBridgeStaysBusyUntilTheFinalReplyReturns)
{
    m_pool.SetDefaultPlan(FFakeIpPlan::After(1));
    bool idleDuringReply = true;
    int refusedCode = 0;
    m_relay.SetOnMessage([&](const FIpReplyRecord&, void*) {
        idleDuringReply = m_pBridge->IsIdle();
        auto next = MakeRequest(kUiReqAutoSet);
        next->m_pReturnRelay = &m_relay;
        try {
            m_pBridge->UiRelayMessage(kIpRequest, next.get());
        } catch (const FExceptionUiScript&) {
            refusedCode = next->m_Async.GetErrorCode();
        }
    });
    auto request = MakeRequest(kUiReqAutoSet);
    Send(*request);
    TickUntilIdle();
    m_relay.SetOnMessage(nullptr);
    EXPECT_FALSE(idleDuringReply);
    EXPECT_EQ(refusedCode, kErrBusy);
    EXPECT_EQ(m_pool.GetSubmissions().size(), 1u);
}

TEST_F(IpObjectTest, TwoPassSaveReportsHalvesAndStoresTheAutomaticValues)
{
    m_pool.SetPlan(kReqAutoSet, FFakeIpPlan::After(2).Filling([](FIPManagerRequest& r) {
        r.m_dExposure = 0.75;
        r.m_dContrast = -0.5;
        r.m_dSharpness = 0.3;
        r.m_adColorAdjust[0] = 1.25;
        r.m_adColorAdjust[1] = 1.0;
        r.m_adColorAdjust[2] = 0.8;
    }));
    m_pool.SetPlan(kReqProcAndSave, FFakeIpPlan::After(4));
    std::vector<std::string> updated;
    const FIpUpdateImageSender previous = SetIpUpdateImageSender(
        [&](const FWideString& url, RelayEvent&) { updated.push_back(url.GetNarrow()); });

    FUiIpObjectProcAndSaveReq save;
    save.m_usFileURL = FWideString(kFile);
    save.m_usDstURL = FWideString("mem://out/a.tif");
    save.m_bAutoSetFirst = true;
    save.m_bSecondPass = true; // the bridge owns the marker from here on
    save.m_bStoreSettings = true;
    save.m_bProgressReplies = true;
    save.m_nOutCols = 640;
    save.m_Settings.Exposure = -2.0;
    save.m_Settings.ColorSpace = 4;
    Send(save);
    EXPECT_FALSE(save.m_bSecondPass);
    EXPECT_EQ(LastSubmission().kind, kReqAutoSet);
    TickUntilIdle();
    SetIpUpdateImageSender(previous);

    std::vector<double> progress;
    for (const FIpReplyRecord& r : m_relay.GetRecords()) {
        if (r.replyClass == "Reply") {
            EXPECT_EQ(r.state, kInProgress);
            progress.push_back(r.progress);
        }
    }
    // The first pass fills the first half, the save the second; the end is the final reply.
    EXPECT_EQ(progress, (std::vector<double>{0.25, 0.625, 0.75, 0.875}));
    EXPECT_EQ(LastReply().replyClass, "ProcAndSaveReply");
    EXPECT_EQ(FinalReplies(), 1u);
    EXPECT_TRUE(save.m_bSecondPass);
    EXPECT_EQ(save.m_Async.GetState(), kCompleted);

    // Automatic pass, the stored settings, then the save with the automatic values.
    const auto& submissions = m_pool.GetSubmissions();
    ASSERT_EQ(submissions.size(), 3u);
    EXPECT_EQ(submissions[1].kind, kReqModify);
    EXPECT_EQ(submissions[1].props, (std::vector<std::pair<std::string, std::string>>{
                                        {"rpExposureCompensation", "0.7500"},
                                        {"rpContrast", "-0.5000"},
                                        {"rpShadow", "0.0000"},
                                        {"rpHighlight", "0.0000"},
                                        {"rpSharpness", "0.3000"},
                                        {"rpSaturation", "0.0000"},
                                        {"rpFillFlash", "0.0000"},
                                        {"rpColorAdjust", submissions[1].props.back().second},
                                    }));
    EXPECT_FALSE(submissions[1].props.back().second.empty());
    const FFakeIpSubmission& pass2 = submissions[2];
    EXPECT_EQ(pass2.kind, kReqProcAndSave);
    EXPECT_EQ(pass2.adjustments[0], 0.75);
    EXPECT_EQ(pass2.adjustments[5], 0.3);
    EXPECT_EQ(pass2.colorAdjust[0], 1.25);
    EXPECT_EQ(pass2.colorSpace, 4);
    EXPECT_EQ(pass2.outCols, 640);
    EXPECT_EQ(pass2.outputFile, "mem://out/a.tif");
    EXPECT_EQ(save.m_Settings.Exposure, 0.75);
    EXPECT_EQ(save.m_Settings.ColorSpace, 4);
    EXPECT_EQ(updated, std::vector<std::string>{kFile});
}

TEST_F(IpObjectTest, ManagerFailuresAlwaysEndTheRequestWithAReply)
{
    struct Case {
        const char* name;
        FFakeIpPlan plan;
        int code;
        bool inProgressFirst;
    };
    const Case cases[] = {
        {"fails at once", FFakeIpPlan().Failing(kErrFileNotFound), kErrFileNotFound, false},
        // No reply at all would leave the sender waiting for ever.
        {"fails at once, missing image", FFakeIpPlan().Failing(kErrMissingImage), kErrMissingImage, false},
        {"submission throws", FFakeIpPlan().Throwing(), kErrException, false},
        {"fails later", FFakeIpPlan::After(2).Failing(kErrOutOfMemory), kErrOutOfMemory, true},
    };
    for (const Case& c : cases) {
        for (int kind : {kUiReqPreview, kUiReqProcessed}) {
            SCOPED_TRACE(std::string(c.name) + " " + std::to_string(kind));
            m_relay.Clear();
            m_pool.SetDefaultPlan(c.plan);
            auto request = MakeRequest(kind);
            Send(*request);
            EXPECT_EQ(request->m_Async.GetState(), c.inProgressFirst ? kInProgress : kError);
            TickUntilIdle();
            EXPECT_EQ(request->m_Async.GetState(), kError);
            EXPECT_EQ(request->m_Async.GetErrorCode(), c.code);
            ASSERT_EQ(m_relay.GetRecords().size(), 1u);
            EXPECT_EQ(LastReply().replyClass, "Reply");
            EXPECT_EQ(LastReply().state, kError);
        }
    }
    // The bridge serves the next request.
    m_pool.SetDefaultPlan({});
    auto next = MakeRequest(kUiReqAutoSet);
    Send(*next);
    EXPECT_EQ(next->m_Async.GetState(), kCompleted);
}

TEST_F(IpObjectTest, CancelAnswersCancelledWhateverTheManagerEndsWith)
{
    struct Case {
        const char* name;
        FFakeIpPlan plan;
    };
    const Case cases[] = {
        {"honours cancel", FFakeIpPlan::After(5)},
        {"completes in the cancel tick", FFakeIpPlan::After(2).DeafToCancel()},
        {"fails in the cancel tick", FFakeIpPlan::After(2).Failing(6).DeafToCancel()},
        {"ignores cancel for a while", FFakeIpPlan::After(4).DeafToCancel()},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        m_relay.Clear();
        m_pool.SetDefaultPlan(c.plan);
        auto request = MakeRequest(kUiReqAutoSet);
        Send(*request, false);
        m_pBridge->Tick(10);
        request->m_Async.RequestCancel();
        TickUntilIdle();
        EXPECT_EQ(request->m_Async.GetState(), kCancelled);
        ASSERT_EQ(FinalReplies(), 1u);
        EXPECT_EQ(LastReply().replyClass, "Reply");
        EXPECT_EQ(LastReply().state, kCancelled);
    }
}

TEST_F(IpObjectTest, ProgressRepliesFollowTheManagersValue)
{
    m_pool.SetDefaultPlan(FFakeIpPlan::After(4));
    auto request = MakeRequest(kUiReqProcessed);
    request->m_bProgressReplies = true;
    Send(*request);
    TickUntilIdle();
    std::vector<double> progress;
    for (const FIpReplyRecord& r : m_relay.GetRecords())
        progress.push_back(r.progress);
    EXPECT_EQ(progress, (std::vector<double>{0.25, 0.5, 0.75, 1.0}));
    EXPECT_EQ(LastReply().replyClass, "ProcessedReply");

    // A manager that reports nothing gives no progress replies, only the final one.
    m_relay.Clear();
    m_pool.SetDefaultPlan(FFakeIpPlan::After(3).Silent());
    auto quiet = MakeRequest(kUiReqProcessed);
    quiet->m_bProgressReplies = true;
    Send(*quiet);
    TickUntilIdle();
    ASSERT_EQ(m_relay.GetRecords().size(), 1u);
    EXPECT_EQ(LastReply().replyClass, "ProcessedReply");
}

TEST_F(IpObjectTest, DestructorAnswersARequestInServiceAsCancelled)
{
    for (bool honour : {true, false}) {
        SCOPED_TRACE(honour);
        m_relay.Clear();
        m_pool.SetDefaultPlan(honour ? FFakeIpPlan::After(3) : FFakeIpPlan::After(3).DeafToCancel());
        auto bridge = std::make_unique<FUiIpObject>("IP_OBJECT2", &m_pool);
        auto request = MakeRequest(kUiReqProcessed);
        request->m_pReturnRelay = &m_relay;
        bridge->UiRelayMessage(kIpRequest, request.get());
        bridge->Tick(10);
        bridge.reset();
        EXPECT_EQ(request->m_Async.GetState(), kCancelled);
        ASSERT_EQ(FinalReplies(), 1u);
        EXPECT_EQ(LastReply().state, kCancelled);
        // The engine keeps the record until the manager lets go of it, and tells nobody.
        const size_t replies = m_relay.GetRecords().size();
        for (int i = 0; i < 5; ++i)
            m_pBridge->Tick(10);
        EXPECT_EQ(m_pool.GetRunningCount(), 0);
        EXPECT_EQ(m_relay.GetRecords().size(), replies);
    }
}

TEST_F(IpObjectTest, RegisteredCreatorMakesBridgesOnTheGivenPool)
{
    std::unique_ptr<FIUiObjectFactory> factory(CreateUiObjectFactory());
    ASSERT_TRUE(RegisterIpObjectCreator(factory.get(), &m_pool));
    EXPECT_FALSE(RegisterIpObjectCreator(factory.get(), &m_pool));
    std::unique_ptr<FIUiObject> object(factory->CreateUiObject("IP_OBJECT2"));
    ASSERT_NE(object, nullptr);
    EXPECT_NE(dynamic_cast<FUiObject*>(object.get())->FindEvent(FWideString("ON_UPDATE_IMAGE")), nullptr);
    EXPECT_NE(dynamic_cast<FUiObject*>(object.get())->FindEvent(FWideString("ON_PANIC")), nullptr);
    auto request = MakeRequest(kUiReqAutoSet);
    request->m_pReturnRelay = &m_relay;
    EXPECT_FALSE(object->UiRelayMessage(kIpRequest, request.get()));
    object->Tick(0);
    EXPECT_EQ(request->m_Async.GetState(), kCompleted);
    EXPECT_EQ(m_pool.GetSubmissions().size(), 1u);
}

} // namespace
