#include <gtest/gtest.h>

#include <string>

#include "BrisalMain.h"
#include "FAppHarness.h"
#include "FCache.h"
#include "FGenericUiApp.h"
#include "FIPManager.h"
#include "FUiObject.h"
#include "FUiObjectFactory.h"

namespace
{

struct Seen {
    bool destroyed = false;
    int poolSize = -1;
    uint32_t cacheLimit = 0;
};
Seen g_seen;

// Stands for a manager: what it finds of the shared services when it is deleted.
class PoolWatch : public FUiObject
{
public:
    explicit PoolWatch(const char* typeName) : FUiObject(typeName) {}
    ~PoolWatch() override
    {
        g_seen.destroyed = true;
        g_seen.poolSize = GetIPManagerPoolSize();
        g_seen.cacheLimit = GetGlobalCache()->GetSize();
    }
};

} // namespace

TEST(ShutdownHookTest, RunsAfterTheManagersAreGoneWhileThePoolStillExists)
{
    FAppHarness harness;
    std::string script;
    ASSERT_TRUE(harness.ReadScriptFile("ui.xml", script));
    const size_t end = script.rfind("</UI_SCRIPT>");
    ASSERT_NE(end, std::string::npos);
    script.insert(end, "<POOL_WATCH Name=\"Watch\"/>\n");
    ASSERT_TRUE(harness.WriteScriptFile("ui.xml", script));
    harness.OnStartup([](FGenericUiApp* app) {
        return app->GetUiObjectFactory()->Register("POOL_WATCH", new FUiObjectCreatorOf<PoolWatch>);
    });
    g_seen = Seen();
    // The program may run again in this process: it must find the cache as this run did.
    FCache* cache = GetGlobalCache();
    const uint32_t limitBefore = 7u << 20;
    cache->SetSize(limitBefore);
    FCacheObject* left = cache->Get(u"left before the start", 4096);
    ASSERT_NE(left, nullptr);
    left->Release();
    const int status = harness.Start([](FAppHarness& app) {
        EXPECT_NE(app.App()->GetUiRelay(FWideString("Watch")), nullptr);
        EXPECT_FALSE(g_seen.destroyed);
    });
    EXPECT_EQ(status, 0);
    ASSERT_TRUE(g_seen.destroyed);
    EXPECT_EQ(g_seen.poolSize, kDefaultIPManagerPoolSize);
    EXPECT_EQ(g_seen.cacheLimit, kRawbenchCacheLimit);
    // Then the hook emptied the cache, removed the pool and put the old limit back.
    EXPECT_EQ(GetIPManagerPoolSize(), 0);
    EXPECT_EQ(cache->GetEntryCount(), 0);
    EXPECT_EQ(cache->GetSize(), limitBefore);
    EXPECT_TRUE(harness.MessageBoxes().empty());
    cache->SetSize(FCache::kDefaultLimit);
}
