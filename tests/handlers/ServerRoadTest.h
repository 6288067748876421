#pragma once
// Fixture for the commands on the road between pages and the API server: the real
// handler classes, storage and keychain file below the test's root, the web cache with
// the API data source, the shared connection to a loopback peer, and pages on the
// headless engine whose received events their models record.
//
//   peer::ApiPeer peer;
//   connectTo(peer, [](const json& request) { return response; });
//   auto shop = page();
//   send(shop, {{"c", "sendDataRequest"}, {"p", {{"serial", "1"}, {"src", "mvapi:x"}}}});

#include <functional>
#include <memory>
#include <mutex>
#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "libmerovane/bridge/MVCommand.h"
#include "libmerovane/bridge/MVCommandHandler.h"
#include "libmerovane/bridge/MVWebView.h"
#include "libmerovane/core/MVErrorLogger.h"
#include "libmerovane/handlers/MVCommandHandlerClasses.h"
#include "libmerovane/storage/MVPersistentStorage.h"
#include "libmerovane/webcache/MVWebCache.h"
#include "libmerovane/webcache/MVWebCacheApiDataSource.h"
#include "libmerovane/webcache/MVWebCacheDataSource.h"
#include "platform/foundation/Bundle.h"
#include "platform/foundation/FileManager.h"
#include "platform/foundation/TestDriver.h"
#include "platform/foundation/URL.h"
#include "tests/handlers/TestCommands.h"
#include "tests/support/ApiConnectionTest.h"
#include "tests/support/HeadlessPageModel.h"
#include "tests/support/MVWebViewTestSupport.h"
#include "tests/support/StorageFixture.h"

class ServerRoadTest : public ApiConnectionTest {
  protected:
    struct Page {
        std::shared_ptr<MVWebView> webView;
        std::shared_ptr<HeadlessPageModel> model;
        int64_t nextSerial = 0;
        std::string serial() const { return std::to_string(webView->serialID()); }
    };
    // Answers a dataRequest's parameters with a dataResponse command.
    using DataAnswer = std::function<nlohmann::json(const nlohmann::json& request)>;

    void SetUp() override {
        ApiConnectionTest::SetUp();
        registerCommandHandlerClasses();
        registerTestCommands();
        performedCommands().clear();
        MVErrorLogger::clearReports();
        home_->write("App/Info.json", R"({"CFBundleIdentifier":"com.example.shop"})");
        platform::Bundle::setMainBundlePathForTesting(home_->file("App"));
        MVPersistentStorage::setHost(RecordingStorageHost::at(
            platform::FileManager::defaultManager().cachesDirectory() + "/libmerovane"));
        MVWebCacheDataSource::registerDataSource(MVWebCacheApiDataSource::sharedDataSource());
    }
    void TearDown() override {
        pages_.clear();
        MVWebCache::waitForFileOperations();
        platform::runUntilIdle();
        ApiConnectionTest::TearDown();
        platform::Bundle::setMainBundlePathForTesting({});
    }

    // A page with the page library at `url`, loaded.
    Page& page(const std::string& url = "https://shop.example/list") {
        auto& made = pages_.emplace_back(std::make_unique<Page>());
        made->webView = MVWebView::create(platform::Rect(0, 0, 320, 480));
        made->model = HeadlessPageModel::attach(headlessEngineOf(*made->webView));
        made->model->settings.library = true;
        made->webView->loadHTMLString("<p/>", platform::URL::parse(url));
        platform::advanceBy(0.1);
        return *made;
    }
    // The page sends one command in a collection of `version`, with its next serial.
    static void send(Page& page, nlohmann::json command, const char* version = "1.0") {
        command["s"] = page.nextSerial++;
        page.model->sendCommands(
            {{"ver", version}, {"cmds", nlohmann::json::array({std::move(command)})}});
        platform::runUntilIdle();
    }
    static void fromServer(const nlohmann::json& command, const char* version = "1.0") {
        MVCommandHandler::performCommandsFromCommandCollection(
            {{"ver", version}, {"cmds", nlohmann::json::array({command})}}, nullptr);
    }

