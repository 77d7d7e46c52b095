#pragma once

#include <functional>

class FBandPool;

// Splits rows [0, rows) into `threads` consecutive bands and runs band(first, end) for
// each on the process's band pool, the caller's thread taking bands too, and returns when
// all have ended. One band, or no pool, runs the bands on the caller's thread in order.
// The split depends only on rows and threads, never on the pool. A band that throws ends
// the call with its exception once every other band has ended (the lowest such band's,
// when several throw).
void RunInRowBands(int rows, int threads, const std::function<void(int first, int end)>& band);

// Runs body(first, end) over [0, rows) in chunks of `grain` rows that the caller and the
// pool's threads (at most `threads` in all) take one at a time until none is left: a
// thread the system holds up delays no more than the chunk it holds. Only for work whose
// rows do not depend on one another. One thread, or no pool: one call for all rows.
void RunRowChunks(int rows, int threads, int grain, const std::function<void(int first, int end)>& body);

// How many bands to split `rows` into for `threads` threads: one a thread (rows allowing),
// and up to four a thread while each keeps at least `minRows` rows, so that a thread the
// system holds up leaves the rest of its share to the others. A band's fixed
// cost (a halo swept or copied) sets `minRows`. One thread: one band.
int BalancedBands(int rows, int threads, int minRows);

// The bands RunInRowBands uses: band i covers [BandStart(i), BandStart(i + 1)).
int RowBandStart(int rows, int threads, int band);

// The pool the bands run on. The image-processing layer owns it and installs it once;
// null (the start) runs every band on the caller's thread.
void SetRowBandPool(FBandPool* pool);
FBandPool* GetRowBandPool();
