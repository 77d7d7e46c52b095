#pragma once

#include "FCopyableFile.h"

#include <cstdint>
#include <vector>

class FBundleFileHandle;

// Layout of the archive: 512-byte tar headers, each followed by its data padded
// to the next multiple of 512 counted from the start of the file, ended by a
// header with an empty name; the file ends with a 14-byte trailer whose last
// ten bytes give the archive's length in decimal.
constexpr int kBundleBlockSize = 512;
constexpr int kBundleTrailerSize = 14;
constexpr int kBundleTrailerLengthOffset = 4;
constexpr int kBundleTrailerLengthDigits = 10;
constexpr int kBundleNameOffset = 0;
constexpr int kBundleNameSize = 100;
constexpr int kBundleSizeOffset = 124;
constexpr int kBundleSizeDigits = 12;

// One member of an archive, read-only. The member has no URL of its own.
class FBundleFile : public FCopyableFile
{
public:
    // Opens the container anew and takes one reference on the handle; the
    // member is looked up at once (FExceptionEOF passes out of a cut archive).
    FBundleFile(FBundleFileHandle* handle, const FWideString& containerURL, const FWideString& memberName);
    ~FBundleFile() override;

    // Case-sensitive lookup of the member by its narrow name.
    bool FindMember(const FWideString& name);
    // Appends every member's name in archive order; the file's own member is kept.
    void ListMembers(std::vector<FWideString>& names);
    // True when the constructor's lookup found the member.
    bool HasMember() const { return m_dataOffset != 0; }

    void Seek(uint64_t position) override;
    uint64_t Tell() override { return m_position; }
    bool ReadLine(FWideString& line) override;
    int Read(void* buffer, int n) override;
    int ReadSome(void* buffer, int n) override;
    void Write(const void*, int) override {}
    void Flush() override {}
    void SetSize(uint64_t) override {}
    uint64_t GetSize() override { return m_memberSize; }
    FWideString GetURL() override { return m_containerURL; }
    void GetInfo(FFileInfo& info) override;
    void SetAttributes(const FFileInfo&) override {}

private:
    // File offset of the archive's first header; false when the container holds none.
    bool priLocateArchive(uint64_t& firstHeader);
    // Walks the headers; the visitor returns true to stop the walk.
    template <class Visitor>
    void priWalk(Visitor&& visit);
    void priReleaseAll();

    FIFile* m_pContainer = nullptr;
    uint64_t m_containerSize = 0;
    uint64_t m_dataOffset = 0;
    uint64_t m_memberSize = 0;
    uint64_t m_position = 0;
    FBundleFileHandle* m_pHandle = nullptr;
    FWideString m_containerURL;
};
