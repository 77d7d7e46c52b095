#pragma once

#include <string>
#include <string_view>

// Locale order of two texts for sorting names, ignoring case: -1, 0 or 1.
// Uses the user's collation (from the environment) without touching the
// process locale.
int OsCollateNoCase(std::u16string_view a, std::u16string_view b);
// Bytes whose plain byte order (strcmp) is the order OsCollateNoCase gives, so that a sort
// can transform each text once instead of on every comparison.
std::string OsCollationKeyNoCase(std::u16string_view text);
