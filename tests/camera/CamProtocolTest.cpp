#include "CamProtocol.h"
#include "CamTestSupport.h"
#include "SimCamera.h"

#include <algorithm>
#include <numeric>
#include <random>

namespace
{

using Bytes = SimCamera::Bytes;

// A simulated camera behind one transport, opened, on virtual time.
class ProtocolTest : public CamLinkTest
{
protected:
    void SetUp() override
    {
        CamLinkTest::SetUp();
        m_pClock = std::make_unique<VirtualClock>();
    }
    void Attach(int transport, SimCamera::Options options = {})
    {
        m_pSim = std::make_unique<SimCamera>(options);
        m_pSim->Install(transport);
        m_pDevice = CamOpen(m_pSim->DeviceName().c_str());
        ASSERT_NE(m_pDevice, nullptr);
    }
    void TearDown() override
    {
        if (m_pDevice)
            CamDevRelease(m_pDevice);
        m_pSim.reset();
        m_pClock.reset();
        CamLinkTest::TearDown();
    }
    Bytes Read(const std::string& path, uint32_t offset, uint32_t length, bool& ok)
    {
        Bytes out(length);
        uint32_t got = 0;
        ok = CamProtoRead(m_pDevice, path.c_str(), offset, out.data(), length, &got) != 0;
        out.resize(got);
        return out;
    }

