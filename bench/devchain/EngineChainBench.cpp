// A development through the engine's own stages on a 2640 x 1760 synthetic capture: stage 1
// (linearisation and dark subtraction), stage 2 with every step on, the tone table, stage 3
// at full size, stage 4 to 24-bit RGB and JPEG quality 90, beside libvips reading the same
// 16-bit frame, sharpening it, converting it to sRGB and writing JPEG quality 90, in the same
// process and iteration with the same thread count. Frames come decoded (BM_DevChain times
// the decoders). Counters: each stage's time in the fastest run and its ratio to a plain
// copy of the 48-bit frame, the total, the libvips time, "x_vips", and "identical", 1 when
// the JPEG bytes equal a single-threaded run's.
#include <benchmark/benchmark.h>

#include "BesideCopy.h"

#include <algorithm>
#include <chrono>
#include <cstring>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "FCamdata.h"
#include "FCamdataBuilder.h"
#include "FHasProperties.h"
#include "FIPERequest.h"
#include "FIPEStage2Setup.h"
#include "FIPEngineStages.h"
#include "FJPEGLineWriter.h"
#include "FPropList.h"
#include "FSyntheticCapture.h"
#include "VipsReference.h"

namespace
{

constexpr int kW = 2640;
constexpr int kH = 1760;
constexpr size_t kPixels = static_cast<size_t>(kW) * kH;

enum { kStage1, kStage2, kTone, kStage3, kStage4, kJpeg, kEngineStages };
const char* const kNames[kEngineStages] = {"stage1", "stage2", "tone", "stage3", "stage4", "jpeg_q90"};

struct EngineChain {
    std::vector<uint8_t> camBytes;
    std::unique_ptr<FCamdata> cam;
    FSyntheticCapture capture = MakeSyntheticCapture(kW, kH);
    FPropList props{nullptr, "Capture"};
    FPixmap48RGB raw{capture.raw.data(), kW, kH, 0};
    FPixmap48RGB dark{capture.dark.data(), kW, kH, 0};
    std::vector<int16_t> work = std::vector<int16_t>(3 * kPixels);
    std::vector<int16_t> preMat = std::vector<int16_t>(3 * kPixels);
    std::vector<int16_t> rtnx = std::vector<int16_t>(kPixels);
    std::vector<int16_t> scratch;
    std::vector<int16_t> s3 = std::vector<int16_t>(3 * kPixels);
    std::vector<int16_t> s3L = std::vector<int16_t>(kPixels);
    std::vector<int16_t> s3R = std::vector<int16_t>(kPixels);
    std::vector<int16_t> tone = std::vector<int16_t>(3 * 65536);
    std::vector<int16_t> rtnxLUT = std::vector<int16_t>(65536, 256); // gain 1
    std::vector<uint8_t> rgb = std::vector<uint8_t>(3 * kPixels);
    FPixmap48SRGB workPixmap{work.data(), kW, kH, 0};
    FPixmap48SRGB preMatPixmap{preMat.data(), kW, kH, 0};
    FPixmap16SMono rtnxPixmap{rtnx.data(), kW, kH, 0};
    std::unique_ptr<FPixmap48SRGB> scratchPixmap;
    FPixmap48SRGB s3Pixmap{s3.data(), kW, kH, 0};
    FPixmap16SMono s3LPixmap{s3L.data(), kW, kH, 0};
    FPixmap16SMono s3RPixmap{s3R.data(), kW, kH, 0};
    FPixmap24RGB rgbPixmap{rgb.data(), kW, kH, 0};
    int temp = 0;

    EngineChain()
    {
        FCamdataBuilder b;
        b.AddFloat("RedSharpen", 2.0f); // the calibration's own switches it off
        AddPlausibleCalibration(b, kW, kH);
        camBytes = b.Build();
        cam = std::make_unique<FCamdata>(camBytes.data(), camBytes.size());
        const int rows = static_cast<int>(Stage2Setup::ScratchRowsNeeded(kW, kH));
        scratch.assign(3 * static_cast<size_t>(kW) * rows, 0);
        scratchPixmap = std::make_unique<FPixmap48SRGB>(scratch.data(), kW, rows, 0);
        props.AddProp("WB_DESC", "Auto");
        props.AddProp("SHUTTER", "0.008");
    }

