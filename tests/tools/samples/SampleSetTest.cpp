#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <unistd.h>

#include "DevelopDriver.h"
#include "FCache.h"
#include "FIPMImage.h"
#include "FIPManager.h"
#include "FIPManagerRequest.h"
#include "FPixmap.h"
#include "FPropList.h"
#include "SampleSet.h"

namespace fs = std::filesystem;

namespace
{

// Mean CIEDE2000 difference allowed between a photograph and its raw developed as shot.
// Measured means 1.83 (astronaut), 1.32 (cat), 2.16 (coffee), 1.85 (rocket); 95th
// percentiles 3.7 to 8.4. Most of it is fine texture that the engine's noise and chroma
// filters and its rescaling of the active area change, and colours out of the development's
// reach: black below about 4 of 255 and the brightest highlights. Re-measure after changes
// to the pipeline.
constexpr double kMaxMeanDeltaE = 2.6;
// The same for the flat areas of the generated chart; measured 0.27 (95th percentile 0.65).
constexpr double kMaxFlatMeanDeltaE = 0.6;
// Mean signed difference per channel, in 8-bit levels: a cast shows here first. Measured
// within +-0.65 for the photographs (the astronaut's black background, out of reach, lifts
// all three alike) and within +-0.06 for the chart's flat areas.
constexpr double kMaxChannelMeanLevels = 1.0;
constexpr double kMaxFlatChannelMeanLevels = 0.25;

struct Lab {
    double L, a, b;
};

Lab SrgbToLab(double r, double g, double b)
{
    auto lin = [](double v) { return v <= 0.04045 ? v / 12.92 : std::pow((v + 0.055) / 1.055, 2.4); };
    const double R = lin(r), G = lin(g), B = lin(b);
    const double X = (0.4124564 * R + 0.3575761 * G + 0.1804375 * B) / 0.95047;
    const double Y = 0.2126729 * R + 0.7151522 * G + 0.0721750 * B;
    const double Z = (0.0193339 * R + 0.1191920 * G + 0.9503041 * B) / 1.08883;
    auto f = [](double t) {
        return t > 216.0 / 24389.0 ? std::cbrt(t) : (24389.0 / 27.0 * t + 16.0) / 116.0;
    };
    return {116.0 * f(Y) - 16.0, 500.0 * (f(X) - f(Y)), 200.0 * (f(Y) - f(Z))};
}

double DeltaE2000(const Lab& p, const Lab& q)
{
    constexpr double kPi = 3.14159265358979323846;
    const double deg = kPi / 180.0;
    const double c1 = std::hypot(p.a, p.b), c2 = std::hypot(q.a, q.b);
    const double cm = (c1 + c2) / 2.0;
    const double cm7 = std::pow(cm, 7.0);
    const double G = 0.5 * (1.0 - std::sqrt(cm7 / (cm7 + std::pow(25.0, 7.0))));
    const double a1 = (1.0 + G) * p.a, a2 = (1.0 + G) * q.a;
    const double C1 = std::hypot(a1, p.b), C2 = std::hypot(a2, q.b);
    auto hue = [&](double a, double b) {
        if (a == 0.0 && b == 0.0)
            return 0.0;
        const double h = std::atan2(b, a) / deg;
        return h < 0.0 ? h + 360.0 : h;
    };
    const double h1 = hue(a1, p.b), h2 = hue(a2, q.b);
    const double dL = q.L - p.L;
    const double dC = C2 - C1;
    double dh = 0.0;
    if (C1 * C2 != 0.0) {
        dh = h2 - h1;
        if (dh > 180.0)
            dh -= 360.0;
        else if (dh < -180.0)
            dh += 360.0;
    }
    const double dH = 2.0 * std::sqrt(C1 * C2) * std::sin(dh * deg / 2.0);
    const double Lm = (p.L + q.L) / 2.0;
    const double Cm = (C1 + C2) / 2.0;
    double hm = h1 + h2;
    if (C1 * C2 != 0.0) {
        if (std::abs(h1 - h2) <= 180.0)
            hm = (h1 + h2) / 2.0;
        else
            hm = h1 + h2 < 360.0 ? (h1 + h2 + 360.0) / 2.0 : (h1 + h2 - 360.0) / 2.0;
    }
    const double T = 1.0 - 0.17 * std::cos((hm - 30.0) * deg) + 0.24 * std::cos(2.0 * hm * deg) +
                     0.32 * std::cos((3.0 * hm + 6.0) * deg) - 0.20 * std::cos((4.0 * hm - 63.0) * deg);
    const double dTheta = 30.0 * std::exp(-std::pow((hm - 275.0) / 25.0, 2.0));
    const double Cm7 = std::pow(Cm, 7.0);
    const double Rc = 2.0 * std::sqrt(Cm7 / (Cm7 + std::pow(25.0, 7.0)));
    const double Sl = 1.0 + 0.015 * (Lm - 50.0) * (Lm - 50.0) / std::sqrt(20.0 + (Lm - 50.0) * (Lm - 50.0));
    const double Sc = 1.0 + 0.045 * Cm;
    const double Sh = 1.0 + 0.015 * Cm * T;
    const double Rt = -std::sin(2.0 * dTheta * deg) * Rc;
    const double l = dL / Sl, c = dC / Sc, h = dH / Sh;
    return std::sqrt(l * l + c * c + h * h + Rt * c * h);
}

struct Comparison {
    std::vector<double> deltaE;
    double meanLevels[3] = {0, 0, 0}; // developed minus picture, in 8-bit levels
};

// CIEDE2000 and the mean signed difference per channel between each developed pixel and the
// picture sampled at the same place (the development spreads the active area over the
// sensor's size). With `flatRadius` > 0 only pixels whose picture neighbourhood of that
// radius is uniform count, so edges are left out.
Comparison CompareWithPicture(const samples::RgbImage& picture, int cols, int rows,
                              const std::vector<uint16_t>& developed, int flatRadius)
{
    const double sx = double(picture.cols) / cols, sy = double(picture.rows) / rows;
    auto px = [&](int x, int y, int c) {
        x = std::clamp(x, 0, picture.cols - 1);
        y = std::clamp(y, 0, picture.rows - 1);
        return picture.rgb[(size_t(y) * picture.cols + x) * 3 + c];
    };
    Comparison result;
    std::vector<double>& diffs = result.deltaE;
    diffs.reserve(size_t(cols) * rows);
    for (int y = 0; y < rows; ++y) {
        for (int x = 0; x < cols; ++x) {
            const double fx = std::clamp((x + 0.5) * sx - 0.5, 0.0, picture.cols - 1.0);
            const double fy = std::clamp((y + 0.5) * sy - 0.5, 0.0, picture.rows - 1.0);
            const int x0 = int(fx), y0 = int(fy);
            const double tx = fx - x0, ty = fy - y0;
            bool flat = true;
            for (int dy = -flatRadius; flat && dy <= flatRadius; ++dy)
                for (int dx = -flatRadius; flat && dx <= flatRadius; ++dx)
                    for (int c = 0; c < 3; ++c)
                        flat = flat && px(x0 + dx, y0 + dy, c) == px(x0, y0, c);
            if (!flat)
                continue;
            double want[3];
            for (int c = 0; c < 3; ++c)
                want[c] = ((px(x0, y0, c) * (1 - tx) + px(x0 + 1, y0, c) * tx) * (1 - ty) +
                           (px(x0, y0 + 1, c) * (1 - tx) + px(x0 + 1, y0 + 1, c) * tx) * ty) /
                          255.0;
            const uint16_t* got = developed.data() + (size_t(y) * cols + x) * 3;
            diffs.push_back(DeltaE2000(SrgbToLab(want[0], want[1], want[2]),
                                       SrgbToLab(got[0] / 65535.0, got[1] / 65535.0, got[2] / 65535.0)));
            for (int c = 0; c < 3; ++c)
                result.meanLevels[c] += 255.0 * (got[c] / 65535.0 - want[c]);
        }
    }
    for (double& m : result.meanLevels)
        m /= double(std::max<size_t>(diffs.size(), 1));
    return result;
}

void MeanAndP95(std::vector<double> diffs, double& mean, double& p95)
{
    mean = 0.0;
    for (double d : diffs)
        mean += d;
    mean /= double(std::max<size_t>(diffs.size(), 1));
    std::sort(diffs.begin(), diffs.end());
    p95 = diffs.empty() ? 0.0 : diffs[size_t(0.95 * double(diffs.size() - 1))];
}

std::vector<uint8_t> FileBytes(const fs::path& path)
{
    std::ifstream file(path, std::ios::binary);
    return std::vector<uint8_t>(std::istreambuf_iterator<char>(file), {});
}

class SampleSetTest : public ::testing::Test
{
protected:
    static void SetUpTestSuite()
    {
        s_folder = new fs::path(fs::temp_directory_path() /
                                ("rb-samples-test-" + std::to_string(static_cast<long>(::getpid()))));
        fs::remove_all(*s_folder);
        GetGlobalCache()->SetSize(FCache::kDefaultLimit);
        SetIPManagerPoolSize(kDefaultIPManagerPoolSize);
        s_report = new samples::SampleReport;
        s_error = new std::string;
        s_made = samples::MakeSamples(s_folder->string(), *s_report, *s_error);
    }
    static void TearDownTestSuite()
    {
        SetIPManagerPoolSize(0);
        std::error_code ec;
        fs::remove_all(*s_folder, ec);
        delete s_folder;
        delete s_report;
        delete s_error;
    }
    void SetUp() override { ASSERT_TRUE(s_made) << *s_error; }

