#pragma once

#include <cstdint>
#include <memory>

// A worker thread's status as its owner sees it.
class FIThread
{
public:
    // The thread function has returned (or the thread could not start).
    virtual bool IsDone() = 0;
    // Meaningful only once IsDone is true.
    virtual int GetResult() = 0;
    // Levels 0-4 run from lowest to highest; 2 and any other level is normal.
    virtual void SetPriority(int level) = 0;
    virtual int GetPriority() = 0;
    virtual ~FIThread();
};

using FThreadFunction = int (*)(void* argument);

// Result until the function returns.
inline constexpr int kThreadResultPending = static_cast<int>(0xABCDEFABu);
// The function threw, or the thread could not be started.
inline constexpr int kThreadResultFailed = static_cast<int>(0xDEADBEEFu);

struct FThreadControl;

class FWinThread : public FIThread
{
public:
    // Starts at once. When no thread can be started the failure is traced and
    // the object reports done with kThreadResultFailed, so no owner waits for
    // ever.
    FWinThread(FThreadFunction function, void* argument, int level);
    // Never kills: a thread still running keeps its own state and finishes
    // on its own (traced as a warning). Owners stop their workers first.
    ~FWinThread() override;
    FWinThread(const FWinThread&) = delete;
    FWinThread& operator=(const FWinThread&) = delete;

    bool IsDone() override;
    int GetResult() override;
    void SetPriority(int level) override;
    int GetPriority() override;

private:
    std::shared_ptr<FThreadControl> m_pControl;
};

// Null only when the object cannot be made.
FIThread* CreateWinThread(FThreadFunction function, void* argument, int level);
// Deletes the thread object, if any, and clears the holder.
void DeleteThread(FIThread*& holder);

// Threads started in this process so far.
long GetStartedThreadCount();

// How many threads the machine runs at once; at least 1.
int GetProcessorCount();

void SleepMilliseconds(unsigned milliseconds);
// Truncated to whole milliseconds; a negative time sleeps 0.
void SleepSeconds(double seconds);
