#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "FCriticalSection.h"
#include "FMemoryAllocator.h"
#include "FWideString.h"

class FCache;
class FCacheObject;

// Called with the entry whose block is about to be freed, or has moved.
using FCacheCallback = void (*)(FCacheObject*);

class FICacheObject
{
public:
    virtual void AddRef() = 0;
    virtual int Release() = 0;
    virtual void* GetData() = 0;
    virtual int GetSize() = 0;
    virtual void SetPriority(unsigned priority) = 0;
    virtual FWideString GetLabel() = 0;
    virtual void SetLabel(const char16_t* label) = 0;
    virtual void SetFreeCallback(FCacheCallback fn) = 0;
    virtual void SetMovedCallback(FCacheCallback fn) = 0;
    virtual ~FICacheObject() = default;
};

// One labelled, reference-counted block of a cache. Made only by FCache::Get, which hands
// the caller one reference; every reference is given back with Release.
class FCacheObject : public FICacheObject
{
public:
    // Priority that eviction never chooses.
    static constexpr unsigned kPriorityKeep = 0xFFFFFFFFu;

    void AddRef() override;
    // One reference less (never below 0); returns the count left. When that is 0 the cache
    // trims itself to its limit, which may free the entry: the caller must not touch it
    // afterwards.
    int Release() override;
    void* GetData() override;
    int GetSize() override;
    void SetPriority(unsigned priority) override;
    // A copy of the label, taken under the lock.
    FWideString GetLabel() override;
    void SetLabel(const char16_t* label) override;
    void SetFreeCallback(FCacheCallback fn) override;
    void SetMovedCallback(FCacheCallback fn) override;

    unsigned GetPriority();
    int GetRefCount();

private:
    friend class FCache;
    FCacheObject(FCache* owner, const char16_t* label, int size);
    ~FCacheObject() override;

    int m_iRefCount = 1;
    unsigned m_uPriority = 0;
    // Order of insertion into the cache's list, which keeps that order.
    uint64_t m_uSequence = 0;
    bool m_bListed = false;
    int m_iSize;
    void* m_pData = nullptr;
    FWideString m_label;
    FCriticalSection* m_pLock;
    FMemoryAllocator* m_pAllocator = nullptr;
    FCacheCallback m_pfnFree = nullptr;
    FCacheCallback m_pfnMoved = nullptr;
    FCache* m_pOwner;
};

class FICache
{
public:
    virtual void SetSize(uint32_t limit) = 0;
    virtual uint32_t GetSize() = 0;
    virtual bool Exists(const char16_t* label, int size) = 0;
    virtual FCacheObject* Get(const char16_t* label, int size) = 0;
    virtual std::vector<FWideString> GetLabels() = 0;
    virtual void DebugDump() = 0;
    virtual ~FICache() = default;
};

// A store of labelled memory blocks with a byte limit. Entries cost their size plus
// kEntryOverhead; unreferenced entries stay until room is needed and are then evicted
// lowest priority first, the oldest first among equals. Locks: m_cacheLock before
// m_listLock, never the reverse; every eviction holds m_cacheLock, so an entry that Get
// found cannot be freed before Get has added the caller's reference.
class FCache : public FICache
{
public:
    static constexpr uint32_t kDefaultLimit = 125829120; // 120 MiB
    static constexpr int64_t kEntryOverhead = 56;

    FCache();
    // Frees every unreferenced entry, those of kPriorityKeep too; entries still referenced
    // are not freed.
    ~FCache() override;
    FCache(const FCache&) = delete;
    FCache& operator=(const FCache&) = delete;

    // Stores the limit, then evicts unreferenced entries until the used bytes fit it.
    void SetSize(uint32_t limit) override;
    uint32_t GetSize() override;
    // An entry with the label and the size (0: any size) exists.
    bool Exists(const char16_t* label, int size) override;
    // The first entry with the label and size (0: any size) with one more reference; when
    // none, a new entry of `size` bytes, made room for by eviction; null when size is 0 and
    // nothing matched, when the size is negative, or when it cannot fit or be allocated.
    FCacheObject* Get(const char16_t* label, int size) override;
    std::vector<FWideString> GetLabels() override;
    void DebugDump() override;

    // Takes over the unreferenced entry under `oldLabel` of exactly `size` bytes: it gets
    // `label`, one reference for the caller and the place of a new entry in the eviction
    // order; its contents stay. Null when there is none, or it is referenced or kept.
    // Memory that results no longer wanted already hold is cheaper than fresh memory.
    FCacheObject* Reclaim(const char16_t* oldLabel, const char16_t* label, int size);

    // Bytes used by all entries, referenced or not, overhead included.
    int64_t GetUsedBytes();
    int GetEntryCount();
    // Evicts the one entry eviction would choose; false when none can go.
    bool EvictOne();

private:
    friend class FCacheObject;

    FCacheObject* priFindEntry(const char16_t* label, int size);
    int64_t priUsedBytes();
    bool priTrim(int64_t target);
    int priFindEvictable();
    bool priEvictOne();
    void priFreeEntry(FCacheObject* entry);
    void priRemoveIfUnreferenced(FCacheObject* entry);
    void priAddEntry(FCacheObject* entry);
    std::vector<FCacheObject*>::iterator priEraseEntry(std::vector<FCacheObject*>::iterator it);
    void priIndexAdd(FCacheObject* entry);
    bool priIndexRemove(FCacheObject* entry);
    void priMarkIfEvictable(FCacheObject* entry);
    void priUnmarkEvictable(FCacheObject* entry);

    struct LabelHash {
        using is_transparent = void;
        size_t operator()(std::u16string_view label) const { return std::hash<std::u16string_view>{}(label); }
    };

    uint32_t m_uLimit = kDefaultLimit;
    std::vector<FCacheObject*> m_entries;
    // Entries by label, each list in the order of m_entries: lookups need not walk every
    // entry, which a folder of thousands of files would otherwise make quadratic.
    std::unordered_map<std::u16string, std::vector<FCacheObject*>, LabelHash, std::equal_to<>> m_byLabel;
    // Unreferenced entries that may go, in eviction order (priority, then sequence).
    std::map<std::pair<unsigned, uint64_t>, FCacheObject*> m_evictable;
    int64_t m_iUsedBytes = 0;
    uint64_t m_uNextSequence = 0;
    FCriticalSection m_listLock;
    FCriticalSection m_cacheLock;
};

// The one process-wide cache, built before main and destroyed at exit.
FCache* GetGlobalCache();
// Evicts one entry of the global cache; the low-memory hook given to the allocator.
void CacheLowMemoryHook();
