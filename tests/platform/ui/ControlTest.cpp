#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "platform/ui/ActivityIndicator.h"
#include "platform/ui/Application.h"
#include "platform/ui/Button.h"
#include "platform/ui/Label.h"
#include "platform/ui/Layer.h"
#include "platform/ui/VisualEffectView.h"
#include "platform/ui/Window.h"
#include "tests/support/PlatformTest.h"

using namespace platform;

namespace {

class ControlTest : public PlatformTest {
  protected:
    void SetUp() override {
        PlatformTest::SetUp();
        window_ = Window::create(Rect(0, 0, 320, 480));
        window_->makeKeyAndVisible();
    }
    Touch touchAt(Point p) {
        Touch t;
        t.window = window_;
        t.locationInWindow = p;
        return t;
    }
    std::shared_ptr<Window> window_;
};

// The button the retry view and the activity overlay use: a light background while
// pressed.
class TouchHighlightButton : public Button {
  public:
    static std::shared_ptr<TouchHighlightButton> create(const Rect& frame) {
        return std::shared_ptr<TouchHighlightButton>(new TouchHighlightButton(frame));
    }
    void setHighlighted(bool highlighted) override {
        Button::setHighlighted(highlighted);
        setBackgroundColor(Color::withWhite(1, highlighted ? 0.3 : 0));
        seen.push_back(highlighted);
    }
    std::vector<bool> seen;

  private:
    explicit TouchHighlightButton(const Rect& frame) : Button(ButtonType::Custom, frame) {}
};

struct Target {
    std::vector<std::string> calls;
};

}  // namespace

TEST_F(ControlTest, TapHighlightsWhilePressedThenSendsTouchUpInside) {
    auto button = TouchHighlightButton::create(Rect(20, 300, 280, 50));
    window_->addSubview(button);
    std::vector<std::string> events;
    button->addAction(kControlEventTouchDown, [&](Control& c) {
        events.push_back(std::string("down, highlighted ") + (c.isHighlighted() ? "yes" : "no"));
    });
    button->addAction(kControlEventTouchUpInside, [&](Control& c) {
        events.push_back(std::string("up inside, highlighted ") +
                         (c.isHighlighted() ? "yes" : "no"));
    });

    button->touchesBegan(touchAt({100, 320}));
    EXPECT_TRUE(button->isHighlighted());
    EXPECT_TRUE(button->isTracking());
    EXPECT_EQ(button->backgroundColor(), Color::withWhite(1, 0.3));
    button->touchesEnded(touchAt({100, 320}));
    EXPECT_FALSE(button->isHighlighted());
    EXPECT_EQ(button->backgroundColor(), Color::withWhite(1, 0));
    EXPECT_EQ(events,
              (std::vector<std::string>{"down, highlighted yes", "up inside, highlighted no"}));
    EXPECT_EQ(button->seen, (std::vector<bool>{true, false}));

    // A tap delivered through the window takes the same road.
    events.clear();
    EXPECT_EQ(window_->sendTap({30, 340}), button);
    EXPECT_EQ(events.size(), 2u);
}

TEST_F(ControlTest, EndOutsideCancelAndDisabledSendNoTouchUpInside) {
    auto button = Button::create(ButtonType::Custom, Rect(0, 0, 100, 40));
    window_->addSubview(button);
    std::vector<ControlEvents> seen;
    button->addAction(kControlEventAllEvents, [&](Control&) {});
    for (ControlEvents e : {kControlEventTouchDown, kControlEventTouchUpInside,
                            kControlEventTouchUpOutside, kControlEventTouchCancel})
        button->addAction(e, [&seen, e](Control&) { seen.push_back(e); });

    button->touchesBegan(touchAt({10, 10}));
    button->touchesEnded(touchAt({200, 300}));  // the finger left the button
    EXPECT_EQ(seen,
              (std::vector<ControlEvents>{kControlEventTouchDown, kControlEventTouchUpOutside}));

    seen.clear();
    button->touchesBegan(touchAt({10, 10}));
    button->touchesCancelled(touchAt({10, 10}));
    EXPECT_EQ(seen, (std::vector<ControlEvents>{kControlEventTouchDown, kControlEventTouchCancel}));
    EXPECT_FALSE(button->isHighlighted());

    seen.clear();
    button->setEnabled(false);
    window_->sendTap({10, 10});
    EXPECT_TRUE(seen.empty());
    EXPECT_FALSE(button->isHighlighted());
}

