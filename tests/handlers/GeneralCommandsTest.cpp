// The general commands: the boot command and its cached script, vibration, delayed
// lists, the connection-loss switch and ending the application.
#include <gtest/gtest.h>

#include <nlohmann/json.hpp>

#include "libmerovane/application/MVLibraryApplication.h"
#include "libmerovane/bridge/MVCommandHandler.h"
#include "libmerovane/core/MVConnectionLossMonitor.h"
#include "libmerovane/core/MVErrorLogger.h"
#include "libmerovane/core/MVLocalizationInterface.h"
#include "libmerovane/core/MVSplashScreenInterface.h"
#include "libmerovane/core/MVUserDefaultsKeys.h"
#include "libmerovane/handlers/MVCommandHandlerClasses.h"
#include "platform/device/SystemSound.h"
#include "platform/foundation/Clock.h"
#include "platform/foundation/Exception.h"
#include "platform/foundation/NotificationCenter.h"
#include "platform/foundation/TestDriver.h"
#include "platform/foundation/UserDefaults.h"
#include "tests/handlers/TestCommands.h"
#include "tests/support/ApiConnectionTest.h"
#include "tests/support/RecordingContainers.h"
#include "tests/support/RecordingOverlay.h"

using nlohmann::json;

namespace {

const json kOldBootScript = {
    {"cmds", json::array()}, {"identifier", "A"}, {"commandHandlerVersion", "2.0"}};

class GeneralCommandsTest : public ApiConnectionTest {
  protected:
    void SetUp() override {
        ApiConnectionTest::SetUp();
        registerCommandHandlerClasses();
        registerTestCommands();
        performedCommands().clear();
        MVErrorLogger::clearReports();
        splash_ = RecordingSplashScreen::install();
        MVLibraryApplication::sharedLibrary();
        auto& center = platform::NotificationCenter::defaultCenter();
        for (const char* name : {MVLibraryApplicationReceivedBootAppCommand,
                                 MVLibraryApplicationPerformedBootAppCommand})
            observers_.emplace_back(
                center, center.addObserver(name, nullptr, [this](const platform::Notification& n) {
                    posted_.push_back(n.name);
                }));
        platform::UserDefaults::standard().setObject(MVStandardUserDefaultsCachedBootScript,
                                                     kOldBootScript);
    }
    void TearDown() override {
        observers_.clear();
        ApiConnectionTest::TearDown();
    }
    static void perform(const json& commands, const char* version = "2.0") {
        MVCommandHandler::performCommandsFromCommandCollection(
            {{"ver", version}, {"cmds", commands}}, nullptr);
    }
    static std::optional<json> cachedScript() {
        return platform::UserDefaults::standard().objectForKey(
            MVStandardUserDefaultsCachedBootScript);
    }
    static size_t performedCount() { return performedCommands().size(); }

