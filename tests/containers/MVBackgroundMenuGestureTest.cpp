// The screen-edge drag of a background menu: when a pan begins, the fraction it makes
// with its elastic stretch, how a release decides, the events of a reversed drag, the
// removal in the middle of a pan and the recognizer registry.
#include "libmerovane/containers/MVBackgroundMenuGestureRecognizerScreenEdge.h"
#include "platform/ui/Application.h"
#include "tests/containers/BackgroundMenuAnimationStandIn.h"
#include "tests/containers/MVBackgroundMenuTestFixture.h"

namespace {

using Names = std::vector<std::string>;
using platform::Point;

class MVBackgroundMenuGestureTest : public MVBackgroundMenuTest {
  protected:
    // A 300-point menu of the type with the screen-edge recognizer; the page sets its
    // width to `menuWidth` unless that is 0.
    void setUpMenu(const std::string& type, double menuWidth = 300) {
        page = setMenu(type, "screenEdge");
        if (menuWidth > 0) page->setViewProperties({{"backgroundMenuWidth", menuWidth}});
        recognizer = std::dynamic_pointer_cast<MVBackgroundMenuGestureRecognizerScreenEdge>(
            controller->menuGestureRecognizer());
        ASSERT_TRUE(recognizer);
        pan = recognizer->panGestureRecognizer();
    }
    bool began() const { return pan->state() == platform::GestureRecognizerState::Began; }
    // The page's events from the `from`th on.
    Names eventsFrom(size_t from) const {
        auto names = page->eventNames();
        return Names(names.begin() + std::min(from, names.size()), names.end());
    }

