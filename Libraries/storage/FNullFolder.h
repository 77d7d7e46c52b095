#pragma once

#include "FIStorageClass.h"

// Base of folders that only enumerate: no files, no renaming, no deleting.
class FNullFolder : public FIFolder
{
public:
    FIFolder* OpenSubFolder(const FWideString& name, bool create) override;
    FIFile* OpenFile(const FWideString& name, int mode) override;
    void ListFiles(std::vector<FWideString>& names) override;
    void ListFolders(std::vector<FWideString>& names) override;
    // Both throw FExceptionFileIO with the message "".
    void Rename(const FWideString& oldName, const FWideString& newName) override;
    void DeleteFolder(const FWideString& url, int mode) override;
    bool DeleteFile(const FWideString& name) override;
    void SetTag(int tag) override;
    int64_t GetFreeSpace() override { return 0; }
    bool IsReadOnly() override { return false; }
};
