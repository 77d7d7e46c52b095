#include "FStopwatch.h"

#include <chrono>

struct FStopwatch::Record {
    int64_t start = 0;
    int64_t stop = 0;
    int64_t accumulated = 0;
    int32_t count = 0;
    int32_t running = 0;
};

FStopwatch::FStopwatch() : m_pRecord(std::make_unique<Record>()) {}

FStopwatch::~FStopwatch() = default;

void FStopwatch::Reset()
{
    *m_pRecord = Record();
}

void FStopwatch::Start()
{
    m_pRecord->start = GetPerformanceCounter();
    m_pRecord->stop = m_pRecord->start;
    m_pRecord->running = 1;
}

void FStopwatch::Stop()
{
    m_pRecord->stop = GetPerformanceCounter();
    m_pRecord->running = 0;
    ++m_pRecord->count;
    m_pRecord->accumulated += m_pRecord->stop - m_pRecord->start;
}

double FStopwatch::GetElapsed() const
{
    return static_cast<double>(GetPerformanceCounter() - m_pRecord->start) * GetSecondsPerTick();
}

double FStopwatch::GetLastInterval() const
{
    return static_cast<double>(m_pRecord->stop - m_pRecord->start) * GetSecondsPerTick();
}

double FStopwatch::GetTotal() const
{
    return static_cast<double>(m_pRecord->accumulated) * GetSecondsPerTick();
}

int FStopwatch::GetCount() const
{
    return m_pRecord->count;
}

double GetSecondsPerTick()
{
    using Period = std::chrono::steady_clock::period;
    return static_cast<double>(Period::num) / static_cast<double>(Period::den);
}

int64_t GetPerformanceCounter()
{
    return static_cast<int64_t>(std::chrono::steady_clock::now().time_since_epoch().count());
}
