#include "platform/foundation/Keychain.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <nlohmann/json.hpp>
#include <random>
#include <vector>

#include "platform/foundation/Base64.h"
#include "platform/foundation/FileManager.h"
#include "platform/foundation/JsonValue.h"
#include "platform/foundation/Log.h"
#include "platform/foundation/RegularFile.h"
#include "platform/foundation/SharedInstances.h"

namespace platform {

namespace {

constexpr const char* kFileName = "keychain.json";
constexpr const char* kLockName = "keychain.lock";

std::string keychainFolder() {
    return FileManager::defaultManager().libraryDirectory() + "/Keychains";
}

std::string makeSeed() {
    static constexpr char kChars[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789";
    std::random_device random;
    std::uniform_int_distribution<int> pick(0, sizeof kChars - 2);
    std::string seed;
    for (int i = 0; i < 10; ++i) seed += kChars[pick(random)];
    return seed;
}

// Holds the cross-process lock for as long as it lives. The lock file is opened as one
// regular file of its own: never through a link, never a folder or FIFO in its place.
class FileLock {
  public:
    explicit FileLock(const std::string& path) {
        fd_ = openSingleRegularFile(path, O_RDWR | O_CREAT, 0600, &problem_);
        if (fd_ < 0) return;
        while (::flock(fd_, LOCK_EX) != 0) {
            if (errno != EINTR) {
                problem_ = std::strerror(errno);
                ::close(fd_);
                fd_ = -1;
                return;
            }
        }
    }
    ~FileLock() {
        if (fd_ >= 0) ::close(fd_);  // closing releases the lock
    }
    FileLock(const FileLock&) = delete;
    FileLock& operator=(const FileLock&) = delete;
    bool locked() const { return fd_ >= 0; }
    const std::string& problem() const { return problem_; }

  private:
    int fd_ = -1;
    std::string problem_;
};

bool matches(const KeychainItem& item, const KeychainQuery& q) {
    return (!q.service || *q.service == item.service) &&
           (!q.account || *q.account == item.account) &&
           (!q.accessGroup || *q.accessGroup == item.accessGroup);
}

}  // namespace

struct Keychain::Contents {
    std::string seed;
    std::vector<KeychainItem> items;
    bool changed = false;

    std::string defaultGroup() {
        if (seed.empty()) {
            seed = makeSeed();
            changed = true;
        }
        return seed + "." + FileManager::applicationIdentifier();
    }

    // False when the text is not a keychain file of ours.
    bool read(std::string_view text, std::string* problem) {
        auto parsed = json::parse(text);
        if (!parsed.ok()) {
            *problem = parsed.error;
            return false;
        }
        const auto& root = parsed.value;
        const nlohmann::json* list = json::find(root, "items");
        if (!root.is_object() || (list && !list->is_array())) {
            *problem = "not a keychain file";
            return false;
        }
        seed = json::stringValue(root, "seed").value_or("");
        if (!list) return true;
        for (size_t i = 0; i < list->size(); ++i) {
            const auto& entry = (*list)[i];
            auto service = json::stringValue(entry, "service");
            auto account = json::stringValue(entry, "account");
            auto group = json::stringValue(entry, "accessGroup");
            auto data = base64Decode(json::stringValue(entry, "data").value_or("-"));
            if (!service || !account || !group || !data) {
                // Only this item is lost; the file is written without it on the next change.
                PLATFORM_LOG_ERROR(
                    "Keychain item {} lacks its service, account, group or data; dropped", i);
                continue;
            }
            items.push_back({std::move(*service), std::move(*account), std::move(*group),
                             json::stringValue(entry, "accessibility").value_or(""),
                             std::move(*data)});
        }
        return true;
    }

