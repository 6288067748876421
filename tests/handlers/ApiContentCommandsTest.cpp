// The server's content commands over the real web cache, store, keychain file and
// connection: pages and data, answers to data requests, connection variables, cache
// clearing, the resource monitor and the screenshot.
#include <gtest/gtest.h>

#include "libmerovane/bridge/MVWebCacheKeys.h"
#include "libmerovane/connection/MVApiConnectionVariable.h"
#include "libmerovane/core/KeychainExtensions.h"
#include "libmerovane/core/MVResourceMonitor.h"
#include "platform/foundation/Base64.h"
#include "platform/foundation/Keychain.h"
#include "platform/foundation/NotificationCenter.h"
#include "platform/ui/Application.h"
#include "platform/ui/ApplicationDelegate.h"
#include "platform/ui/Image.h"
#include "platform/ui/Screen.h"
#include "platform/ui/Window.h"
#include "tests/handlers/ServerRoadTest.h"

using nlohmann::json;

namespace {

class ApiContentCommandsTest : public ServerRoadTest {
  protected:
    void SetUp() override {
        ServerRoadTest::SetUp();
        auto& center = platform::NotificationCenter::defaultCenter();
        updates_.emplace_back(
            center, center.addObserver(MVWebCacheDidUpdateKeyNotification, nullptr,
                                       [this](const platform::Notification& n) {
                                           updated.push_back(std::any_cast<std::string>(n.object));
                                       }));
    }
    void TearDown() override {
        updates_.clear();
        ServerRoadTest::TearDown();
    }

    struct Answer {
        std::string data;
        json info;
        int finals = 0;
    };
    // A lookup whose final answer is kept.
    std::shared_ptr<Answer> lookup(const std::string& key) {
        auto answer = std::make_shared<Answer>();
        MVWebCache::sharedCache().dataForKey(
            key,
            [answer](bool, bool reloadPending, const MVWebCacheInterface::Data& data,
                     const json& info) {
                if (reloadPending) return;
                answer->data = data ? std::string(data->begin(), data->end()) : "nil";
                answer->info = info;
                ++answer->finals;
            },
            [](const MVWebCacheInterface::Data&) {},
            [answer](const platform::Error&, const MVWebCacheInterface::Data&) {
                answer->data = "failed";
                ++answer->finals;
            });
        return answer;
    }
    // Lets the cache's disk writes land.
    static void settle() {
        platform::runUntilIdle();
        MVWebCache::waitForFileOperations();
        platform::runUntilIdle();
    }
    static std::optional<std::string> keychainItem(const std::string& account) {
        platform::KeychainItem item;
        if (platform::Keychain::shared().copy(
                {libmerovaneServiceName(), account, accessGroupPrivate()}, &item) !=
            platform::KeychainStatus::Success)
            return std::nullopt;
        return item.data;
    }
    static std::optional<std::string> variableContext(const std::string& id, bool* exists) {
        std::optional<std::string> context;
        MVPersistentStorage::sharedStorage().lockedAccess([&] {
            auto variable = MVApiConnectionVariable::dbObjectWithID(id);
            *exists = variable != nullptr;
            if (variable) context = variable->context();
        });
        return context;
    }
    // The "vars" of the last packet the peer received.
    json lastVars(const peer::ApiPeer& peer) {
        const auto packets = packetsSoFar(peer);
        return packets.empty() ? json() : packets.back().value("vars", json());
    }
    // Performs the command's method directly, so that its parameters stay visible.
    static json performDirectly(const char* name, json parameters) {
        auto handler = MVCommandHandler::sharedHandlerForVersion(10);
        handler->commandDefinition(name)->perform(*handler, &parameters, nullptr);
        return parameters;
    }

    std::vector<std::string> updated;

