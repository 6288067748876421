// MVWebView: native page loading. Web URLs are fetched through URL loading, API pages
// come from the web cache, HTML strings are handed over as they are; each then goes to
// the platform view with its base URL.
#include <fmt/format.h>

#include <nlohmann/json.hpp>
#include <utility>

#include "libmerovane/bridge/MVCommand.h"
#include "libmerovane/bridge/MVCommandHandler.h"
#include "libmerovane/bridge/MVCommandURL.h"
#include "libmerovane/bridge/MVDocumentDownload.h"
#include "libmerovane/bridge/MVDocumentEncoding.h"
#include "libmerovane/bridge/MVDocumentHeaderPolicies.h"
#include "libmerovane/bridge/MVDocumentRequestHead.h"
#include "libmerovane/bridge/MVEventDispatcher.h"
#include "libmerovane/bridge/MVWebCacheInterface.h"
#include "libmerovane/bridge/MVWebCacheKeys.h"
#include "libmerovane/bridge/MVWebView.h"
#include "libmerovane/bridge/MVWebViewAdapter.h"
#include "libmerovane/bridge/MVWebViewDelegate.h"
#include "libmerovane/bridge/MVWebViewHistoryEntry.h"
#include "libmerovane/bridge/MVWebViewTexts.h"
#include "libmerovane/bridge/URLRequestExtensions.h"
#include "libmerovane/bridge/URLRequestWebCache.h"
#include "libmerovane/bridge/URLResponseExtensions.h"
#include "libmerovane/core/MVErrorLogger.h"
#include "libmerovane/core/MVLocalizationInterface.h"
#include "libmerovane/core/MVLog.h"
#include "platform/foundation/Error.h"
#include "platform/foundation/JsonValue.h"
#include "platform/foundation/TextUtilities.h"
#include "platform/foundation/Thread.h"
#include "platform/foundation/URLConnection.h"

namespace texts = mvwebview_texts;

namespace {

constexpr const char* kApiScheme = "mvapi";
constexpr const char* kCommandScheme = "mvcmd";
constexpr const char* kOpenPageCommand = "openPage";
constexpr double kFetchTimeout = 120.0;
// A whole fetched document or download, redirects included: one whose server keeps
// trickling fails then, as any failed load.
constexpr double kMaximumFetchSeconds = 300.0;
constexpr double kWebkitAnimationBugDelay = 0.05;
constexpr const char* kDefaultApiMimeType = "text/html";
constexpr const char* kApiTextEncoding = "utf-8";
constexpr const char* kSavedDownload = "MVWebView{} saved the download [{}] as {}";
constexpr const char* kDownloadNotSaved = "MVWebView{} could not save the download [{}]: {}";
constexpr const char* kDownloadsPastBound =
    "MVWebView{} refused the download [{}]: its page saved {} downloads already";
constexpr const char* kFetchPastBound =
    "MVWebView{} gave up [{}]: a document or download is held whole, and it passed {} MB";
constexpr const char* kFetchPastTime =
    "MVWebView{} gave up [{}]: the document or download did not come whole within {} s";
// A fetched document or download is held in memory until it has come.
constexpr size_t kMaximumFetchedBytes = size_t{64} << 20;
// Downloads one page document saves; a page that downloads in a loop stops there.
constexpr size_t kMaximumDownloadsOfADocument = 20;

// The rest of `url` when it begins with "mvapi:" in any case.
std::optional<std::string> apiPageId(const std::string& url) {
    const std::string prefix = std::string(kApiScheme) + ":";
    if (url.size() < prefix.size() ||
        !platform::equalsIgnoringASCIICase(std::string_view(url).substr(0, prefix.size()), prefix))
        return std::nullopt;
    return url.substr(prefix.size());
}

std::string withoutFragment(const std::string& url) {
    return url.substr(0, url.find('#'));
}

// Web cache answers may come on any thread; the web view lives on the main thread.
void onMainThread(std::function<void()> fn) {
    if (platform::isMainThread()) {
        fn();
    } else {
        platform::RunLoop::main().post(std::move(fn));
    }
}

}  // namespace

