#include <gtest/gtest.h>

#include <atomic>
#include <thread>

#include "EngineTestSupport.h"
#include "FLatchStorageClass.h"
#include "FMemStorageClass.h"
#include "StorageClassRegistry.h"

namespace
{

using LatchStorageTest = FEngineTest;

TEST_F(LatchStorageTest, ReadsWaitAtAClosedLatch)
{
    static FMemStorageClass* mem = RegisterMemStorageClass(u"latchmem");
    mem->PutFile(u"f/a.bin", "abcdef");
    FLatchStorageClass& latch = GetLatchStorageClass();
    latch.SetTarget(u"latchmem://");

    FIFile* file = OpenFileURL(u"latch://f/a.bin", kFileRead);
    ASSERT_NE(file, nullptr);
    EXPECT_EQ(file->GetSize(), 6u);
    latch.CloseLatch();
    std::atomic<bool> done{false};
    char buffer[3] = {};
    std::thread reader([&] {
        file->Read(buffer, 3);
        done = true;
    });
    EXPECT_TRUE(latch.WaitForWaitingReads(1, std::chrono::seconds(10)));
    EXPECT_FALSE(done.load());
    latch.OpenLatch();
    reader.join();
    EXPECT_EQ(std::string(buffer, 3), "abc");
    EXPECT_EQ(latch.GetReadCount(), 1);
    EXPECT_EQ(latch.GetWaitingReads(), 0);
    file->Release();
    EXPECT_EQ(OpenFileURL(u"latch://f/missing.bin", kFileRead), nullptr);
}

} // namespace
