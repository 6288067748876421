#include "libmerovane/overlays/MVLocationManager.h"

#include <algorithm>
#include <exception>
#include <mutex>

#include "libmerovane/application/MVServerCommands.h"
#include "libmerovane/bridge/MVEventDispatcher.h"
#include "libmerovane/bridge/MVEventLocation.h"
#include "libmerovane/connection/MVApiConnection.h"
#include "libmerovane/core/MVLog.h"
#include "libmerovane/core/ObjectExtensions.h"
#include "libmerovane/core/UIDeviceExtensions.h"
#include "platform/foundation/RunLoop.h"
#include "platform/foundation/SharedInstances.h"

namespace {

using AuthorizationStatus = platform::LocationManager::AuthorizationStatus;

constexpr int kNotDetermined = static_cast<int>(AuthorizationStatus::NotDetermined);
constexpr int kDenied = static_cast<int>(AuthorizationStatus::Denied);
constexpr int kAuthorized = static_cast<int>(AuthorizationStatus::AuthorizedAlways);

struct SharedSlot {
    std::mutex mutex;
    std::shared_ptr<MVLocationManager> manager;  // guarded by mutex
};

SharedSlot& sharedSlot() {
    static auto* slot = [] {
        auto* s = new SharedSlot;
        platform::registerSharedInstanceReset("MVLocationManager", [s] {
            std::lock_guard lock(s->mutex);
            s->manager.reset();
        });
        return s;
    }();
    return *slot;
}

MVLocationFix fixOf(const platform::Location& location) {
    return {location.latitude, location.longitude, location.horizontalAccuracy,
            location.verticalAccuracy};
}

}  // namespace

std::shared_ptr<MVLocationManager> MVLocationManager::sharedManager() {
    auto& slot = sharedSlot();
    std::lock_guard lock(slot.mutex);
    if (!slot.manager) slot.manager.reset(new MVLocationManager);
    return slot.manager;
}

void MVLocationManager::install() {
    MVLocationManagerInterface::install(sharedManager());
}

void MVLocationManager::getLocationWithMinimumAccuracy(double minimumAccuracy, double timeout,
                                                       CompletionHandler completionHandler) {
    if (!completionHandler) {
        MVLogWarn("{}", kNoCompletionHandlerWarning);
        return;
    }
    const int status = static_cast<int>(platform::LocationManager::authorizationStatus());
    if (!locationManager_) {
        locationManager_ = platform::LocationManager::create();
        locationManager_->setDelegate(weak_from_this());
        currentAuthorizationStatus_ = status;
    }
    auto request = std::make_shared<Request>();
    request->completionHandler = std::move(completionHandler);
    request->minimumAccuracy = minimumAccuracy;
    request->timeout = timeoutWithinBounds(timeout);
    requests_.push_back(request);
    // The time-out counts from the request, started or not: a request that waits for an
    // authorisation nobody gives is answered all the same.
    armTimeout(request);

    // Only ever made finer while requests are open.
    if (locationManager_->desiredAccuracy() > minimumAccuracy)
        locationManager_->setDesiredAccuracy(minimumAccuracy);

    if (systemVersionEqualOrAbove(UISystemVersionMake(8, 0, 0))) {
        locationManager_->requestWhenInUseAuthorization();
        if (status != kNotDetermined) {
            platform::RunLoop::main().post(
                [weak = weak_from_this(), weakRequest = std::weak_ptr<Request>(request)] {
                    auto self = weak.lock();
                    auto request = weakRequest.lock();
                    if (self && request) self->startUpdatingLocationRequest(request);
                });
        }
        return;
    }
    if (status != kNotDetermined) {
        startUpdatingLocationRequest(request);
    } else if (!isUpdating_) {
        // Starting the updates makes the platform ask the user; the request waits.
        isUpdating_ = true;
        locationManager_->startUpdatingLocation();
    }
}

