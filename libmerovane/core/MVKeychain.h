#pragma once
// One of the library's keychains: string values by key (the item's account) in a
// service and access group, over platform::Keychain.
//
//   if (auto keychain = libmerovanePrivateKeychain()) {
//       platform::Error error;
//       if (!keychain->setObject("v", "mv-connection-var:sid", &error)) retryLater(error);
//   }
//
// A missing item is no error: objectForKey answers none and removing it succeeds.
// Failures are errors in kKeychainErrorDomain with the code of the failure. A small
// value; thread-safe because the store is.

#include <optional>
#include <string>

namespace platform {
class Error;
}

inline constexpr const char* kKeychainErrorDomain = "NSOSStatusErrorDomain";
enum MVKeychainErrorCode : long {
    kKeychainErrorDuplicateItem = -25299,
    kKeychainErrorItemNotFound = -25300,
    kKeychainErrorInteractionNotAllowed = -25308,  // locked for now; a later try may work
    kKeychainErrorFailure = -25291,
};

class MVKeychain {
  public:
    MVKeychain(std::string service, std::string accessGroup, std::string accessibility);

    const std::string& service() const { return service_; }
    const std::string& accessGroup() const { return accessGroup_; }
    const std::string& accessibility() const { return accessibility_; }

    // None when there is no item, or on failure (then `error` is written when given).
    std::optional<std::string> objectForKey(const std::string& key,
                                            platform::Error* error = nullptr) const;
    // Adds or replaces the item; none removes it.
    bool setObject(const std::optional<std::string>& value, const std::string& key,
                   platform::Error* error = nullptr) const;
    bool removeObjectForKey(const std::string& key, platform::Error* error = nullptr) const;

  private:
    std::string service_;
    std::string accessGroup_;
    std::string accessibility_;
};
