#include "FCache.h"

#include <algorithm>
#include <cinttypes>
#include <cstring>
#include <memory>
#include <new>
#include <optional>

#include "FDebugTrace.h"
#include "FLargePageAllocator.h"

// ---- FCacheObject ---------------------------------------------------------------------------

FCacheObject::FCacheObject(FCache* owner, const char16_t* label, int size)
    : m_iSize(size), m_label(label), m_pLock(&owner->m_listLock), m_pOwner(owner)
{
}

FCacheObject::~FCacheObject() = default;

void FCacheObject::AddRef()
{
    FCriticalSectionLock lock(*m_pLock);
    if (m_iRefCount == 0 && m_pAllocator != nullptr) {
        void* moved = m_pAllocator->Relocate(m_pData);
        if (moved != m_pData) {
            m_pData = moved;
            if (m_pfnMoved != nullptr)
                m_pfnMoved(this);
        }
    }
    if (m_iRefCount == 0)
        m_pOwner->priUnmarkEvictable(this);
    ++m_iRefCount;
}

int FCacheObject::Release()
{
    FCache* owner = m_pOwner;
    // When memory is low the entry may be freed at once: hold the cache lock from the
    // start then, so that no other eviction can free it under us.
    const bool low = m_pAllocator != nullptr && m_pAllocator->IsMemoryLow();
    std::optional<FCriticalSectionLock> cacheLock;
    if (low)
        cacheLock.emplace(owner->m_cacheLock);
    int left = 0;
    {
        FCriticalSectionLock lock(*m_pLock);
        if (m_iRefCount > 0)
            --m_iRefCount;
        left = m_iRefCount;
        if (left == 0)
            owner->priMarkIfEvictable(this);
    }
    if (left != 0)
        return left;
    // From here another thread's eviction may free this entry; only `owner` is used.
    if (!cacheLock)
        cacheLock.emplace(owner->m_cacheLock);
    if (low)
        owner->priRemoveIfUnreferenced(this);
    owner->priTrim(owner->m_uLimit);
    return 0;
}

void* FCacheObject::GetData()
{
    FCriticalSectionLock lock(*m_pLock);
    return m_pData;
}

int FCacheObject::GetSize()
{
    FCriticalSectionLock lock(*m_pLock);
    return m_iSize;
}

void FCacheObject::SetPriority(unsigned priority)
{
    FCriticalSectionLock lock(*m_pLock);
    m_pOwner->priUnmarkEvictable(this);
    m_uPriority = priority;
    m_pOwner->priMarkIfEvictable(this);
}

unsigned FCacheObject::GetPriority()
{
    FCriticalSectionLock lock(*m_pLock);
    return m_uPriority;
}

int FCacheObject::GetRefCount()
{
    FCriticalSectionLock lock(*m_pLock);
    return m_iRefCount;
}

FWideString FCacheObject::GetLabel()
{
    FCriticalSectionLock lock(*m_pLock);
    return m_label;
}

void FCacheObject::SetLabel(const char16_t* label)
{
    FCriticalSectionLock lock(*m_pLock);
    // Re-indexed only while listed: a free callback may rename an entry already taken out.
    const bool listed = m_pOwner->priIndexRemove(this);
    m_label = label != nullptr ? label : u"";
    if (listed)
        m_pOwner->priIndexAdd(this);
}

void FCacheObject::SetFreeCallback(FCacheCallback fn)
{
    FCriticalSectionLock lock(*m_pLock);
    m_pfnFree = fn;
}

void FCacheObject::SetMovedCallback(FCacheCallback fn)
{
    FCriticalSectionLock lock(*m_pLock);
    m_pfnMoved = fn;
}

// ---- FCache ---------------------------------------------------------------------------------

FCache::FCache() = default;

