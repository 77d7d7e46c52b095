#include <gtest/gtest.h>

#include <chrono>
#include <thread>
#include <vector>

#include "EngineTestSupport.h"
#include "FIPManager.h"
#include "FIPManagerRequest.h"
#include "FIPWorkSignal.h"

namespace
{

using WorkSignalTest = FEngineTest;

TEST_F(WorkSignalTest, AWaitEndsOnAFinishFromAnyThreadAndNotOtherwise)
{
    const uint64_t seen = GetIPWorkCount();
    EXPECT_FALSE(WaitForIPWork(seen, 1));
    std::thread worker([] {
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
        SignalIPWorkDone();
    });
    EXPECT_TRUE(WaitForIPWork(seen, 10000));
    worker.join();
    EXPECT_EQ(GetIPWorkCount(), seen + 1);
    // A count already moved answers at once; a stale wake-up does not end the next wait.
    EXPECT_TRUE(WaitForIPWork(seen, 10000));
    SignalIPWorkDone();
    EXPECT_FALSE(WaitForIPWork(GetIPWorkCount(), 1));
}

TEST_F(WorkSignalTest, ScopesNestAndBelongToTheirThread)
{
    EXPECT_TRUE(IPIdleMayWait());
    {
        FIPNoWaitScope outer;
        {
            FIPNoWaitScope inner;
            EXPECT_FALSE(IPIdleMayWait());
        }
        EXPECT_FALSE(IPIdleMayWait());
        bool other = false;
        std::thread([&] { other = IPIdleMayWait(); }).join();
        EXPECT_TRUE(other);
    }
    EXPECT_TRUE(IPIdleMayWait());
}

// Records whether the engines and loaders it would tick could wait in each call.
class FWaitProbe : public FIPManager
{
public:
    explicit FWaitProbe(std::vector<bool>* mayWait) : m_pMayWait(mayWait) {}
    bool IsBusy() override { return m_pRequest != nullptr; }
    void Idle() override
    {
        m_pMayWait->push_back(IPIdleMayWait());
        if (m_pRequest != nullptr && ++m_iTicks == 2) {
            m_pRequest->m_Async.Complete();
            m_pRequest = nullptr;
        }
    }
    void Request(FIPManagerRequest* request) override
    {
        m_pMayWait->push_back(IPIdleMayWait());
        m_pRequest = request;
        m_iTicks = 0;
        request->m_Async.SetState(kInProgress);
    }

private:
    std::vector<bool>* m_pMayWait;
    FIPManagerRequest* m_pRequest = nullptr;
    int m_iTicks = 0;
};

// One manager's pending load must not hold up the others: the pool hands out and ticks
// without letting its managers wait.
TEST_F(WorkSignalTest, ThePoolNeverLetsItsManagersWait)
{
    std::vector<bool> mayWait;
    SetIPManagerFactory([&]() -> FIPManager* { return new FWaitProbe(&mayWait); });
    FIPManagerPool* pool = GetIPManagerPool();
    FIPManagerRequest requests[6];
    for (FIPManagerRequest& r : requests)
        pool->Request(&r);
    for (int i = 0; i < 100 && !requests[5].m_Async.IsFinal(); ++i)
        pool->Idle();
    for (FIPManagerRequest& r : requests)
        EXPECT_EQ(r.m_Async.GetState(), kCompleted);
    ASSERT_GT(mayWait.size(), 6u);
    for (size_t i = 0; i < mayWait.size(); ++i)
        EXPECT_FALSE(mayWait[i]) << i;
    EXPECT_TRUE(IPIdleMayWait());
}

} // namespace
