#include "SampleSet.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <filesystem>
#include <fstream>
#include <functional>
#include <thread>

#include "BribFileBuilder.h"
#include "DevelopDriver.h"
#include "DevelopableRaw.h"
#include "FCamdataBuilder.h"
#include "FIPMImage.h"
#include "FIPManager.h"
#include "FIPManagerRequest.h"
#include "FPixmap.h"
#include "FPropList.h"
#include "RawCodec.h"

namespace samples
{

namespace
{

namespace fs = std::filesystem;

// Where the scene sits in the sensor: the active area of the camera data, inside the dark
// shields. The development spreads the active area over the sensor's size.
constexpr int kMarginCols = 16;
constexpr int kMarginRows = 12;
constexpr int kDarkLevel = 64;
constexpr int kClip = 4095;
constexpr int kPatch = 10; // chart patch side; the centre kProbe x kProbe is measured
constexpr int kProbe = 4;

using Triple = std::array<double, 3>;

double SrgbToLinear(double v)
{
    return v <= 0.04045 ? v / 12.92 : std::pow((v + 0.055) / 1.055, 2.4);
}

double LinearToSrgb(double v)
{
    v = std::clamp(v, 0.0, 1.0);
    return v <= 0.0031308 ? 12.92 * v : 1.055 * std::pow(v, 1.0 / 2.4) - 0.055;
}

// Deterministic noise, the same on every build (the standard distributions are not).
class Noise
{
public:
    explicit Noise(uint64_t seed) : m_state(seed * 0x9E3779B97F4A7C15ull + 1) {}
    double Uniform()
    {
        m_state ^= m_state << 13;
        m_state ^= m_state >> 7;
        m_state ^= m_state << 17;
        return (double(m_state >> 11) + 0.5) / 9007199254740992.0;
    }
    double Gaussian()
    {
        if (m_bHaveSpare) {
            m_bHaveSpare = false;
            return m_dSpare;
        }
        const double r = std::sqrt(-2.0 * std::log(Uniform()));
        const double a = 6.283185307179586 * Uniform();
        m_dSpare = r * std::sin(a);
        m_bHaveSpare = true;
        return r * std::cos(a);
    }

private:
    uint64_t m_state;
    double m_dSpare = 0.0;
    bool m_bHaveSpare = false;
};

uint64_t Hash(const std::string& text)
{
    uint64_t h = 1469598103934665603ull;
    for (unsigned char c : text)
        h = (h ^ c) * 1099511628211ull;
    return h;
}

std::array<uint8_t, 16> UniqueId(const std::string& name)
{
    std::array<uint8_t, 16> id{};
    Noise n(Hash("rawbench sample " + name));
    for (uint8_t& b : id)
        b = uint8_t(n.Uniform() * 256.0);
    return id;
}

// What the camera recorded about a capture.
struct Capture {
    std::string stem;
    int iso = 200;
    int exposureMicros = 8000;
    const char* shutterText = "1/125";
    const char* aperture = "8.0";
    const char* focal = "50";
    const char* whiteBalance = "Daylight";
    int64_t time = 1717236000; // seconds since 1970, the camera's clock read as UTC
    std::string idTag;         // makes the unique id differ from other files of the same stem
};

// A scene given as camera counts above the dark level, three per pixel.
struct Scene {
    int cols = 0;
    int rows = 0;
    std::vector<float> counts;
    RgbImage look; // what the embedded previews show
    bool shading = true;
    bool noise = true;
};

// Vignetting in the camera data: the engine multiplies by it, so the raw is divided by it.
constexpr int kGainRows = 9;
constexpr int kGainCols = 13;
constexpr double kFalloff[3] = {0.42, 0.36, 0.30};

double ShadingNode(int gy, int gx, int c)
{
    const double dx = 2.0 * gx / (kGainCols - 1) - 1.0;
    const double dy = 2.0 * gy / (kGainRows - 1) - 1.0;
    return 1.0 + kFalloff[c] * 0.5 * (dx * dx + dy * dy);
}

// The table interpolated as the row transform does: linearly between nodes spread evenly
// over the sensor's rows and columns.
double ShadingAt(int x, int y, int cols, int rows, int c)
{
    const double fy = rows < 2 ? 0.0 : double(y) / (rows - 1) * (kGainRows - 1);
    const double fx = cols < 2 ? 0.0 : double(x) / (cols - 1) * (kGainCols - 1);
    const int y0 = std::min(int(fy), kGainRows - 2);
    const int x0 = std::min(int(fx), kGainCols - 2);
    const double ty = fy - y0;
    const double tx = fx - x0;
    const double top = ShadingNode(y0, x0, c) * (1 - tx) + ShadingNode(y0, x0 + 1, c) * tx;
    const double bottom = ShadingNode(y0 + 1, x0, c) * (1 - tx) + ShadingNode(y0 + 1, x0 + 1, c) * tx;
    return top * (1 - ty) + bottom * ty;
}

std::vector<uint8_t> FloatBytes(const std::vector<float>& v)
{
    std::vector<uint8_t> out(v.size() * 4);
    for (size_t i = 0; i < v.size(); ++i) {
        uint32_t bits;
        std::memcpy(&bits, &v[i], 4);
        for (int k = 0; k < 4; ++k)
            out[4 * i + k] = uint8_t(bits >> (8 * k));
    }
    return out;
}

Triple FloatTriple(const std::vector<uint8_t>& bytes)
{
    Triple out{0, 0, 0};
    for (size_t k = 0; k < 3 && 4 * k + 4 <= bytes.size(); ++k) {
        uint32_t bits = 0;
        for (int b = 0; b < 4; ++b)
            bits |= uint32_t(bytes[4 * k + b]) << (8 * b);
        float v;
        std::memcpy(&v, &bits, 4);
        out[k] = v;
    }
    return out;
}

std::vector<uint8_t> Camdata(int width, int height, bool shading, int iso)
{
    FCamdataBuilder builder;
    AddPlausibleCalibration(builder, width, height);
    // The sensor's own sensitivity is ISO 100; above twice that the engine doubles the
    // signal, which is what lets the tone curve reach white.
    for (FCamdataBuilder::Block& block : builder.CurrentSection().blocks)
        if (block.name == "CaptureISO")
            block.elements = FloatBytes({float(iso)});
    if (shading) {
        std::vector<float> gains;
        for (int gy = 0; gy < kGainRows; ++gy)
            for (int gx = 0; gx < kGainCols; ++gx)
                for (int c = 0; c < 3; ++c)
                    gains.push_back(float(ShadingNode(gy, gx, c)));
        for (FCamdataBuilder::Block& block : builder.CurrentSection().blocks)
            if (block.name == "SpatialGain")
                block.elements = FloatBytes(gains);
    }
    return builder.Build();
}

// A box-filtered copy as a 24-bit preview section.
rawtest::ImageSection Preview(const RgbImage& look, int cols)
{
    cols = std::clamp(cols, 1, look.cols);
    const int rows = std::max(1, int(int64_t(cols) * look.rows / look.cols));
    rawtest::ImageSection section;
    section.imageType = 2;
    section.pixelFormat = 3;
    section.columns = uint32_t(cols);
    section.rows = uint32_t(rows);
    section.rowSize = uint32_t(cols * 3);
    section.payload.reserve(size_t(cols) * rows * 3);
    for (int y = 0; y < rows; ++y) {
        const int y0 = int(int64_t(y) * look.rows / rows);
        const int y1 = std::max(y0 + 1, int(int64_t(y + 1) * look.rows / rows));
        for (int x = 0; x < cols; ++x) {
            const int x0 = int(int64_t(x) * look.cols / cols);
            const int x1 = std::max(x0 + 1, int(int64_t(x + 1) * look.cols / cols));
            for (int c = 0; c < 3; ++c) {
                int sum = 0;
                for (int sy = y0; sy < y1; ++sy)
                    for (int sx = x0; sx < x1; ++sx)
                        sum += look.rgb[(size_t(sy) * look.cols + sx) * 3 + c];
                section.payload.push_back(uint8_t(sum / ((y1 - y0) * (x1 - x0))));
            }
        }
    }
    return section;
}

std::vector<std::pair<std::string, std::string>> Properties(const Capture& capture)
{
    char shutter[32];
    std::snprintf(shutter, sizeof(shutter), "%.6f", capture.exposureMicros * 1e-6);
    return {{"CAMMANUF", "Rawbench"},
            {"CAMMODEL", "Sample Q7"},
            {"CAMSERIAL", "Q7-000417"},
            {"ISO", std::to_string(capture.iso)},
            {"EXPTIME", std::to_string(capture.exposureMicros)},
            {"SHUTTER", shutter},
            {"SH_DESC", capture.shutterText},
            {"APERTURE", capture.aperture},
            {"AP_DESC", capture.aperture},
            {"FLENGTH", capture.focal},
            {"LENSFRANGE", "24-70 mm"},
            {"LENSARANGE", "2.8 to 4.0"},
            {"PMODE", "A"},
            {"AEMODE", "C"},
            {"EXPCOMP", "0"},
            {"EXPNET", "0"},
            {"FLASH", "OFF"},
            {"WB_DESC", capture.whiteBalance},
            {"TIME", std::to_string(capture.time)}};
}

// Sensor frames around the scene: the dark frame everywhere, the scene added inside the
// active area with shading and noise, clipped to 12 bits.
rawtest::Bytes BuildRaw(const Capture& capture, const Scene& scene)
{
    const int width = scene.cols + 2 * kMarginCols;
    const int height = scene.rows + 2 * kMarginRows;
    std::vector<uint16_t> raw(size_t(width) * height * 3);
    std::vector<uint16_t> dark(raw.size());
    Noise noise(Hash(capture.stem));
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x) {
            const int sx = x - kMarginCols;
            const int sy = y - kMarginRows;
            const bool inside = sx >= 0 && sx < scene.cols && sy >= 0 && sy < scene.rows;
            for (int c = 0; c < 3; ++c) {
                const size_t i = (size_t(y) * width + x) * 3 + c;
                const int d = kDarkLevel + int(noise.Uniform() * 5.0) - 2;
                dark[i] = uint16_t(d);
                double v = d;
                if (inside) {
                    double s = scene.counts[(size_t(sy) * scene.cols + sx) * 3 + c];
                    if (scene.shading)
                        s /= ShadingAt(x, y, width, height, c);
                    // Shot noise of about 8 electrons a count, and read noise.
                    if (scene.noise)
                        s += noise.Gaussian() * std::sqrt(1.5 + std::max(s, 0.0) / 8.0);
                    v += s;
                }
                raw[i] = uint16_t(std::clamp<long>(std::lround(v), 0, kClip));
            }
        }
    }

