#pragma once

// The USB wire in front of a SimCamera: vendor requests and bulk transfers are
// decoded into the camera's register accesses, with the acknowledgement and
// byte-reversal conventions of the wire, and faults to inject.

#include "CamUsbTransport.h"
#include "SimCamera.h"

#include <deque>
#include <mutex>
#include <set>
#include <vector>

class SimUsbDriver : public UsbDriver
{
public:
    struct ControlRecord {
        uint8_t m_requestType;
        uint8_t m_request;
        uint16_t m_value;
        uint16_t m_index;
        uint8_t m_direction;
        std::vector<uint8_t> m_data;
    };

    explicit SimUsbDriver(SimCamera& camera) : m_camera(camera) {}

    // Installs a factory that hands out this driver (not owned) to the USB transport.
    void Install();

    // Faults and conventions.
    bool m_bAcknowledge = false;      // single replies come after "VI!"
    bool m_bAcknowledgeUnits = false; // every unit comes after "VI!"
    int m_iStalls = 0;                // the next bulk transfers stall
    bool m_bClearStallFails = false;
    int m_iEmptyReplies = 0;         // bulk reads that deliver nothing
    int m_iShortSecondUnit = 0;      // a unit's second read comes short
    int m_iTimeouts = 0;             // bulk transfers that never answer
    int m_iGarbageStatus = 0;        // bulk transfers answering an unknown status
    bool m_bClaimExtraBytes = false; // counts claim more than asked
    bool m_bRegisterFails = false;

    std::vector<ControlRecord> Controls() const;
    std::vector<uint32_t> BulkInLengths() const;
    std::vector<uint32_t> BulkOutLengths() const;
    int ClearStalls() const;
    std::set<UsbHandle> ClosedHandles() const;
    int OpenCount() const;
    void ClearLog();
    // A hot-plug notice, taken at the transport's next count.
    void Notify(bool arrived);

    bool RegisterEvents() override;
    void UnregisterEvents() override {}
    UsbHandle Open(int index) override;
    void Close(UsbHandle handle) override;
    uint32_t Control(UsbHandle handle, uint8_t requestType, uint8_t request, uint16_t value, uint16_t index,
                     uint8_t direction, uint8_t* data, uint32_t length, uint32_t& count,
                     int timeoutMs) override;
    uint32_t Bulk(UsbHandle handle, uint8_t pipe, uint8_t* data, uint32_t length, uint32_t& count,
                  int timeoutMs) override;
    uint32_t ClearStall(UsbHandle handle, uint8_t pipe) override;
    void PollEvents(std::vector<UsbDeviceEvent>& events) override;

private:
    bool priLive(UsbHandle handle) const;

    SimCamera& m_camera;
    mutable std::mutex m_lock;
    UsbHandle m_iNextHandle = 100;
    std::set<UsbHandle> m_open;
    std::set<UsbHandle> m_closed;
    int m_iOpens = 0;
    uint32_t m_offset = 0;
    uint32_t m_space = 0;
    uint32_t m_writeLength = 0;
    std::deque<std::vector<uint8_t>> m_replies;
    bool m_bUnitRead = false;
    std::vector<ControlRecord> m_controls;
    std::vector<uint32_t> m_bulkIn;
    std::vector<uint32_t> m_bulkOut;
    int m_iClears = 0;
    std::vector<UsbDeviceEvent> m_events;
};
