// The bridge's own file copy: its pieces and progress, and that a copy which does not
// finish (cancelled, failed, refused, or its bridge destroyed) leaves the destination as it
// was and no temporary file behind.

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "DevelopDriver.h"
#include "FDebugTrace.h"
#include "FMemStorageClass.h"
#include "FScopedTempFolder.h"
#include "FUiIpObject.h"
#include "FUiIpObjectRequest.h"
#include "FakeIpPool.h"
#include "StorageClassRegistry.h"

namespace
{

const FWideString kIpRequest(u"IpRequest");

FMemStorageClass& Mem()
{
    static FMemStorageClass* mem = [] {
        FMemStorageClass* made = RegisterMemStorageClass(FWideString("memcopy"));
        RegisterStorageClass(FWideString("rocopy"),
                             new FReadOnlyFolderStorageClass(FWideString("rocopy"), made));
        return made;
    }();
    return *mem;
}

void WaitForQuiet(FUiIpObject& bridge)
{
    const auto limit = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (!bridge.IsCopyQuiet() && std::chrono::steady_clock::now() < limit)
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    EXPECT_TRUE(bridge.IsCopyQuiet());
}

std::string Pattern(size_t size, int seed)
{
    std::string bytes(size, '\0');
    for (size_t i = 0; i < size; ++i)
        bytes[i] = static_cast<char>(i * 7 + seed + (i >> 10));
    return bytes;
}

class IpCopyTest : public ::testing::Test
{
protected:
    IpCopyTest()
    {
        Mem().SetWriteFailure(-1);
        Mem().SetReadFault(-1);
        Mem().SetFlushFault(false);
        m_folder = "f" + std::to_string(++s_iCase);
        Mem().PutFile(Path("src/IMG_0001.q7f"), m_source);
        Mem().PutFile(Path("dst/IMG_0001.q7f"), m_old);
        // Pieces, not time, pace these copies: the long budget only bounds the wait for the worker.
        m_pBridge->SetCopyBudget(std::chrono::seconds(10), 1);
        m_trashedBefore = Mem().GetTrashed().size();
    }

    // The storage class is shared by the whole test program.
    size_t TrashedHere() const { return Mem().GetTrashed().size() - m_trashedBefore; }

    FWideString Path(const std::string& rest) const { return FWideString((m_folder + "/" + rest).c_str()); }
    FWideString Url(const std::string& rest) const
    {
        return FWideString(("memcopy://" + m_folder + "/" + rest).c_str());
    }

    void Prepare(FUiIpObjectCopyReq& copy)
    {
        copy.m_usFileURL = Url("src/IMG_0001.q7f");
        copy.m_usDstURL = Url("dst/IMG_0001.q7f");
        copy.m_pReturnRelay = &m_relay;
        copy.m_bProgressReplies = true;
    }
    void Send(FUiIpObjectCopyReq& copy) { EXPECT_FALSE(m_pBridge->UiRelayMessage(kIpRequest, &copy)); }
    void TickUntilIdle()
    {
        for (int i = 0; i < 100 && !m_pBridge->IsIdle(); ++i)
            m_pBridge->Tick(10);
        ASSERT_TRUE(m_pBridge->IsIdle());
    }

    std::string Bytes(const std::string& rest) const
    {
        std::string bytes;
        EXPECT_TRUE(Mem().GetFileBytes(Path(rest), bytes)) << rest;
        return bytes;
    }
    std::vector<std::string> DestinationFolder() const
    {
        FWideString name;
        FIFolder* folder = OpenFolderURL(Url("dst"), name, false);
        std::vector<FWideString> names;
        if (folder) {
            folder->ListFiles(names);
            folder->Release();
        }
        std::vector<std::string> narrow;
        for (const FWideString& n : names)
            narrow.push_back(n.GetNarrow());
        return narrow;
    }
    // The destination exactly as it was, nothing beside it, the source untouched.
    void ExpectNothingLost()
    {
        // A cancelled copy's worker removes its temporary file as it ends.
        if (m_pBridge)
            WaitForQuiet(*m_pBridge);
        EXPECT_EQ(Bytes("dst/IMG_0001.q7f"), m_old);
        EXPECT_EQ(DestinationFolder(), std::vector<std::string>{"IMG_0001.q7f"});
        EXPECT_EQ(Bytes("src/IMG_0001.q7f"), m_source);
    }

