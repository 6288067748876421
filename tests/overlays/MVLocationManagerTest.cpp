// One-shot location requests over the platform's location stand-in: time-outs, accuracy,
// authorisation changes reported to the server (the loopback API peer) and the pages,
// denial and failures, and requests opened from inside a handler.
#include <gtest/gtest.h>

#include <cmath>
#include <limits>

#include "libmerovane/bridge/MVCommandHandler.h"
#include "libmerovane/bridge/MVEventDispatcher.h"
#include "libmerovane/bridge/MVWebView.h"
#include "libmerovane/handlers/MVCommandHandlerClasses.h"
#include "libmerovane/overlays/MVLocationManager.h"
#include "platform/device/LocationManager.h"
#include "platform/foundation/TestDriver.h"
#include "platform/ui/Device.h"
#include "tests/support/ApiConnectionTest.h"
#include "tests/support/FakeWebView.h"
#include "tests/support/HeadlessPageModel.h"
#include "tests/support/MVWebViewTestSupport.h"

using nlohmann::json;
using Status = platform::LocationManager::AuthorizationStatus;

namespace {

struct LocationAnswer {
    std::string request;
    std::optional<MVLocationFix> location;
    std::optional<platform::Error> error;
};

class MVLocationManagerTest : public ApiConnectionTest {
  protected:
    void SetUp() override {
        ApiConnectionTest::SetUp();
        registerCommandHandlerClasses();
        streamTo(peer_);
    }

    void ask(const std::string& name, double minimumAccuracy, double timeout) {
        manager_->getLocationWithMinimumAccuracy(minimumAccuracy, timeout,
                                                 [this, name](auto location, auto error) {
                                                     answers_.push_back({name, location, error});
                                                 });
    }
    std::vector<std::string> answered() const {
        std::vector<std::string> names;
        for (const auto& a : answers_) names.push_back(a.request);
        return names;
    }
    static void deliver(double horizontal, double vertical) {
        platform::LocationManager::deliverLocationsForTesting({{52.5, 13.4, horizontal, vertical}});
        platform::runUntilIdle();
    }
    static void setStatus(Status status) {
        platform::LocationManager::setAuthorizationStatus(status);
        platform::runUntilIdle();
    }

