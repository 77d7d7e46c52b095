#pragma once

// The camera device layer: device names and records, opening and the probe,
// the capability directory, and quadlet and block accesses to a camera's
// 48-bit register space (a 16-bit space number above a 32-bit offset).
// Plain functions that answer true/1 on success and false/0/null otherwise;
// nothing here throws or writes text.

#include "CamSupport.h"

#include <cstdint>
#include <string>

constexpr int kCamTransportNone = 0;
constexpr int kCamTransport1394 = 1;
constexpr int kCamTransportUsb = 2;
constexpr int kCamTransportFile = 3;
constexpr int kCamTransportTcp = 4;
constexpr int kCamTransportCount = 5;

constexpr uint32_t kCamSpaceConfig = 0xFFFF;
constexpr uint32_t kCamSpaceConsole = 0x1007;
constexpr uint32_t kCamSpaceFile = 0x1009;

// The probe reads these bytes here.
constexpr uint32_t kCamProbeOffset = 0xF0000404;
constexpr char kCamProbeBytes[4] = {'1', '3', '9', '4'};

constexpr int kCamMaxNameLength = 511;
constexpr int kCamMaxTransportTextLength = 15;
constexpr int kCamMaxDeviceRecords = 60;

// "BCVB" read as one word, most significant byte first (bus order); the forward form kept
// in the configuration block.
constexpr uint32_t kCamDirectoryMagic = 0x42435642;
constexpr int kCamMaxDirectoryEntries = 50;
constexpr uint32_t kCamCapFileService = 0x40000; // word 1: file-service version
constexpr uint32_t kCamCapFastRead = 0x50000;
constexpr uint32_t kCamCrcServiceVersion = 0x10000; // above it, transfers carry CRC-16

// Word numbers of the configuration block, a wire format of the 1394 driver.
constexpr int kCamConfigWords = 224;
constexpr int kCamCfgMagicAddress = 2;
constexpr int kCamCfgCountAddress = 4;
constexpr int kCamCfgEntryAddress = 6;
constexpr int kCamCfgMagic = 8;
constexpr int kCamCfgEntryCount = 9;
constexpr int kCamCfgEntries = 10;
constexpr int kCamCfgSwap = 210;
constexpr int kCamCfgValid = 222;
constexpr int kCamCfgRead = 223;

struct CamConfig {
    uint32_t m_words[kCamConfigWords];
};

// One transport's calls. Handles are the transport's own; the layer only keeps them.
class CamTransportOps
{
public:
    virtual ~CamTransportOps() = default;
    virtual int Count() { return 0; }
    // The id part of device index's name.
    virtual bool IdAt(int /*index*/, std::string& /*id*/) { return false; }
    virtual void* Open(const std::string& id) = 0;
    virtual void Close(void* handle) = 0;
    virtual bool Read(void* handle, uint32_t offset, uint32_t space, void* buffer, uint32_t count) = 0;
    virtual bool Write(void* handle, uint32_t offset, uint32_t space, const void* data, uint32_t count) = 0;
    virtual bool ReadFast(void* handle, uint32_t offset, uint32_t space, void* buffer, uint32_t count)
    {
        return Read(handle, offset, space, buffer, count);
    }
    // A transport with a quadlet request of its own reads the capability directory with it.
    // Directory words are taken as the transport assembles them: the device layer's word
    // swap is not applied to them, since the directory's magic, read forward or reversed, is
    // what sets that swap for the file registers.
    virtual bool HasQuadletRead() { return false; }
    virtual bool ReadQuadlet(void* /*handle*/, uint32_t /*offset*/, uint32_t /*space*/, uint32_t& /*value*/)
    {
        return false;
    }
    // The device vanished from under the handle.
    virtual bool IsGone(void* /*handle*/) { return false; }
    // A driver that delivers the whole configuration block (1394).
    virtual bool ReadConfig(void* /*handle*/, CamConfig& /*config*/) { return false; }
    virtual bool UsesNewerLayout(void* /*handle*/) { return false; }
    virtual void Unload() {}
};

// The transport behind a transport value; not owned. Null restores the built-in one.
void CamSetTransportOps(int transport, CamTransportOps* ops);
CamTransportOps* CamGetTransportOps(int transport);
// Devices named "FILE@path" write to that path, so they open only once switched on.
void CamSetFileDevicesEnabled(bool enabled);

struct CamDevice {
    int m_iRefCount = 0;
    CamLock m_lock;
    int m_iOsFamily = 0;
    int m_iOsCode = 0;
    int m_iDeviceIndex = -1;
    std::string m_name;
    std::string m_id;
    int m_iTransport = kCamTransportNone;
    CamTransportOps* m_pOps = nullptr;
    void* m_pHandle = nullptr; // transport handle or file stream while connected
    CamConfig m_config = {};
    int m_iLastStatus = 0;
    double m_dLastStatusTime = 0;
    bool m_bGone = false;
    bool m_bOpenListed = false;
};

bool CamLinkInit();
// Closes every record; the link starts again on next use.
void CamLinkShutdown();
bool CamLinkIsInitialised();
// Held for each whole file-API call and by shutdown, so that no record is
// closed or freed while another thread transfers on it. Recursive.
void CamLinkCallLock();
void CamLinkCallUnlock();

int CamDevCount();
bool CamDevNameAt(int index, std::string& name);
int CamIndexOfName(const char* name);
int CamTransportOfName(const char* name);

CamDevice* CamDevFind(const char* name);
CamDevice* CamDevCreate(const char* name);
CamDevice* CamDevOpen(const char* name);
CamDevice* CamOpen(const char* name);
bool CamDevRelease(CamDevice* device);
bool CamDevConnect(CamDevice* device);
bool CamReconnect(CamDevice* device);
void CamDevClose(CamDevice* device);
bool CamDevReadConfig(CamDevice* device);
void CamDefaultConfig(CamConfig& config);
bool CamHasCapability(CamDevice* device, uint32_t id);
// Word 1 of the first entry with that id; false when there is none.
bool CamCapabilityWord(CamDevice* device, uint32_t id, int word, uint32_t& value);
bool CamCapabilityUsable(CamDevice* device, uint32_t id);
bool CamIsConnected(CamDevice* device);
void CamSetLastStatus(CamDevice* device, int status);
int CamOpenListCount();

int CamReadRaw(CamDevice* device, uint32_t offset, uint32_t space, void* buffer, uint32_t count);
int CamWriteRaw(CamDevice* device, uint32_t offset, uint32_t space, const void* data, uint32_t count);
int CamReadBlock(CamDevice* device, uint32_t offset, uint32_t space, void* buffer, uint32_t count);
int CamWriteBlock(CamDevice* device, uint32_t offset, uint32_t space, void* data, uint32_t count);
int CamReadBlockFast(CamDevice* device, uint32_t offset, uint32_t space, void* buffer, uint32_t count);
int CamReadQuadlet(CamDevice* device, uint32_t offset, uint32_t space, uint32_t& value);
int CamWriteQuadlet(CamDevice* device, uint32_t offset, uint32_t space, uint32_t value);
bool CamIsByteSwapped(const CamDevice* device);

// Moves a 48-bit address on by count bytes: the offset carries into the space.
void CamAddressAdvance(uint32_t& offset, uint32_t& space, uint32_t count);
void CamReverseWords(void* buffer, uint32_t count);

// Back to a fresh process: records gone, built-in transports, real clock, file devices off.
void CamLinkResetForTests();
