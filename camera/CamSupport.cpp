#include "CamSupport.h"

#include <atomic>
#include <chrono>
#include <thread>

namespace
{

struct RandomState {
    std::mutex m_lock; // every transport record shares the generator
    uint32_t m_table[256] = {};
    uint32_t m_index = 0;
    uint32_t m_first = 0;
    uint32_t m_second = 0;
    uint32_t m_borrow = 0;
    bool m_bSeeded = false;
};

RandomState& Random()
{
    static RandomState state;
    return state;
}

void SeedLocked(RandomState& r, uint32_t seed)
{
    r.m_index = 0;
    r.m_first = 0;
    r.m_second = 0;
    r.m_borrow = 0;
    uint32_t x = 34221;
    uint32_t c = 12345;
    uint32_t z = 12345;
    uint32_t w = 65435;
    for (uint32_t& word : r.m_table) {
        x ^= x << 17;
        x ^= x >> 13;
        z = 36969 * (z & 0xFFFF) + (z >> 16);
        w = 18000 * (w & 0xFFFF) + (w >> 16);
        c = 69069 * c + 1234567;
        x ^= x << 5;
        word = ((((z << 16) + w) ^ c) + x) ^ seed;
    }
    r.m_bSeeded = true;
}

std::mutex& ClockLock()
{
    static std::mutex lock;
    return lock;
}

CamClockHooks& Hooks()
{
    static CamClockHooks hooks;
    return hooks;
}

std::atomic<bool>& OsKnown()
{
    static std::atomic<bool> known{true};
    return known;
}

} // namespace

void CamRandomSeed(uint32_t seed)
{
    RandomState& r = Random();
    std::lock_guard lock(r.m_lock);
    SeedLocked(r, seed);
}

uint32_t CamRandomBelow(uint32_t n)
{
    RandomState& r = Random();
    std::lock_guard lock(r.m_lock);
    if (!r.m_bSeeded)
        SeedLocked(r, 0);
    r.m_index = (r.m_index + 1) & 0xFF;
    r.m_borrow = r.m_first < r.m_second ? 1 : 0;
    r.m_second = r.m_table[(r.m_index + 19) & 0xFF] + r.m_borrow;
    r.m_first = r.m_table[(r.m_index + 34) & 0xFF];
    const uint32_t t = r.m_first - r.m_second;
    r.m_table[r.m_index] = t;
    // 64 bits: the product of two 32-bit values does not fit in 32.
    const uint64_t scaled = static_cast<uint64_t>(t) * n / 4294967295u;
    if (n == 0)
        return 0;
    return scaled >= n ? n - 1 : static_cast<uint32_t>(scaled);
}

uint32_t CamRandomRange(uint32_t low, uint32_t high)
{
    return low + CamRandomBelow(high - low + 1);
}

double CamClockSeconds()
{
    std::function<double()> now;
    {
        std::lock_guard lock(ClockLock());
        now = Hooks().m_now;
    }
    if (now)
        return now();
    using namespace std::chrono;
    return duration<double>(steady_clock::now().time_since_epoch()).count();
}

void CamSleep(int milliseconds)
{
    std::function<void(int)> sleep;
    {
        std::lock_guard lock(ClockLock());
        sleep = Hooks().m_sleep;
    }
    if (sleep) {
        sleep(milliseconds);
        return;
    }
    if (milliseconds > 0)
        std::this_thread::sleep_for(std::chrono::milliseconds(milliseconds));
}

void CamSetClockHooks(CamClockHooks hooks)
{
    std::lock_guard lock(ClockLock());
    Hooks() = std::move(hooks);
}

bool CamOsVersionCode(int& family, int& code)
{
    if (!OsKnown().load())
        return false;
    family = 8; // Linux
    code = 0x80001;
    return true;
}

void CamSetOsVersionKnown(bool known)
{
    OsKnown().store(known);
}
