#include <gtest/gtest.h>
#include <signal.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <ctime>
#include <functional>
#include <stdexcept>

#include "platform/crash/CrashReporter.h"
#include "platform/foundation/Exception.h"
#include "platform/foundation/FileManager.h"
#include "tests/support/ChildProcess.h"
#include "tests/support/CrashingChild.h"
#include "tests/support/PlatformTest.h"
#include "tests/support/TempDir.h"

using platform::CrashReport;
using platform::CrashReporter;

namespace {

// Fixed addresses, far from what the loader and the sanitizers map.
constexpr uintptr_t kBusAddress = 0x7e5700000000;
constexpr uintptr_t kSegvAddress = 0x7e5800000000;

class CrashReporterTest : public PlatformTest {
  protected:
    CrashReporter& reporter() { return CrashReporter::shared(); }
    ChildProcess::Environment environment() { return {{"MEROVANE_HOME", home_.path()}}; }
    std::string live() { return CrashReporter::reportsDirectory() + "/live.mvcrash"; }
    // Leaves `bytes` as the report of an earlier run and starts this one.
    void previousRunLeft(const std::string& bytes) {
        home_.write("Library/CrashReports/live.mvcrash", bytes);
        reporter().resetForTesting();
        ASSERT_TRUE(reporter().enable());
    }
    size_t asides() {
        size_t count = 0;
        auto names = platform::FileManager::defaultManager().contentsOfDirectory(
            CrashReporter::reportsDirectory());
        for (const auto& name : names.value_or(std::vector<std::string>{}))
            count += name.find(".mvcrash.corrupt-") != std::string::npos;
        return count;
    }
    // Leaves a pending report with this name's number.
    void pending(const std::string& number, const std::string& bytes) {
        home_.write("Library/CrashReports/pending-" + number + ".mvcrash", bytes);
    }
    // The pids of the pending reports, loaded and purged one by one.
    std::vector<long> loadAndPurgeAll() {
        std::vector<long> pids;
        while (auto report = reporter().loadPendingCrashReport()) {
            pids.push_back(report->pid);
            if (!reporter().purgePendingCrashReport() || pids.size() > 10) break;
        }
        return pids;
    }
    static std::string record(long pid) {
        CrashReport r = sample();
        r.pid = pid;
        return platform::crashRecordText(r);
    }
    static CrashReport sample() {
        CrashReport r;
        r.pid = 4242;
        r.processStartMillis = 1767225600250;
        r.signalName = "SIGBUS";
        r.signalCode = 2;
        r.address = kBusAddress;
        r.frames = {0x55d1c0a1b2c3, 0x7f0000001000};
        return r;
    }

