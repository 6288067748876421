#pragma once
// The platform web view inside an adapter: a platform::WebView, the scroll view that
// stands for it in the view tree (the web view takes that view's size), and the
// forwarding of its reports to the adapter's delegate with the adapter in its place.
// The platform view is clear and not opaque.
// Used by the adapter classes only. Main thread only.

#include <memory>

class MVWebViewAdapter;

namespace platform {
class ScrollView;
class WebView;
}  // namespace platform

class MVPlatformWebViewHost {
  public:
    // Adds the scroll view to `adapter`, filling it with flexible width and height. The
    // adapter must be owned by a shared_ptr already and outlive the host.
    explicit MVPlatformWebViewHost(MVWebViewAdapter& adapter);
    ~MVPlatformWebViewHost();
    MVPlatformWebViewHost(const MVPlatformWebViewHost&) = delete;
    MVPlatformWebViewHost& operator=(const MVPlatformWebViewHost&) = delete;

    platform::WebView& webView() { return *webView_; }
    const platform::WebView& webView() const { return *webView_; }
    std::shared_ptr<platform::ScrollView> scrollView() const;

  private:
    class Forwarder;
    class HostView;

    std::unique_ptr<platform::WebView> webView_;
    std::shared_ptr<Forwarder> forwarder_;
    std::shared_ptr<HostView> hostView_;
};
