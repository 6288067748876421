#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "platform/foundation/Exception.h"
#include "platform/ui/Application.h"
#include "platform/ui/Screen.h"
#include "platform/ui/View.h"
#include "platform/ui/ViewController.h"
#include "platform/ui/Window.h"
#include "tests/support/PlatformTest.h"

using namespace platform;

namespace {

using Log = std::vector<std::string>;

class Recorder : public ViewController {
  public:
    static std::shared_ptr<Recorder> create(std::string name, Log* log, bool forwards = true) {
        auto r = std::shared_ptr<Recorder>(new Recorder());
        r->name_ = std::move(name);
        r->log_ = log;
        r->forwards_ = forwards;
        return r;
    }
    void viewDidLoad() override { ++loads; }
    void viewWillAppear(bool a) override { note("willAppear", a); }
    void viewDidAppear(bool a) override { note("didAppear", a); }
    void viewWillDisappear(bool a) override { note("willDisappear", a); }
    void viewDidDisappear(bool a) override { note("didDisappear", a); }
    bool shouldAutomaticallyForwardAppearanceMethods() const override { return forwards_; }
    void willMoveToParentViewController(ViewController* p) override {
        log_->push_back(name_ + (p ? " willMove parent" : " willMove none"));
    }
    void didMoveToParentViewController(ViewController* p) override {
        log_->push_back(name_ + (p ? " didMove parent" : " didMove none"));
    }
    StatusBarStyle preferredStatusBarStyle() const override {
        ++styleQuestions;
        return style;
    }
    bool prefersStatusBarHidden() const override { return hidden; }
    void didReceiveMemoryWarning() override { log_->push_back(name_ + " memoryWarning"); }

    int loads = 0;
    mutable int styleQuestions = 0;
    StatusBarStyle style = StatusBarStyle::Default;
    bool hidden = false;

  private:
    void note(const char* what, bool animated) {
        log_->push_back(name_ + " " + what + (animated ? " animated" : ""));
    }
    std::string name_;
    Log* log_ = nullptr;
    bool forwards_ = true;
};

class ViewControllerTest : public PlatformTest {
  protected:
    // Transitions still queued would keep this test's controllers alive into the next.
    void TearDown() override {
        runUntilIdle();
        PlatformTest::TearDown();
    }

    Log log;
    std::shared_ptr<Window> window = Window::create(Rect(0, 0, 320, 480));

    // Adds child to parent with the containment calls a container makes.
    static void contain(const std::shared_ptr<ViewController>& parent,
                        const std::shared_ptr<ViewController>& child) {
        parent->addChildViewController(child);
        parent->view()->addSubview(child->view());
        child->didMoveToParentViewController(parent.get());
    }
};

}  // namespace

TEST_F(ViewControllerTest, TheViewLoadsOnceOnFirstUse) {
    auto vc = Recorder::create("vc", &log);
    EXPECT_FALSE(vc->isViewLoaded());
    auto& v = vc->view();
    EXPECT_EQ(vc->view(), v);
    EXPECT_EQ(vc->loads, 1);
    EXPECT_EQ(v->frame(), Screen::main().bounds());
    EXPECT_EQ(v->autoresizingMask(), 18u);
    EXPECT_EQ(v->nextResponder(), vc.get());

    auto other = ViewController::create();
    try {
        other->setView(v);
        FAIL() << "a view of another controller was taken";
    } catch (const Exception& e) {
        EXPECT_EQ(e.name(), kInternalInconsistencyException);
    }
    auto own = View::create(Rect(0, 0, 10, 10));
    other->setView(own);
    EXPECT_EQ(own->viewController(), other);
    other->setView(nullptr);
    EXPECT_EQ(own->viewController(), nullptr);
    EXPECT_FALSE(other->isViewLoaded());
}

