#pragma once
// The application's secure store of generic-password items.
//
//   auto& keychain = platform::Keychain::shared();
//   keychain.add({.service = "app.libmerovane", .account = "mv-connection-var:did", .data = id});
//   platform::KeychainItem item;
//   if (keychain.copy({.service = "app.libmerovane", .account = "mv-connection-var:did"}, &item)
//       == platform::KeychainStatus::Success) use(item.data);
//
// An item is keyed by service, account and access group; an item added without a group
// gets the application's default group "<seed>.<application identifier>", where the seed
// is ten upper-case letters and digits made once per installation and kept with the
// items. Queries match every field they name. "Not found" is a result of its own, not
// a failure.
//
// All items live in one file, <root>/Library/Keychains/keychain.json, readable by the
// user only (mode 0600) and replaced atomically. Every call rereads it under a file
// lock (keychain.lock beside it), so processes of the same application see each other's
// items. A lock file that is no regular file with one name (a link, a hard link, a
// folder, a FIFO) is logged and left alone, and the call fails. A file that cannot
// be parsed, or is no regular file of at most kMaxFileBytes (a link, a FIFO, a device),
// is logged, moved aside to "keychain.json.corrupt-<time>" (the three newest
// kept) and treated as empty; an item lacking a field is logged and dropped alone.
// Thread-safe.

#include <cstddef>
#include <memory>
#include <mutex>
#include <optional>
#include <string>

namespace platform {

enum class KeychainStatus {
    Success,
    ItemNotFound,
    DuplicateItem,
    InteractionNotAllowed,  // the store is locked for now; a later try may succeed
    Failure,
};

// Accessibility values an item may carry.
inline constexpr const char* kKeychainAccessibleWhenUnlocked = "WhenUnlocked";
inline constexpr const char* kKeychainAccessibleAfterFirstUnlock = "AfterFirstUnlock";
inline constexpr const char* kKeychainAccessibleWhenUnlockedThisDeviceOnly =
    "WhenUnlockedThisDeviceOnly";
inline constexpr const char* kKeychainAccessibleAfterFirstUnlockThisDeviceOnly =
    "AfterFirstUnlockThisDeviceOnly";

struct KeychainItem {
    std::string service;
    std::string account;
    std::optional<std::string> accessGroup;  // none: the default group
    std::string accessibility;               // empty: kKeychainAccessibleWhenUnlocked
    std::string data;                        // bytes
};

struct KeychainQuery {
    std::optional<std::string> service;
    std::optional<std::string> account;
    std::optional<std::string> accessGroup;
};

class Keychain {
  public:
    // A file larger than this is damaged: items are identifiers and tokens.
    static constexpr size_t kMaxFileBytes = size_t{16} << 20;

    static Keychain& shared();

    KeychainStatus add(const KeychainItem& item);
    // Replaces the data of every matching item.
    KeychainStatus update(const KeychainQuery& query, const std::string& data);
    // The first matching item, in the order of adding.
    KeychainStatus copy(const KeychainQuery& query, KeychainItem* out);
    // Removes every matching item.
    KeychainStatus remove(const KeychainQuery& query);

    // "<seed>.<application identifier>"; empty when the store cannot be written.
    std::string defaultAccessGroup();
    std::string filePath() const;

    // Test hook: the next `count` calls of add, update, copy and remove answer `status`
    // without touching the store (-1: every call, until cleared with none).
    void injectFailure(std::optional<KeychainStatus> status, int count = -1);
    void resetForTesting();

  private:
    Keychain() = default;
    struct Contents;
    template <class Fn>
    KeychainStatus perform(bool counts, Fn&& fn);

    std::mutex mutex_;
    std::optional<KeychainStatus> injected_;
    int injectedCount_ = 0;
};

}  // namespace platform
