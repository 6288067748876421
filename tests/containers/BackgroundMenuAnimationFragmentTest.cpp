// The eight fragments and their base class over real views of a stand-in controller.
#include <gtest/gtest.h>

#include <cfloat>
#include <cmath>
#include <nlohmann/json.hpp>

#include "libmerovane/containers/MVBackgroundMenuAnimation.h"
#include "libmerovane/containers/MVBackgroundMenuAnimationFragmentShadings.h"
#include "libmerovane/containers/MVBackgroundMenuAnimationFragmentSlides.h"
#include "libmerovane/containers/MVBackgroundMenuAnimationFragments.h"
#include "platform/foundation/TestDriver.h"
#include "platform/ui/Layer.h"
#include "tests/containers/BackgroundMenuAnimationStandIn.h"
#include "tests/support/FakeWebView.h"
#include "tests/support/PlatformTest.h"

namespace {

constexpr const char* kContentSlidesRight =
    MVBackgroundMenuAnimationFragmentContentSlidesRightClass::kClassName;
constexpr const char* kContentSlidesLeft =
    MVBackgroundMenuAnimationFragmentContentSlidesLeftClass::kClassName;
constexpr const char* kMenuFromLeft =
    MVBackgroundMenuAnimationFragmentMenuSlidesInFromLeftClass::kClassName;
constexpr const char* kMenuFromRight =
    MVBackgroundMenuAnimationFragmentMenuSlidesInFromRightClass::kClassName;
constexpr const char* kMenuStaticLeft =
    MVBackgroundMenuAnimationFragmentMenuStaticLeftClass::kClassName;
constexpr const char* kMenuStaticRight =
    MVBackgroundMenuAnimationFragmentMenuStaticRightClass::kClassName;
constexpr const char* kContentShading =
    MVBackgroundMenuAnimationFragmentContentFadesToBlackClass::kClassName;
constexpr const char* kMenuShading =
    MVBackgroundMenuAnimationFragmentMenuFadesFromBlackClass::kClassName;

// A slide, the page's width, the fraction and the x it gives.
struct SlideRow {
    const char* fragment;
    double width;
    double fraction;
    double x;
};

class BackgroundMenuAnimationFragmentTest : public PlatformTest {
  protected:
    std::shared_ptr<MVBackgroundMenuAnimationFragmentClass> fragment(const char* className) {
        auto made = MVBackgroundMenuAnimationFragmentWithClassName(className, host_);
        EXPECT_TRUE(made) << className;
        if (made) {
            EXPECT_STREQ(made->className(), className);
        }
        return made;
    }
    // A fragment that has read the page's width when a run began.
    std::shared_ptr<MVBackgroundMenuAnimationFragmentClass> slide(const char* className,
                                                                  double pageWidth) {
        host_->setViewProperties({{"backgroundMenuWidth", pageWidth}});
        auto made = fragment(className);
        made->willBeginAnimation();
        return made;
    }
    std::shared_ptr<platform::View> shadowOf(
        const std::shared_ptr<MVBackgroundMenuAnimationFragmentClass>& shading) {
        return std::dynamic_pointer_cast<MVBackgroundMenuAnimationFragmentShading>(shading)
            ->shadow();
    }
    platform::View& content() { return *host_->contentContainerView(); }
    platform::View& menu() { return *host_->menuView(); }

