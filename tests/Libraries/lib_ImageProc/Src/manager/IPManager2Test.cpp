// The manager's requests and stage machine, driven on real files through the real retriever,
// loaders and engine: acceptance, the states each request runs through, reuse of cached
// stages, priorities, geometry, errors, cancellation, progress and cache transparency.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cmath>
#include <cstring>
#include <filesystem>
#include <functional>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "DevelopDriver.h"
#include "DevelopableRaw.h"
#include "EngineTestSupport.h"
#include "FCache.h"
#include "FIPERequest.h"
#include "FIPEngine2.h"
#include "FIPMImage.h"
#include "FIPManager.h"
#include "FIPManagerRequest.h"
#include "FIPWorkSignal.h"
#include "FLatchStorageClass.h"
#include "FPixmap.h"
#include "FPropList.h"
#include "FSyntheticCapture.h"
#include "IPManager2.h"
#include "ManagerTestFiles.h"
#include "RawTestFolder.h"

namespace
{

using States = std::vector<int>;

mgrtest::RawFileOptions With(const std::function<void(mgrtest::RawFileOptions&)>& set)
{
    mgrtest::RawFileOptions options;
    set(options);
    return options;
}

// The states a manager ran, each run of one state counted once.
struct StateLog {
    States states;
    void Attach(IPManager2& manager)
    {
        manager.SetStateObserver([this](int state) {
            if (states.empty() || states.back() != state)
                states.push_back(state);
        });
    }
    int Count(int state) const
    {
        int n = 0;
        for (int s : states)
            n += s == state ? 1 : 0;
        return n;
    }
    bool Has(int state) const { return Count(state) > 0; }
};

std::vector<uint8_t> OutputBytes(FIPManagerRequest& request)
{
    std::vector<uint8_t> bytes;
    if (request.m_pOutputImage == nullptr)
        return bytes;
    FPixmap* pm = request.m_pOutputImage->GetPixmap();
    const size_t row = size_t(pm->GetCols()) * size_t(GetPixelTypeBytesPerPixel(pm->GetPixelType()));
    for (int y = 0; y < pm->GetRows(); ++y)
        bytes.insert(bytes.end(), pm->GetRowAddress(y), pm->GetRowAddress(y) + row);
    return bytes;
}

std::string Narrow(const FWideString& text)
{
    return text.GetNarrow();
}

class ManagerTest : public FEngineTest
{
protected:
    void SetUp() override
    {
        FEngineTest::SetUp();
        rawtest::EnsureDiskStorageClass();
        m_pFolder = std::make_unique<rawtest::RawTestFolder>();
    }
    void TearDown() override
    {
        m_managers.clear();
        m_pFolder.reset();
        FEngineTest::TearDown();
    }

    FWideString Put(const std::string& name, const mgrtest::RawFileOptions& options = {})
    {
        return m_pFolder->Write(name, mgrtest::MakeRawFile(options));
    }

    // The file as the latch class reaches it, so that a test can count or hold its reads.
    FWideString PutBehindLatch(const std::string& name, const mgrtest::RawFileOptions& options = {})
    {
        Put(name, options);
        FWideString prefix = m_pFolder->URL("x");
        prefix.DropRight(1);
        GetLatchStorageClass().SetTarget(prefix);
        FWideString url("latch://");
        url += name.c_str();
        return url;
    }

    IPManager2& NewManager(StateLog* log = nullptr)
    {
        m_managers.push_back(std::make_unique<IPManager2>());
        if (log != nullptr)
            log->Attach(*m_managers.back());
        return *m_managers.back();
    }

    static void Processed(FIPManagerRequest& r, const FWideString& url, int cols = 128, int rows = 96)
    {
        r.Reset();
        r.m_usFileName = url;
        r.m_eKind = kReqProcessed;
        r.m_eOutputFormat = kDisplay;
        r.m_iOutCols = cols;
        r.m_iOutRows = rows;
        r.m_rCrop.Set(0, 0, cols, rows);
        // Unit gains: the tone table refuses gains that are not positive.
        r.m_adColorAdjust[0] = r.m_adColorAdjust[1] = r.m_adColorAdjust[2] = 1.0;
    }

    // Runs the request on the manager to its end; progress read after every call.
    static bool Run(IPManager2& m, FIPManagerRequest& r, std::vector<double>* progress = nullptr)
    {
        m.Request(&r);
        auto note = [&] {
            if (progress != nullptr)
                progress->push_back(r.m_Async.GetProgress());
        };
        note();
        return TickUntil([&] { return r.m_Async.IsFinal(); },
                         [&] {
                             m.Idle();
                             note();
                         });
    }

    // The same request on an empty cache with a new manager.
    std::vector<uint8_t> ColdBytes(const std::function<void(FIPManagerRequest&)>& fill)
    {
        GetGlobalCache()->SetSize(0);
        GetGlobalCache()->SetSize(FCache::kDefaultLimit);
        IPManager2 cold;
        FIPManagerRequest r;
        fill(r);
        EXPECT_TRUE(Run(cold, r));
        EXPECT_EQ(r.m_Async.GetState(), kCompleted) << Narrow(r.m_Async.m_usErrorText);
        return OutputBytes(r);
    }

    unsigned PriorityOf(const FWideString& label)
    {
        FCacheObject* object = GetGlobalCache()->Get(label.GetBuffer(), 0);
        if (object == nullptr)
            return 999;
        const unsigned p = object->GetPriority();
        object->Release();
        return p;
    }

