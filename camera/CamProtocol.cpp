#include "CamProtocol.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <memory>
#include <mutex>
#include <new>

namespace
{

constexpr int kReadyStepMs = 10;
constexpr int kUsbCommandStepMs = 400;
constexpr int kUsbStatusStepMs = 100;
constexpr int kUsbWritePauseMs = 200;

CamLock& ProtocolLock()
{
    static CamLock lock;
    return lock;
}

bool OnUsb(const CamDevice* device)
{
    return device->m_iTransport == kCamTransportUsb;
}

uint32_t RoundUp4(uint32_t n)
{
    return static_cast<uint32_t>((static_cast<uint64_t>(n) + 3) & ~uint64_t{3});
}

// Only 1394 carries the data window and the name block with each word reversed.
void SwapForTransport(const CamDevice* device, void* buffer, uint32_t count)
{
    if (device->m_iTransport == kCamTransport1394)
        CamReverseWords(buffer, count);
}

bool ReadRegister(CamDevice* device, uint32_t reg, uint32_t& value)
{
    return CamReadQuadlet(device, reg, kCamSpaceFile, value) != 0;
}

bool WriteRegister(CamDevice* device, uint32_t reg, uint32_t value)
{
    return CamWriteQuadlet(device, reg, kCamSpaceFile, value) != 0;
}

// Reads a register every step until `settled` says the poll is over (its answer is the
// wait's answer) or the time is up; failed reads are tried again.
template <typename Settled>
bool Poll(CamDevice* device, uint32_t reg, int milliseconds, int step, Settled settled)
{
    const int tries = milliseconds / step;
    for (int i = 0; i < tries; ++i) {
        uint32_t value = 0;
        bool answer = false;
        if (ReadRegister(device, reg, value) && settled(value, answer))
            return answer;
        if (i + 1 < tries)
            CamSleep(step);
    }
    return false;
}

// The service answers at all.
bool WaitReady(CamDevice* device, int milliseconds)
{
    return Poll(device, kCamRegTransfer, milliseconds, kReadyStepMs, [](uint32_t, bool& answer) {
        answer = true;
        return true;
    });
}

bool WaitUsbDone(CamDevice* device, int milliseconds)
{
    return Poll(device, kCamRegCommandStatus, milliseconds, kUsbCommandStepMs,
                [](uint32_t value, bool& answer) {
                    answer = true;
                    return value == kCamCommandIdle || value == kCamCommandDone;
                });
}

bool WaitUsbCommand(CamDevice* device, int milliseconds)
{
    return Poll(device, kCamRegCommandStatus, milliseconds, kUsbCommandStepMs,
                [](uint32_t value, bool& answer) {
                    answer = value == kCamCommandDone;
                    return value != kCamCommandBusy;
                });
}

bool WaitStatus(CamDevice* device, int milliseconds, uint32_t* status)
{
    const int step = OnUsb(device) ? kUsbStatusStepMs : kReadyStepMs;
    const int tries = milliseconds / step;
    for (int i = 0; i < tries; ++i) {
        uint32_t value = 0;
        if (ReadRegister(device, kCamRegStatus, value)) {
            if (value & kCamStatusDone) {
                if (status)
                    *status = value;
                return true;
            }
            if (!(value & kCamStatusBusy))
                return false;
        }
        if (i + 1 < tries)
            CamSleep(step);
    }
    return false;
}

// Off USB a command is over once the service answers again; bit 1 of its status says how it went.
bool WaitCommandDone(CamDevice* device, int usbMilliseconds)
{
    if (OnUsb(device))
        return WaitUsbCommand(device, usbMilliseconds);
    uint32_t status = 0;
    return WaitReady(device, 300) && ReadRegister(device, kCamRegCommandStatus, status) &&
           (status & kCamCommandDone);
}

bool Command(CamDevice* device, uint32_t command, uint32_t offset, uint32_t length, uint32_t crc,
             uint32_t deleteLength)
{
    if (command != kCamCmdRead && command != kCamCmdWrite && command != kCamCmdDelete)
        return false;
    if (!WriteRegister(device, kCamRegOffset, offset))
        return false;
    if (!WriteRegister(device, kCamRegLength, command == kCamCmdDelete ? deleteLength : length))
        return false;
    if (command != kCamCmdRead && !WriteRegister(device, kCamRegCrc, crc))
        return false;
    return WriteRegister(device, kCamRegCommand, command);
}

bool StartRead(CamDevice* device, uint32_t offset, uint32_t length)
{
    bool ok = WriteRegister(device, kCamRegTransfer, RoundUp4(length)) &&
              Command(device, kCamCmdRead, offset, length, 0, 0) && WaitCommandDone(device, 8000);
    if (!ok)
        WriteRegister(device, kCamRegTransfer, 0);
    return ok;
}

bool ReadWindow(CamDevice* device, uint32_t windowOffset, uint8_t* buffer, uint32_t length)
{
    uint32_t offset = kCamDataWindow;
    uint32_t space = kCamSpaceFile;
    CamAddressAdvance(offset, space, windowOffset);
    const uint32_t whole = length & ~3u;
    // Straight into the caller's buffer: the swap works in place, so no bounce copy is needed.
    for (uint32_t done = 0; done < whole;) {
        const uint32_t chunk = std::min(kCamWindowChunk, whole - done);
        if (!CamReadBlockFast(device, offset, space, buffer + done, chunk))
            return false;
        SwapForTransport(device, buffer + done, chunk);
        CamAddressAdvance(offset, space, chunk);
        done += chunk;
    }
    if (const uint32_t tail = length - whole) {
        uint8_t word[4];
        if (!CamReadRaw(device, offset, space, word, 4))
            return false;
        SwapForTransport(device, word, 4);
        std::memcpy(buffer + whole, word, tail);
    }
    return true;
}

bool WriteWindow(CamDevice* device, uint32_t windowOffset, const uint8_t* data, uint32_t length)
{
    static uint8_t s_transfer[kCamWindowChunk]; // used only under the protocol lock
    uint32_t offset = kCamDataWindow;
    uint32_t space = kCamSpaceFile;
    CamAddressAdvance(offset, space, windowOffset);
    const uint32_t whole = length & ~3u;
    const bool swaps = device->m_iTransport == kCamTransport1394;
    for (uint32_t done = 0; done < whole;) {
        const uint32_t chunk = std::min(kCamWindowChunk, whole - done);
        const uint8_t* source = data + done;
        if (swaps) {
            std::memcpy(s_transfer, source, chunk);
            SwapForTransport(device, s_transfer, chunk);
            source = s_transfer;
        }
        if (!CamWriteRaw(device, offset, space, source, chunk))
            return false;
        CamAddressAdvance(offset, space, chunk);
        done += chunk;
    }
    if (const uint32_t tail = length - whole) {
        uint8_t word[4];
        if (!CamReadRaw(device, offset, space, word, 4))
            return false;
        SwapForTransport(device, word, 4);
        std::memcpy(word, data + whole, tail);
        SwapForTransport(device, word, 4);
        if (!CamWriteRaw(device, offset, space, word, 4))
            return false;
    }
    return true;
}

bool CrcMatches(CamDevice* device, const uint8_t* data, uint32_t count)
{
    uint32_t expected = 0;
    return ReadRegister(device, kCamRegCrc, expected) && expected == Crc16Ccitt(data, count);
}

// The unlocked body of one read; the transfer it starts is always ended.
bool ReadLocked(CamDevice* device, const char* path, uint32_t offset, uint8_t* buffer, uint32_t length,
                uint32_t& delivered)
{
    uint32_t size = 0;
    uint32_t attributes = 0;
    uint32_t status = 0;
    if (!CamProtoStat(device, path, &size, nullptr, &attributes, &status))
        return false;
    if (!(status & kCamStatusReadable) || offset >= size || size == 0)
        return false;
    const uint32_t count = std::min(length, size - offset);
    if (count == 0)
        return false;
    const bool wholeFile = (status & kCamStatusWholeFile) != 0;
    if (!StartRead(device, wholeFile ? 0 : offset, wholeFile ? size : count))
        return false;

    bool ok = false;
    const bool checks = CamProtoChecksCrc(device);
    if (wholeFile && checks && count != size) {
        // The camera's CRC covers the whole transfer, so the whole window is read to check it.
        if (size <= kCamMaxWholeFileBytes) {
            std::unique_ptr<uint8_t[]> whole(new (std::nothrow) uint8_t[size]);
            ok = whole && ReadWindow(device, 0, whole.get(), size) && CrcMatches(device, whole.get(), size);
            if (ok)
                std::memcpy(buffer, whole.get() + offset, count);
        }
    } else {
        ok = ReadWindow(device, wholeFile ? offset : 0, buffer, count) &&
             (!checks || CrcMatches(device, buffer, count));
    }
    if (!WriteRegister(device, kCamRegTransfer, 0))
        ok = false;
    if (ok)
        delivered = count;
    return ok;
}

bool WritePieceLocked(CamDevice* device, const char* path, uint32_t offset, const uint8_t* data,
                      uint32_t piece)
{
    uint32_t size = 0;
    uint32_t status = 0;
    if (!CamProtoStat(device, path, &size, nullptr, nullptr, &status))
        return false;
    if (!(status & kCamStatusWritable))
        return false;
    if (piece == 0)
        return true;
    const uint64_t end = static_cast<uint64_t>(offset) + piece;
    if (end > UINT32_MAX)
        return false;
    uint32_t newSize = size;
    if (end > size) {
        if (!(status & kCamStatusGrowable))
            return false;
        newSize = static_cast<uint32_t>(end);
    }
    const bool wholeFile = (status & kCamStatusWholeFile) != 0;
    const uint32_t sendCount = wholeFile ? newSize : piece;
    const uint32_t commandOffset = wholeFile ? 0 : offset;

    std::unique_ptr<uint8_t[]> merged;
    const uint8_t* bytes = data;
    if (wholeFile && !(offset == 0 && piece == size)) {
        if (newSize > kCamMaxWholeFileBytes)
            return false;
        // Zeroed: bytes between the old end and the piece are sent too.
        merged.reset(new (std::nothrow) uint8_t[newSize]());
        if (!merged)
            return false;
        if (size > 0) {
            if (!StartRead(device, 0, size))
                return false;
            bool ok = ReadWindow(device, 0, merged.get(), size) &&
                      (!CamProtoChecksCrc(device) || CrcMatches(device, merged.get(), size));
            if (!ok) {
                WriteRegister(device, kCamRegTransfer, 0);
                return false;
            }
        }
        std::memcpy(merged.get() + offset, data, piece);
        bytes = merged.get();
    }

    const uint16_t crc = Crc16Ccitt(bytes, sendCount);
    // Set just before the window is filled: the read-back above has its own length there.
    if (!WriteRegister(device, kCamRegTransfer, RoundUp4(sendCount))) {
        WriteRegister(device, kCamRegTransfer, 0);
        return false;
    }
    bool ok = WriteWindow(device, 0, bytes, sendCount) &&
              Command(device, kCamCmdWrite, commandOffset, sendCount, crc, 0) &&
              WaitCommandDone(device, 4000);
    if (!WriteRegister(device, kCamRegTransfer, 0))
        ok = false;
    return ok;
}

// Eight tables: table k gives a byte's effect followed by k zero bytes, so that
// eight bytes are folded in per step.
using CrcTables = std::array<std::array<uint16_t, 256>, 8>;

const CrcTables& CrcTable()
{
    static const CrcTables tables = [] {
        CrcTables t{};
        for (int i = 0; i < 256; ++i) {
            uint16_t crc = static_cast<uint16_t>(i << 8);
            for (int bit = 0; bit < 8; ++bit)
                crc = static_cast<uint16_t>((crc & 0x8000) ? (crc << 1) ^ 0x1021 : crc << 1);
            t[0][i] = crc;
        }
        for (int k = 1; k < 8; ++k) {
            for (int i = 0; i < 256; ++i)
                t[k][i] = static_cast<uint16_t>((t[k - 1][i] << 8) ^ t[0][t[k - 1][i] >> 8]);
        }
        return t;
    }();
    return tables;
}

bool ConsoleOn(CamDevice* device)
{
    uint32_t flag = 0;
    if (!CamReadQuadlet(device, kCamConsoleFlag, kCamSpaceConsole, flag))
        return false;
    if (flag)
        return true;
    if (!CamWriteQuadlet(device, kCamConsoleFlag, kCamSpaceConsole, 1))
        return false;
    return CamReadQuadlet(device, kCamConsoleFlag, kCamSpaceConsole, flag) && flag != 0;
}

} // namespace