TEST_F(ViewControllerTest, TheRootAndItsChildrenAppearOnceWhenTheWindowShows) {
    auto root = Recorder::create("root", &log);
    auto child = Recorder::create("child", &log);
    contain(root, child);
    log.clear();
    window->setRootViewController(root);
    EXPECT_TRUE(log.empty()) << "the window is hidden";
    EXPECT_EQ(root->view()->frame(), window->bounds());
    EXPECT_EQ(root->view()->superview(), window);

    window->makeKeyAndVisible();
    EXPECT_EQ(log,
              (Log{"root willAppear", "child willAppear", "root didAppear", "child didAppear"}));
    EXPECT_TRUE(window->isKeyWindow());
    EXPECT_EQ(Application::shared().keyWindow(), window);
    log.clear();
    window->makeKeyAndVisible();
    EXPECT_TRUE(log.empty());

    window->setHidden(true);
    EXPECT_EQ(log, (Log{"root willDisappear", "child willDisappear", "root didDisappear",
                        "child didDisappear"}));
    log.clear();
    window->setHidden(false);
    log.clear();

    // A new root on a visible window: the old one leaves, the new one comes.
    auto next = Recorder::create("next", &log);
    window->setRootViewController(next);
    EXPECT_EQ(log, (Log{"root willDisappear", "child willDisappear", "root didDisappear",
                        "child didDisappear", "next willAppear", "next didAppear"}));
    EXPECT_EQ(root->view()->superview(), nullptr);
}

TEST_F(ViewControllerTest, ContainmentDeliversEachCallbackOnce) {
    auto parent = Recorder::create("parent", &log);
    window->setRootViewController(parent);
    window->makeKeyAndVisible();
    log.clear();

    auto child = Recorder::create("child", &log);
    contain(parent, child);
    EXPECT_EQ(log, (Log{"child willMove parent", "child willAppear", "child didAppear",
                        "child didMove parent"}));
    EXPECT_EQ(parent->childViewControllers().size(), 1u);
    log.clear();

    child->willMoveToParentViewController(nullptr);
    child->view()->removeFromSuperview();
    child->removeFromParentViewController();
    EXPECT_EQ(log, (Log{"child willMove none", "child willDisappear", "child didDisappear",
                        "child didMove none"}));
    EXPECT_TRUE(parent->childViewControllers().empty());
    EXPECT_EQ(child->parentViewController(), nullptr);
}

TEST_F(ViewControllerTest, AParentlessControllersViewFollowsTheWindow) {
    auto root = Recorder::create("root", &log);
    window->setRootViewController(root);
    window->makeKeyAndVisible();
    auto holder = View::create(Rect(0, 0, 100, 100));
    auto tab = Recorder::create("tab", &log);
    log.clear();

    holder->addSubview(tab->view());
    EXPECT_TRUE(log.empty()) << "not in a window yet";
    root->view()->addSubview(holder);
    EXPECT_EQ(log, (Log{"tab willAppear", "tab didAppear"}));
    log.clear();
    // Moving within the visible window changes nothing.
    root->view()->insertSubview(tab->view(), 0);
    EXPECT_TRUE(log.empty());
    tab->view()->removeFromSuperview();
    EXPECT_EQ(log, (Log{"tab willDisappear", "tab didDisappear"}));
}

TEST_F(ViewControllerTest, AParentThatDoesNotForwardRunsItsChildrensTransitions) {
    auto parent = Recorder::create("parent", &log, false);
    auto child = Recorder::create("child", &log);
    auto grandchild = Recorder::create("grandchild", &log);
    contain(child, grandchild);
    window->setRootViewController(parent);
    window->makeKeyAndVisible();
    log.clear();

    contain(parent, child);
    EXPECT_EQ(log, (Log{"child willMove parent", "child didMove parent"}));
    log.clear();
    child->beginAppearanceTransition(true, true);
    child->beginAppearanceTransition(true, true);  // a second begin adds nothing
    child->endAppearanceTransition();
    child->endAppearanceTransition();
    EXPECT_EQ(log, (Log{"child willAppear animated", "grandchild willAppear animated",
                        "child didAppear animated", "grandchild didAppear animated"}));
}

