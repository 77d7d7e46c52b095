// The process BM_FirstSave and BM_RepeatedSaveRSS start: saves a raw file as JPEG through
// the manager pool once, then `count - 1` times more, each time from an empty cache, and
// writes the first save's seconds and the best later one's to the report file. With a
// second raw file the saves take turns between the two, and the report also holds the
// process's resident MiB before the first save and its peak during each save, so that
// nothing a benchmark ran before counts.
//
//     bench_devchain_first <raw> <jpeg> <threads> <count> <report> [<second raw>]

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <vector>

#include "DevelopDriver.h"
#include "FCache.h"
#include "FIPEngine2.h"
#include "FIPManager.h"
#include "FPropList.h"
#include "os/FOsMemory.h"

int main(int argc, char** argv)
{
    if (argc != 6 && argc != 7)
        return 2;
    SetIPEngineThreadCount(std::max(1, std::atoi(argv[3])));
    const int count = std::max(2, std::atoi(argv[4]));
    const FWideString raws[2] = {developtest::DiskURL(argv[1]),
                                 developtest::DiskURL(argv[argc == 7 ? 6 : 1])};
    const FWideString& raw = raws[0];
    const FWideString jpeg = developtest::DiskURL(argv[2]);
    FIPManagerRequest props;
    developtest::PrepareProperties(props, raw);
    if (!developtest::RunThroughPool(props) || props.m_Async.GetState() != kCompleted)
        return 1;
    const int cols = props.m_pImageProps->GetInt("COLS", 0);
    const int rows = props.m_pImageProps->GetInt("ROWS", 0);
    double first = 0.0, steady = 1e9;
    const double residentBefore = double(OsResidentBytes()) / 1048576.0;
    std::vector<double> peaks;
    for (int i = 0; i < count; ++i) {
        OsResetPeakResident();
        // Two files taking turns keep what the cache holds, as a user's saves do.
        if (argc == 6) {
            FCache* cache = GetGlobalCache();
            const uint32_t limit = cache->GetSize();
            cache->SetSize(0);
            cache->SetSize(limit);
        }
        FIPManagerRequest save;
        developtest::PrepareSave(save, raws[i % 2], jpeg, kSaveJPEG, kRGB24, 2, cols, rows);
        developtest::DevelopTimes times;
        if (!developtest::RunThroughPool(save, &times) || save.m_Async.GetState() != kCompleted)
            return 1;
        peaks.push_back(double(OsPeakResidentBytes()) / 1048576.0);
        if (i == 0)
            first = times.totalSeconds;
        else
            steady = std::min(steady, times.totalSeconds);
    }
    std::FILE* report = std::fopen(argv[5], "w");
    if (report == nullptr)
        return 1;
    std::fprintf(report, "%.6f %.6f\n", first, steady);
    if (argc == 7) {
        std::fprintf(report, "%.1f", residentBefore);
        for (double peak : peaks)
            std::fprintf(report, " %.1f", peak);
        std::fprintf(report, "\n");
    }
    std::fclose(report);
    SetIPManagerPoolSize(0);
    return 0;
}
