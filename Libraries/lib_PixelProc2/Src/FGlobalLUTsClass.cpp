#include "FGlobalLUTsClass.h"

#include <algorithm>
#include <cmath>
#include <memory>
#include <vector>

#include "FException.h"
#include "FMutex.h"

namespace
{

constexpr const char* kMutexError = "FGlobalLUTsClass: error acquiring MUTEX";
constexpr int kMinTanhSize = 512;
constexpr int kMaxTanhSize = 8192;

// Rounds half away from zero into int16 range.
int16_t RoundToInt16(double v)
{
    const double r = std::round(v);
    if (r >= 32767.0)
        return 32767;
    if (r <= -32768.0)
        return -32768;
    return static_cast<int16_t>(r);
}

void BuildCubeRoot(int16_t* e)
{
    const double eps = 0.2 * 0.2 * 0.2;
    for (int i = 0; i < FGlobalLUTsClass::kCubeTableSize; ++i)
        e[i] = static_cast<int16_t>(std::trunc(4096.0 * std::pow(i / 4096.0 + eps, 1.0 / 3.0) + 0.5));

    // The toe below zero: a parabola through 0 that meets the cube root at 0 with the same
    // value and slope.
    const double k = 1.0 / (3.0 * 0.2 * 0.2);
    for (int j = -4096; j <= -1; ++j) {
        const double a = (j / 4096.0 * k + 0.2) * 4096.0;
        double b = (0.2 * 4096.0 + a) * 0.5;
        if (b < 0.0)
            b = 0.0;
        const int16_t v = RoundToInt16(b * b / (0.2 * 4096.0));
        e[j & 0xFFFF] = v < 0 ? 0 : v;
    }
}

void BuildCube(int16_t* e)
{
    const double s = 0.2 * 0.2 * 3.0;
    const int limit = static_cast<int>(std::trunc(0.2 * 4096.0 + 0.5));
    for (int i = 0; i < limit; ++i)
        e[i] = RoundToInt16(4096.0 * s * (i / 4096.0 - 0.2));
    for (int i = limit; i < FGlobalLUTsClass::kCubeTableSize; ++i) {
        const double x = i / 4096.0;
        e[i] = RoundToInt16(4096.0 * (x * x * x - 0.2 * 0.2 * 0.2));
    }
    for (int i = 61440; i < FGlobalLUTsClass::kCubeTableSize; ++i)
        e[i] = 0;
}

bool IsPositiveFinite(double v)
{
    return std::isfinite(v) && v > 0.0;
}

void CheckTanhArguments(const FDoubleRGB& a, const FDoubleRGB& s)
{
    for (double v : {a.r, a.g, a.b, s.r, s.g, s.b})
        if (!IsPositiveFinite(v))
            throw FExceptionPixelProc2("FGlobalLUTsClass: tanh amplitudes and scales must be positive.");
}

double TanhStep(const FDoubleRGB& a, const FDoubleRGB& s)
{
    const double m = std::max(std::max(a.r / s.r, a.g / s.g), a.b / s.b);
    return 0.5 / m * 0.5;
}

struct TanhEntry {
    FDoubleRGB amplitude;
    FDoubleRGB scale;
    std::unique_ptr<int16_t[]> data[3];
    std::unique_ptr<FColorLUT> table;
};

} // namespace

struct FGlobalLUTsClass::Impl {
    FMutex mutex;
    std::unique_ptr<FLUT> cubeRoot;
    std::unique_ptr<FLUT> cube;
    std::unique_ptr<int16_t[]> cubeRootData;
    std::unique_ptr<int16_t[]> cubeData;
    std::vector<std::unique_ptr<TanhEntry>> tanhCache;
};

FGlobalLUTsClass::FGlobalLUTsClass() : m_pImpl(new Impl) {}

