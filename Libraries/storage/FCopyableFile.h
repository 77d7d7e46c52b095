#pragma once

#include "FIStorageClass.h"

#include <cstdint>
#include <memory>

class FReplacingFile;

// A file that copies itself to another URL in chunks, so that a caller can
// spread a copy over time slices.
class FCopyableFile : public FIFile
{
public:
    FCopyableFile();
    FCopyableFile(const FCopyableFile&) = delete;
    FCopyableFile& operator=(const FCopyableFile&) = delete;
    ~FCopyableFile() override;

    // Opens (creating folders) the destination's folder and a temporary file in it; total
    // receives this file's size. False, with the destination untouched, when either fails
    // or this file's size cannot be learnt.
    virtual bool BeginCopy(const FWideString& destURL, int* total, int chunkSize);
    // Copies up to n bytes (at most the chunk size); returns the bytes copied, 0 at the end.
    virtual int CopyChunk(int n);
    // A complete copy replaces the destination. One short of the size found at the start is
    // thrown away, the destination kept as it was, and reported as FExceptionFileRead.
    virtual void EndCopy();

protected:
    // This file's size for a copy; false when it cannot be learnt.
    virtual bool QueryCopySize(uint64_t& size);
    // Throws away the temporary file and releases the destination; an earlier file stays.
    void AbandonCopy() noexcept;

    FIFolder* m_pDestFolder = nullptr;
    FIFile* m_pDestFile = nullptr;
    int m_iChunkSize = 0;
    std::unique_ptr<unsigned char[]> m_pChunkBuffer;
    uint64_t m_iCopySize = 0;
    uint64_t m_iCopied = 0;

private:
    void priReleaseDestination() noexcept;

    std::unique_ptr<FReplacingFile> m_pReplacing;
};

constexpr int kDefaultCopyChunkSize = 4096;