FCache::~FCache()
{
    SetSize(0);
    // Entries kept by their priority would otherwise outlive the cache unreachable.
    FCriticalSectionLock cacheLock(m_cacheLock);
    std::vector<FCacheObject*> unreferenced;
    {
        FCriticalSectionLock lock(m_listLock);
        for (auto it = m_entries.begin(); it != m_entries.end();) {
            if ((*it)->m_iRefCount == 0) {
                unreferenced.push_back(*it);
                it = priEraseEntry(it);
            } else {
                ++it;
            }
        }
    }
    for (FCacheObject* entry : unreferenced)
        priFreeEntry(entry);
}

void FCache::SetSize(uint32_t limit)
{
    FCriticalSectionLock cacheLock(m_cacheLock);
    {
        FCriticalSectionLock lock(m_listLock);
        m_uLimit = limit;
    }
    priTrim(limit);
}

uint32_t FCache::GetSize()
{
    FCriticalSectionLock lock(m_listLock);
    return m_uLimit;
}

bool FCache::Exists(const char16_t* label, int size)
{
    FCriticalSectionLock lock(m_listLock);
    return priFindEntry(label != nullptr ? label : u"", size) != nullptr;
}

FCacheObject* FCache::Get(const char16_t* label, int size)
{
    FCriticalSectionLock cacheLock(m_cacheLock);
    if (label == nullptr)
        label = u"";
    {
        // Found and referenced under one hold of the list lock, and every eviction holds
        // the cache lock: the entry cannot go between the two steps.
        FCriticalSectionLock lock(m_listLock);
        if (FCacheObject* found = priFindEntry(label, size)) {
            found->AddRef();
            return found;
        }
    }
    if (size == 0)
        return nullptr;
    if (size < 0) {
        DebugTrace("Cache request with a negative size! Label = '%s' Size Requested = %d\n",
                   FWideString(label).GetNarrow(), size);
        return nullptr;
    }

    const int64_t cost = static_cast<int64_t>(size) + kEntryOverhead;
    if (static_cast<int64_t>(m_uLimit) > cost && priTrim(static_cast<int64_t>(m_uLimit) - cost)) {
        FCacheObject* entry = nullptr;
        try {
            entry = new FCacheObject(this, label, size);
            entry->m_pAllocator = GetMemoryAllocator(CacheLowMemoryHook);
            entry->m_pData = entry->m_pAllocator->Alloc(static_cast<size_t>(size));
            if (entry->m_pData == nullptr)
                throw std::bad_alloc();
            FCriticalSectionLock lock(m_listLock);
            priAddEntry(entry);
            return entry;
        } catch (const std::bad_alloc&) {
            if (entry != nullptr) {
                if (entry->m_pAllocator != nullptr) {
                    entry->m_pAllocator->Free(entry->m_pData);
                    ReleaseMemoryAllocator(entry->m_pAllocator);
                }
                delete entry;
            }
            DebugTrace("Allocation of cache obj failed!. Size Requested = %d\n", size);
            return nullptr;
        }
    }
    DebugTrace("Cache is full! Label = '%s' Size Requested = %d\n", FWideString(label).GetNarrow(), size);
    DebugDump();
    return nullptr;
}

FCacheObject* FCache::Reclaim(const char16_t* oldLabel, const char16_t* label, int size)
{
    if (oldLabel == nullptr || size <= 0)
        return nullptr;
    // Under the cache lock no Get or eviction runs between the test and the reference.
    FCriticalSectionLock cacheLock(m_cacheLock);
    FCacheObject* entry = nullptr;
    {
        FCriticalSectionLock lock(m_listLock);
        entry = priFindEntry(oldLabel, size);
        if (entry == nullptr || entry->m_iRefCount != 0 || entry->m_uPriority == FCacheObject::kPriorityKeep)
            return nullptr;
        const auto it = std::lower_bound(
            m_entries.begin(), m_entries.end(), entry->m_uSequence,
            [](const FCacheObject* other, uint64_t value) { return other->m_uSequence < value; });
        priEraseEntry(it);
        entry->m_label = label != nullptr ? label : u"";
        entry->m_uPriority = 0;
        priAddEntry(entry);
    }
    entry->AddRef();
    return entry;
}

