#include "FCriticalSection.h"

FCriticalSection::FCriticalSection() : m_pSection(new std::recursive_mutex) {}

FCriticalSection::~FCriticalSection()
{
    delete m_pSection;
}

void FCriticalSection::Enter()
{
    m_pSection->lock();
}

void FCriticalSection::Leave()
{
    m_pSection->unlock();
}
