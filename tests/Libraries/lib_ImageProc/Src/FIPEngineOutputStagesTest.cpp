#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "EngineTestSupport.h"
#include "FCamdata.h"
#include "FCamdataBuilder.h"
#include "FIPERequest.h"
#include "FIPEngine2.h"
#include "FIPEngineStages.h"
#include "FPixelProc2.h"
#include "FSyntheticCapture.h"

namespace
{

constexpr int kW = 256, kH = 192;

// Stage-2-like inputs: a developed synthetic capture and a retinex plane, with its camera
// data.
struct OutputFixture {
    std::vector<uint8_t> camBytes;
    std::unique_ptr<FCamdata> cam;
    FSyntheticCapture capture = MakeSyntheticCapture(kW, kH);
    std::vector<int16_t> stage2 = std::vector<int16_t>(3 * kW * kH);
    std::vector<int16_t> rtnx = std::vector<int16_t>(kW * kH);
    FPixmap48SRGB stage2Pixmap{stage2.data(), kW, kH, 0};
    FPixmap16SMono rtnxPixmap{rtnx.data(), kW, kH, 0};
    int temp = 0;

    OutputFixture()
    {
        FCamdataBuilder b;
        AddPlausibleCalibration(b, kW, kH);
        camBytes = b.Build();
        cam = std::make_unique<FCamdata>(camBytes.data(), camBytes.size());
        FPixmap48RGB raw(capture.raw.data(), kW, kH, 0), dark(capture.dark.data(), kW, kH, 0);
        FIPERequestStage1 s1;
        s1.m_pRawImage = &raw;
        s1.m_pDarkImage = &dark;
        s1.m_pOutImage = &stage2Pixmap;
        s1.m_pCambData = cam.get();
        IPEngineStages::ProcessStage1(&s1, 1);
        for (int y = 0; y < kH; ++y)
            for (int x = 0; x < kW; ++x)
                rtnx[y * kW + x] = static_cast<int16_t>((x * 37 + y * 11) % 4000);
    }
};

// The three stage-3 outputs of one rectangle.
struct Stage3Out {
    int cols, rows;
    std::vector<int16_t> color, l, rtnx;
    FPixmap48SRGB colorPixmap;
    FPixmap16SMono lPixmap, rtnxPixmap;
    Stage3Out(int c, int r)
        : cols(c), rows(r), color(3 * c * r, 0), l(c * r, 0), rtnx(c * r, 0),
          colorPixmap(color.data(), c, r, 0), lPixmap(l.data(), c, r, 0), rtnxPixmap(rtnx.data(), c, r, 0)
    {
    }
};

int RunStage3(OutputFixture& f, Stage3Out& out, int outCols, int outRows, const FRect& crop, int rotation,
              int threads, bool olderModel = true)
{
    FIPERequestStage3 r;
    r.m_pStage2Image = &f.stage2Pixmap;
    r.m_pStage2ImageRtnx = &f.rtnxPixmap;
    r.m_iOutCols = outCols;
    r.m_iOutRows = outRows;
    r.m_rCrop = crop;
    r.m_iRotation = rotation;
    const bool turned = rotation == 90 || rotation == 270;
    r.m_iRawCols = turned ? kH : kW;
    r.m_iRawRows = turned ? kW : kH;
    r.m_pCambData = f.cam.get();
    r.m_pTempData = &f.temp;
    r.m_pOutImage = &out.colorPixmap;
    r.m_pOutImageL = &out.lPixmap;
    r.m_pOutImageRtnx = &out.rtnxPixmap;
    r.m_bGreenWeighting = olderModel ? 1 : 0;
    return IPEngineStages::ProcessStage3(&r, threads);
}

using OutputStageTest = FEngineTest;

TEST_F(OutputStageTest, Stage3BandWithMarginEqualsTheFullRender)
{
    OutputFixture f;
    for (int rotation : {0, 90}) {
        const int outCols = rotation == 0 ? 200 : 150;
        const int outRows = rotation == 0 ? 150 : 200;
        Stage3Out full(outCols, outRows);
        ASSERT_EQ(RunStage3(f, full, outCols, outRows, FRect(0, 0, outCols, outRows), rotation, 1),
                  kCompleted);
        Stage3Out threaded(outCols, outRows);
        RunStage3(f, threaded, outCols, outRows, FRect(0, 0, outCols, outRows), rotation, 4);
        EXPECT_EQ(threaded.color, full.color) << rotation;
        EXPECT_EQ(threaded.l, full.l) << rotation;
        EXPECT_EQ(threaded.rtnx, full.rtnx) << rotation;

        // Rows 40 to 79 rendered with two rows of margin on each side.
        const int top = 40, bottom = 80, margin = 2;
        Stage3Out band(outCols, bottom - top + 2 * margin);
        RunStage3(f, band, outCols, outRows, FRect(0, top - margin, outCols, bottom + margin), rotation, 3);
        for (int y = top; y < bottom; ++y) {
            const int by = y - top + margin;
            ASSERT_EQ(std::memcmp(band.colorPixmap.GetRow(by), full.colorPixmap.GetRow(y), 6 * outCols), 0)
                << rotation << " row " << y;
            ASSERT_EQ(std::memcmp(band.lPixmap.GetRow(by), full.lPixmap.GetRow(y), 2 * outCols), 0)
                << rotation << " row " << y;
            ASSERT_EQ(std::memcmp(band.rtnxPixmap.GetRow(by), full.rtnxPixmap.GetRow(y), 2 * outCols), 0)
                << rotation << " row " << y;
        }
    }
    // A newer model has no green weighting whatever the data: a different colour image.
    Stage3Out older(200, 150), newer(200, 150);
    RunStage3(f, older, 200, 150, FRect(0, 0, 200, 150), 0, 2, true);
    RunStage3(f, newer, 200, 150, FRect(0, 0, 200, 150), 0, 2, false);
    EXPECT_NE(older.color, newer.color);

    // Without the three green keys an older model takes 0.001, 200 and -120, the values the
    // plausible calibration states outright.
    FCamdataBuilder b;
    b.AddRect("KeepImageArea", 0, 0, kW - 1, kH - 1);
    b.AddRect("ActiveImageArea", 16, 12, kW - 17, kH - 13);
    std::vector<uint8_t> bytes = b.Build();
    auto bare = std::make_unique<FCamdata>(bytes.data(), bytes.size());
    std::swap(f.cam, bare);
    Stage3Out defaults(200, 150);
    RunStage3(f, defaults, 200, 150, FRect(0, 0, 200, 150), 0, 2, true);
    std::swap(f.cam, bare);
    EXPECT_EQ(defaults.color, older.color);
}

TEST_F(OutputStageTest, Stage3RefusesRectanglesOutsideTheOutput)
{
    OutputFixture f;
    const FRect bad[] = {{-1, 0, 10, 10}, {0, 0, 201, 10}, {5, 5, 5, 10}, {0, 10, 10, 5}, {0, 0, 10, 151}};
    for (const FRect& crop : bad) {
        Stage3Out out(200, 150);
        EXPECT_THROW(RunStage3(f, out, 200, 150, crop, 0, 2), FException) << crop.left << "," << crop.right;
        EXPECT_EQ(out.color, std::vector<int16_t>(out.color.size(), 0));
    }
    Stage3Out tooSmall(100, 150);
    EXPECT_THROW(RunStage3(f, tooSmall, 200, 150, FRect(0, 0, 200, 150), 0, 2), FException);
    Stage3Out turned(200, 150);
    EXPECT_THROW(RunStage3(f, turned, 200, 150, FRect(0, 0, 200, 150), 45, 2), FException);
}

// The stage-3 result of the fixture with a tone table, ready for stage 4.
struct Stage4Fixture {
    OutputFixture f;
    Stage3Out s3{200, 150};
    std::vector<int16_t> tone = std::vector<int16_t>(3 * 65536);
    std::vector<int16_t> rtnxLUT = std::vector<int16_t>(65536, 256); // gain 1
    Stage4Fixture()
    {
        RunStage3(f, s3, 200, 150, FRect(0, 0, 200, 150), 0, 1);
        FIPERequestGenerateToneLUT t;
        t.m_dExposure = 0.2;
        t.m_pToneLUT = tone.data();
        EXPECT_EQ(IPEngineStages::GenerateToneLUT(&t), kCompleted);
    }
    void Fill(FIPERequestStage4& r, FPixmap* out, const FCamdata* cam)
    {
        r.m_pStage3Image = &s3.colorPixmap;
        r.m_pStage3ImageL = &s3.lPixmap;
        r.m_pStage3ImageRtnx = &s3.rtnxPixmap;
        r.m_pCambData = cam;
        r.m_pToneLUT = tone.data();
        r.m_pRtnxLUT = rtnxLUT.data();
        r.m_dSaturation = 0.3;
        r.m_dSharpness = 0.5;
        r.m_pOutImage = out;
    }
};

TEST_F(OutputStageTest, Stage4OutputTypesAndThreads)
{
    Stage4Fixture s;
    struct Case {
        int type;
        int bytesPerPixel;
    };
    for (const Case& c :
         {Case{FPixmap::PIXEL_24_RGB, 3}, Case{FPixmap::PIXEL_32_BGRA, 4}, Case{FPixmap::PIXEL_48_RGB, 6}}) {
        std::vector<uint8_t> one(200 * 150 * c.bytesPerPixel), many(one.size());
        std::unique_ptr<FPixmap> onePixmap(NewFPixmap(c.type, one.data(), 200, 150, 0));
        std::unique_ptr<FPixmap> manyPixmap(NewFPixmap(c.type, many.data(), 200, 150, 0));
        FIPERequestStage4 a, b;
        s.Fill(a, onePixmap.get(), s.f.cam.get());
        s.Fill(b, manyPixmap.get(), s.f.cam.get());
        ASSERT_EQ(IPEngineStages::ProcessStage4(&a, 1), kCompleted);
        ASSERT_EQ(IPEngineStages::ProcessStage4(&b, 4), kCompleted);
        EXPECT_EQ(one, many) << c.type;
        EXPECT_NE(one, std::vector<uint8_t>(one.size(), 0)) << c.type;
        if (c.type == FPixmap::PIXEL_48_RGB) {
            // A 16-bit transfer table: codes beyond the 8-bit range occur.
            const uint16_t* words = reinterpret_cast<const uint16_t*>(one.data());
            EXPECT_GT(*std::max_element(words, words + 3 * 200 * 150), 255);
        }
    }
}

TEST_F(OutputStageTest, Stage4MatrixAndSkipFlags)
{
    const FColorMatrix newer = IPEngineStages::Stage4OutputMatrix(2, 0.3, false, 0);
    for (int i = 0; i < 3; ++i)
        for (int j = 0; j < 3; ++j)
            EXPECT_NEAR(newer.m[i][j], i == j ? 1.1 : -0.05, 1e-12);
    EXPECT_EQ(IPEngineStages::Stage4OutputMatrix(2, 0.3, true, 0x40000), newer);
    FColorMatrix own;
    ComputeOutputMatrix(own, 2, 0.3);
    EXPECT_EQ(IPEngineStages::Stage4OutputMatrix(2, 0.3, true, 0), own);
    EXPECT_EQ(IPEngineStages::Stage4OutputMatrix(2, 0.3, true, 0x3FFFF), own);

    // Camera data that switches the matrix off; without camera data the flags are 0.
    Stage4Fixture s;
    FCamdataBuilder b;
    b.AddUInt32("SkipStepFlags", 0x40000);
    const std::vector<uint8_t> bytes = b.Build();
    std::vector<uint8_t> copy = bytes;
    FCamdata skip(copy.data(), copy.size());
    auto render = [&](const FCamdata* cam) {
        std::vector<uint8_t> px(200 * 150 * 4);
        FPixmap_Display out(px.data(), 200, 150, 0);
        FIPERequestStage4 r;
        s.Fill(r, &out, cam);
        r.m_bOlderModel = 1;
        IPEngineStages::ProcessStage4(&r, 2);
        return px;
    };
    EXPECT_EQ(render(nullptr), render(s.f.cam.get())); // the plausible data has no flags
    EXPECT_NE(render(nullptr), render(&skip));
}

TEST_F(OutputStageTest, BadRequestsThroughTheEngine)
{
    Stage4Fixture s;
    FIPEngine2 engine;
    auto run = [&](FIPERequest& r) {
        engine.Request(&r);
        EXPECT_TRUE(TickUntil([&] { return r.m_Async.IsFinal(); }, [&] { engine.Idle(); }));
        return std::string(r.m_Async.m_usErrorText.GetNarrow());
    };
    std::vector<uint8_t> px(200 * 150 * 6, 0xEE);
    FPixmap48SRGB wrongType(px.data(), 200, 150, 0);
    FIPERequestStage4 badType;
    s.Fill(badType, &wrongType, nullptr);
    EXPECT_NE(run(badType).find("unknown output pixel type"), std::string::npos);
    EXPECT_EQ(badType.m_Async.GetErrorCode(), kErrException);

    FPixmap_Display tall(px.data(), 200, 160, 0);
    FIPERequestStage4 planesTooSmall;
    s.Fill(planesTooSmall, &tall, nullptr);
    EXPECT_NE(run(planesTooSmall).find("image sizes do not match"), std::string::npos);

    FPixmap_Display out(px.data(), 200, 150, 0);
    FIPERequestStage4 space;
    s.Fill(space, &out, nullptr);
    space.m_iColorSpace = 12;
    EXPECT_NE(run(space).find("Unknown Color Space"), std::string::npos);

    // Display requests: a turn that is not a quarter leaves the destination alone; 0
    // degrees copies.
    std::vector<uint8_t> in(16 * 8 * 4), dst(16 * 8 * 4, 0x55);
    for (size_t i = 0; i < in.size(); ++i)
        in[i] = static_cast<uint8_t>(i * 7);
    FPixmap_Display inPixmap(in.data(), 16, 8, 0), dstPixmap(dst.data(), 16, 8, 0);
    FIPERequestCropSizeRotate crop;
    crop.m_pInImage = &inPixmap;
    crop.m_pOutImage = &dstPixmap;
    crop.m_iOutCols = 16;
    crop.m_iOutRows = 8;
    crop.m_rCrop = FRect(0, 0, 16, 8);
    crop.m_iRotation = 45;
    EXPECT_NE(run(crop).find("CropSizeRotate: rotation is not multiple of 90 degrees."), std::string::npos);
    EXPECT_EQ(crop.m_Async.GetErrorCode(), kErrException);
    EXPECT_EQ(dst, std::vector<uint8_t>(dst.size(), 0x55));
    crop.m_iRotation = 0;
    run(crop);
    EXPECT_EQ(crop.m_Async.GetState(), kCompleted);
    EXPECT_EQ(dst, in);

    std::vector<uint8_t> turned(16 * 8 * 4, 0);
    FPixmap_Display turnedPixmap(turned.data(), 16, 8, 0);
    FIPERequestRotate rotate;
    rotate.m_pInImage = &inPixmap;
    rotate.m_pOutImage = &turnedPixmap;
    run(rotate);
    EXPECT_EQ(rotate.m_Async.GetState(), kCompleted);
    EXPECT_EQ(turned, in);
    FPixmap48SRGB notDisplay(turned.data(), 8, 8, 0);
    rotate.m_pOutImage = &notDisplay;
    run(rotate);
    EXPECT_EQ(rotate.m_Async.GetErrorCode(), kErrException);
}

// Settings that are not numbers never reach a pixel: the tone table and stage 4 refuse them
// with their texts and leave the destination alone (a saturation that is not a number used
// to give a black picture reported as complete).
TEST_F(OutputStageTest, NonFiniteSettingsAreRefused)
{
    const double nan = std::nan("");
    const double inf = HUGE_VAL;
    FIPEngine2 engine;
    auto run = [&](FIPERequest& r) {
        engine.Request(&r);
        EXPECT_TRUE(TickUntil([&] { return r.m_Async.IsFinal(); }, [&] { engine.Idle(); }));
        EXPECT_EQ(r.m_Async.GetErrorCode(), kErrException);
        return std::string(r.m_Async.m_usErrorText.GetNarrow());
    };
    Stage4Fixture s;
    for (double bad : {nan, inf, -inf}) {
        SCOPED_TRACE(bad);
        std::vector<int16_t> tone(3 * 65536, 7);
        FIPERequestGenerateToneLUT t;
        t.m_pToneLUT = tone.data();
        t.m_dContrast = bad;
        EXPECT_NE(run(t).find("not a finite number"), std::string::npos);
        EXPECT_EQ(tone, std::vector<int16_t>(tone.size(), 7));

        std::vector<uint8_t> out(200 * 150 * 3, 0x11);
        FPixmap24RGB outPixmap(out.data(), 200, 150, 0);
        FIPERequestStage4 sharpness, saturation;
        s.Fill(sharpness, &outPixmap, s.f.cam.get());
        sharpness.m_dSharpness = bad;
        EXPECT_NE(run(sharpness).find("detail gain is not a number"), std::string::npos);
        s.Fill(saturation, &outPixmap, s.f.cam.get());
        saturation.m_dSaturation = bad;
        EXPECT_NE(run(saturation).find("Stage 4: saturation is not a number."), std::string::npos);
        EXPECT_EQ(out, std::vector<uint8_t>(out.size(), 0x11));
    }
}

} // namespace

