#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <stdexcept>
#include <string>
#include <vector>

#include "platform/foundation/Exception.h"
#include "platform/ui/Animation.h"
#include "platform/ui/NavigationController.h"
#include "platform/ui/View.h"
#include "platform/ui/Window.h"
#include "tests/support/AppearanceSequence.h"
#include "tests/support/PlatformTest.h"

using namespace platform;

namespace {

using Log = std::vector<std::string>;
using Controllers = std::vector<std::shared_ptr<ViewController>>;

std::string suffix(bool animated) {
    return animated ? " animated" : "";
}

class Page : public ViewController {
  public:
    static std::shared_ptr<Page> create(std::string name, Log* log) {
        auto p = std::shared_ptr<Page>(new Page());
        p->setTitle(std::move(name));
        p->log_ = log;
        return p;
    }
    void viewWillAppear(bool a) override { log_->push_back(title() + " willAppear" + suffix(a)); }
    void viewDidAppear(bool a) override { log_->push_back(title() + " didAppear" + suffix(a)); }
    void viewWillDisappear(bool a) override {
        log_->push_back(title() + " willDisappear" + suffix(a));
    }
    void viewDidDisappear(bool a) override {
        log_->push_back(title() + " didDisappear" + suffix(a));
    }

  private:
    Log* log_ = nullptr;
};

class NavigationDelegate : public NavigationControllerDelegate {
  public:
    explicit NavigationDelegate(Log* log) : log_(log) {}
    void willShow(NavigationController& nav, ViewController& c, bool a) override {
        log_->push_back("willShow " + c.title() + suffix(a));
        if (onWillShow) onWillShow(nav);
    }
    void didShow(NavigationController&, ViewController& c, bool a) override {
        log_->push_back("didShow " + c.title() + suffix(a));
    }
    std::function<void(NavigationController&)> onWillShow;

  private:
    Log* log_;
};

// A subclass routing pop, as the library's stack does.
class RoutingNavigation : public NavigationController {
  public:
    static std::shared_ptr<RoutingNavigation> create() {
        return std::shared_ptr<RoutingNavigation>(new RoutingNavigation());
    }
    std::shared_ptr<ViewController> pop(bool animated) override {
        stateSeenByPop.push_back(interactivePopGestureRecognizer()->state());
        if (throwsBefore) throw Exception(kInternalInconsistencyException, "no pop\nnow");
        auto popped = NavigationController::pop(animated);
        if (throwsAfter) throw std::runtime_error("popped, then failed");
        return popped;
    }
    std::vector<GestureRecognizerState> stateSeenByPop;
    bool throwsBefore = false, throwsAfter = false;
};

class NavigationControllerTest : public PlatformTest {
  protected:
    void SetUp() override {
        PlatformTest::SetUp();
        window->makeKeyAndVisible();
    }
    void TearDown() override {
        runUntilIdle();
        PlatformTest::TearDown();
    }
    // `nav` as the window's root with [A] shown and settled.
    void show(const std::shared_ptr<NavigationController>& nav) {
        nav->setDelegate(delegate);
        nav->setViewControllers({a}, false);
        window->setRootViewController(nav);
        runUntilIdle();
        log.clear();
    }

    Log log;
    std::shared_ptr<Window> window = Window::create(Rect(0, 0, 320, 480));
    std::shared_ptr<NavigationDelegate> delegate = std::make_shared<NavigationDelegate>(&log);
    std::shared_ptr<Page> a = Page::create("A", &log), b = Page::create("B", &log),
                          c = Page::create("C", &log);
};

}  // namespace

