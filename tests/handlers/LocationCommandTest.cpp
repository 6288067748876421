// The location command: what the location service is asked, and where its answer goes
// (the calling page, else the server over the loopback API peer).
#include <gtest/gtest.h>

#include <limits>
#include <memory>
#include <ostream>
#include <string>
#include <vector>

#include "libmerovane/bridge/MVCommandHandler.h"
#include "libmerovane/bridge/MVWebView.h"
#include "libmerovane/core/MVLocationManagerInterface.h"
#include "libmerovane/handlers/MVCommandHandlerClasses.h"
#include "platform/foundation/JsonValue.h"
#include "platform/foundation/URL.h"
#include "tests/support/ApiConnectionTest.h"
#include "tests/support/HeadlessPageModel.h"
#include "tests/support/MVWebViewTestSupport.h"
#include "tests/support/RecordingOverlays.h"

using nlohmann::json;

namespace {

class LocationCommandTest : public ApiConnectionTest {
  protected:
    void SetUp() override {
        ApiConnectionTest::SetUp();
        registerCommandHandlerClasses();
    }
    static void getLocation(const json& parameters, const std::shared_ptr<MVWebView>& sender) {
        MVCommandHandler::performCommandsFromCommandCollection(
            {{"ver", "1.0"}, {"cmds", {{{"c", "getLocation"}, {"p", parameters}}}}}, sender);
    }
    // A page whose received events its model records.
    std::shared_ptr<MVWebView> locationPage() {
        auto webView = MVWebView::create(platform::Rect(0, 0, 320, 480));
        pageModel = HeadlessPageModel::attach(headlessEngineOf(*webView));
        pageModel->settings.library = true;
        webView->loadHTMLString("<p/>", platform::URL::parse("https://shop.example/where"));
        platform::advanceBy(0.1);
        return webView;
    }
    std::shared_ptr<HeadlessPageModel> pageModel;
};

TEST_F(LocationCommandTest, AsksInSinglePrecisionWithTheDefaults) {
    auto manager = RecordingLocationManager::install();
    getLocation(json::object(), nullptr);
    getLocation({{"minAccuracy", 0.1}, {"timeout", 1e308}}, nullptr);
    getLocation({{"minAccuracy", -5}, {"timeout", "7"}}, nullptr);  // refused by validation
    ASSERT_EQ(manager->requests.size(), 2u);
    EXPECT_EQ(manager->requests[0].minimumAccuracy, 3000);
    EXPECT_EQ(manager->requests[0].timeout, 0);
    EXPECT_EQ(manager->requests[1].minimumAccuracy, double(0.1f));
    EXPECT_EQ(manager->requests[1].timeout, std::numeric_limits<double>::infinity());
}

TEST_F(LocationCommandTest, TheDefaultServiceAnswersNoneWhenItsBoundedTimeOutEnds) {
    const std::pair<double, double> bounds[] = {
        {0, 1},     {-3, 1},   {std::numeric_limits<double>::quiet_NaN(), 1},
        {2.5, 2.5}, {120, 60}, {std::numeric_limits<double>::infinity(), 60}};
    for (auto [given, used] : bounds)
        EXPECT_EQ(MVLocationManagerInterface::timeoutWithinBounds(given), used) << given;

    auto manager = MVLocationManagerInterface::sharedManager();
    size_t answers = 0;
    for (double timeout : {0.0, 120.0})
        manager->getLocationWithMinimumAccuracy(
            3000, timeout, [&](std::optional<MVLocationFix> location, auto error) {
                EXPECT_FALSE(location);
                EXPECT_TRUE(error);
                ++answers;
            });
    manager->getLocationWithMinimumAccuracy(3000, 1, nullptr);
    EXPECT_TRUE(logged("<GetLocation>-call without a <completionHandler>-Block."));
    const std::pair<double, size_t> steps[] = {{0.99, 0}, {0.01, 1}, {58.99, 1}, {0.01, 2}};
    for (auto [seconds, expected] : steps) {
        platform::advanceBy(seconds);
        EXPECT_EQ(answers, expected);
    }
}

// A page whose owner lets it go while its location request is out: when it is let go
// (before any answer, between two answers) and how the answer comes (a fix, an error,
// the service's own time-out).
struct ReleasedPageRow {
    const char* name;
    size_t answeredBeforeRelease;  // of the page's two requests
    bool byTimeOut;                // the default service answers at its time-out
};

void PrintTo(const ReleasedPageRow& row, std::ostream* out) {
    *out << row.name;
}

class LocationReleasedPageTest : public LocationCommandTest,
                                 public testing::WithParamInterface<ReleasedPageRow> {};

TEST_P(LocationReleasedPageTest, IsLetGoAtOnceAndItsAnswerDropped) {
    const ReleasedPageRow& row = GetParam();
    std::shared_ptr<RecordingLocationManager> manager;
    if (!row.byTimeOut) manager = RecordingLocationManager::install();
    auto sender = locationPage();
    std::weak_ptr<MVWebView> weakSender = sender;
    getLocation(json::object(), sender);
    getLocation({{"timeout", 2}}, sender);
    auto answer = [&](size_t index) {
        if (row.byTimeOut) return platform::advanceBy(1.0);
        if (index == 0)
            manager->requests[0].completionHandler(MVLocationFix{52.5, 13.4, 10, 30}, std::nullopt);
        else
            manager->requests[1].completionHandler(MVLocationFix{1, 2, 3, 4},
                                                   platform::Error("test", 1));
    };
    for (size_t i = 0; i < row.answeredBeforeRelease; ++i) answer(i);
    platform::advanceBy(0.1);
    const size_t eventsBefore = pageModel->events().size();
    EXPECT_EQ(eventsBefore, row.answeredBeforeRelease);
    sender.reset();
    EXPECT_TRUE(weakSender.expired());
    for (size_t i = row.answeredBeforeRelease; i < 2; ++i) answer(i);
    platform::advanceBy(0.1);
    EXPECT_EQ(pageModel->events().size(), eventsBefore);
}

const ReleasedPageRow kReleasedPageRows[] = {
    {"BeforeAnyAnswer", 0, false},
    {"BetweenTwoAnswers", 1, false},
    {"BeforeTheTimeOut", 0, true},
    {"BetweenTwoTimeOuts", 1, true},
};

INSTANTIATE_TEST_SUITE_P(Moments, LocationReleasedPageTest, testing::ValuesIn(kReleasedPageRows),
                         [](const testing::TestParamInfo<ReleasedPageRow>& info) {
                             return std::string(info.param.name);
                         });

TEST_F(LocationCommandTest, APageStillHeldGetsEveryAnswer) {
    auto manager = RecordingLocationManager::install();
    auto sender = locationPage();
    getLocation(json::object(), sender);
    getLocation(json::object(), sender);
    manager->requests[0].completionHandler(MVLocationFix{52.5, 13.4, 10, 30}, std::nullopt);
    manager->requests[1].completionHandler(MVLocationFix{1, 2, 3, 4},
                                           platform::Error("test", 1));  // counts as none
    manager->requests.clear();
    platform::advanceBy(0.1);
    const std::vector<HeadlessPageModel::ReceivedEvent> expected = {
        {"setLocation", {{{"latitude", 52.5}, {"longitude", 13.4}, {"accuracy", 30}}}},
        {"setLocation", json::array()}};
    EXPECT_EQ(pageModel->events(), expected);
}

TEST_F(LocationCommandTest, FromTheServerTheAnswerIsOneServerCommandAfterTheCappedTimeOut) {
    peer::ApiPeer peer;
    answerRequestHeads(peer);
    auto& connection = startConnection(peerUrl(peer));
    ASSERT_TRUE(waitFor([&] { return connection.state() == MVApiConnectionStateStreaming; }));
    auto page = locationPage();
    getLocation({{"timeout", 120}}, nullptr);
    platform::advanceBy(59.9);
    platform::advanceBy(0.1);
    platform::advanceBy(MVApiConnection::kCommandBatchDelay);
    auto commandPackets = [&] {
        std::vector<json> commands;
        for (const auto& packet : peer.packets()) {
            const json* cmds = platform::json::find(packet.decoded.value, "cmds");
            if (cmds && !cmds->empty()) commands.push_back(*cmds);
        }
        return commands;
    };
    ASSERT_TRUE(waitFor([&] { return !commandPackets().empty(); }));
    EXPECT_EQ(commandPackets(),
              (std::vector<json>{{{{"c", "setLocation"}, {"p", {{"location", nullptr}}}}}}));
    EXPECT_TRUE(pageModel->events().empty());
}

}  // namespace
