// MVWebView: the page history. Going back steps the page's own browser history for
// entries its pushState made, and otherwise shows the older entry again natively.
#include <fmt/format.h>

#include <algorithm>
#include <any>
#include <limits>
#include <nlohmann/json.hpp>
#include <string_view>
#include <unordered_set>

#include "libmerovane/bridge/MVWebCacheInterface.h"
#include "libmerovane/bridge/MVWebCacheKeys.h"
#include "libmerovane/bridge/MVWebView.h"
#include "libmerovane/bridge/MVWebViewAdapter.h"
#include "libmerovane/bridge/MVWebViewDelegate.h"
#include "libmerovane/bridge/MVWebViewHistoryEntry.h"
#include "libmerovane/bridge/MVWebViewTexts.h"
#include "libmerovane/core/MVLog.h"
#include "platform/foundation/TextUtilities.h"
#include "platform/foundation/URLRequest.h"
#include "platform/web/WebEngine.h"

namespace texts = mvwebview_texts;

namespace {

constexpr int64_t kSaturated = std::numeric_limits<int64_t>::max();
constexpr const char* kApiPrefix = "mvapi:";

// Steps back through the page's own history: one per pushState entry walked, saturated
// for good by the first entry with a document of its own.
void countStep(int64_t& steps, const MVWebViewHistoryEntry& entry) {
    if (!entry.isPushState()) {
        steps = kSaturated;
    } else if (steps != kSaturated) {
        ++steps;
    }
}

std::string schemeOf(const std::string& url) {
    const auto colon = url.find(':');
    return colon == std::string::npos ? std::string()
                                      : platform::asciiLowercase(url.substr(0, colon));
}

bool sameParams(const nlohmann::json* a, const nlohmann::json* b) {
    if (a == b) return true;
    return a && b && *a == *b;
}

}  // namespace

std::shared_ptr<MVWebViewHistoryEntry> MVWebView::newestEntry() const {
    return pageHistory_.empty() ? nullptr : pageHistory_.back();
}

void MVWebView::startHistory(std::shared_ptr<MVWebViewHistoryEntry> entry) {
    pageHistory_.clear();
    pageHistory_.push_back(std::move(entry));
}

std::optional<std::string> MVWebView::currentUrl() const {
    auto newest = newestEntry();
    if (!newest) return std::nullopt;
    return newest->isUrlEntry() ? newest->documentUrl() : newest->baseUrl();
}

bool MVWebView::currentUrlIsSecure() const {
    auto url = currentUrl();
    if (!url) return false;
    const std::string scheme = schemeOf(*url);
    return scheme == "https" || scheme == "mvapi";
}

std::shared_ptr<MVWebViewHistoryEntry> MVWebView::lastHistoryEntryWithNavigationParams() const {
    for (auto it = pageHistory_.rbegin(); it != pageHistory_.rend(); ++it) {
        if ((*it)->navigationParams()) return *it;
    }
    return nullptr;
}

const nlohmann::json* MVWebView::navigationBarParameters() const {
    auto entry = lastHistoryEntryWithNavigationParams();
    return entry ? entry->navigationParams().get() : nullptr;
}

std::optional<std::string> MVWebView::navigationBarTitle() const {
    auto entry = lastHistoryEntryWithNavigationParams();
    return entry ? entry->navigationTitle() : std::nullopt;
}

bool MVWebView::containsTag(const std::string& tag) const {
    return std::any_of(pageHistory_.begin(), pageHistory_.end(),
                       [&](const auto& entry) { return entry->hasTag(tag); });
}

bool MVWebView::prefersPullToRefreshEnabled() const {
    auto newest = newestEntry();
    return newest && newest->prefersPullToRefreshEnabled();
}

void MVWebView::setViewTags(const std::vector<std::string>& tags) {
    if (auto newest = newestEntry()) newest->setTags(tags);
}

namespace {

// The entry's tags without those of the list; linear in both, whatever a page sends.
std::vector<std::string> tagsWithout(std::vector<std::string> entryTags,
                                     const std::vector<std::string>& tags) {
    const std::unordered_set<std::string_view> removed(tags.begin(), tags.end());
    std::erase_if(entryTags, [&](const std::string& tag) { return removed.count(tag) > 0; });
    return entryTags;
}

}  // namespace

