#include "libmerovane/application/MVLocalization.h"

#include <fmt/format.h>

#include <memory>
#include <nlohmann/json.hpp>

#include "libmerovane/application/MVLibraryApplication.h"
#include "libmerovane/application/MVLibraryBundle.h"
#include "libmerovane/application/MVServerCommands.h"
#include "libmerovane/connection/MVApiConnection.h"
#include "libmerovane/core/MVLog.h"
#include "platform/foundation/DispatchQueue.h"
#include "platform/foundation/FileManager.h"
#include "platform/foundation/SharedInstances.h"
#include "platform/foundation/Thread.h"
#include "platform/foundation/UserDefaults.h"

namespace {

struct SharedState {
    std::mutex mutex;
    std::unique_ptr<MVLocalization> instance;
};

SharedState& sharedState() {
    static auto* state = [] {
        auto* s = new SharedState();
        platform::registerSharedInstanceReset("MVLocalization", [s] {
            std::lock_guard lock(s->mutex);
            s->instance.reset();
        });
        return s;
    }();
    return *state;
}

std::vector<std::string> appleLanguages() {
    std::vector<std::string> languages;
    auto value = platform::UserDefaults::standard().objectForKey("AppleLanguages");
    if (!value || !value->is_array()) return languages;
    for (auto& entry : *value)
        if (entry.is_string()) languages.push_back(entry.get<std::string>());
    return languages;
}

// The built-in folder of a code, when the resource bundle is there and has it.
std::optional<std::string> builtInFolder(const std::string& code) {
    try {
        return libmerovaneBundle().pathForResource(code, "lproj", "Localization");
    } catch (const platform::Exception& e) {
        MVLogWarn("MVLocalization has no built-in strings: {}", e.reason());
        return std::nullopt;
    }
}

// A stored file that is no regular file of at most kMaxStringsFileBytes (a link, a FIFO,
// a device) is set aside, so that the server sends the table again.
std::optional<std::string> readStoredStringsFile(const std::string& path) {
    auto& files = platform::FileManager::defaultManager();
    platform::Error error;
    auto text = files.readFile(path, MVLocalization::kMaxStringsFileBytes, &error);
    if (text || !platform::FileManager::isDamagedFileError(error)) return text;
    if (auto aside = files.moveAside(path, {}, 3, &error))
        MVLogWarn("MVLocalization kept the unreadable strings file {} as {}",
                  platform::log::escaped(path), *aside);
    else
        MVLogError("MVLocalization could not move the unreadable strings file {} aside: {}",
                   platform::log::escaped(path), error.localizedDescription());
    return std::nullopt;
}

}  // namespace

MVLocalization& MVLocalization::sharedLocalization() {
    auto& state = sharedState();
    std::lock_guard lock(state.mutex);
    if (!state.instance) {
        auto languages = appleLanguages();
        state.instance = std::make_unique<MVLocalization>(
            languages.empty() ? std::nullopt : std::optional<std::string>(languages.front()));
    }
    return *state.instance;
}

MVLocalization::MVLocalization(const std::optional<std::string>& languageCode)
    : preferredLanguages_(appleLanguages()) {
    fallbackBundle_ = newestBundleForCode("en");
    if (languageCode && *languageCode != "en")
        preferredBundle_ = newestBundleForCode(*languageCode);
}

