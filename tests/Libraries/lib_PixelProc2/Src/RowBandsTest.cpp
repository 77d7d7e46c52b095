#include <gtest/gtest.h>

#include <atomic>
#include <stdexcept>
#include <vector>

#include "RunInRowBands.h"

namespace
{

// Chunks cover every row once, in chunks of the grain (the last one shorter), whatever the
// threads; a chunk that throws reaches the caller.
TEST(RowChunks, EveryRowOnceInChunksOfTheGrain)
{
    for (int rows : {0, 1, 7, 100, 1761})
        for (int grain : {1, 8, 64, 5000})
            for (int threads : {1, 4, 16}) {
                std::vector<std::atomic<int>> runs(static_cast<size_t>(rows));
                std::atomic<int> badChunks{0};
                RunRowChunks(rows, threads, grain, [&](int first, int end) {
                    if (first % grain != 0 || (end - first != grain && end != rows))
                        ++badChunks;
                    for (int y = first; y < end; ++y)
                        runs[size_t(y)].fetch_add(1);
                });
                EXPECT_EQ(badChunks.load(), 0)
                    << rows << " rows, grain " << grain << ", " << threads << " threads";
                for (int y = 0; y < rows; ++y)
                    ASSERT_EQ(runs[size_t(y)].load(), 1) << rows << " rows, grain " << grain << ", row " << y;
            }
    EXPECT_THROW(RunRowChunks(100, 4, 8,
                              [](int first, int) {
                                  if (first == 48)
                                      throw std::runtime_error("chunk");
                              }),
                 std::runtime_error);
}

// Whole bands a thread, at most four, none shorter than asked unless the threads need it.
TEST(RowChunks, BalancedBandsKeepEveryThreadBusyAndBandsTallEnough)
{
    struct Case {
        int rows, threads, minRows, bands;
    };
    const Case cases[] = {
        {1760, 1, 16, 1},   {1760, 8, 16, 32}, {1760, 8, 160, 8}, {203, 8, 160, 8},
        {4000, 8, 160, 24}, {5, 8, 16, 5},     {0, 8, 16, 1},     {1760, 8, 0, 32},
    };
    for (const Case& c : cases)
        EXPECT_EQ(BalancedBands(c.rows, c.threads, c.minRows), c.bands)
            << c.rows << " rows, " << c.threads << " threads, " << c.minRows;
}

} // namespace
