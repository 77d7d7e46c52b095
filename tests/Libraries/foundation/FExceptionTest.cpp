#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "FDebugTrace.h"
#include "FException.h"
#include "FWideString.h"

namespace
{

struct DescriptionCase {
    const char* name;
    std::function<void()> raise;
    const char* description;
};

template <class E>
std::function<void()> Raise()
{
    return [] { throw E("the message"); };
}

} // namespace

TEST(FException, EveryClassHasItsDescriptionAndKeepsTheMessage)
{
    const DescriptionCase cases[] = {
        {"FException", Raise<FException>(), "Brisal exception"},
        {"FArrayException", Raise<FArrayException>(), "FArrayException"},
        {"FExceptionUiScript", Raise<FExceptionUiScript>(), "User Interface Script Error"},
        {"FExceptionStorageClassDoesNotExist", Raise<FExceptionStorageClassDoesNotExist>(),
         "There is no storage class of that name"},
        {"FExceptionLaunchFailed", Raise<FExceptionLaunchFailed>(), "Application Launch Failed"},
        {"FExceptionSyncObject", Raise<FExceptionSyncObject>(), "Sync object exception"},
        {"FExceptionProperties", Raise<FExceptionProperties>(), "FHasProperties exception"},
        {"FExceptionConversion", Raise<FExceptionConversion>(), "FHasProperties conversion exception"},
        {"FExceptionEndOfList", Raise<FExceptionEndOfList>(), "FHasProperties end of list exception"},
        {"FExceptionXMLParser", Raise<FExceptionXMLParser>(), "XML Parser Error"},
        {"FExceptionHuffman", Raise<FExceptionHuffman>(), "Huffman coding exception"},
        {"FExceptionPixmap", Raise<FExceptionPixmap>(), "Pixmap exception"},
        {"FExceptionUnknownPixelType", Raise<FExceptionUnknownPixelType>(), "Unknown pixel type"},
        {"FExceptionBitDepthMismatch", Raise<FExceptionBitDepthMismatch>(),
         "Bit depths of the two pixel types don't match."},
        {"FExceptionPixelProc", Raise<FExceptionPixelProc>(), "Pixel processing exception"},
        {"FExceptionPpUnknownPixelType", Raise<FExceptionPpUnknownPixelType>(), "Unknown Pixel Type"},
        {"FExceptionPixelProc2", Raise<FExceptionPixelProc2>(), "Pixel processing2 exception"},
        {"FExceptionBrisalTag", Raise<FExceptionBrisalTag>(), "BrisalTag exception"},
        {"FExceptionUnknownTag", Raise<FExceptionUnknownTag>(), "Unknown BrisalTag"},
        {"FExceptionIO", Raise<FExceptionIO>(), "General I/O exception"},
        {"FExceptionFileIO", Raise<FExceptionFileIO>(), "File I/O exception"},
        {"FExceptionFileOpen", Raise<FExceptionFileOpen>(), "File open failed"},
        {"FExceptionFileNotFound", Raise<FExceptionFileNotFound>(), "File or path not found"},
        {"FExceptionFileRead", Raise<FExceptionFileRead>(), "File read failed"},
        {"FExceptionEOF", Raise<FExceptionEOF>(), "End-of-file"},
        {"FExceptionFileWrite", Raise<FExceptionFileWrite>(), "File write failed"},
        {"FExceptionTIFF", Raise<FExceptionTIFF>(), "General TIFF I/O exception"},
        {"FExceptionPixmapTooSmall", Raise<FExceptionPixmapTooSmall>(), "Pixmap too small"},
        {"FExceptionWriteUninitialized", Raise<FExceptionWriteUninitialized>(),
         "SetDimensions() must be called before WriteLine()."},
        {"FExceptionThumbTooBig", Raise<FExceptionThumbTooBig>(), "Thumbnail too big for Photoshop tag"},
        {"FExceptionJPEG", Raise<FExceptionJPEG>(), "General JPEG I/O exception"},
        {"FExceptionJPEGPixmapTooSmall", Raise<FExceptionJPEGPixmapTooSmall>(), "Pixmap too small."},
        {"FExceptionJPEGWriteUninitialized", Raise<FExceptionJPEGWriteUninitialized>(),
         "SetDimensions() must be called before WriteLine()."},
        {"FExceptionJPEGOutOfOrderOperation", Raise<FExceptionJPEGOutOfOrderOperation>(),
         "Operations on JPEG writer must be executed in a specified order."},
        {"FExceptionBribReader", Raise<FExceptionBribReader>(), "General Brib Reader I/O exception"},
        {"FExceptionNotABrib", Raise<FExceptionNotABrib>(), "This file is not a brib"},
        {"FExceptionBribIncompatible", Raise<FExceptionBribIncompatible>(), "Incompatible brib version"},
        {"FExceptionIndexOutOfRange", Raise<FExceptionIndexOutOfRange>(), "Index out of range"},
        {"FExceptionBribWriter", Raise<FExceptionBribWriter>(), "General Brib Writer I/O exception"},
    };
    for (const DescriptionCase& c : cases) {
        try {
            c.raise();
            ADD_FAILURE() << c.name << " did not throw";
        } catch (const FException& e) {
            EXPECT_STREQ(c.description, e.GetDescription()) << c.name;
            EXPECT_STREQ("the message", e.GetMessage()) << c.name;
        }
    }
}

