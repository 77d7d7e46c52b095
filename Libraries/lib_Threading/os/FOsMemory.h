#pragma once

#include <cstddef>
#include <cstdint>

// Bytes of physical memory of the machine; 0 when the system does not say.
uint64_t OsPhysicalMemoryBytes();

// Asks the system to back the whole 2 MiB pages inside the block with large pages, which
// cuts the page faults of its first touch; a no-op where the system has none.
void OsAdviseLargePages(void* block, size_t bytes);

// The process's resident bytes now and at their peak since the start or the last reset;
// 0 when the system does not say.
uint64_t OsResidentBytes();
uint64_t OsPeakResidentBytes();
// Starts the peak over from the current resident bytes; false when the system cannot.
bool OsResetPeakResident();
