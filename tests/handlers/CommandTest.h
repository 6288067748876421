#pragma once
// Fixture for command tests: the real handler classes and command groups with the test
// group, a clean report list, and a page to send commands from.

#include <memory>
#include <nlohmann/json.hpp>

#include "libmerovane/bridge/MVCommandHandler.h"
#include "libmerovane/bridge/MVWebView.h"
#include "libmerovane/core/MVErrorLogger.h"
#include "libmerovane/handlers/MVCommandHandlerClasses.h"
#include "platform/foundation/TestDriver.h"
#include "platform/foundation/URL.h"
#include "tests/handlers/TestCommands.h"
#include "tests/support/PlatformTest.h"

class CommandTest : public PlatformTest {
  protected:
    void SetUp() override {
        PlatformTest::SetUp();
        MVErrorLogger::clearReports();
        performedCommands().clear();
        registerCommandHandlerClasses();
        registerTestCommands();
    }
    void TearDown() override {
        webView.reset();
        platform::runUntilIdle();
        PlatformTest::TearDown();
    }

    static void perform(const char* version, const nlohmann::json& command,
                        const std::shared_ptr<MVWebView>& sender = nullptr) {
        MVCommandHandler::performCommandsFromCommandCollection(
            {{"ver", version}, {"cmds", nlohmann::json::array({command})}}, sender);
    }
    // A web view showing a document, so that it has a current URL; kept in webView.
    std::shared_ptr<MVWebView> page() {
        webView = MVWebView::create(platform::Rect(0, 0, 320, 480));
        webView->loadHTMLString("<p/>", platform::URL::parse("https://shop.example/list"));
        platform::advanceBy(0.1);
        return webView;
    }

    std::shared_ptr<MVWebView> webView;
};
