#include <gtest/gtest.h>

#include <thread>

#include "libmerovane/core/MVLog.h"

using platform::log::RecordingLogger;

namespace {
// A logger that is slow, so queued lines are still in flight when an error is logged.
class SlowRecorder : public RecordingLogger {
  public:
    void logMessage(const platform::log::Message& m) override {
        if (m.flag != platform::log::kError) std::this_thread::yield();
        RecordingLogger::logMessage(m);
    }
};

class MVLogTest : public ::testing::Test {
  protected:
    void TearDown() override { MVLog::removeAllLoggers(); }
};
}  // namespace

TEST_F(MVLogTest, ErrorLineIsWrittenAfterEarlierQueuedLinesBeforeTheCallReturns) {
    auto sink = std::make_shared<SlowRecorder>();
    MVLog::addLogger(sink);
    for (int i = 0; i < 200; ++i) MVLogVerbose("queued {}", i);
    MVLogError("failure {}", 42);
    auto texts = sink->texts();  // no flush: the error call itself waited
    ASSERT_EQ(texts.size(), 201u);
    EXPECT_EQ(texts.front(), "queued 0");
    EXPECT_EQ(texts.back(), "failure 42");
}

TEST_F(MVLogTest, FlushWaitsForQueuedLinesAndCallsCarryTheirSource) {
    auto sink = std::make_shared<RecordingLogger>();
    MVLog::addLogger(sink);
    MVLogInfo("hello {}", "world");
    MVLog::flushLog();
    auto messages = sink->messages();
    ASSERT_EQ(messages.size(), 1u);
    EXPECT_EQ(messages[0].text, "hello world");
    EXPECT_EQ(messages[0].flag, 4);
    EXPECT_NE(messages[0].file.find("MVLogTest.cpp"), std::string::npos);
    EXPECT_EQ(messages[0].function, "TestBody");
    EXPECT_GT(messages[0].line, 0);
}

TEST_F(MVLogTest, LevelsFilterPerLogger) {
    auto errorsOnly = std::make_shared<RecordingLogger>();
    auto everything = std::make_shared<RecordingLogger>();
    MVLog::addLogger(errorsOnly, platform::log::kError | platform::log::kWarning);
    MVLog::addLogger(everything);
    MVLogError("e");
    MVLogWarn("w");
    MVLogInfo("i");
    MVLogDebug("d");
    MVLogVerbose("v");
    MVLog::flushLog();
    EXPECT_EQ(errorsOnly->texts(), (std::vector<std::string>{"e", "w"}));
    EXPECT_EQ(everything->texts(), (std::vector<std::string>{"e", "w", "i", "d", "v"}));
    MVLog::removeLogger(everything);
    MVLogInfo("gone");
    MVLog::flushLog();
    EXPECT_EQ(everything->texts().size(), 5u);
}

TEST_F(MVLogTest, LinesFromManyThreadsAllArrive) {
    auto sink = std::make_shared<RecordingLogger>();
    MVLog::addLogger(sink);
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t)
        threads.emplace_back([t] {
            for (int i = 0; i < 100; ++i) MVLogDebug("t{} {}", t, i);
        });
    for (auto& th : threads) th.join();
    MVLog::flushLog();
    EXPECT_EQ(sink->texts().size(), 400u);
}

TEST_F(MVLogTest, LoggingWhileTheProcessExitsIsSafe) {
    // The child re-executes itself, so the logging thread of this process is not forked mid-lock.
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_EXIT(
        {
            MVLog::addLogger(std::make_shared<RecordingLogger>());
            std::thread([] {
                for (int i = 0;; ++i) MVLogVerbose("spinning {}", i);
            }).detach();
            MVLogError("exiting");
            std::exit(3);
        },
        ::testing::ExitedWithCode(3), "");
}

TEST(EscapedTextTest, ControlCharactersAreEscapedAndLongTextIsCut) {
    const struct {
        std::string text;
        size_t limit;
        std::string expected;
    } rows[] = {
        {"plain text, ünïcode", 100, "plain text, ünïcode"},
        {"a\nb\rc\td", 100, "a\\nb\\rc\\td"},
        {std::string("\x1b[31m\0\x7f", 7), 100, "\\u001b[31m\\u0000\\u007f"},
        {"line\u2028sep\u0085", 100, "line\\u2028sep\\u0085"},
        {"abcdef", 3, "abc… [cut, 6 bytes]"},
        {"ab\u00e9", 3, "ab… [cut, 4 bytes]"},  // never half a character
    };
    for (auto& r : rows) EXPECT_EQ(platform::log::escaped(r.text, r.limit), r.expected) << r.text;
}
