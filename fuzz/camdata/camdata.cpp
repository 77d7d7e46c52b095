// Camera-data container: any bytes must end in FException or a usable object whose
// lookups stay inside the buffer.
#include <cstdint>
#include <cstring>
#include <memory>

#include "FCamdata.h"
#include "FCamdataAccessors.h"
#include "FException.h"
#include "FPropList.h"

namespace
{

const char* const kKeys[] = {"LinLUTs",        "CamToXYZ",      "SpatialGain",     "BadPixels",
                             "BPBadness",      "KeepImageArea", "RGBNeutral",      "RawSaturationLevel",
                             "PostPolyMatrix", "DarkDrift",     "CaptureISO",      "SegmentBoundaryInterval",
                             "ChromaSumShift", "SkipStepFlags", "BulbAccumOffset", "BadPixThreshTimes",
                             "Values",         "Opaque",        "Lights",          "a"};

volatile int64_t g_sink;

void Touch(const void* data, size_t bytes)
{
    const uint8_t* p = static_cast<const uint8_t*>(data);
    int64_t sum = 0;
    for (size_t i = 0; i < bytes; ++i)
        sum += p[i];
    g_sink = sum;
}

void Exercise(const FCamdata& c)
{
    for (const char* key : kKeys) {
        for (int32_t type = -1; type <= 7; ++type) {
            const FCamdataMatrix* m = c.GetMatrix(key, type, 0, nullptr);
            if (m == nullptr)
                continue;
            const size_t width =
                type == 0 || type == 6 ? 2 : (type == 5 ? 1 : (type == 4 ? 8 : (type < 0 ? 0 : 4)));
            Touch(m->m_pData, static_cast<size_t>(m->m_uElementCount) * width);
        }
        uint32_t count = 0;
        if (const float* f = GetCamdataFloatArray(key, c, count))
            Touch(f, count * sizeof(float));
        if (const uint8_t* b = GetCamdataByteArray(key, c, count))
            Touch(b, count);
        std::unique_ptr<FColorLUT> lut(GetCamdataColorLUT(key, c));
        if (lut)
            g_sink = lut->Lookup({-1, 0x7FFF, 12345}).r;
        std::unique_ptr<FCamdataGainTable> gain(GetCamdataGainTable(key, c));
        if (gain)
            Touch(gain->m_pData, static_cast<size_t>(gain->m_iRows) * gain->m_iColumns * 3 * sizeof(float));
        FColorMatrix matrix;
        GetCamdataColorMatrix(matrix, key, c);
        float poly[27];
        GetCamdataPolyMatrix(poly, key, c);
        double drift[12];
        GetCamdataDriftCoefficients(drift, key, c);
        FRect r;
        GetCamdataRect(r, key, c);
        FIntRGB t;
        GetCamdataShortRGB(t, key, c);
        GetCamdataIntRGB(t, key, c);
        g_sink = GetCamdataUShort(key, c) + GetCamdataInt(key, c) + GetCamdataUInt(key, c);
        FPropList list(nullptr, "camdata");
        c.GetPropertyList(key, &list);
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    // The parser swaps in place, so it works on a copy of exactly the input's size.
    std::unique_ptr<uint8_t[]> buffer(new uint8_t[size == 0 ? 1 : size]);
    if (size != 0)
        std::memcpy(buffer.get(), data, size);
    try {
        FCamdata camdata(size == 0 ? nullptr : buffer.get(), size);
        Exercise(camdata);
    } catch (const FException&) {
    }
    return 0;
}
