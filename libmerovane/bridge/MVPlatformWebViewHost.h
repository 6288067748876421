#pragma once
// The platform web view inside an adapter: a platform::WebView filling the adapter,
// clear and not opaque, whose reports go to the adapter's delegate with the adapter in
// its place.
// Used by the adapter classes only. Main thread only.

#include <memory>

class MVWebViewAdapter;

namespace platform {
class ScrollView;
class WebView;
}  // namespace platform

class MVPlatformWebViewHost {
  public:
    // Adds the platform view to `adapter`, filling it with flexible width and height.
    // The adapter must be owned by a shared_ptr already and outlive the host.
    explicit MVPlatformWebViewHost(MVWebViewAdapter& adapter);
    ~MVPlatformWebViewHost();
    MVPlatformWebViewHost(const MVPlatformWebViewHost&) = delete;
    MVPlatformWebViewHost& operator=(const MVPlatformWebViewHost&) = delete;

    platform::WebView& webView() { return *webView_; }
    const platform::WebView& webView() const { return *webView_; }
    std::shared_ptr<platform::ScrollView> scrollView() const;

  private:
    class Forwarder;

    std::shared_ptr<platform::WebView> webView_;
    std::shared_ptr<Forwarder> forwarder_;
};