uint16_t Crc16Ccitt(const void* data, uint32_t count)
{
    const CrcTables& t = CrcTable();
    const auto* bytes = static_cast<const uint8_t*>(data);
    uint16_t crc = 0;
    uint32_t i = 0;
    for (; i + 8 <= count; i += 8) {
        const uint8_t* b = bytes + i;
        crc = static_cast<uint16_t>(t[7][(crc >> 8) ^ b[0]] ^ t[6][(crc & 0xFF) ^ b[1]] ^ t[5][b[2]] ^
                                    t[4][b[3]] ^ t[3][b[4]] ^ t[2][b[5]] ^ t[1][b[6]] ^ t[0][b[7]]);
    }
    for (; i < count; ++i)
        crc = static_cast<uint16_t>((crc << 8) ^ t[0][((crc >> 8) ^ bytes[i]) & 0xFF]);
    return crc;
}

bool CamProtoChecksCrc(CamDevice* device)
{
    uint32_t version = 0;
    return CamCapabilityWord(device, kCamCapFileService, 1, version) && version > kCamCrcServiceVersion;
}

int CamProtoSelectFile(CamDevice* device, const char* path, uint32_t* status)
{
    if (!device || !path)
        return 0;
    const bool idle = OnUsb(device) ? WaitUsbDone(device, 4000) : WaitReady(device, 300);
    if (!idle)
        return 0;
    const size_t length = std::strlen(path);
    const size_t blockBytes = (length + 4) & ~size_t{3};
    if (blockBytes > static_cast<size_t>(kCamNameBlockBytes))
        return 0;
    uint8_t block[kCamNameBlockBytes] = {};
    std::memcpy(block, path, length);
    SwapForTransport(device, block, static_cast<uint32_t>(blockBytes));
    if (!CamWriteRaw(device, kCamRegName, kCamSpaceFile, block, static_cast<uint32_t>(blockBytes)))
        return 0;
    return WaitStatus(device, OnUsb(device) ? 4000 : 500, status) ? 1 : 0;
}

