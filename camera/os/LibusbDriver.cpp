#include "LibusbDriver.h"

#include "FDebugTrace.h"
#include "os/FDiskOs.h"

#include <libusb.h>

#include <cstdio>
#include <map>
#include <mutex>

namespace
{

struct OpenDevice {
    libusb_device_handle* m_pHandle = nullptr;
    uint8_t m_interface = 0;
    uint8_t m_endpointIn = 0;
    uint8_t m_endpointOut = 0;
};

std::string ReadSmallFile(const std::string& path)
{
    std::string text;
    FILE* file = std::fopen(path.c_str(), "rb");
    if (!file)
        return text;
    char piece[4096];
    // A configuration of a few lines: anything past this size is not read.
    constexpr size_t kMaxBytes = 64 * 1024;
    size_t got = 0;
    while (text.size() < kMaxBytes && (got = std::fread(piece, 1, sizeof piece, file)) > 0)
        text.append(piece, got);
    std::fclose(file);
    return text;
}

bool FindBulkEndpoints(libusb_device* device, uint8_t interfaceNumber, uint8_t& in, uint8_t& out)
{
    libusb_config_descriptor* config = nullptr;
    if (libusb_get_active_config_descriptor(device, &config) != 0)
        return false;
    in = out = 0;
    for (int i = 0; i < config->bNumInterfaces; ++i) {
        const libusb_interface& interface = config->interface[i];
        if (interface.num_altsetting < 1 || interface.altsetting[0].bInterfaceNumber != interfaceNumber)
            continue;
        const libusb_interface_descriptor& alt = interface.altsetting[0];
        for (int e = 0; e < alt.bNumEndpoints; ++e) {
            const libusb_endpoint_descriptor& endpoint = alt.endpoint[e];
            if ((endpoint.bmAttributes & 0x3) != LIBUSB_TRANSFER_TYPE_BULK)
                continue;
            uint8_t& slot = (endpoint.bEndpointAddress & 0x80) ? in : out;
            if (!slot)
                slot = endpoint.bEndpointAddress;
        }
    }
    libusb_free_config_descriptor(config);
    return in && out;
}

class LibusbDriver : public UsbDriver
{
public:
    LibusbDriver(libusb_context* context, std::vector<UsbCameraId> ids)
        : m_pContext(context), m_ids(std::move(ids))
    {
    }
    ~LibusbDriver() override
    {
        UnregisterEvents();
        for (auto& [id, device] : m_devices) {
            libusb_release_interface(device.m_pHandle, device.m_interface);
            libusb_close(device.m_pHandle);
        }
        libusb_exit(m_pContext);
    }

    bool RegisterEvents() override
    {
        if (m_bRegistered || !libusb_has_capability(LIBUSB_CAP_HAS_HOTPLUG))
            return true; // without notices a vanished device is found by its failing transfers
        const int events = LIBUSB_HOTPLUG_EVENT_DEVICE_ARRIVED | LIBUSB_HOTPLUG_EVENT_DEVICE_LEFT;
        if (libusb_hotplug_register_callback(m_pContext, static_cast<libusb_hotplug_event>(events),
                                             LIBUSB_HOTPLUG_NO_FLAGS, LIBUSB_HOTPLUG_MATCH_ANY,
                                             LIBUSB_HOTPLUG_MATCH_ANY, LIBUSB_HOTPLUG_MATCH_ANY, &OnHotplug,
                                             this, &m_callback) != LIBUSB_SUCCESS)
            return false;
        m_bRegistered = true;
        return true;
    }

    void UnregisterEvents() override
    {
        if (m_bRegistered)
            libusb_hotplug_deregister_callback(m_pContext, m_callback);
        m_bRegistered = false;
    }

    UsbHandle Open(int index) override
    {
        libusb_device** list = nullptr;
        const ssize_t count = libusb_get_device_list(m_pContext, &list);
        if (count < 0)
            return kUsbNoHandle;
        UsbHandle result = kUsbNoHandle;
        int seen = 0;
        for (ssize_t i = 0; i < count && result == kUsbNoHandle; ++i) {
            const UsbCameraId* id = Match(list[i]);
            if (!id || seen++ != index)
                continue;
            result = OpenMatched(list[i], *id);
        }
        libusb_free_device_list(list, 1);
        return result;
    }

    void Close(UsbHandle handle) override
    {
        std::lock_guard lock(m_lock);
        auto it = m_devices.find(handle);
        if (it == m_devices.end())
            return;
        libusb_release_interface(it->second.m_pHandle, it->second.m_interface);
        libusb_close(it->second.m_pHandle);
        m_devices.erase(it);
    }

    uint32_t Control(UsbHandle handle, uint8_t requestType, uint8_t request, uint16_t value, uint16_t index,
                     uint8_t direction, uint8_t* data, uint32_t length, uint32_t& count,
                     int timeoutMs) override
    {
        count = 0;
        OpenDevice device;
        if (!Find(handle, device))
            return kUsbNotResponding;
        const int result = libusb_control_transfer(
            device.m_pHandle, UsbWireRequestType(requestType, direction), request, value, index, data,
            static_cast<uint16_t>(std::min<uint32_t>(length, 0xFFFF)), static_cast<unsigned>(timeoutMs));
        if (result < 0)
            return UsbStatusFromLibusb(result);
        count = std::min<uint32_t>(static_cast<uint32_t>(result), length);
        return kUsbOk;
    }