    std::unique_ptr<rawtest::RawTestFolder> m_pFolder;
    std::vector<std::unique_ptr<IPManager2>> m_managers;
};

const States kColdTrace = {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16, 17, 18, 19, 20};
// A full run whose tone table is cached already (tables are shared by all files).
const States kFullRunKnownTone = {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 17, 18, 19, 20};

TEST_F(ManagerTest, AcceptanceAnswersAtOnce)
{
    IPManager2& m = NewManager();
    FIPManagerRequest none;
    m.Request(&none);
    EXPECT_EQ(none.m_Async.GetState(), kCompleted);

    FIPManagerRequest nine;
    nine.m_eKind = 9;
    m.Request(&nine);
    EXPECT_EQ(nine.m_Async.GetState(), kError);
    EXPECT_EQ(nine.m_Async.GetErrorCode(), kErrUnsupported);
    EXPECT_TRUE(nine.m_Async.m_usErrorText.IsEmpty());

    struct Case {
        int kind;
        const char* text;
    };
    for (const Case& c :
         {Case{kReqProperties, "IPManager2::priHandlePropertiesRequest: Property list ptr is NULL."},
          Case{kReqModify, "IPManager2::priHandleModifyRequest: Property list ptr is NULL."}}) {
        FIPManagerRequest r;
        r.m_usFileName = Put("a.bri");
        r.m_eKind = c.kind;
        FPropList* list = r.m_pImageProps;
        r.m_pImageProps = nullptr;
        m.Request(&r);
        r.m_pImageProps = list;
        EXPECT_EQ(r.m_Async.GetState(), kError);
        EXPECT_EQ(r.m_Async.GetErrorCode(), kErrInvalid);
        EXPECT_EQ(Narrow(r.m_Async.m_usErrorText), c.text);
    }
}

TEST_F(ManagerTest, BusyMachineRefusesAndLeavesTheRunningRequestAlone)
{
    const FWideString url = Put("busy.bri");
    IPManager2& m = NewManager();
    FIPManagerRequest running;
    Processed(running, url);
    m.Request(&running);
    ASSERT_TRUE(running.m_Async.IsInProgress());
    EXPECT_TRUE(m.IsBusy());
    FIPManagerRequest second;
    Processed(second, url);
    m.Request(&second);
    EXPECT_EQ(second.m_Async.GetState(), kError);
    EXPECT_EQ(second.m_Async.GetErrorCode(), kErrBusy);
    EXPECT_EQ(Narrow(second.m_Async.m_usErrorText), "IPManager2 is busy.");
    ASSERT_TRUE(TickUntil([&] { return running.m_Async.IsFinal(); }, [&] { m.Idle(); }));
    EXPECT_EQ(running.m_Async.GetState(), kCompleted);
    EXPECT_FALSE(m.IsBusy());
}

TEST_F(ManagerTest, PropertiesAreAnsweredAndAModifiedLabelIsReadAgain)
{
    const FWideString url =
        Put("props.bri", With([](mgrtest::RawFileOptions& o) { o.wbLabel = "Daylight"; }));
    IPManager2& m = NewManager();
    FIPManagerRequest r;
    r.m_usFileName = url;
    r.m_eKind = kReqProperties;
    m.Request(&r);
    ASSERT_EQ(r.m_Async.GetState(), kCompleted) << Narrow(r.m_Async.m_usErrorText);
    EXPECT_EQ(r.m_pImageProps->GetInt(FWideString("COLS"), 0), 256);
    EXPECT_EQ(r.m_pImageProps->GetInt(FWideString("ROWS"), 0), 192);
    EXPECT_EQ(Narrow(r.m_pImageProps->GetString(FWideString("WB_DESC"), FWideString())), "Daylight");

    FIPManagerRequest modify;
    modify.m_usFileName = url;
    modify.m_eKind = kReqModify;
    modify.m_pImageProps->AddProp("WB_DESC", "Tungsten");
    m.Request(&modify);
    ASSERT_EQ(modify.m_Async.GetState(), kCompleted) << Narrow(modify.m_Async.m_usErrorText);

    FIPManagerRequest again;
    again.m_usFileName = url;
    again.m_eKind = kReqProperties;
    m.Request(&again);
    ASSERT_EQ(again.m_Async.GetState(), kCompleted);
    EXPECT_EQ(Narrow(again.m_pImageProps->GetString(FWideString("WB_DESC"), FWideString())), "Tungsten");
}

TEST_F(ManagerTest, CachedPropertiesAreAnsweredWithoutReadingThem)
{
    const FWideString url =
        PutBehindLatch("cached.bri", With([](mgrtest::RawFileOptions& o) { o.idByte = 5; }));
    FLatchStorageClass& latch = GetLatchStorageClass();
    IPManager2& m = NewManager();
    int64_t reads[2] = {};
    for (int64_t& count : reads) {
        FIPManagerRequest r;
        r.m_usFileName = url;
        r.m_eKind = kReqProperties;
        const int64_t before = latch.GetReadCount();
        m.Request(&r);
        ASSERT_EQ(r.m_Async.GetState(), kCompleted) << Narrow(r.m_Async.m_usErrorText);
        EXPECT_EQ(r.m_pImageProps->GetInt(FWideString("COLS"), 0), 256);
        count = latch.GetReadCount() - before;
    }
    // The second answer costs only the unique id's header read.
    EXPECT_LT(reads[1], reads[0]);
}

// Handing a development or a preview over reads nothing: the caller (the window's thread)
// never waits for the file; the first Idle starts the work.
TEST_F(ManagerTest, HandingOverARequestReadsNothingUntilIdle)
{
    const FWideString url = PutBehindLatch("handover.bri");
    FLatchStorageClass& latch = GetLatchStorageClass();
    IPManager2& m = NewManager();
    struct Case {
        const char* what;
        int end;
        std::function<void(FIPManagerRequest&)> fill;
    };
    // This file holds no preview: that request ends in its error, after reading.
    const Case cases[] = {
        {"processed", kCompleted, [&](FIPManagerRequest& r) { Processed(r, url); }},
        {"preview", kError,
         [&](FIPManagerRequest& r) {
             r.m_eKind = kReqPreview;
             r.m_usFileName = url;
             r.m_iOutCols = r.m_iOutRows = 64;
             r.m_rCrop.Set(0, 0, 64, 64);
             r.m_eOutputFormat = kDisplay;
         }},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        FIPManagerRequest r;
        c.fill(r);
        latch.CloseLatch();
        const int64_t before = latch.GetReadCount();
        m.Request(&r);
        EXPECT_TRUE(r.m_Async.IsInProgress());
        EXPECT_TRUE(m.IsBusy());
        EXPECT_EQ(latch.GetReadCount(), before);
        EXPECT_EQ(latch.GetWaitingReads(), 0);
        latch.OpenLatch();
        ASSERT_TRUE(TickUntil([&] { return r.m_Async.IsFinal(); }, [&] { m.Idle(); }));
        EXPECT_EQ(r.m_Async.GetState(), c.end) << Narrow(r.m_Async.m_usErrorText);
        EXPECT_GT(latch.GetReadCount(), before);
    }
}

TEST_F(ManagerTest, ColdAndWarmRequestsRunTheExpectedStates)
{
    const FWideString url = Put("trace.bri");
    StateLog log;
    IPManager2& m = NewManager(&log);
    FIPManagerRequest r;
    Processed(r, url);
    ASSERT_TRUE(Run(m, r));
    ASSERT_EQ(r.m_Async.GetState(), kCompleted) << Narrow(r.m_Async.m_usErrorText);
    EXPECT_EQ(log.states, kColdTrace);
    ASSERT_NE(r.m_pOutputImage, nullptr);
    EXPECT_EQ(r.m_pOutputImage->GetPixmap()->GetCols(), 128);
    EXPECT_EQ(r.m_pOutputImage->GetPixmap()->GetRows(), 96);
    const std::vector<uint8_t> first = OutputBytes(r);

    struct Step {
        const char* what;
        std::function<void(FIPManagerRequest&)> change;
        States trace;
        bool loads;
    };
    const Step steps[] = {
        {"identical", [](FIPManagerRequest&) {}, {1, 20}, false},
        {"exposure only",
         [](FIPManagerRequest& q) { q.m_dExposure = 0.5; },
         {1, 15, 16, 17, 18, 19, 20},
         false},
        {"sharpness only",
         [](FIPManagerRequest& q) { q.m_dSharpness = 0.3; },
         {1, 15, 17, 18, 19, 20},
         false},
        {"crop",
         [](FIPManagerRequest& q) { q.m_rCrop.Set(10, 10, 90, 70); },
         {1, 7, 8, 13, 14, 15, 17, 18, 19, 20},
         false},
        {"size",
         [](FIPManagerRequest& q) {
             q.m_iOutCols = 64;
             q.m_iOutRows = 48;
             q.m_rCrop.Set(0, 0, 64, 48);
         },
         {1, 7, 8, 13, 14, 15, 17, 18, 19, 20},
         false},
        {"white-balance override", [](FIPManagerRequest& q) { q.m_usWhiteBalance = "Tungsten"; },
         kFullRunKnownTone, true},
    };
    for (const Step& step : steps) {
        SCOPED_TRACE(step.what);
        log.states.clear();
        Trace().Clear();
        Processed(r, url);
        step.change(r);
        ASSERT_TRUE(Run(m, r));
        ASSERT_EQ(r.m_Async.GetState(), kCompleted) << Narrow(r.m_Async.m_usErrorText);
        EXPECT_EQ(log.states, step.trace);
        EXPECT_EQ(Trace().Contains("Loading"), step.loads);
    }
    // Back to the first request: its result is still cached.
    log.states.clear();
    Processed(r, url);
    ASSERT_TRUE(Run(m, r));
    EXPECT_EQ(log.states, (States{1, 20}));
    EXPECT_EQ(OutputBytes(r), first);
}

TEST_F(ManagerTest, ModifiedWhiteBalanceLabelIsAFullRun)
{
    const FWideString url = Put("wb.bri", With([](mgrtest::RawFileOptions& o) { o.wbLabel = "Daylight"; }));
    StateLog log;
    IPManager2& m = NewManager(&log);
    FIPManagerRequest r;
    Processed(r, url);
    ASSERT_TRUE(Run(m, r));
    FIPManagerRequest modify;
    modify.m_usFileName = url;
    modify.m_eKind = kReqModify;
    modify.m_pImageProps->AddProp("WB_DESC", "Tungsten");
    m.Request(&modify);
    ASSERT_EQ(modify.m_Async.GetState(), kCompleted);
    log.states.clear();
    Processed(r, url);
    ASSERT_TRUE(Run(m, r));
    ASSERT_EQ(r.m_Async.GetState(), kCompleted) << Narrow(r.m_Async.m_usErrorText);
    EXPECT_EQ(log.states, kFullRunKnownTone);
}

TEST_F(ManagerTest, OtherKindsEndInTheirOwnStates)
{
    const FWideString url = Put("kinds.bri");
    StateLog log;
    IPManager2& m = NewManager(&log);

    FIPManagerRequest autoSet;
    autoSet.m_usFileName = url;
    autoSet.m_eKind = kReqAutoSet;
    autoSet.m_dSharpness = 0.7;
    ASSERT_TRUE(Run(m, autoSet));
    ASSERT_EQ(autoSet.m_Async.GetState(), kCompleted) << Narrow(autoSet.m_Async.m_usErrorText);
    EXPECT_EQ(log.states, (States{1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 21}));
    EXPECT_EQ(autoSet.m_dSharpness, 0.7);

    log.states.clear();
    FIPManagerRequest gray;
    gray.m_usFileName = url;
    gray.m_eKind = kReqGetGrayBalance;
    gray.m_iOutCols = 640;
    gray.m_rCrop.Set(5, 5, 6, 6);
    FSyntheticCapture capture = MakeSyntheticCapture(256, 192);
    gray.m_ptGray = {(capture.greyCard.left + capture.greyCard.right) / 2,
                     (capture.greyCard.top + capture.greyCard.bottom) / 2};
    ASSERT_TRUE(Run(m, gray));
    ASSERT_EQ(gray.m_Async.GetState(), kCompleted) << Narrow(gray.m_Async.m_usErrorText);
    EXPECT_EQ(log.states, (States{1, 7, 8, 22}));
    EXPECT_EQ(gray.m_iOutCols, 100);
    EXPECT_EQ(gray.m_iOutRows, 100);
    EXPECT_EQ(gray.m_rCrop, FRect(0, 0, 100, 100));
    double lo = 1e9, hi = 0.0;
    for (double g : gray.m_adColorAdjust) {
        EXPECT_TRUE(std::isfinite(g));
        lo = std::min(lo, g);
        hi = std::max(hi, g);
    }
    EXPECT_GT(lo, 0.0);
    EXPECT_LT(hi / lo, 1.3) << "a grey card should need nearly equal gains";

    gray.Reset();
    gray.m_usFileName = url;
    gray.m_eKind = kReqGetGrayBalance;
    gray.m_ptGray = {5000, 5000};
    ASSERT_TRUE(Run(m, gray));
    EXPECT_EQ(gray.m_Async.GetState(), kError);
    EXPECT_EQ(gray.m_Async.GetErrorCode(), kErrInvalid);

    log.states.clear();
    FIPManagerRequest illum;
    illum.m_usFileName = url;
    illum.m_eKind = kReqIlluminants;
    IPManager2& fresh = NewManager(&log);
    ASSERT_TRUE(Run(fresh, illum));
    ASSERT_EQ(illum.m_Async.GetState(), kCompleted) << Narrow(illum.m_Async.m_usErrorText);
    EXPECT_EQ(log.states, (States{1, 7, 8, 23}));
    EXPECT_TRUE(fresh.GetLabel(IPManager2::kLabelStage1).IsEmpty());
    std::vector<std::string> names;
    for (FPropPair* p = illum.m_pImageProps->GetFirstProp(); p != nullptr; p = p->GetNext()) {
        names.push_back(Narrow(p->GetName()));
        EXPECT_TRUE(p->GetValue().IsEmpty());
    }
    EXPECT_EQ(names, (std::vector<std::string>{"Auto", "Daylight", "Tungsten", "Flash", "Custom"}));

    const FWideString noCustom = Put("nocustom.bri", With([](mgrtest::RawFileOptions& o) {
                                         o.idByte = 9;
                                         o.noCustomNeutral = true;
                                     }));
    FIPManagerRequest illum2;
    illum2.m_usFileName = noCustom;
    illum2.m_eKind = kReqIlluminants;
    ASSERT_TRUE(Run(fresh, illum2));
    ASSERT_EQ(illum2.m_Async.GetState(), kCompleted);
    EXPECT_EQ(illum2.m_pImageProps->FindProp("Custom"), nullptr);
    EXPECT_NE(illum2.m_pImageProps->FindProp("Auto"), nullptr);
}

TEST_F(ManagerTest, DarkSubtractedFileAndExternalCamfileSkipStates)
{
    const FWideString url = Put("darksub.bri", With([](mgrtest::RawFileOptions& o) {
                                    o.idByte = 3;
                                    o.darkSubtractedOnly = true;
                                }));
    StateLog log;
    IPManager2& m = NewManager(&log);
    FIPManagerRequest r;
    Processed(r, url);
    ASSERT_TRUE(Run(m, r));
    ASSERT_EQ(r.m_Async.GetState(), kCompleted) << Narrow(r.m_Async.m_usErrorText);
    EXPECT_EQ(log.states, (States{1, 2, 3, 4, 7, 8, 9, 11, 12, 13, 14, 15, 16, 17, 18, 19, 20}));

    const std::vector<uint8_t> cam = mgrtest::MakeManagerCamdata(256, 192, mgrtest::kFastSkipFlags);
    const FWideString camUrl = m_pFolder->Write("external.bcm", cam);
    log.states.clear();
    Processed(r, Put("ext.bri", With([](mgrtest::RawFileOptions& o) { o.idByte = 4; })));
    r.m_usCamfile = camUrl;
    ASSERT_TRUE(Run(m, r));
    ASSERT_EQ(r.m_Async.GetState(), kCompleted) << Narrow(r.m_Async.m_usErrorText);
    EXPECT_EQ(log.states, (States{1, 2, 3, 4, 5, 6, 7, 9, 10, 11, 12, 13, 14, 15, 17, 18, 19, 20}));
}

TEST_F(ManagerTest, ErrorsEndWithTheirStatuses)
{
    struct Case {
        const char* what;
        mgrtest::RawFileOptions options;
        int code;
        const char* text;
    };
    const Case cases[] = {
        {"no dark frame", With([](mgrtest::RawFileOptions& o) {
             o.idByte = 11;
             o.darkFrame = false;
         }),
         kErrMissingImage, "Image does not contain: dark subtracted frame dark frame "},
        {"no image section", With([](mgrtest::RawFileOptions& o) {
             o.idByte = 12;
             o.rawFrame = false;
             o.darkFrame = false;
         }),
         kErrMissingImage, "Image does not contain: dark subtracted frame dark frame raw frame"},
    };
    IPManager2& m = NewManager();
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        FIPManagerRequest r;
        Processed(r, Put(std::string(c.what) + ".bri", c.options));
        ASSERT_TRUE(Run(m, r));
        EXPECT_EQ(r.m_Async.GetState(), kError);
        EXPECT_EQ(r.m_Async.GetErrorCode(), c.code);
        EXPECT_EQ(Narrow(r.m_Async.m_usErrorText), c.text);
        EXPECT_EQ(r.m_pOutputImage, nullptr);
    }

