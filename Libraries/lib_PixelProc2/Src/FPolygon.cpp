#include "FPolygon.h"

#include <algorithm>
#include <cmath>

#include "FDebugTrace.h"

namespace
{

constexpr FRimmPoint kPolygon1[] = {{7759, 8388},  {8545, 4847},  {8899, 3834},   {9557, 3276},
                                    {13000, 3200}, {14700, 5000}, {13700, 11500}, {9952, 16300},
                                    {8626, 16000}, {7766, 13209}, {7662, 8899},   {7759, 8388}};
constexpr FRimmPoint kPolygon2[] = {{9500, 9700},  {10200, 7800},  {10500, 7700},  {11200, 8000},
                                    {11500, 9200}, {11200, 12500}, {10500, 14000}, {9500, 14100},
                                    {9000, 12500}, {9500, 9700}};
constexpr FRimmPoint kPolygon3[] = {{9700, 9700},  {10200, 8200},  {10500, 8100},  {10700, 8200},
                                    {10800, 9600}, {10600, 11000}, {10100, 11400}, {9500, 11300},
                                    {9400, 10700}, {9700, 9700}};
constexpr FRimmPoint kPolygon4[] = {{9600, 10200},  {9900, 10000},  {10100, 10000}, {10400, 10300},
                                    {10500, 11000}, {10500, 12500}, {10100, 14100}, {9850, 14300},
                                    {9100, 14200},  {9000, 13700},  {9000, 12700},  {9600, 10200}};

constexpr int32_t kPointLimit = 1000000;

double Distance(int64_t px, int64_t py, const FRimmPoint& q)
{
    const double dx = static_cast<double>(px - q.x);
    const double dy = static_cast<double>(py - q.y);
    return std::sqrt(dx * dx + dy * dy);
}

int32_t RoundOffset(double t, int64_t e)
{
    return static_cast<int32_t>(std::trunc(t * static_cast<double>(e) + 0.5));
}

} // namespace

int GetRimmPolygon(FRimmPoint* points, int number)
{
    const FRimmPoint* source = nullptr;
    int count = 0;
    switch (number) {
    case 1:
        source = kPolygon1;
        count = 12;
        break;
    case 2:
        source = kPolygon2;
        count = 10;
        break;
    case 3:
        source = kPolygon3;
        count = 10;
        break;
    case 4:
        source = kPolygon4;
        count = 12;
        break;
    default:
        return 0;
    }
    std::copy_n(source, count, points);
    return count;
}

char PointInPolygon(int32_t px, int32_t py, FRimmPoint* points, int count)
{
    for (int i = 0; i < count; ++i) {
        points[i].x -= px;
        points[i].y -= py;
    }
    int right = 0;
    int left = 0;
    for (int i = 0; i < count; ++i) {
        const FRimmPoint& a = points[i];
        const FRimmPoint& b = points[(i + count - 1) % count];
        if (a.x == 0 && a.y == 0)
            return 'v';
        // 64-bit products: a far point must not overflow the crossing abscissa.
        const double numerator =
            static_cast<double>(static_cast<int64_t>(a.x) * b.y - static_cast<int64_t>(b.x) * a.y);
        const double denominator = static_cast<double>(b.y) - a.y;
        if ((a.y > 0) != (b.y > 0) && numerator / denominator > 0.0)
            ++right;
        if ((a.y < 0) != (b.y < 0) && numerator / denominator < 0.0)
            ++left;
    }
    if ((right & 1) != (left & 1))
        return 'e';
    return (right & 1) != 0 ? 'i' : 'o';
}

void FPolygon::priNearestOnSegment(int32_t px, int32_t py, int32_t ax, int32_t ay, int32_t bx, int32_t by,
                                   double& distance, FRimmPoint& point)
{
    const int64_t ex = static_cast<int64_t>(bx) - ax;
    const int64_t ey = static_cast<int64_t>(by) - ay;
    const int64_t t = (static_cast<int64_t>(px) - ax) * ex + (static_cast<int64_t>(py) - ay) * ey;
    const int64_t length = ex * ex + ey * ey;
    if (t <= 0) {
        point = {ax, ay};
    } else if (length <= t) {
        point = {bx, by};
    } else {
        const double f = static_cast<double>(t) / static_cast<double>(length);
        point = {ax + RoundOffset(f, ex), ay + RoundOffset(f, ey)};
    }
    distance = Distance(px, py, point);
}

FRimmPoint FPolygon::NearestPoint(int32_t px, int32_t py) const
{
    double best = 1e20;
    FRimmPoint bestPoint{0, 0};
    for (int i = 0; i + 1 < m_iCount; ++i) {
        const FRimmPoint& a = m_pPoints[i];
        const FRimmPoint& b = m_pPoints[i + 1];
        double distance = 0.0;
        FRimmPoint point;
        priNearestOnSegment(px, py, a.x + px, a.y + py, b.x + px, b.y + py, distance, point);
        if (distance < best) {
            best = distance;
            bestPoint = point;
        }
    }
    return bestPoint;
}

