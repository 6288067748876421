#include "platform/device/SystemSound.h"

#include <mutex>

#include "platform/foundation/Clock.h"
#include "platform/foundation/SharedInstances.h"

namespace platform {

namespace {

struct Record {
    std::mutex mutex;
    std::vector<SystemSound::Played> played;
};

Record& record() {
    static auto* r = [] {
        auto* made = new Record();
        registerSharedInstanceReset("SystemSound", [made] {
            std::lock_guard lock(made->mutex);
            made->played.clear();
        });
        return made;
    }();
    return *r;
}

}  // namespace

void SystemSound::play(uint32_t soundId) {
    auto& r = record();
    std::lock_guard lock(r.mutex);
    r.played.push_back({soundId, Clock::monotonicNanos()});
}

std::vector<SystemSound::Played> SystemSound::playedForTesting() {
    auto& r = record();
    std::lock_guard lock(r.mutex);
    return r.played;
}

}  // namespace platform
