#include "TiffStoragePort.h"

#include "FDebugTrace.h"
#include "FException.h"
#include "FIStorageClass.h"
#include "FWideString.h"
#include "StorageClassRegistry.h"

#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <limits>
#include <memory>
#include <mutex>

namespace
{

constexpr int kTiffMessageLimit = 2048;

// The client data of one handle. Exceptions of the storage classes must not
// cross libtiff's C frames: every procedure catches and reports failure the way
// the library expects.
struct PortFile {
    FIFile* file = nullptr;
    bool writable = false;
    bool owned = true;
    bool failed = false;
};

constexpr toff_t kSeekFailed = static_cast<toff_t>(-1);

tmsize_t PortRead(thandle_t handle, void* buffer, tmsize_t n)
{
    PortFile* port = static_cast<PortFile*>(handle);
    if (n < 0 || n > std::numeric_limits<int>::max())
        return -1;
    try {
        return port->file->ReadSome(buffer, static_cast<int>(n));
    } catch (...) {
        return -1;
    }
}

tmsize_t PortWrite(thandle_t handle, void* buffer, tmsize_t n)
{
    PortFile* port = static_cast<PortFile*>(handle);
    if (!port->writable || n < 0 || n > std::numeric_limits<int>::max())
        return -1;
    try {
        port->file->Write(buffer, static_cast<int>(n));
        return n;
    } catch (...) {
        port->failed = true;
        return -1;
    }
}

// Offsets arrive as unsigned 64-bit values; from the current position and from
// the end they are signed. Only a handle open for writing grows its file: a
// damaged offset in a browsed file must never extend it.
toff_t PortSeek(thandle_t handle, toff_t offset, int whence)
{
    PortFile* port = static_cast<PortFile*>(handle);
    try {
        const uint64_t size = port->file->GetSize();
        const uint64_t position = port->file->Tell();
        const int64_t signedOffset = static_cast<int64_t>(offset);
        uint64_t target = 0;
        switch (whence) {
        case SEEK_SET:
            target = offset;
            break;
        case SEEK_CUR:
            if ((signedOffset < 0 && uint64_t(-(signedOffset + 1)) + 1 > position))
                return kSeekFailed;
            target = position + offset;
            break;
        case SEEK_END:
            if ((signedOffset < 0 && uint64_t(-(signedOffset + 1)) + 1 > size))
                return kSeekFailed;
            target = size + offset;
            break;
        default:
            return position;
        }
        if (target > uint64_t(std::numeric_limits<int64_t>::max()))
            return kSeekFailed;
        if (target > size) {
            if (!port->writable)
                return kSeekFailed;
            port->file->SetSize(target);
        }
        port->file->Seek(target);
        return port->file->Tell();
    } catch (...) {
        port->failed = port->writable;
        return kSeekFailed;
    }
}

int PortClose(thandle_t handle)
{
    std::unique_ptr<PortFile> port(static_cast<PortFile*>(handle));
    if (!port->owned)
        return 0;
    try {
        port->file->Release();
    } catch (...) {
        return -1;
    }
    return 0;
}

toff_t PortSize(thandle_t handle)
{
    PortFile* port = static_cast<PortFile*>(handle);
    try {
        return port->file->GetSize();
    } catch (...) {
        return 0;
    }
}

int PortMap(thandle_t, void**, toff_t*)
{
    return 0;
}

void PortUnmap(thandle_t, void*, toff_t) {}

void FormatMessage(const char* prefix, const char* module, const char* format, va_list args)
{
    char text[kTiffMessageLimit];
    std::vsnprintf(text, sizeof(text), format, args);
    if (module)
        DebugTrace("%s: %s%s.\n", module, prefix, text);
    else
        DebugTrace("%s%s.\n", prefix, text);
}

void WarningHandler(const char* module, const char* format, va_list args)
{
    FormatMessage("Warning, ", module, format, args);
}

void ErrorHandler(const char* module, const char* format, va_list args)
{
    FormatMessage("", module, format, args);
}

TIFFExtendProc g_previousExtender = nullptr;

void TagExtender(TIFF* tif)
{
    static char name[] = "BrisalTagSet";
    static const TIFFFieldInfo info[] = {
        {kTiffTagBrisal, TIFF_VARIABLE2, TIFF_VARIABLE2, TIFF_LONG, FIELD_CUSTOM, 1, 1, name},
    };
    TIFFMergeFieldInfo(tif, info, 1);
    if (g_previousExtender)
        g_previousExtender(tif);
}

// Storage open mode of a libtiff mode text; 0 for a mode the library refuses.
int StorageMode(const char* mode, bool& writable)
{
    writable = true;
    switch (mode ? mode[0] : '\0') {
    case 'r':
        if (mode[1] == '+')
            return kFileRead | kFileWrite | kFileAppend; // update keeps the contents
        writable = false;
        return kFileRead;
    case 'w':
        return kFileRead | kFileWrite;
    case 'a':
        return kFileRead | kFileWrite | kFileAppend;
    }
    return 0;
}

} // namespace

