#pragma once

// A file copy whose opens, reads and final placing run on a worker thread, so that a
// source that stalls (a camera above all) never holds up the thread that drives it. The
// worker reads ahead into a small bounded queue of pieces; the owner writes them into the
// destination's temporary file at its own pace, then asks for the copy to be put in place.
// A copy that does not end in place leaves the destination as it was and no temporary file.

#include <chrono>
#include <cstdint>
#include <memory>
#include <vector>

#include "FWideString.h"

class FIThread;

class FIpFileCopy
{
public:
    using Clock = std::chrono::steady_clock;

    // Bytes per piece.
    static constexpr int kChunk = 0x10000;
    // Pieces read ahead of the writer.
    static constexpr int kQueuedPieces = 4;

    enum class Opening { kPending, kOpen, kRefused };
    enum class Piece { kWritten, kNotReady, kFailed, kRefused };
    enum class Ending { kPending, kPlaced, kFailed };

    FIpFileCopy();
    // Cancels, then waits for every worker: only a device call already under way can delay it.
    ~FIpFileCopy();
    FIpFileCopy(const FIpFileCopy&) = delete;
    FIpFileCopy& operator=(const FIpFileCopy&) = delete;

    // Starts copying `source` over `destination`; a copy still running is cancelled first.
    // With `deleteSource` the copy is made durable, then the source goes to the trash.
    void Start(const FWideString& source, const FWideString& destination, bool deleteSource);
    bool IsActive() const { return m_pJob != nullptr; }

    // Waits at most until `deadline` to learn whether both files opened.
    Opening WaitOpened(Clock::time_point deadline);
    // Writes the next piece, waiting for it at most until `deadline`.
    Piece WriteNext(Clock::time_point deadline);
    int64_t GetSize() const;
    int64_t GetWritten() const { return m_nWritten; }
    bool IsAllWritten() const;

    // Hands the complete copy to the worker to put in place.
    void RequestEnd();
    // Waits at most until `deadline` for the copy to be put in place.
    Ending WaitEnded(Clock::time_point deadline);

    // Stops the copy, waiting at most until `deadline` for its worker to discard the
    // temporary file; a worker still inside a call discards it when the call returns.
    void Cancel(Clock::time_point deadline = {});
    // No worker is running any more.
    bool IsQuiet();

    struct Job;

private:
    struct Worker {
        std::shared_ptr<Job> job;
        FIThread* thread = nullptr;
    };

    void priReap();

    std::shared_ptr<Job> m_pJob;
    std::vector<Worker> m_workers;
    int64_t m_nWritten = 0;
    bool m_bAllWritten = false;
};
