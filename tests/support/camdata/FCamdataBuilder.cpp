#include "FCamdataBuilder.h"

#include <cstring>

#include "FCamdata.h"

namespace
{

constexpr size_t kAlign = 8;

void Put32(std::vector<uint8_t>& out, size_t at, uint32_t v, bool bigEndian)
{
    for (int k = 0; k < 4; ++k)
        out[at + k] = static_cast<uint8_t>(v >> (bigEndian ? 24 - 8 * k : 8 * k));
}

void Append32(std::vector<uint8_t>& out, uint32_t v, bool bigEndian)
{
    out.resize(out.size() + 4);
    Put32(out, out.size() - 4, v, bigEndian);
}

void PadTo(std::vector<uint8_t>& out, size_t base, size_t alignment)
{
    while ((out.size() - base) % alignment != 0)
        out.push_back(0);
}

uint32_t ElementBytes(int32_t type)
{
    switch (type) {
    case kCamdataInt16:
    case kCamdataUInt16:
        return 2;
    case kCamdataInt32:
    case kCamdataUInt32:
    case kCamdataFloat:
        return 4;
    case kCamdata64Bit:
        return 8;
    default:
        return 1;
    }
}

template <typename T>
std::vector<uint8_t> LittleEndianBytes(const std::vector<T>& values)
{
    std::vector<uint8_t> bytes;
    bytes.reserve(values.size() * sizeof(T));
    for (const T& v : values) {
        uint8_t raw[sizeof(T)];
        std::memcpy(raw, &v, sizeof(T));
        uint64_t bits = 0;
        for (size_t k = 0; k < sizeof(T); ++k)
            bits |= static_cast<uint64_t>(raw[k]) << (8 * k); // the test host is little-endian
        for (size_t k = 0; k < sizeof(T); ++k)
            bytes.push_back(static_cast<uint8_t>(bits >> (8 * k)));
    }
    return bytes;
}

} // namespace

FCamdataBuilder::FCamdataBuilder()
{
    m_sections.emplace_back();
}

FCamdataBuilder::Section& FCamdataBuilder::NewSection()
{
    return m_sections.emplace_back();
}

FCamdataBuilder::Block&
FCamdataBuilder::AddPropertyList(const std::string& name,
                                 std::vector<std::pair<std::string, std::string>> props)
{
    Block& b = CurrentSection().blocks.emplace_back();
    b.code = kCodePropList;
    b.version = 0x00010000;
    b.name = name;
    b.props = std::move(props);
    return b;
}

FCamdataBuilder::Block& FCamdataBuilder::AddMatrix(const std::string& name, int32_t type,
                                                   std::vector<uint32_t> dims, std::vector<uint8_t> elements)
{
    Block& b = CurrentSection().blocks.emplace_back();
    b.code = kCodeMatrix;
    b.version = 0x00020000;
    b.name = name;
    b.type = type;
    b.dims = std::move(dims);
    b.elements = std::move(elements);
    return b;
}

FCamdataBuilder::Block& FCamdataBuilder::AddOpaque(uint32_t code, const std::string& name,
                                                   std::vector<uint8_t> data)
{
    Block& b = CurrentSection().blocks.emplace_back();
    b.code = code;
    b.version = 0x00010000;
    b.name = name;
    b.opaque = std::move(data);
    return b;
}

FCamdataBuilder::Block& FCamdataBuilder::AddInt16s(const std::string& name, std::vector<uint32_t> dims,
                                                   const std::vector<int16_t>& v)
{
    return AddMatrix(name, kCamdataInt16, std::move(dims), LittleEndianBytes(v));
}

FCamdataBuilder::Block& FCamdataBuilder::AddInt32s(const std::string& name, std::vector<uint32_t> dims,
                                                   const std::vector<int32_t>& v)
{
    return AddMatrix(name, kCamdataInt32, std::move(dims), LittleEndianBytes(v));
}

FCamdataBuilder::Block& FCamdataBuilder::AddUInt32s(const std::string& name, std::vector<uint32_t> dims,
                                                    const std::vector<uint32_t>& v)
{
    return AddMatrix(name, kCamdataUInt32, std::move(dims), LittleEndianBytes(v));
}

FCamdataBuilder::Block& FCamdataBuilder::AddFloats(const std::string& name, std::vector<uint32_t> dims,
                                                   const std::vector<float>& v)
{
    return AddMatrix(name, kCamdataFloat, std::move(dims), LittleEndianBytes(v));
}

FCamdataBuilder::Block& FCamdataBuilder::AddInt64s(const std::string& name, std::vector<uint32_t> dims,
                                                   const std::vector<int64_t>& v)
{
    return AddMatrix(name, kCamdata64Bit, std::move(dims), LittleEndianBytes(v));
}

