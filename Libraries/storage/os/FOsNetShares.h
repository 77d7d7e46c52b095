#pragma once

// How mounted network file systems are read as servers and shares.

#include "FDiskOs.h"

#include <string>

struct FMountedShare {
    std::string m_server;
    std::string m_share;
    std::string m_localPath;
};

// A mount of a network file system (cifs "//server/share", nfs "server:/export",
// sshfs "user@host:path") as server and share; false for any other mount.
bool ParseNetworkMount(const FMountEntry& mount, FMountedShare& share);
// A gvfs mount name such as "smb-share:server=srv,share=pub,user=u".
bool ParseGvfsMountName(const std::string& name, FMountedShare& share);
