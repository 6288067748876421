#include "tools/sample-api-server/SampleShop.h"

#include <fmt/core.h>

#include <cstdlib>
#include <exception>
#include <iterator>
#include <map>
#include <utility>

#include "app/LogText.h"
#include "platform/foundation/RegularFile.h"

using nlohmann::json;

namespace {

constexpr const char* kShopPath = "/shop/";
constexpr size_t kMaxNameLength = 64;
constexpr const char* kNotFoundPage =
    "<!DOCTYPE html><html><head><meta charset=\"utf-8\"><title>Not found</title></head>"
    "<body><h1>Not found</h1><p>This shop has no such page.</p></body></html>";

bool isNameCharacter(char c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '-' ||
           c == '_';
}

// A page or data name: letters, digits, '-' and '_'.
bool isPlainName(const std::string& name) {
    if (name.empty() || name.size() > kMaxNameLength) return false;
    for (char c : name)
        if (!isNameCharacter(c)) return false;
    return true;
}

// A path below the shop folder: names of letters, digits, '-', '_' and '.' joined by '/',
// none of them "." or "..".
bool isSafeRelativePath(const std::string& path) {
    if (path.empty() || path.size() > 4 * kMaxNameLength) return false;
    size_t start = 0;
    while (start <= path.size()) {
        size_t end = path.find('/', start);
        if (end == std::string::npos) end = path.size();
        const std::string part = path.substr(start, end - start);
        if (part.empty() || part == "." || part == "..") return false;
        for (char c : part)
            if (!isNameCharacter(c) && c != '.') return false;
        start = end + 1;
    }
    return true;
}

std::string contentTypeFor(const std::filesystem::path& path) {
    static const std::map<std::string, std::string> types = {
        {".html", "text/html; charset=utf-8"},
        {".css", "text/css; charset=utf-8"},
        {".js", "text/javascript; charset=utf-8"},
        {".json", "application/json"},
        {".png", "image/png"},
        {".svg", "image/svg+xml"},
    };
    auto found = types.find(path.extension().string());
    return found != types.end() ? found->second : "application/octet-stream";
}

std::string httpResponse(int status, const char* reason, const std::string& contentType,
                         const std::string& body, bool withBody) {
    std::string out = fmt::format(
        "HTTP/1.1 {} {}\r\nContent-Type: {}\r\nContent-Length: {}\r\nCache-Control: no-cache\r\n"
        "Connection: close\r\n\r\n",
        status, reason, contentType, body.size());
    if (withBody) out += body;
    return out;
}

// A string parameter, or empty.
std::string text(const json& parameters, const char* key) {
    auto found = parameters.find(key);
    return found != parameters.end() && found->is_string() ? found->get<std::string>() : "";
}

// The path with every link resolved, or none when it does not exist.
std::optional<std::string> realPath(const std::filesystem::path& path) {
    char* resolved = ::realpath(path.c_str(), nullptr);
    if (!resolved) return std::nullopt;
    std::string text = resolved;
    std::free(resolved);
    return text;
}

json command(const char* name, json parameters) {
    return {{"c", name}, {"p", std::move(parameters)}};
}

}  // namespace

SampleShop::SampleShop(std::filesystem::path shopFolder, int port, Log log)
    : folder_(std::move(shopFolder)), port_(port), log_(std::move(log)) {}

json SampleShop::bootCommands() {
    return json::array({
        command("openPage", {{"src", "mvapi:home"}, {"targetTab", "main"}, {"animated", false}}),
        command("showTab", {{"targetTab", "main"}}),
        {{"c", "hideSplashScreen"}},
    });
}

std::string SampleShop::baseUrl() const {
    return fmt::format("http://127.0.0.1:{}{}", port_, kShopPath);
}