TEST_F(NavigationControllerTest, AnAnimatedPushTellsWillsInTheCallAndDidsWhenItEnds) {
    auto nav = NavigationController::create();
    show(nav);
    nav->push(b, true);
    EXPECT_EQ(nav->viewControllers(), (Controllers{a, b}));
    EXPECT_EQ(nav->topViewController(), b);
    EXPECT_EQ(b->parentViewController(), nav);
    EXPECT_EQ(log,
              (Log{"willShow B animated", "B willAppear animated", "A willDisappear animated"}));
    ASSERT_NE(b->transitionCoordinator(), nullptr);
    EXPECT_TRUE(b->transitionCoordinator()->isAnimated());
    EXPECT_FALSE(b->transitionCoordinator()->isInteractive());

    EXPECT_TRUE(nav->isTransitioning());
    advanceBy(0.3);
    EXPECT_EQ(log.size(), 3u);
    advanceBy(0.05);
    EXPECT_FALSE(nav->isTransitioning());
    EXPECT_EQ(log, (Log{"willShow B animated", "B willAppear animated", "A willDisappear animated",
                        "B didAppear animated", "A didDisappear animated", "didShow B animated"}));
    EXPECT_EQ(nav->transitionCoordinator(), nullptr);
    EXPECT_EQ(b->view()->superview(), nav->view());
    EXPECT_EQ(a->view()->superview(), nullptr);

    // Unanimated: didShow at the next turn, never inside the call.
    log.clear();
    EXPECT_EQ(nav->pop(false), b);
    EXPECT_EQ(log, (Log{"willShow A", "A willAppear", "B willDisappear"}));
    runUntilIdle();
    EXPECT_EQ(log.back(), "didShow A");
    EXPECT_EQ(nav->transitionViolationsForTesting(), 0);
}

TEST_F(NavigationControllerTest, OffWindowAndEmptyStacksTellNobody) {
    auto nav = NavigationController::create(a);
    nav->setDelegate(delegate);
    nav->view();
    nav->push(b, true);
    EXPECT_FALSE(nav->isTransitioning());
    runUntilIdle();
    EXPECT_TRUE(log.empty());
    EXPECT_EQ(b->view()->superview(), nav->view());
    EXPECT_EQ(a->view()->superview(), nullptr);

    window->setRootViewController(nav);
    nav->setViewControllers({}, true);
    EXPECT_FALSE(nav->isTransitioning());
    runUntilIdle();
    EXPECT_EQ(log, (Log{"B willAppear", "B didAppear", "B willDisappear", "B didDisappear"}))
        << "the window's root appears; the emptied stack only lets B go";
    EXPECT_EQ(nav->topViewController(), nullptr);
    EXPECT_EQ(b->parentViewController(), nullptr);
}

TEST_F(NavigationControllerTest, EditsDuringATransitionAreCarriedOutCountedAndShownAfterIt) {
    auto nav = NavigationController::create();
    show(nav);
    nav->push(b, true);
    advanceBy(0.1);
    nav->push(c, true);
    EXPECT_EQ(nav->viewControllers(), (Controllers{a, b, c}));
    EXPECT_EQ(nav->transitionViolationsForTesting(), 1);
    EXPECT_TRUE(logged("changed during a transition"));
    EXPECT_EQ(log.size(), 3u) << "C is shown only when B's transition ends";

    advanceBy(0.25);
    EXPECT_EQ(log,
              (Log{"willShow B animated", "B willAppear animated", "A willDisappear animated",
                   "B didAppear animated", "A didDisappear animated", "didShow B animated",
                   "willShow C animated", "C willAppear animated", "B willDisappear animated"}));
    advanceBy(0.35);
    EXPECT_EQ(log.back(), "didShow C animated");
    EXPECT_EQ(nav->transitionViolationsForTesting(), 1);
}

TEST_F(NavigationControllerTest, AnEditFromWillShowRunsAfterTheCallbackReturns) {
    auto nav = NavigationController::create();
    show(nav);
    Controllers seenAfterPush;
    delegate->onWillShow = [&](NavigationController& n) {
        if (n.topViewController() != b) return;
        n.push(c, false);
        n.push(c, false);  // still valid when asked, a duplicate when carried out
        seenAfterPush = n.viewControllers();
    };
    nav->push(b, false);
    EXPECT_EQ(seenAfterPush, (Controllers{a, b})) << "not inside the bookkeeping";
    EXPECT_EQ(nav->viewControllers(), (Controllers{a, b, c}));
    EXPECT_EQ(nav->transitionViolationsForTesting(), 1);
    EXPECT_TRUE(logged("A deferred navigation stack edit failed"));
    runUntilIdle();
    EXPECT_EQ(log.back(), "didShow C");
}

