// Rectangles and transformation matrices.
#include "platform/geometry.h"

#include <algorithm>
#include <cmath>

Matrix Matrix::MapRect(const Rect& from, const Rect& to) {
    Matrix m;
    m.a = from.Width() != 0 ? static_cast<double>(to.Width()) / from.Width() : 1;
    m.d = from.Height() != 0 ? static_cast<double>(to.Height()) / from.Height() : 1;
    m.tx = to.left - from.left * m.a;
    m.ty = to.top - from.top * m.d;
    return m;
}

Matrix Matrix::Rotated(int degrees, double aboutX, double aboutY) const {
    // Exact quarter turns: no floating-point sine and cosine residue.
    int turns = ((degrees / 90) % 4 + 4) % 4;
    double cosine = 1, sine = 0;
    switch (turns) {
    case 1: cosine = 0, sine = 1; break;
    case 2: cosine = -1, sine = 0; break;
    case 3: cosine = 0, sine = -1; break;
    default: break;
    }
    // With y down, (x, y) -> (x·cos − y·sin, x·sin + y·cos) turns clockwise.
    Matrix r;
    r.a = cosine, r.b = -sine, r.c = sine, r.d = cosine;
    r.tx = aboutX - (aboutX * cosine - aboutY * sine);
    r.ty = aboutY - (aboutX * sine + aboutY * cosine);
    Matrix out;
    out.a = r.a * a + r.b * c;
    out.b = r.a * b + r.b * d;
    out.c = r.c * a + r.d * c;
    out.d = r.c * b + r.d * d;
    out.tx = r.a * tx + r.b * ty + r.tx;
    out.ty = r.c * tx + r.d * ty + r.ty;
    return out;
}

Matrix Matrix::Translated(double dx, double dy) const {
    Matrix out = *this;
    out.tx += dx;
    out.ty += dy;
    return out;
}

Rect Matrix::TransformRect(const Rect& r) const {
    const double xs[2] = {static_cast<double>(r.left), static_cast<double>(r.right)};
    const double ys[2] = {static_cast<double>(r.top), static_cast<double>(r.bottom)};
    double minX = 1e300, minY = 1e300, maxX = -1e300, maxY = -1e300;
    for (double x : xs)
        for (double y : ys) {
            const double px = a * x + b * y + tx, py = c * x + d * y + ty;
            minX = std::min(minX, px), maxX = std::max(maxX, px);
            minY = std::min(minY, py), maxY = std::max(maxY, py);
        }
    return {static_cast<std::int32_t>(std::lround(minX)), static_cast<std::int32_t>(std::lround(minY)),
            static_cast<std::int32_t>(std::lround(maxX)), static_cast<std::int32_t>(std::lround(maxY))};
}

int Matrix::QuarterTurns() const {
    if (a == 0 && d == 0) return c > 0 ? 90 : 270;
    return a < 0 ? 180 : 0;
}
