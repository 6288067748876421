#pragma once
// A loopback HTTP/1.1 server for tests: listens on 127.0.0.1 at an ephemeral port and
// answers from scripted responses per path, recording every request it receives.
//
//   HttpTestServer server;
//   server.respond("/page", HttpTestServer::Response::text(200, "<html/>", "text/html"));
//   server.respond("/old", HttpTestServer::Response::redirect(302, "/page"));
//   HttpTestServer::Response slow;
//   slow.holdUntilReleased = "gate";          // real time: answers once release("gate")
//   server.respond("/slow", slow);
//   ... load server.url("/page") ...
//   platform::runUntil([&] { return server.requestCount("/page") == 1; }, 10);
//   server.lastRequest("/page")->header("Cookie");
//
// The server runs on a thread of its own ("HttpTestServer") with a platform run loop:
// `delay` and `chunkInterval` are platform-clock seconds, so with the manual clock they
// pass with platform::advanceBy. Connections are kept alive between requests. A path
// without a script answers 404. Handlers run on the server's thread.
//
// With `tls` it speaks https with the test certificates (TestCertificates): clients
// must trust the test root. A connection whose handshake fails is closed.
// Thread-safe: every public method may be called from any thread.

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/foundation/HTTPHeaderFields.h"
#include "tools/peer/TestCertificates.h"

class HttpTestServer {
  public:
    struct Request {
        std::string method;
        std::string target;  // path and query as sent
        std::string path;
        std::string query;
        std::string version;
        platform::HTTPHeaderFields headers;
        std::string body;  // de-chunked
        std::optional<std::string> header(std::string_view name) const {
            return headers.value(name);
        }
    };

    struct Response {
        int status = 200;
        std::string reason;  // the usual phrase for the status when empty
        // Content-Length (or Transfer-Encoding for chunked bodies) is added unless given.
        platform::HTTPHeaderFields headers;
        std::string body;
        // Sent chunked, one chunk per entry; `body` is then ignored.
        bool chunked = false;
        std::vector<std::string> chunks;
        double chunkInterval = 0;  // platform-clock seconds between chunks
        double delay = 0;          // platform-clock seconds before the head goes out
        // Real time: the response waits until release(name) (immediately if already released).
        std::string holdUntilReleased;
        // Closes the connection after this much of the body (plain) or these many chunks.
        std::optional<size_t> dropAfterBodyBytes;
        std::optional<size_t> dropAfterChunks;
        bool closeWithoutResponse = false;  // reads the request, closes without a byte
        bool noResponse = false;            // reads the request, never answers

        static Response text(int status, std::string body, std::string contentType = "text/plain");
        static Response redirect(int status, std::string location, std::string body = {});
    };
    using Handler = std::function<Response(const Request&)>;

    struct Options {
        bool tls = false;
        peer::PeerChain chain = peer::PeerChain::WithoutRoot;  // with tls
    };

    HttpTestServer();
    explicit HttpTestServer(Options options);
    ~HttpTestServer();
    HttpTestServer(const HttpTestServer&) = delete;
    HttpTestServer& operator=(const HttpTestServer&) = delete;

    uint16_t port() const;
    // "http://127.0.0.1:<port>" ("https://" with tls)
    std::string baseURL() const;
    std::string url(std::string_view pathAndQuery) const;

    // Every request for `path` (query ignored) gets this answer.
    void respond(const std::string& path, Response response);
    // The next request for `path` gets this answer; queued ones go before `respond`'s.
    void respondOnce(const std::string& path, Response response);
    void handle(const std::string& path, Handler handler);
    void release(const std::string& hold);

    std::vector<Request> requests() const;
    size_t requestCount() const;
    size_t requestCount(std::string_view path) const;
    std::optional<Request> lastRequest(std::string_view path) const;
    // Connections accepted so far, and those the peer has closed.
    size_t connectionCount() const;
    size_t closedConnectionCount() const;

    // A port on 127.0.0.1 that refuses connections while this lives: bound, not listening.
    class RefusingPort {
      public:
        RefusingPort();
        ~RefusingPort();
        RefusingPort(const RefusingPort&) = delete;
        RefusingPort& operator=(const RefusingPort&) = delete;
        uint16_t port() const { return port_; }
        std::string url(std::string_view pathAndQuery) const;

      private:
        int fd_ = -1;
        uint16_t port_ = 0;
    };

  private:
    struct Impl;
    std::shared_ptr<Impl> impl_;
};
