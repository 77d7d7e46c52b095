#pragma once

// A file that passes every call to another one, which it owns; tests derive
// from it to count or intercept some of the calls.

#include "FIStorageClass.h"

class FDelegatingFile : public FIFile
{
public:
    explicit FDelegatingFile(FIFile* inner) : m_pInner(inner) {}
    ~FDelegatingFile() override { m_pInner->Release(); }
    FDelegatingFile(const FDelegatingFile&) = delete;
    FDelegatingFile& operator=(const FDelegatingFile&) = delete;

    void Seek(uint64_t position) override { m_pInner->Seek(position); }
    uint64_t Tell() override { return m_pInner->Tell(); }
    bool ReadLine(FWideString& line) override { return m_pInner->ReadLine(line); }
    int Read(void* buffer, int n) override { return m_pInner->Read(buffer, n); }
    int ReadSome(void* buffer, int n) override { return m_pInner->ReadSome(buffer, n); }
    void Write(const void* buffer, int n) override { m_pInner->Write(buffer, n); }
    void Flush() override { m_pInner->Flush(); }
    void SetSize(uint64_t size) override { m_pInner->SetSize(size); }
    uint64_t GetSize() override { return m_pInner->GetSize(); }
    FWideString GetURL() override { return m_pInner->GetURL(); }
    void GetInfo(FFileInfo& info) override { m_pInner->GetInfo(info); }
    void SetAttributes(const FFileInfo& info) override { m_pInner->SetAttributes(info); }

private:
    FIFile* m_pInner;
};
