#pragma once

#include <cstdint>
#include <string>

// The short date ("%x") or the time ("%X") of `seconds` since 1970-01-01 00:00, taken as
// they are (no time-zone shift), in the user's locale; the "C" locale under the headless
// backend, so that tests see fixed texts. False when the conversion fails. UTF-8.
bool FormatOsDate(uint32_t seconds, std::string& text);
bool FormatOsTime(uint32_t seconds, std::string& text);