    FIPManagerRequest r;
    Processed(r, Put("good.bri", With([](mgrtest::RawFileOptions& o) { o.idByte = 13; })));
    r.m_usCamfile = m_pFolder->URL("missing.bcm");
    ASSERT_TRUE(Run(m, r));
    EXPECT_EQ(r.m_Async.GetErrorCode(), kErrFileNotFound);
    EXPECT_EQ(Narrow(r.m_Async.m_usErrorText), "FIPManager::priLoadCamfile: external camfile not found.");

    // Camera data the container reader refuses: the exception path, and nothing is left
    // held for the next request.
    Processed(r, m_pFolder->URL("good.bri"));
    r.m_usCamfile = m_pFolder->Write("garbage.bcm", rawtest::Bytes(64, 0x5A));
    ASSERT_TRUE(Run(m, r));
    EXPECT_EQ(r.m_Async.GetState(), kError);
    EXPECT_EQ(r.m_Async.GetErrorCode(), kErrException);
    EXPECT_EQ(Narrow(r.m_Async.m_usErrorText).rfind("IPManager2::priProcessIdle: caught FException(", 0), 0u)
        << Narrow(r.m_Async.m_usErrorText);
    Processed(r, m_pFolder->URL("good.bri"));
    ASSERT_TRUE(Run(m, r));
    EXPECT_EQ(r.m_Async.GetState(), kCompleted) << Narrow(r.m_Async.m_usErrorText);

