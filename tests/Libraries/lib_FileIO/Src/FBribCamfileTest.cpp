#include "FBribImageReader.h"

#include "BribFileBuilder.h"
#include "BribFormat.h"
#include "BribTestUtil.h"
#include "FCamdata.h"
#include "FCamdataBuilder.h"
#include "RawTestFolder.h"

#include <gtest/gtest.h>
#include <numeric>
#include <vector>

using namespace rawtest;

namespace
{

struct CamfileTest : ::testing::Test {
    RawTestFolder folder;
    int serial = 0;

    FWideString Put(const Bytes& bytes)
    {
        return folder.Write("c" + std::to_string(serial++) + ".q7f", bytes);
    }

    FWideString PutCamfile(const CamfileSection& section)
    {
        BribFileBuilder file;
        file.Top().AddCamfile(section);
        return Put(file.Build());
    }
};

Bytes Pattern(size_t size)
{
    Bytes bytes(size);
    for (size_t i = 0; i < size; ++i)
        bytes[i] = uint8_t(i * 131 + (i >> 9));
    return bytes;
}

// The keystream written out once more from its definition, with 64-bit
// intermediates masked to 32 bits.
Bytes OracleKeystream(size_t count, uint32_t seed, const FBribKeystream& key)
{
    Bytes stream(count);
    uint64_t s = seed;
    for (size_t i = 0; i < count; ++i) {
        s = ((s * key.m_uiMultiplier + key.m_uiIncrement) & 0xFFFFFFFFu) % key.m_uiModulus;
        stream[i] = uint8_t(((s * 256) & 0xFFFFFFFFu) / key.m_uiDivisor);
    }
    return stream;
}

} // namespace

TEST(BribDescramble, FollowsTheKeystreamDefinition)
{
    // A seed and multiplier whose product wraps 32 bits on the first step.
    const FBribKeystream key = {9973, 12345, 999983, 999983};
    for (uint32_t seed : {0u, 1u, 0xFFFFFFF0u, 0x9E3779B9u}) {
        Bytes bytes(600, 0);
        BribDescramble(bytes.data(), bytes.size(), seed, key);
        EXPECT_EQ(bytes, OracleKeystream(bytes.size(), seed, key)) << seed;
    }
    Bytes bytes(64, 0);
    BribDescramble(bytes.data(), bytes.size(), 77, kBribCamfileKeystream);
    EXPECT_EQ(bytes, OracleKeystream(64, 77, kBribCamfileKeystream));
}

TEST_F(CamfileTest, KindsAndSizes)
{
    const Bytes payload = Pattern(1000);
    for (uint32_t version : {kVersion22, kVersion10, kVersion30}) {
        for (uint32_t kind : {0u, 1u, 2u}) {
            SCOPED_TRACE(testing::Message() << "version " << std::hex << version << " kind " << kind);
            CamfileSection section;
            section.version = version;
            section.kind = kind;
            section.payload = payload;
            FBribImageReader reader(PutCamfile(section).GetBuffer());
            ASSERT_EQ(reader.GetCamfileCount(), 1);
            int size = -1, reportedKind = -1;
            reader.GetCamfileInfo(0, size, reportedKind);
            // Scrambled data is delivered plain, without its head.
            EXPECT_EQ(reportedKind, kind == 2 ? 1 : int(kind));
            EXPECT_EQ(size, 1000);

            Bytes exact(size_t(size), 0);
            EXPECT_EQ(reader.ReadCamfile(0, exact.data(), unsigned(size), nullptr, nullptr), 1000u);
            EXPECT_EQ(exact, payload);

            Bytes larger(2000, 0xCC);
            double progress = -1;
            EXPECT_EQ(reader.ReadCamfile(0, larger.data(), 2000, &progress, nullptr), 1000u);
            EXPECT_EQ(progress, 1.0);
            EXPECT_TRUE(std::equal(payload.begin(), payload.end(), larger.begin()));
            EXPECT_EQ(larger[1000], 0xCC);

            // A prefix is correctly descrambled from the seed.
            Bytes prefix(10, 0);
            EXPECT_EQ(reader.ReadCamfile(0, prefix.data(), 10, nullptr, nullptr), 10u);
            EXPECT_TRUE(std::equal(prefix.begin(), prefix.end(), payload.begin()));
        }
    }
}

TEST_F(CamfileTest, ChunksReportProgressAndStopOnCancel)
{
    const size_t total = 3 * 0x20000 + 5;
    CamfileSection section;
    section.kind = 2;
    section.payload = Pattern(total);
    FBribImageReader reader(PutCamfile(section).GetBuffer());

    Bytes buffer(total);
    const char cancel = 1;
    double progress = -1;
    EXPECT_EQ(reader.ReadCamfile(0, buffer.data(), unsigned(total), &progress, &cancel), 0u);
    EXPECT_DOUBLE_EQ(progress, 1.0 - double(total - 0x20000) / double(total));

    const char go = 0;
    EXPECT_EQ(reader.ReadCamfile(0, buffer.data(), unsigned(total), &progress, &go), unsigned(total));
    EXPECT_EQ(progress, 1.0);
    EXPECT_EQ(buffer, section.payload);
}

