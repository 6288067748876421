// MVWebView: set-up, serials, settings, cancelling and clearing. Loading is in
// MVWebViewLoading.cpp, the page history in MVWebViewHistory.cpp, navigation decisions in
// MVWebViewNavigation.cpp, page reports, the ready poll and event delivery in
// MVWebViewReadyPoll.cpp, the script overrides in MVWebViewOverrides.cpp and the command
// channel in MVWebViewCommands.cpp.
#include "libmerovane/bridge/MVWebView.h"

#include <fmt/format.h>

#include <algorithm>
#include <map>
#include <nlohmann/json.hpp>

#include "libmerovane/bridge/MVEventDispatcher.h"
#include "libmerovane/bridge/MVWebViewAdapter.h"
#include "libmerovane/bridge/MVWebViewDelegate.h"
#include "libmerovane/bridge/MVWebViewHistoryEntry.h"
#include "libmerovane/bridge/MVWebViewTexts.h"
#include "libmerovane/core/MVLog.h"
#include "platform/foundation/NotificationCenter.h"
#include "platform/foundation/SharedInstances.h"
#include "platform/ui/ScrollView.h"

namespace texts = mvwebview_texts;

namespace {

constexpr uint32_t kFirstSerial = 1000;

// Serial numbers and the live web views by serial; the registry owns none of them.
struct SerialRegistry {
    std::mutex mutex;
    uint32_t next = kFirstSerial;                           // guarded by mutex
    std::map<uint32_t, std::weak_ptr<MVWebView>> webViews;  // guarded by mutex
};

SerialRegistry& serialRegistry() {
    static auto* registry = [] {
        auto* created = new SerialRegistry;
        platform::registerSharedInstanceReset("MVWebView serials",
                                              [] { MVWebView::resetSerialsForTesting(); });
        return created;
    }();
    return *registry;
}

uint32_t takeSerial() {
    auto& registry = serialRegistry();
    std::lock_guard lock(registry.mutex);
    return registry.next++;
}

}  // namespace

MVWebView::MVWebView(const platform::Rect& frame) : View(frame), serialID_(takeSerial()) {}

std::shared_ptr<MVWebView> MVWebView::create(const platform::Rect& frame) {
    auto webView = std::shared_ptr<MVWebView>(new MVWebView(frame));
    webView->setUp();
    return webView;
}

void MVWebView::setUp() {
    {
        auto& registry = serialRegistry();
        std::lock_guard lock(registry.mutex);
        registry.webViews[serialID_] = weakSelf();
    }
    nativeMode_ = true;
    pageHistory_.reserve(1);

    webView_ = MVWebViewAdapter::webViewForCurrentOS();
    const auto& size = bounds().size;
    webView_->setFrame(platform::Rect(0, 0, size.width, size.height));
    webView_->setAutoresizingMask(platform::kAutoresizingFlexibleWidth |
                                  platform::kAutoresizingFlexibleHeight);
    webView_->setDelegate(std::shared_ptr<MVWebViewAdapterDelegate>(self(), this));
    webView_->setAlpha(0);
    webView_->setBackgroundColor(platform::Color::clear());

    if (auto scrollView = webView_->scrollView()) {
        scrollView->setContentInset(platform::EdgeInsets{});
        scrollView->setDecelerationRate(platform::kScrollViewDecelerationRateNormal);
        scrollView->setDelaysContentTouches(true);
        scrollView->setCanCancelContentTouches(true);
    }
    webView_->setSuppressesIncrementalRendering(true);

    setBackgroundColor(platform::Color::clear());
    canOnloadBeCalled_ = false;
    canWebViewDidFinishLoadOnDateBeCalled_ = true;
    pageDidFailLoading_ = false;
    isGarbage_ = false;
    addSubview(webView_);
}

MVWebView::~MVWebView() {
    cancelCurrentRequest();
    MVEventDispatcher::sharedDispatcher().unregisterWebView(this);
    auto& registry = serialRegistry();
    std::lock_guard lock(registry.mutex);
    // A reset for tests may have given the serial to a newer web view meanwhile.
    auto it = registry.webViews.find(serialID_);
    if (it != registry.webViews.end() && it->second.expired()) registry.webViews.erase(it);
}

