#include <gtest/gtest.h>

#include <cmath>
#include <functional>
#include <limits>
#include <memory>
#include <string>
#include <vector>

#include "EngineTestSupport.h"
#include "FCamdata.h"
#include "FCamdataBuilder.h"
#include "FIPERequest.h"
#include "FIPEStage2Calls.h"
#include "FIPEStage2Setup.h"
#include "FPixelProc2.h"
#include "FPropList.h"

namespace
{

constexpr int kW = 16, kH = 12;
const float kNaN = std::numeric_limits<float>::quiet_NaN();

// One stage-2 request over a small image with its camera data and capture properties.
struct SetupFixture {
    std::vector<uint8_t> camBytes;
    std::unique_ptr<FCamdata> cam;
    FPropList props{nullptr, "Capture"};
    std::vector<int16_t> pixels = std::vector<int16_t>(3 * kW * kH, 1000);
    FPixmap48SRGB image{pixels.data(), kW, kH, 0};
    FIPERequestStage2 request;

    explicit SetupFixture(const std::function<void(FCamdataBuilder&)>& keys)
    {
        FCamdataBuilder b;
        b.AddRect("KeepImageArea", 0, 0, kW - 1, kH - 1);
        b.AddRect("ActiveImageArea", 2, 2, kW - 3, kH - 3);
        b.AddInt16s("SaturationLevel", {3}, {3900, 3900, 3900});
        b.AddFloats("CamToXYZ", {3, 3},
                    {0.4124f, 0.3576f, 0.1805f, 0.2126f, 0.7152f, 0.0722f, 0.0193f, 0.1192f, 0.9505f});
        keys(b);
        camBytes = b.Build();
        cam = std::make_unique<FCamdata>(camBytes.data(), camBytes.size());
        request.m_pCambData = cam.get();
        request.m_pCaptureProps = &props;
        request.m_pStage1Image = &image;
    }
    FStage2Params Run()
    {
        FStage2Params p;
        Stage2Setup::Run(request, p);
        return p;
    }
};

void NoKeys(FCamdataBuilder&) {}

TEST_F(FEngineTest, Stage2SensorValues)
{
    {
        SetupFixture f(NoKeys);
        f.request.m_iExposureTime = 250000;
        const FStage2Params p = f.Run();
        EXPECT_DOUBLE_EQ(p.m_dExposureSeconds, 0.25);
        EXPECT_EQ(p.m_iIsoGain, 1);
        EXPECT_EQ(p.m_Saturation.r, 3900); // gains of 1: "SaturationLevel" as it is
        EXPECT_FALSE(p.m_bMaker);
        EXPECT_TRUE(p.m_bRowOffsetMode);
        EXPECT_FALSE(p.m_bSlopeMode);
        EXPECT_TRUE(Trace().Contains("CAMMANUF: \n"));
    }
    struct IsoCase {
        float capture;
        uint32_t frames;
        double ratio;
        int gain;
        double reduced;
    };
    for (const IsoCase& c :
         {IsoCase{400, 0, 4, 2, 2}, IsoCase{400, 3, 4, 1, 4}, IsoCase{150, 0, 1.5, 1, 1.5}}) {
        SetupFixture f([&](FCamdataBuilder& b) {
            b.AddFloat("CaptureISO", c.capture);
            b.AddFloat("SensorISO", 100);
            if (c.frames != 0)
                b.AddUInt32("BulbFrameCount", c.frames);
        });
        const FStage2Params p = f.Run();
        EXPECT_DOUBLE_EQ(p.m_dIsoRatio, c.ratio) << c.capture << "/" << c.frames;
        EXPECT_EQ(p.m_iIsoGain, c.gain) << c.capture << "/" << c.frames;
        EXPECT_DOUBLE_EQ(p.m_dReducedRatio, c.reduced) << c.capture << "/" << c.frames;
    }
    {
        // Five bulb frames: saturation x 0.8, noise scale sqrt(6) + 5/6.
        SetupFixture f([](FCamdataBuilder& b) {
            b.AddFloat("CaptureISO", 200);
            b.AddUInt32("BulbFrameCount", 5);
        });
        FStage2Params p;
        Stage2Setup::ReadSensor(f.request, p);
        EXPECT_EQ(p.m_Saturation.g, 3120);
        EXPECT_DOUBLE_EQ(p.m_dNoiseScale, std::sqrt(6.0) + 5.0 / 6.0);
    }
    {
        // Stage 1's levels replace "SaturationLevel" when both are given.
        SetupFixture f(NoKeys);
        f.request.m_aiSaturationLevel[1] = 4000;
        f.request.m_aiDarkShieldLevel[1] = 64;
        FStage2Params p;
        Stage2Setup::ReadSensor(f.request, p);
        EXPECT_EQ(p.m_Saturation.g, 3936);
        EXPECT_EQ(p.m_Saturation.r, 0);
    }
    {
        SetupFixture f([](FCamdataBuilder& b) {
            b.AddUInt32("SkipStepFlags", kSkipFIR);
            b.AddUInt16("UseSlopeInDrift", 1);
        });
        f.props.AddProp("CAMMANUF", "TALVO.CO");
        f.props.AddProp("CAMMODEL", "TALVO MV60");
        f.props.AddProp("EXPTIME", "40000");
        const FStage2Params p = f.Run();
        EXPECT_TRUE(p.m_bMaker);
        EXPECT_FALSE(p.m_bRowOffsetMode);
        EXPECT_TRUE(p.m_bSlopeMode);
        EXPECT_TRUE(p.m_bOlderModel);
        EXPECT_TRUE(p.m_bMV60);
        EXPECT_DOUBLE_EQ(p.m_dExposureSeconds, 0.04);
        EXPECT_TRUE(p.m_bFIRDisabled);
        EXPECT_TRUE(Trace().Contains("SKIPPING FIR NOISE REDUCTION!\n"));
    }
}

TEST_F(FEngineTest, Stage2DarkGains)
{
    // Offsets (0, 0, 819.2) give differences (-409.6, -409.6, 819.2); with F = 1 the gains
    // would be 0.9, 0.9, 1.2 and are held to 0.98, 0.98, 1.04.
    SetupFixture clamped([](FCamdataBuilder& b) {
        // Stored as [set][channel][slope, level]: blue levels of 819.2.
        b.AddFloats("RawDrift", {2, 3, 2}, {0, 0, 0, 0, 0, 819.2f, 0, 0, 0, 0, 0, 819.2f});
        b.AddFloatRGB("DarkGainFactor", 1, 1, 1);
        b.AddFloatRGB("DarkGainScale", 0.000001f, 0.000001f, 0.000001f);
    });
    clamped.request.m_iExposureTime = 1000000;
    FStage2Params p;
    Stage2Setup::ReadSensor(clamped.request, p);
    Stage2Setup::DarkGainsAndPost(clamped.request, p);
    EXPECT_NEAR(p.m_BlackDiff.r, -409.6, 1e-3);
    EXPECT_NEAR(p.m_BlackDiff.b, 819.2, 1e-3);
    EXPECT_DOUBLE_EQ(p.m_DarkGain.r, 0.98);
    EXPECT_DOUBLE_EQ(p.m_DarkGain.g, 0.98);
    EXPECT_DOUBLE_EQ(p.m_DarkGain.b, 1.04);

    // Bulb: no clamps, and a missing factor is 1.25.
    SetupFixture bulb([](FCamdataBuilder& b) {
        b.AddUInt32("BulbFrameCount", 2);
        // Stored as [set][channel][slope, level].
        b.AddFloats("RawDrift", {2, 3, 2}, {0, 100, 0, 0, 0, 0, 0, 100, 0, 0, 0, 0});
    });
    FStage2Params q;
    Stage2Setup::ReadSensor(bulb.request, q);
    Stage2Setup::DarkGainsAndPost(bulb.request, q);
    EXPECT_DOUBLE_EQ(q.m_BlackDiff.r, 50.0);
    EXPECT_DOUBLE_EQ(q.m_DarkGain.r, 1.0 + 50.0 * 1.25 / 4096.0);
    EXPECT_DOUBLE_EQ(q.m_DarkGain.g, 1.0 - 25.0 * 1.25 / 4096.0);
}

TEST_F(FEngineTest, Stage2ImageItemsRunOncePerImage)
{
    struct Case {
        float factor;
        int16_t expected;
    };
    for (const Case& c : {Case{0.5f, 500}, Case{1.0f, 1000}, Case{0.0f, 1000}}) {
        SetupFixture f([&](FCamdataBuilder& b) { b.AddFloat("LinLUT_ReductionFactor", c.factor); });
        f.Run();
        EXPECT_EQ(f.pixels[7], c.expected) << c.factor;
        // Continued: the image, half processed by now, is neither reduced nor measured again.
        f.pixels.assign(f.pixels.size(), 222);
        f.Run();
        EXPECT_EQ(f.pixels[7], 222) << c.factor;
    }

    // The drift of the shields; a top level beyond 4000 in magnitude zeroes the table.
    for (int16_t level : {int16_t{64}, int16_t{-4500}}) {
        SetupFixture f([](FCamdataBuilder& b) {
            b.AddRect("DarkShieldTop", 0, 0, kW - 1, 1);
            b.AddRect("DarkShieldBottom", 0, kH - 2, kW - 1, kH - 1);
        });
        for (int x = 0; x < kW; ++x)
            for (int y : {0, 1})
                f.image.GetPixel(x, y)[0] = level;
        const FStage2Params p = f.Run();
        EXPECT_EQ(p.m_Drift.top.level.r, level == 64 ? 64.0 : 0.0) << level;
        EXPECT_EQ(f.request.m_Carry.m_adDrift[3], p.m_Drift.top.level.r);
        for (int y = 0; y < kH; ++y)
            for (int x = 0; x < kW; ++x)
                f.image.GetPixel(x, y)[0] = 3000;
        const FStage2Params again = f.Run();
        EXPECT_EQ(again.m_Drift.top.level.r, p.m_Drift.top.level.r) << level;
    }

    // The automatic white balance is measured once and carried.
    SetupFixture awb(NoKeys);
    awb.request.m_usWhiteBalance = "Auto";
    const FStage2Params first = awb.Run();
    EXPECT_TRUE(first.m_bAutoWB);
    EXPECT_TRUE(Trace().Contains("AWB Time "));
    EXPECT_EQ(awb.request.m_Carry.m_bNeutralValid, 1);
    Trace().Clear();
    for (int i = 0; i < 3 * kW * kH; i += 3)
        awb.pixels[i] = 3000; // a red image now
    const FStage2Params second = awb.Run();
    EXPECT_FALSE(Trace().Contains("AWB Time "));
    EXPECT_EQ(second.m_W.r, first.m_W.r);
    EXPECT_EQ(second.m_W.b, first.m_W.b);
}

TEST_F(FEngineTest, Stage2MatrixAndNeutralSelection)
{
    const std::vector<float> flash = {0.5f, 0.3f, 0.2f, 0.25f, 0.7f, 0.05f, 0.02f, 0.1f, 0.9f};
    {
        // No illuminant list and a zero "CamToXYZ": the flash matrix.
        SetupFixture f([&](FCamdataBuilder& b) { b.AddFloats("CamToXYZ_Flash", {3, 3}, flash); });
        std::vector<uint8_t> zeroBytes;
        FCamdataBuilder zero;
        zero.AddFloats("CamToXYZ", {3, 3}, std::vector<float>(9, 0.0f));
        zero.AddFloats("CamToXYZ_Flash", {3, 3}, flash);
        zeroBytes = zero.Build();
        FCamdata zeroCam(zeroBytes.data(), zeroBytes.size());
        f.request.m_pCambData = &zeroCam;
        FStage2Params p;
        Stage2Setup::ReadSensor(f.request, p);
        Stage2Setup::SelectMatrix(f.request, p);
        EXPECT_FALSE(p.m_bIlluminantList);
        EXPECT_NEAR(p.m_U.m[0][0], 0.5, 1e-6);
        EXPECT_NEAR(p.m_U.m[2][2], 0.9, 1e-6);
    }
    {
        // "Monochrome" without an entry: rows s x (1, 2, 1), singular, neutral (1, 1, 1).
        SetupFixture f([&](FCamdataBuilder& b) {
            b.AddPropertyList("WhiteBalanceIlluminants", {{"Daylight", "CamToXYZ"}});
            b.AddFloats("CamToXYZ_Flash", {3, 3}, flash);
        });
        f.request.m_usWhiteBalance = "Monochrome";
        FStage2Params p;
        Stage2Setup::ReadSensor(f.request, p);
        Stage2Setup::SelectMatrix(f.request, p);
        EXPECT_TRUE(p.m_bMonochrome);
        for (int i = 0; i < 3; ++i) {
            EXPECT_DOUBLE_EQ(p.m_U.m[i][1], 2 * p.m_U.m[i][0]);
            EXPECT_DOUBLE_EQ(p.m_U.m[i][2], p.m_U.m[i][0]);
        }
        Stage2Setup::SelectNeutral(f.request, p);
        EXPECT_EQ(p.m_V.r, 1.0);
        EXPECT_EQ(p.m_V.b, 1.0);
    }
    {
        // An input neutral is kept and normalised into gains.
        SetupFixture f([](FCamdataBuilder& b) {
            b.AddPropertyList("WhiteBalanceIlluminants", {{"Daylight", "CamToXYZ"}});
        });
        f.request.m_usWhiteBalance = "Daylight";
        f.request.m_adInputNeutral[0] = 0.5;
        f.request.m_adInputNeutral[1] = 1.0;
        f.request.m_adInputNeutral[2] = 0.8;
        const FStage2Params p = f.Run();
        EXPECT_FALSE(p.m_bAutoWB);
        EXPECT_FALSE(p.m_bPreset);
        EXPECT_DOUBLE_EQ(p.m_W.r, 2.0);
        EXPECT_DOUBLE_EQ(p.m_W.g, 1.0);
        EXPECT_DOUBLE_EQ(p.m_W.b, 1.25);
    }
    // Neutrals by name from the list, or the camera's own without a list.
    struct NeutralCase {
        const char* name;
        bool list;
        std::vector<float> neutral; // "CustomRGBNeutral" with a list, else "RGBNeutral"
        bool fromMatrix;            // U^-1 x D65
    };
    const NeutralCase neutrals[] = {
        {"Custom", true, {0.8f, 1.0f, 0.6f}, false},
        {"Custom", true, {}, true},
        {"Daylight", false, {0.5f, 1.0f, 0.7f}, false},
        {"Daylight", false, {0.5f, 0.0f, 0.7f}, true},
    };
    for (const NeutralCase& c : neutrals) {
        SetupFixture f([&](FCamdataBuilder& b) {
            if (c.list)
                b.AddPropertyList("WhiteBalanceIlluminants", {{"Daylight", "CamToXYZ"}});
            if (!c.neutral.empty())
                b.AddFloats(c.list ? "CustomRGBNeutral" : "RGBNeutral", {3}, c.neutral);
        });
        f.request.m_usWhiteBalance = c.name;
        FStage2Params p;
        Stage2Setup::ReadSensor(f.request, p);
        Stage2Setup::SelectMatrix(f.request, p);
        Stage2Setup::SelectNeutral(f.request, p);
        EXPECT_FALSE(p.m_bPreset) << c.name;
        const FDoubleRGB expected = c.fromMatrix ? Stage2Setup::NeutralFor(p.m_U, Stage2Setup::kD65)
                                                 : FDoubleRGB(c.neutral[0], c.neutral[1], c.neutral[2]);
        EXPECT_NEAR(p.m_V.r, expected.r, 1e-6) << c.name << c.list;
        EXPECT_NEAR(p.m_V.g, expected.g, 1e-6) << c.name << c.list;
        EXPECT_NEAR(p.m_V.b, expected.b, 1e-6) << c.name << c.list;
    }

    // The CL7 path: taken only with usable lists and a flag of 1 (or none).
    const auto cl7 = [&](FCamdataBuilder& b, const std::vector<float>& matrix) {
        b.AddPropertyList("CL7_WhiteBalanceColorCorrections", {{"Daylight", "CC_Day"}});
        b.AddPropertyList("CL7_WhiteBalanceGains", {{"Daylight", "G_Day"}});
        b.AddFloats("CC_Day", {3, 3}, matrix);
        b.AddFloatRGB("G_Day", 2, 1, 1.5f);
    };
    struct Cl7Case {
        const char* name;
        std::function<void(FCamdataBuilder&)> keys;
        bool cl7;
    };
    const std::vector<Cl7Case> cases = {
        {"usable", [&](FCamdataBuilder& b) { cl7(b, flash); }, true},
        {"flag 2",
         [&](FCamdataBuilder& b) {
             cl7(b, flash);
             b.AddUInt32("CCMatrix_Flag", 2);
         },
         false},
        {"flag 1 signed",
         [&](FCamdataBuilder& b) {
             cl7(b, flash);
             b.AddInt32("CCMatrix_Flag", 1);
         },
         true},
        {"zero matrix", [&](FCamdataBuilder& b) { cl7(b, std::vector<float>(9, 0.0f)); }, false},
    };
    for (const Cl7Case& c : cases) {
        SetupFixture f(c.keys);
        f.request.m_usWhiteBalance = "Daylight";
        FStage2Params p;
        Stage2Setup::ReadSensor(f.request, p);
        Stage2Setup::SelectMatrix(f.request, p);
        EXPECT_EQ(p.m_bCL7, c.cl7) << c.name;
        if (c.cl7) {
            // U = CC x diag(G), and the neutral maps back to (1, 1, 1).
            EXPECT_NEAR(p.m_U.m[0][0], 1.0, 1e-6) << c.name;
            const FDoubleRGB back = p.m_U.Apply(p.m_V);
            EXPECT_NEAR(back.r, 1.0, 1e-9);
            EXPECT_NEAR(back.b, 1.0, 1e-9);
        }
    }
}

TEST_F(FEngineTest, Stage2SetupLeavesCameraDataAloneAndNaNsOut)
{
    SetupFixture f([](FCamdataBuilder& b) {
        b.AddFloatRGB("DarkGainFactor", kNaN, 1, 1);
        b.AddFloat("CaptureISO", std::numeric_limits<float>::infinity());
        b.AddFloats("CamToXYZ_Flash", {3, 3}, {kNaN, 0, 0, 0, 1, 0, 0, 0, 1});
        b.AddFloatRGB("AutoRGBNeutral", kNaN, 1, 1);
        b.AddFloat("LinLUT_ReductionFactor", kNaN);
        b.AddFloats("PostPolyMatrix", {3, 9}, std::vector<float>(27, kNaN));
        b.AddPropertyList("WhiteBalanceIlluminants", {{"Daylight", "CamToXYZ"}});
    });
    f.request.m_usWhiteBalance = "Custom"; // no "CustomRGBNeutral": falls back
    const std::vector<uint8_t> before = f.camBytes;
    const FStage2Params p = f.Run();
    EXPECT_EQ(f.camBytes, before);
    for (const auto& row : p.m_U.m)
        for (double v : row)
            EXPECT_TRUE(std::isfinite(v));
    for (double v : {p.m_W.r, p.m_W.g, p.m_W.b, p.m_DarkGain.r, p.m_dIsoRatio})
        EXPECT_TRUE(std::isfinite(v));
    for (float v : p.m_Post.m)
        EXPECT_EQ(v, 0.0f);
    EXPECT_EQ(f.pixels[0], 1000);

    EXPECT_EQ(Stage2Setup::ScratchRowsNeeded(2640, 1760), 112);
    EXPECT_EQ(Stage2Setup::ScratchRowsNeeded(4, 4), 3);
}

// What reaches the pixel library from the set-up, across ISO, accumulated frames, the
// older models, monochrome and calibration without the optional keys.
TEST_F(FEngineTest, Stage2LibraryCallArguments)
{
    using namespace IPEngineStages;
    struct Case {
        float iso;
        uint32_t frames;
        const char* model;
        double reduced;
        float ref, edgeRef, imgEdgeRef, locality;
    };
    const Case cases[] = {
        {100, 0, "", 1, 0.0011f, 0.0019f, 0.019f, 1},
        {400, 0, "", 2, 0.0011f, 0.0019f, 0.019f, 1},
        {1600, 0, "", 8, 0.001f, 0.001f, 0.01f, 2},
        {6400, 0, "", 32, 0.008f, 0.001f, 0.015f, 3},
        {1600, 3, "", 16, 0.001f, 0.001f, 0.01f, 2},
        {1600, 0, "TALVO MV3", 8, 0.000846f, 0.000846f, 0.008455f, 2},
        {400, 0, "TALVO MV60", 2, 0.00093f, 0.001606f, 0.016064f, 1},
    };
    for (const Case& c : cases) {
        SetupFixture f([&](FCamdataBuilder& b) {
            b.AddFloat("CaptureISO", c.iso);
            b.AddFloat("SensorISO", 100);
            if (c.frames != 0)
                b.AddUInt32("BulbFrameCount", c.frames);
        });
        f.props.AddProp("CAMMODEL", c.model);
        const FStage2Params p = f.Run();
        const std::string label = std::to_string(c.iso) + "/" + std::to_string(c.frames) + "/" + c.model;
        ASSERT_DOUBLE_EQ(p.m_dReducedRatio, c.reduced) << label;

        const FStage2FIRArgs fir = Stage2FIRArgs(p, *f.cam);
        EXPECT_TRUE(fir.run) << label;
        EXPECT_FLOAT_EQ(fir.ref, c.ref) << label;
        EXPECT_FLOAT_EQ(fir.edgeRef, c.edgeRef) << label;
        EXPECT_FLOAT_EQ(fir.imgEdgeRef, c.imgEdgeRef) << label;
        EXPECT_FLOAT_EQ(fir.locality, c.locality) << label;
        EXPECT_FLOAT_EQ(fir.edgeScale, 5.0f) << label;
        EXPECT_FLOAT_EQ(fir.meanScale, 7.0f) << label;
        EXPECT_FLOAT_EQ(fir.sigmoid, 0.55f) << label;
        EXPECT_FLOAT_EQ(fir.exponent, 0.7f) << label;
        // The gain is the reduced ratio; the output factor is the green-row sum of the
        // matrix step 7 starts from (the working matrix at ratio 1 for the older models).
        EXPECT_FLOAT_EQ(fir.g, static_cast<float>(c.reduced)) << label;
        FColorMatrix start = p.m_U;
        if (p.m_bOlderModel)
            ComputeWorkingColorMatrix(start, p.m_U, p.m_V, 1.0, -1.0 / 30.0);
        const double rowSum = start.m[1][0] + start.m[1][1] + start.m[1][2];
        EXPECT_FLOAT_EQ(fir.m, static_cast<float>(rowSum)) << label;

        const FStage2ColorArgs color = Stage2ColorArgs(p, *f.cam);
        EXPECT_DOUBLE_EQ(color.greenSum, rowSum) << label;
        EXPECT_NEAR(color.matrix.m[1][0] + color.matrix.m[1][1] + color.matrix.m[1][2], 1.0, 1e-12) << label;
        // No "ColorDQCamRGB": 4 / fourth root of min(ISO ratio, 8), then the noise scale,
        // the inverse gains and the ISO gain.
        const double q = 4.0 / std::pow(std::min(p.m_dIsoRatio, 8.0), 0.25) * p.m_dNoiseScale * p.m_iIsoGain;
        EXPECT_NEAR(color.noise.r, q * p.m_W.r, 1e-9) << label;
        EXPECT_NEAR(color.noise.b, q * p.m_W.b, 1e-9) << label;

        EXPECT_EQ(Stage2ChromaArgs(p, *f.cam).sumShift, 3u) << label;
        EXPECT_FALSE(Stage2ChromaArgs(p, *f.cam).run) << label; // no "ChromaBlur"
    }
}

TEST_F(FEngineTest, Stage2LibraryCallArgumentsFromCalibration)
{
    using namespace IPEngineStages;
    auto keys = [](uint32_t frames, bool square) {
        return [=](FCamdataBuilder& b) {
            b.AddFloat("CaptureISO", 1600);
            b.AddFloat("SensorISO", 100);
            b.AddFloat("ColumnFilter", 0.5f);
            b.AddFloat("ChromaBlur", 150);
            b.AddFloat("SpatialDQ", 3);
            b.AddFloatRGB("ChromaDQ", 2, 2, 2);
            b.AddUInt16("ChromaSumShift", 0);
            b.AddFloat("FIR_ScaleFactorEdgeRef", 4.5f);
            b.AddFloat("BulbCurvatureOffset", 2.0f);
            b.AddFloatRGB("BulbCurvatureFactor", 1.0f, 2.0f, 3.0f);
            if (square)
                b.AddFloatRGB("ColumnFilterSquareRGB", 0.1f, 0.2f, 0.3f);
            if (frames != 0)
                b.AddUInt32("BulbFrameCount", frames);
        };
    };
    // The square column filter is read whether or not frames are accumulated; without it,
    // accumulated frames take zeros and a single frame the column filter.
    for (uint32_t frames : {0u, 5u})
        for (bool square : {false, true}) {
            SetupFixture f(keys(frames, square));
            const FStage2Params p = f.Run();
            const FStage2ColumnFilters cf = Stage2ColumnFilters(p, *f.cam);
            EXPECT_DOUBLE_EQ(cf.filter.g, 0.5);
            const double expected = square ? 0.2f : (frames != 0 ? 0.0 : 0.5);
            EXPECT_DOUBLE_EQ(cf.square.g, expected) << frames << "/" << square;
        }
    {
        // One curvature offset for all three channels: diagonal g x factor / (N - offset).
        SetupFixture f(keys(5, false));
        const FStage2Params p = f.Run();
        EXPECT_FLOAT_EQ(p.m_Post.m[0], static_cast<float>(p.m_DarkGain.r * 1.0 / 3.0));
        EXPECT_FLOAT_EQ(p.m_Post.m[10], static_cast<float>(p.m_DarkGain.g * 2.0 / 3.0));
        EXPECT_FLOAT_EQ(p.m_Post.m[20], static_cast<float>(p.m_DarkGain.b * 3.0 / 3.0));
    }
    {
        SetupFixture f(keys(0, false));
        const FStage2Params p = f.Run();
        EXPECT_FLOAT_EQ(Stage2FIRArgs(p, *f.cam).edgeScale, 4.5f);
        // Spatial 3, ISO gain 2: strength trunc(2 x 10) x 3; the blur uses the full ratio 16.
        const FStage2ChromaArgs chroma = Stage2ChromaArgs(p, *f.cam);
        EXPECT_TRUE(chroma.run);
        EXPECT_EQ(chroma.sumShift, 0u);
        EXPECT_EQ(chroma.strength, 60);
        EXPECT_NEAR(chroma.amplitude.r, 2.0 * (p.m_W.r + p.m_W.g + p.m_W.b) / 3.0 * 2.0, 1e-9);
        const FStage2ChromaArgs blur = Stage2ChromaBlurArgs(p, *f.cam);
        EXPECT_TRUE(blur.run);
        EXPECT_EQ(blur.strength, 240);
        EXPECT_NEAR(blur.amplitude.g, 2.0 * p.m_W.g * 16.0 / 3.0, 1e-9);
        EXPECT_TRUE(Stage2SmallChromaArgs(p, *f.cam).run);
    }
    {
        SetupFixture f([&](FCamdataBuilder& b) {
            keys(0, false)(b);
            b.AddPropertyList("WhiteBalanceIlluminants", {{"Daylight", "CamToXYZ"}});
        });
        f.request.m_usWhiteBalance = "Monochrome";
        const FStage2Params p = f.Run();
        ASSERT_TRUE(p.m_bMonochrome);
        EXPECT_FALSE(Stage2FIRArgs(p, *f.cam).run);
        EXPECT_FALSE(Stage2ChromaArgs(p, *f.cam).run);
        EXPECT_FALSE(Stage2ChromaBlurArgs(p, *f.cam).run);
        EXPECT_TRUE(Stage2SmallChromaArgs(p, *f.cam).run);
        EXPECT_DOUBLE_EQ(Stage2ColorArgs(p, *f.cam).greenSum, 1.0);
    }
}

} // namespace
