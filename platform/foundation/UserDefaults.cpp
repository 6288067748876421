#include "platform/foundation/UserDefaults.h"

#include <algorithm>
#include <cstdlib>
#include <nlohmann/json.hpp>

#include "platform/foundation/Exception.h"
#include "platform/foundation/FileManager.h"
#include "platform/foundation/JsonValue.h"
#include "platform/foundation/Log.h"
#include "platform/foundation/SharedInstances.h"

namespace platform {

namespace {

constexpr const char* kLanguagesKey = "AppleLanguages";

// "de_DE.UTF-8@euro" -> "de-DE"; none for the C locale.
std::optional<std::string> languageFromLocale(std::string locale) {
    locale = locale.substr(0, locale.find_first_of(".@"));
    if (locale.empty() || locale == "C" || locale == "POSIX") return std::nullopt;
    for (char& c : locale)
        if (c == '_') c = '-';
    return locale;
}

nlohmann::json languagesFromEnvironment() {
    nlohmann::json languages = nlohmann::json::array();
    auto add = [&](const std::string& locale) {
        if (auto language = languageFromLocale(locale);
            language && std::find(languages.begin(), languages.end(), *language) == languages.end())
            languages.push_back(*language);
    };
    if (const char* list = std::getenv("LANGUAGE"); list && *list) {
        std::string_view rest(list);
        while (!rest.empty()) {
            auto colon = rest.find(':');
            add(std::string(rest.substr(0, colon)));
            rest = colon == std::string_view::npos ? std::string_view() : rest.substr(colon + 1);
        }
    }
    if (languages.empty()) {
        for (const char* name : {"LC_ALL", "LC_MESSAGES", "LANG"}) {
            if (const char* v = std::getenv(name); v && *v) {
                add(v);
                break;
            }
        }
    }
    if (languages.empty()) languages.push_back("en");
    return languages;
}

}  // namespace

struct UserDefaults::State {
    bool loaded = false;
    std::string directoryOverride;
    std::string path;
    nlohmann::json arguments = nlohmann::json::object();
    nlohmann::json application = nlohmann::json::object();
    nlohmann::json global = nlohmann::json::object();
    nlohmann::json registration = nlohmann::json::object();
    bool dirty = false;
    // The file on disc could not be read; move it aside before the first write.
    bool keepBrokenFile = false;
};

UserDefaults& UserDefaults::standard() {
    static auto* defaults = [] {
        auto* d = new UserDefaults;
        registerSharedInstanceReset("UserDefaults", [d] { d->resetForTesting(); });
        std::atexit([] { standard().synchronize(); });
        return d;
    }();
    return *defaults;
}

UserDefaults::UserDefaults() : state_(std::make_unique<State>()) {}
UserDefaults::~UserDefaults() = default;

void UserDefaults::setArguments(int argc, char** argv) {
    nlohmann::json arguments = nlohmann::json::object();
    for (int i = 1; i + 1 < argc; ++i) {
        std::string_view arg = argv[i];
        // "-key value"; "--option" belongs to someone else.
        if (arg.size() < 2 || arg[0] != '-' || arg[1] == '-') continue;
        std::string_view text = argv[++i];
        auto parsed = json::parse(text);
        arguments[std::string(arg.substr(1))] =
            parsed.ok() ? std::move(parsed.value) : nlohmann::json(std::string(text));
    }
    auto& d = standard();
    std::lock_guard lock(d.mutex_);
    d.state_->arguments = std::move(arguments);
}

void UserDefaults::ensureLoaded() const {
    State& s = *state_;
    if (s.loaded) return;
    s.loaded = true;
    auto& fm = FileManager::defaultManager();
    std::string folder =
        s.directoryOverride.empty() ? fm.libraryDirectory() + "/Preferences" : s.directoryOverride;
    s.path = folder + "/" + FileManager::applicationIdentifier() + ".json";
    s.global = nlohmann::json{{kLanguagesKey, languagesFromEnvironment()}};
    s.application = nlohmann::json::object();
    s.keepBrokenFile = false;
    if (!fm.fileExists(s.path)) return;
    Error error;
    // Never through a link, from a FIFO or device, nor past the bound: all read as damage.
    auto text = fm.readFile(s.path, kMaxFileBytes, &error);
    if (!text) {
        PLATFORM_LOG_ERROR(
            "User defaults file {} could not be read, starting with empty defaults: {}", s.path,
            error.localizedDescription());
        s.keepBrokenFile = true;
        return;
    }
    auto parsed = json::parse(*text);
    if (!parsed.ok() || !parsed.value.is_object()) {
        PLATFORM_LOG_ERROR("User defaults file {} is corrupt, starting with empty defaults: {}",
                           s.path, parsed.ok() ? "not a JSON object" : log::escaped(parsed.error));
        s.keepBrokenFile = true;
        return;
    }
    s.application = std::move(parsed.value);
}

const nlohmann::json* UserDefaults::lookup(std::string_view key) const {
    ensureLoaded();
    const State& s = *state_;
    for (const nlohmann::json* domain : {&s.arguments, &s.application, &s.global, &s.registration})
        if (const nlohmann::json* v = json::find(*domain, key)) return v;
    return nullptr;
}

std::optional<nlohmann::json> UserDefaults::objectForKey(std::string_view key) const {
    std::lock_guard lock(mutex_);
    const nlohmann::json* v = lookup(key);
    if (!v) return std::nullopt;
    return *v;
}

void UserDefaults::setObject(std::string_view key, const nlohmann::json& value) {
    std::lock_guard lock(mutex_);
    ensureLoaded();
    state_->application[std::string(key)] = value;
    state_->dirty = true;
}

void UserDefaults::removeObject(std::string_view key) {
    std::lock_guard lock(mutex_);
    ensureLoaded();
    auto& app = state_->application;
    if (auto it = app.find(key); it != app.end()) {
        app.erase(it);
        state_->dirty = true;
    }
}

bool UserDefaults::boolForKey(std::string_view key) const {
    std::lock_guard lock(mutex_);
    const nlohmann::json* v = lookup(key);
    return v && json::boolValue(*v);
}

int64_t UserDefaults::integerForKey(std::string_view key) const {
    std::lock_guard lock(mutex_);
    const nlohmann::json* v = lookup(key);
    return v ? json::integerValue(*v) : 0;
}

double UserDefaults::doubleForKey(std::string_view key) const {
    std::lock_guard lock(mutex_);
    const nlohmann::json* v = lookup(key);
    return v ? json::doubleValue(*v) : 0;
}

std::optional<std::string> UserDefaults::stringForKey(std::string_view key) const {
    std::lock_guard lock(mutex_);
    const nlohmann::json* v = lookup(key);
    return v ? json::stringValue(*v) : std::nullopt;
}

void UserDefaults::registerDefaults(const nlohmann::json& defaults) {
    if (!defaults.is_object())
        throw Exception(kInvalidArgumentException, "registerDefaults needs a dictionary");
    std::lock_guard lock(mutex_);
    for (const auto& [key, value] : defaults.items()) state_->registration[key] = value;
}

bool UserDefaults::synchronize() {
    std::lock_guard lock(mutex_);
    if (!state_->loaded || !state_->dirty) return true;
    return writeLocked();
}

bool UserDefaults::writeLocked() {
    State& s = *state_;
    auto& fm = FileManager::defaultManager();
    const std::string folder = s.path.substr(0, s.path.find_last_of('/'));
    Error error;
    if (!fm.createDirectory(folder, true, &error)) {
        PLATFORM_LOG_ERROR("User defaults could not be written to {}: {}", s.path,
                           error.localizedDescription());
        return false;
    }
    if (s.keepBrokenFile) {
        if (auto aside = fm.moveAside(s.path, {}, 3, &error))
            PLATFORM_LOG_WARN("Unreadable user defaults file kept as {}", *aside);
        else if (fm.fileExists(s.path))
            PLATFORM_LOG_ERROR("Unreadable user defaults file {} could not be moved aside: {}",
                               s.path, error.localizedDescription());
        s.keepBrokenFile = false;
    }
    if (!fm.writeFileAtomically(s.path, json::print(s.application, true), &error)) {
        PLATFORM_LOG_ERROR("User defaults could not be written to {}: {}", s.path,
                           error.localizedDescription());
        return false;
    }
    s.dirty = false;
    return true;
}

std::string UserDefaults::filePath() const {
    std::lock_guard lock(mutex_);
    ensureLoaded();
    return state_->path;
}

void UserDefaults::setDirectoryForTesting(std::string folder) {
    std::lock_guard lock(mutex_);
    state_ = std::make_unique<State>();
    state_->directoryOverride = std::move(folder);
}

void UserDefaults::resetForTesting() {
    std::lock_guard lock(mutex_);
    state_ = std::make_unique<State>();
}

}  // namespace platform
