#pragma once
// A point in time: seconds since 1970, read from the platform clock.

#include "platform/foundation/Clock.h"

namespace platform {

class Date {
  public:
    constexpr Date() = default;
    constexpr explicit Date(double secondsSince1970) : seconds_(secondsSince1970) {}
    static Date now() { return Date(Clock::wallSeconds()); }
    static Date distantPast() { return Date(-62135769600.0); }
    static Date distantFuture() { return Date(64092211200.0); }

    constexpr double timeIntervalSince1970() const { return seconds_; }
    constexpr double timeIntervalSince(Date other) const { return seconds_ - other.seconds_; }
    double timeIntervalSinceNow() const { return seconds_ - Clock::wallSeconds(); }
    constexpr Date addingTimeInterval(double seconds) const { return Date(seconds_ + seconds); }

    constexpr auto operator<=>(const Date&) const = default;

  private:
    double seconds_ = 0;
};

}  // namespace platform
