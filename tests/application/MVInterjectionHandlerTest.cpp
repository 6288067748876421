// The interjection handler against the loopback API peer: openings and the commands they
// send, answers held through the boot command, the waiting overlay and the splash screen,
// misuse reports, the device token's text and the library's callbacks.
#include <gtest/gtest.h>

#include <nlohmann/json.hpp>

#include "libmerovane/application/MVInterjection.h"
#include "libmerovane/application/MVInterjectionHandler.h"
#include "libmerovane/application/MVServerCommands.h"
#include "libmerovane/bridge/MVCommandHandler.h"
#include "libmerovane/core/MVActivityIndicationOverlayInterface.h"
#include "libmerovane/core/MVErrorLogger.h"
#include "libmerovane/core/MVSplashScreenInterface.h"
#include "libmerovane/handlers/MVCommandHandlerClasses.h"
#include "platform/foundation/NotificationCenter.h"
#include "platform/foundation/TestDriver.h"
#include "platform/ui/Application.h"
#include "tests/application/LibraryApplicationFixture.h"
#include "tests/support/RecordingContainers.h"

using nlohmann::json;

namespace {

// Records what is asked of it; its fades finish at the next turn.
class InterjectionTestOverlay : public MVActivityIndicationOverlayInterface {
  public:
    explicit InterjectionTestOverlay(std::string title) : title(std::move(title)) {}
    void setTitle(const std::optional<std::string>& text) override {
        title = text.value_or("");
        calls.push_back("title");
    }
    void setButtonWithTitle(const std::optional<std::string>&, std::function<void()>,
                            bool) override {}
    void fadeInWithDuration(double, Completion completion) override { fade("in", completion); }
    void fadeOutWithDuration(double, Completion completion) override { fade("out", completion); }

    std::string title;
    std::vector<std::string> calls;

  private:
    void fade(const char* what, Completion completion) {
        calls.push_back(what);
        if (completion) platform::RunLoop::main().post([completion] { completion(true); });
    }
};

class MVInterjectionHandlerTest : public LibraryApplicationTest {
  protected:
    void SetUp() override {
        LibraryApplicationTest::SetUp();
        registerCommandHandlerClasses();
        splash = RecordingSplashScreen::install();
        splash->visible = false;
        MVActivityIndicationOverlayInterface::setFactory(
            [this](const std::shared_ptr<platform::View>&, bool, const std::string& title) {
                overlays.push_back(std::make_shared<InterjectionTestOverlay>(title));
                return overlays.back();
            });
        answerRequestHeads(peer_);
        library().setDefaultApiPath(peerUrl(peer_));
        auto& connection = MVApiConnection::sharedConnection();
        platform::advanceBy(MVApiConnection::kStartDelay);
        ASSERT_TRUE(waitFor([&] { return connection.state() == MVApiConnectionStateStreaming; }));
        handler = MVInterjectionHandler::sharedHandler();
        MVErrorLogger::clearReports();
    }
    void TearDown() override {
        MVActivityIndicationOverlayInterface::setFactory(nullptr);
        LibraryApplicationTest::TearDown();
    }

    std::vector<json> sentCommands() { return commandsSentSoFar(peer_); }
    // A list the server might answer with: shows the splash screen.
    static json showSplashList() { return json::array({{{"c", "showSplashScreen"}}}); }

