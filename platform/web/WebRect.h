#pragma once
// A web view's frame in points.

namespace platform {

struct WebRect {
    double x = 0;
    double y = 0;
    double width = 0;
    double height = 0;

    bool operator==(const WebRect&) const = default;
};

}  // namespace platform