FCamdataBuilder::Block& FCamdataBuilder::AddUInt8s(const std::string& name, std::vector<uint32_t> dims,
                                                   const std::vector<uint8_t>& v)
{
    return AddMatrix(name, kCamdataUInt8, std::move(dims), v);
}

FCamdataBuilder::Block& FCamdataBuilder::AddUInt16s(const std::string& name, std::vector<uint32_t> dims,
                                                    const std::vector<uint16_t>& v)
{
    return AddMatrix(name, kCamdataUInt16, std::move(dims), LittleEndianBytes(v));
}

void FCamdataBuilder::WriteBlock(std::vector<uint8_t>& out, const Block& b)
{
    const bool be = m_options.bigEndian;
    const size_t start = out.size();
    out.resize(start + 20);

    const size_t nameOffset = out.size() - start;
    out.insert(out.end(), b.name.begin(), b.name.end());
    out.push_back(0);
    PadTo(out, start, kAlign);

    const size_t dataOffset = out.size() - start;
    if (b.code == kCodePropList) {
        Append32(out, b.propCount.value_or(static_cast<uint32_t>(b.props.size())), be);
        const size_t stringAreaAt = out.size();
        Append32(out, 0, be);
        const size_t pairsAt = out.size();
        out.resize(out.size() + 8 * b.props.size());
        const size_t stringArea = out.size() - start;
        Put32(out, stringAreaAt, b.stringAreaOffset.value_or(static_cast<uint32_t>(stringArea)), be);
        for (size_t k = 0; k < b.props.size(); ++k) {
            Put32(out, pairsAt + 8 * k, static_cast<uint32_t>(out.size() - start - stringArea), be);
            out.insert(out.end(), b.props[k].first.begin(), b.props[k].first.end());
            out.push_back(0);
            Put32(out, pairsAt + 8 * k + 4, static_cast<uint32_t>(out.size() - start - stringArea), be);
            out.insert(out.end(), b.props[k].second.begin(), b.props[k].second.end());
            out.push_back(0);
        }
    } else if (b.code == kCodeMatrix) {
        Append32(out, static_cast<uint32_t>(b.type), be);
        Append32(out, b.dimCount.value_or(static_cast<uint32_t>(b.dims.size())), be);
        const size_t elementOffsetAt = out.size();
        Append32(out, 0, be);
        for (uint32_t d : b.dims) {
            Append32(out, d, be);
            Append32(out, 0, be);
            Append32(out, 0, be);
        }
        PadTo(out, start, kAlign);
        Put32(out, elementOffsetAt, b.elementOffset.value_or(static_cast<uint32_t>(out.size() - start)), be);
        const uint32_t width = ElementBytes(b.type);
        for (size_t k = 0; k < b.elements.size(); k += width)
            for (uint32_t i = 0; i < width && k + i < b.elements.size(); ++i)
                out.push_back(b.elements[be ? k + width - 1 - i : k + i]);
    } else {
        out.insert(out.end(), b.opaque.begin(), b.opaque.end());
    }
    out.resize(out.size() + b.padding);
    PadTo(out, start, kAlign);
    out.insert(out.end(), b.tail.begin(), b.tail.end());
    PadTo(out, start, kAlign);

    const size_t size = out.size() - start;
    Put32(out, start, b.code, be);
    Put32(out, start + 4, b.version, be);
    Put32(out, start + 8, b.size.value_or(static_cast<uint32_t>(size)), be);
    Put32(out, start + 12, b.nameOffset.value_or(static_cast<uint32_t>(nameOffset)), be);
    Put32(out, start + 16, b.dataOffset.value_or(static_cast<uint32_t>(dataOffset)), be);
    m_placements.push_back({b.name, b.code, start, size, start + dataOffset});
}

std::vector<uint8_t> FCamdataBuilder::Build()
{
    const bool be = m_options.bigEndian;
    std::vector<uint8_t> out;
    m_placements.clear();
    if (m_options.bare) {
        for (const Block& b : m_sections.front().blocks)
            WriteBlock(out, b);
        out.insert(out.end(), m_options.trailing.begin(), m_options.trailing.end());
        return out;
    }

    Append32(out, m_options.magic.value_or(kCodeFile), be);
    Append32(out, m_options.version, be);
    Append32(out, m_options.firstSectionOffset.value_or(28), be);
    for (int k = 0; k < 4; ++k)
        Append32(out, 0, be);

    for (const Section& s : m_sections) {
        const size_t start = out.size();
        out.resize(start + 20);
        // Blocks start on 8-byte boundaries of the buffer.
        while (out.size() % kAlign != 0)
            out.push_back(0);
        const size_t firstBlock = out.size() - start;
        for (const Block& b : s.blocks)
            WriteBlock(out, b);
        const size_t size = out.size() - start;
        Put32(out, start, s.code.value_or(kCodeSection), be);
        Put32(out, start + 4, s.version.value_or(0x00010000), be);
        Put32(out, start + 8, s.size.value_or(static_cast<uint32_t>(size)), be);
        Put32(out, start + 12, 0, be);
        Put32(out, start + 16, s.firstBlockOffset.value_or(static_cast<uint32_t>(firstBlock)), be);
    }
    out.insert(out.end(), m_options.trailing.begin(), m_options.trailing.end());
    return out;
}