// One fetch of a page: its body and last response, for this fetch alone. Its callbacks
// reach the web view only while it is the web view's current fetch.
class MVWebView::PageFetch : public platform::URLConnectionDelegate {
  public:
    explicit PageFetch(std::weak_ptr<MVWebView> webView) : webView_(std::move(webView)) {}

    std::optional<platform::URLRequest> willSendRequest(
        platform::URLRequest request, const platform::HTTPURLResponse& redirectResponse) override {
        auto webView = current();
        if (!webView) return std::nullopt;
        return webView->fetchWillSendRequest(*this, std::move(request), redirectResponse);
    }
    void didReceiveResponse(const platform::HTTPURLResponse& response) override {
        if (auto webView = current()) webView->fetchDidReceiveResponse(*this, response);
    }
    void didReceiveData(const std::vector<uint8_t>& chunk) override {
        auto webView = current();
        if (!webView || pastBound) return;
        if (chunk.size() > kMaximumFetchedBytes - data.size()) {
            // Given up on the next turn, outside the connection's own call.
            pastBound = true;
            std::vector<uint8_t>().swap(data);
            platform::RunLoop::main().post([weak = webView_, fetch = webView->fetch_] {
                auto view = weak.lock();
                if (view && view->fetch_ == fetch) view->fetchPastItsBound(*fetch);
            });
            return;
        }
        data.insert(data.end(), chunk.begin(), chunk.end());
    }
    void didFinishLoading() override {
        auto webView = current();
        if (webView && pastBound) {
            webView->fetchPastItsBound(*this);
        } else if (webView) {
            webView->fetchDidFinish(*this);
        }
    }
    void didFailWithError(const platform::Error& error) override {
        if (auto webView = current()) webView->fetchDidFail(*this, error);
    }

    void cancel() {
        if (connection) connection->cancel();
        connection.reset();
    }
    // A link whose document never came leaves no entry for it.
    void leaveHistory(MVWebView& webView) {
        auto& history = webView.pageHistory_;
        if (linkEntry && !history.empty() && history.back() == linkEntry) history.pop_back();
        linkEntry.reset();
    }

    std::shared_ptr<platform::URLConnection> connection;
    platform::URL url;
    std::vector<uint8_t> data;
    // The body passed kMaximumFetchedBytes: the fetch is being given up.
    bool pastBound = false;
    std::optional<platform::HTTPURLResponse> finalResponse;
    // The request sent last, redirects followed.
    std::optional<platform::URLRequest> sent;
    // The history entry a followed link added for this fetch.
    std::shared_ptr<MVWebViewHistoryEntry> linkEntry;
    // Fails the fetch at kMaximumFetchSeconds; cancelled with it.
    platform::TimerHandle deadline;

  private:
    std::shared_ptr<MVWebView> current() {
        auto webView = webView_.lock();
        return webView && webView->fetch_.get() == this ? webView : nullptr;
    }

    std::weak_ptr<MVWebView> webView_;
};

void MVWebView::openUrl(const std::string& url, bool useHistory) {
    if (auto pageId = apiPageId(url)) {
        openUrlApi(*pageId, useHistory);
        return;
    }
    if (useHistory) {
        startHistory(MVWebViewHistoryEntry::historyEntryWithUrl(url));
    } else if (auto newest = newestEntry()) {
        newest->setPrefersPullToRefreshEnabled(true);
    }
    // Only a fragment moves within the document shown; its own address loads it anew.
    if (loadedBaseURL_ && url.find('#') != std::string::npos &&
        withoutFragment(url) == loadedBaseURL_->absoluteString()) {
        if (auto parsed = platform::URL::parse(url)) {
            webView_->loadRequest(platform::URLRequest(*parsed));
            return;
        }
    }
    prepareLoad(url, useHistory);
    scheduleLoad([url](MVWebView& webView) {
        auto parsed = platform::URL::parse(url);
        if (!parsed) {
            MVLogWarn(texts::kDidFailLoading, webView.debugName(), url);
            webView.endLoad(MVWebViewDidFailLoadingNotification);
            return;
        }
        platform::URLRequest request(
            *parsed, platform::URLRequestCachePolicy::ReloadIgnoringLocalCacheData, kFetchTimeout);
        setWillForceWebcache(request, true);
        webView.startFetch(std::move(request));
    });
}