TEST_F(ControlTest, SameTargetAndActionIsConnectedOnce) {
    auto control = Control::create(Rect(0, 0, 10, 10));
    auto target = std::make_shared<Target>();
    auto other = std::make_shared<Target>();
    auto connect = [&](const std::shared_ptr<Target>& t, const char* name, ControlEvents e) {
        control->addTarget(t, name, e, [t = t.get(), name](Control&) { t->calls.push_back(name); });
    };
    connect(target, "refreshControlDidChangeValue:", kControlEventValueChanged);
    connect(target, "refreshControlDidChangeValue:", kControlEventValueChanged);
    connect(other, "refreshControlDidChangeValue:", kControlEventValueChanged);
    EXPECT_EQ(control->actionsForTarget(target.get(), kControlEventValueChanged),
              (std::vector<std::string>{"refreshControlDidChangeValue:"}));
    EXPECT_TRUE(control->actionsForTarget(target.get(), kControlEventTouchUpInside).empty());

    control->sendActionsForControlEvents(kControlEventValueChanged);
    EXPECT_EQ(target->calls.size(), 1u);
    EXPECT_EQ(other->calls.size(), 1u);

    control->removeTarget(target.get(), "refreshControlDidChangeValue:", kControlEventValueChanged);
    EXPECT_TRUE(control->actionsForTarget(target.get(), kControlEventValueChanged).empty());
    control->sendActionsForControlEvents(kControlEventValueChanged);
    EXPECT_EQ(target->calls.size(), 1u);
    EXPECT_EQ(other->calls.size(), 2u);

    // A target that died is dropped, not called.
    const Target* gone = other.get();
    other.reset();
    EXPECT_TRUE(control->actionsForTarget(gone, kControlEventValueChanged).empty());
    EXPECT_EQ(control->allControlEvents(), 0u);
    control->sendActionsForControlEvents(kControlEventValueChanged);
}

TEST_F(ControlTest, HandlersMayChangeTheActionsOrDropTheControl) {
    auto control = Control::create();
    int runs = 0;
    control->addAction(kControlEventValueChanged, [&](Control& c) {
        ++runs;
        c.removeTarget(nullptr, {}, kControlEventAllEvents);
        c.addAction(kControlEventValueChanged, [&](Control&) { runs += 100; });
        control.reset();  // the last outside reference
    });
    std::weak_ptr<Control> weak = control;
    control->sendActionsForControlEvents(kControlEventValueChanged);
    EXPECT_EQ(runs, 1);
    EXPECT_TRUE(weak.expired());
}

TEST_F(ControlTest, LabelKeepsWhatTheRetryViewSetsAndLetsTouchesThrough) {
    auto label = Label::create(Rect(20, 100, 280, 200));
    EXPECT_EQ(label->numberOfLines(), 1);
    EXPECT_EQ(label->textColor(), Color::black());
    EXPECT_EQ(label->lineBreakMode(), LineBreakMode::TruncatingTail);
    label->setText("There seems to be a problem with your internet connection");
    label->setTextAlignment(TextAlignment::Center);
    label->setNumberOfLines(0);
    label->setFont(Font::named("HelveticaNeue-Thin", 28));
    EXPECT_EQ(label->text(), "There seems to be a problem with your internet connection");
    EXPECT_EQ(label->textAlignment(), TextAlignment::Center);
    EXPECT_EQ(label->numberOfLines(), 0);
    EXPECT_EQ(label->font(), Font::named("HelveticaNeue-Thin", 28));
    auto below = Button::create(ButtonType::Custom, Rect(20, 100, 280, 200));
    window_->addSubview(below);
    window_->addSubview(label);
    EXPECT_EQ(window_->hitTest({100, 150}), below);
}

TEST_F(ControlTest, ActivityIndicatorShowsOnlyWhileAnimatingByDefault) {
    struct Case {
        ActivityIndicatorStyle style;
        double side;
        Color color;
    };
    for (const Case& c : {Case{ActivityIndicatorStyle::WhiteLarge, 37, Color::white()},
                          Case{ActivityIndicatorStyle::White, 20, Color::white()},
                          Case{ActivityIndicatorStyle::Gray, 20, Color::withWhite(0.5, 1)}}) {
        auto spinner = ActivityIndicator::create(c.style);
        EXPECT_EQ(spinner->frame(), Rect(0, 0, c.side, c.side));
        EXPECT_EQ(spinner->color(), c.color);
        EXPECT_FALSE(spinner->isAnimating());
        EXPECT_TRUE(spinner->isHidden());
    }
    auto spinner = ActivityIndicator::create(ActivityIndicatorStyle::WhiteLarge);
    spinner->setCenter({160, 360});
    spinner->startAnimating();
    EXPECT_TRUE(spinner->isAnimating());
    EXPECT_FALSE(spinner->isHidden());
    spinner->stopAnimating();
    EXPECT_TRUE(spinner->isHidden());
    spinner->setHidesWhenStopped(false);
    EXPECT_FALSE(spinner->isHidden());
    spinner->setStyle(ActivityIndicatorStyle::White);
    EXPECT_EQ(spinner->frame(), Rect(150, 350, 20, 20));  // keeps its centre
}

TEST_F(ControlTest, EffectViewsHoldTheirContentInAContentView) {
    const auto blur = VisualEffect::blur(BlurEffectStyle::Dark);
    auto blurView = VisualEffectView::create(blur, Rect(0, 0, 320, 480));
    auto vibrancy = VisualEffectView::create(VisualEffect::vibrancy(blur), Rect(0, 0, 320, 480));
    blurView->contentView()->addSubview(vibrancy);
    EXPECT_EQ(vibrancy->effect()->style, BlurEffectStyle::Dark);
    EXPECT_EQ(blurView->subviews().size(), 1u);
    blurView->setFrame(Rect(0, 0, 480, 320));
    EXPECT_EQ(blurView->contentView()->frame(), Rect(0, 0, 480, 320));
}
