#include "libmerovane/application/MVDeepLink.h"

#include "platform/foundation/Log.h"

namespace {

// The text before the first ":", when there is one.
std::optional<std::string_view> schemeOf(std::string_view url) {
    const auto colon = url.find(':');
    if (colon == std::string_view::npos) return std::nullopt;
    return url.substr(0, colon);
}

}  // namespace

bool MVDeepLink::hasDeepLinkScheme(std::string_view url) {
    const auto scheme = schemeOf(url);
    return scheme && scheme->substr(0, kSchemePrefix.size()) == kSchemePrefix;
}

std::optional<MVDeepLink> MVDeepLink::parse(std::string_view url, std::string* warning) {
    if (!hasDeepLinkScheme(url)) return std::nullopt;
    const size_t afterColon = schemeOf(url)->size() + 1;
    if (url.find("//") != afterColon) {
        if (warning)
            *warning =
                "Deeplink doesn't contain a double slash: \"" + platform::log::escaped(url) + "\".";
        return std::nullopt;
    }
    MVDeepLink link;
    size_t idStart = afterColon + 2;
    size_t idEnd = url.size();
    const auto question = url.find('?');
    if (question != std::string_view::npos && question + 1 < url.size()) {
        link.parameters = std::string(url.substr(question));
        idEnd = question;
    }
    constexpr std::string_view kSilent = "silent/";
    if (url.substr(idStart, kSilent.size()) == kSilent) {
        link.silent = true;
        idStart += kSilent.size();
    }
    if (idEnd < idStart) idEnd = idStart;
    link.linkId = std::string(url.substr(idStart, idEnd - idStart));
    return link;
}
