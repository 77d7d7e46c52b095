#pragma once

// The IEEE 1394 transport: request blocks sent to a camera driver, in the older
// layout or the newer one, with chunking, retries while the driver is busy and
// the whole configuration block in one request. The driver is behind a seam.

#include "CamDevice.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

using Fw1394Handle = intptr_t;
constexpr Fw1394Handle kFw1394NoHandle = -1;

constexpr uint32_t kFw1394Identify = 0x81252004;
constexpr uint32_t kFw1394ReadQuadlet = 0x81252008;
constexpr uint32_t kFw1394ReadBlock = 0x8125200C;
constexpr uint32_t kFw1394WriteBlock = 0x81252010;
constexpr uint32_t kFw1394WriteBlockNewer = 0x81252012;
constexpr uint32_t kFw1394FastRead = 0x81252014;
constexpr uint32_t kFw1394ReadConfig = 0x81252018;

constexpr uint32_t kFw1394Magic = 0x01020304;
constexpr uint32_t kFw1394StatusPreset = 87;
constexpr uint32_t kFw1394StatusBusy = 0x80000011;
constexpr uint32_t kFw1394StatusNoCode = 0xC0000002;
constexpr uint32_t kFw1394StatusGone = 0xC000009D;
constexpr uint32_t kFw1394HeaderBytes = 84;
constexpr uint32_t kFw1394Capacity = 8108;
constexpr uint32_t kFw1394NewerHeaderBytes = 28;
constexpr uint32_t kFw1394ConfigBytes = kCamConfigWords * 4;
constexpr int kFw1394Attempts = 21;
// Busy answers do not count as attempts, but do not go on for ever either.
constexpr int kFw1394MaxBusyMs = 2000;
constexpr uint32_t kFw1394RandomSeed = 1201230;

// Request block field offsets.
constexpr uint32_t kFw1394FieldMagic = 0;
constexpr uint32_t kFw1394FieldSequence = 4;
constexpr uint32_t kFw1394FieldCode = 12;
constexpr uint32_t kFw1394FieldOffset = 16;
constexpr uint32_t kFw1394FieldSpace = 20;
constexpr uint32_t kFw1394FieldInLength = 24;
constexpr uint32_t kFw1394FieldOutLength = 28;
constexpr uint32_t kFw1394FieldCapacity = 32;
constexpr uint32_t kFw1394FieldStatus = 72;
constexpr uint32_t kFw1394FieldSuccess = 76;

// What the transport needs of a 1394 camera driver.
class Fw1394Driver
{
public:
    virtual ~Fw1394Driver() = default;
    // Ids (never holding "/") of the device interfaces of descriptor entry 1 or 2.
    virtual std::vector<std::string> Enumerate(int entry) = 0;
    virtual Fw1394Handle Open(const std::string& id) = 0;
    virtual void Close(Fw1394Handle handle) = 0;
    // One request on a buffer that carries its input and receives its output. False with a
    // status when the driver refused it; returned is the bytes it gave back.
    virtual bool Ioctl(Fw1394Handle handle, uint32_t code, uint8_t* buffer, uint32_t inLength,
                       uint32_t outLength, uint32_t& returned, uint32_t& status) = 0;
};

using Fw1394DriverFactory = std::function<std::unique_ptr<Fw1394Driver>()>;
// An empty factory restores the system's driver.
void Fw1394SetDriverFactory(Fw1394DriverFactory factory);
std::unique_ptr<Fw1394Driver> CreateOsFw1394Driver();

CamTransportOps& CamFw1394TransportOps();
// The sequence number the next request will carry.
uint32_t Fw1394NextSequence();
