#include "SimCamera.h"

#include "CamProtocol.h"
#include "FByteOrder.h"

#include <algorithm>
#include <cstring>
#include <fnmatch.h>

namespace
{

constexpr uint32_t kConfigBase = 0xF0000000;
constexpr uint32_t kDirectoryAt = 0x10000;
constexpr uint32_t kConfigBytes = kDirectoryAt + 0x10 + 16 * 4;

std::string ParentOf(const std::string& path)
{
    const size_t slash = path.rfind('/');
    return slash == std::string::npos || slash == 0 ? std::string() : path.substr(0, slash);
}

} // namespace

SimCamera::SimCamera() : SimCamera(Options()) {}

SimCamera::SimCamera(const Options& options) : m_options(options), m_configSpace(kConfigBytes, 0)
{
    std::memcpy(m_configSpace.data() + (kCamProbeOffset - kConfigBase), kCamProbeBytes, 4);
    const uint32_t dir = kDirectoryAt;
    // The directory goes out least significant byte first whatever the registers' order;
    // its magic is the bytes "BCVB", reversed when the registers are little-endian.
    const uint8_t magic[4] = {'B', 'C', 'V', 'B'};
    const uint32_t forward = LoadLE32(magic);
    auto put = [&](uint32_t at, uint32_t value) { StoreLE32(m_configSpace.data() + at, value); };
    put(dir, m_options.m_bLittleEndianRegisters ? __builtin_bswap32(forward) : forward);
    const uint32_t entries = m_options.m_bFastRead ? 2 : 1;
    put(dir + 4, entries);
    put(dir + 0x10, kCamCapFileService);
    put(dir + 0x14, m_options.m_bCrc ? 0x20000 : 0x10000);
    if (m_options.m_bFastRead)
        put(dir + 0x20, kCamCapFastRead);
    m_folders.insert("");
}

SimCamera::~SimCamera()
{
    if (m_iInstalledAs != kCamTransportNone) {
        CamLinkShutdown();
        CamSetTransportOps(m_iInstalledAs, nullptr);
    }
}

void SimCamera::Install(int transport)
{
    m_iInstalledAs = transport;
    m_iWire = transport;
    CamSetTransportOps(transport, this);
}

std::string SimCamera::DeviceName() const
{
    static const char* texts[] = {"NONE", "1394", "USB", "FILE", "TCP"};
    return std::string(texts[m_iInstalledAs]) + "@" + m_options.m_id;
}

void SimCamera::priPutWord(Bytes& image, uint32_t at, uint32_t value) const
{
    if (m_options.m_bLittleEndianRegisters)
        StoreLE32(image.data() + at, value);
    else
        StoreLE32(image.data() + at, __builtin_bswap32(value));
}

void SimCamera::AddFile(const std::string& path, Bytes bytes, uint32_t flags, uint32_t time)
{
    std::lock_guard lock(m_lock);
    File file;
    file.m_pBytes = std::make_shared<const Bytes>(std::move(bytes));
    file.m_flags = flags;
    file.m_time = time;
    m_files[path] = file;
    for (std::string parent = ParentOf(path); !parent.empty(); parent = ParentOf(parent))
        m_folders.insert(parent);
}

void SimCamera::AddSharedFile(const std::string& path, std::shared_ptr<const Bytes> bytes, uint32_t time)
{
    std::lock_guard lock(m_lock);
    File file;
    file.m_pBytes = std::move(bytes);
    file.m_time = time;
    m_files[path] = file;
    for (std::string parent = ParentOf(path); !parent.empty(); parent = ParentOf(parent))
        m_folders.insert(parent);
}

void SimCamera::AddFolder(const std::string& path)
{
    std::lock_guard lock(m_lock);
    for (std::string folder = path; !folder.empty(); folder = ParentOf(folder))
        m_folders.insert(folder);
}

