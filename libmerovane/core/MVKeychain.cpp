#include "libmerovane/core/MVKeychain.h"

#include "platform/foundation/Error.h"
#include "platform/foundation/Keychain.h"

namespace {

bool failed(platform::KeychainStatus status, platform::Error* error) {
    using platform::KeychainStatus;
    long code = kKeychainErrorFailure;
    const char* description = "The keychain could not be used.";
    switch (status) {
        case KeychainStatus::Success:
            return false;
        case KeychainStatus::ItemNotFound:
            code = kKeychainErrorItemNotFound;
            description = "The item could not be found in the keychain.";
            break;
        case KeychainStatus::DuplicateItem:
            code = kKeychainErrorDuplicateItem;
            description = "The item already exists in the keychain.";
            break;
        case KeychainStatus::InteractionNotAllowed:
            code = kKeychainErrorInteractionNotAllowed;
            description = "The keychain is not available now.";
            break;
        case KeychainStatus::Failure:
            break;
    }
    if (error) *error = platform::Error(kKeychainErrorDomain, code, description);
    return true;
}

}  // namespace

MVKeychain::MVKeychain(std::string service, std::string accessGroup, std::string accessibility)
    : service_(std::move(service)),
      accessGroup_(std::move(accessGroup)),
      accessibility_(std::move(accessibility)) {}

std::optional<std::string> MVKeychain::objectForKey(const std::string& key,
                                                    platform::Error* error) const {
    platform::KeychainItem item;
    auto status = platform::Keychain::shared().copy({service_, key, accessGroup_}, &item);
    if (status == platform::KeychainStatus::ItemNotFound || failed(status, error))
        return std::nullopt;
    return item.data;
}

bool MVKeychain::setObject(const std::optional<std::string>& value, const std::string& key,
                           platform::Error* error) const {
    if (!value) return removeObjectForKey(key, error);
    auto& keychain = platform::Keychain::shared();
    auto status = keychain.add({service_, key, accessGroup_, accessibility_, *value});
    if (status == platform::KeychainStatus::DuplicateItem)
        status = keychain.update({service_, key, accessGroup_}, *value);
    return !failed(status, error);
}

bool MVKeychain::removeObjectForKey(const std::string& key, platform::Error* error) const {
    auto status = platform::Keychain::shared().remove({service_, key, accessGroup_});
    return status == platform::KeychainStatus::ItemNotFound || !failed(status, error);
}
