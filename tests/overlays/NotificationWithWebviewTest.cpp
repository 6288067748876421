// Web-view notifications: how they are set up from a command's parameters, the render gate
// with the web view pool, the template data, the page's requests and the status bar.
#include <gtest/gtest.h>

#include "libmerovane/bridge/MVCommand.h"
#include "libmerovane/bridge/MVStatusBarStyle.h"
#include "libmerovane/bridge/MVWebViewCache.h"
#include "platform/ui/Application.h"
#include "platform/ui/Window.h"
#include "tests/overlays/NotificationPageTest.h"

using nlohmann::json;

namespace {

using NotificationWithWebviewTest = NotificationPageTest;

std::shared_ptr<MVNotificationWithWebview> fromUrl(const std::string& type, const std::string& url,
                                                   const json* params) {
    return std::dynamic_pointer_cast<MVNotificationWithWebview>(
        MVNotificationController::registeredNotificationTypes().at(type)->notificationWithURL(
            url, params, std::nullopt, std::nullopt, nullptr));
}

TEST_F(NotificationWithWebviewTest, TimeoutsAndSpeedFactorsCountOnlyAboveZero) {
    struct Case {
        std::optional<double> given;
        std::optional<double> timeout;  // kept as the timeout
        double speedFactor;             // kept as the speed factor
    };
    const Case cases[] = {
        {std::nullopt, std::nullopt, 1},
        {0.0, std::nullopt, 1},
        {-3.0, std::nullopt, 1},
        {1e-50, std::nullopt, 1},  // 0 in single precision: no movement may take 0 s
        {2.5, 2.5, 2.5},
    };
    for (const Case& c : cases) {
        auto note = content("pushTop", c.given, c.given);
        EXPECT_EQ(note->timeout(), c.timeout);
        EXPECT_EQ(note->speedFactor(), c.speedFactor);
        EXPECT_EQ(note->nextNotificationStep(), std::nullopt);
        EXPECT_FALSE(note->isRendered());
    }
}

TEST_F(NotificationWithWebviewTest, AMissingUrlOrContentIsOnlyLogged) {
    auto cls = classOf("leftToRight");
    EXPECT_TRUE(cls->notificationWithURL("", nullptr, std::nullopt, std::nullopt, nullptr));
    EXPECT_EQ(loggedLevel("MVPushnotification.notificationWithURL without URL to open!"),
              platform::log::kWarning);
    auto page = MVWebView::create();
    page->setDebugName("Shop");
    EXPECT_TRUE(
        cls->notificationWithContent("", std::nullopt, nullptr, std::nullopt, std::nullopt, page));
    EXPECT_TRUE(
        logged("MVPushnotification.notificationWithContent without content"
               "sent from webview<" +
               std::to_string(page->serialID()) + ":Shop>"));
    // Only the web-view notification classes make notifications.
    EXPECT_FALSE(StepNote::classObject()->notificationWithURL("mvapi:promo", nullptr, std::nullopt,
                                                              std::nullopt, page));
}

TEST_F(NotificationWithWebviewTest, TheAbstractClassNeitherMovesNorHasSteps) {
    auto note = std::dynamic_pointer_cast<MVNotificationWithWebview>(
        MVNotificationWithWebview::classObject()->alloc());
    note->initNotitificationWithContent("<p/>", "not a url", nullptr, std::nullopt, std::nullopt,
                                        nullptr);
    note->webViewDidChangePageSize(*note->notificationWebView());
    EXPECT_TRUE(
        logged("MVNotificationWithWebview did not override webViewDidChangePageSize-method"));
    EXPECT_TRUE(note->mustBeQueued());
    EXPECT_EQ(MVNotificationWithWebview::classObject()->notificationType(), std::nullopt);
    expectRaise([&] { note->sequence(); }, platform::kInternalInconsistencyException,
                "MVNotificationWithWebview has no notification sequence");
    // The top edge at 20 points still covers the status-bar area.
    note->notificationWebView()->setFrame({0, 20, 10, 10});
    EXPECT_TRUE(note->isBelowStatusBar());
    note->notificationWebView()->setFrame({0, 20.5, 10, 10});
    EXPECT_FALSE(note->isBelowStatusBar());
}

TEST_F(NotificationWithWebviewTest, APageWithoutParametersLoadsAtOnceEvenWhileWaiting) {
    auto first = content("pushTop");
    controller->presentNotification(first);
    auto waiting = fromUrl("pushTop", "mvapi:promo", nullptr);
    ASSERT_TRUE(waiting->notificationWebView());
    EXPECT_EQ(waiting->notificationWebView()->frame(), platform::Rect(0, 0, 10, 10));
    controller->presentNotification(waiting);
    const double rFirst = renderTimeOf(*first);
    // The first starts 1.0 s after its page rendered.
    advanceTo(rFirst + 1 - kTick);
    EXPECT_EQ(first->currentNotificationStep(), std::nullopt);
    advanceTo(rFirst + 1);
    EXPECT_EQ(first->currentNotificationStep(), MVNotificationStepInit);
    // The waiting one, rendered meanwhile, starts as soon as the first has finished.
    const double rWaiting = renderTimeOf(*waiting);
    EXPECT_EQ(waiting->notificationWebView()->currentUrl(), "mvapi:promo");
    advanceTo(rWaiting + 3);
    EXPECT_EQ(waiting->currentNotificationStep(), std::nullopt);
    pageOf(*first)->askToClose();
    const double closed = StepNote::now();
    advanceTo(closed + kMove);
    EXPECT_EQ(waiting->currentNotificationStep(), MVNotificationStepInit);
    advanceTo(closed + kMove + kInit);
    EXPECT_TRUE(onOverlay(*waiting));
}

TEST_F(NotificationWithWebviewTest, APreloadedPageFromThePoolStartsInTheSameCheck) {
    auto& pool = MVWebViewCache::sharedCache();
    auto pooled = pool.cachedWebViewForUrl("mvapi:promo");
    ASSERT_GE(renderTimeOf(*pooled), 0);
    const json params = {{"title", "Sale"}};
    auto first = fromUrl("pushTop", "mvapi:promo", &params);
    auto second = fromUrl("pushTop", "mvapi:later", &params);
    EXPECT_EQ(first->notificationWebView(), nullptr);
    EXPECT_EQ(first->urlToOpenAsCachedWebView(), "mvapi:promo");
    controller->presentNotification(first);
    controller->presentNotification(second);

    EXPECT_EQ(first->notificationWebView(), pooled);
    EXPECT_EQ(pooled->debugName(), "<" + std::to_string(pooled->serialID()) + ":Notification>");
    EXPECT_EQ(pooled->delegate().get(), static_cast<MVWebViewDelegate*>(first.get()));
    EXPECT_EQ(first->urlToOpenAsCachedWebView(), std::nullopt);
    EXPECT_TRUE(first->isInjectedNotificationParams());
    ASSERT_FALSE(models->modelOf(*pooled)->events().empty());
    EXPECT_EQ(models->modelOf(*pooled)->events().back(),
              (HeadlessPageModel::ReceivedEvent{"updateTemplateContent", json::array({params})}));
    EXPECT_EQ(first->currentNotificationStep(), MVNotificationStepInit);
    const double presented = StepNote::now();
    advanceTo(presented + kInit - kTick);
    EXPECT_FALSE(onOverlay(*first));
    advanceTo(presented + kInit);
    EXPECT_TRUE(onOverlay(*first));
    // The one behind has not asked the pool yet.
    EXPECT_EQ(second->urlToOpenAsCachedWebView(), "mvapi:later");
    EXPECT_EQ(pool.pooledUrls(), std::vector<std::string>{"mvapi:promo"});
}

TEST_F(NotificationWithWebviewTest, APooledPageStillLoadingGetsItsDataOnceWhenItRendered) {
    cache->setPage("mv-api-page:fresh", "<p>fresh</p>", "https://shop.example/fresh");
    const json params = {{"n", 1}};
    auto note = fromUrl("topToBottom", "mvapi:fresh", &params);
    controller->presentNotification(note);
    ASSERT_TRUE(note->notificationWebView());
    EXPECT_TRUE(note->notificationWebView()->isLoading());
    EXPECT_FALSE(note->isRendered());
    const double r = renderTimeOf(*note);
    EXPECT_TRUE(note->isInjectedNotificationParams());
    advanceTo(r + 1 + kInit);
    EXPECT_TRUE(onOverlay(*note));
    auto names = eventNames(*note);
    EXPECT_EQ(std::count(names.begin(), names.end(), "updateTemplateContent"), 1);
}

TEST_F(NotificationWithWebviewTest, ThePageMayRunEveryCommandAndCloseOnlyItsOwnView) {
    auto note = content("pushTop");
    const auto command =
        *MVCommand::commandWithDictionary({{"c", "anything"}, {"p", json::object()}});
    auto other = MVWebView::create();
    EXPECT_EQ(note->webViewShouldPerformCommand(*other, command), true);
    EXPECT_EQ(note->navigationControllerForWebView(*other), nullptr);
    EXPECT_EQ(note->pageContextForSource("<p/>", "https://x/", false, {}), std::nullopt);
    EXPECT_EQ(note->notificationWebView()->delegate().get(),
              static_cast<MVWebViewDelegate*>(note.get()));

    controller->presentNotification(note);
    const double r = renderTimeOf(*note);
    advanceTo(r + 2);
    note->webViewDemandsCloseByCombat(*other);
    advanceTo(r + 3);
    EXPECT_TRUE(onOverlay(*note));
    pageOf(*note)->askToClose();
    EXPECT_EQ(note->currentNotificationStep(), MVNotificationStepCancel);
    advanceTo(r + 3 + kMove);
    EXPECT_FALSE(onOverlay(*note));
}

// A page that asks to close before its notification showed: it never shows, and the one
// behind it comes at once; once shown, it is dismissed at once instead of at its time-out.
TEST_F(NotificationWithWebviewTest, ACloseRequestBeforeItShowsMeansItNeverShows) {
    enum class Moment {
        WhileWaitingInTheQueue,
        FirstWaitingForItsStart,  // first and rendered: it starts 1.0 s later
        AsItsTurnComes,           // in the turn the one before it finished
        BeforeItsStartStep,       // Init has run, Start follows kInit later
        DuringTheMoveIn,
        WhileShown
    };
    const std::pair<Moment, const char*> rows[] = {
        {Moment::WhileWaitingInTheQueue, "while waiting in the queue"},
        {Moment::FirstWaitingForItsStart, "first, waiting for its start"},
        {Moment::AsItsTurnComes, "as its turn comes"},
        {Moment::BeforeItsStartStep, "before its Start step"},
        {Moment::DuringTheMoveIn, "during the move in"},
        {Moment::WhileShown, "while shown"},
    };
    for (const auto& [moment, name] : rows) {
        SCOPED_TRACE(name);
        const bool aloneAhead = moment == Moment::FirstWaitingForItsStart;
        auto first = content("pushTop", 3.0);
        auto closing = content("pushBottom", 30.0);
        auto last = content("centeredFade", 3.0);
        if (!aloneAhead) controller->presentNotification(first);
        controller->presentNotification(closing);
        controller->presentNotification(last);
        if (!aloneAhead) renderTimeOf(*first);
        const double r = renderTimeOf(*closing);
        renderTimeOf(*last);
        auto advanceUntil = [&](const std::function<bool()>& reached) {
            for (int i = 0; i < 20000 && !reached(); ++i) platform::advanceBy(0.001);
            ASSERT_TRUE(reached());
        };
        auto stepIs = [&](const char* step) {
            return [&closing, step] { return closing->currentNotificationStep() == step; };
        };
        switch (moment) {
            case Moment::WhileWaitingInTheQueue:
                advanceTo(r + 0.5);
                break;
            case Moment::FirstWaitingForItsStart:
                advanceTo(r + 0.5);
                break;
            case Moment::AsItsTurnComes:
                advanceUntil(
                    [&] { return first->currentNotificationStep() == MVNotificationStepFinished; });
                break;
            case Moment::BeforeItsStartStep:
                advanceUntil(stepIs(MVNotificationStepInit));
                advanceTo(StepNote::now() + kInit / 2);
                break;
            case Moment::DuringTheMoveIn:
                advanceUntil(stepIs(MVNotificationStepViewIsAppearing));
                advanceTo(StepNote::now() + kMove / 2);
                break;
            case Moment::WhileShown:
                advanceUntil(stepIs(MVNotificationStepViewDidAppear));
                advanceTo(StepNote::now() + 1);
                break;
        }
        const bool shown = moment >= Moment::DuringTheMoveIn;
        EXPECT_EQ(onOverlay(*closing), shown);
        pageOf(*closing)->askToClose();
        const double closed = StepNote::now();
        // The one behind it comes next, well before the closed one's 30 s: at once, or
        // after the move out of one that showed.
        advanceUntil([&] { return onOverlay(*last); });
        EXPECT_FALSE(onOverlay(*closing));
        EXPECT_LT(StepNote::now() - closed, 6);
        if (moment != Moment::WhileWaitingInTheQueue) {
            EXPECT_LE(StepNote::now() - closed, (shown ? kMove : 0) + kInit + 0.001);
        }
        advanceTo(StepNote::now() + 40);
        EXPECT_FALSE(onOverlay(*closing));
        EXPECT_TRUE(controller->notificationQueue().empty());
        EXPECT_EQ(controller->amountUserInteractionDisabled(), 0);
        const auto events = eventNames(*closing);
        for (const char* event : {"viewWillAppear", "viewWillDisappear", "viewDidDisappear"})
            EXPECT_EQ(std::count(events.begin(), events.end(), event), shown ? 1 : 0) << event;
    }
}

TEST_F(NotificationWithWebviewTest, ANotificationCoveringTheStatusBarDrivesItWhileFirst) {
    auto& application = platform::Application::shared();
    auto window = platform::Window::create(platform::Rect(0, 0, 375, 667));
    window->setRootViewController(controller);
    window->makeKeyAndVisible();
    MVStatusBarStyle::setStatusBarStyleAsAppDefault(*MVStatusBarStyle::statusBarStyleLight());
    ASSERT_EQ(application.statusBarStyle(), platform::StatusBarStyle::LightContent);

    struct Case {
        const char* type;
        double pageHeight;
        double restingY;
        platform::StatusBarStyle whileShown;
    };
    const Case cases[] = {
        {"pushTop", 80, 0, platform::StatusBarStyle::Default},
        {"centeredFade", 625, 21, platform::StatusBarStyle::LightContent},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.type);
        pageSettings.height = c.pageHeight;
        auto note = content(c.type);
        controller->presentNotification(note);
        const double r = renderTimeOf(*note);
        advanceTo(r + 2);
        ASSERT_EQ(note->notificationWebView()->frame().origin.y, c.restingY);
        pageOf(*note)->chooseStatusBarStyle("dark");
        EXPECT_EQ(application.statusBarStyle(), c.whileShown);
        pageOf(*note)->askToClose();
        advanceTo(r + 3);
        EXPECT_TRUE(controller->notificationQueue().empty());
        EXPECT_EQ(application.statusBarStyle(), platform::StatusBarStyle::LightContent);
    }
    window->setHidden(true);
}