    rawtest::BribFileBuilder file(rawtest::kVersion22);
    rawtest::BribHeader& header = file.GetHeader();
    header.columns = uint32_t(width);
    header.rows = uint32_t(height);
    header.uniqueId = UniqueId(capture.stem + capture.idTag);
    header.SetLabel(capture.whiteBalance);
    file.Top().AddProperties(Properties(capture));
    const std::vector<uint8_t> cam = Camdata(width, height, scene.shading, capture.iso);
    file.Top().AddCamfile(1, rawtest::Bytes(cam.begin(), cam.end()));
    file.Top().AddImage(developtest::FrameSection(1, 0, width, height, raw, FPixmap::PIXEL_48_RGB));
    file.Top().AddImage(developtest::FrameSection(0, 0, width, height, dark, FPixmap::PIXEL_48_RGB));
    if (scene.look.cols > 0) {
        file.Top().AddImage(Preview(scene.look, std::min(scene.look.cols, 1024)));
        file.Top().AddImage(Preview(scene.look, 160));
    }
    return file.Build();
}

bool WriteFile(const fs::path& path, const std::vector<uint8_t>& bytes, std::string& error)
{
    const fs::path temp = path.string() + ".part";
    {
        std::ofstream file(temp, std::ios::binary | std::ios::trunc);
        file.write(reinterpret_cast<const char*>(bytes.data()), std::streamsize(bytes.size()));
        if (!file) {
            error = "cannot write " + temp.string();
            return false;
        }
    }
    std::error_code ec;
    fs::rename(temp, path, ec);
    if (ec) {
        error = "cannot write " + path.string() + ": " + ec.message();
        return false;
    }
    return true;
}

