#include <gtest/gtest.h>

#include <cstdlib>
#include <map>
#include <nlohmann/json.hpp>
#include <set>
#include <thread>

#include "LibraryApplicationFixture.h"
#include "libmerovane/application/MVErrorLogUpload.h"
#include "libmerovane/application/MVLogServer.h"
#include "libmerovane/bridge/URLRequestWebCache.h"
#include "libmerovane/connection/MVApiConnectionVariable.h"
#include "libmerovane/core/MVErrorLogger.h"
#include "libmerovane/core/StringExtensions.h"
#include "libmerovane/core/UIDeviceExtensions.h"
#include "libmerovane/storage/MVPersistentStorage.h"
#include "platform/foundation/JsonValue.h"
#include "platform/foundation/Keychain.h"
#include "platform/foundation/URLProtocol.h"
#include "platform/ui/Device.h"

using nlohmann::json;

namespace {

constexpr const char* kErrorPath = "/applog/error";

class ScopedEnvironment {
  public:
    ScopedEnvironment(const char* name, const char* value) : name_(name) {
        ::setenv(name, value, 1);
    }
    ~ScopedEnvironment() { ::unsetenv(name_); }

  private:
    const char* name_;
};

// Stands in for the web cache's URL protocol: notes what it is asked, takes nothing.
class WebCacheStandIn : public platform::URLProtocolFactory {
  public:
    bool canInitWithRequest(const platform::URLRequest& request) const override {
        std::lock_guard lock(mutex_);
        asked_.push_back(willIgnoreWebcache(request));
        return false;
    }
    std::shared_ptr<platform::URLProtocol> create(
        const platform::URLRequest&, std::shared_ptr<platform::URLProtocolClient>) const override {
        return nullptr;
    }
    std::vector<bool> asked() const {
        std::lock_guard lock(mutex_);
        return asked_;
    }

  private:
    mutable std::mutex mutex_;
    mutable std::vector<bool> asked_;
};

class ErrorLogUploadTest : public LibraryApplicationTest {
  protected:
    void SetUp() override {
        LibraryApplicationTest::SetUp();
        server_.respond(kErrorPath, HttpTestServer::Response::text(200, ""));
        MVLogServer::setEndpointBase(server_.baseURL());
        // Reports name the API connection's address: it opens nowhere.
        library().setDefaultApiPath(logServer_->url(""));  // installs the upload
    }
    bool waitForReports(size_t count) {
        return waitFor([&] { return server_.requestCount(kErrorPath) >= count; });
    }
    // The decoded pairs of every report received, in order.
    std::vector<std::map<std::string, std::string>> received() const {
        std::vector<std::map<std::string, std::string>> all;
        for (const auto& request : server_.requests()) all.push_back(pairsOf(request.query));
        return all;
    }
    void setDeviceId(const std::string& value) {
        MVPersistentStorage::sharedStorage().lockedAccess([&] {
            auto variable = MVApiConnectionVariable::dbObjectCreate();
            variable->setId("did");
            variable->setValue(value);
        });
    }

