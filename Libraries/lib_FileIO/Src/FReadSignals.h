#pragma once

// The progress and cancel fields a caller hands a reader are shared with another thread:
// the caller's user-interface thread reads the progress and sets the cancel byte while the
// reader works on a loader thread. Both are therefore accessed atomically here, whatever
// the caller declared them as. Relaxed order is enough: neither carries other data.

#include <atomic>

static_assert(std::atomic_ref<double>::required_alignment <= alignof(double));
static_assert(std::atomic_ref<char>::required_alignment <= alignof(char));

// Stores the fraction done; `progress` may be null.
inline void StoreReadProgress(double* progress, double value)
{
    if (progress != nullptr)
        std::atomic_ref<double>(*progress).store(value, std::memory_order_relaxed);
}

// True once the caller asked to stop; `cancel` may be null.
inline bool ReadCancelled(const char* cancel)
{
    // atomic_ref needs a mutable object; the byte is only loaded.
    return cancel != nullptr &&
           std::atomic_ref<char>(*const_cast<char*>(cancel)).load(std::memory_order_relaxed) != 0;
}
