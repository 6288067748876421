#pragma once
// A background menu controller as the root of a 375 x 667 window, over a plain content
// view controller, with menu pages on the headless engine that the test renders.
//
//   auto page = setMenu("foregroundLeft", "screenEdge");   // rendered, exchanged in
//   controller->showWithPresentationType(std::nullopt, std::nullopt);
//   platform::advanceBy(0.45);
//   page->eventNames();

#include <gtest/gtest.h>

#include <memory>
#include <nlohmann/json.hpp>
#include <optional>
#include <string>

#include "libmerovane/bridge/MVWebView.h"
#include "libmerovane/containers/MVBackgroundMenu.h"
#include "libmerovane/containers/MVBackgroundMenuController.h"
#include "platform/ui/Animation.h"
#include "platform/ui/View.h"
#include "platform/ui/Window.h"
#include "tests/support/ContainerPageDriver.h"
#include "tests/support/MVWebViewTestSupport.h"
#include "tests/support/PlatformTest.h"

class MVBackgroundMenuTest : public PlatformTest {
  protected:
    static constexpr double kWidth = 375;
    static constexpr double kHeight = 667;
    // The presentation types' duration, in single precision.
    static constexpr double kDuration = 0.45f;

    void SetUp() override {
        PlatformTest::SetUp();
        window = platform::Window::create(platform::Rect(0, 0, kWidth, kHeight));
        content = platform::ViewController::create();
        controller = MVBackgroundMenuController::create(content, "primary");
        window->setRootViewController(controller);
        window->makeKeyAndVisible();
    }
    void TearDown() override {
        window.reset();
        controller.reset();
        platform::runUntilIdle();
        PlatformTest::TearDown();
    }

    // Gives the controller a menu page and renders it `width` points wide.
    std::shared_ptr<ContainerPage> setMenu(const std::string& type,
                                           std::optional<std::string> recognizer = std::nullopt,
                                           std::optional<double> speedFactor = std::nullopt,
                                           const nlohmann::json* params = nullptr,
                                           double width = 300) {
        auto page = loadMenu(type, recognizer, speedFactor, params);
        EXPECT_TRUE(page->finishLoading({width, kHeight}));
        return page;
    }
    // The same without rendering it.
    std::shared_ptr<ContainerPage> loadMenu(const std::string& type,
                                            std::optional<std::string> recognizer = std::nullopt,
                                            std::optional<double> speedFactor = std::nullopt,
                                            const nlohmann::json* params = nullptr) {
        controller->setContentWithString("<p>menu</p>", "https://shop.example/menu", type,
                                         recognizer, speedFactor, params);
        auto webView = controller->nextMenu()->menuWebView;
        auto model = HeadlessPageModel::attach(headlessEngineOf(*webView));
        model->settings.library = true;
        return std::make_shared<ContainerPage>(webView, model);
    }
    // Opens the menu and lets the opening end.
    void open(std::optional<std::string> type = std::nullopt) {
        controller->showWithPresentationType(type, std::nullopt);
        platform::advanceBy(1);
        ASSERT_EQ(controller->viewState(), 3);
    }
    std::shared_ptr<MVWebView> currentWebView() const {
        return controller->currentMenu() ? controller->currentMenu()->menuWebView : nullptr;
    }
    // The last animate call.
    static platform::AnimationRunRecord lastRun() {
        auto log = platform::animationLog();
        return log.empty() ? platform::AnimationRunRecord() : log.back();
    }

    std::shared_ptr<platform::Window> window;
    std::shared_ptr<platform::ViewController> content;
    std::shared_ptr<MVBackgroundMenuController> controller;
};
