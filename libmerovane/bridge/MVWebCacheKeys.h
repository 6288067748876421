#pragma once
// Web cache keys of content that the server delivers: a scheme, a colon and the page
// identifier.
//
//   MVWebCacheKeyWithScheme("home", MVWebCacheSchemeApiPage);   // "mv-api-page:home"
//
// No state; thread-safe.

#include <functional>
#include <string>
#include <string_view>

#include "platform/foundation/NotificationCenter.h"

// Pages delivered by the server.
inline constexpr const char* MVWebCacheSchemeApiPage = "mv-api-page";
// Data delivered by the server.
inline constexpr const char* MVWebCacheSchemeApiData = "mv-api-data";

// Posted by the web cache on the setting thread after it stored data; the
// notification's object is the key (a std::string).
inline constexpr const char* MVWebCacheDidUpdateKeyNotification =
    "MVWebCacheDidUpdateKeyNotification";

// The scheme, ":" and the key, unless the key already holds the scheme followed by ":"
// somewhere, in which case the key unchanged.
std::string MVWebCacheKeyWithScheme(std::string_view key, std::string_view scheme);

// Observes MVWebCacheDidUpdateKeyNotification for as long as the registration lives and
// calls `handler` with each stored key on the main thread, at a later turn (the web cache
// posts on the thread that stored the data).
platform::ObserverRegistration MVObserveWebCacheUpdatesOnMainThread(
    std::function<void(const std::string& key)> handler);
