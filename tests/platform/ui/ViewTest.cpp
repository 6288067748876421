#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "platform/foundation/Exception.h"
#include "platform/ui/Application.h"
#include "platform/ui/Layer.h"
#include "platform/ui/View.h"
#include "platform/ui/Window.h"
#include "tests/support/PlatformTest.h"

using namespace platform;

namespace {

class ViewTest : public PlatformTest {};

std::shared_ptr<View> make(double x, double y, double w, double h) {
    return View::create(Rect(x, y, w, h));
}

// Records window moves and touches.
class RecordingView : public View {
  public:
    static std::shared_ptr<RecordingView> create(const Rect& frame, std::vector<std::string>* log,
                                                 std::string name, bool takesTouches = false) {
        auto v = std::shared_ptr<RecordingView>(new RecordingView(frame));
        v->log_ = log;
        v->name_ = std::move(name);
        v->takesTouches_ = takesTouches;
        return v;
    }
    void willMoveToWindow(Window* w) override {
        log_->push_back(name_ + (w ? " will+" : " will-"));
    }
    void didMoveToWindow() override { log_->push_back(name_ + (window() ? " did+" : " did-")); }
    void touchesBegan(const Touch& t) override {
        if (!takesTouches_) return View::touchesBegan(t);
        const Point p = t.locationInView(this);
        log_->push_back(name_ + " began " + toString(p));
    }
    void touchesEnded(const Touch& t) override {
        if (!takesTouches_) return View::touchesEnded(t);
        log_->push_back(name_ + " ended");
    }

  private:
    using View::View;
    std::vector<std::string>* log_ = nullptr;
    std::string name_;
    bool takesTouches_ = false;
};

std::vector<const View*> order(const View& v) {
    std::vector<const View*> out;
    for (auto& s : v.subviews()) out.push_back(s.get());
    return out;
}

std::vector<const Layer*> layerOrder(const View& v) {
    std::vector<const Layer*> out;
    for (auto& s : v.layer()->sublayers()) out.push_back(s.get());
    return out;
}

}  // namespace

TEST_F(ViewTest, FrameBoundsAndCenterAgree) {
    auto v = make(10, 20, 100, 50);
    EXPECT_EQ(v->frame(), Rect(10, 20, 100, 50));
    EXPECT_EQ(v->bounds(), Rect(0, 0, 100, 50));
    EXPECT_EQ(v->center(), (Point{60, 45}));
    EXPECT_EQ(toString(v->frame()), "{{10, 20}, {100, 50}}");

    v->setCenter({100, 100});
    EXPECT_EQ(v->frame(), Rect(50, 75, 100, 50));
    v->setBounds(Rect(5, 5, 40, 40));
    EXPECT_EQ(v->frame(), Rect(80, 80, 40, 40));
    EXPECT_EQ(v->center(), (Point{100, 100}));

    // A transform changes the frame around the center, not the bounds.
    v->setTransform(AffineTransform::scale(2, 2));
    EXPECT_EQ(v->frame(), Rect(60, 60, 80, 80));
    EXPECT_EQ(v->bounds(), Rect(5, 5, 40, 40));
}

TEST_F(ViewTest, SubviewOrderFollowsEveryInsertion) {
    auto parent = make(0, 0, 100, 100);
    auto a = make(0, 0, 1, 1), b = make(0, 0, 1, 1), c = make(0, 0, 1, 1), d = make(0, 0, 1, 1);
    parent->addSubview(a);
    parent->addSubview(b);
    parent->insertSubview(c, 0);       // c a b
    parent->insertSubviewAbove(d, c);  // c d a b
    EXPECT_EQ(order(*parent), (std::vector<const View*>{c.get(), d.get(), a.get(), b.get()}));
    parent->insertSubviewBelow(b, c);  // b c d a
    EXPECT_EQ(order(*parent), (std::vector<const View*>{b.get(), c.get(), d.get(), a.get()}));
    parent->bringSubviewToFront(c);  // b d a c
    parent->sendSubviewToBack(a);    // a b d c
    EXPECT_EQ(order(*parent), (std::vector<const View*>{a.get(), b.get(), d.get(), c.get()}));
    parent->addSubview(b);         // adding again moves to the front: a d c b
    parent->insertSubview(d, 99);  // past the end: a c b d
    EXPECT_EQ(order(*parent), (std::vector<const View*>{a.get(), c.get(), b.get(), d.get()}));
    // The layers keep the same order.
    EXPECT_EQ(layerOrder(*parent), (std::vector<const Layer*>{a->layer().get(), c->layer().get(),
                                                              b->layer().get(), d->layer().get()}));
    c->removeFromSuperview();
    EXPECT_EQ(c->layer()->superlayer(), nullptr);
    // A layer added without a view keeps its place among the views' layers.
    auto extra = Layer::create();
    parent->layer()->addSublayer(extra);
    parent->insertSubview(c, 0);
    EXPECT_EQ(layerOrder(*parent),
              (std::vector<const Layer*>{c->layer().get(), a->layer().get(), b->layer().get(),
                                         d->layer().get(), extra.get()}));
    // Moving to another superview takes the view and its layer from the old one.
    auto other = make(0, 0, 10, 10);
    other->addSubview(c);
    EXPECT_EQ(order(*parent), (std::vector<const View*>{a.get(), b.get(), d.get()}));
    EXPECT_EQ(layerOrder(*parent).size(), 4u);
    // Inserted relative to a view that is no subview: to the front.
    auto stranger = make(0, 0, 1, 1);
    other->insertSubviewBelow(a, stranger);
    EXPECT_EQ(order(*other), (std::vector<const View*>{c.get(), a.get()}));
}

