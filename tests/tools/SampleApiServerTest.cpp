// The sample API server: what its shop answers over loopback, and its command line.
#include <fmt/core.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <nlohmann/json.hpp>
#include <sstream>
#include <thread>

#include "tests/support/ChildProcess.h"
#include "tests/support/TempDir.h"
#include "tools/peer/ApiPeer.h"
#include "tools/peer/ChunkedCoding.h"
#include "tools/peer/PacketCodec.h"
#include "tools/sample-api-server/SampleLogServer.h"
#include "tools/sample-api-server/SampleShop.h"

using nlohmann::json;

namespace {

constexpr auto kTimeout = std::chrono::seconds(20);
using Clock = std::chrono::steady_clock;

// Sends `request` to 127.0.0.1:`port` and reads until `enough` holds, the server closes
// or the time is up.
std::string exchange(int port, const std::string& request,
                     const std::function<bool(const std::string&)>& enough) {
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    address.sin_port = htons(static_cast<uint16_t>(port));
    std::string received;
    if (::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0 &&
        ::send(fd, request.data(), request.size(), MSG_NOSIGNAL) ==
            static_cast<ssize_t>(request.size())) {
        const auto end = Clock::now() + kTimeout;
        while (!enough(received) && Clock::now() < end) {
            pollfd in{fd, POLLIN, 0};
            if (::poll(&in, 1, 100) <= 0) continue;
            char buffer[65536];
            const ssize_t n = ::recv(fd, buffer, sizeof buffer, 0);
            if (n <= 0) break;
            received.append(buffer, static_cast<size_t>(n));
        }
    }
    ::close(fd);
    return received;
}

// The first packet of a chunked command stream, or null.
json firstPacket(const std::string& response) {
    peer::HttpHeadParser head(false);
    const size_t used = head.feed(response);
    if (!head.complete()) return nullptr;
    peer::ChunkedDecoder body;
    std::vector<std::string> chunks;
    body.feed(std::string_view(response).substr(used), chunks);
    return chunks.empty() ? json(nullptr) : peer::decodePacket(chunks.front()).value;
}

class SampleShopTest : public ::testing::Test {
  protected:
    void SetUp() override {
        shop_.write("home.html", "<html><body>home</body></html>");
        shop_.write("style.css", "body{}");
        shop_.write("data/featured.json", "[{\"name\":\"Mug\"}]");
        shop_.write("big.png", std::string(SampleShop::kMaxFileSize + 1, 'x'));
        std::filesystem::create_directory(shop_.file("folder.css"));
        std::filesystem::create_symlink(shop_.file("style.css"), shop_.file("link.css"));
        std::filesystem::create_directory_symlink("/etc", shop_.file("dirlink"));
        std::filesystem::create_directory_symlink(shop_.file("data"), shop_.file("inner"));
        server_.setResponder(
            [this](const peer::PeerEvent& event) { return sampleShop_.respond(event); });
    }
    void TearDown() override { server_.setResponder(nullptr); }

    // The commands of the packet that answers `command`.
    json answerTo(const json& command) {
        const std::string request =
            "POST / HTTP/1.1\r\nHost: 127.0.0.1\r\nTransfer-Encoding: chunked\r\n\r\n" +
            peer::encodeChunk(peer::encodePacket(
                {{"ver", "2.0"}, {"serial", 1}, {"cmds", json::array({command})}},
                peer::PacketEncoding::JSON));
        const json packet = firstPacket(exchange(
            server_.port(), request, [](const auto& r) { return !firstPacket(r).is_null(); }));
        return packet.is_object() ? packet.value("cmds", json::array()) : json::array();
    }
    std::string get(const std::string& target) {
        return exchange(server_.port(), "GET " + target + " HTTP/1.1\r\nHost: x\r\n\r\n",
                        [](const auto&) { return false; });
    }

