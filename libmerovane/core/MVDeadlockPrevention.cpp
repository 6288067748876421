#include "libmerovane/core/MVDeadlockPrevention.h"

#include <fmt/format.h>

#include "libmerovane/core/MVLog.h"
#include "platform/foundation/Exception.h"
#include "platform/foundation/SharedInstances.h"

namespace {

constexpr const char* kPossibleDeadlock =
    "MVDeadlockPrevention detected possible deadlock. Resources \"{}\" and \"{}\" are sometimes "
    "locked in contrary order.";
constexpr const char* kUnannouncedRelease = "[alreadyLockedResources containsObject:resourceName]";

// What the calling thread holds, with a count per resource (nesting counts twice).
std::map<std::string, int>& heldResources() {
    thread_local std::map<std::string, int> held;
    return held;
}

std::string pairKey(const std::string& first, const std::string& second) {
    return fmt::format("{}<>{}", first, second);
}

}  // namespace

MVDeadlockPrevention& MVDeadlockPrevention::sharedDeadlockPrevention() {
    static auto* shared = [] {
        auto* instance = new MVDeadlockPrevention;
        platform::registerSharedInstanceReset("MVDeadlockPrevention",
                                              [instance] { instance->resetForTesting(); });
        return instance;
    }();
    return *shared;
}

void MVDeadlockPrevention::lockingResource(const std::string& resourceName) {
    sharedDeadlockPrevention().lockResource(resourceName);
}

void MVDeadlockPrevention::unlockedResource(const std::string& resourceName) {
    sharedDeadlockPrevention().unlockResource(resourceName);
}

void MVDeadlockPrevention::lockResource(const std::string& resource) {
    auto& held = heldResources();
    {
        std::lock_guard lock(mutex_);
        auto recorded = possibleLocksAfterLock_.find(resource);
        if (recorded != possibleLocksAfterLock_.end()) {
            for (const auto& [holding, count] : held) {
                if (!recorded->second.count(holding)) continue;
                auto forward = pairKey(resource, holding), backward = pairKey(holding, resource);
                if (reportedDeadlockPossibilities_.count(forward) &&
                    reportedDeadlockPossibilities_.count(backward))
                    continue;
                reportedDeadlockPossibilities_.insert(std::move(forward));
                reportedDeadlockPossibilities_.insert(std::move(backward));
                MVLogWarn(kPossibleDeadlock, resource, holding);
            }
        }
        for (const auto& [holding, count] : held)
            if (holding != resource) possibleLocksAfterLock_[holding].insert(resource);
    }
    ++held[resource];
}

void MVDeadlockPrevention::unlockResource(const std::string& resource) {
    auto& held = heldResources();
    auto it = held.find(resource);
    platform::assertThat(it != held.end(), kUnannouncedRelease);
    if (--it->second == 0) held.erase(it);
}

void MVDeadlockPrevention::resetForTesting() {
    std::lock_guard lock(mutex_);
    possibleLocksAfterLock_.clear();
    reportedDeadlockPossibilities_.clear();
}