    static inline int s_iCase = 0;
    std::string m_folder;
    size_t m_trashedBefore = 0;
    std::string m_source = Pattern(200000, 1);
    std::string m_old = Pattern(1000, 9);
    FDebugTraceCapture m_trace;
    FakeIpPool m_pool;
    FRecordingRelay m_relay;
    std::unique_ptr<FUiIpObject> m_pBridge = std::make_unique<FUiIpObject>("IP_OBJECT2", &m_pool);
};

TEST_F(IpCopyTest, OnePieceBudgetCopiesFourPiecesThenRenamesOnTheFifthTick)
{
    FUiIpObjectCopyReq copy;
    Prepare(copy);
    Send(copy);
    ASSERT_EQ(copy.m_Async.GetState(), kInProgress);
    const double expected[] = {0.327680, 0.655360, 0.983040, 1.0};
    for (int tick = 0; tick < 4; ++tick) {
        m_pBridge->Tick(10);
        ASSERT_EQ(m_relay.GetRecords().size(), static_cast<size_t>(tick + 1));
        const FIpReplyRecord& reply = m_relay.GetRecords().back();
        EXPECT_EQ(reply.replyClass, "Reply");
        EXPECT_EQ(reply.state, kInProgress);
        EXPECT_DOUBLE_EQ(reply.progress, expected[tick]);
        // The old file stays in place until the copy is complete.
        EXPECT_EQ(Bytes("dst/IMG_0001.q7f"), m_old);
    }
    m_pBridge->Tick(10);
    EXPECT_TRUE(m_pBridge->IsIdle());
    ASSERT_EQ(m_relay.GetRecords().size(), 5u);
    EXPECT_EQ(m_relay.GetRecords().back().replyClass, "CopyReply");
    EXPECT_EQ(m_relay.GetRecords().back().url, copy.m_usDstURL.GetNarrow());
    EXPECT_EQ(copy.m_Async.GetState(), kCompleted);
    EXPECT_EQ(Bytes("dst/IMG_0001.q7f"), m_source);
    EXPECT_EQ(DestinationFolder(), std::vector<std::string>{"IMG_0001.q7f"});
    EXPECT_TRUE(TrashedHere() == 0);
    EXPECT_TRUE(m_pool.GetSubmissions().empty());
}

TEST_F(IpCopyTest, PiecesPerTickFollowTheBudget)
{
    // Putting the copy in place counts as one more step of a tick's budget.
    struct Case {
        int maxPieces;
        std::vector<double> progress;
        int ticks;
    };
    const Case cases[] = {
        {3, {0.983040, 1.0}, 2},
        {4, {1.0}, 2},
        {5, {1.0}, 1},
        {0, {1.0}, 1},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.maxPieces);
        m_relay.Clear();
        m_pBridge->SetCopyBudget(std::chrono::seconds(10), c.maxPieces);
        FUiIpObjectCopyReq copy;
        Prepare(copy);
        Send(copy);
        int ticks = 0;
        for (; ticks < 10 && !m_pBridge->IsIdle(); ++ticks)
            m_pBridge->Tick(10);
        EXPECT_EQ(ticks, c.ticks);
        std::vector<double> progress;
        for (const FIpReplyRecord& r : m_relay.GetRecords()) {
            if (r.replyClass == "Reply")
                progress.push_back(r.progress);
        }
        EXPECT_EQ(progress, c.progress);
        EXPECT_EQ(m_relay.GetRecords().back().replyClass, "CopyReply");
        EXPECT_EQ(Bytes("dst/IMG_0001.q7f"), m_source);
    }
}

