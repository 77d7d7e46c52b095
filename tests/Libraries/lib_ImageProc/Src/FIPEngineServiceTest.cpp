#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <map>
#include <mutex>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "FIPEngineService.h"
#include "FIPManager.h"
#include "FIPManagerRequest.h"
#include "FPropList.h"

namespace
{

using Clock = std::chrono::steady_clock;

// A pool that ends each request after a number of its own Idle calls, chosen per file name:
// "slow" never ends unless cancelled, "deaf" never ends at all, "throw" refuses the hand-over,
// "lost" leaves the record untouched, "fail" ends in error 8.
class ScriptedPool : public FIPManager
{
public:
    bool IsBusy() override { return false; }
    void Request(FIPManagerRequest* request) override
    {
        std::lock_guard<std::mutex> lock(m_lock);
        m_threads.push_back(std::this_thread::get_id());
        const std::string name = request->m_usFileName.GetNarrow();
        if (name == "throw")
            throw std::runtime_error("refused");
        if (name == "lost")
            return;
        request->m_Async.SetState(kInProgress);
        m_held.push_back(request);
        ++m_requests;
    }
    void Idle() override
    {
        std::lock_guard<std::mutex> lock(m_lock);
        m_threads.push_back(std::this_thread::get_id());
        for (auto it = m_held.begin(); it != m_held.end();) {
            FIPManagerRequest* r = *it;
            const std::string name = r->m_usFileName.GetNarrow();
            int& ticks = m_ticks[r];
            ++ticks;
            r->m_Async.SetProgress(ticks / 10.0);
            bool end = false;
            if (name == "deaf") {
                end = false;
            } else if (r->m_Async.IsCancelRequested()) {
                r->m_Async.Cancel();
                end = true;
            } else if (name == "fail" && ticks >= 2) {
                r->m_Async.Fail(kErrReaderFailed, "cannot read");
                end = true;
            } else if (name != "slow" && name != "fail" && ticks >= 3) {
                r->m_pImageProps->AddProp(FWideString("SEEN"), r->m_usFileName);
                r->m_dExposure = 1.25;
                r->m_Async.Complete();
                end = true;
            }
            if (end) {
                m_ticks.erase(r);
                it = m_held.erase(it);
            } else {
                ++it;
            }
        }
    }
    int Requests()
    {
        std::lock_guard<std::mutex> lock(m_lock);
        return m_requests;
    }
    std::vector<std::thread::id> Threads()
    {
        std::lock_guard<std::mutex> lock(m_lock);
        return m_threads;
    }

private:
    std::mutex m_lock;
    std::vector<FIPManagerRequest*> m_held;
    std::map<FIPManagerRequest*, int> m_ticks;
    std::vector<std::thread::id> m_threads;
    int m_requests = 0;
};

FIPJob Job(const char* file)
{
    FIPJob job;
    job.kind = kReqProcessed;
    job.file = FWideString(file);
    return job;
}

struct Outcome {
    FIPJobEnd end = FIPJobEnd::kDone;
    int state = -1;
    int error = -1;
    std::string text;
    std::string seen;
    double exposure = 0.0;
    std::thread::id thread;
};

struct Recorder {
    std::vector<Outcome> outcomes;
    FIPEngineService::Done Take()
    {
        return [this](FIPJobResult& r) {
            Outcome o;
            o.end = r.end;
            o.state = r.state;
            o.error = r.error;
            o.text = r.errorText.GetNarrow();
            if (r.props)
                o.seen = r.props->GetString(FWideString("SEEN"), FWideString()).GetNarrow();
            o.exposure = r.job.settings.Exposure;
            o.thread = std::this_thread::get_id();
            outcomes.push_back(o);
        };
    }
};

bool DeliverUntil(FIPEngineService& service, const std::function<bool()>& done)
{
    const auto deadline = Clock::now() + std::chrono::seconds(20);
    while (!done()) {
        if (Clock::now() > deadline)
            return false;
        service.Deliver();
        std::this_thread::sleep_for(std::chrono::microseconds(200));
    }
    return true;
}

const int owner = 0;
const FIPEngineService::Key kLane{&owner, 1};

TEST(EngineService, AJobEndsOnceOnTheDeliveringThreadWithWhatTheManagerWrote)
{
    for (auto mode : {FIPEngineService::Mode::kPumped, FIPEngineService::Mode::kThread}) {
        ScriptedPool pool;
        FIPEngineService service(&pool, mode);
        Recorder rec;
        const uint64_t ticket = service.Submit(kLane, Job("a.raw"), rec.Take());
        EXPECT_NE(ticket, 0u);
        ASSERT_TRUE(DeliverUntil(service, [&] { return !rec.outcomes.empty(); }));
        for (int i = 0; i < 5; ++i)
            service.Deliver();
        ASSERT_EQ(rec.outcomes.size(), 1u);
        const Outcome& o = rec.outcomes[0];
        EXPECT_EQ(o.end, FIPJobEnd::kDone);
        EXPECT_EQ(o.state, kCompleted);
        EXPECT_EQ(o.seen, "a.raw");
        EXPECT_EQ(o.exposure, 1.25);
        EXPECT_EQ(o.thread, std::this_thread::get_id());
        EXPECT_TRUE(service.IsIdle());
        if (mode == FIPEngineService::Mode::kThread) {
            // The window thread never called the pool.
            for (std::thread::id id : pool.Threads())
                EXPECT_NE(id, std::this_thread::get_id());
        }
    }
}

TEST(EngineService, FailuresEndInTheirErrorWithText)
{
    struct Case {
        const char* file;
        int error;
    };
    for (const Case& c :
         {Case{"fail", kErrReaderFailed}, Case{"throw", kErrException}, Case{"lost", kErrBusy}}) {
        ScriptedPool pool;
        FIPEngineService service(&pool, FIPEngineService::Mode::kPumped);
        Recorder rec;
        service.Submit(kLane, Job(c.file), rec.Take());
        ASSERT_TRUE(DeliverUntil(service, [&] { return !rec.outcomes.empty(); })) << c.file;
        EXPECT_EQ(rec.outcomes[0].state, kError) << c.file;
        EXPECT_EQ(rec.outcomes[0].error, c.error) << c.file;
        EXPECT_FALSE(rec.outcomes[0].text.empty()) << c.file;
    }
}

TEST(EngineService, TheNewestJobOfARequesterWins)
{
    ScriptedPool pool;
    FIPEngineService service(&pool, FIPEngineService::Mode::kPumped);
    Recorder rec;
    // Queued and not yet handed over: the older ends superseded without reaching a manager.
    service.Submit(kLane, Job("one"), rec.Take());
    service.Submit(kLane, Job("two"), rec.Take());
    ASSERT_TRUE(DeliverUntil(service, [&] { return rec.outcomes.size() == 2; }));
    EXPECT_EQ(rec.outcomes[0].end, FIPJobEnd::kSuperseded);
    EXPECT_EQ(rec.outcomes[1].seen, "two");
    EXPECT_EQ(pool.Requests(), 1);

    // Running: cancelled when a newer one comes.
    rec.outcomes.clear();
    service.Submit(kLane, Job("slow"), rec.Take());
    service.Deliver();
    service.Submit(kLane, Job("three"), rec.Take());
    ASSERT_TRUE(DeliverUntil(service, [&] { return rec.outcomes.size() == 2; }));
    EXPECT_EQ(rec.outcomes[0].end, FIPJobEnd::kSuperseded);
    EXPECT_EQ(rec.outcomes[1].seen, "three");

    // Let run: the older one ends as done, then the newer one starts.
    rec.outcomes.clear();
    service.Submit(kLane, Job("four"), rec.Take());
    service.Deliver();
    service.Submit(kLane, Job("five"), rec.Take(), {}, FIPEngineService::Supersede::kLetRunningEnd);
    service.Submit(kLane, Job("six"), rec.Take(), {}, FIPEngineService::Supersede::kLetRunningEnd);
    ASSERT_TRUE(DeliverUntil(service, [&] { return rec.outcomes.size() == 3; }));
    EXPECT_EQ(rec.outcomes[0].end, FIPJobEnd::kSuperseded); // "five", never started
    EXPECT_EQ(rec.outcomes[1].seen, "four");
    EXPECT_EQ(rec.outcomes[2].seen, "six");
    EXPECT_TRUE(service.IsIdle());
}

TEST(EngineService, CancelledAndForgottenJobs)
{
    ScriptedPool pool;
    FIPEngineService service(&pool, FIPEngineService::Mode::kThread);
    Recorder rec;
    const int other = 0;
    const FIPEngineService::Key otherLane{&other, 1};
    service.Submit(kLane, Job("slow"), rec.Take());
    ASSERT_TRUE(DeliverUntil(service, [&] { return pool.Requests() == 1; }));
    service.Cancel(kLane);
    ASSERT_TRUE(DeliverUntil(service, [&] { return rec.outcomes.size() == 1; }));
    EXPECT_EQ(rec.outcomes[0].end, FIPJobEnd::kCancelled);

    // A closed window hears nothing, not even of a job that has already ended.
    Recorder gone;
    service.Submit(otherLane, Job("quick"), gone.Take());
    service.Submit(FIPEngineService::Key{&other, 2}, Job("slow"), gone.Take());
    // Waited for without delivering: the quick one may end meanwhile, and must not be heard.
    const auto deadline = Clock::now() + std::chrono::seconds(20);
    while (pool.Requests() < 3 && Clock::now() < deadline)
        std::this_thread::sleep_for(std::chrono::microseconds(200));
    ASSERT_EQ(pool.Requests(), 3);
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    service.Forget(&other);
    EXPECT_EQ(service.Outstanding(&other), 0);
    for (int i = 0; i < 20; ++i) {
        service.Deliver();
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    EXPECT_TRUE(gone.outcomes.empty());
    ASSERT_TRUE(DeliverUntil(service, [&] { return service.IsIdle(); }));
}

TEST(EngineService, ProgressArrivesOnTheDeliveringThreadNewestFirst)
{
    ScriptedPool pool;
    FIPEngineService service(&pool, FIPEngineService::Mode::kPumped);
    Recorder rec;
    std::vector<double> shares;
    service.Submit(kLane, Job("a"), rec.Take(), [&](double s) { shares.push_back(s); });
    ASSERT_TRUE(DeliverUntil(service, [&] { return !rec.outcomes.empty(); }));
    ASSERT_FALSE(shares.empty());
    for (size_t i = 1; i < shares.size(); ++i)
        EXPECT_GT(shares[i], shares[i - 1]);
}

TEST(EngineService, StoppingEndsEveryJobOnceAndKeepsRecordsAManagerStillHolds)
{
    ScriptedPool pool;
    Recorder rec;
    {
        FIPEngineService service(&pool, FIPEngineService::Mode::kThread);
        for (uintptr_t lane = 0; lane < 6; ++lane)
            service.Submit({&owner, lane}, Job(lane == 0 ? "deaf" : "slow"), rec.Take());
        ASSERT_TRUE(DeliverUntil(service, [&] { return pool.Requests() == 6; }));
        service.Stop(std::chrono::milliseconds(100));
        EXPECT_EQ(rec.outcomes.size(), 6u);
        for (const Outcome& o : rec.outcomes)
            EXPECT_TRUE(o.end == FIPJobEnd::kStopped || o.state == kCancelled);
        EXPECT_EQ(service.GetAbandonedCount(), 1);
        // Later work ends at once.
        service.Submit(kLane, Job("late"), rec.Take());
        service.Deliver();
        ASSERT_EQ(rec.outcomes.size(), 7u);
        EXPECT_EQ(rec.outcomes.back().end, FIPJobEnd::kStopped);
        EXPECT_TRUE(service.IsStopped());
    }
    EXPECT_EQ(rec.outcomes.size(), 7u);
}

TEST(EngineService, AThreadThatRunsAJobWaitsForItsResultAlone)
{
    ScriptedPool pool;
    FIPEngineService service(&pool, FIPEngineService::Mode::kThread);
    Recorder rec;
    service.Submit(kLane, Job("window"), rec.Take());
    FIPJobResult quick, slow;
    std::thread scan([&] {
        quick = service.Run(Job("scan"));
        slow = service.Run(Job("slow"), std::chrono::milliseconds(30));
    });
    scan.join();
    EXPECT_TRUE(quick.Completed());
    ASSERT_TRUE(quick.props);
    EXPECT_EQ(std::string(quick.props->GetString(FWideString("SEEN"), FWideString()).GetNarrow()), "scan");
    EXPECT_EQ(slow.end, FIPJobEnd::kCancelled);
    // Only the window's own job comes through Deliver.
    ASSERT_TRUE(DeliverUntil(service, [&] { return service.IsIdle(); }));
    ASSERT_EQ(rec.outcomes.size(), 1u);
    EXPECT_EQ(rec.outcomes[0].seen, "window");
}

// A folder scan posts many jobs and collects them itself; a manager deaf to cancel keeps the
// record of a waited job and lets its caller go.
TEST(EngineService, PostedJobsWaitInTheirBoxesAndAWaitEndsEvenWithADeafManager)
{
    for (const auto mode : {FIPEngineService::Mode::kThread, FIPEngineService::Mode::kPumped}) {
        SCOPED_TRACE(mode == FIPEngineService::Mode::kThread ? "thread" : "pumped");
        ScriptedPool pool;
        FIPEngineService service(&pool, mode);
        Recorder rec;
        std::vector<std::shared_ptr<FIPEngineService::Posted>> boxes;
        for (const char* file : {"a", "b", "slow", "fail"})
            boxes.push_back(service.Post(Job(file)));
        service.Cancel(FIPEngineService::PostedKey(boxes[2]));
        std::vector<FIPJobResult> results(boxes.size());
        std::vector<bool> taken(boxes.size(), false);
        const auto deadline = Clock::now() + std::chrono::seconds(20);
        while (std::find(taken.begin(), taken.end(), false) != taken.end() && Clock::now() < deadline) {
            service.Pump();
            for (size_t i = 0; i < boxes.size(); ++i)
                if (!taken[i])
                    taken[i] = service.TakePosted(boxes[i], results[i]);
        }
        ASSERT_EQ(std::count(taken.begin(), taken.end(), true), 4);
        EXPECT_TRUE(results[0].Completed());
        ASSERT_TRUE(results[1].props);
        EXPECT_EQ(std::string(results[1].props->GetString(FWideString("SEEN"), FWideString()).GetNarrow()),
                  "b");
        EXPECT_EQ(results[2].end, FIPJobEnd::kCancelled);
        EXPECT_EQ(results[3].state, kError);
        EXPECT_EQ(results[3].error, kErrReaderFailed);
        // A box gives its result once; nothing went to Deliver.
        FIPJobResult again;
        EXPECT_TRUE(service.TakePosted(boxes[1], again));
        EXPECT_FALSE(again.props);
        EXPECT_EQ(service.Deliver(), 0);

        const auto start = Clock::now();
        FIPJobResult deaf = service.Run(Job("deaf"), std::chrono::milliseconds(20));
        EXPECT_EQ(deaf.end, FIPJobEnd::kCancelled);
        EXPECT_LT(Clock::now() - start, std::chrono::seconds(5));
        EXPECT_EQ(service.GetAbandonedCount(), 1);
    }
}

TEST(EngineService, ManyThreadsSubmitWhileTheWindowDelivers)
{
    ScriptedPool pool;
    FIPEngineService service(&pool, FIPEngineService::Mode::kThread);
    std::atomic<int> ended{0};
    std::vector<std::thread> senders;
    for (int t = 0; t < 4; ++t) {
        senders.emplace_back([&, t] {
            for (int i = 0; i < 50; ++i)
                service.Submit({&pool, static_cast<uintptr_t>(t * 100 + i % 7)}, Job("x"),
                               [&](FIPJobResult&) { ended.fetch_add(1); });
        });
    }
    for (std::thread& s : senders)
        s.join();
    ASSERT_TRUE(DeliverUntil(service, [&] { return ended.load() == 200; }));
    EXPECT_TRUE(service.IsIdle());
}

} // namespace
