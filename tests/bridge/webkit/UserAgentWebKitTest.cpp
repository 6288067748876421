// The library's user agent starts with the real engine's own agent, as pages read it.
#include <gtest/gtest.h>

#include "libmerovane/application/MVLibraryApplication.h"
#include "platform/foundation/Bundle.h"
#include "platform/foundation/SharedInstances.h"
#include "platform/web/WebView.h"
#include "platform/web/webkit/WebKitGtkWebEngine.h"
#include "tests/support/PlatformTest.h"
#include "tests/support/TempDir.h"

namespace {

class UserAgentWebKitTest : public PlatformTest {};

TEST_F(UserAgentWebKitTest, TheRealEnginesAgentComesFirst) {
    TempDir home;
    home.write("Bundle/Info.json", R"({"CFBundleDisplayName": "Shop", "CFBundleVersion": "42"})");
    platform::Bundle::setMainBundlePathForTesting(home.file("Bundle"));
    platform::WebView::setEngineFactory([] {
        auto engine = std::make_unique<platform::WebKitGtkWebEngine>();
        // No wait for the engine's web process: a script would find none in time.
        engine->setSynchronousTimeout(0.001);
        return engine;
    });
    auto& library = MVLibraryApplication::sharedLibrary();
    library.generateUserAgentString();
    const std::string agent = library.userAgentString();
    const auto at = agent.find(" libmerovane/2.0 (Shop 42 NOAPPLEPAY)");
    EXPECT_NE(at, std::string::npos) << agent;
    EXPECT_GT(at, 0u) << agent;
    EXPECT_NE(agent.find("Mozilla/"), std::string::npos) << agent;
    auto page = platform::WebView::create(std::make_unique<platform::WebKitGtkWebEngine>());
    EXPECT_EQ(page->stringByEvaluatingJavaScriptFromString("navigator.userAgent"),
              agent.substr(0, at));
    platform::WebView::setEngineFactory(nullptr);
    platform::Bundle::setMainBundlePathForTesting({});
    platform::resetSharedInstancesForTesting();
}

}  // namespace
