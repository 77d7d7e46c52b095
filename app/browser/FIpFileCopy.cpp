#include "FIpFileCopy.h"

#include <algorithm>
#include <condition_variable>
#include <deque>
#include <mutex>
#include <utility>

#include "FDebugTrace.h"
#include "FException.h"
#include "FIStorageClass.h"
#include "FReplacingFile.h"
#include "FWinThread.h"
#include "StorageClassRegistry.h"

// What the worker and the owner share. Between a successful opening and the end request
// (or a cancel) only the owner touches `target`; before and after, only the worker.
struct FIpFileCopy::Job {
    FWideString source;
    FWideString destination;
    bool deleteSource = false;

    std::mutex lock;
    std::condition_variable changed;
    bool cancel = false;
    bool endRequested = false;
    Opening opening = Opening::kPending;
    int64_t size = 0;
    std::deque<std::vector<uint8_t>> queue;
    std::vector<std::vector<uint8_t>> spare;
    bool readFailed = false;
    Ending ending = Ending::kPending;
    bool finished = false;

    FIFile* sourceFile = nullptr;
    std::unique_ptr<FReplacingFile> target;
};

namespace
{

using Job = FIpFileCopy::Job;

void ReleaseSource(Job& job) noexcept
{
    FIFile* file = std::exchange(job.sourceFile, nullptr);
    try {
        if (file)
            file->Release();
    } catch (...) {
    }
}

// Opens both files; false when the copy cannot be made.
bool OpenBoth(Job& job)
{
    try {
        job.sourceFile = OpenFileURL(job.source, kFileRead);
        if (!job.sourceFile) {
            DebugTrace("FIpFileCopy: error opening the source file\n");
            return false;
        }
        // The destination stays untouched until the complete copy replaces it.
        try {
            job.target = std::make_unique<FReplacingFile>(job.destination);
        } catch (const FException&) {
            DebugTrace("FIpFileCopy: error opening the destination file\n");
            return false;
        }
        FFileInfo info;
        job.sourceFile->GetInfo(info);
        info.m_iFlags &= ~kFileAttrReadOnly;
        job.target->GetFile()->SetAttributes(info);
        job.size = static_cast<int64_t>(job.sourceFile->GetSize());
        if (job.size < 0)
            throw FExceptionFileRead("source size out of range");
    } catch (...) {
        DebugTrace("FIpFileCopy: caught an exception while setting up the copy\n");
        return false;
    }
    return true;
}

// Reads every piece into the queue, as far ahead as the queue allows. False when cancelled.
bool ReadAhead(Job& job)
{
    int64_t left = job.size;
    // An empty source is still one (empty) piece, so the writer sees it end.
    bool first = true;
    while (left > 0 || first) {
        first = false;
        const size_t n = static_cast<size_t>(std::min<int64_t>(left, FIpFileCopy::kChunk));
        std::vector<uint8_t> piece;
        {
            std::unique_lock lock(job.lock);
            job.changed.wait(lock, [&] {
                return job.cancel || job.queue.size() < static_cast<size_t>(FIpFileCopy::kQueuedPieces);
            });
            if (job.cancel)
                return false;
            if (!job.spare.empty()) {
                piece = std::move(job.spare.back());
                job.spare.pop_back();
            }
        }
        piece.resize(n);
        try {
            if (n > 0)
                job.sourceFile->Read(piece.data(), static_cast<int>(n));
        } catch (...) {
            std::lock_guard lock(job.lock);
            job.readFailed = true;
            job.changed.notify_all();
            return true;
        }
        left -= static_cast<int64_t>(n);
        std::lock_guard lock(job.lock);
        job.queue.push_back(std::move(piece));
        job.changed.notify_all();
    }
    return true;
}

// An image copied off the camera is marked as taken, on the card itself.
void MarkCameraSourceTransferred(const FWideString& url)
{
    std::vector<FWideString> parts;
    if (!SplitURL(url, parts) || parts.empty() || !(parts[0] == "camera"))
        return;
    try {
        FFileInfo info;
        GetFileInfoURL(url, info);
        info.m_iFlags |= 2;
        SetFileAttributesURL(url, info);
    } catch (const FException&) {
        DebugTrace("FIpFileCopy: the transfer mark was not set on %s\n", url.GetNarrow());
    }
}

// The copy replaces the destination only once complete, and the source is trashed only
// once the destination holds every byte.
bool PutInPlace(Job& job)
{
    bool placed = false;
    try {
        // A source that changed size under the copy was not copied whole.
        if (static_cast<int64_t>(job.sourceFile->GetSize()) != job.size)
            throw FExceptionFileRead("the source changed during the copy");
        ReleaseSource(job);
        // A source about to be deleted waits for its copy to be on the disk.
        job.target->Commit(job.deleteSource);
        FIFile* written = OpenFileURL(job.destination, kFileRead);
        if (written) {
            placed = static_cast<int64_t>(written->GetSize()) == job.size;
            written->Release();
        }
        if (!placed)
            DebugTrace("FIpFileCopy: the copy at '%s' does not have the source's size\n",
                       job.destination.GetNarrow());
    } catch (const FException& e) {
        DebugTrace("FIpFileCopy: the copy was not put in place: %s\n", e.GetMessage());
    }
    if (placed && job.deleteSource) {
        try {
            MoveToTrashURL(job.source);
        } catch (const FException& e) {
            DebugTrace("FIpFileCopy: copied, but the source '%s' was not trashed: %s\n",
                       job.source.GetNarrow(), e.GetMessage());
        }
    } else if (placed) {
        MarkCameraSourceTransferred(job.source);
    }
    return placed;
}

void RunJob(Job& job)
{
    const bool opened = OpenBoth(job);
    {
        std::lock_guard lock(job.lock);
        job.opening = opened ? FIpFileCopy::Opening::kOpen : FIpFileCopy::Opening::kRefused;
        job.changed.notify_all();
    }
    if (opened && ReadAhead(job)) {
        std::unique_lock lock(job.lock);
        job.changed.wait(lock, [&] { return job.cancel || job.endRequested; });
        if (!job.cancel) {
            lock.unlock();
            const bool placed = PutInPlace(job);
            lock.lock();
            job.ending = placed ? FIpFileCopy::Ending::kPlaced : FIpFileCopy::Ending::kFailed;
        }
    }
    ReleaseSource(job);
    try {
        job.target.reset();
    } catch (...) {
    }
    std::lock_guard lock(job.lock);
    job.finished = true;
    job.changed.notify_all();
}

int JobThreadMain(void* argument)
{
    std::unique_ptr<std::shared_ptr<Job>> held(static_cast<std::shared_ptr<Job>*>(argument));
    std::shared_ptr<Job> job = std::move(*held);
    // A thrown exception would read as a thread that never started.
    try {
        RunJob(*job);
    } catch (...) {
        std::lock_guard lock(job->lock);
        job->finished = true;
        job->changed.notify_all();
    }
    return 0;
}

} // namespace

