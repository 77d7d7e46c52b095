#include "CamTestSupport.h"

#include "CamFileDevice.h"
#include "FByteOrder.h"
#include "FScopedTempFolder.h"

#include <algorithm>
#include <fstream>
#include <set>
#include <thread>

namespace
{

struct NameCase {
    std::string name;
    int transport;
    bool record;
    bool opens;
};

TEST_F(CamLinkTest, NamesDecideTransportRecordAndOpening)
{
    FakeTransport usb;
    usb.AnswerProbe();
    FakeTransport fw;
    fw.AnswerProbe();
    usb.Install(kCamTransportUsb);
    fw.Install(kCamTransport1394);
    FScopedTempFolder temp;
    CamSetFileDevicesEnabled(true);

    const NameCase cases[] = {
        {"USB@cam0", kCamTransportUsb, true, true},
        {"1394@fw1", kCamTransport1394, true, true},
        {"FILE@" + temp.Join("image.bin"), kCamTransportFile, true, true},
        {"TCP@host", kCamTransportTcp, true, false},
        {"NONE@x", kCamTransportNone, false, false},
        {"USBcam0", kCamTransportNone, false, false},
        {"usb@cam0", kCamTransportNone, false, false},
        {"SIXTEENCHARSLONG@x", kCamTransportNone, false, false},
        {"@x", kCamTransportNone, false, false},
        {"USB@" + std::string(kCamMaxNameLength - 4, 'a'), kCamTransportUsb, true, true},
        {"USB@" + std::string(kCamMaxNameLength - 3, 'a'), kCamTransportUsb, false, false},
    };
    for (const NameCase& c : cases) {
        SCOPED_TRACE(c.name.substr(0, 40));
        EXPECT_EQ(CamTransportOfName(c.name.c_str()), c.transport);
        CamDevice* record = CamDevFind(c.name.c_str());
        EXPECT_EQ(record != nullptr, c.record);
        CamDevice* opened = CamOpen(c.name.c_str());
        EXPECT_EQ(opened != nullptr, c.opens);
        if (opened) {
            EXPECT_EQ(opened, record);
            EXPECT_EQ(opened->m_name, c.name);
            CamDevRelease(opened);
        }
    }
    // The id is everything after the first "@".
    EXPECT_EQ(usb.m_lastOpenedId, std::string(kCamMaxNameLength - 4, 'a'));
}

TEST_F(CamLinkTest, FileDevicesOpenOnlyWhenSwitchedOn)
{
    FScopedTempFolder temp;
    const std::string name = "FILE@" + temp.Join("image.bin");
    EXPECT_EQ(CamOpen(name.c_str()), nullptr);
    std::ifstream probe(temp.Join("image.bin"));
    EXPECT_FALSE(probe.good()) << "a refused name must not create its file";
}

TEST_F(CamLinkTest, RecordsNeedAnOsCode)
{
    CamSetOsVersionKnown(false);
    FakeTransport usb;
    usb.Install(kCamTransportUsb);
    EXPECT_EQ(CamDevFind("USB@cam0"), nullptr);
}

TEST_F(CamLinkTest, OpenAndReleaseCount)
{
    FakeTransport usb;
    usb.AnswerProbe();
    usb.Install(kCamTransportUsb);
    CamDevice* a = CamOpen("USB@cam0");
    CamDevice* b = CamOpen("USB@cam0");
    ASSERT_NE(a, nullptr);
    EXPECT_EQ(a, b);
    EXPECT_EQ(a->m_iRefCount, 2);
    EXPECT_EQ(CamOpenListCount(), 1);
    EXPECT_EQ(usb.m_iOpens, 1) << "a second open probes the handle it has";
    EXPECT_TRUE(CamDevRelease(a));
    EXPECT_TRUE(CamDevRelease(a));
    EXPECT_EQ(a->m_iRefCount, 0);
    EXPECT_EQ(CamOpenListCount(), 0);
    EXPECT_EQ(usb.m_iCloses, 0) << "the transport stays open";
    EXPECT_NE(a->m_pHandle, nullptr);
    EXPECT_FALSE(CamDevRelease(a));
    EXPECT_FALSE(CamDevRelease(nullptr));
}

TEST_F(CamLinkTest, GoneDeviceFailsOneOpenThenReconnects)
{
    VirtualClock clock;
    FakeTransport usb;
    usb.AnswerProbe();
    usb.Install(kCamTransportUsb);
    CamDevice* device = CamOpen("USB@cam0");
    ASSERT_NE(device, nullptr);
    CamDevRelease(device);

    usb.m_bGone = true;
    EXPECT_FALSE(CamIsConnected(device));
    EXPECT_TRUE(device->m_bGone);
    EXPECT_EQ(device->m_pHandle, nullptr);
    EXPECT_EQ(clock.m_sleeps, std::vector<int>({500})) << "the probe stops once the reconnect found it gone";

    EXPECT_EQ(CamOpen("USB@cam0"), nullptr);
    EXPECT_FALSE(device->m_bGone);
    CamDevice* again = CamOpen("USB@cam0");
    ASSERT_EQ(again, device);
    EXPECT_NE(device->m_pHandle, nullptr);
    CamDevRelease(again);
}

TEST_F(CamLinkTest, ProbeOfASilentDeviceCostsTwoSleepsAndTwoReconnects)
{
    VirtualClock clock;
    FakeTransport usb;
    usb.AnswerProbe();
    usb.Install(kCamTransportUsb);
    CamDevice* device = CamOpen("USB@cam0");
    ASSERT_NE(device, nullptr);
    usb.m_bytes.clear(); // answers, but not with the bus name
    const int opens = usb.m_iOpens;
    const int reads = usb.m_iReads;
    const double start = clock.m_dNow;

    EXPECT_FALSE(CamIsConnected(device));
    EXPECT_EQ(clock.m_sleeps, std::vector<int>({500, 500}));
    EXPECT_DOUBLE_EQ(clock.m_dNow - start, 1.0);
    EXPECT_EQ(usb.m_iOpens - opens, 2);
    EXPECT_EQ(device->m_iLastStatus, 0);
    // Three probe reads, plus the directory read of each reconnect.
    EXPECT_GE(usb.m_iReads - reads, 3);
    CamDevRelease(device);
}

// A USB device whose directory is laid out in the fake: numbers least significant byte
// first, as the USB quadlet read assembles them, and the magic as the bytes "BCVB" (reversed
// when the case says so).
struct DirectoryCase {
    const char* what;
    bool readable;
    bool reversed;
    uint32_t count;
    int failEntry; // -1: none
    uint32_t swapAfter;
    uint32_t entriesAfter;
};

TEST_F(CamLinkTest, CapabilityDirectory)
{
    const DirectoryCase cases[] = {
        {"forward", true, false, 3, -1, 1, 3},           {"reversed magic", true, true, 3, -1, 0, 3},
        {"unreadable magic", false, false, 3, -1, 1, 0}, {"count above the cap", true, false, 60, -1, 1, 50},
        {"failed entry stops", true, false, 5, 2, 1, 2}, {"one entry", true, false, 1, -1, 1, 1},
    };
    for (const DirectoryCase& c : cases) {
        SCOPED_TRACE(c.what);
        CamLinkResetForTests();
        FakeTransport usb;
        usb.AnswerProbe();
        auto word = [&](uint32_t offset, uint32_t value) {
            uint8_t bytes[4];
            StoreLE32(bytes, value);
            usb.Put(offset, kCamSpaceConfig, bytes, 4);
        };
        if (c.readable)
            usb.Put(0xF0010000, kCamSpaceConfig, c.reversed ? "BVCB" : "BCVB", 4);
        else
            usb.m_failReadAt[FakeTransport::Address(0xF0010000, kCamSpaceConfig)] = true;
        word(0xF0010004, c.count);
        for (uint32_t i = 0; i < c.count; ++i) {
            const uint32_t at = 0xF0010010 + 16 * i;
            const uint32_t id = i == 0 ? 0x40000 : i == 1 ? 0x20000 : i == 2 ? 0x60000 : 0x90000 + i;
            word(at, id);
            word(at + 4, 0x20000);
            word(at + 8, 0x1234);
            word(at + 12, 0x77);
            if (static_cast<int>(i) == c.failEntry)
                usb.m_failReadAt[FakeTransport::Address(at + 8, kCamSpaceConfig)] = true;
        }
        usb.Install(kCamTransportUsb);
        CamDevice* device = CamOpen("USB@cam0");
        ASSERT_NE(device, nullptr);
        const uint32_t* w = device->m_config.m_words;
        EXPECT_EQ(w[kCamCfgSwap], c.swapAfter);
        EXPECT_EQ(w[kCamCfgEntryCount], c.entriesAfter);
        EXPECT_EQ(w[kCamCfgRead], c.readable ? 1u : 0u);
        EXPECT_EQ(CamHasCapability(device, 0x40000), c.entriesAfter > 0);
        if (c.entriesAfter >= 3) {
            EXPECT_EQ(w[213], 0x1234u);
            EXPECT_EQ(w[214], 0x08000000u);
            EXPECT_EQ(w[216], 0x77u);
            EXPECT_EQ(w[217], 128u);
            uint32_t version = 0;
            EXPECT_TRUE(CamCapabilityWord(device, 0x40000, 1, version));
            EXPECT_EQ(version, 0x20000u);
            // The directory-valid flag gates every capability.
            device->m_config.m_words[kCamCfgValid] = 0;
            EXPECT_FALSE(CamHasCapability(device, 0x40000));
        }
        CamDevRelease(device);
    }
}

TEST_F(CamLinkTest, WordSwapOfQuadletsAndBlocks)
{
    FakeTransport fw;
    fw.AnswerProbe();
    fw.Install(kCamTransport1394);
    CamDevice* device = CamOpen("1394@fw0");
    ASSERT_NE(device, nullptr);
    ASSERT_TRUE(CamIsByteSwapped(device)); // the defaults, kept when no driver block comes

    const uint8_t raw[7] = {1, 2, 3, 4, 5, 6, 7};
    fw.Put(0x100, kCamSpaceFile, raw, 7);
    uint32_t value = 0;
    ASSERT_TRUE(CamReadQuadlet(device, 0x100, kCamSpaceFile, value));
    EXPECT_EQ(value, 0x01020304u);
    uint8_t block[7] = {};
    ASSERT_TRUE(CamReadBlock(device, 0x100, kCamSpaceFile, block, 7));
    EXPECT_EQ(std::vector<uint8_t>(block, block + 7), std::vector<uint8_t>({4, 3, 2, 1, 5, 6, 7}));

    ASSERT_TRUE(CamWriteQuadlet(device, 0x200, kCamSpaceFile, 0x0A0B0C0D));
    EXPECT_EQ(fw.Get(0x200, kCamSpaceFile, 4), std::vector<uint8_t>({0x0A, 0x0B, 0x0C, 0x0D}));
    uint8_t data[8] = {1, 2, 3, 4, 5, 6, 7, 8};
    ASSERT_TRUE(CamWriteBlock(device, 0x300, kCamSpaceFile, data, 8));
    EXPECT_EQ(fw.Get(0x300, kCamSpaceFile, 8), std::vector<uint8_t>({4, 3, 2, 1, 8, 7, 6, 5}));
    EXPECT_EQ(std::vector<uint8_t>(data, data + 8), std::vector<uint8_t>({1, 2, 3, 4, 5, 6, 7, 8}))
        << "the caller's buffer comes back as it was";

    device->m_config.m_words[kCamCfgSwap] = 0;
    ASSERT_TRUE(CamReadQuadlet(device, 0x100, kCamSpaceFile, value));
    EXPECT_EQ(value, 0x04030201u);

    // A failed read leaves the caller's word alone.
    fw.m_bGone = true;
    value = 99;
    EXPECT_FALSE(CamReadQuadlet(device, 0x100, kCamSpaceFile, value));
    EXPECT_EQ(value, 99u);
    EXPECT_EQ(device->m_iLastStatus, 0);
    CamDevRelease(device);
}

TEST(CamAddress, OffsetCarriesIntoTheSpace)
{
    struct Case {
        uint32_t offset, space, count, offsetAfter, spaceAfter;
    };
    const Case cases[] = {
        {0x10000000, 0x1009, 8192, 0x10002000, 0x1009},
        {0xFFFFF000, 0x1009, 0x2000, 0x00001000, 0x100A},
        {0xFFFFFFFC, 0x1009, 4, 0, 0x100A},
        {0xFFFFFFFF, 0xFFFF, 1, 0, 0}, // the 48-bit address wraps
    };
    for (const Case& c : cases) {
        uint32_t offset = c.offset;
        uint32_t space = c.space;
        CamAddressAdvance(offset, space, c.count);
        EXPECT_EQ(offset, c.offsetAfter);
        EXPECT_EQ(space, c.spaceAfter);
    }
}

TEST_F(CamLinkTest, FileDeviceImage)
{
    struct MapCase {
        uint32_t offset, space;
        bool maps;
        uint64_t position;
    };
    const MapCase maps[] = {
        {0x3FF, 0x0006, true, 0x3FF},
        {0x400, 0x0006, false, 0},
        {0x0, 0x1000, true, 0x400},
        {0xFFFFFF, 0x1001, true, 0x800 + 0xFFFFFF},
        {0x1000000, 0x1001, false, 0},
        {0x10, 0x1006, true, 0x1000810},
        {0x80, 0x1007, true, 0x1001080},
        {0xFFFF, 0x1009, true, 0x1001400 + 0xFFFF},
        {0x10000, 0x1009, false, 0},
        {0x010000F0, 0x1009, false, 0},
        {0x10000004, 0x1009, true, 0x1001404},
        {0x3FF, 0x1FFF, true, 0x1011400 + 0x3FF},
        {0xF0000404, 0xFFFF, true, 0x1011C04},
        {0x1FFFF, 0xFFFF, true, 0x1011800 + 0x1FFFF},
        {0x20000, 0xFFFF, false, 0},
        {0x0, 0x1002, false, 0},
    };
    for (const MapCase& m : maps) {
        uint64_t position = 0;
        EXPECT_EQ(FileDevOffset(m.offset, m.space, position), m.maps)
            << std::hex << m.space << ":" << m.offset;
        if (m.maps) {
            EXPECT_EQ(position, m.position) << std::hex << m.space << ":" << m.offset;
        }
    }

    FScopedTempFolder temp;
    CamSetFileDevicesEnabled(true);
    const std::string name = "FILE@" + temp.Join("camera.img");
    CamDevice* device = CamOpen(name.c_str());
    ASSERT_NE(device, nullptr);
    EXPECT_TRUE(CamIsConnected(device));
    std::string image;
    ASSERT_TRUE(temp.ReadFile("camera.img", image));
    ASSERT_EQ(image.size(), 0x1011C08u);
    EXPECT_EQ(image.substr(0x1011C04, 4), "1394");
    EXPECT_EQ(std::count(image.begin(), image.begin() + 0x1011C04, ' '), 0x1011C04);

    // The mailbox does not map; the name register and console are plain bytes.
    uint32_t word = 0;
    EXPECT_FALSE(CamReadQuadlet(device, 0x010000FC, kCamSpaceFile, word));
    ASSERT_TRUE(CamReadQuadlet(device, 0x100, kCamSpaceFile, word));
    EXPECT_EQ(word, 0x20202020u);
    ASSERT_TRUE(CamWriteQuadlet(device, 0x104, kCamSpaceFile, 0x00000064));
    ASSERT_TRUE(CamReadQuadlet(device, 0x104, kCamSpaceFile, word));
    EXPECT_EQ(word, 100u);

    // A read past the end extends the file first, and fills the whole buffer.
    CamDevRelease(device);
    CamLinkShutdown();
    ASSERT_TRUE(temp.WriteFile("short.img", "xyz"));
    const std::string shortName = "FILE@" + temp.Join("short.img");
    device = CamOpen(shortName.c_str());
    ASSERT_NE(device, nullptr);
    char bytes[8];
    std::fill(bytes, bytes + 8, 'Q');
    ASSERT_TRUE(CamReadRaw(device, 0x1FFFC, kCamSpaceConfig, bytes, 8));
    EXPECT_EQ(std::string(bytes, 8), std::string(8, ' '));
    CamDevRelease(device);
    CamLinkShutdown();
    ASSERT_TRUE(temp.ReadFile("short.img", image));
    EXPECT_EQ(image.substr(0, 3), "xyz") << "an existing image is kept";
    EXPECT_EQ(image.size(), 0x1011800u + 0x1FFFC + 8);
}

TEST(CamRandom, SeededSequenceRepeatsAndStaysInRange)
{
    auto draw = [] {
        CamRandomSeed(1201230);
        std::vector<uint32_t> values;
        for (int i = 0; i < 1000; ++i)
            values.push_back(CamRandomBelow(20));
        return values;
    };
    const std::vector<uint32_t> first = draw();
    EXPECT_EQ(draw(), first);
    EXPECT_LT(*std::max_element(first.begin(), first.end()), 20u);
    EXPECT_GT(std::set<uint32_t>(first.begin(), first.end()).size(), 15u) << "the values spread";

    CamRandomSeed(7);
    for (int i = 0; i < 1000; ++i) {
        EXPECT_LT(CamRandomBelow(0xFFFFFFFFu), 0xFFFFFFFFu);
        const uint32_t r = CamRandomRange(5, 8);
        EXPECT_GE(r, 5u);
        EXPECT_LE(r, 8u);
    }
    EXPECT_EQ(CamRandomBelow(1), 0u);
}

// The generator written out again from its description, word by word, to hold the
// library's first values for fixed seeds.
class ReferenceGenerator
{
public:
    explicit ReferenceGenerator(uint32_t seed)
    {
        uint32_t x = 34221, c = 12345, z = 12345, w = 65435;
        for (uint32_t& word : m_table) {
            x ^= x << 17;
            x ^= x >> 13;
            z = 36969u * (z & 0xFFFFu) + (z >> 16);
            w = 18000u * (w & 0xFFFFu) + (w >> 16);
            c = 69069u * c + 1234567u;
            x ^= x << 5;
            word = ((((z << 16) + w) ^ c) + x) ^ seed;
        }
    }
    uint32_t Below(uint32_t n)
    {
        m_index = (m_index + 1) % 256;
        const uint32_t borrow = m_first < m_second ? 1 : 0;
        m_second = m_table[(m_index + 19) % 256] + borrow;
        m_first = m_table[(m_index + 34) % 256];
        const uint32_t t = m_first - m_second;
        m_table[m_index] = t;
        const uint64_t v = uint64_t(t) * n / 0xFFFFFFFFull;
        return v == n ? n - 1 : uint32_t(v);
    }

private:
    uint32_t m_table[256] = {};
    uint32_t m_index = 0, m_first = 0, m_second = 0;
};

TEST(CamRandom, FirstValuesOfFixedSeedsMatchTheDescription)
{
    for (const uint32_t seed : {0u, 7u, 1201230u, 0xFFFFFFFFu}) {
        for (const uint32_t n : {20u, 1000u, 0xFFFFFFFFu}) {
            CamRandomSeed(seed);
            ReferenceGenerator reference(seed);
            for (int i = 0; i < 600; ++i)
                ASSERT_EQ(CamRandomBelow(n), reference.Below(n))
                    << "seed " << seed << ", n " << n << ", draw " << i;
        }
    }
}

TEST(CamLockTest, ExcludesAnotherThread)
{
    CamLock lock;
    int inside = 0;
    int worst = 0;
    auto body = [&] {
        for (int i = 0; i < 20000; ++i) {
            lock.Take();
            worst = std::max(worst, ++inside);
            --inside;
            lock.Release();
        }
    };
    std::thread a(body);
    std::thread b(body);
    a.join();
    b.join();
    EXPECT_EQ(worst, 1);
}

TEST_F(CamLinkTest, ShutdownClosesEveryRecordAndTheLinkStartsAgain)
{
    FakeTransport usb;
    usb.AnswerProbe();
    usb.m_iCount = 2;
    usb.Install(kCamTransportUsb);
    EXPECT_EQ(CamDevCount(), 2);
    std::string name;
    ASSERT_TRUE(CamDevNameAt(1, name));
    EXPECT_EQ(name, "USB@cam1");
    EXPECT_FALSE(CamDevNameAt(2, name));
    EXPECT_EQ(CamIndexOfName("USB@cam1"), 1);
    EXPECT_EQ(CamIndexOfName(""), -1);

    CamDevice* first = CamOpen(nullptr);
    ASSERT_NE(first, nullptr);
    EXPECT_EQ(first->m_name, "USB@cam0");
    EXPECT_EQ(first->m_iDeviceIndex, 0);
    ASSERT_NE(CamOpen("USB@cam1"), nullptr);
    CamLinkShutdown();
    EXPECT_FALSE(CamLinkIsInitialised());
    EXPECT_EQ(usb.m_iCloses, 2);
    EXPECT_EQ(usb.m_iUnloads, 1);
    EXPECT_EQ(CamOpenListCount(), 0);

    CamDevice* again = CamOpen("USB@cam0");
    EXPECT_TRUE(CamLinkIsInitialised());
    ASSERT_NE(again, nullptr);
    EXPECT_EQ(again->m_iRefCount, 1);
    CamDevRelease(again);
}

} // namespace
