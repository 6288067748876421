#include "libmerovane/bridge/MVWebViewAdapter_WKWebView.h"

#include "libmerovane/bridge/MVPlatformWebViewHost.h"
#include "platform/ui/ScrollView.h"
#include "platform/web/WebView.h"

std::shared_ptr<MVWebViewAdapter_WKWebView> MVWebViewAdapter_WKWebView::create(
    const platform::Rect& frame) {
    auto adapter =
        std::shared_ptr<MVWebViewAdapter_WKWebView>(new MVWebViewAdapter_WKWebView(frame));
    adapter->host_ = std::make_unique<MVPlatformWebViewHost>(*adapter);
    adapter->host_->webView().setSuppressesIncrementalRendering(true);
    adapter->setSuppressesIncrementalRendering(true);
    return adapter;
}

MVWebViewAdapter_WKWebView::MVWebViewAdapter_WKWebView(const platform::Rect& frame)
    : MVWebViewAdapter(frame) {}

MVWebViewAdapter_WKWebView::~MVWebViewAdapter_WKWebView() = default;

platform::WebView& MVWebViewAdapter_WKWebView::platformWebView() {
    return host_->webView();
}

std::string MVWebViewAdapter_WKWebView::userAgent() {
    return host_->webView().userAgent();
}

std::string MVWebViewAdapter_WKWebView::acceptLanguage() {
    return host_->webView().acceptLanguage();
}

std::string MVWebViewAdapter_WKWebView::documentTitle() {
    return host_->webView().title();
}

void MVWebViewAdapter_WKWebView::evaluateJavaScript(const std::string& script,
                                                    ScriptCompletion completion) {
    host_->webView().evaluateJavaScript(script, std::move(completion));
}

void MVWebViewAdapter_WKWebView::loadHTMLString(const std::string& html,
                                                const std::optional<platform::URL>& baseURL) {
    host_->webView().loadHTMLString(html, baseURL);
}

std::shared_ptr<platform::ScrollView> MVWebViewAdapter_WKWebView::scrollView() const {
    return host_->scrollView();
}
