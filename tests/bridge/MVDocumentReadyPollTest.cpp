// The document-ready poll on the manual clock: its steps, limits and answers.
#include <gtest/gtest.h>

#include "libmerovane/bridge/MVDocumentReadyPoll.h"
#include "platform/foundation/Clock.h"
#include "tests/support/PlatformTest.h"

namespace {

using PageState = MVDocumentReadyPoll::PageState;

TEST(MVDocumentReadyPollStateTest, AnswerSplitsIntoFiveFields) {
    struct Row {
        const char* answer;
        std::vector<std::string> fields;  // source, state, ready, discarded, pull-to-refresh
    } rows[] = {
        {"data:x<-*-*->complete<-*-*->true<-*-*->1<-*-*->null",
         {"data:x", "complete", "true", "1", "null"}},
        // a failed script answers one empty field; missing fields are empty
        {"", {"", "", "", "", ""}},
        {"<-*-*->loading", {"", "loading", "", "", ""}},
        // more than five fields: the rest is ignored
        {"a<-*-*->b<-*-*->c<-*-*->d<-*-*->e<-*-*->f", {"a", "b", "c", "d", "e"}},
    };
    for (const auto& row : rows) {
        auto s = PageState::parse(row.answer);
        EXPECT_EQ((std::vector<std::string>{s.librarySource, s.readyState, s.libraryReady,
                                            s.discardedFromHistory, s.disallowPullToRefresh}),
                  row.fields)
            << row.answer;
    }
}

TEST(MVDocumentReadyPollStateTest, ScriptIsTheOneThePageLibraryAnswers) {
    const auto& script = MVDocumentReadyPoll::documentReadyScript();
    EXPECT_EQ(script.rfind("'' + ((document.getElementById('libmerovane')", 0), 0u);
    EXPECT_NE(script.find("MVEvent.isDocumentReady():''"), std::string::npos);
    EXPECT_NE(script.find("getAttribute('data-disallow-pull-to-refresh'))"), std::string::npos);
}

class MVDocumentReadyPollTest : public PlatformTest {
  protected:
    MVDocumentReadyPollTest()
        : poll_([] { return std::string("<1000>"); },
                [this](const std::string& script, std::function<void(const std::string&)> done) {
                    scripts_.push_back(script);
                    done(answer_(script));
                },
                [this] { return mayStep_; }) {}

    void start() {
        poll_.start([this](const MVDocumentReadyPoll::Outcome& o) {
            outcomes_.push_back(o);
            readyAtNanos_ = platform::Clock::monotonicNanos() - startNanos_;
        });
        startNanos_ = platform::Clock::monotonicNanos();
    }
    size_t readySteps() const {
        size_t n = 0;
        for (const auto& s : scripts_) n += s == MVDocumentReadyPoll::documentReadyScript();
        return n;
    }

