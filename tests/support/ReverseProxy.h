#pragma once
// A real reverse proxy from the machine (Debian's nginx or haproxy) in front of a
// loopback server, for tests of the API stream through what shops put before their
// server. It runs as a child process with a configuration of its own in a temporary
// folder, on a loopback port chosen here, with no system service and no path outside
// that folder; it is killed and reaped when the object goes.
//
//   ApiPeer peer;
//   ReverseProxy proxy(ReverseProxy::Kind::NginxStreaming, peer.port());
//   ASSERT_TRUE(proxy.ready()) << proxy.failure();
//   auto& connection = startConnection(proxy.url());
//
// A missing program is a failure, not a skip: the machines that run the tests install
// both (scripts/packages.txt).

#include <memory>
#include <string>

class ChildProcess;
class TempDir;

class ReverseProxy {
  public:
    enum class Kind {
        // nginx with the settings a stream needs: no buffering either way, HTTP/1.1 to the
        // server, no limit on the body.
        NginxStreaming,
        // nginx as installed: request and response buffering, HTTP/1.0 to the server.
        NginxBuffering,
        // haproxy with its defaults in HTTP mode.
        HAProxy,
    };
    static const char* nameOf(Kind kind);

    // Starts the proxy and waits, within a bound, until it listens. A port taken by
    // another program meanwhile makes it try another.
    ReverseProxy(Kind kind, int upstreamPort);
    ~ReverseProxy();
    ReverseProxy(const ReverseProxy&) = delete;
    ReverseProxy& operator=(const ReverseProxy&) = delete;

    // It listens; otherwise failure() says why.
    bool ready() const { return ready_; }
    const std::string& failure() const { return failure_; }
    int port() const { return port_; }
    // "http://127.0.0.1:<port>"
    std::string url() const;
    // What the proxy wrote to its error log so far.
    std::string log() const;

  private:
    bool start(int upstreamPort);
    std::string configuration(int upstreamPort) const;

    Kind kind_;
    std::unique_ptr<TempDir> folder_;
    std::unique_ptr<ChildProcess> process_;
    int port_ = 0;
    bool ready_ = false;
    std::string failure_;
};
