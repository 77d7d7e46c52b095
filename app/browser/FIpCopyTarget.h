#pragma once

// The destination of a bridge copy: a temporary file with a unique name in the destination's
// folder, put in the destination's place only once complete. Destroyed without a successful
// Commit, it removes the temporary file and the destination stays exactly as it was.

#include "FWideString.h"

class FIFile;
class FIFolder;

class FIpCopyTarget
{
public:
    // Throws FExceptionFileOpen when the folder cannot be opened, the destination is a folder
    // or read-only, or no temporary file can be made there.
    explicit FIpCopyTarget(const FWideString& url);
    ~FIpCopyTarget();
    FIpCopyTarget(const FIpCopyTarget&) = delete;
    FIpCopyTarget& operator=(const FIpCopyTarget&) = delete;

    // The temporary file; null after Commit.
    FIFile* GetFile() const { return m_pFile; }
    const FWideString& GetTempName() const { return m_tempName; }
    // Closes the file and puts it in place. With `durable` the data and the new name reach
    // the disk before it returns; without, a new name is only renamed into place, which
    // spares the wait for the disk. Throws FExceptionFileWrite; the temporary file is gone
    // either way.
    void Commit(bool durable);

private:
    void priDiscard() noexcept;

    FIFolder* m_pFolder = nullptr;
    FWideString m_name;
    FWideString m_tempName;
    FIFile* m_pFile = nullptr;
};