void MVWebView::addViewTags(const std::vector<std::string>& tags) {
    auto newest = newestEntry();
    if (!newest) return;
    std::vector<std::string> result = tagsWithout(newest->tags(), tags);
    result.insert(result.end(), tags.begin(), tags.end());
    newest->setTags(std::move(result));
}

void MVWebView::removeViewTags(const std::vector<std::string>& tags) {
    auto newest = newestEntry();
    if (!newest) return;
    newest->setTags(tagsWithout(newest->tags(), tags));
}

void MVWebView::setNavigationBarParams(std::shared_ptr<const nlohmann::json> params,
                                       std::optional<std::string> title) {
    auto newest = newestEntry();
    if (!newest) return;
    auto before = lastHistoryEntryWithNavigationParams();
    std::shared_ptr<const nlohmann::json> oldParams = before ? before->navigationParams() : nullptr;
    std::optional<std::string> oldTitle = before ? before->navigationTitle() : std::nullopt;
    newest->setNavigationParams(params);
    newest->setNavigationTitle(title);
    if (sameParams(oldParams.get(), params.get()) && oldTitle == title) return;
    if (auto delegate = this->delegate()) {
        delegate->webViewDidChangeNavigationBarParams(*this, oldParams.get(), params.get(),
                                                      oldTitle, title);
    }
}

void MVWebView::setPrefersPullToRefreshEnabled(bool enabled) {
    auto newest = newestEntry();
    if (!newest || newest->prefersPullToRefreshEnabled() == enabled) return;
    newest->setPrefersPullToRefreshEnabled(enabled);
    if (auto delegate = this->delegate())
        delegate->webViewDidChangePullToRefreshEnabled(*this, enabled);
}

void MVWebView::showHistoryEntry(const MVWebViewHistoryEntry& entry) {
    if (entry.isUrlEntry()) {
        const std::string url = *entry.documentUrl();
        openUrl(url, false);
        return;
    }
    const std::string html = entry.htmlString().value_or("");
    std::optional<platform::URL> base;
    if (entry.baseUrl()) base = platform::URL::parse(*entry.baseUrl());
    loadHTMLString(html, base, false);
}

void MVWebView::tellNavigationBarChange(const std::shared_ptr<MVWebViewHistoryEntry>& before) {
    auto after = lastHistoryEntryWithNavigationParams();
    if (after == before) return;
    auto delegate = this->delegate();
    if (!delegate) return;
    delegate->webViewDidChangeNavigationBarParams(
        *this, before ? before->navigationParams().get() : nullptr,
        after ? after->navigationParams().get() : nullptr,
        before ? before->navigationTitle() : std::nullopt,
        after ? after->navigationTitle() : std::nullopt);
}

void MVWebView::tellHistoryModified() {
    if (auto delegate = this->delegate()) delegate->webViewDidModifyHistory(*this);
}

void MVWebView::goBackInPage(int64_t steps) {
    if (awaitedInPageGeneration_ != loadGeneration_) awaitedInPageSteps_ = 0;
    awaitedInPageGeneration_ = loadGeneration_;
    awaitedInPageSteps_ += steps;
    webView_->evaluateJavaScript(fmt::format(texts::kGoBackInPage, -steps));
}

bool MVWebView::goBack() {
    if (pageHistory_.size() <= 1) return false;
    auto keep = self();
    auto before = lastHistoryEntryWithNavigationParams();
    const bool wasPushState = pageHistory_.back()->isPushState();
    pageHistory_.pop_back();
    if (wasPushState) {
        goBackInPage(1);
    } else {
        // The older page is shown again without a new entry: following it as a link
        // would append it a second time, and the page could never be left.
        showHistoryEntry(*pageHistory_.back());
    }
    tellNavigationBarChange(before);
    tellHistoryModified();
    return true;
}