std::vector<peer::PeerAction> SampleShop::respond(const peer::PeerEvent& event) {
    std::vector<peer::PeerAction> actions;
    try {
        const size_t connection = event.connection;
        switch (event.kind) {
            case peer::PeerEvent::Kind::RequestHead: {
                const peer::HttpHead& head = *event.head;
                if (head.method == "POST") {
                    log_(fmt::format("connection {}: POST {}: command stream", connection,
                                     logText(head.target)));
                    actions.push_back(peer::PeerAction::head(peer::ResponseHead::ok(
                        {{"X-Merovane-Api", "Velkram"},
                         {"Content-Type", "application/json; charset=utf-8"}})));
                    break;
                }
                std::string response = fileResponse(head.method, head.target);
                log_(fmt::format("connection {}: {} {}: {}", connection, logText(head.method),
                                 logText(head.target),
                                 response.substr(9, response.find('\r') - 9)));
                actions.push_back(peer::PeerAction::raw(std::move(response)));
                actions.push_back(peer::PeerAction::close());
                break;
            }
            case peer::PeerEvent::Kind::Packet: {
                const peer::DecodedPacket& packet = event.packet->decoded;
                if (!packet.ok() || !packet.value.is_object()) {
                    log_(fmt::format("connection {}: packet not read: {}", connection,
                                     packet.ok() ? "no object" : packet.error));
                    break;
                }
                auto commands = packet.value.find("cmds");
                if (commands == packet.value.end() || !commands->is_array()) break;
                json answers = json::array();
                for (const auto& received : *commands) {
                    const std::string name =
                        received.is_object() ? text(received, "c") : std::string();
                    auto reply = answer(received);
                    log_(fmt::format("connection {}: received {}, {}", connection,
                                     name.empty() ? "a command without a name" : logText(name),
                                     reply ? "answered " + text(*reply, "c") : "not answered"));
                    if (reply) answers.push_back(std::move(*reply));
                }
                if (!answers.empty())
                    actions.push_back(peer::PeerAction::packet(
                        {{"ver", "2.0"}, {"serial", ++serial_}, {"cmds", std::move(answers)}}));
                break;
            }
            case peer::PeerEvent::Kind::BodyEnded:
                log_(fmt::format("connection {}: request body ended", connection));
                actions.push_back(peer::PeerAction::lastChunk());
                actions.push_back(peer::PeerAction::endOfStream());
                break;
        }
    } catch (const std::exception& error) {
        log_(fmt::format("connection {}: could not answer: {}", event.connection, error.what()));
    }
    return actions;
}

std::optional<json> SampleShop::answer(const json& received) const {
    if (!received.is_object()) return std::nullopt;
    const std::string name = text(received, "c");
    auto found = received.find("p");
    const json parameters = found != received.end() && found->is_object() ? *found : json::object();
    if (name == "appStart")
        return command("bootApp", {{"identifier", kBootIdentifier}, {"cmds", bootCommands()}});
    if (name == "getPage") return setPage(text(parameters, "pageId"));
    if (name == "dataRequest") return dataResponse(parameters);
    return std::nullopt;
}

json SampleShop::setPage(const std::string& pageId) const {
    std::optional<std::string> content;
    if (isPlainName(pageId)) content = readShopFile(pageId + ".html");
    if (!content) {
        log_(fmt::format("page \"{}\" not found", logText(pageId)));
        content = kNotFoundPage;
    }
    return command("setPage", {{"pageId", pageId},
                               {"content", std::move(*content)},
                               {"baseUrl", baseUrl()},
                               {"maxAge", kPageMaxAge}});
}

json SampleShop::dataResponse(const json& parameters) const {
    const std::string pageId = text(parameters, "pageId");
    std::optional<std::string> body;
    if (isPlainName(pageId))
        body = readShopFile(std::filesystem::path("data") / (pageId + ".json"));
    if (!body) log_(fmt::format("data \"{}\" not found", logText(pageId)));
    auto serial = parameters.find("serial");
    return command("dataResponse", {{"serial", serial != parameters.end() ? *serial : json("")},
                                    {"status", body ? 200 : 404},
                                    {"body", body.value_or("{\"error\":\"not found\"}")},
                                    {"bodyContentType", "application/json"}});
}

std::string SampleShop::fileResponse(const std::string& method, const std::string& target) const {
    const bool withBody = method != "HEAD";
    if (method != "GET" && method != "HEAD")
        return httpResponse(405, "Method Not Allowed", "text/plain", "GET, HEAD or POST only\n",
                            withBody);
    std::string path = target.substr(0, target.find_first_of("?#"));
    if (!path.starts_with(kShopPath))
        return httpResponse(404, "Not Found", "text/plain", "not found\n", withBody);
    path.erase(0, std::string_view(kShopPath).size());
    if (!isSafeRelativePath(path))
        return httpResponse(403, "Forbidden", "text/plain", "refused\n", withBody);
    auto content = readShopFile(path);
    if (!content) return httpResponse(404, "Not Found", "text/plain", "not found\n", withBody);
    return httpResponse(200, "OK", contentTypeFor(path), *content, withBody);
}

std::optional<std::string> SampleShop::readShopFile(const std::filesystem::path& relative) const {
    // Only regular files whose real folder lies inside the shop folder, the file itself no
    // link, of a bounded size.
    std::string whyNot;
    bool missing = false;
    std::optional<std::string> content;
    const auto root = realPath(folder_);
    const auto parent = realPath((folder_ / relative).parent_path());
    if (!root || !parent) {
        missing = true;
    } else if (*parent != *root && !parent->starts_with(*root + "/")) {
        whyNot = "outside the shop folder";
    } else {
        content = platform::readRegularFile(*parent + "/" + relative.filename().string(),
                                            kMaxFileSize, &whyNot, &missing);
    }
    if (!content && !missing)
        log_(fmt::format("{} not served: {}", logText(relative.string()), whyNot));
    return content;
}