    peer::ApiPeer peer_;
    std::shared_ptr<MVLocationManager> manager_ = MVLocationManager::sharedManager();
    std::vector<LocationAnswer> answers_;
};

TEST_F(MVLocationManagerTest, TimeOutsAreBoundedAndAnswerWithTheNewestFix) {
    platform::LocationManager::setAuthorizationStatus(Status::AuthorizedWhenInUse);
    ask("short", 5, 0.5);
    ask("long", 5, 120);
    ask("NaN", 5, std::numeric_limits<double>::quiet_NaN());
    ask("huge", 5, 1e308);
    ask("negative", 5, -1e308);
    platform::runUntilIdle();
    ASSERT_TRUE(manager_->locationManager());
    EXPECT_TRUE(manager_->locationManager()->isUpdatingLocation());
    deliver(50, 50);  // not accurate enough for any
    const std::vector<std::string> atOnce = {"short", "NaN", "negative"};
    const std::vector<std::string> all = {"short", "NaN", "negative", "long", "huge"};
    const std::pair<double, std::vector<std::string>> steps[] = {
        {0.99, {}}, {0.01, atOnce}, {58.99, atOnce}, {0.01, all}};
    for (const auto& [seconds, expected] : steps) {
        platform::advanceBy(seconds);
        EXPECT_EQ(answered(), expected);
    }
    ASSERT_TRUE(answers_[0].location);
    EXPECT_EQ(answers_[0].location->horizontalAccuracy, 50);
    EXPECT_FALSE(answers_[0].error);
    // the last time-out ends the updates
    EXPECT_FALSE(manager_->locationManager()->isUpdatingLocation());
    EXPECT_EQ(manager_->locationManager()->desiredAccuracy(), 9223372036854775808.0);
    // nothing heard of the status, which the manager saw when it was made
    EXPECT_TRUE(commandsSentSoFar(peer_).empty());
}

TEST_F(MVLocationManagerTest, AFixCountsWithItsWorseAccuracy) {
    platform::LocationManager::setAuthorizationStatus(Status::AuthorizedAlways);
    ask("100 m", 100, 30);
    ask("10 m", 10, 30);
    platform::runUntilIdle();
    auto platformManager = manager_->locationManager();
    EXPECT_EQ(platformManager->desiredAccuracy(), 10);
    deliver(50, 20);
    EXPECT_EQ(answered(), (std::vector<std::string>{"100 m"}));
    EXPECT_EQ(platformManager->desiredAccuracy(), 10);
    deliver(5, 11);  // the vertical accuracy is not good enough
    EXPECT_EQ(answers_.size(), 1u);
    deliver(5, 8);
    EXPECT_EQ(answered(), (std::vector<std::string>{"100 m", "10 m"}));
    // the last open request answered: updates stop, the accuracy is the coarsest again
    EXPECT_FALSE(platformManager->isUpdatingLocation());
    EXPECT_FALSE(manager_->isUpdating());
    EXPECT_EQ(platformManager->desiredAccuracy(), 9223372036854775808.0);
    platform::advanceBy(30);
    EXPECT_EQ(answers_.size(), 2u);
}

TEST_F(MVLocationManagerTest, AnAnswerToTheAskingUserIsReportedOnceAndStartsTheWaitingRequests) {
    auto page = FakeWebView::create(1000);
    MVEventDispatcher::sharedDispatcher().registerWebView(page, {"locationServiceStatusDidChange"});
    ask("waiting", 100, 2);
    platform::runUntilIdle();
    auto platformManager = manager_->locationManager();
    EXPECT_EQ(platformManager->whenInUseAuthorizationRequests(), 1);
    platform::advanceBy(1.5);  // unstarted: its time-out runs from the request
    EXPECT_TRUE(answers_.empty());
    EXPECT_FALSE(platformManager->isUpdatingLocation());

    setStatus(Status::AuthorizedAlways);
    setStatus(Status::AuthorizedAlways);
    EXPECT_TRUE(platformManager->isUpdatingLocation());
    ASSERT_EQ(page->events.size(), 1u);
    EXPECT_EQ(page->events[0].eventName(), "locationServiceStatusDidChange");
    EXPECT_EQ(page->events[0].parameters(), json::array({true}));
    const json allowed = {{"c", "locationServiceStatusDidChange"}, {"p", {{"allowed", true}}}};
    EXPECT_EQ(commandsSentSoFar(peer_), (std::vector<json>{allowed}));
    platform::advanceBy(0.49 - MVApiConnection::kCommandBatchDelay);
    EXPECT_TRUE(answers_.empty());
    platform::advanceBy(0.01);
    EXPECT_EQ(answered(), (std::vector<std::string>{"waiting"}));
    EXPECT_FALSE(platformManager->isUpdatingLocation());
}

TEST_F(MVLocationManagerTest, DenialAnswersEveryRequestWithAnEmptyError) {
    platform::LocationManager::setAuthorizationStatus(Status::AuthorizedWhenInUse);
    ask("first", 100, 30);
    ask("second", 10, 30);
    platform::runUntilIdle();
    setStatus(Status::Denied);
    ASSERT_EQ(answered(), (std::vector<std::string>{"first", "second"}));
    for (const auto& a : answers_) {
        EXPECT_FALSE(a.location);
        ASSERT_TRUE(a.error);
        EXPECT_EQ(a.error->domain(), "");
        EXPECT_EQ(a.error->code(), 0);
    }
    EXPECT_EQ(manager_->openRequestCount(), 0u);
    EXPECT_EQ(manager_->locationManager()->desiredAccuracy(), 9223372036854775808.0);
    const json denied = {{"c", "locationServiceStatusDidChange"}, {"p", {{"allowed", false}}}};
    EXPECT_EQ(commandsSentSoFar(peer_), (std::vector<json>{denied}));
}

TEST_F(MVLocationManagerTest, ARequestOpenedByAHandlerOutlivesTheStopThatAnsweredIt) {
    platform::LocationManager::setAuthorizationStatus(Status::AuthorizedWhenInUse);
    manager_->getLocationWithMinimumAccuracy(100, 30, [this](auto location, auto error) {
        answers_.push_back({"first", location, error});
        ask("retry", 100, 30);
    });
    platform::runUntilIdle();
    platform::LocationManager::failWithErrorForTesting(platform::Error("kCLErrorDomain", 0));
    platform::runUntilIdle();
    ASSERT_EQ(answered(), (std::vector<std::string>{"first"}));
    EXPECT_EQ(answers_[0].error->domain(), "kCLErrorDomain");
    EXPECT_EQ(manager_->openRequestCount(), 1u);
    EXPECT_TRUE(manager_->locationManager()->isUpdatingLocation());
    deliver(20, 20);
    ASSERT_EQ(answered(), (std::vector<std::string>{"first", "retry"}));
    EXPECT_TRUE(answers_[1].location);
    EXPECT_FALSE(answers_[1].error);
}

TEST_F(MVLocationManagerTest, ARequestOpenedByAHandlerWaitsForALaterFix) {
    platform::LocationManager::setAuthorizationStatus(Status::AuthorizedWhenInUse);
    manager_->getLocationWithMinimumAccuracy(100, 30, [this](auto location, auto error) {
        answers_.push_back({"first", location, error});
        ask("retry", 10, 30);
    });
    platform::runUntilIdle();
    deliver(5, 5);  // good enough for the retry too, but it came before it
    EXPECT_EQ(answered(), (std::vector<std::string>{"first"}));
    EXPECT_TRUE(manager_->isUpdating());
    deliver(5, 5);
    EXPECT_EQ(answered(), (std::vector<std::string>{"first", "retry"}));
    EXPECT_FALSE(manager_->isUpdating());
}

TEST_F(MVLocationManagerTest, RestrictedIsReportedButNeitherStartsNorEndsRequests) {
    platform::LocationManager::setAuthorizationStatus(Status::AuthorizedWhenInUse);
    ask("started", 100, 5);
    platform::runUntilIdle();
    setStatus(Status::Restricted);
    const json restricted = {{"c", "locationServiceStatusDidChange"}, {"p", {{"allowed", false}}}};
    EXPECT_EQ(commandsSentSoFar(peer_), (std::vector<json>{restricted}));
    EXPECT_TRUE(answers_.empty());
    platform::advanceBy(5);
    EXPECT_EQ(answered(), (std::vector<std::string>{"started"}));
}

TEST_F(MVLocationManagerTest, BeforeVersionEightUpdatesAskTheUserAndAnsweredRequestsStartAtOnce) {
    platform::Device::current().setSystemVersion("7.1");
    ask("waiting", 100, 3);
    auto platformManager = manager_->locationManager();
    EXPECT_EQ(platformManager->whenInUseAuthorizationRequests(), 0);
    EXPECT_TRUE(platformManager->isUpdatingLocation());
    platform::advanceBy(1);  // waits for the answer ...
    EXPECT_TRUE(answers_.empty());
    platform::LocationManager::setAuthorizationStatus(Status::AuthorizedAlways);
    ask("at once", 100, 1);  // started within the call: its time-out counts from now
    platform::advanceBy(1);
    EXPECT_EQ(answered(), (std::vector<std::string>{"at once"}));
    platform::advanceBy(1);  // ... and no longer than its time-out
    EXPECT_EQ(answered(), (std::vector<std::string>{"at once", "waiting"}));
    EXPECT_FALSE(platformManager->isUpdatingLocation());
}

// "getLocation" from a page or the server on a host where nobody answers the question
// for the authorisation, or answers it at some moment of the wait: one "setLocation"
// within the bounded time-out, and the page is let go once answered.
enum class LocationAct { Nothing, Authorise, AuthoriseAndFix, Deny, ReleasePage };
struct LocationCommandRow {
    const char* name;
    json parameters;
    LocationAct act;
    double actAt;  // seconds after the command
    double answeredAt;
    bool fromServer = false;
};

const json kLocationTimeout1 = {{"timeout", 1}};
const json kLocationTimeout2 = {{"minAccuracy", 100}, {"timeout", 2}};
const LocationCommandRow kLocationCommandRows[] = {
    {"NobodyAnswersTimeout1", kLocationTimeout1, LocationAct::Nothing, 0, 1},
    {"NobodyAnswersTimeout2", kLocationTimeout2, LocationAct::Nothing, 0, 2},
    {"NobodyAnswersTimeout1e308", {{"timeout", 1e308}}, LocationAct::Nothing, 0, 60},
    {"NobodyAnswersNegativeTimeout", {{"timeout", -7}}, LocationAct::Nothing, 0, 1},
    {"NobodyAnswersNoParameters", json::object(), LocationAct::Nothing, 0, 1},
    {"NobodyAnswersFromTheServer", kLocationTimeout2, LocationAct::Nothing, 0, 2, true},
    {"PageReleasedWhileWaiting", kLocationTimeout2, LocationAct::ReleasePage, 0.5, 2},
    {"AuthorisedDuringTheWait", kLocationTimeout2, LocationAct::Authorise, 0.5, 2},
    {"AuthorisedInTheTimeOutsTurn", kLocationTimeout2, LocationAct::Authorise, 1.99, 2},
    {"AuthorisedAfterTheTimeOut", kLocationTimeout1, LocationAct::Authorise, 1.5, 1},
    {"AFixAfterTheAuthorisation", kLocationTimeout2, LocationAct::AuthoriseAndFix, 0.5, 0.5},
    {"DeniedDuringTheWait", kLocationTimeout2, LocationAct::Deny, 0.5, 0.5},
    {"DeniedInTheTimeOutsTurn", kLocationTimeout2, LocationAct::Deny, 1.99, 2},
};

class LocationCommandAnswer : public MVLocationManagerTest,
                              public ::testing::WithParamInterface<LocationCommandRow> {
  protected:
    // Answers to the page, or requests still open for the server.
    size_t setLocations() const {
        if (GetParam().fromServer) return 1 - manager_->openRequestCount();
        size_t count = 0;
        for (const auto& event : model_->events()) count += event.name == "setLocation";
        return count;
    }
    void advanceTo(double t) {
        if (t > now_) platform::advanceBy(t - now_);
        now_ = std::max(now_, t);
    }

    std::shared_ptr<HeadlessPageModel> model_;
    double now_ = 0;
};

TEST_P(LocationCommandAnswer, OnceInTimeAndThePageIsLetGo) {
    const LocationCommandRow& row = GetParam();
    MVLocationManager::install();
    auto page = MVWebView::create(platform::Rect(0, 0, 320, 480));
    model_ = HeadlessPageModel::attach(headlessEngineOf(*page));
    model_->settings.library = true;
    page->loadHTMLString("<p/>", platform::URL::parse("https://shop.example/where"));
    platform::advanceBy(0.1);
    std::weak_ptr<MVWebView> weakPage = page;
    MVCommandHandler::performCommandsFromCommandCollection(
        {{"ver", "1.0"}, {"cmds", {{{"c", "getLocation"}, {"p", row.parameters}}}}},
        row.fromServer ? nullptr : page);
    // The request keeps no page: one its owner lets go ends at once and hears nothing.
    const bool released = row.act == LocationAct::ReleasePage;
    const size_t answers = released ? 0u : 1u;

    const double lastQuiet = row.answeredAt - 0.01;
    advanceTo(std::min(row.actAt, lastQuiet));
    if (row.actAt > 0) {
        EXPECT_EQ(setLocations(), 0u);
    }
    advanceTo(row.actAt);
    switch (row.act) {
        case LocationAct::Nothing:
            break;
        case LocationAct::ReleasePage:
            page.reset();
            EXPECT_TRUE(weakPage.expired());
            break;
        case LocationAct::Authorise:
            setStatus(Status::AuthorizedWhenInUse);
            break;
        case LocationAct::AuthoriseAndFix:
            setStatus(Status::AuthorizedWhenInUse);
            deliver(20, 20);
            break;
        case LocationAct::Deny:
            setStatus(Status::Denied);
            break;
    }
    if (lastQuiet > row.actAt) {
        advanceTo(lastQuiet);
        EXPECT_EQ(setLocations(), 0u);
    }
    advanceTo(row.answeredAt + 0.001);  // the clock counts whole nanoseconds
    EXPECT_EQ(setLocations(), answers);
    if (row.fromServer) {
        EXPECT_EQ(commandsSentSoFar(peer_),
                  (std::vector<json>{{{"c", "setLocation"}, {"p", {{"location", nullptr}}}}}));
    }
    advanceTo(MVLocationManagerInterface::kMaximumTimeout + 1);
    EXPECT_EQ(setLocations(), answers);
    if (!row.fromServer && !released) {
        const json location =
            row.act == LocationAct::AuthoriseAndFix
                ? json::array({{{"latitude", 52.5}, {"longitude", 13.4}, {"accuracy", 20}}})
                : json::array();
        ASSERT_FALSE(model_->events().empty());
        EXPECT_EQ(model_->events().back(),
                  (HeadlessPageModel::ReceivedEvent{"setLocation", location}));
    }
    EXPECT_EQ(manager_->openRequestCount(), 0u);
    ASSERT_TRUE(manager_->locationManager());
    EXPECT_FALSE(manager_->locationManager()->isUpdatingLocation());
    page.reset();
    EXPECT_TRUE(weakPage.expired());
}

INSTANTIATE_TEST_SUITE_P(Table, LocationCommandAnswer, ::testing::ValuesIn(kLocationCommandRows),
                         [](const auto& info) { return std::string(info.param.name); });

TEST_F(MVLocationManagerTest, WithoutAHandlerNothingIsQueued) {
    manager_->getLocationWithMinimumAccuracy(100, 1, nullptr);
    EXPECT_TRUE(logged("<GetLocation>-call without a <completionHandler>-Block."));
    EXPECT_FALSE(manager_->locationManager());
}

}  // namespace