  private:
    std::vector<platform::ObserverRegistration> updates_;
};

TEST_F(ApiContentCommandsTest, SetPageCacheOnlyAnswersTheWaitingLookupWithoutTheNotification) {
    peer::ApiPeer peer;
    connectTo(peer);
    auto waiting = lookup("mv-api-page:p");
    ASSERT_TRUE(waitFor(
        [] { return MVWebCacheApiDataSource::sharedDataSource()->pendingRequestCount() == 1; }));
    EXPECT_EQ(sent(peer, "getPage"),
              (std::vector<json>{{{"c", "getPage"}, {"p", {{"pageId", "p"}}}}}));
    const json page = {
        {"pageId", "p"}, {"content", "<p>ü</p>"}, {"baseUrl", "https://shop.example/"}};
    json cacheOnly = page;
    cacheOnly["cacheOnly"] = 1;
    fromServer({{"c", "setPage"}, {"p", cacheOnly}}, "2.0");
    platform::runUntilIdle();
    ASSERT_EQ(waiting->finals, 1);
    EXPECT_EQ(waiting->data, "<p>ü</p>");
    EXPECT_EQ(waiting->info["base-url"], "https://shop.example/");
    EXPECT_EQ(waiting->info["maximum-lifetime"], 0);
    EXPECT_TRUE(updated.empty());

    // Without "cacheOnly" (and in 1.0, which knows none) the cache tells its observers.
    json later = page;
    later["pageId"] = "q";
    later["maxAge"] = 60;
    fromServer({{"c", "setPage"}, {"p", later}}, "2.0");
    later["pageId"] = "r";
    later["cacheOnly"] = 1;
    fromServer({{"c", "setPage"}, {"p", later}}, "1.0");
    platform::runUntilIdle();
    EXPECT_EQ(updated, (std::vector<std::string>{"mv-api-page:q", "mv-api-page:r"}));
    auto q = lookup("mv-api-page:q");
    platform::runUntilIdle();
    EXPECT_EQ(q->info["maximum-lifetime"], 60);
}

TEST_F(ApiContentCommandsTest, DataWithoutSerialIsCachedAndFromAPageIsRefused) {
    fromServer({{"c", "dataResponse"}, {"p", {{"pageId", "d"}, {"status", 200}, {"body", "[1]"}}}});
    fromServer({{"c", "dataResponse"}, {"p", {{"status", 200}, {"body", "nothing"}}}});
    platform::runUntilIdle();
    EXPECT_EQ(updated, (std::vector<std::string>{"mv-api-data:d"}));
    // Kept as the server's protocol has it: no base URL, so no lifetime.
    EXPECT_TRUE(logged("MVWebCacheApiDataSource<mv-api-data:d> has zero length baseUrl"));

    auto& shop = page("https://shop.example/account");
    const char* refused[][2] = {
        {"dataResponse", "MVCommandHandler(v1.0).dataResponse() can't be called from web view."},
        {"setVariable", "MVCommandHandler(v1.0).setVariable() can't be called from web view.."},
        {"setAutologinKey",
         "MVCommandHandler(v1.0).setAutologinKey() can't be called from a web view."},
    };
    for (auto [name, report] : refused) {
        MVErrorLogger::clearReports();
        send(
            shop,
            {{"c", name},
             {"p", {{"pageId", "e"}, {"status", 1}, {"name", "n"}, {"value", "v"}, {"key", "k"}}}});
        EXPECT_TRUE(logged(std::string("MVCommandHandler(v1.0).") + name +
                           "() can't be called from a web view."));
        const auto reports = MVErrorLogger::reports();
        ASSERT_EQ(reports.size(), 1u) << name;
        EXPECT_EQ(reports[0].description, report);
        EXPECT_EQ(*reports[0].data, "https://shop.example/account");
    }
    bool exists = true;
    variableContext("n", &exists);
    EXPECT_FALSE(exists);
    EXPECT_EQ(updated.size(), 1u);
}

TEST_F(ApiContentCommandsTest, ClearCacheTakesKeysFromOneOneOnAndEverythingOtherwise) {
    peer::ApiPeer peer;
    connectTo(peer);  // cleared keys load from the server again
    auto store = [] {
        for (const char* id : {"a", "b", "c"})
            fromServer(
                {{"c", "setPage"},
                 {"p",
                  {{"pageId", id}, {"content", "x"}, {"baseUrl", "https://s/"}, {"maxAge", 600}}}});
        settle();
    };
    // Whether a lookup answers from the cache rather than waiting for the server.
    auto fromCache = [this](const char* id) {
        auto answer = lookup(std::string("mv-api-page:") + id);
        settle();
        return answer->finals == 1 && answer->data == "x";
    };
    store();
    ASSERT_TRUE(fromCache("a") && fromCache("b") && fromCache("c"));
    // 1.0 knows no keys: everything goes.
    fromServer({{"c", "clearCache"}, {"p", {{"keys", {"mv-api-page:a"}}}}}, "1.0");
    EXPECT_FALSE(fromCache("b"));
    store();
    fromServer({{"c", "clearCache"}, {"p", {{"keys", {"mv-api-page:a", 7}}}}}, "1.1");
    EXPECT_FALSE(fromCache("a"));
    EXPECT_TRUE(fromCache("b"));
    fromServer({{"c", "clearCache"}, {"p", {{"keys", json::array()}}}}, "2.0");
    EXPECT_FALSE(fromCache("b"));
    EXPECT_FALSE(fromCache("c"));
}

TEST_F(ApiContentCommandsTest, AVariableGoesToTheKeychainAndTheNextPacketNeverToTheLog) {
    peer::ApiPeer peer;
    connectTo(peer);
    fromServer({{"c", "setVariable"}, {"p", {{"name", "n"}, {"value", "v"}, {"context", "c"}}}});
    EXPECT_EQ(keychainItem("mv-connection-var:n"), "v");
    EXPECT_EQ(lastVars(peer), (json{{"n", "v"}}));
    EXPECT_TRUE(
        logged("MVCommandHandler(v1.0) performing MVCommand.setVariable( context = \"c\", "
               "name = \"n\", value = \"***\" )"));
    EXPECT_FALSE(logged("\"v\""));
    EXPECT_EQ(performDirectly("setVariable", {{"name", "n"}, {"value", "w"}})["value"], "");
    EXPECT_EQ(keychainItem("mv-connection-var:n"), "w");

    // Without a value: the row goes; for an unknown name nothing is made.
    EXPECT_EQ(performDirectly("setVariable", {{"name", "n"}})["value"], "");
    performDirectly("setVariable", {{"name", "unknown"}});
    bool exists = true;
    variableContext("n", &exists);
    EXPECT_FALSE(exists);
    variableContext("unknown", &exists);
    EXPECT_FALSE(exists);
    EXPECT_FALSE(lastVars(peer).contains("n"));
    EXPECT_TRUE(MVErrorLogger::reports().empty());
}

TEST_F(ApiContentCommandsTest, TheAutologinKeyStaysOnTheDeviceAndOutOfTheLog) {
    peer::ApiPeer peer;
    connectTo(peer);
    fromServer({{"c", "setAutologinKey"}, {"p", {{"key", "secret-key"}}}});
    EXPECT_EQ(keychainItem("mv-connection-var:autologinKey"), "secret-key");
    bool exists = false;
    EXPECT_EQ(variableContext("autologinKey", &exists), "internal");
    EXPECT_FALSE(lastVars(peer).contains("autologinKey"));
    EXPECT_TRUE(
        logged("MVCommandHandler(v1.0) performing MVCommand.setAutologinKey( key = \"***\" )"));
    EXPECT_FALSE(logged("secret-key"));
    EXPECT_EQ(performDirectly("setAutologinKey", {{"key", "other"}})["key"], "");
    EXPECT_EQ(keychainItem("mv-connection-var:autologinKey"), "other");
    EXPECT_EQ(performDirectly("setAutologinKey", json::object())["key"], "");
    variableContext("autologinKey", &exists);
    EXPECT_FALSE(exists);
}

TEST_F(ApiContentCommandsTest, StoppedMonitoringRunsItsListInTheOuterVersionForThePage) {
    auto& shop = page();
    const json list = json::array({{{"c", "onlyIn2"}, {"p", {{"n", 1}}}}});
    send(shop, {{"c", "startMonitoringResources"}}, "2.0");
    send(shop, {{"c", "stopMonitoringResources"}, {"p", {{"onCompletion", list}, {"timeout", 5}}}},
         "2.0");
    platform::advanceBy(0.1);
    ASSERT_EQ(performedCommands().size(), 1u);
    EXPECT_EQ(performedCommands()[0].command, "onlyIn2");
    EXPECT_EQ(performedCommands()[0].version, "2.0");
    EXPECT_EQ(performedCommands()[0].webView, shop.webView.get());

    // From the server the list runs without a page; a time-out far off changes nothing.
    fromServer({{"c", "startMonitoringResources"}}, "2.0");
    fromServer(
        {{"c", "stopMonitoringResources"}, {"p", {{"onCompletion", list}, {"timeout", 1e308}}}},
        "2.0");
    platform::advanceBy(0.1);
    EXPECT_EQ(performedCommands().size(), 2u);
    EXPECT_EQ(performedCommands()[1].webView, nullptr);
    // Without an open capture there is nothing to stop.
    fromServer({{"c", "stopMonitoringResources"}, {"p", {{"onCompletion", list}}}}, "2.0");
    platform::advanceBy(0.1);
    EXPECT_EQ(performedCommands().size(), 2u);
}

class ScreenshotTest : public ServerRoadTest {
  protected:
    class WindowDelegate : public platform::ApplicationDelegate {
      public:
        std::shared_ptr<platform::Window> window() const override { return window_; }
        std::shared_ptr<platform::Window> window_;
    };
};

TEST_F(ScreenshotTest, TheWindowGoesToTheServerAsBase64PngAtTheScreensScale) {
    peer::ApiPeer peer;
    connectTo(peer);
    platform::Screen::main().setScale(2);
    auto delegate = std::make_shared<WindowDelegate>();
    delegate->window_ = platform::Window::create(platform::Rect(0, 0, 320, 480));
    auto red = platform::View::create(platform::Rect(10, 20, 30, 40));
    red->setBackgroundColor(platform::Color::rgba(1, 0, 0, 1));
    delegate->window_->addSubview(red);
    delegate->window_->makeKeyAndVisible();
    platform::Application::shared().setDelegate(delegate);

    fromServer({{"c", "takeScreenshot"}, {"p", {{"id", "s1"}}}});
    const auto shots = sent(peer, "setScreenshot");
    ASSERT_EQ(shots.size(), 1u);
    EXPECT_EQ(shots[0]["p"]["id"], "s1");
    const std::string text = shots[0]["p"].value("imageData", "");
    ASSERT_GT(text.size(), 66u);
    // CR LF after every 64 characters, none at the end.
    std::string joined;
    for (size_t at = 0; at < text.size(); at += 66) {
        const std::string line = text.substr(at, 64);
        EXPECT_EQ(line.find('\r'), std::string::npos);
        joined += line;
        if (at + 64 < text.size()) {
            EXPECT_EQ(text.substr(at + 64, 2), "\r\n") << at;
        }
    }
    EXPECT_NE(text.substr(text.size() - 2), "\r\n");
    auto png = platform::base64Decode(joined);
    ASSERT_TRUE(png);
    auto image = platform::Image::decode(*png);
    ASSERT_TRUE(image);
    EXPECT_EQ(image->width(), 640);
    EXPECT_EQ(image->height(), 960);
    EXPECT_EQ(image->pixel(20, 40), (platform::Image::Pixel{255, 0, 0, 255}));
    EXPECT_EQ(image->pixel(19, 40).a, 0);

    // Without a window, or with one too large to draw (8,000 points square at scale 2 is
    // over 2^26 pixels), the server still hears of the screenshot, without an image.
    platform::Application::shared().setDelegate(std::make_shared<platform::ApplicationDelegate>());
    fromServer({{"c", "takeScreenshot"}, {"p", {{"id", "s2"}}}});
    delegate->window_ = platform::Window::create(platform::Rect(0, 0, 8000, 8000));
    platform::Application::shared().setDelegate(delegate);
    fromServer({{"c", "takeScreenshot"}, {"p", {{"id", "s3"}}}});
    const auto empty = sent(peer, "setScreenshot");
    ASSERT_EQ(empty.size(), 3u);
    EXPECT_EQ(empty[1]["p"], (json{{"id", "s2"}, {"imageData", nullptr}}));
    EXPECT_EQ(empty[2]["p"], (json{{"id", "s3"}, {"imageData", nullptr}}));
    EXPECT_TRUE(logged("ViewDrawing cannot draw 8000 x 8000 points at scale 2"));
}

}  // namespace