// As the progress window does: the next copy is handed in right after the tick in which
// the last one ended. With budget left it starts at once, within what the tick allows;
// after a tick that ended nothing, it waits for the next tick.
TEST_F(IpCopyTest, TheNextCopyUsesWhatIsLeftOfTheTick)
{
    Mem().PutFile(Path("src/IMG_0002.q7f"), m_source);
    m_pBridge->SetCopyBudget(std::chrono::seconds(10), 5);
    FUiIpObjectCopyReq first;
    Prepare(first);
    Send(first);
    m_pBridge->Tick(10);
    ASSERT_TRUE(m_pBridge->IsIdle());
    // Four pieces went into the first copy; one is left for the second.
    FUiIpObjectCopyReq second;
    Prepare(second);
    second.m_usFileURL = Url("src/IMG_0002.q7f");
    second.m_usDstURL = Url("dst/IMG_0002.q7f");
    Send(second);
    EXPECT_FALSE(m_pBridge->IsIdle());
    EXPECT_DOUBLE_EQ(second.m_Async.GetProgress(), 0.32768);
    m_pBridge->Tick(10);
    ASSERT_TRUE(m_pBridge->IsIdle());
    EXPECT_EQ(Bytes("dst/IMG_0002.q7f"), m_source);

    // A tick that ended nothing leaves nothing to go on with.
    m_pBridge->Tick(10);
    FUiIpObjectCopyReq third;
    Prepare(third);
    third.m_usDstURL = Url("dst/IMG_0003.q7f");
    Send(third);
    EXPECT_DOUBLE_EQ(third.m_Async.GetProgress(), 0.0);
    TickUntilIdle();
    EXPECT_EQ(Bytes("dst/IMG_0003.q7f"), m_source);
}

TEST_F(IpCopyTest, NewDestinationIsRenamedIntoPlace)
{
    for (bool deleteSource : {false, true}) {
        SCOPED_TRACE(deleteSource);
        Mem().PutFile(Path("src/IMG_0001.q7f"), m_source);
        FUiIpObjectCopyReq copy;
        Prepare(copy);
        copy.m_usDstURL = Url(deleteSource ? "dst/moved.q7f" : "dst/new.q7f");
        copy.m_bDeleteSrc = deleteSource;
        Send(copy);
        TickUntilIdle();
        EXPECT_EQ(copy.m_Async.GetState(), kCompleted);
        EXPECT_EQ(Bytes(deleteSource ? "dst/moved.q7f" : "dst/new.q7f"), m_source);
        EXPECT_EQ(TrashedHere(), deleteSource ? 1u : 0u);
    }
    std::vector<std::string> names = DestinationFolder();
    std::sort(names.begin(), names.end());
    EXPECT_EQ(names, (std::vector<std::string>{"IMG_0001.q7f", "moved.q7f", "new.q7f"}));
}

TEST_F(IpCopyTest, EmptySourceTakesOneEmptyPiece)
{
    Mem().PutFile(Path("src/IMG_0001.q7f"), "");
    FUiIpObjectCopyReq copy;
    Prepare(copy);
    Send(copy);
    m_pBridge->Tick(10);
    ASSERT_EQ(m_relay.GetRecords().size(), 1u);
    EXPECT_EQ(m_relay.GetRecords()[0].progress, 1.0);
    m_pBridge->Tick(10);
    EXPECT_EQ(m_relay.GetRecords().back().replyClass, "CopyReply");
    EXPECT_EQ(Bytes("dst/IMG_0001.q7f"), "");
}

TEST_F(IpCopyTest, CancelAtEveryPieceLosesNothing)
{
    for (int ticks = 0; ticks <= 4; ++ticks) {
        SCOPED_TRACE(ticks);
        m_relay.Clear();
        FUiIpObjectCopyReq copy;
        Prepare(copy);
        copy.m_bDeleteSrc = true;
        Send(copy);
        for (int i = 0; i < ticks; ++i)
            m_pBridge->Tick(10);
        copy.m_Async.RequestCancel();
        m_pBridge->Tick(10);
        EXPECT_TRUE(m_pBridge->IsIdle());
        EXPECT_EQ(copy.m_Async.GetState(), kCancelled);
        EXPECT_EQ(m_relay.GetRecords().back().replyClass, "Reply");
        EXPECT_EQ(m_relay.GetRecords().back().state, kCancelled);
        ExpectNothingLost();
        EXPECT_TRUE(TrashedHere() == 0);
    }
}

