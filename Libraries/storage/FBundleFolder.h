#pragma once

#include "FIStorageClass.h"

class FBundleFileHandle;

// An archive (appended to an executable or stored as a file of its own) seen
// as a read-only folder whose files are the archive's members. Members in
// sub-directories are found by their full names ("skins/button.png") here, or
// by their last name in a folder opened with OpenSubFolder.
class FBundleFolder : public FIFolder
{
public:
    // A container that cannot be opened still gives a folder, one without members.
    explicit FBundleFolder(const FWideString& containerURL);
    FBundleFolder(const FBundleFolder&) = delete;
    FBundleFolder& operator=(const FBundleFolder&) = delete;
    ~FBundleFolder() override;

    FIFolder* OpenSubFolder(const FWideString& name, bool create) override;
    // Members are always read-only; the mode is not used.
    FIFile* OpenFile(const FWideString& name, int mode) override;
    void ListFiles(std::vector<FWideString>& names) override;
    void ListFolders(std::vector<FWideString>&) override {}
    void Rename(const FWideString&, const FWideString&) override {}
    bool DeleteFile(const FWideString&) override { return false; }
    void DeleteFolder(const FWideString&, int) override {}
    FWideString GetURL() override { return m_containerURL; }
    FWideString GetNote() override { return FWideString(); }
    void SetTag(int) override {}
    int64_t GetFreeSpace() override { return 0; }
    bool IsReadOnly() override { return true; }
    bool GetAttributes(int& flags) override;
    int GetDriveType() override { return kDriveUnknown; }
    bool Exists(const FWideString& name, bool* isFolder) override;

private:
    // A sub-folder sharing the handle (takes one reference).
    FBundleFolder(FBundleFileHandle* handle, const FWideString& containerURL, const FWideString& subPath);
    FWideString priMemberName(const FWideString& name) const;

    FBundleFileHandle* m_pHandle = nullptr;
    FWideString m_containerURL;
    FWideString m_subPath;
};
