// Every stage-2 correction on a small image with parameters taken from the input, as a
// crafted camera calibration could give them: no crash, no undefined behaviour, and only
// the documented exceptions.
#include <cstdint>
#include <cstring>
#include <vector>

#include "CalculateDrift.h"
#include "ChromaBlur.h"
#include "CorrectBadPixels.h"
#include "CorrectRowSegments.h"
#include "Despeckle.h"
#include "FCamdataAccessors.h"
#include "FException.h"
#include "FGlobalLUTsClass.h"
#include "NeighborizeOutliers.h"
#include "RedSharpenRow.h"

namespace
{

class Reader
{
public:
    Reader(const uint8_t* data, size_t size) : m_data(data), m_size(size) {}

    template <typename T>
    T Get()
    {
        T v{};
        uint8_t bytes[sizeof(T)] = {};
        for (size_t i = 0; i < sizeof(T); ++i)
            bytes[i] = m_pos < m_size ? m_data[m_pos++] : 0;
        std::memcpy(&v, bytes, sizeof(T));
        return v;
    }
    uint8_t Byte() { return Get<uint8_t>(); }
    int32_t Small() { return static_cast<int8_t>(Byte()); }
    double Float() { return Get<float>(); }
    FDoubleRGB Triple() { return {Float(), Float(), Float()}; }

private:
    const uint8_t* m_data;
    size_t m_size;
    size_t m_pos = 0;
};

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    Reader r(data, size);
    const int cols = 1 + r.Byte() % 40;
    const int rows = 1 + r.Byte() % 40;
    std::vector<int16_t> pixels(3 * static_cast<size_t>(cols) * rows);
    for (auto& v : pixels)
        v = r.Get<int16_t>();
    const std::vector<int16_t> original = pixels;
    FPixmapTemplate<FPixelClass48SRGB> image(pixels.data(), cols, rows, 0);

    FDriftPair pair;
    try {
        CalculateDriftPair(pair, &image, FRect(r.Small(), r.Small(), r.Small(), r.Small()),
                           FRect(r.Small(), r.Small(), r.Small(), r.Small()));
    } catch (const FExceptionPixelProc2&) {
    }
    FDrift rowDrift;
    InterpolateDriftForRow(rowDrift, pair, r.Byte(), r.Byte());

    double coefficients[12];
    for (double& c : coefficients)
        c = r.Float();
    const uint32_t offsetRows = r.Byte() % (rows + 2);
    std::vector<FDoubleRGB> offsets(offsetRows);
    CorrectRowSegments(offsets.data(), image, offsetRows, r.Small(), r.Small(), r.Small(), r.Small(),
                       r.Triple(), FDriftPair::FromCoefficients(coefficients), r.Float(), r.Float(),
                       FRect(r.Small(), r.Small(), r.Small(), r.Small()), r.Byte() & 1);

    FRowTransformSettings st;
    st.columnFilter = r.Triple();
    st.columnFilterSquare = r.Triple();
    st.segmentCapacitance = r.Triple();
    st.segmentFeedThrough = r.Triple();
    st.segmentInterval = r.Small();
    st.drift = FDriftPair::FromCoefficients(coefficients);
    st.flare = r.Triple();
    for (float& m : st.poly.m)
        m = static_cast<float>(r.Float());
    FCamdataGainTable gains;
    gains.m_iColumns = r.Byte() % 6;
    gains.m_iRows = 1 + r.Byte() % 4;
    std::vector<float> table(3 * static_cast<size_t>(gains.m_iColumns) * gains.m_iRows);
    for (float& g : table)
        g = static_cast<float>(r.Float());
    gains.m_pData = table.empty() ? nullptr : table.data();
    st.gainTable = &gains;
    st.gain = r.Triple();
    if (offsetRows == static_cast<uint32_t>(rows))
        st.rowOffsets = offsets.data();
    TransformImageFixed(image, st, 1 + r.Byte() % 3);
    FDoubleRGB polyOut;
    st.poly.Apply(polyOut, r.Triple());

    std::vector<uint32_t> list(r.Byte() % 8);
    for (auto& e : list)
        e = r.Get<uint32_t>();
    const uint32_t origin[2] = {r.Get<uint32_t>(), r.Get<uint32_t>()};
    CorrectBadPixels(image, list.data(), static_cast<uint32_t>(list.size()),
                     (r.Byte() & 1) ? origin : nullptr);
    const uint32_t levels[2] = {r.Get<uint32_t>(), r.Get<uint32_t>()};
    const float times[2] = {static_cast<float>(r.Float()), static_cast<float>(r.Float())};
    std::vector<uint8_t> badness(list.size(), r.Byte());
    SelectBadPixels(list.data(), static_cast<uint32_t>(list.size()), badness.data(),
                    static_cast<uint32_t>(badness.size()),
                    CalculateBadPixelThreshold(r.Float(), levels, 2, times, 2));

    FIntRGB low, clip, chroma;
    NeighborizeThresholds(r.Triple(), FIntRGB(r.Get<int16_t>(), r.Get<int16_t>(), r.Get<int16_t>()), low,
                          clip, chroma);
    NeighborizeImage(image, r.Byte() & 1, low, clip, chroma);
    for (int y = 1; y + 1 < rows; ++y) {
        NeighborizeRow(image.GetRow(y), image.GetRow(y - 1), image.GetRow(y + 1), cols, low, clip, chroma);
        NeighborizeRowExtended(image.GetRow(y), image.GetRow(y - 1), image.GetRow(y + 1), cols, low, clip,
                               chroma);
    }

    try {
        DespeckleImage(image, r.Byte() & 1);
    } catch (const FExceptionPixelProc2&) {
    }
    RedSharpenImage(image, r.Get<int32_t>(), r.Get<int32_t>(), r.Get<int32_t>(), 1 + r.Byte() % 3);

    // Two fixed tables keep the shared cache small.
    const FColorLUT* tanh =
        (r.Byte() & 1) ? FGlobalLUTsClass::GetTanhLUTs(FDoubleRGB(600, 480, 720), FDoubleRGB(1, 1, 1))
                       : FGlobalLUTsClass::GetTanhLUTs(FDoubleRGB(1200, 1200, 1200), FDoubleRGB(1, 1, 1));
    ChromaBlurImage(image, r.Float(), r.Float(), r.Float(), r.Get<int32_t>(), *tanh, r.Get<int32_t>());
    SpatialChromaDQImage(image, r.Get<int32_t>(), *tanh, r.Get<uint32_t>(), 1 + r.Byte() % 3);
    BinomialChromaDQImage(image, *tanh, r.Get<uint32_t>(), 1 + r.Byte() % 3);

    std::vector<uint8_t> display(4 * static_cast<size_t>(cols) * rows);
    for (size_t i = 0; i < display.size(); ++i)
        display[i] = static_cast<uint8_t>(original[i % original.size()]);
    FPixmapTemplate<FPixelClass32BGRA> shown(display.data(), cols, rows, 0);
    ChromaFilterDisplayImage(shown, 1200, 1200, 1200, r.Get<int32_t>());
    return 0;
}
