#pragma once
// MVWebView's literal texts: log lines, error reports, scripts and the error page.
// Used by the MVWebView sources only.

namespace mvwebview_texts {

inline constexpr const char* kLabel = "<{}{}>";
inline constexpr const char* kLabelNameSeparator = ":";
inline constexpr const char* kHTMLString = "HTML String";

inline constexpr const char* kDidStartLoading = "MVWebView{} did start loading [{}]";
inline constexpr const char* kDidCancelLoading = "MVWebView{} did cancel loading [{}]";
inline constexpr const char* kDidFailLoading = "MVWebView{} did fail loading [{}]";
inline constexpr const char* kDidFinishRendering = "MVWebView{} did finish rendering [{}]";
inline constexpr const char* kHTMLStringWithBase = "HTML String : {}";
inline constexpr const char* kStaleNavigation =
    "MVWebView{} refused a navigation of a page that a newer load replaces: <{}>";
inline constexpr const char* kPageHistoryStepIgnored =
    "MVWebView{} did not step its page history by {}: it holds {} pages";
inline constexpr const char* kDocumentHistoryChange =
    "MVWebView{} page history follows the page within its document: {} {} [{}]";
inline constexpr const char* kGarbageRequest =
    "MVWebView{} doesn't start loading request , since it is garbage: <{}>.";
inline constexpr const char* kGarbageEvent =
    "MVWebView{} doesn't perform event buffer, since it is garbage.";
inline constexpr const char* kGarbageScript =
    "MVWebView{} doesn't evaluat Javascript:[{}], since it is garbage";
inline constexpr const char* kEvaluatingScript = "MVWebView{} is evaluating Javascript:[{}]";
inline constexpr const char* kPerformingEvent = "MVWebView{} performing {}";
inline constexpr const char* kDataResponseOfLeftPage =
    "MVWebView{} drops the answer to data request {} of a page it no longer shows";
inline constexpr const char* kDataResponseMalformedDocument =
    "MVWebView{} refuses the answer to data request {}: its document mark is malformed";

inline constexpr const char* kRedirectedToApi =
    "MVWebView{} was redirected to [{}] switching protocol to API";
inline constexpr const char* kRedirectedToCommand =
    "MVWebView{} was redirected to command scheme[{}] canceling connection";
inline constexpr const char* kRedirected = "MVWebView{} was redirected to [{}]";
inline constexpr const char* kInvalidLocationLine =
    "MVWebView{} redirect did not contain a valid location header";
inline constexpr const char* kInvalidLocationReport =
    "HTTP redirect did not contain a valid location header";
inline constexpr const char* kRedirectWithoutJSONLine =
    "MVWebView{} redirect command scheme without JSON";
inline constexpr const char* kRedirectWithoutJSONReport =
    "MVWebView redirect command scheme without JSON";
inline constexpr const char* kUnreadableCollectionLine =
    "MVWebview{} could not read command collection:[{}]";
inline constexpr const char* kUnreadableCollectionReport =
    "MVWebview could not read command collection.";

inline constexpr const char* kEmptyApiPage = "MVWebView{} tried to open empty api page \"mvapi:\"";
inline constexpr const char* kApiPageData = "MVWebView{} received data for [API:{}]";
inline constexpr const char* kApiPageWithoutBaseUrl =
    "MVWebView{} received data for [API:{}] without a base URL";
inline constexpr const char* kNoWebCache = "MVWebView{} has no web cache to load [API:{}]";
inline constexpr const char* kApiUrlFormat = "{}:{}";
inline constexpr const char* kErrorPage =
    "<html><head></head><body style=\"padding:0; margin:0;\"><div style=\"position:relative; "
    "margin: 0; width: {}; height: {}; text-align: center\"><div style=\"position:absolute;top: "
    "{}; left:{};-webkit-transform:translate3d({},{},0);font-size: {};font-family: "
    "sans-serif\">{}</div></div></body></html>";
inline constexpr const char* kShadowModeText = "#cachedbootapp.please.wait";
inline constexpr const char* kFailedLoadText = "#webview.failed.load";

inline constexpr const char* kGoBackInPage = "history.go({})";

// The ready poll, rendering and the page's round trip.
inline constexpr const char* kDidFinishLoading =
    "MVWebView{} did finish loading [{}]. {} Merovane JS library";
inline constexpr const char* kUsingLibrary = "Using";
inline constexpr const char* kNotUsingLibrary = "Not using";
inline constexpr const char* kBufferOnlyInOnload =
    "MVWebView:{} committed event buffer only in onload method.";
inline constexpr const char* kOddBackgroundColor =
    "MVWebView{} page background colour [{}] is no rgb() colour; using white";
inline constexpr const char* kMeasureScript =
    "'' + (document.getElementsByTagName(\"html\")[0].offsetWidth) + ',' + "
    "(document.getElementsByTagName(\"html\")[0].offsetHeight)";
inline constexpr const char* kBackgroundColorScript =
    "window.getComputedStyle(document.getElementsByTagName('html')[0])['background-color']";
inline constexpr const char* kWillHandleOverride = "MVWebView{} will handle JS override '{}'";
inline constexpr const char* kUnreadableOverride =
    "MVWebView{} could not read the address of JS override '{}' [{}]";
inline constexpr const char* kNoApiPageController =
    "MVWebView{} has no web page view controller to open [mvapi:{}]";

}  // namespace mvwebview_texts
