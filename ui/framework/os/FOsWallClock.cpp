#include "FOsWallClock.h"

#include <atomic>
#include <ctime>

#include "FHeadlessDesktop.h"
#include "FOsBackend.h"

namespace
{
// Calendar milliseconds at virtual clock 0.
std::atomic<int64_t> g_headlessBaseMs{0};
} // namespace

int64_t GetOsCalendarTime()
{
    if (GetOsBackend() == EOsBackend::kHeadless) {
        const int64_t ms = g_headlessBaseMs.load() + static_cast<int64_t>(GetHeadlessDesktop().clockMs);
        return ms >= 0 ? ms / 1000 : -((999 - ms) / 1000);
    }
    return static_cast<int64_t>(std::time(nullptr));
}

void SetHeadlessCalendarTime(int64_t seconds)
{
    g_headlessBaseMs.store(seconds * 1000 - static_cast<int64_t>(GetHeadlessDesktop().clockMs));
}

int64_t GetOsLocalTimeOffset(int64_t utcSeconds)
{
    const time_t when = static_cast<time_t>(utcSeconds);
    struct tm local {
    };
    if (!localtime_r(&when, &local))
        return 0;
    return local.tm_gmtoff;
}
