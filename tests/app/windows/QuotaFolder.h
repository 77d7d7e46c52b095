#pragma once

// Disk folders whose free space and write protection a test sets.

#include <cstdint>

#include "FIStorageClass.h"

struct FQuota {
    int64_t freeSpace = 1LL << 40;
    bool readOnly = false;
};
inline FQuota g_quota;

class FQuotaFolder : public FIFolder
{
public:
    explicit FQuotaFolder(FIFolder* inner) : m_pInner(inner) {}
    ~FQuotaFolder() override { m_pInner->Release(); }
    FIFolder* OpenSubFolder(const FWideString& n, bool c) override { return m_pInner->OpenSubFolder(n, c); }
    FIFile* OpenFile(const FWideString& n, int m) override { return m_pInner->OpenFile(n, m); }
    void ListFiles(std::vector<FWideString>& n) override { m_pInner->ListFiles(n); }
    void ListFolders(std::vector<FWideString>& n) override { m_pInner->ListFolders(n); }
    void Rename(const FWideString& a, const FWideString& b) override { m_pInner->Rename(a, b); }
    bool DeleteFile(const FWideString& n) override { return m_pInner->DeleteFile(n); }
    void DeleteFolder(const FWideString& u, int m) override { m_pInner->DeleteFolder(u, m); }
    FWideString GetURL() override { return m_pInner->GetURL(); }
    FWideString GetNote() override { return m_pInner->GetNote(); }
    void SetTag(int t) override { m_pInner->SetTag(t); }
    int64_t GetFreeSpace() override { return g_quota.freeSpace; }
    bool IsReadOnly() override { return g_quota.readOnly; }
    bool GetAttributes(int& f) override { return m_pInner->GetAttributes(f); }
    int GetDriveType() override { return kDriveFixed; }
    bool Exists(const FWideString& n, bool* f) override { return m_pInner->Exists(n, f); }

private:
    FIFolder* m_pInner;
};
