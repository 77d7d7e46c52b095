#pragma once

// The USB transport: vendor control requests that carry an address and a length,
// then bulk transfers of the data, over a small driver seam so that the same
// code runs over the system's USB library or a simulated camera.

#include "CamDevice.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

using UsbHandle = intptr_t;
constexpr UsbHandle kUsbNoHandle = -1;

// Statuses of the driver seam.
constexpr uint32_t kUsbOk = 0;
constexpr uint32_t kUsbAccessDenied = 5; // the device is gone
constexpr uint32_t kUsbStall = 0xE0100004;
constexpr uint32_t kUsbNotResponding = 0xE0100005; // the device is gone
constexpr uint32_t kUsbTimeout = 0xE01000F0;
constexpr uint32_t kUsbFailed = 0xE01000F1;

constexpr uint8_t kUsbVendorRequestType = 0x40;
constexpr uint8_t kUsbDirectionOut = 1;
constexpr uint8_t kUsbDirectionIn = 0;
constexpr uint8_t kUsbPipeIn = 1;
constexpr uint8_t kUsbPipeOut = 0;
constexpr int kUsbControlTimeoutMs = 100;
constexpr int kUsbBulkTimeoutMs = 500;
constexpr int kUsbAttempts = 6;
constexpr int kUsbStallRetries = 20;
constexpr int kUsbStallSleepMs = 500;
// A wire on which every bulk transfer stalls this long fails whatever is under way.
constexpr int kUsbStallGiveUpMs = 4000;
constexpr int kUsbArrivalDelayMs = 3000;
constexpr uint32_t kUsbRegisterChunk = 16;
inline constexpr const char* kUsbIdPrefix = "camera";

// Vendor request kinds: (request number, direction, data stage).
enum class UsbRequestKind : int {
    ReadAddress = 0,
    ReadLength = 1,
    WriteAddress = 2,
    WriteLength = 3,
    Quadlet = 4
};

struct UsbDeviceEvent {
    bool m_bArrived = false; // else removed
};

// What the transport needs of a USB library. Calls are synchronous: a transfer that
// times out is cancelled before the call returns. Counts never exceed the length asked.
class UsbDriver
{
public:
    virtual ~UsbDriver() = default;
    // Hot-plug notices; false is retried at the next count.
    virtual bool RegisterEvents() = 0;
    virtual void UnregisterEvents() = 0;
    // The index-th matching camera, or kUsbNoHandle.
    virtual UsbHandle Open(int index) = 0;
    virtual void Close(UsbHandle handle) = 0;
    virtual uint32_t Control(UsbHandle handle, uint8_t requestType, uint8_t request, uint16_t value,
                             uint16_t index, uint8_t direction, uint8_t* data, uint32_t length,
                             uint32_t& count, int timeoutMs) = 0;
    virtual uint32_t Bulk(UsbHandle handle, uint8_t pipe, uint8_t* data, uint32_t length, uint32_t& count,
                          int timeoutMs) = 0;
    virtual uint32_t ClearStall(UsbHandle handle, uint8_t pipe) = 0;
    // Notices since the last call, without waiting.
    virtual void PollEvents(std::vector<UsbDeviceEvent>& events) = 0;
};

// Makes the driver when the transport first counts devices; null means no USB library,
// and USB is then not tried again. An empty factory restores the system's.
using UsbDriverFactory = std::function<std::unique_ptr<UsbDriver>()>;
void UsbSetDriverFactory(UsbDriverFactory factory);
std::unique_ptr<UsbDriver> CreateOsUsbDriver();

// The 6-byte address block of a read or write request.
void UsbAddressBlock(uint32_t offset, uint32_t space, uint8_t block[6]);
// The bytes of the next piece of a transfer at this address.
uint32_t UsbChunkSize(uint32_t offset, uint32_t space, uint32_t remaining, bool reading);
// The request type byte as the wire carries it: the direction is its top bit.
uint8_t UsbWireRequestType(uint8_t requestType, uint8_t direction);

// Which USB devices are cameras: not known in advance, so configured by the user in
// the application-data folder, one "vendor:product" pair of hexadecimal ids a line,
// optionally ":interface"; "#" starts a comment. Nothing matches until it is filled in.
inline constexpr const char* kUsbCameraIdsFile = "CameraUsbIds.txt";
constexpr int kUsbMaxCameraIds = 64;
struct UsbCameraId {
    uint16_t m_vendor = 0;
    uint16_t m_product = 0;
    uint8_t m_interface = 0;
};
// Lines that do not parse are skipped.
std::vector<UsbCameraId> ParseUsbCameraIds(const std::string& text);

CamTransportOps& CamUsbTransportOps();
// For tests: whether the driver is loaded, and whether USB is still tried.
bool UsbIsLoaded();
bool UsbIsTried();
