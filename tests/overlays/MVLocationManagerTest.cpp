// One-shot location requests over the platform's location stand-in: time-outs, accuracy,
// authorisation changes reported to the server (the loopback API peer) and the pages,
// denial and failures, and requests opened from inside a handler.
#include <gtest/gtest.h>

#include "libmerovane/bridge/MVEventDispatcher.h"
#include "libmerovane/handlers/MVCommandHandlerClasses.h"
#include "libmerovane/overlays/MVLocationManager.h"
#include "platform/device/LocationManager.h"
#include "platform/foundation/TestDriver.h"
#include "platform/ui/Device.h"
#include "tests/support/ApiConnectionTest.h"
#include "tests/support/FakeWebView.h"

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
    platform::runUntilIdle();
    ASSERT_TRUE(manager_->locationManager());
    EXPECT_TRUE(manager_->locationManager()->isUpdatingLocation());
    deliver(50, 50);  // not accurate enough for either
    const std::pair<double, std::vector<std::string>> steps[] = {
        {0.99, {}}, {0.01, {"short"}}, {58.99, {"short"}}, {0.01, {"short", "long"}}};
    for (const auto& [seconds, expected] : steps) {
        platform::advanceBy(seconds);
        EXPECT_EQ(answered(), expected);
    }
    ASSERT_TRUE(answers_[0].location);
    EXPECT_EQ(answers_[0].location->horizontalAccuracy, 50);
    EXPECT_FALSE(answers_[0].error);
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
    platform::advanceBy(10);  // unstarted: no time-out runs
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
    platform::advanceBy(2);
    EXPECT_EQ(answered(), (std::vector<std::string>{"waiting"}));
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
    platform::advanceBy(10);  // waits for the answer, without a time-out
    EXPECT_TRUE(answers_.empty());
    platform::LocationManager::setAuthorizationStatus(Status::AuthorizedAlways);
    ask("at once", 100, 1);  // started within the call: its time-out counts from now
    platform::advanceBy(1);
    EXPECT_EQ(answered(), (std::vector<std::string>{"at once"}));
    platform::advanceBy(3);
    EXPECT_EQ(answered(), (std::vector<std::string>{"at once", "waiting"}));
}

TEST_F(MVLocationManagerTest, WithoutAHandlerNothingIsQueued) {
    manager_->getLocationWithMinimumAccuracy(100, 1, nullptr);
    EXPECT_TRUE(logged("<GetLocation>-call without a <completionHandler>-Block."));
    EXPECT_FALSE(manager_->locationManager());
}

}  // namespace