// Runs `body(first, end)` over rows in parallel bands.
void ForRows(int rows, const std::function<void(int, int)>& body)
{
    const int threads = std::clamp(int(std::thread::hardware_concurrency()), 1, 4);
    std::vector<std::thread> pool;
    const int band = (rows + threads - 1) / threads;
    for (int first = 0; first < rows; first += band)
        pool.emplace_back(body, first, std::min(rows, first + band));
    for (std::thread& t : pool)
        t.join();
}

// Writes the scene's raw file at `path`, develops it as shot and removes the file.
bool DevelopOnce(const fs::path& path, const Capture& capture, const Scene& scene, int& cols, int& rows,
                 std::vector<uint16_t>& rgb, std::string& error)
{
    if (!WriteFile(path, BuildRaw(capture, scene), error))
        return false;
    const bool developed = DevelopAsShot(path.string(), cols, rows, rgb, error);
    std::error_code ec;
    fs::remove(path, ec);
    return developed;
}

// The camera's flare factor: the engine takes that fraction of the mean over every fourth
// pixel of every fourth row of the whole sensor off every pixel, before the spatial gain.
Triple FlareFactor()
{
    FCamdataBuilder builder;
    AddPlausibleCalibration(builder, 64, 64);
    for (const FCamdataBuilder::Block& block : builder.CurrentSection().blocks)
        if (block.name == "FlareFactor")
            return FloatTriple(block.elements);
    return {0, 0, 0};
}

// The flare estimate of a scene whose counts get `flare` x shading - `chartFlare` added
// everywhere. The samples outside the scene, in the dark shields, read as nothing.
Triple SceneFlare(const Scene& scene, const Triple& flare, const Triple& chartFlare)
{
    const int width = scene.cols + 2 * kMarginCols;
    const int height = scene.rows + 2 * kMarginRows;
    const Triple factor = FlareFactor();
    Triple sum{0, 0, 0};
    double samples = 0.0;
    for (int y = 2; y < height; y += 4) {
        for (int x = 2; x < width; x += 4, samples += 1.0) {
            const int sx = x - kMarginCols, sy = y - kMarginRows;
            if (sx < 0 || sx >= scene.cols || sy < 0 || sy >= scene.rows)
                continue;
            for (int c = 0; c < 3; ++c) {
                const double shading = scene.shading ? ShadingAt(x, y, width, height, c) : 1.0;
                sum[c] += (scene.counts[(size_t(sy) * scene.cols + sx) * 3 + c] - chartFlare[c]) / shading +
                          flare[c];
            }
        }
    }
    Triple estimate;
    for (int c = 0; c < 3; ++c)
        estimate[c] = samples > 0.0 ? factor[c] * sum[c] / samples : 0.0;
    return estimate;
}

// The inverse holds the calibration chart's flare; a scene of another mean loses another
// amount, so the difference goes into its counts (where the spatial gain scales it back).
void MatchFlare(Scene& scene, const Triple& chartFlare)
{
    const int width = scene.cols + 2 * kMarginCols;
    const int height = scene.rows + 2 * kMarginRows;
    // The added offset raises the scene's own estimate a little; a few rounds settle it.
    Triple flare = SceneFlare(scene, {0, 0, 0}, {0, 0, 0});
    for (int round = 0; round < 3; ++round)
        flare = SceneFlare(scene, flare, chartFlare);
    ForRows(scene.rows, [&](int first, int end) {
        for (int y = first; y < end; ++y)
            for (int x = 0; x < scene.cols; ++x)
                for (int c = 0; c < 3; ++c) {
                    const double shading =
                        scene.shading ? ShadingAt(x + kMarginCols, y + kMarginRows, width, height, c) : 1.0;
                    float& v = scene.counts[(size_t(y) * scene.cols + x) * 3 + c];
                    v = float(v + flare[c] * shading - chartFlare[c]);
                }
    });
}

// Counts for wanted sRGB colours in [0, 1], three per pixel of `look`.
Scene SceneFromTargets(const DevelopInverse& inverse, const RgbImage& look,
                       const std::vector<double>& targets)
{
    Scene scene;
    scene.cols = look.cols;
    scene.rows = look.rows;
    scene.look = look;
    scene.counts.resize(size_t(look.cols) * look.rows * 3);
    ForRows(look.rows, [&](int first, int end) {
        for (size_t i = size_t(first) * look.cols; i < size_t(end) * look.cols; ++i) {
            const Triple c = inverse.Counts(targets[3 * i], targets[3 * i + 1], targets[3 * i + 2]);
            for (int k = 0; k < 3; ++k)
                scene.counts[3 * i + k] = float(c[k]);
        }
    });
    return scene;
}

std::vector<double> LookTargets(const RgbImage& look)
{
    std::vector<double> targets(look.rgb.size());
    for (size_t i = 0; i < targets.size(); ++i)
        targets[i] = look.rgb[i] / 255.0;
    return targets;
}

