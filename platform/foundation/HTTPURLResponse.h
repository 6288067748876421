#pragma once
// The head of an HTTP response: URL, status, version and header fields, with the MIME
// type, text encoding and expected length read from them.
//
//   platform::HTTPURLResponse r(url, 200, "HTTP/1.1", {{"Content-Type", "text/html;
//   charset=UTF-8"}}); r.mimeType();          // "text/html" r.textEncodingName();  // "UTF-8"
//
// A plain value; not synchronised.

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "platform/foundation/HTTPHeaderFields.h"
#include "platform/foundation/URL.h"

namespace platform {

class HTTPURLResponse {
  public:
    HTTPURLResponse() = default;
    HTTPURLResponse(URL url, int statusCode, std::string httpVersion,
                    HTTPHeaderFields headerFields);

    const URL& url() const { return url_; }
    int statusCode() const { return statusCode_; }
    // The status line's version text, e.g. "HTTP/1.1".
    const std::string& httpVersion() const { return httpVersion_; }
    const HTTPHeaderFields& allHeaderFields() const { return headers_; }
    std::optional<std::string> valueForHTTPHeaderField(std::string_view field) const {
        return headers_.value(field);
    }

    // From "Content-Type": the media type in lower case, empty when none was sent.
    const std::string& mimeType() const { return mimeType_; }
    // The "charset" parameter as sent, without quotes; empty when none.
    const std::string& textEncodingName() const { return textEncodingName_; }
    // "Content-Length", or -1 when unknown.
    int64_t expectedContentLength() const { return expectedContentLength_; }

  private:
    URL url_;
    int statusCode_ = 0;
    std::string httpVersion_;
    HTTPHeaderFields headers_;
    std::string mimeType_;
    std::string textEncodingName_;
    int64_t expectedContentLength_ = -1;
};

}  // namespace platform
