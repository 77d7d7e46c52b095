#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "FCamdata.h"
#include "FCamdataBuilder.h"
#include "FDebugTrace.h"
#include "FException.h"
#include "FPropList.h"
#include "FWideString.h"

namespace
{

const std::vector<float> kMatrix9 = {1, 2, 3, 4, 5, 6, 7, 8, 9.5f};

// One section with a property list, a float [3][3] matrix, an int16 triple and an opaque
// block whose data would show a byte swap.
FCamdataBuilder MakeBasic(bool bigEndian)
{
    FCamdataBuilder b;
    b.GetOptions().bigEndian = bigEndian;
    b.AddPropertyList("Lights",
                      {{"Daylight", "CamToXYZ_Daylight"}, {"Tungsten", "Tung"}, {"Daylight", "Again"}});
    b.AddFloats("CamToXYZ", {3, 3}, kMatrix9);
    b.AddOpaque(FCamdataBuilder::kCodeT, "Opaque", {1, 2, 3, 4, 5, 6, 7, 8});
    b.AddInt16s("Levels", {3}, {-1, 4000, 32767});
    return b;
}

std::vector<std::pair<std::string, std::string>> Pairs(const FPropList& list)
{
    std::vector<std::pair<std::string, std::string>> out;
    for (FPropPair* p = list.GetFirstProp(); p != nullptr; p = p->GetNext())
        out.emplace_back(p->GetName().GetNarrow(), p->GetValue().GetNarrow());
    return out;
}

// Parses and returns the text of the FException, or "" when nothing was thrown.
std::string ParseError(std::vector<uint8_t> buffer, bool* pixelProcType = nullptr)
{
    try {
        FCamdata c(buffer.empty() ? nullptr : buffer.data(), buffer.size());
    } catch (const FException& e) {
        if (pixelProcType != nullptr)
            *pixelProcType = dynamic_cast<const FExceptionPixelProc2*>(&e) != nullptr;
        return e.GetMessage();
    }
    return "";
}

bool EndsWith(const std::string& s, const std::string& tail)
{
    return s.size() >= tail.size() && s.compare(s.size() - tail.size(), tail.size(), tail) == 0;
}

TEST(Camdata, ParsesEveryBlockKindAndMatchesShapes)
{
    for (bool bigEndian : {false, true}) {
        SCOPED_TRACE(bigEndian ? "big-endian" : "little-endian");
        FCamdataBuilder b = MakeBasic(bigEndian);
        std::vector<uint8_t> buffer = b.Build();
        FCamdata c(buffer.data(), buffer.size());
        EXPECT_EQ(c.GetBlockCount(), 4u);
        EXPECT_EQ(c.WasSwapped(), bigEndian);

        const uint32_t shape[2] = {3, 3};
        const FCamdataMatrix* m = c.GetMatrix("CamToXYZ", kCamdataFloat, 2, shape);
        ASSERT_NE(m, nullptr);
        EXPECT_EQ(m->m_uDimCount, 2u);
        EXPECT_EQ(m->m_uElementCount, 9u);
        EXPECT_EQ(std::vector<float>(m->GetData<float>(), m->GetData<float>() + 9), kMatrix9);
        EXPECT_EQ(c.GetMatrix("CamToXYZ", kCamdataFloat, 0, nullptr), m);
        EXPECT_EQ(c.GetMatrix("CamToXYZ", kCamdataInt32, 2, shape), nullptr);
        EXPECT_EQ(c.GetMatrix("CamToXYZ", kCamdataFloat, 1, nullptr), nullptr);
        const uint32_t wrongShape[2] = {3, 4};
        EXPECT_EQ(c.GetMatrix("CamToXYZ", kCamdataFloat, 0, wrongShape), nullptr);

        const FCamdataMatrix* levels = c.GetMatrix("Levels", kCamdataInt16, 1, nullptr);
        ASSERT_NE(levels, nullptr);
        EXPECT_EQ(levels->GetData<int16_t>()[0], -1);
        EXPECT_EQ(levels->GetData<int16_t>()[2], 32767);

        FPropList list(nullptr, "list");
        ASSERT_TRUE(c.GetPropertyList("Lights", &list));
        const std::vector<std::pair<std::string, std::string>> expected = {
            {"Daylight", "CamToXYZ_Daylight"}, {"Tungsten", "Tung"}, {"Daylight", "Again"}};
        EXPECT_EQ(Pairs(list), expected);
        EXPECT_FALSE(c.GetPropertyList("CamToXYZ", &list));
        EXPECT_FALSE(c.GetPropertyList("Missing", &list));
        EXPECT_FALSE(c.GetPropertyList(nullptr, &list));
        EXPECT_FALSE(c.GetPropertyList("Lights", nullptr));

        EXPECT_TRUE(c.HasBlock("Opaque"));
        EXPECT_EQ(c.GetMatrix("Opaque", kCamdataInt16, 0, nullptr), nullptr);
        EXPECT_EQ(c.GetMatrix(nullptr, kCamdataFloat, 0, nullptr), nullptr);
    }
}

TEST(Camdata, BigEndianIsSwappedInPlaceToTheLittleEndianImage)
{
    FCamdataBuilder le = MakeBasic(false);
    FCamdataBuilder be = MakeBasic(true);
    const std::vector<uint8_t> little = le.Build();
    std::vector<uint8_t> big = be.Build();
    ASSERT_NE(little, big);
    {
        FCamdata c(big.data(), big.size());
    }
    // The opaque block's data is written the same in both and must not have been touched.
    EXPECT_EQ(big, little);

    // A second parse finds native order and changes nothing.
    const std::vector<uint8_t> before = big;
    FCamdata again(big.data(), big.size());
    EXPECT_FALSE(again.WasSwapped());
    EXPECT_EQ(big, before);
}

TEST(Camdata, StructuralErrorsThrowTheirTexts)
{
    struct Case {
        const char* what;
        std::vector<uint8_t> buffer;
        const char* message;
    };
    std::vector<Case> cases;
    cases.push_back({"empty", {}, "FCamdata: initialized with NULL pointer or empty buffer."});
    cases.push_back({"3 bytes", {'B', 'C', 'M'}, "FCamdata: insufficient data for CAMb data.\n"});
    cases.push_back({"unknown code",
                     {'X', 'Y', 'Z', 'W', 0, 0, 0, 0},
                     "FCamdata: cam data is not CAMb file or CAMb data blocks."});
    {
        FCamdataBuilder b = MakeBasic(true);
        b.GetOptions().magic = CamdataCode("BCMx");
        cases.push_back({"bad magic", b.Build(), "FCamdata: cam data is not CAMb file or CAMb data blocks."});
    }
    {
        std::vector<uint8_t> full = MakeBasic(false).Build();
        cases.push_back({"27-byte header", std::vector<uint8_t>(full.begin(), full.begin() + 27),
                         "FCamdata: Insufficient data for header.\n"});
    }
    {
        FCamdataBuilder b = MakeBasic(false);
        b.GetOptions().version = 0x00030000;
        cases.push_back({"file version 3", b.Build(), "FCamdata: Incompatible version.\n"});
        b.GetOptions().bigEndian = true;
        cases.push_back({"file version 3, big-endian", b.Build(), "FCamdata: Incompatible version.\n"});
    }
    {
        FCamdataBuilder b = MakeBasic(false);
        b.GetOptions().trailing.assign(8, 0);
        cases.push_back({"8 trailing bytes", b.Build(), "FCamdata: Insufficient data for section header.\n"});
    }
    {
        FCamdataBuilder b = MakeBasic(false);
        b.CurrentSection().code = FCamdataBuilder::kCodeMatrix;
        cases.push_back({"section code", b.Build(), "FCamdata: Expected a data section.\n"});
    }
    {
        FCamdataBuilder b = MakeBasic(true);
        b.CurrentSection().version = 0x00020000;
        cases.push_back({"section version", b.Build(), "FCamdata: Incompatible data section version.\n"});
    }
    {
        FCamdataBuilder b = MakeBasic(false);
        b.CurrentSection().size = 0x7FFFFFF0;
        cases.push_back(
            {"section past the end", b.Build(), "FCamdata: Insufficient data for data section.\n"});
    }
    {
        FCamdataBuilder b = MakeBasic(false);
        b.CurrentSection().size = 0;
        cases.push_back({"section size 0", b.Build(), "FCamdata: Invalid data section size.\n"});
        b.CurrentSection().size = 19;
        cases.push_back({"section size 19", b.Build(), "FCamdata: Invalid data section size.\n"});
    }
    {
        FCamdataBuilder b = MakeBasic(false);
        b.GetOptions().firstSectionOffset = 0xFFFFFF00u;
        cases.push_back(
            {"first section past the end", b.Build(), "FCamdata: Insufficient data for section header.\n"});
    }
    for (const Case& c : cases) {
        bool pixelProc = true;
        EXPECT_EQ(ParseError(c.buffer, &pixelProc), c.message) << c.what;
        EXPECT_FALSE(pixelProc) << c.what << ": the container throws plain FException";
    }
    EXPECT_THROW(FCamdata(nullptr, 100), FException);
}

TEST(Camdata, SectionsWithoutBlocksMakeAnEmptyCamfile)
{
    FCamdataBuilder b;
    b.CurrentSection().firstBlockOffset = 24; // equals the size of an empty section
    b.NewSection().firstBlockOffset = 100;    // beyond it
    std::vector<uint8_t> buffer = b.Build();
    FDebugTraceCapture trace;
    FCamdata c(buffer.data(), buffer.size());
    EXPECT_EQ(c.GetBlockCount(), 0u);
    EXPECT_TRUE(trace.Contains("FCamdata: Parsed an empty camfile.\n"));
    EXPECT_FALSE(c.HasBlock("anything"));
}

TEST(Camdata, BareRunsOfBlocks)
{
    for (bool bigEndian : {false, true}) {
        FCamdataBuilder b;
        b.GetOptions().bare = true;
        b.GetOptions().bigEndian = bigEndian;
        b.AddOpaque(FCamdataBuilder::kCodeT, "First", {9, 9, 9, 9});
        b.AddFloats("Values", {2}, {1.5f, -2.5f});
        b.AddOpaque(FCamdataBuilder::kCodeB, "Last", {});
        std::vector<uint8_t> buffer = b.Build();
        FCamdata c(buffer.data(), buffer.size());
        EXPECT_EQ(c.GetBlockCount(), 3u);
        EXPECT_TRUE(c.HasBlock("first"));
        EXPECT_TRUE(c.HasBlock("LAST"));
        EXPECT_EQ(c.GetMatrix("First", kCamdataFloat, 0, nullptr), nullptr);
        const FCamdataMatrix* m = c.GetMatrix("Values", kCamdataFloat, 1, nullptr);
        ASSERT_NE(m, nullptr);
        EXPECT_EQ(m->GetData<float>()[1], -2.5f);
    }
}

TEST(Camdata, NamesMatchCaseInsensitivelyAndTheFirstBlockWins)
{
    FCamdataBuilder b;
    b.AddPropertyList("Gain", {{"a", "b"}});
    b.AddFloats("GAIN", {3}, {1, 2, 3});
    b.AddFloats("Zeta_1", {1}, {4});
    std::vector<uint8_t> buffer = b.Build();
    FCamdata c(buffer.data(), buffer.size());
    FPropList list(nullptr, "l");
    for (const char* name : {"Gain", "GAIN", "gAiN"}) {
        EXPECT_TRUE(c.GetPropertyList(name, &list)) << name;
        EXPECT_EQ(c.GetMatrix(name, kCamdataFloat, 0, nullptr), nullptr) << name;
    }
    EXPECT_NE(c.GetMatrix("zeta_1", kCamdataFloat, 1, nullptr), nullptr);
    // Only A to Z fold: '_' is not '\x7f'.
    EXPECT_EQ(c.GetMatrix("zeta\x7f"
                          "1",
                          kCamdataFloat, 1, nullptr),
              nullptr);
    EXPECT_EQ(c.GetMatrix("Gai", kCamdataFloat, 0, nullptr), nullptr);
}

TEST(Camdata, BadBlockSizeEndsItsAreaKeepingEarlierBlocks)
{
    for (uint32_t badSize : {19u, 0u, 0x7FFFFFFFu}) {
        FCamdataBuilder b;
        b.AddFloat("Before", 1.0f);
        b.AddFloat("Bad", 2.0f).size = badSize;
        b.AddFloat("After", 3.0f);
        b.NewSection();
        b.AddFloat("NextSection", 4.0f);
        std::vector<uint8_t> buffer = b.Build();
        FDebugTraceCapture trace;
        FCamdata c(buffer.data(), buffer.size());
        EXPECT_TRUE(trace.Contains("FCamdataImpl::CountBlocks found block with invalid size.\n"));
        EXPECT_TRUE(trace.Contains("FCamdataImpl::ParseBlocks found block with invalid size.\n"));
        EXPECT_NE(c.GetMatrix("Before", kCamdataFloat, 1, nullptr), nullptr) << badSize;
        EXPECT_FALSE(c.HasBlock("Bad"));
        EXPECT_FALSE(c.HasBlock("After"));
        EXPECT_NE(c.GetMatrix("NextSection", kCamdataFloat, 1, nullptr), nullptr) << badSize;
    }
}

TEST(Camdata, SixtyFourBitElementsCannotBeSwapped)
{
    FCamdataBuilder b;
    b.AddInt64s("Wide", {2}, {1, -2});
    std::vector<uint8_t> little = b.Build();
    FCamdata c(little.data(), little.size());
    const FCamdataMatrix* m = c.GetMatrix("Wide", kCamdata64Bit, 1, nullptr);
    ASSERT_NE(m, nullptr);
    EXPECT_EQ(m->GetData<int64_t>()[1], -2);

    b.GetOptions().bigEndian = true;
    EXPECT_TRUE(EndsWith(ParseError(b.Build()), "Don't know how to endian swap 64 bit types."));

    FCamdataBuilder negative;
    negative.GetOptions().bigEndian = true;
    negative.AddMatrix("Neg", -1, {1}, {0, 0, 0, 0});
    EXPECT_TRUE(
        EndsWith(ParseError(negative.Build()), "Unrecognized CAMb matrix type.  Cannot endian swap!"));
}

TEST(Camdata, ZeroDimensionCountIsAnAssertion)
{
    FCamdataBuilder b;
    b.AddFloat("Flat", 1.0f).dimCount = 0;
    EXPECT_NE(ParseError(b.Build()).find("iDimCount"), std::string::npos);
}

// Blocks whose inner offsets, counts or types are wrong are left unusable; everything
// around them stays reachable, in the same section and in later ones.
TEST(Camdata, MalformedBlocksAreUnusableAndTheRestSurvives)
{
    using Block = FCamdataBuilder::Block;
    struct Case {
        const char* what;
        bool propList;
        void (*spoil)(Block&);
        const char* stdoutLine; // "" when the block is rejected before its kind is parsed
    };
    const char* kMatrixLine = "FCamdataImpl::ParseBlocks: Error parsing matrix.\r\n";
    const char* kPropLine = "CAMB: Error parsing property list.\r\n";
    const Case cases[] = {
        {"matrix version 1", false, [](Block& b) { b.version = 0x00010000; }, kMatrixLine},
        {"matrix type 7", false, [](Block& b) { b.type = 7; }, kMatrixLine},
        {"matrix data offset past block", false, [](Block& b) { b.dataOffset = 0x10000; }, kMatrixLine},
        {"dimension count past block", false, [](Block& b) { b.dimCount = 0x40000000; }, kMatrixLine},
        {"element offset past block", false, [](Block& b) { b.elementOffset = 0xFFFFFFF0u; }, kMatrixLine},
        {"elements past block", false,
         [](Block& b) {
             b.dims = {3, 0x20000000};
         },
         kMatrixLine},
        {"element count overflows", false,
         [](Block& b) {
             b.dims = {0xFFFFFFFFu, 0xFFFFFFFFu, 0xFFFFFFFFu};
         },
         kMatrixLine},
        {"property version 2", true, [](Block& b) { b.version = 0x00020000; }, kPropLine},
        {"property count past block", true, [](Block& b) { b.propCount = 0x20000000; }, kPropLine},
        {"string area past block", true, [](Block& b) { b.stringAreaOffset = 0x7FFFFFF0; }, kPropLine},
        {"name offset past block", false, [](Block& b) { b.nameOffset = 0xFFFFFFF0u; }, ""},
    };
    for (const Case& c : cases) {
        for (bool bigEndian : {false, true}) {
            SCOPED_TRACE(std::string(c.what) + (bigEndian ? " big-endian" : " little-endian"));
            FCamdataBuilder b;
            b.GetOptions().bigEndian = bigEndian;
            b.AddFloat("Before", 1.0f);
            Block& spoilt = c.propList ? b.AddPropertyList("Spoilt", {{"k", "v"}})
                                       : b.AddFloats("Spoilt", {3}, {1, 2, 3});
            c.spoil(spoilt);
            b.AddFloat("After", 2.0f);
            b.NewSection();
            b.AddPropertyList("Later", {{"x", "y"}});
            std::vector<uint8_t> buffer = b.Build();

            testing::internal::CaptureStdout();
            std::unique_ptr<FCamdata> parsed;
            try {
                parsed = std::make_unique<FCamdata>(buffer.data(), buffer.size());
            } catch (const FException& e) {
                ADD_FAILURE() << e.GetMessage();
            }
            const std::string out = testing::internal::GetCapturedStdout();
            ASSERT_NE(parsed, nullptr);
            if (*c.stdoutLine != '\0') {
                EXPECT_NE(out.find(c.stdoutLine), std::string::npos) << out;
            }

            const FCamdata& camdata = *parsed;
            FPropList list(nullptr, "l");
            EXPECT_EQ(camdata.GetMatrix("Spoilt", kCamdataFloat, 0, nullptr), nullptr);
            EXPECT_FALSE(camdata.GetPropertyList("Spoilt", &list));
            EXPECT_NE(camdata.GetMatrix("Before", kCamdataFloat, 1, nullptr), nullptr);
            EXPECT_NE(camdata.GetMatrix("After", kCamdataFloat, 1, nullptr), nullptr);
            EXPECT_TRUE(camdata.GetPropertyList("Later", &list));
        }
    }
}

// Elements at an offset that is no multiple of their size are still read, in
// either byte order, through an aligned copy.
TEST(Camdata, MisalignedElementsAreReadThroughAnAlignedCopy)
{
    for (bool bigEndian : {false, true}) {
        SCOPED_TRACE(bigEndian);
        FCamdataBuilder b;
        b.GetOptions().bigEndian = bigEndian;
        FCamdataBuilder::Block& odd = b.AddMatrix("Odd", kCamdataFloat, {3}, {});
        b.AddInt16s("After", {2}, {-5, 7});
        std::vector<uint8_t> first = b.Build();
        const size_t wordAt = b.GetPlacements()[0].dataOffset + 8;
        uint32_t aligned = 0;
        for (int i = 0; i < 4; ++i)
            aligned |= uint32_t(first[wordAt + size_t(bigEndian ? 3 - i : i)]) << (8 * i);
        // One stray byte, then three floats where the elements now start.
        odd.elementOffset = aligned + 1;
        odd.tail.push_back(0xEE);
        for (float v : {1.5f, -2.25f, 1e-3f}) {
            uint32_t bits = 0;
            std::memcpy(&bits, &v, 4);
            for (int i = 0; i < 4; ++i)
                odd.tail.push_back(uint8_t(bits >> (8 * (bigEndian ? 3 - i : i))));
        }
        std::vector<uint8_t> buffer = b.Build();
        FCamdata camdata(buffer.data(), buffer.size());
        const FCamdataMatrix* m = camdata.GetMatrix("Odd", kCamdataFloat, 1, nullptr);
        ASSERT_NE(m, nullptr);
        EXPECT_EQ(reinterpret_cast<uintptr_t>(m->m_pData) % alignof(float), 0u);
        ASSERT_EQ(m->m_uElementCount, 3u);
        EXPECT_EQ(m->GetData<float>()[0], 1.5f);
        EXPECT_EQ(m->GetData<float>()[1], -2.25f);
        EXPECT_EQ(m->GetData<float>()[2], 1e-3f);
        const FCamdataMatrix* after = camdata.GetMatrix("After", kCamdataInt16, 1, nullptr);
        ASSERT_NE(after, nullptr);
        EXPECT_EQ(after->GetData<int16_t>()[0], -5);
    }
}

TEST(Camdata, StringsRunningOffTheirBlockAreRejected)
{
    FCamdataBuilder b;
    FCamdataBuilder::Block& props = b.AddPropertyList("Props", {{"k", "v"}});
    props.tail.assign(8, 'x');
    FCamdataBuilder::Block& named = b.AddFloat("Named", 1.0f);
    named.tail.assign(8, 'x');
    b.AddFloat("After", 2.0f);
    b.Build();
    // Point the string area and the name at the last eight bytes, which hold no NUL.
    const auto& placed = b.GetPlacements();
    props.stringAreaOffset = static_cast<uint32_t>(placed[0].size - 8);
    named.nameOffset = static_cast<uint32_t>(placed[1].size - 8);
    std::vector<uint8_t> buffer = b.Build();

    testing::internal::CaptureStdout();
    FCamdata c(buffer.data(), buffer.size());
    EXPECT_NE(testing::internal::GetCapturedStdout().find("CAMB: Error parsing property list.\r\n"),
              std::string::npos);
    FPropList list(nullptr, "l");
    EXPECT_FALSE(c.GetPropertyList("Props", &list));
    EXPECT_EQ(list.GetPropCount(), 0);
    EXPECT_FALSE(c.HasBlock("Named"));
    EXPECT_EQ(c.GetBlockCount(), 3u);
    EXPECT_NE(c.GetMatrix("After", kCamdataFloat, 1, nullptr), nullptr);
}

// Random corruption of a complete calibration: whatever the bytes, parsing ends in an
// FException or a usable object, and lookups stay inside the buffer (run under ASan).
TEST(Camdata, RandomCorruptionNeverReadsOutsideTheBuffer)
{
    const std::vector<uint8_t> valid = BuildPlausibleCamdata(64, 48);
    const std::vector<uint8_t> validBig = BuildPlausibleCamdata(64, 48, true);
    std::mt19937 rng(12345);
    int parsed = 0;
    for (int iteration = 0; iteration < 1500; ++iteration) {
        const std::vector<uint8_t>& source = (iteration % 2) ? validBig : valid;
        std::vector<uint8_t> buffer = source;
        const int flips = 1 + static_cast<int>(rng() % 8);
        for (int k = 0; k < flips; ++k) {
            const size_t at = rng() % buffer.size();
            // Mostly header-like words: small values, huge values, or random bytes.
            switch (rng() % 3) {
            case 0:
                buffer[at] = static_cast<uint8_t>(rng());
                break;
            case 1:
                buffer[at] = 0xFF;
                break;
            case 2:
                buffer[at] = 0;
                break;
            }
        }
        if (rng() % 4 == 0)
            buffer.resize(rng() % buffer.size() + 1);
        // An exactly sized heap copy, so that ASan sees any read past the end.
        std::unique_ptr<uint8_t[]> exact(new uint8_t[buffer.size()]);
        std::memcpy(exact.get(), buffer.data(), buffer.size());
        testing::internal::CaptureStdout();
        try {
            FCamdata c(exact.get(), buffer.size());
            ++parsed;
            FPropList list(nullptr, "l");
            c.GetPropertyList("WhiteBalanceIlluminants", &list);
            for (const char* name : {"LinLUTs", "CamToXYZ", "SpatialGain", "BadPixels", "KeepImageArea"})
                if (const FCamdataMatrix* m = c.GetMatrix(name, kCamdataInt16, 0, nullptr);
                    m && m->m_uElementCount) {
                    volatile int16_t last = m->GetData<int16_t>()[m->m_uElementCount - 1];
                    (void)last;
                }
        } catch (const FException&) {
        }
        testing::internal::GetCapturedStdout();
    }
    EXPECT_GT(parsed, 0);
}

} // namespace
