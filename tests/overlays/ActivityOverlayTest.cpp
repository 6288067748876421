// The activity overlay in a real window: the live blur and the dimming variants, the
// still picture, spinner and button excluding each other with their durations, the
// fades, the rotation below system 8.0, and the pressed look of its button.
#include <gtest/gtest.h>

#include <algorithm>
#include <numbers>

#include "libmerovane/core/MVActivityIndicationOverlayInterface.h"
#include "libmerovane/overlays/MVActivityIndicationOverlayView.h"
#include "libmerovane/overlays/UIButtonTouchHighlite.h"
#include "platform/foundation/NotificationCenter.h"
#include "platform/ui/ActivityIndicator.h"
#include "platform/ui/Application.h"
#include "platform/ui/Device.h"
#include "platform/ui/Image.h"
#include "platform/ui/ImageView.h"
#include "platform/ui/Label.h"
#include "platform/ui/Layer.h"
#include "platform/ui/Screen.h"
#include "platform/ui/ViewController.h"
#include "platform/ui/VisualEffectView.h"
#include "platform/ui/Window.h"
#include "tests/support/PlatformTest.h"

namespace {

using Overlay = MVActivityIndicationOverlayView;

class ActivityOverlayTest : public PlatformTest {
  protected:
    void SetUp() override {
        PlatformTest::SetUp();
        platform::Screen::main().setPortraitSize({320, 480});
        window_ = platform::Window::create({0, 0, 320, 480});
        window_->setRootViewController(platform::ViewController::create());
        window_->makeKeyAndVisible();
        live_ = platform::View::create({0, 0, 320, 480});
        live_->setBackgroundColor(platform::Color::rgba(1, 0, 0, 1));
        auto stripe = platform::View::create({0, 100, 320, 40});
        stripe->setBackgroundColor(platform::Color::rgba(0, 0, 1, 1));
        live_->addSubview(stripe);
        window_->addSubview(live_);
        platform::clearAnimationLog();
    }
    void TearDown() override {
        platform::Device::current().resetForTesting();
        platform::Screen::main().resetForTesting();
        PlatformTest::TearDown();
    }
    static void systemVersion(const char* version) {
        platform::Device::current().setSystemVersion(version);
    }
    // The duration of the newest animation run that changed `view`'s opacity.
    static std::optional<double> opacityDuration(const platform::View* view) {
        auto runs = platform::animationLog();
        for (auto run = runs.rbegin(); run != runs.rend(); ++run)
            for (const auto& [changed, keyPath] : run->changes)
                if (changed == view && keyPath == "opacity") return run->duration;
        return std::nullopt;
    }
    size_t indexInWindow(const std::shared_ptr<platform::View>& view) const {
        const auto& subviews = window_->subviews();
        return std::find(subviews.begin(), subviews.end(), view) - subviews.begin();
    }

