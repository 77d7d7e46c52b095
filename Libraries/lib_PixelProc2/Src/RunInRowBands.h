#pragma once

#include <functional>

// Splits rows [0, rows) into `threads` consecutive bands and runs band(first, end) for
// each, on worker threads, returning when all are done. One thread (or fewer rows than
// threads) runs on the caller's thread. A band whose thread cannot start runs on the
// caller's thread, so every band runs exactly once. The band function must not throw.
void RunInRowBands(int rows, int threads, const std::function<void(int first, int end)>& band);

// The bands RunInRowBands uses: band i covers [BandStart(i), BandStart(i + 1)).
int RowBandStart(int rows, int threads, int band);
