#pragma once
// The platform's alert: a title, a message and buttons, the cancel button (when given)
// first. Shown alerts are held by the application until dismissed.
//
//   auto alert = platform::AlertView::create("This proxy type is not supported", {}, {}, "Ok");
//   alert->show();
//   ...
//   for (auto& a : platform::AlertView::shownAlerts()) a->pressButtonForTesting(0);
//
// The delegate (not owned) hears of a tap first (clicked), then of the dismissal (will,
// did); a dismissal by code reports only the dismissal. Subclasses may override the hooks
// of ButtonPresentation instead, and then call these to keep the delegate informed.
// Main thread only.

#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "platform/ui/ButtonPresentation.h"

namespace platform {

class AlertView;

class AlertViewDelegate {
  public:
    virtual ~AlertViewDelegate() = default;
    virtual void alertViewClickedButtonAtIndex(AlertView& alert, int index) {}
    virtual void alertViewWillDismissWithButtonIndex(AlertView& alert, int index) {}
    virtual void alertViewDidDismissWithButtonIndex(AlertView& alert, int index) {}
};

class AlertView : public ButtonPresentation {
  public:
    static std::shared_ptr<AlertView> create(std::optional<std::string> title,
                                             std::optional<std::string> message,
                                             std::weak_ptr<AlertViewDelegate> delegate = {},
                                             std::optional<std::string> cancelButtonTitle = {},
                                             std::vector<std::string> otherButtonTitles = {});

    // The alerts the application shows, oldest first.
    static std::vector<std::shared_ptr<AlertView>> shownAlerts();

    const std::optional<std::string>& title() const { return title_; }
    void setTitle(std::optional<std::string> title) { title_ = std::move(title); }
    const std::optional<std::string>& message() const { return message_; }
    void setMessage(std::optional<std::string> message) { message_ = std::move(message); }
    std::shared_ptr<AlertViewDelegate> delegate() const { return delegate_.lock(); }
    void setDelegate(std::weak_ptr<AlertViewDelegate> delegate) { delegate_ = std::move(delegate); }

    void show() { showPresentation(); }

  protected:
    AlertView(std::optional<std::string> title, std::optional<std::string> message,
              std::weak_ptr<AlertViewDelegate> delegate,
              std::optional<std::string> cancelButtonTitle,
              std::vector<std::string> otherButtonTitles);

    void clickedButtonAtIndex(int index) override;
    void willDismissWithButtonIndex(int index) override;
    void didDismissWithButtonIndex(int index) override;

  private:
    std::optional<std::string> title_;
    std::optional<std::string> message_;
    std::weak_ptr<AlertViewDelegate> delegate_;
};

}  // namespace platform
