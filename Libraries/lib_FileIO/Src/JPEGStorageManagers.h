#pragma once

// The program's side of libjpeg: source and destination managers over storage
// files (or memory), and an error manager that turns a library error into
// FExceptionJPEG. Library errors leave the library by its jump-back method and
// are thrown from our own frame, so no exception crosses the library's C code.
//
// Only for the JPEG sources of this folder: includes the library's header.

#include <chrono>
#include <csetjmp>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <vector>

#include <jpeglib.h>

class FIFile;

// Working memory of one coder. The library has no backing store, so this is a
// hard limit: generous enough for large progressive files, bounded against
// hostile ones.
inline constexpr size_t kJPEGMemoryLimit = size_t(512) << 20;
// Scans a progressive file may have; more is treated as a hostile file. Encoders
// write about ten; each scan costs a pass over the whole image.
inline constexpr int kMaxJPEGScans = 100;
// Largest width or height, and the largest pixel count we decode.
inline constexpr unsigned kMaxJPEGDimension = 65500;
inline constexpr uint64_t kMaxJPEGPixels = uint64_t(1) << 28;
// Bytes per block read from or written to a file.
inline constexpr int kJPEGIOBlock = 4096;

// The memory limit applied to coders created from now on (tests lower it);
// returns the previous one.
size_t SetJPEGMemoryLimit(size_t bytes);
size_t GetJPEGMemoryLimit();

struct FJPEGErrorManager {
    jpeg_error_mgr pub;
    jpeg_progress_mgr progress;
    std::jmp_buf jump;
    // A message set by our own callbacks before they raise an error.
    char message[JMSG_LENGTH_MAX + 256];
    bool hasMessage;
    // The file source ran out before the image did (the rest is decoded as gray).
    bool endedEarly;
    // What the decode may spend, watched by the progress monitor: scans, and from
    // the moment the clock is started, seconds (0: no limit). A set cancel byte
    // (may be null) ends the decode with `cancelled` set.
    int maxScans;
    double maxSeconds;
    std::chrono::steady_clock::time_point started;
    const char* cancel;
    bool cancelled;
};

// Installs the error manager (and the scan limit for decompressors) on a
// library object that is about to be created.
jpeg_error_mgr* InitJPEGErrorManager(FJPEGErrorManager& manager);
void InstallJPEGScanLimit(j_decompress_ptr cinfo, FJPEGErrorManager& manager);

// Bytes the library will hold for the whole image's coefficients while it decodes
// (a progressive or multi-scan file); 0 for a single-scan file, decoded row by row.
// Valid once the header was read.
uint64_t JPEGCoefficientBytes(j_decompress_ptr cinfo);

// Raises a library error with our own message from inside a callback; does not return.
[[noreturn]] void RaiseJPEGError(j_common_ptr cinfo, const char* message);

// Throws FExceptionJPEG with the message of the error that jumped back.
[[noreturn]] void ThrowJPEGError(FJPEGErrorManager& manager);

// Runs a library call; an error inside it is thrown as FExceptionJPEG from here.
// `call` must hold nothing that needs destroying when the library jumps back.
template <class Call>
void JPEGCall(FJPEGErrorManager& manager, Call&& call)
{
    if (setjmp(manager.jump) != 0) {
        ThrowJPEGError(manager);
    }
    call();
}

// Source manager reading a storage file in 4096-byte blocks. When the object
// already has one it is re-pointed at the new file.
void jpeg_fio_src(j_decompress_ptr cinfo, FIFile* file);

// Destination manager writing 4096-byte blocks to a storage file, or appending
// to `memory` when `file` is null.
void jpeg_fio_dest(j_compress_ptr cinfo, FIFile* file, std::vector<uint8_t>* memory);
