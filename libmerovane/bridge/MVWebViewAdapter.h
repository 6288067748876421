#pragma once
// The view that wraps one platform web view for MVWebView: it loads documents, runs
// scripts and reports navigations to its delegate through MVWebViewAdapterDelegate.
//
//   auto adapter = MVWebViewAdapter::webViewForCurrentOS();   // the UIWebView-style one
//   adapter->setDelegate(webView);                            // held weakly
//   adapter->loadHTMLString("<p>hi</p>", std::nullopt);
//   adapter->evaluateJavaScript("document.title", [](auto& result, auto& error) { ... });
//
// Subclasses replace the loading, script and setting operations; the base class fails
// the assertion "NO" (NSInternalInconsistencyException) for the abstract ones and keeps
// the flags as plain properties. Main thread only.

#include <memory>
#include <optional>
#include <string>

#include "platform/foundation/URLRequest.h"
#include "platform/ui/View.h"
#include "platform/web/WebEngine.h"

class MVWebViewAdapterDelegate;

namespace platform {
class ScrollView;
}

class MVWebViewAdapter : public platform::View {
  public:
    // The result text and, when the script failed, an error (the text is then "").
    using ScriptCompletion = platform::ScriptCompletion;

    // The adapter the application uses: always the UIWebView-style one.
    static std::shared_ptr<MVWebViewAdapter> webViewForCurrentOS();

    std::shared_ptr<MVWebViewAdapterDelegate> delegate() const { return delegate_.lock(); }
    void setDelegate(std::weak_ptr<MVWebViewAdapterDelegate> delegate) {
        delegate_ = std::move(delegate);
    }

    virtual std::string documentTitle();
    // The agent the engine sends with the page's requests; empty when unknown.
    virtual std::string userAgent() { return {}; }
    virtual std::string acceptLanguage() { return {}; }
    // A null completion: the result is not wanted.
    virtual void evaluateJavaScript(const std::string& script, ScriptCompletion completion);
    void evaluateJavaScript(const std::string& script);
    // The result, waiting for it when the adapter evaluates asynchronously (the main
    // loop turns meanwhile) at most `timeoutSeconds` of real time; "" after that.
    std::string stringByEvaluatingJavaScriptFromString(
        const std::string& script,
        double timeoutSeconds = platform::WebEngine::kSynchronousTimeout);

    virtual void loadHTMLString(const std::string& html,
                                const std::optional<platform::URL>& baseURL);
    virtual void loadData(const std::string& data, const std::string& mimeType,
                          const std::string& textEncodingName,
                          const std::optional<platform::URL>& baseURL);
    virtual void loadRequest(const platform::URLRequest& request);
    virtual void setScalesPageToFit(bool scales);
    virtual bool scalesPageToFit() const;

    // The request of the document shown.
    virtual std::optional<platform::URLRequest> request() const { return request_; }
    virtual std::shared_ptr<platform::ScrollView> scrollView() const { return scrollView_; }
    virtual bool keyboardDisplayRequiresUserAction() const {
        return keyboardDisplayRequiresUserAction_;
    }
    virtual void setKeyboardDisplayRequiresUserAction(bool value) {
        keyboardDisplayRequiresUserAction_ = value;
    }
    virtual bool suppressesIncrementalRendering() const { return suppressesIncrementalRendering_; }
    virtual void setSuppressesIncrementalRendering(bool value) {
        suppressesIncrementalRendering_ = value;
    }

  protected:
    explicit MVWebViewAdapter(const platform::Rect& frame) : View(frame) {}

  private:
    std::weak_ptr<MVWebViewAdapterDelegate> delegate_;
    std::optional<platform::URLRequest> request_;
    std::shared_ptr<platform::ScrollView> scrollView_;
    bool keyboardDisplayRequiresUserAction_ = true;
    bool suppressesIncrementalRendering_ = false;
};
