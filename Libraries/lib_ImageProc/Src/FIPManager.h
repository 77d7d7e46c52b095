#pragma once

#include <cstdint>
#include <functional>

class FIPManagerRequest;

// The one interface through which all image-processing work is requested. Calls come from one
// thread at a time (the engine service's); answers come only through the request's status.
class FIPManager
{
public:
    virtual ~FIPManager() = default;
    // True while the manager holds a request that is not finished.
    virtual bool IsBusy() = 0;
    // One time-sliced pass of the manager's work.
    virtual void Idle() = 0;
    virtual void Request(FIPManagerRequest* request) = 0;
};

// Hands each request to a free manager, creates managers up to the pool size, and queues
// the rest oldest first. Nothing here locks: pool and managers live on the engine service's thread.
class FIPManagerPool : public FIPManager
{
public:
    FIPManagerPool() = default;
    // Releases every manager, then ends every still-queued request with state 4, error 1.
    ~FIPManagerPool() override;
    FIPManagerPool(const FIPManagerPool&) = delete;
    FIPManagerPool& operator=(const FIPManagerPool&) = delete;

    // Always false: the pool never refuses.
    bool IsBusy() override;
    // Ticks at most one busy manager, in turn, without letting it wait; free managers passed
    // on the way take the oldest waiting requests. Waits at most kIdleWaitMs, only when a
    // whole round saw no request finish.
    void Idle() override;
    void Request(FIPManagerRequest* request) override;

    int GetManagerCount() const { return m_iManagerCount; }
    static constexpr int kIdleWaitMs = 4;
    int GetQueueLength() const;
    // The i-th manager in creation order, null when out of range.
    FIPManager* GetManager(int index) const;

private:
    struct ManagerNode {
        FIPManager* m_pManager;
        ManagerNode* m_pNext;
    };
    struct WaitingNode {
        FIPManagerRequest* m_pRequest;
        WaitingNode* m_pNext;
    };

    void priHandTo(FIPManager* manager, FIPManagerRequest* request);
    FIPManager* priCreateManager();

    ManagerNode* m_pManagers = nullptr;
    ManagerNode* m_pCursor = nullptr;
    WaitingNode* m_pWaiting = nullptr;
    int m_iManagerCount = 0;
    // Finished-request count when the current round began, and whether the last round
    // ended with it unchanged.
    uint64_t m_uRoundStart = 0;
    bool m_bQuietRound = false;
};

inline constexpr int kDefaultIPManagerPoolSize = 4;

// The pool, made on first use; null only when it cannot be made.
FIPManagerPool* GetIPManagerPool();
// 0 destroys an existing pool (the next GetIPManagerPool makes a new, empty one, which
// creates no manager until the size is raised again). A smaller size never removes
// managers; it only stops the pool from creating more. Negative sizes count as 0.
void SetIPManagerPoolSize(int n);
int GetIPManagerPoolSize();

// Makes the pool's managers. An empty factory restores the default, CreateIPManager2.
using FIPManagerFactory = std::function<FIPManager*()>;
// Returns the factory that was in use.
FIPManagerFactory SetIPManagerFactory(FIPManagerFactory factory);

FIPManager* CreateIPManager2();
// Deletes the held manager unless it is the pool (which lives until the pool size is set
// to 0), then clears the holder. A null holder or manager does nothing.
void ReleaseIPManager(FIPManager** holder);