bool SimCamera::GetFile(const std::string& path, Bytes& bytes) const
{
    std::lock_guard lock(m_lock);
    auto it = m_files.find(path);
    if (it == m_files.end())
        return false;
    bytes = *it->second.m_pBytes;
    return true;
}

bool SimCamera::HasFile(const std::string& path) const
{
    std::lock_guard lock(m_lock);
    return m_files.count(path) != 0;
}

size_t SimCamera::FileCount() const
{
    std::lock_guard lock(m_lock);
    return m_files.size();
}

void SimCamera::SetAttributes(const std::string& path, uint32_t attributes)
{
    std::lock_guard lock(m_lock);
    m_files[path].m_attributes = attributes;
}

uint32_t SimCamera::GetAttributes(const std::string& path) const
{
    std::lock_guard lock(m_lock);
    auto it = m_files.find(path);
    return it == m_files.end() ? 0 : it->second.m_attributes;
}

void SimCamera::Unplug()
{
    std::lock_guard lock(m_lock);
    m_bUnplugged = true;
}

void SimCamera::Plug()
{
    std::lock_guard lock(m_lock);
    m_bUnplugged = false;
    m_iUnplugAfter = -1;
}

void SimCamera::UnplugAfterWindowReads(int reads)
{
    std::lock_guard lock(m_lock);
    m_iUnplugAfter = reads;
}

void SimCamera::SetCorruptCrc(bool corrupt)
{
    std::lock_guard lock(m_lock);
    m_bCorruptCrc = corrupt;
}

void SimCamera::SetCommandStuck(bool stuck)
{
    std::lock_guard lock(m_lock);
    m_bCommandStuck = stuck;
}

void SimCamera::SetRefuseDelete(bool refuse)
{
    std::lock_guard lock(m_lock);
    m_bRefuseDelete = refuse;
}

void SimCamera::SetStatusUnreadable(bool unreadable)
{
    std::lock_guard lock(m_lock);
    m_bStatusUnreadable = unreadable;
}

void SimCamera::SetListingOverride(const std::string& text)
{
    std::lock_guard lock(m_lock);
    m_bListingOverride = true;
    m_listingOverride = text;
}

int SimCamera::CommandCount(uint32_t command) const
{
    std::lock_guard lock(m_lock);
    auto it = m_commands.find(command);
    return it == m_commands.end() ? 0 : it->second;
}

int SimCamera::TransfersOpen() const
{
    std::lock_guard lock(m_lock);
    return m_iTransfersOpen;
}

int SimCamera::NameWrites() const
{
    std::lock_guard lock(m_lock);
    return m_iNameWrites;
}

int SimCamera::Listings() const
{
    std::lock_guard lock(m_lock);
    return m_iListings;
}

uint32_t SimCamera::LastCommandOffset() const
{
    std::lock_guard lock(m_lock);
    return m_offset;
}

uint32_t SimCamera::LastCommandLength() const
{
    std::lock_guard lock(m_lock);
    return m_length;
}

uint32_t SimCamera::LastCrc() const
{
    std::lock_guard lock(m_lock);
    return m_crc;
}

std::string SimCamera::ConsoleText() const
{
    std::lock_guard lock(m_lock);
    return m_consoleText;
}

bool SimCamera::ConsoleOn() const
{
    std::lock_guard lock(m_lock);
    return m_consoleFlag != 0;
}

void SimCamera::SetConsoleMessage(const std::string& text)
{
    std::lock_guard lock(m_lock);
    std::memset(m_consoleBlock, 0, sizeof m_consoleBlock);
    const size_t n = std::min<size_t>(text.size(), 127);
    m_consoleBlock[0] = static_cast<uint8_t>(n);
    std::memcpy(m_consoleBlock + 1, text.data(), n);
    if (!m_options.m_bLittleEndianRegisters)
        CamReverseWords(m_consoleBlock, sizeof m_consoleBlock);
}

int SimCamera::Count()
{
    std::lock_guard lock(m_lock);
    return m_bUnplugged ? 0 : 1;
}

