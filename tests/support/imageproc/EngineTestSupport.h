#pragma once

// Shared pieces of the image-processing tests: a fixture that gives each test a fresh pool,
// cache and trace, bounded tick loops, and fakes for managers and output images.

#include <gtest/gtest.h>

#include <chrono>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "FDebugTrace.h"
#include "FIPMImage.h"
#include "FIPManager.h"
#include "FIPManagerRequest.h"
#include "FScopedTempFolder.h"

// Calls tick until done answers true or the deadline passes; true when done. Every wait
// of an engine test goes through here, so a hang fails the test instead of stalling CI.
bool TickUntil(const std::function<bool()>& done, const std::function<void()>& tick,
               std::chrono::milliseconds deadline = std::chrono::seconds(20));
// Ticks the pool until the request leaves kInProgress.
bool TickPoolUntilFinal(FIPManagerRequest& request,
                        std::chrono::milliseconds deadline = std::chrono::seconds(20));

// What the fakes of one test did, in order.
struct FFakeManagerLog {
    std::vector<std::string> m_events; // "idle A", "request A", "delete A"
    int m_iDeleted = 0;
};

// A manager that holds each request for a set number of its own Idle calls, then ends it
// with the state given (kCompleted unless changed).
class FFakeManager : public FIPManager
{
public:
    FFakeManager(std::string name, std::shared_ptr<FFakeManagerLog> log, int idlesPerRequest);
    ~FFakeManager() override;

    bool IsBusy() override { return m_pRequest != nullptr; }
    void Idle() override;
    void Request(FIPManagerRequest* request) override;

    const std::string& GetName() const { return m_name; }
    FIPManagerRequest* GetCurrent() const { return m_pRequest; }
    int m_iFinalState = kCompleted;

private:
    std::string m_name;
    std::shared_ptr<FFakeManagerLog> m_pLog;
    int m_iIdlesPerRequest;
    int m_iIdlesLeft = 0;
    FIPManagerRequest* m_pRequest = nullptr;
};

// Installs a factory of fake managers named "A", "B", ... for its lifetime.
class FFakeManagerFactory
{
public:
    explicit FFakeManagerFactory(int idlesPerRequest = 1);
    ~FFakeManagerFactory();
    FFakeManagerFactory(const FFakeManagerFactory&) = delete;
    FFakeManagerFactory& operator=(const FFakeManagerFactory&) = delete;

    std::shared_ptr<FFakeManagerLog> GetLog() const { return m_pLog; }
    int GetCreated() const { return m_iCreated; }
    // Makes the next creations fail (the factory returns null).
    void SetFailing(bool failing) { m_bFailing = failing; }

private:
    std::shared_ptr<FFakeManagerLog> m_pLog;
    int m_iIdlesPerRequest;
    int m_iCreated = 0;
    bool m_bFailing = false;
    FIPManagerFactory m_previous;
};

// An output image that only counts references taken and given back. It never deletes
// itself, so that a release too many is counted instead of touching freed memory; the test
// owns it.
class FCountingImage : public FIPMImage
{
public:
    int m_iAddRefs = 0;
    int m_iReleases = 0;
    // Times the count reached 0, when a real image would have deleted itself.
    int m_iDeletes = 0;

    FPixmap* GetPixmap() override { return nullptr; }
    FPropList* GetProperties() override { return nullptr; }
    void SetProperties(FPropList*) override {}
    FIHistogram* GetHistogramPtr() override { return nullptr; }
    FIHistogram* GetHistogram() override { return nullptr; }
    uint32_t AddRef() override;
    uint32_t Release() override;

private:
    uint32_t m_uRefCount = 1;
};

// Puts the process-wide image-processing state back to its start around every test: the
// pool destroyed and its size 4, the default manager factory, the cache emptied and at
// its default limit, the latch storage class open, a fresh trace capture, and an empty
// configuration folder of the test's own (the pictures' turns are kept there).
class FEngineTest : public ::testing::Test
{
protected:
    void SetUp() override;
    void TearDown() override;

    // Everything traced during the test.
    FDebugTraceCapture& Trace() { return *m_pTrace; }
    // Native path of the test's configuration folder ($XDG_CONFIG_HOME).
    const std::string& ConfigPath() const;

    static void ResetEngineState();

private:
    std::unique_ptr<FDebugTraceCapture> m_pTrace;
    std::unique_ptr<FScopedTempFolder> m_pConfig;
    std::unique_ptr<FScopedEnv> m_pConfigEnv;
};