int CamProtoStat(CamDevice* device, const char* path, uint32_t* size, uint32_t* time, uint32_t* attributes,
                 uint32_t* status)
{
    uint32_t selected = 0;
    if (!CamProtoSelectFile(device, path, &selected))
        return 0;
    if (status)
        *status = selected;
    if (size && !ReadRegister(device, kCamRegSize, *size))
        return 0;
    if (time && !ReadRegister(device, kCamRegTime, *time))
        return 0;
    if (attributes && !ReadRegister(device, kCamRegAttributes, *attributes))
        return 0;
    return 1;
}

int CamProtoRead(CamDevice* device, const char* path, uint32_t offset, void* buffer, uint32_t length,
                 uint32_t* bytesRead)
{
    if (bytesRead)
        *bytesRead = 0;
    if (!device || !path || (!buffer && length))
        return 0;
    uint32_t delivered = 0;
    bool ok = false;
    {
        std::lock_guard lock(ProtocolLock());
        ok = ReadLocked(device, path, offset, static_cast<uint8_t*>(buffer), length, delivered);
    }
    if (ok && bytesRead)
        *bytesRead = delivered;
    return ok ? 1 : 0;
}

int CamProtoWrite(CamDevice* device, const char* path, uint32_t offset, const void* data, uint32_t length)
{
    if (!device || !path || (!data && length))
        return 0;
    const auto* bytes = static_cast<const uint8_t*>(data);
    const uint32_t pieceLimit = OnUsb(device) ? kCamUsbWritePiece : std::max<uint32_t>(length, 1);
    uint32_t remaining = length;
    do {
        const uint32_t piece = std::min(remaining, pieceLimit);
        bool ok = false;
        {
            std::lock_guard lock(ProtocolLock());
            ok = WritePieceLocked(device, path, offset, bytes, piece);
        }
        // An earlier failed piece fails the whole write, whatever later pieces do.
        if (!ok)
            return 0;
        if (OnUsb(device) && piece > 0) {
            CamSleep(kUsbWritePauseMs);
            std::unique_ptr<uint8_t[]> scratch(new uint8_t[piece]);
            uint32_t got = 0;
            if (!CamProtoRead(device, path, offset, scratch.get(), piece, &got) || got != piece)
                return 0;
        }
        offset += piece;
        bytes += piece;
        remaining -= piece;
    } while (remaining > 0);
    return 1;
}

