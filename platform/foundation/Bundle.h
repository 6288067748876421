#pragma once
// A bundle: a folder with "Info.json" (the information keys, one JSON object) and
// resources, among them string tables.
//
//   auto& main = platform::Bundle::main();
//   auto api = main.objectForInfoDictionaryKey("apiUrl");
//   auto library = platform::Bundle::bundleAtPath(*main.pathForResource("libmerovane", "bundle"));
//   std::string text = library->localizedString("Opening link ...", "", "Localizable");
//
// The main bundle is the folder named by $MEROVANE_BUNDLE, else "Bundle" beside the
// executable. A missing Info.json is logged and leaves the information empty.
//
// Resources are looked up in the folder itself first, then in the "<language>.lproj"
// folders of the preferred languages (the user default "AppleLanguages", each also
// shortened to its first two letters), then "en.lproj" and "Base.lproj".
//
// String tables ("<table>.strings", UTF-8) hold lines of the form
//   "key" = "value";   /* block comments */   // line comments
// with the escapes \" \\ \n \t \r and \uXXXX; `"key";` alone maps the key to itself.
//
// Thread-safe.

#include <map>
#include <memory>
#include <mutex>
#include <nlohmann/json_fwd.hpp>
#include <optional>
#include <string>
#include <string_view>

namespace platform {

class Bundle {
  public:
    static Bundle& main();
    // None when no folder exists at `path`.
    static std::shared_ptr<Bundle> bundleAtPath(const std::string& path);

    explicit Bundle(std::string path);
    ~Bundle();
    Bundle(const Bundle&) = delete;
    Bundle& operator=(const Bundle&) = delete;

    std::string path() const;
    std::optional<nlohmann::json> objectForInfoDictionaryKey(std::string_view key) const;
    // "CFBundleIdentifier", or empty.
    std::string bundleIdentifier() const;

    // The path of "<name>.<type>" (or "<name>" when `type` is empty), file or folder,
    // in `subdirectory` of the bundle; none when it exists nowhere.
    std::optional<std::string> pathForResource(std::string_view name, std::string_view type,
                                               std::string_view subdirectory = "") const;

    // The text of `key` in the string table `table` ("Localizable" when empty); when the
    // table lacks it, `value`, or the key itself when `value` is empty.
    std::string localizedString(std::string_view key, std::string_view value = "",
                                std::string_view table = "") const;

    // Parses the text of a string table; a malformed text is logged and gives none.
    static std::optional<std::map<std::string, std::string>> parseStringsFile(
        std::string_view text);

    // Test hook: the main bundle's folder (empty: back to the default); it is reread.
    static void setMainBundlePathForTesting(std::string path);

  private:
    struct State;
    void load(std::string path);

    mutable std::mutex mutex_;
    std::unique_ptr<State> state_;
};

}  // namespace platform
