#pragma once
// What the bridge and the commands need of a tab's navigation stack: a page stack of
// web page view controllers under a header web view, the navigation bar. The
// containers' navigation controller implements it; tests use recording stand-ins.
//
//   if (auto stack = MVNavigationControllerInterface::sharedInstanceForIdentifier(
//           targetTab, webView))
//       stack->popViewControllerAnimated(true);
//
// Speed factors are handed on as the page or server sent them: implementations accept
// any finite number (0, negative numbers and 1e308 arrive) and none, which means the
// base duration.
//
// Main thread only.

#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "libmerovane/bridge/MVBarAnimation.h"

class MVEvent;
class MVWebView;

namespace platform {
class ViewController;
}

class MVNavigationControllerInterface {
  public:
    virtual ~MVNavigationControllerInterface() = default;

    // The stack's identifier, the tab's name in page contexts.
    virtual std::optional<std::string> identifier() const = 0;

    // Pushes a web page view controller onto the stack.
    virtual void pushViewController(const std::shared_ptr<platform::ViewController>& viewController,
                                    bool animated) = 0;
    // The top page, or every page but the root, with the stack's animation.
    virtual void popViewControllerAnimated(bool animated) = 0;
    virtual void popToRootViewControllerAnimated(bool animated) = 0;
    // Drops every page but the top one, without animation.
    virtual void flush() = 0;
    // Empties the stack now, or when a tab transition involving it has ended.
    virtual void clean() = 0;
    // Pops to the newest page that can go back to, or holds, the tag.
    virtual void popToTag(const std::string& tag, bool animated) = 0;
    // Drops the history entries carrying any of the tags, and the pages left empty.
    virtual void popPagesWithTags(const std::vector<std::string>& tags, bool animated) = 0;
    // Nothing when the bar is already shown (hidden).
    virtual void showNavigationBarWithAnimation(MVBarAnimation animation,
                                                std::optional<double> speedFactor) = 0;
    virtual void hideNavigationBarWithAnimation(MVBarAnimation animation,
                                                std::optional<double> speedFactor) = 0;
    // The header web view opens the URL.
    virtual void setNavigationBarWithURL(const std::string& url) = 0;
    // Kept and applied to the interactive pop gesture.
    virtual void setPopGestureEnabled(bool enabled) = 0;
    // Delivers the event to the header web view.
    virtual void performEvent(const MVEvent& event) = 0;

    // The stack a view controller belongs to, as the platform answers a controller's
    // navigation controller: the nearest controller above it (its parent, the parent's
    // parent ...) that is a stack. Null when there is none.
    static std::shared_ptr<MVNavigationControllerInterface> navigationControllerOf(
        const platform::ViewController& viewController);

    // The target stack of a command: with an identifier, the default tab controller's
    // stack of that name (made when new); without one, the stack holding the web view.
    // When there is none (no default tab controller, no web view, a web view outside
    // every tab) the failure is logged and reported here and the answer is null.
    static std::shared_ptr<MVNavigationControllerInterface> sharedInstanceForIdentifier(
        const std::optional<std::string>& identifier, const std::shared_ptr<MVWebView>& webView);
};
