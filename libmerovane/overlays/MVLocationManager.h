#pragma once
// One-shot location requests over the platform's location manager: each request gets
// the first fix accurate enough for it or, when its time-out ends, the newest fix there
// is. The time-out counts from the request, also while the authorisation is not yet
// determined (on a host where nobody answers, every request ends with it). Updates run
// while requests are open; every change of the authorisation goes to the server and to
// the pages as "locationServiceStatusDidChange".
//
//   MVLocationManager::install();   // start-up: the commands reach it from now on
//   MVLocationManager::sharedManager()->getLocationWithMinimumAccuracy(100, 5, handler);
//
// A handler may open a new request: that one stays open and is answered later, by a
// later fix, its own time-out or a later stop.
// Shared instance, created on first use; main thread only.

#include <cstdint>
#include <memory>
#include <optional>
#include <vector>

#include "libmerovane/core/MVLocationManagerInterface.h"
#include "platform/device/LocationManager.h"

class MVLocationManager : public MVLocationManagerInterface,
                          public platform::LocationManagerDelegate,
                          public std::enable_shared_from_this<MVLocationManager> {
  public:
    static std::shared_ptr<MVLocationManager> sharedManager();
    // Installs the shared manager as the one the commands ask.
    static void install();

    void getLocationWithMinimumAccuracy(double minimumAccuracy, double timeout,
                                        CompletionHandler completionHandler) override;

    void locationManagerDidChangeAuthorizationStatus(platform::LocationManager& manager,
                                                     int status) override;
    void locationManagerDidUpdateLocations(
        platform::LocationManager& manager,
        const std::vector<platform::Location>& locations) override;
    void locationManagerDidFailWithError(platform::LocationManager& manager,
                                         const platform::Error& error) override;

    // The platform manager, made with the first request; null before.
    const std::shared_ptr<platform::LocationManager>& locationManager() const {
        return locationManager_;
    }
    size_t openRequestCount() const { return requests_.size(); }
    bool isUpdating() const { return isUpdating_; }

  private:
    struct Request {
        CompletionHandler completionHandler;
        double minimumAccuracy = 0;
        double timeout = 0;
        bool isStarted = false;
    };
    using RequestPtr = std::shared_ptr<Request>;

    MVLocationManager() = default;

    void startUpdatingLocationRequest(const RequestPtr& request);
    // Answers the request with the newest fix when its time-out ends while it is open.
    void armTimeout(const RequestPtr& request);
    void stopUpdatingLocationWithLocation(const std::optional<MVLocationFix>& location,
                                          const std::optional<platform::Error>& error);
    // Removes the request when it is still open; answers whether it was.
    bool removeRequest(const RequestPtr& request);
    static void answer(const RequestPtr& request, const std::optional<MVLocationFix>& location,
                       const std::optional<platform::Error>& error);

    std::shared_ptr<platform::LocationManager> locationManager_;
    std::vector<RequestPtr> requests_;  // in order of arrival
    int currentAuthorizationStatus_ = 0;
    std::optional<MVLocationFix> mostRecentLocation_;
    bool isUpdating_ = false;
};
