#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstring>
#include <functional>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "CalculateAutoAdjustSettings.h"
#include "EngineTestSupport.h"
#include "FCamdata.h"
#include "FCamdataBuilder.h"
#include "FException.h"
#include "FGlobalLUTsClass.h"
#include "FIPERequest.h"
#include "FIPEStage2Setup.h"
#include "FIPEngine2.h"
#include "FIPEngineStages.h"
#include "FPropList.h"
#include "FSyntheticCapture.h"
#include "RawTestFolder.h"

namespace
{

// A developed stage-1 image of a synthetic capture with everything stage 2 needs.
struct Stage2Fixture {
    int w, h;
    std::vector<uint8_t> camBytes;
    std::unique_ptr<FCamdata> cam;
    FPropList props{nullptr, "Capture"};
    std::vector<int16_t> image, preMat, scratch, rtnx;
    std::unique_ptr<FPixmap48SRGB> imagePixmap, preMatPixmap, scratchPixmap;
    std::unique_ptr<FPixmap16SMono> rtnxPixmap;
    FIPERequestStage2 request;

    Stage2Fixture(int width, int height, const std::function<void(FCamdataBuilder&)>& extra)
        : w(width), h(height)
    {
        FCamdataBuilder b;
        extra(b); // first: a key given here wins over the calibration's own
        AddPlausibleCalibration(b, w, h);
        camBytes = b.Build();
        cam = std::make_unique<FCamdata>(camBytes.data(), camBytes.size());
        image.assign(3 * static_cast<size_t>(w) * h, 0);
        imagePixmap = std::make_unique<FPixmap48SRGB>(image.data(), w, h, 0);
        if (h >= 3 && w >= 64) {
            FSyntheticCapture capture = MakeSyntheticCapture(w, h);
            FPixmap48RGB raw(capture.raw.data(), w, h, 0), dark(capture.dark.data(), w, h, 0);
            FIPERequestStage1 s1;
            s1.m_pRawImage = &raw;
            s1.m_pDarkImage = &dark;
            s1.m_pOutImage = imagePixmap.get();
            s1.m_pCambData = cam.get();
            IPEngineStages::ProcessStage1(&s1, 1);
            std::copy(std::begin(s1.m_aiSaturationLevel), std::end(s1.m_aiSaturationLevel),
                      request.m_aiSaturationLevel);
            std::copy(std::begin(s1.m_aiDarkShieldLevel), std::end(s1.m_aiDarkShieldLevel),
                      request.m_aiDarkShieldLevel);
        } else {
            for (size_t i = 0; i < image.size(); ++i)
                image[i] = static_cast<int16_t>(500 + i % 97);
        }
        preMat.assign(image.size(), 0);
        preMatPixmap = std::make_unique<FPixmap48SRGB>(preMat.data(), w, h, 0);
        const int scratchRows = static_cast<int>(Stage2Setup::ScratchRowsNeeded(w, h));
        scratch.assign(3 * static_cast<size_t>(w) * scratchRows, 0);
        scratchPixmap = std::make_unique<FPixmap48SRGB>(scratch.data(), w, scratchRows, 0);
        rtnx.assign(static_cast<size_t>(w) * h, 0);
        rtnxPixmap = std::make_unique<FPixmap16SMono>(rtnx.data(), w, h, 0);
        props.AddProp("WB_DESC", "Daylight");
        props.AddProp("SHUTTER", "0.008");
        request.m_pStage1Image = imagePixmap.get();
        request.m_pStage2PreMatImage = preMatPixmap.get();
        request.m_pCaptureProps = &props;
        request.m_pCambData = cam.get();
        request.m_pTempData = scratchPixmap.get();
        request.m_pRtnxImage = rtnxPixmap.get();
        request.m_dAperture = 8.0;
        request.m_iExposureTime = 8000;
    }
};

void NoKeys(FCamdataBuilder&) {}

void WithRedSharpen(FCamdataBuilder& b)
{
    b.AddFloat("RedSharpen", 2.0f);
}

using Stage2Test = FEngineTest;

TEST_F(Stage2Test, RunsEveryStepWithProgressAndFiniteResults)
{
    Stage2Fixture f(160, 120, WithRedSharpen);
    const std::vector<uint8_t> camBefore = f.camBytes;
    std::vector<double> marks;
    std::vector<int> ran;
    f.request.m_StepObserver = [&](int step, bool didRun) {
        marks.push_back(f.request.m_Async.GetProgress());
        if (didRun)
            ran.push_back(step);
    };
    ASSERT_EQ(IPEngineStages::ProcessStage2(&f.request, 2), kCompleted);
    EXPECT_EQ(f.request.m_Async.GetProgress(), 1.0);
    EXPECT_EQ(ran, (std::vector<int>{0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 11, 12, 13}));
    ASSERT_EQ(marks.size(), 14u);
    for (size_t i = 0; i < marks.size(); ++i) {
        EXPECT_DOUBLE_EQ(marks[i], IPEngineStages::Stage2ProgressMark(static_cast<int>(i)));
        EXPECT_GE(marks[i], 0.0);
        EXPECT_LE(marks[i], 1.0);
        if (i > 0) {
            EXPECT_GE(marks[i], marks[i - 1]);
        }
    }
    EXPECT_DOUBLE_EQ(IPEngineStages::Stage2ProgressMark(14), 1.0);
    EXPECT_EQ(f.camBytes, camBefore);
    for (double v : f.request.m_adAutoSettings)
        EXPECT_TRUE(std::isfinite(v));
    EXPECT_TRUE(std::isfinite(f.request.m_dRetinex));
    for (double v : f.request.m_adOutputNeutral)
        EXPECT_TRUE(std::isfinite(v));
    EXPECT_NE(f.rtnx, std::vector<int16_t>(f.rtnx.size(), 0));
}

TEST_F(Stage2Test, EachSkipFlagSwitchesOffItsStep)
{
    struct Case {
        uint32_t flag;
        int step;
    };
    const Case cases[] = {{0x200, 1},   {0x800, 3},   {0x4000, 4},   {0x8000, 5},
                          {0x10000, 6}, {0x40000, 7}, {0x200000, 9}, {0x400000, 8}};
    auto ranSteps = [](uint32_t flags) {
        Stage2Fixture f(96, 72, [&](FCamdataBuilder& b) {
            WithRedSharpen(b);
            b.AddUInt32("SkipStepFlags", flags);
        });
        std::vector<int> ran;
        f.request.m_StepObserver = [&](int step, bool didRun) {
            if (didRun)
                ran.push_back(step);
        };
        EXPECT_EQ(IPEngineStages::ProcessStage2(&f.request, 1), kCompleted);
        return ran;
    };
    const std::vector<int> all = ranSteps(0);
    for (const Case& c : cases) {
        std::vector<int> expected = all;
        expected.erase(std::remove(expected.begin(), expected.end(), c.step), expected.end());
        EXPECT_EQ(ranSteps(c.flag), expected) << std::hex << c.flag;
    }
}

// Every observable output of a stage-2 run.
struct Outputs {
    std::vector<int16_t> image, preMat, rtnx;
    std::vector<double> results;
    bool operator==(const Outputs&) const = default;
};

Outputs Collect(const Stage2Fixture& f)
{
    Outputs o{f.image, f.preMat, f.rtnx, {}};
    const FIPERequestStage2& r = f.request;
    o.results.assign(std::begin(r.m_adAutoSettings), std::end(r.m_adAutoSettings));
    o.results.push_back(r.m_dRetinex);
    o.results.insert(o.results.end(), std::begin(r.m_adOutputNeutral), std::end(r.m_adOutputNeutral));
    return o;
}

TEST_F(Stage2Test, CancelledAtEveryStepThenContinuedEqualsOneRun)
{
    // "Auto" also measures the white balance from the image, which a continued request
    // must not measure again.
    auto make = [] {
        auto f = std::make_unique<Stage2Fixture>(96, 72, [](FCamdataBuilder& b) {
            WithRedSharpen(b);
            b.AddFloat("LinLUT_ReductionFactor", 0.9f);
        });
        f->request.m_usWhiteBalance = "Auto";
        return f;
    };
    auto once = make();
    ASSERT_EQ(IPEngineStages::ProcessStage2(&once->request, 1), kCompleted);
    const Outputs expected = Collect(*once);

    for (int cancelAfter = 0; cancelAfter < 13; ++cancelAfter) {
        auto f = make();
        f->request.m_StepObserver = [&](int step, bool) {
            if (step == cancelAfter)
                f->request.m_Async.RequestCancel();
        };
        ASSERT_EQ(IPEngineStages::ProcessStage2(&f->request, 1), kCancelled) << cancelAfter;
        const double at = f->request.m_Async.GetProgress();
        EXPECT_LT(at, 1.0);
        // Continued with the same record: resume state and carried values.
        f->request.m_StepObserver = nullptr;
        f->request.m_Async.m_bCancel.store(0);
        ASSERT_EQ(IPEngineStages::ProcessStage2(&f->request, 3), kCompleted) << cancelAfter;
        EXPECT_TRUE(Collect(*f) == expected) << "cancelled after step " << cancelAfter;
    }
}

TEST_F(Stage2Test, BadInputsEndInErrors)
{
    FIPEngine2 engine;
    auto run = [&](FIPERequest& r) {
        engine.Request(&r);
        EXPECT_TRUE(TickUntil([&] { return r.m_Async.IsFinal(); }, [&] { engine.Idle(); }));
        return std::string(r.m_Async.m_usErrorText.GetNarrow());
    };
    {
        Stage2Fixture f(96, 72, NoKeys);
        const std::vector<int16_t> before = f.image;
        FPixmap48SRGB small(f.scratch.data(), 96, 3, 0);
        f.request.m_pTempData = &small;
        EXPECT_EQ(run(f.request), "FIPEngine2::priProcessStage2 temporary buffer is the wrong size");
        EXPECT_EQ(f.request.m_Async.GetErrorCode(), kErrInvalid);
        EXPECT_EQ(f.image, before);
    }
    struct Case {
        uint32_t flags;
        std::string text;
    };
    for (const Case& c : {Case{0, "Despeckle: input image too small"},
                          Case{kSkipDespeckle, "Retinexing: input image too small"}}) {
        Stage2Fixture f(32, 2, [&](FCamdataBuilder& b) { b.AddUInt32("SkipStepFlags", c.flags); });
        EXPECT_NE(run(f.request).find(c.text), std::string::npos)
            << f.request.m_Async.m_usErrorText.GetNarrow();
        EXPECT_EQ(f.request.m_Async.GetErrorCode(), kErrException);
    }
    {
        // Calibration values that are not numbers, or keys of the wrong shape, never reach
        // the image: the stage completes with finite results.
        const float nan = std::nanf("");
        Stage2Fixture f(96, 72, [&](FCamdataBuilder& b) {
            b.AddFloatRGB("ChromaDQ", nan, nan, nan);
            b.AddFloat("SpatialDQ", nan);
            b.AddFloatRGB("ColorDQCamRGB", nan, 1, 1);
            b.AddFloatRGB("DarkGainFactor", nan, nan, nan);
            b.AddFloat("RowCorrectionGain", nan);
            // Keys of the wrong shape or type read as absent.
            b.AddFloats("CamToXYZ", {3, 2}, std::vector<float>(6, 1.0f));
            b.AddFloats("SpatialGain", {2, 2}, std::vector<float>(4, 2.0f));
            b.AddFloats("BadPixels", {2}, {1.0f, 2.0f});
            b.AddInt32("SkipStepFlags", 0x4000);
        });
        run(f.request);
        EXPECT_EQ(f.request.m_Async.GetState(), kCompleted) << f.request.m_Async.m_usErrorText.GetNarrow();
        for (double v : f.request.m_adAutoSettings)
            EXPECT_TRUE(std::isfinite(v));
    }
}

TEST_F(Stage2Test, DebugDumpFiles)
{
    FWideString path;
    EXPECT_TRUE(IPEngineStages::MakeDumpPath("SharpenRed", FWideString("disk:///x/IMG0001.q7f"), path));
    EXPECT_EQ(path, "disk:///x/IMG0001-SharpenRed.tif");
    EXPECT_FALSE(IPEngineStages::MakeDumpPath("DoNotDump", FWideString("disk:///x/IMG0001.q7f"), path));

    rawtest::EnsureDiskStorageClass();
    rawtest::RawTestFolder folder;
    const char* names[] = {"Linearized",      "CorrectionProcess",   "ReplaceBadPixels",
                           "SharpenRed",      "NeutralizeHighlight", "Despeckle1",
                           "ChromaBlurSmall", "ChromaBlur1",         "ColorTransform"};
    for (bool dump : {false, true}) {
        Stage2Fixture f(64, 48, WithRedSharpen);
        f.request.m_bDumpStages = dump ? 1 : 0;
        f.request.m_usDumpBase = folder.URL("IMG0001.q7f");
        ASSERT_EQ(IPEngineStages::ProcessStage2(&f.request, 1), kCompleted);
        for (const char* name : names)
            EXPECT_EQ(folder.Exists(std::string("IMG0001-") + name + ".tif"), dump) << name;
        EXPECT_FALSE(folder.Exists("IMG0001-DoNotDump.tif"));
    }

    // Values are written offset by 32768, so the signed range fills the unsigned one.
    std::vector<int16_t> pixel = {-32768, 0, 32767};
    FPixmap48SRGB one(pixel.data(), 1, 1, 0);
    IPEngineStages::DumpImage(one, folder.URL("one.tif"));
    const rawtest::Bytes bytes = folder.Read("one.tif");
    const std::vector<uint8_t> little = {0x00, 0x00, 0x00, 0x80, 0xFF, 0xFF};
    const std::vector<uint8_t> big = {0x00, 0x00, 0x80, 0x00, 0xFF, 0xFF};
    const bool found = std::search(bytes.begin(), bytes.end(), little.begin(), little.end()) != bytes.end() ||
                       std::search(bytes.begin(), bytes.end(), big.begin(), big.end()) != bytes.end();
    EXPECT_TRUE(found);
}

} // namespace