    HttpTestServer server_;
};

TEST_F(ErrorLogUploadTest, FourteenEntriesWithTheDataAsJsonAndTheTrailingAmpersand) {
    platform::UserDefaults::standard().setObject("app_identifier", " my shop\t id ");
    platform::Device::current().setUserInterfaceIdiom(platform::UserInterfaceIdiom::Pad);
    setDeviceId("device-1");
    MVErrorLogger::logError("MVCommandHandler(v2.0) unknown command.", {{"a", 1}});
    ASSERT_TRUE(waitForReports(1));
    const auto request = server_.requests().front();
    EXPECT_EQ(request.method, "GET");
    EXPECT_NE(request.query.find("&data=%7B%22a%22%3A1%7D&"), std::string::npos);
    EXPECT_EQ(request.query.back(), '&');
    auto pairs = pairsOf(request.query);
    EXPECT_EQ(pairs.size(), 14u);
    EXPECT_GT(std::stod(pairs["timestamp"]), 0);
    pairs.erase("timestamp");
    EXPECT_EQ(pairs, (std::map<std::string, std::string>{
                         {"appVersion", "42"},
                         {"appIdentifier", "myshopid"},
                         {"libVersion", "2.0"},
                         {"apiPath", MVApiConnection::sharedConnection().apiPath()},
                         {"errorDescription", "MVCommandHandler(v2.0) unknown command."},
                         {"interfaceType", "tablet"},
                         {"osVersion", platform::Device::current().systemVersion()},
                         {"deviceId", "device-1"},
                         {"deviceName", devicePlatform()},
                         {"deviceManufacturer", "apple"},
                         {"platform", "ios"},
                         {"codebase", "cb"},
                         {"data", R"({"a":1})"}}));
    EXPECT_TRUE(logged(
        "MVErrorLogger is sending error log to server: <MVCommandHandler(v2.0) unknown command.>"));
}

TEST_F(ErrorLogUploadTest, OnlyYesInCapitalsTurnsItOffAndNoDataIsNotReadable) {
    {
        ScopedEnvironment off(MVErrorLogUpload::kDisabledVariable, "YES");
        MVErrorLogger::logError("while off");
    }
    ScopedEnvironment on(MVErrorLogUpload::kDisabledVariable, "yes");
    MVErrorLogger::logError("while on");
    ASSERT_TRUE(waitForReports(1));
    auto all = received();
    ASSERT_EQ(all.size(), 1u);
    EXPECT_EQ(all[0]["errorDescription"], "while on");
    EXPECT_EQ(all[0]["deviceId"], "");
    EXPECT_EQ(all[0]["interfaceType"], "phone");
    EXPECT_NE(server_.requests()[0].query.find(
                  "data=MVErrorLogger%3A%20Data%20not%20readable%20format%3A%20%5B%28null%29%5D&"),
              std::string::npos);
    EXPECT_FALSE(logged("while off"));
}

TEST_F(ErrorLogUploadTest, AReportAskedForWhileOneIsBuiltIsDroppedAndTheNextGoesOut) {
    setDeviceId("device-1");
    // The read of "did" fails and reports that, from inside the report being built.
    platform::Keychain::shared().injectFailure(platform::KeychainStatus::Failure);
    MVErrorLogger::logError("outer");
    platform::Keychain::shared().injectFailure(std::nullopt);
    ASSERT_EQ(MVErrorLogger::reports().size(), 2u);  // kept all the same
    EXPECT_EQ(MVErrorLogger::reports()[1].description.rfind("Could not read MVApiConnection", 0),
              0u);
    MVErrorLogger::logError("next");
    ASSERT_TRUE(waitForReports(2));
    auto all = received();
    ASSERT_EQ(all.size(), 2u);
    EXPECT_EQ(all[0]["errorDescription"], "outer");
    EXPECT_EQ(all[0]["deviceId"], "");
    EXPECT_EQ(all[1]["errorDescription"], "next");
}

TEST_F(ErrorLogUploadTest, AReportWhoseBuildingFailsGivesTheFlagBack) {
    // Storage without its host raises while "did" is read.
    MVPersistentStorage::setHost(nullptr);
    MVErrorLogger::logError("first");
    EXPECT_TRUE(logged("MVErrorLogger could not send error log"));
    MVPersistentStorage::setHost(MVLibraryApplication::sharedLibraryPointer());
    MVErrorLogger::logError("second");
    ASSERT_TRUE(waitForReports(1));
    EXPECT_EQ(received()[0]["errorDescription"], "second");
}

TEST_F(ErrorLogUploadTest, ReportsMadeUnderAHoldAreKeptAtOnceAndSentWhenTheOutermostEnds) {
    {
        MVErrorLogger::UploadHold outer;
        {
            MVErrorLogger::UploadHold inner;
            MVErrorLogger::logError("first");
        }
        MVErrorLogger::logError("second");
        EXPECT_EQ(MVErrorLogger::reports().size(), 2u);
        EXPECT_FALSE(logged("MVErrorLogger is sending error log to server: <first>"));
    }
    EXPECT_TRUE(logged("MVErrorLogger is sending error log to server: <first>"));
    EXPECT_TRUE(logged("MVErrorLogger is sending error log to server: <second>"));
    ASSERT_TRUE(waitForReports(2));
    std::set<std::string> sent;
    for (auto& pairs : received()) sent.insert(pairs["errorDescription"]);
    EXPECT_EQ(sent, (std::set<std::string>{"first", "second"}));
}

TEST_F(ErrorLogUploadTest, ReportsFromManyThreadsNeverLeaveTheFlagSet) {
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t)
        threads.emplace_back([] {
            for (int i = 0; i < 10; ++i) MVErrorLogger::logError("busy");
        });
    for (auto& thread : threads) thread.join();
    ASSERT_TRUE(waitForReports(1));
    const size_t before = server_.requestCount(kErrorPath);
    EXPECT_LE(before, 40u);
    MVErrorLogger::logError("after");
    ASSERT_TRUE(waitFor([&] {
        for (auto& pairs : received())
            if (pairs["errorDescription"] == "after") return true;
        return false;
    }));
}

