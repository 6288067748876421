#include "app/HostArguments.h"

#include <string_view>

#include "app/LogText.h"
#include "libmerovane/application/MVDeepLink.h"
#include "libmerovane/application/MVLibraryApplication.h"
#include "libmerovane/core/MVLog.h"
#include "platform/foundation/JsonValue.h"
#include "platform/foundation/RegularFile.h"
#include "platform/foundation/URL.h"

HostArguments HostArguments::parse(int argc, const char* const* argv) {
    HostArguments out;
    for (int i = 1; i < argc; ++i) {
        const std::string_view argument = argv[i];
        if (argument == kRemoteNotificationOption) {
            if (i + 1 < argc)
                out.remoteNotificationFile = argv[++i];
            else
                MVLogError("{} wants a file", kRemoteNotificationOption);
        } else if (argument.starts_with("--")) {
            MVLogWarn("Unknown option \"{}\" passed over", logText(argument));
        } else if (argument.size() > 1 && argument[0] == '-') {
            ++i;  // a developer setting and its value
        } else if (out.url) {
            MVLogWarn("Only one URL is opened: \"{}\" passed over", logText(argument));
        } else if (auto url = platform::URL::parse(argument); url && !url->scheme().empty()) {
            out.url = std::string(argument);
        } else {
            MVLogError("\"{}\" is no URL: passed over", logText(argument));
        }
    }
    return out;
}

std::optional<nlohmann::json> HostArguments::remoteNotificationPayload(const std::string& text,
                                                                       const std::string& file) {
    auto payload = platform::json::parse(text);
    if (!payload.ok() || !payload.value.is_object()) {
        MVLogError("The notification payload {} is no JSON object: {}", logText(file),
                   payload.ok() ? "another value" : logText(payload.error));
        return std::nullopt;
    }
    // What the library's start opens; it passes over anything else without a word.
    const auto value = payload.value.find(MVPushNotificationIdentifierMerovane);
    if (value == payload.value.end() || !(value->is_string() || value->is_number()))
        MVLogInfo(
            "The notification payload {} holds no text or number under \"{}\": it opens "
            "nothing",
            logText(file), MVPushNotificationIdentifierMerovane);
    return std::move(payload.value);
}

std::optional<nlohmann::json> HostArguments::launchOptions() const {
    nlohmann::json options = nlohmann::json::object();
    if (url) {
        options["url"] = *url;
        if (!MVDeepLink::hasDeepLinkScheme(*url))
            MVLogInfo("The shell opens nothing for {}: its links' schemes begin with \"{}\"",
                      logText(*url), MVDeepLink::kSchemePrefix);
    }
    if (remoteNotificationFile) {
        std::string whyNot;
        const auto text = platform::readRegularFile(*remoteNotificationFile,
                                                    kMaxRemoteNotificationBytes, &whyNot);
        if (!text) {
            MVLogError("The notification payload {} cannot be read: {}",
                       logText(*remoteNotificationFile), whyNot);
        } else if (auto payload = remoteNotificationPayload(*text, *remoteNotificationFile)) {
            options["remoteNotification"] = std::move(*payload);
        }
    }
    if (options.empty()) return std::nullopt;
    return options;
}
