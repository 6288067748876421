// When the library can open deep links: once its boot block has sent the app start and
// opened the launch link, which it tells with a notification and the canOpenLinks query.
#include <nlohmann/json.hpp>

#include "libmerovane/core/MVUserDefaultsKeys.h"
#include "platform/foundation/NotificationCenter.h"
#include "platform/foundation/UserDefaults.h"
#include "platform/ui/Application.h"
#include "platform/ui/ApplicationDelegate.h"
#include "tests/application/LibraryApplicationFixture.h"

using nlohmann::json;

namespace {

class HostDelegate : public platform::ApplicationDelegate {};

class LibraryLinksTest : public LibraryApplicationTest {
  protected:
    void SetUp() override {
        LibraryApplicationTest::SetUp();
        platform::UserDefaults::standard().setObject(MVLibraryApplicationLastLaunchedVersion, "42");
        answerRequestHeads(peer_);
        library().setDefaultApiPath(peerUrl(peer_));
    }
    peer::ApiPeer peer_;
};

TEST_F(LibraryLinksTest, TheLibraryTellsOnceWhenItsBootBlockHasOpenedTheLaunchLink) {
    std::vector<std::string> seen;  // what had been opened at each notification
    auto observer = platform::NotificationCenter::defaultCenter().addObserver(
        MVLibraryApplicationCanOpenLinksNotification, &library(),
        [&](const platform::Notification&) {
            seen.push_back(interjections->calls.empty() ? "" : interjections->calls[0][1]);
        });
    const json options{{"url", "merovane-shop://product/7"}};
    auto& app = platform::Application::shared();
    app.setDelegate(std::make_shared<HostDelegate>());
    app.finishLaunching(&options);
    EXPECT_FALSE(library().canOpenLinks());
    // Before the boot block a link is answered and left: the launch options carry it.
    EXPECT_TRUE(library().openURL("merovane-shop://early", std::nullopt));
    platform::advanceBy(MVLibraryApplication::kStartDelay);
    EXPECT_TRUE(library().didSendAppStart());
    EXPECT_TRUE(library().canOpenLinks());
    EXPECT_EQ(seen, std::vector<std::string>{"product/7"});

    EXPECT_TRUE(library().openURL("merovane-shop://later", std::nullopt));
    EXPECT_EQ(interjections->calls,
              (std::vector<json>{{"link", "product/7", "", false}, {"link", "later", "", false}}));
    // A second launch call starts nothing and tells nothing again.
    library().didFinishLaunchingWithOptions(app, &options);
    platform::advanceBy(1);
    EXPECT_EQ(seen.size(), 1u);
    platform::NotificationCenter::defaultCenter().removeObserver(observer);
}

}  // namespace
