#include "PhotoCapture.h"

#include <algorithm>
#include <cmath>
#include <mutex>
#include <vector>

#include "SampleSet.h"

namespace bench
{

namespace
{

// A camera's relative response to daylight: greys read as this triple.
constexpr double kDaylight[3] = {0.62, 1.0, 0.78};
constexpr double kWhiteCounts = 3400.0;

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
    // Sum of four uniforms: close enough to a normal distribution for sensor noise.
    double Gaussian() { return (Uniform() + Uniform() + Uniform() + Uniform() - 2.0) * 1.7320508; }

private:
    uint64_t m_state;
};

double Linear(uint8_t v)
{
    const double s = v / 255.0;
    return s <= 0.04045 ? s / 12.92 : std::pow((s + 0.055) / 1.055, 2.4);
}

// The photographs side by side over an area, each at twice its size, every other one
// mirrored: bilinear samples of the 8-bit photographs.
class Mosaic
{
public:
    // The photographs are read once per process.
    bool Read(std::string& why)
    {
        static std::mutex lock;
        static std::vector<samples::RgbImage> photos;
        static std::string failure;
        std::lock_guard<std::mutex> hold(lock);
        if (photos.empty() && failure.empty()) {
            for (const samples::PhotoSource& source : samples::Photographs()) {
                samples::RgbImage photo;
                if (!samples::ReadPhoto(samples::PhotoFolder() + "/" + source.file, photo, failure)) {
                    photos.clear();
                    break;
                }
                photos.push_back(std::move(photo));
            }
        }
        why = failure;
        m_photos = photos;
        return !m_photos.empty();
    }

    // Lays tiles over [left, right) x [top, bottom), starting with photograph `first`.
    void Lay(int left, int top, int right, int bottom, int first)
    {
        m_tiles.clear();
        int next = first;
        const int count = int(m_photos.size());
        for (int y = top; y < bottom;) {
            int rowHeight = 0;
            for (int x = left; x < right; ++next) {
                const samples::RgbImage& p = m_photos[size_t(next % count)];
                m_tiles.push_back({x, y, next % count, (next / count) % 2 == 1});
                x += 2 * p.cols;
                rowHeight = std::max(rowHeight, 2 * p.rows);
            }
            y += rowHeight;
        }
        m_right = right;
    }

    // Calls sample(x, c, value) with values in [0, 255] for every pixel of row y the tiles cover.
    template <class F>
    void Row(int y, F&& sample) const
    {
        for (const Tile& t : m_tiles) {
            const samples::RgbImage& p = m_photos[size_t(t.photo)];
            if (y < t.y || y >= t.y + 2 * p.rows)
                continue;
            // Bilinear at half steps between the photograph's pixels.
            const double fy = std::max(0.0, (y - t.y) * 0.5 - 0.25);
            const int y0 = std::min(int(fy), p.rows - 1);
            const int y1 = std::min(y0 + 1, p.rows - 1);
            const double ty = fy - y0;
            for (int x = t.x; x < std::min(m_right, t.x + 2 * p.cols); ++x) {
                const int u = t.mirror ? 2 * p.cols - 1 - (x - t.x) : x - t.x;
                const double fx = std::max(0.0, u * 0.5 - 0.25);
                const int x0 = std::min(int(fx), p.cols - 1);
                const int x1 = std::min(x0 + 1, p.cols - 1);
                const double tx = fx - x0;
                for (int c = 0; c < 3; ++c) {
                    auto at = [&](int yy, int xx) {
                        return double(p.rgb[(size_t(yy) * p.cols + xx) * 3 + c]);
                    };
                    sample(x, c,
                           (at(y0, x0) * (1 - tx) + at(y0, x1) * tx) * (1 - ty) +
                               (at(y1, x0) * (1 - tx) + at(y1, x1) * tx) * ty);
                }
            }
        }
    }

private:
    struct Tile {
        int x, y, photo;
        bool mirror;
    };
    std::vector<samples::RgbImage> m_photos;
    std::vector<Tile> m_tiles;
    int m_right = 0;
};

} // namespace

bool MakePhotoCapture(int width, int height, uint32_t seed, FSyntheticCapture& capture, std::string& why)
{
    Mosaic mosaic;
    if (!mosaic.Read(why))
        return false;
    double toLinear[256];
    for (int i = 0; i < 256; ++i)
        toLinear[i] = Linear(uint8_t(i));

    capture = FSyntheticCapture();
    capture.width = std::max(width, 64);
    capture.height = std::max(height, 48);
    const int w = capture.width;
    const int h = capture.height;
    capture.raw.resize(3 * size_t(w) * h);
    capture.dark.resize(capture.raw.size());
    const FRect active(16, 12, w - 16, h - 12);
    mosaic.Lay(active.left, active.top, active.right, active.bottom, 0);

    Noise noise(seed);
    std::vector<double> scene(3 * size_t(w));
    for (int y = 0; y < h; ++y) {
        std::fill(scene.begin(), scene.end(), 0.0);
        if (y >= active.top && y < active.bottom)
            mosaic.Row(y, [&](int x, int c, double v) {
                scene[3 * size_t(x) + c] =
                    toLinear[std::clamp(int(std::lround(v)), 0, 255)] * kWhiteCounts * kDaylight[c];
            });
        uint16_t* raw = capture.RawRow(y);
        uint16_t* dark = capture.DarkRow(y);
        for (int i = 0; i < 3 * w; ++i) {
            const int d = FSyntheticCapture::kDarkLevel + int(noise.Uniform() * 5.0) - 2;
            dark[i] = uint16_t(d);
            // Shot noise of about 8 electrons a count, and read noise.
            const double s = scene[size_t(i)];
            const double lit = s + noise.Gaussian() * std::sqrt(1.5 + s / 8.0);
            raw[i] = uint16_t(std::clamp<long>(std::lround(d + lit), 0, FSyntheticCapture::kClipLevel));
        }
    }
    return true;
}

bool MakePhotoPicture(int cols, int rows, uint32_t seed, std::vector<uint8_t>& rgb, std::string& why)
{
    Mosaic mosaic;
    if (!mosaic.Read(why))
        return false;
    // Shifted up and left by the seed, so that each picture shows another part.
    const int shiftX = int(seed * 137 % 509), shiftY = int(seed * 71 % 383);
    mosaic.Lay(-shiftX, -shiftY, cols, rows, int(seed % 4));
    rgb.assign(3 * size_t(cols) * rows, 0);
    for (int y = 0; y < rows; ++y)
        mosaic.Row(y, [&](int x, int c, double v) {
            if (x >= 0)
                rgb[(size_t(y) * cols + x) * 3 + c] = uint8_t(std::clamp(int(std::lround(v)), 0, 255));
        });
    return true;
}

std::vector<uint16_t> Scene16(const FSyntheticCapture& capture)
{
    std::vector<uint16_t> out(capture.raw.size());
    for (size_t i = 0; i < out.size(); ++i)
        out[i] = uint16_t(std::clamp(int(capture.raw[i]) - int(capture.dark[i]), 0, 4095) * 16);
    return out;
}

} // namespace bench
