#pragma once

// Running loader requests in tests: an owning pointer, and runs to the end under a deadline.

#include "EngineTestSupport.h"
#include "FLoader.h"

#include <memory>

namespace loadertest
{

struct LoaderDeleter {
    void operator()(FILoader* loader) const { loader->Destroy(); }
};
using LoaderPtr = std::unique_ptr<FILoader, LoaderDeleter>;

// Ticks the loader until the request is final and let go of; false at the deadline.
inline bool WaitForLoader(FILoader& loader, FLoaderRequest& req)
{
    return TickUntil([&] { return !req.m_Async.IsInProgress() && !loader.IsHolding(req); },
                     [&] { loader.Idle(); });
}

inline bool RunLoader(FILoader& loader, FLoaderRequest& req)
{
    loader.Request(&req);
    return WaitForLoader(loader, req);
}

inline std::string ErrorText(const FAsyncStatus& status)
{
    return status.m_usErrorText.GetNarrow();
}

} // namespace loadertest
