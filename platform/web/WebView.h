#pragma once
// The platform web view: shows one page through a WebEngine and asks its delegate
// before every main-frame navigation.
//
//   auto view = std::make_unique<platform::WebView>();  // the process's engine
//   view->setDelegate(owner);                             // held weakly
//   view->loadHTMLString("<p>hi</p>", platform::URL::parse("https://shop.example/"));
//   std::string title = view->stringByEvaluatingJavaScriptFromString("document.title");
//
// Without a delegate every request loads; a navigation the delegate refuses is never
// loaded. Start, finish and failure arrive on later run-loop turns (see WebEngine.h).
// Tests use the headless engine; the host installs the real one with setEngineFactory.
// Main thread only.

#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "platform/web/WebEngine.h"
#include "platform/web/WebRect.h"

namespace platform {

class WebView;

// Every method is optional.
class WebViewDelegate {
  public:
    virtual ~WebViewDelegate() = default;
    // False refuses the navigation. Asked once per navigation, before it starts.
    virtual bool shouldStartLoad(WebView& webView, const URLRequest& request, NavigationType type) {
        return true;
    }
    virtual void didStartLoad(WebView& webView) {}
    virtual void didFinishLoad(WebView& webView) {}
    virtual void didFailLoad(WebView& webView, const Error& error) {}
};

class WebView final : private WebEngineClient {
  public:
    using EngineFactory = std::function<std::unique_ptr<WebEngine>()>;

    // Uses the engine the installed factory makes (the headless engine by default).
    WebView();
    explicit WebView(std::unique_ptr<WebEngine> engine);
    ~WebView();
    WebView(const WebView&) = delete;
    WebView& operator=(const WebView&) = delete;

    // Installs how new web views get their engine; null restores the headless engine.
    static void setEngineFactory(EngineFactory factory);

    void setDelegate(std::weak_ptr<WebViewDelegate> delegate) { delegate_ = std::move(delegate); }
    std::shared_ptr<WebViewDelegate> delegate() const { return delegate_.lock(); }

    void loadHTMLString(const std::string& html, const std::optional<URL>& baseURL);
    void loadData(const std::string& data, const std::string& mimeType,
                  const std::string& textEncodingName, const std::optional<URL>& baseURL);
    void loadRequest(const URLRequest& request);
    void stopLoading();
    bool isLoading() const;
    std::optional<URLRequest> request() const;

    // Synchronous: the result as text, "" for undefined, null and errors.
    std::string stringByEvaluatingJavaScriptFromString(const std::string& script);
    // Asynchronous: the completion runs on a later turn.
    void evaluateJavaScript(const std::string& script, ScriptCompletion completion);
    std::string title() const;

    const WebRect& frame() const { return frame_; }
    void setFrame(const WebRect& frame);
    const WebColor& backgroundColor() const { return backgroundColor_; }
    void setBackgroundColor(const WebColor& color);
    bool isOpaque() const { return opaque_; }
    void setOpaque(bool opaque);

    // The platform view's settings; kept for the adapter, no engine draws differently.
    bool scalesPageToFit() const { return scalesPageToFit_; }
    void setScalesPageToFit(bool value) { scalesPageToFit_ = value; }
    bool suppressesIncrementalRendering() const { return suppressesIncrementalRendering_; }
    void setSuppressesIncrementalRendering(bool value) { suppressesIncrementalRendering_ = value; }
    bool keyboardDisplayRequiresUserAction() const { return keyboardDisplayRequiresUserAction_; }
    void setKeyboardDisplayRequiresUserAction(bool value) {
        keyboardDisplayRequiresUserAction_ = value;
    }

    WebSnapshot snapshot();

    WebEngine& engine() { return *engine_; }
    const WebEngine& engine() const { return *engine_; }

  private:
    bool engineShouldStartLoad(const URLRequest& request, NavigationType type) override;
    void engineDidStartLoad() override;
    void engineDidFinishLoad() override;
    void engineDidFailLoad(const Error& error) override;
    void applyBackground();

    std::unique_ptr<WebEngine> engine_;
    std::weak_ptr<WebViewDelegate> delegate_;
    WebRect frame_;
    WebColor backgroundColor_ = WebColor::white();
    bool opaque_ = true;
    bool scalesPageToFit_ = false;
    bool suppressesIncrementalRendering_ = false;
    bool keyboardDisplayRequiresUserAction_ = true;
};

}  // namespace platform
