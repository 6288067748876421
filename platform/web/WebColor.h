#pragma once
// A colour for the web view's background: components from 0 to 1.

namespace platform {

struct WebColor {
    double red = 0;
    double green = 0;
    double blue = 0;
    double alpha = 0;

    static WebColor clear() { return {}; }
    static WebColor white() { return {1, 1, 1, 1}; }
    bool operator==(const WebColor&) const = default;
};

}  // namespace platform
