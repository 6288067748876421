// The share sheet against the loopback HTTP server: the image request, the items, the
// activity types left out, and where the sheet is presented on a phone and on a pad.
#include <gtest/gtest.h>

#include <variant>

#include "libmerovane/application/MVLibraryApplication.h"
#include "libmerovane/overlays/MVSharingController.h"
#include "platform/foundation/TestDriver.h"
#include "platform/ui/ActivityViewController.h"
#include "platform/ui/Application.h"
#include "platform/ui/Device.h"
#include "platform/ui/PopoverController.h"
#include "platform/ui/ViewController.h"
#include "platform/ui/Window.h"
#include "tests/support/HttpTestServer.h"
#include "tests/support/PlatformTest.h"

namespace {

constexpr const char* kShareDeepLink = "merovane-shop://product/1";

class MVSharingControllerTest : public PlatformTest {
  protected:
    void SetUp() override {
        PlatformTest::SetUp();
        MVLibraryApplication::sharedLibrary().generateUserAgentString();
        HttpTestServer::Response png;
        png.headers.set("Content-Type", "image/png");
        png.body = platform::Image::fromRGBA(2, 2, std::vector<uint8_t>(16, 200)).pngData();
        server_.respond("/item.png", png);
        server_.respond("/text", HttpTestServer::Response::text(200, "no image"));
        window_->setRootViewController(root_);
        window_->makeKeyAndVisible();
    }
    void TearDown() override {
        platform::Device::current().resetForTesting();
        PlatformTest::TearDown();
    }

    // Shares and waits until the sheet is presented by the root or in a popover.
    std::shared_ptr<platform::ActivityViewController> share(
        const std::string& imagePath, const platform::Rect& rect,
        const std::shared_ptr<platform::View>& view, const std::string& title = "Boots") {
        MVSharingController::create()->shareItemWithTitle(title, server_.url(imagePath),
                                                          kShareDeepLink, rect, view);
        const bool presented = platform::runUntil(
            [&] {
                return root_->presentedViewController() ||
                       !platform::PopoverController::shownPopovers().empty();
            },
            20);
        EXPECT_TRUE(presented);
        if (auto controller = root_->presentedViewController())
            return std::dynamic_pointer_cast<platform::ActivityViewController>(controller);
        auto popovers = platform::PopoverController::shownPopovers();
        if (popovers.empty()) return nullptr;
        return std::dynamic_pointer_cast<platform::ActivityViewController>(
            popovers.back()->contentViewController());
    }
    // "text" or "image" for each item.
    static std::vector<std::string> itemKinds(const platform::ActivityViewController& sheet) {
        std::vector<std::string> kinds;
        for (const auto& item : sheet.activityItems())
            kinds.push_back(std::holds_alternative<std::string>(item) ? "text" : "image");
        return kinds;
    }

