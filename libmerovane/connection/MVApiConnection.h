#pragma once
// The application's one connection to the API server: a raw socket stream pair over
// which the application writes an HTTP/1.1 POST request with a chunked body and reads a
// chunked HTTP response, both lasting as long as the connection stays up.
//
//   MVApiConnection::setHost(libraryApplication);     // before the first use
//   auto& connection = MVApiConnection::sharedConnection();
//   connection.overrideApiPath("https://api.example");  // once, at launch
//
// A connection goes direct, or through the system's HTTP proxy with a CONNECT tunnel;
// the scheme decides on TLS: an https address is encrypted on any port (direct, or inside
// the tunnel) and the server's chain is judged here (isTrustedConnection), not by the TLS
// layer; an http address is plain text. A line at every opening says which. States: see
// MVApiConnectionState. The request head is built fresh for every connection; the
// response head settles the encodings and persistence of what follows. Only the API
// server redirects (a proxy's answer other than 2xx is a failed tunnel; 308 is followed
// as 307); a Location is resolved against the URL that answered, and a redirect from
// https to another scheme, or past kMaxRedirectsInARow in a row, is an error. The
// redirected connection's head is the new URL's, as a browser's: its host with a port
// other than the scheme's, its path and query, and the cookies for it. Redirects,
// errors, unparsable heads, refused chains and the end of the stream close the
// connection, and it is opened again after the delays below, while a packet waits or
// the connection is persistent. So does a server that stalls: no response head within
// kResponseHeadTimeout of the request head, a legacy response silent for
// kLegacyResponseIdleTimeout, or no byte of a begun chunk for kChunkStallTimeout.
//
//   connection.sendCommands({appStart});          // any thread; batched for 0.01 s
//   connection.setIsAllowedToReadCommands(true);  // server collections are performed
//
// Upstream, each batch becomes one packet with the next serial, built on the upstream
// thread, written there at once when the stream has room, and kept in the pending list
// until the server is known to hold it (the response's client serial asks for the rest
// again). The client serial a server answers with ("X-Merovane-Api-CSerial") is the
// highest serial up to which it holds every packet, not the highest it holds. A
// persistent connection writes no packet before its response head, so the packets reach
// the server in serial order, and again only where its client serial says they are
// missing. The first connection is legacy,
// one packet per request and its end, never a second one before its answer; a packet
// whose answer never came goes again on the next connection. A server that answers
// with the handshake gets persistent connections, which stay open, carry packets as
// they come and a keep-alive every 19 s. A persistent connection that gets no response
// head (closed first, or held back past kResponseHeadTimeout by a proxy that waits for
// the whole body) turns persistence off for kPersistenceHoldBack: legacy requests,
// which such a proxy carries, go meanwhile. Downstream, each packet's collection goes to
// MVCommandHandler on the main thread; its serial is taken first, so the next request head reports
// it (only from a packet with commands, and never backwards).
//
// Threads: opening, closing and the timers run on the main thread (called elsewhere,
// they re-post themselves there without waiting); output stream events arrive on the
// thread "Merovane Api Upstream", input stream events on "Merovane Api Downstream".
// One recursive lock guards every field but the chunk reader, which the downstream thread
// alone uses; it is never held while waiting for another thread (only shutdown waits,
// for the stream threads, without it), nor while downstream bytes are read and decoded.
// The connection-loss monitor, the error logger, the cookie store and the log are taken
// inside it, and none of them calls back.

#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "libmerovane/bridge/MVCommand.h"
#include "libmerovane/connection/MVApiChunkReader.h"
#include "libmerovane/connection/MVApiConnectionPacket.h"
#include "libmerovane/connection/MVApiResponseHead.h"
#include "libmerovane/connection/MVApiUpstreamWriter.h"
#include "platform/foundation/Date.h"
#include "platform/foundation/HTTPURLResponse.h"
#include "platform/foundation/RunLoop.h"
#include "platform/foundation/SocketStream.h"
#include "platform/foundation/URLRequest.h"

