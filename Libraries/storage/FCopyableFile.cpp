#include "FCopyableFile.h"

#include "FException.h"
#include "StorageClassRegistry.h"

#include <algorithm>
#include <climits>

FCopyableFile::~FCopyableFile()
{
    priReleaseDestination();
}

void FCopyableFile::priReleaseDestination()
{
    if (m_pDestFile) {
        m_pDestFile->Release();
        m_pDestFile = nullptr;
    }
    if (m_pDestFolder) {
        m_pDestFolder->Release();
        m_pDestFolder = nullptr;
    }
}

bool FCopyableFile::BeginCopy(const FWideString& destURL, int* total, int chunkSize)
{
    if (total)
        *total = 0;
    if (m_pDestFile)
        throw FException("Copy in Progress!");
    // A folder kept by an earlier failed attempt is not leaked.
    priReleaseDestination();

    // Cut as DeleteFileURL does, so that a file at the top of a class still has a folder.
    std::vector<FWideString> parts;
    SplitURL(destURL, parts);
    if (parts.size() < 2)
        return false;
    FWideString name;
    UnescapeURLChars(parts.back(), name);
    parts.pop_back();
    FWideString folderURL;
    JoinURL(parts, folderURL, true);

    FWideString fileInTheWay;
    m_pDestFolder = OpenFolderURL(folderURL, fileInTheWay, true);
    if (!m_pDestFolder)
        return false;
    // The folder path names a file: writing beside it would put the copy elsewhere.
    if (!fileInTheWay.IsEmpty())
        return false;
    m_pDestFile = m_pDestFolder->OpenFile(name, kFileWrite);
    if (!m_pDestFile)
        return false;

    if (total) {
        uint64_t size = GetSize();
        *total = size > static_cast<uint64_t>(INT_MAX) ? INT_MAX : static_cast<int>(size);
    }
    m_iChunkSize = chunkSize > 0 ? chunkSize : kDefaultCopyChunkSize;
    m_pChunkBuffer = std::make_unique<unsigned char[]>(m_iChunkSize);
    return true;
}

int FCopyableFile::CopyChunk(int n)
{
    if (!m_pDestFile)
        throw FException("Destination file not opened!");
    // The buffer holds one chunk; a larger request is cut to it.
    n = std::clamp(n, 0, m_iChunkSize);
    int got = ReadSome(m_pChunkBuffer.get(), n);
    if (got > 0)
        m_pDestFile->Write(m_pChunkBuffer.get(), got);
    return got;
}

void FCopyableFile::EndCopy()
{
    if (!m_pDestFile)
        throw FException("Destination file not opened!");
    priReleaseDestination();
    m_pChunkBuffer.reset();
    m_iChunkSize = 0;
}