    TempDir home_;
};

// Dies as its role says, with the crash reporter enabled.
TEST(CrashChild, Crash) {
    const std::string role = childRole();
    if (role.empty()) GTEST_SKIP() << "runs as a child process only";
    ASSERT_TRUE(CrashReporter::shared().enable());
    if (role == "bus") {
        dieOfSigbusAt(kBusAddress);
    } else if (role == "segv") {
        void* page = ::mmap(reinterpret_cast<void*>(kSegvAddress), 4096, PROT_NONE,
                            MAP_PRIVATE | MAP_ANONYMOUS | MAP_FIXED_NOREPLACE, -1, 0);
        if (page != reinterpret_cast<void*>(kSegvAddress)) std::_Exit(3);
        *static_cast<volatile char*>(page) = 1;
    } else if (role == "abort") {
        std::abort();
    } else {
        // Out through a noexcept frame, so the test runner cannot catch it.
        auto thrower = role == "platform"
                           ? +[] { throw platform::Exception("MVTestException", "boom"); }
                           : +[] { throw std::out_of_range("index 7\nof 3"); };
        [thrower]() noexcept { thrower(); }();
    }
    std::_Exit(2);
}

TEST_F(CrashReporterTest, ACrashedProcessLeavesItsReportForTheNextStart) {
    struct Case {
        const char* role;
        int signal;
        bool exception;
        std::string name;  // signal or exception name
        uint64_t address;
        std::string reason;
    };
    const Case cases[] = {
        {"bus", SIGBUS, false, "SIGBUS", kBusAddress, ""},
        {"segv", SIGSEGV, false, "SIGSEGV", kSegvAddress, ""},
        {"abort", SIGABRT, false, "SIGABRT", 0, ""},  // sent, not a fault: no address
        {"platform", SIGABRT, true, "MVTestException", 0, "boom"},
        {"std", SIGABRT, true, "std::out_of_range", 0, "index 7\nof 3"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.role);
        ChildProcess child("CrashChild.Crash", c.role, environment());
        const pid_t pid = child.pid();
        ASSERT_EQ(child.wait(), 128 + c.signal);
        EXPECT_FALSE(reporter().hasPendingCrashReport());  // until this run is enabled
        reporter().resetForTesting();
        ASSERT_TRUE(reporter().enable());
        EXPECT_FALSE(platform::FileManager::defaultManager().fileExists(live()));
        auto report = reporter().loadPendingCrashReport();
        ASSERT_TRUE(report);
        EXPECT_EQ(report->pid, pid);
        EXPECT_EQ(report->hasExceptionInfo, c.exception);
        EXPECT_EQ(c.exception ? report->exceptionName : report->signalName, c.name);
        EXPECT_EQ(report->exceptionReason, c.reason);
        EXPECT_EQ(report->address, c.address);
        EXPECT_FALSE(report->frames.empty());
        EXPECT_NEAR(report->processStartTime(), double(std::time(nullptr)), 600);
        EXPECT_EQ(platform::parseCrashReport(report->bytes)->bytes, report->bytes);
        ASSERT_TRUE(reporter().purgePendingCrashReport());
        EXPECT_FALSE(reporter().hasPendingCrashReport());
    }
}

TEST_F(CrashReporterTest, AReportWrittenOnPurposeIsKeptUntilPurged) {
    EXPECT_FALSE(reporter().writeReport("MVTestException", "not enabled"));
    ASSERT_TRUE(reporter().enable());
    ASSERT_TRUE(reporter().writeReport("MVTestException", "ended: on purpose"));
    reporter().resetForTesting();
    ASSERT_TRUE(reporter().enable());
    previousRunLeft(platform::crashRecordText(sample()));
    // Enabling again keeps both, oldest first.
    reporter().resetForTesting();
    ASSERT_TRUE(reporter().enable());
    auto first = reporter().loadPendingCrashReport();
    ASSERT_TRUE(first && first->hasExceptionInfo);
    EXPECT_EQ(first->exceptionName, "MVTestException");
    EXPECT_EQ(first->exceptionReason, "ended: on purpose");
    ASSERT_TRUE(reporter().purgePendingCrashReport());
    auto second = reporter().loadPendingCrashReport();
    ASSERT_TRUE(second);
    EXPECT_EQ(second->signalName, "SIGBUS");
    ASSERT_TRUE(reporter().purgePendingCrashReport());
    EXPECT_FALSE(reporter().loadPendingCrashReport());
    EXPECT_TRUE(reporter().purgePendingCrashReport());  // nothing left is no failure
}

TEST_F(CrashReporterTest, DamagedReportsAreSetAsideAndTheNextGenuineOneIsRead) {
    const std::string genuine = platform::crashRecordText(sample());
    for (const std::string& damaged : {
             std::string(),  // empty
             std::string("\x7f"
                         "ELF\x02\x01\xff\n",
                         8),                         // garbage
             genuine.substr(0, genuine.size() / 2),  // cut in a field
             genuine.substr(0, genuine.size() - 1),  // cut before the end line's newline
             std::string(platform::kMaxCrashRecordSize + 1, '\n'),  // far too long
         })
        previousRunLeft(damaged);
    previousRunLeft(genuine);

    auto report = reporter().loadPendingCrashReport();
    ASSERT_TRUE(report);
    EXPECT_EQ(report->bytes, genuine);
    EXPECT_EQ(loggedCount("Unreadable crash report"), 5u);
    EXPECT_EQ(asides(), 3u);  // the newest three
    ASSERT_TRUE(reporter().purgePendingCrashReport());
    EXPECT_FALSE(reporter().hasPendingCrashReport());
}

TEST_F(CrashReporterTest, AFolderNamedLikeAReportIsSetAsideAndTheNextOneRead) {
    ASSERT_TRUE(reporter().enable());
    ASSERT_TRUE(platform::FileManager::defaultManager().createDirectory(
        CrashReporter::reportsDirectory() + "/pending-0000000000000000.mvcrash", false));
    pending("0000000000000001", record(1));
    EXPECT_EQ(loadAndPurgeAll(), std::vector<long>{1});
    EXPECT_EQ(loggedCount("Unreadable crash report"), 1u);
    EXPECT_EQ(asides(), 1u);
    EXPECT_FALSE(reporter().hasPendingCrashReport());
}

TEST_F(CrashReporterTest, OnlyARegularFileIsReadAndNoMoreThanARecord) {
    ASSERT_TRUE(reporter().enable());
    const std::string folder = CrashReporter::reportsDirectory();
    home_.write("outside.mvcrash", record(9));
    struct Row {
        const char* what;
        std::function<int(const std::string& path)> plant;
        const char* problem;
    };
    const Row rows[] = {
        {"a link out of the folder",
         [&](const std::string& path) {
             return ::symlink(home_.file("outside.mvcrash").c_str(), path.c_str());
         },
         "a symbolic link"},
        {"a link to an endless device",
         [](const std::string& path) { return ::symlink("/dev/zero", path.c_str()); },
         "a symbolic link"},
        {"a FIFO nobody writes",
         [](const std::string& path) { return ::mkfifo(path.c_str(), 0600); },
         "not a regular file"},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.what);
        ASSERT_EQ(row.plant(folder + "/pending-0000000000000000.mvcrash"), 0);
        pending("0000000000000001", record(1));
        EXPECT_EQ(loadAndPurgeAll(), std::vector<long>{1});
        EXPECT_TRUE(logged(row.problem));
        EXPECT_FALSE(reporter().hasPendingCrashReport());
    }
    EXPECT_EQ(asides(), 3u);
    EXPECT_EQ(loggedCount("Unreadable crash report"), 3u);
}

