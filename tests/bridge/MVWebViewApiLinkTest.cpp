// A page's link to an API page opens a new web page view controller (through the
// factory seam) on the navigation stack of the web view's delegate.
#include <gtest/gtest.h>

#include "libmerovane/bridge/MVNavigationControllerInterface.h"
#include "libmerovane/bridge/MVWebViewControllerFactory.h"
#include "platform/ui/ViewController.h"
#include "tests/bridge/MVWebViewFixture.h"
#include "tests/support/RecordingContainers.h"

namespace {

using Pushes = std::vector<std::string>;

// A container that owns the web view and is itself a navigation stack (the header bar's
// owner).
class StackOwner : public RecordingMVWebViewDelegate, public RecordingNavigationStack {
  public:
    StackOwner() : RecordingNavigationStack(std::nullopt) {}
};

// A page's controller, a view controller owning the web view.
class PageOwner : public platform::ViewController, public RecordingMVWebViewDelegate {};

class MVWebViewApiLinkTest : public MVWebViewFixture {
  protected:
    void SetUp() override {
        MVWebViewFixture::SetUp();
        MVWebViewControllerFactory::setFactory([this](const std::string& pageId) {
            opened.push_back(pageId);
            made.push_back(platform::ViewController::create());
            return made.back();
        });
    }
    void loadPage() {
        webView->loadHTMLString("<p/>", platform::URL::parse("https://shop.example/"));
        platform::advanceBy(0.1);
    }
    void follow(const std::string& link) {
        page().navigate(link);
        platform::runUntilIdle();
        EXPECT_FALSE(page().decisions().back().allowed) << link;
    }

    std::vector<std::string> opened;
    std::vector<std::shared_ptr<platform::ViewController>> made;
};

TEST_F(MVWebViewApiLinkTest, DelegateThatIsAStackGetsThePageAnimated) {
    auto owner = std::make_shared<StackOwner>();
    webView->setDelegate(owner);
    loadPage();
    follow("mvapi:product%2F42?ref=home");
    EXPECT_EQ(opened, (std::vector<std::string>{"product%2F42?ref=home"}));
    ASSERT_EQ(owner->pushed.size(), 1u);
    EXPECT_EQ(owner->pushed[0], made[0]);
    EXPECT_EQ(owner->RecordingNavigationStack::calls, Pushes{"pushViewController(1)"});
    // The link is no document of this web view.
    EXPECT_EQ(webView->historySize(), 1u);
    EXPECT_FALSE(webView->isLoading());
}

TEST_F(MVWebViewApiLinkTest, DelegateInsideAStackPushesOntoThatStack) {
    auto stack = RecordingNavigationStack::create(std::nullopt);
    auto middle = platform::ViewController::create();
    auto owner = std::make_shared<PageOwner>();
    stack->addChildViewController(middle);
    middle->addChildViewController(owner);
    webView->setDelegate(std::static_pointer_cast<RecordingMVWebViewDelegate>(owner));
    loadPage();
    follow("MVAPI:cart");
    EXPECT_EQ(opened, (std::vector<std::string>{"cart"}));
    ASSERT_EQ(stack->pushed.size(), 1u);
    EXPECT_EQ(stack->calls, Pushes{"pushViewController(1)"});  // animated
}

TEST_F(MVWebViewApiLinkTest, WithoutAStackThePageIsMadeButGoesNowhere) {
    auto owner = std::make_shared<PageOwner>();
    webView->setDelegate(std::static_pointer_cast<RecordingMVWebViewDelegate>(owner));
    loadPage();
    follow("mvapi:cart");
    EXPECT_EQ(opened, (std::vector<std::string>{"cart"}));
    // A plain owner that is no view controller has no stack either.
    follow("mvapi:cart");
    EXPECT_EQ(opened.size(), 2u);
}

TEST_F(MVWebViewApiLinkTest, WithoutAFactoryTheLinkIsLogged) {
    MVWebViewControllerFactory::setFactory(nullptr);
    loadPage();
    follow("mvapi:cart");
    EXPECT_TRUE(logged("MVWebView<1000> has no web page view controller to open [mvapi:cart]"));
    EXPECT_EQ(webView->historySize(), 1u);
}

}  // namespace
