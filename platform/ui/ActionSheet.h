#pragma once
// The platform's action sheet: a title and buttons slid up from the bottom of a view.
// Numbering: the destructive button (when given) first, then the cancel button (when
// given), then the further buttons, those given at creation before those added later.
//
//   auto sheet = platform::ActionSheet::create("Share", delegate, "Cancel", "Delete", {});
//   sheet->addButtonWithTitle("Mail");   // index 2
//   sheet->showInView(window);
//
// Shown sheets are held by the application until dismissed; the delegate (not owned)
// hears of a tap first (clicked), then of the dismissal (will, did); a dismissal by code
// reports only the dismissal, as with AlertView. Main thread only.

#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "platform/ui/ButtonPresentation.h"

namespace platform {

class ActionSheet;
class View;

class ActionSheetDelegate {
  public:
    virtual ~ActionSheetDelegate() = default;
    virtual void actionSheetClickedButtonAtIndex(ActionSheet& sheet, int index) {}
    virtual void actionSheetWillDismissWithButtonIndex(ActionSheet& sheet, int index) {}
    virtual void actionSheetDidDismissWithButtonIndex(ActionSheet& sheet, int index) {}
};

class ActionSheet : public ButtonPresentation {
  public:
    static std::shared_ptr<ActionSheet> create(
        std::optional<std::string> title, std::weak_ptr<ActionSheetDelegate> delegate = {},
        std::optional<std::string> cancelButtonTitle = {},
        std::optional<std::string> destructiveButtonTitle = {},
        std::vector<std::string> otherButtonTitles = {});

    // The sheets the application shows, oldest first.
    static std::vector<std::shared_ptr<ActionSheet>> shownActionSheets();

    const std::optional<std::string>& title() const { return title_; }
    void setTitle(std::optional<std::string> title) { title_ = std::move(title); }
    std::shared_ptr<ActionSheetDelegate> delegate() const { return delegate_.lock(); }
    void setDelegate(std::weak_ptr<ActionSheetDelegate> delegate) {
        delegate_ = std::move(delegate);
    }
    // -1 when there is none.
    int destructiveButtonIndex() const { return destructiveButtonIndex_; }

    // A null view is logged and shows nothing.
    void showInView(const std::shared_ptr<View>& view);
    // The view it was last shown in, while that lives.
    std::shared_ptr<View> shownInView() const { return shownInView_.lock(); }

  protected:
    ActionSheet(std::optional<std::string> title, std::weak_ptr<ActionSheetDelegate> delegate,
                std::optional<std::string> cancelButtonTitle,
                std::optional<std::string> destructiveButtonTitle,
                std::vector<std::string> otherButtonTitles);

    void clickedButtonAtIndex(int index) override;
    void willDismissWithButtonIndex(int index) override;
    void didDismissWithButtonIndex(int index) override;

  private:
    std::optional<std::string> title_;
    std::weak_ptr<ActionSheetDelegate> delegate_;
    int destructiveButtonIndex_ = -1;
    std::weak_ptr<View> shownInView_;
};

}  // namespace platform