std::shared_ptr<MVWebView> MVWebView::webViewForSerial(uint32_t serial) {
    auto& registry = serialRegistry();
    std::lock_guard lock(registry.mutex);
    auto it = registry.webViews.find(serial);
    return it == registry.webViews.end() ? nullptr : it->second.lock();
}

void MVWebView::resetSerialsForTesting() {
    auto& registry = serialRegistry();
    std::lock_guard lock(registry.mutex);
    registry.next = kFirstSerial;
    registry.webViews.clear();
}

std::shared_ptr<MVWebView> MVWebView::copy() const {
    auto copied = create(bounds());
    copied->pageHistory_.clear();
    for (const auto& entry : pageHistory_) copied->pageHistory_.push_back(entry->copy());
    return copied;
}

std::string MVWebView::debugName() const {
    std::lock_guard lock(nameMutex_);
    return fmt::format(texts::kLabel, serialID_,
                       name_.empty() ? std::string() : texts::kLabelNameSeparator + name_);
}

void MVWebView::setDebugName(std::string name) {
    std::lock_guard lock(nameMutex_);
    name_ = std::move(name);
}

std::string MVWebView::documentTitle() {
    return webView_->documentTitle();
}

std::shared_ptr<platform::ScrollView> MVWebView::scrollView() const {
    return webView_->scrollView();
}

void MVWebView::setNativeMode(bool nativeMode) {
    nativeMode_ = nativeMode;
    webView_->setSuppressesIncrementalRendering(nativeMode);
    webView_->setScalesPageToFit(!nativeMode);
}

void MVWebView::setViewProperties(const nlohmann::json& viewProperties) {
    viewProperties_ = std::make_shared<const nlohmann::json>(viewProperties);
    if (auto delegate = this->delegate())
        delegate->webViewDidChangeViewProperties(*this, *viewProperties_);
}

std::optional<bool> MVWebView::delegateShouldPerformCommand(const MVCommand& command) {
    auto delegate = this->delegate();
    if (!delegate) return std::nullopt;
    return delegate->webViewShouldPerformCommand(*this, command);
}

void MVWebView::postNotification(const char* name) {
    std::weak_ptr<MVWebView> object;
    if (auto strong = weak_from_this().lock()) object = std::static_pointer_cast<MVWebView>(strong);
    platform::NotificationCenter::defaultCenter().post(
        platform::Notification{name, static_cast<const MVWebViewInterface*>(this), object, {}});
}

std::string MVWebView::requestTextForLog() const {
    auto request = webView_->request();
    return request ? request->url().absoluteString() : texts::kHTMLString;
}

void MVWebView::cancelCurrentRequest() {
    if (!isLoading_) return;
    eventBuffer_.reset();
    canOnloadBeCalled_ = false;
    canWebViewDidFinishLoadOnDateBeCalled_ = false;
    scheduledLoad_.cancel();
    if (readyPoll_) {
        readyPoll_->cancel();
        readyPoll_->cancelExternalCheck();
    }
    abandonFetch();
    ++loadGeneration_;
    shownLoadGeneration_ = loadGeneration_;
    postNotification(MVWebViewDidCancelLoadingNotification);
    MVLogVerbose(texts::kDidCancelLoading, debugName(), requestTextForLog());
    isLoading_ = false;
    afterLoadingBlock_ = nullptr;
}

void MVWebView::clear() {
    cancelCurrentRequest();
    shownPage_.reset();
    dropHeldAnswers();
    isLoading_ = false;
    pageDidFailLoading_ = false;
    loadedBaseURL_.reset();
    ++document_;
    webView_->loadHTMLString("", std::nullopt);
    isUsingLibrary_ = false;
    canOnloadBeCalled_ = false;
    canWebViewDidFinishLoadOnDateBeCalled_ = true;
}

void MVWebView::evaluateJavaScript(const std::string& script,
                                   platform::ScriptCompletion completion) {
    if (isGarbage_) {
        MVLogVerbose(texts::kGarbageScript, debugName(), script);
        return;
    }
    MVLogVerbose(texts::kEvaluatingScript, debugName(), script);
    webView_->evaluateJavaScript(script, std::move(completion));
}