const std::map<std::string, std::map<std::string, std::string>>& MVLocalization::builtInTable() {
    static const auto* table = new std::map<std::string, std::map<std::string, std::string>>{
        {"en",
         {{"#bootapp.databeingrefreshed", "Data is being refreshed ..."},
          {"#cachedbootapp.timeout.reached",
           "The\u00A0app\u00A0has\u00A0been\u00A0updated\u00A0and\nmust\u00A0be\u00A0restarted"
           "\u00A0once."},
          {"#cachedbootapp.timeout.reached.confirm", "OK"},
          {"#deeplink.openlink", "Opening link ..."},
          {"#push.openingnotification", "Opening notification ..."},
          {"#cachedbootapp.please.wait", "Please wait ..."},
          {"#webview.failed.load", "Page couldn't be loaded ..."}}},
        {"de",
         {{"#bootapp.databeingrefreshed", "Daten werden aktualisiert ..."},
          {"#cachedbootapp.timeout.reached",
           "Die App wurde geupdated und\nmuss einmalig neugestartet werden."},
          {"#cachedbootapp.timeout.reached.confirm", "OK"},
          {"#deeplink.openlink", "Link wird geöffnet ..."},
          {"#push.openingnotification", "Benachrichtigung wird geöffnet ..."},
          {"#cachedbootapp.please.wait", "Bitte warten ..."},
          {"#webview.failed.load", "The page couldn't be loaded ..."}}},
        {"fr",
         {{"#bootapp.databeingrefreshed", "Les données sont mises à jour ..."},
          {"#cachedbootapp.timeout.reached",
           "L'application a été mise à\njour et doit être redémarée."},
          {"#cachedbootapp.timeout.reached.confirm", "OK"},
          {"#deeplink.openlink", "Chargement du lien ..."},
          {"#push.openingnotification", "Chargement de la notification ..."},
          {"#cachedbootapp.please.wait", "S'il vous plaît patienter ..."},
          {"#webview.failed.load", "La page n'a pas pu être chargé ... ..."}}},
        {"pl",
         {{"#bootapp.databeingrefreshed", "Dane są w trakcie odświeżania ..."},
          {"#cachedbootapp.timeout.reached",
           "Aplikacja została zaktualizowana\ni musi zostać uruchomiona ponownie."},
          {"#cachedbootapp.timeout.reached.confirm", "OK"},
          {"#deeplink.openlink", "Otwieranie linku ..."},
          {"#push.openingnotification", "Otwieranie wiadomości ..."},
          {"#cachedbootapp.please.wait", "Proszę czekać ..."},
          {"#webview.failed.load", "Strona nie mogła być pobrana ..."}}},
        {"it",
         {{"#bootapp.databeingrefreshed", "I dati vengono rinfrescati ..."},
          {"#cachedbootapp.timeout.reached",
           "Si è prodotto un errore\n\nSi prega di avviare l'applicazione di nuovo."},
          {"#cachedbootapp.timeout.reached.confirm", "OK"},
          {"#deeplink.openlink", "Il link viene aperto ..."},
          {"#push.openingnotification", "La notifica viene aperta ..."},
          {"#cachedbootapp.please.wait", "Attendere prego"},
          {"#webview.failed.load", "La pagina non può essere caricato "}}},
    };
    return *table;
}

std::string MVLocalization::localizedStringForKey(const std::string& key) const {
    const auto& table = builtInTable();
    for (const auto& language : preferredLanguages_) {
        const std::string code = language.size() >= 3 ? language.substr(0, 2) : language;
        auto found = table.find(code);
        if (found == table.end()) continue;
        auto text = found->second.find(key);
        if (text != found->second.end()) return text->second;
    }
    const auto& english = table.at("en");
    auto text = english.find(key);
    return text != english.end() ? text->second : key;
}

std::vector<std::string> MVLocalization::preferredLanguages() {
    return sharedLocalization().languages();
}

std::optional<std::string> MVLocalization::preferredBundle() const {
    std::lock_guard lock(mutex_);
    return preferredBundle_;
}

bool MVLocalization::isSafeLanguageCode(std::string_view code) {
    return !code.empty() && code.find('/') == std::string_view::npos &&
           code.find('\\') == std::string_view::npos && code.find("..") == std::string_view::npos &&
           code.find('\0') == std::string_view::npos;
}

std::string MVLocalization::storedFolder(const std::string& code) {
    return MVLibraryApplication::sharedLibrary().pathForLocalization() + "/" + code + ".lproj";
}

std::optional<std::string> MVLocalization::newestBundleForCode(const std::string& code) {
    if (!isSafeLanguageCode(code)) return std::nullopt;
    bool isDirectory = false;
    const std::string stored = storedFolder(code);
    if (platform::FileManager::defaultManager().fileExists(stored, &isDirectory) && isDirectory)
        return stored;
    return builtInFolder(code);
}

