#pragma once

#include "FIStorageClass.h"

#include <memory>

// A file that copies itself to another URL in chunks, so that a caller can
// spread a copy over time slices.
class FCopyableFile : public FIFile
{
public:
    FCopyableFile() = default;
    FCopyableFile(const FCopyableFile&) = delete;
    FCopyableFile& operator=(const FCopyableFile&) = delete;
    ~FCopyableFile() override;

    // Opens (creating folders and truncating) the destination; total receives this file's size.
    virtual bool BeginCopy(const FWideString& destURL, int* total, int chunkSize);
    // Copies up to n bytes (at most the chunk size); returns the bytes copied, 0 at the end.
    virtual int CopyChunk(int n);
    virtual void EndCopy();

protected:
    FIFolder* m_pDestFolder = nullptr;
    FIFile* m_pDestFile = nullptr;
    int m_iChunkSize = 0;
    std::unique_ptr<unsigned char[]> m_pChunkBuffer;

private:
    void priReleaseDestination();
};

constexpr int kDefaultCopyChunkSize = 4096;