TEST(FException, CaughtThroughEveryBase)
{
    auto eof = [] { throw FExceptionEOF(); };
    EXPECT_THROW(eof(), FExceptionFileRead);
    EXPECT_THROW(eof(), FExceptionFileIO);
    EXPECT_THROW(eof(), FExceptionIO);
    EXPECT_THROW(eof(), FException);
    EXPECT_THROW(throw FExceptionFileNotFound("x"), FExceptionFileOpen);
    EXPECT_THROW(throw FExceptionIndexOutOfRange("x"), FExceptionBribReader);
    EXPECT_THROW(throw FExceptionConversion("x"), FExceptionProperties);
    EXPECT_THROW(throw FExceptionJPEGIndexOutOfRange("x"), FExceptionJPEG);
    EXPECT_THROW(throw FExceptionTIFFIndexOutOfRange("x"), FExceptionTIFF);

    // A JPEG error is no TIFF error.
    bool caughtAsTiff = false;
    try {
        throw FExceptionJPEGPixmapTooSmall("x");
    } catch (const FExceptionTIFF&) {
        caughtAsTiff = true;
    } catch (const FException&) {
    }
    EXPECT_FALSE(caughtAsTiff);
}

TEST(FException, MessagesAreCopiedVerbatim)
{
    EXPECT_STREQ("", FExceptionEOF().GetMessage());
    EXPECT_STREQ("", FException(nullptr).GetMessage());
    // A message is text, never a format.
    EXPECT_STREQ("100% %s %d", FExceptionFileIO("100% %s %d").GetMessage());

    FExceptionFileOpen original("a.q7f");
    FExceptionFileOpen copy(original);
    EXPECT_STREQ("a.q7f", copy.GetMessage());
    FException sliced = copy;
    EXPECT_STREQ("a.q7f", sliced.GetMessage());
}

TEST(FException, CheckedIndex)
{
    EXPECT_NO_THROW(CheckArrayIndex(0, 1));
    EXPECT_NO_THROW(CheckArrayIndex(2, 3));
    struct Case {
        long long index;
        std::size_t count;
    };
    const Case outside[] = {{3, 3}, {0, 0}, {-1, 5}, {1LL << 40, 3}};
    for (const Case& c : outside) {
        try {
            CheckArrayIndex(c.index, c.count);
            ADD_FAILURE() << c.index << " of " << c.count;
        } catch (const FArrayException& e) {
            EXPECT_STREQ("Index out of range.", e.GetMessage());
            EXPECT_STREQ("FArrayException", e.GetDescription());
        }
    }
    const std::vector<FWideString> names = {FWideString("a"), FWideString("b")};
    EXPECT_NO_THROW(CheckStringVectorIndex(names, 1));
    EXPECT_THROW(CheckStringVectorIndex(names, 2), FArrayException);
    EXPECT_THROW(CheckStringVectorIndex({}, 0), FArrayException);
}

TEST(ReportAssertion, AssertionTracesAndThrowsTheReport)
{
    FDebugTraceCapture capture;
    const char* expected = "\nASSERTION FAILED\n\tFile:  f\n\tLine:  7\n\tTest:  t\n";
    try {
        ReportAssertion("f", 7, "t", 0, 42);
        FAIL() << "no throw";
    } catch (const FException& e) {
        EXPECT_STREQ(expected, e.GetMessage());
        EXPECT_STREQ("Brisal exception", e.GetDescription());
    }
    EXPECT_EQ(expected, capture.GetText());
}

TEST(ReportAssertion, AssumptionOnlyReports)
{
    struct Case {
        const char* file;
        int line;
        const char* test;
        int flags;
        int param;
        const char* text;
    };
    const Case cases[] = {
        {"a.cpp", 12, "x > 0", 1, 0, "\nASSUMPTION FAILED\n\tFile:  a.cpp\n\tLine:  12\n\tTest:  x > 0\n"},
        {"a.cpp", 3, "p", 3, 42,
         "\nASSUMPTION FAILED\n\tFile:  a.cpp\n\tLine:  3\n\tTest:  p\n\tParam: 0x0000002A = 42\n"},
        {nullptr, -1, nullptr, 3, -1,
         "\nASSUMPTION FAILED\n\tFile:  ?\n\tLine:  -1\n\tTest:  ?\n\tParam: 0xFFFFFFFF = -1\n"},
    };
    for (const Case& c : cases) {
        FDebugTraceCapture capture;
        EXPECT_NO_THROW(ReportAssertion(c.file, c.line, c.test, c.flags, c.param));
        EXPECT_EQ(c.text, capture.GetText());
    }
    // Flags 2 alone is an assertion with the parameter line.
    try {
        ReportAssertion("f", 1, "t", 2, 255);
        FAIL() << "no throw";
    } catch (const FException& e) {
        EXPECT_EQ(std::string(
                      "\nASSERTION FAILED\n\tFile:  f\n\tLine:  1\n\tTest:  t\n\tParam: 0x000000FF = 255\n"),
                  e.GetMessage());
    }
}

TEST(DebugTrace, FormatsCutsAndReachesTheCurrentSink)
{
    FDebugTraceCapture outer;
    DebugTrace("%s=%d\n", "x", 5);
    {
        FDebugTraceCapture inner;
        DebugTrace("inner");
        EXPECT_EQ("inner", inner.GetText());
    }
    DebugTrace("%s", std::string(5000, 'z').c_str());
    const std::string text = outer.GetText();
    EXPECT_EQ(0u, text.find("x=5\n"));
    EXPECT_EQ(std::string::npos, text.find("inner"));
    EXPECT_EQ(4u + kDebugTraceLimit - 1, text.size());
}

TEST(DebugTrace, CapturesFromEveryThread)
{
    FDebugTraceCapture capture;
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t) {
        threads.emplace_back([t] {
            for (int i = 0; i < 100; ++i)
                DebugTrace("%d", t);
        });
    }
    for (std::thread& thread : threads)
        thread.join();
    EXPECT_EQ(400u, capture.GetText().size());
}