Scene SceneFromLook(const DevelopInverse& inverse, const RgbImage& look)
{
    return SceneFromTargets(inverse, look, LookTargets(look));
}

// Box blur of radius r over a three-channel image, edges repeated, in place: running sums
// along each row, then down the columns a whole row at a time.
void BoxBlur(std::vector<double>& image, int cols, int rows, int r)
{
    const size_t width = size_t(cols) * 3;
    const double scale = 1.0 / (2 * r + 1);
    ForRows(rows, [&](int first, int end) {
        std::vector<double> line(width);
        for (int y = first; y < end; ++y) {
            double* row = image.data() + size_t(y) * width;
            std::copy(row, row + width, line.begin());
            for (int c = 0; c < 3; ++c) {
                auto at = [&](int x) { return line[size_t(std::clamp(x, 0, cols - 1)) * 3 + c]; };
                double sum = 0.0;
                for (int k = -r; k <= r; ++k)
                    sum += at(k);
                for (int x = 0; x < cols; ++x) {
                    row[size_t(x) * 3 + c] = sum * scale;
                    sum += at(x + r + 1) - at(x - r);
                }
            }
        }
    });
    const std::vector<double> source = image;
    auto sourceRow = [&](int y) { return source.data() + size_t(std::clamp(y, 0, rows - 1)) * width; };
    ForRows(rows, [&](int first, int end) {
        std::vector<double> sum(width, 0.0);
        for (int k = first - r; k <= first + r; ++k) {
            const double* s = sourceRow(k);
            for (size_t i = 0; i < width; ++i)
                sum[i] += s[i];
        }
        for (int y = first; y < end; ++y) {
            double* out = image.data() + size_t(y) * width;
            const double* enter = sourceRow(y + r + 1);
            const double* leave = sourceRow(y - r);
            for (size_t i = 0; i < width; ++i) {
                out[i] = sum[i] * scale;
                sum[i] += enter[i] - leave[i];
            }
        }
    });
}

// Copies a finished 48-bit development of `cols` x `rows` out of its request.
bool TakeDevelopment(FIPManagerRequest& request, const std::string& name, int cols, int rows,
                     std::vector<uint16_t>& rgb, std::string& error)
{
    if (request.m_Async.GetState() != kCompleted || request.m_pOutputImage == nullptr) {
        error = name + ": the development failed: " + request.m_Async.m_usErrorText.GetNarrow();
        return false;
    }
    FPixmap* pixmap = request.m_pOutputImage->GetPixmap();
    if (pixmap == nullptr || pixmap->GetCols() != cols || pixmap->GetRows() != rows ||
        pixmap->GetPixelType() != FPixmap::PIXEL_48_RGB) {
        error = name + ": the development gave an unexpected image";
        return false;
    }
    rgb.resize(size_t(cols) * rows * 3);
    for (int y = 0; y < rows; ++y)
        std::memcpy(rgb.data() + size_t(y) * cols * 3, pixmap->GetRowAddress(y), size_t(cols) * 6);
    return true;
}

// One scene that the refinement works on.
struct Trial {
    const Capture* capture;
    Scene* scene;
    RgbImage look; // a copy: the scene is replaced every round
    std::vector<double> targets;
    std::vector<uint16_t> developed;
};

// Develops every trial's raw file as shot at the sensor's size, all at once through the
// pool so that its managers work side by side.
bool DevelopTogether(std::vector<Trial>& trials, const std::vector<fs::path>& paths, std::string& error)
{
    FIPManagerPool* pool = GetIPManagerPool();
    if (pool == nullptr) {
        error = "the development engine could not be started";
        return false;
    }
    std::deque<FIPManagerRequest> requests(trials.size());
    for (size_t i = 0; i < trials.size(); ++i) {
        const Scene& scene = *trials[i].scene;
        developtest::PrepareProcessed(requests[i], developtest::DiskURL(paths[i].string()),
                                      scene.cols + 2 * kMarginCols, scene.rows + 2 * kMarginRows, kRGB48);
        requests[i].m_iSettingMode = kSettingModeAsShot;
        pool->Request(&requests[i]);
    }
    const auto busy = [&] {
        return std::any_of(requests.begin(), requests.end(),
                           [](const FIPManagerRequest& r) { return r.m_Async.IsInProgress(); });
    };
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::minutes(5);
    while (busy() && std::chrono::steady_clock::now() < deadline)
        pool->Idle();
    for (size_t i = 0; i < trials.size(); ++i) {
        const Scene& scene = *trials[i].scene;
        if (!TakeDevelopment(requests[i], paths[i].string(), scene.cols + 2 * kMarginCols,
                             scene.rows + 2 * kMarginRows, trials[i].developed, error))
            return false;
    }
    return true;
}

