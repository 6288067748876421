#pragma once
// A loopback wallet server over HttpTestServer: serves client configurations, answers
// the full-wallet road from the pad the request carries, and records what arrived.
// Making one points the wallet server origins and the configuration host at it. Over
// TLS it serves the test certificates and has URL loading trust the test root.
//
//   WalletTestServer wallet;                  // or wallet({.tls = true})
//   wallet.serveConfiguration("sandbox", config);
//   wallet.serveProxyCard("411111", 1234567, 3, 2030);   // card text "4111110000001234567"
//   ... run the client ...
//   auto request = wallet.lastRequest(WalletTestServer::kFullWalletPath);
//   WalletTestServer::formFields(*request).at("otp");
//
// Requests the server cannot read (wrong query, content type, form or message) are
// answered 400 with an error message and listed in faults().
// Thread-safety: handlers run on the HTTP server's thread; the methods lock.

#include <cstdint>
#include <functional>
#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "tests/support/HttpTestServer.h"
#include "wallet/proto/android_wallet_service.pb.h"
#include "wallet/proto/client_config.pb.h"
#include "wallet/proto/error_message.pb.h"
#include "wallet/proto/ios_wallet_service.pb.h"

class WalletTestServer {
  public:
    static constexpr const char* kFullWalletPath = "/online-secure/v2/ios/v1/getFullWallet";
    static constexpr const char* kPreauthorizedPath =
        "/online-secure/v2/ios/v1/getMaskedWalletForPreauthorizedBuyer";
    static constexpr const char* kRevokePath = "/online-secure/v2/ios/v1/revokeRefreshToken";
    using FullWalletAnswer = std::function<walletproto::OWBenderGetFullWalletResponse(
        uint64_t pad, const walletproto::OWIosGetFullWalletRequest& request)>;
    using Form = std::map<std::string, std::string>;

    explicit WalletTestServer(HttpTestServer::Options options = {});

    HttpTestServer& http() { return http_; }
    std::string origin() const { return http_.baseURL(); }

    static std::string configurationPath(const std::string& suffix) {
        return "/walletsdk/hgConfig." + suffix;
    }
    void serveConfiguration(const std::string& suffix,
                            const walletproto::OWIOnlineWalletIosConfig& config);
    // Answers every full-wallet request (200) with what `answer` makes of its pad.
    void serveFullWallet(FullWalletAnswer answer);
    // A card whose number and verification number read iin + `digits` (13 at least).
    void serveProxyCard(const std::string& iin, uint64_t digits, int32_t month, int32_t year);
    // A serialized message with a status, for every request of the path.
    void respond(const std::string& path, int status, const google::protobuf::Message& message);

    std::optional<HttpTestServer::Request> lastRequest(const std::string& path) const {
        return http_.lastRequest(path);
    }
    size_t requestCount(const std::string& path) const { return http_.requestCount(path); }
    std::vector<std::string> faults() const;

    static Form formFields(const HttpTestServer::Request& request);
    static std::optional<uint64_t> padOf(const HttpTestServer::Request& request);
    // The "request" form field, decoded with the schema.
    template <class Message>
    static std::optional<Message> formRequest(const HttpTestServer::Request& request) {
        auto bytes = requestBytes(request);
        Message message;
        if (!bytes || !message.ParseFromString(*bytes)) return std::nullopt;
        return message;
    }
    static std::optional<std::string> requestBytes(const HttpTestServer::Request& request);
    // The header names in the order they arrived.
    static std::vector<std::string> headerNames(const HttpTestServer::Request& request);

  private:
    HttpTestServer::Response refuse(const std::string& fault);

    HttpTestServer http_;
    mutable std::mutex mutex_;
    std::vector<std::string> faults_;
};
