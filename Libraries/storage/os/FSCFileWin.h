#pragma once

#include "FCopyableFile.h"

#include <atomic>
#include <memory>

// An open file of the disk class.
class FSCFileWin : public FCopyableFile
{
public:
    // Throws FExceptionFileOpen ("") when the file cannot be opened as a regular file.
    // createNew: the file must not exist yet (no link is followed to make it); it stays
    // locked while open.
    FSCFileWin(const FWideString& className, const FWideString& nativePath, int mode, bool createNew = false);
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

    [[noreturn]] void priThrowWrite(const char* operation);
    bool priNextLineByte(uint64_t& position, unsigned char& byte);
    bool priNextLineUnit(uint64_t& position, char16_t& unit);

    FWideString m_className;
    FWideString m_nativePath;
    int m_hFile = -1;
    int m_iTextMode = kTextBytes;
    // Reads and writes go to explicit positions (pread/pwrite), so the position
    // needs no system call to move or tell.
    uint64_t m_iPosition = 0;
    // Read-ahead for ReadLine only. Any write to the file through this process
    // drops it: the count of writes is shared by every object open on the file.
    std::unique_ptr<unsigned char[]> m_pLineCache;
    uint64_t m_iCacheStart = 0;
    size_t m_iCacheLength = 0;
    std::shared_ptr<std::atomic<uint64_t>> m_pWrites;
    uint64_t m_iCacheWrites = 0;
};
