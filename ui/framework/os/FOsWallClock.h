#pragma once

// The time of day for widgets that show it. The headless desktop keeps a
// calendar time that tests set, which then advances with its virtual clock.

#include <cstdint>

// Seconds since 1 January 1970, UTC.
int64_t GetOsCalendarTime();

// Headless backend only: the calendar time at the desktop's current virtual
// clock; later readings add the virtual milliseconds that pass.
void SetHeadlessCalendarTime(int64_t seconds);

// Seconds that local wall-clock time is ahead of UTC at `utcSeconds`
// (daylight saving included).
int64_t GetOsLocalTimeOffset(int64_t utcSeconds);
