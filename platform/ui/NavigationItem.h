#pragma once
// What a view controller shows in a navigation bar: for now its title.

#include <string>

namespace platform {

class NavigationItem {
  public:
    const std::string& title() const { return title_; }
    void setTitle(std::string title) { title_ = std::move(title); }

  private:
    std::string title_;
};

}  // namespace platform
