#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "platform/foundation/Exception.h"
#include "platform/foundation/SharedInstances.h"
#include "platform/ui/AlertView.h"
#include "platform/ui/Application.h"
#include "tests/support/PlatformTest.h"

using namespace platform;

namespace {

class AlertViewTest : public PlatformTest {};

class RecordingDelegate : public AlertViewDelegate {
  public:
    void alertViewClickedButtonAtIndex(AlertView& alert, int index) override {
        calls.push_back("clicked " + std::to_string(index) + visible(alert));
        if (onClick) onClick(alert);
    }
    void alertViewWillDismissWithButtonIndex(AlertView& alert, int index) override {
        calls.push_back("will dismiss " + std::to_string(index) + visible(alert));
    }
    void alertViewDidDismissWithButtonIndex(AlertView& alert, int index) override {
        calls.push_back("did dismiss " + std::to_string(index) + visible(alert));
    }
    static std::string visible(const AlertView& alert) {
        return alert.isVisible() ? " (shown)" : " (gone)";
    }
    std::vector<std::string> calls;
    std::function<void(AlertView&)> onClick;
};

// An alert that is its own delegate, as the library's alert is.
class SelfDelegatingAlert : public AlertView, public AlertViewDelegate {
  public:
    static std::shared_ptr<SelfDelegatingAlert> create() {
        auto alert = std::shared_ptr<SelfDelegatingAlert>(new SelfDelegatingAlert());
        alert->setDelegate(alert);
        return alert;
    }
    void alertViewClickedButtonAtIndex(AlertView&, int index) override { clicked.push_back(index); }
    std::vector<int> clicked;

  private:
    SelfDelegatingAlert() : AlertView("Title", std::nullopt, {}, "Cancel", {"One"}) {}
};

}  // namespace

TEST_F(AlertViewTest, PressingAButtonReportsTheClickThenDismisses) {
    auto delegate = std::make_shared<RecordingDelegate>();
    auto alert = AlertView::create("Title", "Message", delegate, "Cancel", {"First", "Second"});
    EXPECT_EQ(alert->numberOfButtons(), 3);
    EXPECT_EQ(alert->cancelButtonIndex(), 0);
    EXPECT_EQ(alert->buttonTitleAtIndex(2), "Second");
    EXPECT_EQ(alert->buttonTitleAtIndex(3), std::nullopt);

    alert->show();
    EXPECT_EQ(AlertView::shownAlerts(), (std::vector<std::shared_ptr<AlertView>>{alert}));

    alert->pressButtonForTesting(2);
    EXPECT_EQ(delegate->calls,
              (std::vector<std::string>{"clicked 2 (shown)", "will dismiss 2 (shown)",
                                        "did dismiss 2 (gone)"}));
    EXPECT_TRUE(AlertView::shownAlerts().empty());
    EXPECT_TRUE(Application::shared().presentations().empty());

    // A click handler that dismisses ends the alert once.
    delegate->calls.clear();
    delegate->onClick = [](AlertView& a) { a.dismissWithClickedButtonIndex(-1, true); };
    alert->show();
    alert->pressButtonForTesting(0);
    EXPECT_EQ(delegate->calls,
              (std::vector<std::string>{"clicked 0 (shown)", "will dismiss -1 (shown)",
                                        "did dismiss -1 (gone)"}));
}

TEST_F(AlertViewTest, DismissingWithMinusOneReportsNoClick) {
    auto delegate = std::make_shared<RecordingDelegate>();
    auto alert = AlertView::create("Title", std::nullopt, delegate, "Cancel", {"First", "Second"});
    alert->show();
    alert->dismissWithClickedButtonIndex(-1, true);
    EXPECT_EQ(delegate->calls,
              (std::vector<std::string>{"will dismiss -1 (shown)", "did dismiss -1 (gone)"}));
    EXPECT_TRUE(AlertView::shownAlerts().empty());

    // Once gone, a second dismissal does nothing, and the buttons can no longer be pressed.
    alert->dismissWithClickedButtonIndex(-1, true);
    EXPECT_EQ(delegate->calls.size(), 2u);
    EXPECT_THROW(alert->pressButtonForTesting(0), Exception);
}

TEST_F(AlertViewTest, TheApplicationKeepsAShownAlertAliveUntilItIsDismissed) {
    auto delegate = std::make_shared<RecordingDelegate>();
    std::weak_ptr<AlertView> weak;
    {
        auto alert = AlertView::create(std::nullopt, std::nullopt, delegate, std::nullopt, {"Ok"});
        EXPECT_EQ(alert->cancelButtonIndex(), -1);
        alert->show();
        alert->show();  // shown once only
        weak = alert;
    }
    ASSERT_FALSE(weak.expired());
    EXPECT_EQ(Application::shared().presentations().size(), 1u);
    weak.lock()->pressButtonForTesting(0);
    EXPECT_TRUE(weak.expired());
    EXPECT_EQ(delegate->calls.back(), "did dismiss 0 (gone)");
}

TEST_F(AlertViewTest, SeveralAlertsAreHeldInTheOrderShown) {
    auto first = AlertView::create("1", std::nullopt, {}, "Ok", {});
    auto second = SelfDelegatingAlert::create();
    first->show();
    second->show();
    EXPECT_EQ(AlertView::shownAlerts(), (std::vector<std::shared_ptr<AlertView>>{first, second}));
    second->pressButtonForTesting(1);
    EXPECT_EQ(second->clicked, (std::vector<int>{1}));
    EXPECT_EQ(AlertView::shownAlerts(), (std::vector<std::shared_ptr<AlertView>>{first}));
    EXPECT_THROW(first->pressButtonForTesting(1), Exception);  // it has one button
    EXPECT_THROW(first->pressButtonForTesting(-1), Exception);

    // The reset between tests lets go of what is still shown.
    std::weak_ptr<AlertView> weak = first;
    first.reset();
    resetSharedInstancesForTesting();
    EXPECT_TRUE(weak.expired());
    EXPECT_TRUE(Application::shared().presentations().empty());
}

TEST_F(AlertViewTest, DeadDelegateIsNotCalled) {
    auto delegate = std::make_shared<RecordingDelegate>();
    auto alert = AlertView::create("Title", std::nullopt, delegate, "Cancel", {});
    alert->show();
    delegate.reset();
    alert->pressButtonForTesting(0);
    EXPECT_FALSE(alert->isVisible());
}
