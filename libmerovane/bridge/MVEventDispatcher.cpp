#include "libmerovane/bridge/MVEventDispatcher.h"

#include <algorithm>

#include "libmerovane/bridge/MVEvent.h"
#include "libmerovane/bridge/MVWebViewInterface.h"
#include "libmerovane/core/MVLog.h"
#include "platform/foundation/RunLoop.h"
#include "platform/foundation/SharedInstances.h"
#include "platform/foundation/Thread.h"

namespace {

constexpr const char* kInvalidArgumentsName = "Invalid arguments for {}";
constexpr const char* kWebViewMissing = "webView may not be nil";
constexpr const char* kEventNamesMissing = "eventNames may not be nil";
constexpr const char* kMainThreadOnly = "MVEventDispatcher is used on the main thread only";

constexpr const char* kBroadcastingLine = "MVEventDispatcher broadcasting {}{}";
constexpr const char* kListenersOpen = " to [ ";
constexpr const char* kListenerEntry = "{}MVWebView{}";
constexpr const char* kListenersClose = " ]";
constexpr const char* kNoOneListening = ", but no one was listening... (lik dis if u cri evrytiem)";

}  // namespace

MVEventDispatcherInvalidArgumentsException::MVEventDispatcherInvalidArgumentsException(
    const std::string& selector, std::string reason)
    : platform::Exception(fmt::format(kInvalidArgumentsName, selector), std::move(reason)) {}

MVEventDispatcher& MVEventDispatcher::sharedDispatcher() {
    static MVEventDispatcher* dispatcher = [] {
        auto* created = new MVEventDispatcher;
        platform::registerSharedInstanceReset("MVEventDispatcher",
                                              [created] { created->resetForTesting(); });
        return created;
    }();
    return *dispatcher;
}

void MVEventDispatcher::registerWebView(const std::shared_ptr<MVWebViewInterface>& webView,
                                        const std::vector<std::string>& eventNames) {
    platform::assertThat(platform::isMainThread(), kMainThreadOnly);
    if (!webView)
        throw MVEventDispatcherInvalidArgumentsException("registerWebView:forEvents:",
                                                         kWebViewMissing);
    if (eventNames.empty())
        throw MVEventDispatcherInvalidArgumentsException("registerWebView:forEvents:",
                                                         kEventNamesMissing);
    for (const auto& name : eventNames) {
        auto& registrations = events_[name];
        // An entry whose web view is gone without unregistering must not hide a new
        // web view that happens to live at the same address.
        std::erase_if(registrations, [](const Registration& r) { return r.webView.expired(); });
        bool present =
            std::any_of(registrations.begin(), registrations.end(),
                        [&](const Registration& r) { return r.identity == webView.get(); });
        if (!present) registrations.push_back({webView.get(), webView});
    }
}

void MVEventDispatcher::unregisterWebView(const MVWebViewInterface* webView,
                                          const std::vector<std::string>& eventNames) {
    if (!webView)
        throw MVEventDispatcherInvalidArgumentsException("unregisterWebView:forEvents:",
                                                         kWebViewMissing);
    if (!platform::isMainThread()) {
        // A web view whose last reference went on another thread (webViewForSerial
        // hands them out anywhere) ends up here from its destructor. Its entries have
        // expired already and are passed over; the main thread sweeps them.
        platform::RunLoop::main().post([this] { removeExpiredRegistrations(); });
        return;
    }
    // Names are collected first: removing a name while walking the map would
    // invalidate the walk.
    std::vector<std::string> names = eventNames.empty() ? this->eventNames() : eventNames;
    for (const auto& name : names) {
        auto it = events_.find(name);
        if (it == events_.end()) continue;
        std::erase_if(it->second, [&](const Registration& r) { return r.identity == webView; });
        if (it->second.empty()) events_.erase(it);
    }
}

void MVEventDispatcher::removeExpiredRegistrations() {
    for (auto it = events_.begin(); it != events_.end();) {
        std::erase_if(it->second, [](const Registration& r) { return r.webView.expired(); });
        it = it->second.empty() ? events_.erase(it) : std::next(it);
    }
}

void MVEventDispatcher::dispatchEvent(const MVEvent& event) {
    platform::assertThat(platform::isMainThread(), kMainThreadOnly);
    // A snapshot: delivery may register or unregister web views meanwhile.
    auto listeners = webViewsForEvent(event.eventName());
    std::string audience;
    if (listeners.empty()) {
        audience = kNoOneListening;
    } else {
        audience = kListenersOpen;
        const char* separator = "";
        for (const auto& webView : listeners) {
            audience += fmt::format(kListenerEntry, separator, webView->debugName());
            separator = ", ";
        }
        audience += kListenersClose;
    }
    MVLogInfo(kBroadcastingLine, platform::log::escaped(event.stringForJavaDescription()),
              audience);
    for (const auto& webView : listeners) webView->performMVEvent(event);
}

std::vector<std::shared_ptr<MVWebViewInterface>> MVEventDispatcher::webViewsForEvent(
    const std::string& eventName) const {
    std::vector<std::shared_ptr<MVWebViewInterface>> result;
    auto it = events_.find(eventName);
    if (it == events_.end()) return result;
    for (const auto& registration : it->second)
        if (auto webView = registration.webView.lock()) result.push_back(std::move(webView));
    return result;
}

std::vector<std::string> MVEventDispatcher::eventNames() const {
    std::vector<std::string> names;
    names.reserve(events_.size());
    for (const auto& [name, registrations] : events_) names.push_back(name);
    return names;
}

void MVEventDispatcher::resetForTesting() {
    events_.clear();
}
