// The push-notification commands against the loopback API peer and the interjection
// handler: the token's road to the server, and the server's answers.
#include <gtest/gtest.h>

#include <nlohmann/json.hpp>

#include "libmerovane/application/MVInterjectionHandler.h"
#include "libmerovane/bridge/MVCommandHandler.h"
#include "libmerovane/core/MVErrorLogger.h"
#include "libmerovane/core/MVSplashScreenInterface.h"
#include "libmerovane/handlers/MVCommandHandlerClasses.h"
#include "platform/foundation/TestDriver.h"
#include "platform/ui/Application.h"
#include "platform/ui/ApplicationDelegate.h"
#include "tests/support/ApiConnectionTest.h"
#include "tests/support/RecordingContainers.h"

using nlohmann::json;

namespace {

// Hands the system's registration answers to the interjection handler, as the library's
// application-delegate detour does.
class PushTokenForwardingDelegate : public platform::ApplicationDelegate {
  public:
    void didRegisterUserNotificationSettings(platform::Application&,
                                             const json& settings) override {
        MVInterjectionHandler::sharedHandler()->didRegisterUserNotificationSettings(settings);
    }
    void didRegisterForRemoteNotificationsWithDeviceToken(
        platform::Application&, const std::vector<uint8_t>& token) override {
        MVInterjectionHandler::sharedHandler()->didRegisterForRemoteNotificationsWithDeviceToken(
            std::string(token.begin(), token.end()));
    }
};

class PushNotificationCommandsTest : public ApiConnectionTest {
  protected:
    void SetUp() override {
        ApiConnectionTest::SetUp();
        registerCommandHandlerClasses();
        MVErrorLogger::clearReports();
        splash_ = RecordingSplashScreen::install();
        splash_->visible = false;
        streamTo(peer_);
    }
    void TearDown() override {
        platform::Application::shared().setDelegate(nullptr);
        ApiConnectionTest::TearDown();
    }
    static void performPushCommand(const json& command) {
        MVCommandHandler::performCommandsFromCommandCollection(
            {{"ver", "2.1"}, {"cmds", json::array({command})}}, nullptr);
        platform::runUntilIdle();
    }

    peer::ApiPeer peer_;
    std::shared_ptr<RecordingSplashScreen> splash_;
};

TEST_F(PushNotificationCommandsTest, TwoTokenRequestsBeforeTheTokenSendItOnce) {
    auto& application = platform::Application::shared();
    application.setDelegate(std::make_shared<PushTokenForwardingDelegate>());
    std::vector<uint8_t> token;
    std::string text;
    for (int i = 0; i < 20; ++i) {
        token.push_back(static_cast<uint8_t>(255 - i * 7));
        text += fmt::format("{:02x}", 255 - i * 7);
    }
    application.setRemoteNotificationDeviceTokenForTesting(token);
    MVCommandHandler::performCommandsFromCommandCollection(
        {{"ver", "1.0"},
         {"cmds", {{{"c", "getPushNotificationToken"}}, {{"c", "getPushNotificationToken"}}}}},
        nullptr);
    platform::runUntilIdle();
    const json setPushToken{{"c", "setPushToken"}, {"p", {{"pushToken", text}}}};
    EXPECT_EQ(commandsSentSoFar(peer_), (std::vector<json>{setPushToken}));
    EXPECT_EQ(text.size(), 40u);
    EXPECT_TRUE(application.isRegisteredForRemoteNotifications());

    // Registered settings: the next request registers at once, and a failing
    // registration sends nothing.
    application.setRemoteNotificationDeviceTokenForTesting(std::nullopt);
    performPushCommand({{"c", "getPushNotificationToken"}});
    EXPECT_EQ(commandsSentSoFar(peer_).size(), 1u);
}

// Requests that failed, or wait for a token, leave one pending request: the token, once
// it comes, is sent once.
TEST_F(PushNotificationCommandsTest, FailedTokenRequestsDoNotPileUp) {
    auto& application = platform::Application::shared();
    application.setDelegate(std::make_shared<PushTokenForwardingDelegate>());
    application.setRemoteNotificationDeviceTokenForTesting(std::nullopt);
    for (int i = 0; i < 3; ++i) performPushCommand({{"c", "getPushNotificationToken"}});
    application.setRemoteNotificationDeviceTokenForTesting(std::vector<uint8_t>{0xab, 0x01});
    performPushCommand({{"c", "getPushNotificationToken"}});
    const json setPushToken{{"c", "setPushToken"}, {"p", {{"pushToken", "ab01"}}}};
    EXPECT_EQ(commandsSentSoFar(peer_), (std::vector<json>{setPushToken}));

    // Without a token the queue keeps one.
    application.setRemoteNotificationDeviceTokenForTesting(std::nullopt);
    std::vector<std::string> texts;
    auto handler = MVInterjectionHandler::sharedHandler();
    for (int i = 0; i < 1000; ++i)
        handler->registerForPushNotificationOnSuccess(
            [&texts, i](const std::string&, const std::string& text) {
                texts.push_back(std::to_string(i) + ":" + text);
            });
    handler->didRegisterForRemoteNotificationsWithDeviceToken("\x02");
    EXPECT_EQ(texts, std::vector<std::string>{"999:02"});
}

TEST_F(PushNotificationCommandsTest, ResponsesRunOnlyForTheNotificationBeingOpened) {
    auto handler = MVInterjectionHandler::sharedHandler();
    handler->openPushNotificationWithID("n1");
    const json showSplash = json::array({{{"c", "showSplashScreen"}}});
    performPushCommand({{"c", "pushNotificationResponse"},
                        {"p", {{"notificationId", "other"}, {"cmds", showSplash}}}});
    EXPECT_TRUE(splash_->calls.empty());
    // wrong-typed lists are refused by validation
    performPushCommand({{"c", "pushNotificationResponse"},
                        {"p", {{"notificationId", "n1"}, {"cmds", "showSplashScreen"}}}});
    performPushCommand(
        {{"c", "pushNotificationResponse"}, {"p", {{"notificationId", 1}, {"cmds", showSplash}}}});
    EXPECT_TRUE(splash_->calls.empty());
    EXPECT_EQ(MVErrorLogger::reports().size(), 2u);

    performPushCommand({{"c", "pushNotificationResponse"},
                        {"p", {{"notificationId", "n1"}, {"cmds", showSplash}}}});
    EXPECT_EQ(splash_->calls, (std::vector<std::string>{"show"}));
    splash_->visible = false;
    performPushCommand(
        {{"c", "pushNotificationResponseFinished"}, {"p", {{"notificationId", "x"}}}});
    EXPECT_NE(handler->currentInterjection(), nullptr);
    performPushCommand(
        {{"c", "pushNotificationResponseFinished"}, {"p", {{"notificationId", "n1"}}}});
    EXPECT_EQ(handler->currentInterjection(), nullptr);
}

}  // namespace