FGlobalLUTsClass& FGlobalLUTsClass::Instance()
{
    // Deliberately never destroyed: engine threads may still read the tables at exit.
    static FGlobalLUTsClass* instance = new FGlobalLUTsClass();
    return *instance;
}

FMutex& FGlobalLUTsClass::GetMutex()
{
    return Instance().m_pImpl->mutex;
}

const FLUT* FGlobalLUTsClass::GetCubeRootLUT()
{
    Impl& d = *Instance().m_pImpl;
    FMutexLock lock(d.mutex, kMutexWaitMs);
    if (!lock.IsLocked())
        throw FExceptionPixelProc2(kMutexError);
    if (!d.cubeRoot) {
        d.cubeRootData = std::make_unique<int16_t[]>(kCubeTableSize);
        BuildCubeRoot(d.cubeRootData.get());
        d.cubeRoot = std::make_unique<FLUT>(d.cubeRootData.get(), kCubeTableSize, false);
    }
    return d.cubeRoot.get();
}

const FLUT* FGlobalLUTsClass::GetCubeLUT()
{
    Impl& d = *Instance().m_pImpl;
    FMutexLock lock(d.mutex, kMutexWaitMs);
    if (!lock.IsLocked())
        throw FExceptionPixelProc2(kMutexError);
    if (!d.cube) {
        d.cubeData = std::make_unique<int16_t[]>(kCubeTableSize);
        BuildCube(d.cubeData.get());
        d.cube = std::make_unique<FLUT>(d.cubeData.get(), kCubeTableSize, false);
    }
    return d.cube.get();
}

int FGlobalLUTsClass::TanhTableSize(const FDoubleRGB& amplitude, const FDoubleRGB& scale)
{
    CheckTanhArguments(amplitude, scale);
    // Compared in double: a huge ratio must not overflow the integer count.
    const double n = std::trunc(6.2853 / TanhStep(amplitude, scale));
    for (int size = kMinTanhSize; size < kMaxTanhSize; size *= 2)
        if (n <= size)
            return size;
    return kMaxTanhSize;
}

const FColorLUT* FGlobalLUTsClass::GetTanhLUTs(const FDoubleRGB& amplitude, const FDoubleRGB& scale)
{
    const int size = TanhTableSize(amplitude, scale);
    const double step = TanhStep(amplitude, scale);
    const int half = size / 2;
    const int mask = size - 1;

    Impl& d = *Instance().m_pImpl;
    FMutexLock lock(d.mutex, kMutexWaitMs);
    if (!lock.IsLocked())
        throw FExceptionPixelProc2(kMutexError);
    for (const auto& e : d.tanhCache)
        if (e->amplitude == amplitude && e->scale == scale && e->table)
            return e->table.get();

    auto entry = std::make_unique<TanhEntry>();
    entry->amplitude = amplitude;
    entry->scale = scale;
    const double a[3] = {amplitude.r, amplitude.g, amplitude.b};
    const double s[3] = {scale.r, scale.g, scale.b};
    for (int c = 0; c < 3; ++c) {
        entry->data[c] = std::make_unique<int16_t[]>(size);
        int16_t* t = entry->data[c].get();
        for (int j = 0; j < half; ++j) {
            const double x = j * step;
            const double w = x < 3.1416 ? (1.0 + std::cos(x)) / 2.0 : 0.0;
            const double v = std::trunc(a[c] * std::tanh(j * s[c] / a[c]) * w + 0.5);
            t[j] = static_cast<int16_t>(std::min(v, 32767.0));
        }
        for (int j = -(half - 1); j <= -1; ++j)
            t[j & mask] = static_cast<int16_t>(-t[-j]);
        t[-half & mask] = t[(-half + 1) & mask];
    }
    entry->table = std::make_unique<FColorLUT>(entry->data[0].get(), entry->data[1].get(),
                                               entry->data[2].get(), size, false);
    const FColorLUT* result = entry->table.get();
    d.tanhCache.push_back(std::move(entry));
    return result;
}
