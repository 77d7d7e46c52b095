// The engine's stages 1, 3 and 4 on a 2640 x 1760 synthetic capture, each beside a plain
// copy of its input made in the same iteration ("x_copy" is their ratio). The argument is
// the thread count: 1, and the engine's own. "identical" is 1 when the threaded output
// equals the single-threaded one byte for byte.
#include <benchmark/benchmark.h>

#include "BesideCopy.h"

#include <cstring>
#include <memory>
#include <vector>

#include "FCamdata.h"
#include "FCamdataBuilder.h"
#include "FIPERequest.h"
#include "FIPEngine2.h"
#include "FIPEngineStages.h"
#include "FSyntheticCapture.h"

namespace
{

constexpr int kW = 2640;
constexpr int kH = 1760;
// The active area, scaled to three quarters, as a typical processed-image request.
constexpr int kOutCols = 1956;
constexpr int kOutRows = 1302;

struct Inputs {
    std::vector<uint8_t> camBytes;
    std::unique_ptr<FCamdata> cam;
    FSyntheticCapture capture = MakeSyntheticCapture(kW, kH);
    std::vector<int16_t> stage1 = std::vector<int16_t>(3 * static_cast<size_t>(kW) * kH);
    std::vector<int16_t> copy = std::vector<int16_t>(stage1.size());
    std::vector<int16_t> rtnx = std::vector<int16_t>(static_cast<size_t>(kW) * kH);
    FPixmap48RGB raw{capture.raw.data(), kW, kH, 0};
    FPixmap48RGB dark{capture.dark.data(), kW, kH, 0};
    FPixmap48SRGB stage1Pixmap{stage1.data(), kW, kH, 0};
    FPixmap16SMono rtnxPixmap{rtnx.data(), kW, kH, 0};
    std::vector<int16_t> s3 = std::vector<int16_t>(3 * static_cast<size_t>(kOutCols) * kOutRows);
    std::vector<int16_t> s3L = std::vector<int16_t>(static_cast<size_t>(kOutCols) * kOutRows);
    std::vector<int16_t> s3R = std::vector<int16_t>(static_cast<size_t>(kOutCols) * kOutRows);
    FPixmap48SRGB s3Pixmap{s3.data(), kOutCols, kOutRows, 0};
    FPixmap16SMono s3LPixmap{s3L.data(), kOutCols, kOutRows, 0};
    FPixmap16SMono s3RPixmap{s3R.data(), kOutCols, kOutRows, 0};
    std::vector<int16_t> tone = std::vector<int16_t>(3 * 65536);
    std::vector<int16_t> rtnxLUT = std::vector<int16_t>(65536, 256);
    std::vector<uint8_t> display = std::vector<uint8_t>(4 * static_cast<size_t>(kOutCols) * kOutRows);
    std::vector<uint8_t> displayCopy = std::vector<uint8_t>(display.size());
    FPixmap_Display displayPixmap{display.data(), kOutCols, kOutRows, 0};
    int temp = 0;