    uint32_t Bulk(UsbHandle handle, uint8_t pipe, uint8_t* data, uint32_t length, uint32_t& count,
                  int timeoutMs) override
    {
        count = 0;
        OpenDevice device;
        if (!Find(handle, device))
            return kUsbNotResponding;
        int transferred = 0;
        const uint8_t endpoint = pipe == kUsbPipeIn ? device.m_endpointIn : device.m_endpointOut;
        // Synchronous: a transfer that times out is cancelled before this returns.
        const int result = libusb_bulk_transfer(device.m_pHandle, endpoint, data, static_cast<int>(length),
                                                &transferred, static_cast<unsigned>(timeoutMs));
        count = std::min<uint32_t>(static_cast<uint32_t>(std::max(transferred, 0)), length);
        return result < 0 ? UsbStatusFromLibusb(result) : kUsbOk;
    }

    uint32_t ClearStall(UsbHandle handle, uint8_t pipe) override
    {
        OpenDevice device;
        if (!Find(handle, device))
            return kUsbNotResponding;
        const uint8_t endpoint = pipe == kUsbPipeIn ? device.m_endpointIn : device.m_endpointOut;
        const int result = libusb_clear_halt(device.m_pHandle, endpoint);
        return result < 0 ? UsbStatusFromLibusb(result) : kUsbOk;
    }

    void PollEvents(std::vector<UsbDeviceEvent>& events) override
    {
        timeval zero = {0, 0};
        libusb_handle_events_timeout_completed(m_pContext, &zero, nullptr);
        std::lock_guard lock(m_lock);
        events.insert(events.end(), m_events.begin(), m_events.end());
        m_events.clear();
    }

private:
    static int LIBUSB_CALL OnHotplug(libusb_context*, libusb_device* device, libusb_hotplug_event event,
                                     void* self)
    {
        auto* driver = static_cast<LibusbDriver*>(self);
        if (!driver->Match(device))
            return 0;
        std::lock_guard lock(driver->m_lock);
        UsbDeviceEvent notice;
        notice.m_bArrived = event == LIBUSB_HOTPLUG_EVENT_DEVICE_ARRIVED;
        driver->m_events.push_back(notice);
        return 0;
    }

    const UsbCameraId* Match(libusb_device* device) const
    {
        libusb_device_descriptor descriptor;
        if (libusb_get_device_descriptor(device, &descriptor) != 0)
            return nullptr;
        for (const UsbCameraId& id : m_ids) {
            if (id.m_vendor == descriptor.idVendor && id.m_product == descriptor.idProduct)
                return &id;
        }
        return nullptr;
    }

    UsbHandle OpenMatched(libusb_device* device, const UsbCameraId& id)
    {
        OpenDevice open;
        open.m_interface = id.m_interface;
        if (!FindBulkEndpoints(device, id.m_interface, open.m_endpointIn, open.m_endpointOut))
            return kUsbNoHandle;
        // No permission or another process holding the camera both mean: no camera here.
        // The trace says which, since a configured camera that is not found puzzles its user.
        if (const int error = libusb_open(device, &open.m_pHandle); error != 0) {
            DebugTrace("USB camera %04x:%04x could not be opened: %s.\n", id.m_vendor, id.m_product,
                       libusb_error_name(error));
            return kUsbNoHandle;
        }
        libusb_set_auto_detach_kernel_driver(open.m_pHandle, 1);
        if (const int error = libusb_claim_interface(open.m_pHandle, id.m_interface); error != 0) {
            DebugTrace("USB camera %04x:%04x interface %d could not be claimed: %s.\n", id.m_vendor,
                       id.m_product, id.m_interface, libusb_error_name(error));
            libusb_close(open.m_pHandle);
            return kUsbNoHandle;
        }
        std::lock_guard lock(m_lock);
        const UsbHandle handle = m_iNextHandle++;
        m_devices[handle] = open;
        return handle;
    }

    bool Find(UsbHandle handle, OpenDevice& device)
    {
        std::lock_guard lock(m_lock);
        auto it = m_devices.find(handle);
        if (it == m_devices.end())
            return false;
        device = it->second;
        return true;
    }

    libusb_context* m_pContext;
    std::vector<UsbCameraId> m_ids;
    std::mutex m_lock;
    std::map<UsbHandle, OpenDevice> m_devices;
    UsbHandle m_iNextHandle = 1; // never reused, so a retired handle never names a new device
    std::vector<UsbDeviceEvent> m_events;
    libusb_hotplug_callback_handle m_callback = 0;
    bool m_bRegistered = false;
};

} // namespace

uint32_t UsbStatusFromLibusb(int error)
{
    switch (error) {
    case LIBUSB_SUCCESS:
        return kUsbOk;
    case LIBUSB_ERROR_PIPE:
        return kUsbStall;
    case LIBUSB_ERROR_NO_DEVICE:
        return kUsbNotResponding;
    case LIBUSB_ERROR_TIMEOUT:
        return kUsbTimeout;
    default:
        return kUsbFailed;
    }
}

std::string UsbCameraIdsPath()
{
    const std::string config = ConfigHome();
    return config.empty() ? std::string() : config + "/Rawbench/" + kUsbCameraIdsFile;
}

std::unique_ptr<UsbDriver> CreateOsUsbDriver()
{
    libusb_context* context = nullptr;
    if (libusb_init(&context) != LIBUSB_SUCCESS)
        return nullptr;
    const std::string path = UsbCameraIdsPath();
    std::vector<UsbCameraId> ids = ParseUsbCameraIds(path.empty() ? std::string() : ReadSmallFile(path));
    return std::make_unique<LibusbDriver>(context, std::move(ids));
}
