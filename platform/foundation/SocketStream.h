#pragma once
// A connected pair of byte streams over one TCP socket, with TLS switched on before
// the connection opens or in the middle of it (after a proxy's CONNECT answer).
//
//   auto pair = platform::Stream::createPair("api.example", 443);
//   pair.input->setDelegate(self);   pair.output->setDelegate(self);
//   pair.input->setTLSSettings({.peerName = "api.example", .validatesCertificateChain = false});
//   pair.input->scheduleInRunLoop(downstream.runLoop());
//   pair.output->scheduleInRunLoop(upstream.runLoop());
//   pair.input->open();   pair.output->open();
//
// Events reach the delegate on the run loop each stream is scheduled on, once per
// change: "open completed" once; "bytes available" once per arrival, not again until the
// delegate reads (it counts bytes the TLS layer already holds); "space available" after
// opening and after each write; "end encountered" and "error occurred" once. Reads and
// writes never block: a read with nothing waiting answers 0 and leaves the status alone,
// a write the socket cannot take answers 0. An error is reported to both streams.
// TLS set before the connection is up makes "open completed" wait for the handshake;
// set on an open stream, it holds back bytes and space events until the handshake ends.
// Certificate chains are judged by TLS only when `validatesCertificateChain` is set
// (against TrustStore::defaultStore()); otherwise the caller judges
// peerCertificateChain() itself. With `holdsUntilPeerTrusted` it does so before any byte
// moves: after the handshake the input stream gets "peer trust pending" once, and both
// streams stay silent (no bytes or space events, reads and writes answer 0) until
// acceptPeerTrust(); an owner that refuses the peer closes the streams instead.
//
// Thread-safety: every method may be called from any thread; one lock guards the socket
// and the TLS session and is never held while waiting or while a delegate runs. A
// stream must be removed from its run loop, closed or destroyed before that loop is.

#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "platform/foundation/Error.h"

namespace platform {

class RunLoop;
class Stream;
class InputStream;
class OutputStream;

namespace detail {
struct SocketCore;
}

enum StreamEvent : unsigned {
    kStreamEventNone = 0,
    kStreamEventOpenCompleted = 1,
    kStreamEventHasBytesAvailable = 2,
    kStreamEventHasSpaceAvailable = 4,
    kStreamEventErrorOccurred = 8,
    kStreamEventEndEncountered = 16,
    kStreamEventPeerTrustPending = 32,
};

enum class StreamStatus { NotOpen, Opening, Open, Reading, Writing, AtEnd, Closed, Error };

class StreamDelegate {
  public:
    virtual ~StreamDelegate() = default;
    virtual void handleEvent(Stream& stream, StreamEvent event) = 0;
};

struct TLSSettings {
    // Name sent to the server and, when validating, checked against its certificate;
    // empty: the host the pair was made for.
    std::string peerName;
    bool validatesCertificateChain = true;
    // The handshake's end holds both streams until the owner accepts the peer's chain.
    bool holdsUntilPeerTrusted = false;
};

struct StreamPair {
    std::shared_ptr<InputStream> input;
    std::shared_ptr<OutputStream> output;
};

// Where a connection to host:port really goes; tests point a name and port at a
// loopback address. The TLS peer name stays the original host. The connector runs with
// the pair's lock held and must not call into streams.
struct SocketAddress {
    std::string host;
    int port = 0;
};
using SocketConnector =
    std::function<std::optional<SocketAddress>(const std::string& host, int port)>;

class Stream : public std::enable_shared_from_this<Stream> {
  public:
    // The pair is not open yet; name resolution and connecting start at the first open().
    static StreamPair createPair(const std::string& host, int port);
    // Replaces the host:port mapping for pairs opened from now on; empty: none.
    static void setConnectorForTesting(SocketConnector connector);

    virtual ~Stream();
    Stream(const Stream&) = delete;
    Stream& operator=(const Stream&) = delete;

    void open();
    void close();
    StreamStatus streamStatus() const;
    std::optional<Error> streamError() const;

    // The delegate is not owned.
    void setDelegate(std::weak_ptr<StreamDelegate> delegate);
    // One loop at a time; scheduling on another loop moves the stream there.
    void scheduleInRunLoop(RunLoop& loop);
    void removeFromRunLoop(RunLoop& loop);

    // Applies to the socket the pair shares; set on either stream.
    void setTLSSettings(const TLSSettings& settings);
    // What the server presented, leaf first, as DER; empty before a TLS handshake ends.
    std::vector<std::string> peerCertificateChain() const;
    // Lets bytes flow on a pair held for its peer's trust; otherwise does nothing.
    void acceptPeerTrust();

    bool isInput() const { return isInput_; }

  protected:
    Stream(std::shared_ptr<detail::SocketCore> core, bool isInput);
    std::shared_ptr<detail::SocketCore> core_;

  private:
    friend struct detail::SocketCore;
    const bool isInput_;
};

class InputStream final : public Stream {
  public:
    // Up to `maxLength` bytes: the count read; 0 when nothing is waiting or at the end
    // (the status says which); -1 on error.
    long read(uint8_t* buffer, size_t maxLength);
    bool hasBytesAvailable() const;

    InputStream(std::shared_ptr<detail::SocketCore> core) : Stream(std::move(core), true) {}
};

class OutputStream final : public Stream {
  public:
    // The count the stream took, possibly fewer than `length`; 0 when it can take none
    // now; -1 on error.
    long write(const uint8_t* buffer, size_t length);
    bool hasSpaceAvailable() const;

    OutputStream(std::shared_ptr<detail::SocketCore> core) : Stream(std::move(core), false) {}
};

const char* streamStatusName(StreamStatus status);

}  // namespace platform
