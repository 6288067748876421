#pragma once
// A colour as red, green, blue and alpha components, each nominally 0 to 1 (values
// outside are kept, as the platform's extended range keeps them).

#include <iosfwd>

namespace platform {

struct Color {
    double red = 0, green = 0, blue = 0, alpha = 1;

    static constexpr Color rgba(double r, double g, double b, double a) { return {r, g, b, a}; }
    static constexpr Color withWhite(double w, double a) { return {w, w, w, a}; }
    static constexpr Color clear() { return {0, 0, 0, 0}; }
    static constexpr Color black() { return {0, 0, 0, 1}; }
    static constexpr Color white() { return {1, 1, 1, 1}; }

    constexpr Color withAlpha(double a) const { return {red, green, blue, a}; }
    bool operator==(const Color&) const = default;
};

std::ostream& operator<<(std::ostream& os, const Color& c);

}  // namespace platform
