// Rectangles and the transformation matrices that place a decoded picture in
// a frame: scaling onto a rectangle, turning by quarter turns, moving. The
// y axis points down, as on screen, so a positive angle turns clockwise.
#pragma once

#include <cstdint>

struct Rect {
    std::int32_t left = 0, top = 0, right = 0, bottom = 0;
    std::int32_t Width() const { return right - left; }
    std::int32_t Height() const { return bottom - top; }
    bool Empty() const { return right <= left || bottom <= top; }
    bool operator==(const Rect&) const = default;
};

inline Rect MakeRect(std::int32_t left, std::int32_t top, std::int32_t width, std::int32_t height) {
    return {left, top, left + width, top + height};
}

// x' = a·x + b·y + tx, y' = c·x + d·y + ty.
struct Matrix {
    double a = 1, b = 0, c = 0, d = 1, tx = 0, ty = 0;

    static Matrix Identity() { return {}; }
    // Scales and moves `from` exactly onto `to`.
    static Matrix MapRect(const Rect& from, const Rect& to);
    // Turns by a multiple of 90 degrees (clockwise for positive angles)
    // about the point, after this matrix.
    Matrix Rotated(int degrees, double aboutX = 0, double aboutY = 0) const;
    Matrix Translated(double dx, double dy) const;
    // The bounding rectangle of a transformed rectangle, rounded to whole pixels.
    Rect TransformRect(const Rect& r) const;
    // The quarter turn the matrix makes: 0, 90, 180 or 270 (clockwise).
    int QuarterTurns() const;
};
