#pragma once

#include "FIStorageClass.h"
#include "FNullFolder.h"

// A folder of a local or mounted disk.
class FSCFolderWin : public FIFolder
{
public:
    FSCFolderWin(const FWideString& className, const FWideString& nativePath);

    FIFolder* OpenSubFolder(const FWideString& name, bool create) override;
    FIFile* OpenFile(const FWideString& name, int mode) override;
    void ListFiles(std::vector<FWideString>& names) override;
    void ListFolders(std::vector<FWideString>& names) override;
    void Rename(const FWideString& oldName, const FWideString& newName) override;
    bool DeleteFile(const FWideString& name) override;
    void DeleteFolder(const FWideString& url, int mode) override;
    FWideString GetURL() override;
    FWideString GetNote() override { return FWideString(); }
    void SetTag(int tag) override { m_iTag = tag; }
    int64_t GetFreeSpace() override;
    bool IsReadOnly() override;
    bool GetAttributes(int& flags) override;
    int GetDriveType() override;
    bool Exists(const FWideString& name, bool* isFolder) override;
    FIFile* CreateTempFile(const FWideString& prefix, FWideString& name) override;
    void ReplaceFile(const FWideString& from, const FWideString& to) override;
    bool ResolveLink(const FWideString& name, FWideString& targetURL) override;

private:
    void priList(std::vector<FWideString>& names, bool folders);

    int m_iTag = 0;
    FWideString m_className;
    FWideString m_nativePath;
};

// The volume list at the root of the disk class.
class FSCVolEnumFolderWin : public FNullFolder
{
public:
    explicit FSCVolEnumFolderWin(const FWideString& className);

    void ListFolders(std::vector<FWideString>& names) override;
    FIFolder* OpenSubFolder(const FWideString& name, bool create) override;
    FWideString GetURL() override { return m_className; }
    FWideString GetNote() override { return FWideString(); }
    void SetTag(int tag) override { m_iTag = tag; }
    int64_t GetFreeSpace() override { return -1; }
    bool IsReadOnly() override { return true; }
    bool GetAttributes(int& flags) override;
    int GetDriveType() override { return kDriveUnknown; }
    bool Exists(const FWideString& name, bool* isFolder) override;

private:
    FWideString m_className;
    int m_iTag = 0;
};
