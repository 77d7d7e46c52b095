#pragma once

// Helpers shared by the POSIX side of the disk storage class. Native paths
// travel as FWideString (UTF-16 with the lossless byte mapping) and become
// bytes only here.

#include "FWideString.h"

#include <memory>
#include <string>
#include <vector>

std::string NativeBytes(const FWideString& native);
FWideString NativeFromBytes(const std::string& bytes);

// folder + "/" + name, without doubling the root's slash.
std::string JoinNativeBytes(const std::string& folder, const std::string& name);
FWideString JoinNative(const FWideString& folder, const FWideString& name);

// Environment helpers: empty when unset or not an absolute path.
std::string AbsoluteEnv(const char* name);
std::string HomeFolder();
std::string ConfigHome();
std::string DataHome();

// Creates the folder and its missing parents; false when something other than a
// folder stands in the way or a creation fails.
bool MakeFolderPath(const std::string& path, unsigned mode);

struct FMountEntry {
    std::string m_mountPoint;
    std::string m_fsType;
    std::string m_source;
    unsigned m_major = 0;
    unsigned m_minor = 0;
};

// The mounts of this process, in the order the system lists them. Parsed
// once and shared until the system reports a mount change.
std::shared_ptr<const std::vector<FMountEntry>> CurrentMountTable();
std::vector<FMountEntry> ReadMountTable();
// The mount whose mount point is the longest whole-component prefix of path.
const FMountEntry* FindContainingMount(const std::vector<FMountEntry>& mounts, const std::string& path);
bool IsPathPrefix(const std::string& prefix, const std::string& path);
int DriveKindOfMount(const FMountEntry& mount);

// Volume mount paths in the volume list's order.
std::vector<std::string> DiskVolumeBytes();
// Whether path is in DiskVolumeBytes(), without building the list for a path
// that cannot be; mounts is the current mount table.
bool IsDiskVolumePath(const std::string& path, const std::vector<FMountEntry>& mounts);

// The freedesktop trash; throws FExceptionFileIO with message on failure.
void MoveNativeToTrash(const std::string& path, const char* message);

// Recursive delete that never follows a symbolic link out of the tree.
bool DeleteTree(const std::string& path);

struct FLaunchRequest;
int RunDiskLauncher(const FLaunchRequest& request);
