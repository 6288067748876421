#include "platform/device/SystemSound.h"

#include <array>
#include <mutex>

#include "platform/foundation/Clock.h"
#include "platform/foundation/SharedInstances.h"

namespace platform {

namespace {

struct Record {
    std::mutex mutex;
    // A ring of the last plays; play `count` goes to `count % kKeptPlays`.
    std::array<SystemSound::Played, SystemSound::kKeptPlays> last{};
    uint64_t count = 0;
};

Record& record() {
    static auto* r = [] {
        auto* made = new Record();
        registerSharedInstanceReset("SystemSound", [made] {
            std::lock_guard lock(made->mutex);
            made->count = 0;
        });
        return made;
    }();
    return *r;
}

}  // namespace

void SystemSound::play(uint32_t soundId) {
    auto& r = record();
    std::lock_guard lock(r.mutex);
    r.last[r.count % kKeptPlays] = {soundId, Clock::monotonicNanos()};
    ++r.count;
}

std::vector<SystemSound::Played> SystemSound::playedForTesting() {
    auto& r = record();
    std::lock_guard lock(r.mutex);
    std::vector<Played> played;
    for (uint64_t i = r.count > kKeptPlays ? r.count - kKeptPlays : 0; i < r.count; ++i)
        played.push_back(r.last[i % kKeptPlays]);
    return played;
}

uint64_t SystemSound::playCountForTesting() {
    auto& r = record();
    std::lock_guard lock(r.mutex);
    return r.count;
}

}  // namespace platform
