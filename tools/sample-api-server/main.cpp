// sample-api-server: the sample shop's API server on 127.0.0.1 (plain HTTP).
//
//   sample-api-server [--port N] [--shop DIR] [--reports DIR]
//
// Prints "sample-api-server listening on http://127.0.0.1:<port>/" once it listens (without
// --port, or with 0, on a free port that a later server may take again at once), logs
// each request and each command to stderr, and runs until SIGINT or SIGTERM. It is the
// shell's log server too: the error and crash reports it receives are counted in its log
// and, with --reports, stored in that folder (see SampleLogServer).
#include <signal.h>

#include <charconv>
#include <cstdio>
#include <exception>
#include <filesystem>
#include <functional>
#include <iostream>
#include <memory>
#include <mutex>
#include <optional>
#include <random>
#include <stdexcept>
#include <string>
#include <string_view>

#include "tools/peer/ApiPeer.h"
#include "tools/sample-api-server/SampleLogServer.h"
#include "tools/sample-api-server/SampleShop.h"

namespace {

constexpr const char* kName = "sample-api-server";
constexpr int kUsageError = 2;
// Ports the server picks from when given none, and how many it tries.
constexpr int kFirstOwnPort = 20000;
constexpr int kLastOwnPort = 32767;
constexpr int kFreePortTries = 16;

struct Options {
    uint16_t port = 0;
    std::filesystem::path shop = MV_SAMPLE_SHOP_DIR;
    std::optional<std::filesystem::path> reports;
};

void fail(const std::string& message) {
    std::cerr << kName << ": " << message << std::endl;
}

std::optional<uint16_t> portNumber(std::string_view text) {
    unsigned value = 0;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (error != std::errc() || end != text.data() + text.size() || text.empty() || value > 65535)
        return std::nullopt;
    return static_cast<uint16_t>(value);
}

// The peer on `port`, or for 0 on a free one of its own picking below the ports the system
// hands to outgoing connections (from 32768), so that no client takes it between two
// runs: the peer may take a port it is given again while the connections an earlier
// server closed there wait out their close, which a port of the system's choosing it may
// not. The system's choice when none of those tried is free.
std::unique_ptr<peer::ApiPeer> listenOn(uint16_t port,
                                        const std::function<void(const std::string&)>& log) {
    const auto on = [&log](uint16_t chosen) {
        return std::make_unique<peer::ApiPeer>(SampleLogServer::peerOptions(chosen, log));
    };
    if (port != 0) return on(port);
    std::mt19937 random(std::random_device{}());
    std::uniform_int_distribution<int> pick(kFirstOwnPort, kLastOwnPort);
    for (int tries = 0; tries < kFreePortTries; ++tries) {
        try {
            return on(static_cast<uint16_t>(pick(random)));
        } catch (const std::runtime_error&) {
        }
    }
    return on(0);
}

// The options, or none after a one-line error.
std::optional<Options> parse(int argc, char** argv) {
    Options options;
    for (int i = 1; i < argc; ++i) {
        std::string argument = argv[i];
        std::optional<std::string> value;
        if (const size_t equals = argument.find('='); equals != std::string::npos) {
            value = argument.substr(equals + 1);
            argument.erase(equals);
        }
        if (argument != "--port" && argument != "--shop" && argument != "--reports") {
            fail("unknown argument \"" + std::string(argv[i]) +
                 "\" (use --port N, --shop DIR, --reports DIR)");
            return std::nullopt;
        }
        if (!value && i + 1 < argc) value = argv[++i];
        if (!value) {
            fail(argument + " wants a value");
            return std::nullopt;
        }
        if (argument == "--port") {
            auto port = portNumber(*value);
            if (!port) {
                fail("--port wants a whole number from 0 to 65535, not \"" + *value + "\"");
                return std::nullopt;
            }
            options.port = *port;
        } else if (argument == "--reports") {
            options.reports = *value;
        } else {
            std::error_code error;
            if (!std::filesystem::is_directory(*value, error)) {
                fail("--shop \"" + *value + "\" is not a folder");
                return std::nullopt;
            }
            options.shop = *value;
        }
    }
    return options;
}

}  // namespace

int main(int argc, char** argv) {
    const auto options = parse(argc, argv);
    if (!options) return kUsageError;

    // Every thread inherits the mask; the main thread takes the signals with sigwait.
    sigset_t stopSignals;
    sigemptyset(&stopSignals);
    sigaddset(&stopSignals, SIGINT);
    sigaddset(&stopSignals, SIGTERM);
    pthread_sigmask(SIG_BLOCK, &stopSignals, nullptr);

    try {
        std::mutex logMutex;
        auto log = [&logMutex](const std::string& line) {
            std::lock_guard lock(logMutex);
            std::cerr << kName << ": " << line << std::endl;
        };
        // The shop keeps nothing of what clients send beyond the request at hand.
        const auto listening = listenOn(options->port, log);
        peer::ApiPeer& peer = *listening;
        SampleShop shop(options->shop, peer.port(), log);
        SampleLogServer logs(options->reports, log);
        peer.setResponder([&shop, &logs](const peer::PeerEvent& event) {
            if (auto actions = logs.respond(event)) return std::move(*actions);
            return shop.respond(event);
        });
        log("serving the shop folder " + options->shop.string());
        std::printf("%s listening on http://127.0.0.1:%d/\n", kName, peer.port());
        std::fflush(stdout);

        int signal = 0;
        sigwait(&stopSignals, &signal);
        log(signal == SIGINT ? "stopping on SIGINT" : "stopping on SIGTERM");
        // No answer runs once this returns, so the shop may go first.
        peer.setResponder(nullptr);
    } catch (const std::exception& error) {
        fail(error.what());
        return 1;
    }
    return 0;
}