// A page that fails to load used to hold up every notification behind it until the next
// boot command; it is dropped when its turn comes. (An empty URL fails to load.)
TEST_F(NotificationWithWebviewTest, ANotificationWhosePageFailsIsDroppedInItsTurn) {
    const json params = {{"n", 1}};
    auto first = content("pushTop");
    auto failingWhileWaiting = fromUrl("centeredFade", "", nullptr);
    auto failingWhenTaken = fromUrl("leftToRight", "", &params);
    auto last = content("pushBottom");
    for (const auto& note : std::vector<std::shared_ptr<MVNotificationWithWebview>>{
             first, failingWhileWaiting, failingWhenTaken, last})
        controller->presentNotification(note);
    const double r = renderTimeOf(*first);
    renderTimeOf(*last);
    advanceTo(r + 2);
    EXPECT_TRUE(logged("MVNotificationCenteredFade with MVWebView<"));
    EXPECT_TRUE(logged("> could not load its page and will be dropped"));
    EXPECT_EQ(controller->notificationQueue().size(), 4u);

    pageOf(*first)->askToClose();
    advanceTo(r + 3);
    EXPECT_TRUE(logged("MVNotificationLeftToRight with MVWebView<"));
    ASSERT_EQ(controller->notificationQueue().size(), 1u);
    EXPECT_EQ(controller->notificationQueue()[0], last);
    EXPECT_TRUE(onOverlay(*last));
    EXPECT_FALSE(controller->contentContainerView()->isUserInteractionEnabled());
    EXPECT_EQ(controller->amountUserInteractionDisabled(), 1);
}

