#pragma once
// The main screen: its size in points and its scale. The bounds follow the interface
// orientation (the portrait size, turned for a landscape interface). Settable for tests
// and for the desktop host (before other threads read them); any thread may read.

#include "platform/foundation/Geometry.h"

namespace platform {

class Screen {
  public:
    static Screen& main();

    // At (0, 0), in the application's current interface orientation.
    Rect bounds() const;
    double scale() const { return scale_; }
    Size portraitSize() const { return portraitSize_; }

    void setPortraitSize(Size size) { portraitSize_ = size; }
    void setScale(double scale) { scale_ = scale; }

    void resetForTesting();

  private:
    Screen() = default;
    Size portraitSize_{375, 667};
    double scale_ = 2.0;
};

}  // namespace platform
