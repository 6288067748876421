#include "libmerovane/bridge/MVWebViewAdapter_UIWebView.h"

#include "libmerovane/bridge/MVPlatformWebViewHost.h"
#include "platform/ui/ScrollView.h"
#include "platform/web/WebView.h"

std::shared_ptr<MVWebViewAdapter_UIWebView> MVWebViewAdapter_UIWebView::create(
    const platform::Rect& frame) {
    auto adapter =
        std::shared_ptr<MVWebViewAdapter_UIWebView>(new MVWebViewAdapter_UIWebView(frame));
    adapter->host_ = std::make_unique<MVPlatformWebViewHost>(*adapter);
    adapter->host_->webView().setSuppressesIncrementalRendering(false);
    return adapter;
}

MVWebViewAdapter_UIWebView::MVWebViewAdapter_UIWebView(const platform::Rect& frame)
    : MVWebViewAdapter(frame) {}

MVWebViewAdapter_UIWebView::~MVWebViewAdapter_UIWebView() = default;

platform::WebView& MVWebViewAdapter_UIWebView::platformWebView() {
    return host_->webView();
}

std::string MVWebViewAdapter_UIWebView::userAgent() {
    return host_->webView().userAgent();
}

std::string MVWebViewAdapter_UIWebView::acceptLanguage() {
    return host_->webView().acceptLanguage();
}

std::string MVWebViewAdapter_UIWebView::documentTitle() {
    return host_->webView().stringByEvaluatingJavaScriptFromString("document.title");
}

void MVWebViewAdapter_UIWebView::evaluateJavaScript(const std::string& script,
                                                    ScriptCompletion completion) {
    std::string result = host_->webView().stringByEvaluatingJavaScriptFromString(script);
    if (completion) completion(result, std::nullopt);
}

void MVWebViewAdapter_UIWebView::loadHTMLString(const std::string& html,
                                                const std::optional<platform::URL>& baseURL) {
    host_->webView().loadHTMLString(html, baseURL);
}

void MVWebViewAdapter_UIWebView::loadData(const std::string& data, const std::string& mimeType,
                                          const std::string& textEncodingName,
                                          const std::optional<platform::URL>& baseURL) {
    host_->webView().loadData(data, mimeType, textEncodingName, baseURL);
}

void MVWebViewAdapter_UIWebView::loadRequest(const platform::URLRequest& request) {
    host_->webView().loadRequest(request);
}

void MVWebViewAdapter_UIWebView::setScalesPageToFit(bool scales) {
    host_->webView().setScalesPageToFit(scales);
}

bool MVWebViewAdapter_UIWebView::scalesPageToFit() const {
    return host_->webView().scalesPageToFit();
}

std::optional<platform::URLRequest> MVWebViewAdapter_UIWebView::request() const {
    return host_->webView().request();
}

std::shared_ptr<platform::ScrollView> MVWebViewAdapter_UIWebView::scrollView() const {
    return host_->scrollView();
}

bool MVWebViewAdapter_UIWebView::keyboardDisplayRequiresUserAction() const {
    return host_->webView().keyboardDisplayRequiresUserAction();
}

void MVWebViewAdapter_UIWebView::setKeyboardDisplayRequiresUserAction(bool value) {
    host_->webView().setKeyboardDisplayRequiresUserAction(value);
}

bool MVWebViewAdapter_UIWebView::suppressesIncrementalRendering() const {
    return host_->webView().suppressesIncrementalRendering();
}

void MVWebViewAdapter_UIWebView::setSuppressesIncrementalRendering(bool value) {
    host_->webView().setSuppressesIncrementalRendering(value);
}