    std::string text() const {
        nlohmann::json list = nlohmann::json::array();
        for (const auto& item : items)
            list.push_back({{"service", item.service},
                            {"account", item.account},
                            {"accessGroup", item.accessGroup.value_or("")},
                            {"accessibility", item.accessibility},
                            {"data", base64Encode(item.data)}});
        return json::print(nlohmann::json{{"seed", seed}, {"items", std::move(list)}}, true);
    }
};

Keychain& Keychain::shared() {
    static auto* keychain = [] {
        auto* k = new Keychain;
        registerSharedInstanceReset("Keychain", [k] { k->resetForTesting(); });
        return k;
    }();
    return *keychain;
}

std::string Keychain::filePath() const {
    return keychainFolder() + "/" + kFileName;
}

template <class Fn>
KeychainStatus Keychain::perform(bool counts, Fn&& fn) {
    std::lock_guard guard(mutex_);
    if (counts && injected_) {
        KeychainStatus status = *injected_;
        if (injectedCount_ > 0 && --injectedCount_ == 0) injected_.reset();
        return status;
    }
    auto& fm = FileManager::defaultManager();
    const std::string folder = keychainFolder();
    const std::string path = folder + "/" + kFileName;
    Error error;
    if (!fm.createDirectory(folder, true, &error)) {
        PLATFORM_LOG_ERROR("Keychain folder {} could not be created: {}", folder,
                           error.localizedDescription());
        return KeychainStatus::Failure;
    }
    ::chmod(folder.c_str(), 0700);
    const std::string lockPath = folder + "/" + kLockName;
    FileLock lock(lockPath);
    if (!lock.locked()) {
        // The store stays as it is; a later call locks it once the lock file is sound.
        PLATFORM_LOG_ERROR("Keychain {} could not be locked: {}: {}", path, lockPath,
                           lock.problem());
        return KeychainStatus::Failure;
    }

    Contents contents;
    if (fm.fileExists(path)) {
        auto text = fm.readFile(path, kMaxFileBytes, &error);
        if (!text && !FileManager::isDamagedFileError(error)) {
            PLATFORM_LOG_ERROR("Keychain {} could not be read: {}", path,
                               error.localizedDescription());
            return KeychainStatus::Failure;
        }
        // A link, a FIFO, a device or an oversized file is as damaged as a torn one.
        std::string problem = text ? std::string() : error.localizedDescription();
        if (!text || !contents.read(*text, &problem)) {
            // Keep the broken file for inspection; start over with an empty store.
            const auto aside = fm.moveAside(path);
            PLATFORM_LOG_ERROR("Keychain {} is corrupt, kept as {} and starting empty: {}", path,
                               aside.value_or("(not moved)"), log::escaped(problem));
            contents = Contents();
        }
    }

    KeychainStatus status = fn(contents);
    if (contents.changed &&
        !fm.writeFileAtomically(path, contents.text(), &error, S_IRUSR | S_IWUSR)) {
        PLATFORM_LOG_ERROR("Keychain {} could not be written: {}", path,
                           error.localizedDescription());
        return KeychainStatus::Failure;
    }
    return status;
}

KeychainStatus Keychain::add(const KeychainItem& item) {
    return perform(true, [&](Contents& c) {
        KeychainItem stored = item;
        if (!stored.accessGroup) stored.accessGroup = c.defaultGroup();
        if (stored.accessibility.empty()) stored.accessibility = kKeychainAccessibleWhenUnlocked;
        for (const auto& existing : c.items)
            if (existing.service == stored.service && existing.account == stored.account &&
                existing.accessGroup == stored.accessGroup)
                return KeychainStatus::DuplicateItem;
        c.items.push_back(std::move(stored));
        c.changed = true;
        return KeychainStatus::Success;
    });
}

KeychainStatus Keychain::update(const KeychainQuery& query, const std::string& data) {
    return perform(true, [&](Contents& c) {
        bool found = false;
        for (auto& item : c.items) {
            if (!matches(item, query)) continue;
            found = true;
            item.data = data;
            c.changed = true;
        }
        return found ? KeychainStatus::Success : KeychainStatus::ItemNotFound;
    });
}

KeychainStatus Keychain::copy(const KeychainQuery& query, KeychainItem* out) {
    return perform(true, [&](Contents& c) {
        for (const auto& item : c.items) {
            if (!matches(item, query)) continue;
            if (out) *out = item;
            return KeychainStatus::Success;
        }
        return KeychainStatus::ItemNotFound;
    });
}

KeychainStatus Keychain::remove(const KeychainQuery& query) {
    return perform(true, [&](Contents& c) {
        auto before = c.items.size();
        std::erase_if(c.items, [&](const KeychainItem& item) { return matches(item, query); });
        c.changed = c.items.size() != before;
        return c.changed ? KeychainStatus::Success : KeychainStatus::ItemNotFound;
    });
}

std::string Keychain::defaultAccessGroup() {
    std::string group;
    auto status = perform(false, [&](Contents& c) {
        group = c.defaultGroup();
        return KeychainStatus::Success;
    });
    return status == KeychainStatus::Success ? group : std::string();
}

void Keychain::injectFailure(std::optional<KeychainStatus> status, int count) {
    std::lock_guard guard(mutex_);
    injected_ = count == 0 ? std::nullopt : status;
    injectedCount_ = count;
}

void Keychain::resetForTesting() {
    injectFailure(std::nullopt);
}

}  // namespace platform