    // A peer application: answers request heads as the API server does (so that the
    // second connection is persistent), ends a legacy response with its request, and
    // answers each dataRequest it receives with a packet of `answer`'s dataResponse.
    static peer::PeerResponder answerDataRequests(DataAnswer answer) {
        auto serial = std::make_shared<int64_t>(0);
        return [answer, serial](const peer::PeerEvent& event) {
            using peer::PeerAction;
            std::vector<PeerAction> actions;
            if (event.kind == peer::PeerEvent::Kind::RequestHead)
                actions.push_back(
                    PeerAction::head(peer::ResponseHead::ok({{"X-Merovane-Api", "Velkram"}})));
            if (event.kind == peer::PeerEvent::Kind::BodyEnded) {
                actions.push_back(PeerAction::lastChunk());
                actions.push_back(PeerAction::endOfStream());
            }
            if (event.kind != peer::PeerEvent::Kind::Packet || !answer) return actions;
            nlohmann::json answers = nlohmann::json::array();
            const nlohmann::json& packet = event.packet->decoded.value;
            if (packet.is_object() && packet.contains("cmds"))
                for (const auto& command : packet["cmds"])
                    if (command.value("c", "") == "dataRequest")
                        answers.push_back(answer(command.value("p", nlohmann::json())));
            if (!answers.empty())
                actions.push_back(
                    PeerAction::packet({{"ver", "1.0"}, {"serial", ++*serial}, {"cmds", answers}}));
            return actions;
        };
    }
    // The shared connection, streaming to the peer and performing what it sends.
    void connectTo(peer::ApiPeer& peer, DataAnswer answer = {}) {
        peer.setResponder(answerDataRequests(std::move(answer)));
        auto& connection = startConnection(peerUrl(peer));
        connection.setIsAllowedToReadCommands(true);
        ASSERT_TRUE(waitFor([&] { return connection.state() == MVApiConnectionStateStreaming; }));
    }
    // Every packet the peer has received up to now: a marker command of its own follows
    // what was sent before, and the list ends once it has arrived.
    std::vector<nlohmann::json> packetsSoFar(const peer::ApiPeer& peer) {
        const int marker = ++markers_;
        MVCommand command;
        command.setName(kMarker);
        command.setParameters(nlohmann::json{{"n", marker}});
        MVApiConnection::sharedConnection().sendCommands({command});
        platform::advanceBy(MVApiConnection::kCommandBatchDelay);
        std::vector<nlohmann::json> packets;
        const bool arrived = waitFor([&] {
            packets.clear();
            bool seen = false;
            for (const auto& packet : peer.packets()) {
                packets.push_back(packet.decoded.value);
                for (const auto& c : packet.decoded.value.value("cmds", nlohmann::json::array()))
                    seen = seen || (c.value("c", "") == kMarker &&
                                    c.value("p", nlohmann::json()).value("n", 0) == marker);
            }
            // A first, legacy connection that has ended is reopened 0.01 s later on the
            // manual clock, however late its end was read: the marker may wait for that.
            if (!seen && !MVApiConnection::sharedConnection().isConnectionOpened())
                platform::advanceBy(MVApiConnection::kGracefulReconnectDelay);
            return seen;
        });
        EXPECT_TRUE(arrived);
        return packets;
    }
    // The commands named `name` that the peer has received, as {"c", "p"}.
    std::vector<nlohmann::json> sent(const peer::ApiPeer& peer, const std::string& name) {
        std::vector<nlohmann::json> named;
        for (const auto& packet : packetsSoFar(peer))
            for (const auto& c : packet.value("cmds", nlohmann::json::array()))
                if (c.value("c", "") == name)
                    named.push_back({{"c", name}, {"p", c.value("p", nlohmann::json())}});
        return named;
    }

    std::vector<std::unique_ptr<Page>> pages_;

  private:
    static constexpr const char* kMarker = "serverRoadMarker";
    int markers_ = 0;
};