std::optional<int64_t> MVWebView::pageHistoryStep(const platform::URLRequest& request) const {
    // The engine tells how far the page goes; else the nearest older entry of the address.
    const std::any told = request.property(platform::kHistoryStepProperty);
    if (const auto* step = std::any_cast<int64_t>(&told)) return *step;
    const std::string& url = request.url().absoluteString();
    for (size_t i = pageHistory_.size(); i-- > 1;) {
        if (pageHistory_[i - 1]->documentUrl() == url)
            return static_cast<int64_t>(i) - static_cast<int64_t>(pageHistory_.size());
    }
    return std::nullopt;
}

bool MVWebView::stepLeavesDocument(int64_t steps) const {
    if (steps >= 0 || -steps >= static_cast<int64_t>(pageHistory_.size())) return true;
    // Entries made by pushState share the document of the entry before them.
    for (size_t i = pageHistory_.size(); i-- > pageHistory_.size() - static_cast<size_t>(-steps);)
        if (!pageHistory_[i]->isPushState()) return true;
    return false;
}

void MVWebView::followPageHistory(int64_t steps) {
    // A step back the page history asked for and took already leaves the document when the
    // document holds no entry to go to (it was shown again natively): the entry the page
    // history is at is shown again.
    const int64_t ours = steps < 0 ? takeAwaitedInPageSteps(-steps) : 0;
    if (ours > 0 && steps + ours == 0) {
        showHistoryEntry(*pageHistory_.back());
        return;
    }
    steps += ours;
    // A browser's forward here goes nowhere (what the page's back left is not kept), as
    // does a step past the history's first page.
    if (steps >= 0 || !stepBack(static_cast<size_t>(-steps))) {
        // The document stays.
        leavingDocument_.reset();
        MVLogInfo(texts::kPageHistoryStepIgnored, debugName(), steps, pageHistory_.size());
    }
}

int64_t MVWebView::takeAwaitedInPageSteps(int64_t steps) {
    if (awaitedInPageGeneration_ != loadGeneration_) awaitedInPageSteps_ = 0;
    const int64_t ours = std::min(steps, awaitedInPageSteps_);
    awaitedInPageSteps_ -= ours;
    return ours;
}

bool MVWebView::takeDocumentHistoryChange(const platform::URLRequest& request) {
    using Kind = platform::DocumentHistoryChange::Kind;
    const std::any told = request.property(platform::kDocumentHistoryProperty);
    const auto* change = std::any_cast<platform::DocumentHistoryChange>(&told);
    if (!change) return false;
    // The step of a document that a newer load replaces: its entries are gone.
    if (shownLoadGeneration_ != loadGeneration_ || pageHistory_.empty()) return true;
    const std::string& address = request.url().absoluteString();
    constexpr const char* kKinds[] = {"added", "replaced", "moved"};
    MVLogVerbose(texts::kDocumentHistoryChange, debugName(),
                 kKinds[static_cast<size_t>(change->kind)], change->step, address);
    if (change->kind == Kind::Replaced) {
        replaceNewestAddress(address);
        return true;
    }
    auto keep = self();
    auto before = lastHistoryEntryWithNavigationParams();
    if (change->kind == Kind::Added || change->step > 0) {
        // An entry ahead in the document shares it, as pushState's do.
        if (!appendPushStateEntry(address)) return true;
    } else {
        const int64_t steps = -change->step - takeAwaitedInPageSteps(-change->step);
        if (steps <= 0) return true;
        const auto kept = std::max<int64_t>(1, static_cast<int64_t>(pageHistory_.size()) - steps);
        pageHistory_.resize(static_cast<size_t>(kept));
    }
    tellNavigationBarChange(before);
    tellHistoryModified();
    return true;
}

bool MVWebView::appendPushStateEntry(const std::string& address) {
    // The engine and the page's own override both tell of one pushState: the second finds
    // its entry already made.
    auto newest = newestEntry();
    if (newest && newest->isPushState() && newest->documentUrl() == address) return false;
    auto entry = MVWebViewHistoryEntry::historyEntryWithUrl(address);
    entry->setIsPushState(true);
    pageHistory_.push_back(std::move(entry));
    return true;
}