    Processed(r, m_pFolder->URL("good.bri"));
    r.m_eOutputFormat = kOutputNone;
    ASSERT_TRUE(Run(m, r));
    EXPECT_EQ(r.m_Async.GetState(), kError);
    EXPECT_EQ(r.m_Async.GetErrorCode(), kErrException);

    Processed(r, m_pFolder->URL("good.bri"));
    r.m_rCrop.Set(128, 0, 200, 96);
    ASSERT_TRUE(Run(m, r));
    EXPECT_EQ(r.m_Async.GetErrorCode(), kErrInvalid);
    EXPECT_EQ(Narrow(r.m_Async.m_usErrorText),
              "IPManager2::priStage3Process: Cropping rectangle out of bounds.");
}

TEST_F(ManagerTest, TinyCacheRefusesWithTheStageText)
{
    const FWideString url = Put("tiny.bri", With([](mgrtest::RawFileOptions& o) { o.idByte = 21; }));
    // Room for the two frames and the camera data, not for the stage-1 image as well.
    GetGlobalCache()->SetSize(750000);
    IPManager2& m = NewManager();
    FIPManagerRequest r;
    Processed(r, url);
    ASSERT_TRUE(Run(m, r));
    EXPECT_EQ(r.m_Async.GetState(), kError);
    EXPECT_EQ(r.m_Async.GetErrorCode(), kErrOutOfMemory);
    EXPECT_EQ(Narrow(r.m_Async.m_usErrorText), "IPManager2::priStage1Process:Cache allocation failed.");
    // Nothing stays locked or held: with room again the same request completes.
    GetGlobalCache()->SetSize(FCache::kDefaultLimit);
    Processed(r, url);
    ASSERT_TRUE(Run(m, r));
    EXPECT_EQ(r.m_Async.GetState(), kCompleted) << Narrow(r.m_Async.m_usErrorText);
}

TEST_F(ManagerTest, VanishedOrChangedFileGivesNoStaleResult)
{
    IPManager2& m = NewManager();
    const FWideString url = Put("change.bri", With([](mgrtest::RawFileOptions& o) {
                                    o.seed = 1;
                                    o.idByte = 31;
                                }));
    FIPManagerRequest r;
    Processed(r, url);
    ASSERT_TRUE(Run(m, r));
    const std::vector<uint8_t> before = OutputBytes(r);

    Put("change.bri", With([](mgrtest::RawFileOptions& o) {
            o.seed = 7;
            o.idByte = 32;
            o.wbLabel = "Tungsten";
        }));
    Processed(r, url);
    ASSERT_TRUE(Run(m, r));
    ASSERT_EQ(r.m_Async.GetState(), kCompleted);
    const std::vector<uint8_t> after = OutputBytes(r);
    EXPECT_NE(after, before);
    r.Reset();
    EXPECT_EQ(after, ColdBytes([&](FIPManagerRequest& q) { Processed(q, url); }));

    std::filesystem::remove(m_pFolder->NativePath("change.bri"));
    Processed(r, url);
    ASSERT_TRUE(Run(m, r));
    EXPECT_EQ(r.m_Async.GetState(), kError);
    EXPECT_EQ(r.m_pOutputImage, nullptr);
}

TEST_F(ManagerTest, FitCropAndWriteBack)
{
    // 2:1 and 2:3 captures.
    const FWideString wide = Put("wide.bri", With([](mgrtest::RawFileOptions& o) {
                                     o.width = 256;
                                     o.height = 128;
                                     o.idByte = 41;
                                 }));
    const FWideString tall = Put("tall.bri", With([](mgrtest::RawFileOptions& o) {
                                     o.width = 128;
                                     o.height = 192;
                                     o.idByte = 42;
                                 }));
    struct Case {
        FWideString url;
        int cols, rows;
        FRect crop;
        int wantCols, wantRows;
        FRect wantCrop;
        const char* trace;
    };
    const Case cases[] = {
        {wide, 100, 100, FRect(0, 0, 100, 100), 100, 50, FRect(0, 0, 100, 50),
         "Reduce number of Rows in m_pCurrentRequest from 100 to 50"},
        {wide, 40, 10, FRect(0, 0, 40, 10), 20, 10, FRect(0, 0, 20, 10),
         "Reduce number of Cols in m_pCurrentRequest from 40 to 20"},
        {wide, 100, 50, FRect(0, 0, 100, 50), 100, 50, FRect(0, 0, 100, 50), nullptr},
        // The ratio in double: 32/20 is above 1.5, so the rows shrink to 30.
        {tall, 20, 32, FRect(0, 0, 20, 32), 20, 30, FRect(0, 0, 20, 30),
         "Reduce number of Rows in m_pCurrentRequest from 32 to 30"},
        // A quarter turn: the capture's 256 x 192 is shown as 192 x 256.
        {Put("turned.bri", With([](mgrtest::RawFileOptions& o) {
                 o.idByte = 43;
                 o.rotation = 90;
             })),
         96, 200, FRect(0, 0, 96, 200), 96, 128, FRect(0, 0, 96, 128),
         "Reduce number of Rows in m_pCurrentRequest from 200 to 128"},
    };
    IPManager2& m = NewManager();
    for (const Case& c : cases) {
        for (int pass = 0; pass < 2; ++pass) { // the second is served from the cache
            Trace().Clear();
            FIPManagerRequest r;
            Processed(r, c.url, c.cols, c.rows);
            r.m_rCrop = c.crop;
            ASSERT_TRUE(Run(m, r));
            ASSERT_EQ(r.m_Async.GetState(), kCompleted) << Narrow(r.m_Async.m_usErrorText);
            EXPECT_EQ(r.m_iOutCols, c.wantCols);
            EXPECT_EQ(r.m_iOutRows, c.wantRows);
            EXPECT_EQ(r.m_rCrop, c.wantCrop);
            EXPECT_EQ(r.m_pOutputImage->GetPixmap()->GetCols(), c.wantCrop.Width());
            EXPECT_EQ(r.m_pOutputImage->GetPixmap()->GetRows(), c.wantCrop.Height());
            if (c.trace != nullptr && pass == 0) {
                EXPECT_TRUE(Trace().Contains(c.trace));
            }
        }
    }
}