namespace
{

TEST_F(Stage2Test, ResultsAndOutputNeutral)
{
    struct Case {
        const char* name;
        std::function<void(FCamdataBuilder&)> keys;
        bool inputNeutral;
        bool presetNeutral; // the output neutral is the measured one, else (1, 1, 1)
        bool cl7;
    };
    const std::vector<Case> cases = {
        {"preset", NoKeys, false, true, false},
        {"input neutral", NoKeys, true, false, false},
        {"cl7",
         [](FCamdataBuilder& b) {
             b.AddPropertyList("CL7_WhiteBalanceColorCorrections", {{"Daylight", "CC_Day"}});
             b.AddPropertyList("CL7_WhiteBalanceGains", {{"Daylight", "G_Day"}});
             b.AddFloats("CC_Day", {3, 3}, {0.4f, 0.35f, 0.18f, 0.21f, 0.72f, 0.07f, 0.02f, 0.12f, 0.95f});
             b.AddFloatRGB("G_Day", 1.2f, 1, 1.1f);
         },
         false, false, true},
    };
    for (const Case& c : cases) {
        Stage2Fixture f(96, 72, c.keys);
        if (c.inputNeutral) {
            f.request.m_adInputNeutral[0] = 0.9;
            f.request.m_adInputNeutral[1] = 1.0;
            f.request.m_adInputNeutral[2] = 0.8;
        }
        ASSERT_EQ(IPEngineStages::ProcessStage2(&f.request, 1), kCompleted) << c.name;
        // The same measurement made here on the final image, in the function's own order.
        double exposure, contrast, shadow, highlight, saturation;
        FDoubleRGB gains;
        CalculateAutoAdjustSettings(*f.imagePixmap, *FGlobalLUTsClass::GetCubeRootLUT(),
                                    *FGlobalLUTsClass::GetCubeLUT(), f.request.m_dRetinex, exposure, contrast,
                                    shadow, highlight, saturation, gains);
        const double* r = f.request.m_adAutoSettings;
        EXPECT_EQ(r[0], exposure) << c.name;
        EXPECT_EQ(r[1], shadow) << c.name;
        EXPECT_EQ(r[2], contrast) << c.name;
        EXPECT_EQ(r[3], highlight) << c.name;
        EXPECT_EQ(r[4], c.cl7 ? 0.0 : saturation) << c.name;
        const FDoubleRGB expected = c.presetNeutral ? gains : FDoubleRGB(1, 1, 1);
        EXPECT_EQ(f.request.m_adOutputNeutral[0], expected.r) << c.name;
        EXPECT_EQ(f.request.m_adOutputNeutral[2], expected.b) << c.name;
    }
}

} // namespace

