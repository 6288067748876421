#include "platform/foundation/HTTPURLResponse.h"

#include <charconv>

#include "platform/foundation/TextUtilities.h"

namespace platform {

HTTPURLResponse::HTTPURLResponse(URL url, int statusCode, std::string httpVersion,
                                 HTTPHeaderFields headerFields)
    : url_(std::move(url)),
      statusCode_(statusCode),
      httpVersion_(std::move(httpVersion)),
      headers_(std::move(headerFields)) {
    if (auto type = headers_.value("Content-Type")) {
        std::string_view rest = *type;
        auto semicolon = rest.find(';');
        mimeType_ = asciiLowercase(trimWhitespace(rest.substr(0, semicolon)));
        while (semicolon != std::string_view::npos) {
            rest = rest.substr(semicolon + 1);
            semicolon = rest.find(';');
            std::string_view param = trimWhitespace(rest.substr(0, semicolon));
            auto equals = param.find('=');
            if (equals == std::string_view::npos ||
                asciiLowercase(trimWhitespace(param.substr(0, equals))) != "charset")
                continue;
            std::string_view value = trimWhitespace(param.substr(equals + 1));
            if (value.size() >= 2 && value.front() == '"' && value.back() == '"')
                value = value.substr(1, value.size() - 2);
            textEncodingName_ = std::string(value);
            break;
        }
    }
    if (auto length = headers_.value("Content-Length")) {
        std::string_view text = trimWhitespace(*length);
        int64_t n = -1;
        auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), n);
        if (ec == std::errc() && end == text.data() + text.size() && n >= 0)
            expectedContentLength_ = n;
    }
}

}  // namespace platform
