#include "CamFileDevice.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <sys/types.h>

namespace
{

constexpr uint32_t kOffsetMask = 0x0FFFFFFF;
constexpr size_t kFillPiece = 1024;

struct SpaceMap {
    uint32_t m_space;
    uint32_t m_limit; // offsets below this map
    uint64_t m_base;
};

constexpr SpaceMap kSpaces[] = {
    {0x0006, 0x400, 0x0},       {0x1000, 0x400, 0x400},       {0x1001, 0x1000000, 0x800},
    {0x1006, 0x400, 0x1000800}, {0x1007, 0x400, 0x1001000},   {0x1009, 0x10000, 0x1001400},
    {0x1FFF, 0x400, 0x1011400}, {0xFFFF, 0x20000, 0x1011800},
};

uint64_t FileLength(FILE* file)
{
    if (fseeko(file, 0, SEEK_END) != 0)
        return 0;
    const off_t end = ftello(file);
    return end < 0 ? 0 : static_cast<uint64_t>(end);
}

// Fills with spaces up to position, as a camera image is blank there.
bool ExtendTo(FILE* file, uint64_t position)
{
    uint64_t length = FileLength(file);
    if (length >= position)
        return true;
    char spaces[kFillPiece];
    std::memset(spaces, ' ', sizeof spaces);
    while (length < position) {
        const size_t piece = static_cast<size_t>(std::min<uint64_t>(kFillPiece, position - length));
        if (fwrite(spaces, 1, piece, file) != piece)
            return false;
        length += piece;
    }
    return true;
}

bool Transfer(FILE* file, uint32_t offset, uint32_t space, void* buffer, const void* data, uint32_t count)
{
    uint64_t position = 0;
    if (!file || !FileDevOffset(offset, space, position))
        return false;
    // A read extends to its end too, so that it never hands back unset bytes.
    ExtendTo(file, data ? position : position + count);
    if (fseeko(file, static_cast<off_t>(position), SEEK_SET) != 0)
        return true;
    if (data)
        fwrite(data, 1, count, file);
    else
        fread(buffer, 1, count, file);
    fflush(file);
    return true;
}

class FileTransport : public CamTransportOps
{
public:
    void* Open(const std::string& path) override
    {
        FILE* file = fopen(path.c_str(), "rb");
        if (file) {
            fclose(file);
            file = fopen(path.c_str(), "r+b");
        } else {
            file = fopen(path.c_str(), "w+b");
        }
        if (!file)
            return nullptr;
        if (!Transfer(file, kCamProbeOffset, kCamSpaceConfig, nullptr, kCamProbeBytes, 4)) {
            fclose(file);
            return nullptr;
        }
        return file;
    }
    void Close(void* handle) override
    {
        if (handle)
            fclose(static_cast<FILE*>(handle));
    }
    bool Read(void* handle, uint32_t offset, uint32_t space, void* buffer, uint32_t count) override
    {
        return Transfer(static_cast<FILE*>(handle), offset, space, buffer, nullptr, count);
    }
    bool Write(void* handle, uint32_t offset, uint32_t space, const void* data, uint32_t count) override
    {
        return Transfer(static_cast<FILE*>(handle), offset, space, nullptr, data, count);
    }
};

} // namespace

int FileDevCount()
{
    return 0;
}

bool FileDevNameAt(int, std::string&)
{
    return false;
}

bool FileDevOffset(uint32_t offset, uint32_t space, uint64_t& position)
{
    offset &= kOffsetMask;
    for (const SpaceMap& map : kSpaces) {
        if (map.m_space == space) {
            if (offset >= map.m_limit)
                return false;
            position = map.m_base + offset;
            return true;
        }
    }
    return false;
}

CamTransportOps& CamFileTransportOps()
{
    static FileTransport transport;
    return transport;
}
