#include "FCopyableFile.h"

#include "FException.h"
#include "FNarrowString.h"
#include "FReplacingFile.h"
#include "StorageClassRegistry.h"

#include <algorithm>
#include <climits>

FCopyableFile::FCopyableFile() = default;

FCopyableFile::~FCopyableFile()
{
    priReleaseDestination();
}

void FCopyableFile::priReleaseDestination() noexcept
{
    // The temporary file belongs to the replacing file, which removes it unless committed.
    m_pDestFile = nullptr;
    m_pReplacing.reset();
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
    // Without a size the end of the copy cannot be told from a failure.
    uint64_t size = 0;
    if (!QueryCopySize(size))
        return false;
    // Written aside and put in place only when complete, so that a failed copy never
    // costs an earlier file of the same name.
    try {
        m_pReplacing = std::make_unique<FReplacingFile>(m_pDestFolder, name);
    } catch (const FException&) {
        return false;
    }
    m_pDestFile = m_pReplacing->GetFile();
    // The whole file is copied, wherever an earlier read or attempt left off.
    Seek(0);
    m_iCopySize = size;
    m_iCopied = 0;

    if (total)
        *total = size > static_cast<uint64_t>(INT_MAX) ? INT_MAX : static_cast<int>(size);
    m_iChunkSize = chunkSize > 0 ? chunkSize : kDefaultCopyChunkSize;
    m_pChunkBuffer = std::make_unique<unsigned char[]>(m_iChunkSize);
    return true;
}

bool FCopyableFile::QueryCopySize(uint64_t& size)
{
    size = GetSize();
    return true;
}

void FCopyableFile::AbandonCopy() noexcept
{
    priReleaseDestination();
    m_pChunkBuffer.reset();
    m_iChunkSize = 0;
}

int FCopyableFile::CopyChunk(int n)
{
    if (!m_pDestFile)
        throw FException("Destination file not opened!");
    // The buffer holds one chunk; a larger request is cut to it.
    n = std::clamp(n, 0, m_iChunkSize);
    int got = ReadSome(m_pChunkBuffer.get(), n);
    if (got > 0) {
        m_pDestFile->Write(m_pChunkBuffer.get(), got);
        m_iCopied += static_cast<uint64_t>(got);
    }
    return got;
}

void FCopyableFile::EndCopy()
{
    if (!m_pDestFile)
        throw FException("Destination file not opened!");
    if (m_iCopied != m_iCopySize) {
        const FNarrowString message("The copy stopped after %llu of %llu bytes; the earlier file was kept.",
                                    static_cast<unsigned long long>(m_iCopied),
                                    static_cast<unsigned long long>(m_iCopySize));
        AbandonCopy();
        throw FExceptionFileRead(message.GetCString());
    }
    try {
        m_pDestFile = nullptr;
        m_pReplacing->Commit();
    } catch (...) {
        AbandonCopy();
        throw;
    }
    AbandonCopy();
}