TEST_F(NavigationControllerTest, MisuseRaisesOrIsLogged) {
    auto nav = NavigationController::create(a);
    nav->push(b, false);
    auto stranger = Page::create("X", &log);
    auto raises = [](const std::function<void()>& f) {
        try {
            f();
        } catch (const Exception& e) {
            return e.name();
        }
        return std::string("nothing");
    };
    EXPECT_EQ(raises([&] { nav->popTo(stranger, true); }), kInvalidArgumentException);
    EXPECT_EQ(raises([&] { nav->popTo(nullptr, true); }), kInvalidArgumentException);
    EXPECT_EQ(raises([&] { nav->push(a, true); }), kInvalidArgumentException);
    EXPECT_EQ(raises([&] {
                  nav->setViewControllers({a, c, a}, false);
              }),
              kInvalidArgumentException);
    nav->push(nullptr, true);
    EXPECT_TRUE(logged("Pushing a missing view controller ignored"));
    nav->setViewControllers({a, nullptr, b, c}, false);
    EXPECT_EQ(nav->viewControllers(), (Controllers{a, b, c}));
    EXPECT_EQ(nav->popTo(b, false), (Controllers{c}));
    EXPECT_EQ(nav->popToRoot(false), (Controllers{b}));
    EXPECT_EQ(nav->pop(false), nullptr);
    EXPECT_EQ(nav->viewControllers(), (Controllers{a}));
}

TEST_F(NavigationControllerTest, TheInteractivePopCompletesOrComesBack) {
    struct Row {
        double moveBy;
        double velocity;
        bool cancelled;
    };
    for (const Row& row : {Row{200, -50, false}, Row{100, 30, false}, Row{100, -30, true}}) {
        auto nav = RoutingNavigation::create();
        show(nav);
        nav->push(b, false);
        runUntilIdle();
        log.clear();
        auto pan = nav->interactivePopGestureRecognizer();
        ASSERT_EQ(pan->view(), nav->view());

        std::vector<bool> ends;
        delegate->onWillShow = [&](NavigationController& n) {
            n.topViewController()->transitionCoordinator()->notifyWhenInteractionEnds(
                [&](bool isCancelled) { ends.push_back(isCancelled); });
        };
        pan->begin({5, 200}, {300, 0});
        EXPECT_EQ(nav->stateSeenByPop, (std::vector{GestureRecognizerState::Began}));
        EXPECT_EQ(nav->viewControllers(), (Controllers{a}));
        EXPECT_EQ(
            log, (Log{"willShow A animated", "A willAppear animated", "B willDisappear animated"}));
        EXPECT_TRUE(nav->transitionCoordinator()->isInteractive());

        pan->move({row.moveBy, 0}, Point{row.velocity, 0});
        pan->end();
        EXPECT_EQ(ends, std::vector<bool>{row.cancelled});
        delegate->onWillShow = nullptr;
        advanceBy(kNavigationTransitionDuration);
        if (row.cancelled) {
            EXPECT_EQ(nav->viewControllers(), (Controllers{a, b}));
            EXPECT_EQ(log, (Log{"willShow A animated", "A willAppear animated",
                                "B willDisappear animated", "A willDisappear animated",
                                "B willAppear animated", "B didAppear animated",
                                "A didDisappear animated"}));
            EXPECT_EQ(b->view()->superview(), nav->view());
        } else {
            EXPECT_EQ(nav->viewControllers(), (Controllers{a}));
            EXPECT_EQ(log.back(), "didShow A animated");
            EXPECT_EQ(a->view()->superview(), nav->view());
            EXPECT_EQ(b->view()->superview(), nullptr);
        }
        log.clear();
    }
}