    std::shared_ptr<RecordingSplashScreen> splash_;
    std::vector<platform::ObserverRegistration> observers_;
    std::vector<std::string> posted_;
};

TEST_F(GeneralCommandsTest, BootAppUnderTheSplashRunsTheListASecondLaterThenCachesIt) {
    const json list = json::array({{{"c", "echo"}, {"p", {{"x", 1}}}}});
    const json boot = {{"c", "bootApp"}, {"p", {{"identifier", "B"}, {"cmds", list}}}};
    bool postedBeforeReturn = false;
    observers_.emplace_back(platform::NotificationCenter::defaultCenter(),
                            platform::NotificationCenter::defaultCenter().addObserver(
                                MVLibraryApplicationReceivedBootAppCommand, nullptr,
                                [&](const platform::Notification&) {
                                    postedBeforeReturn = !cachedScript().has_value();
                                }));
    perform(json::array({boot}));
    EXPECT_TRUE(postedBeforeReturn);  // and the old script was gone by then
    EXPECT_EQ(posted_, std::vector<std::string>{MVLibraryApplicationReceivedBootAppCommand});
    platform::advanceBy(0.99);
    EXPECT_EQ(performedCount(), 0u);
    platform::advanceBy(0.01);
    platform::runUntilIdle();
    ASSERT_EQ(performedCount(), 1u);
    EXPECT_EQ(performedCommands()[0].version, "2.0");
    EXPECT_EQ(posted_, (std::vector<std::string>{MVLibraryApplicationReceivedBootAppCommand,
                                                 MVLibraryApplicationPerformedBootAppCommand}));
    EXPECT_EQ(cachedScript(),
              (json{{"cmds", list}, {"identifier", "B"}, {"commandHandlerVersion", "2.0"}}));
    EXPECT_TRUE(
        platform::UserDefaults::standard().boolForKey(MVWebCacheShadowModeScheduledAtAppStart));
}

TEST_F(GeneralCommandsTest, BootAppWithAnEmptyListOnlyRemovesTheScript) {
    auto overlays = RecordingOverlay::install();
    splash_->visible = false;
    perform(
        json::array({{{"c", "bootApp"}, {"p", {{"identifier", "B"}, {"cmds", json::array()}}}}}));
    platform::advanceBy(2);
    EXPECT_FALSE(cachedScript());
    EXPECT_TRUE(posted_.empty());
    EXPECT_TRUE(overlays->empty());
    MVActivityIndicationOverlayInterface::setFactory(nullptr);
}

TEST_F(GeneralCommandsTest, AnInterruptedFadeInStillBootsAndFadesTheOverlayOut) {
    auto overlays = RecordingOverlay::install(/*fadeFinished=*/false);
    splash_->visible = false;
    const json list = json::array({{{"c", "echo"}}});
    perform(json::array({{{"c", "bootApp"}, {"p", {{"cmds", list}}}}}));
    platform::advanceBy(1.0);
    platform::runUntilIdle();
    ASSERT_EQ(overlays->size(), 1u);
    EXPECT_EQ(overlays->front()->title, MVLocalizedString("#bootapp.databeingrefreshed"));
    EXPECT_TRUE(overlays->front()->asScreenShot);
    EXPECT_EQ(performedCount(), 1u);
    EXPECT_EQ(overlays->front()->fades, (std::vector<std::string>{"in 0.3", "out 0.3"}));
    // Without an identifier nothing is cached.
    EXPECT_FALSE(cachedScript());
    EXPECT_FALSE(
        platform::UserDefaults::standard().boolForKey(MVWebCacheShadowModeScheduledAtAppStart));
    MVActivityIndicationOverlayInterface::setFactory(nullptr);
}

TEST_F(GeneralCommandsTest, VibrateOnceTwiceOrThriceFourTenthsApart) {
    const std::pair<json, std::vector<int64_t>> rows[] = {
        {json::object(), {0}},
        {{{"style", "once"}}, {0}},
        {{{"style", "twice"}}, {0, 400}},
        {{{"style", "thrice"}}, {0, 400, 800}},
        {{{"style", "loud"}}, {0}},  // unsupported: once, and reported
    };
    for (const auto& [parameters, expected] : rows) {
        SCOPED_TRACE(parameters.dump());
        const size_t before = platform::SystemSound::playedForTesting().size();
        const int64_t start = platform::Clock::monotonicNanos();
        perform(json::array({{{"c", "vibrate"}, {"p", parameters}}}));
        platform::advanceBy(1.0);
        const auto played = platform::SystemSound::playedForTesting();
        std::vector<int64_t> millis;
        for (size_t i = before; i < played.size(); ++i) {
            EXPECT_EQ(played[i].soundId, 4095u);
            millis.push_back((played[i].monotonicNanos - start) / 1000000);
        }
        EXPECT_EQ(millis, expected);
    }
    EXPECT_TRUE(logged("MVCommandHandler(v2.0).vibrate() vibration style not supported: <loud>"));
    ASSERT_EQ(MVErrorLogger::reports().size(), 1u);
    EXPECT_EQ(MVErrorLogger::reports()[0].description,
              "MVCommandHandler(v2.0).vibrate() vibration style not supported.");
    ASSERT_TRUE(MVErrorLogger::reports()[0].data);
    EXPECT_EQ(*MVErrorLogger::reports()[0].data, "loud");
}

TEST_F(GeneralCommandsTest, DelayedListsRunAfterTheCurrentCommandAndAtMostADayLater) {
    perform(
        json::array(
            {{{"c", "performCommandsAfterDelay"},
              {"p",
               {{"cmds", json::array({{{"c", "echo"}, {"p", {{"n", "later"}}}}})}, {"delay", 0}}}},
             {{"c", "echo"}, {"p", {{"n", "now"}}}}}),
        "1.1");
    ASSERT_EQ(performedCount(), 1u);
    platform::runUntilIdle();
    ASSERT_EQ(performedCount(), 2u);
    EXPECT_EQ(performedCommands()[1].parameters, (json{{"n", "later"}}));
    EXPECT_EQ(performedCommands()[1].version, "1.1");

    perform(json::array({{{"c", "performCommandsAfterDelay"},
                          {"p", {{"cmds", json::array({{{"c", "echo"}}})}, {"delay", 1e300}}}}}),
            "1.1");
    platform::advanceBy(86400 - 1);
    EXPECT_EQ(performedCount(), 2u);
    platform::advanceBy(1);
    EXPECT_EQ(performedCount(), 3u);

    perform(json::array({{{"c", "performCommandsAfterDelay"},
                          {"p", {{"cmds", json::array()}, {"delay", 1}}}}}),
            "1.1");
    EXPECT_TRUE(logged(
        "MVCommandHandler(v1.1).performCommandsAfterDelay() empty or no command list to perform"));
    ASSERT_EQ(MVErrorLogger::reports().size(), 1u);
    EXPECT_EQ(MVErrorLogger::reports()[0].description,
              "MVCommandHandler(v1.1).performCommandsAfterDelay() empty or no command list.");
}

TEST_F(GeneralCommandsTest, ConnectionLossMonitoringSwitchesAndTerminateAppEnds) {
    perform(
        json::array({{{"c", "setConnectionLossMonitoringEnabled"}, {"p", {{"enabled", false}}}}}),
        "1.1");
    EXPECT_FALSE(MVConnectionLossMonitor::sharedMonitor().isEnabled());
    perform(json::array({{{"c", "setConnectionLossMonitoringEnabled"}, {"p", {{"enabled", 1}}}}}),
            "1.1");
    EXPECT_TRUE(MVConnectionLossMonitor::sharedMonitor().isEnabled());

    const std::pair<int, const char*> rows[] = {
        {1, MVLibraryApplication::kTerminatedWithCrashLog},
        {2, MVLibraryApplication::kTerminatedWithoutCrashLog},
    };
    for (const auto& [sendLog, reason] : rows) {
        try {
            perform(json::array(
                        {{{"c", "terminateApp"}, {"p", {{"sendLog", sendLog}}}}, {{"c", "echo"}}}),
                    "1.1");
            ADD_FAILURE() << "terminateApp returned";
        } catch (const platform::Exception& e) {
            EXPECT_EQ(e.name(), MVLibraryApplicationHasBeenTerminatedException);
            EXPECT_EQ(e.reason(), reason);
        }
    }
    EXPECT_EQ(performedCount(), 0u);
}

}  // namespace