// Takes the smoothed difference between the trial's development and its look off its
// wanted colours.
void TakeOffDifference(Trial& trial)
{
    constexpr int kRadius = 4; // two box passes: about 17 pixels across
    const RgbImage& look = trial.look;
    const std::vector<uint16_t>& rgb = trial.developed;
    std::vector<double>& targets = trial.targets;
    const int cols = trial.scene->cols + 2 * kMarginCols;
    const int rows = trial.scene->rows + 2 * kMarginRows;
    // The development spreads the scene over the whole sensor; sample it back at the
    // centres of the look's pixels.
    std::vector<double> difference(targets.size());
    const double sx = double(cols) / look.cols, sy = double(rows) / look.rows;
    ForRows(look.rows, [&](int first, int end) {
        for (int y = first; y < end; ++y) {
            const double fy = std::clamp((y + 0.5) * sy - 0.5, 0.0, rows - 1.0);
            const int y0 = std::min(int(fy), rows - 2);
            const double ty = fy - y0;
            for (int x = 0; x < look.cols; ++x) {
                const double fx = std::clamp((x + 0.5) * sx - 0.5, 0.0, cols - 1.0);
                const int x0 = std::min(int(fx), cols - 2);
                const double tx = fx - x0;
                for (int c = 0; c < 3; ++c) {
                    auto at = [&](int px, int py) { return rgb[(size_t(py) * cols + px) * 3 + c] / 65535.0; };
                    const double got = (at(x0, y0) * (1 - tx) + at(x0 + 1, y0) * tx) * (1 - ty) +
                                       (at(x0, y0 + 1) * (1 - tx) + at(x0 + 1, y0 + 1) * tx) * ty;
                    const size_t i = (size_t(y) * look.cols + x) * 3 + c;
                    difference[i] = got - look.rgb[i] / 255.0;
                }
            }
        }
    });
    // Colours out of the development's reach (black below its floor, highlights past
    // clipping) keep their error; it must not leak into their neighbours.
    std::vector<double> weight(targets.size());
    for (size_t i = 0; i < targets.size(); ++i) {
        const bool stuck =
            (targets[i] <= 0.0 && difference[i] > 0.0) || (targets[i] >= 1.0 && difference[i] < 0.0);
        weight[i] = stuck ? 0.0 : 1.0;
        difference[i] *= weight[i];
    }
    for (int pass = 0; pass < 2; ++pass) {
        BoxBlur(difference, look.cols, look.rows, kRadius);
        BoxBlur(weight, look.cols, look.rows, kRadius);
    }
    for (size_t i = 0; i < targets.size(); ++i)
        if (weight[i] > 1e-3)
            targets[i] = std::clamp(targets[i] - difference[i] / weight[i], 0.0, 1.0);
}

// The inverse is measured on flat patches, but some of the engine's steps look at more
// than one pixel: the chroma filters pull colour across edges, the colour transform takes
// the colour of the image's darkest pixels for a cast, highlights near clipping are
// neutralised where they stand out. So each scene is developed, the smoothed difference
// between what came out and the look is taken off the wanted colours, and the counts are
// made again; each round removes most of what is left.
bool RefineScenes(const DevelopInverse& inverse, std::vector<Trial>& trials, const fs::path& scratch,
                  std::string& error)
{
    // Three rounds: the darkest-pixel cast flips back and forth a little between rounds.
    constexpr int kRounds = 3;
    for (int round = 0; round < kRounds && !trials.empty(); ++round) {
        std::vector<fs::path> paths(trials.size());
        std::vector<std::string> errors(trials.size());
        {
            std::vector<std::thread> threads;
            for (size_t i = 0; i < trials.size(); ++i)
                threads.emplace_back([&, i] {
                    const Scene& scene = *trials[i].scene;
                    // The engine keeps developments by file and unique id: each round's counts
                    // get an id of their own. The stem, which seeds the noise, stays.
                    Capture capture = *trials[i].capture;
                    const std::string counts(reinterpret_cast<const char*>(scene.counts.data()),
                                             scene.counts.size() * sizeof(float));
                    capture.idTag = " refine " + std::to_string(round) + " " + std::to_string(Hash(counts));
                    paths[i] = scratch / (".refine-" + capture.stem + "-" + std::to_string(round) + ".q7f");
                    WriteFile(paths[i], BuildRaw(capture, scene), errors[i]);
                });
            for (std::thread& t : threads)
                t.join();
        }
        const auto written =
            std::find_if(errors.begin(), errors.end(), [](const std::string& e) { return !e.empty(); });
        const bool developed = written == errors.end() && DevelopTogether(trials, paths, error);
        if (written != errors.end())
            error = *written;
        for (const fs::path& path : paths) {
            std::error_code ec;
            fs::remove(path, ec);
        }
        if (!developed)
            return false;
        for (Trial& trial : trials) {
            TakeOffDifference(trial);
            Scene& scene = *trial.scene;
            const bool noise = scene.noise, shading = scene.shading;
            scene = SceneFromTargets(inverse, trial.look, trial.targets);
            scene.noise = noise;
            scene.shading = shading;
            MatchFlare(scene, inverse.ChartFlare());
        }
    }
    return true;
}

void Fill(RgbImage& image, int x0, int y0, int x1, int y1, const std::array<uint8_t, 3>& rgb)
{
    for (int y = std::max(0, y0); y < std::min(image.rows, y1); ++y)
        for (int x = std::max(0, x0); x < std::min(image.cols, x1); ++x)
            std::copy(rgb.begin(), rgb.end(), image.rgb.begin() + (size_t(y) * image.cols + x) * 3);
}

} // namespace

RgbImage ChartLook(int cols, int rows)
{
    RgbImage image{cols, rows, std::vector<uint8_t>(size_t(cols) * rows * 3, 40)};
    for (int x = 0; x < cols; ++x) {
        const uint8_t v = uint8_t(std::lround(255.0 * x / (cols - 1)));
        Fill(image, x, 0, x + 1, rows / 6, {v, v, v});
    }
    for (int k = 0; k < 11; ++k) {
        const uint8_t v = uint8_t(std::lround(255.0 * k / 10));
        Fill(image, cols * k / 11, rows / 6, cols * (k + 1) / 11, rows / 3, {v, v, v});
    }
    static const std::array<uint8_t, 3> kPatches[18] = {
        {115, 82, 68},  {194, 150, 130}, {98, 122, 157}, {87, 108, 67},  {133, 128, 177}, {103, 189, 170},
        {214, 126, 44}, {80, 91, 166},   {193, 90, 99},  {94, 60, 108},  {157, 188, 64},  {224, 163, 46},
        {56, 61, 150},  {70, 148, 73},   {175, 54, 60},  {231, 199, 31}, {187, 86, 149},  {8, 133, 161}};
    const int pw = cols / 6;
    const int ph = (rows - rows / 3) / 3;
    for (int k = 0; k < 18; ++k) {
        const int x = (k % 6) * pw;
        const int y = rows / 3 + (k / 6) * ph;
        Fill(image, x + 4, y + 4, x + pw - 4, y + ph - 4, kPatches[k]);
    }
    return image;
}