namespace
{

// The user-interface side cancels while the worker develops, then posts the same record
// again: the result equals one uninterrupted run.
TEST_F(Stage2Test, CancelFromTheOtherThreadThenContinue)
{
    auto once = std::make_unique<Stage2Fixture>(128, 96, WithRedSharpen);
    ASSERT_EQ(IPEngineStages::ProcessStage2(&once->request, 1), kCompleted);
    const Outputs expected = Collect(*once);

    FIPEngine2 engine;
    auto f = std::make_unique<Stage2Fixture>(128, 96, WithRedSharpen);
    engine.Request(&f->request);
    f->request.m_Async.RequestCancel();
    ASSERT_TRUE(TickUntil([&] { return f->request.m_Async.IsFinal(); }, [&] { engine.Idle(); }));
    const int first = f->request.m_Async.GetState();
    EXPECT_TRUE(first == kCancelled || first == kCompleted) << first;
    int posts = 1;
    while (f->request.m_Async.GetState() == kCancelled && posts < 20) {
        f->request.m_Async.m_bCancel.store(0);
        engine.Request(&f->request);
        ++posts;
        ASSERT_TRUE(TickUntil([&] { return f->request.m_Async.IsFinal(); }, [&] { engine.Idle(); }));
    }
    EXPECT_EQ(f->request.m_Async.GetState(), kCompleted);
    EXPECT_TRUE(Collect(*f) == expected);
}

// The working storage a worker keeps from image to image: a run after a larger and a smaller
// image equals a run on a thread that never developed anything, at any thread count.
TEST_F(Stage2Test, KeptWorkingStorageGivesTheResultsOfFreshStorage)
{
    Outputs fresh;
    std::thread([&] {
        auto f = std::make_unique<Stage2Fixture>(128, 96, WithRedSharpen);
        ASSERT_EQ(IPEngineStages::ProcessStage2(&f->request, 1), kCompleted);
        fresh = Collect(*f);
    }).join();
    ASSERT_FALSE(fresh.image.empty());
    for (int threads : {1, 3}) {
        for (const auto& [w, h] : {std::pair{200, 150}, std::pair{96, 72}}) {
            Stage2Fixture other(w, h, WithRedSharpen);
            ASSERT_EQ(IPEngineStages::ProcessStage2(&other.request, threads), kCompleted);
        }
        auto f = std::make_unique<Stage2Fixture>(128, 96, WithRedSharpen);
        ASSERT_EQ(IPEngineStages::ProcessStage2(&f->request, threads), kCompleted);
        EXPECT_TRUE(Collect(*f) == fresh) << threads << " threads";
    }
}

// A development cancelled while its noise filter runs on the bands leaves the worker's kept
// tables and the page store fit for the next: that development, and the cancelled one
// continued, give the bits of fresh runs. Cancels land at several points of the filter.
TEST_F(Stage2Test, CancelledInTheNoiseFilterLeavesTheNextDevelopmentAsFresh)
{
    Outputs freshA, freshB;
    std::thread([&] {
        Stage2Fixture a(256, 180, WithRedSharpen), b(160, 120, WithRedSharpen);
        ASSERT_EQ(IPEngineStages::ProcessStage2(&a.request, 4), kCompleted);
        ASSERT_EQ(IPEngineStages::ProcessStage2(&b.request, 4), kCompleted);
        freshA = Collect(a);
        freshB = Collect(b);
    }).join();
    ASSERT_FALSE(freshB.image.empty());
    std::thread([&] {
        for (int delayMicroseconds : {0, 100, 300, 700, 1500, 3000}) {
            auto a = std::make_unique<Stage2Fixture>(256, 180, WithRedSharpen);
            std::thread canceller;
            a->request.m_StepObserver = [&](int step, bool) {
                if (step == 7)
                    canceller = std::thread([&, delayMicroseconds] {
                        std::this_thread::sleep_for(std::chrono::microseconds(delayMicroseconds));
                        a->request.m_Async.RequestCancel();
                    });
            };
            const int state = IPEngineStages::ProcessStage2(&a->request, 4);
            canceller.join();
            EXPECT_TRUE(state == kCancelled || state == kCompleted) << state;
            Stage2Fixture b(160, 120, WithRedSharpen);
            ASSERT_EQ(IPEngineStages::ProcessStage2(&b.request, 4), kCompleted);
            EXPECT_TRUE(Collect(b) == freshB) << "after a cancel " << delayMicroseconds << " us into step 8";
            a->request.m_StepObserver = nullptr;
            a->request.m_Async.m_bCancel.store(0);
            ASSERT_EQ(IPEngineStages::ProcessStage2(&a->request, 4), kCompleted);
            EXPECT_TRUE(Collect(*a) == freshA) << "continued after " << delayMicroseconds << " us";
        }
    }).join();
}

} // namespace

