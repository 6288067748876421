#include "tools/sample-api-server/SampleLogServer.h"

#include <fmt/core.h>

#include <charconv>
#include <fstream>
#include <nlohmann/json.hpp>
#include <system_error>

#include "app/LogText.h"
#include "libmerovane/core/StringExtensions.h"
#include "platform/foundation/JsonValue.h"

namespace {

std::vector<peer::PeerAction> answer(int status, const char* reason) {
    return {
        peer::PeerAction::raw(fmt::format(
            "HTTP/1.1 {} {}\r\nContent-Length: 0\r\nConnection: close\r\n\r\n", status, reason)),
        peer::PeerAction::close()};
}

// The query's "key=value" pairs, decoded; a pair that does not decode is kept as sent.
nlohmann::json entries(const std::string& target) {
    nlohmann::json out = nlohmann::json::object();
    const size_t mark = target.find('?');
    if (mark == std::string::npos) return out;
    const std::string_view query = std::string_view(target).substr(mark + 1);
    size_t start = 0;
    while (start < query.size()) {
        size_t end = query.find('&', start);
        if (end == std::string_view::npos) end = query.size();
        const std::string_view pair = query.substr(start, end - start);
        const size_t equals = pair.find('=');
        const std::string_view key = pair.substr(0, equals);
        const std::string_view value =
            equals == std::string_view::npos ? std::string_view() : pair.substr(equals + 1);
        if (!key.empty())
            out[urlDecodedString(key).value_or(std::string(key))] =
                urlDecodedString(value).value_or(std::string(value));
        start = end + 1;
    }
    return out;
}

std::string text(const nlohmann::json& object, const char* key) {
    auto found = object.find(key);
    return found != object.end() && found->is_string() ? found->get<std::string>() : "";
}

}  // namespace

peer::ApiPeerOptions SampleLogServer::peerOptions(uint16_t port, Log log, double idleTimeout) {
    return {.port = port,
            .keptBytes = 0,
            .keptEntries = 0,
            .keptClosed = 0,
            .plainBodies = true,
            .maxChunk = kMaxBodySize,
            .answerFaults = true,
            .idleTimeout = idleTimeout,
            .log = [log = std::move(log)](const std::string& line) {
                std::string said = logText(line);
                if (line.find(": chunk size too large: ") != std::string::npos)
                    said += fmt::format(
                        " (a chunk past {} bytes: the commands or report it carried go unanswered)",
                        kMaxBodySize);
                log(said);
            }};
}

SampleLogServer::SampleLogServer(std::optional<std::filesystem::path> folder, Log log)
    : folder_(std::move(folder)), log_(std::move(log)) {}

std::optional<std::vector<peer::PeerAction>> SampleLogServer::respond(
    const peer::PeerEvent& event) {
    const size_t connection = event.connection;
    if (event.kind != peer::PeerEvent::Kind::RequestHead) {
        auto found = waiting_.find(connection);
        if (found == waiting_.end()) return std::nullopt;
        Waiting& waiting = found->second;
        if (waiting.refused) return std::vector<peer::PeerAction>{};
        if (event.kind == peer::PeerEvent::Kind::Packet) {
            const std::string& chunk = event.packet->payload;
            if (chunk.size() > kMaxBodySize - waiting.body.size())
                return refuse(connection, 413, "Payload Too Large");
            waiting.body += chunk;
            return std::vector<peer::PeerAction>{};
        }
        const std::string target = std::move(waiting.target);
        const std::string body = event.body ? *event.body : std::move(waiting.body);
        waiting_.erase(found);
        return store("crash", target, &body);
    }
    const peer::HttpHead& head = *event.head;
    if (!head.target.starts_with(kPathPrefix)) return std::nullopt;
    const std::string path = head.target.substr(0, head.target.find('?'));
    if (path == "/applog/error" && head.method == "GET")
        return store("error", head.target, nullptr);
    if (path == "/applog/crash" && head.method == "POST") return crashHead(connection, head);
    log_(fmt::format("connection {}: {} {}: no such log request", connection, logText(head.method),
                     logText(head.target)));
    return answer(404, "Not Found");
}

std::optional<std::vector<peer::PeerAction>> SampleLogServer::crashHead(
    size_t connection, const peer::HttpHead& head) {
    std::vector<peer::PeerAction> dropped;
    if (waiting_.size() >= kMaxWaiting) {
        const auto oldest = waiting_.begin();
        if (!oldest->second.refused) {
            log_(fmt::format(
                "connection {}: crash report dropped for a newer one: 503 Service Unavailable",
                oldest->first));
            for (auto& action : answer(503, "Service Unavailable"))
                dropped.push_back(std::move(action).on(oldest->first));
        }
        waiting_.erase(oldest);
    }
    waiting_[connection].target = head.target;
    auto actions = [&](std::vector<peer::PeerAction> own) {
        own.insert(own.end(), std::make_move_iterator(dropped.begin()),
                   std::make_move_iterator(dropped.end()));
        return own;
    };
    const auto encoding = head.field("Transfer-Encoding");
    const auto length = head.field("Content-Length");
    if (encoding ? *encoding != "chunked" : !length)
        return actions(refuse(connection, 411, "Length Required"));
    if (encoding) return actions({peer::PeerAction::bodyAsBytes(kMaxBodySize)});
    size_t size = 0;
    const auto [end, failed] =
        std::from_chars(length->data(), length->data() + length->size(), size);
    if (failed == std::errc::result_out_of_range ||
        (failed == std::errc() && end == length->data() + length->size() && size > kMaxBodySize))
        return actions(refuse(connection, 413, "Payload Too Large"));
    if (failed != std::errc() || end != length->data() + length->size() || length->empty())
        return actions(refuse(connection, 400, "Bad Request"));
    return actions({peer::PeerAction::bodyAsBytes(kMaxBodySize)});
}

// Answers at once and closes; what the connection still shows is ignored.
std::vector<peer::PeerAction> SampleLogServer::refuse(size_t connection, int status,
                                                      const char* reason) {
    Waiting& waiting = waiting_[connection];
    waiting.refused = true;
    waiting.body = std::string();
    log_(fmt::format("connection {}: crash report refused: {} {}", connection, status, reason));
    return answer(status, reason);
}

std::vector<peer::PeerAction> SampleLogServer::store(const char* kind, const std::string& target,
                                                     const std::string* body) {
    const size_t number = ++counts_[kind];
    const nlohmann::json report = entries(target);
    const std::string about =
        body ? fmt::format("{} ({} bytes)", text(report, "errorClass"), body->size())
             : text(report, "errorDescription");
    log_(fmt::format("{} report {} received: {}", kind, number, logText(about)));
    if (!folder_ || number > kMaxStoredReports) return answer(200, "OK");
    const auto name = fmt::format("{}-{}", kind, number);
    std::error_code error;
    std::filesystem::create_directories(*folder_, error);
    std::ofstream(*folder_ / (name + ".json"), std::ios::binary)
        << platform::json::print(report, true) << "\n";
    if (body) std::ofstream(*folder_ / (name + ".mvcrash"), std::ios::binary) << *body;
    return answer(200, "OK");
}
