// The user's file of USB camera ids: any text gives a bounded list and no crash.
#include "CamUsbTransport.h"

#include <cstdint>
#include <cstdlib>
#include <string>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const auto ids = ParseUsbCameraIds(std::string(reinterpret_cast<const char*>(data), size));
    if (ids.size() > static_cast<size_t>(kUsbMaxCameraIds))
        abort();
    return 0;
}
