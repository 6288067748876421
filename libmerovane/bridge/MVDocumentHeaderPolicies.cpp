#include "libmerovane/bridge/MVDocumentHeaderPolicies.h"

#include <algorithm>
#include <array>
#include <string_view>

#include "libmerovane/bridge/MVDocumentEncoding.h"
#include "platform/foundation/HTTPURLResponse.h"
#include "platform/foundation/TextUtilities.h"

namespace {

constexpr std::array<std::string_view, 8> kReferrerPolicies = {"no-referrer",
                                                               "no-referrer-when-downgrade",
                                                               "same-origin",
                                                               "origin",
                                                               "strict-origin",
                                                               "origin-when-cross-origin",
                                                               "strict-origin-when-cross-origin",
                                                               "unsafe-url"};

// Bytes outside printable ASCII are written as the characters a browser reads a header's
// bytes as (one byte, one code point): no control byte (an escape that switches an
// ISO-2022-JP decoder, a NUL, a line break) and no byte of another encoding reaches the
// document.
std::string attributeValue(std::string_view text) {
    static constexpr char kHex[] = "0123456789ABCDEF";
    std::string escaped;
    for (const char c : text) {
        const auto byte = static_cast<unsigned char>(c);
        switch (c) {
            case '&':
                escaped += "&amp;";
                break;
            case '"':
                escaped += "&quot;";
                break;
            case '<':
                escaped += "&lt;";
                break;
            case '>':
                escaped += "&gt;";
                break;
            default:
                if (byte < 0x20 || byte >= 0x7f) {
                    escaped += "&#x";
                    escaped += kHex[byte >> 4];
                    escaped += kHex[byte & 15];
                    escaped += ';';
                } else {
                    escaped += c;
                }
        }
    }
    return escaped;
}

bool startsWithIgnoringCase(std::string_view text, size_t at, std::string_view prefix) {
    return text.size() - at >= prefix.size() &&
           platform::equalsIgnoringASCIICase(text.substr(at, prefix.size()), prefix);
}

// Past a byte-order mark, white space, comments and the doctype: what is written there
// comes first in the document without changing its mode.
size_t startOfContent(std::string_view document) {
    size_t at = document.starts_with("\xEF\xBB\xBF") ? 3 : 0;
    for (;;) {
        while (at < document.size() &&
               std::string_view(" \t\r\n\f").find(document[at]) != std::string_view::npos)
            ++at;
        if (startsWithIgnoringCase(document, at, "<!--")) {
            const size_t end = document.find("-->", at + 4);
            if (end == std::string_view::npos) return at;
            at = end + 3;
        } else if (startsWithIgnoringCase(document, at, "<!doctype")) {
            const size_t end = document.find('>', at);
            return end == std::string_view::npos ? at : end + 1;
        } else {
            return at;
        }
    }
}

}  // namespace

std::string documentWithHeaderPolicies(std::string document, const std::string& textEncodingName,
                                       const platform::HTTPURLResponse& response) {
    if (!platform::equalsIgnoringASCIICase(response.mimeType(), "text/html") ||
        !encodingWritesASCIIAsItself(textEncodingName))
        return document;
    std::string elements;
    const auto& fields = response.allHeaderFields();
    for (const auto& value : fields.values("Content-Security-Policy")) {
        // A field may hold several policies, each of which applies.
        for (size_t start = 0; start <= value.size();) {
            const size_t comma = std::min(value.find(',', start), value.size());
            const auto policy =
                platform::trimWhitespace(std::string_view(value).substr(start, comma - start));
            if (!policy.empty())
                elements += "<meta http-equiv=\"Content-Security-Policy\" content=\"" +
                            attributeValue(policy) + "\">";
            start = comma + 1;
        }
    }
    std::string_view referrer;
    for (const auto& value : fields.values("Referrer-Policy")) {
        for (size_t start = 0; start <= value.size();) {
            const size_t comma = std::min(value.find(',', start), value.size());
            const std::string token = platform::asciiLowercase(
                platform::trimWhitespace(std::string_view(value).substr(start, comma - start)));
            for (const auto known : kReferrerPolicies)
                if (token == known) referrer = known;
            start = comma + 1;
        }
    }
    if (!referrer.empty())
        elements += "<meta name=\"referrer\" content=\"" + std::string(referrer) + "\">";
    if (elements.empty()) return document;
    document.insert(startOfContent(document), elements);
    return document;
}
