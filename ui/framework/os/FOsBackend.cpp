#include "FOsBackend.h"

#include <atomic>

namespace
{
std::atomic<EOsBackend> g_backend{EOsBackend::kHeadless};
}

void SetOsBackend(EOsBackend backend)
{
    g_backend.store(backend);
}

EOsBackend GetOsBackend()
{
    return g_backend.load();
}