    std::function<std::string(const std::string&)> answer_;
    bool mayStep_ = true;
    std::vector<std::string> scripts_;
    std::vector<MVDocumentReadyPoll::Outcome> outcomes_;
    int64_t startNanos_ = 0;
    int64_t readyAtNanos_ = -1;
    MVDocumentReadyPoll poll_;
};

TEST_F(MVDocumentReadyPollTest, LibraryReadyOnTheThirdStep) {
    int steps = 0;
    answer_ = [&](const std::string&) {
        return ++steps < 3 ? "lib.js<-*-*->complete<-*-*->false<-*-*->null<-*-*->null"
                           : "lib.js<-*-*->complete<-*-*->true<-*-*->null<-*-*->1";
    };
    start();
    platform::runUntilIdle();
    EXPECT_EQ(readySteps(), 0u);  // the first step waits one interval
    platform::advanceBy(0.1);
    ASSERT_EQ(outcomes_.size(), 1u);
    EXPECT_TRUE(outcomes_[0].usingLibrary);
    EXPECT_FALSE(outcomes_[0].discardedFromHistory);
    EXPECT_TRUE(outcomes_[0].disallowsPullToRefresh);
    EXPECT_EQ(readySteps(), 3u);
    EXPECT_EQ(readyAtNanos_, platform::secondsToNanos(0.015));
    EXPECT_FALSE(poll_.isPolling());
}

TEST_F(MVDocumentReadyPollTest, LibraryNeverReadyGivesUpAtFortySeconds) {
    answer_ = [](const std::string&) {
        return "lib.js<-*-*->complete<-*-*->false<-*-*->1<-*-*->null";
    };
    start();
    platform::advanceBy(39.999);
    EXPECT_TRUE(outcomes_.empty());
    EXPECT_FALSE(logged("could not access MVEvents"));
    platform::advanceBy(0.001);
    ASSERT_EQ(outcomes_.size(), 1u);
    EXPECT_FALSE(outcomes_[0].usingLibrary);
    EXPECT_TRUE(outcomes_[0].discardedFromHistory);
    EXPECT_EQ(readyAtNanos_, platform::secondsToNanos(40.0));
    EXPECT_EQ(readySteps(), 8000u);  // every 0.005 s
    EXPECT_EQ(loggedCount("MVWebView<1000> could not access MVEvents"), 1u);
    // the document is complete, so no second time-out
    EXPECT_FALSE(logged("did not gain DOM access"));
}

TEST_F(MVDocumentReadyPollTest, PageWithoutLibraryIsReadyOnceNotLoading) {
    const char* answers[] = {
        "<-*-*->interactive<-*-*-><-*-*->null<-*-*->null",
        "<-*-*->complete<-*-*-><-*-*->null<-*-*->null",
        "",  // a failed script gives no state and no library: ready at once
    };
    for (const char* answer : answers) {
        outcomes_.clear();
        answer_ = [&](const std::string&) { return answer; };
        start();
        platform::advanceBy(1.0);
        ASSERT_EQ(outcomes_.size(), 1u) << answer;
        EXPECT_FALSE(outcomes_[0].usingLibrary);
        EXPECT_EQ(readyAtNanos_, platform::secondsToNanos(0.005)) << answer;  // the first step
    }
    EXPECT_FALSE(logged("did not gain DOM access"));
}

TEST_F(MVDocumentReadyPollTest, NoStepRunsOnceMayStepIsWithdrawn) {
    answer_ = [](const std::string&) { return "lib<-*-*->complete<-*-*->false<-*-*-><-*-*->"; };
    start();
    platform::advanceBy(0.02);
    const size_t before = readySteps();
    mayStep_ = false;
    platform::advanceBy(50.0);
    EXPECT_EQ(readySteps(), before);
    EXPECT_TRUE(outcomes_.empty());
    EXPECT_FALSE(poll_.isPolling());
}

TEST_F(MVDocumentReadyPollTest, CancelAndRestart) {
    answer_ = [](const std::string&) { return "lib<-*-*->complete<-*-*->false<-*-*-><-*-*->"; };
    start();
    platform::advanceBy(30.0);
    poll_.cancel();
    platform::advanceBy(30.0);
    EXPECT_TRUE(outcomes_.empty());
    // a new poll counts its limit from its own start
    start();
    platform::advanceBy(39.0);
    EXPECT_TRUE(outcomes_.empty());
    platform::advanceBy(1.0);
    EXPECT_EQ(outcomes_.size(), 1u);
}

TEST_F(MVDocumentReadyPollTest, AnswerArrivingAfterCancelIsIgnored) {
    std::function<void(const std::string&)> pending;
    MVDocumentReadyPoll poll([] { return std::string("<1>"); },
                             [&](const std::string&, std::function<void(const std::string&)> done) {
                                 pending = std::move(done);
                             },
                             [] { return true; });
    int ready = 0;
    poll.start([&](const auto&) { ++ready; });
    platform::advanceBy(0.005);
    ASSERT_TRUE(pending);
    poll.cancel();
    pending("lib<-*-*->complete<-*-*->true<-*-*-><-*-*->");
    EXPECT_EQ(ready, 0);
}

TEST_F(MVDocumentReadyPollTest, ExternalCheckUntilComplete) {
    int checks = 0;
    answer_ = [&](const std::string& script) {
        EXPECT_EQ(script, "document.readyState");
        return ++checks < 4 ? "interactive" : "complete";
    };
    int completed = 0;
    poll_.startExternalCheck([&] { ++completed; });
    platform::advanceBy(0.149);
    EXPECT_EQ(checks, 2);
    EXPECT_EQ(completed, 0);
    platform::advanceBy(0.1);
    EXPECT_EQ(checks, 4);
    EXPECT_EQ(completed, 1);
    platform::advanceBy(1.0);
    EXPECT_EQ(checks, 4);
    EXPECT_FALSE(poll_.isCheckingExternally());
}

TEST_F(MVDocumentReadyPollTest, DestroyingThePollWithdrawsItsSteps) {
    int ready = 0;
    {
        MVDocumentReadyPoll poll(
            [] { return std::string("<1>"); },
            [&](const std::string&, std::function<void(const std::string&)> d) { d(""); },
            [] { return true; });
        poll.start([&](const auto&) { ++ready; });
        poll.startExternalCheck([&] { ++ready; });
    }
    platform::advanceBy(1.0);
    EXPECT_EQ(ready, 0);

    // A cancelled external check never completes.
    answer_ = [](const std::string&) { return "complete"; };
    poll_.startExternalCheck([&] { ++ready; });
    platform::advanceBy(0.04);
    poll_.cancelExternalCheck();
    platform::advanceBy(1.0);
    EXPECT_EQ(ready, 0);
    EXPECT_TRUE(scripts_.empty());
}

}  // namespace
