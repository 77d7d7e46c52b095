#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <memory>
#include <new>
#include <thread>
#include <vector>

#include "EngineTestSupport.h"
#include "FException.h"
#include "FIPERequest.h"
#include "FIPEngine2.h"

namespace
{

using Clock = std::chrono::steady_clock;
using std::chrono::milliseconds;

// A request whose handler is quick and valid: a 4 x 2 display image turned by 0 degrees.
struct QuickRequest {
    std::vector<uint8_t> in = std::vector<uint8_t>(32, 7);
    std::vector<uint8_t> out = std::vector<uint8_t>(32, 0);
    FPixmap_Display inPixmap{in.data(), 4, 2, 0};
    FPixmap_Display outPixmap{out.data(), 4, 2, 0};
    FIPERequestRotate request;
    QuickRequest()
    {
        request.m_pInImage = &inPixmap;
        request.m_pOutImage = &outPixmap;
    }
};

class TypedRequest : public FIPERequest
{
public:
    explicit TypedRequest(int type) : m_iType(type) {}
    int GetRequestType() const override { return m_iType; }
    int m_iType;
};

bool WaitFinal(FIPEngine2& engine, FIPERequest& request)
{
    return TickUntil([&] { return request.m_Async.IsFinal(); }, [&] { engine.Idle(); });
}

// Blocks the worker until released (or ten seconds pass), so tests can hold a request in
// the slot.
struct Gate {
    std::atomic<bool> open{false};
    std::atomic<int> entered{0};
    void Wait()
    {
        ++entered;
        TickUntil([&] { return open.load(); }, [] { std::this_thread::sleep_for(milliseconds(1)); },
                  std::chrono::seconds(10));
    }
};

using EngineTest = FEngineTest;

TEST_F(EngineTest, RunsARequestAndEmptiesTheSlot)
{
    FIPEngine2 engine;
    QuickRequest quick;
    engine.Request(&quick.request);
    ASSERT_TRUE(WaitFinal(engine, quick.request));
    EXPECT_EQ(quick.request.m_Async.GetState(), kCompleted);
    EXPECT_EQ(quick.request.m_Async.GetProgress(), 1.0);
    EXPECT_FALSE(engine.IsRunning());
    EXPECT_EQ(quick.out, quick.in);
    // The record is free again as soon as its state is final: it can be posted anew.
    engine.Request(&quick.request);
    ASSERT_TRUE(WaitFinal(engine, quick.request));
    EXPECT_EQ(quick.request.m_Async.GetState(), kCompleted);
}

TEST_F(EngineTest, BusySlotAndUnknownTypesAreRefused)
{
    FIPEngine2 engine;
    Gate gate;
    std::atomic<int> seen{0};
    engine.SetHook([&](FIPERequest&) {
        ++seen;
        gate.Wait();
    });
    QuickRequest running, second;
    engine.Request(&running.request);
    ASSERT_TRUE(TickUntil([&] { return gate.entered.load() == 1; }, [] { std::this_thread::yield(); }));

    engine.Request(&second.request);
    EXPECT_EQ(second.request.m_Async.GetState(), kError);
    EXPECT_EQ(second.request.m_Async.GetErrorCode(), kErrBusy);
    EXPECT_EQ(second.request.m_Async.m_usErrorText, "FIPEngine2");
    engine.Request(&running.request); // the running record itself: left alone
    EXPECT_EQ(running.request.m_Async.GetState(), kInProgress);
    EXPECT_EQ(running.request.m_Async.GetErrorCode(), kErrNone);

    for (int type : {kIPELastType + 1, -1, 1000}) {
        TypedRequest odd(type);
        engine.Request(&odd);
        EXPECT_EQ(odd.m_Async.GetState(), kError) << type;
        EXPECT_EQ(odd.m_Async.GetErrorCode(), kErrUnsupported);
        EXPECT_EQ(odd.m_Async.m_usErrorText, "FIPEngine2: Unsupported request.");
    }
    gate.open = true;
    ASSERT_TRUE(WaitFinal(engine, running.request));
    EXPECT_EQ(running.request.m_Async.GetState(), kCompleted);
    EXPECT_EQ(seen.load(), 1); // the refused requests never reached the worker
}

TEST_F(EngineTest, ExceptionsBecomeStatus)
{
    struct Case {
        std::function<void()> thrower;
        int error;
        std::string text;
        std::string trace;
    };
    const std::vector<Case> cases = {
        {[] { throw FExceptionPixelProc2("Despeckle: input image too small"); }, kErrException,
         "FIPEngine2: Pixel processing2 exception (Despeckle: input image too small)",
         "caught unhandled FException(Pixel processing2 exception, Despeckle: input image too small)"},
        {[] { throw std::bad_alloc(); }, kErrOutOfMemory, "FIPEngine2",
         "caught unhandled bad_alloc exception"},
        {[] { throw 42; }, kErrException, "FIPEngine2: unknown exception",
         "caught unhandled unknown exception"},
    };
    FIPEngine2 engine;
    for (const Case& c : cases) {
        engine.SetHook([&](FIPERequest&) { c.thrower(); });
        QuickRequest quick;
        engine.Request(&quick.request);
        ASSERT_TRUE(WaitFinal(engine, quick.request));
        EXPECT_EQ(quick.request.m_Async.GetState(), kError);
        EXPECT_EQ(quick.request.m_Async.GetErrorCode(), c.error);
        EXPECT_EQ(std::string(quick.request.m_Async.m_usErrorText.GetNarrow()), c.text);
        EXPECT_TRUE(Trace().Contains(c.trace)) << Trace().GetText();
    }
    engine.SetHook(nullptr);

    // A failed check in a handler: the assertion's report is the message.
    FIPERequestStage1 missing;
    engine.Request(&missing);
    ASSERT_TRUE(WaitFinal(engine, missing));
    EXPECT_EQ(missing.m_Async.GetErrorCode(), kErrException);
    const std::string text = missing.m_Async.m_usErrorText.GetNarrow();
    EXPECT_EQ(text.rfind("FIPEngine2: Brisal exception (\nASSERTION FAILED\n", 0), 0u) << text;
    EXPECT_NE(text.find("File:  FIPEngine2"), std::string::npos);
    EXPECT_NE(text.find("Test:  pReq->m_pCambData != NULL"), std::string::npos);

    // A record whose class is not the one its type id names.
    TypedRequest impostor(kIPERotate);
    engine.Request(&impostor);
    ASSERT_TRUE(WaitFinal(engine, impostor));
    EXPECT_EQ(impostor.m_Async.GetErrorCode(), kErrException);
}

TEST_F(EngineTest, HandshakesWaitBoundedTimes)
{
    FIPEngine2 engine;
    auto elapsed = [](const std::function<void()>& f) {
        const auto start = Clock::now();
        f();
        return std::chrono::duration_cast<milliseconds>(Clock::now() - start);
    };
    EXPECT_LT(elapsed([&] { engine.Idle(); }), milliseconds(50)); // empty slot: no wait

    Gate gate;
    engine.SetHook([&](FIPERequest&) { gate.Wait(); });
    QuickRequest quick;
    const milliseconds post = elapsed([&] { engine.Request(&quick.request); });
    // The second of the two bounded waits ran its full time: the worker is held.
    EXPECT_GE(post, milliseconds(FIPEngine2::kIdleWaitMs));
    EXPECT_LT(post, milliseconds(2 * FIPEngine2::kIdleWaitMs + 400));
    const milliseconds idle = elapsed([&] { engine.Idle(); });
    EXPECT_GE(idle, milliseconds(FIPEngine2::kIdleWaitMs));
    EXPECT_LT(idle, milliseconds(FIPEngine2::kIdleWaitMs + 400));
    gate.open = true;
    ASSERT_TRUE(WaitFinal(engine, quick.request));
}

TEST_F(EngineTest, DestructionStopsTheWorkerWithoutKillingIt)
{
    const auto start = Clock::now();
    {
        FIPEngine2 idle;
    }
    EXPECT_LT(Clock::now() - start, milliseconds(1000));
    EXPECT_FALSE(Trace().Contains("failed to exit"));
    EXPECT_FALSE(Trace().Contains("Forcibly"));

    // A busy worker is asked to cancel and is waited for.
    QuickRequest quick;
    {
        FIPEngine2 busy;
        busy.SetHook([](FIPERequest& r) {
            TickUntil([&] { return r.m_Async.IsCancelRequested(); }, [] { std::this_thread::yield(); },
                      std::chrono::seconds(10));
        });
        busy.Request(&quick.request);
        ASSERT_TRUE(busy.IsRunning());
    }
    EXPECT_TRUE(quick.request.m_Async.IsFinal());
    EXPECT_FALSE(Trace().Contains("failed to exit"));
}

TEST_F(EngineTest, AWorkerThatWillNotStopIsLeftRunning)
{
    auto quick = std::make_shared<QuickRequest>();
    auto release = std::make_shared<std::atomic<bool>>(false);
    {
        FIPEngine2 stubborn;
        stubborn.SetHook([release](FIPERequest&) {
            TickUntil([&] { return release->load(); }, [] { std::this_thread::sleep_for(milliseconds(1)); },
                      std::chrono::seconds(30));
        });
        stubborn.Request(&quick->request);
    }
    EXPECT_TRUE(Trace().Contains("FIPEngine2::~FIPEngine2: processing thread failed to exit!\n"));
    EXPECT_FALSE(quick->request.m_Async.IsFinal());
    // The worker outlived its engine and still answers its request when it can.
    *release = true;
    EXPECT_TRUE(TickUntil([&] { return quick->request.m_Async.IsFinal(); },
                          [] { std::this_thread::sleep_for(milliseconds(1)); }));
    EXPECT_EQ(quick->request.m_Async.GetState(), kCompleted);
}

} // namespace
