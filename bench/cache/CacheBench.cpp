// The cache's find-and-reference and its make-room-and-allocate paths, each beside the
// same work done directly in the same run: a hit beside a hash-map lookup under a mutex, a
// miss beside a plain heap allocation and release of the same block. Each result carries
// "x_ref", its time per operation over the reference's.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <mutex>
#include <string>
#include <unordered_map>
#include <vector>

#include "FCache.h"

namespace
{

constexpr int kLabels = 64;
constexpr int kBlockBytes = 4096;
constexpr int kReferenceOps = 200000;

std::vector<FWideString> MakeLabels()
{
    std::vector<FWideString> labels;
    for (int i = 0; i < kLabels; ++i) {
        FWideString label;
        label.Format("disk://%%002F/home/u/pictures/IMG_%04d.q7f|stage2|exp=0.25|wb=5200", i);
        labels.push_back(label);
    }
    return labels;
}

double SecondsSince(std::chrono::steady_clock::time_point start)
{
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

template <typename Body>
double BestSecondsPerOp(Body body)
{
    double best = 1e9;
    for (int k = 0; k < 5; ++k) {
        const auto start = std::chrono::steady_clock::now();
        for (int i = 0; i < kReferenceOps; ++i)
            body(i);
        best = std::min(best, SecondsSince(start) / kReferenceOps);
    }
    return best;
}

// A hash map from label to block under a mutex: the lookup a caller could write itself.
double MapLookupSeconds()
{
    static const double seconds = [] {
        const std::vector<FWideString> labels = MakeLabels();
        std::unordered_map<std::u16string, void*> map;
        std::vector<std::vector<char>> blocks(kLabels, std::vector<char>(kBlockBytes));
        for (int i = 0; i < kLabels; ++i)
            map[labels[static_cast<size_t>(i)].GetBuffer()] = blocks[static_cast<size_t>(i)].data();
        std::mutex lock;
        return BestSecondsPerOp([&](int i) {
            std::lock_guard<std::mutex> guard(lock);
            void* block = map.find(labels[static_cast<size_t>(i % kLabels)].GetBuffer())->second;
            benchmark::DoNotOptimize(block);
        });
    }();
    return seconds;
}

double HeapSeconds()
{
    static const double seconds = BestSecondsPerOp([](int) {
        void* block = std::malloc(kBlockBytes);
        benchmark::DoNotOptimize(block);
        std::free(block);
    });
    return seconds;
}

template <typename Body>
void Run(benchmark::State& state, double reference, Body body)
{
    int i = 0;
    const auto start = std::chrono::steady_clock::now();
    for (auto _ : state)
        body(i++);
    state.counters["x_ref"] = SecondsSince(start) / static_cast<double>(state.iterations()) / reference;
}

void BM_MapLookupReference(benchmark::State& state)
{
    const std::vector<FWideString> labels = MakeLabels();
    std::unordered_map<std::u16string, int> map;
    for (int i = 0; i < kLabels; ++i)
        map[labels[static_cast<size_t>(i)].GetBuffer()] = i;
    std::mutex lock;
    Run(state, MapLookupSeconds(), [&](int i) {
        std::lock_guard<std::mutex> guard(lock);
        benchmark::DoNotOptimize(map.find(labels[static_cast<size_t>(i % kLabels)].GetBuffer())->second);
    });
}

void BM_CacheHit(benchmark::State& state)
{
    const std::vector<FWideString> labels = MakeLabels();
    FCache cache;
    for (const FWideString& label : labels)
        cache.Get(label.GetBuffer(), kBlockBytes)->Release();
    Run(state, MapLookupSeconds(), [&](int i) {
        FCacheObject* entry = cache.Get(labels[static_cast<size_t>(i % kLabels)].GetBuffer(), 0);
        benchmark::DoNotOptimize(entry->GetData());
        entry->Release();
    });
}

void BM_HeapReference(benchmark::State& state)
{
    Run(state, HeapSeconds(), [](int) {
        void* block = std::malloc(kBlockBytes);
        benchmark::DoNotOptimize(block);
        std::free(block);
    });
}

// Every request is new and the limit holds 16 blocks: each one evicts the oldest.
void BM_CacheMissWithEviction(benchmark::State& state)
{
    const std::vector<FWideString> labels = MakeLabels();
    FCache cache;
    cache.SetSize(static_cast<uint32_t>(16 * (kBlockBytes + FCache::kEntryOverhead)));
    Run(state, HeapSeconds(), [&](int i) {
        FCacheObject* entry = cache.Get(labels[static_cast<size_t>(i % kLabels)].GetBuffer(), kBlockBytes);
        benchmark::DoNotOptimize(entry->GetData());
        entry->Release();
    });
}

} // namespace

BENCHMARK(BM_MapLookupReference);
BENCHMARK(BM_CacheHit);
BENCHMARK(BM_HeapReference);
BENCHMARK(BM_CacheMissWithEviction);
