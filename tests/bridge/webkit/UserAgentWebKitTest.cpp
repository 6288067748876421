// The library's user agent starts with the real engine's own agent.
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
    platform::WebView::setEngineFactory(
        [] { return std::make_unique<platform::WebKitGtkWebEngine>(); });
    auto& library = MVLibraryApplication::sharedLibrary();
    library.generateUserAgentString();
    const std::string agent = library.userAgentString();
    const auto at = agent.find(" libmerovane/2.0 (Shop 42 NOAPPLEPAY)");
    EXPECT_NE(at, std::string::npos) << agent;
    EXPECT_GT(at, 0u) << agent;
    EXPECT_NE(agent.find("Mozilla/"), std::string::npos) << agent;
    platform::WebView::setEngineFactory(nullptr);
    platform::Bundle::setMainBundlePathForTesting({});
    platform::resetSharedInstancesForTesting();
}

}  // namespace
