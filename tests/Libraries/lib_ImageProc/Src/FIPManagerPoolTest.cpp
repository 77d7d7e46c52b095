#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "EngineTestSupport.h"
#include "FIPManager.h"
#include "FIPManagerRequest.h"

namespace
{

using PoolTest = FEngineTest;

std::vector<std::string> IdleEvents(const FFakeManagerLog& log)
{
    std::vector<std::string> out;
    for (const std::string& e : log.m_events)
        if (e.rfind("idle ", 0) == 0)
            out.push_back(e);
    return out;
}

TEST_F(PoolTest, FiveRequestsFillFourManagersAndQueueTheFifth)
{
    FFakeManagerFactory factory(3);
    FIPManagerPool* pool = GetIPManagerPool();
    ASSERT_NE(pool, nullptr);
    FIPManagerRequest requests[5];
    for (FIPManagerRequest& r : requests) {
        r.m_Async.SetProgress(0.75);
        pool->Request(&r);
    }
    EXPECT_EQ(pool->GetManagerCount(), 4);
    EXPECT_EQ(factory.GetCreated(), 4);
    EXPECT_EQ(pool->GetQueueLength(), 1);
    for (int i = 0; i < 4; ++i)
        EXPECT_EQ(requests[i].m_pHandlingManager, pool->GetManager(i));
    EXPECT_EQ(requests[4].m_pHandlingManager, nullptr);
    EXPECT_EQ(requests[4].m_Async.GetState(), kInProgress);
    // The pool zeroes state and error but leaves progress alone.
    EXPECT_EQ(requests[4].m_Async.GetProgress(), 0.75);

    // Each fake needs three of its own ticks; the pool ticks one manager per call, so the
    // first to finish is A, on its third turn, the ninth call.
    for (int call = 0; call < 8; ++call)
        pool->Idle();
    EXPECT_EQ(requests[4].m_Async.GetState(), kInProgress);
    EXPECT_EQ(requests[4].m_pHandlingManager, nullptr);
    pool->Idle();
    EXPECT_EQ(requests[0].m_Async.GetState(), kCompleted);
    // A was freed by its own tick and took the waiting request in the same call.
    EXPECT_EQ(requests[4].m_pHandlingManager, pool->GetManager(0));
    EXPECT_EQ(pool->GetQueueLength(), 0);

    EXPECT_TRUE(TickPoolUntilFinal(requests[4]));
    for (FIPManagerRequest& r : requests)
        EXPECT_EQ(r.m_Async.GetState(), kCompleted);
    EXPECT_EQ(factory.GetCreated(), 4);
}

TEST_F(PoolTest, IdleTicksBusyManagersInTurn)
{
    FFakeManagerFactory factory(1000);
    FIPManagerPool* pool = GetIPManagerPool();
    pool->Idle(); // no manager: returns at once
    FIPManagerRequest a, b;
    pool->Request(&a);
    pool->Request(&b);
    for (int i = 0; i < 5; ++i)
        pool->Idle();
    EXPECT_EQ(IdleEvents(*factory.GetLog()),
              (std::vector<std::string>{"idle A", "idle B", "idle A", "idle B", "idle A"}));
    a.m_Async.RequestCancel(); // the fakes ignore cancel; nothing here may wait on them
}

TEST_F(PoolTest, SmallerSizeKeepsManagersAndStopsCreation)
{
    FFakeManagerFactory factory(1000);
    FIPManagerPool* pool = GetIPManagerPool();
    FIPManagerRequest requests[6];
    for (int i = 0; i < 4; ++i)
        pool->Request(&requests[i]);
    SetIPManagerPoolSize(2);
    pool->Request(&requests[4]);
    EXPECT_EQ(pool->GetManagerCount(), 4);
    EXPECT_EQ(factory.GetCreated(), 4);
    EXPECT_EQ(pool->GetQueueLength(), 1);
    EXPECT_EQ(GetIPManagerPool(), pool);

    FIPManager* holder = pool;
    ReleaseIPManager(&holder);
    EXPECT_EQ(holder, nullptr);
    EXPECT_EQ(GetIPManagerPool(), pool);
    EXPECT_EQ(factory.GetLog()->m_iDeleted, 0);
    ReleaseIPManager(&holder); // a null holder is harmless
    ReleaseIPManager(nullptr);
    SetIPManagerPoolSize(0); // the queued record ends before it goes out of scope
}

TEST_F(PoolTest, DestructionReleasesManagersAndEndsQueuedRequests)
{
    FFakeManagerFactory factory(1000);
    SetIPManagerPoolSize(2);
    FIPManagerPool* pool = GetIPManagerPool();
    FIPManagerRequest running[2], queued[2];
    for (FIPManagerRequest& r : running)
        pool->Request(&r);
    for (FIPManagerRequest& r : queued)
        pool->Request(&r);
    ASSERT_EQ(pool->GetQueueLength(), 2);

    SetIPManagerPoolSize(0);
    EXPECT_EQ(factory.GetLog()->m_iDeleted, 2);
    const std::vector<std::string>& events = factory.GetLog()->m_events;
    ASSERT_GE(events.size(), 2u);
    EXPECT_EQ(events[events.size() - 2], "delete A");
    EXPECT_EQ(events.back(), "delete B");
    for (FIPManagerRequest& r : queued) {
        EXPECT_EQ(r.m_Async.GetState(), kError);
        EXPECT_EQ(r.m_Async.GetErrorCode(), kErrBusy);
        EXPECT_TRUE(r.m_Async.m_usErrorText.IsEmpty());
    }
    EXPECT_TRUE(Trace().Contains("FIPManagerPool destroy: request 0x"));
    const std::string text = Trace().GetText();
    size_t n = 0;
    for (size_t at = text.find("never handled.\n"); at != std::string::npos;
         at = text.find("never handled.\n", at + 1))
        ++n;
    EXPECT_EQ(n, 2u);

    // A pool made while the size is 0 creates no manager: requests wait, then end as above.
    FIPManagerPool* empty = GetIPManagerPool();
    ASSERT_NE(empty, nullptr);
    FIPManagerRequest late;
    empty->Request(&late);
    EXPECT_EQ(empty->GetManagerCount(), 0);
    EXPECT_EQ(late.m_Async.GetState(), kInProgress);
    SetIPManagerPoolSize(4);
    EXPECT_EQ(GetIPManagerPool(), empty);
    SetIPManagerPoolSize(0);
    EXPECT_EQ(late.m_Async.GetErrorCode(), kErrBusy);
}

TEST_F(PoolTest, ManagerCreationFailure)
{
    FFakeManagerFactory factory(2);
    factory.SetFailing(true);
    FIPManagerPool* pool = GetIPManagerPool();
    FIPManagerRequest first;
    pool->Request(&first);
    // With no manager at all the request would never be served.
    EXPECT_EQ(first.m_Async.GetState(), kError);
    EXPECT_EQ(first.m_Async.GetErrorCode(), kErrOutOfMemory);

    factory.SetFailing(false);
    FIPManagerRequest second, third;
    pool->Request(&second);
    factory.SetFailing(true);
    pool->Request(&third);
    // One manager exists: the request waits for it.
    EXPECT_EQ(third.m_Async.GetState(), kInProgress);
    EXPECT_EQ(pool->GetQueueLength(), 1);
    EXPECT_TRUE(TickPoolUntilFinal(third));
    EXPECT_EQ(third.m_Async.GetState(), kCompleted);
}

TEST_F(PoolTest, DefaultManagerAnswersKindsItCannotRun)
{
    struct Case {
        int kind;
        int state;
        int error;
    };
    const Case cases[] = {{kReqNone, kCompleted, kErrNone},
                          {9, kError, kErrUnsupported},
                          {-1, kError, kErrUnsupported},
                          {1000000, kError, kErrUnsupported}};
    FIPManagerPool* pool = GetIPManagerPool();
    for (const Case& c : cases) {
        FIPManagerRequest request;
        request.m_eKind = c.kind;
        pool->Request(&request);
        EXPECT_EQ(request.m_Async.GetState(), c.state) << c.kind;
        EXPECT_EQ(request.m_Async.GetErrorCode(), c.error) << c.kind;
        pool->Request(nullptr);
    }
    EXPECT_EQ(pool->GetManagerCount(), 1);
}

} // namespace
