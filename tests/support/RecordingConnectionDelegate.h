#pragma once
// A URL connection delegate that records what it hears, for tests.
//
//   auto recorder = std::make_shared<RecordingConnectionDelegate>();
//   platform::URLConnection::start(request, recorder, platform::RunLoop::main());
//   ASSERT_TRUE(platform::runUntil([&] { return recorder->isDone(); }, 10));
//   EXPECT_EQ(recorder->body(), "hello");
//
// Every callback notes its thread; `events` reads like "redirect 302 http://…",
// "response 200", "data 5", "finish", "fail -1001". Not synchronised: read it on the
// connection's callback loop (or once that loop is quiet).

#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "platform/foundation/URLConnection.h"

class RecordingConnectionDelegate : public platform::URLConnectionDelegate {
  public:
    // Answers redirects; follows them unchanged when unset.
    std::function<std::optional<platform::URLRequest>(platform::URLRequest,
                                                      const platform::HTTPURLResponse&)>
        onRedirect;
    // Runs after a response is recorded (a test may cancel there).
    std::function<void(const platform::HTTPURLResponse&)> onResponse;

    std::optional<platform::URLRequest> willSendRequest(
        platform::URLRequest request, const platform::HTTPURLResponse& redirectResponse) override;
    void didReceiveResponse(const platform::HTTPURLResponse& response) override;
    void didReceiveData(const std::vector<uint8_t>& data) override;
    void didFinishLoading() override;
    void didFailWithError(const platform::Error& error) override;

    bool isDone() const { return finished || error.has_value(); }
    std::string body() const { return std::string(data.begin(), data.end()); }

    std::vector<std::string> events;
    std::vector<platform::HTTPURLResponse> redirectResponses;
    std::vector<platform::URLRequest> redirectRequests;
    std::vector<platform::HTTPURLResponse> responses;
    std::vector<uint8_t> data;
    size_t dataCalls = 0;
    bool finished = false;
    std::optional<platform::Error> error;
    std::vector<std::string> threadNames;
};
