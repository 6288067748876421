#pragma once
// The library application in a fresh home: a main bundle with its Info values and the
// library's resource bundle, a recording interjection handler, the recording web cache,
// and the loopback API peer's fixture (real connection, real store, real keychain file).

#include <filesystem>
#include <map>
#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "libmerovane/application/MVInterjectionInterface.h"
#include "libmerovane/application/MVLibraryApplication.h"
#include "libmerovane/application/MVLogServer.h"
#include "libmerovane/core/StringExtensions.h"
#include "platform/foundation/Bundle.h"
#include "platform/foundation/SharedInstances.h"
#include "platform/foundation/UserDefaults.h"
#include "tests/support/ApiConnectionTest.h"
#include "tests/support/FakeWebCache.h"
#include "tests/support/HttpTestServer.h"

// The pairs of a query written as "k=v&k=v&", decoded.
inline std::map<std::string, std::string> pairsOf(const std::string& query) {
    std::map<std::string, std::string> pairs;
    size_t start = 0;
    for (size_t end; (end = query.find('&', start)) != std::string::npos; start = end + 1) {
        const std::string pair = query.substr(start, end - start);
        const size_t equals = pair.find('=');
        pairs[urlDecodedString(pair.substr(0, equals)).value_or("?")] =
            urlDecodedString(pair.substr(equals + 1)).value_or("?");
    }
    return pairs;
}

class RecordingInterjections : public MVInterjectionInterface {
  public:
    void openPushNotificationWithID(const std::string& id) override {
        calls.push_back({"open", id});
    }
    void showPushNotificationInAppDisplayWithId(const std::string& id) override {
        calls.push_back({"inApp", id});
    }
    void openPushNotificationWithId(const std::string& id, const std::string& action,
                                    const std::string& category,
                                    std::function<void()> completion) override {
        calls.push_back({"action", id, action, category});
        if (completion) completion();
    }
    void openDeepLinkWithID(const std::string& id, const std::string& parameters,
                            bool silent) override {
        calls.push_back({"link", id, parameters, silent});
    }
    void didRegisterUserNotificationSettings(const nlohmann::json& settings) override {
        calls.push_back({"settings", settings});
    }
    void didRegisterForRemoteNotificationsWithDeviceToken(const std::string& token) override {
        calls.push_back({"token", token});
    }
    std::vector<nlohmann::json> calls;
};

class LibraryApplicationTest : public ApiConnectionTest {
  protected:
    static nlohmann::json defaultInfo() {
        return {{"CFBundleIdentifier", "com.example.shop"},
                {"CFBundleDisplayName", "Shop"},
                {"CFBundleVersion", "42"},
                {"CFBundleShortVersionString", "4.2"},
                {"Codebase", "cb"},
                {"MVApplicationIdentifier", "shop-id"}};
    }
    void SetUp() override {
        ApiConnectionTest::SetUp();
        writeMainBundle(defaultInfo());
        cache = FakeWebCache::install();
        interjections = std::make_shared<RecordingInterjections>();
        MVInterjectionInterface::setShared(interjections);
        // Error reports go nowhere unless a test serves them.
        logServer_ = std::make_unique<HttpTestServer::RefusingPort>();
        MVLogServer::setEndpointBase(logServer_->url(""));
    }
    void TearDown() override {
        MVLogServer::setEndpointBase({});
        platform::Bundle::setMainBundlePathForTesting({});
        ApiConnectionTest::TearDown();
    }
    // A main bundle with these Info values and a copy of the library's resource bundle.
    void writeMainBundle(const nlohmann::json& info, const std::string& libraryInfo = {}) {
        namespace fs = std::filesystem;
        const std::string bundle = home_->file("Bundle");
        fs::remove_all(bundle);
        home_->write("Bundle/Info.json", info.dump());
        fs::copy(MV_RESOURCE_BUNDLE_DIR, bundle + "/libmerovane.bundle",
                 fs::copy_options::recursive);
        if (!libraryInfo.empty()) home_->write("Bundle/libmerovane.bundle/Info.json", libraryInfo);
        platform::Bundle::setMainBundlePathForTesting(bundle);
    }
    static void setLanguages(const nlohmann::json& languages) {
        platform::UserDefaults::standard().setObject("AppleLanguages", languages);
    }
    MVLibraryApplication& library() { return MVLibraryApplication::sharedLibrary(); }

    std::shared_ptr<FakeWebCache> cache;
    std::shared_ptr<RecordingInterjections> interjections;
    std::unique_ptr<HttpTestServer::RefusingPort> logServer_;
};