int CamProtoDelete(CamDevice* device, const char* path)
{
    if (!device || !path)
        return 0;
    std::lock_guard lock(ProtocolLock());
    uint32_t size = 0;
    uint32_t status = 0;
    if (!CamProtoStat(device, path, &size, nullptr, nullptr, &status))
        return 0;
    if (!(status & kCamStatusDeletable))
        return 0;
    if (!Command(device, kCamCmdDelete, 0, 0, 0, size))
        return 0;
    // Off USB the command status is read too, so that a refused delete is not taken for done.
    return WaitCommandDone(device, 4000) ? 1 : 0;
}

int CamProtoSetAttributes(CamDevice* device, const char* path, uint32_t attributes)
{
    if (!device || !path)
        return 0;
    std::lock_guard lock(ProtocolLock());
    if (!CamProtoSelectFile(device, path, nullptr))
        return 0;
    uint32_t word = 0;
    if (!ReadRegister(device, kCamRegAttributes, word))
        return 0;
    word =
        (word & ~(kCamAttrReadOnly | kCamAttrVisible)) | (attributes & (kCamAttrReadOnly | kCamAttrVisible));
    return WriteRegister(device, kCamRegAttributes, word) ? 1 : 0;
}

int CamConsoleRead(CamDevice* device, void* buffer, uint32_t length, uint32_t* bytesRead)
{
    if (bytesRead)
        *bytesRead = 0;
    if (!device || (!buffer && length))
        return 0;
    if (!ConsoleOn(device))
        return 0;
    const uint32_t n = std::min<uint32_t>(length & ~3u, kCamConsoleBlockBytes);
    // Fewer than 4 bytes cannot hold the length byte's word: nothing to deliver.
    if (n < 4)
        return 1;
    uint8_t block[kCamConsoleBlockBytes];
    if (!CamReadBlock(device, kCamConsoleBlock, kCamSpaceConsole, block, n))
        return 0;
    const uint32_t count = std::min<uint32_t>(n - 1, block[0]);
    std::memcpy(buffer, block + 1, count);
    if (bytesRead)
        *bytesRead = count;
    return 1;
}

