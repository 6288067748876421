#include "platform/foundation/URL.h"

#include <algorithm>

#include "platform/foundation/TextUtilities.h"

namespace platform {
namespace {

bool isAlpha(char c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z');
}
bool isDigit(char c) {
    return c >= '0' && c <= '9';
}
bool isHex(char c) {
    return isDigit(c) || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F');
}
bool isUnreserved(char c) {
    return isAlpha(c) || isDigit(c) || c == '-' || c == '.' || c == '_' || c == '~';
}
bool isSubDelim(char c) {
    switch (c) {
        case '!':
        case '$':
        case '&':
        case '\'':
        case '(':
        case ')':
        case '*':
        case '+':
        case ',':
        case ';':
        case '=':
            return true;
        default:
            return false;
    }
}
bool isPchar(char c) {
    return isUnreserved(c) || isSubDelim(c) || c == ':' || c == '@';
}

// Every character is allowed by `allowed` or starts a well-formed percent escape.
template <class Pred>
bool allValid(std::string_view s, Pred allowed) {
    for (size_t i = 0; i < s.size(); ++i) {
        char c = s[i];
        if (c == '%') {
            if (i + 2 >= s.size() || !isHex(s[i + 1]) || !isHex(s[i + 2])) return false;
            i += 2;
        } else if (!allowed(c)) {
            return false;
        }
    }
    return true;
}

bool validScheme(std::string_view s) {
    if (s.empty() || !isAlpha(s[0])) return false;
    return std::all_of(s.begin(), s.end(), [](char c) {
        return isAlpha(c) || isDigit(c) || c == '+' || c == '-' || c == '.';
    });
}

std::string removeDotSegments(std::string_view in) {
    std::string input(in);
    std::string output;
    while (!input.empty()) {
        if (input.rfind("../", 0) == 0) {
            input.erase(0, 3);
        } else if (input.rfind("./", 0) == 0) {
            input.erase(0, 2);
        } else if (input.rfind("/./", 0) == 0) {
            input.replace(0, 3, "/");
        } else if (input == "/.") {
            input = "/";
        } else if (input.rfind("/../", 0) == 0 || input == "/..") {
            input = input == "/.." ? "/" : input.substr(3);
            auto slash = output.rfind('/');
            output.erase(slash == std::string::npos ? 0 : slash);
        } else if (input == "." || input == "..") {
            input.clear();
        } else {
            size_t end = input.find('/', 1);
            if (end == std::string::npos) end = input.size();
            output += input.substr(0, end);
            input.erase(0, end);
        }
    }
    return output;
}

}  // namespace

std::optional<URL> URL::parse(std::string_view text) {
    if (text.empty()) return std::nullopt;
    URL url;
    url.text_ = std::string(text);

    std::string_view rest = text;
    if (auto hash = rest.find('#'); hash != std::string_view::npos) {
        std::string_view fragment = rest.substr(hash + 1);
        auto fragmentChar = [](char c) { return isPchar(c) || c == '/' || c == '?'; };
        if (!allValid(fragment, fragmentChar)) return std::nullopt;
        url.fragment_ = std::string(fragment);
        rest = rest.substr(0, hash);
    }

    if (auto colon = rest.find_first_of(":/?");
        colon != std::string_view::npos && rest[colon] == ':') {
        // A colon before any "/" or "?" ends a scheme; a relative reference may not
        // have one in its first segment.
        if (!validScheme(rest.substr(0, colon))) return std::nullopt;
        url.scheme_ = std::string(rest.substr(0, colon));
        rest = rest.substr(colon + 1);
    }

    if (auto question = rest.find('?'); question != std::string_view::npos) {
        std::string_view query = rest.substr(question + 1);
        auto queryChar = [](char c) { return isPchar(c) || c == '/' || c == '?'; };
        if (!allValid(query, queryChar)) return std::nullopt;
        url.query_ = std::string(query);
        rest = rest.substr(0, question);
    }

    if (rest.rfind("//", 0) == 0) {
        url.hasAuthority_ = true;
        rest = rest.substr(2);
        size_t slash = rest.find('/');
        std::string_view authority = rest.substr(0, slash);
        rest = slash == std::string_view::npos ? std::string_view{} : rest.substr(slash);
        url.authority_ = std::string(authority);

        std::string_view hostPort = authority;
        if (auto at = authority.rfind('@'); at != std::string_view::npos) {
            std::string_view userInfo = authority.substr(0, at);
            auto userChar = [](char c) { return isUnreserved(c) || isSubDelim(c) || c == ':'; };
            if (!allValid(userInfo, userChar)) return std::nullopt;
            hostPort = authority.substr(at + 1);
        }
        std::string_view portText;
        bool hasPort = false;
        if (!hostPort.empty() && hostPort[0] == '[') {
            auto close = hostPort.find(']');
            if (close == std::string_view::npos) return std::nullopt;
            std::string_view literal = hostPort.substr(1, close - 1);
            bool ok = literal.find(':') != std::string_view::npos &&
                      std::all_of(literal.begin(), literal.end(),
                                  [](char c) { return isHex(c) || c == ':' || c == '.'; });
            if (!ok) return std::nullopt;
            url.host_ = std::string(literal);
            std::string_view after = hostPort.substr(close + 1);
            if (!after.empty()) {
                if (after[0] != ':') return std::nullopt;
                hasPort = true;
                portText = after.substr(1);
            }
        } else {
            std::string_view host = hostPort;
            if (auto colon = hostPort.find(':'); colon != std::string_view::npos) {
                host = hostPort.substr(0, colon);
                hasPort = true;
                portText = hostPort.substr(colon + 1);
            }
            auto hostChar = [](char c) { return isUnreserved(c) || isSubDelim(c); };
            if (!allValid(host, hostChar)) return std::nullopt;
            url.host_ = std::string(host);
        }
        if (hasPort && !portText.empty()) {
            if (portText.size() > 5 || !std::all_of(portText.begin(), portText.end(), isDigit))
                return std::nullopt;
            int port = std::stoi(std::string(portText));
            if (port > 65535) return std::nullopt;
            url.port_ = port;
        }
    }

    auto pathChar = [](char c) { return isPchar(c) || c == '/'; };
    if (!allValid(rest, pathChar)) return std::nullopt;
    url.path_ = std::string(rest);
    return url;
}

std::string URL::recompose(const URL& u) {
    std::string out;
    if (!u.scheme_.empty()) out += u.scheme_ + ":";
    if (u.hasAuthority_) out += "//" + u.authority_;
    out += u.path_;
    if (u.query_) out += "?" + *u.query_;
    if (u.fragment_) out += "#" + *u.fragment_;
    return out;
}

std::optional<URL> URL::resolve(std::string_view relative, const URL& base) {
    // The empty reference means the base document itself.
    auto ref = relative.empty() ? std::optional<URL>(URL()) : parse(relative);
    if (!ref) return std::nullopt;
    URL target;
    if (!ref->scheme_.empty()) {
        target = *ref;
        target.path_ = removeDotSegments(ref->path_);
    } else {
        if (ref->hasAuthority_) {
            target.hasAuthority_ = true;
            target.authority_ = ref->authority_;
            target.path_ = removeDotSegments(ref->path_);
            target.query_ = ref->query_;
        } else {
            if (ref->path_.empty()) {
                target.path_ = base.path_;
                target.query_ = ref->query_ ? ref->query_ : base.query_;
            } else {
                if (ref->path_[0] == '/') {
                    target.path_ = removeDotSegments(ref->path_);
                } else if (base.hasAuthority_ && base.path_.empty()) {
                    target.path_ = removeDotSegments("/" + ref->path_);
                } else {
                    auto slash = base.path_.rfind('/');
                    std::string merged = slash == std::string::npos
                                             ? ref->path_
                                             : base.path_.substr(0, slash + 1) + ref->path_;
                    target.path_ = removeDotSegments(merged);
                }
                target.query_ = ref->query_;
            }
            target.hasAuthority_ = base.hasAuthority_;
            target.authority_ = base.authority_;
        }
        target.scheme_ = base.scheme_;
    }
    target.fragment_ = ref->fragment_;
    return parse(recompose(target));
}

std::string URL::schemeLowercased() const {
    return asciiLowercase(scheme_);
}

std::string URL::resourceSpecifier() const {
    if (scheme_.empty()) return text_;
    return text_.substr(scheme_.size() + 1);
}

bool URL::isOpaque() const {
    return !scheme_.empty() && !hasAuthority_ && (path_.empty() || path_[0] != '/');
}

bool URL::isFileURL() const {
    return schemeLowercased() == "file";
}

std::string URL::lastPathComponent() const {
    std::string_view p = path_;
    if (p.empty()) return {};
    while (p.size() > 1 && p.back() == '/') p.remove_suffix(1);
    if (p == "/") return "/";
    auto slash = p.rfind('/');
    return std::string(slash == std::string_view::npos ? p : p.substr(slash + 1));
}

std::string URL::pathExtension() const {
    std::string last = lastPathComponent();
    auto dot = last.rfind('.');
    if (dot == std::string::npos || dot == 0 || dot + 1 == last.size()) return {};
    return last.substr(dot + 1);
}

std::string URL::stringWithoutFragment() const {
    auto hash = text_.find('#');
    return hash == std::string::npos ? text_ : text_.substr(0, hash);
}

}  // namespace platform
