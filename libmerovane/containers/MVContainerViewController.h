#pragma once
// The base of every container of the chain: it shows its content view controller's view
// inside its contentContainerView (as large as its own view and resizing with it), hands
// insets on to a content that takes them, and answers the status-bar questions from its
// own overlay while that is responsible for the status bar, else from its content, else
// from its fallback style.
//
//   class MVMenuBarController : public MVContainerViewController {
//     protected:
//       std::shared_ptr<MVStatusBarStyle> overlayStatusBarStyle() const override;
//   };
//   menuBar->setContentViewController(tabs);   // tabs' view now fills the container
//
// Whoever changes an answer calls ::setNeedsStatusBarAppearanceUpdate(Application::shared())
// (core/UIApplicationExtensions.h).
// Main thread only.

#include <memory>

#include "libmerovane/bridge/MVViewHierarchyDelegate.h"
#include "platform/ui/ViewController.h"

class MVStatusBarStyle;

// A container of the chain: it has one content view controller, or none.
class MVViewControllerHierarchization {
  public:
    virtual ~MVViewControllerHierarchization() = default;
    virtual std::shared_ptr<platform::ViewController> contentViewController() const = 0;
    virtual void setContentViewController(std::shared_ptr<platform::ViewController> content) = 0;
};

class MVContainerViewController : public platform::ViewController,
                                  public MVViewControllerHierarchization,
                                  public MVViewHierarchyDelegate {
  public:
    // The view that holds the content's view; loads the container's view.
    const std::shared_ptr<platform::View>& contentContainerView();

    std::shared_ptr<platform::ViewController> contentViewController() const override {
        return content_;
    }
    // Takes the previous content's view out, keeps the new content and adds its view to
    // the content container view. Null only removes.
    void setContentViewController(std::shared_ptr<platform::ViewController> content) override;

    // Handed to the content when it takes insets; dropped otherwise.
    void viewShouldAdjustInsets(const platform::EdgeInsets& insets, bool animated) override;

    platform::StatusBarStyle preferredStatusBarStyle() const override;
    bool prefersStatusBarHidden() const override;

  protected:
    MVContainerViewController() = default;

    // Makes the view and the content container view; an override calls this first.
    void loadView() override;

    // The style of an own overlay while that answers for the status bar; null otherwise.
    virtual std::shared_ptr<MVStatusBarStyle> overlayStatusBarStyle() const { return nullptr; }
    // The answer without overlay and content; the application default unless replaced.
    virtual std::shared_ptr<MVStatusBarStyle> fallbackStatusBarStyle() const;

  private:
    std::shared_ptr<platform::View> contentContainerView_;
    std::shared_ptr<platform::ViewController> content_;
};
