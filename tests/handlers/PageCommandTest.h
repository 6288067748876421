#pragma once
// Fixture for the page commands: a recording tab controller, a page of a tab (a web page
// view controller in a recording stack, showing a page served by the test's own scheme)
// and a record of the controllers' loading notifications.
//
//   auto sender = pageInTab("home");
//   perform("2.0", {{"c", "openPage"}, {"p", {{"src", kOtherPage}}}}, sender);
//   tabs->stack("home")->calls == {"pushViewController(1)"}

#include <memory>
#include <string>
#include <vector>

#include "libmerovane/bridge/MVWebViewController.h"
#include "platform/foundation/NotificationCenter.h"
#include "tests/handlers/CommandTest.h"
#include "tests/support/RecordingContainers.h"
#include "tests/support/ServingURLProtocol.h"

inline constexpr const char* kTabPage = "mvtest://shop/page";
inline constexpr const char* kOtherPage = "mvtest://shop/other";

class PageCommandTest : public CommandTest {
  protected:
    void SetUp() override {
        CommandTest::SetUp();
        site = std::make_unique<ServingURLProtocol>("mvtest");
        site->serve(kTabPage, "text/html", "<p>page</p>");
        site->serve(kOtherPage, "text/html", "<p>other</p>");
        auto& center = platform::NotificationCenter::defaultCenter();
        for (const char* name : {MVWebViewControllerDidStartLoadingNotification,
                                 MVWebViewControllerDidEndLoadingNotification})
            observers.emplace_back(
                center, center.addObserver(name, nullptr, [this](const platform::Notification& n) {
                    controllerNotes.push_back(n.name);
                }));
    }
    void TearDown() override {
        observers.clear();
        sender.reset();
        controller.reset();
        tabs.reset();
        MVTabControllerInterface::install(nullptr);
        CommandTest::TearDown();
        site.reset();
    }

    // Installs the tab controller.
    void installTabs() { tabs = RecordingTabController::install(); }
    // A page controller on the named tab's stack showing kTabPage; answers its web view.
    // The notes start empty after it.
    std::shared_ptr<MVWebView> pageInTab(const std::string& tab) {
        if (!tabs) installTabs();
        controller = MVWebViewController::create();
        controller->view()->setBounds(platform::Rect(0, 0, 320, 416));
        tabs->stack(tab)->addChildViewController(controller);
        controller->openUrl(kTabPage);
        platform::runUntilIdle();
        controllerNotes.clear();
        sender = controller->webViewFinal();
        tabs->holdWebView(*sender, tab);
        return sender;
    }

    std::shared_ptr<RecordingTabController> tabs;
    std::shared_ptr<MVWebViewController> controller;
    std::shared_ptr<MVWebView> sender;
    std::unique_ptr<ServingURLProtocol> site;
    std::vector<platform::ObserverRegistration> observers;
    std::vector<std::string> controllerNotes;
};
