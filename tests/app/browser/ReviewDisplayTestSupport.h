#pragma once

// Shared pieces of the review display widget tests: images the view can hold,
// runs of a window "W" with the review widgets and a top-level PROBE "Probe",
// and reading drawn pixels.

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "FIPMImage.h"
#include "FPixmap.h"
#include "FUiColor.h"
#include "FUiTestApp.h"

class FGenericUiWindow;
class FProbeObject;

// A produced image over its own display pixels, counting the live ones so that
// tests see every reference returned.
class FTestImage : public FIPMImage
{
public:
    // Made with one reference, which the test holds; every pixel `fill`.
    FTestImage(int cols, int rows, const FUiColor& fill);
    ~FTestImage() override;

    FPixmap* GetPixmap() override { return m_pixmap.get(); }
    FPropList* GetProperties() override { return nullptr; }
    void SetProperties(FPropList*) override {}
    FIHistogram* GetHistogramPtr() override { return nullptr; }
    FIHistogram* GetHistogram() override { return nullptr; }
    uint32_t AddRef() override { return ++m_refs; }
    uint32_t Release() override;

    void SetPixel(int x, int y, const FUiColor& colour);
    uint32_t GetRefs() const { return m_refs; }
    static int GetLiveCount();

private:
    std::vector<uint8_t> m_pixels;
    std::unique_ptr<FPixmap> m_pixmap;
    uint32_t m_refs = 1;
};

// The skins the tests name: "eye.png" 16x16, "cursor.png" 16x16, "cursor8.png" 8x8,
// "marker.png" 5x5.
void WriteReviewSkins(FUiTestApp& run);

// A run of `body` inside window "W" (client dx x dy) with the review widgets and the
// widget library registered. `prepare` runs before the script is read.
std::unique_ptr<FUiTestApp> ReviewRun(const std::string& body, int dx, int dy,
                                      const std::function<void(FUiTestApp&)>& prepare = {});

FGenericUiWindow* ReviewWindow(FUiTestApp& run);
// A widget of the run's window by its short name, as its class.
template <class T>
T* ReviewWidget(FUiTestApp& run, const char* name)
{
    return dynamic_cast<T*>(run.GetApp()->GetUiRelay(FWideString((std::string("W.") + name).c_str())));
}
// The window draws what is waiting; then "r,g,b" of one of its pixels.
std::string DrawnPixel(FUiTestApp& run, int x, int y);
std::string Rgb(const FUiColor& colour);
FProbeObject* ReviewProbe();