// A page that neither fails nor reports onload used to hold the queue and the content's
// touches until the next boot command.
TEST_F(NotificationWithWebviewTest, ANotificationWhosePageNeverRendersIsDroppedAfterTheBound) {
    auto silent = content("pushTop");
    auto next = content("pushBottom");
    controller->presentNotification(silent);
    controller->presentNotification(next);
    const double started = StepNote::now();
    EXPECT_FALSE(controller->contentContainerView()->isUserInteractionEnabled());
    advanceTo(started + MVNotificationWithWebview::kRenderBound - 0.1);
    EXPECT_EQ(controller->notificationQueue().size(), 2u);
    EXPECT_FALSE(logged("did not render its page"));

    advanceTo(started + MVNotificationWithWebview::kRenderBound + 0.1);
    EXPECT_TRUE(logged("MVNotificationPushTop with MVWebView<"));
    EXPECT_TRUE(logged("> did not render its page within 20 s and will be dropped"));
    ASSERT_EQ(controller->notificationQueue().size(), 1u);
    EXPECT_EQ(controller->notificationQueue()[0], next);
    EXPECT_FALSE(onOverlay(*silent));
    // The next one shows; once it is gone, touches come back.
    const double r = renderTimeOf(*next);
    advanceTo(r + 2);
    EXPECT_TRUE(onOverlay(*next));
    pageOf(*next)->askToClose();
    advanceTo(r + 4);
    EXPECT_TRUE(controller->notificationQueue().empty());
    EXPECT_TRUE(controller->contentContainerView()->isUserInteractionEnabled());
    EXPECT_EQ(controller->amountUserInteractionDisabled(), 0);
}

TEST_F(NotificationWithWebviewTest, TheQueueHoldsABoundedNumberOfNotifications) {
    const size_t bound = MVNotificationController::kMaximumQueuedNotifications;
    std::vector<std::weak_ptr<MVNotificationWithWebview>> dropped;
    for (size_t i = 0; i < bound + 3; ++i) {
        auto note = content("pushTop");
        controller->presentNotification(note);
        if (i >= bound) dropped.push_back(note);
    }
    EXPECT_EQ(controller->notificationQueue().size(), bound);
    EXPECT_EQ(loggedLevel("MVNotificationController holds 16 queued notifications and drops "
                          "MVNotificationPushTop"),
              platform::log::kWarning);
    // Nothing keeps the dropped ones and their web views.
    platform::runUntilIdle();
    for (const auto& note : dropped) EXPECT_TRUE(note.expired());
}

}  // namespace
