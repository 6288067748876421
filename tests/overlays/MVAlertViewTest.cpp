// Alerts: which commands a tap and the time-out run, for which page, and what is left
// out of the button list.
#include <gtest/gtest.h>

#include "libmerovane/core/MVAlertViewInterface.h"
#include "libmerovane/overlays/MVAlertView.h"
#include "tests/overlays/OverlayTest.h"

using nlohmann::json;

namespace {

using MVAlertViewTest = OverlayTest;

MVAlertButton alertTestButton(const std::string& title, const json& collection) {
    return *MVAlertButton::alertButtonWithTitle(title, &collection);
}

std::shared_ptr<MVAlertView> shownAlert() {
    auto alerts = platform::AlertView::shownAlerts();
    return alerts.empty() ? nullptr : std::dynamic_pointer_cast<MVAlertView>(alerts.back());
}

TEST_F(MVAlertViewTest, ButtonsAreNumberedAfterTheCancelButton) {
    const json list = json::array({probe(2), probe(3)});
    for (bool withCancel : {false, true}) {
        probes().clear();
        std::optional<MVAlertButton> cancel;
        if (withCancel) cancel = alertTestButton("Cancel", probeCollection(0));
        MVAlertView::showAlertWithTitle(
            "T", std::nullopt, cancel,
            {alertTestButton("A", probeCollection(1, "2.0")),
             *MVAlertButton::alertButtonWithTitleCommandlist("B", &list)},
            std::nullopt, nullptr, page);
        auto alert = shownAlert();
        ASSERT_TRUE(alert);
        EXPECT_EQ(alert->numberOfButtons(), withCancel ? 3 : 2);
        alert->pressButtonForTesting(withCancel ? 2 : 1);
        // a list runs through the shared handler, version 2.1
        EXPECT_EQ(probes(), (std::vector<Probe>{{"2.1", 2, page.get()}, {"2.1", 3, page.get()}}));
        EXPECT_FALSE(shownAlert());
    }
    MVAlertView::showAlertWithTitle(std::nullopt, "M", std::nullopt,
                                    {alertTestButton("A", probeCollection(1, "2.0"))}, std::nullopt,
                                    nullptr, nullptr);
    shownAlert()->pressButtonForTesting(0);
    EXPECT_EQ(probes().back(), (Probe{"2.0", 1, nullptr}));
    MVAlertView::showAlertWithTitle(std::nullopt, "M",
                                    alertTestButton("Cancel", probeCollection(0)), {}, std::nullopt,
                                    nullptr, page);
    shownAlert()->pressButtonForTesting(0);
    EXPECT_EQ(probes().back(), (Probe{"1.0", 0, page.get()}));
}

TEST_F(MVAlertViewTest, ATapAndTheTimeOutExcludeEachOther) {
    const json onTimeout = probeCollection(9);
    MVAlertView::showAlertWithTitle("T", std::nullopt, std::nullopt,
                                    {alertTestButton("A", probeCollection(1))}, 2.5, &onTimeout,
                                    page);
    auto timed = shownAlert();
    platform::advanceBy(2.49);
    EXPECT_TRUE(timed->isVisible());
    platform::advanceBy(0.01);
    EXPECT_FALSE(timed->isVisible());
    EXPECT_TRUE(timed->timeOutReached());
    EXPECT_EQ(probes(), (std::vector<Probe>{{"1.0", 9, page.get()}}));
    timed->alertViewClickedButtonAtIndex(0);  // a tap that raced the dismissal
    EXPECT_EQ(probes().size(), 1u);

    MVAlertView::showAlertWithTitle("T", std::nullopt, std::nullopt,
                                    {alertTestButton("A", probeCollection(1))}, 1, &onTimeout,
                                    page);
    shownAlert()->pressButtonForTesting(0);
    platform::advanceBy(5);
    EXPECT_EQ(probes(), (std::vector<Probe>{{"1.0", 9, page.get()}, {"1.0", 1, page.get()}}));

    // 0 fires at the next turn; without a number the alert stays
    MVAlertView::showAlertWithTitle("T", std::nullopt, std::nullopt, {}, 0, &onTimeout, nullptr);
    MVAlertView::showAlertWithTitle("U", std::nullopt, std::nullopt, {}, std::nullopt, &onTimeout,
                                    nullptr);
    EXPECT_EQ(platform::AlertView::shownAlerts().size(), 2u);
    platform::runUntilIdle();
    EXPECT_EQ(probes().back(), (Probe{"1.0", 9, nullptr}));
    platform::advanceBy(1000);
    ASSERT_EQ(platform::AlertView::shownAlerts().size(), 1u);
    EXPECT_EQ(shownAlert()->title(), "U");
}

TEST_F(MVAlertViewTest, ElementsThatAreNoButtonsAreLeftOut) {
    struct Case {
        std::optional<std::string> title;
        std::optional<std::string> message;
        const char* named;
    };
    const Case cases[] = {{"T", "M", "title: <\"T\">"},
                          {std::nullopt, "M", "message: <\"M\">"},
                          {std::nullopt, std::nullopt, "untitled AlertView"}};
    for (const auto& c : cases) {
        probes().clear();
        MVAlertView::showAlertWithTitle(
            c.title, c.message, std::nullopt,
            {json("x"), json(5), alertTestButton("B", probeCollection(4))}, std::nullopt, nullptr,
            page);
        auto alert = shownAlert();
        ASSERT_EQ(alert->alertButtons().size(), 1u);
        EXPECT_EQ(alert->buttonTitleAtIndex(0), "B");
        alert->pressButtonForTesting(0);
        EXPECT_EQ(probes(), (std::vector<Probe>{{"1.0", 4, page.get()}}));
        const std::string prefix = "Undifined Object from Class: <";
        EXPECT_TRUE(
            logged(prefix + "NSString> found as given alert button in MVAlertView for " + c.named));
        EXPECT_TRUE(
            logged(prefix + "NSNumber> found as given alert button in MVAlertView for " + c.named));
    }
}

TEST_F(MVAlertViewTest, ButtonsAreMadeOnlyWithTheRightContainer) {
    const json list = json::array({probe(1)});
    const json collection = probeCollection(1);
    EXPECT_FALSE(MVAlertButton::alertButtonWithTitle("x", &list));
    EXPECT_TRUE(logged("AlertButton: \"x\" - command collection is not of type NSDictionary."));
    EXPECT_FALSE(MVAlertButton::alertButtonWithTitleCommandlist("y", &collection));
    EXPECT_TRUE(logged("AlertButton: \"y\" - command list is not of type NSArray."));
    auto empty = MVAlertButton::alertButtonWithTitleCommandlist(std::nullopt, nullptr);
    ASSERT_TRUE(empty);
    EXPECT_EQ(empty->title, "");
    EXPECT_EQ(empty->commandCollection, nullptr);
    try {
        MVAlertButton::create();
        FAIL() << "create made a button";
    } catch (const MVALertButtonInitExecutedManuallyException& e) {
        EXPECT_EQ(e.name(), "[MVAlertButton init] called manually!");
        EXPECT_EQ(e.reason(),
                  "Method: [MVAlertButton init] mustn't be called manually. Call [MVAlertButton "
                  "alertButtonWithTitle:commandCollection:] or [MVAlertButton "
                  "alertButtonWithTitle:commandlist:] instead.");
    }
    // a button without commands only closes the alert
    MVAlertView::showAlertWithTitle("T", std::nullopt, *empty, {}, std::nullopt, nullptr, page);
    shownAlert()->pressButtonForTesting(0);
    EXPECT_TRUE(probes().empty());
}

TEST_F(MVAlertViewTest, TheShowAlertCommandReachesTheInstalledAlerts) {
    MVAlertView::install();
    MVCommandHandler::performCommandsFromCommandCollection(
        {{"ver", "1.0"},
         {"cmds",
          {{{"c", "showAlert"},
            {"p",
             {{"title", "T"},
              {"buttons", {{{"title", "A"}, {"mvcmd", probeCollection(5)}}}},
              {"timeout", 3},
              {"mvcmdOnTimout", probeCollection(6)}}}}}}},
        page);
    auto alert = shownAlert();
    ASSERT_TRUE(alert);
    EXPECT_EQ(alert->fromWebView(), page);
    platform::advanceBy(3);
    EXPECT_EQ(probes(), (std::vector<Probe>{{"1.0", 6, page.get()}}));
}

TEST_F(MVAlertViewTest, ATimeOutBeyondTheLargestFloatNeverFires) {
    const json onTimeout = probeCollection(9);
    for (const double timeout : {3.5e38, 1e300})
        MVAlertView::showAlertWithTitle("T", std::nullopt, std::nullopt, {}, timeout, &onTimeout,
                                        page);
    platform::advanceBy(1e6);
    EXPECT_EQ(platform::AlertView::shownAlerts().size(), 2u);
    EXPECT_TRUE(probes().empty());
}

}  // namespace