TEST_F(NavigationControllerTest, APopThatThrowsCancelsTheGestureAndTheNextOneStarts) {
    for (const bool afterPopping : {false, true}) {
        SCOPED_TRACE(afterPopping ? "thrown after popping" : "thrown before popping");
        auto nav = RoutingNavigation::create();
        show(nav);
        nav->push(b, false);
        runUntilIdle();
        auto pan = nav->interactivePopGestureRecognizer();
        std::vector<GestureRecognizerState> sent;
        pan->addAction([&](GestureRecognizer& g) { sent.push_back(g.state()); });
        (afterPopping ? nav->throwsAfter : nav->throwsBefore) = true;

        EXPECT_NO_THROW(pan->begin({5, 200}));
        EXPECT_EQ(pan->state(), GestureRecognizerState::Cancelled);
        EXPECT_EQ(sent, std::vector{GestureRecognizerState::Cancelled}) << "once, not Began after";
        EXPECT_TRUE(logged("The interactive pop failed: "));
        advanceBy(kNavigationTransitionDuration);
        EXPECT_EQ(nav->viewControllers(), (Controllers{a, b}));
        EXPECT_EQ(nav->topViewController()->view()->superview(), nav->view());

        nav->throwsBefore = nav->throwsAfter = false;
        pan->begin({5, 200});
        EXPECT_EQ(pan->state(), GestureRecognizerState::Began);
        EXPECT_EQ(nav->viewControllers(), (Controllers{a}));
        pan->move({200, 0}, Point{100, 0});
        pan->end();
        advanceBy(kNavigationTransitionDuration);
        EXPECT_EQ(nav->viewControllers(), (Controllers{a}));
        log.clear();
    }
}

TEST_F(NavigationControllerTest, ThePopGestureWaitsForTwoControllersAndTheBarHides) {
    auto nav = NavigationController::create();
    show(nav);
    auto pan = nav->interactivePopGestureRecognizer();
    pan->begin({5, 200});
    EXPECT_EQ(pan->state(), GestureRecognizerState::Failed) << "one controller: nothing to pop";

    const auto bar = nav->navigationBar();
    EXPECT_EQ(bar->frame(), Rect(0, 20, 320, 44));
    clearAnimationLog();
    nav->setNavigationBarHidden(true, true);
    EXPECT_TRUE(nav->isNavigationBarHidden());
    ASSERT_EQ(animationLog().size(), 1u);
    EXPECT_EQ(animationLog()[0].duration, kNavigationControllerHideShowBarDuration);
    EXPECT_FALSE(bar->isHidden());
    advanceBy(0.2);
    EXPECT_TRUE(bar->isHidden());
    nav->setNavigationBarHidden(false, false);
    EXPECT_FALSE(bar->isHidden());
    EXPECT_EQ(bar->frame(), Rect(0, 20, 320, 44));
}

// What a pop, a pop to the root or a new list takes off the stack is released when its
// transition has ended (or at once off-window), not kept for the next push.
TEST_F(NavigationControllerTest, WhatLeavesTheStackIsReleasedWhenTheTransitionEnds) {
    enum class Edit { Pop, PopToRoot, PopTo, KeepTopOnly };
    struct Row {
        Edit edit;
        bool animated;
        bool inWindow;
    };
    for (const auto edit : {Edit::Pop, Edit::PopToRoot, Edit::PopTo, Edit::KeepTopOnly})
        for (const bool animated : {true, false})
            for (const bool inWindow : {true, false}) {
                const Row row{edit, animated, inWindow};
                SCOPED_TRACE(testing::Message() << "edit " << int(row.edit) << " animated "
                                                << row.animated << " in window " << row.inWindow);
                auto nav = NavigationController::create();
                auto root = Page::create("R", &log);
                auto middle = Page::create("M", &log);
                auto top = Page::create("T", &log);
                nav->setViewControllers({root, middle, top}, false);
                if (row.inWindow)
                    window->setRootViewController(nav);
                else
                    nav->view();
                advanceBy(1);
                std::vector<std::weak_ptr<ViewController>> leaving;
                switch (row.edit) {
                    case Edit::Pop:
                        leaving = {top};
                        nav->pop(row.animated);
                        break;
                    case Edit::PopToRoot:
                        leaving = {middle, top};
                        nav->popToRoot(row.animated);
                        break;
                    case Edit::PopTo:
                        leaving = {top};
                        nav->popTo(middle, row.animated);
                        break;
                    case Edit::KeepTopOnly:  // as a flush does
                        leaving = {root, middle};
                        nav->setViewControllers({top}, row.animated);
                        break;
                }
                middle.reset();
                top.reset();
                if (row.edit == Edit::KeepTopOnly) root.reset();
                advanceBy(kNavigationTransitionDuration);
                EXPECT_FALSE(nav->isTransitioning());
                for (const auto& page : leaving) EXPECT_TRUE(page.expired());
                window->setRootViewController(nullptr);
                log.clear();
            }
}