std::vector<FWideString> FCache::GetLabels()
{
    FCriticalSectionLock lock(m_listLock);
    std::vector<FWideString> labels;
    labels.reserve(m_entries.size());
    for (const FCacheObject* entry : m_entries)
        labels.push_back(entry->m_label);
    return labels;
}

void FCache::DebugDump()
{
    FCriticalSectionLock lock(m_listLock);
    DebugTrace("FCache debug dump:\nCache size: %u\nIn use: %" PRId64 "\n=========================\n",
               m_uLimit, priUsedBytes());
    int index = 0;
    for (const FCacheObject* entry : m_entries) {
        DebugTrace("Entry %d: '%s' size %d ptr 0x%016" PRIXPTR " refcount %d priority %d\n", index,
                   entry->m_label.GetNarrow(), entry->m_iSize, reinterpret_cast<uintptr_t>(entry->m_pData),
                   entry->m_iRefCount, static_cast<int>(entry->m_uPriority));
        ++index;
    }
    DebugTrace("=========================\n");
}

int64_t FCache::GetUsedBytes()
{
    FCriticalSectionLock lock(m_listLock);
    return priUsedBytes();
}

int FCache::GetEntryCount()
{
    FCriticalSectionLock lock(m_listLock);
    return static_cast<int>(m_entries.size());
}

bool FCache::EvictOne()
{
    FCriticalSectionLock cacheLock(m_cacheLock);
    return priEvictOne();
}

// Caller holds m_listLock.
FCacheObject* FCache::priFindEntry(const char16_t* label, int size)
{
    const auto bucket = m_byLabel.find(std::u16string_view(label));
    if (bucket == m_byLabel.end())
        return nullptr;
    for (FCacheObject* entry : bucket->second) {
        if (size == 0 || entry->m_iSize == size)
            return entry;
    }
    return nullptr;
}

// Caller holds m_listLock.
int64_t FCache::priUsedBytes()
{
    return m_iUsedBytes;
}

// Caller holds m_listLock.
void FCache::priAddEntry(FCacheObject* entry)
{
    entry->m_uSequence = m_uNextSequence++;
    entry->m_bListed = true;
    m_entries.push_back(entry);
    m_iUsedBytes += static_cast<int64_t>(entry->m_iSize) + kEntryOverhead;
    priIndexAdd(entry);
}

// Caller holds m_listLock.
std::vector<FCacheObject*>::iterator FCache::priEraseEntry(std::vector<FCacheObject*>::iterator it)
{
    FCacheObject* entry = *it;
    priIndexRemove(entry);
    priUnmarkEvictable(entry);
    entry->m_bListed = false;
    m_iUsedBytes -= static_cast<int64_t>(entry->m_iSize) + kEntryOverhead;
    return m_entries.erase(it);
}

// Caller holds m_listLock. Kept in list order, so the first match is the one a walk of
// the list would find.
void FCache::priIndexAdd(FCacheObject* entry)
{
    const FWideString& label = entry->m_label;
    auto& bucket = m_byLabel[std::u16string(label.GetBuffer(), static_cast<size_t>(label.GetLength()))];
    const auto at = std::upper_bound(
        bucket.begin(), bucket.end(), entry->m_uSequence,
        [](uint64_t sequence, const FCacheObject* other) { return sequence < other->m_uSequence; });
    bucket.insert(at, entry);
}

// Caller holds m_listLock. False when the entry is not indexed.
bool FCache::priIndexRemove(FCacheObject* entry)
{
    const FWideString& label = entry->m_label;
    const auto bucket =
        m_byLabel.find(std::u16string_view(label.GetBuffer(), static_cast<size_t>(label.GetLength())));
    if (bucket == m_byLabel.end())
        return false;
    const auto it = std::find(bucket->second.begin(), bucket->second.end(), entry);
    if (it == bucket->second.end())
        return false;
    bucket->second.erase(it);
    if (bucket->second.empty())
        m_byLabel.erase(bucket);
    return true;
}

