#include "libmerovane/bridge/MVPlatformWebViewHost.h"

#include "libmerovane/bridge/MVWebViewAdapter.h"
#include "libmerovane/bridge/MVWebViewAdapterDelegate.h"
#include "platform/ui/ScrollView.h"
#include "platform/web/WebView.h"

class MVPlatformWebViewHost::Forwarder : public platform::WebViewDelegate {
  public:
    explicit Forwarder(MVWebViewAdapter& adapter) : adapter_(adapter) {}

    bool shouldStartLoad(platform::WebView&, const platform::URLRequest& request,
                         platform::NavigationType type) override {
        auto [keep, delegate] = parties();
        if (!delegate) return true;
        return delegate->webViewShouldStartLoadWithRequest(adapter_, request, type).value_or(true);
    }
    void didStartLoad(platform::WebView&) override {
        auto [keep, delegate] = parties();
        if (delegate) delegate->webViewDidStartLoad(adapter_);
    }
    void didFinishLoad(platform::WebView&) override {
        auto [keep, delegate] = parties();
        if (delegate) delegate->webViewDidFinishLoad(adapter_);
    }
    void didFailLoad(platform::WebView&, const platform::Error& error) override {
        auto [keep, delegate] = parties();
        if (delegate) delegate->webViewDidFailLoadWithError(adapter_, error);
    }

  private:
    // The adapter stays alive while its delegate hears from it.
    std::pair<std::shared_ptr<platform::View>, std::shared_ptr<MVWebViewAdapterDelegate>>
    parties() {
        return {adapter_.shared_from_this(), adapter_.delegate()};
    }

    MVWebViewAdapter& adapter_;
};

MVPlatformWebViewHost::MVPlatformWebViewHost(MVWebViewAdapter& adapter)
    : forwarder_(std::make_shared<Forwarder>(adapter)) {
    const auto& size = adapter.bounds().size;
    webView_ = platform::WebView::create(platform::Rect(0, 0, size.width, size.height));
    webView_->setAutoresizingMask(platform::kAutoresizingFlexibleWidth |
                                  platform::kAutoresizingFlexibleHeight);
    webView_->setBackgroundColor(platform::Color::clear());
    webView_->setOpaque(false);
    webView_->setDelegate(forwarder_);
    adapter.addSubview(webView_);
}

MVPlatformWebViewHost::~MVPlatformWebViewHost() {
    webView_->setDelegate({});
}

std::shared_ptr<platform::ScrollView> MVPlatformWebViewHost::scrollView() const {
    return webView_->scrollView();
}
