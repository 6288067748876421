#pragma once
// The pool of preloaded web views: one loaded MVWebView per URL, ready to be placed
// into a view (preview templates, the splash screen, the scanner's and notifications'
// pages). A web view that has been taken stays pooled until a replacement asked for
// with renewWebViewForUrl has rendered, or until another user asks for its URL while it
// is shown.
//
//   auto& pool = MVWebViewCache::sharedCache();
//   auto preview = pool.cachedWebViewForUrl("mvapi:template");  // loads when new
//   pool.renewWebViewForUrl("mvapi:template");                  // a fresh copy for next time
//
// Pooled web views have no delegate. The pool empties on two memory warnings at most
// 10 s apart and on the boot command. Pages choose the URLs, so the pool holds at most
// kMaximumUrls of them: a new one drops the URL asked for least recently. Thread-safe: one lock,
// taken once per operation; the web views themselves are used on the main thread.

#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "platform/foundation/NotificationCenter.h"

class MVWebView;
namespace platform {
class View;
}

class MVWebViewCache : public std::enable_shared_from_this<MVWebViewCache> {
  public:
    static constexpr size_t kMaximumUrls = 32;

    static MVWebViewCache& sharedCache();
    ~MVWebViewCache();

    // The pooled web view for the URL, or a new one that is pooled and starts loading.
    // A pooled web view shown in a window, in a view other than `placeIn`, is in use:
    // it stays with its user, and a new one takes its place in the pool.
    std::shared_ptr<MVWebView> cachedWebViewForUrl(const std::string& url,
                                                   const platform::View* placeIn = nullptr);
    // Starts loading a replacement for the URL unless one is already loading.
    void renewWebViewForUrl(const std::string& url);
    // Drops the web view from the pool; one that is not pooled is ignored.
    void removeWebView(const MVWebView& webView);

    void notificationReceived(const platform::Notification& notification);
    void didReceiveMemoryWarning();
    void appDidReceiveBootAppCommand();

    // The pooled URLs and those with a replacement loading; for tests.
    std::vector<std::string> pooledUrls() const;
    std::vector<std::string> renewingUrls() const;

  private:
    MVWebViewCache() = default;
    void observe();
    void webViewDidFinishRendering(const MVWebView& webView);
    void webViewDidCancelRendering(const MVWebView& webView);
    void empty();
    // Makes room for one more URL; the dropped web views go to `dropped`. Under the lock.
    void dropLeastRecentlyAskedLocked(std::vector<std::shared_ptr<MVWebView>>& dropped);

    mutable std::mutex mutex_;
    std::map<std::string, std::shared_ptr<MVWebView>> webviewCache_;   // guarded by mutex_
    std::map<std::string, std::shared_ptr<MVWebView>> renewingViews_;  // guarded by mutex_
    std::optional<int64_t> receivedLastMemoryWarning_;                 // guarded by mutex_
    std::map<std::string, uint64_t> lastAsked_;                        // guarded by mutex_
    uint64_t asks_ = 0;                                                // guarded by mutex_
    std::vector<platform::ObserverRegistration> observers_;
};
