#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "EngineTestSupport.h"
#include "FCamdata.h"
#include "FCamdataBuilder.h"
#include "FException.h"
#include "FIPERequest.h"
#include "FIPEngine2.h"
#include "FIPEngineStages.h"
#include "FSyntheticCapture.h"

namespace
{

// Camera data parsed over a buffer this object keeps.
struct Camdata {
    std::vector<uint8_t> bytes;
    std::unique_ptr<FCamdata> parsed;
    explicit Camdata(FCamdataBuilder& builder) : bytes(builder.Build())
    {
        parsed = std::make_unique<FCamdata>(bytes.data(), bytes.size());
    }
};

// A capture with its stage-1 output buffer.
struct Stage1Fixture {
    FSyntheticCapture capture;
    std::vector<int16_t> out;
    FPixmap48RGB raw, dark;
    FPixmap48SRGB outPixmap;
    explicit Stage1Fixture(int w, int h)
        : capture(MakeSyntheticCapture(w, h)), out(3 * static_cast<size_t>(w) * h, 0),
          raw(capture.raw.data(), w, h, 0), dark(capture.dark.data(), w, h, 0), outPixmap(out.data(), w, h, 0)
    {
    }
    void Fill(FIPERequestStage1& r, const FCamdata* camdata)
    {
        r.m_pRawImage = &raw;
        r.m_pDarkImage = &dark;
        r.m_pOutImage = &outPixmap;
        r.m_pCambData = camdata;
    }
};

using StageTest = FEngineTest;

TEST_F(StageTest, Stage1OnASyntheticCapture)
{
    FCamdataBuilder builder;
    AddPlausibleCalibration(builder, 256, 192);
    Camdata cam(builder);
    for (int threads : {1, 4}) {
        Stage1Fixture f(256, 192);
        FIPERequestStage1 r;
        f.Fill(r, cam.parsed.get());
        EXPECT_EQ(IPEngineStages::ProcessStage1(&r, threads), kCompleted);
        // Identity tables: the scene comes back exactly; the dark shield is 64, clipping 4000.
        const FRect& card = f.capture.greyCard;
        const int16_t* p = f.outPixmap.GetPixel((card.left + card.right) / 2, (card.top + card.bottom) / 2);
        EXPECT_EQ(p[0], FSyntheticCapture::kGreyLevel);
        EXPECT_EQ(p[1], FSyntheticCapture::kGreyLevel);
        EXPECT_EQ(p[2], FSyntheticCapture::kGreyLevel);
        for (int c = 0; c < 3; ++c) {
            EXPECT_EQ(r.m_aiSaturationLevel[c], 4000);
            EXPECT_EQ(r.m_aiDarkShieldLevel[c], FSyntheticCapture::kDarkLevel);
        }
        EXPECT_EQ(r.m_ResumeState[kResumeTag], kResumeTagStage1);
        EXPECT_EQ(r.m_ResumeState[kResumeNextRow], 192u);
        EXPECT_EQ(r.m_Async.GetProgress(), 1.0);
    }
}

// A 6 x 5 image whose tables double every value; a column offset from a known dark frame.
struct TinyStage1 {
    static constexpr int W = 6, H = 5;
    std::vector<uint16_t> raw = std::vector<uint16_t>(3 * W * H), dark = std::vector<uint16_t>(3 * W * H);
    std::vector<int16_t> out = std::vector<int16_t>(3 * W * H, -1);
    FPixmap48RGB rawPixmap{raw.data(), W, H, 0}, darkPixmap{dark.data(), W, H, 0};
    FPixmap48SRGB outPixmap{out.data(), W, H, 0};
    TinyStage1()
    {
        for (int i = 0; i < 3 * W * H; ++i) {
            dark[i] = static_cast<uint16_t>(10 + i % 3);
            raw[i] = static_cast<uint16_t>(100 + i);
        }
    }
};

void AddDoublingTables(FCamdataBuilder& b)
{
    std::vector<int16_t> lut(3 * 1024);
    for (int c = 0; c < 3; ++c)
        for (int i = 0; i < 1024; ++i)
            lut[c * 1024 + i] = static_cast<int16_t>(2 * i);
    b.AddInt16s("LinLUTs", {3, 1024}, lut);
}

TEST_F(StageTest, Stage1KnownValuesTable)
{
    struct Case {
        const char* name;
        bool tables;
        std::vector<uint32_t> offsetRows; // empty: key absent
        std::vector<int16_t> saturation;
        std::vector<int32_t> shield; // sensor rectangle, inclusive
        bool invalidTrace;
        int32_t sat0, shield0;
    };
    // Dark red samples are 10, 11 or 12 (i % 3 at i = 3 x pixel is 0): red dark is 10.
    const std::vector<Case> cases = {
        {"no tables", false, {}, {0, 0, 0}, {0, 0, 5, 1}, false, 0, 0},
        {"tables", true, {}, {500, 500, 500}, {0, 0, 5, 1}, false, 1000, 20},
        {"rows 10 5 1 invalid", true, {10, 5, 1}, {500, 500, 500}, {0, 0, 5, 1}, true, 1000, 20},
        {"step 0 invalid", true, {0, 4, 0}, {0, 0, 0}, {0, 0, 5, 1}, true, 0, 0},
        {"wrong shape", true, {0, 4}, {0, 0, 0}, {0, 0, 5, 1}, true, 0, 0},
        {"offset", true, {0, 4, 1}, {0, 0, 0}, {0, 0, 5, 1}, false, 0, 0},
        {"shield below image", true, {}, {500, 500, 500}, {0, 7, 5, 9}, false, 0, 0},
        {"shield clipped", true, {}, {500, 500, 500}, {-3, 3, 50, 50}, false, 1000, 20},
        {"no tables raw levels", false, {}, {500, 500, 500}, {0, 0, 5, 1}, false, 500, 10},
    };
    for (const Case& c : cases) {
        FCamdataBuilder b;
        if (c.tables)
            AddDoublingTables(b);
        if (!c.offsetRows.empty())
            b.AddUInt32s("RawOffsetSourceRows", {static_cast<uint32_t>(c.offsetRows.size())}, c.offsetRows);
        b.AddUInt32("RawOffsetFilterShift", 2);
        b.AddInt16s("RawSaturationLevel", {3}, c.saturation);
        b.AddRect("KeepImageArea", 0, 0, 5, 4);
        b.AddRect("DarkShieldTop", c.shield[0], c.shield[1], c.shield[2], c.shield[3]);
        Camdata cam(b);
        TinyStage1 t;
        FIPERequestStage1 r;
        r.m_pRawImage = &t.rawPixmap;
        r.m_pDarkImage = &t.darkPixmap;
        r.m_pOutImage = &t.outPixmap;
        r.m_pCambData = cam.parsed.get();
        Trace().Clear();
        ASSERT_EQ(IPEngineStages::ProcessStage1(&r, 1), kCompleted) << c.name;
        EXPECT_EQ(Trace().Contains("Camdata raw offset row parameters 'RawOffsetSourceRows' invalid.\n"),
                  c.invalidTrace)
            << c.name;
        EXPECT_EQ(r.m_aiSaturationLevel[0], c.sat0) << c.name;
        EXPECT_EQ(r.m_aiDarkShieldLevel[0], c.shield0) << c.name;
        // Every sample is (raw - dark), doubled through the tables; a column offset moves raw
        // and dark alike and so cancels.
        for (int i = 0; i < 3 * TinyStage1::W * TinyStage1::H; ++i) {
            const int expected = (c.tables ? 2 : 1) * (t.raw[i] - t.dark[i]);
            ASSERT_EQ(t.out[i], expected) << c.name << " sample " << i;
        }
    }
}

TEST_F(StageTest, Stage1CancelledThenContinuedEqualsOneRun)
{
    FCamdataBuilder builder;
    AddPlausibleCalibration(builder, 128, 96);
    Camdata cam(builder);
    Stage1Fixture whole(128, 96);
    FIPERequestStage1 once;
    whole.Fill(once, cam.parsed.get());
    ASSERT_EQ(IPEngineStages::ProcessStage1(&once, 1), kCompleted);

    Stage1Fixture parts(128, 96);
    FIPERequestStage1 first;
    parts.Fill(first, cam.parsed.get());
    first.m_Async.RequestCancel();
    EXPECT_EQ(IPEngineStages::ProcessStage1(&first, 4), kCancelled);
    EXPECT_LT(first.m_Async.GetProgress(), 1.0);
    EXPECT_EQ(first.m_ResumeState[kResumeNextRow], 96u);
    EXPECT_EQ(parts.out, whole.out); // all rows are done even when cancelled

    // Continued with the saved state: only the levels are redone.
    FIPERequestStage1 again;
    parts.Fill(again, cam.parsed.get());
    std::memcpy(again.m_ResumeState, first.m_ResumeState, sizeof(again.m_ResumeState));
    std::fill(parts.out.begin(), parts.out.begin() + 30, int16_t{-7}); // untouched by the rerun
    EXPECT_EQ(IPEngineStages::ProcessStage1(&again, 1), kCompleted);
    EXPECT_EQ(parts.out[0], -7);
    EXPECT_EQ(
        std::memcmp(again.m_aiSaturationLevel, once.m_aiSaturationLevel, sizeof(once.m_aiSaturationLevel)),
        0);
    EXPECT_EQ(
        std::memcmp(again.m_aiDarkShieldLevel, once.m_aiDarkShieldLevel, sizeof(once.m_aiDarkShieldLevel)),
        0);

    // Resumed half way: the second half is computed, identical to one run.
    Stage1Fixture half(128, 96);
    std::copy(whole.out.begin(), whole.out.begin() + whole.out.size() / 2, half.out.begin());
    FIPERequestStage1 resumed;
    half.Fill(resumed, cam.parsed.get());
    resumed.m_ResumeState[kResumeTag] = kResumeTagStage1;
    resumed.m_ResumeState[kResumeNextRow] = 48;
    resumed.m_ResumeState[7] = 0xABCD; // words the stage does not use are carried
    EXPECT_EQ(IPEngineStages::ProcessStage1(&resumed, 3), kCompleted);
    EXPECT_EQ(half.out, whole.out);
    EXPECT_EQ(resumed.m_ResumeState[7], 0xABCDu);
}

TEST_F(StageTest, Stage1BadImagesEndInErrors)
{
    FCamdataBuilder builder;
    AddDoublingTables(builder);
    Camdata cam(builder);
    TinyStage1 t;
    std::vector<int16_t> small(3 * 4 * 4);
    FPixmap48SRGB smallOut(small.data(), 4, 4, 0);
    FPixmap48RGB shortRows(t.raw.data(), TinyStage1::W, TinyStage1::H, 8); // 8 bytes hold 1 of 6 pixels
    struct Case {
        FPixmap48RGB* raw;
        FPixmap48SRGB* out;
        std::string text;
    };
    const Case cases[] = {{&t.rawPixmap, &smallOut, "Pixel processing2 exception"},
                          {&shortRows, &t.outPixmap, "Stage 1: raw image rows shorter than their pixels."}};
    FIPEngine2 engine;
    for (const Case& c : cases) {
        FIPERequestStage1 r;
        r.m_pRawImage = c.raw;
        r.m_pDarkImage = &t.darkPixmap;
        r.m_pOutImage = c.out;
        r.m_pCambData = cam.parsed.get();
        engine.Request(&r);
        ASSERT_TRUE(TickUntil([&] { return r.m_Async.IsFinal(); }, [&] { engine.Idle(); }));
        EXPECT_EQ(r.m_Async.GetErrorCode(), kErrException);
        EXPECT_NE(std::string(r.m_Async.m_usErrorText.GetNarrow()).find(c.text), std::string::npos)
            << r.m_Async.m_usErrorText.GetNarrow();
    }
    EXPECT_EQ(small, std::vector<int16_t>(small.size(), 0)); // refused before any row was written
}

} // namespace