namespace
{

// Warm light on a scene with a large neutral card: the as-shot development keeps the cast,
// and a grey-point pick on the card should remove it.
constexpr double kCast[3] = {1.45, 1.0, 0.55};

RgbImage CastLook(int cols, int rows)
{
    RgbImage image = ChartLook(cols, rows);
    Fill(image, cols / 4, rows / 3, 3 * cols / 4, 2 * rows / 3, {128, 128, 128});
    return image;
}

struct SampleJob {
    std::string name;
    Capture capture;
    Scene scene;
    bool refine = true; // false where the development should not give back the look
};

} // namespace

const std::vector<PhotoSource>& Photographs()
{
    static const std::vector<PhotoSource> list = {
        {"astronaut.png", "astronaut", "astronaut portrait (NASA, public domain)"},
        {"chelsea.png", "chelsea", "cat (CC0 by the photographer)"},
        {"coffee.png", "coffee", "coffee cup (CC0 by the photographer)"},
        {"rocket.jpg", "rocket", "rocket launch (SpaceX, public domain)"},
    };
    return list;
}

std::string PhotoFolder()
{
    if (const char* env = std::getenv("RB_SAMPLE_PHOTOS"); env != nullptr && *env != 0)
        return env;
    return "/usr/lib/python3/dist-packages/skimage/data";
}

namespace
{

// Trilinear interpolation in a table of n^3 triples, red index fastest, at p in [0, 1]^3.
Triple Trilinear(const std::vector<Triple>& table, int n, const Triple& p)
{
    int i0[3];
    double t[3];
    for (int k = 0; k < 3; ++k) {
        const double f = std::clamp(p[k], 0.0, 1.0) * (n - 1);
        i0[k] = std::min(int(f), n - 2);
        t[k] = f - i0[k];
    }
    Triple out{0, 0, 0};
    for (int corner = 0; corner < 8; ++corner) {
        double w = 1.0;
        int idx[3];
        for (int k = 0; k < 3; ++k) {
            const int bit = (corner >> k) & 1;
            idx[k] = i0[k] + bit;
            w *= bit ? t[k] : 1.0 - t[k];
        }
        const Triple& v = table[(size_t(idx[2]) * n + idx[1]) * n + idx[0]];
        for (int k = 0; k < 3; ++k)
            out[k] += w * v[k];
    }
    return out;
}

} // namespace

std::array<double, 3> DevelopInverse::Forward(const std::array<double, 3>& u) const
{
    return Trilinear(m_forward, kGrid, u);
}

std::array<double, 3> DevelopInverse::Counts(double r, double g, double b) const
{
    const Triple u = Trilinear(m_inverse, kInverse, {r, g, b});
    Triple counts;
    for (int k = 0; k < 3; ++k)
        counts[k] = kMaxCounts * u[k] * u[k] * u[k];
    return counts;
}

