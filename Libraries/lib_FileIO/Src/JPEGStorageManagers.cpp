#include "JPEGStorageManagers.h"

#include "FDebugTrace.h"
#include "FException.h"
#include "FIStorageClass.h"
#include "FReadSignals.h"

#include <atomic>
#include <cstdlib>
#include <cstring>
#include <new>

#include <jerror.h>

namespace
{

std::atomic<size_t> g_memoryLimit{kJPEGMemoryLimit};

FJPEGErrorManager& ManagerOf(j_common_ptr cinfo)
{
    // The library's record is the first member of ours.
    return *reinterpret_cast<FJPEGErrorManager*>(cinfo->err);
}

void ErrorExit(j_common_ptr cinfo)
{
    FJPEGErrorManager& manager = ManagerOf(cinfo);
    if (!manager.hasMessage) {
        (*cinfo->err->format_message)(cinfo, manager.message);
    }
    DebugTrace("JPEGIO Error: %s\n", manager.message);
    std::longjmp(manager.jump, 1);
}

void OutputMessage(j_common_ptr cinfo)
{
    char text[JMSG_LENGTH_MAX];
    (*cinfo->err->format_message)(cinfo, text);
    DebugTrace("JPEGLib message: %s\n", text);
}

// Called between rows and scans of a decode: the place to stop one that costs too much
// or that nobody waits for any more.
void WatchDecode(j_common_ptr cinfo)
{
    if (!cinfo->is_decompressor) {
        return;
    }
    FJPEGErrorManager& manager = ManagerOf(cinfo);
    if (ReadCancelled(manager.cancel)) {
        manager.cancelled = true;
        RaiseJPEGError(cinfo, "JPEGImageReader: the decode was cancelled");
    }
    const auto* d = reinterpret_cast<j_decompress_ptr>(cinfo);
    if (d->input_scan_number > manager.maxScans) {
        char text[96];
        std::snprintf(text, sizeof(text), "JPEGImageReader: more than %d scans in a progressive image",
                      manager.maxScans);
        RaiseJPEGError(cinfo, text);
    }
    if (manager.maxSeconds > 0 && manager.started != std::chrono::steady_clock::time_point{}) {
        const double spent =
            std::chrono::duration<double>(std::chrono::steady_clock::now() - manager.started).count();
        if (spent > manager.maxSeconds) {
            char text[96];
            std::snprintf(text, sizeof(text), "JPEGImageReader: the decode took more than %g s",
                          manager.maxSeconds);
            RaiseJPEGError(cinfo, text);
        }
    }
}

// Copies the storage class's failure into the error manager's message.
void NoteStorageFailure(j_common_ptr cinfo, const char* what, const FException* e)
{
    FJPEGErrorManager& manager = ManagerOf(cinfo);
    std::snprintf(manager.message, sizeof(manager.message), "JPEGIO: %s: %s (%s)", what,
                  e != nullptr ? e->GetDescription() : "unknown failure",
                  e != nullptr ? e->GetMessage() : "");
    manager.hasMessage = true;
}

// --- source

struct FioSource {
    jpeg_source_mgr pub;
    FIFile* file;
    JOCTET* buffer;
    boolean startOfFile;
};

void InitSource(j_decompress_ptr cinfo)
{
    reinterpret_cast<FioSource*>(cinfo->src)->startOfFile = TRUE;
}

boolean FillInputBuffer(j_decompress_ptr cinfo)
{
    auto* src = reinterpret_cast<FioSource*>(cinfo->src);
    int n = 0;
    bool failed = false;
    try {
        n = src->file->ReadSome(src->buffer, kJPEGIOBlock);
    } catch (const FException& e) {
        NoteStorageFailure(reinterpret_cast<j_common_ptr>(cinfo), "read failed", &e);
        failed = true;
    } catch (...) {
        NoteStorageFailure(reinterpret_cast<j_common_ptr>(cinfo), "read failed", nullptr);
        failed = true;
    }
    // Raised outside the handlers: the jump must not leave a handler.
    if (failed) {
        ERREXIT(cinfo, JERR_FILE_READ);
    }
    if (n <= 0) {
        if (src->startOfFile) {
            ERREXIT(cinfo, JERR_INPUT_EMPTY);
        }
        ManagerOf(reinterpret_cast<j_common_ptr>(cinfo)).endedEarly = true;
        WARNMS(cinfo, JWRN_JPEG_EOF);
        src->buffer[0] = 0xFF;
        src->buffer[1] = JPEG_EOI;
        n = 2;
    }
    src->pub.next_input_byte = src->buffer;
    src->pub.bytes_in_buffer = size_t(n);
    src->startOfFile = FALSE;
    return TRUE;
}

void SkipInputData(j_decompress_ptr cinfo, long n)
{
    if (n <= 0) {
        return;
    }
    jpeg_source_mgr* src = cinfo->src;
    while (size_t(n) > src->bytes_in_buffer) {
        n -= long(src->bytes_in_buffer);
        (*src->fill_input_buffer)(cinfo);
    }
    src->next_input_byte += n;
    src->bytes_in_buffer -= size_t(n);
}

void TermSource(j_decompress_ptr) {}

// --- destination

struct FioDestination {
    jpeg_destination_mgr pub;
    FIFile* file;
    std::vector<uint8_t>* memory;
    JOCTET* buffer;
};

void WriteBlock(j_compress_ptr cinfo, size_t n)
{
    auto* dest = reinterpret_cast<FioDestination*>(cinfo->dest);
    bool failed = false;
    try {
        if (dest->file != nullptr) {
            dest->file->Write(dest->buffer, int(n));
        } else {
            dest->memory->insert(dest->memory->end(), dest->buffer, dest->buffer + n);
        }
    } catch (const FException& e) {
        NoteStorageFailure(reinterpret_cast<j_common_ptr>(cinfo), "write failed", &e);
        failed = true;
    } catch (...) {
        NoteStorageFailure(reinterpret_cast<j_common_ptr>(cinfo), "write failed", nullptr);
        failed = true;
    }
    if (failed) {
        ERREXIT(cinfo, JERR_FILE_WRITE);
    }
}

void InitDestination(j_compress_ptr cinfo)
{
    auto* dest = reinterpret_cast<FioDestination*>(cinfo->dest);
    dest->buffer = static_cast<JOCTET*>(
        (*cinfo->mem->alloc_small)(reinterpret_cast<j_common_ptr>(cinfo), JPOOL_IMAGE, kJPEGIOBlock));
    dest->pub.next_output_byte = dest->buffer;
    dest->pub.free_in_buffer = kJPEGIOBlock;
}

boolean EmptyOutputBuffer(j_compress_ptr cinfo)
{
    auto* dest = reinterpret_cast<FioDestination*>(cinfo->dest);
    WriteBlock(cinfo, kJPEGIOBlock);
    dest->pub.next_output_byte = dest->buffer;
    dest->pub.free_in_buffer = kJPEGIOBlock;
    return TRUE;
}

void TermDestination(j_compress_ptr cinfo)
{
    auto* dest = reinterpret_cast<FioDestination*>(cinfo->dest);
    const size_t n = kJPEGIOBlock - dest->pub.free_in_buffer;
    if (n > 0) {
        WriteBlock(cinfo, n);
    }
    bool failed = false;
    try {
        if (dest->file != nullptr) {
            dest->file->Flush();
        }
    } catch (const FException& e) {
        NoteStorageFailure(reinterpret_cast<j_common_ptr>(cinfo), "flush failed", &e);
        failed = true;
    } catch (...) {
        NoteStorageFailure(reinterpret_cast<j_common_ptr>(cinfo), "flush failed", nullptr);
        failed = true;
    }
    if (failed) {
        ERREXIT(cinfo, JERR_FILE_WRITE);
    }
}

} // namespace

