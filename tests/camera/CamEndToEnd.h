#pragma once

#include "CamFileApi.h"
#include "CamProtocol.h"
#include "CamTestSupport.h"
#include "SimCamera.h"

// Through the file API to a simulated camera behind a transport: an image is read,
// "/dev/Time" written and read back, and a read is cut by unplugging the camera;
// plugged in again, the camera is reached within three calls.
inline void ExpectReadWriteAndUnplug(SimCamera& camera, const char* name, size_t imageBytes)
{
    const std::vector<uint8_t> image = Pattern(imageBytes, 3);
    camera.AddFile("/cf/images/IMG_0001.q7f", image);
    camera.AddFile("/dev/Time", {0, 0, 0, 0}, SimCamera::kDefaultFlags | kCamStatusWholeFile);
    const uint32_t size = static_cast<uint32_t>(imageBytes);
    std::vector<uint8_t> out(imageBytes);
    EXPECT_EQ(CamFileRead(name, "/cf/images/IMG_0001.q7f", 0, out.data(), size), size);
    EXPECT_EQ(out, image);

    const uint8_t time[4] = {0x78, 0x56, 0x34, 0x12};
    ASSERT_TRUE(CamFileWrite(name, "/dev/Time", 0, time, 4));
    uint8_t back[4] = {};
    EXPECT_EQ(CamFileRead(name, "/dev/Time", 0, back, 4), 4u);
    EXPECT_EQ(std::vector<uint8_t>(back, back + 4), std::vector<uint8_t>(time, time + 4));

    camera.UnplugAfterWindowReads(3);
    EXPECT_EQ(CamFileRead(name, "/cf/images/IMG_0001.q7f", 0, out.data(), size), 0u);
    camera.Plug();
    // The first call finds the device gone, the next open reports it, the one after reconnects.
    uint32_t got = 0;
    int calls = 0;
    while (got == 0 && calls < 3) {
        ++calls;
        got = CamFileRead(name, "/cf/images/IMG_0001.q7f", 0, out.data(), size);
    }
    EXPECT_EQ(got, size);
    EXPECT_EQ(calls, 3);
}
