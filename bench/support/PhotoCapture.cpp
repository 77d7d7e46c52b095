#include "PhotoCapture.h"

#include <algorithm>
#include <cmath>
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

} // namespace

bool MakePhotoCapture(int width, int height, uint32_t seed, FSyntheticCapture& capture, std::string& why)
{
    std::vector<samples::RgbImage> photos;
    for (const samples::PhotoSource& source : samples::Photographs()) {
        samples::RgbImage photo;
        if (!samples::ReadPhoto(samples::PhotoFolder() + "/" + source.file, photo, why))
            return false;
        photos.push_back(std::move(photo));
    }
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

    // Tiles of twice each photograph's size, row by row, cycling through the photographs.
    struct Tile {
        int x, y, photo;
        bool mirror;
    };
    std::vector<Tile> tiles;
    int next = 0;
    for (int y = active.top; y < active.bottom;) {
        int rowHeight = 0;
        for (int x = active.left; x < active.right; ++next) {
            const samples::RgbImage& p = photos[size_t(next) % photos.size()];
            tiles.push_back({x, y, next % int(photos.size()), (next / int(photos.size())) % 2 == 1});
            x += 2 * p.cols;
            rowHeight = std::max(rowHeight, 2 * p.rows);
        }
        y += rowHeight;
    }

    Noise noise(seed);
    std::vector<double> scene(3 * size_t(w));
    for (int y = 0; y < h; ++y) {
        std::fill(scene.begin(), scene.end(), 0.0);
        if (y >= active.top && y < active.bottom) {
            for (const Tile& t : tiles) {
                const samples::RgbImage& p = photos[size_t(t.photo)];
                if (y < t.y || y >= t.y + 2 * p.rows)
                    continue;
                // Bilinear at half steps between the photograph's pixels.
                const double fy = std::max(0.0, (y - t.y) * 0.5 - 0.25);
                const int y0 = std::min(int(fy), p.rows - 1);
                const int y1 = std::min(y0 + 1, p.rows - 1);
                const double ty = fy - y0;
                for (int x = t.x; x < std::min(active.right, t.x + 2 * p.cols); ++x) {
                    const int u = t.mirror ? 2 * p.cols - 1 - (x - t.x) : x - t.x;
                    const double fx = std::max(0.0, u * 0.5 - 0.25);
                    const int x0 = std::min(int(fx), p.cols - 1);
                    const int x1 = std::min(x0 + 1, p.cols - 1);
                    const double tx = fx - x0;
                    for (int c = 0; c < 3; ++c) {
                        auto at = [&](int yy, int xx) {
                            return toLinear[p.rgb[(size_t(yy) * p.cols + xx) * 3 + c]];
                        };
                        const double v = (at(y0, x0) * (1 - tx) + at(y0, x1) * tx) * (1 - ty) +
                                         (at(y1, x0) * (1 - tx) + at(y1, x1) * tx) * ty;
                        scene[3 * size_t(x) + c] = v * kWhiteCounts * kDaylight[c];
                    }
                }
            }
        }
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

std::vector<uint16_t> Scene16(const FSyntheticCapture& capture)
{
    std::vector<uint16_t> out(capture.raw.size());
    for (size_t i = 0; i < out.size(); ++i)
        out[i] = uint16_t(std::clamp(int(capture.raw[i]) - int(capture.dark[i]), 0, 4095) * 16);
    return out;
}

} // namespace bench