TEST_F(ErrorLogUploadTest, ABlankIdentifierIsReportedBlankAndALongDescriptionIsCut) {
    // A blank default is still the default: the Info value is only for none at all.
    platform::UserDefaults::standard().setObject("app_identifier", " \u00A0\t");
    const std::string longDescription(MVErrorLogUpload::kMaxDescriptionText + 100, 'd');
    MVErrorLogger::logError(longDescription);
    ASSERT_TRUE(waitForReports(1));
    platform::UserDefaults::standard().removeObject("app_identifier");
    MVErrorLogger::logError("without the default");
    ASSERT_TRUE(waitForReports(2));
    auto all = received();
    EXPECT_EQ(all[0]["appIdentifier"], "");
    EXPECT_EQ(all[0]["errorDescription"],
              std::string(MVErrorLogUpload::kMaxDescriptionText, 'd') +
                  fmt::format("… [cut, {} bytes]", longDescription.size()));
    EXPECT_EQ(all[1]["appIdentifier"], "shop-id");
    EXPECT_FALSE(logged(std::string(MVErrorLogUpload::kMaxDescriptionText + 1, 'd')));
}

TEST_F(ErrorLogUploadTest, PassesTheWebCacheAndLogsWhatTheServerRefuses) {
    auto standIn = std::make_shared<WebCacheStandIn>();
    platform::URLProtocol::registerClass(standIn);
    server_.respond(kErrorPath, HttpTestServer::Response::text(503, "busy"));
    MVErrorLogger::logError("refused");
    ASSERT_TRUE(waitForReports(1));
    const std::string url = server_.url(kErrorPath) + "?" + server_.requests()[0].query;
    EXPECT_TRUE(waitFor([&] {
        return logged("MVErrorLogger couldn't send error log to url: " + url.substr(0, 1000));
    }));
    EXPECT_TRUE(logged("- status: 503"));
    platform::URLProtocol::unregisterClass(standIn);
    EXPECT_EQ(standIn->asked(), std::vector<bool>{true});
}

TEST_F(ErrorLogUploadTest, AFailedTransferLogsStatusZero) {
    HttpTestServer::RefusingPort refusing;
    MVLogServer::setEndpointBase(refusing.url(""));
    MVErrorLogger::logError("nobody listens");
    EXPECT_TRUE(waitFor([&] {
        return logged("MVErrorLogger couldn't send error log to url: " +
                      refusing.url(kErrorPath)) &&
               logged("- status: 0");
    }));
}

TEST(ErrorLogDataText, EachKindOfData) {
    struct Row {
        std::optional<json> data;  // none: no data given
        std::string text;
    } rows[] = {
        {std::nullopt, "MVErrorLogger: Data not readable format: [(null)]"},
        {json{{"list", {1, "two", nullptr}}, {"on", true}}, R"({"list":[1,"two",null],"on":true})"},
        {json("openPage"), "openPage"},  // a string unchanged
        {json(""), ""},
        {json::array(), "[]"},
        {json(42), "42"},
        {json(-7), "-7"},
        {json(2.5), "2.5"},
        {json(3.0), "3"},
        {json(true), "1"},  // booleans are numbers there
        {json(nullptr), "MVErrorLogger: Data not readable format: [NSNull]"},
        {json::binary({1, 2}), "MVErrorLogger: Data not readable format: [NSData]"},
    };
    for (const auto& row : rows)
        EXPECT_EQ(MVErrorLogUpload::dataText(row.data ? &*row.data : nullptr), row.text);
}

TEST(ErrorLogDataText, DataTooDeepToWriteIsBlank) {
    auto nested = [](size_t levels) {
        json root = json::object();
        json* inner = &root;
        for (size_t i = 1; i < levels; ++i) inner = &((*inner)["k"] = json::object());
        return root;
    };
    const size_t limit = platform::json::kMaxParseDepth;
    const json deepest = nested(limit), tooDeep = nested(limit + 1);
    EXPECT_EQ(MVErrorLogUpload::dataText(&deepest).substr(0, 6), R"({"k":{)");
    EXPECT_EQ(MVErrorLogUpload::dataText(&tooDeep), "");
    // Other callers keep their JSON text, where null stands for what cannot be written.
    EXPECT_EQ(platform::json::print(tooDeep), "null");
}

TEST(ErrorLogDataText, LongDataIsCutOnACharacterAndMarked) {
    // "é" is two bytes: the limit falls inside the last one.
    const json data = std::string(MVErrorLogUpload::kMaxDataText - 1, 'a') + "é" + "tail";
    const std::string text = MVErrorLogUpload::dataText(&data);
    const size_t full = MVErrorLogUpload::kMaxDataText + 5;
    EXPECT_EQ(text, std::string(MVErrorLogUpload::kMaxDataText - 1, 'a') +
                        fmt::format("… [cut, {} bytes]", full));
    const json exact = std::string(MVErrorLogUpload::kMaxDataText, 'b');
    EXPECT_EQ(MVErrorLogUpload::dataText(&exact), exact.get<std::string>());
    const json big = {{"page", std::string(1 << 20, 'x')}};
    EXPECT_LT(MVErrorLogUpload::dataText(&big).size(), MVErrorLogUpload::kMaxDataText + 64);
}

}  // namespace