bool DevelopInverse::Measure(const std::string& scratchFolder, std::string& error)
{
    // The nodes along a path on which neighbours differ by one step, laid out in rows that
    // turn at each end: the chroma and noise filters then see smooth surroundings, as in a
    // photograph. The chart is about as wide as the photographs.
    // Above the nodes lies a black band: the colour transform takes the colour of the
    // darkest pixels for a cast and removes it from the whole image, and among the darkest
    // nodes blue dominates (blue counts half in the engine's darkness measure). A neutral
    // black band keeps the chart's darkest pixels neutral, as a photograph's usually are.
    const int nodes = kGrid * kGrid * kGrid;
    const int across = 2 * kGrid;
    const int down = (nodes + across - 1) / across;
    const int black = down / 5; // patch rows; the engine's darkest-pixel search skips the top 5 %
    Scene chart;
    chart.cols = across * kPatch;
    chart.rows = (black + down) * kPatch;
    chart.shading = false;
    chart.noise = false;
    chart.counts.resize(size_t(chart.cols) * chart.rows * 3);
    std::vector<std::array<int, 3>> nodeAt(size_t(across) * down);
    for (int s = 0; s < across * down; ++s) {
        const int step = std::min(s, nodes - 1);
        const int line = step / kGrid;
        const int i = line % 2 == 0 ? step % kGrid : kGrid - 1 - step % kGrid;
        const int k = line / kGrid;
        const int j = k % 2 == 0 ? line % kGrid : kGrid - 1 - line % kGrid;
        const int pr = s / across;
        const int pc = pr % 2 == 0 ? s % across : across - 1 - s % across;
        const std::array<int, 3> node = {i, j, k};
        nodeAt[size_t(pr) * across + pc] = node;
        for (int y = (black + pr) * kPatch; y < (black + pr + 1) * kPatch; ++y)
            for (int x = pc * kPatch; x < (pc + 1) * kPatch; ++x)
                for (int c = 0; c < 3; ++c) {
                    const double u = double(node[c]) / (kGrid - 1);
                    chart.counts[(size_t(y) * chart.cols + x) * 3 + c] = float(kMaxCounts * u * u * u);
                }
    }
    m_chartFlare = SceneFlare(chart, {0, 0, 0}, {0, 0, 0});
    Capture capture;
    capture.stem = "calibration chart";
    int cols = 0, rows = 0;
    std::vector<uint16_t> rgb;
    if (!DevelopOnce(fs::path(scratchFolder) / ".calibration.q7f", capture, chart, cols, rows, rgb, error))
        return false;
    if (cols != chart.cols + 2 * kMarginCols || rows != chart.rows + 2 * kMarginRows) {
        error = "the calibration chart developed to " + std::to_string(cols) + " x " + std::to_string(rows) +
                ", not " + std::to_string(chart.cols) + " x " + std::to_string(chart.rows);
        return false;
    }

    m_forward.assign(size_t(kGrid) * kGrid * kGrid, Triple{0, 0, 0});
    for (int pr = 0; pr < down; ++pr) {
        for (int pc = 0; pc < across; ++pc) {
            Triple sum{0, 0, 0};
            // The development spreads the active area over the whole output.
            const double sx = double(cols) / chart.cols, sy = double(rows) / chart.rows;
            const int x0 = int(std::lround((pc + 0.5) * kPatch * sx)) - kProbe / 2;
            const int y0 = int(std::lround((black + pr + 0.5) * kPatch * sy)) - kProbe / 2;
            for (int y = y0; y < y0 + kProbe; ++y)
                for (int x = x0; x < x0 + kProbe; ++x)
                    for (int k = 0; k < 3; ++k)
                        sum[k] += rgb[(size_t(y) * cols + x) * 3 + k];
            const std::array<int, 3>& node = nodeAt[size_t(pr) * across + pc];
            Triple& f = m_forward[(size_t(node[2]) * kGrid + node[1]) * kGrid + node[0]];
            for (int k = 0; k < 3; ++k)
                f[k] = sum[k] / (kProbe * kProbe * 65535.0);
        }
    }

    // Gauss-Newton on the measured response for every node of the inverse table;
    // unreachable colours end at the nearest reachable one.
    m_inverse.assign(size_t(kInverse) * kInverse * kInverse, Triple{0, 0, 0});
    const int n = kInverse - 1;
    for (int b = 0; b <= n; ++b) {
        for (int g = 0; g <= n; ++g) {
            for (int r = 0; r <= n; ++r) {
                const Triple target = {double(r) / n, double(g) / n, double(b) / n};
                // Inside the steep part of the response, where the flat black floor cannot
                // stall the first step.
                Triple u = {0.2 + 0.6 * target[0], 0.2 + 0.6 * target[1], 0.2 + 0.6 * target[2]};
                for (int iter = 0; iter < 30; ++iter) {
                    const Triple f = Forward(u);
                    const Triple res = {f[0] - target[0], f[1] - target[1], f[2] - target[2]};
                    if (std::abs(res[0]) + std::abs(res[1]) + std::abs(res[2]) < 1e-6)
                        break;
                    double J[3][3];
                    for (int k = 0; k < 3; ++k) {
                        const double h = 1.0 / (4 * (kGrid - 1));
                        Triple lo = u, hi = u;
                        lo[k] = std::max(0.0, u[k] - h);
                        hi[k] = std::min(1.0, u[k] + h);
                        const Triple fl = Forward(lo), fh = Forward(hi);
                        for (int m = 0; m < 3; ++m)
                            J[m][k] = (fh[m] - fl[m]) / (hi[k] - lo[k]);
                    }
                    // (J'J + lambda) du = -J'res
                    double A[3][3], v[3];
                    for (int p = 0; p < 3; ++p) {
                        v[p] = 0.0;
                        for (int q = 0; q < 3; ++q) {
                            A[p][q] = p == q ? 1e-6 : 0.0;
                            for (int m = 0; m < 3; ++m)
                                A[p][q] += J[m][p] * J[m][q];
                        }
                        for (int m = 0; m < 3; ++m)
                            v[p] -= J[m][p] * res[m];
                    }
                    const double det = A[0][0] * (A[1][1] * A[2][2] - A[1][2] * A[2][1]) -
                                       A[0][1] * (A[1][0] * A[2][2] - A[1][2] * A[2][0]) +
                                       A[0][2] * (A[1][0] * A[2][1] - A[1][1] * A[2][0]);
                    if (!(std::abs(det) > 1e-30))
                        break;
                    double du[3];
                    for (int k = 0; k < 3; ++k) {
                        double M[3][3];
                        for (int p = 0; p < 3; ++p)
                            for (int q = 0; q < 3; ++q)
                                M[p][q] = q == k ? v[p] : A[p][q];
                        du[k] = (M[0][0] * (M[1][1] * M[2][2] - M[1][2] * M[2][1]) -
                                 M[0][1] * (M[1][0] * M[2][2] - M[1][2] * M[2][0]) +
                                 M[0][2] * (M[1][0] * M[2][1] - M[1][1] * M[2][0])) /
                                det;
                    }
                    double moved = 0.0;
                    for (int k = 0; k < 3; ++k) {
                        const double next = std::clamp(u[k] + std::clamp(du[k], -0.25, 0.25), 0.0, 1.0);
                        moved += std::abs(next - u[k]);
                        u[k] = next;
                    }
                    if (moved < 1e-9)
                        break;
                }
                m_inverse[(size_t(b) * kInverse + g) * kInverse + r] = u;
            }
        }
    }
    return true;
}

bool DevelopAsShot(const std::string& rawPath, int& cols, int& rows, std::vector<uint16_t>& rgb,
                   std::string& error)
{
    const FWideString url = developtest::DiskURL(rawPath);
    FIPManagerRequest props;
    developtest::PrepareProperties(props, url);
    if (!developtest::RunThroughPool(props) || props.m_Async.GetState() != kCompleted) {
        error = rawPath + ": the properties could not be read";
        return false;
    }
    cols = props.m_pImageProps->GetInt("COLS", 0);
    rows = props.m_pImageProps->GetInt("ROWS", 0);
    if (cols <= 0 || rows <= 0) {
        error = rawPath + ": no image size in the properties";
        return false;
    }
    FIPManagerRequest request;
    developtest::PrepareProcessed(request, url, cols, rows, kRGB48);
    request.m_iSettingMode = kSettingModeAsShot;
    if (!developtest::RunThroughPool(request)) {
        error = rawPath + ": the development did not finish in time";
        return false;
    }
    return TakeDevelopment(request, rawPath, cols, rows, rgb, error);
}

