// URLs later starts hand to the running shell, pieces of the input split at NUL bytes (an
// empty piece: the library says it can open links): each text is refused, dropped at the
// bound or delivered exactly once, in order, and only once the library can open links;
// every log text made of it is valid UTF-8.
#include <cstddef>
#include <cstdint>
#include <nlohmann/json.hpp>
#include <string>
#include <string_view>
#include <vector>

#include "app/HandedOverLinks.h"
#include "app/LogText.h"
#include "libmerovane/application/MVLibraryApplication.h"
#include "platform/foundation/Clock.h"
#include "platform/foundation/NotificationCenter.h"
#include "platform/foundation/RunLoop.h"
#include "platform/foundation/TestDriver.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static bool ready = (platform::Clock::installManual(), true);
    (void)ready;
    const std::string_view input(reinterpret_cast<const char*>(data), size);
    std::vector<std::string> taken, delivered;
    {
        HandedOverLinks links([&](const platform::URL& url) {
            delivered.push_back(url.absoluteString());
            return std::optional<bool>(delivered.size() % 2 == 0);
        });
        bool started = false;
        for (size_t at = 0; at <= input.size();) {
            const size_t end = std::min(input.find('\0', at), input.size());
            const std::string piece(input.substr(at, end - at));
            at = end + 1;
            try {
                (void)nlohmann::json(logText(piece)).dump();
            } catch (const nlohmann::json::exception&) {
                __builtin_trap();  // not UTF-8
            }
            if (piece.empty()) {
                platform::NotificationCenter::defaultCenter().post(
                    MVLibraryApplicationCanOpenLinksNotification);
                started = true;
            } else if (links.receive(piece)) {
                if (HandedOverLinks::check(piece) != HandedOverLinks::Check::Taken)
                    __builtin_trap();
                taken.push_back(platform::URL::parse(piece)->absoluteString());
            }
            platform::runUntilIdle();
            if (!started && !delivered.empty()) __builtin_trap();
            if (taken.size() - delivered.size() > size_t{HandedOverLinks::kMaxWaiting})
                __builtin_trap();
        }
        if (started && delivered != taken) __builtin_trap();
    }
    platform::RunLoop::main().discardPendingForTesting();
    return 0;
}