    std::shared_ptr<platform::Window> window_;
    std::shared_ptr<platform::View> live_;
};

TEST_F(ActivityOverlayTest, LiveBlurTakesTheViewInAndGivesItBack) {
    auto overlay = Overlay::initWithFullScreenAndViewToBlur(live_, false, "Loading");
    ASSERT_EQ(overlay->viewToBlur(), live_);
    auto container = overlay->viewToFade();
    ASSERT_NE(container.get(), overlay.get());
    auto blur = std::dynamic_pointer_cast<platform::VisualEffectView>(container->subviews().at(0));
    ASSERT_TRUE(blur);
    EXPECT_EQ(blur->effect(), platform::VisualEffect::blur(platform::BlurEffectStyle::Dark));
    auto vibrancy = std::dynamic_pointer_cast<platform::VisualEffectView>(
        blur->contentView()->subviews().at(0));
    ASSERT_TRUE(vibrancy);
    EXPECT_EQ(vibrancy->contentView(), overlay->contentView());

    std::optional<bool> faded;
    overlay->fadeInWithDuration(0.3, [&](bool finished) { faded = finished; });
    EXPECT_EQ(overlay->superview(), window_);
    EXPECT_EQ(live_->superview(), overlay);
    EXPECT_EQ(overlay->subviews().front(), live_);  // under the blur
    EXPECT_EQ(overlay->windowThatHoldedContent(), window_);
    EXPECT_EQ(overlay->alpha(), 1);
    platform::advanceBy(0.3);
    EXPECT_EQ(faded, true);
    EXPECT_EQ(container->alpha(), 1);
    EXPECT_TRUE(overlay->activityIndicator()->isAnimating());

    std::shared_ptr<platform::View> givenBack;
    overlay->fadeOutWithDuration(0.3, [&](bool finished, const auto& view) {
        EXPECT_TRUE(finished);
        givenBack = view;
    });
    platform::advanceBy(0.3);
    EXPECT_EQ(givenBack, live_);
    EXPECT_EQ(live_->superview(), window_);
    EXPECT_FALSE(overlay->superview());
    EXPECT_FALSE(overlay->windowThatHoldedContent());
    EXPECT_FALSE(overlay->activityIndicator()->isAnimating());
}

TEST_F(ActivityOverlayTest, BelowSystemEightTheGreyLayerDimsAndTheOverlayFades) {
    systemVersion("7.1");
    auto overlay = Overlay::initWithFullScreenAndViewToBlur(live_, false, "Loading");
    EXPECT_EQ(overlay->viewToFade(), overlay);
    auto grey = overlay->contentView();
    ASSERT_EQ(grey->superview(), overlay);
    EXPECT_EQ(grey->backgroundColor(), platform::Color::rgba(0.1, 0.1, 0.1, 0.8));
    EXPECT_EQ(overlay->alpha(), 0);

    overlay->fadeInWithDuration(0.3, nullptr);
    EXPECT_EQ(live_->superview(), window_);  // no blur: the live view stays
    EXPECT_EQ(indexInWindow(overlay), indexInWindow(live_) + 1);
    EXPECT_EQ(opacityDuration(overlay.get()), 0.3);
    platform::advanceBy(0.15);
    EXPECT_GT(overlay->presentationAlpha(), 0);
    EXPECT_LT(overlay->presentationAlpha(), 1);
    platform::advanceBy(0.15);
    overlay->fadeOutWithDuration(0.3, [](bool, const auto&) {});
    platform::advanceBy(0.3);
    EXPECT_FALSE(overlay->superview());
    EXPECT_EQ(live_->superview(), window_);
}

TEST_F(ActivityOverlayTest, ViewOutsideTheKeyWindowIsNotBlurred) {
    auto nested = platform::View::create({0, 0, 10, 10});
    live_->addSubview(nested);
    auto overlay = Overlay::initWithFullScreenAndViewToBlur(nested, true, "Loading");
    EXPECT_FALSE(overlay->viewToBlur());
    EXPECT_EQ(overlay->viewToFade(), overlay);
    overlay->fadeInWithDuration(0.3, nullptr);
    EXPECT_EQ(window_->subviews().back(), overlay);
    // The picture stays empty.
    ASSERT_TRUE(overlay->snapshot());
    EXPECT_EQ(overlay->snapshot()->image()->pixel(10, 10), (platform::Image::Pixel{0, 0, 0, 0}));
}

TEST_F(ActivityOverlayTest, StillPictureShowsTheDrawnPixelsOfTheView) {
    platform::Screen::main().setScale(2);
    auto overlay = Overlay::initWithFullScreenAndViewToBlur(live_, true, "Loading");
    overlay->fadeInWithDuration(0.3, nullptr);
    EXPECT_EQ(live_->superview(), window_);  // the live view stays where it was
    EXPECT_EQ(indexInWindow(overlay), indexInWindow(live_) + 1);
    auto snapshot = overlay->snapshot();
    ASSERT_TRUE(snapshot);
    EXPECT_EQ(snapshot->superview(), overlay->viewToFade());
    EXPECT_EQ(overlay->viewToFade()->subviews().front(), snapshot);  // under the blur
    const auto& picture = *snapshot->image();
    ASSERT_EQ(picture.width(), 640);
    ASSERT_EQ(picture.height(), 960);
    EXPECT_EQ(picture.scale(), 2);
    const platform::Image::Pixel red{255, 0, 0, 255}, blue{0, 0, 255, 255};
    EXPECT_EQ(picture.pixel(5, 5), red);
    EXPECT_EQ(picture.pixel(5, 201), blue);    // the stripe from 100 points down
    EXPECT_EQ(picture.pixel(639, 279), blue);  // ... 40 points high
    EXPECT_EQ(picture.pixel(639, 280), red);

    overlay->fadeOutWithDuration(0.3, [](bool, const auto&) {});
    platform::advanceBy(0.3);
    EXPECT_FALSE(snapshot->superview());
    EXPECT_FALSE(overlay->snapshot());
}

TEST_F(ActivityOverlayTest, IndicatorAndButtonDurationsCross) {
    auto overlay = Overlay::initWithFullScreenAndViewToBlur(live_, false, "Loading");
    auto ring = overlay->activityIndicatorBorder();
    overlay->setIndicatorAnimationActive(false);  // hidden: 0.3 s
    EXPECT_EQ(opacityDuration(ring.get()), 0.3);
    EXPECT_EQ(ring->alpha(), 0);
    EXPECT_FALSE(overlay->activityIndicator()->isAnimating());
    overlay->setButtonWithTitle("Close", nullptr, false);  // hidden: at once
    EXPECT_FALSE(overlay->button()->layer()->hasAnimations());
    EXPECT_EQ(overlay->button()->presentationAlpha(), 1);
    EXPECT_EQ(overlay->lblButton()->alpha(), 1);

    overlay->fadeInWithDuration(0.3, nullptr);
    platform::advanceBy(0.3);
    platform::clearAnimationLog();
    overlay->setIndicatorAnimationActive(true);  // shown: at once, and the button goes
    EXPECT_FALSE(ring->layer()->hasAnimations());
    EXPECT_EQ(ring->presentationAlpha(), 1);
    EXPECT_TRUE(overlay->activityIndicator()->isAnimating());
    EXPECT_EQ(overlay->button()->alpha(), 0);
    EXPECT_EQ(opacityDuration(overlay->button().get()), 0.3);
    platform::clearAnimationLog();
    overlay->setButtonHidden(false);  // shown: 0.3 s, and the spinner goes
    EXPECT_EQ(opacityDuration(overlay->button().get()), 0.3);
    EXPECT_EQ(ring->alpha(), 0);
    EXPECT_FALSE(overlay->activityIndicator()->isAnimating());
}

TEST_F(ActivityOverlayTest, ButtonIsBuiltOnceAndTapsReachTheLatestBlock) {
    auto overlay = Overlay::initWithFullScreenAndViewToBlur(live_, false, "Loading");
    overlay->setButtonWithTitle(std::nullopt, nullptr, false);
    EXPECT_FALSE(overlay->button());
    EXPECT_TRUE(overlay->activityIndicator()->isAnimating() == false);

    int first = 0, second = 0;
    overlay->setButtonWithTitle(
        "Quit", [&](Overlay&, platform::Button&) { ++first; }, false);
    auto button = overlay->button();
    ASSERT_TRUE(std::dynamic_pointer_cast<UIButtonTouchHighlite>(button));
    EXPECT_EQ(button->frame(), platform::Rect(20, 335, 280, 50));
    EXPECT_EQ(button->layer()->cornerRadius(), 25);
    EXPECT_EQ(overlay->lblButton()->frame(), button->frame());
    EXPECT_EQ(overlay->lblButton()->autoresizingMask(), 45u);
    EXPECT_EQ(overlay->lblButton()->text(), "Quit");
    EXPECT_FALSE(overlay->activityIndicator()->isAnimating());

    overlay->setButtonWithTitle(
        "Leave", [&](Overlay&, platform::Button&) { ++second; }, false);
    EXPECT_EQ(overlay->button(), button);
    EXPECT_EQ(overlay->lblButton()->text(), "Leave");
    overlay->fadeInWithDuration(0.3, nullptr);
    platform::advanceBy(0.3);
    EXPECT_EQ(overlay->activityIndicator()->isAnimating(), false);  // the button stays
    window_->sendTap({160, 360});
    EXPECT_EQ(first, 0);
    EXPECT_EQ(second, 1);
}

TEST_F(ActivityOverlayTest, TitleShowsOnlyWithText) {
    auto overlay = Overlay::initWithFullScreenAndViewToBlur(nullptr, false, "Loading");
    auto label = overlay->lblNotice();
    EXPECT_EQ(label->text(), "Loading");
    EXPECT_EQ(label->font(), platform::Font::named("HelveticaNeue-Thin", 28));
    EXPECT_EQ(label->center(), (platform::Point{160, 180}));
    overlay->setTitle("");
    EXPECT_EQ(label->alpha(), 0);
    overlay->setTitle("Opening link");
    EXPECT_EQ(label->alpha(), 1);
    overlay->setTitle(std::nullopt);
    EXPECT_EQ(label->text(), "");
    EXPECT_EQ(label->alpha(), 0);
}

TEST_F(ActivityOverlayTest, InterruptedFadeOutLeavesTheOverlayShown) {
    auto overlay = Overlay::initWithFullScreenAndViewToBlur(live_, false, "Loading");
    overlay->fadeInWithDuration(0.3, nullptr);
    platform::advanceBy(0.3);
    bool called = false;
    overlay->fadeOutWithDuration(0.3, [&](bool, const auto&) { called = true; });
    platform::advanceBy(0.1);
    overlay->fadeInWithDuration(0.3, nullptr);
    platform::advanceBy(0.5);
    EXPECT_FALSE(called);
    EXPECT_EQ(overlay->superview(), window_);
    EXPECT_EQ(live_->superview(), overlay);
    EXPECT_EQ(overlay->viewToFade()->alpha(), 1);
}

TEST_F(ActivityOverlayTest, AFadeInAgainReplacesTheStillPicture) {
    auto overlay = Overlay::initWithFullScreenAndViewToBlur(live_, true, "Loading");
    overlay->fadeInWithDuration(0.3, nullptr);
    platform::advanceBy(0.3);
    auto first = overlay->snapshot();
    ASSERT_TRUE(first);
    // Again while shown, and again during a fade-out.
    overlay->fadeInWithDuration(0.3, nullptr);
    platform::advanceBy(0.3);
    overlay->fadeOutWithDuration(0.3, [](bool, const auto&) {});
    platform::advanceBy(0.1);
    overlay->fadeInWithDuration(0.3, nullptr);
    platform::advanceBy(0.3);
    auto last = overlay->snapshot();
    EXPECT_FALSE(first->superview());
    const auto& faded = overlay->viewToFade()->subviews();
    EXPECT_EQ(std::count_if(faded.begin(), faded.end(),
                            [](const auto& view) {
                                return std::dynamic_pointer_cast<platform::ImageView>(view) !=
                                       nullptr;
                            }),
              1);
    EXPECT_EQ(faded.front(), last);
    overlay->fadeOutWithDuration(0.3, [](bool, const auto&) {});
    platform::advanceBy(0.3);
    EXPECT_FALSE(last->superview());
}

TEST_F(ActivityOverlayTest, BelowSystemEightItTurnsWithTheInterface) {
    systemVersion("7.1");
    auto overlay = Overlay::initWithFullScreenAndViewToBlur(nullptr, false, "Loading");
    overlay->fadeInWithDuration(0.3, nullptr);
    EXPECT_EQ(overlay->transform(), platform::AffineTransform::rotation(0));
    platform::Application::shared().setStatusBarOrientation(
        platform::InterfaceOrientation::LandscapeLeft);
    platform::NotificationCenter::defaultCenter().post(
        platform::kApplicationDidChangeStatusBarOrientationNotification);
    platform::advanceBy(0.24);
    EXPECT_EQ(overlay->transform(), platform::AffineTransform::rotation(0));
    platform::advanceBy(0.01);
    EXPECT_EQ(overlay->transform(), platform::AffineTransform::rotation(3 * std::numbers::pi / 2));
    EXPECT_EQ(overlay->center(), window_->center());
}

TEST_F(ActivityOverlayTest, FromSystemEightOrientationChangesNothing) {
    auto overlay = Overlay::initWithFullScreenAndViewToBlur(nullptr, false, "Loading");
    overlay->adaptFrameToOrientation(platform::InterfaceOrientation::PortraitUpsideDown, false);
    EXPECT_EQ(overlay->transform(), platform::AffineTransform::identity());
}

TEST_F(ActivityOverlayTest, HighlightLightensTheButton) {
    auto button = UIButtonTouchHighlite::create();
    button->setHighlighted(true);
    EXPECT_TRUE(button->isHighlighted());
    EXPECT_EQ(button->backgroundColor(), platform::Color::withWhite(1, 0.3f));
    button->setHighlighted(false);
    EXPECT_EQ(button->backgroundColor(), platform::Color::withWhite(1, 0));
}

TEST_F(ActivityOverlayTest, SeamMakesRealOverlays) {
    Overlay::install();
    auto overlay = MVActivityIndicationOverlayInterface::overlayWithFullScreenAndViewToBlur(
        live_, false, "Hi");
    int taps = 0;
    overlay->setButtonWithTitle(
        "OK", [&] { ++taps; }, false);
    std::optional<bool> in;
    overlay->fadeInWithDuration(0.3, [&](bool finished) { in = finished; });
    auto shown = std::dynamic_pointer_cast<Overlay>(window_->subviews().back());
    ASSERT_TRUE(shown);
    EXPECT_EQ(shown->lblNotice()->text(), "Hi");
    platform::advanceBy(0.3);
    window_->sendTap({160, 360});
    EXPECT_EQ(taps, 1);
    // Without completion the fade still takes the overlay out.
    overlay->fadeOutWithDuration(0.3, nullptr);
    platform::advanceBy(0.3);
    EXPECT_FALSE(shown->superview());
    EXPECT_EQ(live_->superview(), window_);
    EXPECT_EQ(in, true);
    MVActivityIndicationOverlayInterface::setFactory(nullptr);
}

}  // namespace