TEST(ManagerGeometry, GrayBoxIsClippedToTheCapture)
{
    EXPECT_EQ(IPManager2::GrayBox(2, 2, 256, 192), FRect(0, 0, 6, 6));
    EXPECT_EQ(IPManager2::GrayBox(100, 50, 256, 192), FRect(96, 46, 104, 54));
    EXPECT_EQ(IPManager2::GrayBox(254, 190, 256, 192), FRect(250, 186, 256, 192));
    const FRect outside = IPManager2::GrayBox(300, 10, 256, 192);
    EXPECT_LE(outside.right, outside.left);
}

TEST_F(ManagerTest, PrioritiesAfterRunsAndDemotion)
{
    const FWideString url = Put("prio.bri", With([](mgrtest::RawFileOptions& o) { o.idByte = 51; }));
    IPManager2& m = NewManager();
    FIPManagerRequest r;
    Processed(r, url);
    ASSERT_TRUE(Run(m, r));
    r.Reset();
    using L = IPManager2;
    const FWideString first4 = m.GetLabel(L::kLabelStage4);
    const FWideString firstTone = m.GetLabel(L::kLabelToneLUT);
    EXPECT_EQ(PriorityOf(m.GetLabel(L::kLabelStage2)), 30u);
    EXPECT_EQ(PriorityOf(m.GetLabel(L::kLabelStage2Rtnx)), 30u);
    EXPECT_EQ(PriorityOf(m.GetLabel(L::kLabelStage2RefQ7)), 30u);
    EXPECT_EQ(PriorityOf(m.GetLabel(L::kLabelStage3)), 10u);
    EXPECT_EQ(PriorityOf(m.GetLabel(L::kLabelStage3L)), 10u);
    EXPECT_EQ(PriorityOf(m.GetLabel(L::kLabelStage3Rtnx)), 10u);
    EXPECT_EQ(PriorityOf(first4), 20u);
    EXPECT_EQ(PriorityOf(firstTone), 10u);
    EXPECT_EQ(PriorityOf(m.GetLabel(L::kLabelRtnxLUT)), 10u);
    // The stage-1 label went with the block that became the stage-2 result.
    EXPECT_EQ(PriorityOf(m.GetLabel(L::kLabelStage1)), 999u);

    Processed(r, url);
    r.m_dExposure = 1.0;
    ASSERT_TRUE(Run(m, r));
    r.Reset();
    EXPECT_EQ(PriorityOf(first4), 4u);
    EXPECT_EQ(PriorityOf(firstTone), 2u);
    EXPECT_EQ(PriorityOf(m.GetLabel(L::kLabelStage3)), 10u);

    // Automatic settings look at neither stage 3 nor stage 4 and demote neither.
    const FWideString second4 = m.GetLabel(L::kLabelStage4);
    const FWideString second3 = m.GetLabel(L::kLabelStage3);
    FIPManagerRequest autoSet;
    autoSet.m_usFileName = url;
    autoSet.m_eKind = kReqAutoSet;
    ASSERT_TRUE(Run(m, autoSet));
    EXPECT_EQ(PriorityOf(second4), 20u);
    EXPECT_EQ(PriorityOf(second3), 10u);

    // A partial view: computed at 20 and 10, found again at 0.
    Processed(r, url);
    r.m_rCrop.Set(0, 0, 64, 48);
    ASSERT_TRUE(Run(m, r));
    r.Reset();
    EXPECT_EQ(PriorityOf(m.GetLabel(L::kLabelStage4)), 20u);
    EXPECT_EQ(PriorityOf(m.GetLabel(L::kLabelStage3)), 10u);
    Processed(r, url);
    r.m_rCrop.Set(0, 0, 64, 48);
    ASSERT_TRUE(Run(m, r));
    r.Reset();
    EXPECT_EQ(PriorityOf(m.GetLabel(L::kLabelStage4)), 0u);
}

// Once the cache is half full, a new white balance takes the blocks of the result two
// changes back; those hold another image's pixels, and every stage must write all of its own.
TEST_F(ManagerTest, RecycledBlocksRenderAsFreshOnes)
{
    const FWideString url = Put("recycle.bri", With([](mgrtest::RawFileOptions& o) { o.idByte = 71; }));
    auto neutral = [&](double red) {
        return [&url, red](FIPManagerRequest& q) {
            Processed(q, url);
            q.m_adNeutral[0] = red;
            q.m_adNeutral[1] = q.m_adNeutral[2] = 1.0;
        };
    };
    const double reds[] = {1.0, 1.3, 0.8, 1.3, 1.6};
    std::vector<std::vector<uint8_t>> cold;
    for (double red : reds)
        cold.push_back(ColdBytes(neutral(red)));
    ASSERT_NE(cold[1], cold[2]);

    GetGlobalCache()->SetSize(0);
    GetGlobalCache()->SetSize(FCache::kDefaultLimit);
    StateLog log;
    IPManager2& m = NewManager(&log);
    using L = IPManager2;
    std::vector<FWideString> stage4;
    States backOne;
    for (size_t i = 0; i < std::size(reds); ++i) {
        SCOPED_TRACE(i);
        FIPManagerRequest r;
        neutral(reds[i])(r);
        log.states.clear();
        ASSERT_TRUE(Run(m, r));
        ASSERT_EQ(r.m_Async.GetState(), kCompleted) << Narrow(r.m_Async.m_usErrorText);
        EXPECT_EQ(OutputBytes(r), cold[i]);
        stage4.push_back(m.GetLabel(L::kLabelStage4));
        if (i == 3)
            backOne = log.states;
        if (i == 0) // from here on the cache counts as half full
            GetGlobalCache()->SetSize(static_cast<uint32_t>(GetGlobalCache()->GetUsedBytes() * 2));
    }
    // Going back one change is still answered from the cache.
    EXPECT_EQ(backOne, (States{1, 20}));
    EXPECT_FALSE(GetGlobalCache()->Exists(stage4[0].GetBuffer(), 0));
    EXPECT_FALSE(GetGlobalCache()->Exists(stage4[2].GetBuffer(), 0));
    EXPECT_TRUE(GetGlobalCache()->Exists(stage4[3].GetBuffer(), 0));
    EXPECT_TRUE(GetGlobalCache()->Exists(stage4[4].GetBuffer(), 0));
}