namespace
{

// A streamed render of the fixture's stage 2; rows as the sink received them, in order.
struct Streamed {
    std::vector<uint8_t> bytes;
    std::vector<int> heights;
    int state = 0;
    std::string error;
};

Streamed Stream(Stage4Fixture& s, int outCols, int outRows, const FRect& crop, int stripRows, int threads,
                const std::function<void(FIPERequestStreamOutput&, int call)>& onRows = {})
{
    FIPERequestStreamOutput r;
    FIPERequestStage3& s3 = r.m_Stage3;
    s3.m_pStage2Image = &s.f.stage2Pixmap;
    s3.m_pStage2ImageRtnx = &s.f.rtnxPixmap;
    s3.m_iOutCols = outCols;
    s3.m_iOutRows = outRows;
    s3.m_rCrop = crop;
    s3.m_iRawCols = kW;
    s3.m_iRawRows = kH;
    s3.m_pCambData = s.f.cam.get();
    s3.m_bGreenWeighting = 1;
    s.Fill(r.m_Stage4, nullptr, s.f.cam.get());
    r.m_iOutputType = FPixmap::PIXEL_48_RGB;
    r.m_iStripRows = stripRows;
    Streamed out;
    r.m_WriteRows = [&](const FPixmap& rows) {
        if (onRows)
            onRows(r, int(out.heights.size()));
        out.heights.push_back(rows.GetRows());
        for (int y = 0; y < rows.GetRows(); ++y)
            out.bytes.insert(out.bytes.end(), rows.GetRowAddress(y),
                             rows.GetRowAddress(y) + 6 * rows.GetCols());
    };
    try {
        out.state = IPEngineStages::StreamOutput(&r, threads);
    } catch (const FException& e) {
        out.error = e.GetMessage();
    }
    return out;
}

} // namespace