namespace
{

uint64_t Fnv1a(const std::vector<int16_t>& samples)
{
    uint64_t h = 1469598103934665603ull;
    const auto* bytes = reinterpret_cast<const uint8_t*>(samples.data());
    for (size_t i = 0; i < samples.size() * sizeof(int16_t); ++i)
        h = (h ^ bytes[i]) * 1099511628211ull;
    return h;
}

// Digests of the image after every step, taken on one thread before the steps were
// scheduled in bands: any schedule at any thread count must give these bits.
TEST_F(Stage2Test, EveryStepPinnedToTheBitAtEveryThreadCount)
{
    const uint64_t pinned[14] = {0x03ed048b45fc3294ull, 0x03ed048b45fc3294ull, 0xbe486bb72c3203abull,
                                 0xaf6810dee050edc9ull, 0x07b674500b609d39ull, 0x38d09b0a43ad93e1ull,
                                 0x6ad220b928518c1cull, 0xfc72ee7f09f08941ull, 0x6272899fb2658869ull,
                                 0x4aa10f89430a1209ull, 0x4aa10f89430a1209ull, 0x4aa10f89430a1209ull,
                                 0x4aa10f89430a1209ull, 0x4aa10f89430a1209ull};
    for (int threads : {1, 2, 3, 8, 13}) {
        Stage2Fixture f(301, 203, WithRedSharpen);
        std::vector<uint64_t> digests(14, 0);
        f.request.m_StepObserver = [&](int step, bool) {
            digests[static_cast<size_t>(step)] = Fnv1a(f.image);
        };
        ASSERT_EQ(IPEngineStages::ProcessStage2(&f.request, threads), kCompleted);
        for (int step = 0; step < 14; ++step) {
            EXPECT_EQ(digests[static_cast<size_t>(step)], pinned[step])
                << "step " << step << ", " << threads << " threads";
        }
    }
}

} // namespace