void MVWebView::replaceNewestAddress(const std::string& address) {
    auto newest = newestEntry();
    if (!newest) return;
    if (newest->isUrlEntry()) {
        newest->setDocumentUrl(address);
    } else {
        newest->setBaseUrl(address);
    }
}

bool MVWebView::stepBack(size_t steps) {
    if (steps == 0 || steps >= pageHistory_.size()) return false;
    auto keep = self();
    auto before = lastHistoryEntryWithNavigationParams();
    pageHistory_.resize(pageHistory_.size() - steps);
    showHistoryEntry(*pageHistory_.back());
    tellNavigationBarChange(before);
    tellHistoryModified();
    return true;
}

bool MVWebView::goBackToTag(const std::string& tag) {
    if (pageHistory_.size() < 2) return false;
    int64_t steps = 0;
    std::optional<size_t> found;
    for (size_t i = pageHistory_.size() - 1; i-- > 0;) {
        countStep(steps, *pageHistory_[i]);
        if (pageHistory_[i]->hasTag(tag)) {
            found = i;
            break;
        }
    }
    if (!found) return false;
    auto keep = self();
    auto before = lastHistoryEntryWithNavigationParams();
    pageHistory_.erase(pageHistory_.begin() + static_cast<std::ptrdiff_t>(*found) + 1,
                       pageHistory_.end());
    if (steps == kSaturated) {
        showHistoryEntry(*pageHistory_.back());
    } else {
        goBackInPage(steps);
    }
    tellNavigationBarChange(before);
    tellHistoryModified();
    return !pageHistory_.empty();
}

bool MVWebView::removeHistoryEntriesForTag(const std::string& tag) {
    return removeHistoryEntriesForTags({tag});
}

bool MVWebView::removeHistoryEntriesForTags(const std::vector<std::string>& tags) {
    auto keep = self();
    auto newestBefore = newestEntry();
    auto before = lastHistoryEntryWithNavigationParams();
    int64_t steps = 0;
    auto tagged = [&](const MVWebViewHistoryEntry& entry) {
        return std::any_of(tags.begin(), tags.end(),
                           [&](const std::string& tag) { return entry.hasTag(tag); });
    };
    for (auto it = pageHistory_.rbegin(); it != pageHistory_.rend(); ++it) countStep(steps, **it);
    std::erase_if(pageHistory_, [&](const auto& entry) { return tagged(*entry); });

    bool result = true;
    if (newestEntry() == newestBefore) {
        result = true;
    } else if (pageHistory_.empty()) {
        clear();
        result = false;
    } else if (steps == kSaturated) {
        showHistoryEntry(*pageHistory_.back());
    } else {
        goBackInPage(steps);
    }
    tellNavigationBarChange(before);
    tellHistoryModified();
    return result;
}

bool MVWebView::removeDiscardablePages() {
    if (pageHistory_.empty()) return false;
    return std::erase_if(pageHistory_,
                         [](const auto& entry) { return entry->isDiscardedFromHistory(); }) > 0;
}

void MVWebView::reloadWithClearingChache(bool clearCache) {
    auto newest = newestEntry();
    if (!newest) return;
    newest->setPrefersPullToRefreshEnabled(true);
    if (!newest->isUrlEntry()) {
        showHistoryEntry(*newest);
        return;
    }
    const std::string url = *newest->documentUrl();
    auto cache = clearCache ? MVWebCacheInterface::shared() : nullptr;
    if (schemeOf(url) == "mvapi") {
        const std::string pageId = url.substr(std::string(kApiPrefix).size());
        if (cache)
            cache->clearCacheForKey(MVWebCacheKeyWithScheme(pageId, MVWebCacheSchemeApiPage));
        openUrlApi(pageId, false);
        return;
    }
    if (cache) cache->clearCacheForKey(url);
    // A document a form's POST answered is asked for again with that request, as a browser
    // reloads it.
    if (auto form = newest->formRequest()) {
        prepareLoad(url, false);
        scheduleLoad([form](MVWebView& webView) { webView.startFetch(*form); });
        return;
    }
    openUrl(url, false);
}
