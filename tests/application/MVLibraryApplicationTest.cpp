#include <nlohmann/json.hpp>

#include "libmerovane/application/MVDeepLink.h"
#include "libmerovane/application/MVLibraryBundle.h"
#include "libmerovane/application/MVPaymentServices.h"
#include "libmerovane/connection/MVApiConnectionVariable.h"
#include "libmerovane/core/MVUserDefaultsKeys.h"
#include "libmerovane/storage/MVPersistentStorage.h"
#include "libmerovane/storage/MVWebStorageVariable.h"
#include "platform/foundation/Error.h"
#include "platform/foundation/FileManager.h"
#include "platform/foundation/NotificationCenter.h"
#include "platform/ui/Application.h"
#include "platform/web/HeadlessWebEngine.h"
#include "platform/web/WebView.h"
#include "tests/application/LibraryApplicationFixture.h"

using nlohmann::json;

namespace {

using MVLibraryApplicationTest = LibraryApplicationTest;

TEST(MVDeepLinkTest, ParsesLinksOfAnyText) {
    struct Row {
        const char* url;
        bool parsed;
        const char* id;
        const char* parameters;
        bool silent;
    };
    const Row rows[] = {
        {"merovane-shop://silent/product/42?x=1&y=2", true, "product/42", "?x=1&y=2", true},
        {"merovane-shop://product/42", true, "product/42", "", false},
        {"merovane-shop://product?", true, "product?", "", false},  // a lone "?" stays in the id
        {"merovane-a://silent?x", true, "silent", "?x", false},
        {"merovane-a://", true, "", "", false},
        {"merovane-shop:product", false, "", "", false},  // no double slash
        {"merovane-shop:/x//y", false, "", "", false},    // "//" not right behind the colon
        {"https://x", false, "", "", false},              // another scheme
        {"merovane", false, "", "", false},               // no scheme at all
        {"", false, "", "", false},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.url);
        auto link = MVDeepLink::parse(row.url);
        ASSERT_EQ(link.has_value(), row.parsed);
        if (!link) continue;
        EXPECT_EQ(link->linkId, row.id);
        EXPECT_EQ(link->parameters, row.parameters);
        EXPECT_EQ(link->silent, row.silent);
    }
}

TEST_F(MVLibraryApplicationTest, DeepLinksOpenAfterTheAppStartOnlyOtherUrlsGoToTheWallet) {
    EXPECT_TRUE(library().openURL("merovane-shop://silent/product/42?x=1&y=2", "other"));
    EXPECT_TRUE(interjections->calls.empty());  // the launch options carry it before the start
    library().setDidSendAppStart(true);
    EXPECT_TRUE(library().openURL("merovane-shop://silent/product/42?x=1&y=2", "other"));
    EXPECT_TRUE(library().openURL("merovane-shop:product", "other"));
    EXPECT_EQ(interjections->calls, (std::vector<json>{{"link", "product/42", "?x=1&y=2", true}}));
    EXPECT_TRUE(logged("Deeplink doesn't contain a double slash: \"merovane-shop:product\"."));
    EXPECT_FALSE(library().openURL("https://x", "wallet"));

    struct PaymentUnderWay : MVPaymentServices {
        bool isLibSidedPaymentProcessAtPresent() override { return true; }
    };
    EXPECT_FALSE(MVPaymentServices::shared()->handleOpenURL("https://x", "wallet"));
    MVPaymentServices::setShared(std::make_shared<PaymentUnderWay>());
    EXPECT_FALSE(library().openURL("https://x", "wallet"));  // the wallet client's answer
}

