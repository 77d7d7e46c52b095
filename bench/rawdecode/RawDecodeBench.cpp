// Decoding a full sensor frame of each main coded format, beside a plain copy of the
// decoded image: the copy is the floor the decoder is measured against.
#include "BesideCopy.h"
#include "BribFormat.h"
#include "FBribImageDecoder.h"
#include "FBribImageReaderImpl.h"
#include "FPixmap.h"
#include "RawCodec.h"

#include <benchmark/benchmark.h>

#include <cmath>
#include <cstring>
#include <map>
#include <memory>
#include <random>
#include <vector>

namespace
{

constexpr int kCols = 2640;
constexpr int kRows = 1760;

struct Frame {
    rawcodec::EncodedImage m_encoded;
    int m_iType = 0;
};

int TypeOf(int format)
{
    return format == 6 || format == 30 ? FPixmap::PIXEL_48S_RGB
           : format == 11              ? FPixmap::PIXEL_24_RGB
                                       : FPixmap::PIXEL_48_RGB;
}

// A smooth scene with sensor-like noise, so that the coded sizes are typical.
const Frame& GetFrame(int format)
{
    static std::map<int, Frame> frames;
    auto it = frames.find(format);
    if (it != frames.end()) {
        return it->second;
    }
    Frame f;
    f.m_iType = TypeOf(format);
    const int bpp = GetPixelTypeBytesPerPixel(f.m_iType);
    std::vector<uint8_t> pixels(size_t(kCols) * kRows * bpp);
    std::unique_ptr<FPixmap> pm(NewFPixmap(f.m_iType, pixels.data(), kCols, kRows, kCols * bpp));
    std::mt19937 rng(42);
    std::normal_distribution<double> noise(0.0, 12.0);
    for (int y = 0; y < kRows; ++y) {
        uint8_t* row = pm->GetRowAddress(y);
        for (int x = 0; x < kCols; ++x) {
            for (int c = 0; c < 3; ++c) {
                const double wave = std::sin(x * 0.004 + c) * std::cos(y * 0.003 - c);
                int v = int(1800 + 1200 * wave + noise(rng));
                v = v < 0 ? 0 : (v > 4095 ? 4095 : v);
                if (format == 6) {
                    // Dark-subtracted frames sit near 0, which its 10-bit steps reach from the row start.
                    v = int(200 * wave + noise(rng));
                }
                if (f.m_iType == FPixmap::PIXEL_24_RGB) {
                    row[3 * x + c] = uint8_t(v >> 4);
                    continue;
                }
                row[6 * x + 2 * c] = uint8_t(v);
                row[6 * x + 2 * c + 1] = uint8_t(v >> 8);
            }
        }
    }
    f.m_encoded = rawcodec::EncodeImage(format, *pm);
    return frames.emplace(format, std::move(f)).first->second;
}

// Beside a copy of the decoded image, so that the ratio is to touching its output once;
// payload_MBps is the payload decoded per second of the best pass.
void BM_Decode(benchmark::State& state)
{
    const int format = int(state.range(0));
    const int threads = int(state.range(1));
    const Frame& f = GetFrame(format);
    const rawcodec::EncodedImage& e = f.m_encoded;
    const int bpp = GetPixelTypeBytesPerPixel(f.m_iType);
    std::vector<uint8_t> pixels(size_t(kCols) * kRows * bpp);
    std::vector<uint8_t> copy(pixels.size());
    std::unique_ptr<FPixmap> pm(NewFPixmap(f.m_iType, pixels.data(), kCols, kRows, kCols * bpp));
    BribImageHead head{};
    head.m_iPixelFormat = e.m_iFormat;
    head.m_iCols = e.m_iCols;
    head.m_iRows = e.m_iRows;
    head.m_iRowSize = e.m_iRowSize;
    bench::RunBesideCopy(
        state, [&] { std::memcpy(copy.data(), pixels.data(), pixels.size()); },
        [&] {
            FBribPayload payload(e.m_payload.data(), e.m_payload.size());
            benchmark::DoNotOptimize(
                FBribImageDecoder::Decode(payload, head, *pm, nullptr, nullptr, threads));
        });
    state.counters["payload_MB"] = double(e.m_payload.size()) / 1e6;
    state.counters["payload_MBps"] = double(e.m_payload.size()) / 1e6 / (state.counters["best_ms"] / 1e3);
}

// 6 and 11: Huffman-coded rows; 30: three predictive planes (at most three threads);
// 13 and 4: packed 12-bit samples, on one thread.
void Formats(benchmark::internal::Benchmark* b)
{
    b->ArgNames({"format", "threads"});
    for (int format : {6, 11, 30}) {
        for (int threads : {1, 2, 4, 8}) {
            b->Args({format, threads});
        }
    }
    for (int format : {13, 4}) {
        b->Args({format, 1});
    }
    b->Unit(benchmark::kMillisecond)->UseManualTime();
}

} // namespace

BENCHMARK(BM_Decode)->Apply(Formats);
