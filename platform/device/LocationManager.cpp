#include "platform/device/LocationManager.h"

#include <algorithm>
#include <atomic>
#include <mutex>

#include "platform/foundation/RunLoop.h"
#include "platform/foundation/SharedInstances.h"

namespace platform {

namespace {

struct State {
    std::atomic<LocationManager::AuthorizationStatus> status{
        LocationManager::AuthorizationStatus::NotDetermined};
    std::mutex mutex;
    std::vector<std::weak_ptr<LocationManager>> managers;  // guarded by mutex
};

State& state() {
    static auto* value = [] {
        auto* s = new State;
        registerSharedInstanceReset("LocationManager", [s] {
            s->status.store(LocationManager::AuthorizationStatus::NotDetermined);
            std::lock_guard lock(s->mutex);
            s->managers.clear();
        });
        return s;
    }();
    return *value;
}

// At the next turn, on the main loop, `tell` for every live manager, oldest first.
template <class Tell>
void tellManagersAtNextTurn(Tell tell) {
    RunLoop::main().post([tell = std::move(tell)] {
        for (const auto& manager : LocationManager::managersForTesting()) tell(*manager);
    });
}

}  // namespace

LocationManager::AuthorizationStatus LocationManager::authorizationStatus() {
    return state().status.load();
}

void LocationManager::setAuthorizationStatus(AuthorizationStatus value) {
    state().status.store(value);
    tellManagersAtNextTurn([value](LocationManager& manager) {
        if (auto d = manager.delegate())
            d->locationManagerDidChangeAuthorizationStatus(manager, static_cast<int>(value));
    });
}

std::shared_ptr<LocationManager> LocationManager::create() {
    std::shared_ptr<LocationManager> manager(new LocationManager);
    auto& s = state();
    std::lock_guard lock(s.mutex);
    s.managers.push_back(manager);
    return manager;
}

LocationManager::~LocationManager() {
    auto& s = state();
    std::lock_guard lock(s.mutex);
    std::erase_if(s.managers, [](const auto& m) { return m.expired(); });
}

void LocationManager::setDelegate(std::weak_ptr<LocationManagerDelegate> delegate) {
    const bool first = delegate_.expired() && !delegate.expired();
    delegate_ = std::move(delegate);
    if (!first) return;
    RunLoop::main().post([weak = weak_from_this()] {
        auto manager = weak.lock();
        if (!manager) return;
        if (auto d = manager->delegate())
            d->locationManagerDidChangeAuthorizationStatus(*manager,
                                                           static_cast<int>(authorizationStatus()));
    });
}

void LocationManager::deliverLocationsForTesting(std::vector<Location> locations) {
    tellManagersAtNextTurn([locations = std::move(locations)](LocationManager& manager) {
        if (!manager.isUpdatingLocation()) return;
        if (auto d = manager.delegate()) d->locationManagerDidUpdateLocations(manager, locations);
    });
}

void LocationManager::failWithErrorForTesting(Error error) {
    tellManagersAtNextTurn([error = std::move(error)](LocationManager& manager) {
        if (!manager.isUpdatingLocation()) return;
        if (auto d = manager.delegate()) d->locationManagerDidFailWithError(manager, error);
    });
}

std::vector<std::shared_ptr<LocationManager>> LocationManager::managersForTesting() {
    auto& s = state();
    std::lock_guard lock(s.mutex);
    std::vector<std::shared_ptr<LocationManager>> live;
    for (const auto& weak : s.managers)
        if (auto m = weak.lock()) live.push_back(std::move(m));
    return live;
}

}  // namespace platform