FIpFileCopy::FIpFileCopy() = default;

FIpFileCopy::~FIpFileCopy()
{
    Cancel();
    for (Worker& worker : m_workers) {
        {
            std::unique_lock lock(worker.job->lock);
            worker.job->changed.wait(lock, [&] { return worker.job->finished; });
        }
        // Only the return from the thread function is left.
        while (!worker.thread->IsDone())
            SleepMilliseconds(1);
        DeleteThread(worker.thread);
    }
}

void FIpFileCopy::Start(const FWideString& source, const FWideString& destination, bool deleteSource)
{
    Cancel();
    priReap();
    auto job = std::make_shared<Job>();
    job->source = source;
    job->destination = destination;
    job->deleteSource = deleteSource;
    m_nWritten = 0;
    m_bAllWritten = false;
    auto* handover = new std::shared_ptr<Job>(job);
    FIThread* thread = CreateWinThread(JobThreadMain, handover, 2);
    if (!thread || (thread->IsDone() && thread->GetResult() == kThreadResultFailed)) {
        // The thread never took the job: run nothing, refuse it.
        delete handover;
        DeleteThread(thread);
        std::lock_guard lock(job->lock);
        job->opening = Opening::kRefused;
        job->finished = true;
        m_pJob = job;
        return;
    }
    m_workers.push_back({job, thread});
    m_pJob = std::move(job);
}