// Whatever reuses memory or schedules the work differently, developments stay the same to
// the bit: digests of outputs under several settings, taken from the plain first build.
TEST_F(ManagerTest, DevelopedOutputsArePinnedToTheBit)
{
    const FWideString url = Put("pinned.bri", With([](mgrtest::RawFileOptions& o) { o.idByte = 81; }));
    struct Case {
        const char* what;
        std::function<void(FIPManagerRequest&)> change;
        uint64_t digest;
    };
    const Case cases[] = {
        {"defaults", [](FIPManagerRequest&) {}, 3860486471900570242ull},
        {"input neutral",
         [](FIPManagerRequest& q) {
             q.m_adNeutral[0] = 1.3;
             q.m_adNeutral[1] = q.m_adNeutral[2] = 1.0;
         },
         457776682654216789ull},
        {"tone and detail",
         [](FIPManagerRequest& q) {
             q.m_dExposure = 0.5;
             q.m_dContrast = 0.3;
             q.m_dSharpness = 0.4;
             q.m_dSaturation = 0.2;
         },
         7188037145913894822ull},
        {"full size, 48-bit",
         [](FIPManagerRequest& q) {
             q.m_eOutputFormat = kRGB48;
             q.m_iOutCols = 256;
             q.m_iOutRows = 192;
             q.m_rCrop.Set(0, 0, 256, 192);
         },
         6502970091912842713ull},
    };
    IPManager2& m = NewManager();
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        FIPManagerRequest r;
        Processed(r, url);
        c.change(r);
        ASSERT_TRUE(Run(m, r));
        ASSERT_EQ(r.m_Async.GetState(), kCompleted) << Narrow(r.m_Async.m_usErrorText);
        uint64_t digest = 14695981039346656037ull;
        for (uint8_t byte : OutputBytes(r))
            digest = (digest ^ byte) * 1099511628211ull;
        EXPECT_EQ(digest, c.digest) << std::hex << digest;
    }
}

TEST_F(ManagerTest, GrayBalanceBetweenTwoRequestsKeepsTheFirstResult)
{
    const FWideString url = Put("between.bri", With([](mgrtest::RawFileOptions& o) { o.idByte = 61; }));
    StateLog log;
    IPManager2& m = NewManager(&log);
    FIPManagerRequest r;
    Processed(r, url);
    ASSERT_TRUE(Run(m, r));
    FIPManagerRequest gray;
    gray.m_usFileName = url;
    gray.m_eKind = kReqGetGrayBalance;
    gray.m_ptGray = {128, 96};
    ASSERT_TRUE(Run(m, gray));
    log.states.clear();
    Processed(r, url);
    ASSERT_TRUE(Run(m, r));
    EXPECT_EQ(log.states, (States{1, 20}));

    // Adjustments equal to six significant digits share their results.
    log.states.clear();
    Processed(r, url);
    r.m_dExposure = 1e-9;
    ASSERT_TRUE(Run(m, r));
    EXPECT_EQ(log.states, (States{1, 15, 16, 17, 18, 19, 20}));
    log.states.clear();
    Processed(r, url);
    r.m_dExposure = 1.0000000001e-9;
    ASSERT_TRUE(Run(m, r));
    EXPECT_EQ(log.states, (States{1, 20}));
}

TEST_F(ManagerTest, ExternalCamfileChangesOnlyTheLabelsThatCarryIt)
{
    const FWideString url = Put("scope.bri", With([](mgrtest::RawFileOptions& o) { o.idByte = 71; }));
    const FWideString camUrl =
        m_pFolder->Write("cal.bcm", mgrtest::MakeManagerCamdata(256, 192, mgrtest::kFastSkipFlags));
    IPManager2& m = NewManager();
    FIPManagerRequest r;
    Processed(r, url);
    ASSERT_TRUE(Run(m, r));
    FWideString before[IPManager2::kLabelCount];
    for (int i = 0; i < IPManager2::kLabelCount; ++i)
        before[i] = m.GetLabel(i);
    Processed(r, url);
    r.m_usCamfile = camUrl;
    ASSERT_TRUE(Run(m, r));
    ASSERT_EQ(r.m_Async.GetState(), kCompleted) << Narrow(r.m_Async.m_usErrorText);
    for (int i = 0; i < IPManager2::kLabelCount; ++i) {
        const bool carries = i == IPManager2::kLabelStage2 || i == IPManager2::kLabelStage2Rtnx ||
                             i == IPManager2::kLabelStage2RefQ7 || i == IPManager2::kLabelStage3 ||
                             i == IPManager2::kLabelStage3L || i == IPManager2::kLabelStage3Rtnx ||
                             i == IPManager2::kLabelStage4;
        EXPECT_EQ(!(m.GetLabel(i) == before[i]), carries) << "label " << i;
    }
}

TEST_F(ManagerTest, CancelAtAStageStartAndContinueAfterACancelledStage2)
{
    const FWideString url = Put("cancel.bri", With([](mgrtest::RawFileOptions& o) { o.idByte = 81; }));
    StateLog log;
    IPManager2& m = NewManager(&log);
    FIPManagerRequest r;
    Processed(r, url);
    r.m_Async.RequestCancel();
    ASSERT_TRUE(Run(m, r));
    EXPECT_EQ(r.m_Async.GetState(), kCancelled);
    EXPECT_EQ(r.m_Async.GetErrorCode(), kErrNone);
    EXPECT_FALSE(log.Has(9));

    auto* engine = dynamic_cast<FIPEngine2*>(m.GetEngine());
    ASSERT_NE(engine, nullptr);
    engine->SetHook([](FIPERequest& q) {
        if (q.GetRequestType() == kIPEStage2)
            std::this_thread::sleep_for(std::chrono::milliseconds(200));
    });
    log.states.clear();
    Processed(r, url);
    m.Request(&r);
    ASSERT_TRUE(TickUntil([&] { return m.GetMgrState() == kMgrCompleteStage2 || r.m_Async.IsFinal(); },
                          [&] { m.Idle(); }));
    r.m_Async.RequestCancel();
    ASSERT_TRUE(TickUntil([&] { return r.m_Async.IsFinal(); }, [&] { m.Idle(); }));
    EXPECT_EQ(r.m_Async.GetState(), kCancelled);
    EXPECT_FALSE(log.Has(13));
    engine->SetHook(nullptr);

    log.states.clear();
    Processed(r, url);
    ASSERT_TRUE(Run(m, r));
    ASSERT_EQ(r.m_Async.GetState(), kCompleted) << Narrow(r.m_Async.m_usErrorText);
    EXPECT_EQ(log.states, (States{1, 7, 8, 11, 12, 13, 14, 15, 16, 17, 18, 19, 20}));
    const std::vector<uint8_t> continued = OutputBytes(r);
    r.Reset();
    EXPECT_EQ(continued, ColdBytes([&](FIPManagerRequest& q) { Processed(q, url); }));
}

// A window ticking the manager gets its thread back at once while the engine works; it
// waits, if it wants to, for the engine's finish itself.
TEST_F(ManagerTest, IdleNeverWaitsForTheEngine)
{
    const FWideString url = Put("nowait.bri", With([](mgrtest::RawFileOptions& o) { o.idByte = 87; }));
    IPManager2& m = NewManager();
    auto* engine = dynamic_cast<FIPEngine2*>(m.GetEngine());
    ASSERT_NE(engine, nullptr);
    auto release = std::make_shared<std::atomic<bool>>(false);
    engine->SetHook([release](FIPERequest& q) {
        if (q.GetRequestType() == kIPEStage2)
            TickUntil([&] { return release->load(); },
                      [] { std::this_thread::sleep_for(std::chrono::milliseconds(1)); },
                      std::chrono::seconds(10));
    });
    FIPManagerRequest r;
    Processed(r, url);
    m.Request(&r);
    ASSERT_TRUE(TickUntil([&] { return m.GetMgrState() == kMgrCompleteStage2 || r.m_Async.IsFinal(); },
                          [&] { m.Idle(); }));
    ASSERT_EQ(m.GetMgrState(), kMgrCompleteStage2);
    // Waiting passes would take at least 200 x the engine's wait (800 ms).
    constexpr int kPasses = 200;
    const auto start = std::chrono::steady_clock::now();
    for (int i = 0; i < kPasses; ++i)
        m.Idle();
    EXPECT_LT(std::chrono::steady_clock::now() - start,
              std::chrono::milliseconds(kPasses * FIPEngine2::kIdleWaitMs / 2));
    const uint64_t finished = GetIPWorkCount();
    *release = true;
    EXPECT_TRUE(WaitForIPWork(finished, 10000));
    ASSERT_TRUE(TickUntil([&] { return r.m_Async.IsFinal(); }, [&] { m.Idle(); }));
    EXPECT_EQ(r.m_Async.GetState(), kCompleted) << Narrow(r.m_Async.m_usErrorText);
    engine->SetHook(nullptr);
}

