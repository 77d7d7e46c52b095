#include "FOsMemory.h"

#include <cstdint>
#include <cstdio>
#include <cstring>

#include <sys/mman.h>
#include <unistd.h>

uint64_t OsPhysicalMemoryBytes()
{
    const long pages = sysconf(_SC_PHYS_PAGES);
    const long pageSize = sysconf(_SC_PAGESIZE);
    if (pages <= 0 || pageSize <= 0)
        return 0;
    return static_cast<uint64_t>(pages) * static_cast<uint64_t>(pageSize);
}

void OsAdviseLargePages(void* block, size_t bytes)
{
    constexpr uintptr_t kLarge = uintptr_t(2) << 20;
    const uintptr_t begin = (reinterpret_cast<uintptr_t>(block) + kLarge - 1) & ~(kLarge - 1);
    const uintptr_t end = (reinterpret_cast<uintptr_t>(block) + bytes) & ~(kLarge - 1);
    if (end > begin)
        madvise(reinterpret_cast<void*>(begin), end - begin, MADV_HUGEPAGE);
}

void* OsMapPages(size_t bytes)
{
    if (bytes == 0 || bytes % kOsLargePageBytes != 0 || bytes > SIZE_MAX - kOsLargePageBytes)
        return nullptr;
    // Mapped a large page longer, then trimmed to start on one.
    const size_t span = bytes + kOsLargePageBytes;
    void* raw = mmap(nullptr, span, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (raw == MAP_FAILED)
        return nullptr;
    const uintptr_t start = reinterpret_cast<uintptr_t>(raw);
    const uintptr_t aligned = (start + kOsLargePageBytes - 1) & ~(uintptr_t(kOsLargePageBytes) - 1);
    if (aligned > start)
        munmap(raw, aligned - start);
    const uintptr_t end = aligned + bytes;
    if (start + span > end)
        munmap(reinterpret_cast<void*>(end), start + span - end);
    void* block = reinterpret_cast<void*>(aligned);
    madvise(block, bytes, MADV_HUGEPAGE);
    return block;
}

void OsUnmapPages(void* block, size_t bytes)
{
    if (block != nullptr && bytes != 0)
        munmap(block, bytes);
}

bool OsMovePages(void* from, size_t bytes, void* to)
{
    if (from == to)
        return true;
    return mremap(from, bytes, bytes, MREMAP_MAYMOVE | MREMAP_FIXED, to) == to;
}

namespace
{

// A "Name:   1234 kB" line of the process's status, in bytes.
uint64_t priStatusKilobytes(const char* name)
{
    std::FILE* file = std::fopen("/proc/self/status", "r");
    if (file == nullptr)
        return 0;
    char line[256];
    uint64_t bytes = 0;
    const size_t length = std::strlen(name);
    while (std::fgets(line, sizeof(line), file) != nullptr) {
        unsigned long long kilobytes = 0;
        if (std::strncmp(line, name, length) == 0 && line[length] == ':' &&
            std::sscanf(line + length + 1, "%llu", &kilobytes) == 1) {
            bytes = static_cast<uint64_t>(kilobytes) * 1024;
            break;
        }
    }
    std::fclose(file);
    return bytes;
}

} // namespace

uint64_t OsResidentBytes()
{
    return priStatusKilobytes("VmRSS");
}

uint64_t OsPeakResidentBytes()
{
    return priStatusKilobytes("VmHWM");
}

bool OsResetPeakResident()
{
    std::FILE* file = std::fopen("/proc/self/clear_refs", "w");
    if (file == nullptr)
        return false;
    const bool written = std::fputs("5", file) >= 0;
    return std::fclose(file) == 0 && written;
}
