// The chain of containers: building it from class names, the pass-through containers,
// the inset flow and the status-bar questions.
#include <gtest/gtest.h>

#include "libmerovane/bridge/MVStatusBarStyle.h"
#include "libmerovane/containers/MVViewControllerHierarchy.h"
#include "platform/ui/Application.h"
#include "platform/ui/View.h"
#include "platform/ui/Window.h"
#include "tests/support/PlatformTest.h"

namespace {

using platform::EdgeInsets;
using platform::Rect;
using platform::StatusBarStyle;
using Controller = MVViewControllerHierarchy::Controller;

// A container that records the insets it is given and counts the status-bar questions;
// otherwise it behaves as the base.
class RecordingContainer : public MVContainerViewController {
  public:
    static std::shared_ptr<RecordingContainer> create(std::string name) {
        auto container = std::shared_ptr<RecordingContainer>(new RecordingContainer);
        container->name = std::move(name);
        return container;
    }
    void viewShouldAdjustInsets(const EdgeInsets& insets, bool animated) override {
        insetCalls.push_back({insets, animated});
        MVContainerViewController::viewShouldAdjustInsets(insets, animated);
    }
    StatusBarStyle preferredStatusBarStyle() const override {
        ++styleQuestions;
        return MVContainerViewController::preferredStatusBarStyle();
    }
    std::shared_ptr<MVStatusBarStyle> overlayStatusBarStyle() const override { return overlay; }

    std::string name;
    std::vector<std::pair<EdgeInsets, bool>> insetCalls;
    mutable int styleQuestions = 0;
    std::shared_ptr<MVStatusBarStyle> overlay;  // the style of a responsible overlay
};

const char* const kChain[] = {"MVSplashScreenController",
                              "MVNotificationController",
                              "MVScannerViewController",
                              "MVBackgroundMenuController",
                              "MVBackgroundMenuController",
                              "MVMenuBarController",
                              "MVTabController"};

class MVViewControllerHierarchyTest : public PlatformTest {
  protected:
    void SetUp() override {
        PlatformTest::SetUp();
        MVViewControllerHierarchy::install();
    }
    void TearDown() override {
        MVViewControllerHierarchyInterface::setBuilder(nullptr);
        PlatformTest::TearDown();
    }