std::string MVLocalization::stringsFileText(const std::string& language,
                                            const std::string& fileHash,
                                            const nlohmann::json& dictionary) {
    std::string text =
        fmt::format("/*\n Localizable.strings ({})\n Merovane\n */\n\"[fileHash]\" = \"{}\";\n",
                    language, fileHash);
    if (dictionary.is_object())
        for (auto& [key, value] : dictionary.items())
            if (value.is_string())
                text += fmt::format("\n\"{}\" = \"{}\";", key, value.get<std::string>());
    return text;
}

std::string MVLocalization::fileHashOfStringsFile(std::string_view text) {
    const auto marker = text.find(kFileHashMarker);
    if (marker == std::string_view::npos) return {};
    const auto open = text.find('"', marker + std::string_view(kFileHashMarker).size());
    if (open == std::string_view::npos) return {};
    const auto close = text.find('"', open + 1);
    if (close == std::string_view::npos) return {};
    return std::string(text.substr(open + 1, close - open - 1));
}

void MVLocalization::setLocalizationDictionary(const nlohmann::json& dictionary,
                                               const std::optional<std::string>& language,
                                               const std::optional<std::string>& fileHash) {
    if (!language || !fileHash) return;
    if (!isSafeLanguageCode(*language)) {
        MVLogWarn("MVLocalization refuses the language code \"{}\"",
                  platform::log::escaped(*language));
        return;
    }
    if (fileHash->find('"') != std::string::npos) {
        MVLogWarn("MVLocalization refuses the file hash \"{}\" for {}",
                  platform::log::escaped(*fileHash), platform::log::escaped(*language));
        return;
    }
    if (!dictionary.is_object()) {
        MVLogWarn("MVLocalization refuses a table for {} that is no dictionary",
                  platform::log::escaped(*language));
        return;
    }
    for (auto& [key, value] : dictionary.items()) {
        if (!value.is_string()) {
            MVLogWarn("MVLocalization refuses a table for {}: the value of \"{}\" is no text",
                      platform::log::escaped(*language), platform::log::escaped(key));
            return;
        }
    }
    const std::string folder = storedFolder(*language);
    platform::DispatchQueue::global().async([folder, code = *language, hash = *fileHash,
                                             dictionary] {
        auto& files = platform::FileManager::defaultManager();
        if (!files.createDirectory(folder, true))
            MVLogWarn("The localization directory: <{}> could not be created", code);
        auto text = std::make_shared<const std::string>(stringsFileText(code, hash, dictionary));
        const std::string path = folder + "/" + kStringsFileName;
        platform::performOnMainThread(
            [path, text] {
                platform::Error error;
                if (!platform::FileManager::defaultManager().writeFileAtomically(path, *text,
                                                                                 &error))
                    MVLogWarn("MVLocalization could not write {}", path);
            },
            true);
    });
}

void MVLocalization::updateLocalizationFiles() {
    const auto languages = preferredLanguages();
    const std::string localizationFolder =
        MVLibraryApplication::sharedLibrary().pathForLocalization();
    platform::DispatchQueue::global().async([languages, localizationFolder] {
        try {
            auto& files = platform::FileManager::defaultManager();
            nlohmann::json hashes = nlohmann::json::object();
            for (const auto& code : languages) {
                if (!isSafeLanguageCode(code)) continue;
                auto text = readStoredStringsFile(localizationFolder + "/" + code + ".lproj/" +
                                                  kStringsFileName);
                if (!text) {
                    if (auto builtIn = builtInFolder(code))
                        text =
                            files.readFile(*builtIn + "/" + kStringsFileName, kMaxStringsFileBytes);
                }
                if (text) hashes[code] = fileHashOfStringsFile(*text);
            }
            MVApiConnection::sharedConnection().sendCommands(
                {MVCommandContent::getLocalization(hashes)});
        } catch (const std::exception& e) {
            MVLogError("MVLocalization could not report the file hashes: {}", e.what());
        }
    });
}

void MVLocalization::forceLanguage(const std::string& code) {
    auto& shared = sharedLocalization();
    const auto& languages = shared.languages();
    if (std::find(languages.begin(), languages.end(), code) == languages.end()) return;
    auto bundle = newestBundleForCode(code);
    std::lock_guard lock(shared.mutex_);
    shared.preferredBundle_ = std::move(bundle);
}
