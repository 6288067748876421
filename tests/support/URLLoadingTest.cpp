#include "tests/support/URLLoadingTest.h"

#include "platform/foundation/RunLoop.h"

platform::URLRequest URLLoadingTest::request(std::string_view pathAndQuery) const {
    return platform::URLRequest(*platform::URL::parse(server_.url(pathAndQuery)));
}

std::shared_ptr<RecordingConnectionDelegate> URLLoadingTest::load(
    platform::URLRequest r, std::shared_ptr<RecordingConnectionDelegate> recorder) {
    if (!recorder) recorder = std::make_shared<RecordingConnectionDelegate>();
    connection_ = platform::URLConnection::start(std::move(r), recorder, platform::RunLoop::main());
    return recorder;
}

std::shared_ptr<RecordingConnectionDelegate> URLLoadingTest::loadToEnd(
    platform::URLRequest r, std::shared_ptr<RecordingConnectionDelegate> recorder) {
    recorder = load(std::move(r), std::move(recorder));
    EXPECT_TRUE(platform::runUntil([&] { return recorder->isDone(); }, kIO));
    return recorder;
}