TEST_F(OutputStageTest, StreamedStripsEqualTheWholeRenderOnEveryThreadCount)
{
    Stage4Fixture s;
    std::vector<uint8_t> whole(200 * 150 * 6);
    std::unique_ptr<FPixmap> pixmap(NewFPixmap(FPixmap::PIXEL_48_RGB, whole.data(), 200, 150, 0));
    FIPERequestStage4 r;
    s.Fill(r, pixmap.get(), s.f.cam.get());
    ASSERT_EQ(IPEngineStages::ProcessStage4(&r, 1), kCompleted);
    for (int threads : {1, 3, 8}) {
        const Streamed out = Stream(s, 200, 150, FRect(0, 0, 200, 150), 40, threads);
        EXPECT_EQ(out.state, kCompleted) << out.error;
        EXPECT_EQ(out.heights, (std::vector<int>{40, 40, 40, 30})) << threads;
        EXPECT_EQ(out.bytes, whole) << threads;
    }
    // One pixel, one strip.
    const Streamed tiny = Stream(s, 1, 1, FRect(0, 0, 1, 1), 100, 4);
    EXPECT_EQ(tiny.state, kCompleted) << tiny.error;
    EXPECT_EQ(tiny.heights, std::vector<int>{1});
}

TEST_F(OutputStageTest, StreamEndsOnASinkErrorOrACancelAfterWholeStrips)
{
    Stage4Fixture s;
    for (int threads : {1, 4}) {
        SCOPED_TRACE(threads);
        const Streamed failed = Stream(s, 200, 150, FRect(0, 0, 200, 150), 10, threads, [](auto&, int call) {
            if (call == 2)
                throw FExceptionFileIO("disk full");
        });
        EXPECT_NE(failed.error.find("disk full"), std::string::npos) << failed.error;
        EXPECT_EQ(failed.heights.size(), 2u);

        const Streamed cancelled =
            Stream(s, 200, 150, FRect(0, 0, 200, 150), 10, threads, [](FIPERequestStreamOutput& r, int call) {
                if (call == 3)
                    r.m_Async.RequestCancel();
            });
        EXPECT_EQ(cancelled.state, kCancelled) << cancelled.error;
        EXPECT_GE(cancelled.heights.size(), 4u);
        EXPECT_LT(cancelled.heights.size(), 15u);
        EXPECT_EQ(cancelled.bytes.size(), cancelled.heights.size() * 10 * 200 * 6);
    }
    for (const FRect& crop : {FRect(0, 0, 201, 150), FRect(0, 10, 200, 10), FRect(-1, 0, 20, 20)})
        EXPECT_FALSE(Stream(s, 200, 150, crop, 10, 2).error.empty()) << crop.left << "," << crop.bottom;
    EXPECT_FALSE(Stream(s, 200, 150, FRect(0, 0, 200, 150), 0, 2).error.empty());
}
