#pragma once

// JPEG streams that cost a decoder far more than their size suggests, written with
// libjpeg for the tests of the decode limits: many progressive scans over one
// picture, and a small stream that declares a huge picture.

#include <cstdint>
#include <vector>

namespace jpegfixture
{

// A progressive RGB stream of a photograph-like pattern in `scans` scans (1 to 2080):
// one DC scan, then single-coefficient AC scans, coarsest bits of every coefficient
// first, refined bit by bit as far as the count goes.
std::vector<uint8_t> ManyScanJPEG(int cols, int rows, int scans, int quality = 90);

// The stream with the size in its frame header replaced; its scans stay as they are,
// so a decoder learns of the lie only after allocating for the declared size.
std::vector<uint8_t> WithDeclaredSize(std::vector<uint8_t> jpeg, int cols, int rows);

// Scans of a stream (start-of-scan markers counted outside entropy-coded data).
int CountScans(const std::vector<uint8_t>& jpeg);

} // namespace jpegfixture