TEST_F(MVLibraryApplicationTest, PushedNotificationsTakeTextAndNumbersInEveryState) {
    auto& app = platform::Application::shared();
    const json payloads[] = {{{"merovane", "n1"}}, {{"merovane", 42}}, {{"merovane", {1}}},
                             {{"aps", 1}},         json("junk"),       {{"merovane", nullptr}}};
    library();
    app.enterBackground();
    for (const auto& payload : payloads) library().didReceiveRemoteNotification(payload);
    app.becomeActive();
    for (const auto& payload : payloads) library().didReceiveRemoteNotification(payload);
    EXPECT_EQ(
        interjections->calls,
        (std::vector<json>{{"open", "n1"}, {"open", "42"}, {"inApp", "n1"}, {"inApp", "42"}}));
    EXPECT_EQ(loggedCount("ignores a notification whose identifier is array"), 2u);

    int completed = 0;
    library().handleActionWithIdentifier("buy", {{"merovane", 7}}, [&] { ++completed; });
    library().handleActionWithIdentifier("buy", {{"other", 7}}, [&] { ++completed; });
    library().handleActionWithIdentifier("buy", {{"merovane", true}}, nullptr);
    EXPECT_EQ(completed, 2);
    EXPECT_EQ(interjections->calls.at(4), (json{"action", "7", "buy", "7"}));

    library().didRegisterForRemoteNotificationsWithDeviceToken("tok");
    library().didFailToRegisterForRemoteNotificationsWithError(platform::Error("d", 3));
    EXPECT_EQ(interjections->calls.back(), (json{"token", "tok"}));
    EXPECT_TRUE(logged("MVLibraryApplication did fail to register for remote notifications."));
}

TEST_F(MVLibraryApplicationTest, FoldersUpdateFlagIdentifierAndNotifications) {
    auto& files = platform::FileManager::defaultManager();
    platform::UserDefaults::standard().setObject("app_identifier", " my\tapp\u00A0id\n");
    EXPECT_EQ(library().pathForCaches(), files.cachesDirectory() + "/libmerovane");
    EXPECT_EQ(library().pathForWebCache(), files.cachesDirectory() + "/libmerovane/webcache");
    EXPECT_EQ(library().pathForLocalization(),
              files.cachesDirectory() + "/libmerovane/localization");
    EXPECT_EQ(library().pathForShadowCache(),
              files.documentsDirectory() + "/libmerovane/shadowcache");
    EXPECT_TRUE(MVLibraryApplication::didUpdateApplication());  // first launch counts
    EXPECT_TRUE(logged("Application did update from (null) to 42"));
    EXPECT_EQ(library().appIdentifier(), "myappid");
    EXPECT_EQ(
        platform::UserDefaults::standard().stringForKey(MVLibraryApplicationLastLaunchedVersion),
        "42");

    platform::NotificationCenter::defaultCenter().post(
        platform::kApplicationWillTerminateNotification);
    EXPECT_TRUE(logged("MVLibraryApplication notification UIApplicationWillTerminateNotification"));

    platform::resetSharedInstancesForTesting();  // the next start, same version, no identifier
    platform::UserDefaults::standard().setObject(MVLibraryApplicationLastLaunchedVersion, "42");
    writeMainBundle({{"CFBundleVersion", "42"}});
    EXPECT_FALSE(MVLibraryApplication::didUpdateApplication());
    EXPECT_THROW(library().appIdentifier(), platform::Exception);
}

TEST_F(MVLibraryApplicationTest, UserAgentFromTheEngineAndTheInfoValues) {
    platform::WebView::setEngineFactory([] {
        auto engine = std::make_unique<platform::HeadlessWebEngine>();
        engine->setScriptResponder([](const std::string& script) {
            return script == "navigator.userAgent" ? "UA/1" : "";
        });
        return engine;
    });
    library().generateUserAgentString();
    EXPECT_EQ(library().userAgentString(), "UA/1 libmerovane/2.0 (Shop 42 Codebase:cb NOAPPLEPAY)");
    EXPECT_TRUE(logged("MVLibraryApplication User-Agent: UA/1 libmerovane/2.0 (Shop 42"));
    writeMainBundle({{"CFBundleVersion", "7"}});  // no name, no code base
    library().generateUserAgentString();
    EXPECT_EQ(library().userAgentString(), "UA/1 libmerovane/2.0 ( 7 NOAPPLEPAY)");
    platform::WebView::setEngineFactory(nullptr);
}

