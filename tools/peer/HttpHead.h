#pragma once
// HTTP/1.1 heads for the loopback API peer: an incremental parser for what the client
// sends (the CONNECT and POST heads) and the response heads a test scripts.

#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace peer {

using HeadFields = std::vector<std::pair<std::string, std::string>>;

struct HttpHead {
    std::string startLine;
    std::string method, target, version;  // request heads
    int status = 0;                       // response heads
    std::string reason;
    HeadFields fields;  // in the order sent, names as sent, values trimmed
    std::string raw;    // the bytes, up to and with the empty line

    // The first field of this name, compared without regard to case.
    std::optional<std::string> field(std::string_view name) const;
    size_t fieldCount(std::string_view name) const;
};

class HttpHeadParser {
  public:
    explicit HttpHeadParser(bool request = true) : request_(request) {}
    // Takes bytes up to the end of the head; answers how many it took.
    size_t feed(std::string_view bytes);
    bool complete() const { return complete_; }
    bool failed() const { return !error_.empty(); }
    // Failed because the head went on past the limit.
    bool tooLong() const { return tooLong_; }
    const std::string& error() const { return error_; }
    const HttpHead& head() const { return head_; }

    // Parses a whole head (with or without its empty line).
    static std::optional<HttpHead> parse(std::string_view text, bool request,
                                         std::string* error = nullptr);

  private:
    bool request_;
    bool complete_ = false;
    bool tooLong_ = false;
    std::string buffer_;
    std::string error_;
    HttpHead head_;
};

// A head the peer answers with. `raw`, when set, goes out verbatim instead (for heads
// that are broken on purpose).
struct ResponseHead {
    int status = 200;
    std::string reason = "OK";
    HeadFields fields;
    std::optional<std::string> raw;

    std::string bytes() const;
    // "HTTP/1.1 200 OK" with "Transfer-Encoding: chunked" and the given fields.
    static ResponseHead ok(HeadFields fields = {});
};

}  // namespace peer
