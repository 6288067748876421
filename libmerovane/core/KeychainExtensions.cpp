#include "libmerovane/core/KeychainExtensions.h"

#include <mutex>

#include "platform/foundation/Bundle.h"
#include "platform/foundation/Keychain.h"
#include "platform/foundation/SharedInstances.h"

namespace {

constexpr const char* kSeedAccount = "bundleSeedID";

// Names worked out once per process; a failure is not kept.
struct KeychainNames {
    std::mutex mutex;
    std::optional<std::string> serviceName;
    std::optional<std::string> seed;
};

KeychainNames& names() {
    static auto* shared = [] {
        auto* n = new KeychainNames;
        platform::registerSharedInstanceReset("KeychainNames", [n] {
            std::lock_guard lock(n->mutex);
            n->serviceName.reset();
            n->seed.reset();
        });
        return n;
    }();
    return *shared;
}

std::optional<MVKeychain> keychainInGroup(const std::optional<std::string>& group) {
    if (!group) return std::nullopt;
    return MVKeychain(libmerovaneServiceName(), *group,
                      platform::kKeychainAccessibleAfterFirstUnlockThisDeviceOnly);
}

}  // namespace

std::string libmerovaneServiceName() {
    auto& n = names();
    std::lock_guard lock(n.mutex);
    if (!n.serviceName)
        n.serviceName = platform::Bundle::main().bundleIdentifier() + ".libmerovane";
    return *n.serviceName;
}

std::optional<std::string> appKeychainGroup() {
    auto& keychain = platform::Keychain::shared();
    const platform::KeychainQuery query{libmerovaneServiceName(), kSeedAccount, std::nullopt};
    platform::KeychainItem item;
    auto status = keychain.copy(query, &item);
    if (status == platform::KeychainStatus::ItemNotFound) {
        // Added without a group, the item gets the application's default one.
        status = keychain.add({*query.service, *query.account, std::nullopt, "", ""});
        if (status == platform::KeychainStatus::Success) status = keychain.copy(query, &item);
    }
    if (status != platform::KeychainStatus::Success || !item.accessGroup) return std::nullopt;
    return item.accessGroup;
}

std::optional<std::string> bundleSeedID() {
    auto& n = names();
    {
        std::lock_guard lock(n.mutex);
        if (n.seed) return n.seed;
    }
    auto group = appKeychainGroup();
    if (!group) return std::nullopt;
    std::string seed = group->substr(0, group->find('.'));
    std::lock_guard lock(n.mutex);
    if (!n.seed) n.seed = std::move(seed);
    return n.seed;
}

std::optional<std::string> accessGroupPrivate() {
    auto seed = bundleSeedID();
    if (!seed) return std::nullopt;
    return *seed + "." + platform::Bundle::main().bundleIdentifier();
}

std::optional<std::string> accessGroupShared() {
    auto seed = bundleSeedID();
    if (!seed) return std::nullopt;
    return *seed + "." + kMVSharedKeychainGroupName;
}

std::optional<MVKeychain> libmerovaneSharedKeychain() {
    return keychainInGroup(accessGroupShared());
}

std::optional<MVKeychain> libmerovanePrivateKeychain() {
    return keychainInGroup(accessGroupPrivate());
}
