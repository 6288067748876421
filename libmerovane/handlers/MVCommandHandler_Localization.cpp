// Localization commands: store a server table, report the tables' hashes, choose a
// language. For pages and the server alike; they answer nothing.
#include <algorithm>
#include <nlohmann/json.hpp>

#include "libmerovane/application/MVLocalization.h"
#include "libmerovane/handlers/MVCommandGroups.h"
#include "libmerovane/handlers/MVCommandHandler_1_0.h"
#include "platform/foundation/JsonValue.h"

namespace {

using WebViewPtr = std::shared_ptr<MVWebView>;

void setLocalization(MVCommandHandler&, nlohmann::json* parameters, const WebViewPtr&) {
    if (!parameters) return;
    auto language = platform::json::stringValue(*parameters, "language");
    auto fileHash = platform::json::stringValue(*parameters, "fileHash");
    const nlohmann::json* dictionary = platform::json::find(*parameters, "dictionary");
    if (!language || !fileHash || !dictionary || !dictionary->is_object()) return;
    const auto languages = MVLocalization::preferredLanguages();
    if (std::find(languages.begin(), languages.end(), *language) == languages.end()) return;
    MVLocalization::setLocalizationDictionary(*dictionary, language, fileHash);
}

void updateLocalization(MVCommandHandler&, nlohmann::json*, const WebViewPtr&) {
    MVLocalization::updateLocalizationFiles();
}

void setCurrentLocale(MVCommandHandler&, nlohmann::json* parameters, const WebViewPtr&) {
    if (!parameters) return;
    if (auto locale = platform::json::stringValue(*parameters, "locale"))
        MVLocalization::forceLanguage(*locale);
}

}  // namespace

void registerLocalizationCommands() {
    auto& v10 = MVCommandHandler_1_0::commandTable();
    v10.add("setLocalization", {MVSpec{{"language", MVSpec::NSString},
                                       {"fileHash", MVSpec::NSString},
                                       {"dictionary", MVSpec::NSDictionary}},
                                &setLocalization, true});
    v10.add("updateLocalization", {MVSpec{}, &updateLocalization, true});
    v10.add("setCurrentLocale", {MVSpec{{"locale", MVSpec::NSString}}, &setCurrentLocale, false});
}