    std::unique_ptr<VirtualClock> m_pClock;
    std::unique_ptr<SimCamera> m_pSim;
    CamDevice* m_pDevice = nullptr;
};

TEST(CamCrc, KnownValuesAndBitwiseReference)
{
    EXPECT_EQ(Crc16Ccitt("123456789", 9), 0x31C3);
    EXPECT_EQ(Crc16Ccitt("", 0), 0);
    std::mt19937 random(5);
    Bytes data(1000);
    for (uint8_t& b : data)
        b = static_cast<uint8_t>(random());
    auto bitwise = [&](size_t n) {
        uint16_t crc = 0;
        for (size_t i = 0; i < n; ++i) {
            crc ^= static_cast<uint16_t>(data[i] << 8);
            for (int bit = 0; bit < 8; ++bit)
                crc = static_cast<uint16_t>((crc & 0x8000) ? (crc << 1) ^ 0x1021 : crc << 1);
        }
        return crc;
    };
    // Lengths around the eight-byte steps, and a long run.
    for (size_t n : {1, 7, 8, 9, 15, 16, 17, 999, 1000})
        EXPECT_EQ(Crc16Ccitt(data.data(), static_cast<uint32_t>(n)), bitwise(n)) << n;
}

TEST_F(ProtocolTest, SelectLimitsThePathAndReversesTheNameBlockOn1394)
{
    for (int transport : {kCamTransportUsb, kCamTransport1394}) {
        SCOPED_TRACE(transport);
        Attach(transport);
        const std::string longest = "/" + std::string(kCamMaxPathLength - 1, 'a');
        m_pSim->AddFile(longest, Pattern(33));
        uint32_t size = 0;
        uint32_t status = 0;
        EXPECT_TRUE(CamProtoStat(m_pDevice, longest.c_str(), &size, nullptr, nullptr, &status));
        EXPECT_EQ(size, 33u);
        EXPECT_TRUE(status & kCamStatusReadable);
        const int writes = m_pSim->NameWrites();
        EXPECT_FALSE(CamProtoSelectFile(m_pDevice, (longest + "b").c_str(), &status));
        EXPECT_EQ(m_pSim->NameWrites(), writes) << "refused before anything is written";
        CamDevRelease(m_pDevice);
        m_pDevice = nullptr;
        m_pSim.reset();
    }
}

TEST_F(ProtocolTest, ReadRules)
{
    Attach(kCamTransportUsb);
    const Bytes data = Pattern(1000);
    m_pSim->AddFile("/cf/a", data);
    m_pSim->AddFile("/cf/empty", {});
    m_pSim->AddFile("/cf/whole", data, SimCamera::kDefaultFlags | kCamStatusWholeFile);
    m_pSim->AddFile("/cf/locked", data, kCamStatusWritable);
    bool ok = false;

    EXPECT_EQ(Read("/cf/a", 0, 1000, ok), data);
    EXPECT_TRUE(ok);
    EXPECT_EQ(Read("/cf/a", 990, 100, ok), Bytes(data.begin() + 990, data.end())) << "cut at the end";
    Read("/cf/a", 1000, 1, ok);
    EXPECT_FALSE(ok) << "offset equal to the size";
    Read("/cf/empty", 0, 1, ok);
    EXPECT_FALSE(ok);
    Read("/cf/locked", 0, 1, ok);
    EXPECT_FALSE(ok) << "not readable";
    Read("/cf/missing", 0, 1, ok);
    EXPECT_FALSE(ok);
    // Odd lengths take their last bytes from one more word.
    EXPECT_EQ(Read("/cf/a", 3, 7, ok), Bytes(data.begin() + 3, data.begin() + 10));

    // A whole-file file is transferred from 0 and read from the window at the offset.
    EXPECT_EQ(Read("/cf/whole", 500, 20, ok), Bytes(data.begin() + 500, data.begin() + 520));
    EXPECT_TRUE(ok);
    EXPECT_EQ(m_pSim->LastCommandOffset(), 0u);
    EXPECT_EQ(m_pSim->LastCommandLength(), 1000u);

    m_pSim->SetCorruptCrc(true);
    Read("/cf/a", 0, 100, ok);
    EXPECT_FALSE(ok) << "a CRC mismatch fails the read";
    Read("/cf/whole", 10, 10, ok);
    EXPECT_FALSE(ok) << "a partial read of a whole-file file checks the whole transfer";
    EXPECT_EQ(m_pSim->TransfersOpen(), 0) << "every started transfer is ended";
}

TEST_F(ProtocolTest, WholeFileAndGrowingWrites)
{
    Attach(kCamTransport1394);
    const Bytes data = Pattern(100);
    m_pSim->AddFile("/w100", data, SimCamera::kDefaultFlags | kCamStatusWholeFile);
    m_pSim->AddFile("/w10", Pattern(10), SimCamera::kDefaultFlags | kCamStatusWholeFile);
    m_pSim->AddFile("/fixed", Pattern(10), kCamStatusReadable | kCamStatusWritable);
    const uint8_t x = 0xEE;

    ASSERT_TRUE(CamProtoWrite(m_pDevice, "/w100", 10, &x, 1));
    EXPECT_EQ(m_pSim->LastCommandOffset(), 0u);
    EXPECT_EQ(m_pSim->LastCommandLength(), 100u);
    Bytes expected = data;
    expected[10] = x;
    Bytes stored;
    ASSERT_TRUE(m_pSim->GetFile("/w100", stored));
    EXPECT_EQ(stored, expected);

    ASSERT_TRUE(CamProtoWrite(m_pDevice, "/w10", 10, &x, 1));
    EXPECT_EQ(m_pSim->LastCommandLength(), 11u);
    ASSERT_TRUE(m_pSim->GetFile("/w10", stored));
    EXPECT_EQ(stored.size(), 11u);

    // Growing past the end needs the growable bit; writing inside does not.
    EXPECT_FALSE(CamProtoWrite(m_pDevice, "/fixed", 9, "ab", 2));
    EXPECT_TRUE(CamProtoWrite(m_pDevice, "/fixed", 8, "ab", 2));
    // A write extending a whole-file file with a gap sends zeros in the gap.
    ASSERT_TRUE(CamProtoWrite(m_pDevice, "/w10", 14, &x, 1));
    ASSERT_TRUE(m_pSim->GetFile("/w10", stored));
    EXPECT_EQ(Bytes(stored.begin() + 11, stored.end()), Bytes({0, 0, 0, x}));
    EXPECT_EQ(m_pSim->TransfersOpen(), 0);
}

TEST_F(ProtocolTest, UsbWritesGoInPiecesWithPauseAndReadBack)
{
    SimCamera::Options options;
    options.m_bCrc = false;
    Attach(kCamTransportUsb, options);
    const Bytes data = Pattern(1300);
    m_pSim->AddFolder("/cf");
    m_pClock->m_sleeps.clear();
    ASSERT_TRUE(CamProtoWrite(m_pDevice, "/cf/new", 0, data.data(), 1300));
    EXPECT_EQ(m_pSim->CommandCount(kCamCmdWrite), 3);
    EXPECT_EQ(m_pSim->CommandCount(kCamCmdRead), 3) << "one read-back per piece";
    EXPECT_EQ(std::count(m_pClock->m_sleeps.begin(), m_pClock->m_sleeps.end(), 200), 3);
    Bytes stored;
    ASSERT_TRUE(m_pSim->GetFile("/cf/new", stored));
    EXPECT_EQ(stored, data);
    // Without CRC checks the host still sends one with every write.
    EXPECT_EQ(m_pSim->LastCrc(), Crc16Ccitt(data.data() + 1024, 276));

    // The second read-back fails: the write stops there and fails.
    m_pSim->UnplugAfterWindowReads(1);
    EXPECT_FALSE(CamProtoWrite(m_pDevice, "/cf/other", 0, data.data(), 1300));
    EXPECT_EQ(m_pSim->CommandCount(kCamCmdWrite), 5);
}

TEST_F(ProtocolTest, PollingStepsAndTimeouts)
{
    for (int transport : {kCamTransportUsb, kCamTransport1394}) {
        SCOPED_TRACE(transport);
        const bool usb = transport == kCamTransportUsb;
        auto sleptMs = [&] {
            return std::accumulate(m_pClock->m_sleeps.begin(), m_pClock->m_sleeps.end(), 0);
        };
        SimCamera::Options options;
        options.m_iSelectBusyPolls = 3;
        options.m_iCommandBusyPolls = 1000;
        Attach(transport, options);
        m_pSim->AddFile("/a", Pattern(8));
        m_pClock->m_sleeps.clear();
        uint32_t status = 0;
        EXPECT_TRUE(CamProtoSelectFile(m_pDevice, "/a", &status));
        EXPECT_EQ(m_pClock->m_sleeps, std::vector<int>(3, usb ? 100 : 10));

        // A command that stays busy: USB polls every 400 ms for 8 s; the transfer is ended.
        m_pClock->m_sleeps.clear();
        Bytes out(8);
        uint32_t got = 0;
        EXPECT_FALSE(CamProtoRead(m_pDevice, "/a", 0, out.data(), 8, &got));
        EXPECT_EQ(sleptMs(), usb ? 300 + 7600 : 30) << "the select's three busy polls, then the command's";
        EXPECT_EQ(m_pSim->TransfersOpen(), 0);
        CamDevRelease(m_pDevice);
        m_pDevice = nullptr;

        // An unreadable status is retried until the time-out.
        Attach(transport);
        m_pSim->SetStatusUnreadable(true);
        m_pClock->m_sleeps.clear();
        EXPECT_FALSE(CamProtoSelectFile(m_pDevice, "/a", &status));
        EXPECT_EQ(sleptMs(), usb ? 3900 : 490);
        CamDevRelease(m_pDevice);
        m_pDevice = nullptr;
        m_pSim.reset();
    }
}

TEST_F(ProtocolTest, DeleteAndAttributes)
{
    // Off USB too, a refused delete is reported.
    Attach(kCamTransport1394);
    m_pSim->AddFile("/a", Pattern(8));
    m_pSim->AddFile("/b", Pattern(8));
    m_pSim->AddFile("/keep", Pattern(8), kCamStatusReadable);
    EXPECT_TRUE(CamProtoDelete(m_pDevice, "/a"));
    EXPECT_FALSE(m_pSim->HasFile("/a"));
    EXPECT_FALSE(CamProtoDelete(m_pDevice, "/keep")) << "not deletable";
    m_pSim->SetRefuseDelete(true);
    EXPECT_FALSE(CamProtoDelete(m_pDevice, "/b"));
    EXPECT_TRUE(m_pSim->HasFile("/b"));

    m_pSim->SetAttributes("/b", 0x102);
    EXPECT_TRUE(CamProtoSetAttributes(m_pDevice, "/b", kCamAttrReadOnly));
    EXPECT_EQ(m_pSim->GetAttributes("/b"), 0x101u) << "other bits kept";
}

TEST_F(ProtocolTest, Console)
{
    Attach(kCamTransportUsb);
    const std::string text(300, 'c');
    ASSERT_TRUE(CamConsoleWrite(m_pDevice, (std::string("x") + text).c_str(), 301));
    EXPECT_TRUE(m_pSim->ConsoleOn());
    EXPECT_EQ(m_pSim->ConsoleText(), "x" + text) << "three blocks of at most 127 bytes";

    m_pSim->SetConsoleMessage(std::string(127, 'm'));
    char buffer[200];
    uint32_t got = 0;
    ASSERT_TRUE(CamConsoleRead(m_pDevice, buffer, 200, &got));
    EXPECT_EQ(got, 127u);
    ASSERT_TRUE(CamConsoleRead(m_pDevice, buffer, 9, &got));
    EXPECT_EQ(got, 7u);
    ASSERT_TRUE(CamConsoleRead(m_pDevice, buffer, 3, &got));
    EXPECT_EQ(got, 0u) << "too small for the length word";
    EXPECT_TRUE(CamConsoleOff(m_pDevice));
    EXPECT_FALSE(m_pSim->ConsoleOn());
}

} // namespace