void MVWebView::openUrlApi(const std::string& pageId, bool useHistory) {
    if (pageId.empty()) {
        MVLogError(texts::kEmptyApiPage, debugName());
        return;
    }
    if (useHistory) {
        startHistory(MVWebViewHistoryEntry::historyEntryWithUrl(
            fmt::format(texts::kApiUrlFormat, kApiScheme, pageId)));
    } else if (auto newest = newestEntry()) {
        newest->setPrefersPullToRefreshEnabled(true);
    }
    auto entry = newestEntry();
    prepareLoad(pageId, useHistory);
    scheduleLoad([pageId, entry](MVWebView& webView) { webView.loadApiPage(pageId, entry); });
}

void MVWebView::loadHTMLString(const std::string& html, const std::optional<platform::URL>& baseURL,
                               bool useHistory) {
    if (useHistory) {
        std::optional<std::string> base;
        if (baseURL) base = baseURL->absoluteString();
        startHistory(MVWebViewHistoryEntry::historyEntryWithHTMLString(html, std::move(base)));
    } else if (auto newest = newestEntry()) {
        newest->setPrefersPullToRefreshEnabled(true);
    }
    prepareLoad(texts::kHTMLString, true);
    loadedBaseURL_ = baseURL;
    scheduleLoad([html, baseURL](MVWebView& webView) {
        webView.handOverDocument();
        webView.webView_->loadHTMLString(html, baseURL);
    });
}

void MVWebView::performBlock(std::function<void()> block, bool afterLoading) {
    if (!block) return;
    if (afterLoading) {
        afterLoadingBlock_ = std::move(block);
    } else {
        platform::RunLoop::main().post(std::move(block));
    }
}

void MVWebView::prepareLoad(const std::string& text, bool hide) {
    keepShownPage();
    cancelCurrentRequest();
    ++loadGeneration_;
    scheduledLoad_.cancel();
    MVEventDispatcher::sharedDispatcher().unregisterWebView(this);
    lastCommandSerial_ = 0;
    if (!eventBuffer_) eventBuffer_.emplace();
    canOnloadBeCalled_ = false;
    canWebViewDidFinishLoadOnDateBeCalled_ = true;
    webView_->setUserInteractionEnabled(false);
    didNotifyLoadStart_ = false;
    didNotifyLoadFinish_ = false;
    if (hide) webView_->setAlpha(0);
    isUsingLibrary_ = false;
    isLoading_ = true;
    pageDidFailLoading_ = false;
    postNotification(MVWebViewDidStartLoadingNotification);
    MVLogVerbose(texts::kDidStartLoading, debugName(), text);
}

void MVWebView::scheduleLoad(std::function<void(MVWebView&)> load) {
    const double delay = webkitAnimationBugDelay_ ? kWebkitAnimationBugDelay : 0;
    // The next load or the view's end cancels it.
    scheduledLoad_ = platform::RunLoop::main().postAfter(delay, [this, load = std::move(load)] {
        const auto keep = self();
        load(*this);
    });
}

void MVWebView::handOverDocument() {
    shownPage_.reset();
    frameCommandsRefused_.clear();
    dropHeldAnswers();
    webViewInitialRequest_ = true;
    shownLoadGeneration_ = loadGeneration_;
    ++document_;
    documentAwaitingStart_ = true;
    postNotification(MVWebViewDidReplaceDocumentNotification);
}

void MVWebView::endLoad(const char* notification) {
    if (!isLoading_) return;
    isLoading_ = false;
    // No new document came: the one shown is current again.
    shownLoadGeneration_ = loadGeneration_;
    restoreShownPage();
    postNotification(notification);
}

