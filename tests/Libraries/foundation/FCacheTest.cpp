#include <gtest/gtest.h>

#include <atomic>
#include <cstring>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "FCache.h"
#include "FDebugTrace.h"
#include "FMemoryAllocator.h"

namespace
{

std::vector<std::string> Labels(FCache& cache)
{
    std::vector<std::string> out;
    for (const FWideString& label : cache.GetLabels())
        out.emplace_back(label.GetNarrow());
    return out;
}

FWideString Label(const std::string& text)
{
    return FWideString(text.c_str());
}

constexpr int64_t kCost100 = 100 + FCache::kEntryOverhead;

TEST(FCacheTest, RequestFitsOnlyBelowTheLimit)
{
    struct Case {
        uint32_t limit;
        int size;
        bool fits;
    };
    const Case cases[] = {{1000, 943, true},       {1000, 944, false}, {1000, 2000, false},
                          {57, 0x7FFFFFFF, false}, {57, 1, false},     {58, 1, true}};
    for (const Case& c : cases) {
        FCache cache;
        cache.SetSize(c.limit);
        FDebugTraceCapture capture;
        FCacheObject* entry = cache.Get(u"big", c.size);
        EXPECT_EQ(entry != nullptr, c.fits) << c.limit << "/" << c.size;
        if (entry != nullptr) {
            EXPECT_EQ(entry->GetSize(), c.size);
            EXPECT_EQ(cache.GetUsedBytes(), c.size + FCache::kEntryOverhead);
            entry->Release();
            continue;
        }
        const std::string full =
            "Cache is full! Label = 'big' Size Requested = " + std::to_string(c.size) + "\n";
        EXPECT_TRUE(capture.Contains(full)) << capture.GetText();
        EXPECT_TRUE(capture.Contains("FCache debug dump:\nCache size: " + std::to_string(c.limit) + "\n"));
        EXPECT_EQ(cache.GetEntryCount(), 0);
    }
}

TEST(FCacheTest, LookupBySizeAndLabel)
{
    FCache cache;
    FDebugTraceCapture capture;
    EXPECT_EQ(cache.Get(u"absent", 0), nullptr);
    EXPECT_EQ(cache.Get(u"bad", -5), nullptr);
    EXPECT_EQ(cache.Get(u"absent", 0), nullptr);
    EXPECT_FALSE(capture.Contains("Cache is full"));

    FCacheObject* a = cache.Get(u"img", 100);
    ASSERT_NE(a, nullptr);
    EXPECT_EQ(a->GetRefCount(), 1);
    FCacheObject* any = cache.Get(u"img", 0);
    EXPECT_EQ(any, a);
    EXPECT_EQ(a->GetRefCount(), 2);
    FCacheObject* other = cache.Get(u"img", 200);
    ASSERT_NE(other, nullptr);
    EXPECT_NE(other, a);
    EXPECT_EQ(Labels(cache), (std::vector<std::string>{"img", "img"}));
    EXPECT_TRUE(cache.Exists(u"img", 200));
    EXPECT_TRUE(cache.Exists(u"img", 0));
    EXPECT_FALSE(cache.Exists(u"img", 300));
    EXPECT_FALSE(cache.Exists(u"IMG", 0)); // case-sensitive
    EXPECT_FALSE(cache.Exists(u"im", 0));  // whole label
    EXPECT_EQ(cache.Get(u"img", 0), a);    // the first entry wins
    EXPECT_EQ(a->Release(), 2);
    EXPECT_EQ(a->Release(), 1);
    EXPECT_EQ(a->Release(), 0);
    EXPECT_EQ(other->Release(), 0);
}

// Lookups follow a label change, and among equal labels the entry made first still wins,
// wherever the label came from; used bytes follow every removal.
TEST(FCacheTest, RelabelledEntriesAreFoundInTheOrderTheyWereMade)
{
    FCache cache;
    FCacheObject* first = cache.Get(u"a", 100);
    FCacheObject* second = cache.Get(u"b", 100);
    FCacheObject* third = cache.Get(u"c", 100);
    ASSERT_TRUE(first != nullptr && second != nullptr && third != nullptr);
    third->SetLabel(u"b");
    EXPECT_EQ(cache.Get(u"b", 0), second);
    second->SetLabel(u"x");
    EXPECT_EQ(cache.Get(u"b", 0), third);
    first->SetLabel(u"b");
    EXPECT_EQ(cache.Get(u"b", 0), first);
    EXPECT_FALSE(cache.Exists(u"a", 0));
    EXPECT_FALSE(cache.Exists(u"c", 0));
    EXPECT_TRUE(cache.Exists(u"x", 100));
    second->SetLabel(nullptr);
    EXPECT_EQ(cache.Get(u"", 100), second);
    EXPECT_EQ(Labels(cache), (std::vector<std::string>{"b", "", "b"}));

    // References held: first 2, third 2, second 3 (4 after the next lookup).
    for (int i = 0; i < 2; ++i) {
        first->Release();
        third->Release();
    }
    EXPECT_EQ(cache.GetUsedBytes(), 3 * kCost100);
    cache.SetSize(static_cast<uint32_t>(kCost100 + 1)); // both unreferenced entries go
    EXPECT_EQ(cache.GetUsedBytes(), kCost100);
    EXPECT_FALSE(cache.Exists(u"b", 0));
    EXPECT_EQ(cache.Get(u"", 0), second);
    while (second->Release() > 0) {
    }
    cache.SetSize(0);
    EXPECT_EQ(cache.GetEntryCount(), 0);
    EXPECT_EQ(cache.GetUsedBytes(), 0);
}

// Entries made in order, each 100 bytes; then the limit is lowered. The survivors show
// which went first.
TEST(FCacheTest, EvictionOrderTable)
{
    struct Entry {
        const char* label;
        unsigned priority;
        bool referenced;
    };
    struct Case {
        const char* name;
        std::vector<Entry> entries;
        int64_t limit;
        std::vector<std::string> survivors;
    };
    const Case cases[] = {
        {"oldest first among equals",
         {{"a", 0, false}, {"b", 0, false}, {"c", 0, false}},
         2 * kCost100,
         {"b", "c"}},
        {"lowest priority first",
         {{"a", 5, false}, {"b", 1, false}, {"c", 3, false}},
         2 * kCost100,
         {"a", "c"}},
        {"two go", {{"a", 5, false}, {"b", 1, false}, {"c", 3, false}}, kCost100, {"a"}},
        {"priority compared unsigned", {{"a", 0x80000000u, false}, {"b", 1, false}}, kCost100, {"a"}},
        {"kept priority survives an empty limit",
         {{"a", 0xFFFFFFFFu, false}, {"b", 0xFFFFFFFEu, false}},
         0,
         {"a"}},
        {"referenced entries stay", {{"a", 0, true}, {"b", 9, false}, {"c", 0, true}}, 0, {"a", "c"}},
        {"limit already met", {{"a", 0, false}, {"b", 0, false}}, 2 * kCost100, {"a", "b"}},
        {"one byte short", {{"a", 0, false}, {"b", 0, false}}, 2 * kCost100 - 1, {"b"}},
    };
    for (const Case& c : cases) {
        FCache cache;
        std::vector<FCacheObject*> held;
        for (const Entry& e : c.entries) {
            FCacheObject* entry = cache.Get(Label(e.label).GetBuffer(), 100);
            ASSERT_NE(entry, nullptr) << c.name;
            entry->SetPriority(e.priority);
            if (e.referenced)
                held.push_back(entry);
            else
                entry->Release();
        }
        cache.SetSize(static_cast<uint32_t>(c.limit));
        EXPECT_EQ(Labels(cache), c.survivors) << c.name;
        for (FCacheObject* entry : held)
            entry->Release();
    }
}

// Entries "old" (100 bytes, unreferenced, priority 7), "held" (referenced), "kept"
// (kPriorityKeep) and "other"; then one reclaim.
TEST(FCacheTest, ReclaimTakesOverOnlyAnUnreferencedEntryOfExactlyItsSize)
{
    struct Case {
        const char16_t* oldLabel;
        int size;
        bool taken;
    };
    const Case cases[] = {{u"old", 100, true},   {u"old", 99, false},   {u"old", 0, false},
                          {u"held", 100, false}, {u"kept", 100, false}, {u"none", 100, false}};
    for (const Case& c : cases) {
        const std::string name =
            std::string(FWideString(c.oldLabel).GetNarrow()) + "/" + std::to_string(c.size);
        FCache cache;
        FCacheObject* old = cache.Get(u"old", 100);
        FCacheObject* held = cache.Get(u"held", 100);
        FCacheObject* kept = cache.Get(u"kept", 100);
        FCacheObject* other = cache.Get(u"other", 100);
        ASSERT_TRUE(old && held && kept && other);
        std::memset(old->GetData(), 0x5A, 100);
        old->SetPriority(7);
        kept->SetPriority(FCacheObject::kPriorityKeep);
        old->Release();
        kept->Release();
        other->Release();
        FCacheObject* got = cache.Reclaim(c.oldLabel, u"new", c.size);
        EXPECT_EQ(got != nullptr, c.taken) << name;
        EXPECT_EQ(cache.GetUsedBytes(), 4 * kCost100) << name;
        if (got == nullptr) {
            EXPECT_FALSE(cache.Exists(u"new", 0)) << name;
            held->Release();
            continue;
        }
        EXPECT_EQ(got, old);
        EXPECT_EQ(cache.Get(u"new", 100), old);
        EXPECT_FALSE(cache.Exists(u"old", 0));
        EXPECT_EQ(old->GetRefCount(), 2);
        EXPECT_EQ(old->GetPriority(), 0u);
        EXPECT_EQ(static_cast<uint8_t*>(old->GetData())[99], 0x5A);
        // Made again as far as eviction goes: after "other", which is older.
        old->Release();
        old->Release();
        cache.SetSize(static_cast<uint32_t>(3 * kCost100));
        EXPECT_EQ(Labels(cache), (std::vector<std::string>{"held", "kept", "new"}));
        held->Release();
    }
}

TEST(FCacheTest, NewEntryMakesRoomByEvictingAndFailsWhenAllAreReferenced)
{
    FCache cache;
    cache.SetSize(static_cast<uint32_t>(3 * kCost100 + 10));
    for (const char* label : {"a", "b", "c"})
        cache.Get(Label(label).GetBuffer(), 100)->Release();
    FCacheObject* d = cache.Get(u"d", 100);
    ASSERT_NE(d, nullptr);
    EXPECT_EQ(Labels(cache), (std::vector<std::string>{"b", "c", "d"}));

    FCacheObject* b = cache.Get(u"b", 0);
    FCacheObject* c = cache.Get(u"c", 0);
    FDebugTraceCapture capture;
    EXPECT_EQ(cache.Get(u"e", 100), nullptr);
    EXPECT_TRUE(capture.Contains("Cache is full! Label = 'e' Size Requested = 100"));
    EXPECT_TRUE(capture.Contains("Entry 2: 'd' size 100 ptr 0x"));
    EXPECT_TRUE(capture.Contains("refcount 1 priority 0\n"));
    EXPECT_EQ(Labels(cache), (std::vector<std::string>{"b", "c", "d"}));
    b->Release();
    c->Release();
    d->Release();
}

TEST(FCacheTest, ReleaseNeverGoesBelowZeroAndTrimsWhenOverTheLimit)
{
    FCache cache;
    FCacheObject* a = cache.Get(u"a", 100);
    FCacheObject* b = cache.Get(u"b", 100);
    cache.SetSize(0); // both referenced: nothing can go
    EXPECT_EQ(cache.GetEntryCount(), 2);
    EXPECT_EQ(b->Release(), 0); // over the limit: freed at once
    EXPECT_EQ(Labels(cache), (std::vector<std::string>{"a"}));
    a->SetPriority(FCacheObject::kPriorityKeep);
    EXPECT_EQ(a->Release(), 0);
    EXPECT_EQ(Labels(cache), (std::vector<std::string>{"a"}));
    EXPECT_EQ(a->GetRefCount(), 0);
    EXPECT_EQ(a->Release(), 0); // a surplus release stays at 0
    EXPECT_EQ(a->GetRefCount(), 0);
    a->SetPriority(0);
    cache.SetSize(1000);
    cache.SetSize(0);
    EXPECT_EQ(cache.GetEntryCount(), 0);
}

std::vector<std::string> gFreed;

void RecordFree(FCacheObject* entry)
{
    // The block is still there and readable when the callback runs.
    const char* data = static_cast<const char*>(entry->GetData());
    gFreed.emplace_back(data, static_cast<size_t>(entry->GetSize()));
}

TEST(FCacheTest, FreeCallbackRunsOncePerEvictionBeforeTheBlockGoes)
{
    gFreed.clear();
    const unsigned allocatorBase = GetMemoryAllocatorRefCount();
    {
        FCache cache;
        for (const char* label : {"one", "two", "six"}) {
            FCacheObject* entry = cache.Get(Label(label).GetBuffer(), 3);
            std::memcpy(entry->GetData(), label, 3);
            entry->SetFreeCallback(RecordFree);
            entry->Release();
        }
        EXPECT_EQ(GetMemoryAllocatorRefCount(), allocatorBase + 3);
        cache.SetSize(static_cast<uint32_t>(3 + FCache::kEntryOverhead));
        EXPECT_EQ(gFreed, (std::vector<std::string>{"one", "two"}));
        EXPECT_TRUE(cache.EvictOne());
        EXPECT_FALSE(cache.EvictOne());
        EXPECT_EQ(gFreed, (std::vector<std::string>{"one", "two", "six"}));
        cache.SetSize(1000);
        cache.Get(u"left", 8)->Release();
    } // the destructor empties the cache
    EXPECT_EQ(GetMemoryAllocatorRefCount(), allocatorBase);
}

TEST(FCacheTest, EntryFieldsAndDumpTexts)
{
    FCache cache;
    EXPECT_EQ(cache.GetSize(), 125829120u);
    cache.SetSize(1000);
    FCacheObject* entry = cache.Get(u"x", 10);
    entry->SetLabel(u"renamed");
    EXPECT_TRUE(entry->GetLabel() == u"renamed");
    EXPECT_TRUE(cache.Exists(u"renamed", 10));
    entry->SetPriority(7);
    EXPECT_EQ(entry->GetPriority(), 7u);
    FDebugTraceCapture capture;
    cache.DebugDump();
    const std::string text = capture.GetText();
    EXPECT_EQ(text.rfind("FCache debug dump:\nCache size: 1000\nIn use: 66\n=========================\n", 0),
              0u)
        << text;
    EXPECT_NE(text.find("Entry 0: 'renamed' size 10 ptr 0x"), std::string::npos) << text;
    EXPECT_NE(text.find(" refcount 1 priority 7\n=========================\n"), std::string::npos) << text;
    entry->SetLabel(nullptr);
    EXPECT_TRUE(entry->GetLabel().IsEmpty());
    entry->Release();
}

TEST(FCacheTest, GlobalCacheIsOneObject)
{
    FCache* cache = GetGlobalCache();
    ASSERT_NE(cache, nullptr);
    EXPECT_EQ(cache, GetGlobalCache());
    FCacheObject* entry = cache->Get(u"global-test", 16);
    ASSERT_NE(entry, nullptr);
    entry->Release();
    CacheLowMemoryHook(); // evicts it
    EXPECT_FALSE(cache->Exists(u"global-test", 0));
}

// Many threads find, reference and release a few labels while the limit is so small that
// entries are evicted all the time. Under the sanitizers any entry freed between being
// found and being referenced, or freed twice, is reported.
TEST(FCacheTest, StressFindReferenceReleaseUnderASmallLimit)
{
    const unsigned allocatorBase = GetMemoryAllocatorRefCount();
    {
        FCache cache;
        constexpr int kEntrySize = 64;
        cache.SetSize(static_cast<uint32_t>(3 * (kEntrySize + FCache::kEntryOverhead)));
        constexpr int kThreads = 8;
        constexpr int kRounds = 4000;
        const std::vector<FWideString> labels = {"L0", "L1", "L2", "L3", "L4", "L5"};
        std::atomic<int> failures{0};
        std::atomic<bool> stop{false};

        std::vector<std::thread> threads;
        for (int t = 0; t < kThreads; ++t) {
            threads.emplace_back([&, t] {
                std::mt19937 rng(static_cast<unsigned>(t) * 7919u + 1u);
                for (int i = 0; i < kRounds; ++i) {
                    const FWideString& label = labels[rng() % labels.size()];
                    const bool anySize = (rng() & 3) == 0;
                    FCacheObject* entry = cache.Get(label.GetBuffer(), anySize ? 0 : kEntrySize);
                    if (entry == nullptr)
                        continue; // all entries referenced, or absent for a size-0 lookup
                    unsigned char* data = static_cast<unsigned char*>(entry->GetData());
                    std::atomic_ref<unsigned char>(data[0]).store(static_cast<unsigned char>(t),
                                                                  std::memory_order_relaxed);
                    std::atomic_ref<unsigned char>(data[kEntrySize - 1]).load(std::memory_order_relaxed);
                    if (entry->GetSize() != kEntrySize || !(entry->GetLabel() == label))
                        ++failures;
                    if ((rng() & 1) != 0) {
                        entry->AddRef();
                        entry->SetPriority(rng() % 4);
                        entry->Release();
                    }
                    if (entry->GetRefCount() < 1)
                        ++failures;
                    entry->Release();
                }
            });
        }
        // One more thread lowers and raises the limit meanwhile.
        std::thread resizer([&] {
            while (!stop.load()) {
                cache.SetSize(0);
                cache.SetSize(static_cast<uint32_t>(3 * (kEntrySize + FCache::kEntryOverhead)));
                std::this_thread::yield();
            }
        });
        for (auto& t : threads)
            t.join();
        stop = true;
        resizer.join();

        EXPECT_EQ(failures.load(), 0);
        for (const FWideString& label : labels) {
            if (cache.Exists(label.GetBuffer(), 0)) {
                FCacheObject* entry = cache.Get(label.GetBuffer(), 0);
                EXPECT_EQ(entry->GetRefCount(), 1); // nobody else holds one any more
                entry->Release();
            }
        }
        EXPECT_LE(cache.GetUsedBytes(), 3 * (kEntrySize + FCache::kEntryOverhead));
        cache.SetSize(0);
        EXPECT_EQ(cache.GetEntryCount(), 0);
    }
    // Every block went back exactly once (a second free would be a sanitizer error).
    EXPECT_EQ(GetMemoryAllocatorRefCount(), allocatorBase);
}

} // namespace
