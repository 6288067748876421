#pragma once
// Plain geometry values in points: Point, Size, Rect and EdgeInsets, with the platform's
// text forms ("{x, y}", "{w, h}", "{{x, y}, {w, h}}", "{top, left, bottom, right}").
// Values, no invariants: a Rect may have a negative size; the min/max accessors read it
// as the platform does (standardised).

#include <iosfwd>
#include <string>

namespace platform {

struct Point {
    double x = 0;
    double y = 0;
    bool operator==(const Point&) const = default;
};

struct Size {
    double width = 0;
    double height = 0;
    bool operator==(const Size&) const = default;
};

struct Rect {
    Point origin;
    Size size;

    constexpr Rect() = default;
    constexpr Rect(Point o, Size s) : origin(o), size(s) {}
    constexpr Rect(double x, double y, double width, double height)
        : origin{x, y}, size{width, height} {}
    static constexpr Rect zero() { return Rect(); }

    double minX() const;
    double maxX() const;
    double midX() const { return origin.x + size.width / 2; }
    double minY() const;
    double maxY() const;
    double midY() const { return origin.y + size.height / 2; }
    double width() const;
    double height() const;
    Point center() const { return {midX(), midY()}; }

    bool isEmpty() const { return size.width == 0 || size.height == 0; }
    // Half-open: the minimum edges belong to the rectangle, the maximum edges do not.
    bool contains(Point p) const;
    bool contains(const Rect& other) const;
    bool intersects(const Rect& other) const;
    Rect standardized() const;
    Rect offsetBy(double dx, double dy) const;
    Rect insetBy(double dx, double dy) const;

    bool operator==(const Rect&) const = default;
};

struct EdgeInsets {
    double top = 0;
    double left = 0;
    double bottom = 0;
    double right = 0;
    bool operator==(const EdgeInsets&) const = default;
    // The rectangle shrunk by the insets.
    Rect inset(const Rect& r) const;
};

std::string toString(Point p);
std::string toString(Size s);
std::string toString(const Rect& r);
std::string toString(const EdgeInsets& e);

std::ostream& operator<<(std::ostream& os, Point p);
std::ostream& operator<<(std::ostream& os, Size s);
std::ostream& operator<<(std::ostream& os, const Rect& r);
std::ostream& operator<<(std::ostream& os, const EdgeInsets& e);

}  // namespace platform
