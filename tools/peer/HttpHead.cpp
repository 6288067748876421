#include "tools/peer/HttpHead.h"

#include <algorithm>
#include <cctype>

#include "platform/foundation/TextUtilities.h"

namespace peer {
namespace {
constexpr size_t kMaxHead = 64 * 1024;

std::string_view trim(std::string_view text) {
    while (!text.empty() && (text.front() == ' ' || text.front() == '\t')) text.remove_prefix(1);
    while (!text.empty() && (text.back() == ' ' || text.back() == '\t')) text.remove_suffix(1);
    return text;
}
}  // namespace

std::optional<std::string> HttpHead::field(std::string_view name) const {
    for (const auto& [n, v] : fields) {
        if (platform::equalsIgnoringASCIICase(n, name)) return v;
    }
    return std::nullopt;
}

size_t HttpHead::fieldCount(std::string_view name) const {
    return static_cast<size_t>(std::count_if(fields.begin(), fields.end(), [&](const auto& f) {
        return platform::equalsIgnoringASCIICase(f.first, name);
    }));
}

size_t HttpHeadParser::feed(std::string_view bytes) {
    if (complete_ || failed()) return 0;
    size_t used = 0;
    while (used < bytes.size()) {
        buffer_.push_back(bytes[used++]);
        if (buffer_.size() >= 4 && buffer_.compare(buffer_.size() - 4, 4, "\r\n\r\n") == 0) {
            if (auto head = parse(buffer_, request_, &error_)) {
                head_ = std::move(*head);
                complete_ = true;
            }
            std::string().swap(buffer_);
            return used;
        }
        if (buffer_.size() > kMaxHead) {
            error_ = "head too long";
            tooLong_ = true;
            std::string().swap(buffer_);
            return used;
        }
    }
    return used;
}

std::optional<HttpHead> HttpHeadParser::parse(std::string_view text, bool request,
                                              std::string* error) {
    auto fail = [&](std::string message) -> std::optional<HttpHead> {
        if (error) *error = std::move(message);
        return std::nullopt;
    };
    HttpHead head;
    head.raw = std::string(text);
    std::vector<std::string_view> lines;
    while (!text.empty()) {
        auto end = text.find("\r\n");
        lines.push_back(text.substr(0, end));
        if (end == std::string_view::npos) break;
        text.remove_prefix(end + 2);
    }
    while (!lines.empty() && lines.back().empty()) lines.pop_back();
    if (lines.empty()) return fail("empty head");
    head.startLine = std::string(lines[0]);
    std::string_view start = lines[0];
    auto first = start.find(' ');
    if (first == std::string_view::npos) return fail("malformed start line: " + head.startLine);
    auto second = start.find(' ', first + 1);
    if (request) {
        if (second == std::string_view::npos ||
            start.find(' ', second + 1) != std::string_view::npos)
            return fail("malformed request line: " + head.startLine);
        head.method = std::string(start.substr(0, first));
        head.target = std::string(start.substr(first + 1, second - first - 1));
        head.version = std::string(start.substr(second + 1));
        if (head.method.empty() || head.target.empty() || !head.version.starts_with("HTTP/"))
            return fail("malformed request line: " + head.startLine);
    } else {
        head.version = std::string(start.substr(0, first));
        std::string_view code =
            start.substr(first + 1, second == std::string_view::npos ? std::string_view::npos
                                                                     : second - first - 1);
        if (!head.version.starts_with("HTTP/") || code.size() != 3 ||
            !std::all_of(code.begin(), code.end(),
                         [](char c) { return std::isdigit(static_cast<unsigned char>(c)); }))
            return fail("malformed status line: " + head.startLine);
        head.status = std::stoi(std::string(code));
        if (second != std::string_view::npos) head.reason = std::string(start.substr(second + 1));
    }
    for (size_t i = 1; i < lines.size(); ++i) {
        std::string_view line = lines[i];
        auto colon = line.find(':');
        if (colon == std::string_view::npos || colon == 0 || line.front() == ' ' ||
            line.front() == '\t')
            return fail("malformed header line: " + std::string(line));
        std::string_view name = line.substr(0, colon);
        if (name.find_first_of(" \t") != std::string_view::npos)
            return fail("malformed header name: " + std::string(line));
        head.fields.emplace_back(std::string(name), std::string(trim(line.substr(colon + 1))));
    }
    return head;
}

std::string ResponseHead::bytes() const {
    if (raw) return *raw;
    std::string out = "HTTP/1.1 " + std::to_string(status) + " " + reason + "\r\n";
    for (const auto& [name, value] : fields) out += name + ": " + value + "\r\n";
    return out + "\r\n";
}

ResponseHead ResponseHead::ok(HeadFields fields) {
    ResponseHead head;
    head.fields.emplace_back("Transfer-Encoding", "chunked");
    for (auto& f : fields) head.fields.push_back(std::move(f));
    return head;
}

}  // namespace peer
