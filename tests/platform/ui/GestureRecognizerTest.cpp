#include <fmt/format.h>
#include <gtest/gtest.h>

#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "platform/ui/Control.h"
#include "platform/ui/GestureRecognizer.h"
#include "platform/ui/Window.h"
#include "tests/support/PlatformTest.h"

using namespace platform;

namespace {

using States = std::vector<GestureRecognizerState>;

class Delegate : public GestureRecognizerDelegate {
  public:
    std::optional<bool> shouldBegin(GestureRecognizer& g) override {
        seenLocation = g.locationInView(nullptr);
        return begins;
    }
    std::optional<bool> shouldRecognizeSimultaneously(GestureRecognizer&,
                                                      GestureRecognizer&) override {
        return together;
    }
    std::optional<bool> begins;
    std::optional<bool> together;
    Point seenLocation;
};

class GestureRecognizerTest : public PlatformTest {
  protected:
    void SetUp() override {
        PlatformTest::SetUp();
        window = Window::create(Rect(0, 0, 320, 480));
        window->makeKeyAndVisible();
        view = View::create(Rect(0, 0, 320, 480));
        window->addSubview(view);
    }
    // A pan on `on` that records every state it sends.
    std::shared_ptr<PanGestureRecognizer> pan(const std::shared_ptr<View>& on, States& seen) {
        auto p = PanGestureRecognizer::create();
        p->addAction([&seen](GestureRecognizer& g) { seen.push_back(g.state()); });
        on->addGestureRecognizer(p);
        return p;
    }
    std::shared_ptr<Window> window;
    std::shared_ptr<View> view;
};

}  // namespace

TEST_F(GestureRecognizerTest, APanBeginsMovesAndEndsAsItsDelegateAllows) {
    struct Row {
        std::optional<bool> answer;
        GestureRecognizerState afterBegin;
    };
    for (const Row& row : {Row{true, GestureRecognizerState::Began},
                           Row{std::nullopt, GestureRecognizerState::Began},  // unanswered
                           Row{false, GestureRecognizerState::Failed}}) {
        auto delegate = std::make_shared<Delegate>();
        delegate->begins = row.answer;
        auto p = PanGestureRecognizer::create();
        p->setDelegate(delegate);
        std::vector<std::string> seen;
        p->addAction([&](GestureRecognizer& g) {
            auto& pg = static_cast<PanGestureRecognizer&>(g);
            const Point l = g.locationInView(view.get()), v = pg.velocityInView(view.get()),
                        t = pg.translationInView(view.get());
            seen.push_back(fmt::format("{} at {},{} v {},{} t {},{}", toString(g.state()), l.x, l.y,
                                       v.x, v.y, t.x, t.y));
        });
        view->addGestureRecognizer(p);

        p->begin({10, 100}, {400, 20});
        EXPECT_EQ(p->state(), row.afterBegin);
        EXPECT_EQ(delegate->seenLocation, (Point{10, 100})) << "asked with the touch in place";
        p->move({30, 0});
        p->end();
        if (row.afterBegin == GestureRecognizerState::Failed) {
            EXPECT_TRUE(seen.empty());
        } else {
            EXPECT_EQ(seen, (std::vector<std::string>{"Began at 10,100 v 400,20 t 0,0",
                                                      "Changed at 40,100 v 400,20 t 30,0",
                                                      "Ended at 40,100 v 400,20 t 30,0"}));
        }
        runUntilIdle();
        EXPECT_EQ(p->state(), GestureRecognizerState::Possible);
        view->removeGestureRecognizer(p);
    }
}

