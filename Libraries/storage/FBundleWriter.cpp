#include "FBundleWriter.h"

#include "FBundleFile.h"

#include <cstring>

namespace
{

constexpr int kModeOffset = 100;
constexpr int kUidOffset = 108;
constexpr int kGidOffset = 116;
constexpr int kTimeOffset = 136;
constexpr int kChecksumOffset = 148;
constexpr int kChecksumSize = 8;
constexpr int kTypeOffset = 156;
constexpr int kMagicOffset = 257;

// Right-aligned zero-padded octal digits followed by a NUL, filling `width` bytes.
void PutOctal(unsigned char* field, int width, uint64_t value)
{
    field[width - 1] = 0;
    for (int i = width - 2; i >= 0; --i) {
        field[i] = static_cast<unsigned char>('0' + (value & 7));
        value >>= 3;
    }
}

void PutText(unsigned char* field, const char* text)
{
    std::memcpy(field, text, std::strlen(text));
}

} // namespace

bool FBundleWriter::CheckMember(const std::string& name, uint64_t size, std::string* reason)
{
    const char* problem = nullptr;
    if (name.empty())
        problem = "empty member name";
    else if (name.size() > kMaxNameLength)
        problem = "member name longer than 99 bytes";
    else if (name.find('\0') != std::string::npos)
        problem = "member name holds a NUL byte";
    else if (size > kMaxMemberSize)
        problem = "member of 8 GiB or more";
    if (problem == nullptr)
        return true;
    if (reason != nullptr)
        *reason = problem;
    return false;
}

void FBundleWriter::MakeHeader(const std::string& name, uint64_t size, unsigned char* header)
{
    std::memset(header, 0, kBundleBlockSize);
    std::memcpy(header + kBundleNameOffset, name.data(), name.size());
    PutOctal(header + kModeOffset, 8, 0644);
    PutOctal(header + kUidOffset, 8, 0);
    PutOctal(header + kGidOffset, 8, 0);
    PutOctal(header + kBundleSizeOffset, kBundleSizeDigits, size);
    // A fixed time keeps archives of the same files identical.
    PutOctal(header + kTimeOffset, 12, 0);
    header[kTypeOffset] = '0';
    PutText(header + kMagicOffset, "ustar");
    PutText(header + kMagicOffset + 6, "00");
    std::memset(header + kChecksumOffset, ' ', kChecksumSize);
    unsigned sum = 0;
    for (int i = 0; i < kBundleBlockSize; ++i)
        sum += header[i];
    PutOctal(header + kChecksumOffset, 7, sum);
    header[kChecksumOffset + 7] = ' ';
}

void FBundleWriter::MakeTrailer(uint64_t archiveLength, unsigned char* trailer)
{
    std::memset(trailer, 0, kBundleTrailerLengthOffset);
    for (int i = kBundleTrailerSize - 1; i >= kBundleTrailerLengthOffset; --i) {
        trailer[i] = static_cast<unsigned char>('0' + archiveLength % 10);
        archiveLength /= 10;
    }
}

uint64_t FBundleWriter::PaddingAfter(uint64_t offset)
{
    return (kBundleBlockSize - offset % kBundleBlockSize) % kBundleBlockSize;
}

bool FBundleWriter::AddMember(const std::string& name, std::vector<unsigned char> data, std::string* reason)
{
    if (!CheckMember(name, data.size(), reason))
        return false;
    m_members.push_back(Member{name, std::move(data)});
    return true;
}

bool FBundleWriter::AppendTo(std::vector<unsigned char>& file) const
{
    uint64_t length = kBundleBlockSize + kBundleTrailerSize;
    for (const Member& member : m_members)
        length += kBundleBlockSize + member.m_data.size() + PaddingAfter(member.m_data.size());
    if (length > kMaxArchiveLength)
        return false;
    file.resize(file.size() + PaddingAfter(file.size()), 0);
    unsigned char block[kBundleBlockSize];
    for (const Member& member : m_members) {
        MakeHeader(member.m_name, member.m_data.size(), block);
        file.insert(file.end(), block, block + kBundleBlockSize);
        file.insert(file.end(), member.m_data.begin(), member.m_data.end());
        file.resize(file.size() + PaddingAfter(file.size()), 0);
    }
    std::memset(block, 0, kBundleBlockSize);
    file.insert(file.end(), block, block + kBundleBlockSize);
    unsigned char trailer[kBundleTrailerSize];
    MakeTrailer(length, trailer);
    file.insert(file.end(), trailer, trailer + kBundleTrailerSize);
    return true;
}
