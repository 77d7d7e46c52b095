#pragma once

// An in-memory storage class for tests: files and folders that come and go
// without touching the disk, with injectable read and write failures.
// Paths are URL paths (escaped parts separated by "/"); the root folder always exists.
// Files read lines as 8-bit text only (no UTF-16 byte-order marks).

#include "FIStorageClass.h"

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

struct FMemStorageState;

class FMemStorageClass : public FIStorageClass
{
public:
    explicit FMemStorageClass(const FWideString& name);
    ~FMemStorageClass() override;

    FIFile* OpenFile(const FWideString& path, int mode) override;
    FIFolder* OpenFolder(const FWideString& path, FWideString& fileName, bool create) override;
    // Answers no special path kind, so that a real class registered later still does.
    bool GetSpecialPath(int kind, FWideString& url) override;
    // Native paths are "<name>:" followed by "/" and the unescaped names.
    bool ToNativePath(const FWideString& path, FWideString& native) override;
    bool FromNativePath(const FWideString& native, FWideString& path) override;
    const char16_t* GetName() override;
    const char16_t* GetDescription() override;
    // Records the launch; a missing file throws FExceptionFileNotFound.
    void Launch(const FWideString& path, const char16_t* parameters) override;
    bool Exists(const FWideString& path, bool& isFolder) override;
    // Removes the file and records it; a missing file throws FExceptionFileIO.
    void MoveToTrash(const FWideString& path) override;

    // Test helpers. Paths as for OpenFile; missing folders are made.
    void PutFile(const FWideString& path, const std::string& bytes);
    bool GetFileBytes(const FWideString& path, std::string& bytes) const;
    void MakeFolder(const FWideString& path);
    // Reads that reach past offset throw FExceptionFileRead; -1 switches off.
    void SetReadFault(int64_t offset);
    // Writes that reach past offset throw FExceptionFileWrite; -1 switches off.
    void SetWriteFault(int64_t offset);
    // Counts Write calls from now on; the call numbered `index` (from 0) stores
    // only the first half of its bytes, as a full disk would, and throws
    // FExceptionFileWrite. -1 counts without failing.
    void SetWriteFailure(int64_t index);
    int64_t GetWriteCount() const;
    // Flush throws FExceptionFileWrite while set.
    void SetFlushFault(bool fail);
    std::vector<FWideString> GetLaunched() const;
    std::vector<FWideString> GetTrashed() const;

private:
    std::shared_ptr<FMemStorageState> m_pState;
};

// Registers a new class under name and returns it; the registry owns it.
FMemStorageClass* RegisterMemStorageClass(const FWideString& name);