void MVWebView::keepShownPage() {
    // Only a page that has become ready; one still loading, or a load under way over
    // the page kept before, keeps what there is.
    if (isLoading_ || canWebViewDidFinishLoadOnDateBeCalled_) return;
    ShownPage page{isUsingLibrary_, lastCommandSerial_, {}};
    auto& dispatcher = MVEventDispatcher::sharedDispatcher();
    for (const auto& name : dispatcher.eventNames()) {
        for (const auto& registered : dispatcher.webViewsForEvent(name)) {
            if (registered.get() == this) page.eventNames.push_back(name);
        }
    }
    shownPage_ = std::move(page);
}

void MVWebView::restoreShownPage() {
    if (!shownPage_) {
        dropHeldAnswers();
        return;
    }
    isUsingLibrary_ = shownPage_->usingLibrary;
    lastCommandSerial_ = shownPage_->commandSerial;
    canOnloadBeCalled_ = false;
    canWebViewDidFinishLoadOnDateBeCalled_ = false;
    didNotifyLoadStart_ = true;
    didNotifyLoadFinish_ = true;
    webView_->setUserInteractionEnabled(true);
    if (!shownPage_->eventNames.empty()) {
        MVEventDispatcher::sharedDispatcher().registerWebView(
            std::shared_ptr<MVWebViewInterface>(self(), this), shownPage_->eventNames);
    }
    // What came while the fetch ran is the page's own: its answers first.
    auto buffered = std::exchange(eventBuffer_, std::nullopt);
    for (const auto& held : std::exchange(heldAnswers_, {})) performMVEvent(held.event);
    if (buffered && isUsingLibrary_) {
        eventBuffer_ = std::move(buffered);
        sendEventBuffer();
    }
    eventBuffer_.reset();
}

void MVWebView::startFetch(platform::URLRequest request) {
    abandonFetch();
    auto fetch = std::make_shared<PageFetch>(weakSelf());
    fetch->url = request.url();
    fetch->sent = request;
    fetch_ = fetch;
    completeDocumentRequest(request, webView_->userAgent(), webView_->acceptLanguage());
    if (request.httpMethod() == "GET") rememberDocumentHead(request);
    fetch->deadline = platform::RunLoop::main().postAfter(
        kMaximumFetchSeconds, [weak = weakSelf(), fetch = std::weak_ptr<PageFetch>(fetch)] {
            auto view = weak.lock();
            auto current = fetch.lock();
            if (!view || !current || view->fetch_ != current) return;
            MVLogWarn(kFetchPastTime, view->debugName(), current->url.absoluteString(),
                      kMaximumFetchSeconds);
            current->cancel();
            view->fetchDidFail(*current, platform::Error());
        });
    fetch->connection =
        platform::URLConnection::start(std::move(request), fetch, platform::RunLoop::main());
}

void MVWebView::abandonFetch() {
    if (!fetch_) return;
    auto fetch = std::move(fetch_);
    fetch->cancel();
}

void MVWebView::fetchDidReceiveResponse(PageFetch& fetch,
                                        const platform::HTTPURLResponse& response) {
    shareCookies(response);
    fetch.data.clear();
    fetch.finalResponse = response;
}

std::optional<platform::URLRequest> MVWebView::fetchWillSendRequest(
    PageFetch& fetch, platform::URLRequest request,
    const platform::HTTPURLResponse& redirectResponse) {
    shareCookies(redirectResponse);
    fetch.finalResponse = redirectResponse;
    addSharedCookies(request);
    const std::string scheme = request.url().schemeLowercased();
    const std::string& target = request.url().absoluteString();
    if (scheme == kApiScheme) {
        MVLogVerbose(texts::kRedirectedToApi, debugName(), target);
        return std::nullopt;
    }
    if (scheme == kCommandScheme) {
        MVLogVerbose(texts::kRedirectedToCommand, debugName(), target);
        return std::nullopt;
    }
    MVLogVerbose(texts::kRedirected, debugName(), target);
    fetch.sent = request;
    fetch.sent->setValue(std::nullopt, "Cookie");
    return request;
}

