#pragma once

#include <cstdint>

// A rectangle with exclusive right and bottom edges: width = right - left.
struct FRect {
    int32_t left = 0;
    int32_t top = 0;
    int32_t right = 0;
    int32_t bottom = 0;

    FRect() = default;
    FRect(int32_t l, int32_t t, int32_t r, int32_t b) : left(l), top(t), right(r), bottom(b) {}

    // Stores the four values as given; no test of order or sign.
    void Set(int32_t l, int32_t t, int32_t r, int32_t b)
    {
        left = l;
        top = t;
        right = r;
        bottom = b;
    }
    void Clear() { Set(0, 0, 0, 0); }
    void Copy(const FRect& other) { *this = other; }

    int32_t Width() const { return right - left; }
    int32_t Height() const { return bottom - top; }

    void SetLeft(int32_t l) { left = l; }
    void SetTop(int32_t t) { top = t; }
    void SetWidth(int32_t w) { right = left + w; }
    void SetHeight(int32_t h) { bottom = top + h; }

    void Offset(int32_t dx, int32_t dy)
    {
        left += dx;
        right += dx;
        top += dy;
        bottom += dy;
    }

    // Into the coordinates of a frame whose corner is (x, y), saturating at the int limits:
    // rectangles from outside data may lie anywhere, INT_MIN included, where negating the
    // corner for Offset would overflow.
    void OffsetFrom(int32_t x, int32_t y)
    {
        const auto less = [](int32_t value, int32_t by) {
            const int64_t d = int64_t{value} - by;
            return static_cast<int32_t>(d < INT32_MIN ? INT32_MIN : (d > INT32_MAX ? INT32_MAX : d));
        };
        left = less(left, x);
        right = less(right, x);
        top = less(top, y);
        bottom = less(bottom, y);
    }

    void MoveToOrigin()
    {
        right -= left;
        bottom -= top;
        left = 0;
        top = 0;
    }

    // Rectangles that only touch do not intersect; an empty one intersects nothing.
    bool Intersects(const FRect& other) const
    {
        if (Width() <= 0 || Height() <= 0 || other.Width() <= 0 || other.Height() <= 0)
            return false;
        return other.right - 1 >= left && other.bottom - 1 >= top && right - 1 >= other.left &&
               bottom - 1 >= other.top;
    }

    // Called on the bounds: clips `destination` to them and moves the edges of `source`
    // by the same share of its own size. Callers pass a destination that is not empty.
    void ClipScaled(FRect& destination, FRect& source) const
    {
        // 64-bit throughout: spans and their products overflow 32 bits for large rectangles.
        const int64_t wd = int64_t{destination.right} - destination.left;
        const int64_t hd = int64_t{destination.bottom} - destination.top;
        const int64_t ws = int64_t{source.right} - source.left;
        const int64_t hs = int64_t{source.bottom} - source.top;
        if (wd == 0 || hd == 0)
            return;
        if (destination.left < left) {
            source.left = static_cast<int32_t>(source.left + (int64_t{left} - destination.left) * ws / wd);
            destination.left = left;
        }
        if (destination.top < top) {
            source.top = static_cast<int32_t>(source.top + (int64_t{top} - destination.top) * hs / hd);
            destination.top = top;
        }
        if (destination.right > right) {
            source.right =
                static_cast<int32_t>(source.right - (int64_t{destination.right} - right) * ws / wd);
            destination.right = right;
        }
        if (destination.bottom > bottom) {
            source.bottom =
                static_cast<int32_t>(source.bottom - (int64_t{destination.bottom} - bottom) * hs / hd);
            destination.bottom = bottom;
        }
    }

    bool operator==(const FRect&) const = default;
};
