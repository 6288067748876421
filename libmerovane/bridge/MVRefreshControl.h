#pragma once
// The pull-to-refresh control of web page view controllers: it stays in place when the
// page scrolls sideways.
//
//   auto control = MVRefreshControl::create();
//   webView->scrollView()->addSubview(control);
//   MVWebViewIsRefreshing(*webView);   // the control's refreshing state
//
// Main thread only.

#include <memory>

#include "platform/ui/RefreshControl.h"

class MVWebView;

class MVRefreshControl : public platform::RefreshControl {
  public:
    static std::shared_ptr<MVRefreshControl> create();
    // Inside a scroll view the horizontal origin follows its horizontal content offset.
    void setFrame(const platform::Rect& frame) override;

  private:
    MVRefreshControl() = default;
};

// The first MVRefreshControl in the web view's scroll view, or null.
std::shared_ptr<MVRefreshControl> MVRefreshControlOf(const MVWebView& webView);
// Whether that control is refreshing; false without one.
bool MVWebViewIsRefreshing(const MVWebView& webView);
