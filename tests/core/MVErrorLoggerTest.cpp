#include <fmt/format.h>
#include <gtest/gtest.h>

#include <nlohmann/json.hpp>
#include <thread>

#include "libmerovane/core/MVErrorLogger.h"
#include "tests/support/PlatformTest.h"

using nlohmann::json;

namespace {

class MVErrorLoggerTest : public PlatformTest {};

TEST_F(MVErrorLoggerTest, KeepsEachReportWithItsData) {
    MVErrorLogger::logError("MVCommandHandler(v2.0) unknown command.", "openPage");
    MVErrorLogger::logError("with dictionary", {{"command", "x"}, {"params", ""}});
    MVErrorLogger::logError("without data");
    MVErrorLogger::logError("with null", json());
    auto reports = MVErrorLogger::reports();
    ASSERT_EQ(reports.size(), 4u);
    EXPECT_EQ(reports[0].description, "MVCommandHandler(v2.0) unknown command.");
    EXPECT_EQ(*reports[0].data, json("openPage"));
    EXPECT_EQ(*reports[1].data, (json{{"command", "x"}, {"params", ""}}));
    // no data at all is not JSON null
    EXPECT_EQ(reports[2].data, nullptr);
    ASSERT_NE(reports[3].data, nullptr);
    EXPECT_TRUE(reports[3].data->is_null());
    EXPECT_TRUE(logged("MVErrorLogger is sending error log to server: <without data>"));
}

TEST_F(MVErrorLoggerTest, KeepsOnlyTheLatestReports) {
    for (size_t i = 0; i < MVErrorLogger::kKeptReports + 10; ++i)
        MVErrorLogger::logError(fmt::format("report {}", i));
    auto reports = MVErrorLogger::reports();
    ASSERT_EQ(reports.size(), MVErrorLogger::kKeptReports);
    EXPECT_EQ(reports.front().description, "report 10");
    MVErrorLogger::clearReports();
    EXPECT_TRUE(MVErrorLogger::reports().empty());
}

TEST_F(MVErrorLoggerTest, ReportsFromSeveralThreadsAreAllKept) {
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t)
        threads.emplace_back([t] {
            for (int i = 0; i < 50; ++i) MVErrorLogger::logError(fmt::format("t{}", t), i);
        });
    for (auto& thread : threads) thread.join();
    EXPECT_EQ(MVErrorLogger::reports().size(), 200u);
}

TEST_F(MVErrorLoggerTest, AnInstalledUploaderGetsEachKeptReportAndItsFailureStaysHere) {
    std::vector<std::string> sent;
    MVErrorLogger::setUploader([&](const MVErrorReport& report) {
        // Kept before it is sent on.
        EXPECT_EQ(MVErrorLogger::reports().back().description, report.description);
        sent.push_back(report.description);
        if (report.data && *report.data == "throw") throw std::runtime_error("no network");
    });
    MVErrorLogger::logError("first");
    EXPECT_NO_THROW(MVErrorLogger::logError("second", "throw"));
    EXPECT_EQ(sent, (std::vector<std::string>{"first", "second"}));
    EXPECT_TRUE(logged("MVErrorLogger could not send error log: no network"));
    // The uploader logs its own sending line.
    EXPECT_FALSE(logged("MVErrorLogger is sending error log to server"));
    MVErrorLogger::setUploader({});
    MVErrorLogger::logError("third");
    EXPECT_EQ(sent.size(), 2u);
    EXPECT_EQ(MVErrorLogger::reports().size(), 3u);
}

}  // namespace