bool SimCamera::IdAt(int index, std::string& id)
{
    std::lock_guard lock(m_lock);
    if (m_bUnplugged || index != 0)
        return false;
    id = m_options.m_id;
    return true;
}

void* SimCamera::Open(const std::string& id)
{
    std::lock_guard lock(m_lock);
    if (m_bUnplugged || id != m_options.m_id)
        return nullptr;
    return this;
}

void SimCamera::Close(void*) {}

bool SimCamera::IsGone(void*)
{
    std::lock_guard lock(m_lock);
    return m_bUnplugged;
}

bool SimCamera::ReadConfig(void*, CamConfig& config)
{
    std::lock_guard lock(m_lock);
    CamDefaultConfig(config);
    uint32_t* w = config.m_words;
    w[kCamCfgMagic] = kCamDirectoryMagic;
    w[kCamCfgRead] = 1;
    w[kCamCfgSwap] = m_options.m_bLittleEndianRegisters ? 0 : 1;
    w[kCamCfgEntryCount] = m_options.m_bFastRead ? 2 : 1;
    w[kCamCfgEntries] = kCamCapFileService;
    w[kCamCfgEntries + 1] = m_options.m_bCrc ? 0x20000 : 0x10000;
    if (m_options.m_bFastRead)
        w[kCamCfgEntries + 4] = kCamCapFastRead;
    return true;
}

void SimCamera::Stall(std::chrono::milliseconds hold)
{
    std::lock_guard lock(m_stallLock);
    m_bStalled = true;
    m_stallHold = hold;
}

void SimCamera::Release()
{
    std::lock_guard lock(m_stallLock);
    m_bStalled = false;
    m_stallChanged.notify_all();
}

int SimCamera::StalledCalls() const
{
    std::lock_guard lock(m_stallLock);
    return m_iStalledCalls;
}

void SimCamera::priWaitWhileStalled()
{
    std::unique_lock lock(m_stallLock);
    if (!m_bStalled)
        return;
    ++m_iStalledCalls;
    m_stallChanged.wait_for(lock, m_stallHold, [&] { return !m_bStalled; });
}

bool SimCamera::Read(void*, uint32_t offset, uint32_t space, void* buffer, uint32_t count)
{
    priWaitWhileStalled();
    std::lock_guard lock(m_lock);
    if (m_bUnplugged)
        return false;
    return priReadLocked(offset, space, static_cast<uint8_t*>(buffer), count);
}

bool SimCamera::Write(void*, uint32_t offset, uint32_t space, const void* data, uint32_t count)
{
    priWaitWhileStalled();
    std::lock_guard lock(m_lock);
    if (m_bUnplugged)
        return false;
    return priWriteLocked(offset, space, static_cast<const uint8_t*>(data), count);
}

namespace
{

constexpr uint32_t kPlainSpace = 0x1001;
constexpr uint64_t kPlainBytes = 1u << 20;

} // namespace

