#pragma once
// System sounds by number, as the platform plays them (4095 vibrates). Nothing sounds
// here: every play is recorded with the platform clock's time, for tests and logs.
//
//   platform::SystemSound::play(platform::SystemSound::kVibrate);
//
// Thread-safe.

#include <cstdint>
#include <vector>

namespace platform {

class SystemSound {
  public:
    static constexpr uint32_t kVibrate = 4095;

    struct Played {
        uint32_t soundId;
        int64_t monotonicNanos;
    };

    static void play(uint32_t soundId);
    // Every play since the start (or the last reset), oldest first.
    static std::vector<Played> playedForTesting();
};

}  // namespace platform
