// The camera's device files as the status object reads them: the input is cut
// into the answers of "/dev/CF", "/dev/Battery" and "/dev/Time" for a few polls.
#include <cstddef>
#include <cstdint>
#include <string>

#include "FMemStorageClass.h"
#include "FUiCameraObject.h"
#include "StorageClassRegistry.h"

namespace
{

FMemStorageClass& Camera()
{
    static FMemStorageClass* camera = RegisterMemStorageClass(FWideString("camera"));
    return *camera;
}

// The next piece of the input: one length byte, then up to that many bytes.
std::string Take(const uint8_t*& data, size_t& size)
{
    if (size == 0)
        return {};
    size_t length = data[0] % 13;
    ++data;
    --size;
    if (length > size)
        length = size;
    std::string piece(reinterpret_cast<const char*>(data), length);
    data += length;
    size -= length;
    return piece;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    Camera();
    FUiCameraObject camera("CAMERA_OBJECT");
    bool first = true;
    for (int poll = 0; poll < 4 && size > 0; ++poll) {
        const std::string cf = Take(data, size);
        const std::string battery = Take(data, size);
        const std::string time = Take(data, size);
        if (cf.empty() && battery.empty() && time.empty() && poll % 2 == 1) {
            FWideString name;
            if (FIFolder* root = OpenFolderURL(FWideString("camera://"), name, true)) {
                root->DeleteFolder(FWideString("camera://Cam"), 1);
                root->Release();
            }
        } else {
            Camera().PutFile(FWideString("Cam/dev/CF"), cf);
            Camera().PutFile(FWideString("Cam/dev/Battery"), battery);
            Camera().PutFile(FWideString("Cam/dev/Time"), time);
        }
        if (first) {
            camera.UiRelayMessage(FWideString("Post Creation Initialization"), nullptr);
            first = false;
        }
        for (int tick = 0; tick < 30; ++tick)
            camera.Tick(10);
        camera.UiRelayMessage(FWideString("GetTime"), nullptr);
        bool connected = false;
        camera.UiRelayMessage(FWideString("IsCameraConnected"), &connected);
    }
    return 0;
}