    HttpTestServer server_;
    std::shared_ptr<platform::Window> window_ =
        platform::Window::create(platform::Rect(0, 0, 768, 1024));
    std::shared_ptr<platform::ViewController> root_ = platform::ViewController::create();
};

TEST_F(MVSharingControllerTest, OnAPhoneTheRootPresentsTitleImageAndDeepLink) {
    auto sheet = share("/item.png", platform::Rect(10, 20, 30, 40), window_);
    ASSERT_TRUE(sheet);
    const auto agent = server_.lastRequest("/item.png")->header("User-Agent");
    // the headless engine's own agent is empty: the head's leading space goes
    const std::string expected = MVLibraryApplication::sharedLibrary().userAgentString();
    EXPECT_EQ(agent, expected.substr(expected.find_first_not_of(' ')));
    EXPECT_NE(agent.value_or("").find("libmerovane/"), std::string::npos);
    EXPECT_EQ(itemKinds(*sheet), (std::vector<std::string>{"text", "image", "text"}));
    EXPECT_EQ(std::get<std::string>(sheet->activityItems()[0]), "Boots");
    EXPECT_EQ(std::get<std::string>(sheet->activityItems()[2]), kShareDeepLink);
    EXPECT_EQ(
        sheet->excludedActivityTypes(),
        (std::vector<std::string>{
            "com.apple.UIKit.activity.Print", "com.apple.UIKit.activity.AirDrop",
            "com.apple.UIKit.activity.AssignToContact", "com.apple.UIKit.activity.AddToReadingList",
            "com.apple.UIKit.activity.PostToWeibo", "com.apple.UIKit.activity.SaveToCameraRoll",
            "com.apple.UIKit.activity.PostToFlickr", "com.apple.UIKit.activity.PostToVimeo",
            "com.apple.UIKit.activity.PostToTencentWeibo"}));
    EXPECT_FALSE(sheet->popoverPresentationController());
    EXPECT_TRUE(platform::PopoverController::shownPopovers().empty());
}

TEST_F(MVSharingControllerTest, OnAPadTheSheetPointsAtTheRectangleInTheView) {
    platform::Device::current().setUserInterfaceIdiom(platform::UserInterfaceIdiom::Pad);
    auto sheet = share("/item.png", platform::Rect(10, 20, 30, 40), window_);
    ASSERT_TRUE(sheet);
    EXPECT_EQ(root_->presentedViewController(), sheet);
    const auto& popover = sheet->popoverPresentationController();
    ASSERT_TRUE(popover);
    EXPECT_EQ(popover->sourceView(), window_);
    EXPECT_EQ(popover->sourceRect(), platform::Rect(10, 20, 30, 40));
    EXPECT_TRUE(platform::PopoverController::shownPopovers().empty());
}

TEST_F(MVSharingControllerTest, OnAPadWithoutAnAnchorOnePopoverShowsAtTheCentre) {
    platform::Device::current().setUserInterfaceIdiom(platform::UserInterfaceIdiom::Pad);
    const std::pair<platform::Rect, bool> unusable[] = {
        {platform::Rect(), true},                  // the zero rectangle
        {platform::Rect(700, 20, 100, 40), true},  // beyond the bounds
        {platform::Rect(10, 20, 30, 40), false}};  // no view
    for (const auto& [rect, withView] : unusable) {
        auto sheet = share("/item.png", rect, withView ? window_ : nullptr);
        ASSERT_TRUE(sheet);
        EXPECT_FALSE(root_->presentedViewController());
        auto popovers = platform::PopoverController::shownPopovers();
        ASSERT_EQ(popovers.size(), 1u);
        EXPECT_EQ(popovers[0]->presentedFromRect(), platform::Rect(384, 512, 0, 0));
        EXPECT_EQ(popovers[0]->presentedInView(), window_);
        EXPECT_EQ(popovers[0]->permittedArrowDirections(), 0u);
        EXPECT_TRUE(popovers[0]->wasPresentedAnimated());
        EXPECT_EQ(sheet->modalPresentationStyle(), platform::ModalPresentationStyle::Custom);
        EXPECT_FALSE(sheet->popoverPresentationController()->sourceView());
        popovers[0]->dismissPopoverAnimated(false);
    }
}

TEST_F(MVSharingControllerTest, WithoutAnImageOnAnOldSystemThreeTypesAreLeftOut) {
    platform::Device::current().setSystemVersion("6.1");
    HttpTestServer::RefusingPort refusing;
    MVSharingController::create()->shareItemWithTitle("", refusing.url("/item.png"), kShareDeepLink,
                                                      nullptr);
    ASSERT_TRUE(
        platform::runUntil([&] { return root_->presentedViewController() != nullptr; }, 20));
    auto sheet = std::dynamic_pointer_cast<platform::ActivityViewController>(
        root_->presentedViewController());
    EXPECT_EQ(itemKinds(*sheet), (std::vector<std::string>{"text"}));
    EXPECT_EQ(sheet->excludedActivityTypes(),
              (std::vector<std::string>{"com.apple.UIKit.activity.Print",
                                        "com.apple.UIKit.activity.AssignToContact",
                                        "com.apple.UIKit.activity.PostToWeibo"}));
    platform::advanceBy(1);  // the animated presentation ends
    root_->dismissViewController(false);
    platform::advanceBy(1);
    ASSERT_FALSE(root_->presentedViewController());
    sheet = share("/text", platform::Rect(), nullptr);  // no image in the answer
    ASSERT_TRUE(sheet);
    EXPECT_EQ(itemKinds(*sheet), (std::vector<std::string>{"text", "text"}));
}

}  // namespace