    std::shared_ptr<ContainerPage> page;
    std::shared_ptr<MVBackgroundMenuGestureRecognizerScreenEdge> recognizer;
    std::shared_ptr<platform::PanGestureRecognizer> pan;
};

struct BeginRow {
    const char* type;
    Point location;
    Point velocity;
    bool begins;
};

class PanBegins : public MVBackgroundMenuGestureTest,
                  public ::testing::WithParamInterface<BeginRow> {};

TEST_P(PanBegins, OnAClosedMenu) {
    const BeginRow& row = GetParam();
    setUpMenu(row.type);
    pan->begin(row.location, row.velocity);
    EXPECT_EQ(began(), row.begins);
}

INSTANTIATE_TEST_SUITE_P(
    Rows, PanBegins,
    ::testing::Values(
        // Left edge, 375 wide.
        BeginRow{"foregroundLeft", {20, 300}, {300, 10}, true},   // fast: 20 <= 50, <= 37.5
        BeginRow{"foregroundLeft", {30, 300}, {150, 0}, false},   // too slow, beyond 25
        BeginRow{"foregroundLeft", {40, 300}, {250, 0}, false},   // 40 > 31.25
        BeginRow{"foregroundLeft", {20, 300}, {40, 10}, true},    // slow, within 25
        BeginRow{"foregroundLeft", {20, 300}, {10, 40}, false},   // mostly vertical
        BeginRow{"foregroundLeft", {360, 300}, {-10, 0}, false},  // the other edge
        // Right edge.
        BeginRow{"foregroundRight", {335, 300}, {-400, 0}, true},   // fast: 40 <= 50
        BeginRow{"foregroundRight", {335, 300}, {-250, 0}, false},  // 40 > 31.25
        BeginRow{"foregroundRight", {360, 300}, {0, 300}, false},   // |n.y| = 1
        BeginRow{"foregroundRight", {360, 300}, {-10, 0}, true}));  // slow, within 25

TEST_F(MVBackgroundMenuGestureTest, DragStretchesBeyondOpenAndClosed) {
    setUpMenu("foregroundLeft");
    pan->begin({10, 300}, {300, 0});
    ASSERT_TRUE(began());
    pan->move({150, 0});
    EXPECT_EQ(controller->viewState(), 5);
    EXPECT_DOUBLE_EQ(controller->currentFraction(), 0.5);
    EXPECT_EQ(controller->menuView()->frame().origin.x, -150);
    pan->move({450, 0});  // 2 widths: 1 + 1 * 0.25
    EXPECT_DOUBLE_EQ(controller->currentFraction(), 1.25);
    pan->move({600, 0});  // held at 3 widths
    EXPECT_DOUBLE_EQ(controller->currentFraction(), 1.5);
    EXPECT_EQ(page->eventNames(), Names{"viewWillAppear"});
    EXPECT_EQ(page->parametersOf("viewWillAppear")[0], nlohmann::json::array({false}));
    pan->end(Point{300, 0});
    platform::advanceBy(2);

    ASSERT_EQ(controller->viewState(), 3);
    pan->begin({200, 300}, {-300, 0});
    ASSERT_TRUE(began());
    pan->move({-360, 0});  // (-1.2 + 1) widths, times 0.25
    EXPECT_EQ(controller->viewState(), 6);
    EXPECT_DOUBLE_EQ(controller->currentFraction(), -0.05);
}

struct ReleaseRow {
    double distance;  // in the opening direction
    double velocity;
    bool opens;
};

class Releases : public MVBackgroundMenuGestureTest,
                 public ::testing::WithParamInterface<ReleaseRow> {};

TEST_P(Releases, DecideByVelocityElseByFraction) {
    const ReleaseRow& row = GetParam();
    setUpMenu("foregroundLeft");
    pan->begin({10, 300}, {300, 0});
    ASSERT_TRUE(began());
    pan->move({row.distance, 0});
    platform::clearAnimationLog();
    pan->end(Point{row.velocity, 0});
    EXPECT_EQ(controller->viewState(), row.opens ? 2 : 4);
    // Twice the type's duration, no speed factor.
    EXPECT_EQ(lastRun().duration, 0.8999999761581421);
    EXPECT_TRUE(lastRun().spring);
    platform::advanceBy(1);
    EXPECT_EQ(controller->viewState(), row.opens ? 3 : 1);
}

INSTANTIATE_TEST_SUITE_P(Rows, Releases,
                         ::testing::Values(ReleaseRow{210, -30, false},  // fast, closing way
                                           ReleaseRow{135, 10, false},   // slow at 0.45
                                           ReleaseRow{180, 15, true},    // slow at 0.6
                                           ReleaseRow{270, -25, false},  // fast at 0.9
                                           ReleaseRow{30, 25, true}));   // fast at 0.1

TEST_F(MVBackgroundMenuGestureTest, ReleasingFastGivesTheSpringItsFullVelocity) {
    setUpMenu("foregroundLeft");
    pan->begin({10, 300}, {300, 0});
    pan->move({90, 0});
    pan->end(Point{300, 0});
    EXPECT_EQ(lastRun().springVelocity, 1);
}

TEST_F(MVBackgroundMenuGestureTest, ReversedDragsPairTheEvents) {
    setUpMenu("foregroundLeft");
    open();
    const size_t opened = page->eventNames().size();
    pan->begin({200, 300}, {-300, 0});
    pan->move({-60, 0});
    pan->end(Point{300, 0});
    platform::advanceBy(2);
    EXPECT_EQ(eventsFrom(opened),
              (Names{"viewWillDisappear", "viewDidDisappear", "viewWillAppear", "viewDidAppear"}));
    for (const char* name : {"viewWillDisappear", "viewDidDisappear", "viewWillAppear"})
        EXPECT_EQ(page->parametersOf(name).back(), nlohmann::json::array({false})) << name;
    EXPECT_EQ(page->events().back().parameters, nlohmann::json::array({false}));

    // Dragged open from closed and let go closing: appeared, then disappeared.
    controller->hideWithSpeedFactor(std::nullopt);
    platform::advanceBy(2);
    const size_t closed = page->eventNames().size();
    pan->begin({10, 300}, {300, 0});
    pan->move({60, 0});
    pan->end(Point{-300, 0});
    platform::advanceBy(2);
    EXPECT_EQ(eventsFrom(closed),
              (Names{"viewWillAppear", "viewDidAppear", "viewWillDisappear", "viewDidDisappear"}));
}

TEST_F(MVBackgroundMenuGestureTest, RemovalInTheMiddleOfAPanMovesNothing) {
    setUpMenu("foregroundLeft");
    pan->begin({10, 300}, {300, 0});
    pan->move({150, 0});
    const platform::Rect frame = controller->menuView()->frame();
    platform::clearAnimationLog();
    controller->setMenuGestureRecognizer(nullptr);
    platform::advanceBy(2);
    EXPECT_FALSE(pan->view());
    EXPECT_EQ(recognizer->gestureState(), 1);
    EXPECT_EQ(controller->viewState(), 5);
    EXPECT_DOUBLE_EQ(controller->currentFraction(), 0.5);
    EXPECT_EQ(controller->menuView()->frame(), frame);
    EXPECT_TRUE(platform::animationLog().empty());
}

TEST_F(MVBackgroundMenuGestureTest, DraggedMenuAnswersForTheStatusBarFromHalfOpen) {
    auto& application = platform::Application::shared();
    setUpMenu("foregroundLeft");
    page->chooseStatusBarStyle("light");
    pan->begin({10, 300}, {300, 0});
    pan->move({120, 0});
    EXPECT_EQ(application.statusBarStyle(), platform::StatusBarStyle::Default);
    pan->move({60, 0});
    EXPECT_EQ(application.statusBarStyle(), platform::StatusBarStyle::LightContent);
}

TEST_F(MVBackgroundMenuGestureTest, WithoutAWidthOnlyAQuickSwipeOpens) {
    setUpMenu("foregroundLeft", 0);
    EXPECT_EQ(recognizer->menuWidth(), 0);
    pan->begin({10, 300}, {300, 0});
    pan->move({200, 0});
    EXPECT_EQ(controller->currentFraction(), 0);
    pan->end(Point{300, 0});
    EXPECT_EQ(controller->viewState(), 2);
}

TEST_F(MVBackgroundMenuGestureTest, ThePanSharesNothingAndOthersWaitForIt) {
    setUpMenu("foregroundLeft");
    auto other = platform::PanGestureRecognizer::create();
    EXPECT_EQ(recognizer->shouldRecognizeSimultaneously(*pan, *other), false);
    EXPECT_EQ(recognizer->shouldRecognizeSimultaneously(*other, *pan), false);
}

TEST(MVBackgroundMenuGestureRegistry, NamesScreenEdgeAndRefusesBadClasses) {
    const auto& types =
        MVBackgroundMenuGestureRecognizerRegistry::backgroundMenuGestureRecognizers();
    ASSERT_EQ(types.size(), 1u);
    EXPECT_EQ(types.begin()->first, "screenEdge");
    EXPECT_FALSE(MVBackgroundMenuGestureRecognizer::recognizerWithType("swipe"));

    const MVBackgroundMenuGestureRecognizerClass inherits{
        "MVInheritingRecognizer", std::nullopt, {}};
    auto e = exceptionThrownBy<MVBackgroundMenuGestureRecognizerTypeNotFoundException>(
        [&] { MVBackgroundMenuGestureRecognizerRegistry::typesOfClasses({&inherits}); });
    EXPECT_EQ(e.name(), "MVBackgroundMenuGestureRecognizer type not given");
    EXPECT_EQ(e.reason(),
              "MVBackgroundMenugesturerecognizer type not given in subclass: "
              "\"MVInheritingRecognizer\".");

    const MVBackgroundMenuGestureRecognizerClass twice{"MVSecondScreenEdge", "screenEdge", {}};
    const auto* screenEdge = types.begin()->second;
    e = exceptionThrownBy<MVBackgroundMenuGestureRecognizerTypeGivenTwiceException>([&] {
        MVBackgroundMenuGestureRecognizerRegistry::typesOfClasses({screenEdge, &twice});
    });
    EXPECT_EQ(e.name(), "MVBackgroundMenuGestureRecognizer type given twice");
    EXPECT_EQ(e.reason(),
              "MVBackgroundMenuGestureRecognizer type has given twice: \"screenEdge\".\n");
}

}  // namespace
