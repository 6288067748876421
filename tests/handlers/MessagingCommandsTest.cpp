// Messaging commands against recording overlays: what an alert, a notification and an
// action sheet are given, and what is refused.
#include <fmt/core.h>
#include <gtest/gtest.h>

#include "tests/handlers/CommandTest.h"
#include "tests/support/RecordingOverlays.h"

using nlohmann::json;

namespace {

using MessagingCommandsTest = CommandTest;

const json kMessagingCollection = {{"ver", "2.0"}, {"cmds", json::array({{{"c", "popTab"}}})}};

TEST_F(MessagingCommandsTest, AnAlertWithNothingToShowOrNoWayToEndIsReported) {
    auto alerts = RecordingAlertView::install();
    const std::string text =
        "MVCommandHandler(v1.0).showAlert() misses some data in order to be able to show alert.";
    const json refused[] = {
        {{"title", "T"}},
        {{"timeout", 2}},
        {{"message", "M"}, {"buttons", {{{"title", "B"}, {"mvcmd", "x"}}}}},
    };
    for (const auto& parameters : refused) {
        MVErrorLogger::clearReports();
        perform("1.0", {{"c", "showAlert"}, {"p", parameters}});
        auto reports = MVErrorLogger::reports();
        ASSERT_EQ(reports.size(), 1u) << parameters;
        EXPECT_EQ(reports[0].description, text);
        EXPECT_EQ(*reports[0].data, parameters);
    }
    EXPECT_EQ(loggedLevel(text), platform::log::kError);
    EXPECT_TRUE(alerts->alerts.empty());
}

TEST_F(MessagingCommandsTest, AlertButtonsComeFromTitleAndCollection) {
    auto alerts = RecordingAlertView::install();
    auto sender = page();
    perform("2.0",
            {{"c", "showAlert"},
             {"p", {{"message", "M"}, {"timeout", 2}, {"mvcmdOnTimout", kMessagingCollection}}}},
            sender);
    perform("1.0", {{"c", "showAlert"},
                    {"p",
                     {{"title", "T"},
                      {"cancelButton", {{"title", "C"}, {"mvcmd", kMessagingCollection}}},
                      {"buttons",
                       {"not a button",
                        {{"title", "A"}, {"mvcmd", json::array({{{"c", "popTab"}}})}},
                        {{"title", "B"}, {"cmd", {{"c", "popTab"}, {"p", json::object()}}}},
                        {{"mvcmd", kMessagingCollection}}}},
                      {"mvcmdOnTimout", "later"}}}});
    ASSERT_EQ(alerts->alerts.size(), 2u);
    const auto& timed = alerts->alerts[0];
    EXPECT_EQ(timed.message, "M");
    EXPECT_FALSE(timed.cancelButton);
    EXPECT_TRUE(timed.buttons.empty());
    EXPECT_EQ(timed.timeout, 2.0);
    EXPECT_EQ(timed.timeoutCollection, kMessagingCollection);
    EXPECT_EQ(timed.webView, sender);

    const auto& full = alerts->alerts[1];
    ASSERT_TRUE(full.cancelButton);
    EXPECT_EQ(full.cancelButton->title, "C");
    EXPECT_EQ(*full.cancelButton->commandCollection, kMessagingCollection);
    // the array collection is left out; "cmd" runs nothing; a missing title is empty
    ASSERT_EQ(full.buttons.size(), 2u);
    EXPECT_EQ(full.buttons[0].title, "B");
    EXPECT_EQ(full.buttons[0].commandCollection, nullptr);
    EXPECT_EQ(full.buttons[1].title, "");
    EXPECT_EQ(*full.buttons[1].commandCollection, kMessagingCollection);
    EXPECT_EQ(full.timeout, std::nullopt);
    EXPECT_TRUE(full.timeoutCollection.is_null());
    EXPECT_EQ(full.webView, nullptr);
    EXPECT_TRUE(logged("AlertButton: \"A\" - command collection is not of type NSDictionary."));
    EXPECT_TRUE(MVErrorLogger::reports().empty());
}

TEST_F(MessagingCommandsTest, NotificationsAreMadeFromContentBeforeSrc) {
    auto controller = RecordingNotificationController::create("notifications");
    auto pushTop = RecordingNotificationClass::registerType("pushTop", true);
    auto sender = page();
    const json type = {"presentationType", "pushTop"};
    perform("1.0",
            {{"c", "presentNotification"},
             {"p", json({type, {"src", "https://n/"}, {"timeOut", 3}, {"speedFactor", 2}})}});
    perform("2.1",
            {{"c", "presentNotification"},
             {"p", json({type,
                         {"src", "https://n/"},
                         {"content", "<b/>"},
                         {"baseUrl", "https://n/"},
                         {"timeout", 3},
                         {"notificationParams", {{"x", 1}}},
                         {"targetNotificationController", "notifications"}})}},
            sender);
    perform("1.0",
            {{"c", "presentNotification"}, {"p", json({type, {"src", "s"}, {"timeout", "3"}})}});
    ASSERT_EQ(controller->presented.size(), 3u);
    EXPECT_EQ(controller->presented[2]->timeout, std::nullopt);  // not a number: absent
    const auto& byURL = *controller->presented[0];
    EXPECT_TRUE(byURL.isURL);
    EXPECT_EQ(byURL.source, "https://n/");
    EXPECT_EQ(byURL.timeout, std::nullopt);
    EXPECT_EQ(byURL.speedFactor, 2.0);
    EXPECT_EQ(byURL.webView, nullptr);
    const auto& byContent = *controller->presented[1];
    EXPECT_FALSE(byContent.isURL);
    EXPECT_EQ(byContent.source, "<b/>");
    EXPECT_EQ(byContent.baseURL, "https://n/");
    EXPECT_EQ(byContent.timeout, 3.0);
    EXPECT_EQ(byContent.notificationParams, (json{{"x", 1}}));
    EXPECT_EQ(byContent.webView, sender);
    EXPECT_EQ(pushTop->made.size(), 3u);
    EXPECT_TRUE(MVErrorLogger::reports().empty());
}

TEST_F(MessagingCommandsTest, NotificationFailures) {
    const json slide = {{"presentationType", "slide"}, {"src", "https://n/"}};
    perform("1.0", {{"c", "presentNotification"}, {"p", slide}});  // no controller
    auto controller = RecordingNotificationController::create("notifications");
    auto native = RecordingNotificationClass::registerType("native", false);
    perform("1.0",
            {{"c", "presentNotification"},
             {"p", {{"presentationType", "pushTop"}, {"targetNotificationController", "x"}}}});
    EXPECT_TRUE(MVErrorLogger::reports().empty());
    EXPECT_TRUE(
        logged("MVCommandHandler(v1.0).presentNotification() Couldn't find default "
               "MVNotificationController or identifier was not given"));
    EXPECT_TRUE(
        logged("MVCommandHandler(v1.0).presentNotification() Couldn't find "
               "MVNotificationController for identifier: \"x\""));

    perform("3.0", {{"c", "presentNotification"}, {"p", slide}});
    const std::string text =
        "MVCommandHandler(v3.0).presentNotification() notification type: \"slide\" does not exist";
    EXPECT_EQ(loggedLevel(text), platform::log::kError);
    auto reports = MVErrorLogger::reports();
    ASSERT_EQ(reports.size(), 1u);
    EXPECT_EQ(reports[0].description,
              "MVCommandHandler(v3.0).presentNotification() Notification type: does not exist.");
    EXPECT_FALSE(reports[0].data);

    // a type that shows no page, and a page type without a page: nothing at all
    perform("1.0", {{"c", "presentNotification"},
                    {"p", {{"presentationType", "native"}, {"src", "https://n/"}}}});
    perform("1.0", {{"c", "presentNotification"}, {"p", {{"presentationType", "centeredFade"}}}});
    EXPECT_TRUE(native->made.empty());
    EXPECT_TRUE(controller->presented.empty());
    EXPECT_EQ(MVErrorLogger::reports().size(), 1u);
}

TEST_F(MessagingCommandsTest, TheBuiltInTypesMakeNothingUntilRegistered) {
    const auto types = MVNotificationControllerInterface::notificationTypes();
    ASSERT_EQ(types.size(), 6u);
    for (const auto& name :
         {"rightToLeft", "leftToRight", "topToBottom", "pushTop", "pushBottom", "centeredFade"}) {
        auto type = types.find(name);
        ASSERT_NE(type, types.end()) << name;
        EXPECT_TRUE(type->second->isWebViewNotification());
        EXPECT_EQ(type->second->notificationWithURL("https://n/", nullptr, 1.0, 1.0, nullptr),
                  nullptr);
    }
}

TEST_F(MessagingCommandsTest, ActionSheetsGetTheWholeDictionary) {
    auto sheets = RecordingActionSheet::install();
    auto sender = page();
    const json parameters = {{"title", "T"},
                             {"timeout", 0},
                             {"buttons", {{{"title", "A"}}, 3}},
                             {"extra", {{"kept", true}}}};
    perform("2.0", {{"c", "showActionSheet"}, {"p", parameters}}, sender);
    perform("1.0", {{"c", "showActionSheet"}, {"p", {{"timeout", 1}}}});
    ASSERT_EQ(sheets->sheets.size(), 2u);
    EXPECT_EQ(sheets->sheets[0].parameters, parameters);
    EXPECT_EQ(sheets->sheets[0].webView, sender);
    EXPECT_EQ(sheets->sheets[1].parameters, (json{{"timeout", 1}}));
    EXPECT_EQ(sheets->sheets[1].webView, nullptr);
}

TEST_F(MessagingCommandsTest, AnActionSheetThatNothingCanCloseIsReported) {
    const json command = {{"c", "popTab"}, {"p", json::object()}};
    struct Row {
        const char* version;
        json parameters;  // null: the command carries no "p"
        bool shown;
    };
    const Row rows[] = {
        {"1.0", nullptr, false},
        {"2.0", json::object(), false},
        {"3.0", {{"title", "T"}}, false},
        {"1.0", {{"title", "T"}, {"timeout", 0}}, false},
        {"2.1", {{"timeout", -2}, {"timeoutCmd", command}}, false},
        {"1.0", {{"timeoutCmd", command}}, false},
        {"2.0", {{"timeout", 1e-50}}, false},                  // 0 in single precision
        {"1.0", {{"title", "T"}, {"timeout", 1e300}}, false},  // never fires
        {"2.0", {{"timeout", false}}, false},
        {"1.0", {{"cancelButton", {{"title", "C"}}}}, true},
        {"3.0", {{"destructiveButton", {{"title", "D"}, {"cmd", command}}}}, true},
        {"1.0", {{"buttons", {{{"title", "A"}}}}}, true},
        {"2.0", {{"buttons", {3}}, {"timeout", 0}}, true},
        {"1.0", {{"timeout", 2}}, true},
        {"2.1", {{"title", "T"}, {"timeout", 0.5}, {"timeoutCmd", command}}, true},
        {"1.0", {{"timeout", true}}, true},
    };
    for (const auto& row : rows) {
        auto sheets = RecordingActionSheet::install();
        MVErrorLogger::clearReports();
        json sent = {{"c", "showActionSheet"}};
        if (!row.parameters.is_null()) sent["p"] = row.parameters;
        const auto sender = row.version[0] == '2' ? page() : nullptr;
        perform(row.version, sent, sender);
        SCOPED_TRACE(sent.dump() + " v" + row.version);
        const auto reports = MVErrorLogger::reports();
        if (row.shown) {
            EXPECT_TRUE(reports.empty());
            EXPECT_EQ(sheets->sheets.size(), 1u);
            if (!sheets->sheets.empty()) {
                EXPECT_EQ(sheets->sheets[0].parameters, row.parameters);
                EXPECT_EQ(sheets->sheets[0].webView, sender);
            }
            continue;
        }
        EXPECT_TRUE(sheets->sheets.empty());
        const std::string text = fmt::format(
            "MVCommandHandler(v{}).showActionSheet() misses some data in order to be "
            "able to show alert.",
            row.version);
        EXPECT_EQ(loggedLevel(text), platform::log::kError);
        EXPECT_EQ(reports.size(), 1u);
        if (reports.size() != 1) continue;
        EXPECT_EQ(reports[0].description, text);
        if (!row.parameters.is_null())
            EXPECT_EQ(*reports[0].data, row.parameters);
        else
            EXPECT_FALSE(reports[0].data);
    }
}

}  // namespace
