#include "FSCFileWin.h"

#include "FDiskOs.h"
#include "FException.h"
#include "StorageClassRegistry.h"

#include <cerrno>
#include <fcntl.h>
#include <map>
#include <mutex>
#include <string>
#include <sys/stat.h>
#include <unistd.h>
#include <utility>

namespace
{

// One write count per open file (device and inode), shared by all its objects.
std::shared_ptr<std::atomic<uint64_t>> SharedWriteCount(const struct stat& st)
{
    static std::mutex lock;
    static std::map<std::pair<dev_t, ino_t>, std::weak_ptr<std::atomic<uint64_t>>> counts;
    static unsigned opens = 0;
    std::lock_guard guard(lock);
    if (++opens % 256 == 0)
        std::erase_if(counts, [](const auto& entry) { return entry.second.expired(); });
    std::weak_ptr<std::atomic<uint64_t>>& slot = counts[{st.st_dev, st.st_ino}];
    std::shared_ptr<std::atomic<uint64_t>> count = slot.lock();
    if (!count) {
        count = std::make_shared<std::atomic<uint64_t>>(0);
        slot = count;
    }
    return count;
}

} // namespace

FSCFileWin::FSCFileWin(const FWideString& className, const FWideString& nativePath, int mode, bool createNew)
    : m_className(className), m_nativePath(nativePath)
{
    // Never O_APPEND: Seek then Write must still write at the position.
    int flags = O_CLOEXEC | O_NONBLOCK | O_NOCTTY;
    if (mode & kFileWrite) {
        flags |= O_RDWR | O_CREAT;
        if (!(mode & kFileAppend))
            flags |= O_TRUNC;
        if (createNew)
            flags |= O_EXCL;
    } else {
        flags |= O_RDONLY;
    }
    std::string path = NativeBytes(nativePath);
    // A FIFO or device opened without O_NONBLOCK could block for ever; only
    // regular files are files here.
    struct stat st;
    if (path.empty() || (stat(path.c_str(), &st) == 0 && !S_ISREG(st.st_mode)))
        throw FExceptionFileOpen("");
    m_hFile = open(path.c_str(), flags, 0666);
    if (m_hFile < 0)
        throw FExceptionFileOpen("");
    if (fstat(m_hFile, &st) != 0 || !S_ISREG(st.st_mode)) {
        close(m_hFile);
        m_hFile = -1;
        throw FExceptionFileOpen("");
    }
    fcntl(m_hFile, F_SETFL, fcntl(m_hFile, F_GETFL) & ~O_NONBLOCK);
    m_pWrites = SharedWriteCount(st);

    if (st.st_size > 1) {
        unsigned char mark[2] = {0, 0};
        if (pread(m_hFile, mark, 2, 0) == 2) {
            if (mark[0] == 0xFF && mark[1] == 0xFE)
                m_iTextMode = kTextUtf16LE;
            else if (mark[0] == 0xFE && mark[1] == 0xFF)
                m_iTextMode = kTextUtf16BE;
        }
    }
    if ((mode & kFileWrite) && (mode & kFileAppend))
        m_iPosition = static_cast<uint64_t>(st.st_size);
}

FSCFileWin::~FSCFileWin()
{
    if (m_hFile >= 0)
        close(m_hFile);
}

void FSCFileWin::Seek(uint64_t position)
{
    m_iPosition = position > static_cast<uint64_t>(INT64_MAX) ? static_cast<uint64_t>(INT64_MAX) : position;
}

uint64_t FSCFileWin::Tell()
{
    return m_iPosition;
}

int FSCFileWin::ReadSome(void* buffer, int n)
{
    if (n <= 0)
        return 0;
    auto* bytes = static_cast<unsigned char*>(buffer);
    int total = 0;
    while (total < n) {
        ssize_t got = pread(m_hFile, bytes + total, static_cast<size_t>(n - total),
                            static_cast<off_t>(m_iPosition + static_cast<uint64_t>(total)));
        if (got < 0 && errno == EINTR)
            continue;
        if (got <= 0)
            break;
        total += static_cast<int>(got);
    }
    m_iPosition += static_cast<uint64_t>(total);
    return total;
}

int FSCFileWin::Read(void* buffer, int n)
{
    if (ReadSome(buffer, n) < n)
        throw FExceptionEOF();
    return n;
}

namespace
{

constexpr size_t kLineChunk = 4096;

// The string's append rule, applied to a plain buffer so that a line costs one
// allocation: NUL is dropped and a backspace removes the unit before it.
void AppendUnit(std::u16string& text, char16_t unit)
{
    if (unit == 0)
        return;
    if (unit == 8) {
        if (!text.empty())
            text.pop_back();
        return;
    }
    text.push_back(unit);
}

} // namespace

// Lines are read ahead in chunks, so that most lines cost no system call; the
// position ends exactly where reading byte by byte would have left it.
bool FSCFileWin::priNextLineByte(uint64_t& position, unsigned char& byte)
{
    bool cached = m_pLineCache && position >= m_iCacheStart && position - m_iCacheStart < m_iCacheLength;
    if (!cached) {
        if (!m_pLineCache)
            m_pLineCache = std::make_unique<unsigned char[]>(kLineChunk);
        m_iCacheLength = 0;
        m_iCacheWrites = m_pWrites->load();
        ssize_t got;
        do {
            got = pread(m_hFile, m_pLineCache.get(), kLineChunk, static_cast<off_t>(position));
        } while (got < 0 && errno == EINTR);
        if (got <= 0)
            return false;
        m_iCacheStart = position;
        m_iCacheLength = static_cast<size_t>(got);
    }
    byte = m_pLineCache[position - m_iCacheStart];
    ++position;
    return true;
}