bool MakeSamples(const std::string& folder, SampleReport& report, std::string& error)
{
    report = SampleReport();
    std::error_code ec;
    fs::create_directories(folder, ec);
    if (ec || !fs::is_directory(folder)) {
        error = "cannot create the folder " + folder + (ec ? ": " + ec.message() : std::string());
        return false;
    }
    const fs::path root = fs::absolute(folder);
    fs::remove(root / ".complete", ec);

    DevelopInverse inverse;
    if (!inverse.Measure(root.string(), error))
        return false;

    std::vector<SampleJob> jobs;
    int64_t time = 1717236000;
    for (const PhotoSource& photo : Photographs()) {
        RgbImage look;
        std::string why;
        if (!ReadPhoto(PhotoFolder() + "/" + photo.file, look, why)) {
            report.skipped = why;
            report.photoRaws.clear();
            jobs.clear();
            break;
        }
        SampleJob job;
        job.name = std::string(photo.stem) + ".q7f";
        job.capture.stem = photo.stem;
        job.capture.time = (time += 3917);
        job.scene = SceneFromLook(inverse, look);
        report.photoRaws.push_back(job.name);
        jobs.push_back(std::move(job));
    }

    SampleJob chart;
    chart.name = "chart.q7f";
    chart.capture.stem = "chart";
    chart.capture.exposureMicros = 16667;
    chart.capture.shutterText = "1/60";
    chart.capture.aperture = "5.6";
    chart.capture.time = (time += 611);
    chart.scene = SceneFromLook(inverse, ChartLook(kChartCols, kChartRows));
    jobs.push_back(std::move(chart));

    SampleJob cast;
    cast.name = "tungsten-cast.q7f";
    cast.capture.stem = "tungsten-cast";
    cast.capture.exposureMicros = 33333;
    cast.capture.shutterText = "1/30";
    cast.capture.aperture = "4.0";
    cast.capture.focal = "35";
    cast.capture.time = (time += 845);
    cast.scene = SceneFromLook(inverse, CastLook(kChartCols, kChartRows));
    for (size_t i = 0; i < cast.scene.counts.size(); ++i)
        cast.scene.counts[i] = float(std::min(cast.scene.counts[i] * kCast[i % 3], 4000.0));
    // The camera's own preview shows the cast as well.
    for (size_t i = 0; i < cast.scene.look.rgb.size(); ++i)
        cast.scene.look.rgb[i] = uint8_t(std::lround(
            255.0 * LinearToSrgb(SrgbToLinear(cast.scene.look.rgb[i] / 255.0) * kCast[i % 3] / kCast[0])));
    cast.refine = false;
    jobs.push_back(std::move(cast));
    std::vector<Trial> trials;
    for (SampleJob& job : jobs) {
        MatchFlare(job.scene, inverse.ChartFlare());
        if (job.refine)
            trials.push_back({&job.capture, &job.scene, job.scene.look, LookTargets(job.scene.look), {}});
    }
    if (!RefineScenes(inverse, trials, root, error))
        return false;

    std::vector<std::string> errors(jobs.size());
    {
        std::vector<std::thread> threads;
        for (size_t j = 0; j < jobs.size(); ++j)
            threads.emplace_back([&, j] {
                const rawtest::Bytes bytes = BuildRaw(jobs[j].capture, jobs[j].scene);
                WriteFile(root / jobs[j].name, std::vector<uint8_t>(bytes.begin(), bytes.end()), errors[j]);
            });
        for (std::thread& t : threads)
            t.join();
    }
    for (size_t j = 0; j < jobs.size(); ++j) {
        if (!errors[j].empty()) {
            error = errors[j];
            return false;
        }
        report.written.push_back(jobs[j].name);
    }

    // One JPEG and one TIFF, developed by the engine from the first and the chart raw, so
    // that they carry the capture's properties; both requests go to the pool at once.
    struct Output {
        const SampleJob* job;
        std::string name;
        int type, format;
    };
    const auto chartJob =
        std::find_if(jobs.begin(), jobs.end(), [](const SampleJob& j) { return j.name == "chart.q7f"; });
    const Output outputs[2] = {
        {&jobs.front(), jobs.front().capture.stem + ".jpg", kSaveJPEG, kRGB24},
        {&*chartJob, "chart.tif", kSaveTIFF, kRGB48},
    };
    FIPManagerPool* pool = GetIPManagerPool();
    if (pool == nullptr) {
        error = "the development engine could not be started";
        return false;
    }
    FIPManagerRequest saves[2];
    for (int i = 0; i < 2; ++i) {
        const Output& out = outputs[i];
        const fs::path target = root / out.name;
        fs::remove(target, ec);
        developtest::PrepareSave(saves[i], developtest::DiskURL((root / out.job->name).string()),
                                 developtest::DiskURL(target.string()), out.type, out.format,
                                 kDefaultColorSpace, out.job->scene.cols + 2 * kMarginCols,
                                 out.job->scene.rows + 2 * kMarginRows);
        pool->Request(&saves[i]);
    }
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::minutes(5);
    while ((saves[0].m_Async.IsInProgress() || saves[1].m_Async.IsInProgress()) &&
           std::chrono::steady_clock::now() < deadline)
        pool->Idle();
    for (int i = 0; i < 2; ++i) {
        if (saves[i].m_Async.GetState() != kCompleted) {
            error = outputs[i].name +
                    ": the engine could not save it: " + saves[i].m_Async.m_usErrorText.GetNarrow();
            return false;
        }
        report.written.push_back(outputs[i].name);
    }

    if (!WriteFile(root / ".complete", {}, error))
        return false;
    return true;
}

} // namespace samples
