#pragma once
// A font by name and point size. Headless: fonts are not loaded, so any name is kept as
// given and nothing is measured.

#include <string>
#include <utility>

namespace platform {

struct Font {
    std::string name;
    double pointSize = 17;

    // The platform's default text font.
    static Font systemFont(double pointSize) { return {".SFUIText-Regular", pointSize}; }
    static Font named(std::string name, double pointSize) { return {std::move(name), pointSize}; }

    bool operator==(const Font&) const = default;
};

}  // namespace platform
