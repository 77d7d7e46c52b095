#pragma once

// The "disk" storage class: local volumes and mounted network shares.
// URL paths begin with a volume token (the volume's mount path, escaped as a
// URL part: "/" is "%002F") or with "Network".

#include "FIStorageClass.h"

#include <functional>
#include <string>
#include <vector>

class FSCDiskWin : public FIStorageClass
{
public:
    explicit FSCDiskWin(const FWideString& name);

    FIFile* OpenFile(const FWideString& path, int mode) override;
    FIFolder* OpenFolder(const FWideString& path, FWideString& fileName, bool create) override;
    bool GetSpecialPath(int kind, FWideString& url) override;
    bool ToNativePath(const FWideString& path, FWideString& native) override;
    bool FromNativePath(const FWideString& native, FWideString& path) override;
    const char16_t* GetName() override { return m_name.GetBuffer(); }
    const char16_t* GetDescription() override;
    void Launch(const FWideString& path, const char16_t* parameters) override;
    bool Exists(const FWideString& path, bool& isFolder) override;
    void MoveToTrash(const FWideString& path) override;

    // Native path to escaped URL parts (without the scheme).
    static void SplitNativePath(const FWideString& native, std::vector<FWideString>& parts);
    static bool NativePathExists(const FWideString& native, bool* isFolder);

private:
    bool priCreateFolderPath(const FWideString& native);

    FWideString m_name;
};

// Registers a new FSCDiskWin under "disk".
void RegisterDiskStorageClass();

// A folder object of the disk class on a native path (used by the network folders).
FIFolder* CreateDiskFolder(const FWideString& className, const FWideString& nativePath);

// The mount paths that serve as volume tokens, in the volume list's order.
std::vector<FWideString> GetDiskVolumes();

// Launching goes through a replaceable launcher so that tests record instead of spawning.
// argv[0] is the program; the result is its exit status (0 success; 2 not found; 3 or 4
// no program for the file; -1 could not be started; anything else a failure).
struct FLaunchRequest {
    std::vector<std::string> m_argv;
    std::string m_workingFolder;
    // An opener is waited for (a bounded time) to learn its result; a program started
    // directly is not, and 0 means it was started.
    bool m_bWaitForResult = false;
};
using FDiskLauncher = std::function<int(const FLaunchRequest&)>;
// An empty launcher restores the system's one.
void SetDiskLauncher(FDiskLauncher launcher);
