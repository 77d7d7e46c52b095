#pragma once

#include "FCopyableFile.h"

// An open file of the disk class.
class FSCFileWin : public FCopyableFile
{
public:
    // Throws FExceptionFileOpen ("") when the file cannot be opened as a regular file.
    FSCFileWin(const FWideString& className, const FWideString& nativePath, int mode);
    ~FSCFileWin() override;

    void Seek(uint64_t position) override;
    uint64_t Tell() override;
    bool ReadLine(FWideString& line) override;
    int Read(void* buffer, int n) override;
    int ReadSome(void* buffer, int n) override;
    void Write(const void* buffer, int n) override;
    void Flush() override;
    void SetSize(uint64_t size) override;
    uint64_t GetSize() override;
    FWideString GetURL() override;
    void GetInfo(FFileInfo& info) override;
    void SetAttributes(const FFileInfo& info) override;

private:
    // Line reading modes: bytes, UTF-16 big-endian, UTF-16 little-endian.
    enum { kTextBytes = 0, kTextUtf16BE = 1, kTextUtf16LE = 2 };

    bool priReadUnit(char16_t& unit);
    [[noreturn]] void priThrowWrite(const char* operation);

    FWideString m_className;
    FWideString m_nativePath;
    int m_hFile = -1;
    int m_iTextMode = kTextBytes;
};
