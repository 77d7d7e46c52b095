#pragma once

#include <functional>
#include <memory>
#include <string>

// The one debug sink of the process. Silent by default; standard error when
// RAWBENCH_DEBUG=1; replaceable, so that tests can capture what is traced.

// printf-style; texts longer than kDebugTraceLimit - 1 bytes are cut.
void DebugTrace(const char* format, ...) __attribute__((format(printf, 1, 2)));
// Passes an already formatted text to the sink.
void DebugTraceText(const char* text);

inline constexpr int kDebugTraceLimit = 2048;

using FDebugSink = std::function<void(const char* text)>;
// Installs a sink (an empty one restores the default) and returns the previous.
FDebugSink SetDebugSink(FDebugSink sink);

// Captures every traced text, from any thread, while it lives.
class FDebugTraceCapture
{
public:
    FDebugTraceCapture();
    ~FDebugTraceCapture();
    FDebugTraceCapture(const FDebugTraceCapture&) = delete;
    FDebugTraceCapture& operator=(const FDebugTraceCapture&) = delete;

    // Everything traced so far, in order.
    std::string GetText() const;
    bool Contains(const std::string& piece) const { return GetText().find(piece) != std::string::npos; }
    void Clear();

private:
    struct Record;
    std::shared_ptr<Record> m_pRecord;
    FDebugSink m_previous;
};