TEST_F(GestureRecognizerTest, DisablingMidGestureCancelsOnceAndLetsTheDependantBegin) {
    States first, second, third;
    auto p = pan(view, first);
    auto dependant = pan(view, second);
    dependant->requireToFail(p);
    auto other = pan(view, third);
    other->requireToFail(p);

    p->begin({10, 100});
    p->move({5, 0});
    dependant->begin({50, 50});
    EXPECT_EQ(dependant->state(), GestureRecognizerState::Possible) << "waits for the pan";
    EXPECT_TRUE(second.empty());

    p->setEnabled(false);
    EXPECT_EQ(first, (States{GestureRecognizerState::Began, GestureRecognizerState::Changed,
                             GestureRecognizerState::Cancelled}));
    EXPECT_EQ(p->state(), GestureRecognizerState::Possible);
    EXPECT_EQ(second, (States{GestureRecognizerState::Began}));
    p->end();  // the finger lifts: nothing more for the disabled pan
    p->begin({10, 100});
    EXPECT_EQ(first.size(), 3u);
    EXPECT_TRUE(logged("disabled gesture recognizer gets no touches"));

    // A required pan that ends makes the waiting one fail.
    p->setEnabled(true);
    dependant->end();
    runUntilIdle();
    p->begin({10, 100});
    other->begin({20, 20});
    p->end();
    EXPECT_EQ(other->state(), GestureRecognizerState::Failed);
    EXPECT_TRUE(third.empty());
}

TEST_F(GestureRecognizerTest, ARunningGestureHoldsOffAnotherUnlessADelegateAllowsBoth) {
    auto inner = View::create(Rect(0, 0, 100, 100));
    view->addSubview(inner);
    States outerSeen, innerSeen;
    auto outer = pan(view, outerSeen);
    auto delegate = std::make_shared<Delegate>();
    auto innerPan = pan(inner, innerSeen);
    innerPan->setDelegate(delegate);

    outer->begin({10, 10});
    innerPan->begin({10, 10});
    EXPECT_EQ(innerPan->state(), GestureRecognizerState::Failed);
    runUntilIdle();
    delegate->together = true;
    innerPan->begin({10, 10});
    EXPECT_EQ(innerPan->state(), GestureRecognizerState::Began);

    // Removing a recognizer in flight cancels it; adding it twice, or null, is logged.
    inner->removeGestureRecognizer(innerPan);
    EXPECT_EQ(innerSeen.back(), GestureRecognizerState::Cancelled);
    EXPECT_EQ(innerPan->view(), nullptr);
    view->addGestureRecognizer(outer);
    view->addGestureRecognizer(nullptr);
    outer->requireToFail(outer);
    EXPECT_EQ(view->gestureRecognizers().size(), 1u);
    EXPECT_TRUE(logged("added twice"));
    EXPECT_TRUE(logged("cannot wait for itself"));
    // Moving a recognizer to another view takes it from the first.
    inner->addGestureRecognizer(outer);
    EXPECT_TRUE(view->gestureRecognizers().empty());
    EXPECT_EQ(outerSeen.back(), GestureRecognizerState::Cancelled);
}

TEST_F(GestureRecognizerTest, AScreenEdgePanBeginsOnlyAtItsEdges) {
    auto edge = ScreenEdgePanGestureRecognizer::create(kRectEdgeLeft | kRectEdgeRight);
    view->addGestureRecognizer(edge);
    for (auto [x, begins] :
         {std::pair{5.0, true}, {20.0, true}, {21.0, false}, {310.0, true}, {160.0, false}}) {
        edge->begin({x, 200});
        EXPECT_EQ(edge->state() == GestureRecognizerState::Began, begins) << x;
        edge->cancel();
        runUntilIdle();
    }
}

TEST_F(GestureRecognizerTest, SendTapOffersTheTapToRecognizersBeforeTheTouches) {
    auto button = Control::create(Rect(0, 0, 100, 100));
    view->addSubview(button);
    std::vector<std::string> events;
    for (auto [event, name] : {std::pair{kControlEventTouchDown, "down"},
                               {kControlEventTouchUpInside, "up"},
                               {kControlEventTouchCancel, "cancel"}})
        button->addAction(event, [&events, name = name](Control&) { events.push_back(name); });
    auto tap = TapGestureRecognizer::create();
    auto delegate = std::make_shared<Delegate>();
    tap->setDelegate(delegate);
    tap->addAction(
        [&](GestureRecognizer& g) { events.push_back(std::string("tap ") + toString(g.state())); });
    view->addGestureRecognizer(tap);

    EXPECT_EQ(window->sendTap({50, 50}), button);
    EXPECT_EQ(events, (std::vector<std::string>{"tap Ended", "down", "cancel"}));

    events.clear();
    runUntilIdle();
    tap->setCancelsTouchesInView(false);
    window->sendTap({50, 50});
    EXPECT_EQ(events, (std::vector<std::string>{"tap Ended", "down", "up"}));

    events.clear();
    runUntilIdle();
    delegate->begins = false;
    window->sendTap({50, 50});
    EXPECT_EQ(events, (std::vector<std::string>{"down", "up"}));
    EXPECT_EQ(tap->state(), GestureRecognizerState::Failed);
}

