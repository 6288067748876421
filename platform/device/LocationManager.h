#pragma once
// The platform's location service: the application's authorisation, and managers that
// deliver fixes to their delegates while updating.
//
//   auto manager = platform::LocationManager::create();
//   manager->setDelegate(delegate);            // hears the current status at the next turn
//   manager->requestWhenInUseAuthorization();  // recorded; the answer is set by the host
//   manager->startUpdatingLocation();
//   ...
//   platform::LocationManager::setAuthorizationStatus(AuthorizationStatus::AuthorizedWhenInUse);
//   platform::LocationManager::deliverLocationsForTesting({{52.5, 13.4, 10, 15}});
//
// Nothing asks a user here: the status is whatever was set last (the host or a test
// sets it). Every setting reaches the delegate of every live manager at the next turn,
// an unchanged one too, so code that must ignore repeats can be tested. Fixes and
// failures come only from the test driver and reach the managers that update when they
// are delivered.
// Thread-safety: authorizationStatus() and setAuthorizationStatus() from any thread;
// the rest on the main thread, where every delegate call runs.

#include <cstdint>
#include <memory>
#include <vector>

#include "platform/foundation/Error.h"

namespace platform {

// One fix: degrees and metres (a negative accuracy means the value is unknown).
struct Location {
    double latitude = 0;
    double longitude = 0;
    double horizontalAccuracy = 0;
    double verticalAccuracy = 0;
};

class LocationManager;

class LocationManagerDelegate {
  public:
    virtual ~LocationManagerDelegate() = default;
    // The status as the platform's number (AuthorizationStatus).
    virtual void locationManagerDidChangeAuthorizationStatus(LocationManager& manager, int status) {
    }
    virtual void locationManagerDidUpdateLocations(LocationManager& manager,
                                                   const std::vector<Location>& locations) {}
    virtual void locationManagerDidFailWithError(LocationManager& manager, const Error& error) {}
};

class LocationManager : public std::enable_shared_from_this<LocationManager> {
  public:
    // The platform's numbering.
    enum class AuthorizationStatus : int {
        NotDetermined = 0,
        Restricted = 1,
        Denied = 2,
        AuthorizedAlways = 3,
        AuthorizedWhenInUse = 4
    };

    // The coarsest accuracy, which a new manager starts with: two to the power 63 metres.
    static constexpr double kCoarsestAccuracy = 9223372036854775808.0;

    static AuthorizationStatus authorizationStatus();
    // Also tells the delegate of every live manager at the next turn.
    static void setAuthorizationStatus(AuthorizationStatus status);

    // A new manager; its delegate, once set, hears the current status at the next turn.
    static std::shared_ptr<LocationManager> create();
    ~LocationManager();
    LocationManager(const LocationManager&) = delete;
    LocationManager& operator=(const LocationManager&) = delete;

    // Not owned.
    std::shared_ptr<LocationManagerDelegate> delegate() const { return delegate_.lock(); }
    void setDelegate(std::weak_ptr<LocationManagerDelegate> delegate);

    // Metres.
    double desiredAccuracy() const { return desiredAccuracy_; }
    void setDesiredAccuracy(double accuracy) { desiredAccuracy_ = accuracy; }

    // Recorded only: the host (a test) answers with setAuthorizationStatus.
    void requestWhenInUseAuthorization() { ++whenInUseRequests_; }
    int whenInUseAuthorizationRequests() const { return whenInUseRequests_; }

    void startUpdatingLocation() { updating_ = true; }
    void stopUpdatingLocation() { updating_ = false; }
    bool isUpdatingLocation() const { return updating_; }

    // Test driver: at the next turn, every manager that updates then tells its delegate.
    static void deliverLocationsForTesting(std::vector<Location> locations);
    static void failWithErrorForTesting(Error error);
    // The managers alive now, oldest first.
    static std::vector<std::shared_ptr<LocationManager>> managersForTesting();

  private:
    LocationManager() = default;

    std::weak_ptr<LocationManagerDelegate> delegate_;
    double desiredAccuracy_ = kCoarsestAccuracy;
    int whenInUseRequests_ = 0;
    bool updating_ = false;
};

}  // namespace platform
