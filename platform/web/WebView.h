#pragma once
// The platform web view: a view that shows one page through a WebEngine and asks its
// delegate before every main-frame navigation.
//
//   auto view = platform::WebView::create({0, 0, 320, 480});   // the process's engine
//   view->setDelegate(owner);                                   // held weakly
//   view->loadHTMLString("<p>hi</p>", platform::URL::parse("https://shop.example/"));
//   std::string title = view->stringByEvaluatingJavaScriptFromString("document.title");
//
// Without a delegate every request loads; a navigation the delegate refuses is never
// loaded. Start, finish and failure arrive on later run-loop turns (see WebEngine.h).
// Where the page draws nothing the view's background colour shows: without one, white
// when the view is opaque and nothing when it is not. Drawing the view (a screenshot)
// draws the page. Tests use the headless engine; the host installs the real one with
// setEngineFactory. Main thread only.

#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "platform/ui/Image.h"
#include "platform/ui/ScrollView.h"
#include "platform/ui/View.h"
#include "platform/web/WebEngine.h"

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

class WebView final : public View, private WebEngineClient {
  public:
    using EngineFactory = std::function<std::unique_ptr<WebEngine>()>;

    // With the engine the installed factory makes (the headless engine by default).
    static std::shared_ptr<WebView> create(const Rect& frame = Rect());
    static std::shared_ptr<WebView> create(std::unique_ptr<WebEngine> engine,
                                           const Rect& frame = Rect());
    ~WebView() override;

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
    // The engine's user agent, the text pages read as navigator.userAgent.
    std::string userAgent();
    // The Accept-Language the engine sends; empty when it sends none.
    std::string acceptLanguage();

    void setFrame(const Rect& frame) override;
    bool isOpaque() const { return opaque_; }
    void setOpaque(bool opaque);
    // The scroll view the page scrolls in; its settings are kept, nothing scrolls headless.
    const std::shared_ptr<ScrollView>& scrollView() const { return scrollView_; }

    // The platform view's settings; kept for the adapter, no engine draws differently.
    bool scalesPageToFit() const { return scalesPageToFit_; }
    void setScalesPageToFit(bool value) { scalesPageToFit_ = value; }
    bool suppressesIncrementalRendering() const { return suppressesIncrementalRendering_; }
    void setSuppressesIncrementalRendering(bool value) { suppressesIncrementalRendering_ = value; }
    bool keyboardDisplayRequiresUserAction() const { return keyboardDisplayRequiresUserAction_; }
    void setKeyboardDisplayRequiresUserAction(bool value) {
        keyboardDisplayRequiresUserAction_ = value;
    }

    // The visible page, one pixel a point; empty when it cannot be taken.
    Image snapshot();
    void drawContent(GraphicsContext& context, const Rect& bounds) const override;

    WebEngine& engine() { return *engine_; }
    const WebEngine& engine() const { return *engine_; }

  private:
    WebView(std::unique_ptr<WebEngine> engine, const Rect& frame);

    bool engineShouldStartLoad(const URLRequest& request, NavigationType type) override;
    void engineDidStartLoad() override;
    void engineDidFinishLoad() override;
    void engineDidFailLoad(const Error& error) override;
    // The view's size and background colour may have changed by ways that tell nobody
    // (bounds, background): the engine is brought up to date before it is used.
    void updateEngine() const;

    std::unique_ptr<WebEngine> engine_;
    std::shared_ptr<ScrollView> scrollView_;
    std::weak_ptr<WebViewDelegate> delegate_;
    bool opaque_ = true;
    bool scalesPageToFit_ = false;
    bool suppressesIncrementalRendering_ = false;
    bool keyboardDisplayRequiresUserAction_ = true;
    mutable std::optional<Size> engineSize_;
    mutable std::optional<Color> engineBackground_;
};

}  // namespace platform
