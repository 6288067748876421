#include "platform/device/LocationManager.h"

#include <atomic>

#include "platform/foundation/SharedInstances.h"

namespace platform {

namespace {

std::atomic<LocationManager::AuthorizationStatus>& status() {
    static auto* value = [] {
        auto* s = new std::atomic<LocationManager::AuthorizationStatus>(
            LocationManager::AuthorizationStatus::NotDetermined);
        registerSharedInstanceReset("LocationManager", [s] {
            s->store(LocationManager::AuthorizationStatus::NotDetermined);
        });
        return s;
    }();
    return *value;
}

}  // namespace

LocationManager::AuthorizationStatus LocationManager::authorizationStatus() {
    return status().load();
}

void LocationManager::setAuthorizationStatus(AuthorizationStatus value) {
    status().store(value);
}

}  // namespace platform
