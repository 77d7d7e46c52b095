#pragma once

// A whole file written under a temporary name in its destination's folder. The
// destination is replaced only by Commit, after everything is written and
// synced; destroyed without a successful Commit, the object removes the
// temporary file and the destination stays exactly as it was.

#include "FWideString.h"

class FIFile;
class FIFolder;

// Temporary files of a save are hidden names of this prefix, then letters and digits, then ".tmp".
inline constexpr const char* kReplacingTempPrefix = ".rbsave-";
// A name of that shape: ours, and never to be listed as a file of the folder.
bool IsReplacingTempName(const char* name);

class FReplacingFile
{
public:
    // Throws FExceptionFileOpen (with the URL) when the folder cannot be opened,
    // the destination is a folder or read-only, or no temporary file can be made.
    explicit FReplacingFile(const FWideString& url);
    // The folder is borrowed and must outlive this object.
    FReplacingFile(FIFolder* folder, const FWideString& name);
    ~FReplacingFile();
    FReplacingFile(const FReplacingFile&) = delete;
    FReplacingFile& operator=(const FReplacingFile&) = delete;

    // The temporary file; null after Commit.
    FIFile* GetFile() const { return m_pFile; }
    const FWideString& GetTempName() const { return m_tempName; }
    // Puts the file in place of the destination and closes it. Durable, the data and
    // the new name reach the disk before it returns; otherwise a new name is only
    // renamed into place, sparing the wait for the disk. Throws FExceptionFileWrite;
    // the temporary file is gone either way.
    void Commit(bool durable = true);
    bool IsCommitted() const { return m_bCommitted; }

private:
    void priOpen(const FWideString& shownName);
    void priDiscard() noexcept;

    FIFolder* m_pFolder = nullptr;
    bool m_bOwnsFolder = false;
    FWideString m_name;
    FWideString m_tempName;
    FIFile* m_pFile = nullptr;
    bool m_bCommitted = false;
};
