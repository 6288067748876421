#pragma once
// The few texts native code shows itself, by "#"-prefixed localization key, from a
// built-in table of five languages; and the string tables the server sends per
// language, kept as strings files in the library's localization folder and reported
// to the server by their hashes.
//
//   std::string text = MVLocalization::sharedLocalization().localizedStringForKey(
//       "#cachedbootapp.please.wait");
//   MVLocalization::setLocalizationDictionary({{"k", "v"}}, "de", "h1");  // written later
//   MVLocalization::updateLocalizationFiles();   // sends "getLocalization"
//
// Lookups read the built-in table only: the preferred languages in order (a code of
// three or more characters by its first two), then "en", then the key itself.
// A stored file is "<localization folder>/<code>.lproj/Localizable.strings"; the
// built-in ones lie under "Localization/<code>.lproj" in the library's resource bundle.
// A stored file that is no regular file of at most kMaxStringsFileBytes is set aside
// with a warning when it is read, and reported as missing. Files are written and
// reported on the global queue, the write itself on the main thread. Lookups run on
// any thread; the rest on the main thread.

#include <cstddef>
#include <map>
#include <mutex>
#include <nlohmann/json_fwd.hpp>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

class MVLocalization {
  public:
    static constexpr const char* kStringsFileName = "Localizable.strings";
    static constexpr const char* kFileHashMarker = "\"[fileHash]\"";
    // A strings file larger than this is damaged: far more than a table the server sends.
    static constexpr size_t kMaxStringsFileBytes = size_t{32} << 20;

    // Made once with the first preferred language.
    static MVLocalization& sharedLocalization();
    // The fallback bundle is the newest for "en", the preferred one the newest for the
    // code when it is given and not "en".
    explicit MVLocalization(const std::optional<std::string>& languageCode);

    std::string localizedStringForKey(const std::string& key) const;

    // The user default "AppleLanguages" as read at creation of the shared instance.
    static std::vector<std::string> preferredLanguages();
    const std::vector<std::string>& languages() const { return preferredLanguages_; }

    // Stores a server table for a language, replacing the earlier file. Refused with a
    // warning: a code that is no plain folder name, a hash holding a double quote, a
    // table that is not an object of texts. Nothing without a language or a hash.
    static void setLocalizationDictionary(const nlohmann::json& dictionary,
                                          const std::optional<std::string>& language,
                                          const std::optional<std::string>& fileHash);
    // Sends "getLocalization" with the hash of each preferred language's newest file.
    static void updateLocalizationFiles();
    // Makes the code's newest bundle the preferred one when the code is a preferred language.
    static void forceLanguage(const std::string& code);

    // The newest strings folder ("<code>.lproj") for a code: stored, else built in.
    static std::optional<std::string> newestBundleForCode(const std::string& code);
    std::optional<std::string> preferredBundle() const;
    std::optional<std::string> fallbackBundle() const { return fallbackBundle_; }

    // The text of a stored strings file: the header naming the code, the hash line, and
    // one line per entry.
    static std::string stringsFileText(const std::string& language, const std::string& fileHash,
                                       const nlohmann::json& dictionary);
    // The text between the first two double quotes after the marker; "" without it.
    static std::string fileHashOfStringsFile(std::string_view text);
    // Whether a code can name a folder: not empty, no "/", "\", ".." nor NUL.
    static bool isSafeLanguageCode(std::string_view code);
    // The built-in table: code -> key -> text.
    static const std::map<std::string, std::map<std::string, std::string>>& builtInTable();

  private:
    static std::string storedFolder(const std::string& code);

    std::vector<std::string> preferredLanguages_;
    mutable std::mutex mutex_;
    std::optional<std::string> preferredBundle_;
    std::optional<std::string> fallbackBundle_;
};