TEST_F(CrashReporterTest, TheReportIsNeverWrittenThroughALink) {
    ASSERT_TRUE(reporter().enable());
    home_.write("victim", "kept");
    ASSERT_EQ(::symlink(home_.file("victim").c_str(), live().c_str()), 0);
    EXPECT_FALSE(reporter().writeReport("MVTestException", "through a link"));
    EXPECT_EQ(platform::FileManager::defaultManager().readFile(home_.file("victim")), "kept");
    // The next start moves the link aside with the pending reports, then sets it aside.
    reporter().resetForTesting();
    ASSERT_TRUE(reporter().enable());
    EXPECT_FALSE(reporter().loadPendingCrashReport());
    EXPECT_EQ(asides(), 1u);
}

TEST_F(CrashReporterTest, APurgeRemovesTheReportThatWasLoaded) {
    ASSERT_TRUE(reporter().enable());
    pending("0000000000000005", record(5));
    auto report = reporter().loadPendingCrashReport();
    ASSERT_TRUE(report && report->pid == 5);
    pending("0000000000000001", record(1));  // an older name turns up meanwhile
    ASSERT_TRUE(reporter().purgePendingCrashReport());
    EXPECT_EQ(loadAndPurgeAll(), std::vector<long>{1});
    // Without a load, a purge removes what a load would answer.
    pending("0000000000000007", record(7));
    pending("0000000000000006", "damaged");
    ASSERT_TRUE(reporter().purgePendingCrashReport());
    EXPECT_FALSE(reporter().hasPendingCrashReport());
    EXPECT_EQ(asides(), 1u);
}

TEST_F(CrashReporterTest, ThePreviousRunsReportIsKeptBesideAnyPendingName) {
    // Names no writer of this store produces, up to the last number it writes.
    for (const std::string number :
         {"9223372036854775807", "99999999999999999999", "-5", "+5", "9999999999999999", "x"}) {
        SCOPED_TRACE(number);
        pending(number, record(1));
        previousRunLeft(record(2));
        auto pids = loadAndPurgeAll();
        std::sort(pids.begin(), pids.end());
        EXPECT_EQ(pids, (std::vector<long>{1, 2}));
        EXPECT_FALSE(reporter().hasPendingCrashReport());
    }
    // A name in range: the new report comes after it.
    pending("9999999999999990", record(1));
    previousRunLeft(record(2));
    EXPECT_EQ(loadAndPurgeAll(), (std::vector<long>{1, 2}));
}

TEST_F(CrashReporterTest, ParserRefusesWhatNoWriterProduces) {
    const std::string genuine = platform::crashRecordText(sample());
    auto replaced = [&](const std::string& from, const std::string& to) {
        std::string text = genuine;
        return text.replace(text.find(from), from.size(), to);
    };
    const std::string rejected[] = {
        replaced("MVCrashReport 1", "MVCrashReport 2"),  // unknown version
        replaced("SIGBUS", "SIGKILL"),                   // not a captured signal
        replaced("address 0x", "address 0x-"),           // signed hexadecimal
        replaced("pid 4242\n", "pid 4242\npid 4243\n"),  // a field twice
        replaced("signalCode 2\n", ""),                  // half a signal
        replaced("end\n", "exceptionName 3:abc\nexceptionReason 0:\nend\n"),  // both kinds
        replaced("end\n", "exceptionName 99:abc\nend\n"),  // length beyond the input
        replaced("end\n", "colour red\nend\n"),            // unknown field
        genuine + "frame 0x1\n",                           // bytes after the end
    };
    for (const auto& text : rejected) {
        std::string problem;
        EXPECT_FALSE(platform::parseCrashReport(text, &problem)) << text;
        EXPECT_FALSE(problem.empty());
    }
    CrashReport exception = sample();
    exception.hasExceptionInfo = true;
    exception.exceptionName = "N";
    exception.exceptionReason = std::string("a\nend\n:\0b", 9);  // lines and bytes of its own
    auto back = platform::parseCrashReport(platform::crashRecordText(exception));
    ASSERT_TRUE(back);
    EXPECT_EQ(back->exceptionReason, exception.exceptionReason);
}

TEST_F(CrashReporterTest, AFailureToEnableIsReported) {
    home_.write("Library", "a file where the folder belongs");
    platform::Error error;
    EXPECT_FALSE(reporter().enable(&error));
    EXPECT_FALSE(reporter().isEnabled());
    EXPECT_FALSE(error.domain().empty());
    EXPECT_TRUE(logged("Warning: Could not enable crash reporter: "));
}

}  // namespace