    // One development: each stage's seconds, and the JPEG's bytes in `jpeg`. False when a
    // stage did not complete.
    bool Run(int threads, double (&seconds)[kEngineStages], std::vector<uint8_t>& jpeg)
    {
        auto start = std::chrono::steady_clock::now();
        auto lap = [&](int stage) {
            const auto now = std::chrono::steady_clock::now();
            seconds[stage] = std::chrono::duration<double>(now - start).count();
            start = now;
        };
        FIPERequestStage1 s1;
        s1.m_pRawImage = &raw;
        s1.m_pDarkImage = &dark;
        s1.m_pOutImage = &workPixmap;
        s1.m_pCambData = cam.get();
        if (IPEngineStages::ProcessStage1(&s1, threads) != kCompleted)
            return false;
        lap(kStage1);

        FIPERequestStage2 s2;
        s2.m_pStage1Image = &workPixmap;
        s2.m_pStage2PreMatImage = &preMatPixmap;
        s2.m_pCaptureProps = &props;
        s2.m_pCambData = cam.get();
        s2.m_pTempData = scratchPixmap.get();
        s2.m_pRtnxImage = &rtnxPixmap;
        s2.m_dAperture = 8.0;
        s2.m_iExposureTime = 8000;
        std::memcpy(s2.m_aiSaturationLevel, s1.m_aiSaturationLevel, sizeof(s2.m_aiSaturationLevel));
        std::memcpy(s2.m_aiDarkShieldLevel, s1.m_aiDarkShieldLevel, sizeof(s2.m_aiDarkShieldLevel));
        if (IPEngineStages::ProcessStage2(&s2, threads) != kCompleted)
            return false;
        lap(kStage2);

        FIPERequestGenerateToneLUT t;
        t.m_dExposure = 0.2;
        t.m_pToneLUT = tone.data();
        if (IPEngineStages::GenerateToneLUT(&t) != kCompleted)
            return false;
        lap(kTone);

        FIPERequestStage3 s3r;
        s3r.m_pStage2Image = &workPixmap;
        s3r.m_pStage2ImageRtnx = &rtnxPixmap;
        s3r.m_iOutCols = kW;
        s3r.m_iOutRows = kH;
        s3r.m_rCrop = FRect(0, 0, kW, kH);
        s3r.m_iRawCols = kW;
        s3r.m_iRawRows = kH;
        s3r.m_pCambData = cam.get();
        s3r.m_pTempData = &temp;
        s3r.m_pOutImage = &s3Pixmap;
        s3r.m_pOutImageL = &s3LPixmap;
        s3r.m_pOutImageRtnx = &s3RPixmap;
        s3r.m_bGreenWeighting = 1;
        if (IPEngineStages::ProcessStage3(&s3r, threads) != kCompleted)
            return false;
        lap(kStage3);

        FIPERequestStage4 s4;
        s4.m_pStage3Image = &s3Pixmap;
        s4.m_pStage3ImageL = &s3LPixmap;
        s4.m_pStage3ImageRtnx = &s3RPixmap;
        s4.m_pCambData = cam.get();
        s4.m_pToneLUT = tone.data();
        s4.m_pRtnxLUT = rtnxLUT.data();
        s4.m_dSaturation = 0.2;
        s4.m_dSharpness = 0.5;
        s4.m_pOutImage = &rgbPixmap;
        if (IPEngineStages::ProcessStage4(&s4, threads) != kCompleted)
            return false;
        lap(kStage4);

        jpeg.clear();
        {
            FJPEGImageWriter writer(&jpeg, 9, false);
            writer.WriteImage(rgbPixmap, FHasProperties());
        }
        lap(kJpeg);
        return true;
    }
};

void BM_EngineChain(benchmark::State& state)
{
    const int threads = static_cast<int>(state.range(0));
    static EngineChain chain;
    static bench::VipsReference vips(chain.capture.raw, kW, kH);
    std::vector<int16_t> source(3 * kPixels, 1), copy(3 * kPixels);

    double seconds[kEngineStages] = {}, best[kEngineStages] = {};
    std::vector<uint8_t> one, jpeg;
    if (!chain.Run(1, seconds, one)) {
        state.SkipWithError("a stage did not complete");
        return;
    }
    double bestTotal = 1e9, bestVips = 1e9, bestCopy = 1e9;
    bool identical = true;
    for (auto _ : state) {
        auto start = std::chrono::steady_clock::now();
        std::memcpy(copy.data(), source.data(), copy.size() * sizeof(int16_t));
        benchmark::ClobberMemory();
        bestCopy = std::min(bestCopy, bench::SecondsSince(start));

        start = std::chrono::steady_clock::now();
        benchmark::DoNotOptimize(vips.Run(threads));
        bestVips = std::min(bestVips, bench::SecondsSince(start));

        if (!chain.Run(threads, seconds, jpeg)) {
            state.SkipWithError("a stage did not complete");
            return;
        }
        identical = identical && jpeg == one;
        double total = 0.0;
        for (double s : seconds)
            total += s;
        state.SetIterationTime(total);
        if (total < bestTotal) {
            bestTotal = total;
            std::copy(std::begin(seconds), std::end(seconds), std::begin(best));
        }
    }
    for (int s = 0; s < kEngineStages; ++s) {
        state.counters[std::string(kNames[s]) + "_ms"] = best[s] * 1e3;
        state.counters[std::string(kNames[s]) + "_x_copy"] = best[s] / bestCopy;
    }
    state.counters["copy_ms"] = bestCopy * 1e3;
    state.counters["total_ms"] = bestTotal * 1e3;
    state.counters["vips_ms"] = bestVips * 1e3;
    state.counters["x_vips"] = bestTotal / bestVips;
    state.counters["identical"] = identical ? 1.0 : 0.0;
}

int Cores()
{
    return static_cast<int>(std::max(1u, std::thread::hardware_concurrency()));
}

} // namespace

BENCHMARK(BM_EngineChain)->Arg(1)->Arg(Cores())->Unit(benchmark::kMillisecond)->UseManualTime()->MinTime(3.0);