void MVWebView::fetchDidFinish(PageFetch& fetch) {
    auto keep = fetch_;
    fetch_.reset();
    const uint64_t generation = loadGeneration_;
    switch (processRedirectResponse(fetch)) {
        case RedirectOutcome::Performed:
            fetch.leaveHistory(*this);
            if (isCurrentLoad(generation)) endLoad(MVWebViewDidFinishLoadingNotification);
            return;
        case RedirectOutcome::Refused:
            fetch.leaveHistory(*this);
            endLoad(MVWebViewDidFailLoadingNotification);
            return;
        case RedirectOutcome::NotTaken:
            break;
    }
    if (!fetch.finalResponse) {
        fetch.leaveHistory(*this);
        MVLogWarn(texts::kDidFailLoading, debugName(), fetch.url.absoluteString());
        endLoad(MVWebViewDidFailLoadingNotification);
        return;
    }
    const platform::HTTPURLResponse response = std::move(*fetch.finalResponse);
    fetch.finalResponse.reset();
    if (isDownloadResponse(response)) {
        saveDownloadKeepingPage(fetch, response);
        return;
    }
    const platform::URL& pageURL = response.url();
    const std::string baseUrl = withoutFragment(pageURL.absoluteString());

    auto newest = newestEntry();
    if (newest && newest->isUrlEntry()) {
        newest->setDocumentUrl(pageURL.absoluteString());
        // A reload sends a form's request again, a GET's answer (after a 303) is fetched anew.
        const bool form = fetch.sent && fetch.sent->httpMethod() != "GET";
        newest->setFormRequest(form ? std::make_shared<const platform::URLRequest>(*fetch.sent)
                                    : nullptr);
    }
    deliverPageContext(pageURL.absoluteString(), baseUrl, false,
                       newest ? newest->tags() : std::vector<std::string>{});
    if (!isCurrentLoad(generation)) return;  // the delegate started another load

    MVEventDispatcher::sharedDispatcher().unregisterWebView(this);
    lastCommandSerial_ = 0;
    if (!eventBuffer_) eventBuffer_.emplace();
    canOnloadBeCalled_ = false;
    canWebViewDidFinishLoadOnDateBeCalled_ = true;
    webView_->setAlpha(0);
    webView_->setUserInteractionEnabled(false);
    isUsingLibrary_ = false;
    isLoading_ = true;
    loadedBaseURL_ = platform::URL::parse(baseUrl);
    handOverDocument();
    // The engine gets no response: the document's encoding and the rules of its headers
    // go with it.
    std::string document(fetch.data.begin(), fetch.data.end());
    const std::string encoding =
        documentTextEncodingName(document, response.mimeType(), response.textEncodingName());
    webView_->loadData(documentWithHeaderPolicies(std::move(document), encoding, response),
                       response.mimeType(), encoding, pageURL);
}

void MVWebView::saveDownloadKeepingPage(PageFetch& fetch,
                                        const platform::HTTPURLResponse& response) {
    const std::string address = response.url().absoluteString();
    if (downloadsOfDocument_.first != document_) downloadsOfDocument_ = {document_, 0};
    platform::Error error;
    if (downloadsOfDocument_.second >= kMaximumDownloadsOfADocument) {
        MVLogWarn(kDownloadsPastBound, debugName(), address, downloadsOfDocument_.second);
    } else if (++downloadsOfDocument_.second;
               auto path = saveDownload(response, fetch.data, &error)) {
        MVLogInfo(kSavedDownload, debugName(), address, *path);
    } else {
        MVLogWarn(kDownloadNotSaved, debugName(), address, error.localizedDescription());
    }
    // The page that asked stays, and so does its history.
    fetch.leaveHistory(*this);
    endLoad(MVWebViewDidFinishLoadingNotification);
}

void MVWebView::fetchPastItsBound(PageFetch& fetch) {
    MVLogWarn(kFetchPastBound, debugName(), fetch.url.absoluteString(), kMaximumFetchedBytes >> 20);
    fetch.cancel();
    fetchDidFail(fetch, platform::Error());
}