TEST_F(IpCopyTest, FailureAtEveryPieceLosesNothing)
{
    // Write k fails as a full disk would; the last case fails putting the copy in place.
    for (int failing = 0; failing <= 4; ++failing) {
        SCOPED_TRACE(failing);
        m_relay.Clear();
        if (failing < 4)
            Mem().SetWriteFailure(failing);
        else
            Mem().SetFlushFault(true);
        FUiIpObjectCopyReq copy;
        Prepare(copy);
        copy.m_bDeleteSrc = true;
        copy.m_Async.m_iErrorCode = 77;
        Send(copy);
        TickUntilIdle();
        Mem().SetWriteFailure(-1);
        Mem().SetFlushFault(false);
        EXPECT_EQ(copy.m_Async.GetState(), kError);
        EXPECT_EQ(copy.m_Async.GetErrorCode(), 0);
        EXPECT_EQ(m_relay.GetRecords().back().replyClass, "Reply");
        ExpectNothingLost();
        EXPECT_TRUE(TrashedHere() == 0);
    }
}

TEST_F(IpCopyTest, SourceGoesToTheTrashOnlyOnceTheCopyIsInPlace)
{
    FUiIpObjectCopyReq copy;
    Prepare(copy);
    copy.m_bDeleteSrc = true;
    Send(copy);
    for (int tick = 0; tick < 4; ++tick) {
        m_pBridge->Tick(10);
        EXPECT_TRUE(TrashedHere() == 0);
    }
    m_relay.SetOnMessage([&](const FIpReplyRecord& r, void*) {
        if (r.replyClass == "CopyReply") {
            EXPECT_EQ(TrashedHere(), 1u);
        }
    });
    m_pBridge->Tick(10);
    EXPECT_EQ(copy.m_Async.GetState(), kCompleted);
    EXPECT_EQ(Bytes("dst/IMG_0001.q7f"), m_source);
    std::string gone;
    EXPECT_FALSE(Mem().GetFileBytes(Path("src/IMG_0001.q7f"), gone));
}

