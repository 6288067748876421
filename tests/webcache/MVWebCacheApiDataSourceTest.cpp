#include <thread>

#include "libmerovane/bridge/MVWebCacheKeys.h"
#include "libmerovane/storage/MVWebCacheResourceObject.h"
#include "libmerovane/webcache/MVWebCacheApiDataSource.h"
#include "libmerovane/webcache/MVWebCacheDataSource.h"
#include "platform/foundation/JsonValue.h"
#include "platform/foundation/NotificationCenter.h"
#include "tests/webcache/WebCacheSourceFixture.h"
#include "tools/peer/ApiPeer.h"

namespace {

using nlohmann::json;

// Claims the keys that begin with its prefix, with a fixed priority; never answers.
class ClaimingSource : public MVWebCacheDataSource {
  public:
    ClaimingSource(std::string name, std::string prefix, int priority)
        : name_(std::move(name)), prefix_(std::move(prefix)), priority_(priority) {}
    int priorityForKey(const std::string& key) const override {
        return key.rfind(prefix_, 0) == 0 ? priority_ : 0;
    }
    void loadDataForKey(const std::string&, int64_t, WhenAvailable, WhenFailed) override {}
    std::string className() const override { return name_; }

  private:
    std::string name_, prefix_;
    int priority_;
};

// A subclass that forgot what only subclasses can do.
class IncompleteSource : public MVWebCacheDataSource {};

std::string noSubclassName(const std::function<void()>& call) {
    try {
        call();
    } catch (const MVWebCacheDataSourceNoSubclassException& e) {
        return e.name() + "|" + e.reason();
    }
    return "nothing raised";
}

class MVWebCacheApiDataSourceTest : public WebCacheSourceTest {
  protected:
    void SetUp() override {
        WebCacheSourceTest::SetUp();
        MVWebCacheDataSource::registerDataSource(api());
    }
    static std::shared_ptr<MVWebCacheApiDataSource> api() {
        return MVWebCacheApiDataSource::sharedDataSource();
    }
    // The shared connection to the peer, opened.
    void connectTo(const peer::ApiPeer& peer) {
        host_->setDefaultApiPath("http://127.0.0.1:" + std::to_string(peer.port()));
        MVApiConnection::sharedConnection();
        platform::advanceBy(MVApiConnection::kStartDelay);
    }
    // Every command the peer received, in order.
    static json commandsAt(const peer::ApiPeer& peer) {
        json all = json::array();
        for (const auto& packet : peer.packets()) {
            if (const auto* cmds = platform::json::find(packet.decoded.value, "cmds")) {
                for (const auto& command : *cmds) all.push_back(command);
            }
        }
        return all;
    }
    // Lets the batching timer send what is queued and waits until the peer has `count`
    // commands.
    static bool waitForCommands(const peer::ApiPeer& peer, size_t count) {
        platform::advanceBy(MVApiConnection::kCommandBatchDelay);
        return waitFor([&] { return commandsAt(peer).size() >= count; });
    }
};

TEST_F(MVWebCacheApiDataSourceTest, KeysTakeTheSchemeUnlessTheyHoldItAlready) {
    const struct {
        const char* key;
        const char* expected;
    } rows[] = {
        {"home", "mv-api-page:home"},                  // plain identifier
        {"mv-api-page:home", "mv-api-page:home"},      // begins with the scheme
        {"x/mv-api-page:home", "x/mv-api-page:home"},  // holds it in the middle
        {"mv-api-page", "mv-api-page:mv-api-page"},    // the scheme without its colon
        {"", "mv-api-page:"},
    };
    for (const auto& row : rows) {
        EXPECT_EQ(MVWebCacheDataSource::key(row.key, MVWebCacheSchemeApiPage), row.expected)
            << row.key;
    }
}

TEST_F(MVWebCacheApiDataSourceTest, TheHighestClaimWinsAndTheFirstOfEqualClaims) {
    auto first = std::make_shared<ClaimingSource>("First", "a", 1);
    auto second = std::make_shared<ClaimingSource>("Second", "a", 1);
    auto higher = std::make_shared<ClaimingSource>("Higher", "ab", 2);
    for (const auto& source : {first, second, higher}) {
        MVWebCacheDataSource::registerDataSource(source);
    }
    MVWebCacheDataSource::registerDataSource(first);  // stays in its place
    EXPECT_EQ(MVWebCacheDataSource::sourceForKey("ax"), first);
    EXPECT_EQ(MVWebCacheDataSource::sourceForKey("abc"), higher);
    EXPECT_EQ(MVWebCacheDataSource::sourceForKey("zzz"), nullptr);
    EXPECT_EQ(MVWebCacheDataSource::sourceForKey("mv-api-page:x"), api());
    EXPECT_TRUE(
        logged("MVWebCacheDataSource found multiple possible classes for key: abc\n"
               "\t[2] Higher\n\t[1] First\n\t[1] Second"));
    EXPECT_EQ(loggedCount("found multiple possible classes"), 2u);
}

TEST_F(MVWebCacheApiDataSourceTest, TheBaseClassRaisesItsTwoNames) {
    using E = MVWebCacheDataSourceNoSubclassException;
    IncompleteSource incomplete;
    EXPECT_EQ(noSubclassName([] { MVWebCacheDataSource::sharedDataSource(); }),
              std::string(E::kNoSharedInstance) + "|");
    EXPECT_EQ(noSubclassName([&] { (void)incomplete.priorityForKey("k"); }),
              std::string(E::kBaseClassCall) + "|");
    EXPECT_EQ(noSubclassName([&] { incomplete.loadDataForKey("k", 0, nullptr, nullptr); }),
              std::string(E::kBaseClassCall) + "|");
    EXPECT_EQ(E::kNoSharedInstance, std::string("The base class MVWebCacheDataSource has no "
                                                "shared instance."));
    EXPECT_EQ(E::kBaseClassCall, std::string("Function may not be called on the base class."));
}

TEST_F(MVWebCacheApiDataSourceTest, ClaimsOnlyTheTwoApiSchemes) {
    const struct {
        const char* key;
        int priority;
    } rows[] = {
        {"mv-api-page:home", 1},
        {"mv-api-data:menu", 1},
        {"mv-api-page:", 1},
        {"MV-API-PAGE:home", 0},  // schemes compare exactly
        {"mv-api-pages:x", 0},
        {"https://shop.example/", 0},
        {"home", 0},
        {"mv-api-page", 0},  // no scheme at all
        {"", 0},
        {"mv api-page:x", 0},
    };
    for (const auto& row : rows) EXPECT_EQ(api()->priorityForKey(row.key), row.priority) << row.key;
}

TEST_F(MVWebCacheApiDataSourceTest, AKeyNoSourceClaimsFailsAtOnce) {
    auto answers = lookup("ftp://shop.example/file");
    ASSERT_TRUE(waitFor([&] { return answers->finished(); }));
    EXPECT_EQ(answers->events,
              (std::vector<std::string>{
                  "starts", "failed(" + std::string(MVWebCacheErrorNoDataSource) + ",404)"}));
}

TEST_F(MVWebCacheApiDataSourceTest, LoadingDataAsksTheServerForThePage) {
    peer::ApiPeer peer;
    connectTo(peer);
    auto answers = lookup(MVWebCacheKeyWithScheme("menu", MVWebCacheSchemeApiData));
    ASSERT_TRUE(waitFor([&] { return api()->pendingRequestCount() == 1; }));
    api()->loadDataForKey("mv-api-page:home/deep:er", 0, nullptr, nullptr);
    ASSERT_TRUE(waitForCommands(peer, 2));
    EXPECT_EQ(commandsAt(peer), json::parse(R"([{"c":"getPage","p":{"pageId":"menu"}},
                                                {"c":"getPage","p":{"pageId":"home/deep:er"}}])"));
    platform::advanceBy(3600);
    EXPECT_EQ(answers->events, std::vector<std::string>{"starts"});  // no time-out
}

// A cleared entry starts a second load while the first waits: both are answered by the
// one delivery.
TEST_F(MVWebCacheApiDataSourceTest, DeliveryWithoutBaseUrlStoresLifetimeZeroAndAnswersBothWaiters) {
    peer::ApiPeer peer;
    connectTo(peer);
    const std::string key = "mv-api-data:menu";
    auto first = lookup(key);
    ASSERT_TRUE(waitFor([&] { return api()->pendingRequestCount() == 1; }));
    cache().clearCache();
    auto second = lookup(key);
    ASSERT_TRUE(waitForCommands(peer, 1));
    // The second load joined the first: still one request, and one getPage.
    platform::advanceBy(1);
    EXPECT_EQ(commandsAt(peer).size(), 1u);
    EXPECT_EQ(api()->pendingRequestCount(), 1u);

    int notified = 0;
    auto token = platform::NotificationCenter::defaultCenter().addObserver(
        MVWebCacheDidUpdateKeyNotification, nullptr,
        [&](const platform::Notification&) { ++notified; });
    api()->setData(bytesOf("[1,2]"), key, {{"base-url", ""}, {"mime-type", "application/json"}});
    platform::NotificationCenter::defaultCenter().removeObserver(token);
    EXPECT_TRUE(logged("MVWebCacheApiDataSource<mv-api-data:menu> has zero length baseUrl"));
    EXPECT_EQ(notified, 1);
    for (const auto& answers : {first, second}) {
        EXPECT_EQ(answers->finals, 1);
        EXPECT_EQ(textOf(answers->data), "[1,2]");
        EXPECT_EQ(answers->info["maximum-lifetime"], 0);
        EXPECT_EQ(answers->info["mime-type"], "application/json");
    }
    EXPECT_EQ(api()->pendingRequestCount(), 0u);
    MVWebCache::waitForFileOperations();
    double lifetime = -1;
    storage().lockedAccess([&] {
        auto row = MVWebCacheResourceObject::dbObjectWithID(key);
        ASSERT_TRUE(row);
        lifetime = row->maximumLifetime().value_or(-1);
    });
    EXPECT_EQ(lifetime, 0);
    // Stale at once: the next lookup asks the server again.
    platform::advanceBy(1);
    auto again = lookup(key);
    EXPECT_TRUE(waitFor([&] { return api()->pendingRequestCount() == 1; }));
}

TEST_F(MVWebCacheApiDataSourceTest, ContentNobodyWaitsForIsStoredAllTheSame) {
    const std::string key = "mv-api-page:pushed";
    const json info = {{"base-url", "https://shop.example/"}, {"maximum-lifetime", 60}};
    // From another thread it continues on the main thread.
    std::thread([&] { api()->setData(bytesOf("<html/>"), key, info); }).join();
    EXPECT_FALSE(cache().isCachedDataAvailableForKey(key));
    platform::runUntilIdle();
    EXPECT_TRUE(cache().isCachedDataAvailableForKey(key));
    auto answers = lookup(key);
    EXPECT_EQ(answers->events, (std::vector<std::string>{"available(true,false)"}));
    EXPECT_EQ(answers->info, info);
    EXPECT_FALSE(logged("zero length baseUrl"));
}

}  // namespace
