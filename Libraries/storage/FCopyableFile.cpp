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

    std::vector<FWideString> pieces;
    SplitString(destURL, pieces, u"/");
    if (pieces.empty())
        return false;
    FWideString name = pieces.back();
    pieces.pop_back();
    FWideString folderURL;
    JoinStrings(pieces, folderURL, u"/");

    FWideString ignored;
    m_pDestFolder = OpenFolderURL(folderURL, ignored, true);
    if (!m_pDestFolder)
        return false;
    // URL parts are escaped; folders take native names.
    FWideString nativeName;
    UnescapeURLChars(name, nativeName);
    m_pDestFile = m_pDestFolder->OpenFile(nativeName, kFileWrite);
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
