#include "app/EngineBaseline.h"

#include <nlohmann/json.hpp>
#include <optional>

#include "libmerovane/core/MVLog.h"
#include "platform/foundation/Clock.h"
#include "platform/foundation/FileManager.h"
#include "platform/foundation/JsonValue.h"
#include "platform/foundation/RegularFile.h"
#include "platform/foundation/RunLoop.h"
#include "platform/foundation/URL.h"
#include "platform/foundation/URLRequest.h"
#include "platform/ui/Screen.h"
#include "platform/web/WebEngine.h"

namespace {

constexpr size_t kMostPageBytes = 4 << 20;

struct Client : platform::WebEngineClient {
    bool ended = false;
    std::optional<platform::Error> error;
    // The page's commands are the shell's: the engine alone takes none, and fails on none.
    bool engineShouldStartLoad(const platform::URLRequest& request,
                               platform::NavigationType) override {
        return request.url().schemeLowercased() != "mvcmd";
    }
    void engineDidStartLoad() override {}
    void engineDidFinishLoad() override { ended = true; }
    void engineDidFailLoad(const platform::Error& e) override {
        ended = true;
        error = e;
    }
};

// The page as an http(s) address; none for a file.
std::optional<platform::URL> webAddress(const std::string& page) {
    auto url = platform::URL::parse(page);
    if (!url) return std::nullopt;
    const std::string scheme = url->schemeLowercased();
    return scheme == "http" || scheme == "https" ? url : std::nullopt;
}

}  // namespace

bool EngineBaseline::measure(std::unique_ptr<platform::WebEngine> engine, const std::string& page,
                             const std::string& output, int64_t startNanos, double timeoutSeconds) {
    const auto address = webAddress(page);
    std::string path = page;
    std::optional<std::string> html;
    std::optional<platform::URL> base;
    if (!address) {
        char* resolved = ::realpath(page.c_str(), nullptr);
        if (resolved) path = resolved;
        std::free(resolved);
        // The page itself, with its folder as the base of what it loads: both engines take
        // HTML, only one reads files.
        std::string whyNot;
        html = platform::readRegularFile(path, kMostPageBytes, &whyNot);
        base = platform::URL::parse("file://" + path);
        if (!html || !base) {
            MVLogError("EngineBaseline: {} is no readable page: {}", platform::log::escaped(page),
                       whyNot);
            return false;
        }
    }
    Client client;
    engine->setClient(&client);
    const auto screen = platform::Screen::main().bounds();
    engine->setSize(screen.size.width, screen.size.height);
    if (address)
        engine->loadRequest(platform::URLRequest(*address));
    else
        engine->loadHTMLString(*html, base);
    const int64_t deadline =
        platform::Clock::monotonicNanos() + static_cast<int64_t>(timeoutSeconds * 1e9);
    while (!client.ended && platform::Clock::monotonicNanos() < deadline)
        platform::RunLoop::main().runOnce(50000000);
    const bool shown = client.ended && !client.error && !engine->snapshot().isEmpty();
    engine->setClient(nullptr);
    if (!shown) {
        MVLogError("EngineBaseline: the engine did not show {}: {}", platform::log::escaped(path),
                   client.error   ? client.error->localizedDescription()
                   : client.ended ? "no picture"
                                  : "no load within the time");
        return false;
    }
    const double seconds =
        static_cast<double>(platform::Clock::monotonicNanos() - startNanos) / 1e9;
    MVLogInfo("EngineBaseline: the engine showed {} after {:.3f} s", platform::log::escaped(path),
              seconds);
    return platform::FileManager::defaultManager().writeFileAtomically(
        output, platform::json::print(nlohmann::json{{"fileSeconds", seconds}}) + "\n");
}
