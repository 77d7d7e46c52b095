#pragma once

#include <utility>

#include "FCriticalSection.h"

// Base of objects that several owners share: a count that starts at 1, guarded by the
// object's own critical section. The last owner to drop its reference deletes the object.
class FRefCountable
{
public:
    FRefCountable() = default;
    FRefCountable(const FRefCountable&) = delete;
    FRefCountable& operator=(const FRefCountable&) = delete;
    virtual ~FRefCountable() = default;

    // One more reference.
    void AddReference();
    // One reference less; true when the caller dropped the last one and must delete the
    // object. Dropping from a count of 0 is reported and changes nothing.
    bool DropReference();
    int GetRefCount() const;

    void Enter() const { m_lock.Enter(); }
    void Leave() const { m_lock.Leave(); }

protected:
    int m_iRefCount = 1;
    mutable FCriticalSection m_lock;
};

// Drops the holder's reference, deletes the object when it was the last, and nulls the
// holder. A null holder does nothing.
template <class T>
void ReleaseReference(T*& holder)
{
    FRefCountable* object = holder;
    holder = nullptr;
    if (object != nullptr && object->DropReference())
        delete object;
}

// Holds one reference to a shared object; releases it when it goes.
template <class T>
class FRefPtr
{
public:
    FRefPtr() = default;
    // Takes over a reference the caller already owns (a new object's first one).
    explicit FRefPtr(T* adopted) : m_p(adopted) {}
    FRefPtr(const FRefPtr& other) : m_p(other.m_p)
    {
        if (m_p != nullptr)
            m_p->AddReference();
    }
    FRefPtr(FRefPtr&& other) noexcept : m_p(std::exchange(other.m_p, nullptr)) {}
    FRefPtr& operator=(FRefPtr other) noexcept
    {
        std::swap(m_p, other.m_p);
        return *this;
    }
    ~FRefPtr() { ReleaseReference(m_p); }

    T* Get() const { return m_p; }
    T* operator->() const { return m_p; }
    T& operator*() const { return *m_p; }
    explicit operator bool() const { return m_p != nullptr; }
    // Gives up the reference without dropping it.
    T* Detach() { return std::exchange(m_p, nullptr); }

private:
    T* m_p = nullptr;
};