size_t SetJPEGMemoryLimit(size_t bytes)
{
    return g_memoryLimit.exchange(bytes);
}

size_t GetJPEGMemoryLimit()
{
    return g_memoryLimit.load();
}

jpeg_error_mgr* InitJPEGErrorManager(FJPEGErrorManager& manager)
{
    jpeg_error_mgr* err = jpeg_std_error(&manager.pub);
    err->error_exit = &ErrorExit;
    err->output_message = &OutputMessage;
    manager.progress = jpeg_progress_mgr{};
    manager.progress.progress_monitor = &WatchDecode;
    manager.message[0] = 0;
    manager.hasMessage = false;
    manager.endedEarly = false;
    manager.maxScans = kMaxJPEGScans;
    manager.maxSeconds = 0;
    manager.started = {};
    manager.cancel = nullptr;
    manager.cancelled = false;
    return err;
}

void InstallJPEGScanLimit(j_decompress_ptr cinfo, FJPEGErrorManager& manager)
{
    cinfo->progress = &manager.progress;
}

uint64_t JPEGCoefficientBytes(j_decompress_ptr cinfo)
{
    if (!jpeg_has_multiple_scans(cinfo) && !cinfo->buffered_image) {
        return 0;
    }
    // The library keeps every block of every component, rounded up to whole MCUs.
    uint64_t bytes = 0;
    for (int c = 0; c < cinfo->num_components; ++c) {
        const jpeg_component_info& comp = cinfo->comp_info[c];
        const uint64_t h = uint64_t(comp.h_samp_factor > 0 ? comp.h_samp_factor : 1);
        const uint64_t v = uint64_t(comp.v_samp_factor > 0 ? comp.v_samp_factor : 1);
        const uint64_t across = (uint64_t(comp.width_in_blocks) + h - 1) / h * h;
        const uint64_t down = (uint64_t(comp.height_in_blocks) + v - 1) / v * v;
        bytes += across * down * sizeof(JBLOCK);
    }
    return bytes;
}

