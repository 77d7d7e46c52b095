#pragma once

// Drives requests through the process-wide manager pool exactly as the application does
// (one thread plays the user-interface thread and calls the pool's Idle), and measures
// where the time goes: per manager state, the longest single Idle, and the cache's peak.

#include <chrono>
#include <cstdint>
#include <string>
#include <vector>

#include "FIPManagerRequest.h"
#include "FWideString.h"

namespace developtest
{

struct DevelopTimes {
    // Seconds spent with a manager in each state of its stage machine (a save's strips add
    // to the same states).
    std::vector<double> stateSeconds = std::vector<double>(32, 0.0);
    double totalSeconds = 0.0;
    double longestIdleSeconds = 0.0;
    int64_t peakCacheBytes = 0;
    int idleCalls = 0;

    void Add(const DevelopTimes& other);
};

// Names of the stage machine's states, for printed tables ("" for unused numbers).
const char* ManagerStateName(int state);

// Sends the request to the pool and calls the pool's Idle until the request is final or
// the deadline passes; false on the deadline. Times are added to `times` when given.
bool RunThroughPool(FIPManagerRequest& request, DevelopTimes* times = nullptr,
                    std::chrono::milliseconds deadline = std::chrono::minutes(5));

// The URL of a native path through the disk storage class (registered on first use).
FWideString DiskURL(const std::string& nativePath);

// Requests as the application fills them.
void PrepareProperties(FIPManagerRequest& request, const FWideString& file);
void PreparePreview(FIPManagerRequest& request, const FWideString& file, int box);
void PrepareProcessed(FIPManagerRequest& request, const FWideString& file, int cols, int rows, int format);
void PrepareSave(FIPManagerRequest& request, const FWideString& file, const FWideString& output, int fileType,
                 int format, int colorSpace, int cols, int rows);

} // namespace developtest
