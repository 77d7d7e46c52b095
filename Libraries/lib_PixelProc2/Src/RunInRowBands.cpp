#include "RunInRowBands.h"

#include <algorithm>
#include <atomic>
#include <memory>
#include <vector>

#include "FEvent.h"
#include "FWinThread.h"

namespace
{

struct BandJob {
    const std::function<void(int, int)>* band = nullptr;
    int first = 0;
    int end = 0;
    std::atomic<bool> started{false};
    FEvent finished;
};

int RunBand(void* argument)
{
    auto* job = static_cast<BandJob*>(argument);
    job->started.store(true);
    (*job->band)(job->first, job->end);
    job->finished.Set();
    return 0;
}

} // namespace

int RowBandStart(int rows, int threads, int band)
{
    return static_cast<int>(static_cast<long long>(rows) * band / threads);
}

void RunInRowBands(int rows, int threads, const std::function<void(int first, int end)>& band)
{
    if (rows <= 0)
        return;
    threads = std::clamp(threads, 1, rows);
    if (threads == 1) {
        band(0, rows);
        return;
    }
    std::vector<std::unique_ptr<BandJob>> jobs;
    std::vector<std::unique_ptr<FWinThread>> workers;
    for (int i = 1; i < threads; ++i) {
        auto job = std::make_unique<BandJob>();
        job->band = &band;
        job->first = RowBandStart(rows, threads, i);
        job->end = RowBandStart(rows, threads, i + 1);
        workers.push_back(std::make_unique<FWinThread>(RunBand, job.get(), 2));
        jobs.push_back(std::move(job));
    }
    band(0, RowBandStart(rows, threads, 1));
    for (size_t i = 0; i < jobs.size(); ++i) {
        BandJob& job = *jobs[i];
        // A thread that never started reports done at once; its band runs here instead.
        while (!job.finished.Wait(100)) {
            if (!workers[i]->IsDone())
                continue;
            if (!job.started.load())
                band(job.first, job.end);
            break;
        }
    }
    // A worker that has signalled is about to return: let it, so that no thread object is
    // destroyed while its thread still runs (which is traced as a forced end).
    for (auto& worker : workers)
        while (!worker->IsDone())
            SleepMilliseconds(0);
}
