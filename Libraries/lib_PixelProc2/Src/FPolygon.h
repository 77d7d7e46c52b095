#pragma once

#include <cstdint>

#include "FColorMatrix.h"
#include "FIntRGB.h"

// The plausible illuminants of automatic white balance: polygons in the plane
// x = 10000 R / G, y = 10000 B / G of RIMM RGB, chosen by the scene's brightness value.

struct FRimmPoint {
    int32_t x = 0;
    int32_t y = 0;

    bool operator==(const FRimmPoint&) const = default;
};

// Points of the largest polygon, first point repeated at the end.
inline constexpr int kMaxRimmPolygonPoints = 12;

// Copies polygon 1 to 4 into points (room for kMaxRimmPolygonPoints) and returns its count
// (the closing repetition included); 0 for any other number.
int GetRimmPolygon(FRimmPoint* points, int number);

// Ray-crossing test with the point moved to the origin: 'i' inside, 'o' outside, 'e' on an
// edge, 'v' on a vertex. Translates the points by (-px, -py) in place.
char PointInPolygon(int32_t px, int32_t py, FRimmPoint* points, int count);

// A polygon over points kept elsewhere.
class FPolygon
{
public:
    FPolygon(FRimmPoint* points, int count) : m_pPoints(points), m_iCount(count) {}

    // Over points that PointInPolygon(px, py) has translated: the nearest boundary point,
    // in untranslated coordinates; the first of equally near edges wins.
    FRimmPoint NearestPoint(int32_t px, int32_t py) const;
    // Over untranslated points: the nearest point of the edges and vertices.
    FRimmPoint NearestBoundaryPoint(FRimmPoint p) const;

private:
    static void priNearestOnSegment(int32_t px, int32_t py, int32_t ax, int32_t ay, int32_t bx, int32_t by,
                                    double& distance, FRimmPoint& point);

    FRimmPoint* m_pPoints;
    int m_iCount;
};

// P itself when it is not outside polygon 1 to 3, else its nearest boundary point; any
// other number returns P (traced).
FRimmPoint ConstrainToRimmPolygon(int number, FRimmPoint p);

// Polygon 1 to 4. Stores through notOutside (may be null) whether P was inside, on an edge
// or on a vertex; returns P when it was and force is false, else the nearest boundary point.
FRimmPoint ConstrainToRimmPolygonEx(int number, FRimmPoint p, bool force, bool* notOutside = nullptr);

// The brightness value 3.322 log10(F^2 / t) + compensation - log2(32 isoGain). False (and
// 0) when the F-number is below 0.5, the time is not positive or the gain not positive.
bool RimmBrightnessValue(double fNumber, double exposureTime, double compensation, double isoGain,
                         double& bv);

// The RIMM point of a colour; false when green is not positive or the point is not finite.
// Coordinates are held to +-1000000.
bool RimmPointOf(const FDoubleRGB& rimm, FRimmPoint& p);

// The neutral of an estimate that is not constrained: each channel at least 0.1, scaled to
// a sum of 3, R at least 0.6, G 0.9, B 0.5, divided by G.
FDoubleRGB UnconstrainedRimmNeutral(FDoubleRGB v);

// Divides by the largest channel; a triple with no positive finite largest channel
// becomes (1, 1, 1).
FDoubleRGB NormalizeNeutral(const FDoubleRGB& v);
