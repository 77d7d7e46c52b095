// A grey scene develops grey: every white balance whose neutral is the scene's light, in
// every output colour space, holds each grey surface within one level of R = G = B.

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <chrono>
#include <cstdlib>
#include <string>

#include "DevelopDriver.h"
#include "DevelopableRaw.h"
#include "DiskEngineTest.h"
#include "EngineTestSupport.h"
#include "FIPMImage.h"
#include "FIPManager.h"
#include "FIPManagerRequest.h"
#include "FPixmap.h"
#include "FSyntheticCapture.h"
#include "RawTestFolder.h"

namespace
{

using namespace developtest;

constexpr int kCols = 256, kRows = 192;

// The largest channel difference over the grey surfaces: the ramp above the cards, the grey
// card and the white patch, each less a margin of four pixels for the filters' reach. The
// image shows the active area (16, 12 in from the capture's edges) scaled to its size; it
// is blue, green, red, pad.
int WorstCast(FPixmap& image, const FSyntheticCapture& capture)
{
    const FRect active(16, 12, capture.width - 16, capture.height - 12);
    const FRect& card = capture.greyCard;
    const FRect surfaces[] = {FRect(active.left, active.top, active.right, card.top), card,
                              capture.whitePatch};
    const double sx = double(image.GetCols()) / active.Width();
    const double sy = double(image.GetRows()) / active.Height();
    int worst = 0;
    for (const FRect& r : surfaces) {
        const int left = int((r.left - active.left) * sx) + 4, right = int((r.right - active.left) * sx) - 4;
        const int top = int((r.top - active.top) * sy) + 4, bottom = int((r.bottom - active.top) * sy) - 4;
        for (int y = top; y < bottom; ++y) {
            const uint8_t* row = image.GetRowAddress(y);
            for (int x = left; x < right; ++x) {
                const uint8_t* p = row + 4 * x;
                worst =
                    std::max({worst, std::abs(p[2] - p[1]), std::abs(p[1] - p[0]), std::abs(p[2] - p[0])});
            }
        }
    }
    return worst;
}

class NeutralScene : public DiskEngineTest
{
protected:
    // Develops a file made with `options` for the display; the cast over the grey surfaces.
    int Cast(const DevelopableRawOptions& options, const std::string& name, int colorSpace,
             const char* whiteBalance = nullptr)
    {
        const FWideString file = m_pFolder->Write(name, MakeDevelopableRaw(options));
        FIPManagerRequest req;
        PrepareProcessed(req, file, kCols, kRows, kDisplay);
        req.m_iColorSpace = colorSpace;
        if (whiteBalance != nullptr)
            req.m_usWhiteBalance = whiteBalance;
        EXPECT_TRUE(RunThroughPool(req, nullptr, std::chrono::seconds(60)));
        EXPECT_EQ(req.m_Async.GetState(), kCompleted) << req.m_Async.m_usErrorText.GetNarrow();
        if (req.m_Async.GetState() != kCompleted || req.m_pOutputImage == nullptr)
            return 255;
        FPixmap* image = req.m_pOutputImage->GetPixmap();
        EXPECT_EQ(image->GetCols(), kCols);
        return WorstCast(*image,
                         MakeSyntheticCapture(options.cols, options.rows, options.seed, options.light));
    }
};

DevelopableRawOptions Options(uint32_t seed)
{
    DevelopableRawOptions options;
    options.cols = kCols;
    options.rows = kRows;
    options.seed = seed;
    options.previewCols = {};
    return options;
}

TEST_F(NeutralScene, EveryWhiteBalanceKeepsGreysGrey)
{
    struct Case {
        const char* whiteBalance;
        std::array<double, 3> light;
        const char* aperture;
        const char* shutter;
    };
    // The tungsten illuminant's matrix has a camera neutral of (1/0.55, 1, 1/2.1). The
    // automatic estimate tints bright captures warm by design, so its scene is a dim one
    // (brightness value below 3.2) and one without exposure data.
    const Case cases[] = {
        {"Daylight", {1, 1, 1}, "8.0", "0.008"},    {"Flash", {1, 1, 1}, "8.0", "0.008"},
        {"Custom", {1, 1, 1}, "8.0", "0.008"},      {"Tungsten", {1, 0.55, 0.55 / 2.1}, "8.0", "0.008"},
        {"Auto", {1, 1, 1}, "2.0", "0.25"},         {"Auto", {1, 1, 1}, "", ""},
        {"As recorded", {1, 1, 1}, "8.0", "0.008"},
    };
    uint32_t seed = 500;
    for (const Case& c : cases) {
        DevelopableRawOptions options = Options(seed++);
        options.whiteBalance = c.whiteBalance;
        options.light = c.light;
        options.aperture = c.aperture;
        options.shutter = c.shutter;
        EXPECT_LE(Cast(options, "wb" + std::to_string(seed) + ".xxx", 2), 1)
            << c.whiteBalance << " at f/" << c.aperture << ", " << c.shutter << " s";
    }
    // A white balance chosen in the request over the one the capture recorded.
    DevelopableRawOptions options = Options(seed++);
    options.whiteBalance = "Auto";
    EXPECT_LE(Cast(options, "override.xxx", 2, "Daylight"), 1);
}

TEST_F(NeutralScene, EveryColourSpaceKeepsGreysGrey)
{
    // Space 0 passes XYZ through: its greys are the white point, not equal channels.
    for (int space = 1; space < 12; ++space) {
        DevelopableRawOptions options = Options(600 + space);
        options.whiteBalance = "Daylight";
        EXPECT_LE(Cast(options, "space" + std::to_string(space) + ".xxx", space), 1)
            << "colour space " << space;
    }
}

} // namespace
