#pragma once

// A storage class for tests that reaches the files of another URL prefix (for example an
// in-memory class or a disk folder) and can hold their reads: each read first waits for a
// set delay and then, while the latch is closed, until it opens. Loader timing can so be
// steered without touching production code. Only files opened through this class are
// held; folders are handed out as the target's own.

#include <chrono>
#include <memory>

#include "FIStorageClass.h"

struct FLatchState;

class FLatchStorageClass : public FIStorageClass
{
public:
    FLatchStorageClass(const FWideString& name, const FWideString& targetPrefix);
    ~FLatchStorageClass() override;

    FIFile* OpenFile(const FWideString& path, int mode) override;
    FIFolder* OpenFolder(const FWideString& path, FWideString& fileName, bool create) override;
    bool GetSpecialPath(int kind, FWideString& url) override;
    bool ToNativePath(const FWideString& path, FWideString& native) override;
    bool FromNativePath(const FWideString& native, FWideString& path) override;
    const char16_t* GetName() override;
    const char16_t* GetDescription() override;
    void Launch(const FWideString& path, const char16_t* parameters) override;
    bool Exists(const FWideString& path, bool& isFolder) override;
    void MoveToTrash(const FWideString& path) override;

    // Paths of this class are appended to the prefix, e.g. "mem://" or "disk:///tmp/x/".
    void SetTarget(const FWideString& targetPrefix);
    void SetReadDelay(std::chrono::milliseconds delay);
    // While closed, every read waits at the latch.
    void CloseLatch();
    void OpenLatch();
    // Reads waiting at the latch now.
    int GetWaitingReads() const;
    // Waits until at least n reads wait at the latch; false at the deadline.
    bool WaitForWaitingReads(int n, std::chrono::milliseconds deadline) const;
    int64_t GetReadCount() const;
    // Open latch, no delay, counts zero.
    void ResetControls();

    // A held read never waits longer than this, so a forgotten latch cannot hang a test.
    static constexpr std::chrono::seconds kLatchLimit{30};

private:
    std::shared_ptr<FLatchState> m_pState;
};

// The process's latch class, registered under "latch" on first use (the registry cannot
// remove a class, so there is one for all tests).
FLatchStorageClass& GetLatchStorageClass();
