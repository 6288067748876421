#pragma once
// What a view controller shows in a navigation bar: its title, and the back button that
// leads to it from the controller above.

#include <optional>
#include <string>

namespace platform {

// A plain bar button item: only its title.
struct BarButtonItem {
    std::string title;
};

class NavigationItem {
  public:
    const std::string& title() const { return title_; }
    void setTitle(std::string title) { title_ = std::move(title); }

    // The back button the controller above shows for this item; none: the default one.
    const std::optional<BarButtonItem>& backBarButtonItem() const { return backBarButtonItem_; }
    void setBackBarButtonItem(std::optional<BarButtonItem> item) {
        backBarButtonItem_ = std::move(item);
    }
    // The text of that back button: the back item's title, else this item's title.
    const std::string& backButtonTitle() const {
        return backBarButtonItem_ ? backBarButtonItem_->title : title_;
    }

  private:
    std::string title_;
    std::optional<BarButtonItem> backBarButtonItem_;
};

}  // namespace platform
