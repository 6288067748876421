#pragma once
// The view every screen element uses to show a page. It wraps one platform web view
// behind an MVWebViewAdapter and adds a serial number, its own page history, native
// page loading and the delivery of page events.
//
//   auto webView = MVWebView::create({0, 0, 320, 480});
//   webView->setDebugName("Header");            // log label <1003:Header>
//   webView->setDelegate(controller);           // held weakly
//   webView->openUrl("https://shop.example/");  // fetched natively, then shown
//   webView->openUrl("mvapi:home");             // an API page from the web cache
//   MVWebView::webViewForSerial(1003);          // found again by its serial
//
// Pages are fetched by the web view itself (web URLs through URL loading, API pages
// through the web cache) and handed to the platform view with their base URL. Every
// load that posts MVWebViewDidStartLoadingNotification ends with exactly one finish,
// fail or cancel notification (object: a std::weak_ptr<MVWebView>; sender: the web view).
//
// Thread-safety: main thread only, except webViewForSerial, serial and debugName.

#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <nlohmann/json_fwd.hpp>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "libmerovane/bridge/MVDocumentReadyPoll.h"
#include "libmerovane/bridge/MVEvent.h"
#include "libmerovane/bridge/MVEventBuffer.h"
#include "libmerovane/bridge/MVWebViewAdapterDelegate.h"
#include "libmerovane/bridge/MVWebViewInterface.h"
#include "platform/foundation/RunLoop.h"
#include "platform/foundation/URL.h"
#include "platform/ui/View.h"
#include "platform/web/WebEngine.h"

class MVWebViewAdapter;
class MVWebViewDelegate;
class MVWebViewHistoryEntry;

namespace platform {
class Error;
class HTTPURLResponse;
class ScrollView;
class URLRequest;
}  // namespace platform

// A load starts (object: the web view).
inline constexpr const char* MVWebViewDidStartLoadingNotification =
    "MVWebViewDidStartLoadingNotification";
// A page finished rendering, or a load ended without a page to show.
inline constexpr const char* MVWebViewDidFinishLoadingNotification =
    "MVWebViewDidFinishLoadingNotification";
// A load failed: the fetch or a redirect out of it.
inline constexpr const char* MVWebViewDidFailLoadingNotification =
    "MVWebViewDidFailLoadingNotification";
// A load was cancelled, by a newer one or by cancelCurrentRequest.
inline constexpr const char* MVWebViewDidCancelLoadingNotification =
    "MVWebViewDidCancelLoadingNotification";
// Another document replaces the page's: one handed to the platform view, or one the
// platform view loaded itself (a reload) once loaded (object: the web view).
inline constexpr const char* MVWebViewDidReplaceDocumentNotification =
    "MVWebViewDidReplaceDocumentNotification";