// The stack leaves its window and comes back while a push or pop moves: every
// controller's events balance, and the one shown at the end hears viewDidAppear last.
TEST_F(NavigationControllerTest, LeavingTheWindowAndComingBackDuringATransitionBalances) {
    enum class Edit { Push, Pop, PopToRoot };
    enum class Away { ViewRemoved, WindowHidden };
    for (const auto edit : {Edit::Push, Edit::Pop, Edit::PopToRoot})
        for (const auto away : {Away::ViewRemoved, Away::WindowHidden})
            for (const double leaveAt : {0.0, 0.05, 0.4})
                for (const double backAfter : {0.0, 0.05, 0.4}) {
                    SCOPED_TRACE(testing::Message()
                                 << "edit " << int(edit) << " away " << int(away) << " at "
                                 << leaveAt << " back after " << backAfter);
                    auto holder = ViewController::create();
                    window->setRootViewController(holder);
                    auto nav = NavigationController::create();
                    nav->setViewControllers(
                        edit == Edit::Push ? Controllers{a, b} : Controllers{a, b, c}, false);
                    holder->addChildViewController(nav);
                    holder->view()->addSubview(nav->view());
                    advanceBy(1);
                    log.clear();
                    std::shared_ptr<ViewController> shown;
                    switch (edit) {
                        case Edit::Push:
                            nav->push(c, true);
                            shown = c;
                            break;
                        case Edit::Pop:
                            nav->pop(true);
                            shown = b;
                            break;
                        case Edit::PopToRoot:
                            nav->popToRoot(true);
                            shown = a;
                            break;
                    }
                    advanceBy(leaveAt);
                    if (away == Away::ViewRemoved)
                        nav->view()->removeFromSuperview();
                    else
                        window->setHidden(true);
                    advanceBy(backAfter);
                    if (away == Away::ViewRemoved)
                        holder->view()->addSubview(nav->view());
                    else
                        window->setHidden(false);
                    advanceBy(1);

                    for (const auto& page : {a, b, c}) {
                        Log heard;
                        for (const auto& line : log)
                            if (line.rfind(page->title() + " ", 0) == 0)
                                heard.push_back(line.substr(2, line.find(' ', 2) - 2));
                        const bool shownBefore = page == (edit == Edit::Push ? b : c);
                        EXPECT_EQ(appearanceAfter(heard, shownBefore ? "appeared" : "disappeared"),
                                  page == shown ? "appeared" : "disappeared")
                            << page->title();
                    }
                    EXPECT_EQ(shown->appearanceState(), ViewController::AppearanceState::Appeared);
                    const auto lastDid = std::find_if(log.rbegin(), log.rend(), [](auto& line) {
                        return line.find(" didAppear") != std::string::npos;
                    });
                    ASSERT_NE(lastDid, log.rend());
                    EXPECT_EQ(lastDid->substr(0, lastDid->find(' ')), shown->title());
                    for (const auto& page : {a, b, c}) {
                        if (page != shown) {
                            EXPECT_EQ(page->appearanceState(),
                                      ViewController::AppearanceState::Disappeared);
                        }
                    }
                    window->setRootViewController(nullptr);
                    nav->setViewControllers({}, false);
                    advanceBy(1);
                    log.clear();
                }
}
