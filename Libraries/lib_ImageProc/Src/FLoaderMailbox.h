#pragma once

// What every loader shares: the load thread with its one-request mailbox, the
// status writes that hand a request back, and the table that turns exceptions
// into a status.

#include "FLoader.h"

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>

class FException;
struct FLoaderCore;

// A new request starts: state in progress, no error.
void StartRequest(FAsyncStatus& status);
// Fails with "<name><text>" as the error text.
void FailNamed(FAsyncStatus& status, int code, const char* name, const char* text);

class FLoaderMailbox
{
public:
    using Handler = void (*)(FLoaderRequest& req);

    // `name` is the loader's name ("JPEGLoader"): the busy text and the trace prefix.
    // The handler runs on the load thread for posted requests; it must not use the
    // loader object, which may be gone while a stuck request finishes.
    FLoaderMailbox(const char* name, Handler handler);
    // Stops the thread, waiting at most 45 x 0.109 s. A thread that does not stop is
    // left to finish on its own with what it needs; it is never killed.
    ~FLoaderMailbox();
    FLoaderMailbox(const FLoaderMailbox&) = delete;
    FLoaderMailbox& operator=(const FLoaderMailbox&) = delete;

    void Idle();
    void Post(FLoaderRequest& req);
    bool IsPending(const FLoaderRequest& req) const;
    // The owner of a request still pending gives up on it: `release` runs once the
    // thread is done with the request (at once when it already is).
    void Abandon(FLoaderRequest& req, std::function<void()> release);

    // Load threads of all loaders that are still running, for shutdown checks.
    static int GetRunningThreadCount();

private:
    std::shared_ptr<FLoaderCore> m_pCore;
};

// A loader's side of the interface that only forwards to its mailbox.
template <class Interface>
class TMailboxLoader : public Interface
{
public:
    TMailboxLoader(const char* name, FLoaderMailbox::Handler handler) : m_mailbox(name, handler) {}

    void Destroy() override { delete this; }
    void Idle() override { m_mailbox.Idle(); }
    bool IsHolding(const FLoaderRequest& req) override { return m_mailbox.IsPending(req); }
    void Abandon(FLoaderRequest& req, std::function<void()> release) override
    {
        m_mailbox.Abandon(req, std::move(release));
    }

protected:
    ~TMailboxLoader() override = default;

    FLoaderMailbox m_mailbox;
};

// Runs one request's handling and turns whatever escapes it into the status:
// file not found 6 with the URL; the family's exceptions 8, other FExceptions 14,
// both "<name>: <description> (<message>)"; out of memory 13; anything else 14.
void HandleGuarded(FLoaderRequest& req, const char* name, bool (*isFamily)(const FException&),
                   const std::function<void()>& handle);

// Appends "UNIQUEID" as "<size low 32 bits>-<modification seconds>" in upper-case hex,
// from the file itself; the JPEG and TIFF loaders' identity.
void AddFileUniqueID(FLoaderRequest& req, const char* name);
// That identity alone; false (the request failed) when the file does not open.
bool GetFileUniqueID(FLoaderRequest& req, const char* name, FWideString& id);

// A new loader, or null when it cannot be made (memory, events, thread).
template <class Loader>
FILoader* NewLoader()
{
    try {
        return new Loader();
    } catch (...) {
        return nullptr;
    }
}

// The readers take plain pointers to the progress and cancel fields and access them
// through std::atomic_ref, so both sides of the status stay atomic; the atomics have
// exactly the layout and alignment of the plain types.
static_assert(sizeof(std::atomic<double>) == sizeof(double) && std::atomic<double>::is_always_lock_free);
static_assert(sizeof(std::atomic<uint8_t>) == sizeof(char) && std::atomic<uint8_t>::is_always_lock_free);
static_assert(alignof(std::atomic<double>) >= std::atomic_ref<double>::required_alignment);
static_assert(std::atomic_ref<double>::is_always_lock_free && std::atomic_ref<char>::is_always_lock_free);
inline double* ProgressField(FAsyncStatus& status)
{
    return reinterpret_cast<double*>(&status.m_dProgress);
}
inline const char* CancelByte(const FAsyncStatus& status)
{
    return reinterpret_cast<const char*>(&status.m_bCancel);
}
