#pragma once
// Fixture for tests of URL loading: a loopback server and loads that record what their
// delegate hears, on the main loop.
//
//   auto recorder = loadToEnd(request("/page"));
//   EXPECT_EQ(recorder->events, (std::vector<std::string>{"response 200", "data 5", "finish"}));

#include <memory>
#include <string_view>

#include "platform/foundation/URLConnection.h"
#include "tests/support/HttpTestServer.h"
#include "tests/support/PlatformTest.h"
#include "tests/support/RecordingConnectionDelegate.h"

class URLLoadingTest : public PlatformTest {
  protected:
    static constexpr double kIO = 20.0;  // generous real-time bound for loopback I/O

    // A request for `pathAndQuery` on the test server.
    platform::URLRequest request(std::string_view pathAndQuery) const;
    // Starts a load on the main loop, kept in connection_; a new recorder unless given.
    std::shared_ptr<RecordingConnectionDelegate> load(
        platform::URLRequest r, std::shared_ptr<RecordingConnectionDelegate> recorder = nullptr);
    // The same, and waits (real time) until it has finished or failed.
    std::shared_ptr<RecordingConnectionDelegate> loadToEnd(
        platform::URLRequest r, std::shared_ptr<RecordingConnectionDelegate> recorder = nullptr);

    HttpTestServer server_;
    std::shared_ptr<platform::URLConnection> connection_;
};
