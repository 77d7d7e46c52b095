#include "FSCFileWin.h"

#include "FDiskOs.h"
#include "FException.h"
#include "StorageClassRegistry.h"

#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

FSCFileWin::FSCFileWin(const FWideString& className, const FWideString& nativePath, int mode)
    : m_className(className), m_nativePath(nativePath)
{
    // Never O_APPEND: Seek then Write must still write at the position.
    int flags = O_CLOEXEC | O_NONBLOCK | O_NOCTTY;
    if (mode & kFileWrite) {
        flags |= O_RDWR | O_CREAT;
        if (!(mode & kFileAppend))
            flags |= O_TRUNC;
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
        lseek(m_hFile, 0, SEEK_END);
}

FSCFileWin::~FSCFileWin()
{
    if (m_hFile >= 0)
        close(m_hFile);
}

void FSCFileWin::Seek(uint64_t position)
{
    if (position > static_cast<uint64_t>(INT64_MAX))
        position = static_cast<uint64_t>(INT64_MAX);
    lseek(m_hFile, static_cast<off_t>(position), SEEK_SET);
}

uint64_t FSCFileWin::Tell()
{
    off_t position = lseek(m_hFile, 0, SEEK_CUR);
    return position < 0 ? 0 : static_cast<uint64_t>(position);
}

int FSCFileWin::ReadSome(void* buffer, int n)
{
    if (n <= 0)
        return 0;
    auto* bytes = static_cast<unsigned char*>(buffer);
    int total = 0;
    while (total < n) {
        ssize_t got = read(m_hFile, bytes + total, static_cast<size_t>(n - total));
        if (got < 0 && errno == EINTR)
            continue;
        if (got <= 0)
            break;
        total += static_cast<int>(got);
    }
    return total;
}

int FSCFileWin::Read(void* buffer, int n)
{
    if (ReadSome(buffer, n) < n)
        throw FExceptionEOF();
    return n;
}

bool FSCFileWin::priReadUnit(char16_t& unit)
{
    unsigned char pair[2];
    if (ReadSome(pair, 2) < 2)
        return false;
    if (m_iTextMode == kTextUtf16BE)
        unit = static_cast<char16_t>((pair[0] << 8) | pair[1]);
    else
        unit = static_cast<char16_t>(pair[0] | (pair[1] << 8));
    return true;
}

bool FSCFileWin::ReadLine(FWideString& line)
{
    line.Clear();
    if (m_iTextMode == kTextBytes) {
        char byte = 0;
        bool read = false;
        while (ReadSome(&byte, 1) == 1) {
            read = true;
            line += byte;
            if (byte == '\r' || byte == '\n')
                break;
        }
        if (line.IsEmpty())
            return false;
        if (read && byte == '\r') {
            uint64_t back = Tell();
            char next = 0;
            if (ReadSome(&next, 1) == 1 && next == '\n')
                line += next;
            else
                Seek(back);
        }
        return true;
    }

    // The byte-order mark is never part of a line.
    if (Tell() < 2)
        Seek(2);
    char16_t unit = 0;
    while (priReadUnit(unit)) {
        line += unit;
        if (unit == u'\r' || unit == u'\n')
            break;
    }
    if (line.IsEmpty())
        return false;
    if (unit == u'\r') {
        uint64_t back = Tell();
        char16_t next = 0;
        if (priReadUnit(next) && next == u'\n')
            line += next;
        else
            Seek(back);
    }
    return true;
}

void FSCFileWin::priThrowWrite(const char* operation)
{
    FNarrowString message("FSCFileWin::%s: '%s'", operation, NativeBytes(m_nativePath).c_str());
    throw FExceptionFileWrite(message.GetCString());
}

void FSCFileWin::Write(const void* buffer, int n)
{
    // A short write (a full disk) must not pass for success: a truncated file
    // would otherwise look saved.
    const auto* bytes = static_cast<const unsigned char*>(buffer);
    int total = 0;
    while (total < n) {
        ssize_t put = write(m_hFile, bytes + total, static_cast<size_t>(n - total));
        if (put < 0 && errno == EINTR)
            continue;
        if (put <= 0)
            priThrowWrite("Write");
        total += static_cast<int>(put);
    }
}

void FSCFileWin::Flush()
{
    if (fsync(m_hFile) != 0 && errno != EINVAL)
        priThrowWrite("Flush");
}

void FSCFileWin::SetSize(uint64_t size)
{
    uint64_t position = Tell();
    if (size > static_cast<uint64_t>(INT64_MAX) || ftruncate(m_hFile, static_cast<off_t>(size)) != 0)
        priThrowWrite("SetSize");
    Seek(position);
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
    if (info.m_iFlags & kFileAttrReadOnly)
        mode &= ~static_cast<mode_t>(S_IWUSR | S_IWGRP | S_IWOTH);
    else
        mode |= S_IWUSR;
    if (mode == (st.st_mode & 07777))
        return;
    if (fchmod(m_hFile, mode) != 0) {
        FNarrowString message("FSCFileWin::SetAttributes: '%s'", NativeBytes(m_nativePath).c_str());
        throw FExceptionFileIO(message.GetCString());
    }
}