bool FSCFileWin::priNextLineUnit(uint64_t& position, char16_t& unit)
{
    if (m_iTextMode == kTextBytes) {
        unsigned char byte = 0;
        if (!priNextLineByte(position, byte))
            return false;
        // Bytes widen as signed values.
        unit = static_cast<char16_t>(static_cast<signed char>(byte));
        return true;
    }
    // A unit needs two bytes; a final odd byte is consumed and ignored.
    unsigned char first = 0;
    unsigned char second = 0;
    if (!priNextLineByte(position, first) || !priNextLineByte(position, second))
        return false;
    if (m_iTextMode == kTextUtf16BE)
        unit = static_cast<char16_t>((first << 8) | second);
    else
        unit = static_cast<char16_t>(first | (second << 8));
    return true;
}

bool FSCFileWin::ReadLine(FWideString& line)
{
    std::u16string text;
    uint64_t position = m_iPosition;
    if (m_iCacheWrites != m_pWrites->load())
        m_iCacheLength = 0;
    // The byte-order mark is never part of a line.
    if (m_iTextMode != kTextBytes && position < 2)
        position = 2;

    char16_t unit = 0;
    while (priNextLineUnit(position, unit)) {
        AppendUnit(text, unit);
        if (unit == u'\r' || unit == u'\n')
            break;
    }
    bool result = !text.empty();
    if (result && unit == u'\r') {
        uint64_t back = position;
        char16_t following = 0;
        if (priNextLineUnit(position, following) && following == u'\n')
            text.push_back(following);
        else
            position = back;
    }
    m_iPosition = position;
    line = text.c_str();
    return result;
}

void FSCFileWin::priThrowWrite(const char* operation)
{
    FNarrowString message("FSCFileWin::%s: '%s'", operation, NativeBytes(m_nativePath).c_str());
    throw FExceptionFileWrite(message.GetCString());
}

void FSCFileWin::Write(const void* buffer, int n)
{
    m_iCacheLength = 0;
    // A short write (a full disk) must not pass for success: a truncated file
    // would otherwise look saved.
    const auto* bytes = static_cast<const unsigned char*>(buffer);
    int total = 0;
    while (total < n) {
        ssize_t put = pwrite(m_hFile, bytes + total, static_cast<size_t>(n - total),
                             static_cast<off_t>(m_iPosition + static_cast<uint64_t>(total)));
        if (put < 0 && errno == EINTR)
            continue;
        if (put <= 0) {
            m_iPosition += static_cast<uint64_t>(total);
            m_pWrites->fetch_add(1);
            priThrowWrite("Write");
        }
        total += static_cast<int>(put);
    }
    m_iPosition += static_cast<uint64_t>(total);
    m_pWrites->fetch_add(1);
}

void FSCFileWin::Flush()
{
    if (fsync(m_hFile) != 0 && errno != EINVAL)
        priThrowWrite("Flush");
}

void FSCFileWin::SetSize(uint64_t size)
{
    // The position stays where it was, even beyond the new end.
    m_iCacheLength = 0;
    const bool resized =
        size <= static_cast<uint64_t>(INT64_MAX) && ftruncate(m_hFile, static_cast<off_t>(size)) == 0;
    m_pWrites->fetch_add(1);
    if (!resized)
        priThrowWrite("SetSize");
}

uint64_t FSCFileWin::GetSize()
{
    struct stat st;
    if (fstat(m_hFile, &st) != 0)
        return 0;
    return static_cast<uint64_t>(st.st_size);
}

FWideString FSCFileWin::GetURL()
{
    FWideString url;
    NativePathToURL(m_nativePath, url);
    return url;
}

void FSCFileWin::GetInfo(FFileInfo& info)
{
    struct statx sx;
    if (statx(m_hFile, "", AT_EMPTY_PATH, STATX_BASIC_STATS | STATX_BTIME, &sx) != 0)
        return;
    if (sx.stx_mode & S_IWUSR)
        info.m_iFlags &= ~kFileAttrReadOnly;
    else
        info.m_iFlags |= kFileAttrReadOnly;
    info.m_iModified = sx.stx_mtime.tv_sec;
    info.m_iAccessed = sx.stx_atime.tv_sec;
    // Not every file system records a birth time.
    info.m_iCreated = (sx.stx_mask & STATX_BTIME) ? sx.stx_btime.tv_sec : sx.stx_mtime.tv_sec;
}

void FSCFileWin::SetAttributes(const FFileInfo& info)
{
    struct stat st;
    if (fstat(m_hFile, &st) != 0)
        return;
    mode_t mode = st.st_mode & 07777;
    // Read-only is the owner's write bit alone, so locking and unlocking give back the
    // group's and others' bits as they were.
    if (info.m_iFlags & kFileAttrReadOnly)
        mode &= ~static_cast<mode_t>(S_IWUSR);
    else
        mode |= S_IWUSR;
    if (mode == (st.st_mode & 07777))
        return;
    if (fchmod(m_hFile, mode) != 0) {
        FNarrowString message("FSCFileWin::SetAttributes: '%s'", NativeBytes(m_nativePath).c_str());
        throw FExceptionFileIO(message.GetCString());
    }
}
