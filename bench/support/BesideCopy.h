#pragma once

#include <algorithm>
#include <chrono>

#include <benchmark/benchmark.h>

// Times a stage and a plain copy of its input in the same iteration and reports the
// fastest of each, so that a busy machine disturbs their ratio least. Benchmarks that
// use it should also call UseManualTime().
namespace bench
{

inline double SecondsSince(std::chrono::steady_clock::time_point start)
{
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

// `restore` runs untimed before each pass (to reset buffers the stage works in place).
template <typename Restore, typename Copy, typename Body>
void RunBesideCopy(benchmark::State& state, Restore restore, Copy copy, Body body)
{
    double bestBody = 1e9;
    double bestCopy = 1e9;
    for (auto _ : state) {
        restore();
        auto start = std::chrono::steady_clock::now();
        copy();
        benchmark::ClobberMemory();
        bestCopy = std::min(bestCopy, SecondsSince(start));

        start = std::chrono::steady_clock::now();
        body();
        benchmark::ClobberMemory();
        const double seconds = SecondsSince(start);
        bestBody = std::min(bestBody, seconds);
        state.SetIterationTime(seconds);
    }
    state.counters["best_ms"] = bestBody * 1e3;
    state.counters["copy_ms"] = bestCopy * 1e3;
    state.counters["x_copy"] = bestBody / bestCopy;
}

template <typename Copy, typename Body>
void RunBesideCopy(benchmark::State& state, Copy copy, Body body)
{
    RunBesideCopy(
        state, [] {}, copy, body);
}

// The thread counts threaded stages are measured at.
inline void ThreadCounts(benchmark::internal::Benchmark* b)
{
    for (int threads : {1, 2, 4, 8})
        b->Arg(threads);
}

} // namespace bench