int CamConsoleWrite(CamDevice* device, const void* data, uint32_t length)
{
    if (!device || (!data && length))
        return 0;
    if (!ConsoleOn(device))
        return 0;
    const auto* bytes = static_cast<const uint8_t*>(data);
    for (uint32_t done = 0; done < length;) {
        const uint32_t piece = std::min<uint32_t>(kCamConsoleMaxMessage, length - done);
        uint8_t block[kCamConsoleBlockBytes] = {};
        block[0] = static_cast<uint8_t>(piece);
        std::memcpy(block + 1, bytes + done, piece);
        if (!CamWriteBlock(device, kCamConsoleBlock, kCamSpaceConsole, block, RoundUp4(piece + 1)))
            return 0;
        done += piece;
    }
    return 1;
}

int CamConsoleOff(CamDevice* device)
{
    uint32_t flag = 0;
    if (!CamReadQuadlet(device, kCamConsoleFlag, kCamSpaceConsole, flag))
        return 0;
    if (flag == 0)
        return 1;
    if (!CamWriteQuadlet(device, kCamConsoleFlag, kCamSpaceConsole, 0))
        return 0;
    return CamReadQuadlet(device, kCamConsoleFlag, kCamSpaceConsole, flag) && flag == 0 ? 1 : 0;
}
