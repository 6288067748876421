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
#include "platform/ui/Screen.h"
#include "platform/web/WebEngine.h"

namespace {

constexpr size_t kMostPageBytes = 4 << 20;

struct Client : platform::WebEngineClient {
    bool ended = false;
    std::optional<platform::Error> error;
    bool engineShouldStartLoad(const platform::URLRequest&, platform::NavigationType) override {
        return true;
    }
    void engineDidStartLoad() override {}
    void engineDidFinishLoad() override { ended = true; }
    void engineDidFailLoad(const platform::Error& e) override {
        ended = true;
        error = e;
    }
};

}  // namespace

bool EngineBaseline::measure(std::unique_ptr<platform::WebEngine> engine, const std::string& file,
                             const std::string& output, int64_t startNanos, double timeoutSeconds) {
    char* resolved = ::realpath(file.c_str(), nullptr);
    const std::string path = resolved ? resolved : file;
    std::free(resolved);
    // The page itself, with its folder as the base of what it loads: both engines take
    // HTML, only one reads files.
    std::string whyNot;
    const auto html = platform::readRegularFile(path, kMostPageBytes, &whyNot);
    const auto base = platform::URL::parse("file://" + path);
    if (!html || !base) {
        MVLogError("EngineBaseline: {} is no readable page: {}", platform::log::escaped(file),
                   whyNot);
        return false;
    }
    Client client;
    engine->setClient(&client);
    const auto screen = platform::Screen::main().bounds();
    engine->setSize(screen.size.width, screen.size.height);
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
    MVLogInfo("EngineBaseline: the engine showed {} after {:.3f} s", path, seconds);
    return platform::FileManager::defaultManager().writeFileAtomically(
        output, platform::json::print(nlohmann::json{{"fileSeconds", seconds}}) + "\n");
}
