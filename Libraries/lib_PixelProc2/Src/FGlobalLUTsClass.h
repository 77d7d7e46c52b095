#pragma once

#include "FIntRGB.h"
#include "FLUT.h"

class FMutex;

// The process-wide lookup tables, built once on first use and shared read-only by every
// image-processing thread: the cube-root and cube tables (65536 entries, indexed by a
// signed Q12 value masked to 16 bits, entries Q12) and a cache of odd, soft-limiting
// tanh tables keyed by exact amplitude and scale triples.
//
// Every getter takes one mutex, waiting at most 100 ms; when it cannot (time-out, or the
// calling thread already holds it) it throws FExceptionPixelProc2
// "FGlobalLUTsClass: error acquiring MUTEX" and builds nothing. Tables handed out are
// never changed, rebuilt or released: the object lives until the process ends, so a
// worker still running at exit never reads freed tables.
class FGlobalLUTsClass
{
public:
    static const FLUT* GetCubeRootLUT();
    static const FLUT* GetCubeLUT();
    // Amplitudes and scales must be positive and finite, else FExceptionPixelProc2.
    static const FColorLUT* GetTanhLUTs(const FDoubleRGB& amplitude, const FDoubleRGB& scale);

    // Table size GetTanhLUTs uses for a pair: 512, 1024, 2048, 4096 or 8192.
    static int TanhTableSize(const FDoubleRGB& amplitude, const FDoubleRGB& scale);

    // The one mutex; exposed so that tests can hold it.
    static FMutex& GetMutex();

    static constexpr int kMutexWaitMs = 100;
    static constexpr int kCubeTableSize = 0x10000;

    FGlobalLUTsClass(const FGlobalLUTsClass&) = delete;
    FGlobalLUTsClass& operator=(const FGlobalLUTsClass&) = delete;

private:
    FGlobalLUTsClass();
    ~FGlobalLUTsClass() = delete;
    static FGlobalLUTsClass& Instance();

    struct Impl;
    Impl* m_pImpl;
};
