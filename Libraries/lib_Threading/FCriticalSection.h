#pragma once

#include <mutex>

// A recursive lock for short sections inside one process.
class FCriticalSection
{
public:
    FCriticalSection();
    ~FCriticalSection();
    FCriticalSection(const FCriticalSection&) = delete;
    FCriticalSection& operator=(const FCriticalSection&) = delete;

    void Enter();
    void Leave();

private:
    std::recursive_mutex* m_pSection;
};

// Enters for a scope.
class FCriticalSectionLock
{
public:
    explicit FCriticalSectionLock(FCriticalSection& section) : m_section(section) { m_section.Enter(); }
    ~FCriticalSectionLock() { m_section.Leave(); }
    FCriticalSectionLock(const FCriticalSectionLock&) = delete;
    FCriticalSectionLock& operator=(const FCriticalSectionLock&) = delete;

private:
    FCriticalSection& m_section;
};