    std::shared_ptr<BackgroundMenuAnimationStandIn> host_ =
        BackgroundMenuAnimationStandIn::create();
};

TEST_F(BackgroundMenuAnimationFragmentTest, ContentSlidesLandOnTheHalfPointAtOrLeftOfTheExactOne) {
    const SlideRow rows[] = {
        {kContentSlidesRight, 270, 0.5, 135},     {kContentSlidesRight, 271, 0.5, 135.5},
        {kContentSlidesRight, 100, 0.3333, 33.0},  // 33.33 goes down to 33
        {kContentSlidesRight, 100, 1.2, 120},      // a gesture stretches past open
        {kContentSlidesLeft, 100, 0.3333, -33.5},  // away from zero, towards the left
        {kContentSlidesLeft, 271, 0.5, -135.5},   {kContentSlidesLeft, 270, 0, 0},
    };
    for (const auto& r : rows) {
        content().setFrame({7, 9, 320, 480});
        slide(r.fragment, r.width)->fractionState(r.fraction, false);
        EXPECT_EQ(content().frame(), platform::Rect(r.x, 0, 320, 480))
            << r.fragment << " W " << r.width << " f " << r.fraction;
    }
}

TEST_F(BackgroundMenuAnimationFragmentTest, MenuSlidesInFromTheLeftOverItsOwnWidth) {
    auto fromLeft = fragment(kMenuFromLeft);
    fromLeft->willBeginAnimation();  // the page set no width
    for (auto [f, x] : {std::pair{0.0, -300.0}, {1.0, 0.0}, {1.1, 30.0}, {0.5, -150.0}}) {
        fromLeft->fractionState(f, true);
        EXPECT_EQ(menu().frame(), platform::Rect(x, 0, 300, 480)) << f;
    }
    // The width is the menu view's at the moment of application.
    menu().setFrame({0, 0, 250, 480});
    fromLeft->fractionState(0, false);
    EXPECT_EQ(menu().frame().origin.x, -250);
}

TEST_F(BackgroundMenuAnimationFragmentTest, MenuSlidesInFromTheRightEdgeOfTheControllerView) {
    menu().setFrame({320, 0, 260, 480});
    auto fromRight = slide(kMenuFromRight, 260);
    fromRight->fractionState(0, false);
    EXPECT_EQ(menu().frame(), platform::Rect(320, 0, 260, 480));
    fromRight->fractionState(1, true);
    EXPECT_EQ(menu().frame(), platform::Rect(60, 0, 260, 480));
}

TEST_F(BackgroundMenuAnimationFragmentTest, StaticPlacementsKeepTheMenuAtOneEdge) {
    auto left = fragment(kMenuStaticLeft);
    auto right = fragment(kMenuStaticRight);
    for (double f : {0.0, 0.4, 1.0, 1.3}) {
        menu().setFrame({-300, 40, 300, 400});
        left->fractionState(f, false);
        EXPECT_EQ(menu().frame(), platform::Rect(0, 0, 300, 400)) << f;
        right->fractionState(f, true);
        EXPECT_EQ(menu().frame(), platform::Rect(20, 0, 300, 400)) << f;
    }
}

TEST_F(BackgroundMenuAnimationFragmentTest, SlidesFollowThePagesWidthAsItLastSetIt) {
    auto right = slide(kContentSlidesRight, 100.1);
    right->fractionState(1, false);
    EXPECT_EQ(right.get()->className(), std::string(kContentSlidesRight));
    auto* asSlide = dynamic_cast<MVBackgroundMenuAnimationFragmentSlide*>(right.get());
    EXPECT_EQ(asSlide->backgroundMenuWidth(), 100.1f);  // single precision
    EXPECT_EQ(content().frame().origin.x, 100);

    auto animation = MVBackgroundMenuAnimation::create();
    auto webView = FakeWebView::create(1003, "Menu");
    // A value that is no number leaves the width as it was.
    right->menuWebViewDidChangeViewProperties(*webView, {{"backgroundMenuWidth", "wide"}}, 0,
                                              *animation);
    EXPECT_EQ(asSlide->backgroundMenuWidth(), 100.1f);
    right->menuWebViewDidChangeViewProperties(*webView, {{"backgroundMenuWidth", 80}}, 0,
                                              *animation);
    right->fractionState(1, false);
    EXPECT_EQ(content().frame().origin.x, 80);
    // Properties without the key take the page's width away: the menu's width is used.
    right->menuWebViewDidChangeViewProperties(*webView, {{"other", 1}}, 0, *animation);
    EXPECT_FALSE(asSlide->backgroundMenuWidth());
    right->fractionState(1, false);
    EXPECT_EQ(content().frame().origin.x, 300);
    // And so does a run that begins while the menu page has no properties at all.
    host_->setViewProperties({{"backgroundMenuWidth", 50}});
    right->willBeginAnimation();
    host_->clearViewProperties();
    right->willBeginAnimation();
    EXPECT_FALSE(asSlide->backgroundMenuWidth());
}

TEST_F(BackgroundMenuAnimationFragmentTest, AWidthBeyondTheFloatRangeIsClampedBeforeTheFloor) {
    const double halfOfLargest = std::floor(FLT_MAX) / 2.0;
    const SlideRow rows[] = {
        {kContentSlidesRight, 1e300, 1, halfOfLargest},
        {kContentSlidesRight, 1e30, 1e30, halfOfLargest},  // each fits, the product does not
        {kContentSlidesLeft, 1e300, 1, -halfOfLargest},
        {kContentSlidesRight, -1e300, 1, -halfOfLargest},
    };
    for (const auto& r : rows) {
        slide(r.fragment, r.width)->fractionState(r.fraction, false);
        EXPECT_TRUE(std::isfinite(content().frame().origin.x)) << r.width << " " << r.fraction;
        EXPECT_EQ(content().frame().origin.x, r.x) << r.width << " " << r.fraction;
    }
}

TEST_F(BackgroundMenuAnimationFragmentTest, ContentShadingDarkensAndGoesAtTheFinalClosedEnd) {
    auto shading = fragment(kContentShading);
    EXPECT_FALSE(shadowOf(shading));  // made on first use
    shading->fractionState(1, true);
    auto shadow = shadowOf(shading);
    ASSERT_TRUE(shadow);
    EXPECT_EQ(shadow->superview(), host_->contentContainerView());
    EXPECT_EQ(shadow->frame(), content().bounds());
    EXPECT_EQ(shadow->autoresizingMask(), 18u);
    EXPECT_EQ(shadow->backgroundColor(), platform::Color::withWhite(0, 0.41));
    EXPECT_EQ(shadow->alpha(), 1);

    shading->fractionState(0, false);
    EXPECT_EQ(shadow->superview(), host_->contentContainerView());
    EXPECT_EQ(shadow->alpha(), 0);
    shading->fractionState(0, true);
    EXPECT_FALSE(shadow->superview());
    // Back again, the same view, sized to the container as it is now.
    content().setFrame({0, 0, 200, 100});
    shading->fractionState(0.25, false);
    EXPECT_EQ(shadowOf(shading), shadow);
    EXPECT_EQ(shadow->frame(), platform::Rect(0, 0, 200, 100));
    EXPECT_EQ(shadow->alpha(), 0.25);
}

TEST_F(BackgroundMenuAnimationFragmentTest, MenuShadingLiftsAndGoesAtTheFinalOpenEnd) {
    auto shading = fragment(kMenuShading);
    shading->fractionState(0, false);
    auto shadow = shadowOf(shading);
    ASSERT_TRUE(shadow);
    EXPECT_EQ(shadow->superview(), host_->menuView());
    EXPECT_EQ(shadow->frame(), platform::Rect(0, 0, 300, 480));
    EXPECT_EQ(shadow->backgroundColor(), platform::Color::black());
    EXPECT_EQ(shadow->alpha(), 0.699999988079071);
    shading->fractionState(0.5, false);
    EXPECT_EQ(shadow->alpha(), static_cast<double>(0.7f) - static_cast<double>(0.7f) * 0.5);
    shading->fractionState(1, false);
    EXPECT_EQ(shadow->superview(), host_->menuView());
    EXPECT_EQ(shadow->alpha(), 0);
    shading->fractionState(1, true);
    EXPECT_FALSE(shadow->superview());
}

TEST_F(BackgroundMenuAnimationFragmentTest, ShadingsLeaveTheCallersAnimationStateAlone) {
    auto content = fragment(kContentShading);
    auto menuShading = fragment(kMenuShading);
    platform::View::setAnimationsEnabled(false);
    content->fractionState(1, false);
    EXPECT_FALSE(platform::View::areAnimationsEnabled());
    menuShading->fractionState(0, false);
    EXPECT_FALSE(platform::View::areAnimationsEnabled());
    platform::View::setAnimationsEnabled(true);

    // Inside a block without animation, what follows the shading stays unanimated.
    content->fractionState(0, true);
    platform::clearAnimationLog();
    platform::View::animate(0.3, [&] {
        platform::View::performWithoutAnimation([&] {
            content->fractionState(0.5, false);
            host_->menuView()->setAlpha(0.5);
        });
    });
    ASSERT_EQ(platform::animationLog().size(), 1u);
    EXPECT_TRUE(platform::animationLog()[0].changes.empty());
}

TEST_F(BackgroundMenuAnimationFragmentTest, WithinARunTheShadingAppearsAtOnceAndItsAlphaAnimates) {
    auto shading = fragment(kContentShading);
    shading->fractionState(0, false);  // as the controller does before opening
    platform::clearAnimationLog();
    platform::View::animate(0.45, [&] { shading->fractionState(1, false); });
    auto shadow = shadowOf(shading);
    const auto runs = platform::animationLog();
    ASSERT_EQ(runs.size(), 1u);
    EXPECT_EQ(
        runs[0].changes,
        (std::vector<std::pair<const platform::View*, std::string>>{{shadow.get(), "opacity"}}));
    EXPECT_EQ(shadow->presentationFrame(), content().bounds());
    EXPECT_EQ(shadow->presentationAlpha(), 0);
    platform::advanceBy(0.45);
    EXPECT_EQ(shadow->presentationAlpha(), 1);
}

TEST_F(BackgroundMenuAnimationFragmentTest, AControllerThatHasGoneLeavesEveryFragmentIdle) {
    const char* all[] = {kContentSlidesRight, kContentSlidesLeft, kMenuFromLeft,   kMenuFromRight,
                         kMenuStaticLeft,     kMenuStaticRight,   kContentShading, kMenuShading};
    std::vector<std::shared_ptr<MVBackgroundMenuAnimationFragmentClass>> fragments;
    for (const char* name : all) fragments.push_back(fragment(name));
    auto webView = FakeWebView::create(1003);
    auto animation = MVBackgroundMenuAnimation::create();
    host_.reset();
    for (auto& f : fragments) {
        EXPECT_FALSE(f->backgroundMenuController());
        EXPECT_FALSE(f->menuView());
        EXPECT_FALSE(f->isMenuVisible());
        f->willBeginAnimation();
        f->menuWebViewDidChangeViewProperties(*webView, {{"backgroundMenuWidth", 10}}, 0,
                                              *animation);
        f->fractionState(0.5, false);
        f->fractionState(0, true);
        f->didEndAnimation();
    }
    EXPECT_FALSE(shadowOf(fragments[6]));
}

TEST_F(BackgroundMenuAnimationFragmentTest, TheBaseClassRefusesPlainCreationAndApplication) {
    const auto e = exceptionThrownBy<MVBackgroundMenuAnimationFragmentInitException>(
        [&] { MVBackgroundMenuAnimationFragmentClass::init(kMenuStaticLeft); });
    EXPECT_EQ(e.name(),
              "For MVBackgroundMenuAnimationFragments, do not use init manually. The right "
              "animation fragment will be instanciated by the MVBackgroundAnimation.");
    EXPECT_EQ(e.reason(),
              "For MVBackgroundMenuAnimationFragments: "
              "<\"MVBackgroundMenuAnimationFragmentMenuStaticLeftClass\">, do not use init "
              "manually. The right animation fragment will be instanciated by the "
              "MVBackgroundAnimation.");
    auto base = fragment(MVBackgroundMenuAnimationFragmentClass::kClassName);
    const auto applied = exceptionThrownBy<MVBackgroundMenuAnimationBaseClassAnimationException>(
        [&] { base->fractionState(1, true); });
    EXPECT_EQ(applied.name(),
              "An Animation can't be called on the MVBackgroundMenuAnimation base class");
    EXPECT_EQ(applied.reason(), applied.name());
    // Everything else of the base class does nothing.
    base->willBeginAnimation();
    base->didEndAnimation();
    EXPECT_FALSE(MVBackgroundMenuAnimationFragmentWithClassName("NoSuchFragmentClass", host_));
}

}  // namespace
