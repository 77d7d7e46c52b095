#pragma once

#include <cstdint>
#include <memory>

// Times intervals on the monotonic high-resolution counter.
class FStopwatch
{
public:
    FStopwatch();
    ~FStopwatch();
    FStopwatch(const FStopwatch&) = delete;
    FStopwatch& operator=(const FStopwatch&) = delete;

    void Reset();
    void Start();
    void Stop();
    // Seconds since the last Start.
    double GetElapsed() const;
    // Seconds between the last Start and Stop; 0 before any Start.
    double GetLastInterval() const;
    // Seconds accumulated over every Stop since the last Reset.
    double GetTotal() const;
    int GetCount() const;

private:
    struct Record;
    std::unique_ptr<Record> m_pRecord;
};

double GetSecondsPerTick();
// The counter read by the stopwatch, in ticks of GetSecondsPerTick seconds.
int64_t GetPerformanceCounter();
