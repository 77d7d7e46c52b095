// A camera's folder listing as the camera sends it: every entry handed on is one
// safe name inside the folder, whatever the lines hold.
#include "FCodePage.h"
#include "FSCCamera.h"

#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const std::string text(reinterpret_cast<const char*>(data), size);
    for (bool folders : {false, true}) {
        std::vector<FWideString> names;
        ParseCameraListing(text, "/cf/images", folders, names);
        for (const FWideString& name : names) {
            std::string bytes = Utf8FromWide(name);
            if (folders) {
                if (bytes.empty() || bytes[0] != '/')
                    abort();
                bytes.erase(0, 1);
            }
            if (bytes.empty() || bytes == "." || bytes == ".." || bytes.find('/') != std::string::npos ||
                bytes.find('\n') != std::string::npos)
                abort();
        }
    }
    return 0;
}
