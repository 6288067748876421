#pragma once
// The library's keychains and the names they rest on.
//
//   auto keychain = isShared ? libmerovaneSharedKeychain() : libmerovanePrivateKeychain();
//   if (!keychain) ...   // the access group is not known yet (keychain unavailable)
//
// The access groups start with the installation's seed identifier, which the platform
// puts in front of the groups it gives the application's items: it is learnt from the
// group of an item stored for that purpose. A failed lookup is not remembered, so a
// keychain that is unavailable for a moment does not leave the process without one.
// Thread-safe.

#include <optional>
#include <string>

#include "libmerovane/core/MVKeychain.h"

// The group the maker's applications share, after the seed.
inline constexpr const char* kMVSharedKeychainGroupName = "com.merovane.shared";

// The main bundle's "CFBundleIdentifier" followed by ".libmerovane".
std::string libmerovaneServiceName();
// The access group the platform gives the application's own items; none on failure.
std::optional<std::string> appKeychainGroup();
// The first "."-separated part of appKeychainGroup(); none on failure.
std::optional<std::string> bundleSeedID();
// "<seed>.<bundle identifier>" and "<seed>.<shared group name>"; none without a seed.
std::optional<std::string> accessGroupPrivate();
std::optional<std::string> accessGroupShared();
// The keychains of the library's service in those groups, readable after the first
// unlock and on this device only; none without a seed.
std::optional<MVKeychain> libmerovaneSharedKeychain();
std::optional<MVKeychain> libmerovanePrivateKeychain();
