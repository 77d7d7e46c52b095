#pragma once

// CAMERA_OBJECT: watches the connected camera (presence, power, card) by
// polling its device files, and reads and sets its clock.

#include <cstdint>

#include "FUiObject.h"
#include "FWideString.h"

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

private:
    bool priCheckConnection();
    void priCheckPower();
    void priCheckCard();
    void priSetTime();
    void priGetTime();
    FWideString priDeviceURL(const char* name) const;

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
