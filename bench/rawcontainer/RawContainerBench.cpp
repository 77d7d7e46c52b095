// Reading an 8 MiB camera-data section through the container reader (in-memory
// storage class), plain and scrambled, beside a plain copy of the same bytes.
#include "BribFileBuilder.h"
#include "FBribImageReader.h"
#include "RawTestFolder.h"

#include <benchmark/benchmark.h>
#include <cstring>

namespace
{

constexpr size_t kPayload = 8u << 20;

const FWideString& CamfileURL(uint32_t kind)
{
    static const FWideString plain = [] {
        rawtest::BribFileBuilder file;
        file.Top().AddCamfile(1, rawtest::Bytes(kPayload, 0x5A));
        return rawtest::PutMemoryFile("plain.q7f", file.Build());
    }();
    static const FWideString scrambled = [] {
        rawtest::BribFileBuilder file;
        file.Top().AddCamfile(2, rawtest::Bytes(kPayload, 0x5A));
        return rawtest::PutMemoryFile("scrambled.q7f", file.Build());
    }();
    return kind == 2 ? scrambled : plain;
}

void ReadCamfile(benchmark::State& state, uint32_t kind)
{
    const FWideString& url = CamfileURL(kind);
    rawtest::Bytes buffer(kPayload);
    for (auto _ : state) {
        FBribImageReader reader(url.GetBuffer());
        double progress = 0;
        benchmark::DoNotOptimize(
            reader.ReadCamfile(0, buffer.data(), unsigned(kPayload), &progress, nullptr));
    }
    state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(kPayload));
}

void BM_ReadCamfilePlain(benchmark::State& state)
{
    ReadCamfile(state, 1);
}
BENCHMARK(BM_ReadCamfilePlain)->Unit(benchmark::kMillisecond);

void BM_ReadCamfileScrambled(benchmark::State& state)
{
    ReadCamfile(state, 2);
}
BENCHMARK(BM_ReadCamfileScrambled)->Unit(benchmark::kMillisecond);

void BM_ReferenceCopy(benchmark::State& state)
{
    const rawtest::Bytes source(kPayload, 0x5A);
    rawtest::Bytes buffer(kPayload);
    for (auto _ : state) {
        std::memcpy(buffer.data(), source.data(), kPayload);
        benchmark::DoNotOptimize(buffer.data());
        benchmark::ClobberMemory();
    }
    state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(kPayload));
}
BENCHMARK(BM_ReferenceCopy)->Unit(benchmark::kMillisecond);

} // namespace
