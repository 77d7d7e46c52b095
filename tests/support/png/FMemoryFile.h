#pragma once

#include "FIStorageClass.h"

#include <string>

// A read-only file over bytes in memory that reports its release, so that tests can check
// who releases a file and when.
class FMemoryFile : public FIFile
{
public:
    // `released`, when given, is set when the file is released.
    explicit FMemoryFile(std::string bytes, bool* released = nullptr);

    void Release() override;
    void Seek(uint64_t position) override;
    uint64_t Tell() override { return m_position; }
    bool ReadLine(FWideString& line) override;
    int Read(void* buffer, int n) override;
    int ReadSome(void* buffer, int n) override;
    void Write(const void* buffer, int n) override;
    void Flush() override {}
    void SetSize(uint64_t size) override;
    uint64_t GetSize() override { return m_bytes.size(); }
    FWideString GetURL() override;
    void GetInfo(FFileInfo& info) override { info = FFileInfo(); }
    void SetAttributes(const FFileInfo&) override {}

private:
    std::string m_bytes;
    uint64_t m_position = 0;
    bool* m_pReleased;
};
