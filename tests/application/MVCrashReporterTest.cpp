#include <fmt/format.h>
#include <gtest/gtest.h>
#include <signal.h>

#include <atomic>
#include <cstdlib>
#include <filesystem>
#include <map>
#include <nlohmann/json.hpp>

#include "LibraryApplicationFixture.h"
#include "libmerovane/application/MVCrashReporter.h"
#include "libmerovane/application/MVLogServer.h"
#include "libmerovane/core/MVErrorLogger.h"
#include "libmerovane/core/StringExtensions.h"
#include "platform/crash/CrashReporter.h"
#include "platform/foundation/Exception.h"
#include "platform/foundation/FileManager.h"
#include "platform/foundation/URLRequest.h"
#include "platform/foundation/UserDefaults.h"
#include "platform/ui/Device.h"
#include "tests/support/ChildProcess.h"
#include "tests/support/CrashingChild.h"

using nlohmann::json;
using platform::CrashReport;
using platform::CrashReporter;

namespace {

constexpr const char* kCrashPath = "/applog/crash";
// Far from what the loader and the sanitizers map.
constexpr uintptr_t kBusAddress = 0x7e5700000000;
#if defined(__SANITIZE_THREAD__)
constexpr bool kThreadSanitizer = true;
#elif defined(__has_feature)
constexpr bool kThreadSanitizer = __has_feature(thread_sanitizer);
#else
constexpr bool kThreadSanitizer = false;
#endif

// Dies as its role says, with the crash capture enabled.
TEST(CrashUploadChild, Die) {
    const std::string role = childRole();
    if (role.empty()) GTEST_SKIP() << "runs as a child process only";
    ASSERT_TRUE(CrashReporter::shared().enable());
    if (role == "bus") dieOfSigbusAt(kBusAddress);
    // Out through a noexcept frame, so the test runner cannot catch it.
    auto raise = role == "exception" ? +[] { throw platform::Exception("MVTestException", "boom"); }
                 : role == "terminate" ? +[] { MVLibraryApplication::terminateApp(); }
                                       : +[] { MVLibraryApplication::terminateAppWithCrashLog(); };
    [raise]() noexcept { raise(); }();
    std::_Exit(2);
}

// The crash reporter's store, with purges that fail when asked to.
class FailingPurges : public MVCrashReporter::Store {
  public:
    std::optional<CrashReport> loadPendingCrashReport() override {
        ++loads;
        return Store::loadPendingCrashReport();
    }
    bool purgeCrashReport(const CrashReport& report, platform::Error* error) override {
        if (!fail) return Store::purgeCrashReport(report, error);
        *error = platform::Error(platform::kPOSIXErrorDomain, EACCES, "injected");
        return false;
    }
    std::atomic<bool> fail{true};
    std::atomic<int> loads{0};
};

class CrashUploadTest : public LibraryApplicationTest {
  protected:
    void SetUp() override {
        LibraryApplicationTest::SetUp();
        auto info = defaultInfo();
        info["CompileInfo"] = "build 7";
        info["CompileUUID"] = "uuid-7";
        writeMainBundle(info);
        server_.respond(kCrashPath, HttpTestServer::Response::text(200, ""));
        server_.respond("/applog/error", HttpTestServer::Response::text(200, ""));
        MVLogServer::setEndpointBase(server_.baseURL());
        // Reports name the API connection's address: it opens nowhere.
        library().setDefaultApiPath(logServer_->url(""));
    }
    // Runs a child that dies as `role`, then starts this run's crash capture, which
    // takes the child's report as pending.
    void childDies(const std::string& role, int signal) {
        ChildProcess child("CrashUploadChild.Die", role, {{"MEROVANE_HOME", home_->path()}});
        ASSERT_EQ(child.wait(), 128 + signal);
        CrashReporter::shared().resetForTesting();
        ASSERT_TRUE(CrashReporter::shared().enable());
    }
    // A pending report as an earlier run would have left it.
    void leavePending(int number, const std::string& bytes) {
        home_->write(fmt::format("Library/CrashReports/pending-{:016}.mvcrash", number), bytes);
    }
    static CrashReport signalReport(uint64_t address) {
        CrashReport report;
        report.pid = 4242;
        report.processStartMillis = 1767225600250;
        report.signalName = "SIGSEGV";
        report.address = address;
        report.frames = {0x55d1c0a1b2c3};
        return report;
    }
    bool waitForUploads(size_t count) {
        return waitFor([&] { return server_.requestCount(kCrashPath) >= count; });
    }
    std::vector<HttpTestServer::Request> uploads() const {
        std::vector<HttpTestServer::Request> found;
        for (const auto& request : server_.requests())
            if (request.path == kCrashPath) found.push_back(request);
        return found;
    }
    static bool pending() { return CrashReporter::shared().hasPendingCrashReport(); }