    static fs::path* s_folder;
    static samples::SampleReport* s_report;
    static std::string* s_error;
    static bool s_made;
};

fs::path* SampleSetTest::s_folder = nullptr;
samples::SampleReport* SampleSetTest::s_report = nullptr;
std::string* SampleSetTest::s_error = nullptr;
bool SampleSetTest::s_made = false;

TEST_F(SampleSetTest, WritesScenesJpegTiffAndCompleteWithoutLeftovers)
{
    const std::vector<std::string>& written = s_report->written;
    for (const char* name : {"chart.q7f", "tungsten-cast.q7f", "chart.tif"})
        EXPECT_NE(std::find(written.begin(), written.end(), name), written.end()) << name;
    EXPECT_TRUE(std::any_of(written.begin(), written.end(), [](const std::string& n) {
        return n.size() > 4 && n.substr(n.size() - 4) == ".jpg";
    }));
    EXPECT_TRUE(fs::exists(*s_folder / ".complete"));
    for (const fs::directory_entry& entry : fs::directory_iterator(*s_folder)) {
        const std::string name = entry.path().filename().string();
        EXPECT_TRUE(name == ".complete" || std::find(written.begin(), written.end(), name) != written.end())
            << "left over: " << name;
    }
}

TEST_F(SampleSetTest, RunningAgainWritesTheSameRawFiles)
{
    std::vector<std::vector<uint8_t>> before;
    for (const std::string& name : s_report->written)
        if (name.size() > 4 && name.substr(name.size() - 4) == ".q7f")
            before.push_back(FileBytes(*s_folder / name));
    samples::SampleReport again;
    std::string error;
    ASSERT_TRUE(samples::MakeSamples(s_folder->string(), again, error)) << error;
    EXPECT_EQ(again.written, s_report->written);
    size_t i = 0;
    for (const std::string& name : again.written) {
        if (name.size() > 4 && name.substr(name.size() - 4) == ".q7f") {
            EXPECT_TRUE(FileBytes(*s_folder / name) == before[i++]) << name;
        }
    }
}

TEST_F(SampleSetTest, EverySampleOpensThroughTheLoaders)
{
    for (const std::string& name : s_report->written) {
        SCOPED_TRACE(name);
        const FWideString url = developtest::DiskURL((*s_folder / name).string());
        FIPManagerRequest props;
        developtest::PrepareProperties(props, url);
        ASSERT_TRUE(developtest::RunThroughPool(props));
        ASSERT_EQ(props.m_Async.GetState(), kCompleted);
        EXPECT_GT(props.m_pImageProps->GetInt("COLS", 0), 0);
        EXPECT_GT(props.m_pImageProps->GetInt("ROWS", 0), 0);
        FIPManagerRequest thumb;
        developtest::PreparePreview(thumb, url, 160);
        ASSERT_TRUE(developtest::RunThroughPool(thumb));
        ASSERT_EQ(thumb.m_Async.GetState(), kCompleted);
        ASSERT_NE(thumb.m_pOutputImage, nullptr);
        EXPECT_GT(thumb.m_pOutputImage->GetPixmap()->GetCols(), 0);
    }
}

TEST_F(SampleSetTest, PhotoRawsDevelopBackToThePhotograph)
{
    if (!s_report->skipped.empty())
        GTEST_SKIP() << "photographs not installed: " << s_report->skipped;
    ASSERT_EQ(s_report->photoRaws.size(), samples::Photographs().size());
    for (const samples::PhotoSource& photo : samples::Photographs()) {
        SCOPED_TRACE(photo.file);
        samples::RgbImage source;
        std::string error;
        ASSERT_TRUE(samples::ReadPhoto(samples::PhotoFolder() + "/" + photo.file, source, error)) << error;
        int cols = 0, rows = 0;
        std::vector<uint16_t> developed;
        ASSERT_TRUE(samples::DevelopAsShot((*s_folder / (std::string(photo.stem) + ".q7f")).string(), cols,
                                           rows, developed, error))
            << error;
        // The sensor is the photograph with dark shields around it.
        ASSERT_GT(cols, source.cols);
        ASSERT_GT(rows, source.rows);
        const Comparison c = CompareWithPicture(source, cols, rows, developed, 0);
        double mean = 0.0, p95 = 0.0;
        MeanAndP95(c.deltaE, mean, p95);
        std::printf("%-14s CIEDE2000 mean %.2f, 95th percentile %.2f; mean levels R %+.2f G %+.2f B %+.2f\n",
                    photo.file, mean, p95, c.meanLevels[0], c.meanLevels[1], c.meanLevels[2]);
        EXPECT_LT(mean, kMaxMeanDeltaE);
        // No cast: each channel keeps the photograph's mean.
        for (int ch = 0; ch < 3; ++ch)
            EXPECT_LT(std::abs(c.meanLevels[ch]), kMaxChannelMeanLevels) << "channel " << ch;
    }
}

TEST_F(SampleSetTest, ChartFlatAreasDevelopToTheirColours)
{
    // Away from edges the only residual is the inversion itself: black below about 4 of
    // 255 is out of reach, and the measured response is interpolated between grid nodes.
    int cols = 0, rows = 0;
    std::vector<uint16_t> rgb;
    std::string error;
    ASSERT_TRUE(samples::DevelopAsShot((*s_folder / "chart.q7f").string(), cols, rows, rgb, error)) << error;
    const Comparison c =
        CompareWithPicture(samples::ChartLook(samples::kChartCols, samples::kChartRows), cols, rows, rgb, 4);
    ASSERT_GT(c.deltaE.size(), size_t(cols) * rows / 4);
    double mean = 0.0, p95 = 0.0;
    MeanAndP95(c.deltaE, mean, p95);
    std::printf(
        "chart flat areas: CIEDE2000 mean %.2f, 95th percentile %.2f; mean levels R %+.2f G %+.2f B %+.2f\n",
        mean, p95, c.meanLevels[0], c.meanLevels[1], c.meanLevels[2]);
    EXPECT_LT(mean, kMaxFlatMeanDeltaE);
    for (int ch = 0; ch < 3; ++ch)
        EXPECT_LT(std::abs(c.meanLevels[ch]), kMaxFlatChannelMeanLevels) << "channel " << ch;
}

TEST_F(SampleSetTest, CastSceneDevelopsWarmAsShot)
{
    int cols = 0, rows = 0;
    std::vector<uint16_t> rgb;
    std::string error;
    ASSERT_TRUE(samples::DevelopAsShot((*s_folder / "tungsten-cast.q7f").string(), cols, rows, rgb, error))
        << error;
    // The centre of the neutral card.
    const size_t i = (size_t(rows / 2) * cols + cols / 2) * 3;
    EXPECT_GT(rgb[i], rgb[i + 1]);
    EXPECT_GT(rgb[i + 1], rgb[i + 2]);
    EXPECT_GT(int(rgb[i]) - int(rgb[i + 2]), 65535 / 8);
}

TEST_F(SampleSetTest, MissingPhotographsLeaveTheScenesAndABadFolderFails)
{
    const fs::path folder = *s_folder / "no-photos";
    ASSERT_EQ(setenv("RB_SAMPLE_PHOTOS", (*s_folder / "absent").c_str(), 1), 0);
    samples::SampleReport report;
    std::string error;
    const bool made = samples::MakeSamples(folder.string(), report, error);
    unsetenv("RB_SAMPLE_PHOTOS");
    ASSERT_TRUE(made) << error;
    EXPECT_FALSE(report.skipped.empty());
    EXPECT_TRUE(report.photoRaws.empty());
    EXPECT_TRUE(fs::exists(folder / "chart.q7f"));
    EXPECT_TRUE(fs::exists(folder / ".complete"));

    // A folder below a plain file cannot be made.
    const fs::path blocked = *s_folder / "chart.q7f" / "inside";
    EXPECT_FALSE(samples::MakeSamples(blocked.string(), report, error));
    EXPECT_FALSE(error.empty());
}

} // namespace