    TempDir shop_;
    peer::ApiPeer server_;
    std::vector<std::string> logged_;
    SampleShop sampleShop_{shop_.path(), server_.port(),
                           [this](const std::string& line) { logged_.push_back(line); }};
};

TEST_F(SampleShopTest, CommandsGetTheirAnswers) {
    const std::string base = "http://127.0.0.1:" + std::to_string(server_.port()) + "/shop/";
    struct Row {
        json command;
        json expected;
    };
    const Row rows[] = {
        {{{"c", "appStart"}, {"p", {{"appVersion", "1.0"}}}},
         {{"c", "bootApp"},
          {"p", {{"identifier", "sample"}, {"cmds", SampleShop::bootCommands()}}}}},
        {{{"c", "getPage"}, {"p", {{"pageId", "home"}}}},
         {{"c", "setPage"},
          {"p",
           {{"pageId", "home"},
            {"content", "<html><body>home</body></html>"},
            {"baseUrl", base},
            {"maxAge", SampleShop::kPageMaxAge}}}}},
        {{{"c", "dataRequest"}, {"p", {{"serial", "7:1"}, {"pageId", "featured"}}}},
         {{"c", "dataResponse"},
          {"p",
           {{"serial", "7:1"},
            {"status", 200},
            {"body", "[{\"name\":\"Mug\"}]"},
            {"bodyContentType", "application/json"}}}}},
        {{{"c", "dataRequest"}, {"p", {{"serial", "7:2"}, {"pageId", "../home"}}}},
         {{"c", "dataResponse"},
          {"p",
           {{"serial", "7:2"},
            {"status", 404},
            {"body", "{\"error\":\"not found\"}"},
            {"bodyContentType", "application/json"}}}}},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.command.dump());
        EXPECT_EQ(answerTo(row.command), json::array({row.expected}));
    }
    const json unknown = answerTo({{"c", "getPage"}, {"p", {{"pageId", "style"}}}});
    ASSERT_EQ(unknown.size(), 1u);
    EXPECT_NE(unknown[0]["p"]["content"].get<std::string>().find("Not found"), std::string::npos);
    // The boot script opens the home page on the tab "main" and shows that tab.
    const json boot = SampleShop::bootCommands();
    EXPECT_EQ(boot[0]["p"]["src"], "mvapi:home");
    EXPECT_EQ(boot[0]["p"]["targetTab"], "main");
    EXPECT_EQ(boot[1], json({{"c", "showTab"}, {"p", {{"targetTab", "main"}}}}));
}

TEST_F(SampleShopTest, ShopFilesAreServedAndEverythingElseRefused) {
    struct Row {
        const char* target;
        const char* statusLine;
    };
    const Row rows[] = {
        {"/shop/../home.html", "HTTP/1.1 403 Forbidden"},
        {"/shop/./style.css", "HTTP/1.1 403 Forbidden"},
        {"/shop/%2e%2e/home.html", "HTTP/1.1 403 Forbidden"},
        {"/shop/missing.css", "HTTP/1.1 404 Not Found"},
        {"/shop/folder.css", "HTTP/1.1 404 Not Found"},
        {"/shop/link.css", "HTTP/1.1 404 Not Found"},
        {"/shop/big.png", "HTTP/1.1 404 Not Found"},
        {"/shop/dirlink/passwd", "HTTP/1.1 404 Not Found"},
        {"/shop/dirlink/../home.html", "HTTP/1.1 403 Forbidden"},
        {"/shop/inner/featured.json", "HTTP/1.1 200 OK"},
        {"/home.html", "HTTP/1.1 404 Not Found"},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.target);
        EXPECT_TRUE(get(row.target).starts_with(std::string(row.statusLine) + "\r\n"));
    }
    const std::string css = get("/shop/style.css?v=1");
    EXPECT_EQ(css,
              "HTTP/1.1 200 OK\r\nContent-Type: text/css; charset=utf-8\r\nContent-Length: 6\r\n"
              "Cache-Control: no-cache\r\nConnection: close\r\n\r\nbody{}");
    // Called here (after the peer's lock, which its answers held), the log is this thread's.
    EXPECT_GT(server_.connectionCount(), 0u);
    logged_.clear();
    EXPECT_TRUE(
        sampleShop_.fileResponse("GET", "/shop/dirlink/passwd").starts_with("HTTP/1.1 404"));
    EXPECT_EQ(logged_,
              std::vector<std::string>{"dirlink/passwd not served: outside the shop folder"});
}