TEST_F(ViewTest, AddingAViewToItselfOrItsSubtreeThrows) {
    auto top = make(0, 0, 10, 10), mid = make(0, 0, 10, 10);
    top->addSubview(mid);
    for (auto* target : {top.get(), mid.get()}) {
        try {
            target->addSubview(top);
            FAIL() << "expected an exception";
        } catch (const Exception& e) {
            EXPECT_EQ(e.name(), kInvalidArgumentException);
        }
    }
    EXPECT_EQ(mid->superview(), top);
}

TEST_F(ViewTest, AutoresizingFollowsThePlatformArithmeticThroughARotation) {
    auto window = Window::create(Rect(0, 0, 320, 480));
    auto root = make(0, 0, 320, 480);
    root->setAutoresizingMask(18);  // flexible width and height
    window->addSubview(root);
    auto content = make(0, 64, 320, 367);
    content->setAutoresizingMask(18);
    auto bar = make(0, 0, 320, 44);
    bar->setAutoresizingMask(34);  // flexible width and bottom margin
    root->addSubview(content);
    root->addSubview(bar);

    window->setFrame(Rect(0, 0, 480, 320));
    EXPECT_EQ(root->frame(), Rect(0, 0, 480, 320));
    EXPECT_EQ(content->frame(), Rect(0, 64, 480, 207));
    EXPECT_EQ(bar->frame(), Rect(0, 0, 480, 44));

    window->setFrame(Rect(0, 0, 320, 480));
    EXPECT_EQ(root->frame(), Rect(0, 0, 320, 480));
    EXPECT_EQ(content->frame(), Rect(0, 64, 320, 367));
    EXPECT_EQ(bar->frame(), Rect(0, 0, 320, 44));
}

TEST_F(ViewTest, AutoresizingSharesTheDeltaAmongFlexibleParts) {
    struct Row {
        unsigned mask;
        Rect before;  // in a 300 x 300 superview that grows to 600 x 450
        Rect after;
    } rows[] = {
        {0, Rect(10, 10, 100, 100), Rect(10, 10, 100, 100)},
        // Both side margins flexible: shared in proportion (100 : 100).
        {kAutoresizingFlexibleLeftMargin | kAutoresizingFlexibleRightMargin, Rect(100, 0, 100, 10),
         Rect(250, 0, 100, 10)},
        // Margin 50 and width 100 flexible: 100 and 200 of the 300 more.
        {kAutoresizingFlexibleLeftMargin | kAutoresizingFlexibleWidth, Rect(50, 0, 100, 10),
         Rect(150, 0, 300, 10)},
        // All three flexible, 60 : 120 : 120.
        {kAutoresizingFlexibleLeftMargin | kAutoresizingFlexibleWidth |
             kAutoresizingFlexibleRightMargin,
         Rect(60, 0, 120, 10), Rect(120, 0, 240, 10)},
        // Flexible parts of size zero share equally.
        {kAutoresizingFlexibleLeftMargin | kAutoresizingFlexibleRightMargin, Rect(0, 0, 300, 10),
         Rect(150, 0, 300, 10)},
        // Vertically: top margin flexible only; 150 more.
        {kAutoresizingFlexibleTopMargin, Rect(0, 100, 10, 50), Rect(0, 250, 10, 50)},
    };
    for (auto& r : rows) {
        auto parent = make(0, 0, 300, 300);
        auto v = View::create(r.before);
        v->setAutoresizingMask(r.mask);
        parent->addSubview(v);
        parent->setFrame(Rect(0, 0, 600, 450));
        EXPECT_EQ(v->frame(), r.after) << "mask " << r.mask;
    }
    // Without autoresizesSubviews nothing moves.
    auto parent = make(0, 0, 300, 300);
    parent->setAutoresizesSubviews(false);
    auto v = make(0, 0, 300, 300);
    v->setAutoresizingMask(18);
    parent->addSubview(v);
    parent->setBounds(Rect(0, 0, 100, 100));
    EXPECT_EQ(v->frame(), Rect(0, 0, 300, 300));
}

