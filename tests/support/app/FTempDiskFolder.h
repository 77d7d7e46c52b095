#pragma once

// A temporary folder reached through the real "disk" storage class: tests
// hand its URLs to the application as a user's folder would be, and read back
// what the application wrote. Deleted with its contents at the end.

#include <string>

#include "FScopedTempFolder.h"
#include "FWideString.h"

class FIFolder;

class FTempDiskFolder
{
public:
    FTempDiskFolder();
    ~FTempDiskFolder();
    FTempDiskFolder(const FTempDiskFolder&) = delete;
    FTempDiskFolder& operator=(const FTempDiskFolder&) = delete;

    const std::string& GetPath() const { return m_temp.GetPath(); }
    // The folder's URL, with a final slash.
    FWideString GetUrl() const;
    // The URL of a file or folder inside ("a/b.jpg").
    FWideString GetUrl(const std::string& relative) const;

    bool WriteFile(const std::string& relative, const std::string& bytes) const;
    bool ReadFile(const std::string& relative, std::string& bytes) const;
    bool MakeFolder(const std::string& relative) const;
    bool Exists(const std::string& relative) const;
    // A folder object through the storage class; the caller releases it; null on failure.
    FIFolder* OpenFolder() const;

private:
    FScopedTempFolder m_temp;
};