bool SimCamera::priReadLocked(uint32_t offset, uint32_t space, uint8_t* out, uint32_t count)
{
    const bool on1394 = m_iWire == kCamTransport1394;
    if (space == kPlainSpace) {
        if (offset + uint64_t(count) > kPlainBytes)
            return false;
        if (m_plainMemory.size() < offset + uint64_t(count))
            m_plainMemory.resize(offset + count);
        std::memcpy(out, m_plainMemory.data() + offset, count);
        return true;
    }
    if (space == kCamSpaceConfig) {
        if (offset < kConfigBase || uint64_t(offset - kConfigBase) + count > m_configSpace.size())
            return false;
        std::memcpy(out, m_configSpace.data() + (offset - kConfigBase), count);
        return true;
    }
    if (space == kCamSpaceConsole) {
        if (offset == kCamConsoleFlag && count == 4) {
            Bytes word(4);
            priPutWord(word, 0, m_consoleFlag);
            std::memcpy(out, word.data(), 4);
            return true;
        }
        if (offset >= kCamConsoleBlock &&
            offset - kCamConsoleBlock + uint64_t(count) <= sizeof m_consoleBlock) {
            std::memcpy(out, m_consoleBlock + (offset - kCamConsoleBlock), count);
            return true;
        }
        return false;
    }
    if (space != kCamSpaceFile)
        return false;
    if (offset >= kCamDataWindow) {
        const uint64_t at = offset - kCamDataWindow;
        if (!m_pReadWindow && m_transfer != 0) {
            // During a write the window reads back what the host put there.
            if (at + count > ((uint64_t(m_transfer) + 3) & ~uint64_t{3}))
                return false;
            for (uint32_t i = 0; i < count; ++i)
                out[i] = at + i < m_writeWindow.size() ? m_writeWindow[at + i] : 0;
            if (on1394)
                CamReverseWords(out, count);
            return true;
        }
        if (!m_pReadWindow || at + count > ((uint64_t(m_readLength) + 3) & ~uint64_t{3}))
            return false;
        if (m_iUnplugAfter == 0) {
            m_bUnplugged = true;
            return false;
        }
        if (m_iUnplugAfter > 0)
            --m_iUnplugAfter;
        // Bytes past the end of the data pad the last word with zeros.
        const uint64_t available = at < m_readLength ? m_readLength - at : 0;
        const uint32_t copy = static_cast<uint32_t>(std::min<uint64_t>(count, available));
        std::memcpy(out, m_pReadWindow->data() + m_readStart + at, copy);
        std::memset(out + copy, 0, count - copy);
        if (on1394)
            CamReverseWords(out, count);
        return true;
    }
    if ((offset & 3) || (count & 3))
        return false;
    if (m_bStatusUnreadable && offset <= kCamRegStatus && kCamRegStatus < offset + count)
        return false;
    Bytes word(4);
    for (uint32_t i = 0; i < count; i += 4) {
        priPutWord(word, 0, priRegisterRead(offset + i));
        std::memcpy(out + i, word.data(), 4);
    }
    return true;
}

bool SimCamera::priWriteLocked(uint32_t offset, uint32_t space, const uint8_t* in, uint32_t count)
{
    const bool on1394 = m_iWire == kCamTransport1394;
    auto wordAt = [&](uint32_t i) {
        const uint32_t raw = LoadLE32(in + i);
        return m_options.m_bLittleEndianRegisters ? raw : __builtin_bswap32(raw);
    };
    if (space == kPlainSpace) {
        if (offset + uint64_t(count) > kPlainBytes)
            return false;
        if (m_plainMemory.size() < offset + uint64_t(count))
            m_plainMemory.resize(offset + count);
        std::memcpy(m_plainMemory.data() + offset, in, count);
        return true;
    }
    if (space == kCamSpaceConsole) {
        if (offset == kCamConsoleFlag && count == 4) {
            m_consoleFlag = wordAt(0);
            return true;
        }
        if (offset >= kCamConsoleBlock &&
            offset - kCamConsoleBlock + uint64_t(count) <= sizeof m_consoleBlock) {
            std::memcpy(m_consoleBlock + (offset - kCamConsoleBlock), in, count);
            uint8_t block[128];
            std::memcpy(block, m_consoleBlock, sizeof block);
            if (!m_options.m_bLittleEndianRegisters)
                CamReverseWords(block, sizeof block);
            m_consoleText.append(reinterpret_cast<const char*>(block + 1), std::min<int>(block[0], 127));
            return true;
        }
        return false;
    }
    if (space != kCamSpaceFile)
        return false;
    if (offset >= kCamDataWindow) {
        const uint64_t at = offset - kCamDataWindow;
        const uint64_t limit = (uint64_t(m_transfer) + 3) & ~uint64_t{3};
        if (m_transfer == 0 || at + count > limit)
            return false;
        if (m_writeWindow.size() < at + count)
            m_writeWindow.resize(at + count);
        std::memcpy(m_writeWindow.data() + at, in, count);
        if (on1394)
            CamReverseWords(m_writeWindow.data() + at, count);
        return true;
    }
    if (offset >= kCamRegName && offset < kCamRegName + kCamNameBlockBytes) {
        // The name may come in pieces (16 bytes at a time over USB); its NUL ends it.
        const uint32_t at = offset - kCamRegName;
        if ((count & 3) || at + count > static_cast<uint32_t>(kCamNameBlockBytes))
            return false;
        Bytes piece(in, in + count);
        if (on1394)
            CamReverseWords(piece.data(), count);
        std::copy(piece.begin(), piece.end(), m_nameBlock + at);
        if (at == 0)
            ++m_iNameWrites;
        if (std::find(piece.begin(), piece.end(), 0) != piece.end()) {
            const uint8_t* end = std::find(m_nameBlock, m_nameBlock + kCamNameBlockBytes, 0);
            priSelect(
                std::string(reinterpret_cast<const char*>(m_nameBlock), reinterpret_cast<const char*>(end)));
        }
        return true;
    }
    if ((offset & 3) || (count & 3))
        return false;
    for (uint32_t i = 0; i < count; i += 4)
        priRegisterWrite(offset + i, wordAt(i));
    return true;
}

