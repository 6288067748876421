#pragma once
// A URL parsed strictly, as the phone's platform parses them: an illegal character
// (a space, a quote, "<", ">", "{", "}", "|", "\", "^", "`", a control or non-ASCII
// byte, a "%" not followed by two hex digits, a second "#") makes the text no URL.
//
//   auto url = platform::URL::parse("mvcmd:%7B%22ver%22%3A%222.0%22%7D");
//   url->scheme();             // "mvcmd"
//   url->resourceSpecifier();  // "%7B%22ver%22%3A%222.0%22%7D"
//   url->absoluteString();     // the text exactly as given
//   auto next = platform::URL::resolve("../b?x=1", *base);
//
// Components keep their text as written: the scheme's case, percent escapes, an empty
// query. Opaque forms ("mvapi:home") have no authority; their path is the text after
// the colon up to any "?" or "#", and everything after the colon is their resource
// specifier. Relative references ("/a/b", "b?x") parse too and
// have no scheme; `resolve` makes them absolute against a base (RFC 3986, section 5).
// A plain value; thread-safe as any const value is.

#include <optional>
#include <string>
#include <string_view>

namespace platform {

class URL {
  public:
    // The empty URL (no scheme, no path); what a request without URL carries.
    URL() = default;

    static std::optional<URL> parse(std::string_view text);
    // `relative` made absolute against `base`; none when `relative` is no URL.
    static std::optional<URL> resolve(std::string_view relative, const URL& base);

    // The text the URL was parsed from, exactly.
    const std::string& absoluteString() const { return text_; }
    bool isEmpty() const { return text_.empty(); }

    // As written; empty for a relative reference.
    const std::string& scheme() const { return scheme_; }
    std::string schemeLowercased() const;
    // Everything after "scheme:" (for a relative reference: the whole text).
    std::string resourceSpecifier() const;

    // "//" followed by an authority (possibly empty, as in "file:///tmp").
    bool hasAuthority() const { return hasAuthority_; }
    // The authority as written: [user[:password]@]host[:port].
    const std::string& authority() const { return authority_; }
    // The host as written; an IPv6 literal without its brackets. Empty when none.
    const std::string& host() const { return host_; }
    std::optional<int> port() const { return port_; }
    // The path as written ("home" for "mvapi:home"); may be empty.
    const std::string& path() const { return path_; }
    // Present (possibly empty) when the text has a "?" before any "#".
    const std::optional<std::string>& query() const { return query_; }
    const std::optional<std::string>& fragment() const { return fragment_; }

    // Neither a scheme with "//" nor a path starting with "/" follows the colon.
    bool isOpaque() const;
    bool isFileURL() const;
    // The path's last component ("/" for the root, "" for no path); escapes kept.
    std::string lastPathComponent() const;
    // The last component's text after its last ".", or "" when it has none.
    std::string pathExtension() const;
    // The absolute string without "#fragment".
    std::string stringWithoutFragment() const;

    bool operator==(const URL& other) const { return text_ == other.text_; }

  private:
    static std::string recompose(const URL& parts);

    std::string text_;
    std::string scheme_;
    bool hasAuthority_ = false;
    std::string authority_;
    std::string host_;
    std::optional<int> port_;
    std::string path_;
    std::optional<std::string> query_;
    std::optional<std::string> fragment_;
};

}  // namespace platform
