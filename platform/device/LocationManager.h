#pragma once
// The application's authorisation to use the location services, as the platform keeps
// it: not determined until the user has answered, then one of the four answers.
//
//   if (platform::LocationManager::authorizationStatus() !=
//       platform::LocationManager::AuthorizationStatus::NotDetermined) { ... }
//
// Nothing asks a user here: the status is whatever was set last (the host or a test
// sets it). Thread-safe.

namespace platform {

class LocationManager {
  public:
    // The platform's numbering.
    enum class AuthorizationStatus : int {
        NotDetermined = 0,
        Restricted = 1,
        Denied = 2,
        AuthorizedAlways = 3,
        AuthorizedWhenInUse = 4
    };

    static AuthorizationStatus authorizationStatus();
    static void setAuthorizationStatus(AuthorizationStatus status);
};

}  // namespace platform