void MVLocationManager::startUpdatingLocationRequest(const RequestPtr& request) {
    if (request->isStarted ||
        std::find(requests_.begin(), requests_.end(), request) == requests_.end())
        return;
    request->isStarted = true;
    if (!isUpdating_) {
        isUpdating_ = true;
        locationManager_->startUpdatingLocation();
    }
}

void MVLocationManager::armTimeout(const RequestPtr& request) {
    performBlock(
        [weak = weak_from_this(), weakRequest = std::weak_ptr<Request>(request)] {
            auto self = weak.lock();
            auto request = weakRequest.lock();
            if (!self || !request || !self->removeRequest(request)) return;
            // No request left: the updates end with the last one.
            if (self->requests_.empty() && self->isUpdating_)
                self->stopUpdatingLocationWithLocation(std::nullopt, std::nullopt);
            answer(request, self->mostRecentLocation_, std::nullopt);
        },
        request->timeout);
}

void MVLocationManager::locationManagerDidUpdateLocations(
    platform::LocationManager&, const std::vector<platform::Location>& locations) {
    if (locations.empty()) return;
    const MVLocationFix fix = fixOf(locations.back());
    mostRecentLocation_ = fix;
    const double accuracy = std::max(fix.horizontalAccuracy, fix.verticalAccuracy);
    // A handler may open a request: only those open before the fix are considered.
    const auto open = requests_;
    for (const auto& request : open) {
        if (accuracy <= request->minimumAccuracy && removeRequest(request))
            answer(request, fix, std::nullopt);
    }
    if (requests_.empty() && isUpdating_)
        stopUpdatingLocationWithLocation(std::nullopt, std::nullopt);
}

void MVLocationManager::locationManagerDidFailWithError(platform::LocationManager&,
                                                        const platform::Error& error) {
    stopUpdatingLocationWithLocation(std::nullopt, error);
}

void MVLocationManager::stopUpdatingLocationWithLocation(
    const std::optional<MVLocationFix>& location, const std::optional<platform::Error>& error) {
    if (isUpdating_ && locationManager_) locationManager_->stopUpdatingLocation();
    isUpdating_ = false;
    if (locationManager_)
        locationManager_->setDesiredAccuracy(platform::LocationManager::kCoarsestAccuracy);
    // The requests open now end here; one that a handler opens stays open.
    const auto ending = std::move(requests_);
    requests_.clear();
    for (const auto& request : ending) answer(request, location, error);
}

void MVLocationManager::locationManagerDidChangeAuthorizationStatus(platform::LocationManager&,
                                                                    int status) {
    if (status == kNotDetermined) {
        currentAuthorizationStatus_ = kNotDetermined;
        return;
    }
    if (status != currentAuthorizationStatus_) {
        const bool allowed = status >= kAuthorized;
        MVApiConnection::sharedConnection().sendCommands(
            {MVCommandLocation::locationServiceStatusDidChange(allowed)});
        MVEventDispatcher::sharedDispatcher().dispatchEvent(
            MVEventLocation::locationServiceStatusDidChange(allowed));
    }
    currentAuthorizationStatus_ = status;
    if (status >= kAuthorized) {
        const auto open = requests_;
        for (const auto& request : open) startUpdatingLocationRequest(request);
    } else if (status == kDenied) {
        stopUpdatingLocationWithLocation(std::nullopt, platform::Error());
    }
}

bool MVLocationManager::removeRequest(const RequestPtr& request) {
    auto it = std::find(requests_.begin(), requests_.end(), request);
    if (it == requests_.end()) return false;
    requests_.erase(it);
    return true;
}

void MVLocationManager::answer(const RequestPtr& request,
                               const std::optional<MVLocationFix>& location,
                               const std::optional<platform::Error>& error) {
    try {
        request->completionHandler(location, error);
    } catch (const std::exception& e) {
        MVLogError("MVLocationManager: a completion handler failed: {}", e.what());
    }
}