uint32_t SimCamera::priRegisterRead(uint32_t reg)
{
    auto it = m_files.find(m_selected);
    const File* file = it == m_files.end() ? nullptr : &it->second;
    switch (reg) {
    case kCamRegTransfer:
        return m_transfer;
    case kCamRegStatus:
        if (m_iSelectBusy > 0) {
            --m_iSelectBusy;
            return kCamStatusBusy;
        }
        return m_status;
    case kCamRegSize:
        if (m_bSelectedIsListing)
            return static_cast<uint32_t>(m_pListing->size());
        return file ? static_cast<uint32_t>(file->m_pBytes->size()) : 0;
    case kCamRegAttributes:
        return file ? file->m_attributes : 2;
    case kCamRegTime:
        return file ? file->m_time : 0;
    case kCamRegCrc:
        return m_crc;
    case kCamRegCommandStatus:
        if (m_bCommandStuck)
            return kCamCommandBusy;
        if (m_iCommandBusy > 0) {
            --m_iCommandBusy;
            return kCamCommandBusy;
        }
        return m_commandStatus;
    default:
        return 0;
    }
}

void SimCamera::priRegisterWrite(uint32_t reg, uint32_t value)
{
    switch (reg) {
    case kCamRegTransfer:
        if (value != 0 && m_transfer == 0)
            ++m_iTransfersOpen;
        if (value == 0 && m_transfer != 0)
            --m_iTransfersOpen;
        // A new length starts a new transfer: the old window is gone.
        m_pReadWindow.reset();
        m_writeWindow.clear();
        m_transfer = value;
        break;
    case kCamRegAttributes:
        if (m_files.count(m_selected))
            m_files[m_selected].m_attributes = value;
        break;
    case kCamRegCrc:
        m_crc = value;
        break;
    case kCamRegOffset:
        m_offset = value;
        break;
    case kCamRegLength:
        m_length = value;
        break;
    case kCamRegCommand:
        priRunCommand(value);
        break;
    default:
        break;
    }
}

void SimCamera::priSelect(const std::string& path)
{
    m_selected = path;
    m_iSelectBusy = m_options.m_iSelectBusyPolls;
    m_bSelectedIsListing = false;
    m_pListing.reset();
    if (std::strpbrk(path.c_str(), "*?")) {
        ++m_iListings;
        m_bSelectedIsListing = true;
        m_pListing = std::make_shared<const Bytes>(Bytes());
        const std::string text = priListing(path);
        m_pListing = std::make_shared<const Bytes>(text.begin(), text.end());
        m_status = kCamStatusDone | kCamStatusReadable;
        return;
    }
    auto it = m_files.find(path);
    if (it != m_files.end()) {
        m_status = kCamStatusDone | it->second.m_flags;
        return;
    }
    const bool creatable =
        m_options.m_bAllowCreate && m_folders.count(ParentOf(path)) && !m_folders.count(path);
    m_status = kCamStatusDone | (creatable ? kCamStatusWritable | kCamStatusGrowable : 0);
}