// The shop in the repository keeps to what the server and the pages agree on.
TEST(SampleShopFolderTest, PagesDataAndFilesOfTheRepositoryShop) {
    std::vector<std::string> logged;
    const SampleShop shop(MV_SAMPLE_SHOP_DIR, 8080,
                          [&](const std::string& line) { logged.push_back(line); });
    for (const char* page : {"home", "products", "product"}) {
        SCOPED_TRACE(page);
        const auto reply = shop.answer({{"c", "getPage"}, {"p", {{"pageId", page}}}});
        ASSERT_TRUE(reply);
        const std::string content = (*reply)["p"]["content"];
        EXPECT_NE(content.find("<script id=\"libmerovane\" src=\"libmerovane.js\"></script>"),
                  std::string::npos);
        EXPECT_NE(content.find("href=\"style.css\""), std::string::npos);
        EXPECT_EQ((*reply)["p"]["baseUrl"], "http://127.0.0.1:8080/shop/");
    }
    const auto featured = shop.answer(
        {{"c", "dataRequest"}, {"p", {{"serial", "1:featured"}, {"pageId", "featured"}}}});
    ASSERT_TRUE(featured);
    EXPECT_EQ((*featured)["p"]["status"], 200);
    EXPECT_FALSE(json::parse((*featured)["p"]["body"].get<std::string>())["products"].empty());
    const std::pair<const char*, const char*> files[] = {
        {"libmerovane.js", "text/javascript; charset=utf-8"},
        {"style.css", "text/css; charset=utf-8"},
        {"logo.png", "image/png"},
    };
    for (const auto& [file, type] : files) {
        const std::string response = shop.fileResponse("HEAD", std::string("/shop/") + file);
        EXPECT_TRUE(response.starts_with("HTTP/1.1 200 OK\r\nContent-Type: " + std::string(type)))
            << response;
    }
    EXPECT_TRUE(logged.empty()) << logged.front();
}

// The program on `port` (0: an ephemeral one), serving `shop`; its output goes to `output`.
class ServerProgram {
  public:
    ServerProgram(const std::string& shop, std::string output,
                  const ChildProcess::Environment& environment = {}, int port = 0)
        : output_(std::move(output)),
          process_(
              {MV_SAMPLE_API_SERVER, {"--port", std::to_string(port), "--shop", shop}, output_},
              environment) {
        const std::string prefix = "sample-api-server listening on http://127.0.0.1:";
        const auto end = Clock::now() + kTimeout;
        const auto saidEither = [&] {
            const std::string said = text();
            return said.find(prefix) != std::string::npos ||
                   said.find("could not listen") != std::string::npos;
        };
        while (!saidEither() && Clock::now() < end)
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        const std::string said = text();
        if (said.find(prefix) != std::string::npos)
            port_ = std::stoi(said.substr(said.find(prefix) + prefix.size()));
    }
    // 0 when it never said where it listens.
    int port() const { return port_; }
    ChildProcess& process() { return process_; }
    std::string text() const {
        std::ifstream in(output_);
        std::stringstream said;
        said << in.rdbuf();
        return said.str();
    }
    // Its resident memory in KiB.
    long resident() const {
        std::ifstream status("/proc/" + std::to_string(process_.pid()) + "/status");
        for (std::string line; std::getline(status, line);)
            if (line.starts_with("VmRSS:")) return std::stol(line.substr(6));
        return -1;
    }

  private:
    std::string output_;
    ChildProcess process_;
    int port_ = 0;
};

// The program itself: it prints its address, answers, and stops on SIGTERM; a bad
// command line ends it at once with 2.
TEST(SampleApiServerProgramTest, StartsAnswersAndStops) {
    TempDir dir;
    std::string output;
    int runs = 0;
    const auto readOutput = [&] {
        std::ifstream in(output);
        std::stringstream text;
        text << in.rdbuf();
        return text.str();
    };
    for (const std::vector<std::string>& arguments : {std::vector<std::string>{"--port", "65536"},
                                                      {"--port", "-1"},
                                                      {"--port"},
                                                      {"--port", "12x"},
                                                      {"--shop", dir.file("none")},
                                                      {"--speed", "3"}}) {
        output = dir.file("bad" + std::to_string(++runs) + ".log");
        ChildProcess bad({MV_SAMPLE_API_SERVER, arguments, output});
        EXPECT_EQ(bad.wait(), 2) << arguments.front();
        const std::string said = readOutput();
        EXPECT_EQ(std::count(said.begin(), said.end(), '\n'), 1) << said;
    }

    dir.write("shop/home.html", "<p>home</p>");
    ServerProgram server(dir.file("shop"), dir.file("server.log"));
    ASSERT_NE(server.port(), 0) << server.text();
    const std::string home = exchange(server.port(), "GET /shop/home.html HTTP/1.1\r\n\r\n",
                                      [](const auto&) { return false; });
    EXPECT_TRUE(home.starts_with("HTTP/1.1 200 OK\r\n")) << home.substr(0, 200);
    server.process().kill(SIGTERM);
    EXPECT_EQ(server.process().wait(), 0);
    EXPECT_NE(server.text().find("GET /shop/home.html: 200 OK"), std::string::npos)
        << server.text();
}

