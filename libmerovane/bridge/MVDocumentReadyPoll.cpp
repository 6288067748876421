#include "libmerovane/bridge/MVDocumentReadyPoll.h"

#include <utility>

#include "libmerovane/core/MVLog.h"
#include "platform/foundation/Clock.h"

namespace {

constexpr const char* kDocumentReadyScript =
    R"JS('' + ((document.getElementById('libmerovane')&&document.getElementById('libmerovane').src)||'') + '<-*-*->' + (document.readyState) + '<-*-*->' + (((typeof MVEvent !== 'undefined') && (typeof MVEvent.isDocumentReady !== 'undefined')) ? MVEvent.isDocumentReady():'') + '<-*-*->' + (document.getElementsByTagName('html')[0].getAttribute('data-is-discarded-from-history')) + '<-*-*->' + (document.getElementsByTagName('html')[0].getAttribute('data-disallow-pull-to-refresh')))JS";

constexpr const char* kCouldNotAccessEvents = "MVWebView{} could not access MVEvents";
constexpr const char* kNoDomAccess = "MVWebView{} did not gain DOM access before timeout";

// The poll behind a liveness token, or null once it is destroyed. The token may outlive
// the poll (a caller holds a copy): it is the pointer in it that tells.
MVDocumentReadyPoll* livePoll(const std::weak_ptr<MVDocumentReadyPoll*>& token) {
    auto held = token.lock();
    return held ? *held : nullptr;
}

bool lessThanSecondsSince(int64_t startNanos, double seconds) {
    return platform::Clock::monotonicNanos() - startNanos < platform::secondsToNanos(seconds);
}

}  // namespace

MVDocumentReadyPoll::PageState MVDocumentReadyPoll::PageState::parse(std::string_view answer) {
    PageState state;
    std::string* fields[] = {&state.librarySource, &state.readyState, &state.libraryReady,
                             &state.discardedFromHistory, &state.disallowPullToRefresh};
    const std::string_view separator = kFieldSeparator;
    size_t index = 0;
    size_t from = 0;
    while (index < std::size(fields)) {
        const size_t at = answer.find(separator, from);
        *fields[index++] = std::string(answer.substr(from, at - from));
        if (at == std::string_view::npos) break;
        from = at + separator.size();
    }
    return state;
}

const std::string& MVDocumentReadyPoll::documentReadyScript() {
    static const std::string script = kDocumentReadyScript;
    return script;
}

MVDocumentReadyPoll::MVDocumentReadyPoll(std::function<std::string()> label, Evaluate evaluate,
                                         std::function<bool()> mayStep)
    : label_(std::move(label)),
      evaluate_(std::move(evaluate)),
      mayStep_(std::move(mayStep)),
      self_(std::make_shared<MVDocumentReadyPoll*>(this)) {}

MVDocumentReadyPoll::~MVDocumentReadyPoll() {
    *self_ = nullptr;
    stepTimer_.cancel();
    checkTimer_.cancel();
}

void MVDocumentReadyPoll::start(std::function<void(const Outcome&)> ready) {
    cancel();
    ready_ = std::move(ready);
    polling_ = true;
    startNanos_ = platform::Clock::monotonicNanos();
    scheduleStep();
}

void MVDocumentReadyPoll::cancel() {
    stepTimer_.cancel();
    ++pollGeneration_;
    polling_ = false;
    ready_ = nullptr;
}

bool MVDocumentReadyPoll::isPolling() const {
    return polling_;
}

void MVDocumentReadyPoll::scheduleStep() {
    std::weak_ptr<MVDocumentReadyPoll*> weak = self_;
    const uint64_t generation = pollGeneration_;
    stepTimer_ = platform::RunLoop::main().postAfter(kPollInterval, [weak, generation] {
        if (auto* poll = livePoll(weak)) poll->step(generation);
    });
}

// Every call out (the owner's functions, the page's script) may destroy the poll: the
// token is looked at again after each.
void MVDocumentReadyPoll::step(uint64_t generation) {
    if (generation != pollGeneration_ || !polling_) return;
    const std::weak_ptr<MVDocumentReadyPoll*> weak = self_;
    const bool mayStep = mayStep_();
    if (!livePoll(weak)) return;
    if (!mayStep) {
        polling_ = false;
        return;
    }
    evaluate_(documentReadyScript(), [weak, generation](const std::string& answer) {
        if (auto* poll = livePoll(weak)) poll->answered(generation, answer);
    });
}

void MVDocumentReadyPoll::answered(uint64_t generation, const std::string& answer) {
    // A load cancelled while the page was answering keeps its poll from going on.
    if (generation != pollGeneration_ || !polling_) return;
    const std::weak_ptr<MVDocumentReadyPoll*> weak = self_;
    const bool mayStep = mayStep_();
    if (!livePoll(weak)) return;
    if (!mayStep) {
        polling_ = false;
        return;
    }
    const PageState state = PageState::parse(answer);
    bool usingLibrary = !state.librarySource.empty();
    if (usingLibrary && state.libraryReady != "true") {
        if (lessThanSecondsSince(startNanos_, kLibraryTimeout)) {
            scheduleStep();
            return;
        }
        const std::string label = label_();
        if (!livePoll(weak)) return;
        MVLogWarn(kCouldNotAccessEvents, label);
        usingLibrary = false;
    }
    if (!usingLibrary && state.readyState == "loading") {
        if (lessThanSecondsSince(startNanos_, kDocumentTimeout)) {
            scheduleStep();
            return;
        }
        const std::string label = label_();
        if (!livePoll(weak)) return;
        MVLogWarn(kNoDomAccess, label);
    }
    polling_ = false;
    auto ready = std::move(ready_);
    ready_ = nullptr;
    if (ready) {
        ready(Outcome{usingLibrary, state.discardedFromHistory == "1",
                      state.disallowPullToRefresh == "1"});
    }
}

void MVDocumentReadyPoll::startExternalCheck(std::function<void()> complete) {
    cancelExternalCheck();
    complete_ = std::move(complete);
    checking_ = true;
    scheduleExternalCheck();
}

void MVDocumentReadyPoll::cancelExternalCheck() {
    checkTimer_.cancel();
    ++checkGeneration_;
    checking_ = false;
    complete_ = nullptr;
}

bool MVDocumentReadyPoll::isCheckingExternally() const {
    return checking_;
}

void MVDocumentReadyPoll::scheduleExternalCheck() {
    std::weak_ptr<MVDocumentReadyPoll*> weak = self_;
    const uint64_t generation = checkGeneration_;
    checkTimer_ = platform::RunLoop::main().postAfter(kExternalCheckInterval, [weak, generation] {
        if (auto* poll = livePoll(weak)) poll->externalCheck(generation);
    });
}

void MVDocumentReadyPoll::externalCheck(uint64_t generation) {
    if (generation != checkGeneration_ || !checking_) return;
    std::weak_ptr<MVDocumentReadyPoll*> weak = self_;
    evaluate_(kReadyStateScript, [weak, generation](const std::string& answer) {
        auto* live = livePoll(weak);
        if (!live) return;
        MVDocumentReadyPoll& poll = *live;
        if (generation != poll.checkGeneration_ || !poll.checking_) return;
        if (answer != "complete") {
            poll.scheduleExternalCheck();
            return;
        }
        poll.checking_ = false;
        auto complete = std::move(poll.complete_);
        poll.complete_ = nullptr;
        if (complete) complete();
    });
}