void RaiseJPEGError(j_common_ptr cinfo, const char* message)
{
    FJPEGErrorManager& manager = ManagerOf(cinfo);
    std::snprintf(manager.message, sizeof(manager.message), "%s", message);
    manager.hasMessage = true;
    (*cinfo->err->error_exit)(cinfo);
    // error_exit never returns; keep the compiler informed.
    std::abort();
}

void ThrowJPEGError(FJPEGErrorManager& manager)
{
    manager.hasMessage = false;
    throw FExceptionJPEG(manager.message);
}

void jpeg_fio_src(j_decompress_ptr cinfo, FIFile* file)
{
    if (cinfo->src == nullptr) {
        auto* src = static_cast<FioSource*>((*cinfo->mem->alloc_small)(reinterpret_cast<j_common_ptr>(cinfo),
                                                                       JPOOL_PERMANENT, sizeof(FioSource)));
        src->buffer = static_cast<JOCTET*>(
            (*cinfo->mem->alloc_small)(reinterpret_cast<j_common_ptr>(cinfo), JPOOL_PERMANENT, kJPEGIOBlock));
        cinfo->src = &src->pub;
    }
    auto* src = reinterpret_cast<FioSource*>(cinfo->src);
    src->pub.init_source = &InitSource;
    src->pub.fill_input_buffer = &FillInputBuffer;
    src->pub.skip_input_data = &SkipInputData;
    src->pub.resync_to_restart = &jpeg_resync_to_restart;
    src->pub.term_source = &TermSource;
    src->pub.bytes_in_buffer = 0;
    src->pub.next_input_byte = nullptr;
    src->file = file;
    src->startOfFile = TRUE;
}

void jpeg_fio_dest(j_compress_ptr cinfo, FIFile* file, std::vector<uint8_t>* memory)
{
    if (cinfo->dest == nullptr) {
        cinfo->dest = static_cast<jpeg_destination_mgr*>((*cinfo->mem->alloc_small)(
            reinterpret_cast<j_common_ptr>(cinfo), JPOOL_PERMANENT, sizeof(FioDestination)));
    }
    auto* dest = reinterpret_cast<FioDestination*>(cinfo->dest);
    dest->pub.init_destination = &InitDestination;
    dest->pub.empty_output_buffer = &EmptyOutputBuffer;
    dest->pub.term_destination = &TermDestination;
    dest->file = file;
    dest->memory = memory;
    dest->buffer = nullptr;
}
