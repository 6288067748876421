#pragma once
// Server-side TLS over memory buffers for the loopback test servers: bytes from the
// socket go in and plaintext comes out; plaintext goes in and bytes for the socket come
// out. The socket stays the server's own.
//
//   TlsServerContext context(TestCertificates::shared().identity(PeerChain::WithoutRoot));
//   TlsServerSession tls(context);
//   std::string plain;
//   if (tls.receive(bytesFromSocket, plain) == TlsServerSession::State::Failed) ...;
//   tls.send("HTTP/1.1 200 OK\r\n...");
//   socketOut += tls.takeWire();
//
// Not thread-safe: one thread per session.

#include <memory>
#include <string>
#include <string_view>

#include "tools/peer/TestCertificates.h"

struct ssl_ctx_st;
struct ssl_st;
struct bio_st;

namespace peer {

// A server context that presents exactly the identity's chain.
class TlsServerContext {
  public:
    explicit TlsServerContext(const TlsIdentity& identity);
    ~TlsServerContext();
    TlsServerContext(const TlsServerContext&) = delete;
    TlsServerContext& operator=(const TlsServerContext&) = delete;
    ssl_ctx_st* get() const { return context_; }

  private:
    ssl_ctx_st* context_ = nullptr;
};

class TlsServerSession {
  public:
    enum class State { Open, Ended, Failed };

    explicit TlsServerSession(const TlsServerContext& context);
    ~TlsServerSession();
    TlsServerSession(const TlsServerSession&) = delete;
    TlsServerSession& operator=(const TlsServerSession&) = delete;

    // Takes bytes from the socket and appends what they decrypt to `plain`. Ended once
    // the client sent close_notify; Failed (see error()) on a broken handshake or record.
    State receive(std::string_view wire, std::string& plain);
    // Encrypts `plain`; call once the handshake is done.
    void send(std::string_view plain);
    // Queues close_notify.
    void end();
    // The bytes for the socket made so far.
    std::string takeWire();

    bool handshakeDone() const { return handshakeDone_; }
    const std::string& error() const { return error_; }
    // The name the client asked for (SNI); empty when none.
    std::string serverName() const;

  private:
    ssl_st* ssl_ = nullptr;
    bio_st* rbio_ = nullptr;  // owned by ssl_
    bio_st* wbio_ = nullptr;  // owned by ssl_
    bool handshakeDone_ = false;
    bool ended_ = false;
    std::string error_;
};

}  // namespace peer
