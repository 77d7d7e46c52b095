#pragma once

#include <cstddef>
#include <cstdint>

// Bytes of physical memory of the machine; 0 when the system does not say.
uint64_t OsPhysicalMemoryBytes();

// Asks the system to back the whole 2 MiB pages inside the block with large pages, which
// cuts the page faults of its first touch; a no-op where the system has none.
void OsAdviseLargePages(void* block, size_t bytes);

// The large page size that mapped blocks start on and are multiples of.
inline constexpr size_t kOsLargePageBytes = size_t(2) << 20;
// Fresh read-write pages of `bytes` (a multiple of kOsLargePageBytes) starting on a large
// page, asked to be backed by large pages; null when the system refuses.
void* OsMapPages(size_t bytes);
// Gives mapped pages back to the system.
void OsUnmapPages(void* block, size_t bytes);
// Moves the pages of [from, from + bytes), which lie in one mapping, to `to`, replacing
// what was mapped there: their contents come along without being copied or faulted in
// again. All three are multiples of kOsLargePageBytes. False when the system refuses.
bool OsMovePages(void* from, size_t bytes, void* to);

// The process's resident bytes now and at their peak since the start or the last reset;
// 0 when the system does not say.
uint64_t OsResidentBytes();
uint64_t OsPeakResidentBytes();
// Starts the peak over from the current resident bytes; false when the system cannot.
bool OsResetPeakResident();
