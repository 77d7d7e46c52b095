#pragma once

#include <cstddef>
#include <cstdint>

// Bytes of physical memory of the machine; 0 when the system does not say.
uint64_t OsPhysicalMemoryBytes();

// Asks the system to back the whole 2 MiB pages inside the block with large pages, which
// cuts the page faults of its first touch; a no-op where the system has none.
void OsAdviseLargePages(void* block, size_t bytes);
