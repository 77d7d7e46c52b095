#include "RawTestFolder.h"

#include "FIStorageClass.h"
#include "FMemStorageClass.h"
#include "FSCDiskWin.h"
#include "StorageClassRegistry.h"

#include <cstdlib>
#include <filesystem>
#include <mutex>
#include <stdexcept>
#include <stdlib.h>
#include <vector>

namespace rawtest
{

void EnsureDiskStorageClass()
{
    static std::once_flag once;
    std::call_once(once, [] {
        for (const FStorageClassEntry& entry : GetStorageClassEntries()) {
            if (entry.m_name == "disk")
                return;
        }
        RegisterDiskStorageClass();
    });
}

FWideString PutMemoryFile(const std::string& name, const Bytes& bytes)
{
    static FMemStorageClass* storage = RegisterMemStorageClass(FWideString("rawmem"));
    const FWideString path(name.c_str());
    storage->PutFile(path, std::string(bytes.begin(), bytes.end()));
    FWideString url("rawmem://");
    url += path;
    return url;
}

RawTestFolder::RawTestFolder()
{
    EnsureDiskStorageClass();
    std::string pattern = (std::filesystem::temp_directory_path() / "rawtest-XXXXXX").string();
    if (!mkdtemp(pattern.data()))
        throw std::runtime_error("cannot make a temporary folder");
    m_path = pattern;
}

RawTestFolder::~RawTestFolder()
{
    std::error_code ignored;
    std::filesystem::remove_all(m_path, ignored);
}

std::string RawTestFolder::NativePath(const std::string& name) const
{
    return m_path + "/" + name;
}

FWideString RawTestFolder::URL(const std::string& name) const
{
    FWideString url;
    if (!NativePathToURL(FWideString(NativePath(name).c_str()), url))
        throw std::runtime_error("no URL for " + NativePath(name));
    return url;
}

FWideString RawTestFolder::FolderURL() const
{
    std::vector<FWideString> parts;
    SplitURL(URL("x"), parts);
    parts.pop_back();
    FWideString url;
    JoinURL(parts, url, true);
    return url;
}

FWideString RawTestFolder::Write(const std::string& name, const Bytes& bytes) const
{
    const FWideString url = URL(name);
    FIFile* file = OpenFileURL(url, kFileWrite);
    if (!file)
        throw std::runtime_error("cannot create " + NativePath(name));
    try {
        if (!bytes.empty())
            file->Write(bytes.data(), int(bytes.size()));
    } catch (...) {
        file->Release();
        throw;
    }
    file->Release();
    return url;
}

Bytes RawTestFolder::Read(const std::string& name) const
{
    FIFile* file = OpenFileURL(URL(name), kFileRead);
    if (!file)
        throw std::runtime_error("cannot open " + NativePath(name));
    Bytes bytes;
    try {
        bytes.resize(size_t(file->GetSize()));
        if (!bytes.empty())
            file->Read(bytes.data(), int(bytes.size()));
    } catch (...) {
        file->Release();
        throw;
    }
    file->Release();
    return bytes;
}

bool RawTestFolder::Exists(const std::string& name) const
{
    return std::filesystem::exists(NativePath(name));
}

} // namespace rawtest