void AddPlausibleCalibration(FCamdataBuilder& b, int width, int height)
{
    const int32_t w = width;
    const int32_t h = height;

    // Geometry, sensor coordinates with inclusive right and bottom.
    b.AddRect("KeepImageArea", 0, 0, w - 1, h - 1);
    b.AddRect("ActiveImageArea", 16, 12, w - 17, h - 13);
    b.AddRect("DarkShieldTop", 16, 2, w - 17, 9);
    b.AddRect("DarkShieldBottom", 16, h - 10, w - 17, h - 3);
    b.AddUInt32s("DarkShieldColRange", {2, 2},
                 {2, 10, static_cast<uint32_t>(w - 11), static_cast<uint32_t>(w - 3)});
    b.AddUInt32s("RawOffsetSourceRows", {3}, {2, 9, 1});
    b.AddUInt32("RawOffsetFilterShift", 4);

    // Linearisation and levels: identity over 12 bits.
    std::vector<int16_t> lut(3 * 4096);
    for (int c = 0; c < 3; ++c)
        for (int i = 0; i < 4096; ++i)
            lut[c * 4096 + i] = static_cast<int16_t>(i);
    b.AddInt16s("LinLUTs", {3, 4096}, lut);
    b.AddFloat("LinLUT_ReductionFactor", 0.0f);
    b.AddInt16s("RawSaturationLevel", {3}, {4000, 4000, 4000});
    b.AddInt16s("SaturationLevel", {3}, {3900, 3900, 3900});

    // Colour: the camera is linear sRGB, so the neutral is (1, 1, 1).
    const std::vector<float> srgbToXyz = {0.4124f, 0.3576f, 0.1805f, 0.2126f, 0.7152f,
                                          0.0722f, 0.0193f, 0.1192f, 0.9505f};
    b.AddFloats("CamToXYZ", {3, 3}, srgbToXyz);
    b.AddFloats("CamToXYZ_Flash", {3, 3}, srgbToXyz);
    b.AddFloats("CamToXYZ_Daylight", {3, 3}, srgbToXyz);
    std::vector<float> tungsten = srgbToXyz;
    const float tungstenGain[3] = {0.55f, 1.0f, 2.1f};
    for (int i = 0; i < 3; ++i)
        for (int j = 0; j < 3; ++j)
            tungsten[3 * i + j] *= tungstenGain[j];
    b.AddFloats("CamToXYZ_Tungsten", {3, 3}, tungsten);
    b.AddFloats("WBCorr_Tungsten", {3, 3}, {1, 0, 0, 0, 1, 0, 0, 0, 1});
    b.AddFloatRGB("RGBNeutral", 1, 1, 1);
    b.AddFloatRGB("AutoRGBNeutral", 1, 1, 1);
    b.AddFloatRGB("CustomRGBNeutral", 1, 1, 1);
    b.AddPropertyList("WhiteBalanceIlluminants", {{"Auto", "CamToXYZ_Daylight"},
                                                  {"Daylight", "CamToXYZ_Daylight"},
                                                  {"Tungsten", "CamToXYZ_Tungsten"},
                                                  {"Flash", "CamToXYZ_Flash"},
                                                  {"Custom", "CamToXYZ_Daylight"}});
    b.AddPropertyList("WhiteBalanceCorrections", {{"Tungsten", "WBCorr_Tungsten"}});
    b.AddUInt32("CCMatrix_Flag", 1);
    b.AddFloats("PostPolyMatrix", {3, 9}, std::vector<float>(27, 0.0f));
    b.AddFloatRGB("ColorDQCamRGB", 0, 0, 0);

    // Spatial gain: flat.
    b.AddFloats("SpatialGain", {9, 13, 3}, std::vector<float>(9 * 13 * 3, 1.0f));

    // Row and drift correction.
    b.AddFloat("ColumnFilter", 0.0f);
    b.AddFloatRGB("ColumnFilterRGB", 0, 0, 0);
    b.AddFloatRGB("ColumnFilterSquareRGB", 0, 0, 0);
    b.AddFloat("SegmentCapacitance", 0.0f);
    b.AddFloat("SegmentChargeFeedThrough", 0.0f);
    b.AddInt32("SegmentBoundaryInterval", 0);
    b.AddFloat("RowCorrectionGain", 0.8f);
    b.AddFloat("RowCorrectionScale", 16.0f);
    b.AddUInt16("UseColorAverageRowOffset", 1);
    b.AddUInt16("UseSlopeInDrift", 1);
    b.AddUInt32("UsePreComputedDrift", 0);
    b.AddUInt32("EnableMovieDriftCorrection", 0);
    b.AddFloats("DarkDrift", {2, 3, 2}, std::vector<float>(12, 0.0f));
    b.AddFloats("RawDrift", {2, 3, 2}, std::vector<float>(12, 0.0f));

    // ISO, exposure, dark gain and flare.
    b.AddFloat("CaptureISO", 100.0f);
    b.AddFloat("SensorISO", 100.0f);
    b.AddFloat("CaptureShutter", 8000.0f);
    b.AddFloat("MaxConstrainTime", 0.5f);
    b.AddFloatRGB("DarkGainFactor", 0, 0, 0);
    b.AddFloatRGB("DarkGainScale", 0, 0, 0);
    b.AddFloatRGB("DarkNormalOffset", 0, 0, 0);
    b.AddFloatRGB("FlareFactor", 0.002f, 0.002f, 0.002f);

    // Bad pixels, (row << 20) | (column << 8) | neighbour mask, inside the active area.
    auto badPixel = [](uint32_t row, uint32_t col, uint32_t mask) { return (row << 20) | (col << 8) | mask; };
    const uint32_t r0 = static_cast<uint32_t>(h / 3);
    const uint32_t c0 = static_cast<uint32_t>(w / 3);
    b.AddUInt32s("BadPixels", {5},
                 {badPixel(r0, c0, 0x18), badPixel(r0 + 7, c0 + 11, 0x42), badPixel(r0 + 20, c0 + 5, 0xFF),
                  badPixel(2 * r0, 2 * c0, 0x18), badPixel(2 * r0 + 3, c0 + 40, 0x42)});
    b.AddUInt8s("BPBadness", {5}, {200, 150, 60, 255, 20});
    b.AddUInt32s("BadPixThreshLevels", {2}, {128, 30});
    b.AddFloats("BadPixThreshTimes", {2}, {2.0f, 10.0f});
    b.AddUInt32("DespeckleExpTimeThresh", 150000);

    // Red sharpening off, chroma filters on.
    b.AddFloat("RedSharpen", 0.0f);
    b.AddInt32("RedLeftWeight", 2048);
    b.AddInt32("RedRightWeight", 0);
    b.AddFloat("ChromaBlur", 150.0f);
    b.AddUInt16("ChromaSumShift", 3);
    b.AddFloat("SpatialDQ", 20.0f);
    b.AddFloatRGB("ChromaDQ", 20, 16, 24);

    // Noise reduction: engine defaults, one iteration.
    for (const char* key :
         {"FIR_ProportionLocalMeanRef", "FIR_ProportionLocalMeanEdgeRef",
          "FIR_ProportionLocalMeanImgWithEdgeRef", "FIR_Locality", "FIR_SigmoidOffset",
          "FIR_ScaleFactorEdgeRef", "FIR_ScaleFactorLocalMeanEdgeRef", "FIR_EdgeMapExponent"})
        b.AddFloat(key, 0.0f);
    b.AddUInt16("FIR_DisableStep", 0);
    b.AddUInt16("FIR_Iterations", 1);

    // Stage 3 of older models, long exposures, control.
    b.AddFloat("GreenWeight", 0.001f);
    b.AddInt32("GreenHighLimit", 200);
    b.AddInt32("GreenLowLimit", -120);
    b.AddUInt32("BulbFrameCount", 0);
    b.AddInt32s("BulbAccumOffset", {3}, {4095, 4095, 4095});
    b.AddInt32s("BulbAccumOffsetN", {3}, {4095, 4095, 4095});
    b.AddFloat("BulbCurvatureOffset", 0.0f);
    b.AddFloatRGB("BulbCurvatureFactor", 0, 0, 0);
    b.AddUInt32("SkipStepFlags", 0);
}

std::vector<uint8_t> BuildPlausibleCamdata(int width, int height, bool bigEndian)
{
    FCamdataBuilder builder;
    builder.GetOptions().bigEndian = bigEndian;
    AddPlausibleCalibration(builder, width, height);
    return builder.Build();
}
