#include "CamFileApi.h"
#include "CamProtocol.h"
#include "CamTestSupport.h"
#include "FDebugTrace.h"
#include "FException.h"
#include "FReleased.h"
#include "FSCCamera.h"
#include "FSCDiskWin.h"
#include "FScopedTempFolder.h"
#include "SimCamera.h"
#include "StorageClassRegistry.h"

#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <filesystem>
#include <stdexcept>
#include <sys/stat.h>
#include <thread>

namespace
{

using Bytes = SimCamera::Bytes;

// "disk" and "camera" once per process: the registry keeps classes for good.
void EnsureClassesRegistered()
{
    static const bool registered = [] {
        RegisterDiskStorageClass();
        RegisterCameraStorageClass();
        return true;
    }();
    (void)registered;
}

FWideString Join(FWideString left, const FWideString& right)
{
    left += right;
    return left;
}

FWideString DiskURL(const std::string& native)
{
    FWideString url;
    NativePathToURL(WideFromUtf8(native), url);
    return url;
}

std::string UniqueMutexName()
{
    static std::atomic<int> counter{0};
    return "CamTestMutex-" + std::to_string(getpid()) + "-" + std::to_string(counter++);
}

// Copies a camera file the way a download does: begin, chunks until none is left, end.
// Answers the size reported at the start.
int CopyWhole(FIFile* file, const FWideString& destinationURL, int chunk)
{
    auto* copyable = dynamic_cast<FCopyableFile*>(file);
    if (!copyable)
        throw std::runtime_error("not a copyable file");
    int total = 0;
    if (!copyable->BeginCopy(destinationURL, &total, chunk))
        throw std::runtime_error("the copy did not begin");
    while (copyable->CopyChunk(chunk) > 0) {
    }
    copyable->EndCopy();
    return total;
}

class StorageTest : public CamLinkTest
{
protected:
    void SetUp() override
    {
        EnsureClassesRegistered();
        CamLinkTest::SetUp();
        m_pClock = std::make_unique<VirtualClock>();
        VirtualCamSetRoot(m_virtual.GetPath()); // off: no "Connected" in it
    }
    void TearDown() override
    {
        m_pSim.reset();
        VirtualCamSetRoot("");
        m_pClock.reset();
        CamLinkTest::TearDown();
    }
    void Attach(SimCamera::Options options = {}, int transport = kCamTransportUsb)
    {
        m_pSim = std::make_unique<SimCamera>(options);
        m_pSim->Install(transport);
        m_camera = m_pSim->DeviceName();
    }
    FWideString Url(const std::string& path) const { return WideFromUtf8("camera://" + m_camera + path); }

