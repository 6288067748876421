#include <gtest/gtest.h>

#include <optional>
#include <vector>

#include "platform/foundation/Clock.h"
#include "platform/ui/Layer.h"
#include "platform/ui/View.h"
#include "tests/support/PlatformTest.h"

using namespace platform;

namespace {

class AnimationTest : public PlatformTest {
  protected:
    // Changes that move the view's center sideways.
    std::function<void()> moveTo(double x) {
        return [this, x] { view->setCenter({x, 50}); };
    }
    std::shared_ptr<View> view = View::create(Rect(0, 0, 100, 100));
};

// Records the finished flags a completion receives, and when.
struct Completion {
    std::vector<bool> flags;
    std::vector<int64_t> times;
    std::function<void(bool)> fn() {
        return [this](bool finished) {
            flags.push_back(finished);
            times.push_back(Clock::monotonicNanos());
        };
    }
};

}  // namespace

TEST_F(AnimationTest, CompletionRunsAtStartPlusDelayPlusDurationWithTrue) {
    for (auto [duration, delay] : {std::pair{0.3, 0.0}, {0.2, 0.5}}) {
        Completion done;
        const int64_t start = Clock::monotonicNanos();
        const double target = 1 - view->alpha();
        View::animate(
            duration, delay, kAnimationOptionCurveLinear, [&] { view->setAlpha(target); },
            done.fn());
        EXPECT_EQ(view->alpha(), target);  // the model value changes at once
        advanceBy(duration + delay - 1e-6);
        EXPECT_TRUE(done.flags.empty()) << delay;
        advanceBy(1e-5);  // past the end whatever the rounding; the time is checked below
        ASSERT_EQ(done.flags, std::vector<bool>{true}) << delay;
        EXPECT_EQ(done.times[0], start + secondsToNanos(duration + delay)) << delay;
        EXPECT_FALSE(view->layer()->hasAnimations());
    }
}

TEST_F(AnimationTest, ZeroNegativeAndDisabledRunsCompleteAtTheNextTurn) {
    struct Row {
        double duration;
        bool enabled;
    } rows[] = {{0.0, true}, {-1.0, true}, {0.3, false}};
    for (const Row& r : rows) {
        Completion done;
        View::setAnimationsEnabled(r.enabled);
        View::animate(
            r.duration,
            [&] {
                view->setCenter({r.duration, 10});
            },
            done.fn());
        EXPECT_TRUE(done.flags.empty()) << "never inside the call";
        EXPECT_EQ(view->center(), (Point{r.duration, 10}));  // the model value changes at once
        EXPECT_FALSE(view->layer()->hasAnimations());
        runUntilIdle();
        EXPECT_EQ(done.flags, std::vector<bool>{true}) << r.duration;
    }
    View::setAnimationsEnabled(true);
}

TEST_F(AnimationTest, BeginFromCurrentStateEndsTheOlderRunWithFalse) {
    Completion show, hide;
    view->setAlpha(0);
    View::animate(
        0.4, 0, kAnimationOptionCurveLinear, [&] { view->setAlpha(1); }, show.fn());
    advanceBy(0.1);
    EXPECT_NEAR(view->presentationAlpha(), 0.25, 1e-9);

    View::animate(
        0.4, 0, kAnimationOptionBeginFromCurrentState | kAnimationOptionCurveLinear,
        [&] { view->setAlpha(0); }, hide.fn());
    EXPECT_TRUE(show.flags.empty());  // not inside the call
    // The new run starts where the old one was on screen.
    EXPECT_NEAR(view->presentationAlpha(), 0.25, 1e-9);
    runUntilIdle();
    EXPECT_EQ(show.flags, std::vector<bool>{false});
    advanceBy(0.2);
    EXPECT_NEAR(view->presentationAlpha(), 0.125, 1e-9);
    advanceBy(0.2);
    EXPECT_EQ(hide.flags, std::vector<bool>{true});
    EXPECT_EQ(view->presentationAlpha(), 0);
}

TEST_F(AnimationTest, WithoutBeginFromCurrentStateRunsAddUpAndBothFinish) {
    Completion first, second;
    View::animate(0.4, 0, kAnimationOptionCurveLinear, moveTo(150), first.fn());
    advanceBy(0.2);
    EXPECT_NEAR(view->presentationCenter().x, 100, 1e-9);
    View::animate(0.4, 0, kAnimationOptionCurveLinear, moveTo(250), second.fn());
    // Continuous: still at 100 on screen.
    EXPECT_NEAR(view->presentationCenter().x, 100, 1e-9);
    advanceBy(0.2);
    EXPECT_EQ(first.flags, std::vector<bool>{true});
    advanceBy(0.2);
    EXPECT_EQ(second.flags, std::vector<bool>{true});
    EXPECT_EQ(view->presentationCenter(), (Point{250, 50}));
}

TEST_F(AnimationTest, RemovingAnimationsEndsRunsWithFalse) {
    Completion whole, partial;
    View::animate(
        0.3, [&] { view->setAlpha(0.5); }, whole.fn());
    auto other = View::create(Rect(0, 0, 10, 10));
    View::animate(
        0.3,
        [&] {
            view->setCenter({0, 0});
            other->setCenter({0, 0});
        },
        partial.fn());
    view->layer()->removeAllAnimations();
    EXPECT_TRUE(whole.flags.empty());
    runUntilIdle();
    EXPECT_EQ(whole.flags, std::vector<bool>{false});
    // A run with an animation left ends at its time, still with false.
    EXPECT_TRUE(partial.flags.empty());
    advanceBy(0.3);
    EXPECT_EQ(partial.flags, std::vector<bool>{false});
}

