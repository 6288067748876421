#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "platform/ui/RefreshControl.h"
#include "platform/ui/ScrollView.h"
#include "tests/support/PlatformTest.h"

using namespace platform;

namespace {

class ScrollViewTest : public PlatformTest {};

// Keeps its horizontal origin at the scroll view's horizontal offset, as the web page
// controller's refresh control does.
class PinnedRefreshControl : public RefreshControl {
  public:
    static std::shared_ptr<PinnedRefreshControl> create() {
        return std::shared_ptr<PinnedRefreshControl>(new PinnedRefreshControl());
    }
    void setFrame(const Rect& frame) override {
        Rect f = frame;
        if (auto scroll = std::dynamic_pointer_cast<ScrollView>(superview()))
            f.origin.x = scroll->contentOffset().x;
        RefreshControl::setFrame(f);
    }
};

// A controller's side of pull to refresh: reloads unless it is loading already.
struct PageController {
    bool loading = false;
    int reloads = 0;
    void refreshControlDidChangeValue(RefreshControl& control) {
        if (control.isRefreshing() && !loading) ++reloads;
    }
};

void connect(RefreshControl& control, const std::shared_ptr<PageController>& controller) {
    if (!control.actionsForTarget(controller.get(), kControlEventValueChanged).empty()) return;
    control.addTarget(controller, "refreshControlDidChangeValue:", kControlEventValueChanged,
                      [c = controller.get()](Control& sender) {
                          c->refreshControlDidChangeValue(static_cast<RefreshControl&>(sender));
                      });
}

}  // namespace

TEST_F(ScrollViewTest, OffsetIsTheBoundsOrigin) {
    auto scroll = ScrollView::create(Rect(0, 0, 320, 480));
    EXPECT_EQ(scroll->contentOffset(), (Point{0, 0}));
    scroll->setContentOffset({0, -64});
    EXPECT_EQ(scroll->bounds(), Rect(0, -64, 320, 480));
    EXPECT_EQ(scroll->frame(), Rect(0, 0, 320, 480));

    // A subview at content y 100 shows 64 points lower on screen.
    auto container = View::create(Rect(0, 0, 320, 480));
    container->addSubview(scroll);
    auto child = View::create(Rect(0, 100, 10, 10));
    scroll->addSubview(child);
    EXPECT_EQ(child->convertPointToView({0, 0}, container.get()), (Point{0, 164}));
}

TEST_F(ScrollViewTest, FlagsStartAsOnThePlatform) {
    auto scroll = ScrollView::create();
    EXPECT_TRUE(scroll->isScrollEnabled() && scroll->bounces() && scroll->scrollsToTop());
    EXPECT_FALSE(scroll->alwaysBounceVertical() || scroll->alwaysBounceHorizontal());
    EXPECT_TRUE(scroll->showsVerticalScrollIndicator() && scroll->showsHorizontalScrollIndicator());
    EXPECT_TRUE(scroll->delaysContentTouches() && scroll->canCancelContentTouches());
    EXPECT_EQ(scroll->decelerationRate(), kScrollViewDecelerationRateNormal);
    EXPECT_EQ(kScrollViewDecelerationRateFast, 0.99);
}

TEST_F(ScrollViewTest, RefreshControlSitsAboveTheContentAndFollowsSidewaysScrolling) {
    auto scroll = ScrollView::create(Rect(0, 0, 320, 480));
    auto control = PinnedRefreshControl::create();
    scroll->addSubview(control);
    EXPECT_EQ(control->frame(), Rect(0, -60, 320, 60));

    scroll->setContentOffset({25, 300});
    EXPECT_EQ(control->frame(), Rect(25, -60, 320, 60));
    scroll->setFrame(Rect(0, 0, 480, 320));
    EXPECT_EQ(control->frame(), Rect(25, -60, 480, 60));

    // A plain refresh control keeps x at 0.
    auto plain = RefreshControl::create();
    scroll->addSubview(plain);
    EXPECT_EQ(plain->frame(), Rect(0, -60, 480, 60));
}

TEST_F(ScrollViewTest, PullBeginsRefreshingAndSendsValueChanged) {
    auto scroll = ScrollView::create(Rect(0, 0, 320, 480));
    auto control = RefreshControl::create();
    scroll->addSubview(control);
    auto controller = std::make_shared<PageController>();
    connect(*control, controller);
    connect(*control, controller);  // connected once only

    // Code that begins or ends refreshing sends nothing.
    control->beginRefreshing();
    EXPECT_TRUE(control->isRefreshing());
    EXPECT_FALSE(control->pullForTesting());  // already spinning
    control->endRefreshing();
    EXPECT_FALSE(control->isRefreshing());
    EXPECT_EQ(controller->reloads, 0);

    EXPECT_TRUE(control->pullForTesting());
    EXPECT_TRUE(control->isRefreshing());
    EXPECT_EQ(controller->reloads, 1);

    // While the page loads a pull only shows the spinner.
    control->endRefreshing();
    controller->loading = true;
    EXPECT_TRUE(control->pullForTesting());
    EXPECT_TRUE(control->isRefreshing());
    EXPECT_EQ(controller->reloads, 1);

    control->endRefreshing();
    control->setEnabled(false);
    EXPECT_FALSE(control->pullForTesting());
}
