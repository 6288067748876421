#pragma once
// The sample server's log server, beside the shop on the same port: error reports
// (GET /applog/error?<entries>) and crash reports (POST /applog/crash?<entries> with the
// report's bytes, of a Content-Length or chunked) are answered 200, counted in the log
// ("error report <n> received: ...", "crash report <n> received: ...") and, with a
// folder, stored there: the decoded query entries as error-<n>.json or crash-<n>.json, a
// crash report's bytes as crash-<n>.mvcrash. At most kMaxStoredReports of each kind are
// stored; later ones are only counted. A crash report's body longer than kMaxBodySize is
// answered 413 as soon as that shows (from its Content-Length, or at the chunk size line
// that takes it past) and its connection closed, no more than kMaxBodySize of it read;
// one whose length is missing or malformed, 411 or 400. Past kMaxWaiting crash reports
// whose body is still coming, the oldest is answered 503 and closed.
//
//   peer::ApiPeer peer(SampleLogServer::peerOptions(port, log));
//   SampleLogServer logs(folder, log);
//   peer.setResponder([&](const peer::PeerEvent& event) {
//       if (auto actions = logs.respond(event)) return *actions;
//       return shop.respond(event);
//   });

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "tools/peer/ApiPeer.h"

class SampleLogServer {
  public:
    using Log = std::function<void(const std::string&)>;
    static constexpr size_t kMaxStoredReports = 1000;
    // Crash reports whose body is still coming; a newer one drops the oldest.
    static constexpr size_t kMaxWaiting = 64;
    static constexpr size_t kMaxBodySize = peer::ApiRequestParser::kMaxPlainBodySize;
    static constexpr const char* kPathPrefix = "/applog/";
    static constexpr double kIdleTimeout = 30;  // seconds

    // The peer the sample server runs on: bodies of a Content-Length read, no chunk longer
    // than kMaxBodySize, nothing kept of what clients send, a request that cannot be read
    // answered and closed, a connection quiet for `idleTimeout` closed; each of those a
    // line of `log`, which says when a chunk too long leaves what it carried (a command
    // packet, a crash report) unanswered.
    static peer::ApiPeerOptions peerOptions(uint16_t port, Log log,
                                            double idleTimeout = kIdleTimeout);

    // No folder: reports are counted, not stored.
    SampleLogServer(std::optional<std::filesystem::path> folder, Log log);

    // Runs on the peer's thread. The actions for an event of a log request (none yet
    // while a crash report's body comes); none for an event of another request.
    std::optional<std::vector<peer::PeerAction>> respond(const peer::PeerEvent& event);

  private:
    std::vector<peer::PeerAction> store(const char* kind, const std::string& target,
                                        const std::string* body);

    std::optional<std::filesystem::path> folder_;
    Log log_;
    // A crash report whose body is coming, or one refused whose events are ignored.
    struct Waiting {
        std::string target;
        std::string body;  // the chunks so far
        bool refused = false;
    };
    std::optional<std::vector<peer::PeerAction>> crashHead(size_t connection,
                                                           const peer::HttpHead& head);
    std::vector<peer::PeerAction> refuse(size_t connection, int status, const char* reason);

    std::map<size_t, Waiting> waiting_;  // by connection
    std::map<std::string, size_t> counts_;
};
