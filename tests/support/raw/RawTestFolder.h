#pragma once

// A unique temporary folder for raw files in tests, reached through the "disk"
// storage class (registered once per process); removed with its contents.

#include "ByteWriter.h"
#include "FWideString.h"

#include <string>

namespace rawtest
{

void EnsureDiskStorageClass();

// A file of the in-memory storage class "rawmem" (registered once per process),
// for tests and fuzzing that need many files fast; returns its URL.
FWideString PutMemoryFile(const std::string& name, const Bytes& bytes);

class RawTestFolder
{
public:
    RawTestFolder();
    ~RawTestFolder();
    RawTestFolder(const RawTestFolder&) = delete;
    RawTestFolder& operator=(const RawTestFolder&) = delete;

    std::string NativePath(const std::string& name) const;
    FWideString URL(const std::string& name) const;
    // The folder's own URL, with its final "/", as a folder reader takes it.
    FWideString FolderURL() const;
    // Written and read through the storage class.
    FWideString Write(const std::string& name, const Bytes& bytes) const;
    Bytes Read(const std::string& name) const;
    bool Exists(const std::string& name) const;

private:
    std::string m_path;
};

} // namespace rawtest
