#pragma once

// CAMERA_OBJECT: watches the connected camera (presence, power, card) by
// polling its device files, and reads and sets its clock. Every call to the camera
// runs on a worker thread: a window waits for the answer only briefly, and a camera
// that stalls is answered for on a later tick.

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>

#include "FUiObject.h"
#include "FWideString.h"

class FIThread;
class FIUiObjectFactory;

class FUiCameraObject : public FUiObject
{
public:
    explicit FUiCameraObject(const char* typeName);
    ~FUiCameraObject() override;

    bool UiRelayMessage(const FWideString& message, void* data) override;
    bool InitUiObject(FIUiApp* app, FIUiWindow* window, FIUiObject* parent, FPropList* tag) override;
    void Tick(int elapsedMs) override;

    bool IsConnected() const { return m_bConnected; }
    const FWideString& GetRootURL() const { return m_usRootURL; }
    int32_t GetCardUsed() const { return m_iCardUsed; }
    // How long a tick or a message waits for the camera's answer before going on without it.
    void SetDeviceWait(std::chrono::milliseconds wait) { m_DeviceWait = wait; }
    static constexpr std::chrono::milliseconds kDefaultDeviceWait{10};

    struct Link;
    struct Reading;

private:
    // Queues `task` for the worker; its answer runs here. Zero when there is no worker.
    uint64_t priQueue(std::function<std::function<void()>()> task);
    // Waits at most the device wait for task `id` to end, then runs the answers in.
    void priWaitFor(uint64_t id);
    void priTakeAnswers();
    void priPoll(bool powerFirst, bool connectionOnly);
    void priApplyConnection(const Reading& reading);
    void priApplyPower(const Reading& reading);
    void priApplyCard(const Reading& reading);
    void priSetTime();
    void priGetTime();

    std::shared_ptr<Link> m_pLink;
    FIThread* m_pThread = nullptr;
    std::chrono::milliseconds m_DeviceWait = kDefaultDeviceWait;
    bool m_bPollPending = false;
    uint64_t m_nPollTask = 0;

    bool m_bConnected = false;
    bool m_bCardKnown = false;
    int32_t m_iCameraTime = 0;
    int m_iPowerType = 0;
    uint32_t m_uCardCapacity = 0;
    uint32_t m_uCardFree = 0;
    int32_t m_iCardUsed = 0;
    int m_iTickCount = 0;
    FWideString m_usRootURL;

    RelayEvent* m_pOnConnected = nullptr;
    RelayEvent* m_pOnPowerType = nullptr;
    RelayEvent* m_pOnAcPower = nullptr;
    RelayEvent* m_pOnBatteryPower = nullptr;
    RelayEvent* m_pOnCardPresent = nullptr;
    RelayEvent* m_pOnGetCameraTime = nullptr;
    RelayEvent* m_pOnStorageChange = nullptr;
};

// The card's nominal size in KiB for a capacity of `kib` KiB.
uint32_t NominalCardCapacity(uint32_t kib);

bool RegisterCameraObject(FIUiObjectFactory* factory);
