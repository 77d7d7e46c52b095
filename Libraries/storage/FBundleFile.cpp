#include "FBundleFile.h"

#include "FBundleFileHandle.h"
#include "FException.h"
#include "StorageClassRegistry.h"

#include <algorithm>
#include <cstring>

namespace
{

// A number field: digits up to the first NUL or the end of the field. Blanks
// before the digits and a blank after them are accepted (some tar writers end
// fields with one); anything else marks a damaged archive.
bool ParseNumberField(const unsigned char* field, int width, unsigned radix, uint64_t& value)
{
    value = 0;
    int i = 0;
    while (i < width && field[i] == ' ')
        ++i;
    for (; i < width && field[i] != 0; ++i) {
        const unsigned digit = static_cast<unsigned>(field[i]) - '0';
        if (digit < radix) {
            value = value * radix + digit;
            continue;
        }
        if (field[i] != ' ')
            return false;
        for (++i; i < width && field[i] != 0; ++i) {
            if (field[i] != ' ')
                return false;
        }
        return true;
    }
    return true;
}

// Member names are 8-bit text widened byte by byte as signed values.
FWideString WidenName(const unsigned char* name, int length)
{
    FWideString wide;
    for (int i = 0; i < length; ++i)
        wide.Append(static_cast<char16_t>(static_cast<int16_t>(static_cast<signed char>(name[i]))));
    return wide;
}

FIFile* OpenContainer(const FWideString& url)
{
    try {
        return OpenFileURL(url, kFileRead);
    } catch (const FException&) {
        return nullptr;
    }
}

} // namespace

FBundleFile::FBundleFile(FBundleFileHandle* handle, const FWideString& containerURL,
                         const FWideString& memberName)
    : m_pHandle(handle), m_containerURL(containerURL)
{
    if (m_pHandle != nullptr)
        m_pHandle->AddReference();
    try {
        m_pContainer = OpenContainer(containerURL);
        if (m_pContainer != nullptr)
            m_containerSize = m_pContainer->GetSize();
        FindMember(memberName);
    } catch (...) {
        priReleaseAll();
        throw;
    }
}

FBundleFile::~FBundleFile()
{
    priReleaseAll();
}

void FBundleFile::priReleaseAll()
{
    if (m_pContainer != nullptr) {
        m_pContainer->Release();
        m_pContainer = nullptr;
    }
    ReleaseReference(m_pHandle);
}

bool FBundleFile::priLocateArchive(uint64_t& firstHeader)
{
    if (m_pContainer == nullptr || m_containerSize < kBundleTrailerSize)
        return false;
    unsigned char trailer[kBundleTrailerSize];
    m_pContainer->Seek(m_containerSize - kBundleTrailerSize);
    m_pContainer->Read(trailer, kBundleTrailerSize);
    uint64_t length = 0;
    if (!ParseNumberField(trailer + kBundleTrailerLengthOffset, kBundleTrailerLengthDigits, 10, length))
        return false;
    if (length == 0 || length > m_containerSize)
        return false;
    firstHeader = m_containerSize - length;
    return true;
}

template <class Visitor>
void FBundleFile::priWalk(Visitor&& visit)
{
    uint64_t offset = 0;
    if (!priLocateArchive(offset))
        return;
    unsigned char header[kBundleBlockSize];
    // Every step moves on by at least one block, so the walk always ends.
    while (offset < m_containerSize) {
        m_pContainer->Seek(offset);
        m_pContainer->Read(header, kBundleBlockSize);
        const void* nul = std::memchr(header + kBundleNameOffset, 0, kBundleBlockSize - kBundleNameOffset);
        if (nul == nullptr)
            return;
        const int nameLength = static_cast<int>(static_cast<const unsigned char*>(nul) - header);
        if (nameLength == 0)
            return;
        uint64_t size = 0;
        if (!ParseNumberField(header + kBundleSizeOffset, kBundleSizeDigits, 8, size))
            return;
        const uint64_t dataOffset = offset + kBundleBlockSize;
        if (visit(header, nameLength, dataOffset, size))
            return;
        // Rounded on offsets from the start of the file, not of the archive.
        offset = (dataOffset + size + kBundleBlockSize - 1) / kBundleBlockSize * kBundleBlockSize;
    }
}

bool FBundleFile::FindMember(const FWideString& name)
{
    m_dataOffset = 0;
    m_memberSize = 0;
    m_position = 0;
    bool found = false;
    priWalk([&](const unsigned char* header, int nameLength, uint64_t dataOffset, uint64_t size) {
        if (nameLength != name.GetLength() || !(WidenName(header, nameLength) == name))
            return false;
        m_dataOffset = dataOffset;
        m_memberSize = size;
        found = true;
        return true;
    });
    return found;
}

void FBundleFile::ListMembers(std::vector<FWideString>& names)
{
    priWalk([&](const unsigned char* header, int nameLength, uint64_t, uint64_t) {
        names.push_back(WidenName(header, nameLength));
        return false;
    });
}

void FBundleFile::Seek(uint64_t position)
{
    m_position = position;
}

int FBundleFile::ReadSome(void* buffer, int n)
{
    if (n <= 0 || m_pContainer == nullptr || m_position >= m_memberSize)
        return 0;
    const int count =
        static_cast<int>(std::min<uint64_t>(static_cast<uint64_t>(n), m_memberSize - m_position));
    m_pContainer->Seek(m_dataOffset + m_position);
    const int got = m_pContainer->ReadSome(buffer, count);
    if (got <= 0)
        return 0;
    m_position += static_cast<uint64_t>(got);
    return got;
}

int FBundleFile::Read(void* buffer, int n)
{
    auto* bytes = static_cast<unsigned char*>(buffer);
    int done = 0;
    while (done < n) {
        const int got = ReadSome(bytes + done, n - done);
        if (got <= 0)
            throw FExceptionEOF();
        done += got;
    }
    return done;
}

bool FBundleFile::ReadLine(FWideString& line)
{
    line.Clear();
    char c = 0;
    bool ended = false;
    while (!ended && ReadSome(&c, 1) == 1) {
        line += c;
        ended = c == '\r' || c == '\n';
    }
    if (line.IsEmpty())
        return false;
    if (c == '\r') {
        const uint64_t mark = m_position;
        char next = 0;
        if (ReadSome(&next, 1) == 1 && next == '\n')
            line += next;
        else
            m_position = mark;
    }
    return true;
}

void FBundleFile::GetInfo(FFileInfo& info)
{
    info.m_iFlags |= kFileAttrReadOnly;
}