TEST_F(ViewControllerTest, PresentingAndDismissingCarryTheAnimatedFlag) {
    auto root = Recorder::create("root", &log);
    auto child = Recorder::create("child", &log);
    contain(root, child);
    window->setRootViewController(root);
    window->makeKeyAndVisible();
    auto modal = Recorder::create("modal", &log);
    log.clear();

    int completions = 0;
    // Presenting from a child presents from its outermost parent.
    child->presentViewController(modal, true, [&] { ++completions; });
    EXPECT_EQ(log, (Log{"root willDisappear animated", "child willDisappear animated",
                        "modal willAppear animated"}));
    EXPECT_EQ(root->presentedViewController(), modal);
    EXPECT_EQ(modal->presentingViewController(), root);
    EXPECT_EQ(modal->view()->superview(), window);
    log.clear();

    advanceBy(0.3 - 1e-6);
    EXPECT_TRUE(log.empty());
    EXPECT_EQ(completions, 0);
    advanceBy(1e-6);
    EXPECT_EQ(log, (Log{"modal didAppear animated", "root didDisappear animated",
                        "child didDisappear animated"}));
    EXPECT_EQ(completions, 1);
    EXPECT_EQ(root->view()->superview(), nullptr);
    EXPECT_EQ(modal->view()->frame(), window->bounds());
    log.clear();

    // One presentation at a time.
    root->presentViewController(Recorder::create("other", &log), false);
    EXPECT_TRUE(logged("Presentation ignored"));
    EXPECT_EQ(root->presentedViewController(), modal);

    modal->dismissViewController(false, [&] { ++completions; });
    EXPECT_EQ(log, (Log{"modal willDisappear", "root willAppear", "child willAppear"}));
    EXPECT_EQ(completions, 1) << "not inside the call";
    log.clear();
    runUntilIdle();
    EXPECT_EQ(log, (Log{"modal didDisappear", "root didAppear", "child didAppear"}));
    EXPECT_EQ(completions, 2);
    EXPECT_EQ(root->presentedViewController(), nullptr);
    EXPECT_EQ(modal->view()->superview(), nullptr);
    EXPECT_EQ(window->subviews().front(), root->view());

    // A controller outside any window presents nothing.
    auto loose = Recorder::create("loose", &log);
    loose->presentViewController(modal, false);
    EXPECT_EQ(loose->presentedViewController(), nullptr);
    EXPECT_TRUE(logged("in no window"));
}

TEST_F(ViewControllerTest, TheStatusBarFollowsTheControllerInCharge) {
    auto& app = Application::shared();
    auto root = Recorder::create("root", &log);
    root->style = StatusBarStyle::LightContent;
    window->setRootViewController(root);
    EXPECT_EQ(root->styleQuestions, 0) << "a hidden window is not asked";
    window->makeKeyAndVisible();
    EXPECT_EQ(app.statusBarStyle(), StatusBarStyle::LightContent);

    root->style = StatusBarStyle::Default;
    root->hidden = true;
    const int before = root->styleQuestions;
    root->setNeedsStatusBarAppearanceUpdate();
    EXPECT_EQ(root->styleQuestions, before + 1);
    EXPECT_EQ(app.statusBarStyle(), StatusBarStyle::Default);
    EXPECT_TRUE(app.isStatusBarHidden());
    EXPECT_EQ(app.statusBarFrame(), Rect::zero());

    // A presented controller takes charge.
    auto modal = Recorder::create("modal", &log);
    modal->style = StatusBarStyle::LightContent;
    root->presentViewController(modal, false);
    runUntilIdle();
    app.setNeedsStatusBarAppearanceUpdate();
    EXPECT_EQ(app.statusBarStyle(), StatusBarStyle::LightContent);
    EXPECT_FALSE(app.isStatusBarHidden());
}

TEST_F(ViewControllerTest, MemoryWarningsReachEveryLiveController) {
    auto inWindow = Recorder::create("inWindow", &log);
    window->setRootViewController(inWindow);
    auto loose = Recorder::create("loose", &log);
    { auto gone = Recorder::create("gone", &log); }
    log.clear();
    Application::shared().receiveMemoryWarning();
    EXPECT_EQ(log, (Log{"inWindow memoryWarning", "loose memoryWarning"}));
}

TEST_F(ViewControllerTest, TheBackButtonShowsTheBackItemsTitleElseTheTitle) {
    auto controller = Recorder::create("controller", &log);
    auto& item = controller->navigationItem();
    item.setTitle("Cart");
    EXPECT_FALSE(item.backBarButtonItem());
    EXPECT_EQ(item.backButtonTitle(), "Cart");
    item.setBackBarButtonItem(BarButtonItem{""});
    EXPECT_EQ(item.backButtonTitle(), "");
    item.setBackBarButtonItem(std::nullopt);
    EXPECT_EQ(item.backButtonTitle(), "Cart");
}

TEST_F(ViewControllerTest, TitleAndResponderChain) {
    auto parent = Recorder::create("parent", &log);
    auto child = Recorder::create("child", &log);
    child->setTitle("Cart");
    EXPECT_EQ(child->navigationItem().title(), "Cart");

    parent->addChildViewController(child);
    EXPECT_EQ(child->nextResponder(), parent.get()) << "view not placed: the parent";
    parent->view()->addSubview(child->view());
    EXPECT_EQ(child->nextResponder(), parent->view().get());
    window->setRootViewController(parent);
    EXPECT_EQ(parent->nextResponder(), window.get());
}
