#pragma once
// Asks a loading page, every 0.005 s after the platform reported the load finished,
// whether it is ready for events: a page with the page library once its
// MVEvent.isDocumentReady() answers "true" (at most 40 s), a page without the library
// once its document no longer reads "loading" (at most 20 s). Past a limit the page is
// logged and taken as ready without the library. Also the external-page check, which
// watches document.readyState every 0.05 s until it reads "complete".
//
//   MVDocumentReadyPoll poll(label, evaluate, mayStep);
//   poll.start([](const MVDocumentReadyPoll::Outcome& o) { ...o.usingLibrary... });
//   poll.startExternalCheck([] { onload(); });
//
// Not for deciding what a ready page gets; the web view does that with the outcome.
// Owned by one web view; main thread only. Destroying it withdraws what is scheduled.

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>

#include "platform/foundation/RunLoop.h"

class MVDocumentReadyPoll {
  public:
    static constexpr double kPollInterval = 0.005;
    static constexpr double kLibraryTimeout = 40.0;
    static constexpr double kDocumentTimeout = 20.0;
    static constexpr double kExternalCheckInterval = 0.05;

    // The page's answer to the document-ready script, five fields.
    struct PageState {
        std::string librarySource;          // non-empty: the page uses the page library
        std::string readyState;             // document.readyState
        std::string libraryReady;           // "true" once the library takes events
        std::string discardedFromHistory;   // "1": leave the page out of the history
        std::string disallowPullToRefresh;  // "1": no pull to refresh
        // Fields the answer lacks are empty.
        static PageState parse(std::string_view answer);
    };

    struct Outcome {
        bool usingLibrary = false;
        bool discardedFromHistory = false;
        bool disallowsPullToRefresh = false;
    };

    // Evaluates a script in the page and hands its text answer on, now or later.
    using Evaluate = std::function<void(const std::string& script,
                                        std::function<void(const std::string& answer)>)>;

    // The script every step evaluates, and the separator of its answer's fields.
    static const std::string& documentReadyScript();
    static constexpr const char* kFieldSeparator = "<-*-*->";
    static constexpr const char* kReadyStateScript = "document.readyState";

    // `label` names the web view in log lines; a step runs only while `mayStep` holds.
    MVDocumentReadyPoll(std::function<std::string()> label, Evaluate evaluate,
                        std::function<bool()> mayStep);
    ~MVDocumentReadyPoll();
    MVDocumentReadyPoll(const MVDocumentReadyPoll&) = delete;
    MVDocumentReadyPoll& operator=(const MVDocumentReadyPoll&) = delete;

    // Starts polling now (the limits count from here); the first step comes after
    // kPollInterval. Replaces a poll under way. `ready` runs once, when the page is ready.
    void start(std::function<void(const Outcome&)> ready);
    void cancel();
    bool isPolling() const;

    // Evaluates document.readyState every kExternalCheckInterval, the first after one
    // interval; `complete` runs once it reads "complete". Replaces a check under way.
    void startExternalCheck(std::function<void()> complete);
    void cancelExternalCheck();
    bool isCheckingExternally() const;

  private:
    void scheduleStep();
    void step(uint64_t generation);
    void answered(uint64_t generation, const std::string& answer);
    void scheduleExternalCheck();
    void externalCheck(uint64_t generation);

    std::function<std::string()> label_;
    Evaluate evaluate_;
    std::function<bool()> mayStep_;
    std::function<void(const Outcome&)> ready_;
    std::function<void()> complete_;
    int64_t startNanos_ = 0;
    uint64_t pollGeneration_ = 0;
    uint64_t checkGeneration_ = 0;
    bool polling_ = false;
    bool checking_ = false;
    platform::TimerHandle stepTimer_;
    platform::TimerHandle checkTimer_;
    // Points to the poll until its destructor clears it: answers and timers that come
    // later, or while a call out destroys the poll, find nothing to report to.
    std::shared_ptr<MVDocumentReadyPoll*> self_;
};
