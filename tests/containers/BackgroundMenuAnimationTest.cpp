// Presentation types, their registry and animation runs on the manual clock, over real
// views of a stand-in controller.
#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <nlohmann/json.hpp>

#include "libmerovane/containers/MVBackgroundMenuAnimation.h"
#include "libmerovane/containers/MVBackgroundMenuAnimationFragmentShadings.h"
#include "libmerovane/containers/MVBackgroundMenuAnimationFragmentSlides.h"
#include "libmerovane/containers/MVBackgroundMenuAnimationTypes.h"
#include "platform/foundation/TestDriver.h"
#include "platform/ui/Device.h"
#include "platform/ui/Layer.h"
#include "tests/containers/BackgroundMenuAnimationStandIn.h"
#include "tests/support/FakeWebView.h"
#include "tests/support/PlatformTest.h"

namespace {

using Edge = MVBackgroundMenuPresentationEdge;
using Names = std::vector<std::string>;

constexpr const char* kSlidesRight = "MVBackgroundMenuAnimationFragmentContentSlidesRightClass";
constexpr const char* kSlidesLeft = "MVBackgroundMenuAnimationFragmentContentSlidesLeftClass";
constexpr const char* kFromLeft = "MVBackgroundMenuAnimationFragmentMenuSlidesInFromLeftClass";
constexpr const char* kFromRight = "MVBackgroundMenuAnimationFragmentMenuSlidesInFromRightClass";
constexpr const char* kPinLeft = "MVBackgroundMenuAnimationFragmentMenuStaticLeftClass";
constexpr const char* kPinRight = "MVBackgroundMenuAnimationFragmentMenuStaticRightClass";
constexpr const char* kDarkens = "MVBackgroundMenuAnimationFragmentContentFadesToBlackClass";
constexpr const char* kLifts = "MVBackgroundMenuAnimationFragmentMenuFadesFromBlackClass";
constexpr const char* kWidthZeroWarning =
    "MVWebView<1003:Menu> did set view property \"backgroundMenuWidth\" with value: 0.";

class BackgroundMenuAnimationTest : public PlatformTest {
  protected:
    std::shared_ptr<MVBackgroundMenuAnimation> animationOf(const char* type) {
        auto animation = MVBackgroundMenuAnimation::animationWithType(type, host_);
        EXPECT_TRUE(animation) << type;
        return animation;
    }
    // The content shading of a "foregroundLeft" animation (its first fragment).
    static std::shared_ptr<platform::View> shadowOf(const MVBackgroundMenuAnimation& animation) {
        return std::dynamic_pointer_cast<MVBackgroundMenuAnimationFragmentShading>(
                   animation.fragments().at(0))
            ->shadow();
    }
    static std::optional<float> pageWidthOf(const MVBackgroundMenuAnimation& animation) {
        return std::dynamic_pointer_cast<MVBackgroundMenuAnimationFragmentSlide>(
                   animation.fragments().at(0))
            ->backgroundMenuWidth();
    }
    MVBackgroundMenuAnimation::Completion recordInto(std::vector<bool>& finishes) {
        return [&finishes](bool finished) { finishes.push_back(finished); };
    }

