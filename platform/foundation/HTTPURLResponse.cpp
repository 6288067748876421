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

bool HTTPResponseHeadReader::addLine(std::string_view raw) {
    if (complete_) return false;  // trailers
    std::string_view line = trimWhitespace(raw);
    if (line.rfind("HTTP/", 0) == 0) {
        auto space = line.find(' ');
        version_ = std::string(line.substr(0, space));
        status_ = 0;
        if (space != std::string_view::npos) {
            std::string_view code = line.substr(space + 1, 3);
            std::from_chars(code.data(), code.data() + code.size(), status_);
        }
        lines_.clear();
        return false;
    }
    if (line.empty()) {
        if (status_ >= 100 && status_ < 200) return false;  // an interim response
        complete_ = true;
        return true;
    }
    if (raw[0] == ' ' || raw[0] == '\t') {
        // A folded line continues the previous field.
        if (!lines_.empty()) {
            std::string& value = lines_.back().second;
            value.push_back(' ');
            value.append(line.data(), line.size());
        }
        return false;
    }
    auto colon = line.find(':');
    if (colon == std::string_view::npos) return false;
    lines_.emplace_back(std::string(trimWhitespace(line.substr(0, colon))),
                        std::string(trimWhitespace(line.substr(colon + 1))));
    return false;
}

HTTPURLResponse HTTPResponseHeadReader::response(const URL& url) const {
    HTTPHeaderFields headers;
    for (auto& [name, value] : lines_) headers.add(name, value);
    return HTTPURLResponse(url, status_, version_, std::move(headers));
}

}  // namespace platform
