// The process BM_FirstSave starts: saves a raw file as JPEG through the manager pool once,
// then `count - 1` times more, each time from an empty cache, and writes the first save's
// seconds and the best later one's to the report file.
//
//     bench_devchain_first <raw> <jpeg> <threads> <count> <report>

#include <algorithm>
#include <cstdio>
#include <cstdlib>

#include "DevelopDriver.h"
#include "FCache.h"
#include "FIPEngine2.h"
#include "FIPManager.h"
#include "FPropList.h"

int main(int argc, char** argv)
{
    if (argc != 6)
        return 2;
    SetIPEngineThreadCount(std::max(1, std::atoi(argv[3])));
    const int count = std::max(2, std::atoi(argv[4]));
    const FWideString raw = developtest::DiskURL(argv[1]);
    const FWideString jpeg = developtest::DiskURL(argv[2]);
    FIPManagerRequest props;
    developtest::PrepareProperties(props, raw);
    if (!developtest::RunThroughPool(props) || props.m_Async.GetState() != kCompleted)
        return 1;
    const int cols = props.m_pImageProps->GetInt("COLS", 0);
    const int rows = props.m_pImageProps->GetInt("ROWS", 0);
    double first = 0.0, steady = 1e9;
    for (int i = 0; i < count; ++i) {
        FCache* cache = GetGlobalCache();
        const uint32_t limit = cache->GetSize();
        cache->SetSize(0);
        cache->SetSize(limit);
        FIPManagerRequest save;
        developtest::PrepareSave(save, raw, jpeg, kSaveJPEG, kRGB24, 2, cols, rows);
        developtest::DevelopTimes times;
        if (!developtest::RunThroughPool(save, &times) || save.m_Async.GetState() != kCompleted)
            return 1;
        if (i == 0)
            first = times.totalSeconds;
        else
            steady = std::min(steady, times.totalSeconds);
    }
    std::FILE* report = std::fopen(argv[5], "w");
    if (report == nullptr)
        return 1;
    std::fprintf(report, "%.6f %.6f\n", first, steady);
    std::fclose(report);
    SetIPManagerPoolSize(0);
    return 0;
}
