#include "IconPainter.h"

#include <algorithm>
#include <cmath>

namespace
{

struct Colour {
    double r = 0, g = 0, b = 0, a = 0; // 0..1, straight
};

constexpr int kSamples = 4; // per axis, for smooth edges at every size
constexpr int kMaxSize = 1024;

double RoundRectDistance(double x, double y, double x0, double y0, double x1, double y1, double r)
{
    const double cx = std::clamp(x, x0 + r, x1 - r);
    const double cy = std::clamp(y, y0 + r, y1 - r);
    const bool inside = x >= x0 && x <= x1 && y >= y0 && y <= y1;
    const double d = std::hypot(x - cx, y - cy);
    return inside ? d - r : std::max(d - r, 0.0) + 1e-9;
}

// The colour of one point of the icon, in units of the icon's width (0..1).
Colour Sample(double x, double y)
{
    // The tile: a rounded square with a soft light from above.
    const double margin = 0.0625;
    if (RoundRectDistance(x, y, margin, margin, 1 - margin, 1 - margin, 0.19) > 0)
        return {};
    const double shade = 0.20 - 0.09 * (y - margin) / (1 - 2 * margin);
    Colour c{shade, shade * 1.02, shade * 1.08, 1};

    const double cx = 0.5, cy = 0.5;
    const double d = std::hypot(x - cx, y - cy);
    // The lens barrel: a light ring with a blue inner edge.
    if (d <= 0.38 && d > 0.305) {
        const double v = 0.80 - 0.25 * (y - 0.12);
        return {v, v, v * 1.03, 1};
    }
    if (d <= 0.305 && d > 0.27)
        return {0.24, 0.56, 0.84, 1};
    if (d > 0.27)
        return c;
    // The glass: near black, and three colour discs that add up to white where they meet.
    c = {0.04, 0.05, 0.06, 1};
    struct Disc {
        double angle, r, g, b;
    };
    const Disc discs[] = {{-90, 0.92, 0.25, 0.25}, {30, 0.25, 0.80, 0.32}, {150, 0.24, 0.52, 0.95}};
    for (const Disc& disc : discs) {
        const double a = disc.angle * M_PI / 180;
        const double dx = x - (cx + 0.075 * std::cos(a));
        const double dy = y - (cy + 0.075 * std::sin(a));
        if (dx * dx + dy * dy <= 0.135 * 0.135) {
            c.r += disc.r;
            c.g += disc.g;
            c.b += disc.b;
        }
    }
    c.r = std::min(c.r, 1.0);
    c.g = std::min(c.g, 1.0);
    c.b = std::min(c.b, 1.0);
    return c;
}

uint8_t Byte(double v)
{
    return static_cast<uint8_t>(std::lround(std::clamp(v, 0.0, 1.0) * 255));
}

} // namespace

FIconImage PaintRawbenchIcon(int size)
{
    FIconImage image;
    if (size < 1 || size > kMaxSize)
        return image;
    image.size = size;
    image.rgba.assign(size_t(size) * size * 4, 0);
    for (int py = 0; py < size; ++py) {
        for (int px = 0; px < size; ++px) {
            // Averaged with premultiplied alpha, so edges do not darken.
            double r = 0, g = 0, b = 0, a = 0;
            for (int sy = 0; sy < kSamples; ++sy) {
                for (int sx = 0; sx < kSamples; ++sx) {
                    const Colour c =
                        Sample((px + (sx + 0.5) / kSamples) / size, (py + (sy + 0.5) / kSamples) / size);
                    r += c.r * c.a;
                    g += c.g * c.a;
                    b += c.b * c.a;
                    a += c.a;
                }
            }
            uint8_t* p = &image.rgba[(size_t(py) * size + px) * 4];
            if (a > 0) {
                p[0] = Byte(r / a);
                p[1] = Byte(g / a);
                p[2] = Byte(b / a);
            }
            p[3] = Byte(a / (kSamples * kSamples));
        }
    }
    return image;
}