    std::shared_ptr<BackgroundMenuAnimationStandIn> host_ =
        BackgroundMenuAnimationStandIn::create();
    std::shared_ptr<FakeWebView> webView_ = FakeWebView::create(1003, "Menu");
};

TEST_F(BackgroundMenuAnimationTest, TheRegistryHoldsTheSixPresentationTypes) {
    struct Row {
        const char* type;
        const char* classSuffix;  // after "MVBackgroundMenuAnimation"
        Edge edge;
        bool menuBehindContent;
        Names fragments;
    };
    const Row rows[] = {
        {"backgroundLeft", "BackgroundLeft", Edge::Left, true, {kSlidesRight, kPinLeft, kLifts}},
        {"backgroundRight", "BackgroundRight", Edge::Right, true, {kSlidesLeft, kPinRight, kLifts}},
        {"foregroundLeft", "ForegroundLeft", Edge::Left, false, {kDarkens, kFromLeft}},
        {"foregroundRight", "ForegroundRight", Edge::Right, false, {kDarkens, kFromRight}},
        {"pushInFromLeft", "PushingRight", Edge::Left, true, {kSlidesRight, kFromLeft}},
        {"pushInFromRight", "PushingLeft", Edge::Right, false, {kSlidesLeft, kFromRight}},
    };
    const auto& types = MVBackgroundMenuAnimationRegistry::backgroundMenuAnimations();
    ASSERT_EQ(types.size(), std::size(rows));
    auto it = types.begin();
    for (const auto& r : rows) {
        EXPECT_EQ(it->first, r.type);
        const MVBackgroundMenuAnimationClass& cls = *it->second;
        ++it;
        EXPECT_EQ(cls.name, std::string("MVBackgroundMenuAnimation") + r.classSuffix);
        EXPECT_EQ(cls.superclass, &MVBackgroundMenuAnimationClass::base()) << r.type;
        EXPECT_EQ(cls.animationType(), r.type);
        EXPECT_EQ(cls.presentationEdge(), r.edge) << r.type;
        EXPECT_EQ(cls.isMenuBehindContent(), r.menuBehindContent) << r.type;
        EXPECT_EQ(cls.animationFragments(), r.fragments) << r.type;
        auto animation = animationOf(r.type);
        EXPECT_EQ(&animation->animationClass(), &cls);
        Names made;
        for (const auto& fragment : animation->fragments())
            made.emplace_back(fragment->className());
        EXPECT_EQ(made, r.fragments) << r.type;
        EXPECT_EQ(MVBackgroundMenuAnimationRegistry::classForType(r.type), &cls);
    }
    // Built once: the same registry every time.
    EXPECT_EQ(&MVBackgroundMenuAnimationRegistry::backgroundMenuAnimations(), &types);
}

TEST_F(BackgroundMenuAnimationTest, UnknownTypesGiveNoAnimationAndThePlainOneHasNoFragments) {
    EXPECT_FALSE(MVBackgroundMenuAnimation::animationWithType("sideways", host_));
    EXPECT_FALSE(MVBackgroundMenuAnimation::animationWithType("ForegroundLeft", host_));
    auto plain = MVBackgroundMenuAnimation::create();
    EXPECT_TRUE(plain->fragments().empty());
    const auto& base = plain->animationClass();
    EXPECT_EQ(&base, &MVBackgroundMenuAnimationClass::base());
    EXPECT_FALSE(base.animationType());
    EXPECT_EQ(base.presentationEdge(), Edge::None);
    EXPECT_TRUE(base.isMenuBehindContent());
    plain->fractionState(1, true);  // nothing to apply
}

TEST_F(BackgroundMenuAnimationTest, ASeventhClassReusingANameIsRefused) {
    const MVBackgroundMenuAnimationClass seventh{
        .name = "MVBackgroundMenuAnimationForegroundLeftAgain",
        .superclass = &MVBackgroundMenuAnimationForegroundLeft(),
        .ownAnimationType = "foregroundLeft"};
    auto classes = MVBackgroundMenuAnimationRegistry::registeredClasses();
    classes.push_back(&seventh);
    const auto e = exceptionThrownBy<MVBackgroundMenuAnimationTypeGivenTwiceException>(
        [&] { MVBackgroundMenuAnimationRegistry::typesOfClasses(classes); });
    EXPECT_EQ(e.name(), "MVBackgroundMenuAnimation type given twice");
    EXPECT_EQ(e.reason(), "MVBackgroundMenuAnimation type has given twice: \"foregroundLeft\".\n");
    // Under a name of its own it enters, answering what it inherits.
    const MVBackgroundMenuAnimationClass renamed{
        .name = "MVBackgroundMenuAnimationDimmedLeft",
        .superclass = &MVBackgroundMenuAnimationForegroundLeft(),
        .ownAnimationType = "dimmedLeft"};
    classes.back() = &renamed;
    const auto types = MVBackgroundMenuAnimationRegistry::typesOfClasses(classes);
    EXPECT_EQ(types.size(), 7u);
    EXPECT_EQ(types.at("dimmedLeft"), &renamed);
    EXPECT_EQ(renamed.presentationEdge(), Edge::Left);
    EXPECT_FALSE(renamed.isMenuBehindContent());
    EXPECT_EQ(renamed.animationFragments(), (Names{kDarkens, kFromLeft}));
}

TEST_F(BackgroundMenuAnimationTest, AClassThatInheritsItsNameIsRefused) {
    const MVBackgroundMenuAnimationClass quiet{
        .name = "MVBackgroundMenuAnimationQuietLeft",
        .superclass = &MVBackgroundMenuAnimationForegroundLeft()};
    EXPECT_EQ(quiet.animationType(), "foregroundLeft");  // inherited, not defined
    const auto e = exceptionThrownBy<MVBackgroundMenuAnimationTypeNotFoundException>(
        [&] { MVBackgroundMenuAnimationRegistry::typesOfClasses({&quiet}); });
    EXPECT_EQ(e.name(), "MVBackgroundMenuAnimation type not given");
    EXPECT_EQ(e.reason(),
              "MVBackgroundMenuAnimation type not given in subclass: "
              "\"MVBackgroundMenuAnimationQuietLeft\".");
}

TEST_F(BackgroundMenuAnimationTest, AFragmentNameWithoutAClassIsRefused) {
    const MVBackgroundMenuAnimationClass broken{
        .name = "MVBackgroundMenuAnimationBroken",
        .superclass = &MVBackgroundMenuAnimationClass::base(),
        .ownAnimationType = "broken",
        .ownAnimationFragments = Names{kFromLeft, "MVBackgroundMenuAnimationFragmentSpinsClass"}};
    const auto e = exceptionThrownBy<MVBackgroundMenuAnimationFragmentClassNotFoundException>(
        [&] { MVBackgroundMenuAnimation::create(broken, host_); });
    EXPECT_EQ(e.name(), "The MVBackgroundMenuAnimationFragment class couldnt be found");
    EXPECT_EQ(e.reason(),
              "The MVBackgroundMenuAnimationFragment class: "
              "<\"MVBackgroundMenuAnimationFragmentSpinsClass\"> couldnt be found");
}

TEST_F(BackgroundMenuAnimationTest, TheDurationIs045FromSystem7On) {
    EXPECT_EQ(MVBackgroundMenuAnimationClass::duration(), 0.45f);
}

TEST_F(BackgroundMenuAnimationTest, BeforeSystem7TheDurationIs03AndNoSpringIsUsed) {
    platform::Device::current().setSystemVersion("6.1");
    EXPECT_EQ(MVBackgroundMenuAnimationClass::duration(), 0.3f);
    auto animation = animationOf("foregroundLeft");
    platform::clearAnimationLog();
    animation->animatoToFraction(1, 0.3, 500, nullptr);
    const auto runs = platform::animationLog();
    ASSERT_EQ(runs.size(), 1u);
    EXPECT_FALSE(runs[0].spring);
    EXPECT_EQ(runs[0].duration, 0.3);
    EXPECT_EQ(runs[0].delay, 0);
    EXPECT_EQ(runs[0].options, 0x20002u);
}

TEST_F(BackgroundMenuAnimationTest, TargetsWithinAThousandthOfAnEndAreThatEnd) {
    const std::pair<double, double> rows[] = {
        {0.0008, 0}, {0.001, 0}, {0.9991, 1}, {0.3, 0.3}, {1.4, 1},
    };
    for (auto [requested, target] : rows) {
        auto animation = animationOf("foregroundLeft");
        std::vector<bool> finishes;
        animation->animatoToFraction(requested, 0.45, 0, recordInto(finishes));
        auto shadow = shadowOf(*animation);
        EXPECT_EQ(shadow->alpha(), target) << requested;
        platform::advanceBy(0.45);
        EXPECT_EQ(finishes, std::vector<bool>{true}) << requested;
        EXPECT_EQ(shadow->alpha(), target) << requested;
        EXPECT_EQ(shadow->superview() != nullptr, target > 0) << requested;
    }
}

TEST_F(BackgroundMenuAnimationTest, TheSpringTakesTheVelocityOver240CappedAt1) {
    const std::pair<double, double> rows[] = {
        {360, 1}, {60, 0.25}, {-5, 0}, {240, 1},
        {480, 1}, {120, 0.5}, {0, 0},  {std::numeric_limits<double>::quiet_NaN(), 0},
    };
    auto animation = animationOf("pushInFromLeft");
    for (auto [velocity, spring] : rows) {
        platform::clearAnimationLog();
        animation->animatoToFraction(1, 0.45, velocity, nullptr);
        const auto runs = platform::animationLog();
        ASSERT_EQ(runs.size(), 1u);
        EXPECT_TRUE(runs[0].spring);
        EXPECT_EQ(runs[0].springVelocity, spring) << velocity;
        EXPECT_EQ(runs[0].springDamping, 0.699999988079071);
        EXPECT_EQ(runs[0].options, 0x20002u);
        EXPECT_EQ(runs[0].duration, 0.45);
        EXPECT_EQ(runs[0].delay, 0);
        animation->fractionState(0, true);
    }
}

TEST_F(BackgroundMenuAnimationTest, ASecondRunSupersedesTheFirst) {
    auto animation = animationOf("foregroundLeft");
    std::vector<bool> first, second;
    animation->animatoToFraction(1, 0.45, 0, recordInto(first));
    auto shadow = shadowOf(*animation);
    platform::advanceBy(0.1);
    animation->animatoToFraction(0, 0.45, 0, recordInto(second));
    platform::advanceBy(0.4);  // past the first run's end
    EXPECT_TRUE(first.empty());
    EXPECT_EQ(shadow->alpha(), 0);  // the first run's final fraction 1 was never applied
    EXPECT_TRUE(shadow->superview());
    platform::advanceBy(0.1);
    EXPECT_TRUE(first.empty());
    EXPECT_EQ(second, std::vector<bool>{true});
    EXPECT_FALSE(shadow->superview());  // the second run's final fraction 0
}

TEST_F(BackgroundMenuAnimationTest, AnImmediateApplicationCancelsTheRunsFinalization) {
    auto animation = animationOf("foregroundLeft");
    std::vector<bool> finishes;
    animation->animatoToFraction(0, 0.45, 0, recordInto(finishes));
    EXPECT_NE(animation->finalizeAnimationSerial(), 0);
    platform::advanceBy(0.2);
    animation->fractionState(0.5, false);
    EXPECT_EQ(animation->finalizeAnimationSerial(), 0);
    platform::advanceBy(1);
    EXPECT_TRUE(finishes.empty());
    EXPECT_EQ(shadowOf(*animation)->alpha(), 0.5);
    EXPECT_TRUE(shadowOf(*animation)->superview());
}

TEST_F(BackgroundMenuAnimationTest, ARunLeftAloneAppliesItsTargetFinallyThenCompletes) {
    auto animation = animationOf("foregroundLeft");
    animation->fractionState(1, true);
    auto shadow = shadowOf(*animation);
    std::vector<bool> finishes;
    bool removedBeforeCompletion = false;
    animation->animatoToFraction(0, 0.45, 0, [&](bool finished) {
        finishes.push_back(finished);
        removedBeforeCompletion = !shadow->superview();
    });
    platform::advanceBy(0.44);
    EXPECT_TRUE(finishes.empty());
    platform::advanceBy(0.01);
    EXPECT_EQ(finishes, std::vector<bool>{true});
    EXPECT_TRUE(removedBeforeCompletion);

    // A run whose view animations are taken away still finalizes, with the platform's flag.
    animation->fractionState(1, true);
    animation->animatoToFraction(0, 0.45, 0, recordInto(finishes));
    platform::advanceBy(0.1);
    shadow->layer()->removeAllAnimations();
    host_->menuView()->layer()->removeAllAnimations();
    platform::runUntilIdle();
    EXPECT_EQ(finishes, (std::vector<bool>{true, false}));
    EXPECT_FALSE(shadow->superview());
}

TEST_F(BackgroundMenuAnimationTest, RunsOfEveryAnimationShareOneSerialCounter) {
    auto one = animationOf("pushInFromLeft");
    auto other = animationOf("backgroundRight");
    one->animatoToFraction(1, 0.45, 0, nullptr);
    other->animatoToFraction(1, 0.45, 0, nullptr);
    EXPECT_EQ(other->finalizeAnimationSerial(), one->finalizeAnimationSerial() + 1);
    one->animatoToFraction(0, 0.45, 0, nullptr);
    EXPECT_EQ(one->finalizeAnimationSerial(), other->finalizeAnimationSerial() + 1);
}

TEST_F(BackgroundMenuAnimationTest, ADroppedAnimationStillEndsItsRun) {
    auto animation = animationOf("foregroundLeft");
    std::weak_ptr<MVBackgroundMenuAnimation> weak = animation;
    std::vector<bool> finishes;
    animation->animatoToFraction(1, 0.45, 0, recordInto(finishes));
    auto shadow = shadowOf(*animation);
    animation.reset();
    EXPECT_FALSE(weak.expired());  // the run holds it
    platform::advanceBy(0.45);
    EXPECT_EQ(finishes, std::vector<bool>{true});
    platform::runUntilIdle();
    EXPECT_TRUE(weak.expired());
    EXPECT_EQ(shadow->alpha(), 1);
}

TEST_F(BackgroundMenuAnimationTest, AControllerThatHasGoneMakesRunsDoNothing) {
    auto animation = animationOf("backgroundLeft");
    auto content = host_->contentContainerView();
    host_.reset();
    std::vector<bool> finishes;
    animation->willBeginAnimation();
    animation->fractionState(0.5, false);
    animation->animatoToFraction(1, 0.45, 0, recordInto(finishes));
    platform::advanceBy(0.45);
    EXPECT_EQ(finishes, std::vector<bool>{true});
    EXPECT_EQ(content->frame().origin.x, 0);
}

TEST_F(BackgroundMenuAnimationTest, RunsFromClosedReadThePagesWidthFirst) {
    auto animation = animationOf("pushInFromLeft");
    host_->setViewProperties({{"backgroundMenuWidth", 200}});
    host_->asked.clear();
    animation->willBeginAnimation();
    EXPECT_EQ(std::count(host_->asked.begin(), host_->asked.end(), "currentViewProperties"), 2);
    animation->fractionState(1, true);
    EXPECT_EQ(host_->contentContainerView()->frame().origin.x, 200);
    // With a 300-wide menu, its right edge meets the content: only its last 200 points show.
    EXPECT_EQ(host_->menuView()->frame().origin.x, -100);
    animation->didEndAnimation();
    EXPECT_EQ(host_->contentContainerView()->frame().origin.x, 200);
}

TEST_F(BackgroundMenuAnimationTest, PagePropertiesReachTheFragmentsOnlyWhileClosed) {
    auto animation = animationOf("pushInFromLeft");
    animation->menuWebViewDidChangeViewProperties(*webView_, {{"backgroundMenuWidth", 0}}, 0);
    EXPECT_EQ(loggedLevel(kWidthZeroWarning), platform::log::kWarning);
    EXPECT_EQ(pageWidthOf(*animation), 0.0f);  // still passed on

    animation->menuWebViewDidChangeViewProperties(*webView_, {{"backgroundMenuWidth", 120}}, 0.5);
    EXPECT_EQ(pageWidthOf(*animation), 0.0f);  // not while open
    animation->menuWebViewDidChangeViewProperties(*webView_, {{"backgroundMenuWidth", 0.0}}, 1);
    EXPECT_EQ(loggedCount(kWidthZeroWarning), 2u);  // warned whatever the fraction
    animation->menuWebViewDidChangeViewProperties(*webView_, {{"backgroundMenuWidth", 120}}, 0);
    EXPECT_EQ(pageWidthOf(*animation), 120.0f);
    // 1e-50 is 0 in single precision.
    animation->menuWebViewDidChangeViewProperties(*webView_, {{"backgroundMenuWidth", 1e-50}}, 0);
    EXPECT_EQ(loggedCount(kWidthZeroWarning), 3u);
    animation->menuWebViewDidChangeViewProperties(*webView_, {{"backgroundMenuWidth", 120}}, 0);

    // A value that is no number is logged and leaves the width alone.
    animation->menuWebViewDidChangeViewProperties(*webView_, {{"backgroundMenuWidth", "0"}}, 0);
    EXPECT_TRUE(
        logged("MVWebView<1003:Menu> did set view property \"backgroundMenuWidth\" with a "
               "value that is no number (string): ignored."));
    EXPECT_EQ(loggedCount(kWidthZeroWarning), 3u);
    EXPECT_EQ(pageWidthOf(*animation), 120.0f);
    // Without the key the page's width is gone.
    animation->menuWebViewDidChangeViewProperties(*webView_, nlohmann::json::object(), 0);
    EXPECT_FALSE(pageWidthOf(*animation));
    animation->menuWebViewDidChangeViewProperties(*webView_, {{"backgroundMenuWidth", nullptr}}, 0);
    EXPECT_FALSE(pageWidthOf(*animation));

    // The base class does not check the width.
    MVBackgroundMenuAnimation::create()->menuWebViewDidChangeViewProperties(
        *webView_, {{"backgroundMenuWidth", 0}}, 0);
    EXPECT_EQ(loggedCount(kWidthZeroWarning), 3u);
}

}  // namespace
