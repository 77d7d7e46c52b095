#include "FLinkFreePath.h"

#include "FDiskOs.h"
#include "FException.h"
#include "StorageClassRegistry.h"

#include <string>
#include <sys/stat.h>
#include <vector>

namespace
{

bool DiskNative(const FWideString& url, std::string& native)
{
    std::vector<FWideString> parts;
    if (!SplitURL(url, parts) || parts.size() < 2 || !(parts[0] == "disk"))
        return false;
    FWideString wide;
    try {
        if (!URLToNativePath(url, wide))
            return false;
    } catch (const FException&) {
        return false;
    }
    native = NativeBytes(wide);
    while (native.size() > 1 && native.back() == '/')
        native.pop_back();
    return !native.empty() && native[0] == '/';
}

bool IsLink(const std::string& path)
{
    struct stat st;
    return lstat(path.c_str(), &st) == 0 && S_ISLNK(st.st_mode);
}

} // namespace

bool IsLinkFreePathBelow(const FWideString& rootUrl, const FWideString& url)
{
    std::string root, path;
    if (!DiskNative(rootUrl, root) || !DiskNative(url, path))
        return false;
    if (path != root && (path.compare(0, root.size(), root) != 0 || path[root.size()] != '/'))
        return false;
    if (IsLink(root))
        return false;
    for (size_t at = root.size() + 1; at <= path.size(); ++at) {
        if (at != path.size() && path[at] != '/')
            continue;
        const std::string step = path.substr(0, at);
        if (step.size() > root.size() && (step.find("/../", root.size()) != std::string::npos ||
                                          step.compare(step.size() - 3, 3, "/..") == 0 || IsLink(step)))
            return false;
    }
    return true;
}
