#pragma once

// libtiff reaches files only through the storage classes: a TIFF handle opened
// here reads and writes an FIFile found by URL. The library's messages go to
// the debug log, and every handle knows the private tag that carries the tag
// set.

#include <cstdint>

#include <tiffio.h>

class FWideString;

// The private tag: a LONG array holding the serialised tag set.
inline constexpr uint32_t kTiffTagBrisal = 37717;
// Largest single allocation libtiff may make for one handle, so that a hostile
// file cannot ask for unbounded memory.
inline constexpr int64_t kMaxTiffSingleAlloc = int64_t(512) << 20;

// Opens by URL. The first mode letter decides the storage open mode: "r" reads,
// "r+" updates an existing file, "w" creates or truncates, "a" opens or creates
// and keeps the contents; further letters are passed to the library ("wl": a
// little-endian file). Null when the mode is not one of these or the file cannot
// be opened ("TIFFOpen: Cannot open file" goes to the log) or is not a TIFF.
// (The library's own name-based opener has the plain name, hence the suffix.)
TIFF* TIFFOpenURL(const FWideString& url, const char* mode);

class FIFile;
// Writes a new file through `file`, which stays the caller's: closing or
// cleaning up the handle leaves it open. Mode as above ("w" or "wl").
TIFF* TIFFOpenStorageFile(FIFile* file, const FWideString& name, const char* mode);
// True once a read, write or seek of the handle's file has failed; the library
// does not report every such failure to its caller.
bool TIFFStorageFailed(TIFF* tif);
// Frees a handle of TIFFOpenStorageFile without flushing anything to the file.
void TIFFDiscardStorageHandle(TIFF* tif);

// Installs the message handlers and the tag extender; done once per process by
// TIFFOpenURL, callable early by code that calls libtiff otherwise.
void InstallTiffHandlers();