void MVWebView::fetchDidFail(PageFetch& fetch, const platform::Error&) {
    auto keep = fetch_;
    fetch_.reset();
    fetch.leaveHistory(*this);
    const uint64_t generation = loadGeneration_;
    const RedirectOutcome outcome = processRedirectResponse(fetch);
    if (outcome == RedirectOutcome::NotTaken) {
        const platform::URL& url = fetch.finalResponse ? fetch.finalResponse->url() : fetch.url;
        MVLogWarn(texts::kDidFailLoading, debugName(), url.absoluteString());
    }
    fetch.finalResponse.reset();
    if (outcome == RedirectOutcome::Performed) {
        if (isCurrentLoad(generation)) endLoad(MVWebViewDidFinishLoadingNotification);
        return;
    }
    endLoad(MVWebViewDidFailLoadingNotification);
}

MVWebView::RedirectOutcome MVWebView::processRedirectResponse(const PageFetch& fetch) {
    if (!fetch.finalResponse) return RedirectOutcome::NotTaken;
    const int status = fetch.finalResponse->statusCode();
    if (status < 300 || status > 399) return RedirectOutcome::NotTaken;

    const auto header = fetch.finalResponse->valueForHTTPHeaderField("Location");
    const auto location = header ? platform::URL::parse(*header) : std::nullopt;
    if (!location) {
        MVLogError(texts::kInvalidLocationLine, debugName());
        MVErrorLogger::logError(texts::kInvalidLocationReport, header.value_or(""));
        return RedirectOutcome::Refused;
    }
    const std::string scheme = location->schemeLowercased();
    if (scheme == kApiScheme) {
        MVCommand openPage;
        openPage.setName(kOpenPageCommand);
        openPage.setParameters(nlohmann::json{{"src", location->absoluteString()}});
        if (auto handler = MVCommandHandler::sharedHandler())
            handler->performCommand(openPage, std::shared_ptr<MVWebViewInterface>(self(), this));
        return RedirectOutcome::Performed;
    }
    if (scheme != kCommandScheme) return RedirectOutcome::NotTaken;

    const std::string decoded = decodedCommandURL(location->absoluteString());
    const auto text = commandCollectionText(decoded);
    if (!text) {
        MVLogError(texts::kRedirectWithoutJSONLine, debugName());
        MVErrorLogger::logError(
            texts::kRedirectWithoutJSONReport,
            nlohmann::json{{"webview", debugName()}, {"redirectURL", location->absoluteString()}});
        return RedirectOutcome::Refused;
    }
    auto collection = platform::json::parse(*text);
    if (!collection.ok()) {
        MVLogWarn(texts::kUnreadableCollectionLine, debugName(), platform::log::escaped(*text));
        MVErrorLogger::logError(texts::kUnreadableCollectionReport,
                                nlohmann::json{{"webview", debugName()}, {"path", *text}});
        return RedirectOutcome::Refused;
    }
    MVCommandHandler::performCommandsFromCommandCollection(
        std::move(collection.value), std::shared_ptr<MVWebViewInterface>(self(), this));
    return RedirectOutcome::Performed;
}

void MVWebView::loadApiPage(const std::string& pageId,
                            std::shared_ptr<MVWebViewHistoryEntry> entry) {
    auto cache = MVWebCacheInterface::shared();
    if (!cache) {
        MVLogError(texts::kNoWebCache, debugName(), pageId);
        apiPageFailed();
        return;
    }
    if (!entry) entry = MVWebViewHistoryEntry::historyEntryWithUrl(pageId);
    // The lookup answers at most once with final content or a failure; later answers
    // and answers for a load that is no longer current are dropped.
    struct Request {
        std::weak_ptr<MVWebView> webView;
        uint64_t generation;
        std::string pageId;
        std::shared_ptr<MVWebViewHistoryEntry> entry;
        bool answered = false;
        std::shared_ptr<MVWebView> take() {
            auto strong = webView.lock();
            if (answered || !strong || !strong->isCurrentLoad(generation)) return nullptr;
            answered = true;
            return strong;
        }
    };
    auto request = std::make_shared<Request>(Request{weakSelf(), loadGeneration_, pageId, entry});
    cache->dataForKey(
        MVWebCacheKeyWithScheme(pageId, MVWebCacheSchemeApiPage),
        [request](bool fromMemory, bool reloadPending, const MVWebCacheInterface::Data& data,
                  const nlohmann::json& info) {
            if (reloadPending) return;
            onMainThread([request, fromMemory, data, info] {
                if (auto webView = request->take()) {
                    static const std::vector<uint8_t> kNoData;
                    webView->apiPageAvailable(request->pageId, *request->entry, fromMemory,
                                              data ? *data : kNoData, info);
                }
            });
        },
        [](const MVWebCacheInterface::Data&) {},
        [request](const platform::Error&, const MVWebCacheInterface::Data&) {
            onMainThread([request] {
                if (auto webView = request->take()) webView->apiPageFailed();
            });
        });
}

