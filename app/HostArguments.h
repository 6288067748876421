#pragma once
// What the command line gives the launch besides the developer settings ("-key value",
// which the user defaults read): a URL to open (`app [options] URL`) and the payload of
// a pushed notification (`--remote-notification FILE`, a JSON object), the stand-ins for
// a person opening the shell from a link or from a notification.
//
//   const auto arguments = HostArguments::parse(argc, argv);   // problems are logged
//   const auto options = arguments.launchOptions();            // none: a plain start
//   application.finishLaunching(options ? &*options : nullptr);

#include <cstddef>
#include <nlohmann/json.hpp>
#include <optional>
#include <string>

struct HostArguments {
    static constexpr const char* kRemoteNotificationOption = "--remote-notification";
    static constexpr size_t kMaxRemoteNotificationBytes = 64 * 1024;

    // An absolute URL with a scheme; anything else given in its place is logged and left.
    std::optional<std::string> url;
    std::optional<std::string> remoteNotificationFile;

    // Unknown "--" options and every URL after the first are logged and passed over.
    static HostArguments parse(int argc, const char* const* argv);

    // {"url": the URL, "remoteNotification": the payload}, each when given; none when
    // neither is. The payload must be a regular file of at most kMaxRemoteNotificationBytes
    // holding a JSON object; one that is not is logged and left out.
    // A URL the library opens nothing for (another scheme than its links') and a payload
    // without its notification identifier are logged at information level.
    std::optional<nlohmann::json> launchOptions() const;

    // The payload read from `file`: a JSON object, or none (logged).
    static std::optional<nlohmann::json> remoteNotificationPayload(const std::string& text,
                                                                   const std::string& file);
};