TEST_F(ManagerTest, DestroyingAManagerMidStage2CancelsItsRequestAndLeavesNothingLocked)
{
    const FWideString url = Put("destroy.bri", With([](mgrtest::RawFileOptions& o) { o.idByte = 85; }));
    FIPManagerRequest r;
    Processed(r, url);
    {
        IPManager2 doomed;
        auto* engine = dynamic_cast<FIPEngine2*>(doomed.GetEngine());
        ASSERT_NE(engine, nullptr);
        engine->SetHook([](FIPERequest& q) {
            if (q.GetRequestType() == kIPEStage2)
                std::this_thread::sleep_for(std::chrono::milliseconds(100));
        });
        doomed.Request(&r);
        ASSERT_TRUE(
            TickUntil([&] { return doomed.GetMgrState() == kMgrCompleteStage2 || r.m_Async.IsFinal(); },
                      [&] { doomed.Idle(); }));
    }
    EXPECT_EQ(r.m_Async.GetState(), kCancelled);
    // Another manager continues the same stage instead of waiting on a lock for ever.
    StateLog log;
    IPManager2& m = NewManager(&log);
    Processed(r, url);
    ASSERT_TRUE(Run(m, r));
    EXPECT_EQ(r.m_Async.GetState(), kCompleted) << Narrow(r.m_Async.m_usErrorText);
    EXPECT_FALSE(Trace().Contains("waiting for someone else"));
}

// The save manager's strip runs on the manager's own machine: destroying the manager then
// ends the strip before its owner goes, so nothing runs on or touches a freed record. The
// save and a preview end cancelled, no output file is left, and another manager saves the
// same file afterwards.
TEST_F(ManagerTest, DestroyingAManagerMidSaveOrPreviewEndsEverythingCancelled)
{
    const FWideString url = Put("subdestroy.bri", With([](mgrtest::RawFileOptions& o) { o.idByte = 97; }));
    auto fillSave = [&](FIPManagerRequest& r) {
        Processed(r, url);
        r.m_eKind = kReqProcAndSave;
        r.m_eOutputFormat = kRGB24;
        r.m_eFileType = kSaveTIFF;
        r.m_usOutputFile = m_pFolder->URL("subdestroy.tif");
    };
    FIPManagerRequest save;
    fillSave(save);
    {
        IPManager2 doomed;
        doomed.Request(&save);
        ASSERT_TRUE(TickUntil([&] { return doomed.GetMgrState() >= kMgrStage1 || save.m_Async.IsFinal(); },
                              [&] { doomed.Idle(); }));
        ASSERT_TRUE(save.m_Async.IsInProgress()) << Narrow(save.m_Async.m_usErrorText);
    }
    EXPECT_EQ(save.m_Async.GetState(), kCancelled);
    EXPECT_FALSE(m_pFolder->Exists("subdestroy.tif"));

    // A preview whose image still loads: slow reads keep the load on the loader thread.
    developtest::DevelopableRawOptions rawOptions;
    rawOptions.seed = 97;
    m_pFolder->Write("subpreview.bri", developtest::MakeDevelopableRaw(rawOptions));
    FWideString prefix = m_pFolder->URL("x");
    prefix.DropRight(1);
    FLatchStorageClass& latch = GetLatchStorageClass();
    latch.SetTarget(prefix);
    struct Fast {
        FLatchStorageClass& latch;
        ~Fast() { latch.SetReadDelay(std::chrono::milliseconds(0)); }
    } fast{latch};
    latch.SetReadDelay(std::chrono::milliseconds(30));
    FIPManagerRequest preview;
    developtest::PreparePreview(preview, FWideString("latch://subpreview.bri"), 160);
    {
        IPManager2 doomed;
        doomed.Request(&preview);
        ASSERT_TRUE(preview.m_Async.IsInProgress()) << Narrow(preview.m_Async.m_usErrorText);
    }
    EXPECT_EQ(preview.m_Async.GetState(), kCancelled);

    IPManager2& m = NewManager();
    fillSave(save);
    ASSERT_TRUE(Run(m, save));
    EXPECT_EQ(save.m_Async.GetState(), kCompleted) << Narrow(save.m_Async.m_usErrorText);
    EXPECT_TRUE(m_pFolder->Exists("subdestroy.tif"));
}

TEST_F(ManagerTest, ProgressStaysInRangeAndNeverFalls)
{
    const FWideString url = Put("progress.bri", With([](mgrtest::RawFileOptions& o) { o.idByte = 91; }));
    IPManager2& m = NewManager();
    struct Step {
        const char* what;
        std::function<void(FIPManagerRequest&)> fill;
    };
    const Step steps[] = {
        {"cold", [&](FIPManagerRequest& q) { Processed(q, url); }},
        {"entry 15",
         [&](FIPManagerRequest& q) {
             Processed(q, url);
             q.m_dContrast = 0.4;
         }},
        {"entry 13",
         [&](FIPManagerRequest& q) {
             Processed(q, url);
             q.m_rCrop.Set(1, 1, 100, 90);
         }},
        {"entry 21",
         [&](FIPManagerRequest& q) {
             q.Reset();
             q.m_usFileName = url;
             q.m_eKind = kReqAutoSet;
         }},
    };
    for (const Step& step : steps) {
        SCOPED_TRACE(step.what);
        FIPManagerRequest r;
        step.fill(r);
        std::vector<double> progress;
        ASSERT_TRUE(Run(m, r, &progress));
        ASSERT_EQ(r.m_Async.GetState(), kCompleted) << Narrow(r.m_Async.m_usErrorText);
        for (size_t i = 0; i < progress.size(); ++i) {
            EXPECT_GE(progress[i], 0.0);
            EXPECT_LE(progress[i], 1.0);
            if (i > 0) {
                EXPECT_GE(progress[i], progress[i - 1]);
            }
        }
        EXPECT_EQ(progress.back(), 1.0);
    }
}

