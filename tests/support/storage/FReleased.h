#pragma once

// Releases a folder or file at the end of a scope.
template <typename T>
struct Released {
    T* p;
    explicit Released(T* object) : p(object) {}
    ~Released()
    {
        if (p)
            p->Release();
    }
    Released(const Released&) = delete;
    Released& operator=(const Released&) = delete;
    T* operator->() const { return p; }
    explicit operator bool() const { return p != nullptr; }
};