TEST_F(GestureRecognizerTest, ARecognizerItsDelegateDisablesOrDetachesWhileDecidingFails) {
    // Meddles from the delegate call-out it is asked in, then lets the pan begin.
    class Meddler : public GestureRecognizerDelegate {
      public:
        std::optional<bool> shouldBegin(GestureRecognizer& g) override {
            if (!whenTogether) meddle(g);
            return true;
        }
        std::optional<bool> shouldRecognizeSimultaneously(GestureRecognizer& g,
                                                          GestureRecognizer&) override {
            if (whenTogether) meddle(g);
            return true;
        }
        bool whenTogether = false;
        std::function<void(GestureRecognizer&)> meddle;
    };
    for (const bool whenTogether : {false, true}) {
        for (const bool disables : {true, false}) {
            SCOPED_TRACE(::testing::Message()
                         << "together " << whenTogether << " disables " << disables);
            States seen, othersSeen;
            auto p = pan(view, seen);
            auto other = pan(view, othersSeen);
            if (whenTogether) other->begin({100, 100});
            auto meddler = std::make_shared<Meddler>();
            meddler->whenTogether = whenTogether;
            meddler->meddle = [&](GestureRecognizer& g) {
                if (disables)
                    g.setEnabled(false);
                else
                    view->removeGestureRecognizer(p);
            };
            p->setDelegate(meddler);

            p->begin({10, 100});
            EXPECT_EQ(p->state(), GestureRecognizerState::Failed);
            p->move({30, 0});
            p->end();
            EXPECT_TRUE(seen.empty()) << "no state sent while disabled or without a view";
            runUntilIdle();
            EXPECT_EQ(p->state(), GestureRecognizerState::Possible);
            other->cancel();
            view->removeGestureRecognizer(p);
            view->removeGestureRecognizer(other);
            runUntilIdle();
        }
    }
}

TEST_F(GestureRecognizerTest, AGestureWhoseViewIsGoneEndsCancelledAtTheNextTouch) {
    auto inner = View::create(Rect(0, 0, 100, 100));
    view->addSubview(inner);
    States seen;
    auto p = pan(inner, seen);
    p->begin({10, 10});
    inner->removeFromSuperview();
    inner.reset();  // the view holding the pan is gone; the pan lives on here
    ASSERT_EQ(p->view(), nullptr);
    p->move({5, 0});
    p->end();
    EXPECT_EQ(seen, (States{GestureRecognizerState::Began, GestureRecognizerState::Cancelled}));
    EXPECT_EQ(p->state(), GestureRecognizerState::Possible);
}

TEST_F(GestureRecognizerTest, ARecognizerWaitingForOneThatHasJustEndedFails) {
    States requiredSeen, seen;
    auto required = pan(view, requiredSeen);
    auto dependant = pan(view, seen);
    dependant->requireToFail(required);
    required->begin({10, 100});
    required->end();
    ASSERT_EQ(required->state(), GestureRecognizerState::Ended);
    dependant->begin({50, 50});
    EXPECT_EQ(dependant->state(), GestureRecognizerState::Failed);
    EXPECT_TRUE(seen.empty());
    // Once the ended gesture is reset, the next one begins.
    runUntilIdle();
    dependant->begin({50, 50});
    EXPECT_EQ(seen, (States{GestureRecognizerState::Began}));
}
