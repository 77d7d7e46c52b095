#pragma once

// The sample folder the run command opens: raw files made from photographs by running the
// development backwards, a few generated test scenes, and one JPEG and one TIFF developed
// from them. Everything is made by our own fixture writers; no picture is stored in the
// repository.

#include <array>
#include <cstdint>
#include <string>
#include <vector>

namespace samples
{

// 8-bit sRGB pixels, rows packed.
struct RgbImage {
    int cols = 0;
    int rows = 0;
    std::vector<uint8_t> rgb;
};

// A photograph shipped by a Debian package (python3-skimage) under a licence that allows
// any use.
struct PhotoSource {
    const char* file;  // in the package's data folder
    const char* stem;  // of the raw file written from it
    const char* title; // the picture and its licence, for the report
};

const std::vector<PhotoSource>& Photographs();

// Where the package installs its pictures; RB_SAMPLE_PHOTOS replaces it (tests).
std::string PhotoFolder();

// Reads a PNG or JPEG file as 8-bit sRGB; grey and alpha are dropped to RGB.
bool ReadPhoto(const std::string& path, RgbImage& out, std::string& error);

// Camera counts above the dark level, per channel, that develop with the as-shot settings
// to the wanted sRGB colour in a flat area. Built from a measurement of the engine: a chart
// of camera colours on a grid is developed once and the measured response is inverted. The
// sample maker then develops each scene and corrects what depends on more than one pixel.
class DevelopInverse
{
public:
    static constexpr int kGrid = 17;    // nodes per axis of the measured chart
    static constexpr int kInverse = 33; // nodes per axis of the inverse table
    static constexpr double kMaxCounts = 3800.0;

    // Develops the chart through the manager pool, using `scratchFolder` for its raw file.
    bool Measure(const std::string& scratchFolder, std::string& error);
    // sRGB in [0, 1] per channel to counts above the dark level.
    std::array<double, 3> Counts(double r, double g, double b) const;
    // What the engine's flare estimate took off the chart, in counts; other scenes lose
    // their own amount.
    std::array<double, 3> ChartFlare() const { return m_chartFlare; }

private:
    std::array<double, 3> Forward(const std::array<double, 3>& u) const;

    std::vector<std::array<double, 3>> m_forward; // kGrid^3, sRGB 0..1 at u = node / (kGrid - 1)
    std::vector<std::array<double, 3>> m_inverse; // kInverse^3, u for sRGB = node / (kInverse - 1)
    std::array<double, 3> m_chartFlare{0, 0, 0};
};

// The generated chart ("chart.q7f"): a grey ramp over the top, a step wedge, and colour
// patches, as the sRGB picture it should develop to.
inline constexpr int kChartCols = 720;
inline constexpr int kChartRows = 480;
RgbImage ChartLook(int cols, int rows);

struct SampleReport {
    std::vector<std::string> written; // file names, in the order written
    std::vector<std::string> photoRaws;
    std::string skipped; // why the photographs were left out, empty when they were used
};

// Writes every sample into `folder` (created when missing) and ".complete" last; the raw
// files are the same bytes every time. False with a message on an error.
bool MakeSamples(const std::string& folder, SampleReport& report, std::string& error);

// Develops a raw file with its as-shot settings to 16-bit sRGB through the manager pool, at
// the size the loader reports (the whole sensor). The pool must be running.
bool DevelopAsShot(const std::string& rawPath, int& cols, int& rows, std::vector<uint16_t>& rgb,
                   std::string& error);

} // namespace samples