class MVWebView : public platform::View,
                  public MVWebViewInterface,
                  public MVWebViewAdapterDelegate {
  public:
    using History = std::vector<std::shared_ptr<MVWebViewHistoryEntry>>;

    static std::shared_ptr<MVWebView> create(const platform::Rect& frame = platform::Rect());
    ~MVWebView() override;

    // The live web view with that serial, or null.
    static std::shared_ptr<MVWebView> webViewForSerial(uint32_t serial);
    // A new web view with this one's bounds and a copy of its page history.
    std::shared_ptr<MVWebView> copy() const;

    // Identity.
    uint32_t serialID() const { return serialID_; }
    void setDebugName(std::string name);
    std::string documentTitle();
    std::shared_ptr<platform::ScrollView> scrollView() const;
    const std::shared_ptr<MVWebViewAdapter>& webView() const { return webView_; }

    std::shared_ptr<MVWebViewDelegate> delegate() const { return delegate_.lock(); }
    void setDelegate(std::weak_ptr<MVWebViewDelegate> delegate) { delegate_ = std::move(delegate); }

    // Settings.
    bool nativeMode() const { return nativeMode_; }
    // On: incremental rendering suppressed, no page scaling. Off: pages scale to fit.
    void setNativeMode(bool nativeMode);
    // The properties the page set last (a dictionary), or null.
    const std::shared_ptr<const nlohmann::json>& viewProperties() const { return viewProperties_; }
    void setViewProperties(const nlohmann::json& viewProperties);
    bool isGarbage() const { return isGarbage_; }
    void setIsGarbage(bool garbage) { isGarbage_ = garbage; }
    bool webkitAnimationBugDelay() const { return webkitAnimationBugDelay_; }
    // On: every load starts 0.05 s later instead of at the next turn.
    void setWebkitAnimationBugDelay(bool delay) { webkitAnimationBugDelay_ = delay; }
    void forceWebViewRedraw() {}

    // State.
    bool isLoading() const { return isLoading_; }
    bool isUsingLibrary() const { return isUsingLibrary_; }
    bool pageDidFailLoading() const { return pageDidFailLoading_; }
    const std::optional<platform::URL>& loadedBaseURL() const { return loadedBaseURL_; }
    int64_t lastCommandSerial() const { return lastCommandSerial_; }
    platform::Size sizeOfHtmlContent() const { return webContentSize_; }

    // Loading. With useHistory the history restarts with the new page and the platform
    // view is hidden until the page is ready; without, the history stays (reloads and
    // history steps).
    void openUrl(const std::string& url, bool useHistory = true);
    void openUrlApi(const std::string& pageId, bool useHistory = true);
    void loadHTMLString(const std::string& html, const std::optional<platform::URL>& baseURL,
                        bool useHistory = true);
    // Runs the block once the current page has finished rendering (replacing a block
    // already waiting), or at the next turn.
    void performBlock(std::function<void()> block, bool afterLoading);
    // Abandons the load under way; nothing happens while none is.
    void cancelCurrentRequest();
    // Cancels and empties the platform view; the history stays.
    void clear();
    // Evaluates a script in the page, unless the web view is garbage.
    void evaluateJavaScript(const std::string& script, platform::ScriptCompletion completion = {});

    // The page is shown once both this (the page's onload command, or the document's
    // completion for pages without the page library) and the ready poll have happened,
    // in either order.
    void onload();
    // Measures the page again and tells the delegate.
    void pageSizeDidChange();

    // The page shown sent a data request with this serial; returns what goes upstream
    // after the web view's serial: the page's serial, marked with the document (":d" and
    // its number) while an older document's request of that serial is still out.
    std::string noteDataRequest(const std::string& requestSerial);
    // Takes the data request an answer names (what followed the web view's serial): the
    // oldest sent with exactly that, the document shown's first. False when its document
    // has been replaced, whose answer no other document may get, and for a malformed
    // document mark. An answer to no noted request is the document's it marks, else the
    // document shown's.
    // While a newer load is under way the answer (the next event performed) is held for
    // the document shown: it gets it if the load ends without a document of its own, and
    // it is dropped when the newer document is handed over.
    bool takeDataRequest(const std::string& requestSerial);

    // Page history, newest last.
    const History& pageHistory() const { return pageHistory_; }
    size_t historySize() const { return pageHistory_.size(); }
    bool canGoBack() const { return pageHistory_.size() > 1; }
    bool currentUrlIsSecure() const;
    bool currentUrlIsTrusted() const { return true; }
    std::shared_ptr<MVWebViewHistoryEntry> lastHistoryEntryWithNavigationParams() const;
    const nlohmann::json* navigationBarParameters() const;
    std::optional<std::string> navigationBarTitle() const;
    bool containsTag(const std::string& tag) const;
    bool prefersPullToRefreshEnabled() const;
    // These act on the newest entry.
    void setViewTags(const std::vector<std::string>& tags);
    void addViewTags(const std::vector<std::string>& tags);
    void removeViewTags(const std::vector<std::string>& tags);
    void setNavigationBarParams(std::shared_ptr<const nlohmann::json> params,
                                std::optional<std::string> title);
    void setPrefersPullToRefreshEnabled(bool enabled);
    bool goBack();
    bool goBackToTag(const std::string& tag);
    bool removeHistoryEntriesForTag(const std::string& tag);
    bool removeHistoryEntriesForTags(const std::vector<std::string>& tags);
    bool removeDiscardablePages();
    void reload() { reloadWithClearingChache(true); }
    void reloadWithClearingChache(bool clearCache);

    // MVWebViewInterface
    int serial() const override { return static_cast<int>(serialID_); }
    std::string debugName() const override;
    std::optional<std::string> currentUrl() const override;
    std::optional<bool> delegateShouldPerformCommand(const MVCommand& command) override;
    void performMVEvent(const MVEvent& event) override;
    std::shared_ptr<MVWebView> asMVWebView() override { return self(); }

    // MVWebViewAdapterDelegate
    std::optional<bool> webViewShouldStartLoadWithRequest(
        MVWebViewAdapter& adapter, const platform::URLRequest& request,
        platform::NavigationType navigationType) override;
    void webViewDidStartLoad(MVWebViewAdapter& adapter) override;
    void webViewDidFinishLoad(MVWebViewAdapter& adapter) override;
    void webViewDidFailLoadWithError(MVWebViewAdapter& adapter,
                                     const platform::Error& error) override;

    // Resets the serial counter to 1000; for tests.
    static void resetSerialsForTesting();

  protected:
    explicit MVWebView(const platform::Rect& frame);

  private:
    class PageFetch;
    enum class RedirectOutcome { NotTaken, Performed, Refused };

    std::shared_ptr<MVWebView> self() {
        return std::static_pointer_cast<MVWebView>(shared_from_this());
    }
    std::weak_ptr<MVWebView> weakSelf() { return self(); }
    void setUp();

    // Loading.
    void prepareLoad(const std::string& text, bool hide);
    void scheduleLoad(std::function<void(MVWebView&)> load);
    // The platform view gets the load's document next: its own load, allowed unchecked.
    void handOverDocument();
    bool isCurrentLoad(uint64_t generation) const { return generation == loadGeneration_; }
    // A load that ends without a document of its own (a failed fetch) leaves the page
    // shown as it was when the load was prepared: its events flow again.
    void endLoad(const char* notification);
    void keepShownPage();
    void restoreShownPage();
    void postNotification(const char* name);
    void startFetch(platform::URLRequest request);
    // Stops the fetch under way; nothing of it reaches this web view afterwards.
    void abandonFetch();
    void fetchDidReceiveResponse(PageFetch& fetch, const platform::HTTPURLResponse& response);
    std::optional<platform::URLRequest> fetchWillSendRequest(
        PageFetch& fetch, platform::URLRequest request,
        const platform::HTTPURLResponse& redirectResponse);
    void fetchDidFinish(PageFetch& fetch);
    void saveDownloadKeepingPage(PageFetch& fetch, const platform::HTTPURLResponse& response);
    void fetchDidFail(PageFetch& fetch, const platform::Error& error);
    // The fetch's body passed its bound: it ends as a failed load.
    void fetchPastItsBound(PageFetch& fetch);
    RedirectOutcome processRedirectResponse(const PageFetch& fetch);
    void performRedirectCommandCollection(const platform::URL& location);
    void loadApiPage(const std::string& pageId, std::shared_ptr<MVWebViewHistoryEntry> entry);
    void apiPageAvailable(const std::string& pageId, const MVWebViewHistoryEntry& entry,
                          bool fromMemory, const std::vector<uint8_t>& data,
                          const nlohmann::json& info);
    void apiPageFailed();
    void deliverPageContext(const std::string& source, const std::string& baseUrl,
                            bool loadedFromCache, const std::vector<std::string>& tags);
    void followLinkNatively(const platform::URLRequest& request,
                            platform::NavigationType navigationType);

    // History.
    std::shared_ptr<MVWebViewHistoryEntry> newestEntry() const;
    void startHistory(std::shared_ptr<MVWebViewHistoryEntry> entry);
    void showHistoryEntry(const MVWebViewHistoryEntry& entry);
    void tellNavigationBarChange(const std::shared_ptr<MVWebViewHistoryEntry>& before);
    void tellHistoryModified();
    void goBackInPage(int64_t steps);
    // The page's own back or forward navigation to another document: its page history
    // steps as the user's Back steps it.
    std::optional<int64_t> pageHistoryStep(const platform::URLRequest& request) const;
    bool stepLeavesDocument(int64_t steps) const;
    void followPageHistory(int64_t steps);
    bool stepBack(size_t steps);
    // The engine's report of the page's step within its document (a pushState, a
    // replaceState, its back or forward there): true when the request was one.
    bool takeDocumentHistoryChange(const platform::URLRequest& request);
    int64_t takeAwaitedInPageSteps(int64_t steps);
    // False when the newest entry is already this pushState's.
    bool appendPushStateEntry(const std::string& address);
    void replaceNewestAddress(const std::string& address);

    // Page reports, the ready poll and events (MVWebViewReadyPoll.cpp).
    MVDocumentReadyPoll& readyPoll();
    void documentDidBecomeReady(const MVDocumentReadyPoll::Outcome& outcome);
    void finishRendering(bool announce);
    void measurePage(std::function<void()> then);
    void measureNow();
    void sendEventNow(const MVEvent& event);
    void sendEventBuffer();

    // Overrides and the command channel (MVWebViewOverrides.cpp, MVWebViewCommands.cpp).
    void injectJavascriptOverridesThenDo(std::function<void()> block);
    // True, or a request replaced by none: the request is refused.
    bool willHandleJavascriptOverride(MVWebViewAdapter& adapter,
                                      std::optional<platform::URLRequest>& request,
                                      platform::NavigationType navigationType);
    void performCommandURL(const platform::URLRequest& request);
    void refuseFrameCommandURL(const platform::URLRequest& request);
    void openApiLink(const platform::URLRequest& request);
    std::string requestTextForLog() const;

    bool isUsingLibrary_ = false;
    bool isLoading_ = false;
    bool nativeMode_ = true;
    bool pageDidFailLoading_ = false;
    bool webkitAnimationBugDelay_ = false;
    bool isGarbage_ = false;
    bool webViewInitialRequest_ = false;
    bool canOnloadBeCalled_ = false;
    bool canWebViewDidFinishLoadOnDateBeCalled_ = true;
    bool didNotifyLoadStart_ = false;
    bool didNotifyLoadFinish_ = false;
    const uint32_t serialID_;
    std::weak_ptr<MVWebViewDelegate> delegate_;
    mutable std::mutex nameMutex_;
    std::string name_;  // guarded by nameMutex_
    std::shared_ptr<const nlohmann::json> viewProperties_;
    std::shared_ptr<MVWebViewAdapter> webView_;
    // The fetch of the page being loaded; its body and final response live with it, so
    // that no other load writes into them.
    std::shared_ptr<PageFetch> fetch_;
    // The page document and how many downloads it saved.
    std::pair<uint64_t, size_t> downloadsOfDocument_{0, 0};
    int64_t lastCommandSerial_ = 0;
    // The frame documents of the shown page whose refused commands were logged, by the
    // document the engine names (0: one it does not name).
    std::set<int64_t> frameCommandsRefused_;
    static constexpr size_t kMaximumFrameDocuments = 64;
    std::optional<platform::URL> loadedBaseURL_;
    History pageHistory_;
    std::function<void()> afterLoadingBlock_;
    // None: events go to the page at once.
    std::optional<MVEventBuffer> eventBuffer_;
    platform::Size webContentSize_;
    // A measuring script runs; one answered in this turn, which size changes wait out.
    bool measuring_ = false;
    bool measureTurnPosted_ = false;
    // What waits for the next measuring script: a size change to tell, blocks to run.
    bool sizeChangeWaiting_ = false;
    std::vector<std::function<void()>> measureWaiters_;
    std::unique_ptr<MVDocumentReadyPoll> readyPoll_;
    // The fetch or hand-over waiting for its turn.
    platform::TimerHandle scheduledLoad_;
    // Counts loads: answers for an older load (a cancelled or superseded fetch, a late
    // web cache answer) find another number and are dropped.
    uint64_t loadGeneration_ = 0;
    // The load whose document the platform view was handed last (or that ended without
    // one): while it is older than loadGeneration_, the page shown is being replaced.
    uint64_t shownLoadGeneration_ = 0;
    // Steps back the page was asked to take in its document for the page history, which
    // has taken them already; under the load counted then.
    int64_t awaitedInPageSteps_ = 0;
    uint64_t awaitedInPageGeneration_ = 0;
    // Counts the documents the platform view was handed or started itself (a reload).
    uint64_t document_ = 0;
    // The document that asked to leave for another: its commands are refused, said once,
    // from its own history step on (under the load counted then), and while the document
    // it goes to is on its way.
    std::optional<uint64_t> leavingDocument_;
    bool leavingByStep_ = false;
    uint64_t leavingLoad_ = 0;
    bool leavingCommandRefused_ = false;
    // A document was handed over and the platform view has not reported its start yet.
    bool documentAwaitingStart_ = false;
    // The number a document the platform view started itself took, and the one before:
    // until it finishes it may still fail without replacing the page (a "tel:" link).
    uint64_t platformDocument_ = 0;
    uint64_t documentBeforePlatformLoad_ = 0;
    struct DataRequest {
        size_t serialHash = 0;  // the page chooses the serial and its length
        size_t sentHash = 0;    // of the serial as sent, with its document mark if any
        uint64_t document = 0;
    };
    // Data requests not answered yet, oldest first; the oldest go past kMaxDataRequests.
    std::deque<DataRequest> dataRequests_;
    // The page shown, ready, when a load was prepared over it; none once another document
    // was handed over.
    struct ShownPage {
        bool usingLibrary = false;
        int64_t commandSerial = 0;
        std::vector<std::string> eventNames;
    };
    std::optional<ShownPage> shownPage_;
    // The serial whose answer performMVEvent gets next, to hold for the document shown.
    std::optional<std::string> answerToHold_;
    struct HeldAnswer {
        std::string requestSerial;
        MVEvent event;
    };
    std::vector<HeldAnswer> heldAnswers_;
    void dropHeldAnswers();
};
