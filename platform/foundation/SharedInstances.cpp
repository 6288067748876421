#include "platform/foundation/SharedInstances.h"

#include <mutex>
#include <utility>
#include <vector>

namespace platform {
namespace {
struct Resets {
    std::mutex mutex;
    std::vector<std::pair<std::string, std::function<void()>>> entries;
};
Resets& resets() {
    static auto* r = new Resets;
    return *r;
}
}  // namespace

void registerSharedInstanceReset(std::string name, std::function<void()> reset) {
    std::lock_guard lock(resets().mutex);
    for (auto& [n, fn] : resets().entries) {
        if (n == name) {
            fn = std::move(reset);
            return;
        }
    }
    resets().entries.emplace_back(std::move(name), std::move(reset));
}

void resetSharedInstancesForTesting() {
    std::vector<std::function<void()>> fns;
    {
        std::lock_guard lock(resets().mutex);
        for (auto it = resets().entries.rbegin(); it != resets().entries.rend(); ++it)
            fns.push_back(it->second);
    }
    for (auto& fn : fns) fn();
}

}  // namespace platform
