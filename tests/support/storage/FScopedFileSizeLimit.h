#pragma once

// Lets files of this process grow to `bytes` only, for one scope: writes past it fail as
// on a full disk (the signal such a write raises is ignored meanwhile).

#include <sys/resource.h>

class FScopedFileSizeLimit
{
public:
    explicit FScopedFileSizeLimit(rlim_t bytes);
    ~FScopedFileSizeLimit();
    FScopedFileSizeLimit(const FScopedFileSizeLimit&) = delete;
    FScopedFileSizeLimit& operator=(const FScopedFileSizeLimit&) = delete;

private:
    rlimit m_old{};
    void (*m_oldHandler)(int) = nullptr;
};