// A later server listens on the port an earlier one took for itself, although the
// connections that one closed still wait out their close there; not while it runs.
TEST(SampleApiServerProgramTest, ALaterServerListensWhereAnEarlierOneServed) {
    TempDir dir;
    dir.write("shop/home.html", "<p>home</p>");
    for (const int served : {0, 1, 4}) {
        const std::string run = std::to_string(served);
        ServerProgram earlier(dir.file("shop"), dir.file("earlier" + run + ".log"));
        ASSERT_NE(earlier.port(), 0) << earlier.text();
        for (int i = 0; i < served; ++i)
            EXPECT_TRUE(
                exchange(earlier.port(), "GET /shop/home.html HTTP/1.1\r\n\r\n", [](const auto&) {
                    return false;
                }).starts_with("HTTP/1.1 200 OK\r\n"));
        {
            ServerProgram beside(dir.file("shop"), dir.file("beside" + run + ".log"), {},
                                 earlier.port());
            EXPECT_EQ(beside.port(), 0) << beside.text();
            EXPECT_EQ(beside.process().wait(), 1);
        }
        earlier.process().kill(SIGTERM);
        ASSERT_EQ(earlier.process().wait(), 0);
        ServerProgram later(dir.file("shop"), dir.file("later" + run + ".log"), {}, earlier.port());
        EXPECT_EQ(later.port(), earlier.port()) << served << " served: " << later.text();
        later.process().kill(SIGTERM);
        EXPECT_EQ(later.process().wait(), 0);
    }
}

// A command packet up to the bound of a chunk is answered; one past it closes its stream
// with a line that says its commands go unanswered, however far past.
TEST(SampleApiServerProgramTest, ACommandPacketPastTheBoundIsSaidToGoUnanswered) {
    TempDir dir;
    dir.write("shop/data/featured.json", "{}");
    ServerProgram server(dir.file("shop"), dir.file("server.log"));
    ASSERT_NE(server.port(), 0) << server.text();
    const std::string head =
        "POST / HTTP/1.1\r\nHost: 127.0.0.1\r\nTransfer-Encoding: chunked\r\n\r\n";
    const auto packetOf = [](size_t bodySize) {
        const json request = {
            {"c", "dataRequest"},
            {"p",
             {{"serial", "1:big"}, {"pageId", "featured"}, {"body", std::string(bodySize, 'b')}}}};
        return peer::encodePacket({{"ver", "2.0"}, {"serial", 1}, {"cmds", json::array({request})}},
                                  peer::PacketEncoding::JSON);
    };
    const std::string fits = packetOf(SampleLogServer::kMaxBodySize - 200);
    ASSERT_LE(fits.size(), SampleLogServer::kMaxBodySize);
    const json packet =
        firstPacket(exchange(server.port(), head + peer::encodeChunk(fits),
                             [](const auto& r) { return !firstPacket(r).is_null(); }));
    ASSERT_TRUE(packet.is_object()) << server.text();
    EXPECT_EQ(packet["cmds"][0]["p"]["serial"], "1:big");

    const size_t pastBy[] = {1, SampleLogServer::kMaxBodySize, size_t{80} << 20};
    for (const size_t past : pastBy) {
        // Only the size line of the chunk is read.
        const std::string size = fmt::format("{:X}", SampleLogServer::kMaxBodySize + past);
        const std::string answer =
            exchange(server.port(), head + size + "\r\n" + std::string(4096, 'b'),
                     [](const auto&) { return false; });
        EXPECT_TRUE(firstPacket(answer).is_null()) << answer.substr(0, 200);
        const std::string said = fmt::format(
            "chunk size too large: {}; closed (a chunk past {} bytes: the commands or "
            "report it carried go unanswered)",
            size, SampleLogServer::kMaxBodySize);
        const auto end = Clock::now() + kTimeout;
        while (server.text().find(said) == std::string::npos && Clock::now() < end)
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        EXPECT_NE(server.text().find(said), std::string::npos) << said << "\n" << server.text();
    }
}

