#pragma once
// System sounds by number, as the platform plays them (4095 vibrates). Nothing sounds
// here: the last plays are kept with the platform clock's time, and all are counted, for
// tests and logs; a long-running program keeps no more than those.
//
//   platform::SystemSound::play(platform::SystemSound::kVibrate);
//
// Thread-safe.

#include <cstddef>
#include <cstdint>
#include <vector>

namespace platform {

class SystemSound {
  public:
    static constexpr uint32_t kVibrate = 4095;
    // How many of the last plays are kept.
    static constexpr size_t kKeptPlays = 64;

    struct Played {
        uint32_t soundId;
        int64_t monotonicNanos;
    };

    static void play(uint32_t soundId);
    // The last plays (at most kKeptPlays) since the start or the last reset, oldest first.
    static std::vector<Played> playedForTesting();
    // All plays since the start or the last reset.
    static uint64_t playCountForTesting();
};

}  // namespace platform
