#include "libmerovane/connection/MVApiResponseHead.h"

#include <nlohmann/json.hpp>
#include <string_view>

#include "libmerovane/bridge/URLResponseExtensions.h"
#include "libmerovane/core/StringExtensions.h"
#include "platform/foundation/JsonValue.h"
#include "platform/foundation/TextUtilities.h"

namespace {

// The items of a comma-separated header value, each trimmed.
bool listContains(const std::optional<std::string>& value, std::string_view item) {
    if (!value) return false;
    std::string_view rest = *value;
    for (;;) {
        const size_t comma = rest.find(',');
        if (platform::trimWhitespace(rest.substr(0, comma)) == item) return true;
        if (comma == std::string_view::npos) return false;
        rest.remove_prefix(comma + 1);
    }
}

}  // namespace

MVApiResponseHeadCheck checkResponseHead(std::string& buffer, const platform::URL& url) {
    MVApiResponseHeadCheck check;
    const bool ended = buffer.size() >= 4 && buffer.ends_with("\r\n\r\n");
    if (!ended && buffer.size() <= kMaximumResponseHeadLength) return check;

    check.text.swap(buffer);
    if (!ended || !isValidUtf8(check.text)) {
        check.status = MVApiResponseHeadCheck::Unparsable;
        if (!isValidUtf8(check.text))
            check.text = platform::json::print(nlohmann::json(check.text));
        return check;
    }
    check.response = responseWithString(check.text, url);
    check.status =
        check.response ? MVApiResponseHeadCheck::Parsed : MVApiResponseHeadCheck::Unparsable;
    return check;
}

MVApiResponseTerms termsOfApiResponse(const platform::HTTPURLResponse& response,
                                      bool msgpackDisabled, bool gzipDisabled) {
    const auto header = [&](std::string_view name) {
        return response.valueForHTTPHeaderField(name);
    };
    const auto transferEncoding = header("transfer-encoding");
    const auto contentEncoding = header("content-encoding");
    const auto handshake = header("x-merovane-api");
    const auto clientSerial = header("x-merovane-api-cserial");
    const auto contentType = header("content-type");

    MVApiResponseTerms terms;
    terms.supportsPersistentConnection =
        handshake &&
        platform::asciiLowercase(*handshake) == platform::asciiLowercase(kMVApiHandshakeValue);
    terms.chunkState = transferEncoding && *transferEncoding == "chunked"
                           ? MVApiChunkStateHeader
                           : MVApiChunkStateUnchunked;
    terms.isCompressed = contentEncoding && *contentEncoding == "gzip";
    terms.serverWillAcceptMsgPack =
        !msgpackDisabled && listContains(header("accept"), "application/msgpack");
    terms.serverWillAcceptGZip = !gzipDisabled && listContains(header("accept-encoding"), "gzip");
    terms.contentType = contentType && contentType->find("application/msgpack") != std::string::npos
                            ? MVApiContentTypeMessagePack
                            : MVApiContentTypeJSON;
    if (clientSerial)
        terms.clientSerial = platform::json::integerValue(nlohmann::json(*clientSerial));
    return terms;
}
