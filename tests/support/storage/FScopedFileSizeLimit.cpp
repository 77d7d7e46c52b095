#include "FScopedFileSizeLimit.h"

#include <csignal>

FScopedFileSizeLimit::FScopedFileSizeLimit(rlim_t bytes)
{
    getrlimit(RLIMIT_FSIZE, &m_old);
    m_oldHandler = std::signal(SIGXFSZ, SIG_IGN);
    rlimit next = m_old;
    next.rlim_cur = bytes;
    setrlimit(RLIMIT_FSIZE, &next);
}

FScopedFileSizeLimit::~FScopedFileSizeLimit()
{
    setrlimit(RLIMIT_FSIZE, &m_old);
    std::signal(SIGXFSZ, m_oldHandler);
}
