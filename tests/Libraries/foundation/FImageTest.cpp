#include <gtest/gtest.h>

#include <atomic>
#include <climits>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "FDebugTrace.h"
#include "FException.h"
#include "FHasProperties.h"
#include "FImage.h"
#include "FMemoryAllocator.h"
#include "FRefCountable.h"

namespace
{

// ---- FHasProperties -------------------------------------------------------------------------

TEST(FHasPropertiesTest, StringLookupReturnsTheDefaultPointerItself)
{
    FHasProperties props;
    props.SetString("Empty", "");
    const char* fallback = "fallback";
    EXPECT_EQ(props.GetString("Absent", fallback), fallback);
    EXPECT_STREQ(props.GetString("Empty", fallback), "");
    props.SetString("Empty", "now");
    EXPECT_STREQ(props.GetString("Empty", fallback), "now");
    EXPECT_EQ(props.GetCount(), 1);
}

TEST(FHasPropertiesTest, FloatValuesReadTheLeadingNumber)
{
    struct Case {
        const char* text;
        double value;
    };
    const Case cases[] = {{"2.5", 2.5},       {"3x", 3.0},         {" \t-1e3", -1000.0}, {"+.5", 0.5},
                          {"0x10", 16.0},     {"1e999", HUGE_VAL}, {"1e-999", 0.0},      {"0x1ep-9999", 0.0},
                          {"-0x1.8p1", -3.0}, {"7,5", 7.0},        {"-0", 0.0}};
    FHasProperties props;
    for (const Case& c : cases) {
        props.SetString("v", c.text);
        EXPECT_EQ(props.GetFloat("v", -1), c.value) << c.text;
    }
    EXPECT_EQ(props.GetFloat("absent", 4.25), 4.25);
}

TEST(FHasPropertiesTest, FloatValuesThatAreNoNumberThrowNamingTheValue)
{
    FHasProperties props;
    for (const char* text : {"abc", "", " ", "--1", "x1"}) {
        props.SetString("v", text);
        try {
            props.GetFloat("v", 0);
            ADD_FAILURE() << "no throw for '" << text << "'";
        } catch (const FExceptionConversion& e) {
            const std::string expected = std::string("Conversion failure trying to convert '") + text +
                                         "' to a floating point number.";
            EXPECT_EQ(e.GetMessage(), expected);
            EXPECT_STREQ(e.GetDescription(), "FHasProperties conversion exception");
        }
    }
}

TEST(FHasPropertiesTest, IterationIsInUnsignedByteOrder)
{
    FHasProperties props;
    props.SetString("rows", "2");
    props.SetString("\xE9t\xE9", "3");
    props.SetString("Rows", "1");
    std::vector<std::string> keys;
    FPropertyIterator it = props.GetIterator();
    for (; !it.AtEnd(); it.Next())
        keys.push_back(std::string(it.GetKey()) + "=" + it.GetValue());
    EXPECT_EQ(keys, (std::vector<std::string>{"Rows=1", "rows=2", "\xE9t\xE9=3"}));
    EXPECT_FALSE(it.Next());
    try {
        it.GetKey();
        ADD_FAILURE();
    } catch (const FExceptionEndOfList& e) {
        EXPECT_STREQ(e.GetMessage(), "End of list encountered in FPropertyIterator::GetKey()");
    }
    try {
        it.GetValue();
        ADD_FAILURE();
    } catch (const FExceptionEndOfList& e) {
        EXPECT_STREQ(e.GetMessage(), "End of list encountered in FPropertyIterator::GetValue()");
    }
}

TEST(FHasPropertiesTest, EmptyMapIteratorIsAtTheEndAndRemoveReportsPresence)
{
    FHasProperties props;
    FPropertyIterator it = props.GetIterator();
    EXPECT_TRUE(it.AtEnd());
    EXPECT_THROW(it.GetKey(), FExceptionProperties);
    EXPECT_FALSE(props.Remove("x"));
    props.SetString("x", "1");
    EXPECT_TRUE(props.Has("x"));
    EXPECT_TRUE(props.Remove("x"));
    EXPECT_FALSE(props.Has("x"));
}

TEST(FHasPropertiesTest, AssignmentReplacesTheWholeMap)
{
    FHasProperties a;
    a.SetString("keep", "1");
    FHasProperties b;
    b.SetString("old", "x");
    b = a;
    EXPECT_FALSE(b.Has("old"));
    EXPECT_STREQ(b.GetString("keep", nullptr), "1");
    b = b;
    EXPECT_EQ(b.GetCount(), 1);
}

// ---- FRefCountable --------------------------------------------------------------------------

std::atomic<int> gDestroyed{0};

struct Counted : FRefCountable {
    ~Counted() override { ++gDestroyed; }
};

TEST(FRefCountableTest, LastOfManyConcurrentReleasesDeletesExactlyOnce)
{
    gDestroyed = 0;
    for (int round = 0; round < 20; ++round) {
        Counted* shared = new Counted;
        constexpr int kThreads = 8;
        for (int i = 0; i < kThreads; ++i)
            shared->AddReference();
        std::vector<std::thread> threads;
        for (int i = 0; i < kThreads; ++i) {
            threads.emplace_back([shared] {
                for (int k = 0; k < 2000; ++k) {
                    shared->AddReference();
                    Counted* mine = shared;
                    ReleaseReference(mine);
                }
                Counted* last = shared;
                ReleaseReference(last);
            });
        }
        for (auto& t : threads)
            t.join();
        EXPECT_EQ(shared->GetRefCount(), 1);
        EXPECT_EQ(gDestroyed.load(), round);
        ReleaseReference(shared);
        EXPECT_EQ(shared, nullptr);
        EXPECT_EQ(gDestroyed.load(), round + 1);
    }
}

TEST(FRefCountableTest, SurplusDropIsReportedAndLeavesTheCountAtZero)
{
    FDebugTraceCapture capture;
    Counted onStack;
    EXPECT_TRUE(onStack.DropReference()); // the caller would delete now
    EXPECT_FALSE(onStack.DropReference());
    EXPECT_EQ(onStack.GetRefCount(), 0);
    EXPECT_TRUE(capture.Contains("ASSUMPTION FAILED"));
    Counted* none = nullptr;
    ReleaseReference(none); // a null holder does nothing
}

TEST(FRefCountableTest, RefPtrCopiesShareOneObject)
{
    gDestroyed = 0;
    {
        FRefPtr<Counted> a(new Counted);
        FRefPtr<Counted> b = a;
        EXPECT_EQ(a->GetRefCount(), 2);
        FRefPtr<Counted> c = std::move(b);
        EXPECT_FALSE(b);
        EXPECT_EQ(c->GetRefCount(), 2);
        a = FRefPtr<Counted>();
        EXPECT_EQ(c->GetRefCount(), 1);
        EXPECT_EQ(gDestroyed.load(), 0);
    }
    EXPECT_EQ(gDestroyed.load(), 1);
}

// ---- FMemoryAllocator and FImage ------------------------------------------------------------

TEST(FMemoryAllocatorTest, CountedInstanceAndSurplusReleaseAssertion)
{
    const unsigned base = GetMemoryAllocatorRefCount();
    FMemoryAllocator* a = GetMemoryAllocator(nullptr);
    FMemoryAllocator* b = GetMemoryAllocator(nullptr);
    EXPECT_EQ(a, b);
    EXPECT_EQ(GetMemoryAllocatorRefCount(), base + 2);
    void* block = a->Alloc(64);
    ASSERT_NE(block, nullptr);
    EXPECT_EQ(a->Relocate(block), block);
    EXPECT_FALSE(a->IsMemoryLow());
    a->Free(block);
    ReleaseMemoryAllocator(a);
    EXPECT_EQ(a, nullptr);
    ReleaseMemoryAllocator(b);
    EXPECT_EQ(GetMemoryAllocatorRefCount(), base);
    if (base != 0)
        GTEST_SKIP() << "another user holds the allocator";
    FMemoryAllocator* surplus = nullptr;
    try {
        ReleaseMemoryAllocator(surplus);
        ADD_FAILURE() << "no assertion";
    } catch (const FException& e) {
        const std::string text = e.GetMessage();
        EXPECT_NE(text.find("ASSERTION FAILED"), std::string::npos) << text;
        EXPECT_NE(text.find("lib_Threading\\Src\\FMemoryAllocator"), std::string::npos) << text;
        EXPECT_NE(text.find("Line:  62"), std::string::npos) << text;
        EXPECT_NE(text.find("staulMemoryAllocatorRefCount"), std::string::npos) << text;
    }
    EXPECT_EQ(GetMemoryAllocatorRefCount(), 0u);
}

TEST(FImageTest, RowsArePaddedToTheAlignment)
{
    struct Case {
        int cols, rows, type, alignment, stride;
    };
    const Case cases[] = {{3, 2, 7, 4, 12},  {3, 2, 7, 1, 9},  {3, 2, 7, 0, 9}, {5, 1, 1, 8, 8},
                          {2, 2, 16, 4, 12}, {0, 3, 15, 4, 0}, {1, 1, 5, 3, 6}};
    for (const Case& c : cases) {
        FImage* image = new FImage(c.cols, c.rows, c.type, c.alignment);
        EXPECT_EQ(image->GetPixmap()->GetStride(), c.stride) << c.cols << "x" << c.type << "/" << c.alignment;
        EXPECT_EQ(image->GetPixmap()->GetPixelType(), c.type);
        EXPECT_EQ(image->GetPixmap()->GetCols(), c.cols);
        EXPECT_EQ(image->GetPixmap()->GetRows(), c.rows);
        EXPECT_EQ(image->GetPixelType(), c.type);
        EXPECT_EQ(image->GetRefCount(), 1);
        // Every byte of the pixels is ours to write (ASan checks the extent).
        if (c.rows > 0 && c.stride > 0)
            std::memset(image->GetPixmap()->GetBuffer(), 0xA5, static_cast<size_t>(c.rows * c.stride));
        ReleaseReference(image);
    }
}

TEST(FImageTest, DisplayTypeGetsTheDisplayPixmap)
{
    FRefPtr<FImage> image(new FImage(2, 2, FPixmap::PIXEL_32_BGRA, 4));
    EXPECT_NE(dynamic_cast<FPixmap_Display*>(image->GetPixmap()), nullptr);
    EXPECT_EQ(image->GetBytesPerPixel(), 4);
}

TEST(FImageTest, BadTypesAndSizesThrowBeforeTakingMemory)
{
    const unsigned base = GetMemoryAllocatorRefCount();
    for (int type : {0, 18, 19, -3}) {
        try {
            FImage image(1, 1, type, 4);
            ADD_FAILURE() << "no throw for type " << type;
        } catch (const FExceptionUnknownPixelType& e) {
            EXPECT_STREQ(e.GetMessage(), "FImage::GetBytesPerPixel()");
        }
        EXPECT_EQ(GetMemoryAllocatorRefCount(), base);
    }
    EXPECT_THROW(FImage(-1, 1, 1, 4), FExceptionPixmap);
    EXPECT_THROW(FImage(1, -1, 1, 4), FExceptionPixmap);
    EXPECT_THROW(FImage(INT_MAX, 2, 15, 4), std::bad_alloc);  // row beyond 32 bits
    EXPECT_THROW(FImage(65536, 65537, 1, 1), std::bad_alloc); // just over the cap
    EXPECT_EQ(GetMemoryAllocatorRefCount(), base);
}

TEST(FImageTest, SameFormatNeedsSizeAndType)
{
    FRefPtr<FImage> a(new FImage(4, 3, 15, 4));
    FRefPtr<FImage> b(new FImage(4, 3, 16, 4));
    FRefPtr<FImage> c(new FImage(4, 3, 15, 1));
    FRefPtr<FImage> d(new FImage(3, 4, 15, 4));
    EXPECT_FALSE(a->IsSameFormat(*b));
    EXPECT_TRUE(a->IsSameFormat(*c));
    EXPECT_FALSE(a->IsSameFormat(*d));
}

TEST(FImageTest, ImagesGiveTheAllocatorBackAndCarryProperties)
{
    const unsigned base = GetMemoryAllocatorRefCount();
    {
        FRefPtr<FImage> a(new FImage(8, 8, 3, 4));
        FRefPtr<FImage> b(new FImage(8, 8, 3, 4));
        EXPECT_EQ(GetMemoryAllocatorRefCount(), base + 2);
        a->SetString("Document", "x");
        EXPECT_STREQ(a->GetProperties().GetString("Document", nullptr), "x");
        FRefCountable* asBase = b.Detach();
        ReleaseReference(asBase); // deleting through the other base reaches the same destructor
        EXPECT_EQ(GetMemoryAllocatorRefCount(), base + 1);
    }
    EXPECT_EQ(GetMemoryAllocatorRefCount(), base);
}

} // namespace
