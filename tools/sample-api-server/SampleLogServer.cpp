#include "tools/sample-api-server/SampleLogServer.h"

#include <fmt/core.h>

#include <fstream>
#include <nlohmann/json.hpp>
#include <system_error>

#include "libmerovane/core/StringExtensions.h"
#include "platform/foundation/JsonValue.h"
#include "platform/foundation/Log.h"

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

SampleLogServer::SampleLogServer(std::optional<std::filesystem::path> folder, Log log)
    : folder_(std::move(folder)), log_(std::move(log)) {}

std::optional<std::vector<peer::PeerAction>> SampleLogServer::respond(
    const peer::PeerEvent& event) {
    const size_t connection = event.connection;
    if (event.kind != peer::PeerEvent::Kind::RequestHead) {
        auto found = waiting_.find(connection);
        if (found == waiting_.end()) return std::nullopt;
        if (event.kind != peer::PeerEvent::Kind::BodyEnded) return std::vector<peer::PeerAction>{};
        const std::string target = std::move(found->second);
        waiting_.erase(found);
        return store("crash", target, event.body);
    }
    const peer::HttpHead& head = *event.head;
    if (!head.target.starts_with(kPathPrefix)) return std::nullopt;
    const std::string path = head.target.substr(0, head.target.find('?'));
    if (path == "/applog/error" && head.method == "GET")
        return store("error", head.target, nullptr);
    if (path == "/applog/crash" && head.method == "POST") {
        if (waiting_.size() >= kMaxWaiting) {
            log_(fmt::format("connection {}: its crash report's body never came",
                             waiting_.begin()->first));
            waiting_.erase(waiting_.begin());
        }
        waiting_[connection] = head.target;
        return std::vector<peer::PeerAction>{};
    }
    log_(fmt::format("connection {}: {} {}: no such log request", connection,
                     platform::log::escaped(head.method), platform::log::escaped(head.target)));
    return answer(404, "Not Found");
}

std::vector<peer::PeerAction> SampleLogServer::store(const char* kind, const std::string& target,
                                                     const std::string* body) {
    const size_t number = ++counts_[kind];
    const nlohmann::json report = entries(target);
    const std::string about =
        body ? fmt::format("{} ({} bytes)", text(report, "errorClass"), body->size())
             : text(report, "errorDescription");
    log_(fmt::format("{} report {} received: {}", kind, number, platform::log::escaped(about)));
    if (!folder_ || number > kMaxStoredReports) return answer(200, "OK");
    const auto name = fmt::format("{}-{}", kind, number);
    std::error_code error;
    std::filesystem::create_directories(*folder_, error);
    std::ofstream(*folder_ / (name + ".json"), std::ios::binary)
        << platform::json::print(report, true) << "\n";
    if (body) std::ofstream(*folder_ / (name + ".mvcrash"), std::ios::binary) << *body;
    return answer(200, "OK");
}
