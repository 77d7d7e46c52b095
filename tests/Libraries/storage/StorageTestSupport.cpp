#include "StorageTestSupport.h"

#include "FSCDiskWin.h"

#include <atomic>
#include <mutex>
#include <string>

void EnsureDiskRegistered()
{
    static std::once_flag s_once;
    std::call_once(s_once, [] { RegisterDiskStorageClass(); });
}

FWideString UniqueSchemeName(const char* base)
{
    static std::atomic<int> s_counter{0};
    return FWideString((std::string(base) + std::to_string(++s_counter)).c_str());
}
