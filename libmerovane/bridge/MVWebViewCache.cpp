#include "libmerovane/bridge/MVWebViewCache.h"

#include <any>
#include <utility>

#include "libmerovane/bridge/MVWebView.h"
#include "libmerovane/core/MVInstalledInstance.h"
#include "libmerovane/core/MVLog.h"
#include "libmerovane/core/MVSplashScreenInterface.h"
#include "platform/foundation/Clock.h"
#include "platform/ui/Application.h"
#include "platform/ui/View.h"
#include "platform/ui/Window.h"

namespace {

using PoolSlot = MVInstalledInstance<MVWebViewCache>;
constexpr const char* kPoolSlot = "MVWebViewCache";
constexpr const char* kDebugName = "WebViewCache";
// Two memory warnings at most this far apart empty the pool.
constexpr int64_t kMemoryWarningWindowNanos = 10'000'000'000;

enum class LoadEnd { Finished, Cancelled };

const std::map<std::string, LoadEnd>& loadEndActions() {
    static const auto* actions = new std::map<std::string, LoadEnd>{
        {MVWebViewDidFinishLoadingNotification, LoadEnd::Finished},
        {MVWebViewDidCancelLoadingNotification, LoadEnd::Cancelled},
        {MVWebViewDidFailLoadingNotification, LoadEnd::Cancelled},
    };
    return *actions;
}

std::shared_ptr<MVWebView> newPoolWebView() {
    auto webView = MVWebView::create(platform::Rect(0, 0, 320, 480));
    webView->setDebugName(kDebugName);
    return webView;
}

// The last key under which the web view is stored.
template <class Map>
typename Map::iterator lastEntryOf(Map& map, const MVWebView& webView) {
    auto found = map.end();
    for (auto it = map.begin(); it != map.end(); ++it)
        if (it->second.get() == &webView) found = it;
    return found;
}

std::vector<std::string> keysOf(const std::map<std::string, std::shared_ptr<MVWebView>>& map) {
    std::vector<std::string> keys;
    for (const auto& [key, value] : map) keys.push_back(key);
    return keys;
}

}  // namespace

MVWebViewCache& MVWebViewCache::sharedCache() {
    if (auto pool = PoolSlot::get(kPoolSlot)) return *pool;
    auto created = std::shared_ptr<MVWebViewCache>(new MVWebViewCache);
    PoolSlot::install(created, kPoolSlot);
    created->observe();
    return *created;
}

MVWebViewCache::~MVWebViewCache() = default;

void MVWebViewCache::observe() {
    auto& center = platform::NotificationCenter::defaultCenter();
    std::weak_ptr<MVWebViewCache> weak = weak_from_this();
    auto add = [&](const char* name,
                   std::function<void(MVWebViewCache&, const platform::Notification&)> action) {
        observers_.emplace_back(
            center,
            center.addObserver(name, nullptr, [weak, action](const platform::Notification& n) {
                if (auto pool = weak.lock()) action(*pool, n);
            }));
    };
    for (const auto& [name, end] : loadEndActions())
        add(name.c_str(), [](MVWebViewCache& pool, const platform::Notification& n) {
            pool.notificationReceived(n);
        });
    add(platform::kApplicationDidReceiveMemoryWarningNotification,
        [](MVWebViewCache& pool, const platform::Notification&) {
            pool.didReceiveMemoryWarning();
        });
    add(MVLibraryApplicationReceivedBootAppCommand,
        [](MVWebViewCache& pool, const platform::Notification&) {
            pool.appDidReceiveBootAppCommand();
        });
}

std::shared_ptr<MVWebView> MVWebViewCache::cachedWebViewForUrl(const std::string& url,
                                                               const platform::View* placeIn) {
    std::shared_ptr<MVWebView> created;
    std::vector<std::shared_ptr<MVWebView>> dropped;  // released after the lock
    {
        std::lock_guard lock(mutex_);
        lastAsked_[url] = ++asks_;
        auto found = webviewCache_.find(url);
        if (found != webviewCache_.end()) {
            auto shownIn = found->second->superview();
            if (!shownIn || !found->second->window() || shownIn.get() == placeIn)
                return found->second;
            // Taking it would pull it off the screen that shows it.
            dropped.push_back(std::move(found->second));
            webviewCache_.erase(found);
        } else if (webviewCache_.size() >= kMaximumUrls) {
            dropLeastRecentlyAskedLocked(dropped);
        }
        created = newPoolWebView();
        webviewCache_[url] = created;
    }
    // Opened outside the lock: a load may post notifications that this pool observes.
    MVLogInfo("MVWebViewCache caching MVWebView{} [{}]", created->debugName(), url);
    created->openUrl(url);
    return created;
}

