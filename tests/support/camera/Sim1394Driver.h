#pragma once

// A 1394 camera driver in front of a SimCamera: request blocks of the older
// layout, or the data-area requests of the newer one, with busy answers to inject.

#include "CamFw1394Transport.h"
#include "SimCamera.h"

#include <mutex>
#include <vector>

class Sim1394Driver : public Fw1394Driver
{
public:
    struct RequestRecord {
        uint32_t m_code;
        uint32_t m_sequence; // older layout only
        uint32_t m_inLength; // as the driver received them
        uint32_t m_outLength;
        uint32_t m_dataLength; // data bytes the request carried or asked for
    };

    Sim1394Driver(SimCamera& camera, bool newer) : m_camera(camera), m_bNewer(newer)
    {
        camera.SetWire(kCamTransport1394);
    }
    void Install();

    int m_iEntry = 1;            // the descriptor entry whose interfaces are present
    int m_iBusy = 0;             // the next requests answer busy
    int m_iFailures = 0;         // the next requests fail
    bool m_bShortConfig = false; // the configuration comes back short

    std::vector<RequestRecord> Requests() const;
    void ClearLog();

    std::vector<std::string> Enumerate(int entry) override;
    Fw1394Handle Open(const std::string& id) override;
    void Close(Fw1394Handle) override {}
    bool Ioctl(Fw1394Handle handle, uint32_t code, uint8_t* buffer, uint32_t inLength, uint32_t outLength,
               uint32_t& returned, uint32_t& status) override;

private:
    // The status of a fault to answer with, 0 for none.
    uint32_t priInjectedFault();

    SimCamera& m_camera;
    bool m_bNewer;
    mutable std::mutex m_lock;
    std::vector<RequestRecord> m_requests;
};
