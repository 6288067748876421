#pragma once
// Stand-ins for the foundation's URL and URLRequest until they land; the web view
// uses only what is here. Removed when the real ones arrive.

#include <map>
#include <optional>
#include <string>
#include <string_view>

namespace platform {

class URL {
  public:
    URL() = default;
    static std::optional<URL> parse(std::string_view text);

    const std::string& absoluteString() const { return text_; }
    bool isEmpty() const { return text_.empty(); }
    const std::string& scheme() const { return scheme_; }
    std::string schemeLowercased() const;
    std::string stringWithoutFragment() const;

    bool operator==(const URL& other) const { return text_ == other.text_; }

  private:
    std::string text_;
    std::string scheme_;
};

class URLRequest {
  public:
    URLRequest() = default;
    explicit URLRequest(URL url) : url_(std::move(url)), mainDocumentURL_(url_) {}

    const URL& url() const { return url_; }
    void setURL(URL url) { url_ = std::move(url); }
    const std::string& httpMethod() const { return method_; }
    void setHTTPMethod(std::string method) { method_ = std::move(method); }
    const URL& mainDocumentURL() const { return mainDocumentURL_; }
    void setMainDocumentURL(URL url) { mainDocumentURL_ = std::move(url); }
    const std::map<std::string, std::string>& allHTTPHeaderFields() const { return headers_; }
    void setValue(std::string value, std::string field) {
        headers_[std::move(field)] = std::move(value);
    }
    const std::string& httpBody() const { return body_; }
    void setHTTPBody(std::string body) { body_ = std::move(body); }

  private:
    URL url_;
    std::string method_ = "GET";
    URL mainDocumentURL_;
    std::map<std::string, std::string> headers_;
    std::string body_;
};

}  // namespace platform