std::string SimCamera::priListing(const std::string& pattern) const
{
    if (m_bListingOverride)
        return m_listingOverride;
    const std::string folder = ParentOf(pattern);
    const std::string glob = pattern.substr(pattern.rfind('/') + 1);
    std::string text;
    auto matches = [&](const std::string& path) {
        return ParentOf(path) == folder &&
               fnmatch(glob.c_str(), path.substr(folder.size() + 1).c_str(), 0) == 0;
    };
    for (const std::string& sub : m_folders) {
        if (!sub.empty() && matches(sub))
            text += sub + "\t0\t0\tD\n";
    }
    for (const auto& [path, file] : m_files) {
        if (!matches(path))
            continue;
        text += path + "\t" + std::to_string(file.m_pBytes->size()) + "\t" + std::to_string(file.m_time) +
                "\t" + ((file.m_attributes & 1) ? "L" : "") + "\n";
    }
    return text;
}

void SimCamera::priRunCommand(uint32_t command)
{
    ++m_commands[command];
    m_iCommandBusy = m_options.m_iCommandBusyPolls;
    m_commandStatus = kCamCommandIdle;
    auto it = m_files.find(m_selected);
    File* file = it == m_files.end() ? nullptr : &it->second;
    const bool wholeFile = (m_status & kCamStatusWholeFile) != 0;

    if (command == kCamCmdRead) {
        std::shared_ptr<const Bytes> source = m_bSelectedIsListing ? m_pListing
                                              : file               ? file->m_pBytes
                                                                   : nullptr;
        if (!source || !(m_status & kCamStatusReadable))
            return;
        const uint32_t start = wholeFile ? 0 : m_offset;
        const uint64_t length = wholeFile ? source->size() : m_length;
        if (start + length > source->size())
            return;
        m_pReadWindow = source;
        m_readStart = start;
        m_readLength = static_cast<uint32_t>(length);
        if (m_options.m_bCrc) {
            m_crc = Crc16Ccitt(source->data() + start, m_readLength);
            if (m_bCorruptCrc)
                m_crc ^= 1;
        }
        m_commandStatus = kCamCommandDone;
        return;
    }
    if (command == kCamCmdWrite) {
        if (!(m_status & kCamStatusWritable) || m_writeWindow.size() < m_length)
            return;
        if (m_options.m_bCrc && Crc16Ccitt(m_writeWindow.data(), m_length) != m_crc)
            return;
        Bytes updated = file ? *file->m_pBytes : Bytes();
        if (wholeFile) {
            updated.assign(m_writeWindow.begin(), m_writeWindow.begin() + m_length);
        } else {
            const uint64_t end = uint64_t(m_offset) + m_length;
            if (end > updated.size()) {
                if (!(m_status & kCamStatusGrowable))
                    return;
                updated.resize(end);
            }
            std::copy(m_writeWindow.begin(), m_writeWindow.begin() + m_length, updated.begin() + m_offset);
        }
        File& target = m_files[m_selected];
        if (!file)
            target.m_flags = kDefaultFlags;
        target.m_pBytes = std::make_shared<const Bytes>(std::move(updated));
        m_commandStatus = kCamCommandDone;
        return;
    }
    if (command == kCamCmdDelete) {
        if (!file || m_bRefuseDelete || !(m_status & kCamStatusDeletable) ||
            m_length != file->m_pBytes->size())
            return;
        m_files.erase(it);
        m_commandStatus = kCamCommandDone;
    }
}