class MVApiConnectionHost;
class MVApiPacketBuilder;

namespace platform {
class Thread;
}  // namespace platform

enum MVApiConnectionState : uint64_t {
    // Nothing opened yet.
    MVApiConnectionStateIdle = 0,
    // Streams open to the proxy; the CONNECT head goes out at the first space event.
    MVApiConnectionStateProxyConnect = 1,
    // Direct streams, or the tunnel is ready; the POST head goes out at the first space event.
    MVApiConnectionStateSendRequest = 2,
    // CONNECT written; reading the proxy's answer head.
    MVApiConnectionStateProxyResponse = 3,
    // Tunnel up for an https address; TLS goes on at the next event, then SendRequest.
    MVApiConnectionStateStartTLS = 4,
    // POST head written; reading the API server's response head.
    MVApiConnectionStateResponse = 5,
    // Response head accepted; chunks flow both ways.
    MVApiConnectionStateStreaming = 6,
};

class MVApiConnection final : public platform::StreamDelegate,
                              public std::enable_shared_from_this<MVApiConnection> {
  public:
    static constexpr const char* kUpstreamThreadName = "Merovane Api Upstream";
    static constexpr const char* kDownstreamThreadName = "Merovane Api Downstream";
    static constexpr const char* kLastRunningApiPathKey = "lastRunningApiPath";
    static constexpr const char* kGzipDisabledKey = "gzip_disabled";
    static constexpr const char* kMsgpackDisabledKey = "msgpack_disabled";

    static constexpr double kStartDelay = 0.01;
    static constexpr double kFirstPacketDelay = 0.01;
    static constexpr double kGracefulReconnectDelay = 0.01;
    static constexpr double kRefusedRetryDelay = 0.25;
    static constexpr double kErrorReconnectDelay = 5.0;
    static constexpr double kOpenWatchdogDelay = 5.0;
    static constexpr double kCommandBatchDelay = 0.01;
    static constexpr double kKeepAliveInterval = 19.0;
    // A server answers once it has read the request (a legacy one may first handle its
    // packet); 30 s is far past any round trip, proxy, TLS set-up or busy server, and
    // short enough that a stalled one does not hold the commands behind it for long.
    static constexpr double kResponseHeadTimeout = 30.0;
    // A legacy response ends once the server has handled its one packet; a server that
    // keeps it open sends keep-alive chunks (every 19 s, as the client does), so 60 s of
    // silence is more than three missed ones.
    static constexpr double kLegacyResponseIdleTimeout = 60.0;
    // A server writes a chunk whole once it has begun it; its bytes may be slow, but 30 s
    // without one, as long as a missing response head may take, is a server that stalled.
    static constexpr double kChunkStallTimeout = 30.0;
    // A persistent connection that got no response head (the server closed it first, or
    // a proxy held the head back past kResponseHeadTimeout, as one that waits for the
    // whole request body does) turns persistence off; the server's handshake does not
    // turn it on again for this long, so that such a proxy costs one wait in this time and
    // legacy requests, which it carries, go meanwhile.
    static constexpr double kPersistenceHoldBack = 600.0;
    // Redirects followed in a row before the next one counts as an error.
    static constexpr int kMaxRedirectsInARow = 20;

    // The host must be set before the first sharedConnection().
    static void setHost(std::shared_ptr<MVApiConnectionHost> host);
    static std::shared_ptr<MVApiConnectionHost> host();
    // Made on first use with its two stream threads; asks for an opening 0.01 s later.
    static MVApiConnection& sharedConnection();
    // The process's stop: the shared connection, when it was made, closes its stream and
    // ends its threads; nothing opens it again. Main thread.
    static void endStreaming();

    ~MVApiConnection() override;
    MVApiConnection(const MVApiConnection&) = delete;
    MVApiConnection& operator=(const MVApiConnection&) = delete;

    // The base URL of the API server; empty or none means the host's default. A base URL
    // other than the last run's wipes the stored state (the host's resetApplication).
    void overrideApiPath(const std::optional<std::string>& path);
    // The redirect URL while one is set, else the base URL.
    std::string apiPath() const;
    std::string apiHost() const;
    // The URL's port; without one 443 when its scheme contains "https" (any case), else 80.
    int64_t apiPort() const;
    // Whether the URL's scheme asks for TLS: it contains "https" (any case).
    bool apiUsesTLS() const;
    static bool usesTLS(const std::string& url);

    bool hasPersistentConnection() const;
    bool supportsPersistentConnection() const;

    // Opening and closing run on the main thread.
    void establishStreamConnection();
    void closeStreamConnection();
    // Asks for an opening after `delay` seconds, in place of one asked for before.
    void reestablishStreamConnection(double delay);
    // A queued packet asks for an opening: at once, or when the pace of failures allows.
    void askForConnection();
    bool isConnectionOpened() const;

    // The stream delegate: events 1 open completed, 2 bytes available, 4 space
    // available, 8 error, 16 end encountered.
    void handleEvent(platform::Stream& stream, platform::StreamEvent event) override;

    // The heads.
    platform::URLRequest requestForProxyConnection() const;
    platform::URLRequest requestForApiConnection() const;
    // The URL of the open connection's server (before the first opening, apiPath()).
    std::string answeringUrl() const;
    // Whether the bytes read so far form a complete, accepted response head; acts on it.
    bool checkHTTPResponseIsComplete();

    // Server trust: the platform must accept the presented chain, and both the anchor of
    // the chain it verified and the highest of that chain's certificates the server
    // presented must be named in the trusted root set. Judged when the TLS handshake
    // ends, before a byte of the request is written.
    bool isTrustedConnection();
    static const std::set<std::string>& trustedCertificateAuthorities();
    // Replaces the trusted root set (none: the built-in one) so that tests can name their root.
    static void setTrustedCertificateAuthoritiesForTesting(
        std::optional<std::set<std::string>> names);

    // The resend rule: the server holds the packets up to serial `value`; the writer
    // goes on after it. Answers whether the serial was found (0: nothing to do).
    bool resetClientSerial(int64_t value);

    // Queues commands for the server; any thread. Commands sent within kCommandBatchDelay
    // of the first go out in one packet, in the order of the calls. An empty list is a
    // programming error.
    void sendCommands(const std::vector<MVCommand>& commands);
    // Takes the command buffer into a packet with the next serial (the batching timer
    // calls it); the packet is built, queued and written on the upstream thread.
    void submitCurrentCommandBuffer();
    // Appends a built packet to the pending list and asks for a connection; upstream thread
    // (re-posted there from elsewhere).
    void submitCommandDataPacket(MVApiConnectionPacket packet);
    // Writes a keep-alive chunk on a persistent connection and runs again kKeepAliveInterval
    // later on the calling stream thread, while the connection is open.
    void keepStreamAlive();

    // The reading gate: while closed, the server's packets wait in the socket.
    void setIsAllowedToReadCommands(bool allowed);
    bool isAllowedToReadCommands() const;

    // Closes a persistent, open connection / opens one when the server supports
    // persistence.
    void applicationDidEnterBackground();
    void applicationWillEnterForeground();

    // What the connection knows, for the other parts and for tests.
    MVApiConnectionState state() const;
    std::optional<std::string> connectionIdentifier() const;
    std::optional<platform::HTTPURLResponse> lastConnectionResponse() const;
    bool serverWillAcceptMsgPack() const;
    bool serverWillAcceptGZip() const;
    MVApiContentType contentType() const;
    bool isCompressed() const;
    MVApiChunkState currentChunkState() const;
    // The last read left part of a chunk, or of a packet, unread.
    bool isInsideChunk() const;
    // Bytes read while streaming (not those that came with a response head), over every
    // connection.
    uint64_t streamedBytes() const;
    std::optional<std::string> proxyHost() const;
    int64_t proxyPort() const;
    bool needsVerifiedTrust() const;
    bool hasVerifiedTrust() const;
    int64_t upstreamSerial() const;
    int64_t downstreamSerial() const;
    size_t pendingDataToServerPosition() const;
    size_t pendingDataToServerPositionNext() const;
    size_t pendingPacketCount() const;
    // A packet after `serial` (an upstreamSerial() read earlier) has been wholly written
    // to the server's stream. Any thread.
    bool hasWrittenPacketAfter(int64_t serial) const;

    platform::Thread& upstreamThread() { return *upstreamThread_; }
    platform::Thread& downstreamThread() { return *downstreamThread_; }

    // Test hooks: a packet in the pending list (so that errors reconnect), and the serials.
    void appendPendingPacketForTesting(MVApiConnectionPacket packet);
    void setSerialsForTesting(int64_t upstream, int64_t downstream);

  private:
    MVApiConnection();
    static std::shared_ptr<MVApiConnection> create();
    // Closes the streams and stops the threads; the instance does nothing afterwards.
    void shutdown();
    static void resetSharedConnectionForTesting();

    // Called off the main thread, posts `method` there and answers true.
    bool repostToMainThread(void (MVApiConnection::*method)());
    bool isConnectionOpenedLocked() const;
    void closeStreamConnectionLocked();
    void updateProxySettings();
    // Where this connection goes once through any proxy: the API host and port when the
    // connection opened, the redirect's included.
    std::string targetHost() const;
    int64_t targetPort() const;

    void writeHead(const std::string& head);
    void writeToServerStream();
    // The packet writer of states 5 and 6.
    void writePackets();
    // Cancels the keep-alive pending on the calling stream thread and schedules it anew.
    void scheduleKeepAlive();
    void cancelKeepAlives();
    // The chunk reader of state 6 and the hand-over of each server collection.
    // Leaves `lock` while it reads and decodes.
    void readStreamChunked(std::unique_lock<std::recursive_mutex>& lock);
    void handleJSONData(nlohmann::json& packet);
    // Drops the chunk reader's buffers, on the downstream thread.
    void resetReader();
    void readResponseHead();
    // A redirect of the API server: followed once by the next connection, unless it
    // leaves https or ends a run of too many; those are errors.
    void followRedirect(const std::optional<std::string>& location);
    void startTLS();
    // Closes the input stream and has the downstream thread handle an error event for it.
    void failInputStream();
    void streamEventErrorOccurred();
    // A refused chain, a failed read or a framing error: close, and open again after 5 s.
    void closeAfterReadFailure();
    void streamEventEndEncountered();
    bool hasPendingPacketLocked() const;
    // The input ended before a response head came: an error, tried again after 5 s.
    void endedBeforeResponse();
    // A persistent connection got no response head: persistence is off, and held off for
    // kPersistenceHoldBack.
    void persistenceGotNoHead();

    // Posts an event for one of the current streams to its thread; there it reaches
    // handleEvent when the stream is still current and, for space and bytes events,
    // when the stream has space or bytes.
    void scheduleStreamEvent(bool input, platform::StreamEvent event, double delay = 0);
    void startOpenWatchdog();
    // The stall bounds: a response head after a request head, the next byte of a legacy
    // response, and the next byte of a begun chunk. A stall counts as a stream error.
    void startResponseHeadBound();
    // The silence the streaming response may keep now; none when it may keep any.
    std::optional<double> streamSilenceLimit() const;
    void startStreamBound(double delay);
    // After a read: a chunk left unfinished gets its bound, unless one as near is armed.
    void boundBegunChunk();

    // mutex_ guards every field from storedApiPath_ down to shutDown_: the main thread,
    // both stream threads and the packet queue read and write them (the getters lock
    // too). It is recursive because a locked method calls others that lock. reader_ is
    // used on the downstream thread only, but is reset and read under mutex_ as well.
    // Unguarded: packetQueue_ and the two threads (set in the constructor, then fixed)
    // and packetBuilder_ (used on packetQueue_ only).
    mutable std::recursive_mutex mutex_;
    std::string storedApiPath_;
    std::optional<std::string> redirectUrl_;
    // The URL the open connection is for (the redirect it used up, or the base URL), and
    // whether it came from a redirect: its head and cookies are that URL's.
    std::string connectionUrl_;
    bool connectionRedirected_ = false;
    int redirectsInARow_ = 0;
    std::shared_ptr<platform::InputStream> streamFromServer_;
    std::shared_ptr<platform::OutputStream> streamToServer_;
    MVApiConnectionState state_ = MVApiConnectionStateIdle;
    std::optional<std::string> proxyHost_;
    int64_t proxyPort_ = 0;
    bool proxyCredentialsLogged_ = false;
    std::string connectHost_;
    int64_t connectPort_ = 0;
    bool connectUsesTLS_ = false;
    bool needsVerifiedTrust_ = false;
    bool hasVerifiedTrust_ = false;
    // The response head read so far; the chunks after it go to reader_.
    std::optional<std::string> dataFromServer_;
    std::optional<platform::HTTPURLResponse> lastConnectionResponse_;
    bool supportsPersistentConnection_ = false;
    bool hasPersistentConnection_ = false;
    // Until then the handshake does not turn persistence on (see kPersistenceHoldBack).
    std::optional<platform::Date> persistenceHeldBackUntil_;
    // Packets handed to the writer on the open connection: a legacy one carries one.
    size_t packetsOnConnection_ = 0;
    bool serverWillAcceptMsgPack_ = false;
    bool serverWillAcceptGZip_ = false;
    MVApiContentType contentType_ = MVApiContentTypeJSON;
    bool isCompressed_ = false;
    std::optional<std::string> connectionIdentifier_;
    int64_t upstreamSerial_ = 0;
    int64_t downstreamSerial_ = 0;
    std::optional<platform::Date> timeOfStreamOpen_;
    std::optional<platform::Date> timeOfHTTPRequest_;
    bool isApiPathLogged_ = false;
    uint64_t iosBackgroundTaskIdentifier_ = 0;
    // The part of a head (or keep-alive chunk) the stream did not take at once; it goes
    // out before anything else.
    std::string unwrittenHead_;
    // The pending packets, their positions and the chunk being written.
    MVApiUpstreamWriter writer_;
    // The downstream chunks; used on the downstream thread only, without the lock.
    MVApiChunkReader reader_;
    MVApiChunkState currentChunkState_ = MVApiChunkStateHeader;  // the reader's, as last seen
    platform::TimerHandle responseBound_;
    std::optional<platform::Date> responseBoundAt_;  // when the armed stream bound fires
    bool insideChunk_ = false;  // the reader holds part of a chunk or of a packet
    uint64_t streamedBytes_ = 0;
    std::optional<platform::Date> timeOfLastRead_;
    std::vector<MVCommand> commandBuffer_;
    platform::TimerHandle commandBufferTimer_;
    platform::TimerHandle reconnectTimer_;  // the scheduled opening (main thread)
    // No opening before this, however a packet asks: set by each scheduled opening and
    // by a failure that schedules none.
    std::optional<platform::Date> retryNotBefore_;
    bool hasCommandBufferTimer_ = false;
    bool isAllowedToReadCommands_ = false;
    platform::TimerHandle upstreamKeepAlive_;
    platform::TimerHandle downstreamKeepAlive_;
    bool shutDown_ = false;

    // Packets are built on the upstream thread, one at a time, in serial order; the
    // builder belongs to that thread.
    std::unique_ptr<MVApiPacketBuilder> packetBuilder_;

    std::unique_ptr<platform::Thread> downstreamThread_;
    std::unique_ptr<platform::Thread> upstreamThread_;
};
