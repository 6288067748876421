#include "libmerovane/bridge/MVWebCacheKeys.h"

#include <any>

#include "platform/foundation/RunLoop.h"

std::string MVWebCacheKeyWithScheme(std::string_view key, std::string_view scheme) {
    std::string prefix = std::string(scheme) + ":";
    if (key.find(prefix) != std::string_view::npos) return std::string(key);
    return prefix + std::string(key);
}

platform::ObserverRegistration MVObserveWebCacheUpdatesOnMainThread(
    std::function<void(const std::string& key)> handler) {
    auto& center = platform::NotificationCenter::defaultCenter();
    return platform::ObserverRegistration(
        center, center.addObserver(MVWebCacheDidUpdateKeyNotification, nullptr,
                                   [handler](const platform::Notification& n) {
                                       const auto* key = std::any_cast<std::string>(&n.object);
                                       if (!key) return;
                                       platform::RunLoop::main().post(
                                           [handler, key = *key] { handler(key); });
                                   }));
}