namespace
{

// The smallest, the widest and a tall image: at many threads (bands of no or one row, halos
// beyond both edges, several bands a thread) the outcome is the one thread's, error or image.
TEST_F(Stage2Test, TinyAndVeryWideImagesEndAsOnOneThread)
{
    auto run = [](int w, int h, int threads, Outputs& out) {
        auto f = std::make_unique<Stage2Fixture>(w, h, WithRedSharpen);
        std::string outcome;
        try {
            outcome = std::to_string(IPEngineStages::ProcessStage2(&f->request, threads));
        } catch (const IPEngineStages::FIPEStatusError& e) {
            outcome = "status " + std::to_string(e.m_iCode) + " " + e.m_pText;
        } catch (const FException& e) {
            outcome = e.GetMessage();
        }
        out = Collect(*f);
        return outcome;
    };
    for (const auto& [w, h] :
         {std::pair{1, 1}, std::pair{2, 3}, std::pair{7, 1}, std::pair{65000, 3}, std::pair{65000, 11},
          // Tall enough for several bands a thread in every banded step.
          std::pair{96, 2600}}) {
        Outputs one, many;
        const std::string first = run(w, h, 1, one);
        EXPECT_EQ(run(w, h, 8, many), first) << w << "x" << h;
        EXPECT_TRUE(many == one) << w << "x" << h << ": " << first;
    }
}

} // namespace
