#pragma once

// A simulated camera at the device layer's transport seam: the camera side of
// the file service, holding real files in memory, with faults to inject.
// Registers are served most significant byte first unless told otherwise.

#include "CamDevice.h"

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <set>
#include <string>
#include <vector>

// Space 0x1001 below 1 MiB is plain memory that reads back what was written.
class SimCamera : public CamTransportOps
{
public:
    using Bytes = std::vector<uint8_t>;

    struct Options {
        bool m_bCrc = true;       // advertise CRC-16 checks
        bool m_bFastRead = false; // advertise the fast block read
        bool m_bLittleEndianRegisters = false;
        bool m_bAllowCreate = true;  // a write may create a missing file
        int m_iSelectBusyPolls = 0;  // status reads that answer busy after a select
        int m_iCommandBusyPolls = 0; // command-status reads that answer busy
        std::string m_id = "sim0";
    };

    SimCamera();
    explicit SimCamera(const Options& options);
    ~SimCamera() override;

    // Serves this transport value until the object ends.
    void Install(int transport);
    // Behind another driver: keeps the byte order of this wire without taking the transport's place.
    void SetWire(int transport) { m_iWire = transport; }
    std::string DeviceName() const;

    // Flags are the status bits beyond done; by default readable, writable, deletable and growable.
    static constexpr uint32_t kDefaultFlags = 0x08 | 0x10 | 0x20 | 0x40;
    void AddFile(const std::string& path, Bytes bytes, uint32_t flags = kDefaultFlags, uint32_t time = 0);
    // Shares one set of bytes between files, so that many large files cost memory once.
    void AddSharedFile(const std::string& path, std::shared_ptr<const Bytes> bytes, uint32_t time = 0);
    void AddFolder(const std::string& path);
    bool GetFile(const std::string& path, Bytes& bytes) const;
    bool HasFile(const std::string& path) const;
    size_t FileCount() const;
    void SetAttributes(const std::string& path, uint32_t attributes);
    uint32_t GetAttributes(const std::string& path) const;

    // Faults.
    void Unplug();
    void Plug();
    // Unplugs after this many further data-window reads.
    void UnplugAfterWindowReads(int reads);
    void SetCorruptCrc(bool corrupt);
    void SetCommandStuck(bool stuck);
    void SetRefuseDelete(bool refuse);
    void SetStatusUnreadable(bool unreadable);
    // Every pattern path answers this text, as a camera that lists what it likes.
    void SetListingOverride(const std::string& text);
    // A camera that stops answering: every transport read and write from now on waits
    // until Release, or for `hold` at most.
    void Stall(std::chrono::milliseconds hold = std::chrono::minutes(2));
    void Release();
    // Transport calls that have waited in a stall.
    int StalledCalls() const;

    // What the host did.
    int CommandCount(uint32_t command) const;
    int TransfersOpen() const;
    int NameWrites() const;
    // Selections of a pattern: each makes the camera list a folder.
    int Listings() const;
    uint32_t LastCommandOffset() const;
    uint32_t LastCommandLength() const;
    uint32_t LastCrc() const;
    std::string ConsoleText() const;
    void SetConsoleMessage(const std::string& text);
    bool ConsoleOn() const;

    // Transport.
    int Count() override;
    bool IdAt(int index, std::string& id) override;
    void* Open(const std::string& id) override;
    void Close(void* handle) override;
    bool Read(void* handle, uint32_t offset, uint32_t space, void* buffer, uint32_t count) override;
    bool Write(void* handle, uint32_t offset, uint32_t space, const void* data, uint32_t count) override;
    bool IsGone(void* handle) override;
    bool ReadConfig(void* handle, CamConfig& config) override;

private:
    struct File {
        std::shared_ptr<const Bytes> m_pBytes;
        uint32_t m_flags = kDefaultFlags;
        uint32_t m_attributes = 2;
        uint32_t m_time = 0;
    };

    void priPutWord(Bytes& image, uint32_t at, uint32_t value) const;
    uint32_t priRegisterRead(uint32_t reg);
    void priRegisterWrite(uint32_t reg, uint32_t value);
    void priSelect(const std::string& path);
    void priRunCommand(uint32_t command);
    std::string priListing(const std::string& pattern) const;
    bool priReadLocked(uint32_t offset, uint32_t space, uint8_t* out, uint32_t count);
    bool priWriteLocked(uint32_t offset, uint32_t space, const uint8_t* in, uint32_t count);

    void priWaitWhileStalled();

    mutable std::mutex m_lock;
    // Apart from m_lock, so that a stalled call holds nothing the test needs.
    mutable std::mutex m_stallLock;
    std::condition_variable m_stallChanged;
    bool m_bStalled = false;
    std::chrono::milliseconds m_stallHold{0};
    int m_iStalledCalls = 0;
    Options m_options;
    int m_iInstalledAs = kCamTransportNone;
    int m_iWire = kCamTransportNone;
    std::map<std::string, File> m_files;
    std::set<std::string> m_folders;
    Bytes m_configSpace; // 0xF0000000 upwards of space 0xFFFF
    Bytes m_plainMemory; // space 0x1001: plain bytes, for transport tests
    bool m_bUnplugged = false;
    int m_iUnplugAfter = -1;
    bool m_bCorruptCrc = false;
    bool m_bCommandStuck = false;
    bool m_bRefuseDelete = false;
    bool m_bStatusUnreadable = false;
    bool m_bListingOverride = false;
    std::string m_listingOverride;

    // File service state.
    std::string m_selected;
    bool m_bSelectedExists = false;
    bool m_bSelectedIsListing = false;
    std::shared_ptr<const Bytes> m_pListing;
    uint32_t m_status = 0;
    int m_iSelectBusy = 0;
    int m_iCommandBusy = 0;
    uint32_t m_transfer = 0;
    uint32_t m_crc = 0;
    uint32_t m_offset = 0;
    uint32_t m_length = 0;
    uint32_t m_commandStatus = 0;
    std::shared_ptr<const Bytes> m_pReadWindow;
    uint32_t m_readStart = 0;
    uint32_t m_readLength = 0;
    Bytes m_writeWindow;
    std::map<uint32_t, int> m_commands;
    int m_iTransfersOpen = 0;
    int m_iNameWrites = 0;
    int m_iListings = 0;
    uint8_t m_nameBlock[124] = {};

    // Console.
    uint32_t m_consoleFlag = 0;
    uint8_t m_consoleBlock[128] = {};
    std::string m_consoleText;
};