void MVWebViewCache::dropLeastRecentlyAskedLocked(
    std::vector<std::shared_ptr<MVWebView>>& dropped) {
    auto oldest = webviewCache_.end();
    uint64_t oldestAsk = UINT64_MAX;
    for (auto it = webviewCache_.begin(); it != webviewCache_.end(); ++it) {
        auto asked = lastAsked_.find(it->first);
        const uint64_t ask = asked == lastAsked_.end() ? 0 : asked->second;
        if (ask < oldestAsk) oldest = it, oldestAsk = ask;
    }
    if (oldest == webviewCache_.end()) return;
    MVLogWarn("MVWebViewCache holds {} URLs and drops MVWebView{} [{}]", kMaximumUrls,
              oldest->second->debugName(), oldest->first);
    dropped.push_back(std::move(oldest->second));
    if (auto renewing = renewingViews_.find(oldest->first); renewing != renewingViews_.end()) {
        dropped.push_back(std::move(renewing->second));
        renewingViews_.erase(renewing);
    }
    lastAsked_.erase(oldest->first);
    webviewCache_.erase(oldest);
}

void MVWebViewCache::renewWebViewForUrl(const std::string& url) {
    std::shared_ptr<MVWebView> created;
    {
        std::lock_guard lock(mutex_);
        if (renewingViews_.count(url)) return;
        if (renewingViews_.size() >= kMaximumUrls) {
            MVLogWarn("MVWebViewCache renews {} URLs and does not renew [{}]", kMaximumUrls, url);
            return;
        }
        created = newPoolWebView();
        renewingViews_[url] = created;
    }
    MVLogInfo("MVWebViewCache renewing MVWebView{} [{}]", created->debugName(), url);
    created->openUrl(url);
}

void MVWebViewCache::removeWebView(const MVWebView& webView) {
    std::lock_guard lock(mutex_);
    auto found = lastEntryOf(webviewCache_, webView);
    if (found == webviewCache_.end()) return;
    MVLogInfo("MVWebViewCache removes MVWebView{} [{}]", webView.debugName(), found->first);
    lastAsked_.erase(found->first);
    webviewCache_.erase(found);
}

void MVWebViewCache::notificationReceived(const platform::Notification& notification) {
    const auto& actions = loadEndActions();
    auto action = actions.find(notification.name);
    if (action == actions.end()) {
        MVLogWarn("MVWebViewCache no action for \"{}\"", notification.name);
        return;
    }
    const auto* weak = std::any_cast<std::weak_ptr<MVWebView>>(&notification.object);
    auto webView = weak ? weak->lock() : nullptr;
    if (!webView) return;
    if (action->second == LoadEnd::Finished)
        webViewDidFinishRendering(*webView);
    else
        webViewDidCancelRendering(*webView);
}

void MVWebViewCache::webViewDidFinishRendering(const MVWebView& webView) {
    std::shared_ptr<MVWebView> replaced;  // released after the lock
    std::vector<std::shared_ptr<MVWebView>> dropped;
    std::lock_guard lock(mutex_);
    auto found = lastEntryOf(renewingViews_, webView);
    if (found == renewingViews_.end()) return;
    // A URL no longer pooled comes back, within the pool's bound.
    if (!webviewCache_.count(found->first) && webviewCache_.size() >= kMaximumUrls) {
        const std::string url = found->first;
        dropLeastRecentlyAskedLocked(dropped);
        found = renewingViews_.find(url);
        if (found == renewingViews_.end()) return;
    }
    auto& pooled = webviewCache_[found->first];
    replaced = std::exchange(pooled, found->second);
    renewingViews_.erase(found);
}

void MVWebViewCache::webViewDidCancelRendering(const MVWebView& webView) {
    std::shared_ptr<MVWebView> dropped;
    std::lock_guard lock(mutex_);
    auto found = lastEntryOf(renewingViews_, webView);
    if (found == renewingViews_.end()) return;
    dropped = std::move(found->second);
    renewingViews_.erase(found);
}

void MVWebViewCache::didReceiveMemoryWarning() {
    const int64_t now = platform::Clock::monotonicNanos();
    bool emptyNow = false;
    {
        std::lock_guard lock(mutex_);
        emptyNow = receivedLastMemoryWarning_ &&
                   now - *receivedLastMemoryWarning_ <= kMemoryWarningWindowNanos;
        receivedLastMemoryWarning_ = now;
    }
    if (emptyNow) empty();
}

void MVWebViewCache::appDidReceiveBootAppCommand() {
    empty();
}

void MVWebViewCache::empty() {
    // Destroyed after the lock: a web view's destruction may post notifications.
    std::map<std::string, std::shared_ptr<MVWebView>> pooled, renewing;
    std::lock_guard lock(mutex_);
    pooled.swap(webviewCache_);
    renewing.swap(renewingViews_);
    lastAsked_.clear();
}

std::vector<std::string> MVWebViewCache::pooledUrls() const {
    std::lock_guard lock(mutex_);
    return keysOf(webviewCache_);
}

std::vector<std::string> MVWebViewCache::renewingUrls() const {
    std::lock_guard lock(mutex_);
    return keysOf(renewingViews_);
}
