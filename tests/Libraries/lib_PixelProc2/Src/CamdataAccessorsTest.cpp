#include <gtest/gtest.h>

#include <memory>
#include <vector>

#include "FCamdata.h"
#include "FCamdataAccessors.h"
#include "FCamdataBuilder.h"
#include "FPropList.h"

namespace
{

// Camera data built and parsed together; the buffer lives as long as the object.
struct Parsed {
    explicit Parsed(FCamdataBuilder& builder) : buffer(builder.Build()), camdata(buffer.data(), buffer.size())
    {
    }
    std::vector<uint8_t> buffer;
    FCamdata camdata;
};

TEST(CamdataAccessors, ScalarsDemandTypeAndShape)
{
    FCamdataBuilder b;
    b.AddFloat("F", 2.5f);
    b.AddFloats("F3", {3}, {1, 2, 3});
    b.AddInt32("I", -7);
    b.AddUInt32("U", 0xFFFFFFF0u);
    b.AddUInt16("S", 65535);
    b.AddUInt16("Zero", 0);
    b.AddInt32("CCMatrix_Flag", 2);
    Parsed p(b);
    const FCamdata& c = p.camdata;

    EXPECT_EQ(GetCamdataFloat("F", c), 2.5f);
    EXPECT_EQ(GetCamdataFloat("F3", c), 0.0f) << "scalars demand shape [1]";
    EXPECT_EQ(GetCamdataFloat("I", c), 0.0f) << "wrong type";
    EXPECT_EQ(GetCamdataInt("I", c), -7);
    EXPECT_EQ(GetCamdataUInt("U", c), 0xFFFFFFF0u);
    EXPECT_EQ(GetCamdataInt("CCMatrix_Flag", c), 2);
    EXPECT_EQ(GetCamdataUInt("CCMatrix_Flag", c), 0u);

    bool found = false;
    EXPECT_EQ(GetCamdataUShort("S", c, &found), 65535);
    EXPECT_TRUE(found);
    EXPECT_EQ(GetCamdataUShort("Zero", c, &found), 0);
    EXPECT_TRUE(found);
    EXPECT_EQ(GetCamdataUShort("Missing", c, &found), 0);
    EXPECT_FALSE(found);
    EXPECT_EQ(GetCamdataUShort("S", c), 65535);
}

TEST(CamdataAccessors, TriplesRectanglesAndMatrices)
{
    FCamdataBuilder b;
    b.AddFloatRGB("Neutral", 0.5f, 1.0f, 0.25f);
    b.AddInt32s("NeutralAsInt", {3}, {1, 2, 3});
    b.AddInt16s("Saturation", {3}, {-2, 4000, 32767});
    b.AddInt32s("Accum", {3}, {-100000, 0, 100000});
    b.AddFloats("Four", {4}, {1, 2, 3, 4});
    b.AddRect("KeepImageArea", 0, 0, 99, 49);
    b.AddFloats("CamToXYZ", {3, 3}, {1, 2, 3, 4, 5, 6, 7, 8, 9});
    std::vector<float> poly(27);
    for (int k = 0; k < 27; ++k)
        poly[k] = static_cast<float>(k) - 13.0f;
    b.AddFloats("PostPolyMatrix", {3, 9}, poly);
    b.AddFloats("WrongPoly", {9, 3}, poly);
    Parsed p(b);
    const FCamdata& c = p.camdata;

    FDoubleRGB t(9, 9, 9);
    GetCamdataFloatRGB(t, "Neutral", c);
    EXPECT_EQ(t, FDoubleRGB(0.5, 1.0, 0.25));
    GetCamdataFloatRGB(t, "Four", c);
    EXPECT_EQ(t, FDoubleRGB(0, 0, 0));
    const FDoubleRGB fallback(7, 8, 9);
    GetCamdataFloatRGBOr(t, "NeutralAsInt", c, fallback);
    EXPECT_EQ(t, fallback);
    GetCamdataFloatRGBOr(t, "Neutral", c, fallback);
    EXPECT_EQ(t, FDoubleRGB(0.5, 1.0, 0.25));

    FIntRGB i(5, 5, 5);
    GetCamdataShortRGB(i, "Saturation", c);
    EXPECT_EQ(i, FIntRGB(-2, 4000, 32767));
    GetCamdataIntRGB(i, "Accum", c);
    EXPECT_EQ(i, FIntRGB(-100000, 0, 100000));
    GetCamdataIntRGB(i, "Saturation", c);
    EXPECT_EQ(i, FIntRGB(0, 0, 0));

    FRect r(1, 1, 1, 1);
    GetCamdataRect(r, "KeepImageArea", c);
    EXPECT_EQ(r, FRect(0, 0, 100, 50));
    GetCamdataRect(r, "Four", c);
    EXPECT_EQ(r, FRect(0, 0, 0, 0));

    FColorMatrix m;
    GetCamdataColorMatrix(m, "CamToXYZ", c);
    EXPECT_EQ(m.m[0][1], 2.0);
    EXPECT_EQ(m.m[2][2], 9.0);
    GetCamdataColorMatrix(m, "PostPolyMatrix", c);
    EXPECT_EQ(m, FColorMatrix());

    float out[27];
    GetCamdataPolyMatrix(out, "PostPolyMatrix", c);
    EXPECT_EQ(std::vector<float>(out, out + 27), poly);
    GetCamdataPolyMatrix(out, "WrongPoly", c);
    EXPECT_EQ(std::vector<float>(out, out + 27), std::vector<float>(27, 0.0f));
}

TEST(CamdataAccessors, DriftCoefficientsAreRegrouped)
{
    FCamdataBuilder b;
    std::vector<float> f(12);
    for (int k = 0; k < 12; ++k)
        f[k] = static_cast<float>(k);
    b.AddFloats("DarkDrift", {2, 3, 2}, f);
    b.AddFloats("Flat", {12}, f);
    Parsed p(b);
    double out[12];
    GetCamdataDriftCoefficients(out, "DarkDrift", p.camdata);
    const std::vector<double> expected = {0, 2, 4, 1, 3, 5, 6, 8, 10, 7, 9, 11};
    EXPECT_EQ(std::vector<double>(out, out + 12), expected);
    GetCamdataDriftCoefficients(out, "Flat", p.camdata);
    EXPECT_EQ(std::vector<double>(out, out + 12), std::vector<double>(12, 0.0));
}

TEST(CamdataAccessors, ArraysTablesAndGainTables)
{
    FCamdataBuilder b;
    b.AddUInt8s("BPBadness", {3}, {200, 150, 60});
    b.AddUInt32s("BadPixels", {2}, {0x12345678u, 7});
    b.AddFloats("BadPixThreshTimes", {2}, {2.0f, 10.0f});
    b.AddUInt32s("TwoDims", {1, 2}, {1, 2});
    std::vector<int16_t> lut(3 * 1024);
    for (size_t k = 0; k < lut.size(); ++k)
        lut[k] = static_cast<int16_t>(k);
    b.AddInt16s("LinLUTs", {3, 1024}, lut);
    b.AddInt16s("FourLUTs", {4, 1024}, std::vector<int16_t>(4 * 1024));
    b.AddInt16s("EmptyLUTs", {3, 0}, {});
    b.AddFloats("SpatialGain", {16, 24, 3}, std::vector<float>(16 * 24 * 3, 1.0f));
    b.AddFloats("Shading", {16, 24, 4}, std::vector<float>(16 * 24 * 4, 1.0f));
    Parsed p(b);
    const FCamdata& c = p.camdata;

    uint32_t count = 99;
    const uint8_t* bytes = GetCamdataByteArray("BPBadness", c, count);
    ASSERT_NE(bytes, nullptr);
    EXPECT_EQ(count, 3u);
    EXPECT_EQ(bytes[2], 60);
    const uint32_t* words = GetCamdataUIntArray("BadPixels", c, count);
    ASSERT_NE(words, nullptr);
    EXPECT_EQ(count, 2u);
    EXPECT_EQ(words[0], 0x12345678u);
    const float* floats = GetCamdataFloatArray("BadPixThreshTimes", c, count);
    ASSERT_NE(floats, nullptr);
    EXPECT_EQ(floats[1], 10.0f);

    count = 99;
    EXPECT_EQ(GetCamdataUIntArray("Missing", c, count), nullptr);
    EXPECT_EQ(GetCamdataUIntArray("BPBadness", c, count), nullptr);
    EXPECT_EQ(GetCamdataUIntArray("TwoDims", c, count), nullptr);
    EXPECT_EQ(count, 99u) << "absent arrays leave the count alone";

    std::unique_ptr<FColorLUT> table(GetCamdataColorLUT("LinLUTs", c));
    ASSERT_NE(table, nullptr);
    EXPECT_EQ(table->m_iSize, 1024);
    EXPECT_EQ(table->m_iMask, 1023);
    EXPECT_FALSE(table->m_bOwnsData);
    EXPECT_EQ(table->m_pGreenData, table->m_pRedData + 1024);
    EXPECT_EQ(table->m_pBlueData, table->m_pRedData + 2048);
    EXPECT_EQ(table->Lookup({5, 5, -1}), FIntRGB(5, 1029, 3071));
    EXPECT_EQ(GetCamdataColorLUT("FourLUTs", c), nullptr);
    EXPECT_EQ(GetCamdataColorLUT("EmptyLUTs", c), nullptr) << "a table of no entries cannot be masked";
    EXPECT_EQ(GetCamdataColorLUT("BadPixels", c), nullptr);

    std::unique_ptr<FCamdataGainTable> gain(GetCamdataGainTable("SpatialGain", c));
    ASSERT_NE(gain, nullptr);
    EXPECT_EQ(gain->m_iColumns, 24);
    EXPECT_EQ(gain->m_iRows, 16);
    EXPECT_EQ(gain->m_pData[16 * 24 * 3 - 1], 1.0f);
    EXPECT_EQ(GetCamdataGainTable("Shading", c), nullptr);
}

TEST(CamdataAccessors, PlausibleCalibrationAnswersEveryKey)
{
    for (bool bigEndian : {false, true}) {
        std::vector<uint8_t> buffer = BuildPlausibleCamdata(256, 192, bigEndian);
        FCamdata c(buffer.data(), buffer.size());
        FRect r;
        GetCamdataRect(r, "ActiveImageArea", c);
        EXPECT_EQ(r, FRect(16, 12, 240, 180));
        GetCamdataRect(r, "KeepImageArea", c);
        EXPECT_EQ(r, FRect(0, 0, 256, 192));
        std::unique_ptr<FColorLUT> lut(GetCamdataColorLUT("LinLUTs", c));
        ASSERT_NE(lut, nullptr);
        EXPECT_EQ(lut->Lookup({737, 100, 4095}), FIntRGB(737, 100, 4095));
        FColorMatrix m;
        GetCamdataColorMatrix(m, "CamToXYZ", c);
        EXPECT_NEAR(m.Determinant(), 0.2, 0.05);
        FDoubleRGB n;
        GetCamdataFloatRGB(n, "RGBNeutral", c);
        EXPECT_EQ(n, FDoubleRGB(1, 1, 1));
        uint32_t bad = 0;
        uint32_t badness = 0;
        ASSERT_NE(GetCamdataUIntArray("BadPixels", c, bad), nullptr);
        ASSERT_NE(GetCamdataByteArray("BPBadness", c, badness), nullptr);
        EXPECT_EQ(bad, badness);
        EXPECT_NE(std::unique_ptr<FCamdataGainTable>(GetCamdataGainTable("SpatialGain", c)), nullptr);
        EXPECT_EQ(GetCamdataUInt("RawOffsetFilterShift", c), 4u);
        EXPECT_EQ(GetCamdataFloat("SpatialDQ", c), 20.0f);
        const uint32_t three = 3;
        EXPECT_NE(c.GetMatrix("RawOffsetSourceRows", kCamdataUInt32, 1, &three), nullptr);
        FPropList list(nullptr, "l");
        EXPECT_TRUE(c.GetPropertyList("WhiteBalanceIlluminants", &list));
    }
}

} // namespace
