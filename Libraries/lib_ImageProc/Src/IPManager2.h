#pragma once

#include "FIPManager.h"

// The working manager. It answers the requests that need no file at once; the kinds that
// run on the stage machine are refused as unsupported until that machine is in place.
class IPManager2 : public FIPManager
{
public:
    IPManager2() = default;
    ~IPManager2() override = default;
    IPManager2(const IPManager2&) = delete;
    IPManager2& operator=(const IPManager2&) = delete;

    bool IsBusy() override;
    void Idle() override;
    void Request(FIPManagerRequest* request) override;

private:
    FIPManagerRequest* m_pCurrentRequest = nullptr;
};
