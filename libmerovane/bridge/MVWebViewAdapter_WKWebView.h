#pragma once
// The second adapter, over platform::WebView with asynchronous script evaluation (the
// completion runs on a later turn). The factory never chooses it: it has no data and
// request loading of its own (those fail the assertion "NO", as do the page-scaling
// accessors), so it cannot serve MVWebView's native loading. Its request is none and
// its keyboard flag is always false. Main thread only.

#include <memory>

#include "libmerovane/bridge/MVWebViewAdapter.h"

class MVPlatformWebViewHost;

namespace platform {
class WebView;
}

class MVWebViewAdapter_WKWebView final : public MVWebViewAdapter {
  public:
    static std::shared_ptr<MVWebViewAdapter_WKWebView> create(
        const platform::Rect& frame = platform::Rect());
    ~MVWebViewAdapter_WKWebView() override;

    std::string documentTitle() override;
    std::string userAgent() override;
    std::string acceptLanguage() override;
    void evaluateJavaScript(const std::string& script, ScriptCompletion completion) override;
    using MVWebViewAdapter::evaluateJavaScript;
    void loadHTMLString(const std::string& html,
                        const std::optional<platform::URL>& baseURL) override;
    std::optional<platform::URLRequest> request() const override { return std::nullopt; }
    std::shared_ptr<platform::ScrollView> scrollView() const override;
    bool keyboardDisplayRequiresUserAction() const override { return false; }
    void setKeyboardDisplayRequiresUserAction(bool) override {}

    platform::WebView& platformWebView();

  private:
    explicit MVWebViewAdapter_WKWebView(const platform::Rect& frame);

    std::unique_ptr<MVPlatformWebViewHost> host_;
};