FIpFileCopy::Opening FIpFileCopy::WaitOpened(Clock::time_point deadline)
{
    if (!m_pJob)
        return Opening::kRefused;
    std::unique_lock lock(m_pJob->lock);
    m_pJob->changed.wait_until(lock, deadline, [&] { return m_pJob->opening != Opening::kPending; });
    return m_pJob->opening;
}

int64_t FIpFileCopy::GetSize() const
{
    if (!m_pJob)
        return 0;
    std::lock_guard lock(m_pJob->lock);
    return m_pJob->size;
}

bool FIpFileCopy::IsAllWritten() const
{
    return m_bAllWritten;
}

FIpFileCopy::Piece FIpFileCopy::WriteNext(Clock::time_point deadline)
{
    if (!m_pJob)
        return Piece::kFailed;
    Job& job = *m_pJob;
    std::vector<uint8_t> piece;
    {
        std::unique_lock lock(job.lock);
        job.changed.wait_until(lock, deadline, [&] {
            return job.opening == Opening::kRefused || !job.queue.empty() || job.readFailed || job.finished;
        });
        if (job.opening == Opening::kRefused)
            return Piece::kRefused;
        if (job.queue.empty())
            return job.readFailed || job.finished ? Piece::kFailed : Piece::kNotReady;
        piece = std::move(job.queue.front());
        job.queue.pop_front();
        job.changed.notify_all();
    }
    try {
        if (!piece.empty())
            job.target->GetFile()->Write(piece.data(), static_cast<int>(piece.size()));
    } catch (...) {
        return Piece::kFailed;
    }
    m_nWritten += static_cast<int64_t>(piece.size());
    std::lock_guard lock(job.lock);
    m_bAllWritten = m_nWritten == job.size;
    job.spare.push_back(std::move(piece));
    return Piece::kWritten;
}

void FIpFileCopy::RequestEnd()
{
    if (!m_pJob)
        return;
    std::lock_guard lock(m_pJob->lock);
    m_pJob->endRequested = true;
    m_pJob->changed.notify_all();
}

FIpFileCopy::Ending FIpFileCopy::WaitEnded(Clock::time_point deadline)
{
    if (!m_pJob)
        return Ending::kFailed;
    Job& job = *m_pJob;
    std::unique_lock lock(job.lock);
    // Finished, the worker has also let go of the temporary file.
    job.changed.wait_until(lock, deadline, [&] { return job.finished; });
    if (!job.finished)
        return Ending::kPending;
    return job.ending == Ending::kPlaced ? Ending::kPlaced : Ending::kFailed;
}

void FIpFileCopy::Cancel(Clock::time_point deadline)
{
    if (!m_pJob)
        return;
    {
        std::unique_lock lock(m_pJob->lock);
        m_pJob->cancel = true;
        m_pJob->changed.notify_all();
        m_pJob->changed.wait_until(lock, deadline, [&] { return m_pJob->finished; });
    }
    m_pJob.reset();
    m_nWritten = 0;
    m_bAllWritten = false;
}

bool FIpFileCopy::IsQuiet()
{
    priReap();
    return m_workers.empty();
}

void FIpFileCopy::priReap()
{
    auto done = [](Worker& worker) {
        if (!worker.thread->IsDone())
            return false;
        DeleteThread(worker.thread);
        return true;
    };
    m_workers.erase(std::remove_if(m_workers.begin(), m_workers.end(), done), m_workers.end());
}