    std::unique_ptr<VirtualClock> m_pClock;
    FScopedTempFolder m_virtual;
    std::unique_ptr<SimCamera> m_pSim;
    std::string m_camera;
};

TEST_F(StorageTest, StandInFolderAndVirtualCamera)
{
    FScopedTempFolder work;
    const std::string standIn = work.Join("MyCamera");
    {
        FSCCamera camera(u"camera", UniqueMutexName().c_str(), standIn);
        EXPECT_FALSE(camera.IsRedirected());
        FWideString name;
        Released<FIFolder> top(camera.OpenFolder(u"", name, false));
        std::vector<FWideString> names;
        top->ListFolders(names);
        EXPECT_TRUE(names.empty()) << "nothing attached, no stand-in folder";
    }
    ASSERT_EQ(::mkdir(standIn.c_str(), 0755), 0);
    ASSERT_EQ(::mkdir((standIn + "/dev").c_str(), 0755), 0);
    ASSERT_TRUE(work.WriteFile("MyCamera/dev/CF", "card"));
    {
        FSCCamera camera(u"camera", UniqueMutexName().c_str(), standIn);
        ASSERT_TRUE(camera.IsRedirected());
        const FWideString url = camera.GetRedirectURL();
        EXPECT_EQ(U8(url), U8(DiskURL(standIn)));
        FWideString name;
        Released<FIFolder> top(camera.OpenFolder(u"", name, false));
        std::vector<FWideString> names;
        top->ListFolders(names);
        ASSERT_EQ(names.size(), 1u);
        EXPECT_EQ(U8(names[0]), U8(url));
        FWideString cf = url;
        cf += u"/dev/CF";
        Released<FIFile> file(camera.OpenFile(cf, kFileRead));
        ASSERT_TRUE(file);
        char text[4];
        EXPECT_EQ(file->Read(text, 4), 4);
        EXPECT_EQ(std::string(text, 4), "card");
    }
    // The virtual camera on at creation wins over the stand-in folder.
    ASSERT_TRUE(m_virtual.WriteFile("Connected", ""));
    FSCCamera camera(u"camera", UniqueMutexName().c_str(), standIn);
    EXPECT_FALSE(camera.IsRedirected());
    FWideString name;
    Released<FIFolder> top(camera.OpenFolder(u"", name, false));
    std::vector<FWideString> names;
    top->ListFolders(names);
    ASSERT_EQ(names.size(), 1u);
    EXPECT_EQ(U8(names[0]), kVirtualCameraName);
}

TEST_F(StorageTest, OneCameraOfferedAndFolderUrls)
{
    Attach();
    SimCamera::Options second;
    second.m_id = "other";
    SimCamera other(second);
    other.Install(kCamTransport1394);
    m_pSim->AddFile("/cf/images/IMG_0001.q7f", Pattern(10, 1));
    m_pSim->AddFolder("/cf/images/sub");

    FWideString unused;
    Released<FIFolder> top(OpenFolderURL(u"camera://", unused, false));
    ASSERT_TRUE(top);
    std::vector<FWideString> names;
    top->ListFolders(names);
    ASSERT_EQ(names.size(), 1u) << "two cameras answer, one is offered";
    EXPECT_EQ(U8(names[0]), "1394@other") << "the first in the list";

    FWideString fileName;
    Released<FIFolder> folder(OpenFolderURL(Url("/cf/images"), fileName, false));
    ASSERT_TRUE(folder);
    EXPECT_EQ(U8(folder->GetURL()), U8(Url("/cf/images")));
    names.clear();
    folder->ListFolders(names);
    ASSERT_EQ(names.size(), 1u);
    EXPECT_EQ(U8(names[0]), "/sub");
    Released<FIFolder> sub(folder->OpenSubFolder(names[0], false));
    ASSERT_TRUE(sub);
    EXPECT_EQ(U8(sub->GetURL()), U8(Url("/cf/images/sub")));
    names.clear();
    folder->ListFiles(names);
    ASSERT_EQ(names.size(), 1u);
    EXPECT_EQ(U8(names[0]), "IMG_0001.q7f");
    EXPECT_EQ(folder->GetDriveType(), kDriveRemote);

    bool isFolder = false;
    EXPECT_TRUE(ExistsURL(Url("/cf/images/IMG_0001.q7f"), isFolder));
    EXPECT_FALSE(isFolder);
    EXPECT_TRUE(ExistsURL(Url("/cf/images/sub"), isFolder));
    EXPECT_TRUE(isFolder);
    EXPECT_FALSE(ExistsURL(Url("/cf/images/missing.q7f"), isFolder)) << "a path the camera does not have";
    EXPECT_TRUE(ExistsURL(Url(""), isFolder));
    EXPECT_TRUE(isFolder);
}

TEST_F(StorageTest, ReadAheadArithmetic)
{
    Attach();
    const Bytes data = Pattern(300000, 3);
    m_pSim->AddFile("/f", data);
    struct Case {
        const char* what;
        uint64_t firstAt; // a read of 10 bytes here first; UINT64_MAX for none
        uint64_t at;
        int n;
        int reads;           // READ commands for the second read
        uint32_t lastLength; // length of the last READ
    };
    const Case cases[] = {
        {"buffer then a new fill", 0, 65500, 100, 1, 65536},
        {"large read goes direct", UINT64_MAX, 0, 200000, 1, 200000},
        {"buffer then direct", 0, 65500, 70000, 1, 69964},
        {"inside the buffer", 0, 100, 1000, 0, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        Released<FIFile> file(OpenFileURL(Url("/f"), kFileRead));
        ASSERT_TRUE(file);
        Bytes out(c.n);
        if (c.firstAt != UINT64_MAX) {
            file->Seek(c.firstAt);
            file->ReadSome(out.data(), 10);
        }
        const int before = m_pSim->CommandCount(kCamCmdRead);
        file->Seek(c.at);
        ASSERT_EQ(file->ReadSome(out.data(), c.n), c.n);
        EXPECT_EQ(out, Bytes(data.begin() + c.at, data.begin() + c.at + c.n));
        EXPECT_EQ(m_pSim->CommandCount(kCamCmdRead) - before, c.reads);
        if (c.reads) {
            EXPECT_EQ(m_pSim->LastCommandLength(), c.lastLength);
        }
        EXPECT_EQ(file->Tell(), c.at + c.n);
    }
}

TEST_F(StorageTest, ReadsAtTheEndAndWritesKeepTheBufferTrue)
{
    Attach();
    m_pSim->AddFolder("/cf");
    m_pSim->AddFile("/cf/f", Pattern(1000, 4));
    Released<FIFile> file(OpenFileURL(Url("/cf/f"), kFileRead | kFileWrite | kFileAppend));
    ASSERT_TRUE(file);
    EXPECT_EQ(file->GetSize(), 1000u);

    FDebugTraceCapture trace;
    char bytes[16];
    file->Seek(1000);
    EXPECT_THROW(file->Read(bytes, 16), FExceptionEOF);
    EXPECT_TRUE(trace.Contains("failed after 50 retries, reading only 0 bytes of 16"));

    // Beyond the end the position is kept and nothing is read, rather than the file's start.
    file->Seek(5000);
    EXPECT_EQ(file->Tell(), 5000u);
    EXPECT_EQ(file->ReadSome(bytes, 16), 0);

    file->Seek(0);
    ASSERT_EQ(file->ReadSome(bytes, 4), 4);
    file->Seek(0);
    file->Write("WXYZ", 4);
    file->Seek(0);
    ASSERT_EQ(file->ReadSome(bytes, 4), 4);
    EXPECT_EQ(std::string(bytes, 4), "WXYZ") << "a write drops what was read ahead";

    m_pSim->Unplug();
    EXPECT_THROW(file->Write("x", 1), FExceptionFileWrite);
}

TEST_F(StorageTest, DeleteRetriesThenFails)
{
    Attach();
    m_pSim->AddFile("/cf/images/a", Pattern(10, 5));
    m_pSim->SetRefuseDelete(true);
    FDebugTraceCapture trace;
    const double start = m_pClock->m_dNow;
    FWideString name;
    Released<FIFolder> folder(OpenFolderURL(Url("/cf/images"), name, false));
    ASSERT_TRUE(folder);
    EXPECT_FALSE(folder->DeleteFile(u"a"));
    EXPECT_EQ(m_pSim->CommandCount(kCamCmdDelete), 11);
    EXPECT_NEAR(m_pClock->m_dNow - start, 1.0, 1e-9);
    const std::string text = trace.GetText();
    size_t retries = 0;
    for (size_t at = 0; (at = text.find("RETRYING IN 0.1s", at)) != std::string::npos; ++at)
        ++retries;
    EXPECT_EQ(retries, 10u);
    EXPECT_TRUE(trace.Contains("!!! CAM DEL FAILED !!!"));
    EXPECT_THROW(MoveToTrashURL(Url("/cf/images/a")), FExceptionFileIO);
}

TEST_F(StorageTest, FileCallsGiveUpWhenTheCameraMutexIsHeld)
{
    Attach();
    m_pSim->AddFile("/f", Pattern(100, 6));
    const std::string mutexName = UniqueMutexName();
    FSCCamera camera(u"camera", mutexName.c_str());
    camera.SetLockTimeout(50);
    std::mutex lock;
    std::condition_variable changed;
    bool held = false;
    bool done = false;
    FWideString path = WideFromUtf8(m_camera + "/f");
    Released<FIFile> file(camera.OpenFile(path, kFileRead));
    ASSERT_TRUE(file);
    std::thread holder([&] {
        FMutex other(mutexName.c_str());
        other.Lock();
        std::unique_lock guard(lock);
        held = true;
        changed.notify_all();
        changed.wait_for(guard, std::chrono::seconds(30), [&] { return done; });
        other.Unlock();
    });
    {
        std::unique_lock guard(lock);
        changed.wait_for(guard, std::chrono::seconds(30), [&] { return held; });
    }
    // A file the camera cannot describe now is not opened for reading at all.
    EXPECT_FALSE(Released<FIFile>(camera.OpenFile(path, kFileRead)));
    char bytes[8];
    EXPECT_EQ(file->ReadSome(bytes, 8), 0);
    EXPECT_EQ(file->GetSize(), 0u);
    EXPECT_THROW(file->Write("x", 1), FExceptionFileWrite);
    {
        std::lock_guard guard(lock);
        done = true;
    }
    changed.notify_all();
    holder.join();
    EXPECT_EQ(file->ReadSome(bytes, 8), 8);
}

TEST_F(StorageTest, FreeSpaceAndAttributes)
{
    Attach();
    Bytes cf(8);
    cf[0] = 0x00, cf[1] = 0x10; // 4096 KiB card
    cf[4] = 0x00, cf[5] = 0x04; // 1024 KiB free
    m_pSim->AddFile("/dev/CF", cf);
    m_pSim->AddFile("/cf/images/a", Pattern(10, 7));
    FWideString name;
    Released<FIFolder> folder(OpenFolderURL(Url("/cf/images"), name, false));
    ASSERT_TRUE(folder);
    EXPECT_EQ(folder->GetFreeSpace(), 1024 * 1024);
    m_pSim->SetAttributes("/cf/images/a", 3);
    FFileInfo info;
    GetFileInfoURL(Url("/cf/images/a"), info);
    EXPECT_EQ(info.m_iFlags & kFileAttrReadOnly, kFileAttrReadOnly);
    EXPECT_EQ(info.m_iFlags & kFileAttrHidden, 0);
    info.m_iFlags = kFileAttrHidden;
    SetFileAttributesURL(Url("/cf/images/a"), info);
    EXPECT_EQ(m_pSim->GetAttributes("/cf/images/a"), 0u) << "writable, and hidden clears visible";
}

TEST_F(StorageTest, CardOf200ImagesListedCopiedComparedAndDeleted)
{
    SimCamera::Options options;
    options.m_iSelectBusyPolls = 1;
    options.m_iCommandBusyPolls = 1;
    Attach(options);
    constexpr int kImages = 200;
    std::vector<std::string> expected;
    for (int i = 0; i < kImages; ++i) {
        char name[32];
        std::snprintf(name, sizeof name, "IMG_%04d.q7f", i + 1);
        expected.push_back(name);
        m_pSim->AddFile(std::string("/cf/images/") + name, Pattern(20000 + 997 * i, static_cast<uint8_t>(i)));
    }
    m_pSim->AddFile("/dev/Time", {0, 0, 0, 0}, SimCamera::kDefaultFlags | kCamStatusWholeFile);

    FWideString fileName;
    Released<FIFolder> folder(OpenFolderURL(Url("/cf/images"), fileName, false));
    ASSERT_TRUE(folder);
    std::vector<FWideString> names;
    folder->ListFiles(names);
    std::vector<std::string> listed;
    for (const FWideString& n : names)
        listed.push_back(U8(n));
    EXPECT_EQ(listed, expected);

    FScopedTempFolder destination;
    const FWideString destinationURL = DiskURL(destination.GetPath());
    for (const std::string& name : expected) {
        Released<FIFile> file(OpenFileURL(Url("/cf/images/" + name), kFileRead));
        ASSERT_TRUE(file);
        const int total = CopyWhole(file.p, Join(destinationURL, WideFromUtf8("/" + name)), 16384);
        std::string copied;
        ASSERT_TRUE(destination.ReadFile(name, copied));
        Bytes original;
        ASSERT_TRUE(m_pSim->GetFile("/cf/images/" + name, original));
        ASSERT_EQ(static_cast<size_t>(total), original.size());
        ASSERT_EQ(Bytes(copied.begin(), copied.end()), original) << name;
    }
    for (const std::string& name : expected)
        DeleteFileURL(Url("/cf/images/" + name));
    names.clear();
    folder->ListFiles(names);
    EXPECT_TRUE(names.empty());
    EXPECT_EQ(m_pSim->FileCount(), 1u);

    // The camera clock: one little-endian word, written whole and read back.
    {
        Released<FIFile> time(OpenFileURL(Url("/dev/Time"), kFileRead | kFileWrite | kFileAppend));
        ASSERT_TRUE(time);
        const uint8_t clock[4] = {0x78, 0x56, 0x34, 0x12};
        time->Write(clock, 4);
        time->Seek(0);
        uint8_t back[4] = {};
        ASSERT_EQ(time->Read(back, 4), 4);
        EXPECT_EQ(Bytes(back, back + 4), Bytes(clock, clock + 4));
    }
    EXPECT_EQ(m_pSim->TransfersOpen(), 0);
}

// Names in a folder, as the system has them (hidden ones too).
std::vector<std::string> FolderEntries(const std::string& path)
{
    std::vector<std::string> names;
    for (const auto& entry : std::filesystem::directory_iterator(path))
        names.push_back(entry.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
}

TEST_F(StorageTest, BusyCameraFailsTheCopySoonAndKeepsTheEarlierFile)
{
    FScopedTempFolder destination;
    const std::string earlier = "the complete download of yesterday";
    ASSERT_TRUE(destination.WriteFile("big.q7f", earlier));
    const FWideString target = Join(DiskURL(destination.GetPath()), u"/big.q7f");
    const auto expectEarlierFileOnly = [&] {
        std::string bytes;
        EXPECT_TRUE(destination.ReadFile("big.q7f", bytes));
        EXPECT_EQ(bytes, earlier);
        EXPECT_EQ(FolderEntries(destination.GetPath()), std::vector<std::string>{"big.q7f"});
    };

    // Busy from the start: the camera cannot describe the file, so it is not opened.
    SimCamera::Options busy;
    busy.m_iSelectBusyPolls = 1 << 30;
    Attach(busy);
    m_pSim->AddFile("/cf/images/big.q7f", Pattern(300000, 3));
    {
        const double start = m_pClock->m_dNow;
        EXPECT_FALSE(Released<FIFile>(OpenFileURL(Url("/cf/images/big.q7f"), kFileRead)));
        EXPECT_LT(m_pClock->m_dNow - start, 10.0);
        expectEarlierFileOnly();
    }
    m_pSim.reset();

    // Silent once opened: the size query fails, and so does the copy, instead of making
    // an empty file and calling it done.
    Attach();
    m_pSim->AddFile("/cf/images/big.q7f", Pattern(300000, 3));
    {
        Released<FIFile> file(OpenFileURL(Url("/cf/images/big.q7f"), kFileRead));
        ASSERT_TRUE(file);
        auto* copyable = dynamic_cast<FCopyableFile*>(file.p);
        ASSERT_NE(copyable, nullptr);
        m_pSim->SetCommandStuck(true);
        int total = -1;
        const double start = m_pClock->m_dNow;
        EXPECT_FALSE(copyable->BeginCopy(target, &total, 65536));
        EXPECT_EQ(total, 0);
        EXPECT_LT(m_pClock->m_dNow - start, 10.0);
        expectEarlierFileOnly();
        m_pSim->SetCommandStuck(false);
    }
    m_pSim.reset();

    // Busy part-way: every command answers busy. The copy fails within seconds, not minutes.
    Attach();
    m_pSim->AddFile("/cf/images/big.q7f", Pattern(300000, 3));
    Released<FIFile> file(OpenFileURL(Url("/cf/images/big.q7f"), kFileRead));
    ASSERT_TRUE(file);
    auto* copyable = dynamic_cast<FCopyableFile*>(file.p);
    ASSERT_NE(copyable, nullptr);
    int total = 0;
    ASSERT_TRUE(copyable->BeginCopy(target, &total, 65536));
    EXPECT_EQ(total, 300000);
    ASSERT_EQ(copyable->CopyChunk(65536), 65536);
    m_pSim->SetCommandStuck(true);
    const double start = m_pClock->m_dNow;
    EXPECT_THROW(
        {
            while (copyable->CopyChunk(65536) > 0) {
            }
            copyable->EndCopy();
        },
        FExceptionFileRead);
    EXPECT_LT(m_pClock->m_dNow - start, 10.0);
    expectEarlierFileOnly();

    // Answering again, the same file copies whole over the earlier one.
    m_pSim->SetCommandStuck(false);
    ASSERT_TRUE(copyable->BeginCopy(target, &total, 65536));
    while (copyable->CopyChunk(65536) > 0) {
    }
    copyable->EndCopy();
    std::string bytes;
    ASSERT_TRUE(destination.ReadFile("big.q7f", bytes));
    const Bytes expected = Pattern(300000, 3);
    EXPECT_TRUE(Bytes(bytes.begin(), bytes.end()) == expected);
}

TEST_F(StorageTest, UnplugDuringACopyLeavesNoPartialFile)
{
    Attach();
    const Bytes data = Pattern(500000, 9);
    m_pSim->AddFile("/cf/images/big.q7f", data);
    FScopedTempFolder destination;
    Released<FIFile> file(OpenFileURL(Url("/cf/images/big.q7f"), kFileRead));
    ASSERT_TRUE(file);
    auto* copyable = dynamic_cast<FCopyableFile*>(file.p);
    ASSERT_NE(copyable, nullptr);
    int total = 0;
    ASSERT_TRUE(copyable->BeginCopy(Join(DiskURL(destination.GetPath()), u"/big.q7f"), &total, 65536));
    ASSERT_EQ(copyable->CopyChunk(65536), 65536);
    m_pSim->Unplug();
    try {
        while (copyable->CopyChunk(65536) > 0) {
        }
        FAIL() << "the copy ended as if complete";
    } catch (const FExceptionFileRead& e) {
        EXPECT_NE(std::string(e.GetMessage()).find("stopped answering"), std::string::npos);
    }
    std::string partial;
    EXPECT_FALSE(destination.ReadFile("big.q7f", partial)) << "no partial file stays behind";

    // Unplugged, the next open reports it; plugged back in, the camera is reached again.
    m_pSim->Plug();
    Released<FIFile> again(OpenFileURL(Url("/cf/images/big.q7f"), kFileRead));
    ASSERT_TRUE(again);
    Bytes head(16);
    EXPECT_EQ(again->Read(head.data(), 16), 16);
    EXPECT_EQ(head, Bytes(data.begin(), data.begin() + 16));
}

TEST_F(StorageTest, ThreadsReadingAtOnceGetTheirOwnBytes)
{
    Attach();
    const Bytes first = Pattern(150000, 1);
    const Bytes second = Pattern(150000, 2);
    m_pSim->AddFile("/cf/images/a", first);
    m_pSim->AddFile("/cf/images/b", second);
    auto reader = [&](const char* path, const Bytes& expected, std::atomic<int>& wrong) {
        for (int round = 0; round < 20; ++round) {
            Released<FIFile> file(OpenFileURL(Url(path), kFileRead));
            Bytes out(expected.size());
            try {
                if (!file ||
                    file->Read(out.data(), static_cast<int>(out.size())) != static_cast<int>(out.size()) ||
                    out != expected)
                    ++wrong;
            } catch (const FException&) {
                ++wrong;
            }
        }
    };
    std::atomic<int> wrong{0};
    std::thread a(reader, "/cf/images/a", std::cref(first), std::ref(wrong));
    std::thread b(reader, "/cf/images/b", std::cref(second), std::ref(wrong));
    a.join();
    b.join();
    EXPECT_EQ(wrong.load(), 0);
    EXPECT_EQ(m_pSim->TransfersOpen(), 0);
}

TEST_F(StorageTest, CameraSuppliedNamesAreUntrusted)
{
    Attach();
    m_pSim->SetListingOverride("/cf/images/good.q7f\t5\t0\t\n"
                               "/cf/images/..\t5\t0\t\n"
                               "/cf/images/.\t5\t0\tD\n"
                               "/etc/passwd\t5\t0\t\n"
                               "/cf/images/../../x\t5\t0\t\n"
                               "/cf/images/sub/deep\t5\t0\t\n"
                               "/cf/images/a\rb\t5\t0\t\n"
                               "/cf/images/back\\slash\t5\t0\t\n"
                               "/cf/images/\xff\xfe.q7f\t5\t0\t\n"
                               "/cf/images/dir\t0\t0\tD\n"
                               "/cf/images/cut.q7f\t5");
    FWideString name;
    Released<FIFolder> folder(OpenFolderURL(Url("/cf/images"), name, false));
    ASSERT_TRUE(folder);
    std::vector<FWideString> files;
    folder->ListFiles(files);
    std::vector<std::string> listed;
    for (const FWideString& n : files)
        listed.push_back(U8(n));
    EXPECT_EQ(listed, std::vector<std::string>({"good.q7f", "\xff\xfe.q7f"}));
    std::vector<FWideString> folders;
    folder->ListFolders(folders);
    ASSERT_EQ(folders.size(), 1u);
    EXPECT_EQ(U8(folders[0]), "/dir");

    // A name that is not UTF-8 keeps its bytes, and its copy lands inside the destination.
    m_pSim->AddFile("/cf/images/\xff\xfe.q7f", Pattern(5, 1));
    FScopedTempFolder destination;
    FWideString escaped;
    EscapeURLChars(files[1], escaped);
    Released<FIFile> file(folder->OpenFile(files[1], kFileRead));
    ASSERT_TRUE(file);
    auto* copyable = dynamic_cast<FCopyableFile*>(file.p);
    ASSERT_TRUE(
        copyable->BeginCopy(Join(Join(DiskURL(destination.GetPath()), u"/"), escaped), nullptr, 4096));
    while (copyable->CopyChunk(4096) > 0) {
    }
    copyable->EndCopy();
    std::string copied;
    EXPECT_TRUE(destination.ReadFile("\xff\xfe.q7f", copied));
    EXPECT_EQ(copied.size(), 5u);
}

TEST_F(StorageTest, ListingLargerThanOneReadComesBackWhole)
{
    Attach();
    constexpr int kFiles = 3000;
    const std::string longName(60, 'n');
    for (int i = 0; i < kFiles; ++i)
        m_pSim->AddFile("/cf/images/" + longName + std::to_string(100000 + i), {1});
    FWideString name;
    Released<FIFolder> folder(OpenFolderURL(Url("/cf/images"), name, false));
    ASSERT_TRUE(folder);
    std::vector<FWideString> files;
    folder->ListFiles(files);
    ASSERT_EQ(files.size(), static_cast<size_t>(kFiles)) << "the listing is well over 128000 bytes";
    EXPECT_EQ(U8(files.back()), longName + std::to_string(100000 + kFiles - 1));
}

} // namespace