// Caller holds m_cacheLock.
bool FCache::priTrim(int64_t target)
{
    for (;;) {
        {
            FCriticalSectionLock lock(m_listLock);
            if (priUsedBytes() <= target)
                return true;
        }
        if (!priEvictOne())
            return false;
    }
}

// Caller holds m_listLock. Lowest priority (unsigned) first, the earliest among equals;
// referenced entries and kPriorityKeep never go. -1 when none can.
int FCache::priFindEvictable()
{
    if (m_evictable.empty())
        return -1;
    const uint64_t sequence = m_evictable.begin()->first.second;
    // The list is in sequence order.
    const auto it = std::lower_bound(
        m_entries.begin(), m_entries.end(), sequence,
        [](const FCacheObject* entry, uint64_t value) { return entry->m_uSequence < value; });
    return static_cast<int>(it - m_entries.begin());
}

// Caller holds m_listLock.
void FCache::priMarkIfEvictable(FCacheObject* entry)
{
    if (entry->m_bListed && entry->m_iRefCount == 0 && entry->m_uPriority != FCacheObject::kPriorityKeep)
        m_evictable.emplace(std::make_pair(entry->m_uPriority, entry->m_uSequence), entry);
}

// Caller holds m_listLock.
void FCache::priUnmarkEvictable(FCacheObject* entry)
{
    m_evictable.erase(std::make_pair(entry->m_uPriority, entry->m_uSequence));
}

// Caller holds m_cacheLock.
bool FCache::priEvictOne()
{
    FCacheObject* victim = nullptr;
    {
        FCriticalSectionLock lock(m_listLock);
        const int index = priFindEvictable();
        if (index < 0)
            return false;
        victim = m_entries[static_cast<size_t>(index)];
        priEraseEntry(m_entries.begin() + index);
    }
    priFreeEntry(victim);
    return true;
}

// Caller holds m_cacheLock; the entry is already out of the list. Callbacks run without
// the list lock.
void FCache::priFreeEntry(FCacheObject* entry)
{
    if (entry->m_pfnFree != nullptr) {
        void* moved = entry->m_pAllocator->Relocate(entry->m_pData);
        if (moved != entry->m_pData) {
            entry->m_pData = moved;
            if (entry->m_pfnMoved != nullptr)
                entry->m_pfnMoved(entry);
        }
        entry->m_pfnFree(entry);
    }
    entry->m_pAllocator->Free(entry->m_pData);
    entry->m_pData = nullptr;
    ReleaseMemoryAllocator(entry->m_pAllocator);
    delete entry;
}

// Caller holds m_cacheLock.
void FCache::priRemoveIfUnreferenced(FCacheObject* entry)
{
    {
        FCriticalSectionLock lock(m_listLock);
        auto it = std::find(m_entries.begin(), m_entries.end(), entry);
        if (it == m_entries.end() || entry->m_iRefCount != 0)
            return;
        priEraseEntry(it);
    }
    priFreeEntry(entry);
}

// ---- the process-wide cache -----------------------------------------------------------------

namespace
{

bool EvictFromGlobalCache()
{
    return GetGlobalCache()->EvictOne();
}

// The global cache while it exists; the page store asks it for room.
struct FGlobalCache {
    FCache cache;
    FGlobalCache() { SetLargePageRoomHook(&EvictFromGlobalCache); }
    ~FGlobalCache() { SetLargePageRoomHook(nullptr); }
};

} // namespace

FCache* GetGlobalCache()
{
    static FGlobalCache global;
    return &global.cache;
}

namespace
{
// Builds the global cache before main, as callers expect.
[[maybe_unused]] FCache* const gpGlobalCacheAtStart = GetGlobalCache();
} // namespace

void CacheLowMemoryHook()
{
    GetGlobalCache()->EvictOne();
}
