#pragma once
// The adapter the application uses: over platform::WebView, with synchronous script
// evaluation (the completion has run when evaluateJavaScript returns) and every
// loading operation, the request and the flags forwarded to the platform view.
// Main thread only.

#include <memory>

#include "libmerovane/bridge/MVWebViewAdapter.h"

class MVPlatformWebViewHost;

namespace platform {
class WebView;
}

class MVWebViewAdapter_UIWebView final : public MVWebViewAdapter {
  public:
    static std::shared_ptr<MVWebViewAdapter_UIWebView> create(
        const platform::Rect& frame = platform::Rect());
    ~MVWebViewAdapter_UIWebView() override;

    std::string documentTitle() override;
    std::string userAgent() override;
    std::string acceptLanguage() override;
    void evaluateJavaScript(const std::string& script, ScriptCompletion completion) override;
    using MVWebViewAdapter::evaluateJavaScript;
    void loadHTMLString(const std::string& html,
                        const std::optional<platform::URL>& baseURL) override;
    void loadData(const std::string& data, const std::string& mimeType,
                  const std::string& textEncodingName,
                  const std::optional<platform::URL>& baseURL) override;
    void loadRequest(const platform::URLRequest& request) override;
    void setScalesPageToFit(bool scales) override;
    bool scalesPageToFit() const override;
    std::optional<platform::URLRequest> request() const override;
    std::shared_ptr<platform::ScrollView> scrollView() const override;
    bool keyboardDisplayRequiresUserAction() const override;
    void setKeyboardDisplayRequiresUserAction(bool value) override;
    bool suppressesIncrementalRendering() const override;
    void setSuppressesIncrementalRendering(bool value) override;

    // The platform view, for the engine's test side.
    platform::WebView& platformWebView();

  private:
    explicit MVWebViewAdapter_UIWebView(const platform::Rect& frame);

    std::unique_ptr<MVPlatformWebViewHost> host_;
};