    peer::ApiPeer peer_;
    std::shared_ptr<RecordingSplashScreen> splash;
    std::vector<std::shared_ptr<InterjectionTestOverlay>> overlays;
    std::shared_ptr<MVInterjectionHandler> handler;
};

TEST_F(MVInterjectionHandlerTest, OpeningTheSamePushedNotificationTwiceSendsOneCommand) {
    std::vector<std::string> completions;
    handler->openPushNotificationWithId("7", "buy", "shop", [&] { completions.push_back("one"); });
    ASSERT_TRUE(handler->currentInterjection());
    EXPECT_EQ(handler->currentInterjection()->serialId(), 1000);
    handler->openPushNotificationWithId("7", "", "", [&] { completions.push_back("two"); });
    EXPECT_EQ(completions, (std::vector<std::string>{"two"}));  // already open: at once
    EXPECT_EQ(sentCommands(),
              (std::vector<json>{
                  {{"c", "openPushNotification"},
                   {"p", {{"notificationId", "7"}, {"action", "buy"}, {"category", "shop"}}}}}));
    ASSERT_EQ(overlays.size(), 1u);
    EXPECT_EQ(overlays[0]->title, "Opening notification ...");

    // The answer runs at once; the finish removes the overlay and ends the interjection.
    handler->performPushResponseWithNotificationId("8", showSplashList());  // not current
    EXPECT_TRUE(splash->calls.empty());
    handler->performPushResponseWithNotificationId("7", showSplashList());
    platform::runUntilIdle();
    EXPECT_EQ(splash->calls, (std::vector<std::string>{"show"}));
    splash->visible = false;
    const auto held = handler->currentInterjection();  // its block runs all the same
    handler->pushNotificationResponseFinishedForNotificationID("7");
    EXPECT_EQ(handler->currentInterjection(), nullptr);
    EXPECT_EQ(completions, (std::vector<std::string>{"two", "one"}));
    EXPECT_EQ(overlays[0]->calls, (std::vector<std::string>{"in", "out"}));
    EXPECT_EQ(handler->waitingForInterjectionOverlayView(), nullptr);
}

TEST_F(MVInterjectionHandlerTest, AReplacedInterjectionRunsItsBlockAtOnce) {
    int completed = 0;
    handler->openPushNotificationWithId("1", "", "", [&] { ++completed; });
    const auto first = handler->currentInterjection();
    handler->openDeepLinkWithID("a", "", false);
    EXPECT_EQ(completed, 1);
    EXPECT_FALSE(first->thenDo);
    handler->openPushNotificationWithID("1");  // no longer current: opened again
    EXPECT_EQ(handler->currentInterjection()->serialId(), 1002);
    EXPECT_EQ(completed, 1);
}

TEST_F(MVInterjectionHandlerTest, ADeepLinkAnswerDuringTheBootCommandRunsAfterIt) {
    auto& center = platform::NotificationCenter::defaultCenter();
    handler->openDeepLinkWithID("product/42", "?x=1", true);
    EXPECT_TRUE(overlays.empty());  // silent
    EXPECT_EQ(
        sentCommands(),
        (std::vector<json>{
            {{"c", "openDeepLink"},
             {"p", {{"linkId", "product/42"}, {"linkSerial", 1000}, {"parameters", "?x=1"}}}}}));
    center.post(MVLibraryApplicationReceivedBootAppCommand);
    EXPECT_TRUE(handler->bootAppCommandIsBeingPerformed());
    handler->performDeepLinkResponseWithLinkSerial(999, showSplashList());
    handler->performDeepLinkResponseWithLinkSerial(1000,
                                                   json::array({{{"c", "hideSplashScreen"}}}));
    handler->performDeepLinkResponseWithLinkSerial(1000, showSplashList());  // replaces it
    platform::runUntilIdle();
    EXPECT_TRUE(splash->calls.empty());
    center.post(MVLibraryApplicationPerformedBootAppCommand);
    platform::runUntilIdle();
    EXPECT_EQ(splash->calls, (std::vector<std::string>{"show"}));
    EXPECT_FALSE(handler->currentInterjection()->commandList);
    center.post(MVLibraryApplicationPerformedBootAppCommand);  // nothing held twice
    platform::runUntilIdle();
    EXPECT_EQ(splash->calls.size(), 1u);
}

TEST_F(MVInterjectionHandlerTest, AFinishWhileTheSplashScreenShowsKeepsTheOverlayUntilItHides) {
    handler->openDeepLinkWithID("a", "", false);
    ASSERT_EQ(overlays.size(), 1u);
    EXPECT_EQ(overlays[0]->title, "Opening link ...");
    splash->visible = true;
    handler->deepLinkResponseFinishedForLinkSerial(1000);
    platform::runUntilIdle();
    EXPECT_EQ(overlays[0]->calls, (std::vector<std::string>{"in"}));
    EXPECT_EQ(handler->lastReceivedResponseInterjection(), handler->currentInterjection());
    splash->visible = false;
    platform::NotificationCenter::defaultCenter().post(MVSplashScreenWillHideNotification);
    EXPECT_EQ(overlays[0]->calls, (std::vector<std::string>{"in", "out"}));
    EXPECT_NE(handler->currentInterjection(), nullptr);  // until the fade has finished
    platform::runUntilIdle();
    EXPECT_EQ(handler->currentInterjection(), nullptr);
    EXPECT_EQ(handler->lastReceivedResponseInterjection(), nullptr);
}

TEST_F(MVInterjectionHandlerTest, DeepLinksWithTheSameIdAreTwoInterjections) {
    handler->openDeepLinkWithID("a", "", false);
    handler->openDeepLinkWithID("a", "", false);
    EXPECT_EQ(handler->currentInterjection()->serialId(), 1001);
    EXPECT_EQ(overlays.size(), 1u);  // retitled, not shown twice
    EXPECT_EQ(overlays[0]->calls, (std::vector<std::string>{"in", "title"}));
    handler->deepLinkResponseFinishedForLinkSerial(1000);
    EXPECT_NE(handler->currentInterjection(), nullptr);
    handler->deepLinkResponseFinishedForLinkSerial(1001);
    EXPECT_EQ(handler->currentInterjection(), nullptr);
}

TEST_F(MVInterjectionHandlerTest, TheServersDeepLinkCommandsReachTheHandler) {
    handler->openDeepLinkWithID("a", "", false);
    const json answer = json::array({{{"c", "hideSplashScreen"}}});
    MVCommandHandler::performCommandsFromCommandCollection(
        {{"ver", "2.0"},
         {"cmds",
          json::array({{{"c", "deepLinkResponse"}, {"p", {{"linkSerial", 1000}, {"cmds", answer}}}},
                       {{"c", "deepLinkResponseFinished"}, {"p", {{"linkSerial", 1000}}}}})}},
        nullptr);
    platform::runUntilIdle();
    EXPECT_EQ(splash->calls, (std::vector<std::string>{"hide"}));
    EXPECT_EQ(handler->currentInterjection(), nullptr);
}

TEST_F(MVInterjectionHandlerTest, AnInAppNotificationsAnswerMakesItCurrentWithoutOverlay) {
    handler->showPushNotificationInAppDisplayWithId("9");
    handler->showPushNotificationInAppDisplayWithId("9");
    EXPECT_EQ(sentCommands(),
              (std::vector<json>{{{"c", "openPushNotification"},
                                  {"p", {{"notificationId", "9"}, {"needsInAppDisplay", true}}}}}));
    handler->performPushResponseWithNotificationId("9", showSplashList());
    platform::runUntilIdle();
    EXPECT_EQ(splash->calls, (std::vector<std::string>{"show"}));
    ASSERT_NE(handler->currentInterjection(), nullptr);
    EXPECT_EQ(handler->currentInterjection()->id(), "9");
    EXPECT_FALSE(handler->openingPushNotificationInAppDisplayId());
    EXPECT_TRUE(overlays.empty());
}

TEST_F(MVInterjectionHandlerTest, MisuseIsWarnedAndReportedAndChangesNothing) {
    using Push = MVPushNotificationInterjection;
    const auto full = MVInterjection::interjectionWithId<Push>("1");
    const auto representation = MVInterjection::representationForId<Push>("1");
    struct Row {
        std::function<void()> call;
        std::string report;
        std::optional<json> data;
    };
    const Row rows[] = {
        {[&] { handler->openInterjection(nullptr, false, std::nullopt); },
         "MVInterjectionHandler.openInterjection() without interjection instance.", json::object()},
        {[&] { handler->openInterjection(full, false, std::nullopt); },
         "MVInterjectionHandler.openInterjection() without sending command.",
         json{{"interjectionId", "1"},
              {"interjectionClass", "MVPushNotificationInterjection"},
              {"interjectionSerial", 1000}}},
        {[&] {
             handler->performInterjectionResponseForInterjectionRepresentation(nullptr, json(),
                                                                               nullptr);
         },
         "MVInterjectionHandler.performInterjectionResponseForInterjectionRepresentation() "
         "without interjection instance.",
         json()},
        {[&] {
             handler->performInterjectionResponseForInterjectionRepresentation(
                 representation, std::nullopt, nullptr);
         },
         "MVInterjectionHandler.performInterjectionResponseForInterjectionRepresentation() "
         "without interjection  command list to perform.",
         json{{"interjectionId", "1"},
              {"interjectionClass", "MVPushNotificationInterjection"},
              {"interjectionSerial", 0}}},
        {[&] {
             handler->performInterjectionResponseForInterjectionRepresentation(full, json::array(),
                                                                               nullptr);
         },
         "MVInterjectionHandler.performInterjectionResponseForInterjectionRepresentation(),a "
         "full interjection instance can't be used. Use an interjection representation "
         "instance of an interjection sublass instead",
         json{{"interjection", full->errorData()}, {"commandList", json::array()}}},
        {[&] { handler->interjectionResponseFinishedForInterjectionRepresentation(nullptr); },
         "MVInterjectionHandler.interjectionResponseFinishedForInterjectionRepresentation() "
         "without interjection instance.",
         std::nullopt},
        {[&] { handler->interjectionResponseFinishedForInterjectionRepresentation(full); },
         "MVInterjectionHandler.interjectionResponseFinishedForInterjectionRepresentation(),a "
         "full interjection instance can't be used. Use an interjection representation "
         "instance of an interjection sublass instead",
         json{{"interjection", full->errorData()}}},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.report);
        MVErrorLogger::clearReports();
        row.call();
        const auto reports = MVErrorLogger::reports();
        ASSERT_EQ(reports.size(), 1u);
        EXPECT_EQ(reports[0].description, row.report);
        EXPECT_EQ(reports[0].data != nullptr, row.data.has_value());
        if (reports[0].data && row.data) {
            EXPECT_EQ(*reports[0].data, *row.data);
        }
        EXPECT_EQ(handler->currentInterjection(), nullptr);
    }
    EXPECT_TRUE(
        logged("MVInterjectionHandler.openInterjection() without interjection instance. "
               "OpenInterjection won't be performed"));
    EXPECT_TRUE(logged("OpenInterjection won't be performed: {\"interjectionClass\""));
    EXPECT_TRUE(overlays.empty());