void InstallTiffHandlers()
{
    static std::once_flag once;
    std::call_once(once, [] {
        TIFFSetWarningHandler(WarningHandler);
        TIFFSetErrorHandler(ErrorHandler);
        g_previousExtender = TIFFSetTagExtender(TagExtender);
    });
}

namespace
{

// Takes the port: on failure it is freed, with its file when it owns one.
TIFF* OpenPort(std::unique_ptr<PortFile> port, const FWideString& name, const char* mode)
{
    FIFile* file = port->file;
    const bool owned = port->owned;
    TIFFOpenOptions* options = TIFFOpenOptionsAlloc();
    if (options)
        TIFFOpenOptionsSetMaxSingleMemAlloc(options, kMaxTiffSingleAlloc);
    TIFF* tif = TIFFClientOpenExt(name.GetNarrow(), mode, port.get(), PortRead, PortWrite, PortSeek, PortClose,
                                  PortSize, PortMap, PortUnmap, options);
    if (options)
        TIFFOpenOptionsFree(options);
    if (!tif) {
        // The library never calls the close procedure of a handle it failed to open.
        if (owned)
            file->Release();
        return nullptr;
    }
    port.release(); // closed by PortClose
    return tif;
}

} // namespace

TIFF* TIFFOpenStorageFile(FIFile* file, const FWideString& name, const char* mode)
{
    InstallTiffHandlers();
    bool writable = false;
    if (!file || StorageMode(mode, writable) == 0)
        return nullptr;
    auto port = std::make_unique<PortFile>();
    port->file = file;
    port->writable = writable;
    port->owned = false;
    return OpenPort(std::move(port), name, mode);
}

bool TIFFStorageFailed(TIFF* tif)
{
    return static_cast<PortFile*>(TIFFClientdata(tif))->failed;
}

void TIFFDiscardStorageHandle(TIFF* tif)
{
    std::unique_ptr<PortFile> port(static_cast<PortFile*>(TIFFClientdata(tif)));
    TIFFCleanup(tif);
}

TIFF* TIFFOpenURL(const FWideString& url, const char* mode)
{
    InstallTiffHandlers();
    bool writable = false;
    const int storageMode = StorageMode(mode, writable);
    if (storageMode == 0)
        return nullptr;

    FIFile* file = nullptr;
    try {
        file = OpenFileURL(url, storageMode);
        // The library reads the header from where the file stands; appending
        // opens at the end.
        if (file)
            file->Seek(0);
    } catch (const FException&) {
        if (file)
            file->Release();
        file = nullptr;
    }
    if (!file) {
        TIFFErrorExt(nullptr, "TIFFOpen", "Cannot open file");
        return nullptr;
    }

    auto port = std::make_unique<PortFile>();
    port->file = file;
    port->writable = writable;
    return OpenPort(std::move(port), url, mode);
}
