#include "platform/foundation/HTTPURLResponse.h"

#include <algorithm>
#include <cctype>
#include <charconv>

namespace platform {
namespace {

std::string_view trim(std::string_view s) {
    while (!s.empty() && (s.front() == ' ' || s.front() == '\t')) s.remove_prefix(1);
    while (!s.empty() && (s.back() == ' ' || s.back() == '\t')) s.remove_suffix(1);
    return s;
}

std::string lower(std::string_view s) {
    std::string out(s);
    std::transform(out.begin(), out.end(), out.begin(),
                   [](unsigned char c) { return std::tolower(c); });
    return out;
}

}  // namespace

HTTPURLResponse::HTTPURLResponse(URL url, int statusCode, std::string httpVersion,
                                 HTTPHeaderFields headerFields)
    : url_(std::move(url)),
      statusCode_(statusCode),
      httpVersion_(std::move(httpVersion)),
      headers_(std::move(headerFields)) {
    if (auto type = headers_.value("Content-Type")) {
        std::string_view rest = *type;
        auto semicolon = rest.find(';');
        mimeType_ = lower(trim(rest.substr(0, semicolon)));
        while (semicolon != std::string_view::npos) {
            rest = rest.substr(semicolon + 1);
            semicolon = rest.find(';');
            std::string_view param = trim(rest.substr(0, semicolon));
            auto equals = param.find('=');
            if (equals == std::string_view::npos ||
                lower(trim(param.substr(0, equals))) != "charset")
                continue;
            std::string_view value = trim(param.substr(equals + 1));
            if (value.size() >= 2 && value.front() == '"' && value.back() == '"')
                value = value.substr(1, value.size() - 2);
            textEncodingName_ = std::string(value);
            break;
        }
    }
    if (auto length = headers_.value("Content-Length")) {
        std::string_view text = trim(*length);
        int64_t n = -1;
        auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), n);
        if (ec == std::errc() && end == text.data() + text.size() && n >= 0)
            expectedContentLength_ = n;
    }
}

}  // namespace platform
