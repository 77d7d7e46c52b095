#include "FCamdataAccessors.h"

#include <limits>
#include <new>

#include "FCamdata.h"

namespace
{

// A matrix of `type` and exactly the given shape.
template <size_t N>
const FCamdataMatrix* Find(const char* name, const FCamdata& camdata, int32_t type,
                           const uint32_t (&shape)[N])
{
    return camdata.GetMatrix(name, type, N, shape);
}

const FCamdataMatrix* FindVector(const char* name, const FCamdata& camdata, int32_t type)
{
    return camdata.GetMatrix(name, type, 1, nullptr);
}

template <typename T>
T* GetArray(const char* name, const FCamdata& camdata, int32_t type, uint32_t& count)
{
    const FCamdataMatrix* m = FindVector(name, camdata, type);
    if (m == nullptr)
        return nullptr;
    count = m->m_dimSizes[0];
    return m->GetData<T>();
}

bool FitsInt32(uint32_t v)
{
    return v <= static_cast<uint32_t>(std::numeric_limits<int32_t>::max());
}

} // namespace

uint8_t* GetCamdataByteArray(const char* name, const FCamdata& camdata, uint32_t& count)
{
    return GetArray<uint8_t>(name, camdata, kCamdataUInt8, count);
}

uint32_t* GetCamdataUIntArray(const char* name, const FCamdata& camdata, uint32_t& count)
{
    return GetArray<uint32_t>(name, camdata, kCamdataUInt32, count);
}

float* GetCamdataFloatArray(const char* name, const FCamdata& camdata, uint32_t& count)
{
    return GetArray<float>(name, camdata, kCamdataFloat, count);
}

FColorLUT* GetCamdataColorLUT(const char* name, const FCamdata& camdata)
{
    const FCamdataMatrix* m = camdata.GetMatrix(name, kCamdataInt16, 2, nullptr);
    if (m == nullptr || m->m_dimSizes[0] != 3)
        return nullptr;
    // An empty table would have mask -1 and reach outside the camera data.
    const uint32_t n = m->m_dimSizes[1];
    if (n == 0 || !FitsInt32(n))
        return nullptr;
    int16_t* red = m->GetData<int16_t>();
    return new (std::nothrow)
        FColorLUT(red, red + n, red + 2 * static_cast<size_t>(n), static_cast<int32_t>(n), false);
}

void GetCamdataColorMatrix(FColorMatrix& out, const char* name, const FCamdata& camdata)
{
    out.Clear();
    const FCamdataMatrix* m = Find(name, camdata, kCamdataFloat, {3, 3});
    if (m == nullptr)
        return;
    const float* f = m->GetData<float>();
    for (int i = 0; i < 3; ++i)
        for (int j = 0; j < 3; ++j)
            out.m[i][j] = f[3 * i + j];
}

FCamdataGainTable* GetCamdataGainTable(const char* name, const FCamdata& camdata)
{
    const FCamdataMatrix* m = camdata.GetMatrix(name, kCamdataFloat, 3, nullptr);
    if (m == nullptr || m->m_dimSizes[2] != 3 || !FitsInt32(m->m_dimSizes[0]) || !FitsInt32(m->m_dimSizes[1]))
        return nullptr;
    FCamdataGainTable* table = new (std::nothrow) FCamdataGainTable;
    if (table == nullptr)
        return nullptr;
    table->m_pData = m->GetData<float>();
    table->m_iColumns = static_cast<int32_t>(m->m_dimSizes[1]);
    table->m_iRows = static_cast<int32_t>(m->m_dimSizes[0]);
    return table;
}

void GetCamdataPolyMatrix(float out[27], const char* name, const FCamdata& camdata)
{
    const FCamdataMatrix* m = Find(name, camdata, kCamdataFloat, {3, 9});
    for (int k = 0; k < 27; ++k)
        out[k] = m == nullptr ? 0.0f : m->GetData<float>()[k];
}

float GetCamdataFloat(const char* name, const FCamdata& camdata)
{
    const FCamdataMatrix* m = Find(name, camdata, kCamdataFloat, {1});
    return m == nullptr ? 0.0f : *m->GetData<float>();
}

int32_t GetCamdataInt(const char* name, const FCamdata& camdata)
{
    const FCamdataMatrix* m = Find(name, camdata, kCamdataInt32, {1});
    return m == nullptr ? 0 : *m->GetData<int32_t>();
}

uint16_t GetCamdataUShort(const char* name, const FCamdata& camdata, bool* found)
{
    const FCamdataMatrix* m = Find(name, camdata, kCamdataUInt16, {1});
    if (found != nullptr)
        *found = m != nullptr;
    return m == nullptr ? 0 : *m->GetData<uint16_t>();
}

uint32_t GetCamdataUInt(const char* name, const FCamdata& camdata)
{
    const FCamdataMatrix* m = Find(name, camdata, kCamdataUInt32, {1});
    return m == nullptr ? 0 : *m->GetData<uint32_t>();
}

void GetCamdataFloatRGB(FDoubleRGB& out, const char* name, const FCamdata& camdata)
{
    GetCamdataFloatRGBOr(out, name, camdata, FDoubleRGB(0.0, 0.0, 0.0));
}

void GetCamdataFloatRGBOr(FDoubleRGB& out, const char* name, const FCamdata& camdata,
                          const FDoubleRGB& defaultValue)
{
    const FCamdataMatrix* m = Find(name, camdata, kCamdataFloat, {3});
    if (m == nullptr) {
        out = defaultValue;
        return;
    }
    const float* f = m->GetData<float>();
    out.Set(f[0], f[1], f[2]);
}

void GetCamdataShortRGB(FIntRGB& out, const char* name, const FCamdata& camdata)
{
    const FCamdataMatrix* m = Find(name, camdata, kCamdataInt16, {3});
    if (m == nullptr) {
        out.Clear();
        return;
    }
    const int16_t* s = m->GetData<int16_t>();
    out.Set(s[0], s[1], s[2]);
}

void GetCamdataIntRGB(FIntRGB& out, const char* name, const FCamdata& camdata)
{
    const FCamdataMatrix* m = Find(name, camdata, kCamdataInt32, {3});
    if (m == nullptr) {
        out.Clear();
        return;
    }
    const int32_t* s = m->GetData<int32_t>();
    out.Set(s[0], s[1], s[2]);
}

void GetCamdataRect(FRect& out, const char* name, const FCamdata& camdata)
{
    const FCamdataMatrix* m = Find(name, camdata, kCamdataInt32, {4});
    if (m == nullptr) {
        out.Clear();
        return;
    }
    // Stored inclusive; FRect is exclusive. Unsigned addition keeps 0x7FFFFFFF defined.
    const int32_t* e = m->GetData<int32_t>();
    out.Set(e[0], e[1], static_cast<int32_t>(static_cast<uint32_t>(e[2]) + 1u),
            static_cast<int32_t>(static_cast<uint32_t>(e[3]) + 1u));
}

void GetCamdataDriftCoefficients(double out[12], const char* name, const FCamdata& camdata)
{
    const FCamdataMatrix* m = Find(name, camdata, kCamdataFloat, {2, 3, 2});
    // f[set][channel][coefficient] regrouped as one triple per (set, coefficient).
    int k = 0;
    for (int set = 0; set < 2; ++set)
        for (int coefficient = 0; coefficient < 2; ++coefficient)
            for (int channel = 0; channel < 3; ++channel)
                out[k++] = m == nullptr ? 0.0 : m->GetData<float>()[set * 6 + channel * 2 + coefficient];
}