void MVWebView::apiPageAvailable(const std::string& pageId, const MVWebViewHistoryEntry& entry,
                                 bool fromMemory, const std::vector<uint8_t>& data,
                                 const nlohmann::json& info) {
    MVLogVerbose(texts::kApiPageData, debugName(), pageId);
    const std::string baseUrl = platform::json::stringValue(info, "base-url").value_or("");
    auto base = platform::URL::parse(baseUrl);
    if (baseUrl.empty() || !base) {
        MVLogError(texts::kApiPageWithoutBaseUrl, debugName(), pageId);
        apiPageFailed();
        return;
    }
    const uint64_t generation = loadGeneration_;
    deliverPageContext(fmt::format(texts::kApiUrlFormat, kApiScheme, pageId), baseUrl, fromMemory,
                       entry.tags());
    if (!isCurrentLoad(generation)) return;  // the delegate started another load
    loadedBaseURL_ = base;
    handOverDocument();
    std::string mimeType = platform::json::stringValue(info, "mime-type").value_or("");
    if (mimeType.empty()) mimeType = kDefaultApiMimeType;
    webView_->loadData(std::string(data.begin(), data.end()), mimeType, kApiTextEncoding, base);
}

void MVWebView::apiPageFailed() {
    loadedBaseURL_.reset();
    handOverDocument();
    pageDidFailLoading_ = true;
    auto cache = MVWebCacheInterface::shared();
    const bool shadowMode = cache && cache->isShadowModeEnabled();
    const std::string text =
        MVLocalizedString(shadowMode ? texts::kShadowModeText : texts::kFailedLoadText);
    webView_->loadHTMLString(fmt::format(fmt::runtime(texts::kErrorPage), "100%", "100%", "50%",
                                         "50%", "-50%", "-50%", "24px", text),
                             std::nullopt);
}

void MVWebView::deliverPageContext(const std::string& source, const std::string& baseUrl,
                                   bool loadedFromCache, const std::vector<std::string>& tags) {
    auto delegate = this->delegate();
    if (!delegate) return;
    auto event = delegate->pageContextForSource(source, baseUrl, loadedFromCache, tags);
    if (!event) return;
    if (eventBuffer_) {
        eventBuffer_->prepend(std::move(*event));
    } else {
        sendEventNow(*event);
    }
}

void MVWebView::followLinkNatively(const platform::URLRequest& request,
                                   platform::NavigationType navigationType) {
    if (auto delegate = this->delegate()) {
        auto keep = self();
        if (delegate->webViewShouldStartLoadWithRequest(*this, request, navigationType) == false)
            return;
    }
    platform::URLRequest copy = request;
    setWillForceWebcache(copy, true);
    const std::string url = request.url().absoluteString();
    // The page's own address loaded again takes the page's entry.
    const bool again = request.httpMethod() == "GET" && loadedBaseURL_ &&
                       withoutFragment(url) == loadedBaseURL_->absoluteString() &&
                       !pageHistory_.empty();
    if (!again) {
        removeDiscardablePages();
        pageHistory_.push_back(MVWebViewHistoryEntry::historyEntryWithUrl(url));
    }
    prepareLoad(url, false);
    startFetch(std::move(copy));
    if (fetch_ && !again) fetch_->linkEntry = pageHistory_.back();
}
