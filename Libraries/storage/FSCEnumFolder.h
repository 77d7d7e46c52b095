#pragma once

#include "FIStorageClass.h"

// The root folder of the empty URL: its sub-folders are the registered classes.
class FSCEnumFolder : public FIFolder
{
public:
    FIFolder* OpenSubFolder(const FWideString& name, bool create) override;
    FIFile* OpenFile(const FWideString& name, int mode) override;
    void ListFiles(std::vector<FWideString>& names) override;
    void ListFolders(std::vector<FWideString>& names) override;
    void Rename(const FWideString& oldName, const FWideString& newName) override;
    bool DeleteFile(const FWideString& name) override;
    void DeleteFolder(const FWideString& url, int mode) override;
    FWideString GetURL() override;
    FWideString GetNote() override;
    void SetTag(int tag) override { m_iTag = tag; }
    int64_t GetFreeSpace() override { return -1; }
    bool IsReadOnly() override { return true; }
    bool GetAttributes(int& flags) override;
    int GetDriveType() override { return kDriveUnknown; }
    bool Exists(const FWideString& name, bool* isFolder) override;

private:
    int m_iTag = 0;
};
