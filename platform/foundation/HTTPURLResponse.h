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
#include <vector>

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

// Reads a response head line by line as the transfer hands it over: the status line,
// header fields, folded lines that continue the field before them, and the blank line
// that ends it. Interim (1xx) heads are read and forgotten.
//
//   HTTPResponseHeadReader head;
//   for (auto line : lines) if (head.addLine(line)) use(head.response(url));
class HTTPResponseHeadReader {
  public:
    // One line, with or without its line end. True when it ended the final head; lines
    // after that (trailers) are ignored.
    bool addLine(std::string_view raw);
    bool complete() const { return complete_; }
    int statusCode() const { return status_; }
    // The head read so far as a response for `url`.
    HTTPURLResponse response(const URL& url) const;

  private:
    std::string version_;
    int status_ = 0;
    std::vector<HTTPHeaderFields::Entry> lines_;
    bool complete_ = false;
};

}  // namespace platform