TEST_F(ViewTest, PointsAndRectsConvertBetweenViews) {
    auto window = Window::create(Rect(0, 0, 320, 480));
    auto a = make(10, 20, 200, 200);
    auto b = make(5, 5, 50, 50);
    auto c = make(100, 100, 50, 50);
    window->addSubview(a);
    a->addSubview(b);
    window->addSubview(c);
    EXPECT_EQ(b->convertPointToView({1, 2}, nullptr), (Point{16, 27}));
    EXPECT_EQ(b->convertPointToView({1, 2}, c.get()), (Point{-84, -73}));
    EXPECT_EQ(b->convertRectToView(Rect(0, 0, 10, 10), a.get()), Rect(5, 5, 10, 10));
    EXPECT_EQ(window->convertRectToView(Rect(15, 25, 10, 10), b.get()), Rect(0, 0, 10, 10));

    // A scrolled superview (bounds origin) shifts its subviews.
    a->setBounds(Rect(0, 30, 200, 200));
    EXPECT_EQ(b->convertPointToView({0, 0}, nullptr), (Point{15, -5}));

    // A transform scales around the center.
    c->setTransform(AffineTransform::scale(2, 2));
    EXPECT_EQ(c->convertPointToView({0, 0}, nullptr), (Point{75, 75}));
    EXPECT_EQ(c->convertRectToView(c->bounds(), nullptr), c->frame());

    // Views without a window convert through their topmost superview.
    auto loose = make(50, 50, 10, 10);
    auto inner = make(1, 1, 5, 5);
    loose->addSubview(inner);
    EXPECT_EQ(inner->convertPointToView({0, 0}, nullptr), (Point{1, 1}));
}

TEST_F(ViewTest, HitTestingSkipsHiddenTransparentAndNonInteractiveViews) {
    auto root = make(0, 0, 300, 300);
    auto back = make(0, 0, 300, 300);
    auto front = make(0, 0, 300, 300);
    auto deep = make(10, 10, 100, 100);
    auto deeper = make(10, 10, 50, 50);
    root->addSubview(back);
    root->addSubview(front);
    front->addSubview(deep);
    deep->addSubview(deeper);

    EXPECT_EQ(root->hitTest({25, 25}), deeper);  // 25,25 -> deep 15,15 -> deeper 5,5
    EXPECT_EQ(root->hitTest({200, 200}), front);
    EXPECT_EQ(root->hitTest({301, 10}), nullptr);

    struct Row {
        const char* what;
        std::function<void()> change;
        std::shared_ptr<View> expected;
    } rows[] = {
        {"hidden", [&] { deeper->setHidden(true); }, deep},
        {"alpha below 0.01", [&] { deeper->setAlpha(0.009); }, deep},
        {"alpha of 0.01 still takes touches", [&] { deeper->setAlpha(0.01); }, deeper},
        {"no interaction", [&] { deeper->setUserInteractionEnabled(false); }, deep},
        // A parent that takes no touches hides its whole subtree.
        {"parent without interaction", [&] { front->setUserInteractionEnabled(false); }, back},
        {"hidden parent", [&] { deep->setHidden(true); }, front},
    };
    for (auto& r : rows) {
        r.change();
        EXPECT_EQ(root->hitTest({25, 25}), r.expected) << r.what;
        for (auto* v : {front.get(), deep.get(), deeper.get()}) {
            v->setHidden(false);
            v->setAlpha(1);
            v->setUserInteractionEnabled(true);
        }
    }

    // Subviews outside their superview's bounds are not reached.
    auto outside = make(250, 250, 100, 100);
    deep->addSubview(outside);
    EXPECT_EQ(root->hitTest({270, 270}), front);
}

TEST_F(ViewTest, ATapReachesTheDeepestInteractiveViewAndClimbsTheChain) {
    std::vector<std::string> log;
    auto window = Window::create(Rect(0, 0, 320, 480));
    window->makeKeyAndVisible();
    auto panel = RecordingView::create(Rect(0, 100, 320, 200), &log, "panel", true);
    auto label = RecordingView::create(Rect(20, 20, 100, 30), &log, "label", false);
    window->addSubview(panel);
    panel->addSubview(label);
    log.clear();

    // The label is hit, does not take the touch, and the panel (its next responder) does.
    EXPECT_EQ(window->sendTap({30, 125}), label);
    EXPECT_EQ(log, (std::vector<std::string>{"panel began {30, 25}", "panel ended"}));

    label->setUserInteractionEnabled(false);
    log.clear();
    EXPECT_EQ(window->sendTap({30, 125}), panel);
    EXPECT_EQ(window->sendTap({30, 400}), window);
    EXPECT_EQ(window->nextResponder(), &Application::shared());
}

TEST_F(ViewTest, WindowMovesReachEveryViewOfTheSubtree) {
    std::vector<std::string> log;
    auto window = Window::create(Rect(0, 0, 320, 480));
    auto outer = RecordingView::create(Rect(0, 0, 10, 10), &log, "outer");
    auto inner = RecordingView::create(Rect(0, 0, 10, 10), &log, "inner");
    outer->addSubview(inner);
    EXPECT_TRUE(log.empty());  // no window involved
    window->addSubview(outer);
    EXPECT_EQ(log,
              (std::vector<std::string>{"outer will+", "inner will+", "outer did+", "inner did+"}));
    EXPECT_EQ(inner->window(), window);
    log.clear();
    outer->removeFromSuperview();
    EXPECT_EQ(log,
              (std::vector<std::string>{"outer will-", "inner will-", "outer did-", "inner did-"}));
    EXPECT_EQ(inner->window(), nullptr);
}