TEST_F(CamfileTest, LargerHeadMovesThePayload)
{
    CamfileSection section;
    section.version = kVersion30;
    section.headSize = 40;
    section.kind = 0;
    section.payload = Pattern(100);
    FBribImageReader reader(PutCamfile(section).GetBuffer());
    int size = 0, kind = -1;
    reader.GetCamfileInfo(0, size, kind);
    EXPECT_EQ(size, 100);
    Bytes buffer(200, 0);
    EXPECT_EQ(reader.ReadCamfile(0, buffer.data(), 200, nullptr, nullptr), 100u);
    EXPECT_TRUE(std::equal(section.payload.begin(), section.payload.end(), buffer.begin()));
}

TEST_F(CamfileTest, RefusedSections)
{
    struct Case {
        const char* name;
        void (*change)(CamfileSection&);
        std::string type;
        const char* message;
        bool infoFails;      // else only ReadCamfile refuses it
        uint32_t length = 0; // a directory length in place of the section's own
    };
    const Case cases[] = {
        {"magic", [](CamfileSection& s) { s.magic = FourCC("SECi"); }, TypeName<FExceptionBribReader>(),
         "Expected a cam file section but got something else.", true},
        {"version", [](CamfileSection& s) { s.version = 0x00040001; }, TypeName<FExceptionBribIncompatible>(),
         "Cam file section version", true},
        {"scrambled magic",
         [](CamfileSection& s) {
             s.kind = 2;
             s.scrambledMagic = FourCC("BCMb");
         },
         TypeName<FExceptionBribReader>(), "Expected an encrypted CAMb section but got something else.",
         false},
        {"scrambled version",
         [](CamfileSection& s) {
             s.kind = 2;
             s.scrambledVersion = 0x00020000;
         },
         TypeName<FExceptionBribIncompatible>(), "Encrypted CAMb file section version", false},
        {"head smaller than its fixed size",
         [](CamfileSection& s) {
             s.version = kVersion30;
             s.headSize = 8;
         },
         TypeName<FExceptionBribReader>(), "Section head size does not fit its section.", true},
        {"head larger than the section",
         [](CamfileSection& s) {
             s.version = kVersion30;
             s.headSize = 4000;
             s.payload.clear();
         },
         TypeName<FExceptionBribReader>(), "Section head size does not fit its section.", true, 100},
        {"scrambled payload shorter than its head",
         [](CamfileSection& s) {
             s.kind = 2;
             s.payload.clear();
             s.version = kVersion30;
         },
         TypeName<FExceptionBribReader>(), "Scrambled camera data is shorter than its head.", true, 24 + 4},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        CamfileSection section;
        section.payload = Pattern(64);
        c.change(section);
        BribFileBuilder file;
        BribEntry& entry = file.Top().AddCamfile(section);
        if (c.length)
            entry.length = c.length;
        FBribImageReader reader(Put(file.Build()).GetBuffer());
        int size = 0, kind = 0;
        const auto info = Thrown([&] { reader.GetCamfileInfo(0, size, kind); });
        if (c.infoFails) {
            EXPECT_EQ(info.type, c.type);
            EXPECT_EQ(info.message, c.message);
        } else {
            EXPECT_EQ(info.type, "nothing");
        }
        Bytes buffer(256);
        const auto read = Thrown([&] { reader.ReadCamfile(0, buffer.data(), 256, nullptr, nullptr); });
        EXPECT_EQ(read.type, c.type);
        EXPECT_EQ(read.message, c.message);
    }
}

TEST_F(CamfileTest, SectionPastTheEndIsRefusedBeforeAnyoneAllocates)
{
    BribFileBuilder file;
    file.Top().AddCamfile(1, Pattern(50)).length = 0x7FFFFFF0;
    FBribImageReader reader(Put(file.Build()).GetBuffer());
    int size = 0, kind = 0;
    const auto thrown = Thrown([&] { reader.GetCamfileInfo(0, size, kind); });
    EXPECT_EQ(thrown.type, TypeName<FExceptionBribReader>());
    EXPECT_EQ(thrown.message, "Section runs past the end of the file.");
}

TEST_F(CamfileTest, DeliveredCalibrationParsesForEveryKind)
{
    const Bytes container = BuildPlausibleCamdata(16, 12);
    Bytes reference = container;
    const FCamdata expected(reference.data(), reference.size());
    ASSERT_GT(expected.GetBlockCount(), 0u);
    for (uint32_t kind : {1u, 2u}) {
        SCOPED_TRACE(kind);
        CamfileSection section;
        section.version = kVersion30;
        section.kind = kind;
        section.payload = container;
        FBribImageReader reader(PutCamfile(section).GetBuffer());
        int size = 0, reportedKind = 0;
        reader.GetCamfileInfo(0, size, reportedKind);
        Bytes buffer(size_t(size), 0);
        ASSERT_EQ(reader.ReadCamfile(0, buffer.data(), unsigned(size), nullptr, nullptr), unsigned(size));
        const FCamdata parsed(buffer.data(), buffer.size());
        EXPECT_EQ(parsed.GetBlockCount(), expected.GetBlockCount());
    }
}