TEST_F(MVLibraryApplicationTest, ResetDeletesVariablesThenClearsTheCacheThenEveryRow) {
    library();  // the storage's host
    auto& storage = MVPersistentStorage::sharedStorage();
    storage.lockedAccess([] {
        auto variable = MVApiConnectionVariable::dbObjectCreate();
        variable->setId("autologinKey");
        MVWebStorageVariable::dbObjectCreate()->setId("cart");
    });
    size_t variablesAtClear = 99, webStorageAtClear = 0;
    cache->onClearCache = [&] {
        storage.lockedAccess([&] {
            variablesAtClear = MVApiConnectionVariable::dbObjectsWithoutFetchingProperties().size();
            webStorageAtClear = MVWebStorageVariable::dbObjectsWithoutFetchingProperties().size();
        });
    };
    library().resetApplication();
    EXPECT_EQ(cache->clearCacheCount, 1);
    EXPECT_EQ(variablesAtClear, 0u);
    EXPECT_EQ(webStorageAtClear, 1u);
    storage.lockedAccess(
        [] { EXPECT_TRUE(MVWebStorageVariable::dbObjectsWithoutFetchingProperties().empty()); });
    EXPECT_TRUE(storage.waitUntilWrittenToDisc());
}

TEST_F(MVLibraryApplicationTest, RemovingTheCachedBootScriptKeepsTheFailsafeOnlyDuringShadowMode) {
    auto& defaults = platform::UserDefaults::standard();
    struct Row {
        bool installed, shadow, caching, keepsFailsafe;
    };
    for (auto row : {Row{false, false, true, false}, Row{true, true, true, true},
                     Row{true, true, false, false}, Row{true, false, true, false}}) {
        MVWebCacheInterface::setShared(row.installed ? cache : nullptr);
        cache->setShadowMode(row.shadow);
        cache->cachingEnabled = row.caching;
        defaults.setObject(MVStandardUserDefaultsCachedBootScript, {{"identifier", "B"}});
        defaults.setObject(MVWebCacheShadowModeScheduledAtAppStart, true);
        defaults.setObject(MVLibraryApplicationFailsafeToken, true);
        library().removeCachedBootApp();
        EXPECT_FALSE(defaults.objectForKey(MVStandardUserDefaultsCachedBootScript));
        EXPECT_FALSE(defaults.objectForKey(MVWebCacheShadowModeScheduledAtAppStart));
        EXPECT_EQ(defaults.objectForKey(MVLibraryApplicationFailsafeToken).has_value(),
                  row.keepsFailsafe);
    }
}

TEST_F(MVLibraryApplicationTest, ResourceBundleMissingOrOfAnotherVersionIsAPackagingError) {
    EXPECT_EQ(libmerovaneBundle().path(), home_->file("Bundle/libmerovane.bundle"));
    platform::resetSharedInstancesForTesting();
    writeMainBundle(defaultInfo(), R"({"CFBundleShortVersionString": "1.9"})");
    try {
        libmerovaneBundle();
        ADD_FAILURE() << "no exception";
    } catch (const MVLibraryBundleException& e) {
        EXPECT_EQ(e.name(), MVLibraryBundleVersionMismatchException);
        EXPECT_EQ(e.reason(), "Merovane-Library bundle version does not match");
        EXPECT_NE(e.text().find("version (1.9) differs from the library codebase version (2.0)"),
                  std::string::npos);
    }
    std::filesystem::remove_all(home_->file("Bundle/libmerovane.bundle"));
    try {
        libmerovaneBundle();
        ADD_FAILURE() << "no exception";
    } catch (const MVLibraryBundleException& e) {
        EXPECT_EQ(e.name(), MVLibraryBundleNotFoundException);
        EXPECT_EQ(e.reason(), "Merovane-Library bundle not found");
    }
}

}  // namespace