    HttpTestServer server_;
};

TEST_F(CrashUploadTest, ASignalReportIsPostedWithFifteenEntriesAndPurgedOn200) {
    if (kThreadSanitizer)
        GTEST_SKIP() << "ThreadSanitizer reserves the range of the fixed address the child maps";
    ASSERT_NO_FATAL_FAILURE(childDies("bus", SIGBUS));
    const auto report = CrashReporter::shared().loadPendingCrashReport();
    ASSERT_TRUE(report) << "the child left no crash report";
    const std::string bytes = report->bytes;
    MVCrashReporter::sendPendingCrashReports();
    ASSERT_TRUE(waitForUploads(1));
    EXPECT_TRUE(waitFor([] { return !pending(); }));
    const auto request = uploads().front();
    EXPECT_EQ(request.method, "POST");
    EXPECT_EQ(request.header("Content-Type"), "application/octet-stream");
    EXPECT_EQ(request.body, bytes);
    EXPECT_EQ(request.query.back(), '&');
    auto pairs = pairsOf(request.query);
    EXPECT_EQ(pairs.size(), 15u);
    EXPECT_NEAR(std::stod(pairs["timestamp"]),
                platform::parseCrashReport(bytes)->processStartTime(), 0.001);
    EXPECT_EQ(pairs["errorClass"], "[Signal] SIGBUS");
    EXPECT_EQ(pairs["errorDescription"], "Address: 0x7E5700000000");
    EXPECT_EQ(pairs["compileUUID"], "uuid-7");
    EXPECT_EQ(pairs["appVersion"], "42");
    EXPECT_EQ(pairs["platform"], "ios");
    EXPECT_TRUE(logged(
        "MVCrashReporter tries to send crash log for <[Signal] SIGBUS> [Address: 0x7E5700000000] "
        "to server."));
}

TEST_F(CrashUploadTest, AnUncaughtExceptionGivesItsNameAndReason) {
    ASSERT_NO_FATAL_FAILURE(childDies("exception", SIGABRT));
    MVCrashReporter::sendPendingCrashReports();
    ASSERT_TRUE(waitForUploads(1));
    auto pairs = pairsOf(uploads().front().query);
    EXPECT_EQ(pairs["errorClass"], "[Unhandled Exception] MVTestException");
    EXPECT_EQ(pairs["errorDescription"], "boom");
    EXPECT_TRUE(waitFor([] { return !pending(); }));
}

TEST_F(CrashUploadTest, TerminatingWithoutLogIsDiscardedWithCrashLogIsSent) {
    ASSERT_NO_FATAL_FAILURE(childDies("terminate", SIGABRT));
    ASSERT_NO_FATAL_FAILURE(childDies("terminateWithCrashLog", SIGABRT));
    MVCrashReporter::sendPendingCrashReports();
    ASSERT_TRUE(waitForUploads(1));
    EXPECT_TRUE(waitFor([] { return !pending(); }));
    ASSERT_EQ(uploads().size(), 1u);
    auto pairs = pairsOf(uploads().front().query);
    EXPECT_EQ(pairs["errorClass"],
              "[Unhandled Exception] MVLibraryApplicationHasBeenTerminatedException");
    EXPECT_EQ(pairs["errorDescription"],
              "MVLibraryApllication has been terminated with crash log.");
}

TEST_F(CrashUploadTest, TerminatingRaisesTheNamedException) {
    const struct {
        void (*call)();
        const char* reason;
    } rows[] = {
        {MVLibraryApplication::terminateApp, MVLibraryApplication::kTerminatedWithoutCrashLog},
        {MVLibraryApplication::terminateAppWithCrashLog,
         MVLibraryApplication::kTerminatedWithCrashLog}};
    for (const auto& row : rows) {
        try {
            row.call();
            ADD_FAILURE() << "returned";
        } catch (const platform::Exception& e) {
            EXPECT_EQ(e.name(), "MVLibraryApplicationHasBeenTerminatedException");
            EXPECT_EQ(e.reason(), row.reason);
        }
    }
}

TEST_F(CrashUploadTest, AClosedConnectionRunsNeitherBlockAndTheReportStays) {
    HttpTestServer::Response close;
    close.closeWithoutResponse = true;
    server_.respond(kCrashPath, close);
    leavePending(1, platform::crashRecordText(signalReport(0x10)));
    std::atomic<int> blocks{0};
    MVCrashReporter::uploadCrashData(
        "bytes", "[Signal] SIGSEGV", "Address: 0x10", platform::Date(1), [&] { ++blocks; },
        [&] { ++blocks; });
    MVCrashReporter::sendPendingCrashReports();
    EXPECT_TRUE(
        waitFor([&] { return loggedCount("MVCrashReporter could not send crash log") == 2; }));
    EXPECT_EQ(blocks, 0);
    EXPECT_TRUE(pending());
    EXPECT_TRUE(MVErrorLogger::reports().empty());
}

TEST_F(CrashUploadTest, AnotherStatusRunsTheFailureBlockAndReportsIt) {
    server_.respond(kCrashPath, HttpTestServer::Response::text(500, "no"));
    std::atomic<bool> failed{false}, succeeded{false};
    MVCrashReporter::uploadCrashData(
        "bytes", "[Signal] SIGSEGV", "Address: 0x10", platform::Date(1), [&] { succeeded = true; },
        [&] { failed = true; });
    ASSERT_TRUE(waitFor([&] { return !MVErrorLogger::reports().empty(); }));
    // The report's upload reads the storage on the answer's thread: it ends before the
    // test's shared instances go.
    ASSERT_TRUE(waitFor([&] { return server_.requestCount("/applog/error") >= 1; }));
    EXPECT_TRUE(failed);
    EXPECT_FALSE(succeeded);
    const auto report = MVErrorLogger::reports().front();
    EXPECT_EQ(report.description, "MVCrashReporter couldn't send crashLog to url.");
    EXPECT_EQ(*report.data, (json{{"url", server_.url(kCrashPath)}, {"status", "500"}}));
}

TEST_F(CrashUploadTest, TheBodyGoesUpToOneMebibyte) {
    std::atomic<int> sent{0};
    for (size_t size : {MVCrashReporter::kMaxBodySize, MVCrashReporter::kMaxBodySize + 1}) {
        MVCrashReporter::uploadCrashData(std::string(size, 'r'), "[Signal] SIGSEGV",
                                         std::to_string(size), platform::Date(1), [&] { ++sent; },
                                         {});
        ASSERT_TRUE(waitFor([&] { return sent == 1 + (size > MVCrashReporter::kMaxBodySize); }));
    }
    const auto all = uploads();
    ASSERT_EQ(all.size(), 2u);
    EXPECT_EQ(all[0].body.size(), MVCrashReporter::kMaxBodySize);
    EXPECT_EQ(all[1].body.size(), 0u);
    EXPECT_EQ(pairsOf(all[1].query)["errorDescription"], "1048577");
}

TEST_F(CrashUploadTest, WithoutCompileInfoPendingReportsGoUnsentOnTheSimulatorNothingHappens) {
    leavePending(1, platform::crashRecordText(signalReport(0x10)));
    leavePending(2, platform::crashRecordText(signalReport(0x20)));
    platform::Device::current().setModel("iPhone Simulator");
    MVCrashReporter::sendPendingCrashReports();
    EXPECT_TRUE(pending());
    platform::Device::current().setModel("iPhone");
    auto info = defaultInfo();
    info["CompileInfo"] = "";
    writeMainBundle(info);
    MVCrashReporter::sendPendingCrashReports();
    EXPECT_FALSE(pending());
    EXPECT_EQ(server_.requestCount(), 0u);
}

TEST_F(CrashUploadTest, AFailingPurgeEndsTheSweepAfterOneUpload) {
    auto store = std::make_shared<FailingPurges>();
    MVCrashReporter::setStore(store);
    leavePending(1, platform::crashRecordText(signalReport(0x10)));
    MVCrashReporter::sendPendingCrashReports();
    ASSERT_TRUE(
        waitFor([&] { return logged("MVCrashReporter could not remove the sent crash report"); }));
    // A transfer started after that finds the success block over: the sweep did not go on.
    std::atomic<bool> after{false};
    MVLogServer::send(platform::URLRequest(*platform::URL::parse(server_.url("/after"))),
                      [&](const MVLogServer::Answer&) { after = true; });
    ASSERT_TRUE(waitFor([&] { return after.load(); }));
    EXPECT_EQ(store->loads, 1);
    EXPECT_EQ(server_.requestCount(kCrashPath), 1u);
    EXPECT_TRUE(pending());
    // The next launch tries again.
    store->fail = false;
    MVCrashReporter::sendPendingCrashReports();
    ASSERT_TRUE(waitFor([&] { return !pending(); }));
    EXPECT_EQ(server_.requestCount(kCrashPath), 2u);
}

TEST_F(CrashUploadTest, AReportRefusedAtAFewSweepsIsSetAsideAndTheNextOneSwept) {
    server_.respond(kCrashPath, HttpTestServer::Response::text(503, "busy"));
    leavePending(1, platform::crashRecordText(signalReport(0x10)));
    leavePending(2, platform::crashRecordText(signalReport(0x20)));
    const size_t refusals = MVCrashReporter::kMaxRefusals;
    // One sweep a launch; the last refusal sets the first report aside and goes on.
    for (size_t sweep = 1; sweep <= refusals; ++sweep) {
        MVCrashReporter::sendPendingCrashReports();
        ASSERT_TRUE(waitFor([&] { return MVErrorLogger::reports().size() >= sweep; }));
    }
    ASSERT_TRUE(waitForUploads(refusals + 1));
    ASSERT_TRUE(waitFor([&] { return MVErrorLogger::reports().size() == refusals + 1; }));
    const std::string warning = fmt::format(
        MVCrashReporter::kSetAsideFormat,
        CrashReporter::reportsDirectory() + "/pending-0000000000000001.mvcrash", refusals);
    EXPECT_EQ(loggedLevel(warning), platform::log::kWarning) << warning;
    server_.respond(kCrashPath, HttpTestServer::Response::text(200, ""));
    MVCrashReporter::sendPendingCrashReports();
    ASSERT_TRUE(waitFor([] { return !pending(); }));
    std::vector<std::string> sent;
    for (const auto& request : uploads())
        sent.push_back(pairsOf(request.query)["errorDescription"]);
    EXPECT_EQ(sent, (std::vector<std::string>{"Address: 0x10", "Address: 0x10", "Address: 0x10",
                                              "Address: 0x20", "Address: 0x20"}));
    size_t asides = 0;
    for (const auto& name : platform::FileManager::defaultManager()
                                .contentsOfDirectory(CrashReporter::reportsDirectory())
                                .value_or(std::vector<std::string>{}))
        asides += name.find("pending-0000000000000001.mvcrash.corrupt-") == 0;
    EXPECT_EQ(asides, 1u);
}

// One start whose sweep meets a refusal and which a signal then ends, in the home the
// test gives.
TEST_F(CrashUploadTest, RefusedThenKilled) {
    const char* shared = std::getenv("MV_SHARED_HOME");
    if (childRole() != "refused-then-killed" || !shared)
        GTEST_SKIP() << "runs as a child process only";
    platform::FileManager::defaultManager().setRootDirectoryForTesting(shared);
    platform::UserDefaults::standard().resetForTesting();
    server_.respond(kCrashPath, HttpTestServer::Response::text(503, "busy"));
    MVCrashReporter::sendPendingCrashReports();
    // The error report follows the failure block.
    ASSERT_TRUE(waitFor([] { return !MVErrorLogger::reports().empty(); }));
    std::filesystem::remove_all(home_->path());  // no destructor runs
    ::raise(SIGKILL);
}

TEST_F(CrashUploadTest, ARefusalIsCountedOnDiscBeforeTheNextStartCrashes) {
    leavePending(1, platform::crashRecordText(signalReport(0x10)));
    leavePending(2, platform::crashRecordText(signalReport(0x20)));
    auto& defaults = platform::UserDefaults::standard();
    const std::string first =
        CrashReporter::reportsDirectory() + "/pending-0000000000000001.mvcrash";
    for (int start = 1; start <= MVCrashReporter::kMaxRefusals; ++start) {
        SCOPED_TRACE(start);
        ChildProcess child("CrashUploadTest.RefusedThenKilled", "refused-then-killed",
                           {{"MV_SHARED_HOME", home_->path()}});
        ASSERT_EQ(child.wait(), 128 + SIGKILL);
        defaults.resetForTesting();
        if (start < MVCrashReporter::kMaxRefusals) {
            EXPECT_EQ(defaults.objectForKey(MVCrashReporter::kRefusalsKey),
                      (json{{"report", first}, {"refusals", start}}));
        }
    }
    // The third refusal set the first report aside: the second one comes next.
    const auto next = CrashReporter::shared().loadPendingCrashReport();
    ASSERT_TRUE(next);
    EXPECT_EQ(next->address, 0x20u);
}

TEST_F(CrashUploadTest, AGarbageReportIsSetAsideAndTheNextGenuineOneIsSwept) {
    leavePending(1, "MVCrashReport 1\npid 7\n");  // cut short
    leavePending(2, platform::crashRecordText(signalReport(0xABC)));
    MVCrashReporter::sendPendingCrashReports();
    ASSERT_TRUE(waitForUploads(1));
    EXPECT_EQ(pairsOf(uploads().front().query)["errorDescription"], "Address: 0xABC");
    EXPECT_TRUE(waitFor([] { return !pending(); }));
    EXPECT_TRUE(logged("Unreadable crash report"));
    size_t asides = 0;
    for (const auto& name : platform::FileManager::defaultManager()
                                .contentsOfDirectory(CrashReporter::reportsDirectory())
                                .value_or(std::vector<std::string>{}))
        asides += name.find(".corrupt-") != std::string::npos;
    EXPECT_EQ(asides, 1u);
}

}  // namespace