    // A representation opened still opens, after its report.
    MVErrorLogger::clearReports();
    handler->openInterjection(representation, true,
                              MVCommandApiGeneral::openPushNotification("1", false, {}, {}));
    ASSERT_EQ(MVErrorLogger::reports().size(), 1u);
    EXPECT_EQ(MVErrorLogger::reports()[0].description,
              "In MVInterjectionHandler.openInterjection(), an interjection representation "
              "can't be used. Use a full instance of an interjection sublass instead");
    EXPECT_EQ(handler->currentInterjection(), representation);
}

TEST_F(MVInterjectionHandlerTest, TheTokenTextHasTwoDigitsForEveryByte) {
    EXPECT_EQ(MVInterjectionHandler::tokenText(std::string("\x00\x01\xab\xff", 4)), "0001abff");
    std::string token, expected;
    for (int i = 0; i < 20; ++i) {
        token.push_back(static_cast<char>(i * 13));
        expected += fmt::format("{:02x}", i * 13);
    }
    EXPECT_EQ(MVInterjectionHandler::tokenText(token), expected);
    EXPECT_EQ(expected.size(), 40u);
    std::vector<std::string> texts;
    handler->registerForPushNotificationOnSuccess(
        [&](const std::string&, const std::string& text) { texts.push_back(text); });
    handler->didRegisterForRemoteNotificationsWithDeviceToken("");  // no token: blocks dropped
    handler->didRegisterForRemoteNotificationsWithDeviceToken("\x01");
    EXPECT_TRUE(texts.empty());
}

TEST_F(MVInterjectionHandlerTest, TheLibrarysCallbacksReachTheHandlerWhenNoneIsInstalled) {
    MVInterjectionInterface::setShared(nullptr);
    library().didReceiveRemoteNotification({{"merovane", "n1"}});
    ASSERT_NE(handler->currentInterjection(), nullptr);
    EXPECT_EQ(handler->currentInterjection()->id(), "n1");
    EXPECT_EQ(handler->currentInterjection()->serialId(), 1000);
}

}  // namespace
