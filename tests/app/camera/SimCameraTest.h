#pragma once

// A simulated camera on the simulated USB wire, with a card of 1,000,000 KiB (400,000 free)
// and mains power. Its clock runs on the test's time: the camera's polls never sleep for
// real. Fixtures add their files, then Plug() the driver in.

#include <gtest/gtest.h>

#include <chrono>
#include <cstdint>
#include <functional>
#include <initializer_list>
#include <mutex>

#include "CamDevice.h"
#include "CamProtocol.h"
#include "CamSupport.h"
#include "FAppHarness.h"
#include "FUiCameraObject.h"
#include "SimCamera.h"
#include "SimUsbDriver.h"

// The harness's ticks take no real time, the camera answers in real time: while looking
// for a change of the camera, every tick waits for its answer in full.
inline bool RunUntilCamera(FAppHarness& app, FUiCameraObject* camera, const std::function<bool()>& until,
                           int ticks)
{
    camera->SetDeviceWait(std::chrono::seconds(10));
    const bool met = app.RunUntil(until, ticks);
    camera->SetDeviceWait(FUiCameraObject::kDefaultDeviceWait);
    return met;
}

class SimCameraTest : public ::testing::Test
{
protected:
    // Little-endian 32-bit words, as the camera's device files hold them.
    static SimCamera::Bytes Words(std::initializer_list<uint32_t> words)
    {
        SimCamera::Bytes bytes;
        for (uint32_t w : words)
            for (int shift = 0; shift < 32; shift += 8)
                bytes.push_back(uint8_t(w >> shift));
        return bytes;
    }

    void SetUp() override
    {
        CamLinkResetForTests();
        // Downloads read the camera from a worker while the windows poll it.
        CamSetClockHooks({[this] {
                              std::lock_guard lock(m_clockLock);
                              return m_dNow;
                          },
                          [this](int ms) {
                              std::lock_guard lock(m_clockLock);
                              m_dNow += ms / 1000.0;
                          }});
        m_camera.AddFile("/dev/CF", Words({1000000, 400000}), SimCamera::kDefaultFlags | kCamStatusWholeFile);
        m_camera.AddFile("/dev/Battery", Words({0x08}), SimCamera::kDefaultFlags | kCamStatusWholeFile);
    }
    void Plug() { m_driver.Install(); }
    void TearDown() override
    {
        CamLinkShutdown();
        UsbSetDriverFactory({});
        CamSetClockHooks({});
        CamLinkResetForTests();
    }

    std::mutex m_clockLock;
    double m_dNow = 1000;
    SimCamera m_camera;
    SimUsbDriver m_driver{m_camera};
};
