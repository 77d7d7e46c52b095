#include "FDebugTrace.h"

#include <atomic>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>

namespace
{

bool StandardErrorWanted()
{
    static const bool wanted = [] {
        const char* value = std::getenv("RAWBENCH_DEBUG");
        return value && std::strcmp(value, "1") == 0;
    }();
    return wanted;
}

void DefaultSink(const char* text)
{
    if (StandardErrorWanted())
        std::fputs(text, stderr);
}

// Immortal, so that traces from static destructors still find it.
struct SinkState {
    std::mutex lock;
    FDebugSink sink;
    std::atomic<bool> custom{false};
};

SinkState& State()
{
    static SinkState* state = new SinkState;
    return *state;
}

bool SomebodyListens()
{
    return State().custom.load(std::memory_order_acquire) || StandardErrorWanted();
}

} // namespace

void DebugTraceText(const char* text)
{
    if (!text || !SomebodyListens())
        return;
    SinkState& state = State();
    std::lock_guard<std::mutex> guard(state.lock);
    if (state.sink)
        state.sink(text);
    else
        DefaultSink(text);
}

void DebugTrace(const char* format, ...)
{
    if (!format || !SomebodyListens())
        return;
    char buffer[kDebugTraceLimit];
    va_list args;
    va_start(args, format);
    std::vsnprintf(buffer, sizeof buffer, format, args);
    va_end(args);
    DebugTraceText(buffer);
}

FDebugSink SetDebugSink(FDebugSink sink)
{
    SinkState& state = State();
    std::lock_guard<std::mutex> guard(state.lock);
    FDebugSink previous = std::move(state.sink);
    state.sink = std::move(sink);
    state.custom.store(static_cast<bool>(state.sink), std::memory_order_release);
    return previous;
}

struct FDebugTraceCapture::Record {
    mutable std::mutex lock;
    std::string text;
};

FDebugTraceCapture::FDebugTraceCapture() : m_pRecord(std::make_shared<Record>())
{
    std::shared_ptr<Record> record = m_pRecord;
    m_previous = SetDebugSink([record](const char* text) {
        std::lock_guard<std::mutex> guard(record->lock);
        record->text += text;
    });
}

FDebugTraceCapture::~FDebugTraceCapture()
{
    SetDebugSink(std::move(m_previous));
}

std::string FDebugTraceCapture::GetText() const
{
    std::lock_guard<std::mutex> guard(m_pRecord->lock);
    return m_pRecord->text;
}

void FDebugTraceCapture::Clear()
{
    std::lock_guard<std::mutex> guard(m_pRecord->lock);
    m_pRecord->text.clear();
}
