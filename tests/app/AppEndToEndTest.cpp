// The host application: its endpoint choice, and the `app` executable run as a child
// process against the loopback API peer, twice.
#include <gtest/gtest.h>
#include <signal.h>

#include <fstream>
#include <nlohmann/json.hpp>
#include <sstream>

#include "app/AppDelegate.h"
#include "libmerovane/application/MVLibraryApplication.h"
#include "libmerovane/core/MVUserDefaultsKeys.h"
#include "platform/foundation/JsonValue.h"
#include "tests/support/ApiConnectionTest.h"
#include "tests/support/ChildProcess.h"

using nlohmann::json;

namespace {

TEST(AppDelegateEndpointTest, DevWorkspaceThenApiUrlThenProduction) {
    using Text = std::optional<std::string>;
    struct Row {
        Text devWorkspace;
        Text apiUrl;
        Text expected;
    };
    const std::string workspace = MV_APP_WORKSPACE_API_URL;
    const std::string jane = workspace.substr(0, workspace.find("{}")) + "jane" +
                             workspace.substr(workspace.find("{}") + 2);
    const Row rows[] = {
        {" live ", "https://info.example", MVLibraryApplication::kProductionApiPath},
        // Unicode spaces count too: no-break, ideographic, line separator
        {"\u00A0live\u00A0", {}, MVLibraryApplication::kProductionApiPath},
        {"\u3000pg\u2028", {}, MV_APP_PG_API_URL},
        {"pg", {}, MV_APP_PG_API_URL},
        {"https://dev.example/api", "https://info.example", "https://dev.example/api"},
        {"ja ne\n", {}, jane},  // a workspace name, whitespace removed
        {" \t", "https://info.example", "https://info.example"},  // blank: the Info value
        {{}, "ftp://info.example", {}},                           // no "http": production
        {{}, {}, {}},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.devWorkspace.value_or("(none)") + " / " + row.apiUrl.value_or("(none)"));
        EXPECT_EQ(AppDelegate::apiPathForSettings(row.devWorkspace, row.apiUrl), row.expected);
    }
}

class AppEndToEndTest : public ApiConnectionTest {
  protected:
    void SetUp() override {
        ApiConnectionTest::SetUp();
        answerRequestHeads(peer_);
    }
    ChildProcess::Program appProgram() const {
        return {MV_APP_EXECUTABLE, {"-dev_workspace", peerUrl(peer_)}, home_->file("app.log")};
    }
    ChildProcess::Environment appEnvironment() const { return {{"MEROVANE_HOME", home_->path()}}; }

    // The appStart commands the peer has received, with the connection each came on.
    std::vector<std::pair<size_t, json>> appStarts() const {
        std::vector<std::pair<size_t, json>> found;
        for (const auto& packet : peer_.packets())
            for (const auto& command : packet.decoded.value.value("cmds", json::array()))
                if (command.value("c", "") == "appStart")
                    found.emplace_back(packet.connection, command.value("p", json::object()));
        return found;
    }
    static std::string readText(const std::string& path) {
        std::ifstream in(path);
        std::stringstream text;
        text << in.rdbuf();
        return text.str();
    }
    // The app's user defaults as its last synchronisation left them.
    json appDefaults() const {
        auto parsed = platform::json::parse(
            readText(home_->file("Library/Preferences/com.merovane.shop.json")));
        return parsed.ok() ? parsed.value : json::object();
    }

    peer::ApiPeer peer_;
};

TEST_F(AppEndToEndTest, TheAppStartsBootsCachesTheScriptAndReplaysItNextTime) {
    const json bootList = json::array({{{"c", "vibrate"}, {"p", {{"style", "twice"}}}}});
    {
        ChildProcess app(appProgram(), appEnvironment());
        ASSERT_TRUE(waitFor([&] { return !appStarts().empty(); }))
            << readText(home_->file("app.log"));
        const auto [connection, parameters] = appStarts().front();
        EXPECT_EQ(parameters["appVersion"], "1.0");
        EXPECT_EQ(parameters["appIdentifier"], "shop");
        EXPECT_EQ(parameters["codebase"], "linux");
        EXPECT_EQ(parameters["apiKey"], "");
        EXPECT_FALSE(parameters.contains("bootAppIdentifier"));

        peer_.perform(
            connection,
            peer::PeerAction::packet(
                {{"ver", "2.0"},
                 {"serial", 1},
                 {"cmds", json::array({{{"c", "bootApp"},
                                        {"p", {{"identifier", "B"}, {"cmds", bootList}}}}})}}));
        ASSERT_TRUE(waitFor([&] {
            return appDefaults().contains(MVWebCacheShadowModeScheduledAtAppStart);
        })) << readText(home_->file("app.log"));
        EXPECT_EQ(
            appDefaults()[MVStandardUserDefaultsCachedBootScript],
            (json{{"cmds", bootList}, {"identifier", "B"}, {"commandHandlerVersion", "2.0"}}));
        EXPECT_EQ(appDefaults()[MVWebCacheShadowModeScheduledAtAppStart], true);
        app.kill(SIGKILL);
        app.wait();
    }
    const size_t firstRun = appStarts().size();
    ChildProcess app(appProgram(), appEnvironment());
    ASSERT_TRUE(waitFor([&] { return appStarts().size() > firstRun; }))
        << readText(home_->file("app.log"));
    EXPECT_EQ(appStarts().back().second["bootAppIdentifier"], "B");
    ASSERT_TRUE(waitFor([&] {
        return readText(home_->file("app.log"))
                   .find("boots app using script with Identifier: \"B\" refreshing resources.") !=
               std::string::npos;
    })) << readText(home_->file("app.log"));
    app.kill(SIGKILL);
    app.wait();
}

}  // namespace
