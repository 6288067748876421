#include "libmerovane/containers/MVContainerViewController.h"

#include "libmerovane/bridge/MVStatusBarStyle.h"
#include "platform/ui/View.h"

namespace {

constexpr unsigned kFlexibleSize =
    platform::kAutoresizingFlexibleWidth | platform::kAutoresizingFlexibleHeight;

}  // namespace

const std::shared_ptr<platform::View>& MVContainerViewController::contentContainerView() {
    view();
    return contentContainerView_;
}

void MVContainerViewController::loadView() {
    platform::ViewController::loadView();
    const auto& own = view();
    contentContainerView_ = platform::View::create(own->bounds());
    contentContainerView_->setAutoresizingMask(kFlexibleSize);
    own->addSubview(contentContainerView_);
}

void MVContainerViewController::setContentViewController(
    std::shared_ptr<platform::ViewController> content) {
    if (content_ && content_->isViewLoaded()) content_->view()->removeFromSuperview();
    content_ = std::move(content);
    if (content_) contentContainerView()->addSubview(content_->view());
}

void MVContainerViewController::viewShouldAdjustInsets(const platform::EdgeInsets& insets,
                                                       bool animated) {
    if (auto* content = dynamic_cast<MVViewHierarchyDelegate*>(content_.get()))
        content->viewShouldAdjustInsets(insets, animated);
}

platform::StatusBarStyle MVContainerViewController::preferredStatusBarStyle() const {
    if (auto overlay = overlayStatusBarStyle()) return overlay->preferredStatusbarStyle();
    if (content_) return content_->preferredStatusBarStyle();
    return fallbackStatusBarStyle()->preferredStatusbarStyle();
}

bool MVContainerViewController::prefersStatusBarHidden() const {
    if (auto overlay = overlayStatusBarStyle()) return overlay->prefersStatusBarHidden();
    if (content_) return content_->prefersStatusBarHidden();
    return fallbackStatusBarStyle()->prefersStatusBarHidden();
}

std::shared_ptr<MVStatusBarStyle> MVContainerViewController::fallbackStatusBarStyle() const {
    return MVStatusBarStyle::statusBarStyleAppDefault();
}