// Every result of a sequence that varies colour space, white-balance override, input
// neutral, external camera data and crop equals the same request on an empty cache.
TEST_F(ManagerTest, CacheTransparency)
{
    const FWideString url = Put("transparent.bri", With([](mgrtest::RawFileOptions& o) { o.idByte = 101; }));
    const FWideString camUrl = m_pFolder->Write(
        "other.bcm", mgrtest::MakeManagerCamdata(256, 192, mgrtest::kFastSkipFlags | 0x4000 /* despeckle */));
    using Fill = std::function<void(FIPManagerRequest&)>;
    const Fill base = [&](FIPManagerRequest& q) { Processed(q, url); };
    const std::vector<Fill> sequence = {
        base,
        [&](FIPManagerRequest& q) {
            base(q);
            q.m_iColorSpace = 3;
        },
        [&](FIPManagerRequest& q) {
            base(q);
            q.m_usWhiteBalance = "Tungsten";
        },
        [&](FIPManagerRequest& q) {
            base(q);
            q.m_adNeutral[0] = 0.8;
            q.m_adNeutral[1] = 1.0;
            q.m_adNeutral[2] = 1.2;
        },
        [&](FIPManagerRequest& q) {
            base(q);
            q.m_usCamfile = camUrl;
        },
        [&](FIPManagerRequest& q) {
            base(q);
            q.m_usCamfile = camUrl;
            q.m_rCrop.Set(20, 10, 100, 80);
        },
        [&](FIPManagerRequest& q) {
            base(q);
            q.m_iColorSpace = 3;
            q.m_rCrop.Set(20, 10, 100, 80);
        },
        base,
    };
    std::vector<std::vector<uint8_t>> warm;
    {
        IPManager2& m = NewManager();
        for (const Fill& fill : sequence) {
            FIPManagerRequest r;
            fill(r);
            ASSERT_TRUE(Run(m, r));
            ASSERT_EQ(r.m_Async.GetState(), kCompleted) << Narrow(r.m_Async.m_usErrorText);
            warm.push_back(OutputBytes(r));
        }
    }
    for (size_t i = 0; i < sequence.size(); ++i) {
        SCOPED_TRACE(i);
        EXPECT_EQ(warm[i], ColdBytes(sequence[i]));
    }
}

// An older model whose camera data skips the colour matrix: a stage 3 taken from the cache
// by a manager that has not read the camera data still gives the output of an empty cache.
TEST_F(ManagerTest, CachedStage3OfAnOlderModelKeepsItsMatrixSkip)
{
    const FWideString url = Put("older.bri", With([](mgrtest::RawFileOptions& o) {
                                    o.idByte = 111;
                                    o.model = "TALVO MV90";
                                    o.skipFlags = mgrtest::kFastSkipFlags | 0x40000;
                                }));
    using Fill = std::function<void(FIPManagerRequest&)>;
    const Fill base = [&](FIPManagerRequest& q) { Processed(q, url); };
    const Fill saturated = [&](FIPManagerRequest& q) {
        base(q);
        q.m_dSaturation = 0.5;
    };
    std::vector<std::vector<uint8_t>> warm;
    for (const Fill& fill : {base, saturated, base}) {
        IPManager2& m = NewManager();
        FIPManagerRequest r;
        fill(r);
        ASSERT_TRUE(Run(m, r));
        ASSERT_EQ(r.m_Async.GetState(), kCompleted) << Narrow(r.m_Async.m_usErrorText);
        warm.push_back(OutputBytes(r));
    }
    EXPECT_EQ(warm[1], ColdBytes(saturated));
    EXPECT_EQ(warm[2], ColdBytes(base));
    EXPECT_NE(warm[0], warm[1]);
}

// A frame that cannot be read when it is loaded (the file was cut after the images were
// found) fails in the loader with its exception code; the request reports a file error with
// the loader's text.
TEST_F(ManagerTest, LoaderExceptionReachesTheRequestAsAFileError)
{
    const FWideString url = Put("cut.bri", With([](mgrtest::RawFileOptions& o) { o.idByte = 112; }));
    const std::string path = m_pFolder->NativePath("cut.bri");
    IPManager2& m = NewManager();
    bool cut = false;
    m.SetStateObserver([&](int state) {
        if (state == kMgrLoadRaw && !cut) {
            cut = true;
            std::filesystem::resize_file(path, std::filesystem::file_size(path) / 2);
        }
    });
    FIPManagerRequest r;
    Processed(r, url);
    ASSERT_TRUE(Run(m, r));
    m.SetStateObserver(nullptr);
    ASSERT_TRUE(cut);
    EXPECT_EQ(r.m_Async.GetState(), kError);
    EXPECT_EQ(r.m_Async.GetErrorCode(), kErrFileIO) << Narrow(r.m_Async.m_usErrorText);
    EXPECT_NE(Narrow(r.m_Async.m_usErrorText).find("BRIbLoader"), std::string::npos)
        << Narrow(r.m_Async.m_usErrorText);
}

// A fresh record's gains are zero; it renders with neutral gains instead of failing in the tone table.
TEST_F(ManagerTest, UnsetColourGainsRenderAsNeutralGains)
{
    const FWideString url = Put("gains.bri", With([](mgrtest::RawFileOptions& o) { o.idByte = 102; }));
    const std::vector<uint8_t> unit = ColdBytes([&](FIPManagerRequest& q) { Processed(q, url); });
    const std::vector<uint8_t> unset = ColdBytes([&](FIPManagerRequest& q) {
        Processed(q, url);
        q.m_adColorAdjust[0] = q.m_adColorAdjust[1] = q.m_adColorAdjust[2] = 0.0;
    });
    ASSERT_FALSE(unit.empty());
    EXPECT_EQ(unset, unit);
}

TEST_F(ManagerTest, TwoManagersOnOneFileRunStage2Once)
{
    const FWideString url = Put("shared.bri", With([](mgrtest::RawFileOptions& o) { o.idByte = 111; }));
    StateLog logA, logB;
    IPManager2& a = NewManager(&logA);
    IPManager2& b = NewManager(&logB);
    FIPManagerRequest ra, rb;
    Processed(ra, url);
    Processed(rb, url);
    a.Request(&ra);
    b.Request(&rb);
    ASSERT_TRUE(TickUntil([&] { return ra.m_Async.IsFinal() && rb.m_Async.IsFinal(); },
                          [&] {
                              if (!ra.m_Async.IsFinal())
                                  a.Idle();
                              if (!rb.m_Async.IsFinal())
                                  b.Idle();
                          }));
    ASSERT_EQ(ra.m_Async.GetState(), kCompleted) << Narrow(ra.m_Async.m_usErrorText);
    ASSERT_EQ(rb.m_Async.GetState(), kCompleted) << Narrow(rb.m_Async.m_usErrorText);
    EXPECT_EQ(logA.Count(kMgrCompleteStage2) + logB.Count(kMgrCompleteStage2), 1);
    const std::vector<uint8_t> bytesA = OutputBytes(ra);
    EXPECT_EQ(bytesA, OutputBytes(rb));
    ra.Reset();
    rb.Reset();
    EXPECT_EQ(bytesA, ColdBytes([&](FIPManagerRequest& q) { Processed(q, url); }));
}

TEST_F(ManagerTest, ThroughThePool)
{
    const FWideString url = Put("pool.bri", With([](mgrtest::RawFileOptions& o) { o.idByte = 121; }));
    FIPManagerPool* pool = GetIPManagerPool();
    FIPManagerRequest a, b;
    Processed(a, url);
    Processed(b, url, 64, 48);
    pool->Request(&a);
    pool->Request(&b);
    EXPECT_GE(pool->GetManagerCount(), 1);
    ASSERT_TRUE(TickPoolUntilFinal(a));
    ASSERT_TRUE(TickPoolUntilFinal(b));
    EXPECT_EQ(a.m_Async.GetState(), kCompleted) << Narrow(a.m_Async.m_usErrorText);
    EXPECT_EQ(b.m_Async.GetState(), kCompleted) << Narrow(b.m_Async.m_usErrorText);
    EXPECT_EQ(b.m_pOutputImage->GetPixmap()->GetCols(), 64);
    EXPECT_EQ(a.m_pOutputImage->GetHistogram()->GetCount(), 128u * 96u);
}

} // namespace