TEST_F(IpCopyTest, RefusedCopiesLeaveEverythingAsItWas)
{
    FFileInfo readOnly;
    readOnly.m_iFlags = kFileAttrReadOnly;
    struct Case {
        const char* name;
        std::string source;
        std::string destination;
        bool lockDestination;
    };
    const Case cases[] = {
        {"missing source", "memcopy://" + m_folder + "/src/none.q7f",
         "memcopy://" + m_folder + "/dst/IMG_0001.q7f", false},
        {"same file", "memcopy://" + m_folder + "/dst/IMG_0001.q7f",
         "memcopy://" + m_folder + "/dst/IMG_0001.q7f", false},
        {"read-only folder", "memcopy://" + m_folder + "/src/IMG_0001.q7f",
         "rocopy://" + m_folder + "/dst/IMG_0001.q7f", false},
        {"missing folder", "memcopy://" + m_folder + "/src/IMG_0001.q7f",
         "memcopy://" + m_folder + "/nowhere/IMG_0001.q7f", false},
        {"read-only destination", "memcopy://" + m_folder + "/src/IMG_0001.q7f",
         "memcopy://" + m_folder + "/dst/IMG_0001.q7f", true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        if (c.lockDestination)
            SetFileAttributesURL(Url("dst/IMG_0001.q7f"), readOnly);
        FUiIpObjectCopyReq copy;
        Prepare(copy);
        copy.m_usFileURL = FWideString(c.source.c_str());
        copy.m_usDstURL = FWideString(c.destination.c_str());
        copy.m_bDeleteSrc = true;
        Send(copy);
        EXPECT_EQ(copy.m_Async.GetState(), kError);
        EXPECT_EQ(copy.m_Async.GetErrorCode(), kErrInvalid);
        EXPECT_TRUE(m_pBridge->IsIdle());
        ExpectNothingLost();
        bool isFolder = false;
        EXPECT_FALSE(ExistsURL(Url("nowhere"), isFolder));
    }
    EXPECT_TRUE(m_relay.GetRecords().empty());
    EXPECT_TRUE(TrashedHere() == 0);
}

TEST_F(IpCopyTest, UnreadableSourceMidCopyFails)
{
    Mem().SetReadFault(100000);
    FUiIpObjectCopyReq copy;
    Prepare(copy);
    Send(copy);
    TickUntilIdle();
    EXPECT_EQ(copy.m_Async.GetState(), kError);
    EXPECT_EQ(copy.m_Async.GetErrorCode(), 0);
    // Two good pieces, then the failing one reports nothing; the next tick answers.
    ASSERT_EQ(m_relay.GetRecords().size(), 2u);
    EXPECT_EQ(m_relay.GetRecords().back().state, kError);
    Mem().SetReadFault(-1);
    ExpectNothingLost();
    EXPECT_TRUE(m_trace.Contains("FUiIpObject::Tick: caught exception while copying\n"));
}

TEST_F(IpCopyTest, DestroyedBridgeEndsItsCopyCancelled)
{
    FUiIpObjectCopyReq copy;
    Prepare(copy);
    Send(copy);
    m_pBridge->Tick(10);
    m_pBridge.reset();
    EXPECT_EQ(copy.m_Async.GetState(), kCancelled);
    EXPECT_EQ(m_relay.GetRecords().back().state, kCancelled);
    ExpectNothingLost();
}

// On the disk: a source that shrinks under the copy, and one beyond 32-bit sizes.
TEST(IpCopyDiskTest, ShrinkingSourceFailsAndHugeSourcesCountIn64Bits)
{
    FScopedTempFolder temp;
    ASSERT_TRUE(temp.WriteFile("src.q7f", Pattern(200000, 3)));
    ASSERT_TRUE(temp.WriteFile("dst.q7f", "old"));
    FakeIpPool pool;
    FRecordingRelay relay;
    FUiIpObject bridge("IP_OBJECT2", &pool);
    bridge.SetCopyBudget(std::chrono::seconds(10), 1);
    auto folderNames = [&] {
        WaitForQuiet(bridge);
        std::vector<std::string> names;
        for (const auto& entry : std::filesystem::directory_iterator(temp.GetPath()))
            names.push_back(entry.path().filename().string());
        std::sort(names.begin(), names.end());
        return names;
    };

    FUiIpObjectCopyReq shrink;
    shrink.m_usFileURL = developtest::DiskURL(temp.Join("src.q7f"));
    shrink.m_usDstURL = developtest::DiskURL(temp.Join("dst.q7f"));
    shrink.m_pReturnRelay = &relay;
    bridge.UiRelayMessage(kIpRequest, &shrink);
    bridge.Tick(10);
    std::filesystem::resize_file(temp.Join("src.q7f"), 70000);
    for (int i = 0; i < 10 && !bridge.IsIdle(); ++i)
        bridge.Tick(10);
    EXPECT_EQ(shrink.m_Async.GetState(), kError);
    std::string bytes;
    EXPECT_TRUE(temp.ReadFile("dst.q7f", bytes));
    EXPECT_EQ(bytes, "old");
    EXPECT_EQ(folderNames(), (std::vector<std::string>{"dst.q7f", "src.q7f"}));

    // A sparse source of 3 GiB: the first piece is a small positive share of it.
    const uint64_t huge = 3ull << 30;
    std::filesystem::resize_file(temp.Join("src.q7f"), huge);
    FUiIpObjectCopyReq big;
    big.m_usFileURL = shrink.m_usFileURL;
    big.m_usDstURL = shrink.m_usDstURL;
    big.m_pReturnRelay = &relay;
    big.m_bProgressReplies = true;
    relay.Clear();
    bridge.UiRelayMessage(kIpRequest, &big);
    ASSERT_EQ(big.m_Async.GetState(), kInProgress);
    bridge.Tick(10);
    ASSERT_EQ(relay.GetRecords().size(), 1u);
    EXPECT_DOUBLE_EQ(relay.GetRecords()[0].progress, 65536.0 / static_cast<double>(huge));
    big.m_Async.RequestCancel();
    bridge.Tick(10);
    EXPECT_EQ(big.m_Async.GetState(), kCancelled);
    EXPECT_TRUE(temp.ReadFile("dst.q7f", bytes));
    EXPECT_EQ(bytes, "old");
    EXPECT_EQ(folderNames(), (std::vector<std::string>{"dst.q7f", "src.q7f"}));
}

} // namespace