// What clients sent is not kept once read, and a head too long is refused at once.
TEST(SampleApiServerProgramTest, KeepsNothingOfWhatClientsSent) {
    TempDir dir;
    dir.write("shop/home.html", "<p>home</p>");
    // Freed memory goes back to use at once, also in a sanitizer's build.
    const char* sanitizer = std::getenv("ASAN_OPTIONS");
    ServerProgram server(
        dir.file("shop"), dir.file("server.log"),
        {{"ASAN_OPTIONS", std::string(sanitizer ? sanitizer : "") + ":quarantine_size_mb=0"}});
    ASSERT_NE(server.port(), 0) << server.text();
    // 8 MiB of packets that the shop reads and need no answer.
    const std::string chunk = peer::encodeChunk(
        peer::encodePacket({{"cmds", json::array()}, {"pad", std::string(65536, 'p')}},
                           peer::PacketEncoding::MessagePack));
    std::string request =
        "POST / HTTP/1.1\r\nHost: 127.0.0.1\r\nTransfer-Encoding: chunked\r\n\r\n";
    while (request.size() < (8u << 20)) request += chunk;
    request += peer::kLastChunk;
    long before = 0;
    for (int round = 0; round < 4; ++round) {
        const std::string response =
            exchange(server.port(), request, [](const auto&) { return false; });
        EXPECT_TRUE(response.ends_with(peer::kLastChunk)) << response.substr(0, 200);
        if (round == 0) before = server.resident();  // after what one request needs
    }
    const long grown = server.resident() - before;
    EXPECT_LT(grown, 8 * 1024) << "KiB more after 24 MiB sent";

    const std::string refused = exchange(
        server.port(), "GET /shop/home.html HTTP/1.1\r\nX-Long: " + std::string(70000, 'a'),
        [](const auto&) { return false; });
    EXPECT_TRUE(refused.starts_with("HTTP/1.1 431 Request Header Fields Too Large\r\n"))
        << refused.substr(0, 200);
}

// Crash reports through the peer, as the program serves them: a chunked body is stored
// whole; one whose length is past the limit is answered at once, before its body.
TEST(SampleLogServerPeerTest, ChunkedBodiesAreStoredAndTooLongOnesRefusedAtOnce) {
    TempDir reports;
    peer::ApiPeer server({.keptBytes = 0, .keptEntries = 0, .keptClosed = 0, .plainBodies = true});
    SampleLogServer logs(reports.path(), [](const std::string&) {});
    server.setResponder([&logs](const peer::PeerEvent& event) {
        return logs.respond(event).value_or(std::vector<peer::PeerAction>{});
    });
    const auto answered = [](const std::string& r) { return r.find("\r\n\r\n") != r.npos; };
    const std::string head = "POST /applog/crash?errorClass=x HTTP/1.1\r\nHost: 127.0.0.1\r\n";
    const std::string report(200000, 'r');
    const std::string chunked =
        exchange(server.port(),
                 head + "Transfer-Encoding: chunked\r\n\r\n" +
                     peer::encodeChunk(std::string_view(report).substr(0, 70000)) +
                     peer::encodeChunk(std::string_view(report).substr(70000)) +
                     std::string(peer::kLastChunk),
                 answered);
    EXPECT_TRUE(chunked.starts_with("HTTP/1.1 200 OK\r\n")) << chunked;
    std::ifstream stored(reports.file("crash-1.mvcrash"), std::ios::binary);
    EXPECT_EQ(std::string(std::istreambuf_iterator<char>(stored), {}), report);

    const auto start = Clock::now();
    const std::string refused =
        exchange(server.port(), head + "Content-Length: 104857600\r\n\r\n", answered);
    EXPECT_TRUE(refused.starts_with("HTTP/1.1 413 Payload Too Large\r\n")) << refused;
    EXPECT_LT(Clock::now() - start, kTimeout / 2);
    server.setResponder(nullptr);
}

}  // namespace
