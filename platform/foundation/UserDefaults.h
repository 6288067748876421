#pragma once
// The application's persistent settings.
//
//   auto& defaults = platform::UserDefaults::standard();
//   defaults.registerDefaults({{"caching_disabled", false}});
//   if (defaults.boolForKey("caching_disabled")) ...
//   defaults.setObject("lastRunningApiPath", "/api/v2");
//   defaults.synchronize();
//
// A key is looked up in these domains, first hit wins:
//   1. arguments: "-key value" pairs of the command line (setArguments); a value that
//      parses as JSON is that value ("-caching_disabled 1"), any other is a string
//      ("-dev_workspace http://10.0.0.2"). Never stored.
//   2. the application's own values, kept in one JSON file,
//      <root>/Library/Preferences/<application identifier>.json (FileManager).
//   3. the global values: "AppleLanguages", the preferred languages from the
//      environment ($LANGUAGE, else $LC_ALL, $LC_MESSAGES, $LANG), "en" when none.
//   4. the registration domain (registerDefaults), never stored.
//
// The file is read on first use. Changes are written by synchronize() and at exit,
// atomically, so the file always holds one whole version. A file that cannot be read
// (a link, a FIFO, a device, a folder, more than kMaxFileBytes) or parsed is logged and
// read as empty; it stays untouched until the first change is written,
// which first moves it aside to "<file>.corrupt-<time>" for inspection (the three
// newest asides are kept). Values are JSON; bytes
// (binary values) are written as Base64 strings and read back as such strings.
// Changes made by another process are seen after the next start.
//
// Typed reads follow the coercions of platform/foundation/JsonValue.h ("1" reads as
// true and 1). Thread-safe.

#include <cstddef>
#include <cstdint>
#include <memory>
#include <mutex>
#include <nlohmann/json_fwd.hpp>
#include <optional>
#include <string>
#include <string_view>

namespace platform {

class UserDefaults {
  public:
    // A file larger than this is damaged: far more than any settings hold.
    static constexpr size_t kMaxFileBytes = size_t{64} << 20;

    static UserDefaults& standard();
    // The argument domain of the standard defaults, from main()'s arguments.
    static void setArguments(int argc, char** argv);

    std::optional<nlohmann::json> objectForKey(std::string_view key) const;
    void setObject(std::string_view key, const nlohmann::json& value);
    void removeObject(std::string_view key);

    bool boolForKey(std::string_view key) const;
    int64_t integerForKey(std::string_view key) const;
    double doubleForKey(std::string_view key) const;
    std::optional<std::string> stringForKey(std::string_view key) const;

    // Merges the members of `defaults` (a JSON object) into the registration domain.
    void registerDefaults(const nlohmann::json& defaults);

    // Writes pending changes; false (and a log line) when the file could not be written.
    bool synchronize();
    // The file the application's values live in.
    std::string filePath() const;

    // Test hooks. Both forget every value held in memory, unsaved changes included, and
    // read the file again on next use. The folder replaces <root>/Library/Preferences
    // (empty: back to it).
    void setDirectoryForTesting(std::string folder);
    void resetForTesting();

    ~UserDefaults();

  private:
    UserDefaults();
    struct State;
    void ensureLoaded() const;
    const nlohmann::json* lookup(std::string_view key) const;
    bool writeLocked();

    mutable std::mutex mutex_;
    std::unique_ptr<State> state_;
};

}  // namespace platform
