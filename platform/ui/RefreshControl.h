#pragma once
// Pull to refresh: a control that sits above a scroll view's content (its top edge at the
// content's origin, as wide as the scroll view, 60 points high) and tells its
// value-changed actions when the user pulls far enough. beginRefreshing and
// endRefreshing, called by code, send no actions.
//
//   auto refresh = platform::RefreshControl::create();
//   scrollView->addSubview(refresh);
//   refresh->addTarget(self, "refreshControlDidChangeValue:", platform::kControlEventValueChanged,
//   ...); refresh->pullForTesting();   // refreshing, then the value-changed actions
//
// Main thread only.

#include <memory>

#include "platform/ui/Control.h"

namespace platform {

class RefreshControl : public Control {
  public:
    static constexpr double kHeight = 60;

    static std::shared_ptr<RefreshControl> create();

    bool isRefreshing() const { return refreshing_; }
    void beginRefreshing() { refreshing_ = true; }
    void endRefreshing() { refreshing_ = false; }

    // Sets the frame the platform gives the control in its scroll view; subclasses may
    // adjust it in setFrame.
    void layoutInScrollView();

    // The user's pull: on an enabled control that is not refreshing yet, refreshing
    // begins and the value-changed actions run. Answers whether it did.
    bool pullForTesting();

    void didMoveToSuperview() override;

  protected:
    RefreshControl();

  private:
    bool refreshing_ = false;
};

}  // namespace platform
