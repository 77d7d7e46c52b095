#pragma once

// The seam between the network folders and the system's view of the network.
// Codes follow the network-enumeration interface the folders were designed on.

#include "FWideString.h"

#include <memory>
#include <vector>

constexpr int kNetSuccess = 0;
constexpr int kNetBadNetName = 67;
constexpr int kNetNoMoreItems = 259;

constexpr int kNetDisplayServer = 2;
constexpr int kNetDisplayShare = 3;
constexpr int kNetUsageContainer = 2;

struct FNetResource {
    int m_iDisplayType = 0;
    int m_iUsage = 0;
    FWideString m_remoteName; // \\server or \\server\share
    FWideString m_localPath;  // where a share is reachable in the file system; empty when it is not
};

// One open enumeration of a container.
class FIOsNetEnumeration
{
public:
    virtual ~FIOsNetEnumeration() = default;
    // Appends the next batch: kNetSuccess, kNetNoMoreItems, or another code for an error.
    virtual int Next(std::vector<FNetResource>& batch) = 0;
};

class FIOsNetEnumerator
{
public:
    virtual ~FIOsNetEnumerator() = default;
    // container null: the root of the network. Null when it cannot be opened.
    virtual std::unique_ptr<FIOsNetEnumeration> Open(const FNetResource* container) = 0;
    // kNetSuccess when the remote name is known, else an error code (kNetBadNetName).
    virtual int GetResourceInformation(const FWideString& remoteName) = 0;
};

// The system's enumerator (built in os/).
std::shared_ptr<FIOsNetEnumerator> CreateOsNetEnumerator();
// Process-wide enumerator used by the network folders; null restores the system's one.
void SetNetEnumerator(std::shared_ptr<FIOsNetEnumerator> enumerator);
std::shared_ptr<FIOsNetEnumerator> GetNetEnumerator();
