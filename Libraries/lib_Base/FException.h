#pragma once

#include <cstddef>
#include <vector>

#include "FNarrowString.h"

class FWideString;

// Root of the framework's exceptions: a fixed description of the class and
// the message given when the exception was made. Thrown by value, caught by
// reference; reported as description first, message second.
class FException
{
public:
    explicit FException(const char* message);
    FException(const FException& other);
    virtual ~FException();
    FException& operator=(const FException& other);

    virtual const char* GetDescription() const;
    virtual const char* GetMessage() const;

private:
    FNarrowString m_message;
};

// Each member of the family only adds its description.
#define RB_DECLARE_EXCEPTION(Name, Base, Description)                                                        \
    class Name : public Base                                                                                 \
    {                                                                                                        \
    public:                                                                                                  \
        explicit Name(const char* message) : Base(message) {}                                                \
        const char* GetDescription() const override { return Description; }                                  \
    };

RB_DECLARE_EXCEPTION(FArrayException, FException, "FArrayException")
RB_DECLARE_EXCEPTION(FExceptionUiScript, FException, "User Interface Script Error")
RB_DECLARE_EXCEPTION(FExceptionStorageClassDoesNotExist, FException, "There is no storage class of that name")
RB_DECLARE_EXCEPTION(FExceptionLaunchFailed, FException, "Application Launch Failed")
RB_DECLARE_EXCEPTION(FExceptionSyncObject, FException, "Sync object exception")
RB_DECLARE_EXCEPTION(FExceptionProperties, FException, "FHasProperties exception")
RB_DECLARE_EXCEPTION(FExceptionConversion, FExceptionProperties, "FHasProperties conversion exception")
RB_DECLARE_EXCEPTION(FExceptionEndOfList, FExceptionProperties, "FHasProperties end of list exception")
RB_DECLARE_EXCEPTION(FExceptionXMLParser, FException, "XML Parser Error")
RB_DECLARE_EXCEPTION(FExceptionHuffman, FException, "Huffman coding exception")
RB_DECLARE_EXCEPTION(FExceptionPixmap, FException, "Pixmap exception")
RB_DECLARE_EXCEPTION(FExceptionUnknownPixelType, FExceptionPixmap, "Unknown pixel type")
RB_DECLARE_EXCEPTION(FExceptionBitDepthMismatch, FExceptionPixmap,
                     "Bit depths of the two pixel types don't match.")
RB_DECLARE_EXCEPTION(FExceptionPixelProc, FException, "Pixel processing exception")
RB_DECLARE_EXCEPTION(FExceptionPpUnknownPixelType, FExceptionPixelProc, "Unknown Pixel Type")
RB_DECLARE_EXCEPTION(FExceptionPixelProc2, FException, "Pixel processing2 exception")
RB_DECLARE_EXCEPTION(FExceptionBrisalTag, FException, "BrisalTag exception")
RB_DECLARE_EXCEPTION(FExceptionUnknownTag, FExceptionBrisalTag, "Unknown BrisalTag")
RB_DECLARE_EXCEPTION(FExceptionIO, FException, "General I/O exception")
RB_DECLARE_EXCEPTION(FExceptionFileIO, FExceptionIO, "File I/O exception")
RB_DECLARE_EXCEPTION(FExceptionFileOpen, FExceptionFileIO, "File open failed")
RB_DECLARE_EXCEPTION(FExceptionFileNotFound, FExceptionFileOpen, "File or path not found")
RB_DECLARE_EXCEPTION(FExceptionFileRead, FExceptionFileIO, "File read failed")
RB_DECLARE_EXCEPTION(FExceptionFileWrite, FExceptionFileIO, "File write failed")
RB_DECLARE_EXCEPTION(FExceptionTIFF, FExceptionIO, "General TIFF I/O exception")
RB_DECLARE_EXCEPTION(FExceptionPixmapTooSmall, FExceptionTIFF, "Pixmap too small")
RB_DECLARE_EXCEPTION(FExceptionWriteUninitialized, FExceptionTIFF,
                     "SetDimensions() must be called before WriteLine().")
RB_DECLARE_EXCEPTION(FExceptionThumbTooBig, FExceptionTIFF, "Thumbnail too big for Photoshop tag")
// Caught by the image loaders; nothing throws it.
RB_DECLARE_EXCEPTION(FExceptionTIFFIndexOutOfRange, FExceptionTIFF, "TIFF index out of range")
RB_DECLARE_EXCEPTION(FExceptionJPEG, FExceptionIO, "General JPEG I/O exception")
RB_DECLARE_EXCEPTION(FExceptionJPEGPixmapTooSmall, FExceptionJPEG, "Pixmap too small.")
RB_DECLARE_EXCEPTION(FExceptionJPEGWriteUninitialized, FExceptionJPEG,
                     "SetDimensions() must be called before WriteLine().")
RB_DECLARE_EXCEPTION(FExceptionJPEGOutOfOrderOperation, FExceptionJPEG,
                     "Operations on JPEG writer must be executed in a specified order.")
// Caught by the image loaders; nothing throws it.
RB_DECLARE_EXCEPTION(FExceptionJPEGIndexOutOfRange, FExceptionJPEG, "JPEG index out of range")
RB_DECLARE_EXCEPTION(FExceptionBribReader, FExceptionIO, "General Brib Reader I/O exception")
RB_DECLARE_EXCEPTION(FExceptionNotABrib, FExceptionBribReader, "This file is not a brib")
RB_DECLARE_EXCEPTION(FExceptionBribIncompatible, FExceptionBribReader, "Incompatible brib version")
RB_DECLARE_EXCEPTION(FExceptionIndexOutOfRange, FExceptionBribReader, "Index out of range")
RB_DECLARE_EXCEPTION(FExceptionBribWriter, FExceptionIO, "General Brib Writer I/O exception")

#undef RB_DECLARE_EXCEPTION

// Exact reads past the end; also made without a message ("").
class FExceptionEOF : public FExceptionFileRead
{
public:
    FExceptionEOF() : FExceptionFileRead("") {}
    explicit FExceptionEOF(const char* message) : FExceptionFileRead(message) {}
    const char* GetDescription() const override { return "End-of-file"; }
};

// The message of every checked container index that is out of range.
inline constexpr const char* kIndexOutOfRangeMessage = "Index out of range.";

// Throws FArrayException unless 0 <= index < count.
void CheckArrayIndex(long long index, std::size_t count);
void CheckStringVectorIndex(const std::vector<FWideString>& vector, long long index);

// Flag bits of ReportAssertion.
inline constexpr int kAssertAssumption = 1; // report and carry on instead of throwing
inline constexpr int kAssertWithParam = 2;  // add the parameter line

// Reports a failed assertion to the debug trace and throws FException with the
// report; an assumption (kAssertAssumption) only reports.
void ReportAssertion(const char* file, int line, const char* test, int flags, int param);
