#pragma once

// The camera link's small runtime: lock records, the generator, the clock and
// sleep (both replaceable, so that tests run on virtual time) and the OS code.

#include <cstdint>
#include <functional>
#include <mutex>

// Blocks until free; not re-entrant. Callers rely on owning it afterwards.
class CamLock
{
public:
    void Take() { m_mutex.lock(); }
    void Release() { m_mutex.unlock(); }
    // For std::lock_guard.
    void lock() { Take(); }
    void unlock() { Release(); }

private:
    std::mutex m_mutex;
};

// A subtract-with-borrow generator over 256 words; the sequence depends only on the seed.
void CamRandomSeed(uint32_t seed);
// In [0, n); n of 0 answers 0.
uint32_t CamRandomBelow(uint32_t n);
// In [low, high].
uint32_t CamRandomRange(uint32_t low, uint32_t high);

// Seconds since an arbitrary origin.
double CamClockSeconds();
void CamSleep(int milliseconds);

// Replaces the clock and the sleep of the whole link; empty functions restore the real ones.
struct CamClockHooks {
    std::function<double()> m_now;
    std::function<void(int milliseconds)> m_sleep;
};
void CamSetClockHooks(CamClockHooks hooks);

// Family and code of the running system; false when it has none.
bool CamOsVersionCode(int& family, int& code);
// Tests switch the code off to see record creation refused.
void CamSetOsVersionKnown(bool known);
