#include "libmerovane/bridge/MVCommandURL.h"

#include "libmerovane/core/StringExtensions.h"

std::string decodedCommandURL(std::string_view absoluteString) {
    return urlDecodedString(absoluteString).value_or(std::string());
}

std::optional<std::string> commandCollectionText(const std::string& decoded) {
    const auto brace = decoded.find('{');
    if (brace == std::string::npos) return std::nullopt;
    return decoded.substr(brace);
}
