#include "FMemoryFile.h"

#include "FException.h"
#include "FWideString.h"

#include <algorithm>
#include <cstring>

FMemoryFile::FMemoryFile(std::string bytes, bool* released) : m_bytes(std::move(bytes)), m_pReleased(released)
{
    if (m_pReleased != nullptr)
        *m_pReleased = false;
}

void FMemoryFile::Release()
{
    if (m_pReleased != nullptr)
        *m_pReleased = true;
    delete this;
}

void FMemoryFile::Seek(uint64_t position)
{
    m_position = std::min<uint64_t>(position, m_bytes.size());
}

bool FMemoryFile::ReadLine(FWideString& line)
{
    line.Clear();
    if (m_position >= m_bytes.size())
        return false;
    while (m_position < m_bytes.size()) {
        const char c = m_bytes[m_position++];
        line += c;
        if (c == '\n')
            break;
    }
    return true;
}

int FMemoryFile::Read(void* buffer, int n)
{
    if (n < 0 || m_bytes.size() - m_position < uint64_t(n))
        throw FExceptionEOF("FMemoryFile::Read");
    return ReadSome(buffer, n);
}

int FMemoryFile::ReadSome(void* buffer, int n)
{
    const uint64_t count = std::min<uint64_t>(uint64_t(std::max(n, 0)), m_bytes.size() - m_position);
    std::memcpy(buffer, m_bytes.data() + m_position, count);
    m_position += count;
    return static_cast<int>(count);
}

void FMemoryFile::Write(const void*, int)
{
    throw FExceptionFileWrite("FMemoryFile is read-only");
}

void FMemoryFile::SetSize(uint64_t)
{
    throw FExceptionFileWrite("FMemoryFile is read-only");
}

FWideString FMemoryFile::GetURL()
{
    return FWideString("memory://file");
}