TEST_F(AnimationTest, PresentationValuesFollowTheCurve) {
    View::animate(1.0, 0, kAnimationOptionCurveLinear,
                  [&] { view->setFrame(Rect(100, 0, 200, 100)); });
    advanceBy(0.25);
    EXPECT_EQ(view->frame(), Rect(100, 0, 200, 100));
    auto f = view->presentationFrame();
    EXPECT_NEAR(f.origin.x, 25, 1e-9);
    EXPECT_NEAR(f.size.width, 125, 1e-9);
    advanceBy(1);

    // Ease in and out: slow at the ends, half way at half time, symmetric.
    view->setAlpha(0);
    View::animate(1.0, [&] { view->setAlpha(1); });
    advanceBy(0.1);
    const double early = view->presentationAlpha();
    EXPECT_GT(early, 0);
    EXPECT_LT(early, 0.1);
    advanceBy(0.4);
    EXPECT_NEAR(view->presentationAlpha(), 0.5, 1e-6);
    advanceBy(0.4);
    EXPECT_NEAR(view->presentationAlpha(), 1 - early, 1e-6);
    advanceBy(0.2);

    // During the delay the old value shows.
    View::animate(0.5, 1.0, kAnimationOptionCurveLinear, [&] { view->setAlpha(0); });
    advanceBy(0.5);
    EXPECT_EQ(view->presentationAlpha(), 1);
    EXPECT_EQ(view->alpha(), 0);
}

TEST_F(AnimationTest, SpringRunsCompleteAtTheirDurationAndSettle) {
    Completion done;
    View::animateWithSpring(0.5, 0, 0.6, 0, 0, moveTo(500), done.fn());
    advanceBy(0.25);
    EXPECT_GT(view->presentationCenter().x, 50);
    advanceBy(0.25);
    EXPECT_EQ(done.flags, std::vector<bool>{true});
    EXPECT_EQ(view->presentationCenter().x, 500);
    auto log = animationLog();
    ASSERT_EQ(log.size(), 1u);
    EXPECT_TRUE(log[0].spring);
    EXPECT_EQ(log[0].springDamping, 0.6);
}

TEST_F(AnimationTest, ChangesMadeWithoutAnimationInsideABlockAddNothing) {
    View::animate(0.3, [&] {
        View::performWithoutAnimation([&] { view->setAlpha(0); });
        view->setCenter({0, 0});
    });
    EXPECT_EQ(view->alpha(), 0);
    EXPECT_EQ(view->layer()->animationKeys(), std::vector<std::string>{"position"});
}

TEST_F(AnimationTest, TheLogRecordsEveryRun) {
    View::animate(0.3, 0.1, kAnimationOptionCurveEaseOut, [&] {
        view->setAlpha(0.5);
        view->setBackgroundColor(Color::black());
        view->setAlpha(0.5);  // no change, no animation
    });
    View::animate(0, [&] { view->setTransform(AffineTransform::scale(2, 2)); });
    auto log = animationLog();
    ASSERT_EQ(log.size(), 2u);
    EXPECT_TRUE(log[0].animated);
    EXPECT_EQ(log[0].delay, 0.1);
    EXPECT_EQ(log[0].options, kAnimationOptionCurveEaseOut);
    using Change = std::pair<const View*, std::string>;
    EXPECT_EQ(log[0].changes,
              (std::vector<Change>{{view.get(), "opacity"}, {view.get(), "backgroundColor"}}));
    EXPECT_FALSE(log[1].animated);
    EXPECT_TRUE(log[1].changes.empty());
    advanceBy(0.4);
    log = animationLog();
    EXPECT_EQ(log[0].finished, std::optional<bool>(true));
    EXPECT_EQ(log[1].finished, std::optional<bool>(true));
    clearAnimationLog();
    EXPECT_TRUE(animationLog().empty());
}

TEST_F(AnimationTest, AutoresizedSubviewsAnimateWithTheirSuperview) {
    auto child = View::create(Rect(0, 0, 100, 100));
    child->setAutoresizingMask(kAutoresizingFlexibleWidth);
    view->addSubview(child);
    View::animate(0.3, [&] { view->setFrame(Rect(0, 0, 200, 100)); });
    EXPECT_EQ(child->frame(), Rect(0, 0, 200, 100));
    EXPECT_TRUE(child->layer()->hasAnimations());
}

TEST_F(AnimationTest, AThrowingBlockLeavesNoRunBehind) {
    Completion done;
    EXPECT_THROW(View::animate(
                     0.3,
                     [&] {
                         view->setAlpha(0);
                         throw std::runtime_error("boom");
                     },
                     done.fn()),
                 std::runtime_error);
    EXPECT_FALSE(view->layer()->hasAnimations());
    advanceBy(1);
    EXPECT_TRUE(done.flags.empty());
    // Later changes outside any block do not animate.
    view->setAlpha(1);
    EXPECT_FALSE(view->layer()->hasAnimations());
}
