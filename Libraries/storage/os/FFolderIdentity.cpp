#include "FFolderIdentity.h"

#include <fcntl.h>
#include <sys/stat.h>

#include <cstdio>
#include <string>
#include <vector>

#include "FDiskOs.h"
#include "FException.h"
#include "StorageClassRegistry.h"

FWideString GetFolderIdentity(const FWideString& url)
{
    std::vector<FWideString> parts;
    if (!SplitURL(url, parts) || parts.size() < 2 || !(parts[0] == "disk"))
        return FWideString();
    FWideString wide;
    try {
        if (!URLToNativePath(url, wide))
            return FWideString();
    } catch (const FException&) {
        return FWideString();
    }
    std::string native = NativeBytes(wide);
    while (native.size() > 1 && native.back() == '/')
        native.pop_back();
    struct statx info {
    };
    if (native.empty() || native[0] != '/' ||
        statx(AT_FDCWD, native.c_str(), AT_SYMLINK_NOFOLLOW, STATX_TYPE | STATX_INO | STATX_BTIME, &info) !=
            0 ||
        !S_ISDIR(info.stx_mode))
        return FWideString();
    char text[96];
    const bool born = (info.stx_mask & STATX_BTIME) != 0;
    std::snprintf(text, sizeof text, "%u:%u:%llu:%lld.%09u", info.stx_dev_major, info.stx_dev_minor,
                  static_cast<unsigned long long>(info.stx_ino),
                  born ? static_cast<long long>(info.stx_btime.tv_sec) : 0LL,
                  born ? info.stx_btime.tv_nsec : 0u);
    return FWideString(text);
}
