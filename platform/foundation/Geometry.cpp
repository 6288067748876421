#include "platform/foundation/Geometry.h"

#include <fmt/core.h>

#include <algorithm>
#include <ostream>

namespace platform {
namespace {
// Seventeen significant digits, as the platform prints geometry: 320 stays "320".
std::string num(double v) {
    return fmt::format("{:.17g}", v);
}
}  // namespace

double Rect::minX() const {
    return std::min(origin.x, origin.x + size.width);
}
double Rect::maxX() const {
    return std::max(origin.x, origin.x + size.width);
}
double Rect::minY() const {
    return std::min(origin.y, origin.y + size.height);
}
double Rect::maxY() const {
    return std::max(origin.y, origin.y + size.height);
}
double Rect::width() const {
    return size.width < 0 ? -size.width : size.width;
}
double Rect::height() const {
    return size.height < 0 ? -size.height : size.height;
}

bool Rect::contains(Point p) const {
    return !isEmpty() && p.x >= minX() && p.x < maxX() && p.y >= minY() && p.y < maxY();
}

bool Rect::contains(const Rect& o) const {
    return !isEmpty() && !o.isEmpty() && o.minX() >= minX() && o.maxX() <= maxX() &&
           o.minY() >= minY() && o.maxY() <= maxY();
}

bool Rect::intersects(const Rect& o) const {
    return !isEmpty() && !o.isEmpty() && o.minX() < maxX() && minX() < o.maxX() &&
           o.minY() < maxY() && minY() < o.maxY();
}

Rect Rect::standardized() const {
    return Rect(minX(), minY(), width(), height());
}
Rect Rect::offsetBy(double dx, double dy) const {
    return Rect(origin.x + dx, origin.y + dy, size.width, size.height);
}
Rect Rect::insetBy(double dx, double dy) const {
    Rect s = standardized();
    return Rect(s.origin.x + dx, s.origin.y + dy, s.size.width - 2 * dx, s.size.height - 2 * dy);
}

Rect EdgeInsets::inset(const Rect& r) const {
    return Rect(r.origin.x + left, r.origin.y + top, r.size.width - left - right,
                r.size.height - top - bottom);
}

std::string toString(Point p) {
    return "{" + num(p.x) + ", " + num(p.y) + "}";
}
std::string toString(Size s) {
    return "{" + num(s.width) + ", " + num(s.height) + "}";
}
std::string toString(const Rect& r) {
    return "{" + toString(r.origin) + ", " + toString(r.size) + "}";
}
std::string toString(const EdgeInsets& e) {
    return "{" + num(e.top) + ", " + num(e.left) + ", " + num(e.bottom) + ", " + num(e.right) + "}";
}

std::ostream& operator<<(std::ostream& os, Point p) {
    return os << toString(p);
}
std::ostream& operator<<(std::ostream& os, Size s) {
    return os << toString(s);
}
std::ostream& operator<<(std::ostream& os, const Rect& r) {
    return os << toString(r);
}
std::ostream& operator<<(std::ostream& os, const EdgeInsets& e) {
    return os << toString(e);
}

}  // namespace platform