    // Recording containers under every name of the chain.
    void installRecordingClasses() {
        for (const char* name : kChain)
            MVViewControllerHierarchy::installContainerClass(
                name, [name] { return RecordingContainer::create(name); });
    }
    // The host's seven infos; the menu bar gets its first insets from `statusBarFrame`.
    static std::vector<MVViewControllerInfo> hostInfos(Rect statusBarFrame) {
        std::vector<MVViewControllerInfo> infos;
        for (const char* name : kChain) infos.push_back({name, nullptr});
        infos[5].configuration = [statusBarFrame](const Controller& menuBar) {
            std::dynamic_pointer_cast<MVViewHierarchyDelegate>(menuBar)->viewShouldAdjustInsets(
                MVViewControllerHierarchy::statusBarInsets(statusBarFrame), false);
        };
        return infos;
    }
    static std::shared_ptr<RecordingContainer> recording(const Controller& controller) {
        return std::dynamic_pointer_cast<RecordingContainer>(controller);
    }
};

TEST_F(MVViewControllerHierarchyTest, SevenContainersAreChainedInListOrder) {
    installRecordingClasses();
    auto infos = hostInfos(Rect(0, 0, 375, 20));
    bool unlinkedWhenConfigured = false;
    infos[1].configuration = [&](const Controller& controller) {
        unlinkedWhenConfigured =
            !controller->parentViewController() && !recording(controller)->contentViewController();
        controller->view()->setClipsToBounds(true);
    };
    auto hierarchy = MVViewControllerHierarchyInterface::hierarchyWithControllers(infos);
    ASSERT_TRUE(hierarchy);
    auto controllers = hierarchy->viewControllers();
    ASSERT_EQ(controllers.size(), 7u);
    const Rect first = controllers[0]->view()->frame();
    for (size_t n = 0; n < 7; ++n) EXPECT_EQ(recording(controllers[n])->name, kChain[n]);
    for (size_t n = 1; n < 7; ++n) {
        SCOPED_TRACE(n);
        auto previous = recording(controllers[n - 1]);
        EXPECT_EQ(previous->contentViewController(), controllers[n]);
        EXPECT_EQ(controllers[n]->parentViewController(), previous);
        EXPECT_EQ(previous->childViewControllers(), std::vector<Controller>{controllers[n]});
        const auto& view = controllers[n]->view();
        EXPECT_EQ(view->autoresizingMask(), 18u);
        EXPECT_TRUE(view->autoresizesSubviews());
        EXPECT_EQ(view->frame(), previous->view()->bounds());
        EXPECT_EQ(view->superview(), previous->contentContainerView());
    }
    EXPECT_TRUE(unlinkedWhenConfigured);
    EXPECT_TRUE(controllers[1]->view()->clipsToBounds());
    EXPECT_FALSE(controllers[0]->parentViewController());
    EXPECT_EQ(controllers[0]->view()->frame(), first);

    // The window sizes the first container; every later one follows it.
    auto window = platform::Window::create(Rect(0, 0, 200, 300));
    window->setRootViewController(controllers[0]);
    EXPECT_EQ(window->rootViewController(), controllers[0]);
    EXPECT_EQ(controllers[6]->view()->bounds(), Rect(0, 0, 200, 300));
    EXPECT_EQ(recording(controllers[6])->contentContainerView()->bounds(), Rect(0, 0, 200, 300));
}

class StatusBarFrames : public MVViewControllerHierarchyTest,
                        public ::testing::WithParamInterface<Rect> {};

TEST_P(StatusBarFrames, TheMenuBarGetsTheBarsThicknessOnTop) {
    installRecordingClasses();
    auto hierarchy =
        MVViewControllerHierarchyInterface::hierarchyWithControllers(hostInfos(GetParam()));
    auto controllers = hierarchy->viewControllers();
    EdgeInsets top20;
    top20.top = 20;
    using Calls = std::vector<std::pair<EdgeInsets, bool>>;
    EXPECT_EQ(recording(controllers[5])->insetCalls, (Calls{{top20, false}}));
    // configured before it had content
    for (size_t n : {0, 1, 2, 3, 4, 6}) EXPECT_TRUE(recording(controllers[n])->insetCalls.empty());
}

INSTANTIATE_TEST_SUITE_P(BothOrientations, StatusBarFrames,
                         ::testing::Values(Rect(0, 0, 375, 20), Rect(0, 0, 20, 667)));

TEST_F(MVViewControllerHierarchyTest, EmptyHierarchyAnswersNull) {
    auto hierarchy = MVViewControllerHierarchy::hierarchyWithControllers({});
    EXPECT_TRUE(hierarchy->viewControllers().empty());
    EXPECT_FALSE(hierarchy->view());
    EXPECT_FALSE(hierarchy->lastViewController());
}

TEST_F(MVViewControllerHierarchyTest, UnknownClassNamesBuildNothing) {
    EXPECT_FALSE(MVViewControllerHierarchyInterface::hierarchyWithControllers(
        {{"MVTabController", nullptr}, {"MVNoSuchController", nullptr}}));
    EXPECT_TRUE(logged("no container class \"MVNoSuchController\""));
    MVViewControllerHierarchy::installContainerClass("MVNoSuchController",
                                                     [] { return RecordingContainer::create(""); });
    EXPECT_TRUE(logged("\"MVNoSuchController\" is no container class of the chain"));
    EXPECT_FALSE(MVViewControllerHierarchy::containerClass("MVNoSuchController"));
}

TEST_F(MVViewControllerHierarchyTest, AnEmptyFactoryBringsThePassThroughContainerBack) {
    MVViewControllerHierarchy::installContainerClass(
        "MVTabController", [] { return RecordingContainer::create("tabs"); });
    EXPECT_TRUE(recording(MVViewControllerHierarchy::containerClass("MVTabController")()));
    MVViewControllerHierarchy::installContainerClass("MVTabController", nullptr);
    auto tabs = MVViewControllerHierarchy::containerClass("MVTabController")();
    EXPECT_FALSE(recording(tabs));
    EXPECT_TRUE(std::dynamic_pointer_cast<MVContainerViewController>(tabs));
}

TEST_F(MVViewControllerHierarchyTest, PassThroughContainersAnswerTheirFallbackStyles) {
    MVStatusBarStyle::setStatusBarStyleAsAppDefault(MVStatusBarStyle("light"));
    for (const char* name : kChain) {
        auto container = MVViewControllerHierarchy::containerClass(name)();
        const bool splash = std::string(name) == "MVSplashScreenController";
        EXPECT_EQ(container->preferredStatusBarStyle(),
                  splash ? StatusBarStyle::Default : StatusBarStyle::LightContent)
            << name;
        EXPECT_FALSE(container->prefersStatusBarHidden()) << name;
    }
}

TEST_F(MVViewControllerHierarchyTest, DefaultStyleChangeReachesTheRootOnce) {
    MVViewControllerHierarchy::installContainerClass(
        "MVSplashScreenController", [] { return RecordingContainer::create("splash"); });
    std::vector<MVViewControllerInfo> infos;
    for (const char* name : kChain) infos.push_back({name, nullptr});
    auto controllers =
        MVViewControllerHierarchyInterface::hierarchyWithControllers(infos)->viewControllers();
    auto root = recording(controllers[0]);
    auto window = platform::Window::create(Rect(0, 0, 375, 667));
    window->setRootViewController(root);
    window->makeKeyAndVisible();
    auto appDefault = MVStatusBarStyle::statusBarStyleAppDefault();
    EXPECT_EQ(root->preferredStatusBarStyle(), StatusBarStyle::Default);
    root->styleQuestions = 0;

    MVStatusBarStyle::setStatusBarStyleAsAppDefault(*MVStatusBarStyle::statusBarStyleLight());

    EXPECT_EQ(MVStatusBarStyle::statusBarStyleAppDefault(), appDefault);
    EXPECT_EQ(appDefault->preferredStatusbarStyle(), StatusBarStyle::LightContent);
    EXPECT_EQ(root->styleQuestions, 1);
    EXPECT_EQ(platform::Application::shared().statusBarStyle(), StatusBarStyle::LightContent);
}

TEST_F(MVViewControllerHierarchyTest, OverlayThenContentThenFallbackAnswer) {
    auto outer = RecordingContainer::create("outer");
    auto inner = RecordingContainer::create("inner");
    EXPECT_FALSE(outer->prefersStatusBarHidden());  // fallback: the application default

    outer->setContentViewController(inner);
    inner->overlay = MVStatusBarStyle::statusBarStyleNone();
    EXPECT_TRUE(outer->prefersStatusBarHidden());  // the content's overlay

    outer->overlay = MVStatusBarStyle::statusBarStyleLight();
    EXPECT_EQ(outer->preferredStatusBarStyle(), StatusBarStyle::LightContent);
    EXPECT_FALSE(outer->prefersStatusBarHidden());  // its own overlay first
}

TEST_F(MVViewControllerHierarchyTest, ContentIsExchangedAndInsetsReachOnlyContentThatTakesThem) {
    auto container = RecordingContainer::create("container");
    auto first = RecordingContainer::create("first");
    auto plain = platform::ViewController::create();

    container->setContentViewController(first);
    EXPECT_EQ(first->view()->superview(), container->contentContainerView());
    container->setContentViewController(plain);
    EXPECT_FALSE(first->view()->superview());
    EXPECT_EQ(plain->view()->superview(), container->contentContainerView());

    EdgeInsets insets;
    insets.bottom = 49;
    container->viewShouldAdjustInsets(insets, true);  // a plain controller takes none
    container->setContentViewController(first);
    container->viewShouldAdjustInsets(insets, true);
    EXPECT_EQ(first->insetCalls, (std::vector<std::pair<EdgeInsets, bool>>{{insets, true}}));

    container->setContentViewController(nullptr);
    EXPECT_FALSE(first->view()->superview());
    EXPECT_FALSE(container->contentViewController());
}

}  // namespace
