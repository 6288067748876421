// Keyed layer animations: repeats, reversal, fill, timing and removal on completion.
#include <gtest/gtest.h>

#include <cmath>
#include <limits>

#include "platform/foundation/Clock.h"
#include "platform/ui/Layer.h"
#include "platform/ui/View.h"
#include "tests/support/PlatformTest.h"

using namespace platform;

namespace {

class LayerAnimationTest : public PlatformTest {
  protected:
    // An opacity blink from the model value to 0.25, 0.25 s a way, linear.
    static LayerAnimation blink() {
        LayerAnimation a;
        a.keyPath = "opacity";
        a.to = {0.25};
        a.durationNanos = secondsToNanos(0.25);
        a.timingFunction = TimingFunction::Linear;
        return a;
    }
    std::shared_ptr<View> view = View::create(Rect(0, 0, 10, 10));
};

TEST_F(LayerAnimationTest, AutoreversingRepeatsRunForwardsAndBackEveryCycle) {
    view->setAlpha(1);
    auto a = blink();
    a.autoreverses = true;
    a.repeatCount = 4;
    view->layer()->addAnimation(a, "blinking");
    EXPECT_EQ(view->layer()->animationForKey("blinking")->activeDurationNanos(),
              secondsToNanos(2.0));
    struct Row {
        double at;  // seconds since the add
        double alpha;
    } rows[] = {
        {0.125, 0.625}, {0.25, 0.25}, {0.375, 0.625}, {0.5, 1.0},
        {0.625, 0.625}, {1.75, 0.25}, {1.875, 0.625},
    };
    double now = 0;
    for (const auto& row : rows) {
        advanceBy(row.at - now);
        now = row.at;
        EXPECT_NEAR(view->presentationAlpha(), row.alpha, 1e-9) << row.at;
    }
    EXPECT_EQ(view->alpha(), 1.0);  // the model value never changes
    advanceBy(2.0 - now);
    EXPECT_EQ(view->layer()->animationForKey("blinking"), nullptr);
    EXPECT_EQ(view->presentationAlpha(), 1.0);
}

TEST_F(LayerAnimationTest, FillModesDecideWhatShowsOutsideTheActiveTime) {
    view->setAlpha(1);
    struct Row {
        FillMode fill;
        bool reverses;
        double before;  // 0.1 s before the begin
        double after;   // after the end
    } rows[] = {
        {FillMode::Removed, false, 1.0, 1.0},   {FillMode::Forwards, false, 1.0, 0.25},
        {FillMode::Forwards, true, 1.0, 0.5},  // a reversed cycle ends where it began
        {FillMode::Backwards, false, 0.5, 1.0}, {FillMode::Both, false, 0.5, 0.25},
    };
    for (const auto& row : rows) {
        auto a = blink();
        a.from = {0.5};
        a.fillMode = row.fill;
        a.autoreverses = row.reverses;
        a.removedOnCompletion = false;
        a.beginNanos = Clock::monotonicNanos() + secondsToNanos(0.1);
        view->layer()->addAnimation(a, "k");
        EXPECT_NEAR(view->presentationAlpha(), row.before, 1e-9);
        advanceBy(1.0);
        EXPECT_NEAR(view->presentationAlpha(), row.after, 1e-9);
        // kept: it stays until removed
        ASSERT_NE(view->layer()->animationForKey("k"), nullptr);
        view->layer()->removeAnimation("k");
        EXPECT_EQ(view->presentationAlpha(), 1.0);
    }
}

TEST_F(LayerAnimationTest, TimingFunctionsShapeTheCurveOverTheOptions) {
    struct Row {
        std::optional<TimingFunction> timing;
        AnimationOptions options;
        int quarter;  // at a quarter of the time: below (-1), at (0), above (1) a quarter
    } rows[] = {
        {TimingFunction::Linear, kAnimationOptionCurveEaseIn, 0},
        {TimingFunction::EaseIn, kAnimationOptionCurveLinear, -1},
        {TimingFunction::EaseOut, kAnimationOptionCurveLinear, 1},
        {TimingFunction::EaseInEaseOut, kAnimationOptionCurveLinear, -1},
        {std::nullopt, kAnimationOptionCurveLinear, 0},  // the options decide
        {std::nullopt, kAnimationOptionCurveEaseOut, 1},
    };
    for (const auto& row : rows) {
        LayerAnimation a;
        a.durationNanos = secondsToNanos(1);
        a.timingFunction = row.timing;
        a.options = row.options;
        const double quarter = a.progressAt(secondsToNanos(0.25));
        if (row.quarter == 0)
            EXPECT_DOUBLE_EQ(quarter, 0.25);
        else
            EXPECT_EQ(quarter < 0.25, row.quarter < 0) << quarter;
        EXPECT_EQ(a.progressAt(secondsToNanos(1)), 1.0);
    }
}

TEST_F(LayerAnimationTest, AKeyReplacesItsAnimationAndItsRemoval) {
    auto layer = view->layer();
    layer->addAnimation(blink(), "k");  // removed at 0.25 s
    advanceBy(0.2);
    auto longer = blink();
    longer.durationNanos = secondsToNanos(1);
    layer->addAnimation(longer, "k");
    EXPECT_EQ(layer->animationKeys(), std::vector<std::string>{"k"});
    advanceBy(0.1);  // the first removal would have run now
    ASSERT_NE(layer->animationForKey("k"), nullptr);
    EXPECT_EQ(layer->animationForKey("k")->durationNanos, secondsToNanos(1));
    advanceBy(0.9);
    EXPECT_FALSE(layer->hasAnimations());

    // removed by hand first: nothing left to remove later, nothing else touched
    layer->addAnimation(blink(), "k");
    layer->removeAnimation("k");
    auto kept = blink();
    kept.removedOnCompletion = false;
    layer->addAnimation(kept, "k");
    advanceBy(1);
    EXPECT_NE(layer->animationForKey("k"), nullptr);
}

TEST_F(LayerAnimationTest, OddCountsAndDurationsStayBounded) {
    struct Row {
        double repeatCount;
        int64_t duration;
        int64_t active;
    } rows[] = {
        {0, 1000, 1000},
        {-3, 1000, 1000},
        {std::nan(""), 1000, 1000},
        {2.5, 1000, 2500},
        {std::numeric_limits<double>::infinity(), 1000, std::numeric_limits<int64_t>::max()},
        {1e300, 1000, std::numeric_limits<int64_t>::max()},
        {4, 0, 0},
        {4, -5, 0},
    };
    for (const auto& row : rows) {
        LayerAnimation a;
        a.repeatCount = row.repeatCount;
        a.durationNanos = row.duration;
        EXPECT_EQ(a.activeDurationNanos(), row.active) << row.repeatCount;
        const double p = a.progressAt(std::numeric_limits<int64_t>::max() / 2);
        EXPECT_TRUE(p >= 0 && p <= 1) << row.repeatCount;
    }
    // a half cycle past two whole ones ends half way
    LayerAnimation a;
    a.repeatCount = 2.5;
    a.durationNanos = 1000;
    a.timingFunction = TimingFunction::Linear;
    EXPECT_DOUBLE_EQ(a.progressAt(10000), 0.5);
    // one that repeats for ever is never removed
    auto forever = blink();
    forever.repeatCount = std::numeric_limits<double>::infinity();
    view->layer()->addAnimation(forever, "forever");
    advanceBy(100);
    EXPECT_NE(view->layer()->animationForKey("forever"), nullptr);
}

}  // namespace
