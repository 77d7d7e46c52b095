#pragma once

// The image-processing pool of a window manager: the one given (tests, fakes),
// or the process pool, which alone is given back at the end.

#include "FIPManager.h"

class FUiPoolHolder
{
public:
    explicit FUiPoolHolder(FIPManager* given)
    {
        if (given) {
            m_pPool = given;
        } else {
            m_pPool = GetIPManagerPool();
            m_bHolds = m_pPool != nullptr;
        }
    }
    ~FUiPoolHolder()
    {
        if (m_bHolds)
            ReleaseIPManager(&m_pPool);
    }
    FUiPoolHolder(const FUiPoolHolder&) = delete;
    FUiPoolHolder& operator=(const FUiPoolHolder&) = delete;

    FIPManager* Get() const { return m_pPool; }

private:
    FIPManager* m_pPool = nullptr;
    bool m_bHolds = false;
};
