#pragma once
// The sample shop's server side, as an ApiPeer responder: POST requests get a chunked
// command stream that answers appStart, getPage and dataRequest; GET requests below
// /shop/ get the shop folder's files, never one a link leads out of it to. Pages come
// from "<pageId>.html" and data from "data/<pageId>.json" in the shop folder, read at
// each request.
//
//   peer::ApiPeer peer({.port = 8080});
//   SampleShop shop(shopFolder, peer.port(), [](const std::string& line) { ... });
//   peer.setResponder([&shop](const peer::PeerEvent& event) { return shop.respond(event); });

#include <atomic>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <nlohmann/json.hpp>
#include <optional>
#include <string>
#include <vector>

#include "tools/peer/ApiPeer.h"

class SampleShop {
  public:
    using Log = std::function<void(const std::string&)>;

    static constexpr const char* kBootIdentifier = "sample";
    static constexpr uintmax_t kMaxFileSize = 4u << 20;
    static constexpr int kPageMaxAge = 3600;  // seconds

    SampleShop(std::filesystem::path shopFolder, int port, Log log);

    // Runs on the peer's thread.
    std::vector<peer::PeerAction> respond(const peer::PeerEvent& event);

    // The answer to one command, or none for a command the shop does not answer.
    std::optional<nlohmann::json> answer(const nlohmann::json& command) const;
    // The whole HTTP response to a GET or HEAD of `target`.
    std::string fileResponse(const std::string& method, const std::string& target) const;

    // The commands of the boot script: the home page on the tab "main", shown, the
    // splash screen gone.
    static nlohmann::json bootCommands();

  private:
    std::string baseUrl() const;
    // The text of a regular file at most kMaxFileSize long whose real folder lies inside
    // the shop folder (no link leads out) and which is no link itself.
    std::optional<std::string> readShopFile(const std::filesystem::path& relative) const;
    nlohmann::json setPage(const std::string& pageId) const;
    nlohmann::json dataResponse(const nlohmann::json& parameters) const;

    std::filesystem::path folder_;
    int port_;
    Log log_;
    std::atomic<int64_t> serial_{0};
};
