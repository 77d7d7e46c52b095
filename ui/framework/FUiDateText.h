#pragma once

#include <cstdint>

class FWideString;

// The user's short date and time texts of `seconds` since 1970-01-01 00:00, without any
// time-zone shift; "DATE CONVERSION FAILED" or "TIME CONVERSION FAILED" when the
// conversion fails.
void FormatDateString(FWideString& text, uint32_t seconds);
void FormatTimeString(FWideString& text, uint32_t seconds);