FRimmPoint FPolygon::NearestBoundaryPoint(FRimmPoint p) const
{
    double best = 1e20;
    FRimmPoint bestPoint = p;
    auto consider = [&](const FRimmPoint& q) {
        const double distance = Distance(p.x, p.y, q);
        if (distance < best) {
            best = distance;
            bestPoint = q;
        }
    };
    for (int i = 0; i + 1 < m_iCount; ++i) {
        const FRimmPoint& a = m_pPoints[i];
        const FRimmPoint& b = m_pPoints[i + 1];
        const int64_t ex = static_cast<int64_t>(b.x) - a.x;
        const int64_t ey = static_cast<int64_t>(b.y) - a.y;
        const int64_t length = ex * ex + ey * ey;
        if (length == 0)
            continue;
        const double t = static_cast<double>((static_cast<int64_t>(p.x) - a.x) * ex +
                                             (static_cast<int64_t>(p.y) - a.y) * ey) /
                         static_cast<double>(length);
        if (t >= 0.0 && t <= 1.0)
            consider({a.x + RoundOffset(t, ex), a.y + RoundOffset(t, ey)});
    }
    for (int i = 0; i + 1 < m_iCount; ++i)
        consider(m_pPoints[i]);
    return bestPoint;
}

FRimmPoint ConstrainToRimmPolygon(int number, FRimmPoint p)
{
    if (number < 1 || number > 3) {
        DebugTrace("Returning without constraining due to illegal poly number %d\n", number);
        return p;
    }
    FRimmPoint points[kMaxRimmPolygonPoints];
    const int count = GetRimmPolygon(points, number);
    if (PointInPolygon(p.x, p.y, points, count) != 'o')
        return p;
    return FPolygon(points, count).NearestPoint(p.x, p.y);
}

FRimmPoint ConstrainToRimmPolygonEx(int number, FRimmPoint p, bool force, bool* notOutside)
{
    FRimmPoint points[kMaxRimmPolygonPoints];
    const int count = GetRimmPolygon(points, number);
    if (count == 0) {
        DebugTrace("Returning without constraining due to illegal poly number %d\n", number);
        if (notOutside != nullptr)
            *notOutside = true;
        return p;
    }
    const bool inside = PointInPolygon(p.x, p.y, points, count) != 'o';
    GetRimmPolygon(points, number);
    if (notOutside != nullptr)
        *notOutside = inside;
    if (inside && !force)
        return p;
    return FPolygon(points, count).NearestBoundaryPoint(p);
}

bool RimmBrightnessValue(double fNumber, double exposureTime, double compensation, double isoGain, double& bv)
{
    bv = 0.0;
    if (!(fNumber >= 0.5) || !(exposureTime > 0.0) || !(isoGain > 0.0))
        return false;
    const double value = 3.322 * std::log10(fNumber * fNumber / exposureTime) + compensation -
                         std::log10(32.0 * isoGain) / std::log10(2.0);
    if (!std::isfinite(value))
        return false;
    bv = value;
    return true;
}

bool RimmPointOf(const FDoubleRGB& rimm, FRimmPoint& p)
{
    if (!(rimm.g > 0.0))
        return false;
    const double x = std::trunc(10000.0 * rimm.r / rimm.g);
    const double y = std::trunc(10000.0 * rimm.b / rimm.g);
    if (!std::isfinite(x) || !std::isfinite(y))
        return false;
    p = {static_cast<int32_t>(std::clamp<double>(x, -kPointLimit, kPointLimit)),
         static_cast<int32_t>(std::clamp<double>(y, -kPointLimit, kPointLimit))};
    return true;
}

FDoubleRGB UnconstrainedRimmNeutral(FDoubleRGB v)
{
    v.r = v.r > 0.1 ? v.r : 0.1;
    v.g = v.g > 0.1 ? v.g : 0.1;
    v.b = v.b > 0.1 ? v.b : 0.1;
    v.Scale(3.0 / (v.r + v.g + v.b));
    v.r = v.r > 0.6 ? v.r : 0.6;
    v.g = v.g > 0.9 ? v.g : 0.9;
    v.b = v.b > 0.5 ? v.b : 0.5;
    v.Divide(v.g);
    return v;
}

FDoubleRGB NormalizeNeutral(const FDoubleRGB& v)
{
    const double largest = std::max({v.r, v.g, v.b});
    if (!(largest > 0.0) || !std::isfinite(largest) || !std::isfinite(v.r + v.g + v.b))
        return {1.0, 1.0, 1.0};
    return v.DivideCopy(largest);
}
