#pragma once
// A 2-D affine transform [a b 0; c d 0; tx ty 1], applied to row vectors as the
// platform does: x' = a*x + c*y + tx, y' = b*x + d*y + ty.

#include "platform/foundation/Geometry.h"

namespace platform {

struct AffineTransform {
    double a = 1, b = 0, c = 0, d = 1, tx = 0, ty = 0;

    static constexpr AffineTransform identity() { return {}; }
    static AffineTransform translation(double tx, double ty);
    static AffineTransform scale(double sx, double sy);
    static AffineTransform rotation(double radians);

    bool isIdentity() const { return *this == AffineTransform(); }
    // This transform followed by `then`.
    AffineTransform concat(const AffineTransform& then) const;
    // A transform that cannot be inverted is answered unchanged, as the platform does.
    AffineTransform inverted() const;
    Point apply(Point p) const;
    Size applyToSize(Size s) const;

    bool operator==(const AffineTransform&) const = default;
};

}  // namespace platform
