#pragma once
// Fixture for the web cache's data sources: the real cache over a fresh store, the API
// connection's host set up for tests, no proxy from the machine, and lookups that record
// every answer.
//
//   auto answers = lookup("mv-api-data:menu");
//   ASSERT_TRUE(waitFor([&] { return answers->finished(); }));

#include <memory>
#include <nlohmann/json.hpp>
#include <optional>
#include <string>
#include <vector>

#include "libmerovane/connection/MVApiConnection.h"
#include "libmerovane/core/MVConnectionLossMonitor.h"
#include "libmerovane/webcache/MVWebCache.h"
#include "platform/foundation/Error.h"
#include "platform/foundation/SharedInstances.h"
#include "platform/foundation/TestDriver.h"
#include "tests/support/ProxyEnvironment.h"
#include "tests/support/StorageFixture.h"
#include "tests/support/TestApiConnectionHost.h"

class WebCacheSourceTest : public StorageTest {
  protected:
    using Data = MVWebCacheInterface::Data;
    static constexpr double kIO = 20.0;  // generous real-time bound for loopback I/O

    // Every answer of one lookup.
    struct Answers {
        std::vector<std::string> events;
        Data data;
        nlohmann::json info;
        std::optional<platform::Error> error;
        // A final answer came: data with no reload pending, or a failure.
        bool finished() const { return finals > 0; }
        int finals = 0;
    };

    void SetUp() override {
        StorageTest::SetUp();
        proxies_ = std::make_unique<testsupport::ProxyEnvironment>();
        host_ = std::make_shared<TestApiConnectionHost>();
        MVApiConnection::setHost(host_);
    }
    void TearDown() override {
        // Disk reads still on their way finish before the store goes; connections and
        // their threads go before the servers of the test.
        MVWebCache::waitForFileOperations();
        platform::runUntilIdle();
        platform::resetSharedInstancesForTesting();
        proxies_.reset();
        StorageTest::TearDown();
    }

    MVWebCache& cache() { return MVWebCache::sharedCache(); }

    std::shared_ptr<Answers> lookup(const std::string& key) {
        auto out = std::make_shared<Answers>();
        cache().dataForKey(
            key,
            [out](bool fromMemory, bool reloadPending, const Data& data,
                  const nlohmann::json& info) {
                out->events.push_back(fmt::format("available({},{})", fromMemory, reloadPending));
                out->data = data;
                out->info = info;
                if (!reloadPending) ++out->finals;
            },
            [out](const Data&) { out->events.push_back("starts"); },
            [out](const platform::Error& error, const Data&) {
                out->events.push_back(fmt::format("failed({},{})", error.domain(), error.code()));
                out->error = error;
                ++out->finals;
            });
        return out;
    }

    static Data bytesOf(const std::string& text) {
        return std::make_shared<const std::vector<uint8_t>>(text.begin(), text.end());
    }
    static std::string textOf(const Data& data) {
        return data ? std::string(data->begin(), data->end()) : std::string("nil");
    }

    static bool waitFor(const std::function<bool()>& predicate) {
        return platform::runUntil(predicate, kIO);
    }

    std::unique_ptr<testsupport::ProxyEnvironment> proxies_;
    std::shared_ptr<TestApiConnectionHost> host_;
};

// The clock moving on in quarter seconds while the API stream's packets reach the
// connection-loss monitor every `streamEvery` s (0: never), from the watch's start;
// notes when the monitor first finds the connection lost.
class LossWatch {
  public:
    explicit LossWatch(double streamEvery)
        : start_(platform::Date::now()), every_(streamEvery), nextPacket_(streamEvery) {}

    double elapsed() const { return platform::Date::now().timeIntervalSince(start_); }
    void advance(double seconds) {
        for (double moved = 0; moved < seconds - 1e-9; moved += 0.25) {
            platform::advanceBy(0.25);
            if (every_ > 0 && elapsed() >= nextPacket_ - 1e-9) {
                MVConnectionLossMonitor::reportConnectionSuccess();
                nextPacket_ += every_;
            }
            if (!lostAt && MVConnectionLossMonitor::sharedMonitor().state() ==
                               MVConnectionLossMonitor::kStateLostBlocking)
                lostAt = elapsed();
        }
    }

    std::optional<double> lostAt;

  private:
    const platform::Date start_;
    const double every_;
    double nextPacket_;
};
