#include "libmerovane/bridge/MVWebViewAdapter.h"

#include <atomic>
#include <chrono>
#include <thread>

#include "libmerovane/bridge/MVWebViewAdapter_UIWebView.h"
#include "libmerovane/core/MVLog.h"
#include "platform/foundation/Clock.h"
#include "platform/foundation/Exception.h"
#include "platform/foundation/RunLoop.h"
#include "platform/foundation/Thread.h"

namespace {

constexpr const char* kScriptTimedOut = "MVWebViewAdapter gave up waiting {} s for a script";

// What the base class answers for the operations its subclasses must replace.
[[noreturn]] void abstractOperation() {
    throw platform::Exception(platform::kInternalInconsistencyException, "NO");
}

}  // namespace

std::shared_ptr<MVWebViewAdapter> MVWebViewAdapter::webViewForCurrentOS() {
    return MVWebViewAdapter_UIWebView::create();
}

std::string MVWebViewAdapter::documentTitle() {
    abstractOperation();
}

void MVWebViewAdapter::evaluateJavaScript(const std::string&, ScriptCompletion) {
    abstractOperation();
}

void MVWebViewAdapter::evaluateJavaScript(const std::string& script) {
    evaluateJavaScript(script, nullptr);
}

std::string MVWebViewAdapter::stringByEvaluatingJavaScriptFromString(const std::string& script,
                                                                     double timeoutSeconds) {
    struct Answer {
        std::atomic<bool> done{false};
        std::string result;
    };
    auto answer = std::make_shared<Answer>();
    evaluateJavaScript(script, [answer](const std::string& result, const auto&) {
        answer->result = result;
        answer->done = true;
    });
    // An asynchronous answer arrives on the main loop: turn it meanwhile, since sleeping
    // there would wait for ever. A page that never answers gets the engine's bound.
    const auto deadline = std::chrono::steady_clock::now() +
                          std::chrono::nanoseconds(platform::secondsToNanos(timeoutSeconds));
    while (!answer->done) {
        if (std::chrono::steady_clock::now() >= deadline) {
            MVLogError(kScriptTimedOut, timeoutSeconds);
            return {};
        }
        if (platform::isMainThread()) {
            platform::RunLoop::main().runOnce(1'000'000);
        } else {
            std::this_thread::sleep_for(std::chrono::microseconds(10));
        }
    }
    return answer->result;
}

void MVWebViewAdapter::loadHTMLString(const std::string&, const std::optional<platform::URL>&) {
    abstractOperation();
}

void MVWebViewAdapter::loadData(const std::string&, const std::string&, const std::string&,
                                const std::optional<platform::URL>&) {
    abstractOperation();
}

void MVWebViewAdapter::loadRequest(const platform::URLRequest&) {
    abstractOperation();
}

void MVWebViewAdapter::setScalesPageToFit(bool) {
    abstractOperation();
}

bool MVWebViewAdapter::scalesPageToFit() const {
    abstractOperation();
}
