#include "libmerovane/bridge/MVRefreshControl.h"

#include "libmerovane/bridge/MVWebView.h"
#include "platform/ui/ScrollView.h"

std::shared_ptr<MVRefreshControl> MVRefreshControl::create() {
    return std::shared_ptr<MVRefreshControl>(new MVRefreshControl);
}

void MVRefreshControl::setFrame(const platform::Rect& frame) {
    auto adjusted = frame;
    if (auto scrollView = std::dynamic_pointer_cast<platform::ScrollView>(superview()))
        adjusted.origin.x = scrollView->contentOffset().x;
    platform::RefreshControl::setFrame(adjusted);
}

std::shared_ptr<MVRefreshControl> MVRefreshControlOf(const MVWebView& webView) {
    auto scrollView = webView.scrollView();
    if (!scrollView) return nullptr;
    for (const auto& view : scrollView->subviews())
        if (auto control = std::dynamic_pointer_cast<MVRefreshControl>(view)) return control;
    return nullptr;
}

bool MVWebViewIsRefreshing(const MVWebView& webView) {
    auto control = MVRefreshControlOf(webView);
    return control && control->isRefreshing();
}