    Inputs()
    {
        FCamdataBuilder b;
        AddPlausibleCalibration(b, kW, kH);
        camBytes = b.Build();
        cam = std::make_unique<FCamdata>(camBytes.data(), camBytes.size());
        for (int y = 0; y < kH; ++y)
            for (int x = 0; x < kW; ++x)
                rtnx[static_cast<size_t>(y) * kW + x] = static_cast<int16_t>((x * 37 + y * 11) % 4000);
        RunStage1(1);
        RunStage3(1);
        FIPERequestGenerateToneLUT t;
        t.m_pToneLUT = tone.data();
        IPEngineStages::GenerateToneLUT(&t);
    }
    void RunStage1(int threads)
    {
        FIPERequestStage1 r;
        r.m_pRawImage = &raw;
        r.m_pDarkImage = &dark;
        r.m_pOutImage = &stage1Pixmap;
        r.m_pCambData = cam.get();
        IPEngineStages::ProcessStage1(&r, threads);
    }
    void RunStage3(int threads)
    {
        FIPERequestStage3 r;
        r.m_pStage2Image = &stage1Pixmap;
        r.m_pStage2ImageRtnx = &rtnxPixmap;
        r.m_iOutCols = kOutCols;
        r.m_iOutRows = kOutRows;
        r.m_rCrop = FRect(0, 0, kOutCols, kOutRows);
        r.m_iRawCols = kW;
        r.m_iRawRows = kH;
        r.m_pCambData = cam.get();
        r.m_pTempData = &temp;
        r.m_pOutImage = &s3Pixmap;
        r.m_pOutImageL = &s3LPixmap;
        r.m_pOutImageRtnx = &s3RPixmap;
        r.m_bGreenWeighting = 1;
        IPEngineStages::ProcessStage3(&r, threads);
    }
    void RunStage4(int threads)
    {
        FIPERequestStage4 r;
        r.m_pStage3Image = &s3Pixmap;
        r.m_pStage3ImageL = &s3LPixmap;
        r.m_pStage3ImageRtnx = &s3RPixmap;
        r.m_pCambData = cam.get();
        r.m_pToneLUT = tone.data();
        r.m_pRtnxLUT = rtnxLUT.data();
        r.m_dSaturation = 0.2;
        r.m_dSharpness = 0.5;
        r.m_pOutImage = &displayPixmap;
        r.m_bOlderModel = 1;
        IPEngineStages::ProcessStage4(&r, threads);
    }
};

Inputs& GetInputs()
{
    static Inputs inputs;
    return inputs;
}

// Runs the stage once with one thread and once with `threads`, and compares the output.
template <typename Output>
double Identical(int threads, const std::function<void(int)>& run, const Output& output)
{
    run(1);
    const Output one = output;
    run(threads);
    return one == output ? 1.0 : 0.0;
}

void BM_Stage1(benchmark::State& state)
{
    Inputs& in = GetInputs();
    const int threads = static_cast<int>(state.range(0));
    const double same = Identical(
        threads, [&](int t) { in.RunStage1(t); }, in.stage1);
    const size_t bytes = in.capture.raw.size() * sizeof(uint16_t);
    bench::RunBesideCopy(
        state, [&] { std::memcpy(in.copy.data(), in.capture.raw.data(), bytes); },
        [&] { in.RunStage1(threads); });
    state.counters["identical"] = same;
}

void BM_Stage3(benchmark::State& state)
{
    Inputs& in = GetInputs();
    const int threads = static_cast<int>(state.range(0));
    const double same = Identical(
        threads, [&](int t) { in.RunStage3(t); }, in.s3);
    const size_t bytes = in.stage1.size() * sizeof(int16_t);
    bench::RunBesideCopy(
        state, [&] { std::memcpy(in.copy.data(), in.stage1.data(), bytes); }, [&] { in.RunStage3(threads); });
    state.counters["identical"] = same;
}

void BM_Stage4(benchmark::State& state)
{
    Inputs& in = GetInputs();
    const int threads = static_cast<int>(state.range(0));
    const double same = Identical(
        threads, [&](int t) { in.RunStage4(t); }, in.display);
    // The copy moves the stage-3 colour image, the input stage 4 reads per pixel.
    const size_t bytes = in.s3.size() * sizeof(int16_t);
    bench::RunBesideCopy(
        state, [&] { std::memcpy(in.copy.data(), in.s3.data(), bytes); }, [&] { in.RunStage4(threads); });
    state.counters["identical"] = same;
}

void Threads(benchmark::internal::Benchmark* b)
{
    b->Arg(1)->Arg(GetIPEngineThreadCount())->UseManualTime()->Unit(benchmark::kMillisecond);
}

BENCHMARK(BM_Stage1)->Apply(Threads);
BENCHMARK(BM_Stage3)->Apply(Threads);
BENCHMARK(BM_Stage4)->Apply(Threads);

} // namespace
