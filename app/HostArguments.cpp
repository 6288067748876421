#include "app/HostArguments.h"

#include <string_view>

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
            MVLogWarn("Unknown option \"{}\" passed over", platform::log::escaped(argument));
        } else if (argument.size() > 1 && argument[0] == '-') {
            ++i;  // a developer setting and its value
        } else if (out.url) {
            MVLogWarn("Only one URL is opened: \"{}\" passed over",
                      platform::log::escaped(argument));
        } else if (auto url = platform::URL::parse(argument); url && !url->scheme().empty()) {
            out.url = std::string(argument);
        } else {
            MVLogError("\"{}\" is no URL: the shell starts without it",
                       platform::log::escaped(argument));
        }
    }
    return out;
}

std::optional<nlohmann::json> HostArguments::launchOptions() const {
    nlohmann::json options = nlohmann::json::object();
    if (url) options["url"] = *url;
    if (remoteNotificationFile) {
        std::string whyNot;
        const auto text = platform::readRegularFile(*remoteNotificationFile,
                                                    kMaxRemoteNotificationBytes, &whyNot);
        auto payload = text ? platform::json::parse(*text) : platform::json::ParseResult{};
        if (!text) {
            MVLogError("The notification payload {} cannot be read: {}",
                       platform::log::escaped(*remoteNotificationFile), whyNot);
        } else if (!payload.ok() || !payload.value.is_object()) {
            MVLogError("The notification payload {} is no JSON object: {}",
                       platform::log::escaped(*remoteNotificationFile),
                       payload.ok() ? "another value" : platform::log::escaped(payload.error));
        } else {
            options["remoteNotification"] = std::move(payload.value);
        }
    }
    if (options.empty()) return std::nullopt;
    return options;
}
