#pragma once

// The engine's handlers, callable without the worker thread (benchmarks, tests). Each
// checks its inputs, does its work on up to `threads` threads with output independent of
// that number, and returns the request's final state (kCompleted, or kCancelled for a
// stage that saw the cancel byte). Failures are exceptions, which the worker turns into
// the request's error.

#include <cstdint>
#include <functional>

#include "FColorMatrix.h"
#include "FPixmap.h"
#include "FWideString.h"

class FResampleKernelCache;
class FIPERequestStage1;
class FIPERequestStage2;
class FIPERequestStage3;
class FIPERequestStage4;
class FIPERequestGenerateToneLUT;
class FIPERequestCropSizeRotate;
class FIPERequestRotate;
class FIPERequestStreamOutput;

namespace IPEngineStages
{

int ProcessStage1(FIPERequestStage1* request, int threads);
int ProcessStage2(FIPERequestStage2* request, int threads);
int ProcessStage3(FIPERequestStage3* request, int threads);
// With filter tables kept by the caller across several calls of one request.
int ProcessStage3(FIPERequestStage3* request, int threads, FResampleKernelCache& kernels);
int GenerateToneLUT(FIPERequestGenerateToneLUT* request);
int ProcessStage4(FIPERequestStage4* request, int threads);
// Stage 4's output matrix: the output space's own for older models unless the skip flags
// switch it off (bit 0x40000); otherwise only the saturation.
FColorMatrix Stage4OutputMatrix(int colorSpace, double saturation, bool olderModel, uint32_t skipFlags);
// Strips rendered on up to `threads` threads at once, written in order as they complete.
int StreamOutput(FIPERequestStreamOutput* request, int threads);
int CropSizeRotateRequest(FIPERequestCropSizeRotate* request);
int RotateRequest(FIPERequestRotate* request);

// Rows [0, rows) in bands over up to `threads` threads; an exception of a band is rethrown
// on the caller's thread once every band has ended (the lowest band's first).
void RunBands(int rows, int threads, const std::function<void(int first, int end)>& band);

// Faults in, on the pool, the fresh pages of an image a stage is about to write: on the
// engine's thread, which waits for the stage anyway, not on the one that posted it.
void TouchStageOutput(const FPixmap* pixmap);

// Ends a request with an error code other than the exceptions' own (the worker reports
// it as given).
struct FIPEStatusError {
    int m_iCode;
    const char* m_pText;
};

// Progress mark of stage 2 before `step` (0 to 14).
double Stage2ProgressMark(int step);
// The dump file of a step name: the base path less its last four characters, "-", the
// name and ".tif". False (and nothing) for "DoNotDump".
bool MakeDumpPath(const char* stepName, const FWideString& base, FWideString& path);
// The working image as a 48-bit TIFF, each value v written as v + 32768.
void DumpImage(const FPixmap48SRGB& image, const FWideString& path);

// Throws the assertion's FException unless the test held.
void Check(bool test, int line, const char* text);

} // namespace IPEngineStages

#define IPE_CHECK(test, text) IPEngineStages::Check((test), __LINE__, text)
