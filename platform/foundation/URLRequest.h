#pragma once
// A request for URL loading: URL, method, header fields, body, and a bag of properties
// that URL protocols read (the library marks its own requests there).
//
//   platform::URLRequest request(*platform::URL::parse("https://shop.example/"));
//   request.setHTTPMethod("POST");
//   request.setValue("application/json", "Content-Type");
//   request.setHTTPBody(R"({"a":1})");
//   request.setProperty("MVWebCacheURLRequestPropertyIgnoreWebcache", true);
//
// A plain value: copies are independent (properties are copied with it). Not
// synchronised.

#include <any>
#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/foundation/HTTPHeaderFields.h"
#include "platform/foundation/URL.h"

namespace platform {

// The platform's numbering.
enum class URLRequestCachePolicy : int {
    UseProtocolCachePolicy = 0,
    ReloadIgnoringLocalCacheData = 1,
    ReturnCacheDataElseLoad = 2,
    ReturnCacheDataDontLoad = 3,
    ReloadIgnoringLocalAndRemoteCacheData = 4,
    ReloadRevalidatingCacheData = 5,
};

class URLRequest {
  public:
    static constexpr double kDefaultTimeoutInterval = 60.0;

    URLRequest() = default;
    explicit URLRequest(
        URL url, URLRequestCachePolicy cachePolicy = URLRequestCachePolicy::UseProtocolCachePolicy,
        double timeoutInterval = kDefaultTimeoutInterval);

    const URL& url() const { return url_; }
    void setURL(URL url) { url_ = std::move(url); }

    // "GET" unless set.
    const std::string& httpMethod() const { return method_; }
    void setHTTPMethod(std::string method) { method_ = std::move(method); }

    const HTTPHeaderFields& allHTTPHeaderFields() const { return headers_; }
    void setAllHTTPHeaderFields(HTTPHeaderFields fields) { headers_ = std::move(fields); }
    std::optional<std::string> valueForHTTPHeaderField(std::string_view field) const;
    // Replaces the field; an empty optional removes it.
    void setValue(std::optional<std::string> value, std::string_view field);
    // Adds to the field, the values joined by ", " when read.
    void addValue(std::string value, std::string_view field);

    const std::vector<uint8_t>& httpBody() const { return body_; }
    void setHTTPBody(std::vector<uint8_t> body) { body_ = std::move(body); }
    void setHTTPBody(std::string_view body) { body_.assign(body.begin(), body.end()); }

    // The top-level page this request loads for, used by cookie policies.
    const std::optional<URL>& mainDocumentURL() const { return mainDocumentURL_; }
    void setMainDocumentURL(std::optional<URL> url) { mainDocumentURL_ = std::move(url); }

    // Seconds without progress before the load fails with the time-out error (none when
    // zero or less), on the platform clock.
    double timeoutInterval() const { return timeoutInterval_; }
    void setTimeoutInterval(double seconds) { timeoutInterval_ = seconds; }

    URLRequestCachePolicy cachePolicy() const { return cachePolicy_; }
    void setCachePolicy(URLRequestCachePolicy policy) { cachePolicy_ = policy; }

    // Whether URL loading sends stored cookies and stores the ones it receives.
    bool httpShouldHandleCookies() const { return handleCookies_; }
    void setHTTPShouldHandleCookies(bool handle) { handleCookies_ = handle; }

    // Properties for URL protocols; an empty std::any when unset.
    void setProperty(const std::string& key, std::any value);
    std::any property(const std::string& key) const;
    void removeProperty(const std::string& key);
    // True when the property is set to a boolean true.
    bool boolProperty(const std::string& key) const;

  private:
    URL url_;
    std::string method_ = "GET";
    HTTPHeaderFields headers_;
    std::vector<uint8_t> body_;
    std::optional<URL> mainDocumentURL_;
    double timeoutInterval_ = kDefaultTimeoutInterval;
    URLRequestCachePolicy cachePolicy_ = URLRequestCachePolicy::UseProtocolCachePolicy;
    bool handleCookies_ = true;
    std::map<std::string, std::any> properties_;
};

}  // namespace platform
